// The shaped button under synthetic input: state and click sequences, group
// rules, the keyboard, repeat, the drop-down menu, and its pixels.
#include <gtest/gtest.h>

#include <QDialog>
#include <QLineEdit>
#include <QMenu>
#include <QTest>
#include <QTimer>
#include <memory>

#include "controls/change_view.h"
#include "controls/shaped_button.h"
#include "platform/gui/messages.h"
#include "tests/controls/controls_test_util.h"

namespace {

using namespace controls;
using controls_test::PixelColor;

struct Host {
  Host() {
    window.resize(240, 120);
    window.show();
  }
  TKelmShapedButton* Add(int x = 10, int y = 10, int w = 60, int h = 40) {
    auto* b = new TKelmShapedButton(&window);
    b->setGeometry(x, y, w, h);
    b->show();
    b->OnClick = [this, b] { ++clicks[b]; };
    return b;
  }
  QApplication& app = controls_test::App();
  QWidget window;
  std::map<TKelmShapedButton*, int> clicks;
};

void Enter(QWidget* w) {
  QEnterEvent e(QPointF(5, 5), QPointF(5, 5), w->mapToGlobal(QPointF(5, 5)));
  QCoreApplication::sendEvent(w, &e);
}
void Leave(QWidget* w) {
  QEvent e(QEvent::Leave);
  QCoreApplication::sendEvent(w, &e);
}
void Move(QWidget* w, QPoint at, Qt::MouseButtons held) {
  QMouseEvent e(QEvent::MouseMove, at, w->mapToGlobal(at), Qt::NoButton, held, Qt::NoModifier);
  QCoreApplication::sendEvent(w, &e);
}

TEST(ShapedButton, EventSequencesGiveStatesAndClicks) {
  Host host;
  TKelmShapedButton* b = host.Add();
  const QPoint in(5, 5), out(80, 5);
  struct Step { std::function<void()> act; int state; int clicks; };
  const std::vector<Step> steps = {
      {[&] { Enter(b); }, gsHot, 0},
      {[&] { QTest::mousePress(b, Qt::LeftButton, {}, in); }, gsHotDown, 0},
      {[&] { Leave(b); }, gsHot, 0},  // dragged out: stands up
      {[&] { Enter(b); }, gsHotDown, 0},
      {[&] { QTest::mouseRelease(b, Qt::LeftButton, {}, in); }, gsHot, 1},
      {[&] { Leave(b); }, gsUp, 1},
      // Held, dragged out by moving, released outside: no click.
      {[&] { Enter(b); }, gsHot, 1},
      {[&] { QTest::mousePress(b, Qt::LeftButton, {}, in); }, gsHotDown, 1},
      {[&] { Move(b, out, Qt::LeftButton); }, gsHot, 1},
      {[&] { Move(b, in, Qt::LeftButton); }, gsHotDown, 1},
      {[&] { Move(b, out, Qt::LeftButton); }, gsHot, 1},
      {[&] { QTest::mouseRelease(b, Qt::LeftButton, {}, out); }, gsUp, 1},
      {[&] { b->setEnabled(false); }, gsDisabled, 1},
      {[&] { Enter(b); }, gsDisabled, 1},
      {[&] { b->setEnabled(true); }, gsUp, 1},
  };
  for (std::size_t i = 0; i < steps.size(); ++i) {
    steps[i].act();
    EXPECT_EQ(b->State(), steps[i].state) << "step " << i;
    EXPECT_EQ(host.clicks[b], steps[i].clicks) << "step " << i;
  }
}

TEST(ShapedButton, GroupsWithAndWithoutAllowAllUp) {
  Host host;
  TKelmShapedButton* a = host.Add(10, 10);
  TKelmShapedButton* b = host.Add(80, 10);
  TKelmShapedButton* other_group = host.Add(150, 10);
  for (auto* x : {a, b}) x->SetGroupIndex(1);
  other_group->SetGroupIndex(2);
  other_group->SetDown(true);
  auto click = [](TKelmShapedButton* x) { QTest::mouseClick(x, Qt::LeftButton, {}, QPoint(5, 5)); };
  click(a);
  EXPECT_TRUE(a->Down());
  click(a);  // the down one stays down
  EXPECT_TRUE(a->Down());
  EXPECT_EQ(a->State(), gsHotExclusive);
  Leave(a);
  EXPECT_EQ(a->State(), gsExclusive);
  click(b);  // the other swaps them
  EXPECT_TRUE(b->Down());
  EXPECT_FALSE(a->Down());
  EXPECT_EQ(a->State(), gsUp);
  EXPECT_TRUE(other_group->Down());
  b->SetDown(false);  // not without AllowAllUp
  EXPECT_TRUE(b->Down());
  for (auto* x : {a, b}) x->SetAllowAllUp(true);
  click(b);
  EXPECT_FALSE(b->Down());
  EXPECT_FALSE(a->Down());
  EXPECT_EQ(host.clicks[a] + host.clicks[b], 4);
  EXPECT_EQ(b->State(), gsHot);  // released with the mouse on it
  Leave(b);
  EXPECT_EQ(b->State(), gsUp);
  a->SetGroupIndex(0);
  a->SetDown(true);  // Down needs a group
  EXPECT_FALSE(a->Down());
}

TEST(ShapedButton, KeyboardDefaultCancelAcceleratorAndModalResult) {
  controls_test::App();
  QDialog dialog;
  dialog.resize(200, 100);
  auto* edit = new QLineEdit(&dialog);
  auto* ok = new TKelmShapedButton(&dialog);
  auto* cancel = new TKelmShapedButton(&dialog);
  auto* open = new TKelmShapedButton(&dialog);
  int oks = 0, cancels = 0, opens = 0;
  ok->OnClick = [&] { ++oks; };
  cancel->OnClick = [&] { ++cancels; };
  open->OnClick = [&] { ++opens; };
  ok->Default = true;
  cancel->Cancel = true;
  open->SetCaption("&Open");
  open->SetFontDesc(gui::TFontDesc{});
  dialog.show();
  edit->setFocus();
  QTest::keyClick(edit, Qt::Key_Return);
  QTest::keyClick(edit, Qt::Key_Escape);
  QTest::keyClick(edit, Qt::Key_O, Qt::AltModifier);
  QTest::keyClick(edit, Qt::Key_O);  // no Alt: typed into the edit
  QTest::keyClick(edit, Qt::Key_Return, Qt::ShiftModifier);
  EXPECT_EQ(oks, 1);
  EXPECT_EQ(cancels, 1);
  EXPECT_EQ(opens, 1);
  EXPECT_EQ(edit->text(), "o");
  open->SetDisplayMode(dmGlyphOnly);
  QTest::keyClick(edit, Qt::Key_O, Qt::AltModifier);
  EXPECT_EQ(opens, 1);
  ok->setEnabled(false);
  QTest::keyClick(edit, Qt::Key_Return);
  EXPECT_EQ(oks, 1);
  cancel->ModalResult = 2;
  QTest::keyClick(edit, Qt::Key_Escape);
  EXPECT_EQ(dialog.result(), 2);
  EXPECT_FALSE(dialog.isVisible());
}

TEST(ShapedButton, RepeatingClicksAtPressThenOnItsTimerWhileInside) {
  Host host;
  TKelmShapedButton* b = host.Add();
  b->Repeating = true;
  Enter(b);
  QTest::mousePress(b, Qt::LeftButton, {}, QPoint(5, 5));
  EXPECT_EQ(host.clicks[b], 1);
  ASSERT_TRUE(b->RepeatTimer() && b->RepeatTimer()->isActive());
  EXPECT_EQ(b->RepeatTimer()->interval(), 400);
  for (int i = 0; i < 3; ++i) {
    b->RepeatTimerTick();
    EXPECT_EQ(b->RepeatTimer()->interval(), 100);
  }
  EXPECT_EQ(host.clicks[b], 4);
  Move(b, QPoint(90, 5), Qt::LeftButton);
  b->RepeatTimerTick();
  EXPECT_EQ(host.clicks[b], 4);
  EXPECT_FALSE(b->RepeatTimer()->isActive());
  QTest::mouseRelease(b, Qt::LeftButton, {}, QPoint(90, 5));
  // Released inside: no extra click on release.
  Enter(b);
  QTest::mousePress(b, Qt::LeftButton, {}, QPoint(5, 5));
  QTest::mouseRelease(b, Qt::LeftButton, {}, QPoint(5, 5));
  EXPECT_EQ(host.clicks[b], 5);
  EXPECT_FALSE(b->RepeatTimer()->isActive());
}

TEST(ShapedButton, PropertyLimitsAndDropdownCombo) {
  Host host;
  TKelmShapedButton* b = host.Add(10, 10, 30, 22);
  for (auto [in, want] : {std::pair{0, 1}, {9, 6}, {3, 3}, {-4, 1}}) {
    b->SetReliefSize(in);
    EXPECT_EQ(b->ReliefSize(), want);
  }
  b->SetMargin(-5);
  EXPECT_EQ(b->Margin(), -1);
  b->SetMargin(3);
  EXPECT_EQ(b->Margin(), 3);
  b->SetDropdownCombo(true);
  EXPECT_EQ(b->width(), 41);
  b->SetDropdownCombo(false);
  EXPECT_EQ(b->width(), 30);
  b->SetDropdownCombo(true);
  b->resize(5, 22);
  b->SetDropdownCombo(false);
  EXPECT_EQ(b->width(), 1);

  // With a menu the right 11 pixels are the arrow part.
  QMenu menu;
  menu.addAction("One");
  int shown = 0;
  QObject::connect(&menu, &QMenu::aboutToShow, [&] {
    ++shown;
    QTimer::singleShot(0, &menu, &QMenu::close);
  });
  b->resize(40, 22);
  b->SetDropdownCombo(true);  // 51 wide
  b->SetDropdownMenu(&menu);
  const int w = b->width();
  EXPECT_TRUE(b->PointInButton(w - 12, 5));
  EXPECT_FALSE(b->PointInButton(w - 11, 5));
  QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(w - 12, 5));
  EXPECT_EQ(shown, 0);
  EXPECT_EQ(host.clicks[b], 1);
  QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(w - 11, 5));
  EXPECT_EQ(shown, 1);
  EXPECT_EQ(host.clicks[b], 1);  // the arrow part only drops the menu
  b->SetDropdownCombo(false);
  QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(5, 5));
  EXPECT_EQ(shown, 2);
  EXPECT_EQ(host.clicks[b], 2);  // whole-button menu: OnClick, then the menu
}

TEST(ShapedButton, ClickOnTheButtonWhileItsMenuIsOpenClosesIt) {
  Host host;
  TKelmShapedButton* b = host.Add();
  QMenu menu;
  menu.addAction("One");
  b->SetDropdownMenu(&menu);
  int shown = 0;
  QObject::connect(&menu, &QMenu::aboutToShow, [&] {
    if (++shown > 1) return;
    QTimer::singleShot(100, b, [&] { QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(5, 5)); });
  });
  QTimer::singleShot(3000, &menu, &QMenu::close);  // never hang
  QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(5, 5));
  EXPECT_FALSE(menu.isVisible());
  QTest::qWait(100);
  EXPECT_EQ(shown, 1);
  EXPECT_FALSE(menu.isVisible());
}

// The glyph's pixels of one colour: their bounding box.
QRect ColourBox(const QImage& image, QRgb colour) {
  QRect box;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x)
      if ((image.pixel(x, y) & 0xFFFFFF) == (colour & 0xFFFFFF)) box |= QRect(x, y, 1, 1);
  return box;
}

TEST(ShapedButton, PixelsOfBackgroundEdgesCloudAndPressedContent) {
  Host host;
  TKelmShapedButton* b = host.Add(10, 10, 60, 40);
  b->SetTransparent(false);
  b->SetColor(0x000000);
  b->SetCloudType(ctNone);
  b->SetBorder(true);
  const int w = 60, h = 40;
  auto corners = [&] {
    const QImage image = b->grab().toImage();
    return std::tuple{PixelColor(image, 0, 0), PixelColor(image, 1, 1), PixelColor(image, w - 1, h - 1),
                      PixelColor(image, w - 2, h - 2)};
  };
  // [flat][pressed]: raised 5 or sunken 10 with BF_SOFT | BF_MIDDLE; flat 4 or 2.
  b->SetFlat(false);
  EXPECT_EQ(corners(), std::tuple(0xFFFFFF, 0xC8D0D4, 0x404040, 0x808080));
  Enter(b);
  QTest::mousePress(b, Qt::LeftButton, {}, QPoint(5, 5));
  EXPECT_EQ(corners(), std::tuple(0x808080, 0x404040, 0xFFFFFF, 0xC8D0D4));
  QTest::mouseRelease(b, Qt::LeftButton, {}, QPoint(5, 5));
  Leave(b);
  b->SetFlat(true);
  EXPECT_EQ(corners(), std::tuple(0, 0, 0, 0));  // flat and not hot: no frame
  Enter(b);
  EXPECT_EQ(corners(), std::tuple(0xFFFFFF, 0, 0x808080, 0));
  QTest::mousePress(b, Qt::LeftButton, {}, QPoint(5, 5));
  EXPECT_EQ(corners(), std::tuple(0x808080, 0, 0xFFFFFF, 0));
  QTest::mouseRelease(b, Qt::LeftButton, {}, QPoint(5, 5));
  Leave(b);

  // Cloud centre colour per phase: from Color (black) to CloudColor (yellow).
  b->SetBorder(false);
  b->SetCloudType(ctLarge);
  Enter(b);
  auto ring = [](int i) { return (i * 255 / 50) | ((i * 255 / 50) << 8); };
  for (int want : {1, 2, 3, 0}) {
    for (int tick = 0; tick < 1000 && b->FlashPhase() != want; ++tick) b->UpdateHighlighted();
    ASSERT_EQ(b->FlashPhase(), want);
    const int centre = PixelColor(b->grab().toImage(), w / 2, h / 2);
    if (want == 2) {
      EXPECT_EQ(centre, 0x00FFFF);  // the box grows by half: ring 50 covers the centre
    } else {
      bool late_ring = false;
      for (int i = 44; i < 50; ++i) late_ring |= centre == ring(i);
      EXPECT_TRUE(late_ring) << "phase " << want << ": " << std::hex << centre;
    }
  }
  b->SetCloudType(ctNone);
  Leave(b);

  // Content moves by 1,1 while pressed.
  QImage picture(8, 8, QImage::Format_RGB32);
  picture.fill(qRgb(255, 0, 255));
  for (int y = 2; y < 6; ++y)
    for (int x = 2; x < 6; ++x) picture.setPixel(x, y, qRgb(255, 0, 0));
  b->SetGlyph(picture);
  b->SetDisplayMode(dmGlyphOnly);
  const QRect up = ColourBox(b->grab().toImage(), qRgb(255, 0, 0));
  Enter(b);
  QTest::mousePress(b, Qt::LeftButton, {}, QPoint(5, 5));
  const QRect pressed = ColourBox(b->grab().toImage(), qRgb(255, 50, 50));  // brightened while hot
  EXPECT_EQ(up.size(), QSize(4, 4));
  EXPECT_EQ(pressed, up.translated(1, 1));
  QTest::mouseRelease(b, Qt::LeftButton, {}, QPoint(5, 5));

  // See-through over the parent: its colour shows, and the cloud blends into it.
  QPalette palette = host.window.palette();
  palette.setColor(QPalette::Window, QColor(0, 0, 200));
  host.window.setPalette(palette);
  host.window.setAutoFillBackground(true);
  b->SetTransparent(true);
  b->SetGlyph(QImage());
  Leave(b);
  EXPECT_EQ(PixelColor(host.window.grab(b->geometry()).toImage(), 30, 20), 0xC80000);
}

TEST(ShapedButton, ActionLinkKeepsDownHelpAndImageInStep) {
  Host host;
  TKelmShapedButton* b = host.Add();
  b->SetGroupIndex(1);
  b->SetAllowAllUp(true);
  gui::TCustomAction action("Go");
  action.setCheckable(true);
  action.setChecked(true);
  action.SetHelpContext(7);
  action.SetImageIndex(2);
  b->SetAction(&action);
  EXPECT_TRUE(b->Down());
  EXPECT_EQ(b->HelpContext(), 7);
  EXPECT_EQ(b->ImageIndex(), 2);
  EXPECT_EQ(b->Caption(), "Go");
  action.setChecked(false);
  EXPECT_FALSE(b->Down());
  action.SetHelpContext(8);
  EXPECT_EQ(b->HelpContext(), 8);
  b->SetImageIndex(5);  // the button's own value: no longer linked
  action.SetImageIndex(3);
  EXPECT_EQ(b->ImageIndex(), 5);
  int triggered = 0;
  QObject::connect(&action, &QAction::triggered, [&] { ++triggered; });
  QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(5, 5));
  EXPECT_TRUE(b->Down());
  EXPECT_TRUE(action.isChecked());
  EXPECT_EQ(triggered, 1);
  action.setEnabled(false);
  EXPECT_FALSE(b->isEnabled());
}

}  // namespace

namespace {

struct CountingSound : controls::TKelmCustomSound {
  CountingSound() : controls::TKelmCustomSound(nullptr) {}
  void Play() override { ++plays; }
  bool Empty() const override { return false; }
  int plays = 0;
};

TEST(ShapedButton, SoundsPlayOncePerVisitAndForgetDestroyedComponents) {
  Host host;
  TKelmShapedButton* b = host.Add();
  auto highlight = std::make_unique<CountingSound>();
  CountingSound pulse, select;
  b->SetHighlightWave(highlight.get());
  b->SetPulseWave(&pulse);
  b->SetSelectWave(&select);
  b->FlashedDelay = b->FlashingDelay = b->UnFlashedDelay = 1;
  Enter(b);
  Enter(b);
  EXPECT_EQ(highlight->plays, 1);
  auto to_phase_two = [&] {
    for (int i = 0; i < 100 && b->FlashPhase() == 2; ++i) b->UpdateHighlighted();
    for (int i = 0; i < 100 && b->FlashPhase() != 2; ++i) b->UpdateHighlighted();
  };
  to_phase_two();
  EXPECT_EQ(pulse.plays, 0);  // the entry's highlight sound marked this visit
  to_phase_two();
  EXPECT_EQ(pulse.plays, 1);
  QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(5, 5));
  EXPECT_EQ(select.plays, 1);
  Leave(b);
  Enter(b);
  EXPECT_EQ(highlight->plays, 2);
  Leave(b);
  highlight.reset();  // the button forgets it
  EXPECT_EQ(b->HighlightWave(), nullptr);
  Enter(b);
  b->EnableSounds = false;
  QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(5, 5));
  EXPECT_EQ(select.plays, 1);
}

struct Recorder : QWidget {
  Recorder(QWidget* parent, std::vector<Recorder*>& log) : QWidget(parent), log(log) {}
  bool event(QEvent* e) override {
    if (e->type() == gui::TMessageEvent::EventType() &&
        static_cast<gui::TMessageEvent*>(e)->Message().Msg == controls::KELM_CHANGEVIEW)
      log.push_back(this);
    return QWidget::event(e);
  }
  std::vector<Recorder*>& log;
};

TEST(ChangeView, ReachesEveryWidgetUnderTheParentDepthFirst) {
  controls_test::App();
  std::vector<Recorder*> log;
  QWidget root;
  auto* a = new Recorder(&root, log);
  auto* a1 = new Recorder(a, log);
  auto* a2 = new Recorder(a, log);
  auto* a1x = new Recorder(a1, log);
  auto* b = new Recorder(&root, log);
  controls::BroadcastChangeView(&root);
  EXPECT_EQ(log, (std::vector<Recorder*>{a, a1, a1x, a2, b}));
}

}  // namespace
