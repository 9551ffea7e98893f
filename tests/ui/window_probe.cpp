// Test-time helper: finds the installer window through the window system and
// prints what X cannot tell without a window manager: the outer size the
// window was created with, its client size and the client area's origin on the
// screen; whether it is minimised, the foreground window and the frontmost
// one, and how many windows of its class exist. Waits up to the given number
// of seconds (default 20) for the window; "minimize" as the second argument
// first minimises it.
// Output: "outer=620x330 client=614x301 origin=3,26 iconic=0 foreground=1 front=1 windows=1";
// exit code 1 when no window appears.
//
// "hold" as the only argument plays a copy that owns the session's run but
// shows no window: it takes the run's mutex, prints "holding", waits up to 30 s
// for a message box with the window's title and prints "box TEXT" (its static
// texts, UTF-8) or "no box", then holds on until that box is gone.

#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "files/text.h"
#include "ui/single_instance.h"
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

BOOL CALLBACK AppendStaticText(HWND child, LPARAM texts) {
    wchar_t name[16] = {};
    wchar_t text[512] = {};
    GetClassNameW(child, name, 16);
    if (_wcsicmp(name, L"Static") == 0 && GetWindowTextW(child, text, 512) > 0) {
        *reinterpret_cast<std::wstring*>(texts) += text;
    }
    return TRUE;
}

HWND WaitForMessageBox(int seconds) {
    for (int tries = 0; tries < seconds * 10; ++tries) {
        const HWND box = FindWindowW(L"#32770", quorvane::kWindowTitle);
        if (box != nullptr) return box;
        Sleep(100);
    }
    return nullptr;
}

int HoldSessionRun() {
    const auto run = quorvane::ClaimSessionRun();
    if (!run) {
        std::puts("not claimed");
        return 1;
    }
    std::puts("holding");
    std::fflush(stdout);
    const HWND box = WaitForMessageBox(30);
    if (box == nullptr) {
        std::puts("no box");
        return 1;
    }
    std::wstring texts;
    EnumChildWindows(box, AppendStaticText, reinterpret_cast<LPARAM>(&texts));
    std::printf("box %s\n", quorvane::WideToUtf8(texts).c_str());
    std::fflush(stdout);
    for (int tries = 0; tries < 300 && IsWindow(box); ++tries) Sleep(100);
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc == 2 && std::wcscmp(argv[1], L"hold") == 0) return HoldSessionRun();
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
