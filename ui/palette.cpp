#include "ui/palette.h"

namespace quorvane {
namespace {

constexpr Colour kWhite = 0xFFFFFF;
constexpr Colour kRule = 0xE2E8F0;
constexpr Colour kInk = 0x0F172A;
constexpr Colour kStrongText = 0x1E293B;
constexpr Colour kBodyText = 0x475569;
constexpr Colour kBlue = 0x2563EB;

constexpr Palette kNormalPalette{
    .window_background = 0xF6F8FC,
    .header = kWhite,
    .header_rule = kRule,
    .card = kWhite,
    .card_frame = kRule,
    .title_text = kInk,
    .muted_text = 0x64748B,
    .body_text = kBodyText,
    .strong_text = kStrongText,
    .headline_text = kInk,
    .failed_headline_text = 0xB91C1C,
    .cancelled_headline_text = 0xB45309,
    .finished_headline_text = 0x15803D,
    .bar_track = kRule,
    .bar_track_frame = kRule,
    .bar_fill = kBlue,
    .failed_bar_fill = 0xDC2626,
    .cancelled_bar_fill = 0xD97706,
    .box_fill_on = kBlue,
    .box_fill_off = kWhite,
    .pressed_box_fill_on = 0x1D4ED8,
    .pressed_box_fill_off = kRule,
    .box_border_on = kBlue,
    .box_border_off = 0xCBD5E1,
    .hover_box_border_off = 0x94A3B8,
    .check_mark = kWhite,
    .box_label = kBodyText,
    .hover_box_label = 0x1E40AF,
    .box_focus_ring = kStrongText,
    .disabled_button = {0xF1F5F9, kRule, 0x94A3B8},
    .primary_button = {0x3B82F6, 0x3B82F6, kWhite},
    .hover_primary_button = {kBlue, kBlue, kWhite},
    .pressed_primary_button = {0x1D4ED8, 0x1D4ED8, kWhite},
    .secondary_button = {kWhite, 0xCBD5E1, kStrongText},
    .hover_secondary_button = {0xF8FAFC, 0x94A3B8, kStrongText},
    .pressed_secondary_button = {kRule, 0xCBD5E1, kStrongText},
};

}  // namespace

const Palette& NormalPalette() { return kNormalPalette; }

Palette HighContrastPalette(const SystemColours& system) {
    const ButtonLook secondary{system.button_face, system.window_text, system.button_text};
    const ButtonLook secondary_active{system.button_face, system.highlight, system.button_text};
    const ButtonLook primary{system.highlight, system.window_text, system.highlight_text};
    const ButtonLook primary_active{system.highlight, system.highlight_text, system.highlight_text};
    return Palette{
        .window_background = system.window,
        .header = system.window,
        .header_rule = system.window_text,
        .card = system.window,
        .card_frame = system.window_text,
        .title_text = system.window_text,
        .muted_text = system.gray_text,
        .body_text = system.window_text,
        .strong_text = system.window_text,
        .headline_text = system.window_text,
        .failed_headline_text = system.window_text,
        .cancelled_headline_text = system.window_text,
        .finished_headline_text = system.window_text,
        .bar_track = system.window,
        .bar_track_frame = system.window_text,
        .bar_fill = system.highlight,
        .failed_bar_fill = system.highlight,
        .cancelled_bar_fill = system.highlight,
        .box_fill_on = system.highlight,
        .box_fill_off = system.window,
        .pressed_box_fill_on = system.highlight,
        .pressed_box_fill_off = system.window,
        .box_border_on = system.window_text,
        .box_border_off = system.window_text,
        .hover_box_border_off = system.highlight,
        .check_mark = system.highlight_text,
        .box_label = system.window_text,
        .hover_box_label = system.window_text,
        .box_focus_ring = system.window_text,
        .disabled_button = {system.button_face, system.gray_text, system.gray_text},
        .primary_button = primary,
        .hover_primary_button = primary_active,
        .pressed_primary_button = primary_active,
        .secondary_button = secondary,
        .hover_secondary_button = secondary_active,
        .pressed_secondary_button = secondary_active,
    };
}

Palette ChoosePalette(bool high_contrast_on, const SystemColours& system) {
    return high_contrast_on ? HighContrastPalette(system) : kNormalPalette;
}

}  // namespace quorvane
