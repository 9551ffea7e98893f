#pragma once
// The steps the window names, derived from the last percent shown.
// No Windows header here.

namespace quorvane {

enum class InstallStep {
    FetchInfo,
    DownloadProgram,
    InstallProgram,
    DownloadSegments,
    InstallSegments,
    LaunchProgram,
};

InstallStep StepForPercent(int percent);
const wchar_t* StepLabel(InstallStep step);

}  // namespace quorvane
