// Whether one record line is a hit: the role, exact, phonetic and wildcard
// rules applied to the rest of the line (characters 13 on).
//
// Baptism files, first rule that applies decides:
//   1. (Text or all roles) and exact, one term: the rest holds term 1
//      (case-blind, from its second character).
//   2. All roles and exact, two terms: the rest holds either term; under
//      NOT it must hold term 1 and not term 2.
//   3. All three fuzzy boxes: some word of the rest sounds like term 1.
//   4. The ticked roles in turn: Father, Mother (exact, wildcard or fuzzy
//      over their fields), Children (always phonetic), Witness (where
//      "A* B*" may start at any word of the field, which names several
//      people).
// Other files:
//   1. "A* B*" forms over the husband and wife parts.
//   2. Exact, no OR, no Text: the husband or wife part holds term 1 (and
//      not term 2 under NOT); a rest with " wid" is tested as a whole.
//   3. Exact with OR: the rest holds either term.
//   4. Otherwise the "* B" and "A* *" forms over the rest, then a phonetic
//      match (or, for Text without fuzzy, term 1 anywhere in the rest).
//
// Fuzzy word match: the words of a text (cut at blanks, empty words
// skipped) whose keys hold the key of term 1 (begin with it after a
// leading blank); under NOT a word holding term 2 does not count. The first
// such word is the keyword the line is highlighted by.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "app/core/record_line.h"
#include "app/core/search_options.h"
#include "app/core/search_terms.h"
#include "app/core/word_index.h"
#include "app/core/word_verdicts.h"

namespace appcore {

// The boxes as the matching reads them; Text takes over the roles.
MatchBoxes ReadBoxes(const SearchOptions& options, const SearchTerms& terms);

class LineMatcher {
public:
  LineMatcher(const SearchTerms& terms, const MatchBoxes& boxes);

  // Match the rest of a trimmed record line. On a phonetic hit, keyword
  // (when given) receives the word that matched, else it is left empty.
  bool Match(FileKind kind, std::string_view rest, std::string* keyword);
  bool MatchBaptism(std::string_view rest, std::string* keyword);
  bool MatchOther(std::string_view rest, std::string* keyword);

  // Whether lines of this kind are matched by the sound of every word of
  // their rest from its second character: all three fuzzy boxes over
  // baptisms (the rest as it stands), and the last rule of other files
  // when no rule before it applies (the rest without brackets).
  bool WholeRestFuzzy(FileKind kind) const;
  // That match over the words of an indexed line (index.Covers(line); for
  // other files only a line without '[', whose rest loses no bracket).
  // known holds one verdict per distinct word of the index, kUnknownWord
  // until first asked; keep it for one index.
  static constexpr uint8_t kUnknownWord = 0xFF;
  bool MatchIndexedWords(const WordIndex& index, int line, std::vector<uint8_t>& known, std::string* keyword) {
    const int id = FirstIndexedHit(index, line, known);
    if (id >= 0 && keyword != nullptr) ReportIndexedWord(index, static_cast<uint16_t>(id), known, *keyword);
    return id >= 0;
  }
  // Its two steps: the id of the line's first word that matches (-1:
  // none), and that word handed out as the keyword unless it was before.
  int FirstIndexedHit(const WordIndex& index, int line, std::vector<uint8_t>& known);
  void ReportIndexedWord(const WordIndex& index, uint16_t id, std::vector<uint8_t>& known, std::string& keyword);
  // The verdict MatchIndexedWords keeps in known for one word of an index.
  uint8_t IndexedVerdict(std::string_view word) { return verdicts_.Get(word); }

  // A sieve for that match over lines whose words are cut at blanks alone
  // (no quote characters; for other files no '['): a word can match only
  // when it holds one of `anchors`, and when its bytes together carry every
  // bit of `need` in `classes`, where bit j of a byte's class says that it
  // can give a key letter that character j of the key of term 1 accepts.
  // Each word matches as it would inside a whole rest (SoundWordHits).
  // A word's letters give its key's letters in turn, so a word that
  // matches also holds bytes of the classes of bits 0, 1, ... in that order
  // (see WordClassFinder's in_order).
  struct SoundSieve {
    std::array<uint8_t, 256> classes{};
    uint8_t need = 0;
    std::string anchors;
  };
  // False when lines of this kind are not matched that way or no sieve can
  // be made (no key, or quote characters other than '"').
  bool SoundSieveFor(FileKind kind, SoundSieve& sieve) const;
  // Whether one word of a whole rest matches by sound; the keyword as the
  // whole-rest match hands it out.
  bool SoundWordHits(std::string_view word, std::string* keyword) {
    return TakeWord(word, WordVerdicts::Hash(word.data(), word.size()), WordVerdicts::kFuzzy, keyword);
  }

  // Patterns one of which (case-blind, '?' any character) every hit line of
  // this kind holds, brackets aside; false when no such set can be named.
  // An empty set means no line can hit.
  bool RequiredPatterns(FileKind kind, std::vector<std::string>& patterns) const;

  // Whether, for lines of this kind, a line whose rest holds one of those
  // patterns from its second character on is a hit with no further test
  // (for other files: a rest without brackets). False when more decides.
  bool RestHoldingAPatternHits(FileKind kind) const;

  const SearchTerms& Terms() const { return terms_; }
  const MatchBoxes& Boxes() const { return boxes_; }
  // Distinct words whose keys were worked out so far.
  size_t DistinctWords() const { return verdicts_.Size(); }

private:
  enum class WordTest { kFuzzy, kChildren };
  bool WordMatch(std::string_view text, int from, WordTest test, std::string* keyword);
  // Whether the word's verdict holds wanted; hands out the keyword.
  bool TakeWord(std::string_view word, uint64_t hash, uint8_t wanted, std::string* keyword);
  bool FieldHolds(std::string_view field) const;  // exact role test
  bool NotExcluded(std::string_view field) const;
  bool WildcardForm(std::string_view field) const;
  bool AnyWordStartsPair(std::string_view field) const;  // "A* B*" from any word
  uint8_t ComputeVerdict(std::string_view word) const;

  SearchTerms terms_;
  MatchBoxes boxes_;
  std::string or_pattern_;
  WordVerdicts verdicts_;
  std::string scratch_[3];
};

// The non-empty words of text from the 1-based position from, cut at
// blanks as the field routines cut them (a blank between quotes does not
// cut).
std::vector<std::string_view> WordsOf(std::string_view text, int from);

}  // namespace appcore
