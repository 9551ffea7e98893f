// Stand-in for the product's full installer: checks it was started with the
// silent switches, writes a log to the /LOG path, installs the product carried
// in its own file for the current user, records its command line and exits
// with the code its trailer names. A signed stand-in keeps its product and
// trailer just before its signature.

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "files/layout.h"
#include "files/signature_format.h"
#include "files/text.h"
#include "tools/standins/standin_trailer.h"

namespace {

namespace fs = std::filesystem;
using quorvane::standin::StandinTrailer;

std::vector<char> ReadOwnFile() {
    wchar_t own_path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, own_path, MAX_PATH);
    std::ifstream stream(fs::path(own_path), std::ios::binary);
    return std::vector<char>(std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>());
}

// The log path of ` /LOG="..."`, or empty.
std::wstring LogPathFrom(const std::wstring& command_line) {
    const std::wstring marker = L" /LOG=\"";
    const size_t start = command_line.find(marker);
    if (start == std::wstring::npos) return {};
    const size_t begin = start + marker.size();
    const size_t end = command_line.find(L'"', begin);
    return end == std::wstring::npos ? std::wstring() : command_line.substr(begin, end - begin);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    const std::wstring command_line = GetCommandLineW();
    const std::wstring log_path = LogPathFrom(command_line);
    std::ofstream log;
    if (!log_path.empty()) log.open(fs::path(log_path), std::ios::binary | std::ios::trunc);
    log << "command line: " << quorvane::WideToUtf8(command_line) << "\n";

    std::vector<char> own = ReadOwnFile();
    const auto table = quorvane::LocateCertificateTable(reinterpret_cast<const unsigned char*>(own.data()),
                                                        std::min(own.size(), quorvane::kExecutableHeadersSize),
                                                        own.size());
    if (table.state == quorvane::CertificateTableState::Present) own.resize(table.offset);
    StandinTrailer trailer = {};
    if (own.size() < sizeof trailer) return 90;
    std::memcpy(&trailer, own.data() + own.size() - sizeof trailer, sizeof trailer);
    if (std::memcmp(trailer.magic, quorvane::standin::kTrailerMagic, sizeof trailer.magic) != 0) return 91;
    if (trailer.product_size > own.size() - sizeof trailer) return 92;

    const wchar_t* switches[] = {L"/SP-", L"/CURRENTUSER", L"/VERYSILENT", L"/SUPPRESSMSGBOXES", L"/NORESTART",
                                 L"/CLOSEAPPLICATIONS"};
    for (const wchar_t* expected : switches) {
        if (command_line.find(expected) == std::wstring::npos) {
            log << "missing switch " << quorvane::WideToUtf8(expected) << "\n";
            return 93;
        }
    }
    Sleep(trailer.run_milliseconds);

    const fs::path program = quorvane::InstalledProgramPath();
    const fs::path data = quorvane::ProductDataFolder();
    if (program.empty()) return 94;
    std::error_code error;
    fs::create_directories(program.parent_path(), error);
    // A variant without a product installs nothing but still succeeds.
    if (trailer.product_size > 0) {
        std::ofstream product(program, std::ios::binary | std::ios::trunc);
        const char* begin = own.data() + own.size() - sizeof trailer - trailer.product_size;
        product.write(begin, static_cast<std::streamsize>(trailer.product_size));
        if (!product) return 95;
    }
    std::ofstream(data / L"installer-command-line.txt", std::ios::binary | std::ios::trunc)
        << quorvane::WideToUtf8(command_line);
    log << "installed " << program.string() << "\nexit code " << trailer.exit_code << "\n";
    return static_cast<int>(trailer.exit_code);
}
