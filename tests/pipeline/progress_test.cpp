#include <gtest/gtest.h>

#include "pipeline/steps.h"
#include "report/progress.h"

namespace quorvane {
namespace {

TEST(InstallStepTest, PercentRangesMapToTheSixSteps) {
    const struct {
        int first, last;
        InstallStep step;
        const wchar_t* label;
    } ranges[] = {
        {-1, 17, InstallStep::FetchInfo, L"获取安装信息"},       {18, 69, InstallStep::DownloadProgram, L"下载程序"},
        {70, 81, InstallStep::InstallProgram, L"安装程序"},      {82, 94, InstallStep::DownloadSegments, L"下载号段"},
        {95, 98, InstallStep::InstallSegments, L"安装号段"},     {99, 100, InstallStep::LaunchProgram, L"启动程序"},
    };
    for (const auto& range : ranges) {
        for (int percent : {range.first, range.last}) {
            EXPECT_EQ(StepForPercent(percent), range.step) << "percent " << percent;
        }
        EXPECT_STREQ(StepLabel(range.step), range.label);
    }
}

TEST(RunFlagTest, ExchangeReturnsThePreviousValue) {
    RunFlags flags;
    EXPECT_FALSE(flags.busy.Exchange(true));
    EXPECT_TRUE(flags.busy.Exchange(true));
    EXPECT_TRUE(flags.busy.Load());
    EXPECT_TRUE(flags.launch_after_install.Load()) << "auto-run starts switched on";
    EXPECT_FALSE(flags.cancel_requested.Load());
    EXPECT_FALSE(flags.installer_running.Load());
}

}  // namespace
}  // namespace quorvane
