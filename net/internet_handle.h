#pragma once
// The owner of one WinHTTP handle.

#include <windows.h>
#include <winhttp.h>

#include "files/unique_handle.h"

namespace quorvane {

namespace internet_release {
inline void Close(HINTERNET handle) noexcept { WinHttpCloseHandle(handle); }
}  // namespace internet_release

using InternetHandle = UniqueHandle<HINTERNET, internet_release::Close>;

}  // namespace quorvane
