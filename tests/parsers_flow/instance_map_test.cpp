// The instance map holds its records' texts itself: records view them through moves of the map,
// names added apart keep their records together in row order, and equality is by fields only.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "parsers/test_instances.h"

namespace {

using igxl::InstanceMap;
using igxl::InstanceRecord;

InstanceMap::Row row(std::string_view method, const std::vector<std::string_view>& args, std::string_view file,
                     unsigned line, std::string_view arg_list = "Patterns,Mode") {
    InstanceMap::Row r;
    r.Method = method;
    r.TimeSet = "TSB";
    r.ArgList = arg_list;
    r.ArgDetails = args;
    r.file = file;
    r.line = line;
    return r;
}

TEST(InstanceMap, RecordsKeepTheirTextsWhenTheMapMoves) {
    std::vector<InstanceMap> maps;
    maps.emplace_back();
    // Enough rows for several blocks, one text larger than a block, texts made and dropped here.
    const std::string huge(300 * 1024, 'p');
    for (unsigned i = 0; i < 3000; ++i) {
        const std::string name = "T" + std::to_string(i % 1000);
        const std::string method = "Method_" + std::to_string(i);
        const std::string file = i < 1500 ? "a.txt" : "b.txt";
        const std::string arg = "arg" + std::to_string(i);
        const std::vector<std::string_view> args = {arg, "", i == 7 ? std::string_view(huge) : "x"};
        maps[0].add(name, row(method, args, file, i + 5));
    }
    for (int i = 0; i < 20; ++i) maps.emplace_back();  // the first map is moved as the vector grows
    const InstanceMap& m = maps[0];
    ASSERT_EQ(m.size(), 1000u);
    ASSERT_EQ(m.record_count(), 3000u);
    const auto t7 = m.at("T7");
    ASSERT_EQ(t7.size(), 3u);
    for (size_t k = 0; k < 3; ++k) {
        const unsigned i = 7 + 1000 * static_cast<unsigned>(k);
        EXPECT_EQ(t7[k].Method(), "Method_" + std::to_string(i));
        EXPECT_EQ(t7[k].TimeSet(), "TSB");
        EXPECT_EQ(t7[k].ArgList(), "Patterns,Mode");
        EXPECT_EQ(t7[k].ArgDetails().to_strings(),
                  (std::vector<std::string>{"arg" + std::to_string(i), "", k == 0 ? huge : "x"}));
        EXPECT_EQ(t7[k].line(), i + 5);
    }
    // One file text per sheet, shared by its records.
    EXPECT_EQ(t7[0].file(), "a.txt");
    EXPECT_EQ(t7[2].file(), "b.txt");
    EXPECT_EQ(&t7[0].file(), &m.at("T8")[0].file());
}

TEST(InstanceMap, NamesAddedApartKeepTheirRecordsTogetherInRowOrder) {
    InstanceMap m;
    m.add("A", row("a1", {}, "s.txt", 1));
    m.add("B", row("b1", {}, "s.txt", 2));
    m.add("A", row("a2", {}, "s.txt", 3));
    m.add("C", row("c1", {}, "s.txt", 4));
    m.add("B", row("b2", {}, "s.txt", 5));
    std::vector<std::string> seen;
    for (const auto& [name, records] : m) {
        std::string one(name);
        for (const InstanceRecord& r : records) one += " " + std::string(r.Method()) + ":" + std::to_string(r.line());
        seen.push_back(one);
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"A a1:1 a2:3", "B b1:2 b2:5", "C c1:4"}));
    auto it = m.find("B");
    ASSERT_NE(it, m.end());
    EXPECT_EQ(it->first, "B");
    EXPECT_EQ(it->second.back().Method(), "b2");
    EXPECT_EQ(m.find("a"), m.end());  // names are kept as given: the reader upper-cases them
    EXPECT_FALSE(m.contains("D"));
    EXPECT_THROW(m.at("D"), std::out_of_range);
}

TEST(InstanceRecord, EqualWhenEveryFieldIs) {
    InstanceMap a, b;
    a.add("T", row("M", {"x", ""}, "old.txt", 3));
    b.add("T", row("M", {"x", ""}, "new.txt", 9));  // another place: still the same record
    b.add("U", row("M", {"x"}, "new.txt", 10));      // one argument fewer
    b.add("V", row("M", {"x", ""}, "new.txt", 11, "Patterns"));
    const InstanceRecord& t = a.at("T")[0];
    EXPECT_EQ(t, b.at("T")[0]);
    EXPECT_NE(t, b.at("U")[0]);
    EXPECT_NE(t, b.at("V")[0]);
    EXPECT_EQ(t.ArgDetails().at(1), "");
    EXPECT_THROW(t.ArgDetails().at(2), std::out_of_range);

    const InstanceRecord none;
    EXPECT_TRUE(none.Method().empty() && none.Pattern().empty() && none.ArgList().empty());
    EXPECT_TRUE(none.ArgDetails().empty());
    EXPECT_EQ(none.file(), "");
    EXPECT_EQ(none.line(), 0u);
    EXPECT_NE(none, t);
}

}  // namespace
