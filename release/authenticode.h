#pragma once
// What every signed setup judges about a full installer before it runs it,
// read with OpenSSL from the files and judged by the installer's own rules in
// files/: the strict certificate table, the signer's publisher identity, the
// signature over the image, and the version block.

#include <optional>
#include <string>
#include <vector>

#include "files/image_version_format.h"
#include "files/signature_format.h"

namespace quorvane::release {

// Who signed the executable at path, as a signed setup reads it: its one
// signer's identity, from a certificate table that holds nothing else.
// Unreadable, with why in problem, for a signature a setup cannot read.
struct SignerReading {
    Publisher publisher;
    std::string problem;
};
SignerReading ReadSigner(const std::string& path);

// The identity for people, "unsigned", or why the signature cannot be read.
std::string DescribeSigner(const SignerReading& signer);

// Raises unless the signature covers the executable as WinVerifyTrust checks
// it: the image digest it names, and the signer's signature over that digest.
// Whether the signer's chain is trusted is each Windows' own judgement.
void RefuseBrokenSignature(const std::string& path);

// The version block of the executable at path; nothing when it has none or
// it cannot be read.
std::optional<ImageVersion> ReadVersionOf(const std::string& path);

// The ProductVersion text of a version block, when it names one.
std::optional<std::string> ProductVersionOf(const std::optional<ImageVersion>& image);

// Raises, naming the setup and the text its clients would show, unless each
// setup is signed and would run the installer as version: signed by the same
// identity, with a signature that covers it, its ProductVersion the version
// text and its fixed version at least the setup's floor. Returns one line per
// setup, for the report.
std::vector<std::string> RefuseWhatSetupsRefuse(const std::string& installer, const std::vector<std::string>& setups,
                                                const std::string& version);

}  // namespace quorvane::release
