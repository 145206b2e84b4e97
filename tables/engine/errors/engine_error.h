// The exception that carries an engine failure to the caller.
//
// The exception holds the number, the engine's text for it and the list of
// error entries. The dataset components raise every engine status through
// Check.
#pragma once

#include <new>
#include <string>
#include <system_error>
#include <vector>

#include "platform/runtime/exceptions.h"
#include "tables/engine/errors/errors.h"

namespace korvex {

// One entry of an engine exception: the number and the engine's text.
struct TKORVEXError {
  TEngineErrorCode ErrorCode = 0;
  std::string Message;
};

// Message: "KORVEX Engine Error # " + number + " " + the engine's text, the
// text formatted from the error record when the exception is made.
class EKORVEXEngineError : public rtl::EDatabaseError {
public:
  explicit EKORVEXEngineError(TEngineErrorCode code);

  TEngineErrorCode ErrorCode() const { return errors_.front().ErrorCode; }
  int GetErrorCount() const { return static_cast<int>(errors_.size()); }
  const TKORVEXError& GetError(int index) const { return errors_.at(index); }

private:
  std::vector<TKORVEXError> errors_;
};

inline constexpr const char* kEngineErrorPrefix = "KORVEX Engine Error # ";

// Throws EKORVEXEngineError for `code` (the error record must already hold
// the contexts).
[[noreturn]] void DbiError(TEngineErrorCode code);

// Returns when `status` is 0, else DbiError(status).
void Check(TEngineErrorCode status);

// Returns when `status` is 0; else fills the error record with `table` as
// its table context and raises, the record's lock held from the filling
// until the text is formatted, so another thread's error cannot lend its
// contexts. Used for the statuses cursors return (8705, 8706, 8709, ...).
void Check(TEngineErrorCode status, std::string_view table);

// Runs `work`, raising memory that runs out in it (std::bad_alloc, or a
// thread the system cannot start) as 11016 with `table` as its context:
// whole-table work on a large table fails as an engine error, never ends
// the process.
template <class F>
decltype(auto) RaisingOutOfMemory(std::string_view table, F&& work) {
  try {
    return work();
  } catch (const std::bad_alloc&) {
    RaiseError(err::kOutOfMemory, table);
  } catch (const std::system_error& e) {
    if (e.code() != std::errc::resource_unavailable_try_again) throw;
    RaiseError(err::kOutOfMemory, table);
  }
}

}  // namespace korvex
