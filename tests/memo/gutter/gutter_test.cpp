// The line-number and bookmark gutter beside a memo control, offscreen:
// numbers per display line or per paragraph, bookmarks set, moved, removed
// and jumped to by their keys, bookmarks that follow edits, following the
// memo's scrolling, and freeing either side first.
#include <gtest/gtest.h>

#include <QApplication>
#include "../qt_test_app.h"
#include <QTest>
#include <memory>

#include "memo/gutter/vell_gutter.h"
#include "memo/navigator.h"
#include "memo/widget/memo_control.h"

using namespace memo;

namespace {

using memo_test::App;

TMemoFont MonoFont() {
  TMemoFont font;
  font.Name = "Courier New";
  font.Height = -13;
  return font;
}

std::string Lines(int count) {
  std::string text;
  for (int i = 1; i <= count; ++i) text += (i > 1 ? "\r\n" : "") + std::string("line ") + std::to_string(i);
  return text;
}

void Settle() {
  for (int i = 0; i < 5; ++i) QApplication::processEvents();
}

class GutterTest : public ::testing::Test {
protected:
  void SetUp() override {
    App();
    window = std::make_unique<QWidget>();
    window->resize(400, 300);
    control = new TVellMemoControl(window.get());
    control->setGeometry(40, 0, 360, 300);
    control->Memo().SetFont(MonoFont());
    gutter = new TVellGutter(window.get());
    gutter->setGeometry(0, 0, 40, 300);
    gutter->SetVellMemo(&memo());
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    control->setFocus();
    Settle();
  }
  void TearDown() override {
    window.reset();
    Settle();
  }

  TVellMemo& memo() { return control->Memo(); }
  void SetText(const std::string& text) {
    memo().SetText(text);
    Settle();
  }
  // Paints the gutter now; what it drew.
  const std::vector<TVellGutter::PaintedItem>& Paint() {
    Settle();
    gutter->grab();
    return gutter->PaintedItems();
  }
  void Key(Qt::Key key, Qt::KeyboardModifiers mods) {
    QTest::keyClick(control, key, mods);
    Settle();
  }

  std::unique_ptr<QWidget> window;
  TVellMemoControl* control = nullptr;
  TVellGutter* gutter = nullptr;
};

const Qt::KeyboardModifiers kCtrlShift = Qt::ControlModifier | Qt::ShiftModifier;

}  // namespace

TEST_F(GutterTest, OneNumberPerVisibleLineLevelWithTheMemosLines) {
  SetText(Lines(60));
  const auto& items = Paint();
  const int lh = memo().LineHeight();
  ASSERT_FALSE(items.empty());
  EXPECT_EQ(items.front().line, 0);
  EXPECT_EQ(items.front().text, "1");
  // Each number sits level with its line of the memo's client area.
  const int memoTop = control->viewport()->mapTo(window.get(), QPoint(0, 0)).y();
  EXPECT_EQ(items.front().y, memoTop - gutter->y());
  for (std::size_t i = 1; i < items.size(); ++i) {
    EXPECT_EQ(items[i].line, items[i - 1].line + 1);
    EXPECT_EQ(items[i].y - items[i - 1].y, lh);
    EXPECT_EQ(items[i].text, std::to_string(items[i].line + 1));
  }
  EXPECT_GE(static_cast<int>(items.size()), gutter->height() / lh);
  EXPECT_LE(items.back().y, gutter->height());
}

TEST_F(GutterTest, ParagraphNumbersOnlyOnTheFirstDisplayLineOfAParagraph) {
  std::string longPar;
  for (int i = 0; i < 30; ++i) longPar += "word ";
  SetText("first\r\n" + longPar + "\r\nlast");
  memo().FormatNow(0, memo().GetParCount() - 1, false);
  ASSERT_GE(memo().Pars().At(1)->lineCount, 3);
  gutter->setParNumbers(true);
  const auto& items = Paint();
  const int wrapped = memo().Pars().At(1)->lineCount;
  ASSERT_GE(static_cast<int>(items.size()), wrapped + 2);
  EXPECT_EQ(items[0].text, "1");
  EXPECT_EQ(items[1].text, "2");
  for (int i = 2; i <= wrapped; ++i) EXPECT_EQ(items[i].text, "") << i;
  EXPECT_EQ(items[wrapped + 1].text, "3");
  gutter->setParNumbers(false);
  EXPECT_EQ(Paint()[2].text, "3");
  gutter->SetLineNumbers(false);
  EXPECT_EQ(Paint()[0].text, "");
}

TEST_F(GutterTest, BookmarkKeysSetMoveRemoveAndJump) {
  SetText(Lines(40));
  memo().setSelLine(3);
  Key(Qt::Key_3, kCtrlShift);
  EXPECT_EQ(gutter->getBookmarks(3), 3);
  EXPECT_EQ(gutter->GetBookmarkFromLine(3), 3);
  auto items = Paint();
  EXPECT_EQ(items[3].bookmark, 3);
  EXPECT_EQ(items[3].text, "");
  // Another bookmark on a line that holds one changes nothing.
  Key(Qt::Key_4, kCtrlShift);
  EXPECT_EQ(gutter->getBookmarks(4), -1);
  EXPECT_EQ(gutter->GetBookmarkFromLine(3), 3);
  // The same key again removes it.
  Key(Qt::Key_3, kCtrlShift);
  EXPECT_EQ(gutter->getBookmarks(3), -1);
  EXPECT_EQ(Paint()[3].text, "4");

  // Ctrl+3 with bookmark 3 unset does nothing.
  memo().setSelLine(7);
  Key(Qt::Key_3, Qt::ControlModifier);
  EXPECT_EQ(memo().getSelLine(), 7);
  // Set on line 7, then on line 9: it moves, line 7 shows its number again.
  Key(Qt::Key_3, kCtrlShift);
  memo().setSelLine(9);
  Key(Qt::Key_3, kCtrlShift);
  EXPECT_EQ(gutter->getBookmarks(3), 9);
  items = Paint();
  EXPECT_EQ(items[7].text, "8");
  EXPECT_EQ(items[9].bookmark, 3);
  // Ctrl+3 jumps there, scrolling it into view.
  memo().setSelLine(35);
  control->ScrollInView();
  Key(Qt::Key_3, Qt::ControlModifier);
  EXPECT_EQ(memo().getSelLine(), 9);
  EXPECT_LE(memo().getTopLine(), 9);
  // Alt turns the keys off.
  memo().setSelLine(12);
  Key(Qt::Key_5, kCtrlShift | Qt::AltModifier);
  EXPECT_EQ(gutter->getBookmarks(5), -1);
}

TEST_F(GutterTest, BookmarkOperationsAndTheirLimits) {
  SetText(Lines(20));
  EXPECT_EQ(gutter->getBookmarks(10), -1);
  EXPECT_EQ(gutter->getBookmarks(-1), -1);
  EXPECT_FALSE(gutter->BookmarkLine(2, 10));
  EXPECT_FALSE(gutter->BookmarkLine(20, 1));
  EXPECT_FALSE(gutter->BookmarkLine(-1, 1));
  EXPECT_TRUE(gutter->BookmarkLine(2, 1));
  EXPECT_TRUE(gutter->BookmarkLine(5, 0));
  EXPECT_FALSE(gutter->BookmarkLine(5, 1));
  EXPECT_EQ(gutter->GetBookmarkFromLine(4), -1);
  memo().setSelStart(0);
  gutter->JumpToBookmark(0);
  EXPECT_EQ(memo().getSelLine(), 5);
  gutter->JumpToBookmark(7);  // not set
  EXPECT_EQ(memo().getSelLine(), 5);
  gutter->ClearBookmarks();
  EXPECT_EQ(gutter->getBookmarks(0), -1);
  EXPECT_EQ(gutter->getBookmarks(1), -1);
}

TEST_F(GutterTest, BookmarksFollowEditsAndTheIconIsDrawn) {
  SetText(Lines(20));
  ASSERT_TRUE(gutter->BookmarkLine(4, 2));
  memo().setSelStart(0);
  memo().setSelText("new line\r\n");
  Settle();
  EXPECT_EQ(gutter->getBookmarks(2), 5);
  const auto& items = Paint();
  EXPECT_EQ(items[5].bookmark, 2);
  EXPECT_EQ(items[4].text, "5");
  // The icon's pixels lie where the item says, centred in the strip.
  const QImage picture = gutter->grab().toImage();
  const QImage& icon = TVellGutter::BookmarkIcon(2);
  const int x = (gutter->width() - 2 - 10) / 2;
  const int lh = memo().LineHeight();
  const int y = items[5].y + std::max((lh - 10) / 2, control->BaselineOffset() - 10);
  int same = 0;
  for (int dy = 0; dy < 10; ++dy)
    for (int dx = 0; dx < 10; ++dx)
      if (qAlpha(icon.pixel(dx, dy)) == 255 && picture.pixel(x + dx, y + dy) == icon.pixel(dx, dy)) ++same;
  EXPECT_GT(same, 80);
  // Joining two lines puts the bookmark on the joined line.
  memo().setSelStart(0);
  memo().setSelLength(10);
  memo().setSelText("");
  Settle();
  EXPECT_EQ(gutter->getBookmarks(2), 4);
}

TEST_F(GutterTest, FollowsScrollingByMovingItsPixels) {
  SetText(Lines(100));
  Paint();
  const int lh = memo().LineHeight();
  memo().setTopLine(3);
  Settle();
  // Only the strip uncovered by the move was painted.
  EXPECT_LE(gutter->LastPaintRect().height(), 3 * lh + 2);
  const auto& items = Paint();
  EXPECT_EQ(items.front().line, 3);
  EXPECT_EQ(items.front().text, "4");
  // A scroll of part of a line.
  memo().setTopOrigin(3 * lh + lh / 2);
  const auto& shifted = Paint();
  EXPECT_EQ(shifted.front().line, 3);
  EXPECT_EQ(shifted.front().y, control->viewport()->mapTo(window.get(), QPoint(0, 0)).y() - lh / 2);
}

TEST_F(GutterTest, AGutterBelowTheMemosTopStartsAtTheLineBesideIt) {
  SetText(Lines(100));
  const int lh = memo().LineHeight();
  const int memoTop = control->viewport()->mapTo(window.get(), QPoint(0, 0)).y();
  gutter->setGeometry(0, memoTop + 2 * lh, 40, 100);
  const auto& items = Paint();
  ASSERT_FALSE(items.empty());
  EXPECT_EQ(items.front().line, 2);
  EXPECT_EQ(items.front().y, 0);
}

TEST_F(GutterTest, AnotherMemoDropsTheBookmarks) {
  SetText(Lines(10));
  ASSERT_TRUE(gutter->BookmarkLine(1, 1));
  const int attached = memo().AttachedCount();
  TVellMemo other;
  other.SetText(Lines(3));
  gutter->SetVellMemo(&other);
  EXPECT_EQ(gutter->getBookmarks(1), -1);
  EXPECT_EQ(other.AttachedCount(), 1);
  memo().Perform(CM_TEXTCHANGED);  // drops the detached entry
  EXPECT_EQ(memo().AttachedCount(), attached - 1);
  // Without a window the gutter draws only its background.
  EXPECT_TRUE(Paint().empty());
  gutter->SetVellMemo(nullptr);
  EXPECT_EQ(other.AttachedCount(), 0);
}

// The memo freed before the gutter, the two with different owners: the
// gutter learns of it and lets go of its bookmarks (run under
// AddressSanitizer to see a use after free).
TEST_F(GutterTest, MemoFreedFirstWithDifferentOwners) {
  rtl::TComponent owner(nullptr);
  auto* memoOfOther = new TVellMemo(&owner);
  memoOfOther->SetText(Lines(30));
  auto* otherControl = new TVellMemoControl(window.get(), memoOfOther);
  otherControl->setGeometry(40, 0, 360, 300);
  TVellGutter separate(window.get());
  separate.SetVellMemo(memoOfOther);
  ASSERT_TRUE(separate.BookmarkLine(3, 1));
  ASSERT_TRUE(separate.BookmarkLine(6, 2));
  separate.grab();
  delete memoOfOther;
  EXPECT_EQ(separate.VellMemo(), nullptr);
  EXPECT_EQ(separate.getBookmarks(1), -1);
  separate.grab();
  EXPECT_TRUE(separate.PaintedItems().empty());
  separate.SetVellMemo(&memo());
  EXPECT_TRUE(separate.BookmarkLine(0, 1));
  delete otherControl;
}

TEST_F(GutterTest, MemoAndGutterOfOneOwnerFreedTogether) {
  auto owner = std::make_unique<rtl::TComponent>(nullptr);
  auto* shared = new TVellMemo(owner.get());
  shared->SetText(Lines(5));
  auto* strip = new TVellGutter(nullptr, owner.get());
  strip->SetVellMemo(shared);
  ASSERT_TRUE(strip->BookmarkLine(2, 4));
  owner.reset();  // frees both, the memo first or last
}

TEST_F(GutterTest, GutterFreedBeforeTheMemo) {
  SetText(Lines(10));
  ASSERT_TRUE(gutter->BookmarkLine(1, 1));
  delete gutter;
  gutter = nullptr;
  // The memo's messages reach no freed gutter.
  memo().setTopLine(2);
  memo().Perform(CM_TEXTCHANGED);
  QTest::keyClick(control, Qt::Key_3, kCtrlShift);
  Settle();
  EXPECT_EQ(memo().AttachedCount(), 0);
}
