// Text and keywords of a page's memo as the window's commands read and
// write them: paragraphs (never wrapped display lines), the page's
// highlight words in red on white.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/core/pacer.h"
#include "memo/vell_memo.h"

namespace appcore {
class ByteBlock;
class WorkCrew;
}

namespace app {

// Keywords of a page: no word options, no font style, context 1, the
// default cursor, red on white.
inline constexpr memo::TColor kKeywordBackground = 16777215;  // clWhite
inline constexpr memo::TColor kKeywordForeground = 255;       // clRed

// With a pacer the copy turns the event loop; once cancelled it stops and
// what it gives is to be dropped.
std::vector<std::string> PageParagraphs(memo::TVellMemo& memo, appcore::Pacer* pacer = nullptr);
// A page's paragraphs copied into one block of memory (no allocation per
// line) on crew's threads, each seen through a view. The event loop does not
// turn meanwhile: the copy is short (a few tens of milliseconds for a
// million lines).
struct PageCopy {
  std::shared_ptr<appcore::ByteBlock> block;
  std::vector<std::string_view> lines;
};
PageCopy CopyPageParagraphs(memo::TVellMemo& memo, appcore::WorkCrew& crew);
// lines with CR LF between them.
std::string JoinedLines(const std::vector<std::string>& lines, appcore::Pacer* pacer = nullptr);
// Replaces the whole text by lines, one paragraph each. With a pacer the
// event loop turns meanwhile; a Cancel stops the write part way, so a
// caller that may be cancelled writes into a page it can drop.
void SetPageLines(memo::TVellMemo& memo, const std::vector<std::string>& lines, appcore::Pacer* pacer = nullptr);
// The same, taking the lines: each is freed once copied into the text.
void SetPageLines(memo::TVellMemo& memo, std::vector<std::string>&& lines, appcore::Pacer* pacer = nullptr);

// The lines of a page as the memo reads them, once, front to back: first
// head, then head_rest (each line freed once read), then the arranged rows
// of hits (a hit by its place, an empty line for appcore::kGroupBreak),
// read in place. The texts of the head's lines and hits may have been
// copied ahead into prepared (see PrepareTexts): the page then takes them
// over in place.
struct PageParts {
  std::vector<std::string> head;
  // More lines of the head, a list taken whole from whoever made them.
  std::vector<std::string> head_rest;
  const std::vector<std::string>* hits = nullptr;
  std::vector<uint32_t> rows;
  std::unique_ptr<memo::TPreparedTexts> prepared;
  // Threads kept by the caller that make the page's paragraphs in parts
  // (null: threads started for it).
  appcore::WorkCrew* crew = nullptr;
};
// Replaces the whole text by the parts' lines, as SetPageLines does; false
// when the text was left as it was (an empty page on an empty page, or a
// write cancelled before it began).
bool SetPageParts(memo::TVellMemo& memo, PageParts&& parts, appcore::Pacer* pacer = nullptr);

// The texts of parts' head and of the hits it will hold in another order
// copied ahead (parts.prepared) on the calling thread and a few more (those
// of crew when given), into buffers from the calling thread's heap, each
// head line freed by the thread that copied it; false when too few lines
// for it to pay (nothing prepared), or when the pacer (ticked on the
// calling thread) is cancelled meanwhile (what was copied stays prepared,
// the page reads the freed head lines from there). The page must be
// written with what is prepared; parts prepared before are left as they
// are (false).
bool PrepareTexts(PageParts& parts, const std::vector<std::string>& hits, appcore::Pacer* pacer,
                  appcore::WorkCrew* crew = nullptr);

std::vector<std::string> PageKeywords(memo::TVellMemo& memo);
// The keyword list becomes words (sorted, repeats and empty words dropped);
// the caller re-applies them.
void SetPageKeywords(memo::TVellMemo& memo, const std::vector<std::string>& words);

}  // namespace app
