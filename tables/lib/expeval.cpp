#include "tables/lib/expeval.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

#include "platform/runtime/dates.h"
#include "tables/engine/errors/errors.h"
#include "tables/lib/collation.h"
#include "tables/lib/expcheck.h"
#include "tables/lib/expconvert.h"
#include "tables/lib/names.h"
#include "tables/lib/numeric.h"
#include "tables/lib/subselect.h"

namespace korvex {
namespace {

void SetBoolean(TExpToken* result, bool value) { result->SetBooleanValue(value); }
void SetNull(TExpToken* result) { result->SetNullValue(); }
std::string_view TextOf(const TExpToken* value) { return value ? value->TextValue() : std::string_view(); }

// A string result; the empty string is NULL.
void SetText(TExpToken* result, std::string_view text) {
  result->SetStringValue(text);
  result->IsNull = text.empty();
}

// The text of a string value, zero-terminated: the value buffer itself
// when the terminator is inside it (no copy per record), else a copy in
// `spare`; "" for NULL.
const char* Terminated(const TExpToken* value, std::string& spare) {
  const std::string_view text = TextOf(value);
  if (text.empty()) return "";
  if (text.size() < static_cast<std::size_t>(value->ValueCapacity)) return value->StringValue();
  spare.assign(text);
  return spare.c_str();
}

// A string result changed in place by `change` (which keeps or shortens
// the text); the empty string is NULL.
template <typename Change>
void SetChangedText(TExpToken* result, std::string_view text, Change change) {
  SetText(result, text);
  change(result->StringBuffer());
  const std::size_t length = std::strlen(result->StringValue());
  result->DataSize = static_cast<std::int32_t>(length + 1);
  result->IsNull = length == 0;
}

// An argument that the checker requires to be an integer constant.
std::int32_t IntegerOf(const TExpToken* value) { return static_cast<std::int32_t>(value->IntegralValue()); }

class Evaluator {
public:
  Evaluator(const void* record, void* user_data, TFieldValue field_value, TLocalePair locale)
      : record_(record), user_data_(user_data), field_value_(field_value), locale_(locale) {}

  // The value of a tree in a node from the pool.
  TExpToken* Evaluate(const TExpToken* node);

private:
  // The value of an operand, in a scratch node while the operand is in
  // scope (nullptr for no operand): operands take no node from the pool.
  class Operand {
  public:
    Operand(Evaluator& evaluator, const TExpToken* node) : value_(node ? scratch_.get() : nullptr) {
      if (node) evaluator.EvaluateInto(node, value_);
    }
    TExpToken* get() const { return value_; }
    TExpToken* operator->() const { return value_; }
    TExpToken& operator*() const { return *value_; }

  private:
    TScratchExpToken scratch_;
    TExpToken* value_;
  };

  // Writes the value of `node` into `result`, a node from the pool or a
  // scratch node.
  void EvaluateInto(const TExpToken* node, TExpToken* result);
  void Function(const TExpToken* node, TExpToken* result);
  void Predicate(const TExpToken* node, TExpToken* result);
  void Extract(std::uint8_t op, const TExpToken* argument, TExpToken* result);
  void Cast(const TExpToken* node, const TExpToken* argument, TExpToken* result);

  const void* record_;
  void* user_data_;
  TFieldValue field_value_;
  TLocalePair locale_;
};

TExpToken* Evaluator::Evaluate(const TExpToken* node) {
  ExpTokenGuard result(GetNewExpTokenInstance());
  EvaluateInto(node, result.get());
  return result.Release();
}

void Evaluator::EvaluateInto(const TExpToken* node, TExpToken* result) {
  result->Copy(*node);
  result->Left = result->Right = result->Third = result->Parent = nullptr;

  switch (node->NodeClass) {
    case enUNARY: {
      Operand operand(*this, node->Left);
      EvaluateUnary(node->Operator, result, operand.get(), node);
      break;
    }
    case enBINARY: {
      Operand left(*this, node->Left);
      const std::uint8_t op = node->Operator & 0x7F;
      if ((op == eoAND && !IsTrue(left.get())) || (op == eoOR && IsTrue(left.get()))) {
        // The left operand decides; the right one is never evaluated.
        result->Copy(*left);
        break;
      }
      Operand right(*this, node->Right);
      if (op == eoADD && IsTextType(left->DataType) && IsTextType(right->DataType)) {
        result->SetDataSize((left->DataSize - 1) + (right->DataSize - 1) + 1);
        result->Scale = 0;
      }
      EvaluateBinary(node->Operator, left.get(), right.get(), result, locale_, node);
      break;
    }
    case enCOMPARE: {
      Operand left(*this, node->Left);
      Operand right(*this, node->Right);
      if (IsTextType(left->DataType))
        EvaluateCompare(node->Operator, static_cast<std::uint16_t>(node->CompareLength & 0xFFFF),
                        node->CompareIgnoreCase, left.get(), right.get(), result, locale_);
      else
        EvaluateBinary(node->Operator, left.get(), right.get(), result, locale_);
      break;
    }
    case enFIELD:
      if (!field_value_)
        RaiseError(err::kSqlError, {}, {}, {},
                   "Internal error: Column '" + node->ColumnName + "' specified illegally");
      result->ClearValue();
      result->IsNull = false;
      field_value_(user_data_, record_, result);
      break;
    case enFUNC:
      Function(node, result);
      break;
    case enEXTBINARY:
      Predicate(node, result);
      break;
    default:
      break;  // constants are their own value
  }
  result->NodeClass = node->NodeClass == enTUPLE ? enFIELD : enCONST;
  result->Left = result->Right = result->Third = result->Parent = nullptr;
}

void Evaluator::Function(const TExpToken* node, TExpToken* result) {
  const std::uint8_t op = node->Operator;
  if (op == eoIF) {
    Operand condition(*this, node->Left);
    Operand chosen(*this, IsTrue(condition.get()) ? node->Right : node->Third);
    result->Copy(*chosen);
    return;
  }
  Operand argument(*this, node->Left);
  const TExpToken* value = argument.get();
  switch (op) {
    case eoSUM: case eoCOUNT: case eoMIN: case eoMAX: case eoAVG:
      // Aggregation itself is the SQL layer's: here the value passes through.
      result->Copy(*value);
      return;
    case eoUPPER: case eoLOWER: {
      SetChangedText(result, TextOf(value), [&](char* text) {
        if (op == eoUPPER) UpperString(locale_.Language, locale_.Sort, text, text);
        else LowerString(locale_.Language, locale_.Sort, text, text);
      });
      result->IsNull = value->IsNull;
      return;
    }
    case eoSUBSTRING: {
      Operand start(*this, node->Right);
      std::int64_t from = IntegerOf(start.get());
      std::string_view text = TextOf(value);
      std::size_t count = text.size();
      if (node->Right->Right) {
        Operand length(*this, node->Right->Right);
        count = static_cast<std::size_t>(std::max<std::int64_t>(IntegerOf(length.get()), 0));
      }
      if (from < 1 || static_cast<std::size_t>(from) > text.size())
        SetText(result, {});
      else
        SetText(result, text.substr(static_cast<std::size_t>(from - 1), count));
      return;
    }
    case eoREPLACE: {
      Operand find(*this, node->Right);
      Operand replacement(*this, node->Right->Right);
      std::string spares[3];
      const char* text = Terminated(value, spares[0]);
      const char* search = Terminated(find.get(), spares[1]);
      const char* with = Terminated(replacement.get(), spares[2]);
      if (*search == 0) {
        SetText(result, text);  // nothing to find: the text as it is
        return;
      }
      std::size_t size = CalculateReplaceSize(search, with, text);
      result->SetDataSize(std::max(static_cast<std::int32_t>(size + 1), value->DataSize));
      ReplaceString(search, with, text, result->StringBuffer());
      result->IsNull = result->ValueBuffer[0] == 0;
      return;
    }
    case eoPOS: case eoOCCURS: {
      Operand find(*this, node->Right);
      std::string spares[2];
      const char* text = Terminated(value, spares[0]);
      const char* search = Terminated(find.get(), spares[1]);
      std::int32_t answer = 0;
      if (*search != 0) answer = op == eoPOS ? PosString(search, text) : OccursString(search, text);
      result->IsNull = false;
      result->SetValue(answer);
      return;
    }
    case eoTRIMLEADING: case eoTRIMTRAILING: case eoTRIMBOTH: {
      Operand character(*this, node->Right);
      std::string_view trim = TextOf(character.get());
      SetChangedText(result, TextOf(value), [&](char* text) {
        if (trim.empty()) return;
        if (op == eoTRIMLEADING) LeftTrimString(text, trim[0]);
        else if (op == eoTRIMTRAILING) RightTrimString(text, trim[0]);
        else TrimString(text, trim[0]);
      });
      return;
    }
    case eoCAST:
      Cast(node, value, result);
      return;
    case eoEXTRACTYEAR: case eoEXTRACTMONTH: case eoEXTRACTDAY: case eoEXTRACTDAYOFWEEK:
    case eoEXTRACTHOUR: case eoEXTRACTMINUTE: case eoEXTRACTSECOND:
      Extract(op, value, result);
      return;
    case eoABS:
      if (value->IsNull) {
        SetNull(result);
        return;
      }
      result->IsNull = false;
      switch (value->DataType) {
        case dtSmallInt: {
          const std::int32_t v = value->Value<std::int16_t>();
          if (v == INT16_MIN) RaiseArithmeticOverflow(node, eoABS, nullptr, nullptr);
          result->SetValue(static_cast<std::int16_t>(v < 0 ? -v : v));
          break;
        }
        case dtInteger: {
          const std::int64_t v = value->Value<std::int32_t>();
          if (v == INT32_MIN) RaiseArithmeticOverflow(node, eoABS, nullptr, nullptr);
          result->SetValue(static_cast<std::int32_t>(v < 0 ? -v : v));
          break;
        }
        case dtFloat:
          result->SetValue(std::fabs(value->Value<double>()));
          break;
        case dtBCD: {
          // The stored form carries its sign in front of its digits.
          const auto stored = value->Value<std::int64_t>();
          result->SetValue(stored < 0 ? -stored : stored);
          break;
        }
        default:
          result->SetValue(value->Value<std::uint16_t>());  // a word is never negative
          break;
      }
      return;
    case eoROUND: {
      if (value->IsNull) {
        SetNull(result);
        return;
      }
      int decimals = 0;
      if (node->Right) {
        Operand places(*this, node->Right);
        decimals = std::clamp(IntegerOf(places.get()), 0, 32);
      }
      double number = value->DataType == dtBCD ? CompToFloat(value->Value<std::int64_t>()) : value->Value<double>();
      result->IsNull = false;
      result->DataType = dtFloat;
      result->SetDataSize(8);
      result->SetValue(RoundFloat(number, decimals));
      return;
    }
    default:
      return;
  }
}

void Evaluator::Cast(const TExpToken* node, const TExpToken* argument, TExpToken* result) {
  if (argument->IsNull) {
    SetNull(result);
    return;
  }
  result->IsNull = false;
  if (argument->DataType == dtBlob) {
    // BLOB data is copied byte for byte.
    result->SetDataSize(std::max(argument->DataSize, 1));
    result->ClearValue();
    std::memcpy(result->ValueBuffer, argument->ValueBuffer,
                static_cast<std::size_t>(std::min(argument->ValueCapacity, result->ValueCapacity)));
  } else {
    result->SetDataSize(std::max(node->DataSize, 1));
    result->ClearValue();
    std::memcpy(result->ValueBuffer, argument->ValueBuffer,
                static_cast<std::size_t>(std::min({argument->ValueCapacity, result->ValueCapacity, kConvertBufferSize})));
    auto byte = [](std::int32_t v) { return static_cast<std::uint8_t>(std::clamp(v, 0, kConvertBufferSize)); };
    // The answer does not matter here: a value that cannot be converted
    // casts to 0 (or the empty text).
    ConvertExpression(argument->DataType, byte(argument->DataSize), argument->Scale, node->DataType,
                      byte(node->DataSize), node->Scale, result->ValueBuffer);
  }
  if (result->DataType == dtString && result->DataSize > 0) result->ValueBuffer[result->DataSize - 1] = 0;
}

void Evaluator::Extract(std::uint8_t op, const TExpToken* argument, TExpToken* result) {
  if (argument->IsNull) {
    SetNull(result);
    return;
  }
  int year = 0, month = 0, day = 0, weekday = 0, hour = 0, minute = 0, second = 0;
  std::int32_t day_number = 0, time = 0;
  bool has_date = argument->DataType != dtTime, has_time = argument->DataType != dtDate;
  if (argument->DataType == dtTimeStamp) {
    rtl::TTimeStamp stamp = TimeStampParts(argument->Value<double>());
    day_number = stamp.Date;
    time = stamp.Time;
  } else if (argument->DataType == dtDate) {
    day_number = argument->Value<std::int32_t>();
  } else {
    time = argument->Value<std::int32_t>();
  }
  if (has_date) {
    rtl::DecodeDate(rtl::TimeStampToDateTime(rtl::TTimeStamp{0, day_number}), year, month, day);
    weekday = ((day_number % 7) + 7) % 7 + 1;
  }
  if (has_time) {
    constexpr std::int64_t kDay = 86400000;
    std::int64_t t = ((std::int64_t{time} % kDay) + kDay) % kDay;
    hour = static_cast<int>(t / 3600000);
    minute = static_cast<int>(t / 60000 % 60);
    second = static_cast<int>(t / 1000 % 60);
  }
  std::int32_t part = 0;
  switch (op) {
    case eoEXTRACTYEAR: part = year; break;
    case eoEXTRACTMONTH: part = month; break;
    case eoEXTRACTDAY: part = day; break;
    case eoEXTRACTDAYOFWEEK: part = weekday; break;
    case eoEXTRACTHOUR: part = hour; break;
    case eoEXTRACTMINUTE: part = minute; break;
    default: part = second; break;
  }
  result->IsNull = false;
  result->DataType = dtInteger;
  result->SetDataSize(4);
  result->SetValue(part);
}

void Evaluator::Predicate(const TExpToken* node, TExpToken* result) {
  const std::uint8_t op = node->Operator;
  Operand tested(*this, node->Left);
  bool answer = false;
  switch (op) {
    case eoLIKE: case eoNOTLIKE: {
      Operand pattern(*this, node->Right);
      if (!tested->IsNull && !pattern->IsNull) {
        std::string spares[2];
        answer = LikeString(locale_.Language, locale_.Sort, Terminated(tested.get(), spares[0]),
                            Terminated(pattern.get(), spares[1]));
      }
      if (op == eoNOTLIKE) answer = !answer;
      break;
    }
    case eoIN: case eoNOTIN: {
      TScratchExpToken scratch;
      scratch->Initialize();
      scratch->DataType = dtBoolean;
      scratch->SetDataSize(2);
      for (const TExpToken* item = node->Right; item && !answer; item = item->Right) {
        Operand value(*this, item);
        EvaluateBinary(eoEQ, tested.get(), value.get(), scratch.get(), locale_);
        answer = IsTrue(scratch.get());
        // Only a constant, a unary node or a column uses Right as the chain
        // link; any other value ends the list.
        if (item->NodeClass != enCONST && item->NodeClass != enUNARY && item->NodeClass != enFIELD) break;
      }
      if (op == eoNOTIN) answer = !answer;
      break;
    }
    case eoSUBIN: case eoNOTSUBIN: {
      TSubSelectQuery* query = node->Right ? node->Right->SubQuery : nullptr;
      if (query) {
        Operand sub_select(*this, node->Right);
        ExpTokenGuard comparison(GetNewExpTokenInstance());
        comparison->NodeClass = enBINARY;
        comparison->Operator = eoEQ;
        comparison->Text.assign(1, '=');
        comparison->DataType = dtBoolean;
        comparison->SetDataSize(2);
        comparison->Left = tested.get();
        comparison->Right = sub_select.get();
        try {
          query->BuildSubSelectFilter(comparison.get());
        } catch (...) {
          comparison->Left = comparison->Right = nullptr;  // the guards above own them
          throw;
        }
        comparison->Left = comparison->Right = nullptr;
        answer = query->GetResultRecordCount() > 0;
      }
      if (op == eoNOTSUBIN) answer = !answer;
      break;
    }
    case eoBETWEEN: case eoNOTBETWEEN: {
      const TExpToken* low_node = node->Right;
      TScratchExpToken scratch;
      scratch->Initialize();
      scratch->DataType = dtBoolean;
      scratch->SetDataSize(2);
      if (low_node) {
        Operand low(*this, low_node);
        EvaluateBinary(eoGE, tested.get(), low.get(), scratch.get(), locale_);
        if (IsTrue(scratch.get()) && low_node->Right) {
          Operand high(*this, low_node->Right);
          EvaluateBinary(eoLE, tested.get(), high.get(), scratch.get(), locale_);
          answer = IsTrue(scratch.get());
        }
      }
      if (op == eoNOTBETWEEN) answer = !answer;
      break;
    }
    default:
      break;
  }
  result->DataType = dtBoolean;
  result->SetDataSize(2);
  SetBoolean(result, answer);
}

}  // namespace

TExpToken* EvaluateExpressionToken(const TExpToken* node, const void* record_buffer, void* user_data,
                                   TFieldValue field_value, TLocalePair locale) {
  if (!node) return nullptr;
  return Evaluator(record_buffer, user_data, field_value, locale).Evaluate(node);
}

void EvaluateUnary(std::uint8_t op, TExpToken* result, const TExpToken* operand, const TExpToken* expression) {
  switch (op & 0x7F) {
    case eoISBLANK:
      SetBoolean(result, operand->IsNull);
      return;
    case eoNOTBLANK:
      SetBoolean(result, !operand->IsNull);
      return;
    case eoNOT:
      SetBoolean(result, !IsTrue(operand));
      return;
    case eoMINUS: {
      if (operand->IsNull) {
        SetNull(result);
        return;
      }
      result->IsNull = false;
      bool fits = true;
      switch (operand->DataType) {
        case dtDate: case dtTime: case dtInteger: {
          const std::int32_t v = operand->Value<std::int32_t>();
          fits = v != INT32_MIN;
          if (fits) result->SetValue(static_cast<std::int32_t>(-v));
          break;
        }
        case dtSmallInt: {
          const std::int16_t v = operand->Value<std::int16_t>();
          fits = v != INT16_MIN;
          if (fits) result->SetValue(static_cast<std::int16_t>(-v));
          break;
        }
        case dtWord:
          result->SetValue(static_cast<std::uint16_t>(-operand->Value<std::uint16_t>()));
          break;
        case dtFloat: case dtTimeStamp:
          result->SetValue(-operand->Value<double>());
          break;
        case dtBCD:
          // The stored form carries its sign in front of its digits.
          result->SetValue(-operand->Value<std::int64_t>());
          break;
        default:
          break;
      }
      if (!fits) {
        SetNull(result);
        RaiseArithmeticOverflow(expression, op, operand, nullptr);
      }
      return;
    }
    case eoPLUS:
      if (operand->IsNull) {
        SetNull(result);
        return;
      }
      result->IsNull = false;
      std::memcpy(result->ValueBuffer, operand->ValueBuffer,
                  static_cast<std::size_t>(std::min(operand->ValueCapacity, result->ValueCapacity)));
      return;
    default:
      return;
  }
}

void RaiseArithmeticOverflow(const TExpToken* expression, std::uint8_t op, const TExpToken* left,
                             const TExpToken* right) {
  std::string text;
  if (expression) {
    text = ExpressionText(expression);
  } else if (left) {
    const char* symbol = "";
    switch (op & 0x7F) {
      case eoADD: case eoPLUS: symbol = "+"; break;
      case eoSUB: case eoMINUS: symbol = "-"; break;
      case eoMUL: symbol = "*"; break;
      case eoDIV: symbol = "/"; break;
      default: break;
    }
    text = right ? left->Text + " " + symbol + " " + right->Text : symbol + left->Text;
  }
  RaiseError(err::kSqlError, {}, {}, {}, "Arithmetic overflow in expression '" + text + "'");
}

void EvaluateCompare(std::uint8_t op, std::uint16_t compare_length, bool ignore_case, const TExpToken* left,
                     const TExpToken* right, TExpToken* result, TLocalePair locale) {
  op &= 0x7F;
  if (op != eoEQ && op != eoNE) return;
  bool equal;
  if (left->IsNull || right->IsNull)
    equal = left->IsNull && right->IsNull;
  else if (left->DataType == dtUnknown || right->DataType == dtUnknown)
    equal = false;
  else
    equal = CompareStrings(locale.Language, locale.Sort, left->StringValue(), right->StringValue(), compare_length,
                           ignore_case) == 0;
  SetBoolean(result, op == eoEQ ? equal : !equal);
}

}  // namespace korvex
