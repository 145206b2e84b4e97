// TDataCursor: the ranks of the live records in physical order, a Fenwick tree over record numbers.
#include <utility>
#include <vector>

#include "tables/engine/cursor/data_cursor.h"
#include "tables/engine/table/data_table.h"

namespace korvex {

bool TDataCursor::NoteLive(std::uint32_t n, bool live) {
  std::vector<std::uint32_t>& tree = live_ranks_;
  if (n == 0 || tree.empty() || n > tree.size() + 4096) return false;  // made again at the next use
  auto sum = [&](std::uint32_t upto) {
    std::uint32_t total = 0;
    for (std::uint32_t i = upto; i > 0; i -= i & (~i + 1)) total += tree[i];
    return total;
  };
  // Records appended beyond the tree: each new node sums its span.
  while (tree.size() <= n) {
    const auto i = static_cast<std::uint32_t>(tree.size());
    tree.push_back(sum(i - 1) - sum(i - (i & (~i + 1))));
  }
  const bool was = sum(n) != sum(n - 1);
  if (was == live) return true;
  for (std::uint32_t i = n; i < tree.size(); i += i & (~i + 1)) tree[i] += live ? 1u : ~0u;
  return true;
}

bool TDataCursor::LiveRank(std::uint32_t n, std::uint32_t& rank) {
  TIndexFile& index = table_->IndexFile();
  const std::uint32_t physical = table_->DataFile().GetPhysicalRecordsUsed();
  if (index.GetRootPtr(kSystemSlot) == 0 || n > physical) return false;
  if (live_changes_ != table_->ChangeCount() || live_ranks_.size() < std::size_t{physical} + 1) {
    // The system index holds the live records' keys first (deleted flag
    // 0): its first `live` leaf entries name them.
    const std::uint32_t live = index.GetActualRecordCount();
    std::vector<std::uint32_t> tree(std::size_t{physical} + 1, 0);
    std::uint32_t seen = 0;
    TIndexTree(index, kSystemSlot, TKeyComparator(), this).ScanRecords(1, live, [&](std::uint32_t m) {
      if (m >= 1 && m <= physical && tree[m] == 0) {
        tree[m] = 1;
        ++seen;
      }
    });
    if (seen != live) return false;
    for (std::size_t i = 1; i < tree.size(); ++i) {
      const std::size_t parent = i + (i & (~i + 1));
      if (parent < tree.size()) tree[parent] += tree[i];
    }
    live_ranks_ = std::move(tree);
    live_changes_ = table_->ChangeCount();
  }
  rank = 0;
  for (std::uint32_t i = n; i > 0; i -= i & (~i + 1)) rank += live_ranks_[i];
  return true;
}

}  // namespace korvex
