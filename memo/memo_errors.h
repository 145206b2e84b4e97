// Exceptions of the memo editor that the runtime layer does not declare.
#pragma once

#include "platform/runtime/exceptions.h"

namespace memo {

// A list operation that cannot be done ("Undo set too high").
class EListError : public rtl::Exception {
public:
  using rtl::Exception::Exception;
};

inline constexpr const char* kInternalError = "Internal VellMemo error";

}  // namespace memo
