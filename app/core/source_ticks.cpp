#include "app/core/source_ticks.h"

namespace appcore {

void SourceTicks::Follow(const std::vector<std::string>& paths) {
  paths_ = paths;
  for (const std::string& path : paths_) by_path_.emplace(path, true);
}

bool SourceTicks::Ticked(int slot) const {
  if (slot < 0 || slot >= Count()) return false;
  return by_path_.at(paths_[static_cast<size_t>(slot)]);
}

void SourceTicks::SetTicked(int slot, bool ticked) {
  if (slot < 0 || slot >= Count()) return;
  by_path_[paths_[static_cast<size_t>(slot)]] = ticked;
}

void SourceTicks::SelectAll() {
  for (const std::string& path : paths_) by_path_[path] = true;
}

void SourceTicks::UnselectAll() {
  for (const std::string& path : paths_) by_path_[path] = false;
}

std::vector<bool> SourceTicks::Vector() const {
  std::vector<bool> ticks;
  ticks.reserve(paths_.size());
  for (const std::string& path : paths_) ticks.push_back(by_path_.at(path));
  return ticks;
}

}  // namespace appcore
