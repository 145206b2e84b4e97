#include "tables/lib/names.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/runtime/cp1252.h"
#include "platform/runtime/filelock.h"
#include "platform/runtime/files.h"
#include "platform/runtime/os_places.h"
#include "platform/runtime/os_process.h"
#include "platform/runtime/sysutils.h"
#include "tables/lib/abstract_file.h"
#include "tables/lib/allocator.h"
#include "tables/lib/file_list.h"
#include "tables/lib/support.h"

namespace korvex {
namespace {

bool IsDelimiter(char c) { return c == '/' || c == '\\'; }

std::size_t LastDelimiter(std::string_view s) {
  std::size_t a = s.rfind('/'), b = s.rfind('\\');
  if (a == std::string_view::npos) return b;
  if (b == std::string_view::npos) return a;
  return a > b ? a : b;
}

std::string Trimmed(std::string_view s) { return TrimFileName(std::string(s)); }

// Position of the extension's '.' in the last part of the name, or npos.
std::size_t ExtensionDot(std::string_view name) {
  std::size_t dot = name.rfind('.');
  std::size_t delimiter = LastDelimiter(name);
  if (dot == std::string_view::npos || (delimiter != std::string_view::npos && dot < delimiter))
    return std::string_view::npos;
  return dot;
}

std::string RemoveAll(std::string_view s, char c) {
  std::string out;
  for (char ch : s)
    if (ch != c) out += ch;
  return out;
}

std::string Undouble(std::string_view s, char quote) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    out += s[i];
    if (s[i] == quote && i + 1 < s.size() && s[i + 1] == quote) ++i;
  }
  return out;
}

// Copies `from` (from its start) into `to` at `offset` in blocks of 65,535
// bytes; the bytes copied, or -1.
std::int64_t CopyRaw(rtl::TLockedFile& from, rtl::TLockedFile& to, std::int64_t offset) {
  char* buffer = static_cast<char*>(SafeAlloc(kCopyBlockSize));
  std::int64_t done = 0;
  for (;;) {
    std::int64_t n = from.ReadAt(done, buffer, kCopyBlockSize);
    if (n < 0 || (n > 0 && to.WriteAt(offset + done, buffer, n) != n)) {
      done = -1;
      break;
    }
    done += n;
    if (n < kCopyBlockSize) break;
  }
  SafeFree(buffer);
  return done;
}

std::string ThreadPrefix() {
  std::string id = std::to_string(rtl::os::CurrentThreadId());
  return id.substr(0, 5);
}

const rtl::TSearchRec* FirstFile(const std::string& name, std::vector<rtl::TSearchRec>& found) {
  std::string path = TrimFileName(name);
  std::string dir = rtl::ExtractFilePath(path);
  found = rtl::FindFiles(dir.empty() ? "." : dir, rtl::ExtractFileName(path));
  for (const rtl::TSearchRec& entry : found)
    if ((entry.Attr & (rtl::faDirectory | rtl::faHidden | rtl::faSysFile)) == 0) return &entry;
  return nullptr;
}

}  // namespace

// ---- short strings ---------------------------------------------------------

std::string PadLeft(std::string_view s, int width, char c) {
  std::string out(s);
  if (static_cast<int>(out.size()) < width) out.insert(0, width - out.size(), c);
  return out;
}

std::string PadRight(std::string_view s, int width, char c) {
  std::string out(s);
  if (static_cast<int>(out.size()) < width) out.append(width - out.size(), c);
  return out;
}

std::string Replicate(std::string_view s, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += s;
  return out;
}

std::string GetLeft(std::string_view s, int n) {
  if (n <= 0) return {};
  return std::string(s.substr(0, static_cast<std::size_t>(n)));
}

std::string GetRight(std::string_view s, int n) {
  if (n <= 0) return {};
  if (static_cast<std::size_t>(n) >= s.size()) return std::string(s);
  return std::string(s.substr(s.size() - n));
}

std::string Substr(std::string_view s, int start, int n) {
  if (start < 1) start = 1;
  if (n <= 0 || static_cast<std::size_t>(start) > s.size()) return {};
  return std::string(s.substr(start - 1, static_cast<std::size_t>(n)));
}

int At(std::string_view sub, std::string_view s) {
  if (sub.empty()) return 0;
  std::size_t p = s.find(sub);
  return p == std::string_view::npos ? 0 : static_cast<int>(p) + 1;
}

int Rat(std::string_view sub, std::string_view s) {
  if (sub.empty()) return 0;
  std::size_t p = s.rfind(sub);
  return p == std::string_view::npos ? 0 : static_cast<int>(p) + 1;
}

std::string StripSlash(std::string_view s) { return RemoveAll(s, '/'); }

std::string ExtractFileRoot(std::string_view name) {
  std::size_t dot = ExtensionDot(name);
  return std::string(dot == std::string_view::npos ? name : name.substr(0, dot));
}

std::string StripFilePathAndExtension(std::string_view name) {
  std::size_t cut = LastDelimiter(name);
  std::size_t colon = name.rfind(':');
  if (colon != std::string_view::npos && (cut == std::string_view::npos || colon > cut)) cut = colon;
  std::string_view file = cut == std::string_view::npos ? name : name.substr(cut + 1);
  return ExtractFileRoot(file);
}

std::string RemoveDriveRoot(std::string_view path) {
  std::size_t colon = path.find(':');
  if (colon != std::string_view::npos) {
    std::size_t root = path.find(":\\");
    if (root == std::string_view::npos) root = path.find(":/");
    return std::string(root == std::string_view::npos ? path.substr(colon + 1) : path.substr(root + 2));
  }
  for (std::size_t i = 0; i < path.size(); ++i)
    if (IsDelimiter(path[i])) return std::string(path.substr(i + 1));
  return std::string(path);
}

std::string EnsureFileExt(std::string_view name, std::string_view ext) {
  std::string trimmed = Trimmed(name);
  std::size_t dot = ExtensionDot(trimmed);
  std::string_view current = dot == std::string::npos ? std::string_view{} : std::string_view(trimmed).substr(dot);
  if (rtl::AnsiSameText(current, ext)) return trimmed;
  return (dot == std::string::npos ? trimmed : trimmed.substr(0, dot)) + std::string(ext);
}

std::string AddBS(std::string_view path) {
  std::string trimmed = Trimmed(path);
  if (!trimmed.empty() && !IsDelimiter(trimmed.back())) trimmed += '/';
  return trimmed;
}

std::string AddFS(std::string_view path) {
  std::string trimmed = Trimmed(path);
  if (!trimmed.empty() && trimmed.back() != '/') trimmed += '/';
  return trimmed;
}

std::string RemoveBS(std::string_view path) {
  std::string trimmed = Trimmed(path);
  if (!trimmed.empty() && IsDelimiter(trimmed.back())) trimmed.pop_back();
  return trimmed;
}

std::string RemoveFS(std::string_view path) {
  std::string trimmed = Trimmed(path);
  if (!trimmed.empty() && trimmed.back() == '/') trimmed.pop_back();
  return trimmed;
}

std::string RemoveLastDir(std::string_view path) {
  std::size_t cut = LastDelimiter(path);
  return std::string(cut == std::string_view::npos ? path : path.substr(0, cut));
}

bool ContainsDirectory(std::string_view name) {
  return name.empty() || name.find(':') != std::string_view::npos || LastDelimiter(name) != std::string_view::npos;
}

std::string GetTempFilePath() { return rtl::os::TempFolder(); }

std::string GetWindowsPath() { return rtl::os::SystemConfigFolder(); }

std::string GetUNCDirectory(std::string_view path) { return {}; }

bool MatchFile(std::string_view name, std::string_view mask) {
  if (mask == "*") return true;
  if (name.empty()) return mask.empty();
  if (mask.empty()) return false;
  if (mask[0] == '*') return MatchFile(name, mask.substr(1)) || MatchFile(name.substr(1), mask);
  return rtl::CharUpper(static_cast<unsigned char>(name[0])) == rtl::CharUpper(static_cast<unsigned char>(mask[0])) &&
         MatchFile(name.substr(1), mask.substr(1));
}

bool FileNameExists(const std::string& name, bool in_memory) { return FileList().FileExists(name, in_memory); }

void ListFiles(std::vector<std::string>& list, const std::string& mask, bool in_memory) {
  FileList().GetFileNames(in_memory, mask, list);
}

std::int64_t SizeOfFile(const std::string& name) {
  std::vector<rtl::TSearchRec> found;
  const rtl::TSearchRec* entry = FirstFile(name, found);
  return entry ? entry->Size : 0;
}

rtl::TDateTime TimeStampOfFile(const std::string& name) {
  std::vector<rtl::TSearchRec> found;
  const rtl::TSearchRec* entry = FirstFile(name, found);
  return entry ? entry->Time : 0;
}

std::string GetTempFileName(std::string_view directory, std::string_view extension, bool in_memory) {
  std::string base = AddBS(directory) + ThreadPrefix();
  TFileList& files = FileList();
  for (int n = 0; n < 65536; ++n) {
    std::string candidate = base + std::to_string(n) + std::string(extension);
    if (in_memory) {
      files.LockFileList();
      bool reserved = false;
      if (!files.FileExists(candidate, true)) {
        TAbstractFile* file = nullptr;
        std::int32_t handle = files.CreateFile(candidate, true, file, false);
        if (handle > 0) files.CloseFile(file, true, handle);  // stays registered, empty
        reserved = handle > 0;
      }
      files.UnlockFileList();
      if (reserved) return candidate;
      continue;
    }
    if (files.FileExists(candidate, false)) continue;
    std::unique_ptr<rtl::TLockedFile> file;
    // Private, as every other temporary file: others may not read it.
    int rc = rtl::TLockedFile::Create(ResolveDiskPath(candidate, true), true, file, 0600);
    if (rc == 0) return candidate;  // closing keeps the empty file as the reservation
    if (rc != -EEXIST) return {};
  }
  return {};
}

std::string VersionToStr(std::uint8_t version) {
  static const char* const kVersions[] = {"1.00", "1.02", "1.04", "1.08", "2.00"};
  return version < 5 ? kVersions[version] : "";
}

// ---- zero-terminated strings -----------------------------------------------

void LeftTrimString(char* s, char c) {
  std::size_t n = 0;
  while (s[n] && s[n] == c) ++n;
  if (n > 0) std::memmove(s, s + n, std::strlen(s + n) + 1);
}

void RightTrimString(char* s, char c) {
  std::size_t n = std::strlen(s);
  while (n > 0 && s[n - 1] == c) s[--n] = '\0';
}

void TrimString(char* s, char c) {
  LeftTrimString(s, c);
  RightTrimString(s, c);
}

int PosString(const char* sub, const char* s) {
  if (!*sub) return 0;
  const char* p = std::strstr(s, sub);
  return p ? static_cast<int>(p - s) + 1 : 0;
}

int OccursString(const char* sub, const char* s) {
  std::size_t n = std::strlen(sub);
  if (n == 0) return 0;
  int count = 0;
  for (const char* p = std::strstr(s, sub); p; p = std::strstr(p + n, sub)) ++count;
  return count;
}

std::size_t CalculateReplaceSize(const char* find, const char* replace, const char* s) {
  std::size_t size = std::strlen(s);
  std::size_t occurrences = static_cast<std::size_t>(OccursString(find, s));
  return size + occurrences * std::strlen(replace) - occurrences * std::strlen(find);
}

void ReplaceString(const char* find, const char* replace, const char* s, char* dest) {
  std::size_t n = std::strlen(find), r = std::strlen(replace);
  if (n == 0) {
    std::memmove(dest, s, std::strlen(s) + 1);
    return;
  }
  std::string out;
  const char* p = s;
  for (const char* hit = std::strstr(p, find); hit; hit = std::strstr(p, find)) {
    out.append(p, hit);
    out.append(replace, r);
    p = hit + n;
  }
  out += p;
  std::memcpy(dest, out.c_str(), out.size() + 1);
}

// ---- strings -----------------------------------------------------------------

std::string StripCRLFs(std::string_view s) { return RemoveAll(RemoveAll(s, '\r'), '\n'); }
std::string StripQuotes(std::string_view s) { return RemoveAll(RemoveAll(s, '"'), '\''); }
std::string ConvertDoubleQuotes(std::string_view s) { return Undouble(Undouble(s, '"'), '\''); }

// ---- raw disk copies ---------------------------------------------------------

int CopyDiskFile(rtl::TLockedFile& file, const std::string& destination) {
  std::unique_ptr<rtl::TLockedFile> dest;
  if (rtl::TLockedFile::Create(destination, false, dest) < 0) return -1;
  return CopyRaw(file, *dest, 0) < 0 ? -1 : 0;
}

int CopyFromDiskFile(rtl::TLockedFile& file, const std::string& source) {
  std::unique_ptr<rtl::TLockedFile> src;
  if (rtl::TLockedFile::Open(source, rtl::FileAccess::Read, rtl::FileShare::Exclusive, src) < 0) return -1;
  std::int64_t copied = CopyRaw(*src, file, 0);
  if (copied < 0 || file.Truncate(copied) < 0) return -1;  // nothing of the old contents stays
  return 0;
}

int AppendDiskFile(const std::string& source, const std::string& destination) {
  std::unique_ptr<rtl::TLockedFile> src, dest;
  if (rtl::TLockedFile::Open(source, rtl::FileAccess::Read, rtl::FileShare::Shared, src) < 0) return -1;
  int rc = rtl::TLockedFile::Open(destination, rtl::FileAccess::ReadWrite, rtl::FileShare::Exclusive, dest);
  if (rc == -ENOENT) rc = rtl::TLockedFile::Create(destination, false, dest);
  if (rc < 0) return -1;
  std::int64_t end = dest->Size();
  if (end < 0) return -1;
  return CopyRaw(*src, *dest, end) < 0 ? -1 : 0;
}

}  // namespace korvex
