#pragma once
// Test surroundings: a private folder per test, environment variables set for
// the test's duration, and small file helpers.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace quorvane::testing {

// Sets (or with nullopt removes) an environment variable of this process and
// restores the earlier value on destruction.
class ScopedEnvironment {
public:
    ScopedEnvironment(std::wstring name, const std::optional<std::wstring>& value);
    ~ScopedEnvironment();
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
    std::wstring name_;
    std::optional<std::wstring> previous_;
};

// A fresh folder under the system's temporary folder, removed on destruction,
// with LOCALAPPDATA pointed at <root>\local and TMP/TEMP at <root>\temp.
class Sandbox {
public:
    Sandbox();
    ~Sandbox();
    Sandbox(const Sandbox&) = delete;
    Sandbox& operator=(const Sandbox&) = delete;

    const std::filesystem::path& root() const { return root_; }
    std::filesystem::path local_app_data() const { return root_ / L"local"; }
    std::filesystem::path temp() const { return root_ / L"temp"; }
    std::filesystem::path data_folder() const { return local_app_data() / L"QuorvaneSoft" / L"QuorvaneX"; }

private:
    std::filesystem::path root_;
    std::optional<ScopedEnvironment> local_app_data_;
    std::optional<ScopedEnvironment> tmp_;
    std::optional<ScopedEnvironment> temp_variable_;
};

void WriteFile(const std::filesystem::path& path, const std::string& bytes);
std::string ReadFile(const std::filesystem::path& path);

}  // namespace quorvane::testing
