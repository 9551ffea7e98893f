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
    // Chosen again when the system's colours or its high-contrast setting change.
    Palette palette = NormalPalette();
};

// A font of the given size in points at the window's DPI.
UniqueFont CreateUiFont(int dpi, int points, int weight, const wchar_t* face);

// The system's colours while high contrast is on (or always, for a window
// made to show its high-contrast look), otherwise the window's own.
Palette CurrentPalette(bool always_high_contrast);

// Fonts in the order title, headline, body, button; the logo only while GDI+
// runs; the icon at 48 units, or at the system's size when that fails.
PaintResources CreatePaintResources(RunState state, int dpi);
void ReleasePaintResources(PaintResources& resources);

void FillRoundRect(HDC dc, const RECT& rect, int corner, COLORREF colour);
void FrameRoundRect(HDC dc, const RECT& rect, int corner, COLORREF colour);
// GDI+ anti-aliased text where wanted and possible, otherwise GDI's DrawTextW.
void DrawTextInRect(HDC dc, const wchar_t* text, const RECT& rect, HFONT font, COLORREF colour, UINT format,
                    bool gdiplus_wanted);

// What DrawTextInRect needs of its rectangle to show the text whole, with
// the same font, format and path.
SIZE MeasureTextInRect(HDC dc, const wchar_t* text, HFONT font, UINT format, bool gdiplus_wanted);
// The font a drawing operation's role names.
HFONT FontFor(const PaintResources& resources, FontRole role);

void ExecutePaintList(HDC dc, const std::vector<DrawOperation>& operations, const PaintResources& resources);
// One full paint: the whole client area off-screen, then one copy to the window.
void PaintWindow(HWND window, const PaintResources& resources, const WindowModel& model);

}  // namespace quorvane
