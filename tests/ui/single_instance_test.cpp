#include "ui/single_instance.h"

#include <gtest/gtest.h>

#include <atomic>
#include <optional>
#include <thread>

#include "ui/window_parameters.h"

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

using UniqueWindow = UniqueHandle<HWND, DestroyWindow>;

// A first copy still starting when the second one looks: its window shows a
// second later. The second copy must wait for it and hand over, not tell the
// user that no window showed.
TEST(SessionRunTest, ASecondCopyWaitsForAWindowThatShowsLate) {
    ASSERT_EQ(FindWindowW(kWindowClassName, nullptr), nullptr);
    std::atomic<bool> second_copy_ended{false};
    std::thread first([&second_copy_ended] {
        Sleep(1000);
        WNDCLASSW window_class{};
        window_class.lpfnWndProc = DefWindowProcW;
        window_class.lpszClassName = kWindowClassName;
        RegisterClassW(&window_class);
        const UniqueWindow window(CreateWindowExW(0, kWindowClassName, kWindowTitle, WS_POPUP | WS_VISIBLE, 0, 0,
                                                  40, 40, nullptr, nullptr, nullptr, nullptr));
        while (!second_copy_ended.load()) {
            MSG message;
            while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
            // A copy that gave up shows its message: closed here, so that the test ends.
            const HWND box = FindWindowW(L"#32770", kWindowTitle);
            if (box != nullptr) PostMessageW(box, WM_COMMAND, IDOK, 0);
            Sleep(20);
        }
    });
    const int exit_code = ShowRunningCopy();
    second_copy_ended.store(true);
    first.join();
    EXPECT_EQ(exit_code, 0) << "the second copy gave up before the first copy's window showed, a second late";
}

}  // namespace
}  // namespace quorvane
