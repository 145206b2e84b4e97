#include "tests/tables/sql/sql_random_support.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <sstream>

#include "tables/engine/cursor/data_cursor.h"
#include "tables/lib/fieldtypes.h"
#include "tests/tables/engine/cursor_test_support.h"

namespace korvex::testing::sqlrand {

namespace {

// Proleptic Gregorian day numbers, 1 January of year 1 being day 1 (python's
// date.toordinal).
std::int64_t DayNumber(int y, int m, int d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const std::int64_t yoe = y - era * 400;
  const std::int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468 + 719163;
}

const std::int64_t kFirstDay = DayNumber(1699, 12, 20);
constexpr int kDays = 40;
constexpr std::int64_t kMsPerDay = 86'400'000;
// Whole seconds: both engines keep them exactly.
const int kSeconds[] = {0, 1, 59, 3600, 3661, 7322, 36000, 43199, 43200, 45296, 61200, 86399};

const char* const kTexts[] = {"Smith", "smith", "SMITH", "Smyth", "Jones", "Abel", "abel", "Zorn",
                              "Hall",  "Ives",  "McKay", "Abba",  "ab",   "Sm",   "S",    "Smithson"};

// No pattern matches the empty string: '' is NULL here.
const char* const kPatterns[] = {"Sm%", "%th", "S_i%", "%m%", "_", "%_", "Jones", "a%b", "%_c", "Sm_th", "%a%", "S%n"};

std::string Quote(const std::string& text) { return "'" + text + "'"; }

TSql Paren(const TSql& e) { return {"(" + e.ours + ")", "(" + e.lite + ")"}; }

TSql Wrap(const std::string& ours_fn, const std::string& lite_fn, const TSql& e) {
  return {ours_fn + "(" + e.ours + ")", lite_fn + "(" + e.lite + ")"};
}

std::string Join(const std::vector<std::string>& parts, const char* with) {
  std::string out;
  for (std::size_t i = 0; i < parts.size(); ++i) out += (i ? with : "") + parts[i];
  return out;
}

std::string FloatText(double d) {
  char text[64];
  std::snprintf(text, sizeof text, "%.17g", d);
  std::string t = text;
  if (t.find_first_of(".eE") == std::string::npos) t += ".0";
  return t;
}

}  // namespace

std::string IsoDate(std::int64_t day) {
  // Inverse of DayNumber.
  const std::int64_t z = day - 719163 + 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const std::int64_t doe = z - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  const std::int64_t d = doy - (153 * mp + 2) / 5 + 1;
  const std::int64_t m = mp < 10 ? mp + 3 : mp - 9;
  const std::int64_t y = yoe + era * 400 + (m <= 2);
  char text[80];
  std::snprintf(text, sizeof text, "%04lld-%02lld-%02lld", static_cast<long long>(y), static_cast<long long>(m),
                static_cast<long long>(d));
  return text;
}

std::string IsoTime(std::int64_t ms) {
  const std::int64_t s = ms / 1000;
  char text[80];
  std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld", static_cast<long long>(s / 3600),
                static_cast<long long>(s / 60 % 60), static_cast<long long>(s % 60));
  return text;
}

TClass ClassOf(TKind kind) {
  switch (kind) {
    case TKind::Char: return TClass::Text;
    case TKind::Date: return TClass::Date;
    case TKind::Time: return TClass::Time;
    case TKind::TimeStamp: return TClass::TimeStamp;
    case TKind::Boolean: return TClass::Boolean;
    default: return TClass::Number;
  }
}

std::string TaggedText(TKind kind, const TValue& v) {
  if (v.null) return "N";
  switch (kind) {
    case TKind::Float:
    case TKind::Money: return "F" + FloatText(v.f);
    case TKind::Char: return "S" + v.s;
    case TKind::Date: return "S" + IsoDate(v.i);
    case TKind::Time: return "S" + IsoTime(v.i);
    case TKind::TimeStamp: {
      const auto ms = static_cast<std::int64_t>(v.f);
      return "S" + IsoDate(ms / kMsPerDay) + " " + IsoTime(ms % kMsPerDay);
    }
    default: return "I" + std::to_string(v.i);
  }
}

// ---- tables ---------------------------------------------------------------------

TValue TGenerator::Value(const TColumn& column) {
  TValue v;
  if (column.nulls && Pick(5) == 0) return v;
  v.null = false;
  switch (column.kind) {
    case TKind::SmallInt: v.i = Pick(41) - 20; break;
    case TKind::Integer: v.i = Pick(101) - 50; break;
    case TKind::Word: v.i = Pick(41); break;
    case TKind::Boolean: v.i = Pick(2); break;
    case TKind::Float:
    case TKind::Money: v.f = (Pick(81) - 40) / 4.0; break;
    case TKind::Char: v.s = std::string(kTexts[Pick(16)]).substr(0, static_cast<std::size_t>(column.size)); break;
    case TKind::Date: v.i = kFirstDay + Pick(kDays); break;
    case TKind::Time: v.i = std::int64_t{kSeconds[Pick(12)]} * 1000; break;
    case TKind::TimeStamp:
      v.f = static_cast<double>((kFirstDay + Pick(8)) * kMsPerDay + std::int64_t{kSeconds[Pick(12)]} * 1000);
      break;
  }
  return v;
}

TSql TGenerator::Literal(TKind kind, const TValue& v) const {
  if (v.null) return {"NULL", "NULL"};
  std::string t = TaggedText(kind, v).substr(1);
  switch (kind) {
    case TKind::Char:
    case TKind::Date:
    case TKind::Time:
    case TKind::TimeStamp: return {Quote(t), Quote(t)};
    case TKind::Boolean: return {v.i ? "TRUE" : "FALSE", v.i ? "1" : "0"};
    default: return {t, t};
  }
}

TSchema TGenerator::Schema(int max_rows) {
  static const TKind kKinds[] = {TKind::SmallInt, TKind::Integer, TKind::Word,      TKind::Float,  TKind::Money,
                                 TKind::Char,     TKind::Date,    TKind::TimeStamp, TKind::Time,   TKind::Boolean};
  TSchema schema;
  const int count = 2 + Pick(3);
  for (int t = 0; t < count; ++t) {
    TTable table;
    table.name = "R" + std::to_string(t + 1);
    const bool keyed = Chance(40);
    if (keyed) table.columns.push_back({"Id", TKind::Integer, 0, false});
    // Every table has a number and a text to join on and group by.
    table.columns.push_back({"N" + std::to_string(t), TKind::Integer, 0, Chance(50)});
    table.columns.push_back({"S" + std::to_string(t), TKind::Char, 3 + Pick(10), Chance(50)});
    const int more = 2 + Pick(5);
    for (int c = 0; c < more; ++c) {
      const TKind kind = kKinds[Pick(10)];
      table.columns.push_back(
          {"C" + std::to_string(c), kind, kind == TKind::Char ? 2 + Pick(12) : 0, Chance(50)});
    }
    // Sizes skewed towards small tables so that joins stay cheap.
    const double u = std::uniform_real_distribution<double>(0, 1)(random_);
    const int rows = Chance(5) ? 0 : static_cast<int>(u * u * max_rows);
    std::vector<int> ids(static_cast<std::size_t>(rows));
    for (int r = 0; r < rows; ++r) ids[static_cast<std::size_t>(r)] = r + 1;
    std::shuffle(ids.begin(), ids.end(), random_);
    for (int r = 0; r < rows; ++r) {
      std::vector<TValue> row;
      for (const TColumn& column : table.columns) {
        if (keyed && row.empty()) {
          TValue id;
          id.null = false;
          id.i = ids[static_cast<std::size_t>(r)];
          row.push_back(id);
        } else {
          row.push_back(Value(column));
        }
      }
      table.rows.push_back(row);
    }
    if (keyed) table.indexes.push_back({{0}, true, false, false});
    const int indexes = Pick(3);
    for (int i = 0; i < indexes; ++i) {
      TIndex index;
      const int fields = 1 + Pick(2);
      for (int f = 0; f < fields; ++f) {
        const int column = Pick(static_cast<int>(table.columns.size()));
        if (std::find(index.fields.begin(), index.fields.end(), column) == index.fields.end())
          index.fields.push_back(column);
      }
      index.descending = Chance(30);
      index.nocase = Chance(30);
      table.indexes.push_back(index);
    }
    schema.tables.push_back(std::move(table));
  }
  return schema;
}

// ---- expressions ----------------------------------------------------------------

bool TGenerator::ColumnOf(const std::vector<TSource>& sources, TClass wanted, TSql& out, TKind* kind) {
  std::vector<std::pair<const TSource*, const TColumn*>> found;
  for (const TSource& s : sources)
    for (const TColumn& c : s.table->columns)
      if (ClassOf(c.kind) == wanted) found.emplace_back(&s, &c);
  if (found.empty()) return false;
  auto [s, c] = found[static_cast<std::size_t>(Pick(static_cast<int>(found.size())))];
  out = {s->alias + "." + c->name, s->alias + "." + c->name};
  if (kind) *kind = c->kind;
  return true;
}

TSql TGenerator::Constant(TClass wanted) {
  TColumn column{"", TKind::Integer, 12, false};
  switch (wanted) {
    case TClass::Number: column.kind = Chance(60) ? TKind::SmallInt : TKind::Float; break;
    case TClass::Text: column.kind = TKind::Char; break;
    case TClass::Date: column.kind = TKind::Date; break;
    case TClass::Time: column.kind = TKind::Time; break;
    case TClass::TimeStamp: column.kind = TKind::TimeStamp; break;
    case TClass::Boolean: column.kind = TKind::Boolean; break;
  }
  return Literal(column.kind, Value(column));
}

TSql TGenerator::Numeric(const std::vector<TSource>& sources, int depth, bool& word) {
  word = false;
  TSql column;
  TKind kind = TKind::Integer;
  switch (depth <= 0 ? Pick(3) : Pick(14)) {
    case 0:
    case 1:
    case 2:
      if (!ColumnOf(sources, TClass::Number, column, &kind)) return Constant(TClass::Number);
      word = kind == TKind::Word;
      return Pick(8) == 0 ? Constant(TClass::Number) : column;
    case 3:
    case 4:
    case 5:
    case 6: {
      bool lw, rw;
      TSql a = Numeric(sources, depth - 1, lw);
      TSql b = Numeric(sources, 0, rw);
      Count("arithmetic");
      // A word minus a larger number leaves the word's range and raises
      // here: words only add and multiply.
      const char* ops = lw || rw ? "+*" : "+-*";
      const char op = ops[Pick(static_cast<int>(std::strlen(ops)))];
      if (Chance(20)) {
        static const char* kDivisors[] = {"2", "4", "-2", "0.5"};
        const std::string d = kDivisors[Pick(4)];
        return Paren({a.ours + " / " + d, "CAST(" + a.lite + " AS REAL) / " + d});
      }
      word = lw && rw;
      return Paren({a.ours + " " + op + " " + b.ours, a.lite + " " + op + " " + b.lite});
    }
    case 7: {
      bool w;
      TSql a = Numeric(sources, depth - 1, w);
      word = w;
      Count("numeric function");
      return Wrap("ABS", "abs", a);
    }
    case 8:
    case 9: {
      static const char* kParts[] = {"YEAR", "MONTH", "DAY", "HOUR", "MINUTE", "SECOND"};
      static const char* kFormats[] = {"%Y", "%m", "%d", "%H", "%M", "%S"};
      int part;
      TSql of;
      if (Chance(50) && ColumnOf(sources, TClass::Date, of)) part = Pick(3);
      else if (Chance(50) && ColumnOf(sources, TClass::Time, of)) part = 3 + Pick(3);
      else if (ColumnOf(sources, TClass::TimeStamp, of)) part = Pick(6);
      else return Constant(TClass::Number);
      Count("EXTRACT");
      return {"EXTRACT(" + std::string(kParts[part]) + " FROM " + of.ours + ")",
              "CAST(strftime('" + std::string(kFormats[part]) + "', " + of.lite + ") AS INTEGER)"};
    }
    case 10: {
      TSql s = Text(sources, 0);
      static const char* kFinds[] = {"m", "S", "th", "b", "i"};
      const std::string f = kFinds[Pick(5)];
      Count("string function");
      return {"POS('" + f + "' IN " + s.ours + ")", "COALESCE(instr(" + s.lite + ", '" + f + "'), 0)"};
    }
    case 11: {
      TSql c = Condition(sources, 0);
      const std::string one = std::to_string(Pick(9) - 4), two = std::to_string(Pick(9) - 4);
      Count("IF");
      return {"IF(" + c.ours + " THEN " + one + " ELSE " + two + ")", "iif(" + c.lite + ", " + one + ", " + two + ")"};
    }
    default: {
      TSql c;
      if (!ColumnOf(sources, TClass::Number, c, &kind) || kind == TKind::Word) return Constant(TClass::Number);
      Count("numeric function");
      if (kind == TKind::Float || kind == TKind::Money) return Wrap("ROUND", "round", c);
      return Wrap("ABS", "abs", c);
    }
  }
}

TSql TGenerator::Text(const std::vector<TSource>& sources, int depth) {
  TSql n;
  if (!ColumnOf(sources, TClass::Text, n) || Pick(8) == 0) return Constant(TClass::Text);
  switch (depth <= 0 ? 0 : Pick(8)) {
    case 1: Count("string function"); return Wrap("UPPER", "upper", n);
    case 2: Count("string function"); return Wrap("LOWER", "lower", n);
    case 3: {
      const std::string from = std::to_string(1 + Pick(4)), count = std::to_string(1 + Pick(3));
      Count("string function");
      if (Chance(50))
        return {"SUBSTRING(" + n.ours + " FROM " + from + ")", "NULLIF(substr(" + n.lite + ", " + from + "), '')"};
      return {"SUBSTRING(" + n.ours + " FROM " + from + " FOR " + count + ")",
              "NULLIF(substr(" + n.lite + ", " + from + ", " + count + "), '')"};
    }
    case 4: {
      const std::string ch = Chance(50) ? "S" : "h";
      Count("string function");
      return {"TRIM(BOTH '" + ch + "' FROM " + n.ours + ")", "NULLIF(trim(" + n.lite + ", '" + ch + "'), '')"};
    }
    case 5:
    case 6: {
      TSql other = Text(sources, 0);
      Count("concatenation");
      return Paren({n.ours + " || " + other.ours,
                    "COALESCE(" + n.lite + ", '') || COALESCE(" + other.lite + ", '')"});
    }
    default: return n;
  }
}

TSql TGenerator::Value(const std::vector<TSource>& sources, TClass wanted, int depth) {
  bool word;
  TSql c;
  switch (wanted) {
    case TClass::Number: return Numeric(sources, depth, word);
    case TClass::Text: return Text(sources, depth);
    case TClass::Date:
      if (!ColumnOf(sources, TClass::Date, c)) return Constant(TClass::Date);
      if (depth > 0 && Chance(30)) {
        const int days = Pick(21) - 10;
        Count("arithmetic");
        return Paren({c.ours + " + " + std::to_string(days),
                      "date(" + c.lite + ", '" + (days >= 0 ? "+" : "") + std::to_string(days) + " days')"});
      }
      return c;
    default:
      if (!ColumnOf(sources, wanted, c)) return Constant(wanted);
      return c;
  }
}

TSql TGenerator::Comparison(const TSql& a, const TSql& b, bool ordered) {
  static const char* kOps[] = {"=", "<>", "<", ">", "<=", ">="};
  const std::string op = kOps[ordered ? Pick(6) : Pick(2)];
  Count("comparison");
  if (op == "=") return Paren({a.ours + " = " + b.ours, a.lite + " IS " + b.lite});
  if (op == "<>") return Paren({a.ours + " <> " + b.ours, a.lite + " IS NOT " + b.lite});
  return {"(" + a.ours + " " + op + " " + b.ours + ")", "COALESCE(" + a.lite + " " + op + " " + b.lite + ", 0)"};
}

TSql TGenerator::SubSelect(const std::vector<TSource>& sources) {
  // x IN (SELECT s.c FROM table s WHERE ...): the sub-select names only its
  // own table.
  const TSource& any = sources[static_cast<std::size_t>(Pick(static_cast<int>(sources.size())))];
  const TTable& table = *any.table;
  const TColumn& column = table.columns[static_cast<std::size_t>(Pick(static_cast<int>(table.columns.size())))];
  const TClass cls = ClassOf(column.kind);
  if (cls == TClass::Boolean) return Condition(sources, 0);
  TSql tested;
  if (!ColumnOf(sources, cls, tested)) tested = Constant(cls);
  sub_selects_ = false;
  const std::vector<TSource> inner = {{&table, "q1"}};
  const std::string c = inner[0].alias + "." + column.name;
  std::string ours = tested.ours + " IN (SELECT " + c + " FROM " + table.name + " " + inner[0].alias;
  std::string lite = "EXISTS (SELECT 1 FROM " + table.name + " " + inner[0].alias + " WHERE " + c + " IS " + tested.lite;
  if (Chance(60)) {
    TSql where = Condition(inner, 1);
    ours += " WHERE " + where.ours;
    lite += " AND " + where.lite;
  }
  sub_selects_ = true;
  Count("IN (SELECT)");
  return {ours + ")", lite + ")"};
}

TSql TGenerator::Condition(const std::vector<TSource>& sources, int depth) {
  const int choice = depth <= 0 ? Pick(10) : Pick(14);
  TSql column;
  TKind kind;
  switch (choice) {
    case 0:
    case 1: {
      bool w;
      return Comparison(Numeric(sources, 1, w), Chance(60) ? Constant(TClass::Number) : Numeric(sources, 1, w), true);
    }
    case 2: {
      TSql a = Text(sources, 1);
      return Comparison(a, Chance(60) ? Constant(TClass::Text) : Text(sources, 1), true);
    }
    case 3: {
      static const TClass kClasses[] = {TClass::Date, TClass::Time, TClass::TimeStamp};
      const TClass cls = kClasses[Pick(3)];
      TSql a = Value(sources, cls, 1);
      return Comparison(a, Chance(60) ? Constant(cls) : Value(sources, cls, 1), true);
    }
    case 4: {
      static const TClass kClasses[] = {TClass::Number, TClass::Date, TClass::Text, TClass::Time};
      const TClass cls = kClasses[Pick(4)];
      if (!ColumnOf(sources, cls, column)) return Condition(sources, 0);
      TSql low = Constant(cls), high = Constant(cls);
      if (low.ours == "NULL" || high.ours == "NULL") return Condition(sources, 0);
      Count("BETWEEN");
      return {"(" + column.ours + " BETWEEN " + low.ours + " AND " + high.ours + ")",
              "COALESCE(" + column.lite + " BETWEEN " + low.lite + " AND " + high.lite + ", 0)"};
    }
    case 5: {
      static const TClass kClasses[] = {TClass::Number, TClass::Date, TClass::Text, TClass::TimeStamp};
      const TClass cls = kClasses[Pick(4)];
      if (!ColumnOf(sources, cls, column)) return Condition(sources, 0);
      std::vector<std::string> ours, lite;
      const int count = 1 + Pick(4);
      for (int i = 0; i < count; ++i) {
        TSql v = Pick(8) == 0 ? TSql{"NULL", "NULL"} : Constant(cls);
        ours.push_back(v.ours);
        lite.push_back(column.lite + " IS " + v.lite);
      }
      Count("IN list");
      return {"(" + column.ours + " IN (" + Join(ours, ", ") + "))", "(" + Join(lite, " OR ") + ")"};
    }
    case 6: {
      TSql s = Text(sources, 1);
      const std::string pattern = kPatterns[Pick(12)];
      Count("LIKE");
      return {"(" + s.ours + " LIKE '" + pattern + "')", "COALESCE(" + s.lite + " LIKE '" + pattern + "', 0)"};
    }
    case 7: {
      const TSource& s = sources[static_cast<std::size_t>(Pick(static_cast<int>(sources.size())))];
      const TColumn& c = s.table->columns[static_cast<std::size_t>(Pick(static_cast<int>(s.table->columns.size())))];
      const std::string name = s.alias + "." + c.name;
      const std::string op = Chance(50) ? " IS NULL" : " IS NOT NULL";
      Count("IS NULL");
      return {"(" + name + op + ")", "(" + name + op + ")"};
    }
    case 8:
      if (!ColumnOf(sources, TClass::Boolean, column, &kind)) return Condition(sources, 0);
      switch (Pick(3)) {
        case 0: return {column.ours, "(" + column.lite + " IS 1)"};
        case 1: return Comparison(column, {"TRUE", "1"}, false);
        default: return Comparison(column, {"FALSE", "0"}, false);
      }
    case 9:
      if (!sub_selects_ || !Chance(50)) return Condition(sources, 0);
      return SubSelect(sources);
    case 10: {
      TSql a = Condition(sources, depth - 1);
      Count("NOT");
      return {"(NOT " + a.ours + ")", "(NOT " + a.lite + ")"};
    }
    default: {
      TSql a = Condition(sources, depth - 1), b = Condition(sources, depth - 1);
      const bool both = choice == 11;
      Count(both ? "AND" : "OR");
      const char* op = both ? " AND " : " OR ";
      return {"(" + a.ours + op + b.ours + ")", "(" + a.lite + op + b.lite + ")"};
    }
  }
}

// ---- statements -----------------------------------------------------------------

std::vector<TSource> TGenerator::From(const TSchema& schema, TSelect& select) {
  // 1 to 4 tables (a table may come twice) whose row counts multiply to at
  // most a few thousand combinations.
  static const char* kAliases[] = {"a", "b", "c", "d"};
  const int wanted = 1 + std::min(Pick(10), Pick(10)) * 3 / 9 + (Chance(40) ? 1 : 0);
  std::vector<TSource> sources;
  double product = 1;
  for (int i = 0; i < std::min(wanted, 4); ++i) {
    const TTable& t = schema.tables[static_cast<std::size_t>(Pick(static_cast<int>(schema.tables.size())))];
    const double rows = std::max<double>(1, static_cast<double>(t.rows.size()));
    if (i > 0 && product * rows > 6000) break;
    product *= rows;
    sources.push_back({&t, kAliases[i]});
  }
  // Comma joins, or JOIN / LEFT JOIN / RIGHT JOIN with ON conditions in a
  // tree: each ON names the new table and one before it.
  const bool comma = sources.size() == 1 || Chance(35);
  std::string ours = sources[0].table->name + " " + sources[0].alias, lite = ours;
  if (comma) {
    for (std::size_t i = 1; i < sources.size(); ++i) {
      ours += ", " + sources[i].table->name + " " + sources[i].alias;
      // Mostly an equality with an earlier table in WHERE.
      if (Chance(75)) {
        const std::vector<TSource> pair = {sources[static_cast<std::size_t>(Pick(static_cast<int>(i)))], sources[i]};
        TSql l, r;
        ColumnOf({pair[0]}, TClass::Number, l);
        ColumnOf({pair[1]}, TClass::Number, r);
        select.where.push_back(Comparison(l, r, Chance(10)));
      }
    }
    if (sources.size() > 1) Count("comma join");
    select.from = {ours, ours};
    return sources;
  }
  for (std::size_t i = 1; i < sources.size(); ++i) {
    // A RIGHT JOIN only as the first join: its inner side is one table.
    const int kind = Pick(i == 1 ? 4 : 3);
    static const char* kJoins[] = {" JOIN ", " LEFT JOIN ", " LEFT OUTER JOIN ", " RIGHT JOIN "};
    Count(kind == 0 ? "JOIN" : kind == 3 ? "RIGHT JOIN" : "LEFT JOIN");
    const TSource& earlier = sources[static_cast<std::size_t>(Pick(static_cast<int>(i)))];
    TSql l, r;
    // Numbers (floats among them), texts and dates; now and then a second
    // equality between the same tables, a compound key.
    TClass cls = Chance(60) ? TClass::Number : Chance(60) ? TClass::Text : TClass::Date;
    if (!ColumnOf({earlier}, cls, l) || !ColumnOf({sources[i]}, cls, r)) {
      cls = TClass::Number;
      ColumnOf({earlier}, cls, l);
      ColumnOf({sources[i]}, cls, r);
    }
    TSql on = Comparison(l, r, Chance(10));
    if (Chance(25)) {
      const TClass second = Chance(50) ? TClass::Text : TClass::Number;
      TSql l2, r2;
      if (ColumnOf({earlier}, second, l2) && ColumnOf({sources[i]}, second, r2)) {
        Count("compound join");
        on = {on.ours + " AND " + l2.ours + " = " + r2.ours, on.lite + " AND " + l2.lite + " IS " + r2.lite};
      }
    }
    if (Chance(35)) {
      // A further condition on the new table alone, or on the earlier one
      // (sub-selects have no place in ON).
      TSql more = Condition({Chance(70) ? sources[i] : earlier}, 0);
      on = {on.ours + " AND " + more.ours, on.lite + " AND " + more.lite};
    }
    const std::string join = sources[i].table->name + " " + sources[i].alias;
    ours += kJoins[kind] + join + " ON " + on.ours;
    lite += kJoins[kind] + join + " ON " + on.lite;
  }
  select.from = {ours, lite};
  return sources;
}

TSelect TGenerator::Select(const TSchema& schema) {
  TSelect select;
  const std::vector<TSource> sources = From(schema, select);
  // WHERE: zero to three conjuncts.
  const int conjuncts = Pick(4);
  sub_selects_ = true;
  for (int i = 0; i < conjuncts; ++i) select.where.push_back(Condition(sources, 2));
  sub_selects_ = false;

  static const TClass kValueClasses[] = {TClass::Number, TClass::Number, TClass::Text, TClass::Date,
                                         TClass::Time,   TClass::TimeStamp};
  auto plain = [&] {
    const TClass cls = kValueClasses[Pick(6)];
    TSql value = Value(sources, cls, Chance(40) ? 2 : 0);
    // A stored '' is NULL here, and sorts as NULL.
    if (cls == TClass::Text) value.lite = "NULLIF(" + value.lite + ", '')";
    select.columns.push_back(value);
    select.column_classes.push_back(cls);
  };
  const bool grouped = Chance(35);
  if (grouped) {
    // Aggregates, grouped by the plain columns before them.
    const int groups = Pick(3);
    for (int i = 0; i < groups; ++i) plain();
    const int aggregates = 1 + Pick(3);
    for (int i = 0; i < aggregates; ++i) {
      static const char* kNames[] = {"SUM", "MIN", "MAX", "AVG", "COUNT"};
      const int which = Pick(6);
      if (which == 5) {
        select.columns.push_back({"COUNT(*)", "COUNT(*)"});
        select.column_classes.push_back(TClass::Number);
        Count("COUNT");
        continue;
      }
      Count(kNames[which]);
      TSql argument;
      TClass cls = TClass::Number;
      bool word;
      if (which == 1 || which == 2) {
        // MIN and MAX over numbers, dates, times and timestamps.
        static const TClass kOrdered[] = {TClass::Number, TClass::Date, TClass::Time, TClass::TimeStamp};
        cls = kOrdered[Pick(4)];
        if (!ColumnOf(sources, cls, argument)) {
          cls = TClass::Number;
          argument = Numeric(sources, 1, word);
        }
      } else if (which == 4) {
        const TSource& s = sources[static_cast<std::size_t>(Pick(static_cast<int>(sources.size())))];
        const TColumn& c = s.table->columns[static_cast<std::size_t>(Pick(static_cast<int>(s.table->columns.size())))];
        argument = {s.alias + "." + c.name, s.alias + "." + c.name};
      } else {
        argument = Numeric(sources, 1, word);
        // A constant argument is refused here.
        TSql column;
        if (argument.ours.find('.') == std::string::npos && ColumnOf(sources, TClass::Number, column))
          argument = column;
      }
      select.columns.push_back({std::string(kNames[which]) + "(" + argument.ours + ")",
                                std::string(kNames[which]) + "(" + argument.lite + ")"});
      select.column_classes.push_back(cls);
    }
    for (int i = 0; i < groups; ++i) select.group_by.push_back(i + 1);
    if (groups > 0) {
      Count("GROUP BY");
      if (Chance(40)) {
        // HAVING over an aggregate of the result.
        const int column = groups + Pick(aggregates);
        const TSql& aggregate = select.columns[static_cast<std::size_t>(column)];
        // Neither COUNT(*) nor IF may stand in HAVING.
        if (select.column_classes[static_cast<std::size_t>(column)] == TClass::Number &&
            aggregate.ours != "COUNT(*)" && aggregate.ours.find("IF(") == std::string::npos) {
          select.having.push_back(Comparison(aggregate, Constant(TClass::Number), true));
          Count("HAVING");
        }
      }
    }
  } else {
    const int count = 1 + Pick(4);
    for (int i = 0; i < count; ++i) plain();
    if (Chance(20)) {
      select.distinct = true;
      Count("DISTINCT");
    }
  }
  if (Chance(55)) {
    const int keys = 1 + Pick(std::min<int>(3, static_cast<int>(select.columns.size())));
    for (int i = 0; i < keys; ++i) {
      const int column = 1 + Pick(static_cast<int>(select.columns.size()));
      const bool descending = Chance(40);
      Count(descending ? "ORDER BY DESC" : "ORDER BY ASC");
      select.order.push_back({column, descending});
    }
    if (Chance(20)) {
      select.nocase = true;
      Count("NOCASE");
    }
  }
  const TTable& first = *sources[0].table;
  if (sources.size() == 1 && !grouped && !first.indexes.empty() && Chance(30)) {
    // ORDER BY the leading fields of an index, which the index can serve;
    // now and then in the other direction or case.
    const TIndex& index = first.indexes[static_cast<std::size_t>(Pick(static_cast<int>(first.indexes.size())))];
    const int keys = 1 + Pick(static_cast<int>(index.fields.size()));
    const bool descending = index.descending != Chance(15);
    select.order.clear();
    for (int k = 0; k < keys; ++k) {
      const TColumn& c = first.columns[static_cast<std::size_t>(index.fields[static_cast<std::size_t>(k)])];
      TSql column{sources[0].alias + "." + c.name, sources[0].alias + "." + c.name};
      if (ClassOf(c.kind) == TClass::Text) column.lite = "NULLIF(" + column.lite + ", '')";
      select.columns.push_back(column);
      select.column_classes.push_back(ClassOf(c.kind));
      select.order.push_back({static_cast<int>(select.columns.size()), descending});
    }
    select.nocase = index.nocase != Chance(15);
    Count("ORDER BY index");
  }
  return select;
}

std::string TSelect::Ours() const { return Text(false); }
std::string TSelect::Lite() const { return Text(true); }

std::string TSelect::Text(bool lite) const {
  const auto side = [lite](const TSql& e) { return lite ? e.lite : e.ours; };
  std::vector<std::string> items;
  for (const TSql& c : columns) items.push_back(side(c));
  std::string s = std::string("SELECT ") + (distinct ? "DISTINCT " : "") + Join(items, ", ") + " FROM " + side(from);
  items.clear();
  for (const TSql& c : where) items.push_back(side(c));
  if (!items.empty()) s += " WHERE " + Join(items, " AND ");
  items.clear();
  for (int g : group_by) items.push_back(std::to_string(g));
  if (!items.empty()) s += " GROUP BY " + Join(items, ", ");
  items.clear();
  for (const TSql& c : having) items.push_back(side(c));
  if (!items.empty()) s += " HAVING " + Join(items, " AND ");
  items.clear();
  for (const TOrderItem& o : order) {
    items.push_back(std::to_string(o.column) + (lite && nocase ? " COLLATE NOCASE" : "") +
                    (o.descending ? (lite ? " DESC NULLS FIRST" : " DESC") : ""));
  }
  if (!items.empty()) s += " ORDER BY " + Join(items, ", ") + (!lite && nocase ? " NOCASE" : "");
  return s;
}

// ---- loading --------------------------------------------------------------------

namespace {

std::uint8_t EngineType(TKind kind) {
  switch (kind) {
    case TKind::SmallInt: return dtSmallInt;
    case TKind::Integer: return dtInteger;
    case TKind::Word: return dtWord;
    case TKind::Float:
    case TKind::Money: return dtFloat;
    case TKind::Char: return dtString;
    case TKind::Date: return dtDate;
    case TKind::Time: return dtTime;
    case TKind::TimeStamp: return dtTimeStamp;
    case TKind::Boolean: return dtBoolean;
  }
  return dtUnknown;
}

char SqliteKind(TKind kind) {
  switch (kind) {
    case TKind::Float: return 'F';
    case TKind::Money: return 'M';
    case TKind::Char: return 'S';
    case TKind::Date: return 'D';
    case TKind::Time: return 'T';
    case TKind::TimeStamp: return 'P';
    default: return 'I';
  }
}

}  // namespace

void FillTable(TDataDirectory* directory, const std::string& name, std::vector<TFieldDefinition> fields,
               const TTableCreation& creation, std::size_t rows, std::size_t columns,
               const std::function<bool(std::size_t row, std::size_t column, std::uint8_t* data)>& put) {
  auto cursor = Cursor(directory, true, name);
  cursor->CreateTable(creation, fields);
  cursor->OpenCursor();
  std::vector<std::uint8_t> record(cursor->GetRecordSize());
  for (std::size_t r = 0; r < rows; ++r) {
    cursor->ClearRecord(record.data());
    for (std::size_t i = 0; i < columns; ++i) {
      std::uint8_t data[256] = {};
      if (put(r, i, data)) cursor->PutField(static_cast<int>(i + 1), record.data(), data);
    }
    cursor->AppendRecord(record.data());
  }
  cursor->CloseCursor();
}

void NumberBytes(std::uint8_t type, std::int64_t i, double f, std::uint8_t* data) {
  switch (type) {
    case dtSmallInt: { const auto x = static_cast<std::int16_t>(i); std::memcpy(data, &x, 2); break; }
    case dtWord:
    case dtBoolean: { const auto x = static_cast<std::uint16_t>(i); std::memcpy(data, &x, 2); break; }
    case dtInteger:
    case dtDate:
    case dtTime: { const auto x = static_cast<std::int32_t>(i); std::memcpy(data, &x, 4); break; }
    default: std::memcpy(data, &f, 8); break;
  }
}

void LoadTables(TDataDirectory* directory, const TSchema& schema, bool with_indexes) {
  for (const TTable& t : schema.tables) {
    std::vector<TFieldDefinition> fields;
    for (const TColumn& c : t.columns) {
      TFieldDefinition f;
      f.Name = c.name;
      f.DataType = EngineType(c.kind);
      if (c.kind == TKind::Money) f.SubType = fstMoney;
      f.Size = static_cast<std::uint8_t>(c.size);
      fields.push_back(f);
    }
    TTableCreation creation;
    creation.Overwrite = true;
    if (with_indexes && !t.indexes.empty()) {
      creation.Indexes.resize(1);
      int secondary = 0;
      for (const TIndex& index : t.indexes) {
        TIndexDefinition def;
        for (int f : index.fields) def.Fields[def.FieldCount++] = static_cast<std::uint16_t>(f + 1);
        def.Descending = index.descending;
        def.CaseInsensitive = index.nocase;
        if (index.primary) {
          creation.Indexes[0] = def;
        } else {
          def.Name = "I" + std::to_string(++secondary);
          creation.Indexes.push_back(def);
        }
      }
      creation.IndexCount = static_cast<std::uint8_t>(secondary);
    }
    FillTable(directory, t.name, fields, creation, t.rows.size(), t.columns.size(),
              [&](std::size_t r, std::size_t i, std::uint8_t* data) {
                const TValue& v = t.rows[r][i];
                if (v.null) return false;
                if (t.columns[i].kind == TKind::Char) {
                  std::memcpy(data, v.s.data(), v.s.size());
                } else {
                  NumberBytes(fields[i].DataType, v.i, v.f, data);
                }
                return true;
              });
  }
}

void WriteSqliteTables(std::ostream& out, const TSchema& schema) {
  out << "RESET\n";
  for (const TTable& t : schema.tables) {
    out << "TABLE\t" << t.name;
    for (const TColumn& c : t.columns) out << '\t' << c.name << ':' << SqliteKind(c.kind);
    out << '\n';
    for (const auto& row : t.rows) {
      out << "ROW\t" << t.name;
      for (std::size_t i = 0; i < row.size(); ++i) {
        const std::string tagged = TaggedText(t.columns[i].kind, row[i]);
        out << '\t' << (tagged == "N" ? std::string("\\N") : tagged.substr(1));
      }
      out << '\n';
    }
  }
}

std::string SqliteScript(const TSchema& schema, const std::string& statement) {
  std::ostringstream out;
  out << "PRAGMA case_sensitive_like = ON;\n";
  TGenerator literal(0);
  for (const TTable& t : schema.tables) {
    std::vector<std::string> columns;
    for (const TColumn& c : t.columns) {
      const char k = SqliteKind(c.kind);
      columns.push_back(c.name + (k == 'I' ? " INTEGER" : k == 'F' || k == 'M' ? " REAL" : " TEXT"));
    }
    out << "CREATE TABLE " << t.name << " (" << Join(columns, ", ") << ");\n";
    for (const auto& row : t.rows) {
      std::vector<std::string> values;
      for (std::size_t i = 0; i < row.size(); ++i) values.push_back(literal.Literal(t.columns[i].kind, row[i]).lite);
      out << "INSERT INTO " << t.name << " VALUES (" << Join(values, ", ") << ");\n";
    }
  }
  out << statement << ";\n";
  return out.str();
}

}  // namespace korvex::testing::sqlrand
