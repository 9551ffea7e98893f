#include <stdexcept>

#include "pipeline/worker.h"

namespace quorvane {

// The package, segment and finish stages are not part of this build yet; a
// run says so instead of pretending to install anything.
InstallStages DefaultInstallStages() {
    InstallStages stages;
    stages.install_package = [](const std::wstring&, std::wstring&) {
        throw std::runtime_error("此版本尚未包含安装步骤");
    };
    stages.update_segments = [] {};
    stages.finish = [] {};
    return stages;
}

}  // namespace quorvane
