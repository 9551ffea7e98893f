#include "files/digest.h"

#include <windows.h>
#include <wincrypt.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <vector>

#include "files/error_text.h"
#include "files/held_file.h"
#include "files/unique_handle.h"

namespace quorvane {
namespace {

constexpr std::size_t kReadBufferSize = 1048576;
constexpr DWORD kDigestSize = 32;
constexpr const char* kCannotReadFile = "无法读取安装包进行校验";

namespace crypt_release {
inline void ReleaseProvider(HCRYPTPROV provider) noexcept { CryptReleaseContext(provider, 0); }
inline void DestroyHash(HCRYPTHASH hash) noexcept { CryptDestroyHash(hash); }
}  // namespace crypt_release

using CryptProvider = UniqueHandle<HCRYPTPROV, crypt_release::ReleaseProvider>;
using CryptHash = UniqueHandle<HCRYPTHASH, crypt_release::DestroyHash>;

// The provider and its SHA-256 hash object. Both are released, hash first, on
// every path, and on a failure before its message is built.
class Sha256Hash {
public:
    Sha256Hash() {
        HCRYPTPROV provider = 0;
        if (!CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT)) {
            ThrowWithErrorCode(L"初始化 SHA-256 校验失败");
        }
        provider_.reset(provider);
        HCRYPTHASH hash = 0;
        if (!CryptCreateHash(provider_.get(), CALG_SHA_256, 0, 0, &hash)) ReleaseAndThrow(L"创建 SHA-256 校验器失败");
        hash_.reset(hash);
    }

    void Add(const char* bytes, std::size_t count) {
        if (!CryptHashData(hash_.get(), reinterpret_cast<const BYTE*>(bytes), static_cast<DWORD>(count), 0)) {
            ReleaseAndThrow(L"计算 SHA-256 失败");
        }
    }

    // Ends the hash: the handles are released whether or not the value is read.
    std::string FinishAsHex() {
        BYTE value[kDigestSize] = {};
        DWORD length = kDigestSize;
        if (!CryptGetHashParam(hash_.get(), HP_HASHVAL, value, &length, 0)) ReleaseAndThrow(L"读取 SHA-256 结果失败");
        Release();
        static constexpr char kHexDigits[] = "0123456789abcdef";
        std::string hex;
        for (DWORD index = 0; index < length && index < kDigestSize; ++index) {
            hex += kHexDigits[value[index] >> 4];
            hex += kHexDigits[value[index] & 0x0F];
        }
        return hex;
    }

    void Release() noexcept {
        hash_.reset();
        provider_.reset();
    }

private:
    // The message carries the failed call's code, not whatever the release left behind.
    [[noreturn]] void ReleaseAndThrow(const wchar_t* text) {
        const DWORD code = GetLastError();
        Release();
        SetLastError(code);
        ThrowWithErrorCode(text);
    }

    // Declared in this order, so that the hash goes first however the object ends.
    CryptProvider provider_;
    CryptHash hash_;
};

}  // namespace

std::string Sha256OfFile(const std::wstring& path) {
    Sha256Hash hash;
    std::ifstream file(std::filesystem::path(path), std::ios::binary);
    if (!file.is_open()) {
        hash.Release();
        throw std::runtime_error(kCannotReadFile);
    }
    std::vector<char> buffer(kReadBufferSize, '\0');
    // The short read at the end of the file, or a read error, sets the fail
    // state after its bytes have been counted; a read error thus leaves a
    // digest of the bytes read so far, which the caller's comparison rejects.
    while (!file.fail()) {
        file.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
        const std::streamsize count = file.gcount();
        if (count > 0) hash.Add(buffer.data(), static_cast<std::size_t>(count));
    }
    return hash.FinishAsHex();
}

std::string Sha256OfFile(const HeldFile& file) {
    Sha256Hash hash;
    if (!file.is_open()) {
        hash.Release();
        throw std::runtime_error(kCannotReadFile);
    }
    // From the start, wherever an earlier read through the handle stopped.
    if (!SetFilePointerEx(file.get(), LARGE_INTEGER{}, nullptr, FILE_BEGIN)) {
        hash.Release();
        throw std::runtime_error(kCannotReadFile);
    }
    std::vector<char> buffer(kReadBufferSize, '\0');
    // As above, a read error ends the digest early and the comparison fails.
    DWORD count = 0;
    while (ReadFile(file.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &count, nullptr) && count > 0) {
        hash.Add(buffer.data(), count);
    }
    return hash.FinishAsHex();
}

}  // namespace quorvane
