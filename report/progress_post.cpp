#include "report/progress_post.h"

#include <memory>

namespace quorvane {

HWND main_window = nullptr;
void (*progress_posting)(const ProgressRecord& record) = nullptr;

BOOL PostProgress(int percent, const std::wstring& text, RunState state) {
    auto record = std::make_unique<ProgressRecord>(ProgressRecord{percent, state, text});
    if (progress_posting) progress_posting(*record);
    const BOOL posted = PostMessageW(main_window, WM_INSTALL_PROGRESS, 0, reinterpret_cast<LPARAM>(record.get()));
    // Once posted, the window owns the record; a record that could not be posted is freed here.
    if (posted) record.release();
    return posted;
}

}  // namespace quorvane
