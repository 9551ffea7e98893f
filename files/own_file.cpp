// The running executable's own path, alone in its file: a test build links
// another definition in its place to name a file it cannot read.

#include "files/signature.h"

namespace quorvane {

std::wstring OwnExecutablePath() {
    std::wstring path(32768, L'\0');
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0 || length >= path.size()) return {};
    path.resize(length);
    return path;
}

}  // namespace quorvane
