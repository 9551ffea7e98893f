#include <windows.h>
#include <shellapi.h>

#include <filesystem>
#include <system_error>

#include "files/layout.h"
#include "pipeline/milestones.h"
#include "report/progress_post.h"
#include "pipeline/stage_texts.h"
#include "pipeline/stages.h"

namespace quorvane {
namespace {

bool LaunchInstalledProgram() {
    const std::wstring program = InstalledProgramPath();
    std::error_code error;
    if (program.empty() || !std::filesystem::is_regular_file(std::filesystem::path(program), error)) return false;
    const std::wstring folder = std::filesystem::path(program).parent_path().wstring();
    const HINSTANCE result = ShellExecuteW(nullptr, L"open", program.c_str(), nullptr, folder.c_str(), SW_SHOWNORMAL);
    return reinterpret_cast<INT_PTR>(result) > 32;
}

}  // namespace

// busy is cleared before the last record and the close request follows it, so
// the window shows the final text before it closes.
void FinishRun() {
    if (!run_flags.launch_after_install.Load()) {
        run_flags.busy.Exchange(false);
        PostProgress(milestone::kFinished, kFinished, RunState::Finished);
        return;
    }
    PostProgress(milestone::kLaunchingProgram, kLaunchingProgram, RunState::Running);
    const bool launched = LaunchInstalledProgram();
    run_flags.busy.Exchange(false);
    PostProgress(milestone::kFinished, launched ? kFinishedAndLaunched : kFinishedUseShortcut, RunState::Finished);
    if (launched) PostMessageW(main_window, WM_INSTALL_CLOSE, 0, 0);
}

}  // namespace quorvane
