#include "files/layout.h"

namespace quorvane {

std::wstring JoinPath(const std::wstring& folder, const std::wstring& name) {
    if (folder.empty()) return name;
    const wchar_t last = folder.back();
    if (last == L'\\' || last == L'/') return folder + name;
    return folder + L'\\' + name;
}

std::wstring InstallerFileName(const std::wstring& version) {
    std::wstring name = L"QuorvaneSetup_" + version + L".exe";
    for (wchar_t& character : name) {
        if (character == L'+' || character == L'/' || character == L':' || character == L'\\') character = L'_';
    }
    return name;
}

}  // namespace quorvane
