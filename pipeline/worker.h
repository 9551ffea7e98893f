#pragma once
// One installation run on a worker thread of its own.

#include <functional>
#include <string>
#include <vector>

namespace quorvane {

// The run's stages in order. The package stage stores the installer's path in
// installer_path as soon as it is known, so that the clean-up can remove it
// whichever way the run ends.
struct InstallStages {
    std::function<void(const std::wstring& manifest_address, std::wstring& installer_path)> install_package;
    std::function<void()> update_segments;
    std::function<void()> finish;
};

// The first argument after the program's own path that begins with
// "/manifest=" decides; without one, or with nothing after the prefix, the
// default manifest address is used.
std::wstring ManifestAddressFromArguments(const std::vector<std::wstring>& arguments);
std::wstring ManifestAddressFromCommandLine();

// The run itself, with the given stages, on the calling thread.
void RunInstallation(const InstallStages& stages);
// The worker thread's body: the run with the real stages.
void InstallWorker();

// Starts a run unless one is under way: resets the flags, lets the window
// reset its display, then starts a detached worker on InstallWorker. Returns
// false when a run was already under way and nothing was done.
bool StartInstall(const std::function<void()>& reset_display);
// The same with the given stages in place of the real ones, for the tests and
// the window driver.
bool StartInstall(const std::function<void()>& reset_display, InstallStages stages);

}  // namespace quorvane
