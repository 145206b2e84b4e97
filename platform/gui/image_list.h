// An image list: pictures of one cell size, each with its own transparency
// (the alpha channel stands for the mask), drawn by index.
#pragma once

#include <QImage>
#include <QPainter>
#include <vector>

#include "platform/gui/base/colors.h"

namespace gui {

class TImageList {
public:
  TImageList(int width, int height) : width_(width), height_(height) {}
  virtual ~TImageList() = default;

  int Width() const { return width_; }
  int Height() const { return height_; }
  int Count() const { return static_cast<int>(images_.size()); }

  // Adds the picture (its alpha channel as the mask) in a new cell, placed
  // at the cell's top-left corner; returns its index.
  int Add(const QImage& image);
  // Adds the picture with every pixel of mask_color transparent.
  int AddMasked(const QImage& image, TColor mask_color);
  // False for an index out of range.
  bool Replace(int index, const QImage& image);
  // The cell (ARGB32), a null image out of range.
  QImage Image(int index) const;
  // Draws the cell with its transparency; nothing out of range.
  void Draw(QPainter& painter, int x, int y, int index) const;
  void Clear() { images_.clear(); }

  // The picture with every pixel of color (24-bit compare) transparent.
  static QImage ColorKeyed(const QImage& image, TColor color);

private:
  QImage Cell(const QImage& image) const;

  int width_, height_;
  std::vector<QImage> images_;
};

}  // namespace gui
