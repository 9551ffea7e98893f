#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "files/error_text.h"
#include "files/text.h"

namespace quorvane {
namespace {

std::string Units(const std::wstring& wide) {
    std::string shown;
    for (const wchar_t unit : wide) shown += " " + std::to_string(static_cast<unsigned long>(unit));
    return shown;
}

TEST(TextConversion, EmptyStaysEmptyBothWays) {
    EXPECT_EQ(Utf8ToWide(""), L"");
    EXPECT_EQ(WideToUtf8(L""), "");
}

TEST(TextConversion, RoundTripsChineseAndStopsAtZero) {
    const std::string chinese = "澜岫 安装";
    EXPECT_EQ(Utf8ToWide(chinese), L"澜岫 安装");
    EXPECT_EQ(WideToUtf8(L"澜岫 安装"), chinese);
    EXPECT_EQ(Utf8ToWide(std::string("ab\0cd", 5)), L"ab");
    EXPECT_EQ(WideToUtf8(std::wstring(L"ab\0cd", 5)), "ab");
    EXPECT_EQ(Utf8ToWide(std::string("\0x", 2)), L"");
    EXPECT_EQ(Utf8ToWide("\xF0\x9F\x98\x80"), L"\U0001F600") << "a character beyond U+FFFF";
    EXPECT_EQ(WideToUtf8(L"\U0001F600"), "\xF0\x9F\x98\x80");
    EXPECT_EQ(Utf8ToWide("\xF4\x8F\xBF\xBF"), L"\U0010FFFF");
    // The first and last code points of each sequence length, both ways.
    const std::string edges = "\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF\xF0\x90\x80\x80";
    const std::wstring wide_edges = L"\x7F\x80\x7FF\x800\xFFFF\U00010000";
    EXPECT_EQ(Utf8ToWide(edges), wide_edges) << Units(Utf8ToWide(edges));
    EXPECT_EQ(WideToUtf8(wide_edges), edges);
}

TEST(TextConversion, IllFormedUtf8BecomesReplacementCharacters) {
    const struct {
        const char* utf8;
        const wchar_t* wide;
    } cases[] = {
        {"a\x80" "b", L"a\xFFFD" L"b"},                    // a continuation byte alone
        {"\x80\x80", L"\xFFFD\xFFFD"},
        {"a\xE6\xBE" "b", L"a\xFFFD" L"b"},                // a sequence cut short is replaced once
        {"a\xF0\x9F\x98" "b", L"a\xFFFD" L"b"},
        {"a\xE6\xBE", L"a\xFFFD"},                         // ... also at the end
        {"\xC2", L"\xFFFD"},
        {"\xE6" "A\xBE" "b", L"\xFFFD" L"A\xFFFD" L"b"},  // the byte that cuts it is read again
        {"\xF0\x9F" "A" "b", L"\xFFFD" L"Ab"},
        {"a\xC0\xAF" "b", L"a\xFFFD\xFFFD" L"b"},          // C0, C1, F5 to FF never begin a sequence
        {"\xC1\xBF", L"\xFFFD\xFFFD"},
        {"a\xF5\x80\x80\x80" "b", L"a\xFFFD\xFFFD\xFFFD\xFFFD" L"b"},
        {"a\xFF" "b", L"a\xFFFD" L"b"},
        {"a\xE0\x80\xAF" "b", L"a\xFFFD\xFFFD" L"b"},      // overlong: known at the second byte
        {"\xF0\x80\x80\x80" "b", L"\xFFFD\xFFFD\xFFFD" L"b"},
        {"a\xED\xA0\x80" "b", L"a\xFFFD\xFFFD" L"b"},      // an encoded surrogate
        {"a\xF4\x90\x80\x80" "b", L"a\xFFFD\xFFFD\xFFFD" L"b"},  // beyond U+10FFFF
    };
    for (const auto& entry : cases) {
        const std::wstring actual = Utf8ToWide(entry.utf8);
        EXPECT_EQ(actual, entry.wide) << ::testing::PrintToString(std::string(entry.utf8)) << " gave" << Units(actual);
    }
}

TEST(TextConversion, UnpairedSurrogatesBecomeReplacementCharacters) {
    // Where wchar_t holds whole code points a surrogate is never part of a pair.
    const std::wstring lone = std::wstring(L"a") + static_cast<wchar_t>(0xD800) + L"b";
    EXPECT_EQ(WideToUtf8(lone), "a\xEF\xBF\xBD" "b");
    const std::wstring trailing = std::wstring(L"a") + static_cast<wchar_t>(0xDC00);
    EXPECT_EQ(WideToUtf8(trailing), "a\xEF\xBF\xBD");
}

TEST(ErrorText, ShapeWithAndWithoutDescription) {
    EXPECT_EQ(ComposeErrorText(L"下载失败", 12029, std::nullopt), L"下载失败（错误码 12029）");
    EXPECT_EQ(ComposeErrorText(L"下载失败", 4294967295ul, L"无法连接\r\n"), L"下载失败（错误码 4294967295）：无法连接\r\n");
}

TEST(JsonEscapeTest, EscapesTheFiveCharactersAndNothingElse) {
    EXPECT_EQ(JsonEscape("\t\n\r\"\\"), "\\t\\n\\r\\\"\\\\");
    EXPECT_EQ(JsonEscape("\x01/ü号段"), "\x01/ü号段");
    EXPECT_EQ(JsonEscape(std::string("a\0b", 3)), std::string("a\0b", 3)) << "a zero byte is copied, not an end";
}

}  // namespace
}  // namespace quorvane
