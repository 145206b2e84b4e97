// One register file in memory.
//
// The file is held as its bytes exactly as read (Windows-1252), or, when
// they are UTF-8 (see text_encoding.h), as their text in Windows-1252 in
// memory of its own (a file of both forms: each line in its own, see
// text_encoding.h); Form() tells which, Showable() whether every
// character of a UTF-8 file has a Windows-1252 byte, HoldsNul() whether
// it is no text at all. Lines end at
// CR, LF or CR LF; a missing final line end still gives the last line, a
// final line end gives no empty line after it. A file of 64 KiB or more is
// mapped rather than read (its pages are the system's cached copy); should
// another program cut it short, the lost part reads as zeros until the
// file, whose stamp then differs, is read again.
//
// Reading a file takes one pass that counts its lines and record lines,
// notes where every 8192nd line starts and where each line holding '[',
// '"' or ']' starts (brackets are dropped before names are matched, in
// other files a ']' without its '[' too; quotes change how the field
// routines cut words). A search works on byte ranges and
// finds a hit's line from its bytes, so that a file nothing is found in
// costs no more. The line index (the offset at which each line starts and
// one byte of facts per line, about five bytes per line) is built on first
// need by whatever asks for a line by its number. The per-line facts are
// whether the trimmed line is a record line (never line 0, the title), the
// period of its year, and whether it holds '[' or '"'.
//
// A file read for a search of one pattern may be read with its anchors
// (see PatternAnchors): the same pass then lists every place where both
// stand, with the start of its line, so that the search reads the bytes
// once.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "app/core/pattern_finder.h"
#include "app/core/text_encoding.h"

namespace appcore {

class WordIndex;
class WorkCrew;

// What the file system says of a file; equal stamps mean the file was not
// changed since it was read.
struct FileStamp {
  int64_t size = -1;
  int64_t mtime_ns = 0;
  uint64_t inode = 0;
  uint64_t device = 0;
  bool operator==(const FileStamp&) const = default;
};

// The stamp of path; size -1 when it cannot be read.
FileStamp StampOf(const std::string& path);

// Memory that holds the bytes of one or more files: read into memory of
// its own, or one file's own pages mapped (see rtl::os::MapFile: no copy, and
// a file cut short by another program reads as zeros past its new end; the
// file's stamp then differs, so the set reads it again).
class ByteBlock {
public:
  // Files from this size on are mapped rather than read, so that one very
  // large file is not held twice (the system's cached copy and ours).
  // Smaller ones are read into their batch's block: a map's pages each cost
  // a fault and a page-table entry as they are first read, and where
  // page-table changes are dear (a virtual machine) that was most of a warm
  // load, while a block of 8 MiB or more fills with one fault per 2 MiB
  // (huge pages) and a copy from the cache.
  static constexpr size_t kMapFrom = size_t{16} << 20;

  explicit ByteBlock(size_t size);
  // The first size bytes of the open file fd, mapped; null when they cannot
  // be (the file is then read instead).
  static std::shared_ptr<ByteBlock> MapFile(int fd, size_t size);
  ~ByteBlock();
  ByteBlock(const ByteBlock&) = delete;
  ByteBlock& operator=(const ByteBlock&) = delete;
  // Writable memory (not for a file map).
  char* data() { return data_; }
  const char* bytes() const { return file_map_ != nullptr ? file_map_ : data_; }
  size_t size() const { return size_; }
  bool FileMapped() const { return file_map_ != nullptr; }

private:
  ByteBlock() = default;
  char* data_ = nullptr;
  const char* file_map_ = nullptr;
  size_t size_ = 0;
  size_t mapped_ = 0;  // bytes mapped when the block came from mmap
};

class DataFile {
public:
  // Facts about one line (PeriodBits from record_line.h use bits 0 and 1).
  enum LineFlag : uint8_t {
    kRecordLine = 4,
    kHasBracket = 8,  // '[' or ']' somewhere in the line
    kHasQuote = 16,   // '"' somewhere in the line
  };

  // Reads a whole file. Raises rtl::EFOpenError when it cannot be opened,
  // is no plain file or is 4 GiB or larger, rtl::EReadError when reading
  // fails.
  static std::shared_ptr<const DataFile> Load(const std::string& path);
  // Reads files in parallel into one shared block; entry i is null when
  // file i failed, and errors[i] then holds the reason. arrived, when set,
  // is called with i and file i as soon as it is read, on the thread that
  // read it (so that work on a file can start while others are still read);
  // it must not raise. Once *stop (when given) is set, no further file is
  // begun: the files not begun stay null with no error.
  using ArrivalFn = std::function<void(size_t index, const std::shared_ptr<const DataFile>& file)>;
  // Heard while a file is read, on the thread that reads it, each time
  // more of its lines are known: lines [1, lines) of file, with their
  // stride starts, marks and anchors' places (see PartRead), so that work
  // on them can start while their bytes are still in the cache.
  using PartFn = std::function<void(size_t index, const DataFile& file, int lines)>;
  // anchors, when given, are looked for as the files are read (see
  // Candidates). The files are read on crew's threads when given, else on
  // threads of their own.
  static std::vector<std::shared_ptr<const DataFile>> LoadMany(const std::vector<std::string>& paths,
                                                               std::vector<std::string>& errors,
                                                               const ArrivalFn& arrived = nullptr,
                                                               const std::atomic<bool>* stop = nullptr,
                                                               const PatternAnchors* anchors = nullptr,
                                                               WorkCrew* crew = nullptr,
                                                               const PartFn& part = nullptr);
  // A file made from text (for scratch lists and tests).
  static std::shared_ptr<const DataFile> FromText(std::string_view text);

  // part, when given, is called on this thread as the bytes are read, each
  // time lines [1, lines) are known, lines being one of the lines
  // StrideStart knows (1 + k * kStrideLines, k > 0). Until the constructor
  // returns, the file answers only for those lines: StrideStart and
  // RecordsBetween up to lines, the marked lines and places before
  // StrideStart(lines), LineEnd, NextLine, FactsOf, Bytes and ReadWith.
  using SurveyFn = std::function<void(const DataFile& file, int lines)>;
  DataFile(std::shared_ptr<ByteBlock> block, const char* bytes, size_t size, FileStamp stamp,
           const PatternAnchors* anchors = nullptr, const SurveyFn* part = nullptr);
  ~DataFile();

  int LineCount() const { return line_count_; }
  // Line 0 without its line end, found without the line index.
  std::string_view FirstLine() const { return {bytes_, first_line_end_}; }
  // Line index without its line end; index 0 .. LineCount()-1.
  std::string_view Line(int index) const {
    const uint32_t* starts = Starts();
    size_t begin = starts[index];
    size_t end = starts[index + 1];
    // A line holds no CR or LF, so what ends it is its line end.
    if (end > begin && bytes_[end - 1] == '\n') --end;
    if (end > begin && bytes_[end - 1] == '\r') --end;
    return {bytes_ + begin, end - begin};
  }
  uint8_t Flags(int index) const {
    Starts();
    return flags_[static_cast<size_t>(index)];
  }
  // Offset of the first byte of line index; LineStart(LineCount()) is the size.
  size_t LineStart(int index) const { return Starts()[index]; }
  // The line that holds byte offset, looking from line from on.
  int LineAt(size_t offset, int from) const;
  std::string_view Bytes() const { return {bytes_, size_}; }
  const FileStamp& Stamp() const { return stamp_; }
  // How the file's bytes were read; for a UTF-8 file with characters that
  // Windows-1252 lacks, false and the first of them (UTF-8).
  const TextForm& Form() const { return form_; }
  bool Showable() const { return showable_; }
  const std::string& Unshowable() const { return unshowable_; }
  // The line of that character (1-based, the title being line 1).
  int64_t UnshowableLine() const { return unshowable_line_; }
  // For a file of both forms (Form().mixed), the first line of each.
  const MixedLines& Mixed() const { return mixed_lines_; }
  // Whether the bytes hold a zero byte: no text (such a file is not
  // looked at further: read as Windows-1252).
  bool HoldsNul() const { return holds_nul_; }

  // Record lines (line 1 on) whose period bits equal period (0 .. 3).
  int64_t RecordsInPeriod(uint8_t period) const {
    Starts();
    return period_counts_[period & 3];
  }
  // The lines, in order, that hold '[' or '"' (they need a closer look).
  const std::vector<uint32_t>& MarkedLines() const {
    Starts();
    return marked_lines_;
  }
  // Whether the line index has been built (LineStart and the rest then
  // answer at once).
  bool LinesBuilt() const { return lines_built_.load(std::memory_order_acquire); }

  // ---- Without the line index ----
  // Record lines from line 1 on, of every period.
  int64_t RecordCount() const { return record_count_; }
  // Record lines of every period among lines [first, end), where first and
  // end are lines StrideStart knows (any other range is counted from the
  // line index).
  int64_t RecordsBetween(int first, int end) const;
  // Lines 1, 1 + kStrideLines, 1 + 2 * kStrideLines ... and LineCount() start
  // at offsets known without the line index.
  static constexpr int kStrideLines = 8192;
  // Offset of the first byte of line index, which is 0, LineCount() or one
  // of those above (any other line is looked up in the line index).
  size_t StrideStart(int index) const {
    if (index >= line_count_) return size_;
    if (index > 0 && (index - 1) % kStrideLines == 0) return stride_starts_[static_cast<size_t>((index - 1) / kStrideLines)];
    return index <= 0 ? 0 : LineStart(index);
  }
  // A line as the bytes [begin, end) of the file, without its line end.
  struct Span {
    uint32_t begin = 0, end = 0;
    bool operator==(const Span&) const = default;
  };
  // The lines that hold '[', those that hold '"', and those that hold a
  // ']' before any '[', in order.
  const std::vector<Span>& BracketLines() const { return bracket_lines_; }
  const std::vector<Span>& QuoteLines() const { return quote_lines_; }
  const std::vector<Span>& CloserLines() const { return closer_lines_; }
  // Where the line that holds offset starts, looking back no further than
  // floor (a line start at or before offset).
  size_t LineBegin(size_t offset, size_t floor) const;
  // Where the line that holds offset ends: its first CR or LF, or the size.
  size_t LineEnd(size_t offset) const;
  // Where the line after the one ending at end (LineEnd's answer) starts.
  size_t NextLine(size_t end) const {
    if (end < size_ && bytes_[end] == '\r') ++end;
    return end < size_ && bytes_[end] == '\n' ? end + 1 : end;
  }
  // The facts Flags gives of the line [begin, end) (line 1 on): whether it
  // is a record line and its period, worked out from its bytes, with marks
  // (kHasBracket, kHasQuote) as the caller found them in BracketLines(),
  // CloserLines() and QuoteLines().
  uint8_t FactsOf(size_t begin, size_t end, uint8_t marks) const;

  // A place where both anchors the file was read with stand (a pattern may
  // start at offset at), and the start of the line that holds at.
  struct Candidate {
    uint32_t line = 0, at = 0;
    bool operator==(const Candidate&) const = default;
  };
  // The anchors the file was read with, null when none.
  const PatternAnchors* ReadWith() const { return read_with_ ? &anchors_ : nullptr; }
  // Every such place, in order (empty when read without anchors).
  const std::vector<Candidate>& Candidates() const { return candidates_; }
  // For each of BracketLines() when read with anchors (empty otherwise),
  // AnchorsNearBrackets of the line for a pattern of the anchors' size,
  // found while its bytes were at hand: 0 when the line cannot hold the
  // pattern once its brackets are dropped (unless it holds it as it
  // stands).
  const std::vector<int8_t>& BracketLinesNearAnchors() const { return brackets_near_; }
  // Gives back what was listed for the anchors (the places and the marks
  // above), once a search has looked at every place: the file is then as
  // one read without anchors. Only while no other thread looks at it.
  void ForgetAnchors() const;

  // The memory block the bytes lie in (shared by the files read together).
  const ByteBlock* Block() const { return block_.get(); }

  // The words of the record lines as small integers, cut on first use
  // (once, whichever thread asks first; see word_index.h).
  const WordIndex& Words() const;
  // Whether Words() has been built (it then answers at once).
  bool WordsBuilt() const { return words_built_.load(std::memory_order_acquire); }

  // Bytes held for this file: text, what reading it found, and the line
  // index and the word index once they are made.
  size_t MemoryUse() const;

private:
  // The line starts, built on first need.
  const uint32_t* Starts() const {
    if (!lines_built_.load(std::memory_order_acquire)) BuildLines();
    return starts_.data();
  }
  void BuildLines() const;
  // A UTF-8 file's bytes replaced by its text.
  void ReadAsText();
  template <bool kAnchored>
  struct SurveyWindow;
  struct MarkedWindows;
  template <bool kAnchored>
  void Survey(const SurveyFn* part);
  void IndexLines();
  void CloseLine(size_t begin, size_t end, uint8_t marks);
  // Parts of Survey (see data_file.cpp).
  static void ListMarkedLines(DataFile& file, const char* p, size_t at, uint64_t marks, uint64_t ends,
                              size_t line_start);
  // Notes AnchorsNearBrackets of the last bracketed line listed (with
  // anchors only).
  void NoteBracketsNear();
  static uint32_t NoteStride(DataFile& file, const char* p, size_t n, size_t at, uint64_t counted, uint32_t before,
                             uint32_t line, int64_t records);
  // The record bit and period of the line [begin, end) (line 1 on).
  uint8_t RecordFacts(size_t begin, size_t end) const;

  std::shared_ptr<ByteBlock> block_;
  const char* bytes_ = nullptr;
  size_t size_ = 0;
  FileStamp stamp_;
  TextForm form_;
  bool showable_ = true;
  bool holds_nul_ = false;
  std::string unshowable_;
  int64_t unshowable_line_ = 0;
  MixedLines mixed_lines_;
  // Found as the file is read.
  int line_count_ = 0;
  int64_t record_count_ = 0;
  size_t first_line_end_ = 0;
  std::vector<uint32_t> stride_starts_;
  std::vector<int64_t> stride_records_;  // record lines before each of those lines
  std::vector<Span> bracket_lines_, quote_lines_, closer_lines_;
  mutable bool read_with_ = false;  // mutable: see ForgetAnchors
  PatternAnchors anchors_;
  mutable std::vector<Candidate> candidates_;
  mutable std::vector<int8_t> brackets_near_;
  const NearBracketsLanes* near_lanes_ = nullptr;  // while read with anchors
  // The line index.
  mutable std::once_flag lines_once_;
  mutable std::atomic<bool> lines_built_{false};
  std::vector<uint32_t> starts_;  // LineCount() + 1 entries
  std::vector<uint8_t> flags_;
  std::vector<uint32_t> marked_lines_;
  int64_t period_counts_[4] = {0, 0, 0, 0};
  mutable std::once_flag words_once_;
  mutable std::atomic<bool> words_built_{false};
  mutable std::unique_ptr<WordIndex> words_;
};

}  // namespace appcore
