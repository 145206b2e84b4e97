#include "app/core/sort_commands.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <iterator>
#include <memory>
#include <numeric>
#include <optional>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "app/core/arrange.h"
#include "app/core/hit_dates.h"
#include "app/core/record_line.h"
#include "app/core/source_tags.h"
#include "app/core/work_crew.h"
#include "textutil/compare.h"
#include "textutil/fields.h"
#include "textutil/scan.h"
#include "textutil/state.h"

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

// A key's bytes as the case-blind comparison of keys orders them: each
// byte and its case image (CaseSwapTable) become the lower of the two.
// Usable only when the table pairs bytes (swapping twice gives the byte
// back); keys are then ordered by their folded bytes as KeyLess orders
// them.
struct KeyFold {
  std::array<uint8_t, 256> fold{};
  bool usable = true;
  KeyFold() {
    const uint8_t* swap = textutil::State().CaseSwapTable;
    for (int c = 0; c < 256; ++c) {
      const uint8_t image = swap[c];
      usable = usable && swap[image] == c;
      fold[static_cast<size_t>(c)] = std::min(static_cast<uint8_t>(c), image);
    }
  }
  // Eight folded bytes from from on, the first in the highest bits, zeros
  // past the key's end.
  uint64_t Prefix(std::string_view key, size_t from = 0) const {
    uint64_t prefix = 0;
    for (size_t i = from; i < from + 8; ++i)
      prefix = prefix << 8 | (i < key.size() ? fold[static_cast<uint8_t>(key[i])] : 0u);
    return prefix;
  }
  // KeyLess over the folded bytes.
  bool Less(std::string_view a, std::string_view b) const {
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
      const uint8_t x = fold[static_cast<uint8_t>(a[i])], y = fold[static_cast<uint8_t>(b[i])];
      if (x != y) return x < y;
    }
    return a.size() < b.size();
  }
};

const KeyFold& Fold() {
  static const KeyFold fold;
  return fold;
}

// Whether a task on a crew goes on: not once stop is set.
struct GoingOn {
  std::atomic<bool>& stop;
  bool operator()() const { return !stop.load(std::memory_order_relaxed); }
};

// body(k, going_on) for every task k < count on the crew. Each task done
// counts units(k) units of work, which the calling thread turns into as
// many ticks of pace (as a sort on one thread would tick it once a line or
// a comparison) between its own tasks and while it waits for the helpers;
// stop is set once pace is cancelled.
void RunOnCrew(WorkCrew& crew, size_t threads, size_t count, Pacer& pace, std::atomic<bool>& stop,
               const std::function<void(size_t, const GoingOn&)>& body,
               const std::function<uint64_t(size_t)>& units) {
  std::atomic<uint64_t> done{0};
  uint64_t ticked = 0;  // the calling thread's alone
  const auto catch_up = [&] {
    for (const uint64_t now = done.load(); ticked < now; ++ticked) {
      if (!pace.Tick()) {
        stop = true;
        ticked = now;
        return;
      }
    }
  };
  const GoingOn going_on{stop};
  crew.Run(
      threads, count,
      [&](size_t k, bool on_caller) {
        if (going_on()) body(k, going_on);
        done.fetch_add(units(k));
        if (on_caller) catch_up();
      },
      catch_up, static_cast<int>(kProgressIntervalMs));
  catch_up();
}

// The keys of the sort entries of some lines, each with the key's first
// folded bytes and the entry's slot in the list of entries.
struct SortRows {
  std::vector<std::string> keys;
  std::vector<uint64_t> prefixes;
  std::vector<uint32_t> slots;

  // Room for count entries at once: grown by doubling, the lists' moves and
  // fresh blocks had the allocator gather every small block freed so far
  // (a fifth of the entries' making).
  void Reserve(size_t count) {
    keys.reserve(count);
    prefixes.reserve(count);
    slots.reserve(count);
  }
  void Add(std::string entry, bool by_wife, std::vector<std::string>& entries, size_t slot) {
    keys.push_back(by_wife ? WifeKey(entry) : HusbandKey(entry));
    // Without a fold the prefixes say nothing of the order: all alike.
    prefixes.push_back(Fold().usable ? Fold().Prefix(keys.back()) : 0);
    slots.push_back(static_cast<uint32_t>(slot));
    entries[slot] = std::move(entry);
  }
};

// The slots of the parts' entries (taken in the parts' order) ordered
// stably by key (KeyLess) into order: runs sorted on the crew, then merged
// in rounds of pairs; false when cancelled. The parts stay where they were
// made (no copy of them all is joined first). What is sorted holds each
// key's first folded bytes beside the entry's index, so that most
// comparisons read no key.
bool OrderParts(const std::vector<SortRows>& parts, std::vector<uint32_t>& order, WorkCrew& crew, size_t threads,
                Pacer& pace, std::atomic<bool>& stop) {
  struct Item {
    uint64_t prefix, more;  // the key's first sixteen folded bytes
    uint32_t size, index;
  };
  const KeyFold& fold = Fold();
  std::vector<size_t> from(parts.size() + 1, 0);
  for (size_t k = 0; k < parts.size(); ++k) from[k + 1] = from[k] + parts[k].keys.size();
  const size_t count = from.back();
  // The items, and where each entry and key lie, laid out by the parts'
  // threads: the lists are not cleared first, so that their fresh pages
  // (60 MB for a million entries) are first touched there rather than all
  // on the calling thread.
  std::unique_ptr<Item[]> items(new Item[count]), merged(new Item[count]);
  std::unique_ptr<uint32_t[]> slot_of(new uint32_t[count]);
  std::unique_ptr<const std::string*[]> key_of(new const std::string*[count]);
  RunOnCrew(crew, threads, parts.size(), pace, stop, [&](size_t k, const GoingOn&) {
    const SortRows& part = parts[k];
    for (size_t i = 0; i < part.keys.size(); ++i) {
      const size_t at = from[k] + i;
      const std::string& key = part.keys[i];
      items[at] = {part.prefixes[i], fold.usable ? fold.Prefix(key, 8) : 0, static_cast<uint32_t>(key.size()),
                   static_cast<uint32_t>(at)};
      slot_of[at] = part.slots[i];
      key_of[at] = &key;
    }
  }, [&](size_t k) { return uint64_t{from[k + 1] - from[k]}; });
  if (stop.load()) return false;
  {
    // The entry's index breaks ties: a total order, the same as a stable one.
    const auto less = [&](const Item& a, const Item& b) {
      if (a.prefix != b.prefix) return a.prefix < b.prefix;
      if (a.more != b.more) return a.more < b.more;
      // Keys of sixteen bytes or fewer and of one size are alike here.
      if (fold.usable && a.size == b.size && a.size <= 16) return a.index < b.index;
      const std::string& x = *key_of[a.index];
      const std::string& y = *key_of[b.index];
      if (fold.usable ? fold.Less(x, y) : KeyLess(x, y)) return true;
      if (fold.usable ? fold.Less(y, x) : KeyLess(y, x)) return false;
      return a.index < b.index;
    };
    size_t runs = std::max<size_t>(1, std::min(count / 8192 + 1, threads * 2));
    std::vector<size_t> bounds(runs + 1);
    for (size_t k = 0; k <= runs; ++k) bounds[k] = count * k / runs;
    const auto at = [&](std::unique_ptr<Item[]>& v, size_t b) { return v.get() + bounds[b]; };
    RunOnCrew(crew, threads, runs, pace, stop, [&](size_t k, const GoingOn& going_on) {
      try {
        std::sort(at(items, k), at(items, k + 1), [&](const Item& a, const Item& b) {
          if (!going_on()) throw SortCancelled{};
          return less(a, b);
        });
      } catch (const SortCancelled&) {
      }
    }, [&](size_t k) { return uint64_t{bounds[k + 1] - bounds[k]}; });
    while (runs > 1 && !stop.load()) {
      RunOnCrew(crew, threads, (runs + 1) / 2, pace, stop, [&](size_t k, const GoingOn&) {
        const size_t last = std::min(2 * k + 2, runs);
        if (last == 2 * k + 1)
          std::copy(at(items, 2 * k), at(items, last), at(merged, 2 * k));
        else
          std::merge(at(items, 2 * k), at(items, 2 * k + 1), at(items, 2 * k + 1), at(items, last), at(merged, 2 * k),
                     less);
      }, [&](size_t k) { return uint64_t{bounds[std::min(2 * k + 2, runs)] - bounds[2 * k]}; });
      items.swap(merged);
      std::vector<size_t> next;
      for (size_t b = 0; b < runs; b += 2) next.push_back(bounds[b]);
      next.push_back(bounds[runs]);
      bounds.swap(next);
      runs = bounds.size() - 1;
    }
    if (stop.load() || !pace.TickNow()) return false;
  }
  order.resize(count);
  const size_t shares = parts.size();
  RunOnCrew(crew, threads, shares, pace, stop, [&](size_t k, const GoingOn&) {
    for (size_t j = count * k / shares; j < count * (k + 1) / shares; ++j) order[j] = slot_of[items[j].index];
  }, [&](size_t k) { return uint64_t{count * (k + 1) / shares - count * k / shares}; });
  return !stop.load();
}

}  // namespace

namespace {

// Which bytes may begin a particle's match as the case-blind scan matches
// (a particle's byte matches a text byte equal to it or whose case image it
// is): a blank, and after it the particles' second bytes. Made again when
// the case tables change.
struct ParticleBytes {
  std::array<uint8_t, 256> swap{};
  std::array<bool, 256> blank{}, second{};
  bool space_alone = false;  // ' ' is the only byte that matches a blank
  // The lists of one call, kept for the next on this thread.
  std::vector<uint32_t> places;
  std::vector<size_t> hits;
  void Follow(const uint8_t* table) {
    if (std::equal(swap.begin(), swap.end(), table) && blank[' ']) return;
    std::copy(table, table + 256, swap.begin());
    space_alone = true;
    for (int t = 0; t < 256; ++t) {
      const auto matches = [&](char p) { return static_cast<uint8_t>(p) == t || table[t] == static_cast<uint8_t>(p); };
      blank[static_cast<size_t>(t)] = matches(' ');
      space_alone = space_alone && (t == ' ' || !blank[static_cast<size_t>(t)]);
      second[static_cast<size_t>(t)] = false;
      for (std::string_view particle : kParticles) second[static_cast<size_t>(t)] |= matches(particle[1]);
    }
  }
};

}  // namespace

std::string GlueParticles(std::string_view line) {
  std::string text = WithoutBrackets(line);
  thread_local ParticleBytes bytes;
  bytes.Follow(textutil::State().CaseSwapTable);
  // Every particle begins with a blank and one of a few bytes: only the
  // places where those stand are tried, and a line without one is left as
  // it is.
  const auto may_begin = [&](size_t i) {
    return bytes.blank[static_cast<uint8_t>(text[i])] && i + 1 < text.size() &&
           bytes.second[static_cast<uint8_t>(text[i + 1])];
  };
  std::vector<uint32_t>& places = bytes.places;
  const auto find_places = [&] {
    places.clear();
    if (bytes.space_alone) {
      // The blanks found sixteen bytes at a time, each then tried (a line
      // holds a dozen; a call to find each cost more than the look).
      const char* const p = text.data();
      const size_t last = text.empty() ? 0 : text.size() - 1;  // a place needs a byte after it
      size_t i = 0;
#if defined(__SSE2__)
      const __m128i blank = _mm_set1_epi8(' ');
      for (; i + 16 <= last; i += 16) {
        auto found = static_cast<uint32_t>(
            _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i)), blank)));
        for (; found; found &= found - 1) {
          const size_t at = i + static_cast<size_t>(__builtin_ctz(found));
          if (bytes.second[static_cast<uint8_t>(p[at + 1])]) places.push_back(static_cast<uint32_t>(at));
        }
      }
#endif
      for (; i < last; ++i)
        if (p[i] == ' ' && bytes.second[static_cast<uint8_t>(p[i + 1])]) places.push_back(static_cast<uint32_t>(i));
      return;
    }
    for (size_t i = 0; i + 1 < text.size(); ++i)
      if (may_begin(i)) places.push_back(static_cast<uint32_t>(i));
  };
  find_places();
  const auto matches = [&](char p, char t) {
    return p == t || bytes.swap[static_cast<uint8_t>(t)] == static_cast<uint8_t>(p);
  };
  std::vector<size_t>& hits = bytes.hits;
  for (std::string_view particle : kParticles) {
    if (places.empty()) break;
    // The occurrences as a case-blind replace finds them, left to right
    // and not overlapping; each loses its trailing blank, its case kept.
    hits.clear();
    size_t from = 0;
    for (const uint32_t at : places) {
      if (at < from || at + particle.size() > text.size()) continue;
      size_t j = 1;
      while (j < particle.size() && matches(particle[j], text[at + j])) ++j;
      if (j < particle.size()) continue;
      hits.push_back(at);
      from = at + particle.size();
    }
    if (hits.empty()) continue;
    for (auto it = hits.rbegin(); it != hits.rend(); ++it) text.erase(*it + particle.size() - 1, 1);
    find_places();
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

// The parts one after the other, in one allocation of the exact size.
std::string Entry(std::initializer_list<std::string_view> parts) {
  size_t size = 0;
  for (const std::string_view part : parts) size += part.size();
  std::string out;
  out.reserve(size);
  for (const std::string_view part : parts) out += part;
  return out;
}

// Only the husband side's slots (husband set) or the wife side's.
NameSlots SlotsOf(std::string_view trimmed_line, FileKind kind, bool husband) {
  const std::string l = GlueParticles(trimmed_line);
  const std::string_view rest = RestOf(l);
  NameSlots slots;
  slots.date = std::string(TrimLine(DatePrefixOf(l)));
  int pos = 1;
  if (husband) {
    // The first person's name: the rest up to its first ',' or ';' (the
    // husband's or the father's name, without what describes him).
    slots.first = textutil::Parse(rest, ",;", pos);
    slots.after_first = pos > 0 ? std::string(rest.substr(static_cast<size_t>(pos - 1))) : std::string();
    return slots;
  }
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
    slots.wife_h = std::string(rest.substr(0, std::min(p1, rest.size())));
    pos = 1;
    slots.wife_s = textutil::Parse(after_p1, ",", pos);
  }
  return slots;
}

}  // namespace

std::string WifeEntry(std::string_view trimmed_line, FileKind kind) {
  const NameSlots slots = SlotsOf(trimmed_line, kind, false);
  const Words words = FirstWords(slots.wife_s, 3);
  std::string surname, given;
  PlaceThirdWord(words, surname, given);
  return Entry({slots.date, "; ", surname, ", ", given, ", ", slots.wife_h, "; ", slots.wife_t});
}

std::string HusbandEntry(std::string_view trimmed_line, FileKind kind) {
  const NameSlots slots = SlotsOf(trimmed_line, kind, true);
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
  return Entry({slots.date, "; ", surname, ", ", given, ", ", slots.after_first});
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
                          Pacer* pacer, WorkCrew* crew) {
  return SortPageByName(caption, std::vector<std::string_view>(lines.begin(), lines.end()), side, pacer, crew);
}

SortedPage SortPageByName(std::string_view caption, const std::vector<std::string_view>& lines, SortSide side,
                          Pacer* pacer, WorkCrew* crew) {
  SortedEntries sorted = SortEntriesByName(caption, lines, side, pacer, crew);
  SortedPage page;
  page.error = std::move(sorted.error);
  page.caption = std::move(sorted.caption);
  page.lines.reserve(sorted.order.size());
  for (const uint32_t slot : sorted.order) page.lines.push_back(std::move(sorted.entries[slot]));
  DiscardLines(std::move(sorted.entries));
  return page;
}

SortedEntries SortEntriesByName(std::string_view caption, const std::vector<std::string_view>& lines, SortSide side,
                                Pacer* pacer, WorkCrew* crew) {
  Pacer unpaced(nullptr);
  Pacer& pace = pacer ? *pacer : unpaced;
  SortedEntries page;
  if (!IsSortablePage(caption)) {
    page.error = kImproperFileType;
    return page;
  }
  static constexpr const char* kPrefix[] = {"HS-", "WS-", "AS-"};
  page.caption = kPrefix[static_cast<int>(side)] + std::string(caption);
  const FileKind kind = PageKind(caption);
  const bool by_wife = side == SortSide::kWife && ContainsNoCase(caption, "_marr");

  std::optional<WorkCrew> own;
  if (crew == nullptr) crew = &own.emplace();
  const size_t threads = std::max<size_t>(1, std::min<size_t>(crew->Processors(), 8));
  // The lines cut into a few parts per thread, taken as the threads come
  // free; each line's entries go to its own slots of one list (the wife's
  // first under Sort All), made in place by the part's thread, and each
  // part keeps the keys of its entries.
  const size_t sides = side == SortSide::kAll ? 2 : 1;
  const size_t part_count = std::max<size_t>(1, std::min(lines.size() / 4096 + 1, threads * 4));
  std::vector<SortRows> parts(part_count);
  std::atomic<bool> stop{false};
  std::vector<std::string> entries(lines.size() * sides);
  RunOnCrew(*crew, threads, part_count, pace, stop, [&](size_t k, const GoingOn& going_on) {
    const size_t begin = lines.size() * k / part_count, end = lines.size() * (k + 1) / part_count;
    SortRows& rows = parts[k];
    rows.Reserve((end - begin) * sides);
    for (size_t i = begin; i < end; ++i) {
      if (!going_on()) return;
      const std::string_view trimmed = TrimLine(lines[i]);
      if (!IsRecordLine(trimmed)) continue;
      if (side != SortSide::kHusband) rows.Add(WifeEntry(trimmed, kind), by_wife, entries, sides * i);
      if (side != SortSide::kWife) rows.Add(HusbandEntry(trimmed, kind), by_wife, entries, sides * i + sides - 1);
    }
  }, [&](size_t k) { return uint64_t{lines.size() * (k + 1) / part_count - lines.size() * k / part_count}; });
  if (stop.load() || !pace.TickNow() || !OrderParts(parts, page.order, *crew, threads, pace, stop)) {
    DiscardLines(std::move(entries));
    page.order.clear();
    return page;
  }
  page.entries = std::move(entries);
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
