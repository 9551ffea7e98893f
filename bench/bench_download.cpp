// Download throughput under Wine, for bench/bench.sh.
//   bench-download program URL DESTINATION   DownloadToFile, with a window
//                                             thread that takes its records
//   bench-download minimal URL DESTINATION   the least a WinHTTP program does
//                                             (minimal_work.h)
//   bench-download posting URL DESTINATION   the same, posting one record per
//                                             read with PostProgress, as every
//                                             download of the installer must
// Prints "seconds=S bytes=N records=R" for the transfer alone (Wine's start-up
// is not counted) and exits with 0, or prints the failure and exits with 1.

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>

#include "net/transfer.h"
#include "report/progress_post.h"
#include "bench/minimal_work.h"

namespace {

constexpr UINT kStopReceiving = WM_APP + 20;

// Stands in for the installer window: takes every posted record and frees it.
class RecordReceiver {
public:
    RecordReceiver() {
        thread_ = std::thread([this] { Run(); });
        while (window_.load() == nullptr) Sleep(1);
    }
    ~RecordReceiver() {
        PostMessageW(window_.load(), kStopReceiving, 0, 0);
        thread_.join();
    }
    RecordReceiver(const RecordReceiver&) = delete;
    RecordReceiver& operator=(const RecordReceiver&) = delete;

    HWND window() const { return window_.load(); }
    std::uint64_t records() const { return records_.load(); }

private:
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
        auto* self = reinterpret_cast<RecordReceiver*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        if (message == quorvane::WM_INSTALL_PROGRESS && self != nullptr) {
            delete reinterpret_cast<quorvane::ProgressRecord*>(lparam);
            self->records_.fetch_add(1);
            return 0;
        }
        if (message == kStopReceiving) {
            PostQuitMessage(0);
            return 0;
        }
        return DefWindowProcW(window, message, wparam, lparam);
    }

    void Run() {
        WNDCLASSW window_class{};
        window_class.lpfnWndProc = Procedure;
        window_class.hInstance = GetModuleHandleW(nullptr);
        window_class.lpszClassName = L"QuorvaneBenchRecords";
        RegisterClassW(&window_class);
        const HWND window = CreateWindowExW(0, window_class.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                            window_class.hInstance, nullptr);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        window_.store(window);
        MSG message{};
        while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
        DestroyWindow(window);
    }

    std::thread thread_;
    std::atomic<HWND> window_{nullptr};
    std::atomic<std::uint64_t> records_{0};
};

int RunProgram(const std::wstring& url, const std::wstring& destination) {
    RecordReceiver receiver;
    quorvane::main_window = receiver.window();
    const LARGE_INTEGER start = quorvane::bench::Now();
    quorvane::DownloadToFile(url, destination, L"online-installer-package", 20, 68, L"正在下载安装包 ", L"bench");
    const double seconds = quorvane::bench::SecondsSince(start);
    const std::uintmax_t bytes = std::filesystem::file_size(std::filesystem::path(destination));
    // Let the receiver take what is still queued before it is counted.
    Sleep(200);
    std::printf("seconds=%.6f bytes=%llu records=%llu\n", seconds, static_cast<unsigned long long>(bytes),
                static_cast<unsigned long long>(receiver.records()));
    return 0;
}

int RunMinimal(const std::wstring& url, const std::wstring& destination, bool posting) {
    RecordReceiver receiver;
    quorvane::main_window = receiver.window();
    const std::function<void(std::uint64_t)> post_record = [](std::uint64_t) {
        quorvane::PostProgress(42, L"正在下载安装包 bench", quorvane::RunState::Running);
    };
    const LARGE_INTEGER start = quorvane::bench::Now();
    const std::uint64_t bytes =
        quorvane::bench::MinimalDownload(url, destination, posting ? post_record : nullptr);
    const double seconds = quorvane::bench::SecondsSince(start);
    Sleep(200);
    std::printf("seconds=%.6f bytes=%llu records=%llu\n", seconds, static_cast<unsigned long long>(bytes),
                static_cast<unsigned long long>(receiver.records()));
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: bench-download program|minimal|posting URL DESTINATION\n");
        return 2;
    }
    const std::wstring mode = argv[1];
    try {
        if (mode == L"program") return RunProgram(argv[2], argv[3]);
        return RunMinimal(argv[2], argv[3], mode == L"posting");
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "download failed: %s\n", failure.what());
        return 1;
    }
}
