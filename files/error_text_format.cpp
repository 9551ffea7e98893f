#include "files/error_text.h"

namespace quorvane {

std::wstring ComposeErrorText(const std::wstring& text, unsigned long code,
                              const std::optional<std::wstring>& description) {
    std::wstring result = text;
    result += L"（错误码 ";
    result += std::to_wstring(code);
    result += L"）";
    if (description) {
        result += L"：";
        result += *description;
    }
    return result;
}

}  // namespace quorvane
