#include "tables/lib/names.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/runtime/dates.h"
#include "platform/runtime/filelock.h"
#include "platform/runtime/os_places.h"
#include "tables/lib/abstract_file.h"
#include "tables/lib/file_list.h"
#include "tables/lib/support.h"
#include "tests/tables/lib/lib_test_support.h"

namespace korvex {
namespace {

using testing::CountedTest;
using testing::ScratchDir;

class Names : public CountedTest {};

TEST_F(Names, ShortStringHelpers) {
  EXPECT_EQ(PadLeft("7", 3, '0'), "007");
  EXPECT_EQ(PadRight("ab", 4, '.'), "ab..");
  EXPECT_EQ(PadLeft("abcd", 2, '0'), "abcd");
  EXPECT_EQ(Replicate("ab", 3), "ababab");
  EXPECT_EQ(Replicate("ab", -1), "");
  EXPECT_EQ(GetLeft("abcdef", 2), "ab");
  EXPECT_EQ(GetRight("abcdef", 2), "ef");
  EXPECT_EQ(GetRight("ab", 5), "ab");
  EXPECT_EQ(Substr("abcdef", 2, 3), "bcd");
  EXPECT_EQ(Substr("abcdef", 9, 3), "");
  EXPECT_EQ(At("cd", "abcdcd"), 3);
  EXPECT_EQ(Rat("cd", "abcdcd"), 5);
  EXPECT_EQ(At("x", "abc"), 0);
  EXPECT_EQ(StripSlash("a/b/c"), "abc");
  EXPECT_EQ(VersionToStr(0), "1.00");
  EXPECT_EQ(VersionToStr(3), "1.08");
  EXPECT_EQ(VersionToStr(4), "2.00");
  EXPECT_EQ(VersionToStr(5), "");
}

TEST_F(Names, PathParts) {
  EXPECT_TRUE(ContainsDirectory(""));
  EXPECT_FALSE(ContainsDirectory("fams.DAT"));
  EXPECT_TRUE(ContainsDirectory("C:fams.DAT"));
  EXPECT_TRUE(ContainsDirectory("/home/me/fams.DAT"));
  EXPECT_TRUE(ContainsDirectory("data\\fams.DAT"));
  EXPECT_EQ(ExtractFileRoot("fams.DAT"), "fams");
  EXPECT_EQ(ExtractFileRoot("/data.old/fams"), "/data.old/fams");
  EXPECT_EQ(ExtractFileRoot("/data.old/fams.DAT"), "/data.old/fams");
  EXPECT_EQ(StripFilePathAndExtension("/data/fams.DAT"), "fams");
  EXPECT_EQ(StripFilePathAndExtension("C:fams.DAT"), "fams");
  EXPECT_EQ(RemoveDriveRoot("C:\\data\\fams.DAT"), "data\\fams.DAT");
  EXPECT_EQ(RemoveDriveRoot("C:fams.DAT"), "fams.DAT");
  EXPECT_EQ(RemoveDriveRoot("/data/fams.DAT"), "data/fams.DAT");
  EXPECT_EQ(RemoveDriveRoot("fams.DAT"), "fams.DAT");
  EXPECT_EQ(EnsureFileExt("fams", ".DAT"), "fams.DAT");
  EXPECT_EQ(EnsureFileExt(" fams.dat ", ".DAT"), "fams.dat");
  EXPECT_EQ(EnsureFileExt("fams.IDX", ".DAT"), "fams.DAT");
  EXPECT_EQ(EnsureFileExt("r.\xE9T", ".\xC9T"), "r.\xE9T");  // Windows-1252 letters compare case-blind
  EXPECT_EQ(EnsureFileExt("r.\xE9T", ".ET"), "r.ET");
  EXPECT_EQ(EnsureFileExt("/data.x/fams", ".DAT"), "/data.x/fams.DAT");
  EXPECT_EQ(AddBS(" /data "), "/data/");
  EXPECT_EQ(AddBS("/data/"), "/data/");
  EXPECT_EQ(AddBS(""), "");
  EXPECT_EQ(AddFS("data"), "data/");
  EXPECT_EQ(RemoveBS("/data/"), "/data");
  EXPECT_EQ(RemoveBS("data\\"), "data");
  EXPECT_EQ(RemoveFS("data/"), "data");
  EXPECT_EQ(RemoveLastDir("/a/b/c"), "/a/b");
  EXPECT_EQ(RemoveLastDir("abc"), "abc");
  EXPECT_EQ(GetUNCDirectory("/data"), "");
  EXPECT_EQ(GetTempFilePath().back(), '/');
  // The Windows folder is the system's configuration folder, the text
  // utility library's GetWinDir.
  EXPECT_EQ(GetWindowsPath(), rtl::os::SystemConfigFolder());
  EXPECT_EQ(GetWindowsPath(), "/etc");
  EXPECT_EQ(TrimFileName(" \t\x01" "fams .DAT\r\n "), "fams .DAT");  // every byte up to the blank
  EXPECT_EQ(TrimFileName("\xA0" "fams.DAT!"), "\xA0" "fams.DAT!");
  EXPECT_EQ(TrimFileName("  "), "");
}

TEST_F(Names, MatchFile) {
  EXPECT_TRUE(MatchFile("fams.DAT", "*.dat"));
  EXPECT_TRUE(MatchFile("fams.DAT", "f*"));
  EXPECT_FALSE(MatchFile("fams.DAT", "g*"));
  EXPECT_TRUE(MatchFile("fams.DAT", "*"));
  EXPECT_TRUE(MatchFile("", ""));
  EXPECT_FALSE(MatchFile("", "a"));
  EXPECT_FALSE(MatchFile("fams.DAT", "f?ms.DAT"));  // '?' is an ordinary character
  EXPECT_TRUE(MatchFile("f?ms.DAT", "F?MS.dat"));
  EXPECT_TRUE(MatchFile("fams.DAT", "*a*s*"));
  EXPECT_FALSE(MatchFile("fams.DAT", "*x*"));
}

TEST_F(Names, ZeroTerminatedHelpers) {
  char s[] = "xxabcxx";
  TrimString(s, 'x');
  EXPECT_STREQ(s, "abc");
  char t[] = "  a  ";
  RightTrimString(t, ' ');
  EXPECT_STREQ(t, "  a");
  LeftTrimString(t, ' ');
  EXPECT_STREQ(t, "a");
  EXPECT_EQ(PosString("lo", "hello lo"), 4);
  EXPECT_EQ(PosString("", "abc"), 0);
  EXPECT_EQ(OccursString("aa", "aaaaa"), 2);  // non-overlapping
  EXPECT_EQ(CalculateReplaceSize("a", "xyz", "banana"), 12u);
  char dest[32];
  ReplaceString("a", "xyz", "banana", dest);
  EXPECT_STREQ(dest, "bxyznxyznxyz");
  ReplaceString("na", "", "banana", dest);
  EXPECT_STREQ(dest, "ba");
  EXPECT_EQ(CalculateReplaceSize("na", "", "banana"), 2u);
  ReplaceString("q", "q", "same", dest);
  EXPECT_STREQ(dest, "same");
}

TEST_F(Names, QuotesAndLineBreaks) {
  EXPECT_EQ(StripCRLFs("a\r\nb\nc\r"), "abc");
  EXPECT_EQ(StripQuotes("'a' \"b\""), "a b");
  EXPECT_EQ(ConvertDoubleQuotes("say \"\"hi\"\" it''s"), "say \"hi\" it's");
}

TEST_F(Names, SizeAndTimeOfAFile) {
  ScratchDir dir;
  testing::WriteFileBytes(dir.File("a.DAT"), std::string(1234, 'a'));
  EXPECT_EQ(SizeOfFile(dir.File("a.DAT")), 1234);
  EXPECT_EQ(SizeOfFile(dir.File("A.dat")), 1234);
  EXPECT_EQ(SizeOfFile(dir.File("none.DAT")), 0);
  rtl::TDateTime stamp = TimeStampOfFile(dir.File("a.DAT"));
  EXPECT_NEAR(stamp, rtl::Now(), 60.0 / 86400);
  EXPECT_EQ(TimeStampOfFile(dir.File("none.DAT")), 0.0);
}

std::string ThreadPrefix() { return std::to_string(static_cast<long>(syscall(SYS_gettid))).substr(0, 5); }

TEST_F(Names, TempNamesSkipTakenOnesAndReserveTheirs) {
  ScratchDir dir;
  std::string prefix = dir.Path() + "/" + ThreadPrefix();
  for (int n = 0; n < 3; ++n) testing::WriteFileBytes(prefix + std::to_string(n) + ".DAT", "taken");
  std::string first = GetTempFileName(dir.Path(), ".DAT", false);
  EXPECT_EQ(first, prefix + "3.DAT");
  EXPECT_TRUE(std::filesystem::exists(first));  // reserved: no one else gets it
  EXPECT_EQ(GetTempFileName(dir.Path(), ".DAT", false), prefix + "4.DAT");
  EXPECT_EQ(testing::ReadFileBytes(prefix + "0.DAT"), "taken");
  EXPECT_EQ(GetTempFileName(dir.File("missing"), ".DAT", false), "");
  EXPECT_EQ(GetTempFileName(dir.Path(), ".dat", false), prefix + "5.dat");
  EXPECT_TRUE(std::filesystem::exists(prefix + "5.DAT"));  // where the table's create will find it
}

TEST_F(Names, TempMemoryNamesAreRegistered) {
  std::string prefix = "MEMORY/" + ThreadPrefix();
  std::string first = GetTempFileName("MEMORY", ".DAT", true);
  EXPECT_EQ(first, prefix + "0.DAT");
  EXPECT_TRUE(FileNameExists(first, true));
  EXPECT_EQ(GetTempFileName("MEMORY", ".DAT", true), prefix + "1.DAT");
  std::vector<std::string> names;
  ListFiles(names, "MEMORY/*", true);
  EXPECT_EQ(names.size(), 2u);
  for (const std::string& name : names) FileList().DeleteFile(name, true);
}

TEST_F(Names, RawDiskCopies) {
  ScratchDir dir;
  std::string source = dir.File("source.DAT");
  std::string payload(200000, 'p');
  for (std::size_t i = 0; i < payload.size(); i += 7) payload[i] = static_cast<char>(i);
  testing::WriteFileBytes(source, payload);
  std::unique_ptr<rtl::TLockedFile> file;
  ASSERT_EQ(rtl::TLockedFile::Open(source, rtl::FileAccess::ReadWrite, rtl::FileShare::Shared, file), 0);
  EXPECT_EQ(CopyDiskFile(*file, dir.File("copy.DAT")), 0);
  EXPECT_EQ(testing::ReadFileBytes(dir.File("copy.DAT")), payload);
  EXPECT_EQ(CopyDiskFile(*file, dir.File("missing/copy.DAT")), -1);
  testing::WriteFileBytes(dir.File("small.DAT"), "small");
  EXPECT_EQ(CopyFromDiskFile(*file, dir.File("small.DAT")), 0);
  file.reset();
  EXPECT_EQ(testing::ReadFileBytes(source), "small");  // nothing of the old contents stays
  EXPECT_EQ(AppendDiskFile(dir.File("copy.DAT"), dir.File("small.DAT")), 0);
  EXPECT_EQ(testing::ReadFileBytes(dir.File("small.DAT")), "small" + payload);
  EXPECT_EQ(AppendDiskFile(dir.File("small.DAT"), dir.File("new.DAT")), 0);
  EXPECT_EQ(testing::ReadFileBytes(dir.File("new.DAT")).size(), payload.size() + 5);
  EXPECT_EQ(AppendDiskFile(dir.File("none.DAT"), dir.File("new.DAT")), -1);
}

}  // namespace
}  // namespace korvex
