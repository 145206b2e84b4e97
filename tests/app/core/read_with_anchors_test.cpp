// Reading files with a pattern's anchors, so that one pass serves the
// counts and the search: the counts and lists equal those of a reading
// without anchors and of a model that splits the lines itself, the places
// equal every offset where both anchors stand, and a search of files as
// they are read with anchors finds what a search of files read without
// them finds.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <random>
#include <tuple>

#include "app/core/data_file.h"
#include "app/core/pattern_finder.h"
#include "app/core/record_line.h"
#include "core_test_support.h"
#include "platform/runtime/os_process.h"

namespace appcore {
namespace {

using appcore_test::AllHits;

std::shared_ptr<const DataFile> Read(std::string_view text, const PatternAnchors* anchors) {
  auto block = std::make_shared<ByteBlock>(text.size());
  if (!text.empty()) std::memcpy(block->data(), text.data(), text.size());
  FileStamp stamp;
  stamp.size = static_cast<int64_t>(text.size());
  const char* bytes = block->data();
  return std::make_shared<DataFile>(std::move(block), bytes, text.size(), stamp, anchors);
}

// Bytes of register text and of the patterns below, every line end, codes
// below 32 (NUL too) and a letter above 127.
std::string RandomText(std::mt19937& rng, size_t size) {
  static const std::string kBytes = std::string("0123456789?  \t[]\"abkerBAKER,;xyz\r\n\n\n\x01\xE9") + '\0';
  std::string text(size, ' ');
  for (char& c : text) c = kBytes[rng() % kBytes.size()];
  return text;
}

struct Model {
  int lines = 0;
  int64_t records = 0;
  std::vector<DataFile::Candidate> places;
  // Lines holding '[', '"', and a ']' before any '['.
  std::vector<DataFile::Span> brackets, quotes, closers;
};

// Lines split byte by byte (CR, LF or CR LF end one; a final line end
// opens no line), record lines by their trimmed text, marked lines by
// their bytes, places by testing every offset.
Model ModelOf(std::string_view text, const PatternAnchors& a) {
  Model model;
  std::vector<size_t> begins;
  for (size_t at = 0; at < text.size();) {
    begins.push_back(at);
    size_t end = at;
    while (end < text.size() && text[end] != '\r' && text[end] != '\n') ++end;
    const std::string_view line = text.substr(at, end - at);
    if (begins.size() > 1 && IsRecordLine(TrimLine(line))) ++model.records;
    const DataFile::Span span{static_cast<uint32_t>(at), static_cast<uint32_t>(end)};
    if (line.find('[') != std::string_view::npos) model.brackets.push_back(span);
    if (line.find('"') != std::string_view::npos) model.quotes.push_back(span);
    if (line.find(']') < line.find('[')) model.closers.push_back(span);
    at = end + (end + 1 < text.size() && text[end] == '\r' && text[end + 1] == '\n' ? 2 : 1);
  }
  model.lines = static_cast<int>(begins.size());
  const auto takes = [](const std::array<uint8_t, 2>& set, char c) {
    return set[0] == static_cast<uint8_t>(c) || set[1] == static_cast<uint8_t>(c);
  };
  for (size_t at = 0; at + a.Reach() < text.size(); ++at) {
    if (!takes(a.first_bytes, text[at + a.first]) || !takes(a.second_bytes, text[at + a.second])) continue;
    size_t line = at;
    while (line > 0 && text[line - 1] != '\r' && text[line - 1] != '\n') --line;
    model.places.push_back({static_cast<uint32_t>(line), static_cast<uint32_t>(at)});
  }
  return model;
}

// Everything the reading finds, with and without anchors and by the model.
void ExpectSameReading(std::string_view given, const PatternAnchors& anchors) {
  const auto plain = Read(given, nullptr);
  const auto anchored = Read(given, &anchors);
  // What the file holds: its bytes, or the text of its UTF-8 lines.
  const std::string held(plain->Bytes());
  const std::string_view text = held;
  const Model model = ModelOf(text, anchors);
  ASSERT_NE(anchored->ReadWith(), nullptr);
  EXPECT_EQ(*anchored->ReadWith(), anchors);
  EXPECT_EQ(plain->ReadWith(), nullptr);
  EXPECT_TRUE(plain->Candidates().empty());
  EXPECT_EQ(anchored->Candidates(), model.places);
  for (const auto* file : {plain.get(), anchored.get()}) {
    EXPECT_EQ(file->LineCount(), model.lines);
    EXPECT_EQ(file->RecordCount(), model.records);
    EXPECT_EQ(file->BracketLines(), model.brackets);
    EXPECT_EQ(file->QuoteLines(), model.quotes);
    EXPECT_EQ(file->CloserLines(), model.closers);
  }
  // Whether the anchors stand near each bracketed line's brackets, as
  // the line alone answers it.
  ASSERT_EQ(anchored->BracketLinesNearAnchors().size(), model.brackets.size());
  for (size_t k = 0; k < model.brackets.size(); ++k) {
    const DataFile::Span line = model.brackets[k];
    EXPECT_EQ(anchored->BracketLinesNearAnchors()[k],
              AnchorsNearBrackets(text.substr(line.begin, line.end - line.begin), anchors, anchors.size))
        << k;
  }
  EXPECT_EQ(anchored->FirstLine(), plain->FirstLine());
  EXPECT_EQ(anchored->BracketLines(), plain->BracketLines());
  EXPECT_EQ(anchored->QuoteLines(), plain->QuoteLines());
  // The starts and record counts noted every kStrideLines lines, and what
  // the line index (built by a pass of its own) says of them.
  for (int line = 1; line < plain->LineCount(); line += DataFile::kStrideLines) {
    EXPECT_EQ(anchored->StrideStart(line), plain->StrideStart(line));
    EXPECT_EQ(anchored->StrideStart(line), plain->LineStart(line));
    EXPECT_EQ(anchored->RecordsBetween(1, line), plain->RecordsBetween(1, line));
    int64_t records = 0;
    for (int i = 1; i < line; ++i) records += (plain->Flags(i) & DataFile::kRecordLine) ? 1 : 0;
    EXPECT_EQ(anchored->RecordsBetween(1, line), records);
  }
}

TEST(ReadWithAnchors, CountsListsAndPlacesEqualThoseOfTheModel) {
  // Anchors of two letters apart, of one byte twice, and at the start.
  const std::vector<std::string> patterns = {"Baker", "b?k", "e", "?r", "[k", "9?"};
  std::mt19937 rng(46);
  for (const std::string& pattern : patterns) {
    const PatternFinder finder(pattern);
    ASSERT_TRUE(finder.Usable()) << pattern;
    const PatternAnchors anchors = finder.Anchors();
    SCOPED_TRACE("pattern " + pattern);
    // Every size around the 64-byte windows and the reach of the anchors.
    for (size_t size = 0; size < 200; ++size) ExpectSameReading(RandomText(rng, size), anchors);
    for (int round = 0; round < 20; ++round) ExpectSameReading(RandomText(rng, 500 + rng() % 3000), anchors);
    // Register-like lines: several strides, lines that begin with blanks,
    // lone CRs, marks at every offset.
    ExpectSameReading(appcore_test::OddRegisterText(7, 20000), anchors);
  }
  // Fixed cases: a line end at the last byte of a window, the file's
  // last byte a line end, places at the last offsets.
  const PatternAnchors baker = PatternFinder("Baker").Anchors();
  for (const std::string& text :
       {std::string(63, 'x') + "\n1Baker", std::string(62, 'x') + "\r\n9 Baker\r\n", std::string(127, '1') + "\r",
        std::string("Title\n\n?\n 1\n\t?Baker\n\x01" "5\r\rbaker"), std::string(64, 'b') + std::string(64, 'k')})
    ExpectSameReading(text, baker);
}

// A file read in parts tells, at each part, exactly what a whole reading
// tells of the lines before the part's last stride line: the stride
// starts and record counts, the places and marked lines before it, and
// the end of each line; the parts' lines grow by whole strides, and what
// the file holds in the end is the whole reading's.
TEST(ReadWithAnchors, APartReadTellsWhatTheWholeReadingTellsOfItsLines) {
  // Register lines; lines of 100 KiB that straddle the parts; short
  // lines alone (many strides in one part); a final stride line that
  // begins the last part's bytes.
  std::string long_lines = "Title\n";
  for (int i = 0; i < 40; ++i) long_lines += "1650 " + std::string(100000 + i, i % 3 ? 'k' : 'B') + "\r\n";
  for (int i = 0; i < 30000; ++i) long_lines += i % 7 ? "1650 Baker\n" : "[B]aker \"x\"\n";
  std::string stride_end = "Title\r\n";
  for (int i = 0; i < 3 * DataFile::kStrideLines; ++i) stride_end += i % 5 ? "1651 Jan 02 Bake[r]\r\n" : "?\r\n";
  stride_end += std::string(70000, 'B') + "aker";
  const std::vector<std::string> texts = {appcore_test::OddRegisterText(21, 60000), long_lines,
                                          std::string(300000, '\n'), stride_end};
  for (const std::string pattern : {"Baker", "b?k"}) {
    const PatternAnchors anchors = PatternFinder(pattern).Anchors();
    for (size_t t = 0; t < texts.size(); ++t) {
      SCOPED_TRACE("pattern " + pattern + ", text " + std::to_string(t));
      const std::string& text = texts[t];
      const auto whole = Read(text, &anchors);
      const Model model = ModelOf(text, anchors);
      const auto before = [](const auto& list, size_t end, auto at) {
        std::decay_t<decltype(list)> front;
        for (const auto& item : list)
          if (at(item) < end) front.push_back(item);
        return front;
      };
      std::vector<int> told;
      const DataFile::SurveyFn part = [&](const DataFile& file, int lines) {
        ASSERT_EQ((lines - 1) % DataFile::kStrideLines, 0);
        ASSERT_GT(lines, told.empty() ? 1 : told.back());
        told.push_back(lines);
        const size_t end = whole->StrideStart(lines);
        EXPECT_EQ(file.StrideStart(lines), end);
        EXPECT_EQ(file.RecordsBetween(1, lines), whole->RecordsBetween(1, lines));
        const auto at = [](const DataFile::Candidate& c) { return c.at; };
        const auto begin = [](const DataFile::Span& s) { return s.begin; };
        EXPECT_EQ(before(file.Candidates(), end, at), before(model.places, end, at));
        EXPECT_EQ(before(file.BracketLines(), end, begin), before(model.brackets, end, begin));
        EXPECT_EQ(before(file.QuoteLines(), end, begin), before(model.quotes, end, begin));
        EXPECT_EQ(before(file.CloserLines(), end, begin), before(model.closers, end, begin));
        EXPECT_EQ(file.BracketLinesNearAnchors().size(), file.BracketLines().size());
        ASSERT_NE(file.ReadWith(), nullptr);
        EXPECT_EQ(file.LineEnd(end), whole->LineEnd(end));
      };
      auto block = std::make_shared<ByteBlock>(text.size());
      std::memcpy(block->data(), text.data(), text.size());
      const char* bytes = block->data();
      const DataFile parted(block, bytes, text.size(), FileStamp{}, &anchors, &part);
      EXPECT_GE(told.size(), 2u);
      EXPECT_EQ(parted.LineCount(), whole->LineCount());
      EXPECT_EQ(parted.RecordCount(), whole->RecordCount());
      EXPECT_EQ(parted.FirstLine(), whole->FirstLine());
      EXPECT_EQ(parted.Candidates(), whole->Candidates());
      EXPECT_EQ(parted.BracketLines(), whole->BracketLines());
      EXPECT_EQ(parted.BracketLinesNearAnchors(), whole->BracketLinesNearAnchors());
      EXPECT_EQ(parted.QuoteLines(), whole->QuoteLines());
      EXPECT_EQ(parted.CloserLines(), whole->CloserLines());
      for (int line = 1; line <= whole->LineCount(); line += DataFile::kStrideLines)
        EXPECT_EQ(parted.StrideStart(line), whole->StrideStart(line));
    }
  }
}

TEST(ReadWithAnchors, AnchorsOfAnyTwoBytesFindTheirPlaces) {
  // Pairs one bit 5 apart (a letter and its case image, 0x02 and '"'),
  // one byte twice, and pairs further apart (0x8A and 0x9A, a letter and
  // a digit), at offsets either way round and far apart, over text that
  // holds every byte of them and each byte's image with bit 5 flipped.
  using Pair = std::array<uint8_t, 2>;
  const std::vector<std::tuple<uint32_t, Pair, uint32_t, Pair>> cases = {
      {2, {'k', 'K'}, 0, {'b', 'B'}},        {0, {0xC9, 0xE9}, 1, {'"', '"'}},
      {0, {0x02, '"'}, 3, {'k', 'K'}},       {1, {0x8A, 0x9A}, 0, {'b', 'B'}},
      {0, {'b', 'B'}, 40, {0x8A, 0x9A}},     {5, {'k', '1'}, 5, {'k', '1'}},
      {0, {0xFF, 0x9F}, 2, {0xE9, 0xE9}},    {70, {'B', 'b'}, 0, {'K', 'k'}},
      {63, {'B', 'b'}, 0, {'K', 'k'}},       {0, {'k', 'K'}, 64, {'b', 'B'}},
  };
  static const std::string kBytes = std::string("kKbB1\x11\"\x02\x8A\x9A\xAA\xBA\xC9\xE9\xFF\x9F\xDF\xBF 09[]\r\n\n");
  std::mt19937 rng(460);
  for (const auto& [first, first_bytes, second, second_bytes] : cases) {
    PatternAnchors anchors;
    anchors.first = first;
    anchors.second = second;
    anchors.first_bytes = first_bytes;
    anchors.second_bytes = second_bytes;
    anchors.size = std::max(first, second) + 1;
    SCOPED_TRACE("anchors at " + std::to_string(first) + " and " + std::to_string(second));
    for (int round = 0; round < 60; ++round) {
      std::string text(static_cast<size_t>(rng() % 700), ' ');
      for (char& c : text) c = kBytes[rng() % kBytes.size()];
      ExpectSameReading(text, anchors);
    }
  }
}

TEST(ReadWithAnchors, LinesThatBeginAWindowCountAtEveryNotedLine) {
  // Lines of 64 bytes begin every window, so that each noted line (1,
  // 8193, ...) follows one that begins its window, after a line end at the
  // window before's last byte (LF, CR LF, or a CR alone): every other line
  // begins as a record line may or may not ('?', blanks, a code, a letter).
  const PatternAnchors baker = PatternFinder("Baker").Anchors();
  for (const std::string begin : {"?", " 1", "\t?", "\x01" "7", "x", " x", "  "}) {
    for (const std::string end : {"\n", "\r\n", "\r"}) {
      SCOPED_TRACE("lines beginning '" + begin + "', ending in " + std::to_string(end.size()) + " bytes");
      std::string text;
      for (int i = 0; i < 8200; ++i) {
        std::string line = i % 2 == 0 ? begin + " Baker" : "1675 01 Jan Baker";
        line.resize(64 - end.size(), 'a');
        text += line + end;
      }
      ExpectSameReading(text, baker);
    }
  }
}

TEST(ReadWithAnchors, PlacesOnLineEndsAtWindowEdgesHaveTheLinesTheyEnd) {
  // A pattern whose first byte is no anchor has places on line ends. Each
  // window's edge falls after the first byte of a line end (a CR LF split
  // in two, or an LF or a lone CR as the window's last byte), and the line
  // after it begins with the anchor, so that a place stands on the end's
  // last byte, at the window's last byte or the next one's first, in long
  // runs of windows taken alike.
  const PatternAnchors r_after = PatternFinder("?r").Anchors();
  for (const std::string end : {"\r\n", "\n", "\r"}) {
    for (const std::string begin : {"r", "R 1675", "1675 r", " \tr", "[r]", "\"r"}) {
      SCOPED_TRACE("lines beginning '" + begin + "', ending in " + std::to_string(end.size()) + " bytes");
      std::string text(63, 'x');
      for (int i = 0; i < 300; ++i) {
        std::string line = (i % 7 == 3 ? std::string("Baker ") : begin) + " Baker";
        line.resize(64 - end.size(), i % 5 == 0 ? 'r' : 'a');
        text += end + line;
      }
      ExpectSameReading(text, r_after);
    }
  }
}

TEST(ReadWithAnchors, BytesAroundEveryWindowEdgeAgreeWithTheModel) {
  // Register text with line ends (a CR LF split by the edge too), runs of
  // blanks that begin a line before the edge and end after it, '?',
  // digits, marks and anchor bytes on both sides of each 64-byte edge.
  static const std::string kEdge = std::string("\r\n\n  \t?19bkBK[]\"x\x01");
  std::mt19937 rng(4646);
  for (const std::string pattern : {"Baker", "e", "b?k", "?r"}) {
    const PatternAnchors anchors = PatternFinder(pattern).Anchors();
    SCOPED_TRACE("pattern " + pattern);
    for (int round = 0; round < 150; ++round) {
      std::string text = appcore_test::OddRegisterText(rng(), 40);
      for (size_t edge = 64; edge + 8 < text.size(); edge += 64) {
        if (rng() % 4 == 0) {
          const size_t run = 1 + rng() % 12;
          text[edge - run - 1] = "\n\r"[rng() % 2];
          for (size_t k = edge - run; k < edge + 2; ++k) text[k] = " \t\x01"[rng() % 3];
          text[edge + 2] = "1?x\r"[rng() % 4];
          continue;
        }
        for (size_t k = edge - 3; k < edge + 3; ++k)
          if (rng() % 2) text[k] = kEdge[rng() % kEdge.size()];
      }
      ExpectSameReading(text, anchors);
    }
  }
}

TEST(ReadWithAnchors, AnchorsNearBracketsAgreeWithAByteByByteLook) {
  std::mt19937 rng(146);
  for (const std::string pattern : {"Baker", "b?k", "e", "?r"}) {
    const PatternAnchors a = PatternFinder(pattern).Anchors();
    for (int round = 0; round < 4000; ++round) {
      std::string line = RandomText(rng, 1 + rng() % 300);
      line[rng() % line.size()] = '[';
      // Mostly a pattern's reach, at times one past a word of 64 bytes.
      const size_t reach = rng() % 4 ? rng() % 8 : rng() % 140;
      const int got = AnchorsNearBrackets(line, a, reach);
      if (got < 0) continue;  // not known: long lines, or no AVX-512
      const size_t first = line.find_first_of("[]"), last = line.find_last_of("[]");
      const std::string around = line.substr(first >= reach ? first - reach : 0,
                                             last + reach + 1 - (first >= reach ? first - reach : 0));
      const auto holds = [&around](const std::array<uint8_t, 2>& set) {
        return around.find(static_cast<char>(set[0])) != std::string::npos ||
               around.find(static_cast<char>(set[1])) != std::string::npos;
      };
      EXPECT_EQ(got, holds(a.first_bytes) && holds(a.second_bytes) ? 1 : 0) << pattern << " in " << line;
    }
    // Found as a file is read: the line runs to its first CR or LF, with
    // more bytes after it, or none.
    for (int round = 0; round < 4000; ++round) {
      std::string text = RandomText(rng, 1 + rng() % 300);
      // Half the texts with line ends about a hundred bytes apart:
      // lines that run into the second word, ends in either.
      if (round % 2)
        for (char& c : text)
          if ((c == '\r' || c == '\n') && rng() % 12 != 0) c = 'x';
      text[rng() % text.size()] = '[';
      const size_t reach = rng() % 4 ? rng() % 8 : rng() % 140;
      const size_t available = rng() % 2 ? text.size() : rng() % (text.size() + 1);
      size_t size = 99999;
      const int got = AnchorsNearBracketsAt(text.data(), available, NearBracketsLanes(a, reach), size);
      if (got == kNearNotKnown) {
        EXPECT_EQ(size, 99999u);
        continue;
      }
      const std::string_view line = std::string_view(text).substr(0, text.find_first_of("\r\n"));
      ASSERT_EQ(size, line.size()) << text;
      EXPECT_LE(128u, available);
      EXPECT_EQ(got, AnchorsNearBrackets(line, a, reach)) << pattern << " in " << line;
    }
  }
}

TEST(ReadWithAnchors, AnchorsThatEndLinesAreRefused) {
  PatternAnchors anchors;
  anchors.first = 0;
  anchors.second = 1;
  anchors.first_bytes = {'a', 'A'};
  anchors.second_bytes = {'\n', '\n'};
  const std::string text = "Title\na\nb\r\n1a\n";
  const auto file = Read(text, &anchors);
  EXPECT_EQ(file->ReadWith(), nullptr);
  EXPECT_TRUE(file->Candidates().empty());
  EXPECT_EQ(file->LineCount(), 4);
  EXPECT_EQ(file->RecordCount(), 1);
}

TEST(ReadWithAnchors, SearchingFilesAsTheyAreReadFindsWhatASearchOfReadFilesFinds) {
  appcore_test::TempDir dir;
  appcore_test::WriteBytes(dir.str() + "/odd_bap.txt", appcore_test::OddRegisterText(11, 50000));
  appcore_test::WriteBytes(dir.str() + "/odd_marr.txt", appcore_test::OddRegisterText(12, 3000));
  appcore_test::WriteBytes(dir.str() + "/small_bap.txt", "Small\r\n1650 03 Mar Ba[ker], Baker\r\n1651 Bake");
  appcore_test::WriteBytes(dir.str() + "/none_bap.txt", "");
  DataFileSet read;
  read.MakeFileList(dir.str(), "", nullptr);
  size_t largest = 0;
  for (const DataFileEntry& entry : read.Files()) largest = std::max(largest, entry.data->Bytes().size());
  // One pattern (the files are read with its anchors), two (they are not),
  // and one the sieve does not serve.
  for (const std::string text : {"Baker", "bak", "r", "Baker Becker", "\"Baker\"", "Ba?er"}) {
    for (const bool marriages : {true, false}) {
      // Hit lines made after the search, as each file is searched, and
      // both (the largest file, read first on one thread, makes them after).
      for (const auto& [threads, lines_from] : std::vector<std::pair<int, size_t>>{
               {1, SearchOptions().make_lines_from}, {3, SearchOptions().make_lines_from}, {1, 0}, {3, 0},
               {1, largest + 1}}) {
        SCOPED_TRACE(text + (marriages ? " with marriages" : "") + ", threads " + std::to_string(threads) +
                     ", lines made from " + std::to_string(lines_from));
        SearchOptions options = appcore_test::OptionsFor(text, read);
        options.marriages = marriages;
        options.threads = threads;
        options.make_lines_from = lines_from;
        const SearchResult expected = RunSearch(read, options, nullptr);
        DataFileSet loaded;
        const SearchResult got = LoadAndSearch(loaded, dir.str(), nullptr, options, nullptr);
        EXPECT_EQ(got.baptism_hits, expected.baptism_hits);
        EXPECT_EQ(got.marriage_hits, expected.marriage_hits);
        EXPECT_EQ(got.keywords, expected.keywords);
        EXPECT_EQ(std::tie(got.hit_count, got.record_count, got.line_count),
                  std::tie(expected.hit_count, expected.record_count, expected.line_count));
        EXPECT_GT(got.line_count, 50000);
        // The files read with anchors, searched again after reading.
        const SearchResult again = RunSearch(loaded, options, nullptr);
        EXPECT_EQ(AllHits(again), AllHits(expected));
        EXPECT_EQ(again.record_count, expected.record_count);
      }
    }
  }
}

// On one core, a file too long to be searched whole by the thread that
// read it when others share the work is searched as it is read to its
// end, and finds what a search of the read files finds.
TEST(ReadWithAnchors, OnOneCoreALongFileIsSearchedAsItIsReadToItsEnd) {
  const std::vector<int> cores = rtl::os::CoresOfThisThread();
  ASSERT_FALSE(cores.empty());
  appcore_test::TempDir dir;
  // Past four blocks of 32,768 lines.
  appcore_test::WriteBytes(dir.str() + "/long_bap.txt", appcore_test::OddRegisterText(17, 140000));
  appcore_test::WriteBytes(dir.str() + "/short_marr.txt", appcore_test::OddRegisterText(18, 3000));
  DataFileSet read;
  read.MakeFileList(dir.str(), "", nullptr);
  ASSERT_GT(read.File(0).data->LineCount() + read.File(1).data->LineCount(), 143000);
  struct Unpin {
    const std::vector<int>& cores;
    ~Unpin() { rtl::os::KeepThisThreadOn(cores); }
  } unpin{cores};
  ASSERT_TRUE(rtl::os::KeepThisThreadOn({cores[0]}));
  for (const std::string text : {"Baker", "Ba?er"}) {
    for (const size_t lines_from : {SearchOptions().make_lines_from, size_t{0}}) {
      SCOPED_TRACE(text + ", lines made from " + std::to_string(lines_from));
      SearchOptions options = appcore_test::OptionsFor(text, read);
      options.marriages = true;
      options.make_lines_from = lines_from;
      const SearchResult expected = RunSearch(read, options, nullptr);
      DataFileSet loaded;
      const SearchResult got = LoadAndSearch(loaded, dir.str(), nullptr, options, nullptr);
      EXPECT_EQ(AllHits(got), AllHits(expected));
      EXPECT_EQ(got.keywords, expected.keywords);
      EXPECT_EQ(std::tie(got.hit_count, got.record_count, got.line_count),
                std::tie(expected.hit_count, expected.record_count, expected.line_count));
      EXPECT_GT(expected.hit_count, 0);
    }
  }
}

// A register cut, grown, removed or rewritten in place while it is read is
// searched as the set holds it in the end (read again, or empty when that
// failed), once: the blocks searched as it was first read are dropped, not
// merged beside it, and bytes that no longer match what the read listed
// stop nothing.
TEST(ReadWithAnchors, AFileChangedWhileItIsReadIsSearchedAsReadAgain) {
  appcore_test::TempDir dir;
  const std::string big = dir.str() + "/a_bap.txt";
  appcore_test::WriteBytes(dir.str() + "/b_bap.txt", appcore_test::OddRegisterText(12, 3000));
  // Written beside it and renamed over it, as an editor saves.
  const auto save = [&](const std::string& text) {
    appcore_test::WriteBytes(big + ".new", text);
    std::rename((big + ".new").c_str(), big.c_str());
  };
  const std::vector<std::pair<const char*, std::function<void()>>> changes = {
      {"cut", [&] { save(appcore_test::OddRegisterText(13, 20000)); }},
      {"grown", [&] { save(appcore_test::OddRegisterText(14, 140000)); }},
      {"removed", [&] { std::remove(big.c_str()); }},
      {"rewritten in place, shorter", [&] { appcore_test::WriteBytes(big, appcore_test::OddRegisterText(15, 20000)); }},
      {"rewritten in place, longer", [&] { appcore_test::WriteBytes(big, appcore_test::OddRegisterText(16, 140000)); }},
  };
  for (const auto& [change, make] : changes) {
    for (const auto& [threads, lines_from] : std::vector<std::pair<int, size_t>>{{1, 0}, {3, 0}, {3, SIZE_MAX}}) {
      SCOPED_TRACE(std::string(change) + ", threads " + std::to_string(threads));
      appcore_test::WriteBytes(big, appcore_test::OddRegisterText(11, 100000));
      bool changed = false;
      DataFileSet::SetReadHook([&, make = make](int slot) {
        if (slot == 0 && !changed) make();
        changed = changed || slot == 0;
      });
      DataFileSet loaded;
      SearchOptions options = appcore_test::OptionsFor("Baker", loaded);
      options.marriages = true;
      options.threads = threads;
      options.make_lines_from = lines_from;
      const SearchResult got = LoadAndSearch(loaded, dir.str(), nullptr, options, nullptr);
      DataFileSet::SetReadHook(nullptr);
      ASSERT_TRUE(changed);
      options.ticked.assign(static_cast<size_t>(loaded.Count()), true);
      const SearchResult expected = RunSearch(loaded, options, nullptr);
      EXPECT_EQ(AllHits(got), AllHits(expected));
      EXPECT_EQ(std::tie(got.hit_count, got.record_count, got.line_count),
                std::tie(expected.hit_count, expected.record_count, expected.line_count));
    }
  }
}

}  // namespace
}  // namespace appcore
