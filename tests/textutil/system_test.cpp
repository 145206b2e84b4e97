#include "textutil/system.h"

#include "platform/runtime/os_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <utime.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/runtime/format_settings.h"
#include "platform/runtime/os_places.h"
#include "platform/runtime/os_session.h"
#include "support/run_command.h"
#include "support/temp_dir.h"
#include "tests/textutil/syshelp.h"
#include "tests/textutil/textutil_fixture.h"
#include "textutil/gui_hooks.h"
#include "textutil/process.h"
#include "textutil/state.h"

// The helpers shared by the system, process and channel tests.
namespace textutil::syshelp {

std::set<int> OpenDescriptors() {
  std::set<int> fds;
  DIR* dir = opendir("/proc/self/fd");
  if (dir == nullptr) return fds;
  int own = dirfd(dir);
  while (struct dirent* entry = readdir(dir)) {
    if (entry->d_name[0] == '.') continue;
    int fd = std::atoi(entry->d_name);
    if (fd != own) fds.insert(fd);
  }
  closedir(dir);
  return fds;
}

int RunInChild(const std::function<int()>& body) {
  std::fflush(nullptr);
  pid_t pid = fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    int code = 99;
    try {
      code = body();
    } catch (...) {
      code = 98;
    }
    _exit(code);
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

bool WaitUntil(const std::function<bool()>& done, int timeout_ms) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

namespace {
// The environment as the test program found it.
struct SavedVariable {
  const char* name;
  bool was_set;
  std::string value;
};
std::vector<SavedVariable>& SavedFolders() {
  static std::vector<SavedVariable> saved = [] {
    std::vector<SavedVariable> list;
    for (const char* name : {"XDG_RUNTIME_DIR", "XDG_CONFIG_HOME", "TMPDIR", "HOME"}) {
      const char* value = std::getenv(name);
      list.push_back({name, value != nullptr, value != nullptr ? value : ""});
    }
    return list;
  }();
  return saved;
}
}  // namespace

void RestoreFolders() {
  for (const SavedVariable& v : SavedFolders()) {
    if (v.was_set) {
      setenv(v.name, v.value.c_str(), 1);
    } else {
      unsetenv(v.name);
    }
  }
}

void UsePrivateFolders(const std::string& root) {
  SavedFolders();
  std::filesystem::create_directories(root + "/run");
  std::filesystem::create_directories(root + "/config");
  chmod((root + "/run").c_str(), 0700);
  setenv("XDG_RUNTIME_DIR", (root + "/run").c_str(), 1);
  setenv("XDG_CONFIG_HOME", (root + "/config").c_str(), 1);
}

Holder StartHolder(const std::function<bool()>& body) {
  Holder holder;
  int ready[2], release[2];
  if (pipe2(ready, O_CLOEXEC) != 0) return holder;
  if (pipe2(release, O_CLOEXEC) != 0) {
    close(ready[0]);
    close(ready[1]);
    return holder;
  }
  std::fflush(nullptr);
  holder.pid = fork();
  if (holder.pid == 0) {
    close(ready[0]);
    close(release[1]);
    char c = body() ? 'y' : 'n';
    (void)!write(ready[1], &c, 1);
    (void)!read(release[0], &c, 1);  // until the test lets go
    _exit(0);
  }
  close(ready[1]);
  close(release[0]);
  char c = 0;
  holder.answer = holder.pid > 0 && read(ready[0], &c, 1) == 1 && c == 'y';
  close(ready[0]);
  holder.release = release[1];
  return holder;
}

void ReleaseHolder(Holder& holder) {
  if (holder.release >= 0) close(holder.release);
  holder.release = -1;
  if (holder.pid > 0) waitpid(holder.pid, nullptr, 0);
  holder.pid = -1;
}

std::string Shell(const std::string& command) {
  std::string out = qvtest::RunShell(command).output;
  while (!out.empty() && out.back() == '\n') out.pop_back();
  return out;
}

}  // namespace textutil::syshelp

namespace textutil {
namespace {

using namespace syshelp;

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}

// Every test runs with its own runtime and configuration folders and checks
// that it leaves no descriptor open.
class SystemTest : public PrivateFoldersTest {
protected:
  void SetUp() override {
    PrivateFoldersTest::SetUp();
    std::filesystem::create_directories(root_ + "/config/quorvane");
  }
  void TearDown() override {
    PrivateFoldersTest::TearDown();
    SetGuiHooks(GuiHooks());
  }
  void WriteStore(const std::string& text) { WriteFile(root_ + "/config/quorvane/registry.ini", text); }
};

// ---- the registry store ----

const char* kStore =
    "; the registry as this user's programs see it\n"
    "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\VxD\\VNETSUP]\n"
    "Workgroup=PARISH\n"
    "Comment=\"  St Mary  \"\n"
    "Count=dword:0000002a\n"
    "Big=dword:ffffffff\n"
    "Stamp=hex:41,00,42\n"
    "Broken=dword:12zz\n"
    "BadHex=hex:1,,2\n"
    "[HKLM\\Software\\Quorvane\\Paths]\n"
    "@=default text\n"
    "[HKEY_LOCAL_MACHINE\\software\\quorvane\\Fonts\\Deep]\n"
    "Size=dword:c\n"
    "[HKEY_LOCAL_MACHINE\\Software\\Quorvane\\Printers]\n"
    "[HKEY_CLASSES_ROOT\\.txt]\n"
    "@=txtfile\n"
    "[HKEY_CLASSES_ROOT\\txtfile]\n"
    "@=Text Document\n"
    "[HKEY_CLASSES_ROOT\\.lnk]\n"
    "@=missingtype\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion]\n"
    "FirstInstallDateTime=hex:af,6d,6f,26\n";

TEST_F(SystemTest, GetKeyValuesReadsEachKindOfValue) {
  WriteStore(kStore);
  const std::string key = "System\\CurrentControlSet\\Services\\VxD\\VNETSUP";
  EXPECT_EQ("PARISH", GetKeyValues(kHKeyLocalMachine, key, "Workgroup"));
  EXPECT_EQ("  St Mary  ", GetKeyValues(kHKeyLocalMachine, key, "Comment"));
  EXPECT_EQ("42", GetKeyValues(kHKeyLocalMachine, key, "Count"));
  EXPECT_EQ("4294967295", GetKeyValues(kHKeyLocalMachine, key, "Big"));
  EXPECT_EQ(std::string("A\0B", 3), GetKeyValues(kHKeyLocalMachine, key, "Stamp"));
  // Missing and unreadable values answer "?".
  EXPECT_EQ("?", GetKeyValues(kHKeyLocalMachine, key, "Nothing"));
  EXPECT_EQ("?", GetKeyValues(kHKeyLocalMachine, key, "Broken"));
  EXPECT_EQ("?", GetKeyValues(kHKeyLocalMachine, key, "BadHex"));
  // Several names are joined by the Delimiter character; paths and names
  // ignore case.
  EXPECT_EQ("PARISH,42,?", GetKeyValues(kHKeyLocalMachine, "\\system\\currentcontrolset\\services\\vxd\\vnetsup\\",
                                        "workgroup,COUNT,none"));
  ASSERT_TRUE(SetDelimiter(';'));
  EXPECT_EQ("PARISH;42", GetKeyValues(kHKeyLocalMachine, key, "Workgroup,Count"));
  // The default value: an empty name.
  EXPECT_EQ("default text", GetKeyValues(kHKeyLocalMachine, "Software\\Quorvane\\Paths", ""));
}

TEST_F(SystemTest, GetKeyValuesAnswersErrorForKeysThatDoNotExist) {
  EXPECT_EQ("!ERROR", GetKeyValues(kHKeyLocalMachine, "Software\\Quorvane", "x"));  // no store at all
  WriteStore(kStore);
  EXPECT_EQ("!ERROR", GetKeyValues(kHKeyLocalMachine, "Software\\Nobody", "x"));
  EXPECT_EQ("!ERROR", GetKeyValues(kHKeyCurrentUser, "Software\\Quorvane\\Paths", ""));
  EXPECT_EQ("!ERROR", GetKeyValues(0x12345678u, "Software", "?"));
  // A key with only keys below it exists.
  EXPECT_EQ("?", GetKeyValues(kHKeyLocalMachine, "Software\\Quorvane\\Fonts", "Size"));
}

TEST_F(SystemTest, GetKeyValuesListsSubkeysOnceInFileOrder) {
  WriteStore(kStore);
  EXPECT_EQ("Paths,Fonts,Printers", GetKeyValues(kHKeyLocalMachine, "Software\\Quorvane", "?"));
  EXPECT_EQ("Deep", GetKeyValues(kHKeyLocalMachine, "Software\\Quorvane\\Fonts", "?"));
  EXPECT_EQ("", GetKeyValues(kHKeyLocalMachine, "Software\\Quorvane\\Printers", "?"));
  EXPECT_EQ((std::vector<std::string>{"System", "Software"}), GetSubkeyList(kHKeyLocalMachine, ""));
  EXPECT_TRUE(GetSubkeyList(kHKeyLocalMachine, "Nowhere").empty());
}

TEST_F(SystemTest, ValueListsAndSingleValues) {
  WriteStore(kStore);
  std::string text;
  EXPECT_TRUE(GetKeyValue(kHKeyClassesRoot, ".txt", "@", text));
  EXPECT_EQ("txtfile", text);
  EXPECT_FALSE(GetKeyValue(kHKeyClassesRoot, ".txt", "Other", text));
  EXPECT_EQ((std::vector<std::string>{"default text"}),
            GetValueList(kHKeyLocalMachine, "Software\\Quorvane\\Paths"));
  // Unreadable values are left out.
  EXPECT_EQ(5u, GetValueList(kHKeyLocalMachine, "System\\CurrentControlSet\\Services\\VxD\\VNETSUP").size());
}

TEST_F(SystemTest, DomainAndDocumentTypesComeFromTheStore) {
  EXPECT_EQ("!ERROR", GetDomain());
  EXPECT_EQ("", GetDocType(".txt"));
  WriteStore(kStore);
  EXPECT_EQ("PARISH", GetDomain());
  EXPECT_EQ("Text Document", GetDocType(".txt"));
  EXPECT_EQ("Text Document", GetDocType(".TXT"));
  EXPECT_EQ("", GetDocType(".lnk"));  // names a type key that is missing
  EXPECT_EQ("", GetDocType(".doc"));
  EXPECT_EQ("", GetDocType(""));
}

TEST_F(SystemTest, InstallDateIsTheStoredDosDateTime) {
  EXPECT_EQ("", WinstallDate());
  // 15 March 2001 13:45:30 as a DOS date-time, little-endian.
  unsigned date = (21u << 9) | (3u << 5) | 15u, time = (13u << 11) | (45u << 5) | 15u;
  std::uint32_t stamp = date << 16 | time;
  char hex[64];
  std::snprintf(hex, sizeof hex, "hex:%02x,%02x,%02x,%02x", stamp & 0xFF, (stamp >> 8) & 0xFF,
                (stamp >> 16) & 0xFF, stamp >> 24);
  const std::string key = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion]\n";
  WriteStore(key + "FirstInstallDateTime=" + hex + "\n");
  EXPECT_EQ("3/15/2001 13:45:30", WinstallDate());
  // Month 13 is no date; three bytes are not a date-time; a number is text.
  WriteStore(key + "FirstInstallDateTime=hex:00,00,af,27\n");
  EXPECT_EQ("", WinstallDate());
  WriteStore(key + "FirstInstallDateTime=hex:00,00,6f\n");
  EXPECT_EQ("", WinstallDate());
  WriteStore(key + "FirstInstallDateTime=dword:266f6daf\n");
  EXPECT_EQ("", WinstallDate());
}

// ---- user and machine ----

TEST_F(SystemTest, UserAndMachineMatchThePythonView) {
  EXPECT_EQ(Shell("python3 -c 'import os,pwd; print(pwd.getpwuid(os.geteuid()).pw_name)'"), GetUser());
  EXPECT_EQ(GetUser(), GetNetUser());
  EXPECT_EQ(Shell("python3 -c 'import os; print(os.uname().nodename)'"), GetComputer());
  std::string machine = Shell("uname -m");
  std::string cpu = GetCPU();
  if (machine == "x86_64" || machine == "i686" || machine == "i586") {
    EXPECT_EQ("80586", cpu);
  } else {
    EXPECT_EQ(machine, cpu);
  }
  EXPECT_FALSE(IsWinNT());
}

TEST_F(SystemTest, NetworkAnswersAreConsistent) {
  std::string ip = GetLocalIP();
  if (!IsNetWork()) {
    EXPECT_EQ("", ip);
  } else if (!ip.empty()) {
    unsigned a, b, c, d;
    char tail;
    EXPECT_EQ(4, std::sscanf(ip.c_str(), "%u.%u.%u.%u%c", &a, &b, &c, &d, &tail)) << ip;
    EXPECT_TRUE(a < 256 && b < 256 && c < 256 && d < 256) << ip;
    EXPECT_NE(127u, a) << "the loopback is no network";
  }
  std::string nic = GetNICAddr();
  if (!nic.empty()) {
    unsigned v[6];
    ASSERT_EQ(6, std::sscanf(nic.c_str(), "%u.%u.%u.%u.%u.%u", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5]));
    char mac[32];
    std::snprintf(mac, sizeof mac, "%02x:%02x:%02x:%02x:%02x:%02x", v[0], v[1], v[2], v[3], v[4], v[5]);
    EXPECT_FALSE(Shell(std::string("grep -l '") + mac + "' /sys/class/net/*/address").empty()) << nic;
  }
}

TEST_F(SystemTest, MemoryStatusMatchesTheKernelTotals) {
  int total, load, swap, swap_used;
  GetMemStatus(total, load, swap, swap_used);
  EXPECT_EQ(Shell("python3 -c \"print([l.split()[1] for l in open('/proc/meminfo') if l.startswith('MemTotal:')][0])\""),
            std::to_string(total));
  EXPECT_EQ(Shell("python3 -c \"print([l.split()[1] for l in open('/proc/meminfo') if l.startswith('SwapTotal:')][0])\""),
            std::to_string(swap));
  EXPECT_GE(load, 0);
  EXPECT_LE(load, 100);
  // No swap must not divide by zero.
  EXPECT_GE(swap_used, 0);
  EXPECT_LE(swap_used, 100);
  if (swap == 0) {
    EXPECT_EQ(0, swap_used);
  }
}

TEST_F(SystemTest, CounterRunsAtItsFrequency) {
  ASSERT_EQ(10000000u, GetFreq());
  unsigned first = GetCount();
  auto start = std::chrono::steady_clock::now();
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  unsigned second = GetCount();
  double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  double ticks = static_cast<double>(static_cast<unsigned>(second - first));  // wraps like the original
  EXPECT_GE(ticks, 0.2 * GetFreq() * 0.9);
  EXPECT_LE(ticks, elapsed * GetFreq() * 1.1);
}

TEST_F(SystemTest, ConsoleMeansAControllingTerminal) {
  // Without a terminal (a new session) there is none.
  EXPECT_EQ(0, RunInChild([] {
              setsid();
              return IsConsole() ? 1 : 0;
            }));
  // With a pseudo-terminal as controlling terminal there is one.
  EXPECT_EQ(1, RunInChild([] {
              setsid();
              int master = posix_openpt(O_RDWR | O_NOCTTY);
              if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return 9;
              int slave = open(ptsname(master), O_RDWR);  // the first terminal a session opens
              if (slave < 0) return 8;
              return IsConsole() ? 1 : 0;
            }));
}

// ---- drives, directories and files ----

TEST_F(SystemTest, TheOneDriveIsTheRootFileSystem) {
  EXPECT_EQ("C", GetDrives());
  unsigned cluster, free_clusters, total;
  ASSERT_TRUE(GetDisk('C', cluster, free_clusters, total));
  EXPECT_EQ(Shell("python3 -c \"import os; print(os.statvfs('/').f_frsize)\""), std::to_string(cluster));
  EXPECT_EQ(Shell("python3 -c \"import os; print(min(os.statvfs('/').f_blocks, 2**32-1))\""), std::to_string(total));
  EXPECT_LE(free_clusters, total);

  std::string volume, fs;
  unsigned serial;
  ASSERT_TRUE(GetVolume('c', volume, fs, serial));
  EXPECT_EQ(Shell("findmnt -n -o FSTYPE /"), fs);
  EXPECT_EQ(Shell("python3 -c \"import os; print(os.statvfs('/').f_fsid & 0xffffffff)\""), std::to_string(serial));
  EXPECT_TRUE(DriveReady('C'));
  EXPECT_EQ(fs == "nfs" || fs == "nfs4" || fs == "cifs", RemoteDrive('C'));
}

TEST_F(SystemTest, OtherDrivesDoNotExist) {
  unsigned cluster = 1, free_clusters = 1, total = 1;
  EXPECT_FALSE(GetDisk('D', cluster, free_clusters, total));
  EXPECT_EQ(0u, cluster + free_clusters + total);
  std::string volume = "x", fs = "y";
  unsigned serial = 5;
  EXPECT_FALSE(GetVolume('A', volume, fs, serial));
  EXPECT_EQ("", volume);
  EXPECT_EQ("", fs);
  EXPECT_EQ(0u, serial);
  EXPECT_FALSE(DriveReady('Z'));
  EXPECT_FALSE(RemoteDrive('E'));
  EXPECT_EQ(1, DriveNum('A'));
  EXPECT_EQ(1, DriveNum('a'));
  EXPECT_EQ(3, DriveNum('C'));
  EXPECT_EQ(26, DriveNum('z'));
}

TEST_F(SystemTest, Directories) {
  setenv("TMPDIR", root_.c_str(), 1);
  EXPECT_EQ(root_ + "/", GetTmpDir());
  unsetenv("TMPDIR");
  EXPECT_EQ("/tmp/", GetTmpDir());
  setenv("TMPDIR", "", 1);
  EXPECT_EQ("/tmp/", GetTmpDir());
  // A longer folder is refused whole, never cut: 260 characters with its '/'.
  const std::string longest = "/" + std::string(258, 'd');
  setenv("TMPDIR", longest.c_str(), 1);
  EXPECT_EQ(longest + "/", GetTmpDir());
  setenv("TMPDIR", (longest + "d").c_str(), 1);
  EXPECT_EQ("/tmp/", GetTmpDir());
  // An empty HOME is no home: without XDG_CONFIG_HOME there is no registry
  // store rather than one under "/".
  unsetenv("XDG_CONFIG_HOME");
  setenv("HOME", "", 1);
  EXPECT_EQ("", GetRegistryFile());
  EXPECT_EQ("!ERROR", GetKeyValues(kHKeyCurrentUser, "Software", "x"));
  setenv("HOME", root_.c_str(), 1);
  EXPECT_EQ(root_ + "/.config/quorvane/registry.ini", GetRegistryFile());
  std::string exe = std::filesystem::read_symlink("/proc/self/exe").string();
  EXPECT_EQ(exe.substr(0, exe.rfind('/') + 1), GetExeDir());
  EXPECT_TRUE(std::filesystem::is_directory(GetWinDir()));
  EXPECT_TRUE(std::filesystem::is_directory(GetSysDir()));
}

TEST_F(SystemTest, FileNames) {
  WriteFile(root_ + "/b_bap.txt", "x");
  WriteFile(root_ + "/a_marr.txt", "x");
  WriteFile(root_ + "/c.dat", "x");
  EXPECT_EQ(root_ + "/c.dat", GetDOSName(root_ + "/c.dat"));
  EXPECT_EQ("", GetDOSName(root_ + "/none.dat"));
  EXPECT_EQ("", GetDOSName(""));
  EXPECT_EQ("c.dat", GetWinName(root_ + "/c.dat"));
  EXPECT_EQ("a_marr.txt", GetWinName(root_ + "/*.txt"));
  EXPECT_EQ("b_bap.txt", GetWinName(root_ + "/?_bap.txt"));
  EXPECT_EQ("", GetWinName(root_ + "/*.xls"));
  EXPECT_EQ("", GetWinName(root_ + "/gone.txt"));
  EXPECT_EQ("", GetWinName(root_ + "/"));
}

TEST_F(SystemTest, TemporaryFilesAreCreatedAndUnique) {
  std::string first = GetTmpFile(root_, "quorvane");
  std::string second = GetTmpFile(root_ + "/", "q/z");
  ASSERT_FALSE(first.empty());
  ASSERT_FALSE(second.empty());
  EXPECT_NE(first, second);
  EXPECT_EQ(root_ + "/quo", first.substr(0, root_.size() + 4));
  EXPECT_EQ(".tmp", first.substr(first.size() - 4));
  EXPECT_EQ(root_ + "/q_z", second.substr(0, root_.size() + 4));  // no way into another folder
  EXPECT_TRUE(std::filesystem::is_regular_file(first));
  EXPECT_EQ(0u, std::filesystem::file_size(first));
  EXPECT_EQ("", GetTmpFile(root_ + "/missing", "abc"));
  EXPECT_EQ("", GetTmpFile("", "abc"));
}

TEST_F(SystemTest, FileDateIsTheModificationTime) {
  std::string path = root_ + "/dated.txt";
  WriteFile(path, "x");
  struct tm when = {};
  when.tm_year = 2020 - 1900;
  when.tm_mon = 4;
  when.tm_mday = 17;
  when.tm_hour = 8;
  when.tm_min = 9;
  when.tm_sec = 10;
  when.tm_isdst = -1;
  struct utimbuf times = {mktime(&when), mktime(&when)};
  ASSERT_EQ(0, utime(path.c_str(), &times));
  EXPECT_EQ("5/17/2020 8:09:10", GetFileDate(path));
  rtl::FormatSettingsScope restore;
  rtl::TFormatSettings german = rtl::FormatSettings();
  german.ShortDateFormat = "dd.mm.yyyy";
  german.DateSeparator = '.';
  german.LongTimeFormat = "hh:nn:ss";
  rtl::SetFormatSettings(german);
  EXPECT_EQ("17.05.2020 08:09:10", GetFileDate(path));
  EXPECT_EQ("", GetFileDate(root_ + "/missing"));
  // A twelve-hour format; 'mm' after the hour is minutes.
  german.LongTimeFormat = "h:mm:ss AM/PM";
  rtl::SetFormatSettings(german);
  EXPECT_EQ("17.05.2020 8:09:10 AM", GetFileDate(path));
}

// ---- byte-range locks ----

class FileLockTest : public SystemTest {
protected:
  void SetUp() override {
    SystemTest::SetUp();
    path_ = root_ + "/locked.dat";
    WriteFile(path_, std::string(100, 'x'));
  }
  std::string path_;
};

TEST_F(FileLockTest, AnotherOpenIsKeptOutOfTheRangeOnly) {
  FileDescriptor a(open(path_.c_str(), O_RDWR | O_CLOEXEC));
  FileDescriptor b(open(path_.c_str(), O_RDWR | O_CLOEXEC));
  ASSERT_TRUE(SetFileLock(a.Get(), 10, 10));
  EXPECT_FALSE(detail::LockRangeWithin(b.Get(), 15, 10, 300, 20));
  EXPECT_TRUE(detail::LockRangeWithin(b.Get(), 20, 10, 300, 20));  // touching, not overlapping
  EXPECT_TRUE(ClrFileLock(a.Get(), 10, 10));
  EXPECT_TRUE(SetFileLock(b.Get(), 5, 10));
  EXPECT_TRUE(ClrFileLock(b.Get(), 5, 10));
  EXPECT_TRUE(ClrFileLock(b.Get(), 20, 10));
}

// A signal arriving during a lock or unlock call is no failure: the call is
// made again.
TEST_F(FileLockTest, InterruptedCallsAreRetried) {
  FileDescriptor a(open(path_.c_str(), O_RDWR | O_CLOEXEC));
  FileDescriptor b(open(path_.c_str(), O_RDWR | O_CLOEXEC));
  rtl::os::InterruptNextRangeLocks(2);
  ASSERT_TRUE(SetFileLock(a.Get(), 10, 10));
  EXPECT_FALSE(detail::LockRangeWithin(b.Get(), 10, 1, 0, 1));
  rtl::os::InterruptNextRangeLocks(2);
  EXPECT_TRUE(ClrFileLock(a.Get(), 10, 10));
  EXPECT_TRUE(detail::LockRangeWithin(b.Get(), 10, 1, 0, 1));
  rtl::os::InterruptNextRangeLocks(0);
}

TEST_F(FileLockTest, WaitsForAnotherProcessToLetGo) {
  Holder holder = StartHolder([this] { return SetFileLock(open(path_.c_str(), O_RDWR), 0, 50); });
  ASSERT_TRUE(holder.answer);
  {
    FileDescriptor fd(open(path_.c_str(), O_RDWR | O_CLOEXEC));
    EXPECT_FALSE(detail::LockRangeWithin(fd.Get(), 40, 20, 300, 20));
    // The holder lets go after a while; the full-length wait gets the lock.
    std::thread letgo([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      ReleaseHolder(holder);
    });
    EXPECT_TRUE(SetFileLock(fd.Get(), 40, 20));
    letgo.join();
  }
}

TEST_F(FileLockTest, RefusesBadArguments) {
  FileDescriptor a(open(path_.c_str(), O_RDWR | O_CLOEXEC));
  EXPECT_FALSE(SetFileLock(a.Get(), 0, 0));
  EXPECT_FALSE(SetFileLock(a.Get(), -1, 5));
  EXPECT_FALSE(ClrFileLock(a.Get(), 0, 0));
  EXPECT_FALSE(SetFileLock(-1, 0, 5));
  EXPECT_FALSE(SetFileLock(9999, 0, 5));
  // A descriptor open for reading holds a read lock that keeps writers out.
  FileDescriptor reader(open(path_.c_str(), O_RDONLY | O_CLOEXEC));
  EXPECT_TRUE(SetFileLock(reader.Get(), 0, 10));
  EXPECT_FALSE(detail::LockRangeWithin(a.Get(), 0, 10, 100, 20));
}

// ---- single instance ----

TEST_F(SystemTest, OnlyOneProcessHoldsTheInstanceLock) {
  Holder first = StartHolder([] { return UniqueApp("Quorvane/Main"); });
  EXPECT_TRUE(first.answer);
  EXPECT_EQ(0, RunInChild([] { return UniqueApp("Quorvane/Main") ? 1 : 0; }));
  EXPECT_EQ(1, RunInChild([] { return UniqueApp("Quorvane/Other") ? 1 : 0; }));
  EXPECT_EQ(1, RunInChild([] { return UniqueApp("quorvane/main") ? 1 : 0; }));  // names keep their case
  ReleaseHolder(first);
  // Once the holder has ended the name is free again.
  EXPECT_EQ(1, RunInChild([] { return UniqueApp("Quorvane/Main") ? 1 : 0; }));
  // A second call in the same process is refused and keeps no descriptor.
  EXPECT_EQ(1, RunInChild([] {
              if (!UniqueApp("twice")) return 2;
              size_t held = syshelp::OpenDescriptors().size();
              if (UniqueApp("twice")) return 3;
              return syshelp::OpenDescriptors().size() == held ? 1 : 4;
            }));
  EXPECT_EQ(0, RunInChild([] { return UniqueApp("") ? 1 : 0; }));
}

TEST_F(SystemTest, RuntimeFolderMustBePrivate) {
  std::string dir = GetRuntimeDir();
  EXPECT_EQ(root_ + "/run/quorvane", dir);
  struct stat st;
  ASSERT_EQ(0, stat(dir.c_str(), &st));
  EXPECT_EQ(0700u, st.st_mode & 0777);
  // A folder others may write to is not used.
  chmod(dir.c_str(), 0777);
  EXPECT_EQ("", GetRuntimeDir());
  EXPECT_EQ(0, RunInChild([] { return UniqueApp("any") ? 1 : 0; }));
  chmod(dir.c_str(), 0700);
  // A symbolic link in its place is not followed.
  std::filesystem::remove_all(dir);
  std::filesystem::create_directory(root_ + "/elsewhere");
  chmod((root_ + "/elsewhere").c_str(), 0700);
  std::filesystem::create_directory_symlink(root_ + "/elsewhere", dir);
  EXPECT_EQ("", GetRuntimeDir());
}

TEST_F(SystemTest, RuntimePathsEncodeNames) {
  std::string dir = GetRuntimeDir();
  EXPECT_EQ(dir + "/pipe/a%2F%2E%2E%2Fb%20c", RuntimePath("pipe", "a/../b c", false, 4095));
  EXPECT_EQ(dir + "/pipe/mixed", RuntimePath("pipe", "MiXeD", true, 4095));
  EXPECT_EQ(dir + "/pipe/MiXeD", RuntimePath("pipe", "MiXeD", false, 4095));
  EXPECT_EQ("", RuntimePath("pipe", "", false, 4095));
  // Too long for the limit: cut and ended by a hash, so names stay apart.
  std::string a = RuntimePath("pipe", std::string(200, 'a') + "1", false, 107);
  std::string b = RuntimePath("pipe", std::string(200, 'a') + "2", false, 107);
  EXPECT_LE(a.size(), 107u);
  EXPECT_NE(a, b);
  EXPECT_EQ("", RuntimePath("pipe", "x", false, dir.size() + 5));
}

// ---- priority ----

TEST_F(SystemTest, PriorityClassesSetEveryThreadsNiceValue) {
  EXPECT_EQ(1, RunInChild([] {
              if (SetAppPriority(0x1234)) return 2;
              std::atomic<pid_t> tid{0};
              std::atomic<bool> stop{false};
              std::thread worker([&] {
                tid = gettid();
                while (!stop) std::this_thread::sleep_for(std::chrono::milliseconds(1));
              });
              while (tid == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
              bool ok = SetAppPriority(kIdlePriorityClass) && getpriority(PRIO_PROCESS, 0) == 19 &&
                        getpriority(PRIO_PROCESS, tid) == 19;
              stop = true;
              worker.join();
              return ok ? 1 : 3;
            }));
  // Raising the priority needs the right to; the answer says whether it
  // happened.
  EXPECT_EQ(1, RunInChild([] {
              bool raised = SetAppPriority(kHighPriorityClass);
              return raised == (getpriority(PRIO_PROCESS, 0) == -10) ? 1 : 2;
            }));
}

// ---- what has no meaning here ----

TEST_F(SystemTest, RoutinesWithoutMeaningAnswerTheirFailureValue) {
  EXPECT_FALSE(ClrStringLocks());
  KillOLE();
}

// The desktop and machine routines go through the operating-system layer
// (tested in full there); here: what reaches it, and the failure values
// where it has nothing to reach.
TEST_F(SystemTest, DesktopAndMachineRoutinesAnswerThroughTheSystemLayer) {
  const char* display = std::getenv("DISPLAY");
  const std::string saved_display = display ? display : "";
  unsetenv("DISPLAY");
  EXPECT_EQ(-1, GetProcID(0x1234));
  EXPECT_EQ("", GetWinClass("Quorvane"));
  EXPECT_FALSE(StartSelect('R'));
  if (display) setenv("DISPLAY", saved_display.c_str(), 1);
  EXPECT_EQ(-1, InPort(0x10000));  // no such port
  EXPECT_FALSE(OutPort(0x55, 0x10000));
  // Reboot asks systemctl: a fake here, which records and answers.
  for (int code : {0, 1}) {
    const std::string fake = root_ + "/systemctl";
    WriteFile(fake, "#!/bin/sh\necho \"$@\" > '" + fake + ".args'\nexit " + std::to_string(code) + "\n");
    chmod(fake.c_str(), 0755);
    rtl::os::SetSessionTools({fake, root_ + "/loginctl"});
    EXPECT_EQ(ReBoot(), code == 0);
    std::ifstream args(fake + ".args");
    std::string line;
    std::getline(args, line);
    EXPECT_EQ(line, "--no-ask-password reboot");
  }
  rtl::os::SetSessionTools({});
  EXPECT_EQ(GetWinDir(), rtl::os::SystemConfigFolder());
}

TEST_F(SystemTest, GuiRoutinesWithoutHooksFail) {
  EXPECT_FALSE(SpeakerBeep());
  EXPECT_FALSE(SetClipText("text"));
  EXPECT_EQ("", GetClipText());
  EXPECT_EQ("", GetDefaultPrn());
  EXPECT_EQ("", GetPrinters());
  EXPECT_FALSE(ProcessGuiMessages());
}

TEST_F(SystemTest, GuiRoutinesGoThroughTheHooks) {
  std::string clipboard;
  int beeps = 0;
  GuiHooks hooks;
  hooks.set_clipboard_text = [&](const std::string& text) {
    clipboard = text;
    return true;
  };
  hooks.get_clipboard_text = [&](std::string& text) {
    text = clipboard;
    return !clipboard.empty();
  };
  hooks.beep = [&] { ++beeps; };
  hooks.default_printer = [] { return std::string("Office"); };
  hooks.printer_names = [] { return std::vector<std::string>{"Office", "Caf\xE9 PDF"}; };
  SetGuiHooks(hooks);
  EXPECT_EQ("", GetClipText());
  EXPECT_TRUE(SetClipText("Baptisms \xE9"));
  EXPECT_EQ("Baptisms \xE9", GetClipText());
  EXPECT_FALSE(SetClipText(""));  // empty text does not reach the clipboard
  EXPECT_EQ("Baptisms \xE9", clipboard);
  EXPECT_TRUE(SpeakerBeep());
  EXPECT_EQ(1, beeps);
  EXPECT_EQ("Office", GetDefaultPrn());
  EXPECT_EQ("Office;Caf\xE9 PDF", GetPrinters());
  hooks.set_clipboard_text = [](const std::string&) { return false; };
  SetGuiHooks(hooks);
  EXPECT_FALSE(SetClipText("refused"));
}

TEST_F(SystemTest, SetQuotesChangesTheQuoteCharacters) {
  SetQuotes('[', ']');
  EXPECT_EQ('[', State().OpenQuote);
  EXPECT_EQ(']', State().CloseQuote);
}

// ---- version resources ----

TEST_F(SystemTest, BuildInfoReadsTheFixedVersionBlock) {
  // A program image with a version block for 5.1.2600.2180 at an aligned place.
  std::string image = "MZ" + std::string(126, '\0');
  auto put32 = [&](std::uint32_t v) {
    for (int i = 0; i < 4; ++i) image += static_cast<char>((v >> (8 * i)) & 0xFF);
  };
  put32(0xFEEF04BD);
  put32(0x00010000);
  put32((5u << 16) | 1u);
  put32((2600u << 16) | 2180u);
  image += std::string(40, '\0');
  WriteFile(root_ + "/prog.exe", image);
  EXPECT_EQ("5.1.2600.2180", GetBuildInfo(root_ + "/prog.exe"));
  // The same bytes without the "MZ" mark, or an image without the block.
  WriteFile(root_ + "/plain.bin", "ZZ" + image.substr(2));
  EXPECT_EQ("", GetBuildInfo(root_ + "/plain.bin"));
  WriteFile(root_ + "/bare.exe", "MZ" + std::string(300, '\x01'));
  EXPECT_EQ("", GetBuildInfo(root_ + "/bare.exe"));
  EXPECT_EQ("", GetBuildInfo("/bin/sh"));
  EXPECT_EQ("", GetBuildInfo(root_ + "/missing.exe"));
}

}  // namespace
}  // namespace textutil
