#include "ui/gdiplus_session.h"

#include <windows.h>
#include <objidl.h>  // gdiplus.h needs the COM stream types that WIN32_LEAN_AND_MEAN leaves out
#include <gdiplus.h>

#include <type_traits>

#include "ui/display_state.h"

namespace quorvane {

static_assert(std::is_same_v<decltype(gdiplus_token), ULONG_PTR>);

bool StartGdiplus() {
    const Gdiplus::GdiplusStartupInput input;  // version 1, no debug callback, nothing suppressed
    ULONG_PTR token = 0;
    gdiplus_token = Gdiplus::GdiplusStartup(&token, &input, nullptr) == Gdiplus::Ok ? token : 0;
    return gdiplus_token != 0;
}

void ShutdownGdiplus() {
    if (gdiplus_token == 0) return;
    Gdiplus::GdiplusShutdown(gdiplus_token);
    gdiplus_token = 0;
}

}  // namespace quorvane
