#include "ui/startup.h"

#include <commctrl.h>

#include "files/system_function.h"
#include "pipeline/progress_post.h"
#include "ui/display_state.h"
#include "ui/window.h"
#include "ui/window_parameters.h"

namespace quorvane {

static_assert(kWindowStyle == (WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX));
static_assert(kWindowExtendedStyle == WS_EX_APPWINDOW);

namespace {

constexpr WORD kApplicationIconId = 1;

}  // namespace

void LimitDllSearchToSystem32() {
    using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);
    const auto set_default_dll_directories =
        FindSystemFunction<SetDefaultDllDirectoriesFunction>(L"kernel32.dll", "SetDefaultDllDirectories");
    if (set_default_dll_directories != nullptr) set_default_dll_directories(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

void InitializeCommonControls() {
    INITCOMMONCONTROLSEX controls = {};
    controls.dwSize = sizeof(controls);
    controls.dwICC = ICC_PROGRESS_CLASS;
    InitCommonControlsEx(&controls);
}

void RegisterInstallerWindowClass(HINSTANCE instance) {
    WNDCLASSEXW window_class = {};
    window_class.cbSize = sizeof(window_class);
    window_class.lpfnWndProc = InstallerWindowProc;
    window_class.hInstance = instance;
    window_class.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(kApplicationIconId));
    window_class.hIconSm = window_class.hIcon;
    window_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    window_class.lpszClassName = kWindowClassName;
    RegisterClassExW(&window_class);
}

HWND CreateInstallerWindow(HINSTANCE instance) {
    const HWND window = CreateWindowExW(kWindowExtendedStyle, kWindowClassName, kWindowTitle, kWindowStyle,
                                        CW_USEDEFAULT, CW_USEDEFAULT, kWindowWidth,
                                        WindowOuterHeight(display_state.state), nullptr, nullptr, instance, nullptr);
    // The creation handling has stored the same handle before it started the
    // worker, which may already be reading it: write only what is missing, so
    // that the main thread never writes while the worker reads.
    if (main_window != window) main_window = window;
    return window;
}

void ShowWindowCreationFailure() {
    MessageBoxW(nullptr, kWindowCreationFailedText, kWindowTitle, MB_ICONERROR);
}

int RunMessageLoop() {
    MSG message = {};
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return static_cast<int>(message.wParam);
}

}  // namespace quorvane
