// Pairs of small programs, one kind of edit each: what the diff reports, and that it reports
// nothing else.
#include <gtest/gtest.h>

#include <cstdlib>

#include <nlohmann/json.hpp>

#include "diff/compare.h"
#include "diff/diff_report.h"
#include "diff/program_diff.h"
#include "tests/diff/program_copy.h"
#include "util/error.h"

namespace igxl::diff {
namespace {

using namespace igxl::diff::testing;

const fs::path kBase = fs::path(IGXL_SOURCE_DIR) / "tests/diff/fixtures/base";

std::string show(const Change& c) {
    return std::string(to_text(c.change)) + " | " + std::string(to_text(c.kind)) + " | " + c.job +
           " | " + c.sheet + " | " + c.key + " | " + c.field + " | " +
           c.old_value.value_or("<none>") + " | " + c.new_value.value_or("<none>");
}

std::string show(const std::vector<Change>& changes) {
    std::string out;
    for (const auto& c : changes) out += show(c) + "\n";
    return out;
}

// A copy of the base program that a test edits into the new revision.
class Revisions : public ::testing::Test {
protected:
    Revisions() : dir_("rev") { copy_program(kBase, dir_.path()); }
    fs::path sheet(const std::string& name) const { return dir_.path() / (name + ".txt"); }
    DiffResult run(DiffOptions options = {}) {
        diag::CollectingSink sink;
        DiffResult r = diff_programs(kBase.string(), dir_.str(), options, sink);
        for (const auto& e : sink.events)
            if (e.code.rfind("diff.", 0) == 0 && e.severity == diag::Severity::warning)
                warnings.push_back(e.text);
        return r;
    }
    ScratchDir dir_;
    std::vector<std::string> warnings;
};

TEST_F(Revisions, IdenticalProgramsGiveNoChange) {
    DiffResult r = run();
    EXPECT_TRUE(r.changes.empty()) << show(r.changes);
    EXPECT_FALSE(r.has_change());
    EXPECT_TRUE(warnings.empty());
    EXPECT_EQ(r.jobs, (std::vector<std::string>{"HOT", "COLD"}));
}

TEST_F(Revisions, NumbersWrittenOtherwiseAreNoChange) {
    // A workbook export writes 100 where a text sheet may say 100.0.
    set_field(sheet("Flow_Hot"), {"T_CONT"}, 9, "100.0");
    set_field(sheet("Global Specs"), {"VIO"}, 3, "=3.30");
    DiffResult r = run();
    EXPECT_TRUE(r.changes.empty()) << show(r.changes);
}

TEST_F(Revisions, InsertedFlowRowIsOneAdditionNotACascade) {
    insert_after(sheet("Flow_Hot"), {"T_CONT"},
                 "\t\t\t\t\t\tTest\tT_NEW\t\t150\t\t\t\t\t\t\t9\t\t90\tFail\t");
    DiffResult r = run();
    ASSERT_EQ(r.changes.size(), 1u) << show(r.changes);
    const Change& c = r.changes[0];
    EXPECT_EQ(c.change, ChangeType::added);
    EXPECT_EQ(c.kind, Kind::flow_entry);
    EXPECT_EQ(c.job, "HOT");
    EXPECT_EQ(c.sheet, "Flow_Hot");
    EXPECT_EQ(c.key, "T_NEW");
    EXPECT_FALSE(c.old_value);
    EXPECT_EQ(*c.new_value, "position 2: Opcode=Test TestNumber=150 HardBin=9 SortBin=90 Result=Fail");
}

TEST_F(Revisions, FlowFieldsRemovalAndMoveByOccurrence) {
    // The second T_FUNC gets another sort bin; the first keeps its own.
    set_field(sheet("Flow_Hot"), {"T_FUNC", "210"}, 18, "32");
    remove_line(sheet("Flow_Cold"), {"T_CONT"});
    move_after(sheet("Flow_Hot"), {"T_CONT"}, {"T_LEAK"});
    DiffResult r = run();
    ASSERT_EQ(r.changes.size(), 3u) << show(r.changes);
    EXPECT_EQ(show(r.changes[0]), "moved | flow entry | HOT | Flow_Hot | T_CONT | position | 1 | 3");
    EXPECT_EQ(show(r.changes[1]),
              "changed | flow entry | HOT | Flow_Hot | T_FUNC #2 | SortBin | 31 | 32");
    EXPECT_EQ(show(r.changes[2]),
              "removed | flow entry | COLD | Flow_Cold | T_CONT |  | position 1: Opcode=Test "
              "TestNumber=100 HardBin=2 SortBin=20 Result=Fail | <none>");
}

TEST_F(Revisions, MovedEntryThatAlsoChangedIsAChange) {
    move_after(sheet("Flow_Hot"), {"T_CONT"}, {"T_LEAK"});
    set_field(sheet("Flow_Hot"), {"T_CONT"}, 9, "101");
    DiffResult r = run();
    ASSERT_EQ(r.changes.size(), 2u) << show(r.changes);
    EXPECT_EQ(show(r.changes[0]), "changed | flow entry | HOT | Flow_Hot | T_CONT | TestNumber | 100 | 101");
    EXPECT_EQ(show(r.changes[1]), "changed | flow entry | HOT | Flow_Hot | T_CONT | position | 1 | 3");
}

TEST_F(Revisions, JobsAddedRemovedAndChanged) {
    set_field(sheet("Job List"), {"COLD"}, 1, "COLD2");
    set_field(sheet("Job List"), {"HOT"}, 4, "Flow_Cold");
    DiffResult r = run();
    // HOT now runs the cold flow: its flow entries differ as well.
    std::vector<std::string> jobs;
    for (const auto& c : r.changes)
        if (c.kind == Kind::job) jobs.push_back(show(c));
    EXPECT_EQ(jobs, (std::vector<std::string>{
                        "changed | job | HOT | Job List | HOT | Flow Table | Flow_Hot | Flow_Cold",
                        "removed | job | COLD | Job List | COLD |  | Flow Table=Flow_Cold | <none>",
                        "added | job | COLD2 | Job List | COLD2 |  | <none> | Flow Table=Flow_Cold"}))
        << show(r.changes);
    // Entries of a job that is only in one revision are not listed one by one.
    for (const auto& c : r.changes) {
        if (c.kind == Kind::flow_entry) {
            EXPECT_EQ(c.job, "HOT") << show(c);
        }
    }
}

TEST_F(Revisions, ChosenJobsLimitTheComparison) {
    set_field(sheet("Flow_Cold"), {"T_FUNC"}, 9, "201");
    DiffOptions only_hot;
    only_hot.jobs = {"HOT"};
    EXPECT_TRUE(run(only_hot).changes.empty());
    DiffOptions unknown;
    unknown.jobs = {"WARM"};
    EXPECT_THROW(run(unknown), Error);
}

TEST_F(Revisions, InstanceFieldsAndArgumentsByName) {
    set_field(sheet("Test Instances"), {"T_FUNC"}, 9, "TSB_Other");
    set_field(sheet("Test Instances"), {"T_FUNC"}, 15, "PS_SUB");
    // The same force voltage written another way is a note.
    set_field(sheet("Test Instances"), {"T_LEAK"}, 16, "=_VIO/2");
    DiffResult r = run();
    ASSERT_GE(r.changes.size(), 3u) << show(r.changes);
    EXPECT_EQ(show(r.changes[0]),
              "changed | instance |  | Test Instances | T_FUNC | TimeSet | TSB_Main | TSB_Other");
    EXPECT_EQ(show(r.changes[1]),
              "changed | instance |  | Test Instances | T_FUNC | Patterns | PS_MAIN | PS_SUB");
    EXPECT_EQ(show(r.changes[2]),
              "note | instance |  | Test Instances | T_LEAK | ForceV | =_VIO*0.5 | =_VIO/2");
    // A time-set sheet no instance names any more is gone from what the new revision uses.
    for (size_t i = 3; i < r.changes.size(); ++i) EXPECT_EQ(r.changes[i].kind, Kind::time_set);
    EXPECT_FALSE(warnings.empty());  // TSB_Other does not exist
}

TEST_F(Revisions, LevelTextAndResolvedValueAreReportedApart) {
    set_field(sheet("Levels_Main"), {"vdd", "VMain"}, 4, "=_VDD_LVL*0.9");
    set_field(sheet("Levels_Main"), {"vio", "IFoldLevel"}, 4, "=0.1*A");
    DiffResult r = run();
    ASSERT_EQ(r.changes.size(), 4u) << show(r.changes);
    EXPECT_EQ(show(r.changes[0]),
              "changed | level |  | Levels_Main | VDD | VMain/VPS | _VDD_LVL | _VDD_LVL*0.9");
    // T_IDD runs the sheet at the max selector, the others at nom.
    EXPECT_EQ(show(r.changes[1]),
              "changed | level |  | Levels_Main | VDD | VMain/VPS at Typ_Cond/max (DC Specs) | "
              "0.95 | 0.855");
    EXPECT_EQ(show(r.changes[2]),
              "changed | level |  | Levels_Main | VDD | VMain/VPS at Typ_Cond/nom (DC Specs) | "
              "0.9 | 0.81");
    EXPECT_EQ(show(r.changes[3]),
              "note | level |  | Levels_Main | VIO | IFoldLevel | 100*MA | 0.1*A");
    EXPECT_TRUE(r.has_change());
}

TEST_F(Revisions, SpecValueChangeShowsWhereLevelsUseIt) {
    set_field(sheet("DC Specs"), {"VDD_LVL"}, 5, "=0.88*V");
    DiffResult r = run();
    ASSERT_EQ(r.changes.size(), 2u) << show(r.changes);
    EXPECT_EQ(show(r.changes[0]),
              "changed | level |  | Levels_Main | VDD | VMain/VPS at Typ_Cond/nom (DC Specs) | "
              "0.9 | 0.88");
    EXPECT_EQ(show(r.changes[1]), "changed | spec |  | DC Specs | VDD_LVL | TYP_COND TYP | =0.9*V | =0.88*V");
}

TEST_F(Revisions, SpecRewrittenToTheSameValueIsOnlyANote) {
    set_field(sheet("DC Specs"), {"VDD_LVL"}, 5, "=900*mV");
    set_field(sheet("AC Specs"), {"PER_MAIN"}, 4, "=0.02*us");
    DiffResult r = run();
    ASSERT_EQ(r.changes.size(), 2u) << show(r.changes);
    EXPECT_EQ(r.changes[0].change, ChangeType::note);
    EXPECT_EQ(r.changes[0].key, "VDD_LVL");
    EXPECT_EQ(r.changes[1].change, ChangeType::note);
    EXPECT_EQ(r.changes[1].key, "PER_MAIN");
    EXPECT_FALSE(r.has_change());
}

TEST_F(Revisions, GlobalSpecChangeReachesTimeSetsAndInstances) {
    set_field(sheet("Global Specs"), {"VIO"}, 3, "3.0");
    set_field(sheet("TSB_Main"), {"ts_slow", "clk"}, 4, "=40*ns");
    DiffResult r = run();
    std::vector<std::string> got;
    for (const auto& c : r.changes) got.push_back(show(c));
    EXPECT_EQ(got, (std::vector<std::string>{
                       "changed | level |  | Levels_Main | VIO | VMain/VPS at Typ_Cond/max (DC Specs) | 3.3 | 3",
                       "changed | level |  | Levels_Main | VIO | VMain/VPS at Typ_Cond/nom (DC Specs) | 3.3 | 3",
                       "changed | time set |  | TSB_Main | TS_SLOW clk | Clock | 50*NS | 40*NS",
                       "changed | time set |  | TSB_Main | TS_SLOW clk | Clock at Func_Cond/typ_ac (AC Specs) | 5e-08 | 4e-08",
                       "changed | global spec |  | Global Specs | VIO | Value | 3.3 | 3.0"}))
        << show(r.changes);
}

TEST_F(Revisions, TimeSetsAndPatternSets) {
    set_field(sheet("TSB_Main"), {"ts_main", "clk"}, 2, "=_PER_MAIN*2");
    set_field(sheet("TSB_Main"), {"ts_main", "data"}, 2, "=_PER_MAIN*2");
    insert_after(sheet("PatSets"), {"main_b.PAT"}, "\tPS_MAIN\t\t\t.\\patterns\\main_c.PAT\tYes\t\t\t");
    remove_line(sheet("PatSets"), {"main_a.PAT"});
    DiffResult r = run();
    std::vector<std::string> got;
    for (const auto& c : r.changes) got.push_back(show(c));
    EXPECT_EQ(got, (std::vector<std::string>{
                       "changed | time set |  | TSB_Main | TS_MAIN | Period | _PER_MAIN | _PER_MAIN*2",
                       "changed | time set |  | TSB_Main | TS_MAIN | Period at Func_Cond/typ_ac (AC Specs) | 2e-08 | 4e-08",
                       "added | pattern set |  | PatSets | PS_MAIN | pattern | <none> | .\\patterns\\main_c.PAT",
                       "removed | pattern set |  | PatSets | PS_MAIN | pattern | .\\patterns\\main_a.PAT | <none>"}))
        << show(r.changes);
}

TEST_F(Revisions, WholeItemsAddedAndRemoved) {
    insert_after(sheet("Test Instances"), {"T_SUB"},
                 "\tT_SPARE\tVBT\tIdd_T\t\tTyp_Cond\tnom\t\t\t\t\tLevels_Main\t\t\tPins\tvdd"
                 "\t\t\t\t\t\t\t\t\t\t\t\t\t\t");
    // A second record of an instance (a stress corner) is one addition at that instance.
    insert_after(sheet("Test Instances"), {"T_CONT"},
                 "\tT_CONT\tVBT\tContinuity_T\t\tTyp_Cond\tmax\tFunc_Cond\ttyp_ac\t\t\t"
                 "Levels_Main\t\t\tPins,Limit\tall_pins\t=0.2*V\t\t\t\t\t\t\t\t\t\t\t\t\t");
    remove_line(sheet("TSB_Main"), {"ts_slow", "data"});
    remove_line(sheet("TSB_Main"), {"ts_slow", "clk"});
    insert_after(sheet("DC Specs"), {"IDD_MAX"}, "\tVREF\t#N/A\tTyp\tMax\t=1.2*V\t=1.1*V\t=1.3*V\t");
    remove_line(sheet("Global Specs"), {"TEMP_HOT"});
    DiffResult r = run();
    std::vector<std::string> got;
    for (const auto& c : r.changes) got.push_back(show(c));
    EXPECT_EQ(got, (std::vector<std::string>{
                       "added | instance |  | Test Instances | T_CONT | record 2 | <none> | "
                       "Continuity_T Typ_Cond/max Func_Cond/typ_ac  Levels_Main",
                       "added | instance |  | Test Instances | T_SPARE |  | <none> | Idd_T Typ_Cond/nom /  Levels_Main",
                       "removed | time set |  | TSB_Main | TS_SLOW | Period | 100*NS | <none>",
                       "added | spec |  | DC Specs | VREF |  | <none> | SELECTORS NOM=TYP; SELECTORS "
                       "MAX=MAX; TYP_COND TYP==1.2*V; TYP_COND MIN==1.1*V; TYP_COND MAX==1.3*V; "
                       "TYP_COND COMMENT=",
                       "removed | global spec |  | Global Specs | TEMP_HOT | Value | 125 | <none>"}))
        << show(r.changes);
}

TEST_F(Revisions, UnreadableSheetIsLeftOutWithAWarning) {
    // A DC spec sheet without its version cannot be read: its symbols are not all "removed".
    set_field(sheet("DC Specs"), {"DTDCSpecSheet"}, 0, "DC Specs without a version");
    DiffResult r = run();
    for (const auto& c : r.changes) EXPECT_NE(c.kind, Kind::spec) << show(c);
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_NE(warnings[0].find("new revision: sheet 'DC Specs' cannot be read"), std::string::npos)
        << warnings[0];
}

// A DC spec sheet a user doubled by hand (L1 = _L0+1+_L0+1, ...): the diff resolves each level
// with the same bounds as the check, so it finishes, with the values it can resolve and
// "unresolved" where a variable grows too long.
TEST(DoublingSpecSheet, DiffFinishesWithValuesOrUnresolved) {
    ScratchDir old_rev("old"), new_rev("new");
    for (const ScratchDir* rev : {&old_rev, &new_rev}) {
        copy_program(kBase, rev->path());
        const fs::path dc = rev->path() / "DC Specs.txt";
        insert_after(dc, {"IDD_MAX"}, "\tL0\t#N/A\tTyp\tMax\t=1\t=1\t=1\t");
        for (int i = 1; i < 26; ++i) {
            const std::string prev = "_L" + std::to_string(i - 1), v = "=" + prev + "+1+" + prev + "+1";
            insert_after(dc, {"\tL" + std::to_string(i - 1) + "\t"},
                         "\tL" + std::to_string(i) + "\t#N/A\tTyp\tMax\t" + v + "\t" + v + "\t" + v + "\t");
        }
    }
    set_field(new_rev.path() / "Levels_Main.txt", {"vdd", "VMain"}, 4, "=_L25");
    set_field(new_rev.path() / "Levels_Main.txt", {"vio", "IFoldLevel"}, 4, "=_L5");
    diag::CollectingSink sink;
    DiffResult r = diff_programs(old_rev.str(), new_rev.str(), {}, sink);
    EXPECT_EQ(show(r.changes),
              "changed | level |  | Levels_Main | VDD | VMain/VPS | _VDD_LVL | _L25\n"
              "changed | level |  | Levels_Main | VDD | VMain/VPS at Typ_Cond/max (DC Specs) | 0.95 | unresolved\n"
              "changed | level |  | Levels_Main | VDD | VMain/VPS at Typ_Cond/nom (DC Specs) | 0.9 | unresolved\n"
              "changed | level |  | Levels_Main | VIO | IFoldLevel | 100*MA | _L5\n"
              "changed | level |  | Levels_Main | VIO | IFoldLevel at Typ_Cond/max (DC Specs) | 0.1 | 94\n"
              "changed | level |  | Levels_Main | VIO | IFoldLevel at Typ_Cond/nom (DC Specs) | 0.1 | 94\n");
}

TEST(LongestIncreasingRun, KeepsTheLongestOrderedRun) {
    EXPECT_TRUE(detail::longest_increasing_run({}).empty());
    EXPECT_EQ(detail::longest_increasing_run({0, 1, 2}), (std::vector<size_t>{0, 1, 2}));
    // One entry taken from the front to the back: only it is off the run.
    EXPECT_EQ(detail::longest_increasing_run({1, 2, 3, 0}), (std::vector<size_t>{0, 1, 2}));
    EXPECT_EQ(detail::longest_increasing_run({3, 0, 1, 2}), (std::vector<size_t>{1, 2, 3}));
    EXPECT_EQ(detail::longest_increasing_run({2, 0, 3, 1, 4}).size(), 3u);
}

TEST(SameText, NumbersAndLeadingEqualSign) {
    EXPECT_TRUE(detail::same_text("10", "10.0"));
    EXPECT_TRUE(detail::same_text("=0.5", "0.5"));
    EXPECT_TRUE(detail::same_text(" Fail", "Fail"));
    EXPECT_FALSE(detail::same_text("10", "11"));
    EXPECT_FALSE(detail::same_text("", "0"));
    EXPECT_FALSE(detail::same_text("Fail", "fail"));
}

TEST(PrepareProgram, RejectsUnknownFormsAndMissingPrograms) {
    ScratchDir dir("prep");
    spill(dir.path() / "program.txt", "x");
    EXPECT_THROW(prepare_program((dir.path() / "program.txt").string(), dir.str()), Error);
    EXPECT_THROW(prepare_program((dir.path() / "absent.xlsm").string(), dir.str()), Error);
    EXPECT_EQ(prepare_program(kBase.string(), dir.str()), kBase.string());
}

}  // namespace
}  // namespace igxl::diff

namespace igxl::diff {
namespace {

using namespace igxl::diff::testing;

// The workbook read back with openpyxl (through the check's report dump), against the golden
// rendering beside this test.
TEST(DiffWorkbook, SheetsCellsHighlightsFrozenHeaderAndFilter) {
    if (std::system("/usr/bin/python3 -c 'import openpyxl' 2>/dev/null") != 0)
        GTEST_SKIP() << "python3-openpyxl is not installed";
    ScratchDir dir("book");
    const fs::path rev = dir.path() / "rev";
    copy_program(kBase, rev);
    set_field(rev / "Levels_Main.txt", {"vdd", "VMain"}, 4, "=_VDD_LVL*0.9");
    set_field(rev / "DC Specs.txt", {"IDD_MAX"}, 5, "=0.05*A");
    insert_after(rev / "Flow_Cold.txt", {"T_CONT"},
                 "\t\t\t\t\t\tTest\tT_LEAK\t\t150\t\t\t\t\t\t\t4\t\t40\tFail\t");
    remove_line(rev / "PatSets.txt", {"main_b.PAT"});
    DiffResult r = diff_programs(kBase.string(), rev.string(), {});
    r.old_program = "OLD";
    r.new_program = "NEW";
    const fs::path book = dir.path() / "diff.xlsx";
    write_diff_workbook(r, book.string());

    const fs::path dump = dir.path() / "dump.txt";
    const std::string cmd = "/usr/bin/python3 '" IGXL_SOURCE_DIR
                            "/tests/check_walk/dump_report.py' '" +
                            book.string() + "' '" + dump.string() + "'";
    ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
    const fs::path golden = fs::path(IGXL_SOURCE_DIR) / "tests/diff/golden/small_diff_book.txt";
    if (std::getenv("IGXL_UPDATE_GOLDEN")) fs::copy_file(dump, golden, fs::copy_options::overwrite_existing);
    EXPECT_EQ(slurp(dump), slurp(golden)) << "rendered: " << dump;
}

}  // namespace
}  // namespace igxl::diff
