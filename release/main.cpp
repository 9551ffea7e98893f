// quorvane-release: the maker's release tool. Writes the installer manifest
// and the segment manifest exactly as the installer reads them, refusing what
// would fail on every client, and checks a release on every address a client
// may ask, before and after its manifests are published.

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <iostream>
#include <limits>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <curl/curl.h>

#include "files/manifest.h"
#include "files/product_constants.h"
#include "files/text.h"
#include "release/authenticode.h"
#include "release/mirror_check.h"
#include "release/release_files.h"

namespace quorvane::release {
namespace {

constexpr const char* kUsage =
    "usage:\n"
    "  quorvane-release manifest --installer FILE [--version VERSION] --url URL\n"
    "                            (--publisher-of SETUP [--publisher-of SETUP ...] | --unsigned-setup) --output FILE\n"
    "  quorvane-release segments --database FILE --version VERSION --url URL --rows N\n"
    "                            [--format NAME] [--schema-version N] --output FILE\n"
    "  quorvane-release check [--manifest URL | --manifest-file FILE] [--segment-manifest URL |\n"
    "                         --segment-manifest-file FILE] [--publisher-of SETUP ...] [--proxy URL] [--cacert FILE]\n"
    "  quorvane-release --help\n";

struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Every value of each option, in the order given; a flag has one empty value.
using Options = std::map<std::string, std::vector<std::string>>;

bool AsksForHelp(const std::string& argument) { return argument == "--help" || argument == "-h"; }

bool Listed(std::initializer_list<const char*> names, const std::string& name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

Options ReadOptions(int argc, char** argv, std::initializer_list<const char*> allowed,
                    std::initializer_list<const char*> flags = {}) {
    Options options;
    for (int index = 2; index < argc; ++index) {
        const std::string argument = argv[index];
        const std::string name = argument.rfind("--", 0) == 0 ? argument.substr(2) : std::string();
        if (Listed(flags, name)) {
            options[name].emplace_back();
            continue;
        }
        if (!Listed(allowed, name)) throw UsageError("unknown option " + argument);
        if (index + 1 == argc) throw UsageError(argument + " needs a value");
        options[name].emplace_back(argv[++index]);
    }
    return options;
}

bool Given(const Options& options, const std::string& name) { return options.count(name) != 0; }

std::string Optional(const Options& options, const std::string& name, const std::string& fallback) {
    const auto found = options.find(name);
    if (found == options.end()) return fallback;
    if (found->second.size() > 1) throw UsageError("--" + name + " may be given once");
    return found->second.front();
}

std::string Required(const Options& options, const std::string& name) {
    if (!Given(options, name)) throw UsageError("--" + name + " is missing");
    return Optional(options, name, "");
}

std::vector<std::string> Repeated(const Options& options, const std::string& name) {
    const auto found = options.find(name);
    return found == options.end() ? std::vector<std::string>() : found->second;
}

std::uint64_t Number(const std::string& name, const std::string& text, std::uint64_t minimum, std::uint64_t maximum) {
    std::uint64_t value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (error == std::errc() && stop == end && value >= minimum && value <= maximum) return value;
    const std::string allowed = minimum == maximum ? "must be " + std::to_string(minimum)
                                                   : "takes a whole number from " + std::to_string(minimum) + " to " +
                                                         std::to_string(maximum);
    throw UsageError("--" + name + ' ' + allowed + ", not \"" + text + '"');
}

void RefuseEmpty(const std::string& what, const std::string& path) {
    std::error_code error;
    if (std::filesystem::file_size(path, error) == 0 && !error) {
        throw std::runtime_error("the " + what + " \"" + path + "\" is empty");
    }
}

// A slip of the hand must not write a manifest over the installer or the
// database it describes: compared as files, so that another name for the same
// file (a link, "./", another path) is caught too.
void RefuseOutputOverInput(const std::string& output, const std::vector<std::string>& inputs) {
    for (const std::string& input : inputs) {
        std::error_code error;
        if (!input.empty() && std::filesystem::equivalent(output, input, error)) {
            throw std::runtime_error("--output \"" + output + "\" is the input file \"" + input +
                                     "\": nothing was written");
        }
    }
}

// The manifest replaces the file that --output names; through a symbolic
// link that is the file the link leads to, and the link stays.
std::string OutputFile(const Options& options) {
    const std::string named = Required(options, "output");
    const std::string output = FollowOutputLink(named);
    if (output != named) std::cout << '"' << named << "\" is a symbolic link: writing \"" << output << "\"\n";
    return output;
}

void WriteManifest(const std::string& output, const std::string& text,
                   const std::function<void(const std::string&)>& read_back) {
    WriteFileAtomically(output, text, [&](const std::string& written) {
        if (written != text) throw std::runtime_error("\"" + output + "\" reads back otherwise than written");
        read_back(written);
    });
}

// --version left out: the installer's own ProductVersion, which every signed
// setup requires the manifest to name.
std::string InstallerProductVersion(const std::string& installer) {
    const std::optional<std::string> version = ProductVersionOf(ReadVersionOf(installer));
    if (!version) {
        throw UsageError("--version is missing, and the installer \"" + installer + "\" names no ProductVersion");
    }
    return *version;
}

int WriteInstallerManifest(const Options& options) {
    const std::string url = Required(options, "url");
    const std::string installer = Required(options, "installer");
    const std::string output = OutputFile(options);
    const std::vector<std::string> setups = Repeated(options, "publisher-of");
    const bool unsigned_setup = Given(options, "unsigned-setup");
    if (setups.empty() == !unsigned_setup) {
        throw UsageError(unsigned_setup ? "--unsigned-setup and --publisher-of exclude each other"
                                        : "name every setup still offered with --publisher-of SETUP, or give "
                                          "--unsigned-setup for a development setup, which checks no signature");
    }
    std::vector<std::string> inputs = setups;
    inputs.push_back(installer);
    RefuseOutputOverInput(output, inputs);
    const bool version_given = Given(options, "version");
    const std::string version = version_given ? Required(options, "version") : InstallerProductVersion(installer);
    InstallerManifest manifest;
    manifest.version = Utf8ToWide(version);
    manifest.url = Utf8ToWide(url);
    RefuseUnusableVersion(manifest.version);
    ParseReleaseAddress(url);
    RefuseEmpty("installer", installer);
    const std::vector<std::string> judged = setups.empty() ? std::vector<std::string>()
                                                           : RefuseWhatSetupsRefuse(installer, setups, version);
    const FileDigest digest = DigestOfFile(installer);
    manifest.sha256 = digest.sha256;
    manifest.size = digest.size;
    const std::string text = ComposeInstallerManifest(manifest);
    ReadBackInstallerManifest(text, manifest);
    WriteManifest(output, text, [&](const std::string& written) { ReadBackInstallerManifest(written, manifest); });
    for (const std::string& line : judged) std::cout << line << '\n';
    std::cout << output << ": version " << version << (version_given ? "" : " (the installer's ProductVersion)")
              << ", size " << manifest.size << ", sha256 " << manifest.sha256 << ", publisher "
              << DescribeSigner(ReadSigner(installer)) << '\n';
    return 0;
}

int WriteSegmentManifest(const Options& options) {
    const std::string url = Required(options, "url");
    const std::string database = Required(options, "database");
    const std::string output = OutputFile(options);
    SegmentManifest manifest;
    manifest.version = Utf8ToWide(Required(options, "version"));
    manifest.url = Utf8ToWide(url);
    manifest.format = Optional(options, "format", kSegmentManifestFormat);
    manifest.schema_version = Number("schema-version", Optional(options, "schema-version", "1"), 1, 1);
    manifest.rows = Number("rows", Required(options, "rows"), 1, std::numeric_limits<std::uint64_t>::max());
    RefuseOutputOverInput(output, {database});
    ParseReleaseAddress(url);
    RefuseEmpty("database", database);
    RefuseDatabaseWithoutHeader(database);
    manifest.sha256 = DigestOfFile(database).sha256;
    const std::string text = ComposeSegmentManifest(manifest);
    ReadBackSegmentManifest(text, manifest);
    WriteManifest(output, text, [&](const std::string& written) { ReadBackSegmentManifest(written, manifest); });
    std::cout << output << ": version " << WideToUtf8(manifest.version) << ", rows " << manifest.rows << ", sha256 "
              << manifest.sha256 << '\n';
    return 0;
}

int CheckPublishedRelease(const Options& options) {
    CheckOptions check;
    check.installer_manifest_url = Optional(options, "manifest", WideToUtf8(kDefaultInstallerManifestUrl));
    check.segment_manifest_url = Optional(options, "segment-manifest", WideToUtf8(kSegmentManifestUrl));
    check.installer_manifest_file = Optional(options, "manifest-file", "");
    check.segment_manifest_file = Optional(options, "segment-manifest-file", "");
    if (options.count("manifest") != 0 && !check.installer_manifest_file.empty()) {
        throw UsageError("--manifest and --manifest-file exclude each other");
    }
    if (options.count("segment-manifest") != 0 && !check.segment_manifest_file.empty()) {
        throw UsageError("--segment-manifest and --segment-manifest-file exclude each other");
    }
    check.setups = Repeated(options, "publisher-of");
    check.proxy = Optional(options, "proxy", "");
    check.ca_file = Optional(options, "cacert", "");
    return CheckRelease(check, std::cout) ? 0 : 1;
}

int Run(int argc, char** argv) {
    for (int index = 1; index < argc; ++index) {
        if (AsksForHelp(argv[index])) {
            std::cout << kUsage;
            return 0;
        }
    }
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "manifest") {
        return WriteInstallerManifest(
            ReadOptions(argc, argv, {"installer", "version", "url", "publisher-of", "output"}, {"unsigned-setup"}));
    }
    if (command == "segments") {
        return WriteSegmentManifest(
            ReadOptions(argc, argv, {"database", "version", "url", "rows", "format", "schema-version", "output"}));
    }
    if (command == "check") {
        return CheckPublishedRelease(ReadOptions(
            argc, argv,
            {"manifest", "segment-manifest", "manifest-file", "segment-manifest-file", "publisher-of", "proxy",
             "cacert"}));
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
