#include "app/user_prompts.h"

#include <QApplication>
#include <QDesktopServices>
#include <QProcess>
#include <QStandardPaths>
#include <QDialog>
#include <QFileDialog>
#include <QFontDialog>
#include <QMessageBox>
#include <QStringList>
#include <QUrl>

#include "platform/gui/cursors.h"
#include "platform/gui/text.h"

namespace app {
QString QtFilter(const char* filter) {
  const QStringList parts = QString::fromLatin1(filter).split('|');
  QStringList out;
  for (int i = 0; i + 1 < parts.size(); i += 2) {
    QString pattern = parts[i + 1];
    if (pattern == "*.*") pattern = "*";
    out << parts[i] + " (" + pattern + ")";
  }
  return out.join(";;");
}

void TUserPrompts::ShowMessageText(const QString& text) { ShowMessage(gui::ToCp1252(text)); }

void TQtPrompts::ShowMessage(const std::string& text) { ShowMessageText(gui::ToQString(text)); }

void TQtPrompts::ShowMessageText(const QString& text) {
  QMessageBox::information(parent_, QApplication::applicationName(), text);
}

TAnswer TQtPrompts::AskYesNoCancel(const std::string& text) {
  const auto button = QMessageBox::question(parent_, "Confirm", gui::ToQString(text),
                                            QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel,
                                            QMessageBox::Cancel);
  if (button == QMessageBox::Yes) return TAnswer::kYes;
  if (button == QMessageBox::No) return TAnswer::kNo;
  return TAnswer::kCancel;
}

bool TQtPrompts::SelectDirectory(std::string& dir) {
  const QString chosen = QFileDialog::getExistingDirectory(parent_, "Select Directory", gui::PathToQString(dir));
  if (chosen.isEmpty()) return false;
  dir = gui::PathFromQString(chosen);
  return true;
}

std::optional<std::string> TQtPrompts::SaveFileName(const forms::TFileDialogDef& settings, const std::string& dir,
                                                    const std::string& name) {
  QFileDialog dialog(parent_, "Save As", gui::PathToQString(dir), QtFilter(settings.filter));
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setDefaultSuffix(QString::fromLatin1(settings.default_ext));
  if (!settings.overwrite_prompt) dialog.setOption(QFileDialog::DontConfirmOverwrite);
  if (!name.empty()) dialog.selectFile(gui::PathToQString(name));
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  return gui::PathFromQString(dialog.selectedFiles().front());
}

std::optional<std::string> TQtPrompts::OpenFileName(const forms::TFileDialogDef& settings, const std::string& dir) {
  QFileDialog dialog(parent_, "Open", gui::PathToQString(dir), QtFilter(settings.filter));
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(QFileDialog::ExistingFile);
  dialog.setDefaultSuffix(QString::fromLatin1(settings.default_ext));
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  return gui::PathFromQString(dialog.selectedFiles().front());
}

bool TQtPrompts::ChooseFont(memo::TMemoFont& font) {
  QFont start(gui::ToQString(font.Name));
  start.setPointSize(font.Size > 0 ? font.Size : 10);
  start.setBold(font.Style & memo::fsBold);
  start.setItalic(font.Style & memo::fsItalic);
  start.setUnderline(font.Style & memo::fsUnderline);
  start.setStrikeOut(font.Style & memo::fsStrikeOut);
  bool ok = false;
  const QFont chosen = QFontDialog::getFont(&ok, start, parent_, "Font");
  if (!ok) return false;
  font.Name = gui::ToCp1252(chosen.family());
  font.Size = chosen.pointSize() > 0 ? chosen.pointSize() : font.Size;
  font.Height = -(font.Size * 96 + 36) / 72;  // pixels at 96 dpi
  font.Style = (chosen.bold() ? memo::fsBold : 0) | (chosen.italic() ? memo::fsItalic : 0) |
               (chosen.underline() ? memo::fsUnderline : 0) | (chosen.strikeOut() ? memo::fsStrikeOut : 0);
  return true;
}

void TQtPrompts::Beep() { QApplication::beep(); }

int TQtPrompts::ShowModal(QDialog& form) {
  return form.exec();
}

void TQtPrompts::SetHourglass(bool on) { gui::SetScreenCursor(on ? gui::crHourGlass : gui::crDefault); }

namespace {

// Whether the desktop has a program that shows an HTML page: a browser of
// the user's ($BROWSER), the system's (x-www-browser), or an application
// the desktop's opener knows for text/html. Without one, xdg-open starts
// and fails where nobody sees it, and Qt says yes.
bool HtmlViewerAvailable() {
  if (!qEnvironmentVariableIsEmpty("BROWSER") || !QStandardPaths::findExecutable("x-www-browser").isEmpty()) return true;
  if (QStandardPaths::findExecutable("xdg-open").isEmpty()) return false;
  QProcess query;
  query.start("xdg-mime", {"query", "default", "text/html"});
  if (!query.waitForFinished(3000)) return true;  // cannot tell: let the desktop try
  return !query.readAllStandardOutput().trimmed().isEmpty();
}

}  // namespace

bool TQtPrompts::OpenUrl(const QUrl& url) {
  if (url.isLocalFile() && url.fileName().endsWith(".html") && !HtmlViewerAvailable()) return false;
  return QDesktopServices::openUrl(url);
}

}  // namespace app
