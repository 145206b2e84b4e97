#include "controls/shaped_button.h"

#include <QApplication>
#include <QDialog>
#include <QKeyEvent>
#include <QKeySequence>
#include <QMouseEvent>
#include <QPainter>
#include <algorithm>

#include "controls/change_view.h"
#include "platform/gui/colors.h"
#include "platform/gui/edges.h"
#include "platform/gui/fonts.h"
#include "platform/gui/messages.h"
#include "platform/gui/text.h"

namespace controls {

// ---- action link ----

TKelmShapedButtonActionLink::TKelmShapedButtonActionLink(TKelmShapedButton* client, gui::TCustomAction* action)
    : client_(client), action_(action), checked_(action->isChecked()), help_context_(action->HelpContext()),
      image_index_(action->ImageIndex()) {}

bool TKelmShapedButtonActionLink::IsCheckedLinked() const { return client_->Down() == checked_; }
bool TKelmShapedButtonActionLink::IsHelpContextLinked() const { return client_->HelpContext() == help_context_; }
bool TKelmShapedButtonActionLink::IsImageIndexLinked() const { return client_->ImageIndex() == image_index_; }

void TKelmShapedButtonActionLink::ActionChanged() {
  if (!action_) return;
  if (action_->isChecked() != checked_) {
    const bool linked = IsCheckedLinked();
    checked_ = action_->isChecked();
    if (linked) client_->SetDown(checked_);
  }
  if (action_->HelpContext() != help_context_) {
    const bool linked = IsHelpContextLinked();
    help_context_ = action_->HelpContext();
    if (linked) client_->SetHelpContext(help_context_);
  }
  if (action_->ImageIndex() != image_index_) {
    const bool linked = IsImageIndexLinked();
    image_index_ = action_->ImageIndex();
    if (linked) client_->SetImageIndex(image_index_);
  }
  client_->SetCaption(gui::ToCp1252(action_->text()));
  client_->setEnabled(action_->isEnabled());
}

// ---- construction ----

THotTrackPoller& TKelmShapedButton::Poller() {
  static THotTrackPoller poller;
  return poller;
}

TKelmShapedButton::TKelmShapedButton(QWidget* parent) : QWidget(parent) {
  resize(23, 22);
  setMouseTracking(true);
  glyph_.OnChange = [this] { update(); };
  Poller().Register(this);
}

TKelmShapedButton::~TKelmShapedButton() {
  Poller().Unregister(this);
  if (filtering_) qApp->removeEventFilter(this);
}

// ---- setters ----

void TKelmShapedButton::SetAllowAllUp(bool value) { Set(allow_all_up_, value); }

void TKelmShapedButton::SetGroupIndex(int value) {
  if (group_index_ == value) return;
  group_index_ = value;
  UpdateExclusive();
  update();
}

void TKelmShapedButton::SetMargin(int value) {
  if (value >= -1) Set(margin_, value);
}

void TKelmShapedButton::SetOldDisabledStyle(bool value) {
  if (glyph_.OldDisabledStyle == value) return;
  glyph_.OldDisabledStyle = value;
  glyph_.ClearImages();
  update();
}

void TKelmShapedButton::SetReliefSize(int value) {
  value = std::clamp(value, 1, 6);
  if (relief_ == value) return;
  relief_ = value;
  glyph_.ClearImages();
  update();
}

void TKelmShapedButton::SetImageIndex(int value) {
  if (glyph_.ImageIndex() != value) glyph_.SetImageIndex(value);
}

void TKelmShapedButton::SetFontDesc(const gui::TFontDesc& desc) { setFont(gui::MakeQFont(desc)); }

void TKelmShapedButton::SetCaption(const std::string& caption) { Set(caption_, caption); }

void TKelmShapedButton::SetDropdownMenu(QMenu* menu) {
  if (menu_ == menu) return;
  menu_ = menu;
  if (menu_) menu_->setAttribute(Qt::WA_NoMouseReplay);
  if (dropdown_arrow_) update();
}

void TKelmShapedButton::SetDropdownCombo(bool value) {
  if (dropdown_combo_ == value) return;
  dropdown_combo_ = value;
  resize(value ? width() + kDropWidth : std::max(1, width() - kDropWidth), height());
  update();
}

void TKelmShapedButton::SetDown(bool value) {
  if (group_index_ == 0) value = false;
  if (value == down_) return;
  if (down_ && !allow_all_up_) return;  // a down button of an exclusive group stays down
  down_ = value;
  state_ = RestState();
  if (down_) UpdateExclusive();
  if (link_ && link_->Action() && link_->Action()->isCheckable()) link_->Action()->setChecked(down_);
  update();
}

void TKelmShapedButton::UpdateExclusive() {
  if (!down_ || group_index_ == 0 || !parentWidget()) return;
  for (auto* other : parentWidget()->findChildren<TKelmShapedButton*>(Qt::FindDirectChildrenOnly)) {
    if (other == this || other->group_index_ != group_index_ || !other->down_) continue;
    other->down_ = false;
    other->state_ = other->RestState();
    other->update();
  }
}

void TKelmShapedButton::SetAction(gui::TCustomAction* action) {
  if (action_connection_) disconnect(action_connection_);
  link_.reset();
  if (!action) return;
  link_ = std::make_unique<TKelmShapedButtonActionLink>(this, action);
  action_connection_ = connect(action, &QAction::changed, this, [this] { ActionChange(false); });
  connect(action, &QObject::destroyed, this, [this] { link_.reset(); });
  ActionChange(true);
}

// Forced (a new action): the action's values unless the button holds
// values of its own; otherwise the linked values follow.
void TKelmShapedButton::ActionChange(bool forced) {
  if (!link_ || !link_->Action()) return;
  gui::TCustomAction* action = link_->Action();
  if (!forced) {
    link_->ActionChanged();
    return;
  }
  if (!down_) SetDown(action->isChecked());
  if (help_context_ == 0) help_context_ = action->HelpContext();
  if (glyph_.ImageIndex() == -1) SetImageIndex(action->ImageIndex());
  if (caption_.empty()) SetCaption(gui::ToCp1252(action->text()));
  setEnabled(action->isEnabled());
}

void TKelmShapedButton::AssignTo(gui::TCustomAction* action) const {
  if (action) action->setChecked(down_);
}

// ---- mouse and keyboard ----

bool TKelmShapedButton::PointInButton(int x, int y) const {
  const int right = (dropdown_combo_ && menu_) ? width() - kDropWidth : width();
  return x >= 0 && y >= 0 && x < right && y < height();
}

int TKelmShapedButton::RestState() const {
  if (!isEnabled()) return gsDisabled;
  if (DownInGroup()) return mouse_inside_ ? gsHotExclusive : gsExclusive;
  return mouse_inside_ ? gsHot : gsUp;
}

void TKelmShapedButton::Play(const TKelmSoundLink& sound) const {
  if (EnableSounds) sound.Play();
}

void TKelmShapedButton::enterEvent(QEnterEvent* event) {
  if (isEnabled()) {
    if (!visit_) {
      Play(highlight_wave_);
      visit_ = true;
    }
    MouseEntered();
    mouse_inside_ = true;
  }
  QWidget::enterEvent(event);
}

void TKelmShapedButton::leaveEvent(QEvent* event) {
  MouseLeft();
  mouse_inside_ = false;
  visit_ = false;
  QWidget::leaveEvent(event);
}

void TKelmShapedButton::MouseEntered() {
  if (!isEnabled()) return;
  highlighted_ = true;
  countdown_ = 8;
  if (state_ == gsExclusive) state_ = gsHotExclusive;
  if (!mouse_inside_) {
    mouse_inside_ = true;
    if (tracking_ && (state_ == gsHot || state_ == gsDown))
      state_ = gsHotDown;
    else if (state_ == gsUp)
      state_ = gsHot;
  }
  update();
  if (OnMouseEnter) OnMouseEnter();
}

void TKelmShapedButton::MouseLeft() {
  if (!isEnabled()) return;
  if (state_ == gsHotExclusive) state_ = gsExclusive;
  if (mouse_inside_ && !tracking_) {
    mouse_inside_ = false;
    if (state_ == gsHot || ((state_ == gsDown || state_ == gsHotDown) && !click_running_)) state_ = RestState();
    update();
    if (OnMouseExit) OnMouseExit();
  } else if (tracking_ && !click_running_) {
    // Dragged out while held: the button stands up again until it comes back.
    if (state_ == gsHotDown || state_ == gsDown) state_ = gsHot;
    update();
  } else if (!mouse_inside_) {
    state_ = RestState();
    highlighted_ = false;
    update();
  }
}

void TKelmShapedButton::MouseDown(QPoint pos) {
  visit_ = true;
  Play(select_wave_);
  MouseEntered();
  drop_click_ = menu_ && (!dropdown_combo_ || pos.x() >= width() - kDropWidth);
  if (!down_) {
    state_ = mouse_inside_ ? gsHotDown : gsDown;
    repaint();
  } else if (allow_all_up_) {
    repaint();
  }
  if (!drop_click_) tracking_ = true;
  if (drop_click_) {
    Click();
  } else if (Repeating) {
    Click();
    if (!repeat_timer_) {
      repeat_timer_ = new QTimer(this);
      connect(repeat_timer_, &QTimer::timeout, this, [this] { RepeatTimerTick(); });
    }
    repeat_timer_->start(RepeatDelay);
  }
}

void TKelmShapedButton::mousePressEvent(QMouseEvent* event) {
  last_mouse_ = event->position().toPoint();
  if (!isEnabled()) return;
  // A press on the button while its menu is open only closes the menu (the
  // menu itself does not replay the press here either).
  if (menu_running_) {
    if (menu_) menu_->close();
    return;
  }
  if (event->button() == Qt::LeftButton) {
    MouseDown(last_mouse_);
  } else {
    MouseEntered();
  }
}

void TKelmShapedButton::mouseDoubleClickEvent(QMouseEvent* event) {
  mousePressEvent(event);
  if (event->button() == Qt::LeftButton && down_ && OnDblClick) OnDblClick();
}

void TKelmShapedButton::mouseMoveEvent(QMouseEvent* event) {
  last_mouse_ = event->position().toPoint();
  // While the press holds the mouse, crossing the edge counts as leaving or entering.
  if (tracking_ && rect().contains(last_mouse_) != mouse_inside_) {
    if (mouse_inside_) {
      MouseLeft();
      mouse_inside_ = false;
    } else {
      MouseEntered();
    }
  }
  QWidget::mouseMoveEvent(event);
}

void TKelmShapedButton::RepeatTimerTick() {
  if (!repeat_timer_) return;
  repeat_timer_->setInterval(RepeatInterval);
  if (Repeating && tracking_ && mouse_inside_ && PointInButton(last_mouse_.x(), last_mouse_.y())) {
    Click();
  } else {
    repeat_timer_->stop();
  }
}

void TKelmShapedButton::mouseReleaseEvent(QMouseEvent* event) {
  last_mouse_ = event->position().toPoint();
  if (menu_running_) return;
  if (repeat_timer_) repeat_timer_->stop();
  if (!isEnabled()) return;
  if (event->button() == Qt::RightButton) {
    tracking_ = false;
    MouseLeft();
    return;
  }
  if (event->button() != Qt::LeftButton || !tracking_) return;
  const bool inside = rect().contains(last_mouse_);
  // A repeating button clicked at the press and on its timer; the release adds none.
  if (inside && !Repeating) Click();
  tracking_ = false;
  mouse_inside_ = inside;
  state_ = RestState();
  update();
}

void TKelmShapedButton::Click() {
  ClickUp(true);
  // The action runs without toggling its Checked (Down already carried it over).
  if (link_ && link_->Action() && link_->Action()->isEnabled()) {
    gui::TCustomAction* action = link_->Action();
    emit action->triggered(action->isChecked());
  }
}

void TKelmShapedButton::ClickUp(bool fire) {
  if (Repeating && !drop_click_) {
    if (fire && OnClick) OnClick();
    return;
  }
  QPointer<TKelmShapedButton> self(this);
  click_running_ = true;
  if (fire && group_index_ != 0) SetDown(!down_);
  if (state_ == gsUp || state_ == gsHot) {
    state_ = mouse_inside_ ? gsHotDown : gsDown;
    repaint();
  }
  if (!menu_ || (dropdown_combo_ && !drop_click_)) {
    if (ModalResult != 0)
      if (auto* dialog = qobject_cast<QDialog*>(window())) dialog->done(ModalResult);
    if (fire && OnClick) OnClick();
  } else {
    if (fire && !dropdown_combo_ && OnClick) OnClick();
    if (self) ShowMenu();
  }
  if (!self) return;
  click_running_ = false;
  drop_click_ = false;
  if (!tracking_) state_ = RestState();
  update();
}

void TKelmShapedButton::ShowMenu() {
  if (!menu_) return;
  QPoint at = mapToGlobal(QPoint(0, height()));
  const int menu_width = menu_->sizeHint().width();
  if (alignment_ == taRightJustify) at.rx() += width() - menu_width;
  if (alignment_ == taCenter) at.rx() += (width() - menu_width) / 2;
  menu_->setAttribute(Qt::WA_NoMouseReplay);
  QPointer<TKelmShapedButton> self(this);
  menu_running_ = true;
  menu_->exec(at);
  if (self) menu_running_ = false;
}

void TKelmShapedButton::CancelMode() {
  if (repeat_timer_) repeat_timer_->stop();
  if (tracking_) {
    tracking_ = false;
    MouseLeft();
  }
}

void TKelmShapedButton::focusOutEvent(QFocusEvent* event) {
  CancelMode();
  QWidget::focusOutEvent(event);
}

void TKelmShapedButton::changeEvent(QEvent* event) {
  if (event->type() == QEvent::EnabledChange) {
    if (!isEnabled()) {
      state_ = gsDisabled;
      mouse_inside_ = tracking_ = false;
      if (repeat_timer_) repeat_timer_->stop();
    } else {
      state_ = RestState();
    }
    update();
  } else if (event->type() == QEvent::FontChange || event->type() == QEvent::PaletteChange) {
    update();
  }
  QWidget::changeEvent(event);
}

void TKelmShapedButton::moveEvent(QMoveEvent* event) {
  QWidget::moveEvent(event);
  update();
}

void TKelmShapedButton::showEvent(QShowEvent* event) {
  if (!filtering_) {
    qApp->installEventFilter(this);
    filtering_ = true;
  }
  QWidget::showEvent(event);
}

void TKelmShapedButton::hideEvent(QHideEvent* event) {
  if (filtering_) {
    qApp->removeEventFilter(this);
    filtering_ = false;
  }
  CancelMode();
  QWidget::hideEvent(event);
}

bool TKelmShapedButton::event(QEvent* event) {
  if (event->type() == gui::TMessageEvent::EventType() &&
      static_cast<gui::TMessageEvent*>(event)->Message().Msg == KELM_CHANGEVIEW) {
    update();
    return true;
  }
  return QWidget::event(event);
}

// Return on a Default button, Escape on a Cancel button and the caption's
// Alt+letter click the button, whichever widget of its window has the key.
bool TKelmShapedButton::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::KeyPress || !watched->isWidgetType()) return false;
  auto* target = static_cast<QWidget*>(watched);
  if (target->window() != window() || !isVisible() || !isEnabled()) return false;
  auto* key = static_cast<QKeyEvent*>(event);
  const auto modifiers = key->modifiers() & ~Qt::KeypadModifier;
  bool hit = false;
  if (modifiers == Qt::NoModifier) {
    hit = (Default && (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter)) ||
          (Cancel && key->key() == Qt::Key_Escape);
  }
  if (!hit && display_mode_ != dmGlyphOnly && !caption_.empty()) {
    const QKeySequence mnemonic = QKeySequence::mnemonic(gui::ToQString(caption_));
    hit = !mnemonic.isEmpty() && mnemonic[0].toCombined() == static_cast<int>(key->key() | modifiers);
  }
  if (!hit) return false;
  Click();
  return true;
}

// ---- flashing ----

void TKelmShapedButton::UpdateHighlighted() {
  if (!flashing_) return;
  if (countdown_ > 0) {
    --countdown_;
    return;
  }
  if (state_ != gsHotExclusive && state_ != gsHotDown && state_ != gsHot) return;
  if (!highlighted_) return;
  phase_ = (phase_ + 1) % 4;
  countdown_ = phase_ == 0 ? UnFlashedDelay : phase_ == 2 ? FlashedDelay : FlashingDelay;
  if (phase_ == 2) {
    if (!visit_)
      Play(pulse_wave_);
    else
      visit_ = false;
  }
  update();
}

// ---- painting ----

void TKelmShapedButton::paintEvent(QPaintEvent*) {
  QImage image(size(), QImage::Format_ARGB32);
  PaintTo(image);
  QPainter painter(this);
  painter.drawImage(0, 0, image);
}

void TKelmShapedButton::PaintTo(QImage& image) {
  const bool see_through = transparent_ && flat_;
  // See-through: whatever lies under the button (the parent and the
  // controls behind it) shows where nothing is drawn.
  if (see_through) {
    image.fill(Qt::transparent);
  } else {
    image.fill(gui::ToQColor(color_));
  }
  QPainter p(&image);
  p.setFont(font());
  const bool combo = dropdown_combo_ && menu_;
  const bool pressed = state_ >= gsDown && state_ <= gsHotDown;
  const bool hot = state_ == gsHotExclusive || state_ == gsHotDown || state_ == gsHot;
  gui::TRect face{0, 0, width(), height()};
  const bool framed = border_ && (!flat_ || pressed || (mouse_inside_ && isEnabled()));
  if (framed) {
    auto edge = [&](gui::TRect r, bool down) {
      const unsigned kind = flat_ ? (down ? gui::BDR_SUNKENOUTER : gui::BDR_RAISEDINNER)
                                  : (down ? gui::EDGE_SUNKEN : gui::EDGE_RAISED);
      const unsigned flags = flat_ ? gui::BF_RECT : gui::BF_RECT | gui::BF_MIDDLE | gui::BF_SOFT;
      gui::DrawEdge(p, r, kind, flags);
    };
    if (combo) {
      edge({width() - kDropWidth, 0, width(), height()}, pressed && drop_click_);
      face.right -= kDropWidth;
      edge(face, pressed && !drop_click_);
    } else {
      edge(face, pressed);
    }
  } else if (combo) {
    face.right -= kDropWidth;
  }
  if (border_) {
    const int inset = flat_ ? 1 : 2;
    face = {face.left + inset, face.top + inset, face.right - inset, face.bottom - inset};
  }
  const QPoint offset = (pressed && !(combo && drop_click_)) ? QPoint(1, 1) : QPoint(0, 0);
  if (hot && cloud_type_ != ctNone) {
    const int mode = flashing_ ? phase_ : 1;
    const bool large = cloud_type_ == ctLarge;
    if (see_through) {
      p.drawImage(0, 0, CloudLayer(size(), cloud_color_, large, mode, face.left, face.top, face.right, face.bottom));
    } else {
      PaintCloud(p, color_, cloud_color_, large, mode, face.left, face.top, face.right, face.bottom);
    }
  }
  const QRect client(face.left, face.top, face.right - face.left, face.bottom - face.top);
  const TColor text_color = hot ? hot_track_color_ : font_color_;
  glyph_.Draw(p, client, offset, caption_, layout_, margin_, spacing_, static_cast<TButtonState>(state_), relief_,
              display_mode_ != dmTextOnly, display_mode_ != dmGlyphOnly, menu_ && dropdown_arrow_ && !combo,
              alignment_, word_wrap_, false, text_color);
  if (combo && dropdown_arrow_) glyph_.DrawArrow(p, width() - 13, height() / 2 - 1, static_cast<TButtonState>(state_), text_color);
}

}  // namespace controls
