#include "controls/tab_sheet.h"

#include <QPainter>
#include <QPaintEvent>
#include <algorithm>

#include "controls/change_view.h"
#include "controls/page_control.h"
#include "controls/pixels.h"
#include "platform/gui/messages.h"

namespace controls {

TKelmTabSheet::TKelmTabSheet(QWidget* parent) : QWidget(parent) {
  for (QImage& work : work_) {
    work = QImage(kGlyphSize, kGlyphSize, QImage::Format_RGB32);
    work.fill(Qt::black);
  }
}

TKelmPageControl* TKelmTabSheet::PageControl() const {
  for (QWidget* w = parentWidget(); w; w = w->parentWidget())
    if (auto* control = dynamic_cast<TKelmPageControl*>(w)) return control->PageIndexOf(this) >= 0 ? control : nullptr;
  return nullptr;
}

// ---- properties ----

void TKelmTabSheet::SetGlyph(TGlyphKind kind, const QImage& picture) {
  glyphs_[kind] = picture;
  QImage& work = work_[kind];
  work.fill(Qt::black);
  if (!picture.isNull()) {
    QPainter p(&work);
    p.setCompositionMode(QPainter::CompositionMode_Source);
    p.drawImage(QPoint(0, 0), picture.convertToFormat(QImage::Format_RGB32),
                QRect(0, 0, std::min(kGlyphSize, picture.width()), std::min(kGlyphSize, picture.height())));
  }
  if (TKelmPageControl* control = PageControl()) control->UpdateGlyphs();
}

void TKelmTabSheet::SetBackgroundBitmap(const QImage& picture) {
  picture_ = picture;
  ImageChange();
}

void TKelmTabSheet::SetBackgroundStyle(TBackgroundStyle value) {
  background_style_ = value;
  ImageChange();
}

void TKelmTabSheet::SetTransparent(bool value) {
  transparent_ = value;
  ImageChange();
}

void TKelmTabSheet::SetTransparentLevel(int value) {
  level_ = std::clamp(value, 0, 100);
  if (transparent_) ImageChange();
}

void TKelmTabSheet::SetHotTrackCloudColor(TColor value) {
  cloud_color_ = value;
  InvalidateFull();
}

TColor TKelmTabSheet::Color() const {
  if (parent_color_)
    if (TKelmPageControl* control = PageControl()) return control->Color();
  return color_;
}

void TKelmTabSheet::SetColor(TColor value) {
  color_ = value;
  parent_color_ = false;
  if (transparent_) DropBuffer();
  InvalidateFull();
}

void TKelmTabSheet::SetParentColor(bool value) {
  parent_color_ = value;
  if (transparent_) DropBuffer();
  InvalidateFull();
}

// ---- background ----

bool TKelmTabSheet::SeeThrough() const { return transparent_ && PageControl(); }

void TKelmTabSheet::DrawPicture(QImage& target) const {
  QPainter p(&target);
  if (background_style_ == bgsTailed) {
    for (int y = 0; y < target.height(); y += picture_.height())
      for (int x = 0; x < target.width(); x += picture_.width()) p.drawImage(x, y, picture_);
  } else {
    p.drawImage(QRect(2, 2, target.width() - 4, target.height() - 4), picture_);
  }
}

const QImage* TKelmTabSheet::RefreshBuffer() {
  TKelmPageControl* control = PageControl();
  if (picture_.isNull() && !(transparent_ && control)) return nullptr;
  const QSize size = control ? control->size() : this->size();
  if (!buffer_.isNull() && buffer_.size() == size) return &buffer_;
  if (size.isEmpty()) return nullptr;
  buffer_ = QImage(size, QImage::Format_RGB32);
  buffer_.fill(gui::ToQColor(Color()));  // the margin around a stretched picture
  ++compositions_;
  if (transparent_ && control) {
    QPainter(&buffer_).drawImage(0, 0, control->ValidateParentImage());
    if (level_ < 100) ProcessTransparentLevel();
  } else {
    DrawPicture(buffer_);
  }
  return &buffer_;
}

// The buffer holds the parent image; the colour or the picture covers it
// by (100 - level)%.
void TKelmTabSheet::ProcessTransparentLevel() {
  const int a = ((100 - level_) * 255) / 100;
  QImage over(buffer_.size(), QImage::Format_RGB32);
  if (picture_.isNull()) {
    over.fill(gui::ToQColor(gui::ColorToRGB(Color())));
  } else {
    over.fill(Qt::black);
    DrawPicture(over);
  }
  for (int y = 0; y < buffer_.height(); ++y) {
    auto* line = reinterpret_cast<TPixel*>(buffer_.scanLine(y));
    const auto* top = reinterpret_cast<const TPixel*>(over.constScanLine(y));
    for (int x = 0; x < buffer_.width(); ++x) {
      TPixel mixed = 0xFF000000u;
      for (int shift = 0; shift < 24; shift += 8) {
        const TPixel c = (line[x] >> shift) & 0xFF, k = (top[x] >> shift) & 0xFF;
        mixed |= (((c * (256 - a)) >> 8) + ((k * a) >> 8)) << shift;
      }
      line[x] = mixed;
    }
  }
}

void TKelmTabSheet::ImageChange() {
  DropBuffer();
  InvalidateFull();
}

void TKelmTabSheet::InvalidateFull() {
  update();
  if (TKelmPageControl* control = PageControl()) {
    control->Invalidate();
    ViewChange();
  }
}

void TKelmTabSheet::ViewChange() {
  TKelmPageControl* control = PageControl();
  if (!control) return;
  BroadcastChangeView(control->parentWidget() ? control->parentWidget() : control);
}

void TKelmTabSheet::InvalidateParentBorder() {
  TKelmPageControl* control = PageControl();
  if (!control || control->Style() != tsTabs) return;
  const QRect r(mapTo(control, QPoint(0, 0)), size());
  const int t = control->TabPos() == tpBottom ? 2 : 0;
  const int right = control->width() - 2;
  const int top = r.top() - 2 - t, bottom = r.bottom() + 1 + 2 - t;
  if (control->TabPos() != tpLeft) control->update(QRect(QPoint(r.left() - 2, top), QPoint(r.left() - 1, bottom - 1)));
  if (control->TabPos() != tpRight) control->update(QRect(QPoint(r.right() + 1, top), QPoint(right - 1, bottom - 1)));
  control->update(QRect(QPoint(r.left() - 2, r.top() - 2 - t), QPoint(right - 1, r.top() - 1)));
  if (control->TabPos() != tpBottom)
    control->update(QRect(QPoint(r.left() - 2, r.bottom() + 1), QPoint(right - 1, r.bottom() + 2)));
}

// ---- events ----

void TKelmTabSheet::paintEvent(QPaintEvent*) {
  QPainter p(this);
  const QImage* buffer = picture_.isNull() && !SeeThrough() ? nullptr : RefreshBuffer();
  if (!buffer) {
    p.fillRect(rect(), gui::ToQColor(Color()));
    return;
  }
  TKelmPageControl* control = PageControl();
  const QPoint at = control ? mapTo(control, QPoint(0, 0)) : QPoint(0, 0);
  p.drawImage(-at, *buffer);
}

void TKelmTabSheet::resizeEvent(QResizeEvent* event) {
  if (!picture_.isNull()) update();
  QWidget::resizeEvent(event);
}

void TKelmTabSheet::moveEvent(QMoveEvent* event) {
  if (!picture_.isNull()) {
    if (transparent_) DropBuffer();
    update();
  }
  QWidget::moveEvent(event);
}

bool TKelmTabSheet::event(QEvent* event) {
  if (event->type() == gui::TMessageEvent::EventType() &&
      static_cast<gui::TMessageEvent*>(event)->Message().Msg == KELM_CHANGEVIEW) {
    DropBuffer();
    update();
    return true;
  }
  return QWidget::event(event);
}

}  // namespace controls
