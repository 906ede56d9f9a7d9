#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "parsers/job_list.h"
#include "tests/support/shared_data.h"
#include "util/error.h"

namespace fs = std::filesystem;
using igxl::Kestine;
namespace diag = igxl::diag;

namespace {
const char* kHead =
    "DTJobListSheet,version=2.2:platform=Jaguar:toprow=-1:leftcol=-1:rightcol=-1\tJob List\n"
    "\n"
    "\t\tSheet Parameters\n"
    "\tJob Name\tPin Map\tTest Instances\tFlow Table\tAC Specs\tDC Specs\tPattern Sets\tPattern Groups\n";

std::string write_sheet(const std::string& name, const std::string& body) {
    auto dir = fs::temp_directory_path() / "igxl_job_list_test";
    fs::create_directories(dir);
    auto p = dir / name;
    std::ofstream(p, std::ios::binary) << body;
    return p.string();
}
}  // namespace

TEST(Kestine, ReadsJobRowsInOrderWithSplitLists) {
    auto p = write_sheet("jobs.txt",
                         std::string(kHead) +
                             "\tFT\tPins\tTI_main,TI_sub\tFlow_FT\tAC Specs\tDC Specs\t\t\n"
                             "\t\tPins\tTI_x\tFlow_x\tA\tD\tP\t\n"  // no job name: ignored
                             "\tCP\tPins\tTI_cp\tFlow_CP\tAC2\tDC2\tPS1, PS2\t\n");
    Kestine k;
    k.read_job_list(p);
    auto& jobs = k.get_test_job_list_info();
    ASSERT_EQ(jobs.size(), 2u);
    auto it = jobs.begin();
    EXPECT_EQ(it->first, "FT");
    const auto& ft = it->second;
    EXPECT_EQ(ft.TestInstanceList, (std::vector<std::string>{"TI_main", "TI_sub"}));
    EXPECT_EQ(ft.FlowTable, "Flow_FT");
    EXPECT_EQ(ft.ACSpec, "AC Specs");
    EXPECT_EQ(ft.DCSpec, "DC Specs");
    EXPECT_EQ(ft.PatternSet, (std::vector<std::string>{""}));
    EXPECT_EQ(ft.GlobalSpec, "Global Specs");
    const auto& cp = (++it)->second;
    EXPECT_EQ(cp.PatternSet, (std::vector<std::string>{"PS1", " PS2"}));
    EXPECT_EQ(cp.ACSpec, "AC2");
    EXPECT_EQ(cp.DCSpec, "DC2");
}

TEST(Kestine, RepeatedJobKeepsFirstPositionWithLastRecord) {
    auto p = write_sheet("dup.txt", std::string(kHead) +
                                        "\tJ1\t\tA\tF1\tac\tdc\tp\n"
                                        "\tJ2\t\tB\tF2\tac\tdc\tp\n"
                                        "\tJ1\t\tC\tF3\tac\tdc\tp\n");
    Kestine k;
    k.read_job_list(p);
    auto& jobs = k.get_test_job_list_info();
    ASSERT_EQ(jobs.size(), 2u);
    EXPECT_EQ(jobs.begin()->first, "J1");
    EXPECT_EQ(jobs.begin()->second.FlowTable, "F3");
    // The last field never carries the line break, whatever the line ends were.
    EXPECT_EQ(jobs.begin()->second.PatternSet, (std::vector<std::string>{"p"}));
}

TEST(Kestine, ShortRowsWarnOrFailWithFileAndLine) {
    auto p = write_sheet("short.txt", std::string(kHead) + "\tJ1\tx\ty\n");
    diag::CollectingSink sink;
    Kestine k(sink);
    k.read_job_list(p);
    ASSERT_EQ(sink.events.size(), 1u);
    const diag::Event& e = sink.events[0];
    EXPECT_EQ(e.text, "Warning: No flow table found in this line: \tJ1\tx\ty\n");
    EXPECT_EQ(e.code, "job-list.no-flow-table");
    EXPECT_EQ(e.severity, diag::Severity::warning);
    EXPECT_EQ(e.channels, unsigned{diag::kConsole});
    EXPECT_EQ(e.where.file, p);
    EXPECT_EQ(e.where.line, 5u);
    EXPECT_TRUE(k.get_test_job_list_info().empty());

    auto q = write_sheet("narrow.txt", std::string(kHead) + "\tJ1\t\tA\tF1\tac\n");
    Kestine k2;
    try {
        k2.read_job_list(q);
        FAIL() << "expected a short-row error";
    } catch (const igxl::ShortRowError& e) {
        EXPECT_NE(std::string(e.what()).find("narrow.txt:5"), std::string::npos) << e.what();
    }
}

TEST(Kestine, HeaderOnlyFileAndMissingFile) {
    auto p = write_sheet("empty.txt", kHead);
    diag::CollectingSink sink;
    Kestine k(sink);
    k.read_job_list(p);
    EXPECT_TRUE(sink.events.empty());
    EXPECT_TRUE(k.get_test_job_list_info().empty());
    EXPECT_THROW(k.read_job_list("/nonexistent/jobs.txt"), igxl::FileNotFoundError);
}

TEST(Kestine, ReadsTheVendorJobSheetOfTheCorpus) {
    std::string p = std::string(IGXL_SHARED_DIR) +
                    "/corpus/igxl/origen-testers-generated/approved/ultraflex/Jobs.txt";
    IGXL_REQUIRE_SHARED(p);
    Kestine k;
    k.read_job_list(p);
    auto& jobs = k.get_test_job_list_info();
    ASSERT_EQ(jobs.size(), 2u);
    EXPECT_EQ(jobs.begin()->first, "FT");
    EXPECT_EQ(jobs.at("WT").ACSpec, "SpecsAC_func");
    EXPECT_EQ(jobs.at("WT").PatternSet.size(), 4u);
}
