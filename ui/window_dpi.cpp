#include "ui/window_dpi.h"

#include "files/system_function.h"
#include "ui/gdi_handles.h"
#include "ui/window_parameters.h"

namespace quorvane {
namespace {

using GetDpiForWindowFunction = UINT(WINAPI*)(HWND);
using AdjustWindowRectExForDpiFunction = BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT);

// What the caption and borders add to the client area. Without the per-DPI
// call the system's metrics are those of its one DPI: then the frame at 96
// DPI is that frame in units, near enough for a size that only has to hold
// the scaled client area.
ClientSize FrameAt(int dpi, int system_dpi) {
    const auto adjust_for_dpi =
        FindSystemFunction<AdjustWindowRectExForDpiFunction>(L"user32.dll", "AdjustWindowRectExForDpi");
    RECT frame{0, 0, 0, 0};
    if (adjust_for_dpi != nullptr) {
        adjust_for_dpi(&frame, kWindowStyle, FALSE, kWindowExtendedStyle, static_cast<UINT>(dpi));
        return {frame.right - frame.left, frame.bottom - frame.top};
    }
    AdjustWindowRectEx(&frame, kWindowStyle, FALSE, kWindowExtendedStyle);
    const ClientSize system_frame{frame.right - frame.left, frame.bottom - frame.top};
    return dpi == system_dpi ? system_frame : DpiScale{system_dpi}.ToUnits(system_frame);
}

}  // namespace

int WindowDpi(HWND window) {
    const auto get_dpi_for_window = FindSystemFunction<GetDpiForWindowFunction>(L"user32.dll", "GetDpiForWindow");
    if (get_dpi_for_window != nullptr) {
        const UINT dpi = get_dpi_for_window(window);
        if (dpi != 0) return UsableDpi(dpi);
    }
    const WindowDc dc(window);
    return UsableDpi(dc.get() != nullptr ? GetDeviceCaps(dc.get(), LOGPIXELSY) : 0);
}

ClientSize WindowOuterSize(RunState state, int dpi) {
    const DpiScale scale{dpi};
    return ScaledOuterSize(state, scale, FrameAt(kUnitDpi, dpi), FrameAt(dpi, dpi));
}

void FitWindowToDpi(HWND window, RunState state, int dpi) {
    const ClientSize outer = WindowOuterSize(state, dpi);
    SetWindowPos(window, nullptr, 0, 0, outer.width, outer.height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace quorvane
