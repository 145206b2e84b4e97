// An arithmetic expression evaluator.
//
// CalcStr removes every character up to and including the blank (so
// "1 0" reads as 10), then evaluates, loosest binding first:
//   Expression = Term { ("+" | "-") Term }
//   Term       = Power { ("*" | "/") Power }
//   Power      = Factor [ "^" Factor ]          (no second "^")
//   Factor     = number | "(" Expression ")" | ("+" | "-") Factor
//              | PI | (LN | ABS | EXP) "(" Expression ")"
// Text is cut into tokens at the operator characters "+-/*^()", so a sign
// inside a number ("1e-5") splits it, and text between a ")" and the next
// operator is ignored ("(2)3" is 2). Names are matched in any case.
#pragma once

#include <string_view>

namespace textutil {

// The value of the expression. Raises rtl::Exception with one of:
//   "Unexpected end of string"     nothing to evaluate, or text left over
//   "Mismatched brackets"          a "(" without its ")"
//   "Syntax error at position %d"  a missing operand or an unknown name; %d
//                                  is the position just past the operator
//                                  that ended the bad token, 0 at the end
//   "Expression nested too deeply" more than 1000 open brackets or signs
//   "Floating point division by zero", "Invalid floating point operation",
//   "Floating point overflow"      arithmetic faults (x/0, 0/0, LN or "^"
//                                  of a number not above 0, results beyond
//                                  the range of a double)
// and rtl::EConvertError for a number it cannot read ("1e").
double CalcStr(std::string_view expression);

}  // namespace textutil
