// TExpressionParser: the grammar of filter and SQL expressions over the
// lexer's tokens.
//
// Eight levels, loosest first (every level starts at the current token and
// leaves the first token it did not use as the current one):
//   1  level 2 { OR level 2 }
//   2  level 3 { AND level 3 }
//   3  NOT level 4 | level 4
//   4  level 5 [ = <> > < >= <= level 5 | [NOT] LIKE level 5
//              | [NOT] BETWEEN level 5 AND level 5 | [NOT] IN ( list | SELECT )
//              | IS [NOT] NULL ]                      (one comparison at most)
//   5  level 6 { + - || level 6 }
//   6  level 7 { * / level 7 }
//   7  + level 8 | - level 8 | level 8
//   8  constants, columns, "?" parameters, ( level 1 ), functions, aggregates
//
// A filter is parsed with ParseFilter (or NextToken, ParseExpression1 and
// ExpectEndOfText): an empty text gives no tree, and text left after the
// expression is an error. On every error the unfinished tree is given back
// to the node pool and parameters it registered are removed from the owner.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tables/lib/explexer.h"
#include "tables/lib/exptoken.h"
#include "tables/lib/subselect.h"

namespace korvex {

enum TParseModifiers : std::uint8_t {
  pmAllowAggregates = 1 << 0,    // SUM, AVG, MIN, MAX, COUNT
  pmAllowAllFields = 1 << 1,     // "*" as a column
  pmAllowExtPredicates = 1 << 2, // LIKE, BETWEEN, IN, IS NULL and their NOT forms
  pmAllowParameters = 1 << 3,    // "?"
  pmAllowSubSelects = 1 << 4,    // IN (SELECT ...)
};
using TParseOptions = std::uint8_t;  // a set of TParseModifiers

// Trees deeper than this (counted along any path of links) are refused, so
// that no later walk of a tree can exhaust the stack.
inline constexpr std::size_t kMaxExpressionDepth = 1000;

class TExpressionParser : public TExpressionLexer {
public:
  // `owner` is the SQL statement when the SQL layer parses; nullptr for
  // filters (sub-selects are then refused).
  explicit TExpressionParser(TExpressionOwner* owner = nullptr) : owner_(owner) {}

  TExpressionOwner* Owner() const { return owner_; }

  // The grammar levels. The caller owns the tree it gets. ParseExpression1
  // answers nullptr when the current token is already the end of the text.
  TExpToken* ParseExpression1(TParseOptions options);
  TExpToken* ParseExpression2(TParseOptions options);
  TExpToken* ParseExpression3(TParseOptions options);
  TExpToken* ParseExpression4(TParseOptions options);
  TExpToken* ParseExpression5(TParseOptions options);
  TExpToken* ParseExpression6(TParseOptions options);
  TExpToken* ParseExpression7(TParseOptions options);
  TExpToken* ParseExpression8(TParseOptions options);

  // Raises "Unknown or unexpected symbol '...' found in ..." unless the
  // current token is the end of the text.
  void ExpectEndOfText() const;

  // SetExpression, the first token, level 1 and the end of the text: the
  // whole text as one expression; nullptr for an empty (or blank) text.
  TExpToken* ParseFilter(std::string_view text, TParseOptions options);

  // Reads an SQL data type at the current token into `node` (data type, sub
  // type; its arguments hang from node->Right and the Right after it). An
  // unknown keyword raises "SQL data type keyword expected ..." unless
  // `quiet`, in which case the node is left as it was.
  void ParseDataTypeExpression(TExpToken* node, TParseOptions options, bool quiet);

private:
  class DepthScope;
  template <typename Level>
  TExpToken* ParseGuarded(Level level, TParseOptions options);

  TExpToken* Level1(TParseOptions options);
  TExpToken* Level2(TParseOptions options);
  TExpToken* Level3(TParseOptions options);
  TExpToken* Level4(TParseOptions options);
  TExpToken* Level5(TParseOptions options);
  TExpToken* Level6(TParseOptions options);
  TExpToken* Level7(TParseOptions options);
  TExpToken* Level8(TParseOptions options);

  TExpToken* ParsePredicate(TExpToken* left, TParseOptions options);
  TExpToken* ParseIn(TExpToken* left, bool negated, TParseOptions options);
  TExpToken* ParseNumber();
  TExpToken* ParseCharCode();
  TExpToken* ParseString(TParseOptions options);
  TExpToken* ParseColumn(TParseOptions options);
  TExpToken* ParseQualifiedColumn(const std::string& qualifier, TParseOptions options);
  TExpToken* ParseParameter(TParseOptions options);
  TExpToken* ParseAggregate(std::uint8_t op, TParseOptions options);
  TExpToken* ParseFunction(TParseOptions options);  // nullptr when the symbol is no function
  TExpToken* ParseSubstring(TParseOptions options);
  TExpToken* ParseReplace(TParseOptions options);
  TExpToken* ParsePosOrOccurs(std::uint8_t op, TParseOptions options);
  TExpToken* ParseCast(TParseOptions options);
  TExpToken* ParseTrim(TParseOptions options);
  TExpToken* ParseExtract(TParseOptions options);
  TExpToken* ParseRound(TParseOptions options);
  TExpToken* ParseIf(TParseOptions options);
  TExpToken* ParseOneArgument(std::uint8_t op, std::uint8_t type, bool copy_type,
                              std::string_view left_paren_message, TParseOptions options);

  // Node makers.
  TExpToken* NewNode(std::uint8_t node_class, std::uint8_t op, std::string_view text) const;
  // Hangs `next` from the Right link of `argument` (a chained argument).
  // A Right link already in use (a binary argument) raises `message`.
  void Chain(TExpToken* argument, TExpToken* next, std::string_view message) const;

  // Requires the current token to be the character `c`, then reads on.
  void Expect(char c, std::string_view message);
  void ExpectSymbol(std::string_view word, std::string_view message);
  [[noreturn]] void RaiseFound(std::string_view message) const;  // message + token + "' in " + context
  [[noreturn]] void RaiseUnexpected() const;

  TExpressionOwner* owner_;
  int nesting_ = 0;        // grammar recursion depth of the current parse
  // Parameters registered by the innermost public parse call that is active.
  std::vector<TExpToken*>* active_params_ = nullptr;
};

}  // namespace korvex
