// Field and index definitions of a dataset: what its columns and indexes
// are, independent of any open cursor.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/dataset/fields.h"

namespace db {

// String, bytes and var-bytes need a size of 1 to 250, BCD 0 to 8 decimals,
// every other type 0; anything else raises "Invalid field size".
void CheckFieldSize(TFieldType type, int size);

struct TFieldDef {
  std::string Name;
  TFieldType DataType = ftUnknown;
  int Size = 0;
  bool Required = false;
  int FieldNo = 0;
  int Precision = 0;
  bool InternalCalcField = false;
  // A new field of the definition's kind for `dataset`, owned by `owner`.
  TField* CreateField(rtl::TComponent* owner, TDataSet* dataset) const;
};

class TFieldDefs {
public:
  // Checks: "Field name missing", "Duplicate field name '%s'" (names compare
  // case-blind) and the size rule; the list is left as it was on failure.
  // The field number is the position + 1 unless one is given.
  TFieldDef& Add(const std::string& name, TFieldType type, int size = 0, bool required = false, int field_no = 0);
  void Clear() { defs_.clear(); }
  int Count() const { return static_cast<int>(defs_.size()); }
  const TFieldDef& Items(int index) const { return defs_.at(static_cast<std::size_t>(index)); }
  TFieldDef& Items(int index) { return defs_.at(static_cast<std::size_t>(index)); }
  int IndexOf(std::string_view name) const;
  // "Field '%s' not found".
  const TFieldDef& Find(std::string_view name) const;
  // Set by the dataset: how Update refills the list.
  std::function<void()> OnUpdate;
  void Update() { if (OnUpdate) OnUpdate(); }

private:
  std::vector<TFieldDef> defs_;
};

enum TIndexOption : std::uint8_t {
  ixPrimary = 1, ixUnique = 2, ixDescending = 4, ixCaseInsensitive = 8, ixExpression = 16, ixNonMaintained = 32
};
using TIndexOptions = std::uint8_t;

struct TIndexDef {
  std::string Name;
  std::string Fields;  // field names joined by ';'
  TIndexOptions Options = 0;
};

// The position of the index that serves `fields` (names joined by ';'), or
// -1: skipping descending and expression indexes (and, when case-blindness
// is asked for, indexes without ixCaseInsensitive), first the index whose
// fields equal the names, then the first whose fields begin with them
// followed by ';'. Names compare case-blind. Every index list uses it.
int MatchIndexForFields(int count, const std::function<const std::string&(int)>& fields_of,
                        const std::function<TIndexOptions(int)>& options_of, std::string_view fields,
                        bool case_insensitive);

class TIndexDefs {
public:
  // "Duplicate index name '%s'" (case-blind; unnamed indexes may repeat).
  TIndexDef& Add(const std::string& name, const std::string& fields, TIndexOptions options);
  void Clear() { defs_.clear(); }
  int Count() const { return static_cast<int>(defs_.size()); }
  const TIndexDef& Items(int index) const { return defs_.at(static_cast<std::size_t>(index)); }
  int IndexOf(std::string_view name) const;
  // nullptr when no index serves the fields.
  const TIndexDef* GetIndexForFields(std::string_view fields, bool case_insensitive) const;
  // "No index for fields '%s'".
  const TIndexDef& FindIndexForFields(std::string_view fields) const;
  std::function<void()> OnUpdate;
  void Update() { if (OnUpdate) OnUpdate(); }

private:
  std::vector<TIndexDef> defs_;
};

}  // namespace db
