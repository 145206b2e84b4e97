// System and environment routines: the user, the machine, drives,
// directories and files, memory, the registry store, the single-instance
// guard, file byte-range locks, the clipboard and printers.
//
// On Linux:
//  - The user and machine come from getpwuid, uname, getifaddrs and
//    /sys/class/net; memory from /proc/meminfo; drives from statvfs. Linux
//    has one file tree: it is the one drive "C", rooted at "/".
//  - Registry reads go to the registry store, an INI-style file in the
//    user's configuration folder (format at the top of system.cpp).
//  - The single-instance guard is an flock on a lock file in the per-user
//    runtime folder.
//  - The clipboard, the beep and the printer names go through the GUI hooks
//    (gui_hooks.h).
//  - Windows are looked up and keys injected on an X11 display, rebooting
//    asks the service manager and I/O ports need ioperm (each routine says
//    what it answers without them); what has no Linux meaning (OLE,
//    patching the runtime's string locks) does nothing and answers its
//    failure value.
// Failures answer "" or false unless a routine says otherwise.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace textutil {

// Roots of the registry, with the numbers callers pass for them.
inline constexpr unsigned kHKeyClassesRoot = 0x80000000u;
inline constexpr unsigned kHKeyCurrentUser = 0x80000001u;
inline constexpr unsigned kHKeyLocalMachine = 0x80000002u;
inline constexpr unsigned kHKeyUsers = 0x80000003u;
inline constexpr unsigned kHKeyCurrentConfig = 0x80000005u;

// Priority classes for SetAppPriority.
inline constexpr unsigned kIdlePriorityClass = 0x40;
inline constexpr unsigned kBelowNormalPriorityClass = 0x4000;
inline constexpr unsigned kNormalPriorityClass = 0x20;
inline constexpr unsigned kAboveNormalPriorityClass = 0x8000;
inline constexpr unsigned kHighPriorityClass = 0x80;
inline constexpr unsigned kRealtimePriorityClass = 0x100;

// What GetKeyValues answers when the key cannot be opened.
inline constexpr const char* kKeyError = "!ERROR";

// ---- User, machine and network ----

// The user name of the process (effective user), at most 259 characters.
std::string GetUser();
// The network user name: on Linux the same as GetUser.
std::string GetNetUser();
// The host name.
std::string GetComputer();
// The first IPv4 address of an interface that is up and not the loopback,
// as "a.b.c.d"; "" when IsNetWork is false.
std::string GetLocalIP();
// The hardware address of the first network adapter (by name, loopback
// excluded) as six decimal byte values joined by "."; "" when none.
std::string GetNICAddr();
// The workgroup, read from the registry store (HKEY_LOCAL_MACHINE
// "System\CurrentControlSet\Services\VxD\VNETSUP", value "Workgroup");
// "!ERROR" when the store lacks the key.
std::string GetDomain();
// True when a network interface other than the loopback is up.
bool IsNetWork();
// False: this is not the NT platform.
bool IsWinNT();
// The processor type as text: "80386", "80486", "80586" on the x86 family
// (x86-64 included), else the machine name uname reports.
std::string GetCPU();
// Total physical memory in KB, memory load in per cent, total swap in KB
// and the per cent of swap in use (0 without swap). All 0 when the kernel's
// figures cannot be read.
void GetMemStatus(int& total_kb, int& load_percent, int& swap_total_kb,
                  int& swap_used_percent);
// The low 32 bits of a monotonic counter running at GetFreq ticks a second
// (10 MHz).
unsigned GetFreq();
unsigned GetCount();
// The system's installation date as date-time text, from the 4-byte DOS
// date-time of "FirstInstallDateTime" under HKEY_LOCAL_MACHINE
// "SOFTWARE\Microsoft\Windows\CurrentVersion" in the registry store; ""
// unless the value has 4 bytes that make a valid date.
std::string WinstallDate();
// True when the process has a controlling terminal.
bool IsConsole();

// ---- Drives, directories and files ----

// "C": the one drive of Linux, the file tree under "/".
std::string GetDrives();
// Block size and free (for the user) and total blocks of the drive; the
// counts are capped at 2^32 - 1. False, all 0, for a drive other than C.
bool GetDisk(char drive, unsigned& cluster_size, unsigned& free_clusters,
             unsigned& total_clusters);
// The drive's file-system label, file-system type and a 32-bit serial
// number. False, both names "" and the serial 0, on failure.
bool GetVolume(char drive, std::string& volume_name, std::string& fs_name,
               unsigned& serial);
// True when the drive's file system is a network one (NFS, SMB, ...).
bool RemoteDrive(char drive);
// True when the drive's file system answers.
bool DriveReady(char drive);
// The letter's code mod 32: A or a gives 1, C gives 3.
int DriveNum(char drive);
// The system's configuration folder "/etc" (the table storage library's
// GetWindowsPath answers the same) and program folder "/usr/bin".
std::string GetWinDir();
std::string GetSysDir();
// The temporary folder ($TMPDIR, else "/tmp") with a trailing "/"; a TMPDIR
// longer than 260 characters (with its "/") is refused, never cut.
std::string GetTmpDir();
// The folder of the running executable with a trailing "/".
std::string GetExeDir();
// Linux has no short names: the path itself when it exists, else "".
std::string GetDOSName(const std::string& path);
// The name (without folder) of the file the path names; the path may hold
// the wildcards '*' and '?' in its last part, which give the first match in
// name order. "" when nothing matches.
std::string GetWinName(const std::string& path);
// Creates a new empty file "<dir>/<first 3 characters of prefix>XXXXXX.tmp"
// and answers its path; "" when it cannot be created.
std::string GetTmpFile(const std::string& dir, const std::string& prefix);
// The file's modification time as date-time text; "" when it does not exist.
std::string GetFileDate(const std::string& path);
// The document type name of an extension such as ".txt": the registry
// store's default value of HKEY_CLASSES_ROOT\<ext> names a type key whose
// default value is the answer.
std::string GetDocType(const std::string& ext);
// Locks length bytes from offset of the open file fd for writing, retrying
// every 110 ms for up to 15 s while another holder has the range. The lock
// belongs to fd's open file description, so it conflicts with locks taken
// through other opens of the file even in the same process. A length or
// offset below 1 or 0 is refused.
bool SetFileLock(int fd, std::int64_t offset, std::int64_t length);
bool ClrFileLock(int fd, std::int64_t offset, std::int64_t length);

// ---- Processes and the desktop ----

// Takes the single-instance lock of the name for the rest of the process.
// False when another open (another process, or an earlier call here) holds
// it, or when the name is empty or the runtime folder is unusable.
bool UniqueApp(const std::string& name);
// On an X11 display: the process id (_NET_WM_PID) of the window with that
// X window id; -1 when it is no window, names no process or there is no
// display.
int GetProcID(std::uintptr_t window);
// On an X11 display: the class (of WM_CLASS) of the top-level window with
// that title; "" when none or without a display.
std::string GetWinClass(const std::string& title);
// Sets the nice value of every thread of the process for the priority
// class (idle 19, below normal 10, normal 0, above normal -5, high -10,
// realtime -20). False for an unknown class or when the system refuses.
bool SetAppPriority(unsigned priority_class);
// Beeps through the GUI hook; false without one.
bool SpeakerBeep();
// Nothing to unload.
void KillOLE();
// Asks the service manager to reboot the machine ("systemctl reboot", no
// password asked); false when the command fails or is refused.
bool ReBoot();
// On an X11 display with the X Test extension: presses the system key
// (the Windows key) around a press and release of the key of the
// virtual-key code; false otherwise.
bool StartSelect(int key);
// One byte of an I/O port, read or written directly on x86 where the
// process has the right (ioperm); InPort answers -1 and OutPort false
// otherwise.
int InPort(unsigned port);
bool OutPort(std::uint8_t value, unsigned port);
// The default printer and all printer names joined by ";", through the GUI
// hooks; "" without them.
std::string GetDefaultPrn();
std::string GetPrinters();
// The file version "a.b.c.d" of a file carrying a Windows version resource
// (the fixed file information block); "" for any other file.
std::string GetBuildInfo(const std::string& path);
// Reads values of a key of the registry store. names "?" lists the key's
// subkeys; otherwise names is a comma-separated list of value names whose
// values are joined by the Delimiter character: a 4-byte number as decimal
// text, a string as it is, raw bytes as they are, "?" for a missing value.
// "!ERROR" when the key does not exist.
std::string GetKeyValues(unsigned root, const std::string& key,
                         const std::string& names);
// The subkeys of a key of the registry store, in the order of the file;
// empty when the key does not exist.
std::vector<std::string> GetSubkeyList(unsigned root, const std::string& key);
// The text of one value as GetKeyValues gives it ("" or "@" names the
// default value); false when the key or the value is missing or unreadable.
bool GetKeyValue(unsigned root, const std::string& key, const std::string& name,
                 std::string& text);
// The texts of every readable value of a key, in the order of the file.
std::vector<std::string> GetValueList(unsigned root, const std::string& key);
// Strings here own their characters; there are no runtime locks to
// remove: false, nothing done.
bool ClrStringLocks();
// Sets the quote characters of the quote-aware scans.
void SetQuotes(char open_quote, char close_quote);

// ---- Clipboard (through the GUI hooks) ----

// False for empty text or without a hook.
bool SetClipText(const std::string& text);
// "" when the clipboard holds no text or there is no hook.
std::string GetClipText();

// ---- Linux places ----

// The per-user runtime folder ($XDG_RUNTIME_DIR/quorvane, else
// /tmp/quorvane-<uid>), created private (mode 0700) on first use. "" when it
// cannot be created or is not a private folder of this user.
std::string GetRuntimeDir();
// The path of a file for an object called name in the subfolder of the
// runtime folder (created private too). Characters other than letters,
// digits, '-' and '_' are written as %XX; fold_case lowers ASCII letters
// first (for names that ignore case). A path longer than max_path ends in a
// hash of the name instead. "" when name is empty or the folder is unusable.
std::string RuntimePath(const std::string& subfolder, const std::string& name,
                        bool fold_case, std::size_t max_path);
// The registry store's file: $XDG_CONFIG_HOME/quorvane/registry.ini, else
// ~/.config/quorvane/registry.ini; "" when neither folder is known (an empty
// HOME counts as unset), and every key is then missing.
std::string GetRegistryFile();

namespace detail {
// SetFileLock with a chosen waiting time and pause between tries.
bool LockRangeWithin(int fd, std::int64_t offset, std::int64_t length, int timeout_ms,
                     int retry_ms);
}  // namespace detail

}  // namespace textutil
