#pragma once
// The window's picture as an ordered list of drawing operations, built from
// the values the window shows. No Windows header here: the GDI/GDI+ backend
// only executes the list, later operations covering earlier ones.

#include <cstdint>
#include <string>
#include <vector>

#include "report/progress.h"
#include "ui/display_state.h"
#include "ui/palette.h"
#include "ui/window_model.h"

namespace quorvane {

enum class FontRole { Title, Headline, Body, Button };

// DrawTextW flag sets; the GDI+ path translates them.
inline constexpr std::uint32_t kTextLeft = 0x24;          // DT_VCENTER | DT_SINGLELINE
inline constexpr std::uint32_t kTextCentred = 0x25;       // DT_CENTER | DT_VCENTER | DT_SINGLELINE
inline constexpr std::uint32_t kTextRight = 0x26;         // DT_RIGHT | DT_VCENTER | DT_SINGLELINE
inline constexpr std::uint32_t kTextEllipsis = 0x8024;    // DT_END_ELLIPSIS | DT_VCENTER | DT_SINGLELINE
inline constexpr std::uint32_t kTextMultiLine = 0;        // top left, broken only at line feeds

enum class DrawKind {
    FillRect,        // rect, colour
    FillRoundRect,   // rect, corner, colour: filled, with a 1-pixel outline of the same colour
    FrameRoundRect,  // rect, corner, colour: the 1-pixel outline only
    Text,            // text, rect, font, colour, format, gdiplus_text
    Logo,            // rect: the logo image scaled into it
    Icon,            // rect: the window icon drawn into it
    Polyline,        // points, colour, pen_width
    FocusRing,       // rect, corner, colour, pen_width: an outline drawn inside the rectangle
};

struct DrawOperation {
    DrawKind kind = DrawKind::FillRect;
    ClientRect rect;
    std::int32_t corner = 0;
    Colour colour = 0;
    std::wstring text;
    FontRole font = FontRole::Body;
    std::uint32_t format = 0;
    // GDI+ anti-aliased text is wanted; the backend still uses GDI when the font is missing.
    bool gdiplus_text = false;
    std::vector<ClientPoint> points;
    std::int32_t pen_width = 0;
};

// The list is built in units of 96 DPI; ScalePaintList turns it into pixels.
struct PaintInputs {
    std::int32_t width = 0;   // client width W, in units
    std::int32_t height = 0;  // client height H, in units
    const DisplayState& display;
    // Loaded once per paint.
    bool cancel_requested = false;
    bool installer_running = false;
    bool launch_after_install = false;
    ControlLayout layout;  // in units
    InteractionFlags interaction;
    bool gdiplus_running = false;
    bool has_logo = false;
    bool has_icon = false;
    Palette palette = NormalPalette();
    // The control that shows a focus cue; None while the cues are hidden.
    WindowControl focus_cue = WindowControl::None;
};

struct Headline {
    const wchar_t* text;
    Colour colour;
};
Headline HeadlineFor(RunState state, bool cancel_requested, bool installer_running, std::int32_t percent,
                     const Palette& palette = NormalPalette());

ButtonLook ButtonLookFor(bool enabled, bool primary_style, bool pressed, bool hover,
                         const Palette& palette = NormalPalette());

// Width of the bar's fill for a client width; 0 when nothing is filled.
std::int32_t BarFillWidth(std::int32_t client_width, std::int32_t percent);

std::vector<DrawOperation> BuildPaintList(const PaintInputs& inputs);

// Every rectangle, point, corner and pen width of a list built for a client
// area of client_units, in the pixels of the scale. An edge on the client
// area's right or bottom lands on the edge of client_pixels, so that the
// whole area is painted also where it is not exactly the scaled size.
void ScalePaintList(std::vector<DrawOperation>& operations, const DpiScale& scale, ClientSize client_units,
                    ClientSize client_pixels);

}  // namespace quorvane
