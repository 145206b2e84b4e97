#include "tables/lib/expconvert.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "platform/runtime/dates.h"
#include "platform/runtime/format_settings.h"
#include "platform/runtime/sysutils.h"
#include "tables/lib/fieldtypes.h"
#include "tables/lib/numeric.h"
#include "tables/lib/text_values.h"

namespace korvex {
namespace {

template <typename T>
T Read(const std::uint8_t* buffer) {
  T value;
  std::memcpy(&value, buffer, sizeof value);
  return value;
}

template <typename T>
void Write(std::uint8_t* buffer, T value) {
  std::memcpy(buffer, &value, sizeof value);
}

// ---- date and time texts -------------------------------------------------------

std::string Padded(int value, int width) {
  std::string text = std::to_string(value);
  if (static_cast<int>(text.size()) < width) text.insert(0, static_cast<std::size_t>(width) - text.size(), '0');
  return text;
}

int RunLength(std::string_view format, std::size_t pos) {
  char c = static_cast<char>(std::tolower(static_cast<unsigned char>(format[pos])));
  int n = 0;
  while (pos + n < format.size() && std::tolower(static_cast<unsigned char>(format[pos + n])) == c) ++n;
  return n;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && rtl::SameText(text.substr(0, prefix.size()), prefix);
}

// The format codes of the class library's date formatting: d dd ddd dddd,
// m mm mmm mmmm (minutes right after an hour), yy yyyy, h hh, n nn, s ss,
// z zzz, am/pm a/p ampm, '/' and ':' for the separators, quoted literals.
std::string FormatDateTimeText(std::string_view format, rtl::TDateTime value, const TLanguageSettings& settings) {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, msec = 0;
  rtl::DecodeDate(value, year, month, day);
  rtl::DecodeTime(value, hour, minute, second, msec);
  bool twelve_hour = false;
  for (std::size_t i = 0; i < format.size(); ++i)
    if (StartsWithNoCase(format.substr(i), "am/pm") || StartsWithNoCase(format.substr(i), "a/p") ||
        StartsWithNoCase(format.substr(i), "ampm"))
      twelve_hour = true;

  std::string out;
  bool after_hour = false;
  std::size_t pos = 0;
  while (pos < format.size()) {
    char c = format[pos];
    char lower = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    int run = RunLength(format, pos);
    std::string_view rest = format.substr(pos);
    if (c == '\'' || c == '"') {
      std::size_t end = format.find(c, pos + 1);
      if (end == std::string_view::npos) end = format.size();
      out.append(format.substr(pos + 1, end - pos - 1));
      pos = std::min(end + 1, format.size());
      continue;
    }
    if (StartsWithNoCase(rest, "am/pm")) {
      bool upper = std::isupper(static_cast<unsigned char>(c)) != 0;
      out += hour < 12 ? (upper ? "AM" : "am") : (upper ? "PM" : "pm");
      pos += 5;
      continue;
    }
    if (StartsWithNoCase(rest, "a/p")) {
      out += hour < 12 ? (std::isupper(static_cast<unsigned char>(c)) ? "A" : "a")
                       : (std::isupper(static_cast<unsigned char>(c)) ? "P" : "p");
      pos += 3;
      continue;
    }
    if (StartsWithNoCase(rest, "ampm")) {
      out += hour < 12 ? settings.TimeAMString : settings.TimePMString;
      pos += 4;
      continue;
    }
    if (lower == 'y' || lower == 'd' || lower == 'n' || lower == 's' || lower == 'z') after_hour = false;
    switch (lower) {
      case 'y':
        out += run <= 2 ? Padded(year % 100, 2) : Padded(year, 4);
        break;
      case 'm':
        if (after_hour) {
          out += run == 1 ? std::to_string(minute) : Padded(minute, 2);
          run = std::min(run, 2);
          after_hour = false;
          pos += static_cast<std::size_t>(run);
          continue;
        }
        if (run == 1) out += std::to_string(month);
        else if (run == 2) out += Padded(month, 2);
        else if (run == 3) out += settings.ShortMonthNames[static_cast<std::size_t>(month - 1)];
        else out += settings.LongMonthNames[static_cast<std::size_t>(month - 1)];
        run = std::min(run, 4);
        break;
      case 'd': {
        int weekday = rtl::DayOfWeek(value) - 1;
        if (run == 1) out += std::to_string(day);
        else if (run == 2) out += Padded(day, 2);
        else if (run == 3) out += settings.ShortDayNames[static_cast<std::size_t>(weekday)];
        else out += settings.LongDayNames[static_cast<std::size_t>(weekday)];
        run = std::min(run, 4);
        break;
      }
      case 'h': {
        int shown = hour;
        if (twelve_hour) shown = hour % 12 == 0 ? 12 : hour % 12;
        out += run == 1 ? std::to_string(shown) : Padded(shown, 2);
        run = std::min(run, 2);
        pos += static_cast<std::size_t>(run);
        after_hour = true;
        continue;
      }
      case 'n':
        out += run == 1 ? std::to_string(minute) : Padded(minute, 2);
        run = std::min(run, 2);
        break;
      case 's':
        out += run == 1 ? std::to_string(second) : Padded(second, 2);
        run = std::min(run, 2);
        break;
      case 'z':
        out += run < 3 ? std::to_string(msec) : Padded(msec, 3);
        run = std::min(run, 3);
        break;
      case '/':
        out += settings.DateSeparator;
        run = 1;
        break;
      case ':':
        out += settings.TimeSeparator;
        run = 1;
        break;
      default:
        out += c;
        run = 1;
        break;
    }
    pos += static_cast<std::size_t>(run);
  }
  return out;
}

rtl::TDateTime DayToDateTime(std::int32_t day) { return rtl::TimeStampToDateTime(rtl::TTimeStamp{0, day}); }

// A Currency written as the class library does: no trailing zeros.
std::string CurrencyText(Currency value, char decimal_separator) {
  std::int64_t scaled = value.scaled;
  bool negative = scaled < 0;
  std::uint64_t magnitude = negative ? 0 - static_cast<std::uint64_t>(scaled) : static_cast<std::uint64_t>(scaled);
  std::string text = (negative ? "-" : "") + std::to_string(magnitude / 10000);
  std::string fraction = Padded(static_cast<int>(magnitude % 10000), 4);
  while (!fraction.empty() && fraction.back() == '0') fraction.pop_back();
  if (!fraction.empty()) text += decimal_separator + fraction;
  return text;
}

// ---- conversion steps -------------------------------------------------------------

void IntegralRange(std::uint8_t type, std::int64_t& low, std::int64_t& high) {
  switch (type) {
    case dtSmallInt: low = std::numeric_limits<std::int16_t>::min(), high = std::numeric_limits<std::int16_t>::max(); break;
    case dtWord: low = 0, high = std::numeric_limits<std::uint16_t>::max(); break;
    default: low = std::numeric_limits<std::int32_t>::min(), high = std::numeric_limits<std::int32_t>::max(); break;
  }
}

bool WriteIntegral(std::uint8_t type, std::int64_t value, std::uint8_t* buffer) {
  std::int64_t low, high;
  IntegralRange(type, low, high);
  if (value < low || value > high) return false;
  if (type == dtSmallInt) Write(buffer, static_cast<std::int16_t>(value));
  else if (type == dtWord) Write(buffer, static_cast<std::uint16_t>(value));
  else Write(buffer, static_cast<std::int32_t>(value));
  return true;
}

std::int64_t ReadIntegral(std::uint8_t type, const std::uint8_t* buffer) {
  switch (type) {
    case dtSmallInt: return Read<std::int16_t>(buffer);
    case dtWord: case dtBoolean: return Read<std::uint16_t>(buffer);
    default: return Read<std::int32_t>(buffer);
  }
}

bool WriteBCD(Currency value, std::uint8_t scale, std::uint8_t* buffer) {
  auto stored = CurrToComp(value, scale);
  if (!stored) return false;
  Write(buffer, *stored);
  return true;
}

// The text cut to the target size - 1 characters and terminated; false when
// it had to be cut.
bool WriteText(std::string_view text, std::uint8_t to_size, std::uint8_t* buffer) {
  std::size_t room = to_size > 0 ? to_size - 1u : 0u;
  room = std::min<std::size_t>(room, kConvertBufferSize - 1);
  std::size_t n = std::min(text.size(), room);
  std::memcpy(buffer, text.data(), n);
  buffer[n] = 0;
  return n == text.size();
}

// The first `size` bytes of the value, at most the target size; the rest of
// the target stays zero.
bool WriteBytes(const std::uint8_t* value, std::size_t size, std::uint8_t to_size, std::uint8_t* buffer) {
  std::size_t n = std::min<std::size_t>({size, to_size, static_cast<std::size_t>(kConvertBufferSize)});
  std::memcpy(buffer, value, n);
  return true;
}

std::size_t NaturalSize(std::uint8_t type, std::uint8_t size) {
  switch (type) {
    case dtBoolean: case dtSmallInt: case dtWord: return 2;
    case dtDate: case dtInteger: case dtTime: return 4;
    case dtFloat: case dtBCD: case dtTimeStamp: return 8;
    default: return size;
  }
}

bool ParseDateTime(std::string_view text, std::uint8_t type, const TLanguageSettings& settings,
                   std::uint8_t* buffer) {
  rtl::TDateTime value = 0;
  switch (type) {
    case dtDate:
      if (!TryTextToDate(text, settings, value)) return false;
      Write(buffer, rtl::DateTimeToTimeStamp(value).Date);
      return true;
    case dtTime:
      if (!TryTextToTime(text, settings, value)) return false;
      Write(buffer, rtl::DateTimeToTimeStamp(value).Time);
      return true;
    default:
      if (!TryTextToDateTime(text, settings, value)) return false;
      Write(buffer, rtl::TimeStampToMSecs(rtl::DateTimeToTimeStamp(value)));
      return true;
  }
}

bool FromString(std::string_view text, std::uint8_t to_type, std::uint8_t to_scale, std::uint8_t* buffer) {
  TLanguageSettings settings;
  GetLanguageSettings(settings);
  switch (to_type) {
    case dtDate: case dtTime: case dtTimeStamp:
      return ParseDateTime(text, to_type, settings, buffer);
    case dtBoolean: {
      bool value = false;
      if (!TryStrToBool(text, value)) return false;
      Write<std::uint16_t>(buffer, value ? 1 : 0);
      return true;
    }
    case dtSmallInt: case dtInteger: case dtWord: {
      std::int64_t value = 0;
      return rtl::TryStrToInt64(text, value) && WriteIntegral(to_type, value, buffer);
    }
    case dtFloat: {
      double value = 0;
      if (!TryTextToFloat(text, settings, value)) return false;
      Write(buffer, value);
      return true;
    }
    case dtBCD: {
      Currency value;
      return TryTextToCurrency(text, settings, value) && WriteBCD(value, to_scale, buffer);
    }
    default:
      return false;
  }
}

}  // namespace

bool RoundToInteger(double value, std::int64_t low, std::int64_t high, std::int64_t& result) {
  // Doubles beyond +-2^63 do not convert; 2^63 itself is the first refused.
  if (!std::isfinite(value) || std::fabs(value) >= 9223372036854775808.0) return false;
  double rounded = std::nearbyint(value);
  if (rounded < static_cast<double>(low) || rounded > static_cast<double>(high)) return false;
  auto integer = static_cast<std::int64_t>(rounded);
  if (integer < low || integer > high) return false;
  result = integer;
  return true;
}

std::int64_t RoundCurrencyToInteger(Currency value) {
  std::int64_t q = value.scaled / 10000, r = value.scaled % 10000;
  std::int64_t twice = 2 * (r < 0 ? -r : r);
  if (twice > 10000 || (twice == 10000 && q % 2 != 0)) q += value.scaled < 0 ? -1 : 1;
  return q;
}

rtl::TTimeStamp TimeStampParts(double milliseconds) {
  // Whole milliseconds, kept where a day number still fits 32 bits.
  constexpr double kLimit = 2147483647.0 * kMSecsPerDay;
  if (!std::isfinite(milliseconds)) milliseconds = 0;
  milliseconds = std::clamp(milliseconds, -kLimit, kLimit);
  auto total = static_cast<std::int64_t>(milliseconds);
  constexpr std::int64_t kDay = 86400000;
  return rtl::TTimeStamp{static_cast<std::int32_t>(total % kDay), static_cast<std::int32_t>(total / kDay)};
}

std::string DateText(std::int32_t day, const TLanguageSettings& settings) {
  return FormatDateTimeText(settings.ShortDateFormat, DayToDateTime(day), settings);
}

std::string TimeText(std::int32_t milliseconds, const TLanguageSettings& settings) {
  return FormatDateTimeText(settings.LongTimeFormat, rtl::TimeStampToDateTime(rtl::TTimeStamp{milliseconds, 0}),
                            settings);
}

std::string TimeStampText(double milliseconds, const TLanguageSettings& settings) {
  rtl::TTimeStamp stamp = TimeStampParts(milliseconds);
  std::string text = DateText(stamp.Date, settings);
  if (stamp.Time != 0) text += " " + TimeText(stamp.Time, settings);
  return text;
}

bool ConvertStringToDateTime(std::uint8_t* buffer, std::uint8_t data_type) {
  if (data_type != dtDate && data_type != dtTime && data_type != dtTimeStamp) return true;
  std::uint8_t value[8] = {};
  const char* text = reinterpret_cast<const char*>(buffer);
  TLanguageSettings settings;
  GetLanguageSettings(settings);
  if (!ParseDateTime(std::string_view(text, strnlen(text, kConvertBufferSize)), data_type, settings, value))
    return false;
  std::memcpy(buffer, value, data_type == dtTimeStamp ? 8 : 4);
  return true;
}

bool ConvertExpression(std::uint8_t from_type, std::uint8_t from_size, std::uint8_t from_scale,
                       std::uint8_t to_type, std::uint8_t to_size, std::uint8_t to_scale,
                       std::uint8_t* buffer) {
  (void)from_scale;  // the stored BCD form carries its own decimals
  // The source value, taken before the target is cleared.
  std::uint8_t source[kConvertBufferSize + 1] = {};
  std::memcpy(source, buffer, kConvertBufferSize);
  std::memset(buffer, 0, kConvertBufferSize);
  const std::size_t source_size = std::min<std::size_t>(NaturalSize(from_type, from_size), kConvertBufferSize);
  const char* source_text = reinterpret_cast<const char*>(source);
  std::string_view text(source_text, strnlen(source_text, std::min<std::size_t>(from_size, kConvertBufferSize)));

  auto fail = [buffer] {
    std::memset(buffer, 0, kConvertBufferSize);
    return false;
  };
  auto done = [&](bool ok) { return ok ? true : fail(); };

  if (IsBytesType(to_type)) {
    // Any value goes to bytes as the bytes it is stored as.
    return WriteBytes(source, from_type == dtString ? from_size : source_size, to_size, buffer);
  }

  if (from_type == to_type) {
    switch (from_type) {
      case dtString:
        return WriteText(text, to_size, buffer);  // a cut text stays cut, and answers false
      case dtBCD: {
        // Re-stored at the target's decimals, so that the target field's
        // values share one scale (their keys compare as numbers).
        auto value = CompToCurr(Read<std::int64_t>(source));
        return done(value && WriteBCD(*value, to_scale, buffer));
      }
      default:
        std::memcpy(buffer, source, source_size);
        return true;
    }
  }

  TLanguageSettings settings;
  switch (from_type) {
    case dtString:
      return done(FromString(text, to_type, to_scale, buffer));

    case dtDate: {
      std::int32_t day = Read<std::int32_t>(source);
      if (to_type == dtString) {
        GetLanguageSettings(settings);
        return WriteText(DateText(day, settings), to_size, buffer);
      }
      if (to_type == dtTimeStamp) {
        Write(buffer, day * kMSecsPerDay);
        return true;
      }
      return fail();
    }

    case dtBoolean: {
      bool value = Read<std::uint16_t>(source) != 0;
      if (to_type == dtString) return WriteText(BoolToStr(value), to_size, buffer);
      if (IsIntegralType(to_type)) return done(WriteIntegral(to_type, value ? 1 : 0, buffer));
      if (to_type == dtBCD) return done(WriteBCD(Currency::FromScaled(value ? Currency::kScale : 0), to_scale, buffer));
      return fail();
    }

    case dtSmallInt: case dtInteger: case dtWord: {
      std::int64_t value = ReadIntegral(from_type, source);
      switch (to_type) {
        case dtString: return WriteText(std::to_string(value), to_size, buffer);
        case dtBoolean: Write<std::uint16_t>(buffer, value != 0 ? 1 : 0); return true;
        case dtSmallInt: case dtInteger: case dtWord: return done(WriteIntegral(to_type, value, buffer));
        case dtFloat: Write(buffer, static_cast<double>(value)); return true;
        case dtBCD: return done(WriteBCD(Currency::FromScaled(value * Currency::kScale), to_scale, buffer));
        default: return fail();
      }
    }

    case dtFloat: {
      double value = Read<double>(source);
      switch (to_type) {
        case dtString: return WriteText(rtl::FloatToStr(value), to_size, buffer);
        case dtSmallInt: case dtInteger: case dtWord: {
          std::int64_t low, high, rounded = 0;
          IntegralRange(to_type, low, high);
          return done(RoundToInteger(value, low, high, rounded) && WriteIntegral(to_type, rounded, buffer));
        }
        case dtBCD: {
          auto currency = Currency::FromDouble(value);
          return done(currency && WriteBCD(*currency, to_scale, buffer));
        }
        default: return fail();
      }
    }

    case dtBCD: {
      auto value = CompToCurr(Read<std::int64_t>(source));
      if (!value) return fail();
      switch (to_type) {
        case dtString: return WriteText(CurrencyText(*value, rtl::FormatSettings().DecimalSeparator), to_size, buffer);
        case dtSmallInt: case dtInteger: case dtWord: return done(WriteIntegral(to_type, RoundCurrencyToInteger(*value), buffer));
        case dtFloat: Write(buffer, value->ToDouble()); return true;
        default: return fail();
      }
    }

    case dtTime: {
      std::int32_t ms = Read<std::int32_t>(source);
      if (to_type == dtString) {
        GetLanguageSettings(settings);
        return WriteText(TimeText(ms, settings), to_size, buffer);
      }
      if (to_type == dtTimeStamp) {
        Write(buffer, static_cast<double>(ms));
        return true;
      }
      return fail();
    }

    case dtTimeStamp: {
      double ms = Read<double>(source);
      if (!std::isfinite(ms)) return fail();
      rtl::TTimeStamp stamp = TimeStampParts(ms);
      switch (to_type) {
        case dtString:
          GetLanguageSettings(settings);
          return WriteText(TimeStampText(ms, settings), to_size, buffer);
        case dtDate: Write(buffer, stamp.Date); return true;
        case dtTime: Write(buffer, stamp.Time); return true;
        default: return fail();
      }
    }

    default:
      return fail();
  }
}

}  // namespace korvex
