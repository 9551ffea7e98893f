#include "ui/system_check.h"

#include "ui/window_texts.h"

namespace quorvane {

std::wstring DescribeSystem(std::uint32_t major, std::uint32_t minor, std::uint32_t) {
    if (major == 6 && minor == 1) return L"Windows 7";
    if (major == 6 && minor == 2) return L"Windows 8";
    if (major == 6 && minor == 3) return L"Windows 8.1";
    if (major == 10) return L"Windows 10";
    return L"Windows " + std::to_wstring(major) + L"." + std::to_wstring(minor);
}

bool IsSupportedSystem(const WindowsVersion& version) {
    return version.major > 10 || (version.major == 10 && version.build >= 17763);
}

void ApplySystemCheck(const std::optional<WindowsVersion>& version, DisplayState& display) {
    if (!version || IsSupportedSystem(*version)) return;
    display.state = RunState::Unsupported;
    display.percent = 0;
    display.system_name = DescribeSystem(version->major, version->minor, version->build);
    display.status_line = kSupportedSystemsText;
}

}  // namespace quorvane
