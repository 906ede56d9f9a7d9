#include "check/power_clamp_table.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <utility>
#include <vector>

namespace igxl {
namespace {

using Values = std::vector<std::pair<std::string, double>>;

Values values_of(const PowerClampTable& table, const std::string& test) {
    Values out;
    const auto& run = table.tests().at(test);
    for (std::uint32_t i = 0; i < run.count; ++i) {
        const auto [pin, value] = table.value(run, i);
        out.emplace_back(table.pin_name(pin), value);
    }
    return out;
}

TEST(PowerClampTable, KeepsTestsAndPinsInOrderOfFirstUse) {
    PowerClampTable table;
    table.start("T1");
    table.set("VDD", 1.5);
    table.set("VIO", 0.2);
    table.set("VDD", 1.8);  // set again: keeps its place, takes the new value
    table.start("T2");
    table.set("VIO", 0.3);
    table.start("T3");  // a test without values stays listed

    std::vector<std::string> tests;
    for (const auto& [name, run] : table.tests()) tests.emplace_back(name);
    EXPECT_EQ(tests, (std::vector<std::string>{"T1", "T2", "T3"}));
    EXPECT_EQ(values_of(table, "T1"), (Values{{"VDD", 1.8}, {"VIO", 0.2}}));
    EXPECT_EQ(values_of(table, "T2"), (Values{{"VIO", 0.3}}));
    EXPECT_TRUE(values_of(table, "T3").empty());
    EXPECT_EQ(table.pin_count(), 2u);
}

TEST(PowerClampTable, ATestStartedAgainDropsItsValuesButKeepsItsPlace) {
    PowerClampTable table;
    table.start("T1");
    table.set("VDD", 1.0);
    table.start("T2");
    table.set("VIO", 2.0);
    table.start("T1");  // a test met again in the flow is filled anew
    table.set("VAUX", 3.0);
    table.set("VDD", 4.0);
    table.start("T2");
    table.set("VIO", 5.0);

    std::vector<std::string> tests;
    for (const auto& [name, run] : table.tests()) tests.emplace_back(name);
    EXPECT_EQ(tests, (std::vector<std::string>{"T1", "T2"}));
    EXPECT_EQ(values_of(table, "T1"), (Values{{"VAUX", 3.0}, {"VDD", 4.0}}));
    EXPECT_EQ(values_of(table, "T2"), (Values{{"VIO", 5.0}}));

    table.clear();
    EXPECT_TRUE(table.empty());
    EXPECT_EQ(table.pin_count(), 0u);
}

// Equal runs are stored once: each test must still read its own values, and a test filled
// anew must not change another's.
TEST(PowerClampTable, TestsWithEqualValuesEachKeepTheirOwn) {
    PowerClampTable table;
    table.start("A");
    table.set("VDD", 1.0);
    table.set("VIO", 2.0);
    table.start("B");  // equal to A
    table.set("VDD", 1.0);
    table.set("VIO", 2.0);
    table.start("C");  // A's pins, in another order: not equal
    table.set("VIO", 2.0);
    table.set("VDD", 1.0);
    table.start("D");  // one value apart, and 0.0 against -0.0 (not the same cell text)
    table.set("VDD", 1.0);
    table.set("VIO", 2.5);
    table.start("E");
    table.set("VDD", 0.0);
    table.start("F");
    table.set("VDD", -0.0);
    table.start("A");  // A filled anew while B may share its old values
    table.set("VDD", 9.0);
    table.start("G");  // equal to B, after A changed
    table.set("VDD", 1.0);
    table.set("VIO", 2.0);

    EXPECT_EQ(values_of(table, "A"), (Values{{"VDD", 9.0}}));
    EXPECT_EQ(values_of(table, "B"), (Values{{"VDD", 1.0}, {"VIO", 2.0}}));
    EXPECT_EQ(values_of(table, "C"), (Values{{"VIO", 2.0}, {"VDD", 1.0}}));
    EXPECT_EQ(values_of(table, "D"), (Values{{"VDD", 1.0}, {"VIO", 2.5}}));
    EXPECT_FALSE(std::signbit(values_of(table, "E")[0].second));
    EXPECT_TRUE(std::signbit(values_of(table, "F")[0].second));
    EXPECT_EQ(values_of(table, "G"), (Values{{"VDD", 1.0}, {"VIO", 2.0}}));
    std::vector<std::string> tests;
    for (const auto& [name, run] : table.tests()) tests.emplace_back(name);
    EXPECT_EQ(tests, (std::vector<std::string>{"A", "B", "C", "D", "E", "F", "G"}));
}

// The table keeps its own copies of the names, whatever their length and however many: the
// caller's strings are gone when the table is read.
TEST(PowerClampTable, NamesOutliveTheCallersStrings) {
    PowerClampTable table;
    const auto name = [](int i) { return "TEST_INSTANCE_NUMBER_" + std::to_string(i); };
    for (int i = 0; i < 10000; ++i) {
        table.start(name(i));
        if (i == 5000) table.start(std::string(70000, 'L'));  // longer than a block of names
        if (i == 7000) table.start("");
        table.set("VDD", i);
    }
    table.start(name(3));  // met again: keeps its place
    table.set("VDD", -1.0);

    ASSERT_EQ(table.tests().size(), 10002u);
    auto it = table.tests().begin();
    for (int i = 0; i < 10000; ++i, ++it) {
        ASSERT_EQ(it->first, name(i));
        if (i == 5000) {
            EXPECT_EQ((++it)->first, std::string(70000, 'L'));
        }
        if (i == 7000) {
            EXPECT_EQ((++it)->first, "");
        }
    }
    EXPECT_EQ(values_of(table, name(3)), (Values{{"VDD", -1.0}}));
    EXPECT_EQ(values_of(table, name(9999)), (Values{{"VDD", 9999.0}}));
    EXPECT_EQ(values_of(table, std::string(70000, 'L')), (Values{{"VDD", 5000.0}}));
}

}  // namespace
}  // namespace igxl
