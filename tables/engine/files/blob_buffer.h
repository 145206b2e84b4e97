// TBlobBuffer: the whole content of one open BLOB of a record, read from and
// written back to its chain of blocks in the BLOB file.
#pragma once

#include <cstdint>
#include <vector>

#include "tables/engine/files/blob_file.h"

namespace korvex {

class TBlobBuffer {
public:
  // `first_block` and `signature` come from the record's BLOB field;
  // `record` is the record's physical number (for repair lines). A tolerant
  // buffer opens a BLOB whose signature differs as empty instead of failing.
  TBlobBuffer(TBlobFile* file, void* cursor, std::uint32_t record, std::uint16_t field, std::uint32_t first_block,
              std::uint32_t signature, bool tolerant = false, std::uint8_t mode = 0);

  // 0 frees the content; marks the buffer modified on a change.
  void SetSize(std::uint32_t size);
  // Copies `length` bytes in at `offset`, growing the content to cover
  // them; marks the buffer modified.
  void WriteBytes(std::uint32_t offset, const std::uint8_t* source, std::uint32_t length);
  // The signature the next Write stamps on the chain (the current one still
  // identifies the old chain until then).
  void SetNextSignature(std::uint32_t signature) { next_signature_ = signature; }
  std::uint32_t Size() const { return static_cast<std::uint32_t>(content_.size()); }
  std::uint8_t* GetBuffer() { return content_.data(); }
  const std::vector<std::uint8_t>& Content() const { return content_; }
  bool Modified() const { return modified_; }
  std::uint32_t FirstBlock() const { return first_block_; }
  std::uint32_t Signature() const { return signature_; }
  std::uint16_t FieldNumber() const { return field_; }
  std::uint8_t Mode() const { return mode_; }

  // The size from the first block (8963 for another signature unless
  // tolerant).
  void Open();
  // The content from the chain: 8708 when a block carries another
  // signature, 8963 for a damaged chain, 8711 for a short one.
  void Read();
  // The content into the chain, reusing its blocks, taking free blocks and
  // freeing what is left over; nothing when the size is 0.
  void Write();
  // Frees the chain; the reference becomes 0.
  void Remove();

  // What Write and Remove change (the content aside), to be put back when
  // the write they were part of is undone.
  struct TState {
    bool modified;
    std::uint32_t signature, first_block, next_signature;
  };
  TState State() const { return {modified_, signature_, first_block_, next_signature_}; }
  void Restore(const TState& state) {
    modified_ = state.modified;
    signature_ = state.signature;
    first_block_ = state.first_block;
    next_signature_ = state.next_signature;
  }

private:
  void WriteChain();
  std::uint32_t CheckedLength(std::uint32_t length) const;

  TBlobFile* file_;
  void* cursor_;
  bool modified_ = false;
  std::uint32_t signature_;
  std::uint32_t record_;
  std::uint16_t field_;
  std::uint32_t first_block_;
  std::vector<std::uint8_t> content_;
  bool tolerant_;
  std::uint8_t mode_;
  std::uint32_t next_signature_ = 0;
};

}  // namespace korvex
