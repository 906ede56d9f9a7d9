// Sheet cells of the common shapes are read straight from the buffer, the rest through the
// general tokenizer. Both must give the same text, whatever the mix of shapes and wherever the
// reads cut the XML: generated sheets are exported both ways at many read sizes and compared.
#include <algorithm>
#include <random>

#include "export/common.h"
#include "export/xlsx_detail.h"
#include "helpers.h"
#include "util/error.h"

namespace igxl::testing {
namespace {

// Restores the default way of reading when a test ends, passed or not.
struct Tuning {
    Tuning(bool direct, size_t max_read) {
        detail::scan_tuning().direct_cells = direct;
        detail::scan_tuning().max_read = max_read;
    }
    ~Tuning() { detail::scan_tuning() = detail::ScanTuning{}; }
};

std::string col_name(int c) {
    std::string s;
    for (++c; c > 0; c = (c - 1) / 26) s.insert(s.begin(), static_cast<char>('A' + (c - 1) % 26));
    return s;
}

// A sheet of random rows; most cells take the common shapes, a fair share the unusual ones.
std::string random_sheet(unsigned seed, int rows) {
    std::mt19937 rng(seed);
    auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    std::string x = "<dimension ref=\"A1:H" + std::to_string(rows) + "\"/><sheetData>";
    int r = 0;
    for (int i = 0; i < rows; ++i) {
        r += 1 + (pick(6) == 0);
        std::string rn = std::to_string(r);
        switch (pick(8)) {
            case 0: x += "<row>"; break;
            case 1: x += "<x:row r=\"" + rn + "\">"; break;
            case 2: x += "<row r='" + rn + "' spans=\"1:8\"\tht=\"15\">"; break;
            case 3:
                x += "<row r=\"" + rn + "\"/>";
                continue;
            default: x += "<row r=\"" + rn + "\" spans=\"1:8\" x14ac:dyDescent=\"0.25\">"; break;
        }
        for (int c = 0; c < 8; ++c) {
            if (pick(4) == 0) continue;
            std::string ref = col_name(c) + rn;
            std::string at = pick(10) == 0 ? "" : " r=\"" + ref + "\"";
            switch (pick(22)) {
                case 0: x += "<c" + at + " t=\"s\"><v>" + std::to_string(pick(4)) + "</v></c>"; break;
                case 1: x += "<c" + at + " s=\"1\"><v>" + std::to_string(40000 + pick(9000)) + ".25</v></c>"; break;
                case 2: x += "<c" + at + " s=\"2\"><v>1.5</v></c>"; break;
                case 3: x += "<c" + at + "/>"; break;
                case 4: x += "<c" + at + " s=\"3\"></c>"; break;
                case 5: x += "<c" + at + " t=\"b\"><v>" + std::to_string(pick(2)) + "</v></c>"; break;
                case 6: x += "<c" + at + " t=\"e\"><v>#N/A</v></c>"; break;
                case 7: x += "<c" + at + " t=\"str\"><v>Pin_" + std::to_string(pick(99)) + "</v></c>"; break;
                case 8: x += "<c" + at + "><v>" + std::to_string(static_cast<int>(rng()) / 7) + "</v></c>"; break;
                case 9: x += "<c" + at + "><v>0.1000000000000000055511151231257827</v></c>"; break;
                case 10: x += "<c" + at + "><v>1E-09</v></c>"; break;
                case 11: x += "<c" + at + " t=\"str\"><v>a &amp; b &lt;c&gt;</v></c>"; break;
                case 12: x += "<c" + at + " t=\"str\"><v><![CDATA[x<y & z]]></v></c>"; break;
                case 13: x += "<c" + at + "><f>" + col_name(c) + "1*2</f><v>4</v></c>"; break;
                case 14: x += "<c" + at + " t=\"inlineStr\"><is><t>in\tline_x0041_</t></is></c>"; break;
                case 15: x += "<x:c" + at + "><x:v>5</x:v></x:c>"; break;
                case 16: x += "<!-- note --><c" + at + " t=\"str\"><v>x\r\ny</v></c>"; break;
                case 17: x += "<c\tr=\"" + ref + "\"><v>6</v></c>\n  "; break;
                case 18: x += "<c" + at + " x:t=\"s\" s=''><v>1</v></c>"; break;
                case 19: x += "<c" + at + " t=\"str\" ><v>sp</v ></c>"; break;
                case 20: x += "<c" + at + " t=\"d\"><v>2021-01-01T10:10:10</v></c>"; break;
                default: x += "<c" + at + " t=\"str\"><v></v></c>"; break;
            }
        }
        x += pick(8) == 0 ? "</x:row>" : "</row>";
    }
    return x + "</sheetData><mergeCells><mergeCell ref=\"B2:C3\"/></mergeCells>";
}

TEST(DirectCells, SameTextAsGeneralPathForMixedShapesAndReadSizes) {
    ScratchDir d;
    HandBook hb;
    hb.shared_strings = "<si><t>VDD</t></si><si><t>a&amp;b</t></si><si><r><t>rich</t></r></si><si><t/></si>";
    hb.styles =
        "<numFmts><numFmt numFmtId=\"164\" formatCode=\"[h]:mm:ss\"/></numFmts>"
        "<cellXfs><xf numFmtId=\"0\"/><xf numFmtId=\"14\"/><xf numFmtId=\"164\"/><xf numFmtId=\"0\"/></cellXfs>";
    for (unsigned seed = 1; seed <= 4; ++seed) hb.sheets.push_back({"S" + std::to_string(seed), random_sheet(seed, 150)});
    make_zip(d / "book.xlsx", hb.members());

    auto run = [&](bool direct, size_t max_read, const std::string& out) {
        Tuning t(direct, max_read);
        export_sheets_to_txt(d / "book.xlsx", d / out);
    };
    run(false, 0, "general");
    std::string first = slurp(fs::path(d / "general") / "S1.txt");
    ASSERT_GT(std::count(first.begin(), first.end(), '\n'), 150);
    EXPECT_NE(first.find("a & b <c>"), std::string::npos);

    int k = 0;
    for (size_t max_read : {size_t(0), size_t(1), size_t(2), size_t(3), size_t(5), size_t(7), size_t(13), size_t(64),
                            size_t(1000)}) {
        std::string out = "direct" + std::to_string(k++);
        run(true, max_read, out);
        for (unsigned s = 1; s <= 4; ++s) {
            std::string name = "S" + std::to_string(s) + ".txt";
            EXPECT_EQ(slurp(fs::path(d / out) / name), slurp(fs::path(d / "general") / name)) << name << ", read size " << max_read;
        }
    }
}

// The general path alone at tiny read sizes, against itself at full size: the reference above
// must not depend on where the reads cut.
TEST(DirectCells, GeneralPathDoesNotDependOnReadSize) {
    ScratchDir d;
    HandBook hb;
    hb.shared_strings = "<si><t>VDD</t></si><si><t>x</t></si><si><t>y</t></si><si><t>z</t></si>";
    hb.sheets.push_back({"S", random_sheet(9, 60)});
    make_zip(d / "book.xlsx", hb.members());
    std::string want;
    for (size_t max_read : {size_t(0), size_t(1), size_t(4)}) {
        Tuning t(false, max_read);
        export_sheets_to_txt(d / "book.xlsx", d / "out");
        std::string got = slurp(fs::path(d / "out") / "S.txt");
        if (max_read == 0) want = got;
        else EXPECT_EQ(got, want) << "read size " << max_read;
    }
}

// A part cut inside a cell stays an error, not a shorter sheet.
TEST(DirectCells, TruncatedCellDataIsAnError) {
    ScratchDir d;
    HandBook hb;
    hb.sheets.push_back({"S", "<sheetData><row r=\"1\"><c r=\"A1\"><v>1</v></c><c r=\"B1\"><v>2"});
    make_zip(d / "book.xlsx", hb.members());
    for (size_t max_read : {size_t(0), size_t(3)}) {
        Tuning t(true, max_read);
        EXPECT_THROW(export_sheets_to_txt(d / "book.xlsx", d / "out"), Error) << "read size " << max_read;
    }
}

}  // namespace
}  // namespace igxl::testing
