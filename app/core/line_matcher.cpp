#include "app/core/line_matcher.h"

#include "textutil/fields.h"
#include "textutil/phonetic.h"
#include "textutil/scan.h"
#include "textutil/state.h"

namespace appcore {
namespace {

constexpr int kMaxAlternatives = 16;  // ScanOR reads no more

// Whether s holds " wid" (a widow's or widower's line), looked for from
// its rarer letter.
bool HoldsWid(std::string_view s) {
  for (size_t at = s.find('w', 1); at != std::string_view::npos; at = s.find('w', at + 1))
    if (s[at - 1] == ' ' && s.compare(at, 3, "wid") == 0) return true;
  return false;
}

std::string_view TrimBlanksLeft(std::string_view s) {
  size_t i = 0;
  while (i < s.size() && s[i] == ' ') ++i;
  return s.substr(i);
}

// Calls fn(word, hash) for each non-empty word of text from the 1-based
// position from, hash being WordVerdicts::Hash of the word; stops at the
// first word for which fn returns true. Without quote characters in the
// text the words are cut here directly, which is what Parse does then, and
// hashed on the way; with them Parse cuts them.
template <typename Fn>
bool ForEachWordIn(std::string_view text, int from, Fn&& fn) {
  if (from < 1 || static_cast<size_t>(from) > text.size()) return false;
  const textutil::UnitState& st = textutil::State();
  const bool quotes =
      text.find(st.OpenQuote) != std::string_view::npos || text.find(st.CloseQuote) != std::string_view::npos;
  if (!quotes) {
    const char* p = text.data() + from - 1;
    const char* end = text.data() + text.size();
    while (p < end) {
      const char* w = p;
      uint64_t hash = WordVerdicts::kHashSeed;
      for (; p < end && *p != ' '; ++p) hash = WordVerdicts::HashStep(hash, *p);
      if (p > w && fn(std::string_view(w, static_cast<size_t>(p - w)), hash)) return true;
      ++p;
    }
    return false;
  }
  for (int pos = from; pos != 0;) {
    const std::string_view word = textutil::ParseView(text, " ", pos);
    if (word.empty()) continue;
    if (fn(word, WordVerdicts::Hash(word.data(), word.size()))) return true;
  }
  return false;
}

bool BeginsWith(std::string_view word, std::string_view stem) {
  return !stem.empty() && textutil::ScanF(word, stem, -1) == 1;
}

std::vector<std::string> Alternatives(const std::string& pattern) {
  std::vector<std::string> alternatives;
  for (int pos = 1; pos != 0 && static_cast<int>(alternatives.size()) < kMaxAlternatives;) {
    std::string piece = textutil::ParseWord(pattern, "|", pos);
    if (!piece.empty()) alternatives.push_back(std::move(piece));
  }
  return alternatives;
}

}  // namespace

std::vector<std::string_view> WordsOf(std::string_view text, int from) {
  std::vector<std::string_view> words;
  ForEachWordIn(text, from, [&](std::string_view w, uint64_t) {
    words.push_back(w);
    return false;
  });
  return words;
}

MatchBoxes ReadBoxes(const SearchOptions& o, const SearchTerms& terms) {
  MatchBoxes b;
  b.father = o.father;
  b.mother = o.mother;
  b.children = o.children;
  b.witness = o.witness;
  b.fuzzy_father = o.fuzzy_father;
  b.fuzzy_mother = o.fuzzy_mother;
  b.fuzzy_witness = o.fuzzy_witness;
  b.all_roles = o.father && o.mother && o.witness;
  b.exact = !o.fuzzy_father && !o.fuzzy_mother && !o.fuzzy_witness && !terms.first_word_stem &&
            !terms.second_word_given;
  if (o.text_box) {
    b.text_mode = true;
    b.father = true;
    b.mother = b.witness = b.children = false;
    if (o.fuzzy_text) {
      b.fuzzy_text = true;
      b.fuzzy_father = true;
      b.fuzzy_mother = b.fuzzy_witness = false;
      b.exact = false;
    }
  }
  return b;
}

LineMatcher::LineMatcher(const SearchTerms& terms, const MatchBoxes& boxes)
    : terms_(terms),
      boxes_(boxes),
      or_pattern_(terms.term1 + "|" + terms.term2),
      verdicts_([this](std::string_view word) { return ComputeVerdict(word); }) {}

uint8_t LineMatcher::ComputeVerdict(std::string_view word) const {
  const std::string key = KeyOf(word, terms_.key_length);
  const int at = textutil::ScanF(key, terms_.key1, -1);
  uint8_t verdict = 0;
  if (at != 0) verdict |= WordVerdicts::kChildren;
  bool fuzzy = terms_.leading_blank ? at == 1 : at != 0;
  if (fuzzy && terms_.not_flag && textutil::ScanF(word, terms_.term2, -1) != 0) fuzzy = false;
  if (fuzzy) verdict |= WordVerdicts::kFuzzy;
  return verdict;
}

bool LineMatcher::TakeWord(std::string_view word, uint64_t hash, uint8_t wanted, std::string* keyword) {
  uint8_t& verdict = verdicts_.Get(word, hash);
  if (!(verdict & wanted)) return false;
  // Each word is handed out as a keyword once per search.
  if (keyword != nullptr && !(verdict & WordVerdicts::kReported)) {
    verdict |= WordVerdicts::kReported;
    keyword->assign(word);
  }
  return true;
}

bool LineMatcher::WordMatch(std::string_view text, int from, WordTest test, std::string* keyword) {
  const uint8_t wanted = test == WordTest::kFuzzy ? WordVerdicts::kFuzzy : WordVerdicts::kChildren;
  return ForEachWordIn(text, from,
                       [&](std::string_view word, uint64_t hash) { return TakeWord(word, hash, wanted, keyword); });
}

bool LineMatcher::SoundSieveFor(FileKind kind, SoundSieve& sieve) const {
  const std::string& key = terms_.key1;
  const textutil::UnitState& st = textutil::State();
  if (!WholeRestFuzzy(kind) || key.empty() || key.size() > 8 || st.OpenQuote != '"' || st.CloseQuote != '"')
    return false;
  // A word's key holds the key of term 1 (case-blind, as ScanF compares)
  // only when, for each of its characters, the word holds a letter that can
  // give a key letter that character accepts.
  constexpr std::string_view kKeyLetters = "ABEFHIJKLMNOPRSTUWXY";
  // How common each letter is in register text, per mille; anchors on the
  // rarest character.
  static constexpr uint8_t kPerMille[26] = {82, 15, 28, 43, 127, 22, 20, 61, 70, 2, 8, 40, 24,
                                           67, 75, 19, 1,  60, 63, 91, 28, 10, 24, 2, 20, 1};
  const uint8_t* swap = st.CaseSwapTable;
  sieve = SoundSieve();
  int best_cost = 1 << 30;
  for (size_t j = 0; j < key.size(); ++j) {
    const auto p = static_cast<uint8_t>(key[j]);
    std::string bytes;
    for (const char t : kKeyLetters) {
      if (static_cast<uint8_t>(t) != p && swap[static_cast<uint8_t>(t)] != p) continue;
      for (const char letter : textutil::KeyLetterSources(t))
        for (const char b : {letter, static_cast<char>(letter - 'A' + 'a')})
          if (bytes.find(b) == std::string::npos) bytes += b;
    }
    if (bytes.empty()) return false;  // no word can give it: keep to the plain match
    int cost = 0;
    for (const char b : bytes) {
      sieve.classes[static_cast<uint8_t>(b)] |= static_cast<uint8_t>(1u << j);
      if (b >= 'a' && b <= 'z') cost += kPerMille[b - 'a'];
    }
    sieve.need |= static_cast<uint8_t>(1u << j);
    if (cost < best_cost) {
      best_cost = cost;
      sieve.anchors = bytes;
    }
  }
  return true;
}

bool LineMatcher::WholeRestFuzzy(FileKind kind) const {
  const MatchBoxes& b = boxes_;
  if (kind == FileKind::kBaptisms) return b.fuzzy_father && b.fuzzy_mother && b.fuzzy_witness;
  // Other files: when none of MatchOther's rules before its last can decide.
  if (kind != FileKind::kOther || b.exact) return false;
  if (terms_.first_word_stem && terms_.second_word_given) return false;
  if (!terms_.no_wildcard && (terms_.any_first_word || terms_.any_second_word)) return false;
  if (b.text_mode && !b.fuzzy_text) return false;
  return b.text_mode || b.father == b.mother || !((b.father && b.fuzzy_father) || (b.mother && b.fuzzy_mother));
}

int LineMatcher::FirstIndexedHit(const WordIndex& index, int line, std::vector<uint8_t>& known) {
  for (const uint16_t id : index.Words(line)) {
    uint8_t& verdict = known[id];
    if (verdict == kUnknownWord) verdict = verdicts_.Get(index.Word(id));
    if (verdict & WordVerdicts::kFuzzy) return id;
  }
  return -1;
}

void LineMatcher::ReportIndexedWord(const WordIndex& index, uint16_t id, std::vector<uint8_t>& known,
                                    std::string& keyword) {
  // Each word is handed out as a keyword once per search.
  uint8_t& verdict = known[id];
  if (verdict & WordVerdicts::kReported) return;
  uint8_t& kept = verdicts_.Get(index.Word(id));
  if (!(kept & WordVerdicts::kReported)) {
    kept |= WordVerdicts::kReported;
    keyword.assign(index.Word(id));
  }
  verdict |= WordVerdicts::kReported;
}

bool LineMatcher::NotExcluded(std::string_view field) const {
  return !(terms_.not_flag && textutil::ScanF(field, terms_.term2, -1) != 0);
}

bool LineMatcher::FieldHolds(std::string_view field) const {
  const bool found = terms_.or_flag ? textutil::ScanOR(field, or_pattern_, -1) != 0
                                    : textutil::ScanF(field, terms_.term1, -1) != 0;
  return found && NotExcluded(field);
}

bool LineMatcher::WildcardForm(std::string_view field) const {
  // Walks the words in place: this runs for every line a wildcard search
  // reads, so it gathers no list of them.
  auto first_word_begins = [&](std::string_view stem) {
    bool begins = false;
    ForEachWordIn(field, 1, [&](std::string_view word, uint64_t) {
      begins = BeginsWith(word, stem);
      return true;
    });
    return begins;
  };
  auto later_word_begins = [&](std::string_view stem) {
    bool first = true;
    return ForEachWordIn(field, 1, [&](std::string_view word, uint64_t) {
      if (first) {
        first = false;
        return false;
      }
      return BeginsWith(word, stem);
    });
  };
  bool hit = false;
  if (terms_.first_word_stem) {
    hit = first_word_begins(terms_.stem1) && (!terms_.second_word_given || later_word_begins(terms_.stem2));
  } else if (terms_.any_first_word && terms_.second_word_given) {
    hit = later_word_begins(terms_.stem2);
  }
  return hit && NotExcluded(field);
}

bool LineMatcher::AnyWordStartsPair(std::string_view field) const {
  // Some word begins with stem1 and a word after it with stem2.
  bool first_seen = false;
  const bool hit = ForEachWordIn(field, 1, [&](std::string_view word, uint64_t) {
    if (first_seen && BeginsWith(word, terms_.stem2)) return true;
    if (BeginsWith(word, terms_.stem1)) first_seen = true;
    return false;
  });
  return hit && NotExcluded(field);
}

bool LineMatcher::Match(FileKind kind, std::string_view rest, std::string* keyword) {
  return kind == FileKind::kBaptisms ? MatchBaptism(rest, keyword) : MatchOther(rest, keyword);
}

bool LineMatcher::MatchBaptism(std::string_view rest, std::string* keyword) {
  const MatchBoxes& b = boxes_;
  const bool one_term = terms_.term2.empty();
  if ((b.text_mode || b.all_roles) && b.exact && one_term) return textutil::ScanF(rest, terms_.term1, -2) != 0;
  if (b.all_roles && b.exact && !one_term) {
    // Either term; under NOT a line holding term 2 is no hit.
    return textutil::ScanOR(rest, or_pattern_, -2) != 0 && NotExcluded(rest);
  }
  if (b.fuzzy_father && b.fuzzy_mother && b.fuzzy_witness) return WordMatch(rest, 2, WordTest::kFuzzy, keyword);

  BaptismSpans spans;
  if (b.text_mode)
    spans.father = Span{0, rest.size()};
  else
    spans = SplitBaptismSpans(rest);
  auto role = [&](const Span& span, bool fuzzy, std::string& scratch) {
    const std::string_view field = UnbracketedField(span.Of(rest), scratch);
    if (fuzzy) return WordMatch(TrimBlanksLeft(field), terms_.any_first_word ? 2 : 1, WordTest::kFuzzy, keyword);
    return terms_.no_wildcard ? FieldHolds(field) : WildcardForm(field);
  };
  if (b.father && role(spans.father, b.fuzzy_father, scratch_[0])) return true;
  if (b.mother && role(spans.mother, b.fuzzy_mother, scratch_[1])) return true;
  if (b.children && WordMatch(spans.children.Of(rest), 1, WordTest::kChildren, keyword)) return true;
  if (b.witness) {
    const std::string_view field = UnbracketedField(spans.witness.Of(rest), scratch_[2]);
    if (b.fuzzy_witness) return WordMatch(TrimBlanksLeft(field), 1, WordTest::kFuzzy, keyword);
    if (terms_.no_wildcard) return FieldHolds(field);
    // Several witnesses share the field: "A* B*" may start at any word.
    return terms_.first_word_stem && terms_.second_word_given ? AnyWordStartsPair(field) : WildcardForm(field);
  }
  return false;
}

bool LineMatcher::MatchOther(std::string_view raw_rest, std::string* keyword) {
  const MatchBoxes& b = boxes_;
  // Other files match their rest without any '[' or ']', a ']' without its
  // '[' too, whatever the rule.
  std::string_view rest = raw_rest;
  if (rest.find('[') != std::string_view::npos || rest.find(']') != std::string_view::npos) {
    StripBracketsInto(rest, scratch_[0]);
    rest = scratch_[0];
  }
  // The husband's and wife's parts, cut without a copy.
  auto couple = [&] { return SplitCoupleViews(rest); };
  if (terms_.first_word_stem && terms_.second_word_given) {
    const CoupleViews parts = couple();
    return (b.father && WildcardForm(parts.husband)) || (b.mother && WildcardForm(parts.wife));
  }
  if (b.exact && !terms_.or_flag && !b.text_mode) {
    // A widow's or widower's line is matched as a whole.
    if (HoldsWid(rest)) return (b.father || b.mother) && FieldHolds(rest);
    const CoupleViews parts = couple();
    return (b.father && FieldHolds(parts.husband)) || (b.mother && FieldHolds(parts.wife));
  }
  if (b.exact && terms_.or_flag) return textutil::ScanOR(rest, or_pattern_, -2) != 0;

  if (!terms_.no_wildcard && (terms_.any_first_word || terms_.any_second_word) && WildcardForm(rest)) return true;
  if (b.text_mode && !b.fuzzy_text) return textutil::ScanF(rest, terms_.term1, -1) != 0 && NotExcluded(rest);
  if (!b.text_mode && b.father != b.mother) {
    const CoupleViews parts = couple();
    if (b.father && b.fuzzy_father) return WordMatch(parts.husband, 2, WordTest::kFuzzy, keyword);
    if (b.mother && b.fuzzy_mother) return WordMatch(parts.wife, 2, WordTest::kFuzzy, keyword);
  }
  return WordMatch(rest, 2, WordTest::kFuzzy, keyword);
}

bool LineMatcher::RestHoldingAPatternHits(FileKind kind) const {
  // The rules that are "the rest holds term 1 (or either term) from its
  // second character" and nothing else; the patterns are then those terms.
  const MatchBoxes& b = boxes_;
  if (terms_.not_flag || !b.exact) return false;
  if (kind == FileKind::kBaptisms) return b.all_roles || (b.text_mode && terms_.term2.empty());
  return kind == FileKind::kOther && terms_.or_flag;
}

bool LineMatcher::RequiredPatterns(FileKind kind, std::vector<std::string>& patterns) const {
  const MatchBoxes& b = boxes_;
  patterns.clear();
  const std::vector<std::string> term1{terms_.term1};
  auto set = [&](const std::vector<std::string>& list) {
    for (const std::string& p : list)
      if (!p.empty()) patterns.push_back(p);
    return true;
  };
  const bool one_term = terms_.term2.empty();
  if (kind == FileKind::kBaptisms) {
    if ((b.text_mode || b.all_roles) && b.exact && one_term) return set(term1);
    if (b.all_roles && b.exact && !one_term) return set(terms_.not_flag ? term1 : Alternatives(or_pattern_));
    if (b.fuzzy_father && b.fuzzy_mother && b.fuzzy_witness) return false;
    if (b.children || !terms_.no_wildcard) return false;
    if ((b.father && b.fuzzy_father) || (b.mother && b.fuzzy_mother) || (b.witness && b.fuzzy_witness)) return false;
    if (!b.father && !b.mother && !b.witness) return true;  // no role can hit
    return set(terms_.or_flag ? Alternatives(or_pattern_) : term1);
  }
  if (terms_.first_word_stem && terms_.second_word_given) return false;
  if (b.exact && !terms_.or_flag && !b.text_mode) return set(term1);
  if (b.exact && terms_.or_flag) return set(Alternatives(or_pattern_));
  if (!terms_.no_wildcard) return false;
  if (b.text_mode && !b.fuzzy_text) return set(term1);
  return false;
}

}  // namespace appcore
