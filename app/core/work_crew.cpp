#include "app/core/work_crew.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>

namespace appcore {
namespace {

// Helpers started at most, whatever a round asks for.
constexpr std::size_t kMostHelpers = 63;
// A helper's stack. The search, the merge and the sorts run in a few
// hundred KiB at most; the system's 8 MiB would have the threads' ends
// give back most of a crew's stacks one unmap at a time (the C library
// keeps 40 MiB of ended threads' stacks for reuse): 0.1 ms more at the end
// of a search on eight threads.
constexpr std::size_t kHelperStack = std::size_t{4} << 20;

// One round. Helpers hold it by a shared pointer: one that takes its seat
// after the round ended finds no task left and touches nothing of the
// caller's.
struct Round {
  const CrewTask* body = nullptr;
  std::size_t count = 0;
  std::size_t seats = 0;  // helpers still wanted (under the crew's mutex)
  std::atomic<std::size_t> next{0}, ended{0};
  std::mutex mutex;
  std::condition_variable all_ended;
  std::exception_ptr failure;  // the first task's that threw (under mutex)

  void Work(bool on_caller) {
    for (std::size_t task = next++; task < count; task = next++) {
      try {
        (*body)(task, on_caller);
      } catch (...) {
        std::lock_guard<std::mutex> lock(mutex);
        if (!failure) failure = std::current_exception();
      }
      if (ended.fetch_add(1) + 1 == count) {
        std::lock_guard<std::mutex> lock(mutex);
        all_ended.notify_all();
      }
    }
  }
};

}  // namespace

// What the crew and its helpers share; the helpers hold it until they leave.
struct WorkCrew::State {
  std::mutex mutex;
  std::condition_variable wake;
  std::deque<std::shared_ptr<Round>> rounds;  // rounds with seats left
  std::size_t started = 0;
  bool leaving = false;

  static void Serve(const std::shared_ptr<State>& state) {
    std::unique_lock<std::mutex> lock(state->mutex);
    for (;;) {
      state->wake.wait(lock, [&] { return state->leaving || !state->rounds.empty(); });
      if (state->rounds.empty()) return;  // leaving
      std::shared_ptr<Round> round = state->rounds.front();
      if (--round->seats == 0) state->rounds.pop_front();
      lock.unlock();
      round->Work(false);
      round.reset();
      lock.lock();
    }
  }
};

WorkCrew::WorkCrew() : state_(std::make_shared<State>()) {}

WorkCrew::~WorkCrew() {
  {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->leaving = true;
    state_->wake.notify_all();
  }
  for (const pthread_t helper : helpers_) ::pthread_join(helper, nullptr);
}

bool WorkCrew::StartHelper() {
  pthread_attr_t attr;
  if (::pthread_attr_init(&attr) != 0) return false;
  ::pthread_attr_setstacksize(&attr, kHelperStack);
  auto* shared = new std::shared_ptr<State>(state_);
  pthread_t thread;
  const int rc = ::pthread_create(
      &thread, &attr,
      [](void* arg) -> void* {
        std::shared_ptr<State> state = std::move(*static_cast<std::shared_ptr<State>*>(arg));
        delete static_cast<std::shared_ptr<State>*>(arg);
        State::Serve(state);
        return nullptr;
      },
      shared);
  ::pthread_attr_destroy(&attr);
  if (rc != 0) {
    delete shared;
    return false;
  }
  helpers_.push_back(thread);
  return true;
}

std::size_t WorkCrew::Size() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->started;
}

void WorkCrew::Run(std::size_t threads, std::size_t count, const CrewTask& body, const CrewWaiting& waiting,
                   int interval_ms) {
  if (count == 0) return;
  auto round = std::make_shared<Round>();
  round->body = &body;
  round->count = count;
  const std::size_t helpers = std::min({threads > 0 ? threads - 1 : 0, count - 1, kMostHelpers});
  std::size_t seats = 0;
  State& state = *state_;
  if (helpers > 0) {
    std::lock_guard<std::mutex> lock(state.mutex);
    // Fewer helpers where no more threads can be had.
    helpers_.reserve(helpers);
    while (state.started < helpers && StartHelper()) ++state.started;
    seats = round->seats = std::min(helpers, state.started);
    if (seats > 0) state.rounds.push_back(round);
  }
  for (std::size_t s = 0; s < seats; ++s) state.wake.notify_one();
  round->Work(true);
  if (seats > 0) {
    // Helpers not yet come are not waited for.
    std::lock_guard<std::mutex> lock(state.mutex);
    for (auto it = state.rounds.begin(); it != state.rounds.end(); ++it)
      if (*it == round) {
        state.rounds.erase(it);
        break;
      }
  }
  std::unique_lock<std::mutex> lock(round->mutex);
  const auto done = [&] { return round->ended.load() == count; };
  if (!waiting) round->all_ended.wait(lock, done);
  while (!round->all_ended.wait_for(lock, std::chrono::milliseconds(interval_ms), done)) {
    lock.unlock();
    waiting();
    lock.lock();
  }
  if (round->failure) std::rethrow_exception(round->failure);
}

}  // namespace appcore
