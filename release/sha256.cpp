#include "release/sha256.h"

#include <openssl/evp.h>

#include <stdexcept>

namespace quorvane::release {

void Sha256::Free::operator()(evp_md_ctx_st* context) const { EVP_MD_CTX_free(context); }

Sha256::Sha256() : context_(EVP_MD_CTX_new()) {
    if (!context_ || EVP_DigestInit_ex(context_.get(), EVP_sha256(), nullptr) != 1) {
        throw std::runtime_error("cannot start a SHA-256 digest");
    }
}

void Sha256::Update(const void* data, std::size_t size) {
    if (EVP_DigestUpdate(context_.get(), data, size) != 1) throw std::runtime_error("SHA-256 digest failed");
}

std::string Sha256::HexDigest() {
    unsigned char digest[EVP_MAX_MD_SIZE] = {};
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(context_.get(), digest, &length) != 1) throw std::runtime_error("SHA-256 digest failed");
    static constexpr char kHex[] = "0123456789abcdef";
    std::string hex;
    for (unsigned int index = 0; index < length; ++index) {
        hex += kHex[digest[index] >> 4];
        hex += kHex[digest[index] & 0x0F];
    }
    return hex;
}

}  // namespace quorvane::release
