// TBlock: one block of a BLOB file in memory (layout in blob_file.h): the
// five values of its 18-byte header and its data area of B - 18 bytes.
// Setters mark the block modified only when they change something.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tables/engine/cache/cache_entry.h"

namespace korvex {

inline constexpr std::uint32_t kBlockHeaderSize = 18;

class TBlock : public TCacheEntry {
public:
  // `table` names the table in the errors the block raises.
  TBlock(std::uint32_t block_size, const std::string* table);

  std::unique_ptr<TCacheEntry> Clone() const override { return CopyEntry(*this); }
  void Assign(const TCacheEntry& image) override { AssignEntry(*this, image); }

  std::uint32_t Offset() const { return Key; }
  std::uint32_t PrevBlockOffset() const { return prev_; }
  std::uint32_t NextBlockOffset() const { return next_; }
  std::uint16_t BlockLength() const { return length_; }
  std::uint32_t BlobSignature() const { return signature_; }
  std::uint32_t BlobLength() const { return blob_length_; }
  std::uint32_t Capacity() const { return static_cast<std::uint32_t>(data_.size()); }

  void SetPrevBlockOffset(std::uint32_t value) { Set(prev_, value); }
  void SetNextBlockOffset(std::uint32_t value) { Set(next_, value); }
  void SetBlockLength(std::uint16_t value) { Set(length_, value); }
  void SetBlobSignature(std::uint32_t value) { Set(signature_, value); }
  void SetBlobLength(std::uint32_t value) { Set(blob_length_, value); }

  // From or into the file's B bytes; the header and the data area are
  // enciphered separately when `encrypted`.
  void Read(const std::uint8_t* source, bool encrypted);
  void Write(std::uint8_t* target, bool encrypted) const;
  // Zero header and data, not modified.
  void Initialize();
  // The other block's header values and data (not its offset).
  void Copy(const TBlock& other);

  // Copies the smaller of `length` and the bytes held from `offset` on;
  // answers the bytes copied. 10029 when the range passes the data area.
  std::uint32_t GetBlockData(std::uint32_t offset, std::uint32_t length, std::uint8_t* buffer) const;
  // Data length := offset + length.
  void PutBlockData(std::uint32_t offset, std::uint32_t length, const std::uint8_t* data);
  // Data length := length; the data area from there on is zeroed.
  void TruncateBlockData(std::uint32_t length);

private:
  template <class T>
  void Set(T& field, T value) {
    if (field != value) Modified = true;
    field = value;
  }
  void CheckRange(std::uint32_t offset, std::uint32_t length) const;

  const std::string* table_;
  std::uint32_t prev_ = 0, next_ = 0;
  std::uint16_t length_ = 0;
  std::uint32_t signature_ = 0, blob_length_ = 0;
  std::vector<std::uint8_t> data_;
};

}  // namespace korvex
