#include "files/error_text.h"

#include <windows.h>

#include <stdexcept>

#include "files/text.h"

namespace quorvane {

std::wstring ErrorTextWithCode(const std::wstring& text) {
    // Read first: anything below may change the thread's last-error value.
    const DWORD code = GetLastError();
    wchar_t* buffer = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM, nullptr, code,
        0x400, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::optional<std::wstring> description;
    if (length > 0 && buffer != nullptr) description.emplace(buffer, length);
    if (buffer != nullptr) LocalFree(buffer);
    return ComposeErrorText(text, code, description);
}

void ThrowWithErrorCode(const std::wstring& text) {
    throw std::runtime_error(WideToUtf8(ErrorTextWithCode(text)));
}

}  // namespace quorvane
