// Restructure: a case table of structure changes, each checked against the
// records read before (by ID, through a cursor) with the losses reported,
// the file checker run on the result; a refusal of the first loss and a
// failing check leave every file byte for byte as it was.
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>

#include <algorithm>
#include <array>
#include <filesystem>
#include <functional>
#include <stdexcept>

#include "platform/runtime/sysutils.h"
#include "support/child_process.h"
#include "support/temp_dir.h"
#include "tables/engine/errors/engine_error.h"
#include "tables/engine/maintenance/maintenance_work.h"
#include "tables/engine/maintenance/table_restructure.h"
#include "tables/engine/table/data_table.h"
#include "tables/lib/fieldtypes.h"
#include "tables/lib/names.h"
#include "tests/tables/engine/maintenance_support.h"

namespace korvex::testing {
namespace {

namespace fs = std::filesystem;

// The data-lost reports of one restructure: (cause, context) each.
struct Losses {
  std::vector<std::pair<int, std::string>> seen;
  int stop_asking_after = 0;  // sets StopAsking at this report (0: never)
  int refuse_at = 0;          // answers ContinueRestructure false at this report

  static bool Report(void* user, TDataLossCause cause, const std::string& context, bool& stop_asking,
                     bool& go_on) {
    auto* self = static_cast<Losses*>(user);
    self->seen.emplace_back(cause, context);
    const int n = static_cast<int>(self->seen.size());
    if (n == self->stop_asking_after) stop_asking = true;
    if (n == self->refuse_at) go_on = false;
    return true;
  }
  int Count(int cause) const {
    int count = 0;
    for (auto& s : seen) count += s.first == cause;
    return count;
  }
};

// The request that changes nothing.
TRestructureRequest Unchanged(TDataDirectory* dir, bool in_memory = false) {
  auto c = NewCursor(dir, false);
  c->SetInMemory(in_memory);
  c->OpenCursor();
  TRestructureRequest r;
  r.Settings = CreationLike(c->Table()->DataFile()).Settings;
  for (int f = 1; f <= c->GetFieldCount(); ++f) r.Fields.push_back(c->GetFieldDefinitionByPos(f));
  r.Indexes.emplace_back();
  return r;
}

// The records part of a data file's bytes.
std::string RecordsPart(const std::string& bytes) {
  return bytes.substr(127 + 768 * (static_cast<unsigned char>(bytes[23]) | static_cast<unsigned char>(bytes[24]) << 8));
}

std::string NameOf(int i) { return (i % 2 ? "name " : "a longer name ") + std::to_string(i); }

TEST(TableRestructure, StructureChangesCarryTheRecordsAndReportEachLoss) {
  struct Case {
    const char* what;
    std::function<void(TRestructureRequest&)> change;
    int stop_asking_after;
    // Losses by cause (0..4) and the records expected from those before.
    std::array<int, 5> losses;
    std::function<Snapshot(Snapshot)> expect;
    bool rebuilt;  // the records part of the data file was written anew
    std::uint32_t last_id;
  };
  auto field = [](TRestructureRequest& r, const char* name) -> TFieldDefinition& {
    for (auto& f : r.Fields)
      if (f.Name == name) return f;
    throw std::runtime_error(name);
  };
  auto drop = [](TRestructureRequest& r, const char* name) {
    r.Fields.erase(std::find_if(r.Fields.begin(), r.Fields.end(), [&](auto& f) { return f.Name == name; }));
  };
  auto same = [](Snapshot s) { return s; };
  const std::vector<Case> cases{
      {"nothing", [](auto&) {}, 0, {}, same, false, 12},
      {"names, descriptions, versions",
       [&](auto& r) {
         field(r, "Name").Name = "Title";
         field(r, "Memo").Description = "notes";
         r.Settings.Description = "restructured";
         r.Settings.UserMajorVersion = 9;
       },
       0, {}, [](Snapshot s) {
         for (auto& [id, f] : s) f["Title"] = f["Name"], f.erase("Name");
         return s;
       },
       false, 12},
      {"last ID raised", [](auto& r) { r.LastAutoIncValue = 100; }, 0, {}, same, false, 100},
      {"last ID below the highest held", [](auto& r) { r.LastAutoIncValue = 5; }, 0, {}, same, false, 11},
      {"a field dropped, asked until StopAsking",
       [&](auto& r) { drop(r, "Hid"); }, 3, {0, 0, 0, 3, 0}, [](Snapshot s) { return Without(s, "Hid"); }, true, 12},
      {"string 20 to 10: short names converted, longer ones reported",
       [&](auto& r) { field(r, "Name").Size = 10; }, 0, {0, 0, 0, 0, 3},
       [](Snapshot s) {
         for (auto& [id, f] : s) {
           f["Name"] = id % 2 ? NameOf(static_cast<int>(id)) : "";
           f["Name"].resize(id % 2 ? 12 : 0, '\0');
         }
         return s;
       },
       true, 12},
      {"string to integer: nothing converts, the default stays",
       [&](auto& r) {
         field(r, "Name").DataType = dtInteger;
         field(r, "Name").Default = "7";
       },
       0, {0, 0, 0, 0, 9},
       [](Snapshot s) {
         std::int32_t seven = 7;
         for (auto& [id, f] : s) f["Name"] = std::string(reinterpret_cast<char*>(&seven), 4) + '\0';
         return s;
       },
       true, 12},
      {"memo to string is a loss, a new field takes its default, fields reordered",
       [&](auto& r) {
         std::swap(r.Fields[1], r.Fields[2]);
         field(r, "Memo").DataType = dtString;
         field(r, "Memo").SubType = 0;
         field(r, "Memo").Size = 5;
         TFieldDefinition extra = Field("Extra", dtString, 4);
         extra.FieldNumber = 9;
         extra.Default = "x";
         r.Fields.push_back(extra);
         r.LastAutoIncValue = 30;
       },
       0, {0, 0, 0, 0, 6},
       [](Snapshot s) {
         for (auto& [id, f] : s) {
           f["Memo"] = "";
           f["Extra"] = std::string("x") + std::string(5, '\0');
         }
         return s;
       },
       true, 30},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    qvtest::TempDir d, work;
    MaintenanceEnv env(d.path().string());
    env.session.SetPrivateDirectory(work.path().string());
    Fill(env.dir, 12);
    const Snapshot before = Read(env.dir);
    const std::string dat = Path(d, "t.DAT"), old_dat = qvtest::ReadFileBytes(dat);
    TRestructureRequest request = Unchanged(env.dir);
    k.change(request);
    Losses losses;
    losses.stop_asking_after = k.stop_asking_after;
    std::vector<std::uint32_t> steps;
    auto c = NewCursor(env.dir, true);
    c->SetDataLostCallback(&Losses::Report, &losses);
    c->SetRestructureProgressCallback(RecordStep, &steps);
    c->RestructureTable(request);
    EXPECT_FALSE(c->IsOpen());
    for (int cause = 0; cause < 5; ++cause) EXPECT_EQ(losses.Count(cause), k.losses[cause]) << cause;
    EXPECT_EQ(Read(env.dir), k.expect(before));
    ExpectChecks(dat);
    const bool records_same = RecordsPart(qvtest::ReadFileBytes(dat)) == RecordsPart(old_dat);
    EXPECT_EQ(!records_same || fs::exists(Path(d, "t.DBK")), k.rebuilt);
    if (k.rebuilt) {
      EXPECT_EQ(steps.size(), 12u);
      EXPECT_EQ(steps.back(), 12100u);
    }
    auto check = NewCursor(env.dir, false);
    check->OpenCursor();
    EXPECT_EQ(check->GetLastRecordID(), k.last_id);
    for (int f = 1; f <= check->GetFieldCount(); ++f) EXPECT_EQ(check->GetFieldDefinitionByPos(f).FieldNumber, f);
    if (std::string(k.what) == "names, descriptions, versions") {
      EXPECT_EQ(check->GetDescription(), "restructured");
      EXPECT_EQ(check->GetFieldDefinitionByPos(4).Description, "notes");
    }
    check->CloseCursor();
    // The work directory is left empty.
    EXPECT_TRUE(fs::is_empty(work.path()));
  }
}

TEST(TableRestructure, AStopOrAFailedCheckLeavesEveryFileAsItWas) {
  qvtest::TempDir d, work;
  MaintenanceEnv env(d.path().string());
  env.session.SetPrivateDirectory(work.path().string());
  Fill(env.dir, 12);
  const std::string before = FilesOf(Path(d, "t"));
  struct Case {
    const char* what;
    std::function<void(TRestructureRequest&)> change;
    int refuse_at;
    int error;
  };
  const std::vector<Case> cases{
      {"refused at the first loss", [](auto& r) { r.Fields.erase(r.Fields.begin() + 1); }, 1, 0},
      {"refused at the fifth loss", [](auto& r) { r.Fields[2].Size = 3; }, 5, 0},
      {"last ID below -1", [](auto& r) { r.LastAutoIncValue = -2; }, 0, err::kFieldLimits},
      {"field name too long", [](auto& r) { r.Fields[2].Name = std::string(31, 'n'); }, 0, err::kInvalidFieldName},
      {"31 secondary indexes", [](auto& r) { r.Indexes.resize(32); }, 0, err::kIndexLimits},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    TRestructureRequest request = Unchanged(env.dir);
    k.change(request);
    Losses losses;
    losses.refuse_at = k.refuse_at;
    auto c = NewCursor(env.dir, true);
    c->SetDataLostCallback(&Losses::Report, &losses);
    EXPECT_EQ(RaisedNumber([&] { c->RestructureTable(request); }), k.error);
    EXPECT_EQ(static_cast<int>(losses.seen.size()), k.refuse_at);
    EXPECT_EQ(FilesOf(Path(d, "t")), before);
    EXPECT_TRUE(fs::is_empty(work.path()));
    std::vector<std::string> files;
    for (auto& e : fs::directory_iterator(d.path())) files.push_back(e.path().filename().string());
    EXPECT_EQ(files.size(), 3u);
  }
  // Guards: open (10031), shared (10253), read-only (11013).
  TRestructureRequest request = Unchanged(env.dir);
  auto open = NewCursor(env.dir, true);
  open->OpenCursor();
  EXPECT_EQ(RaisedNumber([&] { open->RestructureTable(request); }), err::kTableInUse);
  open->CloseCursor();
  EXPECT_EQ(RaisedNumber([&] { NewCursor(env.dir, false)->RestructureTable(request); }), err::kNeedsExclusive);
  auto ro = NewCursor(env.dir, true);
  ro->SetReadOnly(true);
  EXPECT_EQ(RaisedNumber([&] { ro->RestructureTable(request); }), err::kAccessDenied);
  EXPECT_EQ(FilesOf(Path(d, "t")), before);
}

TEST(TableRestructure, AFullDiskDuringTheRebuildLeavesTheTableAsItWas) {
  qvtest::TempDir d, work;
  {
    MaintenanceEnv env(d.path().string());
    Fill(env.dir, 40);
  }
  const std::string before = FilesOf(Path(d, "t"));
  for (rlim_t limit : {3500, 6000, 20000}) {
    SCOPED_TRACE(limit);
    qvtest::ChildProcess child([&](qvtest::ChildProcess&) {
      MaintenanceEnv env(d.path().string());
      env.session.SetPrivateDirectory(work.path().string());
      TRestructureRequest request = Unchanged(env.dir);
      request.Fields.erase(request.Fields.begin() + 1);
      std::signal(SIGXFSZ, SIG_IGN);
      rlimit r{limit, limit};
      ::setrlimit(RLIMIT_FSIZE, &r);
      const int raised = RaisedNumber([&] { NewCursor(env.dir, true)->RestructureTable(request); });
      return raised == err::kWriteError || raised == err::kTableFull ? 0 : 1;
    });
    EXPECT_EQ(child.Wait(), 0);
    EXPECT_EQ(FilesOf(Path(d, "t")), before);
    for (auto& e : fs::directory_iterator(work.path())) ADD_FAILURE() << e.path();
  }
}

TEST(TableRestructure, BackupsByTheFlagAndAWorkDirectoryOnAnotherFileSystem) {
  // /dev/shm is a tmpfs on Linux: the rebuilt table crosses file systems.
  const bool tmpfs = fs::is_directory("/dev/shm");
  struct Case {
    const char* what;
    bool no_backup, in_memory, on_tmpfs;
  };
  const std::vector<Case> cases{{"backup", false, false, false},
                                {"no backup", true, false, false},
                                {"in memory", false, true, false},
                                {"work directory on tmpfs", false, false, true}};
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    if (k.on_tmpfs && !tmpfs) continue;
    qvtest::TempDir d;
    MaintenanceEnv env(d.path().string());
    const std::string shm = env.UseWorkFolder(d.path().string(), k.on_tmpfs);
    TDataDirectory* dir = k.in_memory ? env.session.OpenDataDirectory("MEMORY", "") : env.dir;
    Fill(dir, 12);
    ::chmod(Path(d, "t.DAT").c_str(), 0640);
    const Snapshot before = Read(dir, "t", k.in_memory);
    TRestructureRequest request = Unchanged(dir, k.in_memory);
    request.Fields.erase(request.Fields.begin() + 1);
    request.NoBackup = k.no_backup;
    auto c = NewCursor(dir, true);
    c->SetInMemory(k.in_memory);
    c->RestructureTable(request);
    EXPECT_EQ(Read(dir, "t", k.in_memory), Without(before, "Hid"));
    const bool backups = !k.no_backup && !k.in_memory;
    for (const char* ext : {".DBK", ".IBK", ".BBK"}) {
      EXPECT_EQ(fs::exists(Path(d, std::string("t") + ext)), backups) << ext;
      EXPECT_FALSE(FileNameExists(std::string("t") + ext, true)) << ext;
    }
    if (!k.in_memory) {
      ExpectChecks(Path(d, "t.DAT"));
      struct stat st {};
      ::stat(Path(d, "t.DAT").c_str(), &st);
      EXPECT_EQ(st.st_mode & 0777, 0640u);
    }
    std::vector<std::string> left;
    for (auto& e : fs::directory_iterator(d.path())) left.push_back(e.path().filename().string());
    EXPECT_EQ(left.size(), backups ? 6u : k.in_memory ? 0u : 3u);
    if (!shm.empty()) {
      EXPECT_TRUE(fs::is_empty(shm));
      fs::remove_all(shm);
    }
    if (k.in_memory) {
      EXPECT_EQ(dir->DeleteDataTable("t", true), 0);
    }
  }
}

}  // namespace
}  // namespace korvex::testing
