#include "platform/runtime/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <filesystem>

#include "platform/runtime/cp1252.h"
#include "platform/runtime/dates.h"
#include "platform/runtime/exceptions.h"
#include "platform/runtime/os_files.h"
#include "platform/runtime/streams.h"
#include "platform/runtime/sysutils.h"

namespace rtl {

namespace {
size_t NameStart(std::string_view file_name) {
  size_t slash = file_name.rfind(kPathDelim);
  return slash == std::string_view::npos ? 0 : slash + 1;
}

// Position of the extension's dot, or npos.
size_t ExtStart(std::string_view file_name) {
  size_t dot = file_name.rfind('.');
  if (dot == std::string_view::npos || dot < NameStart(file_name)) return std::string_view::npos;
  return dot;
}
}  // namespace

std::string ExtractFilePath(std::string_view file_name) {
  return std::string(file_name.substr(0, NameStart(file_name)));
}

std::string ExtractFileDir(std::string_view file_name) {
  size_t start = NameStart(file_name);
  if (start == 0) return "";
  if (start == 1) return "/";
  return std::string(file_name.substr(0, start - 1));
}

std::string ExtractFileName(std::string_view file_name) {
  return std::string(file_name.substr(NameStart(file_name)));
}

std::string ExtractFileExt(std::string_view file_name) {
  size_t dot = ExtStart(file_name);
  return dot == std::string_view::npos ? std::string() : std::string(file_name.substr(dot));
}

std::string ChangeFileExt(std::string_view file_name, std::string_view ext) {
  size_t dot = ExtStart(file_name);
  std::string out(file_name.substr(0, dot == std::string_view::npos ? file_name.size() : dot));
  out += ext;
  return out;
}

std::string IncludeTrailingPathDelimiter(std::string_view path) {
  std::string out(path);
  if (out.empty() || out.back() != kPathDelim) out += kPathDelim;
  return out;
}

std::string ExcludeTrailingPathDelimiter(std::string_view path) {
  std::string out(path);
  if (out.size() > 1 && out.back() == kPathDelim) out.pop_back();
  return out;
}

std::string ExpandFileName(std::string_view file_name) {
  std::error_code ec;
  std::filesystem::path p = std::filesystem::absolute(std::filesystem::path(std::string(file_name)), ec);
  if (ec) return std::string(file_name);
  std::string out = p.lexically_normal().string();
  if (out.size() > 1 && out.back() == kPathDelim && !file_name.empty() && file_name.back() != kPathDelim)
    out.pop_back();
  return out;
}

bool FileExists(const std::string& file_name) {
  struct stat st;
  return ::stat(file_name.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool DirectoryExists(const std::string& dir) {
  struct stat st;
  return ::stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool DeleteFile(const std::string& file_name) { return ::unlink(file_name.c_str()) == 0; }

bool RenameFile(const std::string& old_name, const std::string& new_name) {
  if (::renameat2(AT_FDCWD, old_name.c_str(), AT_FDCWD, new_name.c_str(), RENAME_NOREPLACE) == 0)
    return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  // File systems without RENAME_NOREPLACE: test, then rename.
  struct stat st;
  if (::lstat(new_name.c_str(), &st) == 0) return false;
  return ::rename(old_name.c_str(), new_name.c_str()) == 0;
}

bool CreateDir(const std::string& dir) { return ::mkdir(dir.c_str(), 0777) == 0; }
bool RemoveDir(const std::string& dir) { return ::rmdir(dir.c_str()) == 0; }

bool ForceDirectories(const std::string& dir) {
  if (dir.empty()) return false;
  std::error_code ec;
  std::filesystem::create_directories(std::filesystem::path(dir), ec);
  return DirectoryExists(dir);
}

std::string GetCurrentDir() {
  std::error_code ec;
  auto p = std::filesystem::current_path(ec);
  return ec ? std::string() : p.string();
}

std::int64_t FileSize(const std::string& file_name) {
  struct stat st;
  if (::stat(file_name.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return -1;
  return st.st_size;
}

bool MatchesMask(std::string_view name, std::string_view pattern) {
  // Iterative wildcard match with one back-tracking point for the last '*'.
  size_t n = 0, p = 0, star = std::string_view::npos, mark = 0;
  auto same = [](char a, char b) {
    return CharUpper(static_cast<unsigned char>(a)) == CharUpper(static_cast<unsigned char>(b));
  };
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      mark = n;
    } else if (p < pattern.size() && (pattern[p] == '?' || same(pattern[p], name[n]))) {
      ++p;
      ++n;
    } else if (star != std::string_view::npos) {
      p = star + 1;
      n = ++mark;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

std::vector<TSearchRec> FindFiles(const std::string& dir, std::string_view pattern, bool ask_writable) {
  std::vector<TSearchRec> found;
  DIR* d = ::opendir(dir.empty() ? "." : dir.c_str());
  if (d == nullptr) return found;
  std::string prefix = dir.empty() ? std::string() : IncludeTrailingPathDelimiter(dir);
  while (struct dirent* e = ::readdir(d)) {
    std::string name = e->d_name;
    if (name == "." || name == ".." || !MatchesMask(name, pattern)) continue;
    std::string full = prefix + name;
    struct stat st;
    if (::stat(full.c_str(), &st) != 0 && ::lstat(full.c_str(), &st) != 0) continue;
    TSearchRec rec;
    rec.Name = name;
    rec.Size = S_ISDIR(st.st_mode) ? 0 : st.st_size;
    if (S_ISDIR(st.st_mode)) rec.Attr |= faDirectory;
    else if (S_ISREG(st.st_mode)) rec.Attr |= faArchive;
    else rec.Attr |= faSysFile;
    if (name[0] == '.') rec.Attr |= faHidden;
    if (ask_writable && ::access(full.c_str(), W_OK) != 0 && errno == EACCES) rec.Attr |= faReadOnly;
    rec.Mode = static_cast<std::uint32_t>(st.st_mode & 07777);
    rec.Time = UnixTimeToDateTime(st.st_mtim.tv_sec, static_cast<int>(st.st_mtim.tv_nsec / 1000000));
    found.push_back(std::move(rec));
  }
  ::closedir(d);
  std::sort(found.begin(), found.end(), [](const TSearchRec& a, const TSearchRec& b) {
    int c = AnsiCompareText(a.Name, b.Name);
    return c != 0 ? c < 0 : a.Name < b.Name;
  });
  return found;
}

std::vector<std::string> ListFiles(const std::string& dir, std::string_view pattern) {
  std::vector<std::string> names;
  for (auto& rec : FindFiles(dir, pattern))
    if (!(rec.Attr & (faDirectory | faSysFile))) names.push_back(rec.Name);
  return names;
}

namespace {

std::string SaveError(const std::string& file_name, const std::string& reason) {
  return "Cannot save \"" + PathToText(file_name) + "\": " + reason;
}

// Writes all of data at the descriptor's position; 0 or an errno value.
int WriteAll(int fd, std::string_view data) {
  size_t done = 0;
  while (done < data.size()) {
    const std::int64_t n = os::WriteSome(fd, data.data() + done, data.size() - done);
    if (n < 0) return static_cast<int>(-n);
    if (n == 0) return ENOSPC;
    done += static_cast<size_t>(n);
  }
  return 0;
}

int FlushFile(int fd) { return ::fsync(fd) != 0 && errno != EINVAL && errno != EROFS ? errno : 0; }

// A new, empty file with a short random name in dir, 0600: its descriptor
// (name set) or -errno. The name stays short whatever the target's is.
int MakeTempBeside(const std::string& dir, std::string& name) {
  name = IncludeTrailingPathDelimiter(dir.empty() ? "." : dir) + ".qvXXXXXX";
  const int fd = ::mkostemp(name.data(), O_CLOEXEC);
  return fd < 0 ? -errno : fd;
}

// Writes data over the file in place, after a backup copy of its old bytes
// beside it (hard links and owners stay as they are).
void SaveInPlace(const std::string& file_name, const std::string& target, std::string_view data) {
  const std::string old = LoadFileToString(target);
  std::string backup;
  int bfd = MakeTempBeside(ExtractFileDir(target), backup);
  if (bfd < 0) throw EFCreateError(SaveError(file_name, "no backup copy can be made: " + os::ErrorText(-bfd)));
  int err = WriteAll(bfd, old);
  if (err == 0) err = FlushFile(bfd);
  ::close(bfd);
  if (err != 0) {
    ::unlink(backup.c_str());
    throw EWriteError(SaveError(file_name, "no backup copy can be made: " + os::ErrorText(err)));
  }
  int fd;
  do {
    fd = ::open(target.c_str(), O_WRONLY | O_CLOEXEC | O_NONBLOCK);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    err = errno;
    ::unlink(backup.c_str());
    throw EWriteError(SaveError(file_name, os::ErrorText(err)));
  }
  err = WriteAll(fd, data);
  if (err == 0 && ::ftruncate(fd, static_cast<off_t>(data.size())) != 0) err = errno;
  if (err == 0) err = FlushFile(fd);
  if (err != 0) {
    // Put the old bytes back; should that fail too, the backup stays.
    bool restored = ::lseek(fd, 0, SEEK_SET) == 0 && WriteAll(fd, old) == 0 &&
                    ::ftruncate(fd, static_cast<off_t>(old.size())) == 0 && FlushFile(fd) == 0;
    ::close(fd);
    if (restored) ::unlink(backup.c_str());
    throw EWriteError(SaveError(file_name, os::ErrorText(err) +
                                               (restored ? "" : "; the old text is in \"" + PathToText(backup) + "\"")));
  }
  ::close(fd);
  ::unlink(backup.c_str());
}

}  // namespace

void SaveFileSafely(const std::string& file_name, std::string_view data) {
  // Write through a symbolic link to its target, so the link survives.
  std::string target = file_name;
  os::FileOwner owner;
  const bool existed = os::StatOwner(file_name, owner);
  if (existed) {
    if (char* resolved = ::realpath(file_name.c_str(), nullptr)) {
      target = resolved;
      ::free(resolved);
    }
    // Refused as the platform's own file creation refuses them.
    if (owner.directory) throw EFCreateError(SaveError(file_name, "it is a folder"));
    if (!owner.regular) throw EFCreateError(SaveError(file_name, "it is not a file"));
    if (::access(target.c_str(), W_OK) != 0) {
      const int err = errno;
      throw EFCreateError(SaveError(file_name, err == EACCES || err == EPERM ? "the file is read-only" : os::ErrorText(err)));
    }
    if (owner.links > 1) return SaveInPlace(file_name, target, data);
  }

  std::string temp;
  const int fd = MakeTempBeside(ExtractFileDir(target), temp);
  if (fd < 0) throw EFCreateError("Cannot create file \"" + PathToText(file_name) + "\". " + os::ErrorText(-fd));
  auto fail = [&](int err) {
    ::close(fd);
    ::unlink(temp.c_str());
    throw EWriteError("Cannot write file \"" + PathToText(file_name) + "\". " + os::ErrorText(err));
  };
  if (existed) {
    if (os::SetOwner(fd, owner) != 0) {
      // The replacement could not keep the old owner: write in place.
      ::close(fd);
      ::unlink(temp.c_str());
      return SaveInPlace(file_name, target, data);
    }
  } else {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    if (::fchmod(fd, 0666 & ~mask) != 0) { /* keep the private mode */ }
  }
  if (int err = WriteAll(fd, data)) fail(err);
  if (int err = FlushFile(fd)) fail(err);
  if (::close(fd) != 0) {
    int err = errno;
    ::unlink(temp.c_str());
    throw EWriteError("Cannot write file \"" + PathToText(file_name) + "\". " + os::ErrorText(err));
  }
  if (::rename(temp.c_str(), target.c_str()) != 0) {
    int err = errno;
    ::unlink(temp.c_str());
    throw EWriteError("Cannot write file \"" + PathToText(file_name) + "\". " + os::ErrorText(err));
  }
  os::SyncFolder(ExtractFileDir(target));
}

std::string PathToText(std::string_view path) { return Utf8ToCp1252(path); }

std::string TextToPath(std::string_view text) { return Cp1252ToUtf8(text); }

std::string LoadFileToString(const std::string& file_name) {
  TFileStream stream(file_name, fmOpenRead);
  return stream.ReadToEnd();
}

}  // namespace rtl
