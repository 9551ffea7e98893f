#pragma once
// Whole runs of the real stages that meet a fault, on top of the stage
// fixture: what the user is shown, what another process can do to the files,
// and a small scratch file system for a full or read-only data folder.

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "report/progress.h"
#include "tests/pipeline/stage_fixture.h"

namespace quorvane::testing {

class FaultTest : public StageTest {
protected:
    void SetUp() override;
    void TearDown() override;

    // The text of the run's last record in UTF-8. A failure's text is noted as
    // observed for the coverage count.
    std::string Outcome(const std::vector<CollectedMessage>& messages);
    RunState LastState(const std::vector<CollectedMessage>& messages) const;
    // The message a direct call raises ("(no failure)" when none), noted as observed.
    std::string FailureOf(const std::function<void()>& call);

    // A run of the segment stage and the finish alone, as after an installed
    // product, with auto-run off.
    std::vector<CollectedMessage> RunSegmentStageOnly(const RecordCollector::Observer& on_message = nullptr);
    // Serves the installer manifest for a release whose installer is at url.
    std::wstring ServeManifestFor(const std::string& version, const std::wstring& url, const std::string& installer);
    // Serves this segment database at an address on files.quorvane.com whose
    // hosts follow the per-host rules (blob=<the database> is added to each).
    void ServeSegmentsWithRules(const std::string& version, const std::string& database, const std::string& rules_json);
};

bool StartsWith(const std::string& text, const std::string& head);

// Holds a file open in another process (file_holder.exe), for reading or for
// writing, sharing reading only, from construction to destruction.
class FileHeldElsewhere {
public:
    enum class Access { Read, Write };
    explicit FileHeldElsewhere(const std::filesystem::path& path, Access access = Access::Read);
    ~FileHeldElsewhere();
    FileHeldElsewhere(const FileHeldElsewhere&) = delete;
    FileHeldElsewhere& operator=(const FileHeldElsewhere&) = delete;

private:
    PROCESS_INFORMATION process_ = {};
};

// Closes the system's error boxes that this process shows (ShellExecuteExW
// reports a file it cannot start in one and waits for it), from
// construction to destruction, as a user would by pressing OK.
class ErrorBoxDismisser {
public:
    ErrorBoxDismisser();
    ~ErrorBoxDismisser();
    ErrorBoxDismisser(const ErrorBoxDismisser&) = delete;
    ErrorBoxDismisser& operator=(const ErrorBoxDismisser&) = delete;
    int dismissed() const { return dismissed_; }

private:
    std::atomic<bool> stop_{false};
    std::atomic<int> dismissed_{0};
    std::thread thread_;
};

// The scratch file system that tests/faults/scratch_disk.sh mounts for the
// run: a small tmpfs (writable) and a read-only view of the same files.
struct ScratchDisk {
    std::filesystem::path writable;
    std::filesystem::path read_only;
};
// nullopt when it is not mounted (not root, or no mount allowed here).
std::optional<ScratchDisk> FindScratchDisk();
std::uint64_t FreeBytes(const std::filesystem::path& folder);
// Writes zeros into path until the file system holding it has `leave` bytes free.
void FillDiskLeaving(const std::filesystem::path& path, std::uint64_t leave);

}  // namespace quorvane::testing
