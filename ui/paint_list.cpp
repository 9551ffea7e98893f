#include "ui/paint_list.h"

#include <algorithm>
#include <utility>

#include "ui/window_texts.h"

namespace quorvane {
namespace {

// The focus cue: a 2-unit ring 3 units inside a button, or round the check box's label.
constexpr std::int32_t kFocusRingWidth = 2;
constexpr std::int32_t kFocusRingInset = 3;

class PaintList {
public:
    explicit PaintList(bool gdiplus_text) : gdiplus_text_(gdiplus_text) {}

    void FillRect(ClientRect rect, Colour colour) { Shape(DrawKind::FillRect, rect, 0, colour); }
    void FillRoundRect(ClientRect rect, std::int32_t corner, Colour colour) {
        Shape(DrawKind::FillRoundRect, rect, corner, colour);
    }
    void FrameRoundRect(ClientRect rect, std::int32_t corner, Colour colour) {
        Shape(DrawKind::FrameRoundRect, rect, corner, colour);
    }
    void Text(std::wstring text, ClientRect rect, FontRole font, Colour colour, std::uint32_t format) {
        DrawOperation& operation = Add(DrawKind::Text, rect);
        operation.colour = colour;
        operation.text = std::move(text);
        operation.font = font;
        operation.format = format;
        operation.gdiplus_text = gdiplus_text_;
    }
    void Image(DrawKind kind, ClientRect rect) { Add(kind, rect); }
    void Polyline(std::vector<ClientPoint> points, Colour colour, std::int32_t pen_width) {
        DrawOperation& operation = Add(DrawKind::Polyline, {});
        operation.colour = colour;
        operation.points = std::move(points);
        operation.pen_width = pen_width;
    }
    void FocusRing(ClientRect rect, std::int32_t corner, Colour colour) {
        DrawOperation& operation = Add(DrawKind::FocusRing, rect);
        operation.corner = corner;
        operation.colour = colour;
        operation.pen_width = kFocusRingWidth;
    }
    void Button(ClientRect rect, const wchar_t* caption, const ButtonLook& look, bool focused) {
        FillRoundRect(rect, 7, look.fill);
        FrameRoundRect(rect, 7, look.border);
        Text(caption, rect, FontRole::Button, look.text, kTextCentred);
        if (focused) {
            const std::int32_t inset = kFocusRingInset;
            FocusRing({rect.left + inset, rect.top + inset, rect.right - inset, rect.bottom - inset}, 5, look.text);
        }
    }

    std::vector<DrawOperation> Take() { return std::move(operations_); }

private:
    DrawOperation& Add(DrawKind kind, ClientRect rect) {
        DrawOperation& operation = operations_.emplace_back();
        operation.kind = kind;
        operation.rect = rect;
        return operation;
    }
    void Shape(DrawKind kind, ClientRect rect, std::int32_t corner, Colour colour) {
        DrawOperation& operation = Add(kind, rect);
        operation.corner = corner;
        operation.colour = colour;
    }

    bool gdiplus_text_;
    std::vector<DrawOperation> operations_;
};

void AddHeaderAndCard(PaintList& list, const PaintInputs& in, const PanelRects& places) {
    const std::int32_t w = in.width;
    const std::int32_t h = in.height;
    const Palette& colours = in.palette;
    list.FillRect({0, 0, w, h}, colours.window_background);
    list.FillRect({0, 0, w, 76}, colours.header);
    list.FillRect({0, 75, w, 76}, colours.header_rule);
    if (in.has_logo) {
        list.Image(DrawKind::Logo, {28, 18, 68, 58});
    } else if (in.has_icon) {
        list.Image(DrawKind::Icon, {28, 18, 68, 58});
    }
    list.Text(kProductTitle, places.title, FontRole::Title, colours.title_text, kTextLeft);
    list.Text(kProductSubtitle, places.subtitle, FontRole::Body, colours.muted_text, kTextLeft);
    list.FillRoundRect({24, 92, w - 24, h - 70}, 8, colours.card);
    list.FrameRoundRect({24, 92, w - 24, h - 70}, 8, colours.card_frame);
    const Headline headline =
        HeadlineFor(in.display.state, in.cancel_requested, in.installer_running, in.display.percent, colours);
    list.Text(headline.text, places.headline, FontRole::Headline, headline.colour, kTextLeft);
}

ButtonLook LookOf(const PaintInputs& in, bool enabled, bool primary_style, bool hover, bool pressed) {
    return ButtonLookFor(enabled, primary_style, pressed, hover, in.palette);
}

void AddSystemPanel(PaintList& list, const PaintInputs& in, const PanelRects& places) {
    const Palette& colours = in.palette;
    list.Text(kCurrentSystemLabel, places.current_system_label, FontRole::Body, colours.muted_text, kTextLeft);
    list.Text(in.display.system_name, places.current_system, FontRole::Headline, colours.strong_text, kTextLeft);
    list.Text(kSupportedSystemsLabel, places.supported_systems_label, FontRole::Body, colours.muted_text, kTextLeft);
    list.Text(in.display.status_line, places.supported_systems, FontRole::Body, colours.body_text, kTextMultiLine);
    list.Button(in.layout.primary_button, PrimaryCaption(in.display.state, in.cancel_requested),
                LookOf(in, true, false, in.interaction.primary_hover, in.interaction.primary_pressed),
                in.focus_cue == WindowControl::PrimaryButton);
}

Colour BarColour(RunState state, const Palette& colours) {
    if (state == RunState::Failed) return colours.failed_bar_fill;
    if (state == RunState::Cancelled) return colours.cancelled_bar_fill;
    return colours.bar_fill;
}

void AddProgressPanel(PaintList& list, const PaintInputs& in, const PanelRects& places) {
    const Palette& colours = in.palette;
    list.Text(in.display.status_line, places.status_line, FontRole::Body, colours.body_text, kTextEllipsis);
    list.FillRoundRect(places.bar_track, 12, colours.bar_track);
    // The track's own outline needs no second drawing in the window's own colours.
    if (colours.bar_track_frame != colours.bar_track) list.FrameRoundRect(places.bar_track, 12, colours.bar_track_frame);
    const std::int32_t fill = BarFillWidth(in.width, in.display.percent);
    const ClientRect& track = places.bar_track;
    if (fill > 0) {
        list.FillRoundRect({track.left, track.top, track.left + fill, track.bottom}, 12,
                           BarColour(in.display.state, colours));
    }
    list.Text(PercentText(in.display.percent), places.percent, FontRole::Body, colours.body_text, kTextRight);
}

void AddAutoRunBox(PaintList& list, const PaintInputs& in) {
    const Palette& colours = in.palette;
    const ClientRect& control = in.layout.auto_run_box;
    const std::int32_t l = control.left;
    const std::int32_t t = control.top;
    const bool on = in.launch_after_install;
    const bool hover = in.interaction.auto_run_hover;
    const bool pressed = in.interaction.auto_run_pressed;
    const Colour fill = pressed ? (on ? colours.pressed_box_fill_on : colours.pressed_box_fill_off)
                                : (on ? colours.box_fill_on : colours.box_fill_off);
    const Colour border =
        on ? colours.box_border_on : (hover && !pressed ? colours.hover_box_border_off : colours.box_border_off);
    const ClientRect box{l, t + 6, l + 18, t + 24};
    list.FillRoundRect(box, 5, fill);
    list.FrameRoundRect(box, 5, border);
    if (on) list.Polyline({{l + 4, t + 15}, {l + 8, t + 19}, {l + 14, t + 11}}, colours.check_mark, 2);
    list.Text(kAutoRunLabel, AutoRunLabelRect(control), FontRole::Body,
              hover ? colours.hover_box_label : colours.box_label, kTextLeft);
    if (in.focus_cue == WindowControl::AutoRunBox) {
        list.FocusRing({l + 22, t + 4, control.right, control.bottom - 4}, 5, colours.box_focus_ring);
    }
}

void AddButtons(PaintList& list, const PaintInputs& in) {
    const RunState state = in.display.state;
    const bool finished_run = state == RunState::Cancelled || state == RunState::Failed;
    if (finished_run) {
        list.Button(in.layout.close_button, kCloseCaption,
                    LookOf(in, true, false, in.interaction.close_hover, in.interaction.close_pressed),
                    in.focus_cue == WindowControl::CloseButton);
    }
    const bool enabled = IsPrimaryEnabled(state, in.cancel_requested);
    list.Button(in.layout.primary_button, PrimaryCaption(state, in.cancel_requested),
                LookOf(in, enabled, finished_run, in.interaction.primary_hover, in.interaction.primary_pressed),
                enabled && in.focus_cue == WindowControl::PrimaryButton);
}

}  // namespace

Headline HeadlineFor(RunState state, bool cancel_requested, bool installer_running, std::int32_t percent,
                     const Palette& palette) {
    const wchar_t* const text = HeadlineText(state, cancel_requested, installer_running, percent);
    switch (state) {
        case RunState::Failed: return {text, palette.failed_headline_text};
        case RunState::Cancelled: return {text, palette.cancelled_headline_text};
        case RunState::Finished: return {text, palette.finished_headline_text};
        case RunState::Unsupported:
        case RunState::Running: break;
    }
    return {text, palette.headline_text};
}

ButtonLook ButtonLookFor(bool enabled, bool primary_style, bool pressed, bool hover, const Palette& palette) {
    if (!enabled) return palette.disabled_button;
    if (primary_style) {
        if (pressed) return palette.pressed_primary_button;
        if (hover) return palette.hover_primary_button;
        return palette.primary_button;
    }
    if (pressed) return palette.pressed_secondary_button;
    if (hover) return palette.hover_secondary_button;
    return palette.secondary_button;
}

std::int32_t BarFillWidth(std::int32_t client_width, std::int32_t percent) {
    if (percent <= 0) return 0;
    const std::int32_t product = (client_width - 138) * std::min(percent, std::int32_t{100});
    // A started bar is never narrower than its rounded ends.
    return product <= 699 ? 6 : product / 100;
}

std::vector<DrawOperation> BuildPaintList(const PaintInputs& inputs) {
    const bool unsupported = inputs.display.state == RunState::Unsupported;
    const PanelRects places = PanelRectsFor(inputs.width);
    PaintList list(!unsupported && inputs.gdiplus_running);
    AddHeaderAndCard(list, inputs, places);
    if (unsupported) {
        AddSystemPanel(list, inputs, places);
        return list.Take();
    }
    AddProgressPanel(list, inputs, places);
    if (inputs.display.state == RunState::Running && !inputs.cancel_requested) AddAutoRunBox(list, inputs);
    AddButtons(list, inputs);
    return list.Take();
}

void ScalePaintList(std::vector<DrawOperation>& operations, const DpiScale& scale, ClientSize client_units,
                    ClientSize client_pixels) {
    const auto x = [&](std::int32_t units) {
        return units == client_units.width ? client_pixels.width : scale.Length(units);
    };
    const auto y = [&](std::int32_t units) {
        return units == client_units.height ? client_pixels.height : scale.Length(units);
    };
    for (DrawOperation& operation : operations) {
        ClientRect& r = operation.rect;
        r = {x(r.left), y(r.top), x(r.right), y(r.bottom)};
        for (ClientPoint& point : operation.points) point = {x(point.x), y(point.y)};
        operation.corner = scale.Length(operation.corner);
        operation.pen_width = scale.Length(operation.pen_width);
    }
}

}  // namespace quorvane
