// Mouse cursors by the class library's numbers: the built-in ones map to Qt
// shapes, a program registers its own (positive numbers) from images. The
// screen cursor overrides every control's cursor until it is reset to
// crDefault.
#pragma once

#include <QCursor>
#include <cstdint>
#include <string>

#include "platform/gui/base/cursors.h"

class QWidget;

namespace gui {

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
