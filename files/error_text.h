#pragma once
// How a failure is told: a std::runtime_error whose message is UTF-8, either a
// fixed text alone or a fixed text with the system's error code after it.

#include <optional>
#include <string>

namespace quorvane {

// text + "（错误码 " + code + "）" [+ "：" + the system's description, untrimmed].
std::wstring ErrorTextWithCode(const std::wstring& text);
[[noreturn]] void ThrowWithErrorCode(const std::wstring& text);

// The message shape of ErrorTextWithCode for a given code and description.
std::wstring ComposeErrorText(const std::wstring& text, unsigned long code,
                              const std::optional<std::wstring>& description);

}  // namespace quorvane
