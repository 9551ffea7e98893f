#include "ui/paint_list.h"

#include <algorithm>
#include <utility>

namespace quorvane {
namespace {

constexpr Colour kWindowBackground = 0xF6F8FC;
constexpr Colour kWhite = 0xFFFFFF;
constexpr Colour kRule = 0xE2E8F0;
constexpr Colour kInk = 0x0F172A;
constexpr Colour kStrongText = 0x1E293B;
constexpr Colour kBodyText = 0x475569;
constexpr Colour kMutedText = 0x64748B;
constexpr Colour kBlue = 0x2563EB;

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
    void Button(ClientRect rect, const wchar_t* caption, bool primary_style, bool enabled, bool hover, bool pressed) {
        const ButtonLook look = ButtonLookFor(enabled, primary_style, pressed, hover);
        FillRoundRect(rect, 7, look.fill);
        FrameRoundRect(rect, 7, look.border);
        Text(caption, rect, FontRole::Button, look.text, kTextCentred);
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

void AddHeaderAndCard(PaintList& list, const PaintInputs& in) {
    const std::int32_t w = in.width;
    const std::int32_t h = in.height;
    list.FillRect({0, 0, w, h}, kWindowBackground);
    list.FillRect({0, 0, w, 76}, kWhite);
    list.FillRect({0, 75, w, 76}, kRule);
    if (in.has_logo) {
        list.Image(DrawKind::Logo, {28, 18, 68, 58});
    } else if (in.has_icon) {
        list.Image(DrawKind::Icon, {28, 18, 68, 58});
    }
    list.Text(L"澜岫", {80, 12, w - 28, 41}, FontRole::Title, kInk, kTextLeft);
    list.Text(L"联网获取最新版并自动完成安装", {80, 40, w - 28, 65}, FontRole::Body, kMutedText, kTextLeft);
    list.FillRoundRect({24, 92, w - 24, h - 70}, 8, kWhite);
    list.FrameRoundRect({24, 92, w - 24, h - 70}, 8, kRule);
    const Headline headline =
        HeadlineFor(in.display.state, in.cancel_requested, in.installer_running, in.display.percent);
    list.Text(headline.text, {44, 106, w - 44, 134}, FontRole::Headline, headline.colour, kTextLeft);
}

void AddSystemPanel(PaintList& list, const PaintInputs& in) {
    const std::int32_t w = in.width;
    list.Text(L"当前系统：", {44, 152, 138, 178}, FontRole::Body, kMutedText, kTextLeft);
    list.Text(in.display.system_name, {138, 152, w - 44, 178}, FontRole::Headline, kStrongText, kTextLeft);
    list.Text(L"支持系统：", {44, 188, 138, 214}, FontRole::Body, kMutedText, kTextLeft);
    list.Text(in.display.status_line, {138, 186, w - 44, 238}, FontRole::Body, kBodyText, kTextMultiLine);
    list.Button(in.layout.primary_button, PrimaryCaption(in.display.state, in.cancel_requested), false, true,
                in.interaction.primary_hover, in.interaction.primary_pressed);
}

Colour BarColour(RunState state) {
    if (state == RunState::Failed) return 0xDC2626;
    if (state == RunState::Cancelled) return 0xD97706;
    return kBlue;
}

void AddProgressPanel(PaintList& list, const PaintInputs& in) {
    const std::int32_t w = in.width;
    list.Text(in.display.status_line, {44, 136, w - 44, 160}, FontRole::Body, kBodyText, kTextEllipsis);
    list.FillRoundRect({44, 170, w - 94, 178}, 12, kRule);
    const std::int32_t fill = BarFillWidth(w, in.display.percent);
    if (fill > 0) list.FillRoundRect({44, 170, 44 + fill, 178}, 12, BarColour(in.display.state));
    list.Text(PercentText(in.display.percent), {w - 84, 161, w - 44, 187}, FontRole::Body, kBodyText, kTextRight);
}

void AddAutoRunBox(PaintList& list, const PaintInputs& in) {
    const std::int32_t l = in.layout.auto_run_box.left;
    const std::int32_t t = in.layout.auto_run_box.top;
    const bool on = in.launch_after_install;
    const bool hover = in.interaction.auto_run_hover;
    const bool pressed = in.interaction.auto_run_pressed;
    const Colour fill = pressed ? (on ? 0x1D4ED8 : 0xE2E8F0) : (on ? kBlue : kWhite);
    const Colour border = on ? kBlue : (hover && !pressed ? 0x94A3B8 : 0xCBD5E1);
    const ClientRect box{l, t + 6, l + 18, t + 24};
    list.FillRoundRect(box, 5, fill);
    list.FrameRoundRect(box, 5, border);
    if (on) list.Polyline({{l + 4, t + 15}, {l + 8, t + 19}, {l + 14, t + 11}}, kWhite, 2);
    list.Text(L"安装完成后自动运行", {l + 27, t, in.layout.auto_run_box.right, in.layout.auto_run_box.bottom},
              FontRole::Body, hover ? 0x1E40AF : kBodyText, kTextLeft);
}

void AddButtons(PaintList& list, const PaintInputs& in) {
    const RunState state = in.display.state;
    const bool finished_run = state == RunState::Cancelled || state == RunState::Failed;
    if (finished_run) {
        list.Button(in.layout.close_button, L"关闭", false, true, in.interaction.close_hover,
                    in.interaction.close_pressed);
    }
    list.Button(in.layout.primary_button, PrimaryCaption(state, in.cancel_requested), finished_run,
                IsPrimaryEnabled(state, in.cancel_requested), in.interaction.primary_hover,
                in.interaction.primary_pressed);
}

}  // namespace

Headline HeadlineFor(RunState state, bool cancel_requested, bool installer_running, std::int32_t percent) {
    switch (state) {
        case RunState::Unsupported: return {L"当前系统无法安装", kInk};
        case RunState::Failed: return {L"安装遇到问题", 0xB91C1C};
        case RunState::Cancelled: return {L"安装已取消", 0xB45309};
        case RunState::Finished: return {L"安装完成", 0x15803D};
        case RunState::Running: break;
    }
    if (cancel_requested) return {installer_running ? L"正在完成当前安装" : L"正在取消安装", kInk};
    return {StepLabel(StepForPercent(percent)), kInk};
}

ButtonLook ButtonLookFor(bool enabled, bool primary_style, bool pressed, bool hover) {
    if (!enabled) return {0xF1F5F9, 0xE2E8F0, 0x94A3B8};
    if (primary_style) {
        if (pressed) return {0x1D4ED8, 0x1D4ED8, kWhite};
        if (hover) return {kBlue, kBlue, kWhite};
        return {0x3B82F6, 0x3B82F6, kWhite};
    }
    if (pressed) return {0xE2E8F0, 0xCBD5E1, kStrongText};
    if (hover) return {0xF8FAFC, 0x94A3B8, kStrongText};
    return {kWhite, 0xCBD5E1, kStrongText};
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
    PaintList list(!unsupported && inputs.gdiplus_running);
    AddHeaderAndCard(list, inputs);
    if (unsupported) {
        AddSystemPanel(list, inputs);
        return list.Take();
    }
    AddProgressPanel(list, inputs);
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
