#include "app/core/arrange.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <type_traits>
#include <unordered_map>
#include <utility>

#include "app/core/hit_dates.h"
#include "app/core/record_line.h"
#include "app/core/work_crew.h"
#include "platform/runtime/dates.h"
#include "platform/runtime/parts.h"
#include "textutil/fields.h"
#include "textutil/phonetic.h"
#include "textutil/state.h"

namespace appcore {
namespace {


// The second ';'-separated field of line, as Fetch cuts it. Fetch reads a
// line only up to the end of the field it returns, so quotes after that
// change nothing: where none stands before it, the field is cut at the
// plain ';'s.
// open_quote and close_quote are the unit's (each looked for once, when
// they are one character).
std::string_view SecondField(std::string_view line, char open_quote, char close_quote, std::string& scratch) {
  const size_t first = line.find(';');
  const size_t second = first == std::string_view::npos ? std::string_view::npos : line.find(';', first + 1);
  const std::string_view read = line.substr(0, second);
  if (read.find(open_quote) == std::string_view::npos &&
      (close_quote == open_quote || read.find(close_quote) == std::string_view::npos)) {
    if (first == std::string_view::npos) return {};
    return line.substr(first + 1, second == std::string_view::npos ? std::string_view::npos : second - first - 1);
  }
  scratch = textutil::Fetch(line, ";", 2, false);
  return scratch;
}

// A key as keys compare, in 16 bytes: the key's bytes with letters folded
// to the smaller of their two codes (as the case-blind comparison folds
// them), zero-padded, and its length last. Comparing these as two
// big-endian numbers orders them as the folded strings order, the shorter
// first where one is the start of the other. Keys have 11 bytes at most.
struct PackedKey {
  uint64_t high, low;
  bool operator==(const PackedKey&) const = default;
  bool operator<(const PackedKey& o) const { return high != o.high ? high < o.high : low < o.low; }
};

PackedKey Pack(const std::string& key) {
  const uint8_t* swap = textutil::State().CaseSwapTable;
  uint8_t bytes[16] = {};
  const size_t n = std::min<size_t>(key.size(), 15);
  for (size_t i = 0; i < n; ++i) {
    const auto u = static_cast<uint8_t>(key[i]);
    bytes[i] = std::min(u, swap[u]);
  }
  bytes[15] = static_cast<uint8_t>(n);
  PackedKey packed{0, 0};
  for (int i = 0; i < 8; ++i) packed.high = packed.high << 8 | bytes[i];
  for (int i = 8; i < 16; ++i) packed.low = packed.low << 8 | bytes[i];
  return packed;
}

// The arrange key of a line: MetaPhone of the head of its child's field,
// the two characters from the field's first blank, then the character two
// places after its first comma, if any.
class KeyMaker {
public:
  explicit KeyMaker(int key_length)
      : key_length_(key_length),
        open_quote_(textutil::State().OpenQuote),
        close_quote_(textutil::State().CloseQuote) {}

  std::string Make(std::string_view line) { return KeyOf(Field(line)); }

  // The child's field of line, trimmed (valid until the next call).
  std::string_view Field(std::string_view line) {
    return TrimLine(SecondField(line, open_quote_, close_quote_, scratch_));
  }

  // The key of a child's field.
  std::string KeyOf(std::string_view field) {
    const size_t blank = field.find(' ');
    const std::string_view head = blank == std::string_view::npos ? field : field.substr(0, blank + 2);
    std::string key = Phonetic(head);
    if (blank != std::string_view::npos) key.append(field.substr(blank, 2));
    const size_t comma = field.find(',');
    if (comma != std::string_view::npos && comma + 2 < field.size()) key.push_back(field[comma + 2]);
    return key;
  }

private:
  // MetaPhone of a head, worked out once per distinct head: hits repeat the
  // same few thousand names. Past kMemoLimit distinct heads (hits that
  // mostly differ) the rest are worked out afresh.
  static constexpr size_t kMemoLimit = size_t{1} << 16;
  std::string Phonetic(std::string_view head) {
    if (memo_on_) {
      head_.assign(head.data(), head.size());
      const auto it = memo_.find(head_);
      if (it != memo_.end()) {
        if (memo_.size() >= kMemoLimit) ++found_;
        return it->second;
      }
      // Once full, the memo is kept only while it answers most lookups.
      if (memo_.size() >= kMemoLimit && ++missed_ > 4096 && missed_ > found_) {
        memo_on_ = false;
        memo_ = {};
      }
    }
    std::string key = textutil::MetaPhone(head, key_length_);
    if (memo_on_ && memo_.size() < kMemoLimit) memo_.emplace(head_, key);
    return key;
  }

  int key_length_;
  char open_quote_, close_quote_;
  std::string scratch_, head_;
  std::unordered_map<std::string, std::string> memo_;
  bool memo_on_ = true;
  size_t found_ = 0, missed_ = 0;  // lookups since the memo was full
};

// Packed keys by the child's field, each worked out once: hits repeat the
// same few thousand fields. Open addressing over a table that doubles when
// half full, up to kMostSlots; past that, new fields are keyed afresh.
class FieldKeys {
public:
  struct Slot {
    PackedKey key{0, 0};
    uint64_t hash = 0;
    uint32_t at = 0, length = 0;  // the field's bytes in bytes_
    uint32_t id = UINT32_MAX;     // the caller's number for the key, once set
    bool used = false;
  };

  explicit FieldKeys(int key_length) : maker_(key_length), slots_(kFirstSlots) {}

  // The packed key of line's field; its slot (valid until the next call),
  // or nullptr when the field is new and the table full.
  Slot* Find(std::string_view line, PackedKey& key) {
    const std::string_view field = maker_.Field(line);
    const uint64_t hash = std::hash<std::string_view>{}(field);
    for (size_t mask = slots_.size() - 1, s = hash & mask;; s = (s + 1) & mask) {
      Slot& slot = slots_[s];
      if (slot.used) {
        if (slot.hash == hash && std::string_view(bytes_).substr(slot.at, slot.length) == field) {
          key = slot.key;
          return &slot;
        }
        continue;
      }
      key = Pack(maker_.KeyOf(field));
      if (2 * (count_ + 1) > slots_.size() && !Grow()) return nullptr;
      Slot& empty = Place(hash);
      empty = {key, hash, static_cast<uint32_t>(bytes_.size()), static_cast<uint32_t>(field.size()), UINT32_MAX, true};
      bytes_.append(field);
      ++count_;
      return &empty;
    }
  }

private:
  static constexpr size_t kFirstSlots = 1024, kMostSlots = size_t{1} << 14;
  Slot& Place(uint64_t hash) {
    for (size_t mask = slots_.size() - 1, s = hash & mask;; s = (s + 1) & mask)
      if (!slots_[s].used) return slots_[s];
  }
  bool Grow() {
    if (slots_.size() >= kMostSlots || bytes_.size() > UINT32_MAX / 2) return false;
    std::vector<Slot> old(slots_.size() * 2);
    old.swap(slots_);
    for (const Slot& slot : old)
      if (slot.used) Place(slot.hash) = slot;
    return true;
  }

  KeyMaker maker_;
  std::vector<Slot> slots_;
  std::string bytes_;
  size_t count_ = 0;
};

// Room for a count of items of a trivial type, left as it is: its pages
// come in as the threads that fill it first write them, not all on the
// thread that asks for it.
template <class T>
class Unset {
  static_assert(std::is_trivially_default_constructible_v<T> && std::is_trivially_destructible_v<T>);

public:
  explicit Unset(size_t count) : items_(new T[count]), size_(count) {}
  T& operator[](size_t i) { return items_[i]; }
  const T& operator[](size_t i) const { return items_[i]; }
  T* data() { return items_.get(); }
  const T* data() const { return items_.get(); }
  size_t size() const { return size_; }
  void reset() {
    items_.reset();
    size_ = 0;
  }

private:
  std::unique_ptr<T[]> items_;
  size_t size_;
};

// A line's place in the arrangement: its packed key, then its date, then
// its place among the hits. In this order groups follow their keys, and
// within a group lines follow their dates, equal dates the hits' order.
struct Keyed {
  PackedKey key;
  uint32_t date;
  uint32_t index;
  bool operator<(const Keyed& o) const {
    if (!(key == o.key)) return key < o.key;
    return date != o.date ? date < o.date : index < o.index;
  }
};

// A date's place in the order of HitDate::Key() in 32 bits: a readable
// date's value is below 10^8 (a 4-digit year), lines without one last.
uint32_t DateRank(const HitDate& date) {
  return date.state == HitDate::kValid ? static_cast<uint32_t>(date.value) : UINT32_MAX;
}

constexpr size_t kNone = SIZE_MAX;

// The lines [begin, end) of the hits, keyed and sorted by one thread.
struct Part {
  size_t begin = 0, end = 0;
  size_t unreadable = kNone;  // the first line whose date cannot be read
  std::exception_ptr failure;
  // The part's distinct keys while they are few (see kFewKeys), in the order
  // met, and how many of its lines hold each; once there are more, the part
  // is sorted instead (sorted set).
  std::vector<PackedKey> keys;
  std::vector<size_t> counts;
  bool sorted = false;
};

// Hits mostly fall into few groups (the same few names): up to this many
// distinct keys per part, the lines are counted into their groups rather
// than sorted whole.
constexpr size_t kFewKeys = 4096;

struct PackedKeyHash {
  size_t operator()(const PackedKey& k) const { return static_cast<size_t>((k.high ^ (k.low * 0x9E3779B97F4A7C15ULL)) >> 7); }
};

// Sorts the part's keyed lines in place; tick as in KeyPart.
template <class Tick>
void SortPart(Unset<Keyed>& keyed, Part& part, Tick tick) {
  try {
    std::sort(keyed.data() + part.begin, keyed.data() + part.end,
              [&](const Keyed& a, const Keyed& b) {
                if (!tick()) throw SortCancelled{};
                return a < b;
              });
    part.sorted = true;
  } catch (const SortCancelled&) {
  } catch (...) {
    part.failure = std::current_exception();
  }
}

// Lines ahead of the one keyed whose text is fetched meanwhile.
constexpr size_t kKeyAhead = 6;

// Keys the part's lines into keyed, counting them into its distinct keys
// while they are few (each line's key's place among them in local), and
// sorts the part there once they are not. tick is called per line and per
// comparison; once it answers false the part is left unfinished. Failures
// are kept in the part.
template <class Tick>
void KeyPart(const std::vector<std::string>& hits, int key_length, Unset<Keyed>& keyed, Unset<uint32_t>& local,
             Part& part, Tick tick) {
  try {
    FieldKeys fields(key_length);
    std::unordered_map<PackedKey, uint32_t, PackedKeyHash> distinct;
    bool few = true;
    for (size_t i = part.begin; i < part.end; ++i) {
      if (!tick()) return;
      // The hits were made on other threads: a line's text a few lines on
      // is asked for while this one is keyed.
      if (i + kKeyAhead < part.end) {
        const std::string& ahead = hits[i + kKeyAhead];
        __builtin_prefetch(ahead.data());
        __builtin_prefetch(ahead.data() + 64);
      }
      const HitDate date = DateOfLine(hits[i]);
      if (date.state == HitDate::kUnreadable && part.unreadable == kNone) part.unreadable = i;
      PackedKey key;
      FieldKeys::Slot* slot = fields.Find(hits[i], key);
      keyed[i] = {key, DateRank(date), static_cast<uint32_t>(i)};
      if (!few) continue;
      uint32_t id = slot ? slot->id : UINT32_MAX;
      if (id == UINT32_MAX) {
        const auto [at, added] = distinct.try_emplace(key, static_cast<uint32_t>(part.keys.size()));
        if (added) {
          part.keys.push_back(key);
          part.counts.push_back(0);
        }
        id = at->second;
        if (slot) slot->id = id;
        few = distinct.size() <= kFewKeys;
      }
      local[i] = id;
      ++part.counts[id];
    }
    if (few) return;
    part.keys.clear();
    part.counts.clear();
  } catch (...) {
    part.failure = std::current_exception();
    return;
  }
  SortPart(keyed, part, tick);
}

// Writes a group's lines (each date << 32 | place, in the hits' order) to
// rows by date, equal dates in the hits' order: a stable counting sort of
// the dates' distances from the group's earliest, kDigitBits bits a pass.
// The passes take no room of their own: they go from lines to rows (places
// alone, their dates then read from keyed) and back, and a last one that
// ends in lines is copied to rows. Short groups are sorted by comparison.
// tick is called per line and pass, and per comparison; false once it
// answered false (rows then unfinished).
template <class Tick>
bool PutInDateOrder(uint64_t* lines, size_t count, const Unset<Keyed>& keyed, uint32_t* rows, Tick tick) {
  constexpr size_t kShortGroup = 256;
  constexpr int kDigitBits = 11;
  constexpr uint32_t kBuckets = uint32_t{1} << kDigitBits;
  uint32_t lo = UINT32_MAX, hi = 0;
  bool in_order = true;
  for (size_t i = 0; i < count; ++i) {
    const auto date = static_cast<uint32_t>(lines[i] >> 32);
    lo = std::min(lo, date);
    hi = std::max(hi, date);
    in_order = in_order && (i == 0 || lines[i - 1] <= lines[i]);
  }
  if (!in_order && count <= kShortGroup) {
    try {
      std::sort(lines, lines + count, [&](uint64_t a, uint64_t b) {
        if (!tick()) throw SortCancelled{};
        return a < b;
      });
    } catch (const SortCancelled&) {
      return false;
    }
    in_order = true;
  }
  constexpr int kMostPasses = (32 + kDigitBits - 1) / kDigitBits;
  int passes = 0;
  if (!in_order)
    while (passes * kDigitBits < 32 && ((hi - lo) >> (passes * kDigitBits)) != 0) ++passes;
  // Every pass's digits counted in one look at the lines as they stand in
  // memory, not by reading each line's date again from keyed where it
  // lies; at becomes each digit's next place (a group holds fewer than
  // 2^32 lines).
  std::array<std::array<uint32_t, kBuckets>, kMostPasses> at;
  for (int pass = 0; pass < passes; ++pass) std::fill(at[pass].begin(), at[pass].end(), 0);
  for (size_t i = 0; i < count && passes > 0; ++i) {
    const uint32_t distance = static_cast<uint32_t>(lines[i] >> 32) - lo;
    for (int pass = 0; pass < passes; ++pass) ++at[pass][(distance >> (pass * kDigitBits)) & (kBuckets - 1)];
  }
  // Dates read from keyed are fetched this many lines ahead.
  constexpr size_t kDatesAhead = 16;
  for (int pass = 0; pass < passes; ++pass) {
    const int shift = pass * kDigitBits;
    const auto digit = [&](uint32_t date) { return ((date - lo) >> shift) & (kBuckets - 1); };
    std::array<uint32_t, kBuckets>& next = at[pass];
    for (uint32_t b = 0, place = 0; b < kBuckets; ++b) place += std::exchange(next[b], place);
    if (pass % 2 == 0) {
      for (size_t i = 0; i < count; ++i) {
        if (!tick()) return false;
        rows[next[digit(static_cast<uint32_t>(lines[i] >> 32))]++] = static_cast<uint32_t>(lines[i]);
      }
    } else {
      for (size_t i = 0; i < count; ++i) {
        if (!tick()) return false;
        if (i + kDatesAhead < count) __builtin_prefetch(&keyed[rows[i + kDatesAhead]]);
        const uint32_t date = keyed[rows[i]].date;
        lines[next[digit(date)]++] = uint64_t{date} << 32 | rows[i];
      }
    }
  }
  if (passes % 2 == 0)
    for (size_t i = 0; i < count; ++i) {
      if (!tick()) return false;
      rows[i] = static_cast<uint32_t>(lines[i]);
    }
  return true;
}

// Runs body(t, on_caller) for every part t < parts on the crew, part 0
// always on the calling thread (which ticks the pacer there, so that it
// answers as often whoever takes the other parts), then any other part it
// takes.
template <class Body>
void RunPartsOnCrew(WorkCrew& crew, size_t parts, Body&& body, const CrewWaiting& waiting = nullptr) {
  std::atomic<size_t> next{1};
  bool first_done = false;  // the calling thread's alone
  crew.Run(
      parts, parts,
      [&](size_t, bool on_caller) {
        if (on_caller && !first_done) {
          first_done = true;
          body(0, true);
          return;
        }
        const size_t t = next++;
        if (t < parts) body(t, on_caller);
      },
      waiting, 2);
  if (!first_done) body(0, true);  // the helpers took every seat
}

// The rows of keyed lines whose parts hold few distinct keys: each line
// counted into its group (the groups in key order), each group's lines
// then put in date order, equal dates in the hits' order. Groups follow
// one another each after a kGroupBreak, the first one after none when its
// key is the empty one.
//
// Each step runs on the crew, the calling thread ticking pacer per line
// for its own parts; once the pacer is cancelled every thread stops
// and the rows are left empty, cancelled set.
std::vector<uint32_t> RowsOfFewGroups(const Unset<Keyed>& keyed, Unset<uint32_t>& local,
                                      const std::vector<Part>& parts, WorkCrew& crew, Pacer& pacer,
                                      bool& cancelled) {
  std::atomic<bool> stop{false};
  // Every part, one a task; false once the pacer was cancelled.
  auto step = [&](auto&& body) {
    RunPartsOnCrew(crew, parts.size(), [&](size_t t, bool on_caller) {
      uint32_t calls = 0;
      body(t, [&] {
        if (on_caller) {
          if (pacer.Tick()) return true;
          stop = true;
          return false;
        }
        return (++calls & 255) != 0 || !stop.load(std::memory_order_relaxed);
      });
    });
    return !stop;
  };
  std::vector<PackedKey> keys;
  for (const Part& part : parts) keys.insert(keys.end(), part.keys.begin(), part.keys.end());
  std::sort(keys.begin(), keys.end());
  keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
  const size_t groups = keys.size(), threads = parts.size();

  // Each part's keys as groups, its lines per group (counted as they were
  // keyed), then where each part's lines of each group go: group by group,
  // part by part, so that a group holds the hits' order.
  std::vector<std::vector<uint32_t>> group_of(threads);
  std::vector<std::vector<size_t>> at(threads, std::vector<size_t>(groups, 0));
  for (size_t t = 0; t < threads; ++t)
    for (const PackedKey& key : parts[t].keys) {
      const auto g = static_cast<uint32_t>(std::lower_bound(keys.begin(), keys.end(), key) - keys.begin());
      at[t][g] = parts[t].counts[group_of[t].size()];
      group_of[t].push_back(g);
    }
  std::vector<size_t> group_begin(groups + 1, 0);
  size_t next = 0;
  for (size_t g = 0; g < groups; ++g) {
    group_begin[g] = next;
    for (size_t t = 0; t < threads; ++t) {
      const size_t count = at[t][g];
      at[t][g] = next;
      next += count;
    }
  }
  group_begin[groups] = next;
  // Date and place, so that one number orders a group's lines.
  Unset<uint64_t> order(keyed.size());
  const bool placed = step([&](size_t t, auto tick) {
    for (size_t i = parts[t].begin; i < parts[t].end; ++i) {
      if (!tick()) return;
      order[at[t][group_of[t][local[i]]]++] = uint64_t{keyed[i].date} << 32 | keyed[i].index;
    }
  });
  if (!placed) {
    cancelled = true;
    return {};
  }
  local.reset();

  // Each group after its break, sorted by date; the groups shared out to
  // the threads by their lines.
  const bool first_unbroken = groups > 0 && keys[0] == Pack(std::string());
  std::vector<uint32_t> rows(keyed.size() + groups - (first_unbroken ? 1 : 0));
  std::vector<size_t> first_group(threads + 1, groups);
  first_group[0] = 0;
  for (size_t t = 1, g = 0; t < threads; ++t) {
    while (g < groups && group_begin[g] < keyed.size() * t / threads) ++g;
    first_group[t] = g;
  }
  const bool sorted = step([&](size_t t, auto tick) {
    for (size_t g = first_group[t]; g < first_group[t + 1]; ++g) {
      size_t row = group_begin[g] + g - (first_unbroken && g > 0 ? 1 : 0);
      if (!(first_unbroken && g == 0)) rows[row++] = kGroupBreak;
      if (!PutInDateOrder(order.data() + group_begin[g], group_begin[g + 1] - group_begin[g],
                          keyed, rows.data() + row, tick))
        return;
    }
  });
  if (!sorted) {
    cancelled = true;
    return {};
  }
  return rows;
}

// Line indexes in date order (ties in their order); reports the first
// unreadable date.
// Empty when cancelled.
// done counts the lines dated.
std::vector<uint32_t> DateOrder(const std::vector<std::string>& lines,
                                const std::function<void(const std::string&)>& report, Pacer& pacer,
                                int64_t& done) {
  std::vector<std::pair<int64_t, uint32_t>> keyed(lines.size());
  bool reported = false;
  for (size_t i = 0; i < lines.size(); ++i) {
    done = static_cast<int64_t>(i + 1);
    if (!pacer.Tick()) return {};
    const HitDate date = DateOfLine(lines[i]);
    if (date.state == HitDate::kUnreadable && !reported) {
      reported = true;
      std::string text(DateTextOf(lines[i]));
      std::replace(text.begin(), text.end(), '?', '0');
      if (report) report("Date sort error:" + text);
    }
    keyed[i] = {date.Key(), static_cast<uint32_t>(i)};
  }
  // Hits come file by file, each file in date order: often sorted already.
  if (!std::is_sorted(keyed.begin(), keyed.end()) &&
      !PacedSort(keyed, [](const auto& a, const auto& b) { return a < b; }, pacer))
    return {};
  std::vector<uint32_t> order(lines.size());
  for (size_t i = 0; i < keyed.size(); ++i) {
    if (!pacer.Tick()) return {};
    order[i] = keyed[i].second;
  }
  return order;
}

}  // namespace

std::string ArrangeKey(std::string_view line, int key_length) { return KeyMaker(key_length).Make(line); }

bool SortByDate(std::vector<std::string>& lines, const std::function<void(const std::string&)>& report,
                Pacer* pacer) {
  Pacer unpaced(nullptr);
  int64_t done = 0;
  const std::vector<uint32_t> order = DateOrder(lines, report, pacer ? *pacer : unpaced, done);
  if (order.size() != lines.size()) return false;
  std::vector<std::string> sorted;
  sorted.reserve(lines.size());
  for (uint32_t index : order) sorted.push_back(std::move(lines[index]));
  lines.swap(sorted);
  DiscardLines(std::move(sorted));
  return true;
}

ArrangedRows ArrangeRows(const std::vector<std::string>& hits, int key_length, const ArrangeCallbacks& callbacks) {
  ArrangedRows outcome;
  const size_t n = hits.size();
  Unset<Keyed> keyed(n);
  Unset<uint32_t> local(n);  // each line's key among its part's (while few)

  // Parts of the hits for the threads, a part of at least kPartLines lines
  // each; the calling thread keys the first part itself, ticking the pacer,
  // then answers the window while the others finish.
  constexpr size_t kPartLines = 8192;
  // One crew of threads, started once, keys the parts and then makes the
  // rows; the calling thread ticks the pacer for the parts it takes (the
  // first among them) and while it waits for the others. The parts are cut
  // for the crew's cores: a helper of a crew calling here may be kept on
  // one core of its own.
  std::optional<WorkCrew> own_crew;
  WorkCrew& crew = callbacks.crew ? *callbacks.crew : own_crew.emplace();
  const size_t threads = rtl::PartsFor(n, kPartLines, 8, crew.Processors());

  std::vector<Part> parts(threads);
  for (size_t t = 0; t < threads; ++t) {
    parts[t].begin = n * t / threads;
    parts[t].end = n * (t + 1) / threads;
  }

  std::atomic<bool> stop{false};
  bool cancelled = false;
  std::atomic<int64_t> others_done{0};
  int64_t own_done = 0;
  Pacer pacer(callbacks.progress
                  ? std::function<bool()>([&] { return callbacks.progress(own_done + others_done.load()); })
                  : std::function<bool()>());
  RunPartsOnCrew(
      crew, threads,
      [&](size_t t, bool on_caller) {
        Part& part = parts[t];
        uint32_t calls = 0;
        if (on_caller) {
          KeyPart(hits, key_length, keyed, local, part, [&] {
            ++own_done;
            return !stop.load(std::memory_order_relaxed) && pacer.Tick();
          });
          if (pacer.Cancelled()) stop = true;
        } else {
          KeyPart(hits, key_length, keyed, local, part, [&] {
            if ((++calls & 1023) == 0) others_done += 1024;
            return (calls & 255) != 0 || !stop.load(std::memory_order_relaxed);
          });
        }
        if (part.failure) stop = true;
      },
      [&] {
        if (!pacer.TickNow()) stop = true;
      });
  cancelled = stop;
  for (const Part& part : parts)
    if (part.failure) std::rethrow_exception(part.failure);
  if (cancelled) {
    outcome.cancelled = true;
    return outcome;
  }
  // The first unreadable date of the hits, as they came.
  for (const Part& part : parts)
    if (part.unreadable != kNone) {
      std::string text(DateTextOf(hits[part.unreadable]));
      std::replace(text.begin(), text.end(), '?', '0');
      if (callbacks.report) callbacks.report("Date sort error:" + text);
      break;
    }

  bool few = true;
  for (const Part& part : parts) few = few && !part.sorted;
  if (few) {
    outcome.rows = RowsOfFewGroups(keyed, local, parts, crew, pacer, outcome.cancelled);
    return outcome;
  }
  // Parts of few keys are sorted too when another part held many.
  for (Part& part : parts)
    if (!part.sorted) {
      SortPart(keyed, part, [&] { return pacer.Tick(); });
      if (part.failure) std::rethrow_exception(part.failure);
      if (!part.sorted) return {{}, true};
    }

  // The sorted parts merged; each group after an empty line, the first key
  // compared with "".
  std::vector<const Keyed*> at(threads), ends(threads);
  for (size_t t = 0; t < threads; ++t) {
    at[t] = keyed.data() + parts[t].begin;
    ends[t] = keyed.data() + parts[t].end;
  }
  outcome.rows.reserve(n + n / 8);
  PackedKey last = Pack(std::string());
  for (size_t i = 0; i < n; ++i) {
    if (!pacer.Tick()) return {{}, true};
    size_t best = threads;
    for (size_t t = 0; t < threads; ++t)
      if (at[t] != ends[t] && (best == threads || *at[t] < *at[best])) best = t;
    const Keyed& next = *at[best]++;
    if (!(next.key == last)) outcome.rows.push_back(kGroupBreak);
    last = next.key;
    outcome.rows.push_back(next.index);
  }
  return outcome;
}

ArrangeOutcome Arrange(std::vector<std::string> hits, int key_length, const ArrangeCallbacks& callbacks) {
  ArrangeOutcome outcome;
  const ArrangedRows arranged = ArrangeRows(hits, key_length, callbacks);
  outcome.cancelled = arranged.cancelled;
  if (!outcome.cancelled) {
    outcome.lines.reserve(arranged.rows.size());
    for (uint32_t row : arranged.rows)
      if (row == kGroupBreak) outcome.lines.emplace_back();
      else outcome.lines.push_back(std::move(hits[row]));
  }
  DiscardLines(std::move(hits));
  return outcome;
}

}  // namespace appcore
