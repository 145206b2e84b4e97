// Large memory blocks straight from the operating system.
#pragma once

#include <cstddef>
#include <vector>

namespace rtl::os {

// `length` bytes of zeroed, private, read-write memory aligned to `align`
// (a power of two, at least a page), asked to be backed by huge pages;
// nullptr when the system refuses. Give it back with UnmapMemory.
void* MapAlignedMemory(std::size_t length, std::size_t align);
void UnmapMemory(void* block, std::size_t length);

// Makes the pages of [block, block + length) that are not yet in memory
// ready to be written, all in one call, where the system can (only whole
// pages inside the range; their contents are left as they are). Safe
// while another thread writes the same memory.
void PrefaultMemory(void* block, std::size_t length);

// [block, block + length) cut where its addresses are multiples of
// `piece` (a power of two), appended to `pieces` in order: threads that
// each make one piece ready (PrefaultMemory) share fewer of the system's
// page tables.
struct MemoryPiece {
  char* at;
  std::size_t length;
};
void CutAtMultiples(void* block, std::size_t length, std::size_t piece, std::vector<MemoryPiece>& pieces);

// Has the allocator merge small blocks as they are freed rather than all
// at once later: after millions of small strings are freed, the next large
// allocation would otherwise stop the caller for hundreds of milliseconds
// while the allocator sorts them out. For programs with a window to keep
// answering; call once at start.
void CoalesceFreedMemoryAtOnce();

// Has the allocator take memory from the system in steps of many
// megabytes: threads that fill their own heaps at once then seldom stop one
// another to change the process's memory map. Memory not yet written costs
// nothing; call once at start.
void GrowHeapsInLargeSteps();

// Asks for the room the heap has taken from the system and not yet handed
// out (its top, past every block in use) to be backed by huge pages, so
// that filling it costs one fault per 2 MiB instead of one per 4 KiB. The
// last huge page filled may hold up to 2 MiB not yet used: for a process
// about to fill many megabytes. Memory in use is left as it is. For the
// thread that started the process (whose heap grows at the break).
void BackHeapTopWithHugePages();
// The same for a thread whose C library heap is one of its own (a thread
// started later, given a heap apart from the break's): its whole room,
// mapped at once when the heap was made, is asked to be backed by huge
// pages as it fills. Nothing on the thread of the break's heap.
void BackThreadHeapWithHugePages();

// Gives the whole pages of memory the allocator holds free back to the
// system, so that what long work freed does not stay counted beside what
// comes next (a page filled after a search, say). Takes a few milliseconds.
void ReturnFreedMemory();

}  // namespace rtl::os
