#pragma once
// Every folder and file name the installer uses on the user's machine. Paths
// are recomputed from the environment on each call; an empty path means the
// base folder could not be found.

#include <string>

namespace quorvane {

// Joins with a backslash; a folder that already ends in a separator gets none.
std::wstring JoinPath(const std::wstring& folder, const std::wstring& name);

// "QuorvaneSetup_" + version + ".exe" with '+', '/', ':' and '\' turned into '_'.
std::wstring InstallerFileName(const std::wstring& version);

std::wstring ReadEnvironmentVariable(const std::wstring& name);

std::wstring LocalAppDataFolder();
std::wstring ProductDataFolder();
std::wstring InstalledProgramPath();
std::wstring SegmentDatabasePath();
std::wstring SegmentDownloadPath();
std::wstring SegmentCsvPath();
std::wstring SegmentCsvDownloadPath();
std::wstring LocalSegmentManifestPath();
std::wstring LocalSegmentManifestDownloadPath();

// The text of GetTempPathW, or empty when there is no usable temporary folder.
std::wstring TemporaryFolder();

// Creates the work folder with all missing levels and returns it.
std::wstring InstallerWorkFolder();
std::wstring InstallerPackagePath(const std::wstring& version);
std::wstring InstallLogPath();

// Removes a file, or a folder if it is empty; every failure is ignored.
void RemoveQuietly(const std::wstring& path);
// Removes the run's temporary files; never fails.
void RemoveLeftovers(const std::wstring& installer_path);

}  // namespace quorvane
