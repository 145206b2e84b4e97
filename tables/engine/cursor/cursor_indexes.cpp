// TDataCursor: index definitions at table creation, index keys kept in
// step with every record write, adding, deleting and rebuilding indexes.
//
// Every write builds the keys of all indexes from the record (the primary
// index only when the table has one); a unique index refuses a key it
// already holds in the same descent that would insert it. Keys of other
// indexes may have changed by then: the write's undo puts every page and
// header back, so a refused write leaves the table as it was (the records
// are written after the keys). The system index "Sys Deleted" holds
// one key per physical record: its deleted flag and its record ID.
#include <algorithm>
#include <array>
#include <cstring>

#include "platform/runtime/coding.h"
#include "platform/runtime/sysutils.h"
#include "tables/engine/base/scope_exit.h"
#include "tables/engine/cursor/data_cursor.h"
#include "tables/engine/table/data_session.h"
#include "tables/engine/table/data_table.h"
#include "tables/lib/fieldtypes.h"
#include "tables/lib/text_values.h"

namespace korvex {

// ---- definitions at creation ---------------------------------------------------

void TDataCursor::VerifyIndexInformation(std::vector<TIndexDefinition>& indexes,
                                         const std::vector<TFieldDefinition>& fields,
                                         bool allow_empty_primary) const {
  for (std::size_t i = 0; i < indexes.size(); ++i) {
    TIndexDefinition& d = indexes[i];
    const bool primary = i == 0;
    if (primary) {
      d.Name.clear();
      d.Unique = 1;
    } else {
      d.Name = rtl::Trim(d.Name);
      if (d.Name.empty() || !IsAlpha(d.Name[0])) RaiseError(err::kInvalidIndexName, name_, {}, d.Name);
      for (std::size_t j = 1; j < i; ++j)
        if (rtl::SameText(indexes[j].Name, d.Name)) RaiseError(err::kIndexExists, name_, {}, d.Name);
    }
    const std::string label = primary ? std::string("Primary") : d.Name;
    if (d.FieldCount == 0)
      while (d.FieldCount < kMaxKeyFields && d.Fields[d.FieldCount] != 0) ++d.FieldCount;
    if (d.FieldCount > kMaxKeyFields) RaiseError(err::kInvalidKeySize, name_, {}, label);
    std::uint32_t size = 0;
    for (int k = 0; k < d.FieldCount; ++k) {
      const std::uint16_t number = d.Fields[k];
      if (number == 0 || number > fields.size())
        RaiseError(err::kInvalidIndexField, name_, std::to_string(number), label);
      if (fields[number - 1].DataType == dtBlob) RaiseError(err::kInvalidIndexFieldType, name_, {}, label);
      size += fields[number - 1].PhysicalSize + 1u;
    }
    if (size > kMaxKeyFieldBytes || (size == 0 && (!primary || !allow_empty_primary)))
      RaiseError(err::kInvalidKeySize, name_, {}, label);
    for (int k = d.FieldCount; k < kMaxKeyFields; ++k) d.Fields[k] = 0;
    d.KeySize = static_cast<std::uint16_t>(size + (d.Unique ? 0 : kRecordIDKeySize));
    if (primary && size == 0) d = TIndexDefinition{};
    d.Root = d.FreePage = 0;
  }
}

void TDataCursor::AddIndexDefinitions(TDataTable* table, const TTableCreation& creation,
                                      const std::vector<TFieldDefinition>& fields) const {
  (void)fields;
  TIndexFile& file = table->IndexFile();
  for (std::size_t i = 0; i < creation.Indexes.size(); ++i) {
    if (i == 0) file.AddPrimaryIndex(creation.Indexes[0]);
    else file.AddSecondaryIndex(creation.Indexes[i]);
  }
}

// ---- keys of writes --------------------------------------------------------------

TDataCursor::TSlotList TDataCursor::KeyedPositions() const {
  TSlotList positions;
  const TIndexFile& file = table_->IndexFile();
  if (!file.GetNoPrimaryIndex()) positions.push_back(0);
  for (int p = 1; p <= file.GetIndexCount(); ++p) positions.push_back(static_cast<std::uint8_t>(p));
  return positions;
}

void TDataCursor::BuildKey(std::uint8_t slot, const std::uint8_t* record, std::uint8_t* key) const {
  if (slot == kSystemSlot) {
    BuildSystemKey(record, key);
    return;
  }
  const TDataFile& data = table_->DataFile();
  BuildIndexKey(table_->IndexFile().GetIndexDefinition(slot), physical_fields_, data.GetLanguageID(),
                data.GetSortID(), record, key);
}

TDataCursor::Key TDataCursor::KeyOf(std::uint8_t slot, const std::uint8_t* record) const {
  const TIndexDefinition& d = table_->IndexFile().GetIndexDefinition(slot);
  Key key(std::max<std::size_t>(d.KeySize, kRecordIDKeySize + 1u), 0);
  BuildKey(slot, record, key.data());
  key.resize(d.KeySize);
  return key;
}

bool TDataCursor::SameKeyBytes(std::uint8_t slot, const std::uint8_t* a, const std::uint8_t* b) const {
  // The record ID is part of the system key, of a non-unique index's keys
  // and of an auto-increment field's.
  if (rtl::DecodeFixed32(a + kRecordIDOffset) != rtl::DecodeFixed32(b + kRecordIDOffset)) return false;
  if (slot == kSystemSlot) return a[0] == b[0];
  const TIndexDefinition& d = table_->IndexFile().GetIndexDefinition(slot);
  for (int i = 0; i < d.FieldCount && i < kMaxKeyFields; ++i) {
    const TFieldDefinition& f = physical_fields_.at(d.Fields[i] - 1u);
    if (f.IsAutoIncrement()) continue;
    if (std::memcmp(a + f.Offset, b + f.Offset, f.PhysicalSize + 1u) != 0) return false;
  }
  return true;
}

bool TDataCursor::SameKeyBytesEverywhere(const std::uint8_t* a, const std::uint8_t* b) const {
  const TIndexFile& file = table_->IndexFile();
  TKeySpans& k = key_spans_;
  if (!k.known || k.file != &file || k.edits != file.SlotEdits() || k.count != file.GetIndexCount() ||
      k.no_primary != file.GetNoPrimaryIndex()) {
    k.known = false;
    k.spans.clear();
    std::vector<std::pair<std::uint32_t, std::uint32_t>> fields;
    for (std::uint8_t slot : KeyedPositions()) {
      const TIndexDefinition& d = file.GetIndexDefinition(slot);
      for (int i = 0; i < d.FieldCount && i < kMaxKeyFields; ++i) {
        const TFieldDefinition& f = physical_fields_.at(d.Fields[i] - 1u);
        if (!f.IsAutoIncrement()) fields.emplace_back(f.Offset, f.PhysicalSize + 1u);
      }
    }
    std::sort(fields.begin(), fields.end());
    for (const auto& [offset, length] : fields) {
      if (!k.spans.empty() && k.spans.back().first + k.spans.back().second >= offset)
        k.spans.back().second = std::max(k.spans.back().second, offset + length - k.spans.back().first);
      else
        k.spans.emplace_back(offset, length);
    }
    k.file = &file;
    k.edits = file.SlotEdits();
    k.count = file.GetIndexCount();
    k.no_primary = file.GetNoPrimaryIndex();
    k.known = true;
  }
  // With no index at all no key is built, not even from the record ID.
  if (file.GetNoPrimaryIndex() && file.GetIndexCount() == 0) return true;
  if (rtl::DecodeFixed32(a + kRecordIDOffset) != rtl::DecodeFixed32(b + kRecordIDOffset)) return false;
  for (const auto& [offset, length] : k.spans)
    if (std::memcmp(a + offset, b + offset, length) != 0) return false;
  return true;
}

void TDataCursor::RaiseKeyViolation(std::uint8_t slot) const {
  RaiseError(err::kDuplicateKey, name_, {}, table_->IndexFile().GetIndexDefinition(slot).Name);
}

void TDataCursor::AddKeys(const std::uint8_t* record, std::uint32_t n, std::uint32_t& rank) {
  rank = 0;
  const TSlotList positions = KeyedPositions();
  if (positions.empty()) return;
  std::array<std::uint8_t, kMaxKeySize> key{};
  for (std::uint8_t slot : positions) {
    const TKeyComparator compare = ComparatorOf(slot);
    TIndexTree tree(table_->IndexFile(), slot, compare, this);
    BuildKey(slot, record, key.data());
    if (!tree.Add(key.data(), n, slot == index_pos_ ? &rank : nullptr)) RaiseKeyViolation(slot);
  }
}

void TDataCursor::ReplaceKey(std::uint8_t slot, const Key& old_key, const Key& new_key, std::uint32_t n) {
  if (old_key == new_key) return;
  const TKeyComparator compare = ComparatorOf(slot);
  TIndexTree tree(table_->IndexFile(), slot, compare, this);
  if (!tree.Remove(old_key.data())) RaiseError(err::kIndexPagesCorrupt, name_, {}, table_->IndexFile().GetIndexDefinition(slot).Name);
  if (!tree.Add(new_key.data(), n)) RaiseKeyViolation(slot);
}

bool TDataCursor::ReplaceSystemKey(const std::uint8_t* old_key, const std::uint8_t* new_key, std::uint32_t n,
                                   std::uint32_t* rank) {
  // A table with records whose system index was never filled (its records
  // were written without it) stays without one.
  if (table_->IndexFile().GetRootPtr(kSystemSlot) == 0 && table_->DataFile().GetPhysicalRecordsUsed() > 0) return true;
  const TKeyComparator compare;
  TIndexTree tree(table_->IndexFile(), kSystemSlot, compare, this);
  return old_key ? tree.Replace(old_key, new_key, n, rank) : tree.Add(new_key, n, rank);
}

void TDataCursor::RemoveKey(std::uint8_t slot, const std::uint8_t* key, TIndexTree::TFollower* follower,
                            const TIndexTree::TPathHint* hint) {
  const TKeyComparator compare = ComparatorOf(slot);
  if (!TIndexTree(table_->IndexFile(), slot, compare, this).Remove(key, follower, hint))
    RaiseError(err::kIndexPagesCorrupt, name_, {}, table_->IndexFile().GetIndexDefinition(slot).Name);
}

// ---- adding, deleting, rebuilding -------------------------------------------------------

void TDataCursor::BuildIndex(std::uint8_t slot) {
  TDataFile& data = table_->DataFile();
  const std::uint32_t used = data.GetPhysicalRecordsUsed();
  const TKeyComparator compare = ComparatorOf(slot);
  TIndexTree tree(table_->IndexFile(), slot, compare, this);
  for (std::uint32_t n = 1; n <= used; ++n) {
    TRecord* record = FetchRecord(n, 1);
    const bool live = !record->Deleted();
    Key key;
    if (live) key = KeyOf(slot, record->Data.data());
    data.PutRecord(record);
    if (live) {
      // A duplicate in a unique index refuses the whole index; the caller
      // takes it away again, so no record is lost.
      if (!tree.Add(key.data(), n))
        RaiseError(err::kDuplicateKey, name_, {}, table_->IndexFile().GetIndexDefinition(slot).Name);
    }
    DoIndexProgress(n, static_cast<std::uint8_t>((100ull * n + used / 2) / used));
  }
}

void TDataCursor::AddPrimaryIndex(TIndexDefinition& definition) {
  RequireOpen();
  CheckExclusive();
  CheckNotReadOnly();
  std::vector<TIndexDefinition> check{definition};
  VerifyIndexInformation(check, physical_fields_, true);
  definition = check[0];
  if (definition.FieldCount == 0) return;
  table_->IndexFile().AddPrimaryIndex(definition);
  BuildAddedIndex(0);
}

void TDataCursor::AddSecondaryIndex(TIndexDefinition& definition) {
  RequireOpen();
  CheckExclusive();
  CheckNotReadOnly();
  std::vector<TIndexDefinition> check{TIndexDefinition{}, definition};
  VerifyIndexInformation(check, physical_fields_, true);
  definition = check[1];
  if (IndexPosOfName(definition.Name, 1) >= 0) RaiseError(err::kIndexExists, name_, {}, definition.Name);
  TIndexFile& file = table_->IndexFile();
  file.AddSecondaryIndex(definition);
  BuildAddedIndex(file.GetIndexCount());
}

void TDataCursor::BuildAddedIndex(std::uint8_t slot) {
  TIndexFile& file = table_->IndexFile();
  try {
    BuildIndex(slot);
  } catch (...) {
    // Refused (a duplicate in a unique index) or failed: the index goes
    // again and no record is touched.
    const TKeyComparator compare = ComparatorOf(slot);
    TIndexTree(file, slot, compare, this).FreeAllPages();
    file.DeleteIndex(slot, true);
    throw;
  }
  table_->MarkWritten();
  table_->NoteChange();  // filter bitmaps are rebuilt for the new index
  InternalSetIndexPos(index_pos_);
  SetToBegin();
}

void TDataCursor::DeleteIndexByPos(std::uint8_t position) {
  RequireOpen();
  CheckExclusive();
  CheckNotReadOnly();
  TIndexFile& file = table_->IndexFile();
  if (position > file.GetIndexCount() || (position == 0 && file.GetNoPrimaryIndex()))
    RaiseError(err::kInvalidIndexName, name_, {}, std::to_string(position));
  {
    const TKeyComparator compare = ComparatorOf(position);
    TIndexTree(file, position, compare, this).FreeAllPages();
  }
  file.DeleteIndex(position, true);
  table_->MarkWritten();
  std::uint8_t current = index_pos_;
  if (current == position) current = 0;
  else if (current != kPhysicalOrder && current > position) --current;
  CancelRange();
  table_->NoteChange();  // filter bitmaps are rebuilt without the index
  InternalSetIndexPos(current);
  SetToBegin();
}

void TDataCursor::DeleteIndex(const std::string& name) {
  RequireOpen();
  CheckExclusive();
  CheckNotReadOnly();
  const int p = IndexPosOfName(name, 1);
  if (p < 0) RaiseError(err::kInvalidIndexName, name_, {}, rtl::Trim(name));
  DeleteIndexByPos(static_cast<std::uint8_t>(p));
}

void TDataCursor::DeleteAllIndexes() {
  RequireOpen();
  for (int p = table_->IndexFile().GetIndexCount(); p >= 1; --p) DeleteIndexByPos(static_cast<std::uint8_t>(p));
  if (!table_->IndexFile().GetNoPrimaryIndex()) DeleteIndexByPos(0);
}

void TDataCursor::SetIndexCount(std::uint8_t count) {
  RequireOpen();
  CheckExclusive();
  CheckNotReadOnly();
  if (count > table_->IndexFile().GetIndexCount()) RaiseError(err::kIndexLimits, name_);
  while (table_->IndexFile().GetIndexCount() > count) DeleteIndexByPos(table_->IndexFile().GetIndexCount());
}

void TDataCursor::SetNoPrimaryIndex(bool value) {
  RequireOpen();
  CheckExclusive();
  CheckNotReadOnly();
  const bool none = table_->IndexFile().GetNoPrimaryIndex();
  if (value == none) return;
  if (!value) RaiseError(err::kInvalidIndexName, name_, {}, "0");
  DeleteIndexByPos(0);
}

void TDataCursor::RebuildSystemIndex() {
  TIndexFile& file = table_->IndexFile();
  TDataFile& data = table_->DataFile();
  const TKeyComparator compare;
  TIndexTree tree(file, kSystemSlot, compare, this);
  tree.FreeAllPages();
  std::uint32_t live = 0;
  for (std::uint32_t n = 1; n <= data.GetPhysicalRecordsUsed(); ++n) {
    TRecord* record = FetchRecord(n, 1);
    const Key key = KeyOf(kSystemSlot, record->Data.data());
    if (!record->Deleted()) ++live;
    data.PutRecord(record);
    tree.Add(key.data(), n);
  }
  file.SetActualRecordCount(live);
}

void TDataCursor::RebuildMissingIndex() {
  table_->WriteLockTable();
  ScopeExit unlock{[&] {
    try {
      table_->WriteUnlockTable();
    } catch (...) {
    }
  }};
  table_->IndexFile().SetNoPrimaryIndex(true);
  RebuildSystemIndex();
  table_->IndexCreatedAnew(false);
  Flush(false);
}

}  // namespace korvex
