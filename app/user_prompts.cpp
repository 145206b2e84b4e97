#include "app/user_prompts.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QFileDialog>
#include <QMessageBox>
#include <QStringList>
#include <QUrl>

#include "platform/gui/cursors.h"
#include "platform/runtime/cp1252.h"

namespace app {
namespace {

QString Q(const std::string& cp1252) { return QString::fromStdString(rtl::Cp1252ToUtf8(cp1252)); }
std::string Bytes(const QString& text) { return rtl::Utf8ToCp1252(text.toStdString()); }

}  // namespace

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

void TQtPrompts::ShowMessage(const std::string& text) {
  QMessageBox::information(parent_, QApplication::applicationName(), Q(text));
}

TAnswer TQtPrompts::AskYesNoCancel(const std::string& text) {
  const auto button = QMessageBox::question(parent_, "Confirm", Q(text),
                                            QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel,
                                            QMessageBox::Cancel);
  if (button == QMessageBox::Yes) return TAnswer::kYes;
  if (button == QMessageBox::No) return TAnswer::kNo;
  return TAnswer::kCancel;
}

bool TQtPrompts::SelectDirectory(std::string& dir) {
  const QString chosen = QFileDialog::getExistingDirectory(parent_, "Select Directory", Q(dir));
  if (chosen.isEmpty()) return false;
  dir = Bytes(chosen);
  return true;
}

std::optional<std::string> TQtPrompts::SaveFileName(const forms::TFileDialogDef& settings, const std::string& dir,
                                                    const std::string& name) {
  QFileDialog dialog(parent_, "Save As", Q(dir), QtFilter(settings.filter));
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setDefaultSuffix(QString::fromLatin1(settings.default_ext));
  if (!settings.overwrite_prompt) dialog.setOption(QFileDialog::DontConfirmOverwrite);
  if (!name.empty()) dialog.selectFile(Q(name));
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  return Bytes(dialog.selectedFiles().front());
}

int TQtPrompts::ShowModal(QDialog& form) {
  return form.exec();
}

void TQtPrompts::SetHourglass(bool on) { gui::SetScreenCursor(on ? gui::crHourGlass : gui::crDefault); }

bool TQtPrompts::OpenUrl(const QUrl& url) { return QDesktopServices::openUrl(url); }

}  // namespace app
