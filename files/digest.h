#pragma once
// SHA-256 of a whole file through CryptoAPI.

#include <string>

namespace quorvane {

// 64 lower-case hexadecimal digits, to be compared with a manifest's sha256 by
// plain string equality. Raises std::runtime_error on failure.
std::string Sha256OfFile(const std::wstring& path);

}  // namespace quorvane
