// Writes native images into QV_MEMO_SEED_DIR when set: seeds for the fuzz
// target. Otherwise checks that the images read back.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "memo_test_util.h"

using namespace memo;

TEST(NativeImageSeeds, ImagesReadBack) {
  const char* dir = std::getenv("QV_MEMO_SEED_DIR");
  const std::vector<std::string> texts = {"", "a", "John Smith\r\n\r\nsmith (x)\r\n", std::string(300, 'w') + " end"};
  int n = 0;
  for (const std::string& text : texts) {
    TVellMemo m;
    m.Keywords().AddKeyWord("smith", 0, fsBold, 1, 0, clWhite, clRed);
    m.StartStopKeys().AddStartStopKey("(", ")", 0, 0, 0, 0, clYellow, clBlue, false);
    m.SetText(text);
    m.FormatNow(0, m.GetParCount() - 1, false);
    rtl::TStringStream s;
    m.SaveToNativeStream(s);
    if (dir) std::ofstream(std::string(dir) + "/seed" + std::to_string(n++), std::ios::binary) << s.DataString();
    TVellMemo back;
    rtl::TStringStream in(s.DataString());
    back.LoadFromNativeStream(in, true);
    EXPECT_EQ(back.GetText(), m.GetText());
  }
}
