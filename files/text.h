#pragma once
// UTF-8 for JSON, digests and failure messages; UTF-16 for window texts, paths
// and wide Windows calls. Failures are std::runtime_error with a UTF-8 message.

#include <optional>
#include <string>

namespace quorvane {

std::wstring Utf8ToWide(const std::string& utf8);
std::string WideToUtf8(const std::wstring& wide);

// text + "（错误码 " + code + "）" [+ "：" + the system's description, untrimmed].
std::wstring ErrorTextWithCode(const std::wstring& text);
[[noreturn]] void ThrowWithErrorCode(const std::wstring& text);

// The message shape of ErrorTextWithCode for a given code and description.
std::wstring ComposeErrorText(const std::wstring& text, unsigned long code,
                              const std::optional<std::wstring>& description);

// Escapes backslash, double quote, line feed, carriage return and tab; every
// other byte is copied unchanged.
std::string JsonEscape(const std::string& utf8);

}  // namespace quorvane
