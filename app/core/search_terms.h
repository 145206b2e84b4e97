// The search text read into terms, operators, phonetic keys and wildcard
// forms.
//
//   "Smith"            one term
//   " Smith"           leading blank: a fuzzy match must begin at the first
//                      letter of the word's key (and an exact one must
//                      follow a blank)
//   "Smith."           the key of the term is exact in length: only words
//                      with keys no longer than it are compared
//   "A AND B", "A OR B", "A NOT B"
//                      two terms; later operators override the split of
//                      earlier ones; the split is made on the text as typed
//   "Jo* Sm*", "Jo* *", "Jo*", "* Smith", "Smith *"
//                      wildcard forms over the words of a field: '*' ends a
//                      word prefix, a lone '*' stands for any word
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace appcore {

struct SearchTerms {
  std::string term1, term2;
  // Keys shown beside the search box, worked out before the wildcard forms.
  std::string label_key1, label_key2;
  // Key of term1 as the wildcard forms left it: the key fuzzy matches use.
  std::string key1;
  int key_length = 8;

  bool leading_blank = false;
  bool exact_length = false;
  bool and_flag = false, or_flag = false, not_flag = false, two_terms = false;

  // Wildcard forms of term 1 (term 2 only loses its '*').
  bool no_wildcard = true;
  bool any_first_word = false;     // "* B": any first word, then a word beginning with stem2
  bool first_word_stem = false;    // "A* ...": the first word begins with stem1
  bool any_second_word = false;    // "A* *"
  bool second_word_given = false;  // "A* B*": a later word begins with stem2
  std::string stem1, stem2;
};

// Reads the search text (the old GetFlags).
SearchTerms ParseSearchText(std::string_view text);

// The words of text: leading blanks skipped, each word ended by a blank or
// the end and holding only its printable characters. No limit on their
// number or length.
std::vector<std::string> SplitWords(std::string_view text);

// The phonetic key of a word as the search compares it: MetaPhone with
// key_length letters at most, trailing blanks removed.
std::string KeyOf(std::string_view word, int key_length);

}  // namespace appcore
