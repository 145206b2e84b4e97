// Entry routine: the application titled "Quorvane", its forms in start-up
// order (the main window, then the data-file list dialog), and the event
// loop. An exception that escapes a handler is shown and the program goes
// on.
#include <QApplication>
#include <QMessageBox>
#include <cstring>
#include <exception>

#include "app/baptisms.h"
#include "app/core/settings.h"
#include "app/data_file_dialog.h"
#include "app/user_prompts.h"
#include "platform/dataset/dataset.h"
#include "platform/gui/exceptions.h"
#include "platform/gui/text.h"
#include "platform/runtime/exceptions.h"
#include "tables/components/password/password_dialog.h"
#include "tables/components/sessions.h"

namespace {

class TQuorvaneApplication : public QApplication {
public:
  using QApplication::QApplication;
  bool notify(QObject* receiver, QEvent* event) override {
    try {
      return QApplication::notify(receiver, event);
    } catch (const rtl::Exception& e) {
      Show(gui::ToQString(e.Message()));  // messages are Windows-1252 text
    } catch (const std::exception& e) {
      Show(QString::fromUtf8(e.what()));
    }
    return false;
  }

private:
  static void Show(const QString& message) { QMessageBox::critical(nullptr, applicationName(), message); }
};

}  // namespace

int main(int argc, char** argv) {
  TQuorvaneApplication application(argc, argv);
  QApplication::setApplicationName("Quorvane");
  QApplication::setApplicationDisplayName("Quorvane");
  // A dataset that handles an exception itself shows it as any other.
  db::SetDataSetExceptionHandler([](std::exception_ptr error) {
    try {
      std::rethrow_exception(error);
    } catch (const std::exception& e) {
      gui::ShowException(e);
    }
  });

  // An enciphered table whose password the session lacks asks the user.
  korvex::InstallPasswordDialog();

  const std::string folder = appcore::SettingsFolder(QCoreApplication::applicationFilePath().toStdString());
  {
    app::TQtPrompts prompts;
    app::TBaptisms baptisms(prompts, folder);
    prompts.SetParent(&baptisms);
    app::TForm2 form2(baptisms.Ticks(), &baptisms);
    baptisms.SetDataFileDialog(&form2);

    baptisms.showMaximized();
    application.exec();
  }
  // The window's family tables are gone; the sessions stop the engine
  // while its globals still live.
  korvex::FinalizeSessions();
  return 0;
}
