// The global operator new of the search core tests, counting what the
// calling thread allocates while AllocationsIn watches it; the memory comes
// from malloc as before.
#include "allocation_counter.h"

#include <cstdlib>
#include <new>

namespace {

thread_local bool watching = false;
thread_local int64_t allocations = 0;

void* Allocate(std::size_t size) {
  if (watching) ++allocations;
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}

}  // namespace

void* operator new(std::size_t size) { return Allocate(size); }
void* operator new[](std::size_t size) { return Allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return Allocate(size);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept { return operator new(size, tag); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

namespace appcore_test {

int64_t AllocationsIn(const std::function<void()>& fn) {
  const int64_t before = allocations;
  watching = true;
  try {
    fn();
  } catch (...) {
    watching = false;
    throw;
  }
  watching = false;
  return allocations - before;
}

}  // namespace appcore_test
