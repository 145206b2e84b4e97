// The hot-track poller: a list of live controls whose UpdateHighlighted
// runs every 10 ms on the GUI thread, for the flashing of hot-tracked
// buttons and tabs. Each control class keeps its own poller (its own list);
// both are this one class.
//
// One single-shot precise QTimer per poller, re-armed 10 ms after each walk
// ends (so ticks come 10 ms after the previous walk, not at a fixed rate).
// It starts with the first registration (a QApplication must exist by
// then), stops with the last unregistration and at aboutToQuit. A walk
// re-reads the count before each step: a control unregistered during the
// walk (even by another control's step) is skipped, never called.
#pragma once

#include <QPointer>
#include <QTimer>
#include <vector>

namespace controls {

class THotTrackClient {
public:
  virtual ~THotTrackClient() = default;
  virtual void UpdateHighlighted() = 0;
};

class THotTrackPoller {
public:
  static constexpr int kIntervalMs = 10;

  THotTrackPoller() = default;
  ~THotTrackPoller();
  THotTrackPoller(const THotTrackPoller&) = delete;
  THotTrackPoller& operator=(const THotTrackPoller&) = delete;

  void Register(THotTrackClient* client);
  void Unregister(THotTrackClient* client);
  int Count() const { return static_cast<int>(clients_.size()); }
  bool Armed() const { return timer_ && timer_->isActive(); }
  // One walk, as a tick runs it (tests).
  void TickForTest() { Walk(); }
  // Completed walks since the poller was made.
  long long Ticks() const { return ticks_; }

private:
  void Walk();
  void Stop();

  std::vector<THotTrackClient*> clients_;
  QPointer<QTimer> timer_;
  bool walking_ = false;
  int walk_index_ = 0;  // the client being called while walking
  long long ticks_ = 0;
};

}  // namespace controls
