// Checks a (large) test program end to end and prints wall time, time per flow entry and peak
// memory; the time spent in patinfo (children's CPU time) is shown apart from the check itself.
// Beside them, measured in the same run and in processor time: the program's sheet files read
// (the floor of the reading phases) and the report's sheet XML made and deflated (the floor of
// writing the report). Targets at 100k flow entries: the run within 2 s (own CPU) and 150 MB.
//
//   bench_check <program.xlsm | sheet text folder> <pattern folder> [Period|Frequency]
//               [power order .xls] [patinfo program]
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>

#include "bench/process_usage.h"
#include "bench/report_floor.h"
#include "check/vantor.h"
#include "parsers/flow_table.h"
#include "parsers/pattern_sets.h"

namespace fs = std::filesystem;

namespace {

double seconds(const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; }

double children_cpu() {
    rusage u{};
    getrusage(RUSAGE_CHILDREN, &u);
    return seconds(u.ru_utime) + seconds(u.ru_stime);
}

// Resident memory now, from /proc (0 where it cannot be read).
long current_rss_kb() {
    FILE* f = std::fopen("/proc/self/status", "r");
    if (!f) return 0;
    char line[256];
    long kb = 0;
    while (std::fgets(line, sizeof line, f))
        if (std::sscanf(line, "VmRSS: %ld kB", &kb) == 1) break;
    std::fclose(f);
    return kb;
}

using bench::peak_rss_kib;
using bench::process_cpu_seconds;

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::cerr << "usage: bench_check <program> <pattern folder> [Period|Frequency] "
                     "[power order .xls] [patinfo program]\n";
        return 2;
    }
    const std::string program = argv[1];
    const std::string patterns = argv[2];
    const std::string cycle = argc > 3 ? argv[3] : "Period";
    const std::string power_order = argc > 4 ? argv[4] : "";
    if (argc > 5) igxl::set_patinfo_program(argv[5]);

    const fs::path work = fs::temp_directory_path() / ("igxl_bench_check_" + std::to_string(getpid()));
    fs::create_directories(work);

    size_t log_lines = 0;
    const auto t0 = std::chrono::steady_clock::now();
    const double child0 = children_cpu();
    igxl::Vantor v(work.string());
    // Phase marks from the progress values: 1 job start, 8 first pass, 19 second pass, the
    // first value above 29 the third pass (after its first entry), 100 job end.
    using clock = std::chrono::steady_clock;
    struct Mark {
        double progress;
        clock::time_point at;
        double cpu;
        long rss_kb;
    };
    std::vector<Mark> marks;
    igxl::CheckOptions options;
    options.program = program;
    options.pattern_path = patterns;
    options.power_order = power_order;
    options.cycle_mode = igxl::parse_cycle_mode(cycle).value_or(igxl::CycleMode::Period);
    // The steps after the jobs, timed apart: summary sheets, the findings sheet, the save.
    struct Stage {
        const char* name;
        clock::time_point at;
        double cpu;
        long rss_kb;
    };
    std::vector<Stage> stages;
    v.set_stage_hook([&](const char* name) { stages.push_back({name, clock::now(), process_cpu_seconds(), current_rss_kb()}); });
    v.read_device(options, [&](const std::string&) { ++log_lines; }, [&](double p) {
                      const bool third = p > 29 && p < 100 && !marks.empty() &&
                                         marks.back().progress == 19;
                      if (p == 1 || p == 8 || p == 19 || p == 100)
                          marks.push_back({p, clock::now(), process_cpu_seconds(), current_rss_kb()});
                      if (third) marks.push_back({30, clock::now(), process_cpu_seconds(), current_rss_kb()});
                  });
    const auto t1 = std::chrono::steady_clock::now();

    std::vector<std::string> jobs;
    size_t entries = 0;
    for (const auto& [name, record] : v.get_job_list()) {
        jobs.push_back(name);
        igxl::Fennick f;  // counted apart, not timed
        f.read_flow_table(v.device_folder() + "/" + record.FlowTable + ".txt", options.platform);
        entries += f.get_test_suite_info().size();
    }

    const double cpu0 = process_cpu_seconds();
    const auto t2 = std::chrono::steady_clock::now();
    auto reports = v.run(jobs, work.string());
    const auto t3 = std::chrono::steady_clock::now();
    const double patinfo = children_cpu() - child0;
    const double cpu1 = process_cpu_seconds();
    const long peak = peak_rss_kib();  // before the floors below hold the sheets' text and XML
    const double run_cpu = cpu1 - cpu0;

    const double export_s = std::chrono::duration<double>(t1 - t0).count();
    const double check_s = std::chrono::duration<double>(t3 - t2).count();
    std::printf("jobs:                 %zu\n", jobs.size());
    std::printf("flow entries:         %zu\n", entries);
    std::printf("patterns evaluated:   %zu\n", v.pattern_count());
    std::printf("log lines:            %zu\n", log_lines);
    std::printf("read_device (export): %.3f s\n", export_s);
    std::printf("run (wall):           %.3f s\n", check_s);
    std::printf("  patinfo (children): %.3f s CPU\n", patinfo);
    std::printf("  own CPU:            %.3f s (user + system; steadier than wall on a busy machine)\n",
                run_cpu);
    std::printf("  check without it:  %.3f s\n", check_s - patinfo);
    std::printf("per flow entry:       %.3f us (without patinfo)\n",
                entries ? (check_s - patinfo) * 1e6 / static_cast<double>(entries) : 0.0);
    // The pattern map sheet counts its own progress up to 100 again: its marks are no job's.
    if (!stages.empty())
        std::erase_if(marks, [&](const Mark& m) { return m.at >= stages.front().at; });
    const char* phase_names[] = {"read sheets", "pass 1 (rows)", "pass 2 (flow, power)",
                                 "pass 3 (patterns)"};
    for (size_t i = 0; i + 1 < marks.size(); ++i) {
        const double from = marks[i].progress;
        const int phase = from == 1 ? 0 : from == 8 ? 1 : from == 19 ? 2 : from == 30 ? 3 : -1;
        if (phase < 0) continue;
        std::printf("  %-20s %.3f s CPU, %.3f s wall   (RSS after: %.0f MiB)\n", phase_names[phase],
                    marks[i + 1].cpu - marks[i].cpu,
                    std::chrono::duration<double>(marks[i + 1].at - marks[i].at).count(),
                    static_cast<double>(marks[i + 1].rss_kb) / 1024.0);
    }
    if (!marks.empty() && !stages.empty())
        std::printf("  %-20s %.3f s CPU, %.3f s wall\n", "last job sheet close", stages.front().cpu - marks.back().cpu,
                    std::chrono::duration<double>(stages.front().at - marks.back().at).count());
    for (size_t i = 0; i < stages.size(); ++i) {
        const bool last = i + 1 == stages.size();
        const double cpu_end = last ? cpu1 : stages[i + 1].cpu;
        const auto at_end = last ? t3 : stages[i + 1].at;
        const long rss_end = last ? current_rss_kb() : stages[i + 1].rss_kb;
        std::printf("  %-20s %.3f s CPU, %.3f s wall   (RSS after: %.0f MiB)\n", stages[i].name,
                    cpu_end - stages[i].cpu, std::chrono::duration<double>(at_end - stages[i].at).count(),
                    static_cast<double>(rss_end) / 1024.0);
    }
    // The floor of the reading phases: every sheet text file of the program read once (cache
    // warm, as the check finds them); each job reads its instance, spec and pattern-set sheets.
    double read_floor = 0;
    size_t read_bytes = 0;
    {
        const double c0 = bench::thread_cpu_seconds();
        std::string buf;
        for (const auto& e : fs::directory_iterator(v.device_folder())) {
            if (!e.is_regular_file() || e.path().extension() != ".txt") continue;
            std::ifstream in(e.path(), std::ios::binary);
            buf.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
            read_bytes += buf.size();
        }
        read_floor = bench::thread_cpu_seconds() - c0;
    }
    std::printf("  floor: reading the sheet files (%.1f MB) once %.3f s CPU\n", static_cast<double>(read_bytes) / 1e6,
                read_floor);
    std::printf("peak memory:          %.1f MiB = %.1f MB (target 150 MB at 100k entries; run target 2 s)\n",
                static_cast<double>(peak) / 1024.0, static_cast<double>(peak) * 1024.0 / 1e6);
    // The job sheets are written while the walk goes on, so the writer's share of the run has no
    // time of its own to set beside the floor.
    if (!reports.empty()) bench::print_report_floor(bench::measure_report_floor(reports[0]), -1);
    std::printf("report:               %s%s\n", reports.empty() ? "(none)" : reports[0].c_str(),
                v.last_run_failed() ? " (run failed)" : "");
    return v.last_run_failed() ? 1 : 0;
}
