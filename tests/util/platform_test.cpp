// The platform layer: programs run without a shell, libraries found and loaded, files replaced
// whole or not at all, temporary folders cleaned up, paths kept in UTF-8.
#include "util/platform.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>

#include "tests/support/file_size_limit.h"
#include "tests/support/temp_file_holder.h"
#include "util/lines.h"

namespace igxl::util {
namespace {

namespace fs = std::filesystem;

class PlatformTest : public ::testing::Test {
protected:
    void SetUp() override { dir = std::make_unique<TempDir>("igxl_platform_test_"); }
    std::string at(const std::string& name) const { return dir->path() + "/" + name; }
    // Every name in the folder: nothing may be left behind under a temporary name.
    std::set<std::string> names() const {
        std::set<std::string> out;
        for (const auto& e : fs::directory_iterator(dir->path())) out.insert(e.path().filename().string());
        return out;
    }
    std::unique_ptr<TempDir> dir;
};

TEST_F(PlatformTest, RunsAProgramWithoutAShellAndKeepsItsOutputAndStatus) {
    const std::string out = at("out.txt");
    // A shell would expand the $HOME and run the second command; the program must see one argument.
    EXPECT_EQ(run_program({"echo", "a; echo $HOME > pwned", "b"}, out), 0);
    EXPECT_EQ(read_file(out), "a; echo $HOME > pwned b\n");
    EXPECT_FALSE(file_exists(at("pwned")));

    EXPECT_EQ(run_program({"sh", "-c", "echo again; exit 3"}, out), 3);
    EXPECT_EQ(read_file(out), "again\n");  // truncated, not appended
    EXPECT_EQ(run_program({"sh", "-c", "kill -9 $$"}, out), 128 + 9);
}

TEST_F(PlatformTest, AProgramThatCannotStartIsAnErrorNamingIt) {
    try {
        run_program({"igxl-no-such-program-xyz", "x"}, at("out.txt"));
        FAIL() << "started a program that does not exist";
    } catch (const ProgramStartError& e) {
        EXPECT_NE(std::string(e.what()).find("igxl-no-such-program-xyz"), std::string::npos) << e.what();
        EXPECT_FALSE(e.reason().empty());
    }
    EXPECT_THROW(run_program({}, at("out.txt")), Error);
    EXPECT_THROW(run_program({"echo"}, at("no/such/folder/out.txt")), Error);
}

TEST_F(PlatformTest, AtomicWriteReplacesWholeAndKeepsPermissions) {
    const std::string path = at("module.bas");
    write_file_atomic(path, "first\r\n");
    EXPECT_EQ(read_file(path), "first\r\n");
    fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    write_file_atomic(path, std::string(100000, 'x'));
    EXPECT_EQ(read_file(path).size(), 100000u);
    EXPECT_EQ(fs::status(path).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_EQ(names(), std::set<std::string>{"module.bas"});
}

TEST_F(PlatformTest, AFullDiskLeavesTheOldFileAndNoTemporaryOne) {
    const std::string path = at("report.xlsx");
    write_file_atomic(path, "old");
    {
        igxl::testing::FileSizeLimit full(4096);
        if (!full.active()) GTEST_SKIP() << "cannot limit the file size here";
        EXPECT_THROW(write_file_atomic(path, std::string(64 * 1024, 'n')), Error);
        EXPECT_THROW(write_new_file(at("backup"), std::string(64 * 1024, 'n')), Error);
        EXPECT_THROW(write_file_atomic(at("fresh.xlsx"), std::string(64 * 1024, 'n')), Error);
    }
    EXPECT_EQ(read_file(path), "old");
    EXPECT_EQ(names(), std::set<std::string>{"report.xlsx"});
}

TEST_F(PlatformTest, NewFilesNeverOverwriteAnOlderOne) {
    const std::string path = at("A.bas.backup");
    write_new_file(path, "one");
    EXPECT_THROW(write_new_file(path, "two"), Error);
    EXPECT_EQ(read_file(path), "one");
    EXPECT_EQ(names(), std::set<std::string>{"A.bas.backup"});
}

TEST_F(PlatformTest, AtomicFileTakesItsNameOnlyOnCommit) {
    const std::string path = at("Vantor.xlsm");
    {
        AtomicFile f(path);
        std::ofstream(f.temp_path(), std::ios::binary) << "half";
        EXPECT_TRUE(is_temp_file_of(fs::path(f.temp_path()).filename().string(), "Vantor.xlsm"));
        EXPECT_FALSE(file_exists(path));
    }  // dropped without commit: a failed writer
    EXPECT_TRUE(names().empty());

    write_file_atomic(path, "old");
    fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write);
    AtomicFile f(path);
    std::ofstream(f.temp_path(), std::ios::binary) << "whole";
    f.commit();
    EXPECT_EQ(read_file(path), "whole");
    EXPECT_EQ(fs::status(path).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_THROW(f.commit(), Error);
    EXPECT_EQ(names(), std::set<std::string>{"Vantor.xlsm"});

    EXPECT_THROW(AtomicFile(at("no/such/folder/x")), Error);
}

TEST(PlatformTempNames, OnlyTheLayersOwnPatternCounts) {
    EXPECT_TRUE(is_temp_file_of("A.bas.tmpAb12Z9", "A.bas"));
    EXPECT_FALSE(is_temp_file_of("A.bas.tmpAb12Z", "A.bas"));
    EXPECT_FALSE(is_temp_file_of("A.bas.bakAb12Z9", "A.bas"));
    EXPECT_FALSE(is_temp_file_of("B.bas.tmpAb12Z9", "A.bas"));
}

// Another process writing into the same folder (a second engineer's check, a CI job): its file
// is left alone as long as it lives, and removed once it was killed.
TEST_F(PlatformTest, AFileAnotherProcessHoldsStaysWhileItLivesAndGoesOnceKilled) {
    igxl::testing::TempFileHolder other(at("Report_1.xlsx"));
    const std::string temp = other.temp_path();
    ASSERT_TRUE(file_exists(temp)) << temp;
    auto ours = [](std::string_view name) { return name == "Report_1.xlsx"; };

    EXPECT_FALSE(remove_abandoned_file(temp));
    EXPECT_TRUE(remove_abandoned_temp_files(dir->path(), ours).empty());
    EXPECT_TRUE(file_exists(temp));

    EXPECT_TRUE(other.kill());
    EXPECT_EQ(remove_abandoned_temp_files(dir->path(), ours), std::vector<std::string>{temp});
    EXPECT_FALSE(file_exists(temp));
}

// Only regular files are removed: a link or a pipe standing at such a name is left as it is.
TEST_F(PlatformTest, OnlyRegularFilesAreRemovedAsLeftovers) {
    write_file_atomic(at("target.xlsx"), "keep");
    fs::create_symlink(at("target.xlsx"), at("Report_1.xlsx.tmpAAAAAA"));
    ASSERT_EQ(::mkfifo(at("Report_2.xlsx.tmpBBBBBB").c_str(), 0600), 0);
    EXPECT_TRUE(remove_abandoned_temp_files(dir->path(), [](std::string_view) { return true; }).empty());
    EXPECT_TRUE(fs::is_symlink(at("Report_1.xlsx.tmpAAAAAA")));
    EXPECT_TRUE(fs::exists(at("Report_2.xlsx.tmpBBBBBB")));
    EXPECT_EQ(read_file(at("target.xlsx")), "keep");
}

TEST_F(PlatformTest, SymlinksAreReplacedNotFollowed) {
    const std::string victim = at("victim.txt");
    write_file_atomic(victim, "keep");
    fs::create_symlink(victim, at("sheet.txt"));
    std::FILE* f = create_file_replacing_links(at("sheet.txt"));
    ASSERT_NE(f, nullptr);
    std::fputs("new", f);
    std::fclose(f);
    EXPECT_EQ(read_file(victim), "keep");
    EXPECT_EQ(read_file(at("sheet.txt")), "new");
    EXPECT_FALSE(fs::is_symlink(at("sheet.txt")));
}

TEST_F(PlatformTest, PutInPlaceReplacesFilesAndLinksButNeverAFolder) {
    write_file_atomic(at("old.txt"), "old");
    write_file_atomic(at("new.txt"), "new");
    put_in_place(at("new.txt"), at("old.txt"));
    EXPECT_EQ(read_file(at("old.txt")), "new");
    EXPECT_EQ(names(), (std::set<std::string>{"old.txt"}));

    write_file_atomic(at("fresh.part"), "fresh");
    put_in_place(at("fresh.part"), at("fresh.txt"));
    EXPECT_EQ(read_file(at("fresh.txt")), "fresh");

    // A link at the name goes, its target stays as it was.
    fs::create_symlink(at("old.txt"), at("link.txt"));
    write_file_atomic(at("link.part"), "through");
    put_in_place(at("link.part"), at("link.txt"));
    EXPECT_FALSE(fs::is_symlink(at("link.txt")));
    EXPECT_EQ(read_file(at("link.txt")), "through");
    EXPECT_EQ(read_file(at("old.txt")), "new");

    // A folder at the name is an error and the finished file keeps its own name.
    fs::create_directory(at("folder"));
    write_file_atomic(at("folder.part"), "x");
    EXPECT_THROW(put_in_place(at("folder.part"), at("folder")), Error);
    EXPECT_EQ(read_file(at("folder.part")), "x");
    EXPECT_TRUE(fs::is_directory(at("folder")));
}

TEST_F(PlatformTest, ReadAtReadsWithoutMovingAndRefusesShortFiles) {
    write_file_atomic(at("t.txt"), "0123456789");
    std::FILE* f = open_file(at("t.txt"), "rb");
    ASSERT_NE(f, nullptr);
    char buf[4];
    read_at(f, 3, buf, 4, at("t.txt"));
    EXPECT_EQ(std::string(buf, 4), "3456");
    EXPECT_EQ(std::fgetc(f), '0');
    EXPECT_THROW(read_at(f, 8, buf, 4, at("t.txt")), Error);
    std::fclose(f);
}

TEST(PlatformTempDir, IsRemovedWithWhatItHolds) {
    std::string path;
    {
        TempDir d("igxl_platform_tmp_");
        path = d.path();
        EXPECT_TRUE(is_directory(path));
        fs::create_directories(path + "/a/b");
        std::ofstream(path + "/a/b/c.txt") << "x";
    }
    EXPECT_FALSE(path_exists(path));
    TempDir kept("igxl_platform_tmp_");
    std::string owned = kept.release();
    EXPECT_TRUE(is_directory(owned));
    EXPECT_TRUE(remove_tree(owned));
}

TEST(PlatformPaths, Utf8RoundTripsThroughNativePaths) {
    const std::string name = "D:/测试程序/Device A/Job List.txt";
    EXPECT_EQ(path_to_utf8(path_from_utf8(name)), name);
    EXPECT_EQ(path_to_utf8(path_from_utf8(name).filename()), "Job List.txt");
    EXPECT_EQ(path_to_utf8(path_from_utf8(name).parent_path().filename()), "Device A");
}

TEST(PlatformLibraries, FindsItsOwnFileAndLoadsALibrary) {
    const std::string self = module_path_of(reinterpret_cast<const void*>(&module_path_of));
    // Linked statically into this test program: the module is the program itself.
    EXPECT_EQ(self, executable_path());
    EXPECT_EQ(fs::path(self).filename(), "util_tests");

    EXPECT_EQ(shared_library_file_name("Tessaly"), "libTessaly.so");
    LibraryHandle libm = load_library("libm.so.6");
    ASSERT_TRUE(libm);
    auto cos_fn = reinterpret_cast<double (*)(double)>(library_symbol(libm, "cos"));
    EXPECT_DOUBLE_EQ(cos_fn(0.0), 1.0);
    EXPECT_THROW(library_symbol(libm, "igxl_no_such_symbol"), Error);
    EXPECT_THROW(library_symbol(LibraryHandle{}, "cos"), Error);
    EXPECT_THROW(load_library("libigxl_no_such_library.so"), Error);
}

TEST(PlatformProcess, KnowsItsTimeAndItself) {
    EXPECT_GT(process_id(), 0u);
    std::tm t = local_time(0);
    EXPECT_GE(t.tm_year, 69);  // 1970, or the last day of 1969 west of Greenwich
    EXPECT_GT(peak_memory_kib(), 0u);
}

}  // namespace
}  // namespace igxl::util
