#include "controls/page_control.h"

#include <QEnterEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <algorithm>

#include "controls/change_view.h"
#include "controls/pixels.h"
#include "platform/gui/messages.h"
#include "platform/gui/text.h"

namespace controls {
namespace {

constexpr int kGlyph = TKelmTabSheet::kGlyphSize;
constexpr int kGlyphRoom = kGlyph + 4;
constexpr int kRestCountdown = 12;

// While a control captures what lies below it, page controls paint nothing
// (a transparent control among the siblings would otherwise recurse).
int g_capturing = 0;

// ARGB32 copy of image, see-through where key (the bottom-left pixel of
// mask_source) appears in mask_source.
QImage Masked(const QImage& image, const QImage& mask_source) {
  QImage out = image.convertToFormat(QImage::Format_ARGB32);
  const QImage key_image = mask_source.convertToFormat(QImage::Format_RGB32);
  const TPixel key = key_image.pixel(0, key_image.height() - 1) & 0xFFFFFF;
  for (int y = 0; y < out.height(); ++y) {
    auto* line = reinterpret_cast<TPixel*>(out.scanLine(y));
    const auto* keys = reinterpret_cast<const TPixel*>(key_image.constScanLine(y));
    for (int x = 0; x < out.width(); ++x) line[x] = (keys[x] & 0xFFFFFF) == key ? 0 : (line[x] | 0xFF000000u);
  }
  return out;
}

QImage Transformed(QImage image, TPixel (*routine)(TPixel)) {
  ApplyPerPixel(image, routine);
  return image;
}

}  // namespace

// ---- tab bar ----

TKelmTabBar::TKelmTabBar(TKelmPageControl* control) : QTabBar(control), control_(control) {
  setMouseTracking(true);
  setDrawBase(false);
  setExpanding(false);
}

QSize TKelmTabBar::tabSizeHint(int index) const {
  const QFontMetrics fm(font());
  const int w = fm.horizontalAdvance(tabText(index)) + (control_->ShowGlyphs() ? kGlyphRoom : 0) + 12;
  const int h = std::max(fm.height(), kGlyph) + 8;
  const bool vertical = control_->TabPos() == tpLeft || control_->TabPos() == tpRight;
  return vertical ? QSize(h, w) : QSize(w, h);
}

std::vector<QRect> TKelmTabBar::Rows(QSize* size) const {
  const bool vertical = control_->TabPos() == tpLeft || control_->TabPos() == tpRight;
  // Laid out across (x) and down (y) as for top tabs; side tabs transpose.
  auto main = [&](QSize s) { return vertical ? s.height() : s.width(); };
  auto cross = [&](QSize s) { return vertical ? s.width() : s.height(); };
  const int extent = std::max(1, main(control_->size()) - 4);
  std::vector<std::vector<int>> rows(1);
  int used = 0, depth = 0, selected_row = 0;
  for (int i = 0; i < count(); ++i) {
    if (!isTabVisible(i)) continue;
    const int m = main(tabSizeHint(i));
    if (used > 0 && used + m > extent) rows.emplace_back(), used = 0;
    rows.back().push_back(i);
    used += m;
    depth = std::max(depth, cross(tabSizeHint(i)));
    if (i == currentIndex()) selected_row = static_cast<int>(rows.size()) - 1;
  }
  const int n = static_cast<int>(rows.size());
  const bool page_after = control_->TabPos() == tpTop || control_->TabPos() == tpLeft;
  std::vector<QRect> rects(count());
  for (int k = 0; k < n; ++k) {
    const int place = page_after ? (k - selected_row - 1 + n) % n : (k - selected_row + n) % n;
    int total = 0;
    for (int i : rows[k]) total += main(tabSizeHint(i));
    const int spare = (control_->Styles() & tabRightJustify) && !rows[k].empty() ? extent - total : 0;
    int at = 0;
    for (size_t j = 0; j < rows[k].size(); ++j) {
      const int i = rows[k][j];
      int m = main(tabSizeHint(i)) + spare / static_cast<int>(rows[k].size());
      if (j + 1 == rows[k].size()) m += spare % static_cast<int>(rows[k].size());
      rects[i] = vertical ? QRect(place * depth, at, depth, m) : QRect(at, place * depth, m, depth);
      at += m;
    }
  }
  if (size) *size = vertical ? QSize(n * depth, extent) : QSize(extent, n * depth);
  return rects;
}

QSize TKelmTabBar::sizeHint() const {
  if (!control_->MultiLine()) return QTabBar::sizeHint();
  QSize size;
  Rows(&size);
  return size;
}

QSize TKelmTabBar::minimumSizeHint() const {
  return control_->MultiLine() ? sizeHint() : QTabBar::minimumSizeHint();
}

void TKelmTabBar::paintEvent(QPaintEvent*) {
  if (g_capturing) return;
  QPainter p(this);
  p.translate(-pos());
  p.drawImage(0, 0, control_->ComposeBackground());
  for (int i = 0; i < count(); ++i) {
    if (!isTabVisible(i)) continue;
    const QRect r = control_->TabRect(i);
    const unsigned state = i == currentIndex() ? odSelected : 0;
    control_->DrawItem(p, i, r, state);
    // Buttons get a one-pixel frame, dark when pressed; flat buttons none.
    if (control_->Style() == tsButtons) {
      p.setPen(gui::ToQColor(state ? gui::clWindowText : gui::clBtnShadow));
      p.setBrush(Qt::NoBrush);
      p.drawRect(r.adjusted(0, 0, -1, -1));
    }
  }
}

// ---- construction ----

THotTrackPoller& TKelmPageControl::Poller() {
  static THotTrackPoller poller;
  return poller;
}

TKelmPageControl::TKelmPageControl(QWidget* parent) : QTabWidget(parent), bar_(new TKelmTabBar(this)) {
  setTabBar(bar_);
  setMouseTracking(true);
  bar_->installEventFilter(this);
  connect(this, &QTabWidget::currentChanged, this, [this] { CurrentChanged(); });
  Poller().Register(this);
}

TKelmPageControl::~TKelmPageControl() { Poller().Unregister(this); }

// ---- pages and tabs ----

int TKelmPageControl::AddPage(TKelmTabSheet* page, const std::string& caption) {
  const int index = addTab(page, gui::ToQString(caption));
  if (glyphs_built_) UpdateGlyphs();
  return index;
}

TKelmTabSheet* TKelmPageControl::Page(int index) const {
  if (index < 0 || index >= count()) return nullptr;
  return static_cast<TKelmTabSheet*>(widget(index));
}

int TKelmPageControl::VisibleTabCount() const {
  int n = 0;
  for (int i = 0; i < count(); ++i) n += isTabVisible(i) ? 1 : 0;
  return n;
}

int TKelmPageControl::ConvertTabToPageIndex(int tab) const {
  if (tab < 0) return -1;
  for (int i = 0; i < count(); ++i)
    if (isTabVisible(i) && tab-- == 0) return i;
  return -1;
}

void TKelmPageControl::SetTabVisible(int page, bool visible) {
  setTabVisible(page, visible);
  if (!visible && hot_ == page) hot_ = -1;
  Invalidate();
}

QRect TKelmPageControl::TabRect(int page) const {
  if (page < 0 || page >= count() || !isTabVisible(page)) return {};
  if (multi_line_) return bar_->Rows()[page].translated(bar_->pos());
  return bar_->tabRect(page).translated(bar_->pos());
}

int TKelmPageControl::HitTest(QPoint pos) const {
  if (!bar_->geometry().contains(pos)) return -1;
  if (multi_line_) {
    const std::vector<QRect> rects = bar_->Rows();
    for (int i = 0; i < count(); ++i)
      if (rects[i].translated(bar_->pos()).contains(pos)) return i;
    return -1;
  }
  return bar_->tabAt(pos - bar_->pos());
}

// ---- properties ----

void TKelmPageControl::SetMultiLine(bool value) {
  multi_line_ = value || (styles_ & tabRightJustify);
  bar_->setUsesScrollButtons(!multi_line_);
  UpdateGlyphs();
}

void TKelmPageControl::SetStyles(unsigned value) {
  styles_ = value;
  if (value & tabRightJustify) {
    multi_line_ = true;
    bar_->setUsesScrollButtons(false);
  }
  UpdateGlyphs();
  Invalidate();
}

void TKelmPageControl::SetStyle(TTabStyle value) {
  style_ = value;
  UpdateGlyphs();
  Invalidate();
}

void TKelmPageControl::SetTabPos(TTabPosition value) {
  tab_position_ = value;
  static constexpr QTabWidget::TabPosition kQt[] = {North, South, West, East};
  setTabPosition(kQt[value]);
  UpdateGlyphs();
  Invalidate();
}

void TKelmPageControl::SetShowGlyphs(bool value) {
  show_glyphs_ = value;
  UpdateGlyphs();
  Invalidate();
}

void TKelmPageControl::SetColor(TColor value) {
  color_ = value;
  for (int i = 0; i < count(); ++i)
    if (Page(i)->ParentColor()) Page(i)->DropBuffer();
  Invalidate();
}

void TKelmPageControl::SetTransparent(bool value) {
  transparent_ = value;
  Invalidate();
  ViewChange();
}

// ---- hot tracking ----

void TKelmPageControl::InvalidateTab(int page) {
  QRect r = TabRect(page);
  if (r.isEmpty()) return;
  r.adjust(2, 0, -2, 0);
  bar_->update(r.translated(-bar_->pos()));
}

void TKelmPageControl::MouseMoved(QPoint pos) {
  if (!HotTrack || !mouse_inside_) return;
  const int hit = HitTest(pos);
  if (hit == hot_) return;
  if (hot_ >= 0) InvalidateTab(hot_);
  hot_ = hit;
  if (hot_ >= 0) {
    InvalidateTab(hot_);
    if (HaveHighlightWave()) {
      pulse_muted_ = true;
      PlayHighlightWave();
    }
  }
  phase_ = 0;
  painted_ = false;
  countdown_ = kRestCountdown;
}

void TKelmPageControl::MouseLeft() {
  mouse_inside_ = false;
  if (hot_ >= 0) InvalidateTab(hot_);
  hot_ = -1;
  phase_ = 0;
  painted_ = false;
  countdown_ = kRestCountdown;
}

void TKelmPageControl::CurrentChanged() {
  parent_valid_ = false;
  if (multi_line_) bar_->updateGeometry();  // the selected row moves next to the page
  phase_ = 0;
  countdown_ = kRestCountdown;
  Invalidate();
  InvalidateBorder();
  // The next pulse keeps quiet after a select sound (none plays while no
  // tab is hot, as when pages are added).
  if (PlaySelectWave()) pulse_muted_ = true;
}

void TKelmPageControl::UpdateHighlighted() {
  if (!Flashing) return;
  if (countdown_ != 0) {
    --countdown_;
    return;
  }
  if (hot_ < 0 || !painted_) return;
  phase_ = (phase_ + 1) % 4;
  countdown_ = phase_ == 0 ? unflashed_delay_ : phase_ == 2 ? flashed_delay_ : flashing_delay_;
  if (phase_ == 2) {
    if (!pulse_muted_) PlayPulseWave();
    pulse_muted_ = false;
  }
  QRect r = TabRect(hot_);
  if (r.isEmpty()) return;
  r.adjust(2, hot_ == currentIndex() ? 0 : 2, -2, -2);
  bar_->update(r.translated(-bar_->pos()));
}

// ---- sounds ----

bool TKelmPageControl::Play(TSoundRef TKelmTabSheet::*page_sound, TSoundRef& own) {
  if (!EnableSounds || hot_ < 0) return false;
  TKelmTabSheet* page = Page(hot_);
  TSoundRef& sound = page && (page->*page_sound).Playable() ? page->*page_sound : own;
  if (!sound.Playable()) return false;
  sound.Get()->Play();
  return true;
}

bool TKelmPageControl::Have(TSoundRef TKelmTabSheet::*page_sound, const TSoundRef& own) const {
  const TKelmTabSheet* page = hot_ >= 0 ? Page(hot_) : nullptr;
  return (page && (page->*page_sound).Playable()) || own.Playable();
}

bool TKelmPageControl::PlayHighlightWave() { return Play(&TKelmTabSheet::HighlightSound, HighlightSound); }
bool TKelmPageControl::PlayPulseWave() { return Play(&TKelmTabSheet::PulseSound, PulseSound); }

bool TKelmPageControl::PlaySelectWave() {
  return Play(&TKelmTabSheet::SelectSound, SelectSound) || PlayPulseWave();
}

bool TKelmPageControl::HaveHighlightWave() const { return Have(&TKelmTabSheet::HighlightSound, HighlightSound); }
bool TKelmPageControl::HaveSelectWave() const { return Have(&TKelmTabSheet::SelectSound, SelectSound); }

// ---- glyphs ----

void TKelmPageControl::UpdateGlyphs() {
  ++glyph_updates_;
  for (auto& list : lists_) list.clear();
  for (int i = 0; i < count(); ++i) {
    const TKelmTabSheet* page = Page(i);
    using S = TKelmTabSheet;
    const QImage& normal = page->GlyphWork(S::gkNormal);
    auto own = [&](S::TGlyphKind kind) { return Masked(page->GlyphWork(kind), page->GlyphWork(kind)); };
    lists_[S::gkNormal].push_back(Masked(normal, normal));
    lists_[S::gkUnselected].push_back(page->HasGlyph(S::gkUnselected) ? own(S::gkUnselected)
                                                                     : Masked(Transformed(normal, GreyPixel), normal));
    lists_[S::gkSelectedHighlighted].push_back(page->HasGlyph(S::gkSelectedHighlighted)
                                                   ? own(S::gkSelectedHighlighted)
                                                   : Masked(Transformed(normal, BrightenPixel), normal));
    QImage highlighted;
    if (page->HasGlyph(S::gkHighlighted))
      highlighted = own(S::gkHighlighted);
    else if (page->HasGlyph(S::gkUnselected))
      highlighted = Masked(Transformed(page->GlyphWork(S::gkUnselected), BrightenPixel), normal);
    else
      highlighted = Masked(Transformed(normal, BrightenPixel), normal);
    lists_[S::gkHighlighted].push_back(highlighted);
  }
  // Re-measure every tab; the tab widget relays out from a queued request.
  for (int i = 0; i < count(); ++i) bar_->setTabText(i, bar_->tabText(i));
  bar_->updateGeometry();
  Invalidate();
}

QImage TKelmPageControl::ListGlyph(int kind, int page) const {
  if (kind < 0 || kind > 3 || page < 0 || page >= static_cast<int>(lists_[kind].size())) return {};
  return lists_[kind][page];
}

// ---- painting ----

TColor TKelmPageControl::TabColor(int page, bool selected, const QImage** buffer) {
  *buffer = nullptr;
  TKelmTabSheet* sheet = Page(page);
  auto page_buffer = [&] { *buffer = sheet ? sheet->RefreshBuffer() : nullptr; };
  switch (tab_colorization_) {
    case tcNone:
      return color_;
    case tcPage:
      page_buffer();
      return sheet ? sheet->Color() : color_;
    case tcActive:
      if (!selected) return color_unselected_;
      page_buffer();
      return color_selected_;
    case tcActivePage:
      if (!selected) return color_unselected_;
      page_buffer();
      return sheet ? sheet->Color() : color_;
  }
  return color_;
}

void TKelmPageControl::DrawGlyphtShadow(QImage& tab, const QImage& glyph, int d, int x, int y, TColor color) const {
  QImage shape = PixelMask(glyph, {-1}, QRect(0, 0, kGlyph, kGlyph));
  shape.invertPixels();
  for (QPoint at : {QPoint(x + d, y + d), QPoint(x, y + d), QPoint(x + d, y)}) PaintThroughMask(tab, shape, color, at);
}

void TKelmPageControl::DrawItem(QPainter& canvas, int page, QRect rect, unsigned state) {
  painted_ = true;
  const bool selected = state & odSelected;
  int l = rect.left(), t = rect.top(), r = rect.right() + 1, b = rect.bottom() + 1;
  int dy = 0;
  if (style_ != tsTabs) {
    l -= 2, r += 2;
    dy = selected ? -1 : -2;
  } else if (tab_position_ == tpBottom) {
    if (selected) {
      b += 2;
    } else {
      dy = -4, t -= 2, b -= 2;
    }
  } else if (tab_position_ == tpLeft) {
    r += 2;
  } else if (tab_position_ == tpRight) {
    l -= 2;
    if (!selected) dy = -3;
  }
  if (OnDrawItem) {
    OnDrawItem(canvas, page, QRect(l, t, r - l, b - t), state);
    return;
  }
  TKelmTabSheet* sheet = Page(page);
  const QImage* buffer = nullptr;
  const TColor colour = TabColor(page, selected, &buffer);
  int width = r - l, height = b - t + 2;
  const int sx = selected ? 2 : 0;
  if (selected) width -= 4, height -= 2;
  if (width <= 0 || height <= 0) return;
  QImage tab(width, height, QImage::Format_RGB32);
  if (buffer && !buffer->isNull())
    tab = buffer->copy(l + sx, t, width, height).convertToFormat(QImage::Format_RGB32);
  else
    tab.fill(gui::ToQColor(colour));

  const bool hot = sheet && page == hot_;
  if (cloud_colorization_ != ccNone && hot) {
    const TColor cloud = cloud_colorization_ == ccPage ? sheet->HotTrackCloudColor() : hot_track_cloud_color_;
    const int inset = tab_position_ == tpBottom ? 2 : 0;
    const bool buttons = style_ != tsTabs;
    const int e = buttons ? (selected ? 6 : 2)
                          : !selected ? 4
                          : tab_position_ == tpLeft ? -2
                                                    : 0;
    int cl = 2, ct = dy + inset + 4, cr = width - 6, cb = height + dy + e - 6;
    if (tab_position_ == tpLeft) cl = dy, ct = 2, cr = width + dy + e, cb = height - 2;
    if (tab_position_ == tpRight) cl = 4 - e, ct = 2, cr = width + dy, cb = height - 6;
    const int mode = Flashing ? phase_ : 1;
    // A tab too small for a cloud gets none.
    if (cr > cl && cb > ct) {
      if (sheet->BackgroundBitmap().isNull() && !sheet->Transparent()) {
        QPainter p(&tab);
        PaintCloud(p, colour, cloud, true, mode, cl, ct, cr, cb);
      } else {
        PaintBlendedCloud(tab, cloud, true, mode, cl, ct, cr, cb);
      }
    }
  }

  const QString caption = bar_->tabText(page);
  const QFontMetrics fm(font());
  const int w = fm.horizontalAdvance(caption);
  const int cx = (styles_ & tabCenterText) ? (width - w - (show_glyphs_ ? kGlyphRoom : 0)) / 2 : 0;
  int tx = 4;
  const bool vertical = tab_position_ == tpLeft || tab_position_ == tpRight;
  const int rect_height = b - t;
  if (show_glyphs_ && sheet) {
    int kind;
    if (HotTrack && hot && highlight_glyphs_)
      kind = selected ? TKelmTabSheet::gkSelectedHighlighted : TKelmTabSheet::gkHighlighted;
    else
      kind = selected || !gray_inactive_ ? TKelmTabSheet::gkNormal : TKelmTabSheet::gkUnselected;
    int gx;
    if (styles_ & tabLabelLeft) {
      gx = w + cx + 8;
    } else {
      gx = cx + 2;
      tx = kGlyph + 4;
    }
    int gy = dy + 4;
    if (vertical) {
      std::swap(gx, gy);
      if (tab_position_ == tpLeft) {
        gy = rect_height - gy - kGlyph;
        if (selected) tx += 3, gy -= 3, gx -= 1, dy -= 1;
      } else if (selected) {
        tx += 3, gy += 3;
      }
    }
    if (hot && glyph_style_ != dsNormal) {
      const QImage& shape = sheet->GlyphWork(TKelmTabSheet::gkNormal);
      const TColor first = glyph_style_ == dsInset ? gui::clBtnShadow : gui::clBtnHighlight;
      const TColor second = glyph_style_ == dsInset ? gui::clBtnHighlight : gui::clBtnShadow;
      if (glyph_style_ == dsShadow) {
        DrawGlyphtShadow(tab, shape, 1, gx, gy, gui::clBtnShadow);
      } else {
        DrawGlyphtShadow(tab, shape, -1, gx, gy, first);
        DrawGlyphtShadow(tab, shape, 1, gx, gy, second);
      }
    }
    QPainter(&tab).drawImage(gx, gy, ListGlyph(kind, page));
  }

  int x = cx + tx, y = dy + 4;
  if (vertical) {
    x = dy + 4, y = cx + tx;
    if (tab_position_ == tpRight) x = (r - l) - 6 - dy;
    if (tab_position_ == tpLeft) y = rect_height - y;
  }
  QPainter p(&tab);
  p.setFont(font());
  auto text = [&](int px, int py, TColor c) {
    p.save();
    p.setPen(gui::ToQColor(c));
    p.translate(px, py);
    if (tab_position_ == tpLeft) p.rotate(-90);
    if (tab_position_ == tpRight) p.rotate(90);
    p.drawText(0, fm.ascent(), caption);
    p.restore();
  };
  if (!hot) {
    text(x, y, font_color_);
  } else {
    const TColor light = text_style_ == dsInset ? gui::clBtnShadow : gui::clBtnHighlight;
    const TColor dark = text_style_ == dsInset ? gui::clBtnHighlight : gui::clBtnShadow;
    if (text_style_ == dsRaised || text_style_ == dsInset) {
      for (QPoint d : {QPoint(-1, -1), QPoint(-1, 0), QPoint(0, -1)}) text(x + d.x(), y + d.y(), light);
      for (QPoint d : {QPoint(1, 1), QPoint(1, 0), QPoint(0, 1)}) text(x + d.x(), y + d.y(), dark);
    } else if (text_style_ == dsShadow) {
      text(x + 1, y + 1, gui::clBtnShadow);
    }
    text(x, y, hot_track_color_);
  }
  p.end();
  canvas.drawImage(l + sx, t, tab);
}

const QImage& TKelmPageControl::ValidateParentImage() {
  if (parent_valid_ && parent_image_.size() == size()) return parent_image_;
  parent_image_ = QImage(size(), QImage::Format_RGB32);
  parent_image_.fill(Qt::black);
  if (QWidget* parent = parentWidget()) {
    ++g_capturing;
    parent->render(&parent_image_, QPoint(0, 0), QRegion(geometry()), QWidget::DrawWindowBackground);
    for (QObject* child : parent->children()) {
      if (child == this) break;
      auto* sibling = qobject_cast<QWidget*>(child);
      if (!sibling || sibling->isWindow() || !sibling->isVisible() || !sibling->geometry().intersects(geometry()))
        continue;
      sibling->render(&parent_image_, sibling->pos() - pos(), QRegion(),
                      QWidget::DrawWindowBackground | QWidget::DrawChildren);
    }
    --g_capturing;
  }
  parent_valid_ = true;
  return parent_image_;
}

QImage TKelmPageControl::ComposeBackground() {
  QImage bg(size(), QImage::Format_RGB32);
  if (transparent_)
    bg = ValidateParentImage().copy();
  else
    bg.fill(gui::ToQColor(color_));
  QPainter p(&bg);
  auto paint = [&](const QRect& area, TColor colour, const QImage* buffer) {
    if (buffer && !buffer->isNull())
      p.drawImage(area.topLeft(), *buffer, area);
    else
      p.fillRect(area, gui::ToQColor(colour));
  };
  const int current = currentIndex();
  const QRect sel = TabRect(current);
  if (Page(current) && !sel.isEmpty() && tab_colorization_ != tcNone && style_ == tsTabs) {
    const QImage* buffer = nullptr;
    const TColor colour = TabColor(current, true, &buffer);
    // The band joining the current tab to its page: 4 pixels deep on the
    // page side of the tab, the tab's extent less 2 at each end.
    QRect band;
    switch (tab_position_) {
      case tpTop: band = QRect(sel.left() + 2, sel.bottom() + 1, sel.width() - 4, 4); break;
      case tpBottom: band = QRect(sel.left() + 2, sel.top() - 4, sel.width() - 4, 4); break;
      case tpLeft: band = QRect(sel.right() + 1, sel.top() + 2, 4, sel.height() - 4); break;
      case tpRight: band = QRect(sel.left() - 4, sel.top() + 2, 4, sel.height() - 4); break;
    }
    if (band.isValid()) paint(band, colour, buffer);
  }
  if (tab_colorization_ != tcNone) {
    for (int i = 0; i < count(); ++i) {
      const QRect r = TabRect(i);
      if (r.isEmpty() || r.left() < 0 || r.top() < 0 || r.left() + 10 >= width() || r.top() >= height()) continue;
      const QImage* buffer = nullptr;
      const TColor colour = TabColor(i, i == current, &buffer);
      paint(r, colour, buffer);
    }
  }
  return bg;
}

bool TKelmPageControl::HasTransparentcy() const {
  if (transparent_) return true;
  for (int i = 0; i < count(); ++i)
    if (Page(i)->Transparent()) return true;
  return false;
}

void TKelmPageControl::Invalidate() {
  parent_valid_ = false;
  update();
  bar_->update();
}

void TKelmPageControl::ViewChange() { BroadcastChangeView(parentWidget() ? parentWidget() : this); }

void TKelmPageControl::InvalidateBorder() {
  if (style_ != tsTabs) return;
  if (TKelmTabSheet* page = Page(currentIndex())) page->InvalidateParentBorder();
}

// ---- events ----

void TKelmPageControl::paintEvent(QPaintEvent*) {
  if (g_capturing) return;
  QPainter p(this);
  p.drawImage(0, 0, ComposeBackground());
}

void TKelmPageControl::resizeEvent(QResizeEvent* event) {
  QTabWidget::resizeEvent(event);
  if (glyphs_built_ && !(window() && window()->isMinimized())) UpdateGlyphs();
  Invalidate();
  if (TKelmTabSheet* page = Page(currentIndex())) page->update();
}

void TKelmPageControl::moveEvent(QMoveEvent* event) {
  Invalidate();
  for (int i = 0; i < count(); ++i)
    if (Page(i)->Transparent()) {
      Page(i)->DropBuffer();
      if (i == currentIndex()) Page(i)->update();
    }
  QTabWidget::moveEvent(event);
}

void TKelmPageControl::showEvent(QShowEvent* event) {
  QTabWidget::showEvent(event);
  if (!glyphs_built_) {
    glyphs_built_ = true;
    UpdateGlyphs();
  }
}

void TKelmPageControl::mouseMoveEvent(QMouseEvent* event) {
  QTabWidget::mouseMoveEvent(event);
  MouseMoved(event->position().toPoint());
}

void TKelmPageControl::enterEvent(QEnterEvent* event) {
  mouse_inside_ = true;
  QTabWidget::enterEvent(event);
}

void TKelmPageControl::leaveEvent(QEvent* event) {
  MouseLeft();
  QTabWidget::leaveEvent(event);
}

bool TKelmPageControl::eventFilter(QObject* watched, QEvent* event) {
  if (watched == bar_) {
    // With several rows the bar's own tab rectangles are not ours: presses
    // select through our hit test.
    if (multi_line_ && (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonDblClick ||
                        event->type() == QEvent::MouseButtonRelease)) {
      auto* mouse = static_cast<QMouseEvent*>(event);
      if (event->type() == QEvent::MouseButtonPress && mouse->button() == Qt::LeftButton) {
        const int hit = HitTest(bar_->mapTo(this, mouse->position().toPoint()));
        if (hit >= 0) setCurrentIndex(hit);
      }
      return true;
    }
    if (event->type() == QEvent::MouseMove)
      MouseMoved(bar_->mapTo(this, static_cast<QMouseEvent*>(event)->position().toPoint()));
    else if (event->type() == QEvent::Leave)
      MouseMoved(QPoint(-1, -1));
  }
  return QTabWidget::eventFilter(watched, event);
}

bool TKelmPageControl::event(QEvent* event) {
  if (event->type() == gui::TMessageEvent::EventType() &&
      static_cast<gui::TMessageEvent*>(event)->Message().Msg == KELM_CHANGEVIEW) {
    Invalidate();
    return true;
  }
  return QTabWidget::event(event);
}

}  // namespace controls
