#include "app/page_text.h"

#include <algorithm>
#include <cstring>

#include "app/core/arrange.h"
#include "app/core/data_file.h"
#include "app/core/work_crew.h"
#include "platform/runtime/exceptions.h"
#include "platform/runtime/streams.h"

namespace app {

std::vector<std::string> PageParagraphs(memo::TVellMemo& memo, appcore::Pacer* pacer) {
  std::vector<std::string> lines;
  lines.reserve(static_cast<size_t>(memo.GetParCount()));
  for (int i = 0; i < memo.GetParCount(); ++i) {
    if (pacer && !pacer->Tick()) return {};
    lines.push_back(memo.getParagraphs(i));
  }
  return lines;
}

namespace {

// Parts of the page's work per thread of the window's crew, taken as its
// threads come free: the cores of this machine run at speeds that differ
// from moment to moment, and with a part per thread the page waited for
// the slowest (filled in 2.6 ms where its parts took 0.8-2.6 ms each).
constexpr size_t kCrewPartsPerThread = 4;

// Runs body(part) for every part < parts on the crew's threads, as many of
// them as it has cores for (not a thread a part).
void RunOnCrew(appcore::WorkCrew& crew, size_t parts, const std::function<void(size_t)>& body) {
  crew.Run(std::min(parts, crew.Processors()), parts, [&body](size_t part, bool) { body(part); });
}

// Line i of two lists, one after the other (the head's).
template <typename Lines>
auto& LineOfTwo(Lines& first, Lines& second, size_t i) {
  return i < first.size() ? first[i] : second[i - first.size()];
}
std::string& HeadLine(PageParts& parts, size_t i) { return LineOfTwo(parts.head, parts.head_rest, i); }
size_t HeadCount(const PageParts& parts) { return parts.head.size() + parts.head_rest.size(); }

// A page's lines by number: the head lines (two lists, one after the
// other), then the rows of hits. With taken, the head's lines are freed
// once read.
class PartsLines : public memo::TParagraphSource {
public:
  PartsLines(const std::vector<std::string>& head, const std::vector<std::string>& head_rest, const PageParts* rows,
             PageParts* taken)
      : head_(head), rest_(head_rest), heads_(head.size() + head_rest.size()), rows_(rows), taken_(taken) {}
  size_t Count() const override { return heads_ + (rows_ ? rows_->rows.size() : 0); }
  memo::TPreparedTexts* Prepared() const override { return rows_ ? rows_->prepared.get() : nullptr; }
  // The head's lines first, then the hits by their places (PrepareTexts).
  size_t PreparedIndex(size_t i) const override {
    if (i < heads_) return i;
    const uint32_t row = rows_->rows[i - heads_];
    return row == appcore::kGroupBreak ? memo::TPreparedTexts::kNone : heads_ + row;
  }
  std::string_view Line(size_t i) const override {
    if (i < heads_) {
      // A head line given up once prepared is read from its prepared text.
      const memo::TPreparedTexts::Prepared* ahead = rows_ && rows_->prepared ? rows_->prepared->Find(i) : nullptr;
      return ahead ? std::string_view(ahead->text, static_cast<size_t>(ahead->length)) : std::string_view(Head(i));
    }
    const uint32_t row = rows_->rows[i - heads_];
    return row == appcore::kGroupBreak ? std::string_view() : std::string_view((*rows_->hits)[row]);
  }
  // Arranged hits lie anywhere in memory: a line's string is fetched ahead,
  // and its text once the string is likely there.
  void Prefetch(size_t i) const override {
    if (i < heads_ || rows_ == nullptr) return;
    const std::vector<uint32_t>& rows = rows_->rows;
    const size_t r = i - heads_;
    if (rows[r] != appcore::kGroupBreak) __builtin_prefetch(&(*rows_->hits)[rows[r]]);
    if (r >= kTextBehind && rows[r - kTextBehind] != appcore::kGroupBreak) {
      const std::string& earlier = (*rows_->hits)[rows[r - kTextBehind]];
      __builtin_prefetch(earlier.data());
      __builtin_prefetch(earlier.data() + 64);
    }
  }
  void Read(size_t i) override {
    if (taken_ && i < heads_) std::string().swap(HeadLine(*taken_, i));
  }
  void RunParts(size_t parts, const std::function<void(size_t)>& body) const override {
    if (rows_ == nullptr || rows_->crew == nullptr) return memo::TParagraphSource::RunParts(parts, body);
    RunOnCrew(*rows_->crew, parts, body);
  }
  size_t PartsPerThread() const override { return rows_ && rows_->crew ? kCrewPartsPerThread : 1; }

private:
  static constexpr size_t kTextBehind = 4;
  const std::string& Head(size_t i) const { return LineOfTwo(head_, rest_, i); }
  const std::vector<std::string>& head_;
  const std::vector<std::string>& rest_;
  const size_t heads_;
  const PageParts* rows_;
  PageParts* taken_;
};

// lines joined by CR LF; taken lines are freed as soon as they are copied,
// so that a huge line is held at most twice meanwhile.
std::string Join(PartsLines& lines, appcore::Pacer* pacer) {
  std::string text;
  size_t size = 0;
  for (size_t i = 0; i < lines.Count(); ++i) size += lines.Line(i).size() + 2;
  text.reserve(size > 0 ? size - 2 : 0);  // the exact size: no break after the last line
  for (size_t i = 0; i < lines.Count(); ++i) {
    if (pacer && !pacer->Tick()) return {};
    if (i > 0) text += "\r\n";
    text += lines.Line(i);
    lines.Read(i);
  }
  return text;
}

// Lines read as one text joined by CR LF, each taken line's memory given
// back as soon as the memo has read it, so that the text is never held
// whole beside the memo's own copy. The text ends before its first NUL
// byte, as SetText ends it.
class LinesStream : public rtl::TStream {
public:
  explicit LinesStream(PartsLines& lines) : lines_(lines), count_(lines.Count()) {
    for (size_t i = 0; i < count_; ++i) {
      const std::string_view line = lines_.Line(i);
      const size_t nul = line.find('\0');
      if (nul != std::string_view::npos) {
        size_ += static_cast<std::int64_t>(nul);
        end_line_ = i;
        end_column_ = nul;
        return;
      }
      size_ += static_cast<std::int64_t>(line.size()) + (i + 1 < count_ ? 2 : 0);
    }
    end_line_ = count_;
  }
  std::string ClassName() const override { return "LinesStream"; }
  std::int64_t Read(void* buffer, std::int64_t count) override {
    char* to = static_cast<char*>(buffer);
    std::int64_t done = 0;
    while (done < count && line_ < count_ && !(line_ == end_line_ && column_ == end_column_)) {
      const std::string_view line = lines_.Line(line_);
      const size_t line_end = line_ == end_line_ ? end_column_ : line.size();
      if (column_ < line_end) {
        const size_t n = std::min(line_end - column_, static_cast<size_t>(count - done));
        std::memcpy(to + done, line.data() + column_, n);
        column_ += n;
        done += static_cast<std::int64_t>(n);
        continue;
      }
      if (line_ == end_line_) break;
      // The break after the line (none after the last), then the next line.
      const size_t brk = line_ + 1 < count_ ? 2 : 0;
      while (break_sent_ < brk && done < count) to[done++] = "\r\n"[break_sent_++];
      if (break_sent_ < brk) break;
      lines_.Read(line_);
      ++line_;
      column_ = 0;
      break_sent_ = 0;
    }
    position_ += done;
    return done;
  }
  std::int64_t Write(const void*, std::int64_t) override { throw rtl::EWriteError("Stream write error"); }
  std::int64_t Seek(std::int64_t offset, int origin) override {
    const std::int64_t to = origin == rtl::soFromBeginning ? offset
                            : origin == rtl::soFromCurrent ? position_ + offset
                                                           : size_ + offset;
    if (to != position_) throw rtl::EStreamError("Stream seek error");  // read once, front to back
    return position_;
  }
  std::int64_t Size() override { return size_; }
  void SetSize(std::int64_t) override { throw rtl::EStreamError("Stream size error"); }

private:
  PartsLines& lines_;
  const size_t count_;
  std::int64_t size_ = 0, position_ = 0;
  size_t end_line_ = 0, end_column_ = 0;  // where the text ends
  size_t line_ = 0, column_ = 0, break_sent_ = 0;
};

// Runs load with the memo turning the pacer between the blocks it reads.
template <typename Load>
void LoadPaced(memo::TVellMemo& memo, appcore::Pacer* pacer, Load&& load) {
  if (pacer) memo.OnLoadStep = [pacer] { return pacer->TickNow(); };
  try {
    load();
  } catch (...) {
    memo.OnLoadStep = nullptr;
    throw;
  }
  memo.OnLoadStep = nullptr;
}

void SetPageText(memo::TVellMemo& memo, const std::string& text, appcore::Pacer* pacer) {
  if (pacer && pacer->Cancelled()) return;
  LoadPaced(memo, pacer, [&] { memo.SetText(text); });
}

}  // namespace

PageCopy CopyPageParagraphs(memo::TVellMemo& memo, appcore::WorkCrew& crew) {
  // The bytes of each part of the paragraphs, then each part's texts
  // copied to its place in the block, each in a round on the crew's
  // threads (the paragraphs' records lie all over memory: summed on this
  // thread alone, a million of them took longer than the copy); nothing
  // changes the page meanwhile, as this thread turns no event loop until
  // the copy ends.
  PageCopy copy;
  const size_t count = static_cast<size_t>(memo.GetParCount());
  const size_t parts = std::max<size_t>(1, std::min(count / 4096 + 1, crew.Processors() * kCrewPartsPerThread));
  const auto first = [&](size_t k) { return count * k / parts; };
  std::vector<size_t> at(parts + 1, 0);
  RunOnCrew(crew, parts, [&](size_t k) {
    size_t bytes = 0;
    for (size_t i = first(k); i < first(k + 1); ++i) bytes += memo.ParagraphView(static_cast<int>(i)).size();
    at[k + 1] = bytes;
  });
  for (size_t k = 0; k < parts; ++k) at[k + 1] += at[k];
  copy.block = std::make_shared<appcore::ByteBlock>(at[parts]);
  copy.lines.resize(count);
  RunOnCrew(crew, parts, [&](size_t k) {
    char* to = copy.block->data() + at[k];
    for (size_t i = first(k); i < first(k + 1); ++i) {
      const std::string_view par = memo.ParagraphView(static_cast<int>(i));
      if (!par.empty()) std::memcpy(to, par.data(), par.size());
      copy.lines[i] = std::string_view(to, par.size());
      to += par.size();
    }
  });
  return copy;
}

std::string JoinedLines(const std::vector<std::string>& lines, appcore::Pacer* pacer) {
  const std::vector<std::string> none;
  PartsLines view(lines, none, nullptr, nullptr);
  return Join(view, pacer);
}

void SetPageLines(memo::TVellMemo& memo, const std::vector<std::string>& lines, appcore::Pacer* pacer) {
  SetPageText(memo, JoinedLines(lines, pacer), pacer);
}

void SetPageLines(memo::TVellMemo& memo, std::vector<std::string>&& lines, appcore::Pacer* pacer) {
  PageParts parts;
  parts.head = std::move(lines);
  SetPageParts(memo, std::move(parts), pacer);
}

bool SetPageParts(memo::TVellMemo& memo, PageParts&& parts, appcore::Pacer* pacer) {
  PageParts taken = std::move(parts);
  PartsLines lines(taken.head, taken.head_rest, &taken, &taken);
  if (pacer && pacer->Cancelled()) return false;
  // The lines go straight into paragraphs. An empty text leaves an empty
  // page untouched, as SetText does.
  const bool empty = lines.Count() == 0 || (lines.Count() == 1 && lines.Line(0).empty());
  if (empty && memo.GetTextLen() == 0 && memo.GetParCount() == 1) return false;
  bool loaded = false;
  LoadPaced(memo, pacer, [&] { loaded = memo.LoadParagraphs(lines); });
  if (loaded) return true;

  // Lines holding breaks or NULs, or too long for one paragraph, go through
  // the text they join into, which the memo cuts. A line longer than the
  // memo reads at a time would be gathered in a copy of its own on the way
  // in: such pages are joined first, and the memo reads the joined text in
  // place.
  constexpr size_t kLongLine = 32 << 10;
  bool long_line = false;
  for (size_t i = 0; i < lines.Count() && !long_line; ++i) long_line = lines.Line(i).size() > kLongLine;
  if (long_line) {
    std::string text = Join(lines, pacer);
    std::vector<std::string>().swap(taken.head);
    std::vector<std::string>().swap(taken.head_rest);
    SetPageText(memo, text, pacer);
    return true;
  }
  LinesStream stream(lines);
  if (stream.Size() == 0 && memo.GetTextLen() == 0 && memo.GetParCount() == 1) return false;
  LoadPaced(memo, pacer, [&] { memo.LoadFromStream(stream); });
  return true;
}

bool PrepareTexts(PageParts& parts, const std::vector<std::string>& hits, appcore::Pacer* pacer,
                  appcore::WorkCrew* crew) {
  if (parts.prepared) return false;  // prepared before: head lines may read from there
  const size_t heads = HeadCount(parts);
  const size_t lines = heads + hits.size();
  if (lines < memo::TPreparedTexts::kWorthFrom) return false;
  // A few threads: the copies are made while the hits are arranged on the
  // others (or on the crew given, shared with the arranging, its helpers
  // taking the parts as they come free of it).
  const size_t most_parts = crew ? crew->Processors() * kCrewPartsPerThread : 3;
  auto prepared = std::make_unique<memo::TPreparedTexts>();
  const auto line = [&](size_t i) -> std::string_view { return i < heads ? HeadLine(parts, i) : hits[i - heads]; };
  memo::TPreparedTexts::PartsRunner run_parts;
  if (crew)
    run_parts = [crew](size_t count, const std::function<void(size_t)>& body) { RunOnCrew(*crew, count, body); };
  // A head line goes as soon as its text is copied, while it is still in
  // the copying thread's cache (these lines lie anywhere in memory: freed
  // later, each would be fetched again).
  const auto copied = [&](size_t i) {
    if (i < heads) std::string().swap(HeadLine(parts, i));
  };
  // From now on the page reads the head's lines from their copies, also
  // after a failure part way.
  struct Keep {
    PageParts& parts;
    std::unique_ptr<memo::TPreparedTexts>& prepared;
    ~Keep() { parts.prepared = std::move(prepared); }
  } keep{parts, prepared};
  return prepared->Copy(lines, line, most_parts, [pacer] { return !pacer || pacer->Tick(); }, run_parts, copied);
}

std::vector<std::string> PageKeywords(memo::TVellMemo& memo) {
  std::vector<std::string> words;
  const memo::TKeywordList& keywords = memo.Keywords();
  for (int i = 0; i < keywords.Count(); ++i) words.push_back(keywords.Strings(i));
  return words;
}

void SetPageKeywords(memo::TVellMemo& memo, const std::vector<std::string>& words) {
  memo::TKeywordList& keywords = memo.Keywords();
  keywords.Clear();
  keywords.Duplicates = rtl::dupIgnore;
  keywords.SetSorted(true);
  for (const std::string& word : words)
    if (!word.empty()) keywords.AddKeyWord(word, 0, 0, 1, memo::crDefault, kKeywordBackground, kKeywordForeground);
}

}  // namespace app
