// vantor's writers with the output folder's disk full: the check report, the findings JSON and
// SARIF, the diff workbook and its JSON. Each run fails with a clear message and a non-zero status and leaves no file under a
// final name.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "tests/support/full_disk.h"

namespace fs = std::filesystem;

namespace {

using igxl::testing::FullDiskResult;

const std::string kVantor = std::string(IGXL_BINARY_DIR) + "/bin/vantor ";

class VantorFullDisk : public ::testing::Test {
protected:
    void SetUp() override {
        // One folder per test: ctest runs the tests of this file in parallel.
        dir = fs::temp_directory_path() / ("igxl_full_disk_" + std::to_string(::getpid())) /
              ::testing::UnitTest::GetInstance()->current_test_info()->name();
        fs::remove_all(dir);
        fs::create_directories(dir / "prog");
        std::ofstream(dir / "prog" / "Job List.txt")
            << "title\n\n\n\tJob Name\tPin Map\tTest Instances\tFlow Table\tAC\tDC\tPS\n"
               "\tFT\tPins\tTI\tFlow\tAC\tDC\tPS\n";
        std::ofstream(dir / "prog" / "TI.txt")
            << "DTTestInstancesSheet,version=2.3:platform=Jaguar\tTest Instances\n\n\n\tTest Name\n";
        std::ofstream(dir / "prog" / "Flow.txt") << "DTFlowtableSheet,version=2.2:platform=Jaguar\tFlow Table\n\n\n\tLabel\n";
        std::ofstream(dir / "prog" / "DC.txt") << "DTDCSpecSheet,version=2.3:platform=Jaguar\tDC Spec\n\n\n\tSymbol\n";
        std::ofstream(dir / "prog" / "AC.txt") << "DTACSpecSheet,version=2.3:platform=Jaguar\tAC Spec\n\n\n\tSymbol\n";
    }
    void TearDown() override { fs::remove_all(dir.parent_path()); }

    FullDiskResult run(const std::string& args, unsigned free_kib = 4) {
        std::string a = args;
        for (size_t at; (at = a.find("FULL")) != std::string::npos;) a.replace(at, 4, (dir / "full").string());
        auto r = igxl::testing::run_with_full_disk(dir / "full", "true", kVantor + a, free_kib, dir / "after");
        std::cout << "disk filled by: " << r.disk << "\n";
        return r;
    }
    bool nothing_left() const { return fs::is_empty(dir / "after"); }

    fs::path dir;
};

TEST_F(VantorFullDisk, CheckReportIsWholeOrAbsent) {
    FullDiskResult r = run("check " + (dir / "prog").string() + " --all --out FULL");
    EXPECT_NE(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("cannot save the report workbook '" + (dir / "full").string()), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("Execution successful!!!"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("Output file path is: "), std::string::npos) << r.out;
    EXPECT_TRUE(nothing_left()) << r.out;
}

// The findings files (a few KiB: no room at all), with the report written where there is room.
TEST_F(VantorFullDisk, FindingsJsonAndSarifAreWholeOrAbsent) {
    fs::create_directories(dir / "room");
    FullDiskResult r = run("check " + (dir / "prog").string() + " --all --out " + (dir / "room").string() +
                               " --json FULL/findings.json --sarif FULL/findings.sarif",
                           0);
    EXPECT_NE(r.status, 0) << r.out;
    // (A file size limit stops the report too.)
    if (r.disk == "tmpfs") {
        EXPECT_NE(r.out.find("vantor: error: cannot write '" + (dir / "full").string() + "/findings.json"),
                  std::string::npos)
            << r.out;
    }
    EXPECT_EQ(r.out.find("Findings JSON: "), std::string::npos) << r.out;
    EXPECT_TRUE(nothing_left()) << r.out;
}

TEST_F(VantorFullDisk, DiffWorkbookAndJsonAreWholeOrAbsent) {
    const std::string base = std::string(IGXL_SOURCE_DIR) + "/tests/diff/fixtures/base";
    FullDiskResult r = run("diff " + base + " " + base + " --out FULL --json FULL/changes.json");
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_NE(r.out.find("vantor: error: "), std::string::npos) << r.out;
    EXPECT_TRUE(nothing_left()) << r.out;
    // The JSON alone (a few hundred bytes: no room at all), with the workbook written where there
    // is room.
    fs::create_directories(dir / "room");
    r = run("diff " + base + " " + base + " --out " + (dir / "room").string() + " --json FULL/changes.json", 0);
    EXPECT_EQ(r.status, 1) << r.out;
    // (A file size limit stops the workbook too.)
    if (r.disk == "tmpfs") {
        EXPECT_NE(r.out.find("changes.json"), std::string::npos) << r.out;
    }
    EXPECT_TRUE(nothing_left()) << r.out;
}

}  // namespace
