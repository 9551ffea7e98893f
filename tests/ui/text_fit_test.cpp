// Every fixed text of every screen fits its rectangle at every display scale:
// measured with the real fonts (the prefix maps the window's faces to an
// installed CJK font), the painting's own formats and text path, in the
// rectangles of the scaled painting list. Only the status line may end in an
// ellipsis. Each font grows with the scale as the rectangles do.

#include <gtest/gtest.h>

#include <set>
#include <tuple>

#include "files/text.h"
#include "ui/display_state.h"
#include "ui/gdiplus_session.h"
#include "ui/paint.h"

namespace quorvane {
namespace {

// The client area of the 620 x 330 window on Windows 10 at 96 DPI, the
// smallest of the systems the window meets.
constexpr ClientSize kClientUnits{604, 291};
constexpr std::int32_t kUnsupportedExtra = 50;

struct Screen {
    RunState state;
    std::int32_t percent;
    bool cancel_requested;
    bool installer_running;
};

std::vector<DrawOperation> ScaledList(const Screen& screen, DisplayState& display, int dpi) {
    display.state = screen.state;
    display.percent = screen.percent;
    display.status_line = screen.state == RunState::Unsupported ? L"Windows 10 1809 及以上版本\nWindows 11（64 位）"
                                                                : L"状态";
    display.system_name = L"Windows 8.1";
    const ClientSize units{kClientUnits.width,
                           kClientUnits.height + (screen.state == RunState::Unsupported ? kUnsupportedExtra : 0)};
    const DpiScale scale{dpi};
    std::vector<DrawOperation> list = BuildPaintList(PaintInputs{
        units.width, units.height, display, screen.cancel_requested, screen.installer_running, true,
        LayoutControls(units.width, units.height), {}, true, true, true});
    ScalePaintList(list, scale, units, scale.Size(units));
    return list;
}

int CellHeight(HDC dc, HFONT font) {
    const SelectGuard select_font(dc, font);
    TEXTMETRICW metrics{};
    return GetTextMetricsW(dc, &metrics) ? metrics.tmHeight : 0;
}

class TextFitTest : public ::testing::TestWithParam<int> {
protected:
    static void SetUpTestSuite() { StartGdiplus(); }
};

TEST_P(TextFitTest, EveryFixedTextFitsItsScaledRectangle) {
    const int dpi = GetParam();
    ASSERT_NE(gdiplus_token, 0u);
    const UniqueMemoryDc dc(CreateCompatibleDC(nullptr));
    ASSERT_TRUE(dc);
    // Every headline: each step of a run, the two cancelling texts and each outcome.
    const Screen screens[] = {
        {RunState::Running, 5, false, false},   {RunState::Running, 20, false, false},
        {RunState::Running, 75, false, false},  {RunState::Running, 85, false, false},
        {RunState::Running, 96, false, false},  {RunState::Running, 100, false, false},
        {RunState::Running, 50, true, true},    {RunState::Running, 50, true, false},
        {RunState::Finished, 100, false, false}, {RunState::Cancelled, 100, false, false},
        {RunState::Failed, 100, false, false},  {RunState::Unsupported, 0, false, false},
    };
    std::set<std::tuple<std::wstring, std::int32_t, std::int32_t>> measured;
    for (const Screen& screen : screens) {
        DisplayState display;
        const PaintResources resources = CreatePaintResources(screen.state, dpi);
        for (const DrawOperation& text : ScaledList(screen, display, dpi)) {
            // The status line is the one text that may end in an ellipsis.
            if (text.kind != DrawKind::Text || text.format == kTextEllipsis) continue;
            if (!measured.emplace(text.text, text.rect.left, text.rect.top).second) continue;
            const SIZE needed = MeasureTextInRect(dc.get(), text.text.c_str(), FontFor(resources, text.font),
                                                  text.format, text.gdiplus_text);
            const std::int32_t width = text.rect.right - text.rect.left;
            const std::int32_t height = text.rect.bottom - text.rect.top;
            ASSERT_GT(needed.cx, 0) << WideToUtf8(text.text) << " was not measured";
            EXPECT_LE(needed.cx, width) << "at " << dpi << " DPI \"" << WideToUtf8(text.text) << "\" needs "
                                        << needed.cx << " pixels across, its rectangle has " << width;
            EXPECT_LE(needed.cy, height) << "at " << dpi << " DPI \"" << WideToUtf8(text.text) << "\" needs "
                                         << needed.cy << " pixels down, its rectangle has " << height;
        }
    }
    // Smaller text fits all the better: each font must also grow with the scale.
    const PaintResources unit = CreatePaintResources(RunState::Running, kUnitDpi);
    const PaintResources scaled = CreatePaintResources(RunState::Running, dpi);
    for (const FontRole role : {FontRole::Title, FontRole::Headline, FontRole::Body, FontRole::Button}) {
        const int unit_height = CellHeight(dc.get(), FontFor(unit, role));
        EXPECT_NEAR(CellHeight(dc.get(), FontFor(scaled, role)), unit_height * dpi / double{kUnitDpi}, 2.0)
            << "at " << dpi << " DPI the font of role " << static_cast<int>(role) << " has not grown from its "
            << unit_height << " pixels at 96 DPI with the scale";
    }
    // Title, subtitle, 6 step labels, 2 cancelling texts, 4 outcomes, 4 captions
    // at the primary button, 关闭 at the close button, the box label, the percent
    // (0% to 100%) and the unsupported screen's 4 texts.
    EXPECT_GE(measured.size(), 24u);
}

// The guard puts back what the context held, so that no object stays selected when it is deleted.
TEST(TextDrawingTest, SelectGuardRestoresThePreviousObject) {
    const UniqueMemoryDc dc(CreateCompatibleDC(nullptr));
    const HGDIOBJ before = GetCurrentObject(dc.get(), OBJ_FONT);
    {
        const UniqueFont font = CreateUiFont(kUnitDpi, 9, FW_NORMAL, L"Microsoft YaHei UI");
        const SelectGuard select(dc.get(), font.get());
        EXPECT_EQ(GetCurrentObject(dc.get(), OBJ_FONT), font.get());
    }
    EXPECT_EQ(GetCurrentObject(dc.get(), OBJ_FONT), before);
}

INSTANTIATE_TEST_SUITE_P(DisplayScales, TextFitTest, ::testing::Values(96, 120, 144, 168, 192),
                         [](const ::testing::TestParamInfo<int>& scale) { return std::to_string(scale.param); });

}  // namespace
}  // namespace quorvane
