#include "tests/faults/fault_fixture.h"

#include <stdexcept>
#include <utility>

#include "files/text.h"
#include "pipeline/stages.h"
#include "pipeline/worker.h"
#include "tests/faults/observed.h"

namespace quorvane::testing {

namespace fs = std::filesystem;

void FaultTest::SetUp() { run_flags.cancel_requested.Exchange(false); }

void FaultTest::TearDown() { run_flags.cancel_requested.Exchange(false); }

std::string FaultTest::Outcome(const std::vector<CollectedMessage>& messages) {
    for (auto message = messages.rbegin(); message != messages.rend(); ++message) {
        if (message->close) continue;
        const std::string text = WideToUtf8(message->record.text);
        if (message->record.state == RunState::Failed) NoteObservedFailure(text);
        return text;
    }
    return "(no record arrived)";
}

RunState FaultTest::LastState(const std::vector<CollectedMessage>& messages) const {
    for (auto message = messages.rbegin(); message != messages.rend(); ++message) {
        if (!message->close) return message->record.state;
    }
    return RunState::Running;
}

std::string FaultTest::FailureOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const std::exception& failure) {
        NoteObservedFailure(failure.what());
        return failure.what();
    }
    return "(no failure)";
}

std::vector<CollectedMessage> FaultTest::RunSegmentStageOnly(const RecordCollector::Observer& on_message) {
    run_flags.launch_after_install.Exchange(false);
    InstallStages stages;
    stages.install_package = [](const std::wstring&, std::wstring&) {};
    stages.update_segments = RunSegmentStage;
    stages.finish = FinishRun;
    EXPECT_TRUE(StartInstall(nullptr, stages)) << "a run was still under way";
    return collector_.WaitForLastRecord(std::chrono::seconds(90), on_message);
}

std::wstring FaultTest::ServeManifestFor(const std::string& version, const std::wstring& url,
                                         const std::string& installer) {
    std::string sha256;
    ServeBlob("installer-" + version + ".exe", installer, &sha256);
    return ServeBlob("manifest-" + version + ".json", InstallerManifestJson(version, url, sha256, installer.size()),
                     nullptr, L"update.quorvane.com");
}

void FaultTest::ServeSegmentsWithRules(const std::string& version, const std::string& database,
                                       const std::string& rules_json) {
    std::string sha256;
    ServeBlob("segments-" + version + ".qvrdb", database, &sha256);
    const std::string rules = server_.RegisterHostRules(rules_json);
    const std::wstring url = server_.Url(L"files.quorvane.com", "blob=" + tag_ + "-segments-" + version + ".qvrdb,hosts=" + rules,
                                         tag_ + "/db-" + version + ".qvrdb");
    ServeSegmentManifest(SegmentManifestJson(version, url, sha256));
}

bool StartsWith(const std::string& text, const std::string& head) { return text.rfind(head, 0) == 0; }

FileHeldElsewhere::FileHeldElsewhere(const fs::path& path, Access access) {
    const std::wstring event_name = L"QuorvaneFaultHolder-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                                    std::to_wstring(GetTickCount64());
    const HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, event_name.c_str());
    if (ready == nullptr) throw std::runtime_error("cannot create the holder's event");
    const fs::path holder = BuildFolder() / L"tests" / L"faults" / L"file_holder.exe";
    std::wstring command_line = L"\"" + holder.wstring() + L"\" \"" + path.wstring() + L"\" " +
                               (access == Access::Write ? L"write " : L"read ") + event_name;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    if (!CreateProcessW(holder.c_str(), command_line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process_)) {
        CloseHandle(ready);
        throw std::runtime_error("cannot start file_holder.exe");
    }
    const HANDLE waits[] = {ready, process_.hProcess};
    const DWORD woken = WaitForMultipleObjects(2, waits, FALSE, 20000);
    CloseHandle(ready);
    if (woken != WAIT_OBJECT_0) {
        TerminateProcess(process_.hProcess, 1);
        CloseHandle(process_.hThread);
        CloseHandle(process_.hProcess);
        throw std::runtime_error("file_holder.exe could not open " + path.string());
    }
}

FileHeldElsewhere::~FileHeldElsewhere() {
    TerminateProcess(process_.hProcess, 0);
    WaitForSingleObject(process_.hProcess, 10000);
    CloseHandle(process_.hThread);
    CloseHandle(process_.hProcess);
}

namespace {

BOOL CALLBACK CloseErrorBox(HWND window, LPARAM dismissed) {
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    wchar_t class_name[16] = {};
    GetClassNameW(window, class_name, 16);
    if (process == GetCurrentProcessId() && std::wstring(class_name) == L"#32770" && IsWindowVisible(window)) {
        PostMessageW(window, WM_COMMAND, IDOK, 0);
        ++*reinterpret_cast<std::atomic<int>*>(dismissed);
    }
    return TRUE;
}

}  // namespace

ErrorBoxDismisser::ErrorBoxDismisser()
    : thread_([this] {
          while (!stop_) {
              EnumWindows(CloseErrorBox, reinterpret_cast<LPARAM>(&dismissed_));
              Sleep(100);
          }
      }) {}

ErrorBoxDismisser::~ErrorBoxDismisser() {
    stop_ = true;
    thread_.join();
}

std::optional<ScratchDisk> FindScratchDisk() {
    const fs::path folder = BuildFolder() / L"faults";
    ScratchDisk disk{folder / L"disk", folder / L"disk-ro"};
    std::error_code error;
    if (!fs::exists(disk.writable / L".scratch-disk", error) || !fs::exists(disk.read_only / L".scratch-disk", error)) {
        return std::nullopt;
    }
    ULARGE_INTEGER total = {};
    if (!GetDiskFreeSpaceExW(disk.writable.c_str(), nullptr, &total, nullptr)) return std::nullopt;
    // A host folder would be far larger; never fill a real disk.
    if (total.QuadPart > (256ull << 20)) return std::nullopt;
    return disk;
}

std::uint64_t FreeBytes(const fs::path& folder) {
    ULARGE_INTEGER free = {};
    if (!GetDiskFreeSpaceExW(folder.c_str(), &free, nullptr, nullptr)) throw std::runtime_error("GetDiskFreeSpaceExW");
    return free.QuadPart;
}

void FillDiskLeaving(const fs::path& path, std::uint64_t leave) {
    const std::uint64_t free = FreeBytes(path.parent_path());
    if (free < leave) throw std::runtime_error("the scratch disk is already fuller than asked");
    std::uint64_t remaining = free - leave;
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot create the filler");
    const std::string zeros(1 << 20, '\0');
    while (remaining > 0) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::uint64_t>(remaining, zeros.size()));
        DWORD written = 0;
        if (!::WriteFile(file, zeros.data(), chunk, &written, nullptr) || written != chunk) break;
        remaining -= written;
    }
    CloseHandle(file);
    if (remaining != 0) throw std::runtime_error("the filler could not be written");
}

}  // namespace quorvane::testing
