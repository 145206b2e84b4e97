#include "tables/engine/files/blob_buffer.h"

#include <algorithm>
#include <unordered_set>

#include "tables/engine/base/scope_exit.h"

namespace korvex {
namespace {

std::uint32_t BlocksFor(std::uint64_t bytes, std::uint32_t per_block) {
  return static_cast<std::uint32_t>(std::max<std::uint64_t>(1, (bytes + per_block - 1) / per_block));
}

// Puts the block `held` (if any) back, to hold `next` in its place.
void Hold(TBlobFile* file, TBlock*& held, TBlock* next) {
  if (held) file->PutBlock(held);
  held = next;
}

}  // namespace

TBlobBuffer::TBlobBuffer(TBlobFile* file, void* cursor, std::uint32_t record, std::uint16_t field,
                         std::uint32_t first_block, std::uint32_t signature, bool tolerant, std::uint8_t mode)
    : file_(file), cursor_(cursor), signature_(signature), record_(record), field_(field), first_block_(first_block),
      tolerant_(tolerant), mode_(mode) {}

void TBlobBuffer::SetSize(std::uint32_t size) {
  if (size == content_.size()) return;
  if (size == 0) std::vector<std::uint8_t>().swap(content_);
  else content_.resize(size);
  modified_ = true;
}

void TBlobBuffer::WriteBytes(std::uint32_t offset, const std::uint8_t* source, std::uint32_t length) {
  if (std::uint64_t{offset} + length > content_.size()) content_.resize(std::uint64_t{offset} + length);
  if (length > 0) std::copy(source, source + length, content_.begin() + offset);
  modified_ = true;
}

std::uint32_t TBlobBuffer::CheckedLength(std::uint32_t length) const {
  // More than every block of the file could hold is a damaged first block.
  if (std::uint64_t{length} > std::uint64_t{file_->MaxChainLength()} * file_->GetBlockBufferSize())
    file_->Fail(err::kBlobBlocksCorrupt);
  return length;
}

void TBlobBuffer::Open() {
  if (first_block_ != 0) {
    TBlock* first = file_->FetchBlock(cursor_, first_block_, false, 1);
    ScopeExit put{[&] { file_->PutBlock(first); }};
    if (first->BlobSignature() != signature_) {
      if (!tolerant_) file_->Fail(err::kBlobBlocksCorrupt);
      content_.clear();
    } else {
      content_.assign(CheckedLength(first->BlobLength()), 0);
    }
  }
  modified_ = false;
}

void TBlobBuffer::Read() {
  if (first_block_ == 0) {
    modified_ = false;
    return;
  }
  const std::uint32_t room = file_->GetBlockBufferSize();
  std::uint64_t copied = 0;
  for (bool restart = true; restart;) {
    restart = false;
    TBlock* block = nullptr;
    ScopeExit put{[&] {
      if (block) file_->PutBlock(block);
    }};
    if (!file_->GetBlock(cursor_, first_block_, true, 1, block)) {
      restart = true;
      continue;
    }
    if (block->BlobSignature() != signature_) file_->Fail(err::kRecordChanged);
    content_.assign(CheckedLength(block->BlobLength()), 0);
    std::unordered_set<std::uint32_t> visited{first_block_};
    copied = 0;
    while (copied < content_.size()) {
      // The first block was this BLOB's when the pass began (no writer came
      // between, or the pass starts again): a later block of another BLOB is
      // a broken chain.
      if (block->BlobSignature() != signature_) file_->Fail(err::kBlobBlocksCorrupt);
      std::uint32_t asked = static_cast<std::uint32_t>(std::min<std::uint64_t>(room, content_.size() - copied));
      std::uint32_t got = block->GetBlockData(0, asked, content_.data() + copied);
      copied += got;
      if (got < asked || got == 0 || copied == content_.size()) break;
      std::uint32_t next = block->NextBlockOffset();
      if (next == 0) break;
      if (!file_->IsBlockOffset(next) || visited.count(next) || visited.size() >= file_->MaxChainLength())
        file_->Fail(err::kBlobBlocksCorrupt);
      visited.insert(next);
      TBlock* following = nullptr;
      if (!file_->GetBlock(cursor_, next, true, BlocksFor(content_.size() - copied, room), following)) {
        restart = true;
        break;
      }
      Hold(file_, block, following);
    }
  }
  modified_ = false;
  if (copied < content_.size()) file_->Fail(err::kEndOfBlob);
}

void TBlobBuffer::Write() {
  if (content_.empty()) return;
  WriteChain();
  if (next_signature_ != 0) signature_ = next_signature_;
  next_signature_ = 0;
  modified_ = false;
}

void TBlobBuffer::WriteChain() {
  const std::uint32_t room = file_->GetBlockBufferSize();
  TBlock* block = nullptr;
  ScopeExit put{[&] {
    if (block) file_->PutBlock(block);
  }};
  // The old chain is walked whole before anything changes: a damaged one
  // fails here and leaves the file as it was.
  std::vector<std::uint32_t> old_chain;
  if (first_block_ != 0) {
    for (int i = 0;; ++i) {
      Hold(file_, block, file_->FetchBlock(cursor_, first_block_, true, BlocksFor(content_.size(), room)));
      if (block->BlobSignature() != signature_) file_->Fail(err::kRecordChanged);
      if (file_->ChainOf(cursor_, block, signature_, old_chain)) break;
      if (i == 8) file_->Fail(err::kBlobBlocksCorrupt);
    }
  } else {
    block = file_->FetchFreeBlock(cursor_);
    first_block_ = block->Offset();
    old_chain.push_back(first_block_);
  }
  std::unordered_set<std::uint32_t> used(old_chain.begin(), old_chain.end());
  const std::uint32_t stamp = next_signature_ != 0 ? next_signature_ : signature_;
  block->SetBlobSignature(stamp);
  block->SetBlobLength(Size());
  block->SetPrevBlockOffset(0);
  std::uint64_t written = 0;
  for (std::size_t i = 1;; ++i) {
    std::uint32_t piece = static_cast<std::uint32_t>(std::min<std::uint64_t>(room, content_.size() - written));
    block->PutBlockData(0, piece, content_.data() + written);
    block->TruncateBlockData(piece);
    written += piece;
    if (written == content_.size()) break;
    TBlock* following = nullptr;
    if (i < old_chain.size()) {
      following = file_->FetchBlock(cursor_, old_chain[i], true, static_cast<std::uint32_t>(old_chain.size() - i));
    } else {
      following = file_->FetchFreeBlock(cursor_);
      // A free block already in this chain means a damaged free chain.
      if (!used.insert(following->Offset()).second) {
        file_->PutBlock(following);
        file_->Fail(err::kBlobBlocksCorrupt);
      }
    }
    block->SetNextBlockOffset(following->Offset());
    following->SetPrevBlockOffset(block->Offset());
    following->SetBlobSignature(stamp);
    following->SetBlobLength(0);
    Hold(file_, block, following);
  }
  block->SetNextBlockOffset(0);
  // The old chain was longer: its rest goes to the free chain.
  std::size_t kept = 0;
  while (kept < old_chain.size() && old_chain[kept] != block->Offset()) ++kept;
  for (std::size_t i = kept + 1; i < old_chain.size(); ++i) {
    TBlock* spare = file_->FetchBlock(cursor_, old_chain[i], true, static_cast<std::uint32_t>(old_chain.size() - i));
    file_->SetNextFreeBlock(spare);
    file_->PutBlock(spare);
  }
}

void TBlobBuffer::Remove() {
  if (first_block_ != 0) {
    for (int i = 0; !file_->FreeBlobBlocks(cursor_, false, first_block_, record_, signature_, false); ++i)
      if (i == 8) file_->Fail(err::kBlobBlocksCorrupt);
  }
  content_.clear();
  modified_ = false;
}

}  // namespace korvex
