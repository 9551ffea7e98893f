#include "tests/support/sandbox.h"

#include <windows.h>

#include <atomic>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <vector>

namespace quorvane::testing {
namespace {

std::optional<std::wstring> CurrentValue(const std::wstring& name) {
    const DWORD size = GetEnvironmentVariableW(name.c_str(), nullptr, 0);
    if (size == 0) return std::nullopt;
    std::vector<wchar_t> buffer(size);
    const DWORD length = GetEnvironmentVariableW(name.c_str(), buffer.data(), size);
    return std::wstring(buffer.data(), length);
}

void SetValue(const std::wstring& name, const std::optional<std::wstring>& value) {
    SetEnvironmentVariableW(name.c_str(), value ? value->c_str() : nullptr);
}

}  // namespace

ScopedEnvironment::ScopedEnvironment(std::wstring name, const std::optional<std::wstring>& value)
    : name_(std::move(name)), previous_(CurrentValue(name_)) {
    SetValue(name_, value);
}

ScopedEnvironment::~ScopedEnvironment() { SetValue(name_, previous_); }

Sandbox::Sandbox() {
    static std::atomic<int> counter{0};
    root_ = std::filesystem::temp_directory_path() /
            (L"qv-test-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(counter++));
    std::filesystem::remove_all(root_);
    std::filesystem::create_directories(local_app_data());
    std::filesystem::create_directories(temp());
    local_app_data_.emplace(L"LOCALAPPDATA", local_app_data().wstring());
    tmp_.emplace(L"TMP", temp().wstring() + L"\\");
    temp_variable_.emplace(L"TEMP", temp().wstring() + L"\\");
}

Sandbox::~Sandbox() {
    temp_variable_.reset();
    tmp_.reset();
    local_app_data_.reset();
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
}

void WriteFile(const std::filesystem::path& path, const std::string& bytes) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream stream(path, std::ios::binary | std::ios::trunc);
    stream.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!stream) throw std::runtime_error("cannot write test file");
}

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream stream(path, std::ios::binary);
    if (!stream) throw std::runtime_error("cannot read test file");
    std::ostringstream contents;
    contents << stream.rdbuf();
    return contents.str();
}

}  // namespace quorvane::testing
