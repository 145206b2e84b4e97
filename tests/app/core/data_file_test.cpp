#include "app/core/data_file.h"

#include <fcntl.h>
#include <sched.h>
#include <cerrno>
#include <fstream>
#include <mutex>
#include <set>
#include <sstream>
#include <thread>
#include <unistd.h>

#include <gtest/gtest.h>

#include "app/core/record_line.h"
#include "core_test_support.h"
#include "platform/runtime/exceptions.h"
#include "platform/runtime/os_files.h"
#include "platform/runtime/parts.h"
#include "platform/runtime/strings.h"

namespace appcore {
namespace {

using appcore_test::TempDir;
using appcore_test::WriteBytes;

std::vector<std::string> LinesOf(const DataFile& f) {
  std::vector<std::string> lines;
  for (int i = 0; i < f.LineCount(); ++i) lines.emplace_back(f.Line(i));
  return lines;
}

// Lines as the runtime's string list splits text: the reference.
std::vector<std::string> ReferenceLines(const std::string& text) {
  rtl::TStringList list;
  list.SetText(text);
  std::vector<std::string> lines;
  for (int i = 0; i < list.Count(); ++i) lines.push_back(list[i]);
  return lines;
}

TEST(DataFileLines, SplitAtCrLfOrCrLf) {
  const std::vector<std::string> texts = {
      "",
      "title",
      "title\r\n",
      "a\r\nb\r\nc",
      "a\nb\rc\r\n",
      "a\n\rb",        // LF then CR: an empty line between
      "a\r\r\nb\n\n",  // empty lines
      "\r\n\r\n",
      std::string("a\0b\r\nc", 6),  // zero bytes are kept
      std::string(40, 'x') + "\r" + std::string(17, 'y') + "\n[z\"\r\n" + std::string(31, '\r'),
  };
  for (const std::string& text : texts) {
    const auto file = DataFile::FromText(text);
    EXPECT_EQ(LinesOf(*file), ReferenceLines(text)) << testing::PrintToString(text);
    EXPECT_EQ(file->LineStart(file->LineCount()), text.size());
  }
}

TEST(DataFileLines, LongRandomTextsSplitAsTheStringListDoes) {
  uint64_t state = 12345;
  auto next = [&] { return (state = state * 6364136223846793005ull + 1442695040888963407ull) >> 33; };
  // The second alphabet makes record lines with years and trimmed ends.
  const std::string alphabets[] = {std::string("ab []\"\r\n\r\n1?-"), std::string("17\t6 09?[\"\r\n\xE9\0", 14)};
  for (int round = 0; round < 100; ++round) {
    const std::string& alphabet = alphabets[round % 2];
    std::string text;
    const size_t length = next() % 3000;
    for (size_t i = 0; i < length; ++i) text.push_back(alphabet[next() % alphabet.size()]);
    const auto file = DataFile::FromText(text);
    ASSERT_EQ(LinesOf(*file), ReferenceLines(text));
    for (int i = 0; i < file->LineCount(); ++i) {
      const std::string_view line = file->Line(i);
      const uint8_t flags = file->Flags(i);
      EXPECT_EQ((flags & DataFile::kHasBracket) != 0, line.find_first_of("[]") != std::string_view::npos);
      EXPECT_EQ((flags & DataFile::kHasQuote) != 0, line.find('"') != std::string_view::npos);
      const std::string_view trimmed = TrimLine(line);
      const bool record = i > 0 && IsRecordLine(trimmed);
      EXPECT_EQ((flags & DataFile::kRecordLine) != 0, record);
      if (record) {
        EXPECT_EQ(flags & 3, PeriodOf(trimmed));
      }
      // Every byte of the line maps back to it.
      if (!line.empty()) {
        EXPECT_EQ(file->LineAt(file->LineStart(i) + line.size() - 1, 0), i);
      }
    }
  }
}

TEST(DataFileLines, FactsPerLineAndRecordCounts) {
  const auto file = DataFile::FromText(
      "1650 title is never a record\r\n"
      "1650 03 Mar A, B; C; D\r\n"
      "  1701 03 Mar A, B; C; D\r\n"
      "16?5 03 Mar A, B; Rich[ard]\r\n"
      "-1650 separator\r\n"
      "   continuation \"quoted\"\r\n"
      "\r\n");
  ASSERT_EQ(file->LineCount(), 7);
  constexpr uint8_t kRecord = DataFile::kRecordLine;
  EXPECT_EQ(file->Flags(0), 0);
  EXPECT_EQ(file->Flags(1), kRecord | kBefore1700);
  EXPECT_EQ(file->Flags(2), kRecord | kFrom1700);
  EXPECT_EQ(file->Flags(3), kRecord | kBefore1700 | kFrom1700 | DataFile::kHasBracket);
  EXPECT_EQ(file->Flags(4), 0);
  EXPECT_EQ(file->Flags(5), DataFile::kHasQuote);
  EXPECT_EQ(file->MarkedLines(), (std::vector<uint32_t>{3, 5}));
  EXPECT_EQ(file->RecordsInPeriod(kBefore1700), 1);
  EXPECT_EQ(file->RecordsInPeriod(kFrom1700), 1);
  EXPECT_EQ(file->RecordsInPeriod(kBefore1700 | kFrom1700), 1);
  EXPECT_EQ(file->RecordsInPeriod(0), 0);
}

TEST(DataFileLines, MemoryIsTheTextAndAFewBytesPerLine) {
  std::string text;
  for (int i = 0; i < 20000; ++i) text += "1650 03 Mar John Smith, Mary Jones; Anne; Will Brown, Joan Hall\r\n";
  const auto file = DataFile::FromText(text);
  EXPECT_EQ(file->LineCount(), 20000);
  EXPECT_LE(file->MemoryUse(), text.size() + 20000 * 6 + 4096);
}

// What reading a file finds without the line index (the counts, the starts
// of every 8192nd line, the lines with marks, the first line, the facts and
// the bounds of a line found from any of its bytes) against the line index
// built afterwards, over texts of up to three strides of lines.
TEST(DataFileLines, WhatReadingFindsAgreesWithTheLineIndex) {
  for (const size_t lines : {0u, 1u, 2u, 70u, 8190u, 8192u, 8193u, 20000u}) {
    for (const uint64_t seed : {1u, 2u}) {
      SCOPED_TRACE(testing::Message() << lines << " lines, seed " << seed);
      const std::string text = appcore_test::OddRegisterText(seed * 977 + lines, lines);
      const auto file = DataFile::FromText(text);
      ASSERT_FALSE(file->LinesBuilt());
      const int count = file->LineCount();
      const int64_t records = file->RecordCount();
      const std::vector<DataFile::Span> brackets = file->BracketLines(), quotes = file->QuoteLines();
      std::vector<size_t> strides;
      std::vector<int64_t> stride_records;  // from line 1 + k strides to the end
      for (int line = 1; line < count; line += DataFile::kStrideLines) {
        strides.push_back(file->StrideStart(line));
        stride_records.push_back(file->RecordsBetween(line, count));
      }
      EXPECT_EQ(file->FirstLine(), ReferenceLines(text).empty() ? "" : ReferenceLines(text)[0]);
      ASSERT_FALSE(file->LinesBuilt());

      ASSERT_EQ(LinesOf(*file), ReferenceLines(text));
      ASSERT_TRUE(file->LinesBuilt());
      EXPECT_EQ(file->LineCount(), count);
      int64_t reference_records = 0;
      for (uint8_t period = 0; period < 4; ++period) reference_records += file->RecordsInPeriod(period);
      EXPECT_EQ(records, reference_records);
      std::vector<DataFile::Span> reference_brackets, reference_quotes;
      for (int i = 0; i < count; ++i) {
        const std::string_view line = file->Line(i);
        const DataFile::Span span{static_cast<uint32_t>(file->LineStart(i)),
                                  static_cast<uint32_t>(file->LineStart(i) + line.size())};
        if (line.find('[') != std::string_view::npos) reference_brackets.push_back(span);
        if (line.find('"') != std::string_view::npos) reference_quotes.push_back(span);
        if (i > 0) {
          const uint8_t marks = file->Flags(i) & (DataFile::kHasBracket | DataFile::kHasQuote);
          ASSERT_EQ(file->FactsOf(span.begin, span.end, marks), file->Flags(i)) << i;
        }
        // Every byte of the line and its first line-end byte lead to it.
        for (size_t at = span.begin; at <= span.end && at < text.size(); at += 1 + at % 5) {
          ASSERT_EQ(file->LineBegin(at, 0), span.begin) << i << " " << at;
          ASSERT_EQ(file->LineEnd(at), span.end) << i << " " << at;
        }
        ASSERT_EQ(file->NextLine(span.end), file->LineStart(i + 1)) << i;
      }
      EXPECT_EQ(brackets, reference_brackets);
      EXPECT_EQ(quotes, reference_quotes);
      const auto records_from = [&](int first, int end) {
        int64_t n = 0;
        for (int i = first; i < end; ++i) n += (file->Flags(i) & DataFile::kRecordLine) != 0;
        return n;
      };
      for (size_t k = 0; k < strides.size(); ++k) {
        const int line = 1 + static_cast<int>(k) * DataFile::kStrideLines;
        EXPECT_EQ(strides[k], file->LineStart(line)) << k;
        EXPECT_EQ(stride_records[k], records_from(line, count)) << k;
      }
      // Other ranges are counted from the line index.
      EXPECT_EQ(file->RecordsBetween(2, count - 1), records_from(2, count - 1));
      EXPECT_EQ(file->RecordsBetween(1, count + 5), records);
      EXPECT_EQ(file->StrideStart(count), text.size());
    }
  }
}

TEST(DataFileLoad, ReadsTheWholeFileAndItsStamp) {
  TempDir dir;
  const std::string path = dir / "x_bap.txt";
  WriteBytes(path, "Title\r\n1650 03 Mar A\r\nlast");
  const auto file = DataFile::Load(path);
  EXPECT_EQ(LinesOf(*file), (std::vector<std::string>{"Title", "1650 03 Mar A", "last"}));
  EXPECT_EQ(file->Stamp(), StampOf(path));
  EXPECT_EQ(file->Stamp().size, 26);
}

TEST(DataFileLoad, MissingFileOrFolderRaisesEFOpenError) {
  TempDir dir;
  EXPECT_THROW(DataFile::Load(dir / "missing_bap.txt"), rtl::EFOpenError);
  EXPECT_THROW(DataFile::Load(dir.str()), rtl::EFOpenError);
  try {
    DataFile::Load(dir / "missing_bap.txt");
  } catch (const rtl::EFOpenError& e) {
    EXPECT_NE(e.Message().find("missing_bap.txt"), std::string::npos);
  }
}

TEST(DataFileLoad, FilesOf4GiBOrMoreAreRefused) {
  TempDir dir;
  const std::string path = dir / "huge_bap.txt";
  const int fd = ::open(path.c_str(), O_CREAT | O_WRONLY, 0644);
  ASSERT_GE(fd, 0);
  const bool sparse = ::ftruncate(fd, int64_t{1} << 32) == 0;
  ::close(fd);
  if (!sparse) GTEST_SKIP() << "no sparse files here";
  EXPECT_THROW(DataFile::Load(path), rtl::EFOpenError);
  std::vector<std::string> errors;
  const auto files = DataFile::LoadMany({path}, errors);
  EXPECT_EQ(files[0], nullptr);
  EXPECT_NE(errors[0].find("4 GiB"), std::string::npos);
}

TEST(DataFileLoad, UnreadableFileRaisesForAnUnprivilegedUser) {
  TempDir dir;
  const std::string path = dir / "locked_bap.txt";
  WriteBytes(path, "Title\r\n");
  ::chmod(path.c_str(), 0);
  const int status = appcore_test::RunUnprivileged([&] {
    try {
      DataFile::Load(path);
    } catch (const rtl::EFOpenError&) {
      std::vector<std::string> errors;
      const auto files = DataFile::LoadMany({path}, errors);
      return files[0] == nullptr && errors[0].find("Permission denied") != std::string::npos ? 0 : 2;
    }
    return 1;
  });
  EXPECT_EQ(status, 0);
}

TEST(DataFileLoad, ManyFilesTogetherKeepTheirOrderAndReportEachFailure) {
  TempDir dir;
  std::vector<std::string> paths;
  for (int i = 0; i < 300; ++i) {  // more than one batch of open files
    const std::string path = dir / ("f" + std::to_string(i) + "_bap.txt");
    if (i % 37 != 5) WriteBytes(path, "Title " + std::to_string(i) + "\r\n1650 03 Mar A, B; C; D\r\n");
    paths.push_back(path);
  }
  std::vector<std::string> errors;
  const auto files = DataFile::LoadMany(paths, errors);
  ASSERT_EQ(files.size(), 300u);
  for (int i = 0; i < 300; ++i) {
    if (i % 37 == 5) {
      EXPECT_EQ(files[static_cast<size_t>(i)], nullptr);
      EXPECT_NE(errors[static_cast<size_t>(i)].find(paths[static_cast<size_t>(i)]), std::string::npos);
    } else {
      ASSERT_NE(files[static_cast<size_t>(i)], nullptr);
      EXPECT_EQ(files[static_cast<size_t>(i)]->Line(0), "Title " + std::to_string(i));
      EXPECT_EQ(files[static_cast<size_t>(i)]->LineCount(), 2);
      EXPECT_TRUE(errors[static_cast<size_t>(i)].empty());
    }
  }
}

// The cores this process may run on, as the kernel lists them in
// /proc/self/status ("0-3,6"), counted apart from the loader's own count.
size_t CoresListed() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("Cpus_allowed_list:", 0) != 0) continue;
    std::stringstream list(line.substr(line.find(':') + 1));
    size_t count = 0;
    for (std::string range; std::getline(list, range, ',');) {
      const size_t dash = range.find('-');
      count += dash == std::string::npos ? 1 : std::stoul(range.substr(dash + 1)) - std::stoul(range) + 1;
    }
    return count;
  }
  return 0;
}

TEST(DataFileLoad, ThreadsFollowTheCoresTheProcessMayUse) {
  TempDir dir;
  std::vector<std::string> paths;
  for (int i = 0; i < 16; ++i) {
    paths.push_back(dir / ("f" + std::to_string(i) + "_bap.txt"));
    WriteBytes(paths.back(), "Title\r\n1650 03 Mar A, B; C; D\r\n");
  }
  cpu_set_t before;
  ASSERT_EQ(sched_getaffinity(0, sizeof before, &before), 0);
  EXPECT_EQ(rtl::UsableProcessors(), CoresListed());
  // Pinned to one core, the files are read on the calling thread alone.
  cpu_set_t one;
  CPU_ZERO(&one);
  for (int core = 0; core < CPU_SETSIZE; ++core) {
    if (!CPU_ISSET(core, &before)) continue;
    CPU_SET(core, &one);
    break;
  }
  ASSERT_EQ(sched_setaffinity(0, sizeof one, &one), 0);
  EXPECT_EQ(rtl::UsableProcessors(), 1u);
  EXPECT_EQ(rtl::UsableProcessors(), CoresListed());
  std::vector<std::string> errors;
  std::set<std::thread::id> readers;
  std::mutex mutex;
  const auto files = DataFile::LoadMany(paths, errors, [&](size_t, const std::shared_ptr<const DataFile>&) {
    std::lock_guard<std::mutex> lock(mutex);
    readers.insert(std::this_thread::get_id());
  });
  ASSERT_EQ(sched_setaffinity(0, sizeof before, &before), 0);
  EXPECT_EQ(readers, std::set<std::thread::id>{std::this_thread::get_id()});
  for (const auto& file : files) ASSERT_NE(file, nullptr);
}

TEST(DataFileLoad, AFileLongerThanItsStatedSizeIsReadWhole) {
  // Files under /proc state a size of 0 yet have text: the loader reads on
  // until the end, as it does for a file that grows while it is read.
  const std::string path = "/proc/self/status";
  if (appcore::StampOf(path).size != 0) GTEST_SKIP() << "no /proc here";
  const auto file = DataFile::Load(path);
  ASSERT_GT(file->LineCount(), 3);
  EXPECT_EQ(file->Line(0).substr(0, 5), "Name:");
  std::vector<std::string> errors;
  const auto files = DataFile::LoadMany({path, "/proc/self/limits"}, errors);
  ASSERT_NE(files[0], nullptr);
  ASSERT_NE(files[1], nullptr);
  EXPECT_EQ(files[0]->Line(0).substr(0, 5), "Name:");
  EXPECT_GT(files[1]->LineCount(), 3);
}

// Files from ByteBlock::kMapFrom on are mapped instead of read: loaded one
// by one or together with smaller ones, every file has the lines, flags and
// counts of the same text read into memory, and a mapped file cut short by
// another program reads as zeros instead of stopping the process, and is
// read again by the next listing.
TEST(DataFileLoad, MappedFilesHoldWhatReadFilesHold) {
  TempDir dir;
  std::vector<std::string> paths, texts;
  std::string line_ends_mixed;  // lines of every length modulo 13, both line ends
  for (size_t i = 0; i < 26; ++i)
    line_ends_mixed += (i % 7 == 3 ? "-" : "") + std::to_string(1650 + i % 100) +
                       " 03 Mar John Ba[ker], Mary \"Jo\"; Anne " + std::string(i % 13, 'x') + "; Will Brown" +
                       (i % 2 ? "\n" : "\r\n");
  // A few lines; a little smaller than the map size, a little larger, and
  // a third larger.
  const size_t map_from = ByteBlock::kMapFrom;
  for (const size_t size : {size_t{0}, map_from - 4096, map_from + 4096, map_from + map_from / 3}) {
    std::string text = "Title " + std::to_string(size) + "\r\n" + line_ends_mixed.substr(0, 150);
    while (text.size() + 100 < size) text += line_ends_mixed;
    text += "1699 last line without its end";
    paths.push_back(dir / ("f" + std::to_string(size) + "_bap.txt"));
    WriteBytes(paths.back(), text);
    texts.push_back(text);
  }
  std::vector<std::string> errors;
  const auto together = DataFile::LoadMany(paths, errors);
  for (size_t k = 0; k < paths.size(); ++k) {
    SCOPED_TRACE(paths[k]);
    const auto alone = DataFile::Load(paths[k]);
    const auto reference = DataFile::FromText(texts[k]);
    ASSERT_NE(together[k], nullptr);
    EXPECT_EQ(alone->Block()->FileMapped(), texts[k].size() >= map_from);
    EXPECT_EQ(together[k]->Block()->FileMapped(), texts[k].size() >= map_from);
    for (const DataFile* file : {alone.get(), together[k].get()}) {
      ASSERT_EQ(LinesOf(*file), LinesOf(*reference));
      EXPECT_EQ(file->MarkedLines(), reference->MarkedLines());
      for (int i = 0; i < file->LineCount(); ++i) ASSERT_EQ(file->Flags(i), reference->Flags(i)) << i;
      for (uint8_t period = 0; period < 4; ++period)
        EXPECT_EQ(file->RecordsInPeriod(period), reference->RecordsInPeriod(period));
      EXPECT_EQ(file->Stamp(), StampOf(paths[k]));
    }
  }

  // Cut short while loaded.
  const auto file = DataFile::Load(paths[3]);
  ASSERT_TRUE(file->Block()->FileMapped());
  ASSERT_EQ(::truncate(paths[3].c_str(), 100), 0);
  size_t zeros = 0;
  for (int i = 0; i < file->LineCount(); ++i)
    for (const char c : file->Line(i)) zeros += c == '\0';
  EXPECT_GT(zeros, texts[3].size() - 8192);
  EXPECT_NE(file->Stamp(), StampOf(paths[3]));
}

// Another program rewriting a mapped file in place changes its bytes under
// the map: the line index, built afterwards, keeps the line count found as
// the file was read, so that every line number handed out stays valid.
TEST(DataFileLoad, AMappedFileRewrittenInPlaceKeepsItsLineCount) {
  TempDir dir;
  const std::string path = dir / "big_bap.txt";
  std::string text = "Title\r\n";
  while (text.size() < ByteBlock::kMapFrom) text += "1650 03 Mar John Baker, Mary Cole; Anne; Will\r\n";
  for (const char fill : {'\n', 'x'}) {  // many more line ends, then none
    SCOPED_TRACE(fill);
    WriteBytes(path, text);
    const auto file = DataFile::Load(path);
    ASSERT_TRUE(file->Block()->FileMapped());
    const int count = file->LineCount();
    const int fd = ::open(path.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    const std::string other(text.size(), fill);
    ASSERT_EQ(::pwrite(fd, other.data(), other.size(), 0), static_cast<ssize_t>(other.size()));
    ::close(fd);
    ASSERT_EQ(file->Bytes()[0], fill);  // the map shows the new bytes
    EXPECT_EQ(file->LineCount(), count);
    size_t bytes = 0;
    int records = 0;
    for (int i = 0; i < file->LineCount(); ++i) {
      bytes += file->Line(i).size();
      records += (file->Flags(i) & DataFile::kRecordLine) != 0;
    }
    EXPECT_LE(bytes, text.size());
    EXPECT_EQ(records, 0);
    EXPECT_EQ(file->LineStart(file->LineCount()), text.size());
    EXPECT_EQ(file->RecordCount(), count - 1);
  }
}

TEST(DataFileLoad, AnInjectedReadFailureOfALargeFileIsReported) {
  TempDir dir;
  const std::string path = dir / "big_bap.txt";
  WriteBytes(path, "Title\r\n" + std::string(100000, 'x'));
  rtl::os::FailReads(0, 1, EIO);
  EXPECT_THROW(DataFile::Load(path), rtl::EReadError);
  rtl::os::FailReads(0, 1, EIO);
  std::vector<std::string> errors;
  EXPECT_EQ(DataFile::LoadMany({path}, errors)[0], nullptr);
  EXPECT_NE(errors[0].find("Input/output error"), std::string::npos) << errors[0];
  rtl::os::FailReads(0, 0, 0);
  EXPECT_EQ(DataFile::Load(path)->Line(1).size(), 100000u);
}

TEST(DataFileLoad, SpecialFilesAreRefusedWithoutWaiting) {
  TempDir dir;
  const std::string path = dir / "fifo_bap.txt";
  ASSERT_EQ(::mkfifo(path.c_str(), 0644), 0);
  EXPECT_THROW(DataFile::Load(path), rtl::EFOpenError);  // no writer: must not block
}

}  // namespace
}  // namespace appcore
