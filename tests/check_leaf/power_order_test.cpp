#include "check/power_order.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "tests/support/shared_data.h"
#include "util/error.h"

namespace {

namespace fs = std::filesystem;
using igxl::XlsCell;
using igxl::XlsSheet;

const std::string kCorpus = IGXL_SHARED_DIR "/corpus/xls/calamine/tests/";

TEST(PowerOrder, CellsByKindAndBeyondTheSheet) {
    IGXL_REQUIRE_SHARED(kCorpus);
    XlsSheet s(kCorpus + "any_sheets.xls");
    EXPECT_EQ(s.row_count(), 5u);
    EXPECT_EQ(s.column_count(), 2u);
    auto c = s.cell(0, 0);
    ASSERT_TRUE(c);
    EXPECT_EQ(c->kind, XlsCell::Kind::Number);
    EXPECT_EQ(c->number, 1.0);
    EXPECT_EQ(c->text, "1");  // integral numbers without ".0"
    auto empty = s.cell(3, 1);
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->kind, XlsCell::Kind::Empty);
    EXPECT_EQ(empty->text, "");
    EXPECT_EQ(s.cell_text(4, 0), "This workbook contains 4 sheets: Visible, Hidden, VeryHidden and Chart");
    EXPECT_EQ(s.cell(5, 0), std::nullopt);
    EXPECT_EQ(s.cell(0, 2), std::nullopt);
    EXPECT_EQ(s.cell_text(100000, 60000), std::nullopt);
}

TEST(PowerOrder, NumbersDatesAndNonAsciiText) {
    IGXL_REQUIRE_SHARED(kCorpus);
    XlsSheet issues(kCorpus + "issues.xls");
    EXPECT_EQ(issues.cell_text(1, 0), "1.5");
    EXPECT_EQ(issues.cell_text(4, 0), "test");
    EXPECT_EQ(issues.cell_text(5, 0), "2016-10-20");
    XlsSheet dates(kCorpus + "date.xls");
    EXPECT_EQ(dates.cell_text(2, 0), "15:10:10");
    EXPECT_EQ(dates.cell_text(2, 1), "17");
    XlsSheet names(kCorpus + "sheet_name_parsing.xls");
    EXPECT_EQ(names.cell_text(0, 2), "\xC3\x85r");  // UTF-8 "År"
    XlsSheet decimals(kCorpus + "xls_wrong_decimals.xls");
    EXPECT_EQ(decimals.cell_text(0, 0), "0.525625");
}

TEST(PowerOrder, RowsBelowHeaderUntilACellIsMissing) {
    IGXL_REQUIRE_SHARED(kCorpus);
    auto rows = igxl::read_power_order(kCorpus + "any_sheets.xls");
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[0], (std::pair<std::string, std::string>{"3", "4"}));
    EXPECT_EQ(rows[1], (std::pair<std::string, std::string>{"5", "6"}));
    EXPECT_EQ(rows[2], (std::pair<std::string, std::string>{"", ""}));
    EXPECT_EQ(rows[3].second, "");
    // A sheet with column 0 only ends at its first data row.
    EXPECT_TRUE(igxl::read_power_order(kCorpus + "issues.xls").empty());
    // A header-only sheet has no rows.
    EXPECT_TRUE(igxl::read_power_order(kCorpus + "sheet_name_parsing.xls").empty());
}

TEST(PowerOrder, MissingAndUnreadableFiles) {
    EXPECT_THROW(XlsSheet(kCorpus + "no_such_file.xls"), igxl::FileNotFoundError);
    fs::path tmp = fs::temp_directory_path() / "leaf_not_a_workbook.xls";
    { std::ofstream(tmp) << "Pin\tAlias\nVDD\tCORE\n"; }
    try {
        XlsSheet s(tmp.string());
        ADD_FAILURE() << "a text file opened as a workbook";
    } catch (const igxl::FileNotFoundError&) {
        ADD_FAILURE() << "wrong failure kind";
    } catch (const igxl::Error& e) {
        std::string msg = e.what();
        EXPECT_NE(msg.find(tmp.string()), std::string::npos) << msg;
        EXPECT_NE(msg.find("FreeXL"), std::string::npos) << msg;
    }
    fs::remove(tmp);
}

// Real-world and deliberately broken workbooks: each either opens or fails with an Error
// naming the file; nothing crashes and every cell of the first sheet can be read.
TEST(PowerOrder, EveryCorpusFileOpensOrFailsCleanly) {
    IGXL_REQUIRE_SHARED(IGXL_SHARED_DIR "/corpus/xls");
    int opened = 0, refused = 0;
    for (const auto& entry : fs::recursive_directory_iterator(IGXL_SHARED_DIR "/corpus/xls")) {
        if (!entry.is_regular_file() || entry.path().extension() != ".xls") continue;
        const std::string path = entry.path().string();
        try {
            XlsSheet s(path);
            for (uint32_t r = 0; r < s.row_count(); ++r)
                for (uint16_t c = 0; c < s.column_count(); ++c) (void)s.cell(r, c);
            (void)igxl::read_power_order(path);
            ++opened;
        } catch (const igxl::Error& e) {
            EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
            ++refused;
        }
    }
    EXPECT_GT(opened, 20);
    EXPECT_GT(refused, 0);  // too_small.xls, for one
}

}  // namespace
