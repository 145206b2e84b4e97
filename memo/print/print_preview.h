// TFrmVMPrintPreview: the pages a TVellMemoPrinter would print, one at a
// time, at a chosen zoom, with buttons to print, to choose a printer and
// page range, to page through, and a margin mode in which the four margins
// are dragged with the mouse.
//
// The page image (PBPreview) is drawn by the printer's own page drawing at
// the zoom, with character positions from the printer's fonts, so the
// preview breaks and places every line as the paper will show it; header
// and footer included.
#pragma once

#include <QDialog>
#include <memory>

#include "memo/print_layout.h"
#include "platform/gui/dialogs.h"

class QComboBox;
class QLabel;
class QPushButton;
class QScrollArea;
class QToolButton;

namespace memo {

class TVellMemoPrinter;
class TPreviewPaintBox;

class TFrmVMPrintPreview : public QDialog {
public:
  explicit TFrmVMPrintPreview(QWidget* parent = nullptr);
  ~TFrmVMPrintPreview() override;

  TVellMemoPrinter* Printer() const { return printer_; }
  void SetPrinter(TVellMemoPrinter* printer) { printer_ = printer; }

  // ---- components ----
  QWidget* Panel1 = nullptr;
  QPushButton* BtnPrint = nullptr;
  QPushButton* BtnPrinterSetup = nullptr;
  QToolButton* BtnMargins = nullptr;
  QToolButton* BtnNextPage = nullptr;
  QToolButton* BtnPrevious = nullptr;
  QLabel* LblPage = nullptr;
  QPushButton* BtnClose = nullptr;
  QComboBox* cbZoom = nullptr;
  QScrollArea* sbPreview = nullptr;
  QWidget* PBPreview() const;

  // ---- handlers ----
  void FormShow();
  void SetLblPage();
  int CurrentPage() const { return current_page_; }
  void setCurrentPage(int page);
  void BtnNextPageClick() { setCurrentPage(current_page_ + 1); }
  void BtnPreviousClick() { setCurrentPage(current_page_ - 1); }
  void BtnPrintClick();
  void BtnPrinterSetupClick();
  void BtnMarginsClick();
  void cbZoomChange();
  void sbPreviewResize();
  void PBPreviewMouseDown(int x, int y);
  void PBPreviewMouseMove(int x, int y);
  void PBPreviewMouseUp(int x, int y);

  const TPreviewPlacement& Placement() const { return placement_; }
  TPreviewMargin Dragging() const { return dragging_; }
  // The print dialog of the setup button (made on first use).
  gui::TPrintDialog* PrintDialog() const { return print_dialog_.get(); }

protected:
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  friend class TPreviewPaintBox;
  void PBPreviewPaint(QPainter& painter, const QRect& clip);
  void PaintMargins(QPainter& painter);
  void UpdatePageButtons();
  int MarginPosition(TPreviewMargin margin) const;

  TVellMemoPrinter* printer_ = nullptr;
  TPreviewPaintBox* paint_box_ = nullptr;
  QWidget* page_host_ = nullptr;
  int current_page_ = 0;
  TPreviewPlacement placement_;
  TPreviewMargin dragging_ = pmNone;
  int drag_pos_ = 0;
  std::unique_ptr<gui::TPrintDialog> print_dialog_;
};

}  // namespace memo
