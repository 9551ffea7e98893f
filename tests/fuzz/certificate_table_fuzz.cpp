// The signature's place in a downloaded file, read from bytes a server chose.
// Input: eight bytes of file size (little-endian), then the file's first
// bytes. A table found lies inside the file and under the limit; a signature
// found lies inside the table's bytes.

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "files/signature_format.h"
#include "tests/fuzz/fuzz_support.h"

using quorvane::fuzz::Require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 8) return 0;
    std::uint64_t file_size = 0;
    std::memcpy(&file_size, data, 8);
    const unsigned char* headers = data + 8;
    const std::size_t count = size - 8;
    const quorvane::CertificateTable table = quorvane::LocateCertificateTable(headers, count, file_size);
    if (table.state == quorvane::CertificateTableState::Present) {
        Require(table.offset <= file_size && table.size <= file_size - table.offset, "the table lies in the file");
        Require(table.size >= 8 && table.size <= quorvane::kCertificateTableLimit, "the table's size is bounded");
    }
    const auto signed_data = quorvane::FirstSignedData(headers, count);
    if (signed_data) {
        Require(signed_data->offset == 8 && signed_data->size > 0 && signed_data->size <= count - 8,
                "the signature lies in the table");
    }
    return 0;
}
