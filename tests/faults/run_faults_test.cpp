// Faults met in the middle of a real run: each ends with its message, leaves
// nothing half-installed, and the next run succeeds.

#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "files/text.h"
#include "tests/faults/fault_fixture.h"

namespace quorvane::testing {
namespace {

namespace fs = std::filesystem;

// Where WinHTTP on Windows reports a cut connection; under Wine 8 the body
// just ends early and the size or digest check finds the loss.
bool IsCutReport(const std::string& message, const std::string& check_under_wine) {
    return message == check_under_wine || StartsWith(message, "下载文件失败（错误码 ") ||
           StartsWith(message, "读取下载数据失败（错误码 ");
}

// Per-host rules under which each of the maker's file hosts (and any other)
// answers its first request with the fault and later ones normally.
std::string EveryHostBrokenOnce(const std::string& fault) {
    const std::string sequence = "[\"" + fault + "\", \"size=0\"]";
    std::string json = "{";
    for (const char* host : {"files.quorvane.com", "files.quorvane.cn", "files.quorvane.net", "localhost"}) {
        json += "\"" + std::string(host) + "\": " + sequence + ", ";
    }
    return json + "\"*\": " + sequence + "}";
}

class RunFaultTest : public FaultTest {
protected:
    fs::path data() const { return data_; }
    // The run's temporary files that the clean-up must have removed.
    std::vector<fs::path> LeftoversHere() const {
        std::vector<fs::path> found;
        for (const fs::path& path : {sandbox_.temp() / L"QuorvaneOnlineSetup", data() / L"segments.download.qvrdb",
                                     data() / L"segment-manifest.json.download"}) {
            if (fs::exists(path)) found.push_back(path);
        }
        return found;
    }

    // Installs segment release `version` so that a later run has an old
    // database and record to keep.
    void InstallSegments(const std::string& version, const std::string& database) {
        ServeSegments(version, database);
        const auto messages = RunSegmentStageOnly();
        ASSERT_EQ(LastState(messages), RunState::Finished) << Describe(messages);
        old_database_ = ReadFile(data() / L"segments.qvrdb");
        old_record_ = ReadFile(data() / L"segment-manifest.json");
    }
    void ExpectOldSegmentsKept() const {
        EXPECT_TRUE(ReadFile(data() / L"segments.qvrdb") == old_database_) << "the old database was changed";
        EXPECT_EQ(ReadFile(data() / L"segment-manifest.json"), old_record_) << "the old record was changed";
        EXPECT_TRUE(LeftoversHere().empty()) << LeftoversHere().front().string();
    }
    // Serves a segment release whose database is the server's pattern body of
    // size bytes, on every trusted domain; returns the path its requests show.
    std::string ServePatternSegments(const std::string& version, std::uint64_t size) {
        const std::string tail = tag_ + "/pattern-" + version + ".qvrdb";
        ServeSegmentManifest(SegmentManifestJson(
            version, server_.Url(L"files.quorvane.com", "size=" + std::to_string(size), tail), server_.Sha256(size)));
        return tail;
    }
    // The body bytes the server handed to each request for the path, once each
    // of the expected count has ended (the server sees a closed connection a
    // little after the client has gone).
    std::vector<std::uint64_t> SentFor(const std::string& path, std::size_t count) const {
        std::vector<std::uint64_t> sent;
        for (int tries = 0; tries < 200; ++tries) {
            sent.clear();
            for (const RecordedRequest& request : server_.Requests(path)) {
                if (request.sent) sent.push_back(*request.sent);
            }
            if (sent.size() >= count) break;
            Sleep(100);
        }
        EXPECT_EQ(sent.size(), count) << "requests whose answer ended, for " << path;
        return sent;
    }
    void ExpectInstalled(const std::string& database, const std::string& version) const {
        EXPECT_TRUE(ReadFile(data() / L"segments.qvrdb") == database) << "the new database is not in place";
        EXPECT_NE(ReadFile(data() / L"segment-manifest.json").find("\"version\": \"" + version + "\""),
                  std::string::npos);
        EXPECT_TRUE(LeftoversHere().empty());
    }

    fs::path data_ = sandbox_.data_folder();
    std::string old_database_;
    std::string old_record_;
};

TEST_F(RunFaultTest, InstallerConnectionCutHalfWayIsNeverRun) {
    ServeSegments("1", SegmentDatabase(1000, 'a'));
    const std::string installer = StandinInstaller();
    const std::string cut = "cut=" + std::to_string(installer.size() / 2);
    // Every address breaks off on the first request and is fixed on the second.
    const std::string rules = server_.RegisterHostRules(EveryHostBrokenOnce(cut));
    const std::wstring url = server_.Url(L"files.quorvane.com",
                                         "blob=" + tag_ + "-installer-7.0.exe,hosts=" + rules, tag_ + "/setup.exe");
    const std::wstring manifest = ServeManifestFor("7.0", url, installer);

    const auto broken = RunInstallation(manifest);
    EXPECT_EQ(LastState(broken), RunState::Failed);
    const std::string message = Outcome(broken);
    EXPECT_TRUE(IsCutReport(message, "安装包大小校验失败")) << message;
    EXPECT_EQ(server_.Requests(tag_ + "/setup.exe").size(), 3u) << "each address is tried once";
    EXPECT_FALSE(fs::exists(ProgramFile())) << "a cut installer was run";
    EXPECT_FALSE(fs::exists(data() / L"installer-command-line.txt"));
    EXPECT_TRUE(Leftovers().empty());

    const auto fixed = RunInstallation(manifest);
    EXPECT_EQ(LastState(fixed), RunState::Finished) << Describe(fixed);
    EXPECT_TRUE(fs::exists(ProgramFile()));
}

TEST_F(RunFaultTest, DatabaseConnectionCutHalfWayKeepsTheOldDatabase) {
    InstallSegments("1", SegmentDatabase(40000, 'b'));
    const std::string database = SegmentDatabase(400000, 'c');
    ServeSegmentsWithRules("2", database, EveryHostBrokenOnce("cut=200000"));

    const auto broken = RunSegmentStageOnly();
    EXPECT_EQ(LastState(broken), RunState::Failed);
    const std::string message = Outcome(broken);
    EXPECT_TRUE(IsCutReport(message, "号段库 SHA-256 校验失败")) << message;
    ExpectOldSegmentsKept();

    EXPECT_EQ(LastState(RunSegmentStageOnly()), RunState::Finished);
    ExpectInstalled(database, "2");
}

// The one slow case: a server that stops sending in the middle of the body
// for longer than the 30 s receive timeout. The address is off the trusted
// domains, so it is the only one and its failure is what the user reads.
TEST_F(RunFaultTest, ServerStallingPastTheReceiveTimeout) {
    ServeSegments("1", SegmentDatabase(1000, 'd'));
    const std::string installer = StandinInstaller();
    const std::string rules = server_.RegisterHostRules(EveryHostBrokenOnce("stallat=100000,stall=40000"));
    const std::wstring url = server_.Url(L"localhost", "blob=" + tag_ + "-installer-8.0.exe,hosts=" + rules,
                                         tag_ + "/stalled.exe", server_.https_port());
    const std::wstring manifest = ServeManifestFor("8.0", url, installer);

    const auto stalled = RunInstallation(manifest);
    const std::string message = Outcome(stalled);
    // ERROR_WINHTTP_TIMEOUT on Windows; Wine passes on the socket's WSAETIMEDOUT.
    EXPECT_TRUE(StartsWith(message, "读取下载数据失败（错误码 12002）") ||
                StartsWith(message, "读取下载数据失败（错误码 10060）"))
        << message;
    EXPECT_FALSE(fs::exists(ProgramFile()));
    EXPECT_TRUE(Leftovers().empty());

    EXPECT_EQ(LastState(RunInstallation(manifest)), RunState::Finished);
}

// The segment manifest names no size: a body longer than the fixed cap is
// refused as soon as it shows, on every address, and nothing stays behind.
TEST_F(RunFaultTest, DatabaseLongerThanTheCapIsRefusedAtTheCap) {
    constexpr std::uint64_t kCap = std::uint64_t{256} << 20;
    const std::string path = ServePatternSegments("4", kCap + (64u << 20));

    const auto refused = RunSegmentStageOnly();
    EXPECT_EQ(Outcome(refused), "号段库文件过大") << Describe(refused);
    for (const std::uint64_t sent : SentFor(path, 3)) {
        EXPECT_GT(sent, kCap) << "the body stopped before the cap";
        EXPECT_LE(sent, kCap + (16u << 20)) << "the download read on past the cap";
    }
    EXPECT_TRUE(LeftoversHere().empty());
    EXPECT_TRUE(fs::is_empty(data())) << "the data folder is not empty";
}

TEST_F(RunFaultTest, DatabaseHeldByAnotherProcessStaysInPlace) {
    InstallSegments("1", SegmentDatabase(5000, 'e'));
    const std::string database = SegmentDatabase(6000, 'f');
    ServeSegments("2", database);
    {
        const FileHeldElsewhere reader(data() / L"segments.qvrdb");
        const auto held = RunSegmentStageOnly();
        EXPECT_TRUE(StartsWith(Outcome(held), "安装本地号段库失败（错误码 ")) << Describe(held);
        ExpectOldSegmentsKept();
    }
    EXPECT_EQ(LastState(RunSegmentStageOnly()), RunState::Finished);
    ExpectInstalled(database, "2");
}

TEST_F(RunFaultTest, RecordHeldByAnotherProcessLeavesTheNewDatabaseBesideTheOldRecord) {
    InstallSegments("1", SegmentDatabase(5000, 'g'));
    const std::string database = SegmentDatabase(6000, 'h');
    ServeSegments("2", database);
    {
        const FileHeldElsewhere reader(data() / L"segment-manifest.json");
        const auto held = RunSegmentStageOnly();
        EXPECT_TRUE(StartsWith(Outcome(held), "替换本地号段版本文件失败（错误码 ")) << Describe(held);
        EXPECT_TRUE(ReadFile(data() / L"segments.qvrdb") == database) << "the database is moved in first";
        EXPECT_EQ(ReadFile(data() / L"segment-manifest.json"), old_record_);
        EXPECT_TRUE(LeftoversHere().empty());
    }
    // The old record names an older release, so the next run fetches it again.
    EXPECT_EQ(LastState(RunSegmentStageOnly()), RunState::Finished);
    ExpectInstalled(database, "2");
}

TEST_F(RunFaultTest, DamagedLocalRecordOnlyMeansDownloadingAgain) {
    InstallSegments("3", SegmentDatabase(5000, 'i'));
    const std::string good_record = old_record_;
    std::string garbage(4096, '\0');
    for (size_t index = 0; index < garbage.size(); ++index) garbage[index] = static_cast<char>(index * 131 + 7);
    std::string huge = good_record.substr(0, good_record.size() / 3);
    huge.append(16u << 20, ' ');
    const struct {
        const char* what;
        std::string record;
    } records[] = {
        {"garbage", garbage},
        {"truncated", good_record.substr(0, good_record.size() / 2)},
        {"huge", huge},
    };
    for (const auto& damaged : records) {
        SCOPED_TRACE(damaged.what);
        const size_t downloads = server_.Requests(tag_ + "/segments-3.qvrdb").size();
        WriteFile(data() / L"segment-manifest.json", damaged.record);
        const auto messages = RunSegmentStageOnly();
        EXPECT_EQ(LastState(messages), RunState::Finished) << Describe(messages);
        EXPECT_EQ(Outcome(messages), "安装和号段初始化完成");
        EXPECT_EQ(server_.Requests(tag_ + "/segments-3.qvrdb").size(), downloads + 1);
        ExpectInstalled(old_database_, "3");
    }
}

// The data folder on the scratch disk, so that it can run out of space or be
// seen through a read-only view.
class ScratchDiskFaultTest : public RunFaultTest {
protected:
    void SetUp() override {
        RunFaultTest::SetUp();
        disk_ = FindScratchDisk();
        if (!disk_) GTEST_SKIP() << "no scratch disk: mounting it needs root (tests/faults/scratch_disk.sh)";
        fs::remove_all(disk_->writable / Utf8ToWide(tag_));
        UseLocalAppData(disk_->writable);
    }
    void TearDown() override {
        local_.reset();
        if (disk_) fs::remove_all(disk_->writable / Utf8ToWide(tag_));
        RunFaultTest::TearDown();
    }
    // LOCALAPPDATA in this test's folder of the writable or read-only view.
    void UseLocalAppData(const fs::path& view) {
        local_.reset();
        const fs::path folder = view / Utf8ToWide(tag_);
        if (view == disk_->writable) fs::create_directories(folder);
        local_.emplace(L"LOCALAPPDATA", folder.wstring());
        data_ = folder / L"QuorvaneSoft" / L"QuorvaneX";
    }
    fs::path Filler() const { return disk_->writable / Utf8ToWide(tag_) / L"filler.bin"; }
    static std::uint64_t Pages(std::uint64_t bytes) { return (bytes + 4095) / 4096 * 4096; }

    std::optional<ScratchDisk> disk_;
    std::optional<ScopedEnvironment> local_;
};

// The write that finds the disk full ends the transfer at once, on each
// address: a body far longer than the free space is not read to its end.
TEST_F(ScratchDiskFaultTest, FullDiskDuringTheDatabaseDownload) {
    InstallSegments("1", SegmentDatabase(100000, 'j'));
    constexpr std::uint64_t kFree = 1u << 20;
    const std::string path = ServePatternSegments("2", kFree + (64u << 20));
    FillDiskLeaving(Filler(), kFree);

    const auto full = RunSegmentStageOnly();
    EXPECT_EQ(Outcome(full), "保存下载文件失败") << Describe(full);
    for (const std::uint64_t sent : SentFor(path, 3)) {
        EXPECT_LE(sent, kFree + (16u << 20)) << "read on after the disk was full";
    }
    ExpectOldSegmentsKept();

    fs::remove(Filler());
    const std::string database = SegmentDatabase(2u << 20, 'k');
    ServeSegments("2", database);
    EXPECT_EQ(LastState(RunSegmentStageOnly()), RunState::Finished);
    ExpectInstalled(database, "2");
}

// The same for the installer, with the temporary folder on the scratch disk.
TEST_F(ScratchDiskFaultTest, FullDiskDuringTheInstallerDownload) {
    ServeSegments("1", SegmentDatabase(1000, 'o'));
    const fs::path temp = disk_->writable / Utf8ToWide(tag_) / L"temp";
    fs::create_directories(temp);
    const ScopedEnvironment tmp(L"TMP", temp.wstring());
    const ScopedEnvironment temp_variable(L"TEMP", temp.wstring());
    constexpr std::uint64_t kFree = 1u << 20;
    const std::uint64_t size = kFree + (64u << 20);
    const std::string tail = tag_ + "/pattern-setup.exe";
    const std::wstring manifest =
        ServeBlob("manifest-9.1.json",
                  InstallerManifestJson("9.1", server_.Url(L"files.quorvane.com", "size=" + std::to_string(size), tail),
                                        server_.Sha256(size), size),
                  nullptr, L"update.quorvane.com");
    FillDiskLeaving(Filler(), kFree);

    const auto full = RunInstallation(manifest);
    EXPECT_EQ(Outcome(full), "保存下载文件失败") << Describe(full);
    for (const std::uint64_t sent : SentFor(tail, 3)) {
        EXPECT_LE(sent, kFree + (16u << 20)) << "read on after the disk was full";
    }
    EXPECT_TRUE(fs::is_empty(temp)) << "the temporary folder keeps the run's files";
    EXPECT_FALSE(fs::exists(ProgramFile()));
}

// Room for the database but not for its record: the record's write must be
// found to have failed instead of leaving an empty record behind a run that
// reports success.
TEST_F(ScratchDiskFaultTest, FullDiskWhenTheRecordIsWritten) {
    const std::string database = SegmentDatabase(300000, 'l');
    ServeSegments("3", database);
    fs::create_directories(data());
    FillDiskLeaving(Filler(), Pages(database.size()));

    const auto full = RunSegmentStageOnly();
    EXPECT_EQ(Outcome(full), "保存本地号段版本文件失败") << Describe(full);
    EXPECT_TRUE(ReadFile(data() / L"segments.qvrdb") == database) << "the database is moved in before the record";
    EXPECT_FALSE(fs::exists(data() / L"segment-manifest.json"));
    EXPECT_TRUE(LeftoversHere().empty());

    fs::remove(Filler());
    EXPECT_EQ(LastState(RunSegmentStageOnly()), RunState::Finished);
    ExpectInstalled(database, "3");
}

TEST_F(ScratchDiskFaultTest, ReadOnlyDataFolder) {
    InstallSegments("1", SegmentDatabase(5000, 'm'));
    const fs::path writable_data = data();
    const std::string database = SegmentDatabase(6000, 'n');
    ServeSegments("2", database);
    // A product installer with nothing to change, so that the run reaches the segments.
    const std::wstring manifest = ServeRelease("9.0", StandinInstaller(0, 0, false));

    UseLocalAppData(disk_->read_only);
    const auto read_only = RunInstallation(manifest);
    EXPECT_EQ(Outcome(read_only), "无法创建本地下载文件") << Describe(read_only);
    data_ = writable_data;
    ExpectOldSegmentsKept();

    UseLocalAppData(disk_->writable);
    EXPECT_EQ(LastState(RunInstallation(manifest)), RunState::Finished);
    ExpectInstalled(database, "2");
}

}  // namespace
}  // namespace quorvane::testing
