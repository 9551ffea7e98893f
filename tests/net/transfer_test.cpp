#include "net/transfer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <thread>

#include "files/text.h"
#include "tests/net/live_support.h"
#include "tests/support/record_collector.h"
#include "tests/support/sandbox.h"

namespace quorvane::testing {
namespace {

constexpr const wchar_t* kRetryText = L"正在尝试备用安装信息地址";

class TransferTest : public LiveServerTest {
protected:
    std::wstring HostRulesUrl(const std::string& json, const std::string& tail) {
        return server.Url(kFilesHost, "hosts=" + server.RegisterHostRules(json), tag + "/" + tail);
    }

    // Hosts that asked, in order.
    std::vector<std::string> HostsAsked(const std::string& contains) {
        std::vector<std::string> hosts;
        for (const RecordedRequest& request : server.Requests(contains))
            hosts.push_back(request.Header("Host").value_or("?"));
        return hosts;
    }

    // Sets the cancel flag as soon as the server has seen a request whose
    // target contains the text; the transfer is then stalled past it.
    std::thread CancelOnceRequested(const std::string& contains) {
        return std::thread([this, contains] {
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
            while (server.Requests(contains).empty() && std::chrono::steady_clock::now() < deadline) {
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
            run_flags.cancel_requested.Exchange(true);
        });
    }

    RecordCollector collector;
    Sandbox sandbox;
};

// FetchToMemory

TEST_F(TransferTest, FetchReturnsEmptyAndExactlyOneMebibyteBodies) {
    EXPECT_EQ(FetchToMemory(server.Url(kFilesHost, "size=0", tag + "/empty"), L"m", 5, kRetryText), "");
    EXPECT_EQ(FetchToMemory(server.Url(kFilesHost, "size=1048576", tag + "/cap"), L"m", 5, kRetryText),
              server.Body(1048576));
    EXPECT_EQ(
        FetchToMemory(server.Url(kFilesHost, "size=1048576,length=chunked", tag + "/chunked"), L"m", 5, kRetryText),
        server.Body(1048576));
    EXPECT_TRUE(collector.Drain().empty()) << "no retry record without a failure";
}

TEST_F(TransferTest, FetchRefusesOneByteOverTheCapAndMovesOn) {
    const std::wstring address =
        HostRulesUrl(R"({"files.quorvane.com": ["size=1048577,length=chunked"], "*": ["size=100,seed=7"]})", "over");
    EXPECT_EQ(FetchToMemory(address, L"m", 5, kRetryText), server.Body(100, 7));
    const auto records = collector.Drain();
    ASSERT_EQ(records.size(), 1u) << Describe(records);
    EXPECT_EQ(records[0].record.percent, 5);
    EXPECT_EQ(records[0].record.text, kRetryText);
    EXPECT_EQ(HostsAsked(tag + "/over"), (std::vector<std::string>{"files.quorvane.com", "files.quorvane.cn"}));
}

TEST_F(TransferTest, FetchTriesEachFallbackInOrderAndReturnsTheFirstBody) {
    const std::wstring address = HostRulesUrl(
        R"({"files.quorvane.com": ["status=503"], "files.quorvane.cn": ["status=404"], "*": ["size=64,seed=3"]})",
        "third");
    EXPECT_EQ(FetchToMemory(address, L"online-installer-manifest", 82, L"正在尝试备用号段版本地址"),
              server.Body(64, 3));
    const auto records = collector.Drain();
    ASSERT_EQ(records.size(), 2u) << Describe(records);
    for (const CollectedMessage& message : records) {
        EXPECT_EQ(message.record.percent, 82);
        EXPECT_EQ(message.record.text, L"正在尝试备用号段版本地址");
        EXPECT_EQ(message.record.state, RunState::Running);
    }
    EXPECT_EQ(HostsAsked(tag + "/third"),
              (std::vector<std::string>{"files.quorvane.com", "files.quorvane.cn", "files.quorvane.net"}));
    for (const RecordedRequest& request : server.Requests(tag + "/third")) {
        EXPECT_EQ(request.Header("X-Qvr-Request"), "online-installer-manifest");
    }
}

TEST_F(TransferTest, FetchReportsTheLastCandidatesFailure) {
    const std::wstring address = HostRulesUrl(
        R"({"files.quorvane.com": ["status=500"], "files.quorvane.cn": ["status=404"], "*": ["size=1048577"]})", "all");
    EXPECT_EQ(FailureOf([&] { FetchToMemory(address, L"m", 5, kRetryText); }), "服务器返回的版本文件过大");
    EXPECT_EQ(collector.Drain().size(), 2u) << "a retry record before the second and third address only";

    const std::wstring untrusted = server.Url(L"localhost", "status=404", tag + "/untrusted", server.https_port());
    EXPECT_EQ(FailureOf([&] { FetchToMemory(untrusted, L"m", 5, kRetryText); }), "服务器返回异常状态码：404");
    EXPECT_TRUE(collector.Drain().empty()) << "one candidate, so no retry";
}

TEST_F(TransferTest, FetchOfAnEmptyAddressAsksNobody) {
    EXPECT_EQ(FailureOf([] { FetchToMemory(L"", L"m", 5, kRetryText); }), "下载失败");
    EXPECT_TRUE(collector.Drain().empty());
}

TEST_F(TransferTest, FetchStopsAtACancelWithoutTryingFallbacks) {
    std::thread canceller = CancelOnceRequested(tag + "/cancel");
    const std::wstring address = server.Url(kFilesHost, "size=200000,stallat=1000,stall=2000", tag + "/cancel");
    const std::string failure = FailureOf([&] { FetchToMemory(address, L"m", 5, kRetryText); });
    canceller.join();
    EXPECT_EQ(failure, "安装已取消");
    EXPECT_TRUE(collector.Drain().empty()) << "no retry record after a cancel";
    EXPECT_EQ(HostsAsked(tag + "/cancel"), std::vector<std::string>{"files.quorvane.com"});
}

// DownloadToFile

TEST_F(TransferTest, DownloadWithKnownLengthClimbsToTheEnd) {
    const std::filesystem::path file = sandbox.root() / L"package.exe";
    DownloadToFile(server.Url(kFilesHost, "size=1000000", tag), file.wstring(), L"online-installer-package", 20, 68,
                   L"正在下载安装包 ", L"2.4.1");
    EXPECT_EQ(ReadFile(file), server.Body(1000000));
    const auto records = collector.Drain();
    ASSERT_FALSE(records.empty());
    const std::vector<int> percents = Percents(records);
    EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end())) << Describe(records);
    EXPECT_GE(percents.front(), 20);
    EXPECT_EQ(percents.back(), 68);
    for (const CollectedMessage& message : records) EXPECT_EQ(message.record.text, L"正在下载安装包 2.4.1");
}

TEST_F(TransferTest, DownloadWithoutLengthStaysBelowTheEnd) {
    const std::filesystem::path file = sandbox.root() / L"segments.qvrdb";
    DownloadToFile(server.Url(kFilesHost, "size=4194304,seed=2,length=chunked", tag), file.wstring(), L"d", 86, 94,
                   L"正在下载号段库 ", L"2026.1");
    EXPECT_EQ(ReadFile(file), server.Body(4194304, 2));
    const std::vector<int> percents = Percents(collector.Drain());
    ASSERT_FALSE(percents.empty());
    EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end()));
    EXPECT_EQ(percents.back(), 93) << "one point per 512 KiB, never the end";
}

TEST_F(TransferTest, DownloadOfAnEmptyBodyLeavesAnEmptyFileAndNoRecord) {
    const std::filesystem::path file = sandbox.root() / L"empty.bin";
    WriteFile(file, "older contents");
    DownloadToFile(server.Url(kFilesHost, "size=0", tag), file.wstring(), L"d", 20, 68, L"p", L"s");
    EXPECT_EQ(ReadFile(file), "");
    EXPECT_TRUE(collector.Drain().empty());
}

TEST_F(TransferTest, FailedRequestLeavesTheDestinationUntouched) {
    const std::filesystem::path file = sandbox.root() / L"kept.bin";
    WriteFile(file, "older contents");
    EXPECT_EQ(FailureOf([&] {
                  DownloadToFile(server.Url(kFilesHost, "status=404", tag), file.wstring(), L"d", 20, 68, L"p", L"s");
              }),
              "服务器返回异常状态码：404");
    EXPECT_EQ(ReadFile(file), "older contents");
    EXPECT_TRUE(collector.Drain().empty());
}

TEST_F(TransferTest, DownloadIntoAMissingFolderFails) {
    const std::filesystem::path file = sandbox.root() / L"missing" / L"x.bin";
    EXPECT_EQ(FailureOf([&] {
                  DownloadToFile(server.Url(kFilesHost, "size=10", tag), file.wstring(), L"d", 20, 68, L"p", L"s");
              }),
              "无法创建本地下载文件");
    EXPECT_FALSE(std::filesystem::exists(file));
}

// WinHTTP under Wine ends the body quietly where the server closed the
// connection; the caller's size and digest checks find the short file.
TEST_F(TransferTest, CutConnectionKeepsWhatArrived) {
    const std::filesystem::path file = sandbox.root() / L"cut.bin";
    const std::string failure = FailureOf([&] {
        DownloadToFile(server.Url(kFilesHost, "size=1000000,cut=300000", tag), file.wstring(), L"d", 20, 68, L"p",
                       L"s");
    });
    EXPECT_EQ(ReadFile(file), server.Body(300000)) << "transfer ended with: " << failure;
}

TEST_F(TransferTest, DownloadStopsAtACancelBetweenReads) {
    const std::filesystem::path file = sandbox.root() / L"cancel.bin";
    std::thread canceller = CancelOnceRequested(tag);
    const std::string failure = FailureOf([&] {
        DownloadToFile(server.Url(kFilesHost, "size=2000000,stallat=100000,stall=2000", tag), file.wstring(), L"d", 20,
                       68, L"p", L"s");
    });
    canceller.join();
    EXPECT_EQ(failure, "安装已取消");
    const std::string written = ReadFile(file);
    EXPECT_LT(written.size(), 2000000u);
    EXPECT_EQ(written, server.Body(2000000).substr(0, written.size()));
}

}  // namespace
}  // namespace quorvane::testing
