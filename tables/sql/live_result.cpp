#include "tables/sql/live_result.h"

#include <algorithm>
#include <cstring>

#include "tables/engine/base/scope_exit.h"
#include "tables/engine/table/data_session.h"
#include "tables/lib/expconvert.h"
#include "tables/lib/fieldtypes.h"
#include "tables/sql/statement.h"

namespace korvex {

TLiveRefusal DecideLiveResult(const TDataQuery& query, bool order_served, bool blob_expression, bool filterable) {
  if (!query.WantLiveResult) return TLiveRefusal::NotWanted;
  if (query.Nested) return TLiveRefusal::Nested;
  if (query.MaxNumOfRows >= 0) return TLiveRefusal::RowLimit;
  if (!query.ResultTableName.empty()) return TLiveRefusal::Into;
  if (query.Distinct) return TLiveRefusal::Distinct;
  if (query.SourceTables.Count() != 1) return TLiveRefusal::Tables;
  if (query.HasGroupBy || query.SingleRowResult) return TLiveRefusal::Grouped;
  if (query.HavingGiven) return TLiveRefusal::Having;
  if (!query.OrderByFields.Empty() && !order_served) return TLiveRefusal::OrderBy;
  if (blob_expression) return TLiveRefusal::BlobExpression;
  if (!filterable) return TLiveRefusal::Filters;
  if (query.Statement && query.Statement->DataQueries().Count() > 1) return TLiveRefusal::SubSelects;
  return TLiveRefusal::None;
}

std::uint8_t FindLiveOrderIndex(TDataCursor& cursor, const std::vector<TLiveOrderKey>& keys, bool no_case,
                                TLocalePair sort_locale) {
  if (keys.empty()) return kNoLiveOrderByIndex;
  const std::uint16_t language = cursor.GetLanguageID();
  const bool same_collation = sort_locale.Language == language && sort_locale.Sort == cursor.GetSortID();
  for (const TLiveOrderKey& key : keys) {
    if (key.Field == 0 || key.Field > cursor.GetPhysicalFieldCount()) return kNoLiveOrderByIndex;
    const TFieldDefinition& field = cursor.GetPhysicalFieldDefinitionByPos(key.Field);
    if (field.DataType == dtString && !same_collation) return kNoLiveOrderByIndex;
  }
  const bool primary = !cursor.GetNoPrimaryIndex();
  for (int position = primary ? 0 : 1; position <= cursor.GetIndexCount(); ++position) {
    TIndexDefinition index;
    cursor.GetIndexDefinition(static_cast<std::uint8_t>(position), index);
    if (index.FieldCount < keys.size()) continue;
    bool serves = true;
    for (std::size_t i = 0; serves && i < keys.size(); ++i) {
      const TFieldDefinition& field = cursor.GetPhysicalFieldDefinitionByPos(keys[i].Field);
      // Language-0 keys compare as bytes in the index's one direction;
      // other languages compare field by field.
      const bool descending = language == 0 ? index.Descending != 0 : index.FieldIsDescending(static_cast<int>(i));
      serves = index.Fields[i] == keys[i].Field && descending == keys[i].Descending;
      if (serves && descending && language == 0) serves = field.Required != 0 || field.IsAutoIncrement();
      if (serves && field.DataType == dtString && !field.IsAutoIncrement())
        serves = (index.CaseInsensitive != 0) == no_case;
    }
    if (serves) return static_cast<std::uint8_t>(position);
  }
  return kNoLiveOrderByIndex;
}

std::vector<TFieldDefinition> LiveFieldMapping(TDataCursor& cursor, const std::vector<TLiveColumn>& columns) {
  std::vector<TFieldDefinition> mapping;
  std::vector<bool> used(std::size_t{cursor.GetPhysicalFieldCount()} + 1, false);
  std::uint16_t next_calculated = cursor.GetPhysicalFieldCount();
  for (const TLiveColumn& column : columns) {
    const TExpToken* e = column.Expression;
    TFieldDefinition f;
    if (e && e->NodeClass == enFIELD && e->FieldNumber >= 1 && e->FieldNumber < used.size() && !used[e->FieldNumber]) {
      used[e->FieldNumber] = true;
      f = cursor.GetPhysicalFieldDefinitionByPos(e->FieldNumber);
    } else {
      f = column.Type;
      f.FieldNumber = ++next_calculated;
      f.Calculated = 1;
      f.Expression = column.Expression;
      f.Required = 0;
      f.Default.clear();
      f.Minimum.clear();
      f.Maximum.clear();
    }
    f.Name = column.Name;
    f.Hidden = 0;
    mapping.push_back(f);
  }
  return mapping;
}

// ---- TLiveResult -------------------------------------------------------------------

TLiveResult::TLiveResult(TDataCursor& cursor, const std::vector<TFieldDefinition>& mapping,
                         std::uint8_t index_position)
    : cursor_(cursor), index_position_(index_position == kNoLiveOrderByIndex ? 0 : index_position) {
  if (cursor_.GetReadOnly()) {
    // Edits go through the result: the table opened for writing where it
    // can be, else it stays read-only.
    cursor_.CloseCursor();
    cursor_.SetReadOnly(false);
    try {
      cursor_.OpenCursor();
    } catch (const std::exception&) {
      cursor_.SetReadOnly(true);
      cursor_.OpenCursor();
    }
  }
  cursor_.SetIsResultSet(true);
  try {
    cursor_.SetFieldMapping(mapping);
    cursor_.SetIndexPos(index_position_);
  } catch (...) {
    Release();
    throw;
  }
}

TLiveResult::~TLiveResult() {
  try {
    Release();
  } catch (...) {
  }
}

void TLiveResult::Release() {
  if (released_ || !cursor_.IsOpen()) return;
  released_ = true;
  filters_.Clear();
  cursor_.ResetFieldMapping();
  cursor_.SetIsResultSet(false);
  cursor_.SetIndexPos(kPhysicalOrder);
}

bool TLiveResult::Execute(const std::vector<TExpToken*>& conditions, TLocalePair locale, std::uint32_t& count) {
  cursor_.CheckForCursorChanges();
  filters_.Build(cursor_, conditions, locale, TWhereFilters::TPass::Everything);
  if (!filters_.Left().empty()) {
    filters_.Clear();
    return false;
  }
  cursor_.SetToBegin();
  count = cursor_.GetRecordCount();
  return true;
}

// ---- saving a result -----------------------------------------------------------------

void SaveResultRows(TDataCursor& result, TDataDirectory* directory, const std::string& name,
                    const TSaveProgress& progress) {
  std::vector<TFieldDefinition> fields;
  std::vector<int> source_of;  // result field position of each copied field
  for (int i = 1; i <= result.GetFieldCount(); ++i) {
    TFieldDefinition f = result.GetFieldDefinitionByPos(i);
    if (f.Hidden) continue;
    f.FieldNumber = static_cast<std::uint16_t>(fields.size() + 1);
    f.Calculated = 0;
    f.Expression = nullptr;
    f.Offset = 0;
    f.Required = 0;
    f.Default.clear();
    f.Minimum.clear();
    f.Maximum.clear();
    // The values are copied, not made again.
    if (f.SubType == fstAutoInc) f.SubType = fstNone;
    fields.push_back(f);
    source_of.push_back(i);
  }
  TDataCursor copy(directory);
  copy.SetTableName(name.substr(0, 255));
  copy.SetExclusive(true);
  TTableCreation creation;
  creation.Overwrite = true;
  creation.Settings.LanguageID = result.GetLanguageID();
  creation.Settings.SortID = result.GetSortID();
  copy.CreateTable(creation, fields);
  copy.OpenCursor();
  ScopeExit close_copy{[&] {
    try {
      copy.FreeAllBlobs(true);
      if (copy.IsOpen()) copy.CloseCursor(false);
    } catch (...) {
    }
  }};

  // The result's place is kept.
  std::vector<std::uint8_t> bookmark(result.GetBookmarkSize());
  result.GetBookmark(bookmark.data());
  ScopeExit back{[&] {
    try {
      result.SetToBookmark(bookmark.data());
    } catch (...) {
    }
  }};
  std::vector<std::uint8_t> from(result.GetRecordSize()), to(copy.GetRecordSize());
  std::vector<std::uint8_t> value(kConvertBufferSize + 1);
  const std::uint32_t total = result.GetRecordCount();
  std::uint32_t done = 0;
  result.SetToBegin();
  while (result.GetNextRecord(from.data()) == 0) {
    copy.ClearRecord(to.data());
    for (std::size_t k = 0; k < fields.size(); ++k) {
      const int field = source_of[k];
      const int target = static_cast<int>(k + 1);
      if (fields[k].DataType == dtBlob) {
        const std::vector<std::uint8_t> content = result.ReadBlobContent(field, from.data());
        if (content.empty()) continue;
        if (TEngineErrorCode put = copy.OpenBlob(target, to.data(), 2)) RaiseError(put, copy.GetTableName());
        if (TEngineErrorCode put = copy.PutBlob(target, to.data(), 0, content.data(),
                                                static_cast<std::int64_t>(content.size())))
          RaiseError(put, copy.GetTableName());
        continue;
      }
      std::fill(value.begin(), value.end(), 0);
      if (!result.GetField(field, from.data(), value.data())) copy.PutField(target, to.data(), value.data());
    }
    copy.AppendRecord(to.data(), false);
    ++done;
    if (progress) progress(done, static_cast<std::uint16_t>(total ? std::min<std::uint64_t>(100, done * 100ull / total) : 100));
  }
  copy.CloseCursor(false);
}

}  // namespace korvex
