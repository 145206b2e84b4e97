// Locate and Lookup on engine tables against python3's sqlite3 over the
// same rows: 20 random tables of 2,000 rows (string, integer, float, date,
// boolean, nulls); exact, case-blind, partial and partial-'*' keys on one
// and several fields, null keys; each through the lookup filter and, where
// an index has the key fields, through the index. Case-blind comparison in
// sqlite goes through a collation made from the Windows-1252 case maps.
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>

#include "support/hex.h"
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

using qvtest::Hex;

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

// For every table and query, the N of every matching row in order, or "-".
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
        rows = [r[0] for r in db.execute('select n from t where ' + ' and '.join(where) + ' order by n', args)]
        out.append(','.join(map(str, rows)) if rows else '-')
print(' '.join(out))
)PY";

using LocateTest = ComponentsTest;

TEST_F(LocateTest, LocateAndLookupAgreeWithSqlite) {
  qvtest::TempDir dir;
  const int tables = 20, rows = 2000, queries = 60;
  const std::vector<std::vector<std::string>> field_sets{{"S"}, {"I"}, {"F"}, {"D"}, {"B"},
                                                         {"I", "S"}, {"I", "D"}, {"B", "F", "S"}};
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

  // Indexes by field numbers: N 1, S 2, I 3, F 4, D 5, B 6.
  struct Named {
    std::string name;
    std::vector<std::string> fields;
    bool case_insensitive;
  };
  const std::vector<Named> indexes{{"ByS", {"S"}, false},     {"BySci", {"S"}, true}, {"ByI", {"I"}, false},
                                   {"ByISci", {"I", "S"}, true}, {"ByID", {"I", "D"}, false}};
  int found = 0, checked = 0, by_index = 0;
  for (int t = 0; t < tables; ++t) {
    const std::string name = "t" + std::to_string(t);
    MakeTable(dir.Path(), name,
              {Field("N", dtInteger), Field("S", dtString, 8), Field("I", dtInteger), Field("F", dtFloat),
               Field("D", dtDate), Field("B", dtBoolean)},
              false,
              {Index("ByS", {2}), Index("BySci", {2}, true), Index("ByI", {3}), Index("ByISci", {3, 2}, true),
               Index("ByID", {3, 5})});
    {
      TestTable filler;
      filler.SetDatabaseName(dir.Path());
      filler.TableName = name;
      filler.Exclusive = true;
      filler.Open();
      for (const Row& r : all_rows[static_cast<std::size_t>(t)]) {
        filler.Append();
        filler.FieldByName("N")->SetAsInteger(r.n);
        if (r.s) filler.FieldByName("S")->SetAsString(*r.s);
        if (r.i) filler.FieldByName("I")->SetAsInteger(*r.i);
        if (r.f) filler.FieldByName("F")->SetAsFloat(*r.f);
        if (r.d) filler.FieldByName("D")->SetAsDateTime(40000.0 + *r.d);
        if (r.b) filler.FieldByName("B")->SetAsBoolean(*r.b);
        filler.Post();
      }
    }
    TestTable table, keyed;
    for (TestTable* d : {&table, &keyed}) {
      d->SetDatabaseName(dir.Path());
      d->TableName = name;
      d->Open();
    }
    for (const Query& q : all_queries[static_cast<std::size_t>(t)]) {
      std::string want;
      expected >> want;
      std::vector<int> matches;
      if (want != "-")
        for (std::size_t at = 0; at < want.size();) {
          std::size_t comma = want.find(',', at);
          matches.push_back(std::stoi(want.substr(at, comma - at)));
          at = comma == std::string::npos ? want.size() : comma + 1;
        }
      const int first = matches.empty() ? -1 : matches.front();
      Variant keys = q.keys.size() == 1 ? q.keys[0] : Variant(VarArray(q.keys));
      std::string fields = Joined(q.fields, ";");
      const std::string where = name + " " + fields + " options " + std::to_string(int(q.options));

      // The lookup filter: the first match in physical order.
      table.First();
      bool hit = table.Locate(fields, keys, q.options);
      EXPECT_EQ(hit ? table.FieldByName("N")->AsInteger() : -1, first) << where << " (filter)";
      if (!hit) {
        EXPECT_EQ(table.FieldByName("N")->AsInteger(), 1) << "a failed Locate leaves the dataset where it was";
      }
      if (q.options == 0) {
        table.Last();
        Variant value = table.Lookup(fields, keys, "N");
        EXPECT_EQ(value.IsNull() ? -1 : static_cast<int>(value.ToInt64()), first) << where << " (lookup)";
        EXPECT_EQ(table.FieldByName("N")->AsInteger(), rows) << "Lookup does not move the dataset";
      }

      // The index whose leading key fields are the key fields, when there is one.
      const bool ci = (q.options & loCaseInsensitive) != 0;
      auto ix = std::find_if(indexes.begin(), indexes.end(), [&](const Named& n) {
        return n.case_insensitive == ci && n.fields.size() >= q.fields.size() &&
               std::equal(q.fields.begin(), q.fields.end(), n.fields.begin());
      });
      if (ix != indexes.end()) {
        keyed.SwitchToIndex(ix->name);
        EXPECT_TRUE(keyed.MapsToIndex(keyed.GetFieldList(fields), ci));
        bool keyed_hit = keyed.Locate(fields, keys, q.options);
        int got = keyed_hit ? keyed.FieldByName("N")->AsInteger() : -1;
        // Equal keys come in record order; a prefix of a field, or of the
        // key fields, finds the lowest key that has it.
        if ((q.options & loPartialKey) || q.fields.size() < ix->fields.size())
          EXPECT_TRUE(got == -1 ? matches.empty() : std::count(matches.begin(), matches.end(), got) == 1)
              << where << " (index " << ix->name << ") found " << got;
        else
          EXPECT_EQ(got, first) << where << " (index " << ix->name << ")";
        ++by_index;
      }
      found += hit;
      ++checked;
    }
  }
  EXPECT_GT(by_index, checked / 3);
  EXPECT_EQ(checked, tables * queries);
  EXPECT_GT(found, checked / 3);
  EXPECT_LT(found, checked);
}

}  // namespace
}  // namespace korvex::testing
