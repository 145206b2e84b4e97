#include "tables/sql/join_lookup.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <numeric>

#include "tables/lib/collation.h"
#include "tables/lib/fieldtypes.h"

namespace korvex {

namespace {

bool DateLike(std::uint8_t type) { return type == dtDate || type == dtTimeStamp; }

}  // namespace

bool OrderedLookupTypes(std::uint8_t column, std::uint8_t probe) {
  if (column == dtBlob || probe == dtBlob) return false;
  return (IsTextType(column) && IsTextType(probe)) || (IsNumericType(column) && IsNumericType(probe)) ||
         (DateLike(column) && DateLike(probe)) || (column == dtTime && probe == dtTime);
}

TSortedLookup::~TSortedLookup() {
  FreeValues();
  ReturnExpTokenInstance(scratch_);
}

void TSortedLookup::FreeValues() {
  for (TExpToken*& v : values_) FreeExpressionTokens(v);
  values_.clear();
}

void TSortedLookup::Reset(std::size_t width, TLocalePair locale) {
  FreeValues();
  entries_.clear();
  rows_.clear();
  width_ = width;
  locale_ = locale;
}

void TSortedLookup::Add(std::uint32_t row, std::vector<TExpToken*>& values) {
  rows_.push_back(row);
  for (TExpToken*& v : values) {
    values_.push_back(v);
    v = nullptr;
  }
}

int TSortedLookup::CompareValue(const TExpToken* a, const TExpToken* b) const {
  if (a->IsNull || b->IsNull) return a->IsNull == b->IsNull ? 0 : a->IsNull ? -1 : 1;
  // Texts: the comparison an equality of two texts makes.
  if (IsTextType(a->DataType) && IsTextType(b->DataType))
    return CompareStrings(locale_.Language, locale_.Sort, a->StringValue(), b->StringValue(), 0, false);
  if (!scratch_) scratch_ = GetNewExpTokenInstance();
  EvaluateBinary(eoLT, a, b, scratch_, locale_);
  if (IsTrue(scratch_)) return -1;
  EvaluateBinary(eoLT, b, a, scratch_, locale_);
  return IsTrue(scratch_) ? 1 : 0;
}

int TSortedLookup::CompareKey(std::uint32_t entry, const std::vector<TExpToken*>& probe) const {
  const TExpToken* const* key = values_.data() + std::size_t{entry} * width_;
  for (std::size_t i = 0; i < width_; ++i)
    if (const int order = CompareValue(key[i], probe[i])) return order;
  return 0;
}

void TSortedLookup::Finish() {
  entries_.resize(rows_.size());
  std::iota(entries_.begin(), entries_.end(), 0U);
  std::stable_sort(entries_.begin(), entries_.end(), [&](std::uint32_t a, std::uint32_t b) {
    const TExpToken* const* ka = values_.data() + std::size_t{a} * width_;
    const TExpToken* const* kb = values_.data() + std::size_t{b} * width_;
    for (std::size_t i = 0; i < width_; ++i)
      if (const int order = CompareValue(ka[i], kb[i])) return order < 0;
    return false;
  });
  // The rows in key order, so that a probe's matches are one run of them;
  // the values are reordered with them.
  std::vector<std::uint32_t> rows(rows_.size());
  std::vector<TExpToken*> values(values_.size());
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    rows[i] = rows_[entries_[i]];
    std::copy_n(values_.begin() + static_cast<std::ptrdiff_t>(std::size_t{entries_[i]} * width_), width_,
                values.begin() + static_cast<std::ptrdiff_t>(i * width_));
  }
  rows_ = std::move(rows);
  values_ = std::move(values);
}

std::span<const std::uint32_t> TSortedLookup::Find(const std::vector<TExpToken*>& probe) const {
  std::uint32_t low = 0, high = static_cast<std::uint32_t>(rows_.size());
  while (low < high) {
    const std::uint32_t mid = low + (high - low) / 2;
    if (CompareKey(mid, probe) < 0) low = mid + 1;
    else high = mid;
  }
  std::uint32_t end = low;
  high = static_cast<std::uint32_t>(rows_.size());
  while (end < high) {
    const std::uint32_t mid = end + (high - end) / 2;
    if (CompareKey(mid, probe) <= 0) end = mid + 1;
    else high = mid;
  }
  return {rows_.data() + low, rows_.data() + end};
}

void TKeyedRows::Clear() {
  places_.clear();
  keys_.clear();
  bytes_.clear();
  added_.clear();
  rows_.clear();
}

std::size_t TKeyedRows::PlaceOf(std::string_view key, std::uint64_t hash) const {
  const std::size_t mask = places_.size() - 1;
  for (std::size_t at = hash & mask;; at = (at + 1) & mask) {
    const Place& p = places_[at];
    if (p.key == 0) return at;
    if (p.hash != hash) continue;
    const Key& known = keys_[p.key - 1];
    if (known.length == key.size() && std::memcmp(bytes_.data() + known.at, key.data(), key.size()) == 0) return at;
  }
}

void TKeyedRows::Grow() {
  std::vector<Place> old = std::move(places_);
  const std::size_t n = old.empty() ? 1024 : old.size() * 2;
  places_.assign(n, Place{});
  for (const Place& p : old) {
    if (p.key == 0) continue;
    std::size_t at = p.hash & (n - 1);
    while (places_[at].key != 0) at = (at + 1) & (n - 1);
    places_[at] = p;
  }
}

void TKeyedRows::Add(std::uint32_t row, std::string_view key) {
  if (2 * (keys_.size() + 1) > places_.size()) Grow();
  const std::uint64_t hash = std::hash<std::string_view>{}(key);
  Place& p = places_[PlaceOf(key, hash)];
  if (p.key == 0) {
    keys_.push_back({static_cast<std::uint32_t>(bytes_.size()), static_cast<std::uint32_t>(key.size()), 0, 0});
    bytes_.append(key);
    p = {hash, static_cast<std::uint32_t>(keys_.size())};
  }
  ++keys_[p.key - 1].count;
  added_.push_back(row);
  added_.push_back(p.key - 1);
}

void TKeyedRows::Finish() {
  std::uint32_t first = 0;
  for (Key& k : keys_) {
    k.first = first;
    first += k.count;
    k.count = 0;
  }
  rows_.assign(first, 0);
  for (std::size_t i = 0; i < added_.size(); i += 2) {
    Key& k = keys_[added_[i + 1]];
    rows_[k.first + k.count++] = added_[i];
  }
  added_ = {};
}

std::span<const std::uint32_t> TKeyedRows::Find(std::string_view key) const {
  if (places_.empty()) return {};
  const std::uint32_t k = places_[PlaceOf(key, std::hash<std::string_view>{}(key))].key;
  if (k == 0) return {};
  const Key& found = keys_[k - 1];
  return {rows_.data() + found.first, found.count};
}

}  // namespace korvex
