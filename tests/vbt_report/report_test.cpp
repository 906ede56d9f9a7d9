#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "tests/support/events.h"
#include "tests/support/file_size_limit.h"
#include "tests/support/package_rules.h"
#include "tests/vbt/temp_dir.h"
#include "tests/vbt_report/report_helpers.h"
#include "vbt/parser.h"
#include "vbt_report/tessaly.h"

namespace igxl::vbt {
namespace {

using testing::python;
using testing::sheet_rows;
using Rows = std::vector<std::vector<std::string>>;

std::string lines_of(const std::string& prefix, int n) {
    std::string s;
    for (int i = 0; i < n; ++i) s += prefix + std::to_string(i) + "\n";
    return s;
}

// Globals for the manual checks, a local referenced in two functions of two files, a Type, an Enum
// and two procedures of 60 and 61 lines.
void write_modules(const TempDir& dir) {
    dir.write("A.bas",
              "Attribute VB_Name = \"A\"\n"
              "Public count As Long\n"
              "Public count As Long\n"
              "Public Count As Long\n"
              "Public count As Long\n"
              "Public vData As Variant\n"
              "Public site As Variant\n"
              "Public Site As Variant\n"
              "Public Const K_ONE As Variant = 1\n"
              "Private total As Double\n"
              "Public Type Rec\n"
              "    x As Long\n"
              "End Type\n"
              "Public Enum Color\n"
              "    Red = 0\n"
              "End Enum\n"
              "Sub Sixty()\n" +
                  lines_of("    ' filler ", 58) +
                  "End Sub\n"
                  "Sub SixtyOne()\n" +
                  lines_of("    ' filler ", 59) +
                  "End Sub\n"
                  "Sub UseTmp()\n"
                  "    Dim tmp As Long\n"
                  "    tmp = tmp + 1\n"
                  "End Sub\n");
    dir.write("B.bas",
              "Sub Other()\n"
              "    Dim r As Rec\n"
              "    tmp = 2\n"
              "End Sub\n");
}

TEST(DryRunReport, SheetsHeadersCountsAndManualChecks) {
    TempDir dir;
    write_modules(dir);
    VBAParser parser;
    parser.parse_files(dir.str());
    std::vector<int> progress;
    diag::CollectingSink sink;
    Tessaly writer;
    writer.set_sink(sink);
    std::string path = writer.generate_dry_run_report([&](int v) { progress.push_back(v); }, parser, dir.str());
    std::string out = igxl::testing::lines_of(sink);

    EXPECT_EQ(std::filesystem::path(path).parent_path(), std::filesystem::path(dir.str()));
    EXPECT_TRUE(std::filesystem::path(path).filename().string().rfind("Orvane_Report_", 0) == 0);
    EXPECT_EQ(std::filesystem::path(path).filename().string().size(), std::string("Orvane_Report_20250114_093005.xlsx").size());
    EXPECT_NE(out.find("正在生成dry-run报告: " + path + "\n"), std::string::npos) << out;
    EXPECT_NE(out.find("Dry-run报告已生成: " + path + "\n"), std::string::npos) << out;
    EXPECT_EQ(progress, (std::vector<int>{10, 20, 30, 40, 50, 60, 70, 80, 90}));

    EXPECT_EQ(::igxl::testing::package_faults(path), std::vector<std::string>{});
    EXPECT_EQ(xlsx::Workbook(path).sheet_names(),
              (std::vector<std::string>{"Global Variables", "Module Variables", "Local Variables", "Type Definitions",
                                        "Enum Definitions", "Summary", "Manual Check Required"}));

    Rows globals = sheet_rows(path, "Global Variables");
    EXPECT_EQ(globals[0], (std::vector<std::string>{"变量名", "建议名称", "问题描述", "作用域", "类型", "是否数组",
                                                    "文件路径", "行号", "所在函数", "引用次数", "涉及文件数",
                                                    "是否常量", "正确命名", "应用"}));
    // The reviewer's columns: the name to apply starts as the suggestion, the confirmation as FALSE.
    for (size_t r = 1; r < globals.size(); ++r) {
        EXPECT_EQ(globals[r][12], globals[r][1]);
        EXPECT_EQ(globals[r][13], "FALSE");
    }

    Rows locals = sheet_rows(path, "Local Variables");
    ASSERT_EQ(locals.size(), 3u);  // tmp in UseTmp, r in Other
    EXPECT_EQ(locals[0].back(), "函数名");
    const auto& tmp = locals[1];
    EXPECT_EQ(tmp[0], "tmp");
    EXPECT_EQ(tmp[3], "local");
    EXPECT_EQ(tmp[4], "Long");
    EXPECT_EQ(tmp[5], "否");
    EXPECT_EQ(tmp[7], "139");
    EXPECT_EQ(tmp[8], "UseTmp");
    EXPECT_EQ(tmp[9], "2");   // the two uses in UseTmp, not the one in Other
    EXPECT_EQ(tmp[10], "2");  // but both files
    EXPECT_EQ(tmp[14], "UseTmp");

    // The confirmation column offers TRUE/FALSE on exactly the data rows of each variable sheet.
    auto dv = python("import openpyxl\nwb = openpyxl.load_workbook('" + path + "')\n"
                     "for ws in wb:\n"
                     "    for d in ws.data_validations.dataValidation:\n"
                     "        print(ws.title, d.type, d.formula1, d.sqref)\n",
                     dir.str());
    ASSERT_EQ(dv.status, 0) << dv.out;
    EXPECT_EQ(dv.out, "Global Variables list \"TRUE,FALSE\" N2:N" + std::to_string(globals.size()) +
                          "\nModule Variables list \"TRUE,FALSE\" N2\nLocal Variables list \"TRUE,FALSE\" N2:N3\n"
                          "Type Definitions list \"TRUE,FALSE\" K2\nEnum Definitions list \"TRUE,FALSE\" K2\n");

    // Every sheet keeps its header in view and filters over its whole table.
    auto views = python("import openpyxl\nwb = openpyxl.load_workbook('" + path + "')\n"
                        "for ws in wb:\n"
                        "    print(ws.title, ws.freeze_panes, ws.auto_filter.ref, ws.dimensions)\n",
                        dir.str());
    ASSERT_EQ(views.status, 0) << views.out;
    std::istringstream view_lines(views.out);
    std::string view;
    int sheets = 0;
    while (std::getline(view_lines, view)) {
        ++sheets;
        std::istringstream fields(view.substr(view.rfind(' ', view.rfind(' ', view.rfind(' ') - 1) - 1) + 1));
        std::string frozen, filter, dimensions;
        fields >> frozen >> filter >> dimensions;
        EXPECT_EQ(frozen, "A2") << view;
        EXPECT_EQ(filter, dimensions) << view;
    }
    EXPECT_EQ(sheets, 7);

    Rows types = sheet_rows(path, "Type Definitions");
    EXPECT_EQ(types[0], (std::vector<std::string>{"名称", "建议名称", "问题描述", "类型", "作用域", "引用次数",
                                                  "涉及文件数", "文件路径", "行号", "正确命名", "应用"}));
    EXPECT_EQ(types[1][9], "type_Rec");
    EXPECT_EQ(types[1][10], "FALSE");
    EXPECT_EQ(types[1][0], "Rec");
    EXPECT_EQ(types[1][1], "type_Rec");
    EXPECT_EQ(types[1][4], "Public");
    EXPECT_EQ(types[1][6], "1");  // used in B.bas only

    Rows summary = sheet_rows(path, "Summary");
    size_t issues = 0;
    for (size_t r = 1; r <= 5; ++r) issues += std::stoul(summary[r][1]);
    EXPECT_EQ(summary[6], (std::vector<std::string>{"总计", std::to_string(issues), "N/A"}));
    EXPECT_EQ(summary[1][2], std::to_string(parser.global_variables.size()));
    EXPECT_EQ(summary[2], (std::vector<std::string>{"模块变量", "1", "1"}));
    EXPECT_EQ(summary[3][2], "2");

    Rows manual = sheet_rows(path, "Manual Check Required");
    EXPECT_EQ(manual[0], (std::vector<std::string>{"检查类型", "文件路径", "行号", "问题描述", "建议操作"}));
    std::vector<std::string> found;
    for (size_t r = 1; r < manual.size(); ++r) found.push_back(manual[r][0] + "@" + manual[r][2] + " " + manual[r][3]);
    EXPECT_EQ(found, (std::vector<std::string>{
                         "变量类型判断@6 变量 'vData' 为Variant类型，请确认是否为正确类型",
                         "变量类型判断@8 变量 'Site' 为Variant类型，请确认是否为正确类型",
                         "变量名冲突@3 变量名 'count' 可能与其他变量冲突",
                         "变量名冲突@5 变量名 'count' 可能与其他变量冲突",
                         "函数长度@77 函数 'SixtyOne' 长度为 61 行，超过建议的60行",
                     }));

    // Widths as a spreadsheet program reads them: longest text + 2, at most 50; none on Summary.
    auto r = python("import openpyxl\nwb = openpyxl.load_workbook('" + path + "')\n"
                    "for ws in wb:\n"
                    "    print(ws.title + ':' + ','.join(str(int(ws.column_dimensions[c].width)) if c in ws.column_dimensions else '-' for c in 'ABCDEFGHIJKLMNO'))\n",
                    dir.str());
    ASSERT_EQ(r.status, 0) << r.out;
    std::istringstream widths(r.out);
    std::string line;
    while (std::getline(widths, line)) {
        std::string sheet = line.substr(0, line.find(':'));
        if (sheet == "Summary") {
            EXPECT_EQ(line, "Summary:-,-,-,-,-,-,-,-,-,-,-,-,-,-,-");
            continue;
        }
        Rows rows = sheet_rows(path, sheet);
        std::string expected = sheet + ":";
        for (size_t c = 0; c < 15; ++c) {
            if (c >= rows[0].size()) {
                expected += c ? ",-" : "-";
                continue;
            }
            size_t longest = 0;
            for (const auto& row : rows) {
                const std::string& t = c < row.size() ? row[c] : std::string();
                size_t n = 0;
                for (char ch : t) n += (static_cast<unsigned char>(ch) & 0xC0) != 0x80;
                longest = std::max(longest, n);
            }
            if (c) expected += ",";
            expected += std::to_string(std::min<size_t>(longest + 2, 50));
        }
        EXPECT_EQ(line, expected);
    }
}

TEST(DryRunReport, CleanProgramHasOnlySummary) {
    TempDir dir;
    dir.write("Clean.bas", "Public g_Value_lng As Long\nSub Run_VBT()\nEnd Sub\n");
    VBAParser parser;
    parser.parse_files(dir.str());
    std::string path = Tessaly().generate_dry_run_report({}, parser, dir.str());
    EXPECT_EQ(xlsx::Workbook(path).sheet_names(), std::vector<std::string>{"Summary"});
    EXPECT_EQ(sheet_rows(path, "Summary")[6], (std::vector<std::string>{"总计", "0", "N/A"}));
}

TEST(DryRunReport, ExcludedAndGeneratedModulesAreCountedNotChecked) {
    TempDir dir;
    dir.write("Main.bas", "Public badName As Long\n");
    dir.write("Gen/Pins.bas",
              "\xEF\xBB\xBF" "Attribute VB_Name = \"Pins\"\n' vbt:generated by the pin map tool\nPublic x As Long\n");
    dir.write("Wrapper.bas", "' ----------------------------------\n'  DO NOT EDIT: written by the flow builder\nPublic y As Long\n");
    dir.write("Vendor/Lib.bas", "Public z As Long\n");
    dir.write("Vendor/Keep.bas", "Public w As Long\n' do not edit below this line? a late comment does not mark a module\n");
    dir.write("Notes.bas", "Public v As Long\n");
    VBAParser parser(ParseOptions{{"vendor/lib.*", "NOTES.BAS"}});
    ::testing::internal::CaptureStdout();
    parser.parse_files(dir.str());
    std::string path = Tessaly().generate_dry_run_report({}, parser, dir.str());
    ::testing::internal::GetCapturedStdout();

    std::vector<std::string> names;
    for (const auto& v : parser.global_variables) names.push_back(v.name);
    EXPECT_EQ(names, (std::vector<std::string>{"badName", "w"}));
    std::vector<std::string> left_out;
    for (const auto& m : parser.excluded_modules)
        left_out.push_back(m.path.substr(dir.str().size() + 1) +
                           (m.reason == ExcludedModule::Reason::GENERATED ? ":generated" : ":pattern"));
    EXPECT_EQ(left_out, (std::vector<std::string>{"Notes.bas:pattern", "Wrapper.bas:generated", "Gen/Pins.bas:generated",
                                                  "Vendor/Lib.bas:pattern"}));
    EXPECT_EQ(parser.files.size(), 2u);  // what the refactorer may touch
    Rows summary = sheet_rows(path, "Summary");
    ASSERT_EQ(summary.size(), 8u);
    EXPECT_EQ(summary[7], (std::vector<std::string>{"已排除模块", "N/A", "4"}));
}

TEST(DryRunReport, ParameterRowsSplitTheRulesMessages) {
    TempDir dir;
    VBAParser parser;
    // One row per parameter with an issue: its name and the suggestion taken from the message, the
    // message shown without the suggestion's tail; a message without a suggestion leaves it empty.
    FunctionInfo f{"Do_VBT", "Do_VBT", FunctionType::VBT, "m.bas", 3, 9, {{"argA", "Long", "ByVal"}, {"Good", "Long", ""}}};
    FunctionInfo g{"Calc_DSP", "Calc_DSP", FunctionType::DSP, "m.bas", 11, 20, {{"in_Value", "Double", ""}}};
    parser.functions.insert_or_assign("m.bas:Do_VBT", f);
    parser.functions.insert_or_assign("m.bas:Calc_DSP", g);
    std::string path = Tessaly().generate_dry_run_report({}, parser, dir.str());
    Rows rows = sheet_rows(path, "Function Parameters");
    EXPECT_EQ(rows[0], (std::vector<std::string>{"参数名", "建议名称", "问题描述", "函数名", "函数类型", "类型",
                                                 "文件路径", "行号", "所在函数", "正确命名", "应用"}));
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[1], (std::vector<std::string>{"argA", "ArgA", "参数 'argA': VBT函数参数 'argA' 应为PascalCase格式：'ArgA'",
                                                 "Do_VBT", "VBT", "函数参数", "m.bas", "3", "Do_VBT", "ArgA", "FALSE"}));
    EXPECT_EQ(rows[2], (std::vector<std::string>{"in_Value", "", "参数 'in_Value': DSP/非VBT函数参数 'in_Value' 必须指定ByVal或ByRef",
                                                 "Calc_DSP", "DSP", "函数参数", "m.bas", "11", "Calc_DSP", "", "FALSE"}));
}

TEST(RefactorReport, RowsInLogOrderAndSummaryCounts) {
    TempDir dir;
    ChangeLog empty;
    std::string path = Tessaly().generate_refactor_report(empty, dir.str());
    EXPECT_EQ(xlsx::Workbook(path).sheet_names(), std::vector<std::string>{"Refactor Summary"});
    EXPECT_EQ(sheet_rows(path, "Refactor Summary"),
              (Rows{{"修改类型", "修改数量"}, {"总计", "0"}}));

    ChangeLog log;
    for (int i = 0; i < 3; ++i)
        log["global_variable"].push_back(
            {"a.bas", i + 1, std::string("g").append(std::to_string(i)), std::string("g_G").append(std::to_string(i)), "d",
             "t", Outcome::applied, ""});
    for (int i = 0; i < 2; ++i)
        log["local_variable"].push_back(
            {"b.bas", 10 + i, "x", "Y", "desc", "2025-01-14 09:30:05", Outcome::skipped, "名称冲突"});
    diag::CollectingSink sink;
    Tessaly writer;
    writer.set_sink(sink);
    const std::string first = path;
    path = writer.generate_refactor_report(log, dir.str());
    std::string out = igxl::testing::lines_of(sink);
    // A report never replaces another, also within one second.
    EXPECT_NE(path, first);
    EXPECT_TRUE(std::filesystem::exists(first));
    EXPECT_NE(out.find("正在生成重构报告: " + path), std::string::npos);
    EXPECT_NE(out.find("重构报告已生成: " + path), std::string::npos);
    EXPECT_NE(path.find("VBT_Refactor_Report_"), std::string::npos);
    EXPECT_EQ(xlsx::Workbook(path).sheet_names(), (std::vector<std::string>{"Refactor Changes", "Refactor Summary"}));
    Rows changes = sheet_rows(path, "Refactor Changes");
    ASSERT_EQ(changes.size(), 6u);
    EXPECT_EQ(changes[0], (std::vector<std::string>{"修改类型", "文件路径", "行号", "原名称", "新名称", "修改描述", "修改时间",
                                                    "结果", "原因"}));
    EXPECT_EQ(changes[1][7], "已应用");
    EXPECT_EQ(changes[5], (std::vector<std::string>{"local_variable", "b.bas", "11", "x", "Y", "desc", "2025-01-14 09:30:05",
                                                    "已跳过", "名称冲突"}));
    EXPECT_EQ(sheet_rows(path, "Refactor Summary"),
              (Rows{{"修改类型", "修改数量"}, {"global_variable", "3"}, {"local_variable", "2"}, {"总计", "5"}}));
}

// A disk that fills up while a report is saved leaves no workbook that looks whole, and says so.
TEST(Reports, AFullDiskLeavesNoReportBehind) {
    TempDir dir;
    dir.write("A.bas", "Public count As Long\nSub S()\n    count = 1\nEnd Sub\n");
    VBAParser parser;
    parser.parse_files(dir.str());
    ChangeLog log;
    log["global_variable"].push_back({"A.bas", 1, "count", "g_Count_lng", "d", "t", Outcome::applied, ""});
    {
        igxl::testing::FileSizeLimit full(2048);
        if (!full.active()) GTEST_SKIP() << "cannot limit the file size here";
        EXPECT_THROW(Tessaly().generate_dry_run_report({}, parser, dir.str()), Error);
        ::testing::internal::CaptureStdout();
        EXPECT_THROW(Tessaly().generate_refactor_report(log, dir.str()), Error);
        ::testing::internal::GetCapturedStdout();
    }
    std::vector<std::string> left;
    for (const auto& e : std::filesystem::directory_iterator(dir.str())) left.push_back(e.path().filename().string());
    EXPECT_EQ(left, std::vector<std::string>{"A.bas"});
    // With room again the same call writes the report under its final name.
    std::string path = Tessaly().generate_dry_run_report({}, parser, dir.str());
    EXPECT_FALSE(xlsx::Workbook(path).sheet_names().empty());
}

}  // namespace
}  // namespace igxl::vbt
