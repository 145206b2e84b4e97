// The platform collation behind AnsiCompare, for Windows-1252 text: a word
// sort in which
//  1. base letters decide first, case- and accent-blind (symbols before
//     digits before letters; "ß" sorts as "ss", "æ" as "ae"); hyphens,
//     apostrophes and control characters are passed over;
//  2. then accents (the plain letter first);
//  3. then case (lower case first), unless ignore_case;
//  4. then the passed-over characters.
#pragma once

#include <string_view>

namespace textutil::detail {

// -1 when a sorts before b, 0 when they collate equal, 1 after.
int Collate(std::string_view a, std::string_view b, bool ignore_case);

}  // namespace textutil::detail
