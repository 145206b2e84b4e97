// Saving over files the user may not write, keeping modes, owners and hard
// links, long names; reads that refuse pipes, devices and folders at once
// and raise on a failing read; paths as text.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>

#include "platform/runtime/exceptions.h"
#include "platform/runtime/files.h"
#include "platform/runtime/inifiles.h"
#include "platform/runtime/os_files.h"
#include "platform/runtime/streams.h"
#include "platform/runtime/strings.h"
#include "runtime_test_util.h"

namespace rtl {
namespace {

constexpr uid_t kNobody = 65534;

// Runs body in a child that has dropped root's rights (user and group
// "nobody"); its exit status, 98 when it died.
int AsNobody(const std::function<int()>& body) {
  const pid_t pid = fork();
  if (pid == 0) {
    if (setgid(kNobody) != 0 || setuid(kNobody) != 0) _exit(99);
    _exit(body());
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 98;
}

struct stat StatOf(const std::string& path) {
  struct stat st {};
  stat(path.c_str(), &st);
  return st;
}

// The message of what fn raised ("" when nothing was raised).
template <class E>
std::string Raised(const std::function<void()>& fn) {
  try {
    fn();
  } catch (const E& e) {
    return e.Message().empty() ? "(empty)" : e.Message();
  }
  return "";
}

TEST(SafeSave, AnUnprivilegedUserCannotReplaceWhatSheMayNotWrite) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to make files of other users and to drop to nobody";
  TempDir dir;
  const std::string home = dir / "home";
  mkdir(home.c_str(), 0755);
  chown(home.c_str(), kNobody, kNobody);
  struct Case {
    const char* name;
    uid_t owner;
    mode_t mode;
    bool ini;
  };
  const Case cases[] = {
      {"page.txt", kNobody, 0444, false},     // her own read-only page
      {"Quorvane.INI", kNobody, 0444, true},  // her own read-only settings
      {"root.txt", 0, 0644, false},           // root's file in her folder
      {"root.INI", 0, 0644, true},
  };
  const std::string old_bytes = "[Directories]\r\nSearch=/old\r\n";
  for (const Case& c : cases) {
    const std::string path = home + "/" + c.name;
    WriteFileBytes(path, old_bytes);
    chown(path.c_str(), c.owner, c.owner);
    chmod(path.c_str(), c.mode);
  }
  const int status = AsNobody([&] {
    int failures = 0;
    for (const Case& c : cases) {
      const std::string path = home + "/" + c.name;
      std::string message;
      if (c.ini)
        message = Raised<EIniFileException>([&] { TIniFile(path).WriteString("Directories", "Search", "/new"); });
      else
        message = Raised<EFCreateError>([&] { SaveFileSafely(path, "new text"); });
      if (message.find("the file is read-only") == std::string::npos) {
        fprintf(stderr, "%s: %s\n", c.name, message.c_str());
        ++failures;
      }
    }
    // A 250-byte name in her folder saves, and no temporary file stays.
    const std::string long_name = home + "/" + std::string(246, 'n') + ".txt";
    SaveFileSafely(long_name, "one");
    SaveFileSafely(long_name, "two");
    if (ReadFileBytes(long_name) != "two") ++failures;
    return failures;
  });
  EXPECT_EQ(status, 0);
  for (const Case& c : cases) {
    const std::string path = home + "/" + c.name;
    EXPECT_EQ(ReadFileBytes(path), old_bytes) << c.name;
    EXPECT_EQ(StatOf(path).st_uid, c.owner) << c.name;
    EXPECT_EQ(StatOf(path).st_mode & 07777, c.mode) << c.name;
  }
  EXPECT_EQ(FindFiles(home, "*").size(), std::size(cases) + 1);  // the long name, no leftovers
}

TEST(SafeSave, ModeOwnerAndHardLinksAreKept) {
  TempDir dir;
  const std::string page = dir / "page.txt";
  const std::string other = dir / "other name.txt";
  WriteFileBytes(page, "old");
  chmod(page.c_str(), 0640);
  const bool root = geteuid() == 0;
  if (root) chown(page.c_str(), kNobody, kNobody);
  SaveFileSafely(page, "new");
  EXPECT_EQ(ReadFileBytes(page), "new");
  EXPECT_EQ(StatOf(page).st_mode & 07777, 0640u);
  if (root) {
    EXPECT_EQ(StatOf(page).st_uid, kNobody);
  }

  // Two names of one file: both see the new text, and stay one file.
  ASSERT_EQ(link(page.c_str(), other.c_str()), 0);
  const ino_t inode = StatOf(page).st_ino;
  SaveFileSafely(other, "newer text");
  EXPECT_EQ(ReadFileBytes(page), "newer text");
  EXPECT_EQ(StatOf(other).st_ino, inode);
  EXPECT_EQ(StatOf(page).st_nlink, 2u);
  EXPECT_EQ(StatOf(page).st_mode & 07777, 0640u);

  // In place on a full disk: the old bytes come back and no backup stays.
  {
    FileSizeLimit limit(64);
    EXPECT_NE(Raised<EWriteError>([&] { SaveFileSafely(page, std::string(1000, 'x')); }), "");
  }
  EXPECT_EQ(ReadFileBytes(other), "newer text");
  EXPECT_EQ(FindFiles(dir.Path(), "*").size(), 2u);

  // A folder or a pipe is never replaced.
  mkfifo((dir / "fifo").c_str(), 0644);
  EXPECT_EQ(Raised<EFCreateError>([&] { SaveFileSafely(dir.Path(), "x"); }),
            "Cannot save \"" + dir.Path() + "\": it is a folder");
  EXPECT_EQ(Raised<EFCreateError>([&] { SaveFileSafely(dir / "fifo", "x"); }),
            "Cannot save \"" + (dir / "fifo") + "\": it is not a file");
}

TEST(SafeRead, PipesDevicesAndFoldersFailAtOnce) {
  TempDir dir;
  const std::string fifo = dir / "page.txt";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
  WriteFileBytes(dir / "ok.txt", "text");
  const struct {
    std::string path, reason;
  } cases[] = {{fifo, "\"" + fifo + "\" is not a file"},
               {"/dev/zero", "\"/dev/zero\" is not a file"},
               {dir.Path(), "Is a directory"}};
  const auto start = std::chrono::steady_clock::now();
  alarm(10);  // a read that blocks ends the test run instead of hanging it
  for (const auto& c : cases) {
    const std::string expected = "Cannot open file \"" + c.path + "\". " + c.reason;
    EXPECT_EQ(Raised<EFOpenError>([&] { TFileStream(c.path, fmOpenRead); }), expected);
    EXPECT_EQ(Raised<EFOpenError>([&] { LoadFileToString(c.path); }), expected);
    EXPECT_EQ(Raised<EFOpenError>([&] { TStringList().LoadFromFile(c.path); }), expected);
    // Settings read there give the default; writing them is refused.
    EXPECT_EQ(TIniFile(c.path).ReadString("Directories", "Search", "Empty"), "Empty");
    EXPECT_NE(Raised<EIniFileException>([&] { TIniFile(c.path).WriteString("Directories", "Search", "x"); }), "");
  }
  alarm(0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  EXPECT_EQ(LoadFileToString(dir / "ok.txt"), "text");
}

TEST(SafeRead, AFailingReadRaisesAndTheFileIsNotWrittenBack) {
  TempDir dir;
  const std::string ini = dir / "Quorvane.INI";
  std::string big = "[Directories]\r\nSearch=/old\r\n";
  for (int i = 0; i < 20000; ++i) big += "Key" + std::to_string(i) + "=value\r\n";
  WriteFileBytes(ini, big);
  const struct {
    int skip;  // reads that succeed first
    const char* what;
  } cases[] = {{0, "first read"}, {1, "halfway"}};
  for (const auto& c : cases) {
    os::FailReads(c.skip, 1, EIO);
    EXPECT_NE(Raised<EIniFileException>([&] { TIniFile(ini).WriteString("Directories", "Search", "/new"); }), "")
        << c.what;
    os::FailReads(c.skip, 1, EIO);
    EXPECT_EQ(Raised<EReadError>([&] { LoadFileToString(ini); }),
              "Cannot read file \"" + ini + "\". Input/output error")
        << c.what;
    os::FailReads(0, 0, 0);
    EXPECT_EQ(ReadFileBytes(ini), big) << c.what;
  }
  TIniFile(ini).WriteString("Directories", "Search", "/new");
  EXPECT_EQ(TIniFile(ini).ReadString("Directories", "Search", ""), "/new");
}

TEST(Paths, BytesAndTextAndTheSettingsRoundTrip) {
  const struct {
    std::string path, text;
  } cases[] = {
      {"/home/a/G\xC3\xA9n\xC3\xA9" "alogie", "/home/a/G\xE9n\xE9" "alogie"},
      {"M\xC3\xBCller.txt", "M\xFCller.txt"},
      {"\xE6\x97\xA5\xE6\x9C\xAC.txt", "??.txt"},  // no such letters in Windows-1252
      {"bad\xFF.txt", "bad?.txt"},                  // no UTF-8 at all
      {"\xE2\x82\xAC", "\x80"},                     // the euro sign
  };
  TempDir dir;
  const std::string ini = dir / "Quorvane.INI";
  for (const auto& c : cases) {
    EXPECT_EQ(PathToText(c.path), c.text);
    if (c.text.find('?') == std::string::npos) {
      EXPECT_EQ(TextToPath(c.text), c.path);
    }
    // A folder name in the settings comes back byte for byte.
    TIniFile(ini).WriteString("Directories", "Search", c.path);
    EXPECT_EQ(TIniFile(ini).ReadString("Directories", "Search", ""), c.path);
    // And a file of that name can be written and read.
    const std::string file = dir / ("f-" + std::string(ExtractFileName(c.path)));
    SaveFileSafely(file, c.path);
    EXPECT_EQ(LoadFileToString(file), c.path);
    // Messages are text: the name shows as the user knows it.
    EXPECT_EQ(Raised<EFOpenError>([&] { LoadFileToString(file + "-gone"); }),
              "Cannot open file \"" + dir.Path() + "/f-" + PathToText(ExtractFileName(c.path)) +
                  "-gone\". No such file or directory");
  }
}

}  // namespace
}  // namespace rtl
