#include "check/findings.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <charconv>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <unordered_set>

#include <tsl/ordered_set.h>

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

// The rule's message with its {item}, {value}, {other} and {text} filled in, into out.
void fill_into(std::string_view templ, std::string_view item, std::string_view value, std::string_view other,
               std::string_view text, std::string& out) {
    out.clear();
    for (size_t i = 0; i < templ.size(); ++i) {
        if (templ[i] == '{') {
            size_t close = templ.find('}', i);
            if (close != std::string_view::npos) {
                std::string_view key = templ.substr(i + 1, close - i - 1);
                const std::string_view* v = key == "item" ? &item : key == "value" ? &value
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
}

std::string upper(std::string_view s) { return util::to_upper(util::strip(s)); }

// The name a sheet file stands for: "DC%20Specs.txt" -> "DC Specs".
std::string sheet_of(const std::string& file) {
    if (file.empty()) return {};
    std::string name = util::path_to_utf8(util::path_from_utf8(file).filename());
    if (name.size() > 4 && name.ends_with(".txt")) name.resize(name.size() - 4);
    return util::replace_all(name, "%20", " ");
}

std::string place(const FlowRow& r) { return sheet_of(r.file()) + ":" + std::to_string(r.line); }

bool is_test_row(const FlowRow& r) { return r.Opcode() != "Use-Limit" && !r.Opcode().starts_with("set-"); }
// A nop row stands in the flow but never runs (programs also use it as a banner line).
bool runs(const FlowRow& r) { return is_test_row(r) && r.Opcode() != "nop"; }

enum class Outcome { none, pass, fail };
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
    std::unordered_map<std::string_view, std::size_t> by_rule;
    for (const auto& f : findings) ++by_rule[f.rule];
    std::vector<std::pair<std::string, std::size_t>> out;
    for (const auto& r : kRules)
        if (auto it = by_rule.find(r.code); it != by_rule.end()) out.emplace_back(std::string(r.code), it->second);
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

bool Baseline::accepts(const Finding& f) const { return accepts(f.rule, f.job, f.sheet(), f.test); }

bool Baseline::accepts(std::string_view rule, std::string_view job, std::string_view sheet,
                       std::string_view test) const {
    return keys_.contains({std::string(rule), std::string(job), std::string(sheet), std::string(test)});
}

// ---- collecting ------------------------------------------------------------------------------

namespace {

constexpr size_t kRuleCount = std::size(kRules);

constexpr std::uint8_t rule_index(std::string_view code) {
    for (size_t i = 0; i < kRuleCount; ++i)
        if (kRules[i].code == code) return static_cast<std::uint8_t>(i);
    return static_cast<std::uint8_t>(kRuleCount);
}
constexpr std::uint8_t kInstanceNotFound = rule_index("instance-not-found");
constexpr std::uint8_t kNoSortBin = rule_index("no-sort-bin");
constexpr std::uint8_t kEntryFailed = rule_index("entry-failed");
constexpr std::uint8_t kBlankArgument = rule_index("blank-argument");
constexpr std::uint8_t kNoDefaultBin = rule_index("no-default-bin");
constexpr std::uint8_t kSortBinTwoHardBins = rule_index("sort-bin-two-hard-bins");
constexpr std::uint8_t kDuplicateSortBin = rule_index("duplicate-sort-bin");
constexpr std::uint8_t kBinPassAndFail = rule_index("bin-pass-and-fail");
constexpr std::uint8_t kBinTwoNames = rule_index("bin-two-names");
constexpr std::uint8_t kBinNotInTable = rule_index("bin-not-in-table");
constexpr std::uint8_t kDuplicateTestNumber = rule_index("duplicate-test-number");
constexpr std::uint8_t kDuplicateTest = rule_index("duplicate-test");
constexpr std::uint8_t kMissingTestNumber = rule_index("missing-test-number");
constexpr std::uint8_t kLimitLowAboveHigh = rule_index("limit-low-above-high");
constexpr std::uint8_t kLimitWithoutUnit = rule_index("limit-without-unit");
static_assert(kInstanceNotFound < kRuleCount && kNoSortBin < kRuleCount && kEntryFailed < kRuleCount &&
              kBlankArgument < kRuleCount && kNoDefaultBin < kRuleCount && kSortBinTwoHardBins < kRuleCount &&
              kDuplicateSortBin < kRuleCount && kBinPassAndFail < kRuleCount && kBinTwoNames < kRuleCount &&
              kBinNotInTable < kRuleCount && kDuplicateTestNumber < kRuleCount && kDuplicateTest < kRuleCount &&
              kMissingTestNumber < kRuleCount && kLimitLowAboveHigh < kRuleCount && kLimitWithoutUnit < kRuleCount);

// Texts packed one after another in large blocks: a view into them lives as long as the store.
class TextStore {
public:
    std::string_view add(std::string_view text) {
        if (text.empty()) return {};
        if (chunks_.empty() || used_ + text.size() > size_) {
            size_ = std::max<size_t>(size_t{1} << 16, text.size());
            chunks_.push_back(std::unique_ptr<char[]>(new char[size_]));  // not cleared: every byte is written
            used_ = 0;
        }
        char* at = chunks_.back().get() + used_;
        std::memcpy(at, text.data(), text.size());
        used_ += text.size();
        return {at, text.size()};
    }

private:
    std::vector<std::unique_ptr<char[]>> chunks_;
    size_t used_ = 0, size_ = 0;
};

// One id per distinct text, counted from 0 (the empty text) in the order first seen. A name met
// once per row and job is kept once for the run.
class Names {
public:
    Names() { ids_.insert(std::string_view()); }
    std::uint32_t id(std::string_view text) {
        auto it = ids_.find(text);
        if (it == ids_.end()) it = ids_.insert(store_.add(text)).first;
        return static_cast<std::uint32_t>(it - ids_.begin());
    }
    // The id of a text met before, or kNone.
    static constexpr std::uint32_t kNone = ~std::uint32_t{0};
    std::uint32_t find(std::string_view text) const {
        auto it = ids_.find(text);
        return it == ids_.end() ? kNone : static_cast<std::uint32_t>(it - ids_.begin());
    }
    std::string_view text(std::uint32_t id) const { return *ids_.nth(id); }
    std::size_t size() const { return ids_.size(); }

private:
    TextStore store_;
    tsl::ordered_set<std::string_view> ids_;
};

// Upper-cased, stripped text into buf (what upper() gives, without a new string each time).
std::string_view upper_into(std::string_view s, std::string& buf) {
    s = util::strip(s);
    buf.assign(s);
    for (auto& c : buf)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    return buf;
}

std::string join_views(const std::vector<std::string_view>& parts, std::string_view sep) {
    std::string out;
    for (size_t i = 0; i < parts.size(); ++i) {
        if (i) out += sep;
        out += parts[i];
    }
    return out;
}

}  // namespace

struct FindingsCollector::State {
    // A finding as noticed: its texts are ids of names (shared: most findings repeat the same
    // few files, jobs and argument lists).
    struct Pending {
        std::uint32_t job, file, line, item, value, other, text;
        std::uint8_t rule;
    };
    // A job's test rows by name, to place events that name only the test.
    struct TestRow {
        std::uint32_t name, file, line;
        bool nop;
    };
    struct JobRows {
        std::uint32_t job;
        std::vector<TestRow> rows;  // sorted by name, the first row of each name only
    };
    struct Defined {
        std::uint32_t name, file, line;
    };
    // What a name is known as (bits of marks).
    enum Mark : std::uint8_t {
        kInstanceUsed = 1,
        kSetUsed = 2,
        kTimesetUsed = 4,
        kLevelsUsed = 8,
        kInstanceDefined = 16,
        kSetDefined = 32,
    };

    Names names;
    std::vector<std::uint8_t> marks;  // per name id
    std::vector<Pending> pending;
    std::vector<JobRows> test_rows;
    std::vector<Defined> instances_defined, sets_defined;
    // Instance rows looked at once, per file id by line: the names they use and their blank
    // arguments.
    std::unordered_map<std::uint32_t, std::vector<bool>> rows_seen, rows_defining;
    // Instance rows come in long runs of one file: its id is looked up once per run.
    struct LastFile {
        const std::string* file = nullptr;
        std::uint32_t id = 0;
    } last_instance_file;
    // The last text marked per field of an instance row (time set, levels, argument list, each
    // argument): rows in a run mostly repeat them, and marking again changes nothing.
    std::vector<std::string> last_marked;
    std::unordered_map<std::string, std::unordered_map<std::string, unsigned>> set_lines;  // per sheet file
    std::string buf;

    void mark(std::uint32_t id, Mark m) {
        if (id >= marks.size()) marks.resize(std::max<size_t>(names.size(), id + 1), 0);
        marks[id] |= m;
    }
    bool marked(std::uint32_t id, Mark m) const { return id < marks.size() && (marks[id] & m); }
    void mark_upper(std::string_view text, Mark m) {
        // Most argument fields are empty: the empty name needs no look-up.
        mark(util::strip(text).empty() ? 0 : names.id(upper_into(text, buf)), m);
    }
    // mark_upper, skipped when the text is the one last marked in that slot.
    void mark_upper_once(std::size_t slot, std::string_view text, Mark m) {
        if (slot >= last_marked.size()) last_marked.resize(slot + 1);
        std::string& last = last_marked[slot];
        if (!last.empty() && last == text) return;
        mark_upper(text, m);
        last.assign(text);
    }
    std::uint32_t file_id(const std::string& file, LastFile& last) {
        if (last.file == &file) return last.id;
        if (!last.file || *last.file != file) {
            last.id = names.id(file);
            last.file = &file;
        }
        return last.id;
    }
    // Whether the instance row at file:line was looked at before; it is from now on.
    bool seen_before(std::uint32_t file, unsigned line) { return test_and_set(rows_seen, file, line); }
    // The same for rows that define an instance.
    bool defined_before(std::uint32_t file, unsigned line) { return test_and_set(rows_defining, file, line); }
    static bool test_and_set(std::unordered_map<std::uint32_t, std::vector<bool>>& by_file, std::uint32_t file,
                             unsigned line) {
        auto& lines = by_file[file];
        if (line >= lines.size()) lines.resize(std::max<size_t>(line + 1, lines.size() * 2));
        const bool seen = lines[line];
        lines[line] = true;
        return seen;
    }
    void add(std::uint8_t rule, std::string_view job, std::string_view file, unsigned line, std::string_view item,
             std::string_view value = {}, std::string_view other = {}, std::string_view text = {}) {
        pending.push_back({names.id(job), names.id(file), line, names.id(item), names.id(value), names.id(other),
                           names.id(text), rule});
    }
    // The same with the job and file as ids.
    void add_at(std::uint8_t rule, std::uint32_t job, std::uint32_t file, unsigned line, std::string_view item,
                std::string_view value = {}, std::string_view other = {}) {
        pending.push_back({job, file, line, names.id(item), names.id(value), names.id(other), 0, rule});
    }
    void add(std::string_view code, std::string_view job, std::string_view file, unsigned line,
             std::string_view item, std::string_view value = {}, std::string_view other = {},
             std::string_view text = {}) {
        const std::uint8_t rule = rule_index(code);
        if (rule < kRuleCount) add(rule, job, file, line, item, value, other, text);
    }
    // The first test row of a job with that name, or null.
    const TestRow* test_row(std::uint32_t job, std::uint32_t name) const {
        for (const auto& block : test_rows) {
            if (block.job != job) continue;
            auto it = std::lower_bound(block.rows.begin(), block.rows.end(), name,
                                       [](const TestRow& r, std::uint32_t n) { return r.name < n; });
            if (it != block.rows.end() && it->name == name) return &*it;
        }
        return nullptr;
    }
};

namespace {

// One job's flow rows as the rules read them: a Use-Limit row without a name speaks for the test
// before it.
struct JobFlow {
    FindingsCollector::State& s;
    const FlowRowList& rows;
    const std::uint32_t job;             // name id
    std::vector<std::uint32_t> file_ids;  // name id per file index of the rows
    std::vector<std::uint32_t> name_ids;  // name id of each test row's parameter (0 for others)
    std::vector<std::string_view> param;

    JobFlow(FindingsCollector::State& state, const std::string& job_name, const FlowRowList& flow_rows)
        : s(state), rows(flow_rows), job(state.names.id(job_name)), name_ids(flow_rows.size(), 0),
          param(flow_rows.size()) {
        file_ids.reserve(rows.file_count());
        for (std::uint32_t f = 0; f < rows.file_count(); ++f) file_ids.push_back(s.names.id(rows.file(f)));
        for (size_t i = 0; i < rows.size(); ++i) {
            const FlowRow& r = rows[i];
            param[i] = r.Parameter();
            if (is_test_row(r)) name_ids[i] = s.names.id(param[i]);
            else if (i > 0 && r.Opcode() == "Use-Limit" && param[i].empty() &&
                     rows[i - 1].file_index() == r.file_index())
                param[i] = param[i - 1];
        }
    }

    // A finding on row i, named after its test.
    void add(std::uint8_t rule, size_t i, std::string_view value = {}, std::string_view other = {}) {
        const FlowRow& r = rows[i];
        s.add_at(rule, job, file_ids[r.file_index()], r.line, param[i], value, other);
    }
    std::uint32_t file_of(const FlowRow& r) const { return file_ids[r.file_index()]; }

    void check_bins(const std::string& bin_table);
    void check_tests();
    void check_limits();
};

Outcome outcome(std::string_view result) {
    result = util::strip(result);
    auto starts = [&](std::string_view p) {
        if (result.size() < p.size()) return false;
        for (size_t i = 0; i < p.size(); ++i) {
            char c = result[i];
            if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
            if (c != p[i]) return false;
        }
        return true;
    };
    if (starts("PASS")) return Outcome::pass;
    if (starts("FAIL")) return Outcome::fail;
    return Outcome::none;
}

// Items 0..n-1 grouped by a text key (items with an empty key left out): the groups in key
// order, the items of each in their own order. Keys repeat a lot (a few hundred bins among
// 100,000 rows): they are hashed once per item and only the distinct ones sorted.
struct Groups {
    std::vector<std::string_view> keys;   // per group, in key order
    std::vector<std::uint32_t> starts;    // per group, where its items begin in items; one more at the end
    std::vector<std::uint32_t> items;

    template <class KeyOf>
    Groups(size_t n, KeyOf key_of) {
        tsl::ordered_map<std::string_view, std::uint32_t> count;  // key -> items, in first-seen order
        std::vector<std::uint32_t> group_of(n, UINT32_MAX);
        for (size_t i = 0; i < n; ++i) {
            const std::string_view key = key_of(i);
            if (key.empty()) continue;
            auto it = count.try_emplace(key, 0).first;
            it.value()++;
            group_of[i] = static_cast<std::uint32_t>(it - count.begin());
        }
        std::vector<std::uint32_t> order(count.size());
        for (std::uint32_t g = 0; g < order.size(); ++g) order[g] = g;
        std::sort(order.begin(), order.end(),
                  [&](std::uint32_t a, std::uint32_t b) { return count.nth(a)->first < count.nth(b)->first; });
        std::vector<std::uint32_t> next(count.size());  // per first-seen group, where its next item goes
        keys.reserve(order.size());
        starts.reserve(order.size() + 1);
        std::uint32_t at = 0;
        for (auto g : order) {
            keys.push_back(count.nth(g)->first);
            starts.push_back(at);
            next[g] = at;
            at += count.nth(g)->second;
        }
        starts.push_back(at);
        items.resize(at);
        for (size_t i = 0; i < n; ++i)
            if (group_of[i] != UINT32_MAX) items[next[group_of[i]]++] = static_cast<std::uint32_t>(i);
    }
    size_t size() const { return keys.size(); }
    std::span<const std::uint32_t> of(size_t g) const { return {items.data() + starts[g], items.data() + starts[g + 1]}; }
};

void JobFlow::check_bins(const std::string& bin_table) {
    // Each test's bins: its own, else those of the Use-Limit row after it (as the flow reader
    // completes them).
    struct Binned {
        std::uint32_t row;
        std::string_view hard, sort;
        Outcome result;
    };
    std::vector<Binned> binned;
    bool default_bin = false;
    for (size_t i = 0; i < rows.size(); ++i) {
        const FlowRow& r = rows[i];
        if (r.Opcode() == "nop") continue;
        std::string_view hard = r.HardBin(), sort = r.SortBin();
        if (is_test_row(r) && (hard.empty() || sort.empty()) && i + 1 < rows.size() &&
            rows[i + 1].Opcode() == "Use-Limit" && rows[i + 1].file_index() == r.file_index()) {
            hard = rows[i + 1].HardBin();
            sort = rows[i + 1].SortBin();
        }
        const Outcome result = outcome(r.Result());
        if (r.Opcode() == "set-device" && result == Outcome::fail && !r.HardBin().empty() && !r.conditional &&
            r.Enable().empty() && r.Job().empty() && r.Part().empty())
            default_bin = true;
        if (hard.empty() && sort.empty()) continue;
        binned.push_back({static_cast<std::uint32_t>(i), hard, sort, result});
    }
    if (!rows.empty() && !default_bin) s.add_at(kNoDefaultBin, job, file_of(rows.front()), 0, "");

    // Sort bin -> hard bins; bins -> outcomes; sort bin -> entries described.
    const Groups by_sort(binned.size(), [&](size_t b) { return binned[b].sort; });
    const Groups by_hard(binned.size(), [&](size_t b) { return binned[b].hard; });
    std::vector<std::string_view> hards, tests;
    for (size_t g = 0; g < by_sort.size(); ++g) {
        hards.clear();
        const Binned* second = nullptr;
        for (auto b : by_sort.of(g)) {
            const std::string_view hard = binned[b].hard;
            if (hard.empty() || std::find(hards.begin(), hards.end(), hard) != hards.end()) continue;
            hards.push_back(hard);
            if (hards.size() == 2) second = &binned[b];
        }
        if (second) add(kSortBinTwoHardBins, second->row, by_sort.keys[g], join_views(hards, ", "));
        tests.clear();
        const Binned* repeat = nullptr;
        for (auto b : by_sort.of(g)) {
            if (!runs(rows[binned[b].row])) continue;
            tests.push_back(param[binned[b].row]);
            if (tests.size() == 2) repeat = &binned[b];
        }
        if (repeat) add(kDuplicateSortBin, repeat->row, by_sort.keys[g], join_views(tests, ", "));
    }
    auto mixed = [&](const Groups& by, const char* kind) {
        for (size_t g = 0; g < by.size(); ++g) {
            bool pass = false, fail = false;
            const Binned* last = nullptr;
            for (auto i : by.of(g)) {
                const Binned& b = binned[i];
                if (b.result == Outcome::none) continue;
                bool before = pass && fail;
                (b.result == Outcome::pass ? pass : fail) = true;
                if (!before && pass && fail) last = &b;
            }
            if (last) add(kBinPassAndFail, last->row, by.keys[g], kind);
        }
    };
    mixed(by_sort, "Sort");
    mixed(by_hard, "Hard");

    if (bin_table.empty()) return;
    // Bin table rows: Name, Item List, Op, Sort, Bin, Result from column B on.
    std::set<std::string, std::less<>> sorts, hards_in_table;
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
            if (!hard.empty()) hards_in_table.insert(hard);
            if (sort.empty() || name.empty()) continue;
            auto [it, fresh] = first_name.emplace(sort, std::make_pair(name, 0u));
            if (!fresh && it->second.first != name)
                s.add_at(kBinTwoNames, job, s.names.id(reader.path()), static_cast<unsigned>(reader.line_number()),
                         name, sort, it->second.first + ", " + name);
        }
    } catch (const FileNotFoundError&) {
        return;  // the walk does not read the bin table; a missing one is not this rule's concern
    }
    std::set<std::string> told;
    for (const auto& b : binned) {
        if (!b.sort.empty() && !sorts.contains(b.sort) && told.insert("S" + std::string(b.sort)).second)
            add(kBinNotInTable, b.row, b.sort, "Sort");
        if (!b.hard.empty() && !hards_in_table.contains(b.hard) && told.insert("H" + std::string(b.hard)).second)
            add(kBinNotInTable, b.row, b.hard, "Hard");
    }
}

// A test's run conditions: its name (id), Enable, Job and Part.
struct RunKey {
    std::uint32_t name;
    std::string_view enable, job, part;
    bool operator==(const RunKey&) const = default;
};
struct RunKeyHash {
    size_t operator()(const RunKey& k) const {
        std::hash<std::string_view> h;
        size_t v = k.name;
        for (auto part : {k.enable, k.job, k.part}) v = v * 1000003u ^ (part.empty() ? 0 : h(part));
        return v;
    }
};
// Flat tables (no node per entry): a job adds one entry per test row.
template <class K, class V, class Hash = std::hash<K>>
using FlatMap = tsl::ordered_map<K, V, Hash, std::equal_to<K>, std::allocator<std::pair<K, V>>,
                                 std::vector<std::pair<K, V>>>;

void JobFlow::check_tests() {
    FlatMap<std::string_view, std::uint32_t> numbers;
    FlatMap<RunKey, std::uint32_t, RunKeyHash> first_runs;  // test + conditions -> first row
    numbers.reserve(rows.size());
    first_runs.reserve(rows.size());
    size_t numbered = 0, unnumbered = 0;
    std::vector<std::uint32_t> missing;
    for (size_t i = 0; i < rows.size(); ++i) {
        const FlowRow& r = rows[i];
        const std::string_view op = r.Opcode();
        if (op == "nop") continue;
        const auto row = static_cast<std::uint32_t>(i);
        if (!r.TestNumber().empty() && !op.starts_with("set-")) {
            auto [it, fresh] = numbers.try_emplace(r.TestNumber(), row);
            if (!fresh) add(kDuplicateTestNumber, i, r.TestNumber(), place(rows[it->second]));
        }
        if (!is_test_row(r)) continue;
        // A Use-Limit row right after a test gives it its number.
        const bool has_number = !r.TestNumber().empty() ||
                                (i + 1 < rows.size() && rows[i + 1].Opcode() == "Use-Limit" &&
                                 !rows[i + 1].TestNumber().empty());
        if (has_number) ++numbered;
        else {
            ++unnumbered;
            missing.push_back(row);
        }
        // A conditional row is a deliberate re-test; so is one under another Enable, Job or Part.
        if (r.conditional) continue;
        auto [it, fresh] = first_runs.try_emplace(RunKey{name_ids[i], r.Enable(), r.Job(), r.Part()}, row);
        if (!fresh && !rows[it->second].conditional) add(kDuplicateTest, i, {}, place(rows[it->second]));
    }
    if (numbered > unnumbered)
        for (auto i : missing) add(kMissingTestNumber, i);
}

void JobFlow::check_limits() {
    std::vector<std::uint32_t> limited;
    for (size_t i = 0; i < rows.size(); ++i) {
        const FlowRow& r = rows[i];
        if (r.Opcode().starts_with("set-") || (r.LoLimit().empty() && r.HiLimit().empty())) continue;
        limited.push_back(static_cast<std::uint32_t>(i));
        auto lo = number(r.LoLimit()), hi = number(r.HiLimit());
        if (lo && hi && *lo > *hi) add(kLimitLowAboveHigh, i, r.LoLimit(), r.HiLimit());
    }
    // Neighbours: the limit rows before and after in the same sheet.
    for (size_t i = 0; i < limited.size(); ++i) {
        const FlowRow& r = rows[limited[i]];
        if (!util::strip(r.Units()).empty()) continue;
        const FlowRow* prev =
            i > 0 && rows[limited[i - 1]].file_index() == r.file_index() ? &rows[limited[i - 1]] : nullptr;
        const FlowRow* next = i + 1 < limited.size() && rows[limited[i + 1]].file_index() == r.file_index()
                                  ? &rows[limited[i + 1]]
                                  : nullptr;
        if (!prev && !next) continue;
        bool all = (!prev || !util::strip(prev->Units()).empty()) && (!next || !util::strip(next->Units()).empty());
        if (all) add(kLimitWithoutUnit, limited[i], {}, (prev ? prev : next)->Units());
    }
}

}  // namespace

FindingsCollector::FindingsCollector() : s_(std::make_unique<State>()) {}
FindingsCollector::~FindingsCollector() = default;
FindingsCollector::FindingsCollector(FindingsCollector&&) noexcept = default;
FindingsCollector& FindingsCollector::operator=(FindingsCollector&&) noexcept = default;

void FindingsCollector::clear() { s_ = std::make_unique<State>(); }

void FindingsCollector::add_event(const diag::Event& e) {
    if (e.severity == Severity::progress) return;
    for (size_t i = 0; i < kRuleCount; ++i) {
        const FindingRule& rule = kRules[i];
        if (rule.event.empty() || rule.event != e.code) continue;
        std::string_view value = e.text, other;
        if (rule.code == "tset-not-in-timing") {
            // "Warning: Tset(T) in pattern(P) is not list in TSB: S"
            static const util::Regex form(R"(Tset\((.*)\) in pattern\((.*)\) is not list in TSB: (.*))");
            util::Match m;
            if (form.search(e.text, m)) {
                value = m.group(1);
                other = m.group(3);
            }
        }
        s_->add(static_cast<std::uint8_t>(i), e.where.job, e.where.file, e.where.line, e.where.item, value, other,
                e.text);
        return;
    }
}

void FindingsCollector::add_job(
    const std::string& job, const FlowRowList& rows, const InstanceMap& instances,
    const std::vector<std::pair<std::string, std::vector<std::string>>>& pattern_sets,
    const std::string& bin_table_file) {
    State& s = *s_;
    JobFlow flow(s, job, rows);
    const std::uint32_t job_id = flow.job;

    s.last_instance_file = {};  // the records of an earlier job are gone
    State::JobRows block{job_id, {}};
    for (size_t i = 0; i < rows.size(); ++i) {
        const FlowRow& r = rows[i];
        if (!is_test_row(r)) continue;
        block.rows.push_back({flow.name_ids[i], flow.file_of(r), r.line, r.Opcode() == "nop"});
    }
    // The first row of each name stands for it.
    std::stable_sort(block.rows.begin(), block.rows.end(),
                     [](const State::TestRow& a, const State::TestRow& b) { return a.name < b.name; });
    block.rows.erase(std::unique(block.rows.begin(), block.rows.end(),
                                 [](const State::TestRow& a, const State::TestRow& b) { return a.name == b.name; }),
                     block.rows.end());
    block.rows.shrink_to_fit();
    s.test_rows.push_back(std::move(block));

    for (const auto& [name, records] : instances) {
        if (records.empty()) continue;
        // A row that defined an instance for an earlier job defined the same name then.
        const InstanceRecord& front = records.front();
        const std::uint32_t front_file = s.file_id(front.file(), s.last_instance_file);
        if (front.line() && !front.file().empty() && s.defined_before(front_file, front.line())) continue;
        const std::uint32_t id = s.names.id(name);
        if (s.marked(id, State::kInstanceDefined)) continue;
        s.mark(id, State::kInstanceDefined);
        s.instances_defined.push_back({id, front_file, front.line()});
    }
    // Every job names the same pattern-set sheets: each is read once for the whole run.
    for (const auto& [file, sets] : pattern_sets) {
        const std::unordered_map<std::string, unsigned>* lines = nullptr;
        for (const auto& set : sets) {
            const std::uint32_t id = s.names.id(set);
            if (s.marked(id, State::kSetDefined)) continue;
            if (!lines) {
                auto found = s.set_lines.find(file);
                if (found == s.set_lines.end())
                    found = s.set_lines.emplace(file, lines_by_name(file, pattern_set_columns::kSetName)).first;
                lines = &found->second;
            }
            auto at = lines->find(set);
            s.mark(id, State::kSetDefined);
            s.sets_defined.push_back({id, s.names.id(file), at == lines->end() ? 0u : at->second});
        }
    }

    std::string key;  // the row's name as the instance map's key, without a string per row
    std::vector<std::string_view> arg_names;
    std::string list;
    for (size_t i = 0; i < rows.size(); ++i) {
        const FlowRow& r = rows[i];
        if (!runs(r)) continue;
        const std::uint32_t name = flow.name_ids[i];
        s.mark(name, State::kInstanceUsed);
        key.assign(r.Parameter());
        auto it = instances.find(key);
        if (it == instances.end()) continue;
        for (const auto& rec : it->second) {
            // An instance row is the same row in every job that reads its sheet: what it names
            // and leaves blank is looked at once.
            const std::uint32_t rec_file = s.file_id(rec.file(), s.last_instance_file);
            const bool fresh = !s.seen_before(rec_file, rec.line());
            if (!fresh && !rec.file().empty() && rec.line()) continue;
            if (!rec.TimeSet().empty()) s.mark_upper_once(0, rec.TimeSet(), State::kTimesetUsed);
            if (!rec.PinLevel().empty()) s.mark_upper_once(1, rec.PinLevel(), State::kLevelsUsed);
            s.mark_upper_once(2, rec.ArgList(), State::kSetUsed);
            const auto args = rec.ArgDetails();
            for (size_t a = 0; a < args.size(); ++a) s.mark_upper_once(3 + a, args[a], State::kSetUsed);
            // Blank arguments, once per instance row however many jobs run it.
            if (!fresh) continue;
            util::split_into(rec.ArgList(), ',', arg_names);
            list.clear();
            size_t blanks = 0;
            for (size_t a = 0; a < args.size(); ++a) {
                if (!util::strip(args[a]).empty()) continue;
                if (blanks++) list += ", ";
                if (a < arg_names.size() && !rec.ArgList().empty()) list += util::strip(arg_names[a]);
                else list += "Arg" + std::to_string(a);
            }
            if (blanks) s.add_at(kBlankArgument, job_id, rec_file, rec.line(), it->first, list);
        }
    }
    flow.check_bins(bin_table_file);
    flow.check_tests();
    flow.check_limits();
}

FindingsResult FindingsCollector::finish(const std::string& sheet_folder, const Baseline& baseline) const {
    // Names met here (sheet files) join the run's names: the collector's content stays the same.
    State& s = *s_;
    using Pending = State::Pending;
    // A finding with the row it stands on.
    struct Placed {
        const Pending* p;
        std::uint32_t file, line;
    };
    std::vector<Pending> extra;
    for (const auto& d : s.instances_defined)
        if (!s.marked(d.name, State::kInstanceUsed))
            extra.push_back({0, d.file, d.line, d.name, 0, 0, 0, rule_index("unused-instance")});
    for (const auto& d : s.sets_defined)
        if (!s.marked(d.name, State::kSetUsed))
            extra.push_back({0, d.file, d.line, d.name, 0, 0, 0, rule_index("unused-pattern-set")});
    // Time-set and pin levels sheets of the program: their title row names their kind.
    std::vector<std::string> files;
    std::error_code ec;
    for (auto it = fs::directory_iterator(util::path_from_utf8(sheet_folder), ec); !ec && it != fs::directory_iterator(); it.increment(ec))
        if (it->path().extension() == ".txt") files.push_back(util::path_to_utf8(it->path()));
    std::sort(files.begin(), files.end());
    std::string buf;
    for (const auto& file : files) {
        const std::string title = sheet_title(file);
        const std::string sheet = sheet_of(file);
        const std::uint32_t name = s.names.find(upper_into(sheet, buf));
        const bool timeset = title.starts_with("Time Sets"), levels = !timeset && title == "Pin Levels";
        if (timeset && !(name != Names::kNone && s.marked(name, State::kTimesetUsed)))
            extra.push_back({0, s.names.id(file), 1, s.names.id(sheet), 0, 0, 0, rule_index("unused-timeset-sheet")});
        else if (levels && !(name != Names::kNone && s.marked(name, State::kLevelsUsed)))
            extra.push_back({0, s.names.id(file), 1, s.names.id(sheet), 0, 0, 0, rule_index("unused-levels-sheet")});
    }

    std::vector<Placed> all;
    all.reserve(s.pending.size() + extra.size());
    for (const auto& p : s.pending) {
        Placed one{&p, p.file, p.line};
        // Events that name only a test are placed on the test's flow row.
        if (p.job && p.item) {
            if (const auto* row = s.test_row(p.job, p.item)) {
                // What the walk says of a row that never runs is not a finding.
                if (row->nop && (p.rule == kInstanceNotFound || p.rule == kNoSortBin)) continue;
                if (!p.file) {
                    one.file = row->file;
                    one.line = row->line;
                }
            }
        }
        all.push_back(one);
    }
    // A failure the walk could not place stands only when no finding names the same entry.
    auto entry = [](const Pending& p) { return std::uint64_t{p.job} << 32 | p.item; };
    std::vector<std::uint64_t> explained;
    explained.reserve(all.size());
    for (const auto& a : all)
        if (a.p->rule != kEntryFailed) explained.push_back(entry(*a.p));
    std::sort(explained.begin(), explained.end());
    std::erase_if(all, [&](const Placed& a) {
        return a.p->rule == kEntryFailed && std::binary_search(explained.begin(), explained.end(), entry(*a.p));
    });
    explained = {};
    for (const auto& p : extra) all.push_back({&p, p.file, p.line});

    auto message_of = [&](const Pending& p, std::string& out) {
        fill_into(kRules[p.rule].message, s.names.text(p.item), s.names.text(p.value), s.names.text(p.other),
                  s.names.text(p.text), out);
    };
    // One finding per rule, place and message (the walk reports some things once per pass).
    // Findings of the same rule, place and test are rare: only those have their messages compared.
    auto place_hash = [](const Placed& a) {
        std::uint64_t h = a.p->rule;
        for (std::uint64_t v : {std::uint64_t{a.p->job}, std::uint64_t{a.file}, std::uint64_t{a.line}, std::uint64_t{a.p->item}})
            h = (h ^ v) * 0x100000001B3ull;
        return static_cast<size_t>(h);
    };
    // Findings by hash of rule and place, each group in the order found: a finding is a repeat
    // when an earlier one of its group has the same place and message.
    std::vector<std::pair<size_t, std::uint32_t>> by_place(all.size());
    for (std::uint32_t i = 0; i < all.size(); ++i) by_place[i] = {place_hash(all[i]), i};
    std::sort(by_place.begin(), by_place.end());
    std::vector<bool> repeat(all.size());
    std::string message, earlier;
    for (size_t g = 0; g < by_place.size();) {
        size_t end = g + 1;
        while (end < by_place.size() && by_place[end].first == by_place[g].first) ++end;
        for (size_t k = g + 1; k < end; ++k) {
            const Placed& a = all[by_place[k].second];
            message_of(*a.p, message);
            for (size_t j = g; j < k; ++j) {
                const Placed& b = all[by_place[j].second];
                if (repeat[by_place[j].second] || b.p->rule != a.p->rule || b.p->job != a.p->job ||
                    b.file != a.file || b.line != a.line || b.p->item != a.p->item)
                    continue;
                message_of(*b.p, earlier);
                if (earlier == message) {
                    repeat[by_place[k].second] = true;
                    break;
                }
            }
        }
        g = end;
    }
    by_place = {};

    std::vector<std::uint32_t> kept;
    kept.reserve(all.size());
    std::unordered_map<std::uint32_t, std::string> sheet_names;  // file id -> sheet, for the baseline
    FindingsResult result;
    for (std::uint32_t i = 0; i < all.size(); ++i) {
        if (repeat[i]) continue;
        const Placed& a = all[i];
        if (!baseline.empty()) {
            auto sheet = sheet_names.find(a.file);
            if (sheet == sheet_names.end())
                sheet = sheet_names.emplace(a.file, sheet_of(std::string(s.names.text(a.file)))).first;
            if (baseline.accepts(kRules[a.p->rule].code, s.names.text(a.p->job), sheet->second,
                                 s.names.text(a.p->item))) {
                ++result.suppressed;
                continue;
            }
        }
        kept.push_back(i);
    }

    // Ordered by severity, in the order found within each.
    result.findings.reserve(kept.size());
    for (Severity severity : {Severity::error, Severity::warning, Severity::info, Severity::progress}) {
        for (auto i : kept) {
            const Placed& a = all[i];
            const FindingRule& rule = kRules[a.p->rule];
            if (rule.severity != severity) continue;
            Finding& f = result.findings.emplace_back();
            f.rule = std::string(rule.code);
            f.severity = rule.severity;
            message_of(*a.p, f.message);
            f.job = std::string(s.names.text(a.p->job));
            f.file = std::string(s.names.text(a.file));
            f.line = a.line;
            f.test = std::string(s.names.text(a.p->item));
        }
    }
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
    const std::string* sheet_file = nullptr;  // findings come in runs of one file
    std::string sheet;
    for (const auto& f : result.findings) {
        if (!sheet_file || *sheet_file != f.file) {
            sheet = f.sheet();
            sheet_file = &f.file;
        }
        json one;
        one["rule"] = f.rule;
        one["severity"] = std::string(severity_name(f.severity));
        one["message"] = f.message;
        if (!f.job.empty()) one["job"] = f.job;
        if (!f.file.empty()) one["sheet"] = sheet;
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
    // A file's place relative to the program asks the file system: once per file.
    std::unordered_map<std::string, std::string> uris;
    for (const auto& f : result.findings) {
        json one;
        one["ruleId"] = f.rule;
        one["ruleIndex"] = index[f.rule];
        one["level"] = std::string(sarif_level(f.severity));
        one["message"] = {{"text", f.message}};
        if (!f.file.empty()) {
            auto uri = uris.find(f.file);
            if (uri == uris.end()) {
                fs::path file = fs::weakly_canonical(fs::absolute(util::path_from_utf8(f.file), ec), ec);
                fs::path rel = file.lexically_relative(base);
                if (rel.empty() || *rel.begin() == "..") rel = file.filename();
                const std::u8string generic = rel.generic_u8string();
                uri = uris.emplace(f.file, uri_path(std::string(generic.begin(), generic.end()))).first;
            }
            json physical = {{"artifactLocation", {{"uri", uri->second}, {"uriBaseId", "PROGRAM"}}}};
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
