// Collation: how a table's strings compare and change case under its
// language, a pair of a language ID and a sort ID kept in the table header.
//
// Language 0 (the engine's "ANSI Standard", used by the application's own
// tables) compares unsigned bytes; its case maps are the fixed Windows-1252
// tables of US English. Every other language uses a frozen collation table
// compiled into the program (TCollationTable), with a version number so that
// an index built under one table is never read under another. No table is
// consulted at run time from the system: the order of stored indexes must
// never change under them.
//
// All comparisons answer -1, 0 or 1.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <span>
#include <string>
#include <string_view>

#include "tables/lib/system_list.h"

namespace korvex {

// Comparison flags (the values the engine stores and passes).
inline constexpr std::uint32_t NORM_IGNORECASE = 0x0001;
inline constexpr std::uint32_t NORM_IGNORENONSPACE = 0x0002;
inline constexpr std::uint32_t SORT_STRINGSORT = 0x1000;

// sort << 16 | language.
inline std::uint32_t MakeLocaleID(std::uint16_t language, std::uint16_t sort) {
  return static_cast<std::uint32_t>(sort) << 16 | language;
}
// sub << 10 | primary, 16 bits.
inline std::uint16_t MakeLanguageID(std::uint16_t primary, std::uint16_t sub) {
  return static_cast<std::uint16_t>(sub << 10 | primary);
}
inline std::uint16_t LanguageOfLocale(std::uint32_t locale) { return locale & 0xFFFF; }
inline std::uint16_t SortOfLocale(std::uint32_t locale) { return (locale >> 16) & 0xF; }

// ---- frozen collation tables -------------------------------------------

// The weights of one collation element at three levels: letter, accent,
// case. An element with all three weights 0 is ignored.
struct TCollationElement {
  std::uint16_t primary = 0;
  std::uint8_t accent = 0;
  std::uint8_t letter_case = 0;
  constexpr TCollationElement() = default;
  constexpr TCollationElement(std::uint16_t p, std::uint8_t a, std::uint8_t c)
      : primary(p), accent(a), letter_case(c) {}
  // The packed form the generated tables are written in: letter << 16 |
  // accent << 8 | case.
  constexpr TCollationElement(std::uint32_t packed)  // NOLINT: implicit on purpose
      : primary(static_cast<std::uint16_t>(packed >> 16)),
        accent(static_cast<std::uint8_t>(packed >> 8)),
        letter_case(static_cast<std::uint8_t>(packed)) {}
  friend constexpr bool operator==(const TCollationElement&, const TCollationElement&) = default;
};

inline constexpr int kMaxExpansion = 4;  // elements one unit may stand for ("æ" = a e)
inline constexpr int kMaxContraction = 4;  // bytes one element run may stand for ("ddzs")

// The elements one byte (or one contraction) stands for; unused slots are
// all zero.
using TElementRun = std::array<TCollationElement, kMaxExpansion>;
using TElementRuns = std::array<TElementRun, 256>;
using TCaseMap = std::array<std::uint8_t, 256>;

// A run of 2 or 3 bytes that sorts as one unit ("ch" in Czech, "aa" in
// Danish). Where several start at one place the longest is taken.
struct TContraction {
  std::array<std::uint8_t, kMaxContraction> bytes{};
  std::uint8_t length = 0;
  TElementRun elements{};
};

// One language's frozen table. The parts are shared between languages with
// the same weights or the same code page, so the table only points at them.
struct TCollationTable {
  std::uint16_t language = 0;
  std::uint16_t sort = 0;
  std::uint32_t version = 0;  // changes whenever any weight changes
  const TElementRuns* elements = nullptr;
  const TCaseMap* upper = nullptr;
  const TCaseMap* lower = nullptr;
  // Sorted by first byte, longest first within one first byte.
  std::span<const TContraction> contractions{};
  // Bit b set: byte b stands anywhere but last in some contraction (so a
  // contraction may start at it or run on past it).
  std::array<std::uint64_t, 4> contraction_leads{};
};

// The compiled table of a language and sort; nullptr when there is none.
const TCollationTable* FindCollationTable(std::uint16_t language, std::uint16_t sort);

// Whether strings of this language can be compared (language 0 or a
// compiled table). The engine refuses a table whose language fails this
// with error 15878.
bool IsLanguageAvailable(std::uint16_t language, std::uint16_t sort);

// Multi-level comparison under a table: letters first, then accents (unless
// NORM_IGNORENONSPACE), then case (unless NORM_IGNORECASE); a proper prefix
// sorts first. Lengths below 0 mean "up to the terminator"; each operand
// also stops at a terminator within its length.
int CompareWithTable(const TCollationTable& table, std::uint32_t flags, const char* s1,
                     std::ptrdiff_t length1, const char* s2, std::ptrdiff_t length2);

// ---- comparison ----------------------------------------------------------

// Byte-by-byte comparison of `length` bytes as unsigned values; 1 when
// buffer1 is nullptr; signs swapped when descending.
int CompareBytes(const void* buffer1, const void* buffer2, std::uint16_t length, bool descending);

// The comparison the engine's keys use, with explicit lengths: under the
// locale's language and sort and the given flags. Lengths below 0 mean "up
// to the terminator"; each operand stops at a terminator within its length.
// Language 0 compares unsigned bytes (upper-cased copies with
// NORM_IGNORECASE). Any other language without a compiled table raises 15878.
int CompareLocaleStrings(std::uint32_t locale, std::uint32_t flags, const char* s1,
                         std::ptrdiff_t length1, const char* s2, std::ptrdiff_t length2);

// Zero-terminated strings of a table. `length` 0 compares the whole strings
// (a proper prefix first); `length` above 0 compares at most that many
// bytes of each (a partial comparison). Case-insensitive comparison compares
// upper-cased copies; the callers' strings never change. Other languages
// ignore accents, as the engine's string comparisons always have.
int CompareStrings(std::uint16_t language, std::uint16_t sort, const char* s1, const char* s2,
                   std::size_t length, bool case_insensitive);

// One character against another under a locale: CompareChar keeps accents
// and case, CompareCharNoAccent ignores accents.
int CompareChar(std::uint32_t locale, char c1, char c2);
int CompareCharNoAccent(std::uint32_t locale, char c1, char c2);
// Language 0: the bytes; otherwise CompareCharNoAccent.
int LikeCompareChar(std::uint16_t language, std::uint16_t sort, char c1, char c2);

// SQL LIKE over zero-terminated strings: '%' matches any run (also none),
// '_' any one character, any other pattern character one text character
// equal under LikeCompareChar. No escape character.
bool LikeString(std::uint16_t language, std::uint16_t sort, const char* text, const char* pattern);

// ---- case ------------------------------------------------------------------

// Case mapping of a zero-terminated source into dest (which may be the
// source; it must hold strlen(source) + 1 bytes).
void UpperString(std::uint16_t language, std::uint16_t sort, const char* source, char* dest);
void LowerString(std::uint16_t language, std::uint16_t sort, const char* source, char* dest);
std::string UpperString(std::uint16_t language, std::uint16_t sort, std::string_view text);
std::string LowerString(std::uint16_t language, std::uint16_t sort, std::string_view text);

// ---- char maps -------------------------------------------------------------

// The 256 byte values in the collation order of a language (language 0:
// 0..255); characters that compare equal keep their byte order.
using TCharMap = std::array<std::uint8_t, 256>;

struct TCharMapRecord {
  std::uint8_t character;
  std::uint32_t locale;
};
// CompareChar of the two characters under the first record's locale.
int CompareLanguageChars(const TCharMapRecord& a, const TCharMapRecord& b);

void BuildCharMap(std::uint16_t language, std::uint16_t sort, TCharMap& map);

// The process-wide cache of char maps, one entry per locale pair asked for.
class TLanguageCharMapsList : public TCountedObject {
public:
  TLanguageCharMapsList();
  ~TLanguageCharMapsList() override;
  void GetCharMap(std::uint16_t language, std::uint16_t sort, TCharMap& map);
  void FreeAllCharMaps();

private:
  std::mutex lock_;
  TSystemList maps_;
};

// GetCharMap on the global cache (InitializeSupportFunctions must have run).
void GetLanguageCharMap(std::uint16_t language, std::uint16_t sort, TCharMap& map);

}  // namespace korvex
