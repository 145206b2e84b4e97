// The scan family: find a pattern, a character, a member of a class or set,
// one of several alternatives, a mask or an approximate match in a string,
// forward or backward from a 1-based start.
//
// Results are 1-based positions, 0 when nothing is found or the call is
// refused (empty string or pattern, start 0 or beyond the end). Where a
// routine says "case-blind", a negative start asks for it; where it says
// "'?'", a '?' in the pattern matches any one character.
#pragma once

#include <string>
#include <string_view>

namespace textutil {

// --- Pattern searches -----------------------------------------------------

// First occurrence of pattern at or after |start|. '?', case-blind.
int ScanF(std::string_view s, std::string_view pattern, int start);

// Same, exact (no '?', no case-blind); start must be 1 or more.
int ScanFF(std::string_view s, std::string_view pattern, int start);

// First occurrence lying wholly within |start|..stop (stop 0: the end of s;
// stop beyond the end gives 0). '?', case-blind.
int ScanSS(std::string_view s, std::string_view pattern, int start, int stop);

// As ScanF, but the search gives up (0) as soon as a text character being
// compared equals stop_char. '?', case-blind.
int ScanSC(std::string_view s, std::string_view pattern, int start, char stop_char);

// Last occurrence ending at or before |start| (start 0: the end of s).
// '?', case-blind.
int ScanR(std::string_view s, std::string_view pattern, int start);

// First position from |start| at which s differs from pattern. 1 for an
// empty pattern; 0 when every compared character agrees. '?', case-blind.
int ScanD(std::string_view s, std::string_view pattern, int start);

// Longest run of pattern's leading characters found at any position from
// start (1 or more): returns its length and sets start to its position; the
// leftmost of equal runs wins, a full match ends the search. 0 and start 0
// when there is none. '?', never case-blind.
int ScanP(std::string_view s, std::string_view pattern, int& start);

// First approximate occurrence from |start| with at most max_errors
// substituted, missing, extra or transposed characters: returns the number
// of text characters it spans and sets start to its position; 0 and start
// unchanged when there is none. Case-blind, no '?'.
int ScanZ(std::string_view s, std::string_view pattern, int max_errors, int& start);

// Leftmost position from |start| where any of the '|'-separated
// alternatives occurs (at most 16 alternatives; later ones are ignored).
// '?', case-blind.
int ScanOR(std::string_view s, std::string_view alternatives, int start);

// As ScanF and ScanR, for patterns of at most 256 characters (longer ones
// give 0). The C variants may reuse the skip table of the previous search of
// the same thread; they rebuild it when the pattern, direction or case mode
// differ. '?', case-blind.
int ScanQ(std::string_view s, std::string_view pattern, int start);
int ScanQC(std::string_view s, std::string_view pattern, int start);
int ScanQR(std::string_view s, std::string_view pattern, int start);
int ScanQRC(std::string_view s, std::string_view pattern, int start);

// First (ScanBfr) or last (ScanBfrR) occurrence in a buffer of |len| bytes;
// the result is the 1-based offset. A negative len is case-blind. '?'.
int ScanBfr(const void* buffer, std::string_view pattern, int len);
int ScanBfrC(const void* buffer, std::string_view pattern, int len);
int ScanBfrR(const void* buffer, std::string_view pattern, int len);
int ScanBfrRC(const void* buffer, std::string_view pattern, int len);

// 16-bit text: first occurrence of pattern, or of c, at or after start;
// exact; positions count 16-bit characters.
int WScan(std::u16string_view s, std::u16string_view pattern, int start);
int WScanC(std::u16string_view s, char16_t c, int start);

// --- Characters, classes and sets -----------------------------------------

// First c at or after start (1 to the length of s).
int ScanC(std::string_view s, char c, int start);
// Last c at or before start; a start of 0, negative or at or beyond the end
// starts at the last character.
int ScanB(std::string_view s, char c, int start);
// Position of the count-th c; 0 when there are fewer.
int ScanCC(std::string_view s, char c, int count);
// First (ScanNC) or last (ScanNB) character that is not c.
int ScanNC(std::string_view s, char c);
int ScanNB(std::string_view s, char c);
// First character from |start| whose code lies between c1 and c2 (either
// order).
int ScanLU(std::string_view s, char c1, char c2, int start);
// First digit, lower-case letter or upper-case letter from |start|.
int ScanN(std::string_view s, int start);
int ScanL(std::string_view s, int start);
int ScanU(std::string_view s, int start);

// Set-based scans over the characters of delims (at most 256; a negative
// start adds their case images):
// first member at or after |start|;
int ScanT(std::string_view s, std::string_view delims, int start);
// first member at or after |start| outside OpenQuote..CloseQuote;
int ScanTQ(std::string_view s, std::string_view delims, int start);
// last member at or before |start|;
int ScanRT(std::string_view s, std::string_view delims, int start);
// first non-member at or after |start|;
int ScanNT(std::string_view s, std::string_view delims, int start);
// last non-member at or before |start|.
int ScanRNT(std::string_view s, std::string_view delims, int start);

// --- Masks ------------------------------------------------------------------
// '*' any run (also none), '?' any character, '#' a digit, '@' a letter,
// '$' a letter or digit, '~' neither letter, digit nor blank; any other
// character stands for itself.

// Mask matches s from its first character (text left over is allowed).
bool IsMatch(std::string_view s, std::string_view mask, bool ignore_case);

// Length of the first text matched by mask at or after |start| (case-blind
// for a negative start); sets start to its position. 0 and start 0 when
// nothing matches.
int ScanW(std::string_view s, std::string_view mask, int& start);

}  // namespace textutil
