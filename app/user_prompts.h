// What the main window asks of the user and of the desktop, behind one
// small interface: message boxes, the Yes/No/Cancel question, the directory
// and save dialogs, modal forms, the hourglass cursor and opening a page in
// the browser. The program uses the Qt one (QtPrompts); tests install their
// own and answer the questions themselves.
//
// Texts are Windows-1252 bytes, as everywhere in the program; folders and
// file names are the file system's bytes (see gui::PathToQString).
#pragma once

#include <optional>
#include <string>

#include "forms/baptisms_form.h"
#include "memo/memo_types.h"

class QDialog;
class QString;
class QUrl;
class QWidget;

namespace app {

enum class TAnswer { kYes, kNo, kCancel };

class TUserPrompts {
public:
  virtual ~TUserPrompts() = default;
  // An information box with OK.
  virtual void ShowMessage(const std::string& text) = 0;
  // The same for a text that may hold characters Windows-1252 lacks.
  virtual void ShowMessageText(const QString& text);
  // A confirmation box with Yes, No and Cancel.
  virtual TAnswer AskYesNoCancel(const std::string& text) = 0;
  // The directory selection dialog on dir (allows creating a folder);
  // true and dir updated when confirmed.
  virtual bool SelectDirectory(std::string& dir) = 0;
  // The save dialog in dir proposing name; the chosen full path.
  virtual std::optional<std::string> SaveFileName(const forms::TFileDialogDef& settings, const std::string& dir,
                                                  const std::string& name) = 0;
  // The open dialog in dir; the chosen full path.
  virtual std::optional<std::string> OpenFileName(const forms::TFileDialogDef& settings, const std::string& dir) = 0;
  // The font dialog starting with font; true and font updated when confirmed.
  virtual bool ChooseFont(memo::TMemoFont& font) = 0;
  // The warning sound (nothing found).
  virtual void Beep() = 0;
  // Shows a form modally; its modal result (QDialog::Accepted / Rejected).
  virtual int ShowModal(QDialog& form) = 0;
  // The hourglass cursor over the whole application, or back to normal.
  virtual void SetHourglass(bool on) = 0;
  // Opens a document in the user's browser; false when it could not.
  virtual bool OpenUrl(const QUrl& url) = 0;
};

// The prompts on screen. parent is the window the boxes belong to.
class TQtPrompts : public TUserPrompts {
public:
  explicit TQtPrompts(QWidget* parent = nullptr) : parent_(parent) {}
  void SetParent(QWidget* parent) { parent_ = parent; }

  void ShowMessage(const std::string& text) override;
  void ShowMessageText(const QString& text) override;
  TAnswer AskYesNoCancel(const std::string& text) override;
  bool SelectDirectory(std::string& dir) override;
  std::optional<std::string> SaveFileName(const forms::TFileDialogDef& settings, const std::string& dir,
                                          const std::string& name) override;
  std::optional<std::string> OpenFileName(const forms::TFileDialogDef& settings, const std::string& dir) override;
  bool ChooseFont(memo::TMemoFont& font) override;
  void Beep() override;
  int ShowModal(QDialog& form) override;
  void SetHourglass(bool on) override;
  bool OpenUrl(const QUrl& url) override;

private:
  QWidget* parent_;
};

// "text|*.txt|all|*.*" as a Qt file-dialog filter ("text (*.txt);;all (*)").
QString QtFilter(const char* filter);

}  // namespace app
