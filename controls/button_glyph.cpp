#include "controls/button_glyph.h"

#include <QFontMetrics>
#include <algorithm>

#include "platform/gui/colors.h"
#include "platform/gui/text.h"

namespace controls {
namespace {

std::vector<TGlyphList*>* g_cache = nullptr;

QImage Transparent(int w, int h) {
  QImage image(std::max(w, 0), std::max(h, 0), QImage::Format_ARGB32);
  image.fill(Qt::transparent);
  return image;
}

// A mask of the pixels with some alpha.
QImage Silhouette(const QImage& image) {
  QImage mask(image.size(), QImage::Format_Mono);
  mask.setColor(0, qRgb(0, 0, 0));
  mask.setColor(1, qRgb(255, 255, 255));
  mask.fill(0);
  for (int y = 0; y < image.height(); ++y) {
    const auto* line = reinterpret_cast<const TPixel*>(image.constScanLine(y));
    for (int x = 0; x < image.width(); ++x)
      if (line[x] >> 24) mask.scanLine(y)[x >> 3] |= 0x80 >> (x & 7);
  }
  return mask;
}

// Keeps only the mask's pixels that also lie in keep.
void Intersect(QImage& mask, const QImage& keep) {
  for (int y = 0; y < mask.height(); ++y)
    for (int i = 0; i < mask.bytesPerLine(); ++i) mask.scanLine(y)[i] &= keep.constScanLine(y)[i];
}

}  // namespace

// ---- TGlyphList ----

int TGlyphList::AllocateSlot() {
  auto free = std::find(used_.begin(), used_.end(), false);
  int index = static_cast<int>(free - used_.begin());
  if (free == used_.end()) {
    Add(QImage());
    used_.push_back(false);
  }
  used_[static_cast<std::size_t>(index)] = true;
  ++used_count_;
  return index;
}

int TGlyphList::AddImage(const QImage& image) {
  const int index = AllocateSlot();
  Replace(index, image);
  return index;
}

int TGlyphList::AddMaskedImage(const QImage& image, std::int64_t mask_color) {
  QImage rgb = image.convertToFormat(QImage::Format_RGB32);
  TColor key = static_cast<TColor>(mask_color);
  if (mask_color == kBottomLeftMask && !rgb.isNull()) key = PixelToColor(rgb.pixel(0, rgb.height() - 1));
  QImage cell = Transparent(Width(), Height());
  QPainter p(&cell);
  p.drawImage((Width() - rgb.width()) / 2, (Height() - rgb.height()) / 2, ColorKeyed(rgb, key));
  p.end();
  const int index = AllocateSlot();
  Replace(index, cell);
  return index;
}

void TGlyphList::ReleaseSlot(int index) {
  if (index < 0 || index >= static_cast<int>(used_.size()) || !used_[static_cast<std::size_t>(index)]) return;
  used_[static_cast<std::size_t>(index)] = false;
  --used_count_;
}

// ---- TGlyphCache ----

TGlyphList* TGlyphCache::AcquireList(int width, int height, int relief) {
  if (!g_cache) g_cache = new std::vector<TGlyphList*>;
  for (auto it = g_cache->rbegin(); it != g_cache->rend(); ++it)
    if ((*it)->Width() == width && (*it)->Height() == height) return *it;
  g_cache->push_back(new TGlyphList(width, height, relief));
  return g_cache->back();
}

void TGlyphCache::ReleaseList(TGlyphList* list) {
  if (!list || !g_cache || list->UsedCount() != 0) return;
  auto it = std::find(g_cache->begin(), g_cache->end(), list);
  if (it == g_cache->end()) return;
  g_cache->erase(it);
  delete list;
  if (g_cache->empty()) {
    delete g_cache;
    g_cache = nullptr;
  }
}

bool TGlyphCache::Exists() { return g_cache != nullptr; }
int TGlyphCache::ListCount() { return g_cache ? static_cast<int>(g_cache->size()) : 0; }

// ---- TButtonGlyph: sources ----

void TButtonGlyph::AssignGlyph(const QImage& picture) {
  ClearImages();
  source_ = picture.isNull() ? QImage() : picture.convertToFormat(QImage::Format_RGB32);
  const int w = source_.width(), h = source_.height();
  num_glyphs_ = (w > 0 && h > 0 && w % h == 0 && w / h <= 0x7FFF) ? w / h : 1;
  if (images_) num_glyphs_ = 1;
  if (OnChange) OnChange();
}

void TButtonGlyph::SetNumGlyphs(int n) {
  ClearImages();
  num_glyphs_ = images_ ? 1 : std::max(1, n);
  if (OnChange) OnChange();
}

void TButtonGlyph::SetImages(const gui::TImageList* images) {
  ClearImages();
  images_ = images;
  if (images_) num_glyphs_ = 1;
  if (OnChange) OnChange();
}

void TButtonGlyph::SetImageIndex(int index) {
  ClearImages();
  image_index_ = index;
  if (OnChange) OnChange();
}

void TButtonGlyph::SetColors(TColor highlight, TColor shadow) {
  ClearImages();
  highlight_ = highlight;
  shadow_ = shadow;
}

QSize TButtonGlyph::CellSize() const {
  if (images_) {
    if (image_index_ < 0 || image_index_ >= images_->Count()) return {0, 0};
    return {images_->Width(), images_->Height()};
  }
  if (source_.isNull() || source_.width() == 0 || source_.height() == 0) return {0, 0};
  return {source_.width() / num_glyphs_, source_.height()};
}

QImage TButtonGlyph::SubImage(int index) const {
  if (images_) return images_->Image(image_index_);
  const QSize cell = CellSize();
  if (index >= num_glyphs_) index = 0;
  QImage part = source_.copy(index * cell.width(), 0, cell.width(), cell.height());
  return gui::TImageList::ColorKeyed(part, PixelToColor(source_.pixel(0, source_.height() - 1)));
}

void TButtonGlyph::ClearImages() {
  for (int kind = 0; kind < 2; ++kind) {
    for (int state = 0; state < kGlyphStates; ++state) {
      int& index = indexes_[state];
      if (index != -1 && (state == gsDisabled) == (kind == 1) && lists_[kind]) {
        lists_[kind]->ReleaseSlot(index);
        index = -1;
      }
    }
    TGlyphCache::ReleaseList(lists_[kind]);
    lists_[kind] = nullptr;
  }
  std::fill(std::begin(indexes_), std::end(indexes_), -1);
}

// ---- building ----

QImage TButtonGlyph::BuildRelief(const QImage& cell, TButtonState state, int relief) const {
  QImage glyph = cell;
  if (state == gsHotExclusive || state == gsHotDown || state == gsHot) ApplyPerPixel(glyph, BrightenPixel);
  const bool raised = state == gsHot;
  const TColor top_left = raised ? highlight_ : shadow_, bottom_right = raised ? shadow_ : highlight_;
  QImage image = Transparent(glyph.width() + 2 * relief, glyph.height() + 2 * relief);
  const QImage shape = Silhouette(glyph);
  auto stamp = [&](TColor color, int d, bool extra) {
    const int step = d < 0 ? -1 : 1;
    for (int i = 0;; i += step) {
      PaintThroughMask(image, shape, color, {relief + i, relief + d});
      PaintThroughMask(image, shape, color, {relief + i, relief + i});
      PaintThroughMask(image, shape, color, {relief + d, relief + i});
      if (extra) PaintThroughMask(image, shape, color, {relief + i - d, relief + i});
      if (i == d) break;
    }
  };
  stamp(bottom_right, relief, true);
  stamp(top_left, -relief, false);
  stamp(top_left, -relief, true);
  stamp(bottom_right, relief, false);
  QPainter p(&image);
  p.drawImage(relief, relief, glyph);
  return image;
}

QImage TButtonGlyph::BuildDisabled() const {
  const QSize cell = CellSize();
  QImage out = Transparent(cell.width() + 1, cell.height() + 1);
  const QRect area(0, 0, cell.width(), cell.height());
  if (num_glyphs_ > 1 && !images_) {
    // The picture's own disabled image, white and mid-grey in button colours.
    QImage keyed = SubImage(1);
    QImage rgb = source_.copy(cell.width(), 0, cell.width(), cell.height());
    const QImage opaque = Silhouette(keyed);
    QImage white = ColorMask(rgb, {gui::clWhite}, area), grey = ColorMask(rgb, {gui::clGray}, area);
    Intersect(white, opaque);
    Intersect(grey, opaque);
    PaintThroughMask(keyed, white, highlight_);
    PaintThroughMask(keyed, grey, shadow_);
    QPainter p(&out);
    p.drawImage(0, 0, keyed);
    return out;
  }
  // Embossed: the shape once one pixel right and down in the highlight
  // colour, then in place in the shadow colour.
  const QImage keyed = SubImage(0);
  QImage rgb = keyed.convertToFormat(QImage::Format_RGB32);
  QImage shape = OldDisabledStyle ? ColorMask(rgb, {gui::clBlack}, area) : [&] {
    QImage background = ColorMask(rgb, {gui::clWhite, gui::clSilver}, area);
    background.invertPixels();
    return background;
  }();
  Intersect(shape, Silhouette(keyed));
  PaintThroughMask(out, shape, highlight_, {1, 1});
  PaintThroughMask(out, shape, shadow_, {0, 0});
  return out;
}

TButtonGlyph::TBuilt TButtonGlyph::BuildStateImage(TButtonState state, int relief, bool grey) {
  const int kind = state == gsDisabled ? 1 : 0;
  if (indexes_[state] != -1) return {lists_[kind], indexes_[state]};
  const QSize cell = CellSize();
  if (cell.isEmpty()) return {};
  const int extra = state == gsDisabled ? 1 : 0;
  if (!lists_[kind])
    lists_[kind] = TGlyphCache::AcquireList(cell.width() + extra + 2 * relief, cell.height() + extra + 2 * relief, relief);
  TGlyphList* list = lists_[kind];
  int index;
  switch (state) {
    case gsDown:
    case gsExclusive:
    case gsHotExclusive:
    case gsHotDown:
    case gsHot:
      index = list->AddImage(BuildRelief(SubImage(state), state, relief));
      break;
    case gsDisabled: {
      QImage image = Transparent(list->Width(), list->Height());
      QPainter p(&image);
      p.drawImage(relief, relief, BuildDisabled());
      p.end();
      index = list->AddImage(image);
      break;
    }
    default: {
      QImage glyph = SubImage(state);
      if (grey) ApplyPerPixel(glyph, GreyPixel);
      QImage image = Transparent(list->Width(), list->Height());
      QPainter p(&image);
      p.drawImage(relief, relief, glyph);
      p.end();
      index = list->AddImage(image);
      break;
    }
  }
  indexes_[state] = index;
  return {list, index};
}

void TButtonGlyph::DrawStateImage(QPainter& painter, QPoint pos, TButtonState state, int relief, bool grey) {
  const TBuilt built = BuildStateImage(state, relief, grey);
  if (built.index != -1) built.list->Draw(painter, pos.x(), pos.y(), built.index);
}

// ---- layout ----

TLayout TButtonGlyph::ComputeLayout(const TLayoutInput& in) {
  const int relief = in.relief;
  const QSize glyph = in.glyph.isEmpty() ? QSize(0, 0) : in.glyph;
  const QSize arrow = in.arrow ? QSize(9, 3) : QSize(0, 0);
  TButtonLayoutPlus layout = in.layout;
  if (layout != blGlyphLeft && layout != blGlyphRight && glyph.width() == 0) layout = blGlyphLeft;
  const bool horizontal = layout == blGlyphLeft || layout == blGlyphRight;
  int margin = in.margin, spacing = in.spacing;
  const int cw = in.client.width(), ch = in.client.height();

  QSize text(0, 0);
  if (in.measure) {
    int width = cw;
    if (horizontal) width -= arrow.width();
    if (in.word_wrap) {
      if (horizontal && glyph.width() > 0) width -= glyph.width() + 2 * relief + (spacing == -1 ? 4 : spacing);
      width -= 2 * (margin != -1 ? margin : spacing != -1 ? spacing : 4);
    }
    text = in.measure(width);
    if (text.isEmpty()) text = QSize(0, 0);
  }
  if (glyph.width() == 0 || text.width() == 0) spacing = 0;

  // Extents along the layout's axis (widths for the centred layout, whose
  // margin places glyph and caption horizontally).
  const bool along_x = horizontal || layout == blGlyphCentre;
  const int extent = along_x ? cw : ch;
  const int ge = along_x ? glyph.width() : glyph.height();
  const int te = along_x ? text.width() : text.height();
  const int ae = along_x ? arrow.width() : arrow.height();
  if (layout == blGlyphCentre && margin == -1) {
    if (spacing == -1) spacing = 0;
    margin = (extent - (std::max(ge, te) + ae + 2 * relief) + 1) / 2;
  } else if (margin == -1 && spacing == -1) {
    margin = spacing = (extent - (ge + te + ae)) / 3;
  } else if (margin == -1) {
    margin = (extent - (ge + spacing + te + ae) + 1) / 2 - relief;
  } else if (spacing == -1) {
    spacing = (extent - (margin + ge + ae) - te) / 2;
  }

  TLayout out;
  QPoint g, t;
  auto centre = [](int available, int size) { return (available - size + 1) / 2; };
  switch (layout) {
    case blGlyphLeft:
      g = {margin, centre(ch, glyph.height()) - relief};
      t = {margin + glyph.width() + spacing + 2 * relief, centre(ch, text.height())};
      out.arrow.setX(t.x() + text.width());
      break;
    case blGlyphRight:
      out.arrow.setX(cw - margin - arrow.width());
      g = {out.arrow.x() - glyph.width() - relief, centre(ch, glyph.height()) - relief};
      t = {g.x() - spacing - text.width(), centre(ch, text.height())};
      break;
    case blGlyphTop:
      g = {centre(cw, glyph.width()) - relief, margin};
      t = {centre(cw, text.width()), margin + glyph.height() + spacing};
      out.arrow.setX(t.x() + text.width());
      break;
    case blGlyphBottom:
      g = {centre(cw, glyph.width()) - relief, ch - margin - glyph.height() - relief};
      t = {centre(cw, text.width()), g.y() - spacing - text.height()};
      out.arrow.setX(t.x() + text.width());
      break;
    case blGlyphCentre: {
      if (glyph.width() <= text.width()) {
        t.setX(margin + spacing + relief);
        g.setX(margin + (text.width() - glyph.width()) / 2);
      } else {
        g.setX(margin);
        t.setX(margin + spacing + relief + (glyph.width() - text.width()) / 2);
      }
      const int top = (ch - (std::max(glyph.height(), text.height()) + 2 * relief)) / 2;
      if (glyph.height() >= text.height()) {
        g.setY(top);
        t.setY(top + (glyph.height() - text.height()) / 2 + relief);
      } else {
        t.setY(top + relief);
        g.setY(top + (text.height() - glyph.height()) / 2);
      }
      out.arrow.setX(t.x() + text.width());
      break;
    }
  }
  out.arrow.setY(glyph.height() > 0 ? g.y() + relief + centre(glyph.height(), arrow.height())
                                    : t.y() + centre(text.height(), arrow.height()));
  const QPoint shift = in.client.topLeft() + in.offset;
  out.glyph = g + shift;
  out.text = QRect(t + shift, text);
  out.arrow += shift;
  return out;
}

// ---- drawing ----

int TButtonGlyph::TextFlags(TAlignment alignment, bool word_wrap) {
  const int align = alignment == taLeftJustify ? Qt::AlignLeft : alignment == taRightJustify ? Qt::AlignRight : Qt::AlignHCenter;
  return align | Qt::AlignVCenter | Qt::TextShowMnemonic | (word_wrap ? Qt::TextWordWrap : Qt::TextSingleLine);
}

void TButtonGlyph::DrawCaption(QPainter& painter, const std::string& caption, const QRect& rect, TButtonState state,
                               int relief, TAlignment alignment, bool word_wrap, TColor font_color) const {
  const int flags = TextFlags(alignment, word_wrap);
  const QString text = gui::ToQString(caption);
  auto draw = [&](TColor color, int dx, int dy) {
    painter.setPen(gui::ToQColor(color));
    painter.drawText(rect.translated(dx, dy), flags, text);
  };
  auto pass = [&](TColor color, int d, bool extra) {
    const int step = d < 1 ? -1 : 1;
    for (int i = 0;; i += step) {
      draw(color, i, d);
      draw(color, i, i);
      draw(color, d, i);
      if (extra) draw(color, i - d, i);
      if (i == d) break;
    }
  };
  if (state == gsDisabled) {
    draw(highlight_, 1, 1);
    draw(shadow_, 0, 0);
    return;
  }
  if (state == gsDown || state == gsExclusive || state == gsHotExclusive || state == gsHotDown) {
    pass(highlight_, relief, false);
    pass(shadow_, -relief, false);
  } else if (state == gsHot) {
    pass(shadow_, relief, false);
    pass(highlight_, -relief, false);
    pass(highlight_, 1 - relief, false);
    pass(shadow_, relief - 1, false);
  }
  draw(font_color, 0, 0);
}

void TButtonGlyph::DrawArrow(QPainter& painter, int x, int y, TButtonState state, TColor font_color) const {
  auto triangle = [&](TColor color, int dx, int dy) {
    const QPoint points[] = {{x + 4 + dx, y + dy}, {x + 8 + dx, y + dy}, {x + 6 + dx, y + 2 + dy}};
    painter.setPen(gui::ToQColor(color));
    painter.setBrush(gui::ToQColor(color));
    painter.drawPolygon(points, 3);
  };
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing, false);
  if (state == gsDisabled) {
    triangle(highlight_, 1, 1);
    triangle(shadow_, 0, 0);
  } else {
    triangle(font_color, 0, 0);
  }
  painter.restore();
}

QRect TButtonGlyph::Draw(QPainter& painter, const QRect& client, QPoint offset, const std::string& caption,
                         TButtonLayoutPlus layout, int margin, int spacing, TButtonState state, int relief,
                         bool show_glyph, bool show_text, bool arrow, TAlignment alignment, bool word_wrap, bool grey,
                         TColor font_color) {
  TLayoutInput in;
  in.client = client;
  in.offset = offset;
  in.layout = layout;
  in.margin = margin;
  in.spacing = spacing;
  in.relief = relief;
  in.glyph = show_glyph ? CellSize() : QSize(0, 0);
  in.arrow = arrow;
  in.word_wrap = word_wrap;
  if (show_text && !caption.empty()) {
    const QFontMetrics metrics(painter.font());
    const QString text = gui::ToQString(caption);
    const int flags = TextFlags(taLeftJustify, word_wrap);
    in.measure = [&](int width) { return metrics.boundingRect(QRect(0, 0, std::max(width, 1), 10000), flags, text).size(); };
  }
  const TLayout at = ComputeLayout(in);
  if (show_glyph) DrawStateImage(painter, at.glyph, state, relief, grey);
  if (show_text) DrawCaption(painter, caption, at.text, state, relief, alignment, word_wrap, font_color);
  if (arrow) DrawArrow(painter, at.arrow.x(), at.arrow.y(), state, font_color);
  return at.text;
}

}  // namespace controls
