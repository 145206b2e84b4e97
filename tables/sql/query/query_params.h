// TKORVEXParam and TKORVEXParams: the typed parameters of a query.
//
// A parameter has a name, a framework field type (DataType), a direction
// (ParamType), a null flag, a bound flag and a value held as a variant. The
// query component makes the list from the markers of its SQL text, fills
// the values from code or from a master dataset, and turns them into engine
// field definitions and one record buffer for the statement.
//
// Engine form of a value (GetData / SetData, GetDataSize bytes):
//   ftString, ftMemo                text bytes and a zero byte
//   ftSmallint, ftWord, ftBoolean   16-bit integer (boolean: 1 or 0)
//   ftInteger, ftAutoInc            32-bit integer
//   ftDate                          32-bit day number, 1 January of year 1 = 1
//   ftTime                          32-bit milliseconds since midnight
//   ftFloat, ftCurrency             double
//   ftBCD                           the engine's scaled 64-bit integer (4 decimals)
//   ftDateTime                      milliseconds of the time stamp as a double
//   ftBlob, ftGraphic, ftFmtMemo, ftParadoxOle, ftDBaseOle, ftTypedBinary
//                                   the raw bytes
// All little-endian. ftUnknown raises "Field '%s' is of unknown type", any
// other type "Field '%s' is of an unsupported type".
//
// The binary form-file property "Data" of a parameter list (WriteData /
// ReadData), little-endian:
//   version        2 bytes   1 when written; 2 is read too
//   count          2 bytes   (version 2: 4 bytes)
//   per parameter:
//     name length  1 byte    (version 2: 4 bytes)
//     name         bytes
//     ParamType    1 byte
//     DataType     1 byte
//     data size    2 bytes   (version 2: 4 bytes); only when DataType is not ftUnknown
//     data         the engine form; only when DataType is not ftUnknown
//     IsNull       1 byte
//     Bound        1 byte
// A value of more than 2048 bytes is not written ("Parameter '%s', cannot
// save data larger than 2048 bytes"). Reading refuses a version above 2, a
// negative count or length in version 2, a data size above 2048 and any
// length that runs past the stream with "Unable to load bind parameters",
// and then leaves the list as it was.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/dataset/fields.h"
#include "platform/dataset/variant.h"
#include "platform/runtime/streams.h"

namespace korvex {

enum TKORVEXParamType : std::uint8_t { ptUnknown, ptInput, ptOutput, ptInputOutput, ptResult };

inline constexpr std::size_t kMaxParamDataSize = 2048;
// Strings longer than this go to the statement as memo BLOBs.
inline constexpr std::size_t kMaxStringParamLength = 250;

class TKORVEXParams;

class TKORVEXParam {
public:
  explicit TKORVEXParam(TKORVEXParams* owner = nullptr, TKORVEXParamType type = ptUnknown);
  ~TKORVEXParam();
  TKORVEXParam(const TKORVEXParam&) = delete;
  TKORVEXParam& operator=(const TKORVEXParam&) = delete;

  const std::string& Name() const { return name_; }
  void SetName(const std::string& name) { name_ = name; }
  db::TFieldType DataType() const { return data_type_; }
  // Resets the value to the integer 0, then stores the type.
  void SetDataType(db::TFieldType type);
  TKORVEXParamType ParamType() const { return param_type_; }
  void SetParamType(TKORVEXParamType type) { param_type_ = type; }
  bool IsNull() const { return is_null_; }
  bool Bound() const { return bound_; }
  void SetBound(bool value) { bound_ = value; }
  const db::Variant& Value() const { return value_; }
  TKORVEXParams* Owner() const { return owner_; }

  // Typed setters: bound, not null, the type, the value.
  void SetAsBoolean(bool value);
  void SetAsFloat(double value);
  void SetAsCurrency(double value);
  void SetAsBCD(rtl::Currency value);
  void SetAsInteger(std::int32_t value);
  void SetAsWord(std::int32_t value);
  void SetAsSmallInt(std::int32_t value);
  void SetAsString(const std::string& value);
  void SetAsDate(rtl::TDateTime value);
  void SetAsTime(rtl::TDateTime value);
  void SetAsDateTime(rtl::TDateTime value);
  void SetAsMemo(const std::string& value);
  void SetAsBlob(const std::string& value);
  // The type follows the variant: 16-bit ftSmallint, 32/64-bit ftInteger,
  // floats ftFloat, currency ftBCD, date ftDateTime, boolean ftBoolean,
  // strings ftString up to 250 characters and ftBlob beyond; anything else
  // (null and unassigned too) ftUnknown.
  void SetAsVariant(const db::Variant& value);
  // An unknown type becomes ftString; the text is converted by the type.
  void SetText(const std::string& text);

  bool AsBoolean() const;
  double AsFloat() const;
  rtl::Currency AsBCD() const;
  std::int32_t AsInteger() const;
  std::string AsMemo() const;
  std::string AsString() const;  // "" when null; "True"/"False"; date texts
  rtl::TDateTime AsDateTime() const;  // 0 when null
  const db::Variant& AsVariant() const { return value_; }

  void Clear();

  std::size_t GetDataSize() const;
  void GetData(std::uint8_t* buffer) const;
  // Reads the engine form from `size` bytes (zero bytes past them).
  void SetData(const std::uint8_t* buffer, std::size_t size);
  void SetBlobData(const std::uint8_t* buffer, std::size_t size);

  // In the statement's record buffer a BLOB type (a memo too), and a string longer than
  // 250 characters, take the length and a pointer to the bytes.
  bool BindsAsBlob() const;
  std::size_t RecBufDataSize() const;
  // `keep` receives the bytes the pointer of a BLOB form points at; it must
  // live as long as the buffer is used.
  void RecBufGetData(std::uint8_t* buffer, std::string& keep) const;

  // Type, value or null, Bound and Name; ParamType only when own is unknown.
  void Assign(const TKORVEXParam& source);
  void AssignField(const db::TField& field);
  void AssignFieldValue(const db::TField& field, const db::Variant& value);
  void AssignTo(db::TField& field) const;
  bool IsEqual(const TKORVEXParam& other) const;

  void LoadFromFile(const std::string& file_name, db::TFieldType type);
  void LoadFromStream(rtl::TStream& stream, db::TFieldType type);

private:
  friend class TKORVEXParams;
  void InitValue();

  TKORVEXParams* owner_ = nullptr;
  db::Variant value_{std::int32_t{0}};
  std::string text_;
  std::string name_;
  db::TFieldType data_type_ = db::ftUnknown;
  bool is_null_ = true;
  bool bound_ = false;
  TKORVEXParamType param_type_ = ptUnknown;
};

class TKORVEXParams {
public:
  TKORVEXParams() = default;
  ~TKORVEXParams();
  TKORVEXParams(const TKORVEXParams&) = delete;
  TKORVEXParams& operator=(const TKORVEXParams&) = delete;

  int Count() const { return static_cast<int>(items_.size()); }
  // The parameter found by the name of the one at `index`: of two with one
  // name, both positions give the first.
  TKORVEXParam* Items(int index) const;
  TKORVEXParam* At(int index) const { return items_.at(static_cast<std::size_t>(index)); }
  // Case-blind; none raises "Parameter '%s' not found".
  TKORVEXParam* ParamByName(const std::string& name) const;
  TKORVEXParam* FindParam(const std::string& name) const;
  TKORVEXParam* CreateParam(db::TFieldType type, const std::string& name, TKORVEXParamType param_type);
  void AddParam(TKORVEXParam* param);
  void RemoveParam(TKORVEXParam* param);
  void Clear();

  void Assign(const TKORVEXParams& source);
  // Each own parameter takes the first of `other` with exactly its name
  // (case-sensitive).
  void AssignValues(const TKORVEXParams& other);
  bool IsEqual(const TKORVEXParams& other) const;

  // Names split at ';': an array of their values; one name: its value.
  db::Variant GetParamValue(const std::string& names) const;
  void SetParamValue(const std::string& names, const db::Variant& value);
  void GetParamList(std::vector<TKORVEXParam*>& list, const std::string& names) const;

  // The "Data" property (layout at the top of this file).
  void WriteData(rtl::TStream& stream) const;
  void ReadData(rtl::TStream& stream);
  // Whether the property is stored: a non-empty list without an ancestor,
  // or one that differs from the ancestor's.
  bool StoresData(const TKORVEXParams* ancestor) const;

private:
  friend class TKORVEXParam;
  std::vector<TKORVEXParam*> items_;
};

}  // namespace korvex
