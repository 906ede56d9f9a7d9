// Real sheet exports written by other tools: every sheet of a kind these readers handle must
// read without error, and what can be seen in the files must come out.
#include <gtest/gtest.h>

#include <string>

#include "parsers/pin_levels.h"
#include "parsers/spec_sheets.h"
#include "parsers/time_sets.h"
#include "tests/support/shared_data.h"

using namespace igxl;

namespace {

const std::string kVendor =
    IGXL_SHARED_DIR "/corpus/igxl/teradyne-csra-demo/Demo/ASCIIProgram/common/";
const std::string kOrigen = IGXL_SHARED_DIR "/corpus/igxl/origen-testers-generated/approved/ultraflex/";

TEST(VendorCorpus, TimeSetSheets) {
    IGXL_REQUIRE_SHARED(kVendor);
    ParseTIM p;
    p.read_timing(kVendor + "TSB_Func.txt", igxl::Platform::UltraFLEX);
    EXPECT_EQ(p.get_timing_info().size(), 2u);
    EXPECT_EQ(p.get_timing_info().at("TIME_FUNC"), "500*NS");
    EXPECT_EQ(p.get_timing_info().at("SCAN_TS"), "500*NS");
    for (const char* f : {"TSB_Icc.txt", "TSB_pop.txt", "TSB_spec.txt", "TSB_specTool.txt"}) {
        ParseTIM q;
        ASSERT_NO_THROW(q.read_timing(kVendor + f, igxl::Platform::UltraFLEXplus)) << f;
        EXPECT_FALSE(q.get_timing_info().empty()) << f;
        EXPECT_EQ(q.get_timing_info().size(), q.get_clk_info().size()) << f;
    }
}

TEST(VendorCorpus, PinLevelSheets) {
    IGXL_REQUIRE_SHARED(kVendor);
    ParsePinLevel p;
    p.read_pin_level(kVendor + "Levels_Func.txt");
    ASSERT_EQ(p.get_pin_level_info().size(), 1u);
    EXPECT_EQ(p.get_pin_level_info().at("VCC"), "5.5");
    EXPECT_EQ(p.get_pin_clamp_info().at("VCC"), "100*MA");
    for (const char* f : {"Levels_Icc.txt", "Levels_Spec.txt", "Levels_Zero.txt"}) {
        ParsePinLevel q;
        ASSERT_NO_THROW(q.read_pin_level(kVendor + f)) << f;
        EXPECT_EQ(q.get_pin_level_info().count("VCC"), 1u) << f;
    }
}

TEST(VendorCorpus, SpecSheets) {
    IGXL_REQUIRE_SHARED(kVendor);
    Vexdon dc;
    dc.read_dc_spec(kVendor + "DC%20Specs.txt", igxl::Platform::UltraFLEX);
    EXPECT_EQ(dc.get_spec_version(), "3.0");
    auto& d = dc.get_dc_info();
    EXPECT_EQ(d.size(), 10u);
    EXPECT_EQ(d.at("VCC_VALUE").at("SELECTORS VCC_NOM"), "TYP");
    EXPECT_EQ(d.at("VCC_VALUE").at("COMMERCIAL MAX"), "5.5");
    EXPECT_EQ(d.at("ICC_OUTPUT_HIGH").at("COMMERCIAL MAX"), "=65*MA");
    EXPECT_EQ(d.at("SAMPLE_TIME").at("ZERO_SPEC TYP"), "0");

    Ulmara ac;
    ac.read_ac_spec(kVendor + "AC Specs.txt", igxl::Platform::UltraFLEX);
    EXPECT_EQ(ac.get_ac_info().size(), 9u);
    EXPECT_EQ(ac.get_ac_info().at("TPLH").at("COMMERCIAL MAX"), "=10*NS+5*NS");
    EXPECT_EQ(ac.get_ac_info().at("PERIOD1").at("SELECTORS MAX_AC"), "MAX");

    ParseGlobalSpec g;
    g.read_spec(kVendor + "Global Specs.txt", igxl::Platform::UltraFLEX);
    EXPECT_EQ(g.get_info().size(), 5u);
    EXPECT_EQ(g.get_info().begin()->first, "VCL_DEFAULT");
    EXPECT_EQ(g.get_info().at("GL_TDELAY"), "0.005");
}

// A generator's sheets: rows of uneven length, empty lines in the header area.
TEST(GeneratedCorpus, UnevenRows) {
    IGXL_REQUIRE_SHARED(kOrigen);
    ParseTIM t;
    t.read_timing(kOrigen + "TS_func.txt", igxl::Platform::UltraFLEX);
    t.read_timing(kOrigen + "func_tsb.txt", igxl::Platform::UltraFLEX);
    EXPECT_EQ(t.get_timing_info().at("JTAG"), "_CYCLE");
    EXPECT_EQ(t.get_clk_info().at("JTAG").at("tclk"), "_MCG_CYCLE");
    EXPECT_TRUE(t.get_clk_info().at("DEFAULT").empty());

    ParsePinLevel l;
    l.read_pin_level(kOrigen + "LV_func.txt");
    EXPECT_EQ(l.get_pin_level_info().at("VDD1"), "_VDD_MAIN_VAL");
    EXPECT_EQ(l.get_pin_clamp_info().at("VDD2"), "_FOLD_VAL");

    Vexdon dc;
    dc.read_dc_spec(kOrigen + "SpecsDC_func.txt", igxl::Platform::UltraFLEX);
    EXPECT_EQ(dc.get_spec_version(), "2.0");
    EXPECT_EQ(dc.get_dc_info().at("VDD_MAIN_VAL").at("SELECTOR VAL"), "MAX");
    EXPECT_EQ(dc.get_dc_info().at("VDD_MAIN_VAL").at("POWER_DOWN_LEVELS MIN"), "=0.1*V");

    Ulmara ac;
    ac.read_ac_spec(kOrigen + "SpecsAC_func.txt", igxl::Platform::UltraFLEX);
    EXPECT_EQ(ac.get_ac_info().at("CYCLE").at("FUNC_125MHZ TYP"), "=8*NS");

    ParseGlobalSpec g;
    g.read_spec(kOrigen + "SpecsGlobal.txt", igxl::Platform::UltraFLEX);
    EXPECT_EQ(g.get_info().at("SPEC4"), "=20");
    EXPECT_EQ(g.get_info().at("VCL_DEFAULT"), "-1");
}

}  // namespace
