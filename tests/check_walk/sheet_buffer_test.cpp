// The held-cell sheet writer and the level rounding, both on the report's hot path.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "check/sheet_buffer.h"
#include "export/xlsx.h"
#include "check/units.h"
#include "util/error.h"

namespace fs = std::filesystem;

namespace {

double round5_by_text(double v) {
    char buf[512];
    std::snprintf(buf, sizeof buf, "%.5f", v);
    return std::strtod(buf, nullptr);
}

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

void expect_round5(double v) {
    const double got = igxl::detail::round5(v);
    const double want = round5_by_text(v);
    EXPECT_TRUE(same_bits(got, want) || (std::isnan(got) && std::isnan(want)))
        << std::hexfloat << v << " -> " << got << ", text gives " << want;
}

TEST(Round5, AgreesWithTheDecimalTextBitForBit) {
    for (double v : {0.0, -0.0, 1.2, -1.2, 0.9, 3.3, 1e-320, -1e-320, 4e-6, -4e-6, 5e-6, -5e-6,
                     6e-6, 1.000005, 2.675, 1e10, -1e10, 4.5e10, 1e300, -1e300,
                     std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(),
                     std::numeric_limits<double>::quiet_NaN()})
        expect_round5(v);

    // Halves of the fifth decimal and their neighbours: where a product rounding could differ.
    for (long k = -300000; k <= 300000; k += 7) {
        const double tie = (static_cast<double>(k) + 0.5) / 1e5;
        expect_round5(tie);
        expect_round5(std::nextafter(tie, 1e300));
        expect_round5(std::nextafter(tie, -1e300));
    }
    // Typical results of level expressions over many magnitudes.
    std::mt19937_64 rng(7);
    std::uniform_real_distribution<double> mant(-10.0, 10.0);
    std::uniform_int_distribution<int> exp10(-12, 12);
    for (int i = 0; i < 200000; ++i) expect_round5(mant(rng) * std::pow(10.0, exp10(rng)));
}

std::string read_back(const fs::path& book) {
    const fs::path out = book.parent_path() / "cells.txt";
    const std::string py =
        "import sys, openpyxl\n"
        "ws = openpyxl.load_workbook(sys.argv[1]).active\n"
        "with open(sys.argv[2], 'w', encoding='utf-8') as f:\n"
        "    for row in ws.iter_rows():\n"
        "        for c in row:\n"
        "            if c.value is not None or c.fill.fill_type:\n"
        "                f.write('%s=%r%s\\n' % (c.coordinate, c.value, ' red' if c.fill.fill_type else ''))\n"
        "    for i in sorted(ws.row_dimensions):\n"
        "        d = ws.row_dimensions[i]\n"
        "        if d.hidden or d.outlineLevel or d.collapsed:\n"
        "            f.write('row %d hidden=%s level=%s collapsed=%s\\n' % (i, d.hidden, d.outlineLevel, d.collapsed))\n";
    const fs::path script = book.parent_path() / "read.py";
    std::ofstream(script) << py;
    const std::string cmd =
        "/usr/bin/python3 '" + script.string() + "' '" + book.string() + "' '" + out.string() + "'";
    if (std::system(cmd.c_str()) != 0) return "<read failed>";
    std::ifstream in(out);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST(SheetBuffer, RowsComeOutInOrderWithTheLastWriteAndRowSettingsKept) {
    const fs::path dir = fs::temp_directory_path() / ("igxl_sheet_buffer_" + std::to_string(getpid()));
    fs::create_directories(dir);
    const fs::path book = dir / "b.xlsx";
    namespace xw = igxl::xlsx::writer;
    xw::Workbook wb(book.string());
    const xw::Format* red = &wb.add_format()->set_fill(0xFFC7CE);
    {
        igxl::SheetBuffer sheet(wb.add_worksheet("S"));
        // Written bottom-up and right to left, as the walk fills a job sheet.
        sheet.write_text(3, 2, "late");
        sheet.write_number(3, 0, 2.5);
        sheet.write_text(1, 1, "first");
        sheet.write_text(1, 1, "second");  // replaces
        sheet.write_text(0, 4, "H");
        sheet.write_text(0, 0, "A");
        sheet.write_text(2, 0, "");        // nothing
        sheet.write_text(2, 1, "", red);   // a blank red cell
        sheet.write_number(2, 2, std::nan(""));
        sheet.write_number(2, 3, INFINITY);
        // A row format given first and then replaced by outline settings, as for "nop" rows.
        sheet.set_row(3, xw::kDefaultRowHeight, red);
        sheet.set_row(3, xw::kDefaultRowHeight, nullptr, {true, 1, false});
        sheet.set_row(1, xw::kDefaultRowHeight, red);
        EXPECT_EQ(sheet.cell_count(), 6u);  // the header row's two are the worksheet's

        EXPECT_THROW(sheet.write_text(xw::kMaxRows, 0, "x"), igxl::Error);
        EXPECT_THROW(sheet.write_text(0, xw::kMaxColumns, "x"), igxl::Error);
        EXPECT_THROW(sheet.write_text(0, 0, std::string(32768, 'x')), igxl::Error);
        // 32767 characters of two bytes each still fit.
        std::string wide;
        for (int i = 0; i < 32767; ++i) wide += "\xC3\xA9";
        EXPECT_NO_THROW(sheet.write_text(5, 0, wide));
        sheet.flush();
        EXPECT_EQ(sheet.cell_count(), 0u);
    }
    wb.close();

    std::string cells = read_back(book);
    // The long cell is checked by length only.
    const size_t at = cells.find("A6='");
    ASSERT_NE(at, std::string::npos) << cells;
    const size_t end = cells.find('\n', at);
    EXPECT_EQ(end - at, 4 + 32767 * 2 + 1);
    cells.erase(at, end - at + 1);
    EXPECT_EQ(cells,
              "A1='A'\nE1='H'\n"
              "B2='second' red\n"
              "B3=None red\nC3='=#NUM!'\nD3='=#DIV/0!'\n"
              "A4=2.5\nC4='late'\n"
              "row 4 hidden=True level=1 collapsed=False\n");
    fs::remove_all(dir);
}

TEST(SheetBuffer, RowsWrittenEarlyAreFinalAndTheRestFollowInOrder) {
    const fs::path dir = fs::temp_directory_path() / ("igxl_sheet_buffer_early_" + std::to_string(getpid()));
    fs::create_directories(dir);
    const fs::path book = dir / "b.xlsx";
    namespace xw = igxl::xlsx::writer;
    xw::Workbook wb(book.string());
    const xw::Format* red = &wb.add_format()->set_fill(0xFFC7CE);
    {
        igxl::SheetBuffer sheet(wb.add_worksheet("S"));
        sheet.set_row(0, 20, red);
        sheet.write_text(0, 0, "head");
        sheet.write_text(1, 1, "one");
        sheet.write_text(3, 0, "held");  // past the rows written early: waits for the rest
        sheet.write_rows_before(2);
        EXPECT_EQ(sheet.cell_count(), 1u);
        // Written rows are final, the others still take writes in any order; the header row
        // stays open to the end.
        EXPECT_THROW(sheet.write_text(1, 0, "late"), igxl::Error);
        sheet.write_text(0, 1, "late head");
        sheet.write_number(2, 2, 7);
        sheet.write_text(3, 0, "replaced");
        sheet.write_rows_before(1);  // nothing left above row 2
        sheet.write_rows_before(3);
        sheet.write_text(4, 0, "last");
        sheet.flush();
        EXPECT_EQ(sheet.cell_count(), 0u);
    }
    wb.close();
    EXPECT_EQ(read_back(book),
              "A1='head' red\nB1='late head' red\n"
              "B2='one'\n"
              "C3=7\n"
              "A4='replaced'\n"
              "A5='last'\n");
    fs::remove_all(dir);
}

// The walk's way of filling a job sheet, at a size that spans many blocks: one pass writes the
// first columns of every row, the next comes back to each row in order, adding cells and row
// settings and completing the header, and lets the rows above go as it passes them.
TEST(SheetBuffer, RowsLetGoAsTheLastPassPassesThemGiveTheirBlocksBack) {
    const fs::path dir = fs::temp_directory_path() / ("igxl_sheet_buffer_passes_" + std::to_string(getpid()));
    fs::create_directories(dir);
    const fs::path book = dir / "b.xlsx";
    namespace xw = igxl::xlsx::writer;
    constexpr std::uint32_t kRows = 40000;
    // Two rows a test, named as long as real tests are.
    auto name = [](std::uint32_t r) { return "test_" + std::to_string(r / 2) + "_vdd_min_func_scan_chain_x"; };
    {
        xw::Workbook wb(book.string());
        igxl::SheetBuffer sheet(wb.add_worksheet("Job"));
        sheet.write_text(0, 0, "Opcode");
        sheet.write_text(0, 1, "Parameter");
        for (std::uint32_t r = 1; r <= kRows; ++r) {
            sheet.write_text(r, 0, "Test");
            sheet.write_text(r, 1, name(r));
            sheet.write_number(r, 4, r);
        }
        const size_t held_before = sheet.held_bytes();
        size_t held_late = 0;
        for (std::uint32_t r = 1; r <= kRows; ++r) {
            sheet.write_rows_before(r);
            if (r == 100) sheet.write_text(0, 2, "Pattern");
            sheet.write_text(r, 2, "pat_" + std::to_string(r) + std::string(r % 7, 'x'));
            sheet.write_text(r, 0, r % 5 ? "Test" : "nop");  // a cell written again
            if (r % 2 == 0) sheet.set_row(r, xw::kDefaultRowHeight, nullptr, {true, 1, false});
            if (r == kRows - 100) held_late = sheet.held_bytes();
        }
        // What the rows let go of is given back, not kept to the end.
        EXPECT_LT(held_late, held_before / 3) << held_before;
        EXPECT_THROW(sheet.write_text(5, 3, "passed"), igxl::Error);
        sheet.flush();
        wb.close();
    }
    const igxl::xlsx::Table t = igxl::xlsx::read_table(book.string(), "Job");
    ASSERT_EQ(t.header.size(), 3u);
    EXPECT_EQ(t.header[2].text, "Pattern");
    ASSERT_EQ(t.rows.size(), kRows);
    for (std::uint32_t r = 1; r <= kRows; ++r) {
        const auto& row = t.rows[r - 1];
        ASSERT_EQ(row.size(), 5u) << r;
        ASSERT_EQ(row[0].text, r % 5 ? "Test" : "nop") << r;
        ASSERT_EQ(row[1].text, name(r)) << r;
        ASSERT_EQ(row[2].text, "pat_" + std::to_string(r) + std::string(r % 7, 'x')) << r;
        ASSERT_EQ(row[4].number, r) << r;
    }
    fs::remove_all(dir);
}

}  // namespace
