#include "app/core/search_terms.h"

#include "textutil/edit.h"
#include "textutil/phonetic.h"

namespace appcore {
namespace {

bool EndsWithStar(const std::string& word) { return !word.empty() && word.back() == '*'; }

std::string WithoutLast(const std::string& s) { return s.empty() ? s : s.substr(0, s.size() - 1); }

// The text from its 1-based index on (the runtime's Copy to the end).
std::string From(const std::string& s, size_t index) {
  return index - 1 < s.size() ? s.substr(index - 1) : std::string();
}

void SplitAt(std::string_view text, std::string_view op, SearchTerms& t, bool& flag) {
  const size_t at = text.find(op);
  if (at == std::string_view::npos) return;
  t.term1 = std::string(text.substr(0, at));
  t.term2 = std::string(text.substr(at + op.size()));
  t.two_terms = true;
  flag = true;
}

void ApplyWildcards(SearchTerms& t) {
  if (t.term1.find('*') != std::string::npos) {
    t.no_wildcard = false;
    const std::vector<std::string> words = SplitWords(t.term1);
    const std::string first = words.empty() ? std::string() : words[0];
    const bool second_is_star = words.size() > 1 && words[1] == "*";
    if (first == "*") {
      t.any_first_word = true;
      t.term1 = From(t.term1, 3);
    } else if (EndsWithStar(first) || (second_is_star && !first.empty())) {
      // "Smith *" reads as "Smith* *": the first word is a prefix as well.
      t.first_word_stem = true;
      t.stem1 = EndsWithStar(first) ? WithoutLast(first) : first;
      t.term1 = " " + t.stem1;
    }
    if (words.size() > 1) {
      if (second_is_star) {
        t.any_second_word = true;
      } else {
        t.second_word_given = true;
        t.stem2 = EndsWithStar(words[1]) ? WithoutLast(words[1]) : words[1];
      }
    }
  }
  if (t.term2.find('*') != std::string::npos) {
    t.no_wildcard = false;
    const std::vector<std::string> words = SplitWords(t.term2);
    if (!words.empty() && words[0] == "*")
      t.term2 = From(t.term2, 3);
    else if (!words.empty() && EndsWithStar(words[0]))
      t.term2 = WithoutLast(t.term2);
  }
}

}  // namespace

std::vector<std::string> SplitWords(std::string_view text) {
  std::vector<std::string> words;
  size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && text[i] == ' ') ++i;
    if (i >= text.size()) break;
    std::string word;
    for (; i < text.size() && text[i] != ' '; ++i) {
      const auto c = static_cast<unsigned char>(text[i]);
      if (c > 32 && c != 127) word.push_back(text[i]);
    }
    words.push_back(std::move(word));
  }
  return words;
}

std::string KeyOf(std::string_view word, int key_length) {
  return textutil::RTrim(textutil::MetaPhone(word, key_length), ' ');
}

SearchTerms ParseSearchText(std::string_view text) {
  SearchTerms t;
  t.term1 = std::string(text);
  if (!text.empty() && text.front() == ' ') t.leading_blank = true;
  if (!text.empty() && text.back() == '.') {
    t.exact_length = true;
    t.term1.pop_back();
  }
  SplitAt(text, " AND ", t, t.and_flag);
  SplitAt(text, " OR ", t, t.or_flag);
  SplitAt(text, " NOT ", t, t.not_flag);

  t.label_key1 = KeyOf(t.term1, t.key_length);
  if (t.exact_length) t.key_length = static_cast<int>(t.label_key1.size());
  if (t.two_terms) t.label_key2 = KeyOf(t.term2, t.key_length);

  ApplyWildcards(t);
  t.key1 = KeyOf(t.term1, t.key_length);
  return t;
}

}  // namespace appcore
