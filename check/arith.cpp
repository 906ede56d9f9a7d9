#include "check/arith.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <limits>
#include <string>
#include <system_error>

#include "util/error.h"

namespace igxl {
namespace {

// Nesting beyond this is not a real level or period expression; refusing it keeps a hostile
// input from exhausting the stack.
constexpr int kMaxDepth = 200;

bool is_digit(char c) { return c >= '0' && c <= '9'; }

class Parser {
public:
    explicit Parser(std::string_view text) : text_(text) {}

    double parse() {
        skip_blanks();
        if (pos_ == text_.size()) fail("the expression is empty");
        double v = expr(0);
        skip_blanks();
        if (pos_ != text_.size()) {
            if (text_[pos_] == ')') fail("unbalanced ')'");
            fail("unexpected '" + std::string(1, text_[pos_]) + "'");
        }
        return v;
    }

private:
    [[noreturn]] void fail(const std::string& what) const {
        throw Error("cannot evaluate expression '" + std::string(text_) + "': " + what +
                    " at position " + std::to_string(pos_ + 1));
    }

    void skip_blanks() {
        while (pos_ < text_.size() && (text_[pos_] == ' ' || text_[pos_] == '\t')) ++pos_;
    }

    double expr(int depth) {
        double v = term(depth);
        for (;;) {
            skip_blanks();
            if (pos_ < text_.size() && (text_[pos_] == '+' || text_[pos_] == '-')) {
                char op = text_[pos_++];
                double r = term(depth);
                v = op == '+' ? v + r : v - r;
            } else {
                return v;
            }
        }
    }

    double term(int depth) {
        double v = unary(depth);
        for (;;) {
            skip_blanks();
            if (pos_ < text_.size() && (text_[pos_] == '*' || text_[pos_] == '/')) {
                char op = text_[pos_++];
                size_t at = pos_;
                double r = unary(depth);
                if (op == '*') {
                    v = v * r;
                } else {
                    if (r == 0.0) {
                        pos_ = at;
                        fail("division by zero");
                    }
                    v = v / r;
                }
            } else {
                return v;
            }
        }
    }

    // Signs are folded in a loop so a long run of them costs no stack.
    double unary(int depth) {
        bool negative = false;
        for (;;) {
            skip_blanks();
            if (pos_ < text_.size() && (text_[pos_] == '-' || text_[pos_] == '+')) {
                if (text_[pos_] == '-') negative = !negative;
                ++pos_;
            } else {
                break;
            }
        }
        double v = primary(depth);
        return negative ? -v : v;
    }

    double primary(int depth) {
        skip_blanks();
        if (pos_ == text_.size()) fail("a number is missing");
        char c = text_[pos_];
        if (c == '(') {
            if (depth >= kMaxDepth) fail("parentheses nested too deeply");
            ++pos_;
            double v = expr(depth + 1);
            skip_blanks();
            if (pos_ == text_.size() || text_[pos_] != ')') fail("missing ')'");
            ++pos_;
            return v;
        }
        if (is_digit(c) || c == '.') return number();
        if (c == ')') fail("unbalanced ')'");
        fail("unexpected '" + std::string(1, c) + "'");
    }

    // Decimal literal: digits [. digits] or . digits, then an optional exponent.
    double number() {
        size_t start = pos_;
        size_t int_digits = 0, frac_digits = 0;
        while (pos_ < text_.size() && is_digit(text_[pos_])) ++pos_, ++int_digits;
        if (pos_ < text_.size() && text_[pos_] == '.') {
            ++pos_;
            while (pos_ < text_.size() && is_digit(text_[pos_])) ++pos_, ++frac_digits;
        }
        if (int_digits + frac_digits == 0) {
            pos_ = start;
            fail("unexpected '.'");
        }
        if (pos_ < text_.size() && (text_[pos_] == 'e' || text_[pos_] == 'E')) {
            size_t exp_at = pos_;
            ++pos_;
            if (pos_ < text_.size() && (text_[pos_] == '+' || text_[pos_] == '-')) ++pos_;
            if (pos_ == text_.size() || !is_digit(text_[pos_])) {
                pos_ = exp_at;
                fail("malformed exponent");
            }
            while (pos_ < text_.size() && is_digit(text_[pos_])) ++pos_;
        }
        // A name glued to a number (2NS) is as wrong as a name alone.
        if (pos_ < text_.size() && (std::isalpha(static_cast<unsigned char>(text_[pos_])) ||
                                    text_[pos_] == '_' || text_[pos_] == '.'))
            fail("unexpected '" + std::string(1, text_[pos_]) + "'");

        std::string_view tok = text_.substr(start, pos_ - start);
        double v = 0.0;
        auto [end, ec] = std::from_chars(tok.data(), tok.data() + tok.size(), v,
                                         std::chars_format::general);
        if (ec == std::errc::result_out_of_range) return out_of_range_value(tok);
        if (ec != std::errc() || end != tok.data() + tok.size()) {
            pos_ = start;
            fail("malformed number");
        }
        return v;
    }

    // from_chars leaves the value alone when it over- or underflows; give what a float
    // conversion gives instead (infinity or zero), judged by the decimal magnitude.
    static double out_of_range_value(std::string_view tok) {
        long magnitude = 0;
        size_t i = 0;
        bool seen_nonzero = false;
        for (; i < tok.size() && is_digit(tok[i]); ++i) {
            if (tok[i] != '0') seen_nonzero = true;
            if (seen_nonzero) ++magnitude;
        }
        if (i < tok.size() && tok[i] == '.') {
            ++i;
            for (; i < tok.size() && is_digit(tok[i]); ++i) {
                if (seen_nonzero) break;
                if (tok[i] != '0') seen_nonzero = true;
                else --magnitude;
            }
            while (i < tok.size() && is_digit(tok[i])) ++i;
        }
        if (i < tok.size() && (tok[i] == 'e' || tok[i] == 'E')) {
            ++i;
            bool neg = false;
            if (i < tok.size() && (tok[i] == '+' || tok[i] == '-')) neg = tok[i++] == '-';
            long e = 0;
            for (; i < tok.size() && is_digit(tok[i]); ++i)
                if (e < 100000) e = e * 10 + (tok[i] - '0');
            magnitude += neg ? -e : e;
        }
        return magnitude > 0 ? std::numeric_limits<double>::infinity() : 0.0;
    }

    std::string_view text_;
    size_t pos_ = 0;
};

}  // namespace

double evaluate_expression(std::string_view text) { return Parser(text).parse(); }

}  // namespace igxl
