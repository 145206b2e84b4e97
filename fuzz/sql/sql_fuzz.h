// The body of the SQL statement fuzz target, shared with the normal build
// (tests/tables/sql/fuzz_replay_test.cpp replays the corpus through it).
//
// The input is a script: statements are prepared one after another, as a
// script runner does, and each one that prepares is executed with all its
// parameters bound. Checked after every input: only engine error 11949
// escapes; a statement that prepares ends where FindStatementEnd says, one
// that fails leaves the position alone; no expression node and no counted
// byte is left; the language settings are those from before and their lock
// is free.
//
// A failed check calls QV_FUZZ_CHECK_FAILED(text), which aborts unless the
// includer defines it otherwise (before including this file).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "tables/engine/base/languages.h"
#include "tables/engine/errors/engine_error.h"
#include "tables/lib/exptoken.h"
#include "tables/lib/language_settings.h"
#include "tables/sql/statement.h"

#include "fuzz/fuzz_check.h"

namespace korvex::fuzz {

inline void Statements(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  FreeAllExpTokens();
  const std::int64_t memory = GetTotalMemoryAllocated();
  const std::int64_t nodes = ExpTokensInUse();
  TLanguageSettings settings;
  GetLanguageSettings(settings);
  // Odd lengths run in a session whose language has other formats.
  const TSessionLocale locale{static_cast<std::uint16_t>(size % 2 ? MakeLanguageID(9, 2) : 0), 0};
  {
    TQueryStatement statement(nullptr, locale);
    std::int32_t position = 0;
    for (int count = 0; count < 64 && position < static_cast<std::int32_t>(text.size()); ++count) {
      const std::size_t end = FindStatementEnd(text, static_cast<std::size_t>(position));
      QV_FUZZ_CHECK(end > static_cast<std::size_t>(position) && end <= text.size());
      const std::int32_t start = position;
      try {
        statement.PrepareStatement(text, position);
        QV_FUZZ_CHECK(static_cast<std::size_t>(position) >= end && position <= static_cast<std::int32_t>(size));
        statement.MarkParametersBound(static_cast<std::int32_t>(statement.Parameters().size()));
        TDataCursor* result = nullptr;
        statement.ExecuteStatement(result);
      } catch (const EKORVEXEngineError& e) {
        QV_FUZZ_CHECK(e.ErrorCode() == 11949);
        QV_FUZZ_CHECK(position == start);
        position = static_cast<std::int32_t>(end);
      } catch (...) {
        QV_FUZZ_CHECK_FAILED("an exception other than an engine error");
      }
    }
  }
  QV_FUZZ_CHECK(ExpTokensInUse() == nodes);
  FreeAllExpTokens();
  QV_FUZZ_CHECK(GetTotalMemoryAllocated() == memory);
  TLanguageSettings after;
  GetLanguageSettings(after);
  QV_FUZZ_CHECK(after == settings);
  QV_FUZZ_CHECK(LanguageSettingsLockDepth() == 0);
}

}  // namespace korvex::fuzz
