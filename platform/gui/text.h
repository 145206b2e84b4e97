// Where text crosses into Qt and back. Quorvane's text is Windows-1252
// bytes; a QString is Unicode. File paths are not text: on Linux they are
// the file system's bytes (UTF-8 as a rule, but any bytes are allowed), so
// they cross through QFile's own encoding, never through Windows-1252.
#pragma once

#include <QString>
#include <string>
#include <string_view>

namespace gui {

// The five undefined bytes become U+FFFD.
QString ToQString(std::string_view cp1252);
// A character Windows-1252 lacks becomes '?'.
std::string ToCp1252(const QString& text);

// A path of the file system as Qt wants it (QFile::decodeName).
QString PathToQString(std::string_view path);
// The file system's bytes of a path Qt gave (QFile::encodeName).
std::string PathFromQString(const QString& path);

}  // namespace gui
