#include "files/signature_format.h"

#include <algorithm>

#include "files/code_points.h"
#include "files/pe_format.h"

namespace quorvane {
namespace {

constexpr std::size_t kChecksumOffset = 64;
constexpr std::uint16_t kCertificateRevision2 = 0x0200;
constexpr std::uint16_t kPkcsSignedData = 2;
constexpr std::size_t kCertificateEntryHeader = 8;
constexpr std::size_t kTableAlignment = 8;

// One DER element: its tag, and where its contents lie.
struct DerElement {
    unsigned char tag = 0;
    std::size_t contents = 0;
    std::size_t length = 0;
    std::size_t end() const { return contents + length; }
};

// The element at offset within bytes[0, end): definite lengths of up to four
// bytes only, as DER has them.
std::optional<DerElement> ReadDerElement(const unsigned char* bytes, std::size_t offset, std::size_t end) {
    if (offset >= end || end - offset < 2) return std::nullopt;
    DerElement element;
    element.tag = bytes[offset];
    std::size_t position = offset + 1;
    std::size_t length = bytes[position++];
    if (length & 0x80) {
        const std::size_t digits = length & 0x7F;
        if (digits == 0 || digits > 4 || end - position < digits) return std::nullopt;
        length = 0;
        for (std::size_t index = 0; index < digits; ++index) length = (length << 8) | bytes[position++];
    }
    if (end - position < length) return std::nullopt;
    element.contents = position;
    element.length = length;
    return element;
}

constexpr unsigned char kSequence = 0x30;
constexpr unsigned char kSet = 0x31;
constexpr unsigned char kObjectIdentifier = 0x06;
constexpr unsigned char kCountryOid[] = {0x55, 0x04, 0x06};
constexpr unsigned char kOrganizationOid[] = {0x55, 0x04, 0x0A};
constexpr unsigned char kCommonNameOid[] = {0x55, 0x04, 0x03};

// Well-formed UTF-8, as it stands.
std::optional<std::string> ReadUtf8(const unsigned char* bytes, std::size_t size) {
    std::string text;
    std::size_t index = 0;
    while (index < size) {
        const unsigned char lead = bytes[index++];
        std::size_t continuations = 0;
        if (lead >= 0x80) {
            if (lead < 0xC2 || lead > 0xF4) return std::nullopt;
            continuations = lead < 0xE0 ? 1 : lead < 0xF0 ? 2 : 3;
        }
        if (size - index < continuations) return std::nullopt;
        char32_t value = continuations == 0 ? lead : lead & (0x3Fu >> continuations);
        for (std::size_t count = 0; count < continuations; ++count) {
            const unsigned char byte = bytes[index++];
            if ((byte & 0xC0) != 0x80) return std::nullopt;
            value = (value << 6) | (byte & 0x3Fu);
        }
        const char32_t least[] = {0, 0x80, 0x800, 0x10000};
        if (value < least[continuations] || !IsScalarValue(value)) return std::nullopt;
        AppendUtf8(text, value);
    }
    return text;
}

// Big-endian UTF-32.
std::optional<std::string> ReadUtf32(const unsigned char* bytes, std::size_t size) {
    if (size % 4 != 0) return std::nullopt;
    std::string text;
    for (std::size_t index = 0; index < size; index += 4) {
        const char32_t value = (char32_t{bytes[index]} << 24) | (char32_t{bytes[index + 1]} << 16) |
                               (char32_t{bytes[index + 2]} << 8) | bytes[index + 3];
        if (!IsScalarValue(value)) return std::nullopt;
        AppendUtf8(text, value);
    }
    return text;
}

// A directory string as UTF-8, whichever of the string types holds it.
std::optional<std::string> ReadDirectoryString(unsigned char tag, const unsigned char* bytes, std::size_t size) {
    switch (tag) {
        case 0x0C:  // UTF8String
            return ReadUtf8(bytes, size);
        case 0x13:  // PrintableString
        case 0x16:  // IA5String
        case 0x1A:  // VisibleString
            if (std::any_of(bytes, bytes + size, [](unsigned char byte) { return byte >= 0x80; })) return std::nullopt;
            return std::string(bytes, bytes + size);
        case 0x14: {  // TeletexString, in practice ISO 8859-1
            std::string text;
            for (std::size_t index = 0; index < size; ++index) AppendUtf8(text, bytes[index]);
            return text;
        }
        case 0x1E:  // BMPString
            return Utf16BytesToUtf8(bytes, size, true);
        case 0x1C:  // UniversalString
            return ReadUtf32(bytes, size);
        default:
            return std::nullopt;
    }
}

template <std::size_t size>
bool IsOid(const unsigned char* bytes, const DerElement& oid, const unsigned char (&wanted)[size]) {
    return oid.length == size && std::equal(wanted, wanted + size, bytes + oid.contents);
}

// The values of one attribute, or nullptr for an attribute the identity ignores.
std::vector<std::string>* ValuesFor(PublisherIdentity& identity, const unsigned char* bytes, const DerElement& oid) {
    if (IsOid(bytes, oid, kCountryOid)) return &identity.country;
    if (IsOid(bytes, oid, kOrganizationOid)) return &identity.organization;
    if (IsOid(bytes, oid, kCommonNameOid)) return &identity.common_name;
    return nullptr;
}

// Reads one AttributeTypeAndValue into the identity; false when it is unreadable.
bool ReadAttribute(const unsigned char* bytes, const DerElement& attribute, PublisherIdentity& identity) {
    if (attribute.tag != kSequence) return false;
    const auto oid = ReadDerElement(bytes, attribute.contents, attribute.end());
    if (!oid || oid->tag != kObjectIdentifier) return false;
    const auto value = ReadDerElement(bytes, oid->end(), attribute.end());
    if (!value || value->end() != attribute.end()) return false;
    std::vector<std::string>* values = ValuesFor(identity, bytes, *oid);
    if (values == nullptr) return true;
    auto text = ReadDirectoryString(value->tag, bytes + value->contents, value->length);
    if (!text) return false;
    values->push_back(std::move(*text));
    return true;
}

void SortAsSet(std::vector<std::string>& values) {
    std::sort(values.begin(), values.end());
    values.erase(std::unique(values.begin(), values.end()), values.end());
}

void AppendAttribute(std::string& text, const char* name, const std::vector<std::string>& values) {
    if (values.empty()) return;
    if (!text.empty()) text += ", ";
    text += name;
    text += '=';
    for (std::size_t index = 0; index < values.size(); ++index) {
        if (index > 0) text += '+';
        text += values[index];
    }
}

}  // namespace

CertificateTable LocateCertificateTable(const unsigned char* headers, std::size_t count, std::uint64_t file_size) {
    const CertificateTable malformed;
    const auto pe = ReadPeHeaders(headers, count);
    if (!pe) return malformed;
    // The security entry alone holds a file offset, not an address in memory.
    const std::size_t entry = pe->directories + kSecurityDirectory * 8;
    CertificateTable table{CertificateTableState::Absent, 0, 0, pe->optional_header + kChecksumOffset, entry};
    if (pe->directory_count <= kSecurityDirectory) return table;
    const auto security = ReadDataDirectory(*pe, headers, count, kSecurityDirectory);
    if (!security) return malformed;
    if (security->address == 0 && security->size == 0) return table;
    if (security->size < kCertificateEntryHeader || security->size > kCertificateTableLimit ||
        security->address < entry + 8 || security->address > file_size ||
        file_size - security->address < security->size) {
        return malformed;
    }
    table.state = CertificateTableState::Present;
    table.offset = security->address;
    table.size = security->size;
    return table;
}

std::optional<ByteRange> StrictSignedData(const CertificateTable& table, const unsigned char* entries,
                                          std::size_t count, std::uint64_t file_size) {
    if (table.state != CertificateTableState::Present || count != table.size) return std::nullopt;
    if (table.offset + table.size != file_size) return std::nullopt;
    const auto length = LittleEndianField(entries, count, 0, 4);
    const auto revision = LittleEndianField(entries, count, 4, 2);
    const auto type = LittleEndianField(entries, count, 6, 2);
    if (!length || !revision || !type || *revision != kCertificateRevision2 || *type != kPkcsSignedData) {
        return std::nullopt;
    }
    if (*length <= kCertificateEntryHeader || *length > count) return std::nullopt;
    if ((std::size_t{*length} + kTableAlignment - 1) / kTableAlignment * kTableAlignment != count) return std::nullopt;
    const auto blob = ReadDerElement(entries, kCertificateEntryHeader, *length);
    if (!blob || blob->tag != kSequence) return std::nullopt;
    // At most 7 zero bytes follow the blob, whether the entry's length counts them or not.
    if (count - blob->end() >= kTableAlignment) return std::nullopt;
    if (std::any_of(entries + blob->end(), entries + count, [](unsigned char byte) { return byte != 0; })) {
        return std::nullopt;
    }
    return ByteRange{kCertificateEntryHeader, blob->end() - kCertificateEntryHeader};
}

std::optional<PublisherIdentity> ReadPublisherIdentity(const unsigned char* subject, std::size_t size) {
    const auto name = ReadDerElement(subject, 0, size);
    if (!name || name->tag != kSequence || name->end() != size) return std::nullopt;
    PublisherIdentity identity;
    for (std::size_t position = name->contents; position < name->end();) {
        const auto relative_name = ReadDerElement(subject, position, name->end());
        if (!relative_name || relative_name->tag != kSet) return std::nullopt;
        for (std::size_t inner = relative_name->contents; inner < relative_name->end();) {
            const auto attribute = ReadDerElement(subject, inner, relative_name->end());
            if (!attribute || !ReadAttribute(subject, *attribute, identity)) return std::nullopt;
            inner = attribute->end();
        }
        position = relative_name->end();
    }
    if (identity.common_name.empty()) return std::nullopt;
    SortAsSet(identity.country);
    SortAsSet(identity.organization);
    SortAsSet(identity.common_name);
    return identity;
}

bool SamePublisherIdentity(const PublisherIdentity& first, const PublisherIdentity& second) {
    return first.country == second.country && first.organization == second.organization &&
           first.common_name == second.common_name;
}

std::string DescribePublisherIdentity(const PublisherIdentity& identity) {
    std::string text;
    AppendAttribute(text, "C", identity.country);
    AppendAttribute(text, "O", identity.organization);
    AppendAttribute(text, "CN", identity.common_name);
    return text;
}

bool SamePublisher(const Publisher& setup, const Publisher& installer) {
    return setup.state == SignatureState::Signed && installer.state == SignatureState::Signed &&
           !setup.identity.common_name.empty() && SamePublisherIdentity(setup.identity, installer.identity);
}

}  // namespace quorvane
