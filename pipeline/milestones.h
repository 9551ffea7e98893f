#pragma once
// The percents a run posts, each named once, in the order a run reaches them.
// The window names the step from the percent shown (StepForPercent), so each
// lies within the bounds of its step in pipeline/steps.h. No Windows header here.

namespace quorvane::milestone {

inline constexpr int kFetchingManifest = 5;  // also while another manifest address is tried
inline constexpr int kFoundVersion = 15;
// The package's download runs from the start to the end; a package already
// downloaded and verified jumps to the end.
inline constexpr int kPackageDownloadStart = 20;
inline constexpr int kPackageDownloadEnd = 68;
inline constexpr int kPackageVerified = 70;  // while it is verified, and once it is
inline constexpr int kInstallingProgram = 76;
inline constexpr int kProgramInstalled = 80;
inline constexpr int kFetchingSegmentManifest = 82;  // also while another address is tried
inline constexpr int kSegmentDownloadStart = 86;
inline constexpr int kSegmentDownloadEnd = 94;
inline constexpr int kVerifyingSegments = 95;
inline constexpr int kSegmentsCurrent = 96;
inline constexpr int kInstallingSegments = 97;
inline constexpr int kLaunchingProgram = 99;
inline constexpr int kFinished = 100;

}  // namespace quorvane::milestone
