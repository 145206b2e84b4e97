// TDataCursor: the BLOBs open in record buffers. An open BLOB's content
// lives in a TBlobBuffer of the cursor's open list; the buffer's field
// holds its negative handle until the record is written or the BLOB freed.
#include <cstring>

#include "platform/runtime/coding.h"
#include "tables/engine/base/scope_exit.h"
#include "tables/engine/cursor/data_cursor.h"
#include "tables/engine/table/data_table.h"
#include "tables/lib/fieldtypes.h"

namespace korvex {

namespace {

// Offsets and lengths of a BLOB's content fit a signed 32-bit size.
constexpr std::int64_t kMaxBlobLength = 0x7FFFFFFF;

std::int32_t Reference(const std::uint8_t* buffer, const TFieldDefinition& def) {
  return static_cast<std::int32_t>(rtl::DecodeFixed32(buffer + def.Offset + 1));
}
void SetReference(std::uint8_t* buffer, const TFieldDefinition& def, std::int32_t v) {
  rtl::EncodeFixed32(buffer + def.Offset + 1, static_cast<std::uint32_t>(v));
}
std::uint32_t Signature(const std::uint8_t* buffer, const TFieldDefinition& def) {
  return rtl::DecodeFixed32(buffer + def.Offset + 5);
}
void SetSignature(std::uint8_t* buffer, const TFieldDefinition& def, std::uint32_t v) {
  rtl::EncodeFixed32(buffer + def.Offset + 5, v);
}

}  // namespace

TDataCursor::TOpenBlob* TDataCursor::BlobOf(const TFieldDefinition& def, const std::uint8_t* buffer) const {
  if (def.DataType != dtBlob) return nullptr;
  std::int32_t reference = Reference(buffer, def);
  if (reference >= 0) return nullptr;
  auto it = blobs_.find(reference);
  return it == blobs_.end() ? nullptr : &it->second;
}

const TFieldDefinition& TDataCursor::BlobFieldAt(int field, bool physical) const {
  return physical ? GetPhysicalFieldDefinitionByPos(field) : FieldAt(field);
}

TEngineErrorCode TDataCursor::CheckedBlob(int field, const std::uint8_t* buffer, TOpenBlob*& blob,
                                          bool physical) const {
  blob = nullptr;
  const TFieldDefinition& def = BlobFieldAt(field, physical);
  if (def.DataType != dtBlob) return err::kInvalidBlobField;
  blob = BlobOf(def, buffer);
  return blob ? 0 : err::kInvalidBlobHandle;
}

std::uint32_t TDataCursor::GetBlobRecord(const std::uint8_t* field) { return rtl::DecodeFixed32(field + 1); }

std::uint32_t TDataCursor::GetBlobSignature(int field, const std::uint8_t* buffer, bool physical) const {
  return Signature(buffer, BlobFieldAt(field, physical));
}

void TDataCursor::PutBlobSignature(int field, std::uint8_t* buffer, bool physical, std::uint32_t value) const {
  SetSignature(buffer, BlobFieldAt(field, physical), value);
}

bool TDataCursor::ValidBlobHandle(int field, const std::uint8_t* buffer, bool physical) const {
  TOpenBlob* blob = nullptr;
  return CheckedBlob(field, buffer, blob, physical) == 0;
}

TEngineErrorCode TDataCursor::OpenBlob(int field, std::uint8_t* buffer, std::uint8_t mode, bool internal,
                                       bool physical) {
  RequireOpen();
  const TFieldDefinition& def = BlobFieldAt(field, physical);
  if (def.DataType != dtBlob) return err::kInvalidBlobField;
  const std::int32_t reference = Reference(buffer, def);
  if (reference < 0) {
    auto it = blobs_.find(reference);
    if (it == blobs_.end()) return err::kInvalidBlobHandle;
    // A blob the user holds stays the user's when the engine opens it again
    // for its own reading (an internal free must not close it, nor drop its
    // unsaved edits); a user's open of an engine-held blob makes it the user's.
    if (!internal) it->second.Internal = false;
    return 0;
  }
  if (blobs_.size() >= kMaxOpenBlobs) return err::kTooManyBlobs;
  const std::uint32_t record = rtl::DecodeFixed32(buffer + 1);
  auto content = std::make_unique<TBlobBuffer>(&table_->BlobFile(), this, record, def.FieldNumber,
                                               static_cast<std::uint32_t>(reference), Signature(buffer, def),
                                               false, mode);
  if (reference != 0) {
    ReadLock();
    ScopeExit release{[&] { ReadUnlock(); }};
    content->Read();
  }
  // Handles count down from -1 and are not reused while the cursor lives
  // (a stale buffer then names no BLOB rather than another one).
  do {
    last_handle_ = last_handle_ >= 0x7FFFFFFF ? 1 : last_handle_ + 1;
  } while (blobs_.count(-last_handle_));
  const std::int32_t handle = -last_handle_;
  blobs_[handle] = TOpenBlob{std::move(content), internal};
  SetReference(buffer, def, handle);
  return 0;
}

TEngineErrorCode TDataCursor::FreeBlob(int field, std::uint8_t* buffer, bool internal, bool physical) {
  TOpenBlob* blob = nullptr;
  if (TEngineErrorCode status = CheckedBlob(field, buffer, blob, physical)) return status;
  if (blob->Internal != internal) return 0;
  const TFieldDefinition& def = BlobFieldAt(field, physical);
  const std::int32_t handle = Reference(buffer, def);
  SetReference(buffer, def, static_cast<std::int32_t>(blob->Buffer->FirstBlock()));
  blobs_.erase(handle);
  return 0;
}

TEngineErrorCode TDataCursor::GetBlob(int field, const std::uint8_t* buffer, std::int64_t offset, std::uint8_t* dest,
                                      std::int64_t length, std::int64_t& count, bool physical) {
  count = 0;
  TOpenBlob* blob = nullptr;
  if (TEngineErrorCode status = CheckedBlob(field, buffer, blob, physical)) return status;
  if (offset < 0 || offset > kMaxBlobLength) return err::kInvalidBlobOffset;
  if (length < 0 || length > kMaxBlobLength) return err::kInvalidBlobLength;
  const std::int64_t size = blob->Buffer->Size();
  TEngineErrorCode status = 0;
  count = length;
  if (offset + length > size) {
    count = offset < size ? size - offset : 0;
    status = err::kEndOfBlob;
  }
  if (count > 0) std::memcpy(dest, blob->Buffer->Content().data() + offset, static_cast<std::size_t>(count));
  return status;
}

TEngineErrorCode TDataCursor::PutBlob(int field, std::uint8_t* buffer, std::int64_t offset,
                                      const std::uint8_t* source, std::int64_t length, bool physical) {
  TOpenBlob* blob = nullptr;
  if (TEngineErrorCode status = CheckedBlob(field, buffer, blob, physical)) return status;
  if (offset < 0 || offset > kMaxBlobLength) return err::kInvalidBlobOffset;
  if (length < 0 || offset + length > kMaxBlobLength) return err::kInvalidBlobLength;
  blob->Buffer->WriteBytes(static_cast<std::uint32_t>(offset), source, static_cast<std::uint32_t>(length));
  buffer[BlobFieldAt(field, physical).Offset] = blob->Buffer->Size() > 0 ? 1 : 0;
  return 0;
}

TEngineErrorCode TDataCursor::TruncateBlob(int field, std::uint8_t* buffer, std::int64_t length, bool physical) {
  TOpenBlob* blob = nullptr;
  if (TEngineErrorCode status = CheckedBlob(field, buffer, blob, physical)) return status;
  // A longer length grows the BLOB with zero bytes.
  if (length < 0 || length > kMaxBlobLength) return err::kInvalidBlobLength;
  blob->Buffer->SetSize(static_cast<std::uint32_t>(length));
  buffer[BlobFieldAt(field, physical).Offset] = length > 0 ? 1 : 0;
  return 0;
}

TEngineErrorCode TDataCursor::GetBlobSize(int field, const std::uint8_t* buffer, std::int64_t& size, bool physical) {
  size = 0;
  TOpenBlob* blob = nullptr;
  if (TEngineErrorCode status = CheckedBlob(field, buffer, blob, physical)) return status;
  size = blob->Buffer->Size();
  return 0;
}

void TDataCursor::FreeAllBlobs(bool all) {
  for (auto it = blobs_.begin(); it != blobs_.end();) {
    if (all || it->second.Internal) it = blobs_.erase(it);
    else ++it;
  }
}

// ---- record writes ----------------------------------------------------------------

void TDataCursor::UpdateBlobSignatures(std::uint8_t* buffer) {
  for (const TFieldDefinition& def : fields_) {
    TOpenBlob* blob = BlobOf(def, buffer);
    if (!blob || !blob->Buffer->Modified()) continue;
    std::uint32_t signature = table_->DataFile().GetNextFreeBlobSignature();
    blob->Buffer->SetNextSignature(signature);
    SetSignature(buffer, def, signature);
  }
}

bool TDataCursor::FlushBlobBuffers(const std::uint8_t* buffer) {
  bool any = false;
  for (const TFieldDefinition& def : fields_) {
    TOpenBlob* blob = BlobOf(def, buffer);
    if (!blob || !blob->Buffer->Modified()) continue;
    if (blob->Buffer->Size() < 1) blob->Buffer->Remove();
    else blob->Buffer->Write();
    any = true;
  }
  return any;
}

void TDataCursor::UpdateBlobOffsets(std::uint8_t* buffer) {
  // The open BLOBs stay in the list until the write is in the files
  // (TStoredBlobs::Keep).
  for (const TFieldDefinition& def : fields_) {
    TOpenBlob* blob = BlobOf(def, buffer);
    if (!blob) continue;
    const std::uint32_t first = blob->Buffer->FirstBlock();
    SetReference(buffer, def, static_cast<std::int32_t>(first));
    buffer[def.Offset] = first != 0 ? 1 : 0;
    if (first == 0) std::memset(buffer + def.Offset + 5, 0, 4);
  }
}

TDataCursor::TStoredBlobs::TStoredBlobs(TDataCursor& cursor, std::uint8_t* buffer)
    : cursor_(cursor), buffer_(buffer) {
  if (!cursor.table_->HasBlobs()) return;
  for (const TFieldDefinition& def : cursor.fields_) {
    if (def.DataType != dtBlob) continue;
    TField field{&def, {}, 0, nullptr, {}};
    std::memcpy(field.bytes, buffer + def.Offset, sizeof field.bytes);
    if (TOpenBlob* blob = cursor.BlobOf(def, buffer)) {
      field.handle = Reference(buffer, def);
      field.blob = blob->Buffer.get();
      field.state = field.blob->State();
    }
    fields_.push_back(field);
  }
}

TDataCursor::TStoredBlobs::~TStoredBlobs() {
  if (kept_) return;
  for (const TField& field : fields_) {
    std::memcpy(buffer_ + field.def->Offset, field.bytes, sizeof field.bytes);
    if (field.blob) field.blob->Restore(field.state);
  }
}

void TDataCursor::TStoredBlobs::Keep() {
  kept_ = true;
  for (const TField& field : fields_)
    if (field.blob) cursor_.blobs_.erase(field.handle);
  cursor_.FreeAllBlobs(false);
}

void TDataCursor::DeleteAllBlobs(std::vector<std::uint8_t>& record, std::uint32_t n) {
  // The stored record's fields, whatever view the cursor has of them.
  for (const TFieldDefinition& def : physical_fields_) {
    if (def.DataType != dtBlob) continue;
    const std::int32_t reference = Reference(record.data(), def);
    if (reference <= 0) continue;
    TBlobBuffer blob(&table_->BlobFile(), this, n, def.FieldNumber, static_cast<std::uint32_t>(reference),
                     Signature(record.data(), def));
    blob.Remove();
  }
  ClearBlobReferences(record.data());
}

void TDataCursor::ClearBlobReferences(std::uint8_t* record) const {
  for (const TFieldDefinition& def : physical_fields_) {
    if (def.DataType != dtBlob) continue;
    record[def.Offset] = 0;
    SetReference(record, def, 0);
  }
}

// ---- whole BLOBs of a record buffer ------------------------------------------

std::vector<std::uint8_t> TDataCursor::ReadBlobContent(int field, const std::uint8_t* buffer) {
  std::vector<std::uint8_t> scratch(buffer, buffer + record_size_);
  auto check = [&](TEngineErrorCode status) {
    if (status != 0) Fail(status, FieldAt(field).Name);
  };
  check(OpenBlob(field, scratch.data(), 1, true));
  std::vector<std::uint8_t> content;
  try {
    std::int64_t size = 0, count = 0;
    check(GetBlobSize(field, scratch.data(), size));
    content.resize(static_cast<std::size_t>(size));
    if (size > 0) check(GetBlob(field, scratch.data(), 0, content.data(), size, count));
    content.resize(static_cast<std::size_t>(count));
  } catch (...) {
    FreeBlob(field, scratch.data(), true);
    throw;
  }
  check(FreeBlob(field, scratch.data(), true));
  return content;
}

void TDataCursor::PutBlobContent(int field, std::uint8_t* buffer, const std::vector<std::uint8_t>& content) {
  auto check = [&](TEngineErrorCode status) {
    if (status != 0) Fail(status, FieldAt(field).Name);
  };
  check(OpenBlob(field, buffer, 2));
  check(PutBlob(field, buffer, 0, content.data(), static_cast<std::int64_t>(content.size())));
}

}  // namespace korvex
