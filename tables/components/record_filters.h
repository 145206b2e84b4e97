// Filters of an engine dataset, answered record by record: the dataset's
// expression filter (its Filter text) and the one-off lookup filter of
// Locate and Lookup, both through the engine's filter sets and their
// evaluator, over the dataset's cursor.
//
// The filter set reaches the table through TCursorFilterSource; it uses no
// index (every record the dataset reads is tested as it is read).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/dataset/fields.h"
#include "platform/dataset/variant.h"
#include "tables/engine/filters.h"

namespace korvex {

class TDataCursor;

// The whole content of a BLOB field of a record buffer ("" when it has
// none), read without touching the caller's buffer.
std::string ReadWholeBlob(TDataCursor& cursor, int field, const std::uint8_t* record);

class TCursorFilterSource : public TFilterSource {
public:
  explicit TCursorFilterSource(TDataCursor& cursor);
  std::string FilterTableName() const override;
  const std::vector<TFieldDefinition>& FilterFields() const override { return fields_; }
  TLocalePair FilterLocale() const override { return locale_; }
  std::uint32_t FilterPhysicalCount() override { return 0; }
  bool FilterReadRecord(std::uint32_t, std::vector<std::uint8_t>&) override { return false; }
  TIndexFile* FilterIndexFile() override { return nullptr; }
  const TKeyComparator& FilterComparator(std::uint8_t) override { return comparator_; }
  std::string FilterReadBlob(int field, const std::uint8_t* record) override;

private:
  TDataCursor& cursor_;
  std::vector<TFieldDefinition> fields_;
  TLocalePair locale_;
  TKeyComparator comparator_;
};

// The text of a lookup filter: per field "[name] = constant" (or "= NULL"
// for a null value), joined by AND. A partial string key compares its own
// length: a trailing '*' of the key is dropped and the constant ends in
// the engine's prefix mark '*' (the filter is then made with partial
// compare on). Values are written as the table's language reads them.
std::string LookupFilterText(const std::vector<db::TField*>& fields, const std::vector<db::Variant>& values,
                             bool partial, TLocalePair locale);

}  // namespace korvex
