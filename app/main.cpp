// Entry routine: starts the Qt application with the main window.
#include <QApplication>
#include <QMainWindow>

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName("Quorvane");
  QMainWindow window;
  window.setWindowTitle("Quorvane");
  window.resize(1024, 720);
  window.show();
  return app.exec();
}
