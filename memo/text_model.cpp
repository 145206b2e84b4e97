#include "memo/text_model.h"

#include <algorithm>
#include <cstdlib>
#include <new>

namespace memo {
namespace {

void* CheckedRealloc(void* block, std::size_t bytes) {
  void* p = std::realloc(block, bytes);
  if (!p && bytes) throw std::bad_alloc();
  return p;
}

}  // namespace

bool SameRunContents(const DynInfoRec& a, const DynInfoRec& b) {
  return std::memcmp(reinterpret_cast<const char*>(&a) + 4, reinterpret_cast<const char*>(&b) + 4,
                     sizeof(DynInfoRec) - 4) == 0;
}

DynInfoRec* NewStartState() {
  auto* s = new DynInfoRec();
  s->offset = 1;
  return s;
}

DynInfoRec* CopyAsStartState(const DynInfoRec& run) {
  auto* s = new DynInfoRec(run);
  s->offset = 1;
  return s;
}

DynInfoRec* RetainStartState(DynInfoRec* state) {
  if (state) ++state->offset;
  return state;
}

DynInfoRec* RetainStartState(DynInfoRec* state, std::int32_t times) {
  if (state && times > 0) state->offset += times;
  return state;
}

void ReleaseStartState(DynInfoRec* state) {
  if (state && --state->offset <= 0) delete state;
}

namespace par {

ParInfo MakeEmpty() {
  ParInfo p;
  p.startState = NewStartState();
  return p;
}

void Free(ParInfo& p) {
  FreeText(p);
  std::free(p.moreLines);
  ClearRuns(p);
  std::free(p.runs);
  ReleaseStartState(p.startState);
  p.moreLines = nullptr;
  p.runs = nullptr;
  p.startState = nullptr;
  p.length = p.runCount = p.runCapacity = 0;
  p.lineCount = 1;
}

void FreeText(ParInfo& p) {
  if (!p.arenaText) std::free(p.text);
  p.text = nullptr;
  p.capacity = 0;
  p.arenaText = false;
}

void SetText(ParInfo& p, const char* text, std::int32_t length, TTextArena* arena) {
  FreeText(p);
  p.length = length;
  if (length <= 0) {
    p.length = 0;
    return;
  }
  const std::size_t bytes = TextBufferBytes(static_cast<std::size_t>(length));
  char* buffer = arena ? arena->Allocate(bytes) : nullptr;
  p.arenaText = buffer != nullptr;
  p.text = buffer ? buffer : static_cast<char*>(CheckedRealloc(nullptr, bytes));
  p.capacity = static_cast<std::int32_t>(std::min<std::size_t>(bytes, 0x7FFFFFFF));
  std::memcpy(p.text, text, length);
  p.text[length] = 0;
}

LineInfo& Line(ParInfo& p, int index) { return index == 0 ? p.line0 : p.moreLines[index - 1]; }
const LineInfo& Line(const ParInfo& p, int index) { return index == 0 ? p.line0 : p.moreLines[index - 1]; }

int LineEndingAfter(const ParInfo& p, std::int32_t offset) {
  int low = 0, high = p.lineCount - 1;
  while (low < high) {
    const int mid = (low + high) / 2;
    if (Line(p, mid).end > offset) high = mid;
    else low = mid + 1;
  }
  return low;
}

void SetLineCount(ParInfo& p, std::int32_t count) {
  if (count < 1) count = 1;
  if (count == p.lineCount && (count == 1 || p.moreLines)) return;
  if (count - 1 > 59652323) throw rtl::ERangeError("Range check error");
  int old = p.lineCount;
  if (count == 1) {
    std::free(p.moreLines);
    p.moreLines = nullptr;
  } else {
    p.moreLines = static_cast<LineInfo*>(CheckedRealloc(p.moreLines, sizeof(LineInfo) * (count - 1)));
    for (int i = std::max(old, 1); i < count; ++i) p.moreLines[i - 1] = LineInfo();
  }
  p.lineCount = count;
}

void SingleLine(ParInfo& p) {
  SetLineCount(p, 1);
  std::int32_t style = p.line0.startStyle;
  p.line0 = LineInfo();
  p.line0.end = p.length;
  p.line0.justifyStart = p.length;
  p.line0.startStyle = style;
  p.line0.startRun = RunsUpTo(p, 0);
}

DynRun MakeRun(const DynInfoRec& record) {
  DynRun run;
  run.offset = record.offset;
  run.style = runstyle::Acquire(record);
  return run;
}

void InsertRun(ParInfo& p, int index, const DynInfoRec& run) {
  int needed = p.runCount + 1;
  if (needed > p.runCapacity) {
    int capacity = needed + needed / 64;
    p.runs = static_cast<DynRun*>(CheckedRealloc(p.runs, sizeof(DynRun) * capacity));
    p.runCapacity = capacity;
  }
  const DynRun made = MakeRun(run);
  std::memmove(p.runs + index + 1, p.runs + index, sizeof(DynRun) * (p.runCount - index));
  p.runs[index] = made;
  ++p.runCount;
}

void RemoveRuns(ParInfo& p, int index, int count) {
  if (count <= 0) return;
  for (int r = index; r < index + count; ++r) runstyle::Release(p.runs[r].style);
  std::memmove(p.runs + index, p.runs + index + count, sizeof(DynRun) * (p.runCount - index - count));
  p.runCount -= count;
}

void TruncateRuns(ParInfo& p, int count) {
  if (count < 0) count = 0;
  for (int r = count; r < p.runCount; ++r) runstyle::Release(p.runs[r].style);
  if (count < p.runCount) p.runCount = count;
}

void ShrinkRuns(ParInfo& p) {
  if (p.runCapacity == p.runCount) return;
  if (p.runCount == 0) {
    std::free(p.runs);
    p.runs = nullptr;
  } else {
    p.runs = static_cast<DynRun*>(CheckedRealloc(p.runs, sizeof(DynRun) * p.runCount));
  }
  p.runCapacity = p.runCount;
}

int RunIndexAt(const ParInfo& p, std::int32_t offset) {
  int lo = 0, hi = p.runCount;
  while (lo < hi) {
    int mid = (lo + hi) / 2;
    if (p.runs[mid].offset < offset) lo = mid + 1; else hi = mid;
  }
  return lo;
}

int RunsUpTo(const ParInfo& p, std::int32_t offset) {
  int lo = 0, hi = p.runCount;
  while (lo < hi) {
    int mid = (lo + hi) / 2;
    if (p.runs[mid].offset <= offset) lo = mid + 1; else hi = mid;
  }
  return lo;
}

void SetCloseLength(ParInfo& p, int index, std::uint8_t length) {
  DynRun& run = p.runs[index];
  if (runstyle::Get(run.style).closeLength == length) return;
  DynInfoRec record = runstyle::Get(run.style);
  record.closeLength = length;
  const runstyle::Handle handle = runstyle::Acquire(record);
  runstyle::Release(run.style);
  run.style = handle;
}

const DynInfoRec& StateBefore(const ParInfo& p, int index) {
  static const DynInfoRec kEmpty;
  if (index > 0) return runstyle::Get(p.runs[index - 1].style);
  return p.startState ? *p.startState : kEmpty;
}

DynInfoRec RecordBefore(const ParInfo& p, int index) {
  if (index > 0) return p.runs[index - 1].Record();
  return p.startState ? *p.startState : DynInfoRec();
}

const DynInfoRec& StateOfChar(const ParInfo& p, std::int32_t offset) {
  return StateBefore(p, RunsUpTo(p, offset));
}

const DynInfoRec& EndState(const ParInfo& p) { return StateBefore(p, p.runCount); }

void ReplaceStartState(ParInfo& p, DynInfoRec* state) {
  ReleaseStartState(p.startState);
  p.startState = state;
}

}  // namespace par

std::uint8_t ApplyStyleCodes(std::uint8_t style, const char* text, std::int32_t count) {
  for (std::int32_t i = 0; i < count; ++i) style ^= StyleBit(static_cast<unsigned char>(text[i]));
  return style;
}

bool FindEmptyPair(const char* text, std::int32_t length, std::int32_t* first, std::int32_t* second) {
  for (std::int32_t i = 0; i < length; ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (!IsStyleCode(c)) continue;
    std::int32_t j = i + 1;
    while (j < length && IsStyleCode(static_cast<unsigned char>(text[j])) && static_cast<unsigned char>(text[j]) != c) ++j;
    if (j < length && static_cast<unsigned char>(text[j]) == c) {
      *first = i;
      *second = j;
      return true;
    }
  }
  return false;
}

namespace {
int NextColumn(int column, unsigned char c, int tabStops, bool codes) {
  if (c == 9) return (column / tabStops + 1) * tabStops;
  if (codes && IsStyleCode(c)) return column;
  return column + 1;
}
}  // namespace

int ColumnOfOffset(const char* text, int lineStart, int offset, int tabStops, bool codes) {
  tabStops = std::max(tabStops, 1);
  int column = 0;
  for (int i = lineStart; i < offset; ++i)
    column = NextColumn(column, static_cast<unsigned char>(text[i]), tabStops, codes);
  return column;
}

int OffsetOfColumn(const char* text, int lineStart, int end, int column, int tabStops, bool codes,
                   int* beyond) {
  tabStops = std::max(tabStops, 1);
  int col = 0;
  int i = lineStart;
  while (i < end && col < column) {
    col = NextColumn(col, static_cast<unsigned char>(text[i]), tabStops, codes);
    ++i;
  }
  if (beyond) *beyond = col < column ? column - col : 0;
  return i;
}

// ---- TTextArena ----

char* TTextArena::Allocate(std::size_t bytes) {
  if (bytes > kLargest) return nullptr;
  if (bytes > left_) {
    blocks_.reserve(blocks_.size() + 1);
    if (!spares_.empty() && spares_.front().second >= bytes) {
      blocks_.push_back(spares_.front().first);
      next_ = spares_.front().first;
      left_ = spares_.front().second;
      spares_.erase(spares_.begin());
    } else {
      const std::size_t size =
          expected_ > 0 ? std::clamp(expected_, std::max(bytes, kSmallestBlock), kBlockBytes) : kBlockBytes;
      char* block = static_cast<char*>(std::malloc(size));
      if (!block) throw std::bad_alloc();
      blocks_.push_back(block);
      next_ = block;
      left_ = size;
    }
  }
  char* at = next_;
  next_ += bytes;
  left_ -= bytes;
  expected_ -= std::min(expected_, bytes);
  return at;
}

void TTextArena::Prepare() {
  for (std::size_t left = expected_; left > 0;) {
    const std::size_t size = std::clamp(left, kSmallestBlock, kBlockBytes);
    spares_.reserve(spares_.size() + 1);
    char* block = static_cast<char*>(std::malloc(size));
    if (!block) throw std::bad_alloc();
    spares_.emplace_back(block, size);
    left -= std::min(left, size);
  }
}

void TTextArena::Absorb(TTextArena& other) {
  if (&other == this) return;
  for (const auto& spare : other.spares_) std::free(spare.first);
  other.spares_.clear();
  blocks_.insert(blocks_.end(), other.blocks_.begin(), other.blocks_.end());
  if (other.left_ > left_) {
    next_ = other.next_;
    left_ = other.left_;
  }
  other.blocks_.clear();
  other.next_ = nullptr;
  other.left_ = 0;
}

void TTextArena::Clear() {
  for (char* block : blocks_) std::free(block);
  for (const auto& spare : spares_) std::free(spare.first);
  blocks_.clear();
  spares_.clear();
  next_ = nullptr;
  left_ = 0;
  expected_ = 0;
}

// ---- TParagraphsList ----

TParagraphsList::TParagraphsList() { SetCapacity(0); }

TParagraphsList::~TParagraphsList() { FreeAll(); }

void TParagraphsList::MoveStep(Shift& s, std::int32_t ParInfo::*field, int to) {
  if (s.delta != 0) {
    int n = Count();
    if (to > s.from) {
      for (int i = s.from, stop = std::min(to, n); i < stop; ++i) At(i)->*field += s.delta;
    } else {
      for (int i = to, stop = std::min(s.from, n); i < stop; ++i) At(i)->*field -= s.delta;
    }
  }
  s.from = to;
}

void TParagraphsList::SetStart(int index, std::int32_t value) {
  At(index)->start = value - (index >= start_.from ? start_.delta : 0);
}

void TParagraphsList::SetFirstLine(int index, std::int32_t value) {
  At(index)->firstLine = value - (index >= line_.from ? line_.delta : 0);
}

void TParagraphsList::ShiftStarts(int from, std::int32_t delta) {
  if (delta == 0 || from >= Count()) return;
  MoveStep(start_, &ParInfo::start, from);
  start_.delta += delta;
}

void TParagraphsList::ShiftFirstLines(int from, std::int32_t delta) {
  if (delta == 0 || from >= Count()) return;
  MoveStep(line_, &ParInfo::firstLine, from);
  line_.delta += delta;
}

void TParagraphsList::Settle() {
  MoveStep(start_, &ParInfo::start, Count());
  MoveStep(line_, &ParInfo::firstLine, Count());
  start_ = Shift();
  line_ = Shift();
}

void TParagraphsList::InsertPars(int index, int n) {
  MoveStep(start_, &ParInfo::start, index);
  MoveStep(line_, &ParInfo::firstLine, index);
  InsertSlots(index, n);
}

void TParagraphsList::RemovePars(int index, int n) {
  MoveStep(start_, &ParInfo::start, index);
  MoveStep(line_, &ParInfo::firstLine, index);
  RemoveSlots(index, n);
}

void TParagraphsList::FreeAll() {
  for (int i = 0; i < Count(); ++i) par::Free(*At(i));
  SetCount(0);
  arena_.Clear();
  start_ = Shift();
  line_ = Shift();
}

// ---- TLinesList ----

LineInfo* TLinesList::GetLinesPointer(int index) {
  if (!par_ || index < 0 || index >= par_->lineCount) throw rtl::ERangeError(rtl::kListIndexError);
  return &par::Line(*par_, index);
}

void TLinesList::SetCount(int count) {
  if (!par_ || count == par_->lineCount) return;
  if (count - 1 > 59652323) throw rtl::ERangeError("Range check error");
  par::SetLineCount(*par_, count);
}

int TLinesList::Add(const LineInfo& line) {
  if (!par_) throw rtl::ERangeError(rtl::kListIndexError);
  par::SetLineCount(*par_, par_->lineCount + 1);
  par::Line(*par_, par_->lineCount - 1) = line;
  return par_->lineCount - 1;
}

}  // namespace memo
