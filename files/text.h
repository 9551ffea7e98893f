#pragma once
// UTF-8 for JSON, digests and failure messages; UTF-16 for window texts, paths
// and wide Windows calls.

#include <string>

namespace quorvane {

std::wstring Utf8ToWide(const std::string& utf8);
std::string WideToUtf8(const std::wstring& wide);

// Escapes backslash, double quote, line feed, carriage return and tab; every
// other byte is copied unchanged.
std::string JsonEscape(const std::string& utf8);

}  // namespace quorvane
