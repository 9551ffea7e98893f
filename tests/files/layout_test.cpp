#include <gtest/gtest.h>

#include <filesystem>

#include "files/layout.h"
#include "tests/support/sandbox.h"

namespace quorvane {
namespace {

using testing::Sandbox;
using testing::ScopedEnvironment;
namespace fs = std::filesystem;

TEST(LocalLayout, DataFolderComesFromLocalAppDataThenUserProfile) {
    {
        const ScopedEnvironment local(L"LOCALAPPDATA", L"D:\\Data\\");
        EXPECT_EQ(ProductDataFolder(), L"D:\\Data\\QuorvaneSoft\\QuorvaneX");
        EXPECT_EQ(InstalledProgramPath(), L"D:\\Data\\QuorvaneSoft\\QuorvaneX\\Application\\Quorvane.exe");
        EXPECT_EQ(LocalSegmentManifestPath(), L"D:\\Data\\QuorvaneSoft\\QuorvaneX\\segment-manifest.json");
    }
    {
        const ScopedEnvironment local(L"LOCALAPPDATA", L"");
        const ScopedEnvironment profile(L"USERPROFILE", L"C:\\Users\\a");
        EXPECT_EQ(LocalAppDataFolder(), L"C:\\Users\\a\\AppData\\Local");
        EXPECT_EQ(ProductDataFolder(), L"C:\\Users\\a\\AppData\\Local\\QuorvaneSoft\\QuorvaneX");
        EXPECT_EQ(SegmentDatabasePath(), L"C:\\Users\\a\\AppData\\Local\\QuorvaneSoft\\QuorvaneX\\segments.qvrdb");
    }
    {
        const ScopedEnvironment local(L"LOCALAPPDATA", std::nullopt);
        const ScopedEnvironment profile(L"USERPROFILE", std::nullopt);
        EXPECT_EQ(LocalAppDataFolder(), L"");
        EXPECT_EQ(ProductDataFolder(), L"");
        EXPECT_EQ(InstalledProgramPath(), L"");
        EXPECT_EQ(SegmentDownloadPath(), L"");
        EXPECT_EQ(LocalSegmentManifestDownloadPath(), L"");
    }
}

TEST(LocalLayout, EnvironmentVariableReadsWholeValueOrEmpty) {
    const std::wstring long_value(5000, L'x');
    const ScopedEnvironment set(L"QV_TEST_VALUE", long_value);
    EXPECT_EQ(ReadEnvironmentVariable(L"QV_TEST_VALUE"), long_value);
    EXPECT_EQ(ReadEnvironmentVariable(L"QV_TEST_VALUE_THAT_IS_NOT_SET"), L"");
}

TEST(LocalLayout, WorkFolderIsCreatedAndLogLiesBesideIt) {
    const Sandbox sandbox;
    const std::wstring package = InstallerPackagePath(L"1.0+2");
    EXPECT_EQ(fs::path(package), sandbox.temp() / L"QuorvaneOnlineSetup" / L"QuorvaneSetup_1.0_2.exe");
    EXPECT_TRUE(fs::is_directory(sandbox.temp() / L"QuorvaneOnlineSetup"));
    EXPECT_EQ(fs::path(InstallLogPath()), sandbox.temp() / L"QuorvaneOnlineSetup-install.log");
}

TEST(LocalLayout, RemoveLeftoversRemovesExactlyTheRunsTemporaryFiles) {
    const Sandbox sandbox;
    const fs::path data = sandbox.data_folder();
    const fs::path work = sandbox.temp() / L"QuorvaneOnlineSetup";
    const fs::path installer = sandbox.root() / L"elsewhere" / L"QuorvaneSetup_1.exe";
    for (const fs::path& file :
         {installer, work / L"QuorvaneSetup_1.exe", work / L"nested" / L"part", data / L"segments.download.qvrdb",
          data / L"segments.download.csv", data / L"segment-manifest.json.download", data / L"segments.qvrdb",
          data / L"segment-manifest.json", data / L"segments.csv", data / L"Application" / L"Quorvane.exe",
          sandbox.temp() / L"QuorvaneOnlineSetup-install.log"}) {
        testing::WriteFile(file, "x");
    }

    RemoveLeftovers(installer.wstring());

    for (const fs::path& gone : {installer, work, data / L"segments.download.qvrdb", data / L"segments.download.csv",
                                 data / L"segment-manifest.json.download"}) {
        EXPECT_FALSE(fs::exists(gone)) << gone.string() << " should have been removed";
    }
    for (const fs::path& kept : {data / L"segments.qvrdb", data / L"segment-manifest.json", data / L"segments.csv",
                                 data / L"Application" / L"Quorvane.exe",
                                 sandbox.temp() / L"QuorvaneOnlineSetup-install.log"}) {
        EXPECT_TRUE(fs::exists(kept)) << kept.string() << " must survive the clean-up";
    }
}

TEST(LocalLayout, RemoveLeftoversWithoutDataFolderTouchesNothingInTheCurrentFolder) {
    const Sandbox sandbox;
    const ScopedEnvironment local(L"LOCALAPPDATA", std::nullopt);
    const ScopedEnvironment profile(L"USERPROFILE", std::nullopt);
    const fs::path previous = fs::current_path();
    fs::current_path(sandbox.root());
    for (const wchar_t* name : {L"segments.download.qvrdb", L"segments.download.csv", L"segment-manifest.json.download"}) {
        testing::WriteFile(sandbox.root() / name, "keep");
    }
    testing::WriteFile(sandbox.temp() / L"QuorvaneOnlineSetup" / L"x", "x");

    RemoveLeftovers(L"");

    fs::current_path(previous);
    EXPECT_FALSE(fs::exists(sandbox.temp() / L"QuorvaneOnlineSetup"));
    for (const wchar_t* name : {L"segments.download.qvrdb", L"segments.download.csv", L"segment-manifest.json.download"}) {
        EXPECT_TRUE(fs::exists(sandbox.root() / name)) << "a file in the current folder was removed";
    }
}

}  // namespace
}  // namespace quorvane
