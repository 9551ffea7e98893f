#pragma once
// The transport's fixed failure texts and request settings, each spelled once.

#include <cstdint>

namespace quorvane::transport {

inline constexpr const wchar_t* kCannotParseAddress = L"无法解析下载地址";
inline constexpr const wchar_t* kHttpsOnly = L"在线安装器只允许使用 HTTPS 地址";

inline constexpr const wchar_t* kCannotOpenSession = L"无法初始化网络连接";
inline constexpr const wchar_t* kCannotConnect = L"无法连接服务器";
inline constexpr const wchar_t* kCannotOpenRequest = L"无法创建下载请求";
inline constexpr const wchar_t* kSendFailed = L"发送下载请求失败";
inline constexpr const wchar_t* kReceiveFailed = L"接收服务器响应失败";
inline constexpr const wchar_t* kStatusUnreadable = L"读取服务器状态失败";
inline constexpr const wchar_t* kBadStatusPrefix = L"服务器返回异常状态码：";

// The run's cancel message, raised by the transfers and the stages alike.
inline constexpr const wchar_t* kCancelled = L"安装已取消";
inline constexpr const wchar_t* kQueryDataFailed = L"读取下载数据失败";
inline constexpr const wchar_t* kBodyTooLarge = L"服务器返回的版本文件过大";
inline constexpr const wchar_t* kMemoryReadFailed = L"读取下载内容失败";
inline constexpr const wchar_t* kDownloadFailed = L"下载失败";
inline constexpr const wchar_t* kCannotCreateFile = L"无法创建本地下载文件";
inline constexpr const wchar_t* kFileReadFailed = L"下载文件失败";
inline constexpr const wchar_t* kCannotSaveFile = L"保存下载文件失败";

inline constexpr const wchar_t* kUserAgent = L"QuorvaneOnlineSetup/1.0";
inline constexpr const wchar_t* kPurposeHeaderName = L"X-Qvr-Request: ";
inline constexpr const wchar_t* kAcceptEncodingLine = L"Accept-Encoding: gzip, deflate\r\n";

inline constexpr int kResolveTimeoutMs = 15000;
inline constexpr int kConnectTimeoutMs = 15000;
inline constexpr int kSendTimeoutMs = 30000;
inline constexpr int kReceiveTimeoutMs = 30000;

}  // namespace quorvane::transport
