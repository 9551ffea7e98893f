// Adds a test CA certificate (PEM or DER file) to the local machine "Root"
// store of the Wine prefix it runs in, so that the local HTTPS test server's
// certificates verify there and nowhere else. Running it again changes nothing.

#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace quorvane {
namespace {

class CertificateStore {
public:
    explicit CertificateStore(HCERTSTORE store) : store_(store) {}
    ~CertificateStore() {
        if (store_) CertCloseStore(store_, 0);
    }
    CertificateStore(CertificateStore&& other) noexcept : store_(other.store_) { other.store_ = nullptr; }
    CertificateStore& operator=(CertificateStore&&) = delete;
    CertificateStore(const CertificateStore&) = delete;
    CertificateStore& operator=(const CertificateStore&) = delete;

    HCERTSTORE get() const { return store_; }

private:
    HCERTSTORE store_;
};

std::vector<BYTE> ReadCertificate(const wchar_t* path) {
    std::ifstream stream(path, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(stream)), std::istreambuf_iterator<char>());
    if (text.rfind("-----BEGIN", 0) != 0) return std::vector<BYTE>(text.begin(), text.end());
    DWORD size = 0;
    if (!CryptStringToBinaryA(text.c_str(), static_cast<DWORD>(text.size()), CRYPT_STRING_BASE64HEADER,
                              nullptr, &size, nullptr, nullptr)) {
        return {};
    }
    std::vector<BYTE> der(size);
    if (!CryptStringToBinaryA(text.c_str(), static_cast<DWORD>(text.size()), CRYPT_STRING_BASE64HEADER,
                              der.data(), &size, nullptr, nullptr)) {
        return {};
    }
    der.resize(size);
    return der;
}

int Run(int argc, wchar_t** argv) {
    if (argc != 2) {
        std::fwprintf(stderr, L"usage: trust-test-ca <certificate.pem>\n");
        return 2;
    }
    const std::vector<BYTE> der = ReadCertificate(argv[1]);
    if (der.empty()) {
        std::fwprintf(stderr, L"trust-test-ca: cannot read a certificate from %ls\n", argv[1]);
        return 1;
    }
    const CertificateStore root(CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0,
                                              CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root"));
    if (!root.get()) {
        std::fwprintf(stderr, L"trust-test-ca: CertOpenStore failed (%lu)\n", GetLastError());
        return 1;
    }
    // CERT_STORE_ADD_USE_EXISTING keeps a second run from adding a duplicate.
    if (!CertAddEncodedCertificateToStore(root.get(), X509_ASN_ENCODING, der.data(),
                                          static_cast<DWORD>(der.size()), CERT_STORE_ADD_USE_EXISTING,
                                          nullptr)) {
        std::fwprintf(stderr, L"trust-test-ca: CertAddEncodedCertificateToStore failed (%lu)\n", GetLastError());
        return 1;
    }
    return 0;
}

}  // namespace
}  // namespace quorvane

int wmain(int argc, wchar_t** argv) { return quorvane::Run(argc, argv); }
