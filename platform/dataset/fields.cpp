#include "platform/dataset/fields.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

#include "platform/dataset/dataset.h"
#include "platform/dataset/datetext.h"
#include "platform/runtime/exceptions.h"
#include "platform/runtime/sysutils.h"

namespace db {
namespace {

// TDateTime 0 (30 December 1899) as a day number (1 January of year 1 = 1).
constexpr std::int32_t kDateDelta = 693594;

template <typename T>
T Read(const TField& field, bool& present) {
  T value{};
  present = field.GetData(&value);
  return present ? value : T{};
}

}  // namespace

bool IsBlobType(TFieldType type) {
  switch (type) {
    case ftBlob: case ftMemo: case ftGraphic: case ftFmtMemo: case ftParadoxOle: case ftDBaseOle:
    case ftTypedBinary: case ftOraBlob: case ftOraClob:
      return true;
    default:
      return false;
  }
}

// ---- TField ---------------------------------------------------------------

TField::TField(rtl::TComponent* owner) : TField(owner, ftUnknown, 0) {}

TField::TField(rtl::TComponent* owner, TFieldType type, int size)
    : rtl::TComponent(owner), data_type_(type), size_(size) {}

TField::~TField() {
  if (dataset_) dataset_->RemoveField(this);
}

void TField::SetDataSet(TDataSet* dataset) {
  if (dataset == dataset_) return;
  if (dataset_) dataset_->CheckInactive();
  if (dataset) dataset->CheckInactive();
  if (dataset_) dataset_->RemoveField(this);
  dataset_ = nullptr;
  if (dataset) {
    dataset->AddField(this);
    dataset_ = dataset;
  }
}

void TField::SetSize(int size) {
  if (dataset_) dataset_->CheckInactive();
  size_ = size;
}

bool TField::IsIndexField() const { return dataset_ && field_no_ > 0 && dataset_->GetIsIndexField(const_cast<TField*>(this)); }

bool TField::CanModify() const {
  return !read_only_ && dataset_ && dataset_->Active() && dataset_->CanModify();
}

void TField::CheckActive() const {
  if (!dataset_ || !dataset_->Active()) rtl::DatabaseError(msg::kDataSetClosed);
}

bool TField::GetData(void* buffer, bool native) const {
  if (validating_active_) {
    if (!validating_) return false;
    if (buffer && native) std::memcpy(buffer, validating_, static_cast<std::size_t>(DataSize()));
    else if (buffer) dataset_->DataConvert(const_cast<TField*>(this), validating_, buffer, true);
    return true;
  }
  CheckActive();
  return dataset_->GetFieldData(const_cast<TField*>(this), buffer, native);
}

void TField::SetData(const void* buffer, bool native) {
  CheckActive();
  dataset_->SetFieldData(this, buffer, native);
}

void TField::Validate(const void* buffer) {
  if (!OnValidate) return;
  validating_ = buffer;
  validating_active_ = true;
  try {
    OnValidate(this);
  } catch (...) {
    validating_active_ = false;
    validating_ = nullptr;
    throw;
  }
  validating_active_ = false;
  validating_ = nullptr;
}

void TField::Change() {
  if (OnChange) OnChange(this);
}

bool TField::IsNull() const {
  if (auto* blob = dynamic_cast<const TBlobField*>(this)) return blob->BlobSize() == 0;  // empty BLOB = null
  return !GetData(nullptr);
}

void TField::Clear() { SetData(nullptr); }

void TField::AccessError(const char* type_name) const {
  rtl::DatabaseErrorFmt(msg::kFieldAccess, {DisplayName(), type_name});
}

void TField::RangeError(const std::string& value_text) const {
  rtl::DatabaseErrorFmt(msg::kValueOutOfRange, {value_text, DisplayName()});
}

std::string TField::AsString() const { AccessError("String"); }
void TField::SetAsString(const std::string&) { AccessError("String"); }
std::int32_t TField::AsInteger() const { AccessError("Integer"); }
void TField::SetAsInteger(std::int32_t) { AccessError("Integer"); }
double TField::AsFloat() const { AccessError("Float"); }
void TField::SetAsFloat(double) { AccessError("Float"); }
bool TField::AsBoolean() const { AccessError("Boolean"); }
void TField::SetAsBoolean(bool) { AccessError("Boolean"); }
rtl::Currency TField::AsCurrency() const {
  auto c = rtl::Currency::FromDouble(AsFloat());
  if (!c) RangeError(rtl::FloatToStr(AsFloat()));
  return *c;
}
void TField::SetAsCurrency(rtl::Currency value) { SetAsFloat(value.ToDouble()); }
rtl::TDateTime TField::AsDateTime() const { AccessError("DateTime"); }
void TField::SetAsDateTime(rtl::TDateTime) { AccessError("DateTime"); }
Variant TField::AsVariant() const { AccessError("Variant"); }

void TField::SetAsVariant(const Variant& value) {
  if (value.IsClear()) Clear();
  else SetVariantValue(value);
}

void TField::SetVariantValue(const Variant& value) {
  if (value.Is<std::string>()) SetAsString(value.Get<std::string>());
  else if (value.Is<bool>()) SetAsBoolean(value.Get<bool>());
  else if (value.Is<rtl::Currency>()) SetAsCurrency(value.Get<rtl::Currency>());
  else if (value.Is<VarDate>()) SetAsDateTime(value.Get<VarDate>().value);
  else if (value.Is<double>() || value.Is<float>()) SetAsFloat(value.ToDouble());
  else if (value.IsArray()) AccessError("Array");
  else {
    std::int64_t i = value.ToInt64();
    if (i < INT32_MIN || i > INT32_MAX) RangeError(rtl::IntToStr(i));
    SetAsInteger(static_cast<std::int32_t>(i));
  }
}

Variant TField::OldValue() const {
  CheckActive();
  return dataset_->GetStateFieldValue(dsOldValue, const_cast<TField*>(this));
}

Variant TField::NewValue() const {
  CheckActive();
  return dataset_->GetStateFieldValue(dsNewValue, const_cast<TField*>(this));
}

// ---- strings --------------------------------------------------------------

void TStringField::SetSize(int size) {
  if (size < 1) rtl::DatabaseError(msg::kInvalidFieldSize);
  TField::SetSize(size);
}

namespace {

// A field's value bytes, zeroed: on the stack for the sizes string fields
// usually have (every read and write of a record's text takes one), on the
// heap beyond.
class ValueBytes {
public:
  explicit ValueBytes(std::size_t n) {
    if (n > sizeof stack_) heap_ = std::make_unique<char[]>(n);
    std::memset(data(), 0, n);
  }
  char* data() { return heap_ ? heap_.get() : stack_; }

private:
  char stack_[320];
  std::unique_ptr<char[]> heap_;
};

}  // namespace

std::string TStringField::AsString() const {
  ValueBytes buffer(static_cast<std::size_t>(DataSize()) + 1);
  if (!GetData(buffer.data())) return {};
  return std::string(buffer.data());
}

void TStringField::SetAsString(const std::string& value) {
  ValueBytes buffer(static_cast<std::size_t>(DataSize()));
  std::size_t n = std::min(value.size(), static_cast<std::size_t>(Size()));
  std::memcpy(buffer.data(), value.data(), n);
  buffer.data()[n] = '\0';
  SetData(buffer.data());
}

std::int32_t TStringField::AsInteger() const {
  std::string text = AsString();
  return text.empty() ? 0 : rtl::StrToInt(text);
}

double TStringField::AsFloat() const {
  std::string text = AsString();
  return text.empty() ? 0 : rtl::StrToFloat(text);
}

void TStringField::SetAsFloat(double value) { SetAsString(rtl::FloatToStr(value)); }

bool TStringField::AsBoolean() const {
  std::string text = AsString();
  return !text.empty() && (text[0] == 'T' || text[0] == 't' || text[0] == 'Y' || text[0] == 'y');
}

rtl::TDateTime TStringField::AsDateTime() const {
  std::string text = AsString();
  if (text.empty()) return 0;
  rtl::TDateTime value;
  if (!TryStrToDateTime(text, value)) rtl::DatabaseErrorFmt(msg::kInvalidValue, {text, DisplayName()});
  return value;
}

void TStringField::SetAsDateTime(rtl::TDateTime value) { SetAsString(DateTimeToStr(value)); }

Variant TStringField::AsVariant() const { return IsNull() ? Null : Variant(AsString()); }

// ---- integers -------------------------------------------------------------

TIntegerField::TIntegerField(rtl::TComponent* owner, TFieldType type) : TField(owner, type, 0) {
  switch (type) {
    case ftSmallint: min_ = INT16_MIN, max_ = INT16_MAX; break;
    case ftWord: min_ = 0, max_ = UINT16_MAX; break;
    case ftLargeint: min_ = INT64_MIN, max_ = INT64_MAX; break;
    default: min_ = INT32_MIN, max_ = INT32_MAX; break;
  }
}

int TIntegerField::DataSize() const {
  switch (DataType()) {
    case ftSmallint: case ftWord: return 2;
    case ftLargeint: return 8;
    default: return 4;
  }
}

std::int64_t TIntegerField::AsLargeInt() const {
  bool present;
  switch (DataType()) {
    case ftSmallint: return Read<std::int16_t>(*this, present);
    case ftWord: return Read<std::uint16_t>(*this, present);
    case ftLargeint: return Read<std::int64_t>(*this, present);
    default: return Read<std::int32_t>(*this, present);
  }
}

void TIntegerField::SetAsLargeInt(std::int64_t value) {
  if (value < min_ || value > max_) RangeError(rtl::IntToStr(value));
  switch (DataType()) {
    case ftSmallint: { auto v = static_cast<std::int16_t>(value); SetData(&v); break; }
    case ftWord: { auto v = static_cast<std::uint16_t>(value); SetData(&v); break; }
    case ftLargeint: SetData(&value); break;
    default: { auto v = static_cast<std::int32_t>(value); SetData(&v); break; }
  }
}

std::int32_t TIntegerField::AsInteger() const {
  std::int64_t value = AsLargeInt();
  if (value < INT32_MIN || value > INT32_MAX) RangeError(rtl::IntToStr(value));
  return static_cast<std::int32_t>(value);
}

std::string TIntegerField::AsString() const { return IsNull() ? std::string() : rtl::IntToStr(AsLargeInt()); }

void TIntegerField::SetAsString(const std::string& value) {
  if (value.empty()) { Clear(); return; }
  std::int64_t number;
  if (!rtl::TryStrToInt64(value, number)) rtl::DatabaseErrorFmt(msg::kInvalidValue, {value, DisplayName()});
  SetAsLargeInt(number);
}

void TIntegerField::SetAsFloat(double value) {
  if (!(value >= static_cast<double>(min_) - 0.5 && value <= static_cast<double>(max_) + 0.5) ||
      !(std::fabs(value) < 9.2e18))
    RangeError(rtl::FloatToStr(value));
  SetAsLargeInt(std::llround(value));
}

rtl::Currency TIntegerField::AsCurrency() const {
  std::int64_t value = AsLargeInt();
  if (value > INT64_MAX / rtl::Currency::kScale || value < INT64_MIN / rtl::Currency::kScale)
    RangeError(rtl::IntToStr(value));
  return rtl::Currency{value * rtl::Currency::kScale};
}

void TIntegerField::SetAsCurrency(rtl::Currency value) { SetAsLargeInt(rtl::RoundToInteger(value)); }

Variant TIntegerField::AsVariant() const {
  if (IsNull()) return Null;
  switch (DataType()) {
    case ftSmallint: return Variant(static_cast<std::int16_t>(AsLargeInt()));
    case ftLargeint: return Variant(AsLargeInt());
    default: return Variant(static_cast<std::int32_t>(AsLargeInt()));
  }
}

void TIntegerField::SetVariantValue(const Variant& value) {
  if (value.Is<std::int64_t>()) SetAsLargeInt(value.Get<std::int64_t>());
  else if (value.Is<std::string>()) SetAsString(value.Get<std::string>());
  else if (value.Is<bool>()) SetAsBoolean(value.Get<bool>());
  else if (value.Is<double>() || value.Is<float>() || value.Is<VarDate>()) SetAsFloat(value.ToDouble());
  else if (value.Is<rtl::Currency>()) SetAsCurrency(value.Get<rtl::Currency>());
  else SetAsLargeInt(value.ToInt64());
}

// ---- booleans -------------------------------------------------------------

bool TBooleanField::AsBoolean() const {
  bool present;
  return Read<std::int16_t>(*this, present) != 0;
}

void TBooleanField::SetAsBoolean(bool value) {
  std::int16_t v = value ? 1 : 0;
  SetData(&v);
}

std::string TBooleanField::AsString() const { return IsNull() ? std::string() : AsBoolean() ? "True" : "False"; }

void TBooleanField::SetAsString(const std::string& value) {
  std::string text = rtl::Trim(value);
  if (text.empty()) Clear();
  else if (rtl::SameText(text, "True") || rtl::SameText(text, "T") || rtl::SameText(text, "Y") ||
           rtl::SameText(text, "Yes"))
    SetAsBoolean(true);
  else if (rtl::SameText(text, "False") || rtl::SameText(text, "F") || rtl::SameText(text, "N") ||
           rtl::SameText(text, "No"))
    SetAsBoolean(false);
  else
    rtl::DatabaseErrorFmt(msg::kInvalidValue, {value, DisplayName()});
}

Variant TBooleanField::AsVariant() const { return IsNull() ? Null : Variant(AsBoolean()); }

// ---- floats ---------------------------------------------------------------

double TFloatField::AsFloat() const {
  bool present;
  return Read<double>(*this, present);
}

void TFloatField::SetAsFloat(double value) {
  if (!std::isfinite(value)) RangeError(rtl::FloatToStr(value));
  SetData(&value);
}

std::int32_t TFloatField::AsInteger() const {
  double value = AsFloat();
  double rounded = std::round(value);  // halves away from zero
  if (!(rounded >= INT32_MIN && rounded <= INT32_MAX)) RangeError(rtl::FloatToStr(value));
  return static_cast<std::int32_t>(rounded);
}

std::string TFloatField::AsString() const { return IsNull() ? std::string() : rtl::FloatToStr(AsFloat()); }

void TFloatField::SetAsString(const std::string& value) {
  if (rtl::Trim(value).empty()) { Clear(); return; }
  double number;
  if (!rtl::TryStrToFloat(value, number)) rtl::DatabaseErrorFmt(msg::kInvalidValue, {value, DisplayName()});
  SetAsFloat(number);
}

rtl::Currency TFloatField::AsCurrency() const {
  auto c = rtl::Currency::FromDouble(AsFloat());
  if (!c) RangeError(rtl::FloatToStr(AsFloat()));
  return *c;
}

Variant TFloatField::AsVariant() const { return IsNull() ? Null : Variant(AsFloat()); }

// ---- BCD ------------------------------------------------------------------

rtl::Currency TBCDField::AsCurrency() const {
  rtl::Currency value;
  return GetData(&value, false) ? value : rtl::Currency{};
}

void TBCDField::SetAsCurrency(rtl::Currency value) { SetData(&value, false); }

void TBCDField::SetAsFloat(double value) {
  auto c = rtl::Currency::FromDouble(value);
  if (!c) RangeError(rtl::FloatToStr(value));
  SetAsCurrency(*c);
}

std::int32_t TBCDField::AsInteger() const {
  rtl::Currency value = AsCurrency();
  std::int64_t q = rtl::RoundToInteger(value);
  if (q < INT32_MIN || q > INT32_MAX) RangeError(rtl::CurrToStr(value));
  return static_cast<std::int32_t>(q);
}

std::string TBCDField::AsString() const { return IsNull() ? std::string() : rtl::CurrToStr(AsCurrency()); }

void TBCDField::SetAsString(const std::string& value) {
  if (rtl::Trim(value).empty()) { Clear(); return; }
  rtl::Currency number;
  if (!rtl::TryStrToCurr(value, number)) {
    double d;
    if (rtl::TryStrToFloat(value, d)) RangeError(value);
    rtl::DatabaseErrorFmt(msg::kInvalidValue, {value, DisplayName()});
  }
  SetAsCurrency(number);
}

Variant TBCDField::AsVariant() const { return IsNull() ? Null : Variant(AsCurrency()); }

// ---- dates and times ------------------------------------------------------

rtl::TDateTime TDateTimeField::AsDateTime() const {
  bool present;
  rtl::TTimeStamp stamp;
  switch (DataType()) {
    case ftDate:
      stamp.Date = Read<std::int32_t>(*this, present);
      if (!present) return 0;
      break;
    case ftTime:
      stamp.Time = Read<std::int32_t>(*this, present);
      if (!present) return 0;
      stamp.Date = kDateDelta;
      break;
    default: {
      double msecs = Read<double>(*this, present);
      if (!present) return 0;
      stamp = rtl::MSecsToTimeStamp(msecs);
      break;
    }
  }
  return rtl::TimeStampToDateTime(stamp);
}

void TDateTimeField::SetAsDateTime(rtl::TDateTime value) {
  // 1 January of year 1 (its time of day counts away from zero) to the end of 9999.
  if (!(value > -693594.0 && value < 2958466.0)) RangeError(rtl::FloatToStr(value));
  rtl::TTimeStamp stamp = rtl::DateTimeToTimeStamp(value);
  switch (DataType()) {
    case ftDate: SetData(&stamp.Date); break;
    case ftTime: SetData(&stamp.Time); break;
    default: {
      double msecs = rtl::TimeStampToMSecs(stamp);
      SetData(&msecs);
      break;
    }
  }
}

std::string TDateTimeField::AsString() const {
  if (IsNull()) return {};
  switch (DataType()) {
    case ftDate: return DateToStr(AsDateTime());
    case ftTime: return TimeToStr(AsDateTime());
    default: return DateTimeToStr(AsDateTime());
  }
}

void TDateTimeField::SetAsString(const std::string& value) {
  if (rtl::Trim(value).empty()) { Clear(); return; }
  rtl::TDateTime parsed;
  bool ok = DataType() == ftDate ? TryStrToDate(value, parsed)
            : DataType() == ftTime ? TryStrToTime(value, parsed)
                                   : TryStrToDateTime(value, parsed);
  if (!ok) rtl::DatabaseErrorFmt(msg::kInvalidValue, {value, DisplayName()});
  SetAsDateTime(parsed);
}

Variant TDateTimeField::AsVariant() const { return IsNull() ? Null : Variant(VarDate{AsDateTime()}); }

// ---- bytes ----------------------------------------------------------------

std::string TBytesField::AsString() const {
  std::vector<char> buffer(static_cast<std::size_t>(DataSize()));
  if (!GetData(buffer.data())) return {};
  if (DataType() == ftVarBytes) {
    std::uint16_t length;
    std::memcpy(&length, buffer.data(), 2);
    length = std::min<std::uint16_t>(length, static_cast<std::uint16_t>(Size()));
    return std::string(buffer.data() + 2, length);
  }
  return std::string(buffer.data(), buffer.size());
}

void TBytesField::SetAsString(const std::string& value) {
  std::vector<char> buffer(static_cast<std::size_t>(DataSize()), '\0');
  std::size_t n = std::min(value.size(), static_cast<std::size_t>(Size()));
  if (DataType() == ftVarBytes) {
    auto length = static_cast<std::uint16_t>(n);
    std::memcpy(buffer.data(), &length, 2);
    std::memcpy(buffer.data() + 2, value.data(), n);
  } else {
    std::memcpy(buffer.data(), value.data(), n);
  }
  SetData(buffer.data());
}

// ---- BLOBs ----------------------------------------------------------------

std::string TBlobField::AsString() const {
  CheckActive();
  auto stream = DataSet()->CreateBlobStream(const_cast<TBlobField*>(this), bmRead);
  return stream->ReadToEnd();
}

void TBlobField::SetAsString(const std::string& value) {
  CheckActive();
  auto stream = DataSet()->CreateBlobStream(this, bmWrite);
  stream->WriteBuffer(value.data(), static_cast<std::int64_t>(value.size()));
}

void TBlobField::LoadFromStream(rtl::TStream& stream) {
  CheckActive();
  auto blob = DataSet()->CreateBlobStream(this, bmWrite);
  stream.SetPosition(0);
  blob->CopyFrom(stream, 0);
}

void TBlobField::SaveToStream(rtl::TStream& stream) const {
  std::string data = AsString();
  stream.WriteBuffer(data.data(), static_cast<std::int64_t>(data.size()));
}

std::int64_t TBlobField::BlobSize() const {
  CheckActive();
  auto stream = DataSet()->CreateBlobStream(const_cast<TBlobField*>(this), bmRead);
  return stream->Size();
}

// ---- kinds ------------------------------------------------------------------

TField* CreateFieldOfType(rtl::TComponent* owner, TFieldType type, int size) {
  switch (type) {
    case ftString: case ftFixedChar: case ftWideString: case ftGuid: {
      auto* f = new TStringField(owner, size > 0 ? size : 20);
      return f;
    }
    case ftSmallint: return new TSmallintField(owner);
    case ftInteger: return new TIntegerField(owner);
    case ftWord: return new TWordField(owner);
    case ftAutoInc: return new TAutoIncField(owner);
    case ftLargeint: return new TLargeintField(owner);
    case ftBoolean: return new TBooleanField(owner);
    case ftFloat: return new TFloatField(owner);
    case ftCurrency: return new TCurrencyField(owner);
    case ftBCD: return new TBCDField(owner, size);
    case ftDate: return new TDateField(owner);
    case ftTime: return new TTimeField(owner);
    case ftDateTime: return new TDateTimeField(owner);
    case ftBytes: return new TBytesField(owner, size);
    case ftVarBytes: return new TVarBytesField(owner, size);
    case ftMemo: case ftFmtMemo: return new TMemoField(owner);
    case ftGraphic: return new TGraphicField(owner);
    case ftBlob: case ftParadoxOle: case ftDBaseOle: case ftTypedBinary: case ftOraBlob: case ftOraClob:
      return new TBlobField(owner, type);
    default: return nullptr;
  }
}

}  // namespace db
