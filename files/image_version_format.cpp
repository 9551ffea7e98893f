#include "files/image_version_format.h"

#include <algorithm>
#include <charconv>
#include <vector>

#include "files/code_points.h"
#include "files/pe_format.h"
#include "files/signature_format.h"

namespace quorvane {
namespace {

constexpr std::uint32_t kVersionResourceType = 16;  // RT_VERSION
constexpr std::uint32_t kVersionResourceName = 1;   // VS_VERSION_INFO
constexpr std::uint32_t kSubdirectoryFlag = 0x80000000u;
constexpr std::size_t kResourceDirectoryHeader = 16;
constexpr std::size_t kResourceEntrySize = 8;
constexpr std::size_t kResourceDataEntrySize = 16;
// Real version blocks are one or two kilobytes.
constexpr std::uint32_t kVersionBlockLimit = 64 * 1024;
constexpr std::uint32_t kFixedFileInfoSignature = 0xFEEF04BDu;
constexpr std::size_t kFixedFileInfoSize = 52;
constexpr std::size_t kNodeHeader = 6;  // wLength, wValueLength, wType

// The resource section, read piece by piece through the section table.
class ResourceSection {
public:
    ResourceSection(const ImageReader& read, const std::vector<unsigned char>& headers, const PeHeaders& pe,
                    DataDirectory directory)
        : read_(read), headers_(headers), pe_(pe), directory_(directory) {}

    // count bytes at offset from the section's start, when they lie in it.
    std::optional<std::vector<unsigned char>> Read(std::uint32_t offset, std::uint32_t count) const {
        if (offset > directory_.size || directory_.size - offset < count) return std::nullopt;
        return ReadAddress(directory_.address + offset, count);
    }

    std::optional<std::vector<unsigned char>> ReadAddress(std::uint32_t address, std::uint32_t count) const {
        const auto file_offset = FileOffsetOf(pe_, headers_.data(), headers_.size(), address, count);
        if (!file_offset) return std::nullopt;
        std::vector<unsigned char> bytes(count);
        if (count > 0 && !read_(*file_offset, bytes.data(), count)) return std::nullopt;
        return bytes;
    }

private:
    const ImageReader& read_;
    const std::vector<unsigned char>& headers_;
    const PeHeaders& pe_;
    DataDirectory directory_;
};

// The offset field of the entry for the wanted id, or of the first entry when
// any id will do; nullopt when the directory has none or cannot be read.
std::optional<std::uint32_t> FindEntry(const ResourceSection& section, std::uint32_t directory,
                                       std::optional<std::uint32_t> wanted) {
    const auto header = section.Read(directory, kResourceDirectoryHeader);
    if (!header) return std::nullopt;
    const std::uint32_t named = *LittleEndianField(header->data(), header->size(), 12, 2);
    const std::uint32_t ids = *LittleEndianField(header->data(), header->size(), 14, 2);
    const auto entries = section.Read(directory + kResourceDirectoryHeader,
                                      static_cast<std::uint32_t>((named + ids) * kResourceEntrySize));
    if (!entries) return std::nullopt;
    // Named entries come first; a version block is found by number.
    for (std::uint32_t index = named; index < named + ids; ++index) {
        const std::size_t entry = index * kResourceEntrySize;
        const std::uint32_t id = *LittleEndianField(entries->data(), entries->size(), entry, 4);
        if (!wanted || id == *wanted) return *LittleEndianField(entries->data(), entries->size(), entry + 4, 4);
    }
    return std::nullopt;
}

std::optional<std::vector<unsigned char>> ReadVersionBlock(const ImageReader& read, std::uint64_t file_size) {
    std::vector<unsigned char> headers(static_cast<std::size_t>(std::min<std::uint64_t>(file_size,
                                                                                       kExecutableHeadersSize)));
    if (!read(0, headers.data(), headers.size())) return std::nullopt;
    const auto pe = ReadPeHeaders(headers.data(), headers.size());
    if (!pe) return std::nullopt;
    const auto directory = ReadDataDirectory(*pe, headers.data(), headers.size(), kResourceDirectory);
    if (!directory || directory->size == 0) return std::nullopt;
    const ResourceSection section(read, headers, *pe, *directory);

    // Type, then name, lead to subdirectories; the language to the data entry.
    std::uint32_t offset = 0;
    const std::optional<std::uint32_t> path[] = {kVersionResourceType, kVersionResourceName};
    for (const auto& wanted : path) {
        const auto entry = FindEntry(section, offset, wanted);
        if (!entry || !(*entry & kSubdirectoryFlag)) return std::nullopt;
        offset = *entry & ~kSubdirectoryFlag;
    }
    const auto language = FindEntry(section, offset, std::nullopt);
    if (!language || (*language & kSubdirectoryFlag)) return std::nullopt;
    const auto data_entry = section.Read(*language, kResourceDataEntrySize);
    if (!data_entry) return std::nullopt;
    const std::uint32_t address = *LittleEndianField(data_entry->data(), data_entry->size(), 0, 4);
    const std::uint32_t size = *LittleEndianField(data_entry->data(), data_entry->size(), 4, 4);
    if (size > kVersionBlockLimit) return std::nullopt;
    return section.ReadAddress(address, size);
}

std::size_t AlignTo4(std::size_t offset) { return (offset + 3) & ~std::size_t{3}; }

// One node of a version block: key, value and children, within [begin, end).
struct VersionNode {
    std::size_t end = 0;
    std::size_t value_length = 0;
    std::string key;
    std::size_t value = 0;  // offset of the value, after the key and its padding
};

std::optional<VersionNode> ReadNode(const std::vector<unsigned char>& block, std::size_t offset, std::size_t limit) {
    const auto length = LittleEndianField(block.data(), limit, offset, 2);
    const auto value_length = LittleEndianField(block.data(), limit, offset + 2, 2);
    if (!length || !value_length || *length < kNodeHeader + 2 || limit - offset < *length) return std::nullopt;
    VersionNode node;
    node.end = offset + *length;
    node.value_length = *value_length;
    std::size_t key_end = offset + kNodeHeader;
    while (key_end + 1 < node.end && (block[key_end] != 0 || block[key_end + 1] != 0)) key_end += 2;
    if (key_end + 1 >= node.end) return std::nullopt;
    auto key = Utf16BytesToUtf8(block.data() + offset + kNodeHeader, key_end - offset - kNodeHeader, false);
    if (!key) return std::nullopt;
    node.key = std::move(*key);
    node.value = std::min(AlignTo4(key_end + 2), node.end);
    return node;
}

// Calls visit(node) for each child in [begin, end); false when one cannot be read.
template <typename Visit>
bool ForEachChild(const std::vector<unsigned char>& block, std::size_t begin, std::size_t end, Visit visit) {
    for (std::size_t offset = AlignTo4(begin); offset < end; offset = AlignTo4(offset)) {
        const auto child = ReadNode(block, offset, end);
        if (!child || !visit(*child)) return false;
        offset = child->end;
    }
    return true;
}

// A String node's text: the value up to its first zero, as UTF-8.
std::optional<std::string> StringValue(const std::vector<unsigned char>& block, const VersionNode& node) {
    std::size_t end = node.value;
    while (end + 1 < node.end && (block[end] != 0 || block[end + 1] != 0)) end += 2;
    return Utf16BytesToUtf8(block.data() + node.value, end - node.value, false);
}

bool ReadStringTables(const std::vector<unsigned char>& block, const VersionNode& file_info, ImageVersion& version) {
    return ForEachChild(block, file_info.value, file_info.end, [&](const VersionNode& table) {
        return ForEachChild(block, table.value, table.end, [&](const VersionNode& entry) {
            const auto text = StringValue(block, entry);
            if (!text) return false;
            const auto [found, added] = version.texts.emplace(entry.key, *text);
            return added || found->second == *text;
        });
    });
}

std::optional<ImageVersion> ParseVersionBlock(const std::vector<unsigned char>& block) {
    const auto root = ReadNode(block, 0, block.size());
    if (!root || root->key != "VS_VERSION_INFO" || root->value_length != kFixedFileInfoSize ||
        root->end - root->value < kFixedFileInfoSize) {
        return std::nullopt;
    }
    const unsigned char* fixed = block.data() + root->value;
    if (*LittleEndianField(fixed, kFixedFileInfoSize, 0, 4) != kFixedFileInfoSignature) return std::nullopt;
    ImageVersion version;
    const std::uint32_t most = *LittleEndianField(fixed, kFixedFileInfoSize, 16, 4);
    const std::uint32_t least = *LittleEndianField(fixed, kFixedFileInfoSize, 20, 4);
    version.product_version.parts = {static_cast<std::uint16_t>(most >> 16), static_cast<std::uint16_t>(most),
                                     static_cast<std::uint16_t>(least >> 16), static_cast<std::uint16_t>(least)};
    const bool read = ForEachChild(block, root->value + kFixedFileInfoSize, root->end, [&](const VersionNode& child) {
        return child.key != "StringFileInfo" || ReadStringTables(block, child, version);
    });
    if (!read) return std::nullopt;
    return version;
}

}  // namespace

std::optional<FixedVersion> ParseFixedVersion(std::string_view text) {
    FixedVersion version;
    std::size_t index = 0;
    const char* position = text.data();
    const char* const end = text.data() + text.size();
    while (true) {
        std::uint16_t part = 0;
        const auto [stop, error] = std::from_chars(position, end, part);
        if (error != std::errc() || index == version.parts.size()) return std::nullopt;
        version.parts[index++] = part;
        if (stop == end) return version;
        if (*stop != '.') return std::nullopt;
        position = stop + 1;
    }
}

std::string FixedVersionText(const FixedVersion& version) {
    std::string text;
    for (const std::uint16_t part : version.parts) text += (text.empty() ? "" : ".") + std::to_string(part);
    return text;
}

std::optional<ImageVersion> ReadImageVersion(const ImageReader& read, std::uint64_t file_size) {
    const auto block = ReadVersionBlock(read, file_size);
    if (!block) return std::nullopt;
    return ParseVersionBlock(*block);
}

InstallerVersionCheck CheckInstallerVersion(const std::optional<ImageVersion>& image,
                                            std::string_view manifest_version, const FixedVersion& floor) {
    if (!image) return InstallerVersionCheck::Mismatch;
    const auto product_version = image->texts.find("ProductVersion");
    if (product_version == image->texts.end() || product_version->second != manifest_version) {
        return InstallerVersionCheck::Mismatch;
    }
    if (image->product_version < floor) return InstallerVersionCheck::BelowFloor;
    return InstallerVersionCheck::Accepted;
}

}  // namespace quorvane
