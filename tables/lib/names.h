// Names and paths of the engine's files, short-string and zero-terminated
// string helpers, temporary names, raw disk copies and the table version
// text.
//
// Paths use '/' as the directory delimiter; '\' is read as one too, so
// names built the old way still split correctly. Positions are 1-based with
// 0 for "not found".
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/runtime/dates.h"

namespace rtl {
class TLockedFile;
}

namespace korvex {

// ---- short strings ---------------------------------------------------------

std::string PadLeft(std::string_view s, int width, char c);
std::string PadRight(std::string_view s, int width, char c);
std::string Replicate(std::string_view s, int n);
std::string GetLeft(std::string_view s, int n);
std::string GetRight(std::string_view s, int n);
// n characters from the 1-based start.
std::string Substr(std::string_view s, int start, int n);
int At(std::string_view sub, std::string_view s);
int Rat(std::string_view sub, std::string_view s);
std::string StripSlash(std::string_view s);

// name without its extension (cut before the last '.' of the last part).
std::string ExtractFileRoot(std::string_view name);
// The last part of the name (after the last delimiter or ':') without its
// extension.
std::string StripFilePathAndExtension(std::string_view name);
// The part after the first ":\" (or ':'), else after the first delimiter.
std::string RemoveDriveRoot(std::string_view path);
// The trimmed name, with its extension replaced by (or given) ext unless it
// already has ext ignoring case. ext includes its dot.
std::string EnsureFileExt(std::string_view name, std::string_view ext);
// The trimmed path with one trailing delimiter (AddBS: the platform's '/',
// AddFS: '/') unless empty or already ending in one.
std::string AddBS(std::string_view path);
std::string AddFS(std::string_view path);
// The trimmed path without one trailing delimiter.
std::string RemoveBS(std::string_view path);
std::string RemoveFS(std::string_view path);
// The path up to its last delimiter (unchanged without one).
std::string RemoveLastDir(std::string_view path);
// True when the name holds ':' or a delimiter, or is empty.
bool ContainsDirectory(std::string_view name);

// The system's temporary directory ($TMPDIR, else /tmp) with a trailing '/'.
std::string GetTempFilePath();
// The system's configuration folder ("/etc"), which stands for the Windows
// folder: the same answer as the text utility library's GetWinDir.
std::string GetWindowsPath();
// Network (UNC) names do not exist here: always "".
std::string GetUNCDirectory(std::string_view path);

// mask "*" matches anything; a leading '*' matches any run; other
// characters must be equal ignoring case. '?' is an ordinary character.
bool MatchFile(std::string_view name, std::string_view mask);
bool FileNameExists(const std::string& name, bool in_memory);
void ListFiles(std::vector<std::string>& list, const std::string& mask, bool in_memory);
// Size and last-change time of a disk file; 0 when there is none.
std::int64_t SizeOfFile(const std::string& name);
rtl::TDateTime TimeStampOfFile(const std::string& name);

// A name that did not exist and is now reserved: the directory with a
// trailing delimiter, the first five digits of the thread ID, a number from
// 0 up and the extension. A disk name is reserved by creating the empty file
// (O_EXCL), a memory name by registering the empty memory file, so two
// callers never get the same name. "" when every number is taken.
std::string GetTempFileName(std::string_view directory, std::string_view extension, bool in_memory);

// "1.00", "1.02", "1.04", "1.08", "2.00" for versions 0 to 4, else "".
std::string VersionToStr(std::uint8_t version);

// ---- zero-terminated strings -----------------------------------------------

void TrimString(char* s, char c);
void LeftTrimString(char* s, char c);
void RightTrimString(char* s, char c);
int PosString(const char* sub, const char* s);
int OccursString(const char* sub, const char* s);
std::size_t CalculateReplaceSize(const char* find, const char* replace, const char* s);
// dest must hold CalculateReplaceSize + 1 bytes.
void ReplaceString(const char* find, const char* replace, const char* s, char* dest);

// ---- strings -----------------------------------------------------------------

std::string StripCRLFs(std::string_view s);
std::string StripQuotes(std::string_view s);
std::string ConvertDoubleQuotes(std::string_view s);

// ---- raw disk copies ---------------------------------------------------------
// 0, or -1 when a file cannot be opened or created or a transfer fails.

int CopyDiskFile(rtl::TLockedFile& file, const std::string& destination);
int CopyFromDiskFile(rtl::TLockedFile& file, const std::string& source);
int AppendDiskFile(const std::string& source, const std::string& destination);

}  // namespace korvex
