#include "memo/print/print_preview.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QToolButton>
#include <QVBoxLayout>
#include <array>
#include <cmath>

#include "memo/print/memo_printer.h"
#include "platform/gui/fonts.h"
#include "platform/gui/printer.h"

namespace memo {

// The page image: paints through the form and hands its mouse to it.
class TPreviewPaintBox : public QWidget {
public:
  TPreviewPaintBox(TFrmVMPrintPreview* form, QWidget* parent) : QWidget(parent), form_(form) {
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
  }

protected:
  void paintEvent(QPaintEvent* event) override {
    QPainter painter(this);
    form_->PBPreviewPaint(painter, event->rect());
  }
  void mousePressEvent(QMouseEvent* event) override {
    if (event->button() == Qt::LeftButton) form_->PBPreviewMouseDown(event->position().x(), event->position().y());
  }
  void mouseMoveEvent(QMouseEvent* event) override {
    form_->PBPreviewMouseMove(event->position().x(), event->position().y());
  }
  void mouseReleaseEvent(QMouseEvent* event) override {
    if (event->button() == Qt::LeftButton) form_->PBPreviewMouseUp(event->position().x(), event->position().y());
  }

private:
  TFrmVMPrintPreview* form_;
};

TFrmVMPrintPreview::TFrmVMPrintPreview(QWidget* parent) : QDialog(parent) {
  setObjectName("FrmVMPrintPreview");
  resize(648, 575);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);

  Panel1 = new QWidget(this);
  Panel1->setFixedHeight(49);
  auto* bar = new QHBoxLayout(Panel1);
  BtnPrint = new QPushButton(QStringLiteral("&Print"), Panel1);
  BtnPrinterSetup = new QPushButton(QStringLiteral("Print &Setup..."), Panel1);
  BtnMargins = new QToolButton(Panel1);
  BtnMargins->setText(QStringLiteral("&Margins"));
  BtnMargins->setCheckable(true);
  BtnPrevious = new QToolButton(Panel1);
  BtnPrevious->setArrowType(Qt::LeftArrow);
  BtnPrevious->setToolTip(QStringLiteral("Previous page"));
  BtnPrevious->setEnabled(false);
  LblPage = new QLabel(Panel1);
  BtnNextPage = new QToolButton(Panel1);
  BtnNextPage->setArrowType(Qt::RightArrow);
  BtnNextPage->setToolTip(QStringLiteral("Next page"));
  cbZoom = new QComboBox(Panel1);
  for (int i = 0; i < kPreviewZoomCount; ++i) cbZoom->addItem(QString::fromLatin1(PreviewZoomCaption(i)));
  BtnClose = new QPushButton(QStringLiteral("&Close"), Panel1);
  for (QWidget* w : {static_cast<QWidget*>(BtnPrint), static_cast<QWidget*>(BtnPrinterSetup),
                     static_cast<QWidget*>(BtnMargins), static_cast<QWidget*>(BtnPrevious), static_cast<QWidget*>(LblPage),
                     static_cast<QWidget*>(BtnNextPage), static_cast<QWidget*>(cbZoom)})
    bar->addWidget(w);
  bar->addStretch(1);
  bar->addWidget(BtnClose);
  layout->addWidget(Panel1);

  sbPreview = new QScrollArea(this);
  sbPreview->setBackgroundRole(QPalette::Dark);
  sbPreview->setWidgetResizable(false);
  page_host_ = new QWidget;
  page_host_->setAutoFillBackground(false);
  paint_box_ = new TPreviewPaintBox(this, page_host_);
  sbPreview->setWidget(page_host_);
  sbPreview->viewport()->installEventFilter(this);
  layout->addWidget(sbPreview, 1);

  connect(BtnPrint, &QPushButton::clicked, this, [this] { BtnPrintClick(); });
  connect(BtnPrinterSetup, &QPushButton::clicked, this, [this] { BtnPrinterSetupClick(); });
  connect(BtnMargins, &QToolButton::clicked, this, [this] { BtnMarginsClick(); });
  connect(BtnNextPage, &QToolButton::clicked, this, [this] { BtnNextPageClick(); });
  connect(BtnPrevious, &QToolButton::clicked, this, [this] { BtnPreviousClick(); });
  connect(BtnClose, &QPushButton::clicked, this, [this] { done(gui::mrCancel); });
  connect(cbZoom, &QComboBox::currentIndexChanged, this, [this] { cbZoomChange(); });
  connect(cbZoom, &QComboBox::activated, this, [this] { cbZoomChange(); });
}

TFrmVMPrintPreview::~TFrmVMPrintPreview() = default;

QWidget* TFrmVMPrintPreview::PBPreview() const { return paint_box_; }

void TFrmVMPrintPreview::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  FormShow();
}

bool TFrmVMPrintPreview::eventFilter(QObject* watched, QEvent* event) {
  if (watched == sbPreview->viewport() && event->type() == QEvent::Resize) sbPreviewResize();
  return QDialog::eventFilter(watched, event);
}

// ---- pages ----

void TFrmVMPrintPreview::FormShow() {
  if (!printer_) return;
  printer_->FormatPrint();
  {
    const QSignalBlocker block(cbZoom);
    cbZoom->setCurrentIndex(pz100);
  }
  cbZoomChange();
  SetLblPage();
  UpdatePageButtons();
}

void TFrmVMPrintPreview::SetLblPage() {
  const int count = printer_ ? printer_->PageCount() : 1;
  LblPage->setText(QStringLiteral("Page %1/%2").arg(current_page_ + 1).arg(count));
}

void TFrmVMPrintPreview::UpdatePageButtons() {
  const int count = printer_ ? printer_->PageCount() : 1;
  BtnNextPage->setEnabled(current_page_ < count - 1);
  BtnPrevious->setEnabled(current_page_ > 0);
}

void TFrmVMPrintPreview::setCurrentPage(int page) {
  const int count = printer_ ? printer_->PageCount() : 1;
  if (page >= count) page = count - 1;
  if (page < 0) page = 0;
  if (page == current_page_) return;
  current_page_ = page;
  SetLblPage();
  paint_box_->update();
  UpdatePageButtons();
}

// ---- buttons ----

void TFrmVMPrintPreview::BtnPrintClick() {
  if (!printer_) return;
  try {
    printer_->Print();
  } catch (const rtl::Exception& e) {
    gui::DialogRunner().ShowMessage(this, e.Message());
    return;
  }
  done(gui::mrYes);
}

void TFrmVMPrintPreview::BtnPrinterSetupClick() {
  if (!printer_) return;
  const gui::TPrinter& device = gui::Printer();
  const auto deviceMetrics = [&] {
    return std::array<int, 4>{device.GetDeviceCaps(gui::PHYSICALWIDTH), device.GetDeviceCaps(gui::PHYSICALHEIGHT),
                              device.GetDeviceCaps(gui::LOGPIXELSY), device.GetDeviceCaps(gui::LOGPIXELSX)};
  };
  const std::array<int, 4> before = deviceMetrics();
  if (!print_dialog_) {
    print_dialog_ = std::make_unique<gui::TPrintDialog>();
    print_dialog_->Options.pageNums = true;
    print_dialog_->Options.selection = true;
    print_dialog_->MinPage = 1;
  }
  print_dialog_->MaxPage = printer_->PageCount();
  print_dialog_->Parent = this;
  const bool confirmed = print_dialog_->Execute();
  if (deviceMetrics() != before) {
    printer_->setVellMemo(printer_->MemoToPrint());
    cbZoomChange();
    setCurrentPage(current_page_);
    SetLblPage();
    UpdatePageButtons();
  }
  if (!confirmed) return;
  try {
    printer_->PrintFromDialog(*print_dialog_);
  } catch (const rtl::Exception& e) {
    gui::DialogRunner().ShowMessage(this, e.Message());
  }
  sbPreviewResize();
}

void TFrmVMPrintPreview::BtnMarginsClick() {
  paint_box_->update();
  PBPreviewMouseMove(0, 0);
}

// ---- zoom and placement ----

void TFrmVMPrintPreview::cbZoomChange() {
  sbPreview->horizontalScrollBar()->setValue(0);
  sbPreview->verticalScrollBar()->setValue(0);
  sbPreviewResize();
}

void TFrmVMPrintPreview::sbPreviewResize() {
  if (!printer_) return;
  printer_->FormatPrint();
  if (!printer_->LayoutValid()) return;
  const int item = cbZoom->currentIndex() < 0 ? pz100 : cbZoom->currentIndex();
  const QSize client = sbPreview->viewport()->size();
  placement_ = PlacePreviewPage(item, gui::kScreenDpi, printer_->Metrics(), printer_->Margins(), client.width(),
                                client.height());
  paint_box_->setGeometry(placement_.left, placement_.top, placement_.width, placement_.height);
  page_host_->resize(std::max(client.width(), placement_.left + placement_.width + 10),
                     std::max(client.height(), placement_.top + placement_.height + 10));
  paint_box_->update();
}

// ---- painting ----

void TFrmVMPrintPreview::PBPreviewPaint(QPainter& painter, const QRect& clip) {
  painter.fillRect(clip, Qt::white);
  if (!printer_) return;
  printer_->FormatPrint();
  if (!printer_->LayoutValid()) return;
  const TPrinterMetrics& m = printer_->Metrics();
  const double zoom = placement_.zoom;
  const int w = paint_box_->width(), h = paint_box_->height();
  // Nothing is drawn on the unprintable border.
  QRegion region(clip);
  region -= QRect(0, 0, static_cast<int>(std::trunc(m.physicalOffsetX * zoom)), h);
  region -= QRect(0, 0, w, static_cast<int>(std::trunc(m.physicalOffsetY * zoom)));
  const int bottom = static_cast<int>(std::trunc((m.vertRes + m.physicalOffsetY) * zoom)) + 1;
  const int right = static_cast<int>(std::trunc((m.horzRes + m.physicalOffsetX) * zoom)) + 1;
  region -= QRect(0, bottom, w, std::max(h - bottom, 0));
  region -= QRect(right, 0, std::max(w - right, 0), h);
  painter.save();
  painter.setClipRegion(region);
  const TPoint shift{m.physicalOffsetX, m.physicalOffsetY};
  printer_->DrawPageTexts(painter, current_page_, zoom, shift);
  int first, last;
  if (PreviewRows(clip.top(), clip.bottom() + 1, zoom, m.logPixelsY * printer_->MarginTop(), printer_->Pitch(),
                  printer_->LinesPerPage(), first, last))
    printer_->DrawRows(painter, current_page_, first, last, zoom, shift);
  painter.restore();
  if (BtnMargins->isChecked()) PaintMargins(painter);
  if (dragging_ != pmNone) {
    painter.save();
    painter.setPen(QPen(Qt::gray, 1, Qt::DotLine));
    if (dragging_ == pmLeft || dragging_ == pmRight) painter.drawLine(drag_pos_, 0, drag_pos_, h);
    else painter.drawLine(0, drag_pos_, w, drag_pos_);
    painter.restore();
  }
}

void TFrmVMPrintPreview::PaintMargins(QPainter& painter) {
  const int w = paint_box_->width(), h = paint_box_->height();
  painter.save();
  painter.setPen(QPen(Qt::black, 1, Qt::DashLine));
  painter.drawLine(placement_.marginLeftX, 0, placement_.marginLeftX, h);
  painter.drawLine(placement_.marginRightX, 0, placement_.marginRightX, h);
  painter.drawLine(0, placement_.marginTopY, w, placement_.marginTopY);
  painter.drawLine(0, placement_.marginBottomY, w, placement_.marginBottomY);
  painter.restore();
}

// ---- margin dragging ----

int TFrmVMPrintPreview::MarginPosition(TPreviewMargin margin) const {
  switch (margin) {
    case pmLeft: return placement_.marginLeftX;
    case pmRight: return placement_.marginRightX;
    case pmTop: return placement_.marginTopY;
    case pmBottom: return placement_.marginBottomY;
    default: return 0;
  }
}

void TFrmVMPrintPreview::PBPreviewMouseDown(int x, int y) {
  if (!BtnMargins->isChecked()) return;
  dragging_ = MarginAt(placement_, x, y);
  if (dragging_ == pmNone) return;
  drag_pos_ = dragging_ == pmLeft || dragging_ == pmRight ? x : y;
  paint_box_->update();
}

void TFrmVMPrintPreview::PBPreviewMouseMove(int x, int y) {
  // Kept within the form's client area.
  QPoint at = paint_box_->mapTo(this, QPoint(x, y));
  at.setX(std::clamp(at.x(), 0, std::max(width() - 1, 0)));
  at.setY(std::clamp(at.y(), 0, std::max(height() - 1, 0)));
  at = paint_box_->mapFrom(this, at);
  if (!BtnMargins->isChecked()) {
    paint_box_->setCursor(Qt::ArrowCursor);
    return;
  }
  if (dragging_ == pmNone) {
    const TPreviewMargin over = MarginAt(placement_, at.x(), at.y());
    paint_box_->setCursor(over == pmLeft || over == pmRight   ? Qt::SizeHorCursor
                          : over == pmTop || over == pmBottom ? Qt::SizeVerCursor
                                                              : Qt::ArrowCursor);
    return;
  }
  const int pos = dragging_ == pmLeft || dragging_ == pmRight ? at.x() : at.y();
  drag_pos_ = ClampDraggedMargin(placement_, dragging_, pos);
  paint_box_->update();
}

void TFrmVMPrintPreview::PBPreviewMouseUp(int x, int y) {
  if (dragging_ == pmNone) return;
  const TPreviewMargin margin = dragging_;
  dragging_ = pmNone;
  x = std::clamp(x, 0, placement_.width);
  y = std::clamp(y, 0, placement_.height);
  const int pos = margin == pmLeft || margin == pmRight ? x : y;
  paint_box_->update();
  if (!printer_ || pos == MarginPosition(margin)) return;
  const double inches = MarginFromPosition(placement_, margin, pos, printer_->Metrics().logPixelsY);
  switch (margin) {
    case pmLeft: printer_->setLeftMargin(inches); break;
    case pmRight: printer_->setRightMargin(inches); break;
    case pmTop: printer_->setTopMargin(inches); break;
    case pmBottom: printer_->setBottomMargin(inches); break;
    default: break;
  }
  cbZoomChange();
  setCurrentPage(current_page_);
  SetLblPage();
  UpdatePageButtons();
}

}  // namespace memo
