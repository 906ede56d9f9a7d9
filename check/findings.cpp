#include "check/findings.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "parsers/sheet_columns.h"
#include "util/error.h"
#include "util/lines.h"
#include "util/platform.h"
#include "util/regex.h"
#include "util/text.h"

namespace igxl {

namespace fs = std::filesystem;
using json = nlohmann::ordered_json;
using diag::Severity;

namespace {

constexpr FindingRule kRules[] = {
    // What the walk reports as it goes.
    {"run-failed", Severity::error, "check.run-failed-reason", "The check ended early: {value}",
     "the check could not finish; what it found up to there is listed"},
    {"instance-not-found", Severity::error, "check.instance-not-found",
     "Test instance {item} is not defined in the job's test-instance sheets",
     "a flow entry names an instance no test-instance sheet of the job defines"},
    {"instances-unreadable", Severity::error, "check.instances-unreadable",
     "Test-instance sheet cannot be read", "a test-instance sheet of the job cannot be read"},
    {"levels-sheet-not-found", Severity::error, "check.levels-sheet-not-found",
     "Pin levels sheet of {item} is not in the program: {value}",
     "an instance names a pin levels sheet the program lacks"},
    {"timeset-sheet-not-found", Severity::error, "check.timeset-sheet-not-found",
     "Time-set sheet of {item} is not in the program: {value}",
     "an instance names a time-set sheet the program lacks"},
    {"power-pin-not-in-levels", Severity::warning, "check.power-pin-not-in-levels",
     "Power pin {item} is not in the pin levels sheet",
     "a power pin of the power order file is missing from an instance's pin levels sheet"},
    {"spec-unresolved", Severity::error, "check.spec-unresolved",
     "Spec expression of {item} cannot be resolved: {value}",
     "a spec variable is in no spec sheet, or has no value for the category and selector"},
    {"entry-failed", Severity::error, "check.entry-failed",
     "Flow entry {item} could not be checked: {value}",
     "reading an entry's levels, time sets or patterns failed for another reason"},
    {"pattern-set-unreadable", Severity::error, "check.pattern-set-unreadable",
     "Pattern set sheet cannot be read", "a pattern set sheet of the job cannot be read"},
    {"pattern-unreadable", Severity::warning, "check.pattern-file-unreadable",
     "Pattern file {item} cannot be read", "a pattern file cannot be read for its time sets"},
    {"global-specs-unreadable", Severity::warning, "check.global-specs-unreadable",
     "The Global Specs sheet cannot be read", "the Global Specs sheet cannot be read"},
    {"tset-not-in-timing", Severity::warning, "check.tset-not-in-timing",
     "Time set {value} of pattern {item} is not in time-set sheet {other}",
     "a pattern's time set is not listed in the instance's time-set sheet"},
    {"no-sort-bin", Severity::warning, "flow.sort-bin-not-found",
     "Flow entry {item} has no sort bin on its row or a Use-Limit row",
     "a test row without both bins and no Use-Limit row to complete it"},
    // What the sheets read show.
    {"blank-argument", Severity::info, "", "Instance {item} leaves arguments blank: {value}",
     "arguments of an instance row are blank (often optional ones)"},
    {"duplicate-sort-bin", Severity::warning, "",
     "Sort bin {value} is given to more than one flow entry: {other}",
     "one sort bin describes several flow entries"},
    {"no-default-bin", Severity::error, "",
     "No default failing bin: the job's flow has no unconditional set-device row with a Fail result",
     "a device that fails no binned test is binned nowhere"},
    {"sort-bin-two-hard-bins", Severity::error, "", "Sort bin {value} is mapped to hard bins {other}",
     "one sort bin mapped to two hard bins"},
    {"bin-pass-and-fail", Severity::error, "", "{other} bin {value} is used with both pass and fail results",
     "a bin used for a passing and a failing result"},
    {"bin-two-names", Severity::warning, "", "Bin {value} has two names in the bin table: {other}",
     "one bin number with two names"},
    {"bin-not-in-table", Severity::error, "", "{other} bin {value} used in the flow is missing from the bin table",
     "a bin used in the flow that the job's bin table lacks"},
    {"duplicate-test-number", Severity::error, "", "Test number {value} is used twice in the job (also at {other})",
     "two tests or limits of a job share a test number"},
    {"duplicate-test", Severity::warning, "",
     "Test {item} runs twice in the flow under the same conditions (also at {other})",
     "the same test twice in a flow that is not a conditional re-test"},
    {"missing-test-number", Severity::warning, "",
     "Test {item} has no test number while most tests of the flow have one",
     "a test without a test number among numbered tests"},
    {"limit-low-above-high", Severity::error, "", "Low limit {value} of {item} is above its high limit {other}",
     "a low limit above the high limit"},
    {"limit-without-unit", Severity::warning, "",
     "Limit of {item} has no unit where its neighbours have {other}",
     "a limit without a unit between limits with units"},
    {"unused-instance", Severity::info, "", "Test instance {item} is run by no chosen job",
     "an instance no chosen job runs"},
    {"unused-pattern-set", Severity::info, "", "Pattern set {item} is used by no instance of a chosen job",
     "a pattern set no instance run by a chosen job names"},
    {"unused-timeset-sheet", Severity::info, "", "Time-set sheet {item} is named by no instance of a chosen job",
     "a time-set sheet no instance run by a chosen job names"},
    {"unused-levels-sheet", Severity::info, "", "Pin levels sheet {item} is named by no instance of a chosen job",
     "a pin levels sheet no instance run by a chosen job names"},
};

std::string fill(std::string_view templ, const std::string& item, const std::string& value,
                 const std::string& other, const std::string& text) {
    std::string out;
    for (size_t i = 0; i < templ.size(); ++i) {
        if (templ[i] == '{') {
            size_t close = templ.find('}', i);
            if (close != std::string_view::npos) {
                std::string_view key = templ.substr(i + 1, close - i - 1);
                const std::string* v = key == "item" ? &item : key == "value" ? &value
                                     : key == "other" ? &other : key == "text" ? &text : nullptr;
                if (v) {
                    out += *v;
                    i = close;
                    continue;
                }
            }
        }
        out.push_back(templ[i]);
    }
    return out;
}

std::string upper(std::string_view s) { return util::to_upper(util::strip(s)); }

// The name a sheet file stands for: "DC%20Specs.txt" -> "DC Specs".
std::string sheet_of(const std::string& file) {
    if (file.empty()) return {};
    std::string name = util::path_to_utf8(util::path_from_utf8(file).filename());
    if (name.size() > 4 && name.ends_with(".txt")) name.resize(name.size() - 4);
    return util::replace_all(name, "%20", " ");
}

std::string place(const FlowRow& r) { return sheet_of(r.file) + ":" + std::to_string(r.line); }

bool is_test_row(const FlowRow& r) { return r.Opcode != "Use-Limit" && !r.Opcode.starts_with("set-"); }
// A nop row stands in the flow but never runs (programs also use it as a banner line).
bool runs(const FlowRow& r) { return is_test_row(r) && r.Opcode != "nop"; }

enum class Outcome { none, pass, fail };
Outcome outcome(std::string_view result) {
    std::string r = upper(result);
    if (r.starts_with("PASS")) return Outcome::pass;
    if (r.starts_with("FAIL")) return Outcome::fail;
    return Outcome::none;
}

std::optional<double> number(std::string_view text) {
    text = util::strip(text);
    if (text.empty()) return std::nullopt;
    double v = 0;
    auto [p, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc() || p != text.data() + text.size()) return std::nullopt;
    return v;
}

// Each name's first row in column `col` of a sheet (after its title row), read in one pass.
std::unordered_map<std::string, unsigned> lines_by_name(const std::string& file, size_t col) {
    std::unordered_map<std::string, unsigned> lines;
    try {
        util::LineReader reader(file);
        std::string_view line;
        std::vector<std::string_view> fields;
        while (reader.next(line)) {
            if (reader.line_number() == 1) continue;
            util::split_into(line, '\t', fields);
            if (col < fields.size())
                lines.emplace(upper(fields[col]), static_cast<unsigned>(reader.line_number()));
        }
    } catch (const std::exception&) {
    }
    return lines;
}

// The sheet kind a text file's title row names ("Time Sets (Basic)", "Pin Levels"...).
std::string sheet_title(const std::string& file) {
    try {
        util::LineReader reader(file);
        std::string_view line;
        if (!reader.next(line)) return {};
        auto fields = util::split(line, '\t');
        return fields.size() > 1 ? std::string(util::strip(fields[1])) : std::string();
    } catch (const std::exception&) {
        return {};
    }
}

}  // namespace

std::span<const FindingRule> finding_rules() { return kRules; }

const FindingRule* finding_rule(std::string_view code) {
    for (const auto& r : kRules)
        if (r.code == code) return &r;
    return nullptr;
}

std::string Finding::sheet() const { return sheet_of(file); }

std::string_view severity_name(Severity s) {
    switch (s) {
        case Severity::error: return "error";
        case Severity::warning: return "warning";
        default: return "info";
    }
}

FindingCounts FindingsResult::counts() const {
    FindingCounts c;
    for (const auto& f : findings) {
        if (f.severity == Severity::error) ++c.error;
        else if (f.severity == Severity::warning) ++c.warning;
        else ++c.info;
    }
    return c;
}

std::vector<std::pair<std::string, std::size_t>> FindingsResult::rule_counts() const {
    std::vector<std::pair<std::string, std::size_t>> out;
    for (const auto& r : kRules) {
        size_t n = static_cast<size_t>(std::count_if(findings.begin(), findings.end(),
                                                     [&](const Finding& f) { return f.rule == r.code; }));
        if (n) out.emplace_back(std::string(r.code), n);
    }
    return out;
}

bool FindingsResult::fails(FailOn threshold) const {
    if (threshold == FailOn::Never) return false;
    const FindingCounts c = counts();
    return c.error > 0 || (threshold == FailOn::Warning && c.warning > 0);
}

// ---- baseline --------------------------------------------------------------------------------

Baseline Baseline::load(const std::string& path) {
    std::string text;
    try {
        util::LineReader reader(path);
        std::string_view line;
        while (reader.next(line)) {
            text.append(line);
            text.push_back('\n');
        }
    } catch (const FileNotFoundError&) {
        throw Error("baseline file not found: " + path);
    }
    json doc;
    try {
        doc = json::parse(text);
    } catch (const json::parse_error& e) {
        throw Error(path + ": not a JSON file written by --json (" + e.what() + ")");
    }
    if (!doc.is_object() || !doc.contains("findings") || !doc["findings"].is_array())
        throw Error(path + ": no \"findings\" list: expected a file written by --json");
    Baseline b;
    size_t index = 0;
    for (const auto& f : doc["findings"]) {
        ++index;
        if (!f.is_object() || !f.contains("rule") || !f["rule"].is_string())
            throw Error(path + ": finding " + std::to_string(index) + " has no \"rule\" text");
        auto text_of = [&](const char* key) {
            return f.contains(key) && f[key].is_string() ? f[key].get<std::string>() : std::string();
        };
        b.keys_.insert({text_of("rule"), text_of("job"), text_of("sheet"), text_of("test")});
    }
    return b;
}

bool Baseline::accepts(const Finding& f) const {
    return keys_.contains({f.rule, f.job, f.sheet(), f.test});
}

// ---- collecting ------------------------------------------------------------------------------

void FindingsCollector::clear() { *this = FindingsCollector{}; }

void FindingsCollector::add(std::string_view code, std::string job, std::string file, unsigned line,
                            std::string item, std::string value, std::string other, std::string text) {
    const FindingRule* rule = finding_rule(code);
    if (!rule) return;
    Finding f;
    f.rule = std::string(rule->code);
    f.severity = rule->severity;
    f.message = fill(rule->message, item, value, other, text);
    f.job = std::move(job);
    f.file = std::move(file);
    f.line = line;
    f.test = std::move(item);
    findings_.push_back(std::move(f));
}

void FindingsCollector::add_event(const diag::Event& e) {
    if (e.severity == Severity::progress) return;
    for (const auto& rule : kRules) {
        if (rule.event.empty() || rule.event != e.code) continue;
        std::string value = e.text, other;
        if (rule.code == "tset-not-in-timing") {
            // "Warning: Tset(T) in pattern(P) is not list in TSB: S"
            static const util::Regex form(R"(Tset\((.*)\) in pattern\((.*)\) is not list in TSB: (.*))");
            util::Match m;
            if (form.search(e.text, m)) {
                value = std::string(m.group(1));
                other = std::string(m.group(3));
            }
        }
        add(rule.code, e.where.job, e.where.file, e.where.line, e.where.item, value, other, e.text);
        return;
    }
}

void FindingsCollector::add_job(
    const std::string& job, const FlowRowList& rows, const InstanceMap& instances,
    const std::vector<std::pair<std::string, std::vector<std::string>>>& pattern_sets,
    const std::string& bin_table_file) {
    // A Use-Limit row speaks for the test before it.
    FlowRowList own(rows);
    for (size_t i = 1; i < own.size(); ++i)
        if (own[i].Opcode == "Use-Limit" && own[i].Parameter.empty() && own[i - 1].file == own[i].file)
            own[i].Parameter = own[i - 1].Parameter;
    add_flow(job, own, instances, pattern_sets, bin_table_file);
}

void FindingsCollector::add_flow(
    const std::string& job, const FlowRowList& rows, const InstanceMap& instances,
    const std::vector<std::pair<std::string, std::vector<std::string>>>& pattern_sets,
    const std::string& bin_table_file) {
    for (const auto& r : rows)
        if (is_test_row(r)) test_rows_.emplace(job + '\n' + r.Parameter, TestRow{r.file, r.line, r.Opcode == "nop"});

    for (const auto& [name, records] : instances)
        if (!records.empty() && !instances_defined_.count(name))
            instances_defined_.emplace(name, Defined{records.front().file, records.front().line});
    // Every job names the same pattern-set sheets: each is read once for the whole run.
    for (const auto& [file, sets] : pattern_sets) {
        const std::unordered_map<std::string, unsigned>* lines = nullptr;
        for (const auto& set : sets) {
            if (sets_defined_.count(set)) continue;
            if (!lines) {
                auto found = set_lines_.find(file);
                if (found == set_lines_.end())
                    found = set_lines_.emplace(file, lines_by_name(file, pattern_set_columns::kSetName)).first;
                lines = &found->second;
            }
            auto at = lines->find(set);
            sets_defined_.emplace(set, Defined{file, at == lines->end() ? 0u : at->second});
        }
    }

    for (const auto& r : rows) {
        if (!runs(r)) continue;
        instances_used_.insert(r.Parameter);
        auto it = instances.find(r.Parameter);
        if (it == instances.end()) continue;
        for (const auto& rec : it->second) {
            if (!rec.TimeSet.empty()) timesets_used_.insert(upper(rec.TimeSet));
            if (!rec.PinLevel.empty()) levels_used_.insert(upper(rec.PinLevel));
            sets_used_.insert(upper(rec.ArgList));
            for (const auto& a : rec.ArgDetails) sets_used_.insert(upper(a));
            // Blank arguments, once per instance row however many jobs run it.
            if (!blank_args_seen_.insert(rec.file + '\n' + std::to_string(rec.line)).second) continue;
            auto names = util::split(rec.ArgList, ',');
            std::vector<std::string> blank;
            for (size_t i = 0; i < rec.ArgDetails.size(); ++i) {
                if (!util::strip(rec.ArgDetails[i]).empty()) continue;
                blank.push_back(i < names.size() && !rec.ArgList.empty() ? std::string(util::strip(names[i]))
                                                                         : "Arg" + std::to_string(i));
            }
            if (!blank.empty()) add("blank-argument", job, rec.file, rec.line, it->first, util::join(blank, ", "));
        }
    }
    check_bins(job, rows, bin_table_file);
    check_tests(job, rows);
    check_limits(job, rows);
}

void FindingsCollector::check_bins(const std::string& job, const FlowRowList& rows,
                                   const std::string& bin_table) {
    // Each test's bins: its own, else those of the Use-Limit row after it (as the flow reader
    // completes them).
    struct Binned {
        const FlowRow* row;
        std::string hard, sort;
        Outcome result;
    };
    std::vector<Binned> binned;
    bool default_bin = false;
    for (size_t i = 0; i < rows.size(); ++i) {
        const FlowRow& r = rows[i];
        if (r.Opcode == "nop") continue;
        std::string hard = r.HardBin, sort = r.SortBin;
        if (is_test_row(r) && (hard.empty() || sort.empty()) && i + 1 < rows.size() &&
            rows[i + 1].Opcode == "Use-Limit" && rows[i + 1].file == r.file) {
            hard = rows[i + 1].HardBin;
            sort = rows[i + 1].SortBin;
        }
        if (r.Opcode == "set-device" && outcome(r.Result) == Outcome::fail && !r.HardBin.empty() &&
            !r.conditional && r.Enable.empty() && r.Job.empty() && r.Part.empty())
            default_bin = true;
        if (hard.empty() && sort.empty()) continue;
        binned.push_back({&r, hard, sort, outcome(r.Result)});
    }
    if (!rows.empty() && !default_bin) add("no-default-bin", job, rows.front().file, 0, "");

    // Sort bin -> hard bins; bins -> outcomes; sort bin -> entries described.
    std::map<std::string, std::vector<const Binned*>> by_sort, by_hard;
    for (const auto& b : binned) {
        if (!b.sort.empty()) by_sort[b.sort].push_back(&b);
        if (!b.hard.empty()) by_hard[b.hard].push_back(&b);
    }
    for (const auto& [sort, list] : by_sort) {
        std::vector<std::string> hards;
        const Binned* second = nullptr;
        for (const auto* b : list) {
            if (b->hard.empty() || std::find(hards.begin(), hards.end(), b->hard) != hards.end()) continue;
            hards.push_back(b->hard);
            if (hards.size() == 2) second = b;
        }
        if (second)
            add("sort-bin-two-hard-bins", job, second->row->file, second->row->line, second->row->Parameter,
                sort, util::join(hards, ", "));
        std::vector<std::string> tests;
        const Binned* repeat = nullptr;
        for (const auto* b : list) {
            if (!runs(*b->row)) continue;
            tests.push_back(b->row->Parameter);
            if (tests.size() == 2) repeat = b;
        }
        if (repeat)
            add("duplicate-sort-bin", job, repeat->row->file, repeat->row->line, repeat->row->Parameter, sort,
                util::join(tests, ", "));
    }
    auto mixed = [&](const std::map<std::string, std::vector<const Binned*>>& by, const char* kind) {
        for (const auto& [bin, list] : by) {
            bool pass = false, fail = false;
            const Binned* last = nullptr;
            for (const auto* b : list) {
                if (b->result == Outcome::none) continue;
                bool before = pass && fail;
                (b->result == Outcome::pass ? pass : fail) = true;
                if (!before && pass && fail) last = b;
            }
            if (last) add("bin-pass-and-fail", job, last->row->file, last->row->line, last->row->Parameter, bin, kind);
        }
    };
    mixed(by_sort, "Sort");
    mixed(by_hard, "Hard");

    if (bin_table.empty()) return;
    // Bin table rows: Name, Item List, Op, Sort, Bin, Result from column B on.
    std::map<std::string, std::vector<std::string>> names;  // sort bin -> names
    std::set<std::string> sorts, hards;
    try {
        util::LineReader reader(util::resolve_sheet_path(bin_table));
        std::string_view line;
        std::vector<std::string_view> f;
        std::map<std::string, std::pair<std::string, unsigned>> first_name;
        while (reader.next(line)) {
            if (reader.line_number() <= 4) continue;
            util::split_into(line, '\t', f);
            auto at = [&](size_t i) { return i < f.size() ? std::string(util::strip(f[i])) : std::string(); };
            const std::string name = at(1), sort = at(4), hard = at(5);
            if (name.empty() && sort.empty() && hard.empty()) continue;
            if (!sort.empty()) sorts.insert(sort);
            if (!hard.empty()) hards.insert(hard);
            if (sort.empty() || name.empty()) continue;
            auto [it, fresh] = first_name.emplace(sort, std::make_pair(name, 0u));
            if (!fresh && it->second.first != name)
                add("bin-two-names", job, reader.path(), static_cast<unsigned>(reader.line_number()), name, sort,
                    it->second.first + ", " + name);
        }
    } catch (const FileNotFoundError&) {
        return;  // the walk does not read the bin table; a missing one is not this rule's concern
    }
    std::set<std::string> told;
    for (const auto& b : binned) {
        if (!b.sort.empty() && !sorts.contains(b.sort) && told.insert("S" + b.sort).second)
            add("bin-not-in-table", job, b.row->file, b.row->line, b.row->Parameter, b.sort, "Sort");
        if (!b.hard.empty() && !hards.contains(b.hard) && told.insert("H" + b.hard).second)
            add("bin-not-in-table", job, b.row->file, b.row->line, b.row->Parameter, b.hard, "Hard");
    }
}

void FindingsCollector::check_tests(const std::string& job, const FlowRowList& rows) {
    std::map<std::string, const FlowRow*> numbers;
    std::map<std::string, const FlowRow*> runs;  // test + conditions -> first row
    size_t numbered = 0, unnumbered = 0;
    std::vector<const FlowRow*> missing;
    for (size_t i = 0; i < rows.size(); ++i) {
        const FlowRow& r = rows[i];
        if (r.Opcode == "nop") continue;
        if (!r.TestNumber.empty() && !r.Opcode.starts_with("set-")) {
            auto [it, fresh] = numbers.emplace(r.TestNumber, &r);
            if (!fresh)
                add("duplicate-test-number", job, r.file, r.line, r.Parameter, r.TestNumber, place(*it->second));
        }
        if (!is_test_row(r)) continue;
        // A Use-Limit row right after a test gives it its number.
        const bool has_number = !r.TestNumber.empty() ||
                                (i + 1 < rows.size() && rows[i + 1].Opcode == "Use-Limit" &&
                                 !rows[i + 1].TestNumber.empty());
        if (has_number) ++numbered;
        else {
            ++unnumbered;
            missing.push_back(&r);
        }
        // A conditional row is a deliberate re-test; so is one under another Enable, Job or Part.
        if (r.conditional) continue;
        auto [it, fresh] = runs.emplace(r.Parameter + '\n' + r.Enable + '\n' + r.Job + '\n' + r.Part, &r);
        if (!fresh && !it->second->conditional)
            add("duplicate-test", job, r.file, r.line, r.Parameter, {}, place(*it->second));
    }
    if (numbered > unnumbered)
        for (const auto* r : missing) add("missing-test-number", job, r->file, r->line, r->Parameter);
}

void FindingsCollector::check_limits(const std::string& job, const FlowRowList& rows) {
    std::vector<const FlowRow*> limited;
    for (const auto& r : rows) {
        if (r.Opcode.starts_with("set-") || (r.LoLimit.empty() && r.HiLimit.empty())) continue;
        limited.push_back(&r);
        auto lo = number(r.LoLimit), hi = number(r.HiLimit);
        if (lo && hi && *lo > *hi) add("limit-low-above-high", job, r.file, r.line, r.Parameter, r.LoLimit, r.HiLimit);
    }
    // Neighbours: the limit rows before and after in the same sheet.
    for (size_t i = 0; i < limited.size(); ++i) {
        const FlowRow& r = *limited[i];
        if (!util::strip(r.Units).empty()) continue;
        const FlowRow* prev = i > 0 && limited[i - 1]->file == r.file ? limited[i - 1] : nullptr;
        const FlowRow* next = i + 1 < limited.size() && limited[i + 1]->file == r.file ? limited[i + 1] : nullptr;
        if (!prev && !next) continue;
        bool all = (!prev || !util::strip(prev->Units).empty()) && (!next || !util::strip(next->Units).empty());
        if (all) add("limit-without-unit", job, r.file, r.line, r.Parameter, {}, (prev ? prev : next)->Units);
    }
}

FindingsResult FindingsCollector::finish(const std::string& sheet_folder, const Baseline& baseline) const {
    std::vector<Finding> all = findings_;
    // Events that name only a test are placed on the test's flow row.
    for (auto& f : all) {
        if (f.job.empty() || f.test.empty()) continue;
        auto it = test_rows_.find(f.job + '\n' + f.test);
        if (it == test_rows_.end()) continue;
        // What the walk says of a row that never runs is not a finding.
        if (it->second.nop && (f.rule == "instance-not-found" || f.rule == "no-sort-bin")) {
            f.rule.clear();
            continue;
        }
        if (f.file.empty()) {
            f.file = it->second.file;
            f.line = it->second.line;
        }
    }
    std::erase_if(all, [](const Finding& f) { return f.rule.empty(); });
    // A failure the walk could not place stands only when no finding names the same entry.
    std::set<std::string> explained;
    for (const auto& f : all)
        if (f.rule != "entry-failed") explained.insert(f.job + '\n' + f.test);
    std::erase_if(all, [&](const Finding& f) {
        return f.rule == "entry-failed" && explained.contains(f.job + '\n' + f.test);
    });

    FindingsCollector extra;
    for (const auto& [name, where] : instances_defined_)
        if (!instances_used_.contains(name)) extra.add("unused-instance", {}, where.file, where.line, name);
    for (const auto& [name, where] : sets_defined_)
        if (!sets_used_.contains(name)) extra.add("unused-pattern-set", {}, where.file, where.line, name);
    // Time-set and pin levels sheets of the program: their title row names their kind.
    std::vector<std::string> files;
    std::error_code ec;
    for (auto it = fs::directory_iterator(util::path_from_utf8(sheet_folder), ec); !ec && it != fs::directory_iterator(); it.increment(ec))
        if (it->path().extension() == ".txt") files.push_back(util::path_to_utf8(it->path()));
    std::sort(files.begin(), files.end());
    for (const auto& file : files) {
        const std::string title = sheet_title(file);
        const std::string name = upper(sheet_of(file));
        if (title.starts_with("Time Sets") && !timesets_used_.contains(name))
            extra.add("unused-timeset-sheet", {}, file, 1, sheet_of(file));
        else if (title == "Pin Levels" && !levels_used_.contains(name))
            extra.add("unused-levels-sheet", {}, file, 1, sheet_of(file));
    }
    all.insert(all.end(), extra.findings_.begin(), extra.findings_.end());

    // One finding per rule, place and message (the walk reports some things once per pass).
    std::set<std::string> seen;
    FindingsResult result;
    for (auto& f : all) {
        const std::string key =
            f.rule + '\n' + f.job + '\n' + f.file + '\n' + std::to_string(f.line) + '\n' + f.test + '\n' + f.message;
        if (!seen.insert(key).second) continue;
        if (baseline.accepts(f)) {
            ++result.suppressed;
            continue;
        }
        result.findings.push_back(std::move(f));
    }
    std::stable_sort(result.findings.begin(), result.findings.end(), [](const Finding& a, const Finding& b) {
        return static_cast<int>(a.severity) < static_cast<int>(b.severity);
    });
    return result;
}

std::string job_bin_table(const std::string& job_list_path, const std::string& job) {
    if (job_list_path.empty()) return {};
    try {
        util::LineReader reader(job_list_path);
        std::string_view line;
        std::vector<std::string_view> f;
        while (reader.next(line)) {
            if (reader.line_number() <= kTableHeaderRows) continue;
            util::split_into(line, '\t', f);
            using namespace job_list_columns;
            if (f.size() > kBinTable && util::strip(f[kJobName]) == job) return std::string(util::strip(f[kBinTable]));
        }
    } catch (const std::exception&) {
    }
    return {};
}

// ---- outputs -----------------------------------------------------------------------------------

std::vector<std::pair<std::string, std::string>> option_settings(const CheckOptions& o) {
    std::vector<std::pair<std::string, std::string>> out;
    out.emplace_back("cycle_mode", std::string(cycle_mode_name(o.cycle_mode)));
    if (!o.pattern_path.empty()) out.emplace_back("pattern_path", util::path_to_utf8(o.pattern_path));
    if (!o.power_order.empty()) out.emplace_back("power_order", util::path_to_utf8(o.power_order));
    if (!o.context_env.empty()) out.emplace_back("context_env", o.context_env);
    if (o.vbt) out.emplace_back("vbt", "true");
    if (!o.baseline.empty()) out.emplace_back("baseline", util::path_to_utf8(o.baseline));
    out.emplace_back("fail_on", std::string(fail_on_name(o.fail_on)));
    return out;
}

std::string findings_json(const FindingsResult& result, const CheckOptions& options,
                          const std::vector<std::string>& jobs, std::string_view version) {
    json doc;
    doc["tool"] = "vantor";
    doc["version"] = std::string(version);
    doc["program"] = util::path_to_utf8(options.program);
    doc["platform"] = std::string(platform_name(options.platform));
    doc["jobs"] = jobs;
    json opts = json::object();
    for (const auto& [k, v] : option_settings(options)) opts[k] = v;
    doc["options"] = opts;
    const FindingCounts c = result.counts();
    doc["counts"] = {{"error", c.error}, {"warning", c.warning}, {"info", c.info}};
    doc["suppressed"] = result.suppressed;
    json list = json::array();
    for (const auto& f : result.findings) {
        json one;
        one["rule"] = f.rule;
        one["severity"] = std::string(severity_name(f.severity));
        one["message"] = f.message;
        if (!f.job.empty()) one["job"] = f.job;
        if (!f.file.empty()) one["sheet"] = f.sheet();
        if (f.line) one["line"] = f.line;
        if (!f.test.empty()) one["test"] = f.test;
        list.push_back(std::move(one));
    }
    doc["findings"] = std::move(list);
    return doc.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}

namespace {

// A relative URI reference for a file name: unreserved characters kept, the rest %-escaped.
std::string uri_path(std::string_view name) {
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : name) {
        if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~' || c == '/') {
            out.push_back(static_cast<char>(c));
        } else {
            out.push_back('%');
            out.push_back(hex[c >> 4]);
            out.push_back(hex[c & 15]);
        }
    }
    return out;
}

std::string_view sarif_level(Severity s) {
    return s == Severity::error ? "error" : s == Severity::warning ? "warning" : "note";
}

}  // namespace

std::string findings_sarif(const FindingsResult& result, const CheckOptions& options,
                           const std::string& program_folder, std::string_view version) {
    json rules = json::array();
    std::map<std::string, size_t> index;
    for (const auto& r : kRules) {
        index[std::string(r.code)] = rules.size();
        rules.push_back({{"id", std::string(r.code)},
                         {"shortDescription", {{"text", std::string(r.summary)}}},
                         {"defaultConfiguration", {{"level", std::string(sarif_level(r.severity))}}}});
    }
    std::error_code ec;
    const fs::path base = fs::weakly_canonical(fs::absolute(util::path_from_utf8(program_folder), ec), ec);
    json results = json::array();
    for (const auto& f : result.findings) {
        json one;
        one["ruleId"] = f.rule;
        one["ruleIndex"] = index[f.rule];
        one["level"] = std::string(sarif_level(f.severity));
        one["message"] = {{"text", f.message}};
        if (!f.file.empty()) {
            fs::path file = fs::weakly_canonical(fs::absolute(util::path_from_utf8(f.file), ec), ec);
            fs::path rel = file.lexically_relative(base);
            if (rel.empty() || *rel.begin() == "..") rel = file.filename();
            const std::u8string generic = rel.generic_u8string();
            json physical = {{"artifactLocation", {{"uri", uri_path(std::string(generic.begin(), generic.end()))}, {"uriBaseId", "PROGRAM"}}}};
            if (f.line) physical["region"] = {{"startLine", f.line}};
            one["locations"] = json::array({{{"physicalLocation", physical}}});
        }
        json props = json::object();
        if (!f.job.empty()) props["job"] = f.job;
        if (!f.test.empty()) props["test"] = f.test;
        if (!props.empty()) one["properties"] = props;
        results.push_back(std::move(one));
    }
    json run;
    run["tool"] = {{"driver", {{"name", "vantor"}, {"version", std::string(version)}, {"rules", rules}}}};
    // Sheet files are named relative to the program's folder, as kept in version control.
    std::string base_uri = "file://" + uri_path(base.generic_string());
    if (!base_uri.ends_with("/")) base_uri += "/";
    run["originalUriBaseIds"] = {{"PROGRAM", {{"uri", base_uri}}}};
    run["results"] = std::move(results);
    run["properties"] = {{"program", util::path_to_utf8(options.program)},
                         {"platform", std::string(platform_name(options.platform))},
                         {"suppressed", result.suppressed}};
    json doc;
    doc["$schema"] = "https://json.schemastore.org/sarif-2.1.0.json";
    doc["version"] = "2.1.0";
    doc["runs"] = json::array({run});
    return doc.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}

}  // namespace igxl
