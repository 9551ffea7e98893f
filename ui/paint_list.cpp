#include "ui/paint_list.h"

#include "pipeline/steps.h"

#include <algorithm>
#include <utility>

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
    list.Text(L"澜岫", places.title, FontRole::Title, colours.title_text, kTextLeft);
    list.Text(L"联网获取最新版并自动完成安装", places.subtitle, FontRole::Body, colours.muted_text, kTextLeft);
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
    list.Text(L"当前系统：", places.current_system_label, FontRole::Body, colours.muted_text, kTextLeft);
    list.Text(in.display.system_name, places.current_system, FontRole::Headline, colours.strong_text, kTextLeft);
    list.Text(L"支持系统：", places.supported_systems_label, FontRole::Body, colours.muted_text, kTextLeft);
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
    list.Text(L"安装完成后自动运行", AutoRunLabelRect(control), FontRole::Body,
              hover ? colours.hover_box_label : colours.box_label, kTextLeft);
    if (in.focus_cue == WindowControl::AutoRunBox) {
        list.FocusRing({l + 22, t + 4, control.right, control.bottom - 4}, 5, colours.box_focus_ring);
    }
}

void AddButtons(PaintList& list, const PaintInputs& in) {
    const RunState state = in.display.state;
    const bool finished_run = state == RunState::Cancelled || state == RunState::Failed;
    if (finished_run) {
        list.Button(in.layout.close_button, L"关闭",
                    LookOf(in, true, false, in.interaction.close_hover, in.interaction.close_pressed),
                    in.focus_cue == WindowControl::CloseButton);
    }
    const bool enabled = IsPrimaryEnabled(state, in.cancel_requested);
    list.Button(in.layout.primary_button, PrimaryCaption(state, in.cancel_requested),
                LookOf(in, enabled, finished_run, in.interaction.primary_hover, in.interaction.primary_pressed),
                enabled && in.focus_cue == WindowControl::PrimaryButton);
}

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

PanelRects PanelRectsFor(std::int32_t width) {
    const std::int32_t w = width;
    return PanelRects{
        .title = {80, 12, w - 28, 41},
        .subtitle = {80, 40, w - 28, 65},
        .headline = {44, 106, w - 44, 134},
        .status_line = {44, 136, w - 44, 160},
        .bar_track = {44, 170, w - 94, 178},
        .percent = {w - 84, 161, w - 44, 187},
        .current_system_label = {44, 152, 138, 178},
        .current_system = {138, 152, w - 44, 178},
        .supported_systems_label = {44, 188, 138, 214},
        .supported_systems = {138, 186, w - 44, 238},
    };
}

ClientRect AutoRunLabelRect(const ClientRect& auto_run_box) {
    return {auto_run_box.left + 27, auto_run_box.top, auto_run_box.right, auto_run_box.bottom};
}

Headline HeadlineFor(RunState state, bool cancel_requested, bool installer_running, std::int32_t percent,
                     const Palette& palette) {
    switch (state) {
        case RunState::Unsupported: return {L"当前系统无法安装", palette.headline_text};
        case RunState::Failed: return {L"安装遇到问题", palette.failed_headline_text};
        case RunState::Cancelled: return {L"安装已取消", palette.cancelled_headline_text};
        case RunState::Finished: return {L"安装完成", palette.finished_headline_text};
        case RunState::Running: break;
    }
    if (cancel_requested) return {installer_running ? L"正在完成当前安装" : L"正在取消安装", palette.headline_text};
    return {StepLabel(StepForPercent(percent)), palette.headline_text};
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

std::wstring PercentText(std::int32_t percent) {
    return std::to_wstring(std::clamp(percent, std::int32_t{0}, std::int32_t{100})) + L"%";
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
