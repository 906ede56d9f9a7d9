// The demo program generator: deterministic, the workbook holds the text files' cells, and
// every sheet reader of the check accepts what it writes, for both platform layouts.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "parsers/flow_table.h"
#include "parsers/job_list.h"
#include "parsers/pattern_sets.h"
#include "parsers/pin_levels.h"
#include "parsers/spec_sheets.h"
#include "parsers/test_instances.h"
#include "parsers/time_sets.h"
#include "tools/demo_gen/demo_program.h"
#include "util/text.h"
#include "tests/support/platform.h"

namespace fs = std::filesystem;
using namespace igxl;

using igxl::test_support::to_platform;

namespace {

fs::path scratch(const std::string& name) {
    fs::path p = fs::temp_directory_path() /
                 ("igxl_demo_" + std::to_string(::getpid()) + "_" + name);
    fs::remove_all(p);
    return p;
}

std::string slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

demo::DemoStats generate(const fs::path& dir, const std::string& platform, uint64_t seed = 7,
                         unsigned size = 1) {
    demo::DemoOptions o;
    o.out_dir = dir.string();
    o.platform = platform;
    o.seed = seed;
    o.size = size;
    return demo::generate_demo_program(o);
}

TEST(DemoProgram, SameSeedSameFilesOtherSeedOtherChoices) {
    fs::path a = scratch("a"), b = scratch("b"), c = scratch("c");
    generate(a, "UltraFLEX", 11);
    generate(b, "UltraFLEX", 11);
    generate(c, "UltraFLEX", 12);
    size_t files = 0;
    for (const auto& e : fs::recursive_directory_iterator(a)) {
        if (!e.is_regular_file() || e.path().extension() == ".xlsm") continue;
        fs::path rel = fs::relative(e.path(), a);
        EXPECT_EQ(slurp(e.path()), slurp(b / rel)) << rel;
        ++files;
    }
    EXPECT_GT(files, 30u);
    EXPECT_NE(slurp(a / "PatSets_Func.txt"), slurp(c / "PatSets_Func.txt"));
    for (const auto& d : {a, b, c}) fs::remove_all(d);
}

TEST(DemoProgram, WorkbookHoldsTheTextFilesCells) {
    if (std::system("/usr/bin/python3 -c 'import openpyxl' 2>/dev/null") != 0) {
        GTEST_SKIP() << "python3-openpyxl is not installed";
    }
    for (const char* platform : {"UltraFLEX", "J750"}) {
        fs::path dir = scratch(std::string("xlsm_") + platform);
        generate(dir, platform);
        std::string cmd = "/usr/bin/python3 '" IGXL_SOURCE_DIR "/tests/parsers_levels/xlsm_cells.py' '" +
                          dir.string() + "' '" + (dir / demo::kWorkbookName).string() + "'";
        EXPECT_EQ(std::system(cmd.c_str()), 0) << platform;
        fs::remove_all(dir);
    }
}

TEST(DemoProgram, SizeScalesRows) {
    fs::path small = scratch("s1"), large = scratch("s8");
    auto s1 = generate(small, "UltraFLEX", 1, 1);
    demo::DemoOptions o;
    o.out_dir = large.string();
    o.size = 8;
    o.write_workbook = false;
    auto s8 = demo::generate_demo_program(o);
    EXPECT_GT(s1.tests, 20u);
    EXPECT_LT(s1.tests, 100u);
    EXPECT_GT(s8.rows, 3 * s1.rows);
    EXPECT_FALSE(fs::exists(large / demo::kWorkbookName));
    fs::remove_all(small);
    fs::remove_all(large);
}

// Reads the generated program the way the check walks a job, with every reader.
class DemoWithAllReaders : public ::testing::TestWithParam<std::string> {};

TEST_P(DemoWithAllReaders, EveryJobResolves) {
    const std::string platform = GetParam();
    const igxl::Platform layout = to_platform(platform);
    fs::path dir = scratch("walk_" + platform);
    generate(dir, platform);
    const std::string d = dir.string();
    set_patinfo_program(IGXL_BINARY_DIR "/bin/patinfo");

    Kestine jobs;
    jobs.read_job_list(d + "/Job List.txt");
    auto& job_map = jobs.get_test_job_list_info();
    ASSERT_EQ(job_map.size(), 3u);

    std::set<std::string> warned_tsets;
    for (auto& [job, rec] : job_map) {
        SCOPED_TRACE(job);
        Fennick flow;
        flow.read_flow_table(util::replace_all(d + "/" + rec.FlowTable + ".txt", " ", "%20"), layout);
        auto& entries = flow.get_test_suite_info();

        Quorvin sets;
        for (const auto& ps : rec.PatternSet) {
            sets.read_pattern_set(util::replace_all(d + "/" + ps + ".txt", " ", "%20"), d + "/patterns",
                                  layout);
        }
        PatternSetMap resolved = sets.get_pattern_set_info();
        EXPECT_EQ(resolved.at("PS_JTAG_ALL").size(), 3u);  // nested sets resolved

        Delmora inst;
        for (const auto& ti : rec.TestInstanceList) {
            inst.read_test_instance(util::replace_all(d + "/" + ti + ".txt", " ", "%20"), resolved,
                                    layout);
        }
        auto& instances = inst.get_instance_info();

        Vexdon dc;
        dc.read_dc_spec(d + "/" + util::replace_all(rec.DCSpec, " ", "%20") + ".txt", layout);
        Ulmara ac;
        ac.read_ac_spec(d + "/" + rec.ACSpec + ".txt", layout);
        ParseGlobalSpec glob;
        glob.read_spec(d + "/" + rec.GlobalSpec + ".txt", layout);
        EXPECT_EQ(glob.get_info().at("VIO_NOM"), "3.3");
        const bool v30 = dc.get_spec_version() == "3.0";
        EXPECT_EQ(v30, igxl::layout_of(layout).ultraflex_family && job != "QA_Low");

        size_t tests = 0, sub_tests = 0;
        for (const auto& e : entries) {
            if (e.Opcode == "nop") continue;  // section banner
            ++tests;
            if (util::contains(e.Parameter, "COMMON_")) ++sub_tests;
            EXPECT_FALSE(e.HardBin.empty()) << e.Parameter;  // from a Use-Limit row when needed
            EXPECT_FALSE(e.SortBin.empty()) << e.Parameter;
            auto it = instances.find(e.Parameter);
            ASSERT_NE(it, instances.end()) << e.Parameter;
            for (const auto& r : it->second) {
                if (!r.DCCategory().empty()) {
                    ParsePinLevel lv;
                    lv.read_pin_level(d + "/" + std::string(r.PinLevel()) + ".txt");
                    for (const auto& [pin, expr] : lv.get_pin_level_info()) {
                        EXPECT_EQ(lv.get_pin_clamp_info().count(pin), 1u) << pin;
                    }
                    EXPECT_EQ(lv.get_pin_level_info().at("VDD_CORE").rfind("_VDD_CORE_LVL", 0), 0u);
                    // The category and the selector of the record find the supply's value.
                    const auto& sym = dc.get_dc_info().at("VDD_CORE_LVL");
                    std::string sel(v30 ? sym.at("SELECTORS " + util::to_upper(r.DCSelector()))
                                        : sym.at("SELECTOR VAL"));
                    EXPECT_TRUE(sym.contains(util::to_upper(r.DCCategory()) + " " + sel));
                }
                if (r.Pattern().empty() || r.TimeSet().empty()) continue;
                ParseTIM tim;
                tim.read_timing(d + "/" + std::string(r.TimeSet()) + ".txt", layout);
                for (const auto& pat : util::split(r.Pattern(), ',')) {
                    Quorvin q;
                    q.read_tset_from_pattern(d + "/patterns", std::string(pat));
                    auto& used = q.get_pattern_tset();
                    ASSERT_FALSE(used.empty()) << pat;
                    EXPECT_NE(used[0], PATTERN_MISSING_TEXT) << pat;
                    for (const auto& t : used) {
                        const std::string T = util::to_upper(t);
                        if (!tim.get_timing_info().count(T)) {
                            warned_tsets.insert(T);
                            continue;
                        }
                        EXPECT_FALSE(tim.get_timing_info().at(T).empty());
                    }
                }
                const auto& clocks = tim.get_clk_info();
                EXPECT_FALSE(clocks.at(r.TimeSet() == "TSB_Scan" ? "TS_SCAN_CAP" : "TS_FUNC").empty());
            }
        }
        EXPECT_GE(tests, 15u);
        EXPECT_EQ(sub_tests, 4u);  // the called sub-flow, expanded in place
    }
    // Only the one legacy pattern names a time set the sheets lack.
    EXPECT_EQ(warned_tsets, std::set<std::string>{"TS_LEGACY"});
    fs::remove_all(dir);
}

INSTANTIATE_TEST_SUITE_P(Platforms, DemoWithAllReaders,
                         ::testing::Values("UltraFLEX", "UltraFLEXplus", "J750"));

}  // namespace
