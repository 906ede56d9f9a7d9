// What `vantor` does on disk and says on each stream, run as a user runs it.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <zip.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "check/vantor.h"
#include "util/platform.h"

namespace fs = std::filesystem;

namespace {

const fs::path kBasic = fs::path(IGXL_SOURCE_DIR) / "tests/check_walk/fixtures/basic";

struct Streams {
    int status = -1;
    std::string out, err;
};

std::string slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

size_t count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

std::string job_list(const std::vector<std::string>& jobs) {
    std::string text = "DTJobListSheet,version=1.0:platform=Jaguar\tJob List\n\n\n"
                       "\tJob Name\tPin Map\tTest Instances\tFlow Table\tAC Specs\tDC Specs\tPattern Sets\n";
    for (const auto& j : jobs) text += "\t" + j + "\tPins\tTI\tFlow\tAC\tDC\tPS\n";
    return text;
}

// A packed program: sheet text files at the archive's top.
void write_zip(const fs::path& path, const std::map<std::string, std::string>& members) {
    int err = 0;
    zip_t* z = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &err);
    ASSERT_NE(z, nullptr);
    for (const auto& [name, text] : members) {
        char* copy = static_cast<char*>(std::malloc(text.size() + 1));
        std::copy(text.begin(), text.end(), copy);
        zip_source_t* src = zip_source_buffer(z, copy, text.size(), 1);
        ASSERT_GE(zip_file_add(z, name.c_str(), src, ZIP_FL_ENC_UTF_8), 0);
    }
    ASSERT_EQ(zip_close(z), 0);
}

std::map<std::string, std::string> program_with_jobs(const std::vector<std::string>& jobs) {
    return {{"Job List.txt", job_list(jobs)},
            {"TI.txt", "DTTestInstancesSheet,version=2.3:platform=Jaguar\tTest Instances\n\n\n\tTest Name\n"},
            {"Flow.txt", "DTFlowtableSheet,version=2.2:platform=Jaguar\tFlow Table\n\n\n\tLabel\n"},
            {"DC.txt", "DTDCSpecSheet,version=2.3:platform=Jaguar\tDC Spec\n\n\n\tSymbol\n"},
            {"AC.txt", "DTACSpecSheet,version=2.3:platform=Jaguar\tAC Spec\n\n\n\tSymbol\n"}};
}

class Outcomes : public ::testing::Test {
protected:
    void SetUp() override {
        // One folder per test: ctest runs the tests of this file in parallel.
        dir = fs::temp_directory_path() / "igxl_outcomes_test" /
              ::testing::UnitTest::GetInstance()->current_test_info()->name();
        fs::remove_all(dir);
        fs::create_directories(dir / "out");
        fs::create_directories(dir / "tmp");
        out = (dir / "out").string();
    }
    // Runs vantor with its own temporary folder; standard output and standard error apart.
    Streams vantor(const std::string& args) {
        const fs::path out_file = dir / "stdout.txt", err_file = dir / "stderr.txt";
        const std::string cmd = "TMPDIR='" + (dir / "tmp").string() + "' " + IGXL_BINARY_DIR + "/bin/vantor " + args +
                                " >'" + out_file.string() + "' 2>'" + err_file.string() + "'";
        const int st = std::system(cmd.c_str());
        return Streams{WIFEXITED(st) ? WEXITSTATUS(st) : -1, slurp(out_file), slurp(err_file)};
    }
    std::vector<std::string> listing(const fs::path& folder) {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    fs::path dir;
    std::string out;
};

}  // namespace

// Reports of one second never replace each other: a name that is taken gets a numeric suffix,
// and the time part is zero-padded so the names sort by time.
TEST_F(Outcomes, ReportsAreNeverOverwritten) {
    const std::time_t now = std::time(nullptr);
    std::vector<fs::path> taken;
    for (int s = 0; s < 4; ++s) {  // this second and the next few, in case the clock ticks
        taken.push_back(fs::path(out) / igxl::Vantor::report_file_name(igxl::util::local_time(now + s)));
        std::ofstream(taken.back()) << "an earlier report";
    }
    write_zip(dir / "prog.zip", program_with_jobs({"FT"}));
    auto r = vantor("check '" + (dir / "prog.zip").string() + "' --all --out '" + out + "'");
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    for (const auto& p : taken) EXPECT_EQ(slurp(p), "an earlier report") << p;
    auto names = listing(out);
    ASSERT_EQ(names.size(), taken.size() + 1) << r.out;
    std::string fresh;
    for (const auto& n : names)
        if (std::none_of(taken.begin(), taken.end(), [&](const fs::path& p) { return p.filename() == n; })) fresh = n;
    EXPECT_NE(fresh.find(".xlsm"), std::string::npos);
    EXPECT_NE(fresh.find("_1.xlsm"), std::string::npos) << fresh;
    EXPECT_EQ(fresh.size(), std::string("Vantor_2026-12-06__090705_1.xlsm").size()) << fresh;
    EXPECT_EQ(count(r.out, fresh), 1u) << r.out;  // the report path is printed once
}

// A reused working folder never mixes programs: each program has a subfolder of its own, emptied
// of an earlier export first; a folder holding files vantor did not write is refused, untouched.
TEST_F(Outcomes, AReusedWorkingFolderHoldsOneProgramEach) {
    const fs::path work = dir / "work";
    write_zip(dir / "first.zip", program_with_jobs({"FT", "WT"}));
    write_zip(dir / "second.zip", program_with_jobs({"QA"}));
    auto r = vantor("jobs '" + (dir / "first.zip").string() + "' --work-dir '" + work.string() + "'");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "FT\nWT\n");
    r = vantor("jobs '" + (dir / "second.zip").string() + "' --work-dir '" + work.string() + "'");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "QA\n");
    r = vantor("check '" + (dir / "second.zip").string() + "' --all --work-dir '" + work.string() + "' --out '" + out + "'");
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(count(r.out, "Parse Job: "), 1u) << r.out;

    // A new version of the first program without one of its sheets: the old sheet is gone.
    auto next = program_with_jobs({"FT"});
    next.erase("DC.txt");
    next["Renamed DC.txt"] = "DTDCSpecSheet,version=2.3:platform=Jaguar\tDC Spec\n\n\n\tSymbol\n";
    write_zip(dir / "first.zip", next);
    r = vantor("jobs '" + (dir / "first.zip").string() + "' --work-dir '" + work.string() + "'");
    EXPECT_EQ(r.out, "FT\n");
    EXPECT_FALSE(fs::exists(work / "first" / "DC.txt"));
    EXPECT_TRUE(fs::exists(work / "first" / "Renamed DC.txt"));

    fs::create_directories(work / "third");
    std::ofstream(work / "third" / "notes.txt") << "mine";
    write_zip(dir / "third.zip", program_with_jobs({"X"}));
    r = vantor("jobs '" + (dir / "third.zip").string() + "' --work-dir '" + work.string() + "'");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("holds files vantor did not write"), std::string::npos) << r.err;
    EXPECT_EQ(count(r.err, "\n"), 1u) << r.err;
    EXPECT_EQ(slurp(work / "third" / "notes.txt"), "mine");
}

// The temporary folder a run makes is gone when it ends, unless asked to keep it.
TEST_F(Outcomes, TheTemporaryFolderGoesUnlessKept) {
    write_zip(dir / "prog.zip", program_with_jobs({"FT"}));
    auto r = vantor("check '" + (dir / "prog.zip").string() + "' --all --out '" + out + "'");
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_TRUE(fs::is_empty(dir / "tmp"));
    r = vantor("jobs '" + (dir / "prog.zip").string() + "'");
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(fs::is_empty(dir / "tmp"));

    r = vantor("jobs '" + (dir / "prog.zip").string() + "' --keep-work");
    EXPECT_EQ(r.status, 0);
    auto kept = listing(dir / "tmp");
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(kept[0].rfind("vantor-", 0), 0u);
    EXPECT_TRUE(fs::exists(dir / "tmp" / kept[0] / "Job List.txt"));
    EXPECT_NE(r.out.find("Working folder kept: " + (dir / "tmp" / kept[0]).string()), std::string::npos) << r.out;
}

// Bad input ends with status 2 and one line on standard error, nothing on standard output and
// no report: an unsupported file, a program without a job list, a power order file that is not
// a workbook, a corrupt workbook.
TEST_F(Outcomes, BadInputIsStatusTwoWithOneErrorLine) {
    std::ofstream(dir / "notes.txt") << "not a program";
    auto r = vantor("jobs '" + (dir / "notes.txt").string() + "'");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "Error: file extension is not supported.\n");
    EXPECT_EQ(r.out, "");

    fs::create_directories(dir / "empty");
    std::ofstream(dir / "empty" / "Flow.txt") << "DTFlowtableSheet,version=2.2:platform=Jaguar\tFlow Table\n";
    std::ofstream(dir / "bad.xls") << "this is not a workbook";
    std::ofstream(dir / "corrupt.xlsm") << "PK\x03\x04 truncated";
    struct Case {
        std::string args, says;
    } cases[] = {
        {"jobs '" + (dir / "empty").string() + "'", "no job list found"},
        {"check '" + (dir / "empty").string() + "' --all --out '" + out + "'", "no job list found"},
        {"check '" + kBasic.string() + "' --jobs JOB_A --power-order '" + (dir / "bad.xls").string() + "' --out '" + out + "'",
         "cannot read the power order file"},
        {"jobs '" + (dir / "corrupt.xlsm").string() + "'", "corrupt.xlsm"},
        {"check '" + (dir / "corrupt.xlsm").string() + "' --all --out '" + out + "'", "corrupt.xlsm"},
    };
    for (const auto& c : cases) {
        r = vantor(c.args);
        EXPECT_EQ(r.status, 2) << c.args << "\n" << r.out << r.err;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << c.args << "\n" << r.err;
        EXPECT_EQ(count(r.err, "\n"), 1u) << c.args << "\n" << r.err;
        EXPECT_EQ(r.out.find("Execution successful!!!"), std::string::npos) << r.out;
    }
    EXPECT_TRUE(fs::is_empty(out));
}

// A file that is no workbook or archive is bad input for export and diff too, never an export
// or a comparison that seemed to work.
TEST_F(Outcomes, ExportAndDiffOfAFileThatIsNoProgramAreBadInput) {
    std::ofstream(dir / "corrupt.xlsm") << "PK\x03\x04 truncated";
    std::ofstream(dir / "notes.igxl") << "not an archive";
    const std::string into = (dir / "exported").string();
    struct Case {
        std::string args, says;
    } cases[] = {
        {"export '" + (dir / "corrupt.xlsm").string() + "' --out '" + into + "'", "corrupt.xlsm"},
        {"export '" + (dir / "notes.igxl").string() + "' --out '" + into + "'", "Need Zip Format, Please Check!!!"},
        {"diff '" + (dir / "corrupt.xlsm").string() + "' '" + kBasic.string() + "' --out '" + out + "'", "corrupt.xlsm"},
    };
    for (const auto& c : cases) {
        auto r = vantor(c.args);
        EXPECT_EQ(r.status, 2) << c.args << "\n" << r.out << r.err;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << c.args << "\n" << r.err;
        EXPECT_EQ(r.out.find("Exported"), std::string::npos) << r.out;
    }
    EXPECT_FALSE(fs::exists(into) && !fs::is_empty(into));
    EXPECT_TRUE(fs::is_empty(out));
}

// A folder is read in place whatever its name says.
TEST_F(Outcomes, AFolderNamedLikeAWorkbookIsAFolder) {
    fs::copy(kBasic, dir / "x.xlsm", fs::copy_options::recursive);
    auto r = vantor("jobs '" + (dir / "x.xlsm").string() + "'");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "JOB_A\nJOB_B\n");
}

// The console shows each message once; the log file keeps every line; quiet leaves only errors.
// A run that met an error still writes its report but ends with status 1, saying why.
TEST_F(Outcomes, ConsoleOnceLogInFullQuietForErrors) {
    const std::string log = (dir / "check.log").string();
    auto r = vantor("check '" + kBasic.string() + "' --jobs JOB_A --out '" + out + "' --log '" + log + "'");
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    const std::string missing = "Info: cannot found TP_MISSING in Test Instance, please check.";
    EXPECT_EQ(count(r.out, missing), 1u) << r.out;
    EXPECT_EQ(count(r.out, "Execution successful!!!"), 1u) << r.out;
    const std::string full = slurp(log);
    EXPECT_EQ(count(full, missing), 2u) << full;  // once per pass, as the log always had it
    EXPECT_NE(full.find("Output file path is: "), std::string::npos);
    EXPECT_EQ(listing(out).size(), 1u);

    // Without its instance sheet every test of the job is missing: the report is written, the
    // status says the work is incomplete.
    fs::copy(kBasic, dir / "prog", fs::copy_options::recursive);
    fs::remove(dir / "prog" / "Test Instances.txt");
    r = vantor("check '" + (dir / "prog").string() + "' --jobs JOB_A --out '" + out + "' --quiet");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("Error: cannot read "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("vantor: 1 error during the check"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("Info:"), std::string::npos) << r.err;
    EXPECT_EQ(listing(out).size(), 2u);
}

// Sheets whose title names another platform family than the one checked: one warning, naming
// the first such sheet.
TEST_F(Outcomes, SheetsOfAnotherPlatformAreNamedOnce) {
    write_zip(dir / "prog.zip", program_with_jobs({"FT"}));
    auto r = vantor("jobs '" + (dir / "prog.zip").string() + "' --platform j750");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "FT\n");
    EXPECT_EQ(count(r.err, "was exported for"), 1u) << r.err;
    EXPECT_NE(r.err.find("Warning: sheet 'AC' was exported for the UltraFLEX family, but the check reads it as J750"),
              std::string::npos)
        << r.err;
    r = vantor("jobs '" + (dir / "prog.zip").string() + "' --platform ultraflexplus");
    EXPECT_EQ(r.err, "");
}
