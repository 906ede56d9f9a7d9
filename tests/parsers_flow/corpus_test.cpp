// Real sheet exports written by other tools: every flow table, instance sheet and pattern set
// sheet must read, and what can be seen in them must come out.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "parsers/flow_table.h"
#include "parsers/pattern_sets.h"
#include "parsers/test_instances.h"
#include "tests/support/shared_data.h"
#include "util/text.h"
#include "tests/support/platform.h"

namespace fs = std::filesystem;
using namespace igxl;

using igxl::test_support::to_platform;

namespace {

const std::string CORPUS = IGXL_SHARED_DIR "/corpus/igxl/";
const std::string ORIGEN = CORPUS + "origen-testers-generated/approved/";
const std::string CSRA = CORPUS + "teradyne-csra-demo/Demo/ASCIIProgram/";

std::string platform_of(const fs::path& p) {
    return p.parent_path().filename().string().starts_with("j750") ? "J750" : "UltraFLEX";
}

std::vector<fs::path> corpus_files(const std::string& suffix) {
    std::vector<fs::path> out;
    if (!fs::exists(CORPUS)) return out;
    for (const auto& e : fs::recursive_directory_iterator(CORPUS)) {
        const std::string name = e.path().filename().string();
        if (e.is_regular_file() && (name.ends_with(suffix) ||
                                    (suffix == "_flow.txt" && name.starts_with("Subflow_"))))
            out.push_back(e.path());
    }
    std::sort(out.begin(), out.end());
    return out;
}

TEST(FlowReadersCorpus, EveryFlowTableReads) {
    // Test rows counted by hand in the exports (no flow of the corpus calls another).
    const std::map<std::string, size_t> expected = {
        {"j750/prb1_flow.txt", 110},          {"j750/flow_control_flow.txt", 180},
        {"ultraflex/prb1_flow.txt", 110},     {"ultraflex/flow_control_flow.txt", 172},
        {"ultraflex/test_flow.txt", 12},      {"j750/custom_tests_flow.txt", 0},
        {"spCS/Subflow_CS.txt", 43},          {"spCSRA/Subflow_CSRA.txt", 44},
        {"spVBT/Subflow_VBT.txt", 43},
    };
    IGXL_REQUIRE_SHARED(CORPUS);
    auto files = corpus_files("_flow.txt");
    size_t checked = 0;
    for (const auto& f : files) {
        Fennick flow;  // its warnings go nowhere: they are not what is tested here
        EXPECT_NO_THROW(flow.read_flow_table(f.string(), to_platform(platform_of(f)))) << f;
        const std::string key = f.parent_path().filename().string() + "/" + f.filename().string();
        if (auto it = expected.find(key); it != expected.end()) {
            EXPECT_EQ(flow.get_test_suite_info().size(), it->second) << key;
            ++checked;
        }
    }
    EXPECT_EQ(checked, expected.size());
}

TEST(FlowReadersCorpus, FlowEntriesTakeBinsFromTheirLayout) {
    IGXL_REQUIRE_SHARED(CORPUS);
    Fennick uflex;
    uflex.read_flow_table(ORIGEN + "ultraflex/prb1_flow.txt", igxl::Platform::UltraFLEX);
    Fennick j750;
    j750.read_flow_table(ORIGEN + "j750/prb1_flow.txt", igxl::Platform::J750);
    Fennick csra;
    csra.read_flow_table(CSRA + "spCS/Subflow_CS.txt", igxl::Platform::UltraFLEXplus);

    const FlowEntry want{"Test", "PROGRAM_CKBD_V1", "1000", "100", "1100", "Fail"};
    EXPECT_EQ(uflex.get_test_suite_info().at(0), want);
    EXPECT_EQ(j750.get_test_suite_info().at(0), want);
    // the banner "nop" row comes first; the first test keeps its own bins (its Use-Limit row
    // carries limits only)
    const auto& cs = csra.get_test_suite_info();
    EXPECT_EQ(cs.at(0).Opcode, "nop");
    EXPECT_EQ(cs.at(1), (FlowEntry{"Test", "CONTINUITY_PARAMETRIC_PARALLEL", "100000", "3", "3",
                                   "Fail"}));
}

TEST(FlowReadersCorpus, PatternSetSheetsResolve) {
    IGXL_REQUIRE_SHARED(CORPUS);
    auto files = corpus_files("_patsets.txt");
    for (const auto& f : files) {
        Quorvin sets;
        EXPECT_NO_THROW(sets.read_pattern_set(f.string(), "", to_platform(platform_of(f)))) << f;
        PatternSetMap resolved;
        EXPECT_NO_THROW(resolved = sets.get_pattern_set_info()) << f;
        EXPECT_FALSE(resolved.empty()) << f;
        for (const auto& [name, patterns] : resolved)
            for (const auto& p : patterns) EXPECT_TRUE(util::to_upper(p).ends_with(".PAT")) << f << " " << name << " " << p;
    }
    Quorvin uflex;
    uflex.read_pattern_set(ORIGEN + "ultraflex/prb1_patsets.txt", "", igxl::Platform::UltraFLEX);
    EXPECT_EQ(uflex.get_pattern_set_version(), "2.1");
    EXPECT_EQ(uflex.get_pattern_set_info().at("ANOTHER_NOT_P1_OR_P2_TEST_PSET"),
              (std::vector<std::string>{"another_not_p1_or_p2_test.PAT", "nvm_global_subs.PAT"}));
    Quorvin j750;
    j750.read_pattern_set(ORIGEN + "j750/prb1_patsets.txt", "", igxl::Platform::J750);
    EXPECT_EQ(j750.get_pattern_set_version(), "1.1");
    EXPECT_EQ(j750.get_pattern_set_info().at("BITCELL_IV_0_PSET"),
              (std::vector<std::string>{"bitcell_iv_0.PAT", "nvm_global_subs.PAT"}));
}

TEST(FlowReadersCorpus, InstanceSheetsRead) {
    struct Case {
        std::string sheet, patsets, platform;
        size_t names, records;
    };
    const std::vector<Case> cases = {
        {ORIGEN + "j750/prb1_instances.txt", ORIGEN + "j750/prb1_patsets.txt", "J750", 42, 46},
        {ORIGEN + "j750/flow_control_instances.txt", ORIGEN + "j750/flow_control_patsets.txt", "J750", 54, 54},
        {ORIGEN + "ultraflex/prb1_instances.txt", ORIGEN + "ultraflex/prb1_patsets.txt", "UltraFLEX", 31, 35},
        {ORIGEN + "ultraflex/global_instances.txt", ORIGEN + "ultraflex/global_patsets.txt", "UltraFLEX", 8, 8},
        {CSRA + "spVBT/Test Instances VBT.txt", "", "UltraFLEXplus", 10, 11},
    };
    IGXL_REQUIRE_SHARED(CORPUS);
    for (const auto& c : cases) {
        PatternSetMap resolved;
        if (!c.patsets.empty()) {
            Quorvin sets;
            sets.read_pattern_set(c.patsets, "", to_platform(c.platform));
            resolved = sets.get_pattern_set_info();
        }
        Delmora inst;
        ASSERT_NO_THROW(inst.read_test_instance(c.sheet, resolved, to_platform(c.platform))) << c.sheet;
        size_t records = 0;
        for (const auto& [name, list] : inst.get_instance_info()) records += list.size();
        EXPECT_EQ(inst.get_instance_info().size(), c.names) << c.sheet;
        EXPECT_EQ(records, c.records) << c.sheet;
    }

    Quorvin sets;
    sets.read_pattern_set(ORIGEN + "ultraflex/prb1_patsets.txt", "", igxl::Platform::UltraFLEX);
    Delmora uflex;
    uflex.read_test_instance(ORIGEN + "ultraflex/prb1_instances.txt", sets.get_pattern_set_info(),
                             igxl::Platform::UltraFLEX);
    const auto records = uflex.get_instance_info().at("ANOTHER_NOT_P1_OR_P2_TEST");
    ASSERT_FALSE(records.empty());
    const InstanceRecord& r = records[0];
    EXPECT_EQ(r.Method(), "Functional_T");
    EXPECT_EQ(r.Pattern(), "another_not_p1_or_p2_test.PAT,nvm_global_subs.PAT");
    EXPECT_TRUE(r.ArgList().starts_with("Patterns,StartOfBodyF,"));
    EXPECT_EQ(r.ArgDetails().at(0), "another_not_p1_or_p2_test_pset");
}

}  // namespace
