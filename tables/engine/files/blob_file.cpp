#include "tables/engine/files/blob_file.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <unordered_set>

#include "platform/runtime/coding.h"
#include "tables/engine/base/cipher_keys.h"
#include "tables/engine/files/data_file.h"
#include "tables/lib/key_bytes.h"
#include "tables/lib/names.h"

namespace korvex {
namespace {

// How often a caller that has already changed something asks again for a
// block while change detection keeps answering.
constexpr int kFetchTries = 64;

std::uint32_t Blocks(std::uint64_t bytes, std::uint32_t per_block) {
  return static_cast<std::uint32_t>(std::max<std::uint64_t>(1, (bytes + per_block - 1) / per_block));
}

}  // namespace

TBlobFile::TBlobFile(TTableHost* host, bool encrypted) : TFileHandler(host), host_(host), encrypted_(encrypted) {
  cache_.SetCapacity(BaseCapacity());
}

TBlobFile::~TBlobFile() {
  // A close that fails (memory run out) still leaves with the object.
  try {
    TBlobFile::CloseFile();
  } catch (...) {
  }
  pool_.FreeAll();
}

void TBlobFile::Fail(TEngineErrorCode code) const { RaiseError(code, host_->TableName()); }

void TBlobFile::FailHeader(TEngineErrorCode code) const { RaiseError(code, EnsureFileExt(host_->TableName(), ".BLB")); }

void TBlobFile::SetBlockSize(std::uint32_t block_size) {
  if (block_size == 0) block_size = 512;
  if (block_size < kMinBlobBlockSize || block_size > 65535) Fail(err::kBlobFieldsOrBlockSize);
  if (block_size == block_size_) return;
  FreeBlockBuffers();
  pool_.FreeAll();
  block_size_ = block_size;
  read_ahead_limit_ = std::max<std::uint32_t>(1, 65535 / block_size_);
  cache_.SetCapacity(BaseCapacity());
}

std::size_t TBlobFile::BaseCapacity() const { return std::min<std::size_t>(131070 / block_size_, 32767); }

TCacheLayout TBlobFile::Layout() const {
  return {block_size_, block_size_, [](std::uint32_t offset) { return std::uint64_t{offset}; }};
}

bool TBlobFile::IsBlockOffset(std::uint32_t offset) const {
  return offset >= kBlobHeaderSize && offset < file_size_ && (offset - kBlobHeaderSize) % block_size_ == 0;
}

std::uint32_t TBlobFile::MaxChainLength() const {
  return file_size_ > kBlobHeaderSize ? (file_size_ - kBlobHeaderSize) / block_size_ : 0;
}

// ---- create, open, close, header -----------------------------------------

void TBlobFile::CreateFile() {
  table_name_ = host_->TableName();
  TFileHandler::CreateFile();
  FreeBlockBuffers();
  stamp_ = 0;
  version_ = 4;
  free_ = 0;
  file_size_ = kBlobHeaderSize;
  changed_ = true;
  stats_ = {};
}

void TBlobFile::OpenFile() {
  if (IsOpen()) return;
  table_name_ = host_->TableName();
  TFileHandler::OpenFile();
  try {
    ReadHeader();
  } catch (...) {
    CloseFile();
    throw;
  }
  cache_.SetCapacity(BaseCapacity());
  stats_ = {};
}

void TBlobFile::CloseFile() {
  if (!IsOpen()) return;
  stamp_view_.Drop();
  FreeBlockBuffers();
  stats_ = {};
  TFileHandler::CloseFile();
}

void TBlobFile::ReadHeader() {
  std::uint8_t bytes[kBlobHeaderSize];
  ReadAt(*this, 0, bytes, kBlobHeaderSize);
  if (encrypted_) DecryptBuffer(bytes, kBlobHeaderSize, kIndexBlobKeys.key1, kIndexBlobKeys.key2);
  stamp_ = rtl::DecodeFixed32(bytes + 0);
  version_ = bytes[8];
  free_ = rtl::DecodeFixed32(bytes + 9);
  file_size_ = rtl::DecodeFixed32(bytes + 13);
  changed_ = false;
}

void TBlobFile::WriteHeader(bool force, bool flush_to_disk) {
  if (!force && !changed_) return;
  ++stamp_;
  std::uint8_t bytes[kBlobHeaderSize] = {};
  rtl::EncodeFixed32(bytes + 0, stamp_);
  bytes[8] = version_;
  rtl::EncodeFixed32(bytes + 9, free_);
  rtl::EncodeFixed32(bytes + 13, file_size_);
  bytes[17] = changed_ ? 1 : 0;
  if (encrypted_) EncryptBuffer(bytes, kBlobHeaderSize, kIndexBlobKeys.key1, kIndexBlobKeys.key2);
  WriteAt(*this, 0, bytes, kBlobHeaderSize);
  if (flush_to_disk || host_->ForceBufferFlush()) Flush();
  host_->MarkWritten();
  changed_ = false;
}

void TBlobFile::UpdateHeaderStamp() {
  ++stamp_;
  changed_ = true;
  host_->MarkWritten();
}

bool TBlobFile::StampChanged() { return HeaderStampMoved(stamp_view_, *this, encrypted_, stamp_); }

bool TBlobFile::CheckForChanges() {
  if (!StampChanged()) return false;
  ReadHeader();
  return true;
}

void TBlobFile::ClearHeader() {
  FreeBlockBuffers();
  WriteAt(*this, kBlobHeaderSize, nullptr, 0);
  if (host_->ForceBufferFlush()) Flush();
  version_ = 4;
  file_size_ = kBlobHeaderSize;
  free_ = 0;
  changed_ = true;
}

void TBlobFile::SetFileSize(std::uint32_t size) {
  file_size_ = size;
  changed_ = true;
}

void TBlobFile::SetNextFreeBlockPtr(std::uint32_t offset) {
  free_ = offset == file_size_ ? 0 : offset;
  changed_ = true;
}

void TBlobFile::CheckHeader() {
  if (version_ != 4) FailHeader(err::kWrongVersion);
  if (file_size_ < kBlobHeaderSize || (file_size_ - kBlobHeaderSize) % block_size_ != 0) FailHeader(err::kHeaderCorrupt);
  if (free_ != 0 && !IsBlockOffset(free_)) FailHeader(err::kHeaderCorrupt);
}

void TBlobFile::RepairHeader(void* cursor, bool fix) {
  std::uint64_t length = static_cast<std::uint64_t>(GetSize());
  if (length > kBlobHeaderSize && (length - kBlobHeaderSize) % block_size_ != 0) {
    host_->RepairLog(cursor, std::string("BLOB blocks not aligned on even block size boundaries, ") +
                                 (fix ? "error fixed" : "error not fixed"));
    if (fix) {
      length = kBlobHeaderSize + (length - kBlobHeaderSize) / block_size_ * block_size_;
      WriteAt(*this, length, nullptr, 0);
      if (host_->ForceBufferFlush()) Flush();
    }
  }
  if (!fix) {
    // Verification walks the blocks the file holds (and writes nothing):
    // the header's size may name blocks that were cut off.
    length = length < kBlobHeaderSize ? kBlobHeaderSize
                                      : kBlobHeaderSize + (length - kBlobHeaderSize) / block_size_ * block_size_;
    file_size_ = static_cast<std::uint32_t>(std::min<std::uint64_t>(length, file_size_));
    return;
  }
  FreeBlockBuffers();
  version_ = 4;
  free_ = 0;
  file_size_ = static_cast<std::uint32_t>(std::max<std::uint64_t>(length, kBlobHeaderSize));
  changed_ = true;
}

// ---- the block cache ------------------------------------------------------

TBlock* TBlobFile::NewBlock() {
  const std::uint32_t size = block_size_;
  const std::string* table = &table_name_;
  return pool_.Take([size, table] { return new TBlock(size, table); }, [](TBlock& b) { b.Initialize(); });
}

TBlock* TBlobFile::GetNewBlockBuffer(std::uint32_t offset) {
  if (!host_->WritesHeld() && cache_.Capacity() > BaseCapacity()) AdjustBlockBuffers();
  TCacheEntry* entry = cache_.Obtain(
      offset, host_->WritesHeld(), [this] { return NewBlock(); }, [this] { FlushBlockBuffers(false); });
  if (!entry) Fail(err::kBlobBlocksCorrupt);
  auto* block = static_cast<TBlock*>(entry);
  block->Initialize();
  return block;
}

bool TBlobFile::GetBlock(void* cursor, std::uint32_t offset, bool read_ahead, std::uint32_t count, TBlock*& block) {
  block = nullptr;
  if (!IsBlockOffset(offset)) Fail(err::kBlobBlocksCorrupt);
  TCacheEntry* entry = cache_.Find(offset);
  if (!entry) {
    if (!host_->StrictChangeDetection() && host_->TakeInternalReadLock(cursor)) return false;
    std::uint32_t n = 1;
    if (read_ahead) n = std::max<std::uint32_t>(1, std::min({read_ahead_limit_, count, (file_size_ - offset) / block_size_}));
    ReadBlockBuffers(offset, n);
    entry = cache_.Find(offset);
  } else {
    cache_.Touch(entry);
  }
  ++stats_.Requests;
  if (!entry || entry->Key != offset) Fail(err::kBlobBlocksCorrupt);
  entry->IncUseCount();
  block = static_cast<TBlock*>(entry);
  return true;
}

void TBlobFile::ReadBlockBuffers(std::uint32_t offset, std::uint32_t count) {
  ++stats_.ReadsBegun;
  const bool encrypted = encrypted_;
  ReadIntoCache(
      *this, *host_, cache_, Layout(), window_, offset, count, offset, buffer_,
      [this](std::uint32_t key) { return GetNewBlockBuffer(key); },
      [encrypted](TCacheEntry* e, const std::uint8_t* bytes) { static_cast<TBlock*>(e)->Read(bytes, encrypted); });
  ++stats_.ReadsDone;
}

bool TBlobFile::FlushBlockBuffers(bool flush_to_disk) {
  const bool encrypted = encrypted_;
  const std::uint32_t runs = WriteModifiedRuns(*this, *host_, cache_, Layout(), window_, flush_to_disk,
                                               [encrypted](TCacheEntry* e, std::uint8_t* out) {
                                                 static_cast<TBlock*>(e)->Write(out, encrypted);
                                               });
  stats_.WriteRuns += runs;
  return runs > 0;
}

void TBlobFile::FreeBlockBuffers() {
  cache_.Clear([this](TCacheEntry* e) { pool_.Return(static_cast<TBlock*>(e)); });
}

void TBlobFile::AdjustBlockBuffers() {
  cache_.SetCapacity(BaseCapacity());
  if (cache_.Count() <= cache_.Capacity()) return;
  FlushBlockBuffers(false);
  std::vector<TCacheEntry*> sorted = cache_.Sorted();
  for (auto it = sorted.rbegin(); it != sorted.rend() && cache_.Count() > cache_.Capacity(); ++it) {
    if (!(*it)->Evictable()) continue;
    cache_.Remove(*it);
    pool_.Return(static_cast<TBlock*>(*it));
  }
}

// ---- the free chain -------------------------------------------------------

bool TBlobFile::GetNextFreeBlock(void* cursor, TBlock*& block) {
  Fault(TFaultSite::Allocate);
  block = nullptr;
  if (free_ != 0 && !IsBlockOffset(free_)) {  // a damaged chain: drop it, append
    free_ = 0;
    changed_ = true;
  }
  if (free_ == 0) {
    if (std::uint64_t{file_size_} + block_size_ > kMaxTableBytes) FailHeader(err::kTableFull);
    block = GetNewBlockBuffer(file_size_);
    block->Modified = true;  // the file has no bytes for it yet
    file_size_ += block_size_;
    changed_ = true;
    ++stats_.Requests;
    block->IncUseCount();
    return true;
  }
  if (!GetBlock(cursor, free_, false, 1, block)) return false;
  if (block->UseCount > 1) {  // a free block someone holds: the chain is damaged
    PutBlock(block);
    free_ = 0;
    changed_ = true;
    return GetNextFreeBlock(cursor, block);
  }
  free_ = block->NextBlockOffset();
  changed_ = true;
  block->Initialize();
  block->Modified = true;
  return true;
}

void TBlobFile::SetNextFreeBlock(TBlock* block) {
  if (block->Offset() == free_) return;
  block->SetNextBlockOffset(free_);
  free_ = block->Offset();
  changed_ = true;
}

TBlock* TBlobFile::FetchBlock(void* cursor, std::uint32_t offset, bool read_ahead, std::uint32_t count) {
  TBlock* block = nullptr;
  for (int i = 0; i < kFetchTries; ++i)
    if (GetBlock(cursor, offset, read_ahead, count, block)) return block;
  Fail(err::kBlobBlocksCorrupt);
}

TBlock* TBlobFile::FetchFreeBlock(void* cursor) {
  TBlock* block = nullptr;
  for (int i = 0; i < kFetchTries; ++i)
    if (GetNextFreeBlock(cursor, block)) return block;
  Fail(err::kBlobBlocksCorrupt);
}

// ---- chains ---------------------------------------------------------------

void TBlobFile::Log(void* cursor, const std::string& head, std::uint32_t record, bool verify_only) {
  host_->RepairLog(cursor, head + std::to_string(record) + ", " + (verify_only ? "error not fixed" : "error fixed"));
}

bool TBlobFile::WalkChain(void* cursor, bool verify_only, bool adopt, std::uint32_t record, std::uint32_t signature,
                          TBlock* first, std::uint32_t read_ahead, std::vector<std::uint32_t>& chain, bool& cut) {
  chain.assign(1, first->Offset());
  std::unordered_set<std::uint32_t> visited{first->Offset()};
  cut = false;
  auto fault = [&](const char* head) {
    if (!host_->InRepair(cursor)) Fail(err::kBlobBlocksCorrupt);
    Log(cursor, head, record, verify_only);
    cut = true;
    return true;
  };
  std::uint32_t next = first->NextBlockOffset();
  while (next != 0) {
    if (!IsBlockOffset(next)) return fault("Invalid intra-block pointer in BLOB file for physical record # ");
    if (visited.count(next) || chain.size() >= MaxChainLength())
      return fault("Recursive intra-block pointer in BLOB file for physical record # ");
    TBlock* block = nullptr;
    if (!GetBlock(cursor, next, true, read_ahead, block)) return false;
    const std::uint32_t signature_found = block->BlobSignature();
    const std::uint32_t after = block->NextBlockOffset();
    PutBlock(block);
    if (signature_found != signature && !adopt)
      return fault("Invalid intra-block pointer in BLOB file for physical record # ");
    chain.push_back(next);
    visited.insert(next);
    next = after;
    read_ahead = std::max<std::uint32_t>(1, read_ahead - 1);
  }
  return true;
}

bool TBlobFile::ChainOf(void* cursor, TBlock* first, std::uint32_t signature, std::vector<std::uint32_t>& chain) {
  bool cut = false;
  return WalkChain(cursor, true, false, 0, signature, first, Blocks(first->BlobLength(), GetBlockBufferSize()), chain,
                   cut);
}

bool TBlobFile::FreeNextBlocks(void* cursor, bool verify_only, bool adopt_signatures, std::uint32_t record,
                               std::uint32_t signature, std::uint32_t read_ahead, TBlock* block) {
  std::vector<std::uint32_t> chain;
  bool cut = false;
  bool walked = false;
  try {
    walked = WalkChain(cursor, verify_only, adopt_signatures, record, signature, block, read_ahead, chain, cut);
  } catch (...) {
    PutBlock(block);
    throw;
  }
  if (walked && !verify_only) {
    // The whole chain was checked first: each of its blocks is freed once.
    for (std::size_t i = 0; i < chain.size(); ++i) {
      TBlock* b = i == 0 ? block : FetchBlock(cursor, chain[i], true, static_cast<std::uint32_t>(chain.size() - i));
      SetNextFreeBlock(b);
      if (b != block) PutBlock(b);
    }
  }
  PutBlock(block);
  return walked;
}

TBlock* TBlobFile::FirstOfChain(void* cursor, bool verify_only, std::uint32_t& reference, std::uint32_t record,
                                std::uint32_t signature, bool adopt_signatures, bool& restart) {
  restart = false;
  auto bad_reference = [&]() -> TBlock* {
    if (!host_->InRepair(cursor)) Fail(err::kBlobBlocksCorrupt);
    Log(cursor, "Invalid BLOB offset in BLOB file for physical record # ", record, verify_only);
    if (!verify_only) reference = 0;
    return nullptr;
  };
  if (!IsBlockOffset(reference)) return bad_reference();
  TBlock* first = nullptr;
  if (!GetBlock(cursor, reference, false, 1, first)) {
    restart = true;
    return nullptr;
  }
  if (first->BlobSignature() != signature) {
    if (!adopt_signatures) {
      PutBlock(first);
      return bad_reference();
    }
    if (!verify_only) first->SetBlobSignature(signature);
  }
  return first;
}

bool TBlobFile::FreeBlobBlocks(void* cursor, bool verify_only, std::uint32_t& reference, std::uint32_t record,
                               std::uint32_t signature, bool adopt_signatures) {
  if (reference == 0) return true;
  bool restart = false;
  TBlock* first = FirstOfChain(cursor, verify_only, reference, record, signature, adopt_signatures, restart);
  if (!first) return !restart;
  std::uint32_t read_ahead = Blocks(first->BlobLength(), GetBlockBufferSize());
  if (!FreeNextBlocks(cursor, verify_only, adopt_signatures, record, signature, read_ahead, first)) return false;
  if (!verify_only) reference = 0;
  return true;
}

bool TBlobFile::RepairBlobBlocks(void* cursor, bool verify_only, std::uint32_t& reference, std::uint32_t record,
                                 std::uint32_t signature, bool adopt_signatures) {
  if (reference == 0) return true;
  bool restart = false;
  TBlock* first = FirstOfChain(cursor, verify_only, reference, record, signature, adopt_signatures, restart);
  if (!first) return !restart;
  if (!verify_only) first->SetPrevBlockOffset(0);
  const std::uint32_t length = first->BlobLength();
  if (length < 1) {
    if (!FreeNextBlocks(cursor, verify_only, adopt_signatures, record, signature, 1, first)) return false;
    if (!verify_only) reference = 0;
    return true;
  }

  // The links first: a chain whose links hold is cut at its first fault.
  std::vector<std::uint32_t> chain;
  bool cut = false;
  bool walked = false;
  try {
    walked = WalkChain(cursor, verify_only, adopt_signatures, record, signature, first,
                       Blocks(length, GetBlockBufferSize()), chain, cut);
  } catch (...) {
    PutBlock(first);
    throw;
  }
  if (!walked) {
    PutBlock(first);
    return false;
  }
  // Then each block's data length against the BLOB's; the back links and
  // signatures are set on the way.
  std::uint64_t sum = 0;
  const std::uint32_t room = GetBlockBufferSize();
  for (std::size_t i = 0; i < chain.size(); ++i) {
    TBlock* b = i == 0 ? first : FetchBlock(cursor, chain[i], true, static_cast<std::uint32_t>(chain.size() - i));
    if (!verify_only) {
      if (i > 0) b->SetPrevBlockOffset(chain[i - 1]);
      if (adopt_signatures) b->SetBlobSignature(signature);
    }
    // Only the first block carries the BLOB's length.
    if (i > 0 && b->BlobLength() != 0) {
      Log(cursor, "Invalid block size in BLOB file for physical record # ", record, verify_only);
      if (!verify_only) b->SetBlobLength(0);
    }
    std::uint32_t expected = sum < length ? static_cast<std::uint32_t>(std::min<std::uint64_t>(room, length - sum)) : 0;
    std::uint32_t held = std::min<std::uint32_t>(b->BlockLength(), room);
    sum += held;
    bool last = i + 1 == chain.size();
    if (b->BlockLength() != expected) {
      Log(cursor, "Invalid block size in BLOB file for physical record # ", record, verify_only);
      if (!verify_only) {
        b->SetBlockLength(static_cast<std::uint16_t>(held));
        b->SetNextBlockOffset(0);
      }
      last = true;
    } else if (last && cut && !verify_only) {
      b->SetNextBlockOffset(0);
    }
    if (b != first) PutBlock(b);
    if (last) break;
  }
  if (sum != length) {
    Log(cursor, "BLOB size mismatch in BLOB file for physical record # ", record, verify_only);
    if (!verify_only) first->SetBlobLength(static_cast<std::uint32_t>(sum));
  }
  PutBlock(first);
  return true;
}

}  // namespace korvex
