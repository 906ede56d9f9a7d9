#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "test_access.h"
#include "vbt/naming_rules.h"

namespace igxl::vbt {
namespace {

using S = VariableScope;
using T = VariableType;

struct VarCase {
    std::string name;
    S scope;
    T type;
    bool array;
    bool is_const;
    std::string correct;
    std::optional<std::string> issue;  // none: the name conforms
};

VariableInfo record(const VarCase& c) {
    return VariableInfo{.name = c.name,
                        .original_name = c.name,
                        .file_path = "m.bas",
                        .line_number = 1,
                        .scope = c.scope,
                        .var_type = c.type,
                        .is_array = c.array,
                        .is_const = c.is_const};
}

void expect_cases(const std::vector<VarCase>& cases) {
    for (const auto& c : cases) {
        auto [correct, issue] = VBTNamingRules::get_correct_variable_name(record(c));
        EXPECT_EQ(correct, c.correct) << c.name << " " << to_text(c.scope) << " " << to_text(c.type);
        EXPECT_EQ(issue, c.issue) << c.name << " " << to_text(c.scope) << " " << to_text(c.type);
    }
}

TEST(NamingRules, ReservedNamesDependOnScopeAndType) {
    expect_cases({
        {"i", S::LOCAL, T::INTEGER, false, false, "i", "预留变量名 'i' 必须为 Long 类型"},
        {"I", S::LOCAL, T::LONG, false, false, "I", std::nullopt},
        {"site", S::LOCAL, T::LONG, false, false, "site", "预留变量名 'site' 必须为 Variant 类型"},
        {"Site", S::LOCAL, T::VARIANT, false, false, "Site", std::nullopt},
        {"n", S::LOCAL, T::LONG, true, false, "n", std::nullopt},
        {"i", S::GLOBAL, T::LONG, false, false, "g_i_lng", "预留变量名 'i' 不能在 global 作用域使用"},
        // Every scope other than local suggests "g_", the module scope included.
        {"i", S::MODULE_PRIVATE, T::LONG, false, false, "g_i_lng", "预留变量名 'i' 不能在 module_private 作用域使用"},
        {"K", S::MODULE_PRIVATE, T::DOUBLE, true, false, "g_K_adbl", "预留变量名 'K' 不能在 module_private 作用域使用"},
    });
}

TEST(NamingRules, LocalVariablesTakeOptionalPrefixAndTypeSuffix) {
    expect_cases({
        {"count", S::LOCAL, T::LONG, false, false, "Count_lng", "变量命名不符合规范，建议使用 'Count_lng' 或 'i_Count_lng'"},
        {"i_Count_lng", S::LOCAL, T::LONG, false, false, "i_Count_lng", std::nullopt},
        {"Count_lng", S::LOCAL, T::LONG, false, false, "Count_lng", std::nullopt},
        {"Values_alng", S::LOCAL, T::LONG, true, false, "Values_alng", std::nullopt},
        // A scalar suffix on an array is stripped and replaced.
        {"Values_lng", S::LOCAL, T::LONG, true, false, "Values_alng", "变量命名不符合规范，建议使用 'Values_alng' 或 'i_Values_alng'"},
        {"total_value", S::LOCAL, T::DOUBLE, false, false, "TotalValue_dbl", "变量命名不符合规范，建议使用 'TotalValue_dbl' 或 'i_TotalValue_dbl'"},
        {"", S::LOCAL, T::LONG, false, false, "_lng", "变量命名不符合规范，建议使用 '_lng' 或 'i__lng'"},
        {"Anything", S::LOCAL, T::USERCLASS, false, false, "Anything", std::nullopt},
    });
}

TEST(NamingRules, SuffixStrippingFollowsTableOrder) {
    expect_cases({
        // "_int" goes at the INTEGER entry, then "_lng" at LONG.
        {"Total_lng_int", S::LOCAL, T::LONG, false, false, "Total_lng", "变量命名不符合规范，建议使用 'Total_lng' 或 'i_Total_lng'"},
        // INTEGER is passed before "_lng" is removed, so "_int" stays in the body.
        {"g_Total_int_lng", S::GLOBAL, T::LONG, false, false, "g_Total_int_lng", std::nullopt},
        {"Total_int_lng", S::LOCAL, T::LONG, false, false, "Total_int_lng", std::nullopt},
        // Suffix matching is case-sensitive.
        {"g_Total_LNG", S::GLOBAL, T::LONG, false, false, "g_Total_LNG_lng", "变量命名不符合规范，应为 'g_Total_LNG_lng'"},
    });
}

TEST(NamingRules, ScopedVariablesGetTheirPrefixReplaced) {
    expect_cases({
        {"g_total_dbl", S::GLOBAL, T::DOUBLE, false, false, "g_Total_dbl", "变量命名不符合规范，应为 'g_Total_dbl'"},
        {"m_Values_alng", S::MODULE_PRIVATE, T::LONG, true, false, "m_Values_alng", std::nullopt},
        {"g_Count_lng", S::MODULE_PRIVATE, T::LONG, false, false, "m_Count_lng", "变量命名不符合规范，应为 'm_Count_lng'"},
        {"Flag", S::GLOBAL, T::SITEBOOLEAN, true, false, "g_Flag_aSBOOL", "变量命名不符合规范，应为 'g_Flag_aSBOOL'"},
        // Only the first matching prefix goes.
        {"i_m_Data", S::GLOBAL, T::VARIANT, false, false, "g_MData_var", "变量命名不符合规范，应为 'g_MData_var'"},
    });
}

TEST(NamingRules, SuggestionsKeepWordBoundaries) {
    expect_cases({
        {"testLength", S::LOCAL, T::STRING, false, false, "TestLength_str", "变量命名不符合规范，建议使用 'TestLength_str' 或 'i_TestLength_str'"},
        // A one-letter prefix written camel-case is a prefix: replaced, not made part of the body.
        {"gOther", S::GLOBAL, T::LONG, false, false, "g_Other_lng", "变量命名不符合规范，应为 'g_Other_lng'"},
        {"mCount", S::GLOBAL, T::LONG, false, false, "g_Count_lng", "变量命名不符合规范，应为 'g_Count_lng'"},
        {"iIndex", S::LOCAL, T::LONG, false, false, "Index_lng", "变量命名不符合规范，建议使用 'Index_lng' 或 'i_Index_lng'"},
        {"m_countValue_lng", S::MODULE_PRIVATE, T::LONG, false, false, "m_CountValue_lng", "变量命名不符合规范，应为 'm_CountValue_lng'"},
        // Names that already conform are not split.
        {"g_MaxCount_lng", S::GLOBAL, T::LONG, false, false, "g_MaxCount_lng", std::nullopt},
        {"i_XMLParser_var", S::LOCAL, T::VARIANT, false, false, "i_XMLParser_var", std::nullopt},
        {"gain", S::GLOBAL, T::DOUBLE, false, false, "g_Gain_dbl", "变量命名不符合规范，应为 'g_Gain_dbl'"},
    });
    auto [correct, issue] = VBTNamingRules::check_function_parameter("pinName", "String", "ByVal", FunctionType::DSP);
    EXPECT_EQ(correct, "in_PinName");
    // A base that cannot change gets no message asking for a change.
    EXPECT_EQ(VBTNamingRules::check_function_parameter("in_123", "Long", "ByVal", FunctionType::DSP).second, std::nullopt);
}

TEST(NamingRules, ObjectTypesTakeNoSuffix) {
    expect_cases({
        {"obj", S::LOCAL, T::USERCLASS, false, false, "Obj", "UserClass 类型变量名 'obj' 应为 PascalCaseStyle 格式"},
        {"i_Obj", S::LOCAL, T::USERCLASS, false, false, "i_Obj", std::nullopt},
        {"Pins", S::GLOBAL, T::PINLIST, false, false, "g_Pins", "PinList 类型变量需要作用域前缀 'g_'"},
        {"m_whatever", S::MODULE_PRIVATE, T::PINLIST, false, false, "m_whatever", std::nullopt},
        {"m_Pins", S::GLOBAL, T::PINLIST, false, false, "g_Pins", "PinList 类型变量需要作用域前缀 'g_'"},
    });
}

TEST(NamingRules, ConstantsUseTwoMessages) {
    expect_cases({
        {"g_MAX_VALUE_lng", S::GLOBAL, T::LONG, false, true, "g_MAX_VALUE_lng", std::nullopt},
        // Upper case with underscores is a constant's usual form: asking for it would contradict the name.
        {"MAX_VALUE", S::GLOBAL, T::LONG, false, true, "MAX_VALUE", std::nullopt},
        {"K", S::MODULE_PRIVATE, T::DOUBLE, false, true, "K", std::nullopt},
        // Word boundaries survive the upper-casing.
        {"maxValue", S::MODULE_PRIVATE, T::LONG, false, true, "m_MAX_VALUE_lng", "常量名 'maxValue' 应使用下划线全大写格式，建议改为：'m_MAX_VALUE_lng'"},
        {"g_maxValue", S::GLOBAL, T::LONG, false, true, "g_MAX_VALUE_lng", "常量名 'g_maxValue' 应使用全大写和下划线格式，建议改为：'g_MAX_VALUE_lng'"},
        {"g_MaxValue_lng", S::GLOBAL, T::LONG, false, true, "g_MAX_VALUE_lng", "常量名 'g_MaxValue_lng' 应使用下划线全大写格式，建议改为：'g_MAX_VALUE_lng'"},
        {"g_maxValue_lng", S::GLOBAL, T::LONG, false, true, "g_MAX_VALUE_lng", "常量名 'g_maxValue_lng' 应使用下划线全大写格式，建议改为：'g_MAX_VALUE_lng'"},
        {"g_MAX_VALUE_LNG", S::GLOBAL, T::LONG, false, true, "g_MAX_VALUE_LNG_lng", "常量名 'g_MAX_VALUE_LNG' 应使用全大写和下划线格式，建议改为：'g_MAX_VALUE_LNG_lng'"},
        // "123" has no cased letter, but there is nothing to change either: no message then.
        {"m_123_lng", S::MODULE_PRIVATE, T::LONG, false, true, "m_123_lng", std::nullopt},
        // Digits inside the body gain an underscore before the next capital.
        {"g_max2Count", S::GLOBAL, T::LONG, false, true, "g_MAX2_COUNT_lng", "常量名 'g_max2Count' 应使用全大写和下划线格式，建议改为：'g_MAX2_COUNT_lng'"},
        // The reserved-name rule does not apply to constants.
        {"i", S::LOCAL, T::LONG, false, true, "i_I_lng", "常量名 'i' 应使用下划线全大写格式，建议改为：'i_I_lng'"},
        {"m_PI_var", S::MODULE_PRIVATE, T::VARIANT, false, true, "m_PI_var", std::nullopt},
    });
}

TEST(NamingRules, CaseHelpers) {
    EXPECT_EQ(TestAccess::to_camel_style("my_var_name"), "MyVarName");
    EXPECT_EQ(TestAccess::to_camel_style("MAX_COUNT"), "MaxCount");
    EXPECT_EQ(TestAccess::to_camel_style("myVarName"), "MyVarName");
    EXPECT_EQ(TestAccess::to_camel_style("my_varName"), "MyVarName");
    EXPECT_EQ(TestAccess::to_camel_style("getHTTPResponse2X"), "GetHttpResponse2X");
    EXPECT_EQ(TestAccess::to_camel_style("MyVar"), "MyVar");
    EXPECT_EQ(TestAccess::to_camel_style("x__y"), "XY");
    EXPECT_EQ(TestAccess::to_camel_style("__"), "");
    EXPECT_EQ(TestAccess::to_camel_style("arr(10)"), "Arr10");

    for (const char* yes : {"Foo_Bar", "FOO", "F", "A_1", "F__"}) EXPECT_TRUE(TestAccess::is_camel_style(yes)) << yes;
    for (const char* no : {"fooBar", "Foo-Bar", "", "_Foo", "1Foo"}) EXPECT_FALSE(TestAccess::is_camel_style(no)) << no;

    EXPECT_EQ(TestAccess::camel_to_snake_case("MaxCount"), "Max_Count");
    EXPECT_EQ(TestAccess::camel_to_snake_case("XMLParser"), "XML_Parser");
    EXPECT_EQ(TestAccess::camel_to_snake_case("Value2X"), "Value2_X");
    EXPECT_EQ(TestAccess::camel_to_snake_case("ABC"), "ABC");
    EXPECT_EQ(TestAccess::camel_to_snake_case("MAX2COUNT"), "MAX2_COUNT");
    EXPECT_EQ(TestAccess::camel_to_snake_case(""), "");

    EXPECT_EQ(TestAccess::type_suffix(T::LONG, true), "_alng");
    EXPECT_EQ(TestAccess::type_suffix(T::VARIANT, true), "_var");
    EXPECT_EQ(TestAccess::type_suffix(T::USERCLASS, false), "");
    EXPECT_EQ(TestAccess::type_suffix(T::PINLIST, true), "");
}

TEST(NamingRules, ParametersByProcedureKind) {
    struct Case {
        std::string name, pass;
        FunctionType kind;
        std::string correct;
        std::optional<std::string> issue;
    };
    using F = FunctionType;
    const std::vector<Case> cases = {
        {"in_Count", "ByVal", F::VBT, "Count", "VBT函数参数 'in_Count' 不应有前缀，应为PascalCase格式：'Count'"},
        {"inout_my_data", "", F::VBT, "MyData", "VBT函数参数 'inout_my_data' 不应有前缀，应为PascalCase格式：'MyData'"},
        {"count", "", F::VBT, "Count", "VBT函数参数 'count' 应为PascalCase格式：'Count'"},
        {"PinName", "", F::VBT, "PinName", std::nullopt},
        {"x", "", F::DSP, "x", "DSP/非VBT函数参数 'x' 必须指定ByVal或ByRef"},
        {"in_Good", "", F::OTHER, "in_Good", "DSP/非VBT函数参数 'in_Good' 必须指定ByVal或ByRef"},
        {"count", "ByVal", F::OTHER, "in_Count", "DSP/非VBT函数参数 'count' 应有in_/out_/inout_前缀，建议：'in_Count'"},
        {"result", "ByRef", F::DSP, "in_Result", "DSP/非VBT函数参数 'result' 应有in_/out_/inout_前缀，建议：'in_Result'"},
        {"out_value", "ByRef", F::DSP, "out_Value", "DSP/非VBT函数参数 'out_value' 的基础名称应为PascalCase格式：'out_Value'"},
        {"inout_Data", "ByRef", F::DSP, "inout_Data", std::nullopt},
        {"inout_data", "ByRef", F::DSP, "inout_Data", "DSP/非VBT函数参数 'inout_data' 的基础名称应为PascalCase格式：'inout_Data'"},
        {"whatever_name", "", F::IP, "whatever_name", std::nullopt},
    };
    for (const auto& c : cases) {
        auto [correct, issue] = VBTNamingRules::check_function_parameter(c.name, "Long", c.pass, c.kind);
        EXPECT_EQ(correct, c.correct) << c.name << " " << to_text(c.kind);
        EXPECT_EQ(issue, c.issue) << c.name << " " << to_text(c.kind);
    }
}

TEST(NamingRules, TablesKeepTheirOrderAndTexts) {
    ASSERT_EQ(VBTNamingRules::SCOPE_PREFIXES.size(), 6u);
    EXPECT_EQ(VBTNamingRules::SCOPE_PREFIXES[3].prefix, "i_");
    EXPECT_EQ(VBTNamingRules::SCOPE_PREFIXES[5].prefix, "v_");
    EXPECT_EQ(VBTNamingRules::scope_prefix(S::CLASS_EXTERNAL), "v_");
    EXPECT_EQ(to_text(S::MODULE_PRIVATE), "module_private");
    EXPECT_EQ(to_text(T::DSPWAVE), "DspWave");
    EXPECT_EQ(to_text(T::PINLISTDATA), "PinListData");
    EXPECT_EQ(to_text(FunctionType::OTHER), "OTHER");
}

}  // namespace
}  // namespace igxl::vbt
