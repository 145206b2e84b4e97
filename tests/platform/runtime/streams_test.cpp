#include "platform/runtime/streams.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/runtime/exceptions.h"
#include "platform/runtime/files.h"
#include "platform/runtime/strings.h"
#include "runtime_test_util.h"
#include "support/raised.h"

namespace rtl {
namespace {

TEST(MemoryStream, ReadWriteSeekAndSize) {
  TMemoryStream s;
  s.WriteBuffer("hello", 5);
  EXPECT_EQ(s.Position(), 5);
  EXPECT_EQ(s.Size(), 5);
  EXPECT_EQ(s.Seek(-2, soFromEnd), 3);
  char buf[8] = {};
  EXPECT_EQ(s.Read(buf, 8), 2);  // short read returns what there is
  EXPECT_EQ(std::string(buf, 2), "lo");
  EXPECT_EQ(s.Read(buf, 8), 0);
  s.Seek(1, soFromBeginning);
  s.Seek(1, soFromCurrent);
  s.WriteBuffer("LLOW", 4);  // overwrite and extend
  EXPECT_EQ(std::string(s.Memory(), static_cast<size_t>(s.Size())), "heLLOW");
  s.SetSize(2);
  EXPECT_EQ(s.Size(), 2);
  s.SetPosition(4);
  s.WriteBuffer("x", 1);  // a gap past the end fills with zeros
  EXPECT_EQ(std::string(s.Memory(), 5), std::string("he\0\0x", 5));
  s.Clear();
  EXPECT_EQ(s.Size(), 0);
  EXPECT_EQ(s.Position(), 0);
}

TEST(MemoryStream, SeekBeforeStartRaises) {
  TMemoryStream s;
  EXPECT_THROW(s.Seek(-1, soFromBeginning), EStreamError);
  EXPECT_THROW(s.Seek(-1, soFromEnd), EStreamError);
  EXPECT_THROW(s.Seek(0, 7), EStreamError);
}

TEST(MemoryStream, ShortReadBufferRaisesReadError) {
  TStringStream s("abc");
  char buf[4];
  EXPECT_EQ(qvtest::WhatRaised<EReadError>([&] { s.ReadBuffer(buf, 4); }), "Stream read error");
  s.SetPosition(0);
  s.ReadBuffer(buf, 3);
  EXPECT_THROW(s.ReadBuffer(buf, 1), EReadError);
  s.ReadBuffer(buf, 0);  // nothing asked, nothing wrong
}

TEST(MemoryStream, CopyFromWholeAndPart) {
  TStringStream source("0123456789");
  TMemoryStream dest;
  source.SetPosition(7);
  EXPECT_EQ(dest.CopyFrom(source, 0), 10);  // 0: the whole source from its start
  source.SetPosition(2);
  dest.CopyFrom(source, 3);
  EXPECT_EQ(std::string(dest.Memory(), static_cast<size_t>(dest.Size())), "0123456789234");
  source.SetPosition(8);
  EXPECT_THROW(dest.CopyFrom(source, 5), EReadError);
}

TEST(MemoryStream, FileRoundTripAndSafeSave) {
  TempDir dir;
  std::string path = dir.File("data.bin");
  TMemoryStream s;
  std::string bytes("\0\x80\xFF\r\n", 5);
  s.WriteBuffer(bytes.data(), 5);
  s.SaveToFile(path);
  EXPECT_EQ(ReadFileBytes(path), bytes);
  TMemoryStream back;
  back.LoadFromFile(path);
  EXPECT_EQ(std::string(back.Memory(), 5), bytes);
  EXPECT_EQ(back.Position(), 0);
  EXPECT_THROW(back.LoadFromFile(dir.File("missing")), EFOpenError);
}

TEST(StringStream, ReadAndWriteStrings) {
  TStringStream s("abcdef");
  s.SetPosition(2);
  EXPECT_EQ(s.ReadString(3), "cde");
  EXPECT_EQ(s.ReadString(10), "f");
  EXPECT_EQ(s.ReadString(10), "");
  s.WriteString("XY");
  EXPECT_EQ(s.DataString(), "abcdefXY");
}

// ---- files ----------------------------------------------------------------

TEST(FileStream, OpenOfMissingFileRaisesWithName) {
  EXPECT_EQ(qvtest::WhatRaised<EFOpenError>([&] { TFileStream f("/nonexistent/qv.txt", fmOpenRead); }),
            "Cannot open file \"/nonexistent/qv.txt\". No such file or directory");
  EXPECT_THROW(TFileStream("/nonexistent/qv.txt", fmCreate), EFCreateError);
  TempDir dir;
  EXPECT_THROW(TFileStream(dir.Path(), fmOpenRead), EFOpenError);  // a directory is no file
}

TEST(FileStream, CreateWriteReopenRead) {
  TempDir dir;
  std::string path = dir.File("f.dat");
  {
    TFileStream f(path, fmCreate);
    f.WriteBuffer("abcdef", 6);
    EXPECT_EQ(f.Size(), 6);
    f.SetSize(4);
    EXPECT_EQ(f.Position(), 4);
    f.Flush();
  }
  EXPECT_EQ(ReadFileBytes(path), "abcd");
  {
    TFileStream f(path, fmOpenReadWrite | fmShareDenyWrite);
    f.Seek(-1, soFromEnd);
    f.WriteBuffer("D", 1);
    f.SetPosition(0);
    EXPECT_EQ(f.ReadToEnd(), "abcD");
    char buf[2];
    EXPECT_EQ(f.Read(buf, 2), 0);
    EXPECT_THROW(f.ReadBuffer(buf, 1), EReadError);
  }
  {
    TFileStream f(path, fmOpenRead);
    EXPECT_EQ(f.Write("x", 1), 0);  // opened for reading only
    EXPECT_THROW(f.WriteBuffer("x", 1), EWriteError);
  }
  {
    TFileStream f(path, fmCreate);  // truncates
    EXPECT_EQ(f.Size(), 0);
  }
}

TEST(FileStream, FullDiskRaisesWriteError) {
  TFileStream f("/dev/full", fmOpenWrite);
  EXPECT_EQ(f.Write("abc", 3), 0);
  EXPECT_EQ(qvtest::WhatRaised<EWriteError>([&] { f.WriteBuffer("abc", 3); }), "Stream write error");
  TStringList list;
  list.Add("line");
  EXPECT_THROW(list.SaveToStream(f), EWriteError);
}

TEST(FileStream, PartialWriteRaisesWriteError) {
  TempDir dir;
  TFileStream f(dir.File("big"), fmCreate);
  FileSizeLimit limit(10);
  std::string data(100, 'x');
  EXPECT_THROW(f.WriteBuffer(data.data(), 100), EWriteError);
}

TEST(SaveFileSafely, FailedWriteLeavesOldFileAndNoTemporary) {
  TempDir dir;
  std::string path = dir.File("keep.txt");
  WriteFileBytes(path, "old contents\r\n");
  {
    FileSizeLimit limit(4);
    EXPECT_THROW(SaveFileSafely(path, std::string(1000, 'n')), EWriteError);
  }
  EXPECT_EQ(ReadFileBytes(path), "old contents\r\n");
  EXPECT_EQ(ListFiles(dir.Path(), "*").size(), 1u);
  EXPECT_EQ(FindFiles(dir.Path(), "*").size(), 1u);  // hidden temporaries too
}

TEST(SaveFileSafely, KeepsPermissionsAndFollowsLinks) {
  TempDir dir;
  std::string path = dir.File("target.txt");
  WriteFileBytes(path, "a");
  chmod(path.c_str(), 0640);
  std::string link = dir.File("link.txt");
  ASSERT_EQ(symlink(path.c_str(), link.c_str()), 0);
  SaveFileSafely(link, "b");
  EXPECT_EQ(ReadFileBytes(path), "b");
  struct stat st;
  ASSERT_EQ(lstat(link.c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
}

}  // namespace
}  // namespace rtl
