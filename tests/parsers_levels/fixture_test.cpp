// Every folder under fixtures/<kind>/ is one case: its sheet files (read in name order into one
// reader, passed with blanks written as "%20" so the reader's retry is exercised), an optional
// "platform" file (default UltraFLEX) and "expected": the normalised maps, or a first line
// "error: <text>" naming what the read must throw, followed by the maps as left after it.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "parsers/pin_levels.h"
#include "parsers/spec_sheets.h"
#include "parsers/time_sets.h"
#include "util/error.h"
#include "util/text.h"
#include "tests/support/platform.h"

namespace fs = std::filesystem;
using namespace igxl;

using igxl::test_support::to_platform;

namespace {

const fs::path kFixtures = fs::path(IGXL_SOURCE_DIR) / "tests/parsers_levels/fixtures";

std::string slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

struct Case {
    std::vector<std::string> sheets;  // paths with blanks as "%20"
    std::string platform = "UltraFLEX";
    std::string expected;
};

Case load_case(const fs::path& dir) {
    Case c;
    std::vector<fs::path> files;
    for (const auto& e : fs::directory_iterator(dir)) {
        if (e.path().extension() == ".txt") files.push_back(e.path());
    }
    std::sort(files.begin(), files.end());
    for (const auto& f : files) c.sheets.push_back(util::replace_all(f.string(), " ", "%20"));
    if (fs::exists(dir / "platform")) c.platform = std::string(util::strip(slurp(dir / "platform")));
    c.expected = slurp(dir / "expected");
    return c;
}

std::vector<std::string> case_names(const std::string& kind) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(kFixtures / kind)) {
        if (e.is_directory()) names.push_back(e.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// Runs the reads; the text starts with the failure line when one throws.
std::string run_reads(const Case& c, const std::function<void(const std::string&)>& read) {
    std::string error;
    try {
        for (const auto& s : c.sheets) read(s);
    } catch (const Error& e) {
        // Name the file by its base name so the expectation does not depend on the checkout.
        std::string msg = e.what();
        size_t slash = msg.find_last_of("/\\", msg.find(".txt:"));
        error = "error: " + (slash == std::string::npos ? msg : msg.substr(slash + 1)) + "\n";
    }
    return error;
}

std::string dump(ParseTIM& p) {
    std::string out;
    for (const auto& [ts, period] : p.get_timing_info()) out += "period " + ts + " = " + period + "\n";
    for (const auto& [ts, clocks] : p.get_clk_info()) {
        out += "clocks " + ts + ":";
        std::string sep = " ";
        for (const auto& [key, expr] : clocks) {
            out += sep + key + "=" + expr;
            sep = "; ";
        }
        out += "\n";
    }
    return out;
}

std::string dump(ParsePinLevel& p) {
    std::string out;
    for (const auto& [pin, v] : p.get_pin_level_info()) out += "level " + pin + " = " + v + "\n";
    for (const auto& [pin, v] : p.get_pin_clamp_info()) out += "clamp " + pin + " = " + v + "\n";
    return out;
}

std::string dump(Vexdon& p) {
    std::string out = p.get_info().empty() ? "" : "version " + p.get_spec_version() + "\n";
    for (const auto& [symbol, cols] : p.get_dc_info()) {
        out += "symbol " + symbol + "\n";
        for (const auto& [key, v] : cols) out.append("  ").append(key).append(" = ").append(v).append("\n");
    }
    return out;
}

std::string dump(ParseGlobalSpec& p) {
    std::string out;
    for (const auto& [symbol, v] : p.get_info()) out += symbol + " = " + v + "\n";
    return out;
}

class TimeSetFixture : public ::testing::TestWithParam<std::string> {};
class PinLevelFixture : public ::testing::TestWithParam<std::string> {};
class DcSpecFixture : public ::testing::TestWithParam<std::string> {};
class GlobalSpecFixture : public ::testing::TestWithParam<std::string> {};

TEST_P(TimeSetFixture, ParsesAsExpected) {
    Case c = load_case(kFixtures / "time_sets" / GetParam());
    ParseTIM p;
    // A platform no layout is known for never reaches the reader: it is refused by name, and
    // nothing is recorded.
    if (!parse_platform(c.platform)) {
        EXPECT_EQ(dump(p), c.expected);
        return;
    }
    std::string got =
        run_reads(c, [&](const std::string& s) { p.read_timing(s, to_platform(c.platform)); });
    EXPECT_EQ(got + dump(p), c.expected);
}

TEST_P(PinLevelFixture, ParsesAsExpected) {
    Case c = load_case(kFixtures / "pin_levels" / GetParam());
    ParsePinLevel p;
    std::string got = run_reads(c, [&](const std::string& s) { p.read_pin_level(s); });
    EXPECT_EQ(got + dump(p), c.expected);
}

// The DC and AC readers are the same reader under other names: both must give the same maps.
TEST_P(DcSpecFixture, ParsesAsExpected) {
    Case c = load_case(kFixtures / "dc_spec" / GetParam());
    Vexdon dc;
    std::string got =
        run_reads(c, [&](const std::string& s) { dc.read_dc_spec(s, to_platform(c.platform)); });
    EXPECT_EQ(got + dump(dc), c.expected);

    Ulmara ac;
    std::string got_ac =
        run_reads(c, [&](const std::string& s) { ac.read_ac_spec(s, to_platform(c.platform)); });
    EXPECT_EQ(got_ac, got);
    EXPECT_EQ(ac.get_ac_info(), dc.get_dc_info());
    EXPECT_EQ(ac.get_spec_version(), dc.get_spec_version());
}

TEST_P(GlobalSpecFixture, ParsesAsExpected) {
    Case c = load_case(kFixtures / "global_spec" / GetParam());
    ParseGlobalSpec p;
    std::string got = run_reads(c, [&](const std::string& s) { p.read_spec(s, to_platform(c.platform)); });
    EXPECT_EQ(got + dump(p), c.expected);
}

auto name_of = [](const ::testing::TestParamInfo<std::string>& i) { return i.param; };
INSTANTIATE_TEST_SUITE_P(Fixtures, TimeSetFixture, ::testing::ValuesIn(case_names("time_sets")),
                         name_of);
INSTANTIATE_TEST_SUITE_P(Fixtures, PinLevelFixture, ::testing::ValuesIn(case_names("pin_levels")),
                         name_of);
INSTANTIATE_TEST_SUITE_P(Fixtures, DcSpecFixture, ::testing::ValuesIn(case_names("dc_spec")),
                         name_of);
INSTANTIATE_TEST_SUITE_P(Fixtures, GlobalSpecFixture,
                         ::testing::ValuesIn(case_names("global_spec")), name_of);

TEST(SpecReaders, MissingFileIsReportedAsNotFound) {
    const std::string missing = (kFixtures / "no such sheet.txt").string();
    EXPECT_THROW(Vexdon().read_dc_spec(missing, igxl::Platform::UltraFLEX), FileNotFoundError);
    EXPECT_THROW(ParseGlobalSpec().read_spec(missing, igxl::Platform::UltraFLEX), FileNotFoundError);
    EXPECT_THROW(ParseTIM().read_timing(missing, igxl::Platform::UltraFLEX), FileNotFoundError);
    EXPECT_THROW(ParsePinLevel().read_pin_level(missing), FileNotFoundError);
}

TEST(SpecReaders, GetSpecInfoUpperCasesAndPadsShortRows) {
    std::vector<std::string> keys = {"", "", "", "Cat_a Typ", "Cat_a Typ", "cat_b min"};
    std::vector<std::string_view> row = {"", "v", "", "=1*v", "=2*v"};
    SpecSymbolMap m = get_spec_info(row, keys);
    ASSERT_EQ(m.size(), 2u);
    EXPECT_EQ((*m.begin()).first, "CAT_A TYP");
    EXPECT_EQ(m.at("CAT_A TYP"), "=2*V");  // the right-most of two equal keys wins
    EXPECT_EQ(m.at("CAT_B MIN"), "");
}

// A symbol's columns by key: found, missing, in column order, and values of any length (their
// lengths are held in one or more bytes).
TEST(SpecSymbolMap, LookupsByKeyAndMissingKeys) {
    const std::string long_value(300, 'X');
    SpecSymbolMap m{{"SELECTOR VAL", "TYP"}, {"PROD TYP", long_value}, {"PROD MIN", ""}, {"PROD MAX", "=3.6"}};
    ASSERT_EQ(m.size(), 4u);
    EXPECT_EQ(m.find("PROD TYP"), std::optional<std::string_view>(long_value));
    EXPECT_EQ(m.find("PROD MIN"), std::optional<std::string_view>(""));  // empty, not missing
    EXPECT_EQ(m.at("PROD MAX"), "=3.6");
    EXPECT_FALSE(m.find("PROD NOM"));
    EXPECT_FALSE(m.contains("prod max"));  // keys are matched as held (upper case)
    EXPECT_THROW((void)m.at("PROD NOM"), std::out_of_range);
    EXPECT_FALSE(SpecSymbolMap().find("PROD TYP"));

    std::vector<std::pair<std::string, std::string>> seen;
    for (const auto& [key, value] : m) seen.emplace_back(key, value);
    EXPECT_EQ(seen, (std::vector<std::pair<std::string, std::string>>{
                        {"SELECTOR VAL", "TYP"}, {"PROD TYP", long_value}, {"PROD MIN", ""}, {"PROD MAX", "=3.6"}}));

    // A value set again keeps its column's place; a new column goes last.
    m.set("PROD TYP", "=3.3");
    m.set("PROD NOM", "=3.4");
    seen.clear();
    for (const auto& [key, value] : m) seen.emplace_back(key, value);
    EXPECT_EQ(seen, (std::vector<std::pair<std::string, std::string>>{
                        {"SELECTOR VAL", "TYP"}, {"PROD TYP", "=3.3"}, {"PROD MIN", ""}, {"PROD MAX", "=3.6"},
                        {"PROD NOM", "=3.4"}}));
}

// Symbols of one sheet share its column keys: a column added to one is not the others'.
TEST(SpecSymbolMap, ColumnAddedToOneSymbolOfASheetOnly) {
    Vexdon dc;
    dc.read_dc_spec((kFixtures / "dc_spec/v30_spanning_categories_and_selectors/DC Specs.txt").string(),
                    igxl::Platform::UltraFLEX);
    SpecMap& specs = dc.get_dc_info();
    const SpecSymbolMap vio_before = specs.at("VIO");
    specs["VDD_LVL"].set("CAT_C TYP", "7");
    specs["VDD_LVL"].set("CAT_A TYP", "8");
    EXPECT_EQ(specs.at("VDD_LVL").at("CAT_C TYP"), "7");
    EXPECT_EQ(specs.at("VDD_LVL").at("CAT_A TYP"), "8");
    EXPECT_FALSE(specs.at("VIO").contains("CAT_C TYP"));
    EXPECT_EQ(specs.at("VIO").at("CAT_A TYP"), "3.3");
    EXPECT_EQ(specs.at("VIO"), vio_before);
}

// Equal: the same columns in the same order with the same values, whoever holds the keys.
TEST(SpecSymbolMap, EqualityByColumnsInOrderAndValues) {
    const std::vector<std::string> keys = {"", "", "", "CAT TYP", "CAT MAX"};
    const std::vector<std::string_view> row = {"", "S", "", "1", "2"};
    const SpecSymbolMap read = get_spec_info(row, keys);
    EXPECT_EQ(read, (SpecSymbolMap{{"CAT TYP", "1"}, {"CAT MAX", "2"}}));
    EXPECT_NE(read, (SpecSymbolMap{{"CAT MAX", "2"}, {"CAT TYP", "1"}}));
    EXPECT_NE(read, (SpecSymbolMap{{"CAT TYP", "1"}, {"CAT MAX", "3"}}));
    EXPECT_NE(read, (SpecSymbolMap{{"CAT TYP", "1"}}));
    EXPECT_NE(read, (SpecSymbolMap{{"CAT TYP", "1"}, {"CAT MIN", "2"}}));
}

TEST(SpecReaders, LiveMapsAndVersionOfLastSheet) {
    Vexdon dc;
    EXPECT_EQ(dc.get_spec_version(), "");
    EXPECT_TRUE(dc.get_dc_info().empty());
    dc.read_dc_spec((kFixtures / "dc_spec/j750_dff_title/DC.txt").string(), igxl::Platform::J750);
    dc.read_spec((kFixtures / "dc_spec/v30_spanning_categories_and_selectors/DC Specs.txt").string(),
                 igxl::Platform::UltraFLEX);
    EXPECT_EQ(dc.get_spec_version(), "3.0");
    // Both sheets merged, in reading order; the map handed out is the reader's own.
    auto& live = dc.get_info();
    EXPECT_EQ(live.begin()->first, "VCC");
    live.erase("VCC");
    EXPECT_EQ(dc.get_dc_info().count("VCC"), 0u);
}

}  // namespace
