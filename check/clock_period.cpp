// Pattern block of a job sheet: the patterns of each instance record with the periods (or
// frequencies) and clock values of the time sets they use.
#include <filesystem>
#include <iterator>

#include "check/arith.h"
#include "check/job_walk.h"
#include "check/sheet_buffer.h"
#include "check/vantor.h"
#include "check/xlsx_out.h"
#include "export/common.h"
#include "util/error.h"
#include "util/platform.h"
#include "util/text.h"

namespace igxl {

namespace fs = std::filesystem;

namespace {

std::string join(const std::vector<std::string>& items) { return util::join(items, ","); }

std::uint32_t col_of(int c) { return static_cast<std::uint32_t>(c); }
std::uint32_t row_of(int r) { return static_cast<std::uint32_t>(r); }

}  // namespace

std::pair<std::vector<std::string>, std::vector<std::string>> JobWalk::extract_per_clk(
    const std::string& pattern_name, const std::string& timing_name,
    const std::string& category_name, const std::string& selector_name) {
    if (options().pattern_path.empty()) return {{""}, {""}};

    const bool frequency = options().cycle_mode == CycleMode::Frequency;
    PatternTsetMap& tset_dict = cache_.tset_dict;
    auto known = tset_dict.find(pattern_name);
    const bool seen = known != tset_dict.end();

    std::vector<std::string> tset_names;
    if (!seen) {
        Quorvin reader;
        reader.read_tset_from_pattern(util::path_to_utf8(options().pattern_path), pattern_name);
        tset_names = reader.get_pattern_tset();
    } else {
        for (const auto& [name, _] : known->second) tset_names.push_back(name);
    }

    const TimingPeriodMap& periods = *tsb_dict.at(timing_name);
    const TimingClockMap& clocks = *clock_dic.at(timing_name);

    std::vector<std::string> period_list, clock_list, stored;
    for (const auto& t : tset_names) {
        const std::string T = util::to_upper(t);
        std::string period, clock_text;
        auto pit = periods.find(T);
        if (pit == periods.end()) {
            diag::Location where;
            where.item = pattern_name;
            report(diag::Severity::warning, "check.tset-not-in-timing",
                   "Warning: Tset(" + t + ") in pattern(" + pattern_name +
                       ") is not list in TSB: " + timing_name,
                   diag::kBoth, std::move(where));
            // Its stored text is its own empty period, never the text of the time set before it.
        } else {
            const std::string& e = pit->second;
            std::string x;
            std::optional<std::string> unit;
            try {
                x = cached_spec_calculation(e, ac_spec_dict, category_name, selector_name);
                if (frequency) x = "1/(" + x + ")";
                unit = cached_unit_text(x);
            } catch (const std::exception&) {
                unit = "Error: cannot parse AC variables: " + e + "=" + x;
            }
            if (!unit)
                throw Error("period of time set '" + t + "' (" + e + ") is not above 1e-12");
            period = *unit;

            // Clocks are evaluated from the expressions as read: the clock map is shared by
            // every pattern of this time set and must not be rewritten.
            auto cit = clocks.find(T);
            if (cit != clocks.end()) {
                for (const auto& [k, v] : cit->second) {
                    std::string held = v;
                    std::optional<std::string> value;
                    try {
                        std::string y =
                            cached_spec_calculation(v, ac_spec_dict, category_name, selector_name);
                        if (frequency) y = "1/(" + y + ")";
                        held = y;
                        value = cached_unit_text(y);
                    } catch (const std::exception&) {
                        value = "Error: cannot parse AC variables: " + k + "=" + held;
                    }
                    if (!value)
                        throw Error("clock '" + k + "' of time set '" + t + "' (" + v +
                                    ") is not above 1e-12");
                    clock_text += k + ":" + *value + ";";
                }
            }
        }
        stored.push_back(period);
        period_list.push_back(std::move(period));
        clock_list.push_back(std::move(clock_text));
    }

    // A pattern met again gains one more period per time set, appended in place so a pattern
    // used by thousands of tests costs no more per use than the first.
    if (seen) {
        auto& entry = tset_dict.find(pattern_name).value();
        for (size_t i = 0; i < tset_names.size(); ++i) entry[tset_names[i]].append(",").append(stored[i]);
    } else {
        auto& entry = tset_dict[pattern_name];
        for (size_t i = 0; i < tset_names.size(); ++i) entry[tset_names[i]] = std::move(stored[i]);
    }
    return {std::move(period_list), std::move(clock_list)};
}

const JobWalk::PatternClocks& JobWalk::pattern_clocks(const std::string& pattern_name,
                                                      const std::string& timing_name,
                                                      const std::string& category_name,
                                                      const std::string& selector_name) {
    std::string& key = clock_key_;
    key.clear();
    key.append(pattern_name).append(1, '\x1f').append(timing_name).append(1, '\x1f').append(category_name)
        .append(1, '\x1f').append(selector_name);
    auto found = clock_memo_.find(key);
    if (found != clock_memo_.end()) {
        // The same texts and messages as evaluating again: the job's spec and time-set maps
        // are as they were, and the pattern's time sets are known (tset_dict only grows, so
        // its place there holds).
        const PatternClocks& memo = found->second;
        for (const auto& e : memo.events) report(e);
        auto known = cache_.tset_dict.nth(memo.tset_index);
        size_t i = 0;
        for (auto it = known.value().begin(); it != known.value().end(); ++it, ++i)
            it.value().append(",").append(memo.periods[i]);
        return memo;
    }
    auto known = cache_.tset_dict.find(pattern_name);
    if (known == cache_.tset_dict.end()) {
        // First use in the run: its time sets come from the pattern file.
        auto [periods, clocks] = extract_per_clk(pattern_name, timing_name, category_name, selector_name);
        first_clocks_.period_text = join(periods);
        first_clocks_.clock_text = join(clocks);
        return first_clocks_;
    }
    PatternClocks memo;
    memo.tset_index = static_cast<size_t>(std::distance(cache_.tset_dict.begin(), known));
    event_capture_ = &memo.events;
    std::pair<std::vector<std::string>, std::vector<std::string>> result;
    try {
        result = extract_per_clk(pattern_name, timing_name, category_name, selector_name);
    } catch (...) {
        event_capture_ = nullptr;
        throw;
    }
    event_capture_ = nullptr;
    memo.period_text = join(result.first);
    memo.clock_text = join(result.second);
    memo.periods = std::move(result.first);
    return clock_memo_.emplace(key, std::move(memo)).first->second;
}

void JobWalk::pattern_period_clk_process(int dps_count, int write_row_start,
                                        const FlowEntry& entry,
                                        const std::string& flow_table_directory,
                                        const InstanceRows* instance_rows) {
    const std::string& name = entry.Parameter;
    if (!instance_rows) {
        diag::Location where;
        where.item = name;
        report(diag::Severity::info, "check.instance-not-found",
               "Info: cannot found " + name + " in Test Instance, please check.", diag::kBoth,
               std::move(where));
        return;
    }
    const auto& records = *instance_rows;
    const bool frequency = options().cycle_mode == CycleMode::Frequency;
    int r = write_row_start;
    if (records.size() > 1) {
        xw::RowOptions collapsed;
        collapsed.collapsed = true;
        work_sheet->set_row(row_of(r + 1), xw::kDefaultRowHeight, nullptr, collapsed);
    }

    for (const auto& record : records) {
        const std::string& category = with_context_env(record.ACCategory());
        const std::string selector(record.ACSelector());
        const std::string timing(record.TimeSet());

        if (!record.Pattern().empty() && !timing.empty()) {
            // Many records name the same time-set text: its sheet path is made once per folder.
            if (flow_table_directory != timing_path_folder_) {
                timing_paths_.clear();
                timing_path_folder_ = flow_table_directory;
            }
            auto [known_path, added] = timing_paths_.try_emplace(timing);
            if (added) {
                const std::string sheet = std::string(util::split(timing, ',')[0]);
                known_path.value() = util::join_path(flow_table_directory, sheet + ".txt");
            }
            const std::string& path = known_path->second;
            // The same sheet is met by many records; parse it once per job.
            auto& source = timing_source_[timing];
            if (source != path || !tsb_dict.contains(timing)) {
                auto cached = cache_.timing_files.find(path);
                if (cached == cache_.timing_files.end()) {
                    ParseTIM reader;
                    reader.read_timing(path, options().platform);
                    cached = cache_.timing_files
                                 .emplace(path, RunCaches::TimingFile{std::move(reader.get_timing_info()),
                                                           std::move(reader.get_clk_info())})
                                 .first;
                }
                tsb_dict[timing] = &cached->second.periods;
                clock_dic[timing] = &cached->second.clocks;
                source = path;
            }

            const int c = print_inst_info_col_cnt + dps_count;
            // The headers of a pattern's three columns are the same for every record that fills
            // them: written (with the column's width) by the first one.
            auto write_header = [&](size_t k) {
                const int col = c + 3 * static_cast<int>(k);
                if (pattern_headers_.size() <= static_cast<size_t>(col)) pattern_headers_.resize(col + 1, false);
                if (pattern_headers_[col]) return;
                pattern_headers_[col] = true;
                const std::string n = std::to_string(k);
                work_sheet->write_text(0, col_of(col), "PatternName_" + n);
                work_sheet->write_text(0, col_of(col + 1), (frequency ? "Freq_" : "Period_") + n);
                work_sheet->write_text(0, col_of(col + 2), "Clock_" + n);
                work_sheet->sheet().set_column(col_of(col), col_of(col), 40);
            };
            write_header(0);

            std::vector<std::string_view>& pieces = pattern_pieces_;
            util::split_into(record.Pattern(), ',', pieces);
            for (size_t k = 0; k < pieces.size(); ++k) {
                const std::string& p = pattern_.assign(pieces[k]);
                const PatternClocks* texts = &no_clocks_;
                try {
                    texts = &pattern_clocks(p, timing, category, selector);
                    auto [tests, first_use] = cache_.pat2inst_dict.try_emplace(p);
                    if (!first_use) tests.value() += ',';
                    tests.value() += name;
                } catch (const std::exception&) {
                    diag::Location where;
                    where.item = p;
                    report(diag::Severity::warning, "check.pattern-file-unreadable",
                           "Warning: cannot read pattern file: " + p, diag::kLog, where);
                    report(diag::Severity::warning, "check.pattern-file-unreadable",
                           "Warning: cannot read pattern file: " + std::string(record.Pattern()), diag::kConsole,
                           std::move(where));
                }
                const int col = c + 3 * static_cast<int>(k);
                if (pieces.size() > 1) write_header(k);
                work_sheet->write_text(row_of(r + 1), col_of(col), p);
                work_sheet->write_text(row_of(r + 1), col_of(col + 1), texts->period_text);
                work_sheet->write_text(row_of(r + 1), col_of(col + 2), texts->clock_text);
            }
        }

        if (r != write_row_start) {
            xw::RowOptions hidden;
            hidden.hidden = true;
            hidden.level = 1;
            work_sheet->set_row(row_of(r + 1), xw::kDefaultRowHeight, nullptr, hidden);
        }
        ++r;
    }
}

}  // namespace igxl
