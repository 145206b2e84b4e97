#include "tables/components/streams.h"

#include <algorithm>

#include "platform/runtime/exceptions.h"
#include "tables/components/datasets.h"
#include "tables/components/messages.h"
#include "tables/engine/cursor/data_cursor.h"
#include "tables/engine/errors/engine_error.h"
#include "tables/engine/table/data_table.h"

namespace korvex {

namespace {
std::int64_t SeekTarget(std::int64_t position, std::int64_t size, std::int64_t offset, int origin) {
  switch (origin) {
    case rtl::soFromBeginning: return offset;
    case rtl::soFromCurrent: return position + offset;
    default: return size + offset;
  }
}
}  // namespace

// ---- table stream ----------------------------------------------------------------

TKORVEXTableStream::TKORVEXTableStream(TDataCursor* cursor, TKORVEXTableStreamMode mode)
    : cursor_(cursor), mode_(mode) {
  TDataTable* table = cursor_->IsOpen() ? cursor_->Table() : nullptr;
  if (table == nullptr || !table->InMemory())
    rtl::DatabaseErrorFmt(cmsg::kNotInMemoryTable, {cursor_->GetTableName()});
  if (mode_ == msWrite) {
    table->BeginBufferSave();
    Truncate();
  } else {
    table->BeginBufferLoad();
  }
}

TKORVEXTableStream::~TKORVEXTableStream() {
  try {
    Finish();
  } catch (...) {
    // A destructor cannot report (Finish does); the table keeps its former
    // content.
  }
}

void TKORVEXTableStream::Finish() {
  if (finished_) return;
  finished_ = true;
  if (mode_ == msWrite) cursor_->Table()->EndBufferSave();
  else cursor_->Table()->EndBufferLoad();
}

std::int64_t TKORVEXTableStream::Read(void* buffer, std::int64_t count) {
  if (count <= 0 || position_ < 0 || position_ > UINT32_MAX) return 0;
  auto n = static_cast<std::uint32_t>(std::min<std::int64_t>(count, UINT32_MAX));
  std::uint32_t got = cursor_->Table()->LoadFromBuffer(buffer, static_cast<std::uint32_t>(position_), n);
  position_ += got;
  return got;
}

std::int64_t TKORVEXTableStream::Write(const void* buffer, std::int64_t count) {
  if (count <= 0 || position_ < 0 || position_ > UINT32_MAX) return 0;
  auto n = static_cast<std::uint32_t>(std::min<std::int64_t>(count, UINT32_MAX));
  std::uint32_t taken = cursor_->Table()->SaveToBuffer(buffer, static_cast<std::uint32_t>(position_), n);
  position_ += taken;
  return taken;
}

std::int64_t TKORVEXTableStream::Seek(std::int64_t offset, int origin) {
  position_ = SeekTarget(position_, cursor_->Table()->GetBufferSize(), offset, origin);
  return position_;
}

void TKORVEXTableStream::SetSize(std::int64_t size) {
  position_ = size;
  Truncate();
}

void TKORVEXTableStream::Truncate() {
  cursor_->Table()->SaveToBuffer(nullptr, static_cast<std::uint32_t>(position_), 0);
}

// ---- BLOB stream -------------------------------------------------------------------

TKORVEXBlobStream::TKORVEXBlobStream(db::TField* field, db::TBlobStreamMode mode)
    : field_(dynamic_cast<db::TBlobField*>(field)),
      dataset_(dynamic_cast<TKORVEXDataSet*>(field->DataSet())),
      field_no_(field->FieldNo()) {
  if (field_ == nullptr || dataset_ == nullptr) rtl::DatabaseErrorFmt(db::msg::kFieldAccess, {field->DisplayName(), "BLOB"});
  buffer_ = dataset_->GetActiveRecordBuffer();
  if (buffer_ == nullptr) return;
  TDataCursor* cursor = dataset_->Handle();
  if (!field_->Modified || !cursor->ValidBlobHandle(field_no_, buffer_)) {
    std::uint8_t open_mode = 1;
    if (mode != db::bmRead) {
      if (field_->ReadOnly()) rtl::DatabaseErrorFmt(db::msg::kFieldReadOnly, {field_->DisplayName()});
      if (dataset_->State() != db::dsEdit && dataset_->State() != db::dsInsert)
        rtl::DatabaseError(db::msg::kNotEditing);
      open_mode = 2;
    }
    dataset_->CheckStatus(cursor->OpenBlob(field_no_, buffer_, open_mode));
  }
  opened_ = true;
  if (mode == db::bmWrite) Truncate();
}

TKORVEXBlobStream::~TKORVEXBlobStream() {
  if (!opened_) return;
  try {
    if (modified_) field_->Modified = true;
    if (!field_->Modified) dataset_->Handle()->FreeBlob(field_no_, buffer_);
    if (modified_) dataset_->DataEvent(db::deFieldChange, reinterpret_cast<std::intptr_t>(field_));
  } catch (...) {
  }
}

std::int64_t TKORVEXBlobStream::Read(void* buffer, std::int64_t count) {
  if (!opened_) return 0;
  std::int64_t got = 0;
  TEngineErrorCode status = dataset_->Handle()->GetBlob(field_no_, buffer_, position_,
                                                        static_cast<std::uint8_t*>(buffer), count, got);
  switch (status) {
    case 0:
    case err::kEndOfBlob:
      position_ += got;
      return got;
    case err::kInvalidBlobOffset:
      return got;
    default:
      dataset_->CheckStatus(status);
      return 0;
  }
}

std::int64_t TKORVEXBlobStream::Write(const void* buffer, std::int64_t count) {
  if (!opened_) return 0;
  // A refused write changes nothing: the position stays and the field is
  // not marked modified.
  dataset_->CheckStatus(dataset_->Handle()->PutBlob(field_no_, buffer_, position_,
                                                    static_cast<const std::uint8_t*>(buffer), count));
  position_ += count;
  modified_ = true;
  return count;
}

std::int64_t TKORVEXBlobStream::Seek(std::int64_t offset, int origin) {
  position_ = SeekTarget(position_, BlobSize(), offset, origin);
  return position_;
}

void TKORVEXBlobStream::SetSize(std::int64_t size) {
  position_ = size;
  Truncate();
}

void TKORVEXBlobStream::Truncate() {
  if (!opened_) return;
  dataset_->CheckStatus(dataset_->Handle()->TruncateBlob(field_no_, buffer_, position_));
  modified_ = true;
}

std::int64_t TKORVEXBlobStream::BlobSize() {
  if (!opened_) return 0;
  std::int64_t size = 0;
  dataset_->CheckStatus(dataset_->Handle()->GetBlobSize(field_no_, buffer_, size));
  return size;
}

}  // namespace korvex
