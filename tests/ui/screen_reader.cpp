// Test-time program: reads the installer window from another process the way
// a screen reader does, through AccessibleObjectFromWindow and WinEvent hooks.
//
// Listens to the events of every window of the installer's class, also one
// that shows later, and prints "reader listening"; then finds the window
// (waiting up to 20 s), prints "reader ready children=N", then takes one
// command a line from standard input and ends each answer with "done COMMAND":
//   tree          one line per child: "child ID role=R state=S name=N value=V action=A at=X,Y,W,H"
//                 (a text answered neither S_OK with text nor S_FALSE with none: "?HRESULT"),
//                 or "child ID is no simple element: ..." when get_accChild does not say S_FALSE
//   self          the client itself, the same way, with its id 0
//   focus         "focus ID", or "focus none" when the window does not have the focus
//   hit X Y       "hit ID" for a point on the screen, or "hit none"
//   nav ID DIR    "nav ID" reached with accNavigate (DIR: the NAVDIR number), or "nav none"
//   do ID         accDoDefaultAction: "do 0x00000000" with its HRESULT
//   events        the WinEvents received since the last "events": "event KIND child=ID ms=T text=..."
//                 (T: when the window raised it, in ms since the reader started; text: the
//                 child's value, name or state, or for an alert its name and description
//                 as "NAME|DESCRIPTION", read on receipt)
// Roles and states are printed as the hexadecimal MSAA numbers.

#include <windows.h>
#include <oleacc.h>

#include <cstdio>
#include <future>
#include <iostream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "files/text.h"
#include "ui/window_parameters.h"

namespace {

const DWORD started = GetTickCount();

void Say(const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

std::string Hex(unsigned long value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%lX", value);
    return text;
}

VARIANT Child(long id) {
    VARIANT child{};
    child.vt = VT_I4;
    child.lVal = id;
    return child;
}

// One line break or tab inside a text would split the answer; they are shown as \n.
// A text is there (S_OK and some text) or absent (S_FALSE and none); any other
// answer is shown as "?" and its HRESULT.
using TextProperty = HRESULT (STDMETHODCALLTYPE IAccessible::*)(VARIANT, BSTR*);
std::string Text(IAccessible* object, TextProperty property, const VARIANT& child) {
    BSTR text = nullptr;
    const HRESULT answered = (object->*property)(child, &text);
    const bool there = answered == S_OK && text != nullptr && *text != L'\0';
    const bool absent = answered == S_FALSE && text == nullptr;
    const std::string utf8 = there ? quorvane::WideToUtf8(text) : std::string();
    SysFreeString(text);
    if (!there) return absent ? "" : "?" + Hex(static_cast<unsigned long>(answered));
    std::string shown;
    for (const char c : utf8) shown += c == '\n' ? std::string("\\n") : std::string(1, c);
    return shown;
}

std::string Describe(IAccessible* object, long id) {
    const VARIANT child = Child(id);
    VARIANT role{}, state{};
    object->get_accRole(child, &role);
    object->get_accState(child, &state);
    const std::string name = Text(object, &IAccessible::get_accName, child);
    const std::string value = Text(object, &IAccessible::get_accValue, child);
    const std::string action = Text(object, &IAccessible::get_accDefaultAction, child);
    long x = 0, y = 0, w = 0, h = 0;
    object->accLocation(&x, &y, &w, &h, child);
    return "child " + std::to_string(id) + " role=" + Hex(role.vt == VT_I4 ? role.lVal : 0) +
           " state=" + Hex(state.vt == VT_I4 ? state.lVal : 0) + " name=" + name + " value=" + value +
           " action=" + action + " at=" + std::to_string(x) + "," + std::to_string(y) + "," +
           std::to_string(w) + "," + std::to_string(h);
}

std::string Reached(const VARIANT& result) {
    return result.vt == VT_I4 ? std::to_string(result.lVal) : std::string("none");
}

struct EventLog {
    std::mutex mutex;
    std::vector<std::string> lines;
};
EventLog* event_log = nullptr;

const char* EventName(DWORD event) {
    switch (event) {
        case EVENT_SYSTEM_ALERT: return "alert";
        case EVENT_OBJECT_FOCUS: return "focus";
        case EVENT_OBJECT_STATECHANGE: return "state";
        case EVENT_OBJECT_NAMECHANGE: return "name";
        case EVENT_OBJECT_VALUECHANGE: return "value";
        default: return nullptr;
    }
}

bool IsInstallerWindow(HWND window) {
    wchar_t name[64] = {};
    return GetClassNameW(window, name, 64) > 0 && std::wstring(name) == quorvane::kWindowClassName;
}

// Reads what the event is about at once, as a reader speaks it.
void CALLBACK OnWinEvent(HWINEVENTHOOK, DWORD event, HWND window, LONG object_id, LONG child_id, DWORD,
                         DWORD raised) {
    const char* kind = EventName(event);
    if (kind == nullptr || object_id != OBJID_CLIENT || !IsInstallerWindow(window)) return;
    std::string text;
    IAccessible* object = nullptr;
    VARIANT child{};
    if (SUCCEEDED(AccessibleObjectFromEvent(window, object_id, child_id, &object, &child)) && object != nullptr) {
        if (event == EVENT_OBJECT_VALUECHANGE) text = Text(object, &IAccessible::get_accValue, child);
        if (event == EVENT_OBJECT_NAMECHANGE || event == EVENT_OBJECT_FOCUS) {
            text = Text(object, &IAccessible::get_accName, child);
        }
        if (event == EVENT_SYSTEM_ALERT) {
            text = Text(object, &IAccessible::get_accName, child) + "|" +
                   Text(object, &IAccessible::get_accDescription, child);
        } else if (event == EVENT_OBJECT_STATECHANGE) {
            VARIANT state{};
            object->get_accState(child, &state);
            text = Hex(state.vt == VT_I4 ? state.lVal : 0);
        }
        object->Release();
    }
    const DWORD ms = raised - started;
    const std::lock_guard<std::mutex> lock(event_log->mutex);
    event_log->lines.push_back(std::string("event ") + kind + " child=" + std::to_string(child_id) +
                               " ms=" + std::to_string(ms) + " text=" + text);
}

// Out-of-context hooks are delivered to the hooking thread's message queue.
// Every process's: the window may not exist yet.
void HookThread(std::promise<bool>* hooked) {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const HWINEVENTHOOK hook = SetWinEventHook(EVENT_OBJECT_FOCUS, EVENT_OBJECT_VALUECHANGE, nullptr, OnWinEvent,
                                               0, 0, WINEVENT_OUTOFCONTEXT);
    const HWINEVENTHOOK alerts = SetWinEventHook(EVENT_SYSTEM_ALERT, EVENT_SYSTEM_ALERT, nullptr, OnWinEvent,
                                                 0, 0, WINEVENT_OUTOFCONTEXT);
    hooked->set_value(hook != nullptr && alerts != nullptr);
    MSG message{};
    while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
}

}  // namespace

int wmain() {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    EventLog log;
    event_log = &log;
    std::promise<bool> hooked;
    std::thread(HookThread, &hooked).detach();
    Say(hooked.get_future().get() ? "reader listening" : "no event hook");
    HWND window = nullptr;
    for (int tries = 0; tries < 200 && window == nullptr; ++tries) {
        window = FindWindowW(quorvane::kWindowClassName, nullptr);
        if (window == nullptr) Sleep(100);
    }
    if (window == nullptr) {
        Say("no window");
        return 1;
    }
    IAccessible* object = nullptr;
    const HRESULT found = AccessibleObjectFromWindow(window, static_cast<DWORD>(OBJID_CLIENT), __uuidof(IAccessible),
                                                     reinterpret_cast<void**>(&object));
    if (FAILED(found) || object == nullptr) {
        Say("no accessible object " + Hex(static_cast<unsigned long>(found)));
        return 1;
    }
    long count = 0;
    object->get_accChildCount(&count);
    Say("reader ready children=" + std::to_string(count));

    std::string line;
    while (std::getline(std::cin, line)) {
        std::istringstream words(line);
        std::string command;
        words >> command;
        if (command == "tree") {
            object->get_accChildCount(&count);
            for (long id = 1; id <= count; ++id) {
                // As a reader asks first: a simple element answers S_FALSE and hands out no object.
                IDispatch* element = nullptr;
                const HRESULT simple = object->get_accChild(Child(id), &element);
                Say(simple == S_FALSE && element == nullptr
                        ? Describe(object, id)
                        : "child " + std::to_string(id) + " is no simple element: get_accChild gave " +
                              Hex(static_cast<unsigned long>(simple)));
            }
        } else if (command == "self") {
            Say(Describe(object, CHILDID_SELF));
        } else if (command == "focus") {
            VARIANT focus{};
            object->get_accFocus(&focus);
            Say("focus " + Reached(focus));
        } else if (command == "hit") {
            long x = 0, y = 0;
            words >> x >> y;
            VARIANT hit{};
            object->accHitTest(x, y, &hit);
            Say("hit " + Reached(hit));
        } else if (command == "nav") {
            long id = 0, direction = 0;
            words >> id >> direction;
            VARIANT reached{};
            object->accNavigate(direction, Child(id), &reached);
            Say("nav " + Reached(reached));
        } else if (command == "do") {
            long id = 0;
            words >> id;
            char code[16];
            std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(object->accDoDefaultAction(Child(id))));
            Say(std::string("do ") + code);
        } else if (command == "events") {
            std::vector<std::string> taken;
            {
                const std::lock_guard<std::mutex> lock(log.mutex);
                taken.swap(log.lines);
            }
            for (const std::string& event : taken) Say(event);
        }
        Say("done " + command);
    }
    // Not released: after "do" the window's process may be gone, and under
    // Wine a call into a process that is gone does not return.
    return 0;
}
