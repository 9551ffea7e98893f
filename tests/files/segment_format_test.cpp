#include <gtest/gtest.h>

#include <string>

#include "files/manifest.h"
#include "files/segment_files.h"

namespace quorvane {
namespace {

// --- the local record's text ---

TEST(LocalSegmentRecord, TimestampHasMillisecondsAndZ) {
    EXPECT_EQ(FormatUtcTimestamp({2026, 3, 1, 8, 5, 9, 42}), "2026-03-01T08:05:09.042Z");
    EXPECT_EQ(FormatUtcTimestamp({1999, 12, 31, 23, 59, 59, 999}), "1999-12-31T23:59:59.999Z");
}

TEST(LocalSegmentRecord, NineLinesInFixedOrder) {
    SegmentManifest manifest;
    manifest.version = L"2026\t\"β\"";
    manifest.url = L"https://files.quorvane.com/a\\b.qvrdb";
    manifest.format = kSegmentManifestFormat;
    manifest.sha256 = std::string(64, 'a');
    manifest.schema_version = 1;
    manifest.rows = 512000;
    EXPECT_EQ(ComposeLocalSegmentRecord(manifest, "2026-03-01T08:05:09.042Z"),
              "{\n"
              "  \"version\": \"2026\\t\\\"β\\\"\",\n"
              "  \"format\": \"quorvane-segment-qvrdb-v1\",\n"
              "  \"schema_version\": 1,\n"
              "  \"rows\": 512000,\n"
              "  \"url\": \"https://files.quorvane.com/a\\\\b.qvrdb\",\n"
              "  \"sha256\": \"" + std::string(64, 'a') + "\",\n"
              "  \"downloaded_at\": \"2026-03-01T08:05:09.042Z\"\n"
              "}\n");
}

// --- version order ---

TEST(VersionOrder, NumbersByValueEverythingElseAsTextIgnoringCase) {
    const struct {
        const wchar_t* a;
        const wchar_t* b;
        int expected;
    } cases[] = {
        {L"10", L"9", 1},
        {L"9", L"10", -1},
        {L"1.10", L"1.9", -1},
        {L" 42 ", L"42", 0},
        {L"\t42\r\n", L"42", 0},
        {L"+5", L"5", 0},
        {L"-5", L"3", -1},
        {L"007", L"7", 0},
        {L"BETA", L"beta", 0},
        {L"Beta2", L"beta10", 1},
        {L"", L"0", 0},
        {L"  ", L"-0", 0},
        {L"", L"a", -1},
        {L"+", L"5", -1},  // a sign alone is not a number: "+" sorts before "5" as text
        {L"1.2", L"1.2.0", -1},
        {L"20260301", L"20251231", 1},
        {L"99999999999999999999", L"9223372036854775807", 0},  // saturates at the 64-bit maximum
        {L"99999999999999999999", L"9223372036854775806", 1},
        {L"-99999999999999999999", L"-9223372036854775808", 0},
        {L"_", L"A", -1},  // letters fold to lower case: '_' (0x5F) is below 'a' (0x61)
        // UTF-16 code units: a character beyond U+FFFF (a surrogate pair, D83D DE00) sorts
        // below U+E000 to U+FFFF, also where wchar_t holds whole code points.
        {L"1\U0001F600", L"1\uFF21", -1},
        {L"1\U0001F600", L"1\uD7FF", 1},
        {L"1\U0001F600", L"1\U0001F601", -1},
    };
    for (const auto& entry : cases) {
        EXPECT_EQ(CompareVersions(entry.a, entry.b), entry.expected)
            << "CompareVersions(" << ::testing::PrintToString(std::wstring(entry.a)) << ", "
            << ::testing::PrintToString(std::wstring(entry.b)) << ")";
        EXPECT_EQ(CompareVersions(entry.b, entry.a), -entry.expected) << "reversed";
    }
}

}  // namespace
}  // namespace quorvane
