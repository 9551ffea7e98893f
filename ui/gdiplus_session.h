#pragma once
// GDI+ runs from start-up until the window is destroyed. Its token, 0 while
// GDI+ is not running, is the process-wide gdiplus_token of ui/display_state.h.

namespace quorvane {

// GDI+ version 1 with its own background thread. On failure the token stays 0
// and the program draws with plain GDI. Returns whether GDI+ runs.
bool StartGdiplus();

// Shuts GDI+ down if it runs and sets the token back to 0; safe to call again.
void ShutdownGdiplus();

}  // namespace quorvane
