#pragma once
// What the release tool writes: the installer manifest and the segment
// manifest, composed from the installer's own structures and refused with a
// message whenever a client would fail on them. No Windows header here.

#include <cstdint>
#include <functional>
#include <string>

#include "files/manifest.h"
#include "net/download_url.h"

namespace quorvane::release {

// The pieces of an address; raises when it is no HTTPS address on a trusted
// domain, since every client would then fail or fetch from a host the maker
// does not hold.
ParsedUrl ParseReleaseAddress(const std::string& address);

// Raises when "QuorvaneSetup_<version>.exe", the name under which every client
// saves the installer, is a name that Windows cannot create.
void RefuseUnusableVersion(const std::wstring& version);

// Raises when the file is shorter than the segment database header or does
// not begin with it.
void RefuseDatabaseWithoutHeader(const std::string& path);

// The manifest texts, in the shape the maker's servers have always served.
std::string ComposeInstallerManifest(const InstallerManifest& manifest);
std::string ComposeSegmentManifest(const SegmentManifest& manifest);

// Read the text back with the installer's readers and raise unless they give
// exactly the manifest it was composed from; the segment manifest also through
// the local record that every client writes from it.
void ReadBackInstallerManifest(const std::string& text, const InstallerManifest& expected);
void ReadBackSegmentManifest(const std::string& text, const SegmentManifest& expected);

// Writes text to a new temporary file in path's folder, flushes it to the
// disk, hands what the file then holds to check, and only then renames it over
// path and flushes the folder. Any failure before the rename, also one that
// check raises, leaves path as it was and no temporary file behind.
void WriteFileAtomically(const std::string& path, const std::string& text,
                         const std::function<void(const std::string&)>& check);

// The file an output names: the path itself, or the file a symbolic link
// leads to, so that writing replaces that file and keeps the link. Raises for
// a link that leads nowhere.
std::string FollowOutputLink(const std::string& path);

// The lower-case SHA-256 of a file and its size, read in pieces.
struct FileDigest {
    std::string sha256;
    std::uint64_t size = 0;
};
FileDigest DigestOfFile(const std::string& path);

}  // namespace quorvane::release
