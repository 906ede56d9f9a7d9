// bench_parsers [--size N] [--dir D] [--repeat R]
//
// Generates a large demo program (sheet text files only) and times every sheet reader on it,
// one core, best of R runs; prints rows per second per reader. Aim: 1 million rows/s or more.
#include <CLI/CLI.hpp>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "parsers/flow_table.h"
#include "parsers/job_list.h"
#include "parsers/pattern_sets.h"
#include "parsers/pin_levels.h"
#include "parsers/spec_sheets.h"
#include "parsers/test_instances.h"
#include "parsers/time_sets.h"
#include "tools/demo_gen/demo_program.h"
#include "util/lines.h"

namespace fs = std::filesystem;
using namespace igxl;

namespace {

size_t count_lines(const std::string& path) {
    util::LineReader r(path);
    std::string_view line;
    size_t n = 0;
    while (r.next(line)) ++n;
    return n;
}

struct Result {
    std::string reader;
    size_t rows;
    double seconds;
};

// Best of `repeat` runs: the machines are shared, the minimum is the least disturbed.
double best_of(int repeat, const std::function<void()>& run) {
    double best = 1e300;
    for (int i = 0; i < repeat; ++i) {
        auto t0 = std::chrono::steady_clock::now();
        run();
        double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        best = std::min(best, s);
    }
    return best;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"Times every sheet reader on a large generated program"};
    unsigned size = 2500;
    int repeat = 5;
    std::string dir = (fs::temp_directory_path() / "igxl_bench_parsers").string();
    std::string platform = "UltraFLEX";
    app.add_option("--size", size, "demo program scale");
    app.add_option("--dir", dir, "where the program is generated (replaced)");
    app.add_option("--repeat", repeat, "runs per reader; the best counts")->check(CLI::PositiveNumber);
    app.add_option("--platform", platform, "sheet layouts")
        ->check(CLI::IsMember({"UltraFLEX", "UltraFLEXplus", "J750"}));
    CLI11_PARSE(app, argc, argv);

    fs::remove_all(dir);
    demo::DemoOptions o;
    o.out_dir = dir;
    o.size = size;
    o.platform = platform;
    o.write_workbook = false;
    auto t0 = std::chrono::steady_clock::now();
    auto stats = demo::generate_demo_program(o);
    double gen_s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    std::printf("generated %zu rows in %s (%.2f s)\n\n", stats.rows, dir.c_str(), gen_s);

    auto sheet = [&](const std::string& name) { return dir + "/" + name + ".txt"; };
    auto rows_of = [&](const std::vector<std::string>& names) {
        size_t n = 0;
        for (const auto& s : names) n += count_lines(sheet(s));
        return n;
    };
    const std::vector<std::string> flows = {"Flow_FT_Room", "Flow_FT_Hot", "Flow_QA_Low"};
    const std::vector<std::string> instances = {"Test Instances", "Test Instances Sub"};
    const std::vector<std::string> pattern_sets = {"PatSets_Func", "PatSets_Scan"};
    const std::vector<std::string> timing = {"TSB_Func", "TSB_Scan"};
    const std::vector<std::string> levels = {"Levels_Func", "Levels_Low"};

    // The instance reader needs the resolved pattern set map, as in a check.
    Quorvin q0;
    for (const auto& s : pattern_sets) q0.read_pattern_set(sheet(s), dir + "/patterns", platform);
    const PatternSetMap resolved = q0.get_pattern_set_info();

    // Readers print warnings (the demo's nop banners have no bins); keep them off the table.
    std::ostringstream swallowed;
    std::streambuf* console = std::cout.rdbuf(swallowed.rdbuf());
    std::vector<Result> results;
    results.push_back({"Kestine (job list)", rows_of({"Job List"}), best_of(repeat, [&] {
                           Kestine k;
                           k.read_job_list(sheet("Job List"));
                       })});
    // Each main flow calls the common sub-flow, which is read again every time.
    results.push_back({"Fennick (flow tables)",
                       rows_of(flows) + flows.size() * rows_of({"Flow_Sub_Common"}),
                       best_of(repeat, [&] {
                           Fennick f;
                           for (const auto& s : flows) f.read_flow_table(sheet(s), platform);
                       })});
    results.push_back({"Delmora (test instances)", rows_of(instances), best_of(repeat, [&] {
                           Delmora d;
                           for (const auto& s : instances) d.read_test_instance(sheet(s), resolved, platform);
                       })});
    results.push_back({"Quorvin (pattern sets, resolved)", rows_of(pattern_sets), best_of(repeat, [&] {
                           Quorvin q;
                           for (const auto& s : pattern_sets) q.read_pattern_set(sheet(s), "", platform);
                           (void)q.get_pattern_set_info();
                       })});
    results.push_back({"Ostrel (time sets)", rows_of(timing), best_of(repeat, [&] {
                           ParseTIM t;
                           for (const auto& s : timing) t.read_timing(sheet(s), platform);
                       })});
    results.push_back({"Pirrow (pin levels)", rows_of(levels), best_of(repeat, [&] {
                           for (const auto& s : levels) {
                               ParsePinLevel p;
                               p.read_pin_level(sheet(s));
                           }
                       })});
    results.push_back({"Vexdon (DC specs)", rows_of({"DC Specs", "DC Specs Lo"}), best_of(repeat, [&] {
                           for (const char* s : {"DC Specs", "DC Specs Lo"}) {
                               Vexdon v;
                               v.read_dc_spec(sheet(s), platform);
                           }
                       })});
    results.push_back({"Ulmara (AC specs)", rows_of({"AC Specs", "AC Specs Lo"}), best_of(repeat, [&] {
                           for (const char* s : {"AC Specs", "AC Specs Lo"}) {
                               Ulmara u;
                               u.read_ac_spec(sheet(s), platform);
                           }
                       })});
    results.push_back({"Morrant (global specs)", rows_of({"Global Specs"}), best_of(repeat, [&] {
                           ParseGlobalSpec g;
                           g.read_spec(sheet("Global Specs"), platform);
                       })});

    std::cout.rdbuf(console);
    std::printf("%-34s %10s %10s %14s\n", "reader", "rows", "ms", "rows/s");
    bool all_fast = true;
    for (const auto& r : results) {
        double rate = r.seconds > 0 ? static_cast<double>(r.rows) / r.seconds : 0;
        // A sheet of a few rows measures the file open, not the reader.
        const bool measurable = r.rows >= 1000;
        const bool fast = !measurable || rate >= 1e6;
        all_fast = all_fast && fast;
        std::printf("%-34s %10zu %10.2f %14.0f%s\n", r.reader.c_str(), r.rows, r.seconds * 1e3, rate,
                    !measurable ? "  (too few rows to judge)" : fast ? "" : "  (below 1M rows/s)");
    }
    std::printf("\n%s\n", all_fast ? "every reader at 1M rows/s or more"
                                   : "some readers below 1M rows/s");
    fs::remove_all(dir);
    return 0;
}
