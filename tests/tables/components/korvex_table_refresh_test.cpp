// A table component after a change to the record it stands on, made by
// another component on the same table, by another process or by itself:
// Refresh and the next
// move find the record where it is now, or, when it left the view
// (deleted, filtered out, moved out of the range), the record after its
// old place (before it at the end), or nothing; the dataset and its cursor
// stand on one record, and nothing raises "Record not found".
#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/dataset/dataset.h"
#include "platform/dataset/fields.h"
#include "tables/components/korvex_table.h"
#include "tests/tables/components/components_test_support.h"

namespace korvex::testing {
namespace {

using namespace db;
using RefreshTest = ComponentsTest;

struct Row {
  int id, g;
};

// "recs" in `dir` with these records.
void MakeRecs(const std::string& dir, const std::vector<Row>& rows) {
  TKORVEXTable t;
  CreateRecsTable(t, dir);
  t.Open();
  for (const Row& r : rows) {
    t.Append();
    t.FieldByName("ID")->SetAsInteger(r.id);
    t.FieldByName("G")->SetAsInteger(r.g);
    t.FieldByName("F")->SetAsString("f" + std::to_string(r.id));
    t.FieldByName("M")->SetAsString("memo " + std::to_string(r.id));
    t.Post();
  }
}

void Open(TKORVEXTable& t, const std::string& dir, const std::string& index = "") {
  t.SetDatabaseName(dir);
  t.SetTableName("recs");
  t.SetIndexName(index);
  t.Open();
}

int Id(TKORVEXTable& t) { return t.IsEmpty() ? 0 : t.FieldByName("ID")->AsInteger(); }

bool Seek(TKORVEXTable& t, int id) { return t.Locate("ID", Variant(std::int32_t{id}), 0); }

// The IDs from the first record on; the dataset is left at the end.
std::vector<int> Walk(TKORVEXTable& t) {
  std::vector<int> ids;
  for (t.First(); !t.Eof(); t.Next()) ids.push_back(Id(t));
  return ids;
}

// Sets G of the record `id` through `by` (which may be the table itself).
void SetG(TKORVEXTable& by, int id, int g) {
  ASSERT_TRUE(Seek(by, id));
  by.Edit();
  by.FieldByName("G")->SetAsInteger(g);
  by.Post();
}

void SetId(TKORVEXTable& by, int id, int to) {
  ASSERT_TRUE(Seek(by, id));
  by.Edit();
  by.FieldByName("ID")->SetAsInteger(to);
  by.Post();
}

void Remove(TKORVEXTable& by, int id) {
  ASSERT_TRUE(Seek(by, id));
  by.Delete();
}

// What the viewer shows after Refresh, then after Next, Prior, Prior.
std::vector<int> RefreshAndMove(TKORVEXTable& t) {
  std::vector<int> seen;
  t.Refresh();
  seen.push_back(Id(t));
  t.Next();
  seen.push_back(Id(t));
  t.Prior();
  seen.push_back(Id(t));
  t.Prior();
  seen.push_back(Id(t));
  return seen;
}

// Each case: the rows, the viewer's index, filter and range, the record it
// stands on, the change, and what the viewer shows afterwards. The change
// is made by a second component or by the viewer itself (its Post leaves
// it where Refresh would).
struct Case {
  const char* name;
  std::vector<Row> rows;
  std::string index, filter;
  int range_low, range_high;  // on the index's key; 0, 0: none
  int on;
  std::function<void(TKORVEXTable&)> change;
  std::vector<int> after;  // Refresh, Next, Prior, Prior
  // A Next straight after another's change: a walk goes on from the old
  // place (0: at the end, not asked).
  int next;
  int count;
  std::vector<int> walk;
  // Where its own Post leaves the viewer when that differs: its own edit
  // goes by the record's new key (the nearest one in view, else the last).
  std::vector<int> self_after = {};
};

TEST_F(RefreshTest, AfterAChangeToItsRecordTheViewerAndItsCursorAgree) {
  const std::vector<Row> five = {{10, 10}, {20, 20}, {30, 50}, {40, 30}, {50, 40}};
  const std::vector<Row> ones = {{10, 1}, {20, 1}, {30, 1}, {40, 1}, {50, 2}};
  const std::vector<Case> cases = {
      // A key moved: Refresh finds the record where it is now, its new
      // neighbours next.
      {"primary key moved", five, "", "", 0, 0, 30, [](TKORVEXTable& by) { SetId(by, 30, 5); },
       {5, 10, 5, 5}, 40, 5, {5, 10, 20, 40, 50}},
      {"secondary key moved", five, "ByG", "", 0, 0, 30, [](TKORVEXTable& by) { SetG(by, 30, 20); },
       {30, 40, 30, 20}, 0, 5, {10, 20, 30, 40, 50}},
      {"descending key moved", five, "ByGDown", "", 0, 0, 30, [](TKORVEXTable& by) { SetG(by, 30, 25); },
       {30, 20, 30, 40}, 50, 5, {50, 40, 30, 20, 10}},
      // Out of the filter: the record after its old place.
      {"filtered out", ones, "", "G = 1", 0, 0, 30, [](TKORVEXTable& by) { SetG(by, 30, 2); },
       {40, 40, 20, 10}, 40, 3, {10, 20, 40}},
      {"filtered out at the end", ones, "ByG", "G = 1", 0, 0, 40, [](TKORVEXTable& by) { SetG(by, 40, 2); },
       {30, 30, 20, 10}, 0, 3, {10, 20, 30}},
      {"all filtered out", {{10, 1}}, "", "G = 1", 0, 0, 10, [](TKORVEXTable& by) { SetG(by, 10, 2); },
       {0, 0, 0, 0}, 0, 0, {}},
      // Out of the range, by its own key or by another index's.
      {"primary key out of range", five, "", "", 10, 40, 30, [](TKORVEXTable& by) { SetId(by, 30, 45); },
       {40, 40, 20, 10}, 40, 3, {10, 20, 40}},
      {"secondary key out of range", ones, "ByG", "", 1, 1, 20, [](TKORVEXTable& by) { SetG(by, 20, 2); },
       {30, 40, 30, 10}, 30, 3, {10, 30, 40}, {40, 40, 30, 10}},
      {"range emptied", {{10, 1}, {20, 2}}, "ByG", "", 1, 1, 10, [](TKORVEXTable& by) { SetG(by, 10, 2); },
       {0, 0, 0, 0}, 0, 0, {}},
      // Deleted: the record after it, before it at the end.
      {"deleted under a secondary index", five, "ByG", "", 0, 0, 40, [](TKORVEXTable& by) { Remove(by, 40); },
       {50, 30, 50, 20}, 50, 4, {10, 20, 50, 30}},
      {"deleted under a descending index", five, "ByGDown", "", 0, 0, 40, [](TKORVEXTable& by) { Remove(by, 40); },
       {20, 10, 20, 50}, 20, 4, {30, 50, 20, 10}},
      {"deleted last under a descending index", five, "ByGDown", "", 0, 0, 10,
       [](TKORVEXTable& by) { Remove(by, 10); }, {20, 20, 40, 50}, 0, 4, {30, 50, 40, 20}},
  };
  // The change by another component of this process, the same seen by the
  // viewer's Next, by the viewer itself, by another process.
  enum Way { kOtherRefresh, kOtherNext, kSelf, kProcess };
  for (Way way : {kOtherRefresh, kOtherNext, kSelf, kProcess}) {
    for (const Case& c : cases) {
      if (way == kOtherNext && c.next == 0) continue;
      SCOPED_TRACE(std::string(c.name) + " way " + std::to_string(way));
      qvtest::TempDir dir;
      MakeRecs(dir.Path(), c.rows);
      FinalizeSessions();
      // Forked before this process opens the table; it changes the record
      // when told.
      std::optional<qvtest::ChildProcess> process;
      if (way == kProcess)
        process.emplace([&](qvtest::ChildProcess& self) {
          self.WaitTold();
          TKORVEXTable other;
          Open(other, dir.Path());
          c.change(other);
          return ::testing::Test::HasFailure() ? 1 : 0;
        });
      TKORVEXTable viewer, other;
      Open(viewer, dir.Path(), c.index);
      if (!c.filter.empty()) {
        viewer.SetFilter(c.filter);
        viewer.SetFilteredValue(true);
      }
      if (c.range_low != 0) viewer.SetRange({Variant(std::int32_t{c.range_low})}, {Variant(std::int32_t{c.range_high})});
      ASSERT_TRUE(Seek(viewer, c.on));
      if (way == kSelf) {
        c.change(viewer);
      } else if (way == kProcess) {
        process->Tell();
        ASSERT_EQ(process->Wait(), 0);
      } else {
        Open(other, dir.Path());
        c.change(other);
      }
      if (way == kOtherNext) {
        EXPECT_NO_THROW(viewer.Next());
        EXPECT_EQ(Id(viewer), c.next);
      } else {
        std::vector<int> seen;
        EXPECT_NO_THROW(seen = RefreshAndMove(viewer));
        EXPECT_EQ(seen, way == kSelf && !c.self_after.empty() ? c.self_after : c.after);
      }
      EXPECT_EQ(viewer.RecordCount(), c.count);
      EXPECT_EQ(Walk(viewer), c.walk);
    }
  }
}

}  // namespace
}  // namespace korvex::testing
