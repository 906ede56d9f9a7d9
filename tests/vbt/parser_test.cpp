#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "temp_dir.h"
#include "test_access.h"
#include "tests/support/events.h"
#include "util/lines.h"
#include "util/regex.h"
#include "vbt/parser.h"
#include "vbt/statements.h"

namespace igxl::vbt {
namespace {

const std::string FIXTURES = IGXL_SOURCE_DIR "/tests/vbt/fixtures/";

std::string opt(const std::optional<std::string>& s) { return s ? *s : "-"; }
std::string opt(const std::optional<SharedText>& s) { return s ? s->str() : "-"; }

std::string relative(const std::string& path, const std::string& dir) {
    return path.rfind(dir, 0) == 0 ? path.substr(dir.size()) : path;
}

// Every record of the parser, one line each, paths relative to dir: the form the .expected files
// beside the fixtures are written in.
std::string dump(const VBAParser& p, const std::string& dir) {
    std::ostringstream out;
    auto var = [&](const char* where, const VariableInfo& v) {
        out << where << " " << v.name << " scope=" << to_text(v.scope) << " type=" << to_text(v.var_type)
            << " array=" << v.is_array << " const=" << v.is_const << " line=" << v.line_number
            << " func=" << opt(v.function_name) << " -> " << opt(v.correct_name()) << " | "
            << opt(v.issue_description()) << "\n";
    };
    for (const auto& v : p.global_variables) var("global", v);
    for (const auto& [path, list] : p.module_variables)
        for (const auto& v : list) var(("module@" + relative(path, dir)).c_str(), v);
    for (const auto& [key, list] : p.local_variables)
        for (const auto& v : list) var(("local@" + relative(key, dir)).c_str(), v);
    for (const auto& [key, f] : p.functions) {
        out << "function@" << relative(key, dir) << " " << f.name << " kind=" << to_text(f.func_type)
            << " lines=" << f.start_line << "-" << f.end_line << " params=";
        for (const auto& prm : f.parameters) out << "(" << prm.name << "," << prm.type << "," << prm.pass_mode << ")";
        out << "\n";
        for (const auto& issue : f.issues()) out << "  " << issue << "\n";
    }
    for (const auto* map : {&p.types, &p.enums})
        for (const auto& [key, t] : *map)
            out << t.info_type << "@" << relative(key, dir) << " scope=" << t.scope << " line=" << t.line_number
                << " refs=" << t.reference_count << "/" << t.referenced_files.size() << " -> "
                << opt(t.correct_name) << " | " << opt(t.issue_description) << "\n";
    return out.str();
}

void expect_fixture(const std::string& name) {
    const std::string dir = FIXTURES + name;
    diag::CollectingSink sink;
    VBAParser p(sink);
    p.parse_files(dir);
    std::string printed = igxl::testing::lines_of(sink);
    EXPECT_EQ(printed.find("出错"), std::string::npos) << printed;
    const std::string actual = dump(p, dir + "/");
    // After a reviewed change of the rules, VBT_WRITE_EXPECTED=1 rewrites the expected records.
    if (std::getenv("VBT_WRITE_EXPECTED")) std::ofstream(dir + "/expected.txt", std::ios::binary) << actual;
    EXPECT_EQ(actual, util::read_file(dir + "/expected.txt")) << "fixture " << name;
}

// One record per line in the form of the declaration table: where, name, type, flags, line.
std::vector<std::string> table_records(const VBAParser& p) {
    std::vector<std::string> out;
    auto var = [&](const char* where, const VariableInfo& v) {
        std::string r = std::string(where) + " " + v.name + " " + std::string(to_text(v.var_type));
        if (v.is_array) r += " array";
        if (v.is_const) r += " const";
        r += " line=" + std::to_string(v.line_number);
        if (v.function_name) r += " in=" + v.function_name->str();
        out.push_back(r);
    };
    for (const auto& v : p.global_variables) var("global", v);
    for (const auto& [path, list] : p.module_variables)
        for (const auto& v : list) var("module", v);
    for (const auto& [key, list] : p.local_variables)
        for (const auto& v : list) var("local", v);
    for (const auto& [key, f] : p.functions) {
        std::string r = "function " + f.name + " lines=" + std::to_string(f.start_line) + "-" + std::to_string(f.end_line);
        if (!f.parameters.empty()) r += " ";
        for (const auto& prm : f.parameters) r += "(" + prm.name + "," + prm.type + "," + prm.pass_mode + ")";
        out.push_back(r);
    }
    std::sort(out.begin(), out.end());
    return out;
}

TEST(Parser, DeclarationTable) {
    std::istringstream table(util::read_file(FIXTURES + "statements/declaration_table.txt"));
    std::string line, module;
    std::vector<std::string> expected;
    int cases = 0, first_line = 0, line_num = 0;
    while (std::getline(table, line)) {
        ++line_num;
        if (module.empty() && expected.empty() && (line.empty() || line.rfind("# ", 0) == 0)) continue;
        if (first_line == 0) first_line = line_num;
        if (line.rfind("> ", 0) == 0) {
            expected.push_back(line.substr(2));
        } else if (line == "--") {
            VBAParser p;
            TestAccess::parse_text(p, "T.bas", module);
            std::sort(expected.begin(), expected.end());
            EXPECT_EQ(table_records(p), expected) << "case at line " << first_line << ":\n" << module;
            ++cases;
            module.clear();
            expected.clear();
            first_line = 0;
        } else {
            module += line + "\r\n";
        }
    }
    EXPECT_GE(cases, 11);
    EXPECT_TRUE(module.empty() && expected.empty()) << "the last case has no closing --";
}

TEST(Parser, StatementsKeepStringsAndSplitOnlyOutsideThem) {
    SourceLines lines(decode_source("x = \"a:b ' c\" & y ' note: here\nLabel1: s = \"_\" _\n  & \"z\"\nRem\n"));
    detail::StatementReader reader(lines);
    detail::Statement st;
    std::vector<std::string> got;
    while (reader.next(st))
        got.push_back(std::string(st.code) + " @" + std::to_string(st.line) + "-" + std::to_string(st.last_line));
    EXPECT_EQ(got, (std::vector<std::string>{"x = \"a:b ' c\" & y @1-1", "Label1 @2-3", "s = \"_\"    & \"z\" @2-3"}));

    // A byte order mark does not hide the first declaration.
    VBAParser p;
    TestAccess::parse_text(p, "B.bas", "\xEF\xBB\xBFPublic g_First_lng As Long\r\n");
    ASSERT_EQ(p.global_variables.size(), 1u);
    EXPECT_EQ(p.global_variables[0].name, "g_First_lng");
}

std::vector<std::string> statements_of(const std::string& text, bool* views_into_text = nullptr) {
    SourceLines lines(decode_source(text));
    detail::StatementReader reader(lines);
    detail::Statement st;
    std::vector<std::string> got;
    while (reader.next(st)) {
        got.push_back(std::string(st.code) + " @" + std::to_string(st.line) + "-" + std::to_string(st.last_line));
        const char* begin = lines.text().data();
        if (views_into_text && st.whole_line)
            *views_into_text &= st.code.data() >= begin && st.code.data() + st.code.size() <= begin + lines.text().size();
    }
    return got;
}

TEST(Parser, StatementsOfLinesHoldingSeveral) {
    struct Case {
        const char* text;
        std::vector<std::string> statements;
    };
    for (const Case& c : std::initializer_list<Case>{
             {"x = 1: Dim y\n", {"x = 1 @1-1", "Dim y @1-1"}},
             {"Dim y: x = 1 ' z: w\n", {"Dim y @1-1", "x = 1 @1-1"}},
             {"Call f(a:=1, b:= 2)\n", {"Call f(a:=1, b:= 2) @1-1"}},
             {"s = \"a: 'b\": t = 2\n", {"s = \"a: 'b\" @1-1", "t = 2 @1-1"}},
             {"s = \"\"\"\": t = \"x\"\"\" ' q\n", {"s = \"\"\"\" @1-1", "t = \"x\"\"\" @1-1"}},
             {"d = #1:02:03 PM#: e = 1\n", {"d = #1:02:03 PM# @1-1", "e = 1 @1-1"}},
             {"x = 1 _\n  + 2: y = 3\nz = 4\n", {"x = 1    + 2 @1-2", "y = 3 @1-2", "z = 4 @3-3"}},
             {"a = 1: _\nDim b\n", {"a = 1 @1-2", "Dim b @1-2"}},
             {"x = 1: Rem y = 2: z = 3\nRem\nremark = 1\n", {"x = 1 @1-1", "remark = 1 @3-3"}},
             {"20 x = 1: y = 2\n30\n", {"x = 1 @1-1", "y = 2 @1-1", "30 @2-2"}},
             {"::x = 1:  :\n", {"x = 1 @1-1"}},
             {"s = \"open: _\n", {"s = \"open: @1-1"}},  // no literal goes on to the next line: a continuation
         })
        EXPECT_EQ(statements_of(c.text), c.statements) << c.text;
}

// A line that is a statement of its own is read by a shorter way than a line with a comment; a
// comment put after every line must change nothing in the statements read.
TEST(Parser, WholeLineStatementsReadAsWithAComment) {
    const std::vector<std::string> pieces = {
        "x = 1", "  Dim a As Long  ", "s = \"a: b\"", "s = \"it's\"", "Call f(a:=1)", "t = #1/2/2020#",
        "\xC2\xA0y = 2\xE3\x80\x80", "x = 1: y = 2", "Label1: z = 3", "10 Dim k", "Rem x", "remark = 1", "",
        "   ", "\t#If A Then", "e = \"\"\"\"", "name_ = 1", "a = b _ + c", "\xE4\xB8\xAD = 1",
    };
    uint32_t state = 7;
    auto random = [&](size_t n) {
        state = state * 1103515245u + 12345u;
        return static_cast<size_t>((state >> 8) % n);
    };
    for (int round = 0; round < 200; ++round) {
        std::string plain, commented;
        const size_t lines = 1 + random(8);
        for (size_t i = 0; i < lines; ++i) {
            const std::string& piece = pieces[random(pieces.size())];
            plain += piece + "\n";
            commented += piece + " ' note: x\n";
        }
        bool views = true;
        EXPECT_EQ(statements_of(plain, &views), statements_of(commented)) << plain;
        EXPECT_TRUE(views) << plain;
    }
}

TEST(Parser, DeclarationFixture) { expect_fixture("declarations"); }
TEST(Parser, ProcedureFixture) { expect_fixture("procedures"); }

TEST(Parser, ParametersSplitAtTopLevelCommas) {
    auto params = TestAccess::parameters(" ByVal a As Long, ByRef b() As Double ,x, ,ByVal d As Variant = Fn(1, (2, 3)) ");
    std::vector<std::string> got;
    for (const auto& p : params) got.push_back(p.name + "," + p.type + "," + p.pass_mode);
    EXPECT_EQ(got, (std::vector<std::string>{"a,Long,ByVal", "b,Double,ByRef", "x,Variant,", "d,Variant,ByVal"}));

    got.clear();
    for (const auto& p : TestAccess::parameters("Optional ByVal x As Long = 1, byval y as pinlist, (bad), ParamArray args()"))
        got.push_back(p.name + "," + p.type + "," + p.pass_mode);
    EXPECT_EQ(got, (std::vector<std::string>{"x,Long,ByVal", "y,pinlist,byval", "args,Variant,ParamArray"}));
    EXPECT_TRUE(TestAccess::parameters("   ").empty());
}

TEST(Parser, ProcedureKindComesFromTheCaseSensitiveSuffix) {
    EXPECT_EQ(TestAccess::function_definition("Sub Init_VBT()").func_type, FunctionType::VBT);
    EXPECT_EQ(TestAccess::function_definition("Function Calc_DSP(ByVal x As Long) As Double").func_type, FunctionType::DSP);
    EXPECT_EQ(TestAccess::function_definition("private sub Foo_IP").func_type, FunctionType::IP);
    EXPECT_EQ(TestAccess::function_definition("Sub Foo_vbt()").func_type, FunctionType::OTHER);
    auto f = TestAccess::function_definition("Public Function Pick(ByVal a As Long) As Variant ' (a comment)");
    // The parameter text runs to the last bracket of the line.
    ASSERT_EQ(f.parameters.size(), 1u);
    EXPECT_EQ(f.parameters[0].name, "a");
    EXPECT_EQ(TestAccess::function_definition("Sub (x)").name, "unknown");
}

TEST(Parser, LineTestsClassifyAsTheParserReads) {
    struct Case {
        const char* line;
        bool function, declaration;
    };
    for (const Case& c : std::initializer_list<Case>{
             {"Sub A()", true, false},
             {"  sub a", true, false},
             {"Friend Function F", true, false},
             {"Private Static Function F() As Long", true, false},
             {"Public Property Let Value(ByVal v As Long)", true, false},
             {"Property Get P()", true, false},
             {"PublicSub x", false, false},
             {"End Sub", false, false},
             {"Exit Function", false, false},
             {"Declare Function X Lib \"k\" ()", false, false},
             {"Private Declare PtrSafe Sub Sleep Lib \"kernel32\" (ByVal ms As Long)", false, false},
             {"\xC2\xA0" "Dim x As Long", false, true},
             {"\tdim x", false, true},
             {"Global Const A = 1", false, true},
             {"Const  K = 2", false, true},
             {"Static n As Long", false, true},
             {"Static Sub S()", true, false},
             {"Private WithEvents app As Application", false, true},
             {"ReDim arr(5)", false, false},
             {"Public Type T", false, false},
             {"Private Enum E", false, false},
             {"Public Event Changed()", false, false},
             {"x = 1", false, false},
             {"' Dim x", false, false},
             {"", false, false},
             {"Dimension = 3", false, false},
             {"Public\n", false, false},
             {"\xE4\xB8\xAD", false, false},
         }) {
        EXPECT_EQ(detail::is_function_definition(c.line), c.function) << c.line;
        EXPECT_EQ(detail::is_variable_declaration(c.line), c.declaration) << c.line;
    }
}

TEST(Parser, MissingDirectoryPrintsZeroCounts) {
    diag::CollectingSink sink;
    VBAParser p(sink);
    p.parse_files(FIXTURES + "no-such-folder");
    EXPECT_EQ(igxl::testing::lines_of(sink),
              "找到 0 个 .bas 文件\n正在收集变量引用信息...\n收集到 0 个变量的引用信息\n"
              "解析完成：0 个全局变量，0 个函数\n");
}

TEST(Parser, WalkFindsModulesInAnyCaseAndReportsUnreadableOnes) {
    TempDir dir;
    dir.write("b.BAS", "Global g_B_lng As Long\n");
    dir.write("a.bas", "Global g_A_lng As Long\n");
    dir.write("notes.txt", "Global g_X_lng As Long\n");
    dir.write("sub/c.Bas", "Global g_C_lng As Long\r\n");
    std::filesystem::create_directories(dir.str() + "/dir.bas");  // a folder, not a module
    std::error_code ec;
    std::filesystem::create_symlink(dir.str() + "/missing", dir.str() + "/broken.bas", ec);
    // Windows lets only administrators (or developer mode) make them; Wine not at all.
    if (ec) GTEST_SKIP() << "symbolic links cannot be made here: " << ec.message();

    diag::CollectingSink sink;
    VBAParser p(sink);
    p.parse_files(dir.str() + "/");
    std::string printed = igxl::testing::lines_of(sink);
    EXPECT_NE(printed.find("找到 4 个 .bas 文件\n"), std::string::npos) << printed;
    EXPECT_NE(printed.find("解析文件 " + dir.str() + "/broken.bas 时出错: "), std::string::npos) << printed;
    EXPECT_NE(printed.find("解析完成：3 个全局变量，0 个函数\n"), std::string::npos) << printed;
    ASSERT_EQ(p.files.size(), 3u);
    // A folder's own modules come before those of its sub-folders; no doubled separator.
    EXPECT_EQ(p.global_variables[0].file_path, dir.str() + "/a.bas");
    EXPECT_EQ(p.global_variables[1].file_path, dir.str() + "/b.BAS");
    EXPECT_EQ(p.global_variables[2].file_path, dir.str() + "/sub/c.Bas");
}

// Class and document modules (.cls) are read as the editor exports them; their module-level
// names belong to the class, so a Public one is a class member and never a global.
TEST(Parser, ClassModulesAreCheckedWithClassScopes) {
    TempDir dir;
    dir.write("Counter.cls",
              "VERSION 1.0 CLASS\r\nBEGIN\r\n  MultiUse = -1  'True\r\nEND\r\n"
              "Attribute VB_Name = \"Counter\"\r\nOption Explicit\r\n"
              "Public total As Long\r\nPrivate m_Step As Long\r\nDim seen As Boolean\r\n"
              "Public Sub Add(ByVal amount As Long)\r\n    Dim before As Long\r\n    total = total + amount\r\nEnd Sub\r\n");
    dir.write("Main.bas", "Public total As Long\r\n");
    diag::CollectingSink sink;
    VBAParser p(sink);
    p.parse_files(dir.str());
    EXPECT_NE(igxl::testing::lines_of(sink).find("找到 1 个 .bas 文件，1 个 .cls 文件\n"), std::string::npos);
    ASSERT_EQ(p.global_variables.size(), 1u);  // Main.bas only
    EXPECT_EQ(p.global_variables[0].file_path, dir.str() + "/Main.bas");
    const auto& members = p.module_variables.at(dir.str() + "/Counter.cls");
    ASSERT_EQ(members.size(), 3u);
    EXPECT_EQ(members[0].scope, VariableScope::CLASS_PUBLIC);
    EXPECT_EQ(opt(members[0].correct_name()), "m_Total_lng");
    EXPECT_EQ(members[1].scope, VariableScope::CLASS_PRIVATE);
    EXPECT_EQ(opt(members[1].correct_name()), "i_Step_lng");  // the wrong scope prefix replaced
    EXPECT_EQ(members[2].scope, VariableScope::CLASS_PRIVATE);
    EXPECT_EQ(p.local_variables.at(dir.str() + "/Counter.cls:Add")[0].scope, VariableScope::LOCAL);
    EXPECT_TRUE(p.functions.contains(dir.str() + "/Counter.cls:Add"));
}

// Modules read from one folder can be recorded under another name (a workbook's modules, read
// from where they were extracted, named after the workbook).
TEST(Parser, ModulesCanBeNamedAfterWhereTheyCameFrom) {
    TempDir dir;
    dir.write("Mod1.bas", "Public g_A_lng As Long\r\n");
    dir.write("lib/Sheet1.cls", "Private x As Long\r\n");
    ParseOptions options;
    options.shown_root = "/data/Prog.xlsm";
    VBAParser p(options);
    p.parse_files(dir.str() + "/");
    std::vector<std::string> keys;
    for (const auto& [path, lines] : p.files) keys.push_back(path);
    EXPECT_EQ(keys, (std::vector<std::string>{"/data/Prog.xlsm/Mod1.bas", "/data/Prog.xlsm/lib/Sheet1.cls"}));
    EXPECT_EQ(p.global_variables.at(0).file_path, "/data/Prog.xlsm/Mod1.bas");
    EXPECT_TRUE(p.module_variables.contains("/data/Prog.xlsm/lib/Sheet1.cls"));
}

TEST(Parser, LinesAreDecodedAndKeepTheirEnds) {
    // 0x85 and 0x93 are Windows-1252 bytes, not UTF-8: dropped. CR LF and lone CR become LF.
    std::string text = decode_source(std::string("a\r\nb\rc\x85\r\x93\nd\xE4\xB8\xAD\n\xE4\xB8"));
    EXPECT_EQ(text, "a\nb\nc\nd\xE4\xB8\xAD\n");
    SourceLines lines(text);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], "a\n");
    EXPECT_EQ(lines[3], "d\xE4\xB8\xAD\n");
    EXPECT_EQ(SourceLines("x\ny").to_vector(), (std::vector<std::string>{"x\n", "y"}));
    EXPECT_EQ(SourceLines("").size(), 0u);
    EXPECT_EQ(detail::strip("\xC2\xA0 Dim x As Long \xE3\x80\x80\n"), "Dim x As Long");
}

TEST(Parser, SecondParseAddsAgain) {
    VBAParser p;
    ::testing::internal::CaptureStdout();
    p.parse_files(FIXTURES + "declarations");
    size_t globals = p.global_variables.size();
    p.parse_files(FIXTURES + "declarations");
    ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(p.global_variables.size(), 2 * globals);
    EXPECT_EQ(p.files.size(), 1u);
    // References of the first scan still point at live text after the entry was replaced.
    for (const auto& [name, refs] : p.variable_references)
        for (const auto& r : refs) EXPECT_NE(r.context().find(r.var_name()), std::string_view::npos);
}

}  // namespace
}  // namespace igxl::vbt
