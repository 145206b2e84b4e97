#include <gtest/gtest.h>

#include <QFontInfo>
#include <QImage>
#include <QPainter>

#include "gui_test_util.h"
#include "platform/gui/canvas.h"
#include "platform/gui/fonts.h"

namespace {

using namespace gui;

TFontDesc Mono(int height = -13) {
  TFontDesc d;
  d.Name = "Courier New";
  d.Height = height;
  return d;
}

int InkColumns(const QImage& img, int x1, int x2) {
  int n = 0;
  for (int x = x1; x < x2; ++x)
    for (int y = 0; y < img.height(); ++y)
      if (qGray(img.pixel(x, y)) < 128) {
        ++n;
        break;
      }
  return n;
}

TEST(FontsTest, NamedFacesAreReplacedByMetricTwins) {
  gui_test::App();
  EXPECT_EQ(SubstituteFontName("courier new"), "Liberation Mono");
  EXPECT_EQ(SubstituteFontName("Arial"), "Liberation Sans");
  EXPECT_EQ(SubstituteFontName("Times New Roman"), "Liberation Serif");
  EXPECT_EQ(SubstituteFontName("DejaVu Sans"), "DejaVu Sans");
  EXPECT_EQ(QFontInfo(MakeQFont(Mono())).family(), "Liberation Mono");
}

TEST(FontsTest, HeightsFollowTheWin32Rules) {
  gui_test::App();
  EXPECT_EQ(MakeQFont(Mono(-13)).pixelSize(), 13);
  TFontDesc points = Mono(0);
  points.Size = 12;
  EXPECT_EQ(MakeQFont(points).pixelSize(), 16);  // 12 pt at 96 dpi
  // A positive height is the cell height (ascent + descent).
  TScreenFont cell(Mono(20));
  EXPECT_NEAR(cell.Metrics().tmHeight, 20, 1);
  EXPECT_FALSE(MakeQFont(Mono()).kerning());
}

TEST(FontsTest, WidthsAreWholeAndAddUp) {
  gui_test::App();
  TScreenFont mono(Mono(-13));
  const int w = mono.CharWidth('a');
  EXPECT_GT(w, 0);
  for (int c = 33; c < 127; ++c) EXPECT_EQ(mono.CharWidth(static_cast<unsigned char>(c)), w) << c;
  EXPECT_EQ(mono.TextWidth("Smith, John", 11), 11 * w);
  // Bold Sans is wider than Sans for the same letters.
  TFontDesc sans;
  sans.Name = "Arial";
  sans.Height = -16;
  TFontDesc bold = sans;
  bold.Style = fsBold;
  EXPECT_GT(TScreenFont(bold).TextWidth("rrrtt", 5), TScreenFont(sans).TextWidth("rrrtt", 5));
  // With kerning off a pair is the sum of its parts.
  TScreenFont s(sans);
  EXPECT_EQ(s.TextWidth("AV", 2), s.CharWidth('A') + s.CharWidth('V'));
  const TTextMetric& m = s.Metrics();
  EXPECT_EQ(m.tmHeight, m.tmAscent + m.tmDescent);
  EXPECT_GT(m.tmMaxCharWidth, s.CharWidth('i'));
}

TEST(CanvasTest, TextIsDrawnAtTheGivenAdvances) {
  gui_test::App();
  TScreenFont mono(Mono(-13));
  QImage img(120, 20, QImage::Format_RGB32);
  img.fill(Qt::white);
  {
    QPainter p(&img);
    TCanvas canvas(p);
    canvas.SetFont(&mono);
    canvas.SetTextColor(0);
    const int advances[] = {40, 0, 40};
    EXPECT_EQ(canvas.TextOut(0, 14, "M\x02M", 3, advances), 80);
  }
  EXPECT_GT(InkColumns(img, 0, 12), 3);
  EXPECT_EQ(InkColumns(img, 12, 40), 0);  // the second M stands 40 pixels on
  EXPECT_GT(InkColumns(img, 40, 52), 3);
  EXPECT_EQ(InkColumns(img, 52, 120), 0);  // the code drew nothing
}

TEST(CanvasTest, OpaqueTextFillsItsCellsAndInvertFlipsPixels) {
  gui_test::App();
  TScreenFont mono(Mono(-13));
  QImage img(60, 20, QImage::Format_RGB32);
  img.fill(Qt::white);
  {
    QPainter p(&img);
    TCanvas canvas(p);
    canvas.SetFont(&mono);
    canvas.SetTextColor(0x0000FF);
    canvas.SetBkColor(0x00FFFF);  // yellow
    canvas.SetBkMode(true);
    const int advances[] = {10, 10};
    canvas.TextOut(0, 14, "  ", 2, advances);
    canvas.InvertRect(QRect(30, 0, 10, 20));
  }
  const QRect cell = QRect(0, 14 - mono.Metrics().tmAscent, 20, mono.Metrics().tmHeight);
  EXPECT_EQ(QColor(img.pixel(cell.center())), QColor(255, 255, 0));
  EXPECT_EQ(QColor(img.pixel(25, 5)), QColor(Qt::white));
  EXPECT_EQ(QColor(img.pixel(35, 5)), QColor(Qt::black));
}

TEST(CanvasTest, WavyUnderlineZigzagsEveryTwoPixels) {
  const std::vector<QPoint> points = TCanvas::WavyPoints(10, 17, 100);
  ASSERT_EQ(points.size(), 5u);
  EXPECT_EQ(points[0], QPoint(10, 103));
  EXPECT_EQ(points[1], QPoint(12, 101));
  EXPECT_EQ(points[2], QPoint(14, 103));
  EXPECT_EQ(points[3], QPoint(16, 101));
  EXPECT_EQ(points[4], QPoint(17, 103));
  EXPECT_TRUE(TCanvas::WavyPoints(5, 5, 0).empty());
  EXPECT_EQ(TCanvas::WavyPoints(-40000, 0, 0).front().x(), -32768);
}

TEST(CanvasTest, WavyUnderlineRunsCoverTheUnderlinedCellsOnly) {
  gui_test::App();
  QImage img(80, 20, QImage::Format_RGB32);
  img.fill(Qt::white);
  {
    QPainter p(&img);
    TCanvas canvas(p);
    canvas.SetPen(0);
    TWavyUnderline wavy(canvas, 10);
    wavy.Cell(0, false);
    wavy.Cell(5, true);
    wavy.Cell(12, true);  // the run goes on
    wavy.Cell(20, false);  // and ends here
    wavy.Cell(30, false);
    wavy.Cell(40, true);
    wavy.Finish(50);  // the line's end closes the open run
    wavy.Finish(70);  // nothing is open any more
  }
  EXPECT_EQ(InkColumns(img, 0, 5), 0);
  EXPECT_EQ(InkColumns(img, 5, 20), 15);
  EXPECT_EQ(InkColumns(img, 21, 40), 0);
  EXPECT_EQ(InkColumns(img, 40, 50), 10);
  EXPECT_EQ(InkColumns(img, 51, 80), 0);
  // Ink only on the zigzag's two rows and between them.
  for (int y = 0; y < img.height(); ++y) {
    if (y < 11 || y > 13) {
      EXPECT_EQ(InkColumns(img.copy(0, y, 80, 1), 0, 80), 0) << y;
    }
  }
}

TEST(CanvasTest, JustifierHandsOutEveryPixel) {
  for (int blanks = 1; blanks < 9; ++blanks)
    for (int free = 0; free < 40; ++free) {
      TJustifier j(free, blanks);
      int total = 0, least = free, most = 0;
      for (int i = 0; i < blanks; ++i) {
        const int e = j.Next();
        total += e;
        least = std::min(least, e);
        most = std::max(most, e);
      }
      EXPECT_EQ(total, free) << free << "/" << blanks;
      EXPECT_LE(most - least, 1);
    }
  // 8 pixels over 3 blanks: 2 each; the running remainder starts at
  // 2 div 2 = 1 and grows by 2, so blanks 1 and 3 get the extra pixels.
  TJustifier j(8, 3);
  EXPECT_EQ(j.Next(), 3);
  EXPECT_EQ(j.Next(), 2);
  EXPECT_EQ(j.Next(), 3);
  EXPECT_FALSE(TJustifier(5, 0).Active());
}

}  // namespace
