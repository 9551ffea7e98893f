#include <windows.h>

#include "ui/startup.h"

// The command line is not read here: the worker reads "/manifest=" itself.
int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show_command) {
    quorvane::LimitDllSearchToSystem32();
    return quorvane::RunInstaller(instance, show_command);
}
