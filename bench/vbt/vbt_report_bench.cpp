// Times the dry-run report writer on the generated module tree of vbt_parse_bench (about one
// million lines by default): parse_files first, then generate_dry_run_report, each with its own
// CPU time, wall time and the peak resident memory after it. Beside them, measured in the same
// run: reading the module files (the floor of parsing) and the report's sheet XML made and
// deflated (the floor of writing), in processor time like the phases they stand beside (wall
// time on a shared machine counts the waits for a core). Targets: the whole run within 1.5 s
// and 120 MB at 1M lines.
//
//   vbt_report_bench [total_lines] [folder]
// A given folder is kept, and reused as it is when it already holds modules; a temporary one is
// removed afterwards. The report is written to a temporary folder and removed.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <sstream>
#include <iterator>
#include <string>

#include "bench/report_floor.h"
#include "generated_tree.h"
#include "vbt/parser.h"
#include "vbt_report/tessaly.h"

using namespace vbt_bench;

namespace {

struct Phase {
    double cpu = 0, wall = 0;
};

template <class F>
Phase timed(F&& f) {
    const double c0 = process_cpu_seconds();
    const auto t0 = std::chrono::steady_clock::now();
    f();
    return {process_cpu_seconds() - c0, std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count()};
}

}  // namespace

int main(int argc, char** argv) {
    const size_t total = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1000000;
    const bool keep = argc > 2;
    const std::string tag = std::to_string(::getpid());
    const fs::path root = keep ? fs::path(argv[2]) : fs::temp_directory_path() / ("vbt_bench_" + tag);
    const fs::path out_dir = fs::temp_directory_path() / ("vbt_report_bench_" + tag);
    const uintmax_t bytes = make_tree(root, total);
    fs::create_directories(out_dir);

    // Reading the files alone (cache warm, as the parse that follows finds them).
    const Phase reading = timed([&] {
        std::string buf;
        for (const auto& e : fs::recursive_directory_iterator(root)) {
            if (!e.is_regular_file()) continue;
            std::ifstream in(e.path(), std::ios::binary);
            buf.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        }
    });
    // The parser and the writer print progress lines; keep them out of the figures.
    std::ostringstream quiet;
    auto* saved = std::cout.rdbuf(quiet.rdbuf());
    igxl::vbt::VBAParser parser;
    const Phase parse = timed([&] { parser.parse_files(root.string()); });
    const long rss_parse = peak_rss_kib();
    igxl::vbt::Tessaly writer;
    std::string path;
    int last_progress = 0;
    const Phase report = timed([&] {
        path = writer.generate_dry_run_report([&](int v) { last_progress = v; }, parser, out_dir.string());
    });
    std::cout.rdbuf(saved);

    size_t lines = 0;
    for (const auto& [p, text] : parser.files) lines += text.size();
    const auto issues = parser.get_all_variable_issues();
    std::printf("lines %zu, source %.1f MiB, %zu issue rows, report %.1f MiB (progress ended at %d)\n", lines,
                bytes / 1048576.0, issues.total(), fs::file_size(path) / 1048576.0, last_progress);
    std::printf("parse_files: %.3f s CPU, %.3f s wall; peak RSS %.1f MiB\n", parse.cpu, parse.wall,
                rss_parse / 1024.0);
    std::printf("  floor: reading the files %.3f s CPU, %.3f s wall; parse_files %.2fx the floor\n", reading.cpu,
                reading.wall, reading.cpu > 0 ? parse.cpu / reading.cpu : 0.0);
    const long rss_report = peak_rss_kib();  // before the floor below holds the sheets' XML
    std::printf("dry-run report: %.3f s CPU, %.3f s wall; peak RSS %.1f MiB\n", report.cpu, report.wall,
                rss_report / 1024.0);
    bench::print_report_floor(bench::measure_report_floor(path), report.cpu);
    std::printf("whole run: %.3f s CPU, %.3f s wall (target 1.5 s), peak RSS %.1f MiB = %.1f MB (target 120 MB)\n",
                parse.cpu + report.cpu, parse.wall + report.wall, rss_report / 1024.0, rss_report * 1024.0 / 1e6);
    fs::remove_all(out_dir);
    if (!keep) fs::remove_all(root);
    return 0;
}
