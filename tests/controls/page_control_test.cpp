// The page control and its sheets under synthetic input: the flashing
// schedule against a tick model, sound choice, mouse hot tracking, the
// sheets' background buffer and transparency by pixels.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QPainter>
#include <QTest>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "controls/page_control.h"
#include "tests/controls/controls_test_util.h"

namespace {

using namespace controls;
using controls_test::PixelColor;

// Logs every Play as "<name>".
struct RecordingSound : TKelmCustomSound {
  RecordingSound(std::vector<std::string>* log, std::string name, bool empty = false)
      : TKelmCustomSound(nullptr), log(log), name(std::move(name)), empty(empty) {}
  void Play() override { log->push_back(name); }
  bool Empty() const override { return empty; }
  std::vector<std::string>* log;
  std::string name;
  bool empty;
};

struct Host {
  explicit Host(int pages = 3, QSize size = {300, 160}) {
    window.resize(size.width() + 20, size.height() + 20);
    control = new TKelmPageControl(&window);
    control->setGeometry(10, 10, size.width(), size.height());
    control->HotTrack = true;
    for (int i = 0; i < pages; ++i) {
      auto* page = new TKelmTabSheet;
      control->AddPage(page, "Tab " + std::to_string(i));
    }
    window.show();
    QTest::qWait(20);
  }
  TKelmTabSheet* Page(int i) { return control->Page(i); }
  QPoint TabCentre(int page) { return control->TabRect(page).center(); }
  QWidget* Bar() { return control->tabBar(); }
  void Hover(int page) {
    QEnterEvent e(QPointF(1, 1), QPointF(1, 1), control->mapToGlobal(QPointF(1, 1)));
    QCoreApplication::sendEvent(control, &e);
    const QPoint at = Bar()->mapFrom(control, TabCentre(page));
    QMouseEvent move(QEvent::MouseMove, at, Bar()->mapToGlobal(at), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(Bar(), &move);
  }
  void Leave() {
    QEvent e(QEvent::Leave);
    QCoreApplication::sendEvent(control, &e);
  }
  void Tick(int n = 1) {
    for (int i = 0; i < n; ++i) TKelmPageControl::Poller().TickForTest();
  }
  QApplication& app = controls_test::App();
  QWidget window;
  TKelmPageControl* control;
  std::vector<std::string> log;
};

TEST(PageControl, DefaultsAndDelaySetters) {
  Host host(1);
  TKelmPageControl& c = *host.control;
  EXPECT_EQ(c.FlashedDelay(), 6);
  EXPECT_EQ(c.FlashingDelay(), 6);
  EXPECT_EQ(c.UnFlashedDelay(), 200);
  c.SetFlashedDelay(6), c.SetFlashingDelay(9), c.SetUnFlashedDelay(-5);
  EXPECT_EQ(c.FlashedDelay(), 10);
  EXPECT_EQ(c.FlashingDelay(), 10);
  EXPECT_EQ(c.UnFlashedDelay(), 10);
  c.SetFlashedDelay(11);
  EXPECT_EQ(c.FlashedDelay(), 11);
}

// The phase schedule against a model: 12 countdown ticks then, once
// painted, phases 1, 2, 3, 0 lasting FlashingDelay + 1, FlashedDelay + 1,
// FlashingDelay + 1 and UnFlashedDelay + 1 ticks; a pulse on entering 2,
// the first one muted after a highlight sound.
TEST(PageControl, FlashingScheduleMatchesModel) {
  for (bool with_highlight : {false, true}) {
    Host host;
    RecordingSound pulse(&host.log, "pulse"), highlight(&host.log, "highlight");
    host.control->PulseSound.Set(&pulse);
    if (with_highlight) host.control->HighlightSound.Set(&highlight);
    host.Hover(1);
    ASSERT_EQ(host.control->HotPage(), 1);
    EXPECT_EQ(host.log, with_highlight ? std::vector<std::string>{"highlight"} : std::vector<std::string>{});
    host.log.clear();
    // Not painted yet: the countdown runs out but no phase advances.
    host.Tick(40);
    EXPECT_EQ(host.control->FlashPhase(), 0);
    EXPECT_TRUE(host.log.empty());
    // Rest again, paint, and follow the model for three cycles.
    host.Leave();
    host.Hover(1);
    host.log.clear();
    host.control->repaint();
    host.control->tabBar()->repaint();
    ASSERT_TRUE(host.control->Painted());
    std::vector<int> pulses;
    int model_phase = 0, model_count = 12;
    for (int tick = 1; tick <= 700; ++tick) {
      host.Tick();
      if (model_count != 0) {
        --model_count;
      } else {
        model_phase = (model_phase + 1) % 4;
        model_count = model_phase == 0 ? 200 : 6;
      }
      ASSERT_EQ(host.control->FlashPhase(), model_phase) << tick;
      if (host.log.size() > pulses.size()) pulses.push_back(tick);
    }
    const std::vector<int> expected = with_highlight ? std::vector<int>{242, 464, 686} : std::vector<int>{20, 242, 464, 686};
    EXPECT_EQ(pulses, expected) << with_highlight;
  }
}

TEST(PageControl, RestartsOffAndSelection) {
  Host host;
  TKelmPageControl& c = *host.control;
  host.Hover(0);
  c.tabBar()->repaint();
  host.Tick(13);
  EXPECT_EQ(c.FlashPhase(), 1);
  // A new hot tab and a selection change restart at phase 0, countdown 12.
  host.Hover(2);
  EXPECT_EQ(c.FlashPhase(), 0);
  EXPECT_EQ(c.Countdown(), 12);
  EXPECT_FALSE(c.Painted());
  c.tabBar()->repaint();
  host.Tick(13);
  EXPECT_EQ(c.FlashPhase(), 1);
  c.setCurrentIndex(2);
  EXPECT_EQ(c.FlashPhase(), 0);
  EXPECT_EQ(c.Countdown(), 12);
  // Flashing off: ticks change nothing.
  c.Flashing = false;
  host.Tick(100);
  EXPECT_EQ(c.FlashPhase(), 0);
  EXPECT_EQ(c.Countdown(), 12);
  // Leaving clears the hot tab.
  host.Leave();
  EXPECT_EQ(c.HotPage(), -1);
}

TEST(PageControl, SoundChoice) {
  Host host;
  TKelmPageControl& c = *host.control;
  auto own = std::make_unique<RecordingSound>(&host.log, "own-select");
  RecordingSound page_select(&host.log, "page-select"), pulse(&host.log, "pulse"), empty(&host.log, "empty", true);
  // No tab hot: nothing sounds.
  c.PlaySelectWave();
  EXPECT_TRUE(host.log.empty());
  host.Hover(1);
  // Neither sound playable (one empty): select falls back to the pulse.
  c.PulseSound.Set(&pulse);
  c.SelectSound.Set(&empty);
  c.PlaySelectWave();
  c.SelectSound.Set(own.get());
  c.PlaySelectWave();
  host.Page(1)->SelectSound.Set(&page_select);  // the page's sound wins
  c.PlaySelectWave();
  host.Page(1)->SelectSound.Set(&empty);  // an empty page sound does not
  c.PlaySelectWave();
  c.EnableSounds = false;
  c.PlaySelectWave();
  c.PlayPulseWave();
  c.EnableSounds = true;
  EXPECT_EQ(host.log, (std::vector<std::string>{"pulse", "own-select", "page-select", "own-select"}));
  // A destroyed component is cleared everywhere it was referenced.
  host.Page(2)->SelectSound.Set(own.get());
  own.reset();
  EXPECT_EQ(c.SelectSound.Get(), nullptr);
  EXPECT_EQ(host.Page(2)->SelectSound.Get(), nullptr);
  EXPECT_FALSE(c.HaveSelectWave());
  // Tab numbers count visible tabs; past them there is no page.
  c.SetTabVisible(0, false);
  EXPECT_EQ(c.ConvertTabToPageIndex(0), 1);
  EXPECT_EQ(c.ConvertTabToPageIndex(1), 2);
  EXPECT_EQ(c.ConvertTabToPageIndex(2), -1);
  EXPECT_EQ(c.ConvertTabToPageIndex(-1), -1);
  EXPECT_EQ(c.Page(5), nullptr);
}

TEST(PageControl, MouseHotTrackingAndClicks) {
  Host host;
  TKelmPageControl& c = *host.control;
  RecordingSound highlight(&host.log, "highlight"), select(&host.log, "select");
  c.HighlightSound.Set(&highlight);
  c.SelectSound.Set(&select);
  c.SetHotTrackCloudColor(0x00FFFF);
  host.Page(1)->HighlightSound.Set(new RecordingSound(&host.log, "quiet", true));
  c.setTabText(2, "          ");  // no caption over the cloud
  c.Page(2)->SetColor(0x000000);
  host.Hover(2);
  EXPECT_EQ(c.HotPage(), 2);
  QTest::qWait(30);
  ASSERT_TRUE(c.Painted());
  // The cloud's centre takes the innermost ellipse's colour, from black
  // toward yellow: an unselected top tab's cloud box is (2, 4, w - 6, h - 2)
  // in the tab's image (h = tab height + 2), shrinking by i*(w/2)/50 per side.
  const QRect r2 = c.TabRect(2);
  const int w = r2.width(), h = r2.height() + 2, l = 2, t = 4, r = w - 6, b = h - 2;
  int inner = 0;
  for (int i = 0; i <= 50; ++i)
    if (r - i * ((r - l) / 2) / 50 > l + i * ((r - l) / 2) / 50 && b - i * ((b - t) / 2) / 50 > t + i * ((b - t) / 2) / 50)
      inner = i;
  const int level = inner * 255 / 50;
  const QImage shot = c.grab().toImage();
  EXPECT_EQ(PixelColor(shot, r2.left() + (l + r) / 2, r2.top() + (t + b) / 2), level | (level << 8));
  // A hot tab too small for its cloud (negative extent) gets none.
  QImage tiny(12, 12, QImage::Format_RGB32);
  tiny.fill(Qt::white);
  QPainter painter(&tiny);
  c.DrawItem(painter, 2, QRect(2, 2, 5, 3), 0);
  painter.end();
  for (int y = 0; y < 12; ++y)
    for (int x = 0; x < 12; ++x) ASSERT_TRUE(tiny.pixel(x, y) == qRgb(0, 0, 0) || tiny.pixel(x, y) == qRgb(255, 255, 255));
  EXPECT_EQ(host.log, std::vector<std::string>{"highlight"});
  host.Hover(1);  // the page's empty sound gives way to the control's
  EXPECT_EQ(host.log, (std::vector<std::string>{"highlight", "highlight"}));
  host.log.clear();
  QTest::mouseClick(host.Bar(), Qt::LeftButton, {}, host.Bar()->mapFrom(&c, host.TabCentre(1)));
  EXPECT_EQ(c.currentIndex(), 1);
  EXPECT_EQ(host.log, std::vector<std::string>{"select"});
  QEvent leave(QEvent::Leave);  // onto the page
  QCoreApplication::sendEvent(host.Bar(), &leave);
  EXPECT_EQ(c.HotPage(), -1);
  delete host.Page(1)->HighlightSound.Get();
}

// A parent painted with a known pattern.
QRgb PatternAt(int x, int y) {
  x -= x % 5, y -= y % 5;
  return qRgb((x * 7) & 255, (y * 3) & 255, (x + y) & 255);
}
struct Pattern : QWidget {
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    for (int y = 0; y < height(); y += 5)
      for (int x = 0; x < width(); x += 5) p.fillRect(x, y, 5, 5, QColor(PatternAt(x, y)));
  }
};

TEST(PageControl, TransparencyShowsTheParentAndBlendsByLevel) {
  controls_test::App();
  Pattern parent;
  parent.resize(220, 140);
  auto* c = new TKelmPageControl(&parent);
  c->setGeometry(10, 10, 200, 120);
  auto* page = new TKelmTabSheet;
  c->AddPage(page, "A");
  c->SetTabColorization(tcNone);
  c->SetTransparent(true);
  parent.show();
  QTest::qWait(20);
  QImage below(200, 120, QImage::Format_RGB32);
  for (int y = 0; y < 120; ++y)
    for (int x = 0; x < 200; ++x) below.setPixel(x, y, PatternAt(x + 10, y + 10));
  QImage shot = c->grab().toImage();
  const QRect tab = c->TabRect(0);
  for (QPoint p : {QPoint(c->width() - 5, 3), QPoint(tab.right() + 4, tab.top() + 1)})
    EXPECT_EQ(PixelColor(shot, p.x(), p.y()), PixelColor(below, p.x(), p.y()));
  // The sheet over the parent at levels 150 (as 100), 100, 37 and 0.
  page->SetColor(0x204080);
  page->SetTransparent(true);
  const QPoint at = page->mapTo(c, QPoint(0, 0)) + QPoint(7, 9);
  for (int level : {150, 100, 37, 0}) {
    page->SetTransparentLevel(level);
    EXPECT_EQ(page->TransparentLevel(), std::min(level, 100));
    const QImage* buffer = page->RefreshBuffer();
    ASSERT_NE(buffer, nullptr);
    const int a = ((100 - std::min(level, 100)) * 255) / 100;
    const QRgb under = below.pixel(at), got = buffer->pixel(at);
    const int colour[3] = {0x80, 0x40, 0x20};
    const int parent_rgb[3] = {qRed(under), qGreen(under), qBlue(under)};
    const int got_rgb[3] = {qRed(got), qGreen(got), qBlue(got)};
    for (int k = 0; k < 3; ++k)
      EXPECT_EQ(got_rgb[k], ((parent_rgb[k] * (256 - a)) >> 8) + ((colour[k] * a) >> 8)) << level << " " << k;
  }
  // A picture blends by the same formula.
  QImage picture(4, 4, QImage::Format_RGB32);
  picture.fill(QColor(200, 100, 10));
  page->SetBackgroundStyle(bgsTailed);
  page->SetBackgroundBitmap(picture);
  page->SetTransparentLevel(40);
  const QRgb got = page->RefreshBuffer()->pixel(at), under = below.pixel(at);
  const int a = (60 * 255) / 100;
  EXPECT_EQ(qRed(got), ((qRed(under) * (256 - a)) >> 8) + ((200 * a) >> 8));
  EXPECT_EQ(qBlue(got), ((qBlue(under) * (256 - a)) >> 8) + ((10 * a) >> 8));
}

TEST(TabSheet, BufferLifecycleTilingAndStretching) {
  Host host(2, {120, 90});
  TKelmTabSheet* page = host.Page(0);
  EXPECT_EQ(page->RefreshBuffer(), nullptr);
  QImage tile(10, 10, QImage::Format_RGB32);
  tile.fill(QColor(0, 0, 255));
  tile.setPixel(0, 0, qRgb(255, 0, 0));
  page->SetBackgroundStyle(bgsTailed);
  page->SetBackgroundBitmap(tile);
  const QImage* first = page->RefreshBuffer();
  ASSERT_NE(first, nullptr);
  const int made = page->Compositions();
  EXPECT_EQ(page->RefreshBuffer(), first);
  EXPECT_EQ(page->Compositions(), made);
  // Recomposed after a resize, a colour change and the change-view message.
  host.control->resize(130, 90);
  page->RefreshBuffer();
  EXPECT_EQ(page->Compositions(), made + 1);
  page->SetColor(0x112233);
  page->RefreshBuffer();
  EXPECT_EQ(page->Compositions(), made + 2);
  host.control->ViewChange();
  page->RefreshBuffer();
  EXPECT_EQ(page->Compositions(), made + 3);
  // Tiles: a 25 by 25 page control holds 9 tiles (red top-left corners).
  host.control->resize(25, 25);
  const QImage tiled = *page->RefreshBuffer();
  int corners = 0;
  for (int y = 0; y < 25; ++y)
    for (int x = 0; x < 25; ++x) corners += tiled.pixel(x, y) == qRgb(255, 0, 0) ? 1 : 0;
  EXPECT_EQ(corners, 9);
  EXPECT_EQ(tiled.pixel(20, 20), qRgb(255, 0, 0));
  // Stretched into (2, 2, w - 2, h - 2): the 2-pixel margin keeps the
  // page's colour (0x112233 above).
  tile.fill(QColor(0, 200, 0));
  page->SetBackgroundStyle(bgsStretched);
  page->SetBackgroundBitmap(tile);
  const QImage stretched = *page->RefreshBuffer();
  EXPECT_EQ(stretched.pixel(1, 1), qRgb(0x33, 0x22, 0x11));
  EXPECT_EQ(stretched.pixel(2, 2), qRgb(0, 200, 0));
  EXPECT_EQ(stretched.pixel(22, 22), qRgb(0, 200, 0));
  EXPECT_EQ(stretched.pixel(23, 23), qRgb(0x33, 0x22, 0x11));
}

TEST(TabSheet, GlyphWorkImagesAndListVariants) {
  Host host(2);
  TKelmTabSheet* page = host.Page(0);
  QImage big(20, 18, QImage::Format_RGB32);
  big.fill(QColor(100, 40, 0));
  big.setPixel(0, 15, qRgb(1, 2, 3));  // bottom-left of the work image: the mask key
  big.setPixel(17, 2, qRgb(255, 255, 255));
  page->SetGlyph(TKelmTabSheet::gkNormal, big);
  const QImage& work = page->GlyphWork(TKelmTabSheet::gkNormal);
  EXPECT_EQ(work.size(), QSize(16, 16));
  EXPECT_EQ(work.pixel(15, 2), qRgb(100, 40, 0));
  QImage small(5, 5, QImage::Format_RGB32);
  small.fill(QColor(9, 9, 9));
  page->SetGlyph(TKelmTabSheet::gkUnselected, small);
  EXPECT_EQ(page->GlyphWork(TKelmTabSheet::gkUnselected).pixel(4, 4), qRgb(9, 9, 9));
  EXPECT_EQ(page->GlyphWork(TKelmTabSheet::gkUnselected).pixel(5, 5), qRgb(0, 0, 0));
  page->SetGlyph(TKelmTabSheet::gkUnselected, QImage());
  TKelmPageControl& c = *host.control;
  // Grey (b*29 + g*150 + r*77) >> 8 and brighten c + c/4 (0 becomes 50).
  const int grey = (0 * 29 + 40 * 150 + 100 * 77) >> 8;
  EXPECT_EQ(c.ListGlyph(TKelmTabSheet::gkUnselected, 0).pixel(3, 3), qRgb(grey, grey, grey));
  EXPECT_EQ(c.ListGlyph(TKelmTabSheet::gkHighlighted, 0).pixel(3, 3), qRgb(125, 50, 50));
  EXPECT_EQ(c.ListGlyph(TKelmTabSheet::gkSelectedHighlighted, 0).pixel(3, 3), qRgb(125, 50, 50));
  EXPECT_EQ(qAlpha(c.ListGlyph(TKelmTabSheet::gkNormal, 0).pixel(0, 15)), 0);
  EXPECT_EQ(qAlpha(c.ListGlyph(TKelmTabSheet::gkUnselected, 0).pixel(0, 15)), 0);
  EXPECT_EQ(qAlpha(c.ListGlyph(TKelmTabSheet::gkNormal, 0).pixel(1, 15)), 255);
  // An empty glyph leaves an all-black, fully masked image.
  EXPECT_EQ(qAlpha(c.ListGlyph(TKelmTabSheet::gkNormal, 1).pixel(8, 8)), 0);
}

TEST(PageControl, GlyphRebuildsSettleAfterShow) {
  controls_test::App();
  QWidget window;
  auto* c = new TKelmPageControl(&window);
  for (int i = 0; i < 4; ++i) c->AddPage(new TKelmTabSheet, "Page " + std::to_string(i));
  c->setGeometry(0, 0, 200, 100);
  window.show();
  QTest::qWait(200);
  EXPECT_GE(c->GlyphUpdates(), 1);
  EXPECT_LE(c->GlyphUpdates(), 2);
  const int settled = c->GlyphUpdates();
  QCoreApplication::sendPostedEvents();
  QTest::qWait(50);
  EXPECT_EQ(c->GlyphUpdates(), settled);
}

// Twelve tabs in a narrow control lie in three rows; every tab shows its
// page's colour; a click on a tab of each row selects it and brings its row
// next to the page.
TEST(PageControl, MultiLineRowsPaintAndClick) {
  controls_test::App();
  QWidget window;
  window.resize(230, 220);
  auto* c = new TKelmPageControl(&window);
  c->setGeometry(5, 5, 220, 210);
  c->SetShowGlyphs(false);
  std::vector<TColor> colours;
  for (int i = 0; i < 12; ++i) {
    auto* page = new TKelmTabSheet;
    c->AddPage(page, "Tab " + std::to_string(i));
    colours.push_back(0x101010 * (i + 1) ^ 0x00A0F0);
    page->SetColor(colours.back());
  }
  c->SetStyles(tabRightJustify);
  ASSERT_TRUE(c->MultiLine());
  window.show();
  QTest::qWait(30);
  auto rows = [&] {
    std::set<int> tops;
    for (int i = 0; i < 12; ++i) tops.insert(c->TabRect(i).top());
    return tops;
  };
  ASSERT_EQ(rows().size(), 3u);
  for (int round = 0; round < 3; ++round) {
    const std::set<int> tops = rows();
    const int row_top = *std::next(tops.begin(), round == 2 ? 0 : round);
    int target = -1;
    for (int i = 0; i < 12 && target < 0; ++i)
      if (c->TabRect(i).top() == row_top && i != c->currentIndex()) target = i;
    ASSERT_GE(target, 0);
    QWidget* bar = c->tabBar();
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->mapFrom(c, c->TabRect(target).center()));
    EXPECT_EQ(c->currentIndex(), target);
    QTest::qWait(20);
    // The selected row is the one next to the page (the lowest).
    EXPECT_EQ(c->TabRect(target).top(), *rows().rbegin());
    // Every row is justified to the same right edge.
    std::map<int, int> ends;
    for (int i = 0; i < 12; ++i) ends[c->TabRect(i).top()] = std::max(ends[c->TabRect(i).top()], c->TabRect(i).right());
    EXPECT_EQ(ends.begin()->second, ends.rbegin()->second);
    EXPECT_EQ(std::next(ends.begin())->second, ends.rbegin()->second);
    const QImage shot = c->grab().toImage();
    for (int i = 0; i < 12; ++i) {
      const QRect r = c->TabRect(i);
      EXPECT_EQ(PixelColor(shot, r.left() + 2 + (i == target ? 2 : 0), r.top() + 2), gui::ColorToRGB(colours[i]))
          << "tab " << i << " round " << round;
    }
  }
}

}  // namespace
