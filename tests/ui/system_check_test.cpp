#include "ui/system_check.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "ui/window_parameters.h"

namespace quorvane {
namespace {

TEST(DescribeSystem, NamesKnownVersionsAndSpellsOutTheRest) {
    struct Case {
        std::uint32_t major, minor, build;
        const wchar_t* name;
    };
    const std::uint32_t max = std::numeric_limits<std::uint32_t>::max();
    const Case cases[] = {
        {6, 1, 7601, L"Windows 7"},     {6, 2, 9200, L"Windows 8"},   {6, 3, 9600, L"Windows 8.1"},
        {10, 0, 17762, L"Windows 10"},  {10, 7, 0, L"Windows 10"},    {6, 0, 6002, L"Windows 6.0"},
        {5, 1, 2600, L"Windows 5.1"},   {6, 4, 9841, L"Windows 6.4"}, {11, 0, 0, L"Windows 11.0"},
        {max, max, 0, L"Windows 4294967295.4294967295"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(DescribeSystem(c.major, c.minor, c.build), c.name) << c.major << "." << c.minor << "." << c.build;
    }
}

TEST(IsSupportedSystem, StartsAtWindows10Build17763) {
    struct Case {
        WindowsVersion version;
        bool supported;
    };
    const Case cases[] = {
        {{10, 0, 17762}, false}, {{10, 0, 17763}, true}, {{10, 0, 22631}, true}, {{10, 0, 0}, false},
        {{11, 0, 0}, true},      {{12, 3, 1}, true},     {{6, 3, 9600}, false},  {{6, 0, 6002}, false},
        {{0xFFFFFFFFu, 0, 0}, true},  // the major version is compared unsigned
    };
    for (const Case& c : cases) {
        EXPECT_EQ(IsSupportedSystem(c.version), c.supported)
            << c.version.major << "." << c.version.minor << "." << c.version.build;
    }
}

TEST(ApplySystemCheck, UnsupportedSystemGetsTheTallScreenWithBothSystems) {
    DisplayState display;
    display.percent = 37;
    ApplySystemCheck(WindowsVersion{6, 3, 9600}, display);
    EXPECT_EQ(display.state, RunState::Unsupported);
    EXPECT_EQ(display.percent, 0);
    EXPECT_EQ(display.system_name, L"Windows 8.1");
    EXPECT_EQ(display.status_line, L"Windows 10 1809 及以上版本\nWindows 11（64 位）");
    EXPECT_EQ(WindowOuterHeight(display.state), 380);

    DisplayState build_17762;
    ApplySystemCheck(WindowsVersion{10, 0, 17762}, build_17762);
    EXPECT_EQ(build_17762.state, RunState::Unsupported);
    EXPECT_EQ(build_17762.system_name, L"Windows 10");
}

TEST(ApplySystemCheck, SupportedOrUnknownSystemLeavesTheDisplayAsItStarts) {
    const std::optional<WindowsVersion> versions[] = {WindowsVersion{10, 0, 17763}, WindowsVersion{11, 0, 0},
                                                      std::nullopt};
    for (const auto& version : versions) {
        DisplayState display;
        ApplySystemCheck(version, display);
        EXPECT_EQ(display.state, RunState::Running);
        EXPECT_EQ(display.percent, 0);
        EXPECT_EQ(display.status_line, L"准备安装最新版澜岫");
        EXPECT_TRUE(display.system_name.empty());
        EXPECT_EQ(WindowOuterHeight(display.state), 330);
    }
}

}  // namespace
}  // namespace quorvane
