// The engine's table of language and sort names.
//
// 99 languages, each a display name and a 16-bit language ID (primary
// language | sub-language << 10); position 0 is "ANSI Standard" with ID 0.
// Every language has sort ID 0, "Default Order"; the five German entries
// (positions 48 to 52) also have sort ID 1, "German Phone Book Order". The
// LANGUAGE and SORT clauses of SQL statements name them by these texts.
// Names compare without regard to case (the fixed Windows-1252 case maps).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tables/lib/collation.h"  // MakeLanguageID

namespace korvex {

inline constexpr int kLanguageCount = 99;

// The display name and the ID at a list position (0..98).
std::string_view GetLanguageNameFromIndex(int index);
std::uint16_t GetLanguageIDFromIndex(int index);
// The list position of an ID; -1 when absent.
int GetIndexFromLanguageID(std::uint16_t id);

bool IsValidLanguageConstant(std::string_view name);
// 0 when unknown.
std::uint16_t ConvertLanguageConstantToID(std::string_view name);

// "Default Order", and for the German positions "German Phone Book Order".
std::vector<std::string> GetSortIDs(int language_index);
// The sort names of the language with that ID (an unknown ID has only the
// default order).
bool IsValidSortConstant(std::uint16_t language_id, std::string_view name);
// 0 for "Default Order", 1 for "German Phone Book Order", 0 otherwise.
std::uint16_t ConvertSortConstantToID(std::uint16_t language_id, std::string_view name);

// Sort positions (in GetSortIDs of a language position) and sort IDs: the
// same numbers. The ID at a position (0 for a position the language lacks);
// the position of an ID (-1 when the language has no such order).
std::uint16_t GetSortIDFromIndex(int language_index, int sort_index);
int GetIndexFromSortID(int language_index, std::uint16_t sort_id);
// The constant naming the order at a position: "SRT_DEFAULT" for position
// 0 and for every position of a language with the default order alone,
// "SRT_GERMAN_PHONE_BOOK" for a German language's position 1, else empty.
std::string GetSortIDStringFromIndex(int language_index, int sort_index);

}  // namespace korvex
