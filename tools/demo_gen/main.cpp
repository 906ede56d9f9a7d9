// demo_gen OUTDIR [--size N] [--platform UltraFLEX|UltraFLEXplus|J750] [--seed S] [--text-only]
#include <CLI/CLI.hpp>

#include <iostream>

#include "tools/demo_gen/demo_program.h"
#include "util/error.h"

int main(int argc, char** argv) {
    CLI::App app{"Writes a demo IG-XL test program: sheet text files, DemoProgram.xlsm and "
                 "pattern files"};
    igxl::demo::DemoOptions o;
    bool text_only = false;
    app.add_option("outdir", o.out_dir, "output folder (created when missing)")->required();
    app.add_option("--size", o.size, "scale: 1 is a few jobs and tens of tests")
        ->check(CLI::Range(1u, 1000000u));
    app.add_option("--platform", o.platform, "tester platform whose sheet layouts are written")
        ->check(CLI::IsMember({"UltraFLEX", "UltraFLEXplus", "J750"}));
    app.add_option("--seed", o.seed, "seed of the pseudo-random choices (same seed, same files)");
    app.add_flag("--text-only", text_only, "write the sheet text files but no workbook");
    CLI11_PARSE(app, argc, argv);
    o.write_workbook = !text_only;
    try {
        auto s = igxl::demo::generate_demo_program(o);
        std::cout << "Wrote " << s.sheets << " sheets (" << s.rows << " rows, " << s.tests
                  << " flow tests) and " << s.patterns << " pattern files to " << o.out_dir
                  << (o.write_workbook ? " with " + std::string(igxl::demo::kWorkbookName) : "")
                  << "\n";
    } catch (const std::exception& e) {
        std::cerr << "demo_gen: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
