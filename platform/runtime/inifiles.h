// TIniFile: settings in an INI file.
//
// File format: lines separated by CR, LF or CR LF (written back with CR LF).
// "[name]" starts a section; "key=value" lines belong to the section above
// them; blanks round a section name, a key and a value are not part of
// them. Lines beginning with ';' and any other lines are kept as they are.
// Section and key names compare case-blind (AnsiCompareText); the first of
// duplicate sections or keys counts. Values are Windows-1252 bytes, stored
// and returned unchanged.
//
// Every write updates the file at once and safely (temporary file, then
// rename): a failed write raises EIniFileException and leaves the previous
// file as it was. Every read looks at the file as it stands, so two
// TIniFile objects on one file see each other's writes. A missing file
// reads as empty.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/runtime/classes.h"

namespace rtl {

class TStrings;

class TIniFile : public TObject {
public:
  explicit TIniFile(std::string file_name);
  std::string ClassName() const override { return "TIniFile"; }
  const std::string& FileName() const { return file_name_; }

  std::string ReadString(std::string_view section, std::string_view key,
                         std::string_view fallback) const;
  // Decimal or hex ("$1F", "0x1F"); the fallback when missing or not a number.
  int ReadInteger(std::string_view section, std::string_view key, int fallback) const;
  // A number other than 0 is true.
  bool ReadBool(std::string_view section, std::string_view key, bool fallback) const;
  // Creates the section and key when missing. A section name with ']', a
  // key with '=' or a key or value with a line break would corrupt the
  // file and raises EIniFileException; empty names too.
  void WriteString(std::string_view section, std::string_view key, std::string_view value);
  void WriteInteger(std::string_view section, std::string_view key, int value);
  void WriteBool(std::string_view section, std::string_view key, bool value);  // "1"/"0"

  // The keys of a section, the section names, or "key=value" entries.
  void ReadSection(std::string_view section, TStrings& keys) const;
  void ReadSections(TStrings& sections) const;
  void ReadSectionValues(std::string_view section, TStrings& values) const;
  bool SectionExists(std::string_view section) const;
  bool ValueExists(std::string_view section, std::string_view key) const;
  void EraseSection(std::string_view section);
  void DeleteKey(std::string_view section, std::string_view key);
  // Writes are immediate; kept for callers that flush explicitly.
  void UpdateFile() {}

private:
  struct Line {
    std::string text;     // as read (or as written)
    std::string name;     // section or key name, trimmed
    std::string value;    // for entries
    enum Kind { kOther, kSection, kEntry } kind = kOther;
  };
  std::vector<Line> Load(bool for_write = false) const;
  void Save(const std::vector<Line>& lines) const;
  void ListSection(std::string_view section, TStrings& list, bool with_values) const;
  // Index of the section line, or -1; end receives the index after its last line.
  static int FindSection(const std::vector<Line>& lines, std::string_view section, size_t& end);
  static int FindKey(const std::vector<Line>& lines, std::string_view section, std::string_view key);

  std::string file_name_;
};

}  // namespace rtl
