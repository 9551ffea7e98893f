// Test-time program: shows the real installer window and drives it with
// scripted runs instead of the real stages, so that a test can watch the
// window through a whole run and feed it real X input.
//
// Prints "window origin=X,Y client=WxH" once the window is shown, then reads
// one command a line from standard input on the worker thread of each run:
//   post PERCENT STATE TEXT   posts a record (STATE: running, finished, cancelled, failed)
//   installer 0|1             sets installer_running
//   flags                     prints "flags busy=B cancel=C installer=I launch=L"
//   wait-cancel               waits for the cancel request, then ends the run as the worker does
//   fail TEXT                 ends the run with a failure
//   finish TEXT               ends the run successfully with its last record
// Exits with the message loop's exit code.

#include <windows.h>

#include <chrono>
#include <cstdio>
#include <iostream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>

#include "files/text.h"
#include "pipeline/progress_post.h"
#include "pipeline/worker.h"
#include "ui/display_state.h"
#include "ui/gdiplus_session.h"
#include "ui/startup.h"
#include "ui/window_parameters.h"

namespace quorvane {
namespace {

void Say(const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

RunState StateNamed(const std::string& name) {
    if (name == "finished") return RunState::Finished;
    if (name == "cancelled") return RunState::Cancelled;
    if (name == "failed") return RunState::Failed;
    return RunState::Running;
}

std::wstring RestOf(std::istringstream& words) {
    std::string rest;
    std::getline(words >> std::ws, rest);
    return Utf8ToWide(rest);
}

void WaitForCancel() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!run_flags.cancel_requested.Load()) {
        if (std::chrono::steady_clock::now() > deadline) throw std::runtime_error("no cancel request came");
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    Say("cancel seen");
    throw std::runtime_error("cancelled");
}

// The scripted package stage: returns when the script says "finish", raises
// where the script ends the run otherwise.
void ScriptedRun(std::wstring& finish_text) {
    std::string line;
    while (std::getline(std::cin, line)) {
        std::istringstream words(line);
        std::string command;
        words >> command;
        if (command == "post") {
            int percent = 0;
            std::string state;
            words >> percent >> state;
            PostProgress(percent, RestOf(words), StateNamed(state));
        } else if (command == "installer") {
            int on = 0;
            words >> on;
            run_flags.installer_running.Exchange(on != 0);
        } else if (command == "flags") {
            Say("flags busy=" + std::to_string(run_flags.busy.Load()) +
                " cancel=" + std::to_string(run_flags.cancel_requested.Load()) +
                " installer=" + std::to_string(run_flags.installer_running.Load()) +
                " launch=" + std::to_string(run_flags.launch_after_install.Load()));
        } else if (command == "wait-cancel") {
            WaitForCancel();
        } else if (command == "fail") {
            throw std::runtime_error(WideToUtf8(RestOf(words)));
        } else if (command == "finish") {
            finish_text = RestOf(words);
            return;
        }
        Say("done " + command);
    }
    throw std::runtime_error("script ended");
}

InstallStages ScriptedStages() {
    auto finish_text = std::make_shared<std::wstring>();
    InstallStages stages;
    stages.install_package = [finish_text](const std::wstring&, std::wstring&) { ScriptedRun(*finish_text); };
    stages.update_segments = [] {};
    stages.finish = [finish_text] {
        run_flags.busy.Exchange(false);
        PostProgress(100, *finish_text, RunState::Finished);
        Say("done finish");
    };
    return stages;
}

}  // namespace
}  // namespace quorvane

int wmain() {
    using namespace quorvane;
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    StartGdiplus();
    RegisterInstallerWindowClass(instance);
    const InstallStages stages = ScriptedStages();
    // A fixed place on the screen: without a window manager nothing else places it.
    const HWND window = CreateWindowExW(kWindowExtendedStyle, kWindowClassName, kWindowTitle, kWindowStyle, 40, 40,
                                       kWindowWidth, kWindowHeight, nullptr, nullptr, instance,
                                       const_cast<InstallStages*>(&stages));
    if (window == nullptr) {
        Say("no window");
        return 1;
    }
    ShowWindow(window, SW_SHOWNORMAL);
    UpdateWindow(window);
    SetForegroundWindow(window);
    RECT client{};
    GetClientRect(window, &client);
    POINT origin{0, 0};
    ClientToScreen(window, &origin);
    Say("window origin=" + std::to_string(origin.x) + "," + std::to_string(origin.y) +
        " client=" + std::to_string(client.right) + "x" + std::to_string(client.bottom));
    const int code = RunMessageLoop();
    Say("exit " + std::to_string(code));
    return code;
}
