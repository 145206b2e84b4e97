#include "textutil/arrays.h"

#include <algorithm>
#include <utility>

#include "textutil/memblock.h"

namespace textutil {
namespace {

bool fail_sort_table = false;

// Number of elements in use: the smaller of count and the array's size.
size_t Used(size_t size, int count) {
  return count <= 0 ? 0 : std::min(size, static_cast<size_t>(count));
}

template <typename Before>
void CombSort(std::span<std::int32_t> a, int count, Before before) {
  size_t used = Used(a.size(), count);
  if (used < 2 || used - 1 > 1073741823u) return;
  const size_t last = used - 1;
  size_t gap = last;
  bool again = true;
  while (again) {
    const size_t triple = 3 * gap;
    gap = triple / 4;
    bool swapped = false;
    for (size_t i = 0; i + gap + 1 <= last; ++i) {
      auto x = static_cast<std::uint32_t>(a[i]);
      auto y = static_cast<std::uint32_t>(a[i + gap + 1]);
      if (before(y, x)) {
        std::swap(a[i], a[i + gap + 1]);
        swapped = true;
      }
    }
    again = triple > 3 || swapped;
  }
}

int TwoCharKey(std::string_view s) {
  if (s.empty()) return -1;
  int second = s.size() > 1 ? static_cast<unsigned char>(s[1]) : 0;
  return (static_cast<unsigned char>(s[0]) << 8) | second;
}

template <typename T>
bool DeleteAt(std::span<T> a, int index, int count) {
  size_t used = Used(a.size(), count);
  if (index < 0 || static_cast<size_t>(index) >= used) return false;
  std::rotate(a.begin() + index, a.begin() + index + 1, a.begin() + static_cast<std::ptrdiff_t>(used));
  return true;
}

template <typename T>
bool InsertAt(std::span<T> a, int index, int count) {
  if (count < 0 || static_cast<size_t>(count) >= a.size() || index < 0 || index > count) return false;
  std::rotate(a.begin() + index, a.begin() + count, a.begin() + count + 1);
  return true;
}

void InsertionSort(std::span<std::int32_t> a) {
  for (size_t i = 1; i < a.size(); ++i) {
    std::int32_t v = a[i];
    size_t j = i;
    for (; j > 0 && a[j - 1] > v; --j) a[j] = a[j - 1];
    a[j] = v;
  }
}

}  // namespace

void SetVantaSortTableFailureForTest(bool fail) { fail_sort_table = fail; }

void ISortA(std::span<std::int32_t> a, int count) {
  CombSort(a, count, [](std::uint32_t x, std::uint32_t y) { return x < y; });
}

void ISortD(std::span<std::int32_t> a, int count) {
  CombSort(a, count, [](std::uint32_t x, std::uint32_t y) { return x > y; });
}

void VantaSort(std::span<std::int32_t> all, int count) {
  std::span<std::int32_t> a = all.first(Used(all.size(), count));
  const size_t n = a.size();
  if (n < 2) return;
  size_t imin = 0, imax = 0;
  for (size_t i = 1; i < n; ++i) {
    if (a[i] < a[imin]) imin = i;
    if (a[i] > a[imax]) imax = i;
  }
  const std::int32_t lo = a[imin];
  const std::int32_t hi = a[imax];
  std::swap(a[0], a[imax]);
  if (lo == hi) return;

  if (n > 15) {
    const size_t classes = n / 8;
    std::int32_t* table = nullptr;
    if (!fail_sort_table) Dim(table, static_cast<long long>(classes * sizeof(std::int32_t)), true);
    if (table == nullptr) {
      std::sort(a.begin(), a.end());
      return;
    }
    const std::uint64_t range = static_cast<std::uint64_t>(static_cast<std::int64_t>(hi) - lo);
    auto class_of = [&](std::int32_t x) {
      std::uint64_t offset = static_cast<std::uint64_t>(static_cast<std::int64_t>(x) - lo);
      return static_cast<size_t>(offset * (classes - 1) / range);
    };
    for (size_t i = 0; i < n; ++i) ++table[class_of(a[i])];
    for (size_t k = 1; k < classes; ++k) table[k] += table[k - 1];  // running ends

    // Leader cycles: each element goes to the top free slot of its class.
    size_t moved = 0;
    size_t j = 0;
    size_t k = classes - 1;
    while (moved + 1 < n) {
      while (j < n && j >= static_cast<size_t>(table[k])) {
        if (++j < n) k = class_of(a[j]);
      }
      if (j >= n) break;  // every slot visited; the insertion sort finishes
      std::int32_t flash = a[j];
      while (j != static_cast<size_t>(table[k])) {
        k = class_of(flash);
        size_t slot = static_cast<size_t>(--table[k]);
        std::swap(flash, a[slot]);
        ++moved;
      }
    }
    Dim(table, 0, false);
  }
  InsertionSort(a);
}

int IntSrch(std::span<const std::int32_t> a, std::int32_t value, int count) {
  size_t used = Used(a.size(), count);
  if (used == 0) return -1;
  const auto target = static_cast<std::uint32_t>(value);
  long long lo = 0;
  long long hi = static_cast<long long>(used) - 1;
  for (;;) {
    long long mid = (lo + hi) / 2;
    auto v = static_cast<std::uint32_t>(a[static_cast<size_t>(mid)]);
    if (v == target) return static_cast<int>(mid);
    if (v < target)
      lo = mid + 1;
    else
      hi = mid - 1;
    if (hi < lo) return mid == 0 ? -1 : -static_cast<int>(mid);
  }
}

void StrSort(std::span<std::string> a, int count) {
  size_t used = Used(a.size(), count);
  for (size_t i = 0; i + 1 < used; ++i) {
    size_t best = i;
    int best_key = TwoCharKey(a[i]);
    for (size_t j = i + 1; j < used; ++j) {
      int key = TwoCharKey(a[j]);
      if (key <= best_key) {
        best = j;
        best_key = key;
      }
    }
    if (best != i) a[i].swap(a[best]);
  }
}

int StrSrch(std::span<const std::string> a, std::string_view key, int count) {
  size_t used = Used(a.size(), count);
  if (used == 0 || key.size() < 2) return -1;
  const std::string_view key2 = key.substr(0, 2);
  auto head = [&](size_t i) { return std::string_view(a[i]).substr(0, 2); };
  const long long last = static_cast<long long>(used) - 1;
  long long lo = 0, hi = last, mid = 0;
  for (;;) {
    mid = (lo + hi) / 2;
    int order = head(static_cast<size_t>(mid)).compare(key2);
    if (order == 0) break;
    if (order < 0)
      lo = mid + 1;
    else
      hi = mid - 1;
    if (hi < lo) return mid == 0 ? -1 : -static_cast<int>(mid);
  }
  size_t i = static_cast<size_t>(mid);
  while (i > 0 && head(i - 1) == key2) --i;
  for (; static_cast<long long>(i) <= last && head(i) == key2; ++i)
    if (std::string_view(a[i]).substr(0, key.size()) == key) return static_cast<int>(i);
  return i == 0 ? -1 : -static_cast<int>(i);
}

bool IntDelete(std::span<std::int32_t> a, int index, int count) { return DeleteAt(a, index, count); }
bool StrDelete(std::span<std::string> a, int index, int count) { return DeleteAt(a, index, count); }
bool IntInsert(std::span<std::int32_t> a, int index, int count) { return InsertAt(a, index, count); }
bool StrInsert(std::span<std::string> a, int index, int count) { return InsertAt(a, index, count); }

void StrSwap(std::string& s1, std::string& s2) { s1.swap(s2); }

}  // namespace textutil
