// ScopeExit: runs a function when the scope ends, also by an exception.
//
// What the function raises on a normal exit reaches the caller (an unlock the
// system refuses is an error like any other); while another exception is
// unwinding the scope, what it raises is dropped, so that the first error
// reaches the caller and the process is not ended.
#pragma once

#include <exception>
#include <utility>

namespace korvex {

template <typename F>
class ScopeExit {
public:
  ScopeExit(F f) : f_(std::move(f)), exceptions_(std::uncaught_exceptions()) {}  // NOLINT: CTAD from a lambda
  ScopeExit(const ScopeExit&) = delete;
  ScopeExit& operator=(const ScopeExit&) = delete;
  ~ScopeExit() noexcept(false) {
    if (std::uncaught_exceptions() == exceptions_) {
      f_();
      return;
    }
    try {
      f_();
    } catch (...) {
    }
  }

private:
  F f_;
  int exceptions_;
};
template <typename F>
ScopeExit(F) -> ScopeExit<F>;

}  // namespace korvex
