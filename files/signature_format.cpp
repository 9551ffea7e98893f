#include "files/signature_format.h"

namespace quorvane {
namespace {

constexpr std::size_t kPeHeaderOffsetField = 0x3C;
constexpr std::size_t kFileHeaderSize = 20;
constexpr std::uint16_t kPe32Magic = 0x10B;
constexpr std::uint16_t kPe32PlusMagic = 0x20B;
// Offsets in the optional header of its data directory count and of the
// directories themselves, for PE32 and PE32+.
constexpr std::size_t kPe32DirectoryCount = 92;
constexpr std::size_t kPe32PlusDirectoryCount = 108;
constexpr std::uint32_t kSecurityDirectory = 4;
constexpr std::size_t kChecksumOffset = 64;
constexpr std::uint16_t kPkcsSignedData = 2;
constexpr std::size_t kCertificateEntryHeader = 8;

std::uint32_t ReadLittleEndian(const unsigned char* bytes, std::size_t size) {
    std::uint32_t value = 0;
    for (std::size_t index = size; index > 0; --index) value = (value << 8) | bytes[index - 1];
    return value;
}

// A field of size bytes at offset, or nullopt when it lies beyond count.
std::optional<std::uint32_t> Field(const unsigned char* bytes, std::size_t count, std::size_t offset,
                                   std::size_t size) {
    if (offset > count || count - offset < size) return std::nullopt;
    return ReadLittleEndian(bytes + offset, size);
}

}  // namespace

CertificateTable LocateCertificateTable(const unsigned char* headers, std::size_t count, std::uint64_t file_size) {
    const CertificateTable malformed;
    if (count < 2 || headers[0] != 'M' || headers[1] != 'Z') return malformed;
    const auto pe_offset = Field(headers, count, kPeHeaderOffsetField, 4);
    if (!pe_offset) return malformed;
    const auto signature = Field(headers, count, *pe_offset, 4);
    if (!signature || *signature != 0x00004550) return malformed;  // "PE\0\0"
    const std::size_t optional_header = std::size_t{*pe_offset} + 4 + kFileHeaderSize;
    const auto magic = Field(headers, count, optional_header, 2);
    if (!magic || (*magic != kPe32Magic && *magic != kPe32PlusMagic)) return malformed;
    const std::size_t count_offset =
        optional_header + (*magic == kPe32Magic ? kPe32DirectoryCount : kPe32PlusDirectoryCount);
    const auto directories = Field(headers, count, count_offset, 4);
    if (!directories) return malformed;
    // The security entry alone holds a file offset, not an address in memory.
    const std::size_t entry = count_offset + 4 + kSecurityDirectory * 8;
    CertificateTable table{CertificateTableState::Absent, 0, 0, optional_header + kChecksumOffset, entry};
    if (*directories <= kSecurityDirectory) return table;
    const auto offset = Field(headers, count, entry, 4);
    const auto size = Field(headers, count, entry + 4, 4);
    if (!offset || !size) return malformed;
    if (*offset == 0 && *size == 0) return table;
    if (*size < kCertificateEntryHeader || *size > kCertificateTableLimit || *offset < entry + 8 ||
        *offset > file_size || file_size - *offset < *size) {
        return malformed;
    }
    table.state = CertificateTableState::Present;
    table.offset = *offset;
    table.size = *size;
    return table;
}

std::optional<ByteRange> FirstSignedData(const unsigned char* table, std::size_t count) {
    const auto length = Field(table, count, 0, 4);
    const auto type = Field(table, count, 6, 2);
    if (!length || !type || *type != kPkcsSignedData) return std::nullopt;
    if (*length <= kCertificateEntryHeader || *length > count) return std::nullopt;
    return ByteRange{kCertificateEntryHeader, *length - kCertificateEntryHeader};
}

bool SamePublisher(const Publisher& setup, const Publisher& installer) {
    return setup.is_signed && installer.is_signed && !setup.subject.empty() && setup.subject == installer.subject;
}

}  // namespace quorvane
