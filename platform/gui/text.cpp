#include "platform/gui/text.h"

#include <QByteArray>
#include <QFile>

#include "platform/runtime/cp1252.h"

namespace gui {

QString ToQString(std::string_view cp1252) { return QString::fromStdString(rtl::Cp1252ToUtf8(cp1252)); }

std::string ToCp1252(const QString& text) { return rtl::Utf8ToCp1252(text.toStdString()); }

QString PathToQString(std::string_view path) {
  return QFile::decodeName(QByteArray(path.data(), static_cast<qsizetype>(path.size())));
}

std::string PathFromQString(const QString& path) { return QFile::encodeName(path).toStdString(); }

}  // namespace gui
