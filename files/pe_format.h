#pragma once
// The headers of a PE file (32-bit PE32 and 64-bit PE32+ alike), read from its
// first bytes alone. No Windows header: every reader of an untrusted
// executable builds on this, natively too, with the sanitizers and fuzzers.

#include <cstddef>
#include <cstdint>
#include <optional>

namespace quorvane {

// A little-endian field of size bytes (at most 4) at offset, or nullopt when it
// lies beyond count.
inline std::optional<std::uint32_t> LittleEndianField(const unsigned char* bytes, std::size_t count,
                                                      std::size_t offset, std::size_t size) {
    if (offset > count || count - offset < size) return std::nullopt;
    std::uint32_t value = 0;
    for (std::size_t index = size; index > 0; --index) value = (value << 8) | bytes[offset + index - 1];
    return value;
}

struct PeHeaders {
    std::size_t optional_header = 0;    // file offset of the optional header
    std::uint32_t directory_count = 0;  // data directories the optional header declares
    std::size_t directories = 0;        // file offset of the first data directory
    std::size_t sections = 0;           // file offset of the section table
    std::uint16_t section_count = 0;
};

// The headers when the bytes start a PE file whose optional header, with its
// directory count, lies inside them.
std::optional<PeHeaders> ReadPeHeaders(const unsigned char* headers, std::size_t count);

// A data directory's two fields (address or file offset, and size); nullopt
// when the header declares fewer directories or the entry lies beyond count.
struct DataDirectory {
    std::uint32_t address = 0;
    std::uint32_t size = 0;
};
inline constexpr std::uint32_t kResourceDirectory = 2;
inline constexpr std::uint32_t kSecurityDirectory = 4;
std::optional<DataDirectory> ReadDataDirectory(const PeHeaders& pe, const unsigned char* headers, std::size_t count,
                                               std::uint32_t index);

// The file offset of an address in memory, when a section's raw data holds the
// whole range [address, address + size).
std::optional<std::uint64_t> FileOffsetOf(const PeHeaders& pe, const unsigned char* headers, std::size_t count,
                                          std::uint32_t address, std::uint32_t size);

}  // namespace quorvane
