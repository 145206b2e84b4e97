// TKelmPageControl: a page control that paints its tabs itself. Each tab
// gets a colour or a slice of its page's background buffer, an optional
// 16 by 16 glyph in four variants (normal, unselected, highlighted,
// selected-highlighted), a caption and, under the mouse, a hot-track cloud
// that pulses while the mouse rests on the tab. Three sounds play when the
// hot tab changes, when the cloud pulses and when a tab is selected; a
// page's own sound wins over the control's.
//
// Pages are TKelmTabSheet widgets; Qt keeps page indexes for hidden tabs, so
// a page index is a Qt tab index. "Tab" numbers as callers know them count
// visible tabs only; ConvertTabToPageIndex turns one into a page index, -1
// when there is no such tab. A page index outside the pages means no page.
//
// Flashing runs on the GUI thread from the page controls' poller: after the
// hot tab changes, 13 quiet ticks pass; then, once the tab has been painted,
// the phase steps 1, 2, 3, 0, ... staying FlashingDelay + 1 ticks in phases
// 1 and 3, FlashedDelay + 1 in phase 2 (where the pulse sound plays) and
// UnFlashedDelay + 1 in phase 0.
#pragma once

#include <QImage>
#include <QPainter>
#include <QTabBar>
#include <QTabWidget>
#include <functional>
#include <vector>

#include "controls/hot_track_poller.h"
#include "controls/sound_ref.h"
#include "controls/tab_sheet.h"

namespace controls {

enum TKelmTabStyle : unsigned { tabRightJustify = 1, tabCenterText = 2, tabLabelLeft = 4, tabOwnerDraw = 8 };
enum TTabColorization : int { tcNone, tcPage, tcActive, tcActivePage };
enum TCloudColorization : int { ccNone, ccPage, ccMain };
enum TDrawStyle : int { dsNormal, dsRaised, dsInset, dsShadow };
enum TTabStyle : int { tsTabs, tsButtons, tsFlatButtons };
enum TTabPosition : int { tpTop, tpBottom, tpLeft, tpRight };
// Owner-draw item state bits.
inline constexpr unsigned odSelected = 0x1, odFocus = 0x10;

class TKelmPageControl;

// The tab bar: sizes every tab for its glyph and caption and paints the
// control's background and each tab through the page control's DrawItem.
class TKelmTabBar : public QTabBar {
public:
  explicit TKelmTabBar(TKelmPageControl* control);

protected:
  QSize tabSizeHint(int index) const override;
  QSize minimumTabSizeHint(int index) const override { return tabSizeHint(index); }
  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;
  void paintEvent(QPaintEvent* event) override;

private:
  friend class TKelmPageControl;
  // Several rows of tabs (MultiLine): each page's rectangle in bar
  // coordinates (empty for hidden tabs) and the bar's size. Rows fill up to
  // the control's extent; the selected tab's row lies next to the page and
  // the others follow it round in order; tabRightJustify stretches every row
  // to the full extent.
  std::vector<QRect> Rows(QSize* size = nullptr) const;

  TKelmPageControl* control_;
};

class TKelmPageControl : public QTabWidget, public THotTrackClient {
public:
  explicit TKelmPageControl(QWidget* parent = nullptr);
  ~TKelmPageControl() override;

  // The page controls' poller (tests drive it with TickForTest).
  static THotTrackPoller& Poller();

  // ---- pages and tabs ----
  // Adds a page with its caption (Windows-1252).
  int AddPage(TKelmTabSheet* page, const std::string& caption);
  int PageCount() const { return count(); }
  // The page at a page index, nullptr outside the pages.
  TKelmTabSheet* Page(int index) const;
  int PageIndexOf(const TKelmTabSheet* page) const { return indexOf(const_cast<TKelmTabSheet*>(page)); }
  // Pages with a visible tab.
  int VisibleTabCount() const;
  // The page of the tab-th visible tab, -1 when there is none.
  int ConvertTabToPageIndex(int tab) const;
  void SetTabVisible(int page, bool visible);
  // A page's tab rectangle in control coordinates (empty when hidden).
  QRect TabRect(int page) const;
  // The page whose tab holds the point (control coordinates), or -1.
  int HitTest(QPoint pos) const;
  // The current page (selection), or -1.
  int CurrentPage() const { return currentIndex(); }

  // ---- properties ----
  unsigned Styles() const { return styles_; }
  void SetStyles(unsigned value);
  TTabStyle Style() const { return style_; }
  void SetStyle(TTabStyle value);
  // tabRightJustify forces MultiLine on.
  bool MultiLine() const { return multi_line_; }
  void SetMultiLine(bool value);
  TTabPosition TabPos() const { return tab_position_; }
  void SetTabPos(TTabPosition value);
  bool ShowGlyphs() const { return show_glyphs_; }
  void SetShowGlyphs(bool value);
  TTabColorization TabColorization() const { return tab_colorization_; }
  void SetTabColorization(TTabColorization value) { Set(tab_colorization_, value); }
  TCloudColorization CloudColorization() const { return cloud_colorization_; }
  void SetCloudColorization(TCloudColorization value) { Set(cloud_colorization_, value); }
  TColor ColorUnselected() const { return color_unselected_; }
  void SetColorUnselected(TColor value) { Set(color_unselected_, value); }
  TColor ColorSelected() const { return color_selected_; }
  void SetColorSelected(TColor value) { Set(color_selected_, value); }
  TColor HotTrackColor() const { return hot_track_color_; }
  void SetHotTrackColor(TColor value) { Set(hot_track_color_, value); }
  TColor HotTrackCloudColor() const { return hot_track_cloud_color_; }
  void SetHotTrackCloudColor(TColor value) { Set(hot_track_cloud_color_, value); }
  TColor Color() const { return color_; }
  void SetColor(TColor value);
  TColor FontColor() const { return font_color_; }
  void SetFontColor(TColor value) { Set(font_color_, value); }
  bool GrayInactive() const { return gray_inactive_; }
  void SetGrayInactive(bool value) { Set(gray_inactive_, value); }
  bool HighlightGlyphts() const { return highlight_glyphs_; }
  void SetHighlightGlyphts(bool value) { Set(highlight_glyphs_, value); }
  TDrawStyle HotTrackTextStyle() const { return text_style_; }
  void SetHotTrackTextStyle(TDrawStyle value) { Set(text_style_, value); }
  TDrawStyle HotTrackGlyphtStyle() const { return glyph_style_; }
  void SetHotTrackGlyphtStyle(TDrawStyle value) { Set(glyph_style_, value); }
  bool Transparent() const { return transparent_; }
  void SetTransparent(bool value);
  bool HotTrack = false;
  bool Flashing = true;
  bool EnableSounds = true;
  // Ticks; the setters make values below 10 into 10.
  int FlashedDelay() const { return flashed_delay_; }
  void SetFlashedDelay(int value) { flashed_delay_ = std::max(10, value); }
  int FlashingDelay() const { return flashing_delay_; }
  void SetFlashingDelay(int value) { flashing_delay_ = std::max(10, value); }
  int UnFlashedDelay() const { return unflashed_delay_; }
  void SetUnFlashedDelay(int value) { unflashed_delay_ = std::max(10, value); }
  TSoundRef HighlightSound, PulseSound, SelectSound;
  // Replaces the tab painting (page index, rectangle, state).
  std::function<void(QPainter&, int, const QRect&, unsigned)> OnDrawItem;

  // ---- hot tracking and flashing ----
  int HotPage() const { return hot_; }
  int FlashPhase() const { return phase_; }
  int Countdown() const { return countdown_; }
  bool Painted() const { return painted_; }
  void UpdateHighlighted() override;
  // Each tells whether a sound played.
  bool PlaySelectWave();
  bool PlayPulseWave();
  bool PlayHighlightWave();
  bool HaveHighlightWave() const;
  bool HaveSelectWave() const;

  // ---- glyphs and painting ----
  // Rebuilds the four glyph lists from the pages and re-measures the tabs.
  void UpdateGlyphs();
  int GlyphUpdates() const { return glyph_updates_; }
  // The list image of a page: kind as TKelmTabSheet::TGlyphKind; ARGB32,
  // see-through where the glyph has its bottom-left pixel's colour.
  QImage ListGlyph(int kind, int page) const;
  // Paints one tab into the painter (control coordinates).
  virtual void DrawItem(QPainter& canvas, int page, QRect rect, unsigned state);
  // The control's background: the parent image or the colour, the band
  // joining the current tab and page, and the tab rectangles.
  QImage ComposeBackground();
  // The parent's background and the siblings below the control, as seen
  // through the control (control size).
  const QImage& ValidateParentImage();
  bool HasTransparentcy() const;
  // Clears the parent image and repaints everything.
  void Invalidate();
  // Tells every control under the parent that the view changed.
  void ViewChange();
  // Repaints the strips around the current page.
  void InvalidateBorder();

protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void moveEvent(QMoveEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
  bool event(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  friend class TKelmTabBar;
  template <typename T>
  void Set(T& field, T value) {
    if (field == value) return;
    field = value;
    Invalidate();
  }
  void MouseMoved(QPoint pos);
  void MouseLeft();
  void InvalidateTab(int page);
  void CurrentChanging();
  void CurrentChanged();
  // Tab colour and buffer of a page as drawn selected or not.
  TColor TabColor(int page, bool selected, const QImage** buffer);
  bool Play(TSoundRef TKelmTabSheet::*page_sound, TSoundRef& own);
  bool Have(TSoundRef TKelmTabSheet::*page_sound, const TSoundRef& own) const;
  void DrawGlyphtShadow(QImage& tab, const QImage& glyph, int d, int x, int y, TColor color) const;

  TKelmTabBar* bar_;
  std::vector<QImage> lists_[4];
  int hot_ = -1, phase_ = 0, countdown_ = 0;
  bool painted_ = false, pulse_muted_ = false, mouse_inside_ = false;
  bool glyphs_built_ = false;
  int glyph_updates_ = 0;
  QImage parent_image_;
  bool parent_valid_ = false;
  int last_current_ = -1;

  unsigned styles_ = 0;
  TTabStyle style_ = tsTabs;
  TTabPosition tab_position_ = tpTop;
  bool multi_line_ = false;
  bool show_glyphs_ = true, gray_inactive_ = true, highlight_glyphs_ = true, transparent_ = false;
  TTabColorization tab_colorization_ = tcPage;
  TCloudColorization cloud_colorization_ = ccMain;
  TColor color_unselected_ = gui::clBtnShadow, color_selected_ = gui::clBtnFace;
  TColor hot_track_color_ = gui::clHighlight, hot_track_cloud_color_ = 0x00FFFF;
  TColor color_ = gui::clWindow, font_color_ = gui::clWindowText;
  TDrawStyle text_style_ = dsRaised, glyph_style_ = dsRaised;
  int flashed_delay_ = 6, flashing_delay_ = 6, unflashed_delay_ = 200;
};

}  // namespace controls
