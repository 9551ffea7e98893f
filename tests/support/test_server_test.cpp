// The local HTTPS test server seen through a plain WinHTTP client under Wine:
// the maker's host names through the default proxy, the test CA trusted, the
// broken certificates refused, and the scenarios the transport tests rely on.

#include "tests/support/test_server.h"

#include "net/internet_handle.h"

#include <gtest/gtest.h>

#include <string>

namespace quorvane::testing {
namespace {

struct Response {
    DWORD error = 0;  // the failing call's GetLastError(), 0 when the exchange completed
    DWORD status = 0;
    std::string body;
};

// A bare GET with the settings that matter here: default proxy, TLS, no
// HTTPS-to-HTTP redirect.
Response Get(const std::wstring& url) {
    Response response;
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof(parts);
    parts.dwHostNameLength = static_cast<DWORD>(-1);
    parts.dwUrlPathLength = static_cast<DWORD>(-1);
    parts.dwExtraInfoLength = static_cast<DWORD>(-1);
    if (!WinHttpCrackUrl(url.c_str(), 0, 0, &parts)) {
        response.error = GetLastError();
        return response;
    }
    const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
    const std::wstring path = std::wstring(parts.lpszUrlPath, parts.dwUrlPathLength) +
                              std::wstring(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    const InternetHandle session(WinHttpOpen(L"QuorvaneOnlineSetup/1.0", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                                             WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
    WinHttpSetTimeouts(session.get(), 15000, 15000, 30000, 30000);
    const InternetHandle connection(session ? WinHttpConnect(session.get(), host.c_str(), parts.nPort, 0) : nullptr);
    const InternetHandle request(connection ? WinHttpOpenRequest(connection.get(), L"GET", path.c_str(), nullptr,
                                                                 WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                                                 WINHTTP_FLAG_SECURE)
                                            : nullptr);
    if (!request) {
        response.error = GetLastError();
        return response;
    }
    DWORD policy = WINHTTP_OPTION_REDIRECT_POLICY_DISALLOW_HTTPS_TO_HTTP;
    WinHttpSetOption(request.get(), WINHTTP_OPTION_REDIRECT_POLICY, &policy, sizeof(policy));
    const wchar_t headers[] = L"X-Qvr-Request: probe\r\n";
    if (!WinHttpSendRequest(request.get(), headers, static_cast<DWORD>(wcslen(headers)), WINHTTP_NO_REQUEST_DATA, 0,
                            0, 0) ||
        !WinHttpReceiveResponse(request.get(), nullptr)) {
        response.error = GetLastError();
        return response;
    }
    DWORD size = sizeof(response.status);
    WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                        WINHTTP_HEADER_NAME_BY_INDEX, &response.status, &size, WINHTTP_NO_HEADER_INDEX);
    for (int reads = 0; reads < 100000; ++reads) {
        DWORD available = 0;
        if (!WinHttpQueryDataAvailable(request.get(), &available)) {
            response.error = GetLastError();
            break;
        }
        if (available == 0) break;
        const std::size_t old_size = response.body.size();
        response.body.resize(old_size + available);
        DWORD read = 0;
        if (!WinHttpReadData(request.get(), response.body.data() + old_size, available, &read)) {
            response.error = GetLastError();
            break;
        }
        response.body.resize(old_size + read);
    }
    return response;
}

TEST(TestServer, MakerHostsAnswerThroughTheDefaultProxyWithTheExactBody) {
    TestServer& server = TestServer::Get();
    const std::string tag = server.NewTag();
    for (const wchar_t* host :
         {L"update.quorvane.com", L"files.quorvane.com", L"files.quorvane.cn", L"files.quorvane.net"}) {
        const Response response = Get(server.Url(host, "size=100000,seed=3", tag + "/a.bin?q=1"));
        EXPECT_EQ(response.error, 0u) << "host " << std::string(host, host + wcslen(host));
        EXPECT_EQ(response.status, 200u);
        EXPECT_TRUE(response.body == server.Body(100000, 3)) << "body of " << response.body.size() << " bytes";
    }
    const auto requests = server.Requests(tag);
    ASSERT_EQ(requests.size(), 4u);
    EXPECT_EQ(requests[1].connect, "files.quorvane.com:443");
    EXPECT_EQ(requests[1].listener, "https");
    EXPECT_EQ(requests[1].method, "GET");
    EXPECT_EQ(requests[1].path, "/x/size=100000,seed=3/" + tag + "/a.bin?q=1");
    EXPECT_EQ(requests[1].Header("Host"), "files.quorvane.com");
    EXPECT_EQ(requests[1].Header("user-agent"), "QuorvaneOnlineSetup/1.0");
    EXPECT_EQ(requests[1].Header("X-Qvr-Request"), "probe");
    EXPECT_EQ(requests[2].Header("Host"), "files.quorvane.cn");
}

TEST(TestServer, BodyDigestMatchesTheServedBytes) {
    const TestServer& server = TestServer::Get();
    EXPECT_EQ(server.Sha256(0), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(server.Body(5).size(), 5u);
    EXPECT_NE(server.Body(64, 0), server.Body(64, 1));
    EXPECT_EQ(server.RegisterBytes("probe-abc", "abc"),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

TEST(TestServer, NonDefaultPortReachesTheServerAndShowsInHost) {
    TestServer& server = TestServer::Get();
    const std::string tag = server.NewTag();
    const Response response = Get(server.Url(L"files.quorvane.cn", "status=299", tag, 8443));
    EXPECT_EQ(response.error, 0u);
    EXPECT_EQ(response.status, 299u);
    const auto requests = server.Requests(tag);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].Header("Host"), "files.quorvane.cn:8443");
    EXPECT_EQ(requests[0].connect, "files.quorvane.cn:8443");
}

TEST(TestServer, BrokenCertificatesFailTheRequest) {
    TestServer& server = TestServer::Get();
    const struct {
        const char* name;
        std::uint16_t port;
    } cases[] = {{"unknown CA", server.unknown_ca_port()},
                 {"other host name", server.wrong_host_port()},
                 {"expired", server.expired_port()}};
    for (const auto& broken : cases) {
        const std::string tag = server.NewTag();
        const Response response = Get(server.Url(L"files.quorvane.com", "size=10", tag, broken.port));
        EXPECT_EQ(response.error, static_cast<DWORD>(ERROR_WINHTTP_SECURE_CHANNEL_ERROR)) << broken.name;
        EXPECT_TRUE(server.Requests(tag).empty()) << broken.name << ": no request may pass the handshake";
        EXPECT_EQ(server.Connects("files.quorvane.com:" + std::to_string(broken.port)).size(), 1u) << broken.name;
    }
}

TEST(TestServer, RedirectsAreFollowedOnlyFromHttpsToHttps) {
    TestServer& server = TestServer::Get();
    const std::string tag = server.NewTag();
    const Response followed = Get(server.Url(L"files.quorvane.com", "redirect=https", "x/size=7/" + tag + "/s"));
    EXPECT_EQ(followed.status, 200u);
    EXPECT_EQ(followed.body, server.Body(7));
    // Windows hands the 302 back; Wine 8 fails WinHttpReceiveResponse with
    // ERROR_WINHTTP_REDIRECT_FAILED instead. Either way nothing is fetched over HTTP.
    const Response refused = Get(server.Url(L"files.quorvane.com", "redirect=http", "x/size=7/" + tag + "/p"));
    EXPECT_TRUE(refused.status == 302 || refused.error == ERROR_WINHTTP_REDIRECT_FAILED)
        << "status " << refused.status << ", error " << refused.error;
    EXPECT_TRUE(server.Requests(tag + "/p").size() == 1) << "the plain HTTP target must not be asked";
}

TEST(TestServer, HostRulesChooseByHostAndAdvancePerRequest) {
    TestServer& server = TestServer::Get();
    const std::string tag = server.NewTag();
    const std::string id =
        server.RegisterHostRules(R"({"files.quorvane.com": ["status=503", "size=4"], "*": "status=404"})");
    const std::string directives = "hosts=" + id;
    EXPECT_EQ(Get(server.Url(L"files.quorvane.com", directives, tag)).status, 503u);
    EXPECT_EQ(Get(server.Url(L"files.quorvane.cn", directives, tag)).status, 404u);
    const Response fixed = Get(server.Url(L"FILES.quorvane.com", directives, tag));
    EXPECT_EQ(fixed.status, 200u);
    EXPECT_EQ(fixed.body, server.Body(4));
}

TEST(TestServer, BodyFramingsAndCutsReachTheClient) {
    TestServer& server = TestServer::Get();
    const std::string tag = server.NewTag();
    const Response chunked = Get(server.Url(L"files.quorvane.com", "size=300000,length=chunked", tag));
    EXPECT_EQ(chunked.error, 0u);
    EXPECT_TRUE(chunked.body == server.Body(300000)) << chunked.body.size() << " bytes";
    const Response closed = Get(server.Url(L"files.quorvane.com", "size=1000,length=close", tag));
    EXPECT_EQ(closed.body, server.Body(1000));
    // Wine 8 ends a cut body quietly, as if it were complete; only the length tells.
    for (const char* framing : {"", ",length=chunked"}) {
        const Response cut = Get(server.Url(L"files.quorvane.com", std::string("size=1000000,cut=300000") + framing, tag));
        EXPECT_EQ(cut.status, 200u) << framing;
        EXPECT_EQ(cut.body.size(), 300000u) << framing;
        EXPECT_TRUE(cut.body == server.Body(cut.body.size())) << framing;
    }
}

}  // namespace
}  // namespace quorvane::testing
