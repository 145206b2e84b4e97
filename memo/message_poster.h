// The memo continues long work (background formatting) by posting a
// message to itself. The GUI layer binds this to its event queue; a memo
// without a poster does such work at once, to completion.
#pragma once

#include <cstdint>

namespace memo {

class TVellMemo;

class TMessagePoster {
public:
  virtual ~TMessagePoster() = default;
  // Queues the message; the event loop later calls memo->Perform with it.
  // Must not run it at once, and must drop it if the memo is destroyed
  // first (TVellMemo calls Cancel from its destructor).
  virtual void Post(TVellMemo* memo, std::uint32_t msg, std::intptr_t wparam, std::intptr_t lparam) = 0;
  // Forgets every queued message for the memo.
  virtual void Cancel(TVellMemo* memo) = 0;
};

}  // namespace memo
