#include "controls/pixels.h"

#include <algorithm>

namespace controls {
namespace {

inline int Byte(TPixel p, int shift) { return static_cast<int>((p >> shift) & 0xFF); }
inline TPixel Pack(TPixel alpha, int r, int g, int b) {
  return (alpha & 0xFF000000u) | (static_cast<TPixel>(r) << 16) | (static_cast<TPixel>(g) << 8) | static_cast<TPixel>(b);
}

bool Bit(const QImage& mask, int x, int y) {
  return (mask.constScanLine(y)[x >> 3] >> (7 - (x & 7))) & 1;
}

}  // namespace

TPixel GreyPixel(TPixel p) {
  const int g = (Byte(p, 0) * 29 + Byte(p, 8) * 150 + Byte(p, 16) * 77) >> 8;
  return Pack(p, g, g, g);
}

TPixel BrightenPixel(TPixel p) {
  auto up = [](int c) { return c == 0 ? 50 : std::min(255, c + c / 4); };
  return Pack(p, up(Byte(p, 16)), up(Byte(p, 8)), up(Byte(p, 0)));
}

TPixel ColorToPixel(TColor color) {
  const TColor rgb = gui::ColorToRGB(color) & 0xFFFFFF;
  return Pack(0xFF000000u, rgb & 0xFF, (rgb >> 8) & 0xFF, (rgb >> 16) & 0xFF);
}

TColor PixelToColor(TPixel p) { return Byte(p, 16) | (Byte(p, 8) << 8) | (Byte(p, 0) << 16); }

void EnsurePixelFormat(QImage& image) {
  if (image.format() != QImage::Format_RGB32 && image.format() != QImage::Format_ARGB32)
    image.convertTo(image.hasAlphaChannel() ? QImage::Format_ARGB32 : QImage::Format_RGB32);
}

void ApplyPerPixel(QImage& image, TPixel (*routine)(TPixel)) {
  EnsurePixelFormat(image);
  for (int y = 0; y < image.height(); ++y) {
    auto* line = reinterpret_cast<TPixel*>(image.scanLine(y));
    for (int x = 0; x < image.width(); ++x) line[x] = routine(line[x]);
  }
}

void BlendThroughMask(QImage& target, const QImage& mask, TColor color) {
  EnsurePixelFormat(target);
  const QImage m = mask.convertToFormat(QImage::Format_RGB32);
  const TPixel k = ColorToPixel(color);
  const int w = std::min(target.width(), m.width()), h = std::min(target.height(), m.height());
  for (int y = 0; y < h; ++y) {
    auto* line = reinterpret_cast<TPixel*>(target.scanLine(y));
    const auto* weights = reinterpret_cast<const TPixel*>(m.constScanLine(y));
    for (int x = 0; x < w; ++x) {
      const int a = Byte(weights[x], 8);
      auto mix = [&](int shift) { return (Byte(line[x], shift) * (256 - a)) / 256 + (Byte(k, shift) * a) / 256; };
      line[x] = Pack(line[x], mix(16), mix(8), mix(0));
    }
  }
}

QImage PixelMask(const QImage& source, const std::vector<std::int64_t>& pixels, const QRect& area) {
  QImage src = source.convertToFormat(QImage::Format_RGB32);
  QImage mask(area.size(), QImage::Format_Mono);
  mask.setColor(0, qRgb(0, 0, 0));
  mask.setColor(1, qRgb(255, 255, 255));
  mask.fill(0);
  if (src.isNull()) return mask;
  std::vector<TPixel> keys;
  for (std::int64_t p : pixels)
    keys.push_back((p == -1 ? reinterpret_cast<const TPixel*>(src.constScanLine(src.height() - 1))[0]
                            : static_cast<TPixel>(p)) & 0xFFFFFF);
  for (int y = 0; y < area.height(); ++y) {
    const int sy = area.top() + y;
    if (sy < 0 || sy >= src.height()) continue;
    const auto* line = reinterpret_cast<const TPixel*>(src.constScanLine(sy));
    uchar* bits = mask.scanLine(y);
    for (int x = 0; x < area.width(); ++x) {
      const int sx = area.left() + x;
      if (sx < 0 || sx >= src.width()) continue;
      if (std::find(keys.begin(), keys.end(), line[sx] & 0xFFFFFF) != keys.end()) bits[x >> 3] |= 0x80 >> (x & 7);
    }
  }
  return mask;
}

QImage ColorMask(const QImage& source, const std::vector<TColor>& colors, const QRect& area) {
  std::vector<std::int64_t> pixels;
  for (TColor c : colors) pixels.push_back(c == gui::clNone ? -1 : static_cast<std::int64_t>(ColorToPixel(c) & 0xFFFFFF));
  return PixelMask(source, pixels, area);
}

void PaintThroughMask(QImage& dest, const QImage& mask, TColor color, QPoint pos) {
  EnsurePixelFormat(dest);
  const TPixel p = ColorToPixel(color);
  for (int y = 0; y < mask.height(); ++y) {
    const int dy = pos.y() + y;
    if (dy < 0 || dy >= dest.height()) continue;
    auto* line = reinterpret_cast<TPixel*>(dest.scanLine(dy));
    for (int x = 0; x < mask.width(); ++x) {
      const int dx = pos.x() + x;
      if (dx >= 0 && dx < dest.width() && Bit(mask, x, y)) line[dx] = p;
    }
  }
}

void PaintCloud(QPainter& painter, TColor from, TColor to, bool flashing, int mode, int l, int t, int r, int b) {
  const int w = r - l, h = b - t;
  int bl = l, bt = t, br = r, bb = b, span_w, span_h, divisor = 50;
  if (flashing) {
    if (mode == 2) {
      bl -= w / 2, bt -= h / 2, br += w / 2, bb += h / 2;
      span_w = br - bl, span_h = bb - bt, divisor = 175;
    } else if (mode == 1 || mode == 3) {
      bl -= w / 3, bt -= h / 3, br += w / 3, bb += h / 3;
      span_w = br - bl, span_h = bb - bt, divisor = 100;
    } else {
      span_w = w / 2, span_h = h / 2;
    }
  } else {
    const int dx = mode == 2 ? 0 : (mode == 1 || mode == 3) ? w / 9 : w / 6;
    const int dy = mode == 2 ? 0 : (mode == 1 || mode == 3) ? h / 9 : h / 6;
    bl += dx, bt += dy, br -= dx, bb -= dy;
    span_w = (br - bl) / 2, span_h = (bb - bt) / 2;
  }
  const TColor f = gui::ColorToRGB(from), k = gui::ColorToRGB(to);
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing, false);
  painter.setPen(Qt::NoPen);
  for (int i = 0; i <= 50; ++i) {
    auto step = [&](int shift) {
      const int a = (f >> shift) & 0xFF, z = (k >> shift) & 0xFF;
      return a + i * (z - a) / 50;
    };
    painter.setBrush(gui::ToQColor(step(0) | (step(8) << 8) | (step(16) << 16)));
    const int il = bl + i * span_w / divisor, it = bt + i * span_h / divisor;
    const int ir = br - i * span_w / divisor, ib = bb - i * span_h / divisor;
    if (ir > il && ib > it) painter.drawEllipse(QRect(il, it, ir - il, ib - it));
  }
  painter.restore();
}

namespace {

QImage CloudMask(QSize size, bool flashing, int mode, int l, int t, int r, int b) {
  QImage mask(size, QImage::Format_RGB32);
  mask.fill(Qt::black);
  QPainter p(&mask);
  PaintCloud(p, 0x000000, 0xFFFFFF, flashing, mode, l, t, r, b);
  return mask;
}

}  // namespace

void PaintBlendedCloud(QImage& target, TColor cloud, bool flashing, int mode, int l, int t, int r, int b) {
  BlendThroughMask(target, CloudMask(target.size(), flashing, mode, l, t, r, b), cloud);
}

QImage CloudLayer(QSize size, TColor cloud, bool flashing, int mode, int l, int t, int r, int b) {
  QImage layer = CloudMask(size, flashing, mode, l, t, r, b);
  const TPixel k = ColorToPixel(cloud) & 0xFFFFFF;
  for (int y = 0; y < layer.height(); ++y) {
    auto* line = reinterpret_cast<TPixel*>(layer.scanLine(y));
    for (int x = 0; x < layer.width(); ++x) line[x] = (static_cast<TPixel>(Byte(line[x], 8)) << 24) | k;
  }
  layer.reinterpretAsFormat(QImage::Format_ARGB32);
  return layer;
}

}  // namespace controls
