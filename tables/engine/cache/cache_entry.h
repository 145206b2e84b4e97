// One cached item of a table file (a record or a BLOB block) as the file's
// cache sees it: its key, whether it differs from the file, how many callers
// hold it, and its links in the most-recently-used chain.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

namespace korvex {

struct TCacheEntry {
  std::uint32_t Key = 0;  // record number or block offset
  bool Modified = false;
  std::uint16_t UseCount = 0;  // entries in use are never evicted or written
  std::uint32_t UndoMark = 0;  // the write (TWriteUndo) that last noted it
  std::uint32_t SweepMark = 0;  // the cache's period in which it was last handed out
  TCacheEntry* Older = nullptr;
  TCacheEntry* Newer = nullptr;

  virtual ~TCacheEntry() = default;
  void IncUseCount() { ++UseCount; }
  void DecUseCount() {
    if (UseCount > 0) --UseCount;
  }
  void ClearUseCount() { UseCount = 0; }
  bool Evictable() const { return !Modified && UseCount == 0; }

  // A detached copy of the entry (a before-image), and putting one back:
  // content and modified flag from the image, key, links and use count
  // kept. Each kind of entry overrides both through CopyEntry/AssignEntry.
  virtual std::unique_ptr<TCacheEntry> Clone() const { return std::make_unique<TCacheEntry>(*this); }
  virtual void Assign(const TCacheEntry& image) { Modified = image.Modified; }
  // An entry that can keep its own before-image for one write, cheaper
  // than a copy because it notes only what the write changes, starts doing
  // so and answers true. `live` holds the write's mark for as long as the
  // write lasts (it moves on when the write ends). Recall puts the entry
  // back as Remember found it.
  virtual bool Remember(const std::shared_ptr<const std::uint32_t>& /*live*/) { return false; }
  virtual void Recall() {}

protected:
  template <class T>
  static std::unique_ptr<TCacheEntry> CopyEntry(const T& entry) {
    auto copy = std::make_unique<T>(entry);
    copy->Older = copy->Newer = nullptr;
    copy->UseCount = 0;
    return copy;
  }
  template <class T>
  static void AssignEntry(T& entry, const TCacheEntry& image) {
    const TCacheEntry place = entry;
    entry = static_cast<const T&>(image);
    entry.Key = place.Key;
    entry.UseCount = place.UseCount;
    entry.Older = place.Older;
    entry.Newer = place.Newer;
  }
};

// A nonzero mark no other caller in this process has had: entries move
// between caches and writes, so a mark left on one never passes as another's.
inline std::uint32_t NextUniqueMark() {
  static std::atomic<std::uint32_t> last{0};
  std::uint32_t mark;
  do mark = ++last;
  while (mark == 0);
  return mark;
}

}  // namespace korvex
