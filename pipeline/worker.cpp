#include "pipeline/worker.h"

#include <windows.h>
#include <shellapi.h>

#include <exception>
#include <thread>

#include "files/layout.h"
#include "files/text.h"
#include "files/unique_handle.h"
#include "pipeline/milestones.h"
#include "pipeline/stage_texts.h"
#include "pipeline/stages.h"
#include "report/progress_post.h"

namespace quorvane {
namespace {

void FreeArguments(LPWSTR* arguments) noexcept { LocalFree(arguments); }
using ArgumentArray = UniqueHandle<LPWSTR*, FreeArguments>;

void ReportFailure(const std::exception& failure, const std::wstring& installer_path) {
    RemoveLeftovers(installer_path);
    const bool cancelled = run_flags.cancel_requested.Load();
    if (cancelled) RemoveQuietly(InstallLogPath());
    run_flags.installer_running.Exchange(false);
    run_flags.busy.Exchange(false);
    if (cancelled) {
        PostProgress(-1, kRunCancelled, RunState::Cancelled);
        return;
    }
    std::wstring message;
    try {
        message = Utf8ToWide(failure.what());
    } catch (const std::exception&) {
        // A message that cannot be converted still has to end the run visibly.
        message = kFailedWithoutMessage;
    }
    PostProgress(-1, message, RunState::Failed);
}

// The run begins its work once the window has shown its first complete paint,
// or after this long if the window does not answer: the window's thread
// answers a sent message only from its message loop, which it enters after
// that paint. Started together, the two threads would load their DLLs and
// start their work at once, and the first paint would wait for the run's.
constexpr UINT kWindowReadyWaitMs = 1000;

void AwaitWindowReady() {
    DWORD_PTR answer = 0;
    SendMessageTimeoutW(main_window, WM_NULL, 0, 0, SMTO_NORMAL | SMTO_ABORTIFHUNG, kWindowReadyWaitMs, &answer);
}

}  // namespace

std::wstring ManifestAddressFromCommandLine() {
    int count = 0;
    const ArgumentArray split(CommandLineToArgvW(GetCommandLineW(), &count));
    if (!split) return ManifestAddressFromArguments({});
    return ManifestAddressFromArguments(std::vector<std::wstring>(split.get(), split.get() + count));
}

void RunInstallation(const InstallStages& stages) {
    AwaitWindowReady();
    std::wstring installer_path;
    try {
        const std::wstring manifest_address = ManifestAddressFromCommandLine();
        PostProgress(milestone::kFetchingManifest, kFetchingInstallInfo, RunState::Running);
        stages.install_package(manifest_address, installer_path);
        stages.update_segments();
        RemoveLeftovers(installer_path);
        stages.finish();
    } catch (const std::exception& failure) {
        ReportFailure(failure, installer_path);
    }
}

void InstallWorker() { RunInstallation(DefaultInstallStages()); }

namespace {

// The worker's thread runs body, which is moved into the thread: it may
// outlive the caller.
template <typename Body>
bool StartWorker(const std::function<void()>& reset_display, Body body) {
    if (run_flags.busy.Exchange(true)) return false;
    run_flags.cancel_requested.Exchange(false);
    run_flags.installer_running.Exchange(false);
    if (reset_display) reset_display();
    try {
        std::thread(std::move(body)).detach();
    } catch (...) {
        // No worker means no run, whatever stopped it (no thread, or no memory
        // for the stages it was to take): free the slot and say so the way a
        // run would.
        run_flags.busy.Exchange(false);
        PostProgress(-1, kCannotStartWorker, RunState::Failed);
        return false;
    }
    return true;
}

}  // namespace

bool StartInstall(const std::function<void()>& reset_display) { return StartWorker(reset_display, InstallWorker); }

bool StartInstall(const std::function<void()>& reset_display, InstallStages stages) {
    return StartWorker(reset_display, [stages = std::move(stages)] { RunInstallation(stages); });
}

}  // namespace quorvane
