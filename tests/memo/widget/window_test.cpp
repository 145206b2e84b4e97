// The window side of the memo: messages seen by attached components,
// background formatting through posted messages, scroll bars and scroll
// commands, scrolling the caret into view, font changes, focus and Tab,
// drawing on another canvas and the background picture.
#include "memo_widget_test_util.h"

#include <QPainter>
#include <QVBoxLayout>
#include <cstdio>
#include <vector>

#include "platform/gui/colors.h"
#include "platform/gui/scroll_bar.h"
#include "platform/runtime/classes.h"

using namespace memo_widget_test;

namespace {

// An attached component in the manner of the gutter: it reads each message
// from the memo's last-message field while the memo shows it around.
class Listener : public rtl::TComponent {
public:
  explicit Listener(memo::TVellMemo& memo) : rtl::TComponent(nullptr), memo_(memo) {}
  void Notification(rtl::TComponent* component, rtl::TOperation operation) override {
    if (component != &memo_ || static_cast<int>(operation) != memo::kMessageNotification) return;
    messages.push_back(memo_.LastMessage().Msg);
    texts.push_back(memo_.GetText());
  }
  int Count(std::uint32_t msg) const {
    int n = 0;
    for (auto m : messages) n += m == msg;
    return n;
  }
  std::vector<std::uint32_t> messages;
  std::vector<std::string> texts;

private:
  memo::TVellMemo& memo_;
};

std::string Lines(int count, const std::string& body = "line") {
  std::string text;
  for (int i = 0; i < count; ++i) text += body + " " + std::to_string(i) + "\r\n";
  return text;
}

class WindowTest : public MemoWidgetTest {};

TEST_F(WindowTest, AttachedComponentsSeeEveryMessageBeforeItIsHandled) {
  Listener listener(memo());
  memo().AttachComponent(&listener);
  Type("a");
  ASSERT_GE(listener.Count(gui::WM_KEYDOWN), 1);
  ASSERT_EQ(listener.Count(gui::WM_CHAR), 1);
  for (std::size_t i = 0; i < listener.messages.size(); ++i) {
    if (listener.messages[i] == gui::WM_CHAR) {
      EXPECT_EQ(listener.texts[i], "");  // before the handler typed it
    }
  }
  EXPECT_GE(listener.Count(memo::CM_TEXTCHANGED), 1);
  EXPECT_GE(listener.Count(memo::VM_CARETMOVED), 1);
  listener.messages.clear();
  Picture();
  EXPECT_GE(listener.Count(gui::WM_PAINT), 1);
  SetText(Lines(100));
  listener.messages.clear();
  Key(Qt::Key_PageDown);
  EXPECT_GE(listener.Count(memo::VM_VSCROLLED), 1);
  memo().DetachComponent(&listener);
  listener.messages.clear();
  Type("b");
  EXPECT_TRUE(listener.messages.empty());
}

TEST_F(WindowTest, BackgroundFormattingContinuesThroughPostedMessages) {
  control->resize(200, 200);  // narrow: every paragraph wraps
  Settle();
  std::string text;
  for (int i = 0; i < 20000; ++i) text += "aaaa bbbb cccc dddd eeee ffff gggg hhhh\r\n";
  memo().SetText(text);
  EXPECT_LT(memo().BackgroundNext(), memo().GetParCount());  // not all at once
  const int perPar = memo().Pars().At(0)->lineCount;
  EXPECT_GT(perPar, 1);
  EXPECT_EQ(memo().getLines(0).find("aaaa bbbb "), 0u);
  for (int i = 0; i < 2000 && memo().BackgroundLast() >= 0; ++i) QApplication::processEvents();
  EXPECT_EQ(memo().BackgroundLast(), -1);
  EXPECT_EQ(memo().Progress(), 100);
  EXPECT_EQ(memo().LineCount(), 20000 * perPar + 1);
  memo().CheckIntegrity();
}

TEST_F(WindowTest, TheVerticalBarFollowsAndDrivesTheView) {
  SetText(Lines(200));
  QScrollBar* bar = control->verticalScrollBar();
  const gui::TScrollInfo info = gui::GetScrollInfo(bar);
  EXPECT_EQ(info.nMax, 201 * LineHeight());
  EXPECT_EQ(info.nPage, control->ClientHeight() - LineHeight());
  EXPECT_TRUE(bar->isVisible());
  bar->triggerAction(QAbstractSlider::SliderSingleStepAdd);
  EXPECT_EQ(memo().getTopLine(), 1);
  EXPECT_EQ(bar->value(), LineHeight());
  bar->triggerAction(QAbstractSlider::SliderPageStepAdd);
  EXPECT_EQ(memo().getTopLine(), 1 + memo().VisibleLines() - 1);
  bar->setSliderPosition(10 * LineHeight() + 3);  // pixel-exact thumb tracking
  EXPECT_EQ(memo().TopOrigin(), 10 * LineHeight() + 3);
  bar->triggerAction(QAbstractSlider::SliderSingleStepSub);  // snaps to the line start
  EXPECT_EQ(memo().TopOrigin(), 10 * LineHeight());
  memo().SetOptions(memo().Options().With(memo::vmoNoFineScroll));
  bar->setSliderPosition(20 * LineHeight() + LineHeight() / 2 + 1);
  EXPECT_EQ(memo().TopOrigin(), 21 * LineHeight());  // whole lines, rounded
}

TEST_F(WindowTest, TallTextsScrollOverTheirWholeHeight) {
  SetText(Lines(5000));
  const int total = memo().LineCount() * LineHeight();
  ASSERT_GT(total, 32760);
  EXPECT_EQ(control->VScrollUnit(), total / 32760 + 1);
  QScrollBar* bar = control->verticalScrollBar();
  EXPECT_LE(bar->maximum(), 32760);
  bar->setSliderPosition(bar->maximum());
  EXPECT_GE(memo().TopOrigin() + control->ClientHeight(), total - control->VScrollUnit());
}

// A move too long to scroll the window by repaints it whole: the thumbs
// follow it all the same, both ways.
TEST_F(WindowTest, TheThumbsFollowMovesTooLongToScroll) {
  SetText(Lines(5000));
  QScrollBar* bar = control->verticalScrollBar();
  ASSERT_GT(memo().LineCount() * LineHeight(), 2 * 32767);
  for (int round = 0; round < 2; ++round) {
    Key(Qt::Key_End, Qt::ControlModifier);
    ASSERT_GT(memo().TopOrigin(), 32767);
    EXPECT_EQ(bar->value(), std::min(memo().TopOrigin() / control->VScrollUnit(), bar->maximum()));
    EXPECT_GT(bar->value(), bar->maximum() * 9 / 10);
    Key(Qt::Key_Home, Qt::ControlModifier);
    EXPECT_EQ(memo().TopOrigin(), 0);
    EXPECT_EQ(bar->value(), 0);
  }
  // A drag of the thumb then starts where the view is.
  Key(Qt::Key_End, Qt::ControlModifier);
  const int top = memo().TopOrigin();
  bar->triggerAction(QAbstractSlider::SliderSingleStepSub);
  EXPECT_LT(memo().TopOrigin(), top);
  EXPECT_GT(memo().TopOrigin(), top - 2 * control->VScrollUnit() - LineHeight());

  control->SetScrollBars(memo::ssBoth);
  memo().SetWordWrap(false);
  SetText(std::string(5000, 'w'));
  QScrollBar* hbar = control->horizontalScrollBar();
  for (int round = 0; round < 2; ++round) {
    Key(Qt::Key_End);
    ASSERT_GT(memo().DisplayLeft(), 32767);
    EXPECT_EQ(hbar->value(), std::min(memo().DisplayLeft() / control->HScrollUnit(), hbar->maximum()));
    EXPECT_GT(hbar->value(), hbar->maximum() / 2);
    Key(Qt::Key_Home);
    EXPECT_EQ(memo().DisplayLeft(), 0);
    EXPECT_EQ(hbar->value(), 0);
  }
}

TEST_F(WindowTest, WithoutAutoScrollBarsTheBarStaysWithOneUnit) {
  SetText("short");
  EXPECT_FALSE(control->verticalScrollBar()->isVisible());
  memo().SetOptions(memo().Options().Without(memo::vmoAutoScrollBars));
  SetText("short again");
  EXPECT_TRUE(control->verticalScrollBar()->isVisible());
  EXPECT_EQ(control->verticalScrollBar()->maximum(), 1);
}

TEST_F(WindowTest, TypingPastTheRightEdgeScrollsInStepsOfFiveBlanks) {
  control->SetScrollBars(memo::ssBoth);
  memo().SetWordWrap(false);
  Settle();
  const int step = 5 * CharWidth();
  for (int i = 0; i < 80; ++i) Type("x");
  EXPECT_GT(memo().DisplayLeft(), 0);
  EXPECT_EQ(memo().DisplayLeft() % step, 0);
  EXPECT_GE(control->CaretX(), 0);
  EXPECT_LT(control->CaretX(), control->ClientWidth());
  // The view may stand up to five blanks beyond the bar's last position.
  QScrollBar* hbar = control->horizontalScrollBar();
  Settle();  // scroll areas show and hide their bars through queued calls
  EXPECT_TRUE(hbar->isVisible());
  EXPECT_EQ(hbar->value(), std::min(memo().DisplayLeft() / control->HScrollUnit(), hbar->maximum()));
  EXPECT_LE(memo().DisplayLeft() - hbar->maximum() * control->HScrollUnit(), step);
  Key(Qt::Key_Home);
  EXPECT_EQ(memo().DisplayLeft(), 0);
  // With word wrap the view never moves sideways.
  memo().SetWordWrap(true);
  Settle();
  Key(Qt::Key_End);
  EXPECT_EQ(memo().DisplayLeft(), 0);
}

TEST_F(WindowTest, AFontChangeScrollsToTheTopAndRemeasures) {
  SetText(Lines(100));
  memo().setTopLine(20);
  memo::TMemoFont big = FixedFont(-20);
  memo().SetFont(big);
  Settle();
  EXPECT_EQ(memo().TopOrigin(), 0);
  EXPECT_EQ(LineHeight(), control->Fonts().MainFont().Metrics().tmHeight + 1);
  EXPECT_EQ(control->SpaceWidth(), control->Fonts().MainFont().CharWidth(' '));
  // A fixed line height is kept over font changes; 0 returns to the font's.
  memo().SetLineHeight(30);
  EXPECT_EQ(LineHeight(), 30);
  memo().SetFont(FixedFont(-13));
  EXPECT_EQ(LineHeight(), 30);
  memo().SetLineHeight(0);
  EXPECT_EQ(LineHeight(), control->Fonts().MainFont().Metrics().tmHeight + 1);
}

TEST_F(WindowTest, TabMovesTheFocusWhenTheMemoDoesNotWantIt) {
  QWidget parent;
  auto* layout = new QVBoxLayout(&parent);
  auto* first = new memo::TVellMemoControl(&parent);
  auto* second = new memo::TVellMemoControl(&parent);
  layout->addWidget(first);
  layout->addWidget(second);
  parent.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&parent));
  parent.activateWindow();
  first->setFocus();
  QApplication::processEvents();
  QTest::keyClick(first, Qt::Key_Tab);
  EXPECT_EQ(first->Memo().GetText(), "\t");
  EXPECT_TRUE(first->hasFocus());
  first->Memo().SetWantTabs(false);
  QTest::keyClick(first, Qt::Key_Tab);
  EXPECT_EQ(first->Memo().GetText(), "\t");
  EXPECT_TRUE(second->hasFocus());
  second->SetDisplayOnly(true);
  EXPECT_FALSE(second->Caret().Exists());
}

TEST_F(WindowTest, DrawLinesPaintsOnAnotherCanvas) {
  SetText("first\r\nsecond\r\nthird");
  QImage page(300, 100, QImage::Format_RGB32);
  page.fill(Qt::white);
  {
    QPainter painter(&page);
    control->DrawLines(1, 2, painter, QPoint(10, 20), 30.0);
  }
  const int lh = LineHeight();
  EXPECT_GT(CountPixels(page, QRect(10, 20, 100, lh), IsDark), 10);       // "second"
  EXPECT_GT(CountPixels(page, QRect(10, 50, 100, lh), IsDark), 10);       // "third", one step lower
  EXPECT_EQ(CountPixels(page, QRect(0, 0, 300, 20), IsDark), 0);          // nothing above the origin
  EXPECT_EQ(CountPixels(page, QRect(0, 20 + lh, 300, 50 - 20 - lh), IsDark), 0);  // nothing between
}

TEST_F(WindowTest, TheBackgroundPictureIsTiledBehindParagraphsWithoutColour) {
  QImage tile(4, 4, QImage::Format_RGB32);
  tile.fill(QColor(0, 200, 0));
  control->SetBackgroundBmp(tile);
  SetText("a\r\nb");
  memo().setParBackgnd(1, memo::clWhite);
  const QImage img = Picture();
  EXPECT_EQ(QColor(img.pixel(200, LineHeight() / 2)), QColor(0, 200, 0));
  EXPECT_EQ(QColor(img.pixel(200, LineHeight() + LineHeight() / 2)), QColor(Qt::white));
  EXPECT_EQ(QColor(img.pixel(200, 10 * LineHeight())), QColor(0, 200, 0));  // below the text too
}

TEST_F(WindowTest, AMemoDestroyedFirstLeavesTheControlDetached) {
  auto doc = std::make_unique<memo::TVellMemo>();
  auto view = std::make_unique<memo::TVellMemoControl>(nullptr, doc.get());
  view->show();
  doc->SetText(Lines(10));
  EXPECT_TRUE(doc->HasWindow());
  view.reset();
  EXPECT_FALSE(doc->HasWindow());  // the document lives on without a window
  EXPECT_EQ(doc->LineCount(), 11);
  view = std::make_unique<memo::TVellMemoControl>(nullptr, doc.get());
  doc.reset();
  EXPECT_FALSE(view->HasMemo());
  view->Repaint();
  QApplication::processEvents();
}

// The third colour-table entry of a memo's RTF is its Color property,
// resolved by the memo itself; no control exists in this test's process.
TEST(WindowlessMemo, ResolvesEverySystemColourAsTheWindowLayerDoes) {
  for (int i = 0; i < gui::kSystemColorCount; ++i) {
    memo::TVellMemo m;
    m.SetColor(gui::SystemColor(i));
    rtl::TStringStream s;
    m.SaveToRTFStream(s, false);
    const std::string& rtf = s.DataString();
    std::size_t at = rtf.find("{\\colortbl");
    for (int entry = 0; entry < 2 && at != std::string::npos; ++entry) at = rtf.find(';', at + 1);
    ASSERT_NE(at, std::string::npos) << rtf;
    int r = -1, g = -1, b = -1;
    ASSERT_EQ(std::sscanf(rtf.c_str() + at + 1, "\\red%d\\green%d\\blue%d;", &r, &g, &b), 3) << rtf;
    EXPECT_EQ(QColor(r, g, b), gui::ToQColor(gui::SystemColor(i))) << "index " << i;
  }
  EXPECT_NE(gui::ToQColor(gui::clInfoBk), QColor(0, 0, 0));
}

}  // namespace
