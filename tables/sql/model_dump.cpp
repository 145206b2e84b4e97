#include "tables/sql/model_dump.h"

#include "platform/runtime/sysutils.h"
#include "tables/sql/statement.h"

namespace korvex {
namespace {

const char* KindName(int kind) {
  static const char* const names[] = {"NONE",         "SELECT",      "INSERT",     "UPDATE",
                                      "DELETE",       "CREATE TABLE", "ALTER TABLE", "DROP TABLE",
                                      "CREATE INDEX", "DROP INDEX"};
  return kind >= 0 && kind <= 9 ? names[kind] : "?";
}

const char* JoinName(int type) {
  static const char* const names[] = {"", "inner", "left", "right", "full"};
  return type >= 1 && type <= 4 ? names[type] : "?";
}

const char* CalculationName(int calculation) {
  static const char* const names[] = {"", "sum", "min", "max", "avg", "count"};
  return calculation >= 0 && calculation <= 5 ? names[calculation] : "?";
}

std::string OperatorName(const TExpToken* node) {
  switch (node->Operator) {
    case eoEQ: return "=";
    case eoNE: return "<>";
    case eoGT: return ">";
    case eoLT: return "<";
    case eoGE: return ">=";
    case eoLE: return "<=";
    case eoNOT: return "NOT";
    case eoAND: return "AND";
    case eoOR: return "OR";
    case eoMINUS: return "-";
    case eoPLUS: return "+";
    case eoADD: return node->Text == "||" ? "||" : "+";
    case eoSUB: return "-";
    case eoMUL: return "*";
    case eoDIV: return "/";
    case eoLIKE: return "LIKE";
    case eoNOTLIKE: return "NOT LIKE";
    case eoBETWEEN: return "BETWEEN";
    case eoNOTBETWEEN: return "NOT BETWEEN";
    case eoIN: case eoSUBIN: return "IN";
    case eoNOTIN: case eoNOTSUBIN: return "NOT IN";
    default: return rtl::UpperCase(node->Text);
  }
}

int QueryIndex(const TQueryStatement* statement, const TSubSelectQuery* query) {
  if (!statement) return -1;
  const auto& queries = statement->DataQueries();
  for (int i = 0; i < queries.Count(); ++i)
    if (static_cast<const TSubSelectQuery*>(queries[i]) == query) return i;
  return -1;
}

// `chained`: the node is one of a list of arguments, whose Right link
// leads to the next argument, not to an operand.
void Write(std::string& out, const TExpToken* node, const TQueryStatement* statement, bool chained = false);

void WriteChain(std::string& out, const TExpToken* node, const TQueryStatement* statement) {
  for (; node; node = node->Right) {
    out += ' ';
    Write(out, node, statement, true);
  }
}

void Write(std::string& out, const TExpToken* node, const TQueryStatement* statement, bool chained) {
  if (!node) {
    out += "-";
    return;
  }
  // Join marks are written on operator nodes only.
  std::string mark = node->JoinType != jtNone ? std::string("@") + JoinName(node->JoinType)
                     : node->JoinCondition   ? "@on"
                                             : "";
  switch (node->NodeClass) {
    case enFIELD:
      out += node->TableName.empty() ? node->ColumnName : node->TableName + "." + node->ColumnName;
      return;
    case enCONST:
      if (node->IsParameter)
        out += "?";
      else if (node->DataType == dtString && !node->Text.empty() && node->Text[0] != '#')
        out += "'" + node->Text + "'";
      else
        out += node->Text;
      return;
    case enTUPLE:
      out += "<query " + std::to_string(QueryIndex(statement, node->SubQuery)) + ">";
      return;
    default:
      break;
  }
  out += "(" + OperatorName(node) + mark;
  if (node->NodeClass == enEXTBINARY || node->NodeClass == enFUNC) {
    if (node->Left) {
      out += ' ';
      Write(out, node->Left, statement);
    }
    WriteChain(out, node->Right, statement);
    if (node->Third) {
      out += ' ';
      Write(out, node->Third, statement);
    }
  } else {
    for (const TExpToken* operand : {node->Left, chained ? nullptr : node->Right, node->Third}) {
      if (!operand) continue;
      out += ' ';
      Write(out, operand, statement);
    }
  }
  out += ")";
}

std::string Item(const std::string& correlation, const std::string& column, int number) {
  if (column.empty() && correlation.empty()) return "#" + std::to_string(number);
  return correlation.empty() ? column : correlation + "." + column;
}

std::string ChangeMark(bool add, bool redefine, bool drop) {
  return add ? " add" : redefine ? " redefine" : drop ? " drop" : "";
}

}  // namespace

std::string DumpExpression(const TExpToken* tree, const TQueryStatement* statement) {
  std::string out;
  Write(out, tree, statement);
  return out;
}

// The "source" and "result" lines of a query.
std::string SourcesAndResults(const TDataQuery& q) {
  std::string out;
  for (const TSourceTable* t : q.SourceTables) {
    out += "source from=" + std::to_string(t->FromOrder) + " name=" + t->TableName;
    out += " corr=" + t->CorrelationName;
    if (t->InMemory) out += " memory";
    out += "\n";
  }
  for (const TResultField* f : q.ResultFields) {
    out += "result";
    if (!f->ColumnName.empty()) out += " name=" + f->ColumnName;
    if (!f->DefaultName) out += " given";
    if (!f->FieldName.empty()) out += " field=" + f->FieldName;
    if (!f->SourceCorrelationName.empty()) out += " corr=" + f->SourceCorrelationName;
    if (f->Calculation != rcNone) out += std::string(" calc=") + CalculationName(f->Calculation);
    if (f->IsExpression) out += " expr=" + f->ExpressionText;
    out += "\n";
  }
  return out;
}

std::string DumpQuery(const TDataQuery& q, int index) {
  const TQueryStatement* st = q.Statement;
  std::string out = "query " + std::to_string(index) + " " + KindName(q.StatementKind);
  if (q.Nested) out += " nested";
  out += "\n";

  std::string flags;
  auto flag = [&flags](bool set, const char* name) {
    if (set) flags += std::string(" ") + name;
  };
  flag(q.Distinct, "distinct");
  flag(q.HasAvg, "avg");
  flag(q.HasCalculatedColumn, "calculated");
  flag(q.MultipleSourceTables, "multiple");
  flag(q.NoJoinOptimize, "nojoinoptimize");
  flag(q.HasWhere, "where");
  flag(q.HavingGiven, "having");
  flag(q.HasOrderBy, "orderby");
  flag(q.OrderByNoCase, "nocase");
  flag(q.HasGroupBy, "groupby");
  flag(q.IntoMemory, "intomemory");
  flag(q.InsertWithSubSelect, "subselectinsert");
  flag(q.WithLocks, "withlocks");
  flag(q.WantLiveResult, "wantlive");
  flag(q.InMemory, "memory");
  flag(q.NoAutoInc, "noautoinc");
  flag(q.NoBackup, "nobackup");
  if (!flags.empty()) out += "flags" + flags + "\n";

  out += SourcesAndResults(q);
  if (q.StatementKind == skSelect && !q.ResultTableName.empty()) out += "into " + q.ResultTableName + "\n";
  if (q.WhereExpression) out += "where " + DumpExpression(q.WhereExpression, st) + "\n";
  if (q.HavingExpression) out += "having " + DumpExpression(q.HavingExpression, st) + "\n";
  for (const TGroupByField* g : q.GroupByFields)
    out += "group " + Item(g->CorrelationName, g->ColumnName, g->ColumnNumber) + "\n";
  for (const TOrderByField* o : q.OrderByFields)
    out += "order " + Item(o->CorrelationName, o->ColumnName, o->ColumnNumber) + (o->Descending ? " desc" : "") +
           "\n";
  for (const TUpdateField* u : q.UpdateFields) {
    out += "update " + u->ColumnName;
    if (!u->CorrelationName.empty()) out += " corr=" + u->CorrelationName;
    out += "\n";
  }
  for (const TUpdateValue* v : q.UpdateValues) out += "value " + v->ValueText + "\n";
  for (const std::string& step : q.Plan.Lines()) out += "plan " + step + "\n";
  for (const TCreateField* c : q.CreateFields) {
    out += "column " + c->FieldName;
    if (!c->NewName.empty()) out += " new=" + c->NewName;
    if (c->DataType != 0)
      out += " type=" + std::to_string(c->DataType) + "/" + std::to_string(c->SubType) + "/" +
             std::to_string(c->Size) + "/" + std::to_string(c->Scale);
    if (c->PositionGiven) out += " at=" + std::to_string(c->Position);
    if (c->DescriptionGiven) out += " desc=" + c->Description;
    if (c->Required) out += " notnull";
    if (c->DefaultGiven) out += " default=" + c->DefaultValue;
    if (c->MinGiven) out += " min=" + c->MinValue;
    if (c->MaxGiven) out += " max=" + c->MaxValue;
    if (c->CharCaseGiven) out += " charcase=" + std::to_string(c->CharCase);
    out += ChangeMark(c->Add, c->Redefine, c->Drop) + "\n";
  }
  for (const TCreateIndex* i : q.CreateIndexes) {
    out += "index";
    if (!i->IndexName.empty()) out += " name=" + i->IndexName;
    if (!i->KeyFieldNames.empty()) {
      out += " keys=";
      for (std::size_t k = 0; k < i->KeyFieldNames.size(); ++k) out += (k ? "," : "") + i->KeyFieldNames[k];
    }
    if (i->Unique) out += " unique";
    if (i->Descending) out += " desc";
    if (i->CaseInsensitive) out += " nocase";
    if (i->Compression != scNone) out += " compress=" + std::to_string(i->Compression);
    out += ChangeMark(i->Add, i->Redefine, i->Drop) + "\n";
  }
  if (q.StatementKind >= skCreateTable && !q.ResultTableName.empty()) out += "table " + q.ResultTableName + "\n";

  auto setting = [&out](bool given, const char* name, const std::string& value) {
    if (given) out += std::string("setting ") + name + "=" + value + "\n";
  };
  setting(q.DescriptionGiven, "description", q.Description);
  setting(q.BlockSizeGiven, "blocksize", std::to_string(q.BlobBlockSize));
  setting(q.LanguageGiven, "language", std::to_string(q.LanguageID));
  setting(q.SortGiven, "sort", std::to_string(q.SortID));
  setting(q.EncryptionGiven, "password", q.Password);
  setting(q.MajorVersionGiven, "major", std::to_string(q.UserMajorVersion));
  setting(q.MinorVersionGiven, "minor", std::to_string(q.UserMinorVersion));
  setting(q.AutoIncGiven, "lastautoinc", std::to_string(q.LastAutoInc));
  setting(q.CommitIntervalGiven, "commit", std::to_string(q.CommitInterval));
  return out;
}

std::string DumpStatement(const TQueryStatement& statement) {
  std::string out;
  const auto& queries = statement.DataQueries();
  for (int i = 0; i < queries.Count(); ++i) out += DumpQuery(*queries[i], i);
  out += "parameters " + std::to_string(statement.Parameters().size()) + "\n";
  return out;
}

}  // namespace korvex
