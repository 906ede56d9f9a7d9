// bench_parsers [--size N] [--dir D] [--repeat R] [--platform P] [--cold-heap]
//
// Generates a large demo program (sheet text files only) and times every sheet reader on it,
// one core, best of R runs by processor time; prints rows per processor second per reader (the
// job list reader on a long generated job list) and, apart, the time to drop what was read.
// Aim: 1 million rows/s or more.
#include <CLI/CLI.hpp>

#include <chrono>
#include <ctime>

#include <malloc.h>
#include <sys/resource.h>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <stdexcept>
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
    double cpu_seconds;   // reading, best run (processor time of this thread)
    double wall_seconds;  // reading, same run
    double free_seconds;  // dropping what was read, same run (processor time)
    long faults;          // page faults while reading, same run (fresh memory is costly on VMs)
};

long thread_page_faults() {
    rusage ru{};
    getrusage(RUSAGE_THREAD, &ru);
    return ru.ru_minflt + ru.ru_majflt;
}

double thread_cpu_seconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

double wall_seconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Best of `repeat` runs by processor time: the machines are shared, and time spent waiting for
// a core says nothing of the reader. `run` reads and returns what it read; dropping it is timed
// apart, since a check keeps the maps until it ends.
template <class Run>
Result best_of(int repeat, std::string reader, size_t rows, Run run) {
    Result best{std::move(reader), rows, 1e300, 0, 0, 0};
    for (int i = 0; i < repeat; ++i) {
        const long f0 = thread_page_faults();
        const double c0 = thread_cpu_seconds(), w0 = wall_seconds();
        auto kept = run();
        const double c1 = thread_cpu_seconds(), w1 = wall_seconds();
        const long f1 = thread_page_faults();
        kept.reset();
        const double c2 = thread_cpu_seconds();
        if (c1 - c0 < best.cpu_seconds) {
            best.cpu_seconds = c1 - c0;
            best.wall_seconds = w1 - w0;
            best.free_seconds = c2 - c1;
            best.faults = f1 - f0;
        }
    }
    return best;
}

// The demo's job list has a handful of jobs; the job list reader is timed on a long one of the
// same layout (same title and header rows, one job per row).
size_t write_long_job_list(const std::string& demo_job_list, const std::string& path, size_t jobs) {
    std::string head;
    {
        util::LineReader r(demo_job_list);
        std::string_view line;
        for (int i = 0; i < 4 && r.next(line); ++i) head.append(line).push_back('\n');
    }
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) throw std::runtime_error("cannot write " + path);
    std::fputs(head.c_str(), f);
    for (size_t j = 0; j < jobs; ++j) {
        std::fprintf(f,
                     "\tJOB_%06zu\tPinMap\tTest Instances,Test Instances Sub\tFlow_FT_Room\t"
                     "AC Specs\tDC Specs\tPatSets_Func,PatSets_Scan\t\t\t\t\t\t\t\t\t\t\t\t"
                     "generated job %zu\n",
                     j, j);
    }
    std::fclose(f);
    return 4 + jobs;
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
    bool cold_heap = false;
    app.add_flag("--cold-heap", cold_heap,
                 "let the allocator hand freed memory back between runs, so every run of a "
                 "reader that happens to free the heap's top pays first-touch page faults again");
    CLI11_PARSE(app, argc, argv);
    // By default freed memory stays with the process: every reader is then timed on a heap the
    // earlier runs warmed, whatever the order of the readers (otherwise only those whose memory
    // ends up at the heap's top are trimmed and fault it all in again on every run).
    if (!cold_heap) {
        mallopt(M_TRIM_THRESHOLD, 1 << 30);
        mallopt(M_MMAP_THRESHOLD, 1 << 30);
    }

    fs::remove_all(dir);
    demo::DemoOptions o;
    o.out_dir = dir;
    o.size = size;
    o.platform = platform;
    o.write_workbook = false;
    const igxl::Platform layout = igxl::parse_platform(platform).value_or(igxl::kDefaultPlatform);
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
    for (const auto& s : pattern_sets) q0.read_pattern_set(sheet(s), dir + "/patterns", layout);
    const PatternSetMap resolved = q0.get_pattern_set_info();

    // Readers print warnings (the demo's nop banners have no bins); keep them off the table.
    std::ostringstream swallowed;
    std::streambuf* console = std::cout.rdbuf(swallowed.rdbuf());
    std::vector<Result> results;
    auto time = [&](std::string reader, size_t rows, auto run) {
        results.push_back(best_of(repeat, std::move(reader), rows, run));
    };
    const std::string long_job_list = dir + "/Job List Long.txt";
    const size_t job_rows = write_long_job_list(sheet("Job List"), long_job_list, size_t{40} * size);
    time("Kestine (job list, long)", job_rows, [&] {
        auto k = std::make_unique<Kestine>();
        k->read_job_list(long_job_list);
        return k;
    });
    // Each main flow calls the common sub-flow, which is read again every time.
    time("Fennick (flow tables)", rows_of(flows) + flows.size() * rows_of({"Flow_Sub_Common"}), [&] {
        auto f = std::make_unique<Fennick>();
        for (const auto& s : flows) f->read_flow_table(sheet(s), layout);
        return f;
    });
    time("Delmora (test instances)", rows_of(instances), [&] {
        auto d = std::make_unique<Delmora>();
        for (const auto& s : instances) d->read_test_instance(sheet(s), resolved, layout);
        return d;
    });
    time("Quorvin (pattern sets, resolved)", rows_of(pattern_sets), [&] {
        auto q = std::make_unique<std::pair<Quorvin, PatternSetMap>>();
        for (const auto& s : pattern_sets) q->first.read_pattern_set(sheet(s), "", layout);
        q->second = q->first.get_pattern_set_info();
        return q;
    });
    time("Ostrel (time sets)", rows_of(timing), [&] {
        auto t = std::make_unique<ParseTIM>();
        for (const auto& s : timing) t->read_timing(sheet(s), layout);
        return t;
    });
    time("Pirrow (pin levels)", rows_of(levels), [&] {
        auto p = std::make_unique<std::vector<ParsePinLevel>>(levels.size());
        for (size_t i = 0; i < levels.size(); ++i) (*p)[i].read_pin_level(sheet(levels[i]));
        return p;
    });
    const std::vector<std::string> dc = {"DC Specs", "DC Specs Lo"};
    const std::vector<std::string> ac = {"AC Specs", "AC Specs Lo"};
    time("Vexdon (DC specs, via Halvard)", rows_of(dc), [&] {
        auto v = std::make_unique<std::vector<Vexdon>>(dc.size());
        for (size_t i = 0; i < dc.size(); ++i) (*v)[i].read_dc_spec(sheet(dc[i]), layout);
        return v;
    });
    time("Ulmara (AC specs, via Halvard)", rows_of(ac), [&] {
        auto u = std::make_unique<std::vector<Ulmara>>(ac.size());
        for (size_t i = 0; i < ac.size(); ++i) (*u)[i].read_ac_spec(sheet(ac[i]), layout);
        return u;
    });
    time("Morrant (global specs)", rows_of({"Global Specs"}), [&] {
        auto g = std::make_unique<ParseGlobalSpec>();
        g->read_spec(sheet("Global Specs"), layout);
        return g;
    });

    std::cout.rdbuf(console);
    std::printf("%-34s %8s %8s %8s %12s %8s %7s\n", "reader", "rows", "cpu ms", "wall ms",
                "rows/s (cpu)", "free ms", "faults");
    bool all_fast = true;
    for (const auto& r : results) {
        double rate = r.cpu_seconds > 0 ? static_cast<double>(r.rows) / r.cpu_seconds : 0;
        // A sheet of a few rows measures the file open, not the reader.
        const bool measurable = r.rows >= 1000;
        const bool fast = !measurable || rate >= 1e6;
        all_fast = all_fast && fast;
        std::printf("%-34s %8zu %8.2f %8.2f %12.0f %8.2f %7ld%s\n", r.reader.c_str(), r.rows,
                    r.cpu_seconds * 1e3, r.wall_seconds * 1e3, rate, r.free_seconds * 1e3, r.faults,
                    !measurable ? "  (too few rows to judge)" : fast ? "" : "  (below 1M rows/s)");
    }
    std::printf("\n%s\n", all_fast ? "every reader at 1M rows/s or more"
                                   : "some readers below 1M rows/s");
    fs::remove_all(dir);
    return 0;
}
