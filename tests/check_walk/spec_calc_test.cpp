// Spec variable substitution and unit text, through the driver's private steps.
#include <gtest/gtest.h>

#include <functional>

#include "check/arith.h"
#include "check/job_walk.h"
#include "check/vantor.h"
#include "export/common.h"
#include "util/error.h"

namespace igxl {

struct VantorTestAccess {
    // The walk of a job that is never run: its substitution over the driver's spec maps.
    static JobWalk& walk(Vantor& v) {
        if (!v.walk_) v.walk_ = std::make_unique<JobWalk>(v, "", nullptr);
        return *v.walk_;
    }
    static std::string calc(Vantor& v, const std::string& target, const SpecMap& spec,
                            const std::string& category, const std::string& selector) {
        return walk(v).spec_calculation(target, spec, category, selector);
    }
    static GlobalSpecMap& globals(Vantor& v) { return v.caches_.specs.glob_spec_dict; }
    static std::string& version(Vantor& v) { return v.caches_.specs.spec_version; }
    static SpecMap& ac(Vantor& v) { return v.caches_.specs.ac_spec_dict; }
    static Vantor::LogCallback& log(Vantor& v) { return v.text; }
};

namespace {

class SpecCalc : public ::testing::Test {
protected:
    SpecCalc() : v("./") {
        VantorTestAccess::log(v) = [this](const std::string& l) { log.push_back(l); };
        v.set_sink(sink);
    }
    GlobalSpecMap& glob() { return VantorTestAccess::globals(v); }
    std::string& version() { return VantorTestAccess::version(v); }
    std::string calc(const std::string& target, const std::string& category = "Prod",
                     const std::string& selector = "Typ") {
        return VantorTestAccess::calc(v, target, spec, category, selector);
    }
    Vantor v;
    SpecMap spec;
    std::vector<std::string> log;
    diag::CollectingSink sink;
};

TEST_F(SpecCalc, GlobalVariablesAndTargetsWithoutVariables) {
    glob()["VDD"] = "1.8*V";
    glob()["VMAIN"] = "1.0";
    glob()["VNEST"] = "_VMAIN+0.1";
    EXPECT_EQ(calc("=_VDD*1.1"), "1.8*V*1.1");
    EXPECT_EQ(calc("=10*NS"), "10*NS");
    EXPECT_EQ(calc("_VDD"), "1.8*V");
    EXPECT_EQ(calc("_VNEST"), "1.0+0.1");
    // A part with a blank is looked up without it and replaced with it.
    EXPECT_EQ(calc("1.1* _VDD"), "1.1*1.8*V");
    // Variables between operators, at both ends, inside parentheses; lower case is found.
    EXPECT_EQ(calc("(_vdd+_VMAIN)/2-_VMAIN"), "(1.8*V+1.0)/2-1.0");
    EXPECT_DOUBLE_EQ(evaluate_expression(format_str(calc("=_VDD*1.1"))), 1.8 * 1.1);
}

TEST_F(SpecCalc, CategorisedSpecsAndGlobalPrecedence) {
    spec["VCC"] = {{"SELECTOR VAL", "TYP"}, {"PROD TYP", "=3.3"}, {"PROD MAX", "=3.6"}};
    spec["VLVL"] = {{"SELECTOR VAL", "MAX"}, {"PROD MAX", "=_VCC*_VREF"}};
    glob()["VREF"] = "0.5";
    version() = "2.3";
    EXPECT_EQ(calc("_VCC"), "3.3");
    EXPECT_EQ(calc("_vcc"), "3.3");
    EXPECT_EQ(calc("=_VLVL+1", "prod"), "3.3*0.5+1");
    glob()["VCC"] = "9";
    EXPECT_EQ(calc("_VCC"), "9");
}

TEST_F(SpecCalc, Version30SelectorsAndFailedLookups) {
    version() = "3.0";
    spec["PER"] = {{"SELECTORS TYP", "TYP"}, {"SELECTORS MAX", "MAX"}, {"PROD TYP", "=10*NS"},
                   {"PROD MAX", "=20*NS"}};
    spec["OTHER"] = {{"PROD TYP", "=1"}};
    EXPECT_EQ(calc("_PER*2", "Prod", "Max"), "20*NS*2");
    EXPECT_EQ(calc("_PER*2", "Prod", "typ"), "10*NS*2");
    EXPECT_TRUE(log.empty());
    // A failed selector lookup is logged and fails that variable; the selector of the earlier
    // variable is never reused.
    EXPECT_THROW(calc("_PER+_OTHER", "Prod", "Typ"), Error);
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0], "Error: Can not Halvard variable: OTHER");
    ASSERT_EQ(sink.events.size(), 1u);
    EXPECT_EQ(sink.events[0].code, "check.spec-selector-missing");
    EXPECT_EQ(sink.events[0].severity, diag::Severity::error);
    EXPECT_EQ(sink.events[0].where.item, "OTHER");
    EXPECT_EQ(sink.events[0].channels, unsigned{diag::kLog});
    EXPECT_THROW(calc("_PER", "Test", "Typ"), Error);   // no category column
    EXPECT_THROW(calc("_NOPE", "Prod", "Typ"), Error);  // nowhere
}

TEST_F(SpecCalc, SelfReferenceIsAnErrorNotARecursion) {
    glob()["A"] = "_B+1";
    glob()["B"] = "_A*2";
    glob()["SELF"] = "_SELF";
    glob()["TWICE"] = "_C+_C";
    glob()["C"] = "1";
    try {
        calc("_A");
        FAIL() << "a cycle must fail";
    } catch (const Error& e) {
        EXPECT_NE(std::string(e.what()).find("refers to itself"), std::string::npos) << e.what();
    }
    EXPECT_THROW(calc("_SELF"), Error);
    EXPECT_EQ(calc("_TWICE"), "1+1");  // the same variable twice is no cycle
}

// Each row refers twice to the one before (L1 = _L0+1+_L0+1, ...): without reuse and bounds
// the work doubles per row and 26 rows never finish.
SpecMap doubling_sheet(int rows) {
    SpecMap sheet;
    sheet["L0"] = {{"SELECTOR VAL", "TYP"}, {"PROD TYP", "=1"}};
    for (int i = 1; i < rows; ++i) {
        const std::string prev = "_L" + std::to_string(i - 1);
        sheet["L" + std::to_string(i)] = {{"SELECTOR VAL", "TYP"},
                                          {"PROD TYP", "=" + prev + "+1+" + prev + "+1"}};
    }
    return sheet;
}

std::string failure_of(const std::function<std::string()>& calc) {
    try {
        return "no failure: " + calc();
    } catch (const Error& e) {
        return e.what();
    }
}

TEST_F(SpecCalc, DoublingSheetEndsWithValueOrErrorNamingTheVariable) {
    version() = "2.3";
    spec = doubling_sheet(26);
    // Small rows still give the full text and the right value (L0 = 1, L_n = 2 * L_{n-1} + 2).
    EXPECT_EQ(calc("_L1"), "1+1+1+1");
    EXPECT_DOUBLE_EQ(evaluate_expression(calc("=_L5")), 94);
    // Rows whose text would pass the bound fail naming the first variable that is too long,
    // both from the spec map given and from the job's AC map the driver keeps a memo for.
    const std::string expected = "spec variable 'L15' expands to more than 100000 characters";
    EXPECT_EQ(failure_of([&] { return calc("=_L25*2"); }), expected);
    VantorTestAccess::ac(v) = doubling_sheet(26);
    for (int round = 0; round < 2; ++round) {
        EXPECT_EQ(failure_of([&] {
                      return VantorTestAccess::calc(v, "=_L25", VantorTestAccess::ac(v), "Prod", "Typ");
                  }),
                  expected);
        EXPECT_DOUBLE_EQ(
            evaluate_expression(VantorTestAccess::calc(v, "_L9", VantorTestAccess::ac(v), "Prod", "Typ")),
            1534);
    }
    // Each failure is logged too: a period cell shows only that its expression failed.
    EXPECT_EQ(log, std::vector<std::string>(3, "Error: " + expected));
}

TEST_F(SpecCalc, DeepChainsAreCutWithTheVariableNamed) {
    for (int i = 0; i < 100; ++i)
        glob()["D" + std::to_string(i)] = "_D" + std::to_string(i + 1) + "+1";
    glob()["D100"] = "0";
    EXPECT_EQ(failure_of([&] { return calc("_D0"); }),
              "spec variable 'D64' is nested more than 64 variables deep");
    // Within the bound the chain resolves.
    EXPECT_DOUBLE_EQ(evaluate_expression(calc("_D40")), 60);
}

TEST(AddUnit, ThresholdsAndNothingBelowPico) {
    Vantor v("./");
    EXPECT_EQ(v.add_unit(2.5e-9), "2.500n");
    EXPECT_EQ(v.add_unit(100000000), "100.000M");
    EXPECT_EQ(v.add_unit(1500), "1.500K");
    EXPECT_EQ(v.add_unit(0.25), "250.000m");
    EXPECT_EQ(v.add_unit(1.5), "1500.000m");
    EXPECT_EQ(v.add_unit(1000000000), "1.000G");
    EXPECT_EQ(v.add_unit(0.000000000001), "1.000p");
    EXPECT_EQ(v.add_unit(0), std::nullopt);
    EXPECT_EQ(v.add_unit(-1), std::nullopt);
}

}  // namespace
}  // namespace igxl
