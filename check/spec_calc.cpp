// Spec variable substitution in period, clock and level expressions, and unit text.

#include "check/arith.h"
#include "check/job_walk.h"
#include "check/spec_subst.h"
#include "check/units.h"
#include "check/vantor.h"
#include "export/common.h"
#include "util/error.h"

namespace igxl {

std::optional<std::string> Vantor::add_unit(double val) const { return ::igxl::add_unit(val); }

std::string JobWalk::spec_calculation(const std::string& target, const SpecMap& spec_dict,
                                     const std::string& category_name,
                                     const std::string& selector_name) {
    SpecVariableMemo* memo = &spec_dict == &dc_spec_dict   ? &dc_variable_memo_
                             : &spec_dict == &ac_spec_dict ? &ac_variable_memo_
                                                           : nullptr;
    try {
        return substitute_spec_variables(target, glob_spec_dict, spec_dict, spec_version,
                                         category_name, selector_name, memo);
    } catch (const MissingSelectorError& failure) {
        diag::Event e;
        e.severity = diag::Severity::error;
        e.code = "check.spec-selector-missing";
        e.text = "Error: Can not Halvard variable: " + failure.variable();
        e.where.item = failure.variable();
        if (log_capture_) log_capture_->push_back(e);
        report(std::move(e));
        throw;
    } catch (const SpecExpansionBoundError& failure) {
        // A period or clock cell shows only that its expression failed; the log says why.
        diag::Event e;
        e.severity = diag::Severity::error;
        e.code = "check.spec-expansion-bound";
        e.text = std::string("Error: ") + failure.what();
        if (log_capture_) log_capture_->push_back(e);
        report(std::move(e));
        throw;
    }
}

JobWalk::SubstMemo* JobWalk::subst_memo_entry(const std::string& target, const SpecMap& spec_dict,
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

std::string JobWalk::cached_spec_calculation(const std::string& target, const SpecMap& spec_dict,
                                            const std::string& category,
                                            const std::string& selector) {
    SubstMemo* memo = subst_memo_entry(target, spec_dict, category, selector);
    if (!memo) return spec_calculation(target, spec_dict, category, selector);
    if (!memo->ok) throw Error(memo->text);
    return memo->text;
}

JobWalk::ValueMemo& JobWalk::value_memo_entry(const std::string& text) {
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

double JobWalk::cached_evaluate(const std::string& text) {
    const ValueMemo& memo = value_memo_entry(text);
    if (!memo.ok) throw Error(memo.message);
    return memo.value;
}

const std::optional<std::string>& JobWalk::cached_unit_text(const std::string& text) {
    ValueMemo& memo = value_memo_entry(text);
    if (!memo.ok) throw Error(memo.message);
    if (!memo.unit_done) {
        memo.unit = ::igxl::add_unit(memo.value);
        memo.unit_done = true;
    }
    return memo.unit;
}

double JobWalk::evaluate_spec_expression(const std::string& expr, const SpecMap& spec_dict,
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
