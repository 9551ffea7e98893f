// The readers of untrusted executables: the certificate table a signed setup
// accepts, the publisher identity it compares, and the version block it pins,
// on PE files built here byte by byte, 32-bit and 64-bit.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "files/image_version_format.h"
#include "files/signature_format.h"

namespace quorvane {
namespace {

using Bytes = std::vector<unsigned char>;

void Put(Bytes& bytes, std::size_t offset, std::uint32_t value, std::size_t size) {
    if (bytes.size() < offset + size) bytes.resize(offset + size);
    for (std::size_t index = 0; index < size; ++index) bytes[offset + index] = static_cast<unsigned char>(value >> (8 * index));
}

Bytes Der(unsigned char tag, const Bytes& contents) {
    Bytes element{tag};
    if (contents.size() < 0x80) {
        element.push_back(static_cast<unsigned char>(contents.size()));
    } else {
        element.insert(element.end(), {0x82, static_cast<unsigned char>(contents.size() >> 8),
                                       static_cast<unsigned char>(contents.size())});
    }
    element.insert(element.end(), contents.begin(), contents.end());
    return element;
}

Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }

Bytes Utf16(const std::string& ascii, bool big_endian) {
    Bytes units;
    for (const char character : ascii) {
        const auto low = static_cast<unsigned char>(character);
        if (big_endian) units.insert(units.end(), {0, low});
        else units.insert(units.end(), {low, 0});
    }
    return units;
}

// --- a PE file: headers, one resource section, and a certificate table ---

constexpr std::size_t kPeOffset = 0x40;
constexpr std::uint32_t kSectionAddress = 0x1000;
constexpr std::size_t kSectionOffset = 0x400;

struct Image {
    Bytes bytes;
    std::size_t security_entry = 0;
};

// headers for PE32 (pe32_plus false) or PE32+, with resources as its one section.
Image BuildImage(bool pe32_plus, const Bytes& resources, std::uint32_t directory_count = 16) {
    Image image;
    Bytes& bytes = image.bytes;
    bytes.assign(kSectionOffset, 0);
    bytes[0] = 'M';
    bytes[1] = 'Z';
    Put(bytes, 0x3C, kPeOffset, 4);
    Put(bytes, kPeOffset, 0x00004550, 4);
    const std::size_t file_header = kPeOffset + 4;
    Put(bytes, file_header + 2, 1, 2);  // one section
    const std::size_t optional = file_header + 20;
    const std::size_t directories = optional + (pe32_plus ? 112 : 96);
    Put(bytes, file_header + 16, static_cast<std::uint32_t>(directories + 16 * 8 - optional), 2);
    Put(bytes, optional, pe32_plus ? 0x20B : 0x10B, 2);
    Put(bytes, directories - 4, directory_count, 4);
    Put(bytes, directories + 2 * 8, kSectionAddress, 4);
    Put(bytes, directories + 2 * 8 + 4, static_cast<std::uint32_t>(resources.size()), 4);
    image.security_entry = directories + 4 * 8;
    const std::size_t section = directories + 16 * 8;
    Put(bytes, section + 12, kSectionAddress, 4);
    Put(bytes, section + 16, static_cast<std::uint32_t>(resources.size()), 4);
    Put(bytes, section + 20, static_cast<std::uint32_t>(kSectionOffset), 4);
    bytes.insert(bytes.end(), resources.begin(), resources.end());
    bytes.resize((bytes.size() + 7) / 8 * 8);
    return image;
}

// Appends a certificate table of the given entries and points the security directory at it.
void AppendTable(Image& image, const Bytes& table) {
    Put(image.bytes, image.security_entry, static_cast<std::uint32_t>(image.bytes.size()), 4);
    Put(image.bytes, image.security_entry + 4, static_cast<std::uint32_t>(table.size()), 4);
    image.bytes.insert(image.bytes.end(), table.begin(), table.end());
}

// One entry: length, revision, type, the blob and padding zeros; length_padding
// of them counted in the entry's length.
Bytes Entry(const Bytes& blob, std::size_t padding, std::size_t length_padding, std::uint32_t revision = 0x0200,
            std::uint32_t type = 2) {
    Bytes entry;
    Put(entry, 0, static_cast<std::uint32_t>(8 + blob.size() + length_padding), 4);
    Put(entry, 4, revision, 2);
    Put(entry, 6, type, 2);
    entry.insert(entry.end(), blob.begin(), blob.end());
    entry.resize(entry.size() + padding, 0);
    return entry;
}

std::optional<ByteRange> StrictOf(const Image& image) {
    const CertificateTable table = LocateCertificateTable(
        image.bytes.data(), std::min(image.bytes.size(), kExecutableHeadersSize), image.bytes.size());
    if (table.state != CertificateTableState::Present) return std::nullopt;
    return StrictSignedData(table, image.bytes.data() + table.offset, table.size, image.bytes.size());
}

TEST(CertificateTable, OnlyOneSignatureAndItsPaddingAtTheEndOfTheFile) {
    const Bytes blob = Der(0x30, Bytes(27, 0x42));     // 29 bytes: 8 + 29 = 37, padded to 40
    const Bytes aligned = Der(0x30, Bytes(30, 0x42));  // 32 bytes: 8 + 32 = 40
    const struct {
        const char* name;
        Bytes table;
        bool appended_after = false;
        bool accepted;
    } cases[] = {
        {"3 padding bytes outside the length", Entry(blob, 3, 0), false, true},
        {"3 padding bytes inside the length", Entry(blob, 3, 3), false, true},
        {"an entry longer than its table", Entry(blob, 3, 4), false, false},
        {"11 padding bytes (a payload of 8)", Entry(blob, 11, 11), false, false},
        {"no padding after a blob that ends aligned", Entry(aligned, 0, 0), false, true},
        {"8 padding bytes after it", Entry(aligned, 8, 8), false, false},
        {"a padding byte that is not zero", [&] { Bytes table = Entry(blob, 3, 3); table.back() = 1; return table; }(),
         false, false},
        {"a second entry after the first", [&] { Bytes table = Entry(blob, 3, 3); const Bytes second = Entry(blob, 3, 3);
                                                 table.insert(table.end(), second.begin(), second.end()); return table; }(),
         false, false},
        {"a short length", [&] { Bytes table = Entry(blob, 3, 3); Put(table, 0, 8 + 20, 4); return table; }(), false,
         false},
        {"revision 1", Entry(blob, 3, 3, 0x0100), false, false},
        {"an X.509 entry", Entry(blob, 3, 3, 0x0200, 1), false, false},
        {"a blob that is no sequence", Entry(Der(0x31, Bytes(27, 0x42)), 3, 3), false, false},
        {"bytes after the table", Entry(blob, 3, 3), true, false},
    };
    for (const bool pe32_plus : {false, true}) {
        for (const auto& each : cases) {
            Image image = BuildImage(pe32_plus, Bytes(64, 0));
            AppendTable(image, each.table);
            if (each.appended_after) image.bytes.resize(image.bytes.size() + 8, 0);
            const auto found = StrictOf(image);
            EXPECT_EQ(found.has_value(), each.accepted) << each.name << (pe32_plus ? " (PE32+)" : " (PE32)");
            if (found) EXPECT_EQ(found->size + 8 + (found->size == blob.size() ? 3 : 0), each.table.size()) << each.name;
        }
    }
}

TEST(CertificateTable, TheSecurityEntryIsReadAtItsPlaceInBothHeaderKinds) {
    for (const bool pe32_plus : {false, true}) {
        Image image = BuildImage(pe32_plus, Bytes(64, 0));
        const std::size_t unsigned_size = image.bytes.size();
        AppendTable(image, Entry(Der(0x30, Bytes(27, 1)), 3, 0));
        const CertificateTable table = LocateCertificateTable(image.bytes.data(), kExecutableHeadersSize,
                                                              image.bytes.size());
        EXPECT_EQ(table.state, CertificateTableState::Present);
        EXPECT_EQ(table.offset, unsigned_size);
        EXPECT_EQ(table.entry_offset, image.security_entry);
        EXPECT_EQ(table.checksum_offset, kPeOffset + 24 + 64);
        // Four directories end before the security entry: the file counts as unsigned.
        Image four = BuildImage(pe32_plus, Bytes(64, 0), 4);
        AppendTable(four, Entry(Der(0x30, Bytes(27, 1)), 3, 0));
        EXPECT_EQ(LocateCertificateTable(four.bytes.data(), kExecutableHeadersSize, four.bytes.size()).state,
                  CertificateTableState::Absent);
    }
}

// --- the publisher identity ---

constexpr unsigned char kCountry = 0x06, kState = 0x08, kLocality = 0x07, kOrganization = 0x0A, kCommonName = 0x03;
struct Attribute {
    unsigned char oid;
    unsigned char tag;
    Bytes value;
};

// A subject name of one attribute per relative name, or all in one when together.
Bytes Name(const std::vector<Attribute>& attributes, bool together = false) {
    Bytes sequence, set;
    for (const Attribute& attribute : attributes) {
        Bytes pair = Der(0x06, {0x55, 0x04, attribute.oid});
        const Bytes value = Der(attribute.tag, attribute.value);
        pair.insert(pair.end(), value.begin(), value.end());
        const Bytes encoded = Der(0x30, pair);
        if (together) {
            set.insert(set.end(), encoded.begin(), encoded.end());
        } else {
            const Bytes relative = Der(0x31, encoded);
            sequence.insert(sequence.end(), relative.begin(), relative.end());
        }
    }
    if (together) sequence = Der(0x31, set);
    return Der(0x30, sequence);
}

std::optional<PublisherIdentity> IdentityOf(const Bytes& name) { return ReadPublisherIdentity(name.data(), name.size()); }

TEST(PublisherIdentity, CountryOrganisationAndCommonNameWhateverTheirEncodingAndOrder) {
    const Bytes setup = Name({{kCountry, 0x13, Text("CN")}, {kOrganization, 0x0C, Text("Quorvane Software")},
                              {kCommonName, 0x0C, Text("Quorvane Software")}});
    const auto reference = IdentityOf(setup);
    ASSERT_TRUE(reference);
    EXPECT_EQ(DescribePublisherIdentity(*reference), "C=CN, O=Quorvane Software, CN=Quorvane Software");
    const struct {
        const char* name;
        Bytes subject;
        bool same;
    } cases[] = {
        {"a renewal at another CA: PrintableString, BMPString, ST and L added, another order",
         Name({{kCommonName, 0x1E, Utf16("Quorvane Software", true)}, {kState, 0x0C, Text("Zhejiang")},
               {kLocality, 0x0C, Text("Hangzhou")}, {kCountry, 0x13, Text("CN")},
               {kOrganization, 0x13, Text("Quorvane Software")}}),
         true},
        {"all in one relative name", Name({{kCountry, 0x13, Text("CN")}, {kOrganization, 0x0C, Text("Quorvane Software")},
                                           {kCommonName, 0x0C, Text("Quorvane Software")}}, true),
         true},
        {"the same CN of another organisation",
         Name({{kCountry, 0x13, Text("CN")}, {kOrganization, 0x0C, Text("Quorvane Tools")},
               {kCommonName, 0x0C, Text("Quorvane Software")}}),
         false},
        {"no O", Name({{kCountry, 0x13, Text("CN")}, {kCommonName, 0x0C, Text("Quorvane Software")}}), false},
        {"a second O value", Name({{kCountry, 0x13, Text("CN")}, {kOrganization, 0x0C, Text("Quorvane Software")},
                                   {kOrganization, 0x0C, Text("Other")}, {kCommonName, 0x0C, Text("Quorvane Software")}}),
         false},
        {"another country", Name({{kCountry, 0x13, Text("HK")}, {kOrganization, 0x0C, Text("Quorvane Software")},
                                  {kCommonName, 0x0C, Text("Quorvane Software")}}),
         false},
    };
    for (const auto& each : cases) {
        const auto identity = IdentityOf(each.subject);
        ASSERT_TRUE(identity) << each.name;
        EXPECT_EQ(SamePublisherIdentity(*reference, *identity), each.same) << each.name;
        const Publisher signer{SignatureState::Signed, *identity};
        EXPECT_EQ(SamePublisher({SignatureState::Signed, *reference}, signer), each.same) << each.name;
    }
    // An individual's certificate has no O: C and CN decide.
    const auto person = IdentityOf(Name({{kCountry, 0x13, Text("CN")}, {kCommonName, 0x0C, Text("Li Wei")}}));
    const auto renewed = IdentityOf(Name({{kCommonName, 0x13, Text("Li Wei")}, {kCountry, 0x13, Text("CN")}}));
    ASSERT_TRUE(person && renewed);
    EXPECT_TRUE(SamePublisherIdentity(*person, *renewed));
    // Several values of one attribute are a set: order and repetition do not count.
    const auto two = IdentityOf(Name({{kCountry, 0x13, Text("CN")}, {kCountry, 0x13, Text("HK")},
                                      {kOrganization, 0x0C, Text("Quorvane")}, {kOrganization, 0x0C, Text("Lanxiu")},
                                      {kCommonName, 0x0C, Text("Q")}, {kCommonName, 0x0C, Text("L")}}));
    const auto swapped = IdentityOf(Name({{kCommonName, 0x0C, Text("L")}, {kCountry, 0x13, Text("HK")},
                                          {kOrganization, 0x13, Text("Lanxiu")}, {kOrganization, 0x0C, Text("Quorvane")},
                                          {kOrganization, 0x0C, Text("Lanxiu")}, {kCommonName, 0x0C, Text("Q")},
                                          {kCountry, 0x13, Text("CN")}, {kCommonName, 0x0C, Text("L")}}));
    ASSERT_TRUE(two && swapped);
    EXPECT_TRUE(SamePublisherIdentity(*two, *swapped));
    // A maker's name in Chinese, 澜岫, reads the same from UTF8String, BMPString and UniversalString.
    const Bytes utf8{0xE6, 0xBE, 0x9C, 0xE5, 0xB2, 0xAB};
    const auto chinese = IdentityOf(Name({{kOrganization, 0x0C, utf8}, {kCommonName, 0x0C, utf8}}));
    const auto wide = IdentityOf(Name({{kCommonName, 0x1C, Bytes{0, 0, 0x6F, 0x9C, 0, 0, 0x5C, 0xAB}},
                                       {kOrganization, 0x1E, Bytes{0x6F, 0x9C, 0x5C, 0xAB}}}));
    ASSERT_TRUE(chinese && wide);
    EXPECT_TRUE(SamePublisherIdentity(*chinese, *wide));
    EXPECT_EQ(DescribePublisherIdentity(*wide), "O=澜岫, CN=澜岫");
}

TEST(PublisherIdentity, UnreadableNamesMatchNothing) {
    const struct {
        const char* name;
        Bytes subject;
    } cases[] = {
        {"no CN", Name({{kCountry, 0x13, Text("CN")}, {kOrganization, 0x0C, Text("Quorvane Software")}})},
        {"a CN of no text type", Name({{kCommonName, 0x04, Text("Quorvane Software")}})},
        {"a PrintableString beyond ASCII", Name({{kCommonName, 0x13, Bytes{0x51, 0xC3, 0xA9}}})},
        {"ill-formed UTF-8", Name({{kCommonName, 0x0C, Bytes{0x51, 0xC0, 0x80}}})},
        {"a lone surrogate", Name({{kCommonName, 0x1E, Bytes{0xD8, 0x00, 0x00, 0x41}}})},
        {"a byte after the name", [] { Bytes name = Name({{kCommonName, 0x0C, Text("Q")}}); name.push_back(0); return name; }()},
        {"a cut name", [] { Bytes name = Name({{kCommonName, 0x0C, Text("Quorvane")}}); name.pop_back(); return name; }()},
    };
    for (const auto& each : cases) EXPECT_FALSE(IdentityOf(each.subject)) << each.name;
    const Publisher unreadable{SignatureState::Unreadable, {}};
    const Publisher setup{SignatureState::Signed, *IdentityOf(Name({{kCommonName, 0x0C, Text("Q")}}))};
    EXPECT_FALSE(SamePublisher(setup, unreadable));
    EXPECT_FALSE(SamePublisher(unreadable, unreadable));
    EXPECT_FALSE(SamePublisher({SignatureState::Unsigned, {}}, {SignatureState::Unsigned, {}}));
}

// --- the version block ---

Bytes Aligned(Bytes bytes) {
    bytes.resize((bytes.size() + 3) / 4 * 4, 0);
    return bytes;
}

// A node of a version block: header, key, value, children, each 32-bit aligned.
Bytes Node(const std::string& key, const Bytes& value, std::uint32_t value_length, std::uint32_t type,
           const std::vector<Bytes>& children = {}) {
    Bytes node(6, 0);
    Bytes key_units = Utf16(key, false);
    key_units.insert(key_units.end(), {0, 0});
    node.insert(node.end(), key_units.begin(), key_units.end());
    node = Aligned(node);
    node.insert(node.end(), value.begin(), value.end());
    for (const Bytes& child : children) {
        node = Aligned(node);
        node.insert(node.end(), child.begin(), child.end());
    }
    Put(node, 0, static_cast<std::uint32_t>(node.size()), 2);
    Put(node, 2, value_length, 2);
    Put(node, 4, type, 2);
    return node;
}

Bytes StringNode(const std::string& key, const std::string& value) {
    Bytes units = Utf16(value, false);
    units.insert(units.end(), {0, 0});
    return Node(key, units, static_cast<std::uint32_t>(units.size() / 2), 1);
}

Bytes VersionBlock(std::uint32_t most, std::uint32_t least, const std::vector<Bytes>& strings) {
    Bytes fixed;
    Put(fixed, 0, 0xFEEF04BDu, 4);
    Put(fixed, 4, 0x00010000, 4);
    Put(fixed, 16, most, 4);
    Put(fixed, 20, least, 4);
    Put(fixed, 48, 0, 4);
    const Bytes table = Node("080404B0", {}, 0, 1, strings);
    const Bytes translation = Node("VarFileInfo", {}, 0, 1, {Node("Translation", {0x04, 0x08, 0xB0, 0x04}, 4, 0)});
    return Node("VS_VERSION_INFO", fixed, 52, 0, {Node("StringFileInfo", {}, 0, 1, {table}), translation});
}

// The resource section: RT_VERSION / 1 / 0x0804 leading to the block, with an
// icon type before it.
Bytes Resources(const Bytes& block, std::uint32_t name_id = 1) {
    Bytes section(0x80, 0);
    const auto directory = [&](std::size_t offset, std::uint32_t ids, std::initializer_list<std::uint32_t> entries) {
        Put(section, offset + 14, ids, 2);
        std::size_t entry = offset + 16;
        for (const std::uint32_t field : entries) {
            Put(section, entry, field, 4);
            entry += 4;
        }
    };
    directory(0x00, 2, {3, 0x80000030u, 16, 0x80000040u});  // RT_ICON (ignored), RT_VERSION
    directory(0x30, 0, {});
    directory(0x40, 1, {name_id, 0x80000058u});
    directory(0x58, 1, {0x0804, 0x70});
    Put(section, 0x70, kSectionAddress + 0x80, 4);
    Put(section, 0x74, static_cast<std::uint32_t>(block.size()), 4);
    section.insert(section.end(), block.begin(), block.end());
    return section;
}

std::optional<ImageVersion> VersionOf(const Bytes& file) {
    const ImageReader read = [&](std::uint64_t offset, unsigned char* bytes, std::size_t count) {
        if (offset > file.size() || file.size() - offset < count) return false;
        std::memcpy(bytes, file.data() + offset, count);
        return true;
    };
    return ReadImageVersion(read, file.size());
}

TEST(ImageVersion, TheSignedVersionBlockDecidesWhatRuns) {
    const FixedVersion floor = *ParseFixedVersion("2026.12.0.0");
    const auto block = [](std::uint32_t most, std::uint32_t least, const std::string& product_version) {
        return VersionBlock(most, least, {StringNode("CompanyName", "Quorvane Software"),
                                          StringNode("ProductVersion", product_version)});
    };
    const struct {
        const char* name;
        Bytes resources;
        InstallerVersionCheck expected;
    } cases[] = {
        {"the manifest's version", Resources(block(2026 << 16 | 12, 0, "2026.12.0")), InstallerVersionCheck::Accepted},
        {"a newer one than the floor", Resources(block(2027 << 16, 1 << 16, "2026.12.0")), InstallerVersionCheck::Accepted},
        {"an old installer relabelled", Resources(block(2025 << 16 | 1, 0, "2025.1.0")), InstallerVersionCheck::Mismatch},
        {"a text that only begins with the version", Resources(block(2026 << 16 | 12, 0, "2026.12.0.1")),
         InstallerVersionCheck::Mismatch},
        {"below the floor by its last number", Resources(block(2026 << 16 | 11, 0xFFFF'FFFF, "2026.12.0")),
         InstallerVersionCheck::BelowFloor},
        {"no ProductVersion", Resources(VersionBlock(2026 << 16 | 12, 0, {StringNode("FileVersion", "2026.12.0")})),
         InstallerVersionCheck::Mismatch},
        {"no version block under resource 1", Resources(block(2026 << 16 | 12, 0, "2026.12.0"), 2),
         InstallerVersionCheck::Mismatch},
        {"a block cut short", [&] { Bytes resources = Resources(block(2026 << 16 | 12, 0, "2026.12.0"));
                                    Put(resources, 0x74, 40, 4); return resources; }(),
         InstallerVersionCheck::Mismatch},
        {"a key whose terminator the node's length cuts in half",
         Resources(VersionBlock(2026 << 16 | 12, 0, {StringNode("ProductVersion", "2026.12.0"), [] {
             Bytes cut(6, 0);
             const Bytes key = Utf16("Comments", false);
             cut.insert(cut.end(), key.begin(), key.end());
             cut.push_back(0);
             Put(cut, 0, static_cast<std::uint32_t>(cut.size()), 2);
             return cut;
         }()})),
         InstallerVersionCheck::Mismatch},
        {"one key with two values",
         Resources(VersionBlock(2026 << 16 | 12, 0, {StringNode("ProductVersion", "2026.12.0"),
                                                     StringNode("ProductVersion", "2025.1.0")})),
         InstallerVersionCheck::Mismatch},
    };
    for (const bool pe32_plus : {false, true}) {
        for (const auto& each : cases) {
            Image image = BuildImage(pe32_plus, each.resources);
            AppendTable(image, Entry(Der(0x30, Bytes(27, 1)), 3, 0));
            EXPECT_EQ(CheckInstallerVersion(VersionOf(image.bytes), "2026.12.0", floor), each.expected)
                << each.name << (pe32_plus ? " (PE32+)" : " (PE32)");
        }
    }
    const auto version = VersionOf(BuildImage(true, Resources(block(2026 << 16 | 12, 3 << 16 | 4, "x"))).bytes);
    ASSERT_TRUE(version);
    EXPECT_EQ(FixedVersionText(version->product_version), "2026.12.3.4");
    EXPECT_EQ(version->texts.at("CompanyName"), "Quorvane Software");
}

TEST(ImageVersion, FixedVersionTexts) {
    EXPECT_EQ(ParseFixedVersion("2026.12"), (FixedVersion{{2026, 12, 0, 0}}));
    EXPECT_EQ(ParseFixedVersion("65535.0.0.1"), (FixedVersion{{65535, 0, 0, 1}}));
    for (const char* text : {"", "2026.", ".1", "1.2.3.4.5", "65536", "1.-2", "1 .2", "v1", "+1"}) {
        EXPECT_FALSE(ParseFixedVersion(text)) << text;
    }
    EXPECT_LT(*ParseFixedVersion("2026.11.65535.65535"), *ParseFixedVersion("2026.12"));
}

}  // namespace
}  // namespace quorvane
