#include <windows.h>

#include <gtest/gtest.h>

#include <stdexcept>

#include "files/error_text.h"

namespace quorvane {
namespace {

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

}  // namespace
}  // namespace quorvane
