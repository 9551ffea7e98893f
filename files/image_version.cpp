#include "files/image_version.h"

#include <stdexcept>

#include "files/held_file.h"
#include "files/image_version_format.h"
#include "files/installer_floor.h"
#include "files/text.h"
#include "files/trust_texts.h"

namespace quorvane {

void RequireInstallerVersion(const HeldFile& installer, const std::wstring& manifest_version) {
    LARGE_INTEGER file_size = {};
    std::optional<ImageVersion> image;
    if (GetFileSizeEx(installer.get(), &file_size)) {
        const ImageReader read = [&](std::uint64_t offset, unsigned char* bytes, std::size_t count) {
            return ReadFileAt(installer.get(), offset, bytes, count);
        };
        image = ReadImageVersion(read, static_cast<std::uint64_t>(file_size.QuadPart));
    }
    // The floor is a constant of the source; should it not read, nothing runs.
    const FixedVersion floor =
        ParseFixedVersion(QV_MINIMUM_INSTALLER_VERSION).value_or(FixedVersion{{0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF}});
    switch (CheckInstallerVersion(image, WideToUtf8(manifest_version), floor)) {
        case InstallerVersionCheck::Accepted:
            return;
        case InstallerVersionCheck::Mismatch:
            throw std::runtime_error(trust::kVersionMismatch);
        case InstallerVersionCheck::BelowFloor:
            throw std::runtime_error(trust::kVersionBelowFloor);
    }
}

}  // namespace quorvane
