// Generated statement sequences over tables made and filled through SQL,
// checked against python3's sqlite3 module step by step: every SELECT's
// rows (in order under GROUP BY or ORDER BY, else sorted) and, after every
// change, the changed table; a statement must fail in both or in neither.
//
// T (Id, g, a DEFAULT 7 MINIMUM 0 MAXIMUM 500, d DECIMAL, mo MONEY,
// s CHARCASE UPPER, dt DATE DEFAULT, ds date text, m and m2 memos) takes
// INSERT with and without column lists, INSERT ... SELECT of date texts,
// UPDATE and DELETE by and of memos, parameters with every comparison and
// LIKE, DECIMAL and MONEY aggregates, CAST between texts and dates, and
// ALTER TABLE: ADD and DROP over NULLs, and NOT NULL, MINIMUM, MAXIMUM,
// narrower types and keys over rows that may fail them (SQLite makes the
// table anew with the matching checks): a refused ALTER leaves the table
// as it was in both. A (an AUTOINC key) is read with
// SELECT * after deletes. G is filled only by INSERT ... VALUES and
// grouped with a plain column beside the aggregates (the group's last row
// in the order of the file: SQLite's rowid order).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <sstream>

#include "tables/engine/cursor/data_cursor.h"
#include "tables/engine/errors/engine_error.h"
#include "tables/lib/fieldtypes.h"
#include "tests/tables/sql/dml_test_support.h"
#include "tests/tables/sql/sql_test_support.h"

namespace korvex::testing {
namespace {

// A parameter's value: 'i' integer, 'f' float, 's' text, 'd' date
// (yyyy-mm-dd).
struct Param {
  char kind;
  std::string text;
};

struct Step {
  std::string ours, lite;
  bool select = false;
  bool ordered = false;      // rows compared in order
  std::string table;         // a change: the table dumped after it
  std::vector<Param> params;
};

const char* kOursDump[] = {"SELECT Id, g, a, d, mo, s, CAST(dt AS CHAR(10)), ds, m, m2 FROM T", "SELECT * FROM A",
                           "SELECT * FROM G"};
const char* kLiteDump[] = {"SELECT Id, g, a, d, mo, s, dt, ds, m, m2 FROM T", "SELECT * FROM A", "SELECT * FROM G"};

int DumpIndex(const std::string& table) { return table == "T" ? 0 : table == "A" ? 1 : 2; }

// Days from 1 January of year 1 (that day is 1).
std::int32_t DayNumber(const std::string& date) {
  int y = std::stoi(date.substr(0, 4)), m = std::stoi(date.substr(5, 2)), d = std::stoi(date.substr(8, 2));
  y -= m <= 2;
  const int era = y / 400, yoe = y - era * 400;
  const int doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 305;
}

// Binds the values to the statement's parameters in order.
void BindParams(TQueryStatement& statement, const std::vector<Param>& params) {
  std::vector<TFieldDefinition> definitions(params.size());
  std::vector<std::uint8_t> buffer;
  for (std::size_t i = 0; i < params.size(); ++i) {
    TFieldDefinition& d = definitions[i];
    const Param& p = params[i];
    std::uint8_t value[256] = {};
    switch (p.kind) {
      case 'i': { d.DataType = dtInteger; const std::int32_t v = std::stoi(p.text); std::memcpy(value, &v, 4); break; }
      case 'f': { d.DataType = dtFloat; const double v = std::stod(p.text); std::memcpy(value, &v, 8); break; }
      case 'd': { d.DataType = dtDate; const std::int32_t v = DayNumber(p.text); std::memcpy(value, &v, 4); break; }
      default: d.DataType = dtString; std::memcpy(value, p.text.data(), p.text.size()); break;
    }
    d.FieldNumber = static_cast<std::uint16_t>(i + 1);
    d.PhysicalSize = static_cast<std::uint8_t>(d.DataType == dtString ? p.text.size() + 1 : PhysicalSizeOf(d.DataType, 0));
    d.Offset = static_cast<std::uint16_t>(buffer.size());
    buffer.push_back(1);
    buffer.insert(buffer.end(), value, value + d.PhysicalSize);
  }
  statement.SetStatementParameters(static_cast<std::int32_t>(params.size()), definitions.data(), buffer.data());
}

class Generator {
public:
  explicit Generator(std::uint32_t seed) : rng_(seed) {}

  int Pick(int n) { return static_cast<int>(rng_() % static_cast<unsigned>(n)); }
  bool Chance(int percent) { return Pick(100) < percent; }
  std::string Int(int low, int high) { return std::to_string(low + Pick(high - low + 1)); }
  std::string Decimal() { return Int(-20, 40) + "." + std::to_string(Pick(4) * 25); }
  std::string Date() {
    char text[16];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", 1700 + Pick(250), 1 + Pick(12), 1 + Pick(28));
    return text;
  }
  std::string Quoted(const std::string& text) { return "'" + text + "'"; }
  std::string Name() {
    static const char* kNames[] = {"smith", "Jones", "abel", "ZORN", "hall"};
    return kNames[Pick(5)];
  }
  std::string Group() {
    static const char* kGroups[] = {"Abel", "Hall", "Zorn"};
    return kGroups[Pick(3)];
  }
  std::string Memo() { return "memo " + Int(1, 30); }
  template <typename F>
  std::pair<std::string, std::string> OrNull(F value, int percent = 20) {
    if (Chance(percent)) return {"NULL", "NULL"};
    std::string v = value();
    return {v, v};
  }

  // A condition on T in both dialects.
  std::pair<std::string, std::string> Condition() {
    switch (Pick(9)) {
      case 0: { std::string c = "Id < " + Int(1, 60); return {c, c}; }
      case 1: { std::string c = "a > " + Int(0, 400); return {c, c}; }
      case 2: return {"m IS NOT NULL", "m IS NOT NULL"};
      case 3: return {"m IS NULL", "m IS NULL"};
      case 4: { std::string c = "m LIKE 'memo " + Int(1, 3) + "%'"; return {c, c}; }
      case 5: { std::string c = "g = " + Quoted(Group()); return {c, c}; }
      case 6: {
        const std::string date = Date();
        return {"dt < CAST('" + date + "' AS DATE)", "dt < '" + date + "'"};
      }
      case 7: { std::string c = "d >= " + Decimal(); return {c, c}; }
      default: { std::string c = "m2 LIKE '%" + Int(0, 9) + "'"; return {c, c}; }
    }
  }

  Step InsertT(int id) {
    const std::string g = Chance(15) ? "NULL" : Quoted(Group());
    const std::string s = Name();
    if (Chance(30)) {
      // Defaults fill a and dt.
      return {"INSERT INTO T (Id, g, s) VALUES (" + std::to_string(id) + ", " + g + ", '" + s + "')",
              "INSERT INTO T (Id, g, s) VALUES (" + std::to_string(id) + ", " + g + ", UPPER('" + s + "'))", false,
              false, "T", {}};
    }
    auto a = OrNull([&] { return Int(-5, 520); });
    auto d = OrNull([&] { return Decimal(); });
    auto mo = OrNull([&] { return Int(-9, 99) + "." + std::to_string(Pick(2) * 5); });
    auto dt = OrNull([&] { return Quoted(Date()); });
    auto ds = OrNull([&] { return Quoted(Date()); });
    auto m = OrNull([&] { return Quoted(Memo()); }, 30);
    auto m2 = OrNull([&] { return Quoted(Memo()); }, 50);
    const std::string head = "INSERT INTO T VALUES (" + std::to_string(id) + ", " + g + ", " + a.first + ", " +
                             d.first + ", " + mo.first + ", ";
    const std::string tail = ", " + dt.first + ", " + ds.first + ", " + m.first + ", " + m2.first + ")";
    return {head + "'" + s + "'" + tail, head + "UPPER('" + s + "')" + tail, false, false, "T", {}};
  }

  Step ParameterStep() {
    static const char* kOps[] = {"=", "<>", "<", "<=", ">", ">="};
    const std::string op = kOps[Pick(6)];
    const std::string lite_op = op == "<>" ? "IS NOT" : op;
    Param p;
    std::string column;
    switch (Pick(7)) {
      case 0: column = "a"; p = {'i', Int(0, 500)}; break;
      case 1: column = "d"; p = {'f', Decimal()}; break;
      case 2: column = "mo"; p = {'f', Int(-9, 99) + ".5"}; break;
      case 3: column = "s"; p = {'s', "ABEL"}; break;
      case 4: column = "dt"; p = {'d', Date()}; break;
      case 5: {
        const bool memo = Chance(50);
        const std::string pattern = memo ? "memo " + Int(1, 3) + "%" : std::string(Pick(2) ? "S%" : "%E%");
        Step step{std::string("SELECT Id FROM T WHERE ") + (memo ? "m" : "s") + " LIKE ?",
                  std::string("SELECT Id FROM T WHERE ") + (memo ? "m" : "s") + " LIKE ?", true, false, "", {}};
        step.params = {{'s', pattern}};
        return step;
      }
      default: {
        // A change by a parameter.
        const std::string id = Int(20, 60);
        Step step{"DELETE FROM T WHERE a " + op + " ? AND Id > " + id,
                  "DELETE FROM T WHERE a " + lite_op + " ? AND Id > " + id, false, false, "T", {}};
        step.params = {{'i', Int(0, 500)}};
        return step;
      }
    }
    Step step{"SELECT Id FROM T WHERE " + column + " " + op + " ?",
              "SELECT Id FROM T WHERE " + column + " " + lite_op + " ?", true, false, "", {}};
    step.params = {p};
    return step;
  }

  Step Change(const std::string& ours, const std::string& lite) { return {ours, lite, false, false, "T", {}}; }

  // T as SQLite holds it: its columns, n with the checks it has here, and
  // one more table check. The NOT NULL, MINIMUM, MAXIMUM, narrower type or
  // key of our ALTER is a check SQLite tests on every row when the table
  // is made anew with it.
  std::string LiteT(const std::string& name, bool has_n, const std::string& n_checks,
                    const std::string& table_check) const {
    return "CREATE TABLE " + name +
           " (Id INTEGER, g TEXT, a INTEGER DEFAULT 7 CHECK (a >= 0 AND a <= 500), d REAL, mo REAL, s TEXT, "
           "dt TEXT DEFAULT '1900-02-03', ds TEXT, m TEXT, m2 TEXT" +
           (has_n ? ", n INTEGER DEFAULT 5" + n_checks : std::string()) + table_check + ")";
  }
  // SQLite's form of an ALTER: T made anew with the new checks and its
  // rows copied (one that fails a check fails the whole step).
  std::string Rebuild(bool has_n, bool copy_n, const std::string& n_checks = "", const std::string& table_check = "") {
    const std::string columns = std::string("Id, g, a, d, mo, s, dt, ds, m, m2") + (copy_n ? ", n" : "");
    return LiteT("T2", has_n, n_checks, table_check) + ";INSERT INTO T2 (" + columns + ") SELECT " + columns +
           " FROM T;DROP TABLE T;ALTER TABLE T2 RENAME TO T";
  }

  // ALTERs of T. Adding and dropping n always run; every other one is a
  // pair: a change that the rows may refuse (a NOT NULL, limits, a
  // narrower type, a key), then one that undoes it and runs whether or not
  // the first did, so that no check stays uncertain for later steps.
  Step AlterT(bool& has_n) {
    if (!has_n && Chance(40)) {
      has_n = true;
      return Change("ALTER TABLE T ADD n INTEGER DEFAULT 5", Rebuild(true, false));
    }
    if (has_n && Chance(20)) {
      has_n = false;
      return Change("ALTER TABLE T DROP n", Rebuild(false, false));
    }
    std::vector<std::pair<Step, Step>> pairs = {
        {Change("ALTER TABLE T REDEFINE s CHAR(4)", Rebuild(has_n, has_n, "", ", CHECK (length(s) <= 4)")),
         Change("ALTER TABLE T REDEFINE s CHAR(8)", Rebuild(has_n, has_n))},
        {Change("ALTER TABLE T REDEFINE g INTEGER", Rebuild(has_n, has_n, "", ", CHECK (g IS NULL)")),
         Change("ALTER TABLE T REDEFINE g CHAR(6)", Rebuild(has_n, has_n))},
        {Change("ALTER TABLE T ADD PRIMARY KEY (Id)", Rebuild(has_n, has_n, "", ", UNIQUE (Id)")),
         Change("ALTER TABLE T DROP PRIMARY KEY", Rebuild(has_n, has_n))},
        {Change("ALTER TABLE T ADD r INTEGER NOT NULL", "ALTER TABLE T ADD COLUMN r INTEGER NOT NULL"),
         Change("ALTER TABLE T DROP r", "ALTER TABLE T DROP COLUMN r")},
    };
    if (has_n) {
      // A blank compares as zero with a limit.
      pairs.push_back({Change("ALTER TABLE T REDEFINE n NOT NULL", Rebuild(true, true, " NOT NULL")),
                       Change("ALTER TABLE T DROP n", Rebuild(false, false))});
      pairs.push_back({Change("ALTER TABLE T REDEFINE n MAXIMUM 100", Rebuild(true, true, " CHECK (coalesce(n, 0) <= 100)")),
                       Change("ALTER TABLE T REDEFINE n MAXIMUM 1000000", Rebuild(true, true))});
      pairs.push_back({Change("ALTER TABLE T REDEFINE n MINIMUM 10", Rebuild(true, true, " CHECK (coalesce(n, 0) >= 10)")),
                       Change("ALTER TABLE T REDEFINE n MINIMUM -1000000", Rebuild(true, true))});
      pairs.push_back(
          {Change("ALTER TABLE T REDEFINE n SMALLINT", Rebuild(true, true, " CHECK (n BETWEEN -32768 AND 32767)")),
           Change("ALTER TABLE T REDEFINE n INTEGER", Rebuild(true, true))});
    }
    const std::size_t pick = static_cast<std::size_t>(Pick(static_cast<int>(pairs.size())));
    if (has_n && pick == 4) has_n = false;  // NOT NULL is undone by dropping n
    pending_.push_back(pairs[pick].second);
    return pairs[pick].first;
  }

  Step Next(int& next_id, bool& has_n) {
    if (!pending_.empty()) {
      Step step = pending_.back();
      pending_.pop_back();
      return step;
    }
    const int kind = Pick(20);
    switch (kind) {
      case 0: case 1: case 2: return InsertT(next_id++);
      case 3: {
        auto [c, lc] = Condition();
        return {"UPDATE T SET m2 = m WHERE " + c, "UPDATE T SET m2 = m WHERE " + lc, false, false, "T", {}};
      }
      case 4: {
        auto [c, lc] = Condition();
        const std::string memo = Quoted(Memo());
        return {"UPDATE T SET m = " + memo + " WHERE " + c, "UPDATE T SET m = " + memo + " WHERE " + lc, false, false,
                "T", {}};
      }
      case 5: {
        auto [c, lc] = Condition();
        const std::string k = Int(1, 60);
        return {"UPDATE T SET a = a + " + k + ", d = d + 1.25, mo = mo * 2 WHERE " + c,
                "UPDATE T SET a = a + " + k + ", d = d + 1.25, mo = mo * 2 WHERE " + lc, false, false, "T", {}};
      }
      case 6: {
        auto [c, lc] = Condition();
        const std::string n = Name();
        return {"UPDATE T SET s = '" + n + "' WHERE " + c, "UPDATE T SET s = UPPER('" + n + "') WHERE " + lc, false,
                false, "T", {}};
      }
      case 7: {
        auto [c, lc] = Condition();
        const std::string id = Int(10, 60);
        return {"DELETE FROM T WHERE " + c + " AND Id > " + id, "DELETE FROM T WHERE " + lc + " AND Id > " + id, false,
                false, "T", {}};
      }
      case 8: {
        // Date texts into the DATE column.
        auto [c, lc] = Condition();
        const std::string shift = std::to_string(1000 * (1 + Pick(50)));
        return {"INSERT INTO T (Id, g, dt) SELECT Id + " + shift + ", g, ds FROM T WHERE Id < 1000 AND " + c,
                "INSERT INTO T (Id, g, dt) SELECT Id + " + shift + ", g, ds FROM T WHERE Id < 1000 AND " + lc, false,
                false, "T", {}};
      }
      case 9: {
        // G's rows come in the same order to both.
        const std::string row = (Chance(15) ? std::string("NULL") : Quoted(Group())) + ", " + Int(0, 400) + ", " +
                                (Chance(15) ? std::string("NULL") : Decimal());
        return {"INSERT INTO G VALUES (" + row + ")", "INSERT INTO G VALUES (" + row + ")", false, false, "G", {}};
      }
      case 10: {
        if (Chance(60)) {
          const std::string x = Int(0, 99);
          return {"INSERT INTO A (x) VALUES (" + x + ")", "INSERT INTO A (x) VALUES (" + x + ")", false, false, "A",
                  {}};
        }
        const std::string c = "x " + std::string(Pick(2) ? "<" : ">") + " " + Int(0, 99);
        return {"DELETE FROM A WHERE " + c, "DELETE FROM A WHERE " + c, false, false, "A", {}};
      }
      case 11: return {"SELECT * FROM A", "SELECT * FROM A", true, false, "", {}};
      case 12: {
        std::string where, lite_where;
        if (Chance(50)) {
          auto [c, lc] = Condition();
          where = " WHERE " + c;
          lite_where = " WHERE " + lc;
        }
        const std::string list = "SUM(d), AVG(d), MIN(d), MAX(d), SUM(mo), AVG(mo), MIN(mo), COUNT(d), COUNT(*)";
        return {"SELECT " + list + " FROM T" + where, "SELECT " + list + " FROM T" + lite_where, true, true, "", {}};
      }
      case 13: {
        const bool descending = Chance(30);
        const std::string list = "g, SUM(d), AVG(mo), MIN(a), MAX(d), COUNT(*)";
        return {"SELECT " + list + " FROM T GROUP BY g" + (descending ? " ORDER BY g DESC" : ""),
                "SELECT " + list + " FROM T GROUP BY g ORDER BY g" + (descending ? " DESC NULLS FIRST" : ""), true,
                true, "", {}};
      }
      case 14: {
        // A plain column beside the aggregates: from the group's last row.
        const std::string low = Int(0, 300);
        return {"SELECT g, k, v, COUNT(*), SUM(v) FROM G WHERE k > " + low + " GROUP BY g",
                "SELECT g, (SELECT k FROM G H WHERE H.g IS G.g AND H.k > " + low +
                    " ORDER BY H.rowid DESC LIMIT 1), (SELECT v FROM G H WHERE H.g IS G.g AND H.k > " + low +
                    " ORDER BY H.rowid DESC LIMIT 1), COUNT(*), SUM(v) FROM G WHERE k > " + low +
                    " GROUP BY g ORDER BY g",
                true, true, "", {}};
      }
      case 15: {
        const std::string date = Date();
        switch (Pick(3)) {
          case 0:
            return {"SELECT Id, CAST(dt AS CHAR(10)) FROM T WHERE dt >= CAST('" + date + "' AS DATE)",
                    "SELECT Id, dt FROM T WHERE dt >= '" + date + "'", true, false, "", {}};
          case 1:
            return {"SELECT Id, CAST(CAST(ds AS DATE) AS CHAR(10)) FROM T WHERE CAST(ds AS DATE) <= dt",
                    "SELECT Id, ds FROM T WHERE ds <= dt", true, false, "", {}};
          default:
            return {"DELETE FROM T WHERE CAST(ds AS DATE) < CAST('" + date + "' AS DATE) AND Id > 40",
                    "DELETE FROM T WHERE ds < '" + date + "' AND Id > 40", false, false, "T", {}};
        }
      }
      case 16: case 17: return ParameterStep();
      case 18: return AlterT(has_n);
      default: {
        if (has_n && Chance(50)) {
          auto [c, lc] = Condition();
          static const char* kValues[] = {"NULL", "NULL", "40000", "150"};
          const std::string v = Chance(50) ? Int(0, 200) : kValues[Pick(4)];
          return Change("UPDATE T SET n = " + v + " WHERE " + c, "UPDATE T SET n = " + v + " WHERE " + lc);
        }
        if (has_n) return {"SELECT Id, n FROM T", "SELECT Id, n FROM T", true, false, "", {}};
        return InsertT(next_id++);
      }
    }
  }

private:
  std::mt19937 rng_;
  std::vector<Step> pending_;  // the second step of an ALTER pair
};

class GeneratedSqliteTest : public DmlTest {
protected:
  // Our rows or table after a step: "OK n" or "ERR", then the rows.
  std::pair<std::string, std::vector<std::string>> Ours(const Step& step) {
    std::pair<std::string, std::vector<std::string>> answer;
    try {
      TQueryStatement statement(dir_);
      std::int32_t position = 0;
      statement.PrepareStatement(step.ours, position);
      BindParams(statement, step.params);
      TDataCursor* result = nullptr;
      statement.ExecuteStatement(result);
      answer.first = "OK " + std::to_string(statement.GetRowsAffected());
      if (result) answer.second = ResultRows(*result);
    } catch (const EKORVEXEngineError& e) {
      answer.first = "ERR";
      last_error_ = e.what();
    }
    if (!step.select) {
      TQueryStatement statement(dir_);
      answer.second = ResultRows(*Execute(statement, kOursDump[DumpIndex(step.table)]));
    }
    if (!step.ordered) std::sort(answer.second.begin(), answer.second.end());
    return answer;
  }

  std::string last_error_;
};

std::string PythonString(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("\\'") : std::string(1, c);
  return out + "'";
}

TEST_F(GeneratedSqliteTest, SequencesAgreeWithSqlite) {
  const char* kCreate[][2] = {
      {"CREATE TABLE T (Id INTEGER, g CHAR(6), a INTEGER DEFAULT 7 MINIMUM 0 MAXIMUM 500, d DECIMAL(10,2), mo MONEY, "
       "s CHAR(8) CHARCASE UPPER, dt DATE DEFAULT '1900-02-03', ds CHAR(10), m BLOB(0,1), m2 BLOB(0,1))",
       "CREATE TABLE T (Id INTEGER, g TEXT, a INTEGER DEFAULT 7 CHECK (a >= 0 AND a <= 500), d REAL, mo REAL, s TEXT, "
       "dt TEXT DEFAULT '1900-02-03', ds TEXT, m TEXT, m2 TEXT)"},
      {"CREATE TABLE A (aid AUTOINC, x INTEGER)", "CREATE TABLE A (aid INTEGER PRIMARY KEY AUTOINCREMENT, x INTEGER)"},
      {"CREATE TABLE G (g CHAR(6), k INTEGER, v DECIMAL(8,2))", "CREATE TABLE G (g TEXT, k INTEGER, v REAL)"},
  };
  int steps_run = 0, failures = 0, selects = 0, with_params = 0, mismatches = 0, alters = 0, refused_alters = 0;
  for (std::uint32_t seed : {21u, 22u, 23u, 24u, 25u}) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    Generator generator(seed);
    std::vector<Step> steps;
    for (auto& create : kCreate) steps.push_back({create[0], create[1], false, false, std::string(1, create[0][13]), {}});
    int next_id = 1;
    bool has_n = false;
    for (int i = 0; i < 30; ++i) steps.push_back(generator.InsertT(next_id++));
    while (steps.size() < 250) steps.push_back(generator.Next(next_id, has_n));

    std::ostringstream py;
    py << "import sqlite3\nc = sqlite3.connect(':memory:', isolation_level=None)\n"
          "c.execute('PRAGMA case_sensitive_like = ON')\n"
          "def f(v):\n"
          "  if v is None: return 'NULL'\n"
          "  if isinstance(v, float): return '%.9g' % v\n"
          "  return str(v)\n"
          "def rows(r, ordered):\n"
          "  lines = ['|'.join(f(v) for v in row) for row in r]\n"
          "  for line in (lines if ordered else sorted(lines)): print(line)\n"
          "  print('--')\n"
          "def step(sql, params, select, ordered, dump):\n"
          "  try:\n"
          "    cur = c.execute('SAVEPOINT s')\n"
          "    for part in sql.split(';'): cur = c.execute(part, params)\n"
          "    r = cur.fetchall() if select else None\n"
          "    c.execute('RELEASE s')\n"
          "    print('OK', len(r) if select else max(cur.rowcount, 0))\n"
          "  except sqlite3.Error:\n"
          "    c.execute('ROLLBACK TO s')\n"
          "    c.execute('RELEASE s')\n"
          "    print('ERR')\n"
          "    r = []\n"
          "  if select: rows(r, ordered)\n"
          "  else: rows(c.execute(dump).fetchall(), False)\n";
    for (const Step& s : steps) {
      std::string params = "[";
      for (const Param& p : s.params)
        params += (p.kind == 'i' ? "int(" + PythonString(p.text) + ")"
                   : p.kind == 'f' ? "float(" + PythonString(p.text) + ")"
                                   : PythonString(p.text)) + ",";
      params += "]";
      const std::string dump = s.select ? "" : kLiteDump[DumpIndex(s.table)];
      py << "step(" << PythonString(s.lite) << ", " << params << ", " << (s.select ? "True" : "False") << ", "
         << (s.ordered ? "True" : "False") << ", " << PythonString(dump) << ")\n";
    }
    const auto answers = SqliteAnswers(py.str(), 1);
    ASSERT_EQ(answers.size(), steps.size());
    for (std::size_t i = 0; i < steps.size(); ++i) {
      const Step& s = steps[i];
      SCOPED_TRACE(s.ours);
      last_error_.clear();
      const auto [outcome, rows] = Ours(s);
      ++steps_run;
      failures += outcome == "ERR";
      if (s.ours.rfind("ALTER", 0) == 0) {
        ++alters;
        refused_alters += outcome == "ERR";
      }
      selects += s.select;
      with_params += !s.params.empty();
      // A SELECT's rows affected is its row count; a failed statement's
      // table is as it was.
      EXPECT_EQ(outcome, answers[i].outcome) << last_error_;
      EXPECT_EQ(rows, answers[i].tables[0]);
      if (HasFailure()) {
        ++mismatches;
        break;
      }
    }
    for (const char* table : {"T", "A", "G"}) RunError(std::string("DROP TABLE ") + table);
    if (HasFailure()) break;
  }
  EXPECT_EQ(mismatches, 0);
  EXPECT_GT(failures, 5);
  EXPECT_GT(selects, 200);
  EXPECT_GT(with_params, 50);
  // ALTERs the rows refuse, and ALTERs that run over rows.
  EXPECT_GT(refused_alters, 10);
  EXPECT_GT(alters - refused_alters, 20);
  RecordProperty("steps", steps_run);
  RecordProperty("alters", alters);
  RecordProperty("refused_alters", refused_alters);
  RecordProperty("failures", failures);
}

}  // namespace
}  // namespace korvex::testing
