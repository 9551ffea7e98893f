// The size floor of the installer's executable for bench/bench.sh: the least
// program built like QuorvaneSetup.exe (the same flags, a static runtime, the
// same resources) that uses what the installer's design requires of the
// standard library: the file system, file streams, a thread and atomics.
//   bench-floor FOLDER   on a worker thread, create FOLDER\bench-floor, write
//                        a file into it, read it back, check its size and type,
//                        remove the folder again.
// Exits with 0, or 1 when anything failed.

#include <windows.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <thread>

namespace {

constexpr char kContent[] = "floor";

bool RoundTrip(const std::filesystem::path& folder) {
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    const std::filesystem::path file = folder / L"floor.bin";
    {
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out.write(kContent, sizeof kContent - 1);
        if (!out.flush()) return false;
    }
    char read[sizeof kContent] = {};
    std::ifstream in(file, std::ios::binary);
    in.read(read, sizeof read);
    const bool same = in.gcount() == static_cast<std::streamsize>(sizeof kContent - 1) &&
                      std::filesystem::is_regular_file(file, error) &&
                      std::filesystem::file_size(file, error) == sizeof kContent - 1;
    in.close();
    std::filesystem::remove(file, error);
    return same && std::filesystem::remove_all(folder, error) == 1;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    if (__argc != 2) return 1;
    const std::filesystem::path folder = std::filesystem::path(__wargv[1]) / L"bench-floor";
    std::atomic<bool> succeeded{false};
    std::thread worker([&] { succeeded.store(RoundTrip(folder)); });
    worker.join();
    return succeeded.load() ? 0 : 1;
}
