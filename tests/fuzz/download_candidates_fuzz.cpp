// The candidate list of an address as the address parser hands it over: the
// address itself, then its fallbacks on the trusted domains, each once; and
// the release tool's splitter on the address built from the pieces. Input:
// two bytes of port, then host and path separated by the first zero byte. A
// host with a character that ends or splits the host part of an address has no
// host part to check.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "files/text.h"
#include "net/download_url.h"
#include "tests/fuzz/fuzz_support.h"

using quorvane::fuzz::Require;

namespace {

bool StartsWith(const std::wstring& text, const std::wstring& head) { return text.compare(0, head.size(), head) == 0; }

// Whether the host of an https address built by the fallback builder is one of
// the trusted domains or lies under one.
bool NamesTrustedHost(const std::wstring& address) {
    const std::wstring rest = address.substr(std::wstring(L"https://").size());
    const std::wstring host = rest.substr(0, rest.find_first_of(L":/?#"));
    for (const std::wstring& domain : quorvane::TrustedDomains()) {
        if (host == domain) return true;
        if (host.size() > domain.size() && host.ends_with(L"." + domain)) return true;
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const std::string rest(reinterpret_cast<const char*>(data + 2), size - 2);
    const std::size_t split = std::min(rest.find('\0'), rest.size());
    quorvane::ParsedUrl url;
    url.port = static_cast<std::uint16_t>(data[0] << 8 | data[1]);
    url.host = quorvane::Utf8ToWide(rest.substr(0, split));
    url.path = quorvane::Utf8ToWide(split < rest.size() ? rest.substr(split + 1) : std::string());
    // The parser's path begins with the path, the query or the fragment, and is "/" when all are missing.
    if (url.path.empty() || std::wstring(L"/?#").find(url.path.front()) == std::wstring::npos) url.path.insert(0, L"/");
    const std::wstring address = L"https://" + url.host + L":" + std::to_wstring(url.port) + url.path;

    // What BuildDownloadCandidates does once the address has been parsed.
    const std::vector<std::wstring> candidates = quorvane::CandidatesOf(address, url);
    const std::vector<std::wstring> fallbacks = quorvane::FallbackAddresses(url);

    Require(candidates.front() == address, "the address itself comes first");
    Require(fallbacks.size() < quorvane::TrustedDomains().size(), "no more fallbacks than other trusted domains");
    for (std::size_t index = 0; index < candidates.size(); ++index) {
        Require(std::count(candidates.begin(), candidates.end(), candidates[index]) == 1, "each candidate once");
    }
    for (const std::wstring& fallback : fallbacks) {
        Require(StartsWith(fallback, L"https://"), "a fallback is an https address");
        Require(fallback.ends_with(url.path), "a fallback keeps the path");
        if (url.host.find_first_of(L":/?#@\\") == std::wstring::npos) {
            Require(NamesTrustedHost(fallback), "a fallback names a host on a trusted domain");
        }
    }
    // The release tool's splitter gives the pieces back where the host leaves
    // no doubt where it ends and the path begins with "/".
    const std::optional<quorvane::ParsedUrl> pieces = quorvane::SplitAddress(address);
    if (url.host.find_first_of(L":/@") == std::wstring::npos && url.path.front() == L'/') {
        Require(pieces && pieces->host == url.host && pieces->port == url.port && pieces->path == url.path &&
                    pieces->https,
                "the splitter gives back host, port and path");
    }
    return 0;
}
