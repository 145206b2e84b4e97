#include "platform/gui/scroll_bar.h"

#include <QScrollBar>
#include <algorithm>

#include "platform/gui/messages.h"

namespace gui {
namespace {
constexpr const char* kMin = "qv_nMin";
constexpr const char* kMax = "qv_nMax";
constexpr const char* kPage = "qv_nPage";
}  // namespace

int QtMaximum(const TScrollInfo& info) {
  int last = info.nPage > 0 ? info.nMax - info.nPage + 1 : info.nMax;
  return std::max(last, info.nMin);
}

bool ScrollBarNeeded(const TScrollInfo& info) { return QtMaximum(info) > info.nMin; }

void SetScrollInfo(QScrollBar* bar, const TScrollInfo& info) {
  if (!bar) return;
  bar->setProperty(kMin, info.nMin);
  bar->setProperty(kMax, info.nMax);
  bar->setProperty(kPage, info.nPage);
  bar->setRange(info.nMin, QtMaximum(info));
  bar->setPageStep(std::max(info.nPage, 1));
  bar->setSingleStep(1);
  bar->setValue(std::clamp(info.nPos, info.nMin, QtMaximum(info)));
}

TScrollInfo GetScrollInfo(const QScrollBar* bar) {
  TScrollInfo info;
  if (!bar) return info;
  info.nMin = bar->property(kMin).isValid() ? bar->property(kMin).toInt() : bar->minimum();
  info.nMax = bar->property(kMax).isValid() ? bar->property(kMax).toInt() : bar->maximum();
  info.nPage = bar->property(kPage).isValid() ? bar->property(kPage).toInt() : 0;
  info.nPos = bar->value();
  return info;
}

void SetScrollPos(QScrollBar* bar, int pos) {
  if (!bar) return;
  bar->setValue(std::clamp(pos, bar->minimum(), bar->maximum()));
}

int ScrollCommand(QAbstractSlider::SliderAction action) {
  switch (action) {
    case QAbstractSlider::SliderSingleStepSub: return SB_LINEUP;
    case QAbstractSlider::SliderSingleStepAdd: return SB_LINEDOWN;
    case QAbstractSlider::SliderPageStepSub: return SB_PAGEUP;
    case QAbstractSlider::SliderPageStepAdd: return SB_PAGEDOWN;
    case QAbstractSlider::SliderMove: return SB_THUMBTRACK;
    case QAbstractSlider::SliderToMinimum: return SB_TOP;
    case QAbstractSlider::SliderToMaximum: return SB_BOTTOM;
    default: return -1;
  }
}

}  // namespace gui
