// Pixel routines and the hot-track cloud painters shared by the shaped
// button and the page control.
//
// Pictures are QImage RGB32 or ARGB32: a pixel is a 32-bit value with blue
// in the low byte, then green, then red, then the alpha (or unused) byte.
// Colours (TColor) are 0x00BBGGRR, system colours resolved through the
// platform's fixed table. Masks are QImage Mono, bit 1 where the mask is
// set. Nothing is antialiased.
#pragma once

#include <QImage>
#include <QPainter>
#include <cstdint>
#include <vector>

#include "platform/gui/colors.h"

namespace controls {

using TPixel = std::uint32_t;
using gui::TColor;

// g = (blue*29 + green*150 + red*77) >> 8 in all three colour bytes.
TPixel GreyPixel(TPixel p);
// Each colour byte c: 50 when 0, else min(255, c + c/4).
TPixel BrightenPixel(TPixel p);
TPixel ColorToPixel(TColor color);  // opaque
TColor PixelToColor(TPixel p);

// The image as RGB32 or ARGB32 (converted when it is neither).
void EnsurePixelFormat(QImage& image);
void ApplyPerPixel(QImage& image, TPixel (*routine)(TPixel));
// Each colour component c of target becomes (c*(256-a))/256 + (k*a)/256,
// with a the green byte of the mask's pixel and k the colour's component.
void BlendThroughMask(QImage& target, const QImage& mask, TColor color);

// A mask of area's size, set where the source pixel (from area's top-left)
// equals one of the pixel values; -1 stands for the source's bottom-left
// pixel.
QImage PixelMask(const QImage& source, const std::vector<std::int64_t>& pixels, const QRect& area);
// The same from colours (system colours resolved); clNone stands for the
// bottom-left pixel.
QImage ColorMask(const QImage& source, const std::vector<TColor>& colors, const QRect& area);
// Sets dest's pixels (opaque) to color where the mask, placed at pos, is set.
void PaintThroughMask(QImage& dest, const QImage& mask, TColor color, QPoint pos = {});

// The cloud: 51 ellipses from `from` to `to` (each colour byte
// from + i*(to - from)/50), shrinking into the rectangle (l, t, r, b);
// `mode` is the flash phase (0 to 3) when flashing.
void PaintCloud(QPainter& painter, TColor from, TColor to, bool flashing, int mode, int l, int t, int r, int b);
// The cloud blended into target through a black-to-white cloud mask.
void PaintBlendedCloud(QImage& target, TColor cloud, bool flashing, int mode, int l, int t, int r, int b);
// The same cloud as a layer to draw over a background not known yet: the
// cloud colour everywhere, the mask's weight as its alpha.
QImage CloudLayer(QSize size, TColor cloud, bool flashing, int mode, int l, int t, int r, int b);

}  // namespace controls
