#include "ui/startup.h"

#include <commctrl.h>
#include <delayimp.h>

#include <cstring>

#include "files/system_function.h"
#include "report/progress_post.h"
#include "ui/bench_marks.h"
#include "ui/display_state.h"
#include "ui/gdiplus_session.h"
#include "ui/single_instance.h"
#include "ui/system_check.h"
#include "ui/window.h"
#include "ui/window_parameters.h"

namespace quorvane {

static_assert(kWindowStyle == (WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX));
static_assert(kWindowExtendedStyle == WS_EX_APPWINDOW);

namespace {

constexpr WORD kApplicationIconId = 1;

// Loads a delay-loaded DLL from System32 by its full path, so that no search
// order can offer a planted copy. The common controls are the exception: the
// application manifest redirects them to the side-by-side version 6, which a
// load by path would bypass, and that redirection is consulted before any
// folder is searched.
// Where the loader knows LOAD_LIBRARY_SEARCH_SYSTEM32 (Windows 8, or Windows 7
// with KB2533623, which added AddDllDirectory with it), the DLL's own
// dependents are searched in System32 too; elsewhere the altered search order
// starts in the DLL's own folder, System32.
DWORD FullPathLoadFlags() {
    using AddDllDirectoryFunction = void*(WINAPI*)(const wchar_t*);
    return FindSystemFunction<AddDllDirectoryFunction>(L"kernel32.dll", "AddDllDirectory") != nullptr
               ? LOAD_LIBRARY_SEARCH_SYSTEM32
               : LOAD_WITH_ALTERED_SEARCH_PATH;
}

FARPROC WINAPI LoadDelayedDllFromSystem32(unsigned notification, PDelayLoadInfo load) noexcept {
    if (notification != dliNotePreLoadLibrary || load == nullptr || load->szDll == nullptr) return nullptr;
    if (_stricmp(load->szDll, "comctl32.dll") == 0) return nullptr;
    wchar_t path[MAX_PATH] = {};
    const UINT folder = GetSystemDirectoryW(path, MAX_PATH);
    const std::size_t name = std::strlen(load->szDll);
    HMODULE module = nullptr;
    if (folder != 0 && folder + 1 + name < MAX_PATH) {
        path[folder] = L'\\';
        // System DLL names are ASCII.
        for (std::size_t index = 0; index <= name; ++index) {
            path[folder + 1 + index] = static_cast<unsigned char>(load->szDll[index]);
        }
        module = LoadLibraryExW(path, nullptr, FullPathLoadFlags());
    }
    if (module == nullptr) {
        // Never fall back to a search by name, also when the path does not
        // fit: fail as a missing DLL fails.
        ULONG_PTR argument = reinterpret_cast<ULONG_PTR>(load);
        RaiseException(VcppException(ERROR_SEVERITY_ERROR, ERROR_MOD_NOT_FOUND), 0, 1, &argument);
    }
    return reinterpret_cast<FARPROC>(module);
}

}  // namespace

// Read by the delay-load helper before each DLL it loads; MSVC's helper
// declares it constant, MinGW's writable.
extern "C" {
#if defined(_MSC_VER)
extern const PfnDliHook __pfnDliNotifyHook2 = LoadDelayedDllFromSystem32;
#else
PfnDliHook __pfnDliNotifyHook2 = LoadDelayedDllFromSystem32;
#endif
}

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

int RunInstaller(HINSTANCE instance, int show_command) {
    MarkStartupStep("entry");
    // Before anything that touches a file or the network: a second copy only hands over to the first.
    const auto session_run = ClaimSessionRun();
    if (!session_run) return ShowRunningCopy();
    MarkStartupStep("claimed");
    InitializeCommonControls();
    MarkStartupStep("controls");
    // Without GDI+ the window is drawn with plain GDI; the window's destruction shuts it down.
    StartGdiplus();
    MarkStartupStep("gdiplus");
    ApplySystemCheck(QueryWindowsVersion(), display_state);
    RegisterInstallerWindowClass(instance);
    MarkStartupStep("class");
    const HWND window = CreateInstallerWindow(instance);
    if (window == nullptr) {
        ShowWindowCreationFailure();
        return 1;
    }
    MarkStartupStep("created");
    ShowWindow(window, show_command);
    MarkStartupStep("shown");
    UpdateWindow(window);
    return RunMessageLoop();
}

}  // namespace quorvane
