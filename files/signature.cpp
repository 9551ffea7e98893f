#include "files/signature.h"

#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

#include <stdexcept>
#include <vector>

#include "files/held_file.h"
#include "files/text.h"
#include "files/unique_handle.h"

namespace quorvane {
namespace {

constexpr const char* kPublisherMismatch = "安装包发布者与安装程序不一致";
constexpr const wchar_t* kSignatureInvalid = L"安装包数字签名无效";
constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

namespace crypt_release {
inline void CloseStore(HCERTSTORE store) noexcept { CertCloseStore(store, 0); }
inline void CloseMessage(HCRYPTMSG message) noexcept { CryptMsgClose(message); }
inline void FreeCertificate(PCCERT_CONTEXT certificate) noexcept { CertFreeCertificateContext(certificate); }
}  // namespace crypt_release

using CertificateStore = UniqueHandle<HCERTSTORE, crypt_release::CloseStore>;
using CryptMessage = UniqueHandle<HCRYPTMSG, crypt_release::CloseMessage>;
using Certificate = UniqueHandle<PCCERT_CONTEXT, crypt_release::FreeCertificate>;

// count bytes from offset; fewer when the file ends or a read fails.
std::vector<unsigned char> ReadAt(HANDLE file, std::uint64_t offset, std::size_t count) {
    std::vector<unsigned char> bytes(count);
    OVERLAPPED position = {};
    position.Offset = static_cast<DWORD>(offset);
    position.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD read = 0;
    if (!ReadFile(file, bytes.data(), static_cast<DWORD>(count), &read, &position)) read = 0;
    bytes.resize(read);
    return bytes;
}

// The subject of the certificate that signed a PKCS#7 SignedData; empty when
// it cannot be found.
std::vector<unsigned char> SignerSubject(const unsigned char* signed_data, std::size_t size) {
    CRYPT_DATA_BLOB blob = {static_cast<DWORD>(size), const_cast<BYTE*>(signed_data)};
    CertificateStore store;
    CryptMessage message;
    if (!CryptQueryObject(CERT_QUERY_OBJECT_BLOB, &blob, CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED,
                          CERT_QUERY_FORMAT_FLAG_BINARY, 0, nullptr, nullptr, nullptr, store.put(), message.put(),
                          nullptr)) {
        return {};
    }
    DWORD info_size = 0;
    if (!CryptMsgGetParam(message.get(), CMSG_SIGNER_INFO_PARAM, 0, nullptr, &info_size) || info_size == 0) return {};
    std::vector<unsigned char> info_bytes(info_size);
    if (!CryptMsgGetParam(message.get(), CMSG_SIGNER_INFO_PARAM, 0, info_bytes.data(), &info_size)) return {};
    const auto* signer = reinterpret_cast<const CMSG_SIGNER_INFO*>(info_bytes.data());
    CERT_INFO wanted = {};
    wanted.Issuer = signer->Issuer;
    wanted.SerialNumber = signer->SerialNumber;
    const Certificate certificate(
        CertFindCertificateInStore(store.get(), kEncoding, 0, CERT_FIND_SUBJECT_CERT, &wanted, nullptr));
    if (!certificate) return {};
    const CERT_NAME_BLOB& subject = certificate.get()->pCertInfo->Subject;
    return std::vector<unsigned char>(subject.pbData, subject.pbData + subject.cbData);
}

}  // namespace

Publisher ReadPublisher(HANDLE file) {
    const Publisher unreadable{true, {}};
    LARGE_INTEGER file_size = {};
    if (!GetFileSizeEx(file, &file_size)) return unreadable;
    const std::vector<unsigned char> headers = ReadAt(file, 0, kExecutableHeadersSize);
    const CertificateTable table =
        LocateCertificateTable(headers.data(), headers.size(), static_cast<std::uint64_t>(file_size.QuadPart));
    if (table.state == CertificateTableState::Absent) return {};
    if (table.state == CertificateTableState::Malformed) return unreadable;
    const std::vector<unsigned char> entries = ReadAt(file, table.offset, table.size);
    const auto signed_data = FirstSignedData(entries.data(), entries.size());
    if (!signed_data) return unreadable;
    return {true, SignerSubject(entries.data() + signed_data->offset, signed_data->size)};
}

Publisher ReadOwnPublisher() {
    std::wstring path(32768, L'\0');
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0 || length >= path.size()) return {true, {}};
    path.resize(length);
    // Any sharing: another reader of the file (a virus scanner) must not make
    // the setup refuse every installer, and a mapped image cannot be written.
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return {true, {}};
    const FileHandle own(file);
    return ReadPublisher(own.get());
}

void VerifyInstallerPublisher(const HeldFile& installer, const std::wstring& path, const Publisher& setup) {
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
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    const LONG result = WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &trust);
    if (result != ERROR_SUCCESS) {
        SetLastError(static_cast<DWORD>(result));
        ThrowWithErrorCode(kSignatureInvalid);
    }
    if (!SamePublisher(setup, ReadPublisher(installer.get()))) throw std::runtime_error(kPublisherMismatch);
}

}  // namespace quorvane
