#include "bench/minimal_work.h"

#include <wincrypt.h>
#include <winhttp.h>

#include <cstdio>
#include <stdexcept>
#include <vector>

#include "files/unique_handle.h"
#include "net/request.h"
#include "net/transport_texts.h"

namespace quorvane::bench {
namespace {

constexpr DWORD kReadSize = 256 * 1024;

[[noreturn]] void Fail(const char* call) {
    throw std::runtime_error(std::string(call) + " failed with " + std::to_string(GetLastError()));
}

void CloseFile(HANDLE file) {
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
}
void DestroyHash(HCRYPTHASH hash) { CryptDestroyHash(hash); }
void ReleaseProvider(HCRYPTPROV provider) { CryptReleaseContext(provider, 0); }

using File = UniqueHandle<HANDLE, CloseFile>;
using CryptHash = UniqueHandle<HCRYPTHASH, DestroyHash>;
using CryptProvider = UniqueHandle<HCRYPTPROV, ReleaseProvider>;

}  // namespace

double SecondsSince(const LARGE_INTEGER& start) {
    LARGE_INTEGER frequency{};
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(Now().QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
}

LARGE_INTEGER Now() {
    LARGE_INTEGER now{};
    QueryPerformanceCounter(&now);
    return now;
}

std::uint64_t MinimalDownload(const std::wstring& url, const std::wstring& destination,
                              const std::function<void(std::uint64_t)>& after_read) {
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof parts;
    wchar_t host[256] = {};
    wchar_t path[2048] = {};
    parts.lpszHostName = host;
    parts.dwHostNameLength = 256;
    parts.lpszUrlPath = path;
    parts.dwUrlPathLength = 2048;
    if (!WinHttpCrackUrl(url.c_str(), 0, 0, &parts)) Fail("WinHttpCrackUrl");
    const InternetHandle session(
        WinHttpOpen(L"bench", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session) Fail("WinHttpOpen");
    WinHttpSetTimeouts(session.get(), transport::kResolveTimeoutMs, transport::kConnectTimeoutMs,
                       transport::kSendTimeoutMs, transport::kReceiveTimeoutMs);
    const InternetHandle connection(WinHttpConnect(session.get(), host, parts.nPort, 0));
    if (!connection) Fail("WinHttpConnect");
    const InternetHandle request(WinHttpOpenRequest(connection.get(), L"GET", path, nullptr, WINHTTP_NO_REFERER,
                                                    WINHTTP_DEFAULT_ACCEPT_TYPES, WINHTTP_FLAG_SECURE));
    if (!request) Fail("WinHttpOpenRequest");
    if (!WinHttpSendRequest(request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0)) {
        Fail("WinHttpSendRequest");
    }
    if (!WinHttpReceiveResponse(request.get(), nullptr)) Fail("WinHttpReceiveResponse");

    const File file(CreateFileW(destination.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.get() == INVALID_HANDLE_VALUE) Fail("CreateFileW");
    std::vector<char> buffer(kReadSize);
    std::uint64_t bytes = 0;
    for (;;) {
        DWORD ready = 0;
        if (!WinHttpQueryDataAvailable(request.get(), &ready)) Fail("WinHttpQueryDataAvailable");
        if (ready == 0) return bytes;
        DWORD read = 0;
        if (!WinHttpReadData(request.get(), buffer.data(), ready < kReadSize ? ready : kReadSize, &read)) {
            Fail("WinHttpReadData");
        }
        DWORD written = 0;
        if (!WriteFile(file.get(), buffer.data(), read, &written, nullptr)) Fail("WriteFile");
        bytes += read;
        if (after_read) after_read(bytes);
    }
}

std::string MinimalSha256(const std::wstring& path) {
    CryptProvider provider;
    if (!CryptAcquireContextW(provider.put(), nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT)) {
        Fail("CryptAcquireContextW");
    }
    CryptHash hash;
    if (!CryptCreateHash(provider.get(), CALG_SHA_256, 0, 0, hash.put())) Fail("CryptCreateHash");
    const File file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.get() == INVALID_HANDLE_VALUE) Fail("CreateFileW");
    std::vector<BYTE> buffer(1048576);
    DWORD read = 0;
    while (ReadFile(file.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr) && read > 0) {
        if (!CryptHashData(hash.get(), buffer.data(), read, 0)) Fail("CryptHashData");
    }
    BYTE value[32] = {};
    DWORD length = sizeof value;
    if (!CryptGetHashParam(hash.get(), HP_HASHVAL, value, &length, 0)) Fail("CryptGetHashParam");
    std::string hex;
    for (DWORD index = 0; index < length; ++index) {
        char digits[3];
        std::snprintf(digits, sizeof digits, "%02x", value[index]);
        hex += digits;
    }
    return hex;
}

}  // namespace quorvane::bench
