#include "net/transfer_rules.h"

#include <gtest/gtest.h>

namespace quorvane {
namespace {

TEST(MemoryCapTest, AcceptsExactlyOneMebibyte) {
    EXPECT_TRUE(FitsMemoryCap(0, 1048576));
    EXPECT_TRUE(FitsMemoryCap(1048575, 1));
    EXPECT_FALSE(FitsMemoryCap(1048576, 1));
    EXPECT_FALSE(FitsMemoryCap(0, 1048577));
    EXPECT_FALSE(FitsMemoryCap(1048576, 0xFFFFFFFFu));
}

TEST(DownloadPercentTest, FollowsTheFormulaForKnownAndUnknownLength) {
    const struct {
        int start, end;
        std::uint64_t received, total;
        int expected;
    } rows[] = {
        // Known length: start + span * received / total, truncated.
        {20, 68, 500000, 1000000, 44},
        {20, 68, 1000000, 1000000, 68},
        {20, 68, 20833, 1000000, 20},  // 0.99984 of a point
        {20, 68, 20834, 1000000, 21},
        {20, 68, 999999, 1000000, 67},
        // More than announced (a decoded body): stops at the end.
        {20, 68, 5000000, 1000000, 68},
        {20, 68, 0xFFFFFFFFFFull, 1, 68},
        // Unknown length: one point per 512 KiB, below the end.
        {86, 94, 524287, 0, 86},
        {86, 94, 1048576, 0, 88},
        {86, 94, 3670015, 0, 92},
        {86, 94, 3670016, 0, 93},
        {86, 94, 1ull << 40, 0, 93},
        {86, 86, 1ull << 30, 0, 86},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(DownloadPercent(row.start, row.end, row.received, row.total), row.expected)
            << row.start << " to " << row.end << ", " << row.received << " of " << row.total;
    }
}

}  // namespace
}  // namespace quorvane
