// Modules written the way IG-XL exports them: Attribute lines, CR LF, Windows-1252 bytes in
// comments, continuations, conditional compilation, properties and Declare lines.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "temp_dir.h"
#include "tests/support/events.h"
#include "vbt/parser.h"

namespace igxl::vbt {
namespace {

std::string crlf(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\n') out += '\r';
        out += c;
    }
    return out;
}

const std::string MAIN_MODULE = crlf(
    "Attribute VB_Name = \"VBT_Main\"\n"                                   // 1
    "Option Explicit\n"                                                    // 2
    "' Caf\xE9 \x93quoted\x94 settings\x85\n"                              // 3 Windows-1252 bytes
    "#If VBA7 Then\n"                                                      // 4
    "Private Declare PtrSafe Function GetTickCount Lib \"kernel32\" () As Long\n"  // 5
    "#Else\n"                                                              // 6
    "Private Declare Function GetTickCount Lib \"kernel32\" () As Long\n"  // 7
    "#End If\n"                                                            // 8
    "Public g_Ready_bool As Boolean\n"                                     // 9
    "Private m_Cache As Collection\n"                                      // 10
    "Dim counter&, label$\n"                                               // 11 type characters, no As
    "Public Const g_VERSION_str As String = \"1.0\" ' \x93v\x94\n"         // 12
    "Public Property Get Ready() As Boolean\n"                             // 13
    "    Dim tmp As Long\n"                                                // 14
    "    Ready = g_Ready_bool\n"                                           // 15
    "End Property\n"                                                       // 16
    "Public Function Measure_VBT(ByVal PinName As String, _\n"             // 17
    "                            ByVal Count As Long) As Long\n"           // 18
    "    Dim i, j As Long\n"                                               // 19
    "    Dim site As Variant, readings() As Double\n"                      // 20
    "    #If DEBUG_ON Then\n"                                              // 21
    "        Debug.Print \"start \xE2\x80\x93 \" & PinName\n"               // 22 UTF-8 dash
    "    #End If\n"                                                        // 23
    "    For i = 0 To 9: readings(i) = i * 2#: Next i\n"                   // 24
    "    Measure_VBT = TheHdw.Digital.Patgen.Halt( _\n"                    // 25
    "        site)\n"                                                      // 26
    "Exit Function\n"                                                      // 27
    "End Function\n"                                                       // 28
    "Private Sub Log_DSP(ByRef out_Text As String)\n"                      // 29
    "    ' \xE4\xB8\xAD\xE6\x96\x87 comment \x85\n"                         // 30
    "End Sub\n");                                                          // 31

TEST(RealModules, ExportedModulesParseWithoutErrors) {
    TempDir dir;
    dir.write("Modules/VBT_Main.bas", MAIN_MODULE);
    // BOM, no final line break, a lone CR, a Type with members and an Enum.
    dir.write("Modules/Defs.bas",
              "\xEF\xBB\xBF" "Attribute VB_Name = \"Defs\"\r\nPublic Type type_Limits\r\n    Lo As Double\r\n"
              "    Hi As Double\r\nEnd Type\rPublic Enum enum_Mode\r\n    MODE_A = 0\r\nEnd Enum\r\n"
              "Global g_Limits_type As type_Limits");
    dir.write("Modules/Empty.bas", "");

    diag::CollectingSink sink;
    VBAParser p(sink);
    p.parse_files(dir.str());
    std::string printed = igxl::testing::lines_of(sink);
    EXPECT_EQ(printed.find("出错"), std::string::npos) << printed;
    EXPECT_NE(printed.find("找到 3 个 .bas 文件"), std::string::npos);

    const std::string main_path = dir.str() + "/Modules/VBT_Main.bas";
    const SourceLines& lines = p.files.at(main_path);
    ASSERT_EQ(lines.size(), 31u);
    // Not UTF-8: read in the default code page, Windows-1252.
    EXPECT_EQ(lines[2], "' Caf\xC3\xA9 \xE2\x80\x9Cquoted\xE2\x80\x9D settings\xE2\x80\xA6\n");
    EXPECT_EQ(lines.text().find('\r'), std::string::npos);

    // Procedures run from their header to their End line; the Property is one of them, and the
    // continued header gives all its parameters.
    const FunctionInfo& ready = p.functions.at(main_path + ":Ready");
    EXPECT_EQ(ready.start_line, 13);
    EXPECT_EQ(ready.end_line, 16);
    const FunctionInfo& measure = p.functions.at(main_path + ":Measure_VBT");
    EXPECT_EQ(measure.start_line, 17);
    EXPECT_EQ(measure.end_line, 28);
    ASSERT_EQ(measure.parameters.size(), 2u);
    EXPECT_EQ(measure.parameters[1].name, "Count");
    EXPECT_EQ(measure.parameters[1].type, "Long");
    EXPECT_TRUE(measure.issues().empty());
    const FunctionInfo& log = p.functions.at(main_path + ":Log_DSP");
    EXPECT_EQ(log.start_line, 29);
    EXPECT_EQ(log.end_line, 31);
    EXPECT_TRUE(log.issues().empty());
    EXPECT_EQ(p.functions.size(), 3u);
    EXPECT_EQ(p.local_variables.at(main_path + ":Ready").at(0).name, "tmp");

    // Each name has its own As clause: i without one is a Variant.
    std::vector<std::string> locals;
    for (const auto& v : p.local_variables.at(main_path + ":Measure_VBT"))
        locals.push_back(v.name + ":" + std::string(to_text(v.var_type)) + (v.is_array ? "()" : "") + ":" +
                         v.correct_name().value_or("ok"));
    EXPECT_EQ(locals, (std::vector<std::string>{"i:Variant:i", "j:Long:ok", "site:Variant:ok",
                                                "readings:Double():Readings_adbl"}));

    std::vector<std::string> globals;
    for (const auto& v : p.global_variables) globals.push_back(v.name + ":" + std::string(to_text(v.scope)));
    // Modules are read in name order: Defs.bas first.
    EXPECT_EQ(globals, (std::vector<std::string>{"g_Limits_type:global", "g_Ready_bool:global", "g_VERSION_str:global"}));
    EXPECT_EQ(p.global_variables[0].var_type, VariableType::VARIANT);  // a user Type reads as Variant
    EXPECT_TRUE(p.global_variables[2].is_const);
    EXPECT_FALSE(p.global_variables[2].has_issue());

    // Module level: the Declare lines declare no variable; type characters give the types.
    std::vector<std::string> module;
    for (const auto& v : p.module_variables.at(main_path))
        module.push_back(v.name + ":" + std::string(to_text(v.var_type)) + ":" + std::to_string(v.line_number));
    EXPECT_EQ(module, (std::vector<std::string>{"m_Cache:Variant:10", "counter:Long:11", "label:String:11"}));

    const std::string defs_path = dir.str() + "/Modules/Defs.bas";
    EXPECT_EQ(p.files.at(defs_path).size(), 9u);
    const TypeInfo& limits = p.types.at(defs_path + ":type_Limits");
    EXPECT_EQ(limits.line_number, 2);
    EXPECT_FALSE(limits.has_issue());
    EXPECT_EQ(limits.reference_count, 1);  // the Global line
    EXPECT_EQ(p.enums.at(defs_path + ":enum_Mode").line_number, 6);
    EXPECT_EQ(p.files.at(dir.str() + "/Modules/Empty.bas").size(), 0u);

    // Parameters are not looked up; the continued statement's second line is read.
    EXPECT_TRUE(p.get_variable_references("PinName").empty());
    ASSERT_EQ(p.get_variable_references("site").size(), 1u);
    EXPECT_EQ(p.get_variable_references("site")[0].line_number(), 26);
    const auto& uses = p.get_variable_references("i");
    ASSERT_EQ(uses.size(), 4u);
    EXPECT_EQ(uses[0].line_number(), 24);
    EXPECT_EQ(*uses[0].function_name(), "Measure_VBT");
    EXPECT_EQ(p.get_variable_references("g_Ready_bool").size(), 1u);
}

}  // namespace
}  // namespace igxl::vbt
