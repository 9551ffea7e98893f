#pragma once
// The maker's fixed names, each spelled once. Every address, folder and label
// that depends on the maker is composed from these.

namespace quorvane {

// Trusted download domains in fallback order: an address on one of them is
// backed by the same path on each domain after it.
inline constexpr const wchar_t* kTrustedDomains[] = {L"quorvane.com", L"quorvane.cn", L"quorvane.net"};

inline constexpr const wchar_t* kManifestHost = L"update.quorvane.com";
inline constexpr const wchar_t* kDefaultInstallerManifestUrl =
    L"https://update.quorvane.com/app/quorvane-manifest.json";
inline constexpr const wchar_t* kSegmentManifestUrl =
    L"https://update.quorvane.com/segments/v2/segment-manifest.json";

inline constexpr const wchar_t* kVendorFolder = L"QuorvaneSoft";
inline constexpr const wchar_t* kCompanyName = L"Quorvane Software";

// The named mutex that allows one installation run per user session; the
// "Local" namespace keeps it within the session, so other sessions keep their own.
inline constexpr const wchar_t* kSessionRunMutexName = L"Local\\QuorvaneSoft.QuorvaneOnlineSetup.Run";

}  // namespace quorvane
