#include "platform/gui/image_list.h"

namespace gui {

QImage TImageList::Cell(const QImage& image) const {
  QImage cell(width_, height_, QImage::Format_ARGB32);
  cell.fill(Qt::transparent);
  QPainter p(&cell);
  p.setCompositionMode(QPainter::CompositionMode_Source);
  p.drawImage(0, 0, image.convertToFormat(QImage::Format_ARGB32));
  return cell;
}

int TImageList::Add(const QImage& image) {
  images_.push_back(Cell(image));
  return Count() - 1;
}

int TImageList::AddMasked(const QImage& image, TColor mask_color) { return Add(ColorKeyed(image, mask_color)); }

bool TImageList::Replace(int index, const QImage& image) {
  if (index < 0 || index >= Count()) return false;
  images_[static_cast<std::size_t>(index)] = Cell(image);
  return true;
}

QImage TImageList::Image(int index) const {
  if (index < 0 || index >= Count()) return QImage();
  return images_[static_cast<std::size_t>(index)];
}

void TImageList::Draw(QPainter& painter, int x, int y, int index) const {
  if (index < 0 || index >= Count()) return;
  painter.drawImage(x, y, images_[static_cast<std::size_t>(index)]);
}

QImage TImageList::ColorKeyed(const QImage& image, TColor color) {
  QImage out = image.convertToFormat(QImage::Format_ARGB32);
  const TColor rgb = ColorToRGB(color);
  const QRgb key = qRgb(rgb & 0xFF, (rgb >> 8) & 0xFF, (rgb >> 16) & 0xFF) & 0xFFFFFF;
  for (int y = 0; y < out.height(); ++y) {
    auto* line = reinterpret_cast<QRgb*>(out.scanLine(y));
    for (int x = 0; x < out.width(); ++x)
      if ((line[x] & 0xFFFFFF) == key) line[x] = 0;
  }
  return out;
}

}  // namespace gui
