#pragma once
// The run's stages, called by the worker in this order.

#include <string>

#include "pipeline/worker.h"

namespace quorvane {

// Fetches the installer manifest, reuses or downloads and verifies the newest
// installer, runs it silently and requires exit code 0. The installer's path
// is stored in installer_path as soon as it is derived.
void RunPackageStage(const std::wstring& manifest_address, std::wstring& installer_path);

// Brings the number-segment database up to date, or confirms it is current.
void RunSegmentStage();

// Starts the installed product when auto-run is on, releases the run and
// posts its last record; never fails.
void FinishRun();

// The three stages above, in their order.
InstallStages DefaultInstallStages();

}  // namespace quorvane
