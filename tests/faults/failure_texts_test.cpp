// Each fixed failure text of the system, produced by the fault that causes it
// in a whole run (or, where a run cannot reach it, by the function that owns
// it). tools/faults/failure_coverage.py counts what these tests observed.

#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "files/text.h"
#include "net/transfer.h"
#include "pipeline/download_loop.h"
#include "pipeline/stage_texts.h"
#include "tests/faults/fault_fixture.h"

namespace quorvane::testing {
namespace {

namespace fs = std::filesystem;

using FailureTextTest = FaultTest;

TEST_F(FailureTextTest, AddressesThatCannotBeUsed) {
    // A manifest address that is not an address at all, from the command line.
    EXPECT_TRUE(StartsWith(Outcome(RunInstallation(L"no address")), "无法解析下载地址（错误码 "));

    const std::string installer = StandinInstaller();
    const std::wstring plain = L"http://files.quorvane.com/x/size=10/" + Utf8ToWide(tag_) + L"/setup.exe";
    EXPECT_EQ(Outcome(RunInstallation(ServeManifestFor("1.0", plain, installer))), "在线安装器只允许使用 HTTPS 地址");
    EXPECT_FALSE(fs::exists(ProgramFile()));
}

TEST_F(FailureTextTest, ServersThatAnswerBadly) {
    const auto manifest_at = [&](const std::string& directives, std::uint16_t port = 443) {
        return server_.Url(L"update.quorvane.com", directives, tag_ + "/manifest.json", port);
    };
    EXPECT_EQ(Outcome(RunInstallation(manifest_at("status=404"))), "服务器返回异常状态码：404");
    EXPECT_TRUE(StartsWith(Outcome(RunInstallation(manifest_at("size=10", server_.unknown_ca_port()))),
                           "发送下载请求失败（错误码 "));
    // Under Wine the refused downgrade fails the receive (12156); Windows hands back the 302.
    const std::string downgrade = Outcome(RunInstallation(manifest_at("redirect=http")));
    EXPECT_TRUE(StartsWith(downgrade, "接收服务器响应失败（错误码 ") || downgrade == "服务器返回异常状态码：302")
        << downgrade;
    EXPECT_EQ(Outcome(RunInstallation(manifest_at("size=1048577"))), "服务器返回的版本文件过大");
}

TEST_F(FailureTextTest, InstallerManifestsThatLackAField) {
    const std::string sha = "\"sha256\": \"" + std::string(64, 'a') + "\"";
    const struct {
        std::string json;
        const char* message;
    } cases[] = {
        {"{\"version\": \"1\"}", "manifest 缺少 full_installer 字段"},
        {"{\"full_installer\": {\"url\": \"https://a/b\", " + sha + ", \"size\": 1}}", "manifest 缺少 version 字段"},
        {"{\"version\": \"1\", \"full_installer\": {" + sha + ", \"size\": 1}}", "manifest 缺少安装包 url 字段"},
        {"{\"version\": \"1\", \"full_installer\": {\"url\": \"https://a/b\", \"sha256\": \"abc\", \"size\": 1}}",
         "manifest 安装包 sha256 字段无效"},
        {"{\"version\": \"1\", \"full_installer\": {\"url\": \"https://a/b\", " + sha + ", \"size\": \"7\"}}",
         "manifest 缺少安装包 size 字段"},
        {"{\"version\": \"1\", \"full_installer\": {\"url\": \"https://a/b\", " + sha +
             ", \"size\": 99999999999999999999}}",
         "stoull"},
    };
    int index = 0;
    for (const auto& example : cases) {
        const std::wstring address = ServeBlob("bad-" + std::to_string(index++) + ".json", example.json, nullptr,
                                               L"update.quorvane.com");
        EXPECT_EQ(Outcome(RunInstallation(address)), example.message) << example.json;
    }
}

TEST_F(FailureTextTest, SegmentManifestsThatLackAField) {
    const std::string sha = "\"sha256\": \"" + std::string(64, 'b') + "\"";
    const std::string url = "\"url\": \"https://files.quorvane.com/s.qvrdb\"";
    const std::string format = "\"format\": \"quorvane-segment-qvrdb-v1\"";
    const struct {
        std::string json;
        const char* message;
    } cases[] = {
        {"{" + url + "}", "号段版本文件缺少 version 字段"},
        {"{\"version\": \"1\"}", "号段版本文件缺少 url 字段"},
        {"{\"version\": \"1\", " + url + ", \"format\": \"Quorvane-segment-qvrdb-v1\"}", "号段数据库格式不受支持"},
        {"{\"version\": \"1\", " + url + ", " + format + ", \"schema_version\": 2}", "号段数据库结构版本不受支持"},
        {"{\"version\": \"1\", " + url + ", " + format + ", \"schema_version\": 1, \"rows\": 0}",
         "号段版本文件缺少 rows 字段"},
        {"{\"version\": \"1\", " + url + ", " + format + ", \"schema_version\": 1, \"rows\": 5, \"sha256\": \"x\"}",
         "号段版本文件 sha256 字段无效"},
    };
    for (const auto& example : cases) {
        ServeSegmentManifest(example.json);
        EXPECT_EQ(Outcome(RunSegmentStageOnly()), example.message) << example.json;
    }
}

TEST_F(FailureTextTest, LocalFoldersThatCannotBeHad) {
    const std::string installer = StandinInstaller();
    const std::wstring manifest = ServeRelease("2.0", installer);
    {
        // GetTempPathW gives up on a temporary folder longer than a path may be.
        const std::wstring too_long = (sandbox_.root() / std::wstring(300, L't')).wstring() + L"\\";
        const ScopedEnvironment tmp(L"TMP", too_long);
        const ScopedEnvironment temp(L"TEMP", too_long);
        EXPECT_TRUE(StartsWith(Outcome(RunInstallation(manifest)), "无法取得临时目录（错误码 "));
    }
    {
        // A file stands where the work folder's parent should be.
        WriteFile(sandbox_.root() / L"not-a-folder", "x");
        const std::wstring below_file = (sandbox_.root() / L"not-a-folder" / L"temp").wstring() + L"\\";
        const ScopedEnvironment tmp(L"TMP", below_file);
        const ScopedEnvironment temp(L"TEMP", below_file);
        EXPECT_NE(Outcome(RunInstallation(manifest)).find("cannot create directories"), std::string::npos);
    }
    EXPECT_FALSE(fs::exists(ProgramFile()));

    ServeSegments("1", SegmentDatabase(100, 'a'));
    {
        const ScopedEnvironment local(L"LOCALAPPDATA", std::nullopt);
        const ScopedEnvironment profile(L"USERPROFILE", std::nullopt);
        EXPECT_EQ(Outcome(RunSegmentStageOnly()), "无法定位本地号段缓存目录");
    }
    {
        const ScopedEnvironment local(L"LOCALAPPDATA", (sandbox_.root() / L"not-a-folder").wstring());
        EXPECT_NE(Outcome(RunSegmentStageOnly()).find("cannot create directories"), std::string::npos);
    }
}

TEST_F(FailureTextTest, InstallersThatMustNotRun) {
    const std::string installer = StandinInstaller();
    std::string sha256;
    const std::wstring url = ServeBlob("setup.exe", installer, &sha256);

    // Bytes other than the manifest names, from every address.
    const std::wstring other_digest = ServeBlob(
        "other.json", InstallerManifestJson("3.0", url, std::string(64, 'c'), installer.size()), nullptr);
    EXPECT_EQ(Outcome(RunInstallation(other_digest)), "安装包 SHA-256 校验失败");

    // A verified file that is not a program.
    std::string not_a_program = "this is no program, only text with the right digest";
    std::string text_sha256;
    const std::wstring text_url = ServeBlob("text.exe", not_a_program, &text_sha256);
    const std::wstring text_manifest = ServeBlob(
        "text.json", InstallerManifestJson("3.1", text_url, text_sha256, not_a_program.size()), nullptr);
    {
        const ErrorBoxDismisser user;
        EXPECT_TRUE(StartsWith(Outcome(RunInstallation(text_manifest)), "无法启动安装程序（错误码 "));
        EXPECT_GT(user.dismissed(), 0) << "the system's error box did not show";
    }

    // An installer that fails.
    const std::string failing = StandinInstaller(1, 0, false);
    const std::wstring failing_manifest = ServeManifestFor("3.3", ServeBlob("failing.exe", failing, nullptr), failing);
    EXPECT_EQ(Outcome(RunInstallation(failing_manifest)), "安装程序返回异常退出码：1，日志：" + WideToUtf8(LogFile().wstring()));

    // A folder that cannot be removed where the installer is to be written.
    const std::wstring manifest = ServeManifestFor("3.2", url, installer);
    WriteFile(InstallerFile(L"3.2") / L"something", "x");
    EXPECT_EQ(Outcome(RunInstallation(manifest)), "无法创建本地下载文件");
    EXPECT_FALSE(fs::exists(ProgramFile()));
}

TEST_F(FailureTextTest, InstallerOnDiskThatAnotherProcessIsWriting) {
    ServeSegments("1", SegmentDatabase(100, 'g'));
    const std::string installer = StandinInstaller();
    const std::wstring manifest = ServeRelease("4.0", installer);
    WriteFile(InstallerFile(L"4.0"), installer);
    {
        const FileHeldElsewhere writer(InstallerFile(L"4.0"), FileHeldElsewhere::Access::Write);
        EXPECT_EQ(Outcome(RunInstallation(manifest)), "无法读取安装包进行校验");
    }
    EXPECT_FALSE(fs::exists(ProgramFile()));
    EXPECT_EQ(LastState(RunInstallation(manifest)), RunState::Finished) << "once the writer is gone";
}

TEST_F(FailureTextTest, SegmentFilesThatCannotBeWritten) {
    // Right digest, wrong header, from every address.
    ServeSegments("5", SegmentDatabase(3000, 'h', false));
    EXPECT_EQ(Outcome(RunSegmentStageOnly()), "号段数据库文件头无效");

    // A folder where the temporary record is written: the database is in
    // place, the record is not.
    const std::string database = SegmentDatabase(3000, 'i');
    ServeSegments("6", database);
    fs::create_directories(sandbox_.data_folder() / L"segment-manifest.json.download");
    EXPECT_EQ(Outcome(RunSegmentStageOnly()), "无法写入本地号段版本文件");
    EXPECT_EQ(ReadFile(sandbox_.data_folder() / L"segments.qvrdb"), database);
    EXPECT_FALSE(fs::exists(sandbox_.data_folder() / L"segment-manifest.json"));
    EXPECT_FALSE(fs::exists(sandbox_.data_folder() / L"segment-manifest.json.download"))
        << "the clean-up removes the empty folder";
    EXPECT_EQ(LastState(RunSegmentStageOnly()), RunState::Finished);
}

// Texts that no whole run can reach, from the functions that own them: the
// run never passes an empty address (the default stands in for it), the
// manifest reader refuses an empty url so the candidate list is never empty,
// and the cancel check of a transfer shows only as the cancel record.
TEST_F(FailureTextTest, FunctionsGivenNothingToDo) {
    EXPECT_EQ(FailureOf([] { FetchToMemory(L"", L"online-installer-manifest", 5, L"-"); }), "下载失败");
    const auto no_candidates = [](const char* message) {
        DownloadFromCandidates({}, L"", 20, L"-", message, [](const std::wstring&) {});
    };
    EXPECT_EQ(FailureOf([&] { no_candidates(kPackageDownloadFailed); }), "安装包下载失败");
    EXPECT_EQ(FailureOf([&] { no_candidates(kSegmentDownloadFailed); }), "号段库下载失败");

    run_flags.cancel_requested.Exchange(true);
    const std::wstring file = (sandbox_.root() / L"cancelled.bin").wstring();
    EXPECT_EQ(FailureOf([&] {
                  DownloadToFile(server_.Url(L"files.quorvane.com", "size=1000", tag_), file, L"d", 20, 68, L"p", L"");
              }),
              "安装已取消");
    run_flags.cancel_requested.Exchange(false);
}

}  // namespace
}  // namespace quorvane::testing
