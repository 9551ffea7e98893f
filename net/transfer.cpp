#include "net/transfer.h"

#include <windows.h>
#include <winhttp.h>

#include <cwchar>
#include <fstream>
#include <stdexcept>
#include <vector>

#include "files/text.h"
#include "net/download_url.h"
#include "net/request.h"
#include "net/transfer_rules.h"
#include "net/transport_texts.h"
#include "report/progress.h"
#include "report/progress_post.h"

namespace quorvane {
namespace {

[[noreturn]] void Fail(const wchar_t* text) { throw std::runtime_error(WideToUtf8(text)); }

// The window's cancel request is looked at between reads only; a blocked call
// ends by its own result or timeout.
void ThrowIfCancelled() {
    if (run_flags.cancel_requested.Load()) Fail(transport::kCancelled);
}

DWORD QueryReadyBytes(HINTERNET request) {
    DWORD ready = 0;
    if (!WinHttpQueryDataAvailable(request, &ready)) ThrowWithErrorCode(transport::kQueryDataFailed);
    return ready;
}

std::string ReadBodyToMemory(HINTERNET request) {
    std::string body;
    for (;;) {
        ThrowIfCancelled();
        const DWORD ready = QueryReadyBytes(request);
        if (ready == 0) return body;
        if (!FitsMemoryCap(body.size(), ready)) Fail(transport::kBodyTooLarge);
        const std::size_t old_size = body.size();
        body.resize(old_size + ready);
        DWORD read = 0;
        if (!WinHttpReadData(request, body.data() + old_size, ready, &read)) {
            ThrowWithErrorCode(transport::kMemoryReadFailed);
        }
        body.resize(old_size + read);
    }
}

std::string FetchOnce(const std::wstring& address, const std::wstring& purpose) {
    const RequestHandles handles = OpenHttpsRequest(address, purpose);
    return ReadBodyToMemory(handles.request.get());
}

// The announced length, or 0 when there is none or it is no number.
std::uint64_t AnnouncedLength(HINTERNET request) {
    wchar_t text[64] = {};
    DWORD size = sizeof(text);
    if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_CONTENT_LENGTH, WINHTTP_HEADER_NAME_BY_INDEX, text, &size,
                             WINHTTP_NO_HEADER_INDEX)) {
        return 0;
    }
    return std::wcstoull(text, nullptr, 10);
}

}  // namespace

std::string FetchToMemory(const std::wstring& address, const std::wstring& purpose, int retry_percent,
                          const std::wstring& retry_text) {
    const std::vector<std::wstring> candidates = BuildDownloadCandidates(address);
    std::string last_failure;
    for (std::size_t index = 0; index < candidates.size();) {
        try {
            return FetchOnce(candidates[index], purpose);
        } catch (const std::exception& failure) {
            if (run_flags.cancel_requested.Load()) throw;
            last_failure = failure.what();
        }
        ++index;
        if (index < candidates.size()) PostProgress(retry_percent, retry_text, RunState::Running);
    }
    if (last_failure.empty()) Fail(transport::kDownloadFailed);
    throw std::runtime_error(last_failure);
}

void DownloadToFile(const std::wstring& address, const std::wstring& destination, const std::wstring& purpose,
                    int start_percent, int end_percent, const std::wstring& text_prefix,
                    const std::wstring& text_suffix, const std::optional<DownloadLimit>& limit) {
    const RequestHandles handles = OpenHttpsRequest(address, purpose);
    const HINTERNET request = handles.request.get();
    const std::uint64_t total = AnnouncedLength(request);

    std::ofstream file(destination.c_str(), std::ios::binary | std::ios::trunc);
    if (!file.is_open()) Fail(transport::kCannotCreateFile);
    std::vector<char> buffer(kDownloadBufferSize);
    const std::wstring text = text_prefix + text_suffix;
    std::uint64_t received = 0;

    for (;;) {
        ThrowIfCancelled();
        DWORD ready = QueryReadyBytes(request);
        if (ready == 0) break;
        while (ready != 0) {
            DWORD read = 0;
            if (!WinHttpReadData(request, buffer.data(), std::min<DWORD>(ready, kDownloadBufferSize), &read)) {
                ThrowWithErrorCode(transport::kFileReadFailed);
            }
            if (read == 0) break;
            if (limit && received + read > limit->max_bytes) throw std::runtime_error(limit->message);
            // A write that fails (a full disk) ends the transfer at once: reading
            // on would only fill the disk for every other program too.
            if (!file.write(buffer.data(), static_cast<std::streamsize>(read))) Fail(transport::kCannotSaveFile);
            ready -= std::min(read, ready);
            received += read;
            PostProgress(DownloadPercent(start_percent, end_percent, received, total), text, RunState::Running);
        }
    }
    file.close();
    if (file.fail()) Fail(transport::kCannotSaveFile);
}

}  // namespace quorvane
