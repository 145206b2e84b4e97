// The arithmetic of printing a memo, without any device: printer metrics,
// margins in inches turned into printer pixels, the line pitch, the
// pagination with form-feed page breaks, the header and footer texts and
// rectangles, and the geometry of the print preview (zoom, page placement,
// margin lines and margin dragging).
//
// Pagination. Lines per page = trunc((paper height - (top + bottom margin)
// * LOGPIXELSY) / pitch), at least 1. A paragraph that begins with a form
// feed (12) starts a new page: blank print lines ("fill") are inserted
// before its first display line f, pad = lines per page - ((f + fill so
// far) mod lines per page), so a form feed on a line that already begins a
// page gets a whole blank page. Print line n = page * lines per page + row.
// Page count = ceiling((display lines + fill) / lines per page), at least 1.
//
// Values in printer pixels are rounded as the class library rounds: halves
// to even.
#pragma once

#include <string>
#include <vector>

#include "memo/memo_types.h"

namespace memo {

int RoundHalfEven(double value);

// What GetDeviceCaps reports of a printer, in printer pixels.
struct TPrinterMetrics {
  int physicalWidth = 0;    // PHYSICALWIDTH: the paper
  int physicalHeight = 0;   // PHYSICALHEIGHT
  int physicalOffsetX = 0;  // PHYSICALOFFSETX: unprintable border
  int physicalOffsetY = 0;  // PHYSICALOFFSETY
  int horzRes = 0;          // HORZRES: printable area
  int vertRes = 0;          // VERTRES
  int logPixelsX = 0;       // LOGPIXELSX: pixels per inch
  int logPixelsY = 0;       // LOGPIXELSY
  friend bool operator==(const TPrinterMetrics&, const TPrinterMetrics&) = default;
};

// Margins measured from the paper edges, in inches.
struct TPrintMargins {
  double left = 0.75;
  double right = 0.5;
  double top = 0.75;
  double bottom = 0.75;
};

// Paper width less the two side margins: the width the text is laid out
// to, and the width right, centred and justified lines align to.
int FormattingWidth(const TPrinterMetrics& m, const TPrintMargins& margins);
// Where the first line of a page starts on the printer canvas (whose
// origin is the printable area's corner).
TPoint PrintOrigin(const TPrinterMetrics& m, const TPrintMargins& margins);
// A spacing of 0 or more is a pitch in inches; a negative one a multiple
// of the printer line height. Never below 1.
int LinePitch(double lineSpacing, int logPixelsY, int printerLineHeight);
int LinesPerPage(const TPrinterMetrics& m, const TPrintMargins& margins, int pitch);

// The header or footer text with its first "{p}" replaced by pageIndex + 1.
std::string PageText(const std::string& text, int pageIndex);
// Rectangles on the printer canvas; the header from its position to the
// top margin, the footer from its position to the paper's bottom edge.
TRect HeaderRect(const TPrinterMetrics& m, const TPrintMargins& margins, double headerYPos);
TRect FooterRect(const TPrinterMetrics& m, const TPrintMargins& margins, double footerYPos);

class TPagination {
public:
  static constexpr int kInFill = 2147483647;

  // formFeedLines: in increasing order, the first display line of every
  // paragraph that begins with a form feed.
  void Compute(int displayLines, const std::vector<int>& formFeedLines, int linesPerPage);

  int LinesPerPage() const { return lines_per_page_; }
  int PageCount() const { return page_count_; }
  int DisplayLines() const { return display_lines_; }
  const std::vector<int>& FormFeedLines() const { return form_feeds_; }
  const std::vector<int>& Fills() const { return fills_; }
  int FillTotal() const { return fill_total_; }

  // The display line shown on print line n, or kInFill for a blank line
  // of the fill before a form feed.
  int PrintLineToMemoLine(int printLine) const;
  // The display lines first .. last shown on a page; false when the page
  // shows none (it lies beyond the text or begins in a fill).
  bool PageLines(int page, int& first, int& last) const;

private:
  int display_lines_ = 0;
  int lines_per_page_ = 1;
  int page_count_ = 1;
  int fill_total_ = 0;
  std::vector<int> form_feeds_;
  std::vector<int> fills_;
};

// ---- print preview ----

// The zoom list of the preview: six fixed factors, then two fitted ones.
enum TPreviewZoom : int {
  pz500, pz200, pz150, pz100, pz75, pz50, pzPageWidth, pzWholePage,
};
inline constexpr int kPreviewZoomCount = 8;
const char* PreviewZoomCaption(int item);
// Screen pixels per printer pixel of a fixed zoom item.
double FixedZoom(int item, int screenPixelsPerInch, int printerLogPixelsY);

// The page inside the preview's scroll area, in screen pixels.
struct TPreviewPlacement {
  double zoom = 1;
  int left = 10;
  int top = 10;
  int width = 0;
  int height = 0;
  // Margin lines in page-image pixels.
  int marginLeftX = 0;
  int marginRightX = 0;
  int marginTopY = 0;
  int marginBottomY = 0;
};

// clientWidth/clientHeight: the scroll area's client size.
TPreviewPlacement PlacePreviewPage(int item, int screenPixelsPerInch, const TPrinterMetrics& m,
                                   const TPrintMargins& margins, int clientWidth, int clientHeight);

// The rows of a page that meet a clip band [clipTop, clipBottom) of the
// page image: false when none does.
bool PreviewRows(double clipTop, double clipBottom, double zoom, double top, int pitch, int linesPerPage,
                 int& first, int& last);

enum TPreviewMargin : int { pmNone, pmLeft, pmRight, pmTop, pmBottom };

// The margin whose line lies exactly under (x, y), checked left, right,
// top, bottom.
TPreviewMargin MarginAt(const TPreviewPlacement& page, int x, int y);
// While dragging: a margin stays at least 3 pixels inside its opposite.
int ClampDraggedMargin(const TPreviewPlacement& page, TPreviewMargin margin, int position);
// On release: the margin in inches for a position (kept at least 10
// pixels from its opposite), with R = LOGPIXELSY for both axes.
double MarginFromPosition(const TPreviewPlacement& page, TPreviewMargin margin, int position, int logPixelsY);

}  // namespace memo
