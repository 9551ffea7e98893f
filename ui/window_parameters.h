#pragma once
// The installer window's fixed creation parameters. No Windows header here;
// startup.cpp checks the numeric styles against the Windows names.

#include <cstdint>

#include "report/progress.h"
#include "ui/geometry.h"

namespace quorvane {

inline constexpr const wchar_t* kWindowClassName = L"QuorvaneOnlineSetupWindow";
inline constexpr const wchar_t* kWindowTitle = L"澜岫 在线安装";
inline constexpr const wchar_t* kWindowCreationFailedText = L"无法启动在线安装器";
inline constexpr const wchar_t* kAlreadyRunningText = L"安装程序已在运行，请等待它完成，或将其结束后再试";

// WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX: close and minimise, no sizing border, no maximise.
inline constexpr std::uint32_t kWindowStyle = 0x00CA0000;
inline constexpr std::uint32_t kWindowExtendedStyle = 0x00040000;  // WS_EX_APPWINDOW

// Outer size at 96 DPI, caption and borders included.
inline constexpr int kWindowWidth = 620;
inline constexpr int kWindowHeight = 330;
inline constexpr int kUnsupportedWindowHeight = 380;

// The unsupported screen lists the supported systems and needs the extra height.
constexpr int WindowOuterHeight(RunState state) {
    return state == RunState::Unsupported ? kUnsupportedWindowHeight : kWindowHeight;
}

// The outer size at a display scale: the client area that the window has at
// 96 DPI, scaled, plus the caption and borders at that scale. frame_units is
// what the caption and borders add at 96 DPI, frame_pixels what they add at
// the scale's DPI.
inline ClientSize ScaledOuterSize(RunState state, const DpiScale& scale, ClientSize frame_units,
                                  ClientSize frame_pixels) {
    const ClientSize client_units{kWindowWidth - frame_units.width, WindowOuterHeight(state) - frame_units.height};
    const ClientSize client = scale.Size(client_units);
    return {client.width + frame_pixels.width, client.height + frame_pixels.height};
}

}  // namespace quorvane
