#include "files/signature.h"

#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

#include <stdexcept>
#include <vector>

#include "files/held_file.h"
#include "files/error_text.h"
#include "files/text.h"
#include "files/trust_texts.h"
#include "files/unique_handle.h"

namespace quorvane {
namespace {

constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

namespace crypt_release {
inline void CloseStore(HCERTSTORE store) noexcept { CertCloseStore(store, 0); }
inline void CloseMessage(HCRYPTMSG message) noexcept { CryptMsgClose(message); }
inline void FreeCertificate(PCCERT_CONTEXT certificate) noexcept { CertFreeCertificateContext(certificate); }
}  // namespace crypt_release

using CertificateStore = UniqueHandle<HCERTSTORE, crypt_release::CloseStore>;
using CryptMessage = UniqueHandle<HCRYPTMSG, crypt_release::CloseMessage>;
using Certificate = UniqueHandle<PCCERT_CONTEXT, crypt_release::FreeCertificate>;

enum class TableRead { Unsigned, Strict, Refused };

// The file's certificate table when it holds exactly one signature and
// nothing else (see StrictSignedData); signed_data is then that signature.
TableRead ReadStrictTable(HANDLE file, std::vector<unsigned char>& entries, ByteRange& signed_data) {
    LARGE_INTEGER file_size = {};
    if (!GetFileSizeEx(file, &file_size)) return TableRead::Refused;
    const auto size = static_cast<std::uint64_t>(file_size.QuadPart);
    std::vector<unsigned char> headers(size < kExecutableHeadersSize ? static_cast<std::size_t>(size)
                                                                     : kExecutableHeadersSize);
    if (!ReadFileAt(file, 0, headers.data(), headers.size())) return TableRead::Refused;
    const CertificateTable table = LocateCertificateTable(headers.data(), headers.size(), size);
    if (table.state == CertificateTableState::Absent) return TableRead::Unsigned;
    if (table.state == CertificateTableState::Malformed) return TableRead::Refused;
    entries.resize(table.size);
    if (!ReadFileAt(file, table.offset, entries.data(), entries.size())) return TableRead::Refused;
    const auto found = StrictSignedData(table, entries.data(), entries.size(), size);
    if (!found) return TableRead::Refused;
    signed_data = *found;
    return TableRead::Strict;
}

Publisher IdentityOf(const CERT_NAME_BLOB& subject) {
    const auto identity = ReadPublisherIdentity(subject.pbData, subject.cbData);
    if (!identity) return {};
    return {SignatureState::Signed, *identity};
}

// The signer of a PKCS#7 SignedData, as the certificate its signer info names.
Publisher SignerOf(const unsigned char* signed_data, std::size_t size) {
    CRYPT_DATA_BLOB blob = {static_cast<DWORD>(size), const_cast<BYTE*>(signed_data)};
    CertificateStore store;
    CryptMessage message;
    if (!CryptQueryObject(CERT_QUERY_OBJECT_BLOB, &blob, CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED,
                          CERT_QUERY_FORMAT_FLAG_BINARY, 0, nullptr, nullptr, nullptr, store.put(), message.put(),
                          nullptr)) {
        return {};
    }
    DWORD signers = 0;
    DWORD signers_size = sizeof signers;
    if (!CryptMsgGetParam(message.get(), CMSG_SIGNER_COUNT_PARAM, 0, &signers, &signers_size) || signers != 1) {
        return {};
    }
    DWORD info_size = 0;
    if (!CryptMsgGetParam(message.get(), CMSG_SIGNER_CERT_INFO_PARAM, 0, nullptr, &info_size) || info_size == 0) {
        return {};
    }
    std::vector<unsigned char> info_bytes(info_size);
    if (!CryptMsgGetParam(message.get(), CMSG_SIGNER_CERT_INFO_PARAM, 0, info_bytes.data(), &info_size)) return {};
    const Certificate certificate(CertFindCertificateInStore(
        store.get(), kEncoding, 0, CERT_FIND_SUBJECT_CERT, reinterpret_cast<CERT_INFO*>(info_bytes.data()), nullptr));
    if (!certificate) return {};
    return IdentityOf(certificate.get()->pCertInfo->Subject);
}

// WinVerifyTrust's state from a verification, closed on every path.
class TrustState {
public:
    explicit TrustState(WINTRUST_DATA& trust) : trust_(trust) {}
    TrustState(const TrustState&) = delete;
    TrustState& operator=(const TrustState&) = delete;
    ~TrustState() {
        trust_.dwStateAction = WTD_STATEACTION_CLOSE;
        GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
        WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &trust_);
    }

private:
    WINTRUST_DATA& trust_;
};

// The leaf certificate of the one signer whose signature WinVerifyTrust
// judged: the certificate bag of a signature is not signed, so a certificate
// found there by issuer and serial number need not be the one verified.
PCCERT_CONTEXT VerifiedSigner(HANDLE state) {
    CRYPT_PROVIDER_DATA* const provider = WTHelperProvDataFromStateData(state);
    if (provider == nullptr || provider->csSigners != 1) return nullptr;
    CRYPT_PROVIDER_SGNR* const signer = WTHelperGetProvSignerFromChain(provider, 0, FALSE, 0);
    if (signer == nullptr || signer->csCertChain == 0) return nullptr;
    const CRYPT_PROVIDER_CERT* const leaf = WTHelperGetProvCertFromChain(signer, 0);
    return leaf == nullptr ? nullptr : leaf->pCert;
}

}  // namespace

Publisher ReadPublisher(HANDLE file) {
    std::vector<unsigned char> entries;
    ByteRange signed_data;
    switch (ReadStrictTable(file, entries, signed_data)) {
        case TableRead::Unsigned:
            return {SignatureState::Unsigned, {}};
        case TableRead::Refused:
            return {};
        case TableRead::Strict:
            break;
    }
    return SignerOf(entries.data() + signed_data.offset, signed_data.size);
}

Publisher ReadOwnPublisher() {
    const std::wstring path = OwnExecutablePath();
    if (path.empty()) return {};
    // Any sharing: another reader of the file (a virus scanner) must not make
    // the setup refuse every installer, and a mapped image cannot be written.
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return {};
    const FileHandle own(file);
    return ReadPublisher(own.get());
}

void VerifyInstallerPublisher(const HeldFile& installer, const std::wstring& path, const Publisher& setup) {
    // A signature with anything beside it in its table is refused before
    // WinVerifyTrust, which accepts such bytes unless the machine opted in.
    std::vector<unsigned char> entries;
    ByteRange signed_data;
    if (ReadStrictTable(installer.get(), entries, signed_data) == TableRead::Refused) {
        throw std::runtime_error(trust::kSignatureInvalid);
    }
    WINTRUST_FILE_INFO file = {};
    file.cbStruct = sizeof file;
    file.pcwszFilePath = path.c_str();
    file.hFile = installer.get();
    WINTRUST_DATA trust = {};
    trust.cbStruct = sizeof trust;
    trust.dwUIChoice = WTD_UI_NONE;
    // Revocation only from what the system has cached: a revocation server
    // that is blocked or slow cannot hold the run.
    trust.fdwRevocationChecks = WTD_REVOKE_WHOLECHAIN;
    trust.dwProvFlags = WTD_CACHE_ONLY_URL_RETRIEVAL;
    trust.dwUnionChoice = WTD_CHOICE_FILE;
    trust.pFile = &file;
    trust.dwStateAction = WTD_STATEACTION_VERIFY;
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    const TrustState state(trust);
    const LONG result = WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &trust);
    if (result != ERROR_SUCCESS) {
        // Converted first: the conversion is a Windows call and may change the last error.
        const std::wstring invalid = Utf8ToWide(trust::kSignatureInvalid);
        SetLastError(static_cast<DWORD>(result));
        ThrowWithErrorCode(invalid);
    }
    const PCCERT_CONTEXT signer = VerifiedSigner(trust.hWVTStateData);
    if (signer == nullptr) throw std::runtime_error(trust::kSignatureInvalid);
    if (!SamePublisher(setup, IdentityOf(signer->pCertInfo->Subject))) throw std::runtime_error(trust::kPublisherMismatch);
}

}  // namespace quorvane
