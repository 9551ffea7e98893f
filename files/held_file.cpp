#include "files/held_file.h"

namespace quorvane {

HeldFile::HeldFile(const std::wstring& path) {
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file != INVALID_HANDLE_VALUE) file_.reset(file);
}

bool ReadFileAt(HANDLE file, std::uint64_t offset, unsigned char* bytes, std::size_t count) {
    while (count > 0) {
        OVERLAPPED position = {};
        position.Offset = static_cast<DWORD>(offset);
        position.OffsetHigh = static_cast<DWORD>(offset >> 32);
        const DWORD wanted = count > (1u << 20) ? DWORD{1u << 20} : static_cast<DWORD>(count);
        DWORD read = 0;
        if (!ReadFile(file, bytes, wanted, &read, &position) || read == 0) return false;
        offset += read;
        bytes += read;
        count -= read;
    }
    return true;
}

}  // namespace quorvane
