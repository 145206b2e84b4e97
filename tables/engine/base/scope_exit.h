// ScopeExit: runs a function when the scope ends, also by an exception.
#pragma once

namespace korvex {

template <typename F>
struct ScopeExit {
  F f;
  ~ScopeExit() { f(); }
};
template <typename F>
ScopeExit(F) -> ScopeExit<F>;

}  // namespace korvex
