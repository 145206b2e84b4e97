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

// The value in Currency units (x 10,000); false when it does not fit.
bool CurrencyOf(const TExpToken* value, Currency& currency) {
  if (value->DataType == dtBCD) {
    auto c = CompToCurr(value->Value<std::int64_t>());
    if (!c) return false;
    currency = *c;
    return true;
  }
  if (value->DataType == dtFloat) {
    auto c = Currency::FromDouble(value->Value<double>());
    if (!c) return false;
    currency = *c;
    return true;
  }
  currency = Currency::FromScaled(IntegralOf(value) * Currency::kScale);
  return true;
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

std::int32_t Wrap32(std::int64_t value) { return static_cast<std::int32_t>(static_cast<std::uint32_t>(value)); }

void StoreBCD(TExpToken* result, Currency value) {
  auto stored = CurrToComp(value, result->Scale);
  if (!stored) {
    SetNull(result);  // beyond the stored form
    return;
  }
  result->IsNull = false;
  result->SetValue(*stored);
}

// Currency product and quotient, rounded half away from zero to 1/10,000.
bool MultiplyCurrency(Currency a, Currency b, Currency& product) {
  __int128 p = static_cast<__int128>(a.scaled) * b.scaled;
  __int128 q = p / Currency::kScale, r = p % Currency::kScale;
  if (2 * (r < 0 ? -r : r) >= Currency::kScale) q += p < 0 ? -1 : 1;
  if (q > INT64_MAX || q < INT64_MIN) return false;
  product = Currency::FromScaled(static_cast<std::int64_t>(q));
  return true;
}

bool DivideCurrency(Currency a, Currency b, Currency& quotient) {
  __int128 n = static_cast<__int128>(a.scaled) * Currency::kScale;
  __int128 q = n / b.scaled, r = n % b.scaled;
  __int128 ar = r < 0 ? -r : r, ab = b.scaled < 0 ? -static_cast<__int128>(b.scaled) : b.scaled;
  if (2 * ar >= ab) q += (n < 0) != (b.scaled < 0) ? -1 : 1;
  if (q > INT64_MAX || q < INT64_MIN) return false;
  quotient = Currency::FromScaled(static_cast<std::int64_t>(q));
  return true;
}

bool IsZero(const TExpToken* value) {
  switch (value->DataType) {
    case dtFloat: return value->Value<double>() == 0.0;
    case dtBCD: return BCDUnits(value) == 0.0;
    default: return IntegralOf(value) == 0;
  }
}

void Arithmetic(std::uint8_t op, const TExpToken* left, const TExpToken* right, TExpToken* result) {
  const std::uint8_t lt = left->DataType, rt = right->DataType;
  if (op == eoADD && IsTextType(lt) && IsTextType(rt)) {
    Concatenate(left, right, result);
    return;
  }
  if (left->IsNull || right->IsNull) {
    SetNull(result);
    return;
  }
  const std::uint8_t type = GetBinaryResultDataType(op, lt, rt);
  if (type == dtUnknown) return;  // a pair the checker refuses
  if (op == eoDIV && IsNumericType(rt) && IsZero(right)) {
    SetNull(result);
    return;
  }
  result->IsNull = false;
  const bool li = IsIntegralType(lt);

  // Dates, times and timestamps.
  if (lt == dtDate || rt == dtDate || lt == dtTime || rt == dtTime || lt == dtTimeStamp || rt == dtTimeStamp) {
    const std::int64_t sign = op == eoSUB ? -1 : 1;
    if (lt == dtTimeStamp && rt == dtTimeStamp) {
      result->SetValue(left->Value<double>() - right->Value<double>());
    } else if (lt == dtTimeStamp && rt == dtDate) {
      rtl::TTimeStamp stamp = TimeStampParts(left->Value<double>());
      result->SetValue<std::int32_t>(Wrap32(std::int64_t{stamp.Date} - right->Value<std::int32_t>()));
    } else if (lt == dtTimeStamp && rt == dtTime) {
      rtl::TTimeStamp stamp = TimeStampParts(left->Value<double>());
      result->SetValue<std::int32_t>(Wrap32(std::int64_t{stamp.Time} - right->Value<std::int32_t>()));
    } else if (lt == dtTimeStamp || rt == dtTimeStamp) {
      const TExpToken* stamp = lt == dtTimeStamp ? left : right;
      const TExpToken* days = lt == dtTimeStamp ? right : left;
      result->SetValue(stamp->Value<double>() + static_cast<double>(sign * IntegralOf(days) * kMSecsPerDayInt));
    } else if ((lt == dtDate && rt == dtDate) || (lt == dtTime && rt == dtTime)) {
      result->SetValue<std::int32_t>(Wrap32(std::int64_t{left->Value<std::int32_t>()} - right->Value<std::int32_t>()));
    } else {
      const TExpToken* base = li ? right : left;
      const TExpToken* amount = li ? left : right;
      result->SetValue<std::int32_t>(Wrap32(std::int64_t{base->Value<std::int32_t>()} + sign * IntegralOf(amount)));
    }
    return;
  }

  switch (type) {
    case dtInteger: case dtSmallInt: case dtWord: {
      std::int64_t a = IntegralOf(left), b = IntegralOf(right), value = 0;
      if (op == eoADD) value = a + b;
      else if (op == eoSUB) value = a - b;
      else value = a * b;
      if (type == dtWord) result->SetValue(static_cast<std::uint16_t>(value));
      else if (type == dtSmallInt) result->SetValue(static_cast<std::int16_t>(value));
      else result->SetValue(Wrap32(value));
      return;
    }
    case dtFloat: {
      double a = DoubleOf(left), b = DoubleOf(right), value = 0;
      if (op == eoADD) value = a + b;
      else if (op == eoSUB) value = a - b;
      else if (op == eoMUL) value = a * b;
      else value = a / b;
      result->SetValue(value);
      return;
    }
    case dtBCD: {
      Currency a, b, value;
      if (!CurrencyOf(left, a) || !CurrencyOf(right, b)) {
        SetNull(result);
        return;
      }
      bool ok = true;
      if (op == eoADD) ok = !__builtin_add_overflow(a.scaled, b.scaled, &value.scaled);
      else if (op == eoSUB) ok = !__builtin_sub_overflow(a.scaled, b.scaled, &value.scaled);
      else if (op == eoMUL) ok = MultiplyCurrency(a, b, value);
      else ok = DivideCurrency(a, b, value);
      if (!ok) {
        SetNull(result);
        return;
      }
      StoreBCD(result, value);
      return;
    }
    default:
      return;
  }
}

}  // namespace

void EvaluateBinary(std::uint8_t op, const TExpToken* left, const TExpToken* right, TExpToken* result,
                    TLocalePair locale) {
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
      Arithmetic(op, left, right, result);
      return;
    default:
      return;
  }
}

}  // namespace korvex
