// The native image of the text model (all integers 32-bit little-endian):
//
//   text length, display-line count, widest line (pixels), paragraph count n
//   n paragraph records:
//     length, first line, start, run count r, line count k (at least 1)
//     k LineInfo records of 36 bytes (nine int32: start, end, width, full
//       width, spare, inner blanks, justify start, start style, start run)
//     r DynInfoRec records of 60 bytes (as laid out in text_model.h)
//     length bytes of text, no terminator
//
// Start states, paragraph colours and the three paragraph flags are not
// stored. The reader checks every count and length against the bytes left
// and every line and run against its paragraph, builds a fresh model and
// swaps it in only when the whole image is sound; otherwise it raises
// EReadError and the memo stays as it was.
#include <algorithm>
#include <cstring>

#include "memo/vell_memo.h"

namespace memo {
namespace {

class ImageWriter {
public:
  explicit ImageWriter(rtl::TStream& stream) : stream_(stream) { buffer_.reserve(1 << 16); }
  void Int(std::int32_t v) { Bytes(&v, 4); }
  void Bytes(const void* data, std::size_t n) {
    buffer_.append(static_cast<const char*>(data), n);
    if (buffer_.size() >= (1 << 16)) Flush();
  }
  void Flush() {
    if (!buffer_.empty()) stream_.WriteBuffer(buffer_.data(), static_cast<std::int64_t>(buffer_.size()));
    buffer_.clear();
  }

private:
  rtl::TStream& stream_;
  std::string buffer_;
};

[[noreturn]] void Corrupt(const char* what) {
  throw rtl::EReadError(std::string("Invalid memo image: ") + what);
}

class ImageReader {
public:
  explicit ImageReader(rtl::TStream& stream) : stream_(stream) {
    std::int64_t size = stream.Size();
    left_ = std::max<std::int64_t>(size - stream.Position(), 0);
  }
  void Need(std::int64_t bytes) {
    if (bytes < 0 || bytes > left_) Corrupt("truncated");
  }
  std::int32_t Int() {
    std::int32_t v;
    Read(&v, 4);
    return v;
  }
  void Read(void* data, std::int64_t n) {
    Need(n);
    stream_.ReadBuffer(data, n);
    left_ -= n;
  }
  std::int64_t Left() const { return left_; }

private:
  rtl::TStream& stream_;
  std::int64_t left_ = 0;
};

// Paragraphs read so far and the arena of their texts, freed unless
// handed over.
struct Staging {
  std::vector<ParInfo> pars;
  TTextArena arena;
  ~Staging() {
    for (ParInfo& p : pars) par::Free(p);
  }
};

}  // namespace

void TVellMemo::SaveToNativeStream(rtl::TStream& stream) {
  ImageWriter w(stream);
  w.Int(text_len_);
  w.Int(line_count_);
  w.Int(widest_width_);
  w.Int(pars_.Count());
  for (int i = 0; i < pars_.Count(); ++i) {
    const ParInfo& p = *pars_.At(i);
    w.Int(p.length);
    w.Int(pars_.FirstLine(i));
    w.Int(pars_.Start(i));
    w.Int(p.runCount);
    w.Int(p.lineCount);
    for (int l = 0; l < p.lineCount; ++l) w.Bytes(&par::Line(p, l), sizeof(LineInfo));
    for (int k = 0; k < p.runCount; ++k) {
      const DynInfoRec run = p.runs[k].Record();
      w.Bytes(&run, sizeof(DynInfoRec));
    }
    if (p.length) w.Bytes(p.text, p.length);
  }
  w.Flush();
}

void TVellMemo::LoadFromNativeStream(rtl::TStream& stream, bool reformat) {
  ImageReader r(stream);
  const std::int32_t textLen = r.Int();
  const std::int32_t lineCount = r.Int();
  const std::int32_t widest = r.Int();
  const std::int32_t count = r.Int();
  constexpr std::int64_t kLeast = 20 + sizeof(LineInfo);
  if (count < 1 || static_cast<std::int64_t>(count) * kLeast > r.Left()) Corrupt("paragraph count");

  Staging staging;
  staging.pars.reserve(count);
  staging.arena.Expect(static_cast<std::size_t>(r.Left()));
  std::vector<DynInfoRec> records;
  std::int64_t pos = 0, lines = 0;
  for (std::int32_t i = 0; i < count; ++i) {
    const std::int32_t length = r.Int();
    const std::int32_t firstLine = r.Int();
    const std::int32_t start = r.Int();
    const std::int32_t runs = r.Int();
    const std::int32_t lineTotal = r.Int();
    if (length < 0 || length > par_length_limit_ || runs < 0 || lineTotal < 1) Corrupt("paragraph header");
    r.Need(static_cast<std::int64_t>(lineTotal) * sizeof(LineInfo) + static_cast<std::int64_t>(runs) * sizeof(DynInfoRec) +
           length);
    if (firstLine != lines || start != pos) Corrupt("paragraph position");
    staging.pars.push_back(ParInfo());
    ParInfo& p = staging.pars.back();
    par::SetLineCount(p, lineTotal);
    std::int32_t expect = 0;
    for (int l = 0; l < lineTotal; ++l) {
      LineInfo& line = par::Line(p, l);
      r.Read(&line, sizeof(LineInfo));
      if (line.start != expect || line.end < line.start || line.end > length || line.justifyStart < 0 ||
          line.justifyStart > length || line.startRun < 0 || line.startRun > runs)
        Corrupt("display line");
      expect = line.end;
    }
    if (expect != length) Corrupt("display line");
    if (runs > 0) {
      records.resize(runs);
      r.Read(records.data(), static_cast<std::int64_t>(sizeof(DynInfoRec)) * runs);
      for (int k = 0; k < runs; ++k)
        if (records[k].offset < 0 || records[k].offset > length || (k > 0 && records[k].offset < records[k - 1].offset))
          Corrupt("run");
      p.runs = static_cast<DynRun*>(std::malloc(sizeof(DynRun) * runs));
      if (!p.runs) throw std::bad_alloc();
      p.runCapacity = runs;
      for (int k = 0; k < runs; ++k) {
        p.runs[k] = par::MakeRun(records[k]);
        p.runCount = k + 1;
      }
    }
    if (length > 0) {
      const std::size_t bytes = static_cast<std::size_t>(length) + 1;
      char* text = staging.arena.Allocate(bytes);
      p.arenaText = text != nullptr;
      p.text = text ? text : static_cast<char*>(std::malloc(bytes));
      if (!p.text) throw std::bad_alloc();
      p.capacity = length + 1;
      p.length = length;
      r.Read(p.text, length);
      p.text[length] = 0;
      if (std::memchr(p.text, 0, length)) Corrupt("zero byte in text");
    }
    pos += static_cast<std::int64_t>(length) + 2;
    lines += lineTotal;
    if (pos > 2147483649LL || lines > 2147483647LL) Corrupt("text too long");
  }
  if (pos - 2 != textLen || lines != lineCount) Corrupt("totals");

  // The image is sound: swap it in.
  ClearModel();
  DynInfoRec* shared = NewStartState();
  bool sharedUsed = false;
  for (std::int32_t i = 0; i < count; ++i) {
    ParInfo& p = staging.pars[i];
    if (!sharedUsed) {
      p.startState = shared;
      sharedUsed = true;
    } else {
      p.startState = RetainStartState(shared);
    }
    if (p.runCount > 0 && i + 1 < count) {
      shared = CopyAsStartState(p.runs[p.runCount - 1]);
      sharedUsed = false;
    }
    p.formatted = true;
    p.parsed = true;
    p.keywordsApplied = true;
  }
  if (!sharedUsed) ReleaseStartState(shared);
  pars_.AdoptArena(staging.arena);
  pars_.SetCount(count);
  std::int64_t at = 0;
  int firstLine = 0;
  for (std::int32_t i = 0; i < count; ++i) {
    ParInfo& p = *pars_.At(i);
    p = staging.pars[i];
    p.start = static_cast<std::int32_t>(at);
    p.firstLine = firstLine;
    at += p.length + 2;
    firstLine += p.lineCount;
  }
  staging.pars.clear();
  text_len_ = textLen;
  line_count_ = lineCount;
  widest_width_ = widest;
  last_parsed_ = count - 1;
  formatted_up_to_ = count;
  for (TVellNavigator* nav : navigators_) {
    nav->Invalidate();
    nav->pos_ = 0;
  }
  caret_ = sel_start_.get();
  top_origin_ = 0;
  if (window_) {
    if (reformat) Reformat();
    window_->ScrollRangesChanged();
    window_->CaretChanged();
    window_->Repaint();
  }
  Change();
}

}  // namespace memo
