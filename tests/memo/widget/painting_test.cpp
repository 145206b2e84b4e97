// The memo's picture: the viewport rendered to an image and checked pixel
// by pixel; the column and pixel mapping behind it; word wrap with a fixed
// font. Set QV_MEMO_SCREENSHOT to a file name to keep the picture of a
// highlighted search page.
#include "memo_widget_test_util.h"

#include <cstdlib>

using namespace memo_widget_test;

namespace {

class PaintingTest : public MemoWidgetTest {
protected:
  // A control without bars and frame: the viewport is the whole widget.
  void Bare(int width, int height) {
    control->SetScrollBars(memo::ssNone);
    control->SetBorderSingle(false);
    control->resize(width, height);
    Settle();
  }
  // The pixels of the characters first .. last-1 of a display line.
  QRect Cells(int line, int first, int last) {
    const int y = line * LineHeight() - memo().TopOrigin();
    return QRect(At(line, first).x(), y, (last - first) * CharWidth(), LineHeight());
  }
};

TEST_F(PaintingTest, KeywordRunsAreRedOnWhite) {
  SetText("1712; Smith, John; Mary Smith\r\nno keyword here");
  memo().Keywords().AddKeyWord("Smith", 0, 0, 1, 0, memo::clWhite, memo::clRed);
  memo().ReApplyKeywords();
  const QImage img = Picture();
  const QRect first = Cells(0, 6, 11);   // "Smith"
  const QRect second = Cells(0, 24, 29);  // the second "Smith"
  EXPECT_GT(CountPixels(img, first, IsRed), 15);
  EXPECT_GT(CountPixels(img, second, IsRed), 15);
  EXPECT_EQ(CountPixels(img, first, IsDark), 0);
  // The keyword's background is white, the rest of the text black.
  EXPECT_GT(CountPixels(img, first, IsWhite), first.width() * first.height() / 2);
  const QRect john = Cells(0, 13, 17);
  EXPECT_GT(CountPixels(img, john, IsDark), 10);
  EXPECT_EQ(CountPixels(img, john, IsRed), 0);
  EXPECT_EQ(CountPixels(img, Cells(1, 0, 15), IsRed), 0);
}

TEST_F(PaintingTest, UpdateWindowPaintsAtOnceAndScrollingShowsAtOnce) {
  // Counts the viewport's paint events as they happen.
  struct PaintCounter : QObject {
    int paints = 0;
    bool eventFilter(QObject*, QEvent* e) override {
      if (e->type() == QEvent::Paint) ++paints;
      return false;
    }
  } counter;
  std::string text;
  for (int i = 0; i < 200; ++i) text += "line " + std::to_string(i) + "\r\n";
  SetText(text);
  control->viewport()->installEventFilter(&counter);
  control->UpdateWindow();
  EXPECT_EQ(counter.paints, 1);  // without a turn of the event loop
  control->Perform(gui::WM_VSCROLL, gui::SB_PAGEDOWN, 0);
  EXPECT_EQ(counter.paints, 2);
  control->viewport()->removeEventFilter(&counter);
}

TEST_F(PaintingTest, TheSelectionIsInverted) {
  SetText("abcdef ghijkl");
  const QImage before = Picture();
  memo().setSelStart(2);
  memo().setSelLength(3);  // "cde"
  const QImage img = Picture();
  const QRect selected = Cells(0, 2, 5);
  // Inverted: mostly dark background with light glyphs.
  EXPECT_GT(CountPixels(img, selected, IsDark), selected.width() * selected.height() / 2);
  for (int y = selected.top(); y <= selected.bottom(); ++y)
    for (int x = selected.left(); x <= selected.right(); ++x) {
      if (x == control->CaretX()) continue;  // the caret inverts its column once more
      const QRgb a = before.pixel(x, y), b = img.pixel(x, y);
      ASSERT_NEAR(qRed(b), 255 - qRed(a), 1) << x << "," << y;
    }
  // Outside it nothing changed.
  const QRect outside = Cells(0, 6, 12);
  for (int y = outside.top(); y <= outside.bottom(); ++y)
    for (int x = outside.left(); x <= outside.right(); ++x) ASSERT_EQ(before.pixel(x, y), img.pixel(x, y));
  // Without the focus and with HideSelection the selection is not shown.
  control->clearFocus();
  QApplication::processEvents();
  EXPECT_EQ(CountPixels(Picture(), selected, IsDark), CountPixels(before, selected, IsDark));
  memo().SetHideSelection(false);
  control->Repaint();
  EXPECT_GT(CountPixels(Picture(), selected, IsDark), selected.width() * selected.height() / 2);
}

TEST_F(PaintingTest, SelectionToAParagraphEndShowsTheEndMark) {
  SetText("abc\r\ndef");
  memo().setSelStart(1);
  memo().setSelLength(4);  // "bc" and the break
  const QImage img = Picture();
  const int x = At(0, 3).x();
  const int y = LineHeight() / 2;
  EXPECT_TRUE(IsDark(img.pixel(x + 1, y)));  // the little box after "bc"
  memo().SetShowEndParSelected(false);
  control->Repaint();
  EXPECT_TRUE(IsWhite(Picture().pixel(x + 1, y)));
}

TEST_F(PaintingTest, SelectionColoursInsteadOfInversion) {
  memo().SetOptions(memo().Options().With(memo::vmoWindowsSelColors));
  SetText("abcdef");
  memo().setSelStart(0);
  memo().setSelLength(3);
  const QImage img = Picture();
  const QColor highlight = gui::ToQColor(memo::clHighlight);
  const QRect selected = Cells(0, 0, 3);
  EXPECT_GT(CountPixels(img, selected, [&](QRgb c) { return QColor(c) == highlight; }),
            selected.width() * selected.height() / 2);
}

TEST_F(PaintingTest, TheCaretStandsAtItsColumnWhileFocused) {
  SetText("abcdef");
  memo().setSelStart(3);
  QImage img = Picture();
  const int x = At(0, 3).x();
  EXPECT_EQ(control->CaretX(), x);
  int dark = 0;
  for (int y = 0; y < LineHeight(); ++y) dark += IsDark(img.pixel(x, y));
  EXPECT_GE(dark, LineHeight() - 1);  // a full-height column
  control->clearFocus();
  QApplication::processEvents();
  img = Picture();
  dark = 0;
  for (int y = 0; y < LineHeight(); ++y) dark += IsDark(img.pixel(x, y));
  EXPECT_LT(dark, LineHeight() / 2);  // only glyph pixels, if any
  EXPECT_FALSE(control->Caret().Exists());
}

TEST_F(PaintingTest, CaretWidthZeroFollowsTheLineHeight) {
  memo().SetLineHeight(27);
  memo().SetCaretWidth(0);
  Settle();
  EXPECT_EQ(control->GetCaretWidth(), 2);
  EXPECT_EQ(control->Caret().Rect().width(), 2);
  EXPECT_EQ(control->Caret().Rect().height(), 27);
}

TEST_F(PaintingTest, HighlightCodesAndParagraphColours) {
  SetText("a\x03" "bcd\x03" "e\r\nplain\r\nblue");
  memo().setParBackgnd(2, 0xFF0000);  // blue background
  memo().setParForegnd(1, 0x00FF00);  // green text
  const QImage img = Picture();
  // Highlighted text: HighlightColor on HighlightBackgnd (red on white).
  const QRect bcd(At(0, 1).x(), 0, 3 * CharWidth(), LineHeight());
  EXPECT_GT(CountPixels(img, bcd, IsRed), 10);
  EXPECT_GT(CountPixels(img, Cells(1, 0, 5), [](QRgb c) { return qGreen(c) > 150 && qRed(c) < 100; }), 10);
  const QRect blueLine(0, 2 * LineHeight(), control->ClientWidth(), LineHeight());
  EXPECT_GT(CountPixels(img, blueLine, [](QRgb c) { return qBlue(c) > 200 && qRed(c) < 60; }),
            blueLine.width() * blueLine.height() / 2);
}

TEST_F(PaintingTest, EndOfTextMarkUnderTheText) {
  SetText("a\r\nb");
  QImage img = Picture();
  const int y = 2 * LineHeight();
  EXPECT_TRUE(IsRed(img.pixel(100, y)));
  control->SetEndOfTextMark(memo::TPenDesc{memo::clNone, 1});
  img = Picture();
  EXPECT_TRUE(IsWhite(img.pixel(100, y)));
}

TEST_F(PaintingTest, StaticFormatOffDrawsCodesAsNothing) {
  SetText("a\x02" "b");
  QImage img = Picture();
  EXPECT_EQ(memo().ColPos(memo().Pars().At(0), 0, 2, 0), At(0, 1).x());
  memo().SetStaticFormat(false);
  Settle();
  // Control characters take no width under one rule for layout and picture.
  EXPECT_EQ(memo().ColPos(memo().Pars().At(0), 0, 2, 0), At(0, 1).x());
  EXPECT_EQ(memo().GetText(), "a\x02" "b");
}

TEST_F(PaintingTest, ColumnMappingFollowsMarginsAlignmentStylesAndTabs) {
  SetText("abc");
  memo::ParInfo* par = memo().Pars().At(0);
  EXPECT_EQ(memo().ColPos(par, 0, 0, 0), 8);
  EXPECT_EQ(memo().ColPos(par, 0, 2, 0), 8 + 2 * CharWidth());
  EXPECT_EQ(memo().ColNb(par, 0, 0, 8 + CharWidth() + CharWidth() / 2 + 1, false), 2);
  EXPECT_EQ(memo().ColNb(par, 0, 0, 8 + CharWidth() + CharWidth() / 2 - 1, false), 1);
  memo().SetAlignment(memo::taRightJustify);
  Settle();
  par = memo().Pars().At(0);
  EXPECT_EQ(memo().ColPos(par, 0, 3, 0), control->ClientWidth() - memo().RightMargin());
  memo().SetAlignment(memo::taLeftJustify);
  // Bold is measured in the bold face; a code moves nothing.
  memo::TMemoFont sans;
  sans.Name = "Arial";
  sans.Height = -16;
  memo().SetFont(sans);
  SetText("\x02" "rrr\x02" "i");
  par = memo().Pars().At(0);
  const int boldEnd = memo().ColPos(par, 0, 4, 0);
  SetText("rrr\x02\x02" "i");
  par = memo().Pars().At(0);
  EXPECT_GT(boldEnd, memo().ColPos(par, 0, 3, 0));
  EXPECT_EQ(memo().ColPos(par, 0, 3, 0), memo().ColPos(par, 0, 5, 0));
  // Tabs stop at multiples of TabStops blanks from the text's left edge.
  memo().SetFont(FixedFont());
  SetText("ab\tc\t\td");
  par = memo().Pars().At(0);
  const int unit = 8 * CharWidth();
  EXPECT_EQ(memo().ColPos(par, 0, 3, 0), 8 + unit);
  EXPECT_EQ(memo().ColPos(par, 0, 6, 0), 8 + 3 * unit);
  // A click in the blank space of a tab lands before the tab with KeepTab.
  EXPECT_EQ(memo().ColNb(par, 0, 0, 8 + unit - 2, true), 2);
  EXPECT_EQ(memo().ColNb(par, 0, 0, 8 + unit - 2, false), 3);
}

TEST_F(PaintingTest, WordWrapBreaksWhereTheBreakerSays) {
  const int w = CharWidth();
  Bare(16 + 10 * w, 200);  // room for exactly ten characters
  SetText("aaaa bbbb cccc\r\naaaaaaaaaa\r\naaaaaaaaaaaaa x");
  EXPECT_EQ(memo().getLines(0), "aaaa bbbb ");  // the blank stays on the upper line
  EXPECT_EQ(memo().getLines(1), "cccc");
  EXPECT_EQ(memo().getLines(2), "aaaaaaaaaa");  // exactly the width: no break
  EXPECT_EQ(memo().getLines(3), "aaaaaaaaaa");  // broken inside the word
  EXPECT_EQ(memo().getLines(4), "aaa x");
  EXPECT_EQ(memo().LineCount(), 5);
  // The picture agrees: "cccc" is drawn at the start of the second line.
  const QImage img = Picture();
  EXPECT_GT(CountPixels(img, Cells(1, 0, 4), IsDark), 10);
  EXPECT_EQ(CountPixels(img, QRect(At(0, 10).x(), 0, 4 * w, LineHeight()), IsDark), 0);
  // Narrower by one pixel: "aaaaaaaaaa" no longer fits.
  Bare(16 + 10 * w - 1, 200);
  EXPECT_EQ(memo().getLines(2), "aaaaaaaaa");
}

TEST_F(PaintingTest, JustifiedLinesReachTheRightMargin) {
  const int w = CharWidth();
  Bare(16 + 20 * w, 200);
  SetText("aa bb cc dd ee ff gg hh ii");
  memo().SetJustified(true);
  Settle();
  ASSERT_GT(memo().LineCount(), 1);
  memo::ParInfo* par = memo().Pars().At(0);
  const memo::LineInfo& line = memo::par::Line(*par, 0);
  // The last visible character of the first line ends at the right margin.
  const int lastChar = line.end - 2;  // before the trailing blank
  EXPECT_EQ(memo().ColPos(par, 0, lastChar + 1, 0), control->ClientWidth() - memo().RightMargin());
  // The last line of the paragraph is not justified.
  EXPECT_EQ(memo().ColPos(par, 0, 0, par->lineCount - 1), 8);
}

TEST_F(PaintingTest, ScrolledPictureMatchesAFreshOne) {
  std::string text;
  for (int i = 0; i < 60; ++i) text += "line " + std::to_string(i) + " of the text\r\n";
  SetText(text);
  memo().setTopLine(7);
  const QImage scrolled = Picture();
  memo().setTopLine(0);
  Picture();
  memo().setTopLine(7);
  control->Repaint();
  const QImage again = Picture();
  EXPECT_EQ(scrolled, again);
  EXPECT_GT(CountPixels(scrolled, Cells(7, 0, 4), IsDark), 10);
}

TEST_F(PaintingTest, SearchPageScreenshot) {
  control->resize(560, 230);
  memo::TMemoFont font = FixedFont(-13);
  memo().SetFont(font);
  SetText(
      "Search: 6 / 4812 / 4812 in 0.04 secs.\r\n"
      "\r\n"
      "1 Bristol St Mary baptisms 1690-1750\r\n"
      "2 Bristol St James baptisms 1700-1760\r\n"
      "\r\n"
      "1 1698-03-12; William; Thomas SMITH, Ann; abode Redcliff\r\n"
      "1 1701-07-02; Mary; Thomas SMITH, Ann; wit. John Smyth\r\n"
      "2 1703-11-20; John; Thomas SMYTHE, Anne\r\n"
      "\r\n"
      "2 1712-05-04; Elizabeth; John SMITH, Sarah; wit. Mary Smith\r\n"
      "1 1715-09-18; Samuel; John SMITH, Sarah\r\n"
      "2 1719-01-30; Hester; John SMITH, Sarah; abode Temple\r\n");
  for (const char* word : {"Smith", "Smyth", "Smythe", "Thomas"})
    memo().Keywords().AddKeyWord(word, 0, 0, 1, 0, memo::clWhite, memo::clRed);
  memo().ReApplyKeywords();
  memo().setSelStart(memo().getParsOffset(9));
  memo().setSelLength(12);
  const QImage img = Picture();
  EXPECT_GT(CountPixels(img, img.rect(), IsRed), 200);
  if (const char* path = std::getenv("QV_MEMO_SCREENSHOT")) {
    ASSERT_TRUE(img.save(path));
  }
}

}  // namespace
