#include "app/page_text.h"

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

void SetPageText(memo::TVellMemo& memo, const std::string& text, appcore::Pacer* pacer) {
  if (pacer && pacer->Cancelled()) return;
  if (pacer) memo.OnLoadStep = [pacer] { return pacer->TickNow(); };
  try {
    memo.SetText(text);
  } catch (...) {
    memo.OnLoadStep = nullptr;
    throw;
  }
  memo.OnLoadStep = nullptr;
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
  std::string text = Join(taken, pacer, true);
  std::vector<std::string>().swap(taken);
  SetPageText(memo, text, pacer);
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
