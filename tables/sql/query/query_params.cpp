#include "tables/sql/query/query_params.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/dataset/datetext.h"
#include "platform/runtime/coding.h"
#include "platform/runtime/exceptions.h"
#include "platform/runtime/sysutils.h"
#include "tables/components/messages.h"
#include "tables/lib/numeric.h"

namespace korvex {

using namespace db;

namespace {

// The day number of the time stamp for 30 December 1899, the date-time 0.
constexpr std::int32_t kDateDelta = 693594;

bool IsRawBlobType(TFieldType type) {
  switch (type) {
    case ftBlob: case ftGraphic: case ftFmtMemo: case ftParadoxOle: case ftDBaseOle: case ftTypedBinary:
      return true;
    default:
      return false;
  }
}

[[noreturn]] void LoadFailure() { rtl::DatabaseError(cmsg::kInvalidVersion); }

}  // namespace

// ---- TKORVEXParam -----------------------------------------------------------------

TKORVEXParam::TKORVEXParam(TKORVEXParams* owner, TKORVEXParamType type) : param_type_(type) {
  if (owner) owner->AddParam(this);
}

TKORVEXParam::~TKORVEXParam() {
  if (owner_) owner_->RemoveParam(this);
}

void TKORVEXParam::SetDataType(TFieldType type) {
  value_ = std::int32_t{0};
  data_type_ = type;
}

void TKORVEXParam::InitValue() {
  bound_ = true;
  is_null_ = false;
}

void TKORVEXParam::SetAsBoolean(bool value) {
  InitValue();
  data_type_ = ftBoolean;
  value_ = value;
}
void TKORVEXParam::SetAsFloat(double value) {
  InitValue();
  data_type_ = ftFloat;
  value_ = value;
}
void TKORVEXParam::SetAsCurrency(double value) {
  SetAsFloat(value);
  data_type_ = ftCurrency;
}
void TKORVEXParam::SetAsBCD(rtl::Currency value) {
  InitValue();
  data_type_ = ftBCD;
  value_ = value;
}
void TKORVEXParam::SetAsInteger(std::int32_t value) {
  InitValue();
  data_type_ = ftInteger;
  value_ = value;
}
void TKORVEXParam::SetAsWord(std::int32_t value) {
  SetAsInteger(value);
  data_type_ = ftWord;
}
void TKORVEXParam::SetAsSmallInt(std::int32_t value) {
  SetAsInteger(value);
  data_type_ = ftSmallint;
}
void TKORVEXParam::SetAsString(const std::string& value) {
  InitValue();
  data_type_ = ftString;
  value_ = value;
}
void TKORVEXParam::SetAsDate(rtl::TDateTime value) {
  InitValue();
  data_type_ = ftDate;
  value_ = VarDate{value};
}
void TKORVEXParam::SetAsTime(rtl::TDateTime value) {
  InitValue();
  data_type_ = ftTime;
  value_ = VarDate{value};
}
void TKORVEXParam::SetAsDateTime(rtl::TDateTime value) {
  InitValue();
  data_type_ = ftDateTime;
  value_ = VarDate{value};
}
void TKORVEXParam::SetAsMemo(const std::string& value) {
  InitValue();
  data_type_ = ftMemo;
  value_ = value;
}
void TKORVEXParam::SetAsBlob(const std::string& value) {
  InitValue();
  data_type_ = ftBlob;
  value_ = value;
}

void TKORVEXParam::SetAsVariant(const Variant& value) {
  InitValue();
  const auto& v = value.value();
  if (std::holds_alternative<std::int16_t>(v)) data_type_ = ftSmallint;
  else if (std::holds_alternative<std::int32_t>(v) || std::holds_alternative<std::int64_t>(v)) data_type_ = ftInteger;
  else if (std::holds_alternative<float>(v) || std::holds_alternative<double>(v)) data_type_ = ftFloat;
  else if (std::holds_alternative<rtl::Currency>(v)) data_type_ = ftBCD;
  else if (std::holds_alternative<VarDate>(v)) data_type_ = ftDateTime;
  else if (std::holds_alternative<bool>(v)) data_type_ = ftBoolean;
  else if (std::holds_alternative<std::string>(v))
    data_type_ = std::get<std::string>(v).size() <= kMaxStringParamLength ? ftString : ftBlob;
  else data_type_ = ftUnknown;
  value_ = value;
}

void TKORVEXParam::SetText(const std::string& text) {
  InitValue();
  if (data_type_ == ftUnknown) data_type_ = ftString;
  value_ = text;
  switch (data_type_) {
    case ftSmallint: case ftInteger: case ftWord: case ftAutoInc:
      value_ = static_cast<std::int32_t>(Variant(text).ToInt64());
      break;
    case ftBoolean: value_ = Variant(text).ToBool(); break;
    case ftFloat: case ftCurrency: value_ = Variant(text).ToDouble(); break;
    case ftBCD: value_ = Variant(text).ToCurrency(); break;
    case ftDate: case ftTime: case ftDateTime: value_ = VarDate{Variant(text).ToDateTime()}; break;
    default: break;
  }
}

bool TKORVEXParam::AsBoolean() const { return value_.ToBool(); }
double TKORVEXParam::AsFloat() const { return value_.ToDouble(); }
rtl::Currency TKORVEXParam::AsBCD() const { return value_.ToCurrency(); }
std::int32_t TKORVEXParam::AsInteger() const { return static_cast<std::int32_t>(value_.ToInt64()); }
std::string TKORVEXParam::AsMemo() const { return value_.ToString(); }
rtl::TDateTime TKORVEXParam::AsDateTime() const { return is_null_ ? 0 : value_.ToDateTime(); }

std::string TKORVEXParam::AsString() const {
  if (is_null_) return {};
  switch (data_type_) {
    case ftBoolean: return value_.ToBool() ? "True" : "False";
    case ftDate: return DateToStr(value_.ToDateTime());
    case ftTime: return TimeToStr(value_.ToDateTime());
    case ftDateTime: return DateTimeToStr(value_.ToDateTime());
    default: return value_.ToString();
  }
}

void TKORVEXParam::Clear() {
  is_null_ = true;
  value_ = std::int32_t{0};
  text_.clear();
}

std::size_t TKORVEXParam::GetDataSize() const {
  switch (data_type_) {
    case ftString: case ftMemo: return value_.ToString().size() + 1;
    case ftSmallint: case ftWord: case ftBoolean: return 2;
    case ftInteger: case ftAutoInc: case ftDate: case ftTime: return 4;
    case ftFloat: case ftCurrency: case ftBCD: case ftDateTime: return 8;
    case ftUnknown: rtl::DatabaseErrorFmt(cmsg::kFieldUndefinedType, {name_});
    default:
      if (IsRawBlobType(data_type_)) return value_.ToString().size();
      rtl::DatabaseErrorFmt(cmsg::kFieldUnsupportedType, {name_});
  }
}

void TKORVEXParam::GetData(std::uint8_t* buffer) const {
  switch (data_type_) {
    case ftString: case ftMemo: {
      const std::string text = value_.ToString();
      std::memcpy(buffer, text.data(), text.size());
      buffer[text.size()] = 0;
      return;
    }
    case ftSmallint: case ftWord:
      rtl::EncodeFixed16(buffer, static_cast<std::uint16_t>(value_.ToInt64()));
      return;
    case ftBoolean: rtl::EncodeFixed16(buffer, value_.ToBool() ? 1 : 0); return;
    case ftInteger: case ftAutoInc: rtl::EncodeFixed32(buffer, static_cast<std::uint32_t>(value_.ToInt64())); return;
    case ftDate:
      rtl::EncodeFixed32(buffer, static_cast<std::uint32_t>(rtl::DateTimeToTimeStamp(value_.ToDateTime()).Date));
      return;
    case ftTime:
      rtl::EncodeFixed32(buffer, static_cast<std::uint32_t>(rtl::DateTimeToTimeStamp(value_.ToDateTime()).Time));
      return;
    case ftFloat: case ftCurrency: rtl::EncodeDouble(buffer, value_.ToDouble()); return;
    case ftBCD: {
      const auto comp = CurrToComp(value_.ToCurrency(), 4);
      rtl::EncodeFixed64(buffer, static_cast<std::uint64_t>(comp.value_or(0)));
      return;
    }
    case ftDateTime:
      rtl::EncodeDouble(buffer, rtl::TimeStampToMSecs(rtl::DateTimeToTimeStamp(value_.ToDateTime())));
      return;
    default: {
      const std::size_t size = GetDataSize();  // raises for types without a form
      const std::string bytes = value_.ToString();
      std::memcpy(buffer, bytes.data(), size);
      return;
    }
  }
}

void TKORVEXParam::SetData(const std::uint8_t* buffer, std::size_t size) {
  // Fixed-size forms read past a short value as zero bytes.
  std::uint8_t fixed[8] = {};
  std::memcpy(fixed, buffer, std::min<std::size_t>(size, sizeof fixed));
  switch (data_type_) {
    case ftString: case ftMemo: {
      const auto* end = static_cast<const std::uint8_t*>(std::memchr(buffer, 0, size));
      const std::string text(reinterpret_cast<const char*>(buffer), end ? static_cast<std::size_t>(end - buffer) : size);
      if (data_type_ == ftMemo) SetAsMemo(text);
      else SetAsString(text);
      return;
    }
    case ftSmallint: SetAsSmallInt(static_cast<std::int16_t>(rtl::DecodeFixed16(fixed))); return;
    case ftWord: SetAsWord(rtl::DecodeFixed16(fixed)); return;
    case ftBoolean: SetAsBoolean(static_cast<std::int16_t>(rtl::DecodeFixed16(fixed)) > 0); return;
    case ftInteger: case ftAutoInc: {
      const TFieldType type = data_type_;
      SetAsInteger(static_cast<std::int32_t>(rtl::DecodeFixed32(fixed)));
      data_type_ = type;
      return;
    }
    case ftDate: {
      // The day number at midnight; any 32-bit day number of a stream is
      // taken without overflowing.
      const auto day = static_cast<std::int32_t>(rtl::DecodeFixed32(fixed));
      SetAsDate(static_cast<double>(std::int64_t{day} - kDateDelta));
      return;
    }
    case ftTime: {
      rtl::TTimeStamp stamp;
      stamp.Time = static_cast<std::int32_t>(rtl::DecodeFixed32(fixed));
      stamp.Date = kDateDelta;
      SetAsTime(rtl::TimeStampToDateTime(stamp));
      return;
    }
    case ftFloat: SetAsFloat(rtl::DecodeDouble(fixed)); return;
    case ftCurrency: SetAsCurrency(rtl::DecodeDouble(fixed)); return;
    case ftBCD:
      SetAsBCD(CompToCurr(static_cast<std::int64_t>(rtl::DecodeFixed64(fixed))).value_or(rtl::Currency{}));
      return;
    case ftDateTime: {
      const double ms = rtl::DecodeDouble(fixed);
      // A value no time stamp can hold reads as the date-time 0.
      if (!std::isfinite(ms) || ms < 0 || ms > 1e15) {
        SetAsDateTime(0);
        return;
      }
      SetAsDateTime(rtl::TimeStampToDateTime(rtl::MSecsToTimeStamp(ms)));
      return;
    }
    default:
      if (IsRawBlobType(data_type_)) {
        SetBlobData(buffer, size);
        return;
      }
      GetDataSize();  // raises the type's message
  }
}

void TKORVEXParam::SetBlobData(const std::uint8_t* buffer, std::size_t size) {
  const TFieldType type = data_type_;
  SetAsBlob(std::string(reinterpret_cast<const char*>(buffer), size));
  if (IsRawBlobType(type)) data_type_ = type;
}

bool TKORVEXParam::BindsAsBlob() const {
  // A memo is a BLOB of the engine: its text goes as a length and a
  // pointer, as the raw BLOB types do.
  if (IsRawBlobType(data_type_) || data_type_ == ftMemo) return true;
  return data_type_ == ftString && !is_null_ && value_.ToString().size() > kMaxStringParamLength;
}

std::size_t TKORVEXParam::RecBufDataSize() const {
  if (BindsAsBlob()) return 4 + sizeof(const void*);
  return GetDataSize();
}

void TKORVEXParam::RecBufGetData(std::uint8_t* buffer, std::string& keep) const {
  if (!BindsAsBlob()) {
    GetData(buffer);
    return;
  }
  keep = value_.ToString();
  const auto length = static_cast<std::int32_t>(keep.size());
  const void* data = keep.data();
  std::memcpy(buffer, &length, sizeof length);
  std::memcpy(buffer + 4, &data, sizeof data);
}

void TKORVEXParam::Assign(const TKORVEXParam& source) {
  if (&source == this) return;
  data_type_ = source.data_type_;
  if (source.is_null_) Clear();
  else {
    InitValue();
    value_ = source.value_;
  }
  bound_ = source.bound_;
  name_ = source.name_;
  if (param_type_ == ptUnknown) param_type_ = source.param_type_;
}

void TKORVEXParam::AssignFieldValue(const TField& field, const Variant& value) {
  data_type_ = field.DataType();
  if (data_type_ == ftMemo && field.Size() > 255) data_type_ = ftString;
  if (value.IsClear()) Clear();
  else {
    InitValue();
    value_ = value;
  }
  bound_ = true;
}

void TKORVEXParam::AssignField(const TField& field) {
  AssignFieldValue(field, field.IsNull() ? Null : field.AsVariant());
  name_ = field.FieldName();
}

void TKORVEXParam::AssignTo(TField& field) const {
  if (is_null_) field.Clear();
  else field.SetAsVariant(value_);
}

bool TKORVEXParam::IsEqual(const TKORVEXParam& other) const {
  return value_.value().index() == other.value_.value().index() && value_ == other.value_ && name_ == other.name_ &&
         data_type_ == other.data_type_ && is_null_ == other.is_null_ && bound_ == other.bound_ &&
         param_type_ == other.param_type_;
}

void TKORVEXParam::LoadFromFile(const std::string& file_name, TFieldType type) {
  rtl::TFileStream stream(file_name, rtl::fmOpenRead | rtl::fmShareDenyWrite);
  LoadFromStream(stream, type);
}

void TKORVEXParam::LoadFromStream(rtl::TStream& stream, TFieldType type) {
  stream.SetPosition(0);
  std::string bytes(static_cast<std::size_t>(stream.Size()), '\0');
  if (!bytes.empty()) stream.ReadBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
  InitValue();
  data_type_ = type;
  value_ = std::move(bytes);
}

// ---- TKORVEXParams ----------------------------------------------------------------

TKORVEXParams::~TKORVEXParams() { Clear(); }

TKORVEXParam* TKORVEXParams::Items(int index) const { return ParamByName(At(index)->Name()); }

TKORVEXParam* TKORVEXParams::FindParam(const std::string& name) const {
  for (TKORVEXParam* p : items_)
    if (rtl::AnsiSameText(p->Name(), name)) return p;
  return nullptr;
}

TKORVEXParam* TKORVEXParams::ParamByName(const std::string& name) const {
  TKORVEXParam* p = FindParam(name);
  if (!p) rtl::DatabaseErrorFmt(cmsg::kParameterNotFound, {name});
  return p;
}

TKORVEXParam* TKORVEXParams::CreateParam(TFieldType type, const std::string& name, TKORVEXParamType param_type) {
  auto* p = new TKORVEXParam(this, param_type);
  p->SetName(name);
  p->SetDataType(type);
  return p;
}

void TKORVEXParams::AddParam(TKORVEXParam* param) {
  items_.push_back(param);
  param->owner_ = this;
}

void TKORVEXParams::RemoveParam(TKORVEXParam* param) {
  auto it = std::find(items_.begin(), items_.end(), param);
  if (it != items_.end()) items_.erase(it);
  param->owner_ = nullptr;
}

void TKORVEXParams::Clear() {
  while (!items_.empty()) delete items_.back();
}

void TKORVEXParams::Assign(const TKORVEXParams& source) {
  if (&source == this) return;
  Clear();
  for (const TKORVEXParam* p : source.items_) {
    auto* copy = new TKORVEXParam(this, ptUnknown);
    copy->Assign(*p);
  }
}

void TKORVEXParams::AssignValues(const TKORVEXParams& other) {
  for (TKORVEXParam* own : items_) {
    for (const TKORVEXParam* p : other.items_) {
      if (p->Name() != own->Name()) continue;
      own->Assign(*p);
      break;
    }
  }
}

bool TKORVEXParams::IsEqual(const TKORVEXParams& other) const {
  if (items_.size() != other.items_.size()) return false;
  for (std::size_t i = 0; i < items_.size(); ++i)
    if (!items_[i]->IsEqual(*other.items_[i])) return false;
  return true;
}

void TKORVEXParams::GetParamList(std::vector<TKORVEXParam*>& list, const std::string& names) const {
  std::size_t start = 0;
  while (start <= names.size()) {
    std::size_t end = names.find(';', start);
    if (end == std::string::npos) end = names.size();
    const std::string name = rtl::Trim(names.substr(start, end - start));
    if (!name.empty()) list.push_back(ParamByName(name));
    start = end + 1;
  }
}

Variant TKORVEXParams::GetParamValue(const std::string& names) const {
  if (names.find(';') == std::string::npos) return ParamByName(names)->AsVariant();
  std::vector<TKORVEXParam*> list;
  GetParamList(list, names);
  VarArray values;
  for (TKORVEXParam* p : list) values.push_back(p->AsVariant());
  return Variant(std::move(values));
}

void TKORVEXParams::SetParamValue(const std::string& names, const Variant& value) {
  if (names.find(';') == std::string::npos) {
    ParamByName(names)->SetAsVariant(value);
    return;
  }
  std::vector<TKORVEXParam*> list;
  GetParamList(list, names);
  for (std::size_t i = 0; i < list.size(); ++i) list[i]->SetAsVariant(value[static_cast<int>(i)]);
}

bool TKORVEXParams::StoresData(const TKORVEXParams* ancestor) const {
  return ancestor ? !IsEqual(*ancestor) : !items_.empty();
}

void TKORVEXParams::WriteData(rtl::TStream& stream) const {
  std::string out;
  rtl::PutFixed16(out, 1);
  rtl::PutFixed16(out, static_cast<std::uint16_t>(items_.size()));
  for (const TKORVEXParam* p : items_) {
    const std::string name = p->Name().substr(0, 255);
    out.push_back(static_cast<char>(name.size()));
    out += name;
    out.push_back(static_cast<char>(p->ParamType()));
    out.push_back(static_cast<char>(p->DataType()));
    if (p->DataType() != ftUnknown) {
      const std::size_t size = p->GetDataSize();
      if (size > kMaxParamDataSize)
        rtl::DatabaseErrorFmt(cmsg::kParamTooBig, {p->Name(), std::to_string(kMaxParamDataSize)});
      std::string data(size, '\0');
      p->GetData(reinterpret_cast<std::uint8_t*>(data.data()));
      rtl::PutFixed16(out, static_cast<std::uint16_t>(size));
      out += data;
    }
    out.push_back(p->IsNull() ? 1 : 0);
    out.push_back(p->Bound() ? 1 : 0);
  }
  stream.WriteBuffer(out.data(), static_cast<std::int64_t>(out.size()));
}

namespace {

// Reads a stream's "Data" property within the bytes the stream holds.
class TParamsReader {
public:
  explicit TParamsReader(rtl::TStream& stream) : stream_(stream) {
    const std::int64_t left = stream.Size() - stream.Position();
    left_ = left > 0 ? static_cast<std::uint64_t>(left) : 0;
  }
  void Bytes(void* buffer, std::uint64_t count) {
    if (count > left_) LoadFailure();
    if (count > 0 && stream_.Read(buffer, static_cast<std::int64_t>(count)) != static_cast<std::int64_t>(count))
      LoadFailure();
    left_ -= count;
  }
  std::uint8_t Byte() {
    std::uint8_t b;
    Bytes(&b, 1);
    return b;
  }
  std::uint64_t Width(bool wide) {
    std::uint8_t b[4] = {};
    Bytes(b, wide ? 4 : 2);
    if (!wide) return rtl::DecodeFixed16(b);
    const auto v = static_cast<std::int32_t>(rtl::DecodeFixed32(b));
    if (v < 0) LoadFailure();
    return static_cast<std::uint64_t>(v);
  }
  std::uint64_t Left() const { return left_; }

private:
  rtl::TStream& stream_;
  std::uint64_t left_;
};

}  // namespace

void TKORVEXParams::ReadData(rtl::TStream& stream) {
  TParamsReader in(stream);
  TKORVEXParams read;
  const std::uint16_t version = static_cast<std::uint16_t>(in.Width(false));
  if (version > 2) LoadFailure();
  const bool wide = version == 2;
  const std::uint64_t count = in.Width(wide);
  // Every parameter takes at least its name length, two type bytes and two
  // flags.
  if (count * (wide ? 8 : 5) > in.Left()) LoadFailure();
  std::vector<std::uint8_t> data(kMaxParamDataSize);
  for (std::uint64_t i = 0; i < count; ++i) {
    auto* p = new TKORVEXParam(&read, ptUnknown);
    std::uint64_t length;
    if (wide) length = in.Width(true);
    else length = in.Byte();
    std::string name(static_cast<std::size_t>(std::min<std::uint64_t>(length, in.Left())), '\0');
    if (length > in.Left()) LoadFailure();
    in.Bytes(name.data(), length);
    p->SetName(name);
    p->SetParamType(static_cast<TKORVEXParamType>(in.Byte()));
    p->SetDataType(static_cast<TFieldType>(in.Byte()));
    if (p->DataType() != ftUnknown) {
      const std::uint64_t size = in.Width(wide);
      if (size > kMaxParamDataSize) LoadFailure();
      std::fill(data.begin(), data.end(), 0);
      in.Bytes(data.data(), size);
      const TFieldType type = p->DataType();
      if (type == ftBlob || type == ftGraphic || type == ftFmtMemo || type == ftParadoxOle || type == ftDBaseOle)
        p->SetBlobData(data.data(), size);
      else
        p->SetData(data.data(), size);
    }
    p->is_null_ = in.Byte() != 0;
    p->bound_ = in.Byte() != 0;
  }
  Clear();
  while (!read.items_.empty()) {
    TKORVEXParam* p = read.items_.front();
    read.items_.erase(read.items_.begin());
    AddParam(p);
  }
}

}  // namespace korvex
