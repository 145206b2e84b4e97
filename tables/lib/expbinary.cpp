// EvaluateBinary: the comparisons, AND, OR and the four arithmetic
// operators over evaluated values, for every pair of types the checker
// accepts.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "tables/lib/collation.h"
#include "tables/lib/expcheck.h"
#include "tables/lib/expconvert.h"
#include "tables/lib/expeval.h"
#include "tables/lib/numeric.h"
#include "platform/runtime/dates.h"

namespace korvex {
namespace {

constexpr std::int64_t kMSecsPerDayInt = 86400000;

void SetBoolean(TExpToken* result, bool value) { result->SetBooleanValue(value); }
void SetNull(TExpToken* result) { result->SetNullValue(); }
std::int64_t IntegralOf(const TExpToken* value) { return value->IntegralValue(); }

// A BCD value in Currency units; huge stored values fall back to a double.
double BCDUnits(const TExpToken* value) {
  std::int64_t stored = value->Value<std::int64_t>();
  if (auto currency = CompToCurr(stored)) return static_cast<double>(currency->scaled);
  return CompToFloat(stored) * Currency::kScale;
}

double DoubleOf(const TExpToken* value) {
  switch (value->DataType) {
    case dtFloat: case dtTimeStamp: return value->Value<double>();
    case dtBCD: return BCDUnits(value) / Currency::kScale;
    default: return static_cast<double>(IntegralOf(value));
  }
}

// The value in Currency units (x 10,000) of an integral or BCD operand,
// exact at any size.
TBCDUnits UnitsOf(const TExpToken* value) {
  if (value->DataType == dtBCD) return CompToUnits(value->Value<std::int64_t>());
  return static_cast<TBCDUnits>(IntegralOf(value)) * Currency::kScale;
}

double TimeStampOf(const TExpToken* value) {
  if (value->DataType == dtDate) return value->Value<std::int32_t>() * kMSecsPerDay;
  return value->Value<double>();
}

int Sign(double a, double b) { return a < b ? -1 : a > b ? 1 : 0; }
int Sign(std::int64_t a, std::int64_t b) { return a < b ? -1 : a > b ? 1 : 0; }

// -1, 0 or 1; false when the two cannot be ordered (the checker refuses such
// pairs; unchecked trees just compare false).
bool Order(const TExpToken* left, const TExpToken* right, TLocalePair locale, bool equality_only, int& order) {
  const std::uint8_t lt = left->DataType, rt = right->DataType;
  if (IsTextType(lt) && IsTextType(rt)) {
    order = CompareStrings(locale.Language, locale.Sort, left->StringValue(), right->StringValue(), 0, false);
    return true;
  }
  if ((lt == dtDate && rt == dtDate) || (lt == dtTime && rt == dtTime)) {
    order = Sign(std::int64_t{left->Value<std::int32_t>()}, std::int64_t{right->Value<std::int32_t>()});
    return true;
  }
  if ((lt == dtDate || lt == dtTimeStamp) && (rt == dtDate || rt == dtTimeStamp)) {
    order = Sign(TimeStampOf(left), TimeStampOf(right));
    return true;
  }
  if (lt == dtBoolean && rt == dtBoolean) {
    if (!equality_only) return false;
    order = (left->ValueWord() != 0) == (right->ValueWord() != 0) ? 0 : 1;
    return true;
  }
  if (IsNumericType(lt) && IsNumericType(rt)) {
    if (IsIntegralType(lt) && IsIntegralType(rt)) {
      order = Sign(IntegralOf(left), IntegralOf(right));
    } else if (lt == dtBCD || rt == dtBCD) {
      auto units = [](const TExpToken* v) {
        if (v->DataType == dtBCD) return BCDUnits(v);
        return DoubleOf(v) * Currency::kScale;
      };
      order = Sign(units(left), units(right));
    } else {
      order = Sign(DoubleOf(left), DoubleOf(right));
    }
    return true;
  }
  return false;
}

void Compare(std::uint8_t op, const TExpToken* left, const TExpToken* right, TExpToken* result,
             TLocalePair locale) {
  if (left->IsNull || right->IsNull) {
    bool both = left->IsNull && right->IsNull;
    if (op == eoEQ) SetBoolean(result, both);
    else if (op == eoNE) SetBoolean(result, !both);
    else SetBoolean(result, false);
    return;
  }
  if (left->DataType == dtUnknown || right->DataType == dtUnknown) {
    // The NULL constant of IS NULL beside a value that is not NULL.
    SetBoolean(result, op == eoNE);
    return;
  }
  int order = 0;
  if (!Order(left, right, locale, op == eoEQ || op == eoNE, order)) {
    SetBoolean(result, false);
    return;
  }
  switch (op) {
    case eoEQ: SetBoolean(result, order == 0); break;
    case eoNE: SetBoolean(result, order != 0); break;
    case eoGT: SetBoolean(result, order > 0); break;
    case eoLT: SetBoolean(result, order < 0); break;
    case eoGE: SetBoolean(result, order >= 0); break;
    default: SetBoolean(result, order <= 0); break;
  }
}

void Concatenate(const TExpToken* left, const TExpToken* right, TExpToken* result) {
  // A NULL string is the empty string here.
  std::string_view a = left->TextValue(), b = right->TextValue();
  result->SetDataSize(std::max(static_cast<std::int32_t>(a.size() + b.size() + 1), result->DataSize));
  if (!a.empty()) std::memmove(result->ValueBuffer, a.data(), a.size());
  if (!b.empty()) std::memmove(result->ValueBuffer + a.size(), b.data(), b.size());
  result->ValueBuffer[a.size() + b.size()] = 0;
  result->IsNull = false;
}

// An integer result in its type's range; false when it leaves it.
bool StoreIntegral(TExpToken* result, std::uint8_t type, std::int64_t value) {
  switch (type) {
    case dtWord:
      if (value < 0 || value > UINT16_MAX) return false;
      result->SetValue(static_cast<std::uint16_t>(value));
      return true;
    case dtSmallInt:
      if (value < INT16_MIN || value > INT16_MAX) return false;
      result->SetValue(static_cast<std::int16_t>(value));
      return true;
    default:
      if (value < INT32_MIN || value > INT32_MAX) return false;
      result->SetValue(static_cast<std::int32_t>(value));
      return true;
  }
}

// Half away from zero.
TBCDUnits DivideRounded(TBCDUnits n, TBCDUnits d) {
  TBCDUnits q = n / d, r = n % d;
  TBCDUnits ar = r < 0 ? -r : r, ad = d < 0 ? -d : d;
  if (ar >= ad - ar) q += (n < 0) != (d < 0) ? -1 : 1;
  return q;
}

// A BCD sum, difference, product or quotient in units of 1/10,000, the
// product and quotient rounded there half away from zero as Currency
// arithmetic rounds; stored at the result's scale. False when the answer
// lies beyond the stored form.
bool StoreBCD(std::uint8_t op, TBCDUnits a, TBCDUnits b, TExpToken* result) {
  TBCDUnits value = 0;
  if (op == eoADD) {
    value = a + b;
  } else if (op == eoSUB) {
    value = a - b;
  } else if (op == eoMUL) {
    TBCDUnits product;
    if (__builtin_mul_overflow(a, b, &product)) return false;
    value = DivideRounded(product, Currency::kScale);
  } else {
    value = DivideRounded(a * Currency::kScale, b);
  }
  auto stored = UnitsToComp(value, result->Scale);
  if (!stored) return false;
  result->SetValue(*stored);
  return true;
}

bool IsZero(const TExpToken* value) {
  switch (value->DataType) {
    case dtFloat: return value->Value<double>() == 0.0;
    case dtBCD: return BCDUnits(value) == 0.0;
    default: return IntegralOf(value) == 0;
  }
}

// False when the answer does not fit its type (the result is then NULL).
bool Arithmetic(std::uint8_t op, const TExpToken* left, const TExpToken* right, TExpToken* result) {
  const std::uint8_t lt = left->DataType, rt = right->DataType;
  if (op == eoADD && IsTextType(lt) && IsTextType(rt)) {
    Concatenate(left, right, result);
    return true;
  }
  if (left->IsNull || right->IsNull) {
    SetNull(result);
    return true;
  }
  const std::uint8_t type = GetBinaryResultDataType(op, lt, rt);
  if (type == dtUnknown) return true;  // a pair the checker refuses
  if (op == eoDIV && IsNumericType(rt) && IsZero(right)) {
    SetNull(result);
    return true;
  }
  result->IsNull = false;
  const bool li = IsIntegralType(lt);
  bool fits = true;

  // Dates, times and timestamps; day numbers, milliseconds of a day and
  // their differences are 32-bit integers.
  if (lt == dtDate || rt == dtDate || lt == dtTime || rt == dtTime || lt == dtTimeStamp || rt == dtTimeStamp) {
    const std::int64_t sign = op == eoSUB ? -1 : 1;
    if (lt == dtTimeStamp && rt == dtTimeStamp) {
      result->SetValue(left->Value<double>() - right->Value<double>());
    } else if (lt == dtTimeStamp && rt == dtDate) {
      rtl::TTimeStamp stamp = TimeStampParts(left->Value<double>());
      fits = StoreIntegral(result, dtInteger, std::int64_t{stamp.Date} - right->Value<std::int32_t>());
    } else if (lt == dtTimeStamp && rt == dtTime) {
      rtl::TTimeStamp stamp = TimeStampParts(left->Value<double>());
      fits = StoreIntegral(result, dtInteger, std::int64_t{stamp.Time} - right->Value<std::int32_t>());
    } else if (lt == dtTimeStamp || rt == dtTimeStamp) {
      const TExpToken* stamp = lt == dtTimeStamp ? left : right;
      const TExpToken* days = lt == dtTimeStamp ? right : left;
      result->SetValue(stamp->Value<double>() + static_cast<double>(sign * IntegralOf(days) * kMSecsPerDayInt));
    } else if ((lt == dtDate && rt == dtDate) || (lt == dtTime && rt == dtTime)) {
      fits = StoreIntegral(result, dtInteger, std::int64_t{left->Value<std::int32_t>()} - right->Value<std::int32_t>());
    } else {
      const TExpToken* base = li ? right : left;
      const TExpToken* amount = li ? left : right;
      fits = StoreIntegral(result, dtInteger, std::int64_t{base->Value<std::int32_t>()} + sign * IntegralOf(amount));
    }
  } else if (type == dtInteger || type == dtSmallInt || type == dtWord) {
    const std::int64_t a = IntegralOf(left), b = IntegralOf(right);
    fits = StoreIntegral(result, type, op == eoADD ? a + b : op == eoSUB ? a - b : a * b);
  } else if (type == dtFloat) {
    double a = DoubleOf(left), b = DoubleOf(right), value = 0;
    if (op == eoADD) value = a + b;
    else if (op == eoSUB) value = a - b;
    else if (op == eoMUL) value = a * b;
    else value = a / b;
    result->SetValue(value);
  } else if (type == dtBCD) {
    fits = StoreBCD(op, UnitsOf(left), UnitsOf(right), result);
  }
  if (!fits) SetNull(result);
  return fits;
}

}  // namespace

void EvaluateBinary(std::uint8_t op, const TExpToken* left, const TExpToken* right, TExpToken* result,
                    TLocalePair locale, const TExpToken* expression) {
  op &= 0x7F;
  switch (op) {
    case eoEQ: case eoNE: case eoGT: case eoLT: case eoGE: case eoLE:
      Compare(op, left, right, result, locale);
      return;
    case eoAND:
      SetBoolean(result, IsTrue(left) && IsTrue(right));
      return;
    case eoOR:
      SetBoolean(result, IsTrue(left) || IsTrue(right));
      return;
    case eoADD: case eoSUB: case eoMUL: case eoDIV:
      if (!Arithmetic(op, left, right, result)) RaiseArithmeticOverflow(expression, op, left, right);
      return;
    default:
      return;
  }
}

}  // namespace korvex
