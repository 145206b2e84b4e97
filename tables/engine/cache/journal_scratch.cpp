// The journal's scratch buffers and the spare set each thread keeps of them.
#include <algorithm>
#include <cstring>

#include "tables/engine/cache/journal.h"

namespace korvex {
namespace {

// Spare scratch buffers of this thread (a flush uses three), and the
// largest kept: twice a batch, so that a thread keeps 48 MB at most.
constexpr std::size_t kSpareBuffers = 3;
constexpr std::size_t kSpareBytes = std::size_t{16} << 20;

// This thread's spares; none once they are destroyed at the thread's end
// (a table closed later, by a static owner, frees its buffers itself).
thread_local bool spares_gone = false;
struct TSpares {
  std::vector<TJournalScratch> list;
  ~TSpares() { spares_gone = true; }
};
std::vector<TJournalScratch>* Spares() {
  if (spares_gone) return nullptr;
  thread_local TSpares spares;
  return &spares.list;
}

}  // namespace

void TJournalScratch::reserve(std::size_t n, bool exact) {
  if (n <= capacity_) return;
  const std::size_t capacity = exact ? n : std::max(n, capacity_ + capacity_ / 2);
  std::unique_ptr<std::uint8_t[]> bigger(new std::uint8_t[capacity]);
  if (size_ > 0) std::memcpy(bigger.get(), data_.get(), size_);
  data_ = std::move(bigger);
  capacity_ = capacity;
}

std::uint8_t* TJournalScratch::grow(std::size_t n) {
  reserve(size_ + n, false);
  std::uint8_t* at = data_.get() + size_;
  size_ += n;
  return at;
}

void TJournalScratch::append(const void* bytes, std::size_t n) {
  if (n > 0) std::memcpy(grow(n), bytes, n);
}

TJournalScratch TJournal::TakeScratch(std::size_t wanted) {
  std::vector<TJournalScratch>* spares = Spares();
  if (spares == nullptr || spares->empty()) return {};
  // The smallest spare that holds `wanted` bytes, else the largest (it
  // grows the least).
  auto better = [wanted](const TJournalScratch& a, const TJournalScratch& b) {
    const bool a_fits = a.capacity() >= wanted, b_fits = b.capacity() >= wanted;
    if (a_fits != b_fits) return a_fits;
    return a_fits ? a.capacity() < b.capacity() : a.capacity() > b.capacity();
  };
  auto best = spares->begin();
  for (auto it = spares->begin(); it != spares->end(); ++it)
    if (better(*it, *best)) best = it;
  TJournalScratch taken = std::move(*best);
  spares->erase(best);
  taken.clear();
  return taken;
}

void TJournal::GiveScratch(TJournalScratch& scratch) {
  std::vector<TJournalScratch>* spares = scratch.capacity() > 0 ? Spares() : nullptr;
  if (spares != nullptr && scratch.capacity() <= kSpareBytes) {
    if (spares->size() < kSpareBuffers) {
      spares->push_back(std::move(scratch));
    } else {
      auto smallest = std::min_element(spares->begin(), spares->end(), [](const TJournalScratch& a, const TJournalScratch& b) {
        return a.capacity() < b.capacity();
      });
      if (smallest->capacity() < scratch.capacity()) std::swap(*smallest, scratch);
    }
  }
  scratch = TJournalScratch();
}

void TJournal::Refit(TJournalScratch& scratch, std::size_t bytes) {
  if (scratch.capacity() < bytes) {
    GiveScratch(scratch);
    scratch = TakeScratch(bytes);
  }
  scratch.clear();
  scratch.reserve(bytes, true);
}

void TJournal::GiveBuffers() {
  GiveScratch(held_data_);
  GiveScratch(batch_);
  GiveScratch(spans_);
}

}  // namespace korvex
