// Every textutil test starts from and returns to the default settings, since
// the settings are process-wide.
#pragma once

#include <gtest/gtest.h>

#include "platform/runtime/format_settings.h"
#include "textutil/state.h"

namespace textutil {

inline void RestoreDefaultSettings() {
  SetCaseTable("abcdefghijklmnopqrstuvwxyz", "ABCDEFGHIJKLMNOPQRSTUVWXYZ");
  SetDelimiter(',');
  MutableState().OpenQuote = '"';
  MutableState().CloseQuote = '"';
  LoadSeparators();
}

class TextutilTest : public ::testing::Test {
protected:
  void SetUp() override { RestoreDefaultSettings(); }
  void TearDown() override { RestoreDefaultSettings(); }
};

}  // namespace textutil
