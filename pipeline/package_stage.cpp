#include <windows.h>
#include <shellapi.h>

#include <filesystem>
#include <stdexcept>
#include <system_error>
#include <utility>

#include "files/digest.h"
#include "files/held_file.h"
#include "files/image_version.h"
#include "files/layout.h"
#include "files/manifest.h"
#include "files/signature.h"
#include "files/error_text.h"
#include "files/text.h"
#include "net/download_url.h"
#include "net/transfer.h"
#include "net/transport_texts.h"
#include "pipeline/download_loop.h"
#include "pipeline/milestones.h"
#include "report/progress_post.h"
#include "pipeline/stage_texts.h"
#include "pipeline/stages.h"

namespace quorvane {
namespace {

using ProcessHandle = UniqueHandle<HANDLE, file_release::Close>;

// The installer is held from its digest until its process has ended (see
// HeldFile): otherwise another process could put other bytes in its place in
// the temporary folder after they were verified and have them run instead,
// or have the running installer read them when it unpacks its own file.

// The installer at path, held, when it is the one the manifest names; a file
// that is not open otherwise.
HeldFile HoldIfIntact(const std::wstring& path, const InstallerManifest& manifest) {
    std::error_code error;
    const std::filesystem::path file(path);
    if (!std::filesystem::is_regular_file(file, error)) return {};
    const std::uintmax_t size = std::filesystem::file_size(file, error);
    if (error || size != manifest.size) return {};
    HeldFile held(path);
    if (Sha256OfFile(held) != manifest.sha256) return {};
    return held;
}

HeldFile DownloadInstaller(const InstallerManifest& manifest, const std::wstring& installer_path) {
    PostProgress(milestone::kPackageDownloadStart, kDownloadingPackage + manifest.version, RunState::Running);
    HeldFile verified;
    DownloadFromCandidates(
        BuildDownloadCandidates(manifest.url), installer_path, milestone::kPackageDownloadStart,
        kTryingOtherPackageAddress, kPackageDownloadFailed,
        [&](const std::wstring& candidate) {
            // The exact size is known, so a longer body is refused as soon as it shows.
            DownloadToFile(candidate, installer_path, kPackagePurpose, milestone::kPackageDownloadStart,
                           milestone::kPackageDownloadEnd, kDownloadingPackage, manifest.version,
                           DownloadLimit{manifest.size, kPackageSizeMismatch});
            PostProgress(milestone::kPackageVerified, kVerifyingPackage, RunState::Running);
            std::error_code error;
            if (std::filesystem::file_size(std::filesystem::path(installer_path), error) != manifest.size || error) {
                throw std::runtime_error(kPackageSizeMismatch);
            }
            // Released on a failure before the loop deletes the file.
            HeldFile held(installer_path);
            if (Sha256OfFile(held) != manifest.sha256) throw std::runtime_error(kPackageDigestMismatch);
            verified = std::move(held);
        });
    return verified;
}

std::wstring InstallerParameters(const std::wstring& log_path) {
    std::wstring parameters = L"/SP- /CURRENTUSER /VERYSILENT /SUPPRESSMSGBOXES /NORESTART /CLOSEAPPLICATIONS";
    if (!log_path.empty()) parameters += L" /LOG=\"" + log_path + L"\"";
    return parameters;
}

// Runs the installer hidden and waits for it without looking at the cancel
// flag: an installer is never interrupted half-way.
DWORD RunInstallerSilently(const std::wstring& installer_path, HeldFile held, const std::wstring& log_path) {
    const std::wstring parameters = InstallerParameters(log_path);
    SHELLEXECUTEINFOW execute = {};
    execute.cbSize = sizeof execute;
    execute.fMask = SEE_MASK_NOCLOSEPROCESS;
    execute.lpFile = installer_path.c_str();
    execute.lpParameters = parameters.c_str();
    execute.nShow = SW_HIDE;
    if (!ShellExecuteExW(&execute)) ThrowWithErrorCode(L"无法启动安装程序");
    const ProcessHandle process(execute.hProcess);

    run_flags.installer_running.Exchange(true);
    while (WaitForSingleObject(process.get(), 100) == WAIT_TIMEOUT) {
    }
    DWORD exit_code = 0;
    GetExitCodeProcess(process.get(), &exit_code);
    run_flags.installer_running.Exchange(false);
    held.Close();
    return exit_code;
}

// A signed setup runs only an installer of its own publisher, released as the
// manifest's version. The checks read the held bytes that were hashed; a
// refused installer is deleted at once, and no other address is tried: the
// digest pins the bytes every mirror serves.
void RequireReleasedInstaller(HeldFile& installer, const std::wstring& installer_path,
                              const InstallerManifest& manifest, const Publisher& setup) {
    if (setup.state == SignatureState::Unsigned) return;
    try {
        VerifyInstallerPublisher(installer, installer_path, setup);
        RequireInstallerVersion(installer, manifest.version);
    } catch (...) {
        installer.Close();
        RemoveQuietly(installer_path);
        throw;
    }
}

}  // namespace

void RunPackageStage(const std::wstring& manifest_address, std::wstring& installer_path) {
    // A signed setup that cannot read its own signature could tell no
    // installer of its publisher from any other.
    const Publisher setup_publisher = ReadOwnPublisher();
    if (setup_publisher.state == SignatureState::Unreadable) throw std::runtime_error(kOwnSignatureUnreadable);
    const InstallerManifest manifest = ParseInstallerManifest(
        FetchToMemory(manifest_address, kManifestPurpose, milestone::kFetchingManifest, kTryingOtherManifestAddress));
    PostProgress(milestone::kFoundVersion, kFoundNewestVersion + manifest.version, RunState::Running);

    installer_path = InstallerPackagePath(manifest.version);
    HeldFile installer = HoldIfIntact(installer_path, manifest);
    const bool reused = installer.is_open();
    if (!reused) installer = DownloadInstaller(manifest, installer_path);
    RequireReleasedInstaller(installer, installer_path, manifest, setup_publisher);
    if (reused) {
        PostProgress(milestone::kPackageDownloadEnd, kPackageAlreadyDownloaded + manifest.version, RunState::Running);
        PostProgress(milestone::kPackageVerified, kPackageVerified, RunState::Running);
    }

    PostProgress(milestone::kInstallingProgram, kInstallingProgram + manifest.version, RunState::Running);
    const std::wstring log_path = InstallLogPath();
    const DWORD exit_code = RunInstallerSilently(installer_path, std::move(installer), log_path);
    if (exit_code != 0) {
        std::string message = kInstallerExitCode + std::to_string(exit_code);
        if (!log_path.empty()) message += kInstallerLogSeparator + WideToUtf8(log_path);
        throw std::runtime_error(message);
    }
    if (run_flags.cancel_requested.Load()) throw std::runtime_error(WideToUtf8(transport::kCancelled));
    RemoveQuietly(log_path);
    PostProgress(milestone::kProgramInstalled, kProgramInstalled, RunState::Running);
}

}  // namespace quorvane
