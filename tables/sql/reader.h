// TSqlReader: the token helpers the statement parsers share, over the
// statement's expression parser. Internal to tables/sql.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

#include "tables/lib/expparser.h"

namespace korvex {

class TSqlReader {
public:
  explicit TSqlReader(TExpressionParser& parser) : parser_(parser) {}

  TExpressionParser& Parser() { return parser_; }
  void Next() { parser_.NextToken(); }

  // The token is the keyword (a symbol, compared ignoring case).
  bool Is(std::string_view word) const { return parser_.CheckTokenSymbol(word); }
  bool IsAny(std::initializer_list<std::string_view> words) const;
  bool IsChar(char c) const { return parser_.CheckToken(static_cast<std::uint8_t>(c)); }
  bool AtEnd() const { return parser_.TokenKind() == tkEnd; }
  bool AtStatementEnd() const { return AtEnd() || IsChar(';'); }
  bool IsSymbolOrString() const { return parser_.TokenKind() == tkSymbol || parser_.TokenKind() == tkQuoted; }
  bool IsName() const { return IsSymbolOrString() || parser_.TokenKind() == tkBracketed; }
  // The token's text (quoted strings and bracketed names without delimiters).
  std::string Text() const { return parser_.TokenAsString(); }

  // Reads a keyword when it is the token.
  bool Accept(std::string_view word);
  // The position of the token among `words` (reading it), or raises
  // `message` with the token.
  std::uint8_t Choice(std::initializer_list<std::string_view> words, std::string_view message);
  // Raises 11949 with the message as it stands.
  [[noreturn]] void Fail(std::string_view message) const;
  // Raises 11949 with the message, the token's text and "'".
  [[noreturn]] void FailFound(std::string_view message) const;
  void Expect(std::string_view word, std::string_view message);
  void ExpectChar(char c, std::string_view message);
  // ";" (consumed) or the end, else "End of <statement> statement expected".
  void ExpectEnd(std::string_view statement);

  // Parses one expression at grammar level 1 (full), 7 (signed primary) or
  // 8 (primary) with the context name set on the parser for its messages;
  // an empty expression (the end of the text or ";") raises
  // `empty_message`. The expression's text goes to `text` when given.
  TExpToken* Expression(int level, TParseOptions options, std::string_view context, std::string_view empty_message,
                        std::string* text = nullptr);

  // An SQL data type for the column definition `node` (its name node), read
  // and checked with the context name set; a missing type raises unless
  // `optional`, in which case the node's data type stays 0.
  void DataType(TExpToken* node, bool optional, std::string_view context);

  // A signed integer constant; false for any other tree.
  static bool IntegerConstant(const TExpToken* node, std::int32_t& value);
  // Reads a signed integer constant at level 7; any other expression
  // raises "Integer constant expected for <context>, instead found '<text>'".
  std::int32_t IntegerExpression(std::string_view context, std::string_view empty_message);
  // The same for a 16-bit setting: anything outside 0..65535 raises
  // "Integer constant between 0 and 65535 expected for <context>, instead
  // found '<text>'".
  std::uint16_t WordExpression(std::string_view context, std::string_view empty_message);

  // The single next token's text as an option value; a sign followed by a
  // number is one value ("-1").
  std::string OptionValue();

private:
  TExpressionParser& parser_;
};

}  // namespace korvex
