// Test-time helper: finds the installer window through the window system and
// prints what X cannot tell without a window manager: the outer size the
// window was created with, its client size and the client area's origin on the
// screen. Waits up to the given number of seconds (default 20) for the window.
// Output: "outer=620x330 client=614x301 origin=3,26"; exit code 1 when no window appears.

#include <windows.h>

#include <cstdio>
#include <cwchar>

#include "ui/window_parameters.h"

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
    RECT outer = {}, client = {};
    GetWindowRect(window, &outer);
    GetClientRect(window, &client);
    POINT origin = {0, 0};
    ClientToScreen(window, &origin);
    std::printf("outer=%ldx%ld client=%ldx%ld origin=%ld,%ld\n", outer.right - outer.left, outer.bottom - outer.top,
                client.right, client.bottom, origin.x, origin.y);
    return 0;
}
