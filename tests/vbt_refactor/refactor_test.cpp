#include <gtest/gtest.h>

#include <filesystem>

#include "export/xlsx_writer.h"
#include "tests/support/events.h"
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

// A refactorer with its own event sink; out() gives the lines it emitted so far and forgets them.
struct Refactoring {
    diag::CollectingSink sink;
    VBTRefactorer r;
    explicit Refactoring(const VBAParser& parser, RefactorOptions options = {}) : r(parser, sink, std::move(options)) {}
    void add(const std::string& type, ChangeRecord rec) { RefactorerTestAccess::add(r, type, std::move(rec)); }
    std::string apply() {
        RefactorerTestAccess::apply(r);
        return out();
    }
    std::string out() {
        std::string o = igxl::testing::lines_of(sink);
        sink.events.clear();
        return o;
    }
    Outcome outcome(const std::string& type, size_t i = 0) const { return r.changes_made.at(type)[i].outcome; }
    const std::string& reason(const std::string& type, size_t i = 0) const { return r.changes_made.at(type)[i].reason; }
};

namespace {

using testing::slurp;
namespace fs = std::filesystem;

std::string crlf(const std::string& s) { return util::replace_all(s, "\n", "\r\n"); }

ChangeRecord record(const std::string& file, int line, const std::string& from, const std::string& to) {
    return ChangeRecord{file, line, from, to, "", "", Outcome::pending, ""};
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
    dir.write("Users.bas", MODULE_B);
    const std::string a = dir.str() + "/A.bas", b = dir.str() + "/Users.bas";
    VBAParser parser;
    parser.parse_files(dir.str());
    Refactoring run(parser);
    run.add("global_variable", record(a, 2, "count", "g_Count_lng"));
    run.add("module_variable", record(a, 4, "a", "b"));  // a chain: a->b, b->c
    run.add("module_variable", record(a, 5, "b", "c"));
    run.add("global_variable", record(a, 6, "MAX_N", "G_MAX_N"));
    run.add("local_variable", record(a, 12, "x", "i_X"));
    run.add("type_definition", record(a, 8, "Rec", "type_Rec"));
    std::string out = run.apply();
    EXPECT_TRUE(run.r.totals().complete()) << out;
    EXPECT_EQ(run.r.totals().applied, 6u);

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
    Refactoring again(parser);
    again.add("global_variable", record(a, 2, "count", "g_Count_lng"));
    out = again.apply();
    EXPECT_NE(out.find("备份文件失败 " + a + ": the file changed after it was parsed"), std::string::npos) << out;
    EXPECT_EQ(again.outcome("global_variable"), Outcome::failed);
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
    Refactoring run(parser);
    run.add("module_variable", record(m, 1, "Next", "m_Next_lng"));
    run.add("local_variable", record(m, 5, "Helper", "i_Helper_lng"));
    run.apply();
    EXPECT_EQ(slurp(m), "Private m_Next_lng As Long\n"
                        "Sub Helper()\n"
                        "End Sub\n"
                        "Sub Work()\n"
                        "    Dim i_Helper_lng As Long\n"
                        "    Helper = 1\n"
                        "    Call Helper\n"
                        "End Sub\n");
}

TEST(Refactorer, FindsModulesWhateverFormTheirPathWasGivenIn) {
    TempDir dir;
    dir.write("src/sub/Good.bas", "Private total As Long\n");
    VBAParser parser;
    parser.parse_files(dir.str() + "/src");
    const std::string good = dir.str() + "/src/sub/Good.bas";
    // Spelled another way, relative to the folder the dry run was started in, or not there at all.
    RefactorOptions options;
    options.root = dir.str() + "/src/";
    Refactoring run(parser, options);
    run.add("module_variable", record(dir.str() + "/src//sub/./Good.bas", 1, "total", "m_Total_lng"));
    run.add("module_variable", record("src/sub/Good.bas", 1, "m_Total_lng", "m_Sum_lng"));
    run.add("module_variable", record("other/Gone.bas", 1, "x", "m_X_lng"));
    std::string out = run.apply();
    EXPECT_EQ(run.r.changes_made.at("module_variable")[0].file_path, good);
    EXPECT_EQ(run.outcome("module_variable", 0), Outcome::applied) << out;
    // The second row's old name is not on its line: the file is not as the dry run saw it.
    EXPECT_EQ(run.outcome("module_variable", 1), Outcome::skipped);
    EXPECT_EQ(run.outcome("module_variable", 2), Outcome::skipped);
    EXPECT_EQ(run.reason("module_variable", 2), "文件未找到: other/Gone.bas");
    EXPECT_NE(out.find("跳过修改 x -> m_X_lng (other/Gone.bas:1): 文件未找到: other/Gone.bas\n"), std::string::npos)
        << out;
    EXPECT_EQ(slurp(good), "Private m_Total_lng As Long\n");
    auto t = run.r.totals();
    EXPECT_EQ(t.applied, 1u);
    EXPECT_EQ(t.skipped, 2u);
    EXPECT_FALSE(t.complete());
}

// A reviewed workbook with the columns in another order and an English apply header.
void write_reviewed(const std::string& path, int confirmed_globals) {
    xlsx::writer::Workbook wb(path.c_str());
    xlsx::writer::Worksheet& g = wb.add_worksheet("Global Variables");
    const char* headers[] = {"文件路径", "Apply?", "行号", "变量名", "正确命名"};
    for (int c = 0; c < 5; ++c) g.write_string(0, static_cast<std::uint32_t>(c), headers[c]);
    std::uint32_t row = 1;
    for (int i = 0; i < confirmed_globals; ++i, ++row) {
        g.write_string(row, 0, "x.bas");
        if (i % 2) g.write_number(row, 1, 1);
        else g.write_boolean(row, 1, true);
        g.write_number(row, 2, 10 + i);
        const std::string n = std::to_string(i);  // appended, not "v" + ...: g++ 12 warns falsely there
        g.write_string(row, 3, std::string("v").append(n).c_str());
        g.write_string(row, 4, std::string("g_V").append(n).c_str());
    }
    // Not confirmed: FALSE, 2 (reported as not understood); the text TRUE confirms; confirmed but
    // without a new name; a new name that is no identifier.
    g.write_boolean(row, 1, false), g.write_string(row, 3, "n1"),
        g.write_string(row++, 4, "N1");
    g.write_string(row, 1, "TRUE"), g.write_string(row, 3, "n2"),
        g.write_string(row, 2, "5"), g.write_string(row++, 4, "N2");
    g.write_number(row, 1, 2), g.write_string(row, 3, "n3"),
        g.write_string(row++, 4, "N3");
    g.write_boolean(row, 1, true), g.write_string(row++, 3, "n4");
    g.write_boolean(row, 1, true), g.write_string(row, 3, "n5"),
        g.write_string(row, 2, "7"), g.write_string(row++, 4, "bad name");

    xlsx::writer::Worksheet& m = wb.add_worksheet("Module Variables");  // no apply column
    m.write_string(0, 0, "变量名");
    m.write_string(1, 0, "m1");

    // Locals: a text line number converts, an empty one ends the sheet (earlier rows stay).
    xlsx::writer::Worksheet& l = wb.add_worksheet("Local Variables");
    const char* lh[] = {"应用", "变量名", "正确命名", "文件路径", "行号", "函数名"};
    for (int c = 0; c < 6; ++c) l.write_string(0, static_cast<std::uint32_t>(c), lh[c]);
    l.write_boolean(1, 0, true), l.write_string(1, 1, "t"),
        l.write_string(1, 2, "i_T"), l.write_string(1, 4, "12"),
        l.write_string(1, 5, "Work");
    l.write_boolean(2, 0, true), l.write_string(2, 1, "u"),
        l.write_string(2, 2, "i_U");
    l.write_boolean(3, 0, true), l.write_string(3, 1, "w"),
        l.write_string(3, 2, "i_W"), l.write_number(3, 4, 3);
    wb.close();
}

TEST(Refactorer, ReadsConfirmedRowsFromAReviewedWorkbook) {
    TempDir dir;
    const std::string path = dir.str() + "/reviewed.xlsx";
    write_reviewed(path, 12);
    VBAParser parser;
    Refactoring run(parser);
    VBTRefactorer& r = run.r;
    EXPECT_TRUE(r.apply_changes_from_excel(path));
    std::string out = run.out();

    ASSERT_EQ(r.changes_made.size(), 2u);
    const auto& globals = r.changes_made.at("global_variable");
    ASSERT_EQ(globals.size(), 14u);
    EXPECT_EQ(globals[12].original_name, "n2");
    // Nothing parsed, so no row finds its module; the one with a bad new name says so first.
    EXPECT_EQ(globals[13].reason, "新名称不是合法的标识符");
    EXPECT_EQ(globals[3].reason, "文件未找到: x.bas");
    EXPECT_EQ(r.totals().skipped, 15u);
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
    const std::string listing = "从Excel中读取到 15 个确认的修改:\n  - 全局变量: v0 -> g_V0\n";
    EXPECT_NE(out.find(listing), std::string::npos) << out;
    EXPECT_NE(out.find("  - 全局变量: v9 -> g_V9\n  ... 以及另外 5 个修改\n"), std::string::npos) << out;
    EXPECT_EQ(out.find("  - 全局变量: v10 -> "), std::string::npos) << out;
}

TEST(Refactorer, NothingConfirmedMeansNothingApplied) {
    TempDir dir;
    const std::string path = dir.str() + "/reviewed.xlsx";
    xlsx::writer::Workbook wb(path.c_str());
    xlsx::writer::Worksheet& g = wb.add_worksheet("Global Variables");
    g.write_string(0, 0, "变量名");
    g.write_string(0, 1, "正确命名");
    g.write_string(1, 0, "a");
    g.write_string(1, 1, "g_A");
    wb.close();
    VBAParser parser;
    Refactoring run(parser);
    VBTRefactorer& r = run.r;
    EXPECT_FALSE(r.apply_changes_from_excel(path));
    std::string out = run.out();
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

    Refactoring run(parser);
    bool applied = run.r.apply_changes_from_excel(dir.str() + "/lo/edited.xlsx");
    std::string out = run.out();
    ASSERT_TRUE(applied) << out;
    EXPECT_TRUE(run.r.totals().complete()) << out;
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
    Refactoring run(parser);
    VBTRefactorer& r = run.r;
    r.refactor_all_issues();
    std::string out = run.out();
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

namespace igxl::vbt {
namespace {

using testing::slurp;

// Parses the tree and applies the given renames; returns the run for its outcomes.
struct Tree {
    TempDir dir;
    VBAParser parser;
    std::string path(const std::string& rel) const { return dir.str() + "/" + rel; }
    void parse(const std::string& code_page = "CP1252") {
        parser.options.code_page = code_page;
        parser.parse_files(dir.str());
    }
};

ChangeRecord rec(const std::string& file, int line, const std::string& from, const std::string& to) {
    return ChangeRecord{file, line, from, to, "", "", Outcome::pending, ""};
}

// Chinese comments and strings in the code page the VBA editor of a Chinese Windows exports in:
// only the renamed names change, every other byte (and each line end) stays as it was.
TEST(RefactorCodePages, Cp936ModuleKeepsEveryOtherByte) {
    const std::string gbk_comment = "' \xB2\xE2\xCA\xD4\xB5\xE7\xD1\xB9 (\xB5\xA5\xCE\xBB V)";  // 测试电压 (单位 V)
    const std::string gbk_text = "\"\xB5\xE7\xD1\xB9=\"";                                           // "电压="
    auto module = [&](const std::string& name) {
        return "Attribute VB_Name = \"Volts\"\r\n" + gbk_comment + "\r\nPublic " + name + " As Double\r\n" +
               "Sub Show()\r\n    Debug.Print " + gbk_text + " & " + name + " ' " + name + " \xD6\xD0\r\nEnd Sub\n";
    };
    Tree t;
    t.dir.write("Volts.bas", module("volt"));
    t.parse("CP936");
    const SourceLines& lines = t.parser.files.at(t.path("Volts.bas"));
    EXPECT_EQ(lines.encoding().kind, TextEncoding::legacy);
    EXPECT_EQ(lines[1], "' 测试电压 (单位 V)\n");  // the review workbook shows the decoded text
    Refactoring run(t.parser);
    run.add("global_variable", rec(t.path("Volts.bas"), 3, "volt", "g_Volt_dbl"));
    std::string out = run.apply();
    EXPECT_EQ(run.outcome("global_variable"), Outcome::applied) << out;
    // The comment keeps the old name: comments are not code.
    std::string want = module("g_Volt_dbl");
    want.replace(want.find("' g_Volt_dbl"), 12, "' volt");
    EXPECT_EQ(slurp(t.path("Volts.bas")), want);
    ASSERT_EQ(backups_of(t.path("Volts.bas")).size(), 1u);
    EXPECT_EQ(slurp(backups_of(t.path("Volts.bas"))[0]), module("volt"));
}

TEST(RefactorCodePages, Utf16AndUtf8WithBomRoundTrip) {
    auto utf16le = [](const std::string& ascii_and_cjk) {
        // The test texts hold ASCII and U+7535 (电) only.
        std::string out = "\xFF\xFE";
        for (size_t i = 0; i < ascii_and_cjk.size(); ++i) {
            if (ascii_and_cjk.compare(i, 3, "\xE7\x94\xB5") == 0) {
                out += "\x35\x75";
                i += 2;
            } else {
                out += ascii_and_cjk[i];
                out += '\0';
            }
        }
        return out;
    };
    const std::string before = "' \xE7\x94\xB5\r\nPublic count As Long\r\nSub S()\r\n    count = 1 ' \xE7\x94\xB5\r\nEnd Sub\r\n";
    const std::string after =
        "' \xE7\x94\xB5\r\nPublic g_Count_lng As Long\r\nSub S()\r\n    g_Count_lng = 1 ' \xE7\x94\xB5\r\nEnd Sub\r\n";
    Tree t;
    t.dir.write("Wide.bas", utf16le(before));
    t.dir.write("Bom.bas", "\xEF\xBB\xBFPublic total As Long\nSub T()\n    total = 2\nEnd Sub");
    t.parse();
    EXPECT_EQ(t.parser.files.at(t.path("Wide.bas")).encoding().kind, TextEncoding::utf16le);
    EXPECT_EQ(t.parser.global_variables.size(), 2u);  // read, not empty
    Refactoring run(t.parser);
    run.add("global_variable", rec(t.path("Wide.bas"), 2, "count", "g_Count_lng"));
    run.add("global_variable", rec(t.path("Bom.bas"), 1, "total", "g_Total_lng"));
    std::string out = run.apply();
    EXPECT_TRUE(run.r.totals().complete()) << out;
    EXPECT_EQ(slurp(t.path("Wide.bas")), utf16le(after));
    EXPECT_EQ(slurp(t.path("Bom.bas")), "\xEF\xBB\xBFPublic g_Total_lng As Long\nSub T()\n    g_Total_lng = 2\nEnd Sub");
}

TEST(RefactorCodePages, UndecodableModuleIsReadByteForByteWithOneWarning) {
    // 0xFF never starts a GBK character; the rest is GBK.
    const std::string bytes = "Public count As Long ' \xD6\xD0\xFF\nSub S()\n    count = 1 ' \x80\x81\nEnd Sub\n";
    Tree t;
    t.dir.write("Odd.bas", bytes);
    diag::CollectingSink sink;
    VBAParser parser(sink);
    parser.options.code_page = "CP936";
    parser.parse_files(t.dir.str());
    const auto warnings = std::count_if(sink.events.begin(), sink.events.end(),
                                        [](const diag::Event& e) { return e.code == "vbt.undecodable-module"; });
    EXPECT_EQ(warnings, 1);
    EXPECT_NE(igxl::testing::lines_of(sink).find("模块 " + t.path("Odd.bas")), std::string::npos);
    EXPECT_NE(igxl::testing::lines_of(sink).find("--encoding"), std::string::npos);
    EXPECT_EQ(parser.files.at(t.path("Odd.bas")).encoding().kind, TextEncoding::raw_bytes);
    Refactoring run(parser);
    run.add("global_variable", rec(t.path("Odd.bas"), 1, "count", "g_Count_lng"));
    run.apply();
    EXPECT_EQ(slurp(t.path("Odd.bas")),
              "Public g_Count_lng As Long ' \xD6\xD0\xFF\nSub S()\n    g_Count_lng = 1 ' \x80\x81\nEnd Sub\n");
}

// Each rename that would change what the code means is skipped with its reason, before any
// file is written; the others go ahead.
// A public member of a class is used through its objects in other modules (c.total); renaming it
// in its own module would break them, so it is refused. A private member is renamed as any.
TEST(RefactorSafety, PublicClassMembersAreNotRenamedInTheirModuleAlone) {
    Tree t;
    const std::string main = "Sub Run()\r\n    Dim c As New Counter\r\n    c.total = 1\r\nEnd Sub\r\n";
    t.dir.write("Counter.cls",
                "Attribute VB_Name = \"Counter\"\r\nPublic total As Long\r\nPrivate step As Long\r\n"
                "Sub Add()\r\n    total = total + step\r\nEnd Sub\r\n");
    t.dir.write("Main.bas", main);
    t.parse();
    Refactoring run(t.parser);
    run.add("module_variable", rec(t.path("Counter.cls"), 2, "total", "m_Total_lng"));
    run.add("module_variable", rec(t.path("Counter.cls"), 3, "step", "i_Step_lng"));
    run.apply();
    EXPECT_EQ(run.outcome("module_variable", 0), Outcome::skipped);
    EXPECT_NE(run.reason("module_variable", 0).find("类的公共成员"), std::string::npos);
    EXPECT_EQ(run.outcome("module_variable", 1), Outcome::applied);
    EXPECT_EQ(slurp(t.path("Counter.cls")),
              "Attribute VB_Name = \"Counter\"\r\nPublic total As Long\r\nPrivate i_Step_lng As Long\r\n"
              "Sub Add()\r\n    total = total + i_Step_lng\r\nEnd Sub\r\n");
    EXPECT_EQ(slurp(t.path("Main.bas")), main);
}

TEST(RefactorSafety, ClashingOrInvalidNamesAreSkippedWithTheirReason) {
    Tree t;
    t.dir.write("Main.bas",
                "Attribute VB_Name = \"Main\"\n"
                "Public gLimit As Long\n"       // 2
                "Public gMax As Long\n"         // 3
                "Private mCount As Long\n"      // 4
                "Private mOther As Long\n"      // 5
                "Public Type TRec\n"            // 6
                "    v As Long\n"
                "End Type\n"
                "Sub Work(ByVal n As Long)\n"   // 9
                "    Dim i As Long\n"           // 10
                "    Dim total As Long\n"       // 11
                "    total = gLimit + mCount + n + i\n"
                "End Sub\n"
                "Sub Helper()\n"                // 14
                "    Dim shadow As Long\n"      // 15
                "    Dim spare As Long\n"       // 16
                "    shadow = gLimit + gMax + spare\n"
                "End Sub\n");
    t.dir.write("Other.bas", "Public gUnrelated As Long\n");
    t.parse();
    const std::string m = t.path("Main.bas");
    const std::string before = slurp(m);
    Refactoring run(t.parser);
    run.add("module_variable", rec(m, 4, "mCount", "mOther"));        // same scope (once mOther stays)
    run.add("local_variable", rec(m, 11, "total", "gLimit"));         // would hide the global it reads
    run.add("global_variable", rec(m, 3, "gMax", "shadow"));          // a local of Helper would hide it
    run.add("local_variable", rec(m, 10, "i", "Next"));               // keyword
    run.add("local_variable", rec(m, 10, "i", "for"));                // keyword, any letter case
    run.add("module_variable", rec(m, 5, "mOther", "Helper"));        // procedure
    run.add("global_variable", rec(t.path("Other.bas"), 1, "gUnrelated", "Main"));  // module name
    run.add("module_variable", rec(m, 5, "mOther", "trec"));          // Type, any letter case
    run.add("parameter", rec(m, 9, "n", "total"));                    // a local of the same procedure
    run.add("local_variable", rec(m, 15, "shadow", "9lives"));        // not an identifier
    run.add("local_variable", rec(m, 16, "spare", "i_Spare_lng"));    // fine
    std::string out = run.apply();

    auto reason = [&](const std::string& type, size_t i) { return run.reason(type, i); };
    EXPECT_NE(reason("module_variable", 0).find("名称冲突: 'mOther' 已是模块变量 'mOther'"), std::string::npos)
        << reason("module_variable", 0);
    EXPECT_NE(reason("local_variable", 0).find("已是全局变量 'gLimit'"), std::string::npos) << reason("local_variable", 0);
    EXPECT_NE(reason("global_variable", 0).find("已是局部变量 'shadow'"), std::string::npos)
        << reason("global_variable", 0);
    EXPECT_EQ(reason("local_variable", 1), "新名称是VBA关键字");
    EXPECT_EQ(reason("local_variable", 2), "新名称是VBA关键字");
    EXPECT_NE(reason("module_variable", 1).find("已是过程 'Helper'"), std::string::npos) << reason("module_variable", 1);
    EXPECT_NE(reason("global_variable", 1).find("已是模块 'Main'"), std::string::npos) << reason("global_variable", 1);
    EXPECT_NE(reason("module_variable", 2).find("已是Type 'TRec'"), std::string::npos) << reason("module_variable", 2);
    EXPECT_NE(reason("parameter", 0).find("已是局部变量 'total'"), std::string::npos) << reason("parameter", 0);
    EXPECT_EQ(reason("local_variable", 3), "新名称不是合法的标识符");
    EXPECT_EQ(run.outcome("local_variable", 4), Outcome::applied) << out;
    auto totals = run.r.totals();
    EXPECT_EQ(totals.applied, 1u);
    EXPECT_EQ(totals.skipped, 10u);
    // Each skip is on the console with its reason.
    EXPECT_NE(out.find("跳过修改 mCount -> mOther (" + m + ":4): 名称冲突"), std::string::npos) << out;
    std::string want = before;
    want.replace(want.find("Dim spare"), 9, "Dim i_Spare_lng");
    want.replace(want.find("+ spare"), 7, "+ i_Spare_lng");
    EXPECT_EQ(slurp(m), want);
}

// Renames that form a chain or swap names are checked against the names as they will be.
TEST(RefactorSafety, ChainsAreCheckedAgainstTheNamesAfterTheRun) {
    Tree t;
    t.dir.write("M.bas", "Private a As Long\nPrivate b As Long\nSub S()\n    a = b\nEnd Sub\n");
    t.parse();
    Refactoring run(t.parser);
    run.add("module_variable", rec(t.path("M.bas"), 1, "a", "b"));
    run.add("module_variable", rec(t.path("M.bas"), 2, "b", "c"));
    std::string out = run.apply();
    EXPECT_TRUE(run.r.totals().complete()) << out;
    EXPECT_EQ(slurp(t.path("M.bas")), "Private b As Long\nPrivate c As Long\nSub S()\n    b = c\nEnd Sub\n");
}

TEST(RefactorSafety, QualifiedCaseOnlyLoopAndUntouchedPlaces) {
    Tree t;
    t.dir.write("Module1.bas",
                "Attribute VB_Name = \"Module1\"\n"
                "Public g_X As Long\n"
                "Public gCount As Long\n"
                "Attribute gCount.VB_VarUserMemId = 0\n"
                "Sub Work()\n"
                "    Dim i As Long\n"
                "    For i = 1 To 3\n"
                "        gcount = GCOUNT + i\n"
                "    Next i\n"
                "End Sub\n");
    t.dir.write("Other.bas",
                "Sub Use()\n"
                "    Module1.g_X = obj.g_X + Module1.gCount\n"
                "    Call Foo(g_X:=g_X, s:=\"g_X\") ' g_X\n"
                "    With obj\n"
                "        .g_X = 1\n"
                "    End With\n"
                "End Sub\n");
    t.parse();
    Refactoring run(t.parser);
    run.add("global_variable", rec(t.path("Module1.bas"), 2, "g_X", "g_Value_lng"));
    run.add("global_variable", rec(t.path("Module1.bas"), 3, "gCount", "GCount"));
    run.add("local_variable", rec(t.path("Module1.bas"), 6, "i", "i_Index_lng"));
    std::string out = run.apply();
    EXPECT_TRUE(run.r.totals().complete()) << out;
    EXPECT_EQ(slurp(t.path("Module1.bas")),
              "Attribute VB_Name = \"Module1\"\n"
              "Public g_Value_lng As Long\n"
              "Public GCount As Long\n"
              "Attribute gCount.VB_VarUserMemId = 0\n"
              "Sub Work()\n"
              "    Dim i_Index_lng As Long\n"
              "    For i_Index_lng = 1 To 3\n"
              "        GCount = GCount + i_Index_lng\n"
              "    Next i_Index_lng\n"
              "End Sub\n");
    EXPECT_EQ(slurp(t.path("Other.bas")),
              "Sub Use()\n"
              "    Module1.g_Value_lng = obj.g_X + Module1.GCount\n"
              "    Call Foo(g_X:=g_Value_lng, s:=\"g_X\") ' g_X\n"
              "    With obj\n"
              "        .g_X = 1\n"
              "    End With\n"
              "End Sub\n");
}

// A workbook applied a second time finds its renames in place: no backup, no rewrite, success.
TEST(RefactorOutcomes, ReapplyingChangesNothingAndCountsAsDone) {
    Tree t;
    t.dir.write("M.bas", "Public count As Long\nSub S()\n    count = 1\nEnd Sub\n");
    t.parse();
    Refactoring first(t.parser);
    first.add("global_variable", rec(t.path("M.bas"), 1, "count", "g_Count_lng"));
    first.apply();
    ASSERT_EQ(first.outcome("global_variable"), Outcome::applied);
    const auto stamp = fs::last_write_time(t.path("M.bas"));

    VBAParser again;
    again.parse_files(t.dir.str());
    Refactoring second(again);
    second.add("global_variable", rec(t.path("M.bas"), 1, "count", "g_Count_lng"));
    std::string out = second.apply();
    EXPECT_EQ(second.outcome("global_variable"), Outcome::already_applied);
    EXPECT_TRUE(second.r.totals().complete());
    EXPECT_EQ(out.find("已修改文件"), std::string::npos) << out;
    EXPECT_EQ(out.find("已备份文件"), std::string::npos) << out;
    EXPECT_EQ(backups_of(t.path("M.bas")).size(), 1u);
    EXPECT_EQ(fs::last_write_time(t.path("M.bas")), stamp);
}

// A stop request ends the run after the module in hand; the journal names exactly the modules
// rewritten; temporary files a killed run left are removed and reported.
TEST(RefactorOutcomes, StopsBetweenModulesAndKeepsAJournal) {
    Tree t;
    t.dir.write("A.bas", "Private a As Long\nSub SA()\n    a = 1\nEnd Sub\n");
    t.dir.write("B.bas", "Private b As Long\nSub SB()\n    b = 1\nEnd Sub\n");
    t.dir.write("A.bas.tmpAb12Cd", "half a module");
    t.dir.write("A.bas.backup_20250101_000000.tmpZZ99zz", "half a backup");
    t.dir.write("notes.tmpAb12Cd", "not ours");
    t.parse();
    int asked = 0;
    RefactorOptions options;
    options.journal_path = t.path("journal.log");
    options.stop_requested = [&] { return ++asked > 1; };
    Refactoring run(t.parser, options);
    run.add("module_variable", rec(t.path("A.bas"), 1, "a", "m_A_lng"));
    run.add("module_variable", rec(t.path("B.bas"), 1, "b", "m_B_lng"));
    std::string out = run.apply();
    EXPECT_TRUE(run.r.interrupted());
    EXPECT_EQ(run.outcome("module_variable", 0), Outcome::applied);
    EXPECT_EQ(run.outcome("module_variable", 1), Outcome::skipped);
    EXPECT_EQ(run.reason("module_variable", 1), "运行被中断");
    EXPECT_EQ(slurp(t.path("A.bas")), "Private m_A_lng As Long\nSub SA()\n    m_A_lng = 1\nEnd Sub\n");
    EXPECT_EQ(slurp(t.path("B.bas")), "Private b As Long\nSub SB()\n    b = 1\nEnd Sub\n");
    const std::string journal = slurp(t.path("journal.log"));
    EXPECT_NE(journal.find("\t" + t.path("A.bas") + "\t" + t.path("A.bas.backup_")), std::string::npos) << journal;
    EXPECT_EQ(journal.find("B.bas"), std::string::npos) << journal;
    EXPECT_NE(out.find("已删除上次中断的重构留下的临时文件: " + t.path("A.bas.tmpAb12Cd")), std::string::npos) << out;
    EXPECT_FALSE(fs::exists(t.path("A.bas.tmpAb12Cd")));
    EXPECT_FALSE(fs::exists(t.path("A.bas.backup_20250101_000000.tmpZZ99zz")));
    EXPECT_TRUE(fs::exists(t.path("notes.tmpAb12Cd")));
}

// Parameter, Type and Enum rows of the review workbook are applied too: a parameter within its
// procedure, a Type or Enum wherever it is used.
TEST(RefactorOutcomes, ParameterTypeAndEnumRowsFromTheWorkbook) {
    Tree t;
    t.dir.write("M.bas",
                "Public Type Rec\n    v As Long\nEnd Type\n"
                "Public Enum Mode\n    MODE_A = 0\nEnd Enum\n"
                "Function Calc(ByVal x As Long, m As Mode) As Long\n"  // 7
                "    Dim r As Rec\n"
                "    Calc = x\n"
                "End Function\n"
                "Sub Other(x As Long)\n"
                "    x = 2\n"
                "End Sub\n");
    t.parse();
    const std::string book = t.path("reviewed.xlsx");
    xlsx::writer::Workbook wb(book);
    auto sheet = [&](const char* name, std::vector<const char*> headers, std::vector<std::string> row) {
        xlsx::writer::Worksheet& ws = wb.add_worksheet(name);
        for (size_t c = 0; c < headers.size(); ++c) ws.write_string(0, static_cast<std::uint32_t>(c), headers[c]);
        ws.write_boolean(1, 0, true);
        for (size_t c = 0; c < row.size(); ++c) ws.write_string(1, static_cast<std::uint32_t>(c + 1), row[c]);
    };
    sheet("Function Parameters", {"应用", "参数名", "建议名称", "函数名", "文件路径", "行号"},
          {"x", "x_Value_lng", "Calc", "M.bas", "7"});
    sheet("Type Definitions", {"应用", "名称", "建议名称", "文件路径", "行号"}, {"Rec", "type_Rec", "M.bas", "1"});
    sheet("Enum Definitions", {"应用", "名称", "建议名称", "文件路径", "行号"}, {"Mode", "enum_Mode", "M.bas", "4"});
    wb.close();
    RefactorOptions options;
    options.root = t.dir.str();
    Refactoring run(t.parser, options);
    ASSERT_TRUE(run.r.apply_changes_from_excel(book));
    std::string out = run.out();
    EXPECT_TRUE(run.r.totals().complete()) << out;
    EXPECT_EQ(run.r.changes_made.at("parameter")[0].description, "参数 'x' 在函数 'Calc' 中重命名为 'x_Value_lng'");
    EXPECT_EQ(slurp(t.path("M.bas")),
              "Public Type type_Rec\n    v As Long\nEnd Type\n"
              "Public Enum enum_Mode\n    MODE_A = 0\nEnd Enum\n"
              "Function Calc(ByVal x_Value_lng As Long, m As enum_Mode) As Long\n"
              "    Dim r As type_Rec\n"
              "    Calc = x_Value_lng\n"
              "End Function\n"
              "Sub Other(x As Long)\n"
              "    x = 2\n"
              "End Sub\n");
}

}  // namespace
}  // namespace igxl::vbt
