// String and number helpers of the runtime layer. Strings are Windows-1252
// bytes; positions are 1-based with 0 for "not found". The path and file
// helpers live in files.h, included here for convenience.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/runtime/files.h"

namespace rtl {

// ---- numbers --------------------------------------------------------------

std::string IntToStr(std::int64_t value);
// Upper-case hex, at least `digits` digits; negative values as their
// two's complement of 32 bits (64 for IntToHex64).
std::string IntToHex(std::int32_t value, int digits);
std::string IntToHex64(std::int64_t value, int digits);

// Decimal (optional blanks before, optional sign) or hex with '$' or "0x".
// Raise EConvertError "'<s>' is not a valid integer value" on anything
// else, including values outside the type's range.
std::int32_t StrToInt(std::string_view s);
std::int64_t StrToInt64(std::string_view s);
std::int32_t StrToIntDef(std::string_view s, std::int32_t fallback);
bool TryStrToInt(std::string_view s, std::int32_t& value);
bool TryStrToInt64(std::string_view s, std::int64_t& value);

// General format, 15 significant digits, the formatting settings' decimal
// separator; exponent form ("1.5E20", "1E-7") only when the fixed form
// would need more than 15 digits or the value is below 0.00001.
std::string FloatToStr(double value);
// Optional blanks round the number, sign, digits with the settings' decimal
// separator, optional exponent. EConvertError "'<s>' is not a valid
// floating point value" otherwise.
double StrToFloat(std::string_view s);
double StrToFloatDef(std::string_view s, double fallback);
bool TryStrToFloat(std::string_view s, double& value);

// ---- case and comparison --------------------------------------------------

// ASCII only: 'a'..'z' <-> 'A'..'Z'.
std::string UpperCase(std::string_view s);
std::string LowerCase(std::string_view s);
// Byte order (CompareStr) and ASCII case-blind order (CompareText);
// negative, 0 or positive.
int CompareStr(std::string_view a, std::string_view b);
int CompareText(std::string_view a, std::string_view b);
bool SameText(std::string_view a, std::string_view b);
// Windows-1252 case-blind order: bytes compared after CharUpper, so accented
// letters compare equal to their other case ('é' = 'É').
int AnsiCompareText(std::string_view a, std::string_view b);
bool AnsiSameText(std::string_view a, std::string_view b);
// Case-sensitive order consistent with AnsiCompareText: strings are ordered
// case-blind first; strings equal but for case put the lower-case letter
// first at the first difference ("abc" < "Abc" < "abd").
int AnsiCompareStr(std::string_view a, std::string_view b);

// ---- editing --------------------------------------------------------------

// Remove leading and/or trailing characters with codes up to 32.
std::string Trim(std::string_view s);
std::string TrimLeft(std::string_view s);
std::string TrimRight(std::string_view s);

// s in single quotes with every quote inside doubled.
std::string QuotedStr(std::string_view s);

enum TReplaceFlag : unsigned { rfReplaceAll = 1, rfIgnoreCase = 2 };
// Replaces the first (or with rfReplaceAll every) occurrence of old_pattern;
// rfIgnoreCase compares as AnsiCompareText does. An empty pattern replaces
// nothing.
std::string StringReplace(std::string_view s, std::string_view old_pattern,
                          std::string_view new_pattern, unsigned flags);

// 1-based position of the first occurrence of sub in s; 0 when absent or
// when sub is empty.
int Pos(std::string_view sub, std::string_view s);
// count characters from 1-based index; an index below 1 counts as 1, the
// result stops at the end of s, a count below 1 gives "".
std::string Copy(std::string_view s, int index, int count);
// Removes count characters from 1-based index (nothing when index is
// outside s).
void Delete(std::string& s, int index, int count);
// Inserts sub before 1-based index, clamped to 1 .. length + 1.
void Insert(std::string_view sub, std::string& s, int index);

}  // namespace rtl
