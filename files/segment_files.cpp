#include "files/segment_files.h"

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <stdexcept>

#include "files/digest.h"
#include "files/layout.h"
#include "files/error_text.h"
#include "files/text.h"

namespace quorvane {
namespace {

namespace fs = std::filesystem;

// Replaces the target in one step and returns only after the move reached the disk.
constexpr DWORD kReplaceFlags = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;

// The whole file, or nothing when it cannot be opened.
std::optional<std::string> ReadWholeFile(const std::wstring& path) {
    std::ifstream file(fs::path(path), std::ios::binary);
    if (!file.is_open()) return std::nullopt;
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

UtcTime CurrentUtcTime() {
    SYSTEMTIME now = {};
    GetSystemTime(&now);
    return {now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds};
}

// The removal between the failed move and the message must not replace the
// move's error code.
template <typename RemoveFile>
[[noreturn]] void RemoveAndThrowWithErrorCode(RemoveFile remove_file, const wchar_t* text) {
    const DWORD code = GetLastError();
    remove_file();
    SetLastError(code);
    ThrowWithErrorCode(text);
}

bool MatchesDatabase(const std::string& record, const SegmentManifest& remote) {
    const SegmentManifest local = ParseSegmentManifest(record);
    const int order = CompareVersions(local.version, remote.version);
    const std::wstring database = SegmentDatabasePath();
    if (!HasSegmentHeader(database)) return false;
    // Same release: the server's digest. A newer local release: its own.
    const std::string& expected = order == 0 ? remote.sha256 : local.sha256;
    return Sha256OfFile(database) == expected;
}

}  // namespace

std::wstring ReadLocalSegmentVersion() {
    const std::optional<std::string> record = ReadWholeFile(LocalSegmentManifestPath());
    std::string version;
    if (!record || !ReadStringField(*record, 0, "version", version)) return {};
    return Utf8ToWide(version);
}

bool HasSegmentHeader(const std::wstring& path) {
    std::ifstream file(fs::path(path), std::ios::binary);
    if (!file.is_open()) return false;
    char header[SegmentFileMagic.size()] = {};
    file.read(header, static_cast<std::streamsize>(sizeof header));
    return file.gcount() == static_cast<std::streamsize>(sizeof header) &&
           std::string_view(header, sizeof header) == SegmentFileMagic;
}

void VerifySegmentDownload(const SegmentManifest& remote) {
    const std::wstring download = SegmentDownloadPath();
    if (Sha256OfFile(download) != remote.sha256) throw std::runtime_error("号段库 SHA-256 校验失败");
    if (!HasSegmentHeader(download)) throw std::runtime_error("号段数据库文件头无效");
}

void InstallSegmentDatabase() {
    const std::wstring download = SegmentDownloadPath();
    if (!MoveFileExW(download.c_str(), SegmentDatabasePath().c_str(), kReplaceFlags)) {
        RemoveAndThrowWithErrorCode([&] { RemoveQuietly(download); }, L"安装本地号段库失败");
    }
    RemoveQuietly(SegmentCsvPath());
    RemoveQuietly(SegmentCsvDownloadPath());
}

void WriteLocalSegmentManifest(const SegmentManifest& remote) {
    const std::string record = ComposeLocalSegmentRecord(remote, FormatUtcTimestamp(CurrentUtcTime()));
    const std::wstring temporary = LocalSegmentManifestDownloadPath();
    {
        std::ofstream file(fs::path(temporary), std::ios::binary | std::ios::trunc);
        if (!file.is_open()) throw std::runtime_error("无法写入本地号段版本文件");
        file.write(record.data(), static_cast<std::streamsize>(record.size()));
        // Flushed before the check: a full disk shows only when the bytes
        // leave the stream's buffer, and an unchecked close would let an
        // empty record replace the old one.
        file.flush();
        if (!file) throw std::runtime_error("保存本地号段版本文件失败");
    }
    if (!MoveFileExW(temporary.c_str(), LocalSegmentManifestPath().c_str(), kReplaceFlags)) {
        // Unlike elsewhere, a failure to remove the temporary record is reported
        // (as the file system's own error) instead of the failed move.
        RemoveAndThrowWithErrorCode([&] { fs::remove(fs::path(temporary)); }, L"替换本地号段版本文件失败");
    }
}

bool IsLocalSegmentCurrent(const std::wstring& local_version, const SegmentManifest& remote) {
    if (local_version.empty()) return false;
    if (CompareVersions(local_version, remote.version) < 0) return false;
    // Absence gives false; any other error while asking ends the run.
    if (!fs::is_regular_file(fs::path(SegmentDatabasePath()))) return false;
    if (!fs::is_regular_file(fs::path(LocalSegmentManifestPath()))) return false;
    const std::optional<std::string> record = ReadWholeFile(LocalSegmentManifestPath());
    if (!record) return false;
    try {
        return MatchesDatabase(*record, remote);
    } catch (...) {
        // An unreadable, invalid or mismatching record or database only means
        // that the database is downloaded again.
        return false;
    }
}

}  // namespace quorvane
