#include "tables/lib/allocator.h"

#include <malloc.h>

#include <atomic>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "tables/engine/errors/errors.h"

namespace korvex {
namespace {

struct MemoryTotal {
  std::recursive_mutex lock;
  std::int64_t bytes = 0;
};

MemoryTotal& Total() {
  static MemoryTotal total;
  return total;
}

// Not guarded: a lost increment only delays a trim.
std::atomic<int> release_counter{0};

void CountRelease() {
  if (++release_counter >= kCompactInterval) {
    release_counter = 0;
    malloc_trim(0);
  }
}

std::size_t BlockSize(void* block) { return block ? malloc_usable_size(block) : 0; }

std::size_t Requested(std::int32_t size) { return size > 0 ? static_cast<std::size_t>(size) : 1; }

}  // namespace

// Invariant kept for every block: the bytes between the requested size and
// the heap's usable size are zero, so a later grow exposes only zeros.
void* SafeAlloc(std::int32_t size) {
  void* block = std::malloc(Requested(size));
  if (!block) {
    if (size >= 1) RaiseError(err::kOutOfMemory);
    return nullptr;
  }
  std::size_t usable = BlockSize(block);
  std::memset(block, 0, usable);
  IncTotalMemoryAllocated(static_cast<std::int64_t>(usable));
  return block;
}

void* SafeReAlloc(void* block, std::int32_t size) {
  if (!block) return SafeAlloc(size);
  std::size_t old_usable = BlockSize(block);
  void* grown = std::realloc(block, Requested(size));
  if (!grown) {
    // The old block is still valid and still counted.
    if (size >= 1) RaiseError(err::kOutOfMemory);
    return nullptr;
  }
  std::size_t usable = BlockSize(grown);
  std::size_t keep = Requested(size);
  char* bytes = static_cast<char*>(grown);
  if (keep < old_usable) {  // shrunk: clear the slack it keeps
    if (keep < usable) std::memset(bytes + keep, 0, usable - keep);
  } else if (usable > old_usable) {
    std::memset(bytes + old_usable, 0, usable - old_usable);
  }
  LockMemoryAllocationTotal();
  DecTotalMemoryAllocated(static_cast<std::int64_t>(old_usable));
  IncTotalMemoryAllocated(static_cast<std::int64_t>(usable));
  UnlockMemoryAllocationTotal();
  CountRelease();
  return grown;
}

void SafeFree(void*& block) {
  if (!block) return;
  DecTotalMemoryAllocated(static_cast<std::int64_t>(BlockSize(block)));
  std::free(block);
  block = nullptr;
  CountRelease();
}

void ResizeBuffer(std::int32_t needed, std::int32_t increment, void*& buffer, std::int32_t& size) {
  if (needed >= 1) {
    std::int64_t step = increment > 0 ? increment : 1;
    std::int64_t target = (needed % step == 0) ? needed : (needed / step) * step + step;
    if (target > INT32_MAX) RaiseError(err::kOutOfMemory);
    if (target > size) {
      buffer = size == 0 || !buffer ? SafeAlloc(static_cast<std::int32_t>(target))
                                    : SafeReAlloc(buffer, static_cast<std::int32_t>(target));
      size = static_cast<std::int32_t>(target);
    }
  } else if (size > 0) {
    SafeFree(buffer);
    size = 0;
  }
}

void LockMemoryAllocationTotal() { Total().lock.lock(); }
void UnlockMemoryAllocationTotal() { Total().lock.unlock(); }

void IncTotalMemoryAllocated(std::int64_t bytes) {
  std::lock_guard<std::recursive_mutex> guard(Total().lock);
  Total().bytes += bytes;
}

void DecTotalMemoryAllocated(std::int64_t bytes) {
  std::lock_guard<std::recursive_mutex> guard(Total().lock);
  Total().bytes -= bytes;
}

std::int64_t GetTotalMemoryAllocated() {
  std::lock_guard<std::recursive_mutex> guard(Total().lock);
  return Total().bytes;
}

int GetReleaseCounter() { return release_counter; }
void ResetReleaseCounter() { release_counter = 0; }

void* TCountedObject::operator new(std::size_t size) {
  if (size > static_cast<std::size_t>(INT32_MAX)) RaiseError(err::kOutOfMemory);
  return SafeAlloc(static_cast<std::int32_t>(size));
}

void TCountedObject::operator delete(void* block) { SafeFree(block); }

}  // namespace korvex
