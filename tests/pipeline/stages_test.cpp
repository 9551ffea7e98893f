#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "files/layout.h"
#include "files/text.h"
#include "report/progress.h"
#include "tests/pipeline/stage_fixture.h"

namespace quorvane::testing {
namespace {

namespace fs = std::filesystem;

bool IsDownloadText(const std::wstring& text) {
    return text.rfind(L"正在下载安装包 ", 0) == 0 || text.rfind(L"正在下载号段库 ", 0) == 0;
}

// The percents with each run of download records reduced to its first and
// last, so that the shape does not depend on how the bytes were chunked.
std::vector<int> Milestones(const std::vector<CollectedMessage>& messages) {
    std::vector<int> percents;
    for (size_t index = 0; index < messages.size(); ++index) {
        if (messages[index].close) continue;
        const ProgressRecord& record = messages[index].record;
        const bool in_run = IsDownloadText(record.text) && index > 0 && index + 1 < messages.size() &&
                            IsDownloadText(messages[index - 1].record.text) &&
                            IsDownloadText(messages[index + 1].record.text);
        if (!in_run) percents.push_back(record.percent);
    }
    return percents;
}

const ProgressRecord& LastRecord(const std::vector<CollectedMessage>& messages) {
    for (auto message = messages.rbegin(); message != messages.rend(); ++message) {
        if (!message->close) return message->record;
    }
    static const ProgressRecord none{0, RunState::Running, L"no record arrived"};
    return none;
}

bool EndsWithClose(const std::vector<CollectedMessage>& messages) {
    return !messages.empty() && messages.back().close;
}

std::string LastText(const std::vector<CollectedMessage>& messages) { return WideToUtf8(LastRecord(messages).text); }

TEST_F(StageTest, FirstInstallationInstallsStartsAndLeavesNothingBehind) {
    const std::string database = SegmentDatabase(1 << 20, 'a');
    ServeSegments("2026.11", database);
    const auto messages = RunInstallation(ServeRelease("3.1.0+7", StandinInstaller()));

    EXPECT_EQ(Milestones(messages), (std::vector<int>{5, 15, 20, 68, 70, 76, 80, 82, 86, 94, 95, 97, 99, 100}))
        << Describe(messages);
    EXPECT_EQ(LastRecord(messages).state, RunState::Finished);
    EXPECT_EQ(LastRecord(messages).text, L"安装和号段初始化完成，已启动程序");
    EXPECT_TRUE(EndsWithClose(messages)) << Describe(messages);
    for (const CollectedMessage& message : messages) {
        if (message.close) continue;
        EXPECT_EQ(message.busy_when_posted, message.record.state == RunState::Running)
            << "busy must be cleared right before the last record: " << message.record.percent;
    }
    EXPECT_EQ(messages[1].record.text, L"发现最新版 3.1.0+7");

    EXPECT_EQ(ReadFile(sandbox_.data_folder() / L"segments.qvrdb"), database);
    const std::string record = ReadFile(sandbox_.data_folder() / L"segment-manifest.json");
    EXPECT_EQ(std::count(record.begin(), record.end(), '\n'), 9);
    EXPECT_NE(record.find("\"version\": \"2026.11\""), std::string::npos) << record;

    const std::string command_line = ReadFile(sandbox_.data_folder() / L"installer-command-line.txt");
    EXPECT_NE(command_line.find("/SP- /CURRENTUSER /VERYSILENT /SUPPRESSMSGBOXES /NORESTART /CLOSEAPPLICATIONS /LOG=\"" +
                                WideToUtf8(LogFile().wstring()) + "\""),
              std::string::npos)
        << command_line;

    std::string started;
    for (int attempt = 0; attempt < 100 && started.empty(); ++attempt) {
        Sleep(50);
        const fs::path started_file = ProgramFile().parent_path() / L"product-started.txt";
        if (fs::exists(started_file)) started = ReadFile(started_file);
    }
    EXPECT_NE(started.find("working folder: " + WideToUtf8(ProgramFile().parent_path().wstring())), std::string::npos)
        << "the product did not start in its own folder: " << started;

    EXPECT_TRUE(Leftovers().empty()) << Leftovers().front().string();
    EXPECT_FALSE(fs::exists(LogFile())) << "the log of a successful installation is removed";

    const auto manifest_requests = server_.Requests(tag_ + "/manifest.json");
    ASSERT_EQ(manifest_requests.size(), 1u);
    EXPECT_EQ(manifest_requests[0].Header("X-Qvr-Request"), "online-installer-manifest");
    const auto installer_requests = server_.Requests(tag_ + "/installer.exe");
    ASSERT_EQ(installer_requests.size(), 1u);
    EXPECT_EQ(installer_requests[0].Header("X-Qvr-Request"), "online-installer-package");
    const auto segment_requests = server_.Requests(tag_ + "/segments-2026.11.qvrdb");
    ASSERT_EQ(segment_requests.size(), 1u);
    EXPECT_EQ(segment_requests[0].Header("X-Qvr-Request"), "online-installer-segment-database");
}

TEST_F(StageTest, IntactInstallerOnDiskIsReusedAndOtherBytesAreNot) {
    ServeSegments("1", SegmentDatabase(100, 'b'));
    const std::string installer = StandinInstaller();
    const std::wstring manifest = ServeRelease("4.0", installer);

    WriteFile(InstallerFile(L"4.0"), installer);
    auto messages = RunInstallation(manifest);
    EXPECT_EQ(Milestones(messages), (std::vector<int>{5, 15, 68, 70, 76, 80, 82, 86, 94, 95, 97, 99, 100}))
        << Describe(messages);
    EXPECT_EQ(messages[2].record.text, L"安装包已下载 4.0");
    EXPECT_EQ(messages[3].record.text, L"安装包校验完成");
    EXPECT_EQ(server_.Requests(tag_ + "/installer.exe").size(), 0u) << "an intact installer was downloaded again";

    std::string same_size_other_bytes = installer;
    same_size_other_bytes[100] = static_cast<char>(same_size_other_bytes[100] ^ 0x55);
    WriteFile(InstallerFile(L"4.0"), same_size_other_bytes);
    messages = RunInstallation(manifest);
    EXPECT_EQ(LastRecord(messages).state, RunState::Finished) << Describe(messages);
    EXPECT_EQ(server_.Requests(tag_ + "/installer.exe").size(), 1u) << "a damaged installer was used";

    // The same digest, but one byte less than the manifest says: the size alone must refuse it (and then
    // every download, which is as short).
    WriteFile(InstallerFile(L"4.0"), installer);
    std::string sha256;
    const std::wstring url = ServeBlob("installer.exe", installer, &sha256);
    messages = RunInstallation(ServeBlob("longer.json", InstallerManifestJson("4.0", url, sha256, installer.size() + 1),
                                         nullptr, L"update.quorvane.com"));
    EXPECT_EQ(LastText(messages), "安装包大小校验失败") << "a file of another size than the manifest's was used\n"
                                                       << Describe(messages);
}

TEST_F(StageTest, WrongSizeOnTheFirstAddressFallsBackToTheNext) {
    ServeSegments("1", SegmentDatabase(100, 'c'));
    const std::string installer = StandinInstaller();
    std::string sha256;
    ServeBlob("good.exe", installer, &sha256);
    ServeBlob("short.exe", installer.substr(0, installer.size() - 1), nullptr);
    const std::string rules = server_.RegisterHostRules("{\"files.quorvane.com\": \"blob=" + tag_ +
                                                        "-short.exe\", \"*\": \"blob=" + tag_ + "-good.exe\"}");
    const std::wstring url = server_.Url(L"files.quorvane.com", "hosts=" + rules, tag_ + "/setup.exe");
    const std::wstring manifest =
        ServeBlob("manifest.json", InstallerManifestJson("5.0", url, sha256, installer.size()), nullptr);

    const auto messages = RunInstallation(manifest);
    EXPECT_EQ(Milestones(messages),
              (std::vector<int>{5, 15, 20, 68, 70, 20, 20, 68, 70, 76, 80, 82, 86, 94, 95, 97, 99, 100}))
        << Describe(messages);
    bool saw_fallback = false;
    for (const CollectedMessage& message : messages) {
        saw_fallback |= message.record.text == L"正在尝试备用安装包下载地址";
    }
    EXPECT_TRUE(saw_fallback) << Describe(messages);
    EXPECT_EQ(LastRecord(messages).state, RunState::Finished);
}

TEST_F(StageTest, AllAddressesFailingShowsTheLastAddressesMessage) {
    const std::string rules = server_.RegisterHostRules(
        R"({"files.quorvane.com": "status=500", "files.quorvane.cn": "status=503", "files.quorvane.net": "status=404"})");
    const std::wstring url = server_.Url(L"files.quorvane.com", "hosts=" + rules, tag_ + "/setup.exe");
    const std::wstring manifest = ServeBlob(
        "manifest.json", InstallerManifestJson("6.0", url, std::string(64, 'a'), 1000), nullptr);

    const auto messages = RunInstallation(manifest);
    EXPECT_EQ(LastRecord(messages).state, RunState::Failed);
    EXPECT_EQ(LastRecord(messages).percent, -1);
    EXPECT_EQ(LastText(messages), "服务器返回异常状态码：404") << Describe(messages);
    EXPECT_TRUE(Leftovers().empty());
}

TEST_F(StageTest, EndlessInstallerBodyStopsRightAfterTheAnnouncedSize) {
    const std::wstring url = server_.Url(L"files.quorvane.com", "endless", tag_ + "/setup.exe");
    const std::wstring manifest =
        ServeBlob("manifest.json", InstallerManifestJson("7.0", url, std::string(64, 'b'), 300000), nullptr);

    const auto messages = RunInstallation(manifest);
    EXPECT_EQ(LastText(messages), "安装包大小校验失败") << Describe(messages);
    for (const CollectedMessage& message : messages) {
        if (IsDownloadText(message.record.text)) {
            EXPECT_LE(message.record.percent, 68);
        }
    }
    EXPECT_EQ(server_.Requests(tag_ + "/setup.exe").size(), 3u) << "each address is tried once";
    EXPECT_TRUE(Leftovers().empty());
}

TEST_F(StageTest, CancelDuringTheDownloadStopsAtOnceAndTriesNoOtherAddress) {
    const std::string installer = StandinInstaller();
    std::string sha256;
    ServeBlob("unused.exe", installer, &sha256);
    const std::wstring url =
        server_.Url(L"files.quorvane.com", "blob=" + tag_ + "-unused.exe,rate=200000", tag_ + "/slow.exe");
    const std::wstring manifest =
        ServeBlob("manifest.json", InstallerManifestJson("8.0", url, sha256, installer.size()), nullptr);

    const auto messages = RunInstallation(manifest, [](const CollectedMessage& message) {
        if (message.record.percent > 20 && IsDownloadText(message.record.text)) {
            run_flags.cancel_requested.Exchange(true);
        }
    });
    EXPECT_EQ(LastRecord(messages).state, RunState::Cancelled) << Describe(messages);
    EXPECT_EQ(LastRecord(messages).text, L"安装已取消，你可以重新开始安装");
    EXPECT_EQ(server_.Requests(tag_ + "/slow.exe").size(), 1u) << "another address was tried after the cancel";
    for (const CollectedMessage& message : messages) {
        EXPECT_NE(message.record.text, L"正在尝试备用安装包下载地址");
    }
    EXPECT_TRUE(Leftovers().empty());
    EXPECT_FALSE(fs::exists(ProgramFile()));
}

TEST_F(StageTest, FailedInstallerNamesItsExitCodeAndKeepsItsLog) {
    for (const auto& [exit_code, text] : {std::pair<std::uint32_t, std::string>{1, "1"}, {0xC0000005u, "3221225477"}}) {
        const auto messages = RunInstallation(ServeRelease("9.0", StandinInstaller(exit_code)));
        EXPECT_EQ(LastRecord(messages).state, RunState::Failed);
        EXPECT_EQ(LastText(messages), "安装程序返回异常退出码：" + text + "，日志：" + WideToUtf8(LogFile().wstring()))
            << Describe(messages);
        EXPECT_TRUE(fs::exists(LogFile())) << "the log of a failed installation must stay";
        EXPECT_TRUE(Leftovers().empty());
        fs::remove(LogFile());
    }
}

TEST_F(StageTest, CancelWhileTheInstallerRunsLetsItFinishThenCancels) {
    ServeSegments("1", SegmentDatabase(100, 'd'));
    bool installer_was_running = false;
    const auto messages =
        RunInstallation(ServeRelease("10.0", StandinInstaller(0, 1500)), [&](const CollectedMessage& message) {
            if (message.record.percent != 76) return;
            for (int attempt = 0; attempt < 100 && !run_flags.installer_running.Load(); ++attempt) Sleep(10);
            installer_was_running = run_flags.installer_running.Load();
            run_flags.cancel_requested.Exchange(true);
        });
    EXPECT_TRUE(installer_was_running);
    EXPECT_EQ(LastRecord(messages).state, RunState::Cancelled) << Describe(messages);
    // Right after the installer, not at the segment stage's first read.
    ASSERT_GE(messages.size(), 2u);
    EXPECT_EQ(messages[messages.size() - 2].record.percent, 76) << Describe(messages);
    EXPECT_TRUE(fs::exists(ProgramFile())) << "the installer must run to its end";
    EXPECT_FALSE(fs::exists(LogFile())) << "a cancelled run deletes the installer's log";
    EXPECT_FALSE(run_flags.installer_running.Load());
}

class SegmentStageTest : public StageTest {
protected:
    // Installs segment version `installed` with a first run, then offers
    // `offered` and runs again.
    std::vector<CollectedMessage> InstallThenOffer(const std::string& installed, const std::string& offered,
                                                   const std::function<void()>& between = nullptr,
                                                   const std::string& offered_database = SegmentDatabase(5000, 'e')) {
        run_flags.launch_after_install.Exchange(false);
        installed_ = installed;
        manifest_ = ServeRelease("1.0", StandinInstaller());
        ServeSegments(installed, SegmentDatabase(5000, 'e'));
        const auto first = RunInstallation(manifest_);
        EXPECT_EQ(LastRecord(first).state, RunState::Finished) << Describe(first);
        if (between) between();
        ServeSegments(offered, offered_database);
        return RunInstallation(manifest_);
    }
    // Whether the second run fetched the offered database.
    bool Downloaded(const std::string& offered) {
        const size_t first_run = offered == installed_ ? 1 : 0;
        return server_.Requests(tag_ + "/segments-" + offered + ".qvrdb").size() > first_run;
    }

    std::wstring manifest_;
    std::string installed_;
};

TEST_F(SegmentStageTest, CurrentDatabaseIsKeptWithoutTransfer) {
    // The offered database differs from the installed one only where said:
    // with a newer local version the server's digest plays no part.
    const struct {
        const char* installed;
        const char* offered;
        bool other_bytes;
        bool current;
    } cases[] = {{"7", "7", false, true},      {"7", "7", true, false},     {"10", "9", true, true},
                 {"1.10", "1.9", false, false}, {"BETA", "beta", false, true}, {" 42 ", "42", false, true}};
    for (const auto& example : cases) {
        SCOPED_TRACE(std::string(example.installed) + " installed, " + example.offered + " offered");
        fs::remove_all(sandbox_.data_folder());
        tag_ = server_.NewTag();
        const auto messages = InstallThenOffer(example.installed, example.offered, nullptr,
                                               SegmentDatabase(5000, example.other_bytes ? 'x' : 'e'));
        EXPECT_EQ(LastRecord(messages).state, RunState::Finished) << Describe(messages);
        if (example.current) {
            EXPECT_EQ(Milestones(messages), (std::vector<int>{5, 15, 20, 68, 70, 76, 80, 82, 96, 100}))
                << Describe(messages);
            EXPECT_FALSE(Downloaded(example.offered));
            bool saw = false;
            for (const auto& message : messages) saw |= message.record.text == Utf8ToWide(std::string("号段库已是最新版本 ") + example.installed);
            EXPECT_TRUE(saw) << Describe(messages);
        } else {
            EXPECT_TRUE(Downloaded(example.offered)) << Describe(messages);
        }
    }
}

TEST_F(SegmentStageTest, MissingOrDamagedDatabaseIsDownloadedAgain) {
    const auto missing = InstallThenOffer("3", "3", [&] { fs::remove(sandbox_.data_folder() / L"segments.qvrdb"); });
    EXPECT_EQ(LastRecord(missing).state, RunState::Finished) << Describe(missing);
    EXPECT_EQ(Milestones(missing), (std::vector<int>{5, 15, 20, 68, 70, 76, 80, 82, 86, 94, 95, 97, 100}))
        << Describe(missing);
    EXPECT_EQ(ReadFile(sandbox_.data_folder() / L"segments.qvrdb"), SegmentDatabase(5000, 'e'));

    fs::remove_all(sandbox_.data_folder());
    tag_ = server_.NewTag();
    const auto damaged = InstallThenOffer("4", "4", [&] {
        std::string bytes = SegmentDatabase(5000, 'e');
        bytes[0] = 'X';
        WriteFile(sandbox_.data_folder() / L"segments.qvrdb", bytes);
    });
    EXPECT_TRUE(Downloaded("4")) << "a database with a bad header was kept";
    EXPECT_EQ(ReadFile(sandbox_.data_folder() / L"segments.qvrdb"), SegmentDatabase(5000, 'e'));
}

TEST_F(SegmentStageTest, HeaderWrongDespiteRightDigestTriesEveryAddress) {
    run_flags.launch_after_install.Exchange(false);
    const std::string database = SegmentDatabase(4000, 'g', false);
    ServeSegments("11", database);
    const auto messages = RunInstallation(ServeRelease("1.0", StandinInstaller()));
    EXPECT_EQ(LastText(messages), "号段数据库文件头无效") << Describe(messages);
    EXPECT_EQ(server_.Requests(tag_ + "/segments-11.qvrdb").size(), 3u);
    int fallbacks = 0;
    for (const auto& message : messages) fallbacks += message.record.text == L"正在尝试备用号段下载地址" ? 1 : 0;
    EXPECT_EQ(fallbacks, 2);
    EXPECT_FALSE(fs::exists(sandbox_.data_folder() / L"segments.qvrdb"));
    EXPECT_TRUE(Leftovers().empty());
}

TEST_F(SegmentStageTest, LockedDatabaseFailsTheMoveAndKeepsTheOldOne) {
    HANDLE lock = INVALID_HANDLE_VALUE;
    const auto messages = InstallThenOffer("1", "2", [&] {
        lock = CreateFileW((sandbox_.data_folder() / L"segments.qvrdb").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    });
    ASSERT_NE(lock, INVALID_HANDLE_VALUE);
    CloseHandle(lock);
    EXPECT_EQ(LastRecord(messages).state, RunState::Failed);
    EXPECT_EQ(LastText(messages).rfind("安装本地号段库失败（错误码 ", 0), 0u) << Describe(messages);
    EXPECT_EQ(ReadFile(sandbox_.data_folder() / L"segments.qvrdb"), SegmentDatabase(5000, 'e'));
    EXPECT_TRUE(Leftovers().empty());
}

TEST_F(StageTest, FinishFollowsTheAutoRunOption) {
    ServeSegments("1", SegmentDatabase(100, 'h'));
    run_flags.launch_after_install.Exchange(false);
    auto messages = RunInstallation(ServeRelease("12.0", StandinInstaller()));
    EXPECT_EQ(LastRecord(messages).text, L"安装和号段初始化完成") << Describe(messages);
    EXPECT_EQ(Milestones(messages).end()[-2], 97) << "no launch record when auto-run is off";
    EXPECT_FALSE(EndsWithClose(messages));
    EXPECT_FALSE(fs::exists(ProgramFile().parent_path() / L"product-started.txt"));

    run_flags.launch_after_install.Exchange(true);
    fs::remove_all(sandbox_.data_folder());
    messages = RunInstallation(ServeRelease("12.1", StandinInstaller(0, 0, false)));
    EXPECT_EQ(Milestones(messages).end()[-2], 99);
    EXPECT_EQ(LastRecord(messages).text, L"安装和号段初始化完成，请从桌面快捷方式启动程序") << Describe(messages);
    EXPECT_FALSE(EndsWithClose(messages)) << "the window stays open when nothing was started";
}

}  // namespace
}  // namespace quorvane::testing
