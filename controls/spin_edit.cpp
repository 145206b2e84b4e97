#include "controls/spin_edit.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "platform/gui/colors.h"
#include "platform/gui/messages.h"
#include "platform/runtime/cp1252.h"
#include "platform/runtime/format_settings.h"
#include "platform/runtime/sysutils.h"

namespace controls {
namespace {

constexpr int kButtonWidth = 13;
constexpr int kGaugeHeight = 8;

double Range(double min, double max) { return max - min > 0 ? max - min : 100; }

bool IsPasteOrCut(const QKeyEvent* e) {
  const auto mods = e->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier);
  return e->matches(QKeySequence::Paste) || e->matches(QKeySequence::Cut) ||
         (mods == Qt::ShiftModifier && (e->key() == Qt::Key_Insert || e->key() == Qt::Key_Delete)) ||
         (mods == Qt::ControlModifier && (e->key() == Qt::Key_V || e->key() == Qt::Key_X));
}

}  // namespace

// ---- gauge ----

TAGauge::TAGauge(TKelmSpinEdit* owner) : QWidget(owner), owner_(owner) {
  setCursor(Qt::ArrowCursor);
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void TAGauge::SetGuageColor(gui::TColor color) {
  if (color_ == color) return;
  color_ = color;
  update();
}

double TAGauge::ValueAt(int x) const {
  x += 1;
  const double range = owner_->MaxValue() - owner_->MinValue();
  // A gauge of two pixels or less has no bar to point into.
  if (range <= 0 || x <= 0 || width() <= 2) return owner_->MinValue();
  return owner_->MinValue() + x * range / (width() - 2);
}

QImage TAGauge::Background() const {
  QImage image(size(), QImage::Format_RGB32);
  image.fill(gui::ToQColor(owner_->Color));
  return image;
}

QImage TAGauge::Face() const {
  QImage face(size(), QImage::Format_RGB32);
  face.fill(gui::ToQColor(gui::clBtnShadow));
  QPainter p(&face);
  const QRect bar_area = rect().adjusted(1, 1, -1, -1);
  p.fillRect(bar_area, gui::ToQColor(owner_->Color));
  const double value = owner_->Value();
  const double fraction = (value - owner_->MinValue()) / Range(owner_->MinValue(), owner_->MaxValue());
  const int length = std::min(static_cast<int>(std::lround(fraction * (bar_area.width() - 1))), bar_area.width());
  if (length >= 1) p.fillRect(QRect(bar_area.left(), bar_area.top(), length, bar_area.height()), gui::ToQColor(color_));
  p.setPen(gui::ToQColor(gui::clBtnFace));
  p.setBrush(Qt::NoBrush);
  p.drawRect(rect().adjusted(0, 0, -1, -1));
  return face;
}

void TAGauge::paintEvent(QPaintEvent*) {
  if (width() <= 0 || height() <= 0) return;
  QImage image = Background();
  const QImage face = Face();
  for (int y = 0; y < image.height(); ++y) {
    auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
    const auto* over = reinterpret_cast<const QRgb*>(face.constScanLine(y));
    for (int x = 0; x < image.width(); ++x) line[x] = 0xFF000000u | ((line[x] ^ over[x]) & 0xFFFFFF);
  }
  QPainter(this).drawImage(0, 0, image);
}

void TAGauge::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  captured_ = true;
  owner_->SetValue(ValueAt(event->position().toPoint().x()));
  owner_->setFocus(Qt::MouseFocusReason);
}

void TAGauge::mouseMoveEvent(QMouseEvent* event) {
  if (captured_) owner_->SetValue(ValueAt(event->position().toPoint().x()));
}

void TAGauge::mouseReleaseEvent(QMouseEvent* event) {
  if (!captured_ || event->button() != Qt::LeftButton) return;
  owner_->SetValue(ValueAt(event->position().toPoint().x()));
  captured_ = false;
  if (owner_->AutoSelect) owner_->selectAll();
}

// ---- spin edit ----

TKelmSpinEdit::TKelmSpinEdit(QWidget* parent) : QLineEdit(parent) {
  panel_ = new QWidget(this);
  panel_->setAutoFillBackground(true);
  QPalette palette = panel_->palette();
  palette.setColor(QPalette::Window, gui::ToQColor(gui::clBtnFace));
  panel_->setPalette(palette);
  up_ = new QToolButton(panel_);
  down_ = new QToolButton(panel_);
  drop_ = new QToolButton(panel_);
  up_->setArrowType(Qt::UpArrow);
  down_->setArrowType(Qt::DownArrow);
  drop_->setArrowType(Qt::DownArrow);
  for (QToolButton* b : {up_, down_, drop_}) {
    b->setFocusPolicy(Qt::NoFocus);
    b->setAutoRepeat(b != drop_);
  }
  connect(up_, &QToolButton::clicked, this, [this] { Step(true); });
  connect(down_, &QToolButton::clicked, this, [this] { Step(false); });
  drop_->installEventFilter(this);
  gauge_ = new TAGauge(this);

  form_ = new QWidget(this, Qt::Popup | Qt::FramelessWindowHint);
  auto* layout = new QVBoxLayout(form_);
  layout->setContentsMargins(4, 4, 4, 4);
  slider_ = new QSlider(Qt::Horizontal, form_);
  slider_->setRange(0, 1000);
  slider_->setTickInterval(50);
  slider_->setTickPosition(QSlider::TicksAbove);
  slider_->setFocusPolicy(Qt::NoFocus);
  layout->addWidget(slider_);
  form_->installEventFilter(this);
  breadth_ = std::max(slider_->sizeHint().height() + 8, 20);

  connect(this, &QLineEdit::textChanged, this, [this] {
    gauge_->update();
    if (OnChange) OnChange();
  });
  setText(QString::fromStdString(FormatValue(0)));
  SetTrackBarOrientation(Qt::Horizontal);
  resize(121, MinimumHeight());
  PlaceParts();
}

TKelmSpinEdit::~TKelmSpinEdit() { gui::CancelPostedMessages(this); }

std::string TKelmSpinEdit::FormatValue(double value) const {
  char buffer[400];
  std::snprintf(buffer, sizeof buffer, "%.*f", precision_, value);
  std::string text = buffer;
  if (text == "-0" || (text.size() > 1 && text[0] == '-' && text.find_first_not_of("-0.") == std::string::npos))
    text.erase(0, 1);  // no negative zero
  const auto point = text.find('.');
  if (point != std::string::npos) text[point] = rtl::FormatSettings().DecimalSeparator;
  return text;
}

void TKelmSpinEdit::SetText(double value) {
  setText(QString::fromStdString(FormatValue(value)));
}

double TKelmSpinEdit::Value() {
  const std::string typed = rtl::Utf8ToCp1252(text().toStdString());
  if (rtl::Trim(typed).empty()) {
    setText("0");
    return 0;
  }
  double value = 0;
  if (!rtl::TryStrToFloat(typed, value) || !std::isfinite(value)) {
    SetText(min_);
    return min_;
  }
  return value;
}

double TKelmSpinEdit::CheckValue(double value) const {
  if (min_ == max_) return value;
  return std::clamp(value, std::min(min_, max_), std::max(min_, max_));
}

void TKelmSpinEdit::SetValue(double value) {
  if (value == Value()) return;
  SetText(CheckValue(value));
  if (form_->isVisible()) UpdateFormView();
  gauge_->update();
}

void TKelmSpinEdit::SetMinValue(double value) {
  if (value == min_) return;
  min_ = value;
  if (min_ != max_ && Value() < min_) SetValue(min_);  // equal limits: unbounded
  gauge_->update();
}

void TKelmSpinEdit::SetMaxValue(double value) {
  if (value == max_) return;
  max_ = value;
  if (min_ != max_ && Value() > max_) SetValue(max_);
  gauge_->update();
}

void TKelmSpinEdit::SetPrecision(int digits) {
  digits = std::clamp(digits, 0, 6);
  if (digits == precision_) return;
  const double value = Value();
  precision_ = digits;
  SetText(CheckValue(value));
}

void TKelmSpinEdit::SetTrackBarWidth(int pixels) { track_width_ = std::clamp(pixels, 50, 300); }

void TKelmSpinEdit::SetTrackBarOrientation(Qt::Orientation orientation) {
  orientation_ = orientation;
  slider_->setOrientation(orientation);
  // The track bar runs from the top down like the class library's vertical
  // one: value 0 at the top, so a value shows as the maximum minus it.
  slider_->setInvertedAppearance(orientation == Qt::Vertical);
  slider_->setTickPosition(QSlider::TicksAbove);
  drop_->setArrowType(orientation == Qt::Horizontal ? Qt::DownArrow : Qt::LeftArrow);
  if (orientation == Qt::Horizontal)
    form_->resize(track_width_, breadth_);
  else
    form_->resize(breadth_, track_width_);
}

void TKelmSpinEdit::Step(bool up) {
  setFocus(Qt::OtherFocusReason);
  const double value = Value();
  if (min_ == max_)  // unbounded
    SetValue(up ? value + Increment : value - Increment);
  else if (up)
    SetValue(value < max_ - Increment ? value + Increment : max_);
  else
    SetValue(value > min_ + Increment ? value - Increment : min_);
  gui::PostMessage(this, kUpdateMessage);
}

void TKelmSpinEdit::SelectAllUnlessHeld() {
  if (AutoSelect && !(QApplication::mouseButtons() & Qt::LeftButton)) selectAll();
}

bool TKelmSpinEdit::event(QEvent* event) {
  if (event->type() == gui::TMessageEvent::EventType() &&
      static_cast<gui::TMessageEvent*>(event)->Message().Msg == kUpdateMessage) {
    SelectAllUnlessHeld();
    gauge_->update();
    return true;
  }
  return QLineEdit::event(event);
}

// ---- editing ----

void TKelmSpinEdit::keyPressEvent(QKeyEvent* event) {
  if (IsPasteOrCut(event) && !MayEdit()) return;
  if (!EditorEnabled) {
    const bool edits = !event->text().isEmpty() && event->text()[0].isPrint();
    const bool erases = event->key() == Qt::Key_Backspace || event->key() == Qt::Key_Delete;
    if ((edits && !(event->modifiers() & Qt::ControlModifier)) || erases) return;
  }
  if (event->key() == Qt::Key_Up || event->key() == Qt::Key_Down) {
    Step(event->key() == Qt::Key_Up);
    return;
  }
  QLineEdit::keyPressEvent(event);
}

void TKelmSpinEdit::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::MiddleButton && !MayEdit()) return;
  QLineEdit::mousePressEvent(event);
}

void TKelmSpinEdit::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::MiddleButton && !MayEdit()) return;  // the selection paste
  QLineEdit::mouseReleaseEvent(event);
}

void TKelmSpinEdit::contextMenuEvent(QContextMenuEvent* event) {
  QMenu* menu = createStandardContextMenu();
  if (!MayEdit()) {
    for (QAction* action : menu->actions()) {
      const QString name = action->objectName();
      if (name == "edit-paste" || name == "edit-cut" || name == "edit-delete") action->setEnabled(false);
    }
  }
  menu->setAttribute(Qt::WA_DeleteOnClose);
  menu->popup(event->globalPos());
}

void TKelmSpinEdit::focusInEvent(QFocusEvent* event) {
  QLineEdit::focusInEvent(event);
  SelectAllUnlessHeld();
}

void TKelmSpinEdit::focusOutEvent(QFocusEvent* event) {
  const double value = Value();
  if (CheckValue(value) != value) SetValue(CheckValue(value));
  QLineEdit::focusOutEvent(event);
}

// ---- size ----

int TKelmSpinEdit::MinimumHeight() const {
  const int own = QFontMetrics(font()).height();
  const int system = QFontMetrics(QApplication::font()).height();
  const int i = std::min(own, system);
  return own + i / 4 + 4 * 1 + 2 + 8;
}

void TKelmSpinEdit::resizeEvent(QResizeEvent* event) {
  QLineEdit::resizeEvent(event);
  if (height() < MinimumHeight()) {
    resize(width(), MinimumHeight());
    return;
  }
  PlaceParts();
}

void TKelmSpinEdit::PlaceParts() {
  const int w = width(), h = height();
  const int panel_width = kButtonWidth * 2 + 3;
  const int panel_height = std::max(h - 11, 4);
  panel_->setGeometry(w - 4 - panel_width, 1, panel_width, panel_height);
  const int inner = panel_height - 2;
  up_->setGeometry(1, 1, kButtonWidth, inner / 2);
  down_->setGeometry(1, 1 + inner / 2, kButtonWidth, inner - inner / 2);
  drop_->setGeometry(kButtonWidth + 2, 1, kButtonWidth, inner);
  gauge_->setGeometry(0, h - 12, std::max(w - 4, 0), kGaugeHeight);
  setTextMargins(0, 0, panel_width + 4, 12);
}

// ---- drop-out track bar ----

void TKelmSpinEdit::UpdateFormView() {
  const double range = Range(min_, max_);
  const int position = std::clamp(static_cast<int>(std::lround((Value() - min_) * 1000 / range)), 0, 1000);
  if (orientation_ == Qt::Horizontal) {
    slider_->setValue(position);
    form_->resize(track_width_, breadth_);
  } else {
    slider_->setValue(slider_->maximum() - position);
    form_->resize(breadth_, track_width_);
  }
  if (!form_->isVisible()) form_->show();
}

void TKelmSpinEdit::DropPressed(QPoint global) {
  mouse_down_ = global;
  const QPoint corner = drop_->mapToGlobal(orientation_ == Qt::Horizontal ? QPoint(0, drop_->height()) : QPoint(drop_->width(), 0));
  UpdateFormView();
  // The thumb lands under the mouse.
  QStyleOptionSlider option;
  option.initFrom(slider_);
  option.orientation = slider_->orientation();
  option.minimum = slider_->minimum();
  option.maximum = slider_->maximum();
  option.sliderPosition = option.sliderValue = slider_->value();
  option.upsideDown = slider_->invertedAppearance() != (slider_->orientation() == Qt::Vertical);
  const QRect thumb = slider_->style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, slider_);
  if (orientation_ == Qt::Horizontal)
    form_->move(global.x() - thumb.left() - thumb.width() / 2 - 4, corner.y());
  else
    form_->move(corner.x(), global.y() - thumb.top() - thumb.height() / 2 - 4);
  dragging_ = true;
}

double TKelmSpinEdit::TrackValueAt(QPoint global) const {
  QStyleOptionSlider option;
  option.initFrom(slider_);
  option.orientation = slider_->orientation();
  option.minimum = slider_->minimum();
  option.maximum = slider_->maximum();
  const QRect groove = slider_->style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderGroove, slider_);
  const QRect thumb = slider_->style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, slider_);
  const QPoint at = slider_->mapFromGlobal(global);
  int offset, length;
  if (orientation_ == Qt::Horizontal) {
    length = groove.width() - thumb.width();
    offset = at.x() - groove.left() - thumb.width() / 2;
  } else {
    length = groove.height() - thumb.height();
    offset = groove.bottom() - thumb.height() / 2 - at.y();
  }
  if (length <= 0) return min_;  // no channel to drag along
  offset = std::clamp(offset, 0, length);
  return min_ + offset * (max_ - min_) / length;
}

bool TKelmSpinEdit::eventFilter(QObject* watched, QEvent* event) {
  if (watched != drop_ && watched != form_) return false;
  const auto type = event->type();
  if (type != QEvent::MouseButtonPress && type != QEvent::MouseMove && type != QEvent::MouseButtonRelease) return false;
  auto* mouse = static_cast<QMouseEvent*>(event);
  const QPoint global = mouse->globalPosition().toPoint();
  if (watched == drop_ && type == QEvent::MouseButtonPress && mouse->button() == Qt::LeftButton) {
    DropPressed(global);
    return false;
  }
  if (!dragging_) return false;
  if (type == QEvent::MouseMove && form_->isVisible()) {
    SetValue(TrackValueAt(global));
    return true;
  }
  if (type == QEvent::MouseButtonRelease && mouse->button() == Qt::LeftButton) {
    dragging_ = false;
    form_->hide();
    return watched == form_;
  }
  return false;
}

}  // namespace controls
