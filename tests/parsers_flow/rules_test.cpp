// Name rules of the pattern set reader, the flow row layouts and the cycle count of a listing.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "parsers/flow_table.h"
#include "parsers/pattern_sets.h"
#include "util/error.h"
#include "util/text.h"

using namespace igxl;

namespace {

TEST(PatternNames, TruncationPrefersListOrderAndSkipsTrailingMatch) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"x.patx.gz1", "x.patx.gz"},
        {"x.PAT.x", "x.PAT"},
        {"a.PAT_backup", "a.PAT"},
        {"a.pat.gz.old", "a.pat.gz"},
        // ".PATX" ends the text exactly, so the shorter ".PAT" wins with its earlier occurrence
        {"b.patx", "b.pat"},
        {"plain", "plain"},
        {"", ""},
    };
    for (const auto& [in, out] : cases)
        EXPECT_EQ(truncate_after_substring(in, VALID_PATTERN_EXTENSIONS), out) << in;
}

TEST(PatternNames, GetPatPathKeepsFullExtensionsAndCutsTheRest) {
    Quorvin q;
    EXPECT_EQ(q.get_pat_path("a.pat.gz"), std::vector<std::string>{"a.pat.gz"});
    EXPECT_EQ(q.get_pat_path("dir\\A.PATX"), std::vector<std::string>{"dir\\A.PATX"});
    EXPECT_EQ(q.get_pat_path("a.PAT_backup"), std::vector<std::string>{"a.PAT"});
    EXPECT_EQ(q.get_pat_path("a.pat.gz.old"), std::vector<std::string>{"a.pat.gz"});
    try {
        q.get_pat_path("no_such_set");
        FAIL() << "expected an error";
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(), "Error: Patset found item without pattern definition: no_such_set");
    }
    EXPECT_TRUE(contains_any_substring("x.PAT", VALID_PATTERN_EXTENSIONS));
    EXPECT_FALSE(contains_any_substring("x.pat", VALID_PATTERN_EXTENSIONS));  // case counts
}

TEST(PatternNames, PatternPathJoinsFolderAndSheetName) {
    EXPECT_EQ(detail::join_pattern_path("D:\\prog\\patterns", ".\\patterns\\func\\a.PAT"),
              "D:/prog/patterns/func/a.PAT");
    EXPECT_EQ(detail::join_pattern_path("/work/prog/patterns", "./patterns/a.PAT"),
              "/work/prog/patterns/a.PAT");
}

TEST(PatternNames, ListingLinesNeedTabNameOneOrTwoBlanksAndOneDigit) {
    EXPECT_EQ(detail::parse_tset_listing("Time sets:\n\tTS_FAST 1\n\tTS_SLOW  2\n"),
              (std::vector<std::string>{"TS_FAST", "TS_SLOW"}));
    EXPECT_TRUE(detail::parse_tset_listing("\tTS_A   1\n\tTS_B 12\n\tTS_C 1").empty());
}

TEST(PlatformName, MatchedWithoutCaseAndOnlyWhole) {
    EXPECT_EQ(igxl::parse_platform("ultraflexPLUS"), igxl::Platform::UltraFLEXplus);
    EXPECT_EQ(igxl::parse_platform("j750"), igxl::Platform::J750);
    EXPECT_EQ(igxl::parse_platform("UltraFLEX"), igxl::Platform::UltraFLEX);
    // Text that merely contains a name is no platform (it used to pick the UltraFLEX layout).
    EXPECT_FALSE(igxl::parse_platform("UltraFLEX2"));
    EXPECT_FALSE(igxl::parse_platform("J750Ex"));
    EXPECT_FALSE(igxl::parse_platform(""));
    EXPECT_EQ(igxl::platform_names(), "UltraFLEX, UltraFLEXplus, J750");
    for (const auto& l : igxl::kPlatformLayouts) {
        EXPECT_EQ(igxl::layout_of(l.platform).name, l.name);  // the table is indexed by platform
        EXPECT_EQ(igxl::parse_platform(l.name), l.platform);
    }
}

TEST(FlowRow, LayoutFollowsPlatformAndShortRowsReadEmpty) {
    std::vector<std::string> cells(20);
    for (size_t i = 0; i < cells.size(); ++i) cells[i] = "f" + std::to_string(i);
    std::vector<std::string_view> row(cells.begin(), cells.end());

    FlowEntry uf = get_flow_content(row, igxl::Platform::UltraFLEXplus);
    EXPECT_EQ(uf.fields()[0].second, "f6");
    EXPECT_EQ(uf.Parameter, "F7");
    EXPECT_EQ(uf.TestNumber, "f9");
    EXPECT_EQ(uf.HardBin, "f16");
    EXPECT_EQ(uf.SortBin, "f18");
    EXPECT_EQ(uf.Result, "f19");
    FlowEntry j = get_flow_content(row, igxl::Platform::J750);
    EXPECT_EQ(j.HardBin, "f11");
    EXPECT_EQ(j.SortBin, "f13");
    EXPECT_EQ(j.Result, "f14");

    // wider than 8 fields but narrower than the UltraFLEX layout: missing bins read empty
    row.resize(12);
    FlowEntry narrow = get_flow_content(row, igxl::Platform::UltraFLEX);
    EXPECT_EQ(narrow.TestNumber, "f9");
    EXPECT_EQ(narrow.HardBin, "");
    EXPECT_EQ(narrow.Result, "");
    // 8 fields or fewer: opcode and parameter only
    row.resize(8);
    EXPECT_EQ(get_flow_content(row, igxl::Platform::J750).TestNumber, "");
    row.resize(3);
    EXPECT_EQ(get_flow_content(row, igxl::Platform::J750), FlowEntry{});
}

TEST(FlowRow, TextFormListsKeysInOrder) {
    FlowEntry e{"Test", "TP'1", "10", "1", "2", "Fail"};
    EXPECT_EQ(e.to_text(),
              "{'Opcode': 'Test', 'Parameter': 'TP\\'1', 'TestNumber': '10', 'HardBin': '1', "
              "'SortBin': '2', 'Result': 'Fail'}");
    e.write_row_start = 4;
    EXPECT_TRUE(e.to_text().ends_with(", 'write_row_start': 4}"));
}

// Rows are views into their list: every text must come back as given across row and text block
// boundaries (a field longer than any block included), after the list is moved, and a file named
// again must get its first index.
TEST(FlowRow, ListKeepsEveryTextAcrossBlocksAndMoves) {
    FlowRowList list;
    std::vector<std::string> params;
    const std::string huge(300'000, 'x');
    for (unsigned i = 0; i < 1000; ++i) {
        params.push_back("TEST_" + std::to_string(i));
        FlowRowFields f;
        f.file = i % 3 == 0 ? "dir/Main.txt" : "dir/Sub.txt";
        f.line = i + 5;
        f.Opcode = i % 7 == 0 ? "Use-Limit" : "Test";
        f.Parameter = params.back();
        f.TestName = i == 500 ? std::string_view(huge) : std::string_view();
        f.Units = i % 2 ? "mV" : "";
        f.Part = "P";
        f.conditional = i % 5 == 0;
        list.push_back(f);
    }
    EXPECT_EQ(list.file_count(), 2u);
    EXPECT_EQ(list.file_index("dir/Sub.txt"), 1u);
    const FlowRowList moved = std::move(list);
    ASSERT_EQ(moved.size(), 1000u);
    size_t count = 0;
    for (const FlowRow& r : moved) {
        const unsigned i = static_cast<unsigned>(count++);
        SCOPED_TRACE(i);
        EXPECT_EQ(r.file(), i % 3 == 0 ? "dir/Main.txt" : "dir/Sub.txt");
        EXPECT_EQ(r.file_index(), i % 3 == 0 ? 0u : 1u);
        EXPECT_EQ(r.line, i + 5);
        EXPECT_EQ(r.Opcode(), i % 7 == 0 ? "Use-Limit" : "Test");
        EXPECT_EQ(r.Parameter(), params[i]);
        EXPECT_EQ(r.TestName().size(), i == 500 ? huge.size() : 0u);
        EXPECT_EQ(r.Units(), i % 2 ? "mV" : "");
        EXPECT_EQ(r.Part(), "P");
        EXPECT_TRUE(r.HardBin().empty() && r.SortBin().empty() && r.Result().empty() && r.Job().empty());
        EXPECT_EQ(r.conditional, i % 5 == 0);
    }
    EXPECT_EQ(count, 1000u);
    EXPECT_EQ(moved.back().Parameter(), "TEST_999");
    EXPECT_EQ(moved[500].TestName(), huge);
}

class ListingFile : public testing::Test {
protected:
    // One file per test: ctest runs the tests of this suite side by side.
    std::string path = testing::TempDir() + "pflow_listing_" +
                       testing::UnitTest::GetInstance()->current_test_info()->name() + ".txt";
    void write(const std::string& text) { std::ofstream(path) << text; }
    void TearDown() override { std::filesystem::remove(path); }
};

TEST_F(ListingFile, CycleCountAddsRepeatsTimesHexCyclesAndVectorCount) {
    write("Header\nNumber of pattern vectors: 7\n"
          "1 0x00000010 x repeat = 3\n"  // 3 * 16
          "2 0000000a y repeat = 2\n"    // 2 * 10
          "3 12 z repeat = 5\n"          // not a cycle column: counts as 0
          "text line\n");
    Quorvin q;
    q.get_pattern_cycle_info()["PS_A"] = 1;
    q.read_pattern_file(path, "ps_a");
    EXPECT_EQ(q.get_pattern_cycle_info()["PS_A"], 1 + 48 + 20 + 7);
}

TEST_F(ListingFile, BadListingLinesAndUnknownSetsFail) {
    Quorvin q;
    q.get_pattern_cycle_info()["PS_A"] = 0;
    write("1 0x00000010 no repeat here\n");
    EXPECT_THROW(q.read_pattern_file(path, "PS_A"), Error);
    write("1 0000zz repeat = 1\n");
    EXPECT_THROW(q.read_pattern_file(path, "PS_A"), Error);
    write("\n");
    EXPECT_THROW(q.read_pattern_file(path, "PS_UNKNOWN"), Error);
    EXPECT_EQ(q.get_pattern_cycle_info()["PS_A"], 0);
}

}  // namespace
