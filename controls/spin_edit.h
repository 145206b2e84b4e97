// TKelmSpinEdit: an edit for a floating-point value with up and down
// buttons, a small bar gauge along its bottom showing where the value lies
// between MinValue and MaxValue, and a drop button that shows a track bar
// (0..1000) while held; dragging sets the value. TAGauge is the gauge.
//
// MinValue = MaxValue means unbounded: any value is accepted as typed and
// the buttons step by Increment.
#pragma once

#include <QLineEdit>
#include <QPointer>
#include <QSlider>
#include <QToolButton>
#include <QWidget>
#include <functional>
#include <string>

#include "platform/gui/base/colors.h"

namespace controls {

class TKelmSpinEdit;

class TAGauge : public QWidget {
public:
  explicit TAGauge(TKelmSpinEdit* owner);
  gui::TColor GuageColor() const { return color_; }
  void SetGuageColor(gui::TColor color);
  // The value a press or drag at x (gauge pixels) selects.
  double ValueAt(int x) const;
  // The face before it is combined with the background: clBtnShadow, the
  // bar area in the edit's colour with the bar in GuageColor, a clBtnFace frame.
  QImage Face() const;
  QImage Background() const;

protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

private:
  TKelmSpinEdit* owner_;
  gui::TColor color_ = gui::clHighlight;
  bool captured_ = false;
};

class TKelmSpinEdit : public QLineEdit {
public:
  static constexpr std::uint32_t kUpdateMessage = 0xA00;

  explicit TKelmSpinEdit(QWidget* parent = nullptr);
  ~TKelmSpinEdit() override;

  // The text as a number: "" reads as 0 (the text becomes "0"), text that
  // is no number reads as MinValue (and the text becomes MinValue).
  double Value();
  void SetValue(double value);
  // The value unchanged when unbounded, else kept within the limits.
  double CheckValue(double value) const;
  double MinValue() const { return min_; }
  void SetMinValue(double value);
  double MaxValue() const { return max_; }
  void SetMaxValue(double value);
  double Increment = 1;
  bool EditorEnabled = true;
  bool AutoSelect = true;
  int Precision() const { return precision_; }
  void SetPrecision(int digits);  // kept within 0..6
  int TrackBarWidth() const { return track_width_; }
  void SetTrackBarWidth(int pixels);  // kept within 50..300
  Qt::Orientation TrackBarOrientation() const { return orientation_; }
  void SetTrackBarOrientation(Qt::Orientation orientation);
  gui::TColor GuageColor() const { return gauge_->GuageColor(); }
  void SetGuageColor(gui::TColor color) { gauge_->SetGuageColor(color); }
  gui::TColor Color = gui::clWindow;
  std::function<void()> OnChange;

  // Up (true) or down one step, as the buttons do.
  void Step(bool up);
  // The text with Precision digits after the decimal separator.
  std::string FormatValue(double value) const;

  // The parts, for placing and for tests.
  TAGauge* Gauge() const { return gauge_; }
  QToolButton* UpButton() const { return up_; }
  QToolButton* DownButton() const { return down_; }
  QToolButton* DropButton() const { return drop_; }
  QWidget* TrackBarForm() const { return form_; }
  QSlider* TrackBar() const { return slider_; }
  // The value a drag to this screen point selects on the shown track bar.
  double TrackValueAt(QPoint global) const;
  int MinimumHeight() const;

protected:
  bool event(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

private:
  bool MayEdit() const { return EditorEnabled && !isReadOnly(); }
  void SetText(double value);
  void PlaceParts();
  void UpdateFormView();
  void DropPressed(QPoint global);
  void SelectAllUnlessHeld();

  double min_ = 0, max_ = 100;
  int precision_ = 2, track_width_ = 150;
  Qt::Orientation orientation_ = Qt::Horizontal;
  QWidget* panel_;
  QToolButton *up_, *down_, *drop_;
  TAGauge* gauge_;
  QWidget* form_;
  QSlider* slider_;
  int breadth_ = 0;
  QPoint mouse_down_;
  bool dragging_ = false;
};

}  // namespace controls
