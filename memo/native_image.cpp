// The native image of the text model (all integers 32-bit little-endian):
//
//   text length, display-line count, widest line (pixels), paragraph count n
//   n paragraph records:
//     length, first line, start, run count r, line count k (at least 1)
//     k line records of 36 bytes (nine int32: start, end, width, full
//       width, spare, inner blanks, justify start, start style, start run)
//     r run records of 60 bytes: offset int32, flags byte, level byte,
//       2 spare bytes, background int32, foreground int32, context int32,
//       cursor int16, 16 keys int16, 2 spare bytes, open length byte,
//       close length byte, 2 spare bytes
//     length bytes of text, no terminator
//
// Every field is written and read through platform/runtime/coding.h, so the
// bytes are the same on any host.
//
// Start states, paragraph colours and the three paragraph flags are not
// stored. The reader checks every count and length against the bytes left
// and every line and run against its paragraph, builds a fresh model and
// swaps it in only when the whole image is sound; otherwise it raises
// EReadError and the memo stays as it was.
#include <algorithm>
#include <cstring>

#include "memo/vell_memo.h"
#include "platform/runtime/coding.h"

namespace memo {
namespace {

constexpr std::int64_t kLineBytes = 36;
constexpr std::int64_t kRunBytes = 60;

std::int32_t Int32At(const char* p) { return static_cast<std::int32_t>(rtl::DecodeFixed32(p)); }

void PutLine(std::string& out, const LineInfo& l) {
  for (std::int32_t v : {l.start, l.end, l.width, l.fullWidth, l.spare, l.innerBlanks, l.justifyStart, l.startStyle,
                         l.startRun})
    rtl::PutFixed32(out, static_cast<std::uint32_t>(v));
}

LineInfo DecodeLine(const char* p) {
  LineInfo l;
  for (std::int32_t* field : {&l.start, &l.end, &l.width, &l.fullWidth, &l.spare, &l.innerBlanks, &l.justifyStart,
                              &l.startStyle, &l.startRun}) {
    *field = Int32At(p);
    p += 4;
  }
  return l;
}

void PutRun(std::string& out, const DynInfoRec& r) {
  rtl::PutFixed32(out, static_cast<std::uint32_t>(r.offset));
  out += static_cast<char>(r.flags);
  out += static_cast<char>(r.level);
  out.append(reinterpret_cast<const char*>(r.reserved6), 2);
  rtl::PutFixed32(out, static_cast<std::uint32_t>(r.background));
  rtl::PutFixed32(out, static_cast<std::uint32_t>(r.foreground));
  rtl::PutFixed32(out, static_cast<std::uint32_t>(r.context));
  rtl::PutFixed16(out, static_cast<std::uint16_t>(r.cursor));
  for (std::int16_t key : r.keys) rtl::PutFixed16(out, static_cast<std::uint16_t>(key));
  out.append(reinterpret_cast<const char*>(r.reserved54), 2);
  out += static_cast<char>(r.openLength);
  out += static_cast<char>(r.closeLength);
  out.append(reinterpret_cast<const char*>(r.reserved58), 2);
}

DynInfoRec DecodeRun(const char* p) {
  DynInfoRec r;
  r.offset = Int32At(p);
  r.flags = static_cast<std::uint8_t>(p[4]);
  r.level = static_cast<std::int8_t>(p[5]);
  std::memcpy(r.reserved6, p + 6, 2);
  r.background = static_cast<TColor>(rtl::DecodeFixed32(p + 8));
  r.foreground = static_cast<TColor>(rtl::DecodeFixed32(p + 12));
  r.context = Int32At(p + 16);
  r.cursor = static_cast<std::int16_t>(rtl::DecodeFixed16(p + 20));
  for (int k = 0; k < 16; ++k) r.keys[k] = static_cast<std::int16_t>(rtl::DecodeFixed16(p + 22 + 2 * k));
  std::memcpy(r.reserved54, p + 54, 2);
  r.openLength = static_cast<std::uint8_t>(p[56]);
  r.closeLength = static_cast<std::uint8_t>(p[57]);
  std::memcpy(r.reserved58, p + 58, 2);
  return r;
}

class ImageWriter {
public:
  explicit ImageWriter(rtl::TStream& stream) : stream_(stream) { buffer_.reserve(1 << 16); }
  void Int(std::int32_t v) {
    rtl::PutFixed32(buffer_, static_cast<std::uint32_t>(v));
    Filled();
  }
  void Line(const LineInfo& line) {
    PutLine(buffer_, line);
    Filled();
  }
  void Run(const DynInfoRec& run) {
    PutRun(buffer_, run);
    Filled();
  }
  void Bytes(const void* data, std::size_t n) {
    buffer_.append(static_cast<const char*>(data), n);
    Filled();
  }
  void Filled() {
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
    char bytes[4];
    Read(bytes, 4);
    return Int32At(bytes);
  }
  LineInfo Line() {
    char bytes[kLineBytes];
    Read(bytes, kLineBytes);
    return DecodeLine(bytes);
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
    for (int l = 0; l < p.lineCount; ++l) w.Line(par::Line(p, l));
    for (int k = 0; k < p.runCount; ++k) w.Run(p.runs[k].Record());
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
  constexpr std::int64_t kLeast = 20 + kLineBytes;
  if (count < 1 || static_cast<std::int64_t>(count) * kLeast > r.Left()) Corrupt("paragraph count");

  Staging staging;
  staging.pars.reserve(count);
  staging.arena.Expect(static_cast<std::size_t>(r.Left()));
  std::vector<DynInfoRec> records;
  std::string runBytes;
  std::int64_t pos = 0, lines = 0;
  for (std::int32_t i = 0; i < count; ++i) {
    const std::int32_t length = r.Int();
    const std::int32_t firstLine = r.Int();
    const std::int32_t start = r.Int();
    const std::int32_t runs = r.Int();
    const std::int32_t lineTotal = r.Int();
    if (length < 0 || length > par_length_limit_ || runs < 0 || lineTotal < 1) Corrupt("paragraph header");
    r.Need(static_cast<std::int64_t>(lineTotal) * kLineBytes + static_cast<std::int64_t>(runs) * kRunBytes + length);
    if (firstLine != lines || start != pos) Corrupt("paragraph position");
    staging.pars.push_back(ParInfo());
    ParInfo& p = staging.pars.back();
    par::SetLineCount(p, lineTotal);
    std::int32_t expect = 0;
    for (int l = 0; l < lineTotal; ++l) {
      LineInfo& line = par::Line(p, l);
      line = r.Line();
      if (line.start != expect || line.end < line.start || line.end > length || line.justifyStart < 0 ||
          line.justifyStart > length || line.startRun < 0 || line.startRun > runs)
        Corrupt("display line");
      expect = line.end;
    }
    if (expect != length) Corrupt("display line");
    if (runs > 0) {
      runBytes.resize(static_cast<std::size_t>(runs) * kRunBytes);
      r.Read(runBytes.data(), static_cast<std::int64_t>(runBytes.size()));
      records.resize(runs);
      for (int k = 0; k < runs; ++k) records[k] = DecodeRun(runBytes.data() + static_cast<std::size_t>(k) * kRunBytes);
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
  view_.top_origin = 0;
  if (window_) {
    if (reformat) Reformat();
    window_->ScrollRangesChanged();
    window_->CaretChanged();
    window_->Repaint();
  }
  Change();
}

}  // namespace memo
