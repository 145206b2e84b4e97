#include "memo/print/memo_printer.h"

#include "memo/print/print_preview.h"
#include "platform/gui/printer.h"
#include "platform/gui/text.h"

namespace memo {
namespace {

TRect Shifted(TRect r, TPoint shift) {
  return {r.left + shift.x, r.top + shift.y, r.right + shift.x, r.bottom + shift.y};
}

}  // namespace

TVellMemoPrinter::TVellMemoPrinter(rtl::TComponent* owner) : rtl::TComponent(owner) {}

TVellMemoPrinter::~TVellMemoPrinter() { FreeFormattingMemo(); }

// ---- properties ----

void TVellMemoPrinter::setVellMemo(TVellMemo* memo) {
  if (memo != memo_) {
    if (memo_) memo_->RemoveFreeNotification(this);
    memo_ = memo;
    // Told when the memo goes, whoever owns it.
    if (memo_) memo_->FreeNotification(this);
  }
  FreeFormattingMemo();
}

void TVellMemoPrinter::setLeftMargin(double inches) {
  if (inches == margins_.left) return;
  margins_.left = inches;
  layout_valid_ = false;
}

void TVellMemoPrinter::setRightMargin(double inches) {
  if (inches == margins_.right) return;
  margins_.right = inches;
  layout_valid_ = false;
}

void TVellMemoPrinter::setTopMargin(double inches) {
  if (inches == margins_.top) return;
  margins_.top = inches;
  setLineSpacing(line_spacing_);
}

void TVellMemoPrinter::setBottomMargin(double inches) {
  if (inches == margins_.bottom) return;
  margins_.bottom = inches;
  setLineSpacing(line_spacing_);
}

void TVellMemoPrinter::setLineSpacing(double value) {
  line_spacing_ = value;
  if (formatting_ && layout_valid_) Paginate();
}

void TVellMemoPrinter::setPlainText(bool value) {
  if (value == plain_text_) return;
  plain_text_ = value;
  FreeFormattingMemo();
}

void TVellMemoPrinter::Notification(rtl::TComponent* component, rtl::TOperation operation) {
  rtl::TComponent::Notification(component, operation);
  if (operation == rtl::opRemove && component && component == memo_) {
    memo_ = nullptr;
    FreeFormattingMemo();
  }
}

// ---- layout ----

void TVellMemoPrinter::FreeFormattingMemo() {
  painter_.reset();
  formatting_.reset();
  layout_valid_ = false;
}

void TVellMemoPrinter::ReadMetrics(TPrinterMetrics& m) const {
  const gui::TPrinter& printer = gui::Printer();
  m.physicalWidth = printer.GetDeviceCaps(gui::PHYSICALWIDTH);
  m.physicalHeight = printer.GetDeviceCaps(gui::PHYSICALHEIGHT);
  m.physicalOffsetX = printer.GetDeviceCaps(gui::PHYSICALOFFSETX);
  m.physicalOffsetY = printer.GetDeviceCaps(gui::PHYSICALOFFSETY);
  m.horzRes = printer.GetDeviceCaps(gui::HORZRES);
  m.vertRes = printer.GetDeviceCaps(gui::VERTRES);
  m.logPixelsX = printer.GetDeviceCaps(gui::LOGPIXELSX);
  m.logPixelsY = printer.GetDeviceCaps(gui::LOGPIXELSY);
}

void TVellMemoPrinter::BuildFormattingMemo() {
  formatting_ = std::make_unique<TVellMemo>();
  TVellMemo& f = *formatting_;
  const TVellMemo& source = *memo_;
  f.SetUpdateMode(umOnNeed);
  f.SetStaticFormat(source.StaticFormat());
  f.SetAlignment(source.Alignment());
  f.SetAltFont(source.AltFont());
  f.setDelimiters(source.Delimiters());
  f.SetJustified(source.Justified());
  f.SetFont(source.Font());
  f.SetTabStops(source.TabStops());
  f.SetWordWrap(source.WordWrap());
  f.SetLeftMargin(0);
  f.SetRightMargin(0);
  f.SetUpperCaseType(source.UpperCaseType());
  f.SetHighlightColor(source.HighlightColor());
  f.SetHighlightBackgnd(source.HighlightBackgnd());
  f.SetApplyKeywords(!plain_text_ && source.ApplyKeywords());
  f.SetApplyStartStopKeys(!plain_text_ && source.ApplyStartStopKeys());
  f.SetText(selection_mode_ ? memo_->getSelText() : memo_->GetText());
  layout_valid_ = false;
}

void TVellMemoPrinter::FormatPrint() {
  if (!memo_) return;
  TPrinterMetrics now;
  ReadMetrics(now);
  // Another printer or paper lays the text out again.
  if (!(now == metrics_)) layout_valid_ = false;
  if (!formatting_) BuildFormattingMemo();
  if (!layout_valid_) {
    metrics_ = now;
    TVellMemo& f = *formatting_;
    painter_.reset();
    // The source's highlighting, as it is now.
    f.Keywords().Assign(&memo_->Keywords());
    TStartStopKeyList& pairs = f.StartStopKeys();
    pairs.Clear();
    for (int i = 0; i < memo_->StartStopKeys().Count(); ++i) {
      const TStartStopKey& k = memo_->StartStopKeys().Pair(i);
      pairs.AddStartStopKey(k.startText, k.stopText, k.options, k.styles, k.context, k.cursor, k.background,
                            k.foreground, k.finalFlag);
    }
    f.SetHighlighter(plain_text_ ? nullptr : memo_->Highlighter());
    f.OnProgress = nullptr;
    if (OnFormatPrint) OnFormatPrint(&f);
    f.ReApplyKeywords();
    fonts_.Update(f.Font(), f.AltFont(), metrics_.logPixelsY);
    line_height_ = fonts_.MainFont().Metrics().tmHeight;
    f.OnProgress = [this](TVellMemo* sender) {
      if (OnFormatPrint) OnFormatPrint(sender);
    };
    f.FormatText(&fonts_, FormattingWidth());
    f.OnProgress = nullptr;
    f.SetHighlighter(nullptr);
    painter_ = std::make_unique<TPrintPainter>(f, fonts_, FormattingWidth());
    layout_valid_ = true;
    form_feeds_.clear();
    for (int p = 0; p < f.GetParCount(); ++p) {
      const ParInfo& par = *f.Pars().At(p);
      if (par.length > 0 && par.text[0] == 12) form_feeds_.push_back(f.ParFirstLine(p));
    }
  }
  Paginate();
}

void TVellMemoPrinter::Paginate() {
  pitch_ = LinePitch(line_spacing_, metrics_.logPixelsY, line_height_);
  pagination_.Compute(formatting_ ? formatting_->LineCount() : 0, form_feeds_,
                      memo::LinesPerPage(metrics_, margins_, pitch_));
}

// ---- printing ----

void TVellMemoPrinter::RequireMemo() const {
  if (!memo_) throw rtl::Exception("No memo to print");
}

void TVellMemoPrinter::LeaveSelectionMode() {
  if (!selection_mode_) return;
  selection_mode_ = false;
  FreeFormattingMemo();
}

void TVellMemoPrinter::Print() {
  RequireMemo();
  LeaveSelectionMode();
  FormatPrint();
  PrintPages(0, PageCount() - 1);
}

void TVellMemoPrinter::PrintSelection() {
  RequireMemo();
  if (!selection_mode_) {
    FreeFormattingMemo();
    selection_mode_ = true;
  }
  try {
    FormatPrint();
    PrintPages(0, PageCount() - 1);
  } catch (...) {
    LeaveSelectionMode();
    throw;
  }
  // Whatever prints or previews next prints the whole text again.
  LeaveSelectionMode();
}

void TVellMemoPrinter::PrintFromDialog(const gui::TPrintDialog& dialog) {
  switch (dialog.PrintRange) {
    case gui::prSelection: PrintSelection(); break;
    case gui::prPageNums: PrintRange(dialog.FromPage - 1, dialog.ToPage - 1); break;
    default: Print(); break;
  }
}

void TVellMemoPrinter::PrintRange(int firstPage, int lastPage) {
  RequireMemo();
  LeaveSelectionMode();
  PrintPages(firstPage, lastPage);
}

void TVellMemoPrinter::PrintPages(int firstPage, int lastPage) {
  abort_ = false;
  FormatPrint();
  firstPage = std::max(firstPage, 0);
  lastPage = std::min(lastPage, PageCount() - 1);
  if (firstPage > lastPage) return;
  gui::TPrinter& printer = gui::Printer();
  printer.BeginDoc();
  try {
    bool printed = false;
    for (int page = firstPage; page <= lastPage; ++page) {
      current_page_ = page;
      if (OnProgress) OnProgress(this);
      if (abort_) break;
      if (printed) printer.NewPage();
      DrawPage(printer.Canvas(), page, 1.0);
      printed = true;
    }
  } catch (...) {
    current_page_ = -1;
    printer.Abort();
    throw;
  }
  current_page_ = -1;
  printer.EndDoc();
  if (OnProgress) OnProgress(this);
}

void TVellMemoPrinter::DrawPageTexts(QPainter& painter, int page, double zoom, TPoint shift) {
  if (!Header.empty())
    DrawPageText(painter, Shifted(HeaderRect(metrics_, margins_, HeaderYPos), shift), PageText(Header, page),
                 header_font_, HeaderAlign, metrics_.logPixelsY, zoom);
  if (!Footer.empty())
    DrawPageText(painter, Shifted(FooterRect(metrics_, margins_, FooterYPos), shift), PageText(Footer, page),
                 footer_font_, FooterAlign, metrics_.logPixelsY, zoom);
}

void TVellMemoPrinter::DrawRows(QPainter& painter, int page, int firstRow, int lastRow, double zoom, TPoint shift) {
  if (!painter_ || !LayoutValid()) return;
  const TPoint origin = PrintOrigin(metrics_, margins_);
  const int lpp = LinesPerPage();
  firstRow = std::max(firstRow, 0);
  lastRow = std::min(lastRow, lpp - 1);
  if (firstRow > lastRow) return;
  const long long top = static_cast<long long>(page) * lpp;
  if (top + lastRow > 2147483647LL) return;
  painter_->DrawPrintLines(painter, pagination_, static_cast<int>(top + firstRow), static_cast<int>(top + lastRow),
                           origin.x + shift.x, origin.y + shift.y + static_cast<double>(firstRow) * pitch_, pitch_,
                           zoom);
}

void TVellMemoPrinter::DrawPage(QPainter& painter, int page, double zoom, TPoint shift) {
  DrawPageTexts(painter, page, zoom, shift);
  DrawRows(painter, page, 0, LinesPerPage() - 1, zoom, shift);
}

void TVellMemoPrinter::Preview() {
  RequireMemo();
  LeaveSelectionMode();
  TFrmVMPrintPreview form;
  form.setWindowTitle(gui::ToQString(PreviewTitle));
  form.SetPrinter(this);
  if (OnPreview) OnPreview(&form);
  gui::DialogRunner().ShowModal(form);
}

}  // namespace memo
