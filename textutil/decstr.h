// Integer arithmetic of any length on numbers written as decimal strings.
//
// A number is an optional '-' followed by decimal digits, most significant
// first, without leading zeros. A number whose first character is '0'
// counts as zero whatever follows, and so does an empty operand. A digit's
// value is its character code modulo 16 (digits are not checked). Results
// carry no leading zeros, "0" for zero and '-' only when negative.
#pragma once

#include <string>
#include <string_view>

namespace textutil {

// A + B; a zero operand gives the other one unchanged.
std::string StrAdd(std::string_view a, std::string_view b);
// A - B; a zero A gives B negated, a zero B gives A.
std::string StrSub(std::string_view a, std::string_view b);
// A x B.
std::string StrMul(std::string_view a, std::string_view b);
// The quotient of A by B, cut toward zero; rem gets the remainder, which
// has A's sign. Division by zero (B zero or empty) gives "" and rem "".
std::string StrDiv(std::string_view a, std::string_view b, std::string& rem);
// Below, equal to or above 0 as A is below, equal to or above B. Operands
// compare by sign, then magnitude length, then character by character; an
// empty operand counts as "0".
int StrCmp(std::string_view a, std::string_view b);
// A without its '-' (a lone "-" stays as it is).
std::string StrAbs(std::string_view a);
// A rounded, halves away from zero, to a multiple of 10^n (n of 1 or more;
// otherwise, or for an empty A, A itself). A value below half of 10^n
// rounds to "0".
std::string StrRnd(std::string_view a, int n);
// Decimal to upper-case hexadecimal (with '-' when negative); a zero A is
// returned unchanged, "" gives "".
std::string StrHex(std::string_view a);
// Hexadecimal (either case) to decimal (with '-' when negative); "" gives "".
std::string StrDec(std::string_view a);

}  // namespace textutil
