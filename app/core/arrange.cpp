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

// Arrange keys, worked out once per distinct child's name: the key is
// fixed by the head of the field and the character after its first comma.
class KeyMaker {
public:
  explicit KeyMaker(int key_length) : key_length_(key_length) {}

  std::string Make(std::string_view line) {
    std::string id;
    return KeyOf(line, id);
  }


  // The group of a line: equal keys share one group number.
  uint32_t Group(std::string_view line) {
    auto it = group_of_id_.find(IdOf(line));
    if (it != group_of_id_.end()) return it->second;
    const PackedKey key = Pack(KeyOf(line, id_));
    auto [group, added] = group_of_key_.emplace(key, static_cast<uint32_t>(keys_.size()));
    if (added) keys_.push_back(key);
    group_of_id_.emplace(id_, group->second);
    return group->second;
  }
  const std::vector<PackedKey>& GroupKeys() const { return keys_; }

private:
  // What fixes the key of a line: the head of its field, then the
  // character after the first comma, if any.
  const std::string& IdOf(std::string_view line) {
    const std::string_view field = TrimLine(SecondField(line, scratch_));
    const size_t blank = field.find(' ');
    const size_t comma = field.find(',');
    id_.assign(blank == std::string_view::npos ? field : field.substr(0, blank + 2));
    if (comma != std::string_view::npos && comma + 2 < field.size()) {
      id_.push_back('\0');
      id_.push_back(field[comma + 2]);
    }
    return id_;
  }

  std::string KeyOf(std::string_view line, std::string& id) {
    const std::string_view field = TrimLine(SecondField(line, scratch_));
    const size_t blank = field.find(' ');
    const std::string_view head = blank == std::string_view::npos ? field : field.substr(0, blank + 2);
    std::string key = textutil::MetaPhone(head, key_length_);
    if (blank != std::string_view::npos) key.append(field.substr(blank, 2));
    const size_t comma = field.find(',');
    if (comma != std::string_view::npos && comma + 2 < field.size()) key.push_back(field[comma + 2]);
    IdOf(line);
    id = id_;
    return key;
  }

  struct KeyHash {
    size_t operator()(const PackedKey& k) const { return k.high * 0x9E3779B97F4A7C15ull ^ k.low; }
  };

  int key_length_;
  std::string scratch_, id_;
  std::unordered_map<std::string, uint32_t> group_of_id_;
  std::unordered_map<PackedKey, uint32_t, KeyHash> group_of_key_;
  std::vector<PackedKey> keys_;
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
  for (size_t i = 0; i < keyed.size(); ++i) order[i] = keyed[i].second;
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
  return true;
}

ArrangeOutcome Arrange(std::vector<std::string> hits, int key_length, const ArrangeCallbacks& callbacks) {
  ArrangeOutcome outcome;
  int64_t done = 0;
  Pacer pacer(callbacks.progress ? std::function<bool()>([&] { return callbacks.progress(done); })
                                 : std::function<bool()>());
  const std::vector<uint32_t> by_date = DateOrder(hits, callbacks.report, pacer, done);
  if (by_date.size() != hits.size()) {
    outcome.cancelled = true;
    return outcome;
  }

  // The group of each line, in date order.
  KeyMaker maker(key_length);
  std::vector<uint32_t> group(hits.size());
  for (size_t i = 0; i < by_date.size(); ++i) {
    group[i] = maker.Group(hits[by_date[i]]);
    done = static_cast<int64_t>(i + 1);
    if (!pacer.Tick()) {
      outcome.cancelled = true;
      return outcome;
    }
  }

  // Groups in key order, lines within a group in date order: a counting
  // sort by the rank of each line's group keeps date order.
  const std::vector<PackedKey>& keys = maker.GroupKeys();
  std::vector<uint32_t> groups_in_order(keys.size());
  for (uint32_t g = 0; g < keys.size(); ++g) groups_in_order[g] = g;
  if (!PacedSort(groups_in_order, [&](uint32_t a, uint32_t b) { return keys[a] < keys[b]; }, pacer)) {
    outcome.cancelled = true;
    return outcome;
  }
  std::vector<uint32_t> start(keys.size() + 1, 0);
  for (uint32_t g : group) ++start[g + 1];
  std::vector<uint32_t> first_line(keys.size());
  uint32_t at = 0;
  for (uint32_t g : groups_in_order) {
    first_line[g] = at;
    at += start[g + 1];
  }
  std::vector<uint32_t> arranged(hits.size());
  for (size_t i = 0; i < group.size(); ++i) arranged[first_line[group[i]]++] = by_date[i];

  // Each group after an empty line; the first key is compared with "".
  outcome.lines.reserve(hits.size() + keys.size() + 1);
  const PackedKey none = Pack(std::string());
  size_t i = 0;
  for (uint32_t g : groups_in_order) {
    if (!(keys[g] == none && i == 0)) outcome.lines.emplace_back();
    for (uint32_t n = start[g + 1]; n > 0; --n) outcome.lines.push_back(std::move(hits[arranged[i++]]));
  }
  return outcome;
}

}  // namespace appcore
