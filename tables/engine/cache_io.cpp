#include "tables/engine/cache_io.h"

namespace korvex {
namespace {

// Seek and transfer under the handler's lock.
template <class Transfer>
auto Locked(TFileHandler& file, std::uint64_t position, Transfer transfer) {
  file.LockFileHandler();
  try {
    file.Seek(static_cast<std::int64_t>(position), 0);
    auto result = transfer();
    file.UnlockFileHandler();
    return result;
  } catch (...) {
    file.UnlockFileHandler();
    throw;
  }
}

}  // namespace

std::uint32_t ReadIntoCache(TFileHandler& file, TEntryCache& cache, const TCacheLayout& layout, std::uint32_t first,
                            std::uint32_t count, std::vector<std::uint8_t>& buffer,
                            const std::function<bool(std::uint32_t whole)>& accept_short,
                            const std::function<TCacheEntry*(std::uint32_t key)>& obtain,
                            const std::function<void(TCacheEntry*, const std::uint8_t*)>& decode) {
  const std::int64_t length = std::int64_t{count} * layout.entry_size;
  buffer.resize(static_cast<std::size_t>(length));
  std::int64_t got = Locked(file, layout.position(first), [&] { return file.Read(buffer.data(), length, true); });
  auto whole = static_cast<std::uint32_t>(got / layout.entry_size);
  if (whole < count && !accept_short(whole)) return whole;
  for (std::uint32_t i = 0; i < whole; ++i) {
    std::uint32_t key = first + i * layout.step;
    const std::uint8_t* bytes = buffer.data() + std::size_t{i} * layout.entry_size;
    TCacheEntry* entry = cache.Find(key);
    if (!entry) decode(obtain(key), bytes);
    else if (entry->Evictable()) decode(entry, bytes);
  }
  return whole;
}

std::uint32_t WriteModifiedRuns(TFileHandler& file, TEntryCache& cache, const TCacheLayout& layout,
                                std::uint32_t skip_first, std::uint32_t skip_last,
                                const std::function<void(TCacheEntry*, std::uint8_t*)>& encode,
                                const std::function<void()>& written) {
  std::uint32_t count = 0;
  std::vector<std::uint8_t> out;
  for (const auto& run : cache.ModifiedRuns(layout.step, skip_first, skip_last)) {
    out.resize(run.size() * layout.entry_size);
    for (std::size_t i = 0; i < run.size(); ++i) encode(run[i], out.data() + i * layout.entry_size);
    Locked(file, layout.position(run.front()->Key),
           [&] { return file.Write(out.data(), static_cast<std::int64_t>(out.size())), 0; });
    for (TCacheEntry* e : run) e->Modified = false;
    written();
    ++count;
  }
  return count;
}

}  // namespace korvex
