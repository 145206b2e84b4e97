// One offscreen QApplication for a test program, made before the first test
// and destroyed after the last, before the program's static objects (Qt's
// own among them) go. Include it once per test program and call App().
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <memory>

namespace memo_test {

class QtAppEnvironment : public ::testing::Environment {
public:
  void SetUp() override {
    static int argc = 1;
    static char arg0[] = "memo_qt_tests";
    static char* argv[] = {arg0, nullptr};
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    app_ = std::make_unique<QApplication>(argc, argv);
  }
  void TearDown() override { app_.reset(); }

private:
  std::unique_ptr<QApplication> app_;
};

inline ::testing::Environment* const kQtAppEnvironment =
    ::testing::AddGlobalTestEnvironment(new QtAppEnvironment);

inline QApplication& App() { return *qApp; }

}  // namespace memo_test
