// Fields: typed views of one column of a dataset's current record.
//
// A field reads and writes its value through its dataset (GetFieldData /
// SetFieldData) in the native form of its kind:
//   string      Size bytes + NUL (DataSize = Size + 1); longer text is cut
//   smallint    int16     word  uint16    integer, autoinc  int32
//   largeint    int64     boolean  int16 (0 or 1)
//   float, currency  double     BCD  rtl::Currency (the dataset converts)
//   date        int32 day number, 1 January of year 1 = day 1
//   time        int32 milliseconds of the day
//   date-time   double: day number x 86,400,000 + milliseconds
//   bytes       Size bytes   var-bytes  uint16 length + Size bytes
//   BLOB kinds  no buffer; the value travels through a BLOB stream
// A null value reads as "", 0, 0.0 or false; assigning Null clears it.
// Values outside a kind's range raise "Value %s is out of range for field
// '%s'" instead of wrapping.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/dataset/variant.h"
#include "platform/runtime/classes.h"
#include "platform/runtime/currency.h"
#include "platform/runtime/dates.h"
#include "platform/runtime/streams.h"

namespace db {

class TDataSet;

enum TFieldType : std::uint8_t {
  ftUnknown, ftString, ftSmallint, ftInteger, ftWord, ftBoolean, ftFloat, ftCurrency, ftBCD, ftDate, ftTime,
  ftDateTime, ftBytes, ftVarBytes, ftAutoInc, ftBlob, ftMemo, ftGraphic, ftFmtMemo, ftParadoxOle, ftDBaseOle,
  ftTypedBinary, ftCursor, ftFixedChar, ftWideString, ftLargeint, ftADT, ftArray, ftReference, ftDataSet,
  ftOraBlob, ftOraClob, ftVariant, ftInterface, ftIDispatch, ftGuid
};

enum TFieldKind : std::uint8_t { fkData, fkCalculated, fkLookup, fkInternalCalc };

bool IsBlobType(TFieldType type);

class TField;
using TFieldNotifyEvent = std::function<void(TField* sender)>;

enum TBlobStreamMode : std::uint8_t { bmRead, bmWrite, bmReadWrite };

class TField : public rtl::TComponent {
public:
  explicit TField(rtl::TComponent* owner);
  ~TField() override;
  std::string ClassName() const override { return "TField"; }

  TDataSet* DataSet() const { return dataset_; }
  // Joins the dataset's field list (leaving any former one); the dataset
  // must be closed.
  void SetDataSet(TDataSet* dataset);

  TFieldType DataType() const { return data_type_; }
  const std::string& FieldName() const { return field_name_; }
  void SetFieldName(const std::string& name) { field_name_ = name; }
  const std::string& DisplayLabel() const { return display_label_; }
  void SetDisplayLabel(const std::string& label) { display_label_ = label; }
  // The display label, or the field name without one.
  const std::string& DisplayName() const { return display_label_.empty() ? field_name_ : display_label_; }
  int FieldNo() const { return field_no_; }
  TFieldKind FieldKind() const { return kind_; }
  void SetFieldKind(TFieldKind kind) { kind_ = kind; }
  bool Calculated() const { return kind_ == fkCalculated || kind_ == fkLookup; }
  int Size() const { return size_; }
  virtual void SetSize(int size);
  // Bytes of the native value in a record buffer.
  virtual int DataSize() const { return 0; }
  // Where a calculated or lookup field keeps its value flag in the
  // calculated-fields area (its data follows the flag).
  int Offset() const { return offset_; }
  bool ReadOnly() const { return read_only_; }
  void SetReadOnly(bool value) { read_only_ = value; }
  bool Required() const { return required_; }
  void SetRequired(bool value) { required_ = value; }
  bool IsIndexField() const;
  bool CanModify() const;

  // Lookup definition: KeyFields of this dataset are looked up as
  // LookupKeyFields in LookupDataSet; the value is its LookupResultField.
  std::string KeyFields, LookupKeyFields, LookupResultField;
  TDataSet* LookupDataSet = nullptr;

  TFieldNotifyEvent OnValidate;  // runs before a value is stored; may throw
  TFieldNotifyEvent OnChange;    // after a value was stored

  bool IsNull() const;
  void Clear();
  // The native value; false when null. Raises on a closed dataset.
  bool GetData(void* buffer, bool native = true) const;
  // nullptr stores null.
  void SetData(const void* buffer, bool native = true);
  // Runs OnValidate with the proposed value visible through the field.
  void Validate(const void* buffer);

  virtual std::string AsString() const;
  virtual void SetAsString(const std::string& value);
  virtual std::int32_t AsInteger() const;
  virtual void SetAsInteger(std::int32_t value);
  virtual double AsFloat() const;
  virtual void SetAsFloat(double value);
  virtual bool AsBoolean() const;
  virtual void SetAsBoolean(bool value);
  virtual rtl::Currency AsCurrency() const;
  virtual void SetAsCurrency(rtl::Currency value);
  virtual rtl::TDateTime AsDateTime() const;
  virtual void SetAsDateTime(rtl::TDateTime value);
  virtual Variant AsVariant() const;
  // Null or Unassigned clears; other values go through the kind's setters.
  void SetAsVariant(const Variant& value);
  Variant Value() const { return AsVariant(); }
  void SetValue(const Variant& value) { SetAsVariant(value); }
  Variant OldValue() const;
  Variant NewValue() const;

  // Called by the dataset after a value was stored.
  void Change();
  // Called by the dataset while binding (field number; calc-area offset).
  void Bind(int field_no, int offset) { field_no_ = field_no; offset_ = offset; }

protected:
  TField(rtl::TComponent* owner, TFieldType type, int size);
  virtual void SetVariantValue(const Variant& value);
  [[noreturn]] void AccessError(const char* type_name) const;
  [[noreturn]] void RangeError(const std::string& value_text) const;
  void CheckActive() const;

private:
  friend class TDataSet;
  TDataSet* dataset_ = nullptr;
  TFieldType data_type_;
  std::string field_name_, display_label_;
  int field_no_ = 0, size_ = 0, offset_ = 0;
  TFieldKind kind_ = fkData;
  bool read_only_ = false, required_ = false;
  // While OnValidate runs: the proposed value (nullptr = null).
  const void* validating_ = nullptr;
  bool validating_active_ = false;
};

class TStringField : public TField {
public:
  explicit TStringField(rtl::TComponent* owner, int size = 20) : TField(owner, ftString, size) {}
  std::string ClassName() const override { return "TStringField"; }
  int DataSize() const override { return Size() + 1; }
  void SetSize(int size) override;
  std::string AsString() const override;
  void SetAsString(const std::string& value) override;
  std::int32_t AsInteger() const override;
  void SetAsInteger(std::int32_t value) override { SetAsString(std::to_string(value)); }
  double AsFloat() const override;
  void SetAsFloat(double value) override;
  bool AsBoolean() const override;
  void SetAsBoolean(bool value) override { SetAsString(value ? "T" : "F"); }
  rtl::TDateTime AsDateTime() const override;
  void SetAsDateTime(rtl::TDateTime value) override;
  Variant AsVariant() const override;
};

// Integer kinds share one implementation bounded by [min, max].
class TIntegerField : public TField {
public:
  explicit TIntegerField(rtl::TComponent* owner) : TIntegerField(owner, ftInteger) {}
  std::string ClassName() const override { return "TIntegerField"; }
  int DataSize() const override;
  std::string AsString() const override;
  void SetAsString(const std::string& value) override;
  std::int32_t AsInteger() const override;
  void SetAsInteger(std::int32_t value) override { SetAsLargeInt(value); }
  double AsFloat() const override { return static_cast<double>(AsLargeInt()); }
  void SetAsFloat(double value) override;
  bool AsBoolean() const override { return AsLargeInt() != 0; }
  void SetAsBoolean(bool value) override { SetAsLargeInt(value ? 1 : 0); }
  rtl::Currency AsCurrency() const override;
  void SetAsCurrency(rtl::Currency value) override;
  Variant AsVariant() const override;
  std::int64_t AsLargeInt() const;
  void SetAsLargeInt(std::int64_t value);
  std::int64_t MinValue() const { return min_; }
  std::int64_t MaxValue() const { return max_; }

protected:
  TIntegerField(rtl::TComponent* owner, TFieldType type);
  void SetVariantValue(const Variant& value) override;

private:
  std::int64_t min_, max_;
};

class TSmallintField : public TIntegerField {
public:
  explicit TSmallintField(rtl::TComponent* owner) : TIntegerField(owner, ftSmallint) {}
  std::string ClassName() const override { return "TSmallintField"; }
};
class TWordField : public TIntegerField {
public:
  explicit TWordField(rtl::TComponent* owner) : TIntegerField(owner, ftWord) {}
  std::string ClassName() const override { return "TWordField"; }
};
class TAutoIncField : public TIntegerField {
public:
  explicit TAutoIncField(rtl::TComponent* owner) : TIntegerField(owner, ftAutoInc) {}
  std::string ClassName() const override { return "TAutoIncField"; }
};
class TLargeintField : public TIntegerField {
public:
  explicit TLargeintField(rtl::TComponent* owner) : TIntegerField(owner, ftLargeint) {}
  std::string ClassName() const override { return "TLargeintField"; }
};

class TBooleanField : public TField {
public:
  explicit TBooleanField(rtl::TComponent* owner) : TField(owner, ftBoolean, 0) {}
  std::string ClassName() const override { return "TBooleanField"; }
  int DataSize() const override { return 2; }
  std::string AsString() const override;
  void SetAsString(const std::string& value) override;
  bool AsBoolean() const override;
  void SetAsBoolean(bool value) override;
  std::int32_t AsInteger() const override { return AsBoolean() ? 1 : 0; }
  void SetAsInteger(std::int32_t value) override { SetAsBoolean(value != 0); }
  Variant AsVariant() const override;
};

class TFloatField : public TField {
public:
  explicit TFloatField(rtl::TComponent* owner) : TFloatField(owner, ftFloat) {}
  std::string ClassName() const override { return "TFloatField"; }
  int DataSize() const override { return 8; }
  std::string AsString() const override;
  void SetAsString(const std::string& value) override;
  // The nearest integer (halves away from zero).
  std::int32_t AsInteger() const override;
  void SetAsInteger(std::int32_t value) override { SetAsFloat(value); }
  double AsFloat() const override;
  void SetAsFloat(double value) override;
  rtl::Currency AsCurrency() const override;
  void SetAsCurrency(rtl::Currency value) override { SetAsFloat(value.ToDouble()); }
  Variant AsVariant() const override;

protected:
  TFloatField(rtl::TComponent* owner, TFieldType type) : TField(owner, type, 0) {}
};

class TCurrencyField : public TFloatField {
public:
  explicit TCurrencyField(rtl::TComponent* owner) : TFloatField(owner, ftCurrency) {}
  std::string ClassName() const override { return "TCurrencyField"; }
};

// Size is the number of decimals (0 to 4 kept; the value itself always has
// four); the native value is a Currency.
class TBCDField : public TField {
public:
  explicit TBCDField(rtl::TComponent* owner, int decimals = 4) : TField(owner, ftBCD, decimals) {}
  std::string ClassName() const override { return "TBCDField"; }
  int DataSize() const override { return 8; }
  int Precision = 20;
  std::string AsString() const override;
  void SetAsString(const std::string& value) override;
  std::int32_t AsInteger() const override;
  void SetAsInteger(std::int32_t value) override { SetAsCurrency(rtl::Currency{std::int64_t{value} * 10000}); }
  double AsFloat() const override { return AsCurrency().ToDouble(); }
  void SetAsFloat(double value) override;
  rtl::Currency AsCurrency() const override;
  void SetAsCurrency(rtl::Currency value) override;
  Variant AsVariant() const override;
};

// Date, time and date-time share the conversions; they differ in the
// native form.
class TDateTimeField : public TField {
public:
  explicit TDateTimeField(rtl::TComponent* owner) : TDateTimeField(owner, ftDateTime) {}
  std::string ClassName() const override { return "TDateTimeField"; }
  int DataSize() const override { return DataType() == ftDateTime ? 8 : 4; }
  std::string AsString() const override;
  void SetAsString(const std::string& value) override;
  double AsFloat() const override { return AsDateTime(); }
  void SetAsFloat(double value) override { SetAsDateTime(value); }
  rtl::TDateTime AsDateTime() const override;
  void SetAsDateTime(rtl::TDateTime value) override;
  Variant AsVariant() const override;

protected:
  TDateTimeField(rtl::TComponent* owner, TFieldType type) : TField(owner, type, 0) {}
};
class TDateField : public TDateTimeField {
public:
  explicit TDateField(rtl::TComponent* owner) : TDateTimeField(owner, ftDate) {}
  std::string ClassName() const override { return "TDateField"; }
};
class TTimeField : public TDateTimeField {
public:
  explicit TTimeField(rtl::TComponent* owner) : TDateTimeField(owner, ftTime) {}
  std::string ClassName() const override { return "TTimeField"; }
};

// Fixed bytes (ftBytes) or up to Size bytes with a 16-bit length
// (ftVarBytes); AsString is the raw bytes.
class TBytesField : public TField {
public:
  explicit TBytesField(rtl::TComponent* owner, int size = 16) : TBytesField(owner, ftBytes, size) {}
  std::string ClassName() const override { return "TBytesField"; }
  int DataSize() const override { return DataType() == ftVarBytes ? Size() + 2 : Size(); }
  std::string AsString() const override;
  void SetAsString(const std::string& value) override;
  Variant AsVariant() const override { return IsNull() ? Null : Variant(AsString()); }

protected:
  TBytesField(rtl::TComponent* owner, TFieldType type, int size) : TField(owner, type, size) {}
};
class TVarBytesField : public TBytesField {
public:
  explicit TVarBytesField(rtl::TComponent* owner, int size = 16) : TBytesField(owner, ftVarBytes, size) {}
  std::string ClassName() const override { return "TVarBytesField"; }
};

// BLOB kinds: the value is read and written whole through the dataset's
// BLOB stream on the current record.
class TBlobField : public TField {
public:
  explicit TBlobField(rtl::TComponent* owner, TFieldType type = ftBlob) : TField(owner, type, 0) {}
  std::string ClassName() const override { return "TBlobField"; }
  std::string AsString() const override;
  void SetAsString(const std::string& value) override;
  Variant AsVariant() const override { return IsNull() ? Null : Variant(AsString()); }
  void LoadFromStream(rtl::TStream& stream);
  void SaveToStream(rtl::TStream& stream) const;
  std::int64_t BlobSize() const;
  // Set when a BLOB stream wrote to the field of the current record.
  bool Modified = false;
};
class TMemoField : public TBlobField {
public:
  explicit TMemoField(rtl::TComponent* owner) : TBlobField(owner, ftMemo) {}
  std::string ClassName() const override { return "TMemoField"; }
};
class TGraphicField : public TBlobField {
public:
  explicit TGraphicField(rtl::TComponent* owner) : TBlobField(owner, ftGraphic) {}
  std::string ClassName() const override { return "TGraphicField"; }
};

// A field of the kind that holds `type`, owned by `owner`; nullptr for a
// type without a field kind.
TField* CreateFieldOfType(rtl::TComponent* owner, TFieldType type, int size);

}  // namespace db
