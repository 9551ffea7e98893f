#include "release/authenticode.h"

#include <openssl/asn1.h>
#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <map>
#include <memory>
#include <stdexcept>
#include <utility>
#include <vector>

#include "files/image_version_format.h"
#include "files/signature_format.h"
#include "files/trust_texts.h"
#include "pipeline/stage_texts.h"

namespace quorvane::release {
namespace {

[[noreturn]] void Refuse(const std::string& path, const std::string& why) {
    throw std::runtime_error('"' + path + "\" " + why);
}

std::vector<unsigned char> ReadAt(std::ifstream& file, const std::string& path, std::uint64_t offset,
                                  std::size_t size) {
    std::vector<unsigned char> bytes(size);
    file.seekg(static_cast<std::streamoff>(offset));
    file.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(size));
    if (!file || file.gcount() != static_cast<std::streamsize>(size)) Refuse(path, "is cut short: no PE file");
    return bytes;
}

// Where Authenticode reads and skips: the image digest covers the file up to
// the certificate table, less the checksum and the table's directory entry.
struct SignedImage {
    std::vector<unsigned char> signature;  // the PKCS#7 SignedData; empty when unsigned
    std::uint64_t checksum = 0;
    std::uint64_t entry = 0;
    std::uint64_t table = 0;
};

// The table is found and judged by the installer's own rules, so that the tool
// accepts exactly the signatures the installer accepts.
SignedImage ReadSignedImage(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file.is_open()) Refuse(path, "cannot be opened");
    file.seekg(0, std::ios::end);
    const auto length_of_file = static_cast<std::uint64_t>(file.tellg());
    const auto headers = ReadAt(file, path, 0, static_cast<std::size_t>(
                                                   std::min<std::uint64_t>(length_of_file, kExecutableHeadersSize)));
    const CertificateTable table = LocateCertificateTable(headers.data(), headers.size(), length_of_file);
    if (table.state == CertificateTableState::Malformed) Refuse(path, "is no PE file or has a broken certificate table");
    SignedImage image;
    image.checksum = table.checksum_offset;
    image.entry = table.entry_offset;
    if (table.state == CertificateTableState::Absent) return image;
    const auto entries = ReadAt(file, path, table.offset, table.size);
    const auto signed_data = StrictSignedData(table, entries.data(), entries.size(), length_of_file);
    if (!signed_data) {
        Refuse(path, "has a certificate table that holds more than its one Authenticode signature");
    }
    const auto first = entries.begin() + static_cast<std::ptrdiff_t>(signed_data->offset);
    image.signature.assign(first, first + static_cast<std::ptrdiff_t>(signed_data->size));
    image.table = table.offset;
    return image;
}

using Signature = std::unique_ptr<PKCS7, decltype(&PKCS7_free)>;

Signature ReadSignature(const std::string& path, const std::vector<unsigned char>& blob) {
    const unsigned char* cursor = blob.data();
    Signature signature(d2i_PKCS7(nullptr, &cursor, static_cast<long>(blob.size())), PKCS7_free);
    if (!signature || !PKCS7_type_is_signed(signature.get())) Refuse(path, "has a signature that cannot be read");
    return signature;
}

// The digest of the file's bytes that the signature covers.
std::string ImageDigest(const std::string& path, const SignedImage& image, const EVP_MD* algorithm) {
    const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    if (!context || EVP_DigestInit_ex(context.get(), algorithm, nullptr) != 1) Refuse(path, "cannot be digested");
    std::ifstream file(path, std::ios::binary);
    const std::uint64_t ranges[][2] = {
        {0, image.checksum}, {image.checksum + 4, image.entry}, {image.entry + 8, image.table}};
    std::vector<char> buffer(1 << 16);
    for (const auto& range : ranges) {
        file.seekg(static_cast<std::streamoff>(range[0]));
        for (std::uint64_t left = range[1] - range[0]; left > 0;) {
            const auto piece = static_cast<std::streamsize>(std::min<std::uint64_t>(left, buffer.size()));
            if (!file.read(buffer.data(), piece)) Refuse(path, "cannot be read");
            EVP_DigestUpdate(context.get(), buffer.data(), static_cast<std::size_t>(piece));
            left -= static_cast<std::uint64_t>(piece);
        }
    }
    unsigned char digest[EVP_MAX_MD_SIZE] = {};
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(context.get(), digest, &length) != 1) Refuse(path, "cannot be digested");
    return std::string(reinterpret_cast<const char*>(digest), length);
}

// The signed content of an Authenticode signature, SpcIndirectDataContent:
// SEQUENCE { data, DigestInfo }. The signature covers the SEQUENCE's value
// without its own header.
struct SignedContent {
    const unsigned char* value = nullptr;
    long length = 0;
};

SignedContent ContentOf(const std::string& path, PKCS7* signature) {
    PKCS7* content = signature->d.sign->contents;
    const ASN1_TYPE* other = content != nullptr && PKCS7_type_is_other(content) ? content->d.other : nullptr;
    if (other == nullptr || other->type != V_ASN1_SEQUENCE) Refuse(path, "has a signature without an image digest");
    SignedContent signed_content;
    signed_content.value = other->value.sequence->data;
    int tag = 0;
    int object_class = 0;
    if (ASN1_get_object(&signed_content.value, &signed_content.length, &tag, &object_class,
                        other->value.sequence->length) & 0x80) {
        Refuse(path, "has a signature without an image digest");
    }
    return signed_content;
}

// The digest algorithm and the image digest that the content's DigestInfo names.
std::pair<const EVP_MD*, std::string> NamedImageDigest(const std::string& path, const SignedContent& content) {
    const unsigned char* cursor = content.value;
    long data_length = 0;
    int tag = 0;
    int object_class = 0;
    if (ASN1_get_object(&cursor, &data_length, &tag, &object_class, content.length) & 0x80) {
        Refuse(path, "has a signature without an image digest");
    }
    cursor += data_length;
    const std::unique_ptr<X509_SIG, decltype(&X509_SIG_free)> digest_info(
        d2i_X509_SIG(nullptr, &cursor, content.value + content.length - cursor), X509_SIG_free);
    if (!digest_info) Refuse(path, "has a signature without an image digest");
    const X509_ALGOR* algorithm = nullptr;
    const ASN1_OCTET_STRING* digest = nullptr;
    X509_SIG_get0(digest_info.get(), &algorithm, &digest);
    const EVP_MD* digest_algorithm = EVP_get_digestbyobj(algorithm->algorithm);
    if (digest_algorithm == nullptr) Refuse(path, "names an unknown digest algorithm");
    return {digest_algorithm, std::string(reinterpret_cast<const char*>(ASN1_STRING_get0_data(digest)),
                                          static_cast<std::size_t>(ASN1_STRING_length(digest)))};
}

// The list only; its certificates belong to the signature.
struct FreeStack {
    void operator()(STACK_OF(X509) * stack) const { sk_X509_free(stack); }
};

// The floor a setup names in its version block; none (all zeros) for a setup
// that names none, which runs any version.
FixedVersion FloorOf(const std::string& setup) {
    const std::optional<ImageVersion> version = ReadVersionOf(setup);
    if (!version) return {};
    const auto found = version->texts.find(kMinimumInstallerVersionKey);
    if (found == version->texts.end()) return {};
    const std::optional<FixedVersion> floor = ParseFixedVersion(found->second);
    if (!floor) Refuse(setup, "names the lowest installer version \"" + found->second + "\", which is no version");
    return *floor;
}

[[noreturn]] void RefuseInstaller(const std::string& why, const std::string& setup, const char* text) {
    throw std::runtime_error(why + ": the setup \"" + setup + "\" would refuse it with \"" + text + '"');
}

}  // namespace

SignerReading ReadSigner(const std::string& path) {
    SignerReading reading;
    try {
        const SignedImage image = ReadSignedImage(path);
        if (image.signature.empty()) {
            reading.publisher.state = SignatureState::Unsigned;
            return reading;
        }
        const Signature signature = ReadSignature(path, image.signature);
        // Authenticode allows exactly one signer; its certificate travels in the signature.
        const int signer_count = sk_PKCS7_SIGNER_INFO_num(PKCS7_get_signer_info(signature.get()));
        if (signer_count != 1) Refuse(path, "has " + std::to_string(signer_count) + " signers instead of one");
        const std::unique_ptr<STACK_OF(X509), FreeStack> signers(PKCS7_get0_signers(signature.get(), nullptr, 0));
        if (!signers || sk_X509_num(signers.get()) != 1) Refuse(path, "has a signature without its signer certificate");
        unsigned char* der = nullptr;
        const int der_length = i2d_X509_NAME(X509_get_subject_name(sk_X509_value(signers.get(), 0)), &der);
        if (der_length <= 0) Refuse(path, "has a signer without a subject name");
        const std::vector<unsigned char> subject(der, der + der_length);
        OPENSSL_free(der);
        const std::optional<PublisherIdentity> identity = ReadPublisherIdentity(subject.data(), subject.size());
        if (!identity) Refuse(path, "has a signer whose subject gives no readable C, O and CN, or no CN");
        reading.publisher.state = SignatureState::Signed;
        reading.publisher.identity = *identity;
    } catch (const std::runtime_error& error) {
        reading.publisher.state = SignatureState::Unreadable;
        reading.problem = error.what();
    }
    return reading;
}

std::string DescribeSigner(const SignerReading& signer) {
    switch (signer.publisher.state) {
        case SignatureState::Signed:
            return DescribePublisherIdentity(signer.publisher.identity);
        case SignatureState::Unsigned:
            return "unsigned";
        case SignatureState::Unreadable:
            break;
    }
    return "unreadable: " + signer.problem;
}

void RefuseBrokenSignature(const std::string& path) {
    const SignedImage image = ReadSignedImage(path);
    if (image.signature.empty()) Refuse(path, "is unsigned");
    const Signature signature = ReadSignature(path, image.signature);
    const SignedContent content = ContentOf(path, signature.get());
    const auto [algorithm, named] = NamedImageDigest(path, content);
    if (ImageDigest(path, image, algorithm) != named) Refuse(path, "has changed since it was signed");
    const std::unique_ptr<BIO, decltype(&BIO_free)> signed_data(
        BIO_new_mem_buf(content.value, static_cast<int>(content.length)), BIO_free);
    if (!signed_data || PKCS7_verify(signature.get(), nullptr, nullptr, signed_data.get(), nullptr,
                                     PKCS7_NOVERIFY | PKCS7_BINARY) != 1) {
        Refuse(path, "carries a signature that does not verify");
    }
}

std::optional<ImageVersion> ReadVersionOf(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file.is_open()) return std::nullopt;
    file.seekg(0, std::ios::end);
    const auto size = static_cast<std::uint64_t>(file.tellg());
    const ImageReader read = [&](std::uint64_t offset, unsigned char* bytes, std::size_t count) {
        if (offset > size || size - offset < count) return false;
        file.clear();
        file.seekg(static_cast<std::streamoff>(offset));
        file.read(reinterpret_cast<char*>(bytes), static_cast<std::streamsize>(count));
        return file.gcount() == static_cast<std::streamsize>(count);
    };
    return ReadImageVersion(read, size);
}

std::optional<std::string> ProductVersionOf(const std::optional<ImageVersion>& image) {
    if (!image) return std::nullopt;
    const auto found = image->texts.find("ProductVersion");
    if (found == image->texts.end()) return std::nullopt;
    return found->second;
}

std::vector<std::string> RefuseWhatSetupsRefuse(const std::string& installer, const std::vector<std::string>& setups,
                                                const std::string& version) {
    std::vector<SignerReading> setup_signers;
    for (const std::string& setup : setups) {
        setup_signers.push_back(ReadSigner(setup));
        const SignerReading& signer = setup_signers.back();
        if (signer.publisher.state == SignatureState::Unsigned) {
            Refuse(setup, "is unsigned: name the signed setups, whose publisher the clients compare, or give "
                          "--unsigned-setup for a development setup");
        }
        if (signer.publisher.state == SignatureState::Unreadable) {
            throw std::runtime_error("the setup " + signer.problem + ": its clients fail with \"" +
                                     kOwnSignatureUnreadable + '"');
        }
    }
    const SignerReading signer = ReadSigner(installer);
    if (signer.publisher.state == SignatureState::Unsigned) {
        RefuseInstaller("the installer \"" + installer + "\" is unsigned", setups.front(), trust::kSignatureInvalid);
    }
    if (signer.publisher.state == SignatureState::Unreadable) {
        RefuseInstaller("the installer " + signer.problem, setups.front(), trust::kSignatureInvalid);
    }
    try {
        RefuseBrokenSignature(installer);
    } catch (const std::runtime_error& error) {
        RefuseInstaller(std::string("the installer ") + error.what(), setups.front(), trust::kSignatureInvalid);
    }
    const std::optional<ImageVersion> image = ReadVersionOf(installer);
    std::vector<std::string> report;
    for (std::size_t index = 0; index < setups.size(); ++index) {
        const std::string& setup = setups[index];
        const Publisher& publisher = setup_signers[index].publisher;
        if (!SamePublisher(publisher, signer.publisher)) {
            RefuseInstaller("the installer \"" + installer + "\" is signed by " +
                                DescribePublisherIdentity(signer.publisher.identity) + ", the setup by " +
                                DescribePublisherIdentity(publisher.identity),
                            setup, trust::kPublisherMismatch);
        }
        const FixedVersion floor = FloorOf(setup);
        switch (CheckInstallerVersion(image, version, floor)) {
            case InstallerVersionCheck::Mismatch: {
                const std::optional<std::string> named = ProductVersionOf(image);
                RefuseInstaller("the installer \"" + installer + "\" has " +
                                    (!image ? std::string("no readable version block")
                                     : named ? "the ProductVersion \"" + *named + '"'
                                             : std::string("no ProductVersion")) +
                                    ", not the version \"" + version + '"',
                                setup, trust::kVersionMismatch);
            }
            case InstallerVersionCheck::BelowFloor:
                RefuseInstaller("the installer \"" + installer + "\" is version " +
                                    FixedVersionText(image->product_version) + ", below " + FixedVersionText(floor) +
                                    ", the lowest that the setup runs",
                                setup, trust::kVersionBelowFloor);
            case InstallerVersionCheck::Accepted:
                break;
        }
        report.push_back("setup " + setup + ": signed by " + DescribePublisherIdentity(publisher.identity) +
                         ", runs installers from version " + FixedVersionText(floor));
    }
    return report;
}

}  // namespace quorvane::release
