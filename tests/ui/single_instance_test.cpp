#include "ui/single_instance.h"

#include <gtest/gtest.h>

#include <optional>
#include <thread>

namespace quorvane {
namespace {

// A name of the tests' own, so that a real copy of the program in the same
// prefix is never in the way.
constexpr const wchar_t* kTestMutexName = L"Local\\QuorvaneSoft.QuorvaneOnlineSetup.Run.Test";

// A claim made on a thread that then ends, as a copy's main thread does when
// its process ends; the handle stays open here.
std::optional<MutexHandle> ClaimOnThreadThatEnds() {
    std::optional<MutexHandle> claim;
    std::thread([&claim] { claim = ClaimSessionRun(kTestMutexName); }).join();
    return claim;
}

TEST(SessionRunTest, NoSecondClaimWhileTheFirstOwnerLives) {
    const auto first = ClaimSessionRun(kTestMutexName);
    ASSERT_TRUE(first.has_value() && *first);
    EXPECT_FALSE(ClaimOnThreadThatEnds().has_value()) << "a second copy claimed the run while the first owns it";
}

TEST(SessionRunTest, AnAbandonedClaimIsFree) {
    // The mutex outlives the owner that died without releasing it, as it does
    // while a second copy still holds a handle to it.
    const auto dead = ClaimOnThreadThatEnds();
    ASSERT_TRUE(dead.has_value() && *dead);
    const auto next = ClaimOnThreadThatEnds();
    EXPECT_TRUE(next.has_value() && *next) << "the mutex of a dead copy kept the next copy from running";
}

}  // namespace
}  // namespace quorvane
