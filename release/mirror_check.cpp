#include "release/mirror_check.h"

#include <curl/curl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <stdexcept>

#include "files/manifest.h"
#include "files/segment_files.h"
#include "files/text.h"
#include "net/download_url.h"
#include "net/transfer_rules.h"
#include "net/transport_texts.h"
#include "pipeline/stage_texts.h"
#include "release/authenticode.h"
#include "release/release_files.h"
#include "release/sha256.h"

namespace quorvane::release {
namespace {

using EasyHandle = std::unique_ptr<CURL, decltype(&curl_easy_cleanup)>;
using HeaderList = std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)>;
using UrlHandle = std::unique_ptr<CURLU, decltype(&curl_url_cleanup)>;

// Clients follow at most this many redirects (WinHTTP's own limit).
constexpr int kMaxRedirects = 10;

// The redirects WinHTTP follows; any other 3xx is the answer itself, with a
// Location or without.
bool IsFollowedRedirect(long status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

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
    std::string final_address;  // after the redirects
    std::string outside;        // a redirect target off the trusted domains
    int sink = -1;              // a file that also receives the body, or -1
};

// A file of the body for as long as it is judged; removed by its owner.
struct TemporaryFile {
    std::string path = (std::filesystem::temp_directory_path() / "quorvane-release-XXXXXX").string();
    int descriptor = mkstemp(path.data());
    TemporaryFile() {
        if (descriptor < 0) throw std::runtime_error("cannot create a temporary file in " + path);
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    ~TemporaryFile() {
        close(descriptor);
        unlink(path.c_str());
    }
};

bool WriteAll(int descriptor, const char* data, std::size_t length) {
    while (length > 0) {
        const ssize_t count = write(descriptor, data, length);
        if (count <= 0) return false;
        data += count;
        length -= static_cast<std::size_t>(count);
    }
    return true;
}

std::size_t Receive(char* data, std::size_t size, std::size_t count, void* context) {
    auto& transfer = *static_cast<Transfer*>(context);
    const std::size_t length = size * count;
    if (transfer.limit != 0 && transfer.bytes + length > transfer.limit) {
        // Clients stop a body as soon as it outgrows the manifest's size.
        transfer.over_limit = true;
        return CURL_WRITEFUNC_ERROR;
    }
    if (transfer.sink >= 0 && !WriteAll(transfer.sink, data, length)) return CURL_WRITEFUNC_ERROR;
    transfer.digest.Update(data, length);
    transfer.bytes += length;
    if (transfer.keep_text) transfer.text.append(data, length);
    if (transfer.head.size() < SegmentFileMagic.size()) {
        transfer.head.append(data, std::min(length, SegmentFileMagic.size() - transfer.head.size()));
    }
    return length;
}

// The address split as the installer splits it; nothing for text that is no
// UTF-8 or no address.
std::optional<ParsedUrl> SplitUtf8Address(const std::string& address) {
    try {
        return SplitAddress(Utf8ToWide(address));
    } catch (const std::runtime_error&) {
        return std::nullopt;
    }
}

// Where a redirect leads: an absolute Location as sent, a relative one
// resolved against the address asked for, not against libcurl's own URL,
// which here is only the origin.
std::string RedirectTarget(CURL* handle, const std::string& asked) {
    curl_header* header = nullptr;
    if (curl_easy_header(handle, "Location", 0, CURLH_HEADER, -1, &header) != CURLHE_OK) return {};
    const std::string location = header->value;
    if (SplitUtf8Address(location)) return location;
    const UrlHandle url(curl_url(), curl_url_cleanup);
    char* resolved = nullptr;
    if (!url || curl_url_set(url.get(), CURLUPART_URL, asked.c_str(), 0) != CURLUE_OK ||
        curl_url_set(url.get(), CURLUPART_URL, location.c_str(), 0) != CURLUE_OK ||
        curl_url_get(url.get(), CURLUPART_URL, &resolved, 0) != CURLUE_OK) {
        return location;
    }
    const std::string target = resolved;
    curl_free(resolved);
    return target;
}

// One request, no redirect followed; the redirect's target, if any, in location.
// The request target is the address's path with query and fragment exactly as
// written, which is what WinHTTP sends; libcurl alone would drop the fragment
// and resolve "..".
void Request(const CheckOptions& options, const std::string& address, const ParsedUrl& url, const wchar_t* purpose,
             Transfer& transfer, std::string& location) {
    const EasyHandle easy(curl_easy_init(), curl_easy_cleanup);
    if (!easy) throw std::runtime_error("cannot start libcurl");
    const std::string purpose_line = WideToUtf8(std::wstring(transport::kPurposeHeaderName) + purpose);
    const HeaderList headers(curl_slist_append(nullptr, purpose_line.c_str()), curl_slist_free_all);
    const std::string user_agent = WideToUtf8(transport::kUserAgent);
    // The clients ask for compressed bodies and read them decoded; libcurl decodes too.
    const std::string encoding_line = WideToUtf8(transport::kAcceptEncodingLine);
    const std::size_t value = encoding_line.find(": ") + 2;
    const std::string encodings = encoding_line.substr(value, encoding_line.find("\r\n") - value);
    const std::string port = url.port == 443 ? "" : ":" + std::to_string(url.port);
    const std::string origin = "https://" + WideToUtf8(url.host) + port + "/";
    const std::string target = WideToUtf8(url.path);
    char error[CURL_ERROR_SIZE] = {};
    CURL* handle = easy.get();
    curl_easy_setopt(handle, CURLOPT_URL, origin.c_str());
    curl_easy_setopt(handle, CURLOPT_REQUEST_TARGET, target.c_str());
    curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "https");
    curl_easy_setopt(handle, CURLOPT_USERAGENT, user_agent.c_str());
    curl_easy_setopt(handle, CURLOPT_ACCEPT_ENCODING, encodings.c_str());
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
    transfer.seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &transfer.status);
    if (result == CURLE_OK && IsFollowedRedirect(transfer.status)) {
        location = RedirectTarget(handle, address);
    }
    if (transfer.over_limit) {
        transfer.error = "larger than the manifest's size";
    } else if (result != CURLE_OK) {
        transfer.error = error[0] != '\0' ? error : curl_easy_strerror(result);
    }
}

// Follows redirects as the clients do: at most 10, never from HTTPS to HTTP.
void Fetch(const CheckOptions& options, const std::string& address, const wchar_t* purpose, Transfer& transfer) {
    std::string current = address;
    for (int redirects = 0;; ++redirects) {
        transfer.final_address = current;
        const std::optional<ParsedUrl> url = SplitUtf8Address(current);
        if (!url || !url->https) {
            transfer.error = (redirects > 0 ? "redirected to \"" + current + "\", " : std::string()) +
                             "no HTTPS address: clients refuse it";
            return;
        }
        if (redirects > 0 && MirrorAddresses(*url).empty() && transfer.outside.empty()) transfer.outside = current;
        transfer.digest = Sha256();
        transfer.text.clear();
        transfer.head.clear();
        transfer.bytes = 0;
        if (transfer.sink >= 0 && (ftruncate(transfer.sink, 0) != 0 || lseek(transfer.sink, 0, SEEK_SET) != 0)) {
            transfer.error = "cannot keep the body in a temporary file";
            return;
        }
        std::string location;
        Request(options, current, *url, purpose, transfer, location);
        if (!transfer.error.empty() || location.empty()) return;
        if (redirects == kMaxRedirects) {
            transfer.error = "more than " + std::to_string(kMaxRedirects) + " redirects: clients give up";
            return;
        }
        current = location;
    }
}

bool IsSuccessStatus(long status) { return status >= 200 && status <= 299; }

std::string Seconds(double seconds) {
    char text[32] = {};
    std::snprintf(text, sizeof text, "%.2f s", seconds);
    return text;
}

// The end of a line: the address, where it led, and what fails or stands out.
void EndLine(const std::string& address, const Transfer& transfer, const std::string& problem, std::ostream& report) {
    report << "  " << address;
    if (transfer.final_address != address) report << "  -> " << transfer.final_address;
    if (!problem.empty()) report << "  (" << problem << ')';
    if (!transfer.outside.empty()) report << "  (redirected off the trusted domains to " << transfer.outside << ')';
    report << '\n';
}

struct Tally {
    int checked = 0;
    int failed = 0;
    int outside = 0;
    void Count(bool passed, const Transfer& transfer) {
        ++checked;
        if (!passed) ++failed;
        if (!transfer.outside.empty()) ++outside;
    }
};

std::string ReadManifestFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file.is_open()) throw std::runtime_error("cannot open \"" + path + '"');
    std::string text(std::istreambuf_iterator<char>(file), {});
    if (text.size() > kMemoryBodyCap) throw std::runtime_error('"' + path + "\" is larger than clients read (1 MiB)");
    return text;
}

// The manifest from its file, or from every address a client may read it
// from, in the clients' order: the first that answers is the release, and any
// other that fails or differs from it fails those clients that reach it.
template <typename Manifest>
Manifest LoadManifest(const CheckOptions& options, const char* what, const std::string& file,
                      const std::string& address, const wchar_t* purpose, Manifest (*parse)(const std::string&),
                      std::string (*compose)(const Manifest&), Tally& tally, std::ostream& report) {
    if (!file.empty()) {
        report << what << "  file  " << file << '\n';
        return parse(ReadManifestFile(file));
    }
    std::optional<Manifest> first;
    const std::wstring wide_address = Utf8ToWide(address);
    for (const std::wstring& candidate : CandidatesOf(wide_address, SplitAddress(wide_address))) {
        Transfer transfer;
        transfer.limit = kMemoryBodyCap;
        transfer.keep_text = true;
        Fetch(options, WideToUtf8(candidate), purpose, transfer);
        std::string problem = transfer.error;
        if (problem.empty() && !IsSuccessStatus(transfer.status)) problem = "status " + std::to_string(transfer.status);
        std::optional<Manifest> read;
        if (problem.empty()) {
            try {
                read = parse(transfer.text);
            } catch (const std::exception& error) {
                problem = error.what();
            }
        }
        if (problem.empty() && first && compose(*read) != compose(*first)) {
            problem = "clients on this address would install version " + WideToUtf8(read->version);
        }
        report << what << "  " << (problem.empty() ? "ok  " : "FAIL") << "  status " << transfer.status << "  size "
               << transfer.bytes << "  " << Seconds(transfer.seconds);
        EndLine(WideToUtf8(candidate), transfer, problem, report);
        tally.Count(problem.empty(), transfer);
        if (problem.empty() && !first) first = read;
    }
    if (!first) throw std::runtime_error(std::string(what) + ": no address serves it");
    return *first;
}

struct Expected {
    const char* what;
    const wchar_t* purpose;
    std::wstring url;
    std::string sha256;
    std::uint64_t size = 0;  // 0: the manifest names none
    bool needs_header = false;
    std::string version;  // the installer's, which the setups judge; empty for the database
};

// What the setups would refuse in the bytes a mirror served, with the
// temporary file's name taken out of the message; empty when they run it.
std::string JudgeServedInstaller(const CheckOptions& options, const Expected& expected, const std::string& path) {
    try {
        RefuseWhatSetupsRefuse(path, options.setups, expected.version);
        return {};
    } catch (const std::runtime_error& error) {
        std::string problem = error.what();
        const std::string named = '"' + path + '"';
        for (std::size_t found; (found = problem.find(named)) != std::string::npos;) {
            problem.replace(found, named.size(), "served here");
        }
        return problem;
    }
}

// One line for the file on one mirror; true when a client would accept it.
// judge: the installer on the first mirror, which every named setup judges.
void CheckMirror(const CheckOptions& options, const Expected& expected, const std::string& address, bool judge,
                 Tally& tally, std::ostream& report) {
    Transfer transfer;
    transfer.limit = expected.size;
    std::optional<TemporaryFile> kept;
    if (judge) {
        kept.emplace();
        transfer.sink = kept->descriptor;
    }
    Fetch(options, address, expected.purpose, transfer);
    const std::string sha256 = transfer.digest.HexDigest();

    std::string problem = transfer.error;
    if (problem.empty() && !IsSuccessStatus(transfer.status)) problem = "status " + std::to_string(transfer.status);
    if (problem.empty() && expected.size != 0 && transfer.bytes != expected.size) problem = "size differs";
    if (problem.empty() && sha256 != expected.sha256) problem = "sha256 " + sha256 + " differs";
    if (problem.empty() && expected.needs_header && transfer.head != SegmentFileMagic) {
        problem = "no segment database header";
    }
    if (problem.empty() && kept) problem = JudgeServedInstaller(options, expected, kept->path);

    report << expected.what << "  " << (problem.empty() ? "ok  " : "FAIL") << "  status " << transfer.status
           << "  size " << transfer.bytes;
    if (expected.size != 0) report << " of " << expected.size;
    report << "  sha256 " << (sha256 == expected.sha256 ? "matches" : "differs") << "  " << Seconds(transfer.seconds);
    EndLine(address, transfer, problem, report);
    tally.Count(problem.empty(), transfer);
}

}  // namespace

bool CheckRelease(const CheckOptions& options, std::ostream& report) {
    Tally tally;
    const InstallerManifest installer = LoadManifest<InstallerManifest>(
        options, "installer manifest", options.installer_manifest_file, options.installer_manifest_url,
        kManifestPurpose, ParseInstallerManifest, ComposeInstallerManifest, tally, report);
    const SegmentManifest segments = LoadManifest<SegmentManifest>(
        options, "segment manifest  ", options.segment_manifest_file, options.segment_manifest_url,
        kSegmentManifestPurpose, ParseSegmentManifest, ComposeSegmentManifest, tally, report);

    const Expected files[] = {
        {"installer         ", kPackagePurpose, installer.url, installer.sha256, installer.size, false,
         WideToUtf8(installer.version)},
        {"segment database  ", kSegmentDatabasePurpose, segments.url, segments.sha256, 0, true, {}},
    };
    for (const Expected& file : files) {
        const ParsedUrl url = ParseReleaseAddress(WideToUtf8(file.url));
        bool judge = !file.version.empty() && !options.setups.empty();
        for (const std::wstring& mirror : MirrorAddresses(url)) {
            CheckMirror(options, file, WideToUtf8(mirror), judge, tally, report);
            judge = false;
        }
    }
    if (tally.outside != 0) {
        report << tally.outside << " of " << tally.checked << " addresses redirect off the trusted domains\n";
    }
    if (tally.failed == 0) {
        report << "all " << tally.checked << " addresses serve the release\n";
    } else {
        report << tally.failed << " of " << tally.checked << " addresses would fail a client\n";
    }
    return tally.failed == 0;
}

}  // namespace quorvane::release
