#pragma once
// What a screen reader finds in the window: the client's children with their
// names, roles, states and places, navigation and hit testing over them, and
// the change notices raised for readers. No Windows header here; the
// IAccessible object in accessible.cpp answers from these functions, and
// their numbers are the MSAA values it checks against the Windows names.

#include <cstdint>
#include <string>
#include <vector>

#include "ui/window_model.h"

namespace quorvane {

enum class AccessibleRole : std::uint32_t {
    Alert = 0x08,         // ROLE_SYSTEM_ALERT
    Client = 0x0A,        // ROLE_SYSTEM_CLIENT
    PushButton = 0x2B,    // ROLE_SYSTEM_PUSHBUTTON
    CheckButton = 0x2C,   // ROLE_SYSTEM_CHECKBUTTON
    StaticText = 0x29,    // ROLE_SYSTEM_STATICTEXT
    ProgressBar = 0x30,   // ROLE_SYSTEM_PROGRESSBAR
};

// MSAA state bits (STATE_SYSTEM_*).
inline constexpr std::uint32_t kStateUnavailable = 0x1;
inline constexpr std::uint32_t kStateFocused = 0x4;
inline constexpr std::uint32_t kStateChecked = 0x10;
inline constexpr std::uint32_t kStateReadOnly = 0x40;
inline constexpr std::uint32_t kStateDefault = 0x100;
inline constexpr std::uint32_t kStateInvisible = 0x8000;
inline constexpr std::uint32_t kStateFocusable = 0x100000;

// The client itself in child ids; its children are 1 to the count.
inline constexpr std::int32_t kChildSelf = 0;

struct AccessibleItem {
    AccessibleRole role = AccessibleRole::StaticText;
    std::wstring name;
    std::wstring value;
    std::wstring description;
    std::uint32_t state = 0;
    ClientRect location;  // client pixels; empty while invisible
    WindowControl control = WindowControl::None;
    const wchar_t* default_action = nullptr;  // null when it cannot act now
};

// The client's children in reading order; child id i + 1 is item i. The list
// keeps its length and order for the window's life: a control that is absent
// in the current state is there, invisible. The focused state is set where
// `window_focused` and the control holds the focus. While the window shows an
// outcome (failed, cancelled, finished, unsupported) the headline is an alert
// whose description is the outcome's message (the supported systems).
std::vector<AccessibleItem> AccessibleChildren(const WindowModel& model, bool window_focused);

// The child under a point in client pixels, or kChildSelf.
std::int32_t AccessibleChildAt(const std::vector<AccessibleItem>& children, ClientPoint point);

// NAVDIR_* values.
enum class NavigateDirection : std::int32_t {
    Up = 1,
    Down = 2,
    Left = 3,
    Right = 4,
    Next = 5,
    Previous = 6,
    FirstChild = 7,
    LastChild = 8,
};
// The visible child reached from `from` in the direction; 0 when there is none.
// First and last child only from kChildSelf; the others only from a child.
std::int32_t NavigateAccessible(const std::vector<AccessibleItem>& children, std::int32_t from,
                                NavigateDirection direction);

// The child that holds the keyboard focus, or kChildSelf.
std::int32_t FocusedChild(const WindowModel& model);

// A screen reader's default action on a child: what a click on its control does.
void OnAccessibleAction(WindowModel& model, std::int32_t child);

// WinEvent ids (EVENT_OBJECT_*).
enum class AccessibleEvent : std::uint32_t {
    Alert = 0x0002,  // EVENT_SYSTEM_ALERT
    Focus = 0x8005,
    StateChange = 0x800A,
    NameChange = 0x800C,
    ValueChange = 0x800E,
};

struct AccessibleNotice {
    AccessibleEvent event;
    std::int32_t child;
};

// What readers were last told about each child, and when each may be told again.
struct AccessibleAnnouncer {
    std::vector<AccessibleItem> announced;
    std::vector<std::uint64_t> next_notice_ms;
    std::int32_t announced_focus = kChildSelf;
};

// A child's notices come at most once per this period; what changes in
// between is told when it ends, with the value it has then.
inline constexpr std::uint64_t kNoticePeriodMs = 100;

// The notices for what changed since readers were last told: value (the
// percent), name (texts and captions), state (enabled, checked, shown; the
// focus bit aside), an alert when a child takes a new description (an
// outcome; readers speak alerts wherever the focus is, name changes only of
// the focused object) and a focus move, which is never held back. A child told
// less than kNoticePeriodMs ago keeps its change for later; `due_ms` is then
// the time to call again, otherwise 0. The first call only takes note, but
// leaves an outcome already shown untold and due at once.
std::vector<AccessibleNotice> TakeAccessibleNotices(AccessibleAnnouncer& announcer,
                                                    const std::vector<AccessibleItem>& children,
                                                    std::int32_t focused_child, std::uint64_t now_ms,
                                                    std::uint64_t& due_ms);

}  // namespace quorvane
