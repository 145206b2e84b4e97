// TKelmShapedButton: a speed-button-like control drawn entirely by itself:
// flat or raised relief, a hot-track cloud that flashes while the mouse
// rests on it, grouped down/up behaviour, auto-repeat while held, a drop-down
// menu (the whole button, or an 11-pixel arrow part with DropdownCombo), a
// glyph with relief effects, sounds, and binding to an action.
//
// Button states use the glyph states' numbers: 0 up, 1 disabled, 2 pressed
// with the mouse outside, 3 held down by Down, 4 the same with the mouse
// inside, 5 pressed with the mouse inside, 6 mouse inside (hot); 4, 5 and 6
// are the hot states.
//
// Flashing runs on the GUI thread from the shaped buttons' hot-track
// poller: after the mouse enters, 8 ticks pass, then the cloud's phase
// steps 0, 1, 2, 3, 0, ... staying UnFlashedDelay ticks in phase 0,
// FlashedDelay in phase 2 (where the pulse sound plays) and FlashingDelay
// in the others.
#pragma once

#include <QImage>
#include <QMenu>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>
#include <string>

#include "controls/button_glyph.h"
#include "controls/hot_track_poller.h"
#include "controls/wave_sound.h"
#include "platform/gui/actions.h"
#include "platform/gui/base/fonts.h"

namespace controls {

enum TKelmCloudType : int { ctNone, ctSmall, ctLarge };
enum TButtonDisplayMode : int { dmBoth, dmGlyphOnly, dmTextOnly };

class TKelmShapedButton;

// Keeps a button and its action in step. Checked (with Down), HelpContext
// and ImageIndex follow the action while the button's value equals the
// action's previous one (the two are linked); caption and enabled always
// follow.
class TKelmShapedButtonActionLink {
public:
  TKelmShapedButtonActionLink(TKelmShapedButton* client, gui::TCustomAction* action);
  bool IsCheckedLinked() const;
  bool IsHelpContextLinked() const;
  bool IsImageIndexLinked() const;
  // The action changed: linked values follow.
  void ActionChanged();
  gui::TCustomAction* Action() const { return action_; }

private:
  TKelmShapedButton* client_;
  QPointer<gui::TCustomAction> action_;
  bool checked_;
  int help_context_, image_index_;
};

class TKelmShapedButton : public QWidget, public THotTrackClient {
public:
  static constexpr int kDropWidth = 11;

  explicit TKelmShapedButton(QWidget* parent = nullptr);
  ~TKelmShapedButton() override;

  // The shaped buttons' poller (tests drive it with TickForTest).
  static THotTrackPoller& Poller();

  // ---- properties ----
  TAlignment Alignment() const { return alignment_; }
  void SetAlignment(TAlignment value) { Set(alignment_, value); }
  bool AllowAllUp() const { return allow_all_up_; }
  void SetAllowAllUp(bool value);
  bool Border() const { return border_; }
  void SetBorder(bool value) { Set(border_, value); }
  bool Cancel = false;
  bool Default = false;
  TColor CloudColor() const { return cloud_color_; }
  void SetCloudColor(TColor value) { Set(cloud_color_, value); }
  TKelmCloudType CloudType() const { return cloud_type_; }
  void SetCloudType(TKelmCloudType value) { Set(cloud_type_, value); }
  TColor Color() const { return color_; }
  void SetColor(TColor value) { Set(color_, value); }
  // The caption's font from the class library's description (the parent's
  // font until set, as with ParentFont).
  void SetFontDesc(const gui::TFontDesc& desc);
  TColor FontColor() const { return font_color_; }
  void SetFontColor(TColor value) { Set(font_color_, value); }
  TButtonDisplayMode DisplayMode() const { return display_mode_; }
  void SetDisplayMode(TButtonDisplayMode value) { Set(display_mode_, value); }
  bool Down() const { return down_; }
  void SetDown(bool value);
  bool DropdownArrow() const { return dropdown_arrow_; }
  void SetDropdownArrow(bool value) { Set(dropdown_arrow_, value); }
  bool DropdownCombo() const { return dropdown_combo_; }
  void SetDropdownCombo(bool value);
  QMenu* DropdownMenu() const { return menu_; }
  void SetDropdownMenu(QMenu* menu);
  bool EnableSounds = true;
  bool Flashing() const { return flashing_; }
  void SetFlashing(bool value) { Set(flashing_, value); }
  int FlashedDelay = 6, FlashingDelay = 6, UnFlashedDelay = 300;
  bool Flat() const { return flat_; }
  void SetFlat(bool value) { Set(flat_, value); }
  const QImage& Glyph() const { return glyph_.Glyph(); }
  void SetGlyph(const QImage& picture) { glyph_.AssignGlyph(picture); }
  int GroupIndex() const { return group_index_; }
  void SetGroupIndex(int value);
  // Sounds: cleared when the sound component is destroyed.
  TKelmCustomSound* HighlightWave() const { return highlight_wave_.Get(); }
  void SetHighlightWave(TKelmCustomSound* sound) { highlight_wave_.Set(sound); }
  TKelmCustomSound* PulseWave() const { return pulse_wave_.Get(); }
  void SetPulseWave(TKelmCustomSound* sound) { pulse_wave_.Set(sound); }
  TKelmCustomSound* SelectWave() const { return select_wave_.Get(); }
  void SetSelectWave(TKelmCustomSound* sound) { select_wave_.Set(sound); }
  TColor HotTrackColor() const { return hot_track_color_; }
  void SetHotTrackColor(TColor value) { Set(hot_track_color_, value); }
  int HelpContext() const { return help_context_; }
  void SetHelpContext(int value) { help_context_ = value; }
  int ImageIndex() const { return glyph_.ImageIndex(); }
  void SetImageIndex(int value);
  const gui::TImageList* Images() const { return glyph_.Images(); }
  void SetImages(const gui::TImageList* images) { glyph_.SetImages(images); }
  TButtonLayoutPlus Layout() const { return layout_; }
  void SetLayout(TButtonLayoutPlus value) { Set(layout_, value); }
  int Margin() const { return margin_; }
  void SetMargin(int value);  // below -1 is ignored
  int ModalResult = 0;
  int NumGlyphs() const { return glyph_.NumGlyphs(); }
  void SetNumGlyphs(int value) { glyph_.SetNumGlyphs(value); }
  bool OldDisabledStyle() const { return glyph_.OldDisabledStyle; }
  void SetOldDisabledStyle(bool value);
  int ReliefSize() const { return relief_; }
  void SetReliefSize(int value);  // kept within 1..6
  int RepeatDelay = 400, RepeatInterval = 100;
  bool Repeating = false;
  bool ShowBorderWhenInactive = false;
  int Spacing() const { return spacing_; }
  void SetSpacing(int value) { Set(spacing_, value); }
  bool Transparent() const { return transparent_; }
  void SetTransparent(bool value) { Set(transparent_, value); }
  bool WordWrap() const { return word_wrap_; }
  void SetWordWrap(bool value) { Set(word_wrap_, value); }
  const std::string& Caption() const { return caption_; }
  void SetCaption(const std::string& caption);  // Windows-1252
  bool CallDormant() const { return glyph_.CallDormant; }
  void SetCallDormant(bool value) { glyph_.CallDormant = value; }

  gui::TCustomAction* Action() const { return link_ ? link_->Action() : nullptr; }
  void SetAction(gui::TCustomAction* action);
  // Copies Down into the action's Checked.
  void AssignTo(gui::TCustomAction* action) const;

  std::function<void()> OnClick, OnDblClick, OnMouseEnter, OnMouseExit;

  // ---- behaviour ----
  int State() const { return state_; }
  int FlashPhase() const { return phase_; }
  bool MouseInside() const { return mouse_inside_; }
  // Inside the client, less the arrow part when there is one.
  bool PointInButton(int x, int y) const;
  // What a click does: group toggle, modal result, OnClick, the menu.
  void Click();
  void UpdateHighlighted() override;
  // The repeat timer (its interval shows where the repeat is) and one tick of it.
  const QTimer* RepeatTimer() const { return repeat_timer_; }
  void RepeatTimerTick();

protected:
  void paintEvent(QPaintEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void changeEvent(QEvent* event) override;
  void moveEvent(QMoveEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  bool event(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  template <typename T>
  void Set(T& field, T value) {
    if (field == value) return;
    field = value;
    update();
  }
  void ActionChange(bool forced);
  void UpdateExclusive();
  void MouseEntered();
  void MouseLeft();
  void MouseDown(QPoint pos);
  void ClickUp(bool fire);
  void ShowMenu();
  void CancelMode();
  int RestState() const;  // the state without the mouse
  bool DownInGroup() const { return down_ && group_index_ != 0; }
  void Play(const TKelmSoundLink& sound) const;
  void PaintTo(QImage& image);

  int state_ = gsUp;
  bool mouse_inside_ = false, tracking_ = false, drop_click_ = false, click_running_ = false;
  int phase_ = 0, countdown_ = 0;
  bool highlighted_ = false, visit_ = false;
  QPoint last_mouse_{-1, -1};

  TAlignment alignment_ = taCenter;
  bool allow_all_up_ = false, border_ = false, down_ = false;
  TColor cloud_color_ = 0x00FFFF, color_ = gui::clBtnFace, font_color_ = gui::clWindowText;
  TColor hot_track_color_ = gui::clHighlight;
  TKelmCloudType cloud_type_ = ctLarge;
  TButtonDisplayMode display_mode_ = dmBoth;
  bool dropdown_arrow_ = true, dropdown_combo_ = false, flashing_ = true, flat_ = true;
  bool transparent_ = true, word_wrap_ = false;
  QPointer<QMenu> menu_;
  int group_index_ = 0, help_context_ = 0, margin_ = -1, relief_ = 2, spacing_ = 4;
  TButtonLayoutPlus layout_ = blGlyphLeft;
  std::string caption_;
  TButtonGlyph glyph_;
  QTimer* repeat_timer_ = nullptr;
  std::unique_ptr<TKelmShapedButtonActionLink> link_;
  TKelmSoundLink highlight_wave_, pulse_wave_, select_wave_;
  QMetaObject::Connection action_connection_;
  bool filtering_ = false;
  bool menu_running_ = false;
};

}  // namespace controls
