// Stand-in for the installed product: records that it started, with its
// working folder and command line, beside itself, then ends.

#include <windows.h>

#include <filesystem>
#include <fstream>

#include "files/text.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    wchar_t own_path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, own_path, MAX_PATH);
    const std::filesystem::path record = std::filesystem::path(own_path).parent_path() / L"product-started.txt";
    std::ofstream stream(record, std::ios::binary | std::ios::app);
    stream << "working folder: " << quorvane::WideToUtf8(std::filesystem::current_path().wstring()) << "\n"
           << "command line: " << quorvane::WideToUtf8(GetCommandLineW()) << "\n";
    return stream ? 0 : 1;
}
