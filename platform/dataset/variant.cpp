#include "platform/dataset/variant.h"

#include <cmath>

#include "platform/dataset/datetext.h"
#include "platform/runtime/exceptions.h"
#include "platform/runtime/sysutils.h"

namespace db {
namespace {

template <class... Ts>
struct Overloaded : Ts... {
  using Ts::operator()...;
};
template <class... Ts>
Overloaded(Ts...) -> Overloaded<Ts...>;

[[noreturn]] void ArrayError() { throw rtl::EConvertError("Could not convert variant array"); }

bool IsNumber(const Variant& v) {
  return v.Is<bool>() || v.Is<std::int16_t>() || v.Is<std::int32_t>() || v.Is<std::int64_t>() || v.Is<float>() ||
         v.Is<double>() || v.Is<rtl::Currency>() || v.Is<VarDate>();
}

}  // namespace

std::string Variant::ToString() const {
  return std::visit(Overloaded{
                        [](VarUnassigned) { return std::string(); },
                        [](VarNull) { return std::string(); },
                        [](bool b) { return std::string(b ? "True" : "False"); },
                        [](std::int16_t i) { return rtl::IntToStr(i); },
                        [](std::int32_t i) { return rtl::IntToStr(i); },
                        [](std::int64_t i) { return rtl::IntToStr(i); },
                        [](float f) { return rtl::FloatToStr(f); },
                        [](double d) { return rtl::FloatToStr(d); },
                        [](rtl::Currency c) { return rtl::CurrToStr(c); },
                        [](const std::string& s) { return s; },
                        [](VarDate d) { return DateTimeToStr(d.value); },
                        [](const VarArray&) -> std::string { ArrayError(); },
                    },
                    value_);
}

double Variant::ToDouble() const {
  return std::visit(Overloaded{
                        [](VarUnassigned) { return 0.0; },
                        [](VarNull) { return 0.0; },
                        [](bool b) { return b ? -1.0 : 0.0; },
                        [](std::int16_t i) { return double(i); },
                        [](std::int32_t i) { return double(i); },
                        [](std::int64_t i) { return double(i); },
                        [](float f) { return double(f); },
                        [](double d) { return d; },
                        [](rtl::Currency c) { return c.ToDouble(); },
                        [](const std::string& s) { return rtl::StrToFloat(s); },
                        [](VarDate d) { return d.value; },
                        [](const VarArray&) -> double { ArrayError(); },
                    },
                    value_);
}

std::int64_t Variant::ToInt64() const {
  if (Is<std::int16_t>()) return Get<std::int16_t>();
  if (Is<std::int32_t>()) return Get<std::int32_t>();
  if (Is<std::int64_t>()) return Get<std::int64_t>();
  if (Is<std::string>()) {
    std::int64_t value;
    if (rtl::TryStrToInt64(Get<std::string>(), value)) return value;
  }
  double d = ToDouble();
  if (!(std::fabs(d) < 9.2e18)) throw rtl::EConvertError("Invalid variant operation");
  return std::llround(d);
}

bool Variant::ToBool() const {
  if (Is<bool>()) return Get<bool>();
  if (Is<std::string>()) {
    const std::string& s = Get<std::string>();
    if (rtl::SameText(s, "True")) return true;
    if (rtl::SameText(s, "False")) return false;
  }
  return ToDouble() != 0;
}

rtl::Currency Variant::ToCurrency() const {
  if (Is<rtl::Currency>()) return Get<rtl::Currency>();
  if (Is<std::int16_t>() || Is<std::int32_t>() || Is<std::int64_t>()) {
    std::int64_t i = ToInt64();
    if (i > INT64_MAX / rtl::Currency::kScale || i < INT64_MIN / rtl::Currency::kScale)
      throw rtl::EConvertError("Invalid variant operation");
    return rtl::Currency{i * rtl::Currency::kScale};
  }
  if (Is<std::string>()) {
    rtl::Currency c;
    if (rtl::TryStrToCurr(Get<std::string>(), c)) return c;
    throw rtl::EConvertError("'" + Get<std::string>() + "' is not a valid floating point value");
  }
  auto c = rtl::Currency::FromDouble(ToDouble());
  if (!c) throw rtl::EConvertError("Invalid variant operation");
  return *c;
}

rtl::TDateTime Variant::ToDateTime() const {
  if (Is<std::string>()) {
    rtl::TDateTime value;
    if (TryStrToDateTime(Get<std::string>(), value)) return value;
    throw rtl::EConvertError("'" + Get<std::string>() + "' is not a valid date and time");
  }
  return ToDouble();
}

Variant VarArrayOf(std::vector<Variant> items) { return Variant(VarArray(std::move(items))); }

bool VarSameValue(const Variant& a, const Variant& b) {
  if (a.IsClear() || b.IsClear()) return a.IsClear() && b.IsClear();
  if (a.Is<std::string>() && b.Is<std::string>()) return a.Get<std::string>() == b.Get<std::string>();
  if (a.IsArray() || b.IsArray()) return a == b;
  if (IsNumber(a) && IsNumber(b)) {
    if (a.Is<rtl::Currency>() || b.Is<rtl::Currency>()) {
      try {
        return a.ToCurrency() == b.ToCurrency();
      } catch (const rtl::EConvertError&) {
        return false;
      }
    }
    return a.ToDouble() == b.ToDouble();
  }
  // A string against a number: compare as numbers when the text is one.
  try {
    return a.ToDouble() == b.ToDouble();
  } catch (const rtl::EConvertError&) {
    return a.ToString() == b.ToString();
  }
}

}  // namespace db
