#include "platform/runtime/inifiles.h"

#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>

#include "platform/runtime/exceptions.h"
#include "platform/runtime/files.h"
#include "platform/runtime/strings.h"
#include "runtime_test_util.h"

namespace rtl {
namespace {

TEST(IniFile, MissingFileReadsDefaults) {
  TempDir dir;
  TIniFile ini(dir.File("Quorvane.INI"));
  EXPECT_EQ(ini.ReadString("Directories", "Search", "Empty"), "Empty");
  EXPECT_EQ(ini.ReadInteger("Directories", "Count", 7), 7);
  EXPECT_TRUE(ini.ReadBool("Directories", "Flag", true));
  EXPECT_FALSE(ini.SectionExists("Directories"));
  TStringList sections;
  ini.ReadSections(sections);
  EXPECT_EQ(sections.Count(), 0);
  EXPECT_FALSE(FileExists(dir.File("Quorvane.INI")));  // reading creates nothing
}

TEST(IniFile, RoundTripCreatesSectionAndKeyWithCrLf) {
  TempDir dir;
  std::string path = dir.File("q.ini");
  {
    TIniFile ini(path);
    ini.WriteString("Directories", "Search", "/home/reg/M\xFCller data");
    ini.WriteString("Directories", "Save", "/home/out");
    ini.WriteInteger("Window", "Width", -640);
    ini.WriteBool("Window", "Max", true);
  }
  EXPECT_EQ(ReadFileBytes(path),
            "[Directories]\r\nSearch=/home/reg/M\xFCller data\r\nSave=/home/out\r\n\r\n"
            "[Window]\r\nWidth=-640\r\nMax=1\r\n");
  TIniFile ini(path);
  EXPECT_EQ(ini.ReadString("directories", "SEARCH", "Empty"), "/home/reg/M\xFCller data");
  EXPECT_EQ(ini.ReadInteger("Window", "Width", 0), -640);
  EXPECT_TRUE(ini.ReadBool("Window", "Max", false));
  EXPECT_EQ(ini.ReadString("Directories", "Other", "dflt"), "dflt");
  EXPECT_EQ(ini.ReadString("Nowhere", "Search", "dflt"), "dflt");
}

TEST(IniFile, ReadsWhatOtherWritersWrote) {
  TempDir dir;
  std::string path = dir.File("q.ini");
  WriteFileBytes(path,
            "; comment\n[ Directories ]\n  Search =  C:/Registers  \nEmptyKey=\n"
            "Count=$1F\nHex=0x10\nBad=12a\r[Second]\rX=1");
  TIniFile ini(path);
  EXPECT_EQ(ini.ReadString("Directories", "Search", ""), "C:/Registers");
  EXPECT_EQ(ini.ReadString("Directories", "EmptyKey", "dflt"), "");  // present but empty
  EXPECT_EQ(ini.ReadInteger("Directories", "Count", 0), 31);
  EXPECT_EQ(ini.ReadInteger("Directories", "Hex", 0), 16);
  EXPECT_EQ(ini.ReadInteger("Directories", "Bad", -1), -1);
  EXPECT_EQ(ini.ReadString("Second", "x", ""), "1");
  TStringList keys;
  ini.ReadSection("DIRECTORIES", keys);
  EXPECT_EQ(keys.CommaText(), "Search,EmptyKey,Count,Hex,Bad");
  TStringList values;
  ini.ReadSectionValues("Directories", values);
  EXPECT_EQ(values.Strings(0), "Search=C:/Registers");
  TStringList sections;
  ini.ReadSections(sections);
  EXPECT_EQ(sections.CommaText(), "Directories,Second");
  EXPECT_TRUE(ini.ValueExists("second", "X"));
  EXPECT_FALSE(ini.ValueExists("second", "Y"));
}

TEST(IniFile, UpdateKeepsOtherLinesAndKeySpelling) {
  TempDir dir;
  std::string path = dir.File("q.ini");
  WriteFileBytes(path, "; keep me\r\n[Directories]\r\nSEARCH=old\r\nSave=s\r\n\r\n[Other]\r\nA=1\r\n");
  TIniFile ini(path);
  ini.WriteString("directories", "search", "new");
  ini.WriteString("Directories", "Added", "x");
  EXPECT_EQ(ReadFileBytes(path),
            "; keep me\r\n[Directories]\r\nSEARCH=new\r\nSave=s\r\nAdded=x\r\n\r\n[Other]\r\nA=1\r\n");
  ini.DeleteKey("Directories", "save");
  ini.EraseSection("other");
  EXPECT_EQ(ReadFileBytes(path), "; keep me\r\n[Directories]\r\nSEARCH=new\r\nAdded=x\r\n\r\n");
  EXPECT_FALSE(ini.SectionExists("Other"));
}

TEST(IniFile, TwoObjectsOnOneFileSeeEachOther) {
  TempDir dir;
  TIniFile a(dir.File("q.ini")), b(dir.File("q.ini"));
  a.WriteString("S", "K", "1");
  EXPECT_EQ(b.ReadString("S", "K", ""), "1");
  b.WriteString("S", "K", "2");
  EXPECT_EQ(a.ReadString("S", "K", ""), "2");
}

TEST(IniFile, RefusesNamesAndValuesThatWouldCorruptTheFile) {
  TempDir dir;
  std::string path = dir.File("q.ini");
  TIniFile ini(path);
  ini.WriteString("S", "K", "v");
  std::string before = ReadFileBytes(path);
  EXPECT_THROW(ini.WriteString("S", "K", "a\r\n[Evil]"), EIniFileException);
  EXPECT_THROW(ini.WriteString("S]", "K", "v"), EIniFileException);
  EXPECT_THROW(ini.WriteString("S", "K=1", "v"), EIniFileException);
  EXPECT_THROW(ini.WriteString("S", " ", "v"), EIniFileException);
  EXPECT_THROW(ini.WriteString("", "K", "v"), EIniFileException);
  EXPECT_EQ(ReadFileBytes(path), before);
}

TEST(IniFile, FailedWriteLeavesOldFileIntact) {
  TempDir dir;
  std::string path = dir.File("q.ini");
  std::string old = "[Directories]\r\nSearch=/data/registers\r\nSave=/data/pages\r\n";
  WriteFileBytes(path, old);
  TIniFile ini(path);
  {
    FileSizeLimit limit(8);  // the new file cannot be written whole
    EXPECT_THROW(ini.WriteString("Directories", "Search", "/elsewhere"), EIniFileException);
  }
  EXPECT_EQ(ReadFileBytes(path), old);
  EXPECT_EQ(ini.ReadString("Directories", "Search", ""), "/data/registers");
  // Into a directory that does not exist: raises, creates nothing.
  TIniFile nowhere(dir.File("missing/q.ini"));
  EXPECT_THROW(nowhere.WriteString("S", "K", "v"), EIniFileException);
}

TEST(IniFile, PathThatIsNoFileReadsEmptyAndRefusesWrites) {
  TempDir dir;
  std::string path = dir.File("q.ini");
  ASSERT_TRUE(ForceDirectories(path + "/inside"));
  TIniFile ini(path);
  EXPECT_EQ(ini.ReadString("S", "A", "d"), "d");
  EXPECT_THROW(ini.WriteString("S", "A", "1"), EIniFileException);
  EXPECT_TRUE(DirectoryExists(path + "/inside"));
}

TEST(IniFile, ExistingUnreadableFileIsNotReplaced) {
  TempDir dir;
  std::string path = dir.File("q.ini");
  WriteFileBytes(path, "[S]\r\nA=1\r\n");
  chmod(path.c_str(), 0);
  // Permissions do not bind root: then a child tries as nobody, in a folder
  // it may write to, as the test user may write to its own.
  chmod(dir.Path().c_str(), 0777);
  const pid_t pid = fork();
  if (pid == 0) {
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(2);
    try {
      TIniFile ini(path);
      if (ini.ReadString("S", "A", "d") != "d") _exit(3);
      try {
        ini.WriteString("S", "B", "2");
      } catch (const EIniFileException&) {
        _exit(0);
      }
      _exit(4);  // the write did not fail
    } catch (...) {
      _exit(5);
    }
  }
  ASSERT_GT(pid, 0);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  chmod(path.c_str(), 0600);
  EXPECT_EQ(ReadFileBytes(path), "[S]\r\nA=1\r\n");
}

}  // namespace
}  // namespace rtl
