// Spec variable substitution in period, clock and level expressions, and unit text.
#include <algorithm>
#include <unordered_map>

#include "check/arith.h"
#include "check/spec_subst.h"
#include "check/units.h"
#include "check/vantor.h"
#include "export/common.h"
#include "util/error.h"
#include "util/text.h"

namespace igxl {

namespace {

// A hand-edited sheet may define each variable twice over the one before, which doubles the
// text at every step; these bounds turn that into an error naming the variable, not a hang.
constexpr size_t kMaxExpansion = 100000;  // characters of one substituted text
constexpr size_t kMaxDepth = 64;          // variables resolved inside one another

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
    return "spec variable '" + name + "' expands to more than " + std::to_string(kMaxExpansion) +
           " characters";
}

}  // namespace

std::optional<std::string> Vantor::add_unit(double val) const { return ::igxl::add_unit(val); }

struct Vantor::SpecResolution {
    std::vector<std::string> chain;  // keys of the variables being resolved, outermost first
    // Variables already resolved in this substitution, for a spec map the driver keeps no
    // memo of (the job's AC and DC maps share the driver's memo across substitutions).
    std::unordered_map<std::string, std::string> resolved;
};

void Vantor::fail_spec_bound(const std::string& message) {
    // A period or clock cell shows only that its expression failed; the log says why.
    diag::Event e;
    e.severity = diag::Severity::error;
    e.code = "check.spec-expansion-bound";
    e.text = "Error: " + message;
    if (log_capture_) log_capture_->push_back(e);
    report(std::move(e));
    throw Error(message);
}

std::string Vantor::spec_calculation(const std::string& target, const SpecMap& spec_dict,
                                     const std::string& category_name,
                                     const std::string& selector_name) {
    SpecResolution resolution;
    return spec_calculation(target, spec_dict, category_name, selector_name, resolution);
}

std::string Vantor::resolve_spec_variable(const std::string& name, const std::string& key,
                                          const SpecMap& spec_dict,
                                          const std::string& category_name,
                                          const std::string& selector_name,
                                          SpecResolution& resolution) {
    const char tag = &spec_dict == &dc_spec_dict ? 'D' : &spec_dict == &ac_spec_dict ? 'A' : 0;
    std::string memo_key;
    if (tag) {
        // Kept beside the whole-expression entries, so it is cleared with them when the spec
        // maps are re-read; the leading separator keeps the two kinds of key apart.
        memo_key.append(1, '\x1e').append(1, tag).append(1, '\x1f').append(category_name)
            .append(1, '\x1f').append(selector_name).append(1, '\x1f').append(key);
        auto found = subst_memo_.find(memo_key);
        if (found != subst_memo_.end()) return found->second.text;
    } else {
        auto found = resolution.resolved.find(key);
        if (found != resolution.resolved.end()) return found->second;
    }

    std::string value;
    auto glob = glob_spec_dict.find(key);
    if (glob != glob_spec_dict.end()) {
        value = glob->second;
    } else {
        auto sym = spec_dict.find(key);
        if (sym == spec_dict.end())
            throw Error("spec variable '" + name + "' is in no global, AC or DC spec sheet");
        std::string selector_value;
        if (spec_version == "3.0") {
            auto sel = sym->second.find("SELECTORS " + util::to_upper(selector_name));
            if (sel == sym->second.end()) {
                diag::Event e;
                e.severity = diag::Severity::error;
                e.code = "check.spec-selector-missing";
                e.text = "Error: Can not Halvard variable: " + name;
                e.where.item = name;
                if (log_capture_) log_capture_->push_back(e);
                report(std::move(e));
                throw Error("spec variable '" + name + "' has no selector column '" +
                            selector_name + "'");
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

    auto& chain = resolution.chain;
    if (std::find(chain.begin(), chain.end(), key) != chain.end()) {
        std::string path;
        for (const auto& r : chain) path += r + " -> ";
        throw Error("spec variable '" + name + "' refers to itself (" + path + key + ")");
    }
    if (chain.size() >= kMaxDepth)
        fail_spec_bound("spec variable '" + name + "' is nested more than " +
                        std::to_string(kMaxDepth) + " variables deep");
    if (value.size() > kMaxExpansion) fail_spec_bound(too_long(name));
    chain.push_back(key);
    value = spec_calculation(value, spec_dict, category_name, selector_name, resolution);
    chain.pop_back();

    if (tag) {
        SubstMemo memo;
        memo.ok = true;
        memo.text = value;
        subst_memo_.emplace(std::move(memo_key), std::move(memo));
    } else {
        resolution.resolved.emplace(key, value);
    }
    return value;
}

std::string Vantor::spec_calculation(const std::string& target, const SpecMap& spec_dict,
                                     const std::string& category_name,
                                     const std::string& selector_name,
                                     SpecResolution& resolution) {
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
        const std::string value =
            resolve_spec_variable(name, key, spec_dict, category_name, selector_name, resolution);

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
        if (text.size() > kMaxExpansion)
            fail_spec_bound(too_long(resolution.chain.empty() ? name : resolution.chain.back()));
    }
    return text;
}

Vantor::SubstMemo* Vantor::subst_memo_entry(const std::string& target, const SpecMap& spec_dict,
                                            const std::string& category,
                                            const std::string& selector) {
    const char tag = &spec_dict == &dc_spec_dict ? 'D' : &spec_dict == &ac_spec_dict ? 'A' : 0;
    if (!tag) return nullptr;
    std::string& key = memo_key_;
    key.clear();
    key.append(1, tag).append(1, '\x1f').append(target).append(1, '\x1f').append(category)
        .append(1, '\x1f').append(selector);
    auto found = subst_memo_.find(key);
    if (found == subst_memo_.end()) {
        SubstMemo memo;
        log_capture_ = &memo.logs;
        try {
            memo.text = spec_calculation(target, spec_dict, category, selector);
            memo.ok = true;
        } catch (const std::exception& e) {
            memo.text = e.what();
        }
        log_capture_ = nullptr;
        found = subst_memo_.emplace(key, std::move(memo)).first;
    } else {
        for (const auto& e : found->second.logs) report(e);
    }
    return &found.value();
}

std::string Vantor::cached_spec_calculation(const std::string& target, const SpecMap& spec_dict,
                                            const std::string& category,
                                            const std::string& selector) {
    SubstMemo* memo = subst_memo_entry(target, spec_dict, category, selector);
    if (!memo) return spec_calculation(target, spec_dict, category, selector);
    if (!memo->ok) throw Error(memo->text);
    return memo->text;
}

Vantor::ValueMemo& Vantor::value_memo_entry(const std::string& text) {
    auto found = value_memo_.find(text);
    if (found == value_memo_.end()) {
        ValueMemo memo;
        try {
            memo.value = evaluate_expression(format_str(text));
            memo.ok = true;
        } catch (const std::exception& e) {
            memo.message = e.what();
        }
        found = value_memo_.emplace(text, std::move(memo)).first;
    }
    return found.value();
}

double Vantor::cached_evaluate(const std::string& text) {
    const ValueMemo& memo = value_memo_entry(text);
    if (!memo.ok) throw Error(memo.message);
    return memo.value;
}

const std::optional<std::string>& Vantor::cached_unit_text(const std::string& text) {
    ValueMemo& memo = value_memo_entry(text);
    if (!memo.ok) throw Error(memo.message);
    if (!memo.unit_done) {
        memo.unit = add_unit(memo.value);
        memo.unit_done = true;
    }
    return memo.unit;
}

double Vantor::evaluate_spec_expression(const std::string& expr, const SpecMap& spec_dict,
                                        const std::string& category,
                                        const std::string& selector) {
    SubstMemo* memo = subst_memo_entry(expr, spec_dict, category, selector);
    if (!memo) return cached_evaluate(spec_calculation(expr, spec_dict, category, selector));
    if (!memo->ok) throw Error(memo->text);
    if (!memo->evaluated) {
        try {
            memo->value = cached_evaluate(memo->text);
            memo->value_ok = true;
        } catch (const std::exception& e) {
            memo->value_message = e.what();
        }
        memo->evaluated = true;
    }
    if (!memo->value_ok) throw Error(memo->value_message);
    return memo->value;
}

}  // namespace igxl
