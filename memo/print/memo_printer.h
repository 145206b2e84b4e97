// TVellMemoPrinter: prints the text of a memo, or its selection, on the
// shared printer with margins in inches, a line spacing, a header and a
// footer (the first "{p}" in them becomes the page number), page breaks
// before paragraphs that begin with a form feed (12), and a print preview.
//
// The text is copied into a private, hidden memo that is laid out with the
// printer's fonts to the formatting width (paper less the side margins);
// the pagination then maps print lines (page * lines per page + row) to
// its display lines. The private memo is rebuilt when MemoToPrint or
// PlainText is set and re-laid-out when the side margins or the printer
// change; the top and bottom margins and the line spacing only
// repaginate. Only PrintSelection prints the selection.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "memo/memo_types.h"
#include "memo/print/print_painter.h"
#include "memo/print_layout.h"
#include "memo/vell_memo.h"
#include "platform/gui/dialogs.h"
#include "platform/runtime/classes.h"

namespace memo {

class TFrmVMPrintPreview;

class TVellMemoPrinter : public rtl::TComponent {
public:
  explicit TVellMemoPrinter(rtl::TComponent* owner = nullptr);
  ~TVellMemoPrinter() override;
  std::string ClassName() const override { return "TVellMemoPrinter"; }

  // ---- properties ----
  TVellMemo* MemoToPrint() const { return memo_; }
  // Frees the private memo whether or not the memo changed.
  void setVellMemo(TVellMemo* memo);
  double MarginLeft() const { return margins_.left; }
  double MarginRight() const { return margins_.right; }
  double MarginTop() const { return margins_.top; }
  double MarginBottom() const { return margins_.bottom; }
  void setLeftMargin(double inches);
  void setRightMargin(double inches);
  void setTopMargin(double inches);
  void setBottomMargin(double inches);
  const TPrintMargins& Margins() const { return margins_; }
  // 0 or more: a pitch in inches; negative: a multiple of the line height.
  double LineSpacing() const { return line_spacing_; }
  void setLineSpacing(double value);
  std::string Header;
  std::string Footer;
  double HeaderYPos = 0.4;
  double FooterYPos = 0.4;
  TAlignment HeaderAlign = taLeftJustify;
  TAlignment FooterAlign = taLeftJustify;
  const TMemoFont& HeaderFont() const { return header_font_; }
  void SetHeaderFont(const TMemoFont& font) { header_font_ = font; }
  const TMemoFont& FooterFont() const { return footer_font_; }
  void SetFooterFont(const TMemoFont& font) { footer_font_ = font; }
  bool PlainText() const { return plain_text_; }
  void setPlainText(bool value);
  std::string PreviewTitle;

  // Sender: the private memo (before the layout and for its progress).
  std::function<void(TVellMemo* sender)> OnFormatPrint;
  // Before each page and once after the last.
  std::function<void(TVellMemoPrinter* sender)> OnProgress;
  // With the preview form, before it is shown.
  std::function<void(TFrmVMPrintPreview* sender)> OnPreview;

  // ---- operations ----
  // Lays the text out and paginates; does nothing without a memo.
  void FormatPrint();
  // Each raises rtl::Exception "No memo to print" without a memo.
  void Print();
  void PrintSelection();
  void PrintFromDialog(const gui::TPrintDialog& dialog);
  // Pages by index from 0; pages beyond the text are left out, and nothing
  // is started when no page remains.
  void PrintRange(int firstPage, int lastPage);
  // The job ends after the current page (EndDoc still runs).
  void AbortPrint() { abort_ = true; }
  void Preview();

  // ---- layout, for the preview ----
  int PrintLineToMemoLine(int printLine) const { return pagination_.PrintLineToMemoLine(printLine); }
  bool LayoutValid() const { return formatting_ && layout_valid_; }
  bool SelectionMode() const { return selection_mode_; }
  // -1 when not printing.
  int CurrentPage() const { return current_page_; }
  int PageCount() const { return pagination_.PageCount(); }
  int LinesPerPage() const { return pagination_.LinesPerPage(); }
  int Pitch() const { return pitch_; }
  int PrinterLineHeight() const { return line_height_; }
  const TPrinterMetrics& Metrics() const { return metrics_; }
  const TPagination& Pagination() const { return pagination_; }
  TVellMemo* FormattingMemo() const { return formatting_.get(); }
  int FormattingWidth() const { return memo::FormattingWidth(metrics_, margins_); }
  // Draws a page (header, footer and lines) as the printer does, scaled by
  // zoom; shift (printer pixels) is added to every printer-canvas
  // coordinate (the preview passes the unprintable border, so that its
  // picture shows the whole paper). The preview and the printer both use it.
  void DrawPage(QPainter& painter, int page, double zoom, TPoint shift = {});
  // Header and footer only.
  void DrawPageTexts(QPainter& painter, int page, double zoom, TPoint shift = {});
  // The print lines of rows firstRow .. lastRow of a page.
  void DrawRows(QPainter& painter, int page, int firstRow, int lastRow, double zoom, TPoint shift = {});

  void Notification(rtl::TComponent* component, rtl::TOperation operation) override;

private:
  void RequireMemo() const;
  void FreeFormattingMemo();
  void BuildFormattingMemo();
  void Paginate();
  void ReadMetrics(TPrinterMetrics& m) const;
  void LeaveSelectionMode();
  void PrintPages(int firstPage, int lastPage);

  TVellMemo* memo_ = nullptr;
  TPrintMargins margins_;
  double line_spacing_ = -1.5;
  TMemoFont header_font_;
  TMemoFont footer_font_;
  bool plain_text_ = false;

  std::unique_ptr<TVellMemo> formatting_;
  TDeviceFonts fonts_;
  std::unique_ptr<TPrintPainter> painter_;
  bool layout_valid_ = false;
  bool selection_mode_ = false;
  bool abort_ = false;
  int current_page_ = -1;
  int line_height_ = 0;
  int pitch_ = 1;
  TPrinterMetrics metrics_;
  std::vector<int> form_feeds_;
  TPagination pagination_;
};

}  // namespace memo
