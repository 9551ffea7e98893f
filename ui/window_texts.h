#pragma once
// The window's fixed texts, each spelled once: the painting list draws them
// and the accessible tree reads them out, as the state model chooses them. A
// running installation's headline is its step (StepLabel), its status lines
// come from the worker. No Windows header here.

namespace quorvane {

// The header.
inline constexpr const wchar_t* kProductTitle = L"澜岫";
inline constexpr const wchar_t* kProductSubtitle = L"联网获取最新版并自动完成安装";

// Headlines of the outcomes and of a pending cancel. The cancelled screen's
// headline is the window's own, whatever the run's cancel message says.
inline constexpr const wchar_t* kUnsupportedHeadline = L"当前系统无法安装";
inline constexpr const wchar_t* kFailedHeadline = L"安装遇到问题";
inline constexpr const wchar_t* kCancelledHeadline = L"安装已取消";
inline constexpr const wchar_t* kFinishedHeadline = L"安装完成";
inline constexpr const wchar_t* kFinishingInstallHeadline = L"正在完成当前安装";
inline constexpr const wchar_t* kCancellingHeadline = L"正在取消安装";

// Status lines the window sets itself.
inline constexpr const wchar_t* kInitialStatus = L"准备安装最新版澜岫";
inline constexpr const wchar_t* kPreparingStatus = L"正在准备安装";
inline constexpr const wchar_t* kCancelAfterInstallerStatus = L"程序正在安装，完成当前步骤后将停止";
inline constexpr const wchar_t* kCancellingStatus = L"正在取消安装，请稍候";
// Shown in place of the status line on an unsupported system.
inline constexpr const wchar_t* kSupportedSystemsText = L"Windows 10 1809 及以上版本\nWindows 11（64 位）";

// The unsupported screen's labels.
inline constexpr const wchar_t* kCurrentSystemLabel = L"当前系统：";
inline constexpr const wchar_t* kSupportedSystemsLabel = L"支持系统：";

// The controls.
inline constexpr const wchar_t* kAutoRunLabel = L"安装完成后自动运行";
inline constexpr const wchar_t* kCloseCaption = L"关闭";
inline constexpr const wchar_t* kReinstallCaption = L"重新安装";
inline constexpr const wchar_t* kCancelCaption = L"取消";
inline constexpr const wchar_t* kCancellingCaption = L"正在取消";

// What a screen reader reads beside them: the bar's name and the default actions.
inline constexpr const wchar_t* kProgressBarName = L"安装进度";
inline constexpr const wchar_t* kCheckAction = L"选中";
inline constexpr const wchar_t* kUncheckAction = L"取消选中";
inline constexpr const wchar_t* kPressAction = L"按下";

}  // namespace quorvane
