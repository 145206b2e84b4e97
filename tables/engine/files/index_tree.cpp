#include "tables/engine/files/index_tree.h"

#include <algorithm>
#include <cstring>

namespace korvex {
namespace {

// How often an operation starts over while change detection keeps
// answering.
constexpr int kFetchTries = 64;

}  // namespace

void TIndexTree::Held::Release() {
  for (std::size_t i = 0; i < count_; ++i) file_.PutPage(near_[i]);
  for (TPage* page : more_) file_.PutPage(page);
  count_ = 0;
  more_.clear();
}

TIndexTree::TIndexTree(TIndexFile& file, std::uint8_t slot, const TKeyComparator& compare, void* cursor)
    : file_(file),
      slot_(slot),
      compare_(compare),
      cursor_(cursor),
      key_size_(file.GetIndexDefinition(slot).KeySize) {}

TPage* TIndexTree::Fetch(std::uint32_t offset, Held& held) {
  TPage* page = nullptr;
  for (int i = 0; i < kFetchTries; ++i)
    if (file_.GetPage(cursor_, slot_, offset, page)) return held.Keep(page);
  file_.Fail(err::kIndexPagesCorrupt);
}

void TIndexTree::FreePage(TPage* page) { file_.SetNextFreePage(page); }

bool TIndexTree::Descend(const std::uint8_t* key, std::uint16_t length, bool upper, Held& held,
                         Path& path, std::uint32_t* before, const Path* known) {
  path.clear();
  if (before) *before = 0;
  std::uint32_t offset = file_.GetRootPtr(slot_);
  auto compare = [this](const std::uint8_t* a, const std::uint8_t* b, std::uint16_t n) { return Compare(a, b, n); };
  for (;;) {
    if (path.size() >= kMaxDepth) file_.Fail(err::kIndexPagesCorrupt);
    TPage* page = nullptr;
    // A page the operation already holds at this depth is the cache's
    // entry for its offset (held pages are never evicted): no lookup.
    const std::size_t depth = path.size();
    if (known && depth < known->size() && (*known)[depth].page->Offset() == offset) {
      page = (*known)[depth].page;
    } else {
      if (!file_.GetPage(cursor_, slot_, offset, page, false, true)) return false;
      held.Keep(page);
    }
    if (page->Count() == 0 || page->Free() || page->IsRoot() != path.empty()) file_.Fail(err::kIndexPagesCorrupt);
    if (page->IsLeaf()) {
      path.push_back({page, 0});
      return true;
    }
    int i = std::max(0, page->Bound(key, length, upper, compare) - 1);
    if (before) *before += page->KeysBefore(i);
    path.push_back({page, i});
    offset = page->ValueAt(i);
  }
}

void TIndexTree::UpdatePath(const Path& path) {
  for (std::size_t l = path.size(); l-- > 1;) {
    TPage* parent = path[l - 1].page;
    const int i = path[l - 1].entry;
    const TPage* child = path[l].page;
    if (std::memcmp(parent->KeyAt(i), child->KeyAt(0), key_size_) != 0) parent->SetKeyAt(i, child->KeyAt(0));
    if (parent->SubtreeCount(i) != child->TotalKeys()) parent->SetSubtreeCount(i, child->TotalKeys());
  }
}

// ---- insert -------------------------------------------------------------------

void TIndexTree::Split(Path& path, std::size_t level, TPage* fresh, TPage* right, TPage* new_root) {
  TPage* page = path[level].page;
  const std::uint8_t type = page->IsLeaf() ? ptLeaf : ptInternal;
  const int n = page->Count();
  const int keep = n - n / 2;
  page->SetPageType(type);
  fresh->SetPageType(type);
  page->MoveEntries(keep, n - keep, *fresh, 0);
  if (page->Compressed()) {
    while (page->CalculateCompressedSize() > kPageDataSize && page->Count() > 1)
      page->MoveEntries(page->Count() - 1, 1, *fresh, 0);
    while (fresh->CalculateCompressedSize() > kPageDataSize && fresh->Count() > 1 &&
           page->CalculateCompressedSize() <= kPageDataSize)
      fresh->MoveEntries(0, 1, *page, page->Count());
    if (page->CalculateCompressedSize() > kPageDataSize || fresh->CalculateCompressedSize() > kPageDataSize)
      file_.Fail(err::kIndexPagesCorrupt);
  }
  fresh->SetLeftPageOffset(page->Offset());
  fresh->SetRightPageOffset(page->RightPage());
  if (right) right->SetLeftPageOffset(fresh->Offset());
  page->SetRightPageOffset(fresh->Offset());
  const bool moved = path[level].entry >= page->Count();
  if (moved) {
    path[level].entry -= page->Count();
    path[level].page = fresh;
  }
  if (level == 0) {
    new_root->SetPageType(ptRoot);
    new_root->InsertEntry(0, page->KeyAt(0), page->Offset(), page->TotalKeys());
    new_root->InsertEntry(1, fresh->KeyAt(0), fresh->Offset(), fresh->TotalKeys());
    file_.SetRootPtr(slot_, new_root->Offset());
    path.push_front(Level{new_root, moved ? 1 : 0});
    return;
  }
  Level& parent = path[level - 1];
  parent.page->SetKeyAt(parent.entry, page->KeyAt(0));
  parent.page->SetSubtreeCount(parent.entry, page->TotalKeys());
  parent.page->InsertEntry(parent.entry + 1, fresh->KeyAt(0), fresh->Offset(), fresh->TotalKeys());
  if (moved) ++parent.entry;
}

bool TIndexTree::PlanSplits(const Path& path, Held& held, SplitPlan& plan) {
  const std::size_t depth = path.size();
  plan.splits = 1;
  while (plan.splits < depth &&
         path[depth - 1 - plan.splits].page->Count() + 1u > path[depth - 1 - plan.splits].page->MaximumEntries())
    ++plan.splits;
  plan.new_root = plan.splits == depth;
  plan.rights.assign(plan.splits, nullptr);
  for (std::size_t k = 0; k < plan.splits; ++k) {
    const std::uint32_t right = path[depth - 1 - k].page->RightPage();
    if (right == 0) continue;
    TPage* page = nullptr;
    if (!file_.GetPage(cursor_, slot_, right, page)) return false;
    plan.rights[k] = held.Keep(page);
  }
  // Every new page before the first change.
  const std::size_t needed = plan.splits + (plan.new_root ? 1 : 0);
  try {
    while (plan.fresh.size() < needed) {
      TPage* page = nullptr;
      if (!file_.GetNextFreePage(cursor_, slot_, page)) break;
      held.Keep(page);
      for (const Level& level : path)
        if (level.page == page) file_.Fail(err::kIndexPagesCorrupt);
      plan.fresh.push_back(page);
    }
  } catch (...) {
    for (TPage* page : plan.fresh) FreePage(page);
    throw;
  }
  if (plan.fresh.size() == needed) return true;
  for (TPage* page : plan.fresh) FreePage(page);
  return false;
}

void TIndexTree::ApplySplits(Path& path, const SplitPlan& plan) {
  // Only the last split, at the top, puts a new root in front of the path.
  const std::size_t depth = path.size();
  for (std::size_t k = 0; k < plan.splits; ++k) {
    const std::size_t level = depth - 1 - k;
    Split(path, level, plan.fresh[k], plan.rights[k], plan.new_root && level == 0 ? plan.fresh[plan.splits] : nullptr);
  }
  UpdatePath(path);
}

void TIndexTree::Insert(const std::uint8_t* key, std::uint32_t record) {
  if (!Add(key, record)) file_.Fail(err::kDuplicateKey, file_.GetIndexDefinition(slot_).Name);
}

bool TIndexTree::Add(const std::uint8_t* key, std::uint32_t record, std::uint32_t* rank) {
  for (int attempt = 0; attempt < kFetchTries; ++attempt) {
    Held held(file_);
    Path path;
    const int added = AddIn(key, record, rank, held, path, nullptr);
    if (added >= 0) return added == 1;
  }
  file_.Fail(err::kIndexPagesCorrupt);
}

int TIndexTree::AddIn(const std::uint8_t* key, std::uint32_t record, std::uint32_t* rank, Held& held, Path& path,
                      const Path* known) {
  auto compare = [this](const std::uint8_t* a, const std::uint8_t* b, std::uint16_t n) { return Compare(a, b, n); };
  if (file_.GetRootPtr(slot_) == 0) {
    TPage* page = nullptr;
    if (!file_.GetNextFreePage(cursor_, slot_, page)) return -1;
    held.Keep(page);
    page->SetPageType(ptRootLeaf);
    page->InsertEntry(0, key, record, 1);
    file_.SetRootPtr(slot_, page->Offset());
    if (rank) *rank = 1;
    return 1;
  }
  std::uint32_t before = 0;
  if (!Descend(key, key_size_, true, held, path, rank ? &before : nullptr, known)) return -1;
  TPage* leaf = path.back().page;
  const int pos = leaf->Bound(key, key_size_, true, compare);
  if (pos > 0 && Compare(leaf->KeyAt(pos - 1), key, key_size_) == 0) return 0;
  path.back().entry = pos;
  if (rank) *rank = before + static_cast<std::uint32_t>(pos) + 1;

  bool leaf_splits = leaf->Count() + 1u > leaf->MaximumEntries();
  if (leaf->Compressed()) {
    leaf->InsertEntry(pos, key, record, 1);
    leaf_splits = leaf->Overflows();
    leaf->DeleteEntry(pos);
  }
  SplitPlan plan;
  if (leaf_splits && !PlanSplits(path, held, plan)) return -1;
  leaf->InsertEntry(pos, key, record, 1);
  ApplySplits(path, plan);
  return 1;
}

bool TIndexTree::Replace(const std::uint8_t* old_key, const std::uint8_t* new_key, std::uint32_t record,
                         std::uint32_t* rank) {
  // One set of held pages for both steps: the insert's descent takes the
  // pages the removal's path shares with it without looking them up.
  Held held(file_);
  Path removed;
  for (int attempt = 0;; ++attempt) {
    if (attempt == kFetchTries) file_.Fail(err::kIndexPagesCorrupt);
    if (file_.GetRootPtr(slot_) == 0 || RemoveIn(old_key, nullptr, held, removed) >= 0) break;
    held.Release();
    removed.clear();
  }
  for (int attempt = 0; attempt < kFetchTries; ++attempt) {
    Path path;
    const int added = AddIn(new_key, record, rank, held, path, &removed);
    if (added >= 0) return added == 1;
    held.Release();
    removed.clear();
  }
  file_.Fail(err::kIndexPagesCorrupt);
}

// ---- delete -------------------------------------------------------------------

bool TIndexTree::Rebalance(Path& path, std::size_t level, Held& held) {
  TPage* page = path[level].page;
  TPage* up = path[level - 1].page;
  const int idx = path[level - 1].entry;
  if (page->Count() == 0) {
    if (page->LeftPage()) Fetch(page->LeftPage(), held)->SetRightPageOffset(page->RightPage());
    if (page->RightPage()) Fetch(page->RightPage(), held)->SetLeftPageOffset(page->LeftPage());
    FreePage(page);
    up->DeleteEntry(idx);
    path.resize(level);
    path[level - 1].entry = std::max(0, std::min(idx, up->Count() - 1));
    return true;
  }
  if (page->Compressed()) return false;
  const std::uint32_t most = page->MaximumEntries();
  if (idx > 0) {
    TPage* left = Fetch(up->ValueAt(idx - 1), held);
    const int total = left->Count() + page->Count();
    if (most > static_cast<std::uint32_t>(total)) {
      page->MoveEntries(0, page->Count(), *left, left->Count());
      left->SetRightPageOffset(page->RightPage());
      if (page->RightPage()) Fetch(page->RightPage(), held)->SetLeftPageOffset(left->Offset());
      FreePage(page);
      up->SetSubtreeCount(idx - 1, left->TotalKeys());
      up->DeleteEntry(idx);
      path.resize(level);
      path[level - 1].entry = idx - 1;
      return true;
    }
    const int keep = total - total / 2;
    if (left->Count() > keep) left->MoveEntries(keep, left->Count() - keep, *page, 0);
    else page->MoveEntries(0, keep - left->Count(), *left, left->Count());
    up->SetKeyAt(idx, page->KeyAt(0));
    up->SetSubtreeCount(idx, page->TotalKeys());
    up->SetSubtreeCount(idx - 1, left->TotalKeys());
    return false;
  }
  if (idx + 1 >= up->Count()) return false;
  TPage* right = Fetch(up->ValueAt(idx + 1), held);
  const int total = right->Count() + page->Count();
  if (most > static_cast<std::uint32_t>(total)) {
    page->MoveEntries(0, page->Count(), *right, 0);
    right->SetLeftPageOffset(page->LeftPage());
    if (page->LeftPage()) Fetch(page->LeftPage(), held)->SetRightPageOffset(right->Offset());
    FreePage(page);
    up->SetKeyAt(idx + 1, right->KeyAt(0));
    up->SetSubtreeCount(idx + 1, right->TotalKeys());
    up->DeleteEntry(idx);
    path.resize(level);
    path[level - 1].entry = idx;
    return true;
  }
  const int keep = total / 2;
  if (page->Count() < keep) right->MoveEntries(0, keep - page->Count(), *page, page->Count());
  else page->MoveEntries(keep, page->Count() - keep, *right, 0);
  up->SetSubtreeCount(idx, page->TotalKeys());
  up->SetKeyAt(idx + 1, right->KeyAt(0));
  up->SetSubtreeCount(idx + 1, right->TotalKeys());
  return false;
}

void TIndexTree::ShrinkRoot(Held& held) {
  for (std::size_t depth = 0; depth < kMaxDepth; ++depth) {
    const std::uint32_t offset = file_.GetRootPtr(slot_);
    if (offset == 0) return;
    TPage* root = Fetch(offset, held);
    if (root->IsLeaf()) {
      if (root->Count() == 0) {
        FreePage(root);
        file_.SetRootPtr(slot_, 0);
      }
      return;
    }
    if (root->Count() != 1) return;
    TPage* child = Fetch(root->ValueAt(0), held);
    child->SetPageType(child->IsLeaf() ? ptRootLeaf : ptRoot);
    child->SetLeftPageOffset(0);
    child->SetRightPageOffset(0);
    file_.SetRootPtr(slot_, child->Offset());
    FreePage(root);
  }
}

bool TIndexTree::Remove(const std::uint8_t* key, TFollower* follower, const TPathHint* hint) {
  if (follower) {
    // Cleared in place: a caller's follower keeps its key's room.
    follower->known = false;
    follower->rank = 0;
    follower->key.clear();
    follower->record = 0;
  }
  for (int attempt = 0; attempt < kFetchTries; ++attempt) {
    Held held(file_);
    if (file_.GetRootPtr(slot_) == 0) return false;
    Path path;
    const int removed = RemoveIn(key, follower, held, path, attempt == 0 ? hint : nullptr);
    if (removed >= 0) return removed == 1;
  }
  file_.Fail(err::kIndexPagesCorrupt);
}

int TIndexTree::DescendHinted(const std::uint8_t* key, const TPathHint& hint, Held& held, Path& path,
                              std::uint32_t* before) {
  path.clear();
  if (before) *before = 0;
  if (hint.Depth == 0 || hint.Depth > hint.Pages.size() || file_.GetRootPtr(slot_) != hint.Pages[0]) return -1;
  // Only offsets the tree links now are fetched: the root, then each
  // child its parent's hinted entry names.
  for (std::size_t d = 0; d < hint.Depth; ++d) {
    TPage* page = nullptr;
    if (!file_.GetPage(cursor_, slot_, hint.Pages[d], page)) return -2;
    held.Keep(page);
    if (page->Count() == 0 || page->Free() || page->IsRoot() != (d == 0)) file_.Fail(err::kIndexPagesCorrupt);
    const int i = hint.Entries[d];
    const bool last = d + 1 == hint.Depth;
    if (page->IsLeaf() != last || i < 0 || i >= page->Count()) return -1;
    if (last) {
      if (Compare(page->KeyAt(i), key, key_size_) != 0) return -1;
      path.push_back({page, 0});
      return i;
    }
    if (page->ValueAt(i) != hint.Pages[d + 1]) return -1;
    if (before) *before += page->KeysBefore(i);
    path.push_back({page, i});
  }
  return -1;
}

int TIndexTree::RemoveIn(const std::uint8_t* key, TFollower* follower, Held& held, Path& path,
                         const TPathHint* hint) {
  auto compare = [this](const std::uint8_t* a, const std::uint8_t* b, std::uint16_t n) { return Compare(a, b, n); };
  std::uint32_t before = 0;
  int pos = hint ? DescendHinted(key, *hint, held, path, follower ? &before : nullptr) : -1;
  if (pos == -2) return -1;
  if (pos < 0) {
    if (!Descend(key, key_size_, true, held, path, follower ? &before : nullptr)) return -1;
    pos = path.back().page->Bound(key, key_size_, true, compare) - 1;
  }
  TPage* leaf = path.back().page;
  if (pos < 0 || Compare(leaf->KeyAt(pos), key, key_size_) != 0) return 0;
  if (leaf->Compressed() && leaf->Count() > 1) {
    // Under a collation neighbours need not share what the removed key
    // shared with each: the leaf can grow, and then it splits. The key
    // goes back while the split is planned, so a failed read leaves the
    // leaf as it was.
    std::array<std::uint8_t, kMaxKeySize> removed{};
    std::copy(leaf->KeyAt(pos), leaf->KeyAt(pos) + key_size_, removed.begin());
    const std::uint32_t value = leaf->ValueAt(pos);
    leaf->DeleteEntry(pos);
    if (leaf->Overflows()) {
      leaf->InsertEntry(pos, removed.data(), value, 1);
      SplitPlan plan;
      if (!PlanSplits(path, held, plan)) return -1;
      leaf->DeleteEntry(pos);
      ApplySplits(path, plan);
      return 1;
    }
  } else {
    leaf->DeleteEntry(pos);
  }
  if (follower) NoteFollower(*leaf, pos, before + static_cast<std::uint32_t>(pos) + 1, held, *follower);
  for (std::size_t level = path.size() - 1; level > 0 && path[level].page->Underflows(); --level)
    if (!Rebalance(path, level, held)) break;
  UpdatePath(path);
  // Only a root left with one child, or an empty root leaf, goes.
  if (path[0].page->Count() <= 1) ShrinkRoot(held);
  return 1;
}

void TIndexTree::NoteFollower(const TPage& leaf, int pos, std::uint32_t rank, Held& held, TFollower& follower) {
  const TPage* holder = &leaf;
  if (pos >= leaf.Count()) {
    holder = nullptr;
    pos = 0;
    if (leaf.RightPage()) {
      TPage* right = nullptr;
      if (!file_.GetPage(cursor_, slot_, leaf.RightPage(), right)) return;
      held.Keep(right);
      if (right->Count() == 0) return;
      holder = right;
    }
  }
  follower.known = true;
  if (!holder) return;
  follower.rank = rank;
  follower.key.assign(holder->KeyAt(pos), holder->KeyAt(pos) + key_size_);
  follower.record = holder->ValueAt(pos);
}

// ---- searches ------------------------------------------------------------------

std::uint32_t TIndexTree::Locate(const std::uint8_t* key, std::uint16_t length, bool ranked, bool& found,
                                  std::vector<std::uint8_t>* at, std::uint32_t* record, TPathHint* hint) {
  if (hint) hint->Depth = 0;
  auto compare = [this](const std::uint8_t* a, const std::uint8_t* b, std::uint16_t n) { return Compare(a, b, n); };
  found = false;
  for (int attempt = 0; attempt < kFetchTries; ++attempt) {
    Held held(file_);
    if (file_.GetRootPtr(slot_) == 0) return 1;
    Path path;
    std::uint32_t before = 0;
    if (!Descend(key, length, false, held, path, ranked ? &before : nullptr)) continue;
    TPage* leaf = path.back().page;
    const int pos = leaf->Bound(key, length, false, compare);
    const TPage* holder = nullptr;
    if (pos < leaf->Count()) {
      holder = leaf;
    } else if (leaf->RightPage()) {
      TPage* right = nullptr;
      if (!file_.GetPage(cursor_, slot_, leaf->RightPage(), right)) continue;
      held.Keep(right);
      if (right->Count() > 0) holder = right;
    }
    const int i = holder == leaf ? pos : 0;
    found = holder && Compare(holder->KeyAt(i), key, length) == 0;
    if (hint && holder == leaf && path.size() <= hint->Pages.size()) {
      for (std::size_t d = 0; d < path.size(); ++d) {
        hint->Pages[d] = path[d].page->Offset();
        hint->Entries[d] = d + 1 == path.size() ? i : path[d].entry;
      }
      hint->Depth = path.size();
    }
    if (at) {
      if (holder) {
        at->assign(holder->KeyAt(i), holder->KeyAt(i) + key_size_);
        *record = holder->ValueAt(i);
      } else {
        at->clear();
      }
    }
    return before + static_cast<std::uint32_t>(pos) + 1;
  }
  file_.Fail(err::kIndexPagesCorrupt);
}

std::uint32_t TIndexTree::Find(const std::uint8_t* key, std::uint16_t length, bool& found) {
  return Locate(key, length, true, found, nullptr, nullptr);
}

std::uint32_t TIndexTree::FindKey(const std::uint8_t* key, std::uint16_t length, bool& found,
                                  std::vector<std::uint8_t>& at, std::uint32_t& record, TPathHint* hint) {
  return Locate(key, length, true, found, &at, &record, hint);
}

std::uint32_t TIndexTree::FindAbove(const std::uint8_t* key, std::uint16_t length) {
  auto compare = [this](const std::uint8_t* a, const std::uint8_t* b, std::uint16_t n) { return Compare(a, b, n); };
  for (int attempt = 0; attempt < kFetchTries; ++attempt) {
    Held held(file_);
    if (file_.GetRootPtr(slot_) == 0) return 1;
    Path path;
    std::uint32_t before = 0;
    if (!Descend(key, length, true, held, path, &before)) continue;
    return before + static_cast<std::uint32_t>(path.back().page->Bound(key, length, true, compare)) + 1;
  }
  file_.Fail(err::kIndexPagesCorrupt);
}

void TIndexTree::ScanRecords(std::uint32_t first, std::uint32_t count,
                             const std::function<void(std::uint32_t)>& take) {
  std::uint32_t done = 0;
  for (int attempt = 0; attempt < kFetchTries && done < count; ++attempt) {
    Held held(file_);
    std::uint32_t offset = file_.GetRootPtr(slot_);
    if (offset == 0 || first == 0) return;
    std::uint32_t remaining = first + done;
    TPage* page = nullptr;
    bool again = false;
    for (std::size_t depth = 0;; ++depth) {
      if (depth >= kMaxDepth) file_.Fail(err::kIndexPagesCorrupt);
      if (!file_.GetPage(cursor_, slot_, offset, page)) {
        again = true;
        break;
      }
      held.Keep(page);
      if (page->Count() == 0) file_.Fail(err::kIndexPagesCorrupt);
      if (page->IsLeaf()) break;
      const int i = page->EntryOfRank(remaining);
      if (i < 0) return;
      offset = page->ValueAt(i);
    }
    if (again) continue;
    // Only the leaf being read stays in use from here on.
    int i = static_cast<int>(remaining) - 1;
    std::size_t pages = 0;
    while (done < count) {
      for (; i < page->Count() && done < count; ++i, ++done) take(page->ValueAt(i));
      if (done == count || page->RightPage() == 0) return;
      if (++pages > file_.GetFileSize() / kIndexHeaderSize) file_.Fail(err::kIndexPagesCorrupt);
      TPage* right = nullptr;
      if (!file_.GetPage(cursor_, slot_, page->RightPage(), right)) break;
      held.Release();
      page = held.Keep(right);
      if (page->Count() == 0 || !page->IsLeaf()) file_.Fail(err::kIndexPagesCorrupt);
      i = 0;
    }
  }
}

bool TIndexTree::Search(const std::uint8_t* key) {
  bool found = false;
  Locate(key, key_size_, false, found, nullptr, nullptr);
  return found;
}

int TIndexTree::LeafOf(std::uint32_t n, Held& held, TPage*& leaf) {
  std::uint32_t offset = file_.GetRootPtr(slot_);
  if (offset == 0 || n == 0) return -1;
  std::uint32_t remaining = n;
  for (std::size_t depth = 0;; ++depth) {
    if (depth >= kMaxDepth) file_.Fail(err::kIndexPagesCorrupt);
    TPage* page = nullptr;
    if (!file_.GetPage(cursor_, slot_, offset, page)) return -2;
    held.Keep(page);
    if (page->Count() == 0) file_.Fail(err::kIndexPagesCorrupt);
    if (page->IsLeaf()) {
      if (remaining > static_cast<std::uint32_t>(page->Count())) return -1;
      leaf = page;
      return static_cast<int>(remaining) - 1;
    }
    const int i = page->EntryOfRank(remaining);
    if (i < 0) return -1;
    offset = page->ValueAt(i);
  }
}

bool TIndexTree::KeyAt(std::uint32_t n, std::vector<std::uint8_t>& key, std::uint32_t& record) {
  for (int attempt = 0; attempt < kFetchTries; ++attempt) {
    Held held(file_);
    TPage* leaf = nullptr;
    const int i = LeafOf(n, held, leaf);
    if (i == -2) continue;
    if (i < 0) return false;
    key.assign(leaf->KeyAt(i), leaf->KeyAt(i) + key_size_);
    record = leaf->ValueAt(i);
    return true;
  }
  file_.Fail(err::kIndexPagesCorrupt);
}

void TIndexTree::KeepLeaf(const TPage& leaf, TLeafHint& hint) const {
  const auto count = static_cast<std::size_t>(leaf.Count());
  hint.Keys.resize(count * key_size_);
  hint.Records.resize(count);
  for (std::size_t i = 0; i < count; ++i) {
    std::memcpy(hint.Keys.data() + i * key_size_, leaf.KeyAt(static_cast<int>(i)), key_size_);
    hint.Records[i] = leaf.ValueAt(static_cast<int>(i));
  }
}

TIndexTree::TStep TIndexTree::Step(std::uint32_t n, const std::uint8_t* expected, int direction,
                                   std::vector<std::uint8_t>& key, std::uint32_t& record, TLeafHint* hint) {
  if (hint && hint->Page != 0 && !hint->Records.empty()) {
    // Inside the leaf the hint keeps: no page is read.
    const int size = static_cast<int>(hint->Records.size());
    const int at = hint->Entry, next = hint->Entry + direction;
    if (at >= 0 && at < size && hint->Keys.size() == hint->Records.size() * key_size_ &&
        std::memcmp(hint->Keys.data() + std::size_t(at) * key_size_, expected, key_size_) == 0) {
      if (next >= 0 && next < size) {
        const std::uint8_t* found = hint->Keys.data() + std::size_t(next) * key_size_;
        key.assign(found, found + key_size_);
        record = hint->Records[static_cast<std::size_t>(next)];
        hint->Entry = next;
        return TStep::Done;
      }
    } else {
      hint->Clear();
    }
  }
  for (int attempt = 0; attempt < kFetchTries; ++attempt) {
    Held held(file_);
    TPage* leaf = nullptr;
    int i = -1;
    if (hint && hint->Page != 0 && attempt == 0) {
      TPage* page = nullptr;
      if (file_.GetPage(cursor_, slot_, hint->Page, page)) {
        held.Keep(page);
        if (page->IsLeaf() && !page->Free() && hint->Entry >= 0 && hint->Entry < page->Count() &&
            std::memcmp(page->KeyAt(hint->Entry), expected, key_size_) == 0) {
          leaf = page;
          i = hint->Entry;
        }
      }
    }
    if (!leaf) {
      i = LeafOf(n, held, leaf);
      if (i == -2) continue;
      if (i < 0 || std::memcmp(leaf->KeyAt(i), expected, key_size_) != 0) return TStep::Moved;
    }
    i += direction;
    if (i < 0 || i >= leaf->Count()) {
      const std::uint32_t sibling = direction > 0 ? leaf->RightPage() : leaf->LeftPage();
      if (sibling == 0) return TStep::End;
      TPage* page = nullptr;
      if (!file_.GetPage(cursor_, slot_, sibling, page)) continue;
      held.Keep(page);
      if (page->Count() == 0 || !page->IsLeaf()) file_.Fail(err::kIndexPagesCorrupt);
      leaf = page;
      i = direction > 0 ? 0 : page->Count() - 1;
    }
    key.assign(leaf->KeyAt(i), leaf->KeyAt(i) + key_size_);
    record = leaf->ValueAt(i);
    if (hint) {
      if (hint->Page != leaf->Key || hint->Records.empty()) KeepLeaf(*leaf, *hint);
      hint->Page = leaf->Key;
      hint->Entry = i;
    }
    return TStep::Done;
  }
  file_.Fail(err::kIndexPagesCorrupt);
}

std::uint32_t TIndexTree::Count() {
  for (int attempt = 0; attempt < kFetchTries; ++attempt) {
    const std::uint32_t offset = file_.GetRootPtr(slot_);
    if (offset == 0) return 0;
    TPage* root = nullptr;
    if (!file_.GetPage(cursor_, slot_, offset, root)) continue;
    const std::uint32_t total = root->TotalKeys();
    file_.PutPage(root);
    return total;
  }
  file_.Fail(err::kIndexPagesCorrupt);
}

void TIndexTree::FreeSubtree(std::uint32_t offset, int depth) {
  if (static_cast<std::size_t>(depth) >= kMaxDepth) file_.Fail(err::kIndexPagesCorrupt);
  Held held(file_);
  TPage* page = Fetch(offset, held);
  if (page->Free()) file_.Fail(err::kIndexPagesCorrupt);
  if (!page->IsLeaf()) {
    std::vector<std::uint32_t> children;
    for (int i = 0; i < page->Count(); ++i) children.push_back(page->ValueAt(i));
    for (std::uint32_t child : children) FreeSubtree(child, depth + 1);
  }
  FreePage(page);
}

void TIndexTree::FreeAllPages() {
  const std::uint32_t root = file_.GetRootPtr(slot_);
  if (root != 0) FreeSubtree(root, 0);
  file_.SetRootPtr(slot_, 0);
}

}  // namespace korvex
