// TBlobFile: a table's BLOB file (".BLB"): BLOB contents as chains of
// fixed-size blocks, a single chain of free blocks, growth at the end, a
// block cache with read-ahead, checks and repair.
//
// Header (the first 512 bytes, little-endian):
//    0  4 update stamp, incremented before every header write
//    4  4 reserved, 0
//    8  1 version: 4
//    9  4 offset of the first free block (0: none)
//   13  4 file size: 512 with no blocks, one block size more per block
//   17  1 header-changed mark (as it was when written)
//   18 494 reserved, 0
//
// Blocks: B bytes each (B the data file's BLOB block size, the whole 16-bit
// value, 0 meaning 512) at 512 + k*B, addressed by that offset:
//    0  4 previous block of the chain (0 for the first)
//    4  4 next block of the chain (0 for the last); in a free block the next
//         free block
//    8  2 data bytes used in this block
//   10  4 BLOB signature (every block of a chain carries the BLOB's)
//   14  4 the BLOB's length in its first block, 0 in the others
//   18 B-18 data; every block of a chain but the last is full
//
// A record keeps 9 bytes per BLOB field: null flag, i32 reference to the
// first block (0: no data), u32 signature. A reference or link is valid only
// when 512 <= r < file size and (r - 512) mod B = 0; only the allocator takes
// the block at the file size. Every chain walk is bounded by (file size -
// 512) / B steps and remembers the blocks it visited.
//
// Encrypted tables pass the header, and each block's 18-byte header and its
// data area separately, through the buffer cipher with kIndexBlobKeys.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "tables/engine/cache/cache_io.h"
#include "tables/engine/cache/entry_cache.h"
#include "tables/engine/cache/entry_pool.h"
#include "tables/engine/cache/stamp_view.h"
#include "tables/engine/cache/table_host.h"
#include "tables/engine/errors/errors.h"
#include "tables/engine/files/blob_block.h"
#include "tables/lib/file_handler.h"

namespace korvex {

class TWriteUndo;

inline constexpr std::uint32_t kBlobHeaderSize = 512;
inline constexpr std::uint32_t kMinBlobBlockSize = 64;
// Bytes of blocks a table writing alone (exclusive, no transaction) keeps
// cached between its writes: past them the table flushes (data_table.h).
inline constexpr std::size_t kHeldBlockBudget = std::size_t{4} << 20;

// The pool of spare blocks of one BLOB file.
using TBlockStack = TEntryPool<TBlock>;

struct TBlobFileStatistics {
  std::uint32_t Requests = 0;
  std::uint32_t ReadsBegun = 0;
  std::uint32_t ReadsDone = 0;
  std::uint32_t WriteRuns = 0;
};

class TBlobFile : public TFileHandler {
public:
  TBlobFile(TTableHost* host, bool encrypted = false);
  ~TBlobFile() override;

  // The table's BLOB block size (0 means 512); 9498 below 64.
  void SetBlockSize(std::uint32_t block_size);
  std::uint32_t BlockSize() const { return block_size_; }
  void SetEncrypted(bool encrypted) { encrypted_ = encrypted; }

  void CreateFile() override;
  void OpenFile() override;
  void CloseFile() override;

  void ReadHeader();
  void WriteHeader(bool force, bool flush_to_disk);
  void UpdateHeaderStamp();
  bool CheckForChanges();
  // Whether the stamp on disk differs, the header left alone.
  bool StampChanged();
  void ClearHeader();
  // 12035 for another version, 8961 for a size or free-chain head that is
  // not a block boundary: each names the BLOB file, not the table.
  void CheckHeader();
  std::uint8_t GetVersion() const { return version_; }
  // Cuts a partial block off the end (logged) and, when fixing, resets the
  // header: version 4, no free chain, the file's length.
  void RepairHeader(void* cursor, bool fix);

  std::uint32_t GetFileSize() const { return file_size_; }
  void SetFileSize(std::uint32_t size);
  // The head of the free chain, or the file size when it is empty.
  std::uint32_t GetNextFreeBlockPtr() const { return free_ == 0 ? file_size_ : free_; }
  void SetNextFreeBlockPtr(std::uint32_t offset);
  std::uint32_t FirstFreeBlock() const { return free_; }
  std::uint32_t GetLastUpdateStamp() const { return stamp_; }
  std::uint32_t GetBlockBufferSize() const { return block_size_ - kBlockHeaderSize; }
  std::string GetTableName() const { return host_->TableName(); }
  bool HeaderChanged() const { return changed_; }

  // Whether a reference or link names a block of the file.
  bool IsBlockOffset(std::uint32_t offset) const;
  // The most blocks a chain can have.
  std::uint32_t MaxChainLength() const;

  // False when change detection found changes (the caller restarts). The
  // block is in use until PutBlock.
  bool GetBlock(void* cursor, std::uint32_t offset, bool read_ahead, std::uint32_t count, TBlock*& block);
  void PutBlock(TBlock* block) { block->DecUseCount(); }
  // The head of the free chain (or a new block at the end), emptied.
  bool GetNextFreeBlock(void* cursor, TBlock*& block);
  void SetNextFreeBlock(TBlock* block);

  bool FlushBlockBuffers(bool flush_to_disk);
  void FreeBlockBuffers();
  // A write's before-images (write_undo.h): the caches note their first
  // touches in `undo` (nullptr: no more); the header's image;
  // the modified entries a flush is about to write.
  void AttachUndo(TWriteUndo* undo);
  // Saves the header in `undo`, to be put back by its Restore.
  void SaveHeader(TWriteUndo& undo);
  void NoteDirty(TWriteUndo& undo);
  void AdjustBlockBuffers();

  // Frees the chain of a BLOB and clears the reference (unless
  // verify_only). Outside repair a damaged chain raises 8963 before
  // anything changes; in repair each fault is one log line.
  bool FreeBlobBlocks(void* cursor, bool verify_only, std::uint32_t& reference, std::uint32_t record,
                      std::uint32_t signature, bool adopt_signatures);
  // Frees `block` and the chain after it.
  bool FreeNextBlocks(void* cursor, bool verify_only, bool adopt_signatures, std::uint32_t record,
                      std::uint32_t signature, std::uint32_t read_ahead, TBlock* block);
  // Checks one BLOB's chain for the table repair; corrects it unless
  // verify_only.
  bool RepairBlobBlocks(void* cursor, bool verify_only, std::uint32_t& reference, std::uint32_t record,
                        std::uint32_t signature, bool adopt_signatures);

  // The offsets of the chain from `first` (held by the caller). A damaged
  // chain raises 8963 outside repair; in repair it is logged and the list
  // ends before the fault. False: fetch again.
  bool ChainOf(void* cursor, TBlock* first, std::uint32_t signature, std::vector<std::uint32_t>& chain);
  // Fetches a block, asking again while change detection answers (for
  // callers that have already changed something).
  TBlock* FetchBlock(void* cursor, std::uint32_t offset, bool read_ahead, std::uint32_t count);
  TBlock* FetchFreeBlock(void* cursor);
  [[noreturn]] void Fail(TEngineErrorCode code) const;
  // A fault of this file (its header, its size): the error names the file.
  [[noreturn]] void FailHeader(TEngineErrorCode code) const;

  const TBlobFileStatistics& Statistics() const { return stats_; }
  std::size_t CachedBlocks() const { return cache_.Count(); }
  // Whether the cached blocks take more than kHeldBlockBudget.
  bool HoldsPastBudget() const {
    return cache_.Count() > BaseCapacity() && cache_.Count() * std::size_t{block_size_} > kHeldBlockBudget;
  }
  std::size_t CacheCapacity() const { return cache_.Capacity(); }

private:
  struct THeaderSave;  // file_undo.cpp
  TCacheLayout Layout() const;
  std::size_t BaseCapacity() const;
  TBlock* NewBlock();
  TBlock* GetNewBlockBuffer(std::uint32_t offset);
  void ReadBlockBuffers(std::uint32_t offset, std::uint32_t count);
  // The blocks after `first` up to the first fault, which is logged in
  // repair or raised outside it; `cut` tells whether the last block's link
  // is to be cut. False: fetch again.
  bool WalkChain(void* cursor, bool verify_only, bool adopt, std::uint32_t record, std::uint32_t signature,
                 TBlock* first, std::uint32_t read_ahead, std::vector<std::uint32_t>& chain, bool& cut);
  void Log(void* cursor, const std::string& head, std::uint32_t record, bool verify_only);
  // The first block of a BLOB for a walk (in use), its signature adopted
  // when asked. nullptr for a reference that is not a block or a block of
  // another BLOB (8963 outside repair; in repair a log line and, unless
  // verify_only, the reference cleared), or with `restart` set when change
  // detection answered.
  TBlock* FirstOfChain(void* cursor, bool verify_only, std::uint32_t& reference, std::uint32_t record,
                       std::uint32_t signature, bool adopt_signatures, bool& restart);

  TTableHost* host_;
  std::string table_name_;
  bool encrypted_;
  std::uint32_t block_size_ = 512;
  std::uint32_t stamp_ = 0;
  std::uint8_t version_ = 4;
  std::uint32_t free_ = 0;
  std::uint32_t file_size_ = kBlobHeaderSize;
  bool changed_ = false;
  TStampView stamp_view_;  // the header stamp, peeked at
  TEntryCache cache_;
  TBlockStack pool_{4095};
  std::uint32_t read_ahead_limit_ = 1;
  std::vector<std::uint8_t> buffer_;
  TReadWindow window_;
  TBlobFileStatistics stats_;
};

}  // namespace korvex
