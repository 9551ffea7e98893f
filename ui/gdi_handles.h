#pragma once
// Move-only owners for the GDI and GDI+ objects the window draws with, and a
// guard that selects the previous object back into a device context.

#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include <utility>

#include "files/unique_handle.h"

namespace quorvane {

namespace gdi_release {
inline void Object(HGDIOBJ object) noexcept { DeleteObject(object); }
inline void Dc(HDC dc) noexcept { DeleteDC(dc); }
inline void Stream(IStream* stream) noexcept { stream->Release(); }
inline void Graphics(Gdiplus::GpGraphics* graphics) noexcept { Gdiplus::DllExports::GdipDeleteGraphics(graphics); }
inline void Font(Gdiplus::GpFont* font) noexcept { Gdiplus::DllExports::GdipDeleteFont(font); }
inline void Brush(Gdiplus::GpBrush* brush) noexcept { Gdiplus::DllExports::GdipDeleteBrush(brush); }
inline void Format(Gdiplus::GpStringFormat* format) noexcept { Gdiplus::DllExports::GdipDeleteStringFormat(format); }
inline void Image(Gdiplus::GpImage* image) noexcept { Gdiplus::DllExports::GdipDisposeImage(image); }
inline void Global(HGLOBAL block) noexcept { GlobalFree(block); }
inline void Icon(HICON icon) noexcept { DestroyIcon(icon); }
}  // namespace gdi_release

using UniqueFont = UniqueHandle<HFONT, gdi_release::Object>;
using UniqueBrush = UniqueHandle<HBRUSH, gdi_release::Object>;
using UniquePen = UniqueHandle<HPEN, gdi_release::Object>;
using UniqueBitmap = UniqueHandle<HBITMAP, gdi_release::Object>;
using UniqueMemoryDc = UniqueHandle<HDC, gdi_release::Dc>;
using UniqueStream = UniqueHandle<IStream*, gdi_release::Stream>;
using UniqueGlobal = UniqueHandle<HGLOBAL, gdi_release::Global>;
using UniqueIcon = UniqueHandle<HICON, gdi_release::Icon>;
using UniqueGpGraphics = UniqueHandle<Gdiplus::GpGraphics*, gdi_release::Graphics>;
using UniqueGpFont = UniqueHandle<Gdiplus::GpFont*, gdi_release::Font>;
using UniqueGpBrush = UniqueHandle<Gdiplus::GpBrush*, gdi_release::Brush>;
using UniqueGpStringFormat = UniqueHandle<Gdiplus::GpStringFormat*, gdi_release::Format>;
using UniqueGpImage = UniqueHandle<Gdiplus::GpImage*, gdi_release::Image>;

// BeginPaint and EndPaint of one paint request.
class PaintGuard {
public:
    explicit PaintGuard(HWND window) noexcept : window_(window), dc_(BeginPaint(window, &paint_)) {}
    ~PaintGuard() { EndPaint(window_, &paint_); }
    PaintGuard(const PaintGuard&) = delete;
    PaintGuard& operator=(const PaintGuard&) = delete;
    HDC get() const noexcept { return dc_; }

private:
    HWND window_;
    PAINTSTRUCT paint_{};
    HDC dc_;
};

// The window's device context from GetDC, released to its window.
class WindowDc {
public:
    explicit WindowDc(HWND window) noexcept : window_(window), dc_(GetDC(window)) {}
    ~WindowDc() {
        if (dc_ != nullptr) ReleaseDC(window_, dc_);
    }
    WindowDc(const WindowDc&) = delete;
    WindowDc& operator=(const WindowDc&) = delete;
    HDC get() const noexcept { return dc_; }

private:
    HWND window_;
    HDC dc_;
};

// Selects an object into a device context and the previous one back on destruction.
class SelectGuard {
public:
    SelectGuard(HDC dc, HGDIOBJ object) noexcept : dc_(dc), previous_(SelectObject(dc, object)) {}
    ~SelectGuard() {
        if (previous_ != nullptr && previous_ != HGDI_ERROR) SelectObject(dc_, previous_);
    }
    SelectGuard(const SelectGuard&) = delete;
    SelectGuard& operator=(const SelectGuard&) = delete;

private:
    HDC dc_;
    HGDIOBJ previous_;
};

}  // namespace quorvane
