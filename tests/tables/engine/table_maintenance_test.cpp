// Whole-table operations of the cursor: empty, delete, rename, backups, the
// closed header, copy, and the swap that puts a rewritten table in place.
// Records are compared by ID against what a cursor read before the
// operation; every result also passes the independent file checker.
#include <sys/stat.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>

#include "support/child_process.h"
#include "platform/runtime/filelock.h"
#include "support/temp_dir.h"
#include "tables/engine/cache/journal.h"
#include "tables/engine/cursor/data_cursor.h"
#include "tables/engine/errors/engine_error.h"
#include "tables/engine/maintenance/maintenance_work.h"
#include "tables/engine/maintenance/table_restructure.h"
#include "tables/engine/maintenance/table_swap.h"
#include "tables/engine/table/data_session.h"
#include "tables/engine/table/data_table.h"
#include "tables/engine/table/swap_record.h"
#include "tables/engine/table/work_claim.h"
#include "tables/lib/fieldtypes.h"
#include "tests/tables/engine/maintenance_support.h"

namespace korvex::testing {
namespace {

namespace fs = std::filesystem;
using qvtest::ReadFileBytes;
using qvtest::WriteFileBytes;

using Env = MaintenanceEnv;

TEST(TableMaintenance, WholeTableOperationsPlayAHotJournalBackFirst) {
  qvtest::TempDir d;
  HotJournal hot(d);
  ASSERT_EQ(hot.before.size(), 9u);
  struct Case {
    const char* what;
    std::function<void(TDataDirectory*)> run;
    // The table that holds the records afterwards, and how many.
    const char* result;
    std::size_t records;
    bool hidden_dropped = false;
  };
  const std::vector<Case> cases{
      {"copy", [](TDataDirectory* dir) { NewCursor(dir, false)->CopyTable("c", true); }, "c", 9, true},
      {"restructure", [](TDataDirectory* dir) {
         auto c = NewCursor(dir, true);
         TRestructureRequest r = WithoutField(*c, 2);
         r.Indexes.emplace_back();
         c->RestructureTable(r);
       }, "t", 9, true},
      {"rename", [](TDataDirectory* dir) { NewCursor(dir, false)->RenameTable("u"); }, "u", 9},
      {"optimize", [](TDataDirectory* dir) { NewCursor(dir, true)->OptimizeTable("", true); }, "t", 9},
      {"empty", [](TDataDirectory* dir) { NewCursor(dir, true)->EmptyTable(); }, "t", 0},
      {"backup", [](TDataDirectory* dir) {
         NewCursor(dir, false)->BackupTable();
         for (auto [from, to] : {std::pair{".DBK", ".DAT"}, {".IBK", ".IDX"}, {".BBK", ".BLB"}})
           fs::rename(dir->Path() + "t" + from, dir->Path() + "b" + to);
       }, "b", 9},
      {"delete", [](TDataDirectory* dir) { NewCursor(dir, false)->DeleteTable(); }, nullptr, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    for (const char* name : {"c", "u", "b"})
      for (const char* ext : {".DAT", ".IDX", ".BLB"}) fs::remove(Path(d, std::string(name) + ext));
    hot.Lay();
    Env env(d.path().string());
    c.run(env.dir);
    EXPECT_FALSE(AnyJournal(d.path().string()));
    if (c.result == nullptr) {
      EXPECT_FALSE(fs::exists(hot.base + ".DAT"));
      continue;
    }
    ExpectChecks(Path(d, std::string(c.result) + ".DAT"));
    Snapshot after = Read(env.dir, c.result);
    const Snapshot expected = c.records == 0     ? Snapshot{}
                              : c.hidden_dropped ? Without(hot.before, "Hid")
                                                 : hot.before;
    EXPECT_EQ(after, expected);
  }
}

TEST(TableMaintenance, DeleteRenameAndBackupOfATableInUseAreRefused) {
  struct Holder {
    const char* what;
    bool other_process;
    bool exclusive;
  };
  struct Op {
    const char* what;
    std::function<void(TDataCursor&)> run;
  };
  const std::vector<Holder> holders{{"shared here", false, false}, {"exclusive here", false, true},
                                    {"another process", true, false}};
  const std::vector<Op> ops{{"delete", [](TDataCursor& c) { c.DeleteTable(); }},
                            {"rename", [](TDataCursor& c) { c.RenameTable("u"); }},
                            {"backup", [](TDataCursor& c) { c.BackupTable(); }}};
  for (const Holder& h : holders) {
    for (const Op& op : ops) {
      SCOPED_TRACE(std::string(h.what) + " / " + op.what);
      qvtest::TempDir d;
      {
        Env env(d.path().string());
        Fill(env.dir, 5);
      }
      const std::string before = FilesOf(Path(d, "t"));
      std::unique_ptr<qvtest::ChildProcess> child;
      Env env(d.path().string());
      std::unique_ptr<TDataCursor> holder;
      if (h.other_process) {
        child = std::make_unique<qvtest::ChildProcess>([&](qvtest::ChildProcess& self) {
          Env e(d.path().string());
          auto c = NewCursor(e.dir, h.exclusive);
          c->OpenCursor();
          self.Ready();
          self.WaitTold();
          return 0;
        });
        child->WaitReady();
      } else {
        holder = NewCursor(env.dir, h.exclusive);
        holder->OpenCursor();
      }
      auto c = NewCursor(env.dir, false);
      EXPECT_EQ(RaisedNumber([&] { op.run(*c); }), err::kAccessDenied);
      if (child) child->Tell();
      holder.reset();
      child.reset();
      EXPECT_EQ(FilesOf(Path(d, "t")), before);
      EXPECT_FALSE(fs::exists(Path(d, "u.DAT")));
      EXPECT_FALSE(fs::exists(Path(d, "t.DBK")));
      // Free again, the operation goes through.
      op.run(*c);
      EXPECT_FALSE(fs::exists(Path(d, "t.DAT")));
    }
  }
  // An open cursor refuses all three (10031).
  qvtest::TempDir d;
  Env env(d.path().string());
  Fill(env.dir, 1);
  auto c = NewCursor(env.dir, false);
  c->OpenCursor();
  for (const Op& op : ops) EXPECT_EQ(RaisedNumber([&] { op.run(*c); }), err::kTableInUse) << op.what;
}

TEST(TableMaintenance, EmptyAndIndexBackupOnTheCursor) {
  qvtest::TempDir d;
  Env env(d.path().string());
  Fill(env.dir, 20);
  auto shared = NewCursor(env.dir, false);
  shared->OpenCursor();
  EXPECT_EQ(RaisedNumber([&] { shared->EmptyTable(); }), err::kNeedsExclusive);
  EXPECT_EQ(RaisedNumber([&] { shared->BackupIndex(); }), err::kNeedsExclusive);
  shared->CloseCursor();
  auto c = NewCursor(env.dir, true);
  c->OpenCursor();
  Bytes b(c->GetRecordSize());
  ASSERT_EQ(c->GetNextRecord(b.data()), 0);
  c->BackupIndex();
  EXPECT_TRUE(fs::exists(Path(d, "t.IBK")));
  c->EmptyTable();
  EXPECT_TRUE(c->AtBegin());
  EXPECT_EQ(c->GetNextRecord(b.data()), err::kEndOfFile);
  EXPECT_EQ(c->GetRecordCount(), 0u);
  // Kept the current index, only the copy goes.
  c->RestoreIndex(true, true);
  EXPECT_FALSE(fs::exists(Path(d, "t.IBK")));
  c->CloseCursor();
  ExpectChecks(Path(d, "t.DAT"));
  EXPECT_TRUE(Read(env.dir).empty());
  // Emptied inside a transaction, on disk (under the journal) and in
  // memory (no journal): a rollback gives the records back, also after
  // appends that follow the empty, and a commit empties the table.
  TDataDirectory* memory = env.session.OpenDataDirectory("MEMORY", "");
  Fill(env.dir, 20);
  Fill(memory, 20);
  const auto before = Read(env.dir);
  for (TDataDirectory* dir : {env.dir, memory})
    for (bool commit : {false, true}) {
      SCOPED_TRACE(std::string(dir == memory ? "memory " : "disk ") + (commit ? "commit" : "rollback"));
      ASSERT_EQ(Read(dir), before);
      auto x = NewCursor(dir, true);
      x->OpenCursor();
      dir->StartTransaction();
      x->EmptyTable();
      EXPECT_EQ(x->GetRecordCount(), 0u);
      x->EmptyTable();  // twice: the first empty's state is what comes back
      Bytes b(x->GetRecordSize());
      x->InitRecord(b.data());
      PutText(*x, 3, b, "added after the empty");
      x->AppendRecord(b.data());
      if (commit) dir->CommitTransaction(true);
      else dir->RollbackTransaction();
      EXPECT_EQ(x->GetRecordCount(), commit ? 1u : before.size());
      x->CloseCursor();
      if (dir == env.dir) ExpectChecks(Path(d, "t.DAT"));
      const auto after = Read(dir);
      if (commit) EXPECT_EQ(after.size(), 1u);
      else EXPECT_EQ(after, before);
      if (commit) Fill(dir, 20);
    }
  // A process killed in such a transaction leaves the table as it was.
  const auto filled = Read(env.dir);
  qvtest::ChildProcess killed([&](qvtest::ChildProcess& child) {
    Env own(d.path().string());
    auto x = NewCursor(own.dir, true);
    x->OpenCursor();
    own.dir->StartTransaction();
    x->EmptyTable();
    child.Ready();
    child.WaitTold();
    return 0;
  });
  ASSERT_TRUE(killed.WaitReady());
  killed.Kill(SIGKILL);
  EXPECT_EQ(killed.Wait(), 128 + SIGKILL);
  EXPECT_EQ(Read(env.dir), filled);
  ExpectChecks(Path(d, "t.DAT"));
  // Read-only cursors may not empty.
  auto ro = NewCursor(env.dir, true);
  ro->SetReadOnly(true);
  EXPECT_EQ(RaisedNumber([&] { ro->EmptyTable(); }), err::kAccessDenied);
}

TEST(TableMaintenance, HeaderOfAClosedTable) {
  qvtest::TempDir d;
  Env env(d.path().string());
  TTableCreation creation;
  creation.Settings.Description = "parish of St Mary";
  creation.Settings.UserMajorVersion = 3;
  creation.Settings.UserMinorVersion = 7;
  creation.Settings.Encrypted = true;
  creation.Settings.Password = "secret";
  env.session.AddPassword("secret");
  Fill(env.dir, 6, "t", creation);
  auto c = NewCursor(env.dir, false);
  TDataHeader open_header, closed;
  c->OpenCursor();
  c->GetDataHeader(open_header);
  c->UpdateDataHeader("secret", "new words", 41, 4, 1);
  c->CloseCursor();
  c->GetDataHeader(closed);
  EXPECT_EQ(closed.LastRecordID, 41u);
  EXPECT_EQ(closed.UserMajorVersion, 4);
  EXPECT_EQ(closed.UserMinorVersion, 1);
  EXPECT_EQ(closed.RecordSize, open_header.RecordSize);
  EXPECT_EQ(closed.FieldCount, 4);
  EXPECT_EQ(closed.Encrypted, 1);
  c->OpenCursor();
  EXPECT_EQ(c->GetDescription(), "new words");
  c->CloseCursor();
  // Without the password: asked for until given, else 10498.
  env.session.DeleteAllPasswords();
  EXPECT_EQ(RaisedNumber([&] { c->GetDataHeader(closed); }), err::kPasswordRequired);
  int asked = 0;
  c->SetPasswordCallback([&] {
    ++asked;
    if (asked == 2) env.session.AddPassword("secret");
    return true;
  });
  EXPECT_EQ(RaisedNumber([&] { c->GetDataHeader(closed); }), 0);
  EXPECT_EQ(asked, 2);
  ExpectChecks(Path(d, "t.DAT"));
}

TEST(TableMaintenance, CopyLeavesHiddenFieldsOutKeepsIDsAndReplacesATable) {
  struct Case {
    const char* what;
    bool in_memory;
    const char* target;  // relative to the table's folder, or a folder of its own
    bool existing;       // a different table of that name exists
  };
  const std::vector<Case> cases{{"beside", false, "c", false},
                                {"over an existing table", false, "c", true},
                                {"into another folder", false, "/sub/c", true},
                                {"in memory", true, "c", true}};
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    qvtest::TempDir d;
    fs::create_directory(Path(d, "sub"));
    Env env(d.path().string());
    std::string target = k.target[0] == '/' ? d.path().string() + k.target : k.target;
    TDataDirectory* target_dir = k.target[0] == '/' ? env.session.OpenDataDirectory("sub", Path(d, "sub"))
                                 : k.in_memory ? env.session.OpenDataDirectory("MEMORY", "")
                                               : env.dir;
    TDataDirectory* source_dir = k.in_memory ? env.session.OpenDataDirectory("MEMORY", "") : env.dir;
    Fill(source_dir, 40);
    if (k.existing) Fill(target_dir, 0, "c", {}, {Field("Other", dtFloat)});
    Snapshot before = Read(source_dir);
    std::vector<std::pair<std::uint32_t, int>> progress;
    auto c = NewCursor(source_dir, false);
    c->SetInMemory(k.in_memory);
    c->SetCopyProgressCallback(
        [](void* user, std::uint32_t step, std::uint8_t percent) {
          static_cast<decltype(progress)*>(user)->emplace_back(step, percent);
          return true;
        },
        &progress);
    c->CopyTable(target, false);
    EXPECT_FALSE(c->IsOpen());
    ASSERT_EQ(progress.size(), 40u);
    EXPECT_EQ(progress.front(), std::make_pair(1u, 2));
    EXPECT_EQ(progress[19], std::make_pair(20u, 50));
    EXPECT_EQ(progress.back(), std::make_pair(40u, 100));

    Snapshot copied = Read(target_dir, "c", k.in_memory);
    EXPECT_EQ(copied, Without(before, "Hid"));
    auto check = NewCursor(target_dir, false, "c");
    check->SetInMemory(k.in_memory);
    check->OpenCursor();
    ASSERT_EQ(check->GetFieldCount(), 3);
    for (int f = 1; f <= 3; ++f) EXPECT_EQ(check->GetFieldDefinitionByPos(f).FieldNumber, f);
    EXPECT_EQ(check->GetFieldDefinitionByPos(2).Name, "Name");
    // The last ID handed out stays so (record 40 was deleted).
    EXPECT_EQ(check->GetLastRecordID(), 40u);
    EXPECT_EQ(check->Table()->IndexFile().GetIndexCount(), 0);
    EXPECT_TRUE(check->Table()->IndexFile().GetNoPrimaryIndex());
    check->CloseCursor();
    if (!k.in_memory) ExpectChecks(target_dir->Path() + "c.DAT");
    // The source is unchanged and a copy onto itself is refused.
    EXPECT_EQ(Read(source_dir), before);
    if (!k.in_memory) {
      EXPECT_EQ(RaisedNumber([&] { c->CopyTable("t", false); }), err::kAccessDenied);
    } else {
      EXPECT_EQ(source_dir->DeleteDataTable("t", true), 0);
      EXPECT_EQ(source_dir->DeleteDataTable("c", true), 0);
    }
  }
}

TEST(TableMaintenance, SwapKeepsTheOldTableUntilTheNewOneIsInPlace) {
  // Old table "t" (with BLOB file) and a rewritten one "w" elsewhere; every
  // move of the swap fails in turn, then none.
  qvtest::TempDir d, work;
  std::string old_files, new_files;
  auto make = [&] {
    for (auto& entry : fs::directory_iterator(d.path())) fs::remove(entry.path());
    for (auto& entry : fs::directory_iterator(work.path())) fs::remove(entry.path());
    Env a(d.path().string()), b(work.path().string());
    Fill(a.dir, 5);
    Fill(b.dir, 9, "w");
    ::chmod(Path(d, "t.DAT").c_str(), 0640);
    ::chmod(Path(d, "t.IDX").c_str(), 0604);
    ::chmod(Path(work, "w.DAT").c_str(), 0600);
    old_files = FilesOf(Path(d, "t"));
    new_files = FilesOf(Path(work, "w"));
  };
  for (int fail_at = 1;; ++fail_at) {
    SCOPED_TRACE(fail_at);
    make();
    int moves = 0;
    SetTableSwapHook([&](const std::string&, const std::string&) {
      if (++moves == fail_at) RaiseError(err::kWriteError, "injected");
    });
    int raised = RaisedNumber([&] { SwapInRewrittenTable({Path(work, "w"), false}, {Path(d, "t"), false}, true); });
    SetTableSwapHook(nullptr);
    if (raised == 0) {
      EXPECT_EQ(fail_at, 7);  // three moves aside, three into place
      break;
    }
    EXPECT_EQ(raised, err::kWriteError);
    EXPECT_EQ(FilesOf(Path(d, "t")), old_files);
    EXPECT_EQ(FilesOf(Path(work, "w")), new_files);
    EXPECT_FALSE(fs::exists(Path(d, "t.DBK")));
    ASSERT_LT(fail_at, 10);
  }
  EXPECT_EQ(FilesOf(Path(d, "t")), new_files);
  EXPECT_FALSE(fs::exists(Path(work, "w.DAT")));
  struct stat st {};
  ::stat(Path(d, "t.DAT").c_str(), &st);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  ::stat(Path(d, "t.IDX").c_str(), &st);
  EXPECT_EQ(st.st_mode & 0777, 0604u);
  // The old files are the backups.
  for (auto [from, to] : {std::pair{".DBK", ".DAT"}, {".IBK", ".IDX"}, {".BBK", ".BLB"}})
    fs::rename(Path(d, std::string("t") + from), Path(d, std::string("old") + to));
  EXPECT_EQ(FilesOf(Path(d, "old")), old_files);
  // Without a backup nothing is left beside the table, earlier backups stay.
  make();
  WriteFileBytes(Path(d, "t.DBK"), "earlier");
  SwapInRewrittenTable({Path(work, "w"), false}, {Path(d, "t"), false}, false);
  EXPECT_EQ(FilesOf(Path(d, "t")), new_files);
  std::vector<std::string> left;
  for (auto& entry : fs::directory_iterator(d.path())) left.push_back(entry.path().filename().string());
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{"t.BLB", "t.DAT", "t.DBK", "t.IDX"}));
  EXPECT_EQ(ReadFileBytes(Path(d, "t.DBK")), "earlier");
}

TEST(TableMaintenance, ASwapCutShortIsFinishedOrPutBackByTheNextOpen) {
  // The swap of "w" (work folder) into "t" recorded, then cut short after
  // `done` of its six moves, a work file lost or a copy cut short or the
  // record torn: the next open of the folder finishes it when the new files
  // are whole, else puts the old ones back; the record goes either way.
  struct Case {
    int done;
    const char* damage;  // "", "lost IDX", "lost DAT", "half copy", "torn"
    bool finished;
  };
  const Case cases[] = {{0, "", true},          {1, "", true},         {3, "", true},          {4, "", true},
                        {6, "", true},          {2, "lost IDX", false}, {4, "lost BLB", false}, {5, "lost BLB", false},
                        {3, "half copy", true}, {0, "torn", false}};
  for (const Case& k : cases) {
    SCOPED_TRACE(std::to_string(k.done) + " " + k.damage);
    qvtest::TempDir d, work;
    {
      Env a(d.path().string()), b(work.path().string());
      Fill(a.dir, 5);
      Fill(b.dir, 9, "w");
    }
    const std::string old_files = FilesOf(Path(d, "t")), new_files = FilesOf(Path(work, "w"));
    TSwapPlan plan;
    plan.delete_aside = true;
    for (std::string ext : {"DAT", "IDX", "BLB"}) {
      plan.aside.push_back({Path(d, "t." + ext), Path(d, "t." + ext.substr(0, 1) + "B~")});
      plan.in.push_back({Path(work, "w." + ext), Path(d, "t." + ext)});
    }
    TSwapRecord(Path(d, "t"), plan).Abandon(false);
    int moved = 0;
    for (const auto* list : {&plan.aside, &plan.in})
      for (const TFileMove& m : *list)
        if (moved++ < k.done) {
          ASSERT_EQ(rtl::RenameLockedFile(m.from, m.to), 0);
        }
    const std::string damage = k.damage;
    if (damage.rfind("lost ", 0) == 0) fs::remove(Path(work, "w." + damage.substr(5)));
    if (damage == "half copy") WriteFileBytes(Path(d, "t.DAT"), "part of it");
    if (damage == "torn") {
      std::string record = ReadFileBytes(Path(d, "t.SWP"));
      WriteFileBytes(Path(d, "t.SWP"), record.substr(0, record.size() - 3));
    }
    Env next(d.path().string());
    EXPECT_FALSE(fs::exists(Path(d, "t.SWP")));
    if (k.finished) {
      EXPECT_EQ(FilesOf(Path(d, "t")), new_files);
      for (const char* aside : {"t.DB~", "t.IB~", "t.BB~"}) EXPECT_FALSE(fs::exists(Path(d, aside))) << aside;
      EXPECT_EQ(Read(next.dir).size(), 7u);
    } else {
      EXPECT_EQ(FilesOf(Path(d, "t")), old_files);
      EXPECT_EQ(Read(next.dir).size(), 4u);
    }
    ExpectChecks(Path(d, "t.DAT"));
  }
}

TEST(TableMaintenance, ASessionRemovesTheWorkFilesOfDeadClaimsOnly) {
  qvtest::TempDir work;
  const std::string w = work.path().string() + "/";
  for (const char* name : {"123450.DAT", "123450.IDX", "123450.BLB", "123450.JNL", "123450.WRK", "123451.DAT",
                           "1999.DAT", "1999.IDX"})
    WriteFileBytes(w + name, "x");
  // 123451 is claimed by this live process, 1999 by no one (a user's own
  // table).
  TWorkClaim live(w + "123451");
  ASSERT_TRUE(live.Held());
  {
    TDataSession session;
    session.SetPrivateDirectory(w);
  }
  std::vector<std::string> left;
  for (auto& entry : fs::directory_iterator(work.path())) left.push_back(entry.path().filename().string());
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{"123451.DAT", "123451.WRK", "1999.DAT", "1999.IDX"}));
  // A claim noting a swap under way has the swap put right first: the
  // new files it still holds go into the table, not away.
  qvtest::TempDir d;
  {
    Env a(d.path().string()), b(w);
    Fill(a.dir, 5);
    Fill(b.dir, 9, "777770");
  }
  const std::string new_files = FilesOf(w + "777770");
  TSwapPlan plan;
  for (std::string ext : {"DAT", "IDX", "BLB"}) {
    plan.aside.push_back({Path(d, "t." + ext), Path(d, "t." + ext.substr(0, 1) + "BK")});
    plan.in.push_back({w + "777770." + ext, Path(d, "t." + ext)});
  }
  TSwapRecord(Path(d, "t"), plan).Abandon(false);
  {
    TWorkClaim dead(w + "777770");
    dead.Note(Path(d, "t"));
    // Killed here: the claim stays, no one holds it.
    ASSERT_EQ(rtl::RenameLockedFile(plan.aside[0].from, plan.aside[0].to), 0);
    WriteFileBytes(w + "keep", ReadFileBytes(w + "777770.WRK"));
  }
  WriteFileBytes(w + "777770.WRK", ReadFileBytes(w + "keep"));
  fs::remove(w + "keep");
  EXPECT_EQ(RemoveDeadWorkFiles(w), 0);
  EXPECT_EQ(FilesOf(Path(d, "t")), new_files);
  EXPECT_FALSE(fs::exists(w + "777770.WRK"));
  EXPECT_FALSE(fs::exists(Path(d, "t.SWP")));
  EXPECT_TRUE(fs::exists(Path(d, "t.DBK")));
}

TEST(TableMaintenance, AFailedCopyLeavesNoTableBehind) {
  // A fault at every file operation the copy reaches, until it goes
  // through: each failure leaves no "c" at all and the source as it was.
  qvtest::TempDir d;
  Env env(d.path().string());
  Fill(env.dir, 60);
  const Snapshot before = Read(env.dir);
  const std::string source = FilesOf(Path(d, "t"));
  for (int k = 1;; ++k) {
    int raised;
    {
      FaultAt fault(k);
      raised = RaisedNumber([&] { NewCursor(env.dir, false)->CopyTable("c", true); });
    }
    if (raised == 0) break;
    SCOPED_TRACE(k);
    ASSERT_LT(k, 400);
    for (const char* ext : {".DAT", ".IDX", ".BLB", ".JNL"}) EXPECT_FALSE(fs::exists(Path(d, std::string("c") + ext)));
    EXPECT_EQ(FilesOf(Path(d, "t")), source);
  }
  EXPECT_EQ(Without(Read(env.dir, "c"), "Hid"), Without(before, "Hid"));
}

TEST(TableMaintenance, AJournalTakesItsTablesPermissions) {
  for (unsigned mode : {0600u, 0640u, 0664u}) {
    qvtest::TempDir d;
    MaintenanceEnv env(d.path().string());
    Fill(env.dir, 3);
    ::chmod(Path(d, "t.DAT").c_str(), mode);
    std::set<unsigned> seen;
    TJournal::SetStepHook([&] {
      struct stat st {};
      if (::stat(Path(d, "t.JNL").c_str(), &st) == 0) seen.insert(st.st_mode & 0777);
    });
    auto c = NewCursor(env.dir, false);
    c->OpenCursor();
    Bytes b(c->GetRecordSize());
    ASSERT_EQ(c->GetNextRecord(b.data()), 0);
    ASSERT_EQ(c->GetCurrentRecord(b.data(), true), 0);
    PutText(*c, 3, b, "again");
    c->ModifyRecord(b.data(), true);
    EXPECT_EQ(seen, std::set<unsigned>{mode}) << std::oct << mode;
    // Permissions changed while the table is open are followed too.
    const unsigned later = mode == 0664u ? 0600u : 0664u;
    ::chmod(Path(d, "t.DAT").c_str(), later);
    seen.clear();
    ASSERT_EQ(c->GetCurrentRecord(b.data(), true), 0);
    PutText(*c, 3, b, "later");
    c->ModifyRecord(b.data(), true);
    TJournal::SetStepHook(nullptr);
    EXPECT_EQ(seen, std::set<unsigned>{later}) << std::oct << mode;
  }
}

}  // namespace
}  // namespace korvex::testing
