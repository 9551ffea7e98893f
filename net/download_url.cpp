#include "net/download_url.h"

#include <wchar.h>
#include <windows.h>
#include <winhttp.h>

#include <stdexcept>

#include "files/error_text.h"
#include "files/text.h"
#include "net/transport_texts.h"

namespace quorvane {
namespace {

// WinHttpCrackUrl reports each component as a pointer into the address and a
// length, not as a terminated string.
std::wstring Component(const wchar_t* start, DWORD length) {
    if (start == nullptr || length == 0) return {};
    return std::wstring(start, length);
}

}  // namespace

ParsedUrl ParseDownloadUrl(const std::wstring& address) {
    URL_COMPONENTS components = {};
    components.dwStructSize = sizeof(components);
    // -1 asks for a pointer and length of the component; user name and password
    // stay 0 and are not returned.
    components.dwSchemeLength = static_cast<DWORD>(-1);
    components.dwHostNameLength = static_cast<DWORD>(-1);
    components.dwUrlPathLength = static_cast<DWORD>(-1);
    components.dwExtraInfoLength = static_cast<DWORD>(-1);
    if (!WinHttpCrackUrl(address.c_str(), 0, 0, &components)) ThrowWithErrorCode(transport::kCannotParseAddress);

    ParsedUrl url;
    url.host = Component(components.lpszHostName, components.dwHostNameLength);
    url.path = Component(components.lpszUrlPath, components.dwUrlPathLength);
    url.path += Component(components.lpszExtraInfo, components.dwExtraInfoLength);
    url.port = components.nPort;
    const std::wstring scheme = Component(components.lpszScheme, components.dwSchemeLength);
    if (_wcsicmp(scheme.c_str(), L"https") != 0) throw std::runtime_error(WideToUtf8(transport::kHttpsOnly));
    url.https = true;
    if (url.path.empty()) url.path = L"/";
    return url;
}

std::vector<std::wstring> BuildDownloadCandidates(const std::wstring& address) {
    std::optional<ParsedUrl> url;
    try {
        if (!address.empty()) url = ParseDownloadUrl(address);
    } catch (const std::runtime_error&) {
        // The same failure is raised again when a request is opened for the address.
    }
    return CandidatesOf(address, url);
}

}  // namespace quorvane
