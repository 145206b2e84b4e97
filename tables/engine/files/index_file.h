// TIndexFile: a table's index file (".IDX"): the definitions of its
// indexes, a page cache per index, a chain of free pages per index, and
// growth at the end a page at a time. The trees themselves: index_tree.h.
//
// Header (the first 4096 bytes, little-endian):
//      0    4 update stamp, incremented before every header write
//      4    4 reserved, 0
//      8    1 version: 4
//      9    4 file size: 4096 with no pages, 4096 more per page
//     13    1 number of secondary indexes, 0..30
//     14 3840 32 index definitions of 120 bytes: slot 0 the primary index,
//             1..30 the secondary indexes, 31 the system index
//             "Sys Deleted" (key size 5, no fields, no compression)
//   3854  120 reserved, 0
//   3974    4 live records of the table
//   3978    1 1: the table has no primary index (slot 0 is then clear)
//   3979    1 header-changed mark (as it was when written)
//   3980  116 reserved, 0
// Index definition (120 bytes):
//      0   31 name: length byte and up to 30 characters ("" for slot 0)
//     31    2 key size (index_key.h)
//     33    5 descending, case-insensitive, unique, compression (0..3),
//             number of key fields (0..16)
//     38   16 descending flag per key field
//     54   32 16 field numbers (1-based; 0 after the last)
//     86    4 root page (0: no pages)
//     90    4 first free page of this index (0: none)
//     95    1 removal mark (used while repairing)
// Pages (index_page.h) follow at 4096, 8192, ...; pages of all indexes
// interleave. A link to a page is valid only when 4096 <= p < file size and
// p mod 4096 = 0; only GetNextFreePage takes the page at the file size.
//
// Encrypted tables pass the header and every page through the buffer cipher
// with kIndexBlobKeys.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include "tables/engine/cache/clean_copies.h"
#include "tables/engine/cache/entry_cache.h"
#include "tables/engine/cache/entry_pool.h"
#include "tables/engine/cache/spill_file.h"
#include "tables/engine/cache/stamp_view.h"
#include "tables/engine/cache/table_host.h"
#include "tables/engine/errors/errors.h"
#include "tables/engine/files/field_definition.h"
#include "tables/engine/files/index_definition.h"
#include "tables/engine/files/index_page.h"
#include "tables/lib/file_handler.h"

namespace korvex {

class TWriteUndo;

inline constexpr int kIndexSlots = 32;
inline constexpr std::uint8_t kSystemSlot = 31;
inline constexpr std::uint8_t kMaxSecondaryIndexes = 30;
inline constexpr std::uint32_t kIndexHeaderSize = 4096;
inline constexpr std::size_t kPageCacheSize = 1024;
inline constexpr std::size_t kPageCacheGrowth = 64;
// A list that a descent by key finds full grows by kPageCacheGrowth instead
// of giving up a page (outside held writes), up to kDescentPageCacheSize
// pages, the file's lists gaining kDescentPageGrowth places at most
// together: lookups at random keys keep the leaves they read, as a page
// cache would, while a walk along a level, which passes each leaf once,
// never grows a list.
inline constexpr std::size_t kDescentPageCacheSize = 4096;
inline constexpr std::size_t kDescentPageGrowth = 4096;
// Bytes of pages kept as read once the page caches let them go.
inline constexpr std::size_t kCleanPageBudget = std::size_t{8} << 20;
// Pages the lists of a table writing alone (exclusive, no transaction)
// hold together between its writes: past them the table flushes
// (data_table.h).
inline constexpr std::size_t kHeldPageBudget = 4096;

inline constexpr char kSystemIndexName[] = "Sys Deleted";

struct TIndexFileStatistics {
  std::uint32_t Requests = 0;
  std::uint32_t Reads = 0;
  std::uint32_t Writes = 0;
};

class TIndexFile : public TFileHandler {
public:
  TIndexFile(TTableHost* host, bool encrypted = false);
  ~TIndexFile() override;

  // The data file's fields: key sizes, BLOB fields and checks.
  void SetFields(const std::vector<TFieldDefinition>* fields) { fields_ = fields; }
  void SetEncrypted(bool encrypted) { encrypted_ = encrypted; }

  void CreateFile() override;
  // 8961 when the header names more than 30 secondary indexes.
  void OpenFile() override;
  // The same for a repair: such a count is taken as 30 and RepairHeader
  // reports it.
  void OpenForRepair();
  void CloseFile() override;

  void ReadHeader();
  void WriteHeader(bool force, bool flush_to_disk);
  void UpdateHeaderStamp();
  bool CheckForChanges();
  // Whether the stamp on disk differs, the header left alone.
  bool StampChanged();
  void ClearHeader();
  // 12035 for another version, 8961 for a definition, size or page pointer
  // the trees cannot use: each names the index file, not the table.
  void CheckHeader();
  void RepairHeader(void* cursor, bool fix);
  std::uint8_t GetVersion() const { return version_; }
  // Whether slot 31 holds the system index, as every index header of the
  // engine does: one deciphered with the wrong key (a plain table's file
  // beside an encrypted table, or the reverse) holds bytes of no meaning.
  bool HoldsSystemIndex() const;
  // Every definition gone but the system index's (no primary index, no
  // secondary ones), as in a new file.
  void ForgetDefinitions();

  // Header values.
  std::uint8_t GetIndexCount() const { return count_; }
  // Moves on with every change of the index definitions.
  std::uint64_t SlotEdits() const { return slot_edits_; }
  void SetIndexCount(std::uint8_t count);
  std::uint32_t GetFileSize() const { return file_size_; }
  void SetFileSize(std::uint32_t size);
  bool GetNoPrimaryIndex() const { return no_primary_ != 0; }
  void SetNoPrimaryIndex(bool value);
  std::uint32_t GetActualRecordCount() const { return records_; }
  void SetActualRecordCount(std::uint32_t count);
  void IncActualRecordCount() { SetActualRecordCount(records_ + 1); }
  void DecActualRecordCount() { SetActualRecordCount(records_ - 1); }
  std::uint32_t GetLastUpdateStamp() const { return stamp_; }
  std::uint32_t GetRootPtr(std::uint8_t slot) const { return Slots()[slot].Root; }
  void SetRootPtr(std::uint8_t slot, std::uint32_t page);
  // The first free page, or the file size when the chain is empty.
  std::uint32_t GetNextFreePagePtr(std::uint8_t slot) const;
  void SetNextFreePagePtr(std::uint8_t slot, std::uint32_t page);
  const TIndexDefinition& GetIndexDefinition(std::uint8_t slot) const { return Slots()[slot]; }
  std::string GetTableName() const { return host_->TableName(); }
  bool HeaderChanged() const { return changed_; }
  bool IsPageOffset(std::uint32_t offset) const;

  // Definitions.
  void SetIndexDefinition(std::uint8_t slot, const TIndexDefinition& definition);
  void UpdateIndexDefinition(std::uint8_t slot, const TIndexDefinition& definition);
  void ClearIndexDefinition(std::uint8_t slot);
  void AddPrimaryIndex(const TIndexDefinition& definition);
  void AddSecondaryIndex(const TIndexDefinition& definition);
  // Slot 0: no primary index from now on. A secondary slot with `remove`:
  // the slots above move down and the removed definition, with its root and
  // free chain, goes just past the new last one (its pages are the
  // caller's to free first).
  void DeleteIndex(std::uint8_t slot, bool remove);

  // A cached page of the index in `slot`, in use until PutPage. False (no
  // page) when change detection found changes: the caller starts again.
  // 8965 for an offset that is not a page of the file. `descent`: asked by
  // a descent by key, whose read may grow a full list (kDescentPageCacheSize).
  bool GetPage(void* cursor, std::uint8_t slot, std::uint32_t offset, TPage*& page, bool header_only = false,
               bool descent = false);
  void PutPage(TPage* page) {
    if (page) page->DecUseCount();
  }
  // The head of the index's free chain, or a new page at the end (9479 when
  // the file would pass 2,000,000,000 bytes), emptied and in use.
  bool GetNextFreePage(void* cursor, std::uint8_t slot, TPage*& page);
  // Puts a page at the head of its index's free chain.
  void SetNextFreePage(TPage* page);

  // The pages of the spill file (below) go first, then the caches'.
  bool FlushPageBuffers(bool flush_to_disk);
  // Inside a transaction, once the caches hold more than TSpillFile::Pages()
  // pages, the changed ones wholly past the file's end (new pages, mostly)
  // go to the spill file (spill_file.h) and every list keeps its more
  // recently used half; a page past that end the caches lack is read from
  // the spill file, and the flush copies it in before the caches' pages.
  // Call between writes (no write's undo open).
  void SpillPages();
  // The flush that copied the spill file in is over (committed): it goes.
  // DropSpill forgets it with the changes (FreePageBuffers does too).
  void EndSpill() { DropSpill(); }
  void DropSpill();
  // Bytes written to the spill file so far, for tests.
  std::uint64_t SpilledBytes() const { return spill_.Written(); }
  // A write's before-images (write_undo.h): the caches note their first
  // touches in `undo` (nullptr: no more); the header's image;
  // the modified entries a flush is about to write.
  void AttachUndo(TWriteUndo* undo);
  // Saves the header in `undo`, to be put back by its Restore.
  void SaveHeader(TWriteUndo& undo);
  void NoteDirty(TWriteUndo& undo);
  // The offsets of the pages that `undo`'s write found clean (or read) and
  // left modified, added to `out`; the undo must be detached.
  void NewlyModifiedPages(const TWriteUndo& undo, std::vector<std::uint32_t>& out);
  // The bytes the file holds at page `offset`, where one of the last pages
  // read while writes were held was read there and nothing was written
  // since (nullptr otherwise): the old bytes a journal needs of a page
  // changed for the first time, without reading them again.
  const std::uint8_t* RecentlyRead(std::uint32_t offset) const;
  void FreePageBuffers(bool system_slot = true);
  // The clean copies of pages, which a flush that fails must not keep (its
  // written pages are copied as the file would hold them).
  void DropCleanCopies();
  void AdjustPageBuffers(bool system_slot = true);

  const TIndexFileStatistics& Statistics() const { return stats_; }
  std::size_t CachedPages(std::uint8_t slot) const { return caches_[slot].Count(); }
  // Whether the lists hold more than kHeldPageBudget pages together.
  bool HoldsPastBudget() const;
  std::size_t CopiedPages() const { return copies_.Count(); }
  std::size_t CacheCapacity(std::uint8_t slot) const { return caches_[slot].Capacity(); }
  // The places the list keeps outside held writes: kPageCacheSize and what
  // descents added.
  std::size_t CacheBase(std::uint8_t slot) const { return base_[slot]; }
  [[noreturn]] void Fail(TEngineErrorCode code, const std::string& index = {}) const;
  // A fault of this file (its header, its size): the error names the file.
  [[noreturn]] void FailHeader(TEngineErrorCode code) const;

private:
  struct THeaderSave;  // file_undo.cpp
  void Changed() { changed_ = true; }
  void ReadImage(std::uint8_t* bytes, std::uint32_t count);
  void DecodeHeader(const std::uint8_t* bytes);
  void FreeSlotPages(std::uint8_t slot);
  // Keeps the slot's base number of pages of lowest offset and those in use or modified; pages
  // beyond the pool's spares go to `freed`.
  void AdjustSlot(std::uint8_t slot, std::vector<std::unique_ptr<TPage>>& freed);
  // Frees the pages on a thread of their own (a commit of many changes
  // lets go of thousands), after the pages freed before.
  void FreeInBackground(std::vector<std::unique_ptr<TPage>> pages);
  void JoinFreeing();
  TPage* GetNewPageBuffer(std::uint8_t slot, std::uint32_t offset, bool descent = false);
  void ReadPage(std::uint8_t slot, std::uint32_t offset, TPage* page, bool header_only);
  // Slots whose caches hold pages: 0..count and 31.
  template <class F>
  void ForEachSlot(bool system_slot, const F& f);
  // Index definition checks shared by AddPrimaryIndex and AddSecondaryIndex.
  void CheckKeyFields(const TIndexDefinition& definition, const std::string& index) const;

  TTableHost* host_;
  std::string table_name_;
  bool encrypted_;
  const std::vector<TFieldDefinition>* fields_ = nullptr;
  std::uint32_t stamp_ = 0;
  std::uint8_t version_ = 4;
  std::uint32_t file_size_ = kIndexHeaderSize;
  std::uint8_t count_ = 0;
  // The index slots: read through Slots(), changed only through
  // EditSlots(), which counts the changes.
  const std::array<TIndexDefinition, kIndexSlots>& Slots() const { return slot_defs_; }
  std::array<TIndexDefinition, kIndexSlots>& EditSlots() {
    ++slot_edits_;
    return slot_defs_;
  }
  std::array<TIndexDefinition, kIndexSlots> slot_defs_;
  std::uint64_t slot_edits_ = 0;
  // The slots as the last header image took them, shared by the images
  // while no change is counted.
  std::shared_ptr<const std::array<TIndexDefinition, kIndexSlots>> slots_image_;
  std::uint64_t slots_image_edits_ = 0;
  std::uint32_t records_ = 0;
  std::uint8_t no_primary_ = 0;
  bool changed_ = false;
  bool repair_open_ = false;
  std::uint8_t stored_count_ = 0;  // the count as read, before a repair open capped it
  TStampView stamp_view_;  // the header stamp, peeked at
  std::array<TEntryCache, kIndexSlots> caches_;
  // Each list's places outside held writes, and the places descents added
  // to them all (at most kDescentPageGrowth).
  std::array<std::size_t, kIndexSlots> base_;
  std::size_t descent_places_ = 0;
  TWriteUndo* undo_ = nullptr;  // the caches' (AttachUndo)
  // Pages the caches let go, as the file holds them (keyed by offset).
  TCleanCopies copies_;
  // The last pages read while writes were held, as the file held them (a
  // ring; a foreign change or failed flush forgets them with the copies).
  struct TRecentRead {
    std::uint32_t offset = 0;  // 0: none
    std::uint64_t writes = 0;  // the file's write calls then
  };
  static constexpr std::size_t kRecentReads = 32;
  std::array<TRecentRead, kRecentReads> recent_{};
  std::unique_ptr<std::uint8_t[]> recent_bytes_;
  std::size_t recent_next_ = 0;
  void ForgetRecentReads() { recent_.fill({}); }
  TEntryPool<TPage> pool_{1023};
  std::future<void> freeing_;  // FreeInBackground's
  TIndexFileStatistics stats_;
  // Pages from offset spill_first_ on (the file's end when it was made; 0:
  // none) in the running transaction's spill file.
  TSpillFile spill_;
  std::uint32_t spill_first_ = 0;
  // The caches' count at which SpillPages looks again.
  std::size_t spill_trigger_ = 0;
  // Writes the changed pages past the spill's start to the spill file.
  void WriteToSpill();
};

}  // namespace korvex
