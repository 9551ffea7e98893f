#pragma once
// The installer window's behaviour as a state model over DisplayState, the
// shared RunFlags and the window's own InteractionFlags. No Windows header
// here: the window procedure translates messages into these calls, and the
// window system is reached only through WindowSystem.

#include <cstdint>
#include <string>

#include "report/progress.h"
#include "ui/display_state.h"
#include "ui/geometry.h"

namespace quorvane {

// The three self-drawn controls, recomputed on creation, on every size change
// and on a change of DPI.
struct ControlLayout {
    ClientRect primary_button;
    ClientRect close_button;
    ClientRect auto_run_box;  // box and label together
};

// The controls of a client area of the given size, in the same measure.
ControlLayout LayoutControls(std::int32_t client_width, std::int32_t client_height);
ControlLayout ScaleLayout(const ControlLayout& units, const DpiScale& scale);

// Where the painting puts its texts and the bar, for a client width, in
// 96-DPI units; the accessible tree reports the same places.
struct PanelRects {
    ClientRect title;
    ClientRect subtitle;
    ClientRect headline;
    ClientRect status_line;
    ClientRect bar_track;
    ClientRect percent;
    ClientRect current_system_label;
    ClientRect current_system;
    ClientRect supported_systems_label;
    ClientRect supported_systems;
};
PanelRects PanelRectsFor(std::int32_t width);
// The check box's label within the box's control rectangle.
ClientRect AutoRunLabelRect(const ClientRect& auto_run_box);

// The controls that can hold the keyboard focus, in reading order after None.
enum class WindowControl { None, AutoRunBox, CloseButton, PrimaryButton };

struct InteractionFlags {
    bool primary_hover = false;
    bool primary_pressed = false;
    bool close_hover = false;
    bool close_pressed = false;
    bool auto_run_hover = false;
    bool auto_run_pressed = false;
};

// What the state model asks of the window system.
class WindowSystem {
public:
    // Marks a rectangle, or the whole client area for nullptr, for repainting without erasing.
    virtual void Repaint(const ClientRect* area) = 0;
    virtual void CaptureMouse() = 0;
    virtual bool HoldsMouseCapture() const = 0;
    virtual void ReleaseMouse() = 0;
    // One leave notification when the mouse leaves the client area.
    virtual void TrackMouseLeave() = 0;
    virtual void DestroyWindow() = 0;
    // Starts a run unless one is under way; a run that starts calls
    // ResetDisplayForRun and repaints the whole client area before its worker starts.
    virtual void StartInstall() = 0;
    // Keyboard cues are shown from now on; the window system answers with
    // OnFocusCueChanged (the WM_CHANGEUISTATE convention).
    virtual void ShowFocusCue() = 0;

protected:
    ~WindowSystem() = default;
};

struct WindowModel {
    DisplayState& display;
    RunFlags& flags;
    WindowSystem& system;
    ControlLayout layout;  // in pixels, where the mouse meets the controls
    InteractionFlags interaction;
    DpiScale scale;            // the window's own DPI
    ClientSize client_units;   // the client area in units of 96 DPI
    // The control that Space activates. Only Tab moves it there, so the mouse
    // alone never shows a focus cue; a control that becomes unavailable passes
    // it on. Drawn with a focus cue while the window's UI state shows cues.
    WindowControl focus = WindowControl::None;
    bool focus_cue_visible = false;
};

// Lays the window out for a client area of the given pixels at the model's scale.
void LayoutWindow(WindowModel& model, ClientSize client_pixels);

bool IsPrimaryEnabled(RunState state, bool cancel_requested);
const wchar_t* PrimaryCaption(RunState state, bool cancel_requested);
// The headline: the outcome, a pending cancel, or else the step of the percent shown.
const wchar_t* HeadlineText(RunState state, bool cancel_requested, bool installer_running, std::int32_t percent);
std::wstring PercentText(std::int32_t percent);

// Each hit test is true only where its control exists and is active.
bool HitPrimaryButton(const WindowModel& model, ClientPoint point);
bool HitCloseButton(const WindowModel& model, ClientPoint point);
bool HitAutoRunBox(const WindowModel& model, ClientPoint point);

// The control exists and can act now (the conditions of its hit test).
bool IsControlAvailable(const WindowModel& model, WindowControl control);
const ClientRect* ControlRect(const WindowModel& model, WindowControl control);

// The window's part of starting a run: the display shows the start of a run
// and the buttons lose their hover and pressed looks; the auto-run box keeps its own.
void ResetDisplayForRun(WindowModel& model);
void RequestCancel(WindowModel& model);
void PrimaryAction(WindowModel& model);
void ApplyProgressRecord(WindowModel& model, const ProgressRecord& record);
// What a click on the control does; nothing when it is not available. Mouse,
// Space and a screen reader's default action all come here.
void ActivateControl(WindowModel& model, WindowControl control);

// Input handlers. Those returning bool return false where the message is left
// to the system's default handling.
inline constexpr std::uint32_t kKeyEscape = 0x1B;
inline constexpr std::uint32_t kKeyEnter = 0x0D;
inline constexpr std::uint32_t kKeyTab = 0x09;
inline constexpr std::uint32_t kKeySpace = 0x20;
// Tab (Shift+Tab with shift) moves the focus over the available controls in
// reading order; Space activates the focused control, once per press. Enter
// presses the focused button, and runs the primary action where no button
// holds the focus.
bool OnKeyDown(WindowModel& model, std::uint32_t key, bool shift = false, bool repeated = false);
void OnFocusCueChanged(WindowModel& model, bool visible);
void OnCloseRequest(WindowModel& model);
// True when the hand cursor belongs at the point.
bool WantsHandCursor(const WindowModel& model, ClientPoint point);
void OnMouseMove(WindowModel& model, ClientPoint point);
void OnMouseLeave(WindowModel& model);
bool OnLeftButtonDown(WindowModel& model, ClientPoint point);
bool OnLeftButtonUp(WindowModel& model, ClientPoint point);

}  // namespace quorvane
