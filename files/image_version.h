#pragma once
// The installer's version as its signed image names it.

#include <string>

namespace quorvane {

class HeldFile;

// Accepts the held installer only when its version block's ProductVersion is
// the manifest's version text exactly and its fixed product version is at
// least this setup's floor; raises "安装包版本与安装信息不一致" (also for a
// missing or unreadable block) or "安装包版本低于本安装程序支持的最低版本".
void RequireInstallerVersion(const HeldFile& installer, const std::wstring& manifest_version);

}  // namespace quorvane
