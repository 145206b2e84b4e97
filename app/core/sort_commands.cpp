#include "app/core/sort_commands.h"

#include <algorithm>
#include <numeric>

#include "app/core/arrange.h"
#include "app/core/hit_dates.h"
#include "app/core/record_line.h"
#include "app/core/source_tags.h"
#include "textutil/compare.h"
#include "textutil/fields.h"
#include "textutil/scan.h"

namespace appcore {
namespace {

constexpr std::string_view kParticles[] = {" 't ", " la ",   " le ",     " van ",   " ver ",
                                           " der ", " de ",  " ten ",    " ter ",   " du ",
                                           " dela ", " vander ", " vande ", " vanden "};

// The first words of s cut at blanks; rest is what follows the last word
// taken, trimmed ("" when nothing follows).
struct Words {
  std::string w[4];
  std::string rest;
};

Words FirstWords(std::string_view s, int count) {
  Words words;
  int pos = 1;
  for (int i = 0; i < count; ++i) words.w[i] = textutil::ParseWord(s, " ", pos);
  if (pos > 0) words.rest = std::string(TrimLine(s.substr(static_cast<size_t>(pos - 1))));
  return words;
}

std::string LettersOf(std::string word) {
  textutil::MakeAlpha(word);
  return std::string(TrimLine(word));
}

// What follows a field that Parse cut at pos ("" when it ran to the end).
std::string RestFrom(const std::string& s, int pos) { return pos > 0 ? s.substr(static_cast<size_t>(pos - 1)) : std::string(); }

bool IsJunior(std::string_view word) { return word == "Jr" || word == "jr"; }

// Joins the non-empty parts with single blanks.
std::string Joined(std::initializer_list<std::string_view> parts) {
  std::string out;
  for (std::string_view part : parts) {
    if (part.empty()) continue;
    if (!out.empty()) out += ' ';
    out += part;
  }
  return out;
}

// The name of S as (surname, given names): the third word, letters only,
// becomes the surname unless it is empty or "Jr"; words not placed follow
// the given names.
void PlaceThirdWord(const Words& words, std::string& surname, std::string& given) {
  const std::string third = LettersOf(words.w[2]);
  if (!third.empty() && !IsJunior(third)) {
    surname = third;
    given = Joined({words.w[0], words.w[1], words.rest});
  } else {
    surname = words.w[1];
    given = Joined({words.w[0], words.w[2], words.rest});
  }
}

// Keys compare case-blind; an empty key sorts first.
bool KeyLess(const std::string& a, const std::string& b) { return textutil::VantaCompare(a, b, -1, -1, 0) < 0; }

bool ContainsNoCase(std::string_view s, std::string_view part) {
  return textutil::ScanF(s, part, -1) > 0;
}

// The text after the first ';' of s and the character after it; "" when s
// has no ';'.
std::string_view AfterSemicolon(std::string_view s) {
  const size_t semi = s.find(';');
  if (semi == std::string_view::npos || semi + 2 > s.size()) return {};
  return s.substr(semi + 2);
}

}  // namespace

std::string GlueParticles(std::string_view line) {
  std::string text = WithoutBrackets(line);
  for (std::string_view particle : kParticles) {
    // The occurrences as a case-blind replace finds them, left to right
    // and not overlapping; each loses its trailing blank, its case kept.
    std::vector<int> hits;
    for (int pos = 1; pos <= static_cast<int>(text.size());) {
      const int at = textutil::ScanF(text, particle, -pos);
      if (at == 0) break;
      hits.push_back(at);
      pos = at + static_cast<int>(particle.size());
    }
    for (auto it = hits.rbegin(); it != hits.rend(); ++it)
      text.erase(static_cast<size_t>(*it - 1) + particle.size() - 1, 1);
  }
  return text;
}

namespace {

// A record line's names in the places the recipe reads them: the date, the
// first person (husband, father) and what follows that name, and the second
// person (wife, mother) with the husband's part before her and what follows.
struct NameSlots {
  std::string date;
  std::string first, after_first;     // husband side: S and T
  std::string wife_h, wife_s, wife_t;  // wife side: H, S and T
};

NameSlots SlotsOf(std::string_view trimmed_line, FileKind kind) {
  const std::string l = GlueParticles(trimmed_line);
  const std::string rest(RestOf(l));
  NameSlots slots;
  slots.date = std::string(TrimLine(DatePrefixOf(l)));
  // The first person's name: the rest up to its first ',' or ';' (the
  // husband's or the father's name, without what describes him).
  int pos = 1;
  slots.first = textutil::Parse(rest, ",;", pos);
  slots.after_first = RestFrom(rest, pos);
  const size_t p1 = rest.find(';');
  const std::string_view after_p1 =
      p1 == std::string::npos ? std::string_view() : std::string_view(rest).substr(p1 + 1);
  slots.wife_t = std::string(after_p1);
  if (kind == FileKind::kBaptisms) {
    // Father and mother as the search reads them: the mother after the
    // last ',' ahead of the first ';'.
    const BaptismSpans spans = SplitBaptismSpans(rest);
    slots.wife_h = std::string(spans.father.Of(rest));
    slots.wife_s = std::string(spans.mother.Of(rest));
  } else {
    // The husband's whole part before the first ';'; the wife after it, up
    // to her first ','.
    slots.wife_h = rest.substr(0, std::min(p1, rest.size()));
    pos = 1;
    slots.wife_s = textutil::Parse(after_p1, ",", pos);
  }
  return slots;
}

}  // namespace

std::string WifeEntry(std::string_view trimmed_line, FileKind kind) {
  const NameSlots slots = SlotsOf(trimmed_line, kind);
  const Words words = FirstWords(slots.wife_s, 3);
  std::string surname, given;
  PlaceThirdWord(words, surname, given);
  return slots.date + "; " + surname + ", " + given + ", " + slots.wife_h + "; " + slots.wife_t;
}

std::string HusbandEntry(std::string_view trimmed_line, FileKind kind) {
  const NameSlots slots = SlotsOf(trimmed_line, kind);
  Words words = FirstWords(slots.first, 4);
  std::string surname, given;
  const std::string fourth(TrimLine(words.w[3]));
  if (!fourth.empty() && !IsJunior(fourth)) {
    surname = fourth;
    given = Joined({words.w[0], words.w[1], words.w[2], words.rest});
  } else {
    // The fourth word (a "Jr") is one of the words left after the third.
    words.rest = Joined({fourth, words.rest});
    PlaceThirdWord(words, surname, given);
  }
  return slots.date + "; " + surname + ", " + given + ", " + slots.after_first;
}

std::string HusbandKey(std::string_view entry) {
  const std::string_view rest = AfterSemicolon(entry);
  int pos = 1;
  const std::string f1 = textutil::ParseWord(rest, ",", pos);
  const std::string f2 = textutil::ParseWord(rest, ",", pos);
  const std::string f3 = textutil::ParseWord(rest, ",", pos);
  std::string key = f1 + f2.substr(0, 3);
  if (f3.size() >= 3) key += f3[2];
  return key;
}

std::string WifeKey(std::string_view entry) {
  const std::string_view rest = AfterSemicolon(AfterSemicolon(entry));
  int pos = 1;
  const std::string f = textutil::Parse(rest, ",;", pos);
  pos = 1;
  const std::string a = textutil::ParseWord(f, " ", pos);
  const std::string b = textutil::ParseWord(f, " ", pos);
  const std::string c = textutil::ParseWord(f, " ", pos);
  return (c.empty() ? b : c) + a.substr(0, 3);
}

bool IsSortablePage(std::string_view caption) {
  return PageKind(caption) != FileKind::kNone;
}

FileKind PageKind(std::string_view caption) {
  if (ContainsNoCase(caption, "_bap")) return FileKind::kBaptisms;
  return ContainsNoCase(caption, "_marr") ? FileKind::kOther : FileKind::kNone;
}

SortedPage SortPageByName(std::string_view caption, const std::vector<std::string>& lines, SortSide side,
                          Pacer* pacer) {
  Pacer unpaced(nullptr);
  Pacer& pace = pacer ? *pacer : unpaced;
  SortedPage page;
  if (!IsSortablePage(caption)) {
    page.error = kImproperFileType;
    return page;
  }
  static constexpr const char* kPrefix[] = {"HS-", "WS-", "AS-"};
  page.caption = kPrefix[static_cast<int>(side)] + std::string(caption);
  const FileKind kind = PageKind(caption);

  std::vector<std::string> entries;
  std::vector<std::string> keys;
  // Millions of entries and keys are freed away from the window's thread.
  struct Discard {
    std::vector<std::string>& a;
    std::vector<std::string>& b;
    ~Discard() {
      DiscardLines(std::move(a));
      DiscardLines(std::move(b));
    }
  } discard{entries, keys};
  // Room for every entry at once: growing the list would move millions of
  // entries between two turns of the event loop.
  entries.reserve(lines.size() * (side == SortSide::kAll ? 2 : 1));
  for (const std::string& line : lines) {
    if (!pace.Tick()) return page;
    const std::string_view trimmed = TrimLine(line);
    if (!IsRecordLine(trimmed)) continue;
    if (side != SortSide::kHusband) entries.push_back(WifeEntry(trimmed, kind));
    if (side != SortSide::kWife) entries.push_back(HusbandEntry(trimmed, kind));
  }
  const bool by_wife = side == SortSide::kWife && ContainsNoCase(caption, "_marr");
  keys.reserve(entries.size());
  for (const std::string& entry : entries) {
    if (!pace.Tick()) return page;
    keys.push_back(by_wife ? WifeKey(entry) : HusbandKey(entry));
  }
  std::vector<uint32_t> order = Identity(entries.size());
  if (!PacedStableSort(order, [&](uint32_t a, uint32_t b) { return KeyLess(keys[a], keys[b]); }, pace)) return page;
  page.lines.reserve(entries.size());
  for (uint32_t i : order) {
    if (!pace.Tick()) {
      DiscardLines(std::move(page.lines));
      return page;
    }
    page.lines.push_back(std::move(entries[i]));
  }
  return page;
}

std::vector<std::string> SortGroupsByDate(const std::vector<std::string>& lines,
                                          const std::function<void(const std::string&)>& report, Pacer* pacer) {
  const size_t legend = static_cast<size_t>(PageLegendLineCount(lines));
  auto blank = [&](size_t i) { return TrimLine(lines[i]).empty(); };

  // Groups as [begin, end) runs of lines that are not blank.
  std::vector<std::pair<size_t, size_t>> groups;
  for (size_t i = legend; i < lines.size();) {
    if (blank(i)) {
      ++i;
      continue;
    }
    const size_t begin = i;
    while (i < lines.size() && !blank(i)) ++i;
    groups.emplace_back(begin, i);
  }

  // Each group's date text, tagged with its number after a ';' that ends
  // the date text, sorted as lines sort by date.
  std::vector<std::string> keyed;
  keyed.reserve(groups.size());
  for (size_t g = 0; g < groups.size(); ++g)
    keyed.push_back(std::string(DateTextOf(TrimLine(lines[groups[g].first]))) + ";" + std::to_string(g));
  if (!SortByDate(keyed, report, pacer)) return lines;

  std::vector<std::string> out(lines.begin(), lines.begin() + static_cast<long>(legend));
  out.emplace_back();
  for (const std::string& key : keyed) {
    const auto [begin, end] = groups[std::stoul(key.substr(key.rfind(';') + 1))];
    out.insert(out.end(), lines.begin() + static_cast<long>(begin), lines.begin() + static_cast<long>(end));
    out.emplace_back();
  }
  out.emplace_back();
  return out;
}

}  // namespace appcore
