#pragma once
// Shared by the address tests: the trusted domains by position, and a
// candidate list as a failure message shows it.

#include <string>
#include <vector>

#include "files/text.h"
#include "net/download_url.h"

namespace quorvane::testing {

using Candidates = std::vector<std::wstring>;

inline const std::wstring T1 = TrustedDomains().at(0);
inline const std::wstring T2 = TrustedDomains().at(1);
inline const std::wstring T3 = TrustedDomains().at(2);

inline std::string Show(const Candidates& list) {
    std::string text;
    for (const std::wstring& item : list) text += "\n  " + WideToUtf8(item);
    return text.empty() ? "\n  (empty)" : text;
}

}  // namespace quorvane::testing
