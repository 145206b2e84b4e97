#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/runtime/filelock.h"
#include "tables/lib/abstract_file.h"
#include "tables/lib/file_handler.h"
#include "tables/lib/file_list.h"
#include "tables/lib/support.h"
#include "tests/tables/lib/lib_test_support.h"

namespace korvex {
namespace {

using testing::ChildProcess;
using testing::CountedTest;
using testing::RaisedNumber;
using testing::ScratchDir;

constexpr std::int64_t kDataWriteLock = 2147483647;
constexpr std::int64_t kTableLock = 2047483645;
constexpr std::int64_t kTableLockLength = 100000001;

std::unique_ptr<TFileHandler> Handler(const std::string& name, bool in_memory = false, bool exclusive = false) {
  auto handler = std::make_unique<TFileHandler>();
  handler->SetFileName(name);
  handler->SetInMemory(in_memory);
  handler->SetExclusive(exclusive);
  return handler;
}

void WriteText(TFileHandler& handler, const std::string& text) { handler.Write(text.data(), static_cast<std::int64_t>(text.size())); }

std::string ReadText(TFileHandler& handler, std::int64_t count) {
  std::string text(static_cast<std::size_t>(count), '\0');
  text.resize(static_cast<std::size_t>(handler.Read(text.data(), count, true)));
  return text;
}

// ---- memory files ------------------------------------------------------------

class MemoryFiles : public CountedTest {
protected:
  void TearDown() override {
    for (const char* name : {"MEMORY/a.DAT", "MEMORY/b.DAT", "MEMORY/c.DAT"}) {
      if (FileList().FileExists(name, true)) FileList().DeleteFile(name, true);
    }
    CountedTest::TearDown();
  }
};

TEST_F(MemoryFiles, TruncationShortReadsAndSeeks) {
  auto file = Handler("MEMORY/a.DAT", true);
  file->CreateFile();
  WriteText(*file, "0123456789");
  EXPECT_EQ(file->GetSize(), 10);
  EXPECT_EQ(file->Seek(3, 2), 13);   // from the end: size plus offset
  EXPECT_EQ(file->Seek(-3, 2), 7);
  EXPECT_EQ(file->Seek(4, 0), 4);
  file->Write(nullptr, 0);           // cuts the file here
  EXPECT_EQ(file->GetSize(), 4);
  EXPECT_EQ(file->GetPos(), 4);      // GetSize leaves the position alone
  file->Seek(2, 0);
  EXPECT_EQ(ReadText(*file, 10), "23");
  file->Seek(2, 0);
  std::string message;
  char buffer[10];
  EXPECT_EQ(RaisedNumber([&] { file->Read(buffer, 10); }, &message), 9217);
  EXPECT_EQ(message, "KORVEX Engine Error # 9217 Error reading from table 'MEMORY/a.DAT'");
  file->Seek(-5, 1);  // before the start: nothing to read, nothing to write
  EXPECT_EQ(ReadText(*file, 3), "");
  EXPECT_EQ(RaisedNumber([&] { WriteText(*file, "x"); }), 9218);
}

// An observer (a table's journal) reads and writes the file through the
// very handler it watches, from inside the handler's calls; the caller's
// read or write still lands where the caller seeked. One such read once made
// a repair take the records of the window before the one it asked for.
class BusyObserver : public TFileObserver {
public:
  void Busy(TFileHandler& file) {
    if (inside_) return;
    inside_ = true;
    char head[3];
    file.Seek(0, 0);
    file.Read(head, 3);
    file.Seek(0, 0);
    file.Write(head, 3);
    inside_ = false;
  }
  void BeforeWrite(TFileHandler& file, std::int64_t, std::int64_t) override { Busy(file); }
  void BeforeFlush(TFileHandler& file) override { Busy(file); }
  std::uint8_t* HoldSpace(TFileHandler& file, std::int64_t, std::int64_t) override {
    Busy(file);
    return nullptr;
  }
  bool HoldFlush(TFileHandler& file) override {
    Busy(file);
    return false;
  }
  void BeforeRead(TFileHandler& file) override { Busy(file); }

private:
  bool inside_ = false;
};

TEST_F(MemoryFiles, AnObserversOwnTransfersLeaveTheCallersPlaceAlone) {
  struct Case {
    const char* name;
    std::function<void(TFileHandler&)> call;  // after a seek to 10
    std::string content;                       // the file afterwards
  };
  const std::string start = "0123456789abcdefghij";
  const Case cases[] = {
      {"read", [](TFileHandler& h) { EXPECT_EQ(ReadText(h, 4), "abcd"); }, start},
      {"write", [](TFileHandler& h) { WriteText(h, "XY"); }, "0123456789XYcdefghij"},
      {"cut", [](TFileHandler& h) { h.Write(nullptr, 0); }, "0123456789"},
      {"write in place", [](TFileHandler& h) { EXPECT_EQ(h.WriteInPlace(15, 2), nullptr); }, start},
      {"flush", [](TFileHandler& h) { h.Flush(); }, start},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    auto h = Handler("MEMORY/a.DAT", true);
    h->CreateFile();
    WriteText(*h, start);
    BusyObserver observer;
    h->SetObserver(&observer);
    h->Seek(10, 0);
    k.call(*h);
    if (std::string(k.name) == "read") EXPECT_EQ(h->GetPos(), 14);
    else if (std::string(k.name) == "write") EXPECT_EQ(h->GetPos(), 12);
    else EXPECT_EQ(h->GetPos(), 10);
    h->SetObserver(nullptr);
    h->Seek(0, 0);
    EXPECT_EQ(ReadText(*h, 100), k.content);
    h->CloseFile();
    FileList().DeleteFile("MEMORY/a.DAT", true);
  }
}

TEST_F(MemoryFiles, WritingPastATruncatedEndLeavesZerosInTheGap) {
  auto file = Handler("MEMORY/a.DAT", true);
  file->CreateFile();
  WriteText(*file, "ABCDEFGHIJ");
  file->Seek(3, 0);
  file->Write(nullptr, 0);
  file->Seek(8, 0);
  WriteText(*file, "Z");
  EXPECT_EQ(file->GetSize(), 9);
  file->Seek(0, 0);
  EXPECT_EQ(ReadText(*file, 20), std::string("ABC") + std::string(5, '\0') + "Z");
  file->Seek(20, 0);  // growing by truncation also reads as zeros
  file->Write(nullptr, 0);
  file->Seek(9, 0);
  EXPECT_EQ(ReadText(*file, 20), std::string(11, '\0'));
  EXPECT_FALSE(file->HasUnsyncedWrites());  // nothing of a memory file is synced
}

TEST_F(MemoryFiles, LocksBelongToTheFile) {
  auto a = Handler("MEMORY/a.DAT", true), b = Handler("MEMORY/a.DAT", true);
  EXPECT_FALSE(a->LockRegion(100, 10, true));  // closed
  a->CreateFile();
  a->SetExclusive(false);
  EXPECT_TRUE(a->LockRegion(100, 10, true));
  EXPECT_FALSE(a->LockRegion(105, 1, true));
  EXPECT_TRUE(a->LockRegion(110, 5, true));
  EXPECT_FALSE(a->LockRegion(100, 9, false));
  EXPECT_FALSE(a->LockRegion(95, 10, true));
  EXPECT_TRUE(a->LockRegion(100, 10, false));
  EXPECT_TRUE(a->LockRegion(95, 10, true));
  a->CloseFile();
  b->OpenFile();  // locks live with the file object, which stays registered
  EXPECT_FALSE(b->LockRegion(95, 1, true));
  EXPECT_TRUE(b->LockRegion(95, 10, false));
  EXPECT_TRUE(b->LockRegion(110, 5, false));
  // Part of a held range goes; the bytes either side stay held on their own.
  EXPECT_TRUE(b->LockRegion(200, 10, true));
  EXPECT_FALSE(b->UnlockPartOfRegion(205, 10));  // past its end
  EXPECT_TRUE(b->UnlockPartOfRegion(203, 2));
  EXPECT_TRUE(b->LockRegion(203, 2, true));  // free again
  EXPECT_FALSE(b->LockRegion(202, 1, true));
  EXPECT_TRUE(b->LockRegion(200, 3, false));
  EXPECT_TRUE(b->UnlockPartOfRegion(205, 5));
  EXPECT_TRUE(b->LockRegion(205, 5, true));
}

TEST_F(MemoryFiles, ContentsOutliveTheirHandlesUntilDeleted) {
  auto file = Handler("MEMORY/a.DAT", true);
  std::string message;
  EXPECT_EQ(RaisedNumber([&] { file->OpenFile(); }, &message), 11010);
  EXPECT_EQ(message, "KORVEX Engine Error # 11010 Invalid path or file name for table 'MEMORY/a.DAT'");
  EXPECT_FALSE(file->Exists());
  file->CreateFile();
  WriteText(*file, "kept");
  file->CloseFile();
  EXPECT_TRUE(file->Exists());
  EXPECT_FALSE(FileList().FileExists("MEMORY/a.DAT", false));  // not a disk file
  auto again = Handler(" memory/A.dat  ", true);  // case and blanks do not matter
  again->OpenFile();
  EXPECT_EQ(again->File(), FileList().FileExists("MEMORY/a.DAT", true) ? again->File() : nullptr);
  EXPECT_EQ(ReadText(*again, 10), "kept");
  EXPECT_EQ(RaisedNumber([&] { again->DeleteFile(); }), 11013);  // still open
  again->CloseFile();
  again->DeleteFile();
  EXPECT_FALSE(file->Exists());
}

TEST_F(MemoryFiles, TemporaryFilesGoAtTheirLastClose) {
  auto file = Handler("MEMORY/a.DAT", true);
  file->SetTemporary(true);
  file->CreateFile();
  WriteText(*file, "scratch");
  file->CloseFile();
  EXPECT_FALSE(file->Exists());
}

TEST_F(MemoryFiles, ExclusivityAndHandleNumbers) {
  auto a = Handler("MEMORY/a.DAT", true), b = Handler("MEMORY/a.DAT", true), c = Handler("MEMORY/a.DAT", true);
  a->CreateFile();  // a creator holds its file exclusively
  EXPECT_EQ(RaisedNumber([&] { b->OpenFile(); }), 11013);
  a->CloseFile();
  a->OpenFile();
  b->OpenFile();
  EXPECT_EQ(a->Handle(), 1);
  EXPECT_EQ(b->Handle(), 2);
  EXPECT_EQ(a->File(), b->File());
  c->SetExclusive(true);
  std::string message;
  EXPECT_EQ(RaisedNumber([&] { c->OpenFile(); }, &message), 11013);
  EXPECT_EQ(message, "KORVEX Engine Error # 11013 Access denied to table 'MEMORY/a.DAT'");
  EXPECT_EQ(RaisedNumber([&] { c->CreateFile(); }), 11013);
  a->CloseFile();
  c->SetExclusive(false);
  c->OpenFile();
  EXPECT_EQ(c->Handle(), 1);  // the freed number is given out again
}

TEST_F(MemoryFiles, BlankNamesAreRefused) {
  for (const char* name : {"", "   ", "MEMORY/ .DAT", ".DAT"}) {
    auto file = Handler(name, true);
    EXPECT_EQ(RaisedNumber([&] { file->CreateFile(); }), 11010) << name;
  }
}

TEST_F(MemoryFiles, RenameCopyAndCopyFrom) {
  auto a = Handler("MEMORY/a.DAT", true);
  a->CreateFile();
  WriteText(*a, "short");
  a->CopyFile("MEMORY/b.DAT");
  auto b = Handler("MEMORY/b.DAT", true);
  b->OpenFile();
  EXPECT_EQ(ReadText(*b, 100), "short");
  b->Seek(0, 0);
  WriteText(*b, "a much longer text");
  b->CloseFile();
  b->CopyFromFile("MEMORY/a.DAT");  // closed: nothing happens
  b->OpenFile();
  EXPECT_EQ(RaisedNumber([&] { b->CopyFromFile("MEMORY/a.DAT"); }), 11013);  // a is open
  EXPECT_EQ(b->GetSize(), 18);
  a->CloseFile();
  b->CopyFromFile("MEMORY/a.DAT");
  EXPECT_EQ(b->GetSize(), 5);       // the old tail is gone
  b->Seek(0, 0);
  EXPECT_EQ(ReadText(*b, 100), "short");
  b->CloseFile();
  EXPECT_EQ(RaisedNumber([&] { a->RenameFile("MEMORY/b.DAT"); }), 11047);  // never two files of one name
  a->RenameFile("MEMORY/c.DAT");
  EXPECT_EQ(a->FileName(), "MEMORY/c.DAT");
  EXPECT_FALSE(FileList().FileExists("MEMORY/a.DAT", true));
  std::vector<std::string> names;
  FileList().GetFileNames(true, "*.dat", names);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"MEMORY/b.DAT", "MEMORY/c.DAT"}));
  FileList().GetFileNames(true, "MEMORY/c*", names);
  EXPECT_EQ(names, (std::vector<std::string>{"MEMORY/c.DAT"}));
}

// ---- disk files ----------------------------------------------------------------

class DiskFiles : public CountedTest {
protected:
  ScratchDir dir_;
};

TEST_F(DiskFiles, CreateWriteFlushReadBack) {
  std::int32_t entries = FileList().EntryCount();
  auto file = Handler(dir_.File("fams.dat"));
  file->CreateFile();
  EXPECT_EQ(FileList().EntryCount(), entries + 1);
  WriteText(*file, "header and records");
  file->Flush();
  EXPECT_EQ(testing::ReadFileBytes(dir_.File("fams.DAT")), "header and records");  // canonical extension
  EXPECT_FALSE(std::filesystem::exists(dir_.File("fams.dat")));
  file->Seek(7, 0);
  EXPECT_EQ(ReadText(*file, 3), "and");
  file->Seek(6, 0);
  file->Write(nullptr, 0);
  file->CloseFile();
  EXPECT_EQ(FileList().EntryCount(), entries);  // disk entries go at the last close
  EXPECT_EQ(testing::ReadFileBytes(dir_.File("fams.DAT")), "header");
}

TEST_F(DiskFiles, NamesAreFoundWithoutRegardToCase) {
  testing::WriteFileBytes(dir_.File("INDS.DAT"), "people");
  auto file = Handler(dir_.File("inds.dat"));
  EXPECT_TRUE(file->Exists());
  file->OpenFile();
  EXPECT_EQ(ReadText(*file, 10), "people");
  file->CloseFile();
  auto create = Handler(dir_.File("Inds.Dat"));
  create->CreateFile();  // replaces the existing file instead of adding a second one
  create->CloseFile();
  std::vector<std::string> names;
  FileList().GetFileNames(false, dir_.File("*.dat"), names);
  EXPECT_EQ(names, (std::vector<std::string>{"INDS.DAT"}));
}

TEST_F(DiskFiles, MissingPathsAreInvalidNamesAndLeaveNothingRegistered) {
  std::int32_t entries = FileList().EntryCount();
  auto file = Handler(dir_.File("no/such/dir/fams.DAT"));
  std::string message;
  EXPECT_EQ(RaisedNumber([&] { file->CreateFile(); }, &message), 11010);
  EXPECT_EQ(message, "KORVEX Engine Error # 11010 Invalid path or file name for table '" +
                         dir_.File("no/such/dir/fams.DAT") + "'");
  EXPECT_FALSE(file->IsOpen());
  EXPECT_FALSE(file->Exists());
  EXPECT_EQ(FileList().EntryCount(), entries);
  EXPECT_EQ(RaisedNumber([&] { file->OpenFile(); }), 11010);
  EXPECT_EQ(FileList().EntryCount(), entries);
}

TEST_F(DiskFiles, NamesLongerThan255AreRefusedNotCut) {
  std::string name = dir_.Path() + "/" + std::string(260 - dir_.Path().size(), 'n') + ".DAT";
  ASSERT_GT(name.size(), 255u);
  auto file = Handler(name);
  EXPECT_EQ(RaisedNumber([&] { file->CreateFile(); }), 11010);
  std::string cut = name.substr(0, 255);
  EXPECT_FALSE(std::filesystem::exists(cut));
  EXPECT_TRUE(std::filesystem::is_empty(dir_.Path()));
}

TEST_F(DiskFiles, AFileThatFailsToOpenIsNotClaimedToExist) {
  std::string path = dir_.File("t.DAT");
  testing::WriteFileBytes(path, "x");
  auto holder = Handler(path, false, true);
  holder->OpenFile();  // exclusively
  auto other = Handler(path);
  EXPECT_EQ(RaisedNumber([&] { other->OpenFile(); }), 11013);
  holder->CloseFile();
  std::filesystem::remove(path);
  EXPECT_FALSE(other->Exists());
  EXPECT_FALSE(FileList().FileExists(path, false));
}

TEST_F(DiskFiles, ReadOnlyFilesOpenForReadingOnly) {
  std::string path = dir_.File("ro.DAT");
  testing::WriteFileBytes(path, "fixed");
  chmod(path.c_str(), 0444);
  auto file = Handler(path);
  file->OpenFile();
  EXPECT_TRUE(file->ReadOnly());
  EXPECT_EQ(ReadText(*file, 10), "fixed");
  EXPECT_EQ(RaisedNumber([&] { WriteText(*file, "y"); }), 9218);
  EXPECT_TRUE(file->LockRegion(kDataWriteLock, 1, true));
}

TEST_F(DiskFiles, PermissionDeniedIsAccessDenied) {
  // A file nobody may read, in a folder nobody may write to, so that access
  // is denied to the user running the tests too (root's child drops to nobody).
  std::string closed_dir = dir_.File("closed");
  mkdir(closed_dir.c_str(), 0755);
  std::string secret = closed_dir + "/secret.DAT";
  testing::WriteFileBytes(secret, "s");
  chmod(secret.c_str(), 0);
  chmod(closed_dir.c_str(), 0555);
  int code = testing::InChild([&] {
    if (!testing::DropPrivileges()) return 2;
    auto file = Handler(secret);
    std::string message;
    if (RaisedNumber([&] { file->OpenFile(); }, &message) != 11013) return 3;
    if (message != "KORVEX Engine Error # 11013 Access denied to table '" + secret + "'") return 4;
    auto created = Handler(closed_dir + "/new.DAT");
    if (RaisedNumber([&] { created->CreateFile(); }) != 11013) return 5;
    auto deleted = Handler(secret);
    if (RaisedNumber([&] { deleted->DeleteFile(); }) != 11013) return 6;
    return 0;
  });
  chmod(closed_dir.c_str(), 0755);  // so that the scratch folder can go
  EXPECT_EQ(code, 0);
}

TEST_F(DiskFiles, AFullDiskIsAWriteError) {
  std::string path = dir_.File("full.DAT");
  int code = testing::InChild([&] {
    signal(SIGXFSZ, SIG_IGN);
    rlimit limit{4096, 4096};
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) return 2;
    auto file = Handler(path);
    file->CreateFile();
    std::string block(3000, 'r');
    WriteText(*file, block);
    std::string message;
    if (RaisedNumber([&] { WriteText(*file, block); }, &message) != 9218) return 3;
    // The system's reason follows the file's name.
    if (message != "KORVEX Engine Error # 9218 Error writing to table '" + path + "': File too large") return 4;
    return 0;
  });
  EXPECT_EQ(code, 0);
  auto device = Handler("/dev/full");
  device->OpenFile();
  std::string message;
  EXPECT_EQ(RaisedNumber([&] { WriteText(*device, "x"); }, &message), 9218);
  EXPECT_EQ(message, "KORVEX Engine Error # 9218 Error writing to table '/dev/full': No space left on device");
}

// Two handlers of one disk file made anew.
std::pair<std::unique_ptr<TFileHandler>, std::unique_ptr<TFileHandler>> TwoHandlers(const std::string& path) {
  auto a = Handler(path);
  a->CreateFile();
  a->CloseFile();
  a->OpenFile();
  auto b = Handler(path);
  b->OpenFile();
  return {std::move(a), std::move(b)};
}

TEST_F(DiskFiles, HandlersOfOneProcessShareTheFileAndItsLocks) {
  auto [a, b] = TwoHandlers(dir_.File("t.DAT"));
  EXPECT_EQ(a->File(), b->File());  // one descriptor for the process
  EXPECT_NE(a->Handle(), b->Handle());
  EXPECT_TRUE(a->LockRegion(kDataWriteLock, 1, true));
  EXPECT_FALSE(b->LockRegion(kDataWriteLock, 1, true));
  EXPECT_FALSE(a->LockRegion(kDataWriteLock, 1, true));
  EXPECT_FALSE(b->LockRegion(kDataWriteLock, 2, false));
  EXPECT_TRUE(b->LockRegion(kDataWriteLock, 1, false));
  WriteText(*a, "abc");  // each handler keeps its own position
  EXPECT_EQ(b->GetPos(), 0);
  EXPECT_EQ(ReadText(*b, 3), "abc");
  EXPECT_EQ(RaisedNumber([&] { a->DeleteFile(); }), 11013);
  EXPECT_EQ(RaisedNumber([&] { a->RenameFile(dir_.File("u.DAT")); }), 11013);
}

// A flush syncs the file only when some handler of the process wrote to it
// or cut it since the last sync: random writes, cuts and flushes through
// two handlers against a model of "changed since the last flush"; the bytes
// read back are always the model's. Span writes are made in place or
// through the deferred call another thread would run, and a flush is a
// Flush or an early sync's call (after which a Flush has nothing to do).
TEST_F(DiskFiles, AFlushSyncsOnlyWhatChangedSinceTheLastOne) {
  const std::string path = dir_.File("s.DAT");
  auto [a, b] = TwoHandlers(path);
  auto* disk = dynamic_cast<TPhysicalFile*>(a->File());
  ASSERT_NE(disk, nullptr);
  EXPECT_TRUE(disk->Unsynced());  // a new descriptor: nothing known synced
  std::string model;
  bool changed = true;
  std::uint32_t seed = 47;
  auto next = [&] { return seed = seed * 1103515245u + 12345u, (seed >> 16) % 1000; };
  for (int step = 0; step < 400; ++step) {
    TFileHandler& h = next() % 2 ? *a : *b;
    const std::uint32_t op = next() % 5;
    const std::size_t at = next() % 64;
    if (op == 0 || op == 1) {
      const std::string text(static_cast<std::size_t>(1 + next() % 8), static_cast<char>('a' + step % 26));
      h.Seek(static_cast<std::int64_t>(at), 0);
      WriteText(h, text);
      if (model.size() < at + text.size()) model.resize(at + text.size(), '\0');
      model.replace(at, text.size(), text);
      changed = true;
    } else if (op == 2) {
      const std::string one = "x", two = "yz";
      const std::vector<rtl::TByteSpan> spans{{one.data(), 1}, {two.data(), 2}};
      if (next() % 2) h.WriteSpans(static_cast<std::int64_t>(at), spans);
      else h.DeferredSpans(static_cast<std::int64_t>(at), spans)();
      if (model.size() < at + 3) model.resize(at + 3, '\0');
      model.replace(at, 3, "xyz");
      changed = true;
    } else if (op == 3 && next() % 4 == 0) {
      h.Seek(static_cast<std::int64_t>(at), 0);
      h.Write(nullptr, 0);
      model.resize(at, '\0');
      changed = true;
    } else {
      ASSERT_EQ(disk->Unsynced(), changed) << step;
      ASSERT_EQ(h.HasUnsyncedWrites(), changed) << step;
      if (next() % 2) h.Flush();
      else h.EarlySync()();
      EXPECT_FALSE(disk->Unsynced()) << step;
      EXPECT_FALSE(h.HasUnsyncedWrites()) << step;
      changed = false;
    }
    ASSERT_EQ(testing::ReadFileBytes(path), model) << step;
  }
  b->CloseFile();
  a->CloseFile();
  a->OpenFile();
  auto* again = dynamic_cast<TPhysicalFile*>(a->File());
  EXPECT_TRUE(again != nullptr && again->Unsynced());  // a descriptor opened again
  a->CloseFile();
}

TEST_F(DiskFiles, LocksHoldAcrossProcessesAndGoWithAKilledHolder) {
  std::string path = dir_.File("t.DAT");
  testing::WriteFileBytes(path, std::string(64, 'd'));
  ChildProcess holder([&](ChildProcess& self) {
    auto file = Handler(path);
    file->OpenFile();
    if (!file->LockRegion(kDataWriteLock, 1, true) || !file->LockRegion(kTableLock, kTableLockLength, true))
      return 2;
    self.Ready();
    self.WaitTold();
    return 0;
  });
  ASSERT_TRUE(holder.WaitReady());
  auto mine = Handler(path);
  mine->OpenFile();
  EXPECT_FALSE(mine->LockRegion(kDataWriteLock, 1, true));
  EXPECT_FALSE(mine->LockRegion(2147483646 - 12, 1, true));  // a record lock inside the table lock
  EXPECT_TRUE(mine->LockRegion(2047483644 - 3, 1, true));     // a semaphore below it
  EXPECT_EQ(mine->GetSize(), 64);                              // the lock bytes are not data
  EXPECT_EQ(ReadText(*mine, 100), std::string(64, 'd'));
  EXPECT_EQ(RaisedNumber([&] { mine->CloseFile(); Handler(path)->DeleteFile(); }), 11013);
  holder.Kill(SIGKILL);
  EXPECT_EQ(holder.Wait(), 128 + SIGKILL);
  mine->OpenFile();
  EXPECT_TRUE(mine->LockRegion(kDataWriteLock, 1, true));
  EXPECT_TRUE(mine->LockRegion(kTableLock, kTableLockLength, true));
  EXPECT_FALSE(mine->LockRegion(kTableLock, kTableLockLength - 1, false));
}

TEST_F(DiskFiles, AnExclusiveOpenInOneProcessRefusesTheOther) {
  std::string path = dir_.File("t.DAT");
  testing::WriteFileBytes(path, "x");
  ChildProcess holder([&](ChildProcess& self) {
    auto file = Handler(path, false, true);
    file->OpenFile();
    self.Ready();
    self.WaitTold();
    return 0;
  });
  ASSERT_TRUE(holder.WaitReady());
  auto mine = Handler(path);
  std::string message;
  EXPECT_EQ(RaisedNumber([&] { mine->OpenFile(); }, &message), 11013);
  EXPECT_EQ(message, "KORVEX Engine Error # 11013 Access denied to table '" + path + "'");
  EXPECT_EQ(RaisedNumber([&] { mine->CreateFile(); }), 11013);
  EXPECT_EQ(testing::ReadFileBytes(path), "x");
  holder.Tell();
  EXPECT_EQ(holder.Wait(), 0);
  mine->OpenFile();
  EXPECT_TRUE(mine->IsOpen());
}

TEST_F(DiskFiles, TemporaryOpensDeleteTheFileAtTheLastClose) {
  std::string path = dir_.File("tmp.DAT");
  testing::WriteFileBytes(path, "x");
  auto file = Handler(path);
  file->SetTemporary(true);
  file->OpenFile();
  file->CloseFile();
  EXPECT_FALSE(std::filesystem::exists(path));
}

TEST_F(DiskFiles, RenameDeleteAndCopies) {
  auto a = Handler(dir_.File("a.DAT"));
  a->CreateFile();
  WriteText(*a, "table data");
  a->CopyFile(dir_.File("b.DAT"));
  EXPECT_EQ(testing::ReadFileBytes(dir_.File("b.DAT")), "table data");
  a->CloseFile();
  EXPECT_EQ(RaisedNumber([&] { a->RenameFile(dir_.File("b.DAT")); }), 11047);  // never replaces
  a->RenameFile(dir_.File("c.dat"));
  EXPECT_TRUE(std::filesystem::exists(dir_.File("c.DAT")));
  EXPECT_FALSE(std::filesystem::exists(dir_.File("a.DAT")));
  auto b = Handler(dir_.File("b.DAT"));
  b->OpenFile();
  WriteText(*b, " and a lot more than before");
  testing::WriteFileBytes(dir_.File("small.DAT"), "small");
  b->CopyFromFile(dir_.File("small.DAT"));
  EXPECT_EQ(testing::ReadFileBytes(dir_.File("b.DAT")), "small");
  b->CloseFile();
  b->DeleteFile();
  EXPECT_FALSE(std::filesystem::exists(dir_.File("b.DAT")));
  EXPECT_EQ(RaisedNumber([&] { b->DeleteFile(); }), 11010);
}

TEST_F(DiskFiles, ListsPlainFilesMatchingAMask) {
  testing::WriteFileBytes(dir_.File("a.DAT"), "");
  testing::WriteFileBytes(dir_.File("b.dat"), "");
  testing::WriteFileBytes(dir_.File("c.IDX"), "");
  testing::WriteFileBytes(dir_.File(".hidden.DAT"), "");
  std::filesystem::create_directory(dir_.File("d.DAT"));
  std::vector<std::string> names = {"stale"};
  FileList().GetFileNames(false, dir_.File("*.DAT"), names);
  EXPECT_EQ(names, (std::vector<std::string>{"a.DAT", "b.dat"}));
}

TEST_F(DiskFiles, TheRegistryAnswersNegatedEngineNumbers) {
  TFileList& files = FileList();
  TAbstractFile* file = nullptr;
  bool read_only = false;
  EXPECT_EQ(files.OpenFile(dir_.File("none.DAT"), false, file, read_only, false, false), -11010);
  EXPECT_EQ(file, nullptr);
  EXPECT_EQ(files.OpenFile("MEMORY/none.DAT", true, file, read_only, false, false), -11010);
  std::int32_t handle = files.CreateFile(dir_.File("t.DAT"), false, file, false);
  ASSERT_EQ(handle, 1);
  TAbstractFile* other = nullptr;
  EXPECT_EQ(files.OpenFile(dir_.File("T.dat"), false, other, read_only, false, false), -11013);
  EXPECT_EQ(files.CreateFile(dir_.File("t.DAT"), false, other, false), -11013);
  EXPECT_EQ(files.DeleteFile(dir_.File("t.DAT"), false), -11013);
  EXPECT_EQ(files.RenameFile(dir_.File("t.DAT"), false, dir_.File("u.DAT")), -11013);
  EXPECT_EQ(files.CloseFile(file, true, handle), -11010);  // not a memory file
  EXPECT_EQ(files.CloseFile(nullptr, false, handle), -11010);
  EXPECT_EQ(file->Read(99, nullptr, 1), -11014);  // no such handle
  EXPECT_EQ(files.CloseFile(file, false, handle), 0);
  EXPECT_EQ(files.CreateFile(std::string(256, 'x'), true, other, false), -11010);
}

TEST_F(DiskFiles, TooManyOpenFiles) {
  int code = testing::InChild([&] {
    // The sanitizer build checks object types through files of its own the
    // first time: let it do so before descriptors run short.
    {
      auto warm = Handler(dir_.File("warm.DAT"));
      warm->CreateFile();
      warm->CloseFile();
      RaisedNumber([&] { Handler(dir_.File("missing.DAT"))->OpenFile(); }, nullptr);
    }
    int highest = dup(0);
    close(highest);
    rlimit limit{static_cast<rlim_t>(highest + 2), static_cast<rlim_t>(highest + 2)};
    if (setrlimit(RLIMIT_NOFILE, &limit) != 0) return 2;
    std::vector<std::unique_ptr<TFileHandler>> open;
    for (int i = 0; i < 8; ++i) {
      open.push_back(Handler(dir_.File("f" + std::to_string(i) + ".DAT")));
      std::string message;
      int number = RaisedNumber([&] { open.back()->CreateFile(); }, &message);
      if (number == 11012)
        return message.find("Too many files open while attempting to open table") != std::string::npos ? 0 : 4;
      if (number != 0) return 5;
    }
    return 3;
  });
  EXPECT_EQ(code, 0);
}

TEST_F(DiskFiles, ThreadsShareTheRegistry) {
  std::string shared = dir_.File("shared.DAT");
  testing::WriteFileBytes(shared, std::string(100, 's'));
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&, t] {
      try {
        for (int round = 0; round < 50; ++round) {
          auto mine = Handler("MEMORY/thread" + std::to_string(t) + ".DAT", true);
          mine->CreateFile();
          WriteText(*mine, "round " + std::to_string(round));
          mine->CloseFile();
          mine->DeleteFile();
          auto file = Handler(shared);
          file->OpenFile();
          if (file->LockRegion(1000 + t, 1, true) && !file->LockRegion(1000 + t, 1, false)) ++failures;
          file->LockFileHandler();
          file->Seek(t * 10, 0);
          if (ReadText(*file, 10) != std::string(10, 's')) ++failures;
          file->UnlockFileHandler();
          file->CloseFile();
        }
      } catch (...) {
        ++failures;
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(failures.load(), 0);
}

TEST(Support, ObjectsNeedTheLibraryStarted) {
  int code = testing::InChild([] {
    ExitSupportFunctions();  // the child's copy of the run's start-up
    if (SupportFunctionsInitialized()) return 2;
    std::string message;
    if (RaisedNumber([] { FileList(); }, &message) != 10758) return 3;
    if (message != "KORVEX Engine Error # 10758 Engine not initialized") return 4;
    InitializeSupportFunctions();
    InitializeSupportFunctions();
    ExitSupportFunctions();  // nested: still running
    if (!SupportFunctionsInitialized()) return 5;
    FileList();
    return 0;
  });
  EXPECT_EQ(code, 0);
}

}  // namespace
}  // namespace korvex
