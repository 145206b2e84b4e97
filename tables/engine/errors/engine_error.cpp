#include "tables/engine/errors/engine_error.h"

namespace korvex {

namespace {
std::string EngineMessage(TEngineErrorCode code, const std::string& text) {
  return kEngineErrorPrefix + std::to_string(code) + " " + text;
}
}  // namespace

EKORVEXEngineError::EKORVEXEngineError(TEngineErrorCode code) : rtl::EDatabaseError(std::string()) {
  std::string text = GetErrorString(code);
  errors_.push_back({code, text});
  SetMessage(EngineMessage(code, text));
}

void DbiError(TEngineErrorCode code) { throw EKORVEXEngineError(code); }

void Check(TEngineErrorCode status) {
  if (status != 0) DbiError(status);
}

void Check(TEngineErrorCode status, std::string_view table) {
  if (status != 0) RaiseError(status, table);
}

}  // namespace korvex
