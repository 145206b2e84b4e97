// Case folding of the memo: keyword lists, start/stop lists and the text
// search compare against text folded by one of three rules.
#pragma once

#include <bitset>
#include <string>

#include "memo/memo_types.h"

namespace memo {

// Folds a zero-terminated buffer in place.
using TvmUpperCaseProc = void (*)(char* buffer);

// The application's own folding rule for vmuUserDefined; when it is not
// set, vmuUserDefined folds as vmuAscii does.
extern TvmUpperCaseProc UserUpperCaseProc;

// vmuAscii folds a-z only; vmuAnsi every Windows-1252 letter;
// vmuUserDefined calls UserUpperCaseProc. Nothing happens for nullptr.
void UpperCaseBuffer(TvmUpperCase type, char* buffer);
std::string UpperCaseCopy(TvmUpperCase type, std::string text);

// A set of 8-bit characters (bit n for code n).
using TCharSet = std::bitset<256>;
TCharSet CharSetOf(const std::string& chars);
// The members in code order.
std::string CharSetToString(const TCharSet& set);

}  // namespace memo
