// Phonetic keys and string similarity.
#pragma once

#include <string>
#include <string_view>

namespace textutil {

// The Metaphone key of a name: 8 characters, the key letters (upper-case
// B F H J K L M N P R S T W X Y, and A E I O U from an initial vowel) from
// the first on, blanks after them. "" when the name has fewer than 2
// letters, or when the key has more letters than max_letters (an X can make
// a ninth letter that is counted but not stored). A name whose letters are
// all silent gives 8 blanks.
std::string MetaPhone(std::string_view s, int max_letters);

// The letters (upper case) of a name that can give the key letter c: a name
// whose MetaPhone key holds c holds one of them, in upper or lower case.
// Empty when c is no key letter.
std::string_view KeyLetterSources(char c);

// Similarity of two strings in per cent (0..100): twice the length of their
// common runs (longest first, then recursively left and right of it) over
// their total length, rounded. 0 when either is empty or longer than 255.
int Similar(std::string_view a, std::string_view b);

// Levenshtein distance, case-sensitive, byte by byte; the other's length
// when one is empty; -1 when either is longer than 255 characters.
int StrDist(std::string_view a, std::string_view b);

}  // namespace textutil
