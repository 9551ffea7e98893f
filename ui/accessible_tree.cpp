#include "ui/accessible_tree.h"

#include <algorithm>
#include <cstdlib>

#include "ui/window_texts.h"

namespace quorvane {
namespace {

// The one place where a place in 96-DPI units becomes client pixels, as the painting scales it.
ClientRect PixelsOf(const WindowModel& model, const ClientRect& units) { return model.scale.Rect(units); }

ClientRect Union(const ClientRect& a, const ClientRect& b) {
    return {std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right), std::max(a.bottom, b.bottom)};
}

AccessibleItem Text(std::wstring name, const ClientRect& location) {
    AccessibleItem item;
    item.role = AccessibleRole::StaticText;
    item.name = std::move(name);
    item.state = kStateReadOnly;
    item.location = location;
    return item;
}

AccessibleItem Control(const WindowModel& model, WindowControl control, bool window_focused) {
    AccessibleItem item;
    item.control = control;
    item.role = control == WindowControl::AutoRunBox ? AccessibleRole::CheckButton : AccessibleRole::PushButton;
    const RunState state = model.display.state;
    const bool cancel_requested = model.flags.cancel_requested.Load();
    const bool available = IsControlAvailable(model, control);
    // The primary button is always there, disabled while a cancel is pending; the others only while they act.
    const bool shown = available || control == WindowControl::PrimaryButton;
    if (!shown) {
        item.state = kStateInvisible;
    } else {
        item.location = *ControlRect(model, control);
    }
    switch (control) {
        case WindowControl::AutoRunBox: {
            item.name = kAutoRunLabel;
            const bool on = model.flags.launch_after_install.Load();
            if (on) item.state |= kStateChecked;
            item.default_action = on ? kUncheckAction : kCheckAction;
            break;
        }
        case WindowControl::CloseButton:
            item.name = kCloseCaption;
            item.default_action = kPressAction;
            break;
        case WindowControl::PrimaryButton:
            item.name = PrimaryCaption(state, cancel_requested);
            item.default_action = kPressAction;
            item.state |= kStateDefault;
            break;
        case WindowControl::None: break;
    }
    if (!available) {
        item.default_action = nullptr;
        if (shown) item.state |= kStateUnavailable;
        return item;
    }
    item.state |= kStateFocusable;
    if (window_focused && model.focus == control) item.state |= kStateFocused;
    return item;
}

struct Centre {
    std::int32_t x;
    std::int32_t y;
};

Centre CentreOf(const ClientRect& rect) { return {(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2}; }

bool IsOutcome(RunState state) { return state != RunState::Running; }

bool IsShown(const AccessibleItem& item) { return (item.state & kStateInvisible) == 0; }

bool Overlap(std::int32_t first_from, std::int32_t first_to, std::int32_t second_from, std::int32_t second_to) {
    return first_from < second_to && second_from < first_to;
}

// The nearest shown child whose centre lies in the direction, by distance
// along it, then across it; one in the same row (or column) comes first.
std::int32_t NearestInDirection(const std::vector<AccessibleItem>& children, std::int32_t from,
                                NavigateDirection direction) {
    const ClientRect& start = children[from - 1].location;
    const Centre origin = CentreOf(start);
    const bool vertical = direction == NavigateDirection::Up || direction == NavigateDirection::Down;
    for (const bool same_row : {true, false}) {
        std::int32_t best = 0;
        std::int64_t best_along = 0;
        std::int64_t best_across = 0;
        for (std::int32_t id = 1; id <= static_cast<std::int32_t>(children.size()); ++id) {
            const ClientRect& place = children[id - 1].location;
            if (id == from || !IsShown(children[id - 1])) continue;
            if (same_row && !(vertical ? Overlap(start.left, start.right, place.left, place.right)
                                       : Overlap(start.top, start.bottom, place.top, place.bottom))) {
                continue;
            }
            const Centre centre = CentreOf(place);
            const std::int64_t dx = centre.x - origin.x;
            const std::int64_t dy = centre.y - origin.y;
            std::int64_t along = 0;
            switch (direction) {
                case NavigateDirection::Up: along = -dy; break;
                case NavigateDirection::Down: along = dy; break;
                case NavigateDirection::Left: along = -dx; break;
                default: along = dx; break;
            }
            const std::int64_t across = vertical ? std::abs(dx) : std::abs(dy);
            if (along <= 0) continue;
            if (best == 0 || along < best_along || (along == best_along && across < best_across)) {
                best = id;
                best_along = along;
                best_across = across;
            }
        }
        if (best != 0) return best;
    }
    return 0;
}

}  // namespace

std::vector<AccessibleItem> AccessibleChildren(const WindowModel& model, bool window_focused) {
    const PanelRects places = PanelRectsFor(model.client_units.width);
    const DisplayState& display = model.display;
    const bool cancel_requested = model.flags.cancel_requested.Load();
    const wchar_t* const headline =
        HeadlineText(display.state, cancel_requested, model.flags.installer_running.Load(), display.percent);
    std::vector<AccessibleItem> children;
    children.push_back(Text(kProductTitle, PixelsOf(model, places.title)));
    children.push_back(Text(kProductSubtitle, PixelsOf(model, places.subtitle)));
    children.push_back(Text(headline, PixelsOf(model, places.headline)));
    if (IsOutcome(display.state)) {
        children.back().role = AccessibleRole::Alert;
        children.back().description = display.status_line;
    }
    if (display.state == RunState::Unsupported) {
        children.push_back(Text(kCurrentSystemLabel, PixelsOf(model, places.current_system_label)));
        children.push_back(Text(display.system_name, PixelsOf(model, places.current_system)));
        children.push_back(Text(kSupportedSystemsLabel, PixelsOf(model, places.supported_systems_label)));
        children.push_back(Text(display.status_line, PixelsOf(model, places.supported_systems)));
        children.push_back(Control(model, WindowControl::PrimaryButton, window_focused));
        return children;
    }
    children.push_back(Text(display.status_line, PixelsOf(model, places.status_line)));
    AccessibleItem bar;
    bar.role = AccessibleRole::ProgressBar;
    bar.name = kProgressBarName;
    bar.value = PercentText(display.percent);
    bar.state = kStateReadOnly;
    bar.location = PixelsOf(model, Union(places.bar_track, places.percent));
    children.push_back(std::move(bar));
    children.push_back(Control(model, WindowControl::AutoRunBox, window_focused));
    children.push_back(Control(model, WindowControl::CloseButton, window_focused));
    children.push_back(Control(model, WindowControl::PrimaryButton, window_focused));
    return children;
}

std::int32_t AccessibleChildAt(const std::vector<AccessibleItem>& children, ClientPoint point) {
    // Later children are drawn later and win where places overlap.
    for (std::int32_t id = static_cast<std::int32_t>(children.size()); id >= 1; --id) {
        const AccessibleItem& item = children[id - 1];
        if (IsShown(item) && Contains(item.location, point)) return id;
    }
    return kChildSelf;
}

std::int32_t NavigateAccessible(const std::vector<AccessibleItem>& children, std::int32_t from,
                                NavigateDirection direction) {
    const auto count = static_cast<std::int32_t>(children.size());
    if (from < kChildSelf || from > count) return 0;
    const bool from_self = from == kChildSelf;
    switch (direction) {
        case NavigateDirection::FirstChild:
        case NavigateDirection::LastChild: {
            if (!from_self) return 0;
            const bool forwards = direction == NavigateDirection::FirstChild;
            for (std::int32_t i = 0; i < count; ++i) {
                const std::int32_t id = forwards ? i + 1 : count - i;
                if (IsShown(children[id - 1])) return id;
            }
            return 0;
        }
        case NavigateDirection::Next:
        case NavigateDirection::Previous: {
            if (from_self) return 0;
            const std::int32_t step = direction == NavigateDirection::Next ? 1 : -1;
            for (std::int32_t id = from + step; id >= 1 && id <= count; id += step) {
                if (IsShown(children[id - 1])) return id;
            }
            return 0;
        }
        case NavigateDirection::Up:
        case NavigateDirection::Down:
        case NavigateDirection::Left:
        case NavigateDirection::Right:
            if (from_self || !IsShown(children[from - 1])) return 0;
            return NearestInDirection(children, from, direction);
    }
    return 0;
}

std::int32_t FocusedChild(const WindowModel& model) {
    if (model.focus == WindowControl::None) return kChildSelf;
    const std::vector<AccessibleItem> children = AccessibleChildren(model, false);
    for (std::int32_t id = 1; id <= static_cast<std::int32_t>(children.size()); ++id) {
        if (children[id - 1].control == model.focus) return id;
    }
    return kChildSelf;
}

void OnAccessibleAction(WindowModel& model, std::int32_t child) {
    const std::vector<AccessibleItem> children = AccessibleChildren(model, false);
    if (child < 1 || child > static_cast<std::int32_t>(children.size())) return;
    const AccessibleItem& item = children[child - 1];
    if (item.default_action != nullptr) ActivateControl(model, item.control);
}

std::vector<AccessibleNotice> TakeAccessibleNotices(AccessibleAnnouncer& announcer,
                                                    const std::vector<AccessibleItem>& children,
                                                    std::int32_t focused_child, std::uint64_t now_ms,
                                                    std::uint64_t& due_ms) {
    due_ms = 0;
    if (announcer.announced.size() != children.size()) {
        announcer.announced = children;
        announcer.next_notice_ms.assign(children.size(), 0);
        announcer.announced_focus = focused_child;
        // An outcome that shows from the start (the unsupported screen) is
        // still to be told: the window is not yet shown when it first looks.
        for (AccessibleItem& told : announcer.announced) {
            if (told.description.empty()) continue;
            told.description.clear();
            due_ms = now_ms;
        }
        return {};
    }
    std::vector<AccessibleNotice> notices;
    for (std::size_t i = 0; i < children.size(); ++i) {
        const AccessibleItem& now = children[i];
        AccessibleItem& told = announcer.announced[i];
        const bool value = now.value != told.value;
        const bool name = now.name != told.name;
        const bool state = (now.state & ~kStateFocused) != (told.state & ~kStateFocused);
        const bool description = now.description != told.description;
        if (!value && !name && !state && !description) continue;
        std::uint64_t& next = announcer.next_notice_ms[i];
        if (now_ms < next) {
            if (due_ms == 0 || next < due_ms) due_ms = next;
            continue;
        }
        const auto child = static_cast<std::int32_t>(i + 1);
        if (state) notices.push_back({AccessibleEvent::StateChange, child});
        if (name) notices.push_back({AccessibleEvent::NameChange, child});
        if (value) notices.push_back({AccessibleEvent::ValueChange, child});
        if (description && !now.description.empty()) notices.push_back({AccessibleEvent::Alert, child});
        told = now;
        next = now_ms + kNoticePeriodMs;
    }
    if (focused_child != announcer.announced_focus) {
        notices.push_back({AccessibleEvent::Focus, focused_child});
        announcer.announced_focus = focused_child;
    }
    return notices;
}

}  // namespace quorvane
