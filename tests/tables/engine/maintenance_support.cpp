#include "tests/tables/engine/maintenance_support.h"

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>

#include "support/child_process.h"
#include "support/run_command.h"
#include "tables/engine/cache/journal.h"
#include "tables/engine/maintenance/maintenance_work.h"
#include "tables/engine/table/data_table.h"
#include "tables/lib/fieldtypes.h"
#include "tests/tables/engine/flush_kill_support.h"

namespace korvex::testing {

namespace fs = std::filesystem;
using qvtest::ReadFileBytes;
using qvtest::WriteFileBytes;

MaintenanceEnv::MaintenanceEnv(const std::string& path) {
  session.Timing.InternalSleepMs = 1;
  session.LockWaitTime = 5;
  dir = session.OpenDataDirectory("data", path);
}

std::string MaintenanceEnv::UseWorkFolder(const std::string& path, bool on_tmpfs) {
  if (!on_tmpfs) {
    session.SetPrivateDirectory(path);
    return "";
  }
  char pattern[] = "/dev/shm/qv-work-XXXXXX";
  if (::mkdtemp(pattern) == nullptr) throw std::runtime_error("cannot make a folder on /dev/shm");
  session.SetPrivateDirectory(pattern);
  return pattern;
}

std::unique_ptr<TDataCursor> NewCursor(TDataDirectory* dir, bool exclusive, const std::string& name) {
  auto c = std::make_unique<TDataCursor>(dir);
  c->SetTableName(name);
  c->SetExclusive(exclusive);
  return c;
}

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

std::string Memo(int i) {
  return i % 3 == 0 ? std::string() : std::string(static_cast<std::size_t>(i * 97 % 2500), static_cast<char>('a' + i % 26));
}

// Creates table `name` with `count` records (every fourth deleted again).
void Fill(TDataDirectory* dir, int count, const std::string& name, TTableCreation creation,
          std::vector<TFieldDefinition> fields) {
  auto c = NewCursor(dir, true, name);
  creation.Overwrite = true;  // in-memory tables outlive their test
  c->CreateTable(creation, fields);
  c->OpenCursor();
  Bytes b(c->GetRecordSize());
  for (int i = 1; i <= count; ++i) {
    c->InitRecord(b.data());
    PutText(*c, 2, b, "h" + std::to_string(i));
    PutText(*c, 3, b, (i % 2 ? "name " : "a longer name ") + std::to_string(i));
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

Snapshot Read(TDataDirectory* dir, const std::string& name, bool in_memory) {
  auto c = NewCursor(dir, false, name);
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

bool RecordStep(void* user, std::uint32_t step, std::uint8_t percent) {
  static_cast<std::vector<std::uint32_t>*>(user)->push_back(step * 1000 + percent);
  return true;
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
    if (entry.path().extension() == ".JNL" && TJournal::IsHot(entry.path().string())) return true;
  return false;
}

void ExpectChecks(const std::string& dat) {
  CheckResult r = RunTableCheck(dat, EngineKeysOption());
  EXPECT_EQ(r.status, 0) << dat << "\n" << r.output;
}

HotJournal::HotJournal(const qvtest::TempDir& d) : base(Path(d, "t")) {
  MaintenanceEnv env(d.path().string());
  Fill(env.dir, 12);
  before = Read(env.dir);
  const std::string clean = FilesOf(base);
  const auto clean_bytes = Bytes3();
  auto run = [&](int kill_at) {
    qvtest::ChildProcess child([&](qvtest::ChildProcess&) {
      MaintenanceEnv e(d.path().string());
      auto c = NewCursor(e.dir, true);
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
      JournalStepKill kill(kill_at);
      c->Table()->FlushBuffers(false, true, true, true, true);
      return kill.Steps();
    });
    return child.Wait();
  };
  auto restore = [&] { Lay3(clean_bytes); };
  const int steps = run(0);
  // The last step that leaves a journal beside files that differ.
  for (int k = steps - 1; k > 1; --k) {
    restore();
    run(k);
    if (TJournal::IsHot(base + ".JNL") && FilesOf(base) != clean) break;
  }
  if (!TJournal::IsHot(base + ".JNL")) ADD_FAILURE() << "no hot journal made";
  torn = Bytes3();
  journal = ReadFileBytes(base + ".JNL");
}

void HotJournal::Lay() const {
  Lay3(torn);
  WriteFileBytes(base + ".JNL", journal);
}

std::map<std::string, std::string> HotJournal::Bytes3() const {
  std::map<std::string, std::string> bytes;
  for (const char* ext : {".DAT", ".IDX", ".BLB"}) bytes[ext] = ReadFileBytes(base + ext);
  return bytes;
}

void HotJournal::Lay3(const std::map<std::string, std::string>& bytes) const {
  for (auto& [ext, content] : bytes) WriteFileBytes(base + ext, content);
}

TRestructureRequest WithoutField(TDataCursor& c, int dropped) {
  c.OpenCursor();
  TRestructureRequest r;
  r.Settings = CreationLike(c.Table()->DataFile()).Settings;
  for (int f = 1; f <= c.GetFieldCount(); ++f)
    if (f != dropped) r.Fields.push_back(c.GetFieldDefinitionByPos(f));
  c.CloseCursor();
  return r;
}

}  // namespace korvex::testing
