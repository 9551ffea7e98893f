#include "ui/window.h"

#include <windowsx.h>

#include <exception>
#include <memory>

#include "pipeline/progress_post.h"
#include "pipeline/worker.h"
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

class Win32WindowSystem final : public WindowSystem {
public:
    Win32WindowSystem(HWND window, InstallStages stages) : window_(window), stages_(std::move(stages)) {}

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
    void StartInstall() override {
        quorvane::StartInstall(
            [this] {
                ResetDisplayForRun(*model_);
                Repaint(nullptr);
            },
            stages_);
    }

private:
    HWND window_;
    InstallStages stages_;
    WindowModel* model_ = nullptr;
};

// Everything the window owns, kept with the window and freed when it goes.
struct WindowData {
    WindowData(HWND window, InstallStages stages)
        : system(window, std::move(stages)), model{display_state, run_flags, system, {}, {}, {}, {}} {
        system.Attach(model);
    }
    WindowData(const WindowData&) = delete;
    WindowData& operator=(const WindowData&) = delete;

    Win32WindowSystem system;
    WindowModel model;
    PaintResources resources;
    ULONGLONG last_paint_tick = 0;
};

WindowData* DataOf(HWND window) { return reinterpret_cast<WindowData*>(GetWindowLongPtrW(window, GWLP_USERDATA)); }

ClientPoint PointOf(LPARAM lparam) {
    return ClientPoint{GET_X_LPARAM(lparam), GET_Y_LPARAM(lparam)};
}

void LayoutWindowControls(HWND window, WindowModel& model) {
    RECT client{};
    GetClientRect(window, &client);
    LayoutWindow(model, ClientSize{client.right - client.left, client.bottom - client.top});
}

LRESULT OnCreate(HWND window, const CREATESTRUCTW& creation) {
    // The first run posts to this handle, so it is stored before anything else.
    main_window = window;
    const auto* stages = static_cast<const InstallStages*>(creation.lpCreateParams);
    auto data = std::make_unique<WindowData>(window, stages != nullptr ? *stages : DefaultInstallStages());
    const int dpi = WindowDpi(window);
    data->model.scale = DpiScale{dpi};
    data->resources = CreatePaintResources(display_state.state, dpi);
    WindowData* const owned = data.release();
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(owned));
    // Created at its size for 96 DPI; at another scale the client area grows with it.
    if (dpi != kUnitDpi) FitWindowToDpi(window, display_state.state, dpi);
    LayoutWindowControls(window, owned->model);
    if (display_state.state == RunState::Unsupported) {
        owned->system.Repaint(nullptr);
        return 0;
    }
    owned->system.StartInstall();
    return 0;
}

void OnDestroy(WindowData& data) {
    ReleasePaintResources(data.resources);
    ShutdownGdiplus();
    PostQuitMessage(0);
}

// The window moved to a monitor of another scale: the system suggests the
// rectangle it should take there.
void OnDpiChanged(HWND window, WindowData& data, int dpi, const RECT& suggested) {
    data.model.scale = DpiScale{dpi};
    data.resources = CreatePaintResources(display_state.state, dpi);
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
        case WM_DESTROY: OnDestroy(data); return 0;
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
            if (OnKeyDown(model, static_cast<std::uint32_t>(wparam))) return 0;
            break;
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
        return HandleMessage(window, *data, message, wparam, lparam);
    } catch (...) {
        return message == WM_CREATE ? -1 : 0;
    }
}

}  // namespace quorvane
