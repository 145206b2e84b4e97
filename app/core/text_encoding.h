// How a register or page file's bytes are read as text.
//
// Text in the program is Windows-1252. A file is read as UTF-8 when its
// bytes are well-formed UTF-8 (no overlong forms, no surrogates, nothing
// past U+10FFFF) and hold at least one sequence of two or more bytes; a
// leading byte-order mark (EF BB BF) is then dropped from the text and
// kept in mind. Every other file (plain ASCII included) is Windows-1252 as
// it stands. A file whose lines are of both forms (some well-formed UTF-8
// with multi-byte sequences, some not) is "mixed": each of its lines is read
// in its own form, and the file is named with the first line of each. A
// UTF-8 file is shown in Windows-1252 only when every one of its characters
// has a Windows-1252 byte; otherwise it is named and not read, never shown
// with characters replaced.
//
// Written back, a UTF-8 file's text is encoded to UTF-8 again (with its
// byte-order mark when it had one): characters that were not edited come
// back as the same bytes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace appcore {

// How a file's text is written as bytes.
struct TextForm {
  bool utf8 = false;
  bool bom = false;  // UTF-8 with a leading byte-order mark
  // The last line ends with a line end (written back as CR LF); a page read
  // from such a file keeps it when saved.
  bool final_line_end = false;
  // Lines of both forms, each read in its own (never written back so).
  bool mixed = false;
  bool operator==(const TextForm&) const = default;
};

// "UTF-8" or "Windows-1252", as the file list shows it.
const char* FormName(const TextForm& form);

// Where the first line of each form stands in a mixed file (1-based, as
// an editor counts lines, the title being line 1).
struct MixedLines {
  int64_t utf8 = 0;
  int64_t cp1252 = 0;
};

// What the bytes are, by the rule above; mixed, when given, receives the
// first lines of a mixed file.
TextForm DetectForm(std::string_view bytes, MixedLines* mixed = nullptr);
// The same for a file read as lines (line ends are never part of a UTF-8
// sequence); the byte-order mark stands at the start of the first line.
TextForm DetectLinesForm(const std::vector<std::string>& lines);

// The text of bytes in form: UTF-8 decoded (byte-order mark dropped) into
// out, a mixed file's UTF-8 lines alone. False when a character has no
// Windows-1252 byte; *unshowable then holds the first such character as
// UTF-8 and *line (when given) its line, counted as MixedLines counts.
bool DecodeText(std::string_view bytes, const TextForm& form, std::string& out, std::string* unshowable = nullptr,
                int64_t* line = nullptr);

// text (Windows-1252) as bytes of form (its final line end not added).
std::string EncodeText(std::string_view text, const TextForm& form);

// The message naming a file whose characters cannot be shown: the first
// of them by its code point ("U+0395") and, when known (above 0), its line.
std::string UnshowableMessage(std::string_view file_text_name, std::string_view unshowable, int64_t line = 0);
// What is said of the first character Windows-1252 lacks, without the
// character itself (Windows-1252 text cannot hold it; the window puts it
// in front): " (U+0395) on line 3 has no Windows-1252 byte".
std::string UnshowableWhere(std::string_view unshowable, int64_t line);
// The note on a mixed file: "mixes UTF-8 (line 1) and Windows-1252 (line
// 2): each line is read in its own form".
std::string MixedNote(const MixedLines& lines);

}  // namespace appcore
