// Comparisons, whole-string and character tests, case mapping of single
// characters and in-place character filters.
#pragma once

#include <string>
#include <string_view>

#include "textutil/state.h"

namespace textutil {

// --- Comparisons ------------------------------------------------------------

// Compares s1 from |start1| with s2 from |start2|, len characters (0: to the
// ends): -1, 0 or 1, the shorter span first when one is a prefix of the
// other. A negative start makes it case-blind: letters compare as upper
// case, every other byte by its code. -2 for a start of 0 or beyond its
// string. An empty string sorts before any other.
int VantaCompare(std::string_view s1, std::string_view s2, int start1, int start2, int len);

// The same spans compared by the platform's collation (case-blind when
// either start is negative), in the opposite sense: -1 when s2's span sorts
// before s1's, 1 when after, 0 when equal. -2 for a start of 0 or beyond
// its (non-empty) string.
int AnsiCompare(std::string_view s1, std::string_view s2, int start1, int start2, int len);

// The len characters of s at |start| equal one of the len-character slots
// of table (case-blind for a negative start).
bool StringAt(std::string_view s, std::string_view table, int start, int len);

// --- Whole-string tests (false for an empty s unless stated) ---------------
bool IsNum(std::string_view s);       // digits and blanks
bool IsHex(std::string_view s);       // 0-9, A-F, a-f
bool IsAlpha(std::string_view s);     // AlphaSet: letters and blanks
bool IsAlphaNum(std::string_view s);  // AlphaNumSet
bool IsFloat(std::string_view s);     // digits, DecimalSep, blank, + - E e
bool IsDateTime(std::string_view s);  // digits, blank, TimeSep, DateSep, - A M P
bool IsNull(std::string_view s);      // codes up to 32 and 255
bool IsTable(std::string_view s, std::string_view table);  // true for an empty s

// The run of table's characters at |start| is at least count long.
bool IsField(std::string_view s, std::string_view table, int start, int count);
// Every character of s is in allowed, or is in once and used there only
// once (s read from its end).
bool IsSet(std::string_view s, const TCharSet& allowed, const TCharSet& once);
// Any of the '&'-separated words occurs in s (ScanF from start).
bool IsFound(std::string_view s, std::string_view words, int start);
// s fits the input mask (see input_mask.cpp for the mask language).
bool IsMask(std::string_view s, std::string_view mask, int len);

// --- Characters ---------------------------------------------------------------
bool IsNumChar(char c);
bool IsAlphaChar(char c);
bool IsAlphaNumChar(char c);
bool IsLChar(char c);
bool IsUChar(char c);
bool IsCChar(char c1, char c2);  // the same letter in either case
char UChar(char c);
char LChar(char c);
char RChar(char c);  // the other case

// --- In-place filters -------------------------------------------------------
// Each keeps its characters in order, blanks the freed tail, keeps the
// length and returns the kept count (0 for an empty s).
int MakeAlpha(std::string& s);     // letters (blanks dropped)
int MakeAlphaNum(std::string& s);  // letters and digits
int MakeNum(std::string& s);       // digits
int MakeTime(std::string& s);      // digits and TimeSep
int MakeHex(std::string& s);       // hex digits, a-f stored as A-F
int MakeFloat(std::string& s);     // digits, DecimalSep, E e + -
int MakeTable(std::string& s, std::string_view table);  // 0, unchanged, for an empty table

// Formats s as a fixed-point number with the given decimals: keeps digits,
// signs and DecimalSep, cuts or pads the decimals with '0', blanks the rest
// and returns the number's length. Lengthens s when the number needs more
// room than it has; with 0 decimals and no separator the digits stay as they
// are.
int MakeFixed(std::string& s, unsigned char decimals);

}  // namespace textutil
