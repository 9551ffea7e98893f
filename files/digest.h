#pragma once
// SHA-256 of a whole file through CryptoAPI.

#include <string>

namespace quorvane {

class HeldFile;

// 64 lower-case hexadecimal digits, to be compared with a manifest's sha256 by
// plain string equality. Raises std::runtime_error on failure.
std::string Sha256OfFile(const std::wstring& path);
// The same for a held file, read from its start through its handle, so that
// the digest covers the bytes that the hold protects. A file that is not open
// fails like one that cannot be read.
std::string Sha256OfFile(const HeldFile& file);

}  // namespace quorvane
