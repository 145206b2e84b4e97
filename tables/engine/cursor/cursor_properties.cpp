// TDataCursor: table properties, the image of an in-memory table, and
// clones.
#include <cstring>

#include "tables/engine/base/scope_exit.h"
#include "tables/engine/cursor/data_cursor.h"
#include "tables/engine/table/data_session.h"
#include "tables/engine/table/data_table.h"

namespace korvex {

void TDataCursor::SetIsSourceTable(bool value) { SetWhileClosed(source_table_, value); }

void TDataCursor::SetIsTemporary(bool value) { SetWhileClosed(temporary_, value); }

double TDataCursor::GetLastUpdated() const {
  RequireOpen();
  return table_->GetLastUpdated();
}

std::uint32_t TDataCursor::GetPhysicalRecordsUsed() const {
  RequireOpen();
  return table_->GetPhysicalRecordsUsed();
}
std::uint32_t TDataCursor::GetDataFileSize() const {
  RequireOpen();
  return table_->GetDataFileSize();
}
std::uint32_t TDataCursor::GetIndexFileSize() const {
  RequireOpen();
  return table_->GetIndexFileSize();
}
std::uint32_t TDataCursor::GetBlobFileSize() const {
  RequireOpen();
  return table_->GetBlobFileSize();
}

// ---- the image of an in-memory table -----------------------------------------

void TDataCursor::BeginBufferLoad() {
  RequireOpen();
  table_->BeginBufferLoad();
}
std::uint32_t TDataCursor::LoadFromBuffer(void* destination, std::uint32_t offset, std::uint32_t count) {
  RequireOpen();
  return table_->LoadFromBuffer(destination, offset, count);
}
void TDataCursor::EndBufferLoad() {
  RequireOpen();
  table_->EndBufferLoad();
}
void TDataCursor::BeginBufferSave() {
  RequireOpen();
  table_->BeginBufferSave();
}
std::uint32_t TDataCursor::SaveToBuffer(const void* source, std::uint32_t offset, std::uint32_t count) {
  RequireOpen();
  return table_->SaveToBuffer(source, offset, count);
}
void TDataCursor::EndBufferSave() {
  RequireOpen();
  table_->EndBufferSave();
  // The table is another now: no record of the old one stays current, and
  // no range of the old one.
  current_record_.assign(record_size_, 0);
  unread_ = 0;
  // The filters were the old table's too.
  filters_.reset();
  filter_source_.reset();
  filters_in_force_ = false;
  SetToBegin();
  if (range_active_) ResetRange();
  Refresh();
}
std::uint32_t TDataCursor::GetBufferSize() const {
  RequireOpen();
  return table_->GetBufferSize();
}

// ---- clones ------------------------------------------------------------------------

std::unique_ptr<TDataCursor> TDataCursor::CloneCursor() {
  CheckForChangeDetection();
  ScopeExit end_read{[&] { ReadUnlockTable(); }};

  TDataSession* session = directory_->Session();
  const std::string password = table_->GetEncrypted() ? table_->GetPassword() : std::string();
  const bool added = !password.empty() && !session->CheckForPassword(password);
  if (added) session->AddPassword(password);
  ScopeExit remove{[&] {
    if (added) session->DeletePassword(password);
  }};

  auto clone = std::make_unique<TDataCursor>(directory_);
  clone->SetTableName(name_);
  clone->SetExclusive(exclusive_);
  clone->SetReadOnly(read_only_);
  clone->SetInMemory(in_memory_);
  // A table this cursor holds exclusively opens for the clone too.
  clone->SetOverrideExclusive(exclusive_);
  clone->OpenCursor();
  clone->result_set_ = result_set_;
  if (mapped_) clone->SetFieldMapping(fields_);
  clone->suppress_auto_inc_ = suppress_auto_inc_;
  // The same order and the same range.
  clone->SetIndexPos(index_pos_);
  if (range_active_ && !clone->IsPhysicalNavigation()) {
    clone->range_active_ = true;
    clone->range_start_ = range_start_;
    clone->range_end_ = range_end_;
    clone->range_start_length_ = range_start_length_;
    clone->range_end_length_ = range_end_length_;
  }
  // The same filters, active where they are here.
  clone->filter_upkeep_suspended_ = filter_upkeep_suspended_;
  if (filters_) clone->CopyFiltersFrom(*this);
  if (bof_ || eof_ || current_ == 0) {
    if (eof_) clone->SetToEnd();
  } else if (LeftView()) {
    // The record left the view: the clone keeps the same place.
    clone->key_ = key_;
    clone->current_record_ = current_record_;
    clone->KeepPlaceOf(current_);
  } else if (clone->GotoPhysicalRecordNumber(current_) != 0) {
    Fail(err::kRecordNotFound);
  }
  return clone;
}

}  // namespace korvex
