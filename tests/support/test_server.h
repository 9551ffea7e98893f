#pragma once
// The local HTTPS test server (tools/testserver) as seen from a test under
// Wine: its ports, scenario addresses, registered bodies and host rules, and
// the record of what each request carried. See tools/testserver/README.md.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quorvane::testing {

struct RecordedRequest {
    std::string listener;  // "https", "unknown_ca", "wrong_host", "expired" or "http"
    std::string connect;   // CONNECT target "host:port" that led here, "-" when none
    std::string method;
    std::string target;    // as sent; Wine sends "https://host:port/path?query" even in a tunnel
    std::string path;      // the target in origin form: path with query
    std::string version;
    std::vector<std::pair<std::string, std::string>> headers;  // in the order received
    // The body bytes the answer handed to its connection; none until the answer has ended.
    std::optional<std::uint64_t> sent;

    // The first header of that name (case-insensitive), or nullopt.
    std::optional<std::string> Header(std::string_view name) const;
    std::size_t HeaderCount(std::string_view name) const;
};

struct ConnectRecord {
    std::string target;    // "host:port" as asked for
    std::string listener;  // where the proxy sent it, or "refused"
};

class TestServer {
public:
    // Reads <build>/testserver/endpoints.txt and points this process's (and its
    // children's) WinHTTP default proxy at the server's CONNECT proxy through
    // the http_proxy variable. Throws std::runtime_error when the server is
    // not running.
    static TestServer& Get();

    std::uint16_t https_port() const { return https_port_; }
    std::uint16_t unknown_ca_port() const { return unknown_ca_port_; }
    std::uint16_t wrong_host_port() const { return wrong_host_port_; }
    std::uint16_t expired_port() const { return expired_port_; }
    std::uint16_t http_port() const { return http_port_; }
    std::uint16_t proxy_port() const { return proxy_port_; }
    std::uint16_t control_port() const { return control_port_; }

    // A path segment unique to this call in the whole test run, for telling
    // this test's requests apart in the record.
    std::string NewTag();

    // https://<host>[:port]/x/<directives>/<tail>; port 443 is left out.
    std::wstring Url(std::wstring_view host, std::string_view directives, std::string_view tail,
                     std::uint16_t port = 443) const;

    // The deterministic body that size=N,seed=S serves, and its SHA-256.
    std::string Body(std::uint64_t size, std::uint64_t seed = 0) const;
    std::string Sha256(std::uint64_t size, std::uint64_t seed = 0) const;

    // blob=NAME then serves these bytes, or that file; both return the SHA-256.
    std::string RegisterBytes(std::string_view name, std::string_view bytes) const;
    std::string RegisterFile(std::string_view name, const std::filesystem::path& path) const;

    // Per-host rules as JSON ({"files.quorvane.com": ["status=503", "size=10"], "*": "status=404"});
    // returns the id for the hosts=ID directive.
    std::string RegisterHostRules(std::string_view json) const;
    void ReplaceHostRules(std::string_view id, std::string_view json) const;

    // Requests for this fixed path (any host) are served with these
    // directives, e.g. "blob=segments" or "hosts=h3"; empty removes the route.
    void SetRoute(std::string_view path, std::string_view directives) const;

    // Records whose target (or CONNECT host:port) contains the text, in arrival order.
    std::vector<RecordedRequest> Requests(std::string_view contains) const;
    std::vector<ConnectRecord> Connects(std::string_view contains) const;

private:
    TestServer();
    std::string Control(const wchar_t* method, const std::string& path, std::string_view body = {}) const;

    std::uint16_t https_port_ = 0;
    std::uint16_t unknown_ca_port_ = 0;
    std::uint16_t wrong_host_port_ = 0;
    std::uint16_t expired_port_ = 0;
    std::uint16_t http_port_ = 0;
    std::uint16_t proxy_port_ = 0;
    std::uint16_t control_port_ = 0;
    int next_tag_ = 0;
};

// The build folder (QV_BUILD_DIR) as this Windows process sees it (Z:\...).
std::filesystem::path BuildFolder();
// <build>/testserver.
std::filesystem::path TestServerFolder();

}  // namespace quorvane::testing
