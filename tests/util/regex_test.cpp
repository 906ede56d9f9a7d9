#include <gtest/gtest.h>

#include "util/error.h"
#include "util/regex.h"

using namespace igxl::util;

TEST(Regex, SearchMatchFullMatch) {
    Regex re("job.*list", Regex::ICASE);
    EXPECT_TRUE(re.search("My JOB_List.txt"));
    EXPECT_FALSE(re.match("My JOB_List.txt"));
    EXPECT_TRUE(re.match("Job List.txt"));
    Regex num("\\d+");
    EXPECT_TRUE(num.full_match("123"));
    EXPECT_FALSE(num.full_match("123a"));
}

TEST(Regex, GroupsByIndexAndName) {
    Regex re("(?<name>\\w+)\\s+(\\d)?");
    Match m;
    ASSERT_TRUE(re.search("\ttset1  x", m));
    EXPECT_EQ(m.group("name"), "tset1");
    EXPECT_FALSE(m.matched(2));
    EXPECT_EQ(m.group(2), "");
}

TEST(Regex, FindAllSplitReplace) {
    Regex w("\\b[A-Za-z_]\\w*\\b");
    auto all = w.find_all("a1 + b_2*(c)");
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(all[2], "c");
    Regex comma("\\s*,\\s*");
    auto parts = comma.split("a , b,c");
    ASSERT_EQ(parts.size(), 3u);
    EXPECT_EQ(parts[1], "b");
    EXPECT_EQ(Regex("v(\\d)").replace_all("v1 v2", "w$1"), "w1 w2");
}

TEST(Regex, BadPatternAndInvalidUtf8) {
    EXPECT_THROW(Regex("("), igxl::Error);
    Regex re("abc");
    EXPECT_TRUE(re.search(std::string("\xff\xfe abc")));
}
