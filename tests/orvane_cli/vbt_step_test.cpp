#include <gtest/gtest.h>

#include <algorithm>

#include "check/vantor.h"
#include "tests/vbt/temp_dir.h"
#include "tests/vbt_report/report_helpers.h"

namespace igxl {
namespace {

// The step as the host sees it: log lines and progress values through the callbacks.
TEST(VbtStep, LogsCountsAndHandsTheReportWritersProgressOn) {
    vbt::TempDir dir;
    dir.write("prog/Job List.txt",
              "title\n\n\n\tJob Name\tPin Map\tTest Instances\tFlow Table\tAC\tDC\tPS\n\tFT\tPins\tTI\tFlow\tAC\tDC\tPS\n");
    dir.write("prog/Flow.txt", "DTFlowtableSheet,version=2.2:platform=Jaguar\tFlow Table\n\n\n\tLabel\n");
    dir.write("prog/DC.txt", "DTDCSpecSheet,version=2.3:platform=Jaguar\tDC Spec\n\n\n\tSymbol\n");
    dir.write("prog/AC.txt", "DTACSpecSheet,version=2.3:platform=Jaguar\tAC Spec\n\n\n\tSymbol\n");
    std::vector<std::string> log;
    std::vector<double> progress;
    Vantor v(dir.str() + "/work");
    CheckOptions options;
    options.program = dir.str() + "/prog";
    options.vbt = true;
    v.read_device(options, [&](const std::string& s) { log.push_back(s); },
                  [&](double p) { progress.push_back(p); });
    log.clear();
    progress.clear();
    std::vector<std::string> paths = v.run({"FT"}, dir.str());
    ASSERT_EQ(paths.size(), 2u) << (log.empty() ? "" : log.back());

    // No module at all: every count is 0 and the report is still written.
    auto start = std::find(log.begin(), log.end(), "开始处理目录中的BAS文件: " + dir.str() + "/prog");
    ASSERT_NE(start, log.end());
    std::vector<std::string> tail(start + 1, log.end());
    EXPECT_EQ(tail, (std::vector<std::string>{"解析完成！", "发现 0 个全局变量", "发现 0 个函数", "发现 0 个Type定义",
                                              "发现 0 个Enum定义", "\n✓ 检查报告已生成: " + paths[1],
                                              "===============================END==============================="}));
    auto zero = std::find(progress.rbegin(), progress.rend(), 0.0);
    ASSERT_NE(zero, progress.rend());
    std::vector<double> step(zero.base() - 1, progress.end());
    EXPECT_EQ(step, (std::vector<double>{0, 10, 20, 30, 40, 50, 60, 70, 80, 90, 100}));
    EXPECT_EQ(vbt::testing::sheet_rows(paths[1], "Summary")[6], (std::vector<std::string>{"总计", "0", "N/A"}));
}

}  // namespace
}  // namespace igxl
