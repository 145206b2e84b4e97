// Growable memory blocks reached through a caller's pointer variable.
// A null pointer holds no block; a failed request leaves the pointer null;
// growth keeps the old contents.
#pragma once

#include <cstddef>

namespace textutil {

// Allocates, resizes or frees the block behind p:
//  - a negative size first forgets p (null, the block is not freed), then
//    works with the absolute size;
//  - a non-null p that is not a block of this family counts as null;
//  - null p, size > 0: a new block (zero-filled when asked);
//  - a block, size 0: the block is freed and p becomes null;
//  - a block, size > 0: resized (growth zero-filled when asked); on failure
//    the block is freed and p becomes null.
void Dim(void*& p, long long size, bool zero);

template <typename T>
void Dim(T*& p, long long size, bool zero) {
  void* raw = p;
  Dim(raw, size, zero);
  p = static_cast<T*>(raw);
}

// Size in bytes of the block at p; 0 when p is not a block of this family.
size_t Cap(const void* p);

}  // namespace textutil
