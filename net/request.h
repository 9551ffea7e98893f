#pragma once
// One HTTPS GET with the system's headers, handed back once the server has
// answered with a success status.

#include <windows.h>
#include <winhttp.h>

#include <initializer_list>
#include <string>

#include "net/internet_handle.h"

namespace quorvane {

// The three handles of one request; whatever is open is closed, in the order
// CloseRequestHandles gives, when the record ends or is overwritten.
struct RequestHandles {
    InternetHandle session;
    InternetHandle connection;
    InternetHandle request;  // the response body is read through this one

    RequestHandles() noexcept = default;
    RequestHandles(RequestHandles&& other) noexcept = default;
    RequestHandles& operator=(RequestHandles&& other) noexcept;
    ~RequestHandles();
};

// Closes request, then connection, then session, skipping those not open.
void CloseRequestHandles(RequestHandles& handles) noexcept;

// The same with another closer in place of WinHttpCloseHandle, for a test that
// records the order: Wine keeps a parent alive while a child is open, so no
// effect of a wrong order shows there.
template <typename Close>
void CloseRequestHandles(RequestHandles& handles, Close close) noexcept {
    // Children before their parents.
    for (InternetHandle* handle : {&handles.request, &handles.connection, &handles.session}) {
        if (*handle) close(handle->release());
    }
}

// Sends the GET and receives the response headers. Raises std::runtime_error
// with the failed step's text (and the WinHTTP error code where a call failed)
// after closing whatever it had opened; a status outside 200 to 299 fails with
// "服务器返回异常状态码：" and the status.
RequestHandles OpenHttpsRequest(const std::wstring& address, const std::wstring& purpose);

}  // namespace quorvane
