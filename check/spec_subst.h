// Spec variable substitution without driver state: the global, AC or DC maps are passed in, so
// the check and the revision diff resolve expressions by one rule, within one set of bounds.
#pragma once
#include <cstddef>
#include <string>
#include <unordered_map>

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

// A substitution that passed its bounds of text length or nesting depth; the message names the
// variable.
class SpecExpansionBoundError : public Error {
public:
    using Error::Error;
};

// A hand-edited sheet may define each variable twice over the one before, which doubles the
// text at every step; these bounds turn that into an error naming the variable, not a hang.
inline constexpr std::size_t kMaxSpecExpansion = 100000;  // characters of one substituted text
inline constexpr std::size_t kMaxSpecDepth = 64;          // variables resolved inside one another

// Variables already substituted, by category, selector and variable, for one set of maps (the
// globals, one spec map and its version). Whoever keeps it clears it when those maps change.
class SpecVariableMemo {
public:
    const std::string* find(const std::string& category, const std::string& selector,
                            const std::string& key) const;
    void store(const std::string& category, const std::string& selector, const std::string& key,
               std::string value);
    void clear() { values_.clear(); }
    std::size_t size() const { return values_.size(); }

private:
    static std::string memo_key(const std::string& category, const std::string& selector,
                                const std::string& key);
    std::unordered_map<std::string, std::string> values_;
};

// Replaces every spec variable (a part holding '_') of target with its value: the global map
// first, then spec_dict at category and selector (3.0 sheets: the symbol's "SELECTORS <sel>"
// column names the value column; other versions: its "SELECTOR VAL" column). Values are
// substituted in turn, each variable once per (category, selector) and reused from memo (a memo
// of this call alone when none is given); "=" is dropped. Throws Error for an unknown variable,
// a missing column and a variable that refers to itself; MissingSelectorError for a missing 3.0
// selector column; SpecExpansionBoundError when a text grows past kMaxSpecExpansion characters
// or variables nest deeper than kMaxSpecDepth.
std::string substitute_spec_variables(const std::string& target, const GlobalSpecMap& globals,
                                      const SpecMap& spec_dict, const std::string& spec_version,
                                      const std::string& category_name,
                                      const std::string& selector_name,
                                      SpecVariableMemo* memo = nullptr);

}  // namespace igxl
