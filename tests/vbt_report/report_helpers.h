// Helpers shared by the VBT report, refactorer and command-line tests: running commands,
// openpyxl as an independent reader/editor, and reading sheets back with our XLSX reader.
#pragma once
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "export/xlsx.h"
#include "tests/support/process.h"
#include "util/text.h"

namespace igxl::vbt::testing {

using RunResult = igxl::testing::CommandResult;

inline RunResult run(const std::string& cmd) { return igxl::testing::run_command(cmd); }

// Built by appending: g++ 12 warns falsely (-Wrestrict) on "'" + a temporary string.
inline std::string quote(const std::string& s) {
    std::string out = "'";
    out += util::replace_all(s, "'", "'\\''");
    out += "'";
    return out;
}

// Runs a Python script with Debian's interpreter (openpyxl installed there).
inline RunResult python(const std::string& script, const std::string& dir) {
    std::string path = dir + "/script.py";
    std::ofstream(path) << script;
    return run("/usr/bin/python3 " + quote(path));
}

inline std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// A sheet as rows of cell texts, header first; numbers as integers, booleans as TRUE/FALSE.
inline std::vector<std::vector<std::string>> sheet_rows(const std::string& path, const std::string& sheet) {
    auto text = [](const xlsx::Cell& c) -> std::string {
        if (c.kind == xlsx::Cell::Number) return std::to_string(static_cast<long long>(c.number));
        if (c.kind == xlsx::Cell::Bool) return c.boolean ? "TRUE" : "FALSE";
        return c.text;
    };
    xlsx::Table t = xlsx::read_table(path, sheet);
    std::vector<std::vector<std::string>> out;
    std::vector<std::string> header;
    for (const auto& c : t.header) header.push_back(text(c));
    out.push_back(header);
    for (const auto& row : t.rows) {
        std::vector<std::string> r;
        for (const auto& c : row) r.push_back(text(c));
        out.push_back(r);
    }
    return out;
}

inline std::vector<std::string> files_starting(const std::string& dir, const std::string& prefix) {
    std::vector<std::string> out;
    for (const auto& e : std::filesystem::directory_iterator(dir))
        if (e.path().filename().string().rfind(prefix, 0) == 0) out.push_back(e.path().string());
    return out;
}

// Saves a review workbook as `saved_as` with the "应用" mark set on every row of the name `name`,
// as a reviewer confirming that rename would.
inline RunResult mark_applied(const std::string& report, const std::string& saved_as, const std::string& name,
                              const std::string& dir) {
    return python("import openpyxl\nwb = openpyxl.load_workbook('" + report + "')\n"
                  "for ws in wb.worksheets:\n"
                  "    cols = [c.value for c in ws[1]]\n"
                  "    if '应用' not in cols: continue\n"
                  "    for row in ws.iter_rows(min_row=2):\n"
                  "        if row[0].value == '" + name + "':\n"
                  "            row[cols.index('应用')].value = True\n"
                  "wb.save('" + saved_as + "')\n",
                  dir);
}

}  // namespace igxl::vbt::testing
