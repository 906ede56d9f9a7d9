// vantor: command-line host of the check driver (lists jobs, runs the check, shows progress).
#include <CLI/CLI.hpp>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "check/findings.h"
#include "check/options.h"
#include "check/power_order.h"
#include "host/console.h"
#include "check/vantor.h"
#include "export/common.h"
#include "export/vba_project.h"
#include "host/diff_command.h"
#include "parsers/pattern_sets.h"
#include "util/platform.h"
#include "util/diagnostics.h"
#include "util/error.h"
#include "util/text.h"

#ifndef VANTOR_VERSION
#define VANTOR_VERSION "0.0.0"
#endif

namespace fs = std::filesystem;

namespace {

constexpr int kBadInput = 2;
// The check ran, but a finding at or above the --fail-on severity remains.
constexpr int kGateFailed = 3;

int bad_input(const std::string& message) {
    std::cerr << "vantor: error: " << message << std::endl;
    return kBadInput;
}

// Why a job name cannot name a worksheet, or the empty text when it can.
std::string sheet_name_problem(const std::string& name) {
    if (name.empty()) return "it is empty";
    size_t chars = 0;
    for (unsigned char c : name)
        if ((c & 0xC0) != 0x80) ++chars;
    if (chars > 31) return "it is longer than 31 characters";
    if (name.find_first_of("[]:*?/\\") != std::string::npos)
        return "it holds one of the characters [ ] : * ? / \\";
    if (name.front() == '\'' || name.back() == '\'') return "it begins or ends with an apostrophe";
    return {};
}

// Marks a folder vantor exported a program into, so a later run may empty it without fear of
// removing a user's files.
constexpr const char* kWorkMarker = ".vantor-work";

// Where the program is exported or unpacked: a folder of its own, so a reused working folder
// never mixes two programs. Given a working folder, the program takes the subfolder named after
// it, emptied first of what an earlier export left there; otherwise a temporary folder that
// scratch removes when the run ends. A folder program is read in place and needs neither.
std::string prepare_work_dir(const std::string& given, const std::string& program,
                             std::optional<igxl::util::TempDir>& scratch) {
    using igxl::util::path_from_utf8;
    if (fs::is_directory(path_from_utf8(program))) return program;
    if (given.empty()) {
        scratch.emplace("vantor-");
        return scratch->path();
    }
    const std::string own_text =
        igxl::util::join_path(given, igxl::util::path_to_utf8(path_from_utf8(program).stem()));
    const fs::path own = path_from_utf8(own_text);
    if (fs::exists(own)) {
        if (!fs::is_directory(own) || (!fs::exists(own / kWorkMarker) && !fs::is_empty(own)))
            throw igxl::Error("working folder '" + own_text +
                              "' holds files vantor did not write; give another --work-dir");
        if (!igxl::util::remove_tree(own_text))
            throw igxl::Error("cannot empty the working folder '" + own_text + "'");
    }
    fs::create_directories(own);
    igxl::util::write_file_atomic(igxl::util::join_path(own_text, kWorkMarker), "");
    return own_text;
}

}  // namespace

int main(int argc, char** argv) {
    igxl::util::prepare_console();
    CLI::App app{"vantor: review an IG-XL test program and write a check report workbook"};
    app.set_version_flag("--version", std::string("vantor ") + VANTOR_VERSION);
    app.require_subcommand(1);

    // Platform and cycle mode are matched without regard to case; a wrong one is refused with
    // the accepted names.
    std::vector<std::string> platform_choices;
    for (const auto& l : igxl::kPlatformLayouts) platform_choices.emplace_back(l.name);
    std::string program, work_dir, platform(igxl::platform_name(igxl::kDefaultPlatform));
    auto* jobs_cmd = app.add_subcommand("jobs", "list the jobs of a test program");
    jobs_cmd->add_option("PROGRAM", program, ".xlsm workbook, .igxl/.zip packed program or folder of sheet text files")
        ->required();
    jobs_cmd->add_option("--work-dir", work_dir, "folder the program is exported or unpacked into");
    jobs_cmd->add_option("--platform", platform, "tester platform")
        ->check(CLI::IsMember(platform_choices, CLI::ignore_case))
        ->capture_default_str();
    bool quiet = false, keep_work = false;
    std::string log_path;
    for (auto* cmd : {jobs_cmd}) {
        cmd->add_flag("--keep-work", keep_work, "keep the temporary folder the program was exported into");
        cmd->add_flag("--quiet", quiet, "show errors only");
        cmd->add_option("--log", log_path, "write the full log to this file");
    }

    std::string jobs_arg, pattern_path, power_order, cycle_mode = "Period", context_env, out_dir = ".";
    std::string patinfo, json_out, sarif_out, baseline, fail_on = "never";
    bool all_jobs = false, vbt = false;
    auto* check_cmd = app.add_subcommand("check", "check chosen jobs of a test program");
    check_cmd->add_option("PROGRAM", program, ".xlsm workbook, .igxl/.zip packed program or folder of sheet text files")
        ->required();
    auto* jobs_opt = check_cmd->add_option("--jobs", jobs_arg, "jobs to check, comma-separated, in this order");
    auto* all_opt = check_cmd->add_flag("--all", all_jobs, "check every job of the job list");
    jobs_opt->excludes(all_opt);
    check_cmd->add_option("--platform", platform, "tester platform")
        ->check(CLI::IsMember(platform_choices, CLI::ignore_case))
        ->capture_default_str();
    check_cmd->add_option("--pattern-path", pattern_path, "folder of the pattern files");
    check_cmd->add_option("--power-order", power_order, "power order file (.xls)");
    check_cmd->add_option("--cycle-mode", cycle_mode, "Period or Frequency")
        ->check(CLI::IsMember({"Period", "Frequency"}, CLI::ignore_case))
        ->capture_default_str();
    check_cmd->add_option("--context-env", context_env, "context environment prefixed to AC and DC categories that begin with \"::\"");
    check_cmd->add_flag("--vbt", vbt, "also run the VBT coding-standards check on the program's modules");
    check_cmd->add_option("--work-dir", work_dir, "folder the program is exported or unpacked into");
    check_cmd->add_option("--out", out_dir, "folder the reports are written to")->capture_default_str();
    check_cmd->add_option("--patinfo", patinfo, "the patinfo program to run (default: patinfo on PATH)");
    check_cmd->add_flag("--keep-work", keep_work, "keep the temporary folder the program was exported into");
    check_cmd->add_flag("--quiet", quiet, "show errors only");
    check_cmd->add_option("--log", log_path, "write the full log to this file");
    check_cmd->add_option("--json", json_out, "also write the findings to this JSON file");
    check_cmd->add_option("--sarif", sarif_out, "also write the findings to this SARIF 2.1.0 file");
    check_cmd->add_option("--fail-on", fail_on,
                          "exit with status 3 when a finding of this severity or above remains")
        ->check(CLI::IsMember({"error", "warning", "never"}))
        ->capture_default_str();
    check_cmd->add_option("--baseline", baseline,
                          "JSON file written by --json: its findings are accepted and not reported again");

    std::string export_dir;
    auto* export_cmd = app.add_subcommand("export", "write every sheet and VBA module of a program as text files");
    export_cmd->add_option("PROGRAM", program, ".xlsm workbook or .igxl/.zip packed program")->required();
    export_cmd->add_option("--out", export_dir, "folder the text files are written to")->required();

    // What one export may unpack; a larger program is refused rather than filling the disk.
    igxl::ExportOptions export_options;
    for (auto* cmd : {jobs_cmd, check_cmd, export_cmd})
        cmd->add_option("--max-unpacked", export_options.max_unpacked,
                        "most bytes a packed program or workbook may unpack to (e.g. 4GB)")
            ->transform(CLI::AsSizeValue(false))
            ->default_str("2GB");

    igxl::host::DiffCommand diff;
    igxl::host::add_diff_command(app, diff);

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        app.exit(e);
        return kBadInput;
    }

    if (diff.command->parsed()) return igxl::host::run_diff_command(diff, VANTOR_VERSION);
    if (!fs::exists(igxl::util::path_from_utf8(program))) return bad_input("program not found: " + program);
    if (!fs::is_directory(igxl::util::path_from_utf8(program)) && !program.ends_with(".xlsm") && !program.ends_with(".igxl") &&
        !program.ends_with(".zip")) {
        std::cerr << "Error: file extension is not supported." << std::endl;
        return kBadInput;
    }

    std::vector<std::string> chosen;
    if (check_cmd->parsed()) {
        if (!all_jobs) {
            for (auto part : igxl::util::split(jobs_arg, ','))
                if (!igxl::util::strip(part).empty()) chosen.emplace_back(igxl::util::strip(part));
            if (chosen.empty()) return bad_input("no job chosen: give --jobs A,B or --all");
        }
        for (const auto& job : chosen) {
            std::string why = sheet_name_problem(job);
            if (!why.empty()) return bad_input("job name '" + job + "' cannot be a sheet name: " + why);
        }
        if (!power_order.empty()) {
            if (!fs::is_regular_file(igxl::util::path_from_utf8(power_order))) return bad_input("power order file not found: " + power_order);
            try {
                igxl::read_power_order(power_order);
            } catch (const std::exception& e) {
                return bad_input(std::string("cannot read the power order file: ") + e.what());
            }
        }
        if (!pattern_path.empty() && !fs::is_directory(igxl::util::path_from_utf8(pattern_path)))
            return bad_input("pattern folder not found: " + pattern_path);
        if (!patinfo.empty()) {
            if (!fs::is_regular_file(igxl::util::path_from_utf8(patinfo))) return bad_input("patinfo program not found: " + patinfo);
            igxl::set_patinfo_program(igxl::util::path_to_utf8(fs::absolute(igxl::util::path_from_utf8(patinfo))));
        }
        if (!baseline.empty()) {
            try {
                igxl::Baseline::load(baseline);
            } catch (const igxl::Error& e) {
                return bad_input(e.what());
            }
        }
        for (const auto* out : {&json_out, &sarif_out}) {
            if (out->empty()) continue;
            fs::path parent = igxl::util::path_from_utf8(*out).parent_path();
            if (!parent.empty() && !fs::is_directory(parent))
                return bad_input("folder of output file not found: " + *out);
        }
    }

    if (export_cmd->parsed()) {
        igxl::host::ConsoleOptions shown;
        shown.draw_bar = false;
        igxl::host::Console console(std::cout, std::cerr, shown);
        try {
            if (fs::is_directory(igxl::util::path_from_utf8(program))) return bad_input("'" + program + "' is a folder of sheet text files already");
            if (program.ends_with(".igxl") || program.ends_with(".zip")) {
                // A file that is no archive was reported by unzip: that is no export.
                if (!igxl::unzip(program, export_dir, console, export_options)) return kBadInput;
            } else if (program.ends_with(".xlsm") || program.ends_with(".xlsx")) {
                igxl::export_sheets_to_txt(program, export_dir, export_options);
                igxl::vba::export_modules(program, export_dir, export_options, console);
            } else {
                return bad_input("'" + program + "': expected an .xlsm workbook or an .igxl/.zip packed program");
            }
            std::cout << "Exported: " << export_dir << std::endl;
            return 0;
        } catch (const igxl::BadInputError& e) {
            return bad_input(e.what());
        } catch (const std::exception& e) {
            std::cerr << "vantor: error: " << e.what() << std::endl;
            return 1;
        }
    }

    igxl::CheckOptions options;
    options.program = igxl::util::path_from_utf8(program);
    options.export_options = export_options;
    options.platform = igxl::parse_platform(platform).value_or(igxl::kDefaultPlatform);
    if (check_cmd->parsed()) {
        options.power_order = igxl::util::path_from_utf8(power_order);
        options.pattern_path = igxl::util::path_from_utf8(pattern_path);
        options.cycle_mode = igxl::parse_cycle_mode(cycle_mode).value_or(igxl::CycleMode::Period);
        options.context_env = context_env;
        options.vbt = vbt;
        options.json = igxl::util::path_from_utf8(json_out);
        options.sarif = igxl::util::path_from_utf8(sarif_out);
        options.baseline = igxl::util::path_from_utf8(baseline);
        options.fail_on = igxl::parse_fail_on(fail_on).value_or(igxl::FailOn::Never);
    }

    // The full log, every line as the driver wrote it; the console shows a tidier view.
    std::ofstream log_file;
    if (!log_path.empty()) {
        log_file.open(igxl::util::path_from_utf8(log_path), std::ios::out | std::ios::trunc);
        if (!log_file) return bad_input("cannot write the log file: " + log_path);
    }
    igxl::host::ConsoleOptions shown;
    shown.quiet = quiet;
    shown.draw_bar = !quiet && igxl::util::stderr_is_terminal();
    shown.job_count = chosen.empty() ? 1 : chosen.size();
    igxl::host::Console console(std::cout, std::cerr, shown);
    // Errors the run met along the way: a report is still written, but part of the work is
    // missing. One failing sheet or test gives several lines (what, why); it counts once.
    std::set<std::vector<std::string>> error_places;
    igxl::diag::FunctionSink sink([&](const igxl::diag::Event& e) {
        if (e.severity == igxl::diag::Severity::error) {
            const auto& w = e.where;
            error_places.insert({w.job, w.file, std::to_string(w.line), w.flow_sheet, w.item, w.test});
        }
        console.emit(e);
    });

    std::optional<igxl::util::TempDir> scratch;
    struct KeepWork {
        std::optional<igxl::util::TempDir>& scratch;
        bool keep;
        igxl::host::Console& console;
        ~KeepWork() {
            if (keep && scratch) console.say("Working folder kept: " + scratch->release());
        }
    } keep_guard{scratch, keep_work, console};

    std::unique_ptr<igxl::Vantor> driver;
    auto log = [&](const std::string& line) {
        if (log_file) log_file << line << '\n' << std::flush;
    };
    auto progress = [&](double v) { console.progress(v); };
    try {
        std::string dir = prepare_work_dir(work_dir, program, scratch);
        driver = std::make_unique<igxl::Vantor>(dir);
        driver->set_sink(sink);
        // Ctrl-C ends the walk at the next test; the report keeps what was walked and the
        // temporary folder goes as on any other end.
        igxl::util::watch_stop_signals();
        driver->set_stop_check([] { return igxl::util::stop_requested(); });
        driver->read_device(options, log, progress);
    } catch (const std::exception& e) {
        // The program could not be read: unreadable, corrupt or not a program at all.
        console.finish();
        return bad_input(e.what());
    }
    if (igxl::util::stop_requested()) {
        console.finish();
        console.error("vantor: stopped on request");
        return igxl::util::kStoppedStatus;
    }
    const auto& jobs = driver->get_job_list();
    if (jobs.empty()) {
        console.finish();
        return bad_input("no job list found in " + program);
    }
    if (jobs_cmd->parsed()) {
        console.finish();
        for (const auto& [name, record] : jobs) std::cout << name << '\n';
        std::cout.flush();
        return 0;
    }
    if (all_jobs) {
        for (const auto& [name, record] : jobs) {
            std::string why = sheet_name_problem(name);
            if (!why.empty()) return bad_input("job name '" + name + "' cannot be a sheet name: " + why);
            chosen.push_back(name);
        }
        console.set_job_count(chosen.size());
    }
    std::set<std::string> seen;
    for (const auto& job : chosen) {
        if (!jobs.contains(job)) return bad_input("unknown job '" + job + "' (see: vantor jobs " + program + ")");
        if (!seen.insert(job).second) return bad_input("job '" + job + "' is chosen twice");
    }
    try {
        fs::create_directories(igxl::util::path_from_utf8(out_dir));
        // What a killed check left of the findings files it was writing (the report's own are
        // the driver's to clear).
        for (const std::string* out : {&json_out, &sarif_out}) {
            if (out->empty()) continue;
            const fs::path path = igxl::util::path_from_utf8(*out);
            const std::string name = igxl::util::path_to_utf8(path.filename());
            const std::string folder = path.has_parent_path() ? igxl::util::path_to_utf8(path.parent_path()) : ".";
            for (const std::string& left : igxl::util::remove_abandoned_temp_files(
                     folder, [&name](std::string_view final_name) { return final_name == name; }))
                igxl::diag::emit(sink, igxl::diag::Severity::warning, "check.stale-temp-removed",
                                 "Warning: removed a temporary file left by an interrupted check: " + left,
                                 igxl::diag::kConsole);
        }
        auto reports = driver->run(chosen, out_dir);
        console.finish();
        for (const auto& path : reports)
            if (!console.mentioned(path)) console.say("Report: " + path);
        // The findings of what was walked, also when the run ended early.
        const igxl::FindingsResult& findings = driver->findings();
        const igxl::FindingCounts counts = findings.counts();
        std::string summary = "Findings: " + std::to_string(counts.error) + " error, " +
                              std::to_string(counts.warning) + " warning, " + std::to_string(counts.info) + " info";
        if (findings.suppressed)
            summary += " (" + std::to_string(findings.suppressed) + " suppressed by the baseline)";
        console.say(summary);
        if (!options.json.empty()) {
            igxl::util::write_file_atomic(
                igxl::util::path_to_utf8(options.json),
                igxl::findings_json(findings, options, driver->checked_jobs(), igxl::Vantor::version()));
            console.say("Findings JSON: " + igxl::util::path_to_utf8(options.json));
        }
        if (!options.sarif.empty()) {
            igxl::util::write_file_atomic(
                igxl::util::path_to_utf8(options.sarif),
                igxl::findings_sarif(findings, options, driver->device_folder(), igxl::Vantor::version()));
            console.say("Findings SARIF: " + igxl::util::path_to_utf8(options.sarif));
        }
        if (driver->stopped()) {
            console.error("vantor: stopped on request; the report holds what was walked");
            return igxl::util::kStoppedStatus;
        }
        if (driver->last_run_failed() || reports.empty()) return 1;
        if (const std::size_t errors = error_places.size()) {
            console.error("vantor: " + std::to_string(errors) + (errors == 1 ? " error" : " errors") +
                          " during the check: the report lacks what they stopped");
            return 1;
        }
        return findings.fails(options.fail_on) ? kGateFailed : 0;
    } catch (const std::exception& e) {
        console.finish();
        console.error(std::string("vantor: error: ") + e.what());
        return 1;
    }
}
