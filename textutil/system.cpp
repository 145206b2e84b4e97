// System and environment routines on Linux.
//
// The registry store stands in for the system registry: the INI file
// "registry.ini" in the user's configuration folder (GetRegistryFile). Each
// section is one key, named by its root and its path as the registry names
// them; the root may be abbreviated (HKCR, HKCU, HKLM, HKU, HKCC):
//
//   [HKEY_LOCAL_MACHINE\System\CurrentControlSet\Services\VxD\VNETSUP]
//   Workgroup=HOME                 a string
//   Greeting="  kept blanks  "     a string in quotes keeps its blanks
//   Count=dword:0000002a           a 4-byte number, 1 to 8 hex digits
//   Stamp=hex:a1,34,6f,2b          raw bytes, two hex digits each
//   @=text                         the key's default value
//
// Key paths and value names compare case-blind; empty path parts (doubled
// or outer backslashes) are ignored. A key exists when it has a section or
// a section lies below it, so the subkeys of a key are the next parts of
// the sections below it, each named once, in the order of the file. A
// "dword:" or "hex:" value that does not parse cannot be read.

#include "textutil/system.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>
#include <vector>

#include "platform/runtime/coding.h"
#include "platform/runtime/dates.h"
#include "platform/runtime/files.h"
#include "platform/runtime/format_settings.h"
#include "platform/runtime/inifiles.h"
#include "platform/runtime/os_display.h"
#include "platform/runtime/os_files.h"
#include "platform/runtime/os_places.h"
#include "platform/runtime/os_ports.h"
#include "platform/runtime/os_session.h"
#include "platform/runtime/os_system.h"
#include "platform/runtime/strings.h"
#include "platform/runtime/sysutils.h"
#include "textutil/dates.h"
#include "textutil/fields.h"
#include "textutil/gui_hooks.h"
#include "textutil/state.h"

namespace textutil {
namespace {

// ---- small helpers ----

std::string ReadSmallFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return "";
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string Trimmed(std::string_view s) {
  size_t begin = s.find_first_not_of(" \t\r\n");
  if (begin == std::string_view::npos) return "";
  size_t end = s.find_last_not_of(" \t\r\n");
  return std::string(s.substr(begin, end - begin + 1));
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

unsigned ClampToUnsigned(unsigned long long value) {
  return value > UINT_MAX ? UINT_MAX : static_cast<unsigned>(value);
}

int ClampToInt(long long value) {
  if (value > INT_MAX) return INT_MAX;
  if (value < 0) return 0;
  return static_cast<int>(value);
}

// ---- the registry store ----

struct RootName {
  unsigned number;
  const char* name;
  const char* abbreviation;
};

constexpr RootName kRoots[] = {
    {kHKeyClassesRoot, "HKEY_CLASSES_ROOT", "HKCR"},
    {kHKeyCurrentUser, "HKEY_CURRENT_USER", "HKCU"},
    {kHKeyLocalMachine, "HKEY_LOCAL_MACHINE", "HKLM"},
    {kHKeyUsers, "HKEY_USERS", "HKU"},
    {kHKeyCurrentConfig, "HKEY_CURRENT_CONFIG", "HKCC"},
};

std::vector<std::string> KeyParts(std::string_view path) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('\\', start);
    if (end == std::string_view::npos) end = path.size();
    if (end > start) parts.emplace_back(Trimmed(path.substr(start, end - start)));
    if (!parts.empty() && parts.back().empty()) parts.pop_back();
    start = end + 1;
  }
  return parts;
}

// A section name split into parts with its root spelled out; empty when the
// root is not one of the known roots.
std::vector<std::string> SectionParts(std::string_view section) {
  std::vector<std::string> parts = KeyParts(section);
  if (parts.empty()) return parts;
  for (const RootName& root : kRoots) {
    if (rtl::SameText(parts[0], root.name) || rtl::SameText(parts[0], root.abbreviation)) {
      parts[0] = root.name;
      return parts;
    }
  }
  return {};
}

bool StartsWithParts(const std::vector<std::string>& parts,
                     const std::vector<std::string>& prefix) {
  if (parts.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    if (!rtl::SameText(parts[i], prefix[i])) return false;
  }
  return true;
}

struct StoreValue {
  enum Kind { kMissing, kUnreadable, kString, kNumber, kBytes } kind = kMissing;
  std::string bytes;      // string or raw bytes
  std::uint32_t number = 0;
};

StoreValue DecodeStoreValue(const std::string& text) {
  StoreValue value;
  auto has_prefix = [&](std::string_view prefix) {
    return text.size() >= prefix.size() && rtl::SameText(std::string_view(text).substr(0, prefix.size()), prefix);
  };
  if (has_prefix("dword:")) {
    std::string digits = Trimmed(std::string_view(text).substr(6));
    value.kind = StoreValue::kUnreadable;
    if (digits.empty() || digits.size() > 8) return value;
    for (char c : digits) {
      int d = HexDigit(c);
      if (d < 0) return value;
      value.number = value.number * 16 + static_cast<unsigned>(d);
    }
    value.kind = StoreValue::kNumber;
    return value;
  }
  if (has_prefix("hex:")) {
    value.kind = StoreValue::kUnreadable;
    std::string_view rest = std::string_view(text).substr(4);
    std::string bytes;
    size_t start = 0;
    while (start <= rest.size()) {
      size_t end = rest.find(',', start);
      if (end == std::string_view::npos) end = rest.size();
      std::string item = Trimmed(rest.substr(start, end - start));
      if (item.empty()) {
        if (end != rest.size() || !bytes.empty() || start != 0) return value;
      } else {
        if (item.size() > 2) return value;
        int byte = 0;
        for (char c : item) {
          int d = HexDigit(c);
          if (d < 0) return value;
          byte = byte * 16 + d;
        }
        bytes += static_cast<char>(byte);
      }
      start = end + 1;
    }
    value.kind = StoreValue::kBytes;
    value.bytes = std::move(bytes);
    return value;
  }
  value.kind = StoreValue::kString;
  if (text.size() >= 2 && text.front() == '"' && text.back() == '"') {
    value.bytes = text.substr(1, text.size() - 2);
  } else {
    value.bytes = text;
  }
  return value;
}

class RegistryStore {
public:
  RegistryStore() : ini_(GetRegistryFile()) {
    rtl::TStringList sections;
    ini_.ReadSections(sections);
    for (int i = 0; i < sections.Count(); ++i) {
      std::vector<std::string> parts = SectionParts(sections.At(i));
      if (!parts.empty()) sections_.push_back({sections.At(i), std::move(parts)});
    }
  }

  // The key's parts with its root spelled out; false for an unknown root.
  static bool FullKey(unsigned root, const std::string& path, std::vector<std::string>& parts) {
    for (const RootName& r : kRoots) {
      if (r.number == root) {
        parts = KeyParts(path);
        parts.insert(parts.begin(), r.name);
        return true;
      }
    }
    return false;
  }

  bool KeyExists(const std::vector<std::string>& key) const {
    if (key.size() == 1) return true;  // a root always opens
    for (const Section& s : sections_) {
      if (StartsWithParts(s.parts, key)) return true;
    }
    return false;
  }

  std::vector<std::string> Subkeys(const std::vector<std::string>& key) const {
    std::vector<std::string> names;
    for (const Section& s : sections_) {
      if (s.parts.size() <= key.size() || !StartsWithParts(s.parts, key)) continue;
      const std::string& next = s.parts[key.size()];
      bool seen = std::any_of(names.begin(), names.end(),
                              [&](const std::string& n) { return rtl::SameText(n, next); });
      if (!seen) names.push_back(next);
    }
    return names;
  }

  // The names of the key's values, in the order of the file.
  std::vector<std::string> ValueNames(const std::vector<std::string>& key) const {
    std::vector<std::string> names;
    for (const Section& s : sections_) {
      if (s.parts.size() != key.size() || !StartsWithParts(s.parts, key)) continue;
      rtl::TStringList entries;
      ini_.ReadSection(s.name, entries);
      for (int i = 0; i < entries.Count(); ++i) names.push_back(entries.At(i));
      break;
    }
    return names;
  }

  // The value called name ("" or "@" for the default value) of the key.
  StoreValue Value(const std::vector<std::string>& key, const std::string& name) const {
    std::string entry = name.empty() ? "@" : name;
    for (const Section& s : sections_) {
      if (s.parts.size() != key.size() || !StartsWithParts(s.parts, key)) continue;
      if (!ini_.ValueExists(s.name, entry)) return StoreValue();
      return DecodeStoreValue(ini_.ReadString(s.name, entry, ""));
    }
    return StoreValue();
  }

private:
  struct Section {
    std::string name;
    std::vector<std::string> parts;
  };
  rtl::TIniFile ini_;
  std::vector<Section> sections_;
};

// The string or raw bytes of a store value; false for a missing or
// unreadable one. A number answers its decimal text.
bool ValueText(const StoreValue& value, std::string& text) {
  switch (value.kind) {
    case StoreValue::kString:
    case StoreValue::kBytes:
      text = value.bytes;
      return true;
    case StoreValue::kNumber:
      text = std::to_string(value.number);
      return true;
    default:
      return false;
  }
}

std::string StoreDefaultValue(unsigned root, const std::string& key) {
  std::string text;
  return GetKeyValue(root, key, "", text) ? text : "";
}

// ---- drives ----

bool IsDriveC(char drive) { return drive == 'C' || drive == 'c'; }

// The label udev gives the device, "" when it has none. udev writes
// unusual characters of a label as \xNN.
std::string DeviceLabel(const std::string& device) {
  std::error_code ec;
  std::filesystem::path target = std::filesystem::canonical(device, ec);
  if (ec) return "";
  for (std::filesystem::directory_iterator it("/dev/disk/by-label", ec), end; !ec && it != end;
       it.increment(ec)) {
    std::error_code link_ec;
    if (std::filesystem::canonical(it->path(), link_ec) != target || link_ec) continue;
    std::string raw = it->path().filename().string();
    std::string label;
    for (size_t i = 0; i < raw.size(); ++i) {
      if (raw[i] == '\\' && i + 3 < raw.size() && raw[i + 1] == 'x' && HexDigit(raw[i + 2]) >= 0 &&
          HexDigit(raw[i + 3]) >= 0) {
        label += static_cast<char>(HexDigit(raw[i + 2]) * 16 + HexDigit(raw[i + 3]));
        i += 3;
      } else {
        label += raw[i];
      }
    }
    return label;
  }
  return "";
}

bool IsNetworkFileSystem(const std::string& type) {
  static const char* const kRemote[] = {"nfs",  "nfs4", "cifs", "smb3", "smbfs", "ncpfs", "afs",
                                        "9p",   "ceph", "glusterfs", "fuse.glusterfs",
                                        "fuse.sshfs", "sshfs", "davfs", "fuse.davfs2"};
  return std::any_of(std::begin(kRemote), std::end(kRemote),
                     [&](const char* t) { return type == t; });
}

// ---- runtime folder ----

std::uint64_t Fnv1a(std::string_view text) {
  std::uint64_t hash = 14695981039346656037ull;
  for (unsigned char c : text) {
    hash ^= c;
    hash *= 1099511628211ull;
  }
  return hash;
}

// ---- single-instance locks, released when the library unloads ----

class InstanceLocks {
public:
  ~InstanceLocks() {
    for (int fd : fds_) rtl::os::Close(fd);
  }
  std::mutex lock;
  std::vector<int> fds_;
};

InstanceLocks& Instances() {
  static InstanceLocks locks;
  return locks;
}

// ---- file byte-range locks ----

// 0 or -errno. A descriptor open only for reading can hold a shared lock,
// which keeps writers (and their locks) out.
int ApplyRangeLock(int fd, rtl::os::RangeLock kind, std::int64_t offset, std::int64_t length) {
  int rc = rtl::os::SetRangeLock(fd, kind, offset, length);
  if (rc == -EBADF && kind == rtl::os::RangeLock::Exclusive)
    rc = rtl::os::SetRangeLock(fd, rtl::os::RangeLock::Shared, offset, length);
  return rc;
}

// ---- processor and memory ----

bool MemInfo(const std::string& text, const char* field, long long& kb) {
  std::string key = std::string("\n") + field + ":";
  std::string padded = "\n" + text;
  size_t at = padded.find(key);
  if (at == std::string::npos) return false;
  kb = std::strtoll(padded.c_str() + at + key.size(), nullptr, 10);
  return true;
}

}  // namespace

namespace detail {

// SetFileLock with a chosen waiting time, for tests that must not wait 15 s.
bool LockRangeWithin(int fd, std::int64_t offset, std::int64_t length, int timeout_ms,
                     int retry_ms) {
  if (offset < 0 || length < 1) return false;
  auto start = std::chrono::steady_clock::now();
  while (true) {
    const int rc = ApplyRangeLock(fd, rtl::os::RangeLock::Exclusive, offset, length);
    if (rc == 0) return true;
    if (rc != -EAGAIN && rc != -EACCES) return false;
    auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start);
    if (waited.count() >= timeout_ms) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(retry_ms));
  }
}

}  // namespace detail

// ---- User, machine and network ----

std::string GetUser() {
  std::string name = rtl::os::UserName();
  if (name.size() > 259) name.resize(259);
  return name;
}

std::string GetNetUser() { return GetUser(); }

std::string GetComputer() { return rtl::os::HostName(); }

bool IsNetWork() { return rtl::os::NetworkUp(); }

std::string GetLocalIP() { return IsNetWork() ? rtl::os::FirstIPv4Address() : ""; }

std::string GetNICAddr() {
  std::vector<std::string> names;
  std::error_code ec;
  for (std::filesystem::directory_iterator it("/sys/class/net", ec), end; !ec && it != end;
       it.increment(ec)) {
    names.push_back(it->path().filename().string());
  }
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    std::string base = "/sys/class/net/" + name;
    if (Trimmed(ReadSmallFile(base + "/type")) != "1") continue;  // Ethernet-style adapters only
    std::string mac = Trimmed(ReadSmallFile(base + "/address"));
    unsigned bytes[6];
    if (mac.size() != 17 ||
        std::sscanf(mac.c_str(), "%2x:%2x:%2x:%2x:%2x:%2x", &bytes[0], &bytes[1], &bytes[2],
                    &bytes[3], &bytes[4], &bytes[5]) != 6) {
      continue;
    }
    if (std::all_of(std::begin(bytes), std::end(bytes), [](unsigned b) { return b == 0; })) continue;
    std::string text;
    for (int i = 0; i < 6; ++i) {
      if (i > 0) text += '.';
      text += std::to_string(bytes[i]);
    }
    return text;
  }
  return "";
}

std::string GetDomain() {
  return GetKeyValues(kHKeyLocalMachine, "System\\CurrentControlSet\\Services\\VxD\\VNETSUP",
                      "Workgroup");
}

bool IsWinNT() { return false; }

std::string GetCPU() {
  std::string machine = rtl::os::MachineType();
  if (machine.empty()) return "";
  if (machine == "i386") return "80386";
  if (machine == "i486") return "80486";
  if (machine == "i586" || machine == "i686" || machine == "x86_64") return "80586";
  return machine;
}

void GetMemStatus(int& total_kb, int& load_percent, int& swap_total_kb, int& swap_used_percent) {
  total_kb = load_percent = swap_total_kb = swap_used_percent = 0;
  std::string info = ReadSmallFile("/proc/meminfo");
  long long total = 0, available = 0, swap_total = 0, swap_free = 0;
  if (!MemInfo(info, "MemTotal", total) || total <= 0) return;
  if (!MemInfo(info, "MemAvailable", available)) {
    long long free_kb = 0, buffers = 0, cached = 0;
    MemInfo(info, "MemFree", free_kb);
    MemInfo(info, "Buffers", buffers);
    MemInfo(info, "Cached", cached);
    available = free_kb + buffers + cached;
  }
  available = std::clamp(available, 0LL, total);
  MemInfo(info, "SwapTotal", swap_total);
  MemInfo(info, "SwapFree", swap_free);
  swap_free = std::clamp(swap_free, 0LL, std::max(swap_total, 0LL));
  total_kb = ClampToInt(total);
  load_percent = ClampToInt((total - available) * 100 / total);
  swap_total_kb = ClampToInt(swap_total);
  swap_used_percent = swap_total > 0 ? ClampToInt((swap_total - swap_free) * 100 / swap_total) : 0;
}

unsigned GetFreq() { return 10000000u; }

unsigned GetCount() {
  std::uint64_t ticks = rtl::os::MonotonicNanoseconds() / 100u;
  return static_cast<unsigned>(ticks & 0xFFFFFFFFu);
}

std::string WinstallDate() {
  std::string value = GetKeyValues(kHKeyLocalMachine, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion",
                                   "FirstInstallDateTime");
  if (value.size() != 4) return "";
  std::uint32_t stamp = rtl::DecodeFixed32(value.data());
  unsigned date = stamp >> 16, time = stamp & 0xFFFF;
  rtl::TDateTime day, clock;
  if (!rtl::TryEncodeDate(1980 + static_cast<int>(date >> 9), (date >> 5) & 15, date & 31, day) ||
      !rtl::TryEncodeTime(time >> 11, (time >> 5) & 63, (time & 31) * 2, 0, clock)) {
    return "";
  }
  return DateTimeText(day + clock);
}

bool IsConsole() { return rtl::os::HasControllingTerminal(); }

// ---- Drives, directories and files ----

std::string GetDrives() {
  rtl::os::DiskSpace space;
  return rtl::os::RootDiskSpace(space) ? "C" : "";
}

bool GetDisk(char drive, unsigned& cluster_size, unsigned& free_clusters, unsigned& total_clusters) {
  cluster_size = free_clusters = total_clusters = 0;
  rtl::os::DiskSpace space;
  if (!IsDriveC(drive) || !rtl::os::RootDiskSpace(space)) return false;
  cluster_size = ClampToUnsigned(space.block_size);
  free_clusters = ClampToUnsigned(space.free_blocks);
  total_clusters = ClampToUnsigned(space.total_blocks);
  return true;
}

bool GetVolume(char drive, std::string& volume_name, std::string& fs_name, unsigned& serial) {
  volume_name.clear();
  fs_name.clear();
  serial = 0;
  std::string source, type;
  rtl::os::DiskSpace space;
  if (!IsDriveC(drive) || !rtl::os::RootDiskSpace(space) || !rtl::os::RootMount(source, type)) return false;
  fs_name = type;
  volume_name = source.starts_with("/dev/") ? DeviceLabel(source) : "";
  serial = static_cast<unsigned>(space.id & 0xFFFFFFFFu);
  return true;
}

bool RemoteDrive(char drive) {
  std::string source, type;
  return IsDriveC(drive) && rtl::os::RootMount(source, type) && IsNetworkFileSystem(type);
}

bool DriveReady(char drive) {
  rtl::os::DiskSpace space;
  return IsDriveC(drive) && rtl::os::RootDiskSpace(space);
}

int DriveNum(char drive) { return static_cast<unsigned char>(drive) % 32; }

std::string GetWinDir() { return rtl::os::SystemConfigFolder(); }

std::string GetSysDir() { return "/usr/bin"; }

std::string GetTmpDir() { return rtl::os::TempFolder(); }

std::string GetExeDir() { return rtl::ExtractFilePath(rtl::os::ExecutablePath()); }

std::string GetDOSName(const std::string& path) {
  rtl::os::FileInfo info;
  if (path.empty() || !rtl::os::Stat(path, info)) return "";
  return path;
}

std::string GetWinName(const std::string& path) {
  std::string name = rtl::ExtractFileName(path);
  if (name.empty()) return "";
  if (name.find_first_of("*?") == std::string::npos) {
    rtl::os::FileInfo info;
    return rtl::os::Stat(path, info) ? name : "";
  }
  std::string dir = rtl::ExtractFilePath(path);
  std::vector<rtl::TSearchRec> found = rtl::FindFiles(dir.empty() ? "." : dir, name);
  return found.empty() ? "" : found.front().Name;
}

std::string GetTmpFile(const std::string& dir, const std::string& prefix) {
  if (dir.empty()) return "";
  std::string stem = prefix.substr(0, 3);
  std::replace(stem.begin(), stem.end(), '/', '_');
  std::string name = rtl::IncludeTrailingPathDelimiter(dir) + stem + "XXXXXX.tmp";
  return rtl::os::CreateUniqueFile(name, 4) == 0 ? name : "";
}

std::string GetFileDate(const std::string& path) {
  rtl::os::FileInfo info;
  if (path.empty() || !rtl::os::Stat(path, info)) return "";
  return DateTimeText(rtl::UnixTimeToDateTime(info.mtime_sec));
}

std::string GetDocType(const std::string& ext) {
  if (ext.empty() || ext.find('\\') != std::string::npos) return "";
  std::string type = StoreDefaultValue(kHKeyClassesRoot, ext);
  if (type.empty() || type.find('\\') != std::string::npos) return "";
  return StoreDefaultValue(kHKeyClassesRoot, type);
}

bool SetFileLock(int fd, std::int64_t offset, std::int64_t length) {
  return detail::LockRangeWithin(fd, offset, length, 15000, 110);
}

bool ClrFileLock(int fd, std::int64_t offset, std::int64_t length) {
  if (offset < 0 || length < 1) return false;
  return ApplyRangeLock(fd, rtl::os::RangeLock::Unlock, offset, length) == 0;
}

// ---- Processes and the desktop ----

bool UniqueApp(const std::string& name) {
  std::string path = RuntimePath("lock", name, false, 4095);
  if (path.empty()) return false;
  int fd = rtl::os::OpenPrivateFile(path);
  if (fd < 0) return false;
  if (rtl::os::LockWholeFile(fd) != 0) {
    rtl::os::Close(fd);
    return false;
  }
  InstanceLocks& locks = Instances();
  std::lock_guard<std::mutex> guard(locks.lock);
  locks.fds_.push_back(fd);
  return true;
}

int GetProcID(std::uintptr_t window) { return static_cast<int>(rtl::os::WindowProcessId(window)); }

std::string GetWinClass(const std::string& title) { return rtl::os::WindowClassByTitle(title); }

bool SetAppPriority(unsigned priority_class) {
  int nice_value;
  switch (priority_class) {
    case kIdlePriorityClass: nice_value = 19; break;
    case kBelowNormalPriorityClass: nice_value = 10; break;
    case kNormalPriorityClass: nice_value = 0; break;
    case kAboveNormalPriorityClass: nice_value = -5; break;
    case kHighPriorityClass: nice_value = -10; break;
    case kRealtimePriorityClass: nice_value = -20; break;
    default: return false;
  }
  return rtl::os::SetNiceForAllThreads(nice_value);
}

bool SpeakerBeep() {
  GuiHooks hooks = GetGuiHooks();
  if (!hooks.beep) return false;
  hooks.beep();
  return true;
}

void KillOLE() {}

bool ReBoot() { return rtl::os::EndSession(rtl::os::SessionEnd::kReboot); }

bool StartSelect(int key) { return rtl::os::PressWithSystemKey(key); }

int InPort(unsigned port) { return rtl::os::ReadPortByte(port); }

bool OutPort(std::uint8_t value, unsigned port) { return rtl::os::WritePortByte(port, value); }

std::string GetDefaultPrn() {
  GuiHooks hooks = GetGuiHooks();
  return hooks.default_printer ? hooks.default_printer() : "";
}

std::string GetPrinters() {
  GuiHooks hooks = GetGuiHooks();
  if (!hooks.printer_names) return "";
  std::string joined;
  for (const std::string& name : hooks.printer_names()) {
    if (!joined.empty()) joined += ';';
    joined += name;
  }
  return joined;
}

std::string GetBuildInfo(const std::string& path) {
  // A Windows program or library ("MZ") whose version resource holds the
  // fixed file information: signature FEEF04BD, structure version 1.0, then
  // the two file-version numbers.
  constexpr std::int64_t kLargest = 64 << 20;
  std::int64_t size = rtl::FileSize(path);
  if (size < 2 || size > kLargest) return "";
  std::string data = ReadSmallFile(path);
  if (data.size() < 2 || data[0] != 'M' || data[1] != 'Z') return "";
  const char* bytes = data.data();
  for (size_t at = 0; at + 16 <= data.size(); at += 4) {
    if (rtl::DecodeFixed32(bytes + at) != 0xFEEF04BDu || rtl::DecodeFixed32(bytes + at + 4) != 0x00010000u) continue;
    std::uint32_t ms = rtl::DecodeFixed32(bytes + at + 8), ls = rtl::DecodeFixed32(bytes + at + 12);
    return std::to_string(ms >> 16) + "." + std::to_string(ms & 0xFFFF) + "." +
           std::to_string(ls >> 16) + "." + std::to_string(ls & 0xFFFF);
  }
  return "";
}

std::string GetKeyValues(unsigned root, const std::string& key, const std::string& names) {
  std::vector<std::string> parts;
  if (!RegistryStore::FullKey(root, key, parts)) return kKeyError;
  RegistryStore store;
  if (!store.KeyExists(parts)) return kKeyError;
  const char delimiter = GetDelimiter();
  std::vector<std::string> values;
  if (names == "?") {
    values = store.Subkeys(parts);
  } else {
    int pos = 1;
    do {
      std::string name = Parse(names, ",", pos);
      std::string text;
      values.push_back(ValueText(store.Value(parts, name), text) ? text : "?");
    } while (pos != 0);
  }
  std::string joined;
  for (size_t i = 0; i < values.size(); ++i) {
    if (i > 0) joined += delimiter;
    joined += values[i];
  }
  return joined;
}

std::vector<std::string> GetSubkeyList(unsigned root, const std::string& key) {
  std::vector<std::string> parts;
  if (!RegistryStore::FullKey(root, key, parts)) return {};
  return RegistryStore().Subkeys(parts);
}

bool GetKeyValue(unsigned root, const std::string& key, const std::string& name, std::string& text) {
  std::vector<std::string> parts;
  if (!RegistryStore::FullKey(root, key, parts)) return false;
  return ValueText(RegistryStore().Value(parts, name), text);
}

std::vector<std::string> GetValueList(unsigned root, const std::string& key) {
  std::vector<std::string> parts;
  if (!RegistryStore::FullKey(root, key, parts)) return {};
  RegistryStore store;
  std::vector<std::string> texts;
  for (const std::string& name : store.ValueNames(parts)) {
    std::string text;
    if (ValueText(store.Value(parts, name), text)) texts.push_back(text);
  }
  return texts;
}

bool ClrStringLocks() { return false; }

void SetQuotes(char open_quote, char close_quote) {
  MutableState().OpenQuote = open_quote;
  MutableState().CloseQuote = close_quote;
}

// ---- Clipboard ----

bool SetClipText(const std::string& text) {
  if (text.empty()) return false;
  GuiHooks hooks = GetGuiHooks();
  return hooks.set_clipboard_text && hooks.set_clipboard_text(text);
}

std::string GetClipText() {
  GuiHooks hooks = GetGuiHooks();
  std::string text;
  if (!hooks.get_clipboard_text || !hooks.get_clipboard_text(text)) return "";
  return text;
}

// ---- Linux places ----

std::string GetRuntimeDir() {
  std::string dir = rtl::os::RuntimeFolder();
  return rtl::os::EnsurePrivateDir(dir) ? dir : "";
}

std::string RuntimePath(const std::string& subfolder, const std::string& name, bool fold_case,
                        std::size_t max_path) {
  if (name.empty()) return "";
  std::string dir = GetRuntimeDir();
  if (dir.empty()) return "";
  if (!subfolder.empty()) {
    dir += "/" + subfolder;
    if (!rtl::os::EnsurePrivateDir(dir)) return "";
  }
  const std::string folded = fold_case ? rtl::LowerCase(name) : name;
  std::string encoded;
  for (unsigned char c : folded) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
        c == '_') {
      encoded += static_cast<char>(c);
    } else {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", c);
      encoded += hex;
    }
  }
  constexpr size_t kNameMax = 255;
  size_t room = max_path > dir.size() + 1 ? max_path - dir.size() - 1 : 0;
  room = std::min(room, kNameMax);
  if (encoded.size() > room) {
    constexpr size_t kHashLength = 17;  // "~" and 16 hex digits
    if (room < kHashLength + 1) return "";
    char hash[kHashLength + 1];
    std::snprintf(hash, sizeof hash, "~%016llx", static_cast<unsigned long long>(Fnv1a(folded)));
    encoded = encoded.substr(0, room - kHashLength) + hash;
  }
  return dir + "/" + encoded;
}

std::string GetRegistryFile() {
  const std::string base = rtl::os::ConfigHome();
  return base.empty() ? std::string() : base + "/quorvane/registry.ini";
}

}  // namespace textutil
