#include <algorithm>
#include <cwctype>
#include <iterator>
#include <optional>
#include <string>

#include "files/product_constants.h"
#include "net/download_url.h"

namespace quorvane {
namespace {

std::wstring LowerCase(std::wstring text) {
    for (wchar_t& unit : text) unit = static_cast<wchar_t>(std::towlower(unit));
    return text;
}

bool IsAsciiDigit(wchar_t unit) { return unit >= L'0' && unit <= L'9'; }

bool EqualsOrLiesUnder(const std::wstring& host, const std::wstring& domain) {
    if (host == domain) return true;
    return host.size() > domain.size() && host.ends_with(domain) && host[host.size() - domain.size() - 1] == L'.';
}

// The index of the first trusted domain that the lower-case host equals or lies under.
std::optional<std::size_t> MatchTrustedDomain(const std::wstring& lower_host,
                                              const std::vector<std::wstring>& domains) {
    for (std::size_t index = 0; index < domains.size(); ++index) {
        if (EqualsOrLiesUnder(lower_host, domains[index])) return index;
    }
    return std::nullopt;
}

// The address on every trusted domain, or only on those after the one the host
// lies under; nothing when it lies under none.
std::vector<std::wstring> AddressesOnDomainsFrom(const ParsedUrl& url, bool after_matched) {
    const std::vector<std::wstring> domains = TrustedDomains();
    const std::wstring lower_host = LowerCase(url.host);
    const std::optional<std::size_t> matched = MatchTrustedDomain(lower_host, domains);
    if (!matched) return {};
    // Every label in front of the matched domain, without the joining dot.
    const std::size_t domain_length = domains[*matched].size();
    const std::wstring prefix = lower_host.size() == domain_length
                                    ? std::wstring()
                                    : lower_host.substr(0, lower_host.size() - 1 - domain_length);
    const std::wstring port = url.port == 443 ? std::wstring() : L":" + std::to_wstring(url.port);
    const std::wstring path = url.path.empty() ? L"/" : url.path;

    std::vector<std::wstring> addresses;
    for (std::size_t index = after_matched ? *matched + 1 : 0; index < domains.size(); ++index) {
        const std::wstring host = prefix.empty() ? domains[index] : prefix + L"." + domains[index];
        addresses.push_back(L"https://" + host + port + path);
    }
    return addresses;
}

}  // namespace

std::vector<std::wstring> TrustedDomains() { return {std::begin(kTrustedDomains), std::end(kTrustedDomains)}; }

std::vector<std::wstring> FallbackAddresses(const ParsedUrl& url) { return AddressesOnDomainsFrom(url, true); }

std::vector<std::wstring> MirrorAddresses(const ParsedUrl& url) { return AddressesOnDomainsFrom(url, false); }

void AppendUnique(std::vector<std::wstring>& list, const std::wstring& text) {
    if (std::find(list.begin(), list.end(), text) == list.end()) list.push_back(text);
}

std::optional<ParsedUrl> SplitAddress(const std::wstring& address) {
    const std::size_t colon = address.find(L':');
    if (colon == std::wstring::npos || address.compare(colon + 1, 2, L"//") != 0) return std::nullopt;
    const std::wstring scheme = LowerCase(address.substr(0, colon));
    if (scheme != L"https" && scheme != L"http") return std::nullopt;
    const std::size_t start = colon + 3;
    const std::size_t slash = address.find(L'/', start);
    const std::size_t end = slash == std::wstring::npos ? address.size() : slash;
    std::wstring authority = address.substr(start, end - start);
    // User name and password take no part in a request.
    const std::size_t at = authority.rfind(L'@');
    if (at != std::wstring::npos) authority.erase(0, at + 1);

    ParsedUrl url;
    url.https = scheme == L"https";
    url.port = url.https ? 443 : 80;
    const std::size_t port = authority.find(L':');
    if (port != std::wstring::npos) {
        // As WinHttpCrackUrl reads it: the leading digits, none giving 0, no port the default.
        if (port + 1 < authority.size()) {
            unsigned long number = 0;
            for (std::size_t index = port + 1; index < authority.size() && IsAsciiDigit(authority[index]); ++index) {
                number = number * 10 + static_cast<unsigned long>(authority[index] - L'0');
                if (number > 65535) return std::nullopt;
            }
            url.port = static_cast<std::uint16_t>(number);
        }
        authority.erase(port);
    }
    url.host = authority;
    url.path = slash == std::wstring::npos ? L"/" : address.substr(slash);
    return url;
}

std::vector<std::wstring> CandidatesOf(const std::wstring& address, const std::optional<ParsedUrl>& url) {
    std::vector<std::wstring> candidates;
    if (address.empty()) return candidates;
    candidates.push_back(address);
    if (!url || !url->https) return candidates;
    for (const std::wstring& fallback : FallbackAddresses(*url)) AppendUnique(candidates, fallback);
    return candidates;
}

}  // namespace quorvane
