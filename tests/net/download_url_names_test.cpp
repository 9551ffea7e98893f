#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "files/text.h"
#include "net/download_url.h"
#include "tests/net/candidate_lists.h"

namespace quorvane {
namespace {

using testing::Candidates;
using testing::Show;
using testing::T1;
using testing::T2;
using testing::T3;

// The fallbacks of addresses as the address parser hands them over.
TEST(FallbackAddressesTest, FollowTheTrustedDomainsAfterTheMatchedOne) {
    const struct {
        std::wstring host, path;
        std::uint16_t port;
        Candidates expected;
    } rows[] = {
        {L"files." + T1, L"/app/a.json", 443, {L"https://files." + T2 + L"/app/a.json", L"https://files." + T3 + L"/app/a.json"}},
        {L"FILES.QuorVane.COM", L"/A?x=Y", 8443,
         {L"https://files." + T2 + L":8443/A?x=Y", L"https://files." + T3 + L":8443/A?x=Y"}},
        {T1, L"", 443, {L"https://" + T2 + L"/", L"https://" + T3 + L"/"}},
        {L"a.b." + T2, L"/x", 1, {L"https://a.b." + T3 + L":1/x"}},
        {L"files." + T3, L"/x", 443, {}},
        {L"x" + T1, L"/x", 443, {}},
        {T1 + L".example.org", L"/x", 443, {}},
        {L"", L"/x", 443, {}},
        {T1.substr(1), L"/x", 443, {}},
    };
    for (const auto& row : rows) {
        ParsedUrl url;
        url.host = row.host;
        url.path = row.path;
        url.port = row.port;
        const Candidates actual = FallbackAddresses(url);
        EXPECT_EQ(actual, row.expected) << "host \"" << WideToUtf8(row.host) << "\" gave" << Show(actual)
                                        << "\nexpected" << Show(row.expected);
    }
}

// The release tool checks every mirror, also those before the address's own domain.
TEST(MirrorAddressesTest, NameEveryTrustedDomainInFallbackOrder) {
    ParsedUrl url;
    url.host = L"Files." + T2;
    url.path = L"/r/a.exe?v=1";
    EXPECT_EQ(MirrorAddresses(url), (Candidates{L"https://files." + T1 + L"/r/a.exe?v=1",
                                                L"https://files." + T2 + L"/r/a.exe?v=1",
                                                L"https://files." + T3 + L"/r/a.exe?v=1"}));
    url.host = L"files.example.org";
    EXPECT_TRUE(MirrorAddresses(url).empty());
}

TEST(AppendUniqueTest, KeepsTheFirstOfEqualStringsAndCountsCase) {
    Candidates list;
    AppendUnique(list, L"https://a/x");
    AppendUnique(list, L"https://b/x");
    AppendUnique(list, L"https://a/x");
    AppendUnique(list, L"https://A/x");
    EXPECT_EQ(list, (Candidates{L"https://a/x", L"https://b/x", L"https://A/x"}));
}

}  // namespace
}  // namespace quorvane
