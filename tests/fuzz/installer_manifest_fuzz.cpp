// ParseInstallerManifest on arbitrary bodies: no memory fault, no undefined
// behaviour, only the documented failures, and an accepted manifest holds what
// the validation promises.

#include <cstddef>
#include <cstdint>
#include <string>

#include "files/manifest.h"
#include "tests/fuzz/fuzz_support.h"

using quorvane::fuzz::Require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string body(reinterpret_cast<const char*>(data), size);
    quorvane::InstallerManifest manifest;
    const bool accepted =
        quorvane::fuzz::SucceedsOrFailsAsDocumented([&] { manifest = quorvane::ParseInstallerManifest(body); });
    if (!accepted) return 0;
    Require(!manifest.version.empty(), "an accepted manifest has a version");
    Require(!manifest.url.empty(), "an accepted manifest has an address");
    Require(manifest.size > 0, "an accepted manifest has a size");
    Require(quorvane::IsSha256Hex(manifest.sha256), "an accepted digest is 64 hexadecimal digits");
    for (const char digit : manifest.sha256) Require(digit < 'A' || digit > 'F', "an accepted digest is lower case");
    return 0;
}
