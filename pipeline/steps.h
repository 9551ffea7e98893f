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

// The last percent of each step; above the last of them the program is launched.
inline constexpr int kLastFetchInfoPercent = 17;
inline constexpr int kLastDownloadProgramPercent = 69;
inline constexpr int kLastInstallProgramPercent = 81;
inline constexpr int kLastDownloadSegmentsPercent = 94;
inline constexpr int kLastInstallSegmentsPercent = 98;

InstallStep StepForPercent(int percent);
const wchar_t* StepLabel(InstallStep step);

}  // namespace quorvane
