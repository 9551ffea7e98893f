#include "tests/support/test_server.h"

#include "net/internet_handle.h"

#include <cctype>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>

namespace quorvane::testing {
namespace {

std::wstring Widen(std::string_view text) {
    return std::wstring(text.begin(), text.end());  // control paths are ASCII
}

std::string PercentEncode(std::string_view text) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (const unsigned char c : text) {
        if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += digits[c >> 4];
            out += digits[c & 15];
        }
    }
    return out;
}

std::string Utf8(const std::wstring& text) {
    if (text.empty()) return {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                         nullptr, nullptr);
    std::string out(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size, nullptr,
                        nullptr);
    return out;
}

std::optional<std::wstring> Environment(const wchar_t* name) {
    const DWORD size = GetEnvironmentVariableW(name, nullptr, 0);
    if (size == 0) return std::nullopt;
    std::wstring value(size, L'\0');
    value.resize(GetEnvironmentVariableW(name, value.data(), size));
    return value;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

std::uint16_t Port(const std::map<std::string, std::string>& values, const std::string& name) {
    const auto found = values.find(name);
    if (found == values.end()) throw std::runtime_error("test server endpoints lack " + name);
    return static_cast<std::uint16_t>(std::stoul(found->second));
}

}  // namespace

std::optional<std::string> RecordedRequest::Header(std::string_view name) const {
    for (const auto& [key, value] : headers) {
        if (EqualsIgnoringCase(key, name)) return value;
    }
    return std::nullopt;
}

std::size_t RecordedRequest::HeaderCount(std::string_view name) const {
    std::size_t count = 0;
    for (const auto& header : headers) count += EqualsIgnoringCase(header.first, name) ? 1 : 0;
    return count;
}

std::filesystem::path BuildFolder() {
    const std::optional<std::wstring> build = Environment(L"QV_BUILD_DIR");
    if (!build) throw std::runtime_error("QV_BUILD_DIR is not set (tests get it from ctest)");
    std::wstring folder = *build;
    if (!folder.empty() && folder[0] == L'/') {  // a Linux path: Wine shows the root as Z:
        folder = L"Z:" + folder;
        for (wchar_t& c : folder) c = c == L'/' ? L'\\' : c;
    }
    return std::filesystem::path(folder);
}

std::filesystem::path TestServerFolder() { return BuildFolder() / L"testserver"; }

TestServer::TestServer() {
    const std::filesystem::path endpoints = TestServerFolder() / L"endpoints.txt";
    std::ifstream stream(endpoints);
    if (!stream) {
        throw std::runtime_error("the local HTTPS test server is not running: " + Utf8(endpoints.wstring()) +
                                 " is missing (the test needs FIXTURES_REQUIRED test_server, or run "
                                 "tools/testserver/start.sh <build folder> by hand)");
    }
    std::map<std::string, std::string> values;
    std::string line;
    while (std::getline(stream, line)) {
        const auto equals = line.find('=');
        if (equals != std::string::npos) values[line.substr(0, equals)] = line.substr(equals + 1);
    }
    https_port_ = Port(values, "https_port");
    unknown_ca_port_ = Port(values, "unknown_ca_port");
    wrong_host_port_ = Port(values, "wrong_host_port");
    expired_port_ = Port(values, "expired_port");
    http_port_ = Port(values, "http_port");
    proxy_port_ = Port(values, "proxy_port");
    control_port_ = Port(values, "control_port");
    // Wine's WinHTTP takes its default proxy from this variable when the
    // session is opened; child processes inherit it.
    const std::wstring proxy = L"http://127.0.0.1:" + std::to_wstring(proxy_port_);
    SetEnvironmentVariableW(L"http_proxy", proxy.c_str());
    Control(L"GET", "/health");
}

TestServer& TestServer::Get() {
    static TestServer server;
    return server;
}

std::string TestServer::NewTag() {
    return "t" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++next_tag_);
}

std::wstring TestServer::Url(std::wstring_view host, std::string_view directives, std::string_view tail,
                             std::uint16_t port) const {
    std::wstring url = L"https://" + std::wstring(host);
    if (port != 443) url += L":" + std::to_wstring(port);
    url += L"/x/" + Widen(directives) + L"/" + Widen(tail);
    return url;
}

std::string TestServer::Body(std::uint64_t size, std::uint64_t seed) const {
    return Control(L"GET", "/body?size=" + std::to_string(size) + "&seed=" + std::to_string(seed));
}

std::string TestServer::Sha256(std::uint64_t size, std::uint64_t seed) const {
    return Control(L"GET", "/sha256?size=" + std::to_string(size) + "&seed=" + std::to_string(seed));
}

std::string TestServer::RegisterBytes(std::string_view name, std::string_view bytes) const {
    return Control(L"PUT", "/blob/" + PercentEncode(name), bytes);
}

std::string TestServer::RegisterFile(std::string_view name, const std::filesystem::path& path) const {
    const std::wstring absolute = std::filesystem::absolute(path).wstring();
    return Control(L"PUT", "/blob/" + PercentEncode(name) + "?path=" + PercentEncode(Utf8(absolute)));
}

std::string TestServer::RegisterHostRules(std::string_view json) const {
    return Control(L"POST", "/hosts", json);
}

void TestServer::ReplaceHostRules(std::string_view id, std::string_view json) const {
    Control(L"PUT", "/hosts/" + PercentEncode(id), json);
}

void TestServer::SetRoute(std::string_view path, std::string_view directives) const {
    Control(L"PUT", "/route?path=" + PercentEncode(path), directives);
}

std::vector<RecordedRequest> TestServer::Requests(std::string_view contains) const {
    std::istringstream lines(Control(L"GET", "/requests?contains=" + PercentEncode(contains)));
    std::vector<RecordedRequest> requests;
    std::string line;
    while (std::getline(lines, line)) {
        const auto space = line.find(' ');
        const std::string key = line.substr(0, space);
        const std::string value = space == std::string::npos ? std::string() : line.substr(space + 1);
        if (key == "request") {
            requests.emplace_back();
        } else if (requests.empty() || key == "end") {
            continue;
        } else if (key == "header") {
            const auto colon = value.find(": ");
            requests.back().headers.emplace_back(value.substr(0, colon),
                                                 colon == std::string::npos ? "" : value.substr(colon + 2));
        } else if (key == "listener") {
            requests.back().listener = value;
        } else if (key == "connect") {
            requests.back().connect = value;
        } else if (key == "method") {
            requests.back().method = value;
        } else if (key == "target") {
            requests.back().target = value;
        } else if (key == "path") {
            requests.back().path = value;
        } else if (key == "version") {
            requests.back().version = value;
        } else if (key == "sent" && value != "-") {
            requests.back().sent = std::stoull(value);
        }
    }
    return requests;
}

std::vector<ConnectRecord> TestServer::Connects(std::string_view contains) const {
    std::istringstream lines(Control(L"GET", "/connects?contains=" + PercentEncode(contains)));
    std::vector<ConnectRecord> connects;
    std::string word, sequence, target, listener;
    while (lines >> word >> sequence >> target >> listener) connects.push_back({target, listener});
    return connects;
}

std::string TestServer::Control(const wchar_t* method, const std::string& path, std::string_view body) const {
    const auto fail = [&](const char* step) {
        return std::runtime_error(std::string("test server control request ") + step + " failed (" +
                                  std::to_string(GetLastError()) + ") for " + path);
    };
    // The control endpoint is reached directly, never through the test proxy.
    const InternetHandle session(
        WinHttpOpen(L"qv-test-control", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session) throw fail("WinHttpOpen");
    WinHttpSetTimeouts(session.get(), 5000, 5000, 60000, 60000);
    const InternetHandle connection(WinHttpConnect(session.get(), L"127.0.0.1", control_port_, 0));
    if (!connection) throw fail("WinHttpConnect");
    const InternetHandle request(WinHttpOpenRequest(connection.get(), method, Widen(path).c_str(), nullptr,
                                                    WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES, 0));
    if (!request) throw fail("WinHttpOpenRequest");
    const auto length = static_cast<DWORD>(body.size());
    void* data = length ? const_cast<char*>(body.data()) : WINHTTP_NO_REQUEST_DATA;
    if (!WinHttpSendRequest(request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, data, length, length, 0)) {
        throw fail("WinHttpSendRequest");
    }
    if (!WinHttpReceiveResponse(request.get(), nullptr)) throw fail("WinHttpReceiveResponse");
    DWORD status = 0;
    DWORD status_size = sizeof(status);
    WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                        WINHTTP_HEADER_NAME_BY_INDEX, &status, &status_size, WINHTTP_NO_HEADER_INDEX);
    std::string answer;
    for (;;) {
        DWORD available = 0;
        if (!WinHttpQueryDataAvailable(request.get(), &available)) throw fail("WinHttpQueryDataAvailable");
        if (available == 0) break;
        const std::size_t old_size = answer.size();
        answer.resize(old_size + available);
        DWORD read = 0;
        if (!WinHttpReadData(request.get(), answer.data() + old_size, available, &read)) {
            throw fail("WinHttpReadData");
        }
        answer.resize(old_size + read);
    }
    if (status != 200) {
        throw std::runtime_error("test server control request " + path + " answered " + std::to_string(status) +
                                 ": " + answer);
    }
    return answer;
}

}  // namespace quorvane::testing
