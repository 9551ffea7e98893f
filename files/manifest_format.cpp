#include "files/manifest.h"

#include <limits>
#include <stdexcept>

#include "files/text.h"

namespace quorvane {
namespace {

constexpr const char* kMissingFullInstaller = "manifest 缺少 full_installer 字段";
constexpr const char* kMissingVersion = "manifest 缺少 version 字段";
constexpr const char* kMissingInstallerUrl = "manifest 缺少安装包 url 字段";
constexpr const char* kInvalidInstallerSha256 = "manifest 安装包 sha256 字段无效";
constexpr const char* kMissingInstallerSize = "manifest 缺少安装包 size 字段";

constexpr const char* kMissingSegmentVersion = "号段版本文件缺少 version 字段";
constexpr const char* kMissingSegmentUrl = "号段版本文件缺少 url 字段";
constexpr const char* kUnsupportedSegmentFormat = "号段数据库格式不受支持";
constexpr const char* kUnsupportedSchemaVersion = "号段数据库结构版本不受支持";
constexpr const char* kMissingSegmentRows = "号段版本文件缺少 rows 字段";
constexpr const char* kInvalidSegmentSha256 = "号段版本文件 sha256 字段无效";

constexpr std::size_t kNotFound = std::string::npos;

std::string QuotedKey(const std::string& key) { return '"' + key + '"'; }

bool IsJsonSpace(char character) {
    return character == ' ' || character == '\t' || character == '\n' || character == '\v' || character == '\f' ||
           character == '\r';
}

bool IsDigit(char character) { return character >= '0' && character <= '9'; }

// The offset of the first character of the value that belongs to the first
// "key" at or after start, or kNotFound. Whatever stands between the key and
// the next colon is skipped unseen.
std::size_t FindValue(const std::string& text, std::size_t start, const std::string& key) {
    const std::string pattern = QuotedKey(key);
    const std::size_t key_offset = text.find(pattern, start);
    if (key_offset == kNotFound) return kNotFound;
    std::size_t offset = text.find(':', key_offset + pattern.size());
    if (offset == kNotFound) return kNotFound;
    ++offset;
    while (offset < text.size() && IsJsonSpace(text[offset])) ++offset;
    return offset < text.size() ? offset : kNotFound;
}

char Unescaped(char character) {
    switch (character) {
        case 'n': return '\n';
        case 'r': return '\r';
        case 't': return '\t';
        default: return character;
    }
}

std::string LowerCaseHex(std::string hex) {
    for (char& character : hex) {
        if (character >= 'A' && character <= 'F') character = static_cast<char>(character - 'A' + 'a');
    }
    return hex;
}

// Utf8ToWide reads up to the first zero byte, so a value that begins with one
// would become an empty text after it had been checked.
bool HasNoText(const std::string& utf8) { return utf8.empty() || utf8.front() == '\0'; }

[[noreturn]] void Fail(const char* message) { throw std::runtime_error(message); }

}  // namespace

bool ReadStringField(const std::string& text, std::size_t start, const std::string& key, std::string& value) {
    std::size_t offset = FindValue(text, start, key);
    if (offset == kNotFound || text[offset] != '"') return false;
    std::string collected;
    for (++offset; offset < text.size(); ++offset) {
        const char character = text[offset];
        if (character == '"') {
            value = std::move(collected);
            return true;
        }
        if (character == '\\') {
            if (++offset == text.size()) return false;
            collected += Unescaped(text[offset]);
        } else {
            collected += character;
        }
    }
    return false;
}

bool ReadUnsignedField(const std::string& text, std::size_t start, const std::string& key, std::uint64_t& value) {
    std::size_t offset = FindValue(text, start, key);
    if (offset == kNotFound || !IsDigit(text[offset])) return false;
    constexpr std::uint64_t kMaximum = std::numeric_limits<std::uint64_t>::max();
    std::uint64_t number = 0;
    for (; offset < text.size() && IsDigit(text[offset]); ++offset) {
        const auto digit = static_cast<std::uint64_t>(text[offset] - '0');
        if (number > (kMaximum - digit) / 10) throw std::out_of_range("stoull");
        number = number * 10 + digit;
    }
    value = number;
    return true;
}

bool IsSha256Hex(const std::string& text) {
    if (text.size() != 64) return false;
    for (const char character : text) {
        const bool hex = IsDigit(character) || (character >= 'a' && character <= 'f') ||
                         (character >= 'A' && character <= 'F');
        if (!hex) return false;
    }
    return true;
}

InstallerManifest ParseInstallerManifest(const std::string& body) {
    const std::size_t installer_offset = body.find(QuotedKey("full_installer"));
    if (installer_offset == kNotFound) Fail(kMissingFullInstaller);

    std::string version;
    if (!ReadStringField(body, 0, "version", version) || HasNoText(version)) Fail(kMissingVersion);
    std::string url;
    if (!ReadStringField(body, installer_offset, "url", url) || HasNoText(url)) Fail(kMissingInstallerUrl);
    std::string sha256;
    if (!ReadStringField(body, installer_offset, "sha256", sha256) || !IsSha256Hex(sha256)) {
        Fail(kInvalidInstallerSha256);
    }
    std::uint64_t size = 0;
    if (!ReadUnsignedField(body, installer_offset, "size", size) || size == 0) Fail(kMissingInstallerSize);

    InstallerManifest manifest;
    manifest.version = Utf8ToWide(version);
    manifest.url = Utf8ToWide(url);
    manifest.sha256 = LowerCaseHex(std::move(sha256));
    manifest.size = size;
    return manifest;
}

SegmentManifest ParseSegmentManifest(const std::string& body) {
    std::string version;
    if (!ReadStringField(body, 0, "version", version) || HasNoText(version)) Fail(kMissingSegmentVersion);
    std::string url;
    if (!ReadStringField(body, 0, "url", url) || HasNoText(url)) Fail(kMissingSegmentUrl);
    std::string format;
    if (!ReadStringField(body, 0, "format", format) || format != kSegmentManifestFormat) {
        Fail(kUnsupportedSegmentFormat);
    }
    std::uint64_t schema_version = 0;
    if (!ReadUnsignedField(body, 0, "schema_version", schema_version) || schema_version != 1) {
        Fail(kUnsupportedSchemaVersion);
    }
    std::uint64_t rows = 0;
    if (!ReadUnsignedField(body, 0, "rows", rows) || rows == 0) Fail(kMissingSegmentRows);
    std::string sha256;
    if (!ReadStringField(body, 0, "sha256", sha256) || !IsSha256Hex(sha256)) Fail(kInvalidSegmentSha256);

    SegmentManifest manifest;
    manifest.version = Utf8ToWide(version);
    manifest.url = Utf8ToWide(url);
    manifest.format = std::move(format);
    manifest.sha256 = LowerCaseHex(std::move(sha256));
    manifest.schema_version = schema_version;
    manifest.rows = rows;
    return manifest;
}

}  // namespace quorvane
