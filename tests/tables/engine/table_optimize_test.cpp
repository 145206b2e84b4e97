// Optimize, copies with indexes and the index part of a restructure, on a
// table with a primary key, a non-unique and a descending index and a
// memo. The physical order after an optimize is read from the data file by
// python3; records are compared by ID with what a cursor read before.
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>

#include "support/temp_dir.h"
#include "tables/engine/errors/engine_error.h"
#include "tables/engine/maintenance/maintenance_work.h"
#include "tables/engine/maintenance/table_restructure.h"
#include "tables/engine/table/data_table.h"
#include "tables/lib/fieldtypes.h"
#include "tests/tables/engine/maintenance_support.h"

namespace korvex::testing {
namespace {

namespace fs = std::filesystem;

TIndexDefinition Index(const char* name, std::vector<std::uint16_t> fields, bool unique = false,
                       bool descending = false) {
  TIndexDefinition d;
  d.Name = name;
  for (std::size_t k = 0; k < fields.size(); ++k) d.Fields[k] = fields[k];
  d.FieldCount = static_cast<std::uint8_t>(fields.size());
  d.Unique = unique;
  d.Descending = descending;
  return d;
}

// "t": Id (auto-increment, the primary key), Num, Name, Memo, with the
// indexes ByNum (non-unique) and ByName (descending); `count` records of
// random numbers 0..19 and distinct names, every third deleted again.
void MakeIndexed(TDataDirectory* dir, int count, std::uint32_t seed, bool in_memory = false, bool hidden_num = false) {
  std::vector<TFieldDefinition> fields{Field("Id", dtInteger, 0, fstAutoInc), Field("Num", dtInteger),
                                       Field("Name", dtString, 12), Field("Memo", dtBlob, 0, fstMemo)};
  fields[1].Hidden = hidden_num;
  TTableCreation creation;
  creation.Overwrite = true;
  creation.Indexes = {Index("", {1}, true), Index("ByNum", {2}), Index("ByName", {3}, false, true)};
  creation.IndexCount = 2;
  auto c = NewCursor(dir, true);
  c->SetInMemory(in_memory);
  c->CreateTable(creation, fields);
  c->OpenCursor();
  std::mt19937 rng(seed);
  Bytes b(c->GetRecordSize());
  for (int i = 1; i <= count; ++i) {
    c->InitRecord(b.data());
    std::int32_t num = static_cast<std::int32_t>(rng() % 20);
    c->PutField(2, b.data(), reinterpret_cast<std::uint8_t*>(&num));
    std::string name;
    for (int k = i; k > 0; k /= 26) name += static_cast<char>('a' + k % 26);
    PutText(*c, 3, b, name + static_cast<char>('a' + rng() % 26));
    const std::string memo = Memo(i);
    if (!memo.empty()) {
      ASSERT_EQ(c->OpenBlob(4, b.data(), 2), 0);
      ASSERT_EQ(c->PutBlob(4, b.data(), 0, reinterpret_cast<const std::uint8_t*>(memo.data()),
                           static_cast<std::int64_t>(memo.size())), 0);
    }
    c->AppendRecord(b.data());
  }
  c->SetIndexPos(kPhysicalOrder);
  for (std::uint32_t n = 3; n <= static_cast<std::uint32_t>(count); n += 3) {
    ASSERT_EQ(c->GotoPhysicalRecordNumber(n), 0);
    ASSERT_EQ(c->GetCurrentRecord(b.data(), true), 0);
    c->DeleteRecord(b.data());
  }
}

// The records of a data file in physical order, read by python3: deleted
// flag, ID, Num (null: -1) and Name, one line each.
std::vector<std::string> PhysicalRecords(const std::string& dat) {
  const std::string out = RunPython(dat, R"(
import struct
b = open(path, 'rb').read()
fields = struct.unpack_from('<H', b, 23)[0]
size = struct.unpack_from('<H', b, 21)[0]
used = struct.unpack_from('<I', b, 13)[0] - 1
start = 127 + 768 * fields
offsets = [struct.unpack_from('<H', b, 127 + 768 * i + 90)[0] for i in range(fields)]
for n in range(used):
    r = b[start + n * size: start + (n + 1) * size]
    num = struct.unpack_from('<i', r, offsets[1] + 1)[0] if r[offsets[1]] else -1
    name = r[offsets[2] + 1: offsets[2] + 14].split(b'\0')[0].decode('latin-1')
    print(r[0], struct.unpack_from('<I', r, 5)[0], num, name)
)");
  std::vector<std::string> lines;
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

struct Row {
  int deleted = 0;
  std::uint32_t id = 0;
  int num = 0;
  std::string name;
};
std::vector<Row> Rows(const std::string& dat) {
  std::vector<Row> rows;
  for (const std::string& line : PhysicalRecords(dat)) {
    Row r;
    std::istringstream in(line);
    in >> r.deleted >> r.id >> r.num >> r.name;
    rows.push_back(r);
  }
  return rows;
}

TEST(TableOptimize, PhysicalOrderFollowsTheIndexWithIDsKeptAndBackupsByTheFlags) {
  struct Case {
    const char* what;
    const char* index;
    bool no_backup, in_memory, on_tmpfs;
    std::function<bool(const Row&, const Row&)> in_order;  // a may precede b
  };
  auto by_num = [](const Row& a, const Row& b) { return a.num < b.num || (a.num == b.num && a.id < b.id); };
  auto by_name_desc = [](const Row& a, const Row& b) { return a.name > b.name; };
  auto by_id = [](const Row& a, const Row& b) { return a.id < b.id; };
  const std::vector<Case> cases{{"by number, backups kept", "ByNum", false, false, false, by_num},
                                {"by name descending, no backup", "byname", true, false, false, by_name_desc},
                                {"primary key, work directory on tmpfs", "", false, false, true, by_id},
                                {"in memory", "ByNum", false, true, false, by_num}};
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    if (k.on_tmpfs && !fs::is_directory("/dev/shm")) continue;
    qvtest::TempDir d;
    MaintenanceEnv env(d.path().string());
    const std::string shm = env.UseWorkFolder(d.path().string(), k.on_tmpfs);
    TDataDirectory* dir = k.in_memory ? env.session.OpenDataDirectory("MEMORY", "") : env.dir;
    MakeIndexed(dir, 90, 7, k.in_memory);
    if (!k.in_memory) ::chmod(Path(d, "t.DAT").c_str(), 0640);
    const Snapshot before = Read(dir, "t", k.in_memory);
    std::vector<std::uint32_t> steps;
    auto c = NewCursor(dir, true);
    c->SetInMemory(k.in_memory);
    c->SetOptimizeProgressCallback(RecordStep, &steps);
    c->OptimizeTable(k.index, k.no_backup);
    EXPECT_EQ(Read(dir, "t", k.in_memory), before);
    ASSERT_EQ(steps.size(), 60u);
    EXPECT_EQ(steps.back(), 60u * 1000 + 66);  // 60 of 90 physical records
    const bool backups = !k.no_backup && !k.in_memory;
    for (const char* ext : {".DBK", ".IBK", ".BBK"}) EXPECT_EQ(fs::exists(Path(d, std::string("t") + ext)), backups);
    if (!shm.empty()) {
      EXPECT_TRUE(fs::is_empty(shm));
      fs::remove_all(shm);
    }
    if (k.in_memory) {
      // The cursor walks the index in physical order now.
      auto w = NewCursor(dir, false);
      w->SetInMemory(true);
      w->OpenCursor();
      w->SetIndexName(k.index);
      Bytes b(w->GetRecordSize());
      std::uint32_t expected = 1;
      while (w->GetNextRecord(b.data()) == 0) EXPECT_EQ(w->GetPhysicalRecordNumber(), expected++);
      EXPECT_EQ(expected, 61u);
      w->CloseCursor();
      EXPECT_EQ(dir->DeleteDataTable("t", true), 0);
      continue;
    }
    const std::vector<Row> rows = Rows(Path(d, "t.DAT"));
    ASSERT_EQ(rows.size(), 60u);
    std::set<std::uint32_t> ids;
    for (std::size_t i = 0; i < rows.size(); ++i) {
      EXPECT_EQ(rows[i].deleted, 0);
      ids.insert(rows[i].id);
      if (i > 0) {
        EXPECT_TRUE(k.in_order(rows[i - 1], rows[i])) << rows[i - 1].name << " " << rows[i].name;
      }
    }
    std::set<std::uint32_t> before_ids;
    for (auto& [id, f] : before) before_ids.insert(id);
    EXPECT_EQ(ids, before_ids);
    ExpectChecks(Path(d, "t.DAT"));
    struct stat st {};
    ::stat(Path(d, "t.DAT").c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    auto check = NewCursor(env.dir, false);
    check->OpenCursor();
    EXPECT_EQ(check->GetLastRecordID(), 90u);  // the deleted 90th's ID is not handed out again
  }
}

TEST(TableOptimize, AFailureBeforeTheSwapLeavesTheTableAsItWas) {
  qvtest::TempDir d, work;
  MaintenanceEnv env(d.path().string());
  env.session.SetPrivateDirectory(work.path().string());
  MakeIndexed(env.dir, 30, 3);
  const std::string before = FilesOf(Path(d, "t"));
  struct Case {
    const char* what;
    std::function<void(TDataCursor&)> run;
    int error;
  };
  const std::vector<Case> cases{
      {"unknown index", [](TDataCursor& c) { c.OptimizeTable("NoSuch", false); }, err::kInvalidIndexName},
      {"failure at the fifth record",
       [](TDataCursor& c) {
         c.SetOptimizeProgressCallback(
             [](void*, std::uint32_t step, std::uint8_t) {
               if (step == 5) RaiseError(err::kWriteError, "injected");
               return true;
             },
             nullptr);
         c.OptimizeTable("ByNum", true);
       },
       err::kWriteError},
      {"the work directory is gone",
       [&](TDataCursor& c) {
         env.session.SetPrivateDirectory(work.path().string() + "/missing");
         c.OptimizeTable("ByNum", true);
       },
       -1},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    auto c = NewCursor(env.dir, true);
    const int raised = RaisedNumber([&] { k.run(*c); });
    if (k.error < 0) EXPECT_NE(raised, 0);
    else EXPECT_EQ(raised, k.error);
    EXPECT_FALSE(c->IsOpen());
    EXPECT_EQ(FilesOf(Path(d, "t")), before);
    EXPECT_TRUE(fs::is_empty(work.path()));
    std::size_t files = 0;
    for (auto& e : fs::directory_iterator(d.path())) files += e.is_regular_file();
    EXPECT_EQ(files, 3u);
  }
}

// The address space this process has mapped, in bytes.
std::uint64_t MappedBytes() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmSize:", 0) == 0) return std::stoull(line.substr(7)) * 1024;
  return 0;
}

constexpr char kOutOfMemoryChild[] = "QV_OPTIMIZE_OUT_OF_MEMORY";

// The child of RunningOutOfMemoryIsAnEngineError, this program started
// again (a fresh process: a forked one keeps the address space its parent
// reserved): optimizes "<folder>/t" with `headroom` MB of address space
// beyond what it has mapped. Exits 0 on success, 2 on 11016, 3 on another
// engine error, 4 on anything else.
[[noreturn]] void OptimizeWithLittleMemory(const std::string& arguments) {
  std::istringstream in(arguments);
  std::string folder, work;
  std::uint64_t headroom = 0;
  std::getline(in, folder, '|');
  std::getline(in, work, '|');
  in >> headroom;
  int code = 4;
  try {
    MaintenanceEnv env(folder);
    env.session.SetPrivateDirectory(work);
    auto c = NewCursor(env.dir, true);
    rlimit limit{};
    limit.rlim_cur = limit.rlim_max = MappedBytes() + (headroom << 20);
    setrlimit(RLIMIT_AS, &limit);
    c->OptimizeTable("ByA", true);
    code = 0;
  } catch (const EKORVEXEngineError& e) {
    code = e.ErrorCode() == err::kOutOfMemory ? 2 : 3;
  } catch (...) {
  }
  std::fflush(nullptr);
  _exit(code);
}

// An optimize that runs out of memory (a process whose address space is
// limited to what it has mapped plus less than the table's size) ends with
// an engine error or succeeds: the process is never ended, a failure leaves
// the table's files as they were and a success its records.
TEST(TableOptimize, RunningOutOfMemoryIsAnEngineError) {
  if (const char* child = std::getenv(kOutOfMemoryChild)) OptimizeWithLittleMemory(child);
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the sanitizer's shadow memory does not fit an address-space limit";
#endif
  qvtest::TempDir d, work;
  MaintenanceEnv env(d.path().string());
  std::vector<TFieldDefinition> fields{Field("Id", dtInteger, 0, fstAutoInc), Field("A", dtString, 250),
                                       Field("B", dtString, 250), Field("C", dtString, 250),
                                       Field("Memo", dtBlob, 0, fstMemo)};
  TTableCreation creation;
  creation.Overwrite = true;
  creation.Indexes = {Index("", {1}, true), Index("ByA", {2})};
  creation.IndexCount = 1;
  {
    auto c = NewCursor(env.dir, true);
    c->CreateTable(creation, fields);
    c->OpenCursor();
    std::mt19937 rng(9);
    Bytes b(c->GetRecordSize());
    for (int i = 0; i < 12000; ++i) {
      c->InitRecord(b.data());
      std::string text(240, ' ');
      for (char& ch : text) ch = static_cast<char>('a' + rng() % 26);
      for (int f = 2; f <= 4; ++f) PutText(*c, f, b, text.substr(static_cast<std::size_t>(f) * 7));
      ASSERT_EQ(c->OpenBlob(5, b.data(), 2), 0);
      ASSERT_EQ(c->PutBlob(5, b.data(), 0, reinterpret_cast<const std::uint8_t*>(text.data()), 240), 0);
      c->AppendRecord(b.data());
    }
    c->CloseCursor();
  }
  std::uintmax_t table_bytes = 0;
  for (const char* ext : {".DAT", ".IDX", ".BLB"}) table_bytes += fs::file_size(Path(d, std::string("t") + ext));
  const Snapshot records = Read(env.dir);
  int successes = 0, failures = 0;
  for (std::uint64_t headroom_mb : {1, 6, 16}) {
    SCOPED_TRACE(std::to_string(headroom_mb) + " MB to spare");
    ASSERT_LT(headroom_mb << 20, table_bytes);
    const std::string before = FilesOf(Path(d, "t"));
    const std::string arguments = d.path().string() + "|" + work.path().string() + "|" + std::to_string(headroom_mb);
    const pid_t child = fork();
    if (child == 0) {
      setenv(kOutOfMemoryChild, arguments.c_str(), 1);
      execl("/proc/self/exe", "tables_engine_tests", "--gtest_filter=TableOptimize.RunningOutOfMemoryIsAnEngineError",
            static_cast<char*>(nullptr));
      _exit(5);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    const int code = WEXITSTATUS(status);
    ASSERT_LT(code, 4) << "not an engine error";
    if (code == 0) {
      ++successes;
      EXPECT_EQ(Read(env.dir), records);
    } else {
      ++failures;
      EXPECT_EQ(FilesOf(Path(d, "t")), before);
    }
    ExpectChecks(Path(d, "t.DAT"));
  }
  EXPECT_GT(failures, 0);
  std::printf("optimize of %ju bytes under address-space limits: %d succeeded, %d failed\n", table_bytes,
              successes, failures);
}

TEST(TableOptimize, CopiesTakeTheIndexesOverTheFieldsTheyKeep) {
  qvtest::TempDir d;
  MaintenanceEnv env(d.path().string());
  // Num hidden: ByNum goes, ByName's key field becomes field 2.
  MakeIndexed(env.dir, 40, 11, false, true);
  const Snapshot before = Read(env.dir);
  for (bool with_indexes : {true, false}) {
    SCOPED_TRACE(with_indexes);
    NewCursor(env.dir, false)->CopyTable("c", with_indexes);
    ExpectChecks(Path(d, "c.DAT"));
    EXPECT_EQ(Read(env.dir, "c"), Without(before, "Num"));
    auto c = NewCursor(env.dir, false, "c");
    c->OpenCursor();
    EXPECT_EQ(c->GetIndexCount(), with_indexes ? 1 : 0);
    EXPECT_EQ(c->GetNoPrimaryIndex(), !with_indexes);
    if (!with_indexes) continue;
    TIndexDefinition def;
    c->GetIndexDefinition(1, def);
    EXPECT_EQ(def.Name, "ByName");
    EXPECT_EQ(def.Fields[0], 2);
    c->SetIndexName("ByName");
    Bytes b(c->GetRecordSize()), data(14);
    std::string last = "\xff";
    int seen = 0;
    while (c->GetNextRecord(b.data()) == 0) {
      c->GetField(2, b.data(), data.data());
      std::string name(reinterpret_cast<char*>(data.data()));
      EXPECT_LT(name, last);
      last = name;
      ++seen;
    }
    EXPECT_EQ(seen, static_cast<int>(before.size()));
  }
}

TEST(TableOptimize, IndexDefinitionsChangedThroughTheCursor) {
  qvtest::TempDir d;
  MaintenanceEnv env(d.path().string());
  MakeIndexed(env.dir, 12, 2);
  auto c = NewCursor(env.dir, false);
  c->OpenCursor();
  c->SetIndexName("ByNum");
  TIndexDefinition def;
  c->GetIndexDefinition(1, def);
  def.Name = "Numbers";
  c->UpdateIndexDefinition(1, def);
  EXPECT_EQ(c->GetIndexName(), "Numbers");
  EXPECT_EQ(RaisedNumber([&] { c->UpdateIndexDefinition(3, def); }), err::kInvalidIndexName);
  c->CloseCursor();
  ExpectChecks(Path(d, "t.DAT"));
  c->OpenCursor();
  EXPECT_EQ(RaisedNumber([&] { c->SetIndexName("ByNum"); }), err::kInvalidIndexName);
  c->SetIndexName("numbers");
  EXPECT_EQ(c->GetIndexPos(), 1);
}

// The data-lost reports of one restructure.
struct Losses {
  std::vector<std::pair<int, std::string>> seen;
  int refuse_at = 0;
  static bool Report(void* user, TDataLossCause cause, const std::string& context, bool&, bool& go_on) {
    auto* self = static_cast<Losses*>(user);
    self->seen.emplace_back(cause, context);
    if (static_cast<int>(self->seen.size()) == self->refuse_at) go_on = false;
    return true;
  }
};

TEST(TableOptimize, RestructuredIndexesAreBuiltInPlaceAndDuplicatesLeaveWhenAllowed) {
  struct Case {
    const char* what;
    std::function<void(TRestructureRequest&)> change;
    bool change_fields;  // a rebuild of the whole table
    int refuse_at;
  };
  const std::vector<Case> cases{
      {"unique index over duplicates, allowed", [](auto& r) { r.Indexes.push_back(Index("UNum", {2}, true)); },
       false, 0},
      {"unique index over duplicates, refused at the first", [](auto& r) { r.Indexes.push_back(Index("UNum", {2}, true)); },
       false, 1},
      {"unique index over duplicates, refused at the third", [](auto& r) { r.Indexes.push_back(Index("UNum", {2}, true)); },
       false, 3},
      {"unique index, a field added too (rebuild)",
       [](auto& r) {
         r.Indexes.push_back(Index("UNum", {2}, true));
         TFieldDefinition extra = Field("Extra", dtSmallInt);
         extra.FieldNumber = 7;
         r.Fields.push_back(extra);
       },
       true, 0},
      {"an index dropped, the primary key changed", [](auto& r) {
         r.Indexes.erase(r.Indexes.begin() + 1);
         r.Indexes[0] = Index("", {3, 1}, true);
       }, false, 0},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    qvtest::TempDir d, work;
    MaintenanceEnv env(d.path().string());
    env.session.SetPrivateDirectory(work.path().string());
    MakeIndexed(env.dir, 60, 5);
    const Snapshot before = Read(env.dir);
    const std::string files_before = FilesOf(Path(d, "t"));
    TRestructureRequest request;
    {
      auto c = NewCursor(env.dir, false);
      c->OpenCursor();
      request.Settings = CreationLike(c->Table()->DataFile()).Settings;
      for (int f = 1; f <= c->GetFieldCount(); ++f) request.Fields.push_back(c->GetFieldDefinitionByPos(f));
      for (std::uint8_t p = 0; p <= c->GetIndexCount(); ++p) {
        TIndexDefinition def;
        c->GetIndexDefinition(p, def);
        request.Indexes.push_back(def);
      }
    }
    k.change(request);
    // The records a unique Num keeps: the first of each number in physical
    // order (the IDs ascend with it).
    Snapshot kept;
    std::set<std::string> nums;
    const bool unique_num = request.Indexes.back().Name == "UNum";
    int duplicates = 0;
    for (auto& [id, f] : before) {
      if (unique_num && !nums.insert(f.at("Num")).second) {
        ++duplicates;
        continue;
      }
      kept[id] = f;
    }
    Losses losses;
    losses.refuse_at = k.refuse_at;
    auto c = NewCursor(env.dir, true);
    c->SetDataLostCallback(&Losses::Report, &losses);
    c->RestructureTable(request);
    if (k.refuse_at > 0) {
      EXPECT_EQ(static_cast<int>(losses.seen.size()), k.refuse_at);
      EXPECT_EQ(FilesOf(Path(d, "t")), files_before);
      EXPECT_FALSE(fs::exists(Path(d, "t.IBK")));
      EXPECT_TRUE(fs::is_empty(work.path()));
      continue;
    }
    ASSERT_EQ(static_cast<int>(losses.seen.size()), duplicates);
    for (auto& [cause, context] : losses.seen) EXPECT_EQ(std::make_pair(cause, context), std::make_pair(1, std::string("UNum")));
    Snapshot after = Read(env.dir);
    if (k.change_fields) {
      for (auto& [id, f] : after) {
        EXPECT_EQ(f["Extra"], "");
        f.erase("Extra");
      }
    }
    EXPECT_EQ(after, kept);
    ExpectChecks(Path(d, "t.DAT"));
    EXPECT_EQ(fs::exists(Path(d, "t.DBK")), k.change_fields);
    EXPECT_EQ(fs::exists(Path(d, "t.IBK")), true);  // the index file's backup (NoBackup false)
    auto check = NewCursor(env.dir, false);
    check->OpenCursor();
    EXPECT_EQ(check->GetIndexCount(), request.Indexes.size() - 1);
    EXPECT_EQ(check->GetRecordCount(), kept.size());
    if (unique_num) {
      check->SetIndexName("UNum");
      Bytes b(check->GetRecordSize());
      int walked = 0;
      while (check->GetNextRecord(b.data()) == 0) ++walked;
      EXPECT_EQ(walked, static_cast<int>(kept.size()));
    }
  }
}

}  // namespace
}  // namespace korvex::testing
