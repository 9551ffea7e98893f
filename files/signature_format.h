#pragma once
// Where an executable keeps its Authenticode signature, read from its bytes
// alone, and whose signature a run accepts. No Windows header: the reading of
// untrusted files is also built natively with the sanitizers and fuzzed.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace quorvane {

// How many bytes from the start of a file hold every header that
// LocateCertificateTable reads.
inline constexpr std::size_t kExecutableHeadersSize = 4096;
// The largest certificate table read; real signatures, counter-signatures
// included, are a few tens of kilobytes.
inline constexpr std::uint32_t kCertificateTableLimit = 1u << 20;

enum class CertificateTableState {
    Absent,     // a PE file without a certificate table: unsigned
    Present,    // offset and size name the table
    Malformed,  // not a PE file, or a table outside the file or over the limit
};

struct CertificateTable {
    CertificateTableState state = CertificateTableState::Malformed;
    std::uint64_t offset = 0;
    std::uint32_t size = 0;
    // What an Authenticode image digest skips besides the table: the header
    // checksum (4 bytes) and the security directory entry (8 bytes). Set
    // whenever the state is not Malformed.
    std::uint64_t checksum_offset = 0;
    std::uint64_t entry_offset = 0;
};

// The certificate table that the security entry of the PE headers names; a
// table that overlaps the headers is malformed. headers: the file's first
// bytes (up to kExecutableHeadersSize); file_size: the whole file's size.
CertificateTable LocateCertificateTable(const unsigned char* headers, std::size_t count, std::uint64_t file_size);

// Where the table's first entry keeps its PKCS#7 SignedData (the signature
// Windows verifies), as offset and size within the table's bytes; nullopt when
// that entry is not a PKCS#7 signature or does not fit.
struct ByteRange {
    std::size_t offset = 0;
    std::size_t size = 0;
};
std::optional<ByteRange> FirstSignedData(const unsigned char* table, std::size_t count);

// Who signed a file: nobody, or the DER-encoded subject name of its signer
// certificate. A signature that is present but cannot be read is signed with
// an empty subject, which nothing matches.
struct Publisher {
    bool is_signed = false;
    std::vector<unsigned char> subject;
};

// Whether an installer signed by installer may run under a setup signed by
// setup: the same whole subject name, byte for byte. A renewed certificate of
// the same publisher keeps its subject; its key and thumbprint change.
bool SamePublisher(const Publisher& setup, const Publisher& installer);

}  // namespace quorvane
