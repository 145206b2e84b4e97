// Statements made by a generator written from the statement grammar, which
// shares nothing with the parser: it writes a valid statement of one of the
// nine kinds token by token and, beside it, the model dump it expects
// (tables/sql/model_dump.h describes the format) and, for the keywords that
// the grammar requires, the message that their absence must raise. Every
// statement must parse to exactly that dump, and each required keyword taken
// out must give exactly that message.
#include <gtest/gtest.h>

#include <cctype>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "tests/tables/sql/sql_test_support.h"

namespace korvex::testing {
namespace {

// What the generator expects of one query, as dump lines.
struct ExpectedQuery {
  std::string head;  // "SELECT" ... with " nested"
  std::vector<std::string> flags, sources, results, lines_after_results, settings;
};

// Text of a generated expression: its dump and whether it holds a column.
struct Expr {
  std::string dump;
  bool has_column = false;
};

struct Removal {
  std::string word;
  std::size_t begin = 0, end = 0;  // the keyword and the blank after it
  std::string message;
};

class Generator {
public:
  explicit Generator(unsigned seed) : rng_(seed) {}

  // Writes one statement of `kind` (1 to 9).
  void Statement(int kind);

  std::string text;
  std::vector<Removal> removals;
  std::string Dump() const;

private:
  // ---- chances and names -----------------------------------------------
  int Pick(int n) { return static_cast<int>(rng_() % static_cast<unsigned>(n)); }
  bool Chance(int percent) { return Pick(100) < percent; }
  std::string Fresh(const char* stem) { return stem + std::to_string(++serial_); }

  // ---- writing -------------------------------------------------------------
  // Appends a token; `display` is how messages show it.
  void Emit(const std::string& token, const std::string& display);
  void Emit(const std::string& token) { Emit(token, token); }
  // A keyword in upper, lower or mixed case; answers what was written.
  std::string Keyword(const std::string& word);
  // A keyword whose absence raises `message` + the next token + "'".
  void Required(const std::string& word, const std::string& message);
  // A name: symbol, 'quoted' or (where allowed) [bracketed]; answers the
  // text the model keeps.
  std::string Name(bool bracketed_allowed);

  // ---- expressions ---------------------------------------------------------
  // `on`: inside a join condition, whose operator nodes carry "@on".
  Expr Value(bool parameters, bool on = false);
  Expr Primary(bool parameters);
  Expr Column();
  std::string Constant();
  Expr Condition(int depth, bool parameters, bool subselects, const std::string& mark);
  Expr AndTerm(int depth, bool parameters, bool subselects, const std::string& mark);
  Expr Predicate(int depth, bool parameters, bool subselects, const std::string& mark);
  std::string Op(const std::string& op, const std::string& mark) { return "(" + op + mark; }

  // ---- statements ------------------------------------------------------------
  // A SELECT; `nested` for sub-selects and the SELECT of an INSERT.
  void Select(bool nested, int depth);
  void SelectColumn(ExpectedQuery& q, bool& any_alias);
  // A table reference; its source line goes to `order` (at the front for a
  // RIGHT JOIN) and its FROM order number to `from_order`. Answers the
  // display text of its first token.
  std::string TableRef(std::vector<std::string>& order, bool front, bool& has_corr,
                       std::map<std::string, int>& from_order);
  void Items(ExpectedQuery& q, const char* what, bool order_by);
  void Language(ExpectedQuery& q);
  void Where(std::size_t query, int depth);
  void CommitInterval(ExpectedQuery& q);
  void End(bool nested);
  // [MEMORY] name [[AS] correlation] of INSERT, UPDATE and DELETE; answers
  // whether a correlation name was written.
  bool SingleTable(ExpectedQuery& q, bool as_allowed, std::string& name, std::string& corr);
  void Insert();
  void Update();
  void Delete();
  std::string ColumnType(bool& has_type);
  std::string ColumnOptions(bool position);
  // [ASC | ASCENDING | DESC | DESCENDING]; answers " desc" or "".
  std::string Direction();
  // [UNIQUE] [direction] [NOCASE]; answers the dump's flags.
  std::string IndexOptions();
  // "(" keys ")" [COMPRESS ...]; answers the dump's " keys=..." part.
  std::string KeysAndCompression(const std::string& flags);
  void PrimaryKey(std::vector<std::string>& indexes, const std::string& change);
  void TableOptions(ExpectedQuery& q, bool description);
  void CreateTable();
  void CreateIndex();
  void AlterTable();
  void DropTable();
  void DropIndex();
  void Target(ExpectedQuery& q, std::vector<std::string>& lines);

  ExpectedQuery& NewQuery(const std::string& head) {
    queries_.emplace_back();
    queries_.back().head = head;
    return queries_.back();
  }
  static std::string Flag(bool set, const char* name) { return set ? name : ""; }

  std::mt19937 rng_;
  int serial_ = 0;
  int parameters_ = 0;
  std::vector<ExpectedQuery> queries_;  // in the order the parser meets them
  bool pending_ = false;
  Removal removal_;
};

void Generator::Emit(const std::string& token, const std::string& display) {
  if (pending_) {
    removal_.message = removal_.message + display + "'";
    removals.push_back(removal_);
    pending_ = false;
  }
  if (!text.empty()) text += ' ';
  text += token;
}

std::string Generator::Keyword(const std::string& word) {
  std::string written = word;
  int style = Pick(3);
  for (std::size_t i = 0; i < written.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(written[i]);
    if (style == 1 || (style == 2 && i > 0)) written[i] = static_cast<char>(std::tolower(c));
  }
  Emit(written);
  return written;
}

void Generator::Required(const std::string& word, const std::string& message) {
  std::size_t begin = text.empty() ? 0 : text.size() + 1;
  Keyword(word);
  removal_ = {word, begin, text.size() + 1, kSqlPrefix + message};
  pending_ = true;
}

std::string Generator::Name(bool bracketed_allowed) {
  std::string name = Fresh(Pick(2) ? "n" : "Col_");
  switch (Pick(bracketed_allowed ? 3 : 2)) {
    case 0: Emit(name); return name;
    case 1: Emit("'" + name + " x'", name + " x"); return name + " x";
    default: Emit("[" + name + " y]", name + " y"); return name + " y";
  }
}

Expr Generator::Column() {
  std::string name = Fresh("c");
  if (Chance(30)) {
    std::string table = Fresh("q");
    Emit(table);
    Emit(".");
    Emit(name);
    return {table + "." + name, true};
  }
  Emit(name);
  return {name, true};
}

std::string Generator::Constant() {
  switch (Pick(3)) {
    case 0: {
      std::string n = std::to_string(Pick(100000));
      Emit(n);
      return n;
    }
    case 1: {
      std::string s = Fresh("s");
      Emit("'" + s + "'", s);
      return "'" + s + "'";
    }
    default: {
      std::string f = std::to_string(Pick(100)) + ".5";
      Emit(f);
      return f;
    }
  }
}

Expr Generator::Primary(bool parameters) {
  int choice = Pick(parameters ? 4 : 3);
  if (choice == 3) {
    Emit("?");
    ++parameters_;
    return {"?", false};
  }
  if (choice == 2) return {Constant(), false};
  return Column();
}

Expr Generator::Value(bool parameters, bool on) {
  Expr left = Primary(parameters);
  while (Chance(25)) {
    std::string op = Pick(2) ? "+" : "-";
    Emit(op);
    Expr right = Primary(parameters);
    left = {Op(op, on ? "@on" : "") + " " + left.dump + " " + right.dump + ")", left.has_column || right.has_column};
  }
  return left;
}

Expr Generator::Predicate(int depth, bool parameters, bool subselects, const std::string& mark) {
  const bool join = !mark.empty();
  if (depth < 2 && Chance(15)) {
    Emit("(");
    Expr inner = Condition(depth + 1, parameters, subselects, mark);
    Emit(")");
    return inner;
  }
  if (join || Chance(50)) {
    Expr left = Value(parameters, join);
    static const char* const ops[] = {"=", "<>", ">", "<", ">=", "<="};
    std::string op = ops[Pick(6)];
    Emit(op);
    Expr right = Value(parameters, join);
    // In a join condition a comparison between columns of both sides carries
    // the join's type, every other operator node the plain join mark.
    std::string node_mark = join ? (left.has_column && right.has_column ? mark : "@on") : "";
    return {Op(op, node_mark) + " " + left.dump + " " + right.dump + ")", true};
  }
  Expr tested = Column();
  const int form = Pick(subselects ? 5 : 4);
  if (form == 2) {
    Keyword("IS");
    bool negated = Chance(50);
    if (negated) Keyword("NOT");
    std::string null = Keyword("NULL");
    return {"(" + std::string(negated ? "<>" : "=") + " " + tested.dump + " " + null + ")", true};
  }
  // LIKE, BETWEEN and IN, each also with NOT before it.
  static const char* const words[] = {"LIKE", "BETWEEN", "", "IN", "IN"};
  const bool negated = Chance(30);
  if (negated) Keyword("NOT");
  Keyword(words[form]);
  std::string dump = "(" + std::string(negated ? "NOT " : "") + words[form] + " " + tested.dump;
  if (form == 0) {
    std::string pattern = Fresh("p");
    Emit("'" + pattern + "%'");
    dump += " '" + pattern + "%'";
  } else if (form == 1) {
    dump += " " + Primary(parameters).dump;
    Keyword("AND");
    dump += " " + Primary(parameters).dump;
  } else if (form == 3) {
    Emit("(");
    for (int i = 0, count = 1 + Pick(3); i < count; ++i) {
      if (i) Emit(",");
      dump += " " + Primary(parameters).dump;
    }
    Emit(")");
  } else {
    Emit("(");
    dump += " <query " + std::to_string(queries_.size()) + ">";
    Select(true, depth + 1);
    Emit(")");
  }
  return {dump + ")", true};
}

Expr Generator::AndTerm(int depth, bool parameters, bool subselects, const std::string& mark) {
  const std::string node_mark = mark.empty() ? "" : "@on";
  bool negated = Chance(15);
  if (negated) Keyword("NOT");
  Expr term = Predicate(depth, parameters, subselects, mark);
  if (negated) term.dump = Op("NOT", node_mark) + " " + term.dump + ")";
  while (Chance(25)) {
    Keyword("AND");
    Expr right = Predicate(depth, parameters, subselects, mark);
    term.dump = Op("AND", node_mark) + " " + term.dump + " " + right.dump + ")";
  }
  return term;
}

Expr Generator::Condition(int depth, bool parameters, bool subselects, const std::string& mark) {
  Expr left = AndTerm(depth, parameters, subselects, mark);
  while (Chance(20)) {
    Keyword("OR");
    Expr right = AndTerm(depth, parameters, subselects, mark);
    left.dump = Op("OR", mark.empty() ? "" : "@on") + " " + left.dump + " " + right.dump + ")";
  }
  return left;
}

// ---- SELECT -------------------------------------------------------------------------

// "corr.name" or "name" as the model keeps them.
void SplitColumn(const Expr& column, std::string& corr, std::string& name) {
  auto dot = column.dump.find('.');
  name = dot == std::string::npos ? column.dump : column.dump.substr(dot + 1);
  corr = dot == std::string::npos ? "" : column.dump.substr(0, dot);
}

void Generator::SelectColumn(ExpectedQuery& q, bool& any_alias) {
  std::string line = "result";
  std::string name, field, corr, calc, expr;
  bool plain = false;
  std::size_t start = text.size() + 1;
  switch (Pick(6)) {
    case 0:
      Emit("*");
      field = "*";
      break;
    case 1:
      corr = Fresh("q");
      Emit(corr);
      Emit(".");
      Emit("*");
      field = "*";
      break;
    case 2:
      SplitColumn(Column(), corr, field);
      name = field;
      plain = true;
      break;
    case 3: {
      static const char* const aggregates[] = {"SUM", "MIN", "MAX", "AVG", "COUNT"};
      static const char* const calcs[] = {"sum", "min", "max", "avg", "count"};
      int a = Pick(5);
      Keyword(aggregates[a]);
      calc = calcs[a];
      if (a == 3) q.flags.push_back("avg");
      Emit("(");
      if (a == 4 && Chance(40)) {
        Emit("*");
        field = "*";
      } else if (Chance(50)) {
        SplitColumn(Column(), corr, field);
      } else {
        std::size_t from = text.size() + 1;
        Value(false);
        Emit("*");
        Constant();
        expr = text.substr(from);
        q.flags.push_back("calculated");
      }
      Emit(")");
      break;
    }
    default: {
      if (Chance(50)) {
        Keyword("UPPER");
        Emit("(");
        Value(false);
        Emit(")");
      } else {
        Value(false);
        Emit("+");
        Constant();
      }
      expr = text.substr(start);
      q.flags.push_back("calculated");
      break;
    }
  }
  any_alias = false;
  if (Chance(40)) {
    any_alias = true;
    if (Chance(50)) Keyword("AS");
    name = Name(true);
    if (Chance(20)) {
      Emit(".");
      name = Name(true);
    }
    line += " name=" + name + " given";
  } else if (plain) {
    line += " name=" + name;
  }
  if (!field.empty()) line += " field=" + field;
  if (!corr.empty()) line += " corr=" + corr;
  if (!calc.empty()) line += " calc=" + calc;
  if (!expr.empty()) line += " expr=" + expr;
  q.results.push_back(line);
}

std::string Generator::TableRef(std::vector<std::string>& order, bool front, bool& has_corr,
                                std::map<std::string, int>& from_order) {
  bool memory = Chance(15);
  std::string first;
  if (memory) first = Keyword("MEMORY");
  std::string name = Fresh("t"), display = name, root = name;
  switch (Pick(3)) {
    case 0: Emit(name); break;
    case 1:
      display = "dir/" + name + ".dat";
      Emit("'" + display + "'", display);
      break;
    default:
      display = name + " z";
      root = display;
      Emit("'" + display + "'", display);
      break;
  }
  if (first.empty()) first = display;
  std::string corr = root;
  has_corr = Chance(40);
  if (has_corr) {
    if (Chance(50)) Keyword("AS");
    corr = Fresh("k");
    Emit(corr);
  }
  std::string line = "name=" + display + " corr=" + corr + (memory ? " memory" : "");
  from_order[line] = static_cast<int>(from_order.size()) + 1;
  if (front)
    order.insert(order.begin(), line);
  else
    order.push_back(line);
  return first;
}

void Generator::Items(ExpectedQuery& q, const char* what, bool order_by) {
  int count = 1 + Pick(3);
  for (int i = 0; i < count; ++i) {
    if (i) Emit(",");
    std::string item;
    switch (Pick(3)) {
      case 0: item = Fresh("g"); Emit(item); break;
      case 1: {
        std::string c = Fresh("q"), n = Fresh("g");
        Emit(c);
        Emit(".");
        Emit(n);
        item = c + "." + n;
        break;
      }
      default: item = std::to_string(1 + Pick(9)); Emit(item); item = "#" + item; break;
    }
    std::string line = std::string(what) + " " + item;
    if (order_by) line += Direction();
    q.lines_after_results.push_back(line);
  }
}

void Generator::Language(ExpectedQuery& q) {
  struct Language {
    const char* name;
    int primary, sub;
  };
  static const Language languages[] = {{"ANSI Standard", 0, 0}, {"Danish", 6, 1}, {"German (Swiss)", 7, 2},
                                       {"Spanish (Puerto Rico)", 10, 20}, {"Vietnamese", 42, 1}};
  const Language& language = languages[Pick(5)];
  Keyword("LANGUAGE");
  std::string name = language.name;
  if (Chance(50))
    for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  Emit("'" + name + "'", name);
  q.settings.push_back("language=" + std::to_string(language.primary | language.sub << 10));
  if (Chance(50)) {
    Keyword("SORT");
    bool german = language.primary == 7;
    bool phone_book = german && Chance(50);
    Emit(phone_book ? "'German Phone Book Order'" : "'default order'");
    q.settings.push_back(std::string("sort=") + (phone_book ? "1" : "0"));
  }
}

void Generator::Where(std::size_t query, int depth) {
  Keyword("WHERE");
  // Sub-selects in the condition add queries: the query is found again after.
  std::string condition = Condition(depth, true, depth < 3, "").dump;
  queries_[query].flags.push_back("where");
  queries_[query].lines_after_results.push_back("where " + condition);
}

void Generator::End(bool nested) {
  if (nested) return;
  if (Chance(40)) Emit(";");
}

void Generator::Select(bool nested, int depth) {
  NewQuery(nested ? "SELECT nested" : "SELECT");
  const std::size_t index = queries_.size() - 1;
  auto q = [&]() -> ExpectedQuery& { return queries_[index]; };
  Keyword("SELECT");
  if (Chance(10)) Keyword("ALL");
  if (Chance(15)) {
    Keyword("DISTINCT");
    q().flags.push_back("distinct");
  }
  bool alias = false;
  int columns = 1 + Pick(3);
  for (int i = 0; i < columns; ++i) {
    if (i) Emit(",");
    ExpectedQuery& query = q();
    SelectColumn(query, alias);
  }
  if (!nested && Chance(15)) {
    Keyword("INTO");
    if (Chance(40)) {
      Keyword("MEMORY");
      q().flags.push_back("intomemory");
    }
    std::string name = Fresh("r");
    Emit(name);
    q().lines_after_results.insert(q().lines_after_results.begin(), "into " + name);
  }
  if (alias)
    Required("FROM", "FROM keyword expected, instead found '");
  else
    Keyword("FROM");

  // Clauses after FROM, chosen first: NOJOINOPTIMIZE right after a table
  // without correlation name is that name.
  const bool where = Chance(50), group = Chance(20), having = group && Chance(50), order = Chance(25),
             locks = Chance(10), language = !nested && Chance(10), encrypted = !nested && Chance(10),
             nojoin = Chance(10);
  const bool clause_follows = where || group || having || order || locks || language || encrypted;

  std::vector<std::string> sources;
  std::map<std::string, int> from_order;
  std::vector<std::string> join_conditions;
  bool multiple = false, last_plain = false;
  int refs = 1 + Pick(2);
  for (int r = 0; r < refs; ++r) {
    if (r) {
      Emit(",");
      multiple = true;
    }
    bool has_corr = false;
    TableRef(sources, false, has_corr, from_order);
    last_plain = !has_corr;
    int joins = Chance(30) ? 1 + Pick(2) : 0;
    for (int j = 0; j < joins; ++j) {
      multiple = true;
      std::string type;
      switch (Pick(4)) {
        case 0: Keyword("JOIN"); type = "@inner"; break;
        case 1: Keyword("INNER"); Keyword("JOIN"); type = "@inner"; break;
        case 2: Keyword("LEFT"); if (Chance(50)) Keyword("OUTER"); Keyword("JOIN"); type = "@left"; break;
        default: Keyword("RIGHT"); if (Chance(50)) Keyword("OUTER"); Keyword("JOIN"); type = "@right"; break;
      }
      bool join_corr = false;
      TableRef(sources, type == "@right", join_corr, from_order);
      if (join_corr)
        Required("ON", "ON keyword expected in JOIN clause, instead found '");
      else
        Keyword("ON");
      join_conditions.push_back(Condition(1, true, false, type).dump);
      last_plain = false;
    }
  }
  bool nojoin_is_corr = nojoin && !clause_follows && last_plain;
  if (nojoin_is_corr) {
    // The word is the last table's correlation name.
    std::string written = Keyword("NOJOINOPTIMIZE");
    for (std::string& line : sources)
      if (from_order[line] == static_cast<int>(from_order.size())) {
        std::string old = line;
        int number = from_order[old];
        auto corr = line.find(" corr=");
        auto memory = line.find(" memory");
        line = line.substr(0, corr) + " corr=" + written + (memory == std::string::npos ? "" : " memory");
        from_order[line] = number;
      }
  }
  for (const std::string& line : sources)
    q().sources.push_back("source from=" + std::to_string(from_order[line]) + " " + line);
  if (multiple) q().flags.push_back("multiple");

  std::string where_dump;
  for (const std::string& condition : join_conditions)
    where_dump = where_dump.empty() ? condition : "(AND " + where_dump + " " + condition + ")";
  if (!join_conditions.empty()) q().flags.push_back("where");
  if (where) {
    Keyword("WHERE");
    q().flags.push_back("where");
    std::string condition = Condition(depth, true, depth < 3, "").dump;
    where_dump = where_dump.empty() ? condition : "(AND " + where_dump + " " + condition + ")";
  }
  if (!where_dump.empty()) q().lines_after_results.push_back("where " + where_dump);
  if (group) {
    Keyword("GROUP");
    Required("BY", "BY keyword expected after GROUP keyword, instead found '");
    q().flags.push_back("groupby");
  }
  std::vector<std::string> group_lines;
  if (group) {
    ExpectedQuery scratch;
    Items(scratch, "group", false);
    group_lines = scratch.lines_after_results;
  }
  if (having) {
    Keyword("HAVING");
    q().flags.push_back("having");
    std::string aggregate = Pick(2) ? "COUNT" : "SUM";
    Keyword(aggregate);
    Emit("(");
    Expr c = Column();
    Emit(")");
    Emit(">");
    std::string n = std::to_string(Pick(10));
    Emit(n);
    q().lines_after_results.push_back("having (> (" + aggregate + " " + c.dump + ") " + n + ")");
  }
  for (const std::string& line : group_lines) q().lines_after_results.push_back(line);
  if (order) {
    Keyword("ORDER");
    Required("BY", "BY keyword expected after ORDER keyword, instead found '");
    q().flags.push_back("orderby");
    Items(q(), "order", true);
    if (Chance(30)) {
      Keyword("NOCASE");
      q().flags.push_back("nocase");
    }
  }
  if (locks) {
    Keyword("WITH");
    Keyword("LOCKS");
    q().flags.push_back("withlocks");
  }
  if (language) Language(q());
  if (encrypted) {
    Keyword("ENCRYPTED");
    Keyword("WITH");
    std::string password = Fresh("pw");
    Emit("'" + password + "'", password);
    q().settings.push_back("password=" + password);
  }
  if (nojoin && !nojoin_is_corr) {
    Keyword("NOJOINOPTIMIZE");
    q().flags.push_back("nojoinoptimize");
  }
  if (nested) q().flags.push_back("wantlive");
  End(nested);
}

// ---- INSERT, UPDATE, DELETE -------------------------------------------------------

void Generator::CommitInterval(ExpectedQuery& q) {
  if (!Chance(25)) return;
  Keyword("COMMIT");
  Keyword("INTERVAL");
  int n = 1 + Pick(1000);
  bool plus = Chance(20);
  if (plus) Emit("+");
  Emit(std::to_string(n));
  q.settings.push_back("commit=" + std::to_string(n));
}

bool Generator::SingleTable(ExpectedQuery& q, bool as_allowed, std::string& name, std::string& corr) {
  bool memory = Chance(15);
  if (memory) Keyword("MEMORY");
  name = Fresh("t");
  Emit(name);
  corr = name;
  bool has_corr = Chance(40);
  if (has_corr) {
    if (as_allowed && Chance(50)) Keyword("AS");
    corr = Fresh("k");
    Emit(corr);
  }
  q.sources.push_back("source from=1 name=" + name + " corr=" + corr + (memory ? " memory" : ""));
  return has_corr;
}

void Generator::Insert() {
  const std::size_t index = queries_.size();
  NewQuery("INSERT");
  auto q = [&]() -> ExpectedQuery& { return queries_[index]; };
  Keyword("INSERT");
  Required("INTO", "INTO keyword expected, instead found '");
  std::string name, corr;
  SingleTable(q(), false, name, corr);
  std::vector<std::string> updates, values;
  bool column_list = Chance(60);
  if (column_list) {
    Emit("(");
    int count = 1 + Pick(3);
    for (int i = 0; i < count; ++i) {
      if (i) Emit(",");
      if (Chance(20)) {
        std::string quoted = Fresh("c") + " w";
        Emit("'" + quoted + "'");
        updates.push_back("update " + quoted);
      } else {
        std::string corr, column;
        SplitColumn(Column(), corr, column);
        updates.push_back("update " + column + (corr.empty() ? "" : " corr=" + corr));
      }
    }
    Emit(")");
  } else {
    updates.push_back("update *");
  }
  bool noautoinc = false;
  if (Chance(70)) {
    if (column_list)
      Required("VALUES", "VALUES or SELECT  keyword expected, instead found '");
    else
      Keyword("VALUES");
    Emit("(");
    int count = 1 + Pick(3);
    for (int i = 0; i < count; ++i) {
      if (i) Emit(",");
      std::size_t from = text.size() + 1;
      Value(true);
      values.push_back("value " + text.substr(from));
    }
    Emit(")");
  } else {
    q().flags.push_back("subselectinsert");
    Select(true, 1);
  }
  for (auto& line : updates) q().lines_after_results.push_back(line);
  for (auto& line : values) q().lines_after_results.push_back(line);
  q().flags.push_back("wantlive");
  if (Chance(20)) {
    Keyword("NOAUTOINC");
    noautoinc = true;
  }
  if (noautoinc) q().flags.push_back("noautoinc");
  CommitInterval(q());
  End(false);
}

void Generator::Update() {
  const std::size_t index = queries_.size();
  NewQuery("UPDATE");
  auto q = [&]() -> ExpectedQuery& { return queries_[index]; };
  Keyword("UPDATE");
  std::string name, corr;
  const bool has_corr = SingleTable(q(), true, name, corr);
  // Without a correlation name the first column would become one: its next
  // token is then the one found instead of SET.
  std::size_t set_begin = text.size() + 1;
  Keyword("SET");
  std::size_t set_end = text.size() + 1;
  std::vector<std::string> updates, values;
  int count = 1 + Pick(3);
  std::string found;
  for (int i = 0; i < count; ++i) {
    if (i) Emit(",");
    std::string column = Fresh("c");
    bool qualified = Chance(20);
    if (qualified) {
      Emit(corr == name ? name : corr);
      if (i == 0) found = has_corr ? (corr == name ? name : corr) : ".";
      Emit(".");
      Emit(column);
      updates.push_back("update " + column + " corr=" + (corr == name ? name : corr));
    } else {
      Emit(column);
      if (i == 0) found = has_corr ? column : "=";
      updates.push_back("update " + column);
    }
    Emit("=");
    std::size_t from = text.size() + 1;
    Value(true);
    values.push_back("value " + text.substr(from));
  }
  removals.push_back({"SET", set_begin, set_end, kSqlPrefix + "SET keyword expected, instead found '" + found + "'"});
  bool where = Chance(50);
  if (where) Where(index, 1);
  for (auto& line : updates) q().lines_after_results.push_back(line);
  for (auto& line : values) q().lines_after_results.push_back(line);
  q().flags.push_back("wantlive");
  if (Chance(20)) {
    Keyword("NOAUTOINC");
    q().flags.push_back("noautoinc");
  }
  CommitInterval(q());
  End(false);
}

void Generator::Delete() {
  const std::size_t index = queries_.size();
  NewQuery("DELETE");
  auto q = [&]() -> ExpectedQuery& { return queries_[index]; };
  Keyword("DELETE");
  Required("FROM", "FROM keyword expected, instead found '");
  std::string name, corr;
  SingleTable(q(), true, name, corr);
  if (Chance(50)) Where(index, 1);
  q().flags.push_back("wantlive");
  CommitInterval(q());
  End(false);
}

// ---- data definition ------------------------------------------------------------------

std::string Generator::ColumnType(bool& has_type) {
  struct Type {
    const char* word;
    int type, sub, size, scale, arguments;  // arguments: 0 none, 1 (n), 2 (p, s)
  };
  static const Type types[] = {
      {"INTEGER", 6, 0, 4, 0, 0}, {"SMALLINT", 5, 0, 2, 0, 0}, {"WORD", 12, 0, 2, 0, 0},
      {"AUTOINC", 6, 29, 4, 0, 0}, {"CHAR", 1, 0, 0, 0, 1},   {"VARCHAR", 1, 0, 0, 0, 1},
      {"DATE", 2, 0, 4, 0, 0},    {"TIME", 10, 0, 4, 0, 0},   {"TIMESTAMP", 11, 0, 8, 0, 0},
      {"BOOLEAN", 4, 0, 2, 0, 0}, {"FLOAT", 7, 0, 8, 0, 0},   {"MONEY", 7, 21, 8, 0, 0},
      {"DECIMAL", 8, 0, 8, 0, 2}, {"BYTES", 9, 0, 0, 0, 1}};
  const Type& t = types[Pick(14)];
  Keyword(t.word);
  has_type = true;
  int size = t.size, scale = t.scale;
  if (t.arguments == 1) {
    int n = 1 + Pick(250);
    Emit("(");
    Emit(std::to_string(n));
    Emit(")");
    size = t.type == 1 ? n + 1 : n;
  } else if (t.arguments == 2) {
    scale = Pick(5);
    Emit("(");
    Emit(std::to_string(10 + Pick(9)));
    Emit(",");
    Emit(std::to_string(scale));
    Emit(")");
  }
  return " type=" + std::to_string(t.type) + "/" + std::to_string(t.sub) + "/" + std::to_string(size) + "/" +
         std::to_string(scale);
}

std::string Generator::ColumnOptions(bool position) {
  std::string line;
  if (position && Chance(20)) {
    Keyword("AT");
    int n = Pick(20) - 2;
    if (n < 0) {
      Emit("-");
      Emit(std::to_string(-n));
    } else {
      Emit(std::to_string(n));
    }
    line += " at=" + std::to_string(n);
  }
  if (Chance(20)) {
    Keyword("DESCRIPTION");
    std::string d = Fresh("d");
    Emit("'" + d + " text'");
    line += " desc=" + d + " text";
  }
  if (Chance(20)) {
    Keyword("NOT");
    Keyword("NULL");
    line += " notnull";
  }
  auto value = [&](const char* word, const char* key) {
    Keyword(word);
    std::string v;
    switch (Pick(3)) {
      case 0: v = std::to_string(Pick(100)); Emit(v); break;
      case 1: v = "-" + std::to_string(Pick(100)); Emit("-"); Emit(v.substr(1)); break;
      default: v = Fresh("v"); Emit("'" + v + "'"); break;
    }
    line += std::string(" ") + key + "=" + v;
  };
  if (Chance(20)) value("DEFAULT", "default");
  if (Chance(15)) value(Pick(2) ? "MIN" : "MINIMUM", "min");
  if (Chance(15)) value(Pick(2) ? "MAX" : "MAXIMUM", "max");
  if (Chance(15)) {
    Keyword("CHARCASE");
    int c = Pick(3);
    Keyword(c == 0 ? "NOCHANGE" : c == 1 ? "LOWER" : "UPPER");
    line += " charcase=" + std::to_string(c);
  }
  return line;
}

std::string Generator::Direction() {
  static const char* const words[] = {"", "ASC", "ASCENDING", "DESC", "DESCENDING"};
  int direction = Pick(5);
  if (direction) Keyword(words[direction]);
  return direction >= 3 ? " desc" : "";
}

std::string Generator::IndexOptions() {
  std::string flags;
  if (Chance(30)) Keyword("UNIQUE"), flags += " unique";
  flags += Direction();
  if (Chance(30)) Keyword("NOCASE"), flags += " nocase";
  return flags;
}

std::string Generator::KeysAndCompression(const std::string& flags) {
  Emit("(");
  std::string keys;
  int count = 1 + Pick(3);
  for (int i = 0; i < count; ++i) {
    if (i) Emit(",");
    std::string key = Fresh("c");
    if (Chance(20)) {
      Emit("'" + key + " v'");
      key += " v";
    } else {
      Emit(key);
    }
    keys += (i ? "," : "") + key;
  }
  Emit(")");
  std::string line = " keys=" + keys + flags;
  if (Chance(30)) {
    int c = Pick(4);
    Keyword("COMPRESS");
    Keyword(c == 0 ? "NONE" : c == 1 ? "DUPBYTE" : c == 2 ? "TRAILBYTE" : "FULL");
    if (c) line += " compress=" + std::to_string(c);
  }
  return line;
}

void Generator::PrimaryKey(std::vector<std::string>& indexes, const std::string& change) {
  std::string line = "index";
  if (Chance(20)) {
    Keyword("CONSTRAINT");
    Emit(Fresh("pk"));
  }
  std::string flags = IndexOptions();
  Keyword("PRIMARY");
  Required("KEY", "KEY keyword expected after PRIMARY keyword, instead found '");
  line += KeysAndCompression(flags);
  indexes.push_back(line + change);
}

void Generator::TableOptions(ExpectedQuery& q, bool description) {
  if (description && Chance(25)) {
    Keyword("DESCRIPTION");
    std::string d = Fresh("d");
    Emit("'" + d + "'");
    q.settings.push_back("description=" + d);
  }
  if (Chance(20)) {
    Keyword("BLOB");
    Keyword("BLOCK");
    Keyword("SIZE");
    int n = 512 * (1 + Pick(8));
    Emit(std::to_string(n));
    q.settings.push_back("blocksize=" + std::to_string(n));
  }
  if (Chance(15)) Language(q);
  if (Chance(15)) {
    Keyword("ENCRYPTED");
    Keyword("WITH");
    std::string pw = Fresh("pw");
    Emit("'" + pw + "'");
    q.settings.push_back("password=" + pw);
  }
  bool major = Chance(20);
  if (major) {
    Keyword("USER");
    Keyword("MAJOR");
    Keyword("VERSION");
    int n = Pick(100);
    Emit(std::to_string(n));
    q.settings.push_back("major=" + std::to_string(n));
  }
  if (Chance(20)) {
    Keyword("USER");
    Keyword("MINOR");
    Keyword("VERSION");
    int n = Pick(100);
    Emit(std::to_string(n));
    q.settings.push_back("minor=" + std::to_string(n));
  }
}

void Generator::Target(ExpectedQuery& q, std::vector<std::string>& lines) {
  if (Chance(15)) {
    Keyword("MEMORY");
    q.flags.push_back("memory");
  }
  std::string name = Fresh("t");
  if (Chance(30)) {
    Emit("'" + name + " u'", name + " u");
    name += " u";
  } else {
    Emit(name);
  }
  lines.push_back("table " + name);
}

void Generator::CreateTable() {
  ExpectedQuery& q = NewQuery("CREATE TABLE");
  Keyword("CREATE");
  Required("TABLE", "TABLE or INDEX keyword expected, instead found '");
  std::vector<std::string> table;
  Target(q, table);
  Emit("(");
  std::vector<std::string> columns, indexes;
  int count = 1 + Pick(4);
  for (int i = 0; i < count; ++i) {
    if (i) Emit(",");
    std::string name = Fresh("c");
    Emit(name);
    bool has_type = false;
    std::string line = "column " + name + ColumnType(has_type);
    line += ColumnOptions(false);
    columns.push_back(line);
  }
  // A table DESCRIPTION right after a column would be the column's.
  bool separated = false;
  if (Chance(50)) {
    if (Chance(60)) Emit(",");
    PrimaryKey(indexes, "");
    separated = true;
  }
  if (Chance(20)) {
    Emit(",");
    separated = true;
  }
  TableOptions(q, separated);
  Emit(")");
  for (auto& line : columns) q.lines_after_results.push_back(line);
  for (auto& line : indexes) q.lines_after_results.push_back(line);
  for (auto& line : table) q.lines_after_results.push_back(line);
  End(false);
}

void Generator::CreateIndex() {
  ExpectedQuery& q = NewQuery("CREATE INDEX");
  Keyword("CREATE");
  std::string flags = IndexOptions();
  Keyword("INDEX");
  std::string name = Fresh("ix");
  Emit(name);
  Keyword("ON");
  std::vector<std::string> table;
  Target(q, table);
  std::string line = "index name=" + name + KeysAndCompression(flags);
  q.lines_after_results.push_back(line);
  q.lines_after_results.push_back(table[0]);
  End(false);
}

void Generator::AlterTable() {
  ExpectedQuery& q = NewQuery("ALTER TABLE");
  Keyword("ALTER");
  Required("TABLE", "TABLE keyword expected, instead found '");
  std::vector<std::string> table;
  Target(q, table);
  std::vector<std::string> columns, indexes;
  int count = Pick(4);
  // A column change last takes a table DESCRIPTION as its own option.
  bool column_last = false;
  for (int i = 0; i < count; ++i) {
    if (i) Emit(",");
    column_last = false;
    switch (Pick(5)) {
      case 0:
      case 1: {
        bool add = Pick(2);
        Keyword(add ? "ADD" : "REDEFINE");
        if (Chance(30)) Keyword("COLUMN");
        std::string name = Fresh("c");
        Emit(name);
        bool has_type = false;
        // Something after a definition without a type would be read as
        // a new name: the last definition always has one here.
        std::string type = (add || Chance(70)) ? ColumnType(has_type) : "";
        std::string line = "column " + name;
        if (!add && (!has_type || Chance(30))) {
          std::string renamed = Fresh("r");
          Emit(renamed);
          line += " new=" + renamed;
          bool second = false;
          std::string second_type = ColumnType(second);
          type = second_type;
        }
        line += type + ColumnOptions(true) + (add ? " add" : " redefine");
        columns.push_back(line);
        column_last = true;
        break;
      }
      case 2: {
        Keyword("DROP");
        if (Chance(30)) Keyword("COLUMN");
        std::string name = Fresh("c");
        Emit(name);
        bool has_type = false;
        std::string type = ColumnType(has_type);
        columns.push_back("column " + name + type + " drop");
        break;
      }
      case 3: {
        bool add = Pick(2);
        Keyword(add ? "ADD" : "REDEFINE");
        PrimaryKey(indexes, add ? " add" : " redefine");
        break;
      }
      default: {
        Keyword("DROP");
        if (Chance(40)) {
          Keyword("CONSTRAINT");
          Emit(Fresh("pk"));
        }
        Keyword("PRIMARY");
        Required("KEY", "KEY keyword expected after PRIMARY keyword, instead found '");
        indexes.push_back("index drop");
        break;
      }
    }
  }
  TableOptions(q, !column_last);
  if (Chance(20)) {
    Keyword("LAST");
    Keyword("AUTOINC");
    int n = Pick(100000);
    Emit(std::to_string(n));
    q.settings.push_back("lastautoinc=" + std::to_string(n));
  }
  if (Chance(20)) {
    Keyword("NOBACKUP");
    q.flags.push_back("nobackup");
  }
  for (auto& line : columns) q.lines_after_results.push_back(line);
  for (auto& line : indexes) q.lines_after_results.push_back(line);
  q.lines_after_results.push_back(table[0]);
  End(false);
}

void Generator::DropTable() {
  ExpectedQuery& q = NewQuery("DROP TABLE");
  Keyword("DROP");
  Required("TABLE", "TABLE or INDEX keyword expected, instead found '");
  std::vector<std::string> table;
  Target(q, table);
  q.lines_after_results.push_back(table[0]);
  End(false);
}

void Generator::DropIndex() {
  ExpectedQuery& q = NewQuery("DROP INDEX");
  Keyword("DROP");
  Keyword("INDEX");
  if (Chance(15)) {
    Keyword("MEMORY");
    q.flags.push_back("memory");
  }
  std::string table = Fresh("t");
  if (Chance(30)) {
    table = "dir/" + table + ".dat";
    Emit("'" + table + "'");
  } else {
    Emit(table);
  }
  Emit(".");
  std::string index = Fresh("ix");
  Emit(index);
  q.lines_after_results.push_back("index name=" + index + " drop");
  q.lines_after_results.push_back("table " + table);
  End(false);
}

void Generator::Statement(int kind) {
  switch (kind) {
    case 1: Select(false, 1); break;
    case 2: Insert(); break;
    case 3: Update(); break;
    case 4: Delete(); break;
    case 5: CreateTable(); break;
    case 6: AlterTable(); break;
    case 7: DropTable(); break;
    case 8: CreateIndex(); break;
    default: DropIndex(); break;
  }
  if (pending_) {
    removal_.message += "'";
    removals.push_back(removal_);
    pending_ = false;
  }
}

std::string Generator::Dump() const {
  // The flags in the dump's fixed order.
  static const char* const order[] = {"distinct", "avg",       "calculated", "multiple",        "nojoinoptimize",
                                      "where",    "having",    "orderby",    "nocase",          "groupby",
                                      "intomemory", "subselectinsert", "withlocks", "wantlive", "memory",
                                      "noautoinc", "nobackup"};
  static const char* const settings[] = {"description", "blocksize", "language", "sort",  "password",
                                         "major",       "minor",     "lastautoinc", "commit"};
  std::string out;
  for (std::size_t i = 0; i < queries_.size(); ++i) {
    const ExpectedQuery& q = queries_[i];
    out += "query " + std::to_string(i) + " " + q.head + "\n";
    std::string flags;
    for (const char* flag : order)
      for (const std::string& set : q.flags)
        if (set == flag) {
          flags += std::string(" ") + flag;
          break;
        }
    if (!flags.empty()) out += "flags" + flags + "\n";
    for (const auto& line : q.sources) out += line + "\n";
    for (const auto& line : q.results) out += line + "\n";
    for (const auto& line : q.lines_after_results) out += line + "\n";
    for (const char* name : settings)
      for (const std::string& s : q.settings)
        if (s.compare(0, std::string(name).size() + 1, std::string(name) + "=") == 0) out += "setting " + s + "\n";
  }
  return out + "parameters " + std::to_string(parameters_) + "\n";
}

TEST_F(SqlTest, GeneratedStatementsParseToTheirModels) {
  int kinds[10] = {};
  std::map<std::string, int> removed;
  int nested = 0;
  for (unsigned seed = 1; seed <= 20000; ++seed) {
    Generator g(seed);
    const int kind = 1 + static_cast<int>(seed % 9);
    g.Statement(kind);
    ++kinds[kind];
    std::string expected = g.Dump();
    nested += expected.find("query 2 SELECT nested") != std::string::npos;
    ASSERT_EQ(ParseDump(g.text), expected) << "seed " << seed << ": " << g.text;
    for (const Removal& r : g.removals) {
      std::string without = g.text.substr(0, r.begin) + g.text.substr(std::min(r.end, g.text.size()));
      ASSERT_EQ(PrepareError(without), r.message) << "seed " << seed << ": " << without;
      ++removed[r.word];
    }
  }
  for (int kind = 1; kind <= 9; ++kind) EXPECT_GT(kinds[kind], 2000) << kind;
  for (const char* word : {"FROM", "INTO", "SET", "VALUES", "ON", "BY", "KEY", "TABLE"})
    EXPECT_GT(removed[word], 100) << word;
  EXPECT_GT(nested, 100);
}

}  // namespace
}  // namespace korvex::testing
