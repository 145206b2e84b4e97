#include "tables/lib/expparser.h"

#include <vector>

#include "platform/runtime/dates.h"
#include "platform/runtime/sysutils.h"
#include "tables/lib/names.h"

namespace korvex {
namespace {

constexpr int kMaxNesting = 200;  // parentheses and function calls inside each other

struct FunctionName {
  const char* name;
  std::uint8_t op;
};

constexpr FunctionName kAggregates[] = {
    {"SUM", eoSUM}, {"AVG", eoAVG}, {"MIN", eoMIN}, {"MAX", eoMAX}, {"COUNT", eoCOUNT}};

constexpr FunctionName kExtractParts[] = {
    {"YEAR", eoEXTRACTYEAR},   {"MONTH", eoEXTRACTMONTH},   {"DAY", eoEXTRACTDAY},
    {"DAYOFWEEK", eoEXTRACTDAYOFWEEK}, {"HOUR", eoEXTRACTHOUR}, {"MINUTE", eoEXTRACTMINUTE},
    {"SECOND", eoEXTRACTSECOND}};

constexpr FunctionName kTrimKinds[] = {
    {"LEADING", eoTRIMLEADING}, {"TRAILING", eoTRIMTRAILING}, {"BOTH", eoTRIMBOTH}};

}  // namespace

// Counts the grammar's recursion so that deeply nested text fails cleanly
// instead of exhausting the stack.
class TExpressionParser::DepthScope {
public:
  explicit DepthScope(TExpressionParser& parser) : parser_(parser) {
    if (++parser_.nesting_ > kMaxNesting) {
      --parser_.nesting_;
      parser_.RaiseSyntaxError("Expression nested too deeply");
    }
  }
  ~DepthScope() { --parser_.nesting_; }

private:
  TExpressionParser& parser_;
};

// ---- public entry points -----------------------------------------------------

template <typename Level>
TExpToken* TExpressionParser::ParseGuarded(Level level, TParseOptions options) {
  // Parameters registered by this call (not by nested calls that succeeded
  // inside it, whose trees belong to their sub-select queries).
  std::vector<TExpToken*> params;
  std::vector<TExpToken*>* outer = active_params_;
  active_params_ = &params;
  try {
    ExpTokenGuard tree((this->*level)(options));
    if (ExpressionDepth(tree.get()) > kMaxExpressionDepth) RaiseSyntaxError("Expression nested too deeply");
    active_params_ = outer;
    return tree.Release();
  } catch (...) {
    active_params_ = outer;
    if (owner_)
      for (TExpToken* param : params) owner_->RemoveParameter(param);
    throw;
  }
}

TExpToken* TExpressionParser::ParseExpression1(TParseOptions options) {
  if (TokenKind() == tkEnd) return nullptr;
  return ParseGuarded(&TExpressionParser::Level1, options);
}
TExpToken* TExpressionParser::ParseExpression2(TParseOptions options) {
  return ParseGuarded(&TExpressionParser::Level2, options);
}
TExpToken* TExpressionParser::ParseExpression3(TParseOptions options) {
  return ParseGuarded(&TExpressionParser::Level3, options);
}
TExpToken* TExpressionParser::ParseExpression4(TParseOptions options) {
  return ParseGuarded(&TExpressionParser::Level4, options);
}
TExpToken* TExpressionParser::ParseExpression5(TParseOptions options) {
  return ParseGuarded(&TExpressionParser::Level5, options);
}
TExpToken* TExpressionParser::ParseExpression6(TParseOptions options) {
  return ParseGuarded(&TExpressionParser::Level6, options);
}
TExpToken* TExpressionParser::ParseExpression7(TParseOptions options) {
  return ParseGuarded(&TExpressionParser::Level7, options);
}
TExpToken* TExpressionParser::ParseExpression8(TParseOptions options) {
  return ParseGuarded(&TExpressionParser::Level8, options);
}

void TExpressionParser::ExpectEndOfText() const {
  if (TokenKind() != tkEnd) RaiseUnexpected();
}

TExpToken* TExpressionParser::ParseFilter(std::string_view text, TParseOptions options) {
  SetExpression(text);
  NextToken();
  ExpTokenGuard tree(ParseExpression1(options));
  ExpectEndOfText();
  return tree.Release();
}

// ---- helpers -----------------------------------------------------------------

TExpToken* TExpressionParser::NewNode(std::uint8_t node_class, std::uint8_t op, std::string_view text) const {
  TExpToken* node = GetNewExpTokenInstance();
  node->NodeClass = node_class;
  node->Operator = op;
  node->Text = std::string(text);
  node->DataType = dtBoolean;
  return node;
}

void TExpressionParser::Chain(TExpToken* argument, TExpToken* next, std::string_view message) const {
  if (argument->Right) {
    // The argument uses its Right link itself (a binary node): chaining
    // would overwrite its operand.
    FreeExpressionTokens(next);
    RaiseMessage(std::string(message) + " " + ExpressionContext());
  }
  argument->Right = next;
}

void TExpressionParser::RaiseFound(std::string_view message) const {
  RaiseSyntaxError(std::string(message) + TokenAsString() + "'");
}

void TExpressionParser::RaiseUnexpected() const {
  RaiseSyntaxError("Unknown or unexpected symbol '" + TokenAsString() + "' found");
}

void TExpressionParser::Expect(char c, std::string_view message) {
  if (!CheckToken(static_cast<std::uint8_t>(c))) RaiseFound(message);
  NextToken();
}

void TExpressionParser::ExpectSymbol(std::string_view word, std::string_view message) {
  if (!CheckTokenSymbol(word)) RaiseFound(message);
  NextToken();
}

// ---- levels 1 to 7 -----------------------------------------------------------------

TExpToken* TExpressionParser::Level1(TParseOptions options) {
  ExpTokenGuard left(Level2(options));
  while (CheckTokenSymbol("OR")) {
    ExpTokenGuard node(NewNode(enBINARY, eoOR, TokenText()));
    NextToken();
    node->Left = left.Release();
    node->Right = Level2(options);
    left.Reset(node.Release());
  }
  return left.Release();
}

TExpToken* TExpressionParser::Level2(TParseOptions options) {
  ExpTokenGuard left(Level3(options));
  while (CheckTokenSymbol("AND")) {
    ExpTokenGuard node(NewNode(enBINARY, eoAND, TokenText()));
    NextToken();
    node->Left = left.Release();
    node->Right = Level3(options);
    left.Reset(node.Release());
  }
  return left.Release();
}

TExpToken* TExpressionParser::Level3(TParseOptions options) {
  if (!CheckTokenSymbol("NOT")) return Level4(options);
  ExpTokenGuard node(NewNode(enUNARY, eoNOT, TokenText()));
  NextToken();
  node->Left = Level4(options);
  return node.Release();
}

TExpToken* TExpressionParser::Level4(TParseOptions options) {
  ExpTokenGuard left(Level5(options));
  std::uint8_t op = eoNOTDEFINED;
  std::string text;
  if (CheckToken('=')) {
    op = eoEQ;
    text = "=";
    NextToken();
  } else if (CheckToken('<')) {
    NextToken();
    if (CheckToken('>')) {
      op = eoNE;
      text = "<>";
      NextToken();
    } else if (CheckToken('=')) {
      op = eoLE;
      text = "<=";
      NextToken();
    } else {
      op = eoLT;
      text = "<";
    }
  } else if (CheckToken('>')) {
    NextToken();
    if (CheckToken('=')) {
      op = eoGE;
      text = ">=";
      NextToken();
    } else {
      op = eoGT;
      text = ">";
    }
  }
  if (op != eoNOTDEFINED) {
    ExpTokenGuard node(NewNode(enBINARY, op, text));
    node->Left = left.Release();
    node->Right = Level5(options);
    return node.Release();
  }
  if (CheckTokenSymbol("NOT") || CheckTokenSymbol("LIKE") || CheckTokenSymbol("BETWEEN") ||
      CheckTokenSymbol("IN") || CheckTokenSymbol("IS")) {
    if (!(options & pmAllowExtPredicates))
      RaiseSyntaxError("Extended predicate operators (LIKE, BETWEEN, IN, IS NULL) are not allowed");
    return ParsePredicate(left.Release(), options);
  }
  return left.Release();
}

TExpToken* TExpressionParser::ParsePredicate(TExpToken* tested, TParseOptions options) {
  ExpTokenGuard left(tested);
  if (CheckTokenSymbol("IS")) {
    NextToken();
    bool negated = CheckTokenSymbol("NOT");
    if (negated) NextToken();
    if (!CheckTokenSymbol("NULL")) RaiseUnexpected();
    ExpTokenGuard null_constant(NewNode(enCONST, eoNOTDEFINED, TokenText()));
    null_constant->IsNull = true;
    null_constant->DataType = dtUnknown;
    NextToken();
    ExpTokenGuard node(NewNode(enBINARY, negated ? eoNE : eoEQ, negated ? "IS NOT NULL" : "IS NULL"));
    node->Left = left.Release();
    node->Right = null_constant.Release();
    return node.Release();
  }

  bool negated = CheckTokenSymbol("NOT");
  if (negated) {
    NextToken();
    if (!CheckTokenSymbol("LIKE") && !CheckTokenSymbol("BETWEEN") && !CheckTokenSymbol("IN"))
      RaiseSyntaxError("Unknown or unexpected symbol '" + TokenAsString() + "'");
  }
  std::string keyword = rtl::UpperCase(TokenText());
  std::string text = negated ? "NOT " + keyword : keyword;
  NextToken();

  if (keyword == "LIKE") {
    ExpTokenGuard node(NewNode(enEXTBINARY, negated ? eoNOTLIKE : eoLIKE, text));
    node->Left = left.Release();
    node->Right = Level5(options);
    return node.Release();
  }
  if (keyword == "BETWEEN") {
    ExpTokenGuard node(NewNode(enEXTBINARY, negated ? eoNOTBETWEEN : eoBETWEEN, text));
    node->Left = left.Release();
    node->Right = Level5(options);
    if (!CheckTokenSymbol("AND")) RaiseFound("Expected AND operator in BETWEEN operator, instead found '");
    NextToken();
    std::string message = "Constant expression expected after " + text + " operator, instead found '" +
                          node->Right->Text + "' in";
    Chain(node->Right, Level5(options), message);
    return node.Release();
  }
  return ParseIn(left.Release(), negated, options);
}

TExpToken* TExpressionParser::ParseIn(TExpToken* tested, bool negated, TParseOptions options) {
  ExpTokenGuard node(NewNode(enEXTBINARY, negated ? eoNOTIN : eoIN, negated ? "NOT IN" : "IN"));
  node->Left = tested;
  Expect('(', negated ? "Expected left parentheses for IN operator, instead found '"
                      : "Expected left parentheses after IN operator, instead found '");
  if (CheckTokenSymbol("SELECT")) {
    if (!(options & pmAllowSubSelects) || !owner_) RaiseSyntaxError("Sub-select queries are not allowed");
    node->Operator = negated ? eoNOTSUBIN : eoSUBIN;
    node->Right = NewNode(enTUPLE, eoNOTDEFINED, "SELECT");
    node->Right->DataType = dtUnknown;
    TSubSelectQuery* query = owner_->NewSubSelectQuery();
    node->Right->SubQuery = query;
    query->ParseQuery(true);
  } else {
    if (CheckToken(')'))
      RaiseSyntaxError("You must provide at least one value as an operand of the IN operator ");
    node->Right = Level5(options);
    TExpToken* last = node->Right;
    while (CheckToken(',')) {
      NextToken();
      std::string message =
          "Constant expression expected after " + node->Text + " operator, instead found '" + last->Text + "' in";
      TExpToken* value = Level5(options);
      Chain(last, value, message);
      last = value;
    }
  }
  Expect(')', "Expected right parentheses after IN operator, instead found '");
  return node.Release();
}

TExpToken* TExpressionParser::Level5(TParseOptions options) {
  ExpTokenGuard left(Level6(options));
  for (;;) {
    std::uint8_t op;
    std::string text;
    if (CheckToken('+')) {
      op = eoADD;
      text = "+";
    } else if (CheckToken('-')) {
      op = eoSUB;
      text = "-";
    } else if (CheckToken('|')) {
      NextToken();
      if (!CheckToken('|'))
        RaiseFound(
            "Second concatenation symbol '|' expected after first concatentation symbol, instead found '");
      op = eoADD;
      text = "||";
    } else {
      return left.Release();
    }
    NextToken();
    ExpTokenGuard node(NewNode(enBINARY, op, text));
    node->DataType = left->DataType;
    node->Left = left.Release();
    node->Right = Level6(options);
    left.Reset(node.Release());
  }
}

TExpToken* TExpressionParser::Level6(TParseOptions options) {
  ExpTokenGuard left(Level7(options));
  while (CheckToken('*') || CheckToken('/')) {
    ExpTokenGuard node(NewNode(enBINARY, CheckToken('*') ? eoMUL : eoDIV, TokenText()));
    NextToken();
    node->DataType = left->DataType;
    node->Left = left.Release();
    node->Right = Level7(options);
    left.Reset(node.Release());
  }
  return left.Release();
}

TExpToken* TExpressionParser::Level7(TParseOptions options) {
  if (!CheckToken('+') && !CheckToken('-')) return Level8(options);
  ExpTokenGuard node(NewNode(enUNARY, CheckToken('+') ? eoPLUS : eoMINUS, TokenText()));
  NextToken();
  node->Left = Level8(options);
  node->DataType = node->Left->DataType;
  return node.Release();
}

// ---- level 8: primaries ----------------------------------------------------------------

TExpToken* TExpressionParser::Level8(TParseOptions options) {
  DepthScope depth(*this);
  switch (TokenKind()) {
    case tkInteger:
    case tkNumber:
      return ParseNumber();
    case tkCharCode:
      return ParseCharCode();
    case tkQuoted:
      return ParseString(options);
    case tkBracketed:
      return ParseColumn(options);
    case '(': {
      NextToken();
      ExpTokenGuard inner(Level1(options));
      Expect(')', "Right parentheses expected, instead found '");
      return inner.Release();
    }
    case '*': {
      if (!(options & pmAllowAllFields)) RaiseSyntaxError("* (all columns) symbol is not allowed");
      ExpTokenGuard node(NewNode(enFIELD, eoNOTDEFINED, "*"));
      node->ColumnName = "*";
      node->DataType = dtUnknown;
      NextToken();
      return node.Release();
    }
    case '?':
      return ParseParameter(options);
    case tkSymbol:
      break;
    default:
      RaiseUnexpected();
  }

  // Keyword constants.
  if (CheckTokenSymbol("TRUE") || CheckTokenSymbol("FALSE")) {
    ExpTokenGuard node(NewNode(enCONST, eoNOTDEFINED, TokenText()));
    node->SetDataSize(2);
    node->SetValue<std::uint16_t>(CheckTokenSymbol("TRUE") ? 1 : 0);
    NextToken();
    return node.Release();
  }
  if (CheckTokenSymbol("NULL")) {
    ExpTokenGuard node(NewNode(enCONST, eoNOTDEFINED, TokenText()));
    node->IsNull = true;
    node->DataType = dtUnknown;
    NextToken();
    return node.Release();
  }
  if (CheckTokenSymbol("CURRENT_DATE") || CheckTokenSymbol("CURRENT_TIME") ||
      CheckTokenSymbol("CURRENT_TIMESTAMP")) {
    rtl::TTimeStamp now = rtl::DateTimeToTimeStamp(rtl::Now());
    ExpTokenGuard node(NewNode(enCONST, eoNOTDEFINED, TokenText()));
    if (CheckTokenSymbol("CURRENT_DATE")) {
      node->DataType = dtDate;
      node->SetDataSize(4);
      node->SetValue<std::int32_t>(now.Date);
    } else if (CheckTokenSymbol("CURRENT_TIME")) {
      node->DataType = dtTime;
      node->SetDataSize(4);
      node->SetValue<std::int32_t>(now.Time);
    } else {
      node->DataType = dtTimeStamp;
      node->SetDataSize(8);
      node->SetValue<double>(rtl::TimeStampToMSecs(now));
    }
    NextToken();
    return node.Release();
  }
  for (const FunctionName& aggregate : kAggregates)
    if (CheckTokenSymbol(aggregate.name)) return ParseAggregate(aggregate.op, options);
  // The grammar's own words are no column names ("NOT NOT a" fails at the
  // second NOT).
  for (const char* word : {"NOT", "AND", "OR", "LIKE", "BETWEEN", "IN", "IS"})
    if (CheckTokenSymbol(word)) RaiseUnexpected();
  if (TExpToken* function = ParseFunction(options)) return function;
  return ParseColumn(options);
}

TExpToken* TExpressionParser::ParseNumber() {
  std::string text(TokenText());
  ExpTokenGuard node(NewNode(enCONST, eoNOTDEFINED, text));
  std::int32_t integer;
  double number;
  if (TokenKind() == tkInteger && rtl::TryStrToInt(text, integer)) {
    node->DataType = dtInteger;
    node->SetDataSize(4);
    node->SetValue(integer);
  } else if (rtl::TryStrToFloat(text, number)) {
    node->DataType = dtFloat;
    node->SetDataSize(8);
    node->SetValue(number);
  } else {
    RaiseSyntaxError("Constant '" + text + "' is not a valid number ");
  }
  NextToken();
  return node.Release();
}

TExpToken* TExpressionParser::ParseCharCode() {
  std::string_view digits = TokenText().substr(1);
  std::int32_t code = -1;
  if (digits.empty() || digits.size() > 3 || !rtl::TryStrToInt(digits, code) || code < 0 || code > 255)
    RaiseSyntaxError("Character constants (#) must be within the range of 0 to 255");
  ExpTokenGuard node(NewNode(enCONST, eoNOTDEFINED, TokenText()));
  node->DataType = dtString;
  node->SetDataSize(2);
  node->ValueBuffer[0] = static_cast<std::uint8_t>(code);
  node->ValueBuffer[1] = 0;
  NextToken();
  return node.Release();
}

TExpToken* TExpressionParser::ParseString(TParseOptions options) {
  std::string text = TokenAsString();
  NextToken();
  if (CheckToken('.')) return ParseQualifiedColumn(text, options);
  ExpTokenGuard node(NewNode(enCONST, eoNOTDEFINED, text));
  node->DataType = dtString;
  node->SetStringValue(text);
  node->IsNull = text.empty();
  return node.Release();
}

TExpToken* TExpressionParser::ParseColumn(TParseOptions options) {
  bool symbol = TokenKind() == tkSymbol;
  std::string name = TokenAsString();
  NextToken();
  if (symbol && CheckToken('(')) RaiseSyntaxError("Unknown or unexpected function '" + name + "' found");
  if (CheckToken('.')) return ParseQualifiedColumn(name, options);
  ExpTokenGuard node(NewNode(enFIELD, eoNOTDEFINED, name));
  node->DataType = dtUnknown;
  node->ColumnName = ShortString(name);
  return node.Release();
}

TExpToken* TExpressionParser::ParseQualifiedColumn(const std::string& qualifier, TParseOptions options) {
  NextToken();  // past '.'
  std::string name;
  if (CheckToken('*')) {
    if (!(options & pmAllowAllFields)) RaiseSyntaxError("* (all columns) symbol is not allowed");
    name = "*";
  } else if (TokenKind() == tkQuoted || TokenKind() == tkSymbol || TokenKind() == tkBracketed) {
    name = TokenAsString();
  } else {
    RaiseFound("Symbol or string expression expected after table correlation name separator '.', instead found '");
  }
  ExpTokenGuard node(NewNode(enFIELD, eoNOTDEFINED, qualifier + "." + name));
  node->DataType = dtUnknown;
  node->ColumnName = ShortString(name);
  node->TableName = ShortString(StripFilePathAndExtension(qualifier));
  NextToken();
  return node.Release();
}

TExpToken* TExpressionParser::ParseParameter(TParseOptions options) {
  if (!(options & pmAllowParameters)) RaiseSyntaxError("Parameters are not allowed");
  ExpTokenGuard node(NewNode(enCONST, eoNOTDEFINED, "?"));
  node->IsParameter = true;
  node->DataType = dtUnknown;
  NextToken();
  if (owner_) {
    owner_->AddParameter(node.get());
    if (active_params_) active_params_->push_back(node.get());
  }
  return node.Release();
}

TExpToken* TExpressionParser::ParseOneArgument(std::uint8_t op, std::uint8_t type, bool copy_type,
                                               std::string_view left_paren_message, TParseOptions options) {
  std::string name = rtl::UpperCase(TokenText());
  ExpTokenGuard node(NewNode(enFUNC, op, TokenText()));
  node->DataType = type;
  NextToken();
  Expect('(', left_paren_message);
  node->Left = Level5(options);
  Expect(')', "Right parentheses expected after " + name + " function argument, instead found '");
  if (copy_type) {
    node->DataType = node->Left->DataType;
    node->SubType = node->Left->SubType;
    node->SetDataSize(node->Left->DataSize);
  }
  return node.Release();
}

TExpToken* TExpressionParser::ParseAggregate(std::uint8_t op, TParseOptions options) {
  if (!(options & pmAllowAggregates)) RaiseSyntaxError("Aggregate functions are not allowed");
  std::string name = rtl::UpperCase(TokenText());
  return ParseOneArgument(op, dtBoolean, false,
                          "Left parentheses expected after " + name + " keyword, instead found '", options);
}

TExpToken* TExpressionParser::ParseFunction(TParseOptions options) {
  if (CheckTokenSymbol("UPPER"))
    return ParseOneArgument(eoUPPER, dtString, false, "Left parentheses expectedafter UPPER keyword, instead found '",
                            options);
  if (CheckTokenSymbol("LOWER"))
    return ParseOneArgument(eoLOWER, dtString, false, "Left parentheses expectedafter LOWER keyword, instead found '",
                            options);
  if (CheckTokenSymbol("ABS"))
    return ParseOneArgument(eoABS, dtUnknown, true, "Left parentheses expectedafter ABS keyword, instead found '",
                            options);
  if (CheckTokenSymbol("SUBSTRING")) return ParseSubstring(options);
  if (CheckTokenSymbol("REPLACE")) return ParseReplace(options);
  if (CheckTokenSymbol("POS")) return ParsePosOrOccurs(eoPOS, options);
  if (CheckTokenSymbol("OCCURS")) return ParsePosOrOccurs(eoOCCURS, options);
  if (CheckTokenSymbol("CAST")) return ParseCast(options);
  if (CheckTokenSymbol("TRIM")) return ParseTrim(options);
  if (CheckTokenSymbol("EXTRACT")) return ParseExtract(options);
  if (CheckTokenSymbol("ROUND")) return ParseRound(options);
  if (CheckTokenSymbol("IF")) return ParseIf(options);
  return nullptr;
}

TExpToken* TExpressionParser::ParseSubstring(TParseOptions options) {
  ExpTokenGuard node(NewNode(enFUNC, eoSUBSTRING, TokenText()));
  node->DataType = dtString;
  NextToken();
  Expect('(', "Left parentheses expected after SUBSTRING keyword, instead found '");
  node->Left = Level5(options);
  ExpectSymbol("FROM", "FROM keyword expected after first SUBSTRING function argument, instead found '");
  node->Right = Level8(options);
  if (CheckTokenSymbol("FOR")) {
    NextToken();
    Chain(node->Right, Level8(options), "FROM argument of SUBSTRING function must be an integer constant in");
  }
  Expect(')', "Right parentheses expected after SUBSTRING function arguments, instead found '");
  return node.Release();
}

TExpToken* TExpressionParser::ParseReplace(TParseOptions options) {
  ExpTokenGuard node(NewNode(enFUNC, eoREPLACE, TokenText()));
  node->DataType = dtString;
  NextToken();
  Expect('(', "Left parentheses expected after REPLACE keyword, instead found '");
  node->Right = Level5(options);  // the text to find
  ExpectSymbol("WITH", "WITH keyword expected after first REPLACE function argument, instead found '");
  Chain(node->Right, Level5(options), "Search argument of REPLACE function must be a string constant in");
  ExpectSymbol("IN", "IN keyword expected after second REPLACE function argument, instead found '");
  node->Left = Level8(options);  // the searched text
  Expect(')', "Right parentheses expected after REPLACE function arguments, instead found '");
  return node.Release();
}

TExpToken* TExpressionParser::ParsePosOrOccurs(std::uint8_t op, TParseOptions options) {
  std::string name = op == eoPOS ? "POS" : "OCCURS";
  ExpTokenGuard node(NewNode(enFUNC, op, TokenText()));
  node->DataType = dtInteger;
  NextToken();
  Expect('(', "Left parentheses expected after " + name + " keyword, instead found '");
  node->Right = Level5(options);  // the text to find
  ExpectSymbol("IN", "IN keyword expected after first " + name + " function argument, instead found '");
  node->Left = Level8(options);
  Expect(')', "Right parentheses expected after " + name + " function arguments, instead found '");
  return node.Release();
}

TExpToken* TExpressionParser::ParseCast(TParseOptions options) {
  ExpTokenGuard node(NewNode(enFUNC, eoCAST, TokenText()));
  NextToken();
  Expect('(', "Left parentheses expected after CAST keyword, instead found '");
  node->Left = Level1(options);
  ExpectSymbol("AS", "AS keyword expected after first CAST function argument, instead found '");
  ParseDataTypeExpression(node.get(), options, false);
  Expect(')', "Right parentheses expected after CAST function arguments, instead found '");
  return node.Release();
}

TExpToken* TExpressionParser::ParseTrim(TParseOptions options) {
  ExpTokenGuard node(NewNode(enFUNC, eoTRIMBOTH, TokenText()));
  node->DataType = dtString;
  NextToken();
  Expect('(', "Left parentheses expected after TRIM keyword, instead found '");
  std::uint8_t op = eoNOTDEFINED;
  for (const FunctionName& kind : kTrimKinds)
    if (CheckTokenSymbol(kind.name)) op = kind.op;
  if (op == eoNOTDEFINED) RaiseFound("LEADING, TRAILING, or BOTH keyword expected after TRIM keyword, instead found '");
  node->Operator = op;
  NextToken();
  node->Right = Level8(options);  // the trim character
  ExpectSymbol("FROM", "FROM keyword expected after first TRIM function argument, instead found '");
  node->Left = Level5(options);
  Expect(')', "Right parentheses expected after TRIM function arguments, instead found '");
  return node.Release();
}

TExpToken* TExpressionParser::ParseExtract(TParseOptions options) {
  ExpTokenGuard node(NewNode(enFUNC, eoEXTRACTYEAR, TokenText()));
  node->DataType = dtInteger;
  NextToken();
  Expect('(', "Left parentheses expected after EXTRACT keyword, instead found '");
  std::uint8_t op = eoNOTDEFINED;
  for (const FunctionName& part : kExtractParts)
    if (CheckTokenSymbol(part.name)) op = part.op;
  if (op == eoNOTDEFINED)
    RaiseFound(
        "YEAR, MONTH, DAY, DAYOFWEEK, HOUR, MINUTE, or SECOND keyword expected after EXTRACT keyword, instead found '");
  node->Operator = op;
  NextToken();
  ExpectSymbol("FROM", "FROM keyword expected after first EXTRACT function argument, instead found '");
  node->Left = Level8(options);
  Expect(')', "Right parentheses expected after EXTRACT function arguments, instead found '");
  return node.Release();
}

TExpToken* TExpressionParser::ParseRound(TParseOptions options) {
  ExpTokenGuard node(NewNode(enFUNC, eoROUND, TokenText()));
  node->DataType = dtFloat;
  NextToken();
  Expect('(', "Left parentheses expectedafter ROUND keyword, instead found '");
  node->Left = Level5(options);
  if (CheckTokenSymbol("TO")) {
    NextToken();
    node->Right = Level5(options);
  }
  Expect(')', "Right parentheses expected after ROUND function arguments, instead found '");
  return node.Release();
}

TExpToken* TExpressionParser::ParseIf(TParseOptions options) {
  ExpTokenGuard node(NewNode(enFUNC, eoIF, TokenText()));
  NextToken();
  Expect('(', "Left parentheses expectedafter IF keyword, instead found '");
  node->Left = Level1(options);
  ExpectSymbol("THEN", "THEN keyword expected after first IF function argument, instead found '");
  node->Right = Level5(options);
  ExpectSymbol("ELSE", "ELSE keyword expected after second IF function argument, instead found '");
  node->Third = Level5(options);
  Expect(')', "Right parentheses expected after IF function arguments, instead found '");
  return node.Release();
}

// ---- data types -----------------------------------------------------------------------

namespace {

enum ArgumentForm { kNoArguments, kOptionalOneOrTwo, kRequiredOne, kOptionalOne, kRequiredTwo };

struct DataTypeWord {
  const char* word;
  const char* name;  // in messages
  std::uint8_t type;
  std::uint8_t sub_type;
  ArgumentForm arguments;
  const char* first_message;  // a first argument that is not a single value
};

constexpr DataTypeWord kDataTypes[] = {
    {"SMALLINT", "SMALLINT", dtSmallInt, fstNone, kNoArguments, ""},
    {"WORD", "WORD", dtWord, fstNone, kNoArguments, ""},
    {"INTEGER", "INTEGER", dtInteger, fstNone, kNoArguments, ""},
    {"INT", "INT", dtInteger, fstNone, kNoArguments, ""},
    {"AUTOINC", "AUTOINC", dtInteger, fstAutoInc, kNoArguments, ""},
    {"DECIMAL", "DECIMAL", dtBCD, fstNone, kOptionalOneOrTwo, "Precision argument must be an integer in"},
    {"NUMERIC", "NUMERIC", dtBCD, fstNone, kOptionalOneOrTwo, "Precision argument must be an integer in"},
    {"FLOAT", "FLOAT", dtFloat, fstNone, kOptionalOneOrTwo, "Precision argument must be an integer in"},
    {"MONEY", "MONEY", dtFloat, fstMoney, kNoArguments, ""},
    {"CHARACTER", "CHARACTER or CHAR", dtString, fstNone, kRequiredOne, ""},
    {"CHAR", "CHARACTER or CHAR", dtString, fstNone, kRequiredOne, ""},
    {"VARCHAR", "VARCHAR", dtString, fstNone, kRequiredOne, ""},
    {"DATE", "DATE", dtDate, fstNone, kNoArguments, ""},
    {"TIME", "TIME", dtTime, fstNone, kNoArguments, ""},
    {"TIMESTAMP", "TIMESTAMP", dtTimeStamp, fstNone, kNoArguments, ""},
    {"BOOLEAN", "BOOLEAN", dtBoolean, fstNone, kNoArguments, ""},
    {"BYTES", "BYTES", dtBytes, fstNone, kOptionalOne, ""},
    {"BLOB", "BLOB", dtBlob, fstNone, kRequiredTwo,
     "First BLOB type argument must be an integer with the value of 0 in"},
};

}  // namespace

void TExpressionParser::ParseDataTypeExpression(TExpToken* node, TParseOptions options, bool quiet) {
  const DataTypeWord* found = nullptr;
  if (TokenKind() == tkSymbol)
    for (const DataTypeWord& word : kDataTypes)
      if (CheckTokenSymbol(word.word)) found = &word;
  if (!found) {
    if (quiet) return;
    RaiseFound("SQL data type keyword expected, instead found '");
  }
  node->DataType = found->type;
  node->SubType = found->sub_type;
  NextToken();
  if (found->arguments == kNoArguments) return;

  const std::string name = found->name;
  bool required = found->arguments == kRequiredOne || found->arguments == kRequiredTwo;
  bool two = found->arguments == kOptionalOneOrTwo || found->arguments == kRequiredTwo;
  if (!CheckToken('(')) {
    if (required) RaiseFound("Left parentheses expected after " + name + " data type, instead found '");
    return;
  }
  NextToken();
  // The arguments hang from the node's Right link; a CAST node keeps its
  // value in Left.
  FreeExpressionTokens(node->Right);
  node->Right = Level8(options);
  if (two) {
    if (CheckToken(',')) {
      NextToken();
      Chain(node->Right, Level8(options), found->first_message);
    } else if (found->arguments == kRequiredTwo || !CheckToken(')')) {
      RaiseFound("Comma expected after first " + name + " argument, instead found '");
    }
  }
  Expect(')', "Right parentheses expected after " + name + (two ? " data type arguments" : " data type argument") +
                  ", instead found '");
}

}  // namespace korvex
