#include <cstdint>
#include <filesystem>
#include <stdexcept>

#include "files/layout.h"
#include "files/manifest.h"
#include "files/product_constants.h"
#include "files/segment_files.h"
#include "net/download_url.h"
#include "net/transfer.h"
#include "pipeline/download_loop.h"
#include "pipeline/milestones.h"
#include "report/progress_post.h"
#include "pipeline/stage_texts.h"
#include "pipeline/stages.h"

namespace quorvane {
namespace {

// The segment manifest names no size: a database body longer than this is
// refused as soon as it shows, so that no server can fill the user's disk.
constexpr std::uint64_t kSegmentDatabaseCap = std::uint64_t{256} << 20;

}  // namespace

void RunSegmentStage() {
    PostProgress(milestone::kFetchingSegmentManifest, kFetchingSegmentVersion, RunState::Running);
    const SegmentManifest remote = ParseSegmentManifest(FetchToMemory(kSegmentManifestUrl, kSegmentManifestPurpose,
                                                                      milestone::kFetchingSegmentManifest,
                                                                      kTryingOtherSegmentManifestAddress));

    const std::wstring data_folder = ProductDataFolder();
    if (data_folder.empty()) throw std::runtime_error(kNoSegmentFolder);
    std::filesystem::create_directories(std::filesystem::path(data_folder));

    const std::wstring local_version = ReadLocalSegmentVersion();
    if (IsLocalSegmentCurrent(local_version, remote)) {
        PostProgress(milestone::kSegmentsCurrent, kSegmentsCurrent + local_version, RunState::Running);
        return;
    }

    PostProgress(milestone::kSegmentDownloadStart, kDownloadingSegments + remote.version, RunState::Running);
    const std::wstring download_path = SegmentDownloadPath();
    DownloadFromCandidates(BuildDownloadCandidates(remote.url), download_path, milestone::kSegmentDownloadStart,
                           kTryingOtherSegmentAddress, kSegmentDownloadFailed, [&](const std::wstring& candidate) {
                               DownloadToFile(candidate, download_path, kSegmentDatabasePurpose,
                                              milestone::kSegmentDownloadStart, milestone::kSegmentDownloadEnd,
                                              kDownloadingSegments, remote.version,
                                              DownloadLimit{kSegmentDatabaseCap, kSegmentDatabaseTooLarge});
                               PostProgress(milestone::kVerifyingSegments, kVerifyingSegments, RunState::Running);
                               VerifySegmentDownload(remote);
                           });

    PostProgress(milestone::kInstallingSegments, kInstallingSegments + remote.version, RunState::Running);
    InstallSegmentDatabase();
    WriteLocalSegmentManifest(remote);
}

}  // namespace quorvane
