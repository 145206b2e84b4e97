// Shared helpers of the storage-library tests: the library's start-up for
// the whole run, a fixture that checks the allocator's total comes back to
// where it was, external reference programs, scratch directories and child
// processes for the cross-process lock tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>

#include "support/child_process.h"
#include "support/temp_dir.h"
#include "tables/engine/errors/engine_error.h"

namespace korvex::testing {

// Every test of the storage library derives from this: no test may leave a
// byte of the counted allocator behind.
class CountedTest : public ::testing::Test {
protected:
  void SetUp() override;
  void TearDown() override;

private:
  std::int64_t baseline_ = 0;
};

// The standard output of `python3 -c code`, or of a shell command.
std::string RunPython(const std::string& code);
std::string RunCommand(const std::string& command);
bool HaveProgram(const std::string& name);

// A fresh directory, removed with its contents at the end of the test.
using ScratchDir = qvtest::TempDir;
using qvtest::ReadFileBytes;
using qvtest::WriteFileBytes;

using qvtest::ChildProcess;

// Runs body in a child process and answers its exit code.
int InChild(const std::function<int()>& body);

// Drops root rights in a child (to "nobody") so that file permissions apply.
bool DropPrivileges();

// The engine error number of an EKORVEXEngineError thrown by body (0 when
// none), and its message in `message` when given.
int RaisedNumber(const std::function<void()>& body, std::string* message = nullptr);

}  // namespace korvex::testing
