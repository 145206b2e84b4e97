// The ticks of the data-file list: which data files a search may read.
//
// Ticks belong to files, not to list positions: after the file list is
// rebuilt (new source folder, files added or removed) every file keeps its
// tick, and files not seen before start ticked, as the whole list does when
// it is first shown.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace appcore {

class SourceTicks {
public:
  // Follows a rebuilt file list (full paths in slot order).
  void Follow(const std::vector<std::string>& paths);

  int Count() const { return static_cast<int>(paths_.size()); }
  bool Ticked(int slot) const;
  // Slots outside the list are ignored.
  void SetTicked(int slot, bool ticked);
  void SelectAll();
  void UnselectAll();
  // One entry per slot, as the search takes them.
  std::vector<bool> Vector() const;

private:
  std::vector<std::string> paths_;
  std::map<std::string, bool> by_path_;
};

}  // namespace appcore
