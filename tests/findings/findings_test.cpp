// Findings end to end through the vantor command line: one small program per rule with exactly
// the planted fault, read back from --json; gating and baselines; SARIF against a schema; the
// Findings sheet read back with openpyxl; the demo program's findings against a reviewed golden.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <unistd.h>

#include "tests/support/process.h"

namespace fs = std::filesystem;
using json = nlohmann::json;

namespace {

const fs::path kHere = fs::path(IGXL_SOURCE_DIR) / "tests/findings";

std::string slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// A flow table row (UltraFLEX layout): opcode, instance, test number, limits and unit, hard
// and sort fail bins, result; cond fills a Condition column (a conditional re-test).
struct Row {
    Row(std::string op_, std::string param_, std::string tnum_, std::string lo_, std::string hi_,
        std::string units_, std::string hard_, std::string sort_, std::string result_,
        std::string cond_ = {}, std::string enable_ = {})
        : op(op_), param(param_), tnum(tnum_), lo(lo_), hi(hi_), units(units_), hard(hard_),
          sort(sort_), result(result_), cond(cond_), enable(enable_) {}
    std::string op, param, tnum, lo, hi, units, hard, sort, result, cond, enable;
};

std::string flow_line(const Row& r) {
    std::vector<std::string> f(32);
    f[2] = r.enable;
    f[6] = r.op;
    f[7] = r.param;
    f[8] = r.param;
    f[9] = r.tnum;
    f[10] = r.lo;
    f[11] = r.hi;
    f[13] = r.units;
    f[16] = r.hard;
    f[18] = r.sort;
    f[19] = r.result;
    f[25] = r.cond;
    std::string out;
    for (size_t i = 0; i < f.size(); ++i) out += (i ? "\t" : "") + f[i];
    return out + "\n";
}

// An instance row: name, time-set sheet, pin levels sheet, argument names and values.
struct Inst {
    std::string name, tset = "TSB_Func", levels = "Levels_Main", args = "Patterns";
    std::vector<std::string> values{"PS_FUNC"};
};

std::string instance_line(const Inst& i) {
    std::vector<std::string> f(15);
    f[1] = i.name;
    f[3] = "Functional_T";
    f[5] = "Prod";
    f[6] = "Typ";
    f[7] = "Prod";
    f[8] = "Typ";
    f[9] = i.tset;
    f[11] = i.levels;
    f[14] = i.args;
    for (const auto& v : i.values) f.push_back(v);
    std::string out;
    for (size_t k = 0; k < f.size(); ++k) out += (k ? "\t" : "") + f[k];
    return out + "\n";
}

// A program without faults; each test changes the part that plants its one fault.
struct Program {
    std::vector<Row> flow = {
        {"Test", "T_A", "100", "0", "1", "V", "2", "10", "Fail"},
        {"Test", "T_B", "200", "0", "2", "V", "3", "11", "Fail"},
        {"Test", "T_C", "300", "0", "3", "V", "4", "12", "Fail"},
        {"set-device", "", "", "", "", "", "5", "99", "Fail"},
    };
    std::vector<Inst> instances = {{"T_A"}, {"T_B"}, {"T_C"}};
    std::vector<std::string> sets = {"PS_FUNC"};
    std::string pattern_sets = "PSets";
    std::string bin_table;       // the job list's Bin Table column
    std::string bin_table_rows;  // rows of that sheet after its header
    std::map<std::string, std::string> extra_files;

    void write(const fs::path& dir) const {
        fs::remove_all(dir);
        fs::create_directories(dir);
        std::ofstream(dir / "Job List.txt")
            << "DTJobListSheet,version=1.0:platform=Jaguar\tJob List\n\n\n"
               "\tJob Name\tPin Map\tTest Instances\tFlow Table\tAC Specs\tDC Specs\tPattern Sets\tPattern Groups\tBin Table\n"
               "\tJOB\tPins\tInst\tFlow\tAC Specs\tDC Specs\t" << pattern_sets << "\t\t" << bin_table << "\n";
        std::ofstream f(dir / "Flow.txt");
        f << "DTFlowtableSheet,version=2.2:platform=Jaguar\tFlow Table\n\n\n\tLabel\n";
        for (const auto& r : flow) f << flow_line(r);
        f.close();
        std::ofstream in(dir / "Inst.txt");
        in << "DTTestInstancesSheet,version=2.3:platform=Jaguar\tTest Instances\n\n\n\tTest Name\n";
        for (const auto& i : instances) in << instance_line(i);
        in.close();
        std::ofstream ps(dir / "PSets.txt");
        ps << "DTPatternSetSheet,version=2.3:platform=Jaguar\tPattern Sets\n\n\tPattern Group\t\t\t\t\n";
        for (const auto& s : sets) ps << "\t" << s << "\t\t\t.\\patterns\\a.PAT\n";
        ps.close();
        std::ofstream(dir / "Levels_Main.txt")
            << "DTLevelSheet,version=2.2:platform=Jaguar\tPin Levels\n\n\n\tPin/Group\tSeq\tParameter\tValue\n"
               "\tVDD\t\tVmain\t=1.2\n\tVDD\t\tIfoldlevel\t=0.2\n";
        std::ofstream(dir / "TSB_Func.txt")
            << "DTTimesetBasicSheet,version=2.3:platform=Jaguar\tTime Sets (Basic)\n\n\n\n\n\n\n"
               "\tTS_A\t=10*ns\tCLK1\t=5*ns\tclock\n";
        std::ofstream(dir / "DC Specs.txt")
            << "DTDCSpecSheet,version=2.3:platform=Jaguar\tDC Spec\n\n\t\t\tSelector\tProd\n"
               "\tSymbol\tValue\tVal\tTyp\tMin\tMax\n\tVDD_LVL\t\tTyp\t=1.2\t=0.9\t=1.1\n";
        std::ofstream(dir / "AC Specs.txt")
            << "DTACSpecSheet,version=2.3:platform=Jaguar\tAC Spec\n\n\t\t\tSelector\tProd\n"
               "\tSymbol\tValue\tVal\tTyp\tMax\n\tPER_A\t\tTyp\t=10*ns\t=20*ns\n";
        std::ofstream(dir / "Global Specs.txt")
            << "DTGlobalSpecSheet,version=2.0:platform=Jaguar\tGlobal Specs\n\n\n\tSymbol\tJob\tValue\n\tVDD_NOM\t\t=1.2\n";
        if (!bin_table.empty())
            std::ofstream(dir / (bin_table + ".txt"))
                << "DTBintablesSheet,version=2.1:platform=Jaguar\tBin Table\n\n\n"
                   "\tName\tItem List\tOp\tSort\tBin\tResult\n" << bin_table_rows;
        for (const auto& [name, body] : extra_files) std::ofstream(dir / name) << body;
    }
};

class Findings : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("igxl_findings_" + std::to_string(getpid())) /
              ::testing::UnitTest::GetInstance()->current_test_info()->name();
        fs::remove_all(dir);
        fs::create_directories(dir);
    }

    igxl::testing::CommandResult vantor(const std::string& args) {
        return igxl::testing::run_command(std::string(IGXL_BINARY_DIR) + "/bin/vantor check --all --out '" +
                                          (dir / "out").string() + "' " + args);
    }

    // Checks the program and returns its findings JSON.
    json check(const Program& p, const std::string& args = {}) {
        p.write(dir / "prog");
        const fs::path out = dir / "findings.json";
        fs::remove(out);
        last = vantor("'" + (dir / "prog").string() + "' --json '" + out.string() + "' " + args);
        EXPECT_TRUE(fs::exists(out)) << last.out;
        return fs::exists(out) ? json::parse(slurp(out)) : json::object();
    }

    static std::vector<json> of_rule(const json& doc, const std::string& rule) {
        std::vector<json> out;
        for (const auto& f : doc.value("findings", json::array()))
            if (f["rule"] == rule) out.push_back(f);
        return out;
    }

    fs::path dir;
    igxl::testing::CommandResult last;
};

// rule, severity, sheet, line (0: no line), test ("" : none) of the one finding expected.
struct Want {
    std::string rule, severity, sheet;
    unsigned line;
    std::string test;
};

void expect_one(const std::vector<json>& found, const Want& w, const std::string& context) {
    ASSERT_EQ(found.size(), 1u) << w.rule << "\n" << context;
    const json& f = found[0];
    EXPECT_EQ(f["severity"], w.severity) << w.rule;
    EXPECT_EQ(f.value("job", ""), "JOB") << w.rule;
    EXPECT_EQ(f.value("sheet", ""), w.sheet) << w.rule;
    if (w.line) {
        EXPECT_EQ(f.value("line", 0u), w.line) << w.rule;
    } else {
        EXPECT_FALSE(f.contains("line")) << w.rule;
    }
    EXPECT_EQ(f.value("test", ""), w.test) << w.rule;
    EXPECT_FALSE(f.value("message", "").empty()) << w.rule;
}

}  // namespace

TEST_F(Findings, CleanProgramHasNoneAndTheDocumentSaysWhatRan) {
    json doc = check(Program{});
    EXPECT_EQ(last.status, 0) << last.out;
    EXPECT_EQ(doc["findings"], json::array()) << doc.dump(1);
    EXPECT_EQ(doc["tool"], "vantor");
    EXPECT_EQ(doc["platform"], "UltraFLEX");
    EXPECT_EQ(doc["jobs"], json::array({"JOB"}));
    EXPECT_EQ(doc["counts"], (json{{"error", 0}, {"warning", 0}, {"info", 0}}));
    EXPECT_EQ(doc["options"]["cycle_mode"], "Period");
    EXPECT_NE(last.out.find("Findings: 0 error, 0 warning, 0 info"), std::string::npos) << last.out;
}

// Flow rows begin at line 5; Program{}'s rows are T_A 5, T_B 6, T_C 7, set-device 8.
TEST_F(Findings, EachFlowRulePlantedAloneIsFoundWhereItStands) {
    struct Case {
        Want want;
        std::function<void(Program&)> plant;
    } cases[] = {
        {{"instance-not-found", "error", "Flow", 9, "T_X"},
         [](Program& p) { p.flow.push_back({"Test", "T_X", "400", "0", "1", "V", "6", "13", "Fail"}); }},
        {{"no-sort-bin", "warning", "Flow", 6, "T_B"},
         [](Program& p) { p.flow[1].hard = p.flow[1].sort = ""; }},
        {{"no-default-bin", "error", "Flow", 0, ""}, [](Program& p) { p.flow.pop_back(); }},
        {{"sort-bin-two-hard-bins", "error", "Flow", 6, "T_B"}, [](Program& p) { p.flow[1].sort = "10"; }},
        {{"duplicate-sort-bin", "warning", "Flow", 6, "T_B"},
         [](Program& p) { p.flow[1].sort = "10", p.flow[1].hard = "2"; }},
        {{"bin-pass-and-fail", "error", "Flow", 6, "T_B"},
         [](Program& p) { p.flow[1].hard = "2", p.flow[1].result = "Pass"; }},
        {{"duplicate-test-number", "error", "Flow", 6, "T_B"}, [](Program& p) { p.flow[1].tnum = "100"; }},
        {{"duplicate-test", "warning", "Flow", 8, "T_A"},
         [](Program& p) { p.flow.insert(p.flow.begin() + 3, {"Test", "T_A", "150", "0", "1", "V", "2", "10", "Fail"}); }},
        {{"missing-test-number", "warning", "Flow", 6, "T_B"}, [](Program& p) { p.flow[1].tnum = ""; }},
        {{"limit-low-above-high", "error", "Flow", 6, "T_B"}, [](Program& p) { p.flow[1].lo = "5"; }},
        {{"limit-without-unit", "warning", "Flow", 6, "T_B"}, [](Program& p) { p.flow[1].units = ""; }},
    };
    for (auto& c : cases) {
        Program p;
        c.plant(p);
        json doc = check(p);
        expect_one(of_rule(doc, c.want.rule), c.want, doc.dump(1));
        // Nothing but the planted fault (a sort bin given twice also repeats its hard bin).
        for (const auto& f : doc["findings"]) {
            if (c.want.rule != "sort-bin-two-hard-bins" && c.want.rule != "bin-pass-and-fail" &&
                c.want.rule != "duplicate-test") {
                EXPECT_EQ(f["rule"], c.want.rule) << f.dump();
            }
        }
    }
}

TEST_F(Findings, DeliberateRetestsAndLimitsWithoutUnitsEverywhereAreNotFindings) {
    Program p;
    // The same test again under a condition, and again under another Enable word.
    p.flow.insert(p.flow.begin() + 3, {"Test", "T_A", "150", "0", "1", "V", "2", "10", "Fail", "flag-true"});
    p.flow.insert(p.flow.begin() + 3, {"Test", "T_A", "160", "0", "1", "V", "2", "10", "Fail", "", "retest"});
    for (auto& r : p.flow) r.units = "";
    json doc = check(p);
    EXPECT_TRUE(of_rule(doc, "duplicate-test").empty()) << doc.dump(1);
    EXPECT_TRUE(of_rule(doc, "limit-without-unit").empty()) << doc.dump(1);
}

TEST_F(Findings, InstanceAndSheetRules) {
    struct Case {
        Want want;
        std::function<void(Program&)> plant;
    } cases[] = {
        {{"levels-sheet-not-found", "error", "Flow", 6, "T_B"},
         [](Program& p) { p.instances[1].levels = "Levels_Gone"; }},
        {{"blank-argument", "info", "Inst", 6, "T_B"},
         [](Program& p) { p.instances[1].args = "Patterns,Mode", p.instances[1].values = {"PS_FUNC", ""}; }},
        {{"pattern-set-unreadable", "error", "PSetsGone", 0, ""}, [](Program& p) { p.pattern_sets = "PSetsGone"; }},
    };
    for (auto& c : cases) {
        Program p;
        c.plant(p);
        json doc = check(p);
        expect_one(of_rule(doc, c.want.rule), c.want, doc.dump(1));
    }
}

TEST_F(Findings, UnusedDefinitionsAreInfoAndNameTheirRow) {
    Program p;
    p.instances.push_back({"T_SPARE"});
    p.sets.push_back("PS_SPARE");
    p.extra_files["TSB_Spare.txt"] = "DTTimesetBasicSheet,version=2.3:platform=Jaguar\tTime Sets (Basic)\n";
    p.extra_files["Levels_Spare.txt"] = "DTLevelSheet,version=2.2:platform=Jaguar\tPin Levels\n";
    json doc = check(p);
    auto info = [&](const std::string& rule, const std::string& sheet, unsigned line, const std::string& test) {
        auto found = of_rule(doc, rule);
        ASSERT_EQ(found.size(), 1u) << rule << doc.dump(1);
        EXPECT_EQ(found[0]["severity"], "info");
        EXPECT_FALSE(found[0].contains("job")) << rule;
        EXPECT_EQ(found[0]["sheet"], sheet);
        EXPECT_EQ(found[0]["line"], line);
        EXPECT_EQ(found[0]["test"], test);
    };
    info("unused-instance", "Inst", 8, "T_SPARE");
    info("unused-pattern-set", "PSets", 5, "PS_SPARE");
    info("unused-timeset-sheet", "TSB_Spare", 1, "TSB_Spare");
    info("unused-levels-sheet", "Levels_Spare", 1, "Levels_Spare");
    EXPECT_EQ(doc["counts"]["info"], 4);
    EXPECT_EQ(last.status, 0) << "info findings never fail a gate by default";
}

TEST_F(Findings, BinTableNamesAndMissingBins) {
    Program p;
    p.bin_table = "Bins";
    p.bin_table_rows = "\tFAIL_A\t\t\t10\t2\tFail\n"
                       "\tFAIL_A2\t\t\t10\t2\tFail\n"  // line 6: a second name for sort bin 10
                       "\tFAIL_B\t\t\t11\t3\tFail\n"
                       "\tDEFAULT\t\t\t99\t5\tFail\n";  // sort bin 12 (T_C) and hard bin 4 missing
    json doc = check(p);
    expect_one(of_rule(doc, "bin-two-names"), {"bin-two-names", "warning", "Bins", 6, "FAIL_A2"}, doc.dump(1));
    auto missing = of_rule(doc, "bin-not-in-table");
    ASSERT_EQ(missing.size(), 2u) << doc.dump(1);
    for (const auto& f : missing) {
        EXPECT_EQ(f["line"], 7);
        EXPECT_EQ(f["test"], "T_C");
    }
}

TEST_F(Findings, GatingWithAndWithoutABaseline) {
    Program p;
    p.flow[1].tnum = "100";   // error
    p.flow[2].units = "";     // warning
    json doc = check(p);
    EXPECT_EQ(last.status, 0) << "--fail-on defaults to never";
    ASSERT_EQ(doc["counts"]["error"], 1);
    ASSERT_EQ(doc["counts"]["warning"], 1);
    fs::copy_file(dir / "findings.json", dir / "accepted.json");

    check(p, "--fail-on error");
    EXPECT_EQ(last.status, 3) << last.out;
    check(p, "--fail-on warning");
    EXPECT_EQ(last.status, 3);

    Program only_warning;
    only_warning.flow[2].units = "";
    check(only_warning, "--fail-on error");
    EXPECT_EQ(last.status, 0);
    check(only_warning, "--fail-on warning");
    EXPECT_EQ(last.status, 3);

    // Accepted findings stay accepted when rows move: matched without their line.
    p.flow.insert(p.flow.begin(), {"Test", "T_NEW", "50", "0", "1", "V", "2", "10", "Fail"});
    p.instances.push_back({"T_NEW"});
    doc = check(p, "--fail-on warning --baseline '" + (dir / "accepted.json").string() + "'");
    EXPECT_EQ(doc["suppressed"], 2) << doc.dump(1);
    EXPECT_EQ(doc["counts"]["error"], 0) << doc.dump(1);
    EXPECT_EQ(last.status, 3) << "the new test repeats T_A's sort bin: a new warning remains\n" << doc.dump(1);
    EXPECT_NE(last.out.find("2 suppressed by the baseline"), std::string::npos) << last.out;

    // A check that could not do part of its work says so first (1), whatever the gate: its
    // findings are not the whole story, even when the baseline accepts them.
    Program unfinished;
    unfinished.instances[1].levels = "Levels_Gone";
    doc = check(unfinished, "--fail-on error");
    EXPECT_EQ(doc["counts"]["error"], 1) << doc.dump(1);
    EXPECT_EQ(last.status, 1) << last.out;
    fs::copy_file(dir / "findings.json", dir / "accepted_unfinished.json");
    doc = check(unfinished, "--fail-on error --baseline '" + (dir / "accepted_unfinished.json").string() + "'");
    EXPECT_EQ(doc["suppressed"], 1) << doc.dump(1);
    EXPECT_EQ(last.status, 1) << last.out;

    // A baseline that is not one is refused before the check runs.
    std::ofstream(dir / "bad.json") << "{\"findings\": 3}";
    auto r = vantor("'" + (dir / "prog").string() + "' --baseline '" + (dir / "bad.json").string() + "'");
    EXPECT_EQ(r.status, 2) << r.out;
    EXPECT_NE(r.out.find("bad.json"), std::string::npos) << r.out;
    r = vantor("'" + (dir / "prog").string() + "' --fail-on sometimes");
    EXPECT_EQ(r.status, 2) << r.out;
}

TEST_F(Findings, SarifValidatesAndPointsIntoTheSheetFiles) {
    if (std::system("/usr/bin/python3 -c 'import jsonschema' 2>/dev/null") != 0)
        GTEST_SKIP() << "python3-jsonschema is not installed (scripts/install-deps.sh installs it)";
    Program p;
    p.flow[1].tnum = "100";
    p.flow[2].hard = p.flow[2].sort = "";
    p.write(dir / "prog");
    const fs::path sarif = dir / "findings.sarif";
    last = vantor("'" + (dir / "prog").string() + "' --sarif '" + sarif.string() + "'");
    ASSERT_TRUE(fs::exists(sarif)) << last.out;
    auto r = igxl::testing::run_command("/usr/bin/python3 '" + (kHere / "validate_json.py").string() + "' '" +
                                        (kHere / "sarif-2.1.0-subset.schema.json").string() + "' '" +
                                        sarif.string() + "'");
    EXPECT_EQ(r.status, 0) << r.out;

    json doc = json::parse(slurp(sarif));
    const json& results = doc["runs"][0]["results"];
    ASSERT_EQ(results.size(), 2u) << doc.dump(1);
    std::map<std::string, json> by_rule;
    for (const auto& res : results) by_rule[res["ruleId"]] = res;
    const json& dup = by_rule["duplicate-test-number"];
    EXPECT_EQ(dup["level"], "error");
    const json& loc = dup["locations"][0]["physicalLocation"];
    EXPECT_EQ(loc["artifactLocation"]["uri"], "Flow.txt");
    EXPECT_EQ(loc["artifactLocation"]["uriBaseId"], "PROGRAM");
    EXPECT_EQ(loc["region"]["startLine"], 6);
    EXPECT_EQ(by_rule["no-sort-bin"]["level"], "warning");
    // Every result's rule is in the driver's rule list at its index.
    const json& rules = doc["runs"][0]["tool"]["driver"]["rules"];
    for (const auto& res : results) EXPECT_EQ(rules[res["ruleIndex"].get<size_t>()]["id"], res["ruleId"]);
}

TEST_F(Findings, FindingsSheetIsFirstActiveAndReadsBack) {
    Program p;
    p.flow[1].tnum = "100";
    p.flow[2].units = "";
    p.write(dir / "prog");
    last = vantor("'" + (dir / "prog").string() + "' --platform UltraFLEX");
    ASSERT_EQ(last.status, 0) << last.out;
    fs::path report;
    for (const auto& e : fs::directory_iterator(dir / "out"))
        if (e.path().extension() == ".xlsm") report = e.path();
    ASSERT_FALSE(report.empty());
    auto r = igxl::testing::run_command("/usr/bin/python3 '" + (kHere / "read_findings_sheet.py").string() + "' '" +
                                        report.string() + "'");
    ASSERT_EQ(r.status, 0) << r.out;
    json sheet = json::parse(r.out);
    EXPECT_EQ(sheet["sheets"], json::array({"Findings", "JOB", "PatTsetMap_JOB", "SortBinDescrp",
                                            "InstParametersCheck", "PowerPinClampCheck"}));
    EXPECT_EQ(sheet["active"], 0);
    EXPECT_EQ(sheet["settings"]["Platform"], "UltraFLEX");
    EXPECT_EQ(sheet["settings"]["Jobs"], "JOB");
    EXPECT_EQ(sheet["settings"]["Program"], (dir / "prog").string());
    EXPECT_EQ(sheet["settings"]["Status"], "complete");
    EXPECT_EQ(sheet["counts"]["error"], 1);
    EXPECT_EQ(sheet["counts"]["warning"], 1);
    EXPECT_EQ(sheet["counts"]["duplicate-test-number"], 1);
    EXPECT_EQ(sheet["header"], json::array({"Severity", "Rule", "Job", "Sheet", "Line", "Test", "Message"}));
    ASSERT_EQ(sheet["rows"].size(), 2u);
    EXPECT_EQ(sheet["rows"][0][0], "error");
    EXPECT_EQ(sheet["rows"][0][1], "duplicate-test-number");
    EXPECT_EQ(sheet["rows"][0][3], "Flow");
    EXPECT_EQ(sheet["rows"][0][4], 6);
    EXPECT_EQ(sheet["fills"][0], "FFC7CE");
    EXPECT_EQ(sheet["fills"][1], "FFEB9C");
    EXPECT_EQ(sheet["freeze"], sheet["header_cell_below"]);
    EXPECT_EQ(sheet["autofilter"], sheet["expected_filter"]);
    EXPECT_GE(sheet["legend"].size(), 5u);
    EXPECT_GT(sheet["widths"]["G"].get<double>(), 50);
}

// The demo program's findings, reviewed once and kept beside this test.
TEST_F(Findings, DemoProgramFindingsMatchTheReviewedGolden) {
    const fs::path demo = fs::path(IGXL_BINARY_DIR) / "demo" / "DemoProgram.xlsm";
    ASSERT_TRUE(fs::exists(demo)) << "build the demo_program target first";
    fs::copy(fs::path(IGXL_BINARY_DIR) / "demo" / "patterns", dir / "patterns");
    const fs::path out = dir / "demo.json";
    last = vantor("'" + demo.string() + "' --work-dir '" + (dir / "work").string() + "' --pattern-path '" +
                  (dir / "patterns").string() + "' --patinfo '" + IGXL_BINARY_DIR + "/bin/patinfo' --json '" +
                  out.string() + "'");
    ASSERT_TRUE(fs::exists(out)) << last.out;
    json doc = json::parse(slurp(out));
    // Paths of this run are not part of what was reviewed.
    doc["program"] = "DemoProgram.xlsm";
    doc["options"].erase("pattern_path");
    doc["version"] = "<version>";
    const std::string text = doc.dump(2) + "\n";
    const fs::path golden = kHere / "golden" / "demo_findings.json";
    if (std::getenv("IGXL_UPDATE_GOLDEN")) {
        fs::create_directories(golden.parent_path());
        std::ofstream(golden, std::ios::binary) << text;
    }
    EXPECT_EQ(text, slurp(golden)) << "findings differ from " << golden;
}
