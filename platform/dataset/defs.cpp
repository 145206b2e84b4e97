#include "platform/dataset/defs.h"

#include "platform/dataset/dataset.h"
#include "platform/runtime/exceptions.h"
#include "platform/runtime/sysutils.h"

namespace db {

void CheckFieldSize(TFieldType type, int size) {
  bool ok;
  switch (type) {
    case ftString: case ftBytes: case ftVarBytes: ok = size >= 1 && size <= 250; break;
    case ftBCD: ok = size >= 0 && size <= 8; break;
    default: ok = size == 0; break;
  }
  if (!ok) rtl::DatabaseError(msg::kInvalidFieldSize);
}

TField* TFieldDef::CreateField(rtl::TComponent* owner, TDataSet* dataset) const {
  TField* field = CreateFieldOfType(owner, DataType, Size);
  if (!field) return nullptr;
  field->SetFieldName(Name);
  field->SetRequired(Required);
  if (InternalCalcField) field->SetFieldKind(fkInternalCalc);
  if (auto* bcd = dynamic_cast<TBCDField*>(field)) bcd->Precision = Precision;
  try {
    field->SetDataSet(dataset);
  } catch (...) {
    delete field;
    throw;
  }
  return field;
}

TFieldDef& TFieldDefs::Add(const std::string& name, TFieldType type, int size, bool required, int field_no) {
  if (name.empty()) rtl::DatabaseError(msg::kFieldNameMissing);
  if (IndexOf(name) >= 0) rtl::DatabaseErrorFmt(msg::kDuplicateFieldName, {name});
  CheckFieldSize(type, size);
  TFieldDef def;
  def.Name = name;
  def.DataType = type;
  def.Size = size;
  def.Required = required;
  def.FieldNo = field_no > 0 ? field_no : Count() + 1;
  if (type == ftBCD) def.Precision = 20;
  defs_.push_back(def);
  return defs_.back();
}

int TFieldDefs::IndexOf(std::string_view name) const {
  for (int i = 0; i < Count(); ++i)
    if (rtl::AnsiSameText(defs_[static_cast<std::size_t>(i)].Name, name)) return i;
  return -1;
}

const TFieldDef& TFieldDefs::Find(std::string_view name) const {
  int i = IndexOf(name);
  if (i < 0) rtl::DatabaseErrorFmt(msg::kFieldNotFound, {name});
  return Items(i);
}

int MatchIndexForFields(int count, const std::function<const std::string&(int)>& fields_of,
                        const std::function<TIndexOptions(int)>& options_of, std::string_view fields,
                        bool case_insensitive) {
  auto usable = [&](int i) {
    TIndexOptions options = options_of(i);
    if (options & (ixDescending | ixExpression)) return false;
    return !case_insensitive || (options & ixCaseInsensitive) != 0;
  };
  for (int i = 0; i < count; ++i)
    if (usable(i) && rtl::AnsiSameText(fields_of(i), fields)) return i;
  for (int i = 0; i < count; ++i) {
    if (!usable(i)) continue;
    const std::string& own = fields_of(i);
    if (own.size() > fields.size() && own[fields.size()] == ';' &&
        rtl::AnsiSameText(std::string_view(own).substr(0, fields.size()), fields))
      return i;
  }
  return -1;
}

TIndexDef& TIndexDefs::Add(const std::string& name, const std::string& fields, TIndexOptions options) {
  if (!name.empty() && IndexOf(name) >= 0) rtl::DatabaseErrorFmt(msg::kDuplicateIndexName, {name});
  defs_.push_back(TIndexDef{name, fields, options});
  return defs_.back();
}

int TIndexDefs::IndexOf(std::string_view name) const {
  for (int i = 0; i < Count(); ++i)
    if (rtl::AnsiSameText(defs_[static_cast<std::size_t>(i)].Name, name)) return i;
  return -1;
}

const TIndexDef* TIndexDefs::GetIndexForFields(std::string_view fields, bool case_insensitive) const {
  int i = MatchIndexForFields(
      Count(), [this](int k) -> const std::string& { return Items(k).Fields; },
      [this](int k) { return Items(k).Options; }, fields, case_insensitive);
  return i < 0 ? nullptr : &Items(i);
}

const TIndexDef& TIndexDefs::FindIndexForFields(std::string_view fields) const {
  const TIndexDef* def = GetIndexForFields(fields, false);
  if (!def) rtl::DatabaseErrorFmt(msg::kNoIndexForFields, {fields});
  return *def;
}

}  // namespace db
