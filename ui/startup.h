#pragma once
// The steps of start-up that talk to the window system; wWinMain runs them in order.

#include <windows.h>

namespace quorvane {

// Before the first delay-loaded DLL (every one but kernel32 and the C runtime)
// is needed: from here on DLLs come from System32 only, never from the folder
// the installer was downloaded to, where a planted copy may lie beside it.
// Windows 7 without update KB2533623 and Vista lack the call; there the
// program's delay-load hook still loads each of its DLLs by its full System32
// path, and their own imports are searched for beside them.
void LimitDllSearchToSystem32();

// The rest of the program, in this order: the one-copy hand-over (a second
// copy only hands over to the first, before anything touches a file or the
// network), the common controls, GDI+, the system check, the window class and
// the window, whose creation starts the first run; then the message loop.
// Returns the process's exit code.
int RunInstaller(HINSTANCE instance, int show_command);

// The common controls of version 6 (the manifest asks for them); the result does not matter.
void InitializeCommonControls();

// The installer window's class with InstallerWindowProc. A failure shows up
// as a failed creation afterwards.
void RegisterInstallerWindowClass(HINSTANCE instance);

// The installer window at its fixed outer size, taller on an unsupported
// system; null when it cannot be created. Stored as the main window handle.
HWND CreateInstallerWindow(HINSTANCE instance);

// Tells the user that the installer cannot start; the program then exits with 1.
void ShowWindowCreationFailure();

// Dispatches messages until the quit message or an error; returns the last
// message's wParam, 0 after the window's normal end.
int RunMessageLoop();

}  // namespace quorvane
