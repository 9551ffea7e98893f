#pragma once
// The installer window's procedure, registered with the window class by the
// entry point.

#include <windows.h>

namespace quorvane {

// The window's creation parameter may point to the InstallStages its runs use
// (tests drive the window with scripted stages); without one it runs the real
// stages. The stages are copied during creation.
LRESULT CALLBACK InstallerWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

}  // namespace quorvane
