// The VBT check of the modules inside a workbook program: orvane's dry run and refactor on an
// .xlsm (modules read in the project's code page, the review workbook naming the workbook and
// module, renamed modules written beside the workbook, the workbook never written), and the
// check's VBT step on the same workbook.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "check/vantor.h"
#include "tests/export/vba_test_support.h"
#include "tests/vbt_report/report_helpers.h"
#include "util/codepage.h"

namespace igxl {
namespace {

namespace fs = std::filesystem;
using vbt::testing::quote;
using vbt::testing::run;
using vbt::testing::RunResult;
using vbt::testing::sheet_rows;
using vbt::testing::files_starting;

const std::string BIN = IGXL_BINARY_DIR "/bin/";

std::string gbk(const std::string& utf8) { return *util::encode_code_page(utf8, "CP936"); }

// A program's modules as a Chinese Windows' VBA editor keeps them: CP936 comments and strings
// (丟 is 0x81 0x47, and 0x81 is no character of CP1252: read in the wrong code page the module
// does not decode); a document module with members of its own.
ovba::Project cp936_project() {
    ovba::Project p;
    p.clsid = "{3E1F7A20-5C4B-4D9E-A1B2-C3D4E5F60718}";
    p.code_page = 936;
    p.modules.push_back({"Sheet1",
                         "Attribute VB_Name = \"Sheet1\"\r\n"
                         "Attribute VB_Base = \"0{00020820-0000-0000-C000-000000000046}\"\r\n"
                         "Public total As Long\r\nPrivate step As Long\r\n"
                         "Sub Add()\r\n    total = total + step\r\nEnd Sub\r\n",
                         ovba::ModuleKind::Document});
    p.modules.push_back({"Volts",
                         "Attribute VB_Name = \"Volts\"\r\n" + gbk("' 上电电压（单位 V），丟失时重测") +
                             "\r\nPublic count As Long\r\n"
                             "Sub Work()\r\n    Dim reading As Double\r\n    reading = count * 1.8 ' " +
                             gbk("测试值") + "\r\n    Debug.Print \"" + gbk("电压=") + "\" & reading\r\nEnd Sub\r\n",
                         ovba::ModuleKind::Procedural});
    return p;
}

// Column of a header in a sheet read back by rows.
size_t column(const std::vector<std::vector<std::string>>& rows, const std::string& header) {
    const auto& h = rows.at(0);
    return static_cast<size_t>(std::find(h.begin(), h.end(), header) - h.begin());
}

struct Program {
    testing::ScratchDir dir;
    ovba::Project project = cp936_project();
    std::string book = dir / "prog/Prog.xlsm";
    std::string bytes;
    Program() {
        fs::create_directories(dir.path() / "prog");
        testing::write_project_bin(project, dir / "vbaProject.bin");
        testing::write_xlsm(book, dir / "vbaProject.bin");
        bytes = testing::slurp(book);
    }
    RunResult orvane(const std::string& args, const std::string& answer = "") const {
        return run("cd " + quote(dir.path().string()) + " && printf " + quote(answer) + " | " + BIN + "orvane " + args +
                   " 2>&1");
    }
    std::vector<std::string> folders() const {
        std::vector<std::string> out;
        for (const auto& e : fs::directory_iterator(dir.path() / "prog"))
            if (e.is_directory()) out.push_back(e.path().string());
        return out;
    }
};

TEST(OrvaneWorkbook, DryRunReadsTheProjectCodePageAndNamesTheWorkbook) {
    Program p;
    RunResult r = p.orvane(quote(p.book));
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("已从工作簿提取 2 个模块 (代码页 CP936)\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("找到 1 个 .bas 文件，1 个 .cls 文件\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("发现 1 个全局变量\n发现 2 个函数\n"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("警告"), std::string::npos) << r.out;
    // The review workbook lies beside the workbook; its rows name the workbook and the module.
    auto reports = files_starting(p.dir / "prog", "Orvane_Report_");
    ASSERT_EQ(reports.size(), 1u) << r.out;
    auto globals = sheet_rows(reports[0], "Global Variables");
    ASSERT_EQ(globals.size(), 2u);
    EXPECT_EQ(globals[1][0], "count");
    EXPECT_EQ(globals[1][column(globals, "文件路径")], p.book + "/Volts.bas");
    auto members = sheet_rows(reports[0], "Module Variables");
    ASSERT_EQ(members.size(), 3u);
    EXPECT_EQ(members[1][column(members, "作用域")], "class_public");
    EXPECT_EQ(members[1][column(members, "文件路径")], p.book + "/Sheet1.cls");
    EXPECT_EQ(members[2][column(members, "建议名称")], "i_Step_lng");
    // Only read: the workbook is as it was, and no module file was left anywhere beside it.
    EXPECT_EQ(testing::slurp(p.book), p.bytes);
    EXPECT_TRUE(p.folders().empty());

    // --encoding given by the user wins over the project's code page (here wrongly).
    r = p.orvane(quote(p.book) + " --encoding cp1252");
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("(代码页 CP1252)"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("警告: 模块 " + p.book + "/Volts.bas 不是有效的 UTF-8，也无法按代码页 CP1252 解码"),
              std::string::npos)
        << r.out;
}

TEST(OrvaneWorkbook, RefactorWritesRenamedModulesIntoANewFolderBesideTheWorkbook) {
    Program p;
    ASSERT_EQ(p.orvane(quote(p.book)).status, 0);
    auto reports = files_starting(p.dir / "prog", "Orvane_Report_");
    ASSERT_EQ(reports.size(), 1u);
    // The reviewer confirms the global and the document module's public member.
    auto edit = vbt::testing::python(
        "import openpyxl\nwb = openpyxl.load_workbook('" + reports[0] + "')\n"
        "for ws in wb.worksheets:\n"
        "    cols = [c.value for c in ws[1]]\n"
        "    if '应用' not in cols: continue\n"
        "    for row in ws.iter_rows(min_row=2):\n"
        "        if row[0].value in ('count', 'total'):\n"
        "            row[cols.index('应用')].value = True\n"
        "wb.save('" + (p.dir / "reviewed.xlsx") + "')\n",
        p.dir.path().string());
    ASSERT_EQ(edit.status, 0) << edit.out;

    // Declined: nothing is written.
    RunResult r = p.orvane(quote(p.book) + " refactor reviewed.xlsx", "n\n");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("重构已取消"), std::string::npos) << r.out;
    EXPECT_TRUE(p.folders().empty());

    r = p.orvane(quote(p.book) + " refactor reviewed.xlsx --yes");
    // The class member is refused (its uses go through objects), so the run is not complete.
    EXPECT_EQ(r.status, 1) << r.out;
    auto folders = p.folders();
    ASSERT_EQ(folders.size(), 1u) << r.out;
    EXPECT_EQ(fs::path(folders[0]).filename().string().rfind("Prog_refactored_", 0), 0u) << folders[0];
    EXPECT_NE(r.out.find("✓ 重构后的模块已写入: " + folders[0] + " "), std::string::npos) << r.out;
    // The module in its code page, every byte but the renamed name as the workbook holds it.
    std::string want = p.project.modules[1].source;
    want = util::replace_all(want, "count", "g_Count_lng");
    EXPECT_EQ(testing::slurp(fs::path(folders[0]) / "Volts.bas"), want);
    EXPECT_EQ(testing::slurp(fs::path(folders[0]) / "Sheet1.cls"), p.project.modules[0].source);
    EXPECT_EQ(testing::slurp(p.book), p.bytes);
    auto refactor_reports = files_starting(p.dir / "prog", "VBT_Refactor_Report_");
    ASSERT_EQ(refactor_reports.size(), 1u);
}

TEST(OrvaneWorkbook, UnreadableProjectsAndWorkbooksWithoutMacros) {
    testing::ScratchDir dir;
    testing::spit(dir.path() / "broken.xlsm", "PK\x03\x04 not really");
    RunResult r = run(BIN + "orvane " + quote(dir / "broken.xlsm") + " 2>&1");
    EXPECT_EQ(r.status, 2) << r.out;
    EXPECT_NE(r.out.find("错误：无法读取工作簿 '" + (dir / "broken.xlsm") + "' 的VBA模块: "), std::string::npos) << r.out;
    EXPECT_TRUE(files_starting(dir.path().string(), "Orvane_Report_").empty());

    {
        xlsx::writer::Workbook wb(dir / "plain.xlsm");
        wb.add_worksheet("Job List");
        wb.close();
    }
    r = run(BIN + "orvane " + quote(dir / "plain.xlsm") + " 2>&1");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("警告：工作簿 '" + (dir / "plain.xlsm") + "' 中没有VBA模块"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("找到 0 个 .bas 文件\n"), std::string::npos) << r.out;
}

// The check's VBT step on a workbook program reads the modules in the project's code page and
// names them after the workbook.
TEST(VbtStepWorkbook, ModulesOfTheWorkbookAreCheckedInTheirCodePage) {
    Program p;
    // A workbook program of the smallest kind: its job list and the sheets it names.
    const std::string book = p.dir / "prog/Check.xlsm";
    {
        xlsx::writer::Workbook wb(book);
        auto rows = [&](const std::string& sheet, const std::vector<std::vector<std::string>>& cells) {
            auto& ws = wb.add_worksheet(sheet);
            for (size_t r = 0; r < cells.size(); ++r)
                for (size_t c = 0; c < cells[r].size(); ++c)
                    if (!cells[r][c].empty()) ws.write_string(static_cast<uint32_t>(r), static_cast<uint32_t>(c), cells[r][c]);
        };
        rows("Job List", {{"title"}, {}, {}, {"", "Job Name", "Pin Map", "Test Instances", "Flow Table", "AC", "DC", "PS"},
                          {"", "FT", "Pins", "TI", "Flow", "AC", "DC", "PS"}});
        rows("Flow", {{"DTFlowtableSheet,version=2.2:platform=Jaguar", "Flow Table"}, {}, {}, {"", "Label"}});
        rows("DC", {{"DTDCSpecSheet,version=2.3:platform=Jaguar", "DC Spec"}, {}, {}, {"", "Symbol"}});
        rows("AC", {{"DTACSpecSheet,version=2.3:platform=Jaguar", "AC Spec"}, {}, {}, {"", "Symbol"}});
        wb.add_vba_project(p.dir / "vbaProject.bin");
        wb.close();
    }
    std::vector<std::string> log;
    diag::CollectingSink sink;
    Vantor v(p.dir / "work");
    v.set_sink(sink);
    CheckOptions options;
    options.program = book;
    options.vbt = true;
    v.read_device(options, [&](const std::string& s) { log.push_back(s); }, nullptr);
    std::vector<std::string> paths = v.run({"FT"}, p.dir.path().string());
    ASSERT_EQ(paths.size(), 2u) << (log.empty() ? "" : log.back());
    EXPECT_NE(std::find(log.begin(), log.end(), "发现 1 个全局变量"), log.end());
    auto globals = sheet_rows(paths[1], "Global Variables");
    ASSERT_EQ(globals.size(), 2u);
    EXPECT_EQ(globals[1][column(globals, "文件路径")], book + "/Volts.bas");
    for (const diag::Event& e : sink.events) EXPECT_NE(e.code, "vbt.undecodable-module") << e.text;
    EXPECT_EQ(sheet_rows(paths[1], "Module Variables")[1][column(globals, "作用域")], "class_public");
}

}  // namespace
}  // namespace igxl
