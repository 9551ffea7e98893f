// The readers of a downloaded executable, on bytes a server chose: the
// certificate table, the one signature a strict table holds, and the version
// block. Input: the whole file. A table found lies inside the file and under
// the limit; a signature found lies inside the table, which ends the file; a
// version block read is one the readers agree on twice.

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "files/image_version_format.h"
#include "files/signature_format.h"
#include "tests/fuzz/fuzz_support.h"

using quorvane::fuzz::Require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::size_t headers = size < quorvane::kExecutableHeadersSize ? size : quorvane::kExecutableHeadersSize;
    const quorvane::CertificateTable table = quorvane::LocateCertificateTable(data, headers, size);
    if (table.state == quorvane::CertificateTableState::Present) {
        Require(table.offset <= size && table.size <= size - table.offset, "the table lies in the file");
        Require(table.size >= 8 && table.size <= quorvane::kCertificateTableLimit, "the table's size is bounded");
        const auto signed_data = quorvane::StrictSignedData(table, data + table.offset, table.size, size);
        if (signed_data) {
            Require(table.offset + table.size == size, "a strict table ends the file");
            Require(signed_data->offset == 8 && signed_data->size > 0 && table.size - 8 - signed_data->size < 8,
                    "the signature fills its table but for fewer than 8 bytes");
        }
    }
    const quorvane::ImageReader read = [&](std::uint64_t offset, unsigned char* bytes, std::size_t count) {
        if (offset > size || size - offset < count) return false;
        if (count > 0) std::memcpy(bytes, data + offset, count);
        return true;
    };
    const auto version = quorvane::ReadImageVersion(read, size);
    const auto again = quorvane::ReadImageVersion(read, size);
    Require(version.has_value() == again.has_value(), "the version block reads the same twice");
    // The identity reader takes any bytes as a subject name.
    const auto identity = quorvane::ReadPublisherIdentity(data, size);
    if (identity) Require(!identity->common_name.empty(), "an identity has a common name");
    return 0;
}
