#include "app/core/arrange.h"

#include <algorithm>
#include <numeric>
#include <unordered_map>

#include "app/core/hit_dates.h"
#include "app/core/record_line.h"
#include "platform/runtime/dates.h"
#include "textutil/fields.h"
#include "textutil/phonetic.h"
#include "textutil/state.h"

namespace appcore {
namespace {

constexpr int64_t kIntervalMs = 15;

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

// Key text as keys compare: letters folded to the smaller of their two
// codes, as the case-blind comparison folds them.
std::string Folded(const std::string& key) {
  const uint8_t* swap = textutil::State().CaseSwapTable;
  std::string folded(key);
  for (char& c : folded) {
    const auto u = static_cast<uint8_t>(c);
    c = static_cast<char>(std::min(u, swap[u]));
  }
  return folded;
}

class KeyMaker {
public:
  explicit KeyMaker(int key_length) : key_length_(key_length) {}

  std::string Make(std::string_view line) {
    const std::string_view field = TrimLine(SecondField(line, scratch_));
    const size_t blank = field.find(' ');
    const std::string_view head = blank == std::string_view::npos ? field : field.substr(0, blank + 2);
    auto it = phonetic_.find(std::string(head));
    if (it == phonetic_.end())
      it = phonetic_.emplace(std::string(head), textutil::MetaPhone(head, key_length_)).first;
    std::string key = it->second;
    if (blank != std::string_view::npos) key.append(field.substr(blank, 2));
    const size_t comma = field.find(',');
    if (comma != std::string_view::npos && comma + 2 < field.size()) key.push_back(field[comma + 2]);
    return key;
  }

private:
  int key_length_;
  std::string scratch_;
  std::unordered_map<std::string, std::string> phonetic_;
};

}  // namespace

std::string ArrangeKey(std::string_view line, int key_length) { return KeyMaker(key_length).Make(line); }

void SortByDate(std::vector<std::string>& lines, const std::function<void(const std::string&)>& report) {
  std::vector<std::pair<int64_t, uint32_t>> order(lines.size());
  bool reported = false;
  for (size_t i = 0; i < lines.size(); ++i) {
    const HitDate date = DateOfLine(lines[i]);
    if (date.state == HitDate::kUnreadable && !reported) {
      reported = true;
      std::string text(DateTextOf(lines[i]));
      std::replace(text.begin(), text.end(), '?', '0');
      if (report) report("Date sort error:" + text);
    }
    order[i] = {date.Key(), static_cast<uint32_t>(i)};
  }
  // Ties keep their order: the index is part of the key.
  std::sort(order.begin(), order.end());
  std::vector<std::string> sorted;
  sorted.reserve(lines.size());
  for (const auto& entry : order) sorted.push_back(std::move(lines[entry.second]));
  lines.swap(sorted);
}

ArrangeOutcome Arrange(std::vector<std::string>& hits, int key_length, const ArrangeCallbacks& callbacks) {
  ArrangeOutcome outcome;
  SortByDate(hits, callbacks.report);

  KeyMaker maker(key_length);
  std::vector<std::string> keys(hits.size());
  int64_t last_call = rtl::MilliSecondClock();
  for (size_t i = 0; i < hits.size(); ++i) {
    keys[i] = Folded(maker.Make(hits[i]));
    if (callbacks.progress && (i & 1023) == 1023) {
      const int64_t now = rtl::MilliSecondClock();
      if (now - last_call >= kIntervalMs) {
        last_call = now;
        if (!callbacks.progress(static_cast<int64_t>(i + 1))) {
          outcome.cancelled = true;
          return outcome;
        }
      }
    }
  }

  std::vector<uint32_t> order(hits.size());
  std::iota(order.begin(), order.end(), 0u);
  std::sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) {
    const int c = keys[a].compare(keys[b]);
    return c != 0 ? c < 0 : a < b;
  });

  outcome.lines.reserve(hits.size() + hits.size() / 4 + 1);
  const std::string* previous = nullptr;
  static const std::string kNone;
  for (uint32_t index : order) {
    if (keys[index] != (previous ? *previous : kNone)) outcome.lines.emplace_back();
    outcome.lines.push_back(hits[index]);
    previous = &keys[index];
  }
  return outcome;
}

}  // namespace appcore
