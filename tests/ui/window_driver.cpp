// Test-time program: shows the real installer window and drives it with
// scripted runs instead of the real stages, so that a test can watch the
// window through a whole run and feed it real X input.
//
// Prints "window origin=X,Y client=WxH outer=WxH awareness=A comctl32=V" once
// the window is shown (A: the thread's DPI awareness, 0 unaware, 1 system, 2
// per monitor, -1 where the system cannot tell; V: 6 when the common controls
// came from the side-by-side store, as the manifest asks, 5 otherwise), then reads one
// command a line from standard input on the worker thread of each run:
//   post PERCENT STATE TEXT   posts a record (STATE: running, finished, cancelled, failed)
//   installer 0|1             sets installer_running
//   flags                     prints "flags busy=B cancel=C installer=I launch=L"
//   wait-cancel               waits for the cancel request, then ends the run as the worker does
//   fail TEXT                 ends the run with a failure
//   finish TEXT               ends the run successfully with its last record
//   dpi DPI WIDTH HEIGHT      sends WM_DPICHANGED with a rectangle of that outer
//                             size in the window's place; prints the new geometry
//   window-colour RRGGBB      sets the system's window colour (SetSysColors, which
//                             tells every window with WM_SYSCOLORCHANGE)
//   scaled-size DPI           sends WM_GETDPISCALEDSIZE; prints "scaled-size WxH answer=A frame=WxH"
//                             with what the system's caption and borders take at that DPI
//                             (AdjustWindowRectExForDpi; 0x0 where it is missing)
// Options: --high-contrast paints with the system's colours as high contrast
// does (and prints "colours window=RRGGBB text=RRGGBB ..." as GetSysColor
// reports them); --unsupported shows the unsupported screen of Windows 8.1;
// --check-destruction takes the window's IAccessible in this process, destroys
// the window at once and prints "destroyed object=0xHRESULT getobject=N": the
// object's answer to get_accName afterwards, and what a WM_GETOBJECT sent as
// soon as WM_DESTROY was handled returned.
// Exits with the message loop's exit code.

#include <windows.h>
#include <oleacc.h>

#include <chrono>
#include <cstdio>
#include <iostream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>

#include "files/system_function.h"
#include "files/text.h"
#include "report/progress_post.h"
#include "pipeline/worker.h"
#include "ui/display_state.h"
#include "ui/gdiplus_session.h"
#include "ui/startup.h"
#include "ui/system_check.h"
#include "ui/window.h"
#include "ui/window_parameters.h"

namespace quorvane {
namespace {

void Say(const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

RunState StateNamed(const std::string& name) {
    if (name == "finished") return RunState::Finished;
    if (name == "cancelled") return RunState::Cancelled;
    if (name == "failed") return RunState::Failed;
    return RunState::Running;
}

std::wstring RestOf(std::istringstream& words) {
    std::string rest;
    std::getline(words >> std::ws, rest);
    return Utf8ToWide(rest);
}

void WaitForCancel() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!run_flags.cancel_requested.Load()) {
        if (std::chrono::steady_clock::now() > deadline) throw std::runtime_error("no cancel request came");
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    Say("cancel seen");
    throw std::runtime_error("cancelled");
}

std::string Geometry(HWND window) {
    RECT client{};
    RECT outer{};
    GetClientRect(window, &client);
    GetWindowRect(window, &outer);
    POINT origin{0, 0};
    ClientToScreen(window, &origin);
    return "origin=" + std::to_string(origin.x) + "," + std::to_string(origin.y) +
           " client=" + std::to_string(client.right) + "x" + std::to_string(client.bottom) +
           " outer=" + std::to_string(outer.right - outer.left) + "x" + std::to_string(outer.bottom - outer.top);
}

// Sent as the system sends it when the window moves to a monitor of another scale.
void ChangeDpi(int dpi, int width, int height) {
    RECT suggested{};
    GetWindowRect(main_window, &suggested);
    suggested.right = suggested.left + width;
    suggested.bottom = suggested.top + height;
    SendMessageW(main_window, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&suggested));
    Say("dpi " + Geometry(main_window));
}

void SayScaledSize(int dpi) {
    SIZE size{};
    const LRESULT answer = SendMessageW(main_window, WM_GETDPISCALEDSIZE, static_cast<WPARAM>(dpi),
                                        reinterpret_cast<LPARAM>(&size));
    using AdjustWindowRectExForDpiFunction = BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT);
    const auto adjust_for_dpi =
        FindSystemFunction<AdjustWindowRectExForDpiFunction>(L"user32.dll", "AdjustWindowRectExForDpi");
    RECT frame{0, 0, 0, 0};
    if (adjust_for_dpi != nullptr) {
        adjust_for_dpi(&frame, kWindowStyle, FALSE, kWindowExtendedStyle, static_cast<UINT>(dpi));
    }
    Say("scaled-size " + std::to_string(size.cx) + "x" + std::to_string(size.cy) + " answer=" +
        std::to_string(answer) + " frame=" + std::to_string(frame.right - frame.left) + "x" +
        std::to_string(frame.bottom - frame.top));
}

LRESULT object_after_destroy = 0;

LRESULT CALLBACK AfterMessage(int code, WPARAM wparam, LPARAM lparam) {
    const auto* sent = reinterpret_cast<const CWPRETSTRUCT*>(lparam);
    if (code == HC_ACTION && sent->message == WM_DESTROY && sent->hwnd == main_window) {
        object_after_destroy = SendMessageW(sent->hwnd, WM_GETOBJECT, 0, static_cast<LPARAM>(OBJID_CLIENT));
    }
    return CallNextHookEx(nullptr, code, wparam, lparam);
}

// A reader in the window's own thread: the object it holds, and one it asks
// for while the window is being destroyed.
void CheckDestruction(HWND window) {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const LRESULT taken = SendMessageW(window, WM_GETOBJECT, 0, static_cast<LPARAM>(OBJID_CLIENT));
    IAccessible* object = nullptr;
    if (FAILED(ObjectFromLresult(taken, __uuidof(IAccessible), 0, reinterpret_cast<void**>(&object)))) {
        Say("no accessible object");
        return;
    }
    const HHOOK hook = SetWindowsHookExW(WH_CALLWNDPROCRET, AfterMessage, nullptr, GetCurrentThreadId());
    DestroyWindow(window);
    UnhookWindowsHookEx(hook);
    VARIANT self{};
    self.vt = VT_I4;
    self.lVal = CHILDID_SELF;
    BSTR name = nullptr;
    const HRESULT answer = object->get_accName(self, &name);
    SysFreeString(name);
    object->Release();
    char code[16];
    std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(answer));
    Say(std::string("destroyed object=") + code + " getobject=" + std::to_string(object_after_destroy));
}

int ThreadDpiAwareness() {
    using GetThreadDpiAwarenessContextFunction = DPI_AWARENESS_CONTEXT(WINAPI*)();
    using GetAwarenessFromDpiAwarenessContextFunction = DPI_AWARENESS(WINAPI*)(DPI_AWARENESS_CONTEXT);
    const auto get_context = FindSystemFunction<GetThreadDpiAwarenessContextFunction>(
        L"user32.dll", "GetThreadDpiAwarenessContext");
    const auto get_awareness = FindSystemFunction<GetAwarenessFromDpiAwarenessContextFunction>(
        L"user32.dll", "GetAwarenessFromDpiAwarenessContext");
    if (get_context == nullptr || get_awareness == nullptr) return -1;
    return static_cast<int>(get_awareness(get_context()));
}

// The scripted package stage: returns when the script says "finish", raises
// where the script ends the run otherwise.
void ScriptedRun(std::wstring& finish_text) {
    std::string line;
    while (std::getline(std::cin, line)) {
        std::istringstream words(line);
        std::string command;
        words >> command;
        if (command == "post") {
            int percent = 0;
            std::string state;
            words >> percent >> state;
            PostProgress(percent, RestOf(words), StateNamed(state));
        } else if (command == "installer") {
            int on = 0;
            words >> on;
            run_flags.installer_running.Exchange(on != 0);
        } else if (command == "flags") {
            Say("flags busy=" + std::to_string(run_flags.busy.Load()) +
                " cancel=" + std::to_string(run_flags.cancel_requested.Load()) +
                " installer=" + std::to_string(run_flags.installer_running.Load()) +
                " launch=" + std::to_string(run_flags.launch_after_install.Load()));
        } else if (command == "wait-cancel") {
            WaitForCancel();
        } else if (command == "fail") {
            throw std::runtime_error(WideToUtf8(RestOf(words)));
        } else if (command == "dpi") {
            int dpi = 0, width = 0, height = 0;
            words >> dpi >> width >> height;
            ChangeDpi(dpi, width, height);
        } else if (command == "window-colour") {
            std::string hex;
            words >> hex;
            const unsigned long rgb = std::stoul(hex, nullptr, 16);
            const int element = COLOR_WINDOW;
            const COLORREF colour = RGB((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF);
            SetSysColors(1, &element, &colour);
        } else if (command == "scaled-size") {
            int dpi = 0;
            words >> dpi;
            SayScaledSize(dpi);
        } else if (command == "finish") {
            finish_text = RestOf(words);
            return;
        }
        Say("done " + command);
    }
    throw std::runtime_error("script ended");
}

// Wine's common controls report version 5 from either place; the side-by-side
// store is where version 6 lives.
int CommonControlsVersion() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(GetModuleHandleW(L"comctl32.dll"), path, MAX_PATH);
    return std::wstring(path).find(L"\\winsxs\\") != std::wstring::npos ? 6 : 5;
}

InstallStages ScriptedStages() {
    auto finish_text = std::make_shared<std::wstring>();
    InstallStages stages;
    stages.install_package = [finish_text](const std::wstring&, std::wstring&) { ScriptedRun(*finish_text); };
    stages.update_segments = [] {};
    stages.finish = [finish_text] {
        run_flags.busy.Exchange(false);
        PostProgress(100, *finish_text, RunState::Finished);
        Say("done finish");
    };
    return stages;
}

std::string Hex(int index) {
    const COLORREF colour = GetSysColor(index);
    char text[8];
    std::snprintf(text, sizeof text, "%02X%02X%02X", GetRValue(colour), GetGValue(colour), GetBValue(colour));
    return text;
}

}  // namespace
}  // namespace quorvane

int wmain(int argc, wchar_t** argv) {
    using namespace quorvane;
    InstallerWindowOptions options{ScriptedStages()};
    bool check_destruction = false;
    for (int i = 1; i < argc; ++i) {
        const std::wstring option = argv[i];
        if (option == L"--high-contrast") options.always_high_contrast = true;
        if (option == L"--check-destruction") check_destruction = true;
        if (option == L"--unsupported") ApplySystemCheck(WindowsVersion{6, 3, 9600}, display_state);
    }
    if (options.always_high_contrast) {
        Say("colours window=" + Hex(COLOR_WINDOW) + " text=" + Hex(COLOR_WINDOWTEXT) + " gray=" +
            Hex(COLOR_GRAYTEXT) + " face=" + Hex(COLOR_BTNFACE) + " button=" + Hex(COLOR_BTNTEXT) +
            " highlight=" + Hex(COLOR_HIGHLIGHT) + " highlighttext=" + Hex(COLOR_HIGHLIGHTTEXT));
    }
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    InitializeCommonControls();
    StartGdiplus();
    RegisterInstallerWindowClass(instance);
    // A fixed place on the screen: without a window manager nothing else places it.
    const HWND window = CreateWindowExW(kWindowExtendedStyle, kWindowClassName, kWindowTitle, kWindowStyle, 40, 40,
                                       kWindowWidth, WindowOuterHeight(display_state.state), nullptr, nullptr,
                                       instance, &options);
    if (window == nullptr) {
        Say("no window");
        return 1;
    }
    ShowWindow(window, SW_SHOWNORMAL);
    UpdateWindow(window);
    SetForegroundWindow(window);
    Say("window " + Geometry(window) + " awareness=" + std::to_string(ThreadDpiAwareness()) +
        " comctl32=" + std::to_string(CommonControlsVersion()));
    if (check_destruction) CheckDestruction(window);
    const int code = RunMessageLoop();
    Say("exit " + std::to_string(code));
    return code;
}
