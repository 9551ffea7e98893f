#include "pipeline/download_loop.h"

#include <exception>
#include <stdexcept>

#include "files/layout.h"
#include "report/progress.h"
#include "report/progress_post.h"

namespace quorvane {

void DownloadFromCandidates(const std::vector<std::wstring>& candidates, const std::wstring& file,
                            int retry_percent, const std::wstring& retry_text, const char* nothing_tried_message,
                            const std::function<void(const std::wstring& candidate)>& attempt) {
    std::string last_error;
    for (size_t index = 0; index < candidates.size();) {
        RemoveQuietly(file);
        try {
            attempt(candidates[index]);
            return;
        } catch (const std::exception& failure) {
            if (run_flags.cancel_requested.Load()) throw;
            last_error = failure.what();
        }
        ++index;
        RemoveQuietly(file);
        if (index < candidates.size()) PostProgress(retry_percent, retry_text, RunState::Running);
    }
    throw std::runtime_error(last_error.empty() ? std::string(nothing_tried_message) : last_error);
}

}  // namespace quorvane
