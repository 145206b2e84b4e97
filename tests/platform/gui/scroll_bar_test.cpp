#include <gtest/gtest.h>

#include <QScrollBar>

#include "gui_test_util.h"
#include "platform/gui/messages.h"
#include "platform/gui/scroll_bar.h"

namespace {

using namespace gui;

TEST(ScrollBarTest, Win32RangesMapToTheLastPosition) {
  EXPECT_EQ(QtMaximum(TScrollInfo{0, 99, 10, 0}), 90);
  EXPECT_EQ(QtMaximum(TScrollInfo{0, 9, 10, 0}), 0);   // everything fits
  EXPECT_EQ(QtMaximum(TScrollInfo{0, 50, 0, 0}), 50);  // no page
  EXPECT_FALSE(ScrollBarNeeded(TScrollInfo{0, 9, 10, 0}));
  EXPECT_TRUE(ScrollBarNeeded(TScrollInfo{0, 10, 10, 0}));  // one unit of range
}

TEST(ScrollBarTest, InfoRoundTripsAndPositionsAreClamped) {
  gui_test::App();
  QScrollBar bar(Qt::Vertical);
  int actions = 0;
  QObject::connect(&bar, &QScrollBar::actionTriggered, [&] { ++actions; });
  SetScrollInfo(&bar, TScrollInfo{0, 99, 10, 95});
  EXPECT_EQ(bar.maximum(), 90);
  EXPECT_EQ(bar.pageStep(), 10);
  EXPECT_EQ(bar.value(), 90);
  const TScrollInfo info = GetScrollInfo(&bar);
  EXPECT_EQ(info.nMax, 99);
  EXPECT_EQ(info.nPage, 10);
  EXPECT_EQ(info.nPos, 90);
  SetScrollPos(&bar, -3);
  EXPECT_EQ(bar.value(), 0);
  EXPECT_EQ(actions, 0);  // setting never feeds back as a user scroll
}

TEST(ScrollBarTest, ActionsBecomeScrollCommands) {
  EXPECT_EQ(ScrollCommand(QAbstractSlider::SliderSingleStepSub), SB_LINEUP);
  EXPECT_EQ(ScrollCommand(QAbstractSlider::SliderSingleStepAdd), SB_LINEDOWN);
  EXPECT_EQ(ScrollCommand(QAbstractSlider::SliderPageStepSub), SB_PAGEUP);
  EXPECT_EQ(ScrollCommand(QAbstractSlider::SliderPageStepAdd), SB_PAGEDOWN);
  EXPECT_EQ(ScrollCommand(QAbstractSlider::SliderMove), SB_THUMBTRACK);
  EXPECT_EQ(ScrollCommand(QAbstractSlider::SliderNoAction), -1);
}

}  // namespace
