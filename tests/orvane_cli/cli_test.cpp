#include <gtest/gtest.h>

#include <filesystem>

#include "tests/vbt/temp_dir.h"
#include "tests/vbt_report/report_helpers.h"

namespace igxl::vbt {
namespace {

namespace fs = std::filesystem;
using testing::quote;
using testing::run;
using testing::RunResult;
using testing::slurp;

const std::string BIN = IGXL_BINARY_DIR "/bin/";

RunResult orvane(const std::string& args, const std::string& answer = "") {
    return run("printf " + quote(answer) + " | " + BIN + "orvane " + args);
}

// Standard output and standard error apart, run from the folder cwd.
struct Streams {
    int status = -1;
    std::string out, err;
};
Streams orvane_in(const std::string& cwd, const std::string& args, const std::string& answer = "") {
    const std::string err_file = cwd + "/.stderr";
    RunResult r = run("cd " + quote(cwd) + " && (printf " + quote(answer) + " | " + BIN + "orvane " + args + " 2>" +
                      quote(err_file) + ")");
    Streams s{r.status, r.out, slurp(err_file)};
    std::filesystem::remove(err_file);
    return s;
}

// Marks the rows of the named variables as confirmed in a dry-run report; saves it as `to`.
void confirm(const std::string& report, const std::vector<std::string>& names, const std::string& to,
             const std::string& dir) {
    std::string list;
    for (const auto& n : names) list += "'" + n + "', ";
    auto edit = testing::python(
        "import openpyxl\nwb = openpyxl.load_workbook('" + report + "')\n"
        "for ws in wb.worksheets:\n"
        "    cols = [c.value for c in ws[1]]\n"
        "    if '应用' not in cols: continue\n"
        "    for row in ws.iter_rows(min_row=2):\n"
        "        if row[0].value in (" + list + "):\n"
        "            row[cols.index('应用')].value = True\n"
        "wb.save('" + to + "')\n",
        dir);
    ASSERT_EQ(edit.status, 0) << edit.out;
}

const std::string MODULE =
    "Public count As Long\r\n"
    "Sub Work()\r\n"
    "    Dim tmp As Long\r\n"
    "    Dim keep As Long\r\n"
    "    tmp = count + keep\r\n"
    "    Debug.Print \"tmp\"\r\n"
    "End Sub\r\n";

const std::string USAGE =
    "用法: orvane <目录路径> [模式] [报告路径]\n"
    "模式:\n"
    "  dry-run  - 仅检查并生成报告 (默认)\n"
    "  refactor - 使用已有报告进行重构，不生成新报告\n"
    "报告路径:\n"
    "  在refactor模式下，指定dry-run模式生成的Excel报告路径\n";

bool has(const RunResult& r, const std::string& text) { return r.out.find(text) != std::string::npos; }

TEST(OrvaneCli, BadInputEndsWithStatusTwoOnStandardError) {
    TempDir dir;
    dir.write("M.bas", MODULE);
    auto s = orvane_in(dir.str(), "");
    EXPECT_EQ(s.status, 2);
    EXPECT_EQ(s.out, "");
    EXPECT_EQ(s.err, USAGE);

    s = orvane_in(dir.str(), quote(dir.str() + "/nope"));
    EXPECT_EQ(s.status, 2);
    EXPECT_EQ(s.out, "");
    EXPECT_EQ(s.err, "错误：目录 '" + dir.str() + "/nope' 不存在\n");

    s = orvane_in(dir.str(), ". --encoding klingon");
    EXPECT_EQ(s.status, 2);
    EXPECT_NE(s.err.find("错误：不支持的代码页 'klingon' (可选: cp936, gbk"), std::string::npos) << s.err;

    s = orvane_in(dir.str(), ". dry-run --out nowhere");
    EXPECT_EQ(s.status, 2);
    EXPECT_EQ(s.err, "错误：输出目录 'nowhere' 不存在\n");

    auto r = orvane("");

    // Modes compare exactly; the parse and its counts come first.
    r = orvane(quote(dir.str()) + " Dry-Run");
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(has(r, "发现 1 个全局变量\n发现 1 个函数\n发现 0 个Type定义\n发现 0 个Enum定义\n")) << r.out;
    EXPECT_TRUE(has(r, "错误：无效的模式 'Dry-Run'\n支持的模式:\n  dry-run  - 仅检查并生成报告 (默认)\n"
                       "  refactor - 使用已有报告进行重构\n用法: orvane <目录路径> [模式] [报告路径]\n"))
        << r.out;

    r = orvane(quote(dir.str()) + " refactor");
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(has(r, "错误：refactor模式需要指定报告路径\n用法: orvane <目录路径> refactor <报告路径>\n")) << r.out;

    r = orvane(quote(dir.str()) + " refactor " + quote(dir.str() + "/none.xlsx"));
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(has(r, "发现 1 个函数\n")) << r.out;
    EXPECT_TRUE(has(r, "错误：指定的报告文件 '" + dir.str() + "/none.xlsx' 不存在\n")) << r.out;
    EXPECT_TRUE(testing::files_starting(dir.str(), "Orvane_Report_").empty());
}

TEST(OrvaneCli, ReviewRoundTrip) {
    TempDir dir;
    dir.write("src/M.bas", MODULE);
    const std::string src = dir.str() + "/src", module = src + "/M.bas";

    auto r = orvane(quote(src) + " dry-run " + quote(dir.str() + "/named.xlsx"));
    ASSERT_EQ(r.status, 0) << r.out;
    // A given third argument is what the success line names; the report itself gets its own name.
    EXPECT_TRUE(has(r, "\n✓ Dry-run报告已生成: " + dir.str() + "/named.xlsx\n\n请查看报告并确认修改，然后使用refactor模式应用修改\n"))
        << r.out;
    auto reports = testing::files_starting(src, "Orvane_Report_");
    ASSERT_EQ(reports.size(), 1u);

    // A reviewer confirms the global and the local 'tmp', not 'keep'.
    auto edit = testing::python(
        "import openpyxl\nwb = openpyxl.load_workbook('" + reports[0] + "')\n"
        "for name in ['Global Variables', 'Local Variables']:\n"
        "    ws = wb[name]\n"
        "    cols = [c.value for c in ws[1]]\n"
        "    for row in ws.iter_rows(min_row=2):\n"
        "        if row[0].value in ('count', 'tmp'):\n"
        "            row[cols.index('应用')].value = True\n"
        "wb.save('" + dir.str() + "/reviewed.xlsx')\n",
        dir.str());
    ASSERT_EQ(edit.status, 0) << edit.out;
    const std::string reviewed = quote(dir.str() + "/reviewed.xlsx");

    r = orvane(quote(src) + " refactor " + reviewed, "yes\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(has(r, "是否继续自动重构？(y/N): 重构已取消\n")) << r.out;
    EXPECT_EQ(slurp(module), MODULE);

    r = orvane(quote(src) + " refactor " + reviewed, " Y \n");
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_TRUE(has(r, "使用已有报告: " + dir.str() + "/reviewed.xlsx\n")) << r.out;
    EXPECT_TRUE(has(r, "从Excel中读取到 2 个确认的修改:\n  - 全局变量: count -> g_Count_lng\n")) << r.out;
    EXPECT_TRUE(has(r, "重构应用成功！\n")) << r.out;
    EXPECT_EQ(slurp(module),
              "Public g_Count_lng As Long\r\n"
              "Sub Work()\r\n"
              "    Dim Tmp_lng As Long\r\n"
              "    Dim keep As Long\r\n"
              "    Tmp_lng = g_Count_lng + keep\r\n"
              "    Debug.Print \"tmp\"\r\n"
              "End Sub\r\n");
    auto backups = testing::files_starting(src, "M.bas.backup_");
    ASSERT_EQ(backups.size(), 1u);
    EXPECT_EQ(slurp(backups[0]), MODULE);

    auto refactor_reports = testing::files_starting(src, "VBT_Refactor_Report_");
    ASSERT_EQ(refactor_reports.size(), 1u);
    EXPECT_TRUE(has(r, "✓ 重构报告已生成: " + refactor_reports[0] + "\n")) << r.out;
    auto changes = testing::sheet_rows(refactor_reports[0], "Refactor Changes");
    ASSERT_EQ(changes.size(), 3u);
    EXPECT_EQ(changes[1][0], "global_variable");
    EXPECT_EQ(changes[1][2], "1");
    EXPECT_EQ(changes[2][5], "局部变量 'tmp' 在函数 'Work' 中重命名为 'Tmp_lng'");
    EXPECT_EQ(testing::sheet_rows(refactor_reports[0], "Refactor Summary"),
              (std::vector<std::vector<std::string>>{
                  {"修改类型", "修改数量"}, {"global_variable", "1"}, {"local_variable", "1"}, {"总计", "2"}}));

    // The untouched dry-run report confirms nothing: the refactor failed, and says so.
    r = orvane(quote(src) + " refactor " + quote(reports[0]), "y\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(has(r, "未找到任何确认的修改\n重构应用失败\n")) << r.out;
    EXPECT_EQ(testing::files_starting(src, "VBT_Refactor_Report_").size(), 1u);
}

TEST(OrvaneCli, ExcludedAndGeneratedModulesAreLeftAlone) {
    TempDir dir;
    dir.write("src/M.bas", MODULE);
    const std::string vendor = "Sub UseIt()\r\n    count = 1\r\nEnd Sub\r\n";
    const std::string generated = "' Do not edit: written by the flow builder\r\nSub More()\r\n    count = 2\r\nEnd Sub\r\n";
    dir.write("src/vendor/V.bas", vendor);
    dir.write("src/G.bas", generated);
    const std::string src = dir.str() + "/src";

    auto r = orvane(quote(src) + " --exclude 'vendor/*'");
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_TRUE(has(r, "找到 3 个 .bas 文件\n")) << r.out;
    auto reports = testing::files_starting(src, "Orvane_Report_");
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(testing::sheet_rows(reports[0], "Summary").back(),
              (std::vector<std::string>{"已排除模块", "N/A", "2"}));
    auto edit = testing::python(
        "import openpyxl\nwb = openpyxl.load_workbook('" + reports[0] + "')\n"
        "ws = wb['Global Variables']\ncols = [c.value for c in ws[1]]\n"
        "for row in ws.iter_rows(min_row=2):\n"
        "    row[cols.index('应用')].value = 'TRUE'\n"  // typed as text
        "wb.save('" + dir.str() + "/reviewed.xlsx')\n",
        dir.str());
    ASSERT_EQ(edit.status, 0) << edit.out;

    r = orvane(quote(src) + " refactor " + quote(dir.str() + "/reviewed.xlsx") + " --exclude=vendor/*", "y\n");
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_TRUE(has(r, "  - 全局变量: count -> g_Count_lng\n")) << r.out;
    EXPECT_NE(slurp(src + "/M.bas"), MODULE);
    EXPECT_EQ(slurp(src + "/vendor/V.bas"), vendor);
    EXPECT_EQ(slurp(src + "/G.bas"), generated);
}

TEST(OrvaneCli, MissingReportWriterIsReportedNotFatal) {
    TempDir dir;
    dir.write("src/M.bas", MODULE);
    fs::create_directories(dir.str() + "/bin");
    fs::create_directories(dir.str() + "/lib");
    fs::copy_file(BIN + "orvane", dir.str() + "/bin/orvane");
    for (const char* lib : {"libOrvane.so", "libcommon.so"})
        fs::copy_file(std::string(IGXL_BINARY_DIR "/lib/") + lib, dir.str() + "/lib/" + lib);
    auto r = run(dir.str() + "/bin/orvane " + quote(dir.str() + "/src"));
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_TRUE(has(r, "\n无法导入Excel报告生成器: ")) << r.out;
    EXPECT_TRUE(has(r, "libTessaly.so")) << r.out;
    EXPECT_TRUE(has(r, "请安装Excel依赖")) << r.out;
}

TEST(OrvaneCli, HelpAndVersion) {
    TempDir dir;
    auto s = orvane_in(dir.str(), "--help");
    EXPECT_EQ(s.status, 0);
    EXPECT_EQ(s.err, "");
    EXPECT_NE(s.out.find("--encoding"), std::string::npos) << s.out;
    EXPECT_NE(s.out.find("--yes"), std::string::npos) << s.out;
    EXPECT_NE(s.out.find(USAGE), std::string::npos) << s.out;
    EXPECT_EQ(s.out.find("不存在"), std::string::npos) << s.out;
    s = orvane_in(dir.str(), "--version");
    EXPECT_EQ(s.status, 0);
    EXPECT_TRUE(s.out.rfind("orvane ", 0) == 0) << s.out;
}

// The dry run from one folder with a relative path, the refactor from another folder with the
// absolute path, without a prompt and with the reports elsewhere; then the same workbook again.
TEST(OrvaneCli, RefactorFromAnotherFolderAppliesAndReappliesHonestly) {
    TempDir dir;
    dir.write("proj/src/M.bas", MODULE);
    dir.write("elsewhere/.keep", "");
    const std::string src = dir.str() + "/proj/src", module = src + "/M.bas", out = dir.str() + "/reports";
    std::filesystem::create_directories(out);
    auto s = orvane_in(dir.str() + "/proj", "src");
    ASSERT_EQ(s.status, 0) << s.out << s.err;
    auto reports = testing::files_starting(src, "Orvane_Report_");
    ASSERT_EQ(reports.size(), 1u);
    confirm(reports[0], {"count"}, dir.str() + "/reviewed.xlsx", dir.str());

    s = orvane_in(dir.str() + "/elsewhere", quote(src) + " refactor ../reviewed.xlsx --yes --out " + quote(out));
    EXPECT_EQ(s.status, 0) << s.out << s.err;
    EXPECT_EQ(s.out.find("是否继续"), std::string::npos) << s.out;
    EXPECT_NE(s.out.find("结果: 已应用 1，已是新名称 0，已跳过 0，失败 0 (共 1 个确认的修改)\n重构应用成功！\n"),
              std::string::npos)
        << s.out;
    EXPECT_NE(slurp(module).find("Public g_Count_lng As Long\r\n"), std::string::npos);
    EXPECT_EQ(testing::files_starting(out, "VBT_Refactor_Report_").size(), 1u);
    EXPECT_TRUE(testing::files_starting(src, "VBT_Refactor_Report_").empty());
    const std::string journal = slurp(out + "/VBT_Refactor_Journal.log");
    EXPECT_NE(journal.find("\t" + module + "\t"), std::string::npos) << journal;

    // Again: every row is in place already; nothing rewritten, no new backup, success.
    const std::string after = slurp(module);
    s = orvane_in(dir.str() + "/elsewhere", quote(src) + " refactor ../reviewed.xlsx --yes --out " + quote(out));
    EXPECT_EQ(s.status, 0) << s.out << s.err;
    EXPECT_NE(s.out.find("结果: 已应用 0，已是新名称 1"), std::string::npos) << s.out;
    EXPECT_EQ(s.out.find("已修改文件"), std::string::npos) << s.out;
    EXPECT_EQ(testing::files_starting(src, "M.bas.backup_").size(), 1u);
    EXPECT_EQ(slurp(module), after);
    auto refactor_reports = testing::files_starting(out, "VBT_Refactor_Report_");
    ASSERT_EQ(refactor_reports.size(), 2u);  // never overwritten, also within one second
    for (const auto& path : refactor_reports) {
        auto rows = testing::sheet_rows(path, "Refactor Changes");
        ASSERT_EQ(rows.size(), 2u) << path;
        EXPECT_EQ(rows[1][1], module);
        EXPECT_TRUE(rows[1][7] == "已应用" || rows[1][7] == "已是新名称") << rows[1][7];
    }
}

// A confirmed rename that cannot be done is reported with its reason and makes the status 1.
TEST(OrvaneCli, SkippedRenameIsReportedAndFailsTheRun) {
    TempDir dir;
    dir.write("src/M.bas", MODULE);
    const std::string src = dir.str() + "/src";
    ASSERT_EQ(orvane_in(dir.str(), "src").status, 0);
    auto reports = testing::files_starting(src, "Orvane_Report_");
    ASSERT_EQ(reports.size(), 1u);
    // The reviewer's own name for 'tmp' is the name of the procedure.
    auto edit = testing::python(
        "import openpyxl\nwb = openpyxl.load_workbook('" + reports[0] + "')\nws = wb['Local Variables']\n"
        "cols = [c.value for c in ws[1]]\n"
        "for row in ws.iter_rows(min_row=2):\n"
        "    if row[0].value == 'tmp':\n"
        "        row[cols.index('应用')].value = True\n"
        "        row[cols.index('正确命名')].value = 'Work'\n"
        "wb.save('" + dir.str() + "/reviewed.xlsx')\n",
        dir.str());
    ASSERT_EQ(edit.status, 0) << edit.out;
    auto s = orvane_in(dir.str(), "src refactor reviewed.xlsx -y");
    EXPECT_EQ(s.status, 1) << s.out << s.err;
    EXPECT_NE(s.out.find("跳过修改 tmp -> Work (src/M.bas:3): 名称冲突: 'Work' 已是过程 'Work'"), std::string::npos)
        << s.out;
    EXPECT_NE(s.err.find("重构未全部应用: 1 个修改未应用"), std::string::npos) << s.err;
    EXPECT_EQ(slurp(src + "/M.bas"), MODULE);
    EXPECT_TRUE(testing::files_starting(src, "M.bas.backup_").empty());
    auto refactor_reports = testing::files_starting(src, "VBT_Refactor_Report_");
    ASSERT_EQ(refactor_reports.size(), 1u);
    auto rows = testing::sheet_rows(refactor_reports[0], "Refactor Changes");
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[1][7], "已跳过");
    EXPECT_NE(rows[1][8].find("名称冲突"), std::string::npos);
}

// SIGINT while the run waits for its answer: nothing is changed and the status says why.
TEST(OrvaneCli, InterruptAtThePromptChangesNothing) {
    TempDir dir;
    dir.write("src/M.bas", MODULE);
    const std::string src = dir.str() + "/src";
    ASSERT_EQ(orvane_in(dir.str(), "src").status, 0);
    auto reports = testing::files_starting(src, "Orvane_Report_");
    ASSERT_EQ(reports.size(), 1u);
    confirm(reports[0], {"count"}, dir.str() + "/reviewed.xlsx", dir.str());
    const std::string out = dir.str() + "/out.txt";
    // Standard input is a pipe held open by the shell and never written to.
    auto r = run("cd " + quote(dir.str()) + " && mkfifo in && (" + BIN + "orvane src refactor reviewed.xlsx < in > " +
                 quote(out) + " 2>&1 & pid=$!; exec 3>in; n=0; until grep -q 'y/N' " + quote(out) +
                 " || [ $n -gt 300 ]; do sleep 0.05; n=$((n+1)); done; kill -INT $pid; wait $pid; echo status=$?; "
                 "exec 3>&-)");
    EXPECT_NE(r.out.find("status=130"), std::string::npos) << r.out << slurp(out);
    EXPECT_EQ(slurp(src + "/M.bas"), MODULE);
    EXPECT_TRUE(testing::files_starting(src, "M.bas.backup_").empty());
}

TEST(OrvaneCli, CheckWithVbtReturnsBothReports) {
    TempDir dir;
    dir.write("prog/Job List.txt",
              "title\n\n\n\tJob Name\tPin Map\tTest Instances\tFlow Table\tAC\tDC\tPS\n\tFT\tPins\tTI\tFlow\tAC\tDC\tPS\n");
    dir.write("prog/TI.txt", "DTTestInstancesSheet,version=2.3:platform=Jaguar\tTest Instances\n\n\n\tTest Name\n");
    dir.write("prog/Flow.txt", "DTFlowtableSheet,version=2.2:platform=Jaguar\tFlow Table\n\n\n\tLabel\n");
    dir.write("prog/DC.txt", "DTDCSpecSheet,version=2.3:platform=Jaguar\tDC Spec\n\n\n\tSymbol\n");
    dir.write("prog/AC.txt", "DTACSpecSheet,version=2.3:platform=Jaguar\tAC Spec\n\n\n\tSymbol\n");
    dir.write("prog/M.bas", MODULE);
    const std::string out = dir.str() + "/out";
    auto r = run(BIN + "vantor check " + quote(dir.str() + "/prog") + " --all --vbt --out " + quote(out));
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_TRUE(has(r, "开始处理目录中的BAS文件: " + dir.str() + "/prog\n")) << r.out;
    EXPECT_TRUE(has(r, "解析完成！\n发现 1 个全局变量\n发现 1 个函数\n发现 0 个Type定义\n发现 0 个Enum定义\n")) << r.out;
    auto vantor_report = testing::files_starting(out, "Vantor_");
    auto vbt_report = testing::files_starting(out, "Orvane_Report_");
    ASSERT_EQ(vantor_report.size(), 1u);
    ASSERT_EQ(vbt_report.size(), 1u);
    EXPECT_TRUE(has(r, "\n✓ 检查报告已生成: " + vbt_report[0] + "\n"
                       "===============================END===============================\n"))
        << r.out;
    EXPECT_TRUE(has(r, "Output file path is: " + vantor_report[0] + "\n")) << r.out;
    EXPECT_FALSE(has(r, "Report: ")) << r.out;  // each path was printed by the run already
    // The VBT library's own lines reach the console through the driver's sink.
    EXPECT_TRUE(has(r, "找到 1 个 .bas 文件\n")) << r.out;
    EXPECT_TRUE(has(r, "正在生成dry-run报告: " + vbt_report[0] + "\n")) << r.out;

    // Without the switch the step leaves no trace.
    r = run(BIN + "vantor check " + quote(dir.str() + "/prog") + " --all --out " + quote(dir.str() + "/out2"));
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_FALSE(has(r, "BAS")) << r.out;
    EXPECT_TRUE(testing::files_starting(dir.str() + "/out2", "Orvane_Report_").empty());
}

}  // namespace
}  // namespace igxl::vbt
