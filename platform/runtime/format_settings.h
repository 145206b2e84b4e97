// Process-wide formatting settings (the separators numbers, dates and times
// are written with). Defaults are '.', ',', '/' and ':'; tests replace them
// through SetFormatSettings and restore them with a FormatSettingsScope.
#pragma once

#include <string>

namespace rtl {

struct TFormatSettings {
  char DecimalSeparator = '.';
  char ThousandSeparator = ',';
  char DateSeparator = '/';
  char TimeSeparator = ':';
  std::string ShortDateFormat = "m/d/yyyy";
  std::string LongTimeFormat = "h:nn:ss";
};

const TFormatSettings& FormatSettings();
void SetFormatSettings(const TFormatSettings& settings);

// Restores the settings in force at construction when it goes out of scope.
class FormatSettingsScope {
public:
  FormatSettingsScope() : saved_(FormatSettings()) {}
  ~FormatSettingsScope() { SetFormatSettings(saved_); }
  FormatSettingsScope(const FormatSettingsScope&) = delete;
  FormatSettingsScope& operator=(const FormatSettingsScope&) = delete;

private:
  TFormatSettings saved_;
};

}  // namespace rtl
