// TDataTable: the memory image an in-memory table is loaded from and saved
// to (its layout: data_table.h).
#include <algorithm>

#include "platform/runtime/coding.h"
#include "tables/engine/base/scope_exit.h"
#include "tables/engine/cache/cache_io.h"
#include "tables/engine/table/data_table.h"

namespace korvex {
namespace {

constexpr std::uint64_t kImageStep = 65535;

}  // namespace

std::vector<TFileHandler*> TDataTable::ImageFiles() {
  std::vector<TFileHandler*> files{data_.get(), index_.get()};
  if (HasBlobs()) files.push_back(blob_.get());
  return files;
}

void TDataTable::LockSections(bool lock) {
  if (lock == sections_locked_) return;
  for (TFileHandler* file : ImageFiles()) {
    if (lock) file->LockFileHandler();
    else file->UnlockFileHandler();
  }
  sections_locked_ = lock;
}

void TDataTable::ResizeMemoryBuffer(std::uint64_t size) {
  if (size == 0) {
    image_.clear();
    image_.shrink_to_fit();
    return;
  }
  std::uint64_t rounded = (size + kImageStep - 1) / kImageStep * kImageStep;
  if (rounded > 0xFFFFFFFFu) Fail(err::kInvalidMemoryLength);
  if (rounded > image_.size()) image_.resize(rounded, 0);
}

std::uint32_t TDataTable::GetBufferSize() const {
  return ImageUsable() ? static_cast<std::uint32_t>(image_.size()) : 0;
}

void TDataTable::BeginBufferLoad() {
  if (!ImageUsable()) return;
  FlushBuffers(false, false, false, false, false);
  LockSections(true);
  std::vector<TFileHandler*> files = ImageFiles();
  std::uint64_t total = 0;
  for (TFileHandler* file : files) total += 4 + static_cast<std::uint64_t>(file->GetSize());
  image_.clear();
  ResizeMemoryBuffer(total);
  std::uint64_t at = 0;
  for (TFileHandler* file : files) {
    auto length = static_cast<std::uint32_t>(file->GetSize());
    rtl::EncodeFixed32(image_.data() + at, length);
    ReadAt(*file, 0, image_.data() + at + 4, length);
    at += 4 + std::uint64_t{length};
  }
}

std::uint32_t TDataTable::LoadFromBuffer(void* destination, std::uint32_t offset, std::uint32_t count) {
  if (!ImageUsable() || offset >= image_.size()) return 0;
  std::uint32_t n = static_cast<std::uint32_t>(std::min<std::uint64_t>(count, image_.size() - offset));
  std::copy_n(image_.data() + offset, n, static_cast<std::uint8_t*>(destination));
  return n;
}

void TDataTable::EndBufferLoad() {
  if (!ImageUsable()) return;
  ResizeMemoryBuffer(0);
  LockSections(false);
}

void TDataTable::BeginBufferSave() {
  if (ImageUsable()) LockSections(true);
}

std::uint32_t TDataTable::SaveToBuffer(const void* source, std::uint32_t offset, std::uint32_t count) {
  if (!ImageUsable()) return 0;
  if (count == 0) {
    ResizeMemoryBuffer(offset);
    return 0;
  }
  ResizeMemoryBuffer(std::uint64_t{offset} + count);
  std::copy_n(static_cast<const std::uint8_t*>(source), count, image_.data() + offset);
  return count;
}

void TDataTable::EndBufferSave() {
  if (!ImageUsable()) return;
  ScopeExit release{[&] {
    ResizeMemoryBuffer(0);
    LockSections(false);
  }};
  std::vector<TFileHandler*> files = ImageFiles();
  if (image_.empty()) {
    data_->ClearHeader();
    index_->ClearHeader();
    if (HasBlobs()) blob_->ClearHeader();
    FlushBuffers(true, true, true, true, false);
    FreeBuffers(true, false);
    return;
  }
  // Every part must lie inside the image before anything is written.
  struct Part {
    std::uint64_t at, length;
  };
  std::vector<Part> parts;
  std::uint64_t at = 0;
  for (std::size_t i = 0; i < files.size(); ++i) {
    if (at + 4 > image_.size()) Fail(err::kHeaderCorrupt);
    std::uint64_t length = rtl::DecodeFixed32(image_.data() + at);
    if (at + 4 + length > image_.size()) Fail(err::kHeaderCorrupt);
    parts.push_back({at + 4, length});
    at += 4 + length;
  }
  // The image must be of this table: the same header shape and definitions.
  const std::uint8_t* dat = image_.data() + parts[0].at;
  std::uint64_t definitions = data_->DataStart() - kDataHeaderSize;
  if (parts[0].length < data_->DataStart() || parts[1].length < kIndexHeaderSize) Fail(err::kHeaderCorrupt);
  TDataHeader image_header;
  image_header.Decode(dat);
  const TDataHeader& own = data_->GetHeader();
  std::vector<std::uint8_t> own_definitions(definitions);
  ReadAt(*data_, kDataHeaderSize, own_definitions.data(), static_cast<std::int64_t>(definitions));
  if (image_header.FieldCount != own.FieldCount || image_header.RecordSize != own.RecordSize ||
      image_header.BlobFieldCount != own.BlobFieldCount || image_header.Encrypted != own.Encrypted ||
      image_header.BlobBlockSizeRaw != own.BlobBlockSizeRaw ||
      !std::equal(own_definitions.begin(), own_definitions.end(), dat + kDataHeaderSize))
    Fail(err::kHeaderCorrupt);
  for (std::size_t i = 0; i < files.size(); ++i) {
    WriteAt(*files[i], 0, image_.data() + parts[i].at, static_cast<std::int64_t>(parts[i].length));
    WriteAt(*files[i], parts[i].length, nullptr, 0);
  }
  MarkWritten();
  FreeBuffers(true, true);
}

}  // namespace korvex
