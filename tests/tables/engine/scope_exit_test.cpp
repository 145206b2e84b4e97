// ScopeExit: its function runs on every exit; what it raises reaches the
// caller on a normal exit and is dropped while another error unwinds, also
// for a guard made inside a destructor that runs during unwinding.
#include "tables/engine/base/scope_exit.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

using korvex::ScopeExit;

namespace {

void Guarded(bool fail_body, bool fail_guard, int& runs) {
  ScopeExit guard{[&] {
    ++runs;
    if (fail_guard) throw std::runtime_error("guard");
  }};
  if (fail_body) throw std::runtime_error("body");
}

std::string Outcome(bool fail_body, bool fail_guard, int& runs) {
  try {
    Guarded(fail_body, fail_guard, runs);
    return "";
  } catch (const std::runtime_error& e) {
    return e.what();
  }
}

// Closes something with a guarded step of its own while the owner unwinds.
struct Closer {
  int& runs;
  std::string& seen;
  ~Closer() {
    try {
      Guarded(false, true, runs);
    } catch (const std::runtime_error& e) {
      seen = e.what();
    }
  }
};

}  // namespace

TEST(ScopeExit, RaisesOnANormalExitAndKeepsTheFirstErrorWhileUnwinding) {
  struct Case {
    bool fail_body, fail_guard;
    const char* reaches_caller;
  } cases[] = {{false, false, ""}, {false, true, "guard"}, {true, false, "body"}, {true, true, "body"}};
  for (const Case& c : cases) {
    int runs = 0;
    EXPECT_EQ(Outcome(c.fail_body, c.fail_guard, runs), c.reaches_caller) << c.fail_body << c.fail_guard;
    EXPECT_EQ(runs, 1);
  }
  int runs = 0;
  std::string seen;
  auto owner = [&] {
    Closer closer{runs, seen};
    throw std::logic_error("owner");
  };
  EXPECT_THROW(owner(), std::logic_error);
  EXPECT_EQ(runs, 1);
  EXPECT_EQ(seen, "guard");
}
