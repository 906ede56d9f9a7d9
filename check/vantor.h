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
#include "check/run_caches.h"
#include "parsers/job_list.h"
#include "util/diagnostics.h"

namespace igxl::xlsx::writer {
class Workbook;
class Worksheet;
class Format;
}  // namespace igxl::xlsx::writer

namespace igxl {

class JobWalk;
class SheetBuffer;
namespace util {
class AtomicFile;
}

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
    std::size_t pattern_count() const { return caches_.pat2inst_dict.size(); }
    // Returns the report paths written: the check report, then the VBT report when that ran.
    std::vector<std::string> run(const std::vector<std::string>& job_name_set,
                                 const std::string& work_dir = "./");

    void update_progressbar(double val);

    // Told the name of each step of a run after its jobs ("summary sheets", "findings",
    // "save") as it begins, for timing them apart; the progress bar does not tell them.
    void set_stage_hook(std::function<void(const char*)> hook) { stage_hook_ = std::move(hook); }

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
    friend class JobWalk;            // reports, progress and the run's caches

    void excel_file_optimise(SheetBuffer& worksheet, const std::string& freezePane = "C2");
    // Report sheets are filled through a SheetBuffer (see check/sheet_buffer.h): the workbook
    // streams its sheets and takes each sheet's rows in order when it is complete.
    void write_pat_tset_map(const PatternInstanceMap& pat2inst_dict, const PatternTsetMap& my_dict,
                            SheetBuffer& worksheet);
    void write_bin_descrp(SheetBuffer& worksheet);
    void write_inst_para(SheetBuffer& worksheet);
    void write_power_pin_clamp(SheetBuffer& worksheet);
    // A report cell text, cut to what a spreadsheet cell can hold (with a logged warning).
    void write_cell_text(xlsx::writer::Worksheet& ws, std::uint32_t row, std::uint32_t col,
                         const std::string& text);

    CheckOptions options_;
    std::string device_directory;
    JobListMap job_list_dict;
    LogCallback text;
    ProgressCallback progressbarOne;
    std::function<void(const char*)> stage_hook_;

    // What the jobs of a run share; the walk of the job being checked (null between jobs) owns
    // the rest of that job's state.
    RunCaches caches_;
    std::unique_ptr<JobWalk> walk_;

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
    void write_findings_sheet(xlsx::writer::Worksheet& ws, bool run_failed);
    std::string current_job_;  // the job being walked, for the events' locations

    // One message: to the log callback when it reaches the log, then to the sink. An empty
    // location names the program and the job being walked.
    void report(diag::Severity severity, const char* code, std::string text,
                unsigned channels = diag::kLog, diag::Location where = {});
    void report(diag::Event event);
    // Walks one job with a JobWalk made for it, into its sheet.
    void run_each_flow(const std::string& job_name, SheetBuffer& sheet);
    void run_vbt_step(const std::string& work_dir, std::vector<std::string>& result);
    void fail_run(const std::string& message);
    // Warns once when sheets of the program (file names in names) say in their title row that
    // they were exported for another platform family than the one the check assumes.
    void warn_other_platform(const std::vector<std::string>& names);

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
