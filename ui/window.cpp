#include "ui/window.h"

#include <windowsx.h>

#include <exception>
#include <memory>

#include "report/progress_post.h"
#include "pipeline/worker.h"
#include "ui/accessible.h"
#include "ui/accessible_tree.h"
#include "ui/bench_marks.h"
#include "ui/display_state.h"
#include "ui/gdiplus_session.h"
#include "ui/paint.h"
#include "ui/window_dpi.h"
#include "ui/window_model.h"

namespace quorvane {
namespace {

// Records are posted messages, and the queue makes a WM_PAINT only when no
// posted message is waiting: while a fast download posts records faster than
// the window takes them, the window would never repaint. A record that finds
// the last paint older than this paints at once.
constexpr ULONGLONG kLongestPaintGapMs = 30;

// The window's one timer. Screen readers are told of a child's changes at
// most every kNoticePeriodMs; a change held back must still be told when no
// further record or input comes (a download that stalls, the last percent
// before a long step), and nothing else would wake the window then.
constexpr UINT_PTR kNoticeTimer = 1;

static_assert(static_cast<DWORD>(AccessibleEvent::Alert) == EVENT_SYSTEM_ALERT &&
              static_cast<DWORD>(AccessibleEvent::Focus) == EVENT_OBJECT_FOCUS &&
              static_cast<DWORD>(AccessibleEvent::StateChange) == EVENT_OBJECT_STATECHANGE &&
              static_cast<DWORD>(AccessibleEvent::NameChange) == EVENT_OBJECT_NAMECHANGE &&
              static_cast<DWORD>(AccessibleEvent::ValueChange) == EVENT_OBJECT_VALUECHANGE);

class Win32WindowSystem final : public WindowSystem {
public:
    Win32WindowSystem(HWND window, std::optional<InstallStages> stages) : window_(window), stages_(std::move(stages)) {}

    void Attach(WindowModel& model) { model_ = &model; }

    void Repaint(const ClientRect* area) override {
        if (area == nullptr) {
            InvalidateRect(window_, nullptr, FALSE);
            return;
        }
        const RECT rect{area->left, area->top, area->right, area->bottom};
        InvalidateRect(window_, &rect, FALSE);
    }
    void CaptureMouse() override { SetCapture(window_); }
    bool HoldsMouseCapture() const override { return GetCapture() == window_; }
    void ReleaseMouse() override { ReleaseCapture(); }
    void TrackMouseLeave() override {
        TRACKMOUSEEVENT track{};
        track.cbSize = sizeof track;
        track.dwFlags = TME_LEAVE;
        track.hwndTrack = window_;
        track.dwHoverTime = 0;
        TrackMouseEvent(&track);
    }
    void DestroyWindow() override { ::DestroyWindow(window_); }
    void ShowFocusCue() override {
        SendMessageW(window_, WM_CHANGEUISTATE, MAKEWPARAM(UIS_CLEAR, UISF_HIDEFOCUS), 0);
    }
    void StartInstall() override {
        const auto reset_display = [this] {
            ResetDisplayForRun(*model_);
            Repaint(nullptr);
        };
        if (stages_) {
            quorvane::StartInstall(reset_display, *stages_);
        } else {
            quorvane::StartInstall(reset_display);
        }
    }

private:
    HWND window_;
    std::optional<InstallStages> stages_;
    WindowModel* model_ = nullptr;
};

// Everything the window owns, kept with the window and freed when it goes.
struct WindowData {
    WindowData(HWND window, const InstallerWindowOptions& options)
        : system(window, options.stages),
          model{display_state, run_flags, system, {}, {}, {}, {}, WindowControl::None, false},
          always_high_contrast(options.always_high_contrast) {
        system.Attach(model);
    }
    WindowData(const WindowData&) = delete;
    WindowData& operator=(const WindowData&) = delete;

    Win32WindowSystem system;
    WindowModel model;
    PaintResources resources;
    ULONGLONG last_paint_tick = 0;
    bool always_high_contrast;
    // Made when the first reader asks, and never again once the window is
    // being destroyed: nothing would disconnect it before the model is freed.
    UniqueWindowAccessible accessible;
    bool destroying = false;
    AccessibleAnnouncer announcer;
};

WindowData* DataOf(HWND window) { return reinterpret_cast<WindowData*>(GetWindowLongPtrW(window, GWLP_USERDATA)); }

ClientPoint PointOf(LPARAM lparam) {
    return ClientPoint{GET_X_LPARAM(lparam), GET_Y_LPARAM(lparam)};
}

// The drawing resources at a DPI, in the palette the system asks for now.
void MakePaintResources(WindowData& data, int dpi) {
    data.resources = CreatePaintResources(display_state.state, dpi);
    data.resources.palette = CurrentPalette(data.always_high_contrast);
}

void LayoutWindowControls(HWND window, WindowModel& model) {
    RECT client{};
    GetClientRect(window, &client);
    LayoutWindow(model, ClientSize{client.right - client.left, client.bottom - client.top});
}

// Tells readers what changed since they were last told; what is held back
// is told when the notice timer fires.
void AnnounceChanges(HWND window, WindowData& data) {
    const bool focused = GetFocus() == window;
    const ULONGLONG now = GetTickCount64();
    std::uint64_t due = 0;
    const std::vector<AccessibleNotice> notices = TakeAccessibleNotices(
        data.announcer, AccessibleChildren(data.model, focused), focused ? FocusedChild(data.model) : kChildSelf,
        now, due);
    for (const AccessibleNotice& notice : notices) {
        // When the window loses the focus, the system tells readers where it went.
        if (notice.event == AccessibleEvent::Focus && !focused) continue;
        NotifyWinEvent(static_cast<DWORD>(notice.event), window, OBJID_CLIENT, notice.child);
    }
    if (due != 0) SetTimer(window, kNoticeTimer, static_cast<UINT>(due > now ? due - now : 1), nullptr);
}

bool AnnouncesChanges(UINT message) {
    switch (message) {
        case WM_INSTALL_PROGRESS:
        case WM_ACCESSIBLE_ACTION:
        case WM_KEYDOWN:
        case WM_LBUTTONUP:
        case WM_CLOSE:
        case WM_SETFOCUS:
        case WM_KILLFOCUS:
        case WM_TIMER: return true;
        default: return false;
    }
}

LRESULT OnGetObject(HWND window, WindowData& data, WPARAM wparam, LPARAM lparam) {
    // The object id arrives as a 32-bit value in lParam.
    if (static_cast<DWORD>(lparam) != static_cast<DWORD>(OBJID_CLIENT)) {
        return DefWindowProcW(window, WM_GETOBJECT, wparam, lparam);
    }
    if (data.destroying) return 0;
    if (!data.accessible) {
        JoinComApartment();
        data.accessible = CreateWindowAccessible(window, data.model);
    }
    return AccessibleObjectResult(*data.accessible.get(), wparam);
}

bool FocusCueShown(HWND window) {
    return (SendMessageW(window, WM_QUERYUISTATE, 0, 0) & UISF_HIDEFOCUS) == 0;
}

void OnUpdateUiState(HWND window, WindowModel& model, WPARAM wparam, LPARAM lparam) {
    DefWindowProcW(window, WM_UPDATEUISTATE, wparam, lparam);
    OnFocusCueChanged(model, FocusCueShown(window));
}

void OnSystemColoursChanged(WindowData& data) {
    data.resources.palette = CurrentPalette(data.always_high_contrast);
    data.system.Repaint(nullptr);
}

LRESULT OnCreate(HWND window, const CREATESTRUCTW& creation) {
    // The first run posts to this handle, so it is stored before anything else.
    main_window = window;
    const auto* options = static_cast<const InstallerWindowOptions*>(creation.lpCreateParams);
    auto data = std::make_unique<WindowData>(window, options != nullptr ? *options : InstallerWindowOptions{});
    const int dpi = WindowDpi(window);
    data->model.scale = DpiScale{dpi};
    MakePaintResources(*data, dpi);
    MarkStartupStep("resources");
    WindowData* const owned = data.release();
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(owned));
    // Created at its size for 96 DPI; at another scale the client area grows with it.
    if (dpi != kUnitDpi) FitWindowToDpi(window, display_state.state, dpi);
    LayoutWindowControls(window, owned->model);
    // Focus cues stay hidden until the keyboard is used, unless the user
    // asked to see them always (SPI_SETKEYBOARDCUES), which makes the system
    // ignore this request.
    SendMessageW(window, WM_CHANGEUISTATE, MAKEWPARAM(UIS_SET, UISF_HIDEFOCUS), 0);
    OnFocusCueChanged(owned->model, FocusCueShown(window));
    if (display_state.state == RunState::Unsupported) {
        owned->system.Repaint(nullptr);
    } else {
        owned->system.StartInstall();
    }
    MarkStartupStep("run");
    // Takes note of what readers will first find.
    AnnounceChanges(window, *owned);
    return 0;
}

void OnDestroy(HWND window, WindowData& data) {
    data.destroying = true;
    KillTimer(window, kNoticeTimer);
    if (data.accessible) DisconnectWindowAccessible(*data.accessible.get());
    data.accessible.reset();
    ReleasePaintResources(data.resources);
    ShutdownGdiplus();
    PostQuitMessage(0);
}

// The window moved to a monitor of another scale: the system suggests the
// rectangle it should take there.
void OnDpiChanged(HWND window, WindowData& data, int dpi, const RECT& suggested) {
    data.model.scale = DpiScale{dpi};
    MakePaintResources(data, dpi);
    SetWindowPos(window, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
                 suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
    // Also when the size stayed and no WM_SIZE came.
    LayoutWindowControls(window, data.model);
    data.system.Repaint(nullptr);
}

// Asked before a move to a monitor of another DPI: the window's exact size
// there, so that the suggested rectangle holds the scaled client area.
bool OnGetDpiScaledSize(int dpi, SIZE& size) {
    const ClientSize outer = WindowOuterSize(display_state.state, dpi);
    size = SIZE{outer.width, outer.height};
    return true;
}

void OnPaint(HWND window, WindowData& data) {
    PaintWindow(window, data.resources, data.model);
    data.last_paint_tick = GetTickCount64();
}

void OnProgress(HWND window, WindowData& data, LPARAM lparam) {
    // The record changed hands with the post; it is freed here, also when it is dropped.
    const std::unique_ptr<ProgressRecord> record(reinterpret_cast<ProgressRecord*>(lparam));
    MarkProgressRecord();
    if (record) ApplyProgressRecord(data.model, *record);
    // Paints only when something is marked for repainting.
    if (GetTickCount64() - data.last_paint_tick >= kLongestPaintGapMs) UpdateWindow(window);
}

bool OnSetCursor(HWND window, const WindowModel& model) {
    POINT cursor{};
    if (!GetCursorPos(&cursor) || !ScreenToClient(window, &cursor)) return false;
    if (!WantsHandCursor(model, ClientPoint{cursor.x, cursor.y})) return false;
    SetCursor(LoadCursorW(nullptr, IDC_HAND));
    return true;
}

LRESULT HandleMessage(HWND window, WindowData& data, UINT message, WPARAM wparam, LPARAM lparam) {
    WindowModel& model = data.model;
    switch (message) {
        case WM_DESTROY: OnDestroy(window, data); return 0;
        case WM_SIZE:
            LayoutWindowControls(window, model);
            data.system.Repaint(nullptr);
            return 0;
        case WM_PAINT: OnPaint(window, data); return 0;
        case WM_DPICHANGED:
            OnDpiChanged(window, data, LOWORD(wparam), *reinterpret_cast<const RECT*>(lparam));
            return 0;
        case WM_GETDPISCALEDSIZE: return OnGetDpiScaledSize(static_cast<int>(wparam), *reinterpret_cast<SIZE*>(lparam));
        case WM_ERASEBKGND: return 1;  // painting covers every pixel
        case WM_CLOSE: OnCloseRequest(model); return 0;
        case WM_INSTALL_PROGRESS: OnProgress(window, data, lparam); return 0;
        case WM_INSTALL_CLOSE: ::DestroyWindow(window); return 0;
        case WM_KEYDOWN:
            if (OnKeyDown(model, static_cast<std::uint32_t>(wparam), GetKeyState(VK_SHIFT) < 0,
                          (lparam & (LPARAM{1} << 30)) != 0)) {
                return 0;
            }
            break;
        case WM_UPDATEUISTATE: OnUpdateUiState(window, model, wparam, lparam); return 0;
        case WM_GETOBJECT: return OnGetObject(window, data, wparam, lparam);
        case WM_ACCESSIBLE_ACTION: OnAccessibleAction(model, static_cast<std::int32_t>(wparam)); return 0;
        case WM_SETTINGCHANGE:
            if (wparam == SPI_SETHIGHCONTRAST) OnSystemColoursChanged(data);
            break;
        case WM_SYSCOLORCHANGE: OnSystemColoursChanged(data); break;
        case WM_TIMER:
            if (wparam != kNoticeTimer) break;
            KillTimer(window, kNoticeTimer);
            return 0;
        case WM_SETCURSOR:
            if (OnSetCursor(window, model)) return 1;
            break;
        case WM_MOUSEMOVE: OnMouseMove(model, PointOf(lparam)); return 0;
        case WM_MOUSELEAVE: OnMouseLeave(model); return 0;
        case WM_LBUTTONDOWN:
            if (OnLeftButtonDown(model, PointOf(lparam))) return 0;
            break;
        case WM_LBUTTONUP:
            if (OnLeftButtonUp(model, PointOf(lparam))) return 0;
            break;
        default: break;
    }
    return DefWindowProcW(window, message, wparam, lparam);
}

}  // namespace

LRESULT CALLBACK InstallerWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    // No exception may cross the window system's frames. A window that cannot
    // get its data is a window that could not be created; any other message
    // that fails (memory ran out in a paint or a record) is dropped: the
    // paint's guards have ended it, and a record is freed by its owner.
    try {
        if (message == WM_CREATE) return OnCreate(window, *reinterpret_cast<const CREATESTRUCTW*>(lparam));
        WindowData* const data = DataOf(window);
        if (message == WM_NCDESTROY && data != nullptr) {
            SetWindowLongPtrW(window, GWLP_USERDATA, 0);
            const std::unique_ptr<WindowData> released(data);
            return DefWindowProcW(window, message, wparam, lparam);
        }
        if (data == nullptr) return DefWindowProcW(window, message, wparam, lparam);
        const LRESULT result = HandleMessage(window, *data, message, wparam, lparam);
        // A handler may have destroyed the window, and its data with it.
        if (AnnouncesChanges(message) && DataOf(window) == data) AnnounceChanges(window, *data);
        return result;
    } catch (...) {
        return message == WM_CREATE ? -1 : 0;
    }
}

}  // namespace quorvane
