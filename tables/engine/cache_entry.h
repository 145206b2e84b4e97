// One cached item of a table file (a record or a BLOB block) as the file's
// cache sees it: its key, whether it differs from the file, how many callers
// hold it, and its links in the most-recently-used chain.
#pragma once

#include <cstdint>

namespace korvex {

struct TCacheEntry {
  std::uint32_t Key = 0;  // record number or block offset
  bool Modified = false;
  std::uint16_t UseCount = 0;  // entries in use are never evicted or written
  TCacheEntry* Older = nullptr;
  TCacheEntry* Newer = nullptr;

  virtual ~TCacheEntry() = default;
  void IncUseCount() { ++UseCount; }
  void DecUseCount() {
    if (UseCount > 0) --UseCount;
  }
  void ClearUseCount() { UseCount = 0; }
  bool Evictable() const { return !Modified && UseCount == 0; }
};

}  // namespace korvex
