// The memo's text model: paragraphs (ParInfo) with their text, display lines
// (LineInfo) and dynamic attribute runs (DynInfoRec), the containers that
// hold them, and the rules for static style codes and columns.
//
// Positions: every paragraph break counts two positions (CR then LF). A
// paragraph of length n covers start .. start+n+1; offset n reads as 13 and
// n+1 as 10. The text always holds at least one paragraph.
//
// Static style codes are bytes of the text that toggle one attribute bit:
//   2 bold (bit 0), 1 italic (bit 1), 21 underline (bit 2),
//   3 highlight (bit 4), 4 alternate font (bit 5).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "memo/memo_types.h"
#include "platform/runtime/exceptions.h"

namespace memo {

// One display line of a paragraph; nine 32-bit fields (36 bytes stored).
struct LineInfo {
  std::int32_t start = 0;         // offset where the line starts
  std::int32_t end = 0;           // offset where the next line starts
  std::int32_t width = 0;         // pixels without trailing blanks
  std::int32_t fullWidth = 0;     // pixels with trailing blanks
  std::int32_t spare = 0;
  std::int32_t innerBlanks = 0;   // blanks inside the line (for justifying)
  std::int32_t justifyStart = 0;  // offset from which blanks are widened
  std::int32_t startStyle = 0;    // low byte: static attribute at the start
  std::int32_t startRun = 0;      // runs[startRun-1] is in force at the start
};
static_assert(sizeof(LineInfo) == 36);

// One dynamic attribute change point; fifteen 32-bit words (60 bytes stored).
// In a start-state record the offset word holds the reference count.
struct DynInfoRec {
  std::int32_t offset = 0;
  std::uint8_t flags = 0;    // styles bits 0-3; bits 6+7 keyword/start-stop run
  std::int8_t level = 0;     // nesting depth; -1 (255) outside keyword runs
  std::uint8_t reserved6[2] = {0, 0};
  TColor background = 0;
  TColor foreground = 0;
  std::int32_t context = 0;
  std::int16_t cursor = 0;
  std::int16_t keys[16] = {};  // what opened each level (see keyword_apply)
  std::uint8_t reserved54[2] = {0, 0};
  std::uint8_t openLength = 0;   // byte 56
  std::uint8_t closeLength = 0;  // byte 57
  std::uint8_t reserved58[2] = {0, 0};
};
static_assert(sizeof(DynInfoRec) == 60);
static_assert(offsetof(DynInfoRec, background) == 8);
static_assert(offsetof(DynInfoRec, keys) == 22);
static_assert(offsetof(DynInfoRec, openLength) == 56);

inline constexpr std::uint8_t kRunKeyword = 0x40;  // flag bit 6
inline constexpr std::uint8_t kRunStyled = 0x80;   // flag bit 7
inline constexpr int kMaxLevel = 15;               // levels 0 .. 15

// Keyword and start/stop runs carry both bits 6 and 7 and a level 0..15.
inline bool IsNestedRun(const DynInfoRec& r) {
  return (r.flags & 0xC0) == 0xC0 && r.level >= 0 && r.level <= kMaxLevel;
}
// The level that counts for nesting: -1 for every other run.
inline int EffectiveLevel(const DynInfoRec& r) { return IsNestedRun(r) ? r.level : -1; }
inline bool IsKeywordRun(const DynInfoRec& r) { return IsNestedRun(r) && r.keys[r.level] >= 0; }
inline bool IsStartStopRun(const DynInfoRec& r) { return IsNestedRun(r) && r.keys[r.level] < 0; }
// A run set by SetDynStyle: styled but outside the nesting.
inline bool IsUserRun(const DynInfoRec& r) { return (r.flags & kRunStyled) && !IsNestedRun(r); }
// The same record apart from the offset word.
bool SameRunContents(const DynInfoRec& a, const DynInfoRec& b);

// ---- the run style table ----
//
// A paragraph keeps each run as a DynRun: its offset and a handle to the
// rest of its record, which the run style table holds once for the whole
// process (highlighting gives millions of runs but only a handful of
// distinct records). Handles are counted: every DynRun in a paragraph's
// run array holds one reference, taken and given back by the par::
// functions below. Handle 0 is the all-zero record and is never counted.
// The table may be used from several threads at once.
namespace runstyle {
using Handle = std::uint32_t;
// The handle of the record's bytes 4-59 (its offset word is ignored), with
// one reference. Throws std::bad_alloc when the table is full.
Handle Acquire(const DynInfoRec& record);
void Retain(Handle handle);
void Release(Handle handle);
// The record of a handle that is held; its offset word is 0.
const DynInfoRec& Get(Handle handle);
// The number of distinct records held.
std::size_t LiveCount();
// Whether handle is a record somebody holds.
bool Held(Handle handle);
}  // namespace runstyle

// One run of a paragraph: 8 bytes instead of the record's 60.
struct DynRun {
  std::int32_t offset = 0;
  runstyle::Handle style = 0;
  // The whole 60-byte record, offset included.
  DynInfoRec Record() const {
    DynInfoRec r = runstyle::Get(style);
    r.offset = offset;
    return r;
  }
  operator DynInfoRec() const { return Record(); }
};
static_assert(sizeof(DynRun) == 8);

inline bool IsNestedRun(const DynRun& r) { return IsNestedRun(runstyle::Get(r.style)); }
inline int EffectiveLevel(const DynRun& r) { return EffectiveLevel(runstyle::Get(r.style)); }
inline bool IsKeywordRun(const DynRun& r) { return IsKeywordRun(runstyle::Get(r.style)); }
inline bool IsStartStopRun(const DynRun& r) { return IsStartStopRun(runstyle::Get(r.style)); }
inline bool IsUserRun(const DynRun& r) { return IsUserRun(runstyle::Get(r.style)); }

// Start-state records: shared, reference-counted in their offset word.
DynInfoRec* NewStartState();
DynInfoRec* CopyAsStartState(const DynInfoRec& run);
DynInfoRec* RetainStartState(DynInfoRec* state);
// The same, times more holders at once.
DynInfoRec* RetainStartState(DynInfoRec* state, std::int32_t times);
void ReleaseStartState(DynInfoRec* state);

// One paragraph. Trivially copyable: the paragraph list moves records
// with memcpy. start and firstLine are raw values; read them through the
// paragraph list, which applies shifts it has not yet written. The text of
// a loaded paragraph may lie in its list's text arena (arenaText).
struct ParInfo {
  char* text = nullptr;           // length+1 bytes, zero-terminated; nil when empty
  std::int32_t length = 0;
  std::int32_t capacity = 0;      // bytes allocated for text
  TColor foreground = clNone;
  TColor background = clNone;
  std::int32_t firstLine = 0;
  std::int32_t start = 0;
  DynInfoRec* startState = nullptr;
  LineInfo line0;
  std::int32_t lineCount = 1;
  LineInfo* moreLines = nullptr;  // lines 1 .. lineCount-1
  std::int32_t runCount = 0;
  std::int32_t runCapacity = 0;
  DynRun* runs = nullptr;
  bool formatted = false;
  bool parsed = true;
  bool keywordsApplied = true;
  bool arenaText = false;  // text belongs to the list's arena, not to malloc
};

// Text buffers of loaded paragraphs, carved from large blocks so that a
// million short lines do not pay a heap header each. A paragraph whose
// text lies here has arenaText set: its buffer is never freed alone, and
// an edit that needs more room moves the text to a buffer of its own. The
// blocks go all at once (Clear, destruction).
class TTextArena {
public:
  static constexpr std::size_t kBlockBytes = 1 << 20;
  static constexpr std::size_t kSmallestBlock = 4096;
  static constexpr std::size_t kLargest = kBlockBytes / 16;  // larger texts get their own buffer

  TTextArena() = default;
  TTextArena(const TTextArena&) = delete;
  TTextArena& operator=(const TTextArena&) = delete;
  ~TTextArena() { Clear(); }

  // About this many bytes will be asked for: blocks are sized to it (not
  // beyond kBlockBytes), so that a small text does not hold a large block.
  void Expect(std::size_t bytes) { expected_ = bytes; }
  // bytes from the current block; nullptr when bytes exceeds kLargest.
  char* Allocate(std::size_t bytes);
  // Takes the blocks the expected bytes will need now, on the calling
  // thread (whose heap they then come from); Allocate uses them first.
  void Prepare();
  // Takes over every block of other, which is left empty; blocks it
  // prepared and never used are freed.
  void Absorb(TTextArena& other);
  void Clear();
  std::size_t BlockCount() const { return blocks_.size(); }

private:
  std::vector<char*> blocks_;
  std::vector<std::pair<char*, std::size_t>> spares_;  // prepared, not yet used, in order
  char* next_ = nullptr;
  std::size_t left_ = 0;
  std::size_t expected_ = 0;  // 0: not known
};

// Paragraph helpers that own or change the paragraph's memory.
namespace par {
// A new empty paragraph with a fresh start state.
ParInfo MakeEmpty();
// Frees text, further lines and runs and releases the start state.
void Free(ParInfo& p);
// Gives the text buffer up (back to malloc unless it lies in an arena).
void FreeText(ParInfo& p);
// The bytes of a paragraph's text buffer for a text of length bytes: a
// little room to grow in place.
inline std::size_t TextBufferBytes(std::size_t length) { return length + length / 64 + 1; }
// Replaces the text (a buffer of TextBufferBytes, taken from arena when
// one is given and the text is small).
void SetText(ParInfo& p, const char* text, std::int32_t length, TTextArena* arena = nullptr);
LineInfo& Line(ParInfo& p, int index);
const LineInfo& Line(const ParInfo& p, int index);
// The first line that ends after offset (the last line when none does).
int LineEndingAfter(const ParInfo& p, std::int32_t offset);
// Resizes the line block; lines beyond the old count are zeroed.
void SetLineCount(ParInfo& p, std::int32_t count);
// One line covering the whole text; the start style is kept.
void SingleLine(ParInfo& p);
// A run made of a record (one reference on its contents).
DynRun MakeRun(const DynInfoRec& record);
// Inserts a run at index (runs at and after it move up).
void InsertRun(ParInfo& p, int index, const DynInfoRec& run);
void RemoveRuns(ParInfo& p, int index, int count);
// Keeps the first count runs.
void TruncateRuns(ParInfo& p, int count);
inline void ClearRuns(ParInfo& p) { TruncateRuns(p, 0); }
// Keeps, in order, the runs for which keep(DynRun&) holds; keep may change
// the offset of a run it keeps.
template <typename Keep>
void KeepRunsIf(ParInfo& p, Keep keep) {
  int write = 0;
  for (int r = 0; r < p.runCount; ++r) {
    if (keep(p.runs[r])) p.runs[write++] = p.runs[r];
    else runstyle::Release(p.runs[r].style);
  }
  p.runCount = write;
}
void ShrinkRuns(ParInfo& p);
// Index of the first run whose offset is at or after offset.
int RunIndexAt(const ParInfo& p, std::int32_t offset);
// Number of runs whose offset is at or before offset.
int RunsUpTo(const ParInfo& p, std::int32_t offset);
// The record of a run without its offset (offset word 0), stable while
// the run lasts.
inline const DynInfoRec& RunContents(const DynRun& run) { return runstyle::Get(run.style); }
// Sets the close length (byte 57) of run index.
void SetCloseLength(ParInfo& p, int index, std::uint8_t length);
// The run in force before index (the start state when index is 0); a run's
// offset word reads 0 here, see RecordBefore for the whole record.
const DynInfoRec& StateBefore(const ParInfo& p, int index);
DynInfoRec RecordBefore(const ParInfo& p, int index);
// The state of the character at offset.
const DynInfoRec& StateOfChar(const ParInfo& p, std::int32_t offset);
// The state in force at the paragraph's end (what the next one inherits).
const DynInfoRec& EndState(const ParInfo& p);
void ReplaceStartState(ParInfo& p, DynInfoRec* state);  // takes ownership of one count
}  // namespace par

// ---- static style codes and the column rule ----

inline bool IsStyleCode(unsigned char c) { return c == 1 || c == 2 || c == 3 || c == 4 || c == 21; }
// The attribute bit a code toggles (0 for other bytes).
inline std::uint8_t StyleBit(unsigned char c) {
  switch (c) {
    case 2: return esBold;
    case 1: return esItalic;
    case 21: return esUnderline;
    case 3: return esHighlight;
    case 4: return esAltFont;
    default: return 0;
  }
}
// Applies every code in text[0..count) to style.
std::uint8_t ApplyStyleCodes(std::uint8_t style, const char* text, std::int32_t count);

// The first empty styled span: a code followed, with only other codes
// between, by the same code. False when there is none.
bool FindEmptyPair(const char* text, std::int32_t length, std::int32_t* first, std::int32_t* second);

// Column of offset `offset` in a line that starts at `lineStart`.
int ColumnOfOffset(const char* text, int lineStart, int offset, int tabStops, bool codes);
// The first offset at or beyond column `column` (stops at `end`); `beyond`
// receives how many columns the request lies past that character.
int OffsetOfColumn(const char* text, int lineStart, int end, int column, int tabStops, bool codes,
                   int* beyond = nullptr);

// ---- containers ----

// A contiguous array of records that grows to the exact count asked for.
template <typename T>
class TDynArray {
public:
  TDynArray() = default;
  TDynArray(const TDynArray&) = delete;
  TDynArray& operator=(const TDynArray&) = delete;
  virtual ~TDynArray() = default;

  int Count() const { return count_; }
  int Capacity() const { return static_cast<int>(items_.size()); }
  T* getPointer(int index) {
    if (index < 0 || index >= count_) throw rtl::ERangeError(rtl::kListIndexError);
    return &items_[index];
  }
  const T* getPointer(int index) const { return const_cast<TDynArray*>(this)->getPointer(index); }
  void SetCapacity(int capacity) {
    if (capacity == Capacity()) return;
    if (capacity < 0 || static_cast<long long>(capacity) > 2147483647LL / static_cast<long long>(sizeof(T)))
      throw rtl::ERangeError("Range check error");
    items_.resize(capacity);
    if (count_ > capacity) count_ = capacity;
  }
  void SetCount(int count) {
    if (count < 0) count = 0;
    if (count > Capacity()) SetCapacity(count);
    for (int i = count; i < count_; ++i) items_[i] = T();
    count_ = count;
  }
  int Add(const T& item) {
    SetCount(count_ + 1);
    items_[count_ - 1] = item;
    return count_ - 1;
  }

protected:
  std::vector<T> items_;
  int count_ = 0;
};

// A paged array of trivially copyable records in pages (32768 bytes unless
// the items per page say otherwise), so records never move while it grows.
template <typename T, int kItemsPerPage = 32768 / static_cast<int>(sizeof(T))>
class TDynArray2 {
public:
  static constexpr std::size_t kPageBytes = kItemsPerPage * sizeof(T);

  TDynArray2() = default;
  TDynArray2(const TDynArray2&) = delete;
  TDynArray2& operator=(const TDynArray2&) = delete;
  ~TDynArray2() {
    while (!pages_.empty()) PopPage();
  }

  int Count() const { return count_; }
  int Capacity() const { return static_cast<int>(pages_.size()) * kItemsPerPage; }
  int ItemsPerPage() const { return kItemsPerPage; }
  int PageCount() const { return static_cast<int>(pages_.size()); }

  T* GetPointer(int index) {
    if (index < 0 || index >= count_) throw rtl::ERangeError(rtl::kListIndexError);
    return At(index);
  }
  const T* GetPointer(int index) const { return const_cast<TDynArray2*>(this)->GetPointer(index); }
  // Unchecked access for hot loops.
  T* At(int index) { return pages_[index / kItemsPerPage] + index % kItemsPerPage; }
  const T* At(int index) const { return pages_[index / kItemsPerPage] + index % kItemsPerPage; }

  // Never fewer than one page.
  void SetCapacity(int capacity) {
    if (capacity < count_) capacity = count_;
    int pages = (capacity - 1) / kItemsPerPage + 1;
    if (capacity <= 0) pages = 1;
    const int more = pages - static_cast<int>(pages_.size());
    if (more >= kBlockPages) {
      // Many pages at once (a load's) come as one block: its memory is
      // first touched where each page is first written, maybe on several
      // threads, rather than page by page here as each is allocated.
      pages_.reserve(static_cast<std::size_t>(pages));
      blocks_.reserve(blocks_.size() + 1);
      auto* block = static_cast<char*>(::operator new(static_cast<std::size_t>(more) * kPageBytes));
      blocks_.push_back({static_cast<int>(pages_.size()), more, block});
      for (int i = 0; i < more; ++i) pages_.push_back(reinterpret_cast<T*>(block + i * kPageBytes));
    }
    while (static_cast<int>(pages_.size()) < pages)
      pages_.push_back(static_cast<T*>(::operator new(kPageBytes)));
    while (static_cast<int>(pages_.size()) > pages) PopPage();
  }
  void SetCount(int count) {
    if (count < 0) count = 0;
    if (count > Capacity()) SetCapacity(count);
    for (int i = count_; i < count; ++i) new (At(i)) T();
    count_ = count;
  }
  int Add(const T& item) {
    SetCount(count_ + 1);
    *At(count_ - 1) = item;
    return count_ - 1;
  }
  // Takes count records as made: the caller constructed those from Count()
  // on in place (At(i), within the capacity).
  void AdoptConstructed(int count) { count_ = count; }
  // Opens `n` default records at index (records behind move up).
  void InsertSlots(int index, int n) {
    if (n <= 0) return;
    int old = count_;
    SetCount(count_ + n);
    for (int i = old - 1; i >= index; --i) std::memcpy(At(i + n), At(i), sizeof(T));
    for (int i = index; i < index + n; ++i) new (At(i)) T();
  }
  // Closes `n` records at index (records behind move down).
  void RemoveSlots(int index, int n) {
    if (n <= 0) return;
    for (int i = index + n; i < count_; ++i) std::memcpy(At(i - n), At(i), sizeof(T));
    count_ -= n;
  }

private:
  static constexpr int kBlockPages = 16;
  static_assert(alignof(T) <= __STDCPP_DEFAULT_NEW_ALIGNMENT__ && kPageBytes % alignof(T) == 0);
  // Pages first_page .. first_page + pages - 1, one after another in memory.
  struct Block {
    int first_page, pages;
    char* memory;
  };
  // Lets go of the last page: a page of a block goes with the block's
  // first (until then the block counts it no longer, so that a page added
  // in its place is one of its own).
  void PopPage() {
    const int last = static_cast<int>(pages_.size()) - 1;
    if (!blocks_.empty() && last < blocks_.back().first_page + blocks_.back().pages) {
      if (blocks_.back().first_page == last) {
        ::operator delete(blocks_.back().memory);
        blocks_.pop_back();
      } else {
        blocks_.back().pages = last - blocks_.back().first_page;
      }
    } else {
      ::operator delete(pages_.back());
    }
    pages_.pop_back();
  }

  std::vector<T*> pages_;
  std::vector<Block> blocks_;  // in page order
  int count_ = 0;
};

// The memo's paragraphs, 341 records to a page. Paragraph
// starts and first lines are kept exact through one pending shift each:
// paragraphs from `from` on still have `delta` to add, so that an edit near
// the previous one costs no walk over the rest of the text.
class TParagraphsList : public TDynArray2<ParInfo, 341> {
public:
  TParagraphsList();
  ~TParagraphsList();

  void GetItem(int index, ParInfo& par) const { par = *GetPointer(index); }
  void SetItem(int index, const ParInfo& par) { *GetPointer(index) = par; }
  ParInfo* GetParPointers(int index) { return GetPointer(index); }

  std::int32_t Start(int index) const { return At(index)->start + (index >= start_.from ? start_.delta : 0); }
  std::int32_t FirstLine(int index) const {
    return At(index)->firstLine + (index >= line_.from ? line_.delta : 0);
  }
  void SetStart(int index, std::int32_t value);
  void SetFirstLine(int index, std::int32_t value);
  // Adds delta to the start (first line) of every paragraph from `from` on.
  void ShiftStarts(int from, std::int32_t delta);
  void ShiftFirstLines(int from, std::int32_t delta);
  // Writes every pending shift into the records.
  void Settle();

  // Inserts n empty records at index / removes n records (not freeing their
  // memory: callers free or move it first). Pending shifts stay exact.
  void InsertPars(int index, int n);
  void RemovePars(int index, int n);
  // Frees every paragraph and the text arena; the count becomes 0.
  void FreeAll();
  // Where loaded paragraph texts go.
  TTextArena& Arena() { return arena_; }
  // Takes over the blocks of another arena (texts read elsewhere).
  void AdoptArena(TTextArena& arena) { arena_.Absorb(arena); }

private:
  struct Shift {
    int from = 0x7FFFFFFF;
    std::int32_t delta = 0;
  };
  void MoveStep(Shift& s, std::int32_t ParInfo::*field, int to);
  Shift start_;
  Shift line_;
  TTextArena arena_;
};
static_assert(sizeof(ParInfo) <= 112);

// A view of the display lines of one paragraph; re-pointed, not re-made.
class TLinesList {
public:
  explicit TLinesList(ParInfo* par = nullptr) : par_(par) {}
  void SetPar(ParInfo* par) { par_ = par; }
  ParInfo* Par() const { return par_; }

  LineInfo* GetLinesPointer(int index);
  int GetCount() const { return par_ ? par_->lineCount : 0; }
  void SetCount(int count);
  int Add(const LineInfo& line);
  void GetItem(int index, LineInfo& line) { line = *GetLinesPointer(index); }
  void SetItem(int index, const LineInfo& line) { *GetLinesPointer(index) = line; }

private:
  ParInfo* par_;
};

}  // namespace memo
