#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <regex>
#include <stdexcept>
#include <string>

#include "files/digest.h"
#include "files/manifest.h"
#include "files/segment_files.h"
#include "tests/support/sandbox.h"

namespace quorvane {
namespace {

using testing::ReadFile;
using testing::Sandbox;
using testing::WriteFile;
namespace fs = std::filesystem;

const std::string kDatabaseBytes = std::string("QVRDBE01") + "\x00\x01\x02 the product's rows";
const std::string kOtherDigest = std::string(64, 'e');

// Holds a file open without FILE_SHARE_DELETE, so that no move can replace it.
class LockedFile {
public:
    explicit LockedFile(const fs::path& path)
        : handle_(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr)) {
        if (handle_ == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot open the file to lock it");
    }
    ~LockedFile() { CloseHandle(handle_); }
    LockedFile(const LockedFile&) = delete;
    LockedFile& operator=(const LockedFile&) = delete;

private:
    HANDLE handle_;
};

SegmentManifest Manifest(const std::wstring& version, const std::string& sha256) {
    SegmentManifest manifest;
    manifest.version = version;
    manifest.url = L"https://files.quorvane.com/segments/v2/segments.qvrdb";
    manifest.format = kSegmentManifestFormat;
    manifest.sha256 = sha256;
    manifest.schema_version = 1;
    manifest.rows = 512000;
    return manifest;
}

std::string FailureOf(void (*operation)()) {
    try {
        operation();
    } catch (const std::exception& failure) {
        return failure.what();
    }
    return "(no failure)";
}

bool StartsWith(const std::string& text, const std::string& head) { return text.rfind(head, 0) == 0; }

class SegmentFiles : public ::testing::Test {
protected:
    fs::path data() const { return sandbox_.data_folder(); }
    fs::path database() const { return data() / L"segments.qvrdb"; }
    fs::path download() const { return data() / L"segments.download.qvrdb"; }
    fs::path record() const { return data() / L"segment-manifest.json"; }
    fs::path temporary_record() const { return data() / L"segment-manifest.json.download"; }

    std::string DigestOf(const fs::path& path) const { return Sha256OfFile(path.wstring()); }
    void WriteRecord(const SegmentManifest& manifest) const {
        WriteFile(record(), ComposeLocalSegmentRecord(manifest, "2026-03-01T08:05:09.042Z"));
    }

private:
    Sandbox sandbox_;
};

// --- header and acceptance of a download ---

TEST_F(SegmentFiles, HeaderIsTheEightMagicBytes) {
    WriteFile(database(), "QVRDBE01");
    EXPECT_TRUE(HasSegmentHeader(database().wstring()));
    WriteFile(database(), kDatabaseBytes);
    EXPECT_TRUE(HasSegmentHeader(database().wstring()));
    WriteFile(database(), "QVRDBE0");
    EXPECT_FALSE(HasSegmentHeader(database().wstring())) << "a 7-byte file has no header";
    WriteFile(database(), "qvrdbe01 rows");
    EXPECT_FALSE(HasSegmentHeader(database().wstring())) << "the header is case-sensitive";
    EXPECT_FALSE(HasSegmentHeader((data() / L"absent.qvrdb").wstring()));
}

TEST_F(SegmentFiles, DownloadIsCheckedByDigestBeforeHeader) {
    WriteFile(download(), "no header at all");
    try {
        VerifySegmentDownload(Manifest(L"1", kOtherDigest));
        FAIL() << "a download with the wrong digest was accepted";
    } catch (const std::runtime_error& failure) {
        EXPECT_STREQ(failure.what(), "号段库 SHA-256 校验失败");
    }
    try {
        VerifySegmentDownload(Manifest(L"1", DigestOf(download())));
        FAIL() << "a download without the header was accepted";
    } catch (const std::runtime_error& failure) {
        EXPECT_STREQ(failure.what(), "号段数据库文件头无效");
    }
    WriteFile(download(), kDatabaseBytes);
    EXPECT_NO_THROW(VerifySegmentDownload(Manifest(L"1", DigestOf(download()))));
}

// --- the move into place ---

TEST_F(SegmentFiles, InstallReplacesTheDatabaseAndRemovesTheCsvFiles) {
    WriteFile(database(), "QVRDBE01 old");
    WriteFile(download(), kDatabaseBytes);
    WriteFile(data() / L"segments.csv", "old csv");
    WriteFile(data() / L"segments.download.csv", "partial csv");

    InstallSegmentDatabase();

    EXPECT_EQ(ReadFile(database()), kDatabaseBytes);
    EXPECT_FALSE(fs::exists(download()));
    EXPECT_FALSE(fs::exists(data() / L"segments.csv"));
    EXPECT_FALSE(fs::exists(data() / L"segments.download.csv"));
}

TEST_F(SegmentFiles, InstallOntoALockedDatabaseFailsWithCodeAndKeepsTheOldOne) {
    WriteFile(database(), "QVRDBE01 old");
    WriteFile(download(), kDatabaseBytes);
    WriteFile(data() / L"segments.csv", "old csv");
    std::string message;
    {
        const LockedFile lock(database());
        message = FailureOf(InstallSegmentDatabase);
    }
    EXPECT_TRUE(StartsWith(message, "安装本地号段库失败（错误码 ")) << message;
    EXPECT_FALSE(StartsWith(message, "安装本地号段库失败（错误码 0）")) << "the move's error code was lost: " << message;
    EXPECT_FALSE(fs::exists(download())) << "the download must be removed";
    EXPECT_EQ(ReadFile(database()), "QVRDBE01 old");
    EXPECT_TRUE(fs::exists(data() / L"segments.csv")) << "nothing else is touched after a failed move";
}

// --- the local record ---

TEST_F(SegmentFiles, RecordReadsBackTheSameThroughTheScanner) {
    WriteFile(record(), "an older record");
    const SegmentManifest written = Manifest(L"2026 \"测试\" C:\\版", kOtherDigest);

    const auto now = [] {
        SYSTEMTIME time = {};
        GetSystemTime(&time);
        return FormatUtcTimestamp(
            {time.wYear, time.wMonth, time.wDay, time.wHour, time.wMinute, time.wSecond, time.wMilliseconds});
    };
    const std::string before = now();
    WriteLocalSegmentManifest(written);
    const std::string after = now();

    const std::string text = ReadFile(record());
    EXPECT_FALSE(fs::exists(temporary_record()));
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 9) << text;
    EXPECT_EQ(text.find('\r'), std::string::npos) << "the record has a carriage return";
    ASSERT_GE(text.size(), 2u);
    EXPECT_EQ(text.substr(text.size() - 2), "}\n");
    std::smatch stamp;
    ASSERT_TRUE(std::regex_search(
        text, stamp, std::regex("\n  \"downloaded_at\": \"(\\d{4}-\\d{2}-\\d{2}T\\d{2}:\\d{2}:\\d{2}\\.\\d{3}Z)\"\n\\}\n$")))
        << text;
    // The same fixed-width form orders as the times do.
    EXPECT_LE(before, stamp[1].str()) << "the record is not stamped with the time of writing";
    EXPECT_LE(stamp[1].str(), after);

    const SegmentManifest read = ParseSegmentManifest(text);
    EXPECT_EQ(read.version, written.version);
    EXPECT_EQ(read.url, written.url);
    EXPECT_EQ(read.format, written.format);
    EXPECT_EQ(read.sha256, written.sha256);
    EXPECT_EQ(read.schema_version, 1u);
    EXPECT_EQ(read.rows, 512000u);
    EXPECT_EQ(ReadLocalSegmentVersion(), written.version);
}

TEST_F(SegmentFiles, RecordThatCannotBeOpenedForWriting) {
    fs::create_directories(temporary_record());  // a folder where the temporary record belongs
    try {
        WriteLocalSegmentManifest(Manifest(L"1", kOtherDigest));
        FAIL() << "the record was written";
    } catch (const std::runtime_error& failure) {
        EXPECT_STREQ(failure.what(), "无法写入本地号段版本文件");
    }
}

TEST_F(SegmentFiles, LockedRecordIsNotReplacedAndTheTemporaryOneIsRemoved) {
    WriteFile(record(), "the old record");
    std::string message;
    {
        const LockedFile lock(record());
        try {
            WriteLocalSegmentManifest(Manifest(L"1", kOtherDigest));
        } catch (const std::exception& failure) {
            message = failure.what();
        }
    }
    EXPECT_TRUE(StartsWith(message, "替换本地号段版本文件失败（错误码 ")) << message;
    EXPECT_FALSE(fs::exists(temporary_record()));
    EXPECT_EQ(ReadFile(record()), "the old record");
}

TEST_F(SegmentFiles, LocalVersionIsEmptyWithoutAReadableVersion) {
    EXPECT_EQ(ReadLocalSegmentVersion(), L"") << "no record";
    WriteFile(record(), "");
    EXPECT_EQ(ReadLocalSegmentVersion(), L"") << "empty record";
    WriteFile(record(), "{\"Version\": \"3\", \"version\": 3}");
    EXPECT_EQ(ReadLocalSegmentVersion(), L"") << "no quoted string version";
    WriteFile(record(), "{\"version\": \"3.1 号段\", \"format\": \"anything\"}");
    EXPECT_EQ(ReadLocalSegmentVersion(), L"3.1 号段") << "no other validation";
}

// --- is the installed database current? ---

TEST_F(SegmentFiles, NoRecordMeansNotCurrent) {
    WriteFile(database(), kDatabaseBytes);
    const SegmentManifest remote = Manifest(L"101", DigestOf(database()));
    EXPECT_FALSE(IsLocalSegmentCurrent(ReadLocalSegmentVersion(), remote));
    EXPECT_FALSE(IsLocalSegmentCurrent(L"101", remote)) << "a version without a record file";
}

TEST_F(SegmentFiles, RecordWithoutVersionMeansNotCurrent) {
    WriteFile(database(), kDatabaseBytes);
    WriteFile(record(), "{\"format\": \"quorvane-segment-qvrdb-v1\", \"sha256\": \"" + DigestOf(database()) + "\"}");
    EXPECT_FALSE(IsLocalSegmentCurrent(ReadLocalSegmentVersion(), Manifest(L"101", DigestOf(database()))));
}

TEST_F(SegmentFiles, SameReleaseIsCurrentOnlyWithTheServersDigest) {
    WriteFile(database(), kDatabaseBytes);
    WriteRecord(Manifest(L"101", DigestOf(database())));
    EXPECT_TRUE(IsLocalSegmentCurrent(ReadLocalSegmentVersion(), Manifest(L"101", DigestOf(database()))));
    EXPECT_FALSE(IsLocalSegmentCurrent(ReadLocalSegmentVersion(), Manifest(L"101", kOtherDigest)))
        << "the record's own digest must not decide for the same release";
}

TEST_F(SegmentFiles, NewerLocalReleaseIsCurrentWithItsOwnDigest) {
    WriteFile(database(), kDatabaseBytes);
    WriteRecord(Manifest(L"102", DigestOf(database())));
    EXPECT_TRUE(IsLocalSegmentCurrent(ReadLocalSegmentVersion(), Manifest(L"101", kOtherDigest)));

    WriteRecord(Manifest(L"102", kOtherDigest));
    EXPECT_FALSE(IsLocalSegmentCurrent(ReadLocalSegmentVersion(), Manifest(L"101", DigestOf(database()))))
        << "the server's digest must not decide for a newer local release";
}

TEST_F(SegmentFiles, CaseOnlyDifferenceIsTheSameRelease) {
    WriteFile(database(), kDatabaseBytes);
    WriteRecord(Manifest(L"BETA", kOtherDigest));
    EXPECT_TRUE(IsLocalSegmentCurrent(ReadLocalSegmentVersion(), Manifest(L"beta", DigestOf(database()))));
}

TEST_F(SegmentFiles, OlderLocalReleaseIsNotCurrent) {
    WriteFile(database(), kDatabaseBytes);
    WriteRecord(Manifest(L"1.10", DigestOf(database())));
    EXPECT_FALSE(IsLocalSegmentCurrent(ReadLocalSegmentVersion(), Manifest(L"1.9", DigestOf(database()))));
}

TEST_F(SegmentFiles, WrongHeaderIsNotCurrent) {
    WriteFile(database(), "qvrdbe01 rows");
    WriteRecord(Manifest(L"101", DigestOf(database())));
    EXPECT_FALSE(IsLocalSegmentCurrent(ReadLocalSegmentVersion(), Manifest(L"101", DigestOf(database()))));
}

TEST_F(SegmentFiles, RecordWithAnotherFormatIsNotCurrent) {
    WriteFile(database(), kDatabaseBytes);
    SegmentManifest local = Manifest(L"101", DigestOf(database()));
    local.format = "quorvane-segment-qvrdb-V1";
    WriteRecord(local);
    EXPECT_EQ(ReadLocalSegmentVersion(), L"101");
    EXPECT_FALSE(IsLocalSegmentCurrent(ReadLocalSegmentVersion(), Manifest(L"101", DigestOf(database()))));
}

TEST_F(SegmentFiles, MissingDatabaseIsNotCurrent) {
    WriteFile(download(), kDatabaseBytes);
    WriteRecord(Manifest(L"101", DigestOf(download())));
    EXPECT_FALSE(IsLocalSegmentCurrent(ReadLocalSegmentVersion(), Manifest(L"101", DigestOf(download()))));
}

}  // namespace
}  // namespace quorvane
