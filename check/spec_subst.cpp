// Spec variable substitution shared by the check and the revision diff.
#include "check/spec_subst.h"

#include <algorithm>
#include <optional>
#include <vector>

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

std::string too_long(const std::string& name) {
    return "spec variable '" + name + "' expands to more than " + std::to_string(kMaxSpecExpansion) +
           " characters";
}

// One substitution in progress: the maps it reads, the chain of variables being resolved
// (outermost first, for cycles and depth) and where resolved variables are kept.
class Substitution {
public:
    Substitution(const GlobalSpecMap& globals, const SpecMap& spec_dict, const std::string& version,
                 const std::string& category, const std::string& selector, SpecVariableMemo& memo)
        : globals_(globals), spec_dict_(spec_dict), version_(version), category_(category),
          selector_(selector), memo_(memo) {}

    std::string expand(const std::string& target);

private:
    std::string resolve(const std::string& name, const std::string& key);
    std::string lookup(const std::string& name, const std::string& key) const;

    const GlobalSpecMap& globals_;
    const SpecMap& spec_dict_;
    const std::string& version_;
    const std::string& category_;
    const std::string& selector_;
    SpecVariableMemo& memo_;
    std::vector<std::string> chain_;
};

// The variable's text as written in the maps, not yet substituted.
std::string Substitution::lookup(const std::string& name, const std::string& key) const {
    auto glob = globals_.find(key);
    if (glob != globals_.end()) return glob->second;
    auto sym = spec_dict_.find(key);
    if (sym == spec_dict_.end())
        throw Error("spec variable '" + name + "' is in no global, AC or DC spec sheet");
    const SpecSymbolMap& columns = sym->second;
    std::optional<std::string_view> selector_value;
    if (version_ == "3.0") {
        selector_value = columns.find("SELECTORS " + util::to_upper(selector_));
        if (!selector_value)
            throw MissingSelectorError(
                "spec variable '" + name + "' has no selector column '" + selector_ + "'", name);
    } else {
        selector_value = columns.find("SELECTOR VAL");
        if (!selector_value) throw Error("spec variable '" + name + "' has no selector value");
    }
    std::string column = util::to_upper(category_);
    column.append(1, ' ').append(*selector_value);
    std::optional<std::string_view> value = columns.find(column);
    if (!value) throw Error("spec variable '" + name + "' has no value for '" + column + "'");
    return std::string(*value);
}

std::string Substitution::resolve(const std::string& name, const std::string& key) {
    if (const std::string* known = memo_.find(category_, selector_, key)) return *known;
    std::string value = lookup(name, key);
    if (std::find(chain_.begin(), chain_.end(), key) != chain_.end()) {
        std::string path;
        for (const auto& r : chain_) path += r + " -> ";
        throw Error("spec variable '" + name + "' refers to itself (" + path + key + ")");
    }
    if (chain_.size() >= kMaxSpecDepth)
        throw SpecExpansionBoundError("spec variable '" + name + "' is nested more than " +
                                      std::to_string(kMaxSpecDepth) + " variables deep");
    if (value.size() > kMaxSpecExpansion) throw SpecExpansionBoundError(too_long(name));
    chain_.push_back(key);
    value = expand(value);
    chain_.pop_back();
    memo_.store(category_, selector_, key, value);
    return value;
}

std::string Substitution::expand(const std::string& target) {
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
        const std::string value = resolve(name, key);

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
        // Names the variable whose own text grew too long (the expression's last variable when
        // the expression is a sheet cell's).
        if (text.size() > kMaxSpecExpansion)
            throw SpecExpansionBoundError(too_long(chain_.empty() ? name : chain_.back()));
    }
    return text;
}

}  // namespace

std::string SpecVariableMemo::memo_key(const std::string& category, const std::string& selector,
                                       const std::string& key) {
    std::string k;
    k.reserve(category.size() + selector.size() + key.size() + 2);
    k.append(category).append(1, '\x1f').append(selector).append(1, '\x1f').append(key);
    return k;
}

const std::string* SpecVariableMemo::find(const std::string& category, const std::string& selector,
                                          const std::string& key) const {
    auto found = values_.find(memo_key(category, selector, key));
    return found == values_.end() ? nullptr : &found->second;
}

void SpecVariableMemo::store(const std::string& category, const std::string& selector,
                             const std::string& key, std::string value) {
    values_.insert_or_assign(memo_key(category, selector, key), std::move(value));
}

std::string substitute_spec_variables(const std::string& target, const GlobalSpecMap& globals,
                                      const SpecMap& spec_dict, const std::string& spec_version,
                                      const std::string& category_name,
                                      const std::string& selector_name, SpecVariableMemo* memo) {
    SpecVariableMemo own;
    Substitution s(globals, spec_dict, spec_version, category_name, selector_name,
                   memo ? *memo : own);
    return s.expand(target);
}

}  // namespace igxl
