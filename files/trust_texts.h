#pragma once
// The texts with which a signed setup refuses an installer, each spelled once
// (UTF-8). The setup raises them (signature.cpp, image_version.cpp); the
// maker's release tool names them for every setup whose clients would refuse.
// No Windows header here: the release tool builds on its own host.

namespace quorvane::trust {

inline constexpr const char* kSignatureInvalid = "安装包数字签名无效";
inline constexpr const char* kPublisherMismatch = "安装包发布者与安装程序不一致";
inline constexpr const char* kVersionMismatch = "安装包版本与安装信息不一致";
inline constexpr const char* kVersionBelowFloor = "安装包版本低于本安装程序支持的最低版本";

}  // namespace quorvane::trust
