#include "tables/components/restructure_defs.h"

#include <algorithm>

#include "platform/dataset/dataset.h"
#include "platform/runtime/exceptions.h"
#include "platform/runtime/sysutils.h"

namespace korvex {

using namespace db;

// ---- TRestructureFieldDefs ------------------------------------------------------------

void TRestructureFieldDefs::Check(const std::string& name, TFieldType type, int size) const {
  CheckFieldSize(type, size);
  if (name.empty()) rtl::DatabaseError(msg::kFieldNameMissing);
  if (IndexOf(name) >= 0) rtl::DatabaseErrorFmt(msg::kDuplicateFieldName, {name});
}

TRestructureFieldDef& TRestructureFieldDefs::Add(const std::string& name, TFieldType type, int size, bool required,
                                                 const std::string& default_value, const std::string& minimum,
                                                 const std::string& maximum, const std::string& description,
                                                 TFieldCharCase char_case, std::int32_t field_number) {
  return Insert(Count(), name, type, size, required, default_value, minimum, maximum, description, char_case,
                field_number);
}

TRestructureFieldDef& TRestructureFieldDefs::Insert(int position, const std::string& name, TFieldType type, int size,
                                                    bool required, const std::string& default_value,
                                                    const std::string& minimum, const std::string& maximum,
                                                    const std::string& description, TFieldCharCase char_case,
                                                    std::int32_t field_number) {
  Check(name, type, size);
  if (position < 0 || position > Count()) rtl::DatabaseError(msg::kFieldIndexError);
  auto def = std::make_unique<TRestructureFieldDef>();
  def->Name = name;
  def->DataType = type;
  def->Required = required;
  def->Size = static_cast<std::uint16_t>(size);
  def->FieldNumber = field_number;
  def->DefaultValue = default_value;
  def->MinimumValue = minimum;
  def->MaximumValue = maximum;
  def->Description = description;
  def->CharCase = char_case;
  TRestructureFieldDef& added = *def;
  defs_.insert(defs_.begin() + position, std::move(def));
  up_to_date_ = false;
  return added;
}

void TRestructureFieldDefs::Delete(int position) {
  if (position < 0 || position >= Count()) rtl::DatabaseError(msg::kFieldIndexError);
  defs_.erase(defs_.begin() + position);
  up_to_date_ = false;
}

void TRestructureFieldDefs::Move(int from, int to) {
  if (from < 0 || from >= Count() || to < 0 || to >= Count()) rtl::DatabaseError(msg::kFieldIndexError);
  auto def = std::move(defs_[static_cast<std::size_t>(from)]);
  defs_.erase(defs_.begin() + from);
  defs_.insert(defs_.begin() + to, std::move(def));
  up_to_date_ = false;
}

void TRestructureFieldDefs::Assign(const TRestructureFieldDefs& other) {
  if (&other == this) return;
  Clear();
  for (const auto& d : other.defs_)
    Add(d->Name, d->DataType, d->Size, d->Required, d->DefaultValue, d->MinimumValue, d->MaximumValue, d->Description,
        d->CharCase, d->FieldNumber);
}

void TRestructureFieldDefs::Clear() {
  while (!defs_.empty()) defs_.pop_back();
  up_to_date_ = false;
}

int TRestructureFieldDefs::IndexOf(std::string_view name) const {
  for (std::size_t i = 0; i < defs_.size(); ++i)
    if (rtl::AnsiSameText(defs_[i]->Name, name)) return static_cast<int>(i);
  return -1;
}

TRestructureFieldDef& TRestructureFieldDefs::Find(std::string_view name) {
  int i = IndexOf(name);
  if (i < 0) rtl::DatabaseErrorFmt(msg::kFieldNotFound, {name});
  return Items(i);
}

bool TRestructureFieldDefs::AddFieldDefinition(const TFieldDefinition& def) {
  TFieldType type;
  int size;
  if (!DecodeFieldDefinition(def, type, size)) return false;
  Add(def.Name, type, size, def.Required != 0, def.Default, def.Minimum, def.Maximum, def.Description,
      static_cast<TFieldCharCase>(std::min<int>(def.CharCase, fcUpperCase)), def.FieldNumber);
  return true;
}

TFieldDefinition TRestructureFieldDefs::Encode(int position) const {
  const TRestructureFieldDef& d = Items(position);
  TFieldDefinition def = EncodeFieldDefinition(d.Name, d.DataType, d.Size);
  def.Required = d.Required ? 1 : 0;
  def.CharCase = static_cast<std::uint8_t>(d.CharCase);
  def.Default = d.DefaultValue.substr(0, kMaxFieldTextLength);
  def.Minimum = d.MinimumValue.substr(0, kMaxFieldTextLength);
  def.Maximum = d.MaximumValue.substr(0, kMaxFieldTextLength);
  def.Description = d.Description.substr(0, kMaxFieldTextLength);
  def.FieldNumber = static_cast<std::uint16_t>(std::clamp<std::int32_t>(d.FieldNumber, 0, 0xFFFF));
  return def;
}

// ---- TRestructureIndexDefs ------------------------------------------------------------

TRestructureIndexDef& TRestructureIndexDefs::Add(const std::string& name, const std::string& fields,
                                                 TIndexOptions options, TIndexCompression compression) {
  if (IndexOf(name) >= 0) rtl::DatabaseErrorFmt(msg::kDuplicateIndexName, {name});
  defs_.push_back(std::make_unique<TRestructureIndexDef>(TRestructureIndexDef{name, fields, options, compression}));
  up_to_date_ = false;
  return *defs_.back();
}

void TRestructureIndexDefs::Delete(int position) {
  if (position < 0 || position >= Count()) rtl::DatabaseError(msg::kFieldIndexError);
  defs_.erase(defs_.begin() + position);
  up_to_date_ = false;
}

void TRestructureIndexDefs::Assign(const TRestructureIndexDefs& other) {
  if (&other == this) return;
  Clear();
  for (const auto& d : other.defs_) Add(d->Name, d->Fields, d->Options, d->Compression);
}

void TRestructureIndexDefs::Clear() {
  while (!defs_.empty()) defs_.pop_back();
  up_to_date_ = false;
}

int TRestructureIndexDefs::IndexOf(std::string_view name) const {
  for (std::size_t i = 0; i < defs_.size(); ++i)
    if (rtl::AnsiSameText(defs_[i]->Name, name)) return static_cast<int>(i);
  return -1;
}

TRestructureIndexDef* TRestructureIndexDefs::GetIndexForFields(std::string_view fields, bool case_insensitive) {
  Update();
  int i = MatchIndexForFields(
      Count(), [this](int k) -> const std::string& { return Items(k).Fields; },
      [this](int k) { return Items(k).Options; }, fields, case_insensitive);
  return i < 0 ? nullptr : &Items(i);
}

TRestructureIndexDef& TRestructureIndexDefs::FindIndexForFields(std::string_view fields) {
  TRestructureIndexDef* def = GetIndexForFields(fields, false);
  if (def == nullptr) rtl::DatabaseErrorFmt(msg::kNoIndexForFields, {fields});
  return *def;
}

// ---- both ------------------------------------------------------------------------------

void EncodeRestructure(const TRestructureFieldDefs& fields, const TRestructureIndexDefs& indexes,
                       std::vector<TFieldDefinition>& field_defs, std::vector<TIndexDefinition>& index_defs,
                       int& secondary_count) {
  field_defs.clear();
  std::uint16_t next_new = kMaxFields;
  for (int i = 0; i < fields.Count(); ++i) next_new = std::max(next_new, fields.Encode(i).FieldNumber);
  for (int i = 0; i < fields.Count(); ++i) {
    TFieldDefinition def = fields.Encode(i);
    if (def.FieldNumber == 0) def.FieldNumber = ++next_new;
    field_defs.push_back(std::move(def));
  }
  auto number_of = [&](const std::string& name) -> int {
    const int i = fields.IndexOf(name);
    return i < 0 ? 0 : field_defs[static_cast<std::size_t>(i)].FieldNumber;
  };
  std::vector<TIndexOptions> options;
  for (int i = 0; i < indexes.Count(); ++i) options.push_back(indexes.Items(i).Options);
  TIndexOrder order = OrderForCreation(options);
  index_defs.clear();
  for (int k : order.Order) {
    if (k < 0) {
      index_defs.emplace_back();
      continue;
    }
    const TRestructureIndexDef& d = indexes.Items(k);
    index_defs.push_back(EncodeIndexDefinition(d.Name, d.Options, d.Fields, d.Compression, number_of));
  }
  secondary_count = order.SecondaryCount;
}

}  // namespace korvex
