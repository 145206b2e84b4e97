#include <gtest/gtest.h>

#include <QCoreApplication>
#include <memory>
#include <vector>

#include "gui_test_util.h"
#include "platform/gui/messages.h"

namespace {

using namespace gui;

class Receiver : public QObject {
public:
  bool event(QEvent* e) override {
    if (e->type() != TMessageEvent::EventType()) return QObject::event(e);
    got.push_back(static_cast<TMessageEvent*>(e)->Message());
    return true;
  }
  std::vector<TMessage> got;
};

TEST(MessagesTest, ParametersPackSignedCoordinates) {
  const std::intptr_t lp = MakeLParam(-5, 300);
  EXPECT_EQ(SignedLowWord(lp), -5);
  EXPECT_EQ(SignedHighWord(lp), 300);
  EXPECT_EQ(LowWord(lp), 0xFFFB);
  EXPECT_EQ(SignedHighWord(MakeLParam(0, -120)), -120);
  EXPECT_EQ(KeyShiftState(KeyLParam(ssShift | ssCtrl)), ssShift | ssCtrl);
  EXPECT_EQ(WM_USER + 1, 1025u);
  EXPECT_EQ(CM_TEXTCHANGED, 0xB012u);
  EXPECT_EQ(CM_FONTCHANGED, 0xB00Eu);
  EXPECT_EQ(DLGC_WANTARROWS + DLGC_WANTALLKEYS + DLGC_WANTCHARS, 133);
}

TEST(MessagesTest, PostedMessagesRunLaterInOrder) {
  gui_test::App();
  Receiver r;
  PostMessage(&r, WM_USER + 1, 1, 0);
  PostMessage(&r, WM_USER + 2, 2, 3);
  EXPECT_TRUE(r.got.empty());  // never at once
  QCoreApplication::processEvents();
  ASSERT_EQ(r.got.size(), 2u);
  EXPECT_EQ(r.got[0].Msg, WM_USER + 1);
  EXPECT_EQ(r.got[1].WParam, 2);
  EXPECT_EQ(r.got[1].LParam, 3);
}

TEST(MessagesTest, CancelledAndOrphanedMessagesAreDropped) {
  gui_test::App();
  Receiver r;
  PostMessage(&r, WM_USER + 1);
  CancelPostedMessages(&r);
  QCoreApplication::processEvents();
  EXPECT_TRUE(r.got.empty());
  auto gone = std::make_unique<Receiver>();
  PostMessage(gone.get(), WM_USER + 1);
  gone.reset();
  QCoreApplication::processEvents();  // no crash: Qt dropped it
  PostMessage(nullptr, WM_USER + 1);
}

}  // namespace
