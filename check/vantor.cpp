#include "check/vantor.h"

#include <algorithm>
#include <filesystem>

#include "check/job_walk.h"
#include "check/power_order.h"
#include "check/progress.h"
#include "check/report_layout.h"
#include "check/sheet_buffer.h"
#include "check/xlsx_out.h"
#include "export/common.h"
#include "util/error.h"
#include "util/lines.h"
#include "util/platform.h"
#include "util/regex.h"

namespace igxl {

namespace fs = std::filesystem;

Vantor::Vantor(std::string device_dir)
    : device_directory(std::move(device_dir)), capture_([this](const diag::Event& e) {
          if (e.where.job.empty() && !current_job_.empty()) {
              diag::Event placed = e;
              placed.where.job = current_job_;
              findings_collector_.add_event(placed);
          } else {
              findings_collector_.add_event(e);
          }
          out_sink_->emit(e);
      }) {}

std::string Vantor::version() {
#ifdef VANTOR_VERSION
    return VANTOR_VERSION;
#else
    return "0.0.0";
#endif
}

// An unsaved workbook is dropped: nothing of it reaches the disk.
Vantor::~Vantor() = default;

void Vantor::reset() {
    std::string keep = std::move(device_directory);
    walk_.reset();
    open_sheet_.reset();
    workbook_.reset();
    report_file_.reset();
    options_ = CheckOptions{};
    job_list_dict.clear();
    text = nullptr;
    progressbarOne = nullptr;
    caches_ = RunCaches{};
    format_red = format_yellow = format_orange = format_bold = nullptr;
    last_run_failed_ = false;
    current_job_.clear();
    findings_collector_.clear();
    findings_ = FindingsResult{};
    run_jobs_.clear();
    job_list_path_.clear();
    findings_sheet_ = nullptr;
    device_directory = std::move(keep);
}

void Vantor::report(diag::Severity severity, const char* code, std::string message,
                    unsigned channels, diag::Location where) {
    report(diag::make_event(severity, code, std::move(message), channels, std::move(where)));
}

void Vantor::report(diag::Event e) {
    if (e.where.program.empty()) e.where.program = util::path_to_utf8(options_.program);
    if (e.where.job.empty()) e.where.job = current_job_;
    if ((e.channels & diag::kLog) && text) text(e.text);
    sink_->emit(e);
}

void Vantor::check_stop() {
    if (stop_check_ && stop_check_()) {
        stopped_ = true;
        throw Error("stopped on request");
    }
}

void Vantor::update_progressbar(double val) {
    if (progressbarOne) progressbarOne(val);
}

namespace {
std::string base_name(const std::string& path) {
    size_t p = path.find_last_of('/');
    return p == std::string::npos ? path : path.substr(p + 1);
}

std::string drop_extension(const std::string& name) {
    size_t p = name.find_last_of('.');
    return (p == std::string::npos || p == 0) ? name : name.substr(0, p);
}
}  // namespace

void Vantor::read_device(const CheckOptions& options, LogCallback log,
                         ProgressCallback progress) {
    reset();
    options_ = options;
    text = std::move(log);
    progressbarOne = std::move(progress);
    const std::string device_path = util::path_to_utf8(options_.program);
    if (!options_.context_env.empty())
        report(diag::Severity::info, "check.context-env",
               "Import Context Environment: " + options_.context_env);
    if (!options_.power_order.empty())
        report(diag::Severity::info, "check.power-order-file",
               "Import Power Order File: " + util::path_to_utf8(options_.power_order));
    if (!options_.pattern_path.empty())
        report(diag::Severity::info, "check.pattern-path",
               "Import Pattern Path: " + util::path_to_utf8(options_.pattern_path));

    if (util::is_directory(device_path)) {
        device_directory = device_path;
    } else {
        if (device_path.ends_with(".igxl") || device_path.ends_with(".zip")) {
            unzip(device_path, device_directory, *sink_, options_.export_options);
        } else if (device_path.ends_with(".xlsm")) {
            export_sheets_to_txt(device_path, device_directory, options_.export_options);
        } else {
            report(diag::Severity::error, "check.unsupported-extension",
                   "Error: file extension is not supported.");
        }
        std::string own_folder =
            util::join_path(device_directory, drop_extension(base_name(device_path)));
        if (util::is_directory(own_folder)) device_directory = own_folder;
    }

    if (options_.vbt) report(diag::Severity::info, "check.vbt-enabled", "Orvane Enabled!");

    // The first entry whose name mentions a job list; sorted so the choice does not depend on
    // the file system's listing order.
    std::string job_list_path;
    std::vector<std::string> names;
    std::error_code ec;
    for (auto it = fs::directory_iterator(util::path_from_utf8(device_directory), ec); !ec && it != fs::directory_iterator();
         it.increment(ec))
        names.push_back(util::path_to_utf8(it->path().filename()));
    std::sort(names.begin(), names.end());
    static const util::Regex job_list_re("job.*list", util::Regex::ICASE);
    for (const auto& n : names) {
        if (job_list_re.search(n)) {
            job_list_path = util::join_path(device_directory, n);
            break;
        }
    }

    job_list_path_ = job_list_path;
    warn_other_platform(names);

    Kestine reader(*sink_);
    try {
        reader.read_job_list(job_list_path);
    } catch (const FileNotFoundError&) {
        // No job list: the job list stays empty.
    }
    job_list_dict = std::move(reader.get_test_job_list_info());
}

void Vantor::warn_other_platform(const std::vector<std::string>& names) {
    std::string first;
    std::optional<TitlePlatform> named;
    std::size_t others = 0;
    for (const auto& n : names) {
        if (!n.ends_with(".txt")) continue;
        const std::string path = util::join_path(device_directory, n);
        std::string title;
        try {
            util::LineReader reader(path);
            std::string_view line;
            if (reader.next(line)) title = std::string(line);
        } catch (const std::exception&) {
            continue;  // the reader of that sheet reports it, if the walk needs it
        }
        auto platform = platform_named_by_title(title);
        if (!platform || title_fits(*platform, options_.platform)) continue;
        if (first.empty()) {
            first = n.substr(0, n.size() - 4);
            named = platform;
        } else {
            ++others;
        }
    }
    if (first.empty()) return;
    diag::Location where;
    where.file = util::join_path(device_directory, first + ".txt");
    where.line = 1;
    const std::string exported_for = named->exact ? std::string(platform_name(named->platform))
                                                   : "the " + std::string(platform_name(named->platform)) + " family";
    std::string text = "Warning: sheet '" + first + "' was exported for " + exported_for + ", but the check reads it as " +
                       std::string(platform_name(options_.platform)) + " (--platform)";
    if (others) text += "; " + std::to_string(others) + " more sheet" + (others == 1 ? "" : "s") + " too";
    report(diag::Severity::warning, "check.other-platform", text + ".", diag::kBoth, std::move(where));
}

std::string Vantor::report_file_name(const std::tm& t, unsigned suffix) {
    // Zero-padded so names sort by time; the suffix tells apart reports of one second.
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d__%H%M%S", &t);
    std::string name = "Vantor_" + std::string(stamp);
    if (suffix) name += "_" + std::to_string(suffix);
    return name + ".xlsm";
}

void Vantor::commit_report() {
    // Never over an existing report: two checks in the same second into one folder keep both.
    constexpr unsigned kMaxSuffix = 10000;
    for (unsigned n = 0; n < kMaxSuffix; ++n) {
        std::string path = util::join_path(report_folder_, report_file_name(report_time_, n));
        if (report_file_->commit_as_new(path)) {
            report_path_ = path;
            return;
        }
    }
    throw Error("cannot save the report in '" + report_folder_ + "': every report name of this second is taken");
}

std::string Vantor::vba_project_path() {
    std::string lib = util::module_path_of(reinterpret_cast<const void*>(&Vantor::vba_project_path));
    if (!lib.empty()) return util::path_to_utf8(util::path_from_utf8(lib).parent_path() / "bin" / "vbaProject.bin");
    return "bin/vbaProject.bin";
}

void Vantor::excel_file_optimise(SheetBuffer& worksheet, const std::string& freezePane) {
    worksheet.sheet().autofilter({0, 0, 0, job_sheet::kLastFilterColumn});
    std::uint32_t row = 0, col = 0;
    cell_from_name(freezePane, row, col);
    worksheet.sheet().freeze_panes(row, col);
    worksheet.set_row(0, 20, format_bold);
}

SheetBuffer& Vantor::open_sheet(const std::string& name) {
    close_sheet();
    open_sheet_ = std::make_unique<SheetBuffer>(add_sheet(*workbook_, name));
    return *open_sheet_;
}

void Vantor::close_sheet() {
    if (!open_sheet_) return;
    std::unique_ptr<SheetBuffer> sheet = std::move(open_sheet_);
    sheet->flush();
}

void Vantor::fail_run(const std::string& message) {
    last_run_failed_ = true;
    walk_.reset();  // the job's state is of no more use; its sheet is written below
    report(diag::Severity::error, "check.run-failed", "An exception occurred!Please check!!!");
    report(diag::Severity::error, "check.run-failed-reason", message);
    report(diag::Severity::error, "check.traceback", "Traceback (check run): " + message,
           diag::kConsole | diag::kErrorStream);
    // The sheet being filled is written too, so the saved report shows how far the run came,
    // and the findings sheet says what was found up to there.
    try {
        close_sheet();
        if (workbook_) write_findings(true);
    } catch (const std::exception& e) {
        report(diag::Severity::error, "check.traceback",
               "Traceback (check run): " + std::string(e.what()), diag::kConsole | diag::kErrorStream);
    }
    if (std::unique_ptr<xw::Workbook> wb = std::move(workbook_)) {
        // Saves what was written so far; a report that cannot be saved whole is not left behind.
        bool saved = true;
        try {
            wb->close();
        } catch (const std::exception&) {
            saved = false;
        }
        if (saved && report_file_) {
            try {
                commit_report();
            } catch (const std::exception& e) {
                report(diag::Severity::error, "check.report-not-saved", e.what());
            }
        }
    }
    report_file_.reset();
}

std::vector<std::string> Vantor::run(const std::vector<std::string>& job_name_set,
                                     const std::string& work_dir) {
    std::vector<std::string> result;
    last_run_failed_ = false;
    stopped_ = false;
    report_time_ = util::local_time(std::time(nullptr));
    report_folder_ = work_dir;
    findings_collector_.clear();
    findings_ = FindingsResult{};
    run_jobs_.clear();
    std::string output = util::join_path(work_dir, report_file_name(report_time_));
    // What a killed check left of its report (a check writing into this folder right now keeps its own).
    for (const std::string& left : util::remove_abandoned_temp_files(work_dir, [](std::string_view name) {
             return name.starts_with("Vantor_") && name.ends_with(".xlsm");
         }))
        report(diag::Severity::warning, "check.stale-temp-removed",
               "Warning: removed a temporary file left by an interrupted check: " + left, diag::kBoth);

    // Each sheet's rows are made into XML and compressed as they are written, so a program of
    // 100,000 tests needs no more memory for its report than for one job's sheet.
    report_file_ = std::make_unique<util::AtomicFile>(output);
    workbook_ = std::make_unique<xw::Workbook>(report_file_->temp_path());
    format_red = &workbook_->add_format()->set_fill(0xFFC7CE);
    format_yellow = &workbook_->add_format()->set_fill(0xF7D674);
    format_orange = &workbook_->add_format()->set_fill(0xFFAA33);
    format_bold = &workbook_->add_format()->set_bold();
    update_progressbar(progress::kStart);

    try {
        // First in the workbook and active when it opens; filled once the findings are known.
        findings_sheet_ = &add_sheet(*workbook_, "Findings");
        // Read before the walk: a file that cannot be read ends the run once, not once per test.
        if (!options_.power_order.empty() && !caches_.power_order_rows)
            caches_.power_order_rows = read_power_order(util::path_to_utf8(options_.power_order));
        const std::string* last_job = nullptr;
        for (const auto& job_name : job_name_set) {
            check_stop();
            current_job_ = job_name;
            run_jobs_.push_back(job_name);
            SheetBuffer& sheet = open_sheet(job_name);
            sheet.sheet().outline_settings(true, false, true, false);
            // The header's settings come first: the walk writes rows out while it goes, and the
            // header's format is the first the sheet uses.
            excel_file_optimise(sheet);
            run_each_flow(job_name, sheet);
            close_sheet();
            last_job = &job_name;
        }
        if (!last_job) throw Error("no job was chosen: the pattern map sheet has no job to be named after");
        caches_.release_walk_files();
        if (stage_hook_) stage_hook_("summary sheets");
        write_pat_tset_map(caches_.pat2inst_dict, caches_.tset_dict,
                           open_sheet("PatTsetMap_" + utf8_prefix(*last_job, 20)));
        write_bin_descrp(open_sheet("SortBinDescrp"));
        write_inst_para(open_sheet("InstParametersCheck"));
        caches_.release_instances();
        util::release_free_memory();
        std::string vba = vba_project_path();
        if (util::file_exists(vba)) workbook_->add_vba_project(vba);
        write_power_pin_clamp(open_sheet("PowerPinClampCheck"));
        close_sheet();
        current_job_.clear();
        if (stage_hook_) stage_hook_("findings");
        write_findings(false);
        if (stage_hook_) stage_hook_("save");
        // Given up whatever happens: a failed save must not be tried again by fail_run.
        std::unique_ptr<xw::Workbook> wb = std::move(workbook_);
        try {
            wb->close();
        } catch (const std::exception& e) {
            throw Error("cannot save the report workbook '" + output + "': " + e.what());
        }
        commit_report();
        report_file_.reset();
        output = report_path_;
        result.push_back(output);
        current_job_.clear();
        report(diag::Severity::info, "check.report-written", "Output file path is: " + output);
        report(diag::Severity::info, "check.done", "Execution successful!!!");
        report(diag::Severity::info, "check.end",
               "===============================END===============================");
        if (options_.vbt) run_vbt_step(work_dir, result);
    } catch (const std::exception& e) {
        fail_run(e.what());
    } catch (...) {
        fail_run("unknown failure");
    }
    return result;
}

}  // namespace igxl
