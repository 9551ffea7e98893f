#pragma once
// The least a Windows program does to download a file over HTTPS with WinHTTP
// and to hash a file with CryptoAPI: the baselines that show what Wine itself
// allows. Failures raise std::runtime_error naming the call and its error.

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>

namespace quorvane::bench {

// One GET through the default proxy with the setup's session timeouts (under
// Wine a resolve timeout resolves the host on a thread-pool thread, as it does
// for the setup), 256 KiB reads, WriteFile; after_read,
// when given, is called with the running total after every read. Returns the
// bytes written.
std::uint64_t MinimalDownload(const std::wstring& url, const std::wstring& destination,
                              const std::function<void(std::uint64_t)>& after_read = nullptr);

// SHA-256 with 1 MiB ReadFile calls into CryptHashData, as lower-case hex.
std::string MinimalSha256(const std::wstring& path);

double SecondsSince(const LARGE_INTEGER& start);
LARGE_INTEGER Now();

}  // namespace quorvane::bench
