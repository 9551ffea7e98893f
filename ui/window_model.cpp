#include "ui/window_model.h"

#include <algorithm>
#include <iterator>
#include <utility>

#include "pipeline/steps.h"
#include "ui/window_texts.h"

namespace quorvane {
namespace {

bool PrimaryEnabled(const WindowModel& model) {
    return IsPrimaryEnabled(model.display.state, model.flags.cancel_requested.Load());
}

bool ShowsCloseButton(RunState state) { return state == RunState::Cancelled || state == RunState::Failed; }

void RepaintControls(WindowModel& model) {
    model.system.Repaint(&model.layout.primary_button);
    model.system.Repaint(&model.layout.close_button);
    model.system.Repaint(&model.layout.auto_run_box);
}

constexpr WindowControl kReadingOrder[] = {WindowControl::AutoRunBox, WindowControl::CloseButton,
                                           WindowControl::PrimaryButton};
constexpr int kControlCount = static_cast<int>(std::size(kReadingOrder));

int OrderOf(WindowControl control) {
    for (int i = 0; i < kControlCount; ++i) {
        if (kReadingOrder[i] == control) return i;
    }
    return -1;
}

// The first available control after `from` in reading order, wrapping round;
// from None, the first (or the last, backwards). None when nothing is available.
WindowControl NextAvailable(const WindowModel& model, WindowControl from, bool backwards) {
    const int step = backwards ? kControlCount - 1 : 1;
    int index = OrderOf(from);
    if (index < 0) index = backwards ? 0 : kControlCount - 1;
    for (int tries = 0; tries < kControlCount; ++tries) {
        index = (index + step) % kControlCount;
        if (IsControlAvailable(model, kReadingOrder[index])) return kReadingOrder[index];
    }
    return WindowControl::None;
}

void MoveFocus(WindowModel& model, WindowControl to) {
    if (model.focus == to) return;
    model.focus = to;
    if (model.focus_cue_visible) RepaintControls(model);
}

// A control that became unavailable passes the focus to the next one.
void PassFocusOn(WindowModel& model) {
    if (model.focus == WindowControl::None || IsControlAvailable(model, model.focus)) return;
    MoveFocus(model, NextAvailable(model, model.focus, false));
}

void ToggleAutoRun(WindowModel& model) {
    RunFlag& launch = model.flags.launch_after_install;
    launch.Exchange(!launch.Load());
    model.system.Repaint(&model.layout.auto_run_box);
}

}  // namespace

ControlLayout LayoutControls(std::int32_t client_width, std::int32_t client_height) {
    const std::int32_t w = client_width;
    const std::int32_t h = client_height;
    return ControlLayout{
        .primary_button = {w - 124, h - 49, w - 24, h - 17},
        .close_button = {w - 232, h - 49, w - 136, h - 17},
        .auto_run_box = {24, h - 50, std::min(w - 250, std::int32_t{280}), h - 17},
    };
}

ControlLayout ScaleLayout(const ControlLayout& units, const DpiScale& scale) {
    return ControlLayout{
        .primary_button = scale.Rect(units.primary_button),
        .close_button = scale.Rect(units.close_button),
        .auto_run_box = scale.Rect(units.auto_run_box),
    };
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

void LayoutWindow(WindowModel& model, ClientSize client_pixels) {
    model.client_units = model.scale.ToUnits(client_pixels);
    model.layout = ScaleLayout(LayoutControls(model.client_units.width, model.client_units.height), model.scale);
}

bool IsPrimaryEnabled(RunState state, bool cancel_requested) {
    return state != RunState::Running || !cancel_requested;
}

const wchar_t* PrimaryCaption(RunState state, bool cancel_requested) {
    switch (state) {
        case RunState::Finished:
        case RunState::Unsupported: return kCloseCaption;
        case RunState::Cancelled:
        case RunState::Failed: return kReinstallCaption;
        case RunState::Running: break;
    }
    return cancel_requested ? kCancellingCaption : kCancelCaption;
}

const wchar_t* HeadlineText(RunState state, bool cancel_requested, bool installer_running, std::int32_t percent) {
    switch (state) {
        case RunState::Unsupported: return kUnsupportedHeadline;
        case RunState::Failed: return kFailedHeadline;
        case RunState::Cancelled: return kCancelledHeadline;
        case RunState::Finished: return kFinishedHeadline;
        case RunState::Running: break;
    }
    if (cancel_requested) return installer_running ? kFinishingInstallHeadline : kCancellingHeadline;
    return StepLabel(StepForPercent(percent));
}

std::wstring PercentText(std::int32_t percent) {
    return std::to_wstring(std::clamp(percent, std::int32_t{0}, std::int32_t{100})) + L"%";
}

bool HitPrimaryButton(const WindowModel& model, ClientPoint point) {
    return IsControlAvailable(model, WindowControl::PrimaryButton) && Contains(model.layout.primary_button, point);
}

bool HitCloseButton(const WindowModel& model, ClientPoint point) {
    return IsControlAvailable(model, WindowControl::CloseButton) && Contains(model.layout.close_button, point);
}

bool HitAutoRunBox(const WindowModel& model, ClientPoint point) {
    return IsControlAvailable(model, WindowControl::AutoRunBox) && Contains(model.layout.auto_run_box, point);
}

bool IsControlAvailable(const WindowModel& model, WindowControl control) {
    switch (control) {
        case WindowControl::AutoRunBox:
            return model.display.state == RunState::Running && !model.flags.cancel_requested.Load();
        case WindowControl::CloseButton: return ShowsCloseButton(model.display.state);
        case WindowControl::PrimaryButton: return PrimaryEnabled(model);
        case WindowControl::None: break;
    }
    return false;
}

const ClientRect* ControlRect(const WindowModel& model, WindowControl control) {
    switch (control) {
        case WindowControl::AutoRunBox: return &model.layout.auto_run_box;
        case WindowControl::CloseButton: return &model.layout.close_button;
        case WindowControl::PrimaryButton: return &model.layout.primary_button;
        case WindowControl::None: break;
    }
    return nullptr;
}

void ResetDisplayForRun(WindowModel& model) {
    model.display.state = RunState::Running;
    model.display.percent = 0;
    model.display.status_line = kPreparingStatus;
    model.interaction.primary_hover = false;
    model.interaction.primary_pressed = false;
    model.interaction.close_hover = false;
    model.interaction.close_pressed = false;
    PassFocusOn(model);
}

void RequestCancel(WindowModel& model) {
    if (model.display.state != RunState::Running) return;
    if (model.flags.cancel_requested.Exchange(true)) return;
    model.display.status_line =
        model.flags.installer_running.Load() ? kCancelAfterInstallerStatus : kCancellingStatus;
    PassFocusOn(model);
    model.system.Repaint(nullptr);
}

void PrimaryAction(WindowModel& model) {
    if (!PrimaryEnabled(model)) return;
    switch (model.display.state) {
        case RunState::Running: RequestCancel(model); return;
        case RunState::Finished:
        case RunState::Unsupported: model.system.DestroyWindow(); return;
        case RunState::Cancelled:
        case RunState::Failed: model.system.StartInstall(); return;
    }
}

void ApplyProgressRecord(WindowModel& model, const ProgressRecord& record) {
    // Once a cancel is requested, only the worker's last record may change the display.
    if (record.state == RunState::Running && model.flags.cancel_requested.Load()) return;
    model.display.status_line = record.text;
    if (record.percent >= 0) model.display.percent = record.percent;
    model.display.state = record.state;
    PassFocusOn(model);
    model.system.Repaint(nullptr);
}

void ActivateControl(WindowModel& model, WindowControl control) {
    if (!IsControlAvailable(model, control)) return;
    switch (control) {
        case WindowControl::AutoRunBox: ToggleAutoRun(model); return;
        case WindowControl::CloseButton: model.system.DestroyWindow(); return;
        case WindowControl::PrimaryButton: PrimaryAction(model); return;
        case WindowControl::None: return;
    }
}

bool OnKeyDown(WindowModel& model, std::uint32_t key, bool shift, bool repeated) {
    if (key == kKeyEscape) {
        if (model.display.state == RunState::Running) {
            RequestCancel(model);
        } else {
            model.system.DestroyWindow();
        }
        return true;
    }
    if (key == kKeyEnter) {
        // As in a dialog: Enter presses the button the keyboard moved the
        // focus to; on the check box, or before any Tab, the primary action.
        if (model.focus == WindowControl::CloseButton) {
            ActivateControl(model, model.focus);
        } else {
            PrimaryAction(model);
        }
        return true;
    }
    if (key == kKeyTab) {
        model.system.ShowFocusCue();
        MoveFocus(model, NextAvailable(model, model.focus, shift));
        return true;
    }
    if (key == kKeySpace && model.focus != WindowControl::None) {
        // Holding Space acts once, as a system button does.
        if (!repeated) ActivateControl(model, model.focus);
        return true;
    }
    return false;
}

void OnFocusCueChanged(WindowModel& model, bool visible) {
    if (model.focus_cue_visible == visible) return;
    model.focus_cue_visible = visible;
    if (model.focus != WindowControl::None) RepaintControls(model);
}

void OnCloseRequest(WindowModel& model) {
    // Never destroy the window while a worker may still post to it.
    if (model.display.state == RunState::Running || model.flags.busy.Load()) {
        RequestCancel(model);
        return;
    }
    model.system.DestroyWindow();
}

bool WantsHandCursor(const WindowModel& model, ClientPoint point) {
    return HitPrimaryButton(model, point) || HitCloseButton(model, point) || HitAutoRunBox(model, point);
}

void OnMouseMove(WindowModel& model, ClientPoint point) {
    const bool primary = HitPrimaryButton(model, point);
    const bool close = HitCloseButton(model, point);
    const bool box = HitAutoRunBox(model, point);
    InteractionFlags& flags = model.interaction;
    if (primary == flags.primary_hover && close == flags.close_hover && box == flags.auto_run_hover) return;
    flags.primary_hover = primary;
    flags.close_hover = close;
    flags.auto_run_hover = box;
    model.system.TrackMouseLeave();
    RepaintControls(model);
}

void OnMouseLeave(WindowModel& model) {
    InteractionFlags& flags = model.interaction;
    if (!flags.primary_hover && !flags.close_hover && !flags.auto_run_hover) return;
    flags.primary_hover = false;
    flags.close_hover = false;
    flags.auto_run_hover = false;
    RepaintControls(model);
}

bool OnLeftButtonDown(WindowModel& model, ClientPoint point) {
    InteractionFlags& flags = model.interaction;
    WindowControl pressed = WindowControl::None;
    if (HitPrimaryButton(model, point)) {
        flags.primary_pressed = true;
        pressed = WindowControl::PrimaryButton;
    } else if (HitCloseButton(model, point)) {
        flags.close_pressed = true;
        pressed = WindowControl::CloseButton;
    } else if (HitAutoRunBox(model, point)) {
        flags.auto_run_pressed = true;
        pressed = WindowControl::AutoRunBox;
    } else {
        return false;
    }
    model.system.CaptureMouse();
    // The focus stays where the keyboard put it: the mouse alone never shows a focus cue.
    model.system.Repaint(ControlRect(model, pressed));
    return true;
}

bool OnLeftButtonUp(WindowModel& model, ClientPoint point) {
    InteractionFlags& flags = model.interaction;
    const bool primary_was_pressed = std::exchange(flags.primary_pressed, false);
    const bool close_was_pressed = std::exchange(flags.close_pressed, false);
    const bool box_was_pressed = std::exchange(flags.auto_run_pressed, false);
    if (model.system.HoldsMouseCapture()) model.system.ReleaseMouse();
    RepaintControls(model);
    // An action needs the press and the release on the same control.
    if (box_was_pressed && HitAutoRunBox(model, point)) {
        ActivateControl(model, WindowControl::AutoRunBox);
        return true;
    }
    if (primary_was_pressed && Contains(model.layout.primary_button, point)) {
        PrimaryAction(model);
        return true;
    }
    if (close_was_pressed && HitCloseButton(model, point)) {
        ActivateControl(model, WindowControl::CloseButton);
        return true;
    }
    return false;
}

}  // namespace quorvane
