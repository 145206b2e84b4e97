// Highlight words of a page: the side file that keeps them beside a saved
// page, and the words the "Highlight words" dialog asks for.
//
// Side file (HighlightWordsFile): the page file's path with its extension
// changed to ".hlw" ("notes.txt" -> "notes.hlw", "notes" -> "notes.hlw").
// Plain Windows-1252 text, one word per line, each line ended by CR LF, in
// the order of the page's keyword list. Lines are read with CR LF, LF or CR
// endings; blank lines and the blanks around a word are ignored. Written
// whole through a temporary file, so a failed save leaves the old side file
// as it was. A page saved without highlight words has no side file: an old
// one is removed, so that reopening the page does not bring back words the
// user had cleared.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace appcore {

std::string HighlightWordsFileName(std::string_view page_file);

// The words of page_file's side file; none when it has no side file.
// Raises rtl::EFOpenError when the side file exists but cannot be read.
std::vector<std::string> ReadHighlightWords(const std::string& page_file);

// Writes the side file of page_file, or removes it when words is empty. A
// word holding a line break is stored as one word per piece. Raises
// rtl::EFCreateError or rtl::EWriteError when the file cannot be written or
// removed; the old side file is then unchanged.
void SaveHighlightWords(const std::string& page_file, const std::vector<std::string>& words);

// The dialog's edit text for the current keywords: each word after a blank.
std::string HighlightEditText(const std::vector<std::string>& keywords);

// The words typed into the dialog: cut at blanks (runs of blanks count as
// one), in order, repeats dropped.
std::vector<std::string> EditWords(std::string_view text);

// Fuzzy match: the words of the page that sound like word. Each line gives
// at most one, the first of its words (from its 4th character on, cut at
// blanks) whose MetaPhone key (key_length letters, trailing blanks dropped)
// contains word's key; punctuation around a word (",;:.()!?\"") is not part
// of it. In page order, repeats dropped; none when word has no key.
std::vector<std::string> SoundAlikeWords(std::string_view word, const std::vector<std::string>& page_lines,
                                         int key_length);

// The keywords "Highlight words" sets: each typed word, followed under a
// fuzzy match by its sound-alike words of the page; repeats dropped.
std::vector<std::string> HighlightWordsFor(std::string_view edit_text, bool fuzzy,
                                           const std::vector<std::string>& page_lines, int key_length);

}  // namespace appcore
