#include "app/core/work_crew.h"


#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <new>
#include <optional>
#include <thread>

#include "platform/runtime/os_process.h"
#include "platform/runtime/parts.h"

namespace appcore {
namespace {

// A crew's rounds, once a helper has run, at which it looks whether two of
// its threads shared a core (see WorkCrew::Place).
constexpr int kPlaceTries = 3;
// Once one crew saw the system put two of its threads on one core, the
// crews after it keep theirs apart from their first round.
std::atomic<bool> g_packs{false};

std::function<double()>& LoadHook() {
  static std::function<double()> hook;
  return hook;
}

// Whether other programs keep half the processors busy or more, as the
// one-minute load average tells (or the tests' hook).
bool Busy() {
  double load = 0;
  if (LoadHook()) return LoadHook()() >= static_cast<double>(std::thread::hardware_concurrency()) / 2;
  return rtl::os::LoadPerProcessor(load) && load >= 0.5;
}

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
  std::size_t starting = 0;  // being started by the callers of rounds
  bool leaving = false;
  std::function<void()> last;  // run by the first helper to leave (AtEnd)
  std::vector<int> cores;      // see WorkCrew::Cores
  // The core each helper (in the order started) last woke on, -1 before
  // it ran: whether the system puts two of the crew on one core.
  std::vector<int> woke_on;

  static void Serve(const std::shared_ptr<State>& state, std::size_t index) {
    std::unique_lock<std::mutex> lock(state->mutex);
    const auto note_core = [&] {
      if (index < state->woke_on.size()) state->woke_on[index] = rtl::os::CurrentCore();
    };
    note_core();
    for (;;) {
      state->wake.wait(lock, [&] { return state->leaving || !state->rounds.empty(); });
      note_core();
      if (state->rounds.empty()) {  // leaving
        std::function<void()> last = std::move(state->last);
        state->last = nullptr;
        lock.unlock();
        if (last) last();
        return;
      }
      std::shared_ptr<Round> round = state->rounds.front();
      if (--round->seats == 0) state->rounds.pop_front();
      lock.unlock();
      round->Work(false);
      round.reset();
      lock.lock();
    }
  }
};

WorkCrew::WorkCrew(Placing placing)
    : placing_(placing), maker_(::pthread_self()), state_(std::make_shared<State>()) {
  state_->cores = rtl::os::CoresOfThisThread();
  state_->woke_on.assign(kMostHelpers, -1);
}

WorkCrew::~WorkCrew() {
  bool last_here = false;
  {
    std::lock_guard<std::mutex> lock(state_->mutex);
    if (state_->started > 0) state_->last = std::move(last_);
    else last_here = true;
    state_->leaving = true;
    state_->wake.notify_all();
  }
  if (last_here && last_) last_();
  if (maker_kept_ && ::pthread_equal(::pthread_self(), maker_)) rtl::os::KeepThisThreadOn(state_->cores);
  // Waiting for seven helpers to be woken, put on a core and ended took
  // 0.2-0.4 ms at the end of every search, the caller's result ready.
  for (const pthread_t helper : helpers_) ::pthread_detach(helper);
}

std::optional<pthread_t> WorkCrew::CreateHelper(std::size_t index, int core) {
  pthread_attr_t attr;
  if (::pthread_attr_init(&attr) != 0) return std::nullopt;
  ::pthread_attr_setstacksize(&attr, kHelperStack);
  // Started on its core, rather than moved there once it runs: a thread
  // starts on its maker's core, and would wait for it.
  if (core >= 0 && !rtl::os::StartOnCore(attr, core)) core = -1;
  struct Start {
    std::shared_ptr<State> state;
    std::size_t index;
  };
  auto* shared = new (std::nothrow) Start{state_, index};
  if (shared == nullptr) {
    ::pthread_attr_destroy(&attr);
    return std::nullopt;
  }
  pthread_t thread;
  const int rc = ::pthread_create(
      &thread, &attr,
      [](void* arg) -> void* {
        auto* start = static_cast<Start*>(arg);
        std::shared_ptr<State> state = std::move(start->state);
        const std::size_t index = start->index;
        delete start;
        State::Serve(state, index);
        return nullptr;
      },
      shared);
  ::pthread_attr_destroy(&attr);
  if (rc != 0) {
    delete shared;
    // A core the system no longer gives (its cores changed): anywhere.
    return core >= 0 ? CreateHelper(index, -1) : std::nullopt;
  }
  return thread;
}

void WorkCrew::Place() {
  const std::vector<int>& all = state_->cores;
  if (maker_core_ >= 0 || all.size() < 2 || place_tries_ >= kPlaceTries) return;
  // Only where the system was seen putting two of a crew on one core (as a
  // scheduler that packs threads does; any crew looks, once a helper has
  // run). Elsewhere it spreads them by itself, and keeps them from programs
  // that run beside them: kept on their cores, one would share its core
  // with such a program to the end (the crew then ran 10-15% slower beside
  // one or two busy programs).
  const int core = rtl::os::CurrentCore();
  if (!g_packs.load(std::memory_order_relaxed)) {
    if (state_->started == 0) return;
    ++place_tries_;
    std::vector<int> seen{core};
    for (std::size_t i = 0; i < state_->started && i < state_->woke_on.size(); ++i)
      if (state_->woke_on[i] >= 0) seen.push_back(state_->woke_on[i]);
    std::sort(seen.begin(), seen.end());
    if (std::adjacent_find(seen.begin(), seen.end()) == seen.end()) return;
    g_packs = true;
  }
  if (placing_ == Placing::kShared || !::pthread_equal(::pthread_self(), maker_)) return;
  if (std::find(all.begin(), all.end(), core) == all.end()) return;
  // Beside other programs that keep half the cores busy or more, the
  // system packs the crew onto the cores they leave: kept apart, most of
  // its threads would share a core with one of them to the end, and each
  // round waits for the slowest (by turns at a load of 17 on eight cores:
  // 161 against 99 ms at 4M lines, 56 against 30 at 1M). The crew then
  // goes where the system puts it, looking again at its next rounds.
  if (Busy()) {
    ++place_tries_;
    return;
  }
  if (placing_ == Placing::kOwn) {
    if (!rtl::os::KeepThisThreadOn({core})) return;
    maker_kept_ = true;
  }
  maker_core_ = core;
  for (std::size_t i = 0; i < helpers_.size(); ++i)
    if (const int helper_core = HelperCore(i); helper_core >= 0) rtl::os::KeepThreadOn(helpers_[i], helper_core);
}

int WorkCrew::HelperCore(std::size_t i) const {
  // The cores after the maker's, in turn; helpers beyond the cores have
  // none.
  const std::vector<int>& all = state_->cores;
  if (maker_core_ < 0 || i + 1 >= all.size()) return -1;
  const auto at = static_cast<std::size_t>(std::find(all.begin(), all.end(), maker_core_) - all.begin());
  return all[(at + 1 + i) % all.size()];
}

const std::vector<int>& WorkCrew::Cores() const { return state_->cores; }

std::size_t WorkCrew::Processors() const {
  return state_->cores.empty() ? rtl::UsableProcessors() : state_->cores.size();
}

void WorkCrew::AtEnd(std::function<void()> last) { last_ = std::move(last); }

void WorkCrew::SetLoadHook(std::function<double()> load) { LoadHook() = std::move(load); }

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
  State& state = *state_;
  std::size_t to_start = 0, to_wake = 0;
  bool wake_all = false;
  std::vector<int> helper_cores;
  std::size_t first_index = 0;
  if (helpers > 0) {
    std::lock_guard<std::mutex> lock(state.mutex);
    // The round is offered before the helpers it lacks are started, so
    // that each takes its tasks as soon as it runs, not once the last is
    // started (a few hundred microseconds for seven). Whatever may throw
    // comes first: once the round is offered, the caller must stay for it.
    // The room reserved is enough for every helper being started, by this
    // round or another.
    to_start = helpers - std::min(helpers, state.started + state.starting);
    helpers_.reserve(state.started + state.starting + to_start);
    Place();
    for (std::size_t s = 0; s < to_start; ++s) helper_cores.push_back(HelperCore(state.started + state.starting + s));
    first_index = state.started + state.starting;
    round->seats = helpers;
    state.rounds.push_back(round);
    state.starting += to_start;
    to_wake = helpers - to_start;
    wake_all = to_wake >= state.started;
  }
  // Waiting helpers are woken in one call where all are wanted: woken one
  // at a time, the first may be put on the caller's core (the system keeps
  // a woken thread near the one that woke it) and hold the caller off it,
  // and with it the waking of the others, for a millisecond and more.
  if (wake_all) state.wake.notify_all();
  else
    for (std::size_t s = 0; s < to_wake; ++s) state.wake.notify_one();
  for (std::size_t s = 0; s < to_start; ++s) {
    const std::optional<pthread_t> helper = CreateHelper(first_index + s, helper_cores[s]);
    std::lock_guard<std::mutex> lock(state.mutex);
    if (!helper) {  // fewer helpers where no more threads can be had
      state.starting -= to_start - s;
      break;
    }
    helpers_.push_back(*helper);
    --state.starting;
    ++state.started;
  }
  round->Work(true);
  if (helpers > 0) {
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
