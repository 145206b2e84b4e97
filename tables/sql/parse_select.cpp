// The SELECT statement and the clauses it shares with the other statements:
// FROM lists with joins, WHERE, and the LANGUAGE clause.
#include <memory>

#include "platform/runtime/sysutils.h"
#include "tables/engine/base/languages.h"
#include "tables/lib/names.h"
#include "tables/sql/data_query.h"
#include "tables/sql/reader.h"

namespace korvex {
namespace {

constexpr TParseOptions kColumnOptions = pmAllowAggregates | pmAllowAllFields | pmAllowExtPredicates;
constexpr TParseOptions kWhereOptions = pmAllowExtPredicates | pmAllowParameters | pmAllowSubSelects;
constexpr TParseOptions kJoinOptions = pmAllowExtPredicates | pmAllowParameters;
constexpr const char* kWhereContext = "WHERE or JOIN clause";
constexpr const char* kWhereEmpty = "WHERE or JOIN clause is empty";
constexpr const char* kFromTableMessage = "Table name expected after FROM keyword, instead found '";
constexpr const char* kJoinTableMessage = "Table name expected after JOIN keyword, instead found '";

std::uint8_t CalculationOf(std::uint8_t op) {
  switch (op) {
    case eoSUM: return rcSum;
    case eoCOUNT: return rcCount;
    case eoMIN: return rcMin;
    case eoMAX: return rcMax;
    case eoAVG: return rcAvg;
    default: return rcNone;
  }
}

bool IsComparison(const TExpToken* node) {
  return node->NodeClass == enBINARY && node->Operator >= eoEQ && node->Operator <= eoLE;
}

// Every node of an ON condition is a join-condition node; comparisons
// between columns of both sides carry the join's type.
void MarkJoinCondition(TExpToken* node, std::uint8_t join_type) {
  if (!node) return;
  node->JoinCondition = true;
  if (IsComparison(node) && ContainsFields(node->Left) && ContainsFields(node->Right)) node->JoinType = join_type;
  MarkJoinCondition(node->Left, join_type);
  MarkJoinCondition(node->Right, join_type);
  MarkJoinCondition(node->Third, join_type);
}

// The text between the first "(" and the last ")" of an aggregate call.
std::string ArgumentText(const std::string& call) {
  std::size_t open = call.find('(');
  std::size_t close = call.rfind(')');
  if (open == std::string::npos || close == std::string::npos || close <= open) return call;
  return rtl::Trim(call.substr(open + 1, close - open - 1));
}

}  // namespace

void TDataQuery::ParseSelectQuery(TSqlReader& in) {
  in.Next();
  in.Accept("ALL");
  if (in.Accept("DISTINCT")) Distinct = true;

  for (;;) {
    TResultField* field = ResultFields.Add(new TResultField(this));
    ParseSelectColumnExpression(in, field);
    bool named = false;
    std::string name;
    if (in.Accept("AS")) {
      if (!in.IsName()) in.FailFound("Symbol or string expected after AS keyword, instead found '");
      named = true;
    } else if (in.IsName() && !in.Is("INTO") && !in.Is("FROM")) {
      named = true;
    }
    if (named) {
      name = in.Text();
      in.Next();
      if (in.IsChar('.')) {
        in.Next();
        if (!in.IsName()) in.FailFound("Symbol or string expected after table correlation name, instead found '");
        name = in.Text();
        in.Next();
      }
      field->ColumnName = ShortString(name);
      field->DefaultName = false;
    }
    if (!in.IsChar(',')) break;
    in.Next();
  }

  if (in.Accept("INTO")) {
    if (in.Accept("MEMORY")) {
      IntoMemory = true;
      if (!in.IsSymbolOrString()) in.FailFound("Result table name expected in INTO MEMORY clause, instead found '");
    } else if (!in.IsSymbolOrString()) {
      in.FailFound("Result table name expected in INTO clause, instead found '");
    }
    ResultTableName = ShortString(in.Text());
    in.Next();
    WantLiveResult = false;
  }

  in.Expect("FROM", "FROM keyword expected, instead found '");
  ParseSourceTables(in);
  ParseWhereClause(in);

  if (in.Accept("GROUP")) {
    in.Expect("BY", "BY keyword expected after GROUP keyword, instead found '");
    HasGroupBy = true;
    ParseOrderedItems(in, false);
  }
  if (in.Accept("HAVING")) {
    HavingParsed = HavingGiven = true;
    HavingExpression = in.Expression(1, pmAllowAggregates, "HAVING clause", "HAVING clause is empty");
  }
  if (in.Accept("ORDER")) {
    in.Expect("BY", "BY keyword expected after ORDER keyword, instead found '");
    HasOrderBy = true;
    ParseOrderedItems(in, true);
    if (in.Accept("NOCASE")) OrderByNoCase = true;
  }
  if (in.Accept("WITH")) {
    in.Expect("LOCKS", "LOCKS keyword expected after WITH keyword, instead found '");
    WithLocks = true;
  }
  ParseLanguageClause(in);
  ParseEncryption(in);
  if (in.Accept("NOJOINOPTIMIZE")) NoJoinOptimize = true;
  if (!Nested) in.ExpectEnd("SELECT");
}

void TDataQuery::ParseSelectColumnExpression(TSqlReader& in, TResultField* field) {
  std::string text;
  ExpTokenGuard tree(in.Expression(1, kColumnOptions, "source column expression", "Source column expression is empty",
                                   &text));
  if (tree->NodeClass == enFIELD) {
    field->FieldName = tree->ColumnName;
    field->SourceCorrelationName = tree->TableName;
    if (field->FieldName != "*") field->ColumnName = field->FieldName;
    field->Expression = tree.Release();
    return;
  }
  const std::uint8_t calculation = tree->NodeClass == enFUNC ? CalculationOf(tree->Operator) : std::uint8_t{rcNone};
  if (calculation != rcNone) {
    field->Calculation = calculation;
    if (calculation == rcAvg) HasAvg = true;
    ExpTokenGuard argument(tree->Left);
    tree->Left = nullptr;
    if (ContainsAggregates(argument.get())) in.Fail("Aggregate functions cannot be nested");
    if (argument->NodeClass == enFIELD) {
      field->FieldName = argument->ColumnName;
      field->SourceCorrelationName = argument->TableName;
    } else {
      field->IsExpression = true;
      field->ExpressionText = ShortString(ArgumentText(text));
      HasCalculatedColumn = true;
    }
    field->Expression = argument.Release();
    return;
  }
  if (ContainsAggregates(tree.get())) in.Fail("Aggregate functions cannot be used within expressions");
  field->IsExpression = true;
  field->ExpressionText = ShortString(text);
  HasCalculatedColumn = true;
  field->Expression = tree.Release();
}

TSourceTable* TDataQuery::ParseSourceTable(TSqlReader& in, std::string_view name_message,
                                           std::string_view memory_message, bool allow_as,
                                           const std::vector<std::string_view>& keywords) {
  auto table = std::make_unique<TSourceTable>(this);
  if (in.Accept("MEMORY")) {
    table->InMemory = true;
    table->DirectoryName = "Memory";
    name_message = memory_message;
  }
  if (!in.IsSymbolOrString()) in.FailFound(name_message);
  table->TableName = ShortString(in.Text());
  table->CorrelationName = ShortString(StripFilePathAndExtension(table->TableName));
  in.Next();

  if (allow_as && in.Accept("AS")) {
    if (!in.IsSymbolOrString()) in.FailFound("Symbol or string expected after AS keyword, instead found '");
    table->CorrelationName = ShortString(in.Text());
    in.Next();
  } else if (in.IsSymbolOrString()) {
    bool keyword = false;
    for (std::string_view word : keywords) keyword = keyword || in.Is(word);
    if (!keyword) {
      table->CorrelationName = ShortString(in.Text());
      in.Next();
    }
  }
  for (TSourceTable* other : SourceTables)
    if (rtl::AnsiSameText(other->CorrelationName, table->CorrelationName))
      in.Fail("Duplicate table correlation name '" + table->CorrelationName + "' found in source tables");
  table->FromOrder = static_cast<std::uint16_t>(SourceTables.Count() + 1);
  return table.release();
}

void TDataQuery::ParseSourceTables(TSqlReader& in) {
  // Words that end a table reference instead of naming it. In the SELECT of
  // an INSERT the INSERT's own NOAUTOINC and COMMIT follow it.
  std::vector<std::string_view> keywords{"LEFT", "RIGHT", "INNER", "FULL",      "JOIN",    "WHERE",
                                         "ORDER", "GROUP", "HAVING", "WITH", "ENCRYPTED", "LANGUAGE"};
  if (insert_source_) keywords.insert(keywords.end(), {"NOAUTOINC", "COMMIT"});
  for (;;) {
    SourceTables.Add(ParseSourceTable(in, kFromTableMessage, kFromTableMessage, true, keywords));
    for (;;) {
      std::uint8_t join_type;
      if (in.Accept("JOIN")) {
        join_type = jtInner;
      } else if (in.Accept("INNER")) {
        in.Expect("JOIN", "JOIN keyword expected after INNER keyword, instead found '");
        join_type = jtInner;
      } else if (in.Accept("LEFT")) {
        in.Accept("OUTER");
        in.Expect("JOIN", "JOIN keyword expected after LEFT or OUTER keyword, instead found '");
        join_type = jtLeftOuter;
      } else if (in.Accept("RIGHT")) {
        in.Accept("OUTER");
        in.Expect("JOIN", "JOIN keyword expected after RIGHT or OUTER keyword, instead found '");
        join_type = jtRightOuter;
      } else if (in.Is("FULL")) {
        in.Fail("Full outer joins are currently not supported in KORVEX SQL SELECT statements");
      } else {
        break;
      }
      ParseJoin(in, join_type);
    }
    if (!in.IsChar(',')) break;
    MultipleSourceTables = true;
    in.Next();
  }
}

void TDataQuery::ParseJoin(TSqlReader& in, std::uint8_t join_type) {
  MultipleSourceTables = true;
  TSourceTable* table = ParseSourceTable(in, kJoinTableMessage, kJoinTableMessage, true, {"ON"});
  // The inner side of an outer join: the joined table of a LEFT JOIN, the
  // tables before it of a RIGHT JOIN.
  TSourceTable* inner = join_type == jtLeftOuter ? table : nullptr;
  if (join_type == jtRightOuter) {
    inner = SourceTables[0];
    inner->OuterJoinSpan = static_cast<std::uint16_t>(SourceTables.Count());
    SourceTables.Insert(0, table);
  } else {
    SourceTables.Add(table);
  }
  in.Expect("ON", "ON keyword expected in JOIN clause, instead found '");
  TExpToken* condition = in.Expression(1, kJoinOptions, kWhereContext, kWhereEmpty);
  if (inner) inner->OuterJoinCondition = condition;
  MarkJoinCondition(condition, join_type);
  AndWhere(condition);
  HasWhere = true;
}

void TDataQuery::ParseWhereClause(TSqlReader& in) {
  if (!in.Accept("WHERE")) return;
  HasWhere = true;
  AndWhere(in.Expression(1, kWhereOptions, kWhereContext, kWhereEmpty));
}

void TDataQuery::ParseOrderedItems(TSqlReader& in, bool order_by) {
  const char* message = order_by ? "Column name or column number expected in ORDER BY clause, instead found '"
                                 : "Column name or column number expected in GROUP BY clause, instead found '";
  for (;;) {
    std::string correlation, column;
    std::uint16_t number = 0;
    if (in.IsName()) {
      column = in.Text();
      in.Next();
      if (in.IsChar('.')) {
        in.Next();
        if (!in.IsName()) in.FailFound(message);
        correlation = column;
        column = in.Text();
        in.Next();
      }
    } else if (in.Parser().TokenKind() == tkInteger) {
      // Column numbers count from 1 and fit 16 bits.
      std::int32_t value = 0;
      if (!rtl::TryStrToInt(in.Parser().TokenText(), value) || value < 1 || value > 0xFFFF) in.FailFound(message);
      number = static_cast<std::uint16_t>(value);
      in.Next();
    } else {
      in.FailFound(message);
    }
    if (order_by) {
      TOrderByField* item = OrderByFields.Add(new TOrderByField(this));
      item->CorrelationName = ShortString(correlation);
      item->ColumnName = ShortString(column);
      item->ColumnNumber = number;
      if (in.Accept("DESC") || in.Accept("DESCENDING"))
        item->Descending = true;
      else if (!in.Accept("ASC"))
        in.Accept("ASCENDING");
    } else {
      TGroupByField* item = GroupByFields.Add(new TGroupByField(this));
      item->CorrelationName = ShortString(correlation);
      item->ColumnName = ShortString(column);
      item->ColumnNumber = number;
    }
    if (!in.IsChar(',')) break;
    in.Next();
  }
}

void TDataQuery::ParseEncryption(TSqlReader& in) {
  if (!in.Accept("ENCRYPTED")) return;
  in.Expect("WITH", "WITH keyword expected after ENCRYPTED keyword, instead found '");
  // An empty password leaves the table unencrypted.
  Password = ShortString(in.Text());
  Encrypted = !Password.empty();
  EncryptionGiven = true;
  in.Next();
}

void TDataQuery::ParseLanguageClause(TSqlReader& in) {
  if (!in.Accept("LANGUAGE")) return;
  std::string language = in.Text();
  if (!IsValidLanguageConstant(language))
    in.Fail("Invalid language constant '" + language + "' specified after LANGUAGE keyword");
  in.Next();
  LanguageID = ConvertLanguageConstantToID(language);
  LanguageGiven = true;
  if (!in.Accept("SORT")) return;
  std::string sort = in.Text();
  if (!IsValidSortConstant(LanguageID, sort))
    in.Fail("Invalid sort constant '" + sort + "' specified after SORT keyword");
  in.Next();
  SortID = ConvertSortConstantToID(LanguageID, sort);
  SortGiven = true;
}

}  // namespace korvex
