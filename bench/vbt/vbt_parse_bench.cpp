// Generates a tree of VBT modules (about one million lines by default) and times parse_files on
// it, the reference scans included. Prints time, lines per second and peak resident memory.
//
//   vbt_parse_bench [total_lines] [folder]
// A given folder is kept, and reused as it is when it already holds modules; a temporary one is
// removed afterwards.
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "vbt/parser.h"

namespace fs = std::filesystem;

namespace {

double cpu_seconds() {
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
           static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

long peak_rss_kib() {
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return ru.ru_maxrss;
}

// One module: Types, Enums and module variables up front, then procedures whose bodies use
// locals, module variables, globals and the Types of this and other modules.
size_t write_module(const fs::path& path, int m, int modules, size_t target_lines) {
    std::ofstream out(path, std::ios::binary);
    size_t lines = 0;
    auto line = [&](const std::string& s) {
        out << s << "\r\n";
        ++lines;
    };
    line("Attribute VB_Name = \"Mod" + std::to_string(m) + "\"");
    line("Option Explicit");
    line("' Generated module " + std::to_string(m) + " \xE2\x80\x93 limits and measurements");
    for (int t = 0; t < 5; ++t) {
        line("Public Type type_Rec" + std::to_string(m) + "_" + std::to_string(t));
        line("    Value As Double");
        line("    Name As String");
        line("End Type");
        line("Private Enum Mode" + std::to_string(m) + "_" + std::to_string(t));
        line("    MODE_A = 0");
        line("    MODE_B = 1");
        line("End Enum");
    }
    for (int v = 0; v < 10; ++v) {
        line("Public g_Limit" + std::to_string(m) + "_" + std::to_string(v) + "_dbl As Double");
        line("Private m_count" + std::to_string(v) + " As Long");
        line("Dim Flags" + std::to_string(v) + "(1 To 8) As Boolean");
    }
    line("Public Const g_MAX_SITES_lng As Long = 8 ' sites per run");
    const std::string other = std::to_string((m + 1) % modules);
    int proc = 0;
    while (lines < target_lines) {
        const std::string p = std::to_string(proc++);
        const char* kind = proc % 3 == 0 ? "_DSP" : proc % 3 == 1 ? "_VBT" : "";
        line("Public Function Measure" + p + kind + "(ByVal PinName As String, ByRef Result As Double, count) As Long");
        line("    Dim i As Long");
        line("    Dim total_value As Double, rec As type_Rec" + std::to_string(m) + "_1");
        line("    Dim site As Variant");
        line("    Dim readings(16) As Double");
        for (int k = 0; k < 6; ++k) {
            line("    ' step " + std::to_string(k) + ": read the pins and add to the total");
            line("    For i = 0 To 15");
            line("        readings(i) = TheHdw.DCVI.Pins(PinName).Meter.Read(tlStrobe, 4) * g_Limit" +
                 std::to_string(m) + "_" + std::to_string(k) + "_dbl");
            line("        total_value = total_value + readings(i) + m_count" + std::to_string(k));
            line("    Next i");
            line("    If total_value > rec.Value Then Call LogValue(\"over \" & CStr(total_value), Mode" +
                 std::to_string(m) + "_" + std::to_string(k % 5) + ")");
        }
        line("    For Each site In TheExec.Sites");
        line("        Dim other As type_Rec" + other + "_2");
        line("        other.Value = total_value / g_MAX_SITES_lng");
        line("    Next site");
        line("    Measure" + p + kind + " = CLng(total_value)");
        line("End Function");
        line("");
    }
    return lines;
}

}  // namespace

int main(int argc, char** argv) {
    const size_t total = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1000000;
    const bool keep = argc > 2;
    const fs::path root = keep ? fs::path(argv[2])
                               : fs::temp_directory_path() / ("vbt_bench_" + std::to_string(::getpid()));
    const int modules = 200;
    size_t lines = 0;
    const bool reuse = keep && fs::exists(root / "Group0");
    for (int m = 0; m < modules && !reuse; ++m) {
        fs::path dir = root / ("Group" + std::to_string(m % 10));
        fs::create_directories(dir);
        lines += write_module(dir / ("Mod" + std::to_string(m) + ".bas"), m, modules, total / modules);
    }
    uintmax_t bytes = 0;
    for (const auto& e : fs::recursive_directory_iterator(root))
        if (e.is_regular_file()) bytes += e.file_size();
    const long rss_before = peak_rss_kib();

    igxl::vbt::VBAParser parser;
    const double c0 = cpu_seconds();
    auto t0 = std::chrono::steady_clock::now();
    parser.parse_files(root.string());
    auto t1 = std::chrono::steady_clock::now();
    const double cpu = cpu_seconds() - c0;
    const double secs = std::chrono::duration<double>(t1 - t0).count();

    lines = 0;
    for (const auto& [path, text] : parser.files) lines += text.size();
    size_t refs = 0, locals = 0, modvars = 0;
    for (const auto& [name, list] : parser.variable_references) refs += list.size();
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
