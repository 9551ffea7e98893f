#pragma once
// The colours the window paints with: its own, and those of a high-contrast
// scheme. No Windows header here; paint.cpp reads the system colours.

#include <cstdint>

namespace quorvane {

using Colour = std::uint32_t;  // 0xRRGGBB

struct ButtonLook {
    Colour fill;
    Colour border;
    Colour text;
};

// Every colour the painting uses, by what it paints.
struct Palette {
    Colour window_background;
    Colour header;
    Colour header_rule;
    Colour card;
    Colour card_frame;
    Colour title_text;
    Colour muted_text;
    Colour body_text;
    Colour strong_text;
    Colour headline_text;
    Colour failed_headline_text;
    Colour cancelled_headline_text;
    Colour finished_headline_text;
    Colour bar_track;
    Colour bar_track_frame;
    Colour bar_fill;
    Colour failed_bar_fill;
    Colour cancelled_bar_fill;
    Colour box_fill_on;
    Colour box_fill_off;
    Colour pressed_box_fill_on;
    Colour pressed_box_fill_off;
    Colour box_border_on;
    Colour box_border_off;
    Colour hover_box_border_off;
    Colour check_mark;
    Colour box_label;
    Colour hover_box_label;
    Colour box_focus_ring;
    ButtonLook disabled_button;
    ButtonLook primary_button;
    ButtonLook hover_primary_button;
    ButtonLook pressed_primary_button;
    ButtonLook secondary_button;
    ButtonLook hover_secondary_button;
    ButtonLook pressed_secondary_button;
};

// The system colours a high-contrast scheme sets (GetSysColor), as 0xRRGGBB.
struct SystemColours {
    Colour window = 0;          // COLOR_WINDOW
    Colour window_text = 0;     // COLOR_WINDOWTEXT
    Colour gray_text = 0;       // COLOR_GRAYTEXT
    Colour button_face = 0;     // COLOR_BTNFACE
    Colour button_text = 0;     // COLOR_BTNTEXT
    Colour highlight = 0;       // COLOR_HIGHLIGHT
    Colour highlight_text = 0;  // COLOR_HIGHLIGHTTEXT
};

// The window's own colours.
const Palette& NormalPalette();
// The user's colours while high contrast is on: text and frames in the window
// text colour, muted text and disabled controls in the gray text colour,
// buttons in the button colours, the bar and the primary button highlighted.
Palette HighContrastPalette(const SystemColours& system);
Palette ChoosePalette(bool high_contrast_on, const SystemColours& system);

}  // namespace quorvane
