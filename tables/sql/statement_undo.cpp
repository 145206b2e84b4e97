#include "tables/sql/statement_undo.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "tables/engine/errors/engine_error.h"
#include "tables/lib/fieldtypes.h"

namespace korvex {

namespace {

// A BLOB field's bytes in a record: the null mark, the first block and the
// signature.
constexpr std::size_t kBlobFieldBytes = 9;

void Require(TEngineErrorCode status) { Check(status); }

}  // namespace

TStatementUndo::TStatementUndo(TDataCursor& cursor, bool suppress_auto_inc, std::vector<int> rewritten_blobs)
    : cursor_(cursor),
      suppress_auto_inc_(suppress_auto_inc),
      rewritten_blobs_(std::move(rewritten_blobs)) {
  for (int f = 1; f <= cursor_.GetFieldCount(); ++f)
    if (cursor_.GetFieldDefinitionByPos(f).DataType == dtBlob) all_blobs_.push_back(f);
}

void TStatementUndo::Appended() {
  steps_.push_back({TKind::Appended, cursor_.GetPhysicalRecordNumber(), bytes_.size()});
}

void TStatementUndo::Modifying(const std::uint8_t* old) { Note(TKind::Modified, old, rewritten_blobs_); }

void TStatementUndo::Deleting(const std::uint8_t* old) { Note(TKind::Deleted, old, all_blobs_); }

void TStatementUndo::Note(TKind kind, const std::uint8_t* old, const std::vector<int>& blobs) {
  const std::size_t at = bytes_.size();
  steps_.push_back({kind, cursor_.GetPhysicalRecordNumber(), at});
  try {
    bytes_.insert(bytes_.end(), old, old + cursor_.GetRecordSize());
    for (int field : blobs) {
      const std::vector<std::uint8_t> content = cursor_.ReadBlobContent(field, old);
      const std::uint64_t size = content.size();
      const auto* length = reinterpret_cast<const std::uint8_t*>(&size);
      bytes_.insert(bytes_.end(), length, length + sizeof size);
      bytes_.insert(bytes_.end(), content.begin(), content.end());
    }
  } catch (...) {
    Forget();
    throw;
  }
}

void TStatementUndo::Forget() {
  if (steps_.empty()) return;
  bytes_.resize(steps_.back().bytes);
  steps_.pop_back();
}

std::size_t TStatementUndo::PutBlobs(std::size_t at, std::uint8_t* buffer, const std::vector<int>& blobs) {
  for (int field : blobs) {
    std::uint64_t size = 0;
    std::memcpy(&size, bytes_.data() + at, sizeof size);
    at += sizeof size;
    const std::uint8_t* content = bytes_.data() + at;
    at += size;
    Require(cursor_.OpenBlob(field, buffer, 2));
    Require(cursor_.TruncateBlob(field, buffer, 0));
    if (size != 0) Require(cursor_.PutBlob(field, buffer, 0, content, static_cast<std::int64_t>(size)));
  }
  return at;
}

void TStatementUndo::Undo() {
  cursor_.FreeAllBlobs(true);
  const std::size_t size = cursor_.GetRecordSize();
  std::vector<std::uint8_t> buffer(size);
  auto go_to = [&](std::uint32_t n) {
    if (cursor_.GotoPhysicalRecordNumber(n) != 0 || cursor_.GetPhysicalRecordNumber() != n)
      RaiseError(err::kRecordNotFound);
  };
  while (!steps_.empty()) {
    const TStep step = steps_.back();
    switch (step.kind) {
      case TKind::Appended:
        go_to(step.record);
        cursor_.DeleteRecord(nullptr, false);
        break;
      case TKind::Modified: {
        go_to(step.record);
        std::memcpy(buffer.data(), bytes_.data() + step.bytes, size);
        // The memos the statement wrote are written again with their old
        // content, through the BLOBs the record holds now.
        const std::uint8_t* now = cursor_.GetCurrentRecordBuffer();
        for (int field : rewritten_blobs_) {
          const std::size_t offset = cursor_.GetFieldDefinitionByPos(field).Offset;
          std::memcpy(buffer.data() + offset, now + offset, kBlobFieldBytes);
        }
        PutBlobs(step.bytes + size, buffer.data(), rewritten_blobs_);
        cursor_.UserWriteLockRecord(0);
        cursor_.ModifyRecord(buffer.data(), true, false);
        break;
      }
      case TKind::Deleted: {
        std::memcpy(buffer.data(), bytes_.data() + step.bytes, size);
        // Its BLOBs were freed with it: new ones take their content.
        for (int field : all_blobs_)
          std::memset(buffer.data() + cursor_.GetFieldDefinitionByPos(field).Offset, 0, kBlobFieldBytes);
        PutBlobs(step.bytes + size, buffer.data(), all_blobs_);
        // Appended with its own record ID.
        cursor_.KeepGivenRecordIDs(true);
        try {
          cursor_.AppendRecord(buffer.data(), false);
        } catch (...) {
          cursor_.KeepGivenRecordIDs(suppress_auto_inc_);
          throw;
        }
        cursor_.KeepGivenRecordIDs(suppress_auto_inc_);
        break;
      }
    }
    cursor_.FreeAllBlobs(true);
    Forget();
  }
  cursor_.SetToBegin();
}

}  // namespace korvex
