// vantor: command-line host of the check driver (lists jobs, runs the check, shows progress).
#include <CLI/CLI.hpp>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "check/options.h"
#include "check/vantor.h"
#include "host/diff_command.h"
#include "parsers/pattern_sets.h"
#include "util/platform.h"
#include "util/diagnostics.h"
#include "util/text.h"

#ifndef VANTOR_VERSION
#define VANTOR_VERSION "0.0.0"
#endif

namespace fs = std::filesystem;

namespace {

constexpr int kBadInput = 2;

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

// Log lines on standard output; on a terminal a progress bar on standard error that the log
// lines write over and redraw. Events meant for the console (not the log) are printed as they
// come, on the error stream when they say so.
class Console : public igxl::diag::Sink {
public:
    Console() : tty_(igxl::util::stderr_is_terminal()) {}
    void log(const std::string& line) {
        clear_bar();
        std::cout << line << std::endl;
        draw_bar();
    }
    void emit(const igxl::diag::Event& event) override {
        if (!(event.channels & igxl::diag::kConsole)) return;  // the log callback shows the rest
        clear_bar();
        if (event.channels & igxl::diag::kErrorStream)
            std::cerr << event.text << std::endl;
        else
            std::cout << event.text << std::endl;
        draw_bar();
    }
    void progress(double value) {
        last_ = value;
        shown_ = true;
        draw_bar();
    }
    void finish() {
        clear_bar();
        shown_ = false;
    }

private:
    void clear_bar() {
        if (tty_ && shown_) std::fprintf(stderr, "\r\033[K");
    }
    void draw_bar() {
        if (!tty_ || !shown_) return;
        double v = last_ < 0 ? 0 : last_ > 100 ? 100 : last_;
        int filled = static_cast<int>(v / 100 * 40 + 0.5);
        std::string bar(static_cast<size_t>(filled), '#');
        bar.resize(40, '.');
        std::fprintf(stderr, "\r[%s] %5.1f%%", bar.c_str(), v);
        std::fflush(stderr);
    }
    bool tty_;
    bool shown_ = false;
    double last_ = 0;
};

// The folder the program is exported into: the one given, or a temporary one that is removed
// when the run ends (scratch owns it).
std::string make_work_dir(const std::string& given, std::optional<igxl::util::TempDir>& scratch) {
    if (!given.empty()) {
        fs::create_directories(given);
        return given;
    }
    scratch.emplace("vantor-");
    return scratch->path();
}

}  // namespace

int main(int argc, char** argv) {
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

    std::string jobs_arg, pattern_path, power_order, cycle_mode = "Period", context_env, out_dir = ".";
    std::string patinfo;
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
    if (!fs::exists(program)) return bad_input("program not found: " + program);

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
        if (!power_order.empty() && !fs::is_regular_file(power_order))
            return bad_input("power order file not found: " + power_order);
        if (!pattern_path.empty() && !fs::is_directory(pattern_path))
            return bad_input("pattern folder not found: " + pattern_path);
        if (!patinfo.empty()) {
            if (!fs::is_regular_file(patinfo)) return bad_input("patinfo program not found: " + patinfo);
            igxl::set_patinfo_program(fs::absolute(patinfo).string());
        }
    }

    igxl::CheckOptions options;
    options.program = program;
    options.platform = igxl::parse_platform(platform).value_or(igxl::kDefaultPlatform);
    if (check_cmd->parsed()) {
        options.power_order = power_order;
        options.pattern_path = pattern_path;
        options.cycle_mode = igxl::parse_cycle_mode(cycle_mode).value_or(igxl::CycleMode::Period);
        options.context_env = context_env;
        options.vbt = vbt;
    }

    Console console;
    try {
        std::optional<igxl::util::TempDir> scratch;
        std::string dir = make_work_dir(work_dir, scratch);
        igxl::Vantor driver(dir);
        driver.set_sink(console);
        auto log = [&](const std::string& line) { console.log(line); };
        auto progress = [&](double v) { console.progress(v); };
        if (jobs_cmd->parsed()) {
            driver.read_device(options, log);
            for (const auto& [name, record] : driver.get_job_list())
                std::cout << name << std::endl;
            return 0;
        }
        driver.read_device(options, log, progress);
        const auto& jobs = driver.get_job_list();
        if (jobs.empty()) return bad_input("no job list found in " + program);
        if (all_jobs) {
            for (const auto& [name, record] : jobs) {
                std::string why = sheet_name_problem(name);
                if (!why.empty()) return bad_input("job name '" + name + "' cannot be a sheet name: " + why);
                chosen.push_back(name);
            }
        }
        std::set<std::string> seen;
        for (const auto& job : chosen) {
            if (!jobs.contains(job)) return bad_input("unknown job '" + job + "' (see: vantor jobs " + program + ")");
            if (!seen.insert(job).second) return bad_input("job '" + job + "' is chosen twice");
        }
        fs::create_directories(out_dir);
        auto reports = driver.run(chosen, out_dir);
        console.finish();
        for (const auto& path : reports) std::cout << "Report: " << path << std::endl;
        return driver.last_run_failed() || reports.empty() ? 1 : 0;
    } catch (const std::exception& e) {
        console.finish();
        std::cerr << "vantor: error: " << e.what() << std::endl;
        return 1;
    }
}
