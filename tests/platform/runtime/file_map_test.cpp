// File maps: the bytes of the file, zeros instead of a bus error when
// another program cuts the file short, every other SIGBUS as before, and
// no map while reads are set to fail.
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/runtime/os_files.h"
#include "runtime_test_util.h"
#include "support/sanitizer.h"

namespace rtl {
namespace {

std::string Pattern(size_t size, unsigned seed) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>('a' + (i * 7 + seed + i / 4096) % 26);
  return bytes;
}

struct MappedFile {
  int fd = -1;
  const char* map = nullptr;
  size_t size = 0;
  MappedFile(const std::string& path, size_t n) : size(n) {
    os::FileInfo info;
    fd = os::OpenRegularForRead(path, info);
    if (fd >= 0) map = os::MapFile(fd, n);
  }
  ~MappedFile() {
    os::UnmapFile(map, size);
    if (fd >= 0) ::close(fd);
  }
};

// How a child process ended: its signal, or 0 after a normal exit.
int ChildSignal(pid_t pid) {
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFSIGNALED(status) ? WTERMSIG(status) : 0;
}

TEST(FileMap, HoldsTheFileAndReadsZerosWhereAnotherProgramCutItShort) {
  TempDir dir;
  // Sizes around page edges: the guard must replace exactly the lost pages.
  for (const size_t size : {size_t{1}, size_t{4095}, size_t{4096}, size_t{4097}, size_t{3 * 4096 + 17}, size_t{1} << 20}) {
    for (const size_t cut_to : {size_t{0}, size / 2, size - 1}) {
      SCOPED_TRACE(std::to_string(size) + " cut to " + std::to_string(cut_to));
      const std::string path = dir.Path() + "/f.txt";
      const std::string bytes = Pattern(size, static_cast<unsigned>(cut_to));
      WriteFileBytes(path, bytes);
      MappedFile file(path, size);
      ASSERT_NE(file.map, nullptr);
      ASSERT_EQ(std::string(file.map, size), bytes);
      EXPECT_FALSE(os::FileMapLostPages(file.map));
      ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(cut_to)), 0);
      // Every byte can still be read: those on pages the file kept are the
      // file's, the rest (whole pages past the new end) are zeros.
      const size_t kept_pages_end = (cut_to + 4095) / 4096 * 4096;
      size_t zeros = 0;
      for (size_t i = 0; i < size; ++i) {
        const char c = file.map[i];
        if (i < cut_to) {
          ASSERT_EQ(c, bytes[i]) << i;
        }
        if (i >= kept_pages_end) {
          ASSERT_EQ(c, '\0') << i;
        }
        zeros += c == '\0';
      }
      EXPECT_EQ(os::FileMapLostPages(file.map), kept_pages_end < size);
      EXPECT_GE(zeros, size - std::min(size, kept_pages_end));
    }
  }
}

TEST(FileMap, OtherBusErrorsStillEndTheProcess) {
  if (qvtest::kSanitizerBuild)
    GTEST_SKIP() << "AddressSanitizer takes SIGBUS itself: it reports the fault and exits with a status, so no child ends by the signal";
  TempDir dir;
  const std::string guarded = dir.Path() + "/guarded.txt", plain = dir.Path() + "/plain.txt";
  WriteFileBytes(guarded, Pattern(8192, 1));
  WriteFileBytes(plain, Pattern(8192, 2));
  // A map made around the guard: its lost pages are no business of it.
  pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    MappedFile file(guarded, 8192);
    const int fd = ::open(plain.c_str(), O_RDONLY);
    auto* other = static_cast<volatile const char*>(::mmap(nullptr, 8192, PROT_READ, MAP_PRIVATE, fd, 0));
    if (file.map == nullptr || other == MAP_FAILED || ::truncate(plain.c_str(), 0) != 0) ::_exit(3);
    (void)other[4096];
    ::_exit(0);
  }
  EXPECT_EQ(ChildSignal(pid), SIGBUS);
  // A SIGBUS sent by a process.
  pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    MappedFile file(guarded, 8192);
    if (file.map == nullptr) ::_exit(3);
    ::kill(::getpid(), SIGBUS);
    ::_exit(0);
  }
  EXPECT_EQ(ChildSignal(pid), SIGBUS);
  // A handler that was there first still gets the faults that are not ours.
  pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    ::signal(SIGBUS, [](int) { ::_exit(42); });
    MappedFile file(guarded, 8192);
    if (file.map == nullptr) ::_exit(3);
    ::kill(::getpid(), SIGBUS);
    ::_exit(0);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 42) << status;
}

TEST(FileMap, NothingIsMappedWhileReadsAreSetToFail) {
  TempDir dir;
  const std::string path = dir.Path() + "/f.txt";
  WriteFileBytes(path, Pattern(10000, 3));
  os::FailReads(0, 1, EIO);
  {
    MappedFile file(path, 10000);
    EXPECT_EQ(file.map, nullptr);
  }
  char byte;
  os::FileInfo info;
  const int fd = os::OpenRegularForRead(path, info);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(os::ReadSome(fd, &byte, 1), -EIO);  // the failure is left to the read
  ::close(fd);
  os::FailReads(0, 0, 0);
  MappedFile file(path, 10000);
  EXPECT_NE(file.map, nullptr);
}

}  // namespace
}  // namespace rtl
