// TFilterSet: filters tested record by record, on the record's bytes where they can be.
#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

#include "platform/runtime/coding.h"
#include "tables/engine/cursor/filter_nodes.h"
#include "tables/engine/cursor/filters.h"
#include "tables/lib/collation.h"
#include "tables/lib/fieldtypes.h"

namespace korvex {
namespace {

// A tree of plain comparisons of columns with constants under AND, OR and
// NOT, tested on the record's bytes without building value nodes. Each
// test answers exactly what the evaluator answers (the same comparison
// routines, the same NULL rules); a tree with anything else is not
// compiled.
class TFastTest {
public:
  // nullptr when the tree has a node this does not answer.
  static std::unique_ptr<TFastTest> Compile(const TExpToken* node, const std::vector<TFieldDefinition>& fields) {
    if (!node) return nullptr;
    auto test = std::make_unique<TFastTest>();
    const std::uint8_t op = node->Operator & 0x7F;
    if (node->NodeClass == enUNARY && op == eoNOT) {
      test->kind_ = Kind::Not;
      test->left_ = Compile(node->Left, fields);
      return test->left_ ? std::move(test) : nullptr;
    }
    if (node->NodeClass == enBINARY && (op == eoAND || op == eoOR)) {
      test->kind_ = op == eoAND ? Kind::And : Kind::Or;
      test->left_ = Compile(node->Left, fields);
      test->right_ = Compile(node->Right, fields);
      return test->left_ && test->right_ ? std::move(test) : nullptr;
    }
    if (node->NodeClass == enEXTBINARY && (op == eoBETWEEN || op == eoNOTBETWEEN)) {
      // low <= column <= high, as the evaluator tests it: both bounds
      // compared, a NULL column failing both.
      const TExpToken* low = node->Right;
      if (!low) return nullptr;
      test->kind_ = Kind::And;
      test->left_ = Comparison(eoGE, node->Left, low, nullptr, fields);
      test->right_ = Comparison(eoLE, node->Left, low->Right, nullptr, fields);
      if (!test->left_ || !test->right_) return nullptr;
      return op == eoBETWEEN ? std::move(test) : Negated(std::move(test));
    }
    if (node->NodeClass == enEXTBINARY && (op == eoIN || op == eoNOTIN)) {
      // column = item for each item of the list, equal to NULL meaning blank.
      std::unique_ptr<TFastTest> any;
      for (const TExpToken* item = node->Right; item; item = item->Right) {
        auto equal = Comparison(eoEQ, node->Left, item, nullptr, fields);
        if (!equal) return nullptr;
        if (any) {
          auto both = std::make_unique<TFastTest>();
          both->kind_ = Kind::Or;
          both->left_ = std::move(any);
          both->right_ = std::move(equal);
          any = std::move(both);
        } else {
          any = std::move(equal);
        }
      }
      if (!any) return nullptr;
      return op == eoIN ? std::move(any) : Negated(std::move(any));
    }
    if ((node->NodeClass != enBINARY && node->NodeClass != enCOMPARE) || !IsComparison(op)) return nullptr;
    return Comparison(op, node->Left, node->Right, node->NodeClass == enCOMPARE ? node : nullptr, fields);
  }

private:
  static std::unique_ptr<TFastTest> Negated(std::unique_ptr<TFastTest> inner) {
    auto test = std::make_unique<TFastTest>();
    test->kind_ = Kind::Not;
    test->left_ = std::move(inner);
    return test;
  }

  // `column op constant`; `compare` is the comparison node of a string
  // equality with its own length and case settings.
  static std::unique_ptr<TFastTest> Comparison(std::uint8_t op, const TExpToken* column, const TExpToken* constant,
                                               const TExpToken* compare,
                                               const std::vector<TFieldDefinition>& fields) {
    auto test = std::make_unique<TFastTest>();
    if (!column || column->NodeClass != enFIELD || !IsConstantValue(constant)) return nullptr;
    if (column->FieldNumber == 0 || column->FieldNumber > fields.size()) return nullptr;
    const TFieldDefinition& f = fields[column->FieldNumber - 1];
    if (!f.TakesRecordBytes() || f.DataType != column->DataType) return nullptr;
    test->op_ = op;
    test->field_ = &f;
    if (constant->IsNull) {
      if (op != eoEQ && op != eoNE) return nullptr;
      test->kind_ = Kind::Blank;
      return test;
    }
    if (compare) {
      if (f.DataType != dtString || constant->DataType != dtString || (op != eoEQ && op != eoNE)) return nullptr;
      test->kind_ = Kind::Compare;
      test->text_ = std::string(constant->TextValue());
      test->length_ = static_cast<std::uint16_t>(compare->CompareLength & 0xFFFF);
      test->ignore_case_ = compare->CompareIgnoreCase;
      return test;
    }
    switch (f.DataType) {
      case dtString:
        if (constant->DataType != dtString) return nullptr;
        test->kind_ = Kind::Text;
        test->text_ = std::string(constant->TextValue());
        return test;
      case dtSmallInt: case dtInteger: case dtWord:
        if (constant->DataType != dtSmallInt && constant->DataType != dtInteger && constant->DataType != dtWord)
          return nullptr;
        test->kind_ = Kind::Integral;
        test->integer_ = constant->IntegralValue();
        return test;
      case dtDate: case dtTime:
        if (constant->DataType != f.DataType) return nullptr;
        test->kind_ = Kind::Integral;
        test->integer_ = constant->Value<std::int32_t>();
        return test;
      case dtFloat:
        if (constant->DataType != dtFloat) return nullptr;
        test->kind_ = Kind::Real;
        test->real_ = constant->Value<double>();
        return test;
      default:
        return nullptr;
    }
  }

public:
  bool Run(const std::uint8_t* record, TLocalePair locale) const {
    switch (kind_) {
      case Kind::Not: return !left_->Run(record, locale);
      case Kind::And: return left_->Run(record, locale) && right_->Run(record, locale);
      case Kind::Or: return left_->Run(record, locale) || right_->Run(record, locale);
      default: break;
    }
    const std::uint8_t* at = record + field_->Offset;
    const bool blank = at[0] == 0;
    if (kind_ == Kind::Blank) return (op_ == eoEQ) == blank;
    if (blank) return op_ == eoNE;  // NULL <> a value; every other comparison false
    int order = 0;
    switch (kind_) {
      case Kind::Text: case Kind::Compare: {
        char text[256];
        const std::size_t size = std::min<std::size_t>(field_->PhysicalSize, sizeof text - 1);
        std::memcpy(text, at + 1, size);
        text[size] = 0;
        order = CompareStrings(locale.Language, locale.Sort, text, text_.c_str(),
                               kind_ == Kind::Compare ? length_ : 0, kind_ == Kind::Compare && ignore_case_);
        break;
      }
      case Kind::Integral: {
        std::int64_t value = 0;
        switch (field_->DataType) {
          case dtSmallInt: value = static_cast<std::int16_t>(rtl::DecodeFixed16(at + 1)); break;
          case dtWord: value = rtl::DecodeFixed16(at + 1); break;
          default: value = static_cast<std::int32_t>(rtl::DecodeFixed32(at + 1)); break;
        }
        order = value < integer_ ? -1 : value > integer_ ? 1 : 0;
        break;
      }
      case Kind::Real: {
        const double value = rtl::DecodeDouble(at + 1);
        order = value < real_ ? -1 : value > real_ ? 1 : 0;
        break;
      }
      default:
        break;
    }
    switch (op_) {
      case eoEQ: return order == 0;
      case eoNE: return order != 0;
      case eoGT: return order > 0;
      case eoLT: return order < 0;
      case eoGE: return order >= 0;
      default: return order <= 0;
    }
  }

private:
  enum class Kind { And, Or, Not, Blank, Text, Compare, Integral, Real };
  Kind kind_ = Kind::And;
  std::uint8_t op_ = 0;
  const TFieldDefinition* field_ = nullptr;
  std::string text_;
  std::uint16_t length_ = 0;
  bool ignore_case_ = false;
  std::int64_t integer_ = 0;
  double real_ = 0;
  std::unique_ptr<TFastTest> left_, right_;
};

}  // namespace

void TFilterSet::NavigateNonIndexedRecords(TRecordsBitmap& bits, const TExpToken* node, const TFilter& filter) {
  std::vector<std::uint8_t> record;
  const TLocalePair locale = source_.FilterLocale();
  const std::unique_ptr<TFastTest> fast = node && !force_scan_ ? TFastTest::Compile(node, source_.FilterFields()) : nullptr;
  std::int32_t n = 0, position = 0;
  while (bits.GetNextBitsSet(n, 1, position)) {
    const auto number = static_cast<std::uint32_t>(n);
    bool pass = source_.FilterReadRecord(number, record);
    if (pass) {
      if (fast) {
        pass = fast->Run(record.data(), locale);
      } else if (node) {
        record_number_ = number;
        ExpTokenGuard value(
            EvaluateExpressionToken(node, record.data(), this, FieldValue, source_.FilterLocale()));
        pass = IsTrue(value.get());
      } else {
        pass = filter.callback_(record.data(), number);
      }
    }
    if (!pass) bits.ClearBit(n);
  }
}

bool TFilterSet::EvaluateFilterForRecord(const TFilter& filter, const std::uint8_t* record, std::uint32_t n) {
  if (filter.callback_) return filter.callback_(record, n);
  if (!filter.tree_) return true;
  record_number_ = n;
  ExpTokenGuard value(EvaluateExpressionToken(filter.tree_, record, this, FieldValue, source_.FilterLocale()));
  return IsTrue(value.get());
}

bool TFilterSet::FieldValue(void* user, const void* buffer, TExpToken* result) {
  auto* set = static_cast<TFilterSet*>(user);
  const auto& fields = set->source_.FilterFields();
  const auto* record = static_cast<const std::uint8_t*>(buffer);
  if (result->FieldNumber == 0 || result->FieldNumber > fields.size()) {
    result->SetNullValue();
    return true;
  }
  const TFieldDefinition& f = fields[result->FieldNumber - 1];
  if (f.IsAutoIncrement()) {
    result->IsNull = false;
    result->SetValue(static_cast<std::int32_t>(rtl::DecodeFixed32(record + kRecordIDOffset)));
    return true;
  }
  if (!f.TakesRecordBytes() || record[f.Offset] == 0) {
    result->SetNullValue();
    return true;
  }
  if (f.DataType == dtBlob) {
    const std::string content = set->source_.FilterReadBlob(f.FieldNumber, record);
    result->SetBytesValue(content.data(), content.size());
    return true;
  }
  result->SetDataSize(f.PhysicalSize + 1);
  result->ClearValue();
  std::memcpy(result->ValueBuffer, record + f.Offset + 1, f.PhysicalSize);
  result->IsNull = false;
  return true;
}

}  // namespace korvex
