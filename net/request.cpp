#include "net/request.h"

#include <stdexcept>

#include "files/error_text.h"
#include "files/text.h"
#include "net/download_url.h"
#include "net/transport_texts.h"

namespace quorvane {
namespace {

// Options whose failure is no reason to give up: Wine, for one, refuses
// decompression, and the body then arrives as the server sent it.
void SetOptionIgnoringResult(HINTERNET handle, DWORD option, DWORD value) {
    WinHttpSetOption(handle, option, &value, sizeof(value));
}

bool IsSuccessStatus(DWORD status) { return status >= 200 && status <= 299; }

}  // namespace

RequestHandles& RequestHandles::operator=(RequestHandles&& other) noexcept {
    if (this != &other) {
        CloseRequestHandles(*this);
        session = std::move(other.session);
        connection = std::move(other.connection);
        request = std::move(other.request);
    }
    return *this;
}

RequestHandles::~RequestHandles() { CloseRequestHandles(*this); }

void CloseRequestHandles(RequestHandles& handles) noexcept { CloseRequestHandles(handles, internet_release::Close); }

RequestHandles OpenHttpsRequest(const std::wstring& address, const std::wstring& purpose) {
    const ParsedUrl url = ParseDownloadUrl(address);
    RequestHandles handles;

    handles.session.reset(WinHttpOpen(transport::kUserAgent, WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                                      WINHTTP_NO_PROXY_BYPASS, 0));
    if (!handles.session) ThrowWithErrorCode(transport::kCannotOpenSession);
    WinHttpSetTimeouts(handles.session.get(), transport::kResolveTimeoutMs, transport::kConnectTimeoutMs,
                       transport::kSendTimeoutMs, transport::kReceiveTimeoutMs);

    handles.connection.reset(WinHttpConnect(handles.session.get(), url.host.c_str(), url.port, 0));
    if (!handles.connection) ThrowWithErrorCode(transport::kCannotConnect);

    // Always TLS, whatever port the address names.
    handles.request.reset(WinHttpOpenRequest(handles.connection.get(), L"GET", url.path.c_str(), nullptr,
                                             WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES, WINHTTP_FLAG_SECURE));
    if (!handles.request) ThrowWithErrorCode(transport::kCannotOpenRequest);
    SetOptionIgnoringResult(handles.request.get(), WINHTTP_OPTION_DECOMPRESSION,
                            WINHTTP_DECOMPRESSION_FLAG_GZIP | WINHTTP_DECOMPRESSION_FLAG_DEFLATE);
    // Redirects are followed, but never from HTTPS down to plain HTTP.
    SetOptionIgnoringResult(handles.request.get(), WINHTTP_OPTION_REDIRECT_POLICY,
                            WINHTTP_OPTION_REDIRECT_POLICY_DISALLOW_HTTPS_TO_HTTP);
    // The wait for the response headers has a timeout of its own (90 s by
    // default, none at all under Wine); a server that stays silent must fail
    // after the same receive timeout as any other read, or the worker waits
    // for it beyond every cancel.
    SetOptionIgnoringResult(handles.request.get(), WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT,
                            transport::kReceiveTimeoutMs);

    const std::wstring headers =
        std::wstring(transport::kPurposeHeaderName) + purpose + L"\r\n" + transport::kAcceptEncodingLine;
    if (!WinHttpSendRequest(handles.request.get(), headers.c_str(), static_cast<DWORD>(headers.size()),
                            WINHTTP_NO_REQUEST_DATA, 0, 0, 0)) {
        ThrowWithErrorCode(transport::kSendFailed);
    }
    if (!WinHttpReceiveResponse(handles.request.get(), nullptr)) ThrowWithErrorCode(transport::kReceiveFailed);

    DWORD status = 0;
    DWORD status_size = sizeof(status);
    if (!WinHttpQueryHeaders(handles.request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &status, &status_size, WINHTTP_NO_HEADER_INDEX)) {
        ThrowWithErrorCode(transport::kStatusUnreadable);
    }
    if (!IsSuccessStatus(status)) {
        throw std::runtime_error(WideToUtf8(transport::kBadStatusPrefix + std::to_wstring(status)));
    }
    return handles;
}

}  // namespace quorvane
