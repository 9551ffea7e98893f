#pragma once
// The release as every client meets it: both manifests from their addresses,
// then the installer and the segment database from each trusted domain,
// streamed through libcurl and checked the way the installer checks them.

#include <ostream>
#include <string>

namespace quorvane::release {

struct CheckOptions {
    std::string installer_manifest_url;
    std::string segment_manifest_url;
    std::string proxy;    // empty: libcurl's own choice from the environment
    std::string ca_file;  // empty: the system's CA certificates
};

// Writes one line per manifest and per mirror to report; true when no mirror
// would fail a client. Raises when a manifest cannot be fetched or read.
bool CheckRelease(const CheckOptions& options, std::ostream& report);

}  // namespace quorvane::release
