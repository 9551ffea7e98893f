#pragma once
// The window's IAccessible object for screen readers (MSAA), answering from
// the accessible tree of the window's state model (ui/accessible_tree.h).

#include <windows.h>

#include "files/unique_handle.h"
#include "ui/window_model.h"

namespace quorvane {

// A screen reader's default action on the child in wParam. Posted by the
// object, so that the action runs in the window procedure like any other input.
inline constexpr UINT WM_ACCESSIBLE_ACTION = WM_APP + 3;

class WindowAccessible;
void ReleaseWindowAccessible(WindowAccessible* object) noexcept;
// The window's own reference; readers may hold more.
using UniqueWindowAccessible = UniqueHandle<WindowAccessible*, ReleaseWindowAccessible>;

// The object reads the model on the window's thread, where COM calls it.
UniqueWindowAccessible CreateWindowAccessible(HWND window, const WindowModel& model);

// The answer to WM_GETOBJECT for OBJID_CLIENT.
LRESULT AccessibleObjectResult(WindowAccessible& object, WPARAM wparam);

// On the window's destruction: every later call on the object fails, as a
// reader may still hold it after the window and its model are gone.
void DisconnectWindowAccessible(WindowAccessible& object);

// Joins a single-threaded apartment, whose incoming calls the message loop
// dispatches, for the rest of the thread's life. It is never left while the
// process runs: leaving waits for every reader's call in progress, and those
// calls need this very thread, so a window closed while a reader reads would
// hang in its destruction.
void JoinComApartment();

}  // namespace quorvane
