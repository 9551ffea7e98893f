#pragma once
// Moving response bodies from the network to memory or to a file, on the
// worker thread, with the cancel flag looked at before every read.

#include <cstdint>
#include <optional>
#include <string>

namespace quorvane {

// Tries the address and its fallback addresses in turn and returns the first
// complete body (at most 1 MiB). Before each further address it posts
// (retry_percent, retry_text, Running). When all fail it raises the last
// failure's message ("下载失败" for an empty address); when a cancel was asked
// for, the failure at hand is raised unchanged and no other address is tried.
std::string FetchToMemory(const std::wstring& address, const std::wstring& purpose, int retry_percent,
                          const std::wstring& retry_text);

// Streams the one address's body into destination, created or truncated, and
// posts a record from start_percent to end_percent with text_prefix +
// text_suffix after every read. A failed request leaves the destination
// untouched; a later failure leaves what was written so far. A write that
// fails ends the transfer there, with the failure to save the file.
//
// With a limit, the transfer stops as soon as more than max_bytes have
// arrived and fails with the caller's message: a server must not be able to
// fill the disk with a body longer than the caller knows it to be.
struct DownloadLimit {
    std::uint64_t max_bytes = 0;
    const char* message = "";
};
void DownloadToFile(const std::wstring& address, const std::wstring& destination, const std::wstring& purpose,
                    int start_percent, int end_percent, const std::wstring& text_prefix,
                    const std::wstring& text_suffix, const std::optional<DownloadLimit>& limit = std::nullopt);

}  // namespace quorvane
