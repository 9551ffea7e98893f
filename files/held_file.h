#pragma once
// A file held open for reading with read sharing only. While it is held no
// other handle can write, truncate, rename, replace or delete it, so bytes
// checked through it are still the bytes on disk when the hold ends.

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "files/unique_handle.h"

namespace quorvane {

namespace file_release {
inline void Close(HANDLE file) noexcept { CloseHandle(file); }
}  // namespace file_release

// A file handle; empty (never INVALID_HANDLE_VALUE) when nothing is open.
using FileHandle = UniqueHandle<HANDLE, file_release::Close>;

class HeldFile {
public:
    HeldFile() noexcept = default;
    // Not open when the file is missing or another handle already has write
    // or delete access to it.
    explicit HeldFile(const std::wstring& path);

    bool is_open() const noexcept { return static_cast<bool>(file_); }
    HANDLE get() const noexcept { return file_.get(); }
    void Close() noexcept { file_.reset(); }

private:
    FileHandle file_;
};

// Reads count bytes at offset through the handle, without moving its file
// pointer; false when the file has fewer or a read fails.
bool ReadFileAt(HANDLE file, std::uint64_t offset, unsigned char* bytes, std::size_t count);

}  // namespace quorvane
