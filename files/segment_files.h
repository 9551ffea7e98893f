#pragma once
// The segment database file (segments.qvrdb) and the local segment record
// (segment-manifest.json) in the product's data folder: acceptance of a
// download, the move into place, the record and the "is it current" decision.

#include <string>
#include <string_view>

#include "files/manifest.h"

namespace quorvane {

// The first 8 bytes of every segment database file; no terminator.
inline constexpr std::string_view SegmentFileMagic{"QVRDBE01", 8};

// The "version" of the local record, or empty when there is no record, it
// cannot be read or it has no quoted "version" key. Never fails.
std::wstring ReadLocalSegmentVersion();

// True when the file opens and its first 8 bytes are SegmentFileMagic.
bool HasSegmentHeader(const std::wstring& path);

// Checks the finished download at SegmentDownloadPath: digest first, then
// header. Raises the failure of the first check that fails.
void VerifySegmentDownload(const SegmentManifest& remote);

// Moves the download over SegmentDatabasePath in one step, then removes the
// CSV segment files. On failure the download is removed and the old database
// stays.
void InstallSegmentDatabase();

// Replaces the local record by one for remote, written beside it under a
// ".download" name and moved over it.
void WriteLocalSegmentManifest(const SegmentManifest& remote);

// Whether the installed database is the one to keep, so that nothing needs to
// be downloaded. Problems with the local record or database give false.
bool IsLocalSegmentCurrent(const std::wstring& local_version, const SegmentManifest& remote);

// -1, 0 or 1. Trimmed texts that are both whole signed decimal numbers (an
// empty text is 0; values beyond 64 bits saturate) compare by value; all
// others compare as text, ignoring the case of ASCII letters, so 1.10 < 1.9.
int CompareVersions(const std::wstring& a, const std::wstring& b);

struct UtcTime {
    unsigned year = 0;
    unsigned month = 0;
    unsigned day = 0;
    unsigned hour = 0;
    unsigned minute = 0;
    unsigned second = 0;
    unsigned millisecond = 0;
};

// "2026-03-01T08:05:09.042Z"
std::string FormatUtcTimestamp(const UtcTime& time);

// The nine-line record text, each line ending with a single line feed.
std::string ComposeLocalSegmentRecord(const SegmentManifest& manifest, const std::string& downloaded_at);

}  // namespace quorvane
