// Locate and Lookup on engine tables against python3's sqlite3 over the
// same rows: 20 random tables of 2,000 rows (string, integer, float, date,
// boolean, nulls); exact, case-blind, partial and partial-'*' keys on one
// and several fields, null keys. Case-blind comparison in sqlite goes
// through a collation made from the Windows-1252 case maps.
#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>

#include "support/run_command.h"
#include "tables/lib/fieldtypes.h"
#include "tests/tables/components/components_test_support.h"

namespace korvex::testing {
namespace {

using namespace db;

struct Row {
  int n;
  std::optional<std::string> s;
  std::optional<int> i;
  std::optional<double> f;
  std::optional<int> d;  // days after day 40000
  std::optional<bool> b;
};

struct Query {
  std::vector<std::string> fields;  // of S, I, F, D, B
  std::vector<Variant> keys;
  std::vector<std::string> key_texts;  // the same for python
  TLocateOptions options = 0;
};

const char* const kLetters[] = {"a", "A", "b", "B", "\xE9", "\xC9", "\xDF", "\xFF", "\x9F", "x"};
const double kFloats[] = {0.5, -1.25, 3.0, 1e10, 0.1};

std::string Hex(const std::string& bytes) {
  std::string out;
  char part[3];
  for (unsigned char c : bytes) {
    std::snprintf(part, sizeof part, "%02x", c);
    out += part;
  }
  return out;
}

template <typename T>
std::string Json(const std::optional<T>& v, const std::function<std::string(const T&)>& text) {
  return v ? text(*v) : "null";
}

std::string FloatText(double v) {
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "%.17g", v);
  return buffer;
}

Row RandomRow(std::mt19937& rng, int n) {
  auto chance = [&](int percent) { return static_cast<int>(rng() % 100) < percent; };
  Row r{n, {}, {}, {}, {}, {}};
  if (!chance(10)) {
    std::string s;
    for (int k = 1 + static_cast<int>(rng() % 4); k > 0; --k) s += kLetters[rng() % 10];
    r.s = s;
  }
  if (!chance(10)) r.i = static_cast<int>(rng() % 11) - 5;
  if (!chance(10)) r.f = kFloats[rng() % 5];
  if (!chance(10)) r.d = static_cast<int>(rng() % 6);
  if (!chance(10)) r.b = rng() % 2 == 0;
  return r;
}

// A key for one field: mostly a value some row has (or its prefix), else a
// value no row has, sometimes null.
void AddKey(Query& q, const std::string& field, const Row& model, std::mt19937& rng) {
  q.fields.push_back(field);
  bool null = rng() % 12 == 0;
  bool miss = rng() % 6 == 0;
  if (field == "S") {
    std::optional<std::string> s = model.s;
    if (miss) s = std::string("zz");
    if (null || !s) {
      q.keys.push_back(Null);
      q.key_texts.push_back("null");
      return;
    }
    std::string key = *s;
    if ((q.options & loPartialKey) && key.size() > 1) key.resize(1 + rng() % key.size());
    std::string stored = key;
    if ((q.options & loPartialKey) && rng() % 2) key += '*';
    if (q.options & loCaseInsensitive) {
      // Flip the case of some letters the case maps pair.
      for (char& c : key) {
        if (rng() % 2) continue;
        if (c == 'a') c = 'A'; else if (c == 'b') c = 'B';
        else if (c == '\xE9') c = '\xC9'; else if (c == '\xFF') c = '\x9F';
      }
      stored = key;
      if (!stored.empty() && stored.back() == '*') stored.pop_back();
    }
    q.keys.push_back(Variant(key));
    q.key_texts.push_back("\"" + Hex(stored) + "\"");
    return;
  }
  auto push_null = [&] {
    q.keys.push_back(Null);
    q.key_texts.push_back("null");
  };
  if (field == "I") {
    std::optional<int> v = miss ? std::optional<int>(99) : model.i;
    if (null || !v) return push_null();
    q.keys.push_back(Variant(static_cast<std::int32_t>(*v)));
    q.key_texts.push_back(std::to_string(*v));
  } else if (field == "F") {
    std::optional<double> v = miss ? std::optional<double>(7.75) : model.f;
    if (null || !v) return push_null();
    q.keys.push_back(Variant(*v));
    q.key_texts.push_back(FloatText(*v));
  } else if (field == "D") {
    std::optional<int> v = miss ? std::optional<int>(30) : model.d;
    if (null || !v) return push_null();
    q.keys.push_back(Variant(VarDate{40000.0 + *v}));
    q.key_texts.push_back(std::to_string(*v));
  } else {
    if (null || !model.b) return push_null();
    q.keys.push_back(Variant(*model.b));
    q.key_texts.push_back(*model.b ? "1" : "0");
  }
}

std::string Joined(const std::vector<std::string>& parts, const char* separator) {
  std::string out;
  for (std::size_t k = 0; k < parts.size(); ++k) out += (k ? separator : "") + parts[k];
  return out;
}

// For every table and query, the N of the first matching row or -1.
const char* const kReference = R"PY(
import json, sqlite3, sys
upper = []
for b in range(256):
    try:
        u = bytes([b]).decode('cp1252').upper().encode('cp1252')
        upper.append(u[0] if len(u) == 1 else b)
    except Exception:
        upper.append(b)
def fold(text):
    return bytes(upper[ord(c)] for c in text)
def nocase(a, b):
    a, b = fold(a), fold(b)
    return (a > b) - (a < b)
data = json.load(open(sys.argv[1]))
out = []
for table in data:
    db = sqlite3.connect(':memory:')
    db.create_collation('CP1252NOCASE', nocase)
    db.execute('create table t(n integer, s text, i integer, f real, d integer, b integer)')
    for n, s, i, f, d, b in table['rows']:
        s = None if s is None else bytes.fromhex(s).decode('latin-1')
        db.execute('insert into t values (?,?,?,?,?,?)', (n, s, i, f, d, b))
    for fields, keys, options in table['queries']:
        where, args = [], []
        for field, key in zip(fields, keys):
            col = field.lower()
            if key is None:
                where.append(col + ' is null')
                continue
            if field == 'S':
                key = bytes.fromhex(key).decode('latin-1')
                lhs = 'substr(s, 1, %d)' % len(key) if options & 2 else 's'
                where.append(lhs + ' = ?' + (' collate CP1252NOCASE' if options & 1 else ''))
            else:
                where.append(col + ' = ?')
            args.append(key)
        row = db.execute('select min(n) from t where ' + ' and '.join(where), args).fetchone()[0]
        out.append(str(-1 if row is None else row))
print(' '.join(out))
)PY";

using LocateTest = ComponentsTest;

TEST_F(LocateTest, LocateAndLookupAgreeWithSqlite) {
  qvtest::TempDir dir;
  const int tables = 20, rows = 2000, queries = 60;
  const std::vector<std::vector<std::string>> field_sets{{"S"}, {"I"}, {"F"}, {"D"}, {"B"},
                                                         {"S", "I"}, {"I", "D"}, {"S", "B", "F"}};
  std::ostringstream json;
  json << "[";
  std::vector<std::vector<Query>> all_queries;
  std::vector<std::vector<Row>> all_rows;
  for (int t = 0; t < tables; ++t) {
    std::mt19937 rng(1000u + static_cast<unsigned>(t));
    std::vector<Row> data;
    for (int n = 1; n <= rows; ++n) data.push_back(RandomRow(rng, n));
    std::vector<Query> qs;
    for (int k = 0; k < queries; ++k) {
      Query q;
      q.options = static_cast<TLocateOptions>(rng() % 4);
      const Row& model = data[rng() % data.size()];
      for (const std::string& f : field_sets[rng() % field_sets.size()]) AddKey(q, f, model, rng);
      qs.push_back(std::move(q));
    }
    json << (t ? "," : "") << "{\"rows\":[";
    for (std::size_t k = 0; k < data.size(); ++k) {
      const Row& r = data[k];
      json << (k ? "," : "") << "[" << r.n << ","
           << Json<std::string>(r.s, [](const std::string& s) { return "\"" + Hex(s) + "\""; }) << ","
           << Json<int>(r.i, [](const int& v) { return std::to_string(v); }) << ","
           << Json<double>(r.f, [](const double& v) { return FloatText(v); }) << ","
           << Json<int>(r.d, [](const int& v) { return std::to_string(v); }) << ","
           << Json<bool>(r.b, [](const bool& v) { return std::string(v ? "1" : "0"); }) << "]";
    }
    json << "],\"queries\":[";
    for (std::size_t k = 0; k < qs.size(); ++k) {
      std::vector<std::string> quoted;
      for (const std::string& f : qs[k].fields) quoted.push_back("\"" + f + "\"");
      json << (k ? "," : "") << "[[" << Joined(quoted, ",") << "],[" << Joined(qs[k].key_texts, ",") << "],"
           << int(qs[k].options) << "]";
    }
    json << "]}";
    all_queries.push_back(std::move(qs));
    all_rows.push_back(std::move(data));
  }
  json << "]";
  std::ofstream(dir.File("cases.json")) << json.str();
  std::ofstream(dir.File("reference.py")) << kReference;
  qvtest::CommandResult reference =
      qvtest::RunShell("python3 " + dir.File("reference.py") + " " + dir.File("cases.json"));
  ASSERT_EQ(reference.status, 0) << reference.output;
  std::istringstream expected(reference.output);

  int found = 0, checked = 0;
  for (int t = 0; t < tables; ++t) {
    const std::string name = "t" + std::to_string(t);
    MakeTable(dir.Path(), name,
              {Field("N", dtInteger), Field("S", dtString, 8), Field("I", dtInteger), Field("F", dtFloat),
               Field("D", dtDate), Field("B", dtBoolean)});
    TestTable table;
    table.SetDatabaseName(dir.Path());
    table.TableName = name;
    table.Exclusive = true;
    table.Open();
    for (const Row& r : all_rows[static_cast<std::size_t>(t)]) {
      table.Append();
      table.FieldByName("N")->SetAsInteger(r.n);
      if (r.s) table.FieldByName("S")->SetAsString(*r.s);
      if (r.i) table.FieldByName("I")->SetAsInteger(*r.i);
      if (r.f) table.FieldByName("F")->SetAsFloat(*r.f);
      if (r.d) table.FieldByName("D")->SetAsDateTime(40000.0 + *r.d);
      if (r.b) table.FieldByName("B")->SetAsBoolean(*r.b);
      table.Post();
    }
    for (const Query& q : all_queries[static_cast<std::size_t>(t)]) {
      int want = -2;
      expected >> want;
      Variant keys = q.keys.size() == 1 ? q.keys[0] : Variant(VarArray(q.keys));
      std::string fields = Joined(q.fields, ";");
      table.First();
      bool hit = table.Locate(fields, keys, q.options);
      int got = hit ? table.FieldByName("N")->AsInteger() : -1;
      EXPECT_EQ(got, want) << name << " " << fields << " options " << int(q.options) << " query " << checked;
      if (!hit) EXPECT_EQ(table.FieldByName("N")->AsInteger(), 1) << "a failed Locate leaves the dataset where it was";
      if (q.options == 0) {
        table.Last();
        Variant value = table.Lookup(fields, keys, "N");
        EXPECT_EQ(value.IsNull() ? -1 : static_cast<int>(value.ToInt64()), want) << name << " lookup " << fields;
        EXPECT_EQ(table.FieldByName("N")->AsInteger(), rows) << "Lookup does not move the dataset";
      }
      found += hit;
      ++checked;
    }
  }
  EXPECT_EQ(checked, tables * queries);
  EXPECT_GT(found, checked / 3);
  EXPECT_LT(found, checked);
}

}  // namespace
}  // namespace korvex::testing
