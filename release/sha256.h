#pragma once
// SHA-256 over data that arrives in pieces (OpenSSL's libcrypto).

#include <cstddef>
#include <memory>
#include <string>

struct evp_md_ctx_st;

namespace quorvane::release {

class Sha256 {
public:
    Sha256();
    void Update(const void* data, std::size_t size);
    // 64 lower-case hexadecimal digits; call once.
    std::string HexDigest();

private:
    struct Free {
        void operator()(evp_md_ctx_st* context) const;
    };
    std::unique_ptr<evp_md_ctx_st, Free> context_;
};

}  // namespace quorvane::release
