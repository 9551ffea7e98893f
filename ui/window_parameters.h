#pragma once
// The installer window's fixed creation parameters. No Windows header here;
// startup.cpp checks the numeric styles against the Windows names.

#include <cstdint>

#include "pipeline/progress.h"

namespace quorvane {

inline constexpr const wchar_t* kWindowClassName = L"QuorvaneOnlineSetupWindow";
inline constexpr const wchar_t* kWindowTitle = L"澜岫 在线安装";
inline constexpr const wchar_t* kWindowCreationFailedText = L"无法启动在线安装器";

// WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX: close and minimise, no sizing border, no maximise.
inline constexpr std::uint32_t kWindowStyle = 0x00CA0000;
inline constexpr std::uint32_t kWindowExtendedStyle = 0x00040000;  // WS_EX_APPWINDOW

// Outer size, caption and borders included.
inline constexpr int kWindowWidth = 620;
inline constexpr int kWindowHeight = 330;
inline constexpr int kUnsupportedWindowHeight = 380;

// The unsupported screen lists the supported systems and needs the extra height.
constexpr int WindowOuterHeight(RunState state) {
    return state == RunState::Unsupported ? kUnsupportedWindowHeight : kWindowHeight;
}

}  // namespace quorvane
