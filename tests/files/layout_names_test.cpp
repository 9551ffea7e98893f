#include <gtest/gtest.h>

#include "files/layout.h"

namespace quorvane {
namespace {

TEST(LocalNames, InstallerFileNameReplacesOnlyFourCharacters) {
    EXPECT_EQ(InstallerFileName(L"1.2.3+45"), L"QuorvaneSetup_1.2.3_45.exe");
    EXPECT_EQ(InstallerFileName(L"2024/01:beta"), L"QuorvaneSetup_2024_01_beta.exe");
    EXPECT_EQ(InstallerFileName(L"a\\b"), L"QuorvaneSetup_a_b.exe");
    EXPECT_EQ(InstallerFileName(L"3*x 版"), L"QuorvaneSetup_3*x 版.exe");
}

TEST(LocalNames, JoinAddsOneSeparatorOnly) {
    EXPECT_EQ(JoinPath(L"C:\\Temp\\", L"x"), L"C:\\Temp\\x");
    EXPECT_EQ(JoinPath(L"C:\\Temp", L"x"), L"C:\\Temp\\x");
}

}  // namespace
}  // namespace quorvane
