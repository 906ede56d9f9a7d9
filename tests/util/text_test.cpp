#include <gtest/gtest.h>

#include "util/text.h"

using namespace igxl::util;

TEST(Text, SplitKeepsEmptyPieces) {
    auto p = split("a,,b,", ',');
    ASSERT_EQ(p.size(), 4u);
    EXPECT_EQ(p[1], "");
    EXPECT_EQ(p[3], "");
    EXPECT_EQ(split("", ',').size(), 1u);
    EXPECT_EQ(split("a, B", ',')[1], " B");
}

// The splitter looks at 16 bytes at a time: separators at every offset of a block, at the ends
// and in the tail must cut as a plain scan does, and a reused vector must hold only the new row.
TEST(Text, SplitIntoAgreesWithAPlainScanAtEveryOffset) {
    std::vector<std::string_view> out = {"stale"};
    for (size_t len = 0; len < 70; ++len) {
        for (size_t step = 1; step < 6; ++step) {
            std::string s(len, 'x');
            for (size_t i = len % step; i < len; i += step) s[i] = '\t';
            std::vector<std::string_view> want;
            size_t start = 0;
            for (size_t i = 0; i <= s.size(); ++i) {
                if (i == s.size() || s[i] == '\t') {
                    want.push_back(std::string_view(s).substr(start, i - start));
                    start = i + 1;
                }
            }
            split_into(s, '\t', out);
            EXPECT_EQ(out, want) << "len " << len << " step " << step;
            EXPECT_EQ(split(s, '\t'), want);
        }
    }
}

TEST(Text, SplitWhitespaceDropsEmpties) {
    auto p = split_ws("  a \t b\r\n");
    ASSERT_EQ(p.size(), 2u);
    EXPECT_EQ(p[0], "a");
    EXPECT_EQ(p[1], "b");
}

TEST(Text, DoubleInPythonReprForm) {
    EXPECT_EQ(format_double(2.0), "2.0");
    EXPECT_EQ(format_double(0.5), "0.5");
    EXPECT_EQ(format_double(1e-9), "1e-09");
    EXPECT_EQ(format_double(2.5e-5), "2.5e-05");
    EXPECT_EQ(format_double(1e-4), "0.0001");
    EXPECT_EQ(format_double(1e16), "1e+16");
    EXPECT_EQ(format_double(1.5e16), "1.5e+16");
    EXPECT_EQ(format_double(9999999999999998.0), "9999999999999998.0");
    EXPECT_EQ(format_double(123.456), "123.456");
    EXPECT_EQ(format_double(-0.1), "-0.1");
    EXPECT_EQ(format_double(0.1 + 0.2), "0.30000000000000004");
    EXPECT_EQ(format_double(1e300), "1e+300");
    EXPECT_EQ(format_double(-1e-300), "-1e-300");
    EXPECT_EQ(format_double(0.0), "0.0");
}

TEST(Text, ParseNumbers) {
    double d;
    EXPECT_TRUE(parse_double(" 1.5e3 ", d));
    EXPECT_EQ(d, 1500);
    EXPECT_TRUE(parse_double("-.5", d));
    EXPECT_EQ(d, -0.5);
    EXPECT_FALSE(parse_double("1.5x", d));
    EXPECT_FALSE(parse_double("", d));
    EXPECT_FALSE(parse_double("--1", d));
    int64_t i;
    EXPECT_TRUE(parse_int("+42", i));
    EXPECT_EQ(i, 42);
    EXPECT_FALSE(parse_int("4.2", i));
}

TEST(Text, CaseAndReplace) {
    EXPECT_EQ(to_upper("Flow_a1"), "FLOW_A1");
    EXPECT_TRUE(iequals("Job List", "JOB LIST"));
    EXPECT_EQ(replace_all("a b  c", " ", "%20"), "a%20b%20%20c");
    EXPECT_EQ(strip("\t x \r\n"), "x");
}
