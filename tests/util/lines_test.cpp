#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "util/error.h"
#include "util/lines.h"

using namespace igxl::util;
namespace fs = std::filesystem;

namespace {
std::string write_tmp(const std::string& name, const std::string& body) {
    auto p = fs::temp_directory_path() / ("igxl_lines_" + name);
    std::ofstream(p, std::ios::binary) << body;
    return p.string();
}
std::vector<std::string> all_lines(const std::string& path) {
    LineReader r(path);
    std::vector<std::string> out;
    std::string_view l;
    while (r.next(l)) out.emplace_back(l);
    return out;
}
}  // namespace

TEST(LineReader, AllLineEndsAndLastLineWithoutBreak) {
    auto p = write_tmp("ends.txt", "a\r\nb\rc\n\nd");
    auto l = all_lines(p);
    ASSERT_EQ(l.size(), 5u);
    EXPECT_EQ(l[0], "a");
    EXPECT_EQ(l[1], "b");
    EXPECT_EQ(l[2], "c");
    EXPECT_EQ(l[3], "");
    EXPECT_EQ(l[4], "d");
}

TEST(LineReader, LinesLongerThanTheBuffer) {
    std::string big(200000, 'x');
    auto p = write_tmp("big.txt", big + "\r\n" + big + "y\r\nz\r\n");
    auto l = all_lines(p);
    ASSERT_EQ(l.size(), 3u);
    EXPECT_EQ(l[0], big);
    EXPECT_EQ(l[1], big + "y");
    EXPECT_EQ(l[2], "z");
}

TEST(LineReader, CrLfSplitAcrossBufferBoundary) {
    std::string first((1 << 16) - 1, 'a');
    auto p = write_tmp("boundary.txt", first + "\r\nb\r\n");
    auto l = all_lines(p);
    ASSERT_EQ(l.size(), 2u);
    EXPECT_EQ(l[1], "b");
}

// Many short lines over several buffers with every kind of break, so each break is found after
// others of the same and the other kind were passed and the buffer refilled.
TEST(LineReader, MixedBreaksOverManyBuffers) {
    const char* breaks[] = {"\n", "\r\n", "\r", "\n\n", "\r\r\n"};
    std::string body;
    std::vector<std::string> want;
    for (size_t i = 0; i < 40000; ++i) {
        // Never empty: a lone CR before an LF-ended empty line would make one CR LF break.
        std::string line(1 + i % 13, static_cast<char>('a' + i % 26));
        body += line;
        want.push_back(line);
        std::string_view brk = breaks[(i / 7) % 5];
        body += brk;
        if (brk == "\n\n" || brk == "\r\r\n") want.emplace_back();
    }
    EXPECT_EQ(all_lines(write_tmp("mixed.txt", body)), want);
}

TEST(LineReader, MissingFileAndPercent20Retry) {
    EXPECT_THROW(LineReader("/nonexistent/x.txt"), igxl::FileNotFoundError);
    auto p = write_tmp("has blank.txt", "x\n");
    auto esc = (fs::temp_directory_path() / "igxl_lines_has%20blank.txt").string();
    EXPECT_EQ(resolve_sheet_path(esc), p);
    EXPECT_EQ(resolve_sheet_path("/nope%20x"), "/nope%20x");
}
