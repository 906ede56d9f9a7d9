// Generates a tree of VBT modules (about one million lines by default) and times parse_files on
// it, the reference scans included. Prints time, lines per second and peak resident memory.
//
//   vbt_parse_bench [total_lines] [folder]
// A given folder is kept, and reused as it is when it already holds modules; a temporary one is
// removed afterwards.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "generated_tree.h"
#include "vbt/parser.h"

using namespace vbt_bench;

int main(int argc, char** argv) {
    const size_t total = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1000000;
    const bool keep = argc > 2;
    const fs::path root = keep ? fs::path(argv[2])
                               : fs::temp_directory_path() / ("vbt_bench_" + std::to_string(::getpid()));
    const int modules = MODULES;
    const uintmax_t bytes = make_tree(root, total);
    const long rss_before = peak_rss_kib();

    igxl::vbt::VBAParser parser;
    const double c0 = process_cpu_seconds();
    auto t0 = std::chrono::steady_clock::now();
    parser.parse_files(root.string());
    auto t1 = std::chrono::steady_clock::now();
    const double cpu = process_cpu_seconds() - c0;
    const double secs = std::chrono::duration<double>(t1 - t0).count();

    size_t lines = 0;
    for (const auto& [path, text] : parser.files) lines += text.size();
    size_t refs = 0, locals = 0, modvars = 0;
    for (const auto& [name, counted] : parser.reference_counts) refs += counted.total;
    for (const auto& [key, list] : parser.local_variables) locals += list.size();
    for (const auto& [key, list] : parser.module_variables) modvars += list.size();
    std::printf("modules %d, lines %zu, source %.1f MiB\n", modules, lines, bytes / 1048576.0);
    std::printf("records: %zu globals, %zu module, %zu locals, %zu functions, %zu types, %zu enums, %zu references\n",
                parser.global_variables.size(), modvars, locals, parser.functions.size(), parser.types.size(),
                parser.enums.size(), refs);
    // CPU time is the fairer figure on a shared machine; wall time includes waiting for a core.
    std::printf("parse_files: %.3f s CPU (%.0f lines/s), %.3f s wall\n", cpu, lines / cpu, secs);
    std::printf("peak RSS: %.1f MiB (%.1f MiB before parsing)\n", peak_rss_kib() / 1024.0, rss_before / 1024.0);
    if (!keep) fs::remove_all(root);
    return 0;
}
