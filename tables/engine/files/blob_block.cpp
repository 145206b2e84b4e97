#include "tables/engine/files/blob_block.h"

#include <algorithm>
#include <cstring>

#include "platform/runtime/coding.h"
#include "tables/engine/base/cipher_keys.h"
#include "tables/engine/errors/errors.h"
#include "tables/lib/key_bytes.h"

namespace korvex {

TBlock::TBlock(std::uint32_t block_size, const std::string* table)
    : table_(table), data_(block_size > kBlockHeaderSize ? block_size - kBlockHeaderSize : 0, 0) {}

void TBlock::Read(const std::uint8_t* source, bool encrypted) {
  std::uint8_t head[kBlockHeaderSize];
  std::memcpy(head, source, kBlockHeaderSize);
  std::memcpy(data_.data(), source + kBlockHeaderSize, data_.size());
  if (encrypted) {
    DecryptBuffer(head, kBlockHeaderSize, kIndexBlobKeys.key1, kIndexBlobKeys.key2);
    DecryptBuffer(data_.data(), static_cast<std::int32_t>(data_.size()), kIndexBlobKeys.key1, kIndexBlobKeys.key2);
  }
  prev_ = rtl::DecodeFixed32(head + 0);
  next_ = rtl::DecodeFixed32(head + 4);
  length_ = rtl::DecodeFixed16(head + 8);
  signature_ = rtl::DecodeFixed32(head + 10);
  blob_length_ = rtl::DecodeFixed32(head + 14);
  Modified = false;
}

void TBlock::Write(std::uint8_t* target, bool encrypted) const {
  rtl::EncodeFixed32(target + 0, prev_);
  rtl::EncodeFixed32(target + 4, next_);
  rtl::EncodeFixed16(target + 8, length_);
  rtl::EncodeFixed32(target + 10, signature_);
  rtl::EncodeFixed32(target + 14, blob_length_);
  std::memcpy(target + kBlockHeaderSize, data_.data(), data_.size());
  if (encrypted) {
    EncryptBuffer(target, kBlockHeaderSize, kIndexBlobKeys.key1, kIndexBlobKeys.key2);
    EncryptBuffer(target + kBlockHeaderSize, static_cast<std::int32_t>(data_.size()), kIndexBlobKeys.key1,
                  kIndexBlobKeys.key2);
  }
}

void TBlock::Initialize() {
  prev_ = next_ = signature_ = blob_length_ = 0;
  length_ = 0;
  std::fill(data_.begin(), data_.end(), 0);
  Modified = false;
}

void TBlock::Copy(const TBlock& other) {
  SetPrevBlockOffset(other.prev_);
  SetNextBlockOffset(other.next_);
  SetBlockLength(other.length_);
  SetBlobSignature(other.signature_);
  SetBlobLength(other.blob_length_);
  if (data_ != other.data_) {
    data_ = other.data_;
    Modified = true;
  }
}

void TBlock::CheckRange(std::uint32_t offset, std::uint32_t length) const {
  if (std::uint64_t{offset} + length > data_.size()) RaiseError(err::kInvalidBlobLength, *table_);
}

std::uint32_t TBlock::GetBlockData(std::uint32_t offset, std::uint32_t length, std::uint8_t* buffer) const {
  CheckRange(offset, length);
  std::uint32_t held = std::min<std::uint32_t>(length_, Capacity());
  std::uint32_t n = offset >= held ? 0 : std::min(length, held - offset);
  std::memcpy(buffer, data_.data() + offset, n);
  return n;
}

void TBlock::PutBlockData(std::uint32_t offset, std::uint32_t length, const std::uint8_t* data) {
  CheckRange(offset, length);
  SetBlockLength(static_cast<std::uint16_t>(offset + length));
  std::memcpy(data_.data() + offset, data, length);
  Modified = true;
}

void TBlock::TruncateBlockData(std::uint32_t length) {
  CheckRange(0, length);
  SetBlockLength(static_cast<std::uint16_t>(length));
  std::fill(data_.begin() + length, data_.end(), 0);
  Modified = true;
}

}  // namespace korvex
