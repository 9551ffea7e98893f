#pragma once
// Where an executable keeps its Authenticode signature, which certificate
// tables a run accepts, and who a signer is, read from bytes alone. No Windows
// header: the reading of untrusted files is also built natively with the
// sanitizers and fuzzed, and the release tool applies the same rules.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
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

struct ByteRange {
    std::size_t offset = 0;
    std::size_t size = 0;
};

// The PKCS#7 SignedData of a table that holds nothing else, as offset and size
// within the table's bytes. The digest of a signature skips the whole table, so
// any byte in it beyond the one signature could carry a payload that the signer
// never saw. Accepted only when the table ends the file and holds exactly one
// entry, of revision 2 and type PKCS#7 SignedData, whose length rounded up to 8
// is the table's size, and whose DER blob fills it but for at most 7 zero bytes.
std::optional<ByteRange> StrictSignedData(const CertificateTable& table, const unsigned char* entries,
                                          std::size_t count, std::uint64_t file_size);

// Who a publisher is, as a CA validates it and Windows names it: the subject's
// country (C), organisation (O) and common name (CN) as UTF-8 text, each a
// sorted set of values. Other attributes (ST, L, OU, serial number, ...) and
// how each text is encoded change from one certificate to the next of the
// same publisher: a renewal, often at another CA, keeps these three.
struct PublisherIdentity {
    std::vector<std::string> country;
    std::vector<std::string> organization;
    std::vector<std::string> common_name;
};

// The identity of a DER-encoded subject name; nullopt when the name cannot be
// read, a C, O or CN value has no text encoding, or it has no CN.
std::optional<PublisherIdentity> ReadPublisherIdentity(const unsigned char* subject, std::size_t size);

// Every one of the three attributes with the same set of values; one absent
// from both counts as equal.
bool SamePublisherIdentity(const PublisherIdentity& first, const PublisherIdentity& second);

// "C=CN, O=Quorvane Software, CN=Quorvane Software", for people.
std::string DescribePublisherIdentity(const PublisherIdentity& identity);

// Who signed a file.
enum class SignatureState {
    Unsigned,    // no certificate table at all
    Signed,      // identity names the signer
    Unreadable,  // a signature that cannot be read, which nothing matches
};
struct Publisher {
    SignatureState state = SignatureState::Unreadable;
    PublisherIdentity identity;
};

// Whether an installer signed by installer may run under a setup signed by
// setup: both signed, by the same identity.
bool SamePublisher(const Publisher& setup, const Publisher& installer);

}  // namespace quorvane
