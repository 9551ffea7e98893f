#pragma once
// Download addresses: the pieces a request needs, the HTTPS-only rule, and the
// fallback addresses on the maker's trusted domains. No Windows header here.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quorvane {

struct ParsedUrl {
    std::wstring host;  // as the address spells it: case kept, nothing decoded
    std::wstring path;  // path followed by query and fragment, undecoded; never empty
    std::uint16_t port = 443;
    bool https = true;
};

// Raises "无法解析下载地址" with the error code for anything that is no http or
// https URL, and "在线安装器只允许使用 HTTPS 地址" for an http one.
ParsedUrl ParseDownloadUrl(const std::wstring& address);

// The maker's domains in fallback order, lower case.
std::vector<std::wstring> TrustedDomains();

// For an address whose host is, or lies under, a trusted domain (whole labels,
// any letter case: "xquorvane.com" lies under nothing), the same address on
// each domain after the first one matched: lower-case scheme and host, no user
// information, no port 443, path and query unchanged. Empty for any other host.
std::vector<std::wstring> FallbackAddresses(const ParsedUrl& url);

// The same address on every trusted domain, in fallback order, in the form of
// FallbackAddresses; empty for a host under no trusted domain.
std::vector<std::wstring> MirrorAddresses(const ParsedUrl& url);

void AppendUnique(std::vector<std::wstring>& list, const std::wstring& text);

// The address split as WinHttpCrackUrl splits it with no flags, without a
// Windows call, for the maker's release tool: host and port as written (443 or
// 80 when none), path with query and fragment exactly as written ("/" when
// there is none), https set by the scheme's letters in any case. Nothing where
// WinHttpCrackUrl fails: no http or https scheme, no "//", a port above 65535.
// net_tests holds it to WinHttpCrackUrl under Wine, also for the odd cases
// (an empty host, a port of no digits).
std::optional<ParsedUrl> SplitAddress(const std::wstring& address);

// The address itself, then the fallbacks of its pieces when it is an https
// address; empty for an empty address.
std::vector<std::wstring> CandidatesOf(const std::wstring& address, const std::optional<ParsedUrl>& url);

// The address itself, then its fallbacks. Never raises for a bad address: the
// address alone is returned, and opening a request for it reports the problem.
std::vector<std::wstring> BuildDownloadCandidates(const std::wstring& address);

}  // namespace quorvane
