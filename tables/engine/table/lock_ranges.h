// The byte ranges through which processes and sessions share a table. All
// lie just below 2 GB, beyond every stored byte (files stop at 2,000,000,000
// bytes), so a lock never covers data.
//
//   .DAT  2147483647            1 byte     internal write lock; also held by a
//                                          transaction for its whole span
//   .DAT  2147483646 - n        1 byte     user lock of record n
//   .DAT  2047483645    100000001 bytes    user table lock (covers records
//                                          1 .. 100000001)
//   .DAT  2047483644 - s        1 byte     semaphore s, 1..1024
//   .IDX  2147418112        65535 bytes    internal write lock
//   .BLB                                   (the same two ranges as .IDX)
//   .IDX  2147483647 - r        1 byte     a reader's byte, r in 1..65534
//
// A reader's byte lies inside the writer's range: a writer fails while any
// reader holds a byte and readers fail while a writer holds the range.
#pragma once

#include <cstdint>

namespace korvex {

inline constexpr std::int64_t kDataWriteLockOffset = 2147483647;
inline constexpr std::int64_t kFileWriteLockOffset = 2147418112;
inline constexpr std::int64_t kFileWriteLockLength = 65535;
inline constexpr std::int64_t kFileReadLockBase = 2147483647;
inline constexpr std::int64_t kRecordLockBase = 2147483646;
inline constexpr std::int64_t kTableLockOffset = 2047483645;
inline constexpr std::int64_t kTableLockLength = 100000001;
inline constexpr std::int64_t kSemaphoreLockBase = 2047483644;
inline constexpr int kMaxSemaphore = 1024;
inline constexpr int kMaxReadLockSlot = 65534;

// The .DAT byte of record n's user lock and of semaphore s.
inline constexpr std::int64_t RecordByte(std::uint32_t n) { return kRecordLockBase - std::int64_t{n}; }
inline constexpr std::int64_t SemaphoreByte(int s) { return kSemaphoreLockBase - s; }

}  // namespace korvex
