#pragma once
// The installer window's procedure, registered with the window class by the
// entry point.

#include <windows.h>

#include <optional>

#include "pipeline/worker.h"

namespace quorvane {

// What a test build of the window may change.
struct InstallerWindowOptions {
    std::optional<InstallStages> stages;  // the stages its runs use; none: the real ones
    bool always_high_contrast = false;    // paints with the system's colours as in high contrast
};

// The window's creation parameter may point to InstallerWindowOptions (tests
// drive the window with scripted stages); without one it runs the real stages
// and follows the system's high-contrast setting. The options are copied
// during creation.
LRESULT CALLBACK InstallerWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

}  // namespace quorvane
