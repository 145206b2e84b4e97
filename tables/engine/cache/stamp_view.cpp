#include "tables/engine/cache/stamp_view.h"

#include <cstring>

#include "platform/runtime/coding.h"
#include "platform/runtime/filelock.h"
#include "platform/runtime/os_files.h"
#include "tables/engine/base/cipher_keys.h"
#include "tables/engine/cache/cache_io.h"
#include "tables/lib/abstract_file.h"
#include "tables/lib/file_handler.h"
#include "tables/lib/key_bytes.h"

namespace korvex {

namespace {
constexpr std::size_t kMapped = 16;
}

void TStampView::Read(TFileHandler& file, std::uint8_t* out, std::uint32_t count) {
  if (map_ && rtl::os::FileMapLostPages(map_)) Drop();
  if (!map_ && !failed_ && !file.InMemory()) {
    auto* disk = dynamic_cast<TPhysicalFile*>(file.File());
    if (disk && disk->DiskFile()) map_ = rtl::os::MapFile(disk->DiskFile()->Descriptor(), kMapped);
    failed_ = map_ == nullptr;
  }
  if (map_ && count <= kMapped) {
    std::memcpy(out, map_, count);
    return;
  }
  ReadAt(file, 0, out, count);
}

void TStampView::Drop() {
  if (map_) rtl::os::UnmapFile(map_, kMapped);
  map_ = nullptr;
  failed_ = false;
}

bool HeaderStampMoved(TStampView& view, TFileHandler& file, bool encrypted, std::uint32_t stamp) {
  std::uint8_t bytes[4];
  view.Read(file, bytes, 4);
  if (encrypted) DecryptBuffer(bytes, 4, kIndexBlobKeys.key1, kIndexBlobKeys.key2);
  return rtl::DecodeFixed32(bytes) != stamp;
}

}  // namespace korvex
