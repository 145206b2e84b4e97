#include "platform/gui/clipboard.h"

#include <QClipboard>
#include <cctype>
#include <QGuiApplication>
#include <QMimeData>
#include <map>
#include <mutex>

#include "platform/gui/text.h"
#include "platform/runtime/cp1252.h"
#include "platform/runtime/sysutils.h"

namespace gui {
namespace {

constexpr const char* kTextMime = "text/plain";
constexpr const char* kBytesMime = "application/x-quorvane-cp1252";

std::mutex g_formats_lock;
std::map<std::string, unsigned>& Formats() {
  static std::map<std::string, unsigned> formats;
  return formats;
}

std::string UpperName(const std::string& name) { return rtl::AnsiUpperCase(name); }

// CR LF and lone CR become LF.
QString ToQtText(const std::string& bytes) {
  std::string lf;
  lf.reserve(bytes.size());
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    char c = bytes[i];
    if (c == '\r') {
      lf.push_back('\n');
      if (i + 1 < bytes.size() && bytes[i + 1] == '\n') ++i;
    } else {
      lf.push_back(c);
    }
  }
  return ToQString(lf);
}

// Lone LFs become CR LF.
std::string FromQtText(const QString& text) {
  std::string bytes = ToCp1252(text);
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 16);
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] == '\n' && (i == 0 || bytes[i - 1] != '\r')) out.push_back('\r');
    out.push_back(bytes[i]);
  }
  return out;
}

const QMimeData* Data() {
  QClipboard* cb = QGuiApplication::clipboard();
  return cb ? cb->mimeData() : nullptr;
}

}  // namespace

unsigned RegisterClipboardFormat(const std::string& name) {
  if (name.empty()) return 0;
  std::lock_guard<std::mutex> lock(g_formats_lock);
  auto& formats = Formats();
  auto it = formats.find(UpperName(name));
  if (it != formats.end()) return it->second;
  unsigned number = 0xC000 + static_cast<unsigned>(formats.size());  // Win32 numbers them from 0xC000
  formats.emplace(UpperName(name), number);
  return number;
}

std::string ClipboardFormatMime(unsigned format) {
  std::lock_guard<std::mutex> lock(g_formats_lock);
  for (const auto& [name, number] : Formats()) {
    if (number != format) continue;
    std::string mime = "application/x-quorvane-";
    for (char c : name) mime.push_back(std::isalnum(static_cast<unsigned char>(c)) ? static_cast<char>(std::tolower(static_cast<unsigned char>(c))) : '-');
    return mime;
  }
  return std::string();
}

bool TClipboard::HasText() const {
  const QMimeData* d = Data();
  return d && (d->hasFormat(kBytesMime) || d->hasText());
}

bool TClipboard::HasFormat(unsigned format) const {
  const QMimeData* d = Data();
  std::string mime = ClipboardFormatMime(format);
  return d && !mime.empty() && d->hasFormat(QString::fromStdString(mime));
}

std::string TClipboard::GetText() const {
  const QMimeData* d = Data();
  if (!d) return std::string();
  if (d->hasFormat(kBytesMime)) {
    QByteArray bytes = d->data(kBytesMime);
    return std::string(bytes.constData(), bytes.size());
  }
  return d->hasText() ? FromQtText(d->text()) : std::string();
}

std::string TClipboard::GetFormat(unsigned format) const {
  const QMimeData* d = Data();
  std::string mime = ClipboardFormatMime(format);
  if (!d || mime.empty()) return std::string();
  QByteArray bytes = d->data(QString::fromStdString(mime));
  return std::string(bytes.constData(), bytes.size());
}

void TClipboard::SetText(const std::string& text) { SetTextWithFormat(text, 0, std::string()); }

void TClipboard::SetTextWithFormat(const std::string& text, unsigned format, const std::string& block) {
  QClipboard* cb = QGuiApplication::clipboard();
  if (!cb) return;
  auto* data = new QMimeData;
  data->setText(ToQtText(text));
  data->setData(kBytesMime, QByteArray(text.data(), static_cast<qsizetype>(text.size())));
  std::string mime = ClipboardFormatMime(format);
  if (!mime.empty())
    data->setData(QString::fromStdString(mime), QByteArray(block.data(), static_cast<qsizetype>(block.size())));
  cb->setMimeData(data);
}

void TClipboard::Clear() {
  if (QClipboard* cb = QGuiApplication::clipboard()) cb->clear();
}

TClipboard& Clipboard() {
  static TClipboard clipboard;
  return clipboard;
}

}  // namespace gui
