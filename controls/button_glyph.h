// The glyph machinery of the shaped button (the page control reuses the
// pixel routines): per-state images built once from one source picture and
// kept in image lists shared by cell size, the layout of glyph, caption and
// drop-down arrow inside a button, and their drawing.
//
// Source pictures: a bitmap whose bottom-left pixel is the transparent
// colour, holding NumGlyphs sub-images side by side (up, disabled, down,
// exclusive, ...), or one cell of an image list (its alpha is the mask).
// Every stored image has a border of the relief size on all sides.
#pragma once

#include <QImage>
#include <QPainter>
#include <QRect>
#include <functional>
#include <string>
#include <vector>

#include "controls/pixels.h"
#include "platform/gui/image_list.h"

namespace controls {

// The glyph state of a button; the shaped button's states use the same numbers.
enum TButtonState : int { gsUp, gsDisabled, gsDown, gsExclusive, gsHotExclusive, gsHotDown, gsHot };
inline constexpr int kGlyphStates = 7;

enum TButtonLayoutPlus : int { blGlyphLeft, blGlyphRight, blGlyphTop, blGlyphBottom, blGlyphCentre };
enum TAlignment : int { taLeftJustify, taRightJustify, taCenter };

// An image list whose freed slots are reused before it grows.
class TGlyphList : public gui::TImageList {
public:
  TGlyphList(int width, int height, int relief) : gui::TImageList(width, height), relief_(relief) {}
  // Stores the image (its alpha the mask) in a free slot; returns the slot.
  int AddImage(const QImage& image);
  // Stores the image centred in a cell, pixels of mask_color transparent;
  // kBottomLeftMask stands for the image's own bottom-left pixel.
  int AddMaskedImage(const QImage& image, std::int64_t mask_color);
  void ReleaseSlot(int index);
  // Slots in use (not the list's length).
  int UsedCount() const { return used_count_; }
  int Relief() const { return relief_; }

  static constexpr std::int64_t kBottomLeftMask = 0x20000000;

private:
  int AllocateSlot();
  int relief_;
  std::vector<bool> used_;
  int used_count_ = 0;
};

// The glyph lists shared by all buttons, by cell size. The cache exists
// while it holds a list: AcquireList makes it when absent, ReleaseList frees
// an unused list and the cache with its last list.
class TGlyphCache {
public:
  static TGlyphList* AcquireList(int width, int height, int relief);
  static void ReleaseList(TGlyphList* list);
  static bool Exists();
  static int ListCount();
};

// What ComputeLayout needs; sizes are those of the glyph cell (0 by 0 when
// the glyph is not shown) and of the caption as measured for a given width.
struct TLayoutInput {
  QRect client;
  QPoint offset;
  TButtonLayoutPlus layout = blGlyphLeft;
  int margin = -1;
  int spacing = 4;
  int relief = 2;
  QSize glyph;
  bool arrow = false;
  bool word_wrap = false;
  // The caption's size when drawn in at most width pixels; empty for no text.
  std::function<QSize(int width)> measure;
};

struct TLayout {
  QPoint glyph;  // of the stored image (relief border included)
  QRect text;
  QPoint arrow;
};

class TButtonGlyph {
public:
  TButtonGlyph() = default;
  ~TButtonGlyph() { ClearImages(); }
  TButtonGlyph(const TButtonGlyph&) = delete;
  TButtonGlyph& operator=(const TButtonGlyph&) = delete;

  // Takes the picture; NumGlyphs becomes width / height when the width is a
  // multiple of the height, else 1.
  void AssignGlyph(const QImage& picture);
  const QImage& Glyph() const { return source_; }
  int NumGlyphs() const { return num_glyphs_; }
  // 1 whenever an image list is set.
  void SetNumGlyphs(int n);
  void SetImages(const gui::TImageList* images);
  const gui::TImageList* Images() const { return images_; }
  void SetImageIndex(int index);
  int ImageIndex() const { return image_index_; }
  // Relief and disabled colours (defaults clBtnHighlight and clBtnShadow).
  void SetColors(TColor highlight, TColor shadow);
  bool OldDisabledStyle = false;
  bool CallDormant = false;  // kept for callers; pictures are never made dormant
  std::function<void()> OnChange;

  // The cell size of the glyph (0 by 0 without one).
  QSize CellSize() const;
  struct TBuilt {
    TGlyphList* list = nullptr;
    int index = -1;
  };
  TBuilt BuildStateImage(TButtonState state, int relief, bool grey);
  void DrawStateImage(QPainter& painter, QPoint pos, TButtonState state, int relief, bool grey);
  void ClearImages();

  static TLayout ComputeLayout(const TLayoutInput& in);
  void DrawCaption(QPainter& painter, const std::string& caption, const QRect& rect, TButtonState state, int relief,
                   TAlignment alignment, bool word_wrap, TColor font_color) const;
  void DrawArrow(QPainter& painter, int x, int y, TButtonState state, TColor font_color) const;
  // Lays out and draws glyph, caption and arrow; returns the text rectangle.
  QRect Draw(QPainter& painter, const QRect& client, QPoint offset, const std::string& caption,
             TButtonLayoutPlus layout, int margin, int spacing, TButtonState state, int relief, bool show_glyph,
             bool show_text, bool arrow, TAlignment alignment, bool word_wrap, bool grey, TColor font_color);

  static int TextFlags(TAlignment alignment, bool word_wrap);

private:
  QImage SubImage(int index) const;  // ARGB32, transparent where masked
  QImage BuildRelief(const QImage& glyph, TButtonState state, int relief) const;
  QImage BuildDisabled() const;

  QImage source_;
  int num_glyphs_ = 1;
  const gui::TImageList* images_ = nullptr;
  int image_index_ = -1;
  TColor highlight_ = gui::clBtnHighlight;
  TColor shadow_ = gui::clBtnShadow;
  TGlyphList* lists_[2] = {nullptr, nullptr};  // 0 normal, 1 disabled
  int indexes_[kGlyphStates] = {-1, -1, -1, -1, -1, -1, -1};
};

}  // namespace controls
