// TKelmTabSheet: the page of a TKelmPageControl. It carries four tab glyphs,
// its own hot-track cloud colour and sounds (which win over the page
// control's), a background picture (stretched or tiled) and transparency
// over the page control's parent at a partial level.
//
// The sheet composes its background once into a buffer as large as the page
// control; the page control paints the page's tab and the band joining tab
// and page from the same buffer, so picture and tab meet without a seam. The
// buffer is kept while the page control keeps its size and dropped by any
// change of picture, style, transparency, level, colour, a move or the
// change-view message.
#pragma once

#include <QImage>
#include <QWidget>

#include "controls/sound_ref.h"
#include "platform/gui/colors.h"

namespace controls {

class TKelmPageControl;
using gui::TColor;

enum TBackgroundStyle : int { bgsStretched, bgsTailed };

class TKelmTabSheet : public QWidget {
public:
  static constexpr int kGlyphSize = 16;
  // The four glyphs, in the page control's list order.
  enum TGlyphKind : int { gkNormal, gkUnselected, gkHighlighted, gkSelectedHighlighted };

  explicit TKelmTabSheet(QWidget* parent = nullptr);

  TKelmPageControl* PageControl() const;

  // ---- properties ----
  // A glyph's work image is its top-left 16 by 16 pixels (black where the
  // glyph is smaller, all black when it is empty); the page control
  // rebuilds its glyph lists.
  const QImage& Glyph(TGlyphKind kind) const { return glyphs_[kind]; }
  void SetGlyph(TGlyphKind kind, const QImage& picture);
  const QImage& GlyphWork(TGlyphKind kind) const { return work_[kind]; }
  bool HasGlyph(TGlyphKind kind) const { return !glyphs_[kind].isNull(); }

  const QImage& BackgroundBitmap() const { return picture_; }
  void SetBackgroundBitmap(const QImage& picture);
  TBackgroundStyle BackgroundStyle() const { return background_style_; }
  void SetBackgroundStyle(TBackgroundStyle value);
  bool Transparent() const { return transparent_; }
  void SetTransparent(bool value);
  int TransparentLevel() const { return level_; }
  void SetTransparentLevel(int value);  // kept within 0..100
  TColor HotTrackCloudColor() const { return cloud_color_; }
  void SetHotTrackCloudColor(TColor value);
  // With ParentColor the page control's colour.
  TColor Color() const;
  void SetColor(TColor value);
  bool ParentColor() const { return parent_color_; }
  void SetParentColor(bool value);

  TSoundRef HighlightSound, PulseSound, SelectSound;

  // ---- background ----
  // The page-control-sized background, or null with neither a picture nor
  // transparency inside a page control.
  const QImage* RefreshBuffer();
  void DropBuffer() { buffer_ = QImage(); }
  // Times the buffer was composed (tests).
  int Compositions() const { return compositions_; }
  // Repaint the sheet and the page control; tell the views around.
  void InvalidateFull();
  void ViewChange();
  // Repaints the strips of the page control around the sheet.
  void InvalidateParentBorder();

protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void moveEvent(QMoveEvent* event) override;
  bool event(QEvent* event) override;

private:
  void ImageChange();
  bool SeeThrough() const;  // transparent inside a page control
  void DrawPicture(QImage& target) const;
  void ProcessTransparentLevel();

  QImage glyphs_[4], work_[4];
  QImage picture_, buffer_;
  TBackgroundStyle background_style_ = bgsStretched;
  bool transparent_ = false, parent_color_ = true;
  int level_ = 100;
  TColor cloud_color_ = 0x00FFFF, color_ = gui::clWindow;
  int compositions_ = 0;
};

}  // namespace controls
