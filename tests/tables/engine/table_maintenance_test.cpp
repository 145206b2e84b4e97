// Whole-table operations of the cursor: empty, delete, rename, backups, the
// closed header, copy, and the swap that puts a rewritten table in place.
// Records are compared by ID against what a cursor read before the
// operation; every result also passes the independent file checker.
#include <sys/stat.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <map>

#include "support/child_process.h"
#include "support/run_command.h"
#include "support/temp_dir.h"
#include "tables/engine/data_cursor.h"
#include "tables/engine/data_session.h"
#include "tables/engine/data_table.h"
#include "tables/engine/engine_error.h"
#include "tables/engine/journal.h"
#include "tables/engine/table_swap.h"
#include "tables/lib/fieldtypes.h"
#include "tests/tables/engine/engine_test_support.h"

namespace korvex::testing {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using qvtest::ReadFileBytes;
using qvtest::WriteFileBytes;

struct Env {
  explicit Env(const std::string& path) {
    session.Timing.InternalSleepMs = 1;
    session.LockWaitTime = 5;
    dir = session.OpenDataDirectory("data", path);
  }
  TDataSession session;
  TDataDirectory* dir = nullptr;
};

std::unique_ptr<TDataCursor> Cursor(TDataDirectory* dir, bool exclusive, const std::string& name = "t") {
  auto c = std::make_unique<TDataCursor>(dir);
  c->SetTableName(name);
  c->SetExclusive(exclusive);
  return c;
}

// ID, a hidden string, a name and a memo: the shape most tests use.
std::vector<TFieldDefinition> Shape() {
  std::vector<TFieldDefinition> f{Field("Id", dtInteger, 0, fstAutoInc), Field("Hid", dtString, 8),
                                  Field("Name", dtString, 20), Field("Memo", dtBlob, 0, fstMemo)};
  f[1].Hidden = 1;
  return f;
}

void PutText(TDataCursor& c, int field, Bytes& buffer, const std::string& text) {
  std::string z = text;
  z.push_back('\0');
  c.PutField(field, buffer.data(), reinterpret_cast<const std::uint8_t*>(z.data()));
}

std::string Memo(int i) { return i % 3 == 0 ? std::string() : std::string(static_cast<std::size_t>(i * 97 % 2500), 'a' + i % 26); }

// Creates table `name` with `count` records (every fourth deleted again).
void Fill(TDataDirectory* dir, int count, const std::string& name = "t", TTableCreation creation = {},
          std::vector<TFieldDefinition> fields = Shape()) {
  auto c = Cursor(dir, true, name);
  c->CreateTable(creation, fields);
  c->OpenCursor();
  Bytes b(c->GetRecordSize());
  for (int i = 1; i <= count; ++i) {
    c->InitRecord(b.data());
    PutText(*c, 2, b, "h" + std::to_string(i));
    PutText(*c, 3, b, "name " + std::to_string(i));
    std::string memo = Memo(i);
    if (!memo.empty()) {
      ASSERT_EQ(c->OpenBlob(4, b.data(), 2), 0);
      ASSERT_EQ(c->PutBlob(4, b.data(), 0, reinterpret_cast<const std::uint8_t*>(memo.data()),
                           static_cast<std::int64_t>(memo.size())), 0);
    }
    c->AppendRecord(b.data());
  }
  for (std::uint32_t n = 4; n <= static_cast<std::uint32_t>(count); n += 4) {
    ASSERT_EQ(c->GotoPhysicalRecordNumber(n), 0);
    ASSERT_EQ(c->GetCurrentRecord(b.data(), true), 0);
    c->DeleteRecord(b.data());
  }
}

// Every live record by ID: its fields by name (BLOBs by content).
using Snapshot = std::map<std::uint32_t, std::map<std::string, std::string>>;

Snapshot Read(TDataDirectory* dir, const std::string& name = "t", bool in_memory = false) {
  auto c = Cursor(dir, false, name);
  c->SetInMemory(in_memory);
  c->OpenCursor();
  Snapshot all;
  Bytes b(c->GetRecordSize());
  while (c->GetNextRecord(b.data()) == 0) {
    auto& fields = all[TDataCursor::GetRecordID(b.data())];
    for (int f = 1; f <= c->GetFieldCount(); ++f) {
      const TFieldDefinition& def = c->GetFieldDefinitionByPos(f);
      if (def.IsAutoIncrement()) continue;
      std::string value;
      if (def.DataType == dtBlob) {
        Bytes copy = b;
        EXPECT_EQ(c->OpenBlob(f, copy.data(), 1, true), 0);
        std::int64_t size = 0, got = 0;
        c->GetBlobSize(f, copy.data(), size);
        value.resize(static_cast<std::size_t>(size));
        c->GetBlob(f, copy.data(), 0, reinterpret_cast<std::uint8_t*>(value.data()), size, got);
        c->FreeBlob(f, copy.data(), true);
      } else {
        Bytes data(def.PhysicalSize + 1u, 0);
        if (!c->GetField(f, b.data(), data.data())) value.assign(data.begin(), data.end());
      }
      fields[def.Name] = value;
    }
  }
  return all;
}

Snapshot Without(Snapshot s, const std::string& field) {
  for (auto& [id, fields] : s) fields.erase(field);
  return s;
}

std::string Path(const qvtest::TempDir& d, const std::string& file) { return d.path().string() + "/" + file; }

// The SHA-256 of each of the table's files, by sha256sum ("-" for a
// missing one).
std::string FilesOf(const std::string& base) {
  std::string all;
  for (const char* ext : {".DAT", ".IDX", ".BLB"}) {
    const std::string file = base + ext;
    all += fs::exists(file) ? qvtest::RunShell("sha256sum < '" + file + "'").output.substr(0, 64) : std::string("-");
    all += "|";
  }
  return all;
}

bool AnyJournal(const std::string& dir) {
  for (auto& entry : fs::directory_iterator(dir))
    if (entry.path().extension() == ".JNL") return true;
  return false;
}

void ExpectChecks(const std::string& dat) {
  CheckResult r = RunTableCheck(dat, EngineKeysOption());
  EXPECT_EQ(r.status, 0) << dat << "\n" << r.output;
}

// A table "t" whose last flush was cut short by kill -9: its files are
// torn and "t.JNL" holds what they were. `before` receives the records as
// they were (what playback gives back).
struct HotJournal {
  explicit HotJournal(const qvtest::TempDir& d) : base(Path(d, "t")) {
    Env env(d.path().string());
    Fill(env.dir, 12);
    before = Read(env.dir);
    const std::string clean = FilesOf(base);
    const auto clean_bytes = Bytes3();
    auto run = [&](int kill_at) {
      qvtest::ChildProcess child([&](qvtest::ChildProcess&) {
        Env e(d.path().string());
        auto c = Cursor(e.dir, true);
        c->OpenCursor();
        Bytes b(c->GetRecordSize());
        while (c->GetNextRecord(b.data()) == 0) {
          c->GetCurrentRecord(b.data(), true);
          PutText(*c, 3, b, "changed");
          c->ModifyRecord(b.data(), true);
        }
        c->InitRecord(b.data());
        PutText(*c, 3, b, "appended");
        c->AppendRecord(b.data());
        int step = 0;
        TJournal::SetStepHook([&] {
          if (++step == kill_at) std::raise(SIGKILL);
        });
        c->Table()->FlushBuffers(false, true, true, true, true);
        TJournal::SetStepHook(nullptr);
        return step;
      });
      return child.Wait();
    };
    auto restore = [&] { Lay3(clean_bytes); };
    const int steps = run(0);
    // The last step that leaves a journal beside files that differ.
    for (int k = steps - 1; k > 1; --k) {
      restore();
      run(k);
      if (fs::exists(base + ".JNL") && FilesOf(base) != clean) break;
    }
    if (!fs::exists(base + ".JNL")) ADD_FAILURE() << "no hot journal made";
    torn = Bytes3();
    journal = ReadFileBytes(base + ".JNL");
  }
  // Puts the torn files and the journal back.
  void Lay() const {
    Lay3(torn);
    WriteFileBytes(base + ".JNL", journal);
  }
  std::map<std::string, std::string> Bytes3() const {
    std::map<std::string, std::string> bytes;
    for (const char* ext : {".DAT", ".IDX", ".BLB"}) bytes[ext] = ReadFileBytes(base + ext);
    return bytes;
  }
  void Lay3(const std::map<std::string, std::string>& bytes) const {
    for (auto& [ext, content] : bytes) WriteFileBytes(base + ext, content);
  }
  std::string base, journal;
  std::map<std::string, std::string> torn;
  Snapshot before;
};

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
  };
  const std::vector<Case> cases{
      {"copy", [](TDataDirectory* dir) { Cursor(dir, false)->CopyTable("c", true); }, "c", 9},
      {"rename", [](TDataDirectory* dir) { Cursor(dir, false)->RenameTable("u"); }, "u", 9},
      {"empty", [](TDataDirectory* dir) { Cursor(dir, true)->EmptyTable(); }, "t", 0},
      {"backup", [](TDataDirectory* dir) {
         Cursor(dir, false)->BackupTable();
         for (auto [from, to] : {std::pair{".DBK", ".DAT"}, {".IBK", ".IDX"}, {".BBK", ".BLB"}})
           fs::rename(dir->Path() + "t" + from, dir->Path() + "b" + to);
       }, "b", 9},
      {"delete", [](TDataDirectory* dir) { Cursor(dir, false)->DeleteTable(); }, nullptr, 0},
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
    // A copy leaves the hidden field out.
    const Snapshot expected = c.records == 0              ? Snapshot{}
                              : std::string(c.result) == "c" ? Without(hot.before, "Hid")
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
          auto c = Cursor(e.dir, h.exclusive);
          c->OpenCursor();
          self.Ready();
          self.WaitTold();
          return 0;
        });
        child->WaitReady();
      } else {
        holder = Cursor(env.dir, h.exclusive);
        holder->OpenCursor();
      }
      auto c = Cursor(env.dir, false);
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
  auto c = Cursor(env.dir, false);
  c->OpenCursor();
  for (const Op& op : ops) EXPECT_EQ(RaisedNumber([&] { op.run(*c); }), err::kTableInUse) << op.what;
}

TEST(TableMaintenance, EmptyAndIndexBackupOnTheCursor) {
  qvtest::TempDir d;
  Env env(d.path().string());
  Fill(env.dir, 20);
  auto shared = Cursor(env.dir, false);
  shared->OpenCursor();
  EXPECT_EQ(RaisedNumber([&] { shared->EmptyTable(); }), err::kNeedsExclusive);
  EXPECT_EQ(RaisedNumber([&] { shared->BackupIndex(); }), err::kNeedsExclusive);
  shared->CloseCursor();
  auto c = Cursor(env.dir, true);
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
  // Read-only cursors may not empty.
  auto ro = Cursor(env.dir, true);
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
  auto c = Cursor(env.dir, false);
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
    auto c = Cursor(source_dir, false);
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
    auto check = Cursor(target_dir, false, "c");
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

}  // namespace
}  // namespace korvex::testing
