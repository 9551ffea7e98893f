#include "pipeline/steps.h"

namespace quorvane {

InstallStep StepForPercent(int percent) {
    if (percent <= kLastFetchInfoPercent) return InstallStep::FetchInfo;
    if (percent <= kLastDownloadProgramPercent) return InstallStep::DownloadProgram;
    if (percent <= kLastInstallProgramPercent) return InstallStep::InstallProgram;
    if (percent <= kLastDownloadSegmentsPercent) return InstallStep::DownloadSegments;
    if (percent <= kLastInstallSegmentsPercent) return InstallStep::InstallSegments;
    return InstallStep::LaunchProgram;
}

const wchar_t* StepLabel(InstallStep step) {
    switch (step) {
        case InstallStep::FetchInfo: return L"获取安装信息";
        case InstallStep::DownloadProgram: return L"下载程序";
        case InstallStep::InstallProgram: return L"安装程序";
        case InstallStep::DownloadSegments: return L"下载号段";
        case InstallStep::InstallSegments: return L"安装号段";
        case InstallStep::LaunchProgram: return L"启动程序";
    }
    return L"";
}

}  // namespace quorvane
