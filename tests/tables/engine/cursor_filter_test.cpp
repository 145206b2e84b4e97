// Filters on data cursors: the bitmaps follow the cursor's own writes,
// another cursor's, another session's and another process's; a process
// writing in a tight loop does not keep a filter update from finishing;
// a second cursor given the filters shows the same records.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <random>
#include <thread>

#include "support/child_process.h"
#include "support/temp_dir.h"
#include "tables/engine/cursor/data_cursor.h"
#include "tables/engine/errors/engine_error.h"
#include "tables/engine/table/data_session.h"
#include "tables/lib/fieldtypes.h"
#include "tables/lib/language_settings.h"
#include "tests/tables/engine/engine_test_support.h"
#include "tests/tables/engine/filter_table_support.h"

namespace korvex::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Row = std::vector<FilterCell>;

const char* const kFilters[] = {"Qty < 3 OR Surname = 'Sm*'", "Year BETWEEN 1692 AND 1705 OR Qty = NULL",
                                "NOT (Surname IN ('Jones', 'Brown'))"};

Row RandomRow(std::mt19937& random) {
  static const char* kNames[] = {"Smith", "smith", "Smyth", "Jones", "Brown", "Sm"};
  auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
  return {pick(8) == 0 ? FilterCell{} : FilterCell{std::string(kNames[pick(6)])},
          pick(8) == 0 ? FilterCell{} : FilterCell{std::string(kNames[pick(6)])}, FilterCell{std::int64_t{1690 + pick(20)}},
          pick(5) == 0 ? FilterCell{} : FilterCell{std::int64_t{pick(9) - 2}}};
}

// A session on a folder with the family table "f": Surname, Forename,
// Year, Qty; indexes on Surname and on Qty (descending).
struct Family {
  explicit Family(const std::string& path) {
    session.Timing.InternalSleepMs = 1;
    session.LockWaitTime = 20;
    dir = session.OpenDataDirectory("data", path);
  }
  void Create() {
    std::vector<TFieldDefinition> fields = {Field("Surname", dtString, 20), Field("Forename", dtString, 20),
                                            Field("Year", dtInteger), Field("Qty", dtInteger)};
    TTableCreation creation;
    creation.Indexes.resize(3);
    creation.Indexes[1].Name = "BySurname";
    creation.Indexes[1].Fields[0] = 1;
    creation.Indexes[1].FieldCount = 1;
    creation.Indexes[2].Name = "ByQty";
    creation.Indexes[2].Fields[0] = 4;
    creation.Indexes[2].FieldCount = 1;
    creation.Indexes[2].Descending = 1;
    creation.IndexCount = 2;
    TDataCursor c(dir);
    c.SetTableName("f");
    c.SetExclusive(true);
    c.CreateTable(creation, fields);
  }
  std::unique_ptr<TDataCursor> Open(bool exclusive = false) {
    auto c = std::make_unique<TDataCursor>(dir);
    c->SetTableName("f");
    c->SetExclusive(exclusive);
    c->OpenCursor();
    return c;
  }
  TDataSession session;
  TDataDirectory* dir = nullptr;
};

std::vector<TFieldDefinition> Layout(TDataCursor& c) {
  std::vector<TFieldDefinition> layout;
  for (int i = 1; i <= c.GetFieldCount(); ++i) layout.push_back(c.GetFieldDefinitionByPos(i));
  return layout;
}

void Append(TDataCursor& c, const Row& row) {
  Bytes record = MakeRecord(Layout(c), c.GetRecordSize(), row);
  c.AppendRecord(record.data());
}

// The physical numbers a cursor shows, in its order, and its count.
std::vector<std::uint32_t> Walk(TDataCursor& c) {
  Bytes buffer(c.GetRecordSize());
  std::vector<std::uint32_t> seen;
  c.SetToBegin();
  while (c.GetNextRecord(buffer.data()) == 0) seen.push_back(c.GetPhysicalRecordNumber());
  EXPECT_EQ(c.GetRecordCount(), seen.size());
  return seen;
}

void AddAll(TDataCursor& c) {
  for (const char* text : kFilters) c.AddFilter(0, text, nullptr, false, nullptr, {});
  c.AddFilter(0, {}, nullptr, false, [](const std::uint8_t*, std::uint32_t n) { return n % 5 != 0; },
              {true, true, false, false});
  c.ActivateAllFilters();
}

// What a cursor opened now with the same filters and order shows.
std::vector<std::uint32_t> Fresh(Family& family, std::uint8_t position) {
  auto c = family.Open();
  c->SetIndexPos(position);
  AddAll(*c);
  return Walk(*c);
}

// Each test reads dates in yyyy-mm-dd (language 0's settings). The scope
// holds the settings' lock, so the test that forks takes it after the fork.
class CursorFilterTest : public ::testing::Test {};

TEST_F(CursorFilterTest, WritesOfThisAndAnotherCursorKeepTheBitmapsEqualToARebuild) {
  LanguageSettingsScope ansi(0, 0);
  qvtest::TempDir dir;
  Family family(dir.Path());
  family.Create();
  std::mt19937 random(12);
  auto writer = family.Open(), viewer = family.Open();
  for (int i = 0; i < 60; ++i) Append(*writer, RandomRow(random));
  writer->SetIndexPos(2);  // by Qty, descending
  viewer->SetIndexPos(kPhysicalOrder);
  AddAll(*writer);
  AddAll(*viewer);
  const std::vector<TFieldDefinition> layout = Layout(*writer);
  Bytes buffer(writer->GetRecordSize());
  int moved_out = 0;
  for (int step = 0; step < 120; ++step) {
    const int op = static_cast<int>(random() % 4);
    std::vector<std::uint32_t> shown = Walk(*writer);
    if (op == 0 || shown.size() < 3) {
      Append(*writer, RandomRow(random));
    } else {
      // A visible record, or an invisible one reached physically.
      const std::uint32_t n = shown[random() % shown.size()];
      ASSERT_EQ(writer->GotoPhysicalRecordNumber(n), 0);
      ASSERT_EQ(writer->GetCurrentRecord(buffer.data(), false), 0);
      ASSERT_EQ(writer->GetCurrentRecord(buffer.data(), true), 0);
      Bytes changed = MakeRecord(layout, writer->GetRecordSize(), RandomRow(random));
      if (op >= 2) {
        // Moved out of the filters and, when op is
        // 3, deleted while it is still the current record: the count must
        // not drop twice.
        changed[layout[3].Offset] = 1;
        changed[layout[3].Offset + 1] = 7;
        // Qty 7 and the name "J" fail the first filter.
        changed[layout[0].Offset] = 1;
        changed[layout[0].Offset + 1] = 'J';
        changed[layout[0].Offset + 2] = 0;
        writer->ModifyRecord(changed.data(), true, op != 3);
        if (op == 3) {
          writer->DeleteRecord(changed.data());
          ++moved_out;
        }
      } else {
        writer->ModifyRecord(changed.data(), true);
      }
    }
    ASSERT_EQ(Walk(*writer), Fresh(family, 2)) << "step " << step;
    ASSERT_EQ(Walk(*viewer), Fresh(family, kPhysicalOrder)) << "step " << step;
  }
  EXPECT_GT(moved_out, 15);
}

TEST_F(CursorFilterTest, AnotherSessionsChangesAreSeenOnTheNextRead) {
  LanguageSettingsScope ansi(0, 0);
  qvtest::TempDir dir;
  Family mine(dir.Path()), theirs(dir.Path());
  mine.Create();
  std::mt19937 random(3);
  auto other = theirs.Open();
  for (int i = 0; i < 40; ++i) Append(*other, RandomRow(random));
  auto c = mine.Open();
  c->SetIndexPos(1);
  AddAll(*c);
  for (int step = 0; step < 30; ++step) {
    if (step % 3 == 2) {
      ASSERT_EQ(other->GotoPhysicalRecordNumber(static_cast<std::uint32_t>(1 + random() % 40)) == 0 ? 0 : 0, 0);
      if (!other->AtBegin() && !other->AtEnd()) other->DeleteRecord(nullptr);
    } else {
      Append(*other, RandomRow(random));
    }
    EXPECT_EQ(Walk(*c), Fresh(theirs, 1)) << step;
  }
}

// A child process appends in a tight loop while this process activates and
// deactivates filters: every update finishes and shows one state of the
// table (the walk and the count agree).
TEST_F(CursorFilterTest, AWriterInATightLoopDoesNotStarveFilterUpdates) {
  qvtest::TempDir dir;
  const std::string stop = dir.File("stop");
  qvtest::ChildProcess child([&](qvtest::ChildProcess& self) {
    self.WaitTold();
    LanguageSettingsScope ansi(0, 0);
    Family family(dir.Path());
    auto c = family.Open();
    std::mt19937 random(5);
    int appended = 0;
    self.Ready();
    while (!std::filesystem::exists(stop) && appended < 200000) {
      Append(*c, RandomRow(random));
      ++appended;
    }
    return appended > 0 ? 0 : 1;
  });
  LanguageSettingsScope ansi(0, 0);
  Family family(dir.Path());
  family.Create();
  {
    auto c = family.Open();
    std::mt19937 random(9);
    for (int i = 0; i < 200; ++i) Append(*c, RandomRow(random));
  }
  child.Tell();
  ASSERT_TRUE(child.WaitReady());
  auto c = family.Open();
  c->SetIndexPos(2);
  // The writer is under way before the updates start.
  for (int wait = 0; wait < 2000 && c->GetRecordCount() < 300; ++wait)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  const std::uint32_t before = c->GetRecordCount();
  ASSERT_GE(before, 300u);
  for (const char* text : kFilters) c->AddFilter(0, text, nullptr, false, nullptr, {});
  double longest = 0;
  for (int round = 0; round < 15; ++round) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const auto start = std::chrono::steady_clock::now();
    c->ActivateAllFilters();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    longest = std::max(longest, seconds);
    const std::uint32_t count = c->GetRecordCount();
    EXPECT_GT(count, 0u);
    // The writer's appends since the update are picked up by the next
    // read: with the writer held off, the records shown are those a fresh
    // cursor's filters find.
    c->UserReadLockTable();
    auto fresh = family.Open();
    fresh->SetIndexPos(2);
    for (const char* text : kFilters) fresh->AddFilter(0, text, nullptr, false, nullptr, {});
    fresh->ActivateAllFilters();
    EXPECT_EQ(Walk(*c), Walk(*fresh)) << round;
    fresh->CloseCursor();
    c->UserReadUnlockTable();
    c->DeactivateAllFilters();
  }
  RecordProperty("restarts", static_cast<int>(c->Filters().Restarts()));
  c->DeactivateAllFilters();
  EXPECT_GT(c->GetRecordCount(), before);  // the writer went on meanwhile
  qvtest::WriteFileBytes(stop, "");
  EXPECT_EQ(child.Wait(), 0);
  EXPECT_LT(longest, 10.0);
  RecordProperty("longest_update_ms", static_cast<int>(longest * 1000));
  c->ActivateAllFilters();
  std::vector<std::uint32_t> shown = Walk(*c);
  auto fresh = family.Open();
  fresh->SetIndexPos(2);
  for (const char* text : kFilters) fresh->AddFilter(0, text, nullptr, false, nullptr, {});
  fresh->ActivateAllFilters();
  EXPECT_EQ(shown, Walk(*fresh));
}

// A pass that sees the table change (here: the table's change count moved
// while it ran, as the read lock's change detection moves it) starts again;
// after three restarts the update holds the table's read lock, so every
// later pass runs under it. The records shown are those of the last pass.
TEST_F(CursorFilterTest, AnUpdateThatSeesTheTableChangeStartsAgainThenHoldsTheTable) {
  LanguageSettingsScope ansi(0, 0);
  qvtest::TempDir dir;
  Family family(dir.Path());
  family.Create();
  auto c = family.Open();
  std::mt19937 random(3);
  for (int i = 0; i < 40; ++i) Append(*c, RandomRow(random));
  for (int changes : {0, 1, 3, 5}) {
    SCOPED_TRACE(changes);
    std::vector<bool> held;  // per pass: the read lock held when it began
    std::uint32_t previous = 0;
    TDataTable* table = c->Table();
    TFilter* f = c->AddFilter(0, {}, nullptr, false,
                              [&](const std::uint8_t*, std::uint32_t n) {
                                if (held.empty() || n <= previous) {
                                  held.push_back(table->InternalReadLockHeld());
                                  if (static_cast<int>(held.size()) <= changes) table->NoteChange();
                                }
                                previous = n;
                                return n % 2 == 0;
                              },
                              {});
    const std::uint32_t restarts = c->Filters().Restarts();
    c->ActivateFilter(f);
    EXPECT_EQ(c->Filters().Restarts() - restarts, static_cast<std::uint32_t>(changes));
    ASSERT_EQ(held.size(), static_cast<std::size_t>(changes + 1));
    for (std::size_t pass = 0; pass < held.size(); ++pass) EXPECT_EQ(held[pass], pass >= 3) << pass;
    EXPECT_FALSE(table->InternalReadLockHeld());  // the operation's end let it go
    EXPECT_EQ(c->GetRecordCount(), 20u);
    c->DropFilter(f);
  }
}

// A clone of an exclusive cursor with a range and two active filters (and
// one inactive) stands on the same record and shows the same records.
TEST_F(CursorFilterTest, AClonedCursorShowsTheSameRecords) {
  LanguageSettingsScope ansi(0, 0);
  qvtest::TempDir dir;
  Family family(dir.Path());
  family.Create();
  auto c = family.Open(true);
  std::mt19937 random(21);
  for (int i = 0; i < 80; ++i) Append(*c, RandomRow(random));
  c->SetIndexPos(1);
  const std::vector<TFieldDefinition> layout = Layout(*c);
  Bytes low = MakeRecord(layout, c->GetRecordSize(), {std::string("Jones"), {}, {}, {}});
  Bytes high = MakeRecord(layout, c->GetRecordSize(), {std::string("Smyth"), {}, {}, {}});
  c->SetRange(false, low.data(), 1, high.data(), 1);
  TFilter* a = c->AddFilter(0, "Qty >= 0", nullptr, false, nullptr, {});
  TFilter* b = c->AddFilter(0, "Year < 1705", nullptr, false, nullptr, {});
  c->AddFilter(0, "Qty = 1", nullptr, false, nullptr, {});  // stays inactive
  c->ActivateFilter(a);
  c->ActivateFilter(b);
  const std::vector<std::uint32_t> shown = Walk(*c);
  ASSERT_GT(shown.size(), 3u);
  Bytes buffer(c->GetRecordSize());
  c->SetToBegin();
  c->GetNextRecord(buffer.data());
  c->GetNextRecord(buffer.data());
  const std::uint32_t current = c->GetPhysicalRecordNumber();

  std::unique_ptr<TDataCursor> copy = c->CloneCursor();
  EXPECT_EQ(copy->GetPhysicalRecordNumber(), current);
  EXPECT_EQ(copy->GetRecordNumber(), c->GetRecordNumber());
  EXPECT_EQ(copy->Filters().FilterCount(), 3u);
  EXPECT_FALSE(copy->Filters().FilterAt(2)->Active());
  EXPECT_EQ(Walk(*copy), shown);
  EXPECT_EQ(copy->GetRecordCount(), shown.size());
}

TEST_F(CursorFilterTest, HandlesOfAnotherCursorAndBadTextsAreRefused) {
  LanguageSettingsScope ansi(0, 0);
  qvtest::TempDir dir;
  Family family(dir.Path());
  family.Create();
  auto c = family.Open(), d = family.Open();
  std::mt19937 random(2);
  for (int i = 0; i < 10; ++i) Append(*c, RandomRow(random));
  TFilter* foreign = d->AddFilter(0, "Qty = 1", nullptr, false, nullptr, {});
  EXPECT_EQ(RaisedNumber([&] { c->DropFilter(foreign); }), 10050);
  EXPECT_EQ(RaisedNumber([&] { c->ActivateFilter(foreign); }), 10050);
  EXPECT_EQ(RaisedNumber([&] { c->AddFilter(0, "Qty * 2", nullptr, false, nullptr, {}); }), 10051);
  EXPECT_EQ(RaisedNumber([&] { c->AddFilter(0, "Year = 1700 AND", nullptr, false, nullptr, {}); }), 10051);
  // A filter set without an active filter: physical order still skips
  // deleted records, and the count is the live one.
  c->AddFilter(0, "Qty = 1", nullptr, false, nullptr, {});
  ASSERT_EQ(c->GotoPhysicalRecordNumber(4), 0);
  c->DeleteRecord(nullptr);
  c->SetIndexPos(kPhysicalOrder);
  std::vector<std::uint32_t> shown = Walk(*c);
  EXPECT_EQ(shown.size(), 9u);
  EXPECT_EQ(std::count(shown.begin(), shown.end(), 4u), 0);
  // Closing drops the filters.
  c->CloseCursor();
  c->OpenCursor();
  EXPECT_EQ(c->Filters().FilterCount(), 0u);
}

}  // namespace
}  // namespace korvex::testing
