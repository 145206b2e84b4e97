// The journal's test hooks for its steps and syncs.
#include "tables/engine/cache/journal_hooks.h"

#include <functional>

#include "platform/runtime/filelock.h"
#include "tables/engine/cache/journal.h"

namespace korvex {
namespace {

std::function<void()>& StepHook() {
  static std::function<void()> hook;
  return hook;
}

std::function<void()>& SyncHook() {
  static std::function<void()> hook;
  return hook;
}

}  // namespace

namespace jnl {

void Step() {
  if (StepHook()) StepHook()();
}

bool SyncJournal(rtl::TLockedFile& file) {
  if (file.Sync() != 0) return false;
  if (SyncHook()) SyncHook()();
  return true;
}

}  // namespace jnl

void TJournal::SetStepHook(std::function<void()> hook) { StepHook() = std::move(hook); }

void TJournal::SetSyncHook(std::function<void()> hook) { SyncHook() = std::move(hook); }

}  // namespace korvex
