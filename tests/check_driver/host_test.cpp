#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "tests/support/file_size_limit.h"
#include "tests/support/process.h"
#include "tests/support/temp_file_holder.h"
#include "util/platform.h"

namespace fs = std::filesystem;

namespace {

using Result = igxl::testing::CommandResult;

Result vantor(const std::string& args) {
    return igxl::testing::run_command(std::string(IGXL_BINARY_DIR) + "/bin/vantor " + args);
}

size_t count_lines(const std::string& s) { return static_cast<size_t>(std::count(s.begin(), s.end(), '\n')); }

class HostTest : public ::testing::Test {
protected:
    void SetUp() override {
        // One folder per test: ctest runs the tests of this file in parallel.
        dir = fs::temp_directory_path() / "igxl_host_test" /
              ::testing::UnitTest::GetInstance()->current_test_info()->name();
        fs::remove_all(dir);
        fs::create_directories(dir / "prog");
        std::ofstream(dir / "prog" / "Job List.txt")
            << "title\n\n\n\tJob Name\tPin Map\tTest Instances\tFlow Table\tAC\tDC\tPS\n"
               "\tFT\tPins\tTI\tFlow\tAC\tDC\tPS\n"
               "\tWT\tPins\tTI\tFlow\tAC\tDC\tPS\n";
        std::ofstream(dir / "prog" / "TI.txt")
            << "DTTestInstancesSheet,version=2.3:platform=Jaguar\tTest Instances\n\n\n\tTest Name\n";
        std::ofstream(dir / "prog" / "Flow.txt") << "DTFlowtableSheet,version=2.2:platform=Jaguar\tFlow Table\n\n\n\tLabel\n";
        std::ofstream(dir / "prog" / "DC.txt") << "DTDCSpecSheet,version=2.3:platform=Jaguar\tDC Spec\n\n\n\tSymbol\n";
        std::ofstream(dir / "prog" / "AC.txt") << "DTACSpecSheet,version=2.3:platform=Jaguar\tAC Spec\n\n\n\tSymbol\n";
        prog = (dir / "prog").string();
    }
    fs::path dir;
    std::string prog;
};

}  // namespace

TEST_F(HostTest, VersionAndHelp) {
    auto r = vantor("--version");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("vantor "), std::string::npos);
    r = vantor("check --help");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("--pattern-path"), std::string::npos);
}

TEST_F(HostTest, BadInputGetsOneLineAndStatusTwo) {
    struct Case {
        std::string args, says;
    } cases[] = {
        {"check /no/such/program --all", "program not found"},
        {"check " + prog, "no job chosen"},
        {"check " + prog + " --jobs ,", "no job chosen"},
        {"check " + prog + " --jobs XX", "unknown job 'XX'"},
        {"check " + prog + " --jobs 'A[1]'", "cannot be a sheet name"},
        {"check " + prog + " --jobs ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456", "longer than 31"},
        {"check " + prog + " --jobs FT --cycle-mode Weekly", "Weekly"},
        {"check " + prog + " --jobs FT --platform Jaguar", "{UltraFLEX,UltraFLEXplus,J750}"},
        {"check " + prog + " --jobs FT --platform UltraFLEX2", "UltraFLEX2"},
        {"check " + prog + " --jobs FT --power-order /no/file.xls", "power order file not found"},
    };
    for (const auto& c : cases) {
        auto r = vantor(c.args + " --work-dir " + (dir / "w").string() + " --out " + (dir / "o").string());
        EXPECT_EQ(r.status, 2) << c.args << "\n" << r.out;
        EXPECT_NE(r.out.find(c.says), std::string::npos) << c.args << "\n" << r.out;
        EXPECT_LE(count_lines(r.out), 2u) << r.out;
    }
}

TEST_F(HostTest, ListsJobsAndChecksThemAll) {
    auto r = vantor("jobs " + prog);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "FT\nWT\n");
    r = vantor("jobs " + prog + " --platform ultraFLEXplus");  // names are matched without case
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out, "FT\nWT\n");

    r = vantor("check " + prog + " --all --out " + (dir / "out").string());
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("Execution successful!!!"), std::string::npos) << r.out;
    const std::string said = "Output file path is: ";
    auto at = r.out.find(said);
    ASSERT_NE(at, std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("Report: "), std::string::npos) << r.out;  // the path is printed once
    std::string path = r.out.substr(at + said.size(), r.out.find('\n', at) - at - said.size());
    EXPECT_TRUE(fs::exists(path)) << path;
}

// The output folder's disk fills while the report is saved: the run fails and leaves no report
// under its final name (nor a temporary one) that could pass for a finished check.
TEST_F(HostTest, AFullDiskLeavesNoReportAndFails) {
    fs::create_directories(dir / "out");
    auto r = igxl::testing::run_command(igxl::testing::shell_file_size_limit(4) + std::string(IGXL_BINARY_DIR) +
                                        "/bin/vantor check " + prog + " --all --out " + (dir / "out").string());
    EXPECT_NE(r.status, 0) << r.out;
    EXPECT_EQ(r.out.find("Execution successful!!!"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("Report: "), std::string::npos) << r.out;
    EXPECT_TRUE(fs::is_empty(dir / "out")) << r.out;
}

// An archive bomb is refused with status 2 and the limit named, leaving nothing unpacked; the
// limit can be raised from the command line.
TEST_F(HostTest, ArchiveBombIsBadInput) {
    const std::string bomb = (dir / "bomb.igxl").string();
    const std::string make = "/usr/bin/python3 -c \"import zipfile; z = zipfile.ZipFile('" + bomb +
                             "', 'w', zipfile.ZIP_DEFLATED); z.writestr('Job List.txt', 'j' * (3 << 20)); z.close()\"";
    ASSERT_EQ(igxl::testing::run_command(make).status, 0);
    const fs::path work = dir / "work";
    auto r = vantor("jobs " + bomb + " --work-dir " + work.string() + " --max-unpacked 1MB");
    EXPECT_EQ(r.status, 2) << r.out;
    EXPECT_NE(r.out.find("vantor: error: archive '" + bomb + "': it unpacks to more than 1 MB"), std::string::npos)
        << r.out;
    // The program's own subfolder of the working folder holds no sheet file.
    for (const auto& e : fs::recursive_directory_iterator(work))
        EXPECT_FALSE(e.path().extension() == ".txt") << e.path();
    r = vantor("jobs " + bomb + " --work-dir " + work.string() + " --max-unpacked 4MB");
    EXPECT_EQ(r.out.find("unpacks to more than"), std::string::npos) << r.out;
    EXPECT_EQ(fs::file_size(work / "bomb" / "Job List.txt"), size_t(3) << 20);
}

TEST_F(HostTest, ExportWritesSheetsAndModules) {
    const fs::path book = fs::path(IGXL_SHARED_DIR) / "corpus/xlsm-vba/macro01.xlsm";
    if (!fs::exists(book)) GTEST_SKIP() << "no shared corpus at " << book << " (read in place, not in a clone)";
    const fs::path out = dir / "text";
    auto r = vantor("export " + book.string() + " --out " + out.string());
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_TRUE(fs::exists(out / "Sheet1.txt"));
    EXPECT_TRUE(fs::exists(out / "Module1.bas"));
    EXPECT_TRUE(fs::exists(out / "ThisWorkbook.cls"));
    r = vantor("export " + prog + " --out " + out.string());
    EXPECT_EQ(r.status, 2) << r.out;
}

// ---- temporary files of killed checks ----

namespace {

// Names in folder that are temporary files of a report.
std::vector<std::string> temp_reports(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder)) {
        const std::string name = e.path().filename().string();
        if (name.starts_with("Vantor_") && name.find(".xlsm.tmp") != std::string::npos) names.push_back(name);
    }
    return names;
}

size_t finished_reports(const fs::path& folder) {
    size_t n = 0;
    for (const auto& e : fs::directory_iterator(folder)) {
        const std::string name = e.path().filename().string();
        n += name.starts_with("Vantor_") && name.ends_with(".xlsm") && name != "Vantor_notes.xlsm";
    }
    return n;
}

const std::string kRemoved = "Warning: removed a temporary file left by an interrupted check: ";

}  // namespace

// A check killed outright (SIGKILL at the moment its finished report would take its name, through
// a preloaded shim, so at the same point every time) leaves its report under a temporary name; the
// next check into that folder removes it and says so, and leaves the user's own files alone.
TEST_F(HostTest, TheNextCheckRemovesTheTemporaryReportOfAKilledOne) {
    const fs::path out = dir / "out";
    fs::create_directories(out);
    std::ofstream(out / "notes.txt.tmpAb12Cd") << "a user's file";
    std::ofstream(out / "Vantor_notes.xlsm") << "a user's workbook";
    auto killed = igxl::testing::run_command("LD_PRELOAD=" + std::string(IGXL_SIGNAL_SHIM) +
                                             " IGXL_SHIM_CALL=link IGXL_SHIM_MATCH=Vantor_ IGXL_SHIM_NTH=1"
                                             " IGXL_SHIM_SIGNAL=9 IGXL_SHIM_BEFORE=1 " +
                                             std::string(IGXL_BINARY_DIR) + "/bin/vantor check " + prog +
                                             " --all --out " + out.string());
    EXPECT_TRUE(killed.status == -1 || killed.status == 128 + 9) << killed.status << killed.out;
    EXPECT_EQ(killed.out.find("Execution successful!!!"), std::string::npos) << killed.out;
    const std::vector<std::string> left = temp_reports(out);
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(finished_reports(out), 0u);

    // The findings file a killed check was writing, left under its temporary name.
    std::ofstream(out / "findings.json.tmpQw3rTy") << "{\"findings\": [";

    auto r = vantor("check " + prog + " --all --out " + out.string() + " --log " + (dir / "check.log").string() +
                    " --json " + (out / "findings.json").string());
    EXPECT_EQ(r.status, 0) << r.out;
    const std::string said = kRemoved + (out / left[0]).string();
    EXPECT_NE(r.out.find(said + "\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(kRemoved + (out / "findings.json.tmpQw3rTy").string() + "\n"), std::string::npos) << r.out;
    EXPECT_FALSE(fs::exists(out / "findings.json.tmpQw3rTy"));
    EXPECT_TRUE(fs::exists(out / "findings.json"));
    std::ifstream log(dir / "check.log");
    std::string log_text((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
    EXPECT_NE(log_text.find(said), std::string::npos) << log_text;
    EXPECT_TRUE(temp_reports(out).empty());
    EXPECT_EQ(finished_reports(out), 1u);
    EXPECT_TRUE(fs::exists(out / "notes.txt.tmpAb12Cd"));
    EXPECT_TRUE(fs::exists(out / "Vantor_notes.xlsm"));

    r = vantor("check " + prog + " --all --out " + out.string());
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out.find(kRemoved), std::string::npos) << r.out;  // nothing left to remove
}

// Another check writing into the same folder right now (here a process holding a report's
// temporary file as a check does while it writes) keeps its file: only files nobody holds go.
TEST_F(HostTest, ACheckWritingIntoTheSameFolderKeepsItsFile) {
    const fs::path out = dir / "out";
    fs::create_directories(out);
    igxl::testing::TempFileHolder other((out / "Vantor_2026-01-01__000000.xlsm").string());
    const std::string live = other.temp_path();
    ASSERT_FALSE(live.empty());

    auto r = vantor("check " + prog + " --all --out " + out.string());
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out.find(kRemoved), std::string::npos) << r.out;
    EXPECT_TRUE(fs::exists(live)) << live;

    EXPECT_TRUE(other.finish());  // the other writer finishes and removes its file
    EXPECT_FALSE(fs::exists(live));
}
