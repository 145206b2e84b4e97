#include "app/page_text.h"

#include <algorithm>
#include <cstring>

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

// lines joined by CR LF; with release each line's memory goes as soon as it
// is copied, so that a huge line is held at most twice meanwhile.
std::string Join(std::vector<std::string>& lines, appcore::Pacer* pacer, bool release) {
  std::string text;
  size_t size = 0;
  for (const std::string& line : lines) size += line.size() + 2;
  text.reserve(size > 0 ? size - 2 : 0);  // the exact size: no break after the last line
  for (size_t i = 0; i < lines.size(); ++i) {
    if (pacer && !pacer->Tick()) return {};
    if (i > 0) text += "\r\n";
    text += lines[i];
    if (release) std::string().swap(lines[i]);
  }
  return text;
}

// Lines read as one text joined by CR LF, each line's memory given back as
// soon as the memo has read it, so that the text is never held whole beside
// the memo's own copy. The text ends before its first NUL byte, as SetText
// ends it.
class LinesStream : public rtl::TStream {
public:
  explicit LinesStream(std::vector<std::string>& lines) : lines_(lines) {
    for (size_t i = 0; i < lines_.size(); ++i) {
      const size_t nul = lines_[i].find('\0');
      if (nul != std::string::npos) {
        size_ += static_cast<std::int64_t>(nul);
        end_line_ = i;
        end_column_ = nul;
        return;
      }
      size_ += static_cast<std::int64_t>(lines_[i].size()) + (i + 1 < lines_.size() ? 2 : 0);
    }
    end_line_ = lines_.size();
  }
  std::string ClassName() const override { return "LinesStream"; }
  std::int64_t Read(void* buffer, std::int64_t count) override {
    char* to = static_cast<char*>(buffer);
    std::int64_t done = 0;
    while (done < count && line_ < lines_.size() && !(line_ == end_line_ && column_ == end_column_)) {
      const std::string& line = lines_[line_];
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
      const size_t brk = line_ + 1 < lines_.size() ? 2 : 0;
      while (break_sent_ < brk && done < count) to[done++] = "\r\n"[break_sent_++];
      if (break_sent_ < brk) break;
      std::string().swap(lines_[line_]);
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
  std::vector<std::string>& lines_;
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

std::string JoinedLines(const std::vector<std::string>& lines, appcore::Pacer* pacer) {
  return Join(const_cast<std::vector<std::string>&>(lines), pacer, false);
}

void SetPageLines(memo::TVellMemo& memo, const std::vector<std::string>& lines, appcore::Pacer* pacer) {
  SetPageText(memo, JoinedLines(lines, pacer), pacer);
}

void SetPageLines(memo::TVellMemo& memo, std::vector<std::string>&& lines, appcore::Pacer* pacer) {
  std::vector<std::string> taken = std::move(lines);
  // A line longer than the memo reads at a time would be gathered in a
  // copy of its own on the way in: such pages are joined first, and the
  // memo reads the joined text in place.
  constexpr size_t kLongLine = 32 << 10;
  if (std::any_of(taken.begin(), taken.end(), [](const std::string& line) { return line.size() > kLongLine; })) {
    std::string text = Join(taken, pacer, true);
    std::vector<std::string>().swap(taken);
    SetPageText(memo, text, pacer);
    return;
  }
  if (pacer && pacer->Cancelled()) return;
  LinesStream stream(taken);
  // An empty text leaves an empty page untouched, as SetText does.
  if (stream.Size() == 0 && memo.GetTextLen() == 0 && memo.GetParCount() == 1) return;
  LoadPaced(memo, pacer, [&] { memo.LoadFromStream(stream); });
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
