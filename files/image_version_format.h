#pragma once
// The version block of a PE file (its RT_VERSION resource), read through a
// reader of its bytes, and which installer versions a setup accepts. The block
// lies inside the bytes an Authenticode signature covers, so a signed
// installer cannot be relabelled as another version. No Windows header: the
// release tool reads setups and installers with the same code.

#include <array>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace quorvane {

// Reads count bytes at offset into bytes; false when the file has fewer.
using ImageReader = std::function<bool(std::uint64_t offset, unsigned char* bytes, std::size_t count)>;

// Four numbers, most significant first, as VS_FIXEDFILEINFO holds them.
struct FixedVersion {
    std::array<std::uint16_t, 4> parts = {};
    auto operator<=>(const FixedVersion&) const = default;
};

// "2026.12.0.0" (one to four numbers, the rest 0), each up to 65535.
std::optional<FixedVersion> ParseFixedVersion(std::string_view text);
std::string FixedVersionText(const FixedVersion& version);

struct ImageVersion {
    FixedVersion product_version;              // VS_FIXEDFILEINFO's
    std::map<std::string, std::string> texts;  // the string table's values by key, UTF-8
};

// The version block of the file: the first language of resource 1 of type
// RT_VERSION. nullopt when the file has none or it cannot be read, or its
// string tables give one key two values.
std::optional<ImageVersion> ReadImageVersion(const ImageReader& read, std::uint64_t file_size);

// The key under which a setup's version block names the lowest installer
// version it runs, as a FixedVersion text.
inline constexpr const char* kMinimumInstallerVersionKey = "MinimumInstallerVersion";

enum class InstallerVersionCheck {
    Accepted,
    Mismatch,    // no readable version block, or its ProductVersion is not the manifest's version text
    BelowFloor,  // its fixed product version is below the setup's floor
};

// Whether an installer whose version block is image may run as the manifest's
// version (UTF-8, compared exactly) under a setup whose floor is floor.
InstallerVersionCheck CheckInstallerVersion(const std::optional<ImageVersion>& image,
                                            std::string_view manifest_version, const FixedVersion& floor);

}  // namespace quorvane
