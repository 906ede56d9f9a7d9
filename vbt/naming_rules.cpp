#include "vbt/naming_rules.h"

#include "util/regex.h"

namespace igxl::vbt {

namespace {

// Character classes of the rules. VBT identifiers are ASCII; a byte of a non-ASCII character
// counts as a letter that has no case, so such names pass the letter test but never the case tests.
bool is_upper_char(char c) { return c >= 'A' && c <= 'Z'; }
bool is_lower_char(char c) { return c >= 'a' && c <= 'z'; }
bool is_digit_char(char c) { return c >= '0' && c <= '9'; }
bool is_alnum_char(char c) {
    return is_upper_char(c) || is_lower_char(c) || is_digit_char(c) || static_cast<unsigned char>(c) >= 0x80;
}

// At least one cased letter and no lower-case one ("A_1" yes, "123" no).
bool is_upper_text(std::string_view s) {
    bool cased = false;
    for (char c : s) {
        if (is_lower_char(c)) return false;
        if (is_upper_char(c)) cased = true;
    }
    return cased;
}

std::string upper(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (is_lower_char(c)) c = static_cast<char>(c - 32);
    return out;
}

std::string lower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (is_upper_char(c)) c = static_cast<char>(c + 32);
    return out;
}

std::string capitalize(std::string_view s) {
    std::string out = lower(s);
    if (!out.empty() && is_lower_char(out[0])) out[0] = static_cast<char>(out[0] - 32);
    return out;
}

// Drop at most one suffix per TYPE_SUFFIXES entry, entries in table order.
std::string strip_type_suffixes(std::string base) {
    for (const auto& entry : VBTNamingRules::TYPE_SUFFIXES) {
        for (std::string_view suffix : {entry.scalar, entry.array}) {
            if (suffix.empty()) continue;
            if (base.ends_with(suffix)) {
                base.resize(base.size() - suffix.size());
                break;
            }
        }
    }
    return base;
}

// Remove the first scope prefix (table order) that the name starts with.
std::string strip_first_scope_prefix(std::string_view name) {
    for (const auto& entry : VBTNamingRules::SCOPE_PREFIXES)
        if (name.starts_with(entry.prefix)) return std::string(name.substr(entry.prefix.size()));
    return std::string(name);
}

// "_" at each word boundary of a camel-case name: before an upper-case letter that follows a
// lower-case letter or a digit, or that starts a word after an acronym (testLength -> test_Length,
// XMLParser -> XML_Parser, gOther -> g_Other). Existing separators are kept and never doubled.
std::string split_words(std::string_view s) {
    std::string out;
    out.reserve(s.size() + s.size() / 2);
    for (size_t i = 0; i < s.size(); ++i) {
        const char c = s[i];
        if (is_upper_char(c) && i > 0 && s[i - 1] != '_' &&
            (is_lower_char(s[i - 1]) || is_digit_char(s[i - 1]) ||
             (is_upper_char(s[i - 1]) && i + 1 < s.size() && is_lower_char(s[i + 1]))))
            out += '_';
        out += c;
    }
    return out;
}

bool is_constant_body(std::string_view s) {
    static const util::Regex body("^[A-Z0-9_]+$");
    return is_upper_text(s) && body.match(s);
}

}  // namespace

std::string_view VBTNamingRules::scope_prefix(VariableScope scope) {
    for (const auto& entry : SCOPE_PREFIXES)
        if (entry.scope == scope) return entry.prefix;
    return "";
}

std::string VBTNamingRules::get_type_suffix(VariableType var_type, bool is_array) {
    for (const auto& entry : TYPE_SUFFIXES) {
        if (entry.type != var_type) continue;
        return std::string(is_array && !entry.array.empty() ? entry.array : entry.scalar);
    }
    return "";
}

bool VBTNamingRules::is_camel_style(std::string_view name) {
    if (name.empty() || !is_upper_char(name[0])) return false;
    bool any = false;
    for (char c : name) {
        if (c == '_') continue;
        if (!is_alnum_char(c)) return false;
        any = true;
    }
    return any;
}

std::string VBTNamingRules::to_camel_style(std::string_view name) {
    if (name.empty()) return "";
    static const util::Regex separator("[^a-zA-Z0-9]");
    static const util::Regex separators("[^a-zA-Z0-9]+");
    // Words keep their boundaries: my_varName and myVarName both give MyVarName.
    if (separator.search(name) || !is_upper_char(name[0])) {
        std::string out;
        for (const std::string& piece : separators.split(split_words(name)))
            if (!piece.empty()) out += capitalize(piece);
        return out;
    }
    return std::string(name);
}

std::string VBTNamingRules::camel_to_snake_case(std::string_view s) {
    std::string out;
    out.reserve(s.size() + s.size() / 2);
    for (size_t i = 0; i < s.size(); ++i) {
        char c = s[i];
        if (is_upper_char(c) && i > 0 &&
            (is_lower_char(s[i - 1]) || is_digit_char(s[i - 1]) ||
             (i + 1 < s.size() && is_lower_char(s[i + 1]))))
            out += '_';
        out += c;
    }
    return out;
}

RuleResult VBTNamingRules::check_function_parameter(std::string_view param_name, std::string_view,
                                                    std::string_view byval_byref, FunctionType func_type) {
    const std::string n(param_name);
    static constexpr std::array<std::string_view, 3> directions = {"in_", "out_", "inout_"};
    if (func_type == FunctionType::VBT) {
        for (std::string_view dir : directions) {
            if (!n.starts_with(dir)) continue;
            std::string c = to_camel_style(std::string_view(n).substr(dir.size()));
            return {c, "VBT函数参数 '" + n + "' 不应有前缀，应为PascalCase格式：'" + c + "'"};
        }
        if (is_camel_style(n)) return {n, std::nullopt};
        std::string c = to_camel_style(n);
        return {c, "VBT函数参数 '" + n + "' 应为PascalCase格式：'" + c + "'"};
    }
    if (func_type == FunctionType::DSP || func_type == FunctionType::OTHER) {
        if (byval_byref.empty()) return {n, "DSP/非VBT函数参数 '" + n + "' 必须指定ByVal或ByRef"};
        for (std::string_view dir : directions) {
            if (!n.starts_with(dir)) continue;
            std::string_view base = std::string_view(n).substr(dir.size());
            if (is_camel_style(base)) return {n, std::nullopt};
            std::string c = std::string(dir) + to_camel_style(base);
            if (c == n) return {n, std::nullopt};
            return {c, "DSP/非VBT函数参数 '" + n + "' 的基础名称应为PascalCase格式：'" + c + "'"};
        }
        // The suggestion always takes "in_": the pass mode says nothing about the direction.
        std::string c = "in_" + to_camel_style(n);
        return {c, "DSP/非VBT函数参数 '" + n + "' 应有in_/out_/inout_前缀，建议：'" + c + "'"};
    }
    return {n, std::nullopt};
}

RuleResult VBTNamingRules::get_correct_variable_name(const VariableInfo& v) {
    const std::string& n = v.name;
    if (v.is_const) return get_correct_constant_name(v);

    const std::string lowered = lower(n);
    for (std::string_view reserved : RESERVED_VARS) {
        if (lowered != reserved) continue;
        if (v.scope == VariableScope::LOCAL) {
            if (lowered != "site" && v.var_type != VariableType::LONG)
                return {n, "预留变量名 '" + n + "' 必须为 Long 类型"};
            if (lowered == "site" && v.var_type != VariableType::VARIANT)
                return {n, "预留变量名 '" + n + "' 必须为 Variant 类型"};
            return {n, std::nullopt};
        }
        std::string c = "g_" + n + get_type_suffix(v.var_type, v.is_array);
        return {c, "预留变量名 '" + n + "' 不能在 " + std::string(to_text(v.scope)) + " 作用域使用"};
    }

    if (v.var_type == VariableType::USERCLASS || v.var_type == VariableType::PINLIST) {
        const std::string type_text(to_text(v.var_type));
        if (v.scope == VariableScope::LOCAL) {
            std::string base = n.starts_with("i_") ? n.substr(2) : n;
            std::string camel = is_camel_style(base) ? base : to_camel_style(base);
            if (n == "i_" + camel || n == camel) return {n, std::nullopt};
            return {camel, type_text + " 类型变量名 '" + n + "' 应为 PascalCaseStyle 格式"};
        }
        const std::string p(scope_prefix(v.scope));
        if (n.starts_with(p)) return {n, std::nullopt};
        // A wrong scope prefix is replaced, not kept behind the right one.
        return {p + strip_first_scope_prefix(n), type_text + " 类型变量需要作用域前缀 '" + p + "'"};
    }

    const std::string s = get_type_suffix(v.var_type, v.is_array);
    if (v.scope == VariableScope::LOCAL) {
        auto base_of = [](const std::string& name) {
            return strip_type_suffixes(name.starts_with("i_") ? name.substr(2) : name);
        };
        std::string base = base_of(n);
        // A prefix or suffix may hide behind a word boundary (iCount): look again at the words.
        std::string camel = is_camel_style(base) ? base : to_camel_style(base_of(split_words(n)));
        std::string without = camel + s;
        std::string with = "i_" + camel + s;
        if (n == with || n == without) return {n, std::nullopt};
        return {without, "变量命名不符合规范，建议使用 '" + without + "' 或 '" + with + "'"};
    }
    const std::string p(scope_prefix(v.scope));
    std::string base = strip_type_suffixes(strip_first_scope_prefix(n));
    std::string camel =
        is_camel_style(base) ? base : to_camel_style(strip_type_suffixes(strip_first_scope_prefix(split_words(n))));
    std::string c = p + camel + s;
    if (n != c) return {c, "变量命名不符合规范，应为 '" + c + "'"};
    return {n, std::nullopt};
}

RuleResult VBTNamingRules::get_correct_constant_name(const VariableInfo& v) {
    const std::string& n = v.name;
    const std::string p(scope_prefix(v.scope));
    const std::string s = get_type_suffix(v.var_type, v.is_array);
    // Upper case with underscores is how constants are commonly written; asking for upper case
    // there would contradict the name itself.
    if (is_constant_body(n)) return {n, std::nullopt};
    if (n.starts_with(p)) {
        std::string_view w = std::string_view(n).substr(p.size());
        if (!s.empty() && w.ends_with(s)) {
            if (is_constant_body(w.substr(0, w.size() - s.size()))) return {n, std::nullopt};
        } else if (s.empty()) {
            if (is_constant_body(w)) return {n, std::nullopt};
        } else {
            // Right prefix, wrong or missing suffix: keep the body, only upper-cased.
            std::string c = p + upper(split_words(w)) + s;
            return {c, "常量名 '" + n + "' 应使用全大写和下划线格式，建议改为：'" + c + "'"};
        }
    }
    std::string base = strip_type_suffixes(strip_first_scope_prefix(split_words(n)));
    std::string c = p + upper(split_words(to_camel_style(base))) + s;
    if (c == n) return {n, std::nullopt};  // nothing to change (m_123_lng): no message to contradict it
    return {c, "常量名 '" + n + "' 应使用下划线全大写格式，建议改为：'" + c + "'"};
}

}  // namespace igxl::vbt
