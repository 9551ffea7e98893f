#pragma once
// The installer manifest and the segment manifest (also the local segment
// record), read by a flat key scanner. The scanner is not a JSON parser: it
// finds a quoted key anywhere in the text and reads the value after the next
// colon, and accepts exactly what these functions document.

#include <cstddef>
#include <cstdint>
#include <string>

namespace quorvane {

struct InstallerManifest {
    std::wstring version;
    std::wstring url;
    std::string sha256;  // 64 lower-case hexadecimal digits
    std::uint64_t size = 0;
};

struct SegmentManifest {
    std::wstring version;
    std::wstring url;
    std::string format;  // always kSegmentManifestFormat after validation
    std::string sha256;  // 64 lower-case hexadecimal digits
    std::uint64_t schema_version = 0;
    std::uint64_t rows = 0;
};

inline constexpr const char* kSegmentManifestFormat = "quorvane-segment-qvrdb-v1";

// Finds "key" at or after start, then a double-quoted value after the next
// colon. Backslash takes the next character: n, r and t give line feed,
// carriage return and tab; any other character stands for itself (so \u00e9
// gives u00e9). value is replaced only when the result is true.
bool ReadStringField(const std::string& text, std::size_t start, const std::string& key, std::string& value);

// Finds "key" at or after start, then the longest run of ASCII digits after the
// next colon; whatever follows the run is ignored (12.5 gives 12). Raises
// std::out_of_range("stoull") when the digits do not fit 64 bits.
bool ReadUnsignedField(const std::string& text, std::size_t start, const std::string& key, std::uint64_t& value);

// Exactly 64 bytes, each 0-9, a-f or A-F.
bool IsSha256Hex(const std::string& text);

// Both raise std::runtime_error with the first validation message that applies.
InstallerManifest ParseInstallerManifest(const std::string& body);
SegmentManifest ParseSegmentManifest(const std::string& body);

}  // namespace quorvane
