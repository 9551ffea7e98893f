#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "files/product_constants.h"
#include "files/text.h"
#include "pipeline/worker.h"

namespace quorvane {
namespace {

TEST(ManifestAddress, CommandLineRule) {
    const std::wstring fallback = kDefaultInstallerManifestUrl;
    EXPECT_EQ(fallback, L"https://update.quorvane.com/app/quorvane-manifest.json");
    const struct {
        std::vector<std::wstring> arguments;
        std::wstring expected;
    } cases[] = {
        {{}, fallback},
        {{L"setup.exe"}, fallback},
        {{L"/manifest=https://a.example/m.json"}, fallback},  // the program's own path is never examined
        {{L"setup.exe", L"/manifest="}, fallback},
        {{L"setup.exe", L"/manifest=", L"/manifest=https://b/m.json"}, fallback},  // the first prefixed one decides
        {{L"setup.exe", L"/x", L"/manifest=https://a/1.json", L"/manifest=https://b/2.json"}, L"https://a/1.json"},
        {{L"setup.exe", L"/Manifest=https://a/1.json"}, fallback},
        {{L"setup.exe", L" /manifest=https://a/1.json"}, fallback},
        {{L"setup.exe", L"x/manifest=https://a/1.json"}, fallback},
        {{L"setup.exe", L"/manifest=http://a b"}, L"http://a b"},
    };
    for (const auto& example : cases) {
        std::wstring joined;
        for (const auto& argument : example.arguments) joined += L"[" + argument + L"]";
        EXPECT_EQ(ManifestAddressFromArguments(example.arguments), example.expected) << WideToUtf8(joined);
    }
}

}  // namespace
}  // namespace quorvane
