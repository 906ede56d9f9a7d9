#include "check/arith.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "util/error.h"

namespace {

using igxl::evaluate_expression;

TEST(Arith, PrecedenceAndAssociativity) {
    EXPECT_EQ(evaluate_expression("1+2*3"), 7.0);
    EXPECT_EQ(evaluate_expression("(1+2)*3"), 9.0);
    EXPECT_EQ(evaluate_expression("10-4-3"), 3.0);
    EXPECT_EQ(evaluate_expression("8/4/2"), 1.0);
    EXPECT_EQ(evaluate_expression("2*3/4"), 1.5);
    EXPECT_EQ(evaluate_expression("1-2+3"), 2.0);
    EXPECT_EQ(evaluate_expression("((2))*((3+1))"), 8.0);
}

TEST(Arith, UnarySignsBindTighterThanProducts) {
    EXPECT_EQ(evaluate_expression("-2*3"), -6.0);
    EXPECT_EQ(evaluate_expression("2*-3"), -6.0);
    EXPECT_EQ(evaluate_expression("--1"), 1.0);
    EXPECT_EQ(evaluate_expression("-+-1"), 1.0);
    EXPECT_EQ(evaluate_expression("2--3"), 5.0);
    EXPECT_EQ(evaluate_expression("-(2+3)"), -5.0);
    EXPECT_EQ(evaluate_expression("1/-4"), -0.25);
    // A long run of signs costs no stack.
    EXPECT_EQ(evaluate_expression(std::string(100000, '-') + "1"), 1.0);
}

TEST(Arith, NumberForms) {
    EXPECT_EQ(evaluate_expression("1"), 1.0);
    EXPECT_EQ(evaluate_expression("1.5"), 1.5);
    EXPECT_EQ(evaluate_expression(".5"), 0.5);
    EXPECT_EQ(evaluate_expression("5."), 5.0);
    EXPECT_EQ(evaluate_expression("1e-9"), 1e-9);
    EXPECT_EQ(evaluate_expression("2.5E+3"), 2500.0);
    EXPECT_EQ(evaluate_expression("007"), 7.0);
    // Same double arithmetic as the reference evaluation of unit-rewritten periods.
    EXPECT_EQ(evaluate_expression("10*0.000000001"), 10 * 0.000000001);
    EXPECT_EQ(evaluate_expression("1/(10*0.000000001)"), 1 / (10 * 0.000000001));
    EXPECT_EQ(evaluate_expression("1.8*1.1"), 1.8 * 1.1);
    // Literals beyond double range behave like a float conversion.
    EXPECT_TRUE(std::isinf(evaluate_expression("1e999")));
    EXPECT_EQ(evaluate_expression("1e-999"), 0.0);
    EXPECT_TRUE(std::isinf(evaluate_expression(std::string(400, '9'))));
    EXPECT_EQ(evaluate_expression("0." + std::string(400, '0') + "1"), 0.0);
}

TEST(Arith, BlanksAnywhereBetweenTokens) {
    EXPECT_EQ(evaluate_expression("  1 +\t2 * ( 3 )  "), 7.0);
    EXPECT_EQ(evaluate_expression("- 2"), -2.0);
}

TEST(Arith, NestingWithinLimitsWorks) {
    std::string s = std::string(150, '(') + "4" + std::string(150, ')');
    EXPECT_EQ(evaluate_expression(s), 4.0);
}

// Every failure is an igxl::Error that names the expression and what is wrong.
void expect_failure(const std::string& text, const std::string& reason) {
    try {
        evaluate_expression(text);
        ADD_FAILURE() << "no failure for '" << text << "'";
    } catch (const igxl::Error& e) {
        std::string msg = e.what();
        EXPECT_NE(msg.find("'" + text + "'"), std::string::npos) << msg;
        EXPECT_NE(msg.find(reason), std::string::npos) << msg;
    }
}

TEST(Arith, FailuresNameExpressionAndFault) {
    expect_failure("1/0", "division by zero");
    expect_failure("1/(2-2)", "division by zero");
    expect_failure("3/-0.0", "division by zero");
    expect_failure("VDD*2", "unexpected 'V'");
    expect_failure("2*_VDD", "unexpected '_'");
    expect_failure("10NS", "unexpected 'N'");
    expect_failure("", "empty");
    expect_failure("   ", "empty");
    expect_failure("(1+2", "missing ')'");
    expect_failure("1+2)", "unbalanced ')'");
    expect_failure(")", "unbalanced ')'");
    expect_failure("1 2", "unexpected '2'");
    expect_failure("1.2.3", "unexpected '.'");
    expect_failure("1e", "malformed exponent");
    expect_failure("1e+", "malformed exponent");
    expect_failure(".", "unexpected '.'");
    expect_failure("*3", "unexpected '*'");
    expect_failure("1+", "a number is missing");
    expect_failure("2**3", "unexpected '*'");
    expect_failure("=1", "unexpected '='");
}

TEST(Arith, DeepNestingFailsCleanly) {
    std::string s = std::string(100000, '(') + "1" + std::string(100000, ')');
    EXPECT_THROW(evaluate_expression(s), igxl::Error);
}

}  // namespace
