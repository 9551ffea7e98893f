#pragma once
// The publisher check: the installer that a run starts must be signed by the
// same publisher as the setup that starts it. The signing key is never on the
// maker's servers, so a server that names other bytes cannot have them run.

#include <windows.h>

#include <string>

#include "files/signature_format.h"

namespace quorvane {

class HeldFile;

// Who signed the file open at file, read through that handle.
Publisher ReadPublisher(HANDLE file);

// Who signed the running executable, read from its own file. A file that
// cannot be read counts as signed by nobody that anything matches.
Publisher ReadOwnPublisher();

// Accepts the held installer only when WinVerifyTrust finds its signature
// valid for exactly the bytes held, and its signer's subject is the setup's;
// raises "安装包数字签名无效" (with WinVerifyTrust's answer as the error code)
// or "安装包发布者与安装程序不一致" otherwise. path names the same file.
void VerifyInstallerPublisher(const HeldFile& installer, const std::wstring& path, const Publisher& setup);

}  // namespace quorvane
