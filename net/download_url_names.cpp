#include <algorithm>
#include <cwctype>
#include <iterator>
#include <optional>

#include "files/product_constants.h"
#include "net/download_url.h"

namespace quorvane {
namespace {

std::wstring LowerCase(std::wstring text) {
    for (wchar_t& unit : text) unit = static_cast<wchar_t>(std::towlower(unit));
    return text;
}

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

}  // namespace quorvane
