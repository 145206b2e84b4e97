#include "platform/runtime/filelock.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <random>
#include <vector>
#include <string>

#include "support/temp_dir.h"

namespace rtl {
namespace {

// The byte ranges the table engine locks, just below 2 GB.
constexpr std::int64_t kDataWriteLock = 0x7FFFFFFF;
constexpr std::int64_t kIndexWriteLock = 0x7FFF0000;
constexpr std::int64_t kIndexWriteLength = 65535;
constexpr std::int64_t kTableLock = 2047483645;
constexpr std::int64_t kTableLockLength = 100000001;

// A file in the scratch folder holding `contents`.
std::string FileWith(const qvtest::TempDir& dir, const std::string& name, const std::string& contents) {
  std::string path = dir.File(name);
  qvtest::WriteFileBytes(path, contents);
  return path;
}

// A forked child: it runs body, which may signal the parent once (ready)
// and then wait for the parent's word (told).
class Child {
public:
  explicit Child(std::function<int(Child&)> body) {
    if (pipe(up_) < 0 || pipe(down_) < 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      close(up_[0]);
      close(down_[1]);
      _exit(body(*this));
    }
    close(up_[1]);
    close(down_[0]);
  }
  ~Child() {
    if (pid_ > 0 && !done_) {
      kill(pid_, SIGKILL);
      Wait();
    }
    close(up_[0]);
    close(down_[1]);
  }
  void Ready() { (void)!write(up_[1], "r", 1); }
  void WaitTold() {
    char c;
    (void)!read(down_[0], &c, 1);
  }
  bool WaitReady() {
    char c;
    return read(up_[0], &c, 1) == 1;
  }
  void Tell() { (void)!write(down_[1], "t", 1); }
  void Kill() { kill(pid_, SIGKILL); }
  int Wait() {
    if (!done_) {
      waitpid(pid_, &status_, 0);
      done_ = true;
    }
    return WIFEXITED(status_) ? WEXITSTATUS(status_) : 128 + WTERMSIG(status_);
  }

private:
  pid_t pid_ = -1;
  int up_[2] = {-1, -1}, down_[2] = {-1, -1};
  bool done_ = false;
  int status_ = 0;
};

std::unique_ptr<TLockedFile> OpenOrFail(const std::string& path, FileShare share = FileShare::Shared,
                                        FileAccess access = FileAccess::ReadWrite) {
  std::unique_ptr<TLockedFile> file;
  EXPECT_EQ(TLockedFile::Open(path, access, share, file), 0) << path;
  return file;
}

// A child that opens the file, takes the ranges and holds them until told.
Child HoldingChild(const std::string& path, std::vector<std::pair<std::int64_t, std::int64_t>> ranges,
                   FileShare share = FileShare::Shared) {
  return Child([path, ranges, share](Child& self) {
    std::unique_ptr<TLockedFile> file;
    if (TLockedFile::Open(path, FileAccess::ReadWrite, share, file) != 0) return 2;
    for (auto [start, length] : ranges)
      if (!file->Lock(start, length)) return 3;
    self.Ready();
    self.WaitTold();
    return 0;
  });
}

TEST(FileLock, TwoHandlesInOneProcessConflictLikeWindows) {
  qvtest::TempDir dir;
  std::string path = FileWith(dir, "t.DAT", "data");
  auto a = OpenOrFail(path), b = OpenOrFail(path);
  EXPECT_TRUE(a->Lock(100, 10));
  EXPECT_FALSE(a->Lock(105, 1));   // the same handle: overlapping refused
  EXPECT_FALSE(b->Lock(105, 1));   // another handle of this process
  EXPECT_FALSE(b->Lock(95, 6));
  EXPECT_TRUE(b->Lock(110, 5));    // adjacent is fine
  EXPECT_FALSE(a->Unlock(100, 9)); // an unlock must name the held range exactly
  EXPECT_FALSE(b->Unlock(100, 10));
  EXPECT_TRUE(a->Unlock(100, 10));
  EXPECT_FALSE(a->Unlock(100, 10));
  EXPECT_TRUE(b->Lock(100, 10));
  // Part of a held range goes; the bytes either side stay held on their own.
  EXPECT_FALSE(b->UnlockPart(108, 4));   // reaches past the held range
  EXPECT_FALSE(a->UnlockPart(103, 2));   // not a's
  EXPECT_TRUE(b->UnlockPart(103, 2));
  EXPECT_TRUE(a->Lock(103, 2));          // free for anyone now
  EXPECT_FALSE(a->Lock(102, 1));
  EXPECT_FALSE(a->Lock(105, 1));
  EXPECT_FALSE(b->Unlock(100, 10));
  EXPECT_TRUE(b->Unlock(100, 3));
  EXPECT_TRUE(b->UnlockPart(105, 5));
  EXPECT_TRUE(a->Lock(100, 3));
  EXPECT_TRUE(a->Lock(105, 5));
}

TEST(FileLock, RefusesEmptyRangesAndTheShareBytes) {
  qvtest::TempDir dir;
  auto a = OpenOrFail(FileWith(dir, "t.DAT", "x"));
  EXPECT_FALSE(a->Lock(10, 0));
  EXPECT_FALSE(a->Lock(-1, 2));
  EXPECT_FALSE(a->Lock(kShareOpenByte - 1, 2));
  EXPECT_TRUE(a->Lock(kShareOpenByte - 1, 1));
}

TEST(FileLock, AHeldByteRefusesAnotherProcessUntilReleased) {
  qvtest::TempDir dir;
  std::string path = FileWith(dir, "t.DAT", "data");
  Child child = HoldingChild(path, {{kDataWriteLock, 1}, {kIndexWriteLock, kIndexWriteLength}});
  ASSERT_TRUE(child.WaitReady());
  auto mine = OpenOrFail(path);
  EXPECT_FALSE(mine->Lock(kDataWriteLock, 1));
  EXPECT_FALSE(mine->Lock(kDataWriteLock - 5, 1));  // inside the index write range
  EXPECT_TRUE(mine->Lock(kDataWriteLock - 65536, 1));
  child.Tell();
  EXPECT_EQ(child.Wait(), 0);
  EXPECT_TRUE(mine->Lock(kDataWriteLock, 1));
}

TEST(FileLock, AKilledHoldersLocksGoWithIt) {
  qvtest::TempDir dir;
  std::string path = FileWith(dir, "t.DAT", "data");
  Child child = HoldingChild(path, {{kTableLock, kTableLockLength}});
  ASSERT_TRUE(child.WaitReady());
  auto mine = OpenOrFail(path);
  EXPECT_FALSE(mine->Lock(2147483646 - 7, 1));  // a record lock inside the table lock
  child.Kill();
  EXPECT_EQ(child.Wait(), 128 + SIGKILL);
  EXPECT_TRUE(mine->Lock(2147483646 - 7, 1));
}

TEST(FileLock, LockBytesNeverTouchTheData) {
  qvtest::TempDir dir;
  std::string path = FileWith(dir, "t.DAT", std::string(100, 'd'));
  Child child = HoldingChild(path, {{kDataWriteLock, 1}, {kTableLock, kTableLockLength}, {2047483644 - 3, 1}});
  ASSERT_TRUE(child.WaitReady());
  auto mine = OpenOrFail(path);
  EXPECT_EQ(mine->Size(), 100);
  char buffer[10];
  EXPECT_EQ(mine->ReadAt(0, buffer, 10), 10);
  EXPECT_EQ(mine->WriteAt(50, "0123456789", 10), 10);
  child.Tell();
  EXPECT_EQ(child.Wait(), 0);
  EXPECT_EQ(std::filesystem::file_size(path), 100u);
  EXPECT_EQ(qvtest::ReadFileBytes(path).substr(50, 10), "0123456789");
}

TEST(FileLock, ExclusiveOpenShutsOutOtherProcessesAndHandles) {
  qvtest::TempDir dir;
  std::string path = FileWith(dir, "t.DAT", "precious");
  Child child = HoldingChild(path, {}, FileShare::Exclusive);
  ASSERT_TRUE(child.WaitReady());
  std::unique_ptr<TLockedFile> file;
  EXPECT_EQ(TLockedFile::Open(path, FileAccess::ReadWrite, FileShare::Shared, file), -EBUSY);
  EXPECT_EQ(TLockedFile::Open(path, FileAccess::Read, FileShare::Exclusive, file), -EBUSY);
  EXPECT_EQ(TLockedFile::Create(path, false, file), -EBUSY);
  EXPECT_EQ(DeleteLockedFile(path), -EBUSY);
  EXPECT_EQ(RenameLockedFile(path, dir.File("u.DAT")), -EBUSY);
  EXPECT_EQ(qvtest::ReadFileBytes(path), "precious");  // the refused create emptied nothing
  child.Tell();
  EXPECT_EQ(child.Wait(), 0);
  EXPECT_EQ(TLockedFile::Open(path, FileAccess::ReadWrite, FileShare::Exclusive, file), 0);
}

TEST(FileLock, SharedOpensRefuseAnExclusiveOneAndADelete) {
  qvtest::TempDir dir;
  std::string path = FileWith(dir, "t.DAT", "x");
  auto shared = OpenOrFail(path);
  auto second = OpenOrFail(path);  // shared opens mix
  std::unique_ptr<TLockedFile> file;
  EXPECT_EQ(TLockedFile::Open(path, FileAccess::ReadWrite, FileShare::Exclusive, file), -EBUSY);
  EXPECT_EQ(DeleteLockedFile(path), -EBUSY);
  shared.reset();
  second.reset();
  EXPECT_EQ(DeleteLockedFile(path), 0);
  EXPECT_FALSE(std::filesystem::exists(path));
}

TEST(FileLock, CreateEmptiesAnUnusedFileAndHoldsItExclusively) {
  qvtest::TempDir dir;
  std::string path = FileWith(dir, "t.DAT", "old contents");
  std::unique_ptr<TLockedFile> created, other;
  ASSERT_EQ(TLockedFile::Create(path, false, created), 0);
  EXPECT_EQ(created->Size(), 0);
  EXPECT_EQ(TLockedFile::Open(path, FileAccess::Read, FileShare::Shared, other), -EBUSY);
  EXPECT_EQ(TLockedFile::Create(path, true, other), -EEXIST);
  EXPECT_TRUE(created->Writable());
  EXPECT_NE(fcntl(created->Descriptor(), F_GETFD) & FD_CLOEXEC, 0);
}

TEST(FileLock, PositionedTransfersAndTruncation) {
  qvtest::TempDir dir;
  std::unique_ptr<TLockedFile> file;
  ASSERT_EQ(TLockedFile::Create(dir.File("t.DAT"), false, file), 0);
  EXPECT_EQ(file->WriteAt(10, "abc", 3), 3);
  EXPECT_EQ(file->Size(), 13);
  char buffer[20] = {};
  EXPECT_EQ(file->ReadAt(0, buffer, 20), 13);
  EXPECT_EQ(std::string(buffer, 13), std::string(10, '\0') + "abc");
  EXPECT_EQ(file->ReadAt(50, buffer, 5), 0);
  EXPECT_EQ(file->ReadAt(-1, buffer, 5), -EINVAL);
  EXPECT_EQ(file->Truncate(11), 0);
  EXPECT_EQ(file->Size(), 11);
  EXPECT_EQ(file->Sync(), 0);
  // Writeback started over the bytes, past the end, and refused for a
  // negative range.
  EXPECT_EQ(file->StartWriteback(0, 11), 0);
  EXPECT_EQ(file->StartWriteback(100, 4096), 0);
  EXPECT_EQ(file->StartWriteback(-1, 5), -EINVAL);
  // Gathering writes against the spans' bytes laid end to end: empty spans,
  // more spans than one system call takes, at a gap past the end.
  std::mt19937 rng(5);
  for (std::size_t spans : {0u, 1u, 7u, 1500u, 2100u}) {
    std::vector<std::string> parts;
    for (std::size_t i = 0; i < spans; ++i) parts.push_back(std::string(rng() % 4, static_cast<char>('a' + i % 26)));
    std::vector<TByteSpan> list;
    std::string whole;
    for (const std::string& part : parts) {
      list.push_back({part.data(), static_cast<std::int64_t>(part.size())});
      whole += part;
    }
    const std::int64_t at = file->Size() + 5;
    EXPECT_EQ(file->WriteAt(at, list), static_cast<std::int64_t>(whole.size())) << spans;
    std::string back(whole.size(), '?');
    EXPECT_EQ(file->ReadAt(at, back.data(), static_cast<std::int64_t>(back.size())),
              static_cast<std::int64_t>(whole.size()));
    EXPECT_EQ(back, whole) << spans;
  }
  EXPECT_EQ(file->WriteAt(-1, std::vector<TByteSpan>{{"x", 1}}), -EINVAL);
  // Status and ownership: the bits given, and again only what differs.
  TFileStatus status;
  ASSERT_EQ(file->Status(status), 0);
  EXPECT_EQ(status.Size, file->Size());
  for (unsigned mode : {0600u, 0640u, 0640u, 0604u}) {
    ASSERT_EQ(file->FollowOwnership(mode, status.Group, status), 0);
    EXPECT_EQ(status.Mode, mode);
    struct stat st {};
    ASSERT_EQ(stat(dir.File("t.DAT").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, mode);
  }
}

TEST(FileLock, MissingPathsAndDirectories) {
  qvtest::TempDir dir;
  std::unique_ptr<TLockedFile> file;
  EXPECT_EQ(TLockedFile::Open(dir.File("none.DAT"), FileAccess::Read, FileShare::Shared, file), -ENOENT);
  EXPECT_EQ(TLockedFile::Open(dir.File("no/such/t.DAT"), FileAccess::Read, FileShare::Shared, file), -ENOENT);
  EXPECT_EQ(TLockedFile::Create(dir.File("no/such/t.DAT"), false, file), -ENOENT);
  EXPECT_EQ(TLockedFile::Open(dir.Path(), FileAccess::Read, FileShare::Shared, file), -EISDIR);
  EXPECT_EQ(DeleteLockedFile(dir.File("none.DAT")), -ENOENT);
  EXPECT_EQ(RenameLockedFile(dir.File("none.DAT"), dir.File("b.DAT")), -ENOENT);
  EXPECT_EQ(file, nullptr);
}

TEST(FileLock, PermissionDenied) {
  // A file nobody may read, in a folder nobody may write to: that holds for
  // the user running the tests as well, and root, whom permissions do not
  // bind, runs the child as nobody.
  qvtest::TempDir dir;
  std::string locked_dir = dir.File("locked");
  mkdir(locked_dir.c_str(), 0755);
  std::string secret = FileWith(dir, "locked/secret.DAT", "s");
  chmod(secret.c_str(), 0);
  chmod(locked_dir.c_str(), 0555);
  Child child([&](Child&) {
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) return 2;
    std::unique_ptr<TLockedFile> file;
    if (TLockedFile::Open(secret, FileAccess::Read, FileShare::Shared, file) != -EACCES) return 3;
    if (TLockedFile::Create(locked_dir + "/new.DAT", false, file) != -EACCES) return 4;
    if (DeleteLockedFile(secret) != -EACCES) return 5;
    return 0;
  });
  EXPECT_EQ(child.Wait(), 0);
  chmod(locked_dir.c_str(), 0755);  // so that the scratch folder can go
  EXPECT_TRUE(std::filesystem::exists(secret));
}

TEST(FileLock, FullDiskGivesShortWritesAndErrors) {
  std::unique_ptr<TLockedFile> full;
  if (TLockedFile::Open("/dev/full", FileAccess::ReadWrite, FileShare::Shared, full) == 0) {
    EXPECT_EQ(full->WriteAt(0, "abc", 3), -ENOSPC);
  }
  qvtest::TempDir dir;
  std::string path = dir.File("t.DAT");
  Child child([&](Child&) {
    signal(SIGXFSZ, SIG_IGN);
    rlimit limit{1000, 1000};
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) return 2;
    std::unique_ptr<TLockedFile> file;
    if (TLockedFile::Create(path, false, file) != 0) return 3;
    std::string data(2000, 'x');
    if (file->WriteAt(0, data.data(), 2000) != 1000) return 4;  // short: the disk "filled"
    if (file->WriteAt(1000, data.data(), 10) != -EFBIG) return 5;
    // Gathered: short at the limit, within a span and between spans.
    if (file->WriteAt(900, {{data.data(), 50}, {data.data(), 80}}) != 100) return 6;
    if (file->WriteAt(940, {{data.data(), 60}, {data.data(), 80}}) != 60) return 7;
    if (file->WriteAt(1000, {{data.data(), 1}}) != -EFBIG) return 8;
    return 0;
  });
  EXPECT_EQ(child.Wait(), 0);
}

TEST(FileLock, ReadOnlyDescriptorsTakeSharedLocks) {
  qvtest::TempDir dir;
  std::string path = FileWith(dir, "t.DAT", "x");
  auto reader1 = OpenOrFail(path, FileShare::Shared, FileAccess::Read);
  auto reader2 = OpenOrFail(path, FileShare::Shared, FileAccess::Read);
  auto writer = OpenOrFail(path);
  EXPECT_FALSE(reader1->Writable());
  EXPECT_TRUE(reader1->Lock(500, 1));
  EXPECT_FALSE(reader1->Lock(500, 1));  // still exclusive within the file
  EXPECT_TRUE(reader2->Lock(500, 1));   // shared with another reader
  EXPECT_FALSE(writer->Lock(500, 1));   // but never with a writer
}

TEST(FileLock, RenameNeverReplacesAndDeleteOnClose) {
  qvtest::TempDir dir;
  std::string a = FileWith(dir, "a.DAT", "a"), b = FileWith(dir, "b.DAT", "b");
  EXPECT_EQ(RenameLockedFile(a, b), -EEXIST);
  EXPECT_EQ(qvtest::ReadFileBytes(b), "b");
  EXPECT_EQ(RenameLockedFile(a, dir.File("c.DAT")), 0);
  EXPECT_EQ(qvtest::ReadFileBytes(dir.File("c.DAT")), "a");
  {
    auto temp = OpenOrFail(b);
    temp->SetDeleteOnClose(true);
  }
  EXPECT_FALSE(std::filesystem::exists(b));
}

TEST(FileLock, RenameAcrossFileSystemsCopiesAndDeletes) {
  qvtest::TempDir dir;
  struct stat here {}, there {};
  if (stat(dir.Path().c_str(), &here) != 0 || stat("/dev/shm", &there) != 0 || here.st_dev == there.st_dev ||
      access("/dev/shm", W_OK) != 0)
    GTEST_SKIP() << "no second file system to rename across";
  std::string source = FileWith(dir, "a.DAT", "moved across");
  chmod(source.c_str(), 0640);
  std::string target = "/dev/shm/qv-filelock-" + std::to_string(getpid()) + ".DAT";
  ASSERT_EQ(RenameLockedFile(source, target), 0);
  EXPECT_FALSE(std::filesystem::exists(source));
  EXPECT_EQ(qvtest::ReadFileBytes(target), "moved across");
  struct stat st {};
  stat(target.c_str(), &st);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  ::unlink(target.c_str());
}

TEST(FileLock, FindsNamesIgnoringCase) {
  qvtest::TempDir dir;
  std::string real = FileWith(dir, "Fams.DAT", "x");
  EXPECT_EQ(FindFileIgnoringCase(real), real);
  EXPECT_EQ(FindFileIgnoringCase(dir.File("FAMS.dat")), real);
  EXPECT_EQ(FindFileIgnoringCase(dir.File("inds.DAT")), "");
  EXPECT_EQ(FindFileIgnoringCase(""), "");
  bool read_only = true;
  EXPECT_EQ(IsFileReadOnly(real, read_only), 0);
  EXPECT_FALSE(read_only);
  chmod(real.c_str(), 0444);
  EXPECT_EQ(IsFileReadOnly(real, read_only), 0);
  EXPECT_TRUE(read_only);
  EXPECT_EQ(IsFileReadOnly(dir.File("none"), read_only), -ENOENT);
}

}  // namespace
}  // namespace rtl
