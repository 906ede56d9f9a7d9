#include <gtest/gtest.h>
#include <unistd.h>
#include <zip.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "check/vantor.h"
#include "export/xlsx_writer.h"
#include "tests/support/check_options.h"
#include "tests/support/process.h"
#include "tests/support/zip_member.h"

namespace fs = std::filesystem;
using igxl::CycleMode;
using igxl::Platform;
using igxl::Vantor;
using igxl::test_support::cycle;
using igxl::test_support::opts;

namespace {

const char* kJobList =
    "DTJobListSheet,version=2.5:platform=Jaguar:toprow=-1:leftcol=-1:rightcol=-1\tJob List\t\t\t\t\t\t\n"
    "\t\t\t\t\t\t\t\n"
    "\t\tSheet Parameters\t\t\t\t\t\n"
    "\tJob Name\tPin Map\tTest Instances\tFlow Table\tAC Specs\tDC Specs\tPattern Sets\n"
    "\tJobA\tPins\tInstances\tFlow Table\tAC Specs\tDC Specs\tPatSets\n"
    "\tJobB\tPins\tInstances\tFlow Table\tAC Specs\tDC Specs\tPatSets\n"
    "\tABCDEFGHIJKLMNOPQRSTUVWXYZ\tPins\tInstances\tFlow Table\tAC Specs\tDC Specs\tPatSets\n";

fs::path fresh_dir(const std::string& name) {
    // One folder per test process: other checkouts and builds run these tests at the same time.
    auto d = fs::temp_directory_path() / ("igxl_driver_test_" + std::to_string(getpid())) / name;
    fs::remove_all(d);
    fs::create_directories(d);
    return d;
}

void write(const fs::path& p, const std::string& body) { std::ofstream(p, std::ios::binary) << body; }

struct Recorder {
    std::vector<std::string> lines;
    std::vector<double> progress;
    Vantor::LogCallback log() {
        return [this](const std::string& l) { lines.push_back(l); };
    }
    Vantor::ProgressCallback bar() {
        return [this](double v) { progress.push_back(v); };
    }
    bool has(const std::string& l) const {
        return std::find(lines.begin(), lines.end(), l) != lines.end();
    }
};

// Sheet names of a workbook as an independent reader (openpyxl) sees them.
std::vector<std::string> sheet_names(const std::string& path) {
    std::string out = igxl::testing::run_command("/usr/bin/python3 -c \"import sys,openpyxl; "
                              "print('\\n'.join(openpyxl.load_workbook(sys.argv[1]).sheetnames))\" '" +
                              path + "'").out;
    std::vector<std::string> names;
    size_t start = 0;
    while (start < out.size()) {
        size_t nl = out.find('\n', start);
        if (nl == std::string::npos) nl = out.size();
        names.push_back(out.substr(start, nl - start));
        start = nl + 1;
    }
    return names;
}

}  // namespace

TEST(ReadDevice, FolderIsUsedDirectlyAndTheJobListFoundIgnoringCase) {
    auto dir = fresh_dir("folder");
    write(dir / "JOB_LIST.txt", kJobList);
    write(dir / "Flow Table.txt", "x\n");
    Recorder rec;
    Vantor v((dir / "unused").string());
    v.read_device(opts(dir.string()), rec.log(), rec.bar());
    EXPECT_EQ(v.device_folder(), dir.string());
    EXPECT_FALSE(fs::exists(dir / "unused"));
    ASSERT_EQ(v.get_job_list().size(), 3u);
    EXPECT_EQ(v.get_job_list().begin()->first, "JobA");
    for (const auto& l : rec.lines) EXPECT_NE(l.rfind("Import ", 0), 0u) << l;
    EXPECT_FALSE(v.options().vbt);
}

TEST(ReadDevice, ImportLinesInOrderAndTheVbtSwitch) {
    auto dir = fresh_dir("imports");
    Recorder rec;
    Vantor v(dir.string());
    v.read_device(opts(dir.string(), "power.xls", "/pats", Platform::J750, CycleMode::Frequency,
                       "ctx", true),
                  rec.log());
    ASSERT_GE(rec.lines.size(), 4u);
    EXPECT_EQ(rec.lines[0], "Import Context Environment: ctx");
    EXPECT_EQ(rec.lines[1], "Import Power Order File: power.xls");
    EXPECT_EQ(rec.lines[2], "Import Pattern Path: /pats");
    EXPECT_EQ(rec.lines[3], "Orvane Enabled!");
    EXPECT_TRUE(v.options().vbt);
    EXPECT_EQ(v.options().platform, Platform::J750);
    EXPECT_EQ(v.options().cycle_mode, CycleMode::Frequency);
    EXPECT_TRUE(v.get_job_list().empty());  // no job list file: empty, nothing logged about it

    Recorder r2;
    v.read_device(opts(dir.string()), r2.log());
    EXPECT_FALSE(v.options().vbt);
    EXPECT_TRUE(r2.lines.empty());
    EXPECT_TRUE(v.options().power_order.empty());  // the earlier read left nothing behind
}

TEST(CheckOptions, CycleModeNamesMatchWithoutCase) {
    EXPECT_EQ(igxl::parse_cycle_mode("frequency"), CycleMode::Frequency);
    EXPECT_EQ(igxl::parse_cycle_mode("PERIOD"), CycleMode::Period);
    EXPECT_FALSE(igxl::parse_cycle_mode("Weekly"));
    EXPECT_FALSE(igxl::parse_cycle_mode(""));
    EXPECT_EQ(igxl::cycle_mode_name(CycleMode::Frequency), "Frequency");
    const igxl::CheckOptions defaults;
    EXPECT_EQ(defaults.platform, igxl::kDefaultPlatform);
    EXPECT_EQ(defaults.cycle_mode, CycleMode::Period);
    EXPECT_FALSE(defaults.vbt);
}

TEST(ReadDevice, UnsupportedExtensionIsOnlyLogged) {
    auto dir = fresh_dir("ext");
    write(dir / "prog.xlsx", "not used");
    Recorder rec;
    Vantor v((dir / "work").string());
    v.read_device(opts((dir / "prog.xlsx").string()), rec.log());
    EXPECT_TRUE(rec.has("Error: file extension is not supported."));
    EXPECT_TRUE(v.get_job_list().empty());
}

TEST(ReadDevice, ZipIsUnpackedFlatAndAnOwnFolderIsTaken) {
    auto dir = fresh_dir("zip");
    auto archive = dir / "prog.zip";
    int err = 0;
    zip_t* z = zip_open(archive.string().c_str(), ZIP_CREATE | ZIP_TRUNCATE, &err);
    ASSERT_NE(z, nullptr);
    std::string body = kJobList;
    zip_source_t* src = zip_source_buffer(z, body.data(), body.size(), 0);
    ASSERT_GE(zip_file_add(z, "deep/folder/Job List.txt", src, ZIP_FL_OVERWRITE), 0);
    ASSERT_EQ(zip_close(z), 0);

    auto work = dir / "work";
    Vantor v(work.string());
    v.read_device(opts(archive.string()));
    EXPECT_EQ(v.device_folder(), work.string());
    EXPECT_TRUE(fs::exists(work / "Job List.txt"));
    EXPECT_EQ(v.get_job_list().size(), 3u);

    // A folder named after the archive inside the working folder becomes the device folder.
    fs::create_directories(work / "prog");
    write(work / "prog" / "job_list.txt", kJobList);
    Vantor v2(work.string());
    v2.read_device(opts(archive.string()));
    EXPECT_EQ(v2.device_folder(), (work / "prog").string());
}

TEST(ReadDevice, WorkbookIsExportedSheetBySheet) {
    auto dir = fresh_dir("xlsm");
    auto book = dir / "prog.xlsm";
    igxl::xlsx::writer::Workbook wb(book.string());
    auto& jobs = wb.add_worksheet("Job List");
    auto& flow = wb.add_worksheet("Flow Table");
    jobs.write_string(0, 0, "DTJobListSheet,version=2.5:platform=Jaguar");
    jobs.write_string(3, 1, "Job Name");
    const char* row[] = {"", "JobX", "Pins", "TI", "Flow Table", "AC", "DC", "PS"};
    for (unsigned c = 1; c < 8; ++c) jobs.write_string(4, c, row[c]);
    flow.write_number(0, 0, 3);
    wb.close();

    auto work = dir / "work";
    Vantor v(work.string());
    v.read_device(opts(book.string()));
    EXPECT_TRUE(fs::exists(work / "Job List.txt"));
    EXPECT_TRUE(fs::exists(work / "Flow Table.txt"));
    ASSERT_EQ(v.get_job_list().size(), 1u);
    EXPECT_EQ(v.get_job_list().at("JobX").FlowTable, "Flow Table");
}

TEST(Run, ReportNameRule) {
    std::tm t{};
    t.tm_year = 2026 - 1900;
    t.tm_mon = 11;
    t.tm_mday = 6;
    t.tm_hour = 9;
    t.tm_min = 7;
    t.tm_sec = 5;
    EXPECT_EQ(Vantor::report_file_name(t), "Vantor_2026-12-06__090705.xlsm");
    t.tm_hour = 23;
    t.tm_min = 0;
    t.tm_sec = 59;
    EXPECT_EQ(Vantor::report_file_name(t), "Vantor_2026-12-06__230059.xlsm");
    EXPECT_EQ(Vantor::report_file_name(t, 2), "Vantor_2026-12-06__230059_2.xlsm");
}

class RunTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fresh_dir(::testing::UnitTest::GetInstance()->current_test_info()->name());
        write(dir / "Job List.txt", kJobList);
        // The smallest program a run walks: a flow table without entries and empty spec sheets.
        write(dir / "Flow Table.txt",
              "DTFlowtableSheet,version=2.2:platform=Jaguar\tFlow Table\n\n\n\tLabel\tEnable\n");
        write(dir / "DC Specs.txt",
              "DTDCSpecSheet,version=2.3:platform=Jaguar\tDC Spec\n\n\t\t\tSelector\n\tSymbol\tValue\tVal\n");
        write(dir / "AC Specs.txt",
              "DTACSpecSheet,version=2.3:platform=Jaguar\tAC Spec\n\n\t\t\tSelector\n\tSymbol\tValue\tVal\n");
        out = dir / "out";
        fs::create_directories(out);
    }
    fs::path dir, out;
};

TEST_F(RunTest, SheetsInOrderAndTheClosingLines) {
    Recorder rec;
    Vantor v(dir.string());
    v.read_device(opts(dir.string()), rec.log(), rec.bar());
    auto paths = v.run({"JobA", "JobB"}, out.string());
    ASSERT_EQ(paths.size(), 1u);
    EXPECT_FALSE(v.last_run_failed());
    EXPECT_EQ(fs::path(paths[0]).parent_path(), out);
    EXPECT_EQ(fs::path(paths[0]).extension(), ".xlsm");
    EXPECT_EQ(sheet_names(paths[0]),
              (std::vector<std::string>{"Findings", "JobA", "JobB", "PatTsetMap_JobB", "SortBinDescrp",
                                        "InstParametersCheck", "PowerPinClampCheck"}));
    ASSERT_GE(rec.lines.size(), 3u);
    EXPECT_EQ(rec.lines[rec.lines.size() - 3], "Output file path is: " + paths[0]);
    EXPECT_EQ(rec.lines[rec.lines.size() - 2], "Execution successful!!!");
    EXPECT_EQ(rec.lines.back(), "===============================END===============================");
    ASSERT_FALSE(rec.progress.empty());
    EXPECT_EQ(rec.progress.front(), 0);
}

TEST_F(RunTest, MapSheetTakesTwentyCharactersOfTheLastJobAndNoCallbacksAreNeeded) {
    Vantor v(dir.string());
    v.read_device(opts(dir.string()));
    auto paths = v.run({"ABCDEFGHIJKLMNOPQRSTUVWXYZ"}, out.string());
    ASSERT_EQ(paths.size(), 1u);
    auto names = sheet_names(paths[0]);
    ASSERT_GE(names.size(), 3u);
    EXPECT_EQ(names[2], "PatTsetMap_ABCDEFGHIJKLMNOPQRST");
}

TEST_F(RunTest, FailuresEndTheRunThroughTheCatchAll) {
    for (auto jobs : {std::vector<std::string>{}, std::vector<std::string>{"NoSuchJob"},
                      std::vector<std::string>{"A_job_name_that_is_far_too_long_for_a_sheet"}}) {
        Recorder rec;
        Vantor v(dir.string());
        igxl::diag::CollectingSink sink;
        v.set_sink(sink);
        v.read_device(opts(dir.string()), rec.log());
        auto paths = v.run(jobs, out.string());
        EXPECT_TRUE(paths.empty());
        EXPECT_TRUE(v.last_run_failed());
        // The traceback is for the console's error stream, never the log.
        ASSERT_FALSE(sink.events.empty());
        const igxl::diag::Event& last = sink.events.back();
        EXPECT_EQ(last.code, "check.traceback");
        EXPECT_EQ(last.severity, igxl::diag::Severity::error);
        EXPECT_EQ(last.channels, unsigned{igxl::diag::kConsole | igxl::diag::kErrorStream});
        EXPECT_EQ(last.text.rfind("Traceback (check run): ", 0), 0u) << last.text;
        EXPECT_EQ(sink.texts(igxl::diag::kLog), rec.lines);
        ASSERT_GE(rec.lines.size(), 2u);
        EXPECT_EQ(rec.lines[rec.lines.size() - 2], "An exception occurred!Please check!!!");
        EXPECT_FALSE(rec.has("Execution successful!!!"));
    }
}

// A stop asked for between jobs ends the run as a failed one: no success is claimed, and the
// saved report holds the jobs walked before it.
TEST_F(RunTest, AStopEndsTheRunAfterTheJobInHand) {
    Recorder rec;
    Vantor v(dir.string());
    int asked = 0;
    v.set_stop_check([&] { return ++asked > 1; });
    v.read_device(opts(dir.string()), rec.log());
    auto paths = v.run({"JobA", "JobB"}, out.string());
    EXPECT_TRUE(paths.empty());
    EXPECT_TRUE(v.last_run_failed());
    EXPECT_TRUE(v.stopped());
    EXPECT_FALSE(rec.has("Execution successful!!!"));
    EXPECT_TRUE(rec.has("stopped on request"));
    std::vector<fs::path> saved(fs::directory_iterator(out), fs::directory_iterator{});
    ASSERT_EQ(saved.size(), 1u);
    EXPECT_EQ(sheet_names(saved[0].string()), (std::vector<std::string>{"Findings", "JobA"}));
    // The findings say the check ended early, and why.
    const auto& found = v.findings().findings;
    EXPECT_TRUE(std::any_of(found.begin(), found.end(), [](const igxl::Finding& f) {
        return f.rule == "run-failed" && f.message.find("stopped on request") != std::string::npos;
    }));

    // The next run starts afresh.
    v.set_stop_check(nullptr);
    EXPECT_EQ(v.run({"JobA"}, out.string()).size(), 1u);
    EXPECT_FALSE(v.stopped());
}

// The report is a real macro-enabled workbook: LibreOffice, as an independent client, imports the
// macro module embedded from "bin/vbaProject.bin" beside the driver library.
TEST_F(RunTest, LibreOfficeSeesTheReportMacros) {
    if (std::system("command -v soffice > /dev/null 2>&1") != 0) GTEST_SKIP() << "soffice not installed";
    ASSERT_TRUE(fs::exists(Vantor::vba_project_path())) << Vantor::vba_project_path();
    Vantor v(dir.string());
    v.read_device(opts(dir.string()));
    auto paths = v.run({"JobA"}, out.string());
    ASSERT_EQ(paths.size(), 1u);
    fs::copy_file(paths[0], out / "report.xlsm");
    // A profile of its own, so parallel runs and a user's LibreOffice do not collide.
    const std::string cmd = "cd '" + out.string() + "' && timeout 120 soffice -env:UserInstallation=file://" +
                            out.string() + "/profile --headless --convert-to ods report.xlsm > soffice.log 2>&1";
    ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
    const std::string listing = igxl::testing::zip_member((out / "report.ods").string(), "Basic/VBAProject/ReportOutline.xml");
    EXPECT_NE(listing.find("Public Sub ExpandAllGroups()"), std::string::npos) << listing;
    EXPECT_NE(listing.find("Public Sub CollapseAllGroups()"), std::string::npos) << listing;
}
