// Plain text: paragraph texts (style codes included) joined by the break
// that LineBreak chooses: CR LF, LF CR, CR or LF; no break after the last
// paragraph, no header, no encoding mark.
//
// Reading: a CR or an LF ends a paragraph; an LF right after the CR that
// ended a paragraph, or a CR right after such an LF, belongs to that break
// (CR LF and LF CR are one break, CR CR and LF LF two). A zero byte ends
// the text unless NullReplacement stands in for it.
//
// The stored "Strings" property: per paragraph one or more strings of at
// most 255 bytes; a string ending in byte 5 is continued by the next one
// (the 5 is dropped). A paragraph whose last piece really ends in byte 5 is
// written with one more 5 and an empty string after it.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <exception>
#include <functional>
#include <mutex>
#include <new>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

#include "memo/vell_memo.h"
#include "platform/runtime/parts.h"

namespace memo {
namespace {

constexpr std::int64_t kBlock = 65500;
constexpr char kContinued = 5;

std::int64_t NowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// Drops every code that is followed, with only other codes between, by the
// same code (an empty styled span), until none is left.
void DropEmptyPairs(std::string& s) {
  std::int32_t a = 0, b = 0;
  while (FindEmptyPair(s.data(), static_cast<std::int32_t>(s.size()), &a, &b)) {
    s.erase(b, 1);
    s.erase(a, 1);
  }
}

bool HasStyleCode(const char* text, std::int32_t length) {
  for (std::int32_t i = 0; i < length; ++i)
    if (IsStyleCode(static_cast<unsigned char>(text[i]))) return true;
  return false;
}

// Whether text holds a byte below 22 (breaks, NUL, style codes): eight
// bytes at a time, (x - 22 per byte) & ~x keeping a byte's high bit
// exactly when some byte is below 22.
bool HoldsControlByte(std::string_view text) {
  constexpr std::uint64_t kOnes = 0x0101010101010101ULL, kHighs = 0x8080808080808080ULL;
  std::size_t i = 0;
  for (; i + 8 <= text.size(); i += 8) {
    std::uint64_t x;
    std::memcpy(&x, text.data() + i, 8);
    if ((x - kOnes * 22) & ~x & kHighs) return true;
  }
  for (; i < text.size(); ++i)
    if (static_cast<unsigned char>(text[i]) < 22) return true;
  return false;
}

// Lines are fetched this many ahead of the one read.
constexpr std::size_t kLinesAhead = 8;

// The text prepared ahead as index, if there is one.
const TPreparedTexts::Prepared* PreparedLine(const TPreparedTexts* prepared, std::size_t index) {
  return prepared ? prepared->Find(index) : nullptr;
}

// What a look at some lines of a paragraph source found.
struct LineSurvey {
  std::size_t begin = 0, end = 0;
  bool refused = false;                 // a line a text load would cut
  std::int64_t bytes = 0;               // text and a break per line
  std::int64_t copied = 0;              // the same of the lines not prepared ahead
  std::vector<std::size_t> controlled;  // lines holding a byte below 22
  std::exception_ptr failure;
};

// Which line each prepared text goes to: every line naming one writes its
// number into the text's owner, and the last written holds (plain writes,
// no line waits for another); the load reads them once every part has been
// looked at. Any other line naming the same text gets a copy (from a block
// of its part's own: such lines are rare, their bytes not counted ahead).
// Lines are numbered so in 32 bits: loads of more never place them.
void NoteOwner(const TPreparedTexts::Prepared& text, std::size_t line) {
  std::atomic_ref<std::uint32_t>(text.owner).store(static_cast<std::uint32_t>(line), std::memory_order_relaxed);
}
bool Owns(const TPreparedTexts::Prepared& text, std::size_t line) {
  return std::atomic_ref<std::uint32_t>(text.owner).load(std::memory_order_relaxed) == line;
}
static_assert(sizeof(TPreparedTexts::Prepared) <= 16, "a prepared text's record stays as small with its owner");

// With owners set, the owners of the prepared texts noted.
void Survey(const TParagraphSource& source, std::int32_t limit, bool owners, LineSurvey& part) {
  try {
    const TPreparedTexts* prepared = source.Prepared();
    for (std::size_t i = part.begin; i < part.end; ++i) {
      if (prepared && i + kLinesAhead < part.end) prepared->Prefetch(source.PreparedIndex(i + kLinesAhead));
      const std::size_t index = prepared ? source.PreparedIndex(i) : TPreparedTexts::kNone;
      if (const TPreparedTexts::Prepared* ahead = PreparedLine(prepared, index)) {
        // Known from when it was prepared, without reading the line again.
        if (ahead->length >= limit || ahead->breaks) {
          part.refused = true;
          return;
        }
        part.bytes += ahead->length + 2;
        if (ahead->controlled) part.controlled.push_back(i);
        if (owners) NoteOwner(*ahead, i);
        continue;
      }
      if (i + kLinesAhead < part.end) source.Prefetch(i + kLinesAhead);
      const std::string_view text = source.Line(i);
      if (static_cast<std::int64_t>(text.size()) >= limit) {
        part.refused = true;
        return;
      }
      part.bytes += static_cast<std::int64_t>(text.size()) + 2;
      part.copied += static_cast<std::int64_t>(text.size()) + 2;
      if (!HoldsControlByte(text)) continue;
      for (char c : text)
        if (c == '\r' || c == '\n' || c == 0) {
          part.refused = true;
          return;
        }
      part.controlled.push_back(i);
    }
  } catch (...) {
    part.failure = std::current_exception();
  }
}

// The source's lines looked at in parts, many lines on several threads
// (their texts lie anywhere in memory: the threads wait for them together).
constexpr std::size_t kPartLines = 8192;
static_assert(TPreparedTexts::kWorthFrom == 4 * kPartLines, "loads in parts begin where preparing pays");

// Lines looked at in parts; with owners set, the owners of the prepared
// texts noted.
std::vector<LineSurvey> SurveyLines(const TParagraphSource& source, std::int32_t limit, bool owners) {
  const std::size_t count = source.Count();
  // Loaded in parts from the same size on, however finely they are cut.
  const std::size_t threads = rtl::PartsFor(count, kPartLines);
  const std::size_t n = threads == 1 ? 1 : threads * std::max<std::size_t>(source.PartsPerThread(), 1);
  std::vector<LineSurvey> parts(n);
  for (std::size_t t = 0; t < n; ++t) {
    parts[t].begin = count * t / n;
    parts[t].end = count * (t + 1) / n;
  }
  if (n == 1) Survey(source, limit, owners, parts[0]);
  else source.RunParts(n, [&](std::size_t t) { Survey(source, limit, owners, parts[t]); });
  return parts;
}

// The styles a line's codes switch.
std::uint8_t StyleBitsOf(std::string_view text) {
  std::uint8_t bits = 0;
  for (char c : text) bits ^= StyleBit(static_cast<unsigned char>(c));
  return bits;
}

// Where a part of a paragraph load starts and what it made.
struct FillPart {
  std::int64_t pos = 0;        // the text offset of its first paragraph
  std::uint8_t style = 0;      // the style in force at its start
  std::size_t made = 0;        // paragraphs constructed
  TTextArena arena;            // their texts
  std::exception_ptr failure;
};

// A loaded paragraph (its text set) as line `index` at text offset `pos`,
// starting in `style`, not yet formatted, parsed or highlighted.
void StartLoadedPar(ParInfo& p, std::int64_t pos, int index, std::uint8_t style) {
  p.start = static_cast<std::int32_t>(pos);
  p.firstLine = index;
  p.line0.end = p.length;
  p.line0.justifyStart = p.length;
  p.line0.startStyle = style;
  p.formatted = false;
  p.parsed = false;
  p.keywordsApplied = false;
}

// Makes the paragraphs of one surveyed part in place, as ParAppender would
// append them, sharing the start state shared (retained by the caller).
// Each prepared text goes to its owner (see NoteOwner).
void FillInPlace(TParagraphSource& source, TParagraphsList& pars, const LineSurvey& survey, bool codes,
                 DynInfoRec* shared, FillPart& part) {
  try {
    const TPreparedTexts* prepared = source.Prepared();
    std::int64_t pos = part.pos;
    std::uint8_t style = part.style;
    std::size_t next_controlled = 0;
    for (std::size_t i = survey.begin; i < survey.end; ++i) {
      ParInfo& p = *new (pars.At(static_cast<int>(i))) ParInfo();
      ++part.made;
      if (prepared && i + kLinesAhead < survey.end) prepared->Prefetch(source.PreparedIndex(i + kLinesAhead));
      const std::size_t index = prepared ? source.PreparedIndex(i) : TPreparedTexts::kNone;
      const TPreparedTexts::Prepared* ahead = PreparedLine(prepared, index);
      std::string_view text;
      if (ahead && Owns(*ahead, i)) {
        // The buffer, as SetText would have made it, taken over in place.
        p.text = ahead->text;
        p.length = ahead->length;
        p.capacity = ahead->Capacity();
        p.arenaText = true;
        text = std::string_view(ahead->text, static_cast<std::size_t>(ahead->length));
      } else {
        if (!prepared && i + kLinesAhead < survey.end) source.Prefetch(i + kLinesAhead);
        text = source.Line(i);
        par::SetText(p, text.data(), static_cast<std::int32_t>(text.size()), &part.arena);
      }
      const auto length = static_cast<std::int32_t>(text.size());
      p.startState = shared;
      StartLoadedPar(p, pos, static_cast<int>(i), style);
      pos += length + 2;
      if (next_controlled < survey.controlled.size() && survey.controlled[next_controlled] == i) {
        ++next_controlled;
        if (codes) style ^= StyleBitsOf(text);
      }
      source.Read(i);
    }
  } catch (...) {
    part.failure = std::current_exception();
  }
}

// Paragraphs appended to an emptied model as a text load reads them: each
// starts with the style its predecessors left in force, two bytes (the
// break) after the one before.
class ParAppender {
public:
  ParAppender(TParagraphsList& pars, bool discardTrailing)
      : pars_(pars), discard_(discardTrailing), shared_(NewStartState()) {}
  ~ParAppender() {
    if (!handed_) ReleaseStartState(shared_);
  }
  ParAppender(const ParAppender&) = delete;
  ParAppender& operator=(const ParAppender&) = delete;

  // style: what is in force after the paragraph.
  void Add(const char* text, std::int32_t length, std::uint8_t style) {
    if (discard_)
      while (length > 0 && IsBlank(text[length - 1])) --length;
    if (pos_ + length > 2147483647LL) throw rtl::Exception("Text too long");
    int index = pars_.Count();
    pars_.SetCount(index + 1);
    ParInfo& p = *pars_.At(index);
    p.startState = index == 0 ? shared_ : RetainStartState(shared_);
    handed_ = true;
    par::SetText(p, text, length, &pars_.Arena());
    StartLoadedPar(p, pos_, index, par_style_);
    pos_ += length + 2;
    par_style_ = style;
  }
  // The text length the paragraphs make.
  std::int32_t TextLength() const { return static_cast<std::int32_t>(pos_ - 2); }

private:
  TParagraphsList& pars_;
  const bool discard_;
  DynInfoRec* const shared_;
  bool handed_ = false;  // the start state belongs to the paragraphs
  std::int64_t pos_ = 0;
  std::uint8_t par_style_ = 0;
};

}  // namespace

void TVellMemo::SaveToStream(rtl::TStream& stream) {
  static const char* const kBreaks[] = {"\r\n", "\n\r", "\r", "\n"};
  const std::string_view brk = kBreaks[line_break_];
  std::string buffer;
  buffer.reserve(1 << 16);
  std::string copy;
  std::int64_t last = NowMs();
  const int count = pars_.Count();
  for (int i = 0; i < count; ++i) {
    const ParInfo& p = *pars_.At(i);
    std::string_view text(p.text ? p.text : "", p.length);
    if (static_format_ && HasStyleCode(p.text, p.length)) {
      copy.assign(text);
      DropEmptyPairs(copy);
      text = copy;
    }
    if (options_.Has(vmoDiscardTrailingSpaces))
      while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
    buffer.append(text);
    if (i + 1 < count) buffer.append(brk);
    if (buffer.size() >= (1 << 16)) {
      stream.WriteBuffer(buffer.data(), static_cast<std::int64_t>(buffer.size()));
      buffer.clear();
    }
    if (OnProgress && NowMs() - last > 300) {
      last = NowMs();
      progress_ = static_cast<int>(static_cast<std::int64_t>(i) * 100 / count);
      OnProgress(this);
    }
  }
  if (!buffer.empty()) stream.WriteBuffer(buffer.data(), static_cast<std::int64_t>(buffer.size()));
  progress_ = 100;
  if (OnProgress) OnProgress(this);
}

void TVellMemo::LoadFromStream(rtl::TStream& stream) {
  Modified = true;
  ++update_count_;
  ClearModel();
  const std::int64_t origin = stream.Position();
  std::int64_t total = 0;
  try {
    total = stream.Size() - origin;
  } catch (...) {
    total = 0;
  }
  // Paragraph buffers take the text, a sixty-fourth and a terminator.
  if (total > 0) pars_.Arena().Expect(static_cast<std::size_t>(total + total / 64 + 64));
  const bool codes = static_format_;
  const std::int32_t limit = par_length_limit_;
  ParAppender appender(pars_, options_.Has(vmoDiscardTrailingSpaces));
  std::uint8_t style = 0;
  auto addPar = [&](const char* text, std::int32_t length) { appender.Add(text, length, style); };

  // The start of a paragraph that ran past a block. Over a TViewStream the
  // blocks are the caller's own bytes, so the start is held as a range of
  // them (a line of hundreds of megabytes is not copied on the way in);
  // otherwise, or once the range breaks off, it is copied into carry.
  rtl::TViewStream* const view = dynamic_cast<rtl::TViewStream*>(&stream);
  std::string carry;
  const char* held = nullptr;
  std::int64_t heldLen = 0;
  bool chunkInView = false;  // the current block is the caller's bytes
  auto carryAppend = [&](const char* text, std::int64_t length) {
    if (length <= 0) return;
    if (chunkInView && carry.empty() && (!held || held + heldLen == text)) {
      if (!held) held = text;
      heldLen += length;
      return;
    }
    if (held) carry.assign(held, static_cast<std::size_t>(heldLen));
    held = nullptr;
    heldLen = 0;
    carry.append(text, static_cast<std::size_t>(length));
  };
  auto carrySize = [&]() -> std::int64_t { return held ? heldLen : static_cast<std::int64_t>(carry.size()); };
  auto addCarried = [&]() {
    addPar(held ? held : carry.data(), static_cast<std::int32_t>(carrySize()));
    carry.clear();
    held = nullptr;
    heldLen = 0;
  };

  std::vector<char> block(kBlock);
  char lastBreak = 0;  // the break that ended the previous paragraph, while nothing followed it
  std::int64_t consumed = 0;
  bool zeroEnded = false;
  std::int64_t lastReport = NowMs();
  std::exception_ptr failure;
  try {
    for (;;) {
      const char* data = block.data();
      std::int64_t n = 0;
      if (view) {
        const std::int64_t at = view->Position();
        n = std::min<std::int64_t>(kBlock, view->Size() - at);
        data = view->View().data() + at;
        if (n > 0) view->Seek(n, rtl::soFromCurrent);
        if (n > 0 && null_replacement_ != 0 && std::memchr(data, 0, static_cast<std::size_t>(n))) {
          std::memcpy(block.data(), data, static_cast<std::size_t>(n));
          data = block.data();
        }
      } else {
        n = stream.Read(block.data(), kBlock);
      }
      if (n <= 0) break;
      chunkInView = data != block.data();
      if (null_replacement_ != 0 && data == block.data())
        for (std::int64_t i = 0; i < n; ++i)
          if (block[static_cast<std::size_t>(i)] == 0) block[static_cast<std::size_t>(i)] = null_replacement_;
      std::int64_t segment = 0;
      std::int64_t i = 0;
      for (; i < n; ++i) {
        const unsigned char c = static_cast<unsigned char>(data[i]);
        if (c <= 21) {
          if (c == 0) {
            zeroEnded = true;
            break;
          }
          if (c == '\r' || c == '\n') {
            if (i > segment) lastBreak = 0;
            carryAppend(data + segment, i - segment);
            segment = i + 1;
            if ((lastBreak == '\r' && c == '\n') || (lastBreak == '\n' && c == '\r')) {
              lastBreak = 0;
              continue;
            }
            addCarried();
            lastBreak = static_cast<char>(c);
            continue;
          }
          if (codes) style ^= StyleBit(c);
        }
        if (carrySize() + (i + 1 - segment) >= limit) {
          carryAppend(data + segment, i + 1 - segment);
          segment = i + 1;
          addCarried();
          lastBreak = 0;
        }
      }
      if (i > segment) lastBreak = 0;
      carryAppend(data + segment, i - segment);
      consumed += i;
      if (zeroEnded) break;
      if (!LoadStep(consumed, total, lastReport)) break;
    }
  } catch (...) {
    failure = std::current_exception();
  }
  addCarried();
  if (zeroEnded) stream.SetPosition(origin + consumed);

  text_len_ = appender.TextLength();
  line_count_ = pars_.Count();
  FinishTextLoad();
  if (failure) std::rethrow_exception(failure);
}

void TParagraphSource::RunParts(std::size_t parts, const std::function<void(std::size_t)>& body) const {
  rtl::RunParts(parts, body);
}

namespace {

// Copies text into a buffer of arena, as SetText would make it.
void CopyPrepared(std::string_view text, TTextArena& arena, TPreparedTexts::Prepared& line) {
  if (text.empty() || text.size() > 0x7FFFFFFF) return;
  const auto length = static_cast<std::int32_t>(text.size());
  const std::size_t bytes = par::TextBufferBytes(text.size());
  char* buffer = arena.Allocate(bytes);
  if (buffer == nullptr) return;
  std::memcpy(buffer, text.data(), text.size());
  buffer[text.size()] = 0;
  line.text = buffer;
  line.length = static_cast<std::uint32_t>(length);
  line.controlled = HoldsControlByte(text);
  if (line.controlled)
    for (char c : text)
      if (c == '\r' || c == '\n' || c == 0) line.breaks = true;
}

}  // namespace

bool TPreparedTexts::Copy(std::size_t count, const std::function<std::string_view(std::size_t)>& line,
                          std::size_t most_parts, const std::function<bool()>& tick, const PartsRunner& run_parts,
                          const std::function<void(std::size_t)>& copied) {
  lines_.reset(static_cast<Prepared*>(::operator new(count * sizeof(Prepared))));
  count_ = 0;  // until every part has made its records
  Prepared* const records = lines_.get();
  const std::size_t parts = std::clamp<std::size_t>(count / 4096, 1, std::max<std::size_t>(most_parts, 1));
  // Each part's blocks are taken here, so that they come from this
  // thread's heap; their pages come in as the parts write them. They are
  // sized from every kSampleStep-th line with some room over: room never
  // written takes no memory (and blocks never begun are freed), a part
  // that runs out takes more blocks on its own thread.
  constexpr std::size_t kSampleStep = 8;
  std::vector<TTextArena> arenas(parts);
  for (std::size_t t = 0; t < parts; ++t) {
    const std::size_t begin = count * t / parts, end = count * (t + 1) / parts;
    std::size_t sampled = 0, samples = 0;
    const std::size_t step = end - begin < 64 * kSampleStep ? 1 : kSampleStep;
    for (std::size_t i = begin; i < end; i += step, ++samples) sampled += par::TextBufferBytes(line(i).size());
    const std::size_t bytes = step == 1 ? sampled : sampled / samples * (end - begin);
    arenas[t].Expect(step == 1 ? bytes : bytes + bytes / 8 + 4096);
    arenas[t].Prepare();
  }
  std::atomic<bool> stop{false};
  std::exception_ptr failure;
  std::mutex failure_mutex;
  const std::thread::id caller = std::this_thread::get_id();
  const std::function<void(std::size_t)> copy_part = [&](std::size_t t) {
    const std::size_t begin = count * t / parts, end = count * (t + 1) / parts;
    for (std::size_t i = begin; i < end; ++i) new (records + i) Prepared();
    try {
      const bool on_caller = std::this_thread::get_id() == caller;
      for (std::size_t i = begin; i < end; ++i) {
        if (on_caller ? !tick() : stop.load(std::memory_order_relaxed)) {
          stop = true;
          return;
        }
        CopyPrepared(line(i), arenas[t], records[i]);
        if (copied && records[i].text != nullptr) copied(i);
      }
    } catch (...) {
      stop = true;
      std::lock_guard<std::mutex> lock(failure_mutex);
      if (!failure) failure = std::current_exception();
    }
  };
  if (run_parts && parts > 1) run_parts(parts, copy_part);
  else rtl::RunParts(parts, copy_part);
  // Every part ran, and made its records. Lines already let go (copied)
  // are read from their texts from now on, however the copy ended.
  count_ = count;
  if (stop && !copied) {
    lines_.reset();
    count_ = 0;
  } else {
    for (TTextArena& arena : arenas) arena_.Absorb(arena);
  }
  if (failure) std::rethrow_exception(failure);
  return !stop;
}

bool TVellMemo::LoadParagraphs(TParagraphSource& source) {
  const std::size_t count = source.Count();
  // Prepared texts are placed by a load in parts alone, of lines numbered
  // in 32 bits.
  const bool owners = source.Prepared() && count <= 0x7FFFFFFF;
  // Lines a load of their joined text would cut differently are left to it.
  std::vector<LineSurvey> parts = SurveyLines(source, par_length_limit_, owners);
  std::vector<std::size_t> controlled;  // lines holding a byte below 22
  std::int64_t total = count > 0 ? -2 : 0;
  for (LineSurvey& part : parts) {
    if (part.failure) std::rethrow_exception(part.failure);
    if (part.refused) return false;
    total += part.bytes;
    controlled.insert(controlled.end(), part.controlled.begin(), part.controlled.end());
  }

  Modified = true;
  ++update_count_;
  ClearModel();
  if (parts.size() > 1 && !options_.Has(vmoDiscardTrailingSpaces) && total <= 2147483647LL &&
      count <= 0x7FFFFFFF) {
    // Each part's paragraphs are made on a thread of their own, in place,
    // from where the parts before end.
    pars_.SetCapacity(static_cast<int>(count));
    std::vector<FillPart> filled(parts.size());
    std::int64_t pos = 0;
    std::uint8_t style = 0;
    for (std::size_t t = 0; t < parts.size(); ++t) {
      filled[t].pos = pos;
      filled[t].style = style;
      pos += parts[t].bytes;
      if (static_format_)
        for (std::size_t i : parts[t].controlled) style ^= StyleBitsOf(source.Line(i));
    }
    // Their texts' blocks come from this thread's heap, as a load's do, so
    // that the page does not hold the workers' heaps apart once it goes.
    for (std::size_t t = 0; t < filled.size(); ++t) {
      if (parts[t].copied == 0) continue;  // every line prepared ahead
      filled[t].arena.Expect(static_cast<std::size_t>(parts[t].copied + parts[t].copied / 64 + 64));
      filled[t].arena.Prepare();
    }
    TPreparedTexts* prepared = source.Prepared();
    DynInfoRec* shared = NewStartState();
    source.RunParts(filled.size(), [&](std::size_t t) {
      FillInPlace(source, pars_, parts[t], static_format_, shared, filled[t]);
    });
    // The prepared texts now lie in paragraphs (those never placed are held
    // until the text goes).
    if (prepared) pars_.Arena().Absorb(prepared->arena_);
    std::exception_ptr failure;
    for (FillPart& part : filled) {
      pars_.Arena().Absorb(part.arena);
      if (part.failure && !failure) failure = part.failure;
    }
    if (failure) {
      // Every slot made, none holding the start state, then all let go.
      for (std::size_t t = 0; t < filled.size(); ++t)
        for (std::size_t i = parts[t].begin; i < parts[t].end; ++i) {
          if (i >= parts[t].begin + filled[t].made) new (pars_.At(static_cast<int>(i))) ParInfo();
          pars_.At(static_cast<int>(i))->startState = nullptr;
        }
      pars_.AdoptConstructed(static_cast<int>(count));
      ClearModel();
      ReleaseStartState(shared);
      ParAppender(pars_, false).Add("", 0, 0);
      text_len_ = 0;
    } else {
      pars_.AdoptConstructed(static_cast<int>(count));
      // One holder per paragraph: count fits 31 bits here.
      RetainStartState(shared, static_cast<std::int32_t>(count - 1));
      text_len_ = static_cast<std::int32_t>(pos - 2);
    }
    line_count_ = pars_.Count();
    // Every paragraph was just made unformatted.
    unformatted_load_ = true;
    FinishTextLoad();
    if (failure) std::rethrow_exception(failure);
    return true;
  }
  if (total > 0) pars_.Arena().Expect(static_cast<std::size_t>(total + total / 64 + 64));
  pars_.SetCapacity(static_cast<int>(std::min<std::size_t>(std::max<std::size_t>(count, 1), 0x7FFFFFFF)));
  ParAppender appender(pars_, options_.Has(vmoDiscardTrailingSpaces));
  std::uint8_t style = 0;
  std::size_t next_controlled = 0;
  std::int64_t consumed = 0, step_at = kBlock;
  std::int64_t lastReport = NowMs();
  std::exception_ptr failure;
  try {
    if (count == 0) appender.Add("", 0, 0);
    for (std::size_t i = 0; i < count; ++i) {
      if (i + kLinesAhead < count) source.Prefetch(i + kLinesAhead);
      const std::string_view text = source.Line(i);
      if (next_controlled < controlled.size() && controlled[next_controlled] == i) {
        ++next_controlled;
        if (static_format_) style ^= StyleBitsOf(text);
      }
      appender.Add(text.data(), static_cast<std::int32_t>(text.size()), style);
      source.Read(i);
      // Steps between blocks of text, as a stream load steps between the
      // blocks it reads.
      consumed += static_cast<std::int64_t>(text.size()) + 2;
      if (consumed < step_at) continue;
      step_at = consumed + kBlock;
      if (!LoadStep(consumed, total, lastReport)) break;
    }
  } catch (...) {
    failure = std::current_exception();
  }
  if (pars_.Count() == 0) appender.Add("", 0, 0);  // a memo always holds a paragraph
  text_len_ = appender.TextLength();
  line_count_ = pars_.Count();
  FinishTextLoad();
  if (failure) std::rethrow_exception(failure);
  return true;
}

bool TVellMemo::LoadStep(std::int64_t consumed, std::int64_t total, std::int64_t& last_report) {
  if (OnLoadStep && !OnLoadStep()) return false;
  if (OnProgress && NowMs() - last_report > 300) {
    last_report = NowMs();
    progress_ = total > 0 ? static_cast<int>(std::min<std::int64_t>(consumed * 100 / total, 99)) : 0;
    OnProgress(this);
  }
  return true;
}

void TVellMemo::FinishTextLoad() {
  struct Done {
    bool& unformatted;
    ~Done() { unformatted = false; }
  } done{unformatted_load_};
  virtual_cols_ = 0;
  column_block_ = false;
  for (TVellNavigator* nav : navigators_) {
    nav->Invalidate();
    nav->pos_ = 0;
  }
  caret_ = sel_start_.get();
  last_parsed_ = -1;
  formatted_up_to_ = 0;
  bg_next_ = 0;
  bg_last_ = pars_.Count() - 1;
  mod_first_line_ = mod_first_par_ = mod_last_par_ = -1;
  if (OnParse) OnParse(this, 0, text_len_);
  if (update_count_ > 0) --update_count_;
  view_.ResetOrigins();
  progress_ = 100;
  if (OnProgress) OnProgress(this);
  if (window_) {
    window_->Repaint();
    if (update_count_ == 0) {
      window_->ScrollRangesChanged();
      if (unformatted_load_) FormatAgain();
      else Reformat();
      window_->CaretChanged();
    }
  }
  Change();
}

std::vector<std::string> TVellMemo::WriteStringsProperty() {
  std::vector<std::string> out;
  for (int i = 0; i < pars_.Count(); ++i) {
    const ParInfo& p = *pars_.At(i);
    std::string_view rest(p.text ? p.text : "", p.length);
    while (rest.size() > 255 || (!rest.empty() && rest.back() == kContinued)) {
      std::size_t take = std::min<std::size_t>(254, rest.size());
      out.push_back(std::string(rest.substr(0, take)) + kContinued);
      rest.remove_prefix(take);
    }
    out.emplace_back(rest);
  }
  return out;
}

void TVellMemo::ReadStringsProperty(const std::vector<std::string>& strings) {
  BeginUpdate();
  try {
    Clear();
    int read = 0;
    std::string buffer;
    bool open = false;
    for (const std::string& s : strings) {
      open = true;
      if (!s.empty() && s.back() == kContinued) {
        buffer.append(s, 0, s.size() - 1);
        continue;
      }
      buffer += s;
      setParsBuf(read++, buffer.c_str());
      buffer.clear();
      open = false;
    }
    if (open) setParsBuf(read++, buffer.c_str());
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

}  // namespace memo
