// Time sets of a pattern file through the built patinfo, end to end.
#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

#include <filesystem>
#include <fstream>

#include "parsers/pattern_sets.h"
#include "util/error.h"
#include "util/lines.h"

namespace fs = std::filesystem;
using namespace igxl;

namespace {

const char* PATTERN = R"(// demo pattern
pattern func_a;
import tset TS_FAST, ts_slow;
vector ($tset, A0, A1)
{
start:
> TS_FAST 0 1 ;
repeat 4 > ts_slow 1 0 ;   // slow part
> TS_FAST 1 1 ;
}
)";

class PatinfoRun : public testing::Test {
protected:
    fs::path root;
    fs::path folder;
    std::string old_program;
    fs::path old_cwd;

    void SetUp() override {
        root = fs::path(testing::TempDir()) / ("pflow_patinfo_" + std::to_string(::getpid()));
        fs::remove_all(root);
        folder = root / "prog" / "patterns";
        fs::create_directories(folder / "func");
        old_program = get_patinfo_program();
        set_patinfo_program(IGXL_BINARY_DIR "/bin/patinfo");
        // Anything a shell would run lands here, where the test looks for it.
        old_cwd = fs::current_path();
        fs::current_path(root);
    }
    void TearDown() override {
        fs::current_path(old_cwd);
        set_patinfo_program(old_program);
        fs::remove_all(root);
    }
    void write(const fs::path& p, const std::string& text) { std::ofstream(p) << text; }
};

TEST_F(PatinfoRun, ListsTimeSetsInOrderOfUse) {
    write(folder / "func" / "a.PAT", PATTERN);
    Quorvin q;
    q.read_tset_from_pattern(folder.string(), ".\\patterns\\func\\a.PAT");
    EXPECT_EQ(q.get_pattern_tset(), (std::vector<std::string>{"TS_FAST", "ts_slow"}));
    EXPECT_TRUE(fs::exists(folder / "pattern_tset.txt"));
}

TEST_F(PatinfoRun, ReadsCompressedPatterns) {
    const std::string gz = (folder / "func" / "b.PATX.GZ").string();
    gzFile out = gzopen(gz.c_str(), "wb");
    ASSERT_TRUE(out);
    gzputs(out, PATTERN);
    gzclose(out);
    Quorvin q;
    q.read_tset_from_pattern(folder.string(), "./patterns/func/b.PATX.GZ");
    EXPECT_EQ(q.get_pattern_tset(), (std::vector<std::string>{"TS_FAST", "ts_slow"}));
}

TEST_F(PatinfoRun, ShellCharactersInThePathRunNothingButPatinfo) {
#ifdef _WIN32
    // Windows forbids '"' in file names; '&' and '%' are what its command shell acts on.
    const std::string name = "a & b %PATH% $(touch MARKER1) `touch MARKER2`; touch MARKER3 'x'.PAT";
#else
    const std::string name = "a \"q\" $(touch MARKER1) `touch MARKER2`; touch MARKER3 'x'.PAT";
#endif
    write(folder / "func" / name, PATTERN);
    Quorvin q;
    q.read_tset_from_pattern(folder.string(), ".\\patterns\\func\\" + name);
    EXPECT_EQ(q.get_pattern_tset(), (std::vector<std::string>{"TS_FAST", "ts_slow"}));
    for (const char* marker : {"MARKER1", "MARKER2", "MARKER3"}) {
        EXPECT_FALSE(fs::exists(root / marker)) << marker;
        EXPECT_FALSE(fs::exists(folder / marker)) << marker;
    }
}

TEST_F(PatinfoRun, MissingPatternEmptyFolderAndFailingRuns) {
    Quorvin q;
    q.get_pattern_tset() = {"KEEP"};
    q.read_tset_from_pattern("", "./patterns/a.PAT");
    EXPECT_EQ(q.get_pattern_tset(), std::vector<std::string>{"KEEP"});

    q.read_tset_from_pattern(folder.string(), "./patterns/none.PAT");
    EXPECT_EQ(q.get_pattern_tset(), std::vector<std::string>{std::string(PATTERN_MISSING_TEXT)});

    // patinfo refuses a file that is no pattern: nothing listed
    write(folder / "junk.PAT", "not a pattern\n");
    q.read_tset_from_pattern(folder.string(), "./patterns/junk.PAT");
    EXPECT_TRUE(q.get_pattern_tset().empty());
    EXPECT_EQ(util::read_file((folder / "pattern_tset.txt").string()), "");

    // a tool that cannot be started is an error, not an empty listing
    set_patinfo_program((root / "no_such_patinfo").string());
    EXPECT_THROW(q.read_tset_from_pattern(folder.string(), "./patterns/junk.PAT"), Error);
}

}  // namespace
