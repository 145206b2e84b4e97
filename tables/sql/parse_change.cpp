// INSERT, UPDATE and DELETE, and their COMMIT INTERVAL.
#include <string>

#include "tables/sql/data_query.h"
#include "tables/sql/reader.h"
#include "tables/sql/statement.h"

namespace korvex {
namespace {

constexpr const char* kColumnContext = "table column";
constexpr const char* kColumnEmpty = "Table column name is empty";
constexpr const char* kValueContext = "value expression";
constexpr const char* kValueEmpty = "Value expression is empty";
constexpr const char* kTableMessage = "Table name expected, instead found '";

// The column an INSERT or UPDATE names: a column node, or a quoted string
// that names one by its text.
void NameUpdateField(TUpdateField* field, TExpToken* tree) {
  if (tree->NodeClass == enCONST && tree->DataType == dtString && !tree->IsParameter) {
    field->ColumnName = ShortString(tree->StringValue());
  } else {
    field->ColumnName = tree->NodeClass == enFIELD ? tree->ColumnName : ShortString(tree->Text);
    field->CorrelationName = tree->TableName;
  }
  field->Expression = tree;
}

}  // namespace

void TDataQuery::ParseInsertQuery(TSqlReader& in) {
  in.Next();
  WantLiveResult = true;
  in.Expect("INTO", "INTO keyword expected, instead found '");
  SourceTables.Add(ParseSourceTable(in, "Table name expected after INTO clause, instead found '",
                                    "Table name expected after INTO keyword, instead found '", false,
                                    {"VALUES", "SELECT"}));

  if (in.IsChar('(')) {
    in.Next();
    for (;;) {
      TUpdateField* field = UpdateFields.Add(new TUpdateField(this));
      NameUpdateField(field, in.Expression(1, 0, kColumnContext, kColumnEmpty));
      if (!in.IsChar(',')) break;
      in.Next();
    }
    in.ExpectChar(')', "Right parentheses expected after list of table columns, instead found '");
  } else {
    UpdateFields.Add(new TUpdateField(this))->ColumnName = "*";
  }

  if (in.Accept("VALUES")) {
    in.ExpectChar('(', "Left parentheses expected after VALUES keyword, instead found '");
    for (;;) {
      ParseUpdateValue(in);
      if (!in.IsChar(',')) break;
      in.Next();
    }
    in.ExpectChar(')', "Right parentheses expected after list of values, instead found '");
  } else if (in.Is("SELECT")) {
    InsertWithSubSelect = true;
    auto* source = static_cast<TDataQuery*>(Statement->NewSubSelectQuery());
    source->insert_source_ = true;
    source->ParseQuery(true);
  } else {
    in.FailFound("VALUES or SELECT  keyword expected, instead found '");
  }

  if (in.Accept("NOAUTOINC")) NoAutoInc = true;
  ParseCommitInterval(in);
  in.ExpectEnd("INSERT");
}

void TDataQuery::ParseUpdateQuery(TSqlReader& in) {
  in.Next();
  WantLiveResult = true;
  SourceTables.Add(ParseSourceTable(in, kTableMessage, kTableMessage, true, {"SET"}));
  in.Expect("SET", "SET keyword expected, instead found '");
  for (;;) {
    TUpdateField* field = UpdateFields.Add(new TUpdateField(this));
    NameUpdateField(field, in.Expression(8, 0, kColumnContext, kColumnEmpty));
    in.ExpectChar('=', "Assignment (=) operator expected after column name, instead found '");
    ParseUpdateValue(in);
    if (!in.IsChar(',')) break;
    in.Next();
  }
  ParseWhereClause(in);
  if (in.Accept("NOAUTOINC")) NoAutoInc = true;
  ParseCommitInterval(in);
  in.ExpectEnd("UPDATE");
}

void TDataQuery::ParseDeleteQuery(TSqlReader& in) {
  in.Next();
  WantLiveResult = true;
  in.Expect("FROM", "FROM keyword expected, instead found '");
  SourceTables.Add(ParseSourceTable(in, kTableMessage, kTableMessage, true, {"WHERE", "NOJOINOPTIMIZE", "COMMIT"}));
  ParseWhereClause(in);
  ParseCommitInterval(in);
  in.ExpectEnd("DELETE");
}

void TDataQuery::ParseUpdateValue(TSqlReader& in) {
  TUpdateValue* value = UpdateValues.Add(new TUpdateValue(this));
  std::string text;
  value->Expression = in.Expression(1, pmAllowParameters, kValueContext, kValueEmpty, &text);
  value->ValueText = ShortString(text);
}

void TDataQuery::ParseCommitInterval(TSqlReader& in) {
  if (!in.Accept("COMMIT")) return;
  in.Expect("INTERVAL", "INTERVAL keyword expected after COMMIT keyword, instead found '");
  ExpTokenGuard tree(in.Expression(7, 0, "commit interval", "Commit interval is empty"));
  std::int32_t interval = 0;
  if (!TSqlReader::IntegerConstant(tree.get(), interval)) interval = 0;
  if (interval < 1)
    in.Fail("COMMIT INTERVAL specified (" + std::to_string(interval) + ") is invalid, it must be greater than 0");
  CommitInterval = interval;
  CommitIntervalGiven = true;
}

}  // namespace korvex
