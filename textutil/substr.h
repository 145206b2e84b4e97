// Substrings, repeated characters, padding, justification and in-place
// filling, overwriting and shifting.
//
// The copying routines follow the substring rule: a start below 1 counts as
// 1, a start beyond the end gives "", a count is cut to what remains. The
// in-place routines never raise; bad positions change nothing.
#pragma once

#include <string>
#include <string_view>

namespace textutil {

std::string LStr(std::string_view s, int n);               // first n characters
std::string RStr(std::string_view s, int n);               // last n characters
std::string CStr(std::string_view s, int index, int n);    // n characters from index
std::string IStr(std::string_view s, int index);           // from index on; "" for index < 1

// The text from |start| up to the next occurrence of pattern (ScanF, so
// case-blind for a negative start); a pattern beginning with '?' is a set
// of delimiter characters (the rest of it). Without an occurrence, the text
// from |start| to the end.
std::string Extract(std::string_view s, std::string_view pattern, int start);

std::string DupChr(char c, int n);  // n copies of c

// Padded copies: LPad, RPad and CPad applied to a copy of s.
std::string LAdd(std::string_view s, char c, int n);
std::string RAdd(std::string_view s, char c, int n);
std::string CAdd(std::string_view s, char c, int n);

// Widen s to n characters with c: in front, at the end, or centred (an odd
// extra character goes to the end). Longer strings stay as they are.
void LPad(std::string& s, char c, int n);
void RPad(std::string& s, char c, int n);
void CPad(std::string& s, char c, int n);

// Writes c over count characters from start (cut at the end of s), or from
// start to the end; nothing when start is below 1 or beyond the end.
void FillCnt(std::string& s, int start, int count, char c);
void FillStr(std::string& s, int start, char c);

// Writes sub over s from pos, cut at the end of s.
void OverWrite(std::string& s, std::string_view sub, int pos);

// Copies count characters of src from src_pos over dest from dest_pos; the
// count is cut to what remains in both, dest never grows, a position below
// 1 counts as 1; nothing when either is empty or a position is beyond its
// string.
void MoveStr(std::string_view src, int src_pos, std::string& dest, int dest_pos, int count);

// Moves the stretch start..end (start > 0) or 1..|start| (start < 0) by
// count positions (right when positive); characters pushed past either end
// are lost, the places left behind keep their characters, the length never
// changes.
void ShiftStr(std::string& s, int start, int count);

// Justify within the same length; a blank here is any code up to 32.
void LFlush(std::string& s);  // drop leading blanks, pad the end
void RFlush(std::string& s);  // drop trailing blanks, pad the front
void CFlush(std::string& s);  // centre between the leading and trailing blanks

}  // namespace textutil
