// The page control's tab strip against an independent rendering: a
// reference painter below, written with plain QPainter calls and per-pixel
// loops, draws what each tab should look like from the control's state
// (tab rectangles, selection, hot tab and phase, colours, glyphs, captions);
// grab() must equal it pixel for pixel over cases picked pairwise from the
// painting options. A mismatch writes expected, actual and difference PNGs
// to the test's working folder.
#include <gtest/gtest.h>

#include <QDir>
#include <QFontMetrics>
#include <QPainter>
#include <QTest>
#include <array>
#include <functional>
#include <set>
#include <vector>

#include "controls/page_control.h"
#include "platform/gui/colors.h"
#include "tests/controls/controls_test_util.h"

namespace {

using namespace controls;

QColor Q(TColor c) {
  const TColor rgb = gui::ColorToRGB(c);
  return QColor(rgb & 0xFF, (rgb >> 8) & 0xFF, (rgb >> 16) & 0xFF);
}

// ---- the reference painter ----

struct RefPage {
  TColor color;
  TColor cloud;
  QImage glyph, unselected;  // 16 by 16 RGB32 or null
  QImage buffer;             // control-sized background, or null
  QString caption;
  bool visible;
};

struct RefControl {
  QSize size;
  TTabStyle style;
  TTabPosition position;
  TTabColorization tab_colors;
  TCloudColorization cloud_colors;
  bool show_glyphs;
  unsigned styles;
  TDrawStyle text_style, glyph_style;
  TColor color, unselected, selected, hot_text, cloud, font_color;
  int current, hot, phase;
  QFont font;
  std::vector<RefPage> pages;
  std::vector<QRect> tabs;  // control coordinates
};

QRgb KeyOf(const QImage& g) { return g.pixel(0, 15) & 0xFFFFFF; }

QImage PerPixel(const QImage& g, const std::function<int(int)>& f, bool grey) {
  QImage out = g.copy();
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) {
      const QRgb p = g.pixel(x, y);
      if (grey) {
        const int v = (qBlue(p) * 29 + qGreen(p) * 150 + qRed(p) * 77) >> 8;
        out.setPixel(x, y, qRgb(v, v, v));
      } else {
        out.setPixel(x, y, qRgb(f(qRed(p)), f(qGreen(p)), f(qBlue(p))));
      }
    }
  return out;
}
QImage Grey(const QImage& g) { return PerPixel(g, nullptr, true); }
QImage Bright(const QImage& g) {
  return PerPixel(g, [](int c) { return c == 0 ? 50 : std::min(255, c + c / 4); }, false);
}

// Draws pixels of image at (x, y) where mask_source is not its key colour.
void DrawMasked(QImage& tab, int x, int y, const QImage& image, const QImage& mask_source) {
  for (int j = 0; j < 16; ++j)
    for (int i = 0; i < 16; ++i)
      if ((mask_source.pixel(i, j) & 0xFFFFFF) != KeyOf(mask_source) && tab.rect().contains(x + i, y + j))
        tab.setPixel(x + i, y + j, image.pixel(i, j) | 0xFF000000);
}

void Shape(QImage& tab, int x, int y, const QImage& glyph, TColor color) {
  QImage solid(16, 16, QImage::Format_RGB32);
  solid.fill(Q(color));
  DrawMasked(tab, x, y, solid, glyph);
}

void Ellipses(QImage& target, QColor from, QColor to, int phase, int l, int t, int r, int b) {
  const int w = r - l, h = b - t;
  int el = l, et = t, er = r, eb = b, sw = w / 2, sh = h / 2, div = 50;
  if (phase == 2) el -= w / 2, et -= h / 2, er += w / 2, eb += h / 2, div = 175;
  if (phase == 1 || phase == 3) el -= w / 3, et -= h / 3, er += w / 3, eb += h / 3, div = 100;
  if (phase != 0) sw = er - el, sh = eb - et;
  QPainter p(&target);
  p.setPen(Qt::NoPen);
  for (int i = 0; i <= 50; ++i) {
    p.setBrush(QColor(from.red() + i * (to.red() - from.red()) / 50, from.green() + i * (to.green() - from.green()) / 50,
                      from.blue() + i * (to.blue() - from.blue()) / 50));
    const int a = el + i * sw / div, bt = et + i * sh / div, c = er - i * sw / div, d = eb - i * sh / div;
    if (c > a && d > bt) p.drawEllipse(QRect(a, bt, c - a, d - bt));
  }
}

// Tab colour and buffer for a page drawn selected or not.
TColor ColourOf(const RefControl& c, int page, bool selected, const QImage** buffer) {
  const RefPage& pg = c.pages[page];
  *buffer = nullptr;
  if (c.tab_colors == tcNone) return c.color;
  if (c.tab_colors != tcPage && !selected) return c.unselected;
  *buffer = pg.buffer.isNull() ? nullptr : &pg.buffer;
  return c.tab_colors == tcActive ? c.selected : pg.color;
}

void RefTab(const RefControl& c, QPainter& canvas, int page) {
  const RefPage& pg = c.pages[page];
  const bool sel = page == c.current, hot = page == c.hot;
  const bool vertical = c.position == tpLeft || c.position == tpRight;
  QRect R = c.tabs[page];
  int L = R.x(), T = R.y(), Rr = R.x() + R.width(), B = R.y() + R.height(), dy = 0;
  if (c.style != tsTabs) {
    L -= 2, Rr += 2, dy = sel ? -1 : -2;
  } else if (c.position == tpBottom) {
    if (sel) B += 2;
    else dy = -4, T -= 2, B -= 2;
  } else if (c.position == tpLeft) {
    Rr += 2;
  } else if (c.position == tpRight) {
    L -= 2;
    if (!sel) dy = -3;
  }
  const QImage* buffer;
  const TColor colour = ColourOf(c, page, sel, &buffer);
  int W = Rr - L, H = B - T + 2, sx = 0;
  if (sel) sx = 2, W -= 4, H -= 2;
  QImage tab(W, H, QImage::Format_RGB32);
  if (buffer) {
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x) {
        const QPoint at(L + sx + x, T + y);
        tab.setPixel(x, y, buffer->rect().contains(at) ? buffer->pixel(at) : 0xFF000000);
      }
  } else {
    tab.fill(Q(colour));
  }
  if (c.cloud_colors != ccNone && hot) {
    const TColor cloud = c.cloud_colors == ccPage ? pg.cloud : c.cloud;
    const int inset = c.position == tpBottom ? 2 : 0;
    int e = 0;
    if (c.style != tsTabs) e = sel ? 6 : 2;
    else if (!sel) e = 4;
    else if (c.position == tpLeft) e = -2;
    int l = 2, t = dy + inset + 4, r = W - 6, b = H + dy + e - 6;
    if (c.position == tpLeft) l = dy, t = 2, r = W + dy + e, b = H - 2;
    if (c.position == tpRight) l = 4 - e, t = 2, r = W + dy, b = H - 6;
    if (pg.buffer.isNull()) {
      Ellipses(tab, Q(colour), Q(cloud), c.phase, l, t, r, b);
    } else {
      QImage mask(W, H, QImage::Format_RGB32);
      mask.fill(Qt::black);
      Ellipses(mask, Qt::black, Qt::white, c.phase, l, t, r, b);
      const QColor k = Q(cloud);
      for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
          const int a = qGreen(mask.pixel(x, y));
          const QRgb p = tab.pixel(x, y);
          auto mix = [&](int v, int kv) { return (v * (256 - a)) / 256 + (kv * a) / 256; };
          tab.setPixel(x, y, qRgb(mix(qRed(p), k.red()), mix(qGreen(p), k.green()), mix(qBlue(p), k.blue())));
        }
    }
  }
  const QFontMetrics fm(c.font);
  const int w = fm.horizontalAdvance(pg.caption);
  const int cx = (c.styles & tabCenterText) ? (W - w - (c.show_glyphs ? 20 : 0)) / 2 : 0;
  int tx = 4;
  if (c.show_glyphs) {
    QImage normal = pg.glyph.isNull() ? QImage(16, 16, QImage::Format_RGB32) : pg.glyph;
    if (pg.glyph.isNull()) normal.fill(Qt::black);
    QImage image, mask = normal;
    if (hot && sel) {
      image = Bright(normal);
    } else if (hot) {
      image = pg.unselected.isNull() ? Bright(normal) : Bright(pg.unselected);
    } else if (sel) {
      image = normal;
    } else {
      image = pg.unselected.isNull() ? Grey(normal) : pg.unselected;
      if (!pg.unselected.isNull()) mask = pg.unselected;
    }
    int gx = cx + 2, gy = dy + 4;
    if (c.styles & tabLabelLeft) gx = w + cx + 8;
    else tx = 20;
    if (vertical) {
      std::swap(gx, gy);
      if (c.position == tpLeft) {
        gy = (B - T) - gy - 16;
        if (sel) tx += 3, gy -= 3, gx -= 1, dy -= 1;
      } else if (sel) {
        tx += 3, gy += 3;
      }
    }
    if (hot && c.glyph_style == dsShadow) Shape(tab, gx + 1, gy + 1, normal, gui::clBtnShadow), Shape(tab, gx, gy + 1, normal, gui::clBtnShadow), Shape(tab, gx + 1, gy, normal, gui::clBtnShadow);
    if (hot && (c.glyph_style == dsRaised || c.glyph_style == dsInset)) {
      const TColor a = c.glyph_style == dsRaised ? gui::clBtnHighlight : gui::clBtnShadow;
      const TColor z = c.glyph_style == dsRaised ? gui::clBtnShadow : gui::clBtnHighlight;
      for (int d : {-1, 1})
        for (QPoint o : {QPoint(d, d), QPoint(0, d), QPoint(d, 0)}) Shape(tab, gx + o.x(), gy + o.y(), normal, d < 0 ? a : z);
    }
    DrawMasked(tab, gx, gy, image, mask);
  }
  int x = cx + tx, y = dy + 4;
  if (vertical) {
    x = dy + 4, y = cx + tx;
    if (c.position == tpRight) x = (Rr - L) - 6 - dy;
    if (c.position == tpLeft) y = (B - T) - y;
  }
  QPainter p(&tab);
  p.setFont(c.font);
  auto text = [&](int px, int py, TColor colour) {
    p.resetTransform();
    p.setPen(Q(colour));
    p.translate(px, py);
    if (c.position == tpLeft) p.rotate(270);
    if (c.position == tpRight) p.rotate(90);
    p.drawText(0, fm.ascent(), pg.caption);
  };
  if (hot) {
    const TColor light = c.text_style == dsInset ? gui::clBtnShadow : gui::clBtnHighlight;
    const TColor dark = c.text_style == dsInset ? gui::clBtnHighlight : gui::clBtnShadow;
    if (c.text_style == dsRaised || c.text_style == dsInset) {
      text(x - 1, y - 1, light), text(x - 1, y, light), text(x, y - 1, light);
      text(x + 1, y + 1, dark), text(x + 1, y, dark), text(x, y + 1, dark);
    }
    if (c.text_style == dsShadow) text(x + 1, y + 1, gui::clBtnShadow);
    text(x, y, c.hot_text);
  } else {
    text(x, y, c.font_color);
  }
  p.end();
  canvas.drawImage(L + sx, T, tab);
}

QImage Reference(const RefControl& c) {
  QImage out(c.size, QImage::Format_RGB32);
  out.fill(Q(c.color));
  QPainter p(&out);
  const QImage* buffer;
  if (c.tab_colors != tcNone) {
    for (size_t i = 0; i < c.pages.size(); ++i) {
      const QRect r = c.tabs[i];
      if (!c.pages[i].visible || r.x() < 0 || r.y() < 0 || r.x() + 10 >= c.size.width() || r.y() >= c.size.height())
        continue;
      const TColor colour = ColourOf(c, i, int(i) == c.current, &buffer);
      if (buffer) p.drawImage(r.topLeft(), *buffer, r);
      else p.fillRect(r, Q(colour));
    }
  }
  for (size_t i = 0; i < c.pages.size(); ++i) {
    if (!c.pages[i].visible) continue;
    RefTab(c, p, i);
    if (c.style == tsButtons) {
      p.setPen(Q(int(i) == c.current ? gui::clWindowText : gui::clBtnShadow));
      p.setBrush(Qt::NoBrush);
      p.drawRect(c.tabs[i].adjusted(0, 0, -1, -1));
    }
  }
  return out;
}

// ---- cases ----

// Options: style, position, tab colours, cloud colours, hot (none or phase
// 0..3), glyphs, caption layout (plain, centred, label left), draw style,
// hidden page.
constexpr std::array<int, 9> kLevels = {3, 4, 4, 3, 5, 2, 3, 4, 2};
using Case = std::array<int, 9>;

// Greedy pairwise cover from a fixed pseudo-random candidate stream.
std::vector<Case> PairwiseCases() {
  std::set<std::array<int, 4>> uncovered;
  for (int a = 0; a < 9; ++a)
    for (int b = a + 1; b < 9; ++b)
      for (int x = 0; x < kLevels[a]; ++x)
        for (int y = 0; y < kLevels[b]; ++y) uncovered.insert({a, b, x, y});
  std::vector<Case> cases;
  unsigned seed = 12345;
  auto next = [&] { return (seed = seed * 1103515245u + 12345u) >> 16; };
  while (!uncovered.empty()) {
    Case best{};
    int best_gain = -1;
    for (int k = 0; k < 60; ++k) {
      Case c;
      for (int d = 0; d < 9; ++d) c[d] = next() % kLevels[d];
      int gain = 0;
      for (int a = 0; a < 9; ++a)
        for (int b = a + 1; b < 9; ++b) gain += uncovered.count({a, b, c[a], c[b]});
      if (gain > best_gain) best_gain = gain, best = c;
    }
    for (int a = 0; a < 9; ++a)
      for (int b = a + 1; b < 9; ++b) uncovered.erase({a, b, best[a], best[b]});
    cases.push_back(best);
  }
  return cases;
}

QImage Glyph(QRgb key, QRgb ink, int seed) {
  QImage g(16, 16, QImage::Format_RGB32);
  g.fill(key);
  for (int y = 2; y < 14; ++y)
    for (int x = 2; x < 14; ++x)
      if ((x * 3 + y * seed) % 5 != 0) g.setPixel(x, y, qRgb((qRed(ink) + x * 9) & 255, qGreen(ink), (qBlue(ink) + y * 11) & 255));
  return g;
}

void SaveDiff(const QImage& expected, const QImage& actual, const QString& name) {
  QImage diff(expected.size(), QImage::Format_RGB32);
  for (int y = 0; y < diff.height(); ++y)
    for (int x = 0; x < diff.width(); ++x)
      diff.setPixel(x, y, expected.pixel(x, y) == actual.pixel(x, y) ? qRgb(0, 0, 0) : qRgb(255, 0, 255));
  expected.save(name + "-expected.png");
  actual.save(name + "-actual.png");
  diff.save(name + "-difference.png");
}

TEST(PageControlPixels, TabStripEqualsTheReferenceRendering) {
  controls_test::App();
  const std::vector<Case> cases = PairwiseCases();
  ASSERT_GE(cases.size(), 20u);
  ASSERT_LE(cases.size(), 45u);
  int failures = 0;
  for (size_t n = 0; n < cases.size(); ++n) {
    const Case& k = cases[n];
    QWidget window;
    window.resize(340, 240);
    auto* c = new TKelmPageControl(&window);
    c->setGeometry(10, 10, 320, 220);
    QFont font("Liberation Sans");
    font.setPixelSize(12);
    c->setFont(font);
    RefControl ref;
    ref.size = c->size();
    ref.style = static_cast<TTabStyle>(k[0]);
    ref.position = static_cast<TTabPosition>(k[1]);
    ref.tab_colors = static_cast<TTabColorization>(k[2]);
    ref.cloud_colors = static_cast<TCloudColorization>(k[3]);
    ref.show_glyphs = k[5] == 1;
    ref.styles = k[6] == 1 ? unsigned{tabCenterText} : k[6] == 2 ? unsigned{tabLabelLeft} : 0u;
    ref.text_style = ref.glyph_style = static_cast<TDrawStyle>(k[7]);
    ref.color = 0xD8D8D8, ref.unselected = 0x909090, ref.selected = 0xF0E0D0;
    ref.hot_text = 0xC00000, ref.cloud = 0x40FFFF, ref.font_color = 0x101010;
    ref.font = font;
    const bool hidden = k[8] == 1;
    ref.current = n % 2 == 0 ? 0 : 2;
    ref.hot = k[4] == 0 ? -1 : (n % 3 == 0 ? ref.current : 2 - ref.current);
    ref.phase = k[4] == 0 ? 0 : k[4] - 1;
    c->SetStyle(ref.style);
    c->SetTabPos(ref.position);
    c->SetTabColorization(ref.tab_colors);
    c->SetCloudColorization(ref.cloud_colors);
    c->SetShowGlyphs(ref.show_glyphs);
    c->SetStyles(ref.styles);
    c->SetHotTrackTextStyle(ref.text_style);
    c->SetHotTrackGlyphtStyle(ref.glyph_style);
    c->SetColor(ref.color);
    c->SetColorUnselected(ref.unselected);
    c->SetColorSelected(ref.selected);
    c->SetHotTrackColor(ref.hot_text);
    c->SetHotTrackCloudColor(ref.cloud);
    c->SetFontColor(ref.font_color);
    c->HotTrack = true;
    const QString captions[3] = {"First", "Second page", "Third"};
    for (int i = 0; i < 3; ++i) {
      auto* page = new TKelmTabSheet;
      c->AddPage(page, captions[i].toStdString());
      RefPage rp{ref.color, 0x00FFFF, {}, {}, {}, captions[i], !(hidden && i == 1)};
      if (i == 0) {
        rp.glyph = Glyph(qRgb(255, 0, 255), qRgb(200, 60, 0), 2);
        page->SetGlyph(TKelmTabSheet::gkNormal, rp.glyph);
        page->SetColor(rp.color = 0xC0F0A0);
        page->SetHotTrackCloudColor(rp.cloud = 0xFF80FF);
      } else if (i == 1) {
        rp.glyph = Glyph(qRgb(0, 128, 0), qRgb(10, 90, 200), 3);
        rp.unselected = Glyph(qRgb(0, 128, 0), qRgb(120, 120, 120), 4);
        page->SetGlyph(TKelmTabSheet::gkNormal, rp.glyph);
        page->SetGlyph(TKelmTabSheet::gkUnselected, rp.unselected);
      } else {
        QImage picture(8, 6, QImage::Format_RGB32);
        for (int y = 0; y < 6; ++y)
          for (int x = 0; x < 8; ++x) picture.setPixel(x, y, qRgb(x * 30, 200 - y * 30, 90));
        page->SetBackgroundBitmap(picture);
        rp.buffer = QImage(ref.size, QImage::Format_RGB32);
        rp.buffer.fill(Q(rp.color));
        QPainter(&rp.buffer).drawImage(QRect(2, 2, ref.size.width() - 4, ref.size.height() - 4), picture);
      }
      ref.pages.push_back(rp);
    }
    if (hidden) c->SetTabVisible(1, false);
    c->setCurrentIndex(ref.current);
    window.show();
    QTest::qWait(10);
    for (int i = 0; i < 3; ++i) ref.tabs.push_back(c->TabRect(i));
    if (ref.hot >= 0) {
      QEnterEvent enter(QPointF(1, 1), QPointF(1, 1), c->mapToGlobal(QPointF(1, 1)));
      QCoreApplication::sendEvent(c, &enter);
      QWidget* bar = c->tabBar();
      const QPoint at = bar->mapFrom(c, ref.tabs[ref.hot].center());
      QMouseEvent move(QEvent::MouseMove, at, bar->mapToGlobal(at), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
      QCoreApplication::sendEvent(bar, &move);
      bar->repaint();
      // Phases 1, 2, 3 come 13, 20 and 27 ticks after the mouse rests.
      const int ticks[4] = {0, 13, 20, 27};
      for (int t = 0; t < ticks[ref.phase]; ++t) TKelmPageControl::Poller().TickForTest();
      ASSERT_EQ(c->FlashPhase(), ref.phase);
      ASSERT_EQ(c->HotPage(), ref.hot);
    }
    const QRect strip = c->tabBar()->geometry();
    const QImage actual = c->grab(strip).toImage().convertToFormat(QImage::Format_RGB32);
    const QImage expected = Reference(ref).copy(strip);
    if (actual != expected) {
      ++failures;
      SaveDiff(expected, actual, QDir::current().filePath(QString("page-control-case-%1").arg(n)));
      ADD_FAILURE() << "case " << n << ": " << k[0] << k[1] << k[2] << k[3] << k[4] << k[5] << k[6] << k[7] << k[8];
    }
  }
  EXPECT_EQ(failures, 0) << "of " << cases.size();
}

// QV_PAGES_SCREENSHOT names a PNG file: a window with a picture page, glyphs
// and a pulsing hot tab is kept there (taken under Xvfb for the README).
TEST(PageControlPixels, Screenshot) {
  if (!qEnvironmentVariableIsSet("QV_PAGES_SCREENSHOT")) GTEST_SKIP() << "QV_PAGES_SCREENSHOT not set";
  controls_test::App();
  QWidget window;
  window.resize(420, 220);
  auto* c = new TKelmPageControl(&window);
  c->setGeometry(10, 10, 400, 200);
  c->HotTrack = true;
  const char* captions[] = {"Baptisms", "Marriages", "Burials", "Notes"};
  const QRgb inks[] = {qRgb(30, 90, 200), qRgb(200, 40, 60), qRgb(60, 60, 60), qRgb(20, 150, 40)};
  for (int i = 0; i < 4; ++i) {
    auto* page = new TKelmTabSheet;
    c->AddPage(page, captions[i]);
    page->SetGlyph(TKelmTabSheet::gkNormal, Glyph(qRgb(255, 0, 255), inks[i], i + 2));
  }
  QImage picture(40, 40, QImage::Format_RGB32);
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 40; ++x) picture.setPixel(x, y, qRgb(230 - y, 220 - x / 2, 170 + (x + y) / 3));
  c->Page(0)->SetBackgroundBitmap(picture);
  c->Page(1)->SetColor(0xD0F0F0);
  window.show();
  QTest::qWait(50);
  QEnterEvent enter(QPointF(1, 1), QPointF(1, 1), c->mapToGlobal(QPointF(1, 1)));
  QCoreApplication::sendEvent(c, &enter);
  QWidget* bar = c->tabBar();
  const QPoint at = bar->mapFrom(c, c->TabRect(2).center());
  QMouseEvent move(QEvent::MouseMove, at, bar->mapToGlobal(at), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
  QCoreApplication::sendEvent(bar, &move);
  bar->repaint();
  for (int t = 0; t < 20; ++t) TKelmPageControl::Poller().TickForTest();
  ASSERT_EQ(c->FlashPhase(), 2);
  ASSERT_TRUE(window.grab().save(qEnvironmentVariable("QV_PAGES_SCREENSHOT")));
}

}  // namespace
