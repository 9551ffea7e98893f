#include "tools/release/mirror_check.h"

#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <stdexcept>

#include "files/manifest.h"
#include "files/segment_files.h"
#include "files/text.h"
#include "net/download_url.h"
#include "net/transfer_rules.h"
#include "net/transport_texts.h"
#include "pipeline/stage_texts.h"
#include "tools/release/release_files.h"
#include "tools/release/sha256.h"

namespace quorvane::release {
namespace {

using EasyHandle = std::unique_ptr<CURL, decltype(&curl_easy_cleanup)>;
using HeaderList = std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)>;

// What one transfer saw. The body goes to the digest and, for a manifest, into
// text; nothing else keeps it.
struct Transfer {
    std::uint64_t limit = 0;  // 0: no limit
    bool keep_text = false;
    Sha256 digest;
    std::string text;
    std::string head;  // the first bytes, for the database header
    std::uint64_t bytes = 0;
    bool over_limit = false;
    long status = 0;
    std::string error;  // transport failure, empty when the transfer completed
    double seconds = 0;
};

std::size_t Receive(char* data, std::size_t size, std::size_t count, void* context) {
    auto& transfer = *static_cast<Transfer*>(context);
    const std::size_t length = size * count;
    if (transfer.limit != 0 && transfer.bytes + length > transfer.limit) {
        // Clients stop a body as soon as it outgrows the manifest's size.
        transfer.over_limit = true;
        return CURL_WRITEFUNC_ERROR;
    }
    transfer.digest.Update(data, length);
    transfer.bytes += length;
    if (transfer.keep_text) transfer.text.append(data, length);
    if (transfer.head.size() < SegmentFileMagic.size()) {
        transfer.head.append(data, std::min(length, SegmentFileMagic.size() - transfer.head.size()));
    }
    return length;
}

void Fetch(const CheckOptions& options, const std::string& address, const wchar_t* purpose, Transfer& transfer) {
    const EasyHandle easy(curl_easy_init(), curl_easy_cleanup);
    if (!easy) throw std::runtime_error("cannot start libcurl");
    const std::string purpose_line = WideToUtf8(std::wstring(transport::kPurposeHeaderName) + purpose);
    const HeaderList headers(curl_slist_append(nullptr, purpose_line.c_str()), curl_slist_free_all);
    const std::string user_agent = WideToUtf8(transport::kUserAgent);
    char error[CURL_ERROR_SIZE] = {};
    CURL* handle = easy.get();
    curl_easy_setopt(handle, CURLOPT_URL, address.c_str());
    curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "https");
    curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(handle, CURLOPT_REDIR_PROTOCOLS_STR, "https");
    curl_easy_setopt(handle, CURLOPT_USERAGENT, user_agent.c_str());
    curl_easy_setopt(handle, CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    // The clients' limits: 15 s to connect, 30 s without a byte.
    curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(transport::kConnectTimeoutMs));
    curl_easy_setopt(handle, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(handle, CURLOPT_LOW_SPEED_TIME, static_cast<long>(transport::kReceiveTimeoutMs / 1000));
    if (!options.proxy.empty()) curl_easy_setopt(handle, CURLOPT_PROXY, options.proxy.c_str());
    if (!options.ca_file.empty()) curl_easy_setopt(handle, CURLOPT_CAINFO, options.ca_file.c_str());
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, Receive);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, error);

    const auto started = std::chrono::steady_clock::now();
    const CURLcode result = curl_easy_perform(handle);
    transfer.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &transfer.status);
    if (transfer.over_limit) {
        transfer.error = "larger than the manifest's size";
    } else if (result != CURLE_OK) {
        transfer.error = error[0] != '\0' ? error : curl_easy_strerror(result);
    }
}

bool IsSuccessStatus(long status) { return status >= 200 && status <= 299; }

std::string Seconds(double seconds) {
    char text[32] = {};
    std::snprintf(text, sizeof text, "%.2f s", seconds);
    return text;
}

std::string FetchManifest(const CheckOptions& options, const char* what, const std::string& address,
                          const wchar_t* purpose, std::ostream& report) {
    Transfer transfer;
    transfer.limit = kMemoryBodyCap;
    transfer.keep_text = true;
    Fetch(options, address, purpose, transfer);
    report << what << "  status " << transfer.status << "  size " << transfer.bytes << "  " << Seconds(transfer.seconds)
           << "  " << address << '\n';
    if (!transfer.error.empty()) throw std::runtime_error(std::string(what) + ": " + transfer.error);
    if (!IsSuccessStatus(transfer.status)) {
        throw std::runtime_error(std::string(what) + ": status " + std::to_string(transfer.status));
    }
    return transfer.text;
}

struct Expected {
    const char* what;
    const wchar_t* purpose;
    std::wstring url;
    std::string sha256;
    std::uint64_t size = 0;  // 0: the manifest names none
    bool needs_header = false;
};

// One line for the file on one mirror; true when a client would accept it.
bool CheckMirror(const CheckOptions& options, const Expected& expected, const std::string& address,
                 std::ostream& report) {
    Transfer transfer;
    transfer.limit = expected.size;
    Fetch(options, address, expected.purpose, transfer);
    const std::string sha256 = transfer.digest.HexDigest();

    std::string problem = transfer.error;
    if (problem.empty() && !IsSuccessStatus(transfer.status)) problem = "status " + std::to_string(transfer.status);
    if (problem.empty() && expected.size != 0 && transfer.bytes != expected.size) problem = "size differs";
    if (problem.empty() && sha256 != expected.sha256) problem = "sha256 " + sha256 + " differs";
    if (problem.empty() && expected.needs_header && transfer.head != SegmentFileMagic) {
        problem = "no segment database header";
    }

    report << expected.what << "  " << (problem.empty() ? "ok  " : "FAIL") << "  status " << transfer.status
           << "  size " << transfer.bytes;
    if (expected.size != 0) report << " of " << expected.size;
    report << "  sha256 " << (sha256 == expected.sha256 ? "matches" : "differs") << "  " << Seconds(transfer.seconds)
           << "  " << address;
    if (!problem.empty()) report << "  (" << problem << ')';
    report << '\n';
    return problem.empty();
}

}  // namespace

bool CheckRelease(const CheckOptions& options, std::ostream& report) {
    const InstallerManifest installer = ParseInstallerManifest(
        FetchManifest(options, "installer manifest", options.installer_manifest_url, kManifestPurpose, report));
    const SegmentManifest segments = ParseSegmentManifest(
        FetchManifest(options, "segment manifest  ", options.segment_manifest_url, kSegmentManifestPurpose, report));

    const Expected files[] = {
        {"installer         ", kPackagePurpose, installer.url, installer.sha256, installer.size, false},
        {"segment database  ", kSegmentDatabasePurpose, segments.url, segments.sha256, 0, true},
    };
    int checked = 0;
    int failed = 0;
    for (const Expected& file : files) {
        const ParsedUrl url = ParseReleaseAddress(WideToUtf8(file.url));
        for (const std::wstring& mirror : MirrorAddresses(url)) {
            ++checked;
            if (!CheckMirror(options, file, WideToUtf8(mirror), report)) ++failed;
        }
    }
    if (failed == 0) {
        report << "all " << checked << " mirrors serve the release\n";
    } else {
        report << failed << " of " << checked << " mirrors would fail a client\n";
    }
    return failed == 0;
}

}  // namespace quorvane::release
