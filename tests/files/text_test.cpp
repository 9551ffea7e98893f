#include <windows.h>

#include <gtest/gtest.h>

#include <stdexcept>

#include "files/text.h"

namespace quorvane {
namespace {

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
}

TEST(TextConversion, IllFormedUtf8BecomesReplacementCharacter) {
    EXPECT_EQ(Utf8ToWide("a\x80" "b"), L"a\xFFFD" L"b");
}

TEST(ErrorText, CodeWithSystemDescriptionKeepsTrailingLineBreak) {
    SetLastError(ERROR_ACCESS_DENIED);
    const std::wstring text = ErrorTextWithCode(L"无法打开文件");
    const std::wstring head = L"无法打开文件（错误码 5）：";
    ASSERT_GT(text.size(), head.size()) << "no description was appended";
    EXPECT_EQ(text.substr(0, head.size()), head);
    EXPECT_EQ(text.substr(text.size() - 2), L"\r\n") << "the description must not be trimmed";
}

TEST(ErrorText, CodeWithoutDescriptionEndsWithParenthesis) {
    SetLastError(0x2A7B9C1Du);
    EXPECT_EQ(ErrorTextWithCode(L"下载失败"), L"下载失败（错误码 712743965）");
}

TEST(ErrorText, ThrowCarriesUtf8MessageOfTheCallersCode) {
    SetLastError(0x2A7B9C1Du);
    try {
        ThrowWithErrorCode(L"无法取得临时目录");
        FAIL() << "ThrowWithErrorCode returned";
    } catch (const std::runtime_error& failure) {
        EXPECT_EQ(std::string(failure.what()), "无法取得临时目录（错误码 712743965）");
    }
}

TEST(JsonEscapeTest, EscapesTheFiveCharactersAndNothingElse) {
    EXPECT_EQ(JsonEscape("\t\n\r\"\\"), "\\t\\n\\r\\\"\\\\");
    EXPECT_EQ(JsonEscape("\x01/ü号段"), "\x01/ü号段");
}

}  // namespace
}  // namespace quorvane
