#pragma once
// The window's DPI and the outer size that follows from it.

#include <windows.h>

#include "report/progress.h"
#include "ui/geometry.h"

namespace quorvane {

// The window's own DPI where the system keeps one per window (Windows 10
// 1607 and later); otherwise the vertical pixels per inch of its device
// context; 96 when neither answers.
int WindowDpi(HWND window);

// The outer size for a window in the given state at the given DPI.
ClientSize WindowOuterSize(RunState state, int dpi);

// Resizes the window, keeping its place, to its outer size at its DPI.
void FitWindowToDpi(HWND window, RunState state, int dpi);

}  // namespace quorvane
