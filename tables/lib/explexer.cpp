#include "tables/lib/explexer.h"

#include "platform/runtime/format_settings.h"
#include "platform/runtime/sysutils.h"
#include "tables/lib/exptoken.h"
#include "tables/lib/names.h"
#include "tables/lib/text_values.h"

namespace korvex {
namespace {

bool IsBlank(char c) {
  auto u = static_cast<unsigned char>(c);
  return u >= 1 && u <= 32;
}

}  // namespace

void TExpressionLexer::SetErrorContext(std::string_view context) { error_context_ = ShortString(context); }

void TExpressionLexer::SetExpressionContext(std::string_view context) {
  expression_context_ = ShortString(context);
}

void TExpressionLexer::SetExpression(std::string_view text) {
  FreeExpression();
  text_ = std::string(text.substr(0, text.find('\0')));
  has_text_ = true;
}

void TExpressionLexer::FreeExpression() {
  text_.clear();
  has_text_ = false;
  scan_ = token_start_ = token_end_ = previous_ = mark_ = 0;
  marked_ = false;
  kind_ = tkEnd;
}

void TExpressionLexer::RaiseMessage(std::string_view message) const {
  RaiseError(error_number_, error_context_, {}, {}, message);
}

void TExpressionLexer::RaiseSyntaxError(std::string_view message) const {
  std::string text(message);
  text += " in ";
  text += expression_context_;
  RaiseMessage(text);
}

void TExpressionLexer::SkipBlanksAndComments() {
  for (;;) {
    while (IsBlank(At(scan_))) ++scan_;
    if (At(scan_) != '/' || At(scan_ + 1) != '*') return;
    std::size_t end = text_.find("*/", scan_ + 2);
    if (end == std::string::npos) RaiseSyntaxError("Missing ending comment slash and asterisk");
    scan_ = end + 2;
  }
}

void TExpressionLexer::ScanNumber(std::size_t pos) {
  const char separator = rtl::FormatSettings().DecimalSeparator;
  kind_ = tkInteger;
  while (IsDigit(At(pos))) ++pos;
  for (;;) {
    char c = At(pos);
    if (c == '\0') break;
    bool sign = c == '+' || c == '-';
    if (sign) {
      char before = At(pos - 1);
      if (before != 'E' && before != 'e') break;
    } else if (!IsDigit(c) && c != separator && c != 'E' && c != 'e') {
      break;
    }
    kind_ = tkNumber;
    ++pos;
  }
  token_end_ = pos;
}

std::uint8_t TExpressionLexer::NextToken() {
  previous_ = scan_;
  SkipBlanksAndComments();
  token_start_ = scan_;
  std::size_t pos = scan_;
  const char c = At(pos);
  const char separator = rtl::FormatSettings().DecimalSeparator;

  if (c != '\0' && IsAlpha(c)) {
    while (At(pos) != '\0' && IsAlphaNumeric(At(pos))) ++pos;
    kind_ = tkSymbol;
    token_end_ = pos;
  } else if (c == '#') {
    ++pos;
    while (IsDigit(At(pos))) ++pos;
    kind_ = tkCharCode;
    token_end_ = pos;
  } else if (c == '\'' || c == '"') {
    ++pos;
    for (;;) {
      if (pos >= text_.size()) {
        token_end_ = text_.size();
        std::string message = c == '\'' ? "Missing single quote after '" : "Missing double quote after '";
        message += TokenText();
        message += "'";
        RaiseSyntaxError(message);
      }
      if (text_[pos] == c) {
        if (At(pos + 1) == c) {
          pos += 2;
          continue;
        }
        ++pos;
        break;
      }
      ++pos;
    }
    kind_ = tkQuoted;
    token_end_ = pos;
  } else if (c == '[') {
    std::size_t close = text_.find(']', pos + 1);
    if (close == std::string::npos) {
      token_end_ = text_.size();
      RaiseSyntaxError("Missing right bracket after '" + std::string(TokenText()) + "'");
    }
    kind_ = tkBracketed;
    token_end_ = close + 1;
  } else if (IsDigit(c)) {
    ScanNumber(pos);
  } else if (c == separator && c != '\0' && IsDigit(At(pos + 1))) {
    ++pos;
    while (IsDigit(At(pos)) || At(pos) == 'E' || At(pos) == 'e' ||
           ((At(pos) == '+' || At(pos) == '-') && (At(pos - 1) == 'E' || At(pos - 1) == 'e')))
      ++pos;
    kind_ = tkNumber;
    token_end_ = pos;
  } else if (c == '\0') {
    kind_ = tkEnd;
    token_end_ = pos;
  } else {
    kind_ = static_cast<std::uint8_t>(c);
    token_end_ = pos + 1;
  }
  scan_ = token_end_;
  return kind_;
}

std::string_view TExpressionLexer::TokenText() const {
  if (token_end_ <= token_start_) return {};
  return std::string_view(text_).substr(token_start_, token_end_ - token_start_);
}

std::string TExpressionLexer::TokenAsString() const {
  std::string_view text = TokenText();
  if ((kind_ == tkQuoted || kind_ == tkBracketed) && text.size() >= 2) text = text.substr(1, text.size() - 2);
  return ConvertDoubleQuotes(text);
}

bool TExpressionLexer::CheckTokenSymbol(std::string_view word) const {
  return kind_ == tkSymbol && rtl::AnsiSameText(TokenText(), word);
}

bool TExpressionLexer::CheckTokenString(std::string_view text) const {
  return kind_ == tkQuoted && rtl::AnsiSameText(TokenAsString(), text);
}

void TExpressionLexer::MarkExpressionLiteral() {
  marked_ = true;
  mark_ = token_start_;
}

std::string TExpressionLexer::ExpressionAsString() const {
  if (!marked_ || previous_ <= mark_) return {};
  return StripCRLFs(std::string_view(text_).substr(mark_, previous_ - mark_));
}

}  // namespace korvex
