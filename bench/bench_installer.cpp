// The product's installer as the whole-installation benchmark wants it: a
// large file (padding before the product, see bench/run_bench.py) that
// installs the product it carries and exits at once. It reads only its
// trailer and the product, by position, so its own size costs nothing; the
// trailer is the one of tools/standins/standin_trailer.h.

#include <windows.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

#include "files/layout.h"
#include "tools/standins/standin_trailer.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    using quorvane::standin::StandinTrailer;
    wchar_t own_path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, own_path, MAX_PATH);
    std::ifstream own(std::filesystem::path(own_path), std::ios::binary | std::ios::ate);
    const std::streamoff size = own.tellg();
    StandinTrailer trailer = {};
    if (!own || size < static_cast<std::streamoff>(sizeof trailer)) return 90;
    own.seekg(size - static_cast<std::streamoff>(sizeof trailer));
    own.read(reinterpret_cast<char*>(&trailer), sizeof trailer);
    if (!own || std::memcmp(trailer.magic, quorvane::standin::kTrailerMagic, sizeof trailer.magic) != 0) return 91;
    const auto product_size = static_cast<std::streamoff>(trailer.product_size);
    if (product_size > size - static_cast<std::streamoff>(sizeof trailer)) return 92;

    std::vector<char> product(static_cast<std::size_t>(product_size));
    own.seekg(size - static_cast<std::streamoff>(sizeof trailer) - product_size);
    own.read(product.data(), product_size);
    const std::filesystem::path program = quorvane::InstalledProgramPath();
    if (!own || program.empty()) return 94;
    std::error_code error;
    std::filesystem::create_directories(program.parent_path(), error);
    std::ofstream(program, std::ios::binary | std::ios::trunc).write(product.data(), product_size);
    return static_cast<int>(trailer.exit_code);
}
