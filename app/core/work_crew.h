// A few threads on which a search hands out its work in rounds: started at
// the first round that wants them and then waiting for the next one, so
// that the reading, the search and the merge do not start threads of their
// own each time.
//
// A round is a count of tasks taken in order by the calling thread and up to
// threads - 1 helpers. It ends when every task has ended: a helper that
// wakes after the last task was taken (the system kept it off its core) is
// not waited for, and the calling thread never waits for a task nobody has
// taken, since it takes every task left itself.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <pthread.h>
#include <vector>

namespace appcore {

// body(task, on_caller) for a task; on_caller is true on the calling thread.
using CrewTask = std::function<void(std::size_t task, bool on_caller)>;
// Called on the calling thread about every interval_ms while it waits for
// helpers to end their tasks (it must not throw).
using CrewWaiting = std::function<void()>;

class WorkCrew {
public:
  // kOwn: each thread kept on a core of its own while the crew lasts, once
  // the system was seen putting two of a crew on one core (a scheduler that
  // packs threads onto few cores does so in most searches, and leaves them
  // there for milliseconds while a core idles): from the first rounds of
  // the crew that saw it, and from the first round of every crew after.
  // The thread that makes the crew is kept on the core it runs on until
  // the crew ends, and must be the one that ends it; threads it starts
  // meanwhile should ask for Cores().
  // kHelpers: the same for the helpers alone, placed around the core the
  // maker was on; the maker stays where the system puts it (a crew kept
  // for the life of a window, its maker the window's thread).
  enum class Placing { kShared, kOwn, kHelpers };
  explicit WorkCrew(Placing placing = Placing::kShared);
  // Tells its helpers to leave and does not wait for them: each holds what
  // it shares with the crew, and touches nothing of a caller's once its
  // rounds have ended.
  ~WorkCrew();
  WorkCrew(const WorkCrew&) = delete;
  WorkCrew& operator=(const WorkCrew&) = delete;

  // body for every task < count. What the first task to throw threw is
  // thrown again once every task has ended (the others still run). Rounds
  // may run at the same time from several threads.
  void Run(std::size_t threads, std::size_t count, const CrewTask& body, const CrewWaiting& waiting = nullptr,
           int interval_ms = 15);
  // Has last run once the crew ends, on a helper as it leaves (on the
  // thread that ends the crew when it started none): what the crew's caller
  // leaves behind is let go of while the caller goes on. last must not
  // throw.
  void AtEnd(std::function<void()> last);
  // Helpers started so far.
  std::size_t Size() const;
  // What the crews read as the system's load (threads running or waiting
  // for a core, beside the processors it has): the one-minute load average
  // when empty. For tests.
  static void SetLoadHook(std::function<double()> load);
  // The cores the crew's threads may run on, as the thread that made it
  // could then (the processors to cut work for).
  const std::vector<int>& Cores() const;
  std::size_t Processors() const;

  struct State;

private:
  // Starts helper index (in the order started), on core when it is not
  // negative; none when the system has no thread or memory to give. Never
  // throws.
  std::optional<pthread_t> CreateHelper(std::size_t index, int core);
  // On a crew's first rounds: looks whether the system put two of its
  // threads on one core; once one crew saw it, a kOwn crew keeps its maker
  // on its core and each helper started so far on one of its own (a
  // kHelpers crew the helpers alone, around the maker's core). Under
  // state_'s mutex.
  void Place();
  // Helper i's core (in the order started) once placed, else -1.
  int HelperCore(std::size_t i) const;

  const Placing placing_;
  const pthread_t maker_;
  int maker_core_ = -1;  // the core the helpers are placed around, once they are
  bool maker_kept_ = false;  // the maker kept on maker_core_ (kOwn)
  int place_tries_ = 0;
  std::shared_ptr<State> state_;
  std::vector<pthread_t> helpers_;  // under state_'s mutex
  std::function<void()> last_;      // see AtEnd
};

}  // namespace appcore
