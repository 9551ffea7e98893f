#include "pipeline/stages.h"

namespace quorvane {

InstallStages DefaultInstallStages() {
    InstallStages stages;
    stages.install_package = RunPackageStage;
    stages.update_segments = RunSegmentStage;
    stages.finish = FinishRun;
    return stages;
}

}  // namespace quorvane
