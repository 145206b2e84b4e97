#include "platform/gui/cursors.h"

#include <QGuiApplication>
#include <QPixmap>
#include <QWidget>
#include <map>

namespace gui {
namespace {

std::map<TCursor, QCursor>& Registered() {
  static std::map<TCursor, QCursor> cursors;
  return cursors;
}

TCursor g_screen = crDefault;
bool g_overriding = false;

void Override(const QCursor& shape) {
  if (g_overriding) QGuiApplication::changeOverrideCursor(shape);
  else QGuiApplication::setOverrideCursor(shape);
  g_overriding = true;
}

}  // namespace

QCursor CursorOf(TCursor cursor) {
  auto it = Registered().find(cursor);
  if (it != Registered().end()) return it->second;
  switch (cursor) {
    case crNone: return QCursor(Qt::BlankCursor);
    case crCross: return QCursor(Qt::CrossCursor);
    case crIBeam: return QCursor(Qt::IBeamCursor);
    case crSizeNESW: return QCursor(Qt::SizeBDiagCursor);
    case crSizeNS: return QCursor(Qt::SizeVerCursor);
    case crSizeNWSE: return QCursor(Qt::SizeFDiagCursor);
    case crSizeWE: return QCursor(Qt::SizeHorCursor);
    case crUpArrow: return QCursor(Qt::UpArrowCursor);
    case crHourGlass:
    case crSQLWait: return QCursor(Qt::WaitCursor);
    case crDrag:
    case crMultiDrag: return QCursor(Qt::DragMoveCursor);
    case crNoDrop:
    case crNo: return QCursor(Qt::ForbiddenCursor);
    case crHSplit: return QCursor(Qt::SplitHCursor);
    case crVSplit: return QCursor(Qt::SplitVCursor);
    case crAppStart: return QCursor(Qt::BusyCursor);
    case crHelp: return QCursor(Qt::WhatsThisCursor);
    case crHandPoint: return QCursor(Qt::PointingHandCursor);
    case crSizeAll: return QCursor(Qt::SizeAllCursor);
    default: return QCursor(Qt::ArrowCursor);
  }
}

void RegisterCursor(TCursor cursor, const QCursor& shape) { Registered()[cursor] = shape; }

QCursor LoadCursorResource(const std::string& name, int hotX, int hotY) {
  QPixmap pixmap(QString(":/cursors/%1.xpm").arg(QString::fromStdString(name)));
  if (pixmap.isNull()) return QCursor(Qt::ArrowCursor);
  return QCursor(pixmap, hotX, hotY);
}

void SetControlCursor(QWidget* widget, TCursor cursor) {
  if (widget) widget->setCursor(CursorOf(cursor));
}

void SetScreenCursor(TCursor cursor) {
  g_screen = cursor;
  if (cursor == crDefault) {
    while (QGuiApplication::overrideCursor()) QGuiApplication::restoreOverrideCursor();
    g_overriding = false;
    return;
  }
  Override(CursorOf(cursor));
}

TCursor ScreenCursor() { return g_screen; }

void SetScreenCursorShape(const QCursor& shape) {
  g_screen = 1;  // a shape without a number of its own
  Override(shape);
}

}  // namespace gui
