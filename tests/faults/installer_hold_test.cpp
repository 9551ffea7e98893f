// From its digest until its process has ended the installer cannot be
// changed: another party that tries to overwrite, replace, rename or delete
// the verified file in the temporary folder fails, and the verified bytes run
// (and are what the running installer reads back from its own file).

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

#include "files/text.h"
#include "tests/faults/fault_fixture.h"

namespace quorvane::testing {
namespace {

namespace fs = std::filesystem;

// Attacks the installer file over and over once started, until the
// installer's process has ended. An attack that succeeds before then has
// changed the bytes between their check and their use.
class SwapAttempts {
public:
    SwapAttempts(fs::path target, fs::path replacement, std::string replacement_bytes)
        : target_(std::move(target)), replacement_(std::move(replacement)), bytes_(std::move(replacement_bytes)) {}
    ~SwapAttempts() { Join(); }

    void Start() {
        thread_ = std::thread([this] { Run(); });
    }
    void Join() {
        if (thread_.joinable()) thread_.join();
    }
    int blocked_before_start() const { return blocked_before_start_; }
    int blocked_while_running() const { return blocked_while_running_; }
    int succeeded_too_early() const { return succeeded_too_early_; }

private:
    bool Overwrite() {
        const HANDLE file = CreateFileW(target_.c_str(), GENERIC_WRITE,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                        TRUNCATE_EXISTING, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE) return false;
        DWORD written = 0;
        ::WriteFile(file, bytes_.data(), static_cast<DWORD>(bytes_.size()), &written, nullptr);
        CloseHandle(file);
        return true;
    }
    bool Replace() {
        WriteFile(replacement_, bytes_);
        return MoveFileExW(replacement_.c_str(), target_.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
    }
    bool RenameAway() {
        return MoveFileExW(target_.c_str(), (target_.wstring() + L".moved").c_str(), 0) != FALSE;
    }
    bool Delete() { return DeleteFileW(target_.c_str()) != FALSE; }

    void Run() {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        bool seen_running = false;
        for (int attempt = 0; std::chrono::steady_clock::now() < deadline; ++attempt) {
            bool done = false;
            switch (attempt % 4) {
                case 0: done = Overwrite(); break;
                case 1: done = Replace(); break;
                case 2: done = RenameAway(); break;
                default: done = Delete(); break;
            }
            // Read after the attempt: the hold ends only after the flag is
            // cleared, so a success seen before that happened under the hold.
            const bool running = run_flags.installer_running.Load();
            const bool ended = seen_running && !running;
            seen_running |= running;
            if (done && !ended) ++succeeded_too_early_;
            if (!done && !seen_running) ++blocked_before_start_;
            if (!done && running) ++blocked_while_running_;
            if (ended) return;
        }
    }

    const fs::path target_;
    const fs::path replacement_;
    const std::string bytes_;
    std::thread thread_;
    std::atomic<int> blocked_before_start_{0};
    std::atomic<int> blocked_while_running_{0};
    std::atomic<int> succeeded_too_early_{0};
};

class InstallerHoldTest : public FaultTest {};

TEST_F(InstallerHoldTest, VerifiedInstallerCannotBeSwappedUntilItHasRun) {
    run_flags.launch_after_install.Exchange(false);
    ServeSegments("1", SegmentDatabase(1000, 'p'));
    // Runs long enough for the attempts to see it running.
    const std::string verified = StandinInstaller(0, 500);
    // Had these bytes run, the run would fail with exit code 77.
    const std::string swapped = StandinInstaller(77);
    const struct {
        const char* path;
        const wchar_t* version;
        bool on_disk_already;
        const wchar_t* start_at;  // the record after which the file is held
    } cases[] = {
        {"reused", L"11.0", true, L"安装包已下载 11.0"},
        {"downloaded", L"11.1", false, L"正在安装程序 11.1"},
    };
    for (const auto& example : cases) {
        SCOPED_TRACE(example.path);
        fs::remove_all(sandbox_.data_folder());
        const std::wstring manifest = ServeRelease(WideToUtf8(example.version), verified);
        if (example.on_disk_already) WriteFile(InstallerFile(example.version), verified);

        // Should the file go missing, the system's error box would wait for a user.
        const ErrorBoxDismisser user;
        SwapAttempts attempts(InstallerFile(example.version), sandbox_.temp() / L"swap.exe", swapped);
        const auto messages = RunInstallation(manifest, [&](const CollectedMessage& message) {
            if (message.record.text == example.start_at) attempts.Start();
        });
        attempts.Join();

        EXPECT_EQ(LastState(messages), RunState::Finished) << Describe(messages);
        EXPECT_TRUE(fs::exists(ProgramFile())) << "the verified installer did not run";
        EXPECT_EQ(attempts.succeeded_too_early(), 0) << "the file was changed between its check and the installer's end";
        EXPECT_GT(attempts.blocked_before_start(), 0) << "no attempt fell between the check and the start";
        EXPECT_GT(attempts.blocked_while_running(), 0) << "no attempt fell while the installer ran";
    }
}

}  // namespace
}  // namespace quorvane::testing
