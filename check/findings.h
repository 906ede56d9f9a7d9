// Findings: what is wrong with a checked program, each with a rule code, a severity, where it
// stands and a one-line message. They come from the check's events and from the sheets the walk
// read; the rules themselves are one table (finding_rules()), so adding a rule adds a row there and the
// code that notices it, never a text in the walk.
#pragma once
#include <array>
#include <cstddef>
#include <memory>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include <tsl/ordered_map.h>

#include "check/options.h"
#include "parsers/flow_table.h"
#include "parsers/test_instances.h"
#include "util/diagnostics.h"

namespace igxl {

struct FindingRule {
    std::string_view code;       // stable: baselines and CI jobs refer to it
    diag::Severity severity;     // error, warning or info
    std::string_view event;      // the check event it comes from, or empty when read from sheets
    std::string_view message;    // with {item}, {value}, {other} and {text} to fill in
    std::string_view summary;    // what the rule looks for
};

// The rules, in the order counts and rule lists show them.
std::span<const FindingRule> finding_rules();
// The rule of a code, or null.
const FindingRule* finding_rule(std::string_view code);

struct Finding {
    std::string rule;
    diag::Severity severity = diag::Severity::info;
    std::string message;
    std::string job;    // empty for findings about the program as a whole
    std::string file;   // the sheet text file (path as read)
    unsigned line = 0;  // 1-based line of that file (= row of the sheet); 0 when unknown
    std::string test;   // test, instance, pattern set, time set, pin... the thing named
    // The sheet's name: the file name without ".txt", "%20" read as a space.
    std::string sheet() const;
};

// "error", "warning", "info".
std::string_view severity_name(diag::Severity s);

struct FindingCounts {
    std::size_t error = 0, warning = 0, info = 0;
};

// The findings of one run after the baseline took out the accepted ones.
struct FindingsResult {
    std::vector<Finding> findings;  // ordered by severity, then job, sheet, line
    std::size_t suppressed = 0;     // how many the baseline took out
    FindingCounts counts() const;
    // Per rule code, in table order, the rules with at least one finding.
    std::vector<std::pair<std::string, std::size_t>> rule_counts() const;
    // True when a finding at or above the threshold remains.
    bool fails(FailOn threshold) const;
};

// Findings accepted before, read from a file written by --json: matched by rule, job, sheet and
// test, never by line (lines move as the program is edited).
class Baseline {
public:
    // Throws Error naming the file and what is wrong with it.
    static Baseline load(const std::string& path);
    bool accepts(const Finding& f) const;
    bool accepts(std::string_view rule, std::string_view job, std::string_view sheet, std::string_view test) const;
    bool empty() const { return keys_.empty(); }

private:
    std::set<std::array<std::string, 4>> keys_;
};

// Gathers what findings are made from while the check runs, then derives them. A program of
// 100,000 tests gives as many rows per job: what is kept of them is small (ids of names interned
// once, texts packed in blocks), and the rows themselves are never copied.
class FindingsCollector {
public:
    FindingsCollector();
    ~FindingsCollector();
    FindingsCollector(FindingsCollector&&) noexcept;
    FindingsCollector& operator=(FindingsCollector&&) noexcept;

    void clear();
    // Every event of the run; those a rule names become findings.
    void add_event(const diag::Event& event);
    // One walked job: its flow rows, the instances and pattern sets its sheets defined (file per
    // set) and the bin table sheet file the job names (empty when none).
    void add_job(const std::string& job, const FlowRowList& rows, const InstanceMap& instances,
                 const std::vector<std::pair<std::string, std::vector<std::string>>>& pattern_sets,
                 const std::string& bin_table_file);
    // Derives the findings across jobs (unused sheets among the files of sheet_folder), drops
    // repeats and those the baseline accepts.
    FindingsResult finish(const std::string& sheet_folder, const Baseline& baseline) const;

    struct State;  // what is kept, in findings.cpp

private:
    std::unique_ptr<State> s_;
};

// The bin table sheet a job names in its job list row (column J), or the empty text.
std::string job_bin_table(const std::string& job_list_path, const std::string& job);

// The machine-readable forms of a result. program_folder is where the sheet text files are (the
// SARIF locations are relative to it).
std::string findings_json(const FindingsResult& result, const CheckOptions& options,
                          const std::vector<std::string>& jobs, std::string_view version);
std::string findings_sarif(const FindingsResult& result, const CheckOptions& options,
                           const std::string& program_folder, std::string_view version);

// "--cycle-mode Period --pattern-path P ...": the options of a run as a command line would give
// them (the program, platform and jobs apart).
std::vector<std::pair<std::string, std::string>> option_settings(const CheckOptions& options);

}  // namespace igxl
