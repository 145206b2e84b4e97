#include "platform/runtime/files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "platform/runtime/dates.h"
#include "runtime_test_util.h"

namespace rtl {
namespace {

// python3's posixpath splits the same way where the rules coincide.
TEST(Paths, PartsAgreeWithPosixpath) {
  std::vector<std::string> names = {"/home/reg/x_bap.txt", "x_bap.txt", "dir/", "/a.b/c", "/a/b.c.d",
                                    "/", "", ".hidden", "a/.b"};
  std::string arg;
  for (auto& n : names) arg += n + "\n";
  std::string expected = RunPython(
      "import sys, posixpath\n"
      "for n in sys.argv[1].split(\"\\n\")[:-1]:\n"
      "    head, tail = posixpath.split(n)\n"
      "    root, ext = posixpath.splitext(n)\n"
      "    print(tail + \"|\" + (ext if not tail.startswith(\".\") or tail.count(\".\") > 1 else tail))\n",
      arg);
  std::string actual;
  for (auto& n : names) actual += ExtractFileName(n) + "|" + ExtractFileExt(n) + "\n";
  EXPECT_EQ(actual, expected);
}

TEST(Paths, DirectoryPartsAndExtensions) {
  EXPECT_EQ(ExtractFilePath("/home/reg/x.txt"), "/home/reg/");
  EXPECT_EQ(ExtractFileDir("/home/reg/x.txt"), "/home/reg");
  EXPECT_EQ(ExtractFileDir("/x.txt"), "/");
  EXPECT_EQ(ExtractFilePath("x.txt"), "");
  EXPECT_EQ(ChangeFileExt("/opt/q/Quorvane", ".INI"), "/opt/q/Quorvane.INI");
  EXPECT_EQ(ChangeFileExt("/opt/q.d/page.txt", ".hlw"), "/opt/q.d/page.hlw");
  EXPECT_EQ(ChangeFileExt("page.txt", ""), "page");
  EXPECT_EQ(IncludeTrailingPathDelimiter("/a"), "/a/");
  EXPECT_EQ(IncludeTrailingPathDelimiter("/a/"), "/a/");
  EXPECT_EQ(IncludeTrailingPathDelimiter(""), "/");
  EXPECT_EQ(ExcludeTrailingPathDelimiter("/a/"), "/a");
  EXPECT_EQ(ExcludeTrailingPathDelimiter("/"), "/");
  EXPECT_EQ(ExpandFileName("/a/./b/../c"), "/a/c");
  EXPECT_EQ(ExpandFileName("x"), GetCurrentDir() + "/x");
}

TEST(FileSystem, ExistenceCreationRenameDelete) {
  TempDir dir;
  std::string a = dir.File("a.txt"), b = dir.File("b.txt");
  EXPECT_FALSE(FileExists(a));
  WriteFileBytes(a, "1");
  EXPECT_TRUE(FileExists(a));
  EXPECT_FALSE(DirectoryExists(a));
  EXPECT_FALSE(FileExists(dir.Path()));  // a directory is no file
  EXPECT_TRUE(DirectoryExists(dir.Path()));
  EXPECT_EQ(FileSize(a), 1);
  EXPECT_EQ(FileSize(b), -1);
  EXPECT_TRUE(RenameFile(a, b));
  WriteFileBytes(a, "2");
  EXPECT_FALSE(RenameFile(a, b));  // never overwrites
  EXPECT_EQ(ReadFileBytes(b), "1");
  EXPECT_TRUE(DeleteFile(a));
  EXPECT_FALSE(DeleteFile(a));
  EXPECT_TRUE(ForceDirectories(dir.File("x/y/z")));
  EXPECT_TRUE(DirectoryExists(dir.File("x/y/z")));
  EXPECT_TRUE(ForceDirectories(dir.File("x/y/z")));
  EXPECT_FALSE(ForceDirectories(b + "/sub"));  // under a file
  EXPECT_FALSE(CreateDir(dir.File("x")));
  EXPECT_TRUE(RemoveDir(dir.File("x/y/z")));
  EXPECT_FALSE(ForceDirectories(""));
}

TEST(FileSystem, MatchesMaskCaseBlind) {
  EXPECT_TRUE(MatchesMask("Parish_BAP.TXT", "*.txt"));
  EXPECT_TRUE(MatchesMask("a_bap.txt", "*_bap.txt"));
  EXPECT_TRUE(MatchesMask("\xC9glise.txt", "\xE9*"));
  EXPECT_TRUE(MatchesMask("abc", "a?c"));
  EXPECT_TRUE(MatchesMask("abc", "*"));
  EXPECT_TRUE(MatchesMask("a.b.txt", "*.*.txt"));
  EXPECT_FALSE(MatchesMask("x.txt.bak", "*.txt"));
  EXPECT_FALSE(MatchesMask("ab", "a?c"));
  EXPECT_FALSE(MatchesMask("", "?"));
}

TEST(FileSystem, FindFilesOrdersByNameAndReportsAttributes) {
  TempDir dir;
  for (const char* name : {"b_bap.txt", "A_marr.TXT", "c_will.txt", ".hidden.txt", "notes.doc"})
    WriteFileBytes(dir.File(name), "x");
  ForceDirectories(dir.File("sub.txt"));
  chmod(dir.File("c_will.txt").c_str(), 0444);
  auto found = FindFiles(dir.Path(), "*.txt");
  std::vector<std::string> names;
  for (auto& r : found) names.push_back(r.Name);
  EXPECT_EQ(names, (std::vector<std::string>{".hidden.txt", "A_marr.TXT", "b_bap.txt", "c_will.txt", "sub.txt"}));
  EXPECT_EQ(found[0].Attr, faArchive | faHidden);
  EXPECT_EQ(found[1].Attr, faArchive);
  EXPECT_EQ(found[1].Size, 1);
  EXPECT_NEAR(found[1].Time, Now(), 1.0 / 24);
  EXPECT_EQ(found[4].Attr, faDirectory);
  if (access(dir.File("c_will.txt").c_str(), W_OK) != 0) {
    EXPECT_EQ(found[3].Attr, faArchive | faReadOnly);
  }
  EXPECT_EQ(found[3].Mode, 0444u);
  // Not asked whether each entry may be written: the mode alone tells.
  const auto unasked = FindFiles(dir.Path(), "*.txt", false);
  ASSERT_EQ(unasked.size(), found.size());
  for (size_t i = 0; i < found.size(); ++i) {
    EXPECT_EQ(unasked[i].Name, found[i].Name);
    EXPECT_EQ(unasked[i].Attr, found[i].Attr & ~faReadOnly);
    EXPECT_EQ(unasked[i].Mode, found[i].Mode);
  }
  EXPECT_EQ(ListFiles(dir.Path(), "*_*.txt"), (std::vector<std::string>{"A_marr.TXT", "b_bap.txt", "c_will.txt"}));
  EXPECT_TRUE(FindFiles(dir.File("missing"), "*").empty());
}

TEST(FileSystem, LoadFileToString) {
  TempDir dir;
  WriteFileBytes(dir.File("f"), std::string("a\0b", 3));
  EXPECT_EQ(LoadFileToString(dir.File("f")), std::string("a\0b", 3));
}

}  // namespace
}  // namespace rtl
