#pragma once
// Whether the running Windows can take the product, decided once before the
// window exists. No Windows header here; the version query lives beside it in
// system_check_query.cpp.

#include <cstdint>
#include <optional>
#include <string>

#include "ui/display_state.h"

namespace quorvane {

struct WindowsVersion {
    std::uint32_t major = 0;
    std::uint32_t minor = 0;
    std::uint32_t build = 0;
};

// The name of a Windows version as the unsupported screen shows it.
std::wstring DescribeSystem(std::uint32_t major, std::uint32_t minor, std::uint32_t build);

// Windows 10 version 1809 (build 17763) and everything with a later major version.
bool IsSupportedSystem(const WindowsVersion& version);

// Turns the display into the unsupported screen when the version is known and
// unsupported; an unknown version (no query, or a failing one) counts as supported.
void ApplySystemCheck(const std::optional<WindowsVersion>& version, DisplayState& display);

// The true version from RtlGetVersion, which, unlike GetVersionEx, does not
// depend on the compatibility entries of the executable's manifest. Empty when
// ntdll or the function is missing or the call fails.
std::optional<WindowsVersion> QueryWindowsVersion();

}  // namespace quorvane
