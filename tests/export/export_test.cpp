// Sheet text export of workbooks written here: with our workbook writer where it can write the
// case, by hand where only a hand-made package holds it.
#include <cmath>

#include "export/common.h"
#include "export/xlsx.h"
#include "export/xlsx_writer.h"
#include "helpers.h"
#include "util/error.h"
#include "util/text.h"

namespace igxl::testing {
namespace {

std::string export_sheet(const std::string& book, const std::string& dir, const std::string& sheet) {
    export_sheets_to_txt(book, dir);
    return slurp(fs::path(dir) / (sheet + ".txt"));
}

std::string export_hand(const HandBook& hb, const ScratchDir& d, const std::string& sheet = "S") {
    make_zip(d / "book.xlsx", hb.members());
    return export_sheet(d / "book.xlsx", d / "out", sheet);
}

TEST(ExportWritten, FieldRulesOfWrittenBook) {
    ScratchDir d;
    std::string book = d / "b.xlsx";
    namespace xw = xlsx::writer;
    xw::Workbook wb(book);
    xw::Worksheet& ws = wb.add_worksheet("Pin Levels");
    const xw::Format* date = &wb.add_format()->set_number_format("yyyy-mm-dd");
    const xw::Format* time = &wb.add_format()->set_number_format("hh:mm:ss");
    const xw::Format* fill = &wb.add_format()->set_fill(0xFFFF00);
    ws.write_number(0, 0, 1e-9);
    ws.write_number(0, 1, 0.5);
    ws.write_number(0, 2, 3);
    ws.write_number(0, 3, -1000);
    ws.write_number(0, 4, 1e16);
    // row 2 stays empty; a formatting-only cell at F3 sets the last column
    ws.write_string(2, 0, "Flow Table\tx");
    ws.write_blank(2, 5, fill);
    ws.write_formula(3, 0, "=A1*2");
    ws.write_boolean(3, 1, true);
    ws.write_boolean(3, 2, false);
    ws.write_number(3, 3, 45322, date);                                // 2024-01-31
    ws.write_number(3, 4, (10 * 3600 + 10 * 60 + 10) / 86400.0, time);  // 10:10:10
    ws.merge_range({4, 0, 5, 2}, "merged");
    ws.write_string(6, 1, "line1\nline2");
    wb.close();

    std::string text = export_sheet(book, d / "out", "Pin Levels");
    EXPECT_EQ(text,
              "1e-09\t0.5\t3\t-1000\t1e+16\t\n"
              "\t\t\t\t\t\n"
              "Flow Table x\t\t\t\t\t\n"
              "=A1*2\tTrue\tFalse\t2024-01-31 00:00:00\t10:10:10\t\n"
              "merged\t\t\t\t\t\n"
              "\t\t\t\t\t\n"
              "\tline1 line2\t\t\t\t\n");
}

TEST(ExportWritten, SheetOrderNamesOverwriteAndNestedOutputDir) {
    ScratchDir d;
    std::string book = d / "b.xlsm";
    xlsx::writer::Workbook wb(book);
    for (const char* name : {"Job List", "Flow Table", "Test Instances"}) wb.add_worksheet(name).write_string(0, 0, name);
    wb.add_worksheet("Empty");
    wb.close();

    xlsx::Workbook reader(book);
    EXPECT_EQ(reader.sheet_names(), (std::vector<std::string>{"Job List", "Flow Table", "Test Instances", "Empty"}));

    std::string out = d / "a/b/c";
    fs::create_directories(out);
    spit(fs::path(out) / "Flow Table.txt", "stale text that is longer than the new one\n");
    export_sheets_to_txt(book, out);
    export_sheets_to_txt(book, out);  // twice: the second run overwrites the first
    EXPECT_EQ(slurp(fs::path(out) / "Flow Table.txt"), "Flow Table\n");
    EXPECT_EQ(slurp(fs::path(out) / "Job List.txt"), "Job List\n");
    EXPECT_TRUE(fs::exists(fs::path(out) / "Empty.txt"));
    EXPECT_EQ(fs::file_size(fs::path(out) / "Empty.txt"), 0u);

    ScratchDir d2;
    export_sheets_to_txt(book, d2 / "x/y/z");  // missing parents are created
    EXPECT_TRUE(fs::exists(d2.path() / "x/y/z/Test Instances.txt"));
}

TEST(ExportHand, NumberTextDecidesIntegerOrFloatAndErrorsAndDates) {
    HandBook hb;
    hb.styles =
        "<numFmts><numFmt numFmtId=\"164\" formatCode=\"[h]:mm:ss\"/>"
        "<numFmt numFmtId=\"165\" formatCode=\"&quot;d&quot;0.00\"/></numFmts>"
        "<cellXfs><xf numFmtId=\"0\"/><xf numFmtId=\"14\"/><xf numFmtId=\"164\"/><xf numFmtId=\"165\"/>"
        "<xf numFmtId=\"22\"/></cellXfs>";
    hb.sheets = {{"S",
                  "<sheetData><row r=\"1\"><c r=\"A1\"><v>3</v></c><c r=\"B1\"><v>3.0</v></c>"
                  "<c r=\"C1\"><v>2.5E-5</v></c><c r=\"D1\"><v>007</v></c><c r=\"E1\" t=\"e\"><v>#N/A</v></c>"
                  "<c r=\"F1\" t=\"e\"><f>1/0</f><v>#DIV/0!</v></c></row>"
                  "<row r=\"2\"><c r=\"A2\" s=\"1\"><v>45322</v></c><c r=\"B2\" s=\"2\"><v>1.5</v></c>"
                  "<c r=\"C2\" s=\"3\"><v>12</v></c><c r=\"D2\" s=\"4\"><v>1.25</v></c>"
                  "<c r=\"E2\" s=\"1\"><v>0.5</v></c><c r=\"F2\" s=\"1\"><v>1e10</v></c></row></sheetData>"}};
    ScratchDir d;
    EXPECT_EQ(export_hand(hb, d),
              "3\t3.0\t2.5e-05\t7\t#N/A\t=1/0\n"
              "2024-01-31 00:00:00\t36:00:00\t12\t1900-01-01 06:00:00\t12:00:00\t#VALUE!\n");
    hb.date1904 = true;
    ScratchDir d2;
    std::string t1904 = export_hand(hb, d2);
    EXPECT_NE(t1904.find("\n2028-02-01 00:00:00\t36:00:00\t12\t1904-01-02 06:00:00\t12:00:00\t"),
              std::string::npos) << t1904;
}

// Decimals already in their field form are used as written; every other spelling must still
// come out as Python's repr of the value.
TEST(ExportHand, DecimalsNearTheirFieldForm) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"0.0001", "0.0001"}, {"0.00001", "1e-05"}, {"-0.0001", "-0.0001"}, {"-0.5", "-0.5"},
        {"12.50", "12.5"}, {"0.10", "0.1"}, {"00.5", "0.5"}, {"0.1234567890123456", "0.1234567890123456"},
        {"123456789012345.6", "123456789012345.6"}, {"1234567890123456.5", "1234567890123456.5"},
        {"9999999999999999.0", "1e+16"}, {"12345678901234567.5", "1.2345678901234568e+16"},
        {"0.000123456789012345", "0.000123456789012345"}, {"0", "0"}, {"-0", "0"}, {"10", "10"},
        {"+12", "12"}, {"-007", "-7"}, {"1234567890123456", "1234567890123456"}, {"+1.5", "+1.5"},
        {"1e-09", "1e-09"}, {"-1.5E-07", "-1.5e-07"}, {"1.5E+2", "150.0"}, {"12 ", "12 "}};
    HandBook hb;
    std::string row = "<sheetData><row r=\"1\">", want;
    for (size_t i = 0; i < cases.size(); ++i) {
        row += "<c><v>" + cases[i].first + "</v></c>";
        want += (i ? "\t" : "") + cases[i].second;
    }
    hb.sheets = {{"S", row + "</row></sheetData>"}};
    ScratchDir d;
    EXPECT_EQ(export_hand(hb, d), want + "\n");
}

// Numbers in exponent form, as writers store them and spelled otherwise: the field is what
// the double's own shortest text gives, whichever way the decoder takes to it.
TEST(ExportHand, ExponentFormsGiveTheDoublesShortestText) {
    std::vector<std::string> texts = {"1E-09", "-2E-09", "1.5E-05", "1E-05", "1E-04", "1E-4", "1E+16", "1E+15",
                                      "1E16", "9.99E+300", "1E+301", "1E-300", "1E-320", "1.50E-07", "0.5E-07",
                                      "12E-07", "1E-007", "1E+100", "1E+099", "1e-09", "-1.234567890123456E-20",
                                      "1.23456789012345E-20", "1E+5", "5E-5", "1.E-09", "1E-", "1E-0x"};
    // Random mantissas of 1 to 17 digits over exponents both sides of where repr switches.
    RandomNumbers rnd{99};
    for (int i = 0; i < 400; ++i) {
        const uint64_t s = rnd.next();
        texts.push_back(rnd.exponent_text(1 + int(s >> 59) % 17, int((s >> 20) % 60) - 30, 'E'));
    }
    HandBook hb;
    std::string rows = "<sheetData>", want;
    for (size_t i = 0; i < texts.size(); ++i) {
        // Once in the compact record the fast lane takes, once in a record it leaves alone.
        const std::string r = std::to_string(i + 1);
        rows += "<row r=\"" + r + "\"><c r=\"A" + r + "\"><v>" + texts[i] + "</v></c><c><v>" + texts[i] +
                "</v></c></row>";
        char* end = nullptr;
        double v = std::strtod(texts[i].c_str(), &end);
        char buf[40];
        // Not a number at all: the text stands.
        const std::string field = *end ? texts[i] : std::string(buf, util::format_double_to(v, buf));
        want += field + "\t" + field + "\n";
    }
    hb.sheets = {{"S", rows + "</sheetData>"}};
    ScratchDir d;
    EXPECT_EQ(export_hand(hb, d), want);
}

// Field texts of every short length, each byte distinct, are copied whole into the line.
TEST(ExportHand, FieldTextsOfEveryShortLengthAreCopiedWhole) {
    HandBook hb;
    std::string rows = "<sheetData>", want;
    for (int n = 1; n <= 40; ++n) {
        std::string text;
        for (int i = 0; i < n; ++i) text += char('A' + (i * 7 + n) % 26);
        const std::string r = std::to_string(n);
        rows += "<row r=\"" + r + "\"><c t=\"inlineStr\"><is><t>" + text + "</t></is></c><c><v>" + r +
                "</v></c><c r=\"C" + r + "\"><f>" + text + "</f></c><c r=\"D" + r + "\" t=\"inlineStr\"><is><t>" +
                text + "</t></is></c></row>";
        want += text + "\t" + r + "\t=" + text + "\t" + text + "\n";
    }
    hb.sheets = {{"S", rows + "</sheetData>"}};
    ScratchDir d;
    EXPECT_EQ(export_hand(hb, d), want);
}

TEST(ExportHand, SharedFormulasInlineAndRichTextEscapesAndFormatOnlyCells) {
    HandBook hb;
    hb.shared_strings =
        "<si><t>plain</t></si>"
        "<si><r><rPr><b/></rPr><t>Bold</t></r><r><t xml:space=\"preserve\"> tail</t></r>"
        "<rPh sb=\"0\" eb=\"1\"><t>phonetic</t></rPh></si>"
        "<si><t>a_x000D_b_x005F_x000D_</t></si><si/>";
    hb.sheets = {{"S",
                  "<sheetData><row r=\"1\">"
                  "<c r=\"A1\"><f t=\"shared\" ref=\"A1:B3\" si=\"0\">$C1+C$1+SUM(C1:D2)+LOG10(C1)+\"C1\"+'My "
                  "Sheet'!C1</f><v>1</v></c>"
                  "<c r=\"B1\"><f t=\"shared\" si=\"0\"/><v>1</v></c></row>"
                  "<row r=\"3\"><c r=\"B3\"><f t=\"shared\" si=\"0\"/><v>1</v></c>"
                  "<c r=\"D3\" t=\"inlineStr\"><is><r><t>in</t></r><r><t>line</t></r></is></c></row>"
                  "<row r=\"4\"><c r=\"A4\" t=\"s\"><v>0</v></c><c r=\"B4\" t=\"s\"><v>1</v></c>"
                  "<c r=\"C4\" t=\"s\"><v>2</v></c><c r=\"D4\" t=\"s\"><v>3</v></c>"
                  "<c r=\"E4\" t=\"str\"><v>&lt;&amp;&#x4E2D;</v></c><c r=\"F4\" t=\"d\"><v>2021-01-01T10:10:10</v></c>"
                  "</row><row r=\"6\"><c r=\"H6\" s=\"1\"/></row></sheetData>"}};
    ScratchDir d;
    EXPECT_EQ(export_hand(hb, d),
              "=$C1+C$1+SUM(C1:D2)+LOG10(C1)+\"C1\"+'My Sheet'!C1\t=$C1+D$1+SUM(D1:E2)+LOG10(D1)+\"C1\"+'My "
              "Sheet'!D1\t\t\t\t\t\t\n"
              "\t\t\t\t\t\t\t\n"
              "\t=$C3+D$1+SUM(D3:E4)+LOG10(D3)+\"C1\"+'My Sheet'!D3\t\tinline\t\t\t\t\n"
              "plain\tBold tail\ta b_x000D_\t\t<&\xE4\xB8\xAD\t2021-01-01 10:10:10\t\t\n"
              "\t\t\t\t\t\t\t\n"
              "\t\t\t\t\t\t\t\n");
}

// Each cell record twice: row 1 in the compact form most writers use, row 2 in a form the
// compact reading must leave to the general one (odd spacing, quotes, extra attributes,
// entities, empty formula). Both rows give the same fields.
TEST(ExportHand, CompactAndGeneralCellRecordsGiveTheSameFields) {
    HandBook hb;
    hb.shared_strings = "<si><t>plain</t></si>";
    hb.sheets = {{"S",
                  "<sheetData><row r=\"1\">"
                  "<c r=\"A1\"><v>42</v></c><c r=\"B1\" t=\"s\"><v>0</v></c>"
                  "<c r=\"C1\"><f>SUM(A1)</f><v>3</v></c><c r=\"D1\" t=\"inlineStr\"><is><t>a_x0041_\tb</t></is></c>"
                  "<c r=\"E1\" t=\"b\"><v>1</v></c><c r=\"F1\" s=\"1\"/><c t=\"e\"><v>#N/A</v></c>"
                  "<c r=\"H1\" t=\"str\"><f>\"x\"</f><v>x</v></c><c r=\"I1\"><v>7</v></c><c r=\"J1\"><v>0.5</v></c>"
                  "<c r=\"K1\" t=\"s\"></c></row>"
                  "<row r=\"2\">"
                  "<c  r='A2' ><v>42</v></c><c r=\"B2\" t=\"s\" cm=\"1\"><v>0</v></c>"
                  "<c r=\"C2\"><f>SUM(A1)</f>\n<v>3</v></c>"
                  "<c r=\"D2\" t=\"inlineStr\"><is><t xml:space=\"preserve\">a_x0041_\tb</t></is></c>"
                  "<c r=\"E2\" t=\"b\"><v>&#49;</v></c><c r=\"F2\" s=\"1\"></c><c t=\"e\"><v><![CDATA[#N/A]]></v></c>"
                  "<c r=\"H2\" t=\"str\"><f ca=\"1\">\"x\"</f><v>x</v></c><c r=\"I2\"><f></f><v>7</v></c>"
                  "<c r=\"J2\"><v>0.50</v></c><c r=\"K2\" t=\"s\"><v/></c></row></sheetData>"}};
    ScratchDir d;
    const std::string line = "42\tplain\t=SUM(A1)\taA b\tTrue\t\t#N/A\t=\"x\"\t7\t0.5\t\n";
    EXPECT_EQ(export_hand(hb, d), line + line);
}

// The one-step reading of a cell follows the state the general reading keeps across cells: a
// phonetic run left open still keeps the text of later inline strings out.
TEST(ExportHand, CompactCellsFollowAnUnclosedPhoneticRun) {
    HandBook hb;
    hb.sheets = {{"S",
                  "<sheetData><row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is><t>a</t><rPh><t>p</t></is></c>"
                  "<c r=\"B1\" t=\"inlineStr\"><is><t>x</t></is></c><c r=\"C1\"><v>1</v></c></row></sheetData>"}};
    ScratchDir d;
    EXPECT_EQ(export_hand(hb, d), "a\t\t1\n");
}

// Tabs and line breaks in texts the decoder hands on unchecked by the writer elsewhere: each
// becomes a space, in shared strings beside clean ones and in one-step inline strings and formulas.
TEST(ExportHand, BreaksInSharedInlineAndFormulaTextsBecomeSpaces) {
    HandBook hb;
    hb.shared_strings = "<si><t>ok</t></si><si><t>a\tb\nc</t></si><si><t>fine</t></si>";
    hb.sheets = {{"S",
                  "<sheetData><row r=\"1\"><c r=\"A1\" t=\"s\"><v>0</v></c><c r=\"B1\" t=\"s\"><v>1</v></c>"
                  "<c r=\"C1\" t=\"s\"><v>2</v></c><c r=\"D1\" t=\"inlineStr\"><is><t>x\ty</t></is></c>"
                  "<c r=\"E1\"><f>A1+\nB1</f></c><c r=\"F1\" t=\"inlineStr\"><is><t>z</t></is></c></row></sheetData>"}};
    ScratchDir d;
    EXPECT_EQ(export_hand(hb, d), "ok\ta b c\tfine\tx y\t=A1+ B1\tz\n");
}

// Enough records that many of them straddle the reader's chunk boundaries.
TEST(ExportHand, CellRecordsAcrossReadChunksStayWhole) {
    HandBook hb;
    std::string xml = "<sheetData>", want;
    for (int r = 1; r <= 30000; ++r) {
        std::string n = std::to_string(r);
        xml += "<row r=\"" + n + "\"><c r=\"A" + n + "\"><v>" + n + "</v></c><c r=\"B" + n +
               "\" t=\"inlineStr\"><is><t>t_" + n + "</t></is></c><c r=\"C" + n + "\"><f>A" + n + "*2</f></c></row>";
        want += n + "\tt_" + n + "\t=A" + n + "*2\n";
    }
    hb.sheets = {{"S", xml + "</sheetData>"}};
    ScratchDir d;
    EXPECT_EQ(export_hand(hb, d), want);
}

TEST(ExportHand, PackageVariantsAndUnsafeSheetNames) {
    // Backslash paths, odd case, absolute targets, no sharedStrings part, a chart sheet, and a
    // sheet name that holds a '/'.
    std::string ct = "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">";
    Members m = {
        {"_rels\\.rels", ct + "<Relationship Id=\"r\" Type=\"x/officeDocument\" Target=\"/XL/Workbook.xml\"/></Relationships>"},
        {"xl\\workbook.xml",
         "<x:workbook xmlns:x=\"http://purl.oclc.org/ooxml/spreadsheetml/main\" "
         "xmlns:r=\"http://purl.oclc.org/ooxml/officeDocument/relationships\"><x:sheets>"
         "<x:sheet name=\"a/b\" sheetId=\"1\" r:id=\"r1\"/><x:sheet name=\"Chart\" sheetId=\"2\" r:id=\"r2\"/>"
         "<x:sheet name=\"..\" sheetId=\"3\" r:id=\"r3\"/></x:sheets></x:workbook>"},
        {"xl\\_rels\\workbook.xml.rels",
         ct + "<Relationship Id=\"r1\" Type=\"y/worksheet\" Target=\"/xl/worksheets/Sheet1.xml\"/>"
              "<Relationship Id=\"r2\" Type=\"y/chartsheet\" Target=\"chartsheets/sheet1.xml\"/>"
              "<Relationship Id=\"r3\" Type=\"y/worksheet\" Target=\"./worksheets/../worksheets/sheet2.xml\"/>"
              "</Relationships>"},
        {"XL\\WORKSHEETS\\SHEET1.XML",
         "<x:worksheet xmlns:x=\"http://purl.oclc.org/ooxml/spreadsheetml/main\"><x:sheetData><x:row r=\"1\">"
         "<x:c r=\"A1\" s=\"\"><x:v>1</x:v></x:c><x:c r=\"B1\" t=\"inlineStr\"><x:is><x:t><![CDATA[<x>]]></x:t>"
         "</x:is></x:c></x:row></x:sheetData></x:worksheet>"},
        {"xl/worksheets/sheet2.xml", "<worksheet><sheetData><row><c><v>2</v></c></row></sheetData></worksheet>"},
    };
    ScratchDir d;
    make_zip(d / "v.xlsx", m);
    xlsx::Workbook wb(d / "v.xlsx");
    EXPECT_EQ(wb.sheet_names(), (std::vector<std::string>{"a/b", ".."}));
    export_sheets_to_txt(d / "v.xlsx", d / "out");
    EXPECT_EQ(slurp(d.path() / "out/a_b.txt"), "1\t<x>\n");
    EXPECT_EQ(slurp(d.path() / "out/...txt"), "2\n");
    size_t n = 0;
    for (const auto& e : fs::recursive_directory_iterator(d.path())) n += e.is_regular_file();
    EXPECT_EQ(n, 3u);  // the package and the two sheet files, nothing elsewhere
}

// Number cells whose value is no number are written as the file says: a tab or line break
// in them still becomes a space, as in any text.
TEST(ExportHand, BreaksInNumberCellsThatHoldNoNumber) {
    HandBook hb;
    hb.sheets = {{"S",
                  "<sheetData><row r=\"1\"><c r=\"A1\"><v>1&#9;2</v></c><c r=\"B1\"><v>3\n4</v></c>"
                  "<c r=\"C1\" t=\"e\"><v>#N/A&#13;</v></c><c r=\"D1\"><v>5</v></c></row></sheetData>"}};
    ScratchDir d;
    EXPECT_EQ(export_hand(hb, d), "1 2\t3 4\t#N/A \t5\n");
}

TEST(ExportHand, OutOfOrderCellsAndRowsStillLineUp) {
    HandBook hb;
    hb.sheets = {{"S",
                  "<sheetData><row r=\"3\"><c r=\"C3\"><v>1</v></c><c r=\"A3\"><v>2</v></c></row>"
                  "<row r=\"1\"><c r=\"B1\"><v>3</v></c></row></sheetData>"
                  "<mergeCells><mergeCell ref=\"A3:B3\"/></mergeCells>"}};
    ScratchDir d;
    EXPECT_EQ(export_hand(hb, d), "\t3\t\n\t\t\n2\t\t1\n");
}

// Rows in order under a true dimension are written as they come; merged ranges found at the end
// must still blank the values they cover, and may add rows and nothing else.
TEST(ExportHand, MergedRangesAfterStreamedRows) {
    HandBook hb;
    hb.sheets = {{"S",
                  "<dimension ref=\"A1:C4\"/><sheetData>"
                  "<row r=\"1\"><c r=\"A1\"><v>1</v></c><c r=\"B1\"><v>2</v></c><c r=\"C1\"><v>3</v></c></row>"
                  "<row r=\"2\"><c r=\"A2\"><v>4</v></c><c r=\"B2\" s=\"0\"/></row>"
                  "<row r=\"3\"><c r=\"A3\"><v>5</v></c><c r=\"B3\"><v>6</v></c><c r=\"C3\"><v>7</v></c></row>"
                  "<row r=\"4\"><c r=\"A4\"><v>8</v></c></row></sheetData>"
                  "<mergeCells><mergeCell ref=\"A2:C2\"/><mergeCell ref=\"B3:C4\"/></mergeCells>"},
                 {"Clean",
                  "<dimension ref=\"A1:B2\"/><sheetData>"
                  "<row r=\"1\"><c r=\"A1\"><v>1</v></c><c r=\"B1\"><v>2</v></c></row>"
                  "<row r=\"2\"><c r=\"A2\"><v>3</v></c></row></sheetData>"
                  "<mergeCells><mergeCell ref=\"A2:B2\"/><mergeCell ref=\"A4:B5\"/></mergeCells>"}};
    ScratchDir d;
    EXPECT_EQ(export_hand(hb, d), "1\t2\t3\n4\t\t\n5\t6\t\n8\t\t\n");
    EXPECT_EQ(slurp(fs::path(d / "out") / "Clean.txt"), "1\t2\n3\t\n\t\n\t\n\t\n");
}

TEST(ExportErrors, BadInputsNameTheFile) {
    ScratchDir d;
    EXPECT_THROW(export_sheets_to_txt(d / "missing.xlsx", d / "out"), FileNotFoundError);
    spit(d.path() / "text.xlsx", "not a workbook");
    try {
        export_sheets_to_txt(d / "text.xlsx", d / "out");
        FAIL() << "no error";
    } catch (const Error& e) {
        EXPECT_NE(std::string(e.what()).find("text.xlsx"), std::string::npos);
    }
    HandBook hb;
    hb.sheets = {{"S", "<sheetData><row r=\"1\"><c r=\"A1\" t=\"s\"><v>4</v></c></row></sheetData>"}};
    hb.shared_strings = "<si><t>only</t></si>";
    make_zip(d / "sst.xlsx", hb.members());
    EXPECT_THROW(export_sheets_to_txt(d / "sst.xlsx", d / "out"), Error);
    hb.sheets = {{"S", "<sheetData><row r=\"1\"><c r=\"A1\"><v>1</v></c></row>"}};
    Members cut = hb.members();
    cut[1].second = "<worksheet><sheetData><row r=\"1\"><c r=\"A1\"><v>1</v></c></row";
    make_zip(d / "cut.xlsx", cut);
    EXPECT_THROW(export_sheets_to_txt(d / "cut.xlsx", d / "out"), Error);
    cut[1].second = "<worksheet><sheetData><row r=\"1\"><c r=\"A1\"><v>1</v></c></row>";
    make_zip(d / "cut2.xlsx", cut);
    EXPECT_THROW(export_sheets_to_txt(d / "cut2.xlsx", d / "out"), Error);
    Members no_sheet = hb.members();
    no_sheet.erase(no_sheet.begin() + 1);
    make_zip(d / "nosheet.xlsx", no_sheet);
    EXPECT_THROW(xlsx::Workbook(d / "nosheet.xlsx"), Error);
}

TEST(ExportHand, HugeFormatOnlyExtentIsNotMaterialised) {
    // Formatting out to the last cell of the sheet: the value columns are written, not 17 GB.
    HandBook hb;
    hb.sheets = {{"S",
                  "<dimension ref=\"A1:XFD1048576\"/><sheetData><row r=\"1\"><c r=\"A1\"><v>1</v></c>"
                  "<c r=\"B1\"><v>2</v></c></row><row r=\"1048576\"><c r=\"XFD1048576\" s=\"1\"/></row></sheetData>"}};
    ScratchDir d;
    EXPECT_EQ(export_hand(hb, d), "1\t2\n");
    // Real values that far apart cannot become a text file: a clear error.
    hb.sheets = {{"S", "<sheetData><row r=\"1\"><c r=\"A1\"><v>1</v></c></row>"
                       "<row r=\"1048576\"><c r=\"XFD1048576\"><v>1</v></c></row></sheetData>"}};
    ScratchDir d2;
    EXPECT_THROW(export_hand(hb, d2), Error);
}

TEST(Reader, RowsCellsAndTable) {
    HandBook hb;
    hb.shared_strings = "<si><t>Name</t></si><si><t>Rename</t></si><si><t>x</t></si>";
    hb.sheets = {{"S",
                  "<sheetData><row r=\"1\"><c r=\"A1\" t=\"s\"><v>0</v></c><c r=\"B1\" t=\"s\"><v>1</v></c></row>"
                  "<row r=\"3\"><c r=\"A3\" t=\"s\"><v>2</v></c><c r=\"B3\" t=\"b\"><v>1</v></c>"
                  "<c r=\"C3\"><v>2.5</v></c><c r=\"D3\" s=\"0\"/></row>"
                  "<row r=\"4\"><c r=\"A4\"><v>9</v></c><c r=\"B4\"><v>8</v></c></row></sheetData>"
                  "<mergeCells><mergeCell ref=\"A4:B4\"/></mergeCells>"}};
    ScratchDir d;
    make_zip(d / "t.xlsx", hb.members());
    std::vector<size_t> rows;
    std::vector<size_t> widths;
    xlsx::Workbook(d / "t.xlsx").for_each_row("S", [&](size_t r, const std::vector<xlsx::Cell>& cells) {
        rows.push_back(r);
        widths.push_back(cells.size());
    });
    EXPECT_EQ(rows, (std::vector<size_t>{0, 2, 3}));
    EXPECT_EQ(widths, (std::vector<size_t>{2, 4, 2}));

    xlsx::Table t = xlsx::read_table(d / "t.xlsx", "S");
    ASSERT_EQ(t.header.size(), 2u);
    EXPECT_EQ(t.header[1].text, "Rename");
    ASSERT_EQ(t.rows.size(), 3u);
    EXPECT_TRUE(t.rows[0].empty());
    EXPECT_EQ(t.rows[1][1].kind, xlsx::Cell::Bool);
    EXPECT_TRUE(t.rows[1][1].boolean);
    EXPECT_EQ(t.rows[1][2].kind, xlsx::Cell::Number);
    EXPECT_DOUBLE_EQ(t.rows[1][2].number, 2.5);
    EXPECT_EQ(t.rows[1][3].kind, xlsx::Cell::Empty);
    EXPECT_EQ(t.rows[2][0].text, "9");
    EXPECT_EQ(t.rows[2][1].kind, xlsx::Cell::Empty);  // covered by the merge
    EXPECT_THROW(xlsx::read_table(d / "t.xlsx", "Nope"), Error);
}

}  // namespace
}  // namespace igxl::testing
