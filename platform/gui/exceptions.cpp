#include "platform/gui/exceptions.h"

#include <QApplication>
#include <QMessageBox>
#include <QtGlobal>

#include "platform/gui/text.h"

namespace gui {
namespace {

TExceptionHandler& Handler() {
  static TExceptionHandler handler;
  return handler;
}

}  // namespace

void SetExceptionHandler(TExceptionHandler handler) { Handler() = std::move(handler); }

void ShowException(const std::exception& e) {
  const std::string message = e.what();
  if (Handler()) {
    Handler()(message);
    return;
  }
  const QString text = ToQString(message);
  if (qobject_cast<QApplication*>(QCoreApplication::instance()) &&
      QGuiApplication::platformName() != QLatin1String("offscreen"))
    QMessageBox::warning(QApplication::activeWindow(), QApplication::applicationName(), text);
  else
    qWarning("%s", qPrintable(text));
}

}  // namespace gui
