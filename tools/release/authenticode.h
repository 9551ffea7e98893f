#pragma once
// The publisher of a Windows executable as a signed setup compares it: the
// subject name of the Authenticode signer certificate, as encoded in that
// certificate (DER). Read with OpenSSL from the PE certificate table.

#include <optional>
#include <string>

namespace quorvane::release {

struct Publisher {
    std::string subject_der;  // compared byte for byte, as the clients compare it
    std::string subject;      // for people: "CN=..., O=..."
};

// The signer of the executable at path; nothing when it carries no signature.
// Raises when the file is no PE file or its signature cannot be read.
std::optional<Publisher> PublisherOf(const std::string& path);

// Raises, naming both, unless the installer carries the setup's publisher in a
// signature that covers it: every signed setup refuses any other installer.
void RefuseOtherPublisher(const std::string& installer_path, const std::string& setup_path);

// Raises unless the signature covers the executable as WinVerifyTrust checks
// it: the image digest it names, and the signer's signature over that digest.
// Whether the signer's chain is trusted is each Windows' own judgement.
void RefuseBrokenSignature(const std::string& path);

// "CN=..." or "unsigned".
std::string PublisherText(const std::optional<Publisher>& publisher);

// The same for a report, also for a file whose signature cannot be read.
std::string DescribePublisher(const std::string& path);

}  // namespace quorvane::release
