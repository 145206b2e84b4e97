#include "textutil/memblock.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unordered_map>

namespace textutil {
namespace {

// The live blocks and their sizes, so that Dim and Cap can tell a block of
// this family from any other address.
struct Registry {
  std::mutex mutex;
  std::unordered_map<const void*, size_t> sizes;
};

Registry& Blocks() {
  static Registry registry;
  return registry;
}

}  // namespace

void Dim(void*& p, long long size, bool zero) {
  if (size < 0) {
    p = nullptr;
    size = size == LLONG_MIN ? LLONG_MAX : -size;
  }
  Registry& reg = Blocks();
  std::lock_guard<std::mutex> lock(reg.mutex);
  auto it = p ? reg.sizes.find(p) : reg.sizes.end();
  if (it == reg.sizes.end()) p = nullptr;
  if (!p) {
    if (size == 0) return;
    void* block = zero ? std::calloc(1, static_cast<size_t>(size)) : std::malloc(static_cast<size_t>(size));
    if (!block) return;
    reg.sizes[block] = static_cast<size_t>(size);
    p = block;
    return;
  }
  size_t old_size = it->second;
  reg.sizes.erase(it);
  if (size == 0) {
    std::free(p);
    p = nullptr;
    return;
  }
  void* block = std::realloc(p, static_cast<size_t>(size));
  if (!block) {
    std::free(p);
    p = nullptr;
    return;
  }
  if (zero && static_cast<size_t>(size) > old_size)
    std::memset(static_cast<char*>(block) + old_size, 0, static_cast<size_t>(size) - old_size);
  reg.sizes[block] = static_cast<size_t>(size);
  p = block;
}

size_t Cap(const void* p) {
  if (!p) return 0;
  Registry& reg = Blocks();
  std::lock_guard<std::mutex> lock(reg.mutex);
  auto it = reg.sizes.find(p);
  return it == reg.sizes.end() ? 0 : it->second;
}

}  // namespace textutil
