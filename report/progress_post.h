#pragma once
// The worker's only way to reach the window: records posted to the main window.

#include <windows.h>

#include <string>

#include "report/progress.h"

namespace quorvane {

// wParam 0, lParam a ProgressRecord* whose ownership passes to the window.
inline constexpr UINT WM_INSTALL_PROGRESS = WM_APP + 1;
// wParam 0, lParam 0: the product was launched; the window closes itself.
inline constexpr UINT WM_INSTALL_CLOSE = WM_APP + 2;

// The process-wide main window handle, stored before the first run starts and
// never changed while a run is under way.
extern HWND main_window;

// Shown each record on the worker's thread right before it is posted; null in
// the product. A test reads the flags there: once posted, the window may act
// on the record at any moment, so what it finds must hold by then.
extern void (*progress_posting)(const ProgressRecord& record);

BOOL PostProgress(int percent, const std::wstring& text, RunState state);

}  // namespace quorvane
