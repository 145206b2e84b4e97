// The data definition statements: CREATE TABLE, CREATE INDEX, ALTER TABLE,
// DROP TABLE and DROP INDEX.
#include <string>

#include "tables/sql/data_query.h"
#include "tables/sql/reader.h"

namespace korvex {
namespace {

constexpr const char* kColumnContext = "table column";
constexpr const char* kColumnEmpty = "Table column name is empty";
constexpr const char* kMemoryTableMessage = "Table name expected, instead found '";

// Words that begin a primary-key clause.
bool AtPrimaryKey(const TSqlReader& in) {
  return in.IsAny({"CONSTRAINT", "PRIMARY", "UNIQUE", "ASC", "ASCENDING", "DESC", "DESCENDING", "NOCASE"});
}

// A column or key name node: a quoted string names the column by its text.
std::string NodeName(const TExpToken* node) {
  if (node->NodeClass == enCONST && node->DataType == dtString && !node->IsParameter)
    return ShortString(node->StringValue());
  return node->NodeClass == enFIELD ? node->ColumnName : ShortString(node->Text);
}

// Reads a column name as a primary expression; the node then carries only
// the data type that follows it.
TExpToken* ReadColumnName(TSqlReader& in, std::string& name) {
  TExpToken* node = in.Expression(8, 0, kColumnContext, kColumnEmpty);
  name = NodeName(node);
  node->DataType = dtUnknown;
  node->SubType = fstNone;
  node->IsNull = false;
  return node;
}

void CopyType(TCreateField* field, const TExpToken* node) {
  field->DataType = node->DataType;
  field->SubType = node->SubType;
  field->Size = node->DataSize;
  field->Scale = node->Scale;
}

}  // namespace

void TDataQuery::ParseDefinitionTarget(TSqlReader& in, std::string_view name_message) {
  if (in.Accept("MEMORY")) {
    InMemory = true;
    name_message = kMemoryTableMessage;
  }
  if (!in.IsSymbolOrString()) in.FailFound(name_message);
  ResultTableName = ShortString(in.Text());
  in.Next();
}

TCreateField* TDataQuery::ParseColumnDefinition(TSqlReader& in, bool type_required) {
  TCreateField* field = CreateFields.Add(new TCreateField(this));
  field->TypeNode = ReadColumnName(in, field->FieldName);
  in.DataType(field->TypeNode, !type_required, kColumnContext);
  CopyType(field, field->TypeNode);
  return field;
}

void TDataQuery::ParseRename(TSqlReader& in, TCreateField* field) {
  ExpTokenGuard node(ReadColumnName(in, field->NewName));
  in.DataType(node.get(), true, kColumnContext);
  if (node->DataType == dtUnknown) return;
  CopyType(field, node.get());
  FreeExpressionTokens(field->TypeNode);
  field->TypeNode = node.Release();
}

void TDataQuery::ParseColumnOptions(TSqlReader& in, TCreateField* field, bool with_position) {
  if (with_position && in.Accept("AT")) {
    field->Position = in.IntegerExpression("column position", "column position is empty");
    field->PositionGiven = true;
  }
  if (in.Accept("DESCRIPTION")) {
    field->Description = ShortString(in.OptionValue());
    field->DescriptionGiven = true;
  }
  if (in.Accept("NOT")) {
    in.Expect("NULL", "NULL keyword expected after NOT keyword, instead found '");
    field->Required = field->RequiredGiven = true;
  }
  if (in.Accept("DEFAULT")) {
    field->DefaultValue = ShortString(in.OptionValue());
    field->DefaultGiven = true;
  }
  if (in.Accept("MIN") || in.Accept("MINIMUM")) {
    field->MinValue = ShortString(in.OptionValue());
    field->MinGiven = true;
  }
  if (in.Accept("MAX") || in.Accept("MAXIMUM")) {
    field->MaxValue = ShortString(in.OptionValue());
    field->MaxGiven = true;
  }
  if (in.Accept("CHARCASE")) {
    // In the order of TCharCase.
    field->CharCase = in.Choice({"NOCHANGE", "LOWER", "UPPER"},
                                "UPPER, LOWER, or NOCHANGE keyword expected after CHARCASE keyword, instead found '");
    field->CharCaseGiven = true;
  }
}

void TDataQuery::ParseIndexOptions(TSqlReader& in, TCreateIndex* index) {
  if (in.Accept("UNIQUE")) index->Unique = true;
  if (in.Accept("DESC") || in.Accept("DESCENDING"))
    index->Descending = true;
  else if (!in.Accept("ASC"))
    in.Accept("ASCENDING");
  if (in.Accept("NOCASE")) index->CaseInsensitive = true;
}

void TDataQuery::ParseIndexColumns(TSqlReader& in, TCreateIndex* index) {
  in.ExpectChar('(', "Left parentheses expected after KEY keyword, instead found '");
  for (;;) {
    ExpTokenGuard node(in.Expression(8, 0, "index column", "Index column name is empty"));
    index->KeyFieldNames.push_back(NodeName(node.get()));
    index->KeyFieldTokens.push_back(node.get());
    node.Release();
    if (!in.IsChar(',')) break;
    in.Next();
  }
  in.ExpectChar(')', "Right parentheses expected after primary key clause, instead found '");
}

void TDataQuery::ParseCompression(TSqlReader& in, TCreateIndex* index) {
  if (!in.Accept("COMPRESS")) return;
  // In the order of TSqlCompression.
  index->Compression = in.Choice({"NONE", "DUPBYTE", "TRAILBYTE", "FULL"},
                                 "FULL, DUPBYTE, TRAILBYTE, or NONE keyword expected after COMPRESS keyword, instead found '");
}

void TDataQuery::ParsePrimaryKey(TSqlReader& in, TCreateIndex* index) {
  if (in.Accept("CONSTRAINT")) in.Next();  // the constraint's name is not kept
  ParseIndexOptions(in, index);
  in.Expect("PRIMARY", "PRIMARY keyword expected, instead found '");
  in.Expect("KEY", "KEY keyword expected after PRIMARY keyword, instead found '");
  ParseIndexColumns(in, index);
  ParseCompression(in, index);
}

void TDataQuery::ParseTableOptions(TSqlReader& in) {
  if (in.Accept("DESCRIPTION")) {
    Description = ShortString(in.OptionValue());
    DescriptionGiven = true;
  }
  if (in.Accept("BLOB")) {
    in.Expect("BLOCK", "BLOCK keyword expected after BLOB keyword, instead found '");
    in.Expect("SIZE", "SIZE keyword expected after BLOCK keyword, instead found '");
    BlobBlockSize = in.WordExpression("BLOB block size", "BLOB block size is empty");
    BlockSizeGiven = true;
  }
  ParseLanguageClause(in);
  ParseEncryption(in);
  if (!in.Accept("USER")) return;
  if (in.Accept("MAJOR")) {
    in.Expect("VERSION", "VERSION keyword expected after MAJOR keyword, instead found '");
    UserMajorVersion = in.WordExpression("user version number", "User version number is empty");
    MajorVersionGiven = true;
    if (!in.Accept("USER")) return;
    in.Expect("MINOR", "MINOR keyword expected after USER keyword, instead found '");
  } else if (!in.Accept("MINOR")) {
    in.FailFound("MAJOR keyword expected after USER keyword, instead found '");
  }
  in.Expect("VERSION", "VERSION keyword expected after MINOR keyword, instead found '");
  UserMinorVersion = in.WordExpression("user version number", "User version number is empty");
  MinorVersionGiven = true;
}

void TDataQuery::ParseCreateTableQuery(TSqlReader& in) {
  in.Next();
  ParseDefinitionTarget(in, "Table name expected after CREATE TABLE keywords, instead found '");
  in.ExpectChar('(', "Left parentheses expected before list of table columns, instead found '");
  for (;;) {
    if (in.IsChar(')') || AtPrimaryKey(in) ||
        in.IsAny({"DESCRIPTION", "BLOB", "LANGUAGE", "ENCRYPTED", "USER"}))
      break;
    TCreateField* field = ParseColumnDefinition(in, true);
    if (!in.IsChar(',')) {
      ParseColumnOptions(in, field, false);
      if (!in.IsChar(',')) break;
    }
    in.Next();
  }
  if (AtPrimaryKey(in)) {
    ParsePrimaryKey(in, CreateIndexes.Add(new TCreateIndex(this)));
    if (in.IsChar(',')) in.Next();
  }
  ParseTableOptions(in);
  in.ExpectChar(')', "Right parentheses expected after CREATE TABLE statement, instead found '");
  in.ExpectEnd("CREATE TABLE");
}

void TDataQuery::ParseCreateIndexQuery(TSqlReader& in) {
  TCreateIndex* index = CreateIndexes.Add(new TCreateIndex(this));
  ParseIndexOptions(in, index);
  in.Expect("INDEX", "INDEX keyword expected, instead found '");
  if (!in.IsSymbolOrString()) in.FailFound("Index name expected after INDEX keyword, instead found '");
  index->IndexName = ShortString(in.Text());
  in.Next();
  in.Expect("ON", "ON keyword expected after index name, instead found '");
  ParseDefinitionTarget(in, "Table name expected after ON keyword, instead found '");
  ParseIndexColumns(in, index);
  ParseCompression(in, index);
  in.ExpectEnd("CREATE INDEX");
}

void TDataQuery::ParseAlterTableQuery(TSqlReader& in) {
  in.Next();
  ParseDefinitionTarget(in, "Table name expected after ALTER TABLE keywords, instead found '");
  for (;;) {
    if (in.Is("ADD") || in.Is("REDEFINE")) {
      const bool add = in.Is("ADD");
      in.Next();
      if (AtPrimaryKey(in)) {
        TCreateIndex* index = CreateIndexes.Add(new TCreateIndex(this));
        index->Add = add;
        index->Redefine = !add;
        ParsePrimaryKey(in, index);
      } else {
        in.Accept("COLUMN");
        TCreateField* field = ParseColumnDefinition(in, add);
        field->Add = add;
        field->Redefine = !add;
        // A further name renames the column; the column options and the
        // table options that may follow the changes are no names.
        if (!add && !in.AtStatementEnd() && !in.IsChar(',') &&
            !in.IsAny({"AT", "DESCRIPTION", "NOT", "DEFAULT", "MIN", "MINIMUM", "MAX", "MAXIMUM", "CHARCASE", "BLOB",
                       "LANGUAGE", "ENCRYPTED", "USER", "LAST", "NOBACKUP"}))
          ParseRename(in, field);
        ParseColumnOptions(in, field, true);
      }
    } else if (in.Accept("DROP")) {
      if (in.Is("CONSTRAINT") || in.Is("PRIMARY")) {
        CreateIndexes.Add(new TCreateIndex(this))->Drop = true;
        if (in.Accept("CONSTRAINT")) in.Next();
        in.Expect("PRIMARY", "PRIMARY keyword expected, instead found '");
        in.Expect("KEY", "KEY keyword expected after PRIMARY keyword, instead found '");
      } else {
        in.Accept("COLUMN");
        ParseColumnDefinition(in, false)->Drop = true;
      }
    } else {
      break;
    }
    if (!in.IsChar(',')) break;
    in.Next();
  }
  ParseTableOptions(in);
  if (in.Accept("LAST")) {
    in.Expect("AUTOINC", "AUTOINC keyword expected after LAST keyword, instead found '");
    LastAutoInc = in.IntegerExpression("next auto-increment number", "Next auto-increment number is empty");
    AutoIncGiven = true;
  }
  if (in.Accept("NOBACKUP")) NoBackup = true;
  in.ExpectEnd("ALTER TABLE");
}

void TDataQuery::ParseDropTableQuery(TSqlReader& in) {
  in.Next();
  ParseDefinitionTarget(in, "Table name expected after TABLE keyword, instead found '");
  in.ExpectEnd("DROP TABLE");
}

void TDataQuery::ParseDropIndexQuery(TSqlReader& in) {
  in.Next();
  std::string_view message = "Table name expected after INDEX keyword, instead found '";
  if (in.Accept("MEMORY")) {
    InMemory = true;
    message = kMemoryTableMessage;
  }
  ExpTokenGuard node(in.Expression(8, 0, "index name expression", "Index name expression is empty"));
  // "table.index": the qualifier names the table (path and extension kept).
  const std::string& text = node->Text;
  if (node->NodeClass != enFIELD || node->TableName.empty() || text.size() < node->ColumnName.size() + 1)
    in.Fail(std::string(message) + NodeName(node.get()) + "'");
  ResultTableName = ShortString(text.substr(0, text.size() - node->ColumnName.size() - 1));
  TCreateIndex* index = CreateIndexes.Add(new TCreateIndex(this));
  index->IndexName = node->ColumnName;
  index->Drop = true;
  in.ExpectEnd("DROP INDEX");
}

}  // namespace korvex
