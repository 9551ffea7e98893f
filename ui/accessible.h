#pragma once
// The window's IAccessible object for screen readers (MSAA), answering from
// the accessible tree of the window's state model (ui/accessible_tree.h).

#include <windows.h>
#include <objbase.h>

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

namespace com_release {
inline void Apartment(bool) noexcept { CoUninitialize(); }
}  // namespace com_release
// True while this thread has joined a COM apartment that it must leave again.
using UniqueComApartment = UniqueHandle<bool, com_release::Apartment>;
// A single-threaded apartment, whose incoming calls the message loop dispatches.
UniqueComApartment EnterComApartment();

}  // namespace quorvane
