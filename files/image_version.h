#pragma once
// The installer's version as its signed image names it.

#include <string>

namespace quorvane {

class HeldFile;

// Accepts the held installer only when its version block's ProductVersion is
// the manifest's version text exactly and its fixed product version is at
// least this setup's floor; raises trust::kVersionMismatch (also for a
// missing or unreadable block) or trust::kVersionBelowFloor (files/trust_texts.h).
void RequireInstallerVersion(const HeldFile& installer, const std::wstring& manifest_version);

}  // namespace quorvane
