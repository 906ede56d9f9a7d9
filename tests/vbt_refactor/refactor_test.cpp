#include <gtest/gtest.h>
#include <xlsxwriter.h>

#include <filesystem>

#include "tests/vbt/temp_dir.h"
#include "tests/vbt_report/report_helpers.h"
#include "util/regex.h"
#include "util/text.h"
#include "vbt/parser.h"
#include "vbt/refactorer.h"
#include "vbt_report/tessaly.h"

namespace igxl::vbt {

struct RefactorerTestAccess {
    static void add(VBTRefactorer& r, const std::string& type, ChangeRecord rec) { r.add_change(type, std::move(rec)); }
    static void apply(VBTRefactorer& r) { r.apply_all_changes(); }
};

namespace {

using testing::slurp;
namespace fs = std::filesystem;

std::string crlf(const std::string& s) { return util::replace_all(s, "\n", "\r\n"); }

ChangeRecord record(const std::string& file, int line, const std::string& from, const std::string& to) {
    return ChangeRecord{file, line, from, to, "", ""};
}

std::vector<std::string> backups_of(const std::string& file) {
    fs::path p(file);
    return testing::files_starting(p.parent_path().string(), p.filename().string() + ".backup_");
}

const std::string MODULE_A =
    "Attribute VB_Name = \"A\"\n"
    "Public count As Long\n"
    "Public counter As Long\n"
    "Private a As Long\n"
    "Private b As Long\n"
    "Public Const MAX_N As Long = 5\n"
    "Public Const LIMIT As Long = MAX_N * 2\n"
    "Public Type Rec\n"
    "    count As Long\n"
    "End Type\n"
    "Function First(n As Long) As Long\n"
    "    Dim x As Rec\n"
    "    x.count = count + counter + a + b + Count ' count here stays\n"
    "    Debug.Print \"count=\" & count & \"a\"\"b\"\n"
    "    First = MAX_N\n"
    "End Function\n"
    "Sub Second()\n"
    "    Dim x As Long\n"
    "    Dim count As Long\n"
    "    count = x\n"
    "End Sub\n";

const std::string MODULE_B =
    "Sub UseIt()\n"
    "    Dim r As Rec\n"
    "    count = LIMIT\n"
    "    Call Foo(count:=1)\n"
    "End Sub\n";

TEST(Refactorer, RenamesEveryUseWithinItsScopeAndKeepsTheRest) {
    TempDir dir;
    dir.write("A.bas", crlf(MODULE_A));
    dir.write("B.bas", MODULE_B);
    const std::string a = dir.str() + "/A.bas", b = dir.str() + "/B.bas";
    VBAParser parser;
    parser.parse_files(dir.str());
    VBTRefactorer r(parser);
    RefactorerTestAccess::add(r, "global_variable", record(a, 2, "count", "g_Count_lng"));
    RefactorerTestAccess::add(r, "module_variable", record(a, 4, "a", "b"));  // a chain: a->b, b->c
    RefactorerTestAccess::add(r, "module_variable", record(a, 5, "b", "c"));
    RefactorerTestAccess::add(r, "global_variable", record(a, 6, "MAX_N", "G_MAX_N"));
    RefactorerTestAccess::add(r, "local_variable", record(a, 12, "x", "i_X"));
    RefactorerTestAccess::add(r, "type_definition", record(a, 8, "Rec", "type_Rec"));
    ::testing::internal::CaptureStdout();
    RefactorerTestAccess::apply(r);
    std::string out = ::testing::internal::GetCapturedStdout();

    EXPECT_EQ(slurp(a), crlf("Attribute VB_Name = \"A\"\n"
                             "Public g_Count_lng As Long\n"
                             "Public counter As Long\n"
                             "Private b As Long\n"
                             "Private c As Long\n"
                             "Public Const G_MAX_N As Long = 5\n"
                             "Public Const LIMIT As Long = G_MAX_N * 2\n"
                             "Public Type type_Rec\n"
                             "    count As Long\n"
                             "End Type\n"
                             "Function First(n As Long) As Long\n"
                             "    Dim i_X As type_Rec\n"
                             "    i_X.count = g_Count_lng + counter + b + c + Count ' count here stays\n"
                             "    Debug.Print \"count=\" & g_Count_lng & \"a\"\"b\"\n"
                             "    First = G_MAX_N\n"
                             "End Function\n"
                             "Sub Second()\n"
                             "    Dim x As Long\n"
                             "    Dim count As Long\n"
                             "    count = x\n"
                             "End Sub\n"));
    EXPECT_EQ(slurp(b), "Sub UseIt()\n"
                        "    Dim r As type_Rec\n"
                        "    g_Count_lng = LIMIT\n"
                        "    Call Foo(count:=1)\n"
                        "End Sub\n");
    for (const auto& [file, original] : {std::pair{a, crlf(MODULE_A)}, std::pair{b, MODULE_B}}) {
        auto backups = backups_of(file);
        ASSERT_EQ(backups.size(), 1u) << file;
        EXPECT_EQ(slurp(backups[0]), original);
        EXPECT_NE(out.find("已备份文件: " + backups[0] + "\n"), std::string::npos) << out;
        EXPECT_NE(out.find("已修改文件: " + file + "\n"), std::string::npos) << out;
    }
    EXPECT_NE(out.find("已修改文件: " + a + "\n  - 更新了 6 个变量名的所有引用\n"), std::string::npos) << out;
    // B declares nothing renamed: it counts the names replaced in it, not every global (MAX_N).
    EXPECT_NE(out.find("已修改文件: " + b + "\n  - 更新了 2 个变量名的所有引用\n"), std::string::npos) << out;
    for (const auto& e : fs::directory_iterator(dir.str()))
        EXPECT_EQ(e.path().string().find(".tmp"), std::string::npos) << e.path();

    // Applying again over the now stale parse is refused, so no rename lands on the wrong line.
    ::testing::internal::CaptureStdout();
    RefactorerTestAccess::apply(r);
    out = ::testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("备份文件失败 " + a + ": the file changed after it was parsed"), std::string::npos) << out;
    EXPECT_EQ(backups_of(a).size(), 1u);
}

TEST(Refactorer, ReservedWordsAndProcedureNamesChangeOnTheDeclarationOnly) {
    TempDir dir;
    dir.write("M.bas",
              "Private Next As Long\n"
              "Sub Helper()\n"
              "End Sub\n"
              "Sub Work()\n"
              "    Dim Helper As Long\n"
              "    Helper = 1\n"
              "    Call Helper\n"
              "End Sub\n");
    const std::string m = dir.str() + "/M.bas";
    VBAParser parser;
    parser.parse_files(dir.str());
    VBTRefactorer r(parser);
    RefactorerTestAccess::add(r, "module_variable", record(m, 1, "Next", "m_Next_lng"));
    RefactorerTestAccess::add(r, "local_variable", record(m, 5, "Helper", "i_Helper_lng"));
    ::testing::internal::CaptureStdout();
    RefactorerTestAccess::apply(r);
    ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(slurp(m), "Private m_Next_lng As Long\n"
                        "Sub Helper()\n"
                        "End Sub\n"
                        "Sub Work()\n"
                        "    Dim i_Helper_lng As Long\n"
                        "    Helper = 1\n"
                        "    Call Helper\n"
                        "End Sub\n");
}

TEST(Refactorer, RefusesFilesItCannotRewriteSafely) {
    TempDir dir;
    const std::string bad = "Public count As Long\nSub S()\n    count = 1 ' caf\xe9\nEnd Sub\n";
    dir.write("Bad.bas", bad);
    dir.write("Good.bas", "Private total As Long\n");
    VBAParser parser;
    parser.parse_files(dir.str());
    VBTRefactorer r(parser);
    RefactorerTestAccess::add(r, "global_variable", record(dir.str() + "/Bad.bas", 1, "count", "g_Count_lng"));
    // The same file named another way is not one of the parsed files: nothing happens to it.
    RefactorerTestAccess::add(r, "module_variable", record(dir.str() + "//Good.bas", 1, "total", "m_Total_lng"));
    ::testing::internal::CaptureStdout();
    RefactorerTestAccess::apply(r);
    std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, "备份文件失败 " + dir.str() + "/Bad.bas: the file is not valid UTF-8 text\n");
    EXPECT_EQ(slurp(dir.str() + "/Bad.bas"), bad);
    EXPECT_TRUE(backups_of(dir.str() + "/Bad.bas").empty());
    EXPECT_EQ(slurp(dir.str() + "/Good.bas"), "Private total As Long\n");
}

// A reviewed workbook with the columns in another order and an English apply header.
void write_reviewed(const std::string& path, int confirmed_globals) {
    lxw_workbook* wb = workbook_new(path.c_str());
    lxw_worksheet* g = workbook_add_worksheet(wb, "Global Variables");
    const char* headers[] = {"文件路径", "Apply?", "行号", "变量名", "正确命名"};
    for (int c = 0; c < 5; ++c) worksheet_write_string(g, 0, static_cast<lxw_col_t>(c), headers[c], nullptr);
    lxw_row_t row = 1;
    for (int i = 0; i < confirmed_globals; ++i, ++row) {
        worksheet_write_string(g, row, 0, "x.bas", nullptr);
        if (i % 2) worksheet_write_number(g, row, 1, 1, nullptr);
        else worksheet_write_boolean(g, row, 1, 1, nullptr);
        worksheet_write_number(g, row, 2, 10 + i, nullptr);
        const std::string n = std::to_string(i);  // appended, not "v" + ...: g++ 12 warns falsely there
        worksheet_write_string(g, row, 3, std::string("v").append(n).c_str(), nullptr);
        worksheet_write_string(g, row, 4, std::string("g_V").append(n).c_str(), nullptr);
    }
    // Not confirmed: FALSE, 2 (reported as not understood); the text TRUE confirms; confirmed but
    // without a new name; a new name that is no identifier.
    worksheet_write_boolean(g, row, 1, 0, nullptr), worksheet_write_string(g, row, 3, "n1", nullptr),
        worksheet_write_string(g, row++, 4, "N1", nullptr);
    worksheet_write_string(g, row, 1, "TRUE", nullptr), worksheet_write_string(g, row, 3, "n2", nullptr),
        worksheet_write_string(g, row, 2, "5", nullptr), worksheet_write_string(g, row++, 4, "N2", nullptr);
    worksheet_write_number(g, row, 1, 2, nullptr), worksheet_write_string(g, row, 3, "n3", nullptr),
        worksheet_write_string(g, row++, 4, "N3", nullptr);
    worksheet_write_boolean(g, row, 1, 1, nullptr), worksheet_write_string(g, row++, 3, "n4", nullptr);
    worksheet_write_boolean(g, row, 1, 1, nullptr), worksheet_write_string(g, row, 3, "n5", nullptr),
        worksheet_write_string(g, row, 2, "7", nullptr), worksheet_write_string(g, row++, 4, "bad name", nullptr);

    lxw_worksheet* m = workbook_add_worksheet(wb, "Module Variables");  // no apply column
    worksheet_write_string(m, 0, 0, "变量名", nullptr);
    worksheet_write_string(m, 1, 0, "m1", nullptr);

    // Locals: a text line number converts, an empty one ends the sheet (earlier rows stay).
    lxw_worksheet* l = workbook_add_worksheet(wb, "Local Variables");
    const char* lh[] = {"应用", "变量名", "正确命名", "文件路径", "行号", "函数名"};
    for (int c = 0; c < 6; ++c) worksheet_write_string(l, 0, static_cast<lxw_col_t>(c), lh[c], nullptr);
    worksheet_write_boolean(l, 1, 0, 1, nullptr), worksheet_write_string(l, 1, 1, "t", nullptr),
        worksheet_write_string(l, 1, 2, "i_T", nullptr), worksheet_write_string(l, 1, 4, "12", nullptr),
        worksheet_write_string(l, 1, 5, "Work", nullptr);
    worksheet_write_boolean(l, 2, 0, 1, nullptr), worksheet_write_string(l, 2, 1, "u", nullptr),
        worksheet_write_string(l, 2, 2, "i_U", nullptr);
    worksheet_write_boolean(l, 3, 0, 1, nullptr), worksheet_write_string(l, 3, 1, "w", nullptr),
        worksheet_write_string(l, 3, 2, "i_W", nullptr), worksheet_write_number(l, 3, 4, 3, nullptr);
    workbook_close(wb);
}

TEST(Refactorer, ReadsConfirmedRowsFromAReviewedWorkbook) {
    TempDir dir;
    const std::string path = dir.str() + "/reviewed.xlsx";
    write_reviewed(path, 12);
    VBAParser parser;
    VBTRefactorer r(parser);
    ::testing::internal::CaptureStdout();
    EXPECT_TRUE(r.apply_changes_from_excel(path));
    std::string out = ::testing::internal::GetCapturedStdout();

    ASSERT_EQ(r.changes_made.size(), 2u);
    const auto& globals = r.changes_made.at("global_variable");
    ASSERT_EQ(globals.size(), 13u);
    EXPECT_EQ(globals[12].original_name, "n2");
    EXPECT_EQ(globals[3].file_path, "x.bas");
    EXPECT_EQ(globals[3].line_number, 13);
    EXPECT_EQ(globals[3].description, "全局变量 'v3' 重命名为 'g_V3'");
    EXPECT_TRUE(util::Regex("\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d").full_match(globals[3].timestamp));
    const auto& locals = r.changes_made.at("local_variable");
    ASSERT_EQ(locals.size(), 1u);
    EXPECT_EQ(locals[0].line_number, 12);
    EXPECT_EQ(locals[0].description, "局部变量 't' 在函数 'Work' 中重命名为 'i_T'");

    EXPECT_NE(out.find("正在读取Excel报告: " + path + "\n"), std::string::npos) << out;
    EXPECT_NE(out.find("跳过无效的新名称 'bad name' (变量 'n5')\n"), std::string::npos) << out;
    EXPECT_NE(out.find("读取局部变量工作表失败: "), std::string::npos) << out;
    EXPECT_NE(out.find("Global Variables 第 16 行: 无法识别的“应用”值 '2'，该行未应用\n"), std::string::npos) << out;
    const std::string listing = "从Excel中读取到 14 个确认的修改:\n  - 全局变量: v0 -> g_V0\n";
    EXPECT_NE(out.find(listing), std::string::npos) << out;
    EXPECT_NE(out.find("  - 全局变量: v9 -> g_V9\n  ... 以及另外 4 个修改\n"), std::string::npos) << out;
    EXPECT_EQ(out.find("v10 -> "), std::string::npos) << out;
}

TEST(Refactorer, NothingConfirmedMeansNothingApplied) {
    TempDir dir;
    const std::string path = dir.str() + "/reviewed.xlsx";
    lxw_workbook* wb = workbook_new(path.c_str());
    lxw_worksheet* g = workbook_add_worksheet(wb, "Global Variables");
    worksheet_write_string(g, 0, 0, "变量名", nullptr);
    worksheet_write_string(g, 0, 1, "正确命名", nullptr);
    worksheet_write_string(g, 1, 0, "a", nullptr);
    worksheet_write_string(g, 1, 1, "g_A", nullptr);
    workbook_close(wb);
    VBAParser parser;
    VBTRefactorer r(parser);
    ::testing::internal::CaptureStdout();
    EXPECT_FALSE(r.apply_changes_from_excel(path));
    std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("读取模块变量工作表失败: "), std::string::npos) << out;
    EXPECT_NE(out.find("\n未找到任何确认的修改\n"), std::string::npos) << out;
    EXPECT_TRUE(r.changes_made.empty());
}

// The review as it happens in practice: our report, a cell edit, saved again by LibreOffice.
TEST(Refactorer, AppliesAReportSavedByLibreOffice) {
    if (testing::run("command -v soffice").status != 0) GTEST_SKIP() << "soffice not installed";
    TempDir dir;
    dir.write("src/A.bas", "Public count As Long\nSub S()\n    count = 1\nEnd Sub\n");
    VBAParser parser;
    parser.parse_files(dir.str() + "/src");
    std::string report = Tessaly().generate_dry_run_report({}, parser, dir.str());
    auto edit = testing::python(
        "import openpyxl\nwb = openpyxl.load_workbook('" + report + "')\nws = wb['Global Variables']\n"
        "cols = [c.value for c in ws[1]]\nws.cell(2, cols.index('应用') + 1).value = True\n"
        "ws.cell(2, cols.index('正确命名') + 1).value = 'g_Total_lng'\nwb.save('" + dir.str() + "/edited.xlsx')\n",
        dir.str());
    ASSERT_EQ(edit.status, 0) << edit.out;
    fs::create_directories(dir.str() + "/lo");
    auto convert = testing::run("cd " + testing::quote(dir.str()) +
                                " && soffice -env:UserInstallation=file://" + dir.str() +
                                "/profile --headless --convert-to xlsx --outdir lo edited.xlsx");
    ASSERT_EQ(convert.status, 0) << convert.out;
    ASSERT_TRUE(fs::exists(dir.str() + "/lo/edited.xlsx")) << convert.out;

    VBTRefactorer r(parser);
    ::testing::internal::CaptureStdout();
    bool applied = r.apply_changes_from_excel(dir.str() + "/lo/edited.xlsx");
    std::string out = ::testing::internal::GetCapturedStdout();
    ASSERT_TRUE(applied) << out;
    EXPECT_EQ(slurp(dir.str() + "/src/A.bas"), "Public g_Total_lng As Long\nSub S()\n    g_Total_lng = 1\nEnd Sub\n");
}

}  // namespace
}  // namespace igxl::vbt

namespace igxl::vbt {
namespace {

TEST(Refactorer, RefactorAllIssuesAppliesEveryProposal) {
    TempDir dir;
    dir.write("M.bas",
              "Public count As Long\n"
              "Private Type Rec\n"
              "    x As Long\n"
              "End Type\n"
              "Sub Work()\n"
              "    Dim r As Rec\n"
              "    count = 1\n"
              "End Sub\n");
    VBAParser parser;
    parser.parse_files(dir.str());
    VBTRefactorer r(parser);
    ::testing::internal::CaptureStdout();
    r.refactor_all_issues();
    std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(out.rfind("开始自动重构...\n", 0), 0u) << out;
    EXPECT_NE(out.find("自动重构完成！\n"), std::string::npos) << out;
    std::vector<std::string> types;
    for (const auto& [type, records] : r.changes_made) types.push_back(type);
    EXPECT_EQ(types, (std::vector<std::string>{"global_variable", "local_variable", "type_definition"}));
    const ChangeRecord& t = r.changes_made.at("type_definition")[0];
    EXPECT_EQ(t.description, "Type定义 'Rec' 重命名为 'type_Rec'");
    const std::string text = testing::slurp(dir.str() + "/M.bas");
    EXPECT_NE(text.find("Private Type type_Rec\n"), std::string::npos) << text;
    EXPECT_NE(text.find(" As type_Rec\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("count"), std::string::npos) << text;
}

}  // namespace
}  // namespace igxl::vbt
