#include "net/request.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "files/text.h"
#include "tests/net/live_support.h"

namespace quorvane::testing {
namespace {

using RequestTest = LiveServerTest;

const wchar_t* const kPurposes[] = {L"online-installer-manifest", L"online-installer-package",
                                    L"online-installer-segment-manifest", L"online-installer-segment-database"};

TEST_F(RequestTest, CarriesTheSystemsHeadersAndEachPurposeVerbatim) {
    for (const wchar_t* purpose : kPurposes) {
        const std::string tail = tag + "/" + WideToUtf8(purpose) + ".json";
        const RequestHandles handles =
            OpenHttpsRequest(server.Url(kFilesHost, "size=3", tail) + L"?x=1&y=%41", purpose);
        const auto requests = server.Requests(tail);
        ASSERT_EQ(requests.size(), 1u) << WideToUtf8(purpose);
        const RecordedRequest& request = requests[0];
        EXPECT_EQ(request.listener, "https");
        EXPECT_EQ(request.method, "GET");
        EXPECT_EQ(request.path, "/x/size=3/" + tail + "?x=1&y=%41") << "path and query, undecoded";
        EXPECT_EQ(request.version, "HTTP/1.1");
        EXPECT_EQ(request.Header("Host"), "files.quorvane.com");
        EXPECT_EQ(request.Header("User-Agent"), "QuorvaneOnlineSetup/1.0");
        EXPECT_EQ(request.Header("X-Qvr-Request"), WideToUtf8(purpose));
        EXPECT_EQ(request.HeaderCount("X-Qvr-Request"), 1u);
        EXPECT_EQ(request.Header("Accept-Encoding"), "gzip, deflate");
        EXPECT_EQ(request.HeaderCount("Accept"), 0u) << "no accept types are passed";
        EXPECT_EQ(request.HeaderCount("Referer"), 0u);
    }
}

TEST_F(RequestTest, UsesTlsOnAnExplicitPort) {
    const RequestHandles handles = OpenHttpsRequest(server.Url(kFilesHost, "size=1", tag, 8443), L"p");
    const auto requests = server.Requests(tag);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].connect, "files.quorvane.com:8443");
    EXPECT_EQ(requests[0].listener, "https") << "the TLS listener answered";
    EXPECT_EQ(requests[0].Header("Host"), "files.quorvane.com:8443");
}

TEST_F(RequestTest, AcceptsOnlyStatusesFrom200To299) {
    for (const int status : {200, 201, 204, 299}) {
        const std::wstring address = server.Url(kFilesHost, "status=" + std::to_string(status), tag);
        EXPECT_EQ(FailureOf([&] { OpenHttpsRequest(address, L"p"); }), "(no failure)") << status;
    }
    for (const int status : {199, 300, 304, 404, 500}) {
        const std::wstring address = server.Url(kFilesHost, "status=" + std::to_string(status), tag);
        EXPECT_EQ(FailureOf([&] { OpenHttpsRequest(address, L"p"); }),
                  "服务器返回异常状态码：" + std::to_string(status));
    }
}

TEST_F(RequestTest, FollowsRedirectsWithinHttpsOnly) {
    const RequestHandles followed =
        OpenHttpsRequest(server.Url(kFilesHost, "redirect=https", "x/size=10/" + tag + "/to-https"), L"p");
    EXPECT_EQ(server.Requests(tag + "/to-https").size(), 2u) << "the redirect and its target";

    const std::wstring downgrade = server.Url(kFilesHost, "redirect=http", "x/size=10/" + tag + "/to-http");
    // Either the 3xx itself comes back or, as under Wine, the receive fails
    // with ERROR_WINHTTP_REDIRECT_FAILED.
    const std::string failure = FailureOf([&] { OpenHttpsRequest(downgrade, L"p"); });
    EXPECT_TRUE(failure == "服务器返回异常状态码：302" || StartsWith(failure, "接收服务器响应失败（错误码 12156）"))
        << failure;
    for (const RecordedRequest& request : server.Requests(tag + "/to-http")) {
        EXPECT_NE(request.listener, "http") << "the plain HTTP target must never be asked";
    }
}

TEST_F(RequestTest, RefusesCertificatesThatDoNotProveTheHost) {
    const struct {
        const char* what;
        std::uint16_t port;
    } listeners[] = {
        {"unknown CA", server.unknown_ca_port()},
        {"other host name", server.wrong_host_port()},
        {"expired", server.expired_port()},
    };
    for (const auto& listener : listeners) {
        const std::wstring address = server.Url(kFilesHost, "size=10", tag, listener.port);
        const std::string failure = FailureOf([&] { OpenHttpsRequest(address, L"p"); });
        EXPECT_TRUE(StartsWith(failure, "发送下载请求失败（错误码 1")) << listener.what << ": " << failure;
    }
    EXPECT_TRUE(server.Requests(tag).empty()) << "no request may be sent over a refused connection";
}

TEST_F(RequestTest, ReportsAnAddressProblemBeforeAnyRequest) {
    EXPECT_EQ(FailureOf([&] { OpenHttpsRequest(L"http://files.quorvane.com/x/size=1/" + Utf8ToWide(tag), L"p"); }),
              "在线安装器只允许使用 HTTPS 地址");
    EXPECT_TRUE(StartsWith(FailureOf([] { OpenHttpsRequest(L"no address", L"p"); }), "无法解析下载地址（错误码 "));
    EXPECT_TRUE(server.Requests(tag).empty());
}

TEST_F(RequestTest, CloseRequestHandlesClosesAllThreeChildrenFirst) {
    RequestHandles handles = OpenHttpsRequest(server.Url(kFilesHost, "size=10", tag), L"p");
    ASSERT_TRUE(handles.session && handles.connection && handles.request);
    const HINTERNET request = handles.request.get();
    const std::vector<HINTERNET> children_first = {request, handles.connection.get(), handles.session.get()};
    std::vector<HINTERNET> closed;
    CloseRequestHandles(handles, [&](HINTERNET handle) {
        closed.push_back(handle);
        WinHttpCloseHandle(handle);
    });
    EXPECT_EQ(closed, children_first) << "closed in another order than request, connection, session";
    EXPECT_FALSE(handles.session || handles.connection || handles.request);
    DWORD ready = 0;
    EXPECT_FALSE(WinHttpQueryDataAvailable(request, &ready)) << "the request handle is still usable";
    CloseRequestHandles(handles);  // closing again is harmless
}

// The only slow case: a server that says nothing for longer than the 30 s
// receive timeout.
TEST_F(RequestTest, ReportsASilentServerAfterTheReceiveTimeout) {
    const std::string failure = FailureOf([&] { OpenHttpsRequest(server.Url(kFilesHost, "delay=40000", tag), L"p"); });
    // ERROR_WINHTTP_TIMEOUT on Windows; Wine passes on the socket's WSAETIMEDOUT.
    EXPECT_TRUE(StartsWith(failure, "接收服务器响应失败（错误码 12002）") ||
                StartsWith(failure, "接收服务器响应失败（错误码 10060）"))
        << failure;
}

}  // namespace
}  // namespace quorvane::testing
