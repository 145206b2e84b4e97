// memo_bench: the memo control on screen, a large document against a small
// one. Prints one row per measurement with its ratio and bar; --check makes
// it exit 1 when a bar is missed.
//
//   1. painting one screen (the whole viewport rendered into an image), at
//      the top and in the middle of a --large line memo, against the same
//      in a --small line memo. Bar: at most twice the time.
//   2. Ctrl+End (the key press handled: caret to the end of the text, its
//      paragraphs laid out, the view scrolled there), large against small:
//      the first one, which meets paragraphs never laid out, and the median
//      of later ones. Bar: the same order of time (at most ten times).
//
//   3. typing one character at the end of one long paragraph (the key
//      press handled: the character inserted, the paragraph laid out again),
//      a --long character paragraph against a --short one, word wrapped,
//      without keywords (applying them goes over the whole paragraph), by
//      turns.
//      Bar: at most three times the time.
//
// The lines look like the hit lines of a search page, with two highlighted
// surnames. Run under QT_QPA_PLATFORM=offscreen (set here when unset).
#include "bench/bench_util.h"

#include <QApplication>
#include <QImage>
#include <QKeyEvent>
#include <QPainter>
#include <QTest>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "memo/widget/memo_control.h"

namespace {

using bench::Clock;

struct Options {
  int large = 1000000;
  int small = 100;
  int repeats = 20;
  int longPar = 690000;
  int shortPar = 7000;
  int typed = 300;
  bool check = false;
};

std::string MakeText(int lines) {
  static const char* kNames[] = {"William", "Mary", "John", "Elizabeth", "Thomas", "Sarah", "Samuel", "Hester"};
  static const char* kSurnames[] = {"SMITH", "BAKER", "COOPER", "SMYTH", "WARD", "HILL"};
  std::string text;
  text.reserve(static_cast<std::size_t>(lines) * 64);
  unsigned seed = 12345;
  auto next = [&seed] {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 16) & 0x7FFF;
  };
  for (int i = 0; i < lines; ++i) {
    char line[160];
    std::snprintf(line, sizeof line, "%d 17%02u-%02u-%02u; %s; %s %s, %s; abode Redcliff\r\n", 1 + i % 9,
                  next() % 100, 1 + next() % 12, 1 + next() % 28, kNames[next() % 8], kNames[next() % 8],
                  kSurnames[next() % 6], kNames[next() % 8]);
    text += line;
  }
  return text;
}

// One paragraph of about `chars` characters: the hit lines' words, joined
// by blanks.
std::string MakeParagraph(int chars) {
  std::string text;
  for (int lines = 64; static_cast<int>(text.size()) < chars; lines *= 2) text = MakeText(lines);
  text.resize(static_cast<std::size_t>(chars));
  for (char& c : text)
    if (c == '\r' || c == '\n') c = ' ';
  return text;
}

struct Memo {
  // `text` instead of `lines` hit lines: without the highlighted surnames.
  explicit Memo(int lines, const std::string& text = {}) {
    control.resize(800, 600);
    control.show();
    (void)QTest::qWaitForWindowExposed(&control);
    memo::TMemoFont font;
    font.Name = "Courier New";
    font.Height = -13;
    control.Memo().SetFont(font);
    if (text.empty()) {
      control.Memo().Keywords().AddKeyWord("Smith", 0, 0, 1, 0, memo::clWhite, memo::clRed);
      control.Memo().Keywords().AddKeyWord("Cooper", 0, 0, 1, 0, memo::clWhite, memo::clRed);
    }
    control.Memo().SetText(text.empty() ? MakeText(lines) : text);
    control.setFocus();
    image = QImage(control.viewport()->size(), QImage::Format_RGB32);
  }
  // One screen painted; milliseconds.
  double Paint() {
    const auto start = Clock::now();
    QPainter painter(&image);
    control.viewport()->render(&painter);
    painter.end();
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  }
  double Key(Qt::Key key, Qt::KeyboardModifiers mods) {
    QKeyEvent press(QEvent::KeyPress, key, mods);
    const auto start = Clock::now();
    QApplication::sendEvent(&control, &press);
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  }
  // One character typed at the caret; milliseconds.
  double Type(char c) {
    QKeyEvent press(QEvent::KeyPress, Qt::Key_X, Qt::NoModifier, QString(QChar(c)));
    const auto start = Clock::now();
    QApplication::sendEvent(&control, &press);
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  }
  memo::TVellMemoControl control;
  QImage image;
};

// Medians of characters typed at the end of each memo's text, by turns.
std::pair<double, double> MedianTyping(Memo& a, Memo& b, int typed) {
  for (Memo* m : {&a, &b}) {
    m->Key(Qt::Key_End, Qt::ControlModifier);
    m->Type('x');
  }
  std::vector<double> ta, tb;
  for (int i = 0; i < typed; ++i) {
    const char c = i % 6 == 5 ? ' ' : static_cast<char>('a' + i % 26);
    ta.push_back(a.Type(c));
    tb.push_back(b.Type(c));
  }
  return {bench::Median(ta), bench::Median(tb)};
}

double MedianPaint(Memo& m, int repeats) {
  std::vector<double> t;
  m.Paint();  // lays out what the screen shows
  for (int i = 0; i < repeats; ++i) t.push_back(m.Paint());
  return bench::Median(t);
}

double MedianCtrlEnd(Memo& m, int repeats) {
  std::vector<double> t;
  for (int i = 0; i < repeats; ++i) {
    m.Key(Qt::Key_Home, Qt::ControlModifier);
    t.push_back(m.Key(Qt::Key_End, Qt::ControlModifier));
  }
  return bench::Median(t);
}

bool Row(const char* what, double large, double small, double bar) {
  const double ratio = small > 0 ? large / small : 0;
  const bool ok = bench::Met(ratio, bar);
  std::printf("%-34s %10.3f ms %10.3f ms %8.2fx   bar %.0fx  %s\n", what, large, small, ratio, bar, ok ? "ok" : "MISSED");
  return ok;
}

Options ParseOptions(int argc, char** argv) {
  Options o;
  bench::OptionReader options(argc, argv, "memo_bench",
                              "[--large N] [--small N] [--repeats N] [--long N] [--short N] [--typed N] [--check]");
  for (std::string arg; options.Next(arg);) {
    if (arg == "--large") o.large = static_cast<int>(options.Number());
    else if (arg == "--small") o.small = static_cast<int>(options.Number());
    else if (arg == "--repeats") o.repeats = static_cast<int>(options.Number());
    else if (arg == "--long") o.longPar = static_cast<int>(options.Number());
    else if (arg == "--short") o.shortPar = static_cast<int>(options.Number());
    else if (arg == "--typed") o.typed = static_cast<int>(options.Number());
    else if (arg == "--check") o.check = true;
    else options.Fail("unknown option " + arg);
  }
  return o;
}

}  // namespace

int main(int argc, char** argv) {
  const Options o = ParseOptions(argc, argv);
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);

  const auto loadStart = Clock::now();
  Memo large(o.large);
  const double loadMs = std::chrono::duration<double, std::milli>(Clock::now() - loadStart).count();
  Memo small(o.small);
  std::printf("memo_bench: %d lines (loaded in %.0f ms) against %d lines, median of %d\n\n", o.large, loadMs,
              o.small, o.repeats);
  std::printf("%-34s %13s %13s %9s\n", "measurement", "large", "small", "ratio");

  bool ok = true;
  // The first Ctrl+End meets paragraphs never laid out nor parsed.
  const double coldLarge = large.Key(Qt::Key_End, Qt::ControlModifier);
  const double coldSmall = small.Key(Qt::Key_End, Qt::ControlModifier);
  large.Key(Qt::Key_Home, Qt::ControlModifier);
  small.Key(Qt::Key_Home, Qt::ControlModifier);
  ok &= Row("paint one screen, top", MedianPaint(large, o.repeats), MedianPaint(small, o.repeats), 2);
  large.control.Memo().setTopLine(large.control.Memo().LineCount() / 2);
  small.control.Memo().setTopLine(small.control.Memo().LineCount() / 2);
  ok &= Row("paint one screen, middle", MedianPaint(large, o.repeats), MedianPaint(small, o.repeats), 2);
  ok &= Row("Ctrl+End, first", coldLarge, coldSmall, 10);
  ok &= Row("Ctrl+End, again", MedianCtrlEnd(large, o.repeats), MedianCtrlEnd(small, o.repeats), 10);
  large.Key(Qt::Key_Home, Qt::ControlModifier);
  small.Key(Qt::Key_Home, Qt::ControlModifier);
  large.Paint();
  small.Paint();
  large.Key(Qt::Key_End, Qt::ControlModifier);
  small.Key(Qt::Key_End, Qt::ControlModifier);
  const double firstPaintLarge = large.Paint(), firstPaintSmall = small.Paint();
  ok &= Row("first paint after Ctrl+End", firstPaintLarge, firstPaintSmall, 10);
  ok &= Row("paint one screen, after Ctrl+End", MedianPaint(large, o.repeats), MedianPaint(small, o.repeats), 2);
  {
    Memo longPar(0, MakeParagraph(o.longPar)), shortPar(0, MakeParagraph(o.shortPar));
    for (Memo* m : {&longPar, &shortPar}) m->control.Memo().SetWordWrap(true);
    const auto [typedLong, typedShort] = MedianTyping(longPar, shortPar, o.typed);
    char what[64];
    std::snprintf(what, sizeof what, "typing at the end, %dk / %dk par", o.longPar / 1000, o.shortPar / 1000);
    ok &= Row(what, typedLong, typedShort, 3);
  }
  return o.check && !ok ? 1 : 0;
}
