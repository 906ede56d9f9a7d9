// Archive and workbook limits: bombs refused with a message naming the file and the limit, and
// nothing of a failed export left behind.
#include "export/common.h"
#include "export/xlsx.h"
#include "helpers.h"
#include "util/error.h"

namespace igxl::testing {
namespace {

std::vector<std::string> names_under(const fs::path& p) {
    std::vector<std::string> out;
    if (!fs::exists(p)) return out;
    for (const auto& e : fs::directory_iterator(p)) out.push_back(e.path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
}

// The message of the BadInputError f throws ("" when it throws nothing or something else).
template <class F>
std::string refusal(F&& f) {
    try {
        f();
    } catch (const BadInputError& e) {
        return e.what();
    } catch (const std::exception& e) {
        return std::string("other error: ") + e.what();
    }
    return "";
}

TEST(ArchiveLimits, BombsAreRefusedBeforeAnythingIsWritten) {
    ScratchDir d;
    ExportOptions small;
    small.max_unpacked = 1 << 20;
    small.max_members = 50;

    // 8 MB of one byte packs into a few KB: refused from the directory's sizes alone.
    make_zip(d / "size.igxl", {{"JobList.txt", "Job\n"}, {"Flow.txt", std::string(8 << 20, 'a')}});
    std::string why = refusal([&] { unzip(d / "size.igxl", d / "out", diag::null_sink(), small); });
    EXPECT_NE(why.find("archive '" + (d / "size.igxl") + "'"), std::string::npos) << why;
    EXPECT_NE(why.find("unpacks to more than 1 MB"), std::string::npos) << why;
    EXPECT_NE(why.find("--max-unpacked"), std::string::npos) << why;
    EXPECT_TRUE(names_under(d.path() / "out").empty());
    // The same archive passes once the limit is raised.
    ExportOptions raised = small;
    raised.max_unpacked = 16 << 20;
    raised.max_line_length = 16 << 20;
    unzip(d / "size.igxl", d / "out", diag::null_sink(), raised);
    EXPECT_EQ(names_under(d.path() / "out"), (std::vector<std::string>{"Flow.txt", "JobList.txt"}));

    Members many;
    for (int i = 0; i < 51; ++i) many.push_back({"s" + std::to_string(i) + ".txt", "x"});
    make_zip(d / "many.igxl", many);
    why = refusal([&] { unzip(d / "many.igxl", d / "many", diag::null_sink(), small); });
    EXPECT_NE(why.find("more than 50 files"), std::string::npos) << why;
    EXPECT_FALSE(fs::exists(d.path() / "many"));
    many.pop_back();
    make_zip(d / "many.igxl", many);
    unzip(d / "many.igxl", d / "many", diag::null_sink(), small);  // exactly at the limit
    EXPECT_EQ(names_under(d.path() / "many").size(), 50u);
}

TEST(ArchiveLimits, SameBaseNameInTwoFoldersNamesBoth) {
    ScratchDir d;
    make_zip(d / "p.igxl", {{"prog/", ""}, {"a/Flow.txt", "first"}, {"top.txt", "t"}, {"b/Flow.txt", "second"}});
    std::string why = refusal([&] { unzip(d / "p.igxl", d / "out"); });
    EXPECT_NE(why.find("'a/Flow.txt' and 'b/Flow.txt'"), std::string::npos) << why;
    EXPECT_NE(why.find("'Flow.txt'"), std::string::npos) << why;
    EXPECT_TRUE(names_under(d.path() / "out").empty());
}

TEST(ArchiveLimits, LongSheetLineRemovesEverythingThisUnpackingWrote) {
    ScratchDir d;
    ExportOptions opt;
    opt.max_line_length = 1000;
    // The first members are written before the long line of the last one is met.
    std::string ok_lines;
    for (int i = 0; i < 100; ++i) ok_lines += std::string(999, 'x') + (i % 2 ? "\r\n" : "\n");
    make_zip(d / "p.igxl", {{"Good.txt", ok_lines},
                            {"Module.bas", std::string(5000, 'm')},  // not a sheet: no line limit
                            {"dir/Jobs.txt", "Job\tFlow\n" + std::string(3000, 'j') + "\n"}});
    fs::create_directories(d.path() / "out");
    spit(d.path() / "out/keep.txt", "from before");
    std::string why = refusal([&] { unzip(d / "p.igxl", d / "out", diag::null_sink(), opt); });
    EXPECT_NE(why.find("sheet text file 'dir/Jobs.txt': line 2 is longer than 1000 bytes"), std::string::npos)
        << why;
    EXPECT_EQ(names_under(d.path() / "out"), std::vector<std::string>{"keep.txt"});
}

TEST(WorkbookLimits, InflatedPartsAndLongRowsAreRefusedAndLeaveNoFile) {
    ScratchDir d;
    HandBook big;
    std::string rows;
    for (int r = 1; r <= 3000; ++r)
        rows += "<row r=\"" + std::to_string(r) + "\"><c r=\"A" + std::to_string(r) +
                "\" t=\"inlineStr\"><is><t>" + std::string(400, 'v') + "</t></is></c></row>";
    big.sheets = {{"First", "<sheetData><row r=\"1\"><c r=\"A1\"><v>1</v></c></row></sheetData>"},
                  {"Big", "<sheetData>" + rows + "</sheetData>"}};
    make_zip(d / "big.xlsx", big.members());
    ExportOptions opt;
    opt.max_unpacked = 1 << 20;  // the Big sheet's XML alone is about 1.3 MB
    std::string why = refusal([&] { export_sheets_to_txt(d / "big.xlsx", d / "out", opt); });
    EXPECT_NE(why.find("cannot read workbook '" + (d / "big.xlsx") + "': it unpacks to more than 1 MB"),
              std::string::npos)
        << why;
    EXPECT_TRUE(names_under(d.path() / "out").empty());
    export_sheets_to_txt(d / "big.xlsx", d / "out");
    EXPECT_EQ(names_under(d.path() / "out"), (std::vector<std::string>{"Big.txt", "First.txt"}));

    // One row of many cells, and one cell of a long text: each past a 2000-byte line.
    HandBook wide;
    std::string cells;
    for (int c = 0; c < 26; ++c)
        cells += std::string("<c r=\"") + char('A' + c) + "2\"><v>" + std::to_string(1234567 + c) + "12345</v></c>";
    wide.sheets = {{"Wide", "<sheetData><row r=\"1\"><c r=\"A1\"><v>1</v></c></row><row r=\"2\">" + cells +
                                "</row></sheetData>"},
                   {"Long", "<sheetData><row r=\"3\"><c r=\"B3\" t=\"inlineStr\"><is><t>" + std::string(3000, 'w') +
                                "</t></is></c></row></sheetData>"}};
    make_zip(d / "wide.xlsx", wide.members());
    opt = ExportOptions{};
    opt.max_line_length = 300;
    why = refusal([&] { export_sheets_to_txt(d / "wide.xlsx", d / "wide", opt); });
    EXPECT_NE(why.find("sheet 'Wide': row 2 is longer than 300 bytes"), std::string::npos) << why;
    EXPECT_TRUE(names_under(d.path() / "wide").empty());
    // Rows out of order take the buffered writer, which keeps the same limit.
    std::string swapped = "<c r=\"B2\"><v>2</v></c><c r=\"A2\"><v>1</v></c>" + cells.substr(cells.find("<c r=\"C2\""));
    wide.sheets[0].second = "<sheetData><row r=\"2\">" + swapped + "</row></sheetData>";
    make_zip(d / "wide.xlsx", wide.members());
    why = refusal([&] { export_sheets_to_txt(d / "wide.xlsx", d / "wide", opt); });
    EXPECT_NE(why.find("sheet 'Wide': row 2 is longer than 300 bytes"), std::string::npos) << why;
    EXPECT_TRUE(names_under(d.path() / "wide").empty());
    opt.max_line_length = 1000;
    why = refusal([&] { export_sheets_to_txt(d / "wide.xlsx", d / "wide", opt); });
    EXPECT_NE(why.find("sheet 'Long', cell B3 holds more than 1000 bytes"), std::string::npos) << why;
    EXPECT_TRUE(names_under(d.path() / "wide").empty());
}

}  // namespace
}  // namespace igxl::testing
