#include "tests/faults/observed.h"

#include <filesystem>
#include <fstream>
#include <mutex>

#include "tests/support/test_server.h"

namespace quorvane::testing {
namespace {

std::filesystem::path ObservedFile() { return BuildFolder() / L"failure-coverage" / L"observed.txt"; }

}  // namespace

void NoteObservedFailure(const std::string& message) {
    static std::mutex mutex;
    static bool started = false;
    const std::lock_guard<std::mutex> lock(mutex);
    const std::filesystem::path file = ObservedFile();
    std::filesystem::create_directories(file.parent_path());
    std::ofstream stream(file, started ? std::ios::app : std::ios::trunc);
    started = true;
    // One message a line: the system's error descriptions end in CR LF.
    std::string line = message;
    for (char& character : line) {
        if (character == '\r' || character == '\n') character = ' ';
    }
    stream << line << '\n';
}

}  // namespace quorvane::testing
