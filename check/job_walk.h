// The walk over one job: made anew by the driver for each job it checks, it reads the job's
// flow and sheets and fills the job's sheet. It owns what only that job needs (its pattern sets,
// time-set lookups, the memos of its spec substitutions, the sheet and its row cursor), so all
// of it is given back when the job is done; what the jobs share it finds in the driver's
// RunCaches.
#pragma once
#include <exception>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include <tsl/ordered_map.h>

#include "check/run_caches.h"
#include "check/spec_subst.h"
#include "parsers/flow_table.h"
#include "util/diagnostics.h"

namespace igxl {

class SheetBuffer;
class Vantor;
struct CheckOptions;

// Time-set field text of an instance record -> that sheet's periods or clocks. The maps point
// into the parsed time-set files of the run (one copy per sheet, not per field text naming it).
using TimesetPeriodCache = tsl::ordered_map<std::string, const TimingPeriodMap*>;
using TimesetClockCache = tsl::ordered_map<std::string, const TimingClockMap*>;

class JobWalk {
public:
    // sheet is the job's sheet; null only where no sheet is filled (white-box tests).
    JobWalk(Vantor& driver, std::string job_name, SheetBuffer* sheet);
    JobWalk(const JobWalk&) = delete;
    JobWalk& operator=(const JobWalk&) = delete;

    // Reads the job's sheets, then fills its sheet in three passes over the flow entries (row
    // reservation, flow columns and power block, pattern block).
    void run_each_flow();

private:
    friend struct VantorTestAccess;  // white-box tests of the walk's private steps

    // The driver's sink, progress and stop request.
    void report(diag::Severity severity, const char* code, std::string text,
                unsigned channels = diag::kLog, diag::Location where = {});
    void report(diag::Event event);
    void update_progressbar(double val);
    void check_stop();
    const CheckOptions& options() const;

    void init();
    void save_max_col(int col_cnt);
    // The finding-only event naming why a flow entry could not be checked.
    void report_entry_failure(const std::exception& e, const diag::Location& where, bool levels_pass);

    // The records of an entry's instance, looked up once per entry by the row pass; null when
    // the instance sheets lack it.
    using InstanceRows = InstanceMap::Records;
    void test_table_process(int flow_table_index, const FlowEntry& flow_table_info,
                            const InstanceRows* records);
    int power_process_and_get_count(const std::string& flow_table_directory,
                                    const FlowEntry& flow_table_info, int flow_table_index,
                                    const InstanceRows* records);
    void pattern_period_clk_process(int dps_count, int write_row_start,
                                    const FlowEntry& flow_table_info,
                                    const std::string& flow_table_directory,
                                    const InstanceRows* records);
    std::pair<std::vector<std::string>, std::vector<std::string>> extract_per_clk(
        const std::string& pattern_name, const std::string& timing_name,
        const std::string& category_name, const std::string& selector_name);
    // The period and clock cell texts of one use of a pattern (extract_per_clk, joined). Once
    // the pattern's time sets are known they are remembered per (pattern, time set, category,
    // selector) for the job, with the messages they gave, which every reuse gives again.
    struct PatternClocks {
        std::string period_text, clock_text;
        std::vector<std::string> periods;  // one per time set, added to tset_dict on every use
        std::vector<diag::Event> events;
        size_t tset_index = 0;  // the pattern's place in tset_dict
    };
    const PatternClocks& pattern_clocks(const std::string& pattern_name, const std::string& timing_name,
                                        const std::string& category_name, const std::string& selector_name);
    // The power pins a pin level sheet shows, in column order, worked out once per job.
    struct LevelSheetPins {
        static constexpr PowerClampTable::Pin kNoClampPin = UINT32_MAX;
        struct Shown {
            std::string pin;  // upper case, as the sheet's maps have it
            std::string display;
            const std::string* level = nullptr;
            const std::string* clamp = nullptr;  // null: the pin has no clamp row
            int column = -1;                     // job sheet column, once known
            PowerClampTable::Pin clamp_pin = kNoClampPin;  // its number in the clamp table, once known
        };
        // One evaluation of a shown pin's level or clamp (rounded), with the lines it logged,
        // which every reuse logs again.
        struct Value {
            bool done = false, ok = false;
            double value = 0;
            std::string message;  // the failure's
            std::vector<diag::Event> events;
        };
        std::string path;
        std::vector<Shown> shown;
        std::vector<std::string> not_in_levels;  // power order pins the sheet lacks
        // (DC category, selector) -> level and clamp of each shown pin (2 * i, 2 * i + 1): the
        // records of a job repeat a few categories, and the maps do not change during the walk.
        std::unordered_map<std::string, std::vector<Value>> values;
    };
    // The rounded value of expr for one shown pin, evaluated once per sheet, category and
    // selector; a failure is thrown again on every use, as the evaluation would.
    double shown_value(LevelSheetPins::Value& memo, const std::string& expr, const std::string& category,
                       const std::string& selector);
    LevelSheetPins& level_sheet_pins(const std::string& flow_table_directory, const std::string& pin_level);

    // substitute_spec_variables over the job's maps; a missing selector column and a passed
    // bound are logged as well as thrown.
    std::string spec_calculation(const std::string& target, const SpecMap& spec_dict,
                                 const std::string& category_name,
                                 const std::string& selector_name);
    // spec_calculation and the evaluation of its result, remembered for the job: the spec maps
    // do not change while a job's passes run, and every record repeats the same few
    // expressions. Lines logged by a lookup are replayed on every use, so the log stays as
    // without memo.
    std::string cached_spec_calculation(const std::string& target, const SpecMap& spec_dict,
                                        const std::string& category,
                                        const std::string& selector);
    double cached_evaluate(const std::string& text);
    // add_unit of cached_evaluate(text), remembered with the value.
    const std::optional<std::string>& cached_unit_text(const std::string& text);
    // Substitutes spec variables, rewrites units and evaluates.
    double evaluate_spec_expression(const std::string& expr, const SpecMap& spec_dict,
                                    const std::string& category, const std::string& selector);

    struct SubstMemo {
        bool ok = false;
        std::string text;  // the result, or the failure's message
        std::vector<diag::Event> logs;
        // The evaluation of text, filled on first use (levels are evaluated once per pin and
        // record, so one lookup per use instead of two matters).
        bool evaluated = false;
        bool value_ok = false;
        double value = 0;
        std::string value_message;
    };
    struct ValueMemo {
        bool ok = false;
        double value = 0;
        std::string message;
        bool unit_done = false;
        std::optional<std::string> unit;
    };
    // The memo entry of a substitution (its logged lines replayed when it was known), or null
    // for a spec map that is neither of the job's AC and DC maps.
    SubstMemo* subst_memo_entry(const std::string& target, const SpecMap& spec_dict,
                                const std::string& category, const std::string& selector);
    ValueMemo& value_memo_entry(const std::string& text);

    Vantor& driver_;
    RunCaches& cache_;
    std::string job_name_;
    SheetBuffer* work_sheet = nullptr;

    // The spec sheets as the jobs before left them (re-read here only when this job names
    // other sheets).
    GlobalSpecMap& glob_spec_dict;
    SpecMap& dc_spec_dict;
    SpecMap& ac_spec_dict;
    std::string& spec_version;

    // The job's own maps.
    PatternSetMap pattern_set_dict;
    TimesetPeriodCache tsb_dict;
    TimesetClockCache clock_dic;
    // Which file each tsb_dict / clock_dic entry was filled from.
    tsl::ordered_map<std::string, std::string> timing_source_;
    // Sheet path of each time-set field text, for the flow folder timing_path_folder_.
    tsl::ordered_map<std::string, std::string> timing_paths_;
    std::string timing_path_folder_;

    // Memos of the job's substitutions and evaluations.
    // Variables of the AC and DC maps resolved once per (category, selector).
    SpecVariableMemo ac_variable_memo_, dc_variable_memo_;
    tsl::ordered_map<std::string, SubstMemo> subst_memo_;
    tsl::ordered_map<std::string, ValueMemo> value_memo_;
    std::string memo_key_;  // reused, to build each lookup key without an allocation
    std::vector<diag::Event>* log_capture_ = nullptr;
    // While set, every event the walk reports is also kept here (for pattern_clocks).
    std::vector<diag::Event>* event_capture_ = nullptr;
    std::unordered_map<std::string, PatternClocks> clock_memo_;
    std::string clock_key_;
    // Reused record after record: a category with the context prefix, a record's pattern
    // names and the one being looked at.
    std::string category_;
    // A record's category as the sheets name it: with the context prefix when it begins with
    // "::". Valid until the next call.
    const std::string& with_context_env(std::string_view category);
    std::vector<std::string_view> pattern_pieces_;
    std::string pattern_;
    PatternClocks first_clocks_;
    const PatternClocks no_clocks_{};
    // Pin level field text -> its sheet's shown pins.
    std::unordered_map<std::string, LevelSheetPins> level_sheets_;

    // The job sheet's layout.
    int print_inst_info_col_cnt;
    int write_row_index = 0;
    // Power pins shown in the job's power block, and the column of each display name.
    std::vector<std::string> power_list;
    tsl::ordered_map<std::string, int> power_column_;
    // Columns of the job sheet whose pattern header is written (by column index).
    std::vector<bool> pattern_headers_;
};

}  // namespace igxl
