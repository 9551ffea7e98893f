#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <initializer_list>
#include <stdexcept>
#include <string>
#include <vector>

#include "files/manifest.h"

namespace quorvane {
namespace {

const std::string kDigest = "9f86d081884c7d659a2feaa0c55ad015a3bf4f1b2b0b822cd15d6c15b0f00a08";

std::string InstallerDocument(const std::string& version_member, const std::string& installer_members) {
    return "{" + version_member + ", \"full_installer\": {" + installer_members + "}}";
}

const std::string kInstallerMembers =
    "\"url\": \"https://files.quorvane.com/app/QuorvaneSetup-2.4.1.exe\", \"sha256\": \"" + kDigest +
    "\", \"size\": 52428800";

std::string SegmentDocument(const std::vector<std::string>& members) {
    std::string document = "{";
    for (const std::string& member : members) {
        if (document.size() > 1) document += ", ";
        document += member;
    }
    return document + "}";
}

const std::string kSegmentVersion = "\"version\": \"20260301\"";
const std::string kSegmentUrl = "\"url\": \"https://files.quorvane.com/segments/v2/segments.qvrdb\"";
const std::string kSegmentFormat = "\"format\": \"quorvane-segment-qvrdb-v1\"";
const std::string kSegmentSchema = "\"schema_version\": 1";
const std::string kSegmentRows = "\"rows\": 512000";
const std::string kSegmentSha256 = "\"sha256\": \"" + kDigest + "\"";

std::string SegmentDocumentWith(const std::string& replaced, const std::string& replacement) {
    std::vector<std::string> members = {kSegmentVersion, kSegmentUrl,  kSegmentFormat,
                                        kSegmentSchema,  kSegmentRows, kSegmentSha256};
    for (std::string& member : members) {
        if (member == replaced) member = replacement;
    }
    return SegmentDocument(members);
}

template <typename Parse>
std::string FailureOf(Parse parse, const std::string& document) {
    try {
        parse(document);
    } catch (const std::runtime_error& failure) {
        return failure.what();
    }
    return "(no failure)";
}

std::string InstallerFailure(const std::string& document) { return FailureOf(ParseInstallerManifest, document); }
std::string SegmentFailure(const std::string& document) { return FailureOf(ParseSegmentManifest, document); }

// --- the scanner ---

TEST(ManifestScanner, MembersOnOneLineOrSpreadOverLinesReadTheSame) {
    const std::string one_line = "{\"version\":\"2.4.1\",\"full_installer\":{\"url\":\"https://a.quorvane.com/x.exe\","
                                 "\"sha256\":\"" + kDigest + "\",\"size\":7}}";
    const std::string spread = "{\r\n\t\"version\"  \n :\n\t \"2.4.1\" ,\n \"full_installer\" :\v{\f\n"
                               "   \"url\"\t:\r\n\"https://a.quorvane.com/x.exe\",\n   \"sha256\":   \"" + kDigest +
                               "\",\n   \"size\" :\n\n 7\n }\n}\n";
    const InstallerManifest compact = ParseInstallerManifest(one_line);
    const InstallerManifest airy = ParseInstallerManifest(spread);
    EXPECT_EQ(compact.version, L"2.4.1");
    EXPECT_EQ(airy.version, compact.version);
    EXPECT_EQ(airy.url, compact.url);
    EXPECT_EQ(airy.sha256, compact.sha256);
    EXPECT_EQ(airy.size, 7u);
}

TEST(ManifestScanner, KeyIsFoundInsideAnotherObject) {
    std::string value;
    ASSERT_TRUE(ReadStringField("{\"meta\": {\"version\": \"inner\"}, \"version\": \"outer\"}", 0, "version", value));
    EXPECT_EQ(value, "inner");
}

TEST(ManifestScanner, KeyIsFoundInsideAStringValue) {
    // The value "version" of "note" is the quoted key; the next colon is the one of "size".
    const std::string document = "{\"note\": \"version\", \"size\": 5}";
    std::string text_value = "unchanged";
    EXPECT_FALSE(ReadStringField(document, 0, "version", text_value));
    EXPECT_EQ(text_value, "unchanged");
    std::uint64_t number = 0;
    ASSERT_TRUE(ReadUnsignedField(document, 0, "version", number));
    EXPECT_EQ(number, 5u);
}

TEST(ManifestScanner, SearchStartsAtTheGivenOffset) {
    const std::string document = "{\"url\": \"first\", \"url\": \"second\"}";
    std::string value;
    ASSERT_TRUE(ReadStringField(document, 2, "url", value));
    EXPECT_EQ(value, "second");
}

TEST(ManifestScanner, KeyMatchIsExactAndCaseSensitive) {
    std::string value;
    EXPECT_FALSE(ReadStringField("{\"Version\": \"1\"}", 0, "version", value));
    EXPECT_FALSE(ReadStringField("{\"versions\": \"1\"}", 0, "version", value));
    EXPECT_FALSE(ReadStringField("{\"version\" \"1\"}", 0, "version", value)) << "no colon after the key";
    EXPECT_FALSE(ReadStringField("{\"version\":   ", 0, "version", value)) << "nothing after the colon";
    ASSERT_TRUE(ReadStringField("{\"version\" junk = : \"1\"}", 0, "version", value))
        << "text between the key and the colon is skipped unseen";
    EXPECT_EQ(value, "1");
}

TEST(ManifestScanner, EscapesFollowTheScannerRules) {
    std::string value;
    ASSERT_TRUE(ReadStringField(R"({"v": "a\nb\"c\\d\/e\u00e9\bf\tg\rh"})", 0, "v", value));
    EXPECT_EQ(value, "a\nb\"c\\d/eu00e9bf\tg\rh");
}

TEST(ManifestScanner, EmptyStringIsFoundAndEmpty) {
    std::string value = "previous";
    ASSERT_TRUE(ReadStringField("{\"v\": \"\"}", 0, "v", value));
    EXPECT_EQ(value, "");
}

TEST(ManifestScanner, UnterminatedValueIsNotFoundAndLeavesOutputAlone) {
    for (const std::string& document : {std::string("{\"v\": \"1.0"), std::string("{\"v\": \"1.0\\\""),
                                       std::string("{\"v\": \"1.0\\")}) {
        std::string value = "previous";
        EXPECT_FALSE(ReadStringField(document, 0, "v", value)) << document;
        EXPECT_EQ(value, "previous") << document;
    }
}

TEST(ManifestScanner, ValuesThatAreNotStringsAreNotStrings) {
    for (const std::string value_text : {"12", "true", "null", "{\"a\": \"b\"}", "[\"x\"]"}) {
        std::string value;
        EXPECT_FALSE(ReadStringField("{\"v\": " + value_text + "}", 0, "v", value)) << value_text;
    }
}

TEST(ManifestScanner, UnsignedReadsTheLeadingDigitRun) {
    const struct {
        const char* value_text;
        std::uint64_t expected;
    } cases[] = {{"0", 0},       {"007", 7},     {"12.5", 12},  {"7e3", 7},
                 {"42,", 42},    {"\n\t 9 ", 9}, {"000000000000000000000000000001", 1},
                 {"18446744073709551615", 18446744073709551615u}};
    for (const auto& entry : cases) {
        std::uint64_t value = 99;
        ASSERT_TRUE(ReadUnsignedField(std::string("{\"n\": ") + entry.value_text + "}", 0, "n", value))
            << entry.value_text;
        EXPECT_EQ(value, entry.expected) << entry.value_text;
    }
}

TEST(ManifestScanner, UnsignedWithoutLeadingDigitIsNotFound) {
    for (const std::string value_text : {"\"5\"", "-5", "+5", "x5", ".5", "true", ""}) {
        std::uint64_t value = 99;
        EXPECT_FALSE(ReadUnsignedField("{\"n\": " + value_text + "}", 0, "n", value)) << value_text;
        EXPECT_EQ(value, 99u) << value_text;
    }
}

TEST(ManifestScanner, UnsignedBeyondSixtyFourBitsRaisesOutOfRange) {
    for (const std::string value_text : {"99999999999999999999", "18446744073709551616"}) {
        std::uint64_t value = 99;
        try {
            ReadUnsignedField("{\"n\": " + value_text + "}", 0, "n", value);
            ADD_FAILURE() << value_text << " was read as " << value;
        } catch (const std::out_of_range& failure) {
            EXPECT_STREQ(failure.what(), "stoull");
        }
        EXPECT_EQ(value, 99u);
    }
}

TEST(ManifestScanner, Sha256HexIsSixtyFourHexDigitsOfEitherCase) {
    EXPECT_TRUE(IsSha256Hex(kDigest));
    EXPECT_TRUE(IsSha256Hex(std::string(32, 'A') + std::string(32, 'f')));
    EXPECT_FALSE(IsSha256Hex(kDigest.substr(1)));
    EXPECT_FALSE(IsSha256Hex(kDigest + "0"));
    EXPECT_FALSE(IsSha256Hex(kDigest.substr(1) + "g"));
    EXPECT_FALSE(IsSha256Hex(""));
}

// --- the installer manifest ---

TEST(InstallerManifestReading, ReadsAllFourFields) {
    const InstallerManifest manifest =
        ParseInstallerManifest(InstallerDocument("\"version\": \"2.4.1 测试版\"", kInstallerMembers));
    EXPECT_EQ(manifest.version, L"2.4.1 测试版");
    EXPECT_EQ(manifest.url, L"https://files.quorvane.com/app/QuorvaneSetup-2.4.1.exe");
    EXPECT_EQ(manifest.sha256, kDigest);
    EXPECT_EQ(manifest.size, 52428800u);
}

TEST(InstallerManifestReading, EachFailureHasItsMessageInOrder) {
    const std::string version = "\"version\": \"2.4.1\"";
    const std::string url = "\"url\": \"https://files.quorvane.com/a.exe\"";
    const std::string sha256 = "\"sha256\": \"" + kDigest + "\"";
    const std::string size = "\"size\": 10";
    const auto members = [](std::initializer_list<std::string> parts) {
        std::string joined;
        for (const std::string& part : parts) joined += (joined.empty() ? "" : ", ") + part;
        return joined;
    };
    const struct {
        std::string document;
        const char* message;
    } cases[] = {
        {"{" + version + ", \"installer\": {" + members({url, sha256, size}) + "}}", "manifest 缺少 full_installer 字段"},
        {InstallerDocument("\"name\": \"x\"", members({url, sha256, size})), "manifest 缺少 version 字段"},
        {InstallerDocument("\"version\": \"\"", members({url, sha256, size})), "manifest 缺少 version 字段"},
        // The texts are read up to their first zero byte: one at the start leaves nothing.
        {InstallerDocument(std::string("\"version\": \"") + '\0' + "2.4.1\"", members({url, sha256, size})),
         "manifest 缺少 version 字段"},
        {InstallerDocument(version, members({sha256, size})), "manifest 缺少安装包 url 字段"},
        {InstallerDocument(version, members({"\"url\": \"\"", sha256, size})), "manifest 缺少安装包 url 字段"},
        {InstallerDocument(version, members({std::string("\"url\": \"\\") + '\0' + "https://a\"", sha256, size})),
         "manifest 缺少安装包 url 字段"},
        {InstallerDocument(version, members({url, size})), "manifest 安装包 sha256 字段无效"},
        {InstallerDocument(version, members({url, "\"sha256\": \"" + kDigest.substr(1) + "\"", size})),
         "manifest 安装包 sha256 字段无效"},
        {InstallerDocument(version, members({url, "\"sha256\": \"" + kDigest + "a\"", size})),
         "manifest 安装包 sha256 字段无效"},
        {InstallerDocument(version, members({url, "\"sha256\": \"" + kDigest.substr(1) + "z\"", size})),
         "manifest 安装包 sha256 字段无效"},
        {InstallerDocument(version, members({url, sha256})), "manifest 缺少安装包 size 字段"},
        {InstallerDocument(version, members({url, sha256, "\"size\": 0"})), "manifest 缺少安装包 size 字段"},
        {InstallerDocument(version, members({url, sha256, "\"size\": \"10\""})), "manifest 缺少安装包 size 字段"},
        {InstallerDocument(version, members({url, sha256, "\"size\": -10"})), "manifest 缺少安装包 size 字段"},
    };
    for (const auto& entry : cases) {
        EXPECT_EQ(InstallerFailure(entry.document), entry.message) << entry.document;
    }
}

TEST(InstallerManifestReading, MissingFullInstallerIsReportedBeforeEverythingElse) {
    EXPECT_EQ(InstallerFailure("{}"), "manifest 缺少 full_installer 字段");
    EXPECT_EQ(InstallerFailure(""), "manifest 缺少 full_installer 字段");
    EXPECT_EQ(InstallerFailure("{\"full_installer\": {}}"), "manifest 缺少 version 字段");
    EXPECT_EQ(InstallerFailure("{\"version\": \"1\", \"full_installer\": {\"size\": 0}}"),
              "manifest 缺少安装包 url 字段");
}

TEST(InstallerManifestReading, UrlBeforeFullInstallerIsIgnored) {
    const std::string document = "{\"url\": \"https://wrong.quorvane.com/a.exe\", \"version\": \"1\", "
                                 "\"full_installer\": {" + kInstallerMembers + "}}";
    EXPECT_EQ(ParseInstallerManifest(document).url, L"https://files.quorvane.com/app/QuorvaneSetup-2.4.1.exe");
    const std::string only_before = "{\"url\": \"https://wrong.quorvane.com/a.exe\", \"version\": \"1\", "
                                    "\"full_installer\": {\"sha256\": \"" + kDigest + "\", \"size\": 3}}";
    EXPECT_EQ(InstallerFailure(only_before), "manifest 缺少安装包 url 字段");
}

TEST(InstallerManifestReading, FirstVersionKeyAnywhereIsUsed) {
    const std::string document = "{\"full_installer\": {\"version\": \"inner\", " + kInstallerMembers +
                                 "}, \"version\": \"outer\"}";
    EXPECT_EQ(ParseInstallerManifest(document).version, L"inner");
}

TEST(InstallerManifestReading, CapitalDigestIsAcceptedAndStoredInLowerCase) {
    std::string capital = kDigest;
    for (char& character : capital) character = static_cast<char>(std::toupper(static_cast<unsigned char>(character)));
    const std::string document = InstallerDocument(
        "\"version\": \"1\"", "\"url\": \"https://a.quorvane.com/x\", \"sha256\": \"" + capital + "\", \"size\": 1");
    EXPECT_EQ(ParseInstallerManifest(document).sha256, kDigest);
}

TEST(InstallerManifestReading, SizeOfTwentyNinesRaisesOutOfRange) {
    const std::string document = InstallerDocument(
        "\"version\": \"1\"",
        "\"url\": \"https://a.quorvane.com/x\", \"sha256\": \"" + kDigest + "\", \"size\": 99999999999999999999");
    EXPECT_THROW(ParseInstallerManifest(document), std::out_of_range);
}

// --- the segment manifest ---

TEST(SegmentManifestReading, ReadsAllSixFields) {
    const SegmentManifest manifest = ParseSegmentManifest(SegmentDocumentWith("", ""));
    EXPECT_EQ(manifest.version, L"20260301");
    EXPECT_EQ(manifest.url, L"https://files.quorvane.com/segments/v2/segments.qvrdb");
    EXPECT_EQ(manifest.format, "quorvane-segment-qvrdb-v1");
    EXPECT_EQ(manifest.sha256, kDigest);
    EXPECT_EQ(manifest.schema_version, 1u);
    EXPECT_EQ(manifest.rows, 512000u);
}

TEST(SegmentManifestReading, EachFailureHasItsMessage) {
    const struct {
        std::string replaced;
        std::string replacement;
        const char* message;
    } cases[] = {
        {kSegmentVersion, "\"name\": \"x\"", "号段版本文件缺少 version 字段"},
        {kSegmentVersion, "\"version\": \"\"", "号段版本文件缺少 version 字段"},
        {kSegmentVersion, std::string("\"version\": \"") + '\0' + "1\"", "号段版本文件缺少 version 字段"},
        {kSegmentVersion, "\"version\": 20260301", "号段版本文件缺少 version 字段"},
        {kSegmentUrl, "\"address\": \"x\"", "号段版本文件缺少 url 字段"},
        {kSegmentUrl, "\"url\": \"\"", "号段版本文件缺少 url 字段"},
        {kSegmentUrl, std::string("\"url\": \"") + '\0' + "https://a\"", "号段版本文件缺少 url 字段"},
        {kSegmentFormat, "\"kind\": \"quorvane-segment-qvrdb-v1\"", "号段数据库格式不受支持"},
        {kSegmentFormat, "\"format\": \"quorvane-segment-qvrdb-v2\"", "号段数据库格式不受支持"},
        {kSegmentFormat, "\"format\": \"Quorvane-Segment-QVRDB-v1\"", "号段数据库格式不受支持"},
        {kSegmentSchema, "\"schema\": 1", "号段数据库结构版本不受支持"},
        {kSegmentSchema, "\"schema_version\": 2", "号段数据库结构版本不受支持"},
        {kSegmentSchema, "\"schema_version\": \"1\"", "号段数据库结构版本不受支持"},
        {kSegmentRows, "\"count\": 5", "号段版本文件缺少 rows 字段"},
        {kSegmentRows, "\"rows\": 0", "号段版本文件缺少 rows 字段"},
        {kSegmentSha256, "\"digest\": \"" + kDigest + "\"", "号段版本文件 sha256 字段无效"},
        {kSegmentSha256, "\"sha256\": \"" + kDigest.substr(2) + "\"", "号段版本文件 sha256 字段无效"},
    };
    for (const auto& entry : cases) {
        const std::string document = SegmentDocumentWith(entry.replaced, entry.replacement);
        EXPECT_EQ(SegmentFailure(document), entry.message) << document;
    }
}

TEST(SegmentManifestReading, FirstFailureInFieldOrderWins) {
    EXPECT_EQ(SegmentFailure("{}"), "号段版本文件缺少 version 字段");
    EXPECT_EQ(SegmentFailure(SegmentDocument({kSegmentVersion})), "号段版本文件缺少 url 字段");
    EXPECT_EQ(SegmentFailure(SegmentDocument({kSegmentVersion, kSegmentUrl})), "号段数据库格式不受支持");
    EXPECT_EQ(SegmentFailure(SegmentDocument({kSegmentVersion, kSegmentUrl, kSegmentFormat})),
              "号段数据库结构版本不受支持");
    EXPECT_EQ(SegmentFailure(SegmentDocument({kSegmentVersion, kSegmentUrl, kSegmentFormat, kSegmentSchema})),
              "号段版本文件缺少 rows 字段");
    EXPECT_EQ(SegmentFailure(
                  SegmentDocument({kSegmentVersion, kSegmentUrl, kSegmentFormat, kSegmentSchema, kSegmentRows})),
              "号段版本文件 sha256 字段无效");
}

TEST(SegmentManifestReading, SchemaVersionOneAndAHalfReadsAsOne) {
    EXPECT_EQ(ParseSegmentManifest(SegmentDocumentWith(kSegmentSchema, "\"schema_version\": 1.5")).schema_version, 1u);
}

TEST(SegmentManifestReading, CapitalDigestIsStoredInLowerCase) {
    std::string capital = kDigest;
    for (char& character : capital) character = static_cast<char>(std::toupper(static_cast<unsigned char>(character)));
    EXPECT_EQ(ParseSegmentManifest(SegmentDocumentWith(kSegmentSha256, "\"sha256\": \"" + capital + "\"")).sha256,
              kDigest);
}

TEST(SegmentManifestReading, OtherMembersAreIgnored) {
    const SegmentManifest manifest =
        ParseSegmentManifest(SegmentDocumentWith(kSegmentRows, kSegmentRows + ", \"downloaded_at\": \"2026\""));
    EXPECT_EQ(manifest.rows, 512000u);
}

}  // namespace
}  // namespace quorvane
