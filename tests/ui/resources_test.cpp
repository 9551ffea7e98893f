// Reads the resources compiled into QuorvaneSetup.exe, as Windows sees them.

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "files/product_constants.h"

namespace quorvane {
namespace {

// The executable sits in <build>/ui, this test in <build>/tests/ui.
std::filesystem::path SetupExecutablePath() {
    std::wstring own(MAX_PATH, L'\0');
    own.resize(GetModuleFileNameW(nullptr, own.data(), static_cast<DWORD>(own.size())));
    return std::filesystem::path(own).parent_path().parent_path().parent_path() / L"ui" / L"QuorvaneSetup.exe";
}

class SetupResources : public ::testing::Test {
protected:
    void SetUp() override {
        module_ = LoadLibraryExW(SetupExecutablePath().c_str(), nullptr,
                                 LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
        ASSERT_NE(module_, nullptr) << "cannot open " << SetupExecutablePath().string();
    }
    void TearDown() override {
        if (module_ != nullptr) FreeLibrary(module_);
    }

    std::string_view Resource(LPCWSTR type, WORD id) const {
        const HRSRC found = FindResourceW(module_, MAKEINTRESOURCEW(id), type);
        if (found == nullptr) return {};
        const HGLOBAL loaded = LoadResource(module_, found);
        return {static_cast<const char*>(LockResource(loaded)), SizeofResource(module_, found)};
    }

    HMODULE module_ = nullptr;
};

std::uint32_t BigEndian32(std::string_view bytes, std::size_t offset) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i) value = (value << 8) | static_cast<unsigned char>(bytes[offset + i]);
    return value;
}

// Side length of an 8-bit RGBA PNG, or 0 when the bytes are something else.
std::uint32_t RgbaPngSide(std::string_view png) {
    if (png.size() < 33 || png.substr(0, 8) != "\x89PNG\r\n\x1a\n" || png.substr(12, 4) != "IHDR") return 0;
    const std::uint32_t width = BigEndian32(png, 16), height = BigEndian32(png, 20);
    const bool rgba8 = png[24] == 8 && png[25] == 6;
    return width == height && rgba8 ? width : 0;
}

#pragma pack(push, 2)
struct IconGroupEntry {
    BYTE width, height, colours, reserved;
    WORD planes, bit_count;
    DWORD bytes;
    WORD id;
};
#pragma pack(pop)

TEST_F(SetupResources, IconGroupHoldsNineRgbaPngImagesAndTheLogoIsItsLargeOne) {
    const std::string_view group = Resource(RT_GROUP_ICON, 1);
    ASSERT_GE(group.size(), 6u) << "icon group 1 is missing";
    const auto count = *reinterpret_cast<const WORD*>(group.data() + 4);
    ASSERT_EQ(count, 9);
    ASSERT_EQ(group.size(), 6 + count * sizeof(IconGroupEntry));

    const std::uint32_t expected_sides[] = {16, 20, 24, 32, 40, 48, 64, 128, 256};
    std::string_view icon_128;
    for (WORD i = 0; i < count; ++i) {
        IconGroupEntry entry;
        std::memcpy(&entry, group.data() + 6 + i * sizeof(IconGroupEntry), sizeof(entry));
        const std::string_view image = Resource(RT_ICON, entry.id);
        const std::uint32_t side = RgbaPngSide(image);
        EXPECT_EQ(side, expected_sides[i]) << "icon image " << i << " is not the expected RGBA PNG";
        EXPECT_EQ(entry.width == 0 ? 256u : entry.width, side) << "directory entry " << i;
        EXPECT_EQ(entry.bit_count, 32);
        if (side == 128) icon_128 = image;
    }

    const std::string_view logo = Resource(RT_RCDATA, 3);
    EXPECT_EQ(RgbaPngSide(logo), 128u) << "raw data resource 3 must be a 128 x 128 RGBA PNG";
    EXPECT_TRUE(logo == icon_128) << "the logo differs from the icon's 128-pixel image";

    // The window class loads the icon by number; the header falls back to it at 48 pixels.
    const HINSTANCE instance = reinterpret_cast<HINSTANCE>(module_);
    const HANDLE icon = LoadImageW(instance, MAKEINTRESOURCEW(1), IMAGE_ICON, 48, 48, LR_DEFAULTCOLOR);
    EXPECT_NE(icon, nullptr);
    if (icon != nullptr) DestroyIcon(static_cast<HICON>(icon));
}

TEST_F(SetupResources, ManifestAsksForInvokerLevelCommonControls6AndPerMonitorDpi) {
    // Windows builds an executable's activation context from resource 1 only.
    const std::string_view manifest = Resource(RT_MANIFEST, 1);
    ASSERT_FALSE(manifest.empty()) << "manifest resource 1 is missing";
    // A second manifest among the reserved numbers 1 to 16 makes older loaders refuse the program.
    EXPECT_TRUE(Resource(RT_MANIFEST, 2).empty());
    for (const char* text : {"<description>Quorvane 2026 Online Setup</description>",
                             "name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\"",
                             "level=\"asInvoker\" uiAccess=\"false\"",
                             ">PerMonitorV2, PerMonitor</dpiAwareness>", ">true/pm</dpiAware>",
                             "<supportedOS Id=\"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}\"/>"}) {
        EXPECT_NE(manifest.find(text), std::string_view::npos) << "manifest lacks " << text;
    }
}

TEST_F(SetupResources, VersionBlockIsChineseUtf16WithTheProductStrings) {
    const std::wstring path = SetupExecutablePath().wstring();
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), nullptr);
    ASSERT_GT(size, 0u);
    std::vector<char> block(size);
    ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, block.data()));

    void* value = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", &value, &length));
    ASSERT_EQ(length, 4u);
    EXPECT_EQ(static_cast<const WORD*>(value)[0], 0x0804);
    EXPECT_EQ(static_cast<const WORD*>(value)[1], 1200);

    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", &value, &length));
    const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0u);
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);

    const std::pair<const wchar_t*, std::wstring> strings[] = {
        {L"CompanyName", kCompanyName},
        {L"FileDescription", L"澜岫 在线安装器"},
        {L"ProductName", L"澜岫 在线安装器"},
        {L"InternalName", L"QuorvaneSetup"},
        {L"OriginalFilename", L"QuorvaneSetup.exe"},
        {L"FileVersion", L"1.0.0.0"},
        {L"ProductVersion", L"1.0.0.0"},
    };
    for (const auto& [name, expected] : strings) {
        const std::string label = std::filesystem::path(name).string();
        const std::wstring query = std::wstring(L"\\StringFileInfo\\080404b0\\") + name;
        ASSERT_TRUE(VerQueryValueW(block.data(), query.c_str(), &value, &length)) << "no version string " << label;
        EXPECT_EQ(std::wstring(static_cast<const wchar_t*>(value)), expected) << "version string " << label;
    }
}

}  // namespace
}  // namespace quorvane
