#pragma once
// The run's fixed texts and request purposes, each spelled once. The cancel
// message is the transport's (net/transport_texts.h), which the stages raise too.

namespace quorvane {

inline constexpr const wchar_t* kManifestPurpose = L"online-installer-manifest";
inline constexpr const wchar_t* kPackagePurpose = L"online-installer-package";
inline constexpr const wchar_t* kSegmentManifestPurpose = L"online-installer-segment-manifest";
inline constexpr const wchar_t* kSegmentDatabasePurpose = L"online-installer-segment-database";

// Progress texts; those ending in a space are followed by a version.
inline constexpr const wchar_t* kFetchingInstallInfo = L"正在获取最新安装信息";
inline constexpr const wchar_t* kTryingOtherManifestAddress = L"正在尝试备用安装信息地址";
inline constexpr const wchar_t* kFoundNewestVersion = L"发现最新版 ";
inline constexpr const wchar_t* kPackageAlreadyDownloaded = L"安装包已下载 ";
inline constexpr const wchar_t* kPackageVerified = L"安装包校验完成";
inline constexpr const wchar_t* kDownloadingPackage = L"正在下载安装包 ";
inline constexpr const wchar_t* kTryingOtherPackageAddress = L"正在尝试备用安装包下载地址";
inline constexpr const wchar_t* kVerifyingPackage = L"正在校验安装包";
inline constexpr const wchar_t* kInstallingProgram = L"正在安装程序 ";
inline constexpr const wchar_t* kProgramInstalled = L"程序安装完成";
inline constexpr const wchar_t* kFetchingSegmentVersion = L"正在获取号段版本信息";
inline constexpr const wchar_t* kTryingOtherSegmentManifestAddress = L"正在尝试备用号段版本地址";
inline constexpr const wchar_t* kSegmentsCurrent = L"号段库已是最新版本 ";
inline constexpr const wchar_t* kDownloadingSegments = L"正在下载号段库 ";
inline constexpr const wchar_t* kTryingOtherSegmentAddress = L"正在尝试备用号段下载地址";
inline constexpr const wchar_t* kVerifyingSegments = L"正在校验号段库";
inline constexpr const wchar_t* kInstallingSegments = L"正在安装号段库 ";
inline constexpr const wchar_t* kLaunchingProgram = L"正在启动程序";
inline constexpr const wchar_t* kFinishedAndLaunched = L"安装和号段初始化完成，已启动程序";
inline constexpr const wchar_t* kFinishedUseShortcut = L"安装和号段初始化完成，请从桌面快捷方式启动程序";
inline constexpr const wchar_t* kFinished = L"安装和号段初始化完成";
inline constexpr const wchar_t* kRunCancelled = L"安装已取消，你可以重新开始安装";

// Failure messages (UTF-8).
inline constexpr const char* kPackageSizeMismatch = "安装包大小校验失败";
inline constexpr const char* kPackageDigestMismatch = "安装包 SHA-256 校验失败";
inline constexpr const char* kPackageDownloadFailed = "安装包下载失败";
inline constexpr const char* kInstallerExitCode = "安装程序返回异常退出码：";
inline constexpr const char* kInstallerLogSeparator = "，日志：";
inline constexpr const char* kOwnSignatureUnreadable = "无法读取安装程序自身的数字签名";
inline constexpr const char* kNoSegmentFolder = "无法定位本地号段缓存目录";
inline constexpr const char* kSegmentDownloadFailed = "号段库下载失败";
inline constexpr const char* kSegmentDatabaseTooLarge = "号段库文件过大";

// The worker's own failure texts, in UTF-16 as posted: they stand in where a
// message could not be converted or no thread started, so none of them is
// converted on its way to the window.
inline constexpr const wchar_t* kCannotStartWorker = L"无法启动安装线程";
inline constexpr const wchar_t* kFailedWithoutMessage = L"安装失败";

}  // namespace quorvane
