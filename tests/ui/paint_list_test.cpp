#include "ui/paint_list.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace quorvane {
namespace {

constexpr std::int32_t kWidth = 604;  // client area of the 620 x 330 window
constexpr std::int32_t kHeight = 291;

// A white-on-black high-contrast scheme whose colours all differ.
constexpr SystemColours kContrastScheme{.window = 0x000000, .window_text = 0xFFFFFF, .gray_text = 0x3FF23F,
                                        .button_face = 0x101010, .button_text = 0xEEEEEE, .highlight = 0x1AEBFF,
                                        .highlight_text = 0x020202};

struct Scene {
    DisplayState display;
    bool cancel_requested = false;
    bool installer_running = false;
    bool launch_after_install = true;
    InteractionFlags interaction;
    bool gdiplus_running = true;
    bool has_logo = true;
    bool has_icon = true;
    std::int32_t width = kWidth;
    std::int32_t height = kHeight;
    Palette palette = NormalPalette();
    WindowControl focus_cue = WindowControl::None;

    std::vector<DrawOperation> Paint() const {
        return BuildPaintList(PaintInputs{width, height, display, cancel_requested, installer_running,
                                          launch_after_install, LayoutControls(width, height), interaction,
                                          gdiplus_running, has_logo, has_icon, palette, focus_cue});
    }
};

Scene InState(RunState state, std::int32_t percent = 42) {
    Scene scene;
    scene.display.state = state;
    scene.display.percent = percent;
    scene.display.status_line = L"状态";
    return scene;
}

std::optional<DrawOperation> TextAt(const std::vector<DrawOperation>& list, ClientRect rect) {
    for (const DrawOperation& operation : list) {
        if (operation.kind == DrawKind::Text && operation.rect == rect) return operation;
    }
    return std::nullopt;
}

bool HasText(const std::vector<DrawOperation>& list, const std::wstring& text) {
    return std::any_of(list.begin(), list.end(),
                       [&](const DrawOperation& operation) { return operation.kind == DrawKind::Text && operation.text == text; });
}

// The fill of the bar: the round rectangle that starts the track at (44, 170) and is not the track.
std::optional<DrawOperation> BarFill(const std::vector<DrawOperation>& list) {
    for (const DrawOperation& operation : list) {
        if (operation.kind == DrawKind::FillRoundRect && operation.rect.left == 44 && operation.rect.top == 170 &&
            operation.colour != 0xE2E8F0) {
            return operation;
        }
    }
    return std::nullopt;
}

struct HeadlineRow {
    RunState state;
    bool cancel_requested;
    bool installer_running;
    std::int32_t percent;
    const wchar_t* text;
    Colour colour;
};

TEST(PaintListTest, HeadlineForEveryRow) {
    const HeadlineRow rows[] = {
        {RunState::Unsupported, false, false, 0, L"当前系统无法安装", 0x0F172A},
        {RunState::Failed, true, true, 42, L"安装遇到问题", 0xB91C1C},
        {RunState::Cancelled, true, false, 42, L"安装已取消", 0xB45309},
        {RunState::Finished, false, false, 100, L"安装完成", 0x15803D},
        {RunState::Running, true, true, 76, L"正在完成当前安装", 0x0F172A},
        {RunState::Running, true, false, 20, L"正在取消安装", 0x0F172A},
        {RunState::Running, false, false, -1, L"获取安装信息", 0x0F172A},
        {RunState::Running, false, false, 17, L"获取安装信息", 0x0F172A},
        {RunState::Running, false, false, 18, L"下载程序", 0x0F172A},
        {RunState::Running, false, false, 69, L"下载程序", 0x0F172A},
        {RunState::Running, false, true, 70, L"安装程序", 0x0F172A},
        {RunState::Running, false, false, 81, L"安装程序", 0x0F172A},
        {RunState::Running, false, false, 82, L"下载号段", 0x0F172A},
        {RunState::Running, false, false, 94, L"下载号段", 0x0F172A},
        {RunState::Running, false, false, 95, L"安装号段", 0x0F172A},
        {RunState::Running, false, false, 98, L"安装号段", 0x0F172A},
        {RunState::Running, false, false, 99, L"启动程序", 0x0F172A},
        {RunState::Running, false, false, 150, L"启动程序", 0x0F172A},
    };
    for (const HeadlineRow& row : rows) {
        Scene scene = InState(row.state, row.percent);
        scene.cancel_requested = row.cancel_requested;
        scene.installer_running = row.installer_running;
        const auto headline = TextAt(scene.Paint(), {44, 106, kWidth - 44, 134});
        ASSERT_TRUE(headline.has_value());
        EXPECT_EQ(headline->text, row.text) << "percent " << row.percent;
        EXPECT_EQ(headline->colour, row.colour) << "percent " << row.percent;
        EXPECT_EQ(headline->font, FontRole::Headline);
    }
}

TEST(PaintListTest, BarFillWidthFollowsThePercent) {
    EXPECT_FALSE(BarFill(InState(RunState::Running, 0).Paint()).has_value());
    EXPECT_FALSE(BarFill(InState(RunState::Running, -1).Paint()).has_value());
    const std::pair<std::int32_t, std::int32_t> cases[] = {{1, 6}, {42, 195}, {100, 466}, {150, 466}};
    for (const auto& [percent, width] : cases) {
        const auto fill = BarFill(InState(RunState::Running, percent).Paint());
        ASSERT_TRUE(fill.has_value()) << percent;
        EXPECT_EQ(fill->rect, (ClientRect{44, 170, 44 + width, 178})) << percent;
        EXPECT_EQ(fill->corner, 12);
    }
    // At 100 % the fill ends where the track ends.
    EXPECT_EQ(44 + BarFillWidth(kWidth, 100), kWidth - 94);
    // Product 476 (a track of 476 pixels at 1 %) is still 6 pixels; 700 is 7.
    EXPECT_EQ(BarFillWidth(614, 1), 6);
    EXPECT_EQ(BarFillWidth(838, 1), 7);
}

TEST(PaintListTest, BarColourAndPercentText) {
    const std::pair<RunState, Colour> colours[] = {{RunState::Running, 0x2563EB},
                                                   {RunState::Finished, 0x2563EB},
                                                   {RunState::Failed, 0xDC2626},
                                                   {RunState::Cancelled, 0xD97706}};
    for (const auto& [state, colour] : colours) {
        EXPECT_EQ(BarFill(InState(state).Paint())->colour, colour);
    }
    const ClientRect percent_rect{kWidth - 84, 161, kWidth - 44, 187};
    EXPECT_EQ(TextAt(InState(RunState::Running, 42).Paint(), percent_rect)->text, L"42%");
    EXPECT_EQ(TextAt(InState(RunState::Running, 150).Paint(), percent_rect)->text, L"100%");
    EXPECT_EQ(TextAt(InState(RunState::Running, 0).Paint(), percent_rect)->format, kTextRight);
}

TEST(PaintListTest, ButtonLookForEveryRow) {
    struct Row {
        bool enabled, primary, pressed, hover;
        Colour fill, border, text;
    };
    const Row rows[] = {
        {false, true, true, true, 0xF1F5F9, 0xE2E8F0, 0x94A3B8},
        {false, false, false, false, 0xF1F5F9, 0xE2E8F0, 0x94A3B8},
        {true, true, true, false, 0x1D4ED8, 0x1D4ED8, 0xFFFFFF},
        {true, true, false, true, 0x2563EB, 0x2563EB, 0xFFFFFF},
        {true, true, false, false, 0x3B82F6, 0x3B82F6, 0xFFFFFF},
        {true, false, true, true, 0xE2E8F0, 0xCBD5E1, 0x1E293B},
        {true, false, false, true, 0xF8FAFC, 0x94A3B8, 0x1E293B},
        {true, false, false, false, 0xFFFFFF, 0xCBD5E1, 0x1E293B},
    };
    for (const Row& row : rows) {
        const ButtonLook look = ButtonLookFor(row.enabled, row.primary, row.pressed, row.hover);
        EXPECT_EQ(look.fill, row.fill);
        EXPECT_EQ(look.border, row.border);
        EXPECT_EQ(look.text, row.text);
    }
}

TEST(PaintListTest, ButtonsDrawnPerState) {
    const ControlLayout layout = LayoutControls(kWidth, kHeight);
    // A failed run: "关闭" in secondary style, then "重新安装" in primary style, pressed.
    Scene failed = InState(RunState::Failed);
    failed.interaction.primary_pressed = true;
    const auto list = failed.Paint();
    const auto close = TextAt(list, layout.close_button);
    ASSERT_TRUE(close.has_value());
    EXPECT_EQ(close->text, L"关闭");
    EXPECT_EQ(close->colour, 0x1E293B);
    const auto retry = TextAt(list, layout.primary_button);
    ASSERT_TRUE(retry.has_value());
    EXPECT_EQ(retry->text, L"重新安装");
    EXPECT_EQ(retry->format, kTextCentred);
    EXPECT_EQ(retry->font, FontRole::Button);
    EXPECT_EQ(list.back().kind, DrawKind::Text) << "the primary button is drawn last";
    const DrawOperation& fill = list[list.size() - 3];
    EXPECT_EQ(fill.kind, DrawKind::FillRoundRect);
    EXPECT_EQ(fill.colour, 0x1D4ED8);
    EXPECT_EQ(fill.corner, 7);

    // A pending cancel: the disabled "正在取消".
    Scene cancelling = InState(RunState::Running);
    cancelling.cancel_requested = true;
    const auto disabled = TextAt(cancelling.Paint(), layout.primary_button);
    EXPECT_EQ(disabled->text, L"正在取消");
    EXPECT_EQ(disabled->colour, 0x94A3B8);
}

TEST(PaintListTest, ElementsPresentInEachState) {
    const ControlLayout layout = LayoutControls(kWidth, kHeight);
    struct Row {
        RunState state;
        bool cancel_requested;
        bool box, close, bar;
    };
    const Row rows[] = {
        {RunState::Running, false, true, false, true},   {RunState::Running, true, false, false, true},
        {RunState::Finished, false, false, false, true}, {RunState::Cancelled, false, false, true, true},
        {RunState::Failed, false, false, true, true},    {RunState::Unsupported, false, false, false, false},
    };
    for (const Row& row : rows) {
        Scene scene = InState(row.state);
        scene.cancel_requested = row.cancel_requested;
        const auto list = scene.Paint();
        EXPECT_EQ(HasText(list, L"安装完成后自动运行"), row.box) << static_cast<int>(row.state);
        EXPECT_EQ(TextAt(list, layout.close_button).has_value(), row.close) << static_cast<int>(row.state);
        EXPECT_EQ(BarFill(list).has_value(), row.bar) << static_cast<int>(row.state);
        EXPECT_EQ(HasText(list, L"42%"), row.bar) << static_cast<int>(row.state);
        EXPECT_TRUE(TextAt(list, layout.primary_button).has_value());
    }
}

TEST(PaintListTest, HeaderAndCardComeFirst) {
    const auto list = InState(RunState::Running).Paint();
    ASSERT_GE(list.size(), 8u);
    EXPECT_EQ(list[0].rect, (ClientRect{0, 0, kWidth, kHeight}));
    EXPECT_EQ(list[0].colour, 0xF6F8FC);
    EXPECT_EQ(list[1].rect, (ClientRect{0, 0, kWidth, 76}));
    EXPECT_EQ(list[1].colour, 0xFFFFFF);
    EXPECT_EQ(list[2].rect, (ClientRect{0, 75, kWidth, 76}));
    EXPECT_EQ(list[2].colour, 0xE2E8F0);
    EXPECT_EQ(list[3].kind, DrawKind::Logo);
    EXPECT_EQ(list[3].rect, (ClientRect{28, 18, 68, 58}));
    EXPECT_EQ(list[4].text, L"澜岫");
    EXPECT_EQ(list[4].font, FontRole::Title);
    EXPECT_EQ(list[5].text, L"联网获取最新版并自动完成安装");
    EXPECT_EQ(list[6].kind, DrawKind::FillRoundRect);
    EXPECT_EQ(list[6].rect, (ClientRect{24, 92, kWidth - 24, kHeight - 70}));
    EXPECT_EQ(list[7].kind, DrawKind::FrameRoundRect);
    EXPECT_EQ(list[7].colour, 0xE2E8F0);
}

TEST(PaintListTest, LogoFallsBackToTheIconThenToNothing) {
    Scene scene = InState(RunState::Running);
    scene.has_logo = false;
    EXPECT_EQ(scene.Paint()[3].kind, DrawKind::Icon);
    scene.has_icon = false;
    EXPECT_EQ(scene.Paint()[3].kind, DrawKind::Text);
}

TEST(PaintListTest, TextPathFollowsGdiplusAndTheState) {
    const auto with_gdiplus = InState(RunState::Running).Paint();
    EXPECT_TRUE(TextAt(with_gdiplus, {80, 12, kWidth - 28, 41})->gdiplus_text);
    Scene without = InState(RunState::Running);
    without.gdiplus_running = false;
    EXPECT_FALSE(TextAt(without.Paint(), {80, 12, kWidth - 28, 41})->gdiplus_text);
    Scene unsupported = InState(RunState::Unsupported);
    for (const DrawOperation& operation : unsupported.Paint()) {
        if (operation.kind == DrawKind::Text) {
            EXPECT_FALSE(operation.gdiplus_text) << "GDI draws every text here";
        }
    }
}

TEST(PaintListTest, StatusLineFormats) {
    const auto running = InState(RunState::Running).Paint();
    EXPECT_EQ(TextAt(running, {44, 136, kWidth - 44, 160})->format, kTextEllipsis);
    Scene unsupported = InState(RunState::Unsupported);
    unsupported.display.system_name = L"Windows 8.1";
    unsupported.display.status_line = L"Windows 10 1809 及以上版本\nWindows 11（64 位）";
    const auto list = unsupported.Paint();
    EXPECT_EQ(TextAt(list, {138, 152, kWidth - 44, 178})->text, L"Windows 8.1");
    const auto systems = TextAt(list, {138, 186, kWidth - 44, 238});
    EXPECT_EQ(systems->format, kTextMultiLine);
    EXPECT_EQ(systems->text, unsupported.display.status_line);
    const auto close = TextAt(list, LayoutControls(kWidth, kHeight).primary_button);
    EXPECT_EQ(close->text, L"关闭");
    EXPECT_EQ(close->colour, 0x1E293B) << "secondary style";
}

TEST(PaintListTest, CheckBoxLooks) {
    struct Row {
        bool on, hover, pressed;
        Colour fill, border, label;
        bool tick;
    };
    const Row rows[] = {
        {true, false, false, 0x2563EB, 0x2563EB, 0x475569, true},
        {true, true, false, 0x2563EB, 0x2563EB, 0x1E40AF, true},
        {true, false, true, 0x1D4ED8, 0x2563EB, 0x475569, true},
        {false, false, false, 0xFFFFFF, 0xCBD5E1, 0x475569, false},
        {false, true, false, 0xFFFFFF, 0x94A3B8, 0x1E40AF, false},
        {false, true, true, 0xE2E8F0, 0xCBD5E1, 0x1E40AF, false},
    };
    const ClientRect box = LayoutControls(kWidth, kHeight).auto_run_box;
    const ClientRect square{box.left, box.top + 6, box.left + 18, box.top + 24};
    for (const Row& row : rows) {
        Scene scene = InState(RunState::Running);
        scene.launch_after_install = row.on;
        scene.interaction.auto_run_hover = row.hover;
        scene.interaction.auto_run_pressed = row.pressed;
        const auto list = scene.Paint();
        const auto fill = std::find_if(list.begin(), list.end(), [&](const DrawOperation& operation) {
            return operation.kind == DrawKind::FillRoundRect && operation.rect == square;
        });
        ASSERT_NE(fill, list.end());
        EXPECT_EQ(fill->colour, row.fill);
        EXPECT_EQ((fill + 1)->kind, DrawKind::FrameRoundRect);
        EXPECT_EQ((fill + 1)->colour, row.border);
        const bool tick = (fill + 2)->kind == DrawKind::Polyline;
        EXPECT_EQ(tick, row.tick);
        const auto label = TextAt(list, {box.left + 27, box.top, box.right, box.bottom});
        EXPECT_EQ(label->colour, row.label);
        if (tick) {
            EXPECT_EQ((fill + 2)->points.size(), 3u);
            EXPECT_EQ((fill + 2)->points[1].y, box.top + 19);
            EXPECT_EQ((fill + 2)->pen_width, 2);
        }
    }
}

TEST(PaintListTest, ScaledListKeepsTouchingEdgesAndCoversTheClientArea) {
    Scene scene = InState(RunState::Running, 1);
    std::vector<DrawOperation> list = scene.Paint();
    const std::vector<DrawOperation> units = list;
    // A client area one pixel wider and taller than 604 x 291 scaled to 150 %.
    ScalePaintList(list, DpiScale{144}, {kWidth, kHeight}, {907, 438});
    ASSERT_EQ(list.size(), units.size());
    EXPECT_EQ(list[0].rect, (ClientRect{0, 0, 907, 438}));  // the background
    EXPECT_EQ(list[1].rect.bottom, list[2].rect.bottom);     // header and its rule end together
    EXPECT_EQ(list[2].rect.bottom - list[2].rect.top, 1);
    const std::optional<DrawOperation> fill = BarFill(units);
    ASSERT_TRUE(fill.has_value());
    const auto scaled_fill = std::find_if(list.begin(), list.end(), [&](const DrawOperation& operation) {
        return operation.kind == DrawKind::FillRoundRect && operation.rect.left == 66 && operation.colour == 0x2563EB;
    });
    ASSERT_NE(scaled_fill, list.end());
    EXPECT_EQ(scaled_fill->rect, (ClientRect{66, 255, 75, 267}));  // the 6-unit minimum, 9 pixels wide
    EXPECT_EQ(scaled_fill->corner, 18);
    const auto mark = std::find_if(list.begin(), list.end(),
                                   [](const DrawOperation& operation) { return operation.kind == DrawKind::Polyline; });
    ASSERT_NE(mark, list.end());
    EXPECT_EQ(mark->pen_width, 3);
    EXPECT_EQ(mark->points.front(), (ClientPoint{42, 384}));  // (24 + 4, 241 + 15) units
}

bool Inside(const ClientRect& inner, const ClientRect& outer) {
    return outer.left <= inner.left && inner.right <= outer.right && outer.top <= inner.top &&
           inner.bottom <= outer.bottom;
}

// A button as drawn: its fill, frame and caption colours, and its focus ring's
// colour (0 when it has none); nothing when the list does not draw it.
struct DrawnButton {
    Colour fill = 0, border = 0, text = 0, ring = 0;
    bool operator==(const DrawnButton&) const = default;
};

std::ostream& operator<<(std::ostream& out, const DrawnButton& drawn) {
    return out << std::hex << "fill " << drawn.fill << ", frame " << drawn.border << ", caption " << drawn.text
               << ", ring " << drawn.ring;
}

std::optional<DrawnButton> ButtonAt(const std::vector<DrawOperation>& list, const ClientRect& rect) {
    std::optional<DrawnButton> drawn;
    for (const DrawOperation& operation : list) {
        const bool ring = operation.kind == DrawKind::FocusRing && Inside(operation.rect, rect);
        if (operation.rect != rect && !ring) continue;
        if (!drawn) drawn.emplace();
        if (operation.kind == DrawKind::FillRoundRect) drawn->fill = operation.colour;
        if (operation.kind == DrawKind::FrameRoundRect) drawn->border = operation.colour;
        if (operation.kind == DrawKind::Text) drawn->text = operation.colour;
        if (ring) drawn->ring = operation.colour;
    }
    return drawn;
}

DrawnButton Drawn(const ButtonLook& look, bool focused) {
    return {look.fill, look.border, look.text, focused ? look.text : 0};
}

TEST(PaintListTest, EachButtonShowsHoverPressAndFocusInBothPalettes) {
    struct Style {
        ButtonLook Palette::*normal;
        ButtonLook Palette::*hover;
        ButtonLook Palette::*pressed;
    };
    const Style primary{&Palette::primary_button, &Palette::hover_primary_button, &Palette::pressed_primary_button};
    const Style secondary{&Palette::secondary_button, &Palette::hover_secondary_button,
                          &Palette::pressed_secondary_button};
    struct Case {
        RunState state;
        WindowControl control;
        const Style& style;
    };
    // 取消; 关闭 and 重新安装 of a failed run; 关闭 of a finished run and of the unsupported screen.
    const Case cases[] = {{RunState::Running, WindowControl::PrimaryButton, secondary},
                          {RunState::Failed, WindowControl::CloseButton, secondary},
                          {RunState::Failed, WindowControl::PrimaryButton, primary},
                          {RunState::Finished, WindowControl::PrimaryButton, secondary},
                          {RunState::Unsupported, WindowControl::PrimaryButton, secondary}};
    const ControlLayout layout = LayoutControls(kWidth, kHeight);
    for (const Palette& palette : {NormalPalette(), HighContrastPalette(kContrastScheme)}) {
        const bool contrast = palette.window_background == kContrastScheme.window;
        for (const Style* style : {&primary, &secondary}) {
            // Each look a user can tell apart; in high contrast a press shows as the hover does.
            const ButtonLook& normal = palette.*style->normal;
            const ButtonLook& hover = palette.*style->hover;
            const ButtonLook& pressed = palette.*style->pressed;
            EXPECT_NE(Drawn(hover, false), Drawn(normal, false)) << "contrast " << contrast;
            EXPECT_NE(Drawn(pressed, false), Drawn(normal, false)) << "contrast " << contrast;
            if (!contrast) EXPECT_NE(Drawn(pressed, false), Drawn(hover, false));
        }
        for (const Case& c : cases) {
            const bool close = c.control == WindowControl::CloseButton;
            const ClientRect& rect = close ? layout.close_button : layout.primary_button;
            // None, hovered, pressed and then also hovered (as under the mouse), focused.
            for (int look = 0; look < 5; ++look) {
                Scene scene = InState(c.state);
                scene.palette = palette;
                const bool hover = look == 1 || look == 3;
                const bool pressed = look == 2 || look == 3;
                if (close) {
                    scene.interaction.close_hover = hover;
                    scene.interaction.close_pressed = pressed;
                } else {
                    scene.interaction.primary_hover = hover;
                    scene.interaction.primary_pressed = pressed;
                }
                scene.focus_cue = look == 4 ? c.control : WindowControl::None;
                ButtonLook Palette::*expected = c.style.normal;
                if (look == 1) expected = c.style.hover;
                if (look == 2 || look == 3) expected = c.style.pressed;
                EXPECT_EQ(ButtonAt(scene.Paint(), rect), Drawn(palette.*expected, look == 4))
                    << "contrast " << contrast << ", state " << static_cast<int>(c.state) << ", look " << look;
            }
        }
    }
}

std::vector<DrawOperation> FocusRings(const std::vector<DrawOperation>& list) {
    std::vector<DrawOperation> rings;
    for (const DrawOperation& operation : list) {
        if (operation.kind == DrawKind::FocusRing) rings.push_back(operation);
    }
    return rings;
}

TEST(PaintListTest, FocusCueIsARingInsideTheFocusedControlOnly) {
    Scene scene = InState(RunState::Running);
    const ControlLayout layout = LayoutControls(kWidth, kHeight);
    EXPECT_TRUE(FocusRings(scene.Paint()).empty());
    scene.focus_cue = WindowControl::PrimaryButton;
    std::vector<DrawOperation> rings = FocusRings(scene.Paint());
    ASSERT_EQ(rings.size(), 1u);
    EXPECT_TRUE(Inside(rings[0].rect, layout.primary_button));
    EXPECT_EQ(rings[0].colour, 0x1E293Bu) << "in the caption's colour";
    EXPECT_EQ(rings[0].pen_width, 2);
    scene.focus_cue = WindowControl::AutoRunBox;
    rings = FocusRings(scene.Paint());
    ASSERT_EQ(rings.size(), 1u);
    EXPECT_TRUE(Inside(rings[0].rect, layout.auto_run_box));
    scene.cancel_requested = true;
    scene.focus_cue = WindowControl::PrimaryButton;
    EXPECT_TRUE(FocusRings(scene.Paint()).empty()) << "a disabled button shows no focus";
}

TEST(PaintListTest, HighContrastPaintsInTheSystemColoursAlone) {
    const SystemColours& system = kContrastScheme;
    const std::vector<Colour> allowed{system.window,      system.window_text, system.gray_text, system.button_face,
                                      system.button_text, system.highlight,   system.highlight_text};
    EXPECT_EQ(ChoosePalette(false, system).window_background, NormalPalette().window_background);
    // Every control in every look: none, hovered, pressed; the box on and off; each focused in turn.
    const InteractionFlags looks[] = {{}, {true, false, true, false, true, false}, {true, true, true, true, true, true}};
    const WindowControl focused[] = {WindowControl::AutoRunBox, WindowControl::CloseButton,
                                     WindowControl::PrimaryButton};
    for (const RunState state : {RunState::Running, RunState::Cancelled, RunState::Failed, RunState::Finished,
                                 RunState::Unsupported}) {
        for (int variant = 0; variant < 12; ++variant) {
            Scene scene = InState(state);
            scene.cancel_requested = variant % 2 == 1;
            scene.launch_after_install = variant % 4 < 2;
            scene.interaction = looks[variant % 3];
            scene.focus_cue = focused[variant % 3];
            scene.palette = ChoosePalette(true, system);
            for (const DrawOperation& operation : scene.Paint()) {
                if (operation.kind == DrawKind::Logo || operation.kind == DrawKind::Icon) continue;
                EXPECT_NE(std::count(allowed.begin(), allowed.end(), operation.colour), 0)
                    << "a fixed colour in high contrast: " << std::hex << operation.colour;
            }
        }
    }
    // Enabled and disabled buttons, and the bar's track and fill, stay apart.
    const Palette palette = HighContrastPalette(system);
    EXPECT_NE(ButtonLookFor(false, false, false, false, palette).text, ButtonLookFor(true, false, false, false, palette).text);
    EXPECT_NE(ButtonLookFor(false, true, false, false, palette).fill, ButtonLookFor(true, true, false, false, palette).fill);
    Scene running = InState(RunState::Running);
    running.palette = palette;
    const std::vector<DrawOperation> list = running.Paint();
    const ClientRect track = PanelRectsFor(kWidth).bar_track;
    const auto has = [&](DrawKind kind, ClientRect rect, Colour colour) {
        return std::any_of(list.begin(), list.end(), [&](const DrawOperation& operation) {
            return operation.kind == kind && operation.rect == rect && operation.colour == colour;
        });
    };
    EXPECT_TRUE(has(DrawKind::FillRoundRect, track, system.window));
    EXPECT_TRUE(has(DrawKind::FrameRoundRect, track, system.window_text)) << "the track is framed";
    EXPECT_TRUE(has(DrawKind::FillRoundRect, {track.left, track.top, track.left + BarFillWidth(kWidth, 42), track.bottom},
                    system.highlight));
}

}  // namespace
}  // namespace quorvane
