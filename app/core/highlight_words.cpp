#include "app/core/highlight_words.h"

#include <algorithm>

#include "app/core/page_file.h"
#include "app/core/record_line.h"
#include "platform/runtime/exceptions.h"
#include "platform/runtime/files.h"
#include "textutil/fields.h"
#include "textutil/phonetic.h"
#include "textutil/scan.h"

namespace appcore {
namespace {

void AddOnce(std::vector<std::string>& words, std::string word) {
  if (!word.empty() && std::find(words.begin(), words.end(), word) == words.end())
    words.push_back(std::move(word));
}

// The key a word is matched by: its MetaPhone key without trailing blanks.
std::string KeyOf(std::string_view word, int key_length) {
  std::string key = textutil::MetaPhone(word, key_length);
  while (!key.empty() && key.back() == ' ') key.pop_back();
  return key;
}

std::string_view WithoutPunctuation(std::string_view word) {
  constexpr std::string_view kMarks = ",;:.()!?\"";
  while (!word.empty() && kMarks.find(word.front()) != std::string_view::npos) word.remove_prefix(1);
  while (!word.empty() && kMarks.find(word.back()) != std::string_view::npos) word.remove_suffix(1);
  return word;
}

// Calls add for every piece of text between line ends, trimmed.
template <typename Add>
void ForEachLine(std::string_view text, Add add) {
  size_t begin = 0;
  while (begin <= text.size()) {
    size_t end = text.find_first_of("\r\n", begin);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view line = TrimLine(text.substr(begin, end - begin));
    if (!line.empty()) add(line);
    begin = end + 1;
  }
}

}  // namespace

std::string HighlightWordsFileName(std::string_view page_file) { return rtl::ChangeFileExt(page_file, ".hlw"); }

std::vector<std::string> ReadHighlightWords(const std::string& page_file) {
  const std::string side = HighlightWordsFileName(page_file);
  std::vector<std::string> words;
  if (!rtl::FileExists(side)) return words;
  const std::string text = rtl::LoadFileToString(side);
  ForEachLine(text, [&](std::string_view line) { words.emplace_back(line); });
  return words;
}

void SaveHighlightWords(const std::string& page_file, const std::vector<std::string>& words) {
  const std::string side = HighlightWordsFileName(page_file);
  std::string text;
  for (const std::string& word : words)
    ForEachLine(word, [&](std::string_view line) {
      text.append(line);
      text.append("\r\n");
    });
  if (!text.empty()) {
    SavePageFile(side, text);
  } else if (rtl::FileExists(side) && !rtl::DeleteFile(side)) {
    throw rtl::EWriteError("Cannot delete file \"" + rtl::PathToText(side) + "\".");
  }
}

std::string HighlightEditText(const std::vector<std::string>& keywords) {
  std::string text;
  for (const std::string& word : keywords) text += " " + word;
  return text;
}

std::vector<std::string> EditWords(std::string_view text) {
  std::vector<std::string> words;
  int pos = 1;
  while (pos > 0) AddOnce(words, textutil::ParseWord(text, " ", pos));
  return words;
}

std::vector<std::string> SoundAlikeWords(std::string_view word, const std::vector<std::string>& page_lines,
                                         int key_length) {
  std::vector<std::string> found;
  const std::string key = KeyOf(word, key_length);
  if (key.empty()) return found;
  for (const std::string& line : page_lines) {
    int pos = 4;
    while (pos > 0) {
      const std::string candidate = textutil::Parse(line, " ", pos);
      const std::string_view bare = WithoutPunctuation(candidate);
      if (!bare.empty() && textutil::ScanF(KeyOf(bare, key_length), key, -1) > 0) {
        AddOnce(found, std::string(bare));
        break;
      }
    }
  }
  return found;
}

std::vector<std::string> HighlightWordsFor(std::string_view edit_text, bool fuzzy,
                                           const std::vector<std::string>& page_lines, int key_length) {
  std::vector<std::string> keywords;
  for (const std::string& word : EditWords(TrimLine(edit_text))) {
    AddOnce(keywords, word);
    if (fuzzy)
      for (std::string& alike : SoundAlikeWords(word, page_lines, key_length)) AddOnce(keywords, std::move(alike));
  }
  return keywords;
}

}  // namespace appcore
