#pragma once
// The publisher check: the installer that a run starts must be signed by the
// same publisher as the setup that starts it. The signing key is never on the
// maker's servers, so a server that names other bytes cannot have them run.

#include <windows.h>

#include <string>

#include "files/signature_format.h"

namespace quorvane {

class HeldFile;

// Who signed the file open at file, read through that handle: the signer that
// its one signature names, in a certificate table that holds nothing else.
Publisher ReadPublisher(HANDLE file);

// The path of the running executable's own file.
std::wstring OwnExecutablePath();

// Who signed the running executable, read from its own file. A file that
// cannot be opened or read is Unreadable.
Publisher ReadOwnPublisher();

// Accepts the held installer only when its certificate table holds one
// signature and nothing else, WinVerifyTrust finds that signature valid for
// exactly the bytes held, and the one signer it verified has the setup's
// identity; raises trust::kSignatureInvalid (with WinVerifyTrust's answer as
// the error code when it refused) or trust::kPublisherMismatch otherwise
// (files/trust_texts.h).
// path names the same file.
void VerifyInstallerPublisher(const HeldFile& installer, const std::wstring& path, const Publisher& setup);

}  // namespace quorvane
