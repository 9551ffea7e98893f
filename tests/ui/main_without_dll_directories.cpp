// The program as it runs on a Windows without SetDefaultDllDirectories, where
// only the delay-load hook keeps planted DLLs out.
#include <windows.h>

#include "ui/startup.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show_command) {
    return quorvane::RunInstaller(instance, show_command);
}
