// The lexer of filter and SQL expressions.
//
// Token kinds (TokenKind()):
//   0  end of text
//   1  symbol: a letter, '_' or a byte 129..254, then those or digits
//   2  bracketed name "[...]" (no escape; ends at the first ']')
//   3  quoted string '...' or "..."; the quote doubled stands for itself
//   4  character code: '#' and digits
//   5  integer: digits
//   6  number with a decimal separator (of the language settings in force)
//      or an exponent: 1.5, .5, 1E5, 1.5E+3
//   any other: one character, its code being the kind ('(' 40, '=' 61, ...)
// Blanks (bytes 1 to 32) and comments "/* ... */" are skipped.
//
// Every error is raised through RaiseError with the error number the caller
// chose, the error context as first context text and the message as the
// fourth; every message ends in " in " and the expression context.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "tables/engine/errors/errors.h"

namespace korvex {

enum TTokenKind : std::uint8_t {
  tkEnd = 0,
  tkSymbol = 1,
  tkBracketed = 2,
  tkQuoted = 3,
  tkCharCode = 4,
  tkInteger = 5,
  tkNumber = 6,
};

class TExpressionLexer {
public:
  TExpressionLexer() = default;
  virtual ~TExpressionLexer() = default;
  TExpressionLexer(const TExpressionLexer&) = delete;
  TExpressionLexer& operator=(const TExpressionLexer&) = delete;

  // The engine error number of every syntax error, the first context text
  // (the table name of a filter) and the name written after " in ".
  void SetErrorNumber(TEngineErrorCode number) { error_number_ = number; }
  TEngineErrorCode ErrorNumber() const { return error_number_; }
  void SetErrorContext(std::string_view context);
  const std::string& ErrorContext() const { return error_context_; }
  void SetExpressionContext(std::string_view context);
  const std::string& ExpressionContext() const { return expression_context_; }

  // A copy of the text up to its first zero byte; positions at its start,
  // no current token yet (kind 0).
  void SetExpression(std::string_view text);
  void FreeExpression();
  bool HasExpression() const { return has_text_; }
  // Bytes of the text with its terminating zero; 0 without a text.
  std::int32_t TextLength() const { return has_text_ ? static_cast<std::int32_t>(text_.size() + 1) : 0; }

  // Reads the next token and answers its kind.
  std::uint8_t NextToken();
  std::uint8_t TokenKind() const { return kind_; }
  // The token's text; quoted strings and bracketed names without their
  // delimiters, every doubled quote of either kind made single.
  std::string TokenAsString() const;
  // The raw bytes of the token.
  std::string_view TokenText() const;

  // The token is a symbol equal to `word` ignoring case.
  bool CheckTokenSymbol(std::string_view word) const;
  // The token is a quoted string equal to `text` ignoring case.
  bool CheckTokenString(std::string_view text) const;
  // The token's kind is `c` (a character or a kind number).
  bool CheckToken(std::uint8_t c) const { return kind_ == c; }

  // Offset of the current token from the start of the text.
  std::int32_t GetCurPos() const { return static_cast<std::int32_t>(token_start_); }
  void MarkExpressionLiteral();
  // The text from the mark to the end of the last token consumed, without
  // carriage returns and line feeds.
  std::string ExpressionAsString() const;

  // Raises the caller's error number with `message` + " in " + context.
  [[noreturn]] void RaiseSyntaxError(std::string_view message) const;
  // The same for a message that already ends as it should.
  [[noreturn]] void RaiseMessage(std::string_view message) const;

private:
  char At(std::size_t pos) const { return pos < text_.size() ? text_[pos] : '\0'; }
  void SkipBlanksAndComments();
  void ScanNumber(std::size_t pos);

  TEngineErrorCode error_number_ = 0;
  std::string error_context_;
  std::string expression_context_;
  bool has_text_ = false;
  std::string text_;
  std::size_t scan_ = 0;         // where the next token is looked for
  std::size_t token_start_ = 0;
  std::size_t token_end_ = 0;
  std::uint8_t kind_ = tkEnd;
  bool marked_ = false;
  std::size_t mark_ = 0;
  std::size_t previous_ = 0;     // the end of the token before the current one
};

}  // namespace korvex
