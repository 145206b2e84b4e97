#include "app/core/word_verdicts.h"

#include <algorithm>
#include <cstring>

namespace appcore {
namespace {

// Words are short: a plain loop beats a call to memcmp.
bool Same(const char* stored, std::string_view word) {
  for (size_t i = 0; i < word.size(); ++i)
    if (stored[i] != word[i]) return false;
  return true;
}

}  // namespace

// The table is made at the first word asked: a search makes one per file
// searched, and an exact search asks none.
WordVerdicts::WordVerdicts(Compute compute) : compute_(std::move(compute)) {}

uint8_t& WordVerdicts::Get(std::string_view word, uint64_t hash) {
  if (__builtin_expect(slots_.empty(), 0)) slots_.resize(kFirstSlots);
  const size_t mask = slots_.size() - 1;
  for (size_t i = hash & mask;; i = (i + 1) & mask) {
    Slot& slot = slots_[i];
    if (slot.length == 0) {
      if ((used_ + 1) * 4 > slots_.size() * 3) {
        Grow();
        return Get(word, hash);
      }
      slot.hash = hash;
      slot.offset = static_cast<uint32_t>(words_.size());
      slot.length = static_cast<uint32_t>(word.size());
      words_.append(word);
      slot.verdict = compute_(word);
      ++used_;
      return slot.verdict;
    }
    if (slot.hash == hash && slot.length == word.size() && Same(words_.data() + slot.offset, word))
      return slot.verdict;
  }
}

void WordVerdicts::Grow() {
  std::vector<Slot> old(std::max(slots_.size() * 2, kFirstSlots));
  old.swap(slots_);
  const size_t mask = slots_.size() - 1;
  for (const Slot& slot : old) {
    if (slot.length == 0) continue;
    size_t i = slot.hash & mask;
    while (slots_[i].length != 0) i = (i + 1) & mask;
    slots_[i] = slot;
  }
}

}  // namespace appcore
