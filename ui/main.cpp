#include <windows.h>

#include "pipeline/progress_post.h"
#include "pipeline/worker.h"

// Until the window exists, the program runs the pipeline core against a
// message-only window and ends when the run's last record arrives.
int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    WNDCLASSW window_class = {};
    window_class.lpfnWndProc = DefWindowProcW;
    window_class.hInstance = instance;
    window_class.lpszClassName = L"QuorvaneOnlineSetupCore";
    if (!RegisterClassW(&window_class)) return 1;
    quorvane::main_window =
        CreateWindowExW(0, window_class.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance, nullptr);
    if (quorvane::main_window == nullptr) return 1;
    quorvane::StartInstall(nullptr);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (message.message != quorvane::WM_INSTALL_PROGRESS) continue;
        const auto* record = reinterpret_cast<quorvane::ProgressRecord*>(message.lParam);
        const bool last = record->state != quorvane::RunState::Running;
        delete record;
        if (last) break;
    }
    return 0;
}
