#include "ui/single_instance.h"

#include "ui/window_parameters.h"

namespace quorvane {
namespace {

constexpr DWORD kWindowWaitMilliseconds = 2000;
// A second copy that could not hand over: nothing of the run was shown.
constexpr int kNoRunningWindowExitCode = 1;
constexpr DWORD kWindowPollMilliseconds = 50;

HWND WaitForShownWindow() {
    for (DWORD waited = 0;; waited += kWindowPollMilliseconds) {
        const HWND window = FindWindowW(kWindowClassName, nullptr);
        if (window != nullptr && IsWindowVisible(window)) return window;
        if (waited >= kWindowWaitMilliseconds) return nullptr;
        Sleep(kWindowPollMilliseconds);
    }
}

}  // namespace

std::optional<MutexHandle> ClaimSessionRun(const wchar_t* mutex_name) {
    // Not created owned: whether the mutex existed says nothing about a live
    // copy (a dead copy's mutex lives on while any other process still has a
    // handle to it); only a successful wait makes this the one run.
    MutexHandle mutex(CreateMutexW(nullptr, FALSE, mutex_name));
    if (!mutex) {
        // The name exists with a security descriptor this process may not
        // open, as for a copy started elevated.
        if (GetLastError() == ERROR_ACCESS_DENIED) return std::nullopt;
        return MutexHandle();
    }
    const DWORD wait = WaitForSingleObject(mutex.get(), 0);
    if (wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED) return mutex;
    return std::nullopt;
}

int ShowRunningCopy() {
    const HWND window = WaitForShownWindow();
    if (window == nullptr) {
        // The first copy hangs before its window, or another program holds
        // the name: ending in silence would look like a start that did nothing.
        MessageBoxW(nullptr, kAlreadyRunningText, kWindowTitle, MB_ICONINFORMATION);
        return kNoRunningWindowExitCode;
    }
    // Asynchronous, so that a first copy that does not answer cannot keep
    // this one from ending.
    if (IsIconic(window)) ShowWindowAsync(window, SW_RESTORE);
    // Raised as well: under Wine, activation from another process leaves the
    // window behind the ones in front of it.
    SetWindowPos(window, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE | SWP_ASYNCWINDOWPOS);
    SetForegroundWindow(window);
    return 0;
}

}  // namespace quorvane
