#include "tables/lib/expfilter.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

#include "tables/lib/expconvert.h"
#include "tables/lib/numeric.h"

namespace korvex {
namespace {

bool IsConstantOperand(const TExpToken* node) {
  if (!node) return false;
  if (node->NodeClass == enCONST) return true;
  return node->NodeClass == enUNARY && (node->Operator == eoMINUS || node->Operator == eoPLUS) && node->Left &&
         node->Left->NodeClass == enCONST;
}

bool IsStringConstant(const TExpToken* node) {
  return node && node->NodeClass == enCONST && !node->IsParameter && node->DataType == dtString;
}

std::string TextOf(const TExpToken* node) { return std::string(node->TextValue()); }

// Cuts the last character (a '*' or '%' marker) off a prepared constant.
void CutLastCharacter(TExpToken* constant) {
  std::string text = TextOf(constant);
  if (!text.empty()) text.pop_back();
  constant->SetStringValue(text);
  constant->IsNull = text.empty();
}

// A LIKE pattern that is a plain prefix: one '%', at its end, no '_', and
// something before it.
bool IsPrefixPattern(const std::string& pattern) {
  return pattern.size() > 1 && pattern.back() == '%' && std::count(pattern.begin(), pattern.end(), '%') == 1 &&
         pattern.find('_') == std::string::npos;
}

std::int64_t IntegralOf(const TExpToken* value) { return value->IntegralValue(); }

// The integer a numeric value converts to (rounded), for integer targets.
bool IntegerFor(const TExpToken* value, std::int64_t& result) {
  if (IsIntegralType(value->DataType)) {
    result = IntegralOf(value);
    return true;
  }
  if (value->DataType == dtFloat) return RoundToInteger(value->Value<double>(), INT64_MIN, INT64_MAX, result);
  if (value->DataType == dtBCD) {
    auto currency = CompToCurr(value->Value<std::int64_t>());
    if (!currency) return false;
    result = RoundCurrencyToInteger(*currency);
    return true;
  }
  return false;
}

template <typename T>
void Put(std::uint8_t* target, T value) {
  std::memcpy(target, &value, sizeof value);
}

class Preparer {
public:
  Preparer(void* user_data, TFieldValue field_value, TLocalePair locale, bool case_insensitive,
           bool no_partial_compare)
      : user_data_(user_data),
        field_value_(field_value),
        locale_(locale),
        case_insensitive_(case_insensitive),
        no_partial_compare_(no_partial_compare) {}

  TExpToken* Prepare(const TExpToken* node);

private:
  TExpToken* Constant(const TExpToken* template_node, const TExpToken* constant) {
    return EvaluateConstant(template_node, constant, user_data_, field_value_, locale_);
  }
  void PrepareComparison(const TExpToken* node, TExpToken* result);
  void PreparePredicate(const TExpToken* node, TExpToken* result);
  void PrepareAllLinks(const TExpToken* node, TExpToken* result) {
    result->Left = Prepare(node->Left);
    result->Right = Prepare(node->Right);
    result->Third = Prepare(node->Third);
  }

  void* user_data_;
  TFieldValue field_value_;
  TLocalePair locale_;
  bool case_insensitive_;
  bool no_partial_compare_;
};

TExpToken* Preparer::Prepare(const TExpToken* node) {
  if (!node) return nullptr;
  ExpTokenGuard result(GetNewExpTokenInstance());
  result->Copy(*node);
  result->Left = result->Right = result->Third = nullptr;
  switch (node->NodeClass) {
    case enBINARY:
      PrepareComparison(node, result.get());
      break;
    case enFUNC:
      if (node->Operator == eoIF) {
        result->Left = CopyExpressionTokens(node->Left);
        result->Right = CopyExpressionTokens(node->Right);
        result->Third = CopyExpressionTokens(node->Third);
      } else {
        PrepareAllLinks(node, result.get());
      }
      break;
    case enEXTBINARY:
      PreparePredicate(node, result.get());
      break;
    default:
      // Unary operators, columns, constants (with arguments chained after
      // them) and sub-selects.
      PrepareAllLinks(node, result.get());
      break;
  }
  return result.Release();
}

void Preparer::PrepareComparison(const TExpToken* node, TExpToken* result) {
  const std::uint8_t op = node->Operator & 0x7F;
  const bool comparison = op >= eoEQ && op <= eoLE;
  if (!comparison || !IsConstantOperand(node->Right)) {
    PrepareAllLinks(node, result);
    return;
  }
  if ((op == eoEQ || op == eoNE) && IsStringConstant(node->Right)) {
    std::string text = TextOf(node->Right);
    bool starred = !text.empty() && text.back() == '*';
    if (case_insensitive_ || starred) {
      result->NodeClass = enCOMPARE;
      result->CompareIgnoreCase = case_insensitive_;
      result->CompareLength = starred && !no_partial_compare_ ? static_cast<std::int32_t>(text.size()) - 1 : 0;
      PrepareAllLinks(node, result);
      if (result->CompareLength > 0) CutLastCharacter(result->Right);
      return;
    }
  }
  result->Left = Prepare(node->Left);
  result->Right = Constant(node->Left, node->Right);
}

void Preparer::PreparePredicate(const TExpToken* node, TExpToken* result) {
  switch (node->Operator) {
    case eoLIKE: case eoNOTLIKE:
      PrepareAllLinks(node, result);
      if (IsStringConstant(node->Right) && IsPrefixPattern(TextOf(node->Right))) {
        result->NodeClass = enCOMPARE;
        result->Operator = node->Operator == eoLIKE ? eoEQ : eoNE;
        result->CompareLength = static_cast<std::int32_t>(TextOf(node->Right).size()) - 1;
        CutLastCharacter(result->Right);
      }
      return;
    case eoIN: case eoNOTIN:
    case eoBETWEEN: case eoNOTBETWEEN: {
      result->Left = Prepare(node->Left);
      // Every value becomes a constant of the tested operand's type, chained
      // as before (walked in a loop: lists may be long).
      TExpToken** link = &result->Right;
      for (const TExpToken* value = node->Right; value; value = value->Right) {
        *link = Constant(node->Left, value);
        link = &(*link)->Right;
        if (value->NodeClass != enCONST && value->NodeClass != enUNARY) break;
      }
      return;
    }
    default:
      PrepareAllLinks(node, result);
      return;
  }
}

}  // namespace

TExpToken* BuildNextFilterExpression(const TExpToken* tree, void* user_data, TFieldValue field_value,
                                     TLocalePair locale, bool case_insensitive, bool no_partial_compare) {
  TExpToken* prepared =
      Preparer(user_data, field_value, locale, case_insensitive, no_partial_compare).Prepare(tree);
  LinkParents(prepared);
  return prepared;
}

TExpToken* EvaluateConstant(const TExpToken* template_node, const TExpToken* constant, void* user_data,
                            TFieldValue field_value, TLocalePair locale) {
  ExpTokenGuard value(EvaluateExpressionToken(constant, nullptr, user_data, field_value, locale));
  if (!value || value->IsNull || value->DataType == dtString || !template_node ||
      template_node->DataType == dtUnknown || value->DataType == template_node->DataType)
    return value.Release();

  ExpTokenGuard narrowed(GetNewExpTokenInstance());
  narrowed->Copy(*value);
  narrowed->ClearValue();
  if (!ConvertConstant(value.get(), template_node, narrowed->ValueBuffer)) return value.Release();
  narrowed->DataType = template_node->DataType;
  narrowed->SubType = template_node->SubType;
  narrowed->SetDataSize(template_node->DataSize);
  narrowed->Scale = template_node->Scale;

  // Only an exact conversion may replace the value: the comparison must
  // keep its meaning.
  ExpTokenGuard same(GetNewExpTokenInstance());
  same->DataType = dtBoolean;
  same->SetDataSize(2);
  EvaluateBinary(eoEQ, value.get(), narrowed.get(), same.get(), locale);
  if (!IsTrue(same.get())) return value.Release();
  return narrowed.Release();
}

bool ConvertConstant(const TExpToken* value, const TExpToken* template_node, std::uint8_t* target) {
  const std::uint8_t from = value->DataType;
  std::int64_t integer = 0;
  switch (template_node->DataType) {
    case dtDate:
      if (from != dtTimeStamp) return false;
      Put(target, TimeStampParts(value->Value<double>()).Date);
      return true;
    case dtSmallInt: case dtWord:
      if (!IsNumericType(from) || !IntegerFor(value, integer)) return false;
      if (template_node->DataType == dtWord) Put(target, static_cast<std::uint16_t>(integer));
      else Put(target, static_cast<std::int16_t>(integer));
      return true;
    case dtInteger:
      if (!IsNumericType(from) || !IntegerFor(value, integer)) return false;
      Put(target, static_cast<std::int32_t>(integer));
      return true;
    case dtFloat:
      if (IsIntegralType(from)) Put(target, static_cast<double>(IntegralOf(value)));
      else if (from == dtBCD) Put(target, CompToFloat(value->Value<std::int64_t>()));
      else return false;
      return true;
    case dtBCD: {
      std::optional<std::int64_t> stored;
      if (IsIntegralType(from)) stored = CurrToComp(Currency::FromScaled(IntegralOf(value) * Currency::kScale),
                                                    template_node->Scale);
      else if (from == dtFloat) stored = FloatToComp(value->Value<double>(), template_node->Scale);
      if (!stored) return false;
      Put(target, *stored);
      return true;
    }
    case dtTimeStamp:
      if (from != dtDate) return false;
      Put(target, value->Value<std::int32_t>() * kMSecsPerDay);
      return true;
    default:
      return false;
  }
}

bool StripNullComparisons(TExpToken* node) {
  if (!node) return false;
  auto is_null_constant = [](const TExpToken* n) { return n && n->NodeClass == enCONST && n->IsNull; };
  switch (node->NodeClass) {
    case enBINARY: case enCOMPARE: {
      const std::uint8_t op = node->Operator & 0x7F;
      if ((op == eoEQ || op == eoNE) && (is_null_constant(node->Right) || is_null_constant(node->Left))) {
        FreeExpressionTokens(node);
        return true;
      }
      bool left_gone = StripNullComparisons(node->Left);
      if (left_gone) node->Left = nullptr;
      bool right_gone = StripNullComparisons(node->Right);
      if (right_gone) node->Right = nullptr;
      if (left_gone && right_gone) {
        FreeExpressionTokens(node);
        return true;
      }
      if (left_gone || right_gone) {
        // The node takes the surviving operand's place.
        TExpToken* survivor = left_gone ? node->Right : node->Left;
        TExpToken* parent = node->Parent;
        node->Copy(*survivor);
        node->Parent = parent;
        for (TExpToken* operand : {node->Left, node->Right, node->Third})
          if (operand) operand->Parent = node;
        ReturnExpTokenInstance(survivor);
      }
      return false;
    }
    case enUNARY:
      if (StripNullComparisons(node->Left)) {
        node->Left = nullptr;
        FreeExpressionTokens(node);
        return true;
      }
      return false;
    case enFUNC:
      if (node->Operator == eoIF) {
        bool gone = false;
        for (TExpToken** operand : {&node->Left, &node->Right, &node->Third}) {
          if (StripNullComparisons(*operand)) {
            *operand = nullptr;
            gone = true;
          }
        }
        if (gone) {
          FreeExpressionTokens(node);  // the surviving operands go with it
          return true;
        }
      }
      return false;
    default:
      return false;
  }
}

}  // namespace korvex
