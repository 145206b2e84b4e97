// TDataCursor: what every write shares: the next record ID, storing a record's bytes, the closing flush.
#include <cstring>

#include "platform/runtime/coding.h"
#include "tables/engine/cursor/data_cursor.h"
#include "tables/engine/table/data_table.h"

namespace korvex {

std::uint32_t TDataCursor::PeekNextRecordID() const {
  // The same wrap as the table's counter: after 2147483647 comes 1.
  std::uint32_t last = table_->DataFile().GetLastRecordID();
  return last >= 0x7FFFFFFF ? 1 : last + 1;
}

bool TDataCursor::StoreRecord(std::uint8_t* buffer, TRecord* record, std::uint32_t n) {
  bool blobs_written = false;
  if (table_->HasBlobs() && !blobs_.empty()) {
    UpdateBlobSignatures(buffer);
    blobs_written = FlushBlobBuffers(buffer);
    UpdateBlobOffsets(buffer);
  }
  record->Data.resize(physical_size_);
  std::memcpy(record->Data.data() + kRecordPrefixSize, buffer + kRecordPrefixSize,
              physical_size_ - kRecordPrefixSize);
  record->SetDeleted(false);
  rtl::EncodeFixed32(record->Data.data() + 1, n);
  record->SetRecordID(GetRecordID(buffer));
  record->Modified = true;
  current_record_ = record->Data;
  unread_ = 0;
  left_ = 0;
  rtl::EncodeFixed32(current_record_.data() + 1, n);
  CompleteCurrent();
  return blobs_written;
}

void TDataCursor::Flush(bool blobs, bool keys) {
  // The write's one closing flush (none while the writes are held); a
  // failure has undone the write in the table before it reaches here.
  table_->EndWrite(true, keys, blobs);
  // This cursor's own writes are no foreign change.
  SynchLastUpdateStamps();
}

}  // namespace korvex
