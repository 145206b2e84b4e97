// Deleting, compacting, trimming, case changing, counting, translating and
// replacing.
//
// The in-place deleters keep the string's length: they pack the kept
// characters to the front in their order, blank the freed tail and return
// the kept count (0 for an empty string). A caller that wants the shorter
// string truncates it to that count.
#pragma once

#include <string>
#include <string_view>

namespace textutil {

// --- Deleters and compactors ----------------------------------------------
int DeleteC(std::string& s, char c);               // every c
int DeleteD(std::string& s, char c);               // runs of c shrink to one c
int DeleteS(std::string& s, int index, int count); // count characters from index (index 0 counts as 1)
int Compact(std::string& s);                       // every code up to 32
// Every character in the set of table (case-folded for a negative start)
// from |start| on; characters before |start| stay.
int DeleteI(std::string& s, std::string_view table, int start);
int DeleteT(std::string& s, std::string_view table);  // DeleteI from 1
// Every character not in the set, from |start| on.
int DeleteNI(std::string& s, std::string_view table, int start);
int DeleteNT(std::string& s, std::string_view table);  // DeleteNI from 1
// Every character of table outside double quotes ('"' toggles).
int DeleteTQ(std::string& s, std::string_view table);
// Removes codes up to 32 by packing the rest to the end; blanks the front.
void LCompact(std::string& s);

// --- Case ---------------------------------------------------------------------
// count characters from start through UpperTable / LowerTable.
void UCase(std::string& s, int start, int count);
void LCase(std::string& s, int start, int count);
// From start through the platform's case mapping (accented letters too); a
// count below 1 or beyond the end means to the end.
void AnsiUCase(std::string& s, int start, int count);
void AnsiLCase(std::string& s, int start, int count);
// Upper case after a character below '0' (and at the start), lower case
// elsewhere.
void ProperCase(std::string& s);

// --- Counting -------------------------------------------------------------------
int CountF(std::string_view s, char c, int start);  // c from start to the end
int CountR(std::string_view s, char c, int start);  // c at or before start
// Members of table's set from |start| (case-folded for a negative start):
int CountT(std::string_view s, std::string_view table, int start);  // all of them
int CountM(std::string_view s, std::string_view table, int start);  // the run at |start|
int CountN(std::string_view s, std::string_view table, int start);  // the run of non-members
// Maximal runs of characters not in delims.
int CountW(std::string_view s, std::string_view delims);

// --- Trimming -----------------------------------------------------------------
// Without leading c; a string made only of c comes back unchanged.
std::string LTrim(std::string_view s, char c);
// Without trailing c; "" for a string made only of c.
std::string RTrim(std::string_view s, char c);
// Without leading and trailing c.
std::string CTrim(std::string_view s, char c);

// --- Translating and replacing ------------------------------------------------
void ReplaceC(std::string& s, char old_char, char new_char);
// Every character in table's set from |start| (case-folded for a negative
// start) becomes c.
void ReplaceI(std::string& s, std::string_view table, int start, char c);
void ReplaceT(std::string& s, std::string_view table, char c);
// Each character of s found in from becomes the character at the same place
// in to (its first occurrence in from); nothing when the lengths differ.
void Translate(std::string& s, std::string_view from, std::string_view to);
// Every non-overlapping occurrence of old_text (left to right) becomes
// new_text; with ignore_case the search is case-blind and '?' in old_text
// matches any character. Returns the number replaced.
int ReplaceSC(std::string& s, std::string_view old_text, std::string_view new_text, bool ignore_case);
int ReplaceS(std::string& s, std::string_view old_text, std::string_view new_text);
// Increments s as an alphanumeric counter, keeping its length ("Zz9" gives
// "Aa0").
void IncStr(std::string& s);
// Reverses s.
void RevStr(std::string& s);

}  // namespace textutil
