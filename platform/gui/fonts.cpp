#include "platform/gui/fonts.h"

#include <QFontMetrics>
#include <QFontMetricsF>
#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "platform/runtime/cp1252.h"
#include "platform/runtime/sysutils.h"

namespace gui {
namespace {

struct Substitute {
  const char* name;
  const char* face;
};

// The faces the program's forms name, and free faces with the same metrics.
constexpr Substitute kSubstitutes[] = {
    {"Courier New", "Liberation Mono"},     {"Courier", "Liberation Mono"},
    {"Fixedsys", "Liberation Mono"},        {"Lucida Console", "Liberation Mono"},
    {"Arial", "Liberation Sans"},           {"MS Sans Serif", "Liberation Sans"},
    {"Microsoft Sans Serif", "Liberation Sans"}, {"Tahoma", "Liberation Sans"},
    {"Verdana", "Liberation Sans"},         {"Helvetica", "Liberation Sans"},
    {"Times New Roman", "Liberation Serif"}, {"MS Serif", "Liberation Serif"},
    {"Times", "Liberation Serif"},
};

int RoundHalfEven(double value) { return static_cast<int>(std::nearbyint(value)); }

}  // namespace

std::string SubstituteFontName(const std::string& name) {
  for (const Substitute& s : kSubstitutes)
    if (rtl::CompareText(name, s.name) == 0) return s.face;
  return name;
}

QFont MakeQFont(const TFontDesc& desc, int dpi) {
  QFont font(QString::fromStdString(SubstituteFontName(desc.Name)));
  font.setKerning(false);
  font.setHintingPreference(QFont::PreferFullHinting);
  font.setStyleStrategy(QFont::PreferMatch);
  if (desc.Pitch == fpFixed) font.setFixedPitch(true);
  font.setBold(desc.Style & fsBold);
  font.setItalic(desc.Style & fsItalic);
  font.setUnderline(desc.Style & fsUnderline);
  font.setStrikeOut(desc.Style & fsStrikeOut);
  int pixels;
  if (desc.Height < 0) {
    pixels = -desc.Height;
  } else if (desc.Height > 0) {
    // A cell height: find the character height whose cell matches it.
    font.setPixelSize(desc.Height);
    QFontMetrics m(font);
    int cell = m.ascent() + m.descent();
    pixels = cell > 0 ? RoundHalfEven(static_cast<double>(desc.Height) * desc.Height / cell) : desc.Height;
  } else {
    pixels = RoundHalfEven(std::abs(desc.Size) * dpi / 72.0);
  }
  font.setPixelSize(std::max(pixels, 1));
  return font;
}

TScreenFont::TScreenFont(const TFontDesc& desc, int dpi) : desc_(desc), font_(MakeQFont(desc, dpi)) {
  raw_ = QRawFont::fromFont(font_);
  QFontMetrics m(font_);
  metrics_.tmAscent = m.ascent();
  metrics_.tmDescent = m.descent();
  metrics_.tmHeight = metrics_.tmAscent + metrics_.tmDescent;
  metrics_.tmInternalLeading = std::max(metrics_.tmHeight - font_.pixelSize(), 0);
  metrics_.tmExternalLeading = std::max(m.leading(), 0);
  metrics_.tmMaxCharWidth = std::max(m.maxWidth(), 1);
  metrics_.tmAveCharWidth = std::max(m.averageCharWidth(), 1);
  QFontMetricsF mf(font_);
  for (int c = 0; c < 256; ++c) {
    char32_t code = rtl::Cp1252ToUnicode(static_cast<unsigned char>(c));
    QString s = QString::fromUcs4(&code, 1);
    widths_[c] = std::max(RoundHalfEven(mf.horizontalAdvance(s)), 0);
    if (raw_.isValid()) {
      QList<quint32> glyphs = raw_.glyphIndexesForString(s);
      glyphs_[c] = glyphs.isEmpty() ? 0 : glyphs.front();
    }
  }
}

int TScreenFont::TextWidth(const char* text, int count) const {
  int width = 0;
  for (int i = 0; i < count; ++i) width += widths_[static_cast<unsigned char>(text[i])];
  return width;
}

}  // namespace gui
