// The parameter markers of an SQL text: a colon followed by a name.
//
// CreateParams walks the text and gives it back with every marker replaced
// by "?", the statement's parameter sign; with a list it also adds one
// parameter (ftUnknown, ptUnknown) per marker, in text order.
//   - Text in single or double quotes is left alone; so are bracketed
//     names "[...]" and comments "/* ... */" (a colon in them is no marker).
//   - "::" outside those stands for one colon.
//   - A marker's name runs to the first line feed, carriage return, blank,
//     ')', ',' or ';' outside quotes, or to the end. A name that begins
//     with a quote is a quoted name: its delimiters may stand inside the
//     quotes, and the surrounding quotes are not part of the name.
//   - A colon followed by a delimiter or the end is plain text.
#pragma once

#include <string>
#include <string_view>

namespace korvex {

class TKORVEXParams;

std::string CreateParams(TKORVEXParams* list, std::string_view text);

}  // namespace korvex
