#include "pipeline/stages.h"
#include "pipeline/worker.h"

namespace quorvane {

InstallStages DefaultInstallStages() {
    InstallStages stages;
    stages.install_package = RunPackageStage;
    stages.update_segments = RunSegmentStage;
    stages.finish = FinishRun;
    return stages;
}

}  // namespace quorvane
