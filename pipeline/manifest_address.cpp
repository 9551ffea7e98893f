#include <string_view>

#include "files/product_constants.h"
#include "pipeline/worker.h"

namespace quorvane {

std::wstring ManifestAddressFromArguments(const std::vector<std::wstring>& arguments) {
    constexpr std::wstring_view prefix = L"/manifest=";
    for (size_t index = 1; index < arguments.size(); ++index) {
        const std::wstring& argument = arguments[index];
        if (argument.compare(0, prefix.size(), prefix) != 0) continue;
        const std::wstring rest = argument.substr(prefix.size());
        return rest.empty() ? std::wstring(kDefaultInstallerManifestUrl) : rest;
    }
    return kDefaultInstallerManifestUrl;
}

}  // namespace quorvane
