#include "files/layout.h"

#include <windows.h>

#include <filesystem>
#include <system_error>
#include <vector>

#include "files/product_constants.h"
#include "files/error_text.h"

namespace quorvane {
namespace {

constexpr const wchar_t* kProductFolder = L"QuorvaneX";
constexpr const wchar_t* kWorkFolderName = L"QuorvaneOnlineSetup";
constexpr const wchar_t* kInstallLogName = L"QuorvaneOnlineSetup-install.log";

std::wstring InProductDataFolder(const std::wstring& name) {
    const std::wstring folder = ProductDataFolder();
    return folder.empty() ? std::wstring() : JoinPath(folder, name);
}

}  // namespace

std::wstring ReadEnvironmentVariable(const std::wstring& name) {
    const DWORD size = GetEnvironmentVariableW(name.c_str(), nullptr, 0);
    if (size == 0) return {};
    std::vector<wchar_t> buffer(size, L'\0');
    const DWORD length = GetEnvironmentVariableW(name.c_str(), buffer.data(), size);
    // A length at or above the size means the variable grew between the two calls.
    if (length == 0 || length >= size) return {};
    return std::wstring(buffer.data(), length);
}

std::wstring LocalAppDataFolder() {
    const std::wstring local_app_data = ReadEnvironmentVariable(L"LOCALAPPDATA");
    if (!local_app_data.empty()) return local_app_data;
    const std::wstring profile = ReadEnvironmentVariable(L"USERPROFILE");
    if (profile.empty()) return {};
    return JoinPath(JoinPath(profile, L"AppData"), L"Local");
}

std::wstring ProductDataFolder() {
    const std::wstring base = LocalAppDataFolder();
    if (base.empty()) return {};
    return JoinPath(JoinPath(base, kVendorFolder), kProductFolder);
}

std::wstring InstalledProgramPath() {
    const std::wstring folder = ProductDataFolder();
    if (folder.empty()) return {};
    return JoinPath(JoinPath(folder, L"Application"), L"Quorvane.exe");
}

std::wstring SegmentDatabasePath() { return InProductDataFolder(L"segments.qvrdb"); }
std::wstring SegmentDownloadPath() { return InProductDataFolder(L"segments.download.qvrdb"); }
std::wstring SegmentCsvPath() { return InProductDataFolder(L"segments.csv"); }
std::wstring SegmentCsvDownloadPath() { return InProductDataFolder(L"segments.download.csv"); }
std::wstring LocalSegmentManifestPath() { return InProductDataFolder(L"segment-manifest.json"); }

std::wstring LocalSegmentManifestDownloadPath() {
    const std::wstring record = LocalSegmentManifestPath();
    return record.empty() ? std::wstring() : record + L".download";
}

std::wstring TemporaryFolder() {
    wchar_t buffer[MAX_PATH + 1] = {};
    const DWORD length = GetTempPathW(MAX_PATH, buffer);
    if (length == 0 || length >= MAX_PATH) return {};
    return std::wstring(buffer, length);
}

std::wstring InstallerWorkFolder() {
    const std::wstring temporary = TemporaryFolder();
    if (temporary.empty()) ThrowWithErrorCode(L"无法取得临时目录");
    const std::wstring folder = JoinPath(temporary, kWorkFolderName);
    std::filesystem::create_directories(std::filesystem::path(folder));
    return folder;
}

std::wstring InstallerPackagePath(const std::wstring& version) {
    return JoinPath(InstallerWorkFolder(), InstallerFileName(version));
}

std::wstring InstallLogPath() {
    const std::wstring temporary = TemporaryFolder();
    return temporary.empty() ? std::wstring() : JoinPath(temporary, kInstallLogName);
}

void RemoveQuietly(const std::wstring& path) {
    if (path.empty()) return;
    std::error_code ignored;
    std::filesystem::remove(std::filesystem::path(path), ignored);
}

void RemoveLeftovers(const std::wstring& installer_path) {
    RemoveQuietly(installer_path);
    const std::wstring temporary = TemporaryFolder();
    if (!temporary.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(std::filesystem::path(JoinPath(temporary, kWorkFolderName)), ignored);
    }
    // With no data folder these names have no folder to live in; an empty
    // path must never fall back to the current folder.
    RemoveQuietly(SegmentDownloadPath());
    RemoveQuietly(SegmentCsvDownloadPath());
    RemoveQuietly(LocalSegmentManifestDownloadPath());
}

}  // namespace quorvane
