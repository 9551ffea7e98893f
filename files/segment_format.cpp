#include "files/segment_files.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cwctype>
#include <limits>
#include <optional>
#include <string_view>

#include "files/text.h"

namespace quorvane {
namespace {

std::wstring_view Trimmed(std::wstring_view text) {
    while (!text.empty() && std::iswspace(text.front())) text.remove_prefix(1);
    while (!text.empty() && std::iswspace(text.back())) text.remove_suffix(1);
    return text;
}

// The whole text as a signed decimal number with an optional sign, saturating
// beyond 64 bits; nothing when any character is left unread. Empty reads as 0.
std::optional<std::int64_t> WholeNumber(std::wstring_view text) {
    if (text.empty()) return 0;
    const bool negative = text.front() == L'-';
    if (text.front() == L'+' || text.front() == L'-') text.remove_prefix(1);
    if (text.empty()) return std::nullopt;
    // 2^63 is the magnitude of the smallest value; larger magnitudes stop there.
    constexpr std::uint64_t kLimit = std::uint64_t{1} << 63;
    std::uint64_t magnitude = 0;
    for (const wchar_t character : text) {
        if (character < L'0' || character > L'9') return std::nullopt;
        const auto digit = static_cast<std::uint64_t>(character - L'0');
        magnitude = magnitude > (kLimit - digit) / 10 ? kLimit : magnitude * 10 + digit;
    }
    if (negative) {
        return magnitude == kLimit ? std::numeric_limits<std::int64_t>::min() : -static_cast<std::int64_t>(magnitude);
    }
    return magnitude >= kLimit ? std::numeric_limits<std::int64_t>::max() : static_cast<std::int64_t>(magnitude);
}

wchar_t FoldAsciiCase(wchar_t character) {
    return character >= L'A' && character <= L'Z' ? static_cast<wchar_t>(character - L'A' + L'a') : character;
}

// A character's place in UTF-16 code unit order. Where wchar_t holds whole code
// points, those beyond U+FFFF (a surrogate pair in UTF-16) must still sort below
// U+E000 to U+FFFF; with 16-bit units this keeps the order of the units.
std::uint32_t Utf16Order(wchar_t character) {
    const auto value = static_cast<std::uint32_t>(character);
    return value >= 0xE000 && value <= 0xFFFF ? value + 0x110000 : value;
}

int CompareTextIgnoringAsciiCase(std::wstring_view a, std::wstring_view b) {
    const std::size_t common = std::min(a.size(), b.size());
    for (std::size_t index = 0; index < common; ++index) {
        const std::uint32_t left = Utf16Order(FoldAsciiCase(a[index]));
        const std::uint32_t right = Utf16Order(FoldAsciiCase(b[index]));
        if (left != right) return left < right ? -1 : 1;
    }
    if (a.size() == b.size()) return 0;
    return a.size() < b.size() ? -1 : 1;
}

std::string QuotedLine(const char* key, const std::string& escaped_value, const char* ending) {
    return std::string("  \"") + key + "\": \"" + escaped_value + '"' + ending;
}

std::string NumberLine(const char* key, std::uint64_t value) {
    return std::string("  \"") + key + "\": " + std::to_string(value) + ",\n";
}

}  // namespace

int CompareVersions(const std::wstring& a, const std::wstring& b) {
    const std::wstring_view left = Trimmed(a);
    const std::wstring_view right = Trimmed(b);
    const std::optional<std::int64_t> left_number = WholeNumber(left);
    const std::optional<std::int64_t> right_number = WholeNumber(right);
    if (left_number && right_number) {
        if (*left_number == *right_number) return 0;
        return *left_number < *right_number ? -1 : 1;
    }
    return CompareTextIgnoringAsciiCase(left, right);
}

std::string FormatUtcTimestamp(const UtcTime& time) {
    char buffer[64] = {};
    std::snprintf(buffer, sizeof buffer, "%04u-%02u-%02uT%02u:%02u:%02u.%03uZ", time.year, time.month, time.day,
                  time.hour, time.minute, time.second, time.millisecond);
    return buffer;
}

std::string ComposeLocalSegmentRecord(const SegmentManifest& manifest, const std::string& downloaded_at) {
    std::string record = "{\n";
    record += QuotedLine("version", JsonEscape(WideToUtf8(manifest.version)), ",\n");
    record += QuotedLine("format", JsonEscape(manifest.format), ",\n");
    record += NumberLine("schema_version", manifest.schema_version);
    record += NumberLine("rows", manifest.rows);
    record += QuotedLine("url", JsonEscape(WideToUtf8(manifest.url)), ",\n");
    record += QuotedLine("sha256", JsonEscape(manifest.sha256), ",\n");
    record += QuotedLine("downloaded_at", downloaded_at, "\n");
    record += "}\n";
    return record;
}

}  // namespace quorvane
