// The clipboard with Windows-1252 text. Text goes out as text/plain (LF
// line ends, as Linux programs expect) and, for exact round trips between
// our own controls, as the bytes themselves under a private MIME type;
// text read from other programs has its lone LFs turned into CR LF.
// RegisterClipboardFormat gives a private format a number; its data is a
// byte block under its own MIME type.
#pragma once

#include <cstdint>
#include <string>

namespace gui {

// The number of a private format, the same for the same name (case-blind)
// for the life of the process; 0 for an empty name.
unsigned RegisterClipboardFormat(const std::string& name);
// The MIME type under which a registered format travels; empty if unknown.
std::string ClipboardFormatMime(unsigned format);

class TClipboard {
public:
  bool HasText() const;
  bool HasFormat(unsigned format) const;
  // The text as Windows-1252 bytes with CR LF line ends; empty without text.
  std::string GetText() const;
  // The bytes of a private format (empty when absent).
  std::string GetFormat(unsigned format) const;
  // Replaces the clipboard's contents by the text alone.
  void SetText(const std::string& text);
  // Replaces the clipboard's contents by the text and, under the private
  // format, `block` (format 0 adds nothing).
  void SetTextWithFormat(const std::string& text, unsigned format, const std::string& block);
  void Clear();
};

TClipboard& Clipboard();

}  // namespace gui
