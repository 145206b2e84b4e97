#include "controls/hot_track_poller.h"

#include <QCoreApplication>
#include <algorithm>

namespace controls {

THotTrackPoller::~THotTrackPoller() { delete timer_.data(); }

void THotTrackPoller::Register(THotTrackClient* client) {
  clients_.push_back(client);
  if (!timer_ && QCoreApplication::instance()) {
    // Owned by the application, so it never outlives the event loop.
    timer_ = new QTimer(QCoreApplication::instance());
    timer_->setSingleShot(true);
    timer_->setTimerType(Qt::PreciseTimer);
    timer_->setInterval(kIntervalMs);
    QObject::connect(timer_, &QTimer::timeout, [this] {
      Walk();
      if (!clients_.empty()) timer_->start();
    });
    QObject::connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, timer_, [this] { Stop(); });
  }
  if (timer_ && !timer_->isActive() && !QCoreApplication::closingDown()) timer_->start();
}

void THotTrackPoller::Unregister(THotTrackClient* client) {
  auto it = std::find(clients_.begin(), clients_.end(), client);
  if (it == clients_.end()) return;
  const int index = static_cast<int>(it - clients_.begin());
  clients_.erase(it);
  // Keep the walk on the client that follows the one now being called.
  if (walking_ && index <= walk_index_) --walk_index_;
  if (clients_.empty()) Stop();
}

void THotTrackPoller::Walk() {
  walking_ = true;
  for (walk_index_ = 0; walk_index_ < static_cast<int>(clients_.size()); ++walk_index_)
    clients_[static_cast<std::size_t>(walk_index_)]->UpdateHighlighted();
  walking_ = false;
  ++ticks_;
}

void THotTrackPoller::Stop() {
  if (timer_) timer_->stop();
}

}  // namespace controls

