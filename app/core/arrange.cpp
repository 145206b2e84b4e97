#include "app/core/arrange.h"

#include <algorithm>
#include <unordered_map>

#include "app/core/hit_dates.h"
#include "app/core/record_line.h"
#include "platform/runtime/dates.h"
#include "textutil/fields.h"
#include "textutil/phonetic.h"
#include "textutil/state.h"

namespace appcore {
namespace {


// The second ';'-separated field of line, as Fetch cuts it.
std::string_view SecondField(std::string_view line, std::string& scratch) {
  const textutil::UnitState& st = textutil::State();
  if (line.find(st.OpenQuote) == std::string_view::npos && line.find(st.CloseQuote) == std::string_view::npos) {
    const size_t first = line.find(';');
    if (first == std::string_view::npos) return {};
    const size_t second = line.find(';', first + 1);
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
  uint64_t high = 0, low = 0;
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
  PackedKey packed;
  for (int i = 0; i < 8; ++i) packed.high = packed.high << 8 | bytes[i];
  for (int i = 8; i < 16; ++i) packed.low = packed.low << 8 | bytes[i];
  return packed;
}

// The arrange key of a line: MetaPhone of the head of its child's field,
// the two characters from the field's first blank, then the character two
// places after its first comma, if any.
class KeyMaker {
public:
  explicit KeyMaker(int key_length) : key_length_(key_length) {}

  std::string Make(std::string_view line) {
    const std::string_view field = TrimLine(SecondField(line, scratch_));
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
  std::string scratch_, head_;
  std::unordered_map<std::string, std::string> memo_;
  bool memo_on_ = true;
  size_t found_ = 0, missed_ = 0;  // lookups since the memo was full
};

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
  int64_t done = 0;
  Pacer pacer(callbacks.progress ? std::function<bool()>([&] { return callbacks.progress(done); })
                                 : std::function<bool()>());
  const std::vector<uint32_t> by_date = DateOrder(hits, callbacks.report, pacer, done);
  if (by_date.size() != hits.size()) {
    outcome.cancelled = true;
    return outcome;
  }

  // Every line's packed key beside its place in date order; sorting these
  // puts groups in key order and keeps date order within each group. A
  // flat sort of keys, with no table of groups, keeps this linear in
  // memory traffic however many groups there are.
  struct Keyed {
    PackedKey key;
    uint32_t date_rank;
    bool operator<(const Keyed& o) const { return key == o.key ? date_rank < o.date_rank : key < o.key; }
  };
  KeyMaker maker(key_length);
  std::vector<Keyed> keyed(hits.size());
  for (size_t i = 0; i < by_date.size(); ++i) {
    keyed[i] = {Pack(maker.Make(hits[by_date[i]])), static_cast<uint32_t>(i)};
    done = static_cast<int64_t>(i + 1);
    if (!pacer.Tick()) {
      outcome.cancelled = true;
      return outcome;
    }
  }
  if (!PacedSort(keyed, [](const Keyed& a, const Keyed& b) { return a < b; }, pacer)) {
    outcome.cancelled = true;
    return outcome;
  }

  // Each group after an empty line; the first key is compared with "".
  const PackedKey none = Pack(std::string());
  size_t groups = 0;
  for (size_t i = 0; i < keyed.size(); ++i) groups += i == 0 || !(keyed[i].key == keyed[i - 1].key);
  outcome.rows.reserve(hits.size() + groups);
  for (size_t i = 0; i < keyed.size(); ++i) {
    if (!pacer.Tick()) return {{}, true};
    if (i == 0 ? !(keyed[i].key == none) : !(keyed[i].key == keyed[i - 1].key)) outcome.rows.push_back(kGroupBreak);
    outcome.rows.push_back(by_date[keyed[i].date_rank]);
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
