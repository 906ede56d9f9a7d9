// The workbook writer: what it writes read back by openpyxl (an independent reader) and by our
// own reader, the package checked against the container rules, and faults in use refused.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include <zlib.h>

#include "export/deflate.h"
#include "export/xlsx.h"
#include "export/xlsx_writer.h"
#include "tests/support/package_rules.h"
#include "tests/support/zip_member.h"
#include "util/error.h"

namespace fs = std::filesystem;
namespace xw = igxl::xlsx::writer;
namespace xr = igxl::xlsx;  // our reader

namespace {

fs::path fresh_dir(const std::string& name) {
    auto d = fs::temp_directory_path() / ("igxl_writer_test_" + std::to_string(getpid())) / name;
    fs::remove_all(d);
    fs::create_directories(d);
    return d;
}

std::string slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Every cell and sheet setting as openpyxl sees it, one line each.
std::string openpyxl_view(const fs::path& book) {
    const fs::path script = book.parent_path() / "view.py";
    const fs::path out = book.parent_path() / "view.txt";
    std::ofstream(script) << R"(import sys, openpyxl
wb = openpyxl.load_workbook(sys.argv[1])
lines = []
for ws in wb.worksheets:
    lines.append("== %s" % ws.title)
    for row in ws.iter_rows():
        for c in row:
            if c.value is None and c.fill.fill_type is None:
                continue
            extra = ""
            if c.fill.fill_type:
                extra += " fill=" + str(c.fill.fgColor.rgb)
            if c.font.b:
                extra += " bold"
            if c.number_format != "General":
                extra += " fmt=" + c.number_format
            lines.append("%s=%r%s" % (c.coordinate, c.value, extra))
    for i in sorted(ws.row_dimensions):
        d = ws.row_dimensions[i]
        if d.hidden or d.outlineLevel or d.collapsed or d.customHeight:
            lines.append("row %d hidden=%s level=%s collapsed=%s ht=%s" % (i, d.hidden, d.outlineLevel, d.collapsed, d.ht))
    for k in sorted(ws.column_dimensions):
        d = ws.column_dimensions[k]
        if d.customWidth:
            lines.append("col %s:%s width=%s" % (d.min, d.max, d.width))
    if ws.freeze_panes:
        lines.append("freeze " + ws.freeze_panes)
    if ws.auto_filter.ref:
        lines.append("filter " + ws.auto_filter.ref)
    for cf in ws.conditional_formatting:
        for r in cf.rules:
            lines.append("cf %s %s %s fill=%s" % (cf.sqref, r.type, r.formula, r.dxf.fill.bgColor.rgb))
    for dv in ws.data_validations.dataValidation:
        lines.append("list %s %s" % (dv.sqref, dv.formula1))
    o = ws.sheet_properties.outlinePr
    if o is not None and o.summaryBelow is False:
        lines.append("summary rows above")
open(sys.argv[2], "w", encoding="utf-8").write("\n".join(lines) + "\n")
)";
    const std::string cmd = "/usr/bin/python3 '" + script.string() + "' '" + book.string() + "' '" + out.string() + "'";
    if (std::system(cmd.c_str()) != 0) return "<openpyxl failed>";
    return slurp(out);
}

// A small report-like workbook touching every kind of cell and sheet setting.
void write_sample(const fs::path& path, xw::WorkbookOptions options = {}, const std::string& vba = "") {
    xw::Workbook wb(path.string(), options);
    xw::Format* bold = wb.add_format();
    bold->set_bold();
    xw::Format* red = wb.add_format();
    red->set_fill(0xFFC7CE);
    xw::Format* red_again = wb.add_format();
    red_again->set_fill(0xFFC7CE);
    xw::Format* money = wb.add_format();
    money->set_number_format("0.000");
    xw::Worksheet& a = wb.add_worksheet("Data");
    a.outline_settings(true, false, true, false);
    a.set_row(0, 20, bold);
    a.write_string(0, 0, "Name", bold);
    a.write_string(0, 1, "Value", bold);
    a.write_string(0, 2, "Flag", bold);
    a.write_string(0, 3, "Row format");  // no format of its own: shows the row's
    // Cells of the current row in any order; the later write to a cell wins.
    a.write_number(1, 1, 0.1);
    a.write_string(1, 0, "first");
    a.write_number(1, 1, 3.3);
    a.write_boolean(1, 2, true);
    a.write_string(2, 0, " <a&b> \"q\" ");
    a.write_number(2, 1, 1e-9, money);
    a.write_boolean(2, 2, false);
    a.write_blank(2, 3, red);
    a.write_blank(2, 4);  // no format: nothing to keep
    a.write_string(3, 0, "电源 tab\there");
    a.write_number(3, 1, std::nan(""));
    a.write_number(3, 2, INFINITY, red_again);
    a.set_row(4, xw::kDefaultRowHeight, nullptr, {false, 0, true});
    a.write_string(4, 0, "ctl\x01x");
    a.write_number(4, 1, -1234567);
    a.set_row(5, xw::kDefaultRowHeight, nullptr, {true, 1, false});
    a.write_string(5, 0, "hidden");
    a.set_row(6, xw::kDefaultRowHeight, nullptr, {true, 1, false});  // a row with no cells
    a.set_column(0, 0, 20);
    a.set_column(1, 2, 15);
    a.freeze_panes(1, 1);
    a.autofilter({0, 0, 0, 2});
    a.highlight_blanks({1, 1, 5, 2}, red);
    a.highlight_duplicates({1, 0, 5, 0}, red);
    a.list_validation({1, 2, 5, 2}, {"TRUE", "FALSE"});
    xw::Worksheet& b = wb.add_worksheet("Second 第二");
    b.write_string(0, 0, "x");
    b.write_string(1, 0, "x");
    b.autofilter({0, 0, 0, 0});
    if (!vba.empty()) wb.add_vba_project(vba);
    wb.close();
}

// openpyxl leaves the _xHHHH_ form of a control character as it is; Excel turns it back.
const char* const kSampleView = R"(== Data
A1='Name' bold
B1='Value' bold
C1='Flag' bold
D1='Row format' bold
A2='first'
B2=3.3
C2=True
A3=' <a&b> "q" '
B3=1e-09 fmt=0.000
C3=False
D3=None fill=FFFFC7CE
A4='电源 tab\there'
B4='=#NUM!'
C4='=#DIV/0!' fill=FFFFC7CE
A5='ctl_x0001_x'
B5=-1234567
A6='hidden'
row 1 hidden=False level=0 collapsed=False ht=20.0
row 5 hidden=False level=0 collapsed=True ht=None
row 6 hidden=True level=1 collapsed=False ht=None
row 7 hidden=True level=1 collapsed=False ht=None
col 1:1 width=20.7109375
col 2:3 width=15.7109375
freeze B2
filter A1:C1
cf A2:A6 duplicateValues [] fill=FFFFC7CE
cf B2:C6 containsBlanks ['LEN(TRIM(B2))=0'] fill=FFFFC7CE
list C2:C6 "TRUE,FALSE"
summary rows above
== Second 第二
A1='x'
A2='x'
filter A1
)";

TEST(WorkbookWriter, CellsAndSettingsReadBackWithOpenpyxl) {
#ifdef _WIN32
    GTEST_SKIP() << "openpyxl is read from Linux; the Windows package's workbooks are compared there";
#endif
    const fs::path dir = fresh_dir("openpyxl");
    for (bool shared : {false, true}) {
        const fs::path book = dir / (shared ? "shared.xlsx" : "inline.xlsx");
        write_sample(book, {shared});
        EXPECT_EQ(openpyxl_view(book), kSampleView) << (shared ? "shared strings" : "inline strings");
    }
}

TEST(WorkbookWriter, CellsReadBackWithOurReader) {
    const fs::path book = fresh_dir("reader") / "sample.xlsx";
    write_sample(book);
    const xr::Table t = xr::read_table(book.string(), "Data");
    ASSERT_EQ(t.header.size(), 4u);
    EXPECT_EQ(t.header[0].text, "Name");
    ASSERT_EQ(t.rows.size(), 5u);
    EXPECT_EQ(t.rows[0][0].text, "first");
    EXPECT_EQ(t.rows[0][1].kind, xr::Cell::Number);
    EXPECT_EQ(t.rows[0][1].number, 3.3);
    EXPECT_EQ(t.rows[0][2].kind, xr::Cell::Bool);
    EXPECT_TRUE(t.rows[0][2].boolean);
    EXPECT_EQ(t.rows[1][0].text, " <a&b> \"q\" ");
    EXPECT_EQ(t.rows[1][1].number, 1e-9);
    EXPECT_EQ(t.rows[2][0].text, "电源 tab\there");
    EXPECT_EQ(t.rows[3][1].number, -1234567);
    EXPECT_EQ(xr::Workbook(book.string()).sheet_names(), (std::vector<std::string>{"Data", "Second 第二"}));
}

TEST(WorkbookWriter, PackageKeepsTheContainerRules) {
    const fs::path dir = fresh_dir("package");
    const fs::path vba = dir / "vbaProject.bin";
    std::ofstream(vba, std::ios::binary) << std::string(3000, '\x07');
    write_sample(dir / "plain.xlsx");
    write_sample(dir / "shared.xlsx", {true});
    write_sample(dir / "macros.xlsm", {}, vba.string());
    for (const char* name : {"plain.xlsx", "shared.xlsx", "macros.xlsm"})
        EXPECT_EQ(igxl::testing::package_faults((dir / name).string()), std::vector<std::string>{}) << name;
    // The macro project goes in byte for byte and the sheets carry the code names its modules use.
    const std::string book = (dir / "macros.xlsm").string();
    EXPECT_EQ(igxl::testing::zip_member(book, "xl/vbaProject.bin"), slurp(vba));
    EXPECT_NE(igxl::testing::zip_member(book, "xl/worksheets/sheet2.xml").find("<sheetPr codeName=\"Sheet2\"/>"),
              std::string::npos);
    // Autofilter ranges get Excel's hidden names, the sheet name quoted where it must be.
    const std::string workbook = igxl::testing::zip_member(book, "xl/workbook.xml");
    EXPECT_NE(workbook.find("localSheetId=\"0\" hidden=\"1\">Data!$A$1:$C$1<"), std::string::npos) << workbook;
    EXPECT_NE(workbook.find("localSheetId=\"1\" hidden=\"1\">'Second 第二'!$A$1<"), std::string::npos) << workbook;
    // A checker catching faults is worth testing too: a package missing its content types fails.
    EXPECT_FALSE(igxl::testing::package_faults((dir / "vbaProject.bin").string()).empty());
}

TEST(WorkbookWriter, FormatsOfTheSameLookShareOneStyle) {
    const fs::path book = fresh_dir("styles") / "s.xlsx";
    write_sample(book);
    const std::string styles = igxl::testing::zip_member(book.string(), "xl/styles.xml");
    // Default, bold, red fill (two formats, one look), number format: four cell formats; the
    // rules' red is one conditional format.
    EXPECT_NE(styles.find("<cellXfs count=\"4\">"), std::string::npos) << styles;
    EXPECT_NE(styles.find("<fills count=\"3\">"), std::string::npos) << styles;
    EXPECT_NE(styles.find("<numFmt numFmtId=\"164\" formatCode=\"0.000\"/>"), std::string::npos) << styles;
    EXPECT_NE(styles.find("<dxfs count=\"1\"><dxf><fill><patternFill><bgColor rgb=\"FFFFC7CE\"/>"),
              std::string::npos)
        << styles;
}

// Rows far past one compressed piece (texts that hardly compress): the sheet's head, made last,
// and its many pieces of rows, set aside on disk while two sheets grow side by side, still read
// as one part each; nothing is left beside the workbook.
TEST(WorkbookWriter, LargeSheetReadsBackWhole) {
    const fs::path dir = fresh_dir("large");
    const fs::path book = dir / "large.xlsx";
    constexpr std::uint32_t kRows = 60000;
    auto hex_of = [](std::mt19937_64& random) {
        char hex[65];
        for (int i = 0; i < 64; i += 16) std::snprintf(hex + i, 17, "%016llx", static_cast<unsigned long long>(random()));
        return std::string(hex, 64);
    };
    {
        xw::Workbook wb(book.string());
        xw::Worksheet& ws = wb.add_worksheet("Big");
        xw::Worksheet& other = wb.add_worksheet("Other");  // filled side by side
        xw::Worksheet& small = wb.add_worksheet("Small");
        small.write_string(0, 0, "done early");
        small.finish();
        std::mt19937_64 random(7), other_random(8);
        for (std::uint32_t r = 0; r < kRows; ++r) {
            ws.write_string(r, 0, "name_" + std::to_string(r));
            ws.write_number(r, 1, r * 0.5);
            ws.write_string(r, 2, hex_of(random));
            if (r % 2 == 0) other.write_string(r / 2, 0, hex_of(other_random));
        }
        ws.set_column(0, 0, 30);
        wb.close();
    }
    EXPECT_EQ(igxl::testing::package_faults(book.string()), std::vector<std::string>{});
    size_t rows = 0;
    bool in_order = true;
    std::mt19937_64 random(7), other_random(8);
    xr::Workbook read(book.string());
    read.for_each_row("Big", [&](size_t r, const std::vector<xr::Cell>& cells) {
        in_order = in_order && r == rows && cells.size() == 3 && cells[0].text == "name_" + std::to_string(r) &&
                   cells[1].number == r * 0.5 && cells[2].text == hex_of(random);
        ++rows;
    });
    EXPECT_EQ(rows, kRows);
    EXPECT_TRUE(in_order);
    size_t other_rows = 0;
    read.for_each_row("Other", [&](size_t, const std::vector<xr::Cell>& cells) {
        if (cells.size() == 1 && cells[0].text == hex_of(other_random)) ++other_rows;
    });
    EXPECT_EQ(other_rows, kRows / 2);
    EXPECT_EQ(xr::read_table(book.string(), "Small").header.at(0).text, "done early");
    const std::string sheet = igxl::testing::zip_member(book.string(), "xl/worksheets/sheet1.xml");
    EXPECT_NE(sheet.find("<dimension ref=\"A1:C60000\"/>"), std::string::npos);
    EXPECT_GT(fs::file_size(book), 3u << 20);  // more than one compressed piece in each big sheet
    std::vector<std::string> left;
    for (const auto& entry : fs::directory_iterator(dir)) left.push_back(entry.path().filename().string());
    EXPECT_EQ(left, std::vector<std::string>{"large.xlsx"});
}

TEST(WorkbookWriter, FaultsInUseAreRefused) {
    const fs::path dir = fresh_dir("faults");
    xw::Workbook wb((dir / "f.xlsx").string());
    xw::Worksheet& ws = wb.add_worksheet("S");
    ws.write_string(3, 0, "x");
    try {
        ws.write_string(2, 0, "y");
        ADD_FAILURE() << "an earlier row was accepted";
    } catch (const igxl::Error& e) {
        EXPECT_STREQ(e.what(), "cannot write the cell A3 of the sheet 'S': row 4 is already written");
    }
    EXPECT_THROW(ws.set_row(1, 20), igxl::Error);
    EXPECT_THROW(ws.write_number(xw::kMaxRows, 0, 1), igxl::Error);
    EXPECT_THROW(ws.write_number(5, xw::kMaxColumns, 1), igxl::Error);
    EXPECT_THROW(ws.write_string(6, 0, std::string(xw::kMaxCellChars + 1, 'a')), igxl::Error);
    ws.write_string(6, 0, std::string(xw::kMaxCellChars, 'a'));
    // Characters, not bytes: 20000 Chinese characters fit.
    std::string chinese;
    for (int i = 0; i < 20000; ++i) chinese += "电";
    ws.write_string(7, 0, chinese);
    EXPECT_THROW(ws.list_validation({0, 0, 1, 0}, {"A,B"}), igxl::Error);
    EXPECT_THROW(ws.highlight_blanks({2, 0, 1, 0}, nullptr), igxl::Error);
    EXPECT_THROW(wb.add_worksheet("s"), igxl::Error);  // names are unique whatever their case
    for (const char* bad : {"", "a[1]", "x:y", "'quoted'", "a name longer than thirty-one chars"})
        EXPECT_FALSE(wb.sheet_name_fault(bad).empty()) << bad;
    EXPECT_TRUE(wb.sheet_name_fault("三十一个字符以内的中文名称").empty());
    // A finished sheet takes no more rows or rules; its columns and panes may still change.
    xw::Worksheet& done = wb.add_worksheet("Done");
    done.write_string(0, 0, "x");
    done.finish();
    EXPECT_THROW(done.write_string(1, 0, "y"), igxl::Error);
    EXPECT_THROW(done.highlight_duplicates({0, 0, 1, 0}, nullptr), igxl::Error);
    done.set_column(0, 0, 30);
    done.freeze_panes(1, 0);
    EXPECT_FALSE(fs::exists(dir / "f.xlsx"));  // nothing is written before close
    wb.close();
    wb.close();  // closing again does nothing
    EXPECT_THROW(ws.write_string(9, 0, "late"), igxl::Error);
    EXPECT_EQ(igxl::testing::package_faults((dir / "f.xlsx").string()), std::vector<std::string>{});
    const std::string done_xml = igxl::testing::zip_member((dir / "f.xlsx").string(), "xl/worksheets/sheet2.xml");
    EXPECT_NE(done_xml.find("<col min=\"1\" max=\"1\" width=\"30.7109375\" customWidth=\"1\"/>"), std::string::npos)
        << done_xml;
    EXPECT_NE(done_xml.find("<pane ySplit=\"1\" topLeftCell=\"A2\" activePane=\"bottomLeft\" state=\"frozen\"/>"),
              std::string::npos)
        << done_xml;
}

TEST(WorkbookWriter, EmptyWorkbookGetsOneSheet) {
    const fs::path book = fresh_dir("empty") / "e.xlsx";
    xw::Workbook(book.string()).close();
    EXPECT_EQ(xr::Workbook(book.string()).sheet_names(), std::vector<std::string>{"Sheet1"});
}

// Numbers are written as printf("%.16G") writes them (integers plain), whether a value is new or
// repeated, and however many values share a row; texts keep every byte, escaped where XML needs it.
TEST(WorkbookWriter, NumberAndTextCellsKeepTheirExactText) {
    const fs::path dir = fresh_dir("exact");
    const fs::path book = dir / "exact.xlsx";
    std::mt19937_64 random(11);
    std::vector<double> values;
    for (int i = 0; i < 3000; ++i) {
        const double v = static_cast<double>(random() % 100000) / static_cast<double>(1 + random() % 997);
        values.push_back(i % 3 == 0 ? v : values[random() % values.size()]);  // repeats among new values
    }
    values.insert(values.end(), {0.0099, 0.1 + 0.2, -2.5e-300, 1e20, 123456789012345.0, -7.0, 4.9e-324});
    const std::string odd = std::string("a<b>&\"c\" ") + char(1) + "\t\n" + char(31) + "end";
    {
        xw::Workbook wb(book.string());
        xw::Worksheet& ws = wb.add_worksheet("S");
        for (std::uint32_t i = 0; i < values.size(); ++i) ws.write_number(i / 4, i % 4, values[i]);
        ws.write_string(static_cast<std::uint32_t>(values.size()), 0, odd);
        wb.close();
    }
    const std::string xml = igxl::testing::zip_member(book.string(), "xl/worksheets/sheet1.xml");
    std::size_t at = 0;
    for (std::size_t i = 0; i < values.size(); ++i) {
        char expected[64];
        const double v = values[i];
        if (v == std::trunc(v) && std::fabs(v) < 1e15)
            std::snprintf(expected, sizeof expected, "%lld", static_cast<long long>(v));
        else
            std::snprintf(expected, sizeof expected, "%.16G", v);
        const std::string cell = "<c r=\"" + xw::cell_name(static_cast<std::uint32_t>(i / 4), static_cast<std::uint32_t>(i % 4)) +
                                 "\"><v>" + expected + "</v></c>";
        const std::size_t found = xml.find(cell, at);
        ASSERT_NE(found, std::string::npos) << cell;
        at = found;
    }
    EXPECT_NE(xml.find("<t>a&lt;b&gt;&amp;\"c\" _x0001_\t\n_x001F_end</t>"), std::string::npos);
}

TEST(WorkbookWriter, CellNames) {
    EXPECT_EQ(xw::cell_name(0, 0), "A1");
    EXPECT_EQ(xw::cell_name(9, 25), "Z10");
    EXPECT_EQ(xw::cell_name(0, 26), "AA1");
    EXPECT_EQ(xw::cell_name(0, 701), "ZZ1");
    EXPECT_EQ(xw::cell_name(0, 702), "AAA1");
    EXPECT_EQ(xw::cell_name(0, 16383), "XFD1");
    EXPECT_EQ(xw::range_name({1, 2, 1, 2}), "C2");
    EXPECT_EQ(xw::range_name({0, 0, 0, 100}), "A1:CW1");
    std::uint32_t r = 0, c = 0;
    xw::parse_cell_name("C2", r, c);
    EXPECT_EQ(r, 1u);
    EXPECT_EQ(c, 2u);
    for (const char* bad : {"", "2C", "C", "c2", "C0", "XFE1", "A1048577", "C2 "})
        EXPECT_THROW(xw::parse_cell_name(bad, r, c), igxl::Error) << bad;
}

TEST(WorkbookWriter, CrcOfJoinedRunsFromTheirParts) {
    namespace d = xw::detail;
    const std::string a = "Vantor report head", b(70000, 'x');
    EXPECT_EQ(d::crc32_combine(d::crc32_update(0, a), d::crc32_update(0, b), b.size()), d::crc32_update(0, a + b));
    EXPECT_EQ(d::crc32_combine(d::crc32_update(0, a), 0, 0), d::crc32_update(0, a));
    // A sheet body past 2 GiB: the same as zlib's own 64-bit combination where it has one.
    const std::uint64_t huge = (std::uint64_t(5) << 30) + 12345;
    const std::uint32_t combined = d::crc32_combine(0x12345678u, 0x9abcdef0u, huge);
#ifndef _WIN32
    EXPECT_EQ(combined, ::crc32_combine64(0x12345678u, 0x9abcdef0u, static_cast<z_off64_t>(huge)));
#endif
    EXPECT_NE(combined, d::crc32_combine(0x12345678u, 0x9abcdef0u, huge & 0xffffffffu));
}

}  // namespace

namespace {

// One sheet's XML from a workbook written by fill.
template <class Fill>
std::string sheet_xml_of(const fs::path& book, Fill fill) {
    {
        xw::Workbook wb(book.string());
        const xw::Format* bold = &wb.add_format()->set_bold();
        fill(wb.add_worksheet("S"), bold);
        wb.close();
    }
    return igxl::testing::zip_member(book.string(), "xl/worksheets/sheet1.xml");
}

}  // namespace

TEST(WorkbookWriter, HeldHeaderRowFilledLastIsWrittenAsIfFilledFirst) {
    const fs::path dir = fresh_dir("held");
    const std::string plain = sheet_xml_of(dir / "plain.xlsx", [](xw::Worksheet& ws, const xw::Format* bold) {
        ws.set_row(0, 20, bold, {false, 1, false});
        ws.write_string(0, 0, "Name");
        ws.write_string(0, 3, "Late");
        for (std::uint32_t r = 1; r < 2000; ++r) {
            ws.write_string(r, 0, "row " + std::to_string(r));
            ws.write_number(r, 1, r * 0.5);
        }
        ws.set_row(2000, 15, nullptr, {true, 2, false});
    });
    // The same cells with the header written after the rows below it, partly twice.
    std::vector<std::string> texts;  // kept until the sheet is written: the rows hold views of them
    for (std::uint32_t r = 0; r < 2000; ++r) texts.push_back("row " + std::to_string(r));
    const std::string held = sheet_xml_of(dir / "held.xlsx", [&texts](xw::Worksheet& ws, const xw::Format* bold) {
        ws.hold_first_rows(1);
        ws.write_string(0, 3, "Early");
        for (std::uint32_t r = 1; r < 2000; ++r) {
            ws.write_string(r, 1, "replaced");
            ws.write_string_unowned(r, 0, texts[r]);
            ws.write_number(r, 1, r * 0.5);
            if (r == 1000) ws.write_string(0, 3, "Late");
        }
        ws.set_row(2000, 15, nullptr, {true, 2, false});
        ws.write_string(0, 0, "Name");
        ws.set_row(0, 20, bold, {false, 1, false});
    });
    EXPECT_NE(plain.find("<sheetData><row r=\"1\""), std::string::npos) << plain.substr(0, 600);
    EXPECT_EQ(held.size(), plain.size());
    EXPECT_TRUE(held == plain) << held.substr(0, 600);

    // Holding comes before anything is written; rows below the held ones stay in order.
    xw::Workbook wb((dir / "faults.xlsx").string());
    xw::Worksheet& late = wb.add_worksheet("Late");
    late.write_string(0, 0, "x");
    EXPECT_THROW(late.hold_first_rows(1), igxl::Error);
    xw::Worksheet& ws = wb.add_worksheet("Held");
    ws.hold_first_rows(2);
    ws.write_string(3, 0, "x");
    ws.write_string(1, 0, "held row");  // still open
    EXPECT_THROW(ws.write_string(2, 0, "passed"), igxl::Error);
    ws.finish();
    EXPECT_THROW(ws.write_string(0, 0, "finished"), igxl::Error);
}

// Conditional rules are grouped by their range's name in text order (A10 before A2), each
// range's rules in the order they were set; thousands of them run past one piece of the tail.
TEST(WorkbookWriter, ConditionalRulesGroupedByRangeInTextOrder) {
    const fs::path dir = fresh_dir("conditional");
    const std::string xml = sheet_xml_of(dir / "c.xlsx", [](xw::Worksheet& ws, const xw::Format* bold) {
        ws.write_string(0, 0, "x");
        ws.highlight_blanks({9, 0, 11, 0}, bold);      // A10:A12
        ws.highlight_duplicates({1, 0, 2, 0}, bold);   // A2:A3
        ws.highlight_blanks({9, 0, 11, 0}, bold);      // A10:A12 again
        for (std::uint32_t r = 100; r < 5100; ++r) ws.highlight_blanks({r, 1, r, 3}, bold);
    });
    const size_t a10 = xml.find("<conditionalFormatting sqref=\"A10:A12\">");
    const size_t a2 = xml.find("<conditionalFormatting sqref=\"A2:A3\">");
    ASSERT_NE(a10, std::string::npos);
    ASSERT_NE(a2, std::string::npos);
    EXPECT_LT(a10, a2);
    EXPECT_EQ(xml.substr(a10, xml.find("</conditionalFormatting>", a10) - a10),
              "<conditionalFormatting sqref=\"A10:A12\">"
              "<cfRule type=\"containsBlanks\" dxfId=\"0\" priority=\"1\"><formula>LEN(TRIM(A10))=0</formula></cfRule>"
              "<cfRule type=\"containsBlanks\" dxfId=\"0\" priority=\"3\"><formula>LEN(TRIM(A10))=0</formula></cfRule>");
    EXPECT_NE(xml.find("<conditionalFormatting sqref=\"A2:A3\"><cfRule type=\"duplicateValues\" dxfId=\"0\" "
                       "priority=\"2\"/></conditionalFormatting>"),
              std::string::npos);
    // Every rule is there once, and the sheet ends whole.
    size_t rules = 0;
    for (size_t at = xml.find("<cfRule"); at != std::string::npos; at = xml.find("<cfRule", at + 1)) ++rules;
    EXPECT_EQ(rules, 5003u);
    EXPECT_NE(xml.find("<conditionalFormatting sqref=\"B5100:D5100\"><cfRule type=\"containsBlanks\" dxfId=\"0\" "
                       "priority=\"5003\"><formula>LEN(TRIM(B5100))=0</formula></cfRule></conditionalFormatting>"),
              std::string::npos);
    EXPECT_TRUE(xml.ends_with("</worksheet>"));
}
