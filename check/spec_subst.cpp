// Spec variable substitution shared by the check and the revision diff.
#include "check/spec_subst.h"

#include <algorithm>

#include "util/text.h"

namespace igxl {

namespace {

bool is_operator(char c) {
    return c == '+' || c == '-' || c == '*' || c == '/' || c == '(' || c == ')';
}

// Replaces the first occurrence only (the first part of an expression is anchored at its start).
std::string replace_first(const std::string& s, const std::string& from, const std::string& to) {
    size_t p = s.find(from);
    if (p == std::string::npos) return s;
    return s.substr(0, p) + to + s.substr(p + from.size());
}

}  // namespace

std::string substitute_spec_variables(const std::string& target, const GlobalSpecMap& globals,
                                      const SpecMap& spec_dict, const std::string& spec_version,
                                      const std::string& category_name,
                                      const std::string& selector_name,
                                      std::vector<std::string>& resolving) {
    std::string text = util::replace_all(target, "=", "");

    std::vector<std::string> parts(1);
    std::vector<std::string> operators;
    for (char c : text) {
        if (is_operator(c)) {
            operators.emplace_back(1, c);
            parts.emplace_back();
        } else {
            parts.back() += c;
        }
    }

    for (size_t i = 0; i < parts.size(); ++i) {
        const std::string& part = parts[i];
        if (part.find('_') == std::string::npos) continue;
        std::string name = part;
        name.erase(name.find('_'), 1);
        name.erase(std::remove(name.begin(), name.end(), ' '), name.end());
        // The spec maps hold upper-case names; expressions may be written in any case.
        const std::string key = util::to_upper(name);

        std::string value;
        auto glob = globals.find(key);
        if (glob != globals.end()) {
            value = glob->second;
        } else {
            auto sym = spec_dict.find(key);
            if (sym == spec_dict.end())
                throw Error("spec variable '" + name + "' is in no global, AC or DC spec sheet");
            std::string selector_value;
            if (spec_version == "3.0") {
                auto sel = sym->second.find("SELECTORS " + util::to_upper(selector_name));
                if (sel == sym->second.end()) {
                    throw MissingSelectorError("spec variable '" + name +
                                                   "' has no selector column '" + selector_name +
                                                   "'",
                                               name);
                }
                selector_value = sel->second;
            } else {
                auto sel = sym->second.find("SELECTOR VAL");
                if (sel == sym->second.end())
                    throw Error("spec variable '" + name + "' has no selector value");
                selector_value = sel->second;
            }
            const std::string column = util::to_upper(category_name) + " " + selector_value;
            auto val = sym->second.find(column);
            if (val == sym->second.end())
                throw Error("spec variable '" + name + "' has no value for '" + column + "'");
            value = val->second;
        }

        if (std::find(resolving.begin(), resolving.end(), key) != resolving.end()) {
            std::string chain;
            for (const auto& r : resolving) chain += r + " -> ";
            throw Error("spec variable '" + name + "' refers to itself (" + chain + key + ")");
        }
        resolving.push_back(key);
        value = substitute_spec_variables(value, globals, spec_dict, spec_version, category_name,
                                          selector_name, resolving);
        resolving.pop_back();

        // Replace with the neighbouring operators as context, so that a variable name that is
        // also the tail of another part is not touched.
        if (operators.empty()) {
            text = util::replace_all(text, part, value);
        } else if (i == operators.size()) {
            text = util::replace_all(text, operators[i - 1] + part, operators[i - 1] + value);
        } else if (i == 0) {
            text = replace_first(text, part + operators[0], value + operators[0]);
        } else {
            text = util::replace_all(text, operators[i - 1] + part + operators[i],
                                     operators[i - 1] + value + operators[i]);
        }
    }
    return text;
}

}  // namespace igxl
