// Verification and repair: damaged copies of a reference table made by a
// python3 struct script (one fault each) against golden verification logs,
// byte-identical files after verification, the independent checker after a
// repair, every record python3 can read from the damaged file kept, and a
// second repair that finds nothing; hot journals; guards; record IDs.
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>

#include "platform/runtime/filelock.h"
#include "support/child_process.h"
#include "support/run_command.h"
#include "support/temp_dir.h"
#include "tables/engine/cache/journal.h"
#include "tables/engine/cursor/data_cursor.h"
#include "tables/engine/errors/engine_error.h"
#include "tables/engine/files/index_key.h"
#include "tables/engine/table/data_session.h"
#include "tables/engine/table/data_table.h"
#include "tables/lib/fieldtypes.h"
#include "tests/tables/engine/engine_test_support.h"
#include "tests/tables/engine/repair_support.h"

namespace korvex::testing {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
const std::string kScript = QV_SOURCE_DIR "/tests/tables/engine/corrupt_fixtures.py";
const std::string kGolden = QV_SOURCE_DIR "/tests/tables/engine/repair_verify.golden";

struct Report {
  std::vector<std::string> lines;
  std::vector<std::pair<std::uint32_t, std::uint8_t>> progress;
};
bool LogLine(void* user, const std::string& line) {
  // The times differ from run to run.
  static const std::regex time(R"( at \d{4}-\d\d-\d\d \d\d:\d\d:\d\d$)");
  static_cast<Report*>(user)->lines.push_back(std::regex_replace(line, time, " at <time>"));
  return true;
}
bool Progress(void* user, std::uint32_t step, std::uint8_t percent) {
  static_cast<Report*>(user)->progress.emplace_back(step, percent);
  return true;
}

struct Env {
  Env() {
    session.Timing.InternalSleepMs = 1;
    session.LockWaitTime = 5;
    session.SetPrivateDirectory(scratch.Path());
  }
  TDataDirectory* Dir(const std::string& path) {
    return session.OpenDataDirectory("d" + std::to_string(++dirs), path);
  }
  std::unique_ptr<TDataCursor> Cursor(TDataDirectory* dir, const std::string& name = "t") {
    auto c = std::make_unique<TDataCursor>(dir);
    c->SetTableName(name);
    c->SetExclusive(true);
    return c;
  }
  // Runs a verification or repair; an engine error becomes a line.
  Report Run(TDataDirectory* dir, bool verify, bool read_only = false) {
    Report report;
    auto c = Cursor(dir);
    c->SetReadOnly(read_only);
    c->SetRepairLogCallback(LogLine, &report);
    c->SetRepairProgressCallback(Progress, &report);
    try {
      c->RepairTable(verify, false);
    } catch (const EKORVEXEngineError& e) {
      report.lines.push_back("raised " + std::to_string(e.ErrorCode()));
    }
    return report;
  }
  qvtest::TempDir scratch;
  TDataSession session;
  int dirs = 0;
};

std::string Text(const std::vector<std::string>& lines) {
  std::string all;
  for (const std::string& l : lines) all += l + "\n";
  return all;
}

void BuildReference(Env& env, TDataDirectory* dir) {
  BuildRepairReference(dir);
  // The repair builds the trees, each reported: the verification it stands
  // for finds trees with no keys.
  Report built = env.Run(dir, false);
  EXPECT_EQ(built.lines, (std::vector<std::string>{"Repair of table t.DAT started at <time>",
                                                  "Index Primary rebuilt from the records, error fixed",
                                                  "Index ByCode rebuilt from the records, error fixed",
                                                  "Repair of table t.DAT completed at <time>"}));
}

// Runs the fixture script's `what` over every table in one python3 run and
// cuts its output at the "= <table>..." lines: each header's lines.
std::map<std::string, std::vector<std::string>> ScriptOver(const char* what, const std::vector<std::string>& dats) {
  std::string command = "python3 '" + kScript + "' " + what;
  for (const std::string& dat : dats) command += " '" + dat + "'";
  qvtest::CommandResult run = qvtest::RunShell(command + " 2>&1");
  EXPECT_EQ(run.status, 0) << run.output;
  std::map<std::string, std::vector<std::string>> out;
  std::vector<std::string>* section = nullptr;
  std::istringstream in(run.output);
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("= ", 0) == 0)
      section = &out[line.substr(2)];
    else if (section)
      section->push_back(line);
  }
  return out;
}

// Per table, physical number -> "flag hex" of the records python3 reads.
using Records = std::map<int, std::string>;
std::map<std::string, Records> PythonRecords(const std::vector<std::string>& dats) {
  std::map<std::string, Records> out;
  for (const auto& [dat, lines] : ScriptOver("records", dats)) {
    Records& table = out[dat];
    for (const std::string& line : lines) {
      std::istringstream fields(line);
      int n;
      std::string flag, hex;
      fields >> n >> flag;
      std::getline(fields, hex);
      table[n] = flag + hex;
    }
  }
  return out;
}

// The independent checker over every table: its status and lines.
std::map<std::string, CheckResult> CheckAll(const std::vector<std::string>& dats) {
  std::map<std::string, CheckResult> out;
  for (const auto& [header, lines] : ScriptOver("check", dats)) {
    const std::size_t space = header.rfind(' ');
    CheckResult& table = out[header.substr(0, space)];
    table.status = std::stoi(header.substr(space + 1));
    for (const std::string& line : lines) table.output += line + "\n";
  }
  return out;
}

// The faults go through each step together, so python3 starts a few times
// in all rather than a few times per fault.
TEST(TableRepair, DamagedCopiesAgainstGoldenLogsAndTheChecker) {
  Env env;
  qvtest::TempDir reference, copies;
  BuildReference(env, env.Dir(reference.Path()));
  ASSERT_EQ(RunTableCheck(reference.Path() + "/t.DAT").status, 0);
  qvtest::CommandResult derived =
      qvtest::RunShell("python3 '" + kScript + "' derive '" + reference.Path() + "' '" + copies.Path() + "' 2>&1");
  ASSERT_EQ(derived.status, 0) << derived.output;
  std::vector<std::string> faults, dats;
  std::istringstream names(derived.output);
  for (std::string name; std::getline(names, name);) {
    faults.push_back(name);
    dats.push_back(copies.Path() + "/" + name + "/t.DAT");
  }
  EXPECT_GE(faults.size(), 30u);
  const std::map<std::string, Records> readable = PythonRecords(dats);

  std::string golden;
  std::vector<TDataDirectory*> dirs;
  std::vector<std::vector<std::string>> repair_lines;
  for (const std::string& fault : faults) {
    SCOPED_TRACE(fault);
    const std::string folder = copies.Path() + "/" + fault;
    TDataDirectory* dir = dirs.emplace_back(env.Dir(folder));
    const auto before = FolderFiles(folder);

    Report verified = env.Run(dir, true);
    golden += "[" + fault + "]\n" + Text(verified.lines);
    EXPECT_TRUE(FolderFiles(folder) == before) << "verification changed a file";
    // A unique key held twice shows only when the indexes are rebuilt.
    if (fault != "duplicate_unique_key") {
      EXPECT_GE(verified.lines.size(), 3u) << "the fault is reported";
    }
    repair_lines.push_back(env.Run(dir, false).lines);
  }

  const std::map<std::string, CheckResult> checks = CheckAll(dats);
  const std::map<std::string, Records> after = PythonRecords(dats);
  for (std::size_t i = 0; i < faults.size(); ++i) {
    SCOPED_TRACE(faults[i]);
    const auto check = checks.find(dats[i]);
    ASSERT_TRUE(check != checks.end());
    EXPECT_EQ(check->second.status, 0) << check->second.output << Text(repair_lines[i]);
    std::set<int> dropped;
    static const std::regex deleted(R"(physical record # (\d+), error fixed but physical record deleted)");
    for (const std::string& line : repair_lines[i]) {
      std::smatch m;
      if (std::regex_search(line, m, deleted)) dropped.insert(std::stoi(m[1]));
    }
    const Records& kept = after.at(dats[i]);
    for (auto& [n, record] : readable.at(dats[i])) {
      if (record[0] != '0' || dropped.count(n)) continue;
      auto found = kept.find(n);
      EXPECT_TRUE(found != kept.end() && found->second == record) << "record " << n << " lost or changed";
    }
    Report again = env.Run(dirs[i], false);
    EXPECT_EQ(again.lines.size(), 2u) << Text(again.lines);
  }
  if (std::getenv("QV_UPDATE_GOLDEN")) std::ofstream(kGolden) << golden;
  EXPECT_EQ(golden, qvtest::ReadFileBytes(kGolden));
}

// A journal left by a writer that died inside a flush: verification reports
// it and changes nothing; a repair plays it back first and leaves none.
TEST(TableRepair, HotJournal) {
  Env env;
  qvtest::TempDir folder;
  TDataDirectory* dir = env.Dir(folder.Path());
  BuildReference(env, dir);
  const auto clean = FolderFiles(folder.Path());
  {
    TFileHandler dat, idx, blb;
    dat.SetFileName(folder.Path() + "/t.DAT");
    idx.SetFileName(folder.Path() + "/t.IDX");
    blb.SetFileName(folder.Path() + "/t.BLB");
    for (TFileHandler* f : {&dat, &idx, &blb}) f->OpenFile();
    TJournal journal;
    journal.Begin(folder.Path() + "/t.JNL", {&dat, &idx, &blb}, true);
    dat.SetObserver(&journal);
    dat.Seek(200, 0);
    dat.Write("torn write", 10);
    // Asking for the size sends the held write out, as a writer killed
    // past its flush's first batch left it.
    dat.GetSize();
    dat.SetObserver(nullptr);
    journal.Abandon();
  }
  const auto hot = FolderFiles(folder.Path());
  ASSERT_TRUE(hot.count("t.JNL"));
  Report verified = env.Run(dir, true);
  EXPECT_EQ(verified.lines.size(), 3u) << Text(verified.lines);
  EXPECT_EQ(verified.lines[1], "Unfinished write journal found for table t.DAT, error not fixed");
  EXPECT_TRUE(FolderFiles(folder.Path()) == hot);
  Report repaired = env.Run(dir, false);
  EXPECT_EQ(repaired.lines[1], "Unfinished write journal played back for table t.DAT, error fixed");
  EXPECT_FALSE(fs::exists(folder.Path() + "/t.JNL"));
  EXPECT_EQ(FolderFiles(folder.Path()).at("t.DAT").substr(127), clean.at("t.DAT").substr(127));
  CheckResult check = RunTableCheck(folder.Path() + "/t.DAT");
  EXPECT_EQ(check.status, 0) << check.output;
}

TEST(TableRepair, GuardsProgressAndEmptyTables) {
  Env env;
  qvtest::TempDir folder;
  TDataDirectory* dir = env.Dir(folder.Path());
  BuildReference(env, dir);
  auto open = env.Cursor(dir);
  open->OpenCursor();
  EXPECT_EQ(RaisedNumber([&] { open->RepairTable(true, false); }), err::kTableInUse);
  open->CloseCursor();
  auto shared = env.Cursor(dir);
  shared->SetExclusive(false);
  EXPECT_EQ(RaisedNumber([&] { shared->RepairTable(true, false); }), err::kNeedsExclusive);
  EXPECT_EQ(env.Run(dir, false, true).lines, std::vector<std::string>{"raised 11013"});
  Report read_only = env.Run(dir, true, true);
  EXPECT_EQ(read_only.lines.size(), 2u);
  // Open elsewhere: another cursor of this process, then another process.
  auto other = env.Cursor(dir);
  other->SetExclusive(false);
  other->OpenCursor();
  EXPECT_EQ(env.Run(dir, true).lines, std::vector<std::string>{"raised 11013"});
  other->CloseCursor();
  {
    qvtest::ChildProcess child([&](qvtest::ChildProcess& self) {
      TDataSession session;
      TDataDirectory* d = session.OpenDataDirectory("x", folder.Path());
      TDataCursor c(d);
      c.SetTableName("t");
      c.OpenCursor();
      self.Ready();
      self.WaitTold();
      c.CloseCursor();
      return 0;
    });
    ASSERT_TRUE(child.WaitReady());
    EXPECT_EQ(env.Run(dir, false).lines, std::vector<std::string>{"raised 11013"});
    child.Tell();
    EXPECT_EQ(child.Wait(), 0);
  }
  // Progress: one step per physical record, the last at 100 percent.
  Report full = env.Run(dir, false);
  ASSERT_EQ(full.progress.size(), 14u);
  EXPECT_EQ(full.progress.back(), (std::pair<std::uint32_t, std::uint8_t>{14, 100}));
  EXPECT_EQ(full.progress[6], (std::pair<std::uint32_t, std::uint8_t>{7, 50}));
  // An empty table: the two lines and no progress.
  auto c = env.Cursor(dir, "e");
  std::vector<TFieldDefinition> fields{Field("A", dtInteger)};
  c->CreateTable({}, fields);
  Report report;
  c->SetRepairLogCallback(LogLine, &report);
  c->SetRepairProgressCallback(Progress, &report);
  c->RepairTable(false, false);
  EXPECT_EQ(Text(report.lines), "Repair of table e.DAT started at <time>\nRepair of table e.DAT completed at <time>\n");
  EXPECT_TRUE(report.progress.empty());
}

// Record IDs: a record without one gets an ID above every ID of the table,
// also those of later records, and above the header's last ID.
TEST(TableRepair, MissingRecordIDsTakeIDsAboveAllOthers) {
  Env env;
  qvtest::TempDir folder;
  TDataDirectory* dir = env.Dir(folder.Path());
  BuildReference(env, dir);
  const std::string dat = folder.Path() + "/t.DAT";
  // Record 1 loses its ID, record 2 holds the highest, the header says 3.
  PatchFile(dat,
            "d = bytearray(open(path, 'rb').read())\n"
            "fc, = struct.unpack_from('<H', d, 23)\n"
            "rs, = struct.unpack_from('<H', d, 21)\n"
            "s = 127 + 768 * fc\n"
            "struct.pack_into('<I', d, s + 5, 0)\n"
            "struct.pack_into('<I', d, s + rs + 5, 40)\n"
            "struct.pack_into('<I', d, 17, 3)\n"
            "open(path, 'wb').write(d)\n");
  Report verified = env.Run(dir, true);
  EXPECT_EQ(Text(verified.lines),
            "Verification of table t.DAT started at <time>\n"
            "Logical record ID for physical record # 1 is invalid, error not fixed\n"
            // The two records' IDs are in the keys of the non-unique and the
            // system index.
            "2 keys of index ByCode do not match their records, error not fixed\n"
            "2 keys of index Sys Deleted do not match their records, error not fixed\n"
            "Invalid next available record ID (auto-increment), error not fixed\n"
            "Verification of table t.DAT completed at <time>\n");
  env.Run(dir, false);
  std::string ids = RunPython(dat,
                              "d = open(path, 'rb').read()\n"
                              "fc, = struct.unpack_from('<H', d, 23)\n"
                              "rs, = struct.unpack_from('<H', d, 21)\n"
                              "s = 127 + 768 * fc\n"
                              "ids = [struct.unpack_from('<I', d, s + i * rs + 5)[0] for i in range((len(d) - s) // rs)]\n"
                              "print(ids[0], len(set(ids)) == len(ids), struct.unpack_from('<I', d, 17)[0])\n");
  EXPECT_EQ(ids, "41 True 41\n");
  EXPECT_EQ(RunTableCheck(dat).status, 0);
}

// An index count cut from 1 to 0 leaves the secondary index's tree in the
// file, owned by no index: verification reports it and changes nothing,
// repair takes the index back in and rebuilds it, the checker agrees.
TEST(TableRepair, AnIndexPastTheCountIsReportedAndTakenBackIn) {
  Env env;
  qvtest::TempDir folder;
  TDataDirectory* dir = env.Dir(folder.Path());
  BuildReference(env, dir);
  const std::string base = folder.Path() + "/t";
  PatchFile(base + ".IDX", "d = bytearray(open(path, 'rb').read())\nd[13] = 0\nopen(path, 'wb').write(d)\n");
  EXPECT_NE(RunTableCheck(base + ".DAT").status, 0);
  const std::string idx = qvtest::ReadFileBytes(base + ".IDX");
  Report verified = env.Run(dir, true);
  EXPECT_EQ(Text(verified.lines),
            "Verification of table t.DAT started at <time>\n"
            "Pages of index ByCode past the index count belong to no index, error not fixed\n"
            "Invalid index count of 0 in index header, error not fixed\n"
            "Verification of table t.DAT completed at <time>\n");
  EXPECT_EQ(qvtest::ReadFileBytes(base + ".IDX"), idx);
  Report repaired = env.Run(dir, false);
  EXPECT_EQ(repaired.lines.at(1), "Pages of index ByCode past the index count belong to no index, error fixed");
  EXPECT_EQ(repaired.lines.at(2), "Invalid index count of 0 in index header, error fixed");
  EXPECT_EQ(repaired.lines.back(), "Repair of table t.DAT completed at <time>");
  CheckResult check = RunTableCheck(base + ".DAT");
  EXPECT_EQ(check.status, 0) << check.output;
  auto c = env.Cursor(dir);
  c->OpenCursor();
  c->SetIndexName("ByCode");
  EXPECT_EQ(c->GetRecordCount(), 12u);
  c->CloseCursor();
  EXPECT_EQ(Text(env.Run(dir, true).lines),
            "Verification of table t.DAT started at <time>\nVerification of table t.DAT completed at <time>\n");
}

// A repair that cannot write (a full disk, a failing one: the system's
// failure injected after k writes, for every k until one gets through)
// raises 9218 with the system's reason, logs its failure as its last line
// and leaves the files as they were.
TEST(TableRepair, AFailedRepairLogsItsFailureAndChangesNothing) {
  Env env;
  qvtest::TempDir folder;
  TDataDirectory* dir = env.Dir(folder.Path());
  BuildReference(env, dir);
  const std::string base = folder.Path() + "/t";
  // A fault the repair mends: the header's record count.
  PatchFile(base + ".IDX", "d = bytearray(open(path, 'rb').read())\nd[3974] ^= 1\nopen(path, 'wb').write(d)\n");
  auto files_now = [&] {
    std::string all;
    for (const char* ext : {".DAT", ".IDX", ".BLB"}) all += qvtest::ReadFileBytes(base + ext) + "|";
    return all;
  };
  struct Case {
    int error;
    const char* reason;
  };
  for (Case k : {Case{ENOSPC, "No space left on device"}, Case{EIO, "Input/output error"}}) {
    const std::string files = files_now();
    int failures = 0;
    for (int skip = 0;; ++skip) {
      SCOPED_TRACE(std::to_string(skip) + " writes before " + k.reason);
      Report report;
      auto c = env.Cursor(dir);
      c->SetRepairLogCallback(LogLine, &report);
      std::string raised;
      rtl::TLockedFile::FailWrites(skip, 1, k.error);
      try {
        c->RepairTable(false, false);
      } catch (const EKORVEXEngineError& e) {
        raised = e.what();
      }
      rtl::TLockedFile::FailWrites(0, 0, 0);
      if (raised.empty()) {
        EXPECT_EQ(report.lines.back(), "Repair of table t.DAT completed at <time>");
        break;
      }
      ++failures;
      EXPECT_NE(raised.find("# 9218 Error writing to table '"), std::string::npos) << raised;
      EXPECT_NE(raised.find(std::string("': ") + k.reason), std::string::npos) << raised;
      ASSERT_FALSE(report.lines.empty());
      EXPECT_EQ(report.lines.back().rfind("Repair of table t.DAT failed at ", 0), 0u) << report.lines.back();
      EXPECT_NE(report.lines.back().find(raised), std::string::npos);
      for (const std::string& line : report.lines) EXPECT_EQ(line.find("completed"), std::string::npos);
      ASSERT_EQ(files_now(), files);
      ASSERT_FALSE(TJournal::IsHot(base + ".JNL"));
    }
    EXPECT_GT(failures, 3);
    // The repaired table goes back to the fault for the next kind.
    PatchFile(base + ".IDX", "d = bytearray(open(path, 'rb').read())\nd[3974] ^= 1\nopen(path, 'wb').write(d)\n");
  }
}

}  // namespace
}  // namespace korvex::testing
