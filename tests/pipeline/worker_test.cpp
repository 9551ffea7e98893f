#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>

#include "files/layout.h"
#include "files/product_constants.h"
#include "report/progress_post.h"
#include "pipeline/worker.h"
#include "tests/support/record_collector.h"
#include "tests/support/sandbox.h"

namespace quorvane {
namespace {

namespace fs = std::filesystem;
using testing::CollectedMessage;
using testing::Describe;
using testing::RecordCollector;
using testing::Sandbox;

// Stages that imitate a successful run's reports without any network.
InstallStages SuccessfulStages(std::wstring* seen_address, bool* leftovers_gone_before_finish,
                               const fs::path& leftover) {
    InstallStages stages;
    stages.install_package = [=](const std::wstring& address, std::wstring& installer_path) {
        *seen_address = address;
        PostProgress(15, L"发现最新版 1.0", RunState::Running);
        installer_path = InstallerPackagePath(L"1.0");
        testing::WriteFile(installer_path, "installer");
        for (int percent : {20, 44, 68, 70, 76, 80}) PostProgress(percent, L"包", RunState::Running);
    };
    stages.update_segments = [] {
        for (int percent : {82, 86, 94, 95, 97}) PostProgress(percent, L"号段", RunState::Running);
    };
    stages.finish = [=] {
        *leftovers_gone_before_finish = !fs::exists(leftover);
        PostProgress(99, L"正在启动程序", RunState::Running);
        run_flags.busy.Exchange(false);
        PostProgress(100, L"安装和号段初始化完成，已启动程序", RunState::Finished);
        PostMessageW(main_window, WM_INSTALL_CLOSE, 0, 0);
    };
    return stages;
}

InstallStages FailingStages(const char* message, bool cancel_first) {
    InstallStages stages;
    stages.install_package = [=](const std::wstring&, std::wstring& installer_path) {
        installer_path = InstallerPackagePath(L"2.0");
        testing::WriteFile(installer_path, "partial");
        testing::WriteFile(InstallLogPath(), "log");
        PostProgress(44, L"正在下载安装包 2.0", RunState::Running);
        if (cancel_first) run_flags.cancel_requested.Exchange(true);
        throw std::runtime_error(message);
    };
    stages.update_segments = [] { FAIL() << "the segment stage ran after a failure"; };
    stages.finish = [] { FAIL() << "the finish ran after a failure"; };
    return stages;
}

TEST(InstallWorkerTest, SuccessfulRunReportsInOrderAndCleansUpBeforeTheFinish) {
    const Sandbox sandbox;
    RecordCollector collector;
    std::wstring address;
    bool leftovers_gone = false;
    const fs::path leftover = sandbox.data_folder() / L"segments.download.qvrdb";
    testing::WriteFile(leftover, "partial");

    int resets = 0;
    ASSERT_TRUE(StartInstall([&] { ++resets; }, SuccessfulStages(&address, &leftovers_gone, leftover)));
    // As the window's thread, busy with its first paint before its message loop runs.
    Sleep(300);
    const auto messages = collector.WaitForLastRecord();

    EXPECT_EQ(resets, 1);
    EXPECT_EQ(address, kDefaultInstallerManifestUrl);
    EXPECT_EQ(testing::Percents(messages),
              (std::vector<int>{5, 15, 20, 44, 68, 70, 76, 80, 82, 86, 94, 95, 97, 99, 100}))
        << Describe(messages);
    ASSERT_GE(messages.size(), 2u);
    EXPECT_EQ(messages.front().record.text, L"正在获取最新安装信息");
    EXPECT_TRUE(messages.front().answering_when_posted) << "the run began before the window could answer";
    EXPECT_TRUE(messages.back().close) << "the close request must follow the last record\n" << Describe(messages);
    EXPECT_EQ(messages[messages.size() - 2].record.state, RunState::Finished);
    EXPECT_FALSE(messages[messages.size() - 2].busy_when_posted);
    EXPECT_TRUE(leftovers_gone) << "temporary files must be removed before the finish";
    EXPECT_FALSE(fs::exists(sandbox.temp() / L"QuorvaneOnlineSetup"));
}

TEST(InstallWorkerTest, FailureEndsWithItsMessageAndKeepsTheLog) {
    const Sandbox sandbox;
    RecordCollector collector;
    ASSERT_TRUE(StartInstall(nullptr, FailingStages("安装包大小校验失败", false)));
    const auto messages = collector.WaitForLastRecord();

    ASSERT_FALSE(messages.empty());
    const CollectedMessage& last = messages.back();
    EXPECT_EQ(last.record.state, RunState::Failed) << Describe(messages);
    EXPECT_EQ(last.record.percent, -1) << "a failure keeps the bar where it was";
    EXPECT_EQ(last.record.text, L"安装包大小校验失败");
    EXPECT_FALSE(last.busy_when_posted);
    EXPECT_FALSE(run_flags.installer_running.Load());
    EXPECT_FALSE(fs::exists(sandbox.temp() / L"QuorvaneOnlineSetup"));
    EXPECT_TRUE(fs::exists(sandbox.temp() / L"QuorvaneOnlineSetup-install.log")) << "a failed install keeps its log";
}

TEST(InstallWorkerTest, CancelWinsOverTheFailureAndDeletesTheLog) {
    const Sandbox sandbox;
    RecordCollector collector;
    ASSERT_TRUE(StartInstall(nullptr, FailingStages("发送下载请求失败", true)));
    const auto messages = collector.WaitForLastRecord();

    ASSERT_FALSE(messages.empty());
    const CollectedMessage& last = messages.back();
    EXPECT_EQ(last.record.state, RunState::Cancelled) << Describe(messages);
    EXPECT_EQ(last.record.percent, -1);
    EXPECT_EQ(last.record.text, L"安装已取消，你可以重新开始安装");
    EXPECT_FALSE(last.busy_when_posted);
    EXPECT_FALSE(fs::exists(sandbox.temp() / L"QuorvaneOnlineSetup-install.log"));
    EXPECT_FALSE(fs::exists(sandbox.temp() / L"QuorvaneOnlineSetup"));
}

TEST(InstallWorkerTest, SecondStartDuringARunChangesNothing) {
    const Sandbox sandbox;
    RecordCollector collector;
    const HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(release, nullptr);
    int package_stages = 0;
    InstallStages blocking;
    blocking.install_package = [&](const std::wstring&, std::wstring&) {
        ++package_stages;
        WaitForSingleObject(release, 10000);
        throw std::runtime_error("stopped");
    };
    ASSERT_TRUE(StartInstall(nullptr, blocking));
    run_flags.cancel_requested.Exchange(true);

    int resets = 0;
    EXPECT_FALSE(StartInstall([&] { ++resets; }, blocking));
    EXPECT_EQ(resets, 0) << "the display must not be reset during a run";
    EXPECT_TRUE(run_flags.cancel_requested.Load()) << "a refused start must not clear the cancel request";

    SetEvent(release);
    const auto messages = collector.WaitForLastRecord();
    CloseHandle(release);
    EXPECT_EQ(package_stages, 1) << "a second worker ran";
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages.back().record.state, RunState::Cancelled) << Describe(messages);
    EXPECT_EQ(testing::Percents(messages), (std::vector<int>{5, -1}));
}

}  // namespace
}  // namespace quorvane
