// Test-time helper: finds the installer window through the window system and
// prints what X cannot tell without a window manager: the outer size the
// window was created with, its client size and the client area's origin on the
// screen; whether it is minimised, the foreground window and the frontmost
// one, and how many windows of its class exist. Waits up to the given number
// of seconds (default 20) for the window; "minimize" as the second argument
// first minimises it.
// Output: "outer=620x330 client=614x301 origin=3,26 iconic=0 foreground=1 front=1 windows=1";
// exit code 1 when no window appears.

#include <windows.h>

#include <cstdio>
#include <cwchar>

#include "ui/window_parameters.h"

namespace {

// The frontmost shown top-level window.
HWND FrontWindow() {
    HWND window = GetTopWindow(nullptr);
    while (window != nullptr && !IsWindowVisible(window)) window = GetWindow(window, GW_HWNDNEXT);
    return window;
}

BOOL CALLBACK CountInstallerWindow(HWND window, LPARAM count) {
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    if (std::wcscmp(name, quorvane::kWindowClassName) == 0) ++*reinterpret_cast<int*>(count);
    return TRUE;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const int seconds = argc > 1 ? static_cast<int>(std::wcstol(argv[1], nullptr, 10)) : 20;
    HWND window = nullptr;
    for (int tries = 0; tries < seconds * 10 && window == nullptr; ++tries) {
        window = FindWindowW(quorvane::kWindowClassName, quorvane::kWindowTitle);
        if (window == nullptr || !IsWindowVisible(window)) {
            window = nullptr;
            Sleep(100);
        }
    }
    if (window == nullptr) {
        std::puts("no window");
        return 1;
    }
    if (argc > 2 && std::wcscmp(argv[2], L"minimize") == 0) ShowWindow(window, SW_MINIMIZE);
    int windows = 0;
    EnumWindows(CountInstallerWindow, reinterpret_cast<LPARAM>(&windows));
    RECT outer = {}, client = {};
    GetWindowRect(window, &outer);
    GetClientRect(window, &client);
    POINT origin = {0, 0};
    ClientToScreen(window, &origin);
    std::printf("outer=%ldx%ld client=%ldx%ld origin=%ld,%ld iconic=%d foreground=%d front=%d "
                "windows=%d\n",
                outer.right - outer.left, outer.bottom - outer.top, client.right, client.bottom, origin.x, origin.y,
                IsIconic(window) ? 1 : 0, GetForegroundWindow() == window ? 1 : 0, FrontWindow() == window ? 1 : 0,
                windows);
    return 0;
}
