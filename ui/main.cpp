#include <windows.h>

#include "ui/display_state.h"
#include "ui/gdiplus_session.h"
#include "ui/single_instance.h"
#include "ui/startup.h"
#include "ui/system_check.h"

// The command line is not read here: the worker reads "/manifest=" itself.
// QV_WITHOUT_DLL_DIRECTORIES builds a test copy that behaves as on a Windows
// without SetDefaultDllDirectories, where only the delay-load hook keeps
// planted DLLs out.
int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show_command) {
    using namespace quorvane;
#ifndef QV_WITHOUT_DLL_DIRECTORIES
    LimitDllSearchToSystem32();
#endif
    // Before anything that touches a file or the network: a second copy only hands over to the first.
    const auto session_run = ClaimSessionRun();
    if (!session_run) return ShowRunningCopy();
    InitializeCommonControls();
    // Without GDI+ the window is drawn with plain GDI; the window's destruction shuts it down.
    StartGdiplus();
    ApplySystemCheck(QueryWindowsVersion(), display_state);
    RegisterInstallerWindowClass(instance);
    const HWND window = CreateInstallerWindow(instance);
    if (window == nullptr) {
        ShowWindowCreationFailure();
        return 1;
    }
    ShowWindow(window, show_command);
    UpdateWindow(window);
    return RunMessageLoop();
}
