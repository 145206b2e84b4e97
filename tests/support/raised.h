// What an action raises, for one-line checks of an exception's message.
#pragma once

#include <exception>
#include <string>

namespace qvtest {

// The message (what()) of the E that `action` raises; "" when it raises
// nothing. Anything else it raises passes on and fails the test.
template <typename E, typename Action>
std::string WhatRaised(Action&& action) {
  try {
    action();
  } catch (const E& e) {
    return e.what();
  }
  return "";
}

}  // namespace qvtest
