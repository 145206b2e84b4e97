// A small regular-expression matcher in two steps: MakePattern compiles a
// pattern as a user writes it, ScanRX finds its first match in a line.
//
// Pattern syntax:
//   .        any one character
//   ^        (first character) the start of the line
//   $        (last character) the end of the line, past its last character
//   [...]    one character of the set; [^...] one character not in it;
//            inside, "a-b" between two letters or digits is a range (either
//            order) and "\" escapes; at most 255 characters
//   x*       (not first) zero or more of the element before, as many as
//            possible; not after "^", "$" or another "*"
//   \t       a tab; "\" before any other character takes it literally, and
//            a "\" at the very end is itself
//   other    itself, as are "^" not first, "$" not last and "*" first
//
// Encoded pattern, a sequence of elements:
//   "@" c          the character c
//   "."            any character
//   "^" / "$"      start / end of the line, consuming nothing
//   "[" n c1..cn   one of the n characters
//   "!" n c1..cn   none of the n characters
//   "*" element    zero or more of the element (not "^", "$" or "*")
#pragma once

#include <string>
#include <string_view>

namespace textutil {

// The encoded pattern; "" when the pattern is invalid (a "*" with nothing
// it may repeat, a set of more than 255 characters).
std::string MakePattern(std::string_view pattern);

// Finds the first match of the encoded pattern in line at or after |start|,
// case-blind for a negative start. Returns the length of the match and
// sets start to its position; when nothing matches returns 0 with start
// one past the last position tried. Start 0 gives 0. Raises rtl::Exception
// "Invalid pattern!" for a damaged encoded pattern.
int ScanRX(std::string_view line, std::string_view pattern, int& start);

}  // namespace textutil
