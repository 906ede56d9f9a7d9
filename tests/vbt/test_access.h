// Reaches the private steps of the naming rules and the parser for the tests.
#pragma once
#include <string>
#include <string_view>
#include <vector>

#include "vbt/naming_rules.h"
#include "vbt/parser.h"

namespace igxl::vbt {

struct TestAccess {
    static RuleResult constant_name(const VariableInfo& v) { return VBTNamingRules::get_correct_constant_name(v); }
    static std::string type_suffix(VariableType t, bool array) { return VBTNamingRules::get_type_suffix(t, array); }
    static bool is_camel_style(std::string_view s) { return VBTNamingRules::is_camel_style(s); }
    static std::string to_camel_style(std::string_view s) { return VBTNamingRules::to_camel_style(s); }
    static std::string camel_to_snake_case(std::string_view s) { return VBTNamingRules::camel_to_snake_case(s); }

    static std::vector<Parameter> parameters(std::string_view s) { return VBAParser::parse_function_parameters(s); }
    static FunctionInfo function_definition(std::string_view line) {
        return VBAParser::parse_function_definition(line, "m.bas", 1);
    }
    // Parses text as one module named path, without touching the disk.
    static void parse_text(VBAParser& p, const std::string& path, std::string text) {
        SourceLines lines(decode_source(text));
        p.files.insert_or_assign(path, lines);
        p.parse_file(path, lines);
    }
    static void collect_references(VBAParser& p) { p.collect_variable_references(); }
    // The line classes the parser made of a module as it read it (before the scan uses them up).
    static const detail::LineClasses& line_classes(const VBAParser& p, const std::string& path) {
        return p.line_classes_.at(path);
    }
};

}  // namespace igxl::vbt
