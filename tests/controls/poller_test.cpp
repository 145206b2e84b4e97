// The hot-track poller: registration between ticks, removal mid-walk, the
// stop, and the pace of real ticks.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <functional>
#include <memory>

#include "controls/hot_track_poller.h"
#include "tests/controls/controls_test_util.h"

namespace {

using controls::THotTrackPoller;

struct Client : controls::THotTrackClient {
  Client(THotTrackPoller& p, std::function<void()> step = {}) : poller(p), on_step(std::move(step)) { poller.Register(this); }
  ~Client() override { poller.Unregister(this); }
  void UpdateHighlighted() override {
    ++calls;
    if (on_step) on_step();
  }
  THotTrackPoller& poller;
  std::function<void()> on_step;
  int calls = 0;
};

TEST(HotTrackPoller, WalksSkipRemovedAndNeverCallTheDead) {
  controls_test::App();
  THotTrackPoller poller;
  auto a = std::make_unique<Client>(poller);
  std::unique_ptr<Client> c;
  auto b = std::make_unique<Client>(poller, [&] { a.reset(); c.reset(); });  // deletes one before and one after it
  c = std::make_unique<Client>(poller);
  auto d = std::make_unique<Client>(poller);
  {
    Client between(poller);  // made and freed between two ticks
  }
  poller.TickForTest();
  EXPECT_EQ(b->calls, 1);
  EXPECT_EQ(d->calls, 1);
  EXPECT_EQ(poller.Count(), 2);
  b->on_step = [&] { b.reset(); };  // deletes itself
  poller.TickForTest();
  EXPECT_EQ(d->calls, 2);
  EXPECT_EQ(poller.Count(), 1);
  EXPECT_TRUE(poller.Armed());
  d.reset();
  EXPECT_FALSE(poller.Armed());
  const long long ticks = poller.Ticks();
  QElapsedTimer wait;
  wait.start();
  while (wait.elapsed() < 60) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  EXPECT_EQ(poller.Ticks(), ticks);
  EXPECT_FALSE(poller.Armed());
}

// A tick never comes before its interval, so fifty take at least half a
// second on every run. A loaded machine wakes the loop late, so the upper
// bar holds the best of a few runs.
TEST(HotTrackPoller, FiftyRealTicksTakeHalfASecond) {
  controls_test::App();
  qint64 best = -1;
  for (int run = 0; run < 5 && !(best >= 0 && best < 2000); ++run) {
    SCOPED_TRACE(run);
    THotTrackPoller poller;
    QElapsedTimer clock;
    clock.start();
    qint64 at_fifty = -1;
    Client client(poller);
    client.on_step = [&] {
      if (client.calls == 50) at_fifty = clock.elapsed();
    };
    while (at_fifty < 0 && clock.elapsed() < 5000) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    if (at_fifty < 0) continue;  // starved for five seconds: try again
    EXPECT_GE(at_fifty, 500);
    if (best < 0 || at_fifty < best) best = at_fifty;
  }
  RecordProperty("fifty_ticks_ms", static_cast<int>(best));
  EXPECT_GE(best, 500);
  EXPECT_LT(best, 2000);
}

}  // namespace
