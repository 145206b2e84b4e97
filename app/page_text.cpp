#include "app/page_text.h"

namespace app {

std::vector<std::string> PageParagraphs(memo::TVellMemo& memo) {
  std::vector<std::string> lines;
  lines.reserve(static_cast<size_t>(memo.GetParCount()));
  for (int i = 0; i < memo.GetParCount(); ++i) lines.push_back(memo.getParagraphs(i));
  return lines;
}

std::string JoinedLines(const std::vector<std::string>& lines) {
  std::string text;
  size_t size = 0;
  for (const std::string& line : lines) size += line.size() + 2;
  text.reserve(size);
  for (size_t i = 0; i < lines.size(); ++i) {
    if (i > 0) text += "\r\n";
    text += lines[i];
  }
  return text;
}

void SetPageLines(memo::TVellMemo& memo, const std::vector<std::string>& lines) { memo.SetText(JoinedLines(lines)); }

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
