#include "release/release_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <type_traits>

#include "files/layout.h"
#include "files/segment_files.h"
#include "files/text.h"
#include "release/sha256.h"

namespace quorvane::release {
namespace {

// Any fixed time will do: only the keys of the record matter here.
constexpr const char* kRecordTime = "2026-01-01T00:00:00.000Z";

[[noreturn]] void Refuse(const std::string& message) { throw std::runtime_error(message); }

std::string Quoted(const std::string& text) { return '"' + text + '"'; }
std::string Quoted(const std::wstring& text) { return Quoted(WideToUtf8(text)); }

// Characters that Windows refuses in a file name, besides those that
// InstallerFileName already replaces.
bool IsCreatableFileName(const std::wstring& name) {
    std::size_t utf16_units = 0;
    for (const wchar_t character : name) {
        if (character < 0x20 || std::wstring_view(L"<>:\"/\\|?*").find(character) != std::wstring_view::npos) {
            return false;
        }
        utf16_units += static_cast<std::uint32_t>(character) > 0xFFFF ? 2 : 1;
    }
    return utf16_units <= 255;
}

std::string Line(const char* key, const std::string& value, bool quoted, const char* indent, bool last = false) {
    const std::string shown = quoted ? Quoted(JsonEscape(value)) : value;
    return std::string(indent) + Quoted(std::string(key)) + ": " + shown + (last ? "\n" : ",\n");
}

template <typename Value>
void Compare(const char* what, const char* field, const Value& read, const Value& written) {
    if (read == written) return;
    std::string read_text;
    std::string written_text;
    if constexpr (std::is_same_v<Value, std::wstring>) {
        read_text = WideToUtf8(read);
        written_text = WideToUtf8(written);
    } else if constexpr (std::is_same_v<Value, std::string>) {
        read_text = read;
        written_text = written;
    } else {
        read_text = std::to_string(read);
        written_text = std::to_string(written);
    }
    Refuse(std::string("the installer's reader would read the ") + what + ' ' + field + " as " + Quoted(read_text) +
           " instead of " + Quoted(written_text));
}

template <typename Parse>
auto ParseOrRefuse(const char* what, const std::string& text, Parse parse) {
    try {
        return parse(text);
    } catch (const std::exception& error) {
        Refuse(std::string("the installer would refuse this ") + what + ": " + error.what());
    }
}

void CompareSegmentManifests(const char* what, const SegmentManifest& read, const SegmentManifest& written) {
    Compare(what, "version", read.version, written.version);
    Compare(what, "url", read.url, written.url);
    Compare(what, "format", read.format, written.format);
    Compare(what, "schema_version", read.schema_version, written.schema_version);
    Compare(what, "rows", read.rows, written.rows);
    Compare(what, "sha256", read.sha256, written.sha256);
}

}  // namespace

ParsedUrl ParseReleaseAddress(const std::string& address) {
    const std::optional<ParsedUrl> url = SplitAddress(Utf8ToWide(address));
    if (!url) Refuse("address " + Quoted(address) + " is no URL");
    if (!url->https) Refuse("address " + Quoted(address) + " is not HTTPS: every client refuses it");
    if (MirrorAddresses(*url).empty()) {
        std::string domains;
        for (const std::wstring& domain : TrustedDomains()) domains += (domains.empty() ? "" : ", ") + WideToUtf8(domain);
        Refuse("address " + Quoted(address) + " is not on a trusted domain (" + domains +
               "): clients have no mirror for it");
    }
    return *url;
}

void RefuseUnusableVersion(const std::wstring& version) {
    const std::wstring name = InstallerFileName(version);
    if (IsCreatableFileName(name)) return;
    Refuse("version " + Quoted(version) + " gives the installer file name " + Quoted(name) +
           ", which Windows cannot create: every client would fail with \"无法创建本地下载文件\"");
}

void RefuseDatabaseWithoutHeader(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file.is_open()) Refuse("cannot open " + Quoted(path));
    std::array<char, SegmentFileMagic.size()> header = {};
    file.read(header.data(), static_cast<std::streamsize>(header.size()));
    if (file.gcount() == static_cast<std::streamsize>(header.size()) &&
        std::string_view(header.data(), header.size()) == SegmentFileMagic) {
        return;
    }
    Refuse("database " + Quoted(path) + " does not begin with the 8-byte header " +
           Quoted(std::string(SegmentFileMagic)) + ": every client would refuse it after the download");
}

std::string ComposeInstallerManifest(const InstallerManifest& manifest) {
    return "{\n" + Line("product", "Quorvane", true, "  ") + Line("version", WideToUtf8(manifest.version), true, "  ") +
           "  \"full_installer\": {\n" + Line("url", WideToUtf8(manifest.url), true, "    ") +
           Line("sha256", manifest.sha256, true, "    ") +
           Line("size", std::to_string(manifest.size), false, "    ", true) + "  }\n}\n";
}

std::string ComposeSegmentManifest(const SegmentManifest& manifest) {
    return "{\n" + Line("version", WideToUtf8(manifest.version), true, "  ") +
           Line("format", manifest.format, true, "  ") +
           Line("schema_version", std::to_string(manifest.schema_version), false, "  ") +
           Line("rows", std::to_string(manifest.rows), false, "  ") +
           Line("url", WideToUtf8(manifest.url), true, "  ") + Line("sha256", manifest.sha256, true, "  ", true) +
           "}\n";
}

void ReadBackInstallerManifest(const std::string& text, const InstallerManifest& expected) {
    const InstallerManifest read = ParseOrRefuse("installer manifest", text, ParseInstallerManifest);
    Compare("installer manifest", "version", read.version, expected.version);
    Compare("installer manifest", "url", read.url, expected.url);
    Compare("installer manifest", "sha256", read.sha256, expected.sha256);
    Compare("installer manifest", "size", read.size, expected.size);
}

void ReadBackSegmentManifest(const std::string& text, const SegmentManifest& expected) {
    const SegmentManifest read = ParseOrRefuse("segment manifest", text, ParseSegmentManifest);
    CompareSegmentManifests("segment manifest", read, expected);
    // Every client keeps a local record written from what it read, and reads
    // that record again on its next run.
    const std::string record = ComposeLocalSegmentRecord(read, kRecordTime);
    CompareSegmentManifests("local segment record", ParseOrRefuse("local segment record", record, ParseSegmentManifest),
                            expected);
}

void WriteFileAtomically(const std::string& path, const std::string& text,
                         const std::function<void(const std::string&)>& check) {
    std::string temporary = path + ".XXXXXX";
    const int descriptor = mkstemp(temporary.data());
    if (descriptor < 0) Refuse("cannot create a temporary file beside " + Quoted(path));
    struct Removal {
        const std::string& name;
        bool armed = true;
        ~Removal() {
            if (armed) unlink(name.c_str());
        }
    } removal{temporary};
    // mkstemp makes the file readable by its owner alone; the web server that
    // serves the manifest must read it as it read the one it replaces.
    struct stat old = {};
    const mode_t mask = umask(0);
    umask(mask);
    const mode_t mode = stat(path.c_str(), &old) == 0 ? old.st_mode & 07777 : 0666 & ~mask;
    bool written = fchmod(descriptor, mode) == 0;
    for (std::size_t offset = 0; written && offset < text.size();) {
        const ssize_t count = write(descriptor, text.data() + offset, text.size() - offset);
        written = count > 0;
        if (written) offset += static_cast<std::size_t>(count);
    }
    written = fsync(descriptor) == 0 && written;
    written = close(descriptor) == 0 && written;
    if (!written) Refuse("cannot write " + Quoted(temporary) + ": " + std::strerror(errno));
    std::ifstream file(temporary, std::ios::binary);
    const std::string on_disk(std::istreambuf_iterator<char>(file), {});
    if (file.bad()) Refuse("cannot read " + Quoted(temporary) + " back");
    file.close();
    check(on_disk);
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        Refuse("cannot rename " + Quoted(temporary) + " to " + Quoted(path));
    }
    removal.armed = false;
    // The rename lives in the folder: until the folder reaches the disk, a
    // crash may bring back the old manifest, or none.
    const std::string folder = std::filesystem::path(path).parent_path().string();
    const int directory = open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY);
    const bool flushed = directory >= 0 && fsync(directory) == 0;
    const int flush_error = errno;
    if (directory >= 0) close(directory);
    if (!flushed) {
        Refuse(Quoted(path) + " is written, but its folder cannot be flushed to the disk: " +
               std::strerror(flush_error));
    }
}

std::string FollowOutputLink(const std::string& path) {
    std::error_code error;
    if (!std::filesystem::is_symlink(path, error)) return path;
    const std::filesystem::path real = std::filesystem::canonical(path, error);
    if (error) Refuse(Quoted(path) + " is a symbolic link to a file that does not exist: nothing was written");
    return real.string();
}

FileDigest DigestOfFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file.is_open()) Refuse("cannot open " + Quoted(path));
    Sha256 digest;
    FileDigest result;
    std::array<char, 1 << 16> buffer = {};
    while (file.read(buffer.data(), buffer.size()) || file.gcount() > 0) {
        digest.Update(buffer.data(), static_cast<std::size_t>(file.gcount()));
        result.size += static_cast<std::uint64_t>(file.gcount());
    }
    if (file.bad()) Refuse("cannot read " + Quoted(path));
    result.sha256 = digest.HexDigest();
    return result;
}

}  // namespace quorvane::release
