// The exception family of the runtime layer. Every exception carries a
// Windows-1252 message; what() returns the same bytes.
#pragma once

#include <exception>
#include <initializer_list>
#include <string>
#include <string_view>

namespace rtl {

class Exception : public std::exception {
public:
  explicit Exception(std::string message) : message_(std::move(message)) {}
  const std::string& Message() const { return message_; }
  void SetMessage(std::string message) { message_ = std::move(message); }
  const char* what() const noexcept override { return message_.c_str(); }

private:
  std::string message_;
};

#define QV_DECLARE_EXCEPTION(Name, Base) \
  class Name : public Base {             \
  public:                                \
    using Base::Base;                    \
  }

QV_DECLARE_EXCEPTION(ERangeError, Exception);     // index out of bounds
QV_DECLARE_EXCEPTION(EConvertError, Exception);   // text that is not a number/date
QV_DECLARE_EXCEPTION(EIntOverflow, Exception);
QV_DECLARE_EXCEPTION(EOutOfMemory, Exception);
QV_DECLARE_EXCEPTION(EAbort, Exception);          // silent cancel
QV_DECLARE_EXCEPTION(EStreamError, Exception);
QV_DECLARE_EXCEPTION(EReadError, EStreamError);   // short read
QV_DECLARE_EXCEPTION(EWriteError, EStreamError);  // short write (full disk)
QV_DECLARE_EXCEPTION(EFOpenError, EStreamError);  // file cannot be opened
QV_DECLARE_EXCEPTION(EFCreateError, EStreamError);// file cannot be created
QV_DECLARE_EXCEPTION(EStringListError, Exception);
QV_DECLARE_EXCEPTION(EInOutError, Exception);
QV_DECLARE_EXCEPTION(EComponentError, Exception); // bad or duplicate component name
QV_DECLARE_EXCEPTION(EIniFileException, Exception);// INI file cannot be written
QV_DECLARE_EXCEPTION(EDatabaseError, Exception);   // datasets, fields and the table engine

#undef QV_DECLARE_EXCEPTION

// The class library's text for an index outside a list.
inline constexpr const char* kListIndexError = "List index out of bounds";

[[noreturn]] inline void DatabaseError(const std::string& message) { throw EDatabaseError(message); }

// The format with each "%s" or "%d" replaced by the next argument in turn
// ("%%" stands for one '%'); raised as EDatabaseError.
inline std::string FormatMessage(std::string_view format, std::initializer_list<std::string_view> args) {
  std::string text;
  auto next = args.begin();
  for (std::size_t i = 0; i < format.size(); ++i) {
    if (format[i] == '%' && i + 1 < format.size()) {
      char kind = format[i + 1];
      if (kind == '%') { text += '%'; ++i; continue; }
      if ((kind == 's' || kind == 'd') && next != args.end()) { text += *next++; ++i; continue; }
    }
    text += format[i];
  }
  return text;
}
[[noreturn]] inline void DatabaseErrorFmt(std::string_view format, std::initializer_list<std::string_view> args) {
  throw EDatabaseError(FormatMessage(format, args));
}

}  // namespace rtl
