// Spec variable substitution without driver state: the global, AC or DC maps are passed in, so
// the check and the revision diff resolve expressions by one rule.
#pragma once
#include <string>
#include <vector>

#include "parsers/spec_sheets.h"
#include "util/error.h"

namespace igxl {

// A 3.0 spec symbol without a column for the selector asked for.
class MissingSelectorError : public Error {
public:
    MissingSelectorError(const std::string& message, std::string variable)
        : Error(message), variable_(std::move(variable)) {}
    // The variable as written in the expression (without its '_').
    const std::string& variable() const { return variable_; }

private:
    std::string variable_;
};

// Replaces every spec variable (a part holding '_') of target with its value: the global map
// first, then spec_dict at category and selector (3.0 sheets: the symbol's "SELECTORS <sel>"
// column names the value column; other versions: its "SELECTOR VAL" column). Values are
// substituted in turn; "=" is dropped. Throws Error for an unknown variable, a missing column
// and a variable that refers to itself; MissingSelectorError for a missing 3.0 selector column.
std::string substitute_spec_variables(const std::string& target, const GlobalSpecMap& globals,
                                      const SpecMap& spec_dict, const std::string& spec_version,
                                      const std::string& category_name,
                                      const std::string& selector_name,
                                      std::vector<std::string>& resolving);

}  // namespace igxl
