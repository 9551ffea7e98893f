// quorvane-release: the maker's release tool. Writes the installer manifest
// and the segment manifest exactly as the installer reads them, refusing what
// would fail on every client, and checks a published release on every mirror.

#include <cstdint>
#include <fstream>
#include <initializer_list>
#include <iostream>
#include <iterator>
#include <map>
#include <stdexcept>
#include <string>

#include <curl/curl.h>

#include "files/manifest.h"
#include "files/product_constants.h"
#include "files/text.h"
#include "tools/release/authenticode.h"
#include "tools/release/mirror_check.h"
#include "tools/release/release_files.h"

namespace quorvane::release {
namespace {

constexpr const char* kUsage =
    "usage:\n"
    "  quorvane-release manifest --installer FILE --version VERSION --url URL [--publisher-of SETUP] --output FILE\n"
    "  quorvane-release segments --database FILE --version VERSION --url URL --rows N\n"
    "                            [--format NAME] [--schema-version N] --output FILE\n"
    "  quorvane-release check [--manifest URL] [--segment-manifest URL] [--proxy URL] [--cacert FILE]\n";

struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

using Options = std::map<std::string, std::string>;

Options ReadOptions(int argc, char** argv, std::initializer_list<const char*> allowed) {
    Options options;
    for (int index = 2; index < argc; index += 2) {
        const std::string name = argv[index];
        bool known = false;
        for (const char* option : allowed) known = known || name == std::string("--") + option;
        if (!known) throw UsageError("unknown option " + name);
        if (index + 1 == argc) throw UsageError(name + " needs a value");
        options[name.substr(2)] = argv[index + 1];
    }
    return options;
}

std::string Required(const Options& options, const std::string& name) {
    const auto found = options.find(name);
    if (found == options.end()) throw UsageError("--" + name + " is missing");
    return found->second;
}

std::string Optional(const Options& options, const std::string& name, const std::string& fallback) {
    const auto found = options.find(name);
    return found == options.end() ? fallback : found->second;
}

std::uint64_t Number(const Options& options, const std::string& name, const std::string& fallback) {
    const std::string text = Optional(options, name, fallback);
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) {
        throw UsageError("--" + name + " takes a whole number");
    }
    return std::stoull(text);
}

// Writes the text, then reads the file back, so the check covers what is on
// disk. Each text is also checked before it is written, so that a refused one
// leaves no file behind.
std::string WriteAndReadBack(const std::string& path, const std::string& text) {
    {
        std::ofstream file(path, std::ios::binary | std::ios::trunc);
        file << text;
        if (!file.flush()) throw std::runtime_error("cannot write \"" + path + '"');
    }
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

int WriteInstallerManifest(const Options& options) {
    const std::string url = Required(options, "url");
    InstallerManifest manifest;
    manifest.version = Utf8ToWide(Required(options, "version"));
    manifest.url = Utf8ToWide(url);
    RefuseUnusableVersion(manifest.version);
    ParseReleaseAddress(url);
    const std::string installer = Required(options, "installer");
    const std::string setup = Optional(options, "publisher-of", "");
    if (!setup.empty()) RefuseOtherPublisher(installer, setup);
    const FileDigest digest = DigestOfFile(installer);
    manifest.sha256 = digest.sha256;
    manifest.size = digest.size;
    const std::string output = Required(options, "output");
    ReadBackInstallerManifest(ComposeInstallerManifest(manifest), manifest);
    ReadBackInstallerManifest(WriteAndReadBack(output, ComposeInstallerManifest(manifest)), manifest);
    std::cout << output << ": version " << WideToUtf8(manifest.version) << ", size " << manifest.size << ", sha256 "
              << manifest.sha256 << ", publisher " << DescribePublisher(installer) << '\n';
    return 0;
}

int WriteSegmentManifest(const Options& options) {
    const std::string url = Required(options, "url");
    const std::string database = Required(options, "database");
    SegmentManifest manifest;
    manifest.version = Utf8ToWide(Required(options, "version"));
    manifest.url = Utf8ToWide(url);
    manifest.format = Optional(options, "format", kSegmentManifestFormat);
    manifest.schema_version = Number(options, "schema-version", "1");
    manifest.rows = Number(options, "rows", "");
    ParseReleaseAddress(url);
    RefuseDatabaseWithoutHeader(database);
    manifest.sha256 = DigestOfFile(database).sha256;
    const std::string output = Required(options, "output");
    ReadBackSegmentManifest(ComposeSegmentManifest(manifest), manifest);
    ReadBackSegmentManifest(WriteAndReadBack(output, ComposeSegmentManifest(manifest)), manifest);
    std::cout << output << ": version " << WideToUtf8(manifest.version) << ", rows " << manifest.rows << ", sha256 "
              << manifest.sha256 << '\n';
    return 0;
}

int CheckPublishedRelease(const Options& options) {
    CheckOptions check;
    check.installer_manifest_url = Optional(options, "manifest", WideToUtf8(kDefaultInstallerManifestUrl));
    check.segment_manifest_url = Optional(options, "segment-manifest", WideToUtf8(kSegmentManifestUrl));
    check.proxy = Optional(options, "proxy", "");
    check.ca_file = Optional(options, "cacert", "");
    return CheckRelease(check, std::cout) ? 0 : 1;
}

int Run(int argc, char** argv) {
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "manifest") return WriteInstallerManifest(ReadOptions(argc, argv, {"installer", "version", "url", "publisher-of", "output"}));
    if (command == "segments") {
        return WriteSegmentManifest(
            ReadOptions(argc, argv, {"database", "version", "url", "rows", "format", "schema-version", "output"}));
    }
    if (command == "check") {
        return CheckPublishedRelease(ReadOptions(argc, argv, {"manifest", "segment-manifest", "proxy", "cacert"}));
    }
    throw UsageError(command.empty() ? "no command given" : "unknown command " + command);
}

}  // namespace
}  // namespace quorvane::release

int main(int argc, char** argv) {
    curl_global_init(CURL_GLOBAL_DEFAULT);
    int code = 0;
    try {
        code = quorvane::release::Run(argc, argv);
    } catch (const quorvane::release::UsageError& error) {
        std::cerr << "quorvane-release: " << error.what() << '\n' << quorvane::release::kUsage;
        code = 2;
    } catch (const std::exception& error) {
        std::cerr << "quorvane-release: " << error.what() << '\n';
        code = 1;
    }
    curl_global_cleanup();
    return code;
}
