// Temporary files of killed runs: found by name, removed only when nobody holds them, and a
// user's own files never touched. Built for POSIX and Windows alike (each with its own platform
// layer behind the same calls).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "util/lines.h"
#include "util/platform.h"

namespace igxl::util {
namespace {

namespace fs = std::filesystem;

void put(const std::string& path, const std::string& bytes) {
    std::ofstream(path_from_utf8(path), std::ios::binary) << bytes;
}

std::string name_of(const std::string& path) { return path_to_utf8(path_from_utf8(path).filename()); }

bool is_report(std::string_view name) { return name.starts_with("Report_") && name.ends_with(".xlsx"); }

class AbandonedTempFiles : public ::testing::Test {
protected:
    TempDir dir{"igxl_abandoned_"};
    std::string at(const std::string& name) const { return join_path(dir.path(), name); }
    std::vector<std::string> sweep() const { return remove_abandoned_temp_files(dir.path(), is_report); }
};

TEST(TempFileNames, TheFinalNameIsTheNameLessItsTemporaryEndings) {
    EXPECT_EQ(final_name_of_temp("Vantor_2026-12-07__211500.xlsm.tmpAb12Z9"), "Vantor_2026-12-07__211500.xlsm");
    // A writer's scratch file beside the report's temporary file stands for the report too.
    EXPECT_EQ(final_name_of_temp("R.xlsx.tmpAb12Z9.tmp00XYz1"), "R.xlsx");
    EXPECT_EQ(final_name_of_temp("A.bas.backup_20261207_211500.tmpQwErTy"), "A.bas.backup_20261207_211500");
    EXPECT_EQ(final_name_of_temp("A.bas.tmpAb12Z"), "");    // five characters
    EXPECT_EQ(final_name_of_temp("A.bas.tmpAb-2Z9"), "");   // not one of ours
    EXPECT_EQ(final_name_of_temp("A.bas.bakAb12Z9"), "");
    EXPECT_EQ(final_name_of_temp("A.bas"), "");
    EXPECT_EQ(final_name_of_temp(".tmpAb12Z9"), "");        // no final name at all
}

TEST_F(AbandonedTempFiles, NamesThisLayerMakesAreRecognised) {
    AtomicFile report(at("Report_1.xlsx"));
    AtomicFile scratch(report.temp_path());
    EXPECT_EQ(final_name_of_temp(name_of(report.temp_path())), "Report_1.xlsx");
    EXPECT_EQ(final_name_of_temp(name_of(scratch.temp_path())), "Report_1.xlsx");
}

// What a killed run left goes; what a live writer holds (here, in this very process: a second
// writer in another process is the POSIX test's and the end-to-end tests' part) stays and is
// still committed whole; a user's files, however named, stay.
TEST_F(AbandonedTempFiles, DeadFilesGoLiveOnesAndOthersStay) {
    put(at("Report_1.xlsx.tmpAAAAAA"), "killed while written");
    put(at("Report_1.xlsx.tmpAAAAAA.tmpBBBBBB"), "its scratch file");
    put(at("notes.txt.tmpCCCCCC"), "a user's file");
    put(at("Report_3.xlsx"), "a finished report");
    put(at("Report_4.xlsx.tmp123"), "not a name we make");
    fs::create_directory(path_from_utf8(at("Report_5.xlsx.tmpDDDDDD")));

    AtomicFile live(at("Report_2.xlsx"));
    // The writer opens its file by name, writes and closes it, as the workbook writer does.
    std::FILE* f = open_file(live.temp_path(), "wb");
    ASSERT_NE(f, nullptr);
    std::fputs("being written", f);
    std::fclose(f);
    AtomicFile live_scratch(live.temp_path());
    write_file_atomic(at("Report_6.xlsx"), "old");
    AtomicFile replacing(at("Report_6.xlsx"));

    const std::vector<std::string> removed = sweep();
    EXPECT_EQ(removed, (std::vector<std::string>{at("Report_1.xlsx.tmpAAAAAA"), at("Report_1.xlsx.tmpAAAAAA.tmpBBBBBB")}));
    for (const auto& path : removed) EXPECT_FALSE(file_exists(path)) << path;
    EXPECT_TRUE(file_exists(live.temp_path()));
    EXPECT_TRUE(file_exists(live_scratch.temp_path()));
    EXPECT_TRUE(file_exists(replacing.temp_path()));
    for (const char* other : {"notes.txt.tmpCCCCCC", "Report_3.xlsx", "Report_4.xlsx.tmp123", "Report_5.xlsx.tmpDDDDDD"})
        EXPECT_TRUE(fs::exists(path_from_utf8(at(other)))) << other;

    // Held files still take their names whole, over an existing file or as a new one.
    live_scratch.discard();
    live.commit();
    EXPECT_EQ(read_file(at("Report_2.xlsx")), "being written");
    put(replacing.temp_path(), "new");
    replacing.commit();
    EXPECT_EQ(read_file(at("Report_6.xlsx")), "new");
    AtomicFile fresh(at("Report_7.xlsx"));
    EXPECT_FALSE(fresh.commit_as_new(at("Report_3.xlsx")));
    EXPECT_TRUE(sweep().empty());  // still held after a name that was taken
    EXPECT_TRUE(fresh.commit_as_new(at("Report_8.xlsx")));
    EXPECT_EQ(read_file(at("Report_3.xlsx")), "a finished report");
    EXPECT_TRUE(sweep().empty());
}

// Once its writer is gone (an object destroyed without removing its file stands for a killed
// run), the same file is removed; the files the plain writers make are never left held.
TEST_F(AbandonedTempFiles, AFileIsFreeOnceItsWriterIsGone) {
    std::string left;
    {
        AtomicFile out(at("Report_1.xlsx"));
        left = out.temp_path();
        // A copy made under the temporary name outlives the object, as a killed run's file would.
        put(left + ".keep", "x");
    }
    EXPECT_FALSE(file_exists(left));  // an uncommitted file goes with its object
    fs::rename(path_from_utf8(left + ".keep"), path_from_utf8(left));
    EXPECT_EQ(sweep(), std::vector<std::string>{left});

    write_file_atomic(at("Report_2.xlsx"), "whole");
    write_new_file(at("Report_3.xlsx"), "whole");
    EXPECT_TRUE(sweep().empty());
    EXPECT_FALSE(remove_abandoned_file(at("Report_9.xlsx.tmpZZZZZZ")));  // nothing there
}

}  // namespace
}  // namespace igxl::util
