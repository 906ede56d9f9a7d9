// Evaluation of the plain arithmetic left after spec variables and unit suffixes are replaced:
// decimal numbers, + - * /, unary signs and parentheses, in double precision.
#pragma once
#include <string_view>

namespace igxl {

// Value of text with the usual precedence (unary signs bind tighter than * and /, so
// -2*3 == -6 and 2*-3 == -6). Throws igxl::Error naming the expression and the fault on
// division by zero, names, empty text, unbalanced parentheses or trailing content.
double evaluate_expression(std::string_view text);

}  // namespace igxl
