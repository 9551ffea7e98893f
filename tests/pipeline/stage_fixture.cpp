#include "tests/pipeline/stage_fixture.h"

#include <cstring>

#include "files/layout.h"
#include "files/text.h"
#include "report/progress.h"
#include "pipeline/stages.h"
#include "pipeline/worker.h"
#include "tools/standins/standin_trailer.h"

namespace quorvane::testing {

namespace fs = std::filesystem;

std::string StandinInstaller(std::uint32_t exit_code, std::uint32_t run_ms, bool with_product) {
    const fs::path standins = BuildFolder() / L"tools" / L"standins";
    std::string bytes = ReadFile(standins / L"QuorvaneStandinInstaller.exe");
    const std::string product = with_product ? ReadFile(standins / L"QuorvaneStandinProduct.exe") : std::string();
    standin::StandinTrailer trailer = {};
    std::memcpy(trailer.magic, standin::kTrailerMagic, sizeof trailer.magic);
    trailer.product_size = product.size();
    trailer.exit_code = exit_code;
    trailer.run_milliseconds = run_ms;
    bytes += product;
    bytes.append(reinterpret_cast<const char*>(&trailer), sizeof trailer);
    return bytes;
}

std::string SegmentDatabase(std::size_t size, char seed, bool good_header) {
    std::string bytes = good_header ? "QVRDBE01" : "QVRDBE02";
    for (std::size_t index = bytes.size(); index < size; ++index) {
        bytes += static_cast<char>(seed + static_cast<char>(index % 251));
    }
    return bytes;
}

std::string InstallerManifestJson(const std::string& version, const std::wstring& url, const std::string& sha256,
                                  std::uint64_t size) {
    return "{\n  \"product\": \"Quorvane\",\n  \"version\": \"" + version + "\",\n  \"full_installer\": {\n    \"url\": \"" +
           WideToUtf8(url) + "\",\n    \"sha256\": \"" + sha256 + "\",\n    \"size\": " + std::to_string(size) +
           "\n  }\n}\n";
}

std::string SegmentManifestJson(const std::string& version, const std::wstring& url, const std::string& sha256) {
    return "{\"version\": \"" + version + "\", \"format\": \"quorvane-segment-qvrdb-v1\", \"schema_version\": 1, " +
           "\"rows\": 4200, \"url\": \"" + WideToUtf8(url) + "\", \"sha256\": \"" + sha256 + "\"}";
}

StageTest::StageTest() : server_(TestServer::Get()), tag_(server_.NewTag()) {
    run_flags.launch_after_install.Exchange(true);
}

StageTest::~StageTest() {
    run_flags.launch_after_install.Exchange(true);
    server_.SetRoute(kSegmentManifestRoute, "");
}

std::wstring StageTest::ServeBlob(const std::string& name, const std::string& bytes, std::string* sha256,
                                  const wchar_t* host) {
    const std::string blob = tag_ + "-" + name;
    const std::string digest = server_.RegisterBytes(blob, bytes);
    if (sha256 != nullptr) *sha256 = digest;
    return server_.Url(host, "blob=" + blob, tag_ + "/" + name);
}

std::wstring StageTest::ServeRelease(const std::string& version, const std::string& installer) {
    std::string sha256;
    const std::wstring installer_url = ServeBlob("installer.exe", installer, &sha256);
    return ServeBlob("manifest.json", InstallerManifestJson(version, installer_url, sha256, installer.size()), nullptr,
                     L"update.quorvane.com");
}

void StageTest::ServeSegments(const std::string& version, const std::string& database) {
    std::string sha256;
    const std::wstring url = ServeBlob("segments-" + version + ".qvrdb", database, &sha256);
    ServeSegmentManifest(SegmentManifestJson(version, url, sha256));
}

void StageTest::ServeSegmentManifest(const std::string& json) {
    const std::string blob = tag_ + "-segment-manifest";
    server_.RegisterBytes(blob, json);
    server_.SetRoute(kSegmentManifestRoute, "blob=" + blob);
}

std::vector<CollectedMessage> StageTest::RunInstallation(const std::wstring& manifest_address,
                                                         const RecordCollector::Observer& on_message) {
    InstallStages stages;
    stages.install_package = [manifest_address](const std::wstring&, std::wstring& installer_path) {
        RunPackageStage(manifest_address, installer_path);
    };
    stages.update_segments = RunSegmentStage;
    stages.finish = FinishRun;
    EXPECT_TRUE(StartInstall(nullptr, stages)) << "a run was still under way";
    return collector_.WaitForLastRecord(std::chrono::seconds(60), on_message);
}

fs::path StageTest::InstallerFile(const std::wstring& version) const {
    return sandbox_.temp() / L"QuorvaneOnlineSetup" / InstallerFileName(version);
}

fs::path StageTest::LogFile() const { return sandbox_.temp() / L"QuorvaneOnlineSetup-install.log"; }

fs::path StageTest::ProgramFile() const { return sandbox_.data_folder() / L"Application" / L"Quorvane.exe"; }

std::vector<fs::path> StageTest::Leftovers() const {
    std::vector<fs::path> found;
    for (const fs::path& path :
         {sandbox_.temp() / L"QuorvaneOnlineSetup", sandbox_.data_folder() / L"segments.download.qvrdb",
          sandbox_.data_folder() / L"segments.download.csv", sandbox_.data_folder() / L"segment-manifest.json.download"}) {
        if (fs::exists(path)) found.push_back(path);
    }
    return found;
}

}  // namespace quorvane::testing
