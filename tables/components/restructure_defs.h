// The table's structure in full engine terms, to be edited and handed to a
// restructure: every field with its required flag, value limits, default,
// description and character case, and every index with its options and key
// compression. The lists fill themselves from the table on demand (Update,
// through OnUpdate) while marked out of date; every change marks them so.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/dataset/defs.h"
#include "platform/dataset/fields.h"
#include "tables/components/table_defs.h"
#include "tables/engine/files/field_definition.h"

namespace korvex {

enum TFieldCharCase : std::uint8_t { fcNoChange, fcLowerCase, fcUpperCase };

struct TRestructureFieldDef {
  std::string Name;
  db::TFieldType DataType = db::ftUnknown;
  bool Required = false;
  std::uint16_t Size = 0;
  std::int32_t FieldNumber = 0;  // in the table; 0 for a new field
  std::string DefaultValue, MinimumValue, MaximumValue, Description;
  TFieldCharCase CharCase = fcNoChange;
};

class TRestructureFieldDefs {
public:
  // Checks in order: the size rule ("Invalid field size"), "Field name
  // missing", "Duplicate field name '%s'" (case-blind); the list stays as
  // it was on failure.
  TRestructureFieldDef& Add(const std::string& name, db::TFieldType type, int size, bool required,
                            const std::string& default_value = {}, const std::string& minimum = {},
                            const std::string& maximum = {}, const std::string& description = {},
                            TFieldCharCase char_case = fcNoChange, std::int32_t field_number = 0);
  TRestructureFieldDef& Insert(int position, const std::string& name, db::TFieldType type, int size, bool required,
                               const std::string& default_value = {}, const std::string& minimum = {},
                               const std::string& maximum = {}, const std::string& description = {},
                               TFieldCharCase char_case = fcNoChange, std::int32_t field_number = 0);
  void Delete(int position);
  void Move(int from, int to);
  void Assign(const TRestructureFieldDefs& other);
  void Clear();
  // "Field '%s' not found".
  TRestructureFieldDef& Find(std::string_view name);
  int IndexOf(std::string_view name) const;
  int Count() const { return static_cast<int>(defs_.size()); }
  TRestructureFieldDef& Items(int position) { return *defs_.at(static_cast<std::size_t>(position)); }
  const TRestructureFieldDef& Items(int position) const { return *defs_.at(static_cast<std::size_t>(position)); }
  // Adds the field of an engine definition with its own required flag,
  // texts, character case and number; a type no field type stands for is
  // skipped (false).
  bool AddFieldDefinition(const TFieldDefinition& def);

  bool UpToDate() const { return up_to_date_; }
  void SetUpToDate(bool value) { up_to_date_ = value; }
  std::function<void()> OnUpdate;
  void Update() {
    if (!up_to_date_ && OnUpdate) OnUpdate();
  }

  // The engine definition of entry `position`, carrying the entry's field
  // number (the old field whose values it takes; 0 for a new field).
  TFieldDefinition Encode(int position) const;

private:
  void Check(const std::string& name, db::TFieldType type, int size) const;
  std::vector<std::unique_ptr<TRestructureFieldDef>> defs_;
  bool up_to_date_ = false;
};

struct TRestructureIndexDef {
  std::string Name;
  std::string Fields;  // names joined by ';'
  db::TIndexOptions Options = 0;
  TIndexCompression Compression = icNone;
};

class TRestructureIndexDefs {
public:
  // "Duplicate index name '%s'" (case-blind).
  TRestructureIndexDef& Add(const std::string& name, const std::string& fields, db::TIndexOptions options,
                            TIndexCompression compression = icNone);
  void Delete(int position);
  void Assign(const TRestructureIndexDefs& other);
  void Clear();
  int IndexOf(std::string_view name) const;
  int Count() const { return static_cast<int>(defs_.size()); }
  TRestructureIndexDef& Items(int position) { return *defs_.at(static_cast<std::size_t>(position)); }
  const TRestructureIndexDef& Items(int position) const { return *defs_.at(static_cast<std::size_t>(position)); }
  // The index that serves the fields (the framework's matching rule), after
  // an Update; nullptr when none.
  TRestructureIndexDef* GetIndexForFields(std::string_view fields, bool case_insensitive);
  // "No index for fields '%s'".
  TRestructureIndexDef& FindIndexForFields(std::string_view fields);

  bool UpToDate() const { return up_to_date_; }
  void SetUpToDate(bool value) { up_to_date_ = value; }
  std::function<void()> OnUpdate;
  void Update() {
    if (!up_to_date_ && OnUpdate) OnUpdate();
  }

private:
  std::vector<std::unique_ptr<TRestructureIndexDef>> defs_;
  bool up_to_date_ = false;
};

// The engine definitions of both lists, in creation order (a primary index
// first; a blank primary when none). A new field gets a number above every
// old table's (above kMaxFields), so it takes no old field's values; index
// key fields name the fields by these numbers, as the engine maps them.
void EncodeRestructure(const TRestructureFieldDefs& fields, const TRestructureIndexDefs& indexes,
                       std::vector<TFieldDefinition>& field_defs, std::vector<TIndexDefinition>& index_defs,
                       int& secondary_count);

}  // namespace korvex
