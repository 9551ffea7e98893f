#pragma once
// The release as every client meets it: both manifests from every address a
// client may read them from (or from the maker's disk before they are
// published), then the installer and the segment database from each trusted
// domain, streamed through libcurl and checked the way the installer checks
// them: the same request targets, redirects and body limits, and for the first
// mirror's installer the judgement of every signed setup still offered.

#include <ostream>
#include <string>
#include <vector>

namespace quorvane::release {

struct CheckOptions {
    std::string installer_manifest_url;
    std::string segment_manifest_url;
    std::string installer_manifest_file;  // non-empty: this file instead of the published manifest
    std::string segment_manifest_file;
    // The signed setups still offered: the first mirror's installer is judged
    // as each of them judges it.
    std::vector<std::string> setups;
    std::string proxy;    // empty: libcurl's own choice from the environment
    std::string ca_file;  // empty: the system's CA certificates
};

// Writes one line per manifest address and per mirror to report; true when no
// address would fail a client. Raises when a manifest cannot be read from any
// of its addresses or its file.
bool CheckRelease(const CheckOptions& options, std::ostream& report);

}  // namespace quorvane::release
