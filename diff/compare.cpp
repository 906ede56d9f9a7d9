#include "diff/compare.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <unordered_map>

#include "check/arith.h"
#include "check/spec_subst.h"
#include "export/common.h"
#include "util/text.h"

namespace igxl::diff::detail {

namespace {

std::string_view bare(std::string_view s) {
    s = util::strip(s);
    if (!s.empty() && s.front() == '=') s = util::strip(s.substr(1));
    return s;
}

bool same_number(double x, double y) {
    return x == y || std::fabs(x - y) <= 1e-9 * std::max(std::fabs(x), std::fabs(y));
}

// Twelve significant digits: enough to tell any real change, short of binary noise such as
// 50*1e-9 = 5.0000000000000004e-08.
std::string value_text(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.12g", v);
    return buf;
}

std::string join(const std::vector<std::string>& items) { return util::join(items, ","); }

// The keys of either map (or symbol columns): a's in order, then those only b has.
template <class Map>
std::vector<std::string> union_keys(const Map& a, const Map& b) {
    std::vector<std::string> keys;
    keys.reserve(a.size() + b.size());
    for (const auto& [k, _] : a) keys.emplace_back(k);
    for (const auto& [k, _] : b)
        if (!a.contains(k)) keys.emplace_back(k);
    return keys;
}

std::string flow_summary(const FlowEntry& e) {
    std::string out;
    for (auto [key, value] : e.fields()) {
        if (key == "Parameter") continue;
        if (!out.empty()) out += " ";
        out.append(key).append("=").append(value);
    }
    return out;
}

std::string instance_summary(const InstanceRecord& r) {
    std::string out;
    for (std::string_view piece : {r.Method(), std::string_view(" "), r.DCCategory(), std::string_view("/"),
                                   r.DCSelector(), std::string_view(" "), r.ACCategory(), std::string_view("/"),
                                   r.ACSelector(), std::string_view(" "), r.TimeSet(), std::string_view(" "),
                                   r.PinLevel()})
        out += piece;
    return out;
}

std::string symbol_summary(const SpecSymbolMap& columns) {
    std::string out;
    for (const auto& [column, value] : columns) {
        if (!out.empty()) out += "; ";
        out.append(column).append(1, '=').append(value);
    }
    return out;
}

class Comparer {
public:
    Comparer(const Revision& a, const Revision& b, std::vector<Change>& out)
        : a_(a), b_(b), out_(out), globals_same_(a.globals == b.globals) {
        for (const auto& sheet : union_keys(a.specs, b.specs)) {
            auto x = a.specs.find(sheet), y = b.specs.find(sheet);
            spec_same_[sheet] = x != a.specs.end() && y != b.specs.end() && x->second == y->second;
        }
    }

    void jobs(const std::vector<std::string>& jobs);
    void flows(const std::vector<std::string>& jobs);
    void instances();
    void levels();
    void time_sets();
    void specs();
    void globals();
    void pattern_sets();

private:
    void add(ChangeType change, Kind kind, const std::string& job, const std::string& sheet,
             const std::string& key, const std::string& field, std::optional<std::string> o,
             std::optional<std::string> n) {
        out_.push_back(Change{change, kind, job, sheet, key, field, std::move(o), std::move(n)});
    }
    bool skipped(const std::string& sheet) const {
        return a_.unreadable.contains(sheet) || b_.unreadable.contains(sheet);
    }
    // The same spec sheet and global specs in both revisions: an unchanged expression resolves
    // to the same value there.
    bool context_same(const Context& c) const {
        if (!globals_same_) return false;
        auto found = spec_same_.find(c.spec_sheet);
        return found == spec_same_.end() || found->second;  // in neither revision
    }
    // The value of text in context c (none: globals only), or none when it does not resolve.
    std::optional<double> resolve(const Revision& r, const std::string& text, const Context* c);
    // An expression field present in both revisions: its text change (a note when it resolves
    // to the same value everywhere it is used) and each change of its resolved value.
    void expression(Kind kind, const std::string& sheet, const std::string& key,
                    const std::string& field, const std::string& o, const std::string& n,
                    const std::set<Context>* ca = nullptr, const std::set<Context>* cb = nullptr);
    void records(const std::string& name, const std::string& sheet, const InstanceRecord& o,
                 const InstanceRecord& n, const std::string& prefix);
    // Map: a key -> value text map (PinValueMap, TimingPeriodMap, ClockMap).
    template <class Map>
    void value_maps(Kind kind, const std::string& sheet, const std::string& field,
                    const Map* o, const Map* n, const std::set<Context>* ca,
                    const std::set<Context>* cb, const std::string& key_prefix = {});

    const Revision& a_;
    const Revision& b_;
    std::vector<Change>& out_;
    bool globals_same_;
    std::unordered_map<std::string, bool> spec_same_;  // spec sheet -> same in both
    // Variables resolved per revision and spec sheet ("" for the globals alone), reused by every
    // expression and context of the comparison.
    std::map<std::pair<const Revision*, std::string>, SpecVariableMemo> memos_;
};

std::optional<double> Comparer::resolve(const Revision& r, const std::string& text,
                                        const Context* c) {
    static const SpecSheet none;
    const SpecSheet* spec = &none;
    if (c) {
        auto it = r.specs.find(c->spec_sheet);
        if (it != r.specs.end()) spec = &it->second;
    }
    SpecVariableMemo& memo = memos_[{&r, spec == &none ? std::string() : c->spec_sheet}];
    try {
        const std::string plain =
            substitute_spec_variables(text, r.globals, spec->symbols, spec->version,
                                      c ? c->category : std::string(),
                                      c ? c->selector : std::string(), &memo);
        return evaluate_expression(format_str(plain));
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

void Comparer::expression(Kind kind, const std::string& sheet, const std::string& key,
                          const std::string& field, const std::string& o, const std::string& n,
                          const std::set<Context>* ca, const std::set<Context>* cb) {
    const bool text_same = same_text(o, n);
    std::set<Context> contexts;
    if (ca) contexts.insert(ca->begin(), ca->end());
    if (cb) contexts.insert(cb->begin(), cb->end());

    if (contexts.empty()) {
        if (text_same) return;
        auto x = resolve(a_, o, nullptr), y = resolve(b_, n, nullptr);
        add(x && y && same_number(*x, *y) ? ChangeType::note : ChangeType::changed, kind, {},
            sheet, key, field, o, n);
        return;
    }

    auto shown = [](const std::optional<double>& v) { return v ? value_text(*v) : std::string("unresolved"); };
    bool same_everywhere = true;
    std::vector<Change> values;
    for (const Context& c : contexts) {
        if (text_same && context_same(c)) continue;
        auto x = resolve(a_, o, &c), y = resolve(b_, n, &c);
        if (x && y && same_number(*x, *y)) continue;
        same_everywhere = false;
        if (!x && !y) continue;  // nothing known to compare in this context
        values.push_back(Change{ChangeType::changed, kind, {}, sheet, key,
                                field + " at " + c.category + "/" + c.selector + " (" +
                                    c.spec_sheet + ")",
                                shown(x), shown(y)});
    }
    if (!text_same)
        add(same_everywhere ? ChangeType::note : ChangeType::changed, kind, {}, sheet, key, field,
            o, n);
    out_.insert(out_.end(), std::make_move_iterator(values.begin()),
                std::make_move_iterator(values.end()));
}

void Comparer::jobs(const std::vector<std::string>& jobs) {
    const std::string& sheet = b_.job_list_sheet.empty() ? a_.job_list_sheet : b_.job_list_sheet;
    for (const auto& job : jobs) {
        auto x = a_.jobs.find(job), y = b_.jobs.find(job);
        if (x == a_.jobs.end() && y == b_.jobs.end()) continue;
        if (x == a_.jobs.end()) {
            add(ChangeType::added, Kind::job, job, sheet, job, {}, std::nullopt,
                "Flow Table=" + y->second.FlowTable);
            continue;
        }
        if (y == b_.jobs.end()) {
            add(ChangeType::removed, Kind::job, job, sheet, job, {},
                "Flow Table=" + x->second.FlowTable, std::nullopt);
            continue;
        }
        const JobRecord& o = x->second;
        const JobRecord& n = y->second;
        const std::pair<std::string, std::string> fields[] = {
            {join(o.TestInstanceList), join(n.TestInstanceList)},
            {o.FlowTable, n.FlowTable},
            {o.DCSpec, n.DCSpec},
            {o.ACSpec, n.ACSpec},
            {join(o.PatternSet), join(n.PatternSet)},
            {o.GlobalSpec, n.GlobalSpec}};
        for (size_t i = 0; i < std::size(fields); ++i) {
            if (fields[i].first != fields[i].second)
                add(ChangeType::changed, Kind::job, job, sheet, job,
                    std::string(JobRecord::KEYS[i]), fields[i].first, fields[i].second);
        }
    }
}

void Comparer::flows(const std::vector<std::string>& jobs) {
    for (const auto& job : jobs) {
        auto x = a_.flows.find(job), y = b_.flows.find(job);
        if (x == a_.flows.end() || y == b_.flows.end()) continue;  // job added or removed
        const std::string& sheet = b_.jobs.at(job).FlowTable;
        if (skipped(a_.jobs.at(job).FlowTable) || skipped(sheet)) continue;
        const FlowEntryList& o = x->second;
        const FlowEntryList& n = y->second;

        // Key of an entry: its test name and which occurrence of that name it is.
        auto key_of = [](const std::string& name, unsigned occurrence) {
            std::string key = name;
            key.push_back('\x1f');
            key += std::to_string(occurrence);
            return key;
        };
        auto shown_key = [](const std::string& name, unsigned occurrence) {
            return occurrence > 1 ? name + " #" + std::to_string(occurrence) : name;
        };
        std::unordered_map<std::string, size_t> old_index;
        old_index.reserve(o.size());
        std::vector<unsigned> old_occurrence(o.size());
        {
            std::unordered_map<std::string, unsigned> seen;
            for (size_t i = 0; i < o.size(); ++i) {
                old_occurrence[i] = ++seen[o[i].Parameter];
                old_index.emplace(key_of(o[i].Parameter, old_occurrence[i]), i);
            }
        }
        std::vector<bool> matched(o.size(), false);
        std::vector<std::pair<size_t, size_t>> pairs;  // (old, new), in new order
        std::vector<unsigned> new_occurrence(n.size());
        {
            std::unordered_map<std::string, unsigned> seen;
            for (size_t j = 0; j < n.size(); ++j) {
                new_occurrence[j] = ++seen[n[j].Parameter];
                auto hit = old_index.find(key_of(n[j].Parameter, new_occurrence[j]));
                if (hit == old_index.end()) continue;
                matched[hit->second] = true;
                pairs.emplace_back(hit->second, j);
            }
        }
        // Entries off the longest run kept in order are the ones that moved.
        std::vector<size_t> order;
        order.reserve(pairs.size());
        for (const auto& p : pairs) order.push_back(p.first);
        std::vector<bool> in_order(pairs.size(), false);
        for (size_t k : longest_increasing_run(order)) in_order[k] = true;

        // Changes in new-flow order: additions and changes where they stand, removals after.
        size_t next_pair = 0;
        for (size_t j = 0; j < n.size(); ++j) {
            const std::string key = shown_key(n[j].Parameter, new_occurrence[j]);
            if (next_pair >= pairs.size() || pairs[next_pair].second != j) {
                add(ChangeType::added, Kind::flow_entry, job, sheet, key, {}, std::nullopt,
                    "position " + std::to_string(j + 1) + ": " + flow_summary(n[j]));
                continue;
            }
            const size_t i = pairs[next_pair].first;
            const bool kept_order = in_order[next_pair];
            ++next_pair;
            bool changed = false;
            const auto of = o[i].fields();
            const auto nf = n[j].fields();
            for (size_t f = 0; f < of.size(); ++f) {
                if (of[f].first == "Parameter" || same_text(of[f].second, nf[f].second)) continue;
                add(ChangeType::changed, Kind::flow_entry, job, sheet, key,
                    std::string(of[f].first), std::string(of[f].second),
                    std::string(nf[f].second));
                changed = true;
            }
            if (!kept_order)
                add(changed ? ChangeType::changed : ChangeType::moved, Kind::flow_entry, job,
                    sheet, key, "position", std::to_string(i + 1), std::to_string(j + 1));
        }
        for (size_t i = 0; i < o.size(); ++i) {
            if (matched[i]) continue;
            add(ChangeType::removed, Kind::flow_entry, job, sheet,
                shown_key(o[i].Parameter, old_occurrence[i]), {},
                "position " + std::to_string(i + 1) + ": " + flow_summary(o[i]), std::nullopt);
        }
    }
}

void Comparer::records(const std::string& name, const std::string& sheet,
                       const InstanceRecord& o, const InstanceRecord& n,
                       const std::string& prefix) {
    const std::string_view old_fields[] = {o.Method(),     o.DCCategory(), o.DCSelector(), o.TimeSet(),
                                           o.ACCategory(), o.ACSelector(), o.PinLevel(),   o.Pattern(),
                                           o.ArgList()};
    const std::string_view new_fields[] = {n.Method(),     n.DCCategory(), n.DCSelector(), n.TimeSet(),
                                           n.ACCategory(), n.ACSelector(), n.PinLevel(),   n.Pattern(),
                                           n.ArgList()};
    for (size_t f = 0; f < std::size(old_fields); ++f) {
        if (!same_text(old_fields[f], new_fields[f]))
            add(ChangeType::changed, Kind::instance, {}, sheet, name,
                prefix + std::string(InstanceRecord::KEYS[f]), std::string(old_fields[f]),
                std::string(new_fields[f]));
    }
    const InstanceArgs old_args = o.ArgDetails(), new_args = n.ArgDetails();
    if (old_args == new_args) return;
    // Arguments are named by the new revision's argument list.
    const auto names = util::split(n.ArgList(), ',');
    const size_t count = std::max(old_args.size(), new_args.size());
    for (size_t k = 0; k < count; ++k) {
        const std::string x(k < old_args.size() ? old_args[k] : std::string_view{});
        const std::string y(k < new_args.size() ? new_args[k] : std::string_view{});
        const std::string arg = k < names.size() && !names[k].empty()
                                    ? std::string(names[k])
                                    : "Arg" + std::to_string(k);
        expression(Kind::instance, sheet, name, prefix + arg, x, y);
    }
}

void Comparer::instances() {
    for (const auto& name : union_keys(a_.instances, b_.instances)) {
        auto x = a_.instances.find(name), y = b_.instances.find(name);
        if (y == b_.instances.end()) {
            if (skipped(x->second.sheet)) continue;
            add(ChangeType::removed, Kind::instance, {}, x->second.sheet, name, {},
                instance_summary(x->second.records.front()), std::nullopt);
            continue;
        }
        if (x == a_.instances.end()) {
            if (skipped(y->second.sheet)) continue;
            add(ChangeType::added, Kind::instance, {}, y->second.sheet, name, {}, std::nullopt,
                instance_summary(y->second.records.front()));
            continue;
        }
        const InstanceItem& o = x->second;
        const InstanceItem& n = y->second;
        if (o.sheet != n.sheet)
            add(ChangeType::changed, Kind::instance, {}, n.sheet, name, "sheet", o.sheet, n.sheet);
        const size_t count = std::max(o.records.size(), n.records.size());
        for (size_t k = 0; k < count; ++k) {
            const std::string prefix = k ? "record " + std::to_string(k + 1) + ": " : "";
            if (k >= o.records.size()) {
                add(ChangeType::added, Kind::instance, {}, n.sheet, name,
                    "record " + std::to_string(k + 1), std::nullopt,
                    instance_summary(n.records[k]));
            } else if (k >= n.records.size()) {
                add(ChangeType::removed, Kind::instance, {}, n.sheet, name,
                    "record " + std::to_string(k + 1), instance_summary(o.records[k]),
                    std::nullopt);
            } else {
                records(name, n.sheet, o.records[k], n.records[k], prefix);
            }
        }
    }
}

template <class Map>
void Comparer::value_maps(Kind kind, const std::string& sheet, const std::string& field,
                          const Map* o, const Map* n,
                          const std::set<Context>* ca, const std::set<Context>* cb,
                          const std::string& key_prefix) {
    static const Map none;
    if (!o) o = &none;
    if (!n) n = &none;
    for (const auto& key : union_keys(*o, *n)) {
        auto x = o->find(key), y = n->find(key);
        const std::string shown = key_prefix + key;
        if (y == n->end())
            add(ChangeType::removed, kind, {}, sheet, shown, field, x->second, std::nullopt);
        else if (x == o->end())
            add(ChangeType::added, kind, {}, sheet, shown, field, std::nullopt, y->second);
        else
            expression(kind, sheet, shown, field, x->second, y->second, ca, cb);
    }
}

template <class Map>
const typename Map::mapped_type* find_in(const Map& m, const std::string& key) {
    auto it = m.find(key);
    return it == m.end() ? nullptr : &it->second;
}

void Comparer::levels() {
    for (const auto& sheet : union_keys(a_.levels, b_.levels)) {
        if (skipped(sheet)) continue;
        const LevelSheet* o = find_in(a_.levels, sheet);
        const LevelSheet* n = find_in(b_.levels, sheet);
        const auto* ca = find_in(a_.level_contexts, sheet);
        const auto* cb = find_in(b_.level_contexts, sheet);
        value_maps(Kind::level, sheet, "VMain/VPS", o ? &o->levels : nullptr,
                   n ? &n->levels : nullptr, ca, cb);
        value_maps(Kind::level, sheet, "IFoldLevel", o ? &o->clamps : nullptr,
                   n ? &n->clamps : nullptr, ca, cb);
    }
}

void Comparer::time_sets() {
    static const ClockMap no_clocks;
    for (const auto& sheet : union_keys(a_.time_sets, b_.time_sets)) {
        if (skipped(sheet)) continue;
        const TimeSetSheet* o = find_in(a_.time_sets, sheet);
        const TimeSetSheet* n = find_in(b_.time_sets, sheet);
        const auto* ca = find_in(a_.time_set_contexts, sheet);
        const auto* cb = find_in(b_.time_set_contexts, sheet);
        value_maps(Kind::time_set, sheet, "Period", o ? &o->periods : nullptr,
                   n ? &n->periods : nullptr, ca, cb);
        static const TimingClockMap none;
        const TimingClockMap& oc = o ? o->clocks : none;
        const TimingClockMap& nc = n ? n->clocks : none;
        for (const auto& ts : union_keys(oc, nc)) {
            const ClockMap* x = find_in(oc, ts);
            const ClockMap* y = find_in(nc, ts);
            // A time set added or removed is told by its period; its clocks only where it stays.
            if (!x || !y) continue;
            value_maps(Kind::time_set, sheet, "Clock", x, y, ca, cb, ts + " ");
        }
    }
}

void Comparer::specs() {
    for (const auto& sheet : union_keys(a_.specs, b_.specs)) {
        if (skipped(sheet)) continue;
        static const SpecMap none;
        const SpecSheet* os = find_in(a_.specs, sheet);
        const SpecSheet* ns = find_in(b_.specs, sheet);
        const SpecMap& o = os ? os->symbols : none;
        const SpecMap& n = ns ? ns->symbols : none;
        for (const auto& symbol : union_keys(o, n)) {
            auto x = o.find(symbol), y = n.find(symbol);
            if (y == n.end()) {
                add(ChangeType::removed, Kind::spec, {}, sheet, symbol, {},
                    symbol_summary(x->second), std::nullopt);
            } else if (x == o.end()) {
                add(ChangeType::added, Kind::spec, {}, sheet, symbol, {}, std::nullopt,
                    symbol_summary(y->second));
            } else {
                // Columns are "CATEGORY SELECTOR" (and 3.0 sheets' "SELECTORS <name>").
                for (const auto& column : union_keys(x->second, y->second)) {
                    const auto u = x->second.find(column), v = y->second.find(column);
                    if (!v)
                        add(ChangeType::removed, Kind::spec, {}, sheet, symbol, column, std::string(*u),
                            std::nullopt);
                    else if (!u)
                        add(ChangeType::added, Kind::spec, {}, sheet, symbol, column,
                            std::nullopt, std::string(*v));
                    else
                        expression(Kind::spec, sheet, symbol, column, std::string(*u), std::string(*v));
                }
            }
        }
    }
}

void Comparer::globals() {
    const std::string& sheet = b_.global_sheet.empty() ? a_.global_sheet : b_.global_sheet;
    if (skipped(sheet)) return;
    for (const auto& symbol : union_keys(a_.globals, b_.globals)) {
        auto x = a_.globals.find(symbol), y = b_.globals.find(symbol);
        if (y == b_.globals.end())
            add(ChangeType::removed, Kind::global_spec, {}, sheet, symbol, "Value", x->second,
                std::nullopt);
        else if (x == a_.globals.end())
            add(ChangeType::added, Kind::global_spec, {}, sheet, symbol, "Value", std::nullopt,
                y->second);
        else
            expression(Kind::global_spec, sheet, symbol, "Value", x->second, y->second);
    }
}

void Comparer::pattern_sets() {
    for (const auto& name : union_keys(a_.pattern_sets, b_.pattern_sets)) {
        auto x = a_.pattern_sets.find(name), y = b_.pattern_sets.find(name);
        if (y == b_.pattern_sets.end()) {
            if (!skipped(x->second.sheet))
                add(ChangeType::removed, Kind::pattern_set, {}, x->second.sheet, name, {},
                    join(x->second.entries), std::nullopt);
            continue;
        }
        if (x == a_.pattern_sets.end()) {
            if (!skipped(y->second.sheet))
                add(ChangeType::added, Kind::pattern_set, {}, y->second.sheet, name, {},
                    std::nullopt, join(y->second.entries));
            continue;
        }
        const PatternSetItem& o = x->second;
        const PatternSetItem& n = y->second;
        if (o.sheet != n.sheet)
            add(ChangeType::changed, Kind::pattern_set, {}, n.sheet, name, "sheet", o.sheet,
                n.sheet);
        // Entries as a multiset: what the set gained and lost; the order apart.
        std::unordered_map<std::string, long> balance;
        for (const auto& e : o.entries) --balance[e];
        for (const auto& e : n.entries) ++balance[e];
        bool same_members = true;
        for (const auto& e : n.entries) {
            long& b = balance[e];
            if (b > 0) {
                add(ChangeType::added, Kind::pattern_set, {}, n.sheet, name, "pattern",
                    std::nullopt, e);
                --b;
                same_members = false;
            }
        }
        for (const auto& e : o.entries) {
            long& b = balance[e];
            if (b < 0) {
                add(ChangeType::removed, Kind::pattern_set, {}, n.sheet, name, "pattern", e,
                    std::nullopt);
                ++b;
                same_members = false;
            }
        }
        if (same_members && o.entries != n.entries)
            add(ChangeType::changed, Kind::pattern_set, {}, n.sheet, name, "order",
                join(o.entries), join(n.entries));
    }
}

}  // namespace

bool same_text(std::string_view a, std::string_view b) {
    if (a == b) return true;
    const std::string_view x = bare(a), y = bare(b);
    if (x == y) return true;
    double u = 0, v = 0;
    return util::parse_double(x, u) && util::parse_double(y, v) && u == v;
}

std::vector<size_t> longest_increasing_run(const std::vector<size_t>& seq) {
    std::vector<size_t> tails;  // index in seq of the smallest tail of each run length
    std::vector<size_t> prev(seq.size(), static_cast<size_t>(-1));
    for (size_t i = 0; i < seq.size(); ++i) {
        auto pos = std::lower_bound(tails.begin(), tails.end(), seq[i],
                                    [&](size_t t, size_t v) { return seq[t] < v; });
        if (pos != tails.begin()) prev[i] = *(pos - 1);
        if (pos == tails.end())
            tails.push_back(i);
        else
            *pos = i;
    }
    std::vector<size_t> run;
    if (tails.empty()) return run;
    for (size_t i = tails.back(); i != static_cast<size_t>(-1); i = prev[i]) run.push_back(i);
    std::reverse(run.begin(), run.end());
    return run;
}

std::vector<Change> compare_revisions(const Revision& old_rev, const Revision& new_rev,
                                      const std::vector<std::string>& jobs) {
    std::vector<Change> out;
    Comparer c(old_rev, new_rev, out);
    c.jobs(jobs);
    c.flows(jobs);
    c.instances();
    c.levels();
    c.time_sets();
    c.specs();
    c.globals();
    c.pattern_sets();
    return out;
}

}  // namespace igxl::diff::detail
