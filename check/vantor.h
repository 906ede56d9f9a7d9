// The check driver: one check of one IG-XL test program, from device export to report workbook.
#pragma once
#include <array>
#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <tsl/ordered_map.h>

#include "check/findings.h"
#include "check/options.h"
#include "check/power_clamp_table.h"
#include "check/spec_subst.h"
#include "parsers/flow_table.h"
#include "parsers/job_list.h"
#include "parsers/pattern_sets.h"
#include "parsers/spec_sheets.h"
#include "parsers/test_instances.h"
#include "parsers/time_sets.h"
#include "parsers/pin_levels.h"
#include "util/diagnostics.h"

namespace igxl::xlsx::writer {
class Workbook;
class Worksheet;
class Format;
}  // namespace igxl::xlsx::writer

namespace igxl {

class SheetBuffer;
namespace util {
class AtomicFile;
}

// Which spec and pattern-set files were read last, so the walk never reads one twice in a row.
struct LastFlowInfo {
    std::optional<std::string> dc_spec_name;
    std::optional<std::string> glob_spec_name;
    std::optional<std::string> ac_spec_name;
    std::optional<std::string> pattern_set_name;
};

// Pattern -> names of the tests that use it, ","-joined (duplicates kept, in order of use).
using PatternInstanceMap = tsl::ordered_map<std::string, std::string>;
// Pattern -> time-set name -> ","-joined period (or frequency) texts.
using PatternTsetMap = tsl::ordered_map<std::string, tsl::ordered_map<std::string, std::string>>;

// Time-set field text of an instance record -> that sheet's periods or clocks.
// The maps point into the parsed time-set files the driver keeps (one copy per sheet, not per
// field text naming it).
using TimesetPeriodCache = tsl::ordered_map<std::string, const TimingPeriodMap*>;
using TimesetClockCache = tsl::ordered_map<std::string, const TimingClockMap*>;

class Vantor {
public:
    using LogCallback = std::function<void(const std::string&)>;
    using ProgressCallback = std::function<void(double)>;

    explicit Vantor(std::string device_directory);
    ~Vantor();
    Vantor(const Vantor&) = delete;
    Vantor& operator=(const Vantor&) = delete;

    void reset();
    // Exports or unpacks options.program (a folder is read in place) and reads its job list.
    // Log lines go to text, progress (0..100) to progressbarOne; either may be empty.
    void read_device(const CheckOptions& options, LogCallback text = nullptr,
                     ProgressCallback progressbarOne = nullptr);
    JobListMap& get_job_list() { return job_list_dict; }

    // Every message of the check also goes to sink as an event (log lines included); the log
    // callback stays the log's renderer. The sink outlives the driver's use of it.
    void set_sink(diag::Sink& sink) { out_sink_ = &sink; }

    // What the last run found wrong with the program (after the baseline of its options).
    const FindingsResult& findings() const { return findings_; }
    // The jobs the last run walked, in order.
    const std::vector<std::string>& checked_jobs() const { return run_jobs_; }
    // This tool's version, as the report and the findings outputs name it.
    static std::string version();

    const CheckOptions& options() const { return options_; }
    // The folder of sheet text files the program was read into.
    const std::string& device_folder() const { return device_directory; }
    // True when the last run ended through its catch-all (the host turns it into an exit status).
    bool last_run_failed() const { return last_run_failed_; }
    // Patterns whose time sets the last run evaluated.
    std::size_t pattern_count() const { return pat2inst_dict.size(); }
    // Returns the report paths written: the check report, then the VBT report when that ran.
    std::vector<std::string> run(const std::vector<std::string>& job_name_set,
                                 const std::string& work_dir = "./");

    void update_progressbar(double val);

    // Asked between jobs and between the tests of a pass; when it answers true the run ends as a
    // failed one (the report keeps what was walked) and stopped() tells why.
    void set_stop_check(std::function<bool()> check) { stop_check_ = std::move(check); }
    bool stopped() const { return stopped_; }

    // Engineering unit text of an evaluated value (nothing below 1e-12).
    std::optional<std::string> add_unit(double val) const;

    // The report name for a given local time: Vantor_<YYYY-MM-DD>__<HHMMSS>.xlsm, with "_<n>"
    // before the extension when suffix is not 0.
    static std::string report_file_name(const std::tm& local_time, unsigned suffix = 0);
    // Folder holding "vbaProject.bin": "bin" beside the driver library.
    static std::string vba_project_path();

private:
    friend struct VantorTestAccess;  // white-box tests of the walk's private steps

    void excel_file_optimise(SheetBuffer& worksheet, const std::string& freezePane = "C2");
    void save_max_col(int col_cnt);
    // Report sheets are filled through a SheetBuffer (see check/sheet_buffer.h): the workbook
    // streams its sheets and takes each sheet's rows in order when it is complete.
    void write_pat_tset_map(const PatternInstanceMap& pat2inst_dict, const PatternTsetMap& my_dict,
                            SheetBuffer& worksheet);
    void write_bin_descrp(SheetBuffer& worksheet);
    void write_inst_para(SheetBuffer& worksheet);
    void write_power_pin_clamp(SheetBuffer& worksheet);

    CheckOptions options_;
    std::string device_directory;
    JobListMap job_list_dict;
    SheetBuffer* work_sheet = nullptr;  // the job sheet being filled
    LogCallback text;
    LastFlowInfo last_flow_info;
    int MAX_DSP_CNT = 0;
    int print_inst_info_col_cnt = 6;
    int write_row_index = 0;
    PatternTsetMap tset_dict;
    PatternInstanceMap pat2inst_dict;
    ProgressCallback progressbarOne;
    std::vector<std::string> power_list;
    std::vector<std::array<std::string, 2>> sort_bin_dscrp;
    PowerClampTable power_pin_clamp_dict;

    // Parser maps of the job being walked (replaced job by job; specs only when re-read).
    GlobalSpecMap glob_spec_dict;
    PatternSetMap pattern_set_dict;
    InstanceMap test_instance_dict;
    SpecMap dc_spec_dict;
    SpecMap ac_spec_dict;
    std::string spec_version;
    TimesetPeriodCache tsb_dict;
    TimesetClockCache clock_dic;

    const xlsx::writer::Format* format_red = nullptr;
    const xlsx::writer::Format* format_yellow = nullptr;
    const xlsx::writer::Format* format_orange = nullptr;
    const xlsx::writer::Format* format_bold = nullptr;

    bool last_run_failed_ = false;
    std::function<bool()> stop_check_;
    bool stopped_ = false;
    // Throws when a stop was asked for.
    void check_stop();
    diag::Sink* out_sink_ = &diag::null_sink();
    // Every event passes here on its way to out_sink_, so the findings see what the log shows.
    diag::FunctionSink capture_;
    diag::Sink* sink_ = &capture_;
    FindingsCollector findings_collector_;
    FindingsResult findings_;
    std::vector<std::string> run_jobs_;
    std::string job_list_path_;
    xlsx::writer::Worksheet* findings_sheet_ = nullptr;
    // Derives the findings and fills the first sheet with them (it was added first, empty).
    void write_findings(bool run_failed);
    void write_findings_sheet(SheetBuffer& ws, bool run_failed);
    // The finding-only event naming why a flow entry could not be checked.
    void report_entry_failure(const std::exception& e, const diag::Location& where, bool levels_pass);
    std::string current_job_;  // the job being walked, for the events' locations

    // One message: to the log callback when it reaches the log, then to the sink. An empty
    // location names the program and the job being walked.
    void report(diag::Severity severity, const char* code, std::string text,
                unsigned channels = diag::kLog, diag::Location where = {});
    void report(diag::Event event);
    void run_each_flow(const std::string& job_name);
    void init();
    void run_vbt_step(const std::string& work_dir, std::vector<std::string>& result);
    // Clears what the flow walk keeps between jobs (parser maps and their versions).
    void reset_walk_state();
    void fail_run(const std::string& message);
    // Warns once when sheets of the program (file names in names) say in their title row that
    // they were exported for another platform family than the one the check assumes.
    void warn_other_platform(const std::vector<std::string>& names);

    void test_table_process(int flow_table_index, const FlowEntry& flow_table_info);
    // substitute_spec_variables over the job's maps; a missing selector column and a passed
    // bound are logged as well as thrown.
    std::string spec_calculation(const std::string& target, const SpecMap& spec_dict,
                                 const std::string& category_name,
                                 const std::string& selector_name);
    // Variables of the job's AC and DC maps resolved once per (category, selector) while the
    // spec maps stay as read; cleared with subst_memo_.
    SpecVariableMemo ac_variable_memo_, dc_variable_memo_;
    std::pair<std::vector<std::string>, std::vector<std::string>> extract_per_clk(
        const std::string& pattern_name, const std::string& timing_name,
        const std::string& category_name, const std::string& selector_name);
    void pattern_period_clk_process(int dps_count, int write_row_start,
                                    const FlowEntry& flow_table_info,
                                    const std::string& flow_table_directory);
    int power_process_and_get_count(const std::string& flow_table_directory,
                                    const FlowEntry& flow_table_info, int flow_table_index);
    // A report cell text, cut to what a spreadsheet cell can hold (with a logged warning).
    void write_cell_text(xlsx::writer::Worksheet& ws, std::uint32_t row, std::uint32_t col,
                         const std::string& text);
    // spec_calculation and the evaluation of its result, remembered per job: the spec maps do
    // not change while a job's passes run, and every record repeats the same few expressions.
    // Lines logged by a lookup are replayed on every use, so the log stays as without memo.
    std::string cached_spec_calculation(const std::string& target, const SpecMap& spec_dict,
                                        const std::string& category,
                                        const std::string& selector);
    double cached_evaluate(const std::string& text);
    // add_unit of cached_evaluate(text), remembered with the value.
    const std::optional<std::string>& cached_unit_text(const std::string& text);
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
    // The memo entry of a substitution (its logged lines replayed when it was known), or null
    // for a spec map that is neither of the job's AC and DC maps.
    SubstMemo* subst_memo_entry(const std::string& target, const SpecMap& spec_dict,
                                const std::string& category, const std::string& selector);
    std::string memo_key_;  // reused, to build each lookup key without an allocation
    struct ValueMemo {
        bool ok = false;
        double value = 0;
        std::string message;
        bool unit_done = false;
        std::optional<std::string> unit;
    };
    ValueMemo& value_memo_entry(const std::string& text);
    tsl::ordered_map<std::string, SubstMemo> subst_memo_;
    tsl::ordered_map<std::string, ValueMemo> value_memo_;
    std::vector<diag::Event>* log_capture_ = nullptr;

    // Substitutes spec variables, rewrites units and evaluates.
    double evaluate_spec_expression(const std::string& expr, const SpecMap& spec_dict,
                                    const std::string& category, const std::string& selector);

    // Parsed files kept for the driver's life: the walk re-reads the same sheets for every
    // instance record, and a pattern-set file skipped as "read last" must keep its sets.
    struct PatternSetFile {
        PatternSetMap sets;
    };
    struct TimingFile {
        TimingPeriodMap periods;
        TimingClockMap clocks;
    };
    struct PinLevelFile {
        PinValueMap levels;
        PinValueMap clamps;
    };
    tsl::ordered_map<std::string, PatternSetFile> pattern_set_files_;
    tsl::ordered_map<std::string, TimingFile> timing_files_;
    tsl::ordered_map<std::string, PinLevelFile> pin_level_files_;
    // Which file each tsb_dict / clock_dic entry was last filled from.
    tsl::ordered_map<std::string, std::string> timing_source_;
    // Power order rows (pin, alias) of power_order_path, read once per run.
    std::optional<std::vector<std::pair<std::string, std::string>>> power_order_rows_;
    // Column of each display name in power_list.
    tsl::ordered_map<std::string, int> power_column_;
    // The instance and pattern-set sheets test_instance_dict was read from, and whether every
    // one of them was read.
    std::pair<std::vector<std::string>, std::vector<std::string>> instances_read_;
    bool instances_read_whole_ = false;
    // Sheet path of each time-set field text, for the flow folder timing_path_folder_.
    tsl::ordered_map<std::string, std::string> timing_paths_;
    std::string timing_path_folder_;
    // Columns of the job sheet whose pattern header is written (by column index).
    std::vector<bool> pattern_headers_;

    // Adds a worksheet and the buffer that fills it; close_sheet writes the buffered rows.
    SheetBuffer& open_sheet(const std::string& name);
    void close_sheet();

    std::unique_ptr<xlsx::writer::Workbook> workbook_;
    // The report is written under a temporary name and takes its own only once saved whole.
    std::unique_ptr<util::AtomicFile> report_file_;
    std::tm report_time_{};
    std::string report_folder_;
    std::string report_path_;  // the name the report took
    // Gives the written report the first free name of its second (throws when none is free).
    void commit_report();
    std::unique_ptr<SheetBuffer> open_sheet_;
};

}  // namespace igxl
