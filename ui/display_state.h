#pragma once
// What the window shows, and the process-wide values around it. No Windows
// header here: the window's state model and painting list build without one.

#include <cstdint>
#include <string>

#include "report/progress.h"
#include "ui/window_texts.h"

namespace quorvane {

// The values the window shows. Only the main thread reads or writes them; the
// worker reaches the window through posted records alone.
struct DisplayState {
    RunState state = RunState::Running;  // Unsupported is set by the system check and is final
    std::int32_t percent = 0;            // the overall progress shown, 0 to 100 (clamped when painted)
    std::wstring status_line = kInitialStatus;  // in Unsupported: the supported-systems text
    std::wstring system_name;            // the running Windows, set only when it is unsupported
};

// The one instance, alive from before the entry point until the process ends.
extern DisplayState display_state;

// The GDI+ token (a ULONG_PTR), 0 while GDI+ is not running. The entry point
// sets it when GdiplusStartup succeeds; the window's destruction shuts GDI+
// down and sets it back to 0.
extern std::uintptr_t gdiplus_token;

}  // namespace quorvane
