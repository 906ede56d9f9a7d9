#include "host/diff_command.h"

#include <CLI/CLI.hpp>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <iostream>
#include <optional>

#include "diff/diff_report.h"
#include "diff/program_diff.h"
#include "parsers/platform.h"
#include "util/platform.h"
#include "util/text.h"

namespace igxl::host {

namespace fs = std::filesystem;

namespace {

constexpr int kFailed = 1;
constexpr int kBadInput = 2;
constexpr int kChanged = 3;

int bad_input(const std::string& message) {
    std::cerr << "vantor: error: " << message << std::endl;
    return kBadInput;
}

// `given`/<name> when a working folder is given, else a temporary folder removed when the run
// ends (scratch owns it).
std::string make_work_dir(const std::string& given, const std::string& name,
                          std::optional<util::TempDir>& scratch) {
    if (!given.empty()) {
        const std::string p = util::join_path(given, name);
        fs::create_directories(util::path_from_utf8(p));
        return p;
    }
    scratch.emplace("vantor-diff-" + name + "-");
    return scratch->path();
}

std::string workbook_name(const std::tm& t) {
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d__%H%M%S", &t);
    return "VantorDiff_" + std::string(stamp) + ".xlsx";
}

// Warnings on standard error; progress as a bar on standard error when it is a terminal.
class DiffConsole final : public diag::Sink {
public:
    DiffConsole() : tty_(util::stderr_is_terminal()) {}
    void emit(const diag::Event& e) override {
        if (e.severity == diag::Severity::progress) {
            if (!tty_) return;
            std::fprintf(stderr, "\r\033[K[%5.1f%%] %s", e.progress, e.text.c_str());
            std::fflush(stderr);
            bar_ = true;
            return;
        }
        // The readers' notices about each program (what the check reports) are counted, not
        // repeated: the diff's reader wants what differs.
        if (e.code.rfind("diff.", 0) != 0) {
            ++reader_notices_;
            return;
        }
        clear();
        std::cerr << (e.severity == diag::Severity::error ? "error: " : "warning: ") << e.text
                  << std::endl;
    }
    std::size_t reader_notices() const { return reader_notices_; }
    void clear() {
        if (bar_) std::fprintf(stderr, "\r\033[K");
        bar_ = false;
    }

private:
    bool tty_;
    bool bar_ = false;
    std::size_t reader_notices_ = 0;
};

}  // namespace

void add_diff_command(CLI::App& app, DiffCommand& o) {
    auto* cmd = app.add_subcommand("diff", "what changed between two revisions of a test program");
    cmd->add_option("OLD", o.old_program, "the earlier revision: .xlsm, .igxl/.zip or folder of sheets")
        ->required();
    cmd->add_option("NEW", o.new_program, "the later revision, in any of the same forms")->required();
    auto* jobs = cmd->add_option("--jobs", o.jobs, "jobs to compare, comma-separated (default: every job)");
    auto* all = cmd->add_flag("--all", o.all_jobs, "compare every job of either revision");
    jobs->excludes(all);
    std::vector<std::string> platforms;
    for (const auto& l : kPlatformLayouts) platforms.emplace_back(l.name);
    o.platform = std::string(platform_name(kDefaultPlatform));
    cmd->add_option("--platform", o.platform, "tester platform of both revisions")
        ->check(CLI::IsMember(platforms, CLI::ignore_case))
        ->capture_default_str();
    cmd->add_option("--out", o.out_dir, "folder the diff workbook is written to")->capture_default_str();
    cmd->add_option("--json", o.json_path, "also write the changes as JSON to this file");
    cmd->add_flag("--fail-on-change", o.fail_on_change,
                  "exit with status 3 when anything other than a note changed");
    cmd->add_option("--work-dir", o.work_dir, "folder the programs are exported or unpacked into");
    o.command = cmd;
}

int run_diff_command(const DiffCommand& o, const std::string& version) {
    diff::DiffOptions options;
    const auto platform = parse_platform(o.platform);
    if (!platform) return bad_input("unknown platform '" + o.platform + "' (one of " + platform_names() + ")");
    options.platform = *platform;
    if (!o.all_jobs) {
        for (auto part : util::split(o.jobs, ','))
            if (!util::strip(part).empty()) options.jobs.emplace_back(util::strip(part));
        if (!o.jobs.empty() && options.jobs.empty()) return bad_input("--jobs names no job");
    }
    for (const auto* program : {&o.old_program, &o.new_program})
        if (!fs::exists(util::path_from_utf8(*program))) return bad_input("program not found: " + *program);

    DiffConsole console;
    try {
        std::optional<util::TempDir> old_scratch, new_scratch;
        const std::string old_dir =
            diff::prepare_program(o.old_program, make_work_dir(o.work_dir, "old", old_scratch));
        const std::string new_dir =
            diff::prepare_program(o.new_program, make_work_dir(o.work_dir, "new", new_scratch));
        diff::DiffResult result = diff::diff_programs(old_dir, new_dir, options, console);
        console.clear();
        result.old_program = o.old_program;
        result.new_program = o.new_program;

        fs::create_directories(util::path_from_utf8(o.out_dir));
        // What a killed diff left of its outputs; a diff writing into the same folder keeps its own.
        auto say_removed = [&console](const std::string& left) {
            diag::emit(console, diag::Severity::warning, "diff.stale-temp-removed",
                       "removed a temporary file left by an interrupted diff: " + left, diag::kConsole);
        };
        for (const std::string& left : util::remove_abandoned_temp_files(o.out_dir, [](std::string_view name) {
                 return name.starts_with("VantorDiff_") && name.ends_with(".xlsx");
             }))
            say_removed(left);
        if (!o.json_path.empty()) {
            const fs::path json = util::path_from_utf8(o.json_path);
            const std::string name = util::path_to_utf8(json.filename());
            for (const std::string& left : util::remove_abandoned_temp_files(
                     json.has_parent_path() ? util::path_to_utf8(json.parent_path()) : ".",
                     [&name](std::string_view final_name) { return final_name == name; }))
                say_removed(left);
        }
        const std::string book = util::join_path(o.out_dir, workbook_name(util::local_time(std::time(nullptr))));
        diff::write_diff_workbook(result, book);
        if (!o.json_path.empty()) diff::write_diff_json(result, o.json_path, version);

        std::cout << "Changes: " << result.changes.size();
        for (auto t : diff::kChangeTypes)
            std::cout << ", " << diff::to_text(t) << " " << result.count(t);
        std::cout << "\nDiff: " << book << std::endl;
        if (!o.json_path.empty()) std::cout << "JSON: " << o.json_path << std::endl;
        if (console.reader_notices())
            std::cerr << "note: the sheet readers reported " << console.reader_notices()
                      << " notices about the programs themselves; vantor check shows them"
                      << std::endl;
        return o.fail_on_change && result.has_change() ? kChanged : 0;
    } catch (const diff::InputError& e) {
        console.clear();
        return bad_input(e.what());
    } catch (const std::exception& e) {
        console.clear();
        std::cerr << "vantor: error: " << e.what() << std::endl;
        return kFailed;
    }
}

}  // namespace igxl::host
