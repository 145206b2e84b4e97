// Text-producing routines: wrapping, a light-markup to HTML converter,
// numbers in English words, ordinal suffixes and Roman numerals, URL and
// uu-style codecs, path shortening and searching, and small string tools.
// Bad input is reported through the result, never by an exception.
//
// Paths use '/' as the directory delimiter; path lists are separated by
// ';'.
#pragma once

#include <string>
#include <string_view>

namespace textutil {

// The text cut into lines of at most width characters where a break
// character (" ,:;.?!&>]})|-=+~`") allows, each line followed by CR LF.
// Control characters end a paragraph; a word longer than width stays whole.
std::string WrapText(std::string_view text, int width);

// An HTML page from plain text with light markup. style: a digit gives the
// font size, a part in double quotes the font face, 'b' bold and 'i'
// italic. Lines beginning with '@' start and end a preformatted block, '-'
// gives a rule, '#' and '*' numbered and bullet list items, one to six '\'
// a heading; "[label]target" becomes a link.
std::string ASC2HTM(std::string_view title, std::string_view text, std::string_view style);

// The number in English words ("One Thousand Two Hundred Thirty Four"),
// with " Dollars" and " and NN Cents" for money, else the (up to two)
// fraction digits read one by one after " pt". Up to 15 characters; ""
// for anything longer, empty or not a number.
std::string NumToWord(std::string_view number, bool money);

std::string OrdSuffix(int n);  // "st", "nd", "rd" or "th"
std::string BoolToStr(bool b);  // "True" or "False"
// Roman numerals for 1..9999 (thousands as that many 'M'); "Error!" else.
std::string RomanNum(int n);

// Keeps letters, digits, the blank, '-', '.' and '_'; every other byte
// becomes '%' and two upper-case hexadecimal digits.
std::string URLEncode(std::string_view s);
// "%hh" gives that byte, '+' a blank and '&' CR LF; a '%' without two
// hexadecimal digits stays as it is.
std::string URLDecode(std::string_view s);
// Groups of 3 bytes (the last padded with blanks) as 4 characters of 6 bits
// + 32; no length character and no line breaks.
std::string UUEncode(std::string_view s);
// Groups of 4 characters back to 3 bytes; "" for fewer than 4 characters.
std::string UUDecode(std::string_view s);

// Shortens a path longer than max (4 or more) with "...", keeping its
// first directory and its name where they fit: "/usr/s.../readme.txt".
// False, path unchanged, for a max below 4; the result never exceeds max.
bool TruncPath(std::string& path, int max);
// Shortens a text of several words to max by cutting words from the right:
// first by dropping the characters of delims (never a word's first), then
// by cutting words to a falling length (a word ending in a digit is kept
// whole). A single word is cut to max. True when the text fits.
bool Abbreviate(std::string& text, std::string_view delims, int max);
// Trailing blanks removed, then a '/' added unless present / one trailing
// '/' removed.
void AddSlash(std::string& path);
void DelSlash(std::string& path);
// Looks for file in the ';'-separated directories of paths; a directory
// written with a final '*' is searched with all its subdirectories, and
// all its matches are collected. On success paths becomes the directory
// (or the ';'-joined directories) where the file is, each ending in '/'.
bool PathScan(std::string_view file, std::string& paths);

// -1 for an impossible nine-digit social security number, 0 for a doubtful
// one, 1 for a plausible one.
int ValidSSN(std::string_view s);

// Appends piece at used in buffer, growing the buffer (to twice the
// greater length) when needed; used grows by the piece's length. The caller
// cuts the buffer to used at the end.
void TomCat(std::string_view piece, std::string& buffer, int& used);

// The characters listed, ranges "a-z" (either direction) expanded; at most
// 256 characters.
std::string BuildTable(std::string_view ranges);
// Sorts the characters of text by code.
void CharSort(std::string& text);
// Rotates text left by one character.
void Marquee(std::string& text);

template <typename T>
T iif(bool condition, const T& when_true, const T& when_false) {
  return condition ? when_true : when_false;
}

}  // namespace textutil
