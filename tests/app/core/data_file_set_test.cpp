#include "app/core/data_file_set.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>

#include "app/core/search.h"
#include "app/core/source_ticks.h"
#include "core_test_support.h"
#include "platform/runtime/cp1252.h"
#include "tools/register_generator.h"

namespace appcore {
namespace {

using appcore_test::ReadBytes;
using appcore_test::TempDir;
using appcore_test::WriteBytes;
using appcore_test::WriteLines;
using Lines = std::vector<std::string>;

class DataFileSetTest : public ::testing::Test {
protected:
  // Builds the list and returns the messages reported.
  Lines Make(const std::string& search_dir) {
    Lines messages;
    set_.MakeFileList(search_dir, lists_.str(), [&](const std::string& m) { messages.push_back(m); });
    return messages;
  }
  std::string FilesTxt() const { return ReadBytes(lists_ / "Files.txt"); }
  std::string SourcesTxt() const { return ReadBytes(lists_ / "Sources.txt"); }

  TempDir dir_, lists_;
  DataFileSet set_;
};

TEST_F(DataFileSetTest, DataFilesByNameEndingInNameOrder) {
  WriteLines(dir_ / "stpeter_bap.txt", {"St Peter - Baptisms", "1650 03 Mar A, B; C; D"});
  WriteLines(dir_ / "Ashby_marr.txt", {"Ashby - Marriages"});
  WriteLines(dir_ / "bristol_pass.txt", {"Bristol - Passengers"});
  WriteLines(dir_ / "notes.txt", {"not a register"});
  WriteLines(dir_ / "old_bap.txt.bak", {"not a register"});
  WriteLines(dir_ / ".hidden_bap.txt", {"hidden"});
  std::filesystem::create_directory(dir_ / "folder_bap.txt");
  ::mkfifo((dir_ / "pipe_bap.txt").c_str(), 0644);
  ::symlink((dir_ / "stpeter_bap.txt").c_str(), (dir_ / "zlink_bap.txt").c_str());

  EXPECT_TRUE(Make(dir_.str()).empty());
  ASSERT_EQ(set_.Count(), 4);
  EXPECT_EQ(set_.File(0).name, "Ashby_marr.txt");
  EXPECT_EQ(set_.File(1).name, "bristol_pass.txt");
  EXPECT_EQ(set_.File(2).name, "stpeter_bap.txt");
  EXPECT_EQ(set_.File(3).name, "zlink_bap.txt");  // a link to a plain file is one
  EXPECT_EQ(set_.File(0).kind, FileKind::kOther);
  EXPECT_EQ(set_.File(2).kind, FileKind::kBaptisms);
  EXPECT_EQ(set_.File(2).path, dir_ / "stpeter_bap.txt");
  EXPECT_EQ(set_.File(2).data->LineCount(), 2);
  EXPECT_EQ(set_.SourceList(), (Lines{"[1] Ashby - Marriages", "[2] Bristol - Passengers", "[3] St Peter - Baptisms",
                                      "[4] St Peter - Baptisms"}));
  EXPECT_EQ(SourcesTxt(), "[1] Ashby - Marriages\r\n[2] Bristol - Passengers\r\n[3] St Peter - Baptisms\r\n"
                          "[4] St Peter - Baptisms\r\n");
  EXPECT_EQ(FilesTxt(), (dir_ / "Ashby_marr.txt") + "\r\n" + (dir_ / "bristol_pass.txt") + "\r\n" +
                            (dir_ / "stpeter_bap.txt") + "\r\n" + (dir_ / "zlink_bap.txt") + "\r\n");
}

TEST_F(DataFileSetTest, EmptyTitleLineGivesTheBareNameButTheFullPathIsKept) {
  WriteLines(dir_ / "a_bap.txt", {"", "1650 03 Mar John Smith, B; C; D"});
  WriteBytes(dir_ / "b_bap.txt", "");
  EXPECT_TRUE(Make(dir_.str()).empty());
  EXPECT_EQ(set_.File(0).title, "a_bap.txt");
  EXPECT_EQ(set_.File(1).title, "b_bap.txt");
  EXPECT_EQ(set_.File(0).path, dir_ / "a_bap.txt");
  EXPECT_EQ(FilesTxt(), "a_bap.txt\r\nb_bap.txt\r\n");
  EXPECT_EQ(SourcesTxt(), "[1] a_bap.txt\r\n[2] b_bap.txt\r\n");
  EXPECT_EQ(set_.Paths(), (Lines{dir_ / "a_bap.txt", dir_ / "b_bap.txt"}));
  // The search reads the file by its full path, whatever the current folder.
  SearchOptions o = appcore_test::OptionsFor("Smith", set_);
  o.show_source_codes = true;
  const SearchResult r = RunSearch(set_, o, nullptr);
  EXPECT_EQ(r.hit_count, 1);
  EXPECT_EQ(r.legend, (Lines{" [1] a_bap.txt"}));
}

TEST_F(DataFileSetTest, EmptySourceFolderLoadsNothing) {
  // The current folder holds data files; an empty setting must not read them.
  WriteLines(dir_ / "here_bap.txt", {"Here"});
  const std::string previous = std::filesystem::current_path();
  std::filesystem::current_path(dir_.path());
  const Lines messages = Make("");
  std::filesystem::current_path(previous);
  EXPECT_TRUE(messages.empty());
  EXPECT_EQ(set_.Count(), 0);
  EXPECT_EQ(FilesTxt(), "");
  EXPECT_EQ(SourcesTxt(), "");
}

TEST_F(DataFileSetTest, MissingSourceFolderLoadsNothingAndSaysWhy) {
  const std::string too_long = dir_.str() + "/" + std::string(300, 'x');
  const struct {
    std::string dir, reason;
  } cases[] = {{dir_ / "gone", "No such file or directory"},
               {too_long, "File name too long"},
               {dir_ / "Sources.txt", "Not a directory"}};
  WriteLines(dir_ / "Sources.txt", {"x"});
  for (const auto& c : cases) {
    EXPECT_EQ(Make(c.dir), Lines{"Cannot read the source folder \"" + c.dir + "\".\n" + c.reason}) << c.dir;
    EXPECT_EQ(set_.Count(), 0);
  }
}

TEST_F(DataFileSetTest, AHugeTitleIsCutForTheLists) {
  WriteLines(dir_ / "a_bap.txt", {std::string(100000, 'T'), "1650 03 Mar John Smith, B; C; D"});
  EXPECT_TRUE(Make(dir_.str()).empty());
  EXPECT_EQ(set_.File(0).title, std::string(256, 'T') + "...");
  EXPECT_EQ(SourcesTxt(), "[1] " + std::string(256, 'T') + "...\r\n");
  EXPECT_EQ(set_.File(0).data->Line(0).size(), 100000u);  // the file itself is whole
}

TEST_F(DataFileSetTest, MoreThanAHundredFilesAreAllHeld) {
  for (int i = 0; i < 130; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "p%03d_bap.txt", i);
    WriteLines(dir_ / name, {"Parish " + std::to_string(i), "1650 03 Mar John Smith, B; C; D"});
  }
  EXPECT_TRUE(Make(dir_.str()).empty());
  ASSERT_EQ(set_.Count(), 130);
  EXPECT_EQ(set_.File(129).title, "Parish 129");
  EXPECT_EQ(set_.SourceList().back(), "[130] Parish 129");
  SearchOptions o = appcore_test::OptionsFor("Smith", set_);
  o.show_source_codes = true;
  const SearchResult r = RunSearch(set_, o, nullptr);
  EXPECT_EQ(r.hit_count, 130);
  EXPECT_EQ(r.baptism_hits.back(), "1650 03 Mar John Smith, B; C; D [130] ");
}

TEST_F(DataFileSetTest, UnreadableFileKeepsItsSlotEmptyAndIsReported) {
  WriteLines(dir_ / "a_bap.txt", {"A", "1650 03 Mar John Smith, B; C; D"});
  WriteLines(dir_ / "b_bap.txt", {"B", "1650 03 Mar John Smith, B; C; D"});
  WriteLines(dir_ / "c_bap.txt", {"C", "1650 03 Mar John Smith, B; C; D"});
  // Plain writable files for the unprivileged user; b cannot be read.
  ::chmod((dir_ / "a_bap.txt").c_str(), 0666);
  ::chmod((dir_ / "b_bap.txt").c_str(), 0222);
  ::chmod((dir_ / "c_bap.txt").c_str(), 0666);
  const std::string lists = lists_.str();
  const int status = appcore_test::RunUnprivileged([&] {
    DataFileSet set;
    Lines messages;
    set.MakeFileList(dir_.str(), "", [&](const std::string& m) { messages.push_back(m); });
    // Named with the number the lists give it, and the system's reason;
    // no message box.
    if (set.Count() != 3 || !messages.empty() || set.Notices().size() != 1 ||
        set.NoticeText() != "[2] b_bap.txt not read: File load error: 2. Cannot open file \"" + dir_.str() +
                                "/b_bap.txt\". Permission denied")
      return 1;
    if (set.ListItems()[1] != "[2] b_bap.txt   (not read)") return 5;
    if (!set.File(1).load_failed || set.File(1).data->LineCount() != 0) return 2;
    if (set.File(1).title != "b_bap.txt" || set.File(2).title != "C") return 3;
    const SearchResult r = RunSearch(set, appcore_test::OptionsFor("Smith", set), nullptr);
    return r.hit_count == 2 ? 0 : 4;
  });
  EXPECT_EQ(status, 0);
}

TEST_F(DataFileSetTest, ReadOnlyAndHiddenFilesAreNotDataFiles) {
  WriteLines(dir_ / "a_bap.txt", {"A"});
  WriteLines(dir_ / "b_bap.txt", {"B"});
  ::chmod((dir_ / "a_bap.txt").c_str(), 0666);
  ::chmod((dir_ / "b_bap.txt").c_str(), 0444);
  const int status = appcore_test::RunUnprivileged([&] {
    const Lines names = FindDataFiles(dir_.str());
    return names == Lines{"a_bap.txt"} ? 0 : 1;
  });
  EXPECT_EQ(status, 0);
}

// Read-only is the file's own mark, not who may write it: registers of
// root that everyone may read are listed for nobody; files with no write
// bit, hidden ones and special files are left out and named with why.
TEST_F(DataFileSetTest, RegistersOfAnotherUserAreListedFilesLeftOutAreNamed) {
  WriteLines(dir_ / "a_bap.txt", {"A", "1650 03 Mar John Smith, B; C; D"});
  WriteLines(dir_ / "b_bap.txt", {"B", "1650 03 Mar John Smith, B; C; D"});
  WriteLines(dir_ / "c_marr.txt", {"C"});
  WriteLines(dir_ / ".d_bap.txt", {"D"});
  WriteLines(dir_ / "notes.txt", {"not a register"});
  ::mkfifo((dir_ / "e_bap.txt").c_str(), 0644);
  ::chmod((dir_ / "a_bap.txt").c_str(), 0644);  // root's, readable by all
  ::chmod((dir_ / "b_bap.txt").c_str(), 0444);  // read-only
  ::chmod((dir_ / "c_marr.txt").c_str(), 0600); // root's, unreadable: listed, its load fails
  ::chmod((dir_ / "notes.txt").c_str(), 0444);  // no data file: not named
  const Lines left_out = {".d_bap.txt (hidden)", "b_bap.txt (read-only)", "e_bap.txt (not a plain file)"};
  const int status = appcore_test::RunUnprivileged([&] {
    DataFileSet set;
    Lines messages;
    set.MakeFileList(dir_.str(), "", [&](const std::string& m) { messages.push_back(m); });
    if (set.Count() != 2 || set.File(0).name != "a_bap.txt" || set.File(1).name != "c_marr.txt") return 1;
    if (set.LeftOut() != left_out) return 2;
    if (set.LeftOutNotice() != "Left out of the data files: .d_bap.txt (hidden), b_bap.txt (read-only), e_bap.txt "
                               "(not a plain file).")
      return 3;
    if (!messages.empty() || set.NoticeText().rfind("[2] c_marr.txt not read: File load error: 2. ", 0) != 0) return 4;
    return RunSearch(set, appcore_test::OptionsFor("Smith", set), nullptr).hit_count == 1 ? 0 : 5;
  });
  EXPECT_EQ(status, 0);
  // An empty list always says why.
  TempDir empty;
  const struct {
    std::string dir, notice;
  } cases[] = {
      {"", "No source folder is chosen: no data files are loaded."},
      {empty.str(), "No data files in \"" + empty.str() + "\"."},
      {dir_.str(), "Left out of the data files: .d_bap.txt (hidden), b_bap.txt (read-only), e_bap.txt (not a plain "
                   "file)."},
  };
  for (const auto& c : cases) {
    Make(c.dir);
    EXPECT_EQ(set_.LeftOutNotice(), c.notice) << c.dir;
  }
  // More than five are counted, not named.
  for (char c = 'f'; c <= 'k'; ++c) WriteLines(dir_ / (std::string(".") + c + "_bap.txt"), {"x"});
  Make(dir_.str());
  EXPECT_EQ(set_.LeftOut().size(), 9u);
  EXPECT_NE(set_.LeftOutNotice().find(" and 4 more."), std::string::npos) << set_.LeftOutNotice();
}

// A register grown while it is read is read again until it holds still, up
// to three more times, then waited for until it holds still and read once
// more; one that keeps changing is read as far as it is written and named.
TEST_F(DataFileSetTest, AFileChangedWhileItIsReadIsReadAgainOrNamed) {
  WriteLines(dir_ / "a_bap.txt", {"A", "1650 03 Mar John Smith, B; C; D"});
  const struct {
    int changes, reads;
    bool named;
  } cases[] = {{1, 2, false}, {3, 4, false}, {4, 5, false}, {1000, 5, true}};
  using std::chrono::milliseconds;
  DataFileSet::SetWriterWait(milliseconds(20), milliseconds(200), milliseconds(500));
  struct Restore {
    ~Restore() { DataFileSet::SetWriterWait(milliseconds(100), milliseconds(700), milliseconds(4000)); }
  } restore;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.changes);
    WriteLines(dir_ / "b_bap.txt", {"B", "1650 03 Mar Will Jones, B; C; D"});
    std::atomic<int> left{c.changes}, reads{0}, appended{0};
    std::atomic<size_t> to_read{0};
    Lines messages;
    DataFileSet set;
    set.MakeFileList(
        dir_.str(), "", [&](const std::string& m) { messages.push_back(m); },
        [&](int slot, const DataFileEntry&) {
          if (slot != 1) return;
          if (reads++ == 0) to_read = set.BytesToRead();
          // Another program appends a record while the set reads the file.
          if (left-- > 0) {
            WriteBytes(dir_ / "b_bap.txt", ReadBytes(dir_ / "b_bap.txt") + "1651 04 Apr Ann Cole, B; C; D\r\n");
            ++appended;
          }
        });
    EXPECT_EQ(reads.load(), c.reads);
    // Both files as listed, before the change.
    EXPECT_EQ(to_read.load(), ReadBytes(dir_ / "a_bap.txt").size() + ReadBytes(dir_ / "b_bap.txt").size() -
                                  static_cast<size_t>(appended.load()) * std::string_view("1651 04 Apr Ann Cole, B; C; D\r\n").size());
    EXPECT_EQ(set.File(1).data->LineCount(), 1 + c.reads);  // as read the last time
    EXPECT_TRUE(messages.empty()) << messages.front();
    if (!c.named) {
      EXPECT_EQ(set.NoticeText(), "");
      EXPECT_EQ(set.File(1).data->Bytes(), ReadBytes(dir_ / "b_bap.txt"));
    } else {
      EXPECT_EQ(set.NoticeText(), "[2] b_bap.txt was being written: its records may be incomplete. Search again once it "
                                  "is written");
    }
  }
}

// Files that are no text (random bytes, zeros) keep their numbers with no
// lines and are named, not read; a register mixing UTF-8 and Windows-1252 lines is read line
// by line, its names found in both, and named with the first line of each;
// one with a character Windows-1252 lacks is named with that character and
// its line. Nothing of it goes to a message box.
TEST_F(DataFileSetTest, FilesThatAreNoTextMixedOrUnshowableAreNamed) {
  WriteLines(dir_ / "a_bap.txt", {"A", "1650 03 Mar John Smith, B; C; D"});
  std::mt19937 random(87);
  std::string junk(1 << 20, '\0');
  for (char& c : junk) c = static_cast<char>(random());
  WriteBytes(dir_ / "junk_bap.txt", junk);
  WriteBytes(dir_ / "zeros_marr.txt", std::string(100000, '\0'));
  WriteBytes(dir_ / "m_bap.txt",
             "Mixed\r\n1708 01 Jan Karl M\xC3\xBCller, Eva Dupr\xC3\xA9; Anna; W\r\n"
             "1709 02 Feb Jan Dupr\xE9, Marie Roux; Jean; W\r\n");
  WriteBytes(dir_ / "w_bap.txt",
             "Warsaw\r\n1700 01 Jan Jan Kowalski, Anna Nowak; Piotr; W\r\n1701 01 Jan Jan Kowalski, \xCE\x95l\xC3\xA9ni; A; W\r\n");
  int arrived = 0;
  Lines messages;
  set_.MakeFileList(dir_.str(), lists_.str(), [&](const std::string& m) { messages.push_back(m); },
                    [&](int, const DataFileEntry&) { ++arrived; });
  EXPECT_TRUE(messages.empty());
  EXPECT_EQ(arrived, 3);  // the files that are no text are not read further
  ASSERT_EQ(set_.Count(), 5);
  EXPECT_EQ(set_.ListItems(), (Lines{"[1] A", "[2] junk_bap.txt   (not read)", "[3] Mixed   (UTF-8 and Windows-1252)",
                                     "[4] w_bap.txt   (not read)", "[5] zeros_marr.txt   (not read)"}));
  EXPECT_EQ(set_.NoticeText(),
            "[2] junk_bap.txt not read: it is no text (it holds zero bytes); "
            "[3] m_bap.txt mixes UTF-8 (line 2) and Windows-1252 (line 3): each line is read in its own form; "
            "[4] w_bap.txt not read: its UTF-8 character  (U+0395) on line 3 has no Windows-1252 byte; "
            "[5] zeros_marr.txt not read: it is no text (it holds zero bytes)");
  ASSERT_EQ(set_.Notices().size(), 4u);
  EXPECT_EQ(set_.Notices()[2].unshowable, "\xCE\x95");
  EXPECT_FALSE(set_.Notices()[2].read);
  EXPECT_TRUE(set_.File(1).load_failed);
  EXPECT_EQ(set_.File(1).data->LineCount(), 0);
  const SearchResult r = RunSearch(set_, appcore_test::OptionsFor("Dupr\xe9", set_), nullptr);
  EXPECT_EQ(r.hit_count, 2);
}

// A register another program cuts and writes again in steps while the set
// reads it is waited for until it holds still, then read whole; one still
// being written when the wait ends is read as far as it is written and
// named.
TEST_F(DataFileSetTest, ARegisterBeingWrittenIsWaitedForOrNamed) {
  using std::chrono::milliseconds;
  DataFileSet::SetWriterWait(milliseconds(50), milliseconds(300), milliseconds(1500));
  struct Restore {
    ~Restore() { DataFileSet::SetWriterWait(milliseconds(100), milliseconds(700), milliseconds(4000)); }
  } restore;
  std::string text = "Parish\r\n";
  for (int i = 0; i < 2000; ++i) text += "1650 03 Mar John Smith" + std::to_string(i) + ", B; C; D\r\n";
  WriteLines(dir_ / "a_bap.txt", {"A", "1650 03 Mar John Smith, B; C; D"});
  for (const int writing_ms : {600, 3000}) {
    SCOPED_TRACE(writing_ms);
    WriteBytes(dir_ / "b_bap.txt", text);
    // A step every 15 ms, as a program writing record by record.
    const int steps = writing_ms / 15;
    std::thread writer([&] {
      WriteBytes(dir_ / "b_bap.txt", "");
      const size_t step = text.size() / static_cast<size_t>(steps) + 1;
      for (size_t at = 0; at < text.size(); at += step) {
        std::this_thread::sleep_for(milliseconds(15));
        std::ofstream(dir_ / "b_bap.txt", std::ios::binary | std::ios::app) << text.substr(at, step);
      }
    });
    std::this_thread::sleep_for(milliseconds(100));
    DataFileSet set;
    Lines messages;
    set.MakeFileList(dir_.str(), "", [&](const std::string& m) { messages.push_back(m); });
    writer.join();
    EXPECT_TRUE(messages.empty());
    if (writing_ms < 1000) {
      EXPECT_EQ(set.File(1).data->RecordCount(), 2000);
      EXPECT_EQ(set.NoticeText(), "");
    } else {
      EXPECT_LT(set.File(1).data->RecordCount(), 2000);
      EXPECT_EQ(set.NoticeText(), "[2] b_bap.txt was being written: its records may be incomplete. Search again once "
                                  "it is written");
    }
  }
}

// A register cut to nothing before the set reads it and written again
// after its read, while the other files are still read, is read again at
// the end of the load: every one of its records is there, not none. The
// same file rewritten after the build is seen by AnyChanged.
TEST_F(DataFileSetTest, ARegisterRewrittenAfterItsReadIsReadAgainAtTheEnd) {
  Lines full = {"Rewritten parish"};
  for (int i = 0; i < 500; ++i) full.push_back("1650 03 Mar John Smith" + std::to_string(i) + ", B; C; D");
  WriteLines(dir_ / "a_bap.txt", {"A", "1650 03 Mar John Smith, B; C; D"});
  WriteLines(dir_ / "b_bap.txt", {});  // the writer has cut it
  int rewrites = 0;
  DataFileSet::SetLoadedHook([&] {
    if (rewrites++ == 0) WriteLines(dir_ / "b_bap.txt", full);  // and writes it once all files are read
  });
  Lines messages;
  DataFileSet set;
  set.MakeFileList(dir_.str(), "", [&](const std::string& m) { messages.push_back(m); });
  DataFileSet::SetLoadedHook(nullptr);
  EXPECT_TRUE(messages.empty()) << messages.front();
  EXPECT_EQ(set.File(1).data->RecordCount(), 500);
  EXPECT_EQ(set.File(1).title, "Rewritten parish");
  EXPECT_EQ(set.SourceList()[1], "[2] Rewritten parish");
  EXPECT_FALSE(set.AnyChanged());
  WriteLines(dir_ / "a_bap.txt", {"A", "1650 03 Mar John Smith, B; C; D", "1651 03 Mar Ann Smith, B; C; D"});
  EXPECT_TRUE(set.AnyChanged());
}

// Registers in UTF-8, each read in several pieces, give the hits their
// Windows-1252 twins give, by RunSearch and by LoadAndSearch (which reads
// with the pattern's anchors), with the same titles.
TEST_F(DataFileSetTest, Utf8RegistersAreSearchedAsTheirWindows1252Twins) {
  TempDir cp1252, utf8;
  appcore_test::Generate(cp1252, 70, 4, 20000);
  for (const auto& entry : std::filesystem::directory_iterator(cp1252.path())) {
    WriteBytes(utf8 / entry.path().filename().string(), rtl::Cp1252ToUtf8(ReadBytes(entry.path().string())));
    ASSERT_GE(std::filesystem::file_size(entry.path()), size_t{64} << 10);
  }
  DataFileSet a, b;
  a.MakeFileList(cp1252.str(), "", nullptr);
  b.MakeFileList(utf8.str(), "", nullptr);
  ASSERT_EQ(a.Count(), b.Count());
  EXPECT_EQ(a.SourceList(), b.SourceList());
  int utf8_files = 0;
  for (int k = 0; k < b.Count(); ++k) {
    EXPECT_EQ(b.File(k).data->Bytes(), a.File(k).data->Bytes());
    utf8_files += b.File(k).data->Form().utf8;
    EXPECT_FALSE(a.File(k).data->Form().utf8);
  }
  EXPECT_GT(utf8_files, 0);
  for (const char* name : {"Dupr\xe9", "M\xfcller", "Smith"}) {
    const SearchResult x = RunSearch(a, appcore_test::OptionsFor(name, a), nullptr);
    const SearchResult y = RunSearch(b, appcore_test::OptionsFor(name, b), nullptr);
    EXPECT_EQ(appcore_test::AllHits(x), appcore_test::AllHits(y)) << name;
    DataFileSet read;
    const SearchResult z = LoadAndSearch(read, utf8.str(), nullptr, appcore_test::OptionsFor(name, b), nullptr);
    EXPECT_EQ(appcore_test::AllHits(z), appcore_test::AllHits(x)) << name;
    if (std::string(name) != "Smith") { EXPECT_GT(x.hit_count, 0) << name; }
  }
}

// Loading on other threads: progress is called meanwhile; a Cancel returns
// at once, though a file is still being read, and leaves the list as it was.
TEST_F(DataFileSetTest, ACancelledLoadReturnsAtOnceAndKeepsTheList) {
  WriteLines(dir_ / "a_bap.txt", {"A", "1650 03 Mar John Smith, B; C; D"});
  Make(dir_.str());
  TempDir other;
  WriteLines(other / "b_bap.txt", {"B"});
  std::atomic<bool> release{false};
  const auto slow = [&](int, const DataFileEntry&) {
    while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  };
  int calls = 0;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(set_.MakeFileList(other.str(), lists_.str(), nullptr, slow, [&] { return ++calls < 3; }));
  EXPECT_EQ(calls, 3);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
  ASSERT_EQ(set_.Count(), 1);
  EXPECT_EQ(set_.File(0).title, "A");
  EXPECT_EQ(SourcesTxt(), "[1] A\r\n");
  // The next build waits for the reading left behind, then reads afresh.
  std::thread later([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    release = true;
  });
  calls = 0;
  EXPECT_TRUE(set_.MakeFileList(other.str(), lists_.str(), nullptr, nullptr, [&] { return ++calls > 0; }));
  later.join();
  EXPECT_GT(calls, 0);
  ASSERT_EQ(set_.Count(), 1);
  EXPECT_EQ(set_.File(0).title, "B");
}

TEST_F(DataFileSetTest, AFailedReloadClearsTheSlotInsteadOfKeepingOldLines) {
  WriteLines(dir_ / "a_bap.txt", {"A", "1650 03 Mar John Smith, B; C; D"});
  WriteLines(dir_ / "b_bap.txt", {"B", "1650 03 Mar Will Jones, B; C; D"});
  EXPECT_TRUE(Make(dir_.str()).empty());
  // b becomes a file too large to hold.
  const int fd = ::open((dir_ / "b_bap.txt").c_str(), O_WRONLY);
  ASSERT_GE(fd, 0);
  const bool sparse = ::ftruncate(fd, int64_t{1} << 32) == 0;
  ::close(fd);
  if (!sparse) GTEST_SKIP() << "no sparse files here";
  EXPECT_TRUE(Make(dir_.str()).empty());
  EXPECT_EQ(set_.NoticeText(), "[2] b_bap.txt not read: File load error: 2. Cannot read file \"" + (dir_ / "b_bap.txt") +
                                   "\". The file is 4 GiB or larger.");
  EXPECT_TRUE(set_.File(1).load_failed);
  EXPECT_EQ(set_.File(1).data->LineCount(), 0);
  const SearchResult r = RunSearch(set_, appcore_test::OptionsFor("Jones", set_), nullptr);
  EXPECT_EQ(r.hit_count, 0);
  EXPECT_EQ(FilesTxt(), (dir_ / "a_bap.txt") + "\r\nb_bap.txt\r\n");
}

TEST_F(DataFileSetTest, UnchangedFilesKeepTheirLinesChangedOnesAreReadAgain) {
  WriteLines(dir_ / "a_bap.txt", {"A", "1650 03 Mar John Smith, B; C; D"});
  WriteLines(dir_ / "b_bap.txt", {"B", "1650 03 Mar Will Jones, B; C; D"});
  Make(dir_.str());
  const DataFile* a = set_.File(0).data.get();
  const DataFile* b = set_.File(1).data.get();
  // Rewrite b with new text of the same length and a later change time (set
  // outright: the file system's clock may not have moved on yet).
  const auto first_written = std::filesystem::last_write_time(dir_ / "b_bap.txt");
  WriteLines(dir_ / "b_bap.txt", {"B", "1650 03 Mar Will Brown, B; C; D"});
  std::filesystem::last_write_time(dir_ / "b_bap.txt", first_written + std::chrono::seconds(2));
  Make(dir_.str());
  EXPECT_EQ(set_.File(1).data->Line(1), "1650 03 Mar Will Brown, B; C; D");
  EXPECT_EQ(set_.File(0).data->Line(1), "1650 03 Mar John Smith, B; C; D");
  (void)a;
  (void)b;
  // Nothing changed: nothing is read.
  const DataFile* a2 = set_.File(0).data.get();
  const DataFile* b2 = set_.File(1).data.get();
  Make(dir_.str());
  EXPECT_EQ(set_.File(0).data.get(), a2);
  EXPECT_EQ(set_.File(1).data.get(), b2);
  // A new source folder reads everything from there.
  TempDir other;
  WriteLines(other / "c_marr.txt", {"C"});
  Make(other.str());
  ASSERT_EQ(set_.Count(), 1);
  EXPECT_EQ(set_.File(0).title, "C");
}

#if !defined(__SANITIZE_ADDRESS__)
TEST_F(DataFileSetTest, AFileTooBigForMemoryIsALoadErrorNotACrash) {
  WriteLines(dir_ / "a_bap.txt", {"A", "1650 03 Mar John Smith, B; C; D"});
  const int fd = ::open((dir_ / "b_bap.txt").c_str(), O_CREAT | O_WRONLY, 0666);
  ASSERT_GE(fd, 0);
  const bool sized = ::ftruncate(fd, int64_t{600} << 20) == 0;  // 600 MB of zero bytes, sparse
  ::close(fd);
  if (!sized) GTEST_SKIP() << "no sparse files here";
  const pid_t pid = ::fork();
  if (pid == 0) {
    struct rlimit limit = {size_t{256} << 20, size_t{256} << 20};
    ::setrlimit(RLIMIT_AS, &limit);
    DataFileSet set;
    Lines messages;
    set.MakeFileList(dir_.str(), "", [&](const std::string& m) { messages.push_back(m); });
    const bool ok = set.Count() == 2 && messages.empty() && set.Notices().size() == 1 && !set.Notices()[0].read &&
                    set.File(1).load_failed &&
                    set.File(0).data->LineCount() == 2;
    ::_exit(ok ? 0 : 1);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}
#endif

TEST_F(DataFileSetTest, ListsThatCannotBeWrittenAreReportedAndTheBuildGoesOn) {
  WriteLines(dir_ / "a_bap.txt", {"A"});
  Lines messages;
  set_.MakeFileList(dir_.str(), dir_ / "no/such/folder", [&](const std::string& m) { messages.push_back(m); });
  EXPECT_EQ(set_.Count(), 1);
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_NE(messages[0].find("Sources.txt"), std::string::npos);
  EXPECT_NE(messages[1].find("Files.txt"), std::string::npos);
}

TEST_F(DataFileSetTest, ListsAreReplacedWhole) {
  WriteLines(dir_ / "a_bap.txt", {"A"});
  WriteBytes(lists_ / "Sources.txt", "old content that is much longer than the new one\r\n");
  Make(dir_.str());
  EXPECT_EQ(SourcesTxt(), "[1] A\r\n");
}

TEST(SourceTicks, TicksFollowTheirFilesAcrossRebuilds) {
  SourceTicks ticks;
  ticks.Follow({"/r/a_bap.txt", "/r/b_bap.txt", "/r/c_bap.txt"});
  EXPECT_EQ(ticks.Vector(), (std::vector<bool>{true, true, true}));
  ticks.SetTicked(1, false);
  // b is removed and d added before c: c keeps its tick, d starts ticked.
  ticks.Follow({"/r/a_bap.txt", "/r/c_bap.txt", "/r/d_bap.txt"});
  EXPECT_EQ(ticks.Vector(), (std::vector<bool>{true, true, true}));
  ticks.SetTicked(1, false);
  ticks.Follow({"/r/a_bap.txt", "/r/b_bap.txt", "/r/c_bap.txt", "/r/d_bap.txt"});
  EXPECT_EQ(ticks.Vector(), (std::vector<bool>{true, false, false, true}));  // b comes back unticked
  EXPECT_FALSE(ticks.Ticked(7));
  ticks.SetTicked(7, true);  // ignored
  EXPECT_EQ(ticks.Count(), 4);
  ticks.UnselectAll();
  EXPECT_EQ(ticks.Vector(), (std::vector<bool>(4, false)));
  ticks.SelectAll();
  EXPECT_EQ(ticks.Vector(), (std::vector<bool>(4, true)));
}

}  // namespace
}  // namespace appcore
