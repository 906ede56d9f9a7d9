// The sheets of a workbook written on several threads: the files, the error and the unpack
// limit must be those of writing the sheets one after another.
#include <map>

#include "export/common.h"
#include "export/xlsx.h"
#include "helpers.h"
#include "util/error.h"

namespace igxl::testing {
namespace {

// Every file of a folder with its text.
std::map<std::string, std::string> folder(const fs::path& p) {
    std::map<std::string, std::string> out;
    if (!fs::exists(p)) return out;
    for (const auto& e : fs::directory_iterator(p)) out[e.path().filename().string()] = slurp(e.path());
    return out;
}

ExportOptions on(unsigned threads) {
    ExportOptions o;
    o.threads = threads;
    return o;
}

// The error an export throws, with its kind ("" when it throws nothing).
std::string failure(const std::string& book, const std::string& dir, const ExportOptions& o) {
    try {
        export_sheets_to_txt(book, dir, o);
    } catch (const BadInputError& e) {
        return std::string("limit: ") + e.what();
    } catch (const std::exception& e) {
        return std::string("error: ") + e.what();
    }
    return "";
}

std::string rows_of(int rows, int width, const std::string& word) {
    std::string s = "<sheetData>";
    for (int r = 1; r <= rows; ++r) {
        s += "<row r=\"" + std::to_string(r) + "\">";
        for (int c = 0; c < width; ++c)
            s += std::string("<c r=\"") + char('A' + c) + std::to_string(r) + "\" t=\"inlineStr\"><is><t>" + word +
                 std::to_string(r * width + c) + "</t></is></c>";
        s += "</row>";
    }
    return s + "</sheetData>";
}

// Sheets of every kind the writers know: streamed, buffered (rows out of order), rewritten for
// merged ranges and width, shared strings, empty, and two names that make the same file.
HandBook mixed_book() {
    HandBook hb;
    hb.shared_strings = "<si><t>alpha</t></si><si><t>be\tta</t></si>";
    hb.sheets = {
        {"Plain", rows_of(200, 5, "p")},
        {"Shared", "<sheetData><row r=\"1\"><c r=\"A1\" t=\"s\"><v>0</v></c><c r=\"C1\" t=\"s\"><v>1</v></c></row>"
                   "<row r=\"4\"><c r=\"B4\"><v>2.5</v></c></row></sheetData>"},
        {"a/b", "<sheetData><row r=\"1\"><c r=\"A1\"><v>1</v></c></row></sheetData>"},
        {"Swapped", "<sheetData><row r=\"3\"><c r=\"C3\"><v>1</v></c><c r=\"A3\"><v>2</v></c></row>"
                    "<row r=\"1\"><c r=\"B1\"><v>3</v></c></row></sheetData>"},
        {"Empty", ""},
        {"Merged", "<dimension ref=\"A1:B2\"/>" + rows_of(30, 3, "m") +
                       "<mergeCells><mergeCell ref=\"A2:C3\"/><mergeCell ref=\"A40:B41\"/></mergeCells>"},
        {"a_b", "<sheetData><row r=\"1\"><c r=\"A1\"><v>2</v></c><c r=\"B1\"><v>3</v></c></row></sheetData>"},
        {"Big", rows_of(3000, 8, "big")},
    };
    return hb;
}

TEST(ExportParallel, ManySheetsEqualOneAtATime) {
    ScratchDir d;
    make_zip(d / "m.xlsx", mixed_book().members());
    export_sheets_to_txt(d / "m.xlsx", d / "one", on(1));
    std::map<std::string, std::string> one = folder(d.path() / "one");
    ASSERT_EQ(one.size(), 7u);  // "a/b" and "a_b" share a file; the later sheet's text stands
    EXPECT_EQ(one["a_b.txt"], "2\t3\n");
    EXPECT_EQ(one["Swapped.txt"], "\t3\t\n\t\t\n2\t\t1\n");
    for (unsigned threads : {2u, 4u, 8u, 0u}) {
        std::string out = d / ("t" + std::to_string(threads));
        export_sheets_to_txt(d / "m.xlsx", out, on(threads));
        EXPECT_EQ(folder(out), one) << threads << " threads";  // nothing else left in the folder either
    }
    // Over files of an earlier export, in place, stale or linked elsewhere: the links go, what
    // they pointed at stays.
    for (unsigned threads : {4u, 1u}) {
        spit(d.path() / "one" / "Plain.txt", "stale\n");
#ifndef _WIN32  // Wine makes no symbolic links
        spit(d.path() / "elsewhere.txt", "keep");
        fs::remove(d.path() / "one" / "Big.txt");
        fs::create_symlink(d.path() / "elsewhere.txt", d.path() / "one" / "Big.txt");
#endif
        export_sheets_to_txt(d / "m.xlsx", d / "one", on(threads));
        EXPECT_EQ(folder(d.path() / "one"), one) << threads << " threads";
#ifndef _WIN32
        EXPECT_FALSE(fs::is_symlink(d.path() / "one" / "Big.txt"));
        EXPECT_EQ(slurp(d.path() / "elsewhere.txt"), "keep");
#endif
    }
}

TEST(ExportParallel, FirstFailingSheetInOrderIsReportedAndLaterFilesUntouched) {
    ScratchDir d;
    HandBook hb = mixed_book();
    hb.sheets.insert(hb.sheets.begin() + 2, {"BadIndex", "<sheetData><row r=\"1\"><c r=\"A1\" t=\"s\"><v>9</v></c></row></sheetData>"});
    // A later sheet that fails differently, and is larger so a worker starts on it first.
    hb.sheets.push_back({"Cut", rows_of(4000, 8, "cut") + "<sheetData><row r=\"1\"><c>"});
    make_zip(d / "bad.xlsx", hb.members());
    const std::string want = failure(d / "bad.xlsx", d / "one", on(1));
    ASSERT_NE(want.find("sheet 'BadIndex'"), std::string::npos) << want;
    for (unsigned threads : {2u, 4u}) {
        std::string out = d / ("t" + std::to_string(threads));
        fs::create_directories(out);
        spit(fs::path(out) / "Big.txt", "from before");  // a sheet after the failing one
        spit(fs::path(out) / "Plain.txt", "from before");  // before it: written, then removed
        EXPECT_EQ(failure(d / "bad.xlsx", out, on(threads)), want) << threads << " threads";
        EXPECT_EQ(folder(out), (std::map<std::string, std::string>{{"Big.txt", "from before"}}))
            << threads << " threads";
    }
    // Only the last sheet broken: every other sheet is written first, then all removed.
    hb.sheets.erase(hb.sheets.begin() + 2);
    make_zip(d / "last.xlsx", hb.members());
    const std::string last = failure(d / "last.xlsx", d / "one", on(1));
    ASSERT_NE(last.find("sheet 'Cut'"), std::string::npos) << last;
    EXPECT_EQ(failure(d / "last.xlsx", d / "t4", on(4)), last);
    EXPECT_TRUE(folder(d.path() / "t4").empty());
}

TEST(ExportParallel, SheetFileThatCannotBeWrittenFailsAsInTurn) {
    // A folder stands where the second sheet's file goes: written on a worker under its staging
    // name, the file cannot be put in place, and the error is the one writing it in turn gives.
    ScratchDir d;
    make_zip(d / "m.xlsx", mixed_book().members());
    std::string first;
    for (unsigned threads : {1u, 4u}) {
        fs::remove_all(d.path() / "x");
        fs::create_directories(d.path() / "x/Shared.txt");
        spit(d.path() / "x/Shared.txt/keep", "k");
        std::string why = failure(d / "m.xlsx", d / "x", on(threads));
        if (threads == 1) first = why;
        ASSERT_NE(why.find("Shared.txt"), std::string::npos) << why;
        EXPECT_EQ(why, first) << threads << " threads";
        EXPECT_EQ(folder(d.path() / "x").size(), 1u) << threads << " threads";  // the folder alone
        EXPECT_EQ(slurp(d.path() / "x/Shared.txt/keep"), "k");
    }
}

TEST(ExportParallel, UnpackLimitCountsEverySheetInOrder) {
    ScratchDir d;
    HandBook hb;
    for (const char* name : {"S1", "S2", "S3", "S4", "S5"}) hb.sheets.push_back({name, rows_of(2000, 4, name)});
    make_zip(d / "five.xlsx", hb.members());
    uint64_t sheet_bytes = hb.members()[1].second.size();
    // Each sheet fits alone, all five together do not.
    ExportOptions o = on(1);
    o.max_unpacked = sheet_bytes * 4;
    const std::string want = failure(d / "five.xlsx", d / "one", o);
    ASSERT_NE(want.find("limit: cannot read workbook '" + (d / "five.xlsx") + "': it unpacks to more than"),
              std::string::npos)
        << want;
    for (unsigned threads : {2u, 4u}) {
        o.threads = threads;
        EXPECT_EQ(failure(d / "five.xlsx", d / "t", o), want) << threads << " threads";
        EXPECT_TRUE(folder(d.path() / "t").empty());
        // Raised just enough for every part, with the others of the workbook.
        o.max_unpacked = sheet_bytes * 6;
        EXPECT_EQ(failure(d / "five.xlsx", d / "t", o), "");
        EXPECT_EQ(folder(d.path() / "t").size(), 5u);
        o.max_unpacked = sheet_bytes * 4;
        fs::remove_all(d.path() / "t");
    }

    // An early sheet's own error comes before the limit the later ones pass together, though the
    // larger later sheets are the ones written first.
    hb.sheets.insert(hb.sheets.begin(), {"Early", "<sheetData><row r=\"1\"><c r=\"A1\" t=\"s\"><v>3</v></c></row></sheetData>"});
    make_zip(d / "early.xlsx", hb.members());
    o.threads = 1;
    const std::string early = failure(d / "early.xlsx", d / "one", o);
    ASSERT_NE(early.find("error: "), std::string::npos) << early;
    ASSERT_NE(early.find("sheet 'Early'"), std::string::npos) << early;
    o.threads = 4;
    EXPECT_EQ(failure(d / "early.xlsx", d / "t", o), early);
    EXPECT_TRUE(folder(d.path() / "t").empty());

    // And the limit, reached before a broken last sheet, is what is reported.
    hb.sheets.erase(hb.sheets.begin());
    hb.sheets.push_back({"Late", "<sheetData><row r=\"1\"><c r=\"A1\" t=\"s\"><v>3</v></c></row></sheetData>"});
    make_zip(d / "late.xlsx", hb.members());
    o.threads = 1;
    const std::string late = failure(d / "late.xlsx", d / "one", o);
    ASSERT_NE(late.find("limit: cannot read workbook '" + (d / "late.xlsx") + "': it unpacks to more than"),
              std::string::npos)
        << late;
    o.threads = 4;
    EXPECT_EQ(failure(d / "late.xlsx", d / "t", o), late);
    EXPECT_TRUE(folder(d.path() / "t").empty());
}

}  // namespace
}  // namespace igxl::testing
