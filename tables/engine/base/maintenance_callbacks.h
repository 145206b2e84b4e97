// The reports of whole-table work (repair, upgrade, index building, copy,
// optimize, restructure): one (function, user data) pair per report, held
// by the cursor. A forwarder calls its function only when one is set and
// passes its arguments through unchanged; the functions' results are not
// looked at.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

namespace korvex {

// Why a record could not be carried into a restructured table.
enum TDataLossCause : std::uint8_t {
  dlUnknown = 0,
  dlKeyViolation = 1,
  dlValidityCheckFail = 2,
  dlFieldDeletion = 3,
  dlFieldConversion = 4,
};

// (user data, step, percent)
using pProgressCallback = bool (*)(void* user, std::uint32_t step, std::uint8_t percent);
// (user data, line)
using pLogCallback = bool (*)(void* user, const std::string& line);
// (user data, text, percent)
using pUpgradeProgressCallback = bool (*)(void* user, const std::string& text, std::uint8_t percent);
// (user data, cause, context, StopAsking, ContinueRestructure): the two
// flags are in-out.
using pDataLostCallback = bool (*)(void* user, TDataLossCause cause, const std::string& context, bool& stop_asking,
                                   bool& continue_restructure);

template <class Function>
struct TCallbackPair {
  Function function = nullptr;
  void* user = nullptr;

  void Set(Function f, void* data) {
    function = f;
    user = data;
  }
  explicit operator bool() const { return function != nullptr; }
  template <class... Args>
  void operator()(Args&&... args) const {
    if (function != nullptr) function(user, std::forward<Args>(args)...);
  }
};

struct TMaintenanceCallbacks {
  TCallbackPair<pProgressCallback> RepairProgress, IndexProgress, CopyProgress, OptimizeProgress,
      RestructureProgress;
  TCallbackPair<pLogCallback> RepairLog, UpgradeLog;
  TCallbackPair<pUpgradeProgressCallback> UpgradeProgress;
  TCallbackPair<pDataLostCallback> DataLost;
};

// step / total x 100, truncated; 0 for an empty total.
inline std::uint8_t ProgressPercent(std::uint64_t step, std::uint64_t total) {
  return total == 0 ? 0 : static_cast<std::uint8_t>(step * 100 / total > 100 ? 100 : step * 100 / total);
}

}  // namespace korvex
