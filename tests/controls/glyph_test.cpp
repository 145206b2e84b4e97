// Pixel routines on random pictures against their formulas written out
// here; the cloud's 51 rings by sampled pixels; glyph lists, the shared
// cache and the per-state images by pixels; the layout as a pure function.
#include <gtest/gtest.h>

#include <QPainter>
#include <memory>
#include <random>

#include "controls/button_glyph.h"
#include "controls/pixels.h"
#include "tests/controls/controls_test_util.h"

namespace {

using namespace controls;
using controls_test::PixelColor;

QImage RandomImage(std::mt19937& rng, int w, int h, const std::vector<QRgb>& palette = {}) {
  QImage image(w, h, QImage::Format_RGB32);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      image.setPixel(x, y, palette.empty() ? (rng() | 0xFF000000u) : palette[rng() % palette.size()]);
  return image;
}

bool MaskBit(const QImage& mask, int x, int y) { return (mask.constScanLine(y)[x / 8] >> (7 - x % 8)) & 1; }

TEST(PixelRoutines, MatchTheirFormulasOnRandomPictures) {
  std::mt19937 rng(34);
  for (int round = 0; round < 20; ++round) {
    const QImage src = RandomImage(rng, 1 + rng() % 23, 1 + rng() % 17);
    QImage grey = src, bright = src, blended = src;
    ApplyPerPixel(grey, GreyPixel);
    ApplyPerPixel(bright, BrightenPixel);
    const QImage weights = RandomImage(rng, src.width(), src.height());
    const TColor color = static_cast<TColor>(rng() & 0xFFFFFF);
    BlendThroughMask(blended, weights, color);
    const int kr = color & 0xFF, kg = (color >> 8) & 0xFF, kb = (color >> 16) & 0xFF;
    for (int y = 0; y < src.height(); ++y) {
      for (int x = 0; x < src.width(); ++x) {
        const QRgb p = src.pixel(x, y);
        const int r = qRed(p), g = qGreen(p), b = qBlue(p);
        const int level = (b * 29 + g * 150 + r * 77) >> 8;
        EXPECT_EQ(grey.pixel(x, y), qRgb(level, level, level));
        auto up = [](int c) { return c == 0 ? 50 : (c + c / 4 > 255 ? 255 : c + c / 4); };
        EXPECT_EQ(bright.pixel(x, y), qRgb(up(r), up(g), up(b)));
        const int a = qGreen(weights.pixel(x, y));
        auto mix = [a](int c, int k) { return (c * (256 - a)) / 256 + (k * a) / 256; };
        EXPECT_EQ(blended.pixel(x, y), qRgb(mix(r, kr), mix(g, kg), mix(b, kb)));
      }
    }
  }
  const QImage zero = RandomImage(rng, 1, 1, {qRgb(0, 0, 0)});
  QImage z = zero;
  ApplyPerPixel(z, BrightenPixel);
  EXPECT_EQ(z.pixel(0, 0), qRgb(50, 50, 50));
}

TEST(PixelRoutines, MasksAndPaintThroughMask) {
  std::mt19937 rng(9);
  const std::vector<QRgb> palette = {qRgb(255, 0, 255), qRgb(128, 128, 128), qRgb(255, 255, 255), qRgb(1, 2, 3),
                                     qRgb(0, 0, 0)};
  for (int round = 0; round < 30; ++round) {
    const QImage src = RandomImage(rng, 5 + rng() % 20, 5 + rng() % 20, palette);
    const QRect area(static_cast<int>(rng() % 3), static_cast<int>(rng() % 3), 3 + rng() % 15, 3 + rng() % 15);
    const QRgb bottom_left = src.pixel(0, src.height() - 1);
    // Raw pixel values (0x00RRGGBB), -1 for the bottom-left pixel.
    const QImage by_pixel = PixelMask(src, {-1, 0x010203}, area);
    // Colours (0x00BBGGRR, system colours resolved); clNone the bottom-left pixel.
    const QImage by_color = ColorMask(src, {gui::clBtnShadow, 0x030201}, area);
    const QImage keyed = ColorMask(src, {gui::clNone}, area);
    QImage painted = src;
    const QPoint at(static_cast<int>(rng() % 4) - 2, static_cast<int>(rng() % 4) - 2);
    PaintThroughMask(painted, by_pixel, 0x336699, at);
    ASSERT_EQ(by_pixel.size(), area.size());
    for (int y = 0; y < area.height(); ++y) {
      for (int x = 0; x < area.width(); ++x) {
        const bool inside = src.rect().contains(area.left() + x, area.top() + y);
        const QRgb p = inside ? src.pixel(area.left() + x, area.top() + y) : 0;
        EXPECT_EQ(MaskBit(by_pixel, x, y), inside && (p == bottom_left || p == qRgb(1, 2, 3)));
        EXPECT_EQ(MaskBit(by_color, x, y), inside && (p == qRgb(128, 128, 128) || p == qRgb(1, 2, 3)));
        EXPECT_EQ(MaskBit(keyed, x, y), inside && p == bottom_left);
      }
    }
    for (int y = 0; y < src.height(); ++y) {
      for (int x = 0; x < src.width(); ++x) {
        const int mx = x - at.x(), my = y - at.y();
        const bool set = mx >= 0 && my >= 0 && mx < area.width() && my < area.height() && MaskBit(by_pixel, mx, my);
        EXPECT_EQ(painted.pixel(x, y), set ? qRgb(0x99, 0x66, 0x33) : src.pixel(x, y));
      }
    }
  }
}

TEST(CloudPainter, FiftyOneRingsShadeFromOneColourToTheOther) {
  struct Case { TColor from, to; bool flashing; int mode; };
  for (const Case c : {Case{0x10F0A0, 0x00FFFF, true, 2}, Case{0xFFFFFF, 0x000000, true, 2}, Case{0x204080, 0xC0A060, true, 2}}) {
    QImage image(700, 700, QImage::Format_RGB32);
    image.fill(Qt::black);
    {
      QPainter p(&image);
      PaintCloud(p, c.from, c.to, c.flashing, c.mode, 200, 200, 500, 500);
    }
    // Flashing phase 2: the box grows by half the rectangle on each side and
    // ring i is inset by i * 600 / 175.
    auto inset = [](int i) { return i * 600 / 175; };
    auto ring = [&](int i, int shift) {
      const int a = (c.from >> shift) & 0xFF, b = (c.to >> shift) & 0xFF;
      return a + i * (b - a) / 50;
    };
    int sampled = 0;
    for (int i = 0; i <= 50; ++i) {
      const int x = i == 50 ? 350 : 50 + inset(i) + 1;
      if (i < 50 && inset(i + 1) - inset(i) < 3) continue;
      ++sampled;
      EXPECT_EQ(PixelColor(image, x, 350), ring(i, 0) | (ring(i, 8) << 8) | (ring(i, 16) << 16)) << "ring " << i;
    }
    EXPECT_EQ(sampled, 51);
    EXPECT_EQ(PixelColor(image, 48, 350), 0);  // outside the box
  }
  // Not flashing, other phases: the rectangle inset by a sixth, 40 pixels
  // for 50 steps, so the last ring is empty and the centre shows ring 49.
  QImage image(120, 120, QImage::Format_RGB32);
  image.fill(Qt::black);
  QImage blended = image;
  {
    QPainter p(&image);
    PaintCloud(p, gui::clWhite, 0x0000FF, false, 0, 0, 0, 120, 120);
  }
  EXPECT_EQ(PixelColor(image, 60, 60), 0x0606FF);  // 255 + 49 * (0 - 255) / 50 = 6
  EXPECT_EQ(PixelColor(image, 19, 60), 0);
  PaintBlendedCloud(blended, 0x0000FF, false, 0, 0, 0, 120, 120);
  EXPECT_EQ(PixelColor(blended, 60, 60), 0x0000F8);  // weight 49 * 255 / 50 = 249; 255 * 249 / 256
  EXPECT_EQ(PixelColor(blended, 5, 5), 0);
}

QImage Picture(int w, int h, QRgb fill) {
  QImage image(w, h, QImage::Format_RGB32);
  image.fill(fill);
  return image;
}

TEST(GlyphCache, NumGlyphsSlotsAndSharedLists) {
  controls_test::App();
  TButtonGlyph glyph;
  for (auto [w, h, n] : {std::tuple{64, 16, 4}, {60, 16, 1}, {16, 16, 1}, {0, 0, 1}, {48, 16, 3}}) {
    glyph.AssignGlyph(Picture(w, h, qRgb(1, 1, 1)));
    EXPECT_EQ(glyph.NumGlyphs(), n) << w << "x" << h;
  }
  gui::TImageList images(16, 16);
  glyph.SetImages(&images);
  glyph.SetNumGlyphs(3);
  EXPECT_EQ(glyph.NumGlyphs(), 1);
  glyph.SetImageIndex(0);
  EXPECT_EQ(glyph.BuildStateImage(gsUp, 2, false).index, -1);  // index out of the list's range
  glyph.SetImages(nullptr);
  glyph.AssignGlyph(QImage());
  EXPECT_EQ(glyph.BuildStateImage(gsUp, 2, false).index, -1);  // empty glyph
  EXPECT_FALSE(TGlyphCache::Exists());

  // Slots: a freed slot is used again before the list grows.
  TGlyphList* list = TGlyphCache::AcquireList(10, 10, 1);
  EXPECT_EQ(TGlyphCache::AcquireList(10, 10, 3), list);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(list->AddImage(Picture(10, 10, qRgb(i, 0, 0))), i);
  list->ReleaseSlot(1);
  list->ReleaseSlot(1);
  EXPECT_EQ(list->UsedCount(), 2);
  EXPECT_EQ(list->AddMaskedImage(Picture(6, 6, qRgb(9, 9, 9)), TGlyphList::kBottomLeftMask), 1);
  EXPECT_EQ(list->Count(), 3);
  EXPECT_EQ(qAlpha(list->Image(1).pixel(5, 5)), 0);  // the whole picture was its own mask colour
  for (int i = 0; i < 3; ++i) list->ReleaseSlot(i);
  TGlyphCache::ReleaseList(list);
  EXPECT_FALSE(TGlyphCache::Exists());

  // Two buttons share a list; the cache outlives the first one's images.
  auto first = std::make_unique<TButtonGlyph>(), second = std::make_unique<TButtonGlyph>();
  first->AssignGlyph(Picture(16, 16, qRgb(0, 0, 0)));
  second->AssignGlyph(Picture(16, 16, qRgb(5, 5, 5)));
  const auto a = first->BuildStateImage(gsHot, 2, false), b = second->BuildStateImage(gsHot, 2, false);
  EXPECT_EQ(a.list, b.list);
  EXPECT_EQ(TGlyphCache::ListCount(), 1);
  first.reset();
  ASSERT_TRUE(TGlyphCache::Exists());
  EXPECT_EQ(second->BuildStateImage(gsHot, 2, false).list, b.list);
  EXPECT_NE(second->BuildStateImage(gsDisabled, 2, false).list, b.list);
  EXPECT_EQ(TGlyphCache::ListCount(), 2);
  second.reset();
  EXPECT_FALSE(TGlyphCache::Exists());
}

TEST(ButtonGlyph, ReliefAndDisabledImagesByPixels) {
  controls_test::App();
  const QRgb clear = qRgb(255, 0, 255), dot = qRgb(40, 80, 120);
  QImage picture = Picture(8, 8, clear);
  picture.setPixel(4, 4, dot);
  const TColor light = 0x00FF00, dark = 0x0000FF;
  // One opaque pixel with relief 1: which neighbour gets which colour.
  for (TButtonState state : {gsHot, gsDown}) {
    TButtonGlyph glyph;
    glyph.SetColors(light, dark);
    glyph.AssignGlyph(picture);
    const auto built = glyph.BuildStateImage(state, 1, false);
    const QImage image = built.list->Image(built.index);
    const TColor tl = state == gsHot ? light : dark, br = state == gsHot ? dark : light;
    const QRgb centre = state == gsHot ? qRgb(50, 100, 150) : dot;  // hot states brighten the glyph
    EXPECT_EQ(image.pixel(5, 5), centre);
    for (auto [dx, dy, color] : {std::tuple{1, 0, br}, {0, 1, br}, {1, 1, br}, {-1, 0, tl}, {0, -1, tl}, {-1, -1, tl}})
      EXPECT_EQ(PixelColor(image, 5 + dx, 5 + dy), color) << state << ": " << dx << "," << dy;
    EXPECT_EQ(qAlpha(image.pixel(6, 4)), 0);
    EXPECT_EQ(qAlpha(image.pixel(4, 6)), 0);
  }
  // Two sub-images: the second one recoloured, white to highlight, mid-grey to shadow.
  QImage two = Picture(16, 8, clear);
  two.setPixel(9, 1, qRgb(255, 255, 255));
  two.setPixel(10, 1, qRgb(128, 128, 128));
  two.setPixel(11, 1, qRgb(200, 0, 0));
  TButtonGlyph pair;
  pair.SetColors(light, dark);
  pair.AssignGlyph(two);
  auto built = pair.BuildStateImage(gsDisabled, 2, false);
  QImage image = built.list->Image(built.index);
  EXPECT_EQ(image.size(), QSize(8 + 1 + 4, 8 + 1 + 4));
  EXPECT_EQ(PixelColor(image, 2 + 1, 2 + 1), light);
  EXPECT_EQ(PixelColor(image, 2 + 2, 2 + 1), dark);
  EXPECT_EQ(PixelColor(image, 2 + 3, 2 + 1), 0x0000C8);
  EXPECT_EQ(qAlpha(image.pixel(2, 2)), 0);
  // One sub-image: embossed; white and silver drop out (old style: only black counts).
  QImage one = Picture(8, 8, clear);
  one.setPixel(1, 1, qRgb(0, 0, 0));
  one.setPixel(4, 4, qRgb(255, 255, 255));
  one.setPixel(5, 5, qRgb(192, 192, 192));
  one.setPixel(6, 1, qRgb(200, 0, 0));
  for (bool old_style : {false, true}) {
    TButtonGlyph glyph;
    glyph.OldDisabledStyle = old_style;
    glyph.SetColors(light, dark);
    glyph.AssignGlyph(one);
    built = glyph.BuildStateImage(gsDisabled, 1, false);
    image = built.list->Image(built.index);
    EXPECT_EQ(PixelColor(image, 2, 2), dark);
    EXPECT_EQ(PixelColor(image, 3, 3), light);
    EXPECT_EQ(qAlpha(image.pixel(5, 5)), 0);
    EXPECT_EQ(qAlpha(image.pixel(6, 6)), 0);
    EXPECT_EQ(qAlpha(image.pixel(7, 2)), old_style ? 0 : 255);
  }
}

// The layout's formulas, written out case by case.
TEST(ButtonGlyph, LayoutOverEveryCombination) {
  const QRect client(3, 5, 75, 40);
  const QPoint offset(1, 1);
  const int R = 2, gw = 16, gh = 14, tw = 30, th = 13;
  int checked = 0;
  for (int layout = 0; layout < 5; ++layout)
    for (int margin : {-1, 4})
      for (int spacing : {-1, 4})
        for (bool has_glyph : {false, true})
          for (bool has_text : {false, true})
            for (bool arrow : {false, true}) {
              TLayoutInput in;
              in.client = client;
              in.offset = offset;
              in.layout = static_cast<TButtonLayoutPlus>(layout);
              in.margin = margin;
              in.spacing = spacing;
              in.relief = R;
              in.glyph = has_glyph ? QSize(gw, gh) : QSize();
              in.arrow = arrow;
              if (has_text) in.measure = [&](int) { return QSize(tw, th); };
              const TLayout got = TButtonGlyph::ComputeLayout(in);

              const int G_w = has_glyph ? gw : 0, G_h = has_glyph ? gh : 0;
              const int T_w = has_text ? tw : 0, T_h = has_text ? th : 0;
              const int A_w = arrow ? 9 : 0, A_h = arrow ? 3 : 0;
              int lay = (!has_glyph && layout >= 2) ? 0 : layout;
              const bool wide = lay <= 1 || lay == 4;
              const int E = wide ? 75 : 40, GE = wide ? G_w : G_h, TE = wide ? T_w : T_h, AE = wide ? A_w : A_h;
              int m = margin, s = (has_glyph && has_text) ? spacing : 0;
              if (lay == 4 && m == -1) {
                if (s == -1) s = 0;
                m = (E - ((GE > TE ? GE : TE) + AE + 2 * R) + 1) / 2;
              } else if (m == -1 && s == -1) {
                m = s = (E - (GE + TE + AE)) / 3;
              } else if (m == -1) {
                m = (E - (GE + s + TE + AE) + 1) / 2 - R;
              } else if (s == -1) {
                s = (E - (m + GE + AE) - TE) / 2;
              }
              int gx = 0, gy = 0, tx = 0, ty = 0, ax = 0;
              const int mid_gx = (75 - G_w + 1) / 2 - R, mid_gy = (40 - G_h + 1) / 2 - R;
              const int mid_tx = (75 - T_w + 1) / 2, mid_ty = (40 - T_h + 1) / 2;
              if (lay == 0) gx = m, gy = mid_gy, tx = m + G_w + s + 2 * R, ty = mid_ty, ax = tx + T_w;
              if (lay == 1) ax = 75 - m - A_w, gx = ax - G_w - R, gy = mid_gy, tx = gx - s - T_w, ty = mid_ty;
              if (lay == 2) gx = mid_gx, gy = m, tx = mid_tx, ty = m + G_h + s, ax = tx + T_w;
              if (lay == 3) gx = mid_gx, gy = 40 - m - G_h - R, tx = mid_tx, ty = gy - s - T_h, ax = tx + T_w;
              if (lay == 4) {
                if (G_w <= T_w) tx = m + s + R, gx = m + (T_w - G_w) / 2;
                else gx = m, tx = m + s + R + (G_w - T_w) / 2;
                const int top = (40 - ((G_h > T_h ? G_h : T_h) + 2 * R)) / 2;
                if (G_h >= T_h) gy = top, ty = top + (G_h - T_h) / 2 + R;
                else ty = top + R, gy = top + (T_h - G_h) / 2;
                ax = tx + T_w;
              }
              const int ay = G_h ? gy + R + (G_h - A_h + 1) / 2 : ty + (T_h - A_h + 1) / 2;
              const int sx = 3 + 1, sy = 5 + 1;
              SCOPED_TRACE(testing::Message() << "layout " << layout << " margin " << margin << " spacing " << spacing
                                              << " glyph " << has_glyph << " text " << has_text << " arrow " << arrow);
              EXPECT_EQ(got.glyph, QPoint(gx + sx, gy + sy));
              EXPECT_EQ(got.text, QRect(tx + sx, ty + sy, T_w, T_h));
              EXPECT_EQ(got.arrow, QPoint(ax + sx, ay + sy));
              ++checked;
            }
  EXPECT_EQ(checked, 160);
}

}  // namespace
