#include "tables/engine/cache/clean_copies.h"

#include <algorithm>
#include <cstring>

namespace korvex {

void TCleanCopies::Configure(std::uint32_t entry_size, std::size_t budget) {
  size_ = entry_size;
  capacity_ = entry_size == 0 ? 0 : budget / entry_size;
  count_ = 0;
  bytes_.reset();
  keys_ = {};
  used_ = {};
  free_ = {};
  places_ = {};
  hand_ = 0;
  highest_ = 0;
}

std::size_t TCleanCopies::Home(std::uint32_t key) const {
  // Fibonacci hashing: the product's high bits (keys may be multiples of a
  // page size, whose low bits are all 0).
  return static_cast<std::uint32_t>(key * 0x9E3779B1u) >> shift_;
}

std::size_t TCleanCopies::PlaceOf(std::uint32_t key) const {
  const std::size_t mask = places_.size() - 1;
  std::size_t at = Home(key);
  while (places_[at].key != 0 && places_[at].key != key) at = (at + 1) & mask;
  return at;
}

const std::uint8_t* TCleanCopies::Find(std::uint32_t key) {
  if (count_ == 0 || key == 0) return nullptr;
  const Place& p = places_[PlaceOf(key)];
  if (p.key == 0) return nullptr;
  used_[p.slot] = 1;
  return bytes_.get() + std::size_t{p.slot} * size_;
}

void TCleanCopies::Refresh(std::uint32_t key, const std::uint8_t* bytes) {
  if (count_ == 0 || key == 0) return;
  const Place& p = places_[PlaceOf(key)];
  if (p.key != 0) std::memcpy(bytes_.get() + std::size_t{p.slot} * size_, bytes, size_);
}

void TCleanCopies::Remove(std::size_t at) {
  // Backward shift: later members of the probe run move into the hole.
  const std::size_t mask = places_.size() - 1;
  std::size_t hole = at;
  for (std::size_t next = (hole + 1) & mask; places_[next].key != 0; next = (next + 1) & mask) {
    const std::size_t home = Home(places_[next].key);
    if (((next - home) & mask) >= ((next - hole) & mask)) {
      places_[hole] = places_[next];
      hole = next;
    }
  }
  places_[hole] = Place{};
  --count_;
}

void TCleanCopies::Store(std::uint32_t key, const std::uint8_t* bytes, bool used) {
  if (capacity_ == 0 || key == 0) return;
  // The places grow with the copies (at most half of them taken), so a
  // small table's copies cost little.
  if (places_.empty() || 2 * (count_ + 1) > places_.size()) Grow();
  std::size_t at = PlaceOf(key);
  std::uint32_t slot = 0;
  if (places_[at].key == key) {
    slot = places_[at].slot;
  } else {
    if (!free_.empty()) {
      slot = free_.back();
      free_.pop_back();
    } else if (keys_.size() < capacity_) {
      // Allocated whole at once and left unfilled, so growing never copies
      // (and briefly doubles) what is held: the system gives the memory
      // as slots are first written.
      if (!bytes_) bytes_.reset(new std::uint8_t[capacity_ * std::size_t{size_}]);
      slot = static_cast<std::uint32_t>(keys_.size());
      keys_.push_back(0);
      used_.push_back(0);
    } else {
      // Every slot taken: the clock hand passes used slots once.
      while (used_[hand_]) {
        used_[hand_] = 0;
        hand_ = (hand_ + 1) % keys_.size();
      }
      slot = static_cast<std::uint32_t>(hand_);
      hand_ = (hand_ + 1) % keys_.size();
      Remove(PlaceOf(keys_[slot]));
      at = PlaceOf(key);
    }
    keys_[slot] = key;
    places_[at] = {key, slot};
    ++count_;
    highest_ = std::max(highest_, key);
  }
  used_[slot] = used ? 1 : 0;
  std::memcpy(bytes_.get() + std::size_t{slot} * size_, bytes, size_);
}

void TCleanCopies::Grow() {
  std::vector<Place> old = std::move(places_);
  const std::size_t n = old.empty() ? 64 : old.size() * 2;
  places_.assign(n, Place{});
  shift_ = 32;
  for (std::size_t m = n; m > 1; m /= 2) --shift_;
  for (const Place& p : old)
    if (p.key != 0) places_[PlaceOf(p.key)] = p;
}

void TCleanCopies::Erase(std::uint32_t key) {
  if (count_ == 0 || key == 0 || key > highest_) return;
  const std::size_t at = PlaceOf(key);
  if (places_[at].key == 0) return;
  const std::uint32_t slot = places_[at].slot;
  keys_[slot] = 0;
  used_[slot] = 0;
  free_.push_back(slot);
  Remove(at);
}

void TCleanCopies::Clear() {
  if (count_ == 0) return;
  for (Place& p : places_) p = Place{};
  free_.clear();
  for (std::size_t s = keys_.size(); s-- > 0;) {
    keys_[s] = 0;
    used_[s] = 0;
    free_.push_back(static_cast<std::uint32_t>(s));
  }
  count_ = 0;
  highest_ = 0;
  // The slots fill again from the first: the hand starts there too, so
  // the oldest copies go first.
  hand_ = 0;
}

}  // namespace korvex
