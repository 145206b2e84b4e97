#include "app/core/settings.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <cstdlib>

#include "core_test_support.h"
#include "platform/runtime/exceptions.h"

namespace appcore {
namespace {

using appcore_test::ReadBytes;
using appcore_test::TempDir;
using appcore_test::WriteBytes;

TEST(Settings, MissingFileMeansNoFolders) {
  TempDir dir;
  AppSettings settings(dir.str());
  settings.Read();
  EXPECT_EQ(settings.SearchDir(), "");
  EXPECT_EQ(settings.SaveDir(), "");
  EXPECT_EQ(settings.IniPath(), dir / "Quorvane.INI");
}

TEST(Settings, EmptyMeansNoFolderAnythingElseIsUsedAsItStands) {
  TempDir dir;
  WriteBytes(dir / "Quorvane.INI", "[Directories]\r\nSearch=Empty\r\nSave= /home/x/pages \r\n");
  AppSettings settings(dir.str());
  settings.Read();
  EXPECT_EQ(settings.SearchDir(), "");
  EXPECT_EQ(settings.SaveDir(), "/home/x/pages");
  WriteBytes(dir / "Quorvane.INI", "[directories]\r\nsearch=empty\r\n");
  settings.Read();
  EXPECT_EQ(settings.SearchDir(), "empty");  // only "Empty" itself means none
}

TEST(Settings, WritesGoToTheFileAtOnceAndReadBack) {
  TempDir dir;
  AppSettings settings(dir.str());
  settings.WriteSearchDir("/data/registers");
  settings.WriteSaveDir("");
  EXPECT_EQ(ReadBytes(dir / "Quorvane.INI"), "[Directories]\r\nSearch=/data/registers\r\nSave=\r\n");
  AppSettings again(dir.str());
  again.Read();
  EXPECT_EQ(again.SearchDir(), "/data/registers");
  EXPECT_EQ(again.SaveDir(), "");
}

TEST(Settings, AFailedWriteIsRaisedAndKeepsTheOldFile) {
  TempDir dir;
  WriteBytes(dir / "Quorvane.INI", "[Directories]\r\nSearch=/old\r\n");
  AppSettings settings(dir.str());
  EXPECT_THROW(settings.WriteSearchDir("/new\r\nSave=/evil"), rtl::EIniFileException);
  EXPECT_EQ(ReadBytes(dir / "Quorvane.INI"), "[Directories]\r\nSearch=/old\r\n");
  // The folder is not writable, for the user running the tests either (as
  // root the child runs as nobody).
  ::chmod(dir.path().c_str(), 0555);
  const int status = appcore_test::RunUnprivileged([&] {
    try {
      AppSettings(dir.str()).WriteSearchDir("/new");
    } catch (const rtl::EIniFileException&) {
      return 0;
    }
    return 1;
  });
  EXPECT_EQ(status, 0);
  EXPECT_EQ(ReadBytes(dir / "Quorvane.INI"), "[Directories]\r\nSearch=/old\r\n");
}

TEST(Settings, FolderBesideTheExecutableWhenWritableElseTheUsersConfiguration) {
  TempDir exe_dir, config;
  config.OpenToEveryone();
  EXPECT_EQ(SettingsFolder(exe_dir / "quorvane"), exe_dir.str() + "/");
  ::chmod(exe_dir.path().c_str(), 0555);  // not writable, for the test user either
  const int status = appcore_test::RunUnprivileged([&] {
    ::setenv("XDG_CONFIG_HOME", config.path().c_str(), 1);
    const std::string folder = SettingsFolder(exe_dir / "quorvane");
    if (folder != config.str() + "/quorvane/") return 1;
    struct stat st;
    return ::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) ? 0 : 2;
  });
  EXPECT_EQ(status, 0);
}

}  // namespace
}  // namespace appcore
