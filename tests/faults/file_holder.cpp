// Another process that holds a file open, as a virus scanner, the product or
// a half-finished copy might: file_holder.exe <path> read|write <event name>.
// It opens the file for reading or for writing, sharing reading only, signals
// the named event and waits to be ended.

#include <windows.h>

#include <cwchar>

int wmain(int argc, wchar_t** argv) {
    if (argc != 4) return 2;
    const DWORD access = std::wcscmp(argv[2], L"write") == 0 ? GENERIC_WRITE : GENERIC_READ;
    const HANDLE file = CreateFileW(argv[1], access, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 3;
    const HANDLE ready = OpenEventW(EVENT_MODIFY_STATE, FALSE, argv[3]);
    if (ready == nullptr) return 4;
    SetEvent(ready);
    Sleep(INFINITE);
    return 0;
}
