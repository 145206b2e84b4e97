#include "memo/print_layout.h"

#include <algorithm>
#include <cmath>

namespace memo {

int RoundHalfEven(double value) { return static_cast<int>(std::nearbyint(value)); }

int FormattingWidth(const TPrinterMetrics& m, const TPrintMargins& margins) {
  const int width = m.physicalWidth - RoundHalfEven(m.logPixelsX * margins.left) -
                    RoundHalfEven(m.logPixelsX * margins.right);
  return std::max(width, 1);
}

TPoint PrintOrigin(const TPrinterMetrics& m, const TPrintMargins& margins) {
  return {RoundHalfEven(m.logPixelsX * margins.left - m.physicalOffsetX),
          RoundHalfEven(m.logPixelsY * margins.top - m.physicalOffsetY)};
}

int LinePitch(double lineSpacing, int logPixelsY, int printerLineHeight) {
  const int pitch = lineSpacing >= 0 ? RoundHalfEven(logPixelsY * lineSpacing)
                                     : RoundHalfEven(-lineSpacing * printerLineHeight);
  return std::max(pitch, 1);
}

int LinesPerPage(const TPrinterMetrics& m, const TPrintMargins& margins, int pitch) {
  const double usable = m.physicalHeight - (margins.top + margins.bottom) * m.logPixelsY;
  const double lines = std::trunc(usable / std::max(pitch, 1));
  return lines < 1 ? 1 : static_cast<int>(std::min(lines, 2147483647.0));
}

std::string PageText(const std::string& text, int pageIndex) {
  std::string out = text;
  const std::size_t at = out.find("{p}");
  if (at != std::string::npos) out.replace(at, 3, std::to_string(pageIndex + 1));
  return out;
}

TRect HeaderRect(const TPrinterMetrics& m, const TPrintMargins& margins, double headerYPos) {
  return {RoundHalfEven(m.logPixelsX * margins.left) - m.physicalOffsetX,
          RoundHalfEven(m.logPixelsY * headerYPos) - m.physicalOffsetY,
          m.physicalWidth - RoundHalfEven(m.logPixelsX * margins.right) - m.physicalOffsetX,
          RoundHalfEven(m.logPixelsY * margins.top) - m.physicalOffsetY};
}

TRect FooterRect(const TPrinterMetrics& m, const TPrintMargins& margins, double footerYPos) {
  return {RoundHalfEven(m.logPixelsX * margins.left) - m.physicalOffsetX,
          m.physicalHeight - RoundHalfEven(m.logPixelsY * footerYPos) - m.physicalOffsetY,
          m.physicalWidth - RoundHalfEven(m.logPixelsX * margins.right) - m.physicalOffsetX,
          m.physicalHeight - m.physicalOffsetY};
}

// ---- TPagination ----

void TPagination::Compute(int displayLines, const std::vector<int>& formFeedLines, int linesPerPage) {
  display_lines_ = std::max(displayLines, 0);
  lines_per_page_ = std::max(linesPerPage, 1);
  form_feeds_ = formFeedLines;
  fills_.clear();
  long long total = 0;
  for (int f : form_feeds_) {
    const long long pad = lines_per_page_ - (f + total) % lines_per_page_;
    total += pad;
    fills_.push_back(static_cast<int>(pad));
  }
  fill_total_ = static_cast<int>(std::min(total, 2147483647LL));
  // Whole pages only: a text that fills its last page exactly gets no
  // extra blank page.
  const long long lines = display_lines_ + total;
  page_count_ = static_cast<int>(std::max((lines + lines_per_page_ - 1) / lines_per_page_, 1LL));
}

int TPagination::PrintLineToMemoLine(int printLine) const {
  long long n = printLine;
  for (std::size_t i = 0; i < form_feeds_.size(); ++i) {
    if (form_feeds_[i] > n) return static_cast<int>(n);
    n -= fills_[i];
    if (form_feeds_[i] > n) return kInFill;
  }
  return static_cast<int>(n);
}

bool TPagination::PageLines(int page, int& first, int& last) const {
  if (page < 0 || page >= page_count_) return false;
  const long long top = static_cast<long long>(page) * lines_per_page_;
  first = PrintLineToMemoLine(static_cast<int>(top));
  if (first == kInFill || first >= display_lines_) return false;
  long long bottom = top + lines_per_page_ - 1;
  last = PrintLineToMemoLine(static_cast<int>(bottom));
  while (last == kInFill && bottom > 0) last = PrintLineToMemoLine(static_cast<int>(--bottom));
  last = std::min(last, display_lines_ - 1);
  return last >= first;
}

// ---- print preview ----

namespace {

constexpr double kZoomFactors[] = {5, 2, 1.5, 1, 0.75, 0.5};
constexpr const char* kZoomCaptions[] = {"500%", "200%", "150%", "100%", "75%", "50%", "Page width", "Whole page"};
constexpr double kLeastZoom = 0.01;

}  // namespace

const char* PreviewZoomCaption(int item) {
  return item >= 0 && item < kPreviewZoomCount ? kZoomCaptions[item] : "";
}

double FixedZoom(int item, int screenPixelsPerInch, int printerLogPixelsY) {
  const int index = std::clamp(item, 0, 5);
  return static_cast<double>(screenPixelsPerInch) / std::max(printerLogPixelsY, 1) * kZoomFactors[index];
}

TPreviewPlacement PlacePreviewPage(int item, int screenPixelsPerInch, const TPrinterMetrics& m,
                                   const TPrintMargins& margins, int clientWidth, int clientHeight) {
  TPreviewPlacement page;
  const double w = std::max(m.physicalWidth, 1);
  const double h = std::max(m.physicalHeight, 1);
  const double cw = clientWidth - 20.0, ch = clientHeight - 20.0;
  if (item == pzPageWidth) {
    page.zoom = cw / w;
    page.left = 10;
  } else if (item == pzWholePage) {
    if (h / w > ch / cw) {
      page.zoom = ch / h;
      page.left = RoundHalfEven((clientWidth - w * std::max(page.zoom, kLeastZoom)) / 2);
    } else {
      page.zoom = cw / w;
      page.left = 10;
    }
  } else {
    page.zoom = FixedZoom(item, screenPixelsPerInch, m.logPixelsY);
  }
  // A window too small to fit anything still shows a (tiny) page.
  page.zoom = std::max(page.zoom, kLeastZoom);
  page.width = RoundHalfEven(w * page.zoom);
  page.height = RoundHalfEven(h * page.zoom);
  if (item < pzPageWidth) page.left = clientWidth - 20 > page.width ? (clientWidth - page.width) / 2 : 10;
  page.left = std::max(page.left, 0);
  const double r = m.logPixelsY;
  page.marginLeftX = RoundHalfEven(r * margins.left * page.zoom);
  page.marginRightX = RoundHalfEven((w - r * margins.right) * page.zoom);
  page.marginTopY = RoundHalfEven(r * margins.top * page.zoom);
  page.marginBottomY = RoundHalfEven((h - r * margins.bottom) * page.zoom);
  return page;
}

bool PreviewRows(double clipTop, double clipBottom, double zoom, double top, int pitch, int linesPerPage,
                 int& first, int& last) {
  pitch = std::max(pitch, 1);
  first = std::max(static_cast<int>(std::trunc((clipTop / zoom - top) / pitch)), 0);
  last = std::min(static_cast<int>(std::trunc((clipBottom / zoom - top) / pitch)) + 1, linesPerPage - 1);
  return first <= last;
}

TPreviewMargin MarginAt(const TPreviewPlacement& page, int x, int y) {
  if (x == page.marginLeftX) return pmLeft;
  if (x == page.marginRightX) return pmRight;
  if (y == page.marginTopY) return pmTop;
  if (y == page.marginBottomY) return pmBottom;
  return pmNone;
}

int ClampDraggedMargin(const TPreviewPlacement& page, TPreviewMargin margin, int position) {
  switch (margin) {
    case pmLeft: return std::min(position, page.marginRightX - 3);
    case pmRight: return std::max(position, page.marginLeftX + 3);
    case pmTop: return std::min(position, page.marginBottomY - 3);
    case pmBottom: return std::max(position, page.marginTopY + 3);
    default: return position;
  }
}

double MarginFromPosition(const TPreviewPlacement& page, TPreviewMargin margin, int position, int logPixelsY) {
  const double scale = std::max(logPixelsY, 1) * page.zoom;
  switch (margin) {
    case pmLeft:
      position = std::clamp(std::min(position, page.marginRightX - 10), 0, page.width);
      return position / scale;
    case pmRight:
      position = std::clamp(std::max(position, page.marginLeftX + 10), 0, page.width);
      return (page.width - position) / scale;
    case pmTop:
      position = std::clamp(std::min(position, page.marginBottomY - 10), 0, page.height);
      return position / scale;
    case pmBottom:
      position = std::clamp(std::max(position, page.marginTopY + 10), 0, page.height);
      return (page.height - position) / scale;
    default: return 0;
  }
}

}  // namespace memo
