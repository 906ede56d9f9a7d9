// Diffs two revisions of a large generated program (one with about 1 % of its flow and instance
// rows edited) and checks one of them, printing both times: the diff should take no longer.
//
//   bench_diff [--size N] [--patinfo PROGRAM] [--keep]
//
// Size 2100 gives about 100 000 flow entries per revision. The check reads pattern files
// through patinfo (the stand-in beside this program unless named); without one it runs
// without the pattern folder.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "check/vantor.h"
#include "diff/program_diff.h"
#include "parsers/pattern_sets.h"
#include "tools/demo_gen/demo_program.h"
#include "util/platform.h"

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

double since(Clock::time_point t) {
    return std::chrono::duration<double>(Clock::now() - t).count();
}

// Edits every hundredth data row of flow and instance sheets: a test number one higher, an
// instance's DC selector changed. Returns the number of rows edited.
size_t edit_one_percent(const fs::path& dir) {
    size_t edited = 0;
    for (const auto& e : fs::directory_iterator(dir)) {
        const std::string name = e.path().filename().string();
        const bool flow = name.rfind("Flow_", 0) == 0;
        const bool instances = name.rfind("Test Instances", 0) == 0;
        if (!flow && !instances) continue;
        std::ifstream in(e.path(), std::ios::binary);
        std::string out, line;
        size_t row = 0;
        while (std::getline(in, line)) {
            if (row++ >= 4 && row % 100 == 50) {
                std::vector<std::string> f;
                std::stringstream ss(line);
                for (std::string x; std::getline(ss, x, '\t');) f.push_back(x);
                const size_t col = flow ? 9 : 6;
                if (f.size() > col && !f[col].empty()) {
                    f[col] = flow ? f[col] + "1" : (f[col] == "max" ? "min" : "max");
                    line.clear();
                    for (size_t i = 0; i < f.size(); ++i) line += (i ? "\t" : "") + f[i];
                    while (std::count(line.begin(), line.end(), '\t') + 1 <
                           static_cast<long>(f.size()))
                        line += '\t';
                    ++edited;
                }
            }
            out += line + "\n";
        }
        std::ofstream(e.path(), std::ios::binary) << out;
    }
    return edited;
}

}  // namespace

int main(int argc, char** argv) {
    unsigned size = 2100;
    std::string patinfo = (fs::path(argv[0]).parent_path() / "patinfo").string();
    bool keep = false;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--size") && i + 1 < argc) {
            size = static_cast<unsigned>(std::stoul(argv[++i]));
        } else if (!std::strcmp(argv[i], "--patinfo") && i + 1 < argc) {
            patinfo = argv[++i];
        } else if (!std::strcmp(argv[i], "--keep")) {
            keep = true;
        } else {
            std::cerr << "usage: bench_diff [--size N] [--patinfo PROGRAM] [--keep]\n";
            return 2;
        }
    }
    const fs::path root = fs::temp_directory_path() / ("igxl_bench_diff_" + std::to_string(igxl::util::process_id()));
    const fs::path old_dir = root / "old", new_dir = root / "new", work = root / "work";
    fs::create_directories(work);

    auto t = Clock::now();
    igxl::demo::DemoOptions o;
    o.out_dir = old_dir.string();
    o.size = size;
    o.write_workbook = false;
    const auto stats = igxl::demo::generate_demo_program(o);
    fs::copy(old_dir, new_dir, fs::copy_options::recursive);
    const size_t edited = edit_one_percent(new_dir);
    std::printf("program:              size %u, %zu rows, %zu flow tests (%.1f s to generate)\n",
                size, stats.rows, stats.tests, since(t));
    std::printf("rows edited:          %zu\n", edited);

    t = Clock::now();
    // Phase times from the progress events.
    igxl::diag::FunctionSink phases([&, last = std::string(), at = Clock::now()](
                                        const igxl::diag::Event& e) mutable {
        if (e.severity != igxl::diag::Severity::progress) return;
        if (!last.empty()) std::printf("  %-20s %.3f s\n", last.c_str(), since(at));
        last = e.text;
        at = Clock::now();
    });
    const igxl::diff::DiffResult result =
        igxl::diff::diff_programs(old_dir.string(), new_dir.string(), {}, phases);
    const double diff_s = since(t);
    std::printf("diff:                 %.3f s, %zu changes (%zu added, %zu removed, %zu changed, "
                "%zu moved, %zu notes)\n",
                diff_s, result.changes.size(), result.count(igxl::diff::ChangeType::added),
                result.count(igxl::diff::ChangeType::removed),
                result.count(igxl::diff::ChangeType::changed),
                result.count(igxl::diff::ChangeType::moved),
                result.count(igxl::diff::ChangeType::note));

    const bool with_patterns = fs::is_regular_file(patinfo);
    if (with_patterns) igxl::set_patinfo_program(fs::absolute(patinfo).string());
    t = Clock::now();
    igxl::Vantor check(work.string());
    igxl::CheckOptions options;
    options.program = old_dir;
    if (with_patterns) options.pattern_path = old_dir / "patterns";
    check.read_device(options);
    std::vector<std::string> jobs;
    for (const auto& [name, record] : check.get_job_list()) jobs.push_back(name);
    check.run(jobs, work.string());
    const double check_s = since(t);
    std::printf("check of one revision: %.3f s (%s)%s\n", check_s,
                with_patterns ? "with patinfo" : "without a pattern folder",
                check.last_run_failed() ? " (run failed)" : "");
    std::printf("diff / check:         %.2f\n", check_s > 0 ? diff_s / check_s : 0.0);

    if (!keep) fs::remove_all(root);
    return diff_s <= check_s ? 0 : 1;
}
