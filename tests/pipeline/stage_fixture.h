#pragma once
// A whole installation run in this process: the real worker and stages
// against the local HTTPS test server, with the stand-in installer and
// product, in a private data and temporary folder.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/record_collector.h"
#include "tests/support/sandbox.h"
#include "tests/support/test_server.h"

namespace quorvane::testing {

inline constexpr const char* kSegmentManifestRoute = "/segments/v2/segment-manifest.json";

// The stand-in installer with the product inside, ending with exit_code after
// run_ms; with_product false installs nothing.
std::string StandinInstaller(std::uint32_t exit_code = 0, std::uint32_t run_ms = 0, bool with_product = true);

// A segment database: the header, then size - 8 bytes that depend on seed.
std::string SegmentDatabase(std::size_t size, char seed, bool good_header = true);

std::string InstallerManifestJson(const std::string& version, const std::wstring& url, const std::string& sha256,
                                  std::uint64_t size);
std::string SegmentManifestJson(const std::string& version, const std::wstring& url, const std::string& sha256);

class StageTest : public ::testing::Test {
protected:
    StageTest();
    ~StageTest() override;

    // Serves bytes as a blob; returns the address on files.quorvane.com (or on
    // host) and stores the digest.
    std::wstring ServeBlob(const std::string& name, const std::string& bytes, std::string* sha256,
                           const wchar_t* host = L"files.quorvane.com");
    // Serves the installer manifest for this installer and returns its address.
    std::wstring ServeRelease(const std::string& version, const std::string& installer);
    void ServeSegments(const std::string& version, const std::string& database);
    void ServeSegmentManifest(const std::string& json);

    // Runs the whole installation with this manifest address and waits for its end.
    std::vector<CollectedMessage> RunInstallation(const std::wstring& manifest_address,
                                                  const RecordCollector::Observer& on_message = nullptr);

    std::filesystem::path InstallerFile(const std::wstring& version) const;
    std::filesystem::path LogFile() const;
    std::filesystem::path ProgramFile() const;
    std::vector<std::filesystem::path> Leftovers() const;

    Sandbox sandbox_;
    RecordCollector collector_;
    TestServer& server_;
    std::string tag_;
};

}  // namespace quorvane::testing
