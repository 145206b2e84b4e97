// The table component's lookup cursor (made once for repeated Locates on
// the same fields, made again after a range, filter or index change, the
// answers checked against a model each time), GotoCurrent, and the upgrade
// of an old table through the component (checked by the python3 script
// that wrote it).
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <random>

#include "support/run_command.h"
#include "tables/components/korvex_table.h"
#include "tests/tables/components/components_test_support.h"

namespace korvex::testing {
namespace {

using namespace db;
using LookupTest = ComponentsTest;

struct Person {
  int n;
  std::string s;
  int i;
};

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

TEST_F(LookupTest, ALookupCursorIsMadeOnceAndAgainAfterEveryChange) {
  qvtest::TempDir dir;
  TKORVEXTable t;
  t.SetDatabaseName(dir.Path());
  t.SetTableName("people");
  t.FieldDefs().Add("N", ftInteger);
  t.FieldDefs().Add("S", ftString, 6);
  t.FieldDefs().Add("I", ftInteger);
  t.IndexDefs().Add("ByS", "S", 0);
  t.IndexDefs().Add("BySci", "S", ixCaseInsensitive);
  t.IndexDefs().Add("ByI", "I", 0);
  t.CreateTable();
  t.Open();
  std::mt19937 rng(5);
  std::vector<Person> people;
  for (int n = 1; n <= 400; ++n) {
    Person p{n, std::string(1, "abAB"[rng() % 4]) + "xy"[rng() % 2], static_cast<int>(rng() % 5)};
    people.push_back(p);
    t.Append();
    t.FieldByName("N")->SetAsInteger(p.n);
    t.FieldByName("S")->SetAsString(p.s);
    t.FieldByName("I")->SetAsInteger(p.i);
    t.Post();
  }
  // The first record (in record order: equal keys keep it) whose S is the
  // key and which `shown` lets through; 0 when none.
  auto first = [&](const std::string& key, bool case_insensitive, const std::function<bool(const Person&)>& shown) {
    for (const Person& p : people)
      if ((case_insensitive ? Lower(p.s) == Lower(key) : p.s == key) && shown(p)) return p.n;
    return 0;
  };
  auto all = [](const Person&) { return true; };
  // Locates S on every key with the options; the dataset must land on the
  // model's record, or stay where it was.
  auto check = [&](TLocateOptions options, const std::function<bool(const Person&)>& shown) {
    for (const char* key : {"ax", "Ay", "bX", "zz", "BY"}) {
      t.First();
      const int before = t.FieldByName("N")->AsInteger();
      const int want = first(key, (options & loCaseInsensitive) != 0, shown);
      EXPECT_EQ(t.Locate("S", Variant(key), options), want != 0) << key;
      EXPECT_EQ(t.FieldByName("N")->AsInteger(), want ? want : before) << key << " options " << int(options);
      if (options == 0) {
        Variant value = t.Lookup("S", Variant(key), "N");
        EXPECT_EQ(value.IsNull() ? 0 : static_cast<int>(value.ToInt64()), want) << key;
      }
    }
  };

  check(0, all);
  ASSERT_NE(t.LookupCursor(), nullptr);
  EXPECT_EQ(t.LookupCursor()->GetIndexName(), "ByS");
  // A partial key on the same cursor: the lowest key that begins so, the
  // first record of that key.
  for (const char* prefix : {"a", "B*", "z"}) {
    const std::string p = std::string(prefix).substr(0, 1);
    int want = 0;
    std::string best;
    for (const Person& q : people)
      if (q.s.compare(0, 1, p) == 0 && (want == 0 || q.s < best)) want = q.n, best = q.s;
    EXPECT_EQ(t.Locate("S", Variant(prefix), loPartialKey), want != 0) << prefix;
    if (want) { EXPECT_EQ(t.FieldByName("N")->AsInteger(), want) << prefix; }
  }
  EXPECT_EQ(t.LookupCursorsMade(), 1u) << "one cursor for every Locate on the same fields";
  check(loCaseInsensitive, all);
  EXPECT_EQ(t.LookupCursor()->GetIndexName(), "BySci");
  EXPECT_EQ(t.LookupCursorsMade(), 2u);
  check(loCaseInsensitive, all);
  EXPECT_EQ(t.LookupCursorsMade(), 2u);

  // A filter change drops it; the next one takes the filter along.
  t.SetFilter("I > 1");
  t.SetFilteredValue(true);
  EXPECT_EQ(t.LookupCursor(), nullptr);
  auto over_one = [](const Person& p) { return p.i > 1; };
  check(0, over_one);
  check(0, over_one);
  EXPECT_EQ(t.LookupCursorsMade(), 3u);
  t.SetFilteredValue(false);
  EXPECT_EQ(t.LookupCursor(), nullptr);

  // An index change drops it; under a range none is made (Locate filters).
  t.SetIndexName("ByI");
  EXPECT_EQ(t.LookupCursor(), nullptr);
  check(0, all);
  EXPECT_EQ(t.LookupCursorsMade(), 4u);
  t.SetRange({Variant(std::int32_t{1})}, {Variant(std::int32_t{2})});
  EXPECT_EQ(t.LookupCursor(), nullptr);
  auto in_range = [](const Person& p) { return p.i >= 1 && p.i <= 2; };
  for (const char* key : {"ax", "by"}) {
    // Under ByI equal keys of S are met in the index's order: the lowest
    // I first, then record order.
    int want = 0, best = 99;
    for (const Person& p : people)
      if (p.s == key && in_range(p) && p.i < best) want = p.n, best = p.i;
    EXPECT_EQ(t.Locate("S", Variant(key), 0), want != 0);
    if (want) { EXPECT_EQ(t.FieldByName("N")->AsInteger(), want) << key; }
  }
  EXPECT_EQ(t.LookupCursor(), nullptr);
  EXPECT_EQ(t.LookupCursorsMade(), 4u);
  t.CancelRange();
  check(0, all);
  EXPECT_EQ(t.LookupCursorsMade(), 5u);
  // Fields no index serves: none, and Locate still answers.
  EXPECT_TRUE(t.Locate("N", Variant(std::int32_t{17}), 0));
  EXPECT_EQ(t.FieldByName("N")->AsInteger(), 17);
  EXPECT_EQ(t.LookupCursor(), nullptr);
  EXPECT_EQ(t.LookupCursorsMade(), 5u);
  check(0, all);
  EXPECT_EQ(t.LookupCursorsMade(), 6u);
  t.Close();
  EXPECT_EQ(t.LookupCursor(), nullptr);
}

TEST_F(LookupTest, GotoCurrentFollowsAnotherTableOnTheSameFile) {
  qvtest::TempDir dir;
  MakeTable(dir.Path(), "fams", {Field("N", dtInteger), Field("S", dtString, 6)}, false, {Index("ByS", {2})});
  MakeTable(dir.Path(), "inds", {Field("N", dtInteger)});
  TKORVEXTable a, b, other;
  for (TKORVEXTable* t : {&a, &b, &other}) t->SetDatabaseName(dir.Path());
  a.SetTableName("fams");
  b.SetTableName("FAMS");
  other.SetTableName("inds");
  a.SetIndexName("ByS");
  for (TKORVEXTable* t : {&a, &b, &other}) t->Open();
  for (int n = 1; n <= 20; ++n) {
    a.Append();
    a.FieldByName("N")->SetAsInteger(n);
    a.FieldByName("S")->SetAsString(std::string(1, static_cast<char>('a' + (n * 7) % 20)));
    a.Post();
  }
  b.First();
  for (const char* key : {"h", "c", "t"}) {
    ASSERT_TRUE(a.Locate("S", Variant(key), 0));
    b.GotoCurrent(a);
    EXPECT_EQ(b.FieldByName("N")->AsInteger(), a.FieldByName("N")->AsInteger()) << key;
    // And back, into the other's order.
    b.Next();
    a.GotoCurrent(b);
    EXPECT_EQ(a.FieldByName("N")->AsInteger(), b.FieldByName("N")->AsInteger());
  }
  EXPECT_EQ(Raised([&] { other.GotoCurrent(a); }), "Source and destination tables are incompatible.");
}

// Two tables are one when the engine opened the same file: the name with or
// without ".DAT", in any case, the directory written any way that resolves
// to it. A table of another name or in another directory is not.
TEST_F(LookupTest, GotoCurrentComparesTheNamesTheEngineOpened) {
  qvtest::TempDir dir, elsewhere;
  for (const std::string& where : {dir.Path(), elsewhere.Path()})
    MakeTable(where, "fams", {Field("N", dtInteger)}, false);
  MakeTable(dir.Path(), "inds", {Field("N", dtInteger)});
  std::filesystem::create_symlink(dir.Path(), elsewhere / "link");
  const struct {
    std::string database, table;
    bool same;
  } cases[] = {
      {dir.Path(), "fams", true},          {dir.Path(), "fams.DAT", true},
      {dir.Path(), "FAMS.dat", true},      {dir.Path(), "Fams.Dat", true},
      {dir.Path(), " fams.DAT ", true},    {dir.Path() + "/", "fams", true},
      {dir.Path() + "/.", "FAMS", true},   {elsewhere / "link", "fams.dat", true},
      {"", dir / "fams.DAT", true},        {dir.Path(), "inds", false},
      {dir.Path(), "inds.DAT", false},     {elsewhere.Path(), "fams", false},
      {elsewhere.Path(), "fams.DAT", false},
  };
  auto fill = [](TKORVEXTable& t) {
    for (int n = 1; n <= 5; ++n) {
      t.Append();
      t.FieldByName("N")->SetAsInteger(n);
      t.Post();
    }
  };
  TKORVEXTable a;
  a.SetDatabaseName(dir.Path());
  a.SetTableName("fams");
  a.Open();
  fill(a);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.database + " | " + c.table);
    TKORVEXTable b;
    b.SetDatabaseName(c.database);
    b.SetTableName(c.table);
    b.Open();
    if (b.IsEmpty()) fill(b);
    a.First();
    a.Next();
    a.Next();
    b.Last();
    if (c.same) {
      b.GotoCurrent(a);
      EXPECT_EQ(b.FieldByName("N")->AsInteger(), 3);
      b.Next();
      a.GotoCurrent(b);
      EXPECT_EQ(a.FieldByName("N")->AsInteger(), 4);
    } else {
      EXPECT_EQ(Raised([&] { b.GotoCurrent(a); }), "Source and destination tables are incompatible.");
      EXPECT_EQ(Raised([&] { a.GotoCurrent(b); }), "Source and destination tables are incompatible.");
    }
  }
}

// A move to a found record leaves the ends the table stood at: the next
// step goes on from the record, whichever end the table was at before.
TEST_F(LookupTest, AFoundRecordIsNoLongerAtAnEnd) {
  qvtest::TempDir dir;
  MakeTable(dir.Path(), "fams", {Field("N", dtInteger)}, false, {Index("ByN", {1})});
  TKORVEXTable t, other;
  for (TKORVEXTable* x : {&t, &other}) {
    x->SetDatabaseName(dir.Path());
    x->SetTableName("fams");
    x->SetIndexName("ByN");
    x->Open();
  }
  for (int n = 1; n <= 5; ++n) {
    t.Append();
    t.FieldByName("N")->SetAsInteger(n);
    t.Post();
  }
  other.First();
  other.Next();
  other.Next();
  const std::vector<std::pair<const char*, std::function<void()>>> moves = {
      {"FindKey", [&] { ASSERT_TRUE(t.FindKey({Variant(std::int32_t{3})})); }},
      {"FindNearest", [&] { t.FindNearest({Variant(std::int32_t{3})}); }},
      {"GotoCurrent", [&] { t.GotoCurrent(other); }},
  };
  for (const auto& [name, move] : moves)
    for (bool from_end : {false, true}) {
      SCOPED_TRACE(std::string(name) + (from_end ? " from the end" : " from the start"));
      from_end ? t.Last() : t.First();
      from_end ? t.Next() : t.Prior();
      move();
      EXPECT_FALSE(t.Bof() || t.Eof());
      EXPECT_EQ(t.FieldByName("N")->AsInteger(), 3);
      t.MoveBy(from_end ? 1 : -1);
      EXPECT_EQ(t.FieldByName("N")->AsInteger(), from_end ? 4 : 2);
    }
}

TEST_F(LookupTest, UpgradeThroughTheComponentReportsItsSteps) {
  qvtest::TempDir dir;
  const std::string script = QV_SOURCE_DIR "/tests/tables/engine/old_tables.py";
  qvtest::CommandResult wrote = qvtest::RunShell("python3 '" + script + "' write 3 '" + dir.Path() + "'");
  ASSERT_EQ(wrote.status, 0) << wrote.output;
  TKORVEXTable t;
  t.SetDatabaseName(dir.Path());
  t.SetTableName("t");
  std::vector<std::string> steps, log;
  t.OnUpgradeProgress = [&](rtl::TObject*, const std::string& step, std::uint16_t percent) {
    EXPECT_LE(percent, 100);
    if (steps.empty() || steps.back() != step) steps.push_back(step);
  };
  t.OnUpgradeLog = [&](rtl::TObject*, const std::string& line) { log.push_back(line); };
  EXPECT_EQ(Raised([&] { t.Open(); }), "KORVEX Engine Error # 12035 table 't.DAT' is not the correct version");
  t.UpgradeTable();
  EXPECT_EQ(t.DBFlags(), 0);
  EXPECT_FALSE(steps.empty());
  EXPECT_FALSE(log.empty());
  EXPECT_EQ(t.VersionNum(), "2.00");
  FinalizeSessions();
  qvtest::CommandResult checked = qvtest::RunShell("python3 '" + script + "' check 3 '" + dir.Path() + "'");
  EXPECT_EQ(checked.status, 0) << checked.output;
}

}  // namespace
}  // namespace korvex::testing
