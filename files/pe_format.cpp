#include "files/pe_format.h"

namespace quorvane {
namespace {

constexpr std::size_t kPeHeaderOffsetField = 0x3C;
constexpr std::size_t kFileHeaderSize = 20;
constexpr std::uint16_t kPe32Magic = 0x10B;
constexpr std::uint16_t kPe32PlusMagic = 0x20B;
// Offsets in the optional header of its data directory count, for PE32 and PE32+.
constexpr std::size_t kPe32DirectoryCount = 92;
constexpr std::size_t kPe32PlusDirectoryCount = 108;
constexpr std::size_t kSectionHeaderSize = 40;

}  // namespace

std::optional<PeHeaders> ReadPeHeaders(const unsigned char* headers, std::size_t count) {
    if (count < 2 || headers[0] != 'M' || headers[1] != 'Z') return std::nullopt;
    const auto pe_offset = LittleEndianField(headers, count, kPeHeaderOffsetField, 4);
    if (!pe_offset) return std::nullopt;
    const auto signature = LittleEndianField(headers, count, *pe_offset, 4);
    if (!signature || *signature != 0x00004550) return std::nullopt;  // "PE\0\0"
    const std::size_t file_header = std::size_t{*pe_offset} + 4;
    const auto section_count = LittleEndianField(headers, count, file_header + 2, 2);
    const auto optional_size = LittleEndianField(headers, count, file_header + 16, 2);
    const std::size_t optional_header = file_header + kFileHeaderSize;
    const auto magic = LittleEndianField(headers, count, optional_header, 2);
    if (!section_count || !optional_size || !magic || (*magic != kPe32Magic && *magic != kPe32PlusMagic)) {
        return std::nullopt;
    }
    const std::size_t count_offset =
        optional_header + (*magic == kPe32Magic ? kPe32DirectoryCount : kPe32PlusDirectoryCount);
    const auto directory_count = LittleEndianField(headers, count, count_offset, 4);
    if (!directory_count) return std::nullopt;
    PeHeaders pe;
    pe.optional_header = optional_header;
    pe.directory_count = *directory_count;
    pe.directories = count_offset + 4;
    pe.sections = optional_header + *optional_size;
    pe.section_count = static_cast<std::uint16_t>(*section_count);
    return pe;
}

std::optional<DataDirectory> ReadDataDirectory(const PeHeaders& pe, const unsigned char* headers, std::size_t count,
                                               std::uint32_t index) {
    if (pe.directory_count <= index) return std::nullopt;
    const std::size_t entry = pe.directories + std::size_t{index} * 8;
    const auto address = LittleEndianField(headers, count, entry, 4);
    const auto size = LittleEndianField(headers, count, entry + 4, 4);
    if (!address || !size) return std::nullopt;
    return DataDirectory{*address, *size};
}

std::optional<std::uint64_t> FileOffsetOf(const PeHeaders& pe, const unsigned char* headers, std::size_t count,
                                          std::uint32_t address, std::uint32_t size) {
    for (std::size_t index = 0; index < pe.section_count; ++index) {
        const std::size_t section = pe.sections + index * kSectionHeaderSize;
        const auto virtual_address = LittleEndianField(headers, count, section + 12, 4);
        const auto raw_size = LittleEndianField(headers, count, section + 16, 4);
        const auto raw_offset = LittleEndianField(headers, count, section + 20, 4);
        if (!virtual_address || !raw_size || !raw_offset) return std::nullopt;
        if (address < *virtual_address || address - *virtual_address >= *raw_size) continue;
        const std::uint32_t within = address - *virtual_address;
        if (*raw_size - within < size) return std::nullopt;
        return std::uint64_t{*raw_offset} + within;
    }
    return std::nullopt;
}

}  // namespace quorvane
