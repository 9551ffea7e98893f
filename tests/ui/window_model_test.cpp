// The window's promises, each with the check that holds it here (the real
// window's part: tests/ui/window_input.py):
// - Tab and Shift+Tab visit the controls that can act now in reading order,
//   round and round, none while a cancel is pending: TabAndShiftTabVisit...;
//   only the keyboard moves the focus: TheMouseLeavesTheFocusAlone; a control
//   that stops acting passes it on: SpaceActsOncePerPress...
// - a click, Space on the focused control (once per press) and a reader's
//   default action do the same, and only a control that can act offers one;
//   Enter presses the focused button, and on the box or before any Tab is the
//   primary action: EveryWayOfPressingAControl..., EnterKey, SpaceActsOnce...
// - Escape cancels a run, else closes; other keys go to the system; a close
//   request never ends a busy run: EscapeKey, OtherKeysGoToTheDefaultHandling,
//   CloseRequest, CloseRequestIsIgnoredWhileAWorkerIsStillBusy
// - each outcome is one alert on the headline, in front or not, with no key;
//   the unsupported screen is told once the window shows: ReadersAreToldEach...,
//   ReadersFindBothSystemsOnTheUnsupportedScreen
// - each control's look in each state and palette: paint_list_test.cpp
//   (EachButtonShowsHoverPressAndFocusInBothPalettes, CheckBoxLooks,
//   FocusCueIsARingInsideTheFocusedControlOnly, HighContrastPaints...)
#include "ui/window_model.h"

#include "ui/accessible_tree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <string>
#include <vector>

#include "ui/paint_list.h"

namespace quorvane {

void PrintTo(WindowControl control, std::ostream* out) {
    const char* const names[] = {"no control", "the auto-run box", "关闭", "the primary button"};
    *out << names[static_cast<int>(control)];
}

namespace {

// Records what the model asks of the window system. A run that starts
// behaves as the pipeline's start does: it takes the busy flag, clears the
// cancel flags and resets the display.
class FakeWindowSystem final : public WindowSystem {
public:
    void Repaint(const ClientRect* area) override { calls.push_back(area == nullptr ? "repaint all" : "repaint"); }
    void CaptureMouse() override {
        captured = true;
        calls.push_back("capture");
    }
    bool HoldsMouseCapture() const override { return captured; }
    void ReleaseMouse() override {
        captured = false;
        calls.push_back("release");
    }
    void TrackMouseLeave() override { calls.push_back("track leave"); }
    void ShowFocusCue() override {
        calls.push_back("show focus cue");
        if (model != nullptr) OnFocusCueChanged(*model, true);
    }
    void DestroyWindow() override { calls.push_back("destroy"); }
    void StartInstall() override {
        calls.push_back("start");
        if (model == nullptr || flags->busy.Exchange(true)) return;
        flags->cancel_requested.Exchange(false);
        flags->installer_running.Exchange(false);
        ResetDisplayForRun(*model);
    }

    bool Called(const std::string& call) const {
        for (const std::string& made : calls) {
            if (made == call) return true;
        }
        return false;
    }

    std::vector<std::string> calls;
    bool captured = false;
    WindowModel* model = nullptr;
    RunFlags* flags = nullptr;
};

class WindowModelTest : public ::testing::Test {
protected:
    WindowModelTest() {
        system.model = &model;
        system.flags = &flags;
    }

    // A supported window of 604 x 291 client pixels in the given state.
    void Show(RunState state, bool cancel_requested = false, bool installer_running = false) {
        display.state = state;
        display.percent = 42;
        display.status_line = L"正在下载安装程序";
        flags.busy.Exchange(state == RunState::Running);
        flags.cancel_requested.Exchange(cancel_requested);
        flags.installer_running.Exchange(installer_running);
        flags.launch_after_install.Exchange(true);
        system.calls.clear();
    }

    ClientPoint Centre(const ClientRect& rect) const {
        return {(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
    }
    ClientPoint PrimaryCentre() const { return Centre(model.layout.primary_button); }
    ClientPoint CloseCentre() const { return Centre(model.layout.close_button); }
    ClientPoint BoxCentre() const { return Centre(model.layout.auto_run_box); }

    void Click(ClientPoint point) {
        OnLeftButtonDown(model, point);
        OnLeftButtonUp(model, point);
    }

    DisplayState display;
    RunFlags flags;
    FakeWindowSystem system;
    WindowModel model{display, flags, system, LayoutControls(604, 291), {}, {}, {604, 291}, WindowControl::None, false};
};

TEST(LayoutControlsTest, PlacesTheControlsFromTheBottomRight) {
    const ControlLayout layout = LayoutControls(604, 291);
    EXPECT_EQ(layout.primary_button, (ClientRect{480, 242, 580, 274}));
    EXPECT_EQ(layout.close_button, (ClientRect{372, 242, 468, 274}));
    EXPECT_EQ(layout.auto_run_box, (ClientRect{24, 241, 280, 274}));
    // A narrow window shortens the box; a minimised one gives a zero-sized client area.
    EXPECT_EQ(LayoutControls(400, 291).auto_run_box.right, 150);
    EXPECT_EQ(LayoutControls(0, 0).auto_run_box, (ClientRect{24, -50, -250, -17}));
}

TEST(LayoutControlsTest, EdgesAreInclusiveAtTheTopLeftOnly) {
    const ClientRect rect{10, 20, 30, 40};
    EXPECT_TRUE(Contains(rect, {10, 20}));
    EXPECT_TRUE(Contains(rect, {29, 39}));
    EXPECT_FALSE(Contains(rect, {30, 39}));
    EXPECT_FALSE(Contains(rect, {29, 40}));
    EXPECT_FALSE(Contains(rect, {9, 25}));
}

TEST(DpiScaleTest, RoundsEachEdgeAndReadsBackTheUnits) {
    // What the system reports, with none (0 or a failure) read as the unit DPI.
    EXPECT_EQ((std::vector<std::int32_t>{UsableDpi(0), UsableDpi(-1), UsableDpi(1), UsableDpi(144),
                                         UsableDpi(INT32_MAX), UsableDpi(std::int64_t{1} << 32)}),
              (std::vector<std::int32_t>{kUnitDpi, kUnitDpi, 1, 144, INT32_MAX, kUnitDpi}));
    const DpiScale scale{144};
    EXPECT_EQ(scale.Length(75), 113);  // 112.5, half away from zero
    EXPECT_EQ(scale.Length(-75), -113);
    EXPECT_EQ(scale.Rect({0, 75, 614, 76}), (ClientRect{0, 113, 921, 114}));
    for (const std::int32_t dpi : {96, 120, 144, 168, 192, 240, 288}) {
        for (std::int32_t units = -400; units <= 1300; ++units) {
            ASSERT_EQ(DpiScale{dpi}.ToUnits(DpiScale{dpi}.Length(units)), units) << units << " units at " << dpi;
        }
    }
}

// One row of the table of what the window offers in each state.
struct StateRow {
    const char* name;
    RunState state;
    bool cancel_requested;
    const wchar_t* caption;
    bool primary_enabled;
    bool close_button;
    bool auto_run_box;
    const char* primary_action;  // what a click on the primary button does
    const char* escape;
    const char* enter;
    const char* close_request;
};

// "cancel": a cancel request is made; "": nothing happens.
const StateRow kStateRows[] = {
    {"running", RunState::Running, false, L"取消", true, false, true, "cancel", "cancel", "cancel", "cancel"},
    {"cancelling", RunState::Running, true, L"正在取消", false, false, false, "", "", "", ""},
    {"finished", RunState::Finished, false, L"关闭", true, false, false, "destroy", "destroy", "destroy", "destroy"},
    {"cancelled", RunState::Cancelled, false, L"重新安装", true, true, false, "start", "destroy", "start", "destroy"},
    {"failed", RunState::Failed, false, L"重新安装", true, true, false, "start", "destroy", "start", "destroy"},
    {"unsupported", RunState::Unsupported, false, L"关闭", true, false, false, "destroy", "destroy", "destroy",
     "destroy"},
};

void PrintTo(const StateRow& row, std::ostream* out) { *out << row.name; }

class StateTableTest : public WindowModelTest, public ::testing::WithParamInterface<StateRow> {
protected:
    // What the event did: "cancel" when it made the cancel request, "toggle"
    // when it flipped the auto-run option, "" when nothing.
    std::string Outcome() const {
        if (system.Called("destroy")) return "destroy";
        if (system.Called("start")) return "start";
        if (!GetParam().cancel_requested && flags.cancel_requested.Load()) return "cancel";
        if (!flags.launch_after_install.Load()) return "toggle";
        return "";
    }

    // What `act` does in a fresh window of the row's state with the focus on `focus`.
    template <typename Act>
    std::string Acting(WindowControl focus, Act act) {
        Show(GetParam().state, GetParam().cancel_requested);
        model.focus = focus;
        act();
        return Outcome();
    }
};

TEST_P(StateTableTest, ControlsMatchTheState) {
    const StateRow& row = GetParam();
    Show(row.state, row.cancel_requested);
    EXPECT_EQ(std::wstring(PrimaryCaption(display.state, row.cancel_requested)), row.caption);
    EXPECT_EQ(IsPrimaryEnabled(display.state, row.cancel_requested), row.primary_enabled);
    EXPECT_EQ(HitPrimaryButton(model, PrimaryCentre()), row.primary_enabled);
    EXPECT_EQ(HitCloseButton(model, CloseCentre()), row.close_button);
    EXPECT_EQ(HitAutoRunBox(model, BoxCentre()), row.auto_run_box);
    EXPECT_EQ(WantsHandCursor(model, PrimaryCentre()), row.primary_enabled);
    EXPECT_FALSE(WantsHandCursor(model, {300, 20})) << "the header is no control";
}

TEST_P(StateTableTest, PrimaryButtonClick) {
    Show(GetParam().state, GetParam().cancel_requested);
    Click(PrimaryCentre());
    EXPECT_EQ(Outcome(), GetParam().primary_action);
}

TEST_P(StateTableTest, EscapeKey) {
    Show(GetParam().state, GetParam().cancel_requested);
    EXPECT_TRUE(OnKeyDown(model, kKeyEscape));
    EXPECT_EQ(Outcome(), GetParam().escape);
}

TEST_P(StateTableTest, EnterKey) {
    Show(GetParam().state, GetParam().cancel_requested);
    EXPECT_TRUE(OnKeyDown(model, kKeyEnter));
    EXPECT_EQ(Outcome(), GetParam().enter);
}

TEST_P(StateTableTest, CloseRequest) {
    Show(GetParam().state, GetParam().cancel_requested);
    OnCloseRequest(model);
    EXPECT_EQ(Outcome(), GetParam().close_request);
}

TEST_P(StateTableTest, TabAndShiftTabVisitTheControlsThatCanActInReadingOrder) {
    const StateRow& row = GetParam();
    std::vector<WindowControl> order;
    if (row.auto_run_box) order.push_back(WindowControl::AutoRunBox);
    if (row.close_button) order.push_back(WindowControl::CloseButton);
    if (row.primary_enabled) order.push_back(WindowControl::PrimaryButton);
    for (const bool shift : {false, true}) {
        std::vector<WindowControl> expected = order;
        if (shift) std::reverse(expected.begin(), expected.end());
        expected.push_back(expected.empty() ? WindowControl::None : expected.front());  // and round again
        Show(row.state, row.cancel_requested);
        model.focus = WindowControl::None;
        std::vector<WindowControl> visited;
        for (std::size_t i = 0; i < expected.size(); ++i) {
            EXPECT_TRUE(OnKeyDown(model, kKeyTab, shift));
            visited.push_back(model.focus);
        }
        EXPECT_EQ(visited, expected) << (shift ? "Shift+Tab" : "Tab") << " from no focus";
    }
}

TEST_P(StateTableTest, EveryWayOfPressingAControlDoesWhatItsClickDoes) {
    const StateRow& row = GetParam();
    for (const WindowControl control :
         {WindowControl::AutoRunBox, WindowControl::CloseButton, WindowControl::PrimaryButton}) {
        SCOPED_TRACE(::testing::PrintToString(control));
        Show(row.state, row.cancel_requested);
        const bool available = IsControlAvailable(model, control);
        const std::vector<AccessibleItem> children = AccessibleChildren(model, false);
        const auto item = std::find_if(children.begin(), children.end(),
                                       [&](const AccessibleItem& child) { return child.control == control; });
        const auto child = static_cast<std::int32_t>(item - children.begin()) + 1;  // one past the last when absent
        EXPECT_EQ(item != children.end() && item->default_action != nullptr, available)
            << "a default action exactly where the control can act";
        const std::string click = Acting(WindowControl::None, [&] { Click(Centre(*ControlRect(model, control))); });
        EXPECT_EQ(Acting(WindowControl::None, [&] { OnAccessibleAction(model, child); }), click)
            << "a reader's default action";
        if (!available) {
            EXPECT_EQ(click, "") << "a control that cannot act";
            continue;
        }
        const char* const expected = control == WindowControl::AutoRunBox    ? "toggle"
                                     : control == WindowControl::CloseButton ? "destroy"
                                                                             : row.primary_action;
        EXPECT_EQ(click, expected);
        EXPECT_EQ(Acting(control, [&] { OnKeyDown(model, kKeySpace); }), click) << "Space on the focused control";
        EXPECT_EQ(Acting(control, [&] { OnKeyDown(model, kKeyEnter); }),
                  control == WindowControl::AutoRunBox ? row.enter : click)
            << "Enter presses the focused button; on the box it is the primary action";
    }
}

INSTANTIATE_TEST_SUITE_P(States, StateTableTest, ::testing::ValuesIn(kStateRows),
                         [](const ::testing::TestParamInfo<StateRow>& row) { return std::string(row.param.name); });

TEST_F(WindowModelTest, OtherKeysGoToTheDefaultHandling) {
    Show(RunState::Running);
    EXPECT_FALSE(OnKeyDown(model, 0x41));
    EXPECT_FALSE(flags.cancel_requested.Load());
}

TEST_F(WindowModelTest, CloseRequestIsIgnoredWhileAWorkerIsStillBusy) {
    Show(RunState::Failed);
    flags.busy.Exchange(true);
    OnCloseRequest(model);
    EXPECT_FALSE(system.Called("destroy"));
    EXPECT_FALSE(flags.cancel_requested.Load());
}

TEST_F(WindowModelTest, CancelTextDependsOnTheRunningInstaller) {
    Show(RunState::Running, false, true);
    RequestCancel(model);
    EXPECT_EQ(display.status_line, L"程序正在安装，完成当前步骤后将停止");
    EXPECT_TRUE(system.Called("repaint all"));

    Show(RunState::Running);
    RequestCancel(model);
    EXPECT_EQ(display.status_line, L"正在取消安装，请稍候");
}

TEST_F(WindowModelTest, SecondCancelRequestChangesNothing) {
    Show(RunState::Running);
    RequestCancel(model);
    flags.installer_running.Exchange(true);
    system.calls.clear();
    RequestCancel(model);
    OnKeyDown(model, kKeyEscape);
    OnKeyDown(model, kKeyEnter);
    OnCloseRequest(model);
    Click(PrimaryCentre());
    EXPECT_EQ(display.status_line, L"正在取消安装，请稍候");
    EXPECT_FALSE(system.Called("repaint all"));
    EXPECT_FALSE(system.Called("destroy"));
}

TEST_F(WindowModelTest, CancelOutsideARunDoesNothing) {
    Show(RunState::Failed);
    RequestCancel(model);
    EXPECT_FALSE(flags.cancel_requested.Load());
    EXPECT_EQ(display.status_line, L"正在下载安装程序");
}

TEST_F(WindowModelTest, RunningRecordsAfterACancelRequestAreDropped) {
    Show(RunState::Running);
    RequestCancel(model);
    system.calls.clear();
    ApplyProgressRecord(model, {68, RunState::Running, L"正在下载安装程序 90%"});
    EXPECT_EQ(display.percent, 42);
    EXPECT_EQ(display.status_line, L"正在取消安装，请稍候");
    EXPECT_EQ(display.state, RunState::Running);
    EXPECT_TRUE(system.calls.empty());
}

TEST_F(WindowModelTest, LastRecordIsAlwaysApplied) {
    for (const RunState last : {RunState::Cancelled, RunState::Failed, RunState::Finished}) {
        Show(RunState::Running, true);
        ApplyProgressRecord(model, {-1, last, L"最后一条"});
        EXPECT_EQ(display.state, last);
        EXPECT_EQ(display.status_line, L"最后一条");
        EXPECT_EQ(display.percent, 42) << "percent -1 keeps the shown percent";
        EXPECT_TRUE(system.Called("repaint all"));
    }
}

TEST_F(WindowModelTest, RecordsAreAppliedUnclamped) {
    Show(RunState::Running);
    ApplyProgressRecord(model, {150, RunState::Running, L"x"});
    EXPECT_EQ(display.percent, 150);
    ApplyProgressRecord(model, {0, RunState::Running, L"y"});
    EXPECT_EQ(display.percent, 0);
}

TEST_F(WindowModelTest, NewRunResetsTheDisplayButKeepsTheAutoRunLook) {
    Show(RunState::Failed);
    flags.busy.Exchange(false);
    flags.launch_after_install.Exchange(false);
    model.interaction = {true, true, true, true, true, true};
    OnKeyDown(model, kKeyEnter);
    EXPECT_EQ(display.state, RunState::Running);
    EXPECT_EQ(display.percent, 0);
    EXPECT_EQ(display.status_line, L"正在准备安装");
    EXPECT_FALSE(model.interaction.primary_hover || model.interaction.primary_pressed ||
                 model.interaction.close_hover || model.interaction.close_pressed);
    EXPECT_TRUE(model.interaction.auto_run_hover && model.interaction.auto_run_pressed);
    EXPECT_FALSE(flags.launch_after_install.Load());
}

TEST_F(WindowModelTest, PressDraggedOffTheButtonDoesNothing) {
    Show(RunState::Running);
    EXPECT_TRUE(OnLeftButtonDown(model, PrimaryCentre()));
    EXPECT_TRUE(model.interaction.primary_pressed);
    EXPECT_TRUE(system.captured);
    EXPECT_FALSE(OnLeftButtonUp(model, {PrimaryCentre().x, 10}));
    EXPECT_FALSE(model.interaction.primary_pressed) << "the pressed look ends at the release";
    EXPECT_FALSE(system.captured);
    EXPECT_FALSE(flags.cancel_requested.Load());
}

TEST_F(WindowModelTest, PressInTheBoxReleasedOnTheButtonDoesNothing) {
    Show(RunState::Running);
    OnLeftButtonDown(model, BoxCentre());
    EXPECT_TRUE(model.interaction.auto_run_pressed);
    EXPECT_FALSE(OnLeftButtonUp(model, PrimaryCentre()));
    EXPECT_TRUE(flags.launch_after_install.Load());
    EXPECT_FALSE(flags.cancel_requested.Load());
}

TEST_F(WindowModelTest, ClickInTheBoxTogglesTheAutoRunOption) {
    Show(RunState::Running);
    Click(BoxCentre());
    EXPECT_FALSE(flags.launch_after_install.Load());
    Click({BoxCentre().x + 100, BoxCentre().y});  // the label belongs to the box
    EXPECT_TRUE(flags.launch_after_install.Load());
}

TEST_F(WindowModelTest, ControlsFollowTheScaleToTheLastPixel) {
    model.scale = DpiScale{192};
    LayoutWindow(model, {1208, 582});  // 604 x 291 units at 200 %
    EXPECT_EQ(model.client_units, (ClientSize{604, 291}));
    EXPECT_EQ(model.layout.primary_button, (ClientRect{960, 484, 1160, 548}));
    Show(RunState::Running);
    Click({959, 500});  // one pixel left of 取消
    Click({1100, 548});  // one pixel below it
    EXPECT_FALSE(flags.cancel_requested.Load());
    Click({47, 500});  // one pixel left of the box
    EXPECT_TRUE(flags.launch_after_install.Load());
    Click({48, 500});
    EXPECT_FALSE(flags.launch_after_install.Load());
    Click({960, 500});
    EXPECT_TRUE(flags.cancel_requested.Load());
}

TEST_F(WindowModelTest, CloseButtonDestroysOnlyWithPressAndReleaseOnIt) {
    Show(RunState::Failed);
    OnLeftButtonDown(model, CloseCentre());
    OnLeftButtonUp(model, PrimaryCentre());
    EXPECT_FALSE(system.Called("destroy"));
    EXPECT_FALSE(system.Called("start"));
    Click(CloseCentre());
    EXPECT_TRUE(system.Called("destroy"));
}

TEST_F(WindowModelTest, PressOutsideTheControlsIsLeftToTheSystem) {
    Show(RunState::Running);
    EXPECT_FALSE(OnLeftButtonDown(model, {300, 150}));
    EXPECT_FALSE(system.captured);
    // The disabled button of a pending cancel takes no press either.
    Show(RunState::Running, true);
    EXPECT_FALSE(OnLeftButtonDown(model, PrimaryCentre()));
}

TEST_F(WindowModelTest, HoverAsksForOneLeaveNotificationPerChange) {
    Show(RunState::Running);
    OnMouseMove(model, PrimaryCentre());
    EXPECT_TRUE(model.interaction.primary_hover);
    EXPECT_EQ(system.calls, (std::vector<std::string>{"track leave", "repaint", "repaint", "repaint"}));
    system.calls.clear();
    OnMouseMove(model, {PrimaryCentre().x + 1, PrimaryCentre().y});
    EXPECT_TRUE(system.calls.empty()) << "no change, no repaint";
    OnMouseMove(model, BoxCentre());
    EXPECT_FALSE(model.interaction.primary_hover);
    EXPECT_TRUE(model.interaction.auto_run_hover);
    system.calls.clear();
    OnMouseLeave(model);
    EXPECT_FALSE(model.interaction.auto_run_hover);
    EXPECT_EQ(system.calls.size(), 3u);
    system.calls.clear();
    OnMouseLeave(model);
    EXPECT_TRUE(system.calls.empty());
}

TEST_F(WindowModelTest, TabMovesTheFocusOverTheControlsThatCanActInReadingOrder) {
    Show(RunState::Running);
    EXPECT_TRUE(OnKeyDown(model, kKeyTab));
    EXPECT_TRUE(system.Called("show focus cue")) << "the keyboard shows the focus cue from now on";
    EXPECT_EQ(model.focus, WindowControl::AutoRunBox);
    OnKeyDown(model, kKeyTab);
    EXPECT_EQ(model.focus, WindowControl::PrimaryButton) << "no close button while running";
    OnKeyDown(model, kKeyTab);
    EXPECT_EQ(model.focus, WindowControl::AutoRunBox) << "Tab wraps round";
    OnKeyDown(model, kKeyTab, true);
    EXPECT_EQ(model.focus, WindowControl::PrimaryButton) << "Shift+Tab goes back";

    Show(RunState::Failed);
    model.focus = WindowControl::None;
    OnKeyDown(model, kKeyTab);
    EXPECT_EQ(model.focus, WindowControl::CloseButton);
    OnKeyDown(model, kKeyTab);
    EXPECT_EQ(model.focus, WindowControl::PrimaryButton);

    Show(RunState::Running, true);
    OnKeyDown(model, kKeyTab);
    EXPECT_EQ(model.focus, WindowControl::None) << "nothing can act while a cancel is pending";
}

TEST_F(WindowModelTest, SpaceActsOncePerPressAndTheFocusPassesOn) {
    Show(RunState::Running);
    EXPECT_FALSE(OnKeyDown(model, kKeySpace)) << "without a focus Space is left to the system";
    OnKeyDown(model, kKeyTab);
    EXPECT_TRUE(OnKeyDown(model, kKeySpace));
    EXPECT_FALSE(flags.launch_after_install.Load());
    OnKeyDown(model, kKeySpace, false, true);
    EXPECT_FALSE(flags.launch_after_install.Load()) << "a held key acts once";

    flags.busy.Exchange(false);  // as the worker does before its last record
    ApplyProgressRecord(model, {-1, RunState::Failed, L"无法连接"});
    EXPECT_EQ(model.focus, WindowControl::CloseButton) << "the box went, the next control takes the focus";
    OnKeyDown(model, kKeyTab);
    OnKeyDown(model, kKeySpace);
    EXPECT_EQ(display.state, RunState::Running) << "Space on 重新安装 starts a new run";
    EXPECT_EQ(model.focus, WindowControl::PrimaryButton);
    OnKeyDown(model, kKeySpace);
    EXPECT_TRUE(flags.cancel_requested.Load()) << "Space on 取消";
    EXPECT_EQ(model.focus, WindowControl::None) << "nothing is left to take the focus";
}

TEST_F(WindowModelTest, TheMouseLeavesTheFocusAlone) {
    Show(RunState::Running);
    Click(BoxCentre());
    EXPECT_EQ(model.focus, WindowControl::None);
    EXPECT_FALSE(system.Called("show focus cue"));
}

std::vector<std::wstring> Names(const std::vector<AccessibleItem>& children) {
    std::vector<std::wstring> names;
    for (const AccessibleItem& child : children) names.push_back(child.name);
    return names;
}

TEST_F(WindowModelTest, ReadersFindEveryTextAndControlOfTheRun) {
    Show(RunState::Running);
    std::vector<AccessibleItem> children = AccessibleChildren(model, true);
    EXPECT_EQ(Names(children), (std::vector<std::wstring>{L"澜岫", L"联网获取最新版并自动完成安装", L"下载程序",
                                                          L"正在下载安装程序", L"安装进度", L"安装完成后自动运行",
                                                          L"关闭", L"取消"}));
    EXPECT_EQ(children[4].role, AccessibleRole::ProgressBar);
    EXPECT_EQ(children[4].value, L"42%");
    EXPECT_EQ(children[5].role, AccessibleRole::CheckButton);
    EXPECT_EQ(children[5].state, kStateChecked | kStateFocusable);
    EXPECT_EQ(children[6].state, kStateInvisible) << "no close button while running";
    EXPECT_EQ(children[7].state, kStateDefault | kStateFocusable);
    EXPECT_EQ(children[7].location, model.layout.primary_button);
    EXPECT_EQ(children[0].location, PanelRectsFor(604).title);

    OnKeyDown(model, kKeyTab);
    RequestCancel(model);
    children = AccessibleChildren(model, true);
    EXPECT_EQ(children[2].name, L"正在取消安装");
    EXPECT_EQ(children[5].state, kStateInvisible | kStateChecked);
    EXPECT_EQ(children[7].name, L"正在取消");
    EXPECT_EQ(children[7].state, kStateDefault | kStateUnavailable);
    EXPECT_EQ(children[7].default_action, nullptr);

    Show(RunState::Failed);
    children = AccessibleChildren(model, true);
    EXPECT_EQ(children[2].name, L"安装遇到问题");
    EXPECT_EQ(children[3].name, L"正在下载安装程序") << "the failure text is the status line";
    EXPECT_EQ(children[6].state, kStateFocusable);
    EXPECT_EQ(children[7].name, L"重新安装");
}

TEST_F(WindowModelTest, ReadersFindBothSystemsOnTheUnsupportedScreen) {
    Show(RunState::Unsupported);
    display.system_name = L"Windows 8.1";
    display.status_line = L"Windows 10 1809 及以上版本\nWindows 11（64 位）";
    const std::vector<AccessibleItem> children = AccessibleChildren(model, false);
    EXPECT_EQ(Names(children), (std::vector<std::wstring>{L"澜岫", L"联网获取最新版并自动完成安装", L"当前系统无法安装",
                                                          L"当前系统：", L"Windows 8.1", L"支持系统：",
                                                          display.status_line, L"关闭"}));
    EXPECT_EQ(FocusedChild(model), kChildSelf);
    // The screen shows from the start: its alert is told at the first look
    // after the one that takes note, once the window can be read.
    EXPECT_EQ(children[2].role, AccessibleRole::Alert);
    EXPECT_EQ(children[2].description, display.status_line);
    AccessibleAnnouncer announcer;
    std::uint64_t due = 0;
    EXPECT_TRUE(TakeAccessibleNotices(announcer, children, kChildSelf, 1000, due).empty());
    EXPECT_EQ(due, 1000u) << "the window must look again at once";
    const std::vector<AccessibleNotice> notices = TakeAccessibleNotices(announcer, children, kChildSelf, 1001, due);
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0].event, AccessibleEvent::Alert);
    EXPECT_EQ(notices[0].child, 3);
    EXPECT_TRUE(TakeAccessibleNotices(announcer, children, kChildSelf, 1200, due).empty()) << "told once";
    OnAccessibleAction(model, 8);
    EXPECT_TRUE(system.Called("destroy"));
}

TEST_F(WindowModelTest, ReaderPlacesAreThePaintedOnesAtTheWindowsScale) {
    model.scale = DpiScale{144};
    LayoutWindow(model, {906, 437});
    Show(RunState::Running);
    const std::vector<AccessibleItem> children = AccessibleChildren(model, false);
    EXPECT_EQ(children[3].location, model.scale.Rect(PanelRectsFor(604).status_line));
    EXPECT_EQ(children[7].location, model.layout.primary_button);
    const ClientRect& primary = children[7].location;
    EXPECT_EQ(AccessibleChildAt(children, {primary.left, primary.top}), 8);
    EXPECT_EQ(AccessibleChildAt(children, {primary.left - 1, primary.top}), kChildSelf);
}

TEST_F(WindowModelTest, HitTestAndNavigationPassOverAbsentControls) {
    Show(RunState::Running);
    const std::vector<AccessibleItem> children = AccessibleChildren(model, false);
    EXPECT_EQ(AccessibleChildAt(children, CloseCentre()), kChildSelf) << "the close button is not there";
    EXPECT_EQ(AccessibleChildAt(children, BoxCentre()), 6);
    EXPECT_EQ(NavigateAccessible(children, 6, NavigateDirection::Next), 8);
    EXPECT_EQ(NavigateAccessible(children, 8, NavigateDirection::Previous), 6);
    EXPECT_EQ(NavigateAccessible(children, 8, NavigateDirection::Next), 0);
    EXPECT_EQ(NavigateAccessible(children, kChildSelf, NavigateDirection::FirstChild), 1);
    EXPECT_EQ(NavigateAccessible(children, kChildSelf, NavigateDirection::LastChild), 8);
    EXPECT_EQ(NavigateAccessible(children, 1, NavigateDirection::Down), 2);
    EXPECT_EQ(NavigateAccessible(children, 6, NavigateDirection::Right), 8);
    // Of two children as far down, the one less far across comes first, whichever is listed first.
    std::vector<AccessibleItem> row(3);
    row[0].location = {0, 0, 40, 10};
    row[1].location = {30, 45, 40, 55};
    row[2].location = {15, 45, 25, 55};
    EXPECT_EQ(NavigateAccessible(row, 1, NavigateDirection::Down), 3);
}

TEST_F(WindowModelTest, ADefaultActionDoesWhatAClickDoes) {
    Show(RunState::Running);
    OnAccessibleAction(model, 6);
    EXPECT_FALSE(flags.launch_after_install.Load());
    OnAccessibleAction(model, 7);
    OnAccessibleAction(model, 0);
    OnAccessibleAction(model, 9);
    EXPECT_FALSE(system.Called("destroy")) << "an absent control, or none, does nothing";
    OnAccessibleAction(model, 8);
    EXPECT_TRUE(flags.cancel_requested.Load());
    Show(RunState::Failed);
    flags.busy.Exchange(false);
    OnAccessibleAction(model, 8);
    EXPECT_TRUE(system.Called("start"));
    Show(RunState::Failed);
    OnAccessibleAction(model, 7);
    EXPECT_TRUE(system.Called("destroy"));
}

TEST_F(WindowModelTest, ReadersAreToldEachChangeAtMostTenTimesASecondAndAlwaysTheLast) {
    Show(RunState::Running);
    AccessibleAnnouncer announcer;
    std::uint64_t due = 0;
    const auto take = [&](std::uint64_t now) {
        return TakeAccessibleNotices(announcer, AccessibleChildren(model, true), FocusedChild(model), now, due);
    };
    EXPECT_TRUE(take(1000).empty()) << "the first look only takes note";
    ApplyProgressRecord(model, {43, RunState::Running, L"正在下载安装程序 43%"});
    std::vector<AccessibleNotice> notices = take(1010);
    ASSERT_EQ(notices.size(), 2u);
    EXPECT_EQ(notices[0].event, AccessibleEvent::NameChange);
    EXPECT_EQ(notices[0].child, 4);
    EXPECT_EQ(notices[1].event, AccessibleEvent::ValueChange);
    EXPECT_EQ(notices[1].child, 5);
    // The box is told at 1015 and its next change held until 1115: the timer
    // is asked for the earliest held child, the percent's 1110.
    OnAccessibleAction(model, 6);
    EXPECT_EQ(take(1015).size(), 1u);
    OnAccessibleAction(model, 6);
    for (std::int32_t percent = 44; percent <= 50; ++percent) {
        ApplyProgressRecord(model, {percent, RunState::Running, L"正在下载安装程序"});
        EXPECT_TRUE(take(1010 + static_cast<std::uint64_t>(percent - 43) * 10).empty());
        EXPECT_EQ(due, 1110u) << "the notice timer must wake for the earliest held change";
    }
    OnKeyDown(model, kKeyTab);
    notices = take(1090);
    ASSERT_EQ(notices.size(), 1u) << "a focus move is never held back";
    EXPECT_EQ(notices[0].event, AccessibleEvent::Focus);
    EXPECT_EQ(notices[0].child, 6);
    notices = take(1110);
    ASSERT_EQ(notices.size(), 2u);
    EXPECT_EQ(due, 1115u);
    EXPECT_EQ(announcer.announced[4].value, L"50%") << "the last value is told";
    notices = take(1115);
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0].event, AccessibleEvent::StateChange);
    EXPECT_EQ(due, 0u);

    RequestCancel(model);
    notices = take(1300);
    ASSERT_GE(notices.size(), 3u);
    EXPECT_EQ(notices[0].event, AccessibleEvent::NameChange);
    EXPECT_EQ(notices[0].child, 3);
    EXPECT_EQ(notices.back().event, AccessibleEvent::Focus) << "the focus left the box";
    EXPECT_EQ(notices.back().child, kChildSelf);

    // Each outcome is one alert on the headline, also the same failure twice
    // in a row, and also while another window is in front.
    std::uint64_t now = 2000;
    for (const bool in_front : {true, false}) {
        const auto alerts = [&] {
            std::vector<std::int32_t> children;
            for (const AccessibleNotice& notice :
                 TakeAccessibleNotices(announcer, AccessibleChildren(model, in_front),
                                       in_front ? FocusedChild(model) : kChildSelf, now += 200, due)) {
                if (notice.event == AccessibleEvent::Alert) children.push_back(notice.child);
            }
            return children;
        };
        for (const RunState outcome : {RunState::Cancelled, RunState::Failed, RunState::Failed, RunState::Finished}) {
            ApplyProgressRecord(model, {-1, outcome, L"无法连接到下载服务器"});
            EXPECT_EQ(alerts(), std::vector<std::int32_t>{3}) << (in_front ? "in front" : "behind another window");
            EXPECT_TRUE(alerts().empty()) << "told once";
            ResetDisplayForRun(model);
            EXPECT_TRUE(alerts().empty()) << "a new run is no outcome";
        }
    }
}

}  // namespace
}  // namespace quorvane
