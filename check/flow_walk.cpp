// The walk over one job (JobWalk, made by the driver for each job): read the job's sheets, then
// fill its sheet in three passes over the flow entries (row reservation, flow columns and power
// block, pattern block).
#include <algorithm>
#include <filesystem>

#include "check/job_walk.h"
#include "check/progress.h"
#include "check/report_layout.h"
#include "check/sheet_buffer.h"
#include "check/vantor.h"
#include "check/xlsx_out.h"
#include "util/error.h"
#include "util/lines.h"
#include "util/platform.h"
#include "util/text.h"

namespace igxl {

namespace fs = std::filesystem;

namespace {

std::string join_path(const std::string& dir, const std::string& file) {
    return util::join_path(dir, file);
}

std::string escaped_path(const std::string& dir, const std::string& name) {
    return join_path(dir, util::replace_all(name, " ", "%20") + ".txt");
}

// Spec sheets: the plain file name when it exists, else the "%20" form of the export.
std::string spec_path(const std::string& dir, const std::string& name) {
    std::string plain = join_path(dir, name + ".txt");
    return util::file_exists(plain) ? plain : escaped_path(dir, name);
}

}  // namespace

void Vantor::run_each_flow(const std::string& job_name, SheetBuffer& sheet) {
    walk_ = std::make_unique<JobWalk>(*this, job_name, &sheet);
    walk_->run_each_flow();
    // What only this job needed is given back before the next job reads its sheets.
    walk_.reset();
    util::release_free_memory();
}

JobWalk::JobWalk(Vantor& driver, std::string job_name, SheetBuffer* sheet)
    : driver_(driver),
      cache_(driver.caches_),
      job_name_(std::move(job_name)),
      work_sheet(sheet),
      glob_spec_dict(cache_.specs.glob_spec_dict),
      dc_spec_dict(cache_.specs.dc_spec_dict),
      ac_spec_dict(cache_.specs.ac_spec_dict),
      spec_version(cache_.specs.spec_version),
      print_inst_info_col_cnt(static_cast<int>(job_sheet::kFirstDetailColumn)) {}

void JobWalk::report(diag::Severity severity, const char* code, std::string text, unsigned channels,
                     diag::Location where) {
    report(diag::make_event(severity, code, std::move(text), channels, std::move(where)));
}

void JobWalk::report(diag::Event event) {
    if (event_capture_) event_capture_->push_back(event);
    driver_.report(std::move(event));
}

void JobWalk::update_progressbar(double val) { driver_.update_progressbar(val); }

void JobWalk::check_stop() { driver_.check_stop(); }

const CheckOptions& JobWalk::options() const { return driver_.options_; }

void JobWalk::save_max_col(int col_cnt) {
    if (cache_.MAX_DSP_CNT < col_cnt) cache_.MAX_DSP_CNT = col_cnt;
}

void JobWalk::init() {
    static const char* headers[] = {"Opcode", "Parameter", "TestNumber",
                                    "HardBinNumber", "SortBinNumber", "Result"};
    for (unsigned c = 0; c < job_sheet::kFirstDetailColumn; ++c) work_sheet->write_text(0, c, headers[c]);
    work_sheet->sheet().set_column(job_sheet::kParameterColumn, job_sheet::kParameterColumn, 20);
    work_sheet->sheet().set_column(job_sheet::kTestNumberColumn, job_sheet::kResultColumn, 15);
    write_row_index = 0;
    pattern_headers_.clear();
}

void JobWalk::run_each_flow() {
    const std::string& job_name = job_name_;
    auto job = driver_.job_list_dict.find(job_name);
    if (job == driver_.job_list_dict.end()) throw Error("job '" + job_name + "' is not in the job list");
    const JobRecord& record = job->second;
    std::string flow_path = driver_.device_directory + "/" + record.FlowTable + ".txt";
    update_progressbar(progress::kJobFound);

    const size_t slash = flow_path.find_last_of('/');
    const std::string flow_dir = flow_path.substr(0, slash);
    std::string flow_name = flow_path.substr(slash + 1);
    flow_name = flow_name.substr(0, flow_name.find('.'));
    report(diag::Severity::info, "check.job-start", "Parse Job: " + job_name);
    report(diag::Severity::info, "check.flow-table", "Fennick: " + flow_name);

    flow_path = util::replace_all(flow_path, " ", "%20");
    Fennick flow_reader(*driver_.sink_);
    flow_reader.read_flow_table(flow_path, options().platform);
    FlowEntryList& entries = flow_reader.get_test_suite_info();
    const size_t n = entries.size();

    const std::string dc_path = spec_path(flow_dir, record.DCSpec);
    const std::string ac_path = spec_path(flow_dir, record.ACSpec);
    const std::string glob_path = spec_path(flow_dir, record.GlobalSpec);
    std::vector<std::string> pattern_set_paths, instance_paths;
    for (const auto& s : record.PatternSet) pattern_set_paths.push_back(escaped_path(flow_dir, s));
    for (const auto& s : record.TestInstanceList) instance_paths.push_back(escaped_path(flow_dir, s));
    update_progressbar(progress::kSheetPathsResolved);

    // Pattern sets: each file is parsed on its own and kept by path, so a set skipped as the
    // file read last (a later job naming the same sheet) still has its data for this job.
    Quorvin pattern_reader;
    for (const auto& path : pattern_set_paths) {
        if (cache_.last_flow_info.pattern_set_name != path) {
            try {
                Quorvin one;
                one.read_pattern_set(path, util::path_to_utf8(options().pattern_path), options().platform);
                cache_.pattern_set_files[path] = RunCaches::PatternSetFile{std::move(one.get_pattern_set_dict())};
                cache_.last_flow_info.pattern_set_name = path;
            } catch (const std::exception&) {
                diag::Location where;
                where.file = path;
                report(diag::Severity::warning, "check.pattern-set-unreadable",
                       "Warning: cannot read PatternSet, please check it!", diag::kLog, where);
                continue;
            }
        }
        auto cached = cache_.pattern_set_files.find(path);
        if (cached == cache_.pattern_set_files.end()) continue;
        for (const auto& [set, names] : cached->second.sets)
            pattern_reader.get_pattern_set_dict()[set] = names;
    }
    pattern_set_dict = pattern_reader.get_pattern_set_info();
    update_progressbar(progress::kPatternSetsRead);

    // Jobs mostly share their instance sheets and pattern sets; the instances read for the last
    // job (read whole, without a failure) serve this one when it names the same sheets.
    const bool same_instances = cache_.instances_read_whole && instance_paths == cache_.instances_read.first &&
                                pattern_set_paths == cache_.instances_read.second;
    if (!same_instances) {
        cache_.test_instance_dict = InstanceMap();  // the last job's, given back before this job's are read
        cache_.instances_read_whole = true;
        Delmora instance_reader;
        for (const auto& path : instance_paths) {
            try {
                instance_reader.read_test_instance(path, pattern_set_dict, options().platform);
            } catch (const std::exception& e) {
                cache_.instances_read_whole = false;
                diag::Location where;
                where.file = path;
                report(diag::Severity::error, "check.instances-unreadable",
                       "Error: cannot read " + path + ", please check it!", diag::kLog, where);
                report(diag::Severity::error, "check.instances-unreadable-reason", e.what(), diag::kConsole,
                       std::move(where));
            }
        }
        cache_.test_instance_dict = std::move(instance_reader.get_instance_info());
        cache_.instances_read = {instance_paths, pattern_set_paths};
    }
    update_progressbar(progress::kInstancesRead);

    if (cache_.last_flow_info.dc_spec_name != dc_path) {
        Vexdon dc_reader;
        dc_reader.read_dc_spec(dc_path, options().platform);
        dc_spec_dict = std::move(dc_reader.get_dc_info());
        spec_version = dc_reader.get_spec_version();
        cache_.last_flow_info.dc_spec_name = dc_path;
    }
    update_progressbar(progress::kDcSpecsRead);

    if (cache_.last_flow_info.glob_spec_name != glob_path) {
        ParseGlobalSpec glob_reader;
        try {
            glob_reader.read_spec(glob_path, options().platform);
            glob_spec_dict = std::move(glob_reader.get_info());
            cache_.last_flow_info.glob_spec_name = glob_path;
        } catch (const std::exception&) {
            report(diag::Severity::warning, "check.global-specs-unreadable",
                   "Warning: cannot read Global Specs, please check it!");
        }
    }
    update_progressbar(progress::kGlobalSpecsRead);

    if (cache_.last_flow_info.ac_spec_name != ac_path) {
        Ulmara ac_reader;
        ac_reader.read_ac_spec(ac_path, options().platform);
        ac_spec_dict = std::move(ac_reader.get_ac_info());
        spec_version = ac_reader.get_spec_version();
        cache_.last_flow_info.ac_spec_name = ac_path;
    }
    update_progressbar(progress::kAcSpecsRead);

    init();
    std::vector<std::array<std::string, 2>>& sort_bin_dscrp = cache_.sort_bin_dscrp;
    // Sized to this job's list: one doubled for the largest job so far would be held to the end.
    sort_bin_dscrp.clear();
    sort_bin_dscrp.shrink_to_fit();
    sort_bin_dscrp.reserve(static_cast<size_t>(
        std::count_if(entries.begin(), entries.end(), [](const FlowEntry& e) { return !e.SortBin.empty(); })));
    const InstanceMap& test_instance_dict = cache_.test_instance_dict;

    const double total = static_cast<double>(n);
    // Each entry's instance is looked up here once for the three passes: a lookup in a map of
    // every instance misses the cache, and the passes would repeat it for every entry.
    // A name's records are never empty: an empty range is an instance the sheets lack.
    std::vector<InstanceRows> instance_rows(n);
    auto rows_of = [&](size_t i) { return instance_rows[i].empty() ? nullptr : &instance_rows[i]; };
    for (size_t i = 0; i < n; ++i) {
        FlowEntry& entry = entries[i];
        if (!entry.SortBin.empty()) sort_bin_dscrp.push_back({entry.SortBin, entry.Parameter});
        entry.write_row_start = write_row_index;
        auto it = test_instance_dict.find(entry.Parameter);
        if (it != test_instance_dict.end()) {
            instance_rows[i] = it->second;
            write_row_index += static_cast<int>(it->second.size());
        }
        update_progressbar(progress::kRowLayoutPass.at(static_cast<double>(i), total));
    }

    for (size_t i = 0; i < n; ++i) {
        check_stop();  // outside the per-test catch: a stop ends the run
        const FlowEntry& entry = entries[i];
        try {
            test_table_process(entry.write_row_start, entry, rows_of(i));
            save_max_col(power_process_and_get_count(flow_dir, entry, entry.write_row_start, rows_of(i)));
        } catch (const std::exception& e) {
            diag::Location where;
            where.flow_sheet = flow_name;
            where.item = entry.Parameter;
            report(diag::Severity::error, "check.power-process-failed.detail", "Error found in power process:",
                   diag::kLog, where);
            report(diag::Severity::error, "check.power-process-failed.detail", e.what(), diag::kLog, where);
            report(diag::Severity::error, "check.power-process-failed.detail",
                   std::to_string(i) + " - " + entry.to_text(), diag::kLog, where);
            report(diag::Severity::error, "check.power-process-failed",
                   "Error found in power process: " + flow_name + ", test " + entry.Parameter + ": " + e.what(),
                   diag::kConsole | diag::kErrorStream, where);
            report_entry_failure(e, where, true);
        }
        update_progressbar(progress::kPowerPass.at(static_cast<double>(i), total));
    }

    for (size_t i = 0; i < n; ++i) {
        check_stop();  // outside the per-test catch: a stop ends the run
        const FlowEntry& entry = entries[i];
        // The rows above this entry's are complete: written out now rather than held to the end.
        work_sheet->write_rows_before(static_cast<std::uint32_t>(entry.write_row_start + 1));
        try {
            pattern_period_clk_process(cache_.MAX_DSP_CNT, entry.write_row_start, entry, flow_dir, rows_of(i));
        } catch (const std::exception& e) {
            diag::Location where;
            where.flow_sheet = flow_name;
            where.item = entry.Parameter;
            report(diag::Severity::error, "check.pattern-process-failed.detail", "Error found in pattern/timing process:",
                   diag::kLog, where);
            report(diag::Severity::error, "check.pattern-process-failed.detail", e.what(), diag::kLog, where);
            report(diag::Severity::error, "check.pattern-process-failed.detail",
                   std::to_string(i) + " - " + entry.to_text(), diag::kLog, where);
            report(diag::Severity::error, "check.pattern-process-failed",
                   "Error found in pattern/timing process: " + flow_name + ", test " + entry.Parameter + ": " +
                       e.what(),
                   diag::kConsole | diag::kErrorStream, where);
            report_entry_failure(e, where, false);
        }
        update_progressbar(progress::kPatternTimingPass.at(static_cast<double>(i + 1), total));
    }

    // The walk's entries and memos are done with: given back before the findings take their
    // share of the job.
    FlowEntryList().swap(entries);
    clock_memo_.clear();
    level_sheets_.clear();
    subst_memo_.clear();
    value_memo_.clear();

    std::vector<std::pair<std::string, std::vector<std::string>>> sets;
    for (const auto& path : pattern_set_paths) {
        auto cached = cache_.pattern_set_files.find(path);
        if (cached == cache_.pattern_set_files.end()) continue;
        std::vector<std::string> names;
        for (const auto& [set, patterns] : cached->second.sets) names.push_back(set);
        sets.emplace_back(util::resolve_sheet_path(path), std::move(names));
    }
    const std::string bin_table = job_bin_table(driver_.job_list_path_, job_name);
    driver_.findings_collector_.add_job(job_name, flow_reader.get_flow_rows(), test_instance_dict, sets,
                                bin_table.empty() ? std::string() : escaped_path(flow_dir, bin_table));
}

void JobWalk::report_entry_failure(const std::exception& e, const diag::Location& where, bool levels_pass) {
    // Not a log line: the log already told it; this names the cause for the findings.
    const char* code = "check.entry-failed";
    std::string_view what = e.what();
    std::string sheet;
    if (const auto* missing = dynamic_cast<const FileNotFoundError*>(&e)) {
        code = levels_pass ? "check.levels-sheet-not-found" : "check.timeset-sheet-not-found";
        sheet = util::replace_all(util::path_to_utf8(util::path_from_utf8(missing->path()).stem()), "%20", " ");
        what = sheet;
    }
    else if (what.starts_with("spec variable") || what.starts_with("cannot evaluate expression"))
        code = "check.spec-unresolved";
    report(diag::Severity::error, code, std::string(what), 0, where);
}

const std::string& JobWalk::with_context_env(std::string_view category) {
    category_.clear();
    if (category.starts_with("::") && !options().context_env.empty()) category_ = options().context_env;
    return category_.append(category);
}

void JobWalk::test_table_process(int flow_table_index, const FlowEntry& entry, const InstanceRows* records) {
    if (!records) return;
    const bool nop = entry.Opcode == "nop";
    std::uint32_t row = static_cast<std::uint32_t>(flow_table_index + 1);
    for (size_t k = 0; k < records->size(); ++k, ++row) {
        work_sheet->write_text(row, job_sheet::kOpcodeColumn, entry.Opcode);
        work_sheet->write_text(row, job_sheet::kParameterColumn, entry.Parameter);
        work_sheet->write_text(row, job_sheet::kTestNumberColumn, entry.TestNumber);
        work_sheet->write_text(row, job_sheet::kHardBinColumn, entry.HardBin);
        work_sheet->write_text(row, job_sheet::kSortBinColumn, entry.SortBin);
        if (nop) work_sheet->set_row(row, xw::kDefaultRowHeight, driver_.format_red);
        if (entry.Result == "None" || entry.Result.empty())
            work_sheet->write_text(row, job_sheet::kResultColumn, entry.Result, driver_.format_yellow);
        else
            work_sheet->write_text(row, job_sheet::kResultColumn, entry.Result);
    }
}

}  // namespace igxl
