// Fields and token lists.
//
// Field routines cut delimited fields out of a line; a delimiter between
// OpenQuote and CloseQuote does not end a field, and quote characters stay in
// the field text (an unmatched quote makes the rest of the line one field).
// A field walk passes the position by reference and ends when it comes back
// as 0.
//
// Token lists are strings whose tokens are separated by the one character
// Delimiter or, when Delimiter2's second character is not the character 0,
// by the two characters of Delimiter2.
#pragma once

#include <string>
#include <string_view>

namespace textutil {

// The field from pos up to the next delimiter; pos moves past that
// delimiter, or becomes 0 when none follows or the call is refused (pos
// outside s, delims empty).
std::string Parse(std::string_view s, std::string_view delims, int& pos);
// As Parse, the field as a view into s (nothing is copied).
std::string_view ParseView(std::string_view s, std::string_view delims, int& pos);

// As Parse, but delimiters at the cursor are skipped first: a run of
// delimiters counts as one and empty fields do not come back.
std::string ParseWord(std::string_view s, std::string_view delims, int& pos);

// The text between the next open_tag at or after pos and the first
// close_tag after it; pos moves past close_tag, or becomes 0 when a tag is
// missing.
std::string ParseTag(std::string_view s, std::string_view open_tag, std::string_view close_tag, int& pos);

// The n-th field (1-based), with its closing delimiter when with_delim is
// set and it has one; "" when s has fewer fields.
std::string Fetch(std::string_view s, std::string_view delims, int n, bool with_delim);

// The token containing character pos; "" when pos is outside s or on the
// Delimiter character.
std::string GetToken(std::string_view s, int pos);
// Inserts token and a delimiter in front of the token containing pos; pos 0
// appends; an empty s becomes token. False, s unchanged, when pos is beyond
// s (or negative).
bool InsertToken(std::string& s, std::string_view token, int pos);
// Deletes the token containing pos with its closing delimiter and sets pos
// to where it began; on a delimiter deletes just that delimiter. False when
// pos is not within s.
bool DeleteToken(std::string& s, int& pos);
// Replaces the token containing pos by token; on a delimiter inserts token
// in front of it. False when pos is not within s.
bool ReplaceToken(std::string& s, std::string_view token, int pos);
// Moves pos to the last character of the previous token; false (pos 0) when
// there is none, false (pos unchanged) when pos is not within s.
bool PrevToken(std::string_view s, int& pos);
// Moves pos to the first character after the next delimiter at or after
// pos; false (pos 0) when none follows, false (pos unchanged) when pos is not
// within s.
bool NextToken(std::string_view s, int& pos);
// Number (1-based) of the token containing pos; 0 outside s or on Delimiter.
int GetTokenNum(std::string_view s, int pos);
// Position where token n begins; 0 when s has fewer than n tokens.
int GetTokenPos(std::string_view s, int n);
// Number of tokens: one more than the number of delimiters; 0 for "".
int GetTokenCnt(std::string_view s);

// Two-character delimiter scans (pair must have exactly 2 characters):
// first pair beginning at or after start;
int ScanPair(std::string_view s, std::string_view pair, int start);
// last pair ending at or before start (0 or beyond the end: the end of s).
int ScanPairR(std::string_view s, std::string_view pair, int start);

}  // namespace textutil
