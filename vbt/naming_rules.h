// The VBT naming rules: scope prefixes, type suffixes, PascalCase bodies, upper-case constants
// and parameter direction prefixes. Stateless; every rule gives (suggested name, issue text),
// the issue absent when the name conforms.
#pragma once
#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "vbt/model.h"

namespace igxl::vbt {

using RuleResult = std::pair<std::string, std::optional<std::string>>;

class VBTNamingRules {
public:
    // Lower-case names kept for loop counters and the site variable.
    static constexpr std::array<std::string_view, 6> RESERVED_VARS = {"i", "j", "k", "m", "n", "site"};

    struct ScopePrefix {
        VariableScope scope;
        std::string_view prefix;
    };
    // Table order matters: wrong prefixes are looked for in this order.
    static constexpr std::array<ScopePrefix, 6> SCOPE_PREFIXES = {{
        {VariableScope::LOCAL, "i_"},
        {VariableScope::MODULE_PRIVATE, "m_"},
        {VariableScope::GLOBAL, "g_"},
        {VariableScope::CLASS_PRIVATE, "i_"},
        {VariableScope::CLASS_PUBLIC, "m_"},
        {VariableScope::CLASS_EXTERNAL, "v_"},
    }};

    struct TypeSuffix {
        VariableType type;
        std::string_view scalar;
        std::string_view array;  // empty: arrays take the scalar suffix
    };
    // Table order matters: suffixes are stripped entry by entry in this order.
    static constexpr std::array<TypeSuffix, 17> TYPE_SUFFIXES = {{
        {VariableType::INTEGER, "_int", "_aint"},
        {VariableType::LONG, "_lng", "_alng"},
        {VariableType::SINGLE, "_sgl", "_asgl"},
        {VariableType::DOUBLE, "_dbl", "_adbl"},
        {VariableType::STRING, "_str", "_astr"},
        {VariableType::BOOLEAN, "_bool", "_abool"},
        {VariableType::VARIANT, "_var", ""},
        {VariableType::SITELONG, "_SLNG", "_aSLNG"},
        {VariableType::SITEDOUBLE, "_SDBL", "_aSDBL"},
        {VariableType::SITEBOOLEAN, "_SBOOL", "_aSBOOL"},
        {VariableType::DSPWAVE, "_DSP", ""},
        {VariableType::ENUM, "_enum", ""},
        {VariableType::TYPE, "_type", ""},
        {VariableType::PINDATA, "_PD", ""},
        {VariableType::PINLISTDATA, "_PLD", ""},
        {VariableType::CSL, "_CSL", ""},
        {VariableType::PATTERN, "_PT", ""},
    }};

    // param_type is accepted for symmetry with the header and not used.
    static RuleResult check_function_parameter(std::string_view param_name, std::string_view param_type,
                                               std::string_view byval_byref, FunctionType func_type);
    static RuleResult get_correct_variable_name(const VariableInfo& var_info);

    // The scope's prefix, empty for a scope without one.
    static std::string_view scope_prefix(VariableScope scope);

private:
    friend struct TestAccess;
    static RuleResult get_correct_constant_name(const VariableInfo& var_info);
    static std::string get_type_suffix(VariableType var_type, bool is_array);
    static bool is_camel_style(std::string_view name);
    static std::string to_camel_style(std::string_view name);
    static std::string camel_to_snake_case(std::string_view camel_str);
};

}  // namespace igxl::vbt
