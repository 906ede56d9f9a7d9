// The generated module tree the VBT benchmarks run on, plus the resource figures they print.
#pragma once
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "bench/process_usage.h"

namespace vbt_bench {

namespace fs = std::filesystem;

using bench::peak_rss_kib;
using bench::process_cpu_seconds;

// One module: Types, Enums and module variables up front, then procedures whose bodies use
// locals, module variables, globals and the Types of this and other modules.
inline size_t write_module(const fs::path& path, int m, int modules, size_t target_lines) {
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

constexpr int MODULES = 200;

// The tree under root (total_lines over MODULES modules in ten folders), unless root already holds
// one. Returns the bytes of module text under root.
inline uintmax_t make_tree(const fs::path& root, size_t total_lines) {
    if (!fs::exists(root / "Group0"))
        for (int m = 0; m < MODULES; ++m) {
            fs::path dir = root / ("Group" + std::to_string(m % 10));
            fs::create_directories(dir);
            write_module(dir / ("Mod" + std::to_string(m) + ".bas"), m, MODULES, total_lines / MODULES);
        }
    uintmax_t bytes = 0;
    for (const auto& e : fs::recursive_directory_iterator(root))
        if (e.is_regular_file()) bytes += e.file_size();
    return bytes;
}

}  // namespace vbt_bench
