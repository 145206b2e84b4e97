// Holding a window's painting: nothing is painted while held, and at the end
// exactly the controls that changed are painted, the window then showing
// what a full repaint shows (no stale pixels, nothing drawn twice).
#include <QLabel>

#include "app/paint_hold.h"
#include "window_test_support.h"

namespace {

using namespace window_test;

// A window of four labels in rows of their own; c and d are never touched
// by the cases.
struct Labels {
  QWidget window;
  QLabel* a;
  QLabel* b;
  QLabel* c;
  QLabel* d;
  Labels() {
    a = new QLabel("Baptisms of Ashby", &window);
    b = new QLabel("Marriages of Ashby", &window);
    c = new QLabel("Burials of Ashby", &window);
    d = new QLabel("Banns of Ashby", &window);
    int y = 0;
    for (QLabel* l : {a, b, c, d}) {
      l->setGeometry(0, y, 300, 40);
      y += 50;
    }
    window.resize(300, 200);
    window.show();
  }
};

void Pump() {
  for (int i = 0; i < 5; ++i) QApplication::processEvents();
}

struct HoldCase {
  const char* what;
  // Changes the labels while held (hold may be held again, or let go).
  std::function<void(Labels&, std::unique_ptr<app::TPaintHold>&)> change;
  bool a_painted;  // label a is painted at the end of the hold
  bool b_painted;
};

TEST(PaintHold, OnlyWhatChangedMeanwhileIsPaintedAtTheEnd) {
  App();
  using Hold = std::unique_ptr<app::TPaintHold>;
  const std::vector<HoldCase> cases = {
      {"nothing changes", [](Labels&, Hold&) {}, false, false},
      {"a's text", [](Labels& l, Hold&) { l.a->setText("Baptisms of Ashby-de-la-Zouch"); }, true, false},
      {"a's text, then b painted at once",
       [](Labels& l, Hold&) {
         l.a->setText("A");
         l.b->repaint();
       },
       true, true},
      {"b hidden", [](Labels& l, Hold&) { l.b->hide(); }, false, false},
      {"a changed twice, b once, held twice (one release ends it)",
       [](Labels& l, Hold& hold) {
         hold->Hold();
         l.a->setText("first");
         l.a->setText("second");
         l.b->setText("third");
       },
       true, true},
      {"b's text, the hold let go with its owner",
       [](Labels& l, Hold& hold) {
         l.b->setText("changed");
         hold.reset();
       },
       false, true},
  };
  for (const HoldCase& hc : cases) {
    SCOPED_TRACE(hc.what);
    Labels l;
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&l.window));
    Pump();
    const QImage before = OnScreen(l.window);
    auto hold = std::make_unique<app::TPaintHold>(l.a);  // a control: the hold acts on its window
    hold->Hold();
    ASSERT_TRUE(hold->Held());
    PaintCounter paints;
    hc.change(l, hold);
    if (hold) {
      Pump();
      EXPECT_EQ(paints.Total(), 0);
      EXPECT_EQ(OnScreen(l.window), before);
      hold->Release();
      EXPECT_FALSE(hold->Held());
      hold->Release();  // nothing more to end
    }
    Pump();
    EXPECT_EQ(paints.Of(l.a) > 0, hc.a_painted);
    EXPECT_EQ(paints.Of(l.b) > 0, hc.b_painted);
    EXPECT_EQ(paints.Of(l.c) + paints.Of(l.d), 0);
    const QImage after = OnScreen(l.window);
    EXPECT_EQ(after == before, std::string(hc.what) == "nothing changes");
    EXPECT_EQ(after, FullyRepainted(l.window));
  }
  // A window whose updates are off is not held (nothing would be drawn).
  Labels l;
  l.window.setUpdatesEnabled(false);
  app::TPaintHold hold(&l.window);
  hold.Hold();
  EXPECT_FALSE(hold.Held());
}

// A search that ends within the window's quiet period paints, at its end,
// the page and the lines that changed, not the whole window, and leaves the
// window as a full repaint shows it.
TEST_F(WindowTest, ASearchPaintsWhatItChangedAndLeavesNoStalePixels) {
  struct SearchCase {
    const char* text;
    bool fuzzy;
  };
  // Exact, with sound-alikes, nothing found, and the first again (the page
  // then looks as it did before the click).
  const std::vector<SearchCase> cases = {{"Smith", false}, {"Smith", true}, {"Qxqxq", false}, {"Smith", false}};
  int full = 0;  // widgets a full repaint paints
  {
    PaintCounter paints;
    FullyRepainted(*window);
    full = paints.Widgets();
  }
  for (const SearchCase& sc : cases) {
    SCOPED_TRACE(sc.text + std::string(sc.fuzzy ? " fuzzy" : ""));
    for (int n : {5, 6, 7}) SetBox(n, sc.fuzzy);
    Type(sc.text);
    Settle();
    const QImage before = OnScreen(*window);
    // The control with the focus is drawn again as the button takes it.
    const QWidget* focused = QApplication::focusWidget();
    PaintCounter paints;
    PressSearch();
    EXPECT_FALSE(window->DrawingHeld());
    EXPECT_TRUE(window->updatesEnabled());
    Settle();
    const QImage after = OnScreen(*window);
    EXPECT_GT(paints.Of(window->vm0->viewport()), 0);
    EXPECT_GT(paints.Of(window->Label5), 0);
    // Controls the search leaves alone are not drawn again (the search box
    // is, for its blinking cursor).
    std::vector<QWidget*> untouched(window->CheckBox.begin(), window->CheckBox.end());
    untouched.insert(untouched.end(), {window->ListBox1, window->Label1, window->Panel3});
    for (QWidget* w : untouched) {
      if (w == focused) continue;
      EXPECT_EQ(paints.Of(w), 0) << w->objectName().toStdString();
    }
    EXPECT_LT(paints.Widgets(), full * 2 / 3) << "of " << full;
    // The page's tab is marked changed.
    EXPECT_EQ(window->PageMark(0), 1);
    EXPECT_EQ(window->PageControl1->tabIcon(0).cacheKey(), window->ImageList1[1].cacheKey());
    EXPECT_EQ(after, FullyRepainted(*window));
    if (std::string(sc.text) != "Smith" || sc.fuzzy) {
      EXPECT_NE(after, before);
    }
  }
}

// Marking a page changed or not draws its tab again, not the tab widget
// around the page; marking it as it is draws nothing.
TEST_F(WindowTest, MarkingAPageDrawsItsTabOnly) {
  struct MarkCase {
    int state;
    bool drawn;
  };
  window->SetMod(0);
  Settle();
  const int64_t tab_area = int64_t{window->PageControl1->tabBar()->width()} * window->PageControl1->tabBar()->height();
  for (const MarkCase mc : {MarkCase{1, true}, MarkCase{1, false}, MarkCase{0, true}, MarkCase{0, false},
                            MarkCase{2, true}}) {
    SCOPED_TRACE(mc.state);
    const QImage before = OnScreen(*window);
    PaintCounter paints;
    window->SetMod(mc.state);
    Settle();
    EXPECT_EQ(window->PageMark(0), mc.state != 0 ? 1 : 0);
    EXPECT_EQ(window->PageControl1->tabIcon(0).cacheKey(), window->ImageList1[mc.state != 0 ? 1 : 0].cacheKey());
    EXPECT_EQ(paints.Of(window->PageControl1->tabBar()) > 0, mc.drawn);
    EXPECT_LE(paints.Area(window->PageControl1), tab_area);
    EXPECT_EQ(paints.Of(window->vm0->viewport()), 0);
    const QImage after = OnScreen(*window);
    EXPECT_EQ(after != before, mc.drawn);
    EXPECT_EQ(after, FullyRepainted(*window));
  }
}

// The page's memo fills its own background under its frame: the window
// looks the same as with the tab widget drawn beneath it, with the page
// empty or long (scroll bars), and the memo focused or not.
TEST_F(WindowTest, APageLooksTheSameOverItsOwnBackground) {
  const auto compare = [this](const char* what) {
    SCOPED_TRACE(what);
    Settle();
    window->vm0->setAutoFillBackground(false);
    const QImage beneath = FullyRepainted(*window);
    window->vm0->setAutoFillBackground(true);
    const QImage own = FullyRepainted(*window);
    EXPECT_EQ(own, beneath);
    // Drawn alone, the memo leaves the tab widget around the page alone.
    PaintCounter paints;
    window->vm0->repaint();
    EXPECT_EQ(paints.Of(window->PageControl1), 0);
    EXPECT_GT(paints.Of(window->vm0), 0);
  };
  ASSERT_TRUE(window->vm0->autoFillBackground());
  compare("empty page");
  Type("Smith");
  PressSearch();
  compare("a long page");
  window->vm0->setFocus();
  compare("the page focused");
  window->Edit2->setFocus();
  compare("the search box focused");
}

}  // namespace
