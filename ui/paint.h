#pragma once
// The window's drawing resources and the GDI/GDI+ backend that executes the
// list of drawing operations into an off-screen bitmap.

#include <windows.h>

#include "ui/gdi_handles.h"
#include "ui/paint_list.h"
#include "ui/window_model.h"

namespace quorvane {

struct PaintResources {
    UniqueFont title_font;
    UniqueFont headline_font;
    UniqueFont body_font;
    UniqueFont button_font;
    UniqueGpImage logo_image;
    // Made again only when the DPI changes; freed with the window.
    UniqueIcon window_icon;
};

// A font of the given size in points at the window's DPI.
UniqueFont CreateUiFont(int dpi, int points, int weight, const wchar_t* face);
// Fonts in the order title, headline, body, button; the logo only while GDI+
// runs; the icon at 48 units, or at the system's size when that fails.
PaintResources CreatePaintResources(RunState state, int dpi);
void ReleasePaintResources(PaintResources& resources);

void FillRoundRect(HDC dc, const RECT& rect, int corner, COLORREF colour);
void FrameRoundRect(HDC dc, const RECT& rect, int corner, COLORREF colour);
// GDI+ anti-aliased text where wanted and possible, otherwise GDI's DrawTextW.
void DrawTextInRect(HDC dc, const wchar_t* text, const RECT& rect, HFONT font, COLORREF colour, UINT format,
                    bool gdiplus_wanted);

void ExecutePaintList(HDC dc, const std::vector<DrawOperation>& operations, const PaintResources& resources);
// One full paint: the whole client area off-screen, then one copy to the window.
void PaintWindow(HWND window, const PaintResources& resources, const WindowModel& model);

}  // namespace quorvane
