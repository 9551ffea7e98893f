#include "tools/release/authenticode.h"

#include <openssl/asn1.h>
#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <utility>
#include <vector>

#include "files/signature_format.h"

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

// The table is found by the installer's own reader, so that the tool accepts
// exactly the signatures the installer finds.
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
        Refuse(path, "has a certificate table that holds more than its one Authenticode signature, which every "
                     "signed setup refuses");
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

}  // namespace

std::optional<Publisher> PublisherOf(const std::string& path) {
    const SignedImage image = ReadSignedImage(path);
    if (image.signature.empty()) return std::nullopt;
    const Signature signature = ReadSignature(path, image.signature);
    // Authenticode allows exactly one signer; its certificate travels in the signature.
    const std::unique_ptr<STACK_OF(X509), FreeStack> signers(PKCS7_get0_signers(signature.get(), nullptr, 0));
    if (!signers || sk_X509_num(signers.get()) != 1) Refuse(path, "has a signature without its signer certificate");
    const X509_NAME* subject = X509_get_subject_name(sk_X509_value(signers.get(), 0));

    Publisher publisher;
    unsigned char* der = nullptr;
    const int der_length = i2d_X509_NAME(subject, &der);
    if (der_length <= 0) Refuse(path, "has a signer without a subject name");
    publisher.subject_der.assign(reinterpret_cast<const char*>(der), static_cast<std::size_t>(der_length));
    OPENSSL_free(der);
    const std::unique_ptr<BIO, decltype(&BIO_free)> text(BIO_new(BIO_s_mem()), BIO_free);
    X509_NAME_print_ex(text.get(), subject, 0, XN_FLAG_RFC2253 & ~ASN1_STRFLGS_ESC_MSB);
    char* data = nullptr;
    const long text_length = BIO_get_mem_data(text.get(), &data);
    publisher.subject.assign(data, static_cast<std::size_t>(text_length));
    return publisher;
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

std::string PublisherText(const std::optional<Publisher>& publisher) {
    return publisher ? publisher->subject : "unsigned";
}

std::string DescribePublisher(const std::string& path) {
    try {
        return PublisherText(PublisherOf(path));
    } catch (const std::runtime_error& error) {
        return std::string("unknown: ") + error.what();
    }
}

void RefuseOtherPublisher(const std::string& installer_path, const std::string& setup_path) {
    const std::optional<Publisher> setup = PublisherOf(setup_path);
    if (!setup) Refuse(setup_path, "is unsigned: name the signed setup, whose publisher the clients compare");
    const std::optional<Publisher> installer = PublisherOf(installer_path);
    if (installer && installer->subject_der == setup->subject_der) {
        try {
            RefuseBrokenSignature(installer_path);
            return;
        } catch (const std::runtime_error& error) {
            throw std::runtime_error(std::string("the installer ") + error.what() +
                                     ": every signed setup would refuse it with \"安装包数字签名无效\"");
        }
    }
    std::string signer = installer ? "signed by " + installer->subject : std::string("unsigned");
    if (installer && installer->subject == setup->subject) signer += " (the same text, encoded otherwise)";
    const std::string refusal = installer ? "安装包发布者与安装程序不一致" : "安装包数字签名无效";
    throw std::runtime_error("the installer \"" + installer_path + "\" is " + signer + ", the setup \"" + setup_path +
                             "\" is signed by " + setup->subject + ": every signed setup would refuse it with \"" +
                             refusal + '"');
}

}  // namespace quorvane::release
