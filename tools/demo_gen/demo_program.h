// Generator of a realistic IG-XL test program: job list, flow tables with a sub-flow, test
// instances, nested pattern sets, time sets, pin levels, DC/AC/global specs, pattern files.
#pragma once
#include <cstdint>
#include <string>

namespace igxl::demo {

struct DemoOptions {
    std::string out_dir;
    unsigned size = 1;                   // 1: a few jobs and tens of tests; grows linearly
    std::string platform = "UltraFLEX";  // "UltraFLEX", "UltraFLEXplus" or "J750"
    uint64_t seed = 1;
    bool write_workbook = true;          // DemoProgram.xlsm beside the sheet text files
};

struct DemoStats {
    size_t sheets = 0;
    size_t rows = 0;
    size_t patterns = 0;
    size_t tests = 0;
};

// The workbook's file name inside out_dir.
inline constexpr const char* kWorkbookName = "DemoProgram.xlsm";

// Writes the program into out_dir (created when missing); same options, same files.
DemoStats generate_demo_program(const DemoOptions& options);

}  // namespace igxl::demo
