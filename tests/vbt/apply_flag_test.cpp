#include <gtest/gtest.h>

#include "vbt/apply_flag.h"

namespace igxl::vbt {
namespace {

xlsx::Cell cell(xlsx::Cell::Kind kind, std::string text, double number = 0, bool boolean = false) {
    xlsx::Cell c;
    c.kind = kind;
    c.text = std::move(text);
    c.number = number;
    c.boolean = boolean;
    return c;
}

TEST(ApplyFlag, ReadsEveryWayAReviewerMarksARow) {
    using K = xlsx::Cell::Kind;
    // Excel's logical cell, a number, typed text, LibreOffice's formula, this tool's own yes word.
    for (const auto& yes : {cell(K::Bool, "TRUE", 0, true), cell(K::Number, "1", 1), cell(K::Text, " true "),
                            cell(K::Text, "1"), cell(K::Formula, "=TRUE()"), cell(K::Formula, "=true"),
                            cell(K::Text, "TRUE()"), cell(K::Text, "是")})
        EXPECT_EQ(read_apply_flag(yes), ApplyFlag::YES) << yes.text;
    for (const auto& no : {cell(K::Empty, ""), cell(K::Bool, "FALSE"), cell(K::Number, "0", 0), cell(K::Text, "  "),
                           cell(K::Text, "False"), cell(K::Formula, "=FALSE()"), cell(K::Text, "否")})
        EXPECT_EQ(read_apply_flag(no), ApplyFlag::NO) << no.text;
    // A mark that is not acted on must not pass unnoticed.
    for (const auto& odd : {cell(K::Text, "yes"), cell(K::Text, "x"), cell(K::Number, "2", 2),
                            cell(K::Formula, "=A1=1"), cell(K::Error, "#N/A")})
        EXPECT_EQ(read_apply_flag(odd), ApplyFlag::NOT_UNDERSTOOD) << odd.text;
}

}  // namespace
}  // namespace igxl::vbt
