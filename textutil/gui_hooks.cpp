#include "textutil/gui_hooks.h"

#include <mutex>
#include <utility>

namespace textutil {
namespace {

std::mutex& HooksLock() {
  static std::mutex lock;
  return lock;
}

GuiHooks& Hooks() {
  static GuiHooks hooks;
  return hooks;
}

}  // namespace

void SetGuiHooks(GuiHooks hooks) {
  std::lock_guard<std::mutex> guard(HooksLock());
  Hooks() = std::move(hooks);
}

GuiHooks GetGuiHooks() {
  std::lock_guard<std::mutex> guard(HooksLock());
  return Hooks();
}

bool ProcessGuiMessages() {
  std::function<void()> pump;
  {
    std::lock_guard<std::mutex> guard(HooksLock());
    pump = Hooks().process_messages;
  }
  if (!pump) return false;
  pump();
  return true;
}

}  // namespace textutil
