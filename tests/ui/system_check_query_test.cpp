#include "ui/system_check.h"

#include <gtest/gtest.h>

namespace quorvane {
namespace {

// The test prefix reports Windows 10 (10.0.18362); the query must see through
// to it rather than fail and count the system as supported by default.
TEST(QueryWindowsVersion, ReadsTheRunningSystem) {
    const auto version = QueryWindowsVersion();
    ASSERT_TRUE(version.has_value());
    EXPECT_GE(version->major, 6u);
    EXPECT_GT(version->build, 0u);
}

}  // namespace
}  // namespace quorvane
