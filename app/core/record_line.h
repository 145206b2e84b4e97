// Record lines: how the application reads one line of a register file.
//
// A data file is a title line followed by record lines and their
// continuations. Every rule below works on the line with its leading and
// trailing characters of codes up to 32 removed (TrimLine):
//
//   - A record line is not empty, does not begin with '-', and begins with a
//     digit or '?'. Other lines (continuations, remarks, separators) are
//     never matched, counted or sorted.
//   - Characters 1-4 are the year, compared as text ("16?5" lies after
//     "1699"); characters 1-12 the date prefix ("1687 12 Mar " or
//     "1687 Mar 12 "); names are matched in the rest, from character 13.
//   - Baptism rest, split at the first and second ';' (p1, p2) and at the
//     last ',' before p1 (c):
//       Father    1 .. c-1, or 1 .. p1-1 when there is no such comma
//       Mother    c+1 .. p1-1, only with a comma and p1 - c >= 3
//       Children  the p2-p1-1 characters from p1+2 (empty without p2)
//       Witness   p2+1 .. end, or the whole rest without p2
//     '[' and ']' are dropped from a Father, Mother or Witness field that
//     holds a '[' before matching ("Rich[ard]" matches "Richard"); a field
//     with a ']' alone keeps it.
//   - Rest of every other kind, '[' and ']' dropped first: Husband is the
//     text before the first ';' up to its first ','; Wife the text after the
//     first ';' up to its first ','.
//   - A hit line is the trimmed record line followed by its source tag,
//     " [n] " while source codes are shown (n = slot + 1).
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace appcore {

// Kind of a data file, from the ending of its name.
enum class FileKind : uint8_t {
  kNone = 0,       // not a data file
  kOther = 1,      // "_marr.txt", "_memb.txt", "_will.txt", "_pass.txt"
  kBaptisms = 2,   // "_bap.txt"
};

// Case-blind test of the name's ending ("X_BAP.TXT" is a baptism file).
FileKind KindFromName(std::string_view file_name);

// Without leading and trailing characters of codes up to 32.
std::string_view TrimLine(std::string_view line);

bool IsRecordLine(std::string_view trimmed);

// Characters 1-4, 1-12 and 13 to the end (shorter lines give what is there).
std::string_view YearOf(std::string_view line);
std::string_view DatePrefixOf(std::string_view line);
std::string_view RestOf(std::string_view line);

// The period a year falls in, as bits: kBefore1700 when the year sorts
// before "1700", kFrom1700 when after "1699". Odd years such as "169?" are
// in both, so they are kept only while both boxes are ticked.
enum PeriodBits : uint8_t { kBefore1700 = 1, kFrom1700 = 2 };
inline uint8_t PeriodOf(std::string_view trimmed) {
  // The year's bytes as one big-endian number, a short year padded with
  // zeros: neither bound holds a zero byte, so the number compares with
  // theirs as the text does (a prefix sorts first).
  uint32_t year = 0;
  if (trimmed.size() >= 4) {
    std::memcpy(&year, trimmed.data(), 4);
    if constexpr (std::endian::native == std::endian::little) year = __builtin_bswap32(year);
  } else {
    for (size_t i = 0; i < 4; ++i) year = year << 8 | (i < trimmed.size() ? static_cast<uint8_t>(trimmed[i]) : 0u);
  }
  constexpr uint32_t k1700 = '1' << 24 | '7' << 16 | '0' << 8 | '0';
  constexpr uint32_t k1699 = '1' << 24 | '6' << 16 | '9' << 8 | '9';
  return static_cast<uint8_t>((year < k1700 ? kBefore1700 : 0) | (year > k1699 ? kFrom1700 : 0));
}
inline bool PassesPeriod(uint8_t period, bool before_ticked, bool from_ticked) {
  return !((period & kBefore1700) && !before_ticked) && !((period & kFrom1700) && !from_ticked);
}

// A piece of a string: pos and len are 0-based.
struct Span {
  size_t pos = 0;
  size_t len = 0;
  std::string_view Of(std::string_view s) const { return s.substr(pos, len); }
};

struct BaptismSpans {
  Span father, mother, children, witness;
};
// The four fields of a baptism rest, as pieces of it (brackets still in).
BaptismSpans SplitBaptismSpans(std::string_view rest);

struct BaptismFields {
  std::string father, mother, children, witness;
};
// The four fields as matched: brackets dropped from father, mother and
// witness where they hold a '['.
BaptismFields SplitBaptismRest(std::string_view rest);

struct CoupleParts {
  std::string husband, wife;
};
// The husband and wife parts of any other kind of rest.
CoupleParts SplitCoupleRest(std::string_view rest);
// The same parts of a rest that holds no '[' or ']', as views into it.
struct CoupleViews {
  std::string_view husband, wife;
};
CoupleViews SplitCoupleViews(std::string_view unbracketed);

// A baptism field as matched: without '[' and ']' when it holds a '[' (then
// written to scratch), else the field itself.
std::string_view UnbracketedField(std::string_view field, std::string& scratch);
// text without '[' and ']'.
std::string WithoutBrackets(std::string_view text);
// Appends text without '[' and ']' to out (cleared first).
void StripBracketsInto(std::string_view text, std::string& out);

// " [n] " while source codes are shown, else "".
std::string SourceTag(int source_number, bool show_codes);
// The trimmed record line with its source tag.
std::string HitLine(std::string_view trimmed, int source_number, bool show_codes);
// The same with the tag as SourceTag gives it (for many lines of one source).
std::string HitLine(std::string_view trimmed, std::string_view tag);

}  // namespace appcore
