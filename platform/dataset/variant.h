// Variant: the loosely typed value of fields, keys and lookups. It holds
// Null, Unassigned, a boolean, an integer of 16, 32 or 64 bits, a float or
// double, a Currency, a string, a date-time or a one-dimensional array of
// variants (multi-field keys, VarArrayOf).
#pragma once

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "platform/runtime/currency.h"
#include "platform/runtime/dates.h"

namespace db {

struct VarNull {
  friend bool operator==(VarNull, VarNull) = default;
};
struct VarUnassigned {
  friend bool operator==(VarUnassigned, VarUnassigned) = default;
};
// A date-time kept apart from a plain double.
struct VarDate {
  rtl::TDateTime value = 0;
  friend bool operator==(VarDate, VarDate) = default;
};

class Variant;
using VarArray = std::vector<Variant>;

class Variant {
public:
  using Value = std::variant<VarUnassigned, VarNull, bool, std::int16_t, std::int32_t, std::int64_t, float, double,
                             rtl::Currency, std::string, VarDate, VarArray>;

  Variant() = default;
  Variant(VarNull) : value_(VarNull{}) {}
  Variant(VarUnassigned) {}
  Variant(bool v) : value_(v) {}
  Variant(std::int16_t v) : value_(v) {}
  Variant(std::int32_t v) : value_(v) {}
  Variant(std::int64_t v) : value_(v) {}
  Variant(float v) : value_(v) {}
  Variant(double v) : value_(v) {}
  Variant(rtl::Currency v) : value_(v) {}
  Variant(std::string v) : value_(std::move(v)) {}
  Variant(const char* v) : value_(std::string(v)) {}
  Variant(VarDate v) : value_(v) {}
  Variant(VarArray v) : value_(std::move(v)) {}

  const Value& value() const { return value_; }
  template <typename T>
  bool Is() const { return std::holds_alternative<T>(value_); }
  template <typename T>
  const T& Get() const { return std::get<T>(value_); }

  bool IsNull() const { return Is<VarNull>(); }
  bool IsEmpty() const { return Is<VarUnassigned>(); }
  // Null or Unassigned.
  bool IsClear() const { return IsNull() || IsEmpty(); }
  bool IsArray() const { return Is<VarArray>(); }
  int ArrayHighBound() const { return IsArray() ? static_cast<int>(Get<VarArray>().size()) - 1 : -1; }
  const Variant& operator[](int index) const { return Get<VarArray>().at(static_cast<std::size_t>(index)); }

  // Conversions. A clear variant gives "", 0, false; a text that is not a
  // number raises rtl::EConvertError; an array raises rtl::EConvertError.
  std::string ToString() const;
  std::int64_t ToInt64() const;  // floats round to the nearest integer
  double ToDouble() const;
  bool ToBool() const;
  rtl::Currency ToCurrency() const;
  rtl::TDateTime ToDateTime() const;

  friend bool operator==(const Variant&, const Variant&) = default;

private:
  Value value_;
};

inline const Variant Null = Variant(VarNull{});
inline const Variant Unassigned = Variant();

Variant VarArrayOf(std::vector<Variant> items);
// Whether a field-like value equals a key value: Null equals only Null;
// numbers compare by value, strings by bytes, date-times by value.
bool VarSameValue(const Variant& a, const Variant& b);

}  // namespace db
