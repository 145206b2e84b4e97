// Keys, ranges and master-detail links of the table component against
// python3's sqlite3 over the same rows (keys_expect.py): random tables with
// a two-field secondary index, case-sensitive and case-blind; exact and
// nearest searches with whole and partial keys, ranges set by values and
// edited through the fields, cancelled ranges; a detail following its
// master record by record.
#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <sstream>

#include "platform/dataset/datalink.h"
#include "platform/dataset/dataset.h"
#include "support/run_command.h"
#include "tables/components/korvex_table.h"
#include "tests/tables/components/components_test_support.h"

namespace korvex::testing {
namespace {

using namespace db;

using TableKeysTest = ComponentsTest;

std::string Visit(TKORVEXTable& t) {
  std::string ids;
  for (t.First(); !t.Eof(); t.Next()) ids += " " + t.FieldByName("ID")->AsString();
  return ids;
}

TEST_F(TableKeysTest, SearchesAndRangesAgreeWithSqlite) {
  const int kTables = 10, kRows = 5000;
  const char* letters = "aAbBcd";
  for (int round = 0; round < kTables; ++round) {
    SCOPED_TRACE("table " + std::to_string(round));
    const bool ci = round % 2 == 1;
    std::mt19937 rng(1000 + round);
    auto R = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    auto word = [&] {
      std::string s;
      for (int k = 0, n = 1 + R(3); k < n; ++k) s += letters[R(6)];
      return s;
    };
    qvtest::TempDir dir;
    TKORVEXTable t;
    t.SetDatabaseName(dir.Path());
    t.SetTableName("keys");
    t.FieldDefs().Add("ID", ftInteger, 0, true);
    t.FieldDefs().Add("S", ftString, 6, true);
    t.FieldDefs().Add("I", ftInteger, 0, true);
    t.IndexDefs().Add("BySI", "S;I", ci ? ixCaseInsensitive : 0);
    t.CreateTable();
    t.SetExclusive(true);
    t.SetIndexName("BySI");
    t.Open();
    {
      std::ofstream rows(dir / "rows");
      for (int n = 1; n <= kRows; ++n) {
        std::string s = word();
        int i = R(30);
        t.Append();
        t.FieldByName("ID")->SetAsInteger(n);
        t.FieldByName("S")->SetAsString(s);
        t.FieldByName("I")->SetAsInteger(i);
        t.Post();
        rows << n << ' ' << s << ' ' << i << '\n';
      }
    }
    std::ostringstream got;
    {
      std::ofstream queries(dir / "queries");
      for (int q = 0; q < 30; ++q) {
        std::string s = word();
        int i = R(30);
        queries << "F " << s << ' ' << i << '\n';
        bool found = t.FindKey({Variant(s), Variant(static_cast<std::int32_t>(i))});
        got << "F " << (found ? t.FieldByName("ID")->AsString() : "-") << '\n';
      }
      for (int q = 0; q < 30; ++q) {
        std::string s = q == 0 ? "zz" : word();
        queries << "N " << s << '\n';
        if (q % 2 == 0) {
          t.FindNearest({Variant(s)});
        } else {  // through the fields: the blank integer sorts first
          t.SetKey();
          t.FieldByName("S")->SetAsString(s);
          t.GotoNearest();
        }
        got << "N " << t.FieldByName("ID")->AsString() << '\n';
      }
      for (int q = 0; q < 8; ++q) {
        std::string a = word(), b = word(), c = word();
        if (b < a) std::swap(a, b);
        queries << "R " << a << ' ' << b << '\n';
        t.SetRange({Variant(a)}, {Variant(b)});
        got << "R" << Visit(t) << '\n';
        // The end edited through the fields keeps the start.
        queries << "R " << a << ' ' << c << '\n';
        t.EditRangeEnd();
        t.FieldByName("S")->SetAsString(c);
        t.ApplyRange();
        got << "R" << Visit(t) << '\n';
        queries << "C\n";
        t.CancelRange();
        got << "C" << Visit(t) << '\n';
      }
    }
    qvtest::CommandResult expect = qvtest::RunShell("python3 '" QV_SOURCE_DIR
                                                    "/tests/tables/components/keys_expect.py' '" +
                                                    dir / "rows" + "' '" + dir / "queries" + "' " + (ci ? "1" : "0"));
    ASSERT_EQ(expect.status, 0) << expect.output;
    // Line by line, each shortened, so that a difference stays readable.
    std::istringstream a(got.str()), b(expect.output);
    std::string la, lb;
    for (int line = 1; std::getline(b, lb); ++line) {
      if (!std::getline(a, la)) la = "(missing)";
      if (la != lb) {
        std::size_t at = 0;
        while (at < la.size() && at < lb.size() && la[at] == lb[at]) ++at;
        ADD_FAILURE() << "line " << line << " differs at " << at << ": got '" << la.substr(at > 20 ? at - 20 : 0, 80)
                      << "' expected '" << lb.substr(at > 20 ? at - 20 : 0, 80) << "'";
        break;
      }
    }
    if (HasFailure()) break;
  }
}

TEST_F(TableKeysTest, DetailFollowsItsMasterLikeAJoin) {
  qvtest::TempDir dir;
  TDataSource master_source(nullptr);
  TDataSource detail_source(nullptr);
  TKORVEXTable m, d;
  m.SetDatabaseName(dir.Path());
  m.SetTableName("masters");
  m.FieldDefs().Add("ID", ftInteger, 0, true);
  m.IndexDefs().Add("", "ID", ixPrimary | ixUnique);
  m.CreateTable();
  d.SetDatabaseName(dir.Path());
  d.SetTableName("details");
  d.FieldDefs().Add("ID", ftInteger, 0, true);
  d.FieldDefs().Add("MID", ftInteger, 0, true);
  d.IndexDefs().Add("ByMid", "MID", 0);
  d.CreateTable();
  std::mt19937 rng(77);
  std::ostringstream rows;
  m.Open();
  for (int id = 60; id >= 1; --id) {
    m.Append();
    m.FieldByName("ID")->SetAsInteger(id);
    m.Post();
  }
  d.Open();
  for (int n = 1; n <= 3000; ++n) {
    int mid = 1 + static_cast<int>(rng() % 70);
    d.Append();
    d.FieldByName("ID")->SetAsInteger(n);
    d.FieldByName("MID")->SetAsInteger(mid);
    d.Post();
    rows << "(" << n << "," << mid << "),";
  }
  d.Close();
  master_source.SetDataSet(&m);
  detail_source.SetDataSet(&d);
  d.SetIndexName("ByMid");
  d.SetMasterSource(&master_source);
  d.SetMasterFields("ID");
  d.Open();
  std::string got;
  for (m.First(); !m.Eof(); m.Next()) got += m.FieldByName("ID")->AsString() + ":" + Visit(d) + "\n";
  qvtest::TempDir py;
  {
    std::ofstream(py / "join.py")
        << "import sqlite3\ndb = sqlite3.connect(':memory:')\n"
           "db.execute('CREATE TABLE m (id)')\ndb.execute('CREATE TABLE d (id, mid)')\n"
           "db.executemany('INSERT INTO m VALUES (?)', [(i,) for i in range(1, 61)])\n"
           "db.execute('INSERT INTO d VALUES " << rows.str().substr(0, rows.str().size() - 1) << "')\n"
           "for (mid,) in db.execute('SELECT id FROM m ORDER BY id').fetchall():\n"
           "    ids = [str(r[0]) for r in db.execute('SELECT d.id FROM m JOIN d ON d.mid = m.id WHERE m.id = ? "
           "ORDER BY d.id', (mid,))]\n"
           "    print('%d:%s' % (mid, ''.join(' ' + i for i in ids)))\n";
  }
  qvtest::CommandResult expect = qvtest::RunShell("python3 '" + py / "join.py" + "'");
  ASSERT_EQ(expect.status, 0) << expect.output;
  EXPECT_EQ(got, expect.output);
  // A new detail record takes its master's key.
  m.First();
  m.Next();
  d.Append();
  EXPECT_EQ(d.FieldByName("MID")->AsInteger(), 2);
  d.Cancel();
  // Links that lead back to the table are refused.
  EXPECT_EQ(Raised([&] { d.SetMasterSource(&detail_source); }), "Circular datalinks are not allowed");
  EXPECT_EQ(Raised([&] { m.SetMasterSource(&detail_source); }), "Circular datalinks are not allowed");
  // Without the link the detail shows every record again.
  d.SetMasterSource(nullptr);
  EXPECT_EQ(d.RecordCount(), 3000);
}

}  // namespace
}  // namespace korvex::testing
