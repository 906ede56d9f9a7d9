// Unpacking packed programs: flattened, and never a write outside the target.
#include <unistd.h>

#include "export/common.h"
#include "helpers.h"
#include "util/error.h"

namespace igxl::testing {
namespace {

size_t files_under(const fs::path& p) {
    size_t n = 0;
    for (const auto& e : fs::recursive_directory_iterator(p)) n += e.is_regular_file() || e.is_symlink();
    return n;
}

TEST(Unzip, FlattensAndOverwritesEarlierRuns) {
    ScratchDir d;
    make_zip(d / "p.zip", {{"prog/", ""}, {"b/x.txt", "second"}, {"top.txt", "t"}, {"a\\b\\win.txt", "w"}});
    unzip(d / "p.zip", d / "out/deep");
    EXPECT_EQ(slurp(d.path() / "out/deep/x.txt"), "second");
    EXPECT_EQ(slurp(d.path() / "out/deep/top.txt"), "t");
    EXPECT_EQ(slurp(d.path() / "out/deep/win.txt"), "w");
    EXPECT_EQ(files_under(d.path() / "out"), 3u);
    unzip(d / "p.zip", d / "out/deep");  // again: overwritten, not appended
    EXPECT_EQ(slurp(d.path() / "out/deep/x.txt"), "second");
}

TEST(Unzip, NotAZipOnlyReportsTheLine) {
    ScratchDir d;
    spit(d.path() / "p.txt", "plain text");
    diag::CollectingSink sink;
    EXPECT_NO_THROW(unzip(d / "p.txt", d / "out", sink));
    EXPECT_EQ(sink.texts(diag::kConsole),
              std::vector<std::string>{"Need Zip Format, Please Check!!!"});
    ASSERT_EQ(sink.events.size(), 1u);
    EXPECT_EQ(sink.events[0].code, "export.not-a-zip");
    EXPECT_EQ(sink.events[0].where.program, d / "p.txt");
    EXPECT_FALSE(fs::exists(d.path() / "out"));
    EXPECT_THROW(unzip(d / "missing.zip", d / "out"), FileNotFoundError);
}

TEST(Unzip, HostileNamesNeverEscape) {
    ScratchDir d;
    make_zip(d / "h.zip", {{"../escape.txt", "1"},
                           {"/abs/escape2.txt", "2"},
                           {"a/..", "3"},
                           {"a/.", "4"},
                           {"..", "5"},
                           {"dir/", ""},
                           {"..\\..\\escape3.txt", "6"},
                           {"link.txt", "7"}});
    fs::create_directories(d.path() / "out");
    // A symlink planted at a member's name is replaced, not followed.
    // (Windows lets only administrators or developer mode make one, Wine not at all: the rest of
    // the test holds without it.)
    std::error_code no_links;
    fs::create_symlink(d.path() / "victim.txt", d.path() / "out/link.txt", no_links);
    unzip(d / "h.zip", d / "out");
    EXPECT_EQ(slurp(d.path() / "out/escape.txt"), "1");
    EXPECT_EQ(slurp(d.path() / "out/escape2.txt"), "2");
    EXPECT_EQ(slurp(d.path() / "out/escape3.txt"), "6");
    EXPECT_EQ(slurp(d.path() / "out/link.txt"), "7");
    EXPECT_FALSE(fs::is_symlink(d.path() / "out/link.txt"));
    EXPECT_FALSE(fs::exists(d.path() / "victim.txt"));
    EXPECT_FALSE(fs::exists(d.path() / "escape.txt"));
    EXPECT_EQ(files_under(d.path()), 5u);  // h.zip and the four files in out
    if (no_links) GTEST_SKIP() << "the planted link was left out: " << no_links.message();
}

TEST(Unzip, DamagedArchiveReachesTheCaller) {
    ScratchDir d;
    make_zip(d / "p.zip", {{"a.txt", std::string(10000, 'a')}});
    std::string bytes = slurp(d.path() / "p.zip");
    bytes[40] ^= 0x55;  // inside the compressed data of the only member
    spit(d.path() / "bad.zip", bytes);
    EXPECT_THROW(unzip(d / "bad.zip", d / "out"), Error);
}

}  // namespace
}  // namespace igxl::testing
