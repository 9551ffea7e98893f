#pragma once
// The download loop the package and segment stages share: one attempt per
// candidate address until one delivers a verified file.

#include <functional>
#include <string>
#include <vector>

namespace quorvane {

// Before each attempt the file is deleted. A failed attempt passes up at once
// when a cancel was asked for; otherwise its message becomes the last error,
// the file is deleted and, when another candidate remains, (retry_percent,
// retry_text) is posted. With every candidate failed, the last error is
// raised, or nothing_tried_message when there was no candidate.
void DownloadFromCandidates(const std::vector<std::wstring>& candidates, const std::wstring& file,
                            int retry_percent, const std::wstring& retry_text, const char* nothing_tried_message,
                            const std::function<void(const std::wstring& candidate)>& attempt);

}  // namespace quorvane
