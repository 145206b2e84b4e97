#include "tables/lib/expcheck.h"

#include <algorithm>
#include <string>

#include "platform/runtime/sysutils.h"
#include "tables/lib/expconvert.h"
#include "tables/lib/subselect.h"
#include "tables/lib/text_values.h"

namespace korvex {
namespace {

bool IsStringOrMemo(const TExpToken* node) {
  return node->DataType == dtString || (node->DataType == dtBlob && node->SubType == fstMemo);
}

bool IsMemo(const TExpToken* node) { return node->DataType == dtBlob && node->SubType == fstMemo; }

bool IsConstant(const TExpToken* node) { return node && node->NodeClass == enCONST; }

bool IsStringConstant(const TExpToken* node) {
  return IsConstant(node) && !node->IsParameter && node->DataType == dtString;
}

// A text constant or a parameter bound to a text: beside a date, time or
// timestamp either is read as a value of that type.
bool IsStringValue(const TExpToken* node) { return IsConstant(node) && node->DataType == dtString; }

bool IsIntegerConstant(const TExpToken* node) {
  return IsConstant(node) && !node->IsParameter && !node->IsNull && IsIntegralType(node->DataType);
}

std::int32_t IntegerValue(const TExpToken* node) { return static_cast<std::int32_t>(node->IntegralValue()); }


const char* PredicateName(std::uint8_t op) {
  switch (op) {
    case eoLIKE: return "LIKE";
    case eoNOTLIKE: return "NOT LIKE";
    case eoIN: case eoSUBIN: return "IN";
    case eoNOTIN: case eoNOTSUBIN: return "NOT IN";
    case eoBETWEEN: return "BETWEEN";
    default: return "NOT BETWEEN";
  }
}

const char* AggregateName(std::uint8_t op) {
  switch (op) {
    case eoSUM: return "SUM";
    case eoMIN: return "MIN";
    case eoMAX: return "MAX";
    default: return "AVG";
  }
}

// The constant's own typing comes back after it was tried as a column.
void RevertToConstant(TExpToken* node) {
  node->NodeClass = enCONST;
  node->ColumnName.clear();
  node->ColumnFromConstant = false;
  node->FieldNumber = 0;
  node->DataType = node->SavedDataType;
  node->SubType = node->SavedSubType;
  node->SetDataSize(node->SavedDataSize);
  node->Scale = node->SavedScale;
}

// A column or a sub-select anywhere below the node.
bool ReadsColumns(const TExpToken* node) {
  if (!node) return false;
  if (node->NodeClass == enFIELD || node->NodeClass == enTUPLE) return true;
  return ReadsColumns(node->Left) || ReadsColumns(node->Right) || ReadsColumns(node->Third);
}

void TakeTyping(TExpToken* node, const TExpToken* from) {
  node->DataType = from->DataType;
  node->SubType = from->SubType;
  node->SetDataSize(from->DataSize);
  node->Scale = from->Scale;
}

class Checker {
public:
  Checker(TEngineErrorCode number, std::string_view context, std::string_view name, void* user_data,
          TFieldLookup lookup)
      : number_(number), context_(context), name_(name), user_data_(user_data), lookup_(lookup) {}

  void Verify(TExpToken* node, TExpToken* parent, bool convert_booleans);
  void VerifyDataType(TExpToken* node);

private:
  [[noreturn]] void Fail(const std::string& message) const {
    RaiseError(number_, context_, {}, {}, message + " in " + std::string(name_));
  }
  [[noreturn]] void FailNamed(const std::string& message) const {
    RaiseError(number_, context_, {}, {}, message + std::string(name_));
  }

  bool Lookup(TExpToken* node) const { return lookup_ && lookup_(user_data_, node); }
  void TryConstantAsColumn(TExpToken* node);
  void ConvertDateConstant(TExpToken* target, const TExpToken* typed);
  void VerifyUnary(TExpToken* node, bool convert_booleans);
  void VerifyBinary(TExpToken* node, bool convert_booleans);
  void VerifyColumn(TExpToken* node);
  void VerifySubSelect(TExpToken* node);
  void VerifyFunction(TExpToken* node, bool convert_booleans);
  void VerifyIf(TExpToken* node);
  void VerifyPredicate(TExpToken* node, bool convert_booleans);
  void VerifyListValue(TExpToken* node, TExpToken* value);
  void ApplyBooleanRule(TExpToken* node, bool convert_booleans);

  TEngineErrorCode number_;
  std::string_view context_;
  std::string_view name_;
  void* user_data_;
  TFieldLookup lookup_;
};

void Checker::Verify(TExpToken* node, TExpToken* parent, bool convert_booleans) {
  if (!node) return;
  node->Parent = parent;
  TryConstantAsColumn(node);
  switch (node->NodeClass) {
    case enUNARY: VerifyUnary(node, convert_booleans); break;
    case enBINARY: VerifyBinary(node, convert_booleans); break;
    case enFIELD: VerifyColumn(node); ApplyBooleanRule(node, convert_booleans); break;
    case enTUPLE: VerifySubSelect(node); break;
    case enFUNC: VerifyFunction(node, convert_booleans); break;
    case enEXTBINARY: VerifyPredicate(node, convert_booleans); break;
    default: break;
  }
}

// A string constant may name a column ("Lname" = 'Smith' written with the
// column in quotes): when the lookup knows it, the node becomes that column.
void Checker::TryConstantAsColumn(TExpToken* node) {
  if (node->NodeClass != enCONST || node->DataType != dtString || node->IsParameter) return;
  node->ColumnName = ShortString(node->StringValue());
  if (node->ColumnName.empty() || node->ColumnName == "*") {
    node->ColumnName.clear();
    return;
  }
  node->SavedDataType = node->DataType;
  node->SavedSubType = node->SubType;
  node->SavedDataSize = node->DataSize;
  node->SavedScale = node->Scale;
  if (Lookup(node)) {
    node->NodeClass = enFIELD;
    node->ColumnFromConstant = true;
  } else {
    RevertToConstant(node);
  }
}

// A string constant beside a date, time or timestamp operand is read as a
// value of that type. An empty string is NULL and takes the type as it is.
void Checker::ConvertDateConstant(TExpToken* target, const TExpToken* typed) {
  if (!target->IsNull && !ConvertStringToDateTime(target->ValueBuffer, typed->DataType))
    Fail("Date, time, or timestamp expression expected, instead found '" + target->Text + "'");
  target->DataType = typed->DataType;
  target->SubType = typed->SubType;
  target->SetDataSize(typed->DataSize);
  target->Scale = typed->Scale;
}

void Checker::VerifyUnary(TExpToken* node, bool convert_booleans) {
  TExpToken* operand = node->Left;
  if (!operand) Fail("Type mismatch between '" + node->Text + "' operator and '' ");
  Verify(operand, node, convert_booleans);
  if (!CheckUnaryTypes(node->Operator, operand->DataType))
    Fail("Type mismatch between '" + node->Text + "' operator and '" + operand->Text + "'");
  node->DataType = GetUnaryResultDataType(node->Operator, operand->DataType);
  node->SubType = GetUnaryResultSubType(node->Operator, operand->DataType, operand->SubType);
  node->SetDataSize(operand->DataSize);
  node->Scale = operand->Scale;
}

void Checker::VerifyBinary(TExpToken* node, bool convert_booleans) {
  TExpToken* left = node->Left;
  TExpToken* right = node->Right;
  if (!left || !right) Fail("Type mismatch between expression '" + node->Text + "' and expression ''");
  Verify(left, node, convert_booleans);
  Verify(right, node, convert_booleans);

  if (left->NodeClass == enFIELD && right->NodeClass == enFIELD) {
    if (right->ColumnFromConstant)
      RevertToConstant(right);
    else if (left->ColumnFromConstant)
      RevertToConstant(left);
  }
  // A quoted column name is read as the column only beside a value that
  // reads no column ('Qty' > 5); beside a function or an expression of
  // columns (UPPER(Name) = 'S') it is the text it spells.
  if (left->ColumnFromConstant && ReadsColumns(right))
    RevertToConstant(left);
  else if (right->ColumnFromConstant && ReadsColumns(left))
    RevertToConstant(right);
  if (IsConstant(left) || IsConstant(right)) {
    if (IsDateTimeType(left->DataType) && IsStringValue(right))
      ConvertDateConstant(right, left);
    else if (IsDateTimeType(right->DataType) && IsStringValue(left))
      ConvertDateConstant(left, right);
  }
  if (!CheckBinaryTypes(node->Operator, left->DataType, left->SubType, right->DataType, right->SubType))
    Fail(std::string("Type mismatch between ") + OperandKind(left) + " '" + left->Text + "' and " + OperandKind(right) +
         " '" + right->Text + "'");

  std::uint8_t op = node->Operator & 0x7F;
  node->DataType = GetBinaryResultDataType(op, left->DataType, right->DataType);
  node->SubType = GetBinaryResultSubType(op, left->DataType, left->SubType, right->DataType, right->SubType);
  if (op == eoADD && IsTextType(left->DataType) && IsTextType(right->DataType)) {
    node->SetDataSize((left->DataSize - 1) + (right->DataSize - 1) + 1);
    node->Scale = 0;
  } else if (node->DataType == dtBoolean) {
    node->SetDataSize(2);
    node->Scale = 0;
  } else {
    node->SetDataSize(std::max(left->DataSize, right->DataSize));
    node->Scale = std::max(left->Scale, right->Scale);
  }
}

void Checker::VerifyColumn(TExpToken* node) {
  if (node->ColumnName == "*") return;
  if (!Lookup(node))
    Fail("Invalid column name '" + node->ColumnName + "' or table correlation name '" + node->TableName +
         "' specified");
}

void Checker::VerifySubSelect(TExpToken* node) {
  TSubSelectQuery* query = node->SubQuery;
  if (query && query->SelectedColumnCount() > 1) FailNamed("More than 1 column for sub-select  specified in ");
  if (!query || !query->VerifySubSelectFieldData(node))
    Fail("Invalid column name '" + node->ColumnName + "' or table correlation name '" + node->TableName +
         "' specified");
}

void Checker::ApplyBooleanRule(TExpToken* node, bool convert_booleans) {
  if (node->DataType != dtBoolean || !convert_booleans) return;
  TExpToken* parent = node->Parent;
  if (parent && parent->Operator != eoNOT && parent->Operator != eoAND && parent->Operator != eoOR) return;
  TransformBooleanExpression(node);
}

void Checker::VerifyFunction(TExpToken* node, bool convert_booleans) {
  const std::uint8_t op = node->Operator;
  if (op == eoIF) {
    VerifyIf(node);
    ApplyBooleanRule(node, convert_booleans);
    return;
  }
  TExpToken* argument = node->Left;
  if (!argument) Fail("Expression argument of " + rtl::UpperCase(node->Text) + " function is missing");
  Verify(argument, node, convert_booleans);
  const std::uint8_t result_text_type = IsMemo(argument) ? dtBlob : dtString;
  const std::uint8_t result_text_sub_type = IsMemo(argument) ? fstMemo : fstNone;

  switch (op) {
    case eoSUM: case eoMIN: case eoMAX: case eoAVG:
      if (!IsNumericType(argument->DataType) && !IsDateTimeType(argument->DataType))
        Fail(std::string(AggregateName(op)) +
             " aggregate function must contain a numeric, date, time, or timestamp expression");
      TakeTyping(node, argument);
      return;
    case eoCOUNT:
      node->DataType = dtInteger;
      node->SubType = fstNone;
      node->SetDataSize(4);
      node->Scale = 0;
      return;
    case eoUPPER: case eoLOWER:
      if (!IsStringOrMemo(argument))
        Fail(std::string("Type mismatch between ") + (op == eoUPPER ? "UPPER" : "LOWER") +
             " function and function argument");
      node->DataType = result_text_type;
      node->SubType = result_text_sub_type;
      node->SetDataSize(argument->DataSize);
      node->Scale = 0;
      return;
    case eoSUBSTRING: {
      if (!IsStringOrMemo(argument)) Fail("Expression argument of SUBSTRING function must be a string or memo");
      TExpToken* start = node->Right;
      if (!IsIntegerConstant(start)) Fail("FROM argument of SUBSTRING function must be an integer constant");
      if (IntegerValue(start) < 1)
        Fail("FROM argument of SUBSTRING function must be an integer constant greater than 0");
      TExpToken* length = start->Right;
      std::int64_t size;
      if (length) {
        if (!IsIntegerConstant(length)) Fail("FOR argument of SUBSTRING function must be an integer constant");
        if (IntegerValue(length) < 1)
          Fail("FOR argument of SUBSTRING function must be an integer constant greater than 0");
        size = std::int64_t{IntegerValue(length)} + 1;
      } else {
        size = std::int64_t{argument->DataSize - 1} - IntegerValue(start) + 1 + 1;
      }
      // A part is never longer than the whole.
      size = std::clamp<std::int64_t>(size, 1, std::max(argument->DataSize, 1));
      node->DataType = result_text_type;
      node->SubType = result_text_sub_type;
      node->SetDataSize(static_cast<std::int32_t>(size));
      node->Scale = 0;
      return;
    }
    case eoREPLACE: {
      if (!IsStringOrMemo(argument)) Fail("IN argument of REPLACE function must be a string or memo");
      TExpToken* find = node->Right;
      if (!IsStringConstant(find)) Fail("Search argument of REPLACE function must be a string constant");
      if (!IsStringConstant(find->Right)) Fail("WITH argument of REPLACE function must be a string constant");
      node->DataType = result_text_type;
      node->SubType = result_text_sub_type;
      node->SetDataSize(argument->DataSize);
      node->Scale = 0;
      return;
    }
    case eoPOS: case eoOCCURS: {
      const char* name = op == eoPOS ? "POS" : "OCCURS";
      if (!IsStringOrMemo(argument))
        Fail(std::string("Type mismatch between ") + name + " function and IN argument");
      if (!IsStringConstant(node->Right))
        Fail(std::string("Search string argument of ") + name + " function must be a string constant");
      node->DataType = dtInteger;
      node->SubType = fstNone;
      node->SetDataSize(4);
      node->Scale = 0;
      return;
    }
    case eoTRIMLEADING: case eoTRIMTRAILING: case eoTRIMBOTH:
      if (!IsStringOrMemo(argument)) Fail("FROM argument of TRIM function must be a string or memo");
      if (!IsStringConstant(node->Right) || node->Right->DataSize != 2)
        Fail("Trim character argument of TRIM function must be a single character constant");
      node->DataType = result_text_type;
      node->SubType = result_text_sub_type;
      node->SetDataSize(argument->DataSize);
      node->Scale = 0;
      return;
    case eoCAST:
      if (!CheckCastTypes(node->DataType, argument->DataType))
        Fail(std::string("Type mismatch between ") + OperandKind(argument) + " '" + argument->Text + "' and AS argument");
      VerifyDataType(node);
      ApplyBooleanRule(node, convert_booleans);
      return;
    case eoEXTRACTYEAR: case eoEXTRACTMONTH: case eoEXTRACTDAY: case eoEXTRACTDAYOFWEEK:
    case eoEXTRACTHOUR: case eoEXTRACTMINUTE: case eoEXTRACTSECOND:
      if (!IsDateTimeType(argument->DataType))
        Fail("FROM argument of EXTRACT function must be a date, time, or timestamp");
      node->DataType = dtInteger;
      node->SubType = fstNone;
      node->SetDataSize(4);
      node->Scale = 0;
      return;
    case eoABS:
      if (!IsNumericType(argument->DataType))
        Fail("Expression argument of ABS function must be an integer or floating-point type");
      TakeTyping(node, argument);
      return;
    case eoROUND: {
      if (argument->DataType != dtFloat && argument->DataType != dtBCD)
        Fail("Expression argument of ROUND function must be a floating-point type");
      if (TExpToken* decimals = node->Right) {
        if (!IsIntegerConstant(decimals)) Fail("Decimal places argument of ROUND function must be an integer constant");
        std::int32_t places = IntegerValue(decimals);
        if (places < 0 || places > 32)
          Fail("Decimal places argument of ROUND function must be an integer constant between 0 and 32");
      }
      node->DataType = dtFloat;
      node->SubType = fstNone;
      node->SetDataSize(8);
      node->Scale = 0;
      return;
    }
    default:
      return;
  }
}

void Checker::VerifyIf(TExpToken* node) {
  TExpToken* condition = node->Left;
  TExpToken* then_value = node->Right;
  TExpToken* else_value = node->Third;
  if (!condition || !then_value || !else_value)
    FailNamed("At least one of the second and third IF expression arguments in ");
  Verify(condition, node, true);
  if (condition->DataType != dtBoolean) Fail("First expression argument of IF function must be a boolean type");
  Verify(then_value, node, false);
  Verify(else_value, node, false);
  bool then_null = IsConstant(then_value) && then_value->IsNull && !then_value->IsParameter;
  bool else_null = IsConstant(else_value) && else_value->IsNull && !else_value->IsParameter;
  if (then_null && else_null)
    RaiseError(number_, context_, {}, {},
               "At least one of the second and third IF expression arguments in " + std::string(name_) +
                   " must be a non-NULL value");
  if (then_null) TakeTyping(then_value, else_value);
  if (else_null) TakeTyping(else_value, then_value);
  if (then_value->DataType != else_value->DataType || then_value->SubType != else_value->SubType)
    Fail("Type mismatch between second and third IF expression arguments");
  node->DataType = then_value->DataType;
  node->SubType = then_value->SubType;
  node->SetDataSize(std::max(then_value->DataSize, else_value->DataSize));
  node->Scale = std::max(then_value->Scale, else_value->Scale);
}

void Checker::VerifyListValue(TExpToken* node, TExpToken* value) {
  const std::string name = PredicateName(node->Operator);
  TExpToken* left = node->Left;
  if (!value) Fail("Constant expression expected after " + name + " operator, instead found ''");
  if (value->NodeClass == enUNARY && IsConstant(value->Left))
    Verify(value, node, false);
  else
    value->Parent = node;
  if (IsDateTimeType(left->DataType) && IsStringValue(value)) ConvertDateConstant(value, left);
  if (!IsConstant(value) && !(value->NodeClass == enUNARY && IsConstant(value->Left)))
    Fail("Constant expression expected after " + name + " operator, instead found '" + value->Text + "'");
  if (!CheckBinaryTypes(eoEQ, left->DataType, left->SubType, value->DataType, value->SubType))
    Fail("Type mismatch between " + name + " operator and expression '" + value->Text + "'");
}

void Checker::VerifyPredicate(TExpToken* node, bool convert_booleans) {
  const std::uint8_t op = node->Operator;
  const std::string name = PredicateName(op);
  TExpToken* left = node->Left;
  if (!left) Fail("Type mismatch between " + name + " operator and expression ''");
  Verify(left, node, convert_booleans);
  switch (op) {
    case eoLIKE: case eoNOTLIKE: {
      if (!IsStringOrMemo(left)) Fail("Type mismatch between " + name + " operator and expression '" + left->Text + "'");
      TExpToken* pattern = node->Right;
      if (!IsConstant(pattern))
        Fail("Constant expression expected after " + name + " operator, instead found '" +
             (pattern ? pattern->Text : std::string()) + "'");
      pattern->Parent = node;
      if (pattern->DataType != dtString)
        Fail("Type mismatch between " + name + " operator and expression '" + pattern->Text + "'");
      break;
    }
    case eoIN: case eoNOTIN: {
      // The list is walked in a loop: a long list must not deepen the stack.
      for (TExpToken* value = node->Right; value; value = value->Right) VerifyListValue(node, value);
      break;
    }
    case eoSUBIN: case eoNOTSUBIN: {
      TExpToken* sub_select = node->Right;
      if (!sub_select) Fail("Type mismatch between " + name + " operator and expression ''");
      Verify(sub_select, node, convert_booleans);
      if (!CheckBinaryTypes(eoEQ, left->DataType, left->SubType, sub_select->DataType, sub_select->SubType))
        Fail("Type mismatch between " + name + " operator and expression '" + sub_select->Text + "'");
      break;
    }
    case eoBETWEEN: case eoNOTBETWEEN: {
      TExpToken* low = node->Right;
      VerifyListValue(node, low);
      VerifyListValue(node, low->Right);
      break;
    }
    default:
      break;
  }
  node->DataType = dtBoolean;
  node->SubType = fstNone;
  node->SetDataSize(2);
  node->Scale = 0;
}

// An argument that must be an integer constant (a data type's size or scale).
bool IntegerArgument(const TExpToken* node, std::int32_t& value) {
  if (!IsIntegerConstant(node)) return false;
  value = IntegerValue(node);
  return true;
}

void Checker::VerifyDataType(TExpToken* node) {
  TExpToken* first = node->Right;
  TExpToken* second = first ? first->Right : nullptr;
  const TExpToken* cast_argument = node->NodeClass == enFUNC ? node->Left : nullptr;
  std::int32_t value = 0;
  switch (node->DataType) {
    case dtString: case dtBytes: case dtVarBytes: {
      bool text = node->DataType == dtString;
      std::int32_t size;
      if (first) {
        if (!IntegerArgument(first, value)) Fail("Length argument must be an integer");
        if (value < 1 || value > 250)
          Fail("Length argument must be an integer greater than 0 and less than or equal to 250");
        size = text ? value + 1 : value;
      } else {
        size = cast_argument ? cast_argument->DataSize : 10;
        if (!text && (size < 1 || size > 250))
          Fail("Length argument must be an integer greater than 0 and less than or equal to 250");
        // A text cast without a length keeps the argument's size, which
        // always leaves room for the terminator.
        if (text) size = std::clamp(size, 1, kConvertBufferSize);
      }
      node->SetDataSize(size);
      node->Scale = 0;
      return;
    }
    case dtDate: case dtInteger: case dtTime:
      node->SetDataSize(4);
      return;
    case dtBoolean: case dtSmallInt: case dtWord:
      node->SetDataSize(2);
      return;
    case dtTimeStamp:
      node->SetDataSize(8);
      return;
    case dtFloat: case dtBCD:
      node->SetDataSize(8);
      if (second) {
        if (!IntegerArgument(second, value) || value < 0 || value > 255) Fail("Scale argument must be an integer");
        if (node->DataType == dtBCD && value > 4)
          FailNamed("Scale argument must be an integer less than or equal to 4 for the BCD data type ");
        node->Scale = static_cast<std::uint8_t>(value);
      }
      return;
    case dtBlob:
      if (cast_argument) node->SetDataSize(cast_argument->DataSize);
      if (!IntegerArgument(first, value)) Fail("First BLOB type argument must be an integer with the value of 0");
      if (!IntegerArgument(second, value)) Fail("BLOB type argument must be an integer");
      if (value != 1 && value != 2 && value != 3 && value != 5 && value != 7)
        Fail("BLOB type argument must be an integer equal to 1,2,3,5, or 7");
      node->SubType = static_cast<std::uint8_t>(value + 21);
      return;
    default:
      return;
  }
}

}  // namespace

// ---- entry points -------------------------------------------------------------

const char* OperandKind(const TExpToken* node) {
  switch (node->NodeClass) {
    case enFIELD: return "column";
    case enCONST: return "constant";
    case enFUNC: return "function";
    default: return "expression";
  }
}

void VerifyExpressionToken(TEngineErrorCode error_number, std::string_view error_context,
                           std::string_view expression_name, TExpToken* node, TExpToken* parent,
                           void* user_data, TFieldLookup lookup, bool convert_booleans) {
  Checker(error_number, error_context, expression_name, user_data, lookup).Verify(node, parent, convert_booleans);
}

void VerifyDataTypeToken(TEngineErrorCode error_number, std::string_view error_context,
                         std::string_view expression_name, TExpToken* node) {
  Checker(error_number, error_context, expression_name, nullptr, nullptr).VerifyDataType(node);
}

void TransformBooleanExpression(TExpToken* node) {
  ExpTokenGuard copy(GetNewExpTokenInstance());
  ExpTokenGuard truth(GetNewExpTokenInstance());
  copy->Copy(*node);
  copy->Parent = node;
  for (TExpToken* operand : {copy->Left, copy->Right, copy->Third})
    if (operand) operand->Parent = copy.get();

  truth->NodeClass = enCONST;
  truth->Text = "True";
  truth->DataType = dtBoolean;
  truth->SetDataSize(2);
  truth->SetValue<std::uint16_t>(VerifyWordBool(0xFFFF));
  truth->Parent = node;

  node->Text = "=";
  node->NodeClass = enBINARY;
  node->Operator = eoEQ;
  node->DataType = dtBoolean;
  node->SubType = fstNone;
  node->SetDataSize(2);
  node->Scale = 0;
  node->ColumnName.clear();
  node->TableName.clear();
  node->FieldNumber = 0;
  node->ColumnFromConstant = false;
  node->IsNull = false;
  node->ClearValue();
  node->Left = copy.Release();
  node->Right = truth.Release();
  node->Third = nullptr;
}

// ---- type rules -----------------------------------------------------------------------

bool CheckUnaryTypes(std::uint8_t op, std::uint8_t type) {
  switch (op & 0x7F) {
    case eoNOT: case eoISBLANK: case eoNOTBLANK:
      return type == dtBoolean;
    case eoMINUS:
      return type == dtDate || type == dtSmallInt || type == dtInteger || type == dtFloat || type == dtBCD ||
             type == dtTime || type == dtTimeStamp;
    case eoPLUS:
      return CheckUnaryTypes(eoMINUS, type) || type == dtWord;
    default:
      return false;
  }
}

std::uint8_t GetUnaryResultDataType(std::uint8_t op, std::uint8_t type) {
  switch (op & 0x7F) {
    case eoNOT: case eoISBLANK: case eoNOTBLANK: return dtBoolean;
    case eoMINUS: case eoPLUS: return type;
    default: return dtUnknown;
  }
}

std::uint8_t GetUnaryResultSubType(std::uint8_t op, std::uint8_t type, std::uint8_t sub_type) {
  op &= 0x7F;
  return op == eoMINUS || op == eoPLUS ? sub_type : static_cast<std::uint8_t>(fstNone);
}

bool CheckBinaryTypes(std::uint8_t op, std::uint8_t lt, std::uint8_t, std::uint8_t rt, std::uint8_t) {
  switch (op & 0x7F) {
    case eoEQ: case eoNE:
      if (rt == dtUnknown)
        return lt == dtString || lt == dtBlob || lt == dtBoolean || IsNumericType(lt) || IsDateTimeType(lt);
      switch (lt) {
        case dtString: return rt == dtString;
        case dtDate: case dtTimeStamp: return rt == dtDate || rt == dtTimeStamp;
        case dtBoolean: return rt == dtBoolean;
        case dtTime: return rt == dtTime;
        default: return IsNumericType(lt) && IsNumericType(rt);
      }
    case eoGT: case eoLT: case eoGE: case eoLE:
      switch (lt) {
        case dtString: return rt == dtString;
        case dtDate: case dtTimeStamp: return rt == dtDate || rt == dtTimeStamp;
        case dtTime: return rt == dtTime;
        default: return IsNumericType(lt) && IsNumericType(rt);
      }
    case eoAND: case eoOR:
      return lt == dtBoolean && rt == dtBoolean;
    case eoADD:
      if (lt == dtString) return rt == dtString;
      if (lt == dtDate || lt == dtTime || lt == dtTimeStamp) return IsIntegralType(rt);
      if (IsIntegralType(lt)) return IsNumericType(rt) || IsDateTimeType(rt);
      if (lt == dtFloat || lt == dtBCD) return IsNumericType(rt);
      return false;
    case eoSUB:
      if (lt == dtDate) return rt == dtDate || IsIntegralType(rt);
      if (IsNumericType(lt)) return IsNumericType(rt);
      if (lt == dtTime) return rt == dtTime || IsIntegralType(rt);
      if (lt == dtTimeStamp) return IsIntegralType(rt) || IsDateTimeType(rt);
      return false;
    case eoMUL: case eoDIV:
      return IsNumericType(lt) && IsNumericType(rt);
    default:
      return false;
  }
}

std::uint8_t GetBinaryResultDataType(std::uint8_t op, std::uint8_t lt, std::uint8_t rt) {
  const bool li = IsIntegralType(lt), ri = IsIntegralType(rt);
  op &= 0x7F;
  if ((op >= eoEQ && op <= eoLE) || op == eoAND || op == eoOR) return dtBoolean;
  auto numeric = [&]() -> std::uint8_t {
    if (li && rt == dtFloat) return dtFloat;
    if (lt == dtFloat && IsNumericType(rt)) return dtFloat;
    if (lt == dtBCD && rt == dtFloat) return dtFloat;
    if ((li && rt == dtBCD) || (lt == dtBCD && (ri || rt == dtBCD))) return dtBCD;
    return dtUnknown;
  };
  switch (op) {
    case eoADD:
      if (lt == dtString && rt == dtString) return dtString;
      if (IsTextType(lt) && IsTextType(rt)) return dtBlob;
      if ((lt == dtDate && ri) || (li && rt == dtDate)) return dtDate;
      if (li && ri) return dtInteger;
      if ((li && rt == dtTime) || (lt == dtTime && ri)) return dtTime;
      if ((li && rt == dtTimeStamp) || (lt == dtTimeStamp && ri)) return dtTimeStamp;
      return numeric();
    case eoSUB:
      if (lt == dtDate && rt == dtDate) return dtInteger;
      if (lt == dtDate && ri) return dtDate;
      if ((lt == dtSmallInt || lt == dtInteger) && ri) return dtInteger;
      if (lt == dtWord && ri) return dtWord;
      if (lt == dtTime && ri) return dtTime;
      if (lt == dtTime && rt == dtTime) return dtInteger;
      if (lt == dtTimeStamp && ri) return dtTimeStamp;
      if (lt == dtTimeStamp && (rt == dtDate || rt == dtTime)) return dtInteger;
      if (lt == dtTimeStamp && rt == dtTimeStamp) return dtFloat;
      return numeric();
    case eoMUL:
      if (li && ri) return dtInteger;
      return numeric();
    case eoDIV:
      if (li && ri) return dtFloat;
      return numeric();
    default:
      return dtUnknown;
  }
}

std::uint8_t GetBinaryResultSubType(std::uint8_t op, std::uint8_t lt, std::uint8_t lst, std::uint8_t rt,
                                    std::uint8_t rst) {
  switch (op & 0x7F) {
    case eoADD:
      if ((lt == dtString && rt == dtBlob) || lt == dtBlob) return fstMemo;
      [[fallthrough]];
    case eoMUL:
      if (lst == fstNone && rst == fstMoney) return fstMoney;
      if (lst == fstMoney && IsNumericType(rt)) return fstMoney;
      return fstNone;
    case eoSUB: case eoDIV:
      if (lst == fstMoney && IsNumericType(rt)) return fstMoney;
      return fstNone;
    default:
      return fstNone;
  }
}

bool CheckCastTypes(std::uint8_t target, std::uint8_t source) {
  auto any_of = [source](std::initializer_list<std::uint8_t> types) {
    return std::find(types.begin(), types.end(), source) != types.end();
  };
  switch (target) {
    case dtString: case dtBytes: case dtVarBytes:
      return source <= 15 && source != dtBlob;
    case dtDate:
      return any_of({dtString, dtDate, dtBytes, dtTimeStamp, dtVarBytes});
    case dtBlob:
      return source == dtBlob;
    case dtBoolean:
      return any_of({dtString, dtBoolean, dtSmallInt, dtInteger, dtBCD, dtBytes, dtWord, dtVarBytes});
    case dtSmallInt: case dtWord:
      return any_of({dtString, dtBoolean, dtSmallInt, dtInteger, dtFloat, dtBCD, dtBytes, dtWord, dtVarBytes});
    case dtInteger: case dtFloat: case dtBCD:
      return any_of({dtString, dtSmallInt, dtInteger, dtFloat, dtBCD, dtBytes, dtWord, dtVarBytes});
    case dtTime:
      return any_of({dtString, dtBytes, dtTime, dtTimeStamp, dtVarBytes});
    case dtTimeStamp:
      return any_of({dtString, dtDate, dtBytes, dtTime, dtTimeStamp, dtVarBytes});
    default:
      return false;
  }
}

bool VerifyExpression(std::string_view text, std::uint16_t data_type) {
  if (data_type == dtString || IsBytesType(static_cast<std::uint8_t>(data_type)) || text.empty()) return true;
  switch (data_type) {
    case dtBoolean: return IsABoolean(text);
    case dtWord: return IsAWord(text);
    case dtSmallInt: return IsASmallInt(text);
    case dtInteger: return IsAnInteger(text);
    case dtFloat: return IsAFloat(text);
    case dtBCD: return IsABCD(text);
    case dtTimeStamp:
      return rtl::AnsiSameText(text, "NOW") || rtl::AnsiSameText(text, "DATE") || rtl::AnsiSameText(text, "TIME") ||
             IsADate(text) || IsADateTime(text) || IsATime(text);
    case dtTime: return rtl::AnsiSameText(text, "TIME") || IsATime(text);
    case dtDate: return rtl::AnsiSameText(text, "DATE") || IsADate(text);
    default: return true;
  }
}

}  // namespace korvex
