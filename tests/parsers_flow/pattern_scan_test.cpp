// The instance reader finds pattern names without running its expression over every field; the
// expression stays the judge, on hand-picked and on random rows of awkward characters.
#include <gtest/gtest.h>

#include <random>

#include "parsers/test_instances.h"
#include "util/regex.h"
#include "util/text.h"

using namespace igxl;

namespace {

std::vector<std::string> by_regex(const std::string& line, size_t width, bool patx) {
    static const util::Regex patx_re(R"(\t([\S ]+\.patx))", util::Regex::ICASE);
    static const util::Regex pat_re(R"(\t([\S ]+\.pat))", util::Regex::ICASE);
    auto fields = util::split(line, '\t');
    if (fields.size() > width) fields.resize(width);
    return (patx ? patx_re : pat_re).find_all(util::join(fields, "\t"));
}

std::vector<std::string> by_scan(const std::string& line, size_t width, bool patx) {
    return detail::find_pattern_names(line, util::split(line, '\t'), width, patx);
}

TEST(PatternScan, AgreesWithTheExpressionOnAwkwardFields) {
    const std::vector<std::string> lines = {
        "",
        "a.pat",                                      // field 0 never follows a tab
        "x\t.pat\t.PATX\tb.pat",                      // nothing before the dot
        "x\ta.PAT.GZ\tb.pat.pat.gz\tc.Pat_1.pAt",     // the last ".pat" of a field ends it
        "x\td:\\pat\\x1.PAT\t\ty.pat\tz.patx",
        "x\tmy pat.pat\t p.pat \t.pat.pat",           // spaces belong to names
        "x\ta\x0b.pat\tb.pat\x0b.pat\tc.pat\x0c",     // other blanks cut a field
        "x\ta\xc2\xa0.pat\tb\xc2\xa0" "c.pat\t\xc3\xa9.pat",  // Unicode blanks and letters
        "x\ta\xff.pat\t\xffz.pat\tb.pat\xff",         // bytes that are no UTF-8
        "x\tA\x01.pat\tq.p\tr.pa\ts.",                // control character, cut extensions
    };
    for (const auto& line : lines) {
        for (bool patx : {false, true}) {
            for (size_t width : {size_t{2}, size_t{3}, size_t{93}, size_t{144}}) {
                EXPECT_EQ(by_scan(line, width, patx), by_regex(line, width, patx))
                    << "line '" << line << "' width " << width << " patx " << patx;
            }
        }
    }
}

TEST(PatternScan, AgreesWithTheExpressionOnRandomRows) {
    const std::vector<std::string> pieces = {
        "a", "Z", ".", "p", "P", "a", "T", "t", "x", "X", ".pat", ".PATX", ".gz", " ",
        "\t", "\t", "\t", "\x0b", "\x1c", "\xc2\xa0", "\xc3\xa9", "\xe2\x80\x83", "\xff", "\\"};
    std::mt19937 gen(12345);
    std::uniform_int_distribution<size_t> piece(0, pieces.size() - 1), len(0, 60);
    for (int round = 0; round < 20000; ++round) {
        std::string line;
        for (size_t n = len(gen); n > 0; --n) line += pieces[piece(gen)];
        const bool patx = round % 2;
        const size_t width = 2 + round % 7;
        ASSERT_EQ(by_scan(line, width, patx), by_regex(line, width, patx))
            << "line '" << line << "' width " << width << " patx " << patx;
    }
}

// A full-width row of long fields, several holding a name: the scan steps from field to field by
// position, and must still land every name in the right field.
TEST(PatternScan, WideRowOfLongFields) {
    std::string line = "x";
    for (int i = 0; i < 143; ++i) line += "\t" + std::string(200, 'q') + (i % 40 == 7 ? ".PAT" : "");
    EXPECT_EQ(by_scan(line, 144, false), by_regex(line, 144, false));
    EXPECT_EQ(by_scan(line, 144, false).size(), 4u);
}

}  // namespace
