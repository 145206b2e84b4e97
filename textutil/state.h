// Process-wide settings of the text utility library: the number and date
// separators, the case tables and character classes, the token-list
// delimiters and the quote characters.
//
// Conventions every routine of the library follows:
//  - Text is a std::string of Windows-1252 bytes.
//  - Positions are 1-based; 0 means "not found" or "nothing done". A start of
//    0, a start beyond the string or an empty string or pattern gives 0.
//  - A negative start is the same position counted from the left and asks
//    for a case-blind search: a pattern character then also matches the text
//    character whose CaseSwapTable image it is.
//  - '?' in a scan pattern matches any one character.
//  - Field walks pass the position by reference and end when it comes back 0.
//  - In-place deleters and filters keep the string's length: they pack the
//    kept characters to the front, blank the tail and return the kept count.
//  - Failures are values (0, false, ""), never exceptions, unless a routine
//    says otherwise.
//
// The settings are created on first use with the defaults below and change
// only through the setters here; a change holds for every later call in the
// whole process. Setters must not run while another thread uses the library.
#pragma once

#include <cstdint>
#include <string>

namespace textutil {

// A set of 8-bit characters: bit n of byte n / 8 stands for code n.
struct TCharSet {
  uint8_t bits[32] = {};

  bool Has(unsigned char c) const { return (bits[c >> 3] >> (c & 7)) & 1; }
  bool Has(char c) const { return Has(static_cast<unsigned char>(c)); }
  void Add(unsigned char c) { bits[c >> 3] |= static_cast<uint8_t>(1u << (c & 7)); }
  void Add(char c) { Add(static_cast<unsigned char>(c)); }
  void Clear() { *this = TCharSet(); }
  TCharSet& operator|=(const TCharSet& other) {
    for (int i = 0; i < 32; ++i) bits[i] |= other.bits[i];
    return *this;
  }
  bool operator==(const TCharSet& other) const = default;
};

struct UnitState {
  // Separators, taken from the runtime's formatting settings.
  char DecimalSep = '.';
  char TimeSep = ':';
  char DateSep = '/';
  char ThousandSep = ',';

  // Case tables: CaseSwapTable maps a letter to its other case, LowerTable
  // and UpperTable to one case; every other code maps to itself.
  uint8_t CaseSwapTable[256];
  uint8_t LowerTable[256];
  uint8_t UpperTable[256];

  // Character classes. AlphaSet holds the letters and the blank;
  // AlphaNumSet adds the digits.
  TCharSet LowerSet;
  TCharSet UpperSet;
  TCharSet AlphaSet;
  TCharSet AlphaNumSet;

  // Token lists: one-character mode uses Delimiter; two-character mode is in
  // force when Delimiter2's second character is not the character 0.
  char Delimiter = ',';
  std::string Delimiter2 = std::string(",\0", 2);

  // Quotes that hide delimiters from the quote-aware scans.
  char OpenQuote = '"';
  char CloseQuote = '"';

  // Tolerance of the float comparisons.
  double FloatTolerance = 1e-9;

  // Run-length codec state.
  uint8_t LastByte = 0;
  bool EscapePending = false;

  // Bumped whenever the case tables change, so that caches built from them
  // (the skip tables of the fast pattern search) know to rebuild.
  unsigned CaseGeneration = 0;

  UnitState();
};

// The library's settings, created on first use.
const UnitState& State();

// Write access for the library's own setters.
UnitState& MutableState();

// Re-reads the four separators from the runtime's formatting settings (the
// start-up values come from there too).
void LoadSeparators();

// Replaces the case tables and character classes by the letter pairs
// (Lower[i], Upper[i]). False, nothing changed, when Lower is empty or the
// lengths differ. Only the listed characters are letters afterwards.
bool SetCaseTable(const std::string& lower, const std::string& upper);

// Sets Delimiter to c and Delimiter2 to c followed by the character 0.
// False, nothing changed, for the character 0.
bool SetDelimiter(char c);
char GetDelimiter();

// s of 1 or 2 characters: Delimiter = s[0], Delimiter2 = s (padded with the
// character 0). False, nothing changed, otherwise.
bool SetDelimiter2(const std::string& s);
std::string GetDelimiter2();

// A std::string owns its characters and shares them with no other string:
// 0 for the empty string, 1 for any other.
int GetRefCnt(const std::string& s);

// The characters at addr up to the first character 0; "" for a null address.
std::string SetStrAddr(const char* addr);

}  // namespace textutil
