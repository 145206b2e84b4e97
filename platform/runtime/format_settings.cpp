#include "platform/runtime/format_settings.h"

namespace rtl {
namespace {
TFormatSettings& Current() {
  static TFormatSettings settings;
  return settings;
}
}  // namespace

const TFormatSettings& FormatSettings() { return Current(); }
void SetFormatSettings(const TFormatSettings& settings) { Current() = settings; }

}  // namespace rtl
