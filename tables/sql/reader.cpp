#include "tables/sql/reader.h"

#include "tables/engine/errors/errors.h"
#include "tables/lib/expcheck.h"

namespace korvex {
namespace {

// Sets the parser's context name for one expression and puts the one before
// back after it (none at the top; the enclosing expression's after a
// sub-select, whose own clauses set theirs).
class ExpressionContextScope {
public:
  ExpressionContextScope(TExpressionParser& parser, std::string_view context)
      : parser_(parser), saved_(parser.ExpressionContext()) {
    parser_.SetExpressionContext(context);
  }
  ~ExpressionContextScope() { parser_.SetExpressionContext(saved_); }
  ExpressionContextScope(const ExpressionContextScope&) = delete;
  ExpressionContextScope& operator=(const ExpressionContextScope&) = delete;

private:
  TExpressionParser& parser_;
  std::string saved_;
};

}  // namespace

bool TSqlReader::IsAny(std::initializer_list<std::string_view> words) const {
  for (std::string_view word : words)
    if (Is(word)) return true;
  return false;
}

bool TSqlReader::Accept(std::string_view word) {
  if (!Is(word)) return false;
  Next();
  return true;
}

std::uint8_t TSqlReader::Choice(std::initializer_list<std::string_view> words, std::string_view message) {
  std::uint8_t index = 0;
  for (std::string_view word : words) {
    if (Accept(word)) return index;
    ++index;
  }
  FailFound(message);
}

void TSqlReader::Fail(std::string_view message) const { RaiseError(err::kSqlError, {}, {}, {}, message); }

void TSqlReader::FailFound(std::string_view message) const {
  Fail(std::string(message) + Text() + "'");
}

void TSqlReader::Expect(std::string_view word, std::string_view message) {
  if (!Is(word)) FailFound(message);
  Next();
}

void TSqlReader::ExpectChar(char c, std::string_view message) {
  if (!IsChar(c)) FailFound(message);
  Next();
}

void TSqlReader::ExpectEnd(std::string_view statement) {
  if (IsChar(';')) {
    Next();
    return;
  }
  if (!AtEnd()) FailFound("End of " + std::string(statement) + " statement expected, instead found '");
}

TExpToken* TSqlReader::Expression(int level, TParseOptions options, std::string_view context,
                                  std::string_view empty_message, std::string* text) {
  if (AtStatementEnd()) Fail(empty_message);
  ExpressionContextScope scope(parser_, context);
  parser_.MarkExpressionLiteral();
  TExpToken* tree = level == 8   ? parser_.ParseExpression8(options)
                    : level == 7 ? parser_.ParseExpression7(options)
                                 : parser_.ParseExpression1(options);
  if (text) *text = parser_.ExpressionAsString();
  return tree;
}

void TSqlReader::DataType(TExpToken* node, bool optional, std::string_view context) {
  ExpressionContextScope scope(parser_, context);
  parser_.ParseDataTypeExpression(node, 0, optional);
  if (node->DataType != dtUnknown) VerifyDataTypeToken(parser_.ErrorNumber(), {}, context, node);
}

bool TSqlReader::IntegerConstant(const TExpToken* node, std::int32_t& value) {
  bool negative = false;
  if (node && node->NodeClass == enUNARY && (node->Operator == eoMINUS || node->Operator == eoPLUS)) {
    negative = node->Operator == eoMINUS;
    node = node->Left;
  }
  if (!node || node->NodeClass != enCONST || node->IsParameter || node->DataType != dtInteger) return false;
  std::int64_t magnitude = node->Value<std::int32_t>();
  std::int64_t signed_value = negative ? -magnitude : magnitude;
  if (signed_value < INT32_MIN || signed_value > INT32_MAX) return false;
  value = static_cast<std::int32_t>(signed_value);
  return true;
}

namespace {

std::int32_t ReadInteger(TSqlReader& in, std::string_view context, std::string_view empty_message, bool word) {
  std::string text;
  ExpTokenGuard tree(in.Expression(7, 0, context, empty_message, &text));
  std::int32_t value = 0;
  if (!TSqlReader::IntegerConstant(tree.get(), value) || (word && (value < 0 || value > 0xFFFF)))
    in.Fail(std::string(word ? "Integer constant between 0 and 65535 expected for " : "Integer constant expected for ") +
            std::string(context) + ", instead found '" + text + "'");
  return value;
}

}  // namespace

std::int32_t TSqlReader::IntegerExpression(std::string_view context, std::string_view empty_message) {
  return ReadInteger(*this, context, empty_message, false);
}

std::uint16_t TSqlReader::WordExpression(std::string_view context, std::string_view empty_message) {
  return static_cast<std::uint16_t>(ReadInteger(*this, context, empty_message, true));
}

std::string TSqlReader::OptionValue() {
  std::string value = Text();
  if ((IsChar('-') || IsChar('+'))) {
    Next();
    if (parser_.TokenKind() == tkInteger || parser_.TokenKind() == tkNumber) {
      value += parser_.TokenText();
    } else {
      return value;  // the sign alone; the token after it is not part of the value
    }
  }
  Next();
  return value;
}

}  // namespace korvex
