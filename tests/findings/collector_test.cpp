// The findings collector fed directly: what holds across jobs (instance rows shared by the jobs
// that read the same sheet, names used by one job and defined by another), events placed on the
// rows they name, repeats dropped, and the order of the result.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "check/findings.h"

namespace {

using igxl::FindingsCollector;
using igxl::FlowRowFields;
using igxl::InstanceMap;

// A flow row of literal texts (the list it is added to copies them).
FlowRowFields row(std::string_view file, unsigned line, std::string_view op, std::string_view param,
                  std::string_view hard = "1", std::string_view sort = "1", std::string_view result = "Fail") {
    FlowRowFields r;
    r.file = file;
    r.line = line;
    r.Opcode = op;
    r.Parameter = param;
    r.HardBin = hard;
    r.SortBin = sort;
    r.Result = result;
    return r;
}

// A row of an instance sheet, added to map under name.
void add_instance(InstanceMap& map, const std::string& name, std::string_view file, unsigned line,
                  std::string_view args, std::vector<std::string_view> values) {
    InstanceMap::Row rec;
    rec.file = file;
    rec.line = line;
    rec.TimeSet = "tsb_a";
    rec.PinLevel = "Levels_A";
    rec.ArgList = args;
    rec.ArgDetails = values;
    map.add(name, rec);
}

igxl::diag::Event event(std::string code, std::string job, std::string item, std::string text = "why") {
    igxl::diag::Event e;
    e.severity = igxl::diag::Severity::error;
    e.code = std::move(code);
    e.text = std::move(text);
    e.where.job = std::move(job);
    e.where.item = std::move(item);
    return e;
}

// "rule job sheet:line test | message", one per finding in result order.
std::vector<std::string> lines_of(const igxl::FindingsResult& r) {
    std::vector<std::string> out;
    for (const auto& f : r.findings)
        out.push_back(f.rule + " " + f.job + " " + f.sheet() + ":" + std::to_string(f.line) + " " + f.test + " | " +
                      f.message);
    return out;
}

std::vector<std::string> of_rule(const std::vector<std::string>& all, const std::string& rule) {
    std::vector<std::string> out;
    for (const auto& l : all)
        if (l.starts_with(rule + " ")) out.push_back(l);
    return out;
}

TEST(FindingsCollector, JobsSharingAnInstanceSheetAndEventsPlacedOnTheirRows) {
    // Both jobs read the same instance sheet; each runs one instance of it, and the default bin row.
    InstanceMap instances;
    add_instance(instances, "T_A", "dir/Test%20Instances.txt", 5, "Patterns,Mode", {"PS_ONE", ""});
    add_instance(instances, "T_B", "dir/Test%20Instances.txt", 6, "Patterns,Mode", {"ps_two", ""});
    add_instance(instances, "T_C", "dir/Test%20Instances.txt", 7, "", {"", "x"});
    const std::vector<std::pair<std::string, std::vector<std::string>>> sets = {
        {"dir/PatSets.txt", {"PS_ONE", "PS_TWO", "PS_UNUSED"}}};
    auto bin_row = row("dir/Flow_A.txt", 9, "set-device", "", "9", "99", "Fail");

    FindingsCollector c;
    // Events come while a job is walked, before its rows are handed over.
    c.add_event(event("check.instance-not-found", "JOB1", "T_NOP"));
    c.add_event(event("check.entry-failed", "JOB1", "T_A"));
    c.add_event(event("check.spec-unresolved", "JOB1", "T_A", "spec x"));
    c.add_event(event("check.spec-unresolved", "JOB1", "T_A", "spec x"));  // the same again
    c.add_event(event("check.entry-failed", "JOB1", "T_LOST"));
    c.add_job("JOB1",
              {row("dir/Flow_A.txt", 5, "Test", "T_A"), row("dir/Flow_A.txt", 6, "nop", "T_NOP"),
               row("dir/Flow_A.txt", 7, "Test", "T_C", "2", "2"), bin_row},
              instances, sets, "");
    c.add_job("JOB2", {row("dir/Flow_B.txt", 3, "Test", "T_B", "3", "3"), bin_row}, instances, sets, "");
    c.add_event(event("check.spec-unresolved", "JOB2", "T_B", "late"));

    const auto result = c.finish("no/such/folder", igxl::Baseline{});
    const auto all = lines_of(result);
    // Errors first, in the order found; then the info findings.
    EXPECT_EQ(of_rule(all, "spec-unresolved"),
              (std::vector<std::string>{
                  "spec-unresolved JOB1 Flow_A:5 T_A | Spec expression of T_A cannot be resolved: spec x",
                  "spec-unresolved JOB2 Flow_B:3 T_B | Spec expression of T_B cannot be resolved: late"}));
    // Not found on a nop row is no finding; a failure of an entry with another finding is
    // explained by it; one the walk could not place stays, unplaced.
    EXPECT_TRUE(of_rule(all, "instance-not-found").empty());
    EXPECT_EQ(of_rule(all, "entry-failed"),
              (std::vector<std::string>{"entry-failed JOB1 :0 T_LOST | Flow entry T_LOST could not be checked: why"}));
    // Each instance row once, named by the first job that runs it; a row without argument
    // names counts its arguments.
    EXPECT_EQ(of_rule(all, "blank-argument"),
              (std::vector<std::string>{
                  "blank-argument JOB1 Test Instances:5 T_A | Instance T_A leaves arguments blank: Mode",
                  "blank-argument JOB1 Test Instances:7 T_C | Instance T_C leaves arguments blank: Arg0",
                  "blank-argument JOB2 Test Instances:6 T_B | Instance T_B leaves arguments blank: Mode"}));
    // A set named (in any case) by an instance of either job is used.
    ASSERT_EQ(of_rule(all, "unused-pattern-set").size(), 1u);
    EXPECT_NE(of_rule(all, "unused-pattern-set")[0].find(" PS_UNUSED | "), std::string::npos);
    EXPECT_TRUE(of_rule(all, "unused-instance").empty());
    size_t last_error = 0, first_info = all.size();
    for (size_t i = 0; i < result.findings.size(); ++i) {
        if (result.findings[i].severity == igxl::diag::Severity::error) last_error = i;
        if (result.findings[i].severity == igxl::diag::Severity::info) first_info = std::min(first_info, i);
    }
    EXPECT_LT(last_error, first_info);
    EXPECT_EQ(result.counts().error, 3u);
}

TEST(FindingsCollector, UseLimitRowsSpeakForTheTestBeforeThemAndRunsAreKeptPerCondition) {
    FindingsCollector c;
    auto test = row("dir/Flow.txt", 5, "Test", "T_A", "", "");
    auto limit = row("dir/Flow.txt", 6, "Use-Limit", "", "4", "40");
    limit.TestNumber = "100";
    auto again = row("dir/Flow.txt", 7, "Test", "T_A", "5", "50");
    auto other_enable = row("dir/Flow.txt", 8, "Test", "T_A", "5", "50");
    other_enable.Enable = "eng";
    auto numbered_again = row("dir/Flow.txt", 9, "Use-Limit", "", "4", "40");
    numbered_again.TestNumber = "100";
    auto bin_row = row("dir/Flow.txt", 10, "set-device", "", "9", "99", "Fail");
    c.add_job("JOB", {test, limit, again, other_enable, numbered_again, bin_row}, {}, {}, "");
    const auto all = lines_of(c.finish("no/such/folder", igxl::Baseline{}));
    // The second Use-Limit row follows the test of row 8 and is named after it.
    EXPECT_EQ(of_rule(all, "duplicate-test-number"),
              (std::vector<std::string>{
                  "duplicate-test-number JOB Flow:9 T_A | Test number 100 is used twice in the job (also at Flow:6)"}));
    EXPECT_EQ(of_rule(all, "duplicate-test"),
              (std::vector<std::string>{
                  "duplicate-test JOB Flow:7 T_A | Test T_A runs twice in the flow under the same conditions (also at Flow:5)"}));
    EXPECT_TRUE(of_rule(all, "no-default-bin").empty());
}

TEST(FindingsCollector, BinFindingsComeInBinOrderWithTheirTestsInFlowOrder) {
    // Bins are ordered as texts ("10" before "9"); a bin's tests are listed in flow order; a nop
    // row binning nothing is left out.
    FindingsCollector c;
    c.add_job("JOB",
              {row("dir/Flow.txt", 5, "Test", "T_A", "1", "9", "Fail"), row("dir/Flow.txt", 6, "Test", "T_B", "2", "10"),
               row("dir/Flow.txt", 7, "Test", "T_C", "1", "9", "Pass"), row("dir/Flow.txt", 8, "Test", "T_D", "3", "10"),
               row("dir/Flow.txt", 9, "nop", "T_E", "4", "10", "Pass"),
               row("dir/Flow.txt", 10, "set-device", "", "99", "999", "Fail")},
              {}, {}, "");
    EXPECT_EQ(lines_of(c.finish("no/such/folder", igxl::Baseline{})),
              (std::vector<std::string>{
                  "sort-bin-two-hard-bins JOB Flow:8 T_D | Sort bin 10 is mapped to hard bins 2, 3",
                  "bin-pass-and-fail JOB Flow:7 T_C | Sort bin 9 is used with both pass and fail results",
                  "bin-pass-and-fail JOB Flow:7 T_C | Hard bin 1 is used with both pass and fail results",
                  "duplicate-sort-bin JOB Flow:8 T_D | Sort bin 10 is given to more than one flow entry: T_B, T_D",
                  "duplicate-sort-bin JOB Flow:7 T_C | Sort bin 9 is given to more than one flow entry: T_A, T_C"}));
}

}  // namespace
