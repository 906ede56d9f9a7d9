// End-to-end checks of small fixture programs: the report read back by an independent reader
// (openpyxl) and compared with a reviewed rendering, plus the log lines and progress values.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <regex>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <zip.h>

#include "check/vantor.h"
#include "tests/support/check_options.h"
#include "parsers/pattern_sets.h"
#include "tests/support/canonical_xml.h"
#include "tests/support/package_rules.h"
#include "util/regex.h"

namespace fs = std::filesystem;
using igxl::CycleMode;
using igxl::Platform;
using igxl::Vantor;
using igxl::test_support::cycle;
using igxl::test_support::opts;

namespace {

const fs::path kFixtures = fs::path(IGXL_SOURCE_DIR) / "tests/check_walk/fixtures";
const fs::path kGolden = fs::path(IGXL_SOURCE_DIR) / "tests/check_walk/golden";
const std::string kDump = IGXL_SOURCE_DIR "/tests/check_walk/dump_report.py";

std::string slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

fs::path fresh_dir(const std::string& name) {
    auto d = fs::temp_directory_path() / ("igxl_walk_test_" + std::to_string(getpid())) / name;
    fs::remove_all(d);
    fs::create_directories(d);
    return d;
}

struct Outcome {
    std::vector<std::string> log;
    std::vector<double> progress;
    std::vector<std::string> reports;
    std::string dump;
    bool failed = false;

    size_t count(const std::string& line) const {
        return static_cast<size_t>(std::count(log.begin(), log.end(), line));
    }
};

std::string dump_report(const std::string& report, const fs::path& dir) {
    const fs::path out = dir / "dump.txt";
    const std::string cmd = "/usr/bin/python3 '" + kDump + "' '" + report + "' '" + out.string() + "'";
    if (std::system(cmd.c_str()) != 0) return "<dump failed>";
    return slurp(out);
}

// Writes a power order workbook (legacy .xls) with xlwt; rows after the header.
bool write_power_order(const fs::path& path,
                       const std::vector<std::pair<std::string, std::string>>& rows) {
    std::string py = "import xlwt\nwb = xlwt.Workbook()\nws = wb.add_sheet('Power')\n"
                     "ws.write(0, 0, 'Pin'); ws.write(0, 1, 'Alias')\n";
    for (size_t i = 0; i < rows.size(); ++i)
        py += "ws.write(" + std::to_string(i + 1) + ", 0, '" + rows[i].first + "'); ws.write(" +
              std::to_string(i + 1) + ", 1, '" + rows[i].second + "')\n";
    py += "wb.save('" + path.string() + "')\n";
    const fs::path script = path.parent_path() / "power_order.py";
    std::ofstream(script) << py;
    return std::system(("/usr/bin/python3 '" + script.string() + "'").c_str()) == 0;
}

Outcome check_fixture(const std::string& name, const std::string& cycle_mode,
                      const std::string& power_order, const std::string& context,
                      const std::vector<std::string>& jobs, bool with_patterns = true) {
    igxl::set_patinfo_program(IGXL_BINARY_DIR "/bin/patinfo");
    const fs::path work = fresh_dir(name + "_" + cycle_mode);
    // patinfo leaves its listing in the pattern folder: work on a copy.
    const fs::path patterns = work / "patterns";
    fs::copy(kFixtures / name / "patterns", patterns);
    Outcome o;
    Vantor v(work.string());
    v.read_device(opts((kFixtures / name).string(), power_order,
                       with_patterns ? patterns.string() : "", Platform::UltraFLEX,
                       cycle(cycle_mode), context),
                  [&](const std::string& l) { o.log.push_back(l); },
                  [&](double p) { o.progress.push_back(p); });
    o.reports = v.run(jobs, work.string());
    o.failed = v.last_run_failed();
    if (!o.reports.empty()) o.dump = dump_report(o.reports[0], work);
    return o;
}

// Compares with the reviewed rendering; IGXL_UPDATE_GOLDEN=1 rewrites it for review instead.
void expect_golden(const std::string& dump, const std::string& golden_name) {
    const fs::path golden = kGolden / golden_name;
    if (std::getenv("IGXL_UPDATE_GOLDEN")) {
        fs::create_directories(kGolden);
        std::ofstream(golden, std::ios::binary) << dump;
        return;
    }
    ASSERT_TRUE(fs::exists(golden)) << golden;
    EXPECT_EQ(dump, slurp(golden)) << "report differs from " << golden;
}

TEST(CheckWalk, PeriodModeReportAndLog) {
    Outcome o = check_fixture("basic", "Period", "", "Env", {"JOB_A", "JOB_B"});
    ASSERT_FALSE(o.failed) << ::testing::PrintToString(o.log);
    ASSERT_EQ(o.reports.size(), 1u);
    expect_golden(o.dump, "basic_period.txt");

    // The entry without an instance is reported once by each of the two later passes.
    EXPECT_EQ(o.count("Info: cannot found TP_MISSING in Test Instance, please check."), 2u);
    EXPECT_EQ(o.count("Warning: Tset(TS_B) in pattern(.\\patterns\\b.PAT) is not list in TSB: TSB_Func"), 2u);
    EXPECT_EQ(o.count("Warning: Tset(Error: pattern file does not exist) in pattern(.\\patterns\\d.PAT) is not "
                      "list in TSB: TSB_Func"),
              1u);
    EXPECT_EQ(o.count("Parse Job: JOB_A"), 1u);
    EXPECT_EQ(o.count("Fennick: Flow_A"), 1u);
    EXPECT_EQ(o.log.back(), "===============================END===============================");
    // Specs are read once: the second job names the same sheets.
    EXPECT_EQ(o.count("Warning: cannot read Global Specs, please check it!"), 0u);
}

TEST(CheckWalk, ProgressPerJobAndPatternMap) {
    Outcome o = check_fixture("basic", "Period", "", "Env", {"JOB_B"});
    ASSERT_FALSE(o.failed);
    // JOB_B: two flow entries; its patterns a.PAT and b.PAT fill the pattern map sheet.
    const std::vector<double> expected = {0, 1, 2, 3, 4, 5, 6, 7, 8, 13, 19, 24, 65, 100, 95, 100};
    EXPECT_EQ(o.progress, expected);
}

TEST(CheckWalk, FrequencyModeWithPowerOrderFile) {
    const fs::path dir = fresh_dir("power_order");
    const fs::path xls = dir / "order.xls";
    ASSERT_TRUE(write_power_order(xls, {{"VDDIO", "IO"}, {"vdd", ""}, {"VCORE", "Core"}}));
    Outcome o = check_fixture("basic", "Frequency", xls.string(), "Env", {"JOB_B", "JOB_A"});
    ASSERT_FALSE(o.failed) << ::testing::PrintToString(o.log);
    expect_golden(o.dump, "basic_frequency_power_order.txt");
    EXPECT_EQ(o.count("Import Power Order File: " + xls.string()), 1u);
    // VCORE is in no pin levels sheet, VDD not in Levels_One: logged once per record with a DC
    // category that reads such a sheet.
    EXPECT_EQ(o.count("Power pin name is: VCORE"), 7u);
    EXPECT_EQ(o.count("Power pin name is: vdd"), 1u);
    EXPECT_EQ(o.count("Cannot find power pin name in pin level file!"), 8u);
}

TEST(CheckWalk, PowerPinNamedTwiceInTheOrderFileGetsOneColumn) {
    const fs::path dir = fresh_dir("power_order_twice");
    const fs::path xls = dir / "order.xls";
    ASSERT_TRUE(write_power_order(xls, {{"VDDIO", "IO"}, {"VDD", "First"}, {"vdd", "Later"}}));
    Outcome o = check_fixture("basic", "Period", xls.string(), "", {"JOB_A"});
    ASSERT_FALSE(o.failed) << ::testing::PrintToString(o.log);
    // The pin keeps its first place and the later alias; the pattern block follows at once.
    EXPECT_NE(o.dump.find("G1 = 'IO' | bold\nH1 = 'Later' | bold\nI1 = 'PatternName_0' | bold\n"),
              std::string::npos)
        << o.dump;
    EXPECT_EQ(o.dump.find("'First'"), std::string::npos);
}

// The walk remembers, per job, a pattern's period and clock texts and the power pins of a levels
// sheet: a test the flow runs again and again must still get the same cells and the same
// messages on every run as on its first.
TEST(CheckWalk, ATestRunAgainGetsTheSameCellsAndMessagesEveryTime) {
    igxl::set_patinfo_program(IGXL_BINARY_DIR "/bin/patinfo");
    const fs::path dir = fresh_dir("repeated_tests");
    const fs::path xls = dir / "order.xls";
    ASSERT_TRUE(write_power_order(xls, {{"VDDIO", "IO"}, {"VCORE", "Core"}, {"VDD", ""}}));
    // Flow_B's header rows, then the TP_PWR and TP_MULTI rows of Flow_A `uses` times over.
    std::istringstream flow_a(slurp(kFixtures / "basic" / "Flow_A.txt"));
    std::istringstream flow_b(slurp(kFixtures / "basic" / "Flow_B.txt"));
    std::string line, header, rows;
    for (int i = 0; i < 4 && std::getline(flow_b, line); ++i) header += line + "\n";
    while (std::getline(flow_a, line))
        if (line.find("\ttp_pwr\t") != std::string::npos || line.find("\tTP_MULTI\t") != std::string::npos)
            rows += line + "\n";
    ASSERT_FALSE(rows.empty());

    auto run = [&](int uses, Outcome& o) {
        const fs::path dev = dir / ("uses_" + std::to_string(uses));
        fs::create_directories(dev);
        for (const auto& e : fs::directory_iterator(kFixtures / "basic"))
            if (e.is_regular_file()) fs::copy(e.path(), dev / e.path().filename());
        fs::copy(kFixtures / "basic" / "patterns", dev / "patterns");
        std::string flow = header;
        for (int i = 0; i < uses; ++i) flow += rows;
        std::ofstream(dev / "Flow_B.txt", std::ios::binary | std::ios::trunc) << flow;
        Vantor v(dev.string());
        v.read_device(opts(dev.string(), xls.string(), (dev / "patterns").string(), Platform::UltraFLEX,
                           CycleMode::Period, "Env"),
                      [&](const std::string& l) { o.log.push_back(l); });
        o.reports = v.run({"JOB_B"}, dev.string());
        o.failed = v.last_run_failed();
        if (!o.reports.empty()) o.dump = dump_report(o.reports[0], dev);
    };
    Outcome once, four;
    run(1, once);
    run(4, four);
    ASSERT_FALSE(once.failed) << ::testing::PrintToString(once.log);
    ASSERT_FALSE(four.failed) << ::testing::PrintToString(four.log);

    // Every message of a use is given once per use.
    size_t tset_lines = 0, pin_lines = 0;
    for (const auto& l : once.log) {
        if (l.starts_with("Warning: Tset(")) ++tset_lines;
        if (l.starts_with("Power pin name is: ") || l == "Cannot find power pin name in pin level file!") ++pin_lines;
        if (l.starts_with("Warning: Tset(") || l.starts_with("Power pin name is: ") ||
            l == "Cannot find power pin name in pin level file!" || l.starts_with("Error: ")) {
            EXPECT_EQ(four.count(l), 4 * once.count(l)) << l;
        }
    }
    EXPECT_GT(tset_lines, 0u);
    EXPECT_GT(pin_lines, 0u);

    // The job sheet: every use's rows hold the cells (and row settings) of the first use's rows.
    auto job_rows = [](const std::string& dump) {
        static const std::regex cell(R"(^([A-Z]+)([0-9]+)( = .*)$)"), setting(R"(^row ([0-9]+)(: .*)$)");
        std::map<int, std::string> by_row;
        std::istringstream in(dump);
        std::string l;
        bool in_job = false;
        while (std::getline(in, l)) {
            if (l.starts_with("== ")) {
                in_job = l == "== JOB_B";
                continue;
            }
            std::smatch m;
            if (!in_job) continue;
            if (std::regex_match(l, m, cell) && std::stoi(m[2]) > 1)
                by_row[std::stoi(m[2])] += m[1].str() + m[3].str() + "\n";
            else if (std::regex_match(l, m, setting) && std::stoi(m[1]) > 1)
                by_row[std::stoi(m[1])] += "row" + m[2].str() + "\n";
        }
        std::vector<std::string> out;
        for (auto& [row, cells] : by_row) out.push_back(cells);
        return out;
    };
    const std::vector<std::string> first = job_rows(once.dump), all = job_rows(four.dump);
    ASSERT_FALSE(first.empty()) << once.dump;
    ASSERT_EQ(all.size(), 4 * first.size()) << four.dump;
    for (size_t i = 0; i < all.size(); ++i) EXPECT_EQ(all[i], first[i % first.size()]) << "row " << i + 2;
    // The pattern map counts every use.
    EXPECT_NE(four.dump.find("'TP_PWR,TP_PWR,TP_PWR,TP_PWR'"), std::string::npos) << four.dump;
}

TEST(CheckWalk, LevelsFollowEachRecordsCategoryAndAFailingOneFailsEveryUse) {
    igxl::set_patinfo_program(IGXL_BINARY_DIR "/bin/patinfo");
    const fs::path dev = fresh_dir("level_categories");
    for (const auto& e : fs::directory_iterator(kFixtures / "basic"))
        if (e.is_regular_file()) fs::copy(e.path(), dev / e.path().filename());
    // VDD's level differs between the Prod and Hot categories; no sheet column is Cold.
    std::ofstream(dev / "DC Specs.txt", std::ios::binary | std::ios::trunc)
        << "DTDCSpecSheet,version=2.3:platform=Jaguar\tDC Spec\t\t\t\t\t\t\t\t\n"
           "\t\t\t\t\t\t\t\t\t\n"
           "\t\t\tSelector\tProd\t\t\tHot\t\t\n"
           "\tSymbol\tValue\tVal\tTyp\tMin\tMax\tTyp\tMin\tMax\n"
           "\tVDD_LVL\t\tTyp\t=_VDD_NOM*1.0\t=0.9\t=1.1\t=1.5\t=1.4\t=1.6\n";
    // Appended to the instance sheet: one test alternating the two categories, one in neither.
    auto instance = [](const std::string& name, const std::string& category) {
        return "\t" + name + "\t\tFunctional_T\t\t" + category + "\tTyp\t\t\t\t\tLevels_Main\t\t\t\t\t\t\t\t\t\n";
    };
    std::ofstream(dev / "Test Instances.txt", std::ios::binary | std::ios::app)
        << instance("TP_LVL", "Prod") << instance("TP_LVL", "Hot") << instance("TP_LVL", "Prod")
        << instance("TP_LVL", "Hot") << instance("TP_COLD", "Cold");
    std::istringstream flow_b(slurp(kFixtures / "basic" / "Flow_B.txt"));
    std::string line, flow;
    for (int i = 0; i < 4 && std::getline(flow_b, line); ++i) flow += line + "\n";
    for (const char* test : {"TP_LVL", "TP_COLD", "TP_LVL", "TP_COLD"})
        flow += std::string("\t\t\t\t\t\tTest\t") + test + "\t\t100\t\t\t\t\t\t\t1\t\t3\tFail\t\n";
    std::ofstream(dev / "Flow_B.txt", std::ios::binary | std::ios::trunc) << flow;

    Outcome o;
    Vantor v(dev.string());
    v.read_device(opts(dev.string(), "", "", Platform::UltraFLEX, CycleMode::Period, ""),
                  [&](const std::string& l) { o.log.push_back(l); });
    o.reports = v.run({"JOB_B"}, dev.string());
    ASSERT_FALSE(o.reports.empty()) << ::testing::PrintToString(o.log);
    o.dump = dump_report(o.reports[0], dev);

    std::istringstream in(o.dump);
    std::vector<std::string> vdd;  // column G of JOB_B, by row
    bool in_job = false;
    while (std::getline(in, line)) {
        if (line.starts_with("== ")) in_job = line == "== JOB_B";
        else if (in_job && line.starts_with("G")) vdd.push_back(line);
    }
    const std::vector<std::string> expected = {"G1 = 'VDD' | bold", "G2 = 1.2", "G3 = 1.5", "G4 = 1.2", "G5 = 1.5",
                                               "G7 = 1.2", "G8 = 1.5", "G9 = 1.2", "G10 = 1.5"};
    EXPECT_EQ(vdd, expected) << o.dump;
    // The Cold test fails at its first pin (no cell), and says so for both of its uses.
    EXPECT_EQ(o.count("spec variable 'VDD_LVL' has no value for 'COLD TYP'"), 2u) << ::testing::PrintToString(o.log);
}

TEST(CheckWalk, NoPatternFolderKeepsEverySheet) {
    Outcome o = check_fixture("basic", "Period", "", "", {"JOB_A"}, /*with_patterns=*/false);
    ASSERT_FALSE(o.failed) << ::testing::PrintToString(o.log);
    expect_golden(o.dump, "basic_no_patterns.txt");
    // The pattern map sheet's five rows still count its progress up to 100, never past it.
    ASSERT_GE(o.progress.size(), 5u);
    const std::vector<double> tail(o.progress.end() - 5, o.progress.end());
    EXPECT_EQ(tail, (std::vector<double>{92, 94, 96, 98, 100}));
}

TEST(CheckWalk, MissingSheetsAreLoggedAndTheRunGoesOn) {
    const fs::path dev = fresh_dir("missing_device");
    for (const auto& e : fs::directory_iterator(kFixtures / "basic"))
        if (e.is_regular_file()) fs::copy(e.path(), dev / e.path().filename());
    fs::remove(dev / "Test Instances.txt");
    fs::remove(dev / "PSets.txt");
    fs::remove(dev / "Global Specs.txt");
    Outcome o;
    Vantor v(dev.string());
    igxl::diag::CollectingSink sink;
    v.set_sink(sink);
    v.read_device(opts(dev.string()), [&](const std::string& l) { o.log.push_back(l); });
    o.reports = v.run({"JOB_A"}, dev.string());
    // Every log line is an event too, in the same order; lines the console alone shows (the
    // reader's failure, the instance not found) reach only the sink.
    EXPECT_EQ(sink.texts(igxl::diag::kLog), o.log);
    auto find = [&](const std::string& code) {
        return std::find_if(sink.events.begin(), sink.events.end(),
                            [&](const auto& e) { return e.code == code; });
    };
    auto missing = find("check.instance-not-found");
    ASSERT_NE(missing, sink.events.end());
    EXPECT_EQ(missing->severity, igxl::diag::Severity::info);
    EXPECT_EQ(missing->where.job, "JOB_A");
    EXPECT_EQ(missing->where.item, "TP_PWR");
    EXPECT_EQ(missing->where.program, dev.string());
    EXPECT_EQ(missing->channels, unsigned{igxl::diag::kBoth});
    auto unreadable = find("check.instances-unreadable-reason");
    ASSERT_NE(unreadable, sink.events.end());
    EXPECT_EQ(unreadable->channels, unsigned{igxl::diag::kConsole});
    EXPECT_EQ(unreadable->where.file, (dev / "Test%20Instances.txt").string());
    ASSERT_NE(find("check.pattern-set-unreadable"), sink.events.end());
    EXPECT_EQ(find("check.pattern-set-unreadable")->severity, igxl::diag::Severity::warning);
    // Lines of the closing summary point at no job.
    ASSERT_NE(find("check.done"), sink.events.end());
    EXPECT_EQ(find("check.done")->where.job, "");
    EXPECT_FALSE(v.last_run_failed()) << ::testing::PrintToString(o.log);
    EXPECT_EQ(o.count("Warning: cannot read PatternSet, please check it!"), 1u);
    EXPECT_EQ(o.count("Error: cannot read " + (dev / "Test%20Instances.txt").string() +
                      ", please check it!"),
              1u);
    EXPECT_EQ(o.count("Warning: cannot read Global Specs, please check it!"), 1u);
    // No instances: every entry is reported twice, and the DC level of _VDD_NOM is missing.
    EXPECT_EQ(o.count("Info: cannot found TP_PWR in Test Instance, please check."), 2u);
}

TEST(CheckWalk, AnUnreadableInstanceSheetIsReportedForEveryJobThatNamesIt) {
    // Both jobs name the same sheets; the instances of the first job serve the second only when
    // they were read whole, so the failure is not hidden behind the first job's reading.
    const fs::path dev = fresh_dir("missing_instances_two_jobs");
    for (const auto& e : fs::directory_iterator(kFixtures / "basic"))
        if (e.is_regular_file()) fs::copy(e.path(), dev / e.path().filename());
    fs::remove(dev / "Test Instances.txt");
    Outcome o;
    Vantor v(dev.string());
    v.read_device(opts(dev.string()), [&](const std::string& l) { o.log.push_back(l); });
    o.reports = v.run({"JOB_A", "JOB_B"}, dev.string());
    EXPECT_FALSE(v.last_run_failed()) << ::testing::PrintToString(o.log);
    EXPECT_EQ(o.count("Error: cannot read " + (dev / "Test%20Instances.txt").string() +
                      ", please check it!"),
              2u);
}

// Every part of a report workbook by name; the creation and modification times of the document
// properties and the run settings of the Findings sheet are the only volatile content and are blanked.
std::map<std::string, std::string> report_parts(const std::string& report) {
    std::map<std::string, std::string> parts;
    int err = 0;
    zip_t* z = zip_open(report.c_str(), ZIP_RDONLY, &err);
    if (!z) return parts;
    for (zip_int64_t i = 0; i < zip_get_num_entries(z, 0); ++i) {
        std::string body;
        if (zip_file_t* f = zip_fopen_index(z, static_cast<zip_uint64_t>(i), 0)) {
            char buf[8192];
            zip_int64_t n;
            while ((n = zip_fread(f, buf, sizeof buf)) > 0) body.append(buf, static_cast<size_t>(n));
            zip_fclose(f);
        }
        parts[zip_get_name(z, static_cast<zip_uint64_t>(i), 0)] = std::move(body);
    }
    zip_close(z);
    static const igxl::util::Regex times("(<dcterms:(?:created|modified)[^>]*>)[^<]*");
    auto core = parts.find("docProps/core.xml");
    if (core != parts.end()) core->second = times.replace_all(core->second, "$1");
    // The Findings sheet's program, options, tool version and date (cells B2, B5, B6, B7).
    static const igxl::util::Regex settings(R"((<c r="B[2567]" t="inlineStr"><is><t[^>]*>)[^<]*)");
    auto findings = parts.find("xl/worksheets/sheet1.xml");
    if (findings != parts.end()) findings->second = settings.replace_all(findings->second, "$1");
    return parts;
}

// Parts that differ from the reviewed workbook's (written by another writer), each with why; every
// other XML part must be the same after canonical normalisation (attribute order, whitespace,
// namespace prefixes).
const std::map<std::string, std::string> kPartsThatDiffer = {
    {"xl/theme/theme1.xml",
     "our own compact Office theme: the same colour scheme and fonts (the styles use only colour 1 "
     "and the minor font Calibri), plain fill, line and effect styles instead of the gradients and "
     "shadows nothing in a report uses"},
};

// Compares the report part by part with a reviewed workbook's parts kept under golden/<name>/
// (the macro project is compared with the one the build made); IGXL_UPDATE_GOLDEN=1 rewrites them.
void expect_golden_parts(const std::string& report, const std::string& name) {
    const auto parts = report_parts(report);
    ASSERT_FALSE(parts.empty()) << report;
    const fs::path dir = kGolden / name;
    if (std::getenv("IGXL_UPDATE_GOLDEN")) {
        fs::remove_all(dir);
        for (const auto& [part, body] : parts) {
            if (part == "xl/vbaProject.bin") continue;
            fs::create_directories((dir / part).parent_path());
            std::ofstream(dir / part, std::ios::binary) << body;
        }
        return;
    }
    std::vector<std::string> expected;
    for (const auto& e : fs::recursive_directory_iterator(dir))
        if (e.is_regular_file()) expected.push_back(fs::relative(e.path(), dir).generic_string());
    expected.push_back("xl/vbaProject.bin");
    std::sort(expected.begin(), expected.end());
    std::vector<std::string> actual;
    for (const auto& [part, body] : parts) actual.push_back(part);
    EXPECT_EQ(actual, expected);
    for (const auto& [part, body] : parts) {
        if (part == "xl/vbaProject.bin") {
            EXPECT_TRUE(body == slurp(Vantor::vba_project_path())) << "the macro project differs from the build's";
            continue;
        }
        const std::string want = slurp(dir / part);
        if (kPartsThatDiffer.count(part)) {
            EXPECT_EQ(igxl::testing::canonical_xml(body).rfind("<not well-formed", 0), std::string::npos) << part;
            continue;
        }
        EXPECT_EQ(igxl::testing::canonical_xml(body), igxl::testing::canonical_xml(want))
            << "part " << part << " differs from " << (dir / part);
    }
    // What the styles take from the theme is there.
    const auto theme = parts.find("xl/theme/theme1.xml");
    ASSERT_NE(theme, parts.end());
    for (const char* fact : {"<a:dk1><a:sysClr val=\"windowText\" lastClr=\"000000\"/></a:dk1>",
                             "<a:minorFont><a:latin typeface=\"Calibri\"/>"})
        EXPECT_NE(theme->second.find(fact), std::string::npos) << fact;
    EXPECT_EQ(igxl::testing::package_faults(report), std::vector<std::string>{});
}

// The demo program (build target demo_program) checked from its workbook, as the demo command
// does, in both cycle modes with the demo's power order rows.
void check_demo(const std::string& cycle_mode, const std::string& golden_name) {
    igxl::set_patinfo_program(IGXL_BINARY_DIR "/bin/patinfo");
    const fs::path demo = fs::path(IGXL_BINARY_DIR) / "demo";
    ASSERT_TRUE(fs::exists(demo / "DemoProgram.xlsm")) << "build the demo_program target first";
    const fs::path work = fresh_dir("demo_" + cycle_mode);
    fs::copy(demo / "patterns", work / "patterns");
    const fs::path xls = work / "PowerOrder.xls";
    ASSERT_TRUE(write_power_order(xls, {{"vdd_io", "VIO"}, {"vdd_core", "VCORE"}, {"vdda", ""},
                                        {"vpp", "VPP_PROG"}, {"vref", ""}}));
    Outcome o;
    Vantor v((work / "program").string());
    v.read_device(opts((demo / "DemoProgram.xlsm").string(), xls.string(),
                       (work / "patterns").string(), Platform::UltraFLEX, cycle(cycle_mode)),
                  [&](const std::string& l) { o.log.push_back(l); },
                  [&](double p) { o.progress.push_back(p); });
    std::vector<std::string> jobs;
    for (const auto& [name, _] : v.get_job_list()) jobs.push_back(name);
    ASSERT_EQ(jobs.size(), 3u);
    o.reports = v.run(jobs, work.string());
    ASSERT_FALSE(v.last_run_failed()) << ::testing::PrintToString(o.log);
    ASSERT_EQ(o.reports.size(), 1u);
    expect_golden(dump_report(o.reports[0], work), golden_name);
    expect_golden_parts(o.reports[0], fs::path(golden_name).stem().string() + "_parts");
    // Every job ends its walk at 100, the pattern map sheet ends the run at 100.
    EXPECT_EQ(std::count(o.progress.begin(), o.progress.end(), 100.0), 4);
    EXPECT_TRUE(std::is_sorted(o.progress.begin() + 1, o.progress.begin() + 8));
}

TEST(CheckDemo, PeriodReportMatchesReviewedRendering) { check_demo("Period", "demo_period.txt"); }

TEST(CheckDemo, FrequencyReportMatchesReviewedRendering) {
    check_demo("Frequency", "demo_frequency.txt");
}

}  // namespace
