// The table engine's counted allocator.
//
// Every buffer and object of the engine is allocated here, so that the
// engine can report how many bytes it holds. Blocks are zero-filled, grown
// bytes of a reallocated block read as zero, and heap exhaustion raises
// engine error 11016.
#pragma once

#include <cstddef>
#include <cstdint>

namespace korvex {

// A zero-filled block of `size` bytes (a valid block also for 0 or less).
void* SafeAlloc(std::int32_t size);

// Resizes a block (nullptr allocates); bytes beyond the old size read as zero.
void* SafeReAlloc(void* block, std::int32_t size);

// Releases the block and clears the pointer; nothing for nullptr.
void SafeFree(void*& block);

template <typename T>
void SafeFree(T*& block) {
  void* raw = const_cast<void*>(static_cast<const void*>(block));
  SafeFree(raw);
  block = nullptr;
}

// Grows `buffer` to `needed` rounded up to a multiple of `increment` when it
// is smaller (never shrinks); a `needed` below 1 releases it.
void ResizeBuffer(std::int32_t needed, std::int32_t increment, void*& buffer, std::int32_t& size);

template <typename T>
void ResizeBuffer(std::int32_t needed, std::int32_t increment, T*& buffer, std::int32_t& size) {
  void* raw = buffer;
  ResizeBuffer(needed, increment, raw, size);
  buffer = static_cast<T*>(raw);
}

// The memory total: bytes held by the engine, as the heap reports them.
void LockMemoryAllocationTotal();
void UnlockMemoryAllocationTotal();
void IncTotalMemoryAllocated(std::int64_t bytes);
void DecTotalMemoryAllocated(std::int64_t bytes);
std::int64_t GetTotalMemoryAllocated();

// Reallocations and releases since the heap was last trimmed; every
// kCompactInterval-th one gives freed memory back to the system.
inline constexpr int kCompactInterval = 1020;
int GetReleaseCounter();
void ResetReleaseCounter();

// Base of the engine's classes: their instances come from the counted
// allocator (zero-filled).
class TCountedObject {
public:
  virtual ~TCountedObject() = default;
  static void* operator new(std::size_t size);
  static void operator delete(void* block);
};

}  // namespace korvex
