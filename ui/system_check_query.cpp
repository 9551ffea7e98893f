#include <windows.h>

#include "ui/system_check.h"

namespace quorvane {
namespace {

// ntdll's own record; the size field must hold 276 before the call.
struct RtlOsVersionInfo {
    ULONG dwOSVersionInfoSize;
    ULONG dwMajorVersion;
    ULONG dwMinorVersion;
    ULONG dwBuildNumber;
    ULONG dwPlatformId;
    WCHAR szCSDVersion[128];
};
static_assert(sizeof(RtlOsVersionInfo) == 276);

using RtlGetVersionFunction = LONG(WINAPI*)(RtlOsVersionInfo*);

}  // namespace

std::optional<WindowsVersion> QueryWindowsVersion() {
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    if (ntdll == nullptr) return std::nullopt;
    // Looked up at run time: the function is not in the import libraries of
    // every toolchain, and a system without it simply counts as supported.
    const FARPROC address = GetProcAddress(ntdll, "RtlGetVersion");
    if (address == nullptr) return std::nullopt;
    RtlOsVersionInfo info = {};
    info.dwOSVersionInfoSize = sizeof(info);
    const auto rtl_get_version = reinterpret_cast<RtlGetVersionFunction>(reinterpret_cast<void*>(address));
    if (rtl_get_version(&info) != 0) return std::nullopt;
    return WindowsVersion{info.dwMajorVersion, info.dwMinorVersion, info.dwBuildNumber};
}

}  // namespace quorvane
