// `vantor diff OLD NEW`: the command line of the revision diff.
#pragma once
#include <string>

namespace CLI {
class App;
}

namespace igxl::host {

struct DiffCommand {
    std::string old_program;
    std::string new_program;
    std::string jobs;  // comma-separated; empty with --all or neither
    bool all_jobs = false;
    std::string platform;  // checked against the platform names; empty: the default
    std::string out_dir = ".";
    std::string json_path;
    bool fail_on_change = false;
    std::string work_dir;
    CLI::App* command = nullptr;  // the subcommand, to ask whether it was given
};

// Adds the "diff" subcommand to app; its options land in `into`.
void add_diff_command(CLI::App& app, DiffCommand& into);

// Runs the diff: 0 when it ran, 3 with --fail-on-change when there is a change other than a
// note, 1 when it failed, 2 for bad input. Writes its own messages (stderr) and results.
int run_diff_command(const DiffCommand& options, const std::string& version);

}  // namespace igxl::host
