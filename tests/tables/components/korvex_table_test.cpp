// The table component: creation read back by python3 from the files'
// documented layouts and by the table checker, opening by name, every
// whole-table operation with its events, failures that must give back the
// temporary cursor and the database, locks across processes, and a
// restructure that loses data.
#include <gtest/gtest.h>

#include <signal.h>

#include <filesystem>
#include <fstream>

#include "platform/dataset/dataset.h"
#include "support/child_process.h"
#include "support/run_command.h"
#include "tables/components/korvex_table.h"
#include "tables/engine/errors/engine_error.h"
#include "tests/tables/components/components_test_support.h"

namespace korvex::testing {
namespace {

using namespace db;
namespace fs = std::filesystem;

using TableTest = ComponentsTest;

std::string Python(const std::string& program) {
  qvtest::CommandResult run = qvtest::RunPythonScript(program, " 2>&1");
  EXPECT_EQ(run.status, 0) << run.output;
  return run.output;
}

// The families table: fields, then the primary index second in the list.
void DefineFamilies(TKORVEXTable& t, const std::string& dir) {
  t.SetDatabaseName(dir);
  t.SetTableName("fams");
  t.FieldDefs().Add("Name", ftString, 20, true);
  t.FieldDefs().Add("Born", ftDate);
  t.FieldDefs().Add("Notes", ftMemo);
  t.FieldDefs().Add("Count", ftInteger, 0, true);
  t.FieldDefs().Add("Amount", ftBCD, 2);
  t.FieldDefs().Add("Flag", ftBoolean);
  t.IndexDefs().Add("ByName", "Name;Count", ixCaseInsensitive);
  t.IndexDefs().Add("", "Count", ixPrimary | ixUnique);
}

void AddRows(TKORVEXTable& t, int count) {
  for (int i = 1; i <= count; ++i) {
    t.Append();
    t.FieldByName("Name")->SetAsString("N" + std::to_string(i % 7));
    t.FieldByName("Count")->SetAsInteger(i);
    t.FieldByName("Notes")->SetAsString(std::string(100 + i, 'x'));
    t.Post();
  }
}

// Creates the families table in dir, with `rows` records.
void CreateFamilies(const std::string& dir, int rows = 0) {
  TKORVEXTable t;
  DefineFamilies(t, dir);
  t.CreateTable();
  if (rows > 0) {
    t.Open();
    AddRows(t, rows);
  }
}

TEST_F(TableTest, CreationPutsThePrimaryFirstAndTheFilesAgree) {
  qvtest::TempDir dir;
  {
    TKORVEXTable t;
    DefineFamilies(t, dir.Path());
    t.CreateTable();
    EXPECT_EQ(t.DBFlags(), 0);
    t.FieldDefs().Clear();
    t.IndexDefs().Update();
    ASSERT_EQ(t.IndexDefs().Count(), 2);  // read back from the table
    EXPECT_EQ(t.IndexDefs().Items(0).Name, "");
    EXPECT_EQ(t.IndexDefs().Items(0).Fields, "Count");
    EXPECT_EQ(t.IndexDefs().Items(0).Options, ixPrimary | ixUnique);
    EXPECT_EQ(t.IndexDefs().Items(1).Name, "ByName");
    EXPECT_EQ(t.IndexDefs().Items(1).Fields, "Name;Count");
    EXPECT_EQ(t.IndexDefs().Items(1).Options, ixCaseInsensitive);
    EXPECT_EQ(t.GetIndexNames(), std::vector<std::string>{"ByName"});
    EXPECT_EQ(t.FieldDefs().Count(), 6);
    EXPECT_EQ(t.DBFlags(), 0);
    // An existing table is not overwritten.
    EXPECT_NE(Raised([&] { t.CreateTable(); }), "");
  }
  std::string out = Python(R"(
import struct
b = open(')" + dir / "fams.DAT" + R"(', 'rb').read()
count = struct.unpack_from('<H', b, 23)[0]
for i in range(count):
    d = b[127 + 768 * i: 127 + 768 * (i + 1)]
    print(struct.unpack_from('<H', d, 0)[0], d[3:3 + d[2]].decode('latin-1'), d[84], d[85], d[86], d[87], d[92])
x = open(')" + dir / "fams.IDX" + R"(', 'rb').read()
print('indexes', x[13], 'no primary', x[3978])
for slot in range(x[13] + 1):
    d = x[14 + 120 * slot: 14 + 120 * (slot + 1)]
    print(slot, repr(d[1:1 + d[0]].decode('latin-1')), 'ci', d[34], 'unique', d[35], 'fields',
          list(struct.unpack_from('<%dH' % d[37], d, 54)))
)");
  EXPECT_EQ(out,
            "1 Name 1 0 20 0 1\n"
            "2 Born 2 0 0 0 0\n"
            "3 Notes 3 22 0 0 0\n"
            "4 Count 6 0 0 0 1\n"
            "5 Amount 8 0 0 2 0\n"
            "6 Flag 4 0 0 0 0\n"
            "indexes 1 no primary 0\n"
            "0 '' ci 0 unique 1 fields [4]\n"
            "1 'ByName' ci 1 unique 0 fields [1, 4]\n");
  qvtest::CommandResult check =
      qvtest::RunShell("python3 '" QV_SOURCE_DIR "/tools/tablecheck.py' '" + dir / "fams.DAT" + "' 2>&1");
  EXPECT_EQ(check.status, 0) << check.output;
}

TEST_F(TableTest, CreationRefusesTooManyDefinitionsBeforeAnythingIsMade) {
  qvtest::TempDir dir;
  TKORVEXTable t;
  t.SetDatabaseName(dir.Path());
  t.SetTableName("big");
  for (int i = 0; i < 1025; ++i) t.FieldDefs().Add("F" + std::to_string(i), ftInteger);
  EXPECT_EQ(Raised([&] { t.CreateTable(); }).substr(0, 27), "KORVEX Engine Error # 9492 ");
  t.FieldDefs().Clear();
  t.FieldDefs().Add("A", ftInteger);
  for (int i = 0; i < 34; ++i) t.IndexDefs().Add("I" + std::to_string(i), "A", 0);
  EXPECT_EQ(Raised([&] { t.CreateTable(); }).substr(0, 27), "KORVEX Engine Error # 9487 ");
  EXPECT_FALSE(fs::exists(dir / "big.DAT"));
  EXPECT_EQ(t.DBFlags(), 0);
}

TEST_F(TableTest, OpeningByName) {
  qvtest::TempDir dir;
  CreateFamilies(dir.Path());
  TKORVEXTable t;
  EXPECT_EQ(Raised([&] { t.Open(); }), "Missing table name.");
  t.SetTableName(dir / "fams");
  EXPECT_EQ(t.DatabaseName(), dir.Path());
  EXPECT_EQ(t.TableName(), "fams");
  t.SetIndexFieldNames("Name;Flag");
  EXPECT_EQ(Raised([&] { t.Open(); }), "No index for fields 'Name;Flag'");
  EXPECT_FALSE(t.Active());
  EXPECT_EQ(t.DBFlags(), 0);
  t.SetIndexFieldNames("name");
  t.Open();
  EXPECT_EQ(t.IndexName(), "");
  EXPECT_EQ(t.IndexFieldNames(), "name");
  AddRows(t, 20);
  t.First();
  EXPECT_EQ(t.FieldByName("Name")->AsString(), "N0");  // by name, then count
  t.SetIndexName("");
  t.First();
  EXPECT_EQ(t.FieldByName("Count")->AsInteger(), 1);  // by the primary key
  EXPECT_EQ(t.FullTableName(), dir / "fams");
  EXPECT_EQ(t.PhysicalRecordCount(), 20u);
  EXPECT_EQ(t.LastAutoIncValue(), 20u);
  EXPECT_EQ(t.BlobBlockSize(), 512u);
  EXPECT_EQ(t.VersionNum(), "2.00");
  EXPECT_EQ(t.UserMajorVersion(), 1);
  EXPECT_FALSE(t.Encrypted());
  // An open table exists without a look at the directory: its files moved
  // away while it is open do not change the answer.
  fs::create_directory(dir / "away");
  for (const char* f : {"fams.DAT", "fams.IDX", "fams.BLB"}) fs::rename(dir / f, dir / (std::string("away/") + f));
  EXPECT_TRUE(t.Exists());
  t.Close();
  EXPECT_FALSE(t.Exists());
  for (const char* f : {"fams.DAT", "fams.IDX", "fams.BLB"}) fs::rename(dir / (std::string("away/") + f), dir / f);
  EXPECT_TRUE(t.Exists());
  // Header values of a closed table go through a temporary cursor.
  EXPECT_EQ(t.LastAutoIncValue(), 20u);
  EXPECT_EQ(t.DBFlags(), 0);

  TKORVEXTable m;
  m.SetInMemory(true);
  EXPECT_EQ(m.DatabaseName(), "Memory");
  m.SetTableName(dir / "mem");
  EXPECT_EQ(m.DatabaseName(), "Memory");
  EXPECT_EQ(m.TableName(), "mem");
}

// Header values through the component equal the cursor's, open and
// closed, plain and encrypted (password and description in clear).
TEST_F(TableTest, HeaderValuesAreTheCursorsOpenAndClosed) {
  qvtest::TempDir dir;
  TKORVEXTable t;
  DefineFamilies(t, dir.Path());
  t.CreateTable();
  auto values = [&] {
    return t.VersionNum() + "/" + (t.Encrypted() ? "enc" : "plain") + "/[" + t.Password() + "]/" + t.Description() +
           "/" + std::to_string(t.UserMajorVersion()) + "/" + std::to_string(t.BlobBlockSize());
  };
  struct Case {
    bool encrypt, open;
    std::string expected;
  };
  for (const Case& c : {Case{false, false, "2.00/plain/[]//1/512"}, Case{false, true, "2.00/plain/[]//1/512"},
                        Case{true, false, "2.00/enc/[secret]/Kept/1/512"}, Case{true, true, "2.00/enc/[secret]/Kept/1/512"}}) {
    SCOPED_TRACE(std::string(c.encrypt ? "encrypted" : "plain") + (c.open ? ", open" : ", closed"));
    if (c.encrypt && !t.Encrypted()) {
      Session().AddPassword("secret");
      t.RestructureFieldDefs().Update();
      t.RestructureIndexDefs().Update();
      TRestructureSettings settings;
      settings.Encrypted = true;
      settings.Password = "secret";
      settings.Description = "Kept";
      t.RestructureTable(settings);
    }
    if (c.open) t.Open();
    EXPECT_EQ(values(), c.expected);
    t.Close();
    EXPECT_EQ(t.DBFlags(), 0);
  }
}

TEST_F(TableTest, EveryWholeTableOperationWithItsEvents) {
  qvtest::TempDir dir;
  TKORVEXTable t;
  DefineFamilies(t, dir.Path());
  t.CreateTable();
  t.Open();
  AddRows(t, 300);
  t.Close();
  std::vector<std::string> events;
  auto progress = [&](const char* what) {
    return [&events, what](rtl::TObject*, int, std::uint16_t percent) {
      if (events.empty() || events.back() != what) events.push_back(what);
      EXPECT_LE(percent, 100);
    };
  };
  t.OnCopyProgress = progress("copy");
  t.OnIndexProgress = progress("index");
  t.OnRepairProgress = progress("repair");
  t.OnOptimizeProgress = progress("optimize");
  std::vector<std::string> log;
  t.OnRepairLog = [&](rtl::TObject*, const std::string& line) { log.push_back(line); };

  t.CopyTable("copy1");
  EXPECT_TRUE(fs::exists(dir / "copy1.DAT"));
  t.AddIndex("ByFlag", "Flag;Count", 0);
  EXPECT_EQ(t.GetIndexNames(), (std::vector<std::string>{"ByName", "ByFlag"}));
  t.DeleteIndex("ByName");
  EXPECT_EQ(t.GetIndexNames(), std::vector<std::string>{"ByFlag"});
  t.RepairTable();
  EXPECT_FALSE(log.empty());
  t.OptimizeTable("ByFlag", false);
  EXPECT_TRUE(fs::exists(dir / "fams.DBK")) << "the old files are kept";
  EXPECT_EQ(Raised([&] {
              t.Open();
              t.OptimizeTable("", true);
            }),
            "Cannot perform this operation on an open dataset");
  t.Close();
  t.RenameTable("fams2");
  EXPECT_EQ(t.TableName(), "fams2.DAT");
  EXPECT_FALSE(fs::exists(dir / "fams.DAT"));
  t.Open();
  EXPECT_EQ(t.RecordCount(), 300);
  t.Close();
  t.DeleteAllIndexes();
  EXPECT_TRUE(t.GetIndexNames().empty());
  t.EmptyTable();
  t.Open();
  EXPECT_EQ(t.RecordCount(), 0);
  t.Close();
  t.DeleteTable();
  EXPECT_FALSE(fs::exists(dir / "fams2.DAT"));
  EXPECT_TRUE(std::find(events.begin(), events.end(), "copy") != events.end());
  EXPECT_TRUE(std::find(events.begin(), events.end(), "index") != events.end());
  EXPECT_TRUE(std::find(events.begin(), events.end(), "optimize") != events.end());
  EXPECT_EQ(t.DBFlags(), 0);
  // The copy is a table of its own with every record.
  TKORVEXTable c;
  c.SetDatabaseName(dir.Path());
  c.SetTableName("copy1");
  c.Open();
  EXPECT_EQ(c.RecordCount(), 300);
  c.Last();
  EXPECT_EQ(c.FieldByName("Notes")->AsString(), std::string(400, 'x'));
}

TEST_F(TableTest, FailedWorkGivesBackTheCursorAndTheDatabase) {
  qvtest::TempDir dir;
  CreateFamilies(dir.Path(), 10);
  FinalizeSessions();
  LockHolder<TKORVEXTable> holder([&](TKORVEXTable& t) {
    t.SetDatabaseName(dir.Path());
    t.SetTableName("fams");
    t.Open();
    t.Edit();  // holds the record's lock
    return true;
  });
  ASSERT_TRUE(holder.Holding());
  TKORVEXTable t;
  t.SetDatabaseName(dir.Path());
  t.SetTableName("fams");
  t.UpdateFieldDefs();
  const std::int64_t memory = GetTotalMemoryAllocated();
  const int databases = Session().GetDatabaseCount();
  EXPECT_EQ(Raised([&] { t.EmptyTable(); }).substr(0, 22), "KORVEX Engine Error # ");
  EXPECT_EQ(Raised([&] { t.AddIndex("ByFlag", "Flag", 0); }).substr(0, 22), "KORVEX Engine Error # ");
  EXPECT_EQ(Raised([&] { t.DeleteTable(); }).substr(0, 22), "KORVEX Engine Error # ");
  EXPECT_EQ(Raised([&] { t.OptimizeTable("", true); }).substr(0, 22), "KORVEX Engine Error # ");
  EXPECT_EQ(Raised([&] { t.UpgradeTable(); }).substr(0, 22), "KORVEX Engine Error # ");
  EXPECT_EQ(t.DBFlags(), 0);
  EXPECT_EQ(Session().GetDatabaseCount(), databases);
  EXPECT_EQ(GetTotalMemoryAllocated(), memory);
  // Open shared here: emptying needs the table to itself, and a failure
  // leaves the dataset browsing a valid record.
  t.Open();
  t.Last();
  EXPECT_NE(Raised([&] { t.EmptyTable(); }), "");
  EXPECT_EQ(t.State(), dsBrowse);
  EXPECT_EQ(t.RecordCount(), 10);
  EXPECT_FALSE(t.FieldByName("Name")->AsString().empty());
  t.Close();
  FinalizeSessions();
  EXPECT_EQ(holder.Kill(), 128 + SIGKILL);
  // Nothing of this process's is left on the table: another process opens it
  // exclusively.
  qvtest::ChildProcess exclusive([&](qvtest::ChildProcess&) {
    TKORVEXTable t;
    t.SetDatabaseName(dir.Path());
    t.SetTableName("fams");
    t.SetExclusive(true);
    t.Open();
    return t.RecordCount() == 10 ? 0 : 1;
  });
  EXPECT_EQ(exclusive.Wait(), 0);
}

TEST_F(TableTest, TableLocksAndSemaphoresAcrossProcesses) {
  qvtest::TempDir dir;
  CreateFamilies(dir.Path());
  FinalizeSessions();
  for (bool semaphore : {false, true}) {
    SCOPED_TRACE(semaphore ? "semaphore" : "table lock");
    LockHolder<TKORVEXTable> holder([&](TKORVEXTable& t) {
      t.SetDatabaseName(dir.Path());
      t.SetTableName("fams");
      t.Open();
      return semaphore ? t.LockSemaphore(3) : (t.LockTable(), t.TableIsLocked());
    });
    ASSERT_TRUE(holder.Holding());
    TKORVEXTable t;
    t.SetDatabaseName(dir.Path());
    t.SetTableName("fams");
    t.Open();
    if (semaphore) {
      EXPECT_FALSE(t.LockSemaphore(3));
      EXPECT_TRUE(t.LockSemaphore(4));
    } else {
      EXPECT_TRUE(t.TableIsLocked());
      EXPECT_EQ(Raised([&] { t.LockTable(); }).substr(0, 28), "KORVEX Engine Error # 10241 ");
    }
    EXPECT_EQ(holder.Kill(), 128 + SIGKILL);
    if (semaphore) {
      EXPECT_TRUE(t.LockSemaphore(3));
      EXPECT_TRUE(t.UnlockSemaphore(3));
    } else {
      EXPECT_FALSE(t.TableIsLocked());
      t.LockTable();
      EXPECT_TRUE(t.TableIsLocked());
      t.UnlockTable();
    }
    t.Close();
    FinalizeSessions();
  }
}

TEST_F(TableTest, RestructureReportsLostDataAndStopLeavesTheFiles) {
  qvtest::TempDir dir;
  TKORVEXTable t;
  DefineFamilies(t, dir.Path());
  t.CreateTable();
  t.Open();
  AddRows(t, 50);
  t.Close();
  auto hashes = [&] { return TableFileHashes(dir.Path(), "fams"); };
  const std::string before = hashes();

  TRestructureFieldDefs& fields = t.RestructureFieldDefs();
  fields.Update();
  ASSERT_EQ(fields.Count(), 6);
  EXPECT_EQ(t.DBFlags(), 0);
  t.RestructureIndexDefs().Update();
  ASSERT_EQ(t.RestructureIndexDefs().Count(), 2);
  EXPECT_EQ(t.RestructureIndexDefs().Items(1).Fields, "Name;Count");
  fields.Delete(fields.IndexOf("Flag"));
  std::vector<TDataLossCause> causes;
  bool go_on = false;
  t.OnDataLost = [&](rtl::TObject*, TDataLossCause cause, const std::string&, bool& continue_restructure,
                     bool& stop_asking) {
    causes.push_back(cause);
    continue_restructure = go_on;
    stop_asking = false;
  };
  // Stopping is no failure: the table simply stays as it was.
  EXPECT_EQ(Raised([&] { t.RestructureTable({}); }), "");
  ASSERT_FALSE(causes.empty());
  EXPECT_EQ(causes[0], dlFieldDeletion);
  EXPECT_EQ(hashes(), before);
  EXPECT_EQ(t.DBFlags(), 0);

  // Going on: the field is gone, the others keep their values; the new
  // limits, default, description and case come back through Update.
  go_on = true;
  TRestructureFieldDef& name = fields.Find("Name");
  name.DefaultValue = "Nobody";
  name.MinimumValue = "A";
  name.MaximumValue = "ZZZ";
  name.Description = "Family name";
  name.CharCase = fcUpperCase;
  t.RestructureTable({});
  fields.SetUpToDate(false);
  fields.Update();
  ASSERT_EQ(fields.Count(), 5);
  EXPECT_EQ(fields.IndexOf("Flag"), -1);
  const TRestructureFieldDef& back = fields.Find("Name");
  EXPECT_EQ(back.DefaultValue, "Nobody");
  EXPECT_EQ(back.MinimumValue, "A");
  EXPECT_EQ(back.MaximumValue, "ZZZ");
  EXPECT_EQ(back.Description, "Family name");
  EXPECT_EQ(back.CharCase, fcUpperCase);
  t.Open();
  EXPECT_EQ(t.RecordCount(), 50);
  EXPECT_EQ(t.FindField("Flag"), nullptr);
  t.Last();
  EXPECT_EQ(t.FieldByName("Notes")->AsString().size(), 150u);
}

}  // namespace
}  // namespace korvex::testing
