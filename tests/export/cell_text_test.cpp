// Rules of single field texts: number layout, date serials and shared-formula references.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <utility>

#include "export/common.h"
#include "export/xlsx_detail.h"
#include "helpers.h"
#include "util/text.h"

namespace igxl::detail {
namespace {

std::string repr(double v) {
    char buf[40];
    return std::string(buf, util::format_double_to(v, buf));
}

TEST(CellText, NumbersLookLikePythonRepr) {
    const std::pair<double, const char*> values[] = {
        {0.0, "0.0"}, {-0.0, "-0.0"}, {1.0, "1.0"}, {0.5, "0.5"}, {2.5e-5, "2.5e-05"}, {1e-4, "0.0001"},
        {0.0001234, "0.0001234"}, {1e15, "1000000000000000.0"}, {123456789012345678.0, "1.2345678901234568e+17"},
        {1.7976931348623157e308, "1.7976931348623157e+308"}, {5e-324, "5e-324"}, {0.1 + 0.2, "0.30000000000000004"},
        {-3.25, "-3.25"}, {1.5e300, "1.5e+300"}, {12345.678, "12345.678"},
        {std::numeric_limits<double>::infinity(), "inf"}, {-std::numeric_limits<double>::infinity(), "-inf"},
        {std::nan(""), "nan"}};
    for (const auto& [v, text] : values) {
        EXPECT_EQ(repr(v), text) << v;
        EXPECT_EQ(util::format_double(v), text) << v;
    }
    EXPECT_EQ(repr(1e-9), "1e-09");
    EXPECT_EQ(repr(1e16), "1e+16");
    EXPECT_EQ(repr(3.0), "3.0");

    std::string out;
    EXPECT_TRUE(canonical_integer("-0", out));
    EXPECT_EQ(out, "0");
    EXPECT_TRUE(canonical_integer("0012", out));
    EXPECT_EQ(out, "12");
    EXPECT_TRUE(canonical_integer("123456789012345678901234", out));  // beyond 64 bits, kept
    EXPECT_EQ(out, "123456789012345678901234");
    EXPECT_FALSE(canonical_integer("1.0", out));
    EXPECT_FALSE(canonical_integer("-", out));
}

// The text-only path must give what parsing the stored text and printing the double gives.
TEST(CellText, StoredDecimalTextAgreesWithTheDoubleRoundTrip) {
    auto via_double = [](const std::string& t) {
        char buf[40];
        return std::string(buf, util::format_double_to(std::strtod(t.c_str(), nullptr), buf));
    };
    auto direct = [](const std::string& t) {
        char buf[40];
        size_t n = repr_decimal_text(t, buf);
        return n ? std::string(buf, n) : std::string("(refused)");
    };
    for (const char* t : {"0.5", "1E-09", "2.5E-05", "0.0001", "0.00012", "1E+16", "999999999999999", "1E2",
                          "-3.25", "100.50", "0012.5000", "0.0000000000000000000000001", "1.5E300", "-7E-3",
                          "123456789012345", "1.23456789012345E-200", "1e0", "0.1"})
        EXPECT_EQ(direct(t), via_double(t)) << t;
    // Texts it must leave to the double path: too many digits, zero, far exponents, odd forms.
    for (const char* t : {"0.30000000000000004", "9999999999999998", "1.2345678901234567", "0", "-0.0", "1E-320", "1E+309", ".5",
                          "5.", "+1.5", "1.5E", "0x1p3", "1,5", "inf", "", "-"})
        EXPECT_EQ(direct(t), "(refused)") << t;
    // Random decimals of 1 to 15 digits over the exponents Excel stores.
    testing::RandomNumbers rnd{12345};
    for (int i = 0; i < 20000; ++i) {
        const uint64_t seed = rnd.next();
        int digits = 1 + int(seed >> 60) % 15;
        const std::string e = rnd.exponent_text(digits, int((seed >> 20) % 80) - 40, 'e');
        ASSERT_EQ(direct(e), via_double(e)) << e;
        char t[64];
        std::snprintf(t, sizeof t, "%.*f", digits % 8, double(seed >> 11) * 0x1p-53 * 1000);
        if (std::strtod(t, nullptr) != 0) {
            ASSERT_EQ(direct(t), via_double(t)) << t;
        }
    }
}

TEST(CellText, DateFormatsAndSerials) {
    EXPECT_EQ(date_kind_of_format("yyyy-mm-dd"), DateKind::DateTime);
    EXPECT_EQ(date_kind_of_format("[$-F800]dddd, mmmm dd, yyyy"), DateKind::DateTime);
    EXPECT_EQ(date_kind_of_format("[h]:mm:ss"), DateKind::Duration);
    EXPECT_EQ(date_kind_of_format("General"), DateKind::None);
    EXPECT_EQ(date_kind_of_format("0.00E+00"), DateKind::None);
    EXPECT_EQ(date_kind_of_format("[Red]#,##0.00;[Blue]-#,##0.00"), DateKind::None);
    EXPECT_EQ(date_kind_of_format("\"days\" 0"), DateKind::None);
    EXPECT_EQ(date_kind_of_format("0\\h"), DateKind::None);
    EXPECT_EQ(date_kind_of_format("0;yyyy"), DateKind::None);  // only the first section counts
    EXPECT_EQ(date_kind_of_builtin(14), DateKind::DateTime);
    EXPECT_EQ(date_kind_of_builtin(31), DateKind::DateTime);  // a Chinese locale's date
    EXPECT_EQ(date_kind_of_builtin(46), DateKind::Duration);
    EXPECT_EQ(date_kind_of_builtin(2), DateKind::None);

    std::string s;
    auto date = [&](double v, bool d1904, DateKind k = DateKind::DateTime) {
        return format_serial_date(v, d1904, k, s) ? s : std::string("fail");
    };
    EXPECT_EQ(date(1, false), "1900-01-01 00:00:00");
    EXPECT_EQ(date(61, false), "1900-03-01 00:00:00");
    EXPECT_EQ(date(45322, false), "2024-01-31 00:00:00");
    EXPECT_EQ(date(45322.5, false), "2024-01-31 12:00:00");
    EXPECT_EQ(date(0, true), "00:00:00");
    EXPECT_EQ(date(1, true), "1904-01-02 00:00:00");
    EXPECT_EQ(date(0.99999999, false), "23:59:59.999000");
    EXPECT_EQ(date(0.999999999, false), "1900-01-01 00:00:00");  // rounds up to the next day
    EXPECT_EQ(date(2.0000058, false), "1900-01-02 00:00:00.501000");
    EXPECT_EQ(date(-1, false), "1899-12-29 00:00:00");
    EXPECT_EQ(date(3e6, false), "fail");
    EXPECT_EQ(date(0.5, false, DateKind::Duration), "12:00:00");
    EXPECT_EQ(date(10.632060185185185, false, DateKind::Duration), "255:10:10");
    EXPECT_EQ(date(-0.25, false, DateKind::Duration), "-06:00:00");

    EXPECT_TRUE(format_iso_date("2021-01-01", s));
    EXPECT_EQ(s, "2021-01-01");
    EXPECT_TRUE(format_iso_date("2021-01-01T10:10:10.5Z", s));
    EXPECT_EQ(s, "2021-01-01 10:10:10.500000");
    EXPECT_TRUE(format_iso_date("10:10", s));
    EXPECT_EQ(s, "10:10:00");
    EXPECT_FALSE(format_iso_date("yesterday", s));
}

TEST(CellText, SharedFormulaReferencesMove) {
    std::string out;
    auto shift = [&](std::string_view f, int dr, int dc) {
        shift_formula(f, dr, dc, out);
        return out;
    };
    EXPECT_EQ(shift("A1*2", 2, 0), "A3*2");
    EXPECT_EQ(shift("$A1+A$1+$A$1", 1, 1), "$A2+B$1+$A$1");
    EXPECT_EQ(shift("SUM(A1:B2)/COUNT(A:A)+SUM(1:3)", 1, 1), "SUM(B2:C3)/COUNT(B:B)+SUM(2:4)");
    EXPECT_EQ(shift("'Sheet A1'!B2+Sheet2!C3", 1, 0), "'Sheet A1'!B3+Sheet2!C4");
    EXPECT_EQ(shift("IF(A1=\"B2\",LOG10(A1),ATAN2(1,2))", 1, 0), "IF(A2=\"B2\",LOG10(A2),ATAN2(1,2))");
    EXPECT_EQ(shift("A1+1.5E+3+Table1[Col1]+TRUE+myName", 1, 0), "A2+1.5E+3+Table1[Col1]+TRUE+myName");
    EXPECT_EQ(shift("A1+#REF!", -1, 0), "#REF!+#REF!");
    EXPECT_EQ(shift("XFD1", 0, 1), "#REF!");
}

TEST(FormatStr, UnitFactorTable) {
    EXPECT_EQ(format_str("=2.5*NS"), "2.5*0.000000001");
    EXPECT_EQ(format_str("=1.2*mV"), "1.2*mV");
    EXPECT_EQ(format_str("10*KHZ"), "10*1000");
    EXPECT_EQ(format_str("=1.8*V"), "1.8*1");
    EXPECT_EQ(format_str("=_Vdd*MV"), "_Vdd*0.001");
    EXPECT_EQ(format_str("100*MHZ+1*GHZ"), "100*1000000+1*1000000000");
    EXPECT_EQ(format_str("3*UA+4*UV+5*MA+6*A+7*PS+8*US+9*MS"),
              "3*0.000001+4*0.000001+5*0.001+6*1+7*0.000000000001+8*0.000001+9*0.001");
    EXPECT_EQ(format_str("a==b"), "ab");
    EXPECT_EQ(format_str("x*Hz+y*ns"), "x*Hz+y*ns");
    EXPECT_EQ(format_str(""), "");
}

}  // namespace
}  // namespace igxl::detail
