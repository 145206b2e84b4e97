// Mouse cursors by the class library's numbers: the built-in ones map to Qt
// shapes, a program registers its own (positive numbers) from images. The
// screen cursor overrides every control's cursor until it is reset to
// crDefault.
#pragma once

#include <QCursor>
#include <cstdint>
#include <string>

class QWidget;

namespace gui {

using TCursor = std::int16_t;
inline constexpr TCursor crDefault = 0, crNone = -1, crArrow = -2, crCross = -3, crIBeam = -4,
                         crSizeNESW = -6, crSizeNS = -7, crSizeNWSE = -8, crSizeWE = -9, crUpArrow = -10,
                         crHourGlass = -11, crDrag = -12, crNoDrop = -13, crHSplit = -14, crVSplit = -15,
                         crMultiDrag = -16, crSQLWait = -17, crNo = -18, crAppStart = -19, crHelp = -20,
                         crHandPoint = -21, crSizeAll = -22;

QCursor CursorOf(TCursor cursor);
void RegisterCursor(TCursor cursor, const QCursor& shape);
// A cursor image from the Qt resources (":/cursors/<name>.xpm", hot spot at
// the given point); the arrow when the resource is missing.
QCursor LoadCursorResource(const std::string& name, int hotX, int hotY);

// A control's cursor.
void SetControlCursor(QWidget* widget, TCursor cursor);
// The screen cursor: anything but crDefault overrides every control.
void SetScreenCursor(TCursor cursor);
TCursor ScreenCursor();
void SetScreenCursorShape(const QCursor& shape);

}  // namespace gui
