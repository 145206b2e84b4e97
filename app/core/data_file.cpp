#include "app/core/data_file.h"

#include "app/core/word_index.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <concepts>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <new>
#include <optional>
#include <system_error>
#include <thread>

#include "app/core/record_line.h"
#include "app/core/simd_path.h"
#include "app/core/work_crew.h"
#include "platform/runtime/exceptions.h"
#include "platform/runtime/files.h"
#include "platform/runtime/os_files.h"
#include "platform/runtime/os_memory.h"
#include "platform/runtime/parts.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif

namespace appcore {
namespace {

constexpr size_t kHugePage = size_t{2} << 20;
// Blocks this large come from mmap with transparent huge pages: a million
// lines fill their block with a few hundred page faults instead of tens of
// thousands, which is most of the cost of reading files from the cache.
constexpr size_t kMapThreshold = size_t{8} << 20;
constexpr size_t kMaxFileSize = 0xFFFFFFFFu;  // offsets are 32-bit
constexpr size_t kOpenBatch = 256;             // files open at one time
// Bytes read between two looks at whether more lines can be handed on
// while a file is read in parts.
constexpr size_t kSurveyPiece = size_t{64} << 10;
// How far ahead of a pass over a file's bytes to fetch them (see IndexLines).
constexpr size_t kFetchAhead = 2048;

// The bytes of an open file of a size worth mapping, mapped; null otherwise.
std::shared_ptr<ByteBlock> MapIfLarge(int fd, const rtl::os::FileInfo& info) {
  const size_t size = static_cast<size_t>(info.size);
  return size >= ByteBlock::kMapFrom ? ByteBlock::MapFile(fd, size) : nullptr;
}

std::string OpenError(const std::string& path, int error) {
  const std::string shown = rtl::PathToText(path);
  // OpenRegularForRead refuses pipes, devices and sockets with EINVAL.
  return "Cannot open file \"" + shown + "\". " +
         (error == EINVAL ? "\"" + shown + "\" is not a file" : std::string(std::strerror(error)));
}

std::string ReadError(const std::string& path, const std::string& reason) {
  return "Cannot read file \"" + rtl::PathToText(path) + "\". " + reason;
}

int OpenForRead(const std::string& path, rtl::os::FileInfo& info, std::string& error) {
  const int fd = rtl::os::OpenRegularForRead(path, info);
  if (fd < 0) {
    error = OpenError(path, -fd);
    return -1;
  }
  if (static_cast<uint64_t>(info.size) >= kMaxFileSize) {
    rtl::os::Close(fd);
    error = ReadError(path, "The file is 4 GiB or larger.");
    return -1;
  }
  return fd;
}

FileStamp StampFromInfo(const rtl::os::FileInfo& info) {
  FileStamp stamp;
  stamp.size = info.size;
  stamp.mtime_ns = info.mtime_ns;
  stamp.inode = info.inode;
  stamp.device = info.device;
  return stamp;
}

// True when the file has more bytes after what was read (it grew).
bool HasMore(int fd) {
  char probe;
  return rtl::os::ReadSome(fd, &probe, 1) > 0;
}

size_t RoundUp(size_t n, size_t to) { return (n + to - 1) / to * to; }

}  // namespace

FileStamp StampOf(const std::string& path) {
  rtl::os::FileInfo info;
  if (!rtl::os::Stat(path, info)) return {};
  return StampFromInfo(info);
}

// ---- ByteBlock ------------------------------------------------------------

ByteBlock::ByteBlock(size_t size) : size_(size) {
  if (size >= kMapThreshold) {
    const size_t body = RoundUp(size, kHugePage);
    if (void* p = rtl::os::MapAlignedMemory(body, kHugePage)) {
      data_ = static_cast<char*>(p);
      mapped_ = body;
      return;
    }
  }
  data_ = new char[size == 0 ? 1 : size];
}

std::shared_ptr<ByteBlock> ByteBlock::MapFile(int fd, size_t size) {
  const char* map = rtl::os::MapFile(fd, size);
  if (map == nullptr) return nullptr;
  std::shared_ptr<ByteBlock> block(new ByteBlock());
  block->file_map_ = map;
  block->size_ = size;
  return block;
}

ByteBlock::~ByteBlock() {
  if (file_map_ != nullptr)
    rtl::os::UnmapFile(file_map_, size_);
  else if (mapped_ != 0)
    rtl::os::UnmapMemory(data_, mapped_);
  else
    delete[] data_;
}

// ---- DataFile ---------------------------------------------------------------

DataFile::DataFile(std::shared_ptr<ByteBlock> block, const char* bytes, size_t size, FileStamp stamp,
                   const PatternAnchors* anchors, const SurveyFn* part)
    : block_(std::move(block)), bytes_(bytes), size_(size), stamp_(stamp) {
  ReadAsText();
  // Anchors that are line ends would put places on line ends; such a
  // pattern is found the slower way.
  const auto ends_line = [](uint8_t c) { return c == '\r' || c == '\n'; };
  if (anchors != nullptr &&
      !std::any_of(anchors->first_bytes.begin(), anchors->first_bytes.end(), ends_line) &&
      !std::any_of(anchors->second_bytes.begin(), anchors->second_bytes.end(), ends_line)) {
    read_with_ = true;
    anchors_ = *anchors;
    Survey<true>(part);
  } else {
    Survey<false>(part);
  }
}

void DataFile::ReadAsText() {
  const std::string_view bytes(bytes_, size_);
  // No text file holds a zero byte (a binary file, or one of UTF-16, does).
  holds_nul_ = size_ > 0 && std::memchr(bytes_, 0, size_) != nullptr;
  if (holds_nul_) return;
  form_ = DetectForm(bytes, &mixed_lines_);
  if (!form_.utf8 && !form_.mixed) return;
  // The text in memory of its own: a mapped file's pages stay as they are.
  std::string text;
  showable_ = DecodeText(bytes, form_, text, &unshowable_, &unshowable_line_);
  auto block = std::make_shared<ByteBlock>(text.size());
  if (!text.empty()) std::memcpy(block->data(), text.data(), text.size());
  block_ = std::move(block);
  bytes_ = block_->data();
  size_ = text.size();
}

void DataFile::ForgetAnchors() const {
  read_with_ = false;
  std::vector<Candidate>().swap(candidates_);
  std::vector<int8_t>().swap(brackets_near_);
}

std::shared_ptr<const DataFile> DataFile::FromText(std::string_view text) {
  auto block = std::make_shared<ByteBlock>(text.size());
  if (!text.empty()) std::memcpy(block->data(), text.data(), text.size());
  FileStamp stamp;
  stamp.size = static_cast<int64_t>(text.size());
  const char* bytes = block->data();
  return std::make_shared<DataFile>(std::move(block), bytes, text.size(), stamp);
}

std::shared_ptr<const DataFile> DataFile::Load(const std::string& path) {
  rtl::os::FileInfo info;
  std::string error;
  const int fd = OpenForRead(path, info, error);
  if (fd < 0) throw rtl::EFOpenError(error);
  rtl::os::FileDescriptor owner(fd);
  if (std::shared_ptr<ByteBlock> map = MapIfLarge(fd, info)) {
    const char* bytes = map->bytes();
    return std::make_shared<DataFile>(std::move(map), bytes, map->size(), StampFromInfo(info));
  }
  // A file that grows while it is read is read again with room for more.
  size_t room = static_cast<size_t>(info.size);
  for (;;) {
    auto block = std::make_shared<ByteBlock>(room);
    const std::int64_t got = rtl::os::ReadFully(fd, block->data(), room);
    if (got < 0) throw rtl::EReadError(ReadError(path, std::strerror(static_cast<int>(-got))));
    if (static_cast<size_t>(got) == room && HasMore(fd)) {
      room = room * 2 + 4096;
      if (room >= kMaxFileSize || !rtl::os::Rewind(fd))
        throw rtl::EReadError(ReadError(path, "The file keeps changing or is too large."));
      continue;
    }
    rtl::os::StatDescriptor(fd, info);
    FileStamp stamp = StampFromInfo(info);
    const char* bytes = block->data();
    return std::make_shared<DataFile>(std::move(block), bytes, static_cast<size_t>(got), stamp);
  }
}

std::vector<std::shared_ptr<const DataFile>> DataFile::LoadMany(const std::vector<std::string>& paths,
                                                                std::vector<std::string>& errors,
                                                                const ArrivalFn& arrived,
                                                                const std::atomic<bool>* stop,
                                                                const PatternAnchors* anchors, WorkCrew* crew,
                                                                const PartFn& part) {
  std::optional<WorkCrew> own;
  if (crew == nullptr) crew = &own.emplace();
  const auto stopped = [stop] { return stop != nullptr && stop->load(std::memory_order_relaxed); };
  const size_t count = paths.size();
  std::vector<std::shared_ptr<const DataFile>> files(count);
  errors.assign(count, std::string());
  for (size_t first = 0; first < count && !stopped(); first += kOpenBatch) {
    const size_t last = std::min(count, first + kOpenBatch);
    // Open the batch and lay its files out in one block.
    std::vector<int> fds(last - first, -1);
    std::vector<rtl::os::FileInfo> stats(last - first);
    std::vector<size_t> offsets(last - first, 0);
    // Opened by the crew: its first round also starts its threads, and each
    // opens files as soon as it runs.
    const size_t threads = std::min<size_t>(crew->Processors(), 8);
    crew->Run(threads, last - first,
              [&](size_t k, bool) { fds[k] = OpenForRead(paths[first + k], stats[k], errors[first + k]); });
    size_t total = 0;
    for (size_t i = first; i < last; ++i) {
      if (fds[i - first] < 0 || static_cast<size_t>(stats[i - first].size) >= ByteBlock::kMapFrom) continue;
      offsets[i - first] = total;
      total += RoundUp(static_cast<size_t>(stats[i - first].size), 64);
    }
    // Without room for the whole batch, each file is read on its own below.
    std::shared_ptr<ByteBlock> block;
    try {
      block = std::make_shared<ByteBlock>(total);
    } catch (const std::bad_alloc&) {
    }
    std::vector<char> alone(last - first, 0);  // read on its own below
    // The largest files first, so that the threads finish together instead
    // of one of them reading a large file while the others wait. One
    // thread reads them in order: what it finds as it reads is then in
    // file order already.
    std::vector<size_t> order(last - first);
    for (size_t k = 0; k < order.size(); ++k) order[k] = k;
    if (threads > 1)
      std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        const auto size = [&](size_t k) { return fds[k] < 0 ? 0 : stats[k].size; };
        return size(a) > size(b);
      });
    // Each file is read (and handed on) by whichever thread takes it.
    const CrewTask read_one = [&](size_t taken, bool) {
      const size_t k = order[taken];
      const size_t i = first + k;
      if (fds[k] < 0) return;
      if (stopped()) {
        rtl::os::Close(fds[k]);
        fds[k] = -1;
        return;
      }
      std::shared_ptr<ByteBlock> map;
      const SurveyFn hook = part ? SurveyFn([&part, i](const DataFile& file, int lines) { part(i, file, lines); })
                                 : SurveyFn();
      try {
        map = MapIfLarge(fds[k], stats[k]);
        if (map) {
          const char* bytes = map->bytes();
          files[i] = std::make_shared<DataFile>(map, bytes, map->size(), StampFromInfo(stats[k]), anchors, &hook);
        }
      } catch (const std::exception& e) {
        errors[i] = ReadError(paths[i], e.what());
      }
      if (map) {
        // Mapped (or failed while its lines were indexed).
      } else if (static_cast<size_t>(stats[k].size) >= ByteBlock::kMapFrom || !block) {
        alone[k] = 1;  // not mapped, or no room in the batch's block
      } else {
        try {
          char* into = block->data() + offsets[k];
          const std::int64_t got = rtl::os::ReadFully(fds[k], into, static_cast<size_t>(stats[k].size));
          if (got < 0) {
            errors[i] = ReadError(paths[i], std::strerror(static_cast<int>(-got)));
          } else if (static_cast<size_t>(got) == static_cast<size_t>(stats[k].size) && HasMore(fds[k])) {
            alone[k] = 1;  // it grew: read it again whole
          } else {
            files[i] = std::make_shared<DataFile>(block, into, static_cast<size_t>(got), StampFromInfo(stats[k]),
                                                  anchors, &hook);
          }
        } catch (const std::exception& e) {
          errors[i] = ReadError(paths[i], e.what());
        }
      }
      rtl::os::Close(fds[k]);
      fds[k] = -1;
      if (files[i] && arrived) arrived(i, files[i]);
    };
    crew->Run(threads, order.size(), read_one);
    for (size_t i = first; i < last; ++i) {
      if (!alone[i - first] || !errors[i].empty() || stopped()) continue;
      try {
        files[i] = Load(paths[i]);
      } catch (const rtl::Exception& e) {
        errors[i] = e.Message();
      } catch (const std::bad_alloc&) {
        errors[i] = ReadError(paths[i], "Not enough memory.");
      }
      if (files[i] && arrived) arrived(i, files[i]);
    }
  }
  return files;
}

int DataFile::LineAt(size_t offset, int from) const {
  // The line sought is mostly a few lines on: gallop from `from`, then
  // halve what is left.
  Starts();
  const auto target = static_cast<uint32_t>(offset);
  const size_t last = starts_.size() - 1;  // starts_[last] is the size
  size_t low = static_cast<size_t>(from) + 1, step = 1;
  while (low + step < last && starts_[low + step] <= target) {
    low += step;
    step *= 2;
  }
  auto first = starts_.begin() + static_cast<std::ptrdiff_t>(low);
  auto it = std::upper_bound(first, starts_.begin() + static_cast<std::ptrdiff_t>(std::min(low + step, last)), target);
  return static_cast<int>(it - starts_.begin()) - 1;
}

DataFile::~DataFile() = default;

int64_t DataFile::RecordsBetween(int first, int end) const {
  first = std::max(first, 1);
  end = std::min(end, line_count_);
  if (end <= first) return 0;
  // Record lines before line, where that is known without the line index.
  const auto before = [this](int line, int64_t& records) {
    if (line >= line_count_) {
      records = record_count_;
    } else if ((line - 1) % kStrideLines == 0) {
      records = stride_records_[static_cast<size_t>((line - 1) / kStrideLines)];
    } else {
      return false;
    }
    return true;
  };
  int64_t to_first = 0, to_end = 0;
  if (before(first, to_first) && before(end, to_end)) return to_end - to_first;
  int64_t records = 0;
  for (int i = first; i < end; ++i) records += (Flags(i) & kRecordLine) != 0 ? 1 : 0;
  return records;
}

void DataFile::BuildLines() const {
  std::call_once(lines_once_, [this] {
    // Built once, under the flag, of an object made writable (every file
    // is made by make_shared).
    auto* self = const_cast<DataFile*>(this);
    self->IndexLines();
    // A mapped file changed by another program since it was read may now
    // hold other line ends: the index keeps the count found then, with
    // empty lines at the end or its last lines joined, so that every line
    // number handed out stays valid.
    const auto count = static_cast<size_t>(line_count_);
    if (self->starts_.size() > count + 1) {
      self->starts_.resize(count + 1);
      self->starts_.back() = static_cast<uint32_t>(size_);
      self->flags_.resize(count);
      while (!self->marked_lines_.empty() && self->marked_lines_.back() >= count) self->marked_lines_.pop_back();
    }
    while (self->starts_.size() < count + 1) {
      self->starts_.push_back(static_cast<uint32_t>(size_));
      self->flags_.push_back(0);
    }
    lines_built_.store(true, std::memory_order_release);
  });
}


size_t DataFile::LineBegin(size_t offset, size_t floor) const {
  const char* p = bytes_;
#if defined(__SSE2__)
  const __m128i cr = _mm_set1_epi8('\r'), lf = _mm_set1_epi8('\n');
  for (; offset >= floor + 16; offset -= 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + offset - 16));
    const auto ends = static_cast<uint32_t>(_mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(v, cr), _mm_cmpeq_epi8(v, lf))));
    if (ends) return offset - 16 + static_cast<size_t>(32 - __builtin_clz(ends));
  }
#endif
  while (offset > floor && p[offset - 1] != '\n' && p[offset - 1] != '\r') --offset;
  return offset;
}

#if defined(__x86_64__) && defined(__GNUC__)
namespace {

// LineEnd sixty-four bytes a turn, where the processor has AVX-512: most
// lines end within one such turn.
__attribute__((target("avx512f,avx512bw,bmi"))) size_t LineEnd512(const char* p, size_t n, size_t offset) {
  const __m512i cr = _mm512_set1_epi8('\r'), lf = _mm512_set1_epi8('\n');
  for (; offset < n; offset += 64) {
    // The last bytes are read through a mask, which reads nothing past n.
    const __mmask64 in = n - offset >= 64 ? ~__mmask64{0} : (__mmask64{1} << (n - offset)) - 1;
    const __m512i v = _mm512_maskz_loadu_epi8(in, p + offset);
    const uint64_t ends = (_mm512_cmpeq_epi8_mask(v, cr) | _mm512_cmpeq_epi8_mask(v, lf)) & in;
    if (ends) return offset + static_cast<size_t>(__builtin_ctzll(ends));
  }
  return n;
}

}  // namespace
#endif

size_t DataFile::LineEnd(size_t offset) const {
  const char* p = bytes_;
#if defined(__x86_64__) && defined(__GNUC__)
  const bool widest = UseAvx512();
  if (widest) return LineEnd512(p, size_, offset);
#endif
#if defined(__SSE2__)
  const __m128i cr = _mm_set1_epi8('\r'), lf = _mm_set1_epi8('\n');
  for (; offset + 16 <= size_; offset += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + offset));
    const auto ends = static_cast<uint32_t>(_mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(v, cr), _mm_cmpeq_epi8(v, lf))));
    if (ends) return offset + static_cast<size_t>(__builtin_ctz(ends));
  }
#endif
  while (offset < size_ && p[offset] != '\r' && p[offset] != '\n') ++offset;
  return offset;
}

__attribute__((always_inline)) inline uint8_t DataFile::RecordFacts(size_t begin, size_t end) const {
  // Trimmed of codes up to 32 at both ends (TrimLine), then the record test
  // (IsRecordLine) and the period of the year. Mostly the line begins with
  // its first character and the file holds four bytes from there: a year
  // of fewer characters is then followed by codes up to 32 (what the trim
  // drops, or the line end), which compare with the bounds' digits as the
  // zeros of a short year do.
  const auto first = begin < end ? static_cast<uint8_t>(bytes_[begin]) : 0u;
  if (first > 32 && begin + 4 <= size_) {
    if ((first >= '0' && first <= '9') || first == '?')
      return kRecordLine | PeriodOf(std::string_view(bytes_ + begin, 4));
    return 0;
  }
  while (begin < end && static_cast<uint8_t>(bytes_[begin]) <= 32) ++begin;
  const char c = begin < end ? bytes_[begin] : '\0';
  if ((c >= '0' && c <= '9') || c == '?') {
    while (static_cast<uint8_t>(bytes_[end - 1]) <= 32) --end;
    return kRecordLine | PeriodOf(std::string_view(bytes_ + begin, end - begin));
  }
  return 0;
}

uint8_t DataFile::FactsOf(size_t begin, size_t end, uint8_t marks) const {
  return static_cast<uint8_t>(RecordFacts(begin, end) | marks);
}



const WordIndex& DataFile::Words() const {
  std::call_once(words_once_, [this] {
    words_ = std::make_unique<WordIndex>(*this);
    words_built_.store(true, std::memory_order_release);
  });
  return *words_;
}

size_t DataFile::MemoryUse() const {
  size_t use = size_ + sizeof(*this) + stride_starts_.capacity() * sizeof(uint32_t) +
               stride_records_.capacity() * sizeof(int64_t) +
               (bracket_lines_.capacity() + quote_lines_.capacity() + closer_lines_.capacity()) * sizeof(Span) +
               candidates_.capacity() * sizeof(Candidate) + brackets_near_.capacity();
  if (LinesBuilt())
    use += starts_.capacity() * sizeof(uint32_t) + flags_.capacity() + marked_lines_.capacity() * sizeof(uint32_t);
  return use + (WordsBuilt() ? words_->MemoryUse() : 0);
}

__attribute__((always_inline)) inline void DataFile::CloseLine(size_t begin, size_t end, uint8_t marks) {
  const int index = static_cast<int>(flags_.size());
  uint8_t flags = marks;
  if (index > 0) {
    flags |= RecordFacts(begin, end);
    if (flags & kRecordLine) ++period_counts_[flags & 3];
  }
  if (marks) marked_lines_.push_back(static_cast<uint32_t>(index));
  flags_.push_back(flags);
}

namespace {

// The bytes of a 64-byte window that end lines (CR, LF) and that mark a
// line for a closer look ('[' and '"'), one bit per byte.
struct WindowBits {
  uint64_t ends = 0, marks = 0;
  uint64_t cr = 0;      // the ends that are CR
  uint64_t places = 0;  // where both anchors stand (a pass with anchors)
  uint64_t digits = 0;  // the digits, which begin most record lines
};

// A window state that looks for anchors (kAnchored set; it holds them).
template <typename Window>
concept Anchored = requires { requires Window::kAnchored; };
// A window state whose windows a loop of its own can take (see
// QuickWindowsBy).
template <typename Window>
concept TakesQuickly = requires { requires Window::kTakesQuickly; };

// The places at offsets at .. at + 63 of p[0, n) where both anchors stand,
// one bit each, byte by byte: for the last windows, where the wider loads
// would read past the bytes.
uint64_t AnchorBitsNear(const char* p, size_t n, size_t at, const PatternAnchors& a) {
  const auto takes = [](const std::array<uint8_t, 2>& set, char c) {
    return set[0] == static_cast<uint8_t>(c) || set[1] == static_cast<uint8_t>(c);
  };
  uint64_t bits = 0;
  for (size_t k = 0; k < 64 && at + k + a.Reach() < n; ++k)
    if (takes(a.first_bytes, p[at + k + a.first]) && takes(a.second_bytes, p[at + k + a.second]))
      bits |= uint64_t{1} << k;
  return bits;
}

#if defined(__SSE2__)
// The same sixteen bytes at a time; p[63 + a.Reach()] must lie inside the bytes.
inline uint64_t AnchorBits(const char* p, const PatternAnchors& a) {
  const __m128i a1 = _mm_set1_epi8(static_cast<char>(a.first_bytes[0]));
  const __m128i b1 = _mm_set1_epi8(static_cast<char>(a.first_bytes[1]));
  const __m128i a2 = _mm_set1_epi8(static_cast<char>(a.second_bytes[0]));
  const __m128i b2 = _mm_set1_epi8(static_cast<char>(a.second_bytes[1]));
  uint64_t bits = 0;
  for (int k = 0; k < 4; ++k) {
    const __m128i v1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * k + a.first));
    const __m128i v2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * k + a.second));
    const __m128i both = _mm_and_si128(_mm_or_si128(_mm_cmpeq_epi8(v1, a1), _mm_cmpeq_epi8(v1, b1)),
                                       _mm_or_si128(_mm_cmpeq_epi8(v2, a2), _mm_cmpeq_epi8(v2, b2)));
    bits |= uint64_t{static_cast<uint32_t>(_mm_movemask_epi8(both))} << (16 * k);
  }
  return bits;
}
#endif

inline WindowBits ScanWindow(const char* p) {
  WindowBits bits;
#if defined(__SSE2__)
  const __m128i cr = _mm_set1_epi8('\r'), lf = _mm_set1_epi8('\n');
  const __m128i br = _mm_set1_epi8('['), qu = _mm_set1_epi8('"'), cl = _mm_set1_epi8(']');
  for (int k = 0; k < 4; ++k) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * k));
    const auto ends = static_cast<uint32_t>(
        _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(v, cr), _mm_cmpeq_epi8(v, lf))));
    const auto marks = static_cast<uint32_t>(_mm_movemask_epi8(
        _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, br), _mm_cmpeq_epi8(v, qu)), _mm_cmpeq_epi8(v, cl))));
    const auto crs = static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, cr)));
    const __m128i from_zero = _mm_sub_epi8(v, _mm_set1_epi8('0'));
    const auto digits = static_cast<uint32_t>(
        _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_min_epu8(from_zero, _mm_set1_epi8(9)), from_zero)));
    bits.digits |= uint64_t{digits} << (16 * k);
    bits.cr |= uint64_t{crs} << (16 * k);
    bits.ends |= uint64_t{ends} << (16 * k);
    bits.marks |= uint64_t{marks} << (16 * k);
  }
#else
  for (int k = 0; k < 64; ++k) {
    const char c = p[k];
    if (c == '\r' || c == '\n') bits.ends |= uint64_t{1} << k;
    if (c == '\r') bits.cr |= uint64_t{1} << k;
    if (c == '[' || c == '"' || c == ']') bits.marks |= uint64_t{1} << k;
    if (c >= '0' && c <= '9') bits.digits |= uint64_t{1} << k;
  }
#endif
  return bits;
}

// What the quick loop below needs of one window of 64 bytes, one bit per
// byte: CR, LF, the bytes that begin a record line once codes up to 32 are
// passed (a digit or '?'), the codes up to 32, the places where both
// anchors stand (each anchor's two bytes folded into one, see FoldOf), and
// the marks ('[', ']', '"').
struct QuickMasks {
  uint64_t cr, lf, record, low, places, marks;
};

// Hands window the windows from offset i on while they come as most do and
// the next window lies inside the bytes; returns the offset of the first
// it did not take, which the caller's whole handling then takes. A window
// comes as most do when every CR in it has its LF next, no line that
// begins with codes up to 32 runs on past the window, the list of marked
// windows has a free slot, and no line whose start is noted ends in it.
// masks(p + i, anchor1 + i, anchor2 + i) gives a window's QuickMasks; the
// loop is the same for every vector width, and a caller built for a
// processor's extensions has it flattened into itself (see QuickWindows256).
// Record lines that begin with codes up to 32 are counted by a carry over
// their bits in every window; the places go to the list with the marks.
template <typename Window, typename Masks>
inline size_t QuickWindowsBy(const char* p, size_t n, size_t i, Window& window, const Masks& masks) {
  auto& marked = *window.marked;
  const char* const p1 = p + window.anchors.first;
  const char* const p2 = p + window.anchors.second;
  auto* slot = marked.end;
  size_t line_start = window.line_start;
  int64_t records = window.records;
  uint64_t carry = window.carry;
  // Line ends to come before the one after which a line's start is noted
  // (at least one: the state is past every noted line).
  uint32_t to_stride = window.next_stride - window.ends;
  for (;;) {
    if (i + 128 > n) break;
    if (slot == marked.last) {
      marked.end = slot;
      marked.Take(*window.file, p);
      slot = marked.end;
    }
    const auto slots = static_cast<size_t>(marked.last - slot);
    const size_t stop = i + 64 * std::min(slots, (n - 64 - i) / 64);
    for (; i != stop; i += 64) {
      __builtin_prefetch(p + i + kFetchAhead);
      const QuickMasks m = masks(p + i, p1 + i, p2 + i);
      // Every CR is followed by its LF (a lone CR is left to the caller);
      // the next window's first byte lies inside the bytes.
      const uint64_t lf_next = p[i + 64] == '\n' ? uint64_t{1} << 63 : 0;
      if (__builtin_expect((m.cr & ~((m.lf >> 1) | lf_next)) != 0, 0)) break;
      // Line c starts after the c-th LF. It is a record line when its first
      // byte is a digit or '?', or when codes up to 32 begin it and a digit
      // or '?' follows them: adding the run's first bit to the bits of the
      // codes carries to the byte after the run. A CR counts with the codes,
      // as its LF ends their run at once (or the run reaches the window's
      // end).
      const uint64_t blanks = m.low & ~m.lf;
      const uint64_t starts = (m.lf << 1) | carry;
      const uint64_t after_blanks = blanks + (starts & blanks);
      if (__builtin_expect(after_blanks < blanks, 0)) break;  // a run goes on past the window
      const auto lines = static_cast<uint32_t>(__builtin_popcountll(m.lf));
      if (__builtin_expect(lines >= to_stride, 0)) break;
      slot->at = static_cast<uint32_t>(i);
      slot->line_start = static_cast<uint32_t>(line_start);
      slot->marks = m.marks;
      slot->ends = m.cr | m.lf;
      slot->places = m.places;
      slot += (m.marks | m.places) != 0;
      records += __builtin_popcountll((starts | after_blanks) & m.record);
      to_stride -= lines;
      if (m.lf) line_start = i + 64 - static_cast<size_t>(__builtin_clzll(m.lf));
      carry = m.lf >> 63;
    }
    if (i != stop) break;
  }
  marked.end = slot;
  window.line_start = line_start;
  window.records = records;
  window.carry = carry;
  window.ends = window.next_stride - to_stride;
  return i;
}

// The size to hand the quick loop so that it takes only windows that begin
// before stop (it reads the 64 bytes after each window it takes).
inline size_t QuickEnd(size_t n, size_t stop) { return stop < n && n - stop > 64 ? stop + 64 : n; }

// Whether the quick loop may take a window state's windows: its anchors
// lie within a window of a place and each folds into one byte.
template <typename Window>
bool QuickAnchors(const Window& window) {
  return window.anchors.Reach() < 64 && FoldOf(window.anchors.first_bytes).usable &&
         FoldOf(window.anchors.second_bytes).usable;
}

#if defined(__SSE2__)
// QuickMasks sixteen bytes at a time (SSE2, which every x86-64 has).
struct QuickMasks128 {
  __m128i cr = _mm_set1_epi8('\r'), lf = _mm_set1_epi8('\n'), zero = _mm_set1_epi8('0'), nine = _mm_set1_epi8(9),
          question = _mm_set1_epi8('?'), space = _mm_set1_epi8(' '), bracket = _mm_set1_epi8('['),
          two = _mm_set1_epi8(2), quote = _mm_set1_epi8('"');
  __m128i or1, is1, or2, is2;
  explicit QuickMasks128(const PatternAnchors& a) {
    const AnchorFold f1 = FoldOf(a.first_bytes), f2 = FoldOf(a.second_bytes);
    or1 = _mm_set1_epi8(static_cast<char>(f1.bit));
    is1 = _mm_set1_epi8(static_cast<char>(f1.image));
    or2 = _mm_set1_epi8(static_cast<char>(f2.bit));
    is2 = _mm_set1_epi8(static_cast<char>(f2.image));
  }
  QuickMasks operator()(const char* v_at, const char* a1_at, const char* a2_at) const {
    QuickMasks m{};
    for (int k = 0; k < 4; ++k) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(v_at + 16 * k));
      const __m128i v1 = _mm_or_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a1_at + 16 * k)), or1);
      const __m128i v2 = _mm_or_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a2_at + 16 * k)), or2);
      const __m128i from_zero = _mm_sub_epi8(v, zero);
      const __m128i record = _mm_or_si128(_mm_cmpeq_epi8(_mm_min_epu8(from_zero, nine), from_zero),
                                          _mm_cmpeq_epi8(v, question));
      // '[' and ']' are the bytes 2 apart from 0x5B: one test for both.
      const __m128i from_bracket = _mm_sub_epi8(v, bracket);
      const __m128i marks = _mm_or_si128(_mm_cmpeq_epi8(_mm_andnot_si128(two, from_bracket), _mm_setzero_si128()),
                                         _mm_cmpeq_epi8(v, quote));
      const int shift = 16 * k;
      const auto bits = [shift](__m128i x) {
        return uint64_t{static_cast<uint32_t>(_mm_movemask_epi8(x))} << shift;
      };
      m.cr |= bits(_mm_cmpeq_epi8(v, cr));
      m.lf |= bits(_mm_cmpeq_epi8(v, lf));
      m.record |= bits(record);
      m.low |= bits(_mm_cmpeq_epi8(_mm_min_epu8(v, space), v));
      m.places |= bits(_mm_and_si128(_mm_cmpeq_epi8(v1, is1), _mm_cmpeq_epi8(v2, is2)));
      m.marks |= bits(marks);
    }
    return m;
  }
};

template <typename Window>
__attribute__((noinline, flatten)) size_t QuickWindows128Plain(const char* p, size_t n, size_t i, Window& window) {
  return QuickWindowsBy(p, n, i, window, QuickMasks128(window.anchors));
}

// The same counting with the POPCNT instruction, which nearly every
// processor without AVX2 has too (a count in software costs a fifth of the
// loop).
template <typename Window>
__attribute__((target("popcnt"), noinline, flatten)) size_t QuickWindows128Popcnt(const char* p, size_t n, size_t i,
                                                                                  Window& window) {
  return QuickWindowsBy(p, n, i, window, QuickMasks128(window.anchors));
}

template <typename Window>
size_t QuickWindows128(const char* p, size_t n, size_t i, Window& window) {
  static const bool popcnt = HasPopcnt();
  return popcnt ? QuickWindows128Popcnt(p, n, i, window) : QuickWindows128Plain(p, n, i, window);
}
#endif

#if defined(__x86_64__) && defined(__GNUC__)
#define QV_WIDE_SCAN 1
// The same, thirty-two bytes at a time, where the processor has AVX2.
__attribute__((target("avx2,popcnt,bmi,lzcnt"), always_inline)) inline WindowBits ScanWindowWide(const char* p) {
  const __m256i cr = _mm256_set1_epi8('\r'), lf = _mm256_set1_epi8('\n');
  const __m256i br = _mm256_set1_epi8('['), qu = _mm256_set1_epi8('"'), cl = _mm256_set1_epi8(']');
  // Both halves written out: a loop of two kept its count and shifts.
  const __m256i low = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
  const __m256i high = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32));
  const __m256i cr_low = _mm256_cmpeq_epi8(low, cr), cr_high = _mm256_cmpeq_epi8(high, cr);
  const auto ends_low = static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_or_si256(cr_low, _mm256_cmpeq_epi8(low, lf))));
  const auto ends_high =
      static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_or_si256(cr_high, _mm256_cmpeq_epi8(high, lf))));
  const auto marks_low = static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_or_si256(
      _mm256_or_si256(_mm256_cmpeq_epi8(low, br), _mm256_cmpeq_epi8(low, qu)), _mm256_cmpeq_epi8(low, cl))));
  const auto marks_high = static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_or_si256(
      _mm256_or_si256(_mm256_cmpeq_epi8(high, br), _mm256_cmpeq_epi8(high, qu)), _mm256_cmpeq_epi8(high, cl))));
  WindowBits bits;
  bits.ends = uint64_t{ends_low} | uint64_t{ends_high} << 32;
  bits.marks = uint64_t{marks_low} | uint64_t{marks_high} << 32;
  bits.cr = uint64_t{static_cast<uint32_t>(_mm256_movemask_epi8(cr_low))} |
            uint64_t{static_cast<uint32_t>(_mm256_movemask_epi8(cr_high))} << 32;
  // A byte is a digit when its distance from '0' is at most 9.
  const __m256i zero = _mm256_set1_epi8('0'), nine = _mm256_set1_epi8(9);
  const __m256i low_from_zero = _mm256_sub_epi8(low, zero), high_from_zero = _mm256_sub_epi8(high, zero);
  const auto digits_low = static_cast<uint32_t>(
      _mm256_movemask_epi8(_mm256_cmpeq_epi8(_mm256_min_epu8(low_from_zero, nine), low_from_zero)));
  const auto digits_high = static_cast<uint32_t>(
      _mm256_movemask_epi8(_mm256_cmpeq_epi8(_mm256_min_epu8(high_from_zero, nine), high_from_zero)));
  bits.digits = uint64_t{digits_low} | uint64_t{digits_high} << 32;
  return bits;
}

// The places of a window where both anchors stand, thirty-two bytes at a
// time; p[63 + a.Reach()] must lie inside the bytes.
__attribute__((target("avx2,popcnt,bmi,lzcnt"), always_inline)) inline uint64_t AnchorBitsWide(
    const char* p, const PatternAnchors& a) {
  const __m256i a1 = _mm256_set1_epi8(static_cast<char>(a.first_bytes[0]));
  const __m256i b1 = _mm256_set1_epi8(static_cast<char>(a.first_bytes[1]));
  const __m256i a2 = _mm256_set1_epi8(static_cast<char>(a.second_bytes[0]));
  const __m256i b2 = _mm256_set1_epi8(static_cast<char>(a.second_bytes[1]));
  uint64_t bits = 0;
  for (int k = 0; k < 2; ++k) {
    const __m256i v1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32 * k + a.first));
    const __m256i v2 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32 * k + a.second));
    const __m256i both = _mm256_and_si256(_mm256_or_si256(_mm256_cmpeq_epi8(v1, a1), _mm256_cmpeq_epi8(v1, b1)),
                                          _mm256_or_si256(_mm256_cmpeq_epi8(v2, a2), _mm256_cmpeq_epi8(v2, b2)));
    bits |= uint64_t{static_cast<uint32_t>(_mm256_movemask_epi8(both))} << (32 * k);
  }
  return bits;
}

// QuickMasks thirty-two bytes at a time (AVX2).
struct QuickMasks256 {
  __m256i cr, lf, zero, nine, question, space, bracket, two, quote, or1, is1, or2, is2;
  __attribute__((target("avx2,popcnt,bmi,lzcnt"))) explicit QuickMasks256(const PatternAnchors& a) {
    const AnchorFold f1 = FoldOf(a.first_bytes), f2 = FoldOf(a.second_bytes);
    cr = _mm256_set1_epi8('\r');
    lf = _mm256_set1_epi8('\n');
    zero = _mm256_set1_epi8('0');
    nine = _mm256_set1_epi8(9);
    question = _mm256_set1_epi8('?');
    space = _mm256_set1_epi8(' ');
    bracket = _mm256_set1_epi8('[');
    two = _mm256_set1_epi8(2);
    quote = _mm256_set1_epi8('"');
    or1 = _mm256_set1_epi8(static_cast<char>(f1.bit));
    is1 = _mm256_set1_epi8(static_cast<char>(f1.image));
    or2 = _mm256_set1_epi8(static_cast<char>(f2.bit));
    is2 = _mm256_set1_epi8(static_cast<char>(f2.image));
  }
  __attribute__((target("avx2,popcnt,bmi,lzcnt"))) QuickMasks operator()(const char* v_at, const char* a1_at,
                                                                          const char* a2_at) const {
    QuickMasks m{};
    for (int k = 0; k < 2; ++k) {
      const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(v_at + 32 * k));
      const __m256i v1 = _mm256_or_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(a1_at + 32 * k)), or1);
      const __m256i v2 = _mm256_or_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(a2_at + 32 * k)), or2);
      const __m256i from_zero = _mm256_sub_epi8(v, zero);
      const __m256i record = _mm256_or_si256(_mm256_cmpeq_epi8(_mm256_min_epu8(from_zero, nine), from_zero),
                                             _mm256_cmpeq_epi8(v, question));
      const __m256i marks = _mm256_or_si256(
          _mm256_cmpeq_epi8(_mm256_andnot_si256(two, _mm256_sub_epi8(v, bracket)), _mm256_setzero_si256()),
          _mm256_cmpeq_epi8(v, quote));
      const int shift = 32 * k;
      m.cr |= uint64_t{static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(v, cr)))} << shift;
      m.lf |= uint64_t{static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(v, lf)))} << shift;
      m.record |= uint64_t{static_cast<uint32_t>(_mm256_movemask_epi8(record))} << shift;
      m.low |= uint64_t{static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(_mm256_min_epu8(v, space), v)))}
               << shift;
      m.places |= uint64_t{static_cast<uint32_t>(_mm256_movemask_epi8(
                      _mm256_and_si256(_mm256_cmpeq_epi8(v1, is1), _mm256_cmpeq_epi8(v2, is2))))}
                  << shift;
      m.marks |= uint64_t{static_cast<uint32_t>(_mm256_movemask_epi8(marks))} << shift;
    }
    return m;
  }
};

template <typename Window>
__attribute__((target("avx2,popcnt,bmi,lzcnt"), noinline, flatten)) size_t QuickWindows256(const char* p, size_t n,
                                                                                            size_t i, Window& window) {
  return QuickWindowsBy(p, n, i, window, QuickMasks256(window.anchors));
}

// Hands every whole window of p[0, n) to window; returns where the last
// bytes (less than a window) begin. A mapped file's pages are new to the
// processor's caches, and its own fetching ahead stops at each 4 KiB page:
// the bytes a little ahead of the scan are asked for. A window that looks
// for anchors gets their places too, most windows from the quick loop.
template <typename Window>
__attribute__((target("avx2,popcnt,bmi,lzcnt"))) size_t ScanWindowsWide(const char* p, size_t n, Window& window,
                                                                         size_t i, size_t stop) {
  // A copy of the window's state in this frame, which its stores cannot
  // be taken to change: it stays in registers.
  Window local = window;
  bool quick = false;
  if constexpr (TakesQuickly<Window>) quick = QuickAnchors(local);
  for (; i + 64 <= n && i < stop; i += 64) {
    if constexpr (TakesQuickly<Window>) {
      if (quick && i + 128 <= n) {
        i = QuickWindows256(p, QuickEnd(n, stop), i, local);
        if (i + 64 > n || i >= stop) break;
      }
    }
    __builtin_prefetch(p + i + kFetchAhead);
    WindowBits bits = ScanWindowWide(p + i);
    if constexpr (Anchored<Window>)
      bits.places = i + 64 + local.anchors.Reach() <= n ? AnchorBitsWide(p + i, local.anchors)
                                                        : AnchorBitsNear(p, n, i, local.anchors);
    local(i, bits);
  }
  window = local;
  return i;
}
#endif

#if defined(QV_WIDE_SCAN)
#define QV_AVX512 "avx512f,avx512bw,avx2,popcnt,bmi,bmi2,lzcnt"
// The bytes ScanWindow512 compares with, each in every lane.
struct Scan512Bytes {
  __m512i cr, lf, bracket, not_two, quote, zero, nine;
};

// Made once before a pass and hidden from the compiler's view of
// constants: it then keeps them in registers, or saves them around the
// rare calls, instead of making three of them again for every window.
__attribute__((target(QV_AVX512), always_inline)) inline Scan512Bytes MakeScan512Bytes() {
  Scan512Bytes b{_mm512_set1_epi8('\r'), _mm512_set1_epi8('\n'), _mm512_set1_epi8('['), _mm512_set1_epi8(~2),
                 _mm512_set1_epi8('"'),  _mm512_set1_epi8('0'),  _mm512_set1_epi8(9)};
  asm("" : "+v"(b.cr), "+v"(b.lf), "+v"(b.bracket), "+v"(b.not_two), "+v"(b.quote), "+v"(b.zero), "+v"(b.nine));
  return b;
}

// The same sixty-four bytes at once, where the processor has AVX-512: each
// comparison gives its bits at once.
__attribute__((target(QV_AVX512), always_inline)) inline WindowBits ScanWindow512(__m512i v,
                                                                                  const Scan512Bytes& b) {
  WindowBits bits;
  bits.cr = _mm512_cmpeq_epi8_mask(v, b.cr);
  bits.ends = bits.cr | _mm512_cmpeq_epi8_mask(v, b.lf);
  // '[' and ']' are the bytes 2 apart from 0x5B: one test for both.
  bits.marks = _mm512_testn_epi8_mask(_mm512_sub_epi8(v, b.bracket), b.not_two) | _mm512_cmpeq_epi8_mask(v, b.quote);
  // A byte is a digit when its distance from '0' is at most 9.
  bits.digits = _mm512_cmple_epu8_mask(_mm512_sub_epi8(v, b.zero), b.nine);
  return bits;
}

__attribute__((target(QV_AVX512), always_inline)) inline WindowBits ScanWindow512(const char* p,
                                                                                  const Scan512Bytes& b) {
  return ScanWindow512(_mm512_loadu_si512(p), b);
}

// The bytes of table chosen by the low six bits of each byte of v (vpermb,
// AVX-512 VBMI, written out so that the loops using it need not be built
// for that extension alone).
__attribute__((target(QV_AVX512), always_inline)) inline __m512i ByteTable(__m512i table, __m512i v) {
  __m512i out;
  asm("vpermb %1, %2, %0" : "=v"(out) : "v"(table), "v"(v));
  return out;
}

// A table for ByteTable that holds each of bytes at its low six bits,
// and elsewhere a byte whose low six bits differ from its place's: a byte
// then equals its entry exactly when it is one of bytes (which must differ
// in their low six bits).
constexpr std::array<uint8_t, 64> TableOf(std::initializer_list<uint8_t> bytes) {
  std::array<uint8_t, 64> table{};
  for (size_t k = 0; k < 64; ++k) table[k] = static_cast<uint8_t>(k ^ 1);
  for (const uint8_t c : bytes) table[c & 63] = c;
  return table;
}
// The bytes that begin a record line once codes up to 32 are passed, and
// the marks ('[', ']', '"').
constexpr std::array<uint8_t, 64> kRecordBytes = TableOf({'0', '1', '2', '3', '4', '5', '6', '7', '8', '9', '?'});
constexpr std::array<uint8_t, 64> kMarkBytes = TableOf({'[', ']', '"'});

// QuickMasks sixty-four bytes at once (AVX-512), each comparison giving its
// bits at once. kByTable: the record bytes and the marks are each found
// with one table look-up (ByteTable) and one comparison, instead of three
// or four operations.
template <bool kByTable>
struct QuickMasks512 {
  __m512i cr, lf, zero, nine, question, space, bracket, not_two, quote, record_table, mark_table, or1, is1, or2, is2;
  __attribute__((target(QV_AVX512))) explicit QuickMasks512(const PatternAnchors& a) {
    const AnchorFold f1 = FoldOf(a.first_bytes), f2 = FoldOf(a.second_bytes);
    cr = _mm512_set1_epi8('\r');
    lf = _mm512_set1_epi8('\n');
    zero = _mm512_set1_epi8('0');
    nine = _mm512_set1_epi8(9);
    question = _mm512_set1_epi8('?');
    space = _mm512_set1_epi8(' ');
    bracket = _mm512_set1_epi8('[');
    not_two = _mm512_set1_epi8(~2);
    quote = _mm512_set1_epi8('"');
    record_table = _mm512_loadu_si512(kRecordBytes.data());
    mark_table = _mm512_loadu_si512(kMarkBytes.data());
    or1 = _mm512_set1_epi8(static_cast<char>(f1.bit));
    is1 = _mm512_set1_epi8(static_cast<char>(f1.image));
    or2 = _mm512_set1_epi8(static_cast<char>(f2.bit));
    is2 = _mm512_set1_epi8(static_cast<char>(f2.image));
  }
  __attribute__((target(QV_AVX512))) QuickMasks operator()(const char* v_at, const char* a1_at,
                                                            const char* a2_at) const {
    const __m512i v = _mm512_loadu_si512(v_at);
    QuickMasks m;
    m.cr = _mm512_cmpeq_epi8_mask(v, cr);
    m.lf = _mm512_cmpeq_epi8_mask(v, lf);
    m.record = kByTable ? _mm512_cmpeq_epi8_mask(ByteTable(record_table, v), v)
                        : _mm512_cmple_epu8_mask(_mm512_sub_epi8(v, zero), nine) | _mm512_cmpeq_epi8_mask(v, question);
    m.low = _mm512_cmple_epu8_mask(v, space);
    const __m512i v1 = _mm512_or_si512(_mm512_loadu_si512(a1_at), or1);
    const __m512i v2 = _mm512_or_si512(_mm512_loadu_si512(a2_at), or2);
    m.places = _mm512_mask_cmpeq_epi8_mask(_mm512_cmpeq_epi8_mask(v1, is1), v2, is2);
    m.marks = kByTable ? _mm512_cmpeq_epi8_mask(ByteTable(mark_table, v), v)
                       : _kor_mask64(_mm512_testn_epi8_mask(_mm512_sub_epi8(v, bracket), not_two),
                                     _mm512_cmpeq_epi8_mask(v, quote));
    return m;
  }
};

template <bool kByTable, typename Window>
__attribute__((target(QV_AVX512), noinline, flatten)) size_t QuickWindows512(const char* p, size_t n, size_t i,
                                                                              Window& window) {
  return QuickWindowsBy(p, n, i, window, QuickMasks512<kByTable>(window.anchors));
}

template <typename Window>
__attribute__((target(QV_AVX512))) size_t ScanWindows512(const char* p, size_t n, Window& window, size_t i,
                                                          size_t stop) {
  Window local = window;
  const Scan512Bytes bytes = MakeScan512Bytes();
  if constexpr (Anchored<Window>) {
    const PatternAnchors& a = local.anchors;
    const __m512i a1 = _mm512_set1_epi8(static_cast<char>(a.first_bytes[0]));
    const __m512i b1 = _mm512_set1_epi8(static_cast<char>(a.first_bytes[1]));
    const __m512i a2 = _mm512_set1_epi8(static_cast<char>(a.second_bytes[0]));
    const __m512i b2 = _mm512_set1_epi8(static_cast<char>(a.second_bytes[1]));
    const size_t first = a.first, second = a.second, reach = a.Reach();
    const AnchorFold fold1 = FoldOf(a.first_bytes), fold2 = FoldOf(a.second_bytes);
    if (fold1.usable && fold2.usable) {
      // One comparison per anchor: its two bytes are one once its bit is set.
      const __m512i or1 = _mm512_set1_epi8(static_cast<char>(fold1.bit));
      const __m512i is1 = _mm512_set1_epi8(static_cast<char>(fold1.image));
      const __m512i or2 = _mm512_set1_epi8(static_cast<char>(fold2.bit));
      const __m512i is2 = _mm512_set1_epi8(static_cast<char>(fold2.image));
      // Anchors this near (as good as every pattern's): most windows are
      // taken with their places in a loop without calls.
      const bool quick = TakesQuickly<Window> && reach < 64;
      for (; i + 64 + reach <= n && i < stop; i += 64) {
        if constexpr (TakesQuickly<Window>) {
          if (quick && i + 128 <= n) {
            const bool by_table = UseAvx512Vbmi();
            const size_t end = QuickEnd(n, stop);
            i = by_table ? QuickWindows512<true>(p, end, i, local) : QuickWindows512<false>(p, end, i, local);
            if (i + 64 + reach > n || i >= stop) break;
          }
        }
        __builtin_prefetch(p + i + kFetchAhead);
        WindowBits bits = ScanWindow512(p + i, bytes);
        const __m512i v1 = _mm512_or_si512(_mm512_loadu_epi8(p + i + first), or1);
        const __m512i v2 = _mm512_or_si512(_mm512_loadu_epi8(p + i + second), or2);
        bits.places = _mm512_mask_cmpeq_epi8_mask(_mm512_cmpeq_epi8_mask(v1, is1), v2, is2);
        local(i, bits);
      }
    }
    for (; i + 64 + reach <= n && i < stop; i += 64) {
      __builtin_prefetch(p + i + kFetchAhead);
      WindowBits bits = ScanWindow512(p + i, bytes);
      const __m512i v1 = _mm512_loadu_epi8(p + i + first);
      const __m512i v2 = _mm512_loadu_epi8(p + i + second);
      bits.places = (_mm512_cmpeq_epi8_mask(v1, a1) | _mm512_cmpeq_epi8_mask(v1, b1)) &
                    (_mm512_cmpeq_epi8_mask(v2, a2) | _mm512_cmpeq_epi8_mask(v2, b2));
      local(i, bits);
    }
  }
  for (; i + 64 <= n && i < stop; i += 64) {
    __builtin_prefetch(p + i + kFetchAhead);
    WindowBits bits = ScanWindow512(p + i, bytes);
    if constexpr (Anchored<Window>) bits.places = AnchorBitsNear(p, n, i, local.anchors);
    local(i, bits);
  }
  window = local;
  return i;
}
#endif

// Windows from offset i on (a multiple of 64) that begin before stop.
template <typename Window>
size_t ScanWindows(const char* p, size_t n, Window& window, size_t i = 0, size_t stop = SIZE_MAX) {
#if defined(QV_WIDE_SCAN)
  const bool widest = UseAvx512();
  if (widest) return ScanWindows512(p, n, window, i, stop);
  const bool wide = UseAvx2();
  if (wide) return ScanWindowsWide(p, n, window, i, stop);
#endif
  Window local = window;
#if defined(__SSE2__)
  bool quick = false;
  if constexpr (TakesQuickly<Window>) quick = QuickAnchors(local);
#endif
  for (; i + 64 <= n && i < stop; i += 64) {
#if defined(__SSE2__)
    if constexpr (TakesQuickly<Window>) {
      if (quick && i + 128 <= n) {
        i = QuickWindows128(p, QuickEnd(n, stop), i, local);
        if (i + 64 > n || i >= stop) break;
      }
    }
#endif
    __builtin_prefetch(p + i + kFetchAhead);
    WindowBits bits = ScanWindow(p + i);
    if constexpr (Anchored<Window>) {
#if defined(__SSE2__)
      bits.places = i + 64 + local.anchors.Reach() <= n ? AnchorBits(p + i, local.anchors)
                                                        : AnchorBitsNear(p, n, i, local.anchors);
#else
      bits.places = AnchorBitsNear(p, n, i, local.anchors);
#endif
    }
    local(i, bits);
  }
  window = local;
  return i;
}

// Hands every window of p[0, n) to window, the last bytes (less than a
// window) copied out so that the window reads no further.
template <typename Window>
void ScanAll(const char* p, size_t n, Window& window, size_t from = 0) {
  const size_t i = ScanWindows(p, n, window, from);
  if (i < n) {
    char tail[64] = {};
    std::memcpy(tail, p + i, n - i);
    WindowBits bits = ScanWindow(tail);
    const uint64_t inside = (uint64_t{1} << (n - i)) - 1;
    bits.ends &= inside;
    bits.marks &= inside;
    bits.cr &= inside;
    if constexpr (Anchored<Window>) bits.places = AnchorBitsNear(p, n, i, window.anchors);
    window(i, bits);
  }
}

// The marks of the bytes whose bits are set in marks.
uint8_t MarksOf(const char* window, uint64_t marks) {
  uint8_t found = 0;
  for (; marks; marks &= marks - 1)
    found |= window[__builtin_ctzll(marks)] == '"' ? DataFile::kHasQuote : DataFile::kHasBracket;
  return found;
}

}  // namespace

// One pass over the bytes finds the line ends and the marked characters,
// sixty-four bytes at a time.
void DataFile::IndexLines() {
  starts_.clear();
  flags_.clear();
  starts_.reserve(size_ / 72 + 16);  // register lines run to about 80 bytes
  flags_.reserve(size_ / 72 + 16);
  const char* p = bytes_;
  const size_t n = size_;
  starts_.push_back(0);

  // Handles one window at offset at, whose line-end and mark bits are
  // given. Its state is held by value, so that the scan keeps it in
  // registers.
  struct Window {
    DataFile* file;
    const char* p;
    size_t n;
    size_t line_start = 0;
    uint8_t marks = 0;  // of the open line, from windows before this one

    __attribute__((always_inline)) void Close(size_t end, size_t next) {
      file->CloseLine(line_start, end, marks);
      marks = 0;
      line_start = next;
      file->starts_.push_back(static_cast<uint32_t>(next));
    }

    __attribute__((always_inline)) void operator()(size_t at, WindowBits bits) {
      uint64_t ends = bits.ends;
      if (bits.marks == 0 && line_start <= at) {
        // No marks, and no LF of a CR LF taken already: each line ends at an
        // LF, or at a CR that an LF may follow.
        for (; ends; ends &= ends - 1) {
          const int bit = __builtin_ctzll(ends);
          const size_t end = at + static_cast<size_t>(bit);
          size_t next = end + 1;
          if (p[end] == '\r' && next < n && p[next] == '\n') {
            ++next;
            ends &= ~(uint64_t{2} << bit);  // the LF, when in this window
          }
          Close(end, next);
        }
        return;
      }
      while (ends) {
        const int bit = __builtin_ctzll(ends);
        ends &= ends - 1;
        const size_t end = at + static_cast<size_t>(bit);
        if (end < line_start) continue;  // the LF of a CR LF, taken with its CR
        const uint64_t before = bit == 63 ? ~uint64_t{0} >> 1 : (uint64_t{1} << bit) - 1;
        if (const uint64_t mine = bits.marks & before) {
          marks |= MarksOf(p + at, mine);
          bits.marks &= ~before;
        }
        size_t next = end + 1;
        if (p[end] == '\r' && next < n && p[next] == '\n') ++next;
        Close(end, next);
      }
      if (bits.marks) marks |= MarksOf(p + at, bits.marks);
    }
  } window{this, p, n};

  ScanAll(p, n, window);
  if (window.line_start < n) window.Close(n, n);
  // The guess above suits register lines; give back what a file of short
  // lines did not use.
  if (starts_.capacity() > starts_.size() + starts_.size() / 8) {
    starts_.shrink_to_fit();
    flags_.shrink_to_fit();
  }
}

namespace {

// What the first byte of a line says of it: 1 a record line (a digit or
// '?'), 2 a code up to 32 that the trim drops (the first character decides),
// 0 neither (CR and LF end an empty line).
constexpr std::array<uint8_t, 256> kLineStartKinds = [] {
  std::array<uint8_t, 256> kinds{};
  for (int c = 0; c <= 32; ++c) kinds[static_cast<size_t>(c)] = c == '\r' || c == '\n' ? 0 : 2;
  for (int c = '0'; c <= '9'; ++c) kinds[static_cast<size_t>(c)] = 1;
  kinds['?'] = 1;
  return kinds;
}();


// Whether the line starting at start with codes up to 32 is a record line:
// its first character past them is a digit or '?'.
__attribute__((noinline)) bool RecordAfterBlanks(const char* p, size_t n, size_t start) {
  while (start < n && static_cast<uint8_t>(p[start]) <= 32 && p[start] != '\r' && p[start] != '\n') ++start;
  return start < n && kLineStartKinds[static_cast<uint8_t>(p[start])] == 1;
}

// Whether the line starting at start (before n) is a record line.
bool IsRecordStart(const char* p, size_t n, size_t start) {
  const uint8_t kind = kLineStartKinds[static_cast<uint8_t>(p[start])];
  return kind == 1 || (kind == 2 && RecordAfterBlanks(p, n, start));
}

// Record lines among the lines that begin at the window's (at `at`) bytes
// whose bits are set in starts, none of them a digit: those that begin
// with '?', or with codes up to 32 followed by a digit or '?'.
__attribute__((noinline)) int64_t RecordsAt(const char* p, size_t n, size_t at, uint64_t starts) {
  int64_t records = 0;
  for (; starts; starts &= starts - 1) {
    const size_t start = at + static_cast<size_t>(__builtin_ctzll(starts));
    if (start >= n) break;
    if (IsRecordStart(p, n, start)) ++records;
  }
  return records;
}

// The line ends of a window where a CR stands alone or may have its LF in
// the next window.
__attribute__((noinline)) uint64_t WithLoneCrs(const char* p, size_t n, size_t at, WindowBits bits) {
  const uint64_t lf = bits.ends & ~bits.cr;
  const uint64_t lf_next = at + 64 < n && p[at + 64] == '\n' ? uint64_t{1} << 63 : 0;
  return lf | (bits.cr & ~((lf >> 1) | lf_next));
}

}  // namespace

// Notes where line `line` starts, after the line end of counted (the
// window's at `at`) that is the (line - before)-th, and the record lines
// before it: records up to the window, and those of the window's lines
// before it. Returns the next line to note.
__attribute__((noinline)) uint32_t DataFile::NoteStride(DataFile& file, const char* p, size_t n, size_t at,
                                                        uint64_t counted, uint32_t before, uint32_t line,
                                                        int64_t records) {
  for (uint32_t c = before + 1; c < line; ++c, counted &= counted - 1) {
    const size_t next = at + static_cast<size_t>(__builtin_ctzll(counted)) + 1;
    if (next < n && IsRecordStart(p, n, next)) ++records;
  }
  file.stride_starts_.push_back(static_cast<uint32_t>(at + static_cast<size_t>(__builtin_ctzll(counted)) + 1));
  file.stride_records_.push_back(records);
  return line + kStrideLines;
}

// Lists the lines that hold the window's marks, each once; the end of a
// line that goes on past the window is looked for at once, in the bytes
// the pass reads next.
__attribute__((always_inline)) inline void DataFile::ListMarkedLines(DataFile& file, const char* p, size_t at,
                                                                      uint64_t marks, uint64_t ends,
                                                                      size_t line_start) {
  for (uint64_t m = marks; m; m &= m - 1) {
    const int bit = __builtin_ctzll(m);
    const uint64_t before = ends & ((uint64_t{1} << bit) - 1);
    const uint64_t after = ends & ~((uint64_t{2} << bit) - 1);
    const size_t start = before ? at + 64 - static_cast<size_t>(__builtin_clzll(before)) : line_start;
    const char mark = p[at + static_cast<size_t>(bit)];
    const bool bracket = mark == '[';
    std::vector<Span>& lines = bracket ? file.bracket_lines_ : mark == '"' ? file.quote_lines_ : file.closer_lines_;
    if (!lines.empty() && lines.back().begin == start) continue;
    // A ']' after a '[' of its line: the line is listed with the brackets.
    if (mark == ']' && !file.bracket_lines_.empty() && file.bracket_lines_.back().begin == start) continue;
    if (bracket && file.read_with_) {
      // Its end and whether the anchors stand near its brackets, from one
      // look at its bytes where that can be had.
      size_t size = 0;
      const int near = AnchorsNearBracketsAt(p + start, file.size_ - start, *file.near_lanes_, size);
      if (near != kNearNotKnown) {
        lines.push_back({static_cast<uint32_t>(start), static_cast<uint32_t>(start + size)});
        file.brackets_near_.push_back(static_cast<int8_t>(near));
        continue;
      }
    }
    const size_t end =
        after ? at + static_cast<size_t>(__builtin_ctzll(after)) : file.LineEnd(std::min(at + 64, file.size_));
    lines.push_back({static_cast<uint32_t>(start), static_cast<uint32_t>(end)});
    if (bracket && file.read_with_) file.NoteBracketsNear();
  }
}

void DataFile::NoteBracketsNear() {
  const Span line = bracket_lines_.back();
  brackets_near_.push_back(
      static_cast<int8_t>(AnchorsNearBrackets({bytes_ + line.begin, line.end - line.begin}, anchors_, anchors_.size)));
}

// The windows of the pass below that hold marks or places, listed and then
// taken a few dozen at a time, in order, while their bytes are still in the
// cache. Every window is written to the list and only one with marks or
// places is kept, so that the pass does not branch on them: in a register
// file about one window in fifteen has marks, and as many places of a
// name's anchors, at no foreseeable place, and the branches cost more than
// writing every window.
struct DataFile::MarkedWindows {
  struct Window {
    uint32_t at, line_start;  // the open line's start as the window began
    // As the pass's masks are (which store them as they are).
    unsigned long long marks, ends, places;
  };
  static constexpr size_t kMost = 32;
  Window* end = windows;
  Window* last = windows + kMost - 1;
  Window windows[kMost] = {};

  // The places found as the list is taken, moved to the file's list a few
  // hundred at a time.
  static constexpr size_t kMostPlaces = 256;
  Candidate places[kMostPlaces];

  __attribute__((noinline)) void Take(DataFile& file, const char* p) {
    Candidate* out = places;
    for (const Window* w = windows; w != end; ++w) {
      if (w->places) {
        if (out > places + kMostPlaces - 64) {
          file.candidates_.insert(file.candidates_.end(), places, out);
          out = places;
        }
        out = NotePlaces(out, p, w->at, w->places, w->ends, w->line_start);
      }
      if (w->marks) ListMarkedLines(file, p, w->at, w->marks, w->ends, w->line_start);
    }
    if (out != places) file.candidates_.insert(file.candidates_.end(), places, out);
    end = windows;
  }

  // Writes the places whose bits are set in found (the window's at `at`)
  // from out on, each with the start of its line: after the last line end
  // before it, in the window or before it (line_start, or at itself for a
  // place at the window's first byte after a line end that line_start
  // does not count yet: a CR whose LF is that byte).
  static Candidate* NotePlaces(Candidate* out, const char* p, size_t at, uint64_t found, uint64_t ends,
                               size_t line_start) {
    for (; found; found &= found - 1) {
      const int bit = __builtin_ctzll(found);
      const uint64_t before = ends & ((uint64_t{1} << bit) - 1);
      size_t line = before ? at + 64 - static_cast<size_t>(__builtin_clzll(before)) : line_start;
      if (bit == 0 && at > 0 && (p[at - 1] == '\r' || p[at - 1] == '\n')) line = at;
      *out++ = {static_cast<uint32_t>(line), static_cast<uint32_t>(at + static_cast<size_t>(bit))};
    }
    return out;
  }
};

// The state of the pass below, held by value and handed to the rare cases
// by value, so that the scan keeps it in registers.
template <bool kAnchored_>
struct DataFile::SurveyWindow {
  static constexpr bool kAnchored = kAnchored_;
  // With anchors most windows are taken by QuickWindowsBy.
  static constexpr bool kTakesQuickly = kAnchored_;
  DataFile* file;
  const char* p;
  size_t n;
  PatternAnchors anchors;
  MarkedWindows* marked;
  uint32_t ends = 0;          // line ends so far: line `ends` is open
  size_t line_start = 0;      // of the open line
  int64_t records = 0;
  uint32_t next_stride = 1;   // the next line whose start is noted
  uint64_t carry = 0;         // 1 when the last window ended with a line end

  __attribute__((always_inline)) void operator()(size_t at, WindowBits bits) {
    {
      // Whether the slot is the last does not wait for the marks.
      MarkedWindows::Window* const slot = marked->end;
      if constexpr (kAnchored) {
        *slot = {static_cast<uint32_t>(at), static_cast<uint32_t>(line_start), bits.marks, bits.ends, bits.places};
      } else {
        // No places: the list's stay 0.
        slot->at = static_cast<uint32_t>(at);
        slot->line_start = static_cast<uint32_t>(line_start);
        slot->marks = bits.marks;
        slot->ends = bits.ends;
      }
      marked->end = slot + ((bits.marks | bits.places) != 0);
      if (__builtin_expect(slot == marked->last, 0)) marked->Take(*file, p);
    }
    // The ends that end a line: every LF, and every CR that no LF
    // follows. Mostly every CR of the window has its LF in the window.
    uint64_t counted = bits.ends & ~bits.cr;
    if (__builtin_expect((bits.cr & ~(counted >> 1)) != 0, 0)) counted = WithLoneCrs(p, n, at, bits);
    const uint32_t before = ends;
    ends += static_cast<uint32_t>(__builtin_popcountll(counted));
    // Line c starts after the c-th line end: a digit begins a record line,
    // and so may '?' or a code up to 32 (the size, after a final line end,
    // begins none). A line that begins this window, after the last one's
    // final line end, is counted here; those that begin in the next
    // window are counted there.
    if (__builtin_expect(ends >= next_stride, 0)) {
      const int64_t first = carry ? static_cast<int64_t>(IsRecordStart(p, n, at)) : 0;
      next_stride = NoteStride(*file, p, n, at, counted, before, next_stride, records + first);
    }
    const uint64_t starts = (counted << 1) | carry;
    records += __builtin_popcountll(starts & bits.digits);
    if (__builtin_expect((starts & ~bits.digits) != 0, 0)) records += RecordsAt(p, n, at, starts & ~bits.digits);
    if (counted) line_start = at + 64 - static_cast<size_t>(__builtin_clzll(counted));
    carry = counted >> 63;
  }
};

// One pass over the bytes, sixty-four at a time, counts the lines and the
// record lines and notes the starts of every kStrideLines-th line and of
// the lines holding a mark; nothing is kept per line. With anchors, it
// also lists their places.
template <bool kAnchored>
void DataFile::Survey(const SurveyFn* part) {
  const char* p = bytes_;
  const size_t n = size_;
  stride_starts_.clear();
  stride_records_.clear();
  bracket_lines_.clear();
  quote_lines_.clear();
  closer_lines_.clear();
  candidates_.clear();
  brackets_near_.clear();
  stride_starts_.reserve(n / (72 * kStrideLines) + 2);
  stride_records_.reserve(n / (72 * kStrideLines) + 2);

  std::optional<NearBracketsLanes> lanes;
  if constexpr (kAnchored) near_lanes_ = &lanes.emplace(anchors_, anchors_.size);
  MarkedWindows marked;
  SurveyWindow<kAnchored> window{this, p, n, anchors_, &marked};
  size_t from = 0;
  if (part != nullptr && *part) {
    // A piece at a time; after each, the lines whose every byte was read
    // are handed on while the cache still holds most of them.
    first_line_end_ = LineEnd(0);
    int told = 1;
    while (n - from > kSurveyPiece + 256) {
      from = ScanWindows(p, n, window, from, from + kSurveyPiece);
      // The pass's state is past every stride start it noted.
      const auto strides = static_cast<int>(stride_starts_.size());
      const int lines = 1 + (strides - 1) * kStrideLines;
      if (strides < 2 || lines <= told) continue;
      marked.Take(*this, p);
      line_count_ = static_cast<int>(window.ends) + 1;
      told = lines;
      (*part)(*this, lines);
    }
  }
  ScanAll(p, n, window, from);
  marked.Take(*this, p);
  near_lanes_ = nullptr;
  // A file of many marked lines gives back what the lists' last doubling
  // left unused.
  for (std::vector<Span>* lines : {&bracket_lines_, &quote_lines_, &closer_lines_})
    if (lines->capacity() > lines->size() + lines->size() / 8 + 16) lines->shrink_to_fit();
  line_count_ = static_cast<int>(window.ends) + (window.line_start < n ? 1 : 0);
  record_count_ = window.records;
  first_line_end_ = LineEnd(0);
}

}  // namespace appcore
