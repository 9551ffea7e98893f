// The benchmark build's timing marks (ui/bench_marks.h). Each paint appends
//   paint <now> <process created> <percent> <records so far>
// and each step of start-up
//   step <now> <name>
// to the file named by QV_BENCH_MARKS, times in microseconds since 1970 on the
// same clock as the Linux side. Without the variable nothing is written.

#include "ui/bench_marks.h"

#include <windows.h>

#include <cstdint>
#include <cstdio>

namespace quorvane {
namespace {

constexpr std::uint64_t kUnixEpochAsFileTime = 116444736000000000ULL;

std::uint64_t UnixMicroseconds(const FILETIME& time) {
    const std::uint64_t ticks = (std::uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime;
    return (ticks - kUnixEpochAsFileTime) / 10;
}

// Every mark runs on the window's thread only.
std::uint64_t records_taken = 0;
HANDLE log_file = INVALID_HANDLE_VALUE;
bool log_looked_up = false;

HANDLE LogFile() {
    if (log_looked_up) return log_file;
    log_looked_up = true;
    wchar_t path[MAX_PATH] = {};
    const DWORD length = GetEnvironmentVariableW(L"QV_BENCH_MARKS", path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return log_file;
    log_file = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    return log_file;
}

}  // namespace

void MarkPaint(int percent) {
    GdiFlush();
    FILETIME now{};
    GetSystemTimePreciseAsFileTime(&now);
    const HANDLE file = LogFile();
    if (file == INVALID_HANDLE_VALUE) return;
    FILETIME created{}, exited{}, kernel{}, user{};
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    char line[128];
    const int size = std::snprintf(line, sizeof line, "paint %llu %llu %d %llu\n",
                                   static_cast<unsigned long long>(UnixMicroseconds(now)),
                                   static_cast<unsigned long long>(UnixMicroseconds(created)), percent,
                                   static_cast<unsigned long long>(records_taken));
    DWORD written = 0;
    if (size > 0) WriteFile(file, line, static_cast<DWORD>(size), &written, nullptr);
}

void MarkProgressRecord() { ++records_taken; }

void MarkStartupStep(const char* step) {
    FILETIME now{};
    GetSystemTimePreciseAsFileTime(&now);
    const HANDLE file = LogFile();
    if (file == INVALID_HANDLE_VALUE) return;
    char line[128];
    const int size = std::snprintf(line, sizeof line, "step %llu %s\n",
                                   static_cast<unsigned long long>(UnixMicroseconds(now)), step);
    DWORD written = 0;
    if (size > 0 && size < static_cast<int>(sizeof line)) WriteFile(file, line, static_cast<DWORD>(size), &written, nullptr);
}

}  // namespace quorvane
