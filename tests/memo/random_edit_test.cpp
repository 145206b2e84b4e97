// Random replacements of random selections, checked against a plain
// std::string model with CR LF semantics (a CR, alone or before an LF,
// makes a paragraph break that counts two positions; a lone LF is an
// ordinary character).
#include <gtest/gtest.h>

#include <random>

#include "memo_test_util.h"

using namespace memo;
using namespace memo_test;

namespace {

std::string Normalize(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') {
      out += "\r\n";
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      out += text[i];
    }
  }
  return out;
}

struct Model {
  std::string s;
  // The memo takes a whole break when an edge falls inside one.
  void Replace(int a, int b, const std::string& text) {
    auto inside = [&](int p) { return p > 0 && p <= static_cast<int>(s.size()) && s[p - 1] == '\r'; };
    bool empty = a == b;
    if (inside(a)) --a;
    if (inside(b)) b += empty ? -1 : 1;
    if (empty) b = a;
    s = s.substr(0, a) + Normalize(text) + s.substr(b);
  }
  int Paragraphs() const { return 1 + static_cast<int>(std::count(s.begin(), s.end(), '\r')); }
};

std::string RandomText(std::mt19937& rng, int maxLen) {
  static const char* kPieces[] = {"a", "b", "c", " ", "\t", "\r", "\n", "\r\n", "xyz", "  "};
  std::uniform_int_distribution<int> len(0, maxLen), pick(0, 9);
  std::string t;
  for (int n = len(rng); n > 0; --n) t += kPieces[pick(rng)];
  return t;
}

class FakeWindow : public TMemoWindow {
public:
  TTextMeasurer& Measurer() override { return measurer; }
  int ClientWidth() const override { return 80; }
  int ClientHeight() const override { return 100; }
  TFixedWidthMeasurer measurer{8};
};

void RunDifferential(unsigned seed, bool withWindow, bool staticFormat) {
  std::mt19937 rng(seed);
  TVellMemo m;
  FakeWindow window;
  m.SetUpdateMode(umImmediate);
  if (withWindow) m.AttachWindow(&window);
  if (!staticFormat) m.SetStaticFormat(false);
  Model model;
  const std::string original = "first line\r\nsecond\r\n\r\nlast";
  SetTextOf(m, original);
  model.s = original;
  m.ClearUndo();
  std::vector<std::string> history{model.s};
  for (int step = 0; step < 300; ++step) {
    int len = static_cast<int>(model.s.size());
    std::uniform_int_distribution<int> pos(0, len);
    int a = pos(rng), b = pos(rng);
    if (a > b) std::swap(a, b);
    if (rng() % 4 == 0) b = a;
    std::string text = RandomText(rng, 6);
    if (a == b && text.empty()) text = "q";
    Replace(m, a, b, text);
    model.Replace(a, b, text);
    ASSERT_EQ(m.GetText(), model.s) << "seed " << seed << " step " << step;
    ASSERT_EQ(m.GetTextLen(), static_cast<int>(model.s.size()));
    ASSERT_EQ(m.GetParCount(), model.Paragraphs());
    ASSERT_NO_THROW(m.CheckIntegrity()) << "step " << step;
    history.push_back(model.s);
  }
  int undos = 0;
  while (m.getCanUndo()) {
    m.Undo();
    ++undos;
    ASSERT_NO_THROW(m.CheckIntegrity());
    ASSERT_EQ(m.GetText(), history[history.size() - 1 - undos]) << "undo " << undos;
  }
  EXPECT_EQ(m.GetText(), original);
  while (m.getCanRedo()) {
    m.Redo();
    ASSERT_NO_THROW(m.CheckIntegrity());
  }
  EXPECT_EQ(m.GetText(), model.s);
}

}  // namespace

TEST(RandomEdits, MatchStringModelWithoutWindow) {
  for (unsigned seed = 1; seed <= 6; ++seed) RunDifferential(seed, false, true);
}

TEST(RandomEdits, MatchStringModelWithWrappingWindow) {
  for (unsigned seed = 11; seed <= 14; ++seed) RunDifferential(seed, true, true);
}

TEST(RandomEdits, MatchStringModelWithoutStaticFormat) {
  for (unsigned seed = 21; seed <= 23; ++seed) RunDifferential(seed, false, false);
}

TEST(RandomEdits, StyleCodesUndoToTheStartAndRedoToTheEnd) {
  std::mt19937 rng(5);
  static const char* kPieces[] = {"a", "\x02", "\x01", "\x15", "\x03", "\r\n", " ", "b"};
  for (int round = 0; round < 10; ++round) {
    TVellMemo m;
    const std::string original = "plain \x02" "bold\x02 text\r\nmore";
    m.SetText(original);
    m.ClearUndo();
    for (int step = 0; step < 60; ++step) {
      int len = m.GetTextLen();
      int a = static_cast<int>(rng() % (len + 1)), b = static_cast<int>(rng() % (len + 1));
      if (a > b) std::swap(a, b);
      std::string text;
      for (int n = rng() % 4; n > 0; --n) text += kPieces[rng() % 8];
      Replace(m, a, b, text);
      ASSERT_NO_THROW(m.CheckIntegrity());
    }
    const std::string final = m.GetText();
    while (m.getCanUndo()) m.Undo();
    ASSERT_EQ(m.GetText(), original) << "round " << round;
    while (m.getCanRedo()) m.Redo();
    ASSERT_EQ(m.GetText(), final) << "round " << round;
    m.CheckIntegrity();
  }
}
