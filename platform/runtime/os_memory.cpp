#include "platform/runtime/os_memory.h"

#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>

namespace rtl::os {

void* MapAlignedMemory(std::size_t length, std::size_t align) {
  const std::size_t mapped = length + align;
  void* p = ::mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) return nullptr;
  // Align and give back the slack at both ends.
  const auto start = reinterpret_cast<std::uintptr_t>(p);
  const std::uintptr_t aligned = (start + align - 1) / align * align;
  if (aligned > start) ::munmap(p, aligned - start);
  const std::uintptr_t end = aligned + length;
  const std::uintptr_t map_end = start + mapped;
  if (map_end > end) ::munmap(reinterpret_cast<void*>(end), map_end - end);
#ifdef MADV_HUGEPAGE
  ::madvise(reinterpret_cast<void*>(aligned), length, MADV_HUGEPAGE);
#endif
  return reinterpret_cast<void*>(aligned);
}

void UnmapMemory(void* block, std::size_t length) { ::munmap(block, length); }

void PrefaultMemory(void* block, std::size_t length) {
#ifdef MADV_POPULATE_WRITE
  static const auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
  const auto start = reinterpret_cast<std::uintptr_t>(block);
  const std::uintptr_t first = (start + page - 1) / page * page;
  const std::uintptr_t end = (start + length) / page * page;
  // Systems without it answer EINVAL: the pages then come in as written.
  if (end > first) ::madvise(reinterpret_cast<void*>(first), end - first, MADV_POPULATE_WRITE);
#else
  (void)block;
  (void)length;
#endif
}

void CutAtMultiples(void* block, std::size_t length, std::size_t piece, std::vector<MemoryPiece>& pieces) {
  char* at = static_cast<char*>(block);
  std::size_t left = length;
  while (left > 0) {
    const auto address = reinterpret_cast<std::uintptr_t>(at);
    const std::size_t to_next = piece - (address & (piece - 1));
    const std::size_t take = std::min(left, to_next);
    pieces.push_back({at, take});
    at += take;
    left -= take;
  }
}

void CoalesceFreedMemoryAtOnce() {
#ifdef M_MXFAST
  ::mallopt(M_MXFAST, 0);  // no fast bins: a freed block joins its neighbours now
#endif
}

void GrowHeapsInLargeSteps() {
#ifdef M_TOP_PAD
  ::mallopt(M_TOP_PAD, 32 << 20);
#endif
}

void BackHeapTopWithHugePages() {
#if defined(MADV_HUGEPAGE) && defined(__GLIBC__)
  constexpr std::uintptr_t kHuge = std::uintptr_t{2} << 20;
  // A block too large for the free lists' usual sizes comes from the top,
  // which ends at the break: what follows it is the room not handed out.
  // On a thread with a heap of its own the block lies elsewhere, and
  // nothing is asked.
  constexpr std::size_t kProbe = std::size_t{64} << 10;
  void* probe = std::malloc(kProbe);
  if (probe == nullptr) return;
  const auto after = reinterpret_cast<std::uintptr_t>(probe) + kProbe;
  std::free(probe);
  const auto brk = reinterpret_cast<std::uintptr_t>(::sbrk(0));
  if (brk == static_cast<std::uintptr_t>(-1) || after > brk || brk - after > (std::uintptr_t{1} << 32)) return;
  const std::uintptr_t first = (after + kHuge - 1) / kHuge * kHuge, end = brk / kHuge * kHuge;
  if (end > first) ::madvise(reinterpret_cast<void*>(first), end - first, MADV_HUGEPAGE);
#endif
}

void BackThreadHeapWithHugePages() {
#if defined(MADV_HUGEPAGE) && defined(__GLIBC__)
  // The C library maps a thread's heap as one room of this size, aligned
  // to it, and hands it out from its start.
  constexpr std::uintptr_t kHeapRoom = std::uintptr_t{2} * 4 * 1024 * 1024 * sizeof(long);
  void* probe = std::malloc(64);
  if (probe == nullptr) return;
  const auto at = reinterpret_cast<std::uintptr_t>(probe);
  std::free(probe);
  // A block below the break lies in the break's heap.
  const auto brk = reinterpret_cast<std::uintptr_t>(::sbrk(0));
  if (brk != static_cast<std::uintptr_t>(-1) && at < brk && brk - at < (std::uintptr_t{1} << 32)) return;
  // A hint alone: where the room is not the heap's, nothing changes.
  ::madvise(reinterpret_cast<void*>(at & ~(kHeapRoom - 1)), kHeapRoom, MADV_HUGEPAGE);
#endif
}

void ReturnFreedMemory() { ::malloc_trim(0); }

}  // namespace rtl::os
