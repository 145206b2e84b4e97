#include "app/core/highlight_words.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "core_test_support.h"
#include "platform/runtime/exceptions.h"
#include "platform/runtime/runtime_test_util.h"
#include "textutil/phonetic.h"

namespace appcore {
namespace {

using appcore_test::ReadBytes;
using appcore_test::TempDir;
using appcore_test::WriteBytes;
using Lines = std::vector<std::string>;

TEST(HighlightWordsFile, NameBesideThePage) {
  EXPECT_EQ(HighlightWordsFileName("/home/u/notes.txt"), "/home/u/notes.hlw");
  EXPECT_EQ(HighlightWordsFileName("/home/u/notes"), "/home/u/notes.hlw");
  EXPECT_EQ(HighlightWordsFileName("/home/u.v2/notes"), "/home/u.v2/notes.hlw");
  EXPECT_EQ(HighlightWordsFileName("a.b.txt"), "a.b.hlw");
}

TEST(HighlightWordsFile, RoundTripKeepsWindows1252Bytes) {
  TempDir dir;
  const std::string page = dir / "smith.txt";
  const Lines words = {"Baker", "M\xFCller", "Sm\x9Ath", "van Dyck"};
  SaveHighlightWords(page, words);
  EXPECT_EQ(ReadBytes(dir / "smith.hlw"), "Baker\r\nM\xFCller\r\nSm\x9Ath\r\nvan Dyck\r\n");
  EXPECT_EQ(ReadHighlightWords(page), words);
  // Nothing but the side file is left in the folder (no temporary file).
  int entries = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.path())) ++entries;
  EXPECT_EQ(entries, 1);
}

TEST(HighlightWordsFile, ReadsAnyLineEndAndSkipsBlankLines) {
  TempDir dir;
  WriteBytes(dir / "p.hlw", "Baker\n\n  Cole  \r\rHall\r\n \t\r\nFry");
  EXPECT_EQ(ReadHighlightWords(dir / "p.txt"), (Lines{"Baker", "Cole", "Hall", "Fry"}));
  EXPECT_EQ(ReadHighlightWords(dir / "none.txt"), Lines{});  // no side file: no words
  std::filesystem::create_directory(dir / "folder.hlw");
  EXPECT_EQ(ReadHighlightWords(dir / "folder.txt"), Lines{});
}

TEST(HighlightWordsFile, WordsWithLineBreaksStayWhole) {
  TempDir dir;
  SaveHighlightWords(dir / "p.txt", {"a\r\nb", "", "  ", "c"});
  EXPECT_EQ(ReadHighlightWords(dir / "p.txt"), (Lines{"a", "b", "c"}));
}

TEST(HighlightWordsFile, NoWordsRemovesAnOldSideFile) {
  TempDir dir;
  SaveHighlightWords(dir / "p.txt", {"Baker"});
  ASSERT_TRUE(std::filesystem::exists(dir / "p.hlw"));
  SaveHighlightWords(dir / "p.txt", {});
  EXPECT_FALSE(std::filesystem::exists(dir / "p.hlw"));
  EXPECT_EQ(ReadHighlightWords(dir / "p.txt"), Lines{});
  SaveHighlightWords(dir / "p.txt", {});  // none there: nothing to do
}

TEST(HighlightWordsFile, FullDiskLeavesTheOldSideFile) {
  TempDir dir;
  SaveHighlightWords(dir / "p.txt", {"Baker"});
  const Lines many(2000, "Bartholomew");
  {
    rtl::FileSizeLimit limit(1024);
    EXPECT_THROW(SaveHighlightWords(dir / "p.txt", many), rtl::EWriteError);
  }
  EXPECT_EQ(ReadBytes(dir / "p.hlw"), "Baker\r\n");
  int entries = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.path())) ++entries;
  EXPECT_EQ(entries, 1);
}

TEST(HighlightWordsFile, LockedFolderAndUnreadableFile) {
  TempDir dir;
  const std::string locked = dir / "locked";
  std::filesystem::create_directory(locked);
  SaveHighlightWords(locked + "/p.txt", {"Baker"});
  ::chmod(locked.c_str(), 0555);
  const std::string secret = dir / "secret.hlw";
  WriteBytes(secret, "Cole\r\n");
  ::chmod(secret.c_str(), 0200);
  const int status = appcore_test::RunUnprivileged([&] {
    int failures = 0;
    try {
      SaveHighlightWords(locked + "/p.txt", {"Cole"});
      ++failures;
    } catch (const rtl::EFCreateError&) {
    }
    try {
      SaveHighlightWords(locked + "/p.txt", {});  // cannot remove it either
      ++failures;
    } catch (const rtl::EWriteError&) {
    }
    try {
      ReadHighlightWords(dir / "secret.txt");
      ++failures;
    } catch (const rtl::EFOpenError&) {
    }
    return failures;
  });
  ::chmod(locked.c_str(), 0755);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(ReadHighlightWords(locked + "/p.txt"), (Lines{"Baker"}));
}

TEST(HighlightDialog, EditTextAndWords) {
  EXPECT_EQ(HighlightEditText({"Baker", "Cole"}), " Baker Cole");
  EXPECT_EQ(HighlightEditText({}), "");
  EXPECT_EQ(EditWords(" Baker Cole"), (Lines{"Baker", "Cole"}));
  // Two blanks between words lose no word; repeats are dropped.
  EXPECT_EQ(EditWords("Baker  Cole   Baker "), (Lines{"Baker", "Cole"}));
  EXPECT_EQ(EditWords("   "), Lines{});
  EXPECT_EQ(HighlightWordsFor("  Baker  Cole ", false, {"1700 Jan 01 Bakker"}, 8), (Lines{"Baker", "Cole"}));
  EXPECT_EQ(HighlightWordsFor("", true, {"1700 Jan 01 Bakker"}, 8), Lines{});
}

TEST(HighlightDialog, FuzzyFindsSpellingsOncePerLine) {
  const Lines page = {"[1] St Mary - Baptisms",
                      "1700 Jan 01 John Smyth, Mary Smith; Anne; W",
                      "1701 Jan 02 Will Smithe, Joan Cole; Tom; W",
                      "1702 Jan 03 (Smythe) Hall, Ann Fry; Ann; W",
                      "1703 Jan 04 Peter Baker, Ann Cole; Tom; W",
                      "Sm"};
  const std::string key = textutil::MetaPhone("Smith", 8);
  ASSERT_EQ(textutil::MetaPhone("Smyth", 8), key);
  ASSERT_EQ(textutil::MetaPhone("Smythe", 8), key);
  // The first alike word of each line, punctuation left out.
  EXPECT_EQ(SoundAlikeWords("Smith", page, 8), (Lines{"Smyth", "Smithe", "Smythe"}));
  EXPECT_EQ(HighlightWordsFor("Smith Cole", true, page, 8), (Lines{"Smith", "Smyth", "Smithe", "Smythe", "Cole"}));
  // A key cut short by the key length: the word has no key, so no fuzzy words.
  EXPECT_EQ(SoundAlikeWords("Smith", page, 2), Lines{});
  EXPECT_EQ(SoundAlikeWords("S", page, 8), Lines{});
}

}  // namespace
}  // namespace appcore
