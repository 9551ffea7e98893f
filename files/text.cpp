#include "files/text.h"

#include <windows.h>

#include <stdexcept>

namespace quorvane {

std::wstring Utf8ToWide(const std::string& utf8) {
    if (utf8.empty()) return {};
    // Length -1: the input is read up to its first zero byte, and the count includes the terminator.
    const int count = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, nullptr, 0);
    if (count <= 0) throw std::runtime_error("MultiByteToWideChar failed");
    std::wstring wide(static_cast<size_t>(count), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, wide.data(), count);
    wide.resize(static_cast<size_t>(count) - 1);
    return wide;
}

std::string WideToUtf8(const std::wstring& wide) {
    if (wide.empty()) return {};
    const int count = WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
    if (count <= 0) throw std::runtime_error("WideCharToMultiByte failed");
    std::string utf8(static_cast<size_t>(count), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, utf8.data(), count, nullptr, nullptr);
    utf8.resize(static_cast<size_t>(count) - 1);
    return utf8;
}

}  // namespace quorvane
