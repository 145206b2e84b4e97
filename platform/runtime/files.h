// File names and the file system: path parts ('/' is the delimiter),
// existence tests, directory listing and safe whole-file writes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace rtl {

inline constexpr char kPathDelim = '/';

// "dir/sub/name.ext": ExtractFilePath "dir/sub/", ExtractFileDir "dir/sub",
// ExtractFileName "name.ext", ExtractFileExt ".ext" (the part from the last
// '.' of the name; "" when the name has none).
std::string ExtractFilePath(std::string_view file_name);
std::string ExtractFileDir(std::string_view file_name);
std::string ExtractFileName(std::string_view file_name);
std::string ExtractFileExt(std::string_view file_name);
// Replaces the extension (or appends ext when there is none); ext includes
// its dot.
std::string ChangeFileExt(std::string_view file_name, std::string_view ext);
std::string IncludeTrailingPathDelimiter(std::string_view path);
// Drops one trailing '/', but never the root's.
std::string ExcludeTrailingPathDelimiter(std::string_view path);
// Absolute and without "." and ".." parts; the file need not exist.
std::string ExpandFileName(std::string_view file_name);

bool FileExists(const std::string& file_name);       // a file, not a directory
bool DirectoryExists(const std::string& dir);
bool DeleteFile(const std::string& file_name);
// Fails (false) when new_name exists already, as on the original platform.
bool RenameFile(const std::string& old_name, const std::string& new_name);
bool CreateDir(const std::string& dir);
bool RemoveDir(const std::string& dir);
// Creates dir and every missing parent; true when it exists afterwards.
bool ForceDirectories(const std::string& dir);
std::string GetCurrentDir();
// Size in bytes, -1 when the file does not exist.
std::int64_t FileSize(const std::string& file_name);

// Attribute bits of a directory entry. Linux has no archive bit: every
// regular file carries faArchive; faReadOnly marks a file the process may
// not write, faHidden a name beginning with '.', faSysFile anything that is
// neither a regular file nor a directory (devices, sockets, pipes).
enum : int {
  faReadOnly = 0x01,
  faHidden = 0x02,
  faSysFile = 0x04,
  faDirectory = 0x10,
  faArchive = 0x20,
};

struct TSearchRec {
  std::string Name;       // the entry's name, without the directory
  std::int64_t Size = 0;
  int Attr = 0;
  double Time = 0;        // last change, as a TDateTime in local time
  std::uint32_t Mode = 0;  // permission bits (07777)
};

// True when name matches pattern with '*' (any run) and '?' (one
// character), compared case-blind as file names were on the original
// platform ("*.txt" matches "A_BAP.TXT").
bool MatchesMask(std::string_view name, std::string_view pattern);

// The entries of dir whose names match pattern ("." and ".." left out),
// ordered by name case-blind, so that numbering by position is stable from
// run to run. A missing directory gives an empty list. Without
// ask_writable, faReadOnly is never set (the system is not asked whether
// this process may write each entry: one call less per entry).
std::vector<TSearchRec> FindFiles(const std::string& dir, std::string_view pattern, bool ask_writable = true);
// The names of the regular files of dir that match pattern, in the same order.
std::vector<std::string> ListFiles(const std::string& dir, std::string_view pattern);

// Replaces the file's contents with data so that a failure never leaves a
// truncated file. A symbolic link is followed (the link survives).
//  - A file the process may not write is refused: EFCreateError 'Cannot
//    save "<name>": the file is read-only' (or the system's reason), the
//    old file untouched. So is anything that is not a plain file.
//  - As a rule data goes to a temporary file with a short random name in
//    the same folder (".qv" + six characters), which takes the old file's
//    permission bits and owner, is flushed and renamed over the old file;
//    the folder is then flushed too.
//  - A file with more than one hard link, or whose owner the process cannot
//    give the temporary file, is written in place instead, after a backup
//    copy in the same folder, which puts the old bytes back when the write
//    fails and is removed afterwards.
// Raises EFCreateError when the temporary file cannot be created and
// EWriteError when writing or replacing fails; the old file is then
// unchanged and no temporary file is left behind.
void SaveFileSafely(const std::string& file_name, std::string_view data);

// A path (the file system's bytes, UTF-8 as a rule) as the program's text,
// for showing it inside page text and messages: a character Windows-1252
// lacks, or a byte that is no UTF-8, shows as '?'. Never open the result.
std::string PathToText(std::string_view path);
// A file name made from the program's text (Windows-1252), as the file
// system's bytes.
std::string TextToPath(std::string_view text);

// Whole-file read; EFOpenError when the file cannot be opened.
std::string LoadFileToString(const std::string& file_name);

}  // namespace rtl
