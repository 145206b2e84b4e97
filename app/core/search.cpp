#include "app/core/search.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <iterator>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <tuple>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "app/core/line_matcher.h"
#include "app/core/pattern_finder.h"
#include "app/core/record_line.h"
#include "app/core/word_index.h"
#include "app/core/work_crew.h"
#include "platform/runtime/cp1252.h"
#include "platform/runtime/dates.h"
#include "platform/runtime/os_memory.h"
#include "platform/runtime/os_process.h"
#include "platform/runtime/parts.h"
#include "platform/runtime/sysutils.h"
#include "textutil/scan.h"
#include "textutil/state.h"

namespace appcore {
namespace {

// Where the first and the last '[' or ']' of text stand (text holds one),
// found in one pass.
struct BracketBounds {
  size_t first = std::string_view::npos, last = 0;
};
BracketBounds BracketsOf(std::string_view text) {
  BracketBounds bounds;
  const auto note = [&](size_t at) {
    bounds.first = std::min(bounds.first, at);
    bounds.last = at;
  };
  size_t i = 0;
#if defined(__SSE2__)
  const __m128i open = _mm_set1_epi8('['), close = _mm_set1_epi8(']');
  for (; i + 16 <= text.size(); i += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + i));
    const auto bits =
        static_cast<uint32_t>(_mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(v, open), _mm_cmpeq_epi8(v, close))));
    if (bits == 0) continue;
    note(i + static_cast<size_t>(__builtin_ctz(bits)));
    bounds.last = i + 31 - static_cast<size_t>(__builtin_clz(bits));
  }
  if (i < text.size() && text.size() >= 16) {
    // The last bytes, loaded with some before them that were looked at
    // already: their bits are shifted out.
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + text.size() - 16));
    const auto bits =
        static_cast<uint32_t>(_mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(v, open), _mm_cmpeq_epi8(v, close)))) >>
        (16 - (text.size() - i));
    if (bits != 0) {
      note(i + static_cast<size_t>(__builtin_ctz(bits)));
      bounds.last = i + 31 - static_cast<size_t>(__builtin_clz(bits));
    }
    i = text.size();
  }
#endif
  for (; i < text.size(); ++i)
    if (text[i] == '[' || text[i] == ']') note(i);
  return bounds;
}

// How many places or lines ahead of the one looked at to fetch the bytes of.
constexpr size_t kFetchAhead = 10;

// Lines read between two looks at the clock.
constexpr int kChunkLines = 8192;
// Baptism hits from which their hit lines are made on several threads (a
// hundred or so pages of them).
constexpr size_t kBaptismsApart = 16384;

class KeywordList {
public:
  explicit KeywordList(std::vector<std::string>& out) : out_(out) {}
  void Add(const std::string& word) {
    if (!word.empty() && seen_.insert(word).second) out_.push_back(word);
  }

private:
  std::vector<std::string>& out_;
  std::unordered_set<std::string> seen_;
};

// The other hits are kept in case-blind order with equal lines dropped, the
// first one kept, as a sorted string list that ignores duplicates keeps what
// is added to it. Each block sorts its own hits (as positions in them) on the
// thread that searched it; the runs are then merged in block order, so that
// of equal lines the first found comes first.
//
// Each line also has an order key: the upper-case image of its first
// sixteen bytes as two numbers, zeros past its end. Lines whose keys differ
// compare as their keys do, so most comparisons read no text (register
// lines share their first bytes, the date, often enough that eight would
// not do).
struct OrderKey {
  uint64_t high = 0, low = 0;
  auto operator<=>(const OrderKey&) const = default;
};

OrderKey OrderKeyOf(std::string_view line) {
  const unsigned char* up = rtl::CharUpperTable();
  const size_t n = std::min<size_t>(line.size(), 16);
  const auto part = [&](size_t from) {
    uint64_t key = 0;
    for (size_t i = from; i < from + 8; ++i) key = key << 8 | (i < n ? up[static_cast<unsigned char>(line[i])] : 0u);
    return key;
  };
  return {part(0), part(8)};
}

// The case-blind order of two lines whose order keys are equal: their
// first sixteen bytes (or all of the shorter one's) are then equal but for
// case, so the comparison starts after them.
int CompareTied(std::string_view a, std::string_view b) {
  const size_t skip = std::min<size_t>({a.size(), b.size(), 16});
  return rtl::AnsiCompareText(a.substr(skip), b.substr(skip));
}

// An other hit as the merge handles it: its order key beside the line, so
// that most comparisons read neither a list of keys nor the line.
struct KeyedHit {
  OrderKey key;
  std::string* hit = nullptr;  // in the list of the block that found it
};

// A block's other hits as keyed hits in case-blind order, the first found
// first of equal lines, into sorted; paced when pacer is given, and false
// (sorted left as it was) when the pacer is cancelled. Of equal lines the
// one earlier in the block's list comes first: the order is that of a
// stable sort, with no list of positions to sort beside the hits.
bool SortOtherHits(std::vector<std::string>& hits, std::vector<KeyedHit>& sorted, Pacer* pacer) {
  std::vector<KeyedHit> keyed(hits.size());
  for (size_t i = 0; i < hits.size(); ++i) keyed[i] = {OrderKeyOf(hits[i]), &hits[i]};
  const auto less = [](const KeyedHit& a, const KeyedHit& b) {
    if (a.key != b.key) return a.key < b.key;
    const int c = CompareTied(*a.hit, *b.hit);
    return c < 0 || (c == 0 && a.hit < b.hit);
  };
  if (pacer == nullptr) std::sort(keyed.begin(), keyed.end(), less);
  else if (!PacedSort(keyed, less, *pacer)) return false;
  sorted = std::move(keyed);
  return true;
}

// Hits merged on each thread at least.
constexpr size_t kMergeShare = 8192;
// The pieces of the merge's fresh lists made ready at once, one per task.
constexpr size_t kPrefaultPieceLeast = size_t{256} << 10, kPrefaultPieceMost = size_t{1} << 20;

// The merge of the other hits found by every block: the sorted runs of
// hits (each block's), merged into one, an earlier run winning ties, with
// every hit equal to the one before it dropped. The order is cut at a few
// hits sampled from the runs; between two cuts, one thread merges every
// run's share through a heap of the runs' next hits (hits that compare
// equal lie between the same cuts), moving each hit it keeps into the
// merged list as it goes.
struct OtherMerge {
  struct Run {
    const KeyedHit *begin, *end;
  };
  std::vector<Run> runs;
  size_t items = 0;  // hits in every run
  // Where part p starts: cuts[p] (p from 1), and in each run r, bounds[p *
  // runs.size() + r] (row parts: the runs' ends). Every bound is found
  // before any hit is moved: a comparison may read a hit's line.
  std::vector<KeyedHit> cuts;
  std::vector<const KeyedHit*> bounds;
  size_t parts = 1;
  // The hits kept: part p's moved to merged[first[p]] on, kept[p] of them,
  // each from the block's slot order[first[p] + k] (where Undo puts it back).
  std::vector<std::string> merged;
  std::unique_ptr<std::string*[]> order;
  std::vector<size_t> first, kept;

  // As strcmp orders two hits.
  static int Compare(const KeyedHit& a, const KeyedHit& b) {
    if (a.key != b.key) return a.key < b.key ? -1 : 1;
    return CompareTied(*a.hit, *b.hit);
  }
  static bool Less(const KeyedHit& a, const KeyedHit& b) { return Compare(a, b) < 0; }
  void Add(const std::vector<KeyedHit>& run) {
    runs.push_back({run.data(), run.data() + run.size()});
    items += run.size();
  }
  // Cuts the order into up to most parts of share hits or more.
  void Cut(size_t most, size_t share) {
    const size_t n = items, count = runs.size();
    parts = count < 2 ? 1 : std::clamp<size_t>(n / share, 1, most);
    if (parts > 1) {
      const size_t step = std::max<size_t>(1, n / (parts * 64));
      std::vector<KeyedHit> samples;
      for (const Run& run : runs)
        for (const KeyedHit* i = run.begin + step / 2; i < run.end; i += step) samples.push_back(*i);
      std::sort(samples.begin(), samples.end(), Less);
      cuts.resize(parts);
      for (size_t p = 1; p < parts; ++p) cuts[p] = samples[samples.size() * p / parts];
    }
    bounds.resize((parts + 1) * count);
    for (size_t r = 0; r < count; ++r) {
      bounds[r] = runs[r].begin;
      bounds[parts * count + r] = runs[r].end;
    }
    // Made ready by the merge's threads (see Merge), filled by MergePart.
    merged.reserve(n);
    order.reset(new std::string*[n]);
    first.assign(parts, 0);
    kept.assign(parts, 0);
  }
  // The kept hits in order, each part's after the one before it (a part
  // starts as far on as the hits before it, duplicates among them too).
  std::vector<std::string> Take() {
    size_t to = 0;
    for (size_t p = 0; p < parts; ++p) {
      if (first[p] != to)
        for (size_t k = 0; k < kept[p]; ++k) merged[to + k] = std::move(merged[first[p] + k]);
      to += kept[p];
    }
    merged.resize(to);
    // Many duplicates would leave much of the list's room unused.
    if (merged.capacity() - to > to / 8) merged.shrink_to_fit();
    return std::move(merged);
  }
  // The bounds of part p's share of every run (p from 1).
  void Bound(size_t p) {
    const size_t count = runs.size();
    for (size_t r = 0; r < count; ++r)
      bounds[p * count + r] = std::lower_bound(runs[r].begin, runs[r].end, cuts[p], Less);
  }
  // Every hit moved back to the block it came from (after a cancel).
  void Undo() {
    for (size_t p = 0; p < parts; ++p)
      for (size_t k = 0; k < kept[p]; ++k) *order[first[p] + k] = std::move(merged[first[p] + k]);
  }
  // Merges part p; the calling thread, when it has pacer, ticks it. False
  // once stop is set (by this part when the pacer answers false).
  bool MergePart(size_t p, Pacer* pacer, std::atomic<bool>& stop) {
    const size_t count = runs.size();
    // Where this part's share of each run begins and ends; the hits before
    // it come first in the merged order.
    std::vector<const KeyedHit*> at(bounds.begin() + static_cast<ptrdiff_t>(p * count),
                                    bounds.begin() + static_cast<ptrdiff_t>((p + 1) * count));
    const KeyedHit* const* end = bounds.data() + (p + 1) * count;
    size_t before = 0;
    for (size_t r = 0; r < count; ++r) before += static_cast<size_t>(at[r] - runs[r].begin);
    // A tournament of the runs with hits in this part (a loser tree, a
    // leaf a run, in their order): each inner node holds the leaf that lost
    // the match played there, node 0 the winner, whose next hit comes first
    // (an earlier run first of equal hits). The runs' next hits are copied
    // into one short list, so that taking a hit plays one match a level
    // against hits in it, reading no run's list.
    std::vector<size_t> run_of;
    for (size_t r = 0; r < count; ++r)
      if (at[r] < end[r]) run_of.push_back(r);
    const size_t leaves = std::bit_ceil(std::max<size_t>(run_of.size(), 1));
    std::vector<KeyedHit> next(leaves);  // hit null: no hit left
    for (size_t leaf = 0; leaf < run_of.size(); ++leaf) {
      next[leaf] = *at[run_of[leaf]];
      __builtin_prefetch(next[leaf].hit);
    }
    const auto wins = [&](size_t a, size_t b) {
      if (next[a].hit == nullptr) return false;
      if (next[b].hit == nullptr) return true;
      const int c = Compare(next[a], next[b]);
      return c < 0 || (c == 0 && a < b);
    };
    std::vector<size_t> tree(leaves);
    {
      std::vector<size_t> winner(2 * leaves);
      for (size_t leaf = 0; leaf < leaves; ++leaf) winner[leaves + leaf] = leaf;
      for (size_t node = leaves - 1; node >= 1; --node) {
        const size_t a = winner[2 * node], b = winner[2 * node + 1];
        const bool a_wins = wins(a, b);
        winner[node] = a_wins ? a : b;
        tree[node] = a_wins ? b : a;
      }
      tree[0] = leaves > 1 ? winner[1] : 0;
    }
    first[p] = before;
    std::string** from = order.get() + before;
    std::string* out = merged.data() + before;
    size_t taken = 0;
    // The last hit kept, as it now stands in the merged list.
    KeyedHit last;
    for (size_t looked = 1;; ++looked) {
      size_t leaf = tree[0];
      if (next[leaf].hit == nullptr) break;
      const KeyedHit hit = next[leaf];
      // The slot of the run's next hit, which it moves in turn, and the
      // run's hits a few on: the blocks' lists were filled long before and
      // have left the caches, and the runs are read in turns too short for
      // the processor to fetch them ahead.
      const size_t r = run_of[leaf];
      if (++at[r] < end[r]) {
        next[leaf] = *at[r];
        __builtin_prefetch(next[leaf].hit);
        __builtin_prefetch(at[r] + 6);
      } else {
        next[leaf].hit = nullptr;
      }
      if (taken == 0 || Compare(last, hit) != 0) {
        from[taken] = hit.hit;
        out[taken] = std::move(*hit.hit);
        last = {hit.key, &out[taken]};
        ++taken;
      }
      // The run's next hit plays the matches its last one won.
      for (size_t node = (leaves + leaf) / 2; node >= 1; node /= 2)
        if (wins(tree[node], leaf)) std::swap(tree[node], leaf);
      tree[0] = leaf;
      if (looked % 4096 == 0) {
        if (pacer != nullptr && !pacer->TickNow()) stop = true;
        if (stop.load(std::memory_order_relaxed)) {
          kept[p] = taken;
          return false;
        }
      }
    }
    kept[p] = taken;
    return true;
  }
};

// A block of lines [first, end) of one ticked file, and what searching it
// found. Blocks are searched in any order and merged in block order.
struct Block {
  int slot = 0;
  int first = 1, end = 1;
  bool last_of_file = false;

  // Baptism hits as where their lines lie in the file, made into hit lines
  // by the merge: that is all a block holds for them until then. A block
  // of a large set read for this search, or of files read before it, makes
  // them as they are found instead (make_lines), into baptism_hits: the
  // merge would fetch the lines again from main memory, long after the
  // search had them in cache. Their slots are then held twice until the
  // merge (24 bytes a hit more), little beside files this large.
  std::vector<DataFile::Span> baptism_lines;
  bool make_lines = false;
  std::vector<std::string> baptism_hits;
  // Where one thread searches every block in turn, the hit lines it makes
  // go to one list of the search's instead, this block's at [made_from,
  // made_to) of it: in file order that list is the merged one, with no
  // second list of slots filled at the merge.
  std::vector<std::string>* made_into = nullptr;  // null: baptism_hits
  size_t made_from = 0, made_to = 0;
  size_t MadeCount() const { return made_into != nullptr ? made_to - made_from : baptism_hits.size(); }
  std::vector<std::string> other_hits;
  std::vector<KeyedHit> other_sorted;  // other_hits in order, once the block is finished
  std::vector<std::string> keywords;  // first match word of hit lines, once each
  int64_t hits = 0;
  int done_to = 1;  // lines [first, done_to) were read
  std::atomic<bool> taken{false};  // by the thread that searches it
  std::atomic<bool> finished{false};
  // The file a block cut as it was read was cut from: one read again (it
  // changed meanwhile) or not loaded in the end is not the set's file.
  std::shared_ptr<const DataFile> cut_from;
};

// Lines per block: a few chunks, so that one file of a large set is one
// block and one large file still spreads over every thread.
constexpr int kBlockLines = 4 * kChunkLines;
// A file searched as it is read is searched whole on the thread that read
// it when it is cut into this many blocks or fewer (and nobody watches).
constexpr size_t kBlocksReadWhole = 4;
// Files read for a search as a command, in bytes (as listed, or read so far
// when more), from which the heap's top is filled in huge pages: the hit
// lines and lists of a set this large fill megabytes, one page fault per 4
// KiB otherwise, while the up to 2 MiB the last huge page may hold unused
// is small beside the files. With several threads, each fills a heap of
// its own: where the files hold kHugeThreadHeapsFrom for every thread, so
// that what the threads' last huge pages may hold unused stays below a
// thirtieth of the files, every thread that searches asks for its own
// heap in huge pages too (at 4M lines on two cores 2,500 page faults
// instead of 10,600, 13% less processor time). Not for a search someone
// watches (the window), whose threads stay.
constexpr size_t kHugeHeapFrom = size_t{32} << 20;
constexpr size_t kHugeThreadHeapsFrom = size_t{64} << 20;
// Every chunk starts at a line whose offset is known without the line index.
static_assert(kChunkLines % DataFile::kStrideLines == 0);

// A line of a file as bytes [begin, end) of it, without its line end, and
// its number where the search knows it (-1 elsewhere).
struct LineSpan {
  size_t begin = 0, end = 0;
  int number = -1;
  std::string_view Of(const DataFile& file) const { return file.Bytes().substr(begin, end - begin); }
};

// Where a search stands in a file's lists of lines with brackets and with
// quotes: at the first of each that starts at or after the lines searched.
struct MarkCursor {
  size_t bracket = 0, quote = 0, closer = 0;

  MarkCursor(const DataFile& file, size_t from) {
    const auto first_from = [from](const std::vector<DataFile::Span>& lines) {
      return static_cast<size_t>(std::partition_point(lines.begin(), lines.end(), [from](const DataFile::Span& l) {
                                   return l.begin < from;
                                 }) - lines.begin());
    };
    bracket = first_from(file.BracketLines());
    quote = first_from(file.QuoteLines());
    closer = first_from(file.CloserLines());
  }
  // The marks (DataFile::kHasBracket, kHasQuote) of the line starting at
  // begin, moving past the lines before it.
  uint8_t MarksAt(const DataFile& file, size_t begin) {
    const bool bracketed = Has(file.BracketLines(), bracket, begin) | Has(file.CloserLines(), closer, begin);
    const bool quoted = Has(file.QuoteLines(), quote, begin);
    return static_cast<uint8_t>((bracketed ? DataFile::kHasBracket : 0) | (quoted ? DataFile::kHasQuote : 0));
  }

private:
  static bool Has(const std::vector<DataFile::Span>& lines, size_t& at, size_t begin) {
    while (at < lines.size() && lines[at].begin < begin) ++at;
    return at < lines.size() && lines[at].begin == begin;
  }
};

LineSpan SpanOfLine(const DataFile& file, int line) {
  const std::string_view text = file.Line(line);
  const size_t begin = file.LineStart(line);
  return {begin, begin + text.size(), line};
}

// The exact rule of other files, "the husband's part or the wife's holds
// term 1, a widow's line tested whole", as LineMatcher::MatchOther applies
// it, for a rest without brackets or quote characters whose first place
// holding term 1 is known: rest[at, at + length). Without brackets and
// quotes the husband's part runs up to the first ',' or ';', and the
// wife's from after the first ';' up to the next ','. Terms found by the
// sieve are found by ScanF, and the other way round.
bool OtherExactHit(std::string_view rest, size_t at, size_t length, const MatchBoxes& boxes, const std::string& term) {
  // " wid" anywhere from the second character: the rest holds the term.
  for (size_t w = rest.find('w', 1); w != std::string_view::npos; w = rest.find('w', w + 1))
    if (rest[w - 1] == ' ' && rest.compare(w, 3, "wid") == 0) return boxes.father || boxes.mother;
  const size_t semi = rest.find(';');
  const size_t husband_end = std::min({rest.find(','), semi, rest.size()});
  if (boxes.father && at + length <= husband_end) return true;
  if (!boxes.mother || semi == std::string_view::npos) return false;
  const size_t wife = semi + 1;
  const size_t wife_end = std::min(rest.find(',', wife), rest.size());
  // The first place lies in the wife's part or after it; before it, the
  // part is searched.
  if (at >= wife) return at + length <= wife_end;
  return textutil::ScanF(rest.substr(wife, wife_end - wife), term, -1) != 0;
}

// What one thread needs to search blocks: its own matcher (the phonetic
// verdicts it memoises are the same on every thread).
class BlockSearcher {
public:
  BlockSearcher(const SearchOptions& options, const SearchTerms& terms)
      : options_(options), matcher_(terms, ReadBoxes(options, terms)) {}

  // Searches the block chunk by chunk; after each chunk, between(lines, hits)
  // says whether to go on.
  void Search(const DataFile& file, FileKind kind, Block& block, const std::function<bool(int, int64_t)>& between);
  // Whether a block of file is searched through the places the file was
  // read with alone, reading neither its line index nor its word index:
  // such a block may be searched while the file is still being read.
  bool ByPlacesAlone(const DataFile& file, FileKind kind) const {
    std::vector<std::string> patterns;
    if (!matcher_.RequiredPatterns(kind, patterns) || patterns.size() != 1 || matcher_.WholeRestFuzzy(kind))
      return false;
    const PatternFinder finder(patterns[0]);
    return finder.Usable() && file.ReadWith() != nullptr && *file.ReadWith() == finder.Anchors();
  }
  // Whether searching a file of this kind reads its word index (not when
  // the words are sieved by sound).
  bool NeedsWords(FileKind kind) const {
    LineMatcher::SoundSieve sieve;
    return matcher_.WholeRestFuzzy(kind) && !matcher_.SoundSieveFor(kind, sieve);
  }

private:
  // Matches one line with the facts flags (DataFile::Flags); at: where the
  // sieve found the line's first pattern in the file's bytes, or npos.
  void Check(const DataFile& file, const LineSpan& line, uint8_t flags, FileKind kind, Block& block,
             size_t at = PatternFinder::npos);
  void AddHit(std::string_view trimmed, const LineSpan& line, FileKind kind, Block& block);
  // The bytes [from, until) of whole lines through the pattern sieve:
  // next(from, until, line) gives the first offset at or after from where
  // a pattern starts, or npos, and when it lies before until, sets line to
  // where its line starts.
  template <typename Next>
  void SearchBySieve(const DataFile& file, FileKind kind, Block& block, AnyPatternFinder& finder, size_t from,
                     size_t until, MarkCursor& marks, Next&& next);
  // The bytes [from, until) of whole lines through the sound sieve: each
  // word it points at that lies wholly in the rest from its second
  // character decides alone; other lines it points at, and the lines with
  // quotes that may hold a match, are matched in full.
  void SearchBySound(const DataFile& file, FileKind kind, Block& block, const WordClassFinder& finder, size_t from,
                     size_t until, MarkCursor& marks);
  // The same match over lines [first, end) of a file whose words and lines
  // were indexed before the search: the lines holding a word that sounds
  // alike are found from the index's codes (sound_leads_) and matched
  // through it; the lines with quotes are matched in full, as by sound.
  void SearchByIndex(const DataFile& file, FileKind kind, Block& block, const WordClassFinder& finder, int first,
                     int end, MarkCursor& marks);

  const SearchOptions& options_;
  LineMatcher matcher_;
  std::string tag_;  // the source tag of the block's hit lines
  std::string keyword_;
  std::string unbracketed_;  // a bracketed line without its brackets
  // Set when a pattern the sieve finds inside a line's rest, from its
  // second character on, makes the line a hit; the longest pattern.
  bool sieve_decides_ = false;
  // Set when other files' lines are matched by OtherExactHit where they
  // can be.
  bool other_exact_ = false;
  // Set when other files' lines are matched by their husband and wife
  // parts with a sieve: a line whose ']' splits a pattern is a hit too.
  bool closers_matter_ = false;
  size_t longest_pattern_ = 0;
  // Set while the block's lines are matched word by word through the
  // file's word index: that index, and the verdicts per word id.
  const WordIndex* index_ = nullptr;
  std::vector<uint8_t> known_;
  // Set while the block's lines are searched by SearchByIndex: the index,
  // and the leads of the ids whose words sound alike (their verdicts in
  // known_, every other id's none).
  const WordIndex* sound_index_ = nullptr;
  WordIndex::Leads sound_leads_;
  // SearchByIndex's hit lines of a chunk, each with its first word that
  // matches.
  struct IndexedHit {
    int line;
    uint16_t word;
  };
  std::vector<IndexedHit> hits_at_;
};

void BlockSearcher::Search(const DataFile& file, const FileKind kind, Block& block,
                           const std::function<bool(int, int64_t)>& between) {
  tag_ = SourceTag(block.slot + 1, options_.show_source_codes);
  std::vector<std::string> patterns;
  const bool can_sieve = matcher_.RequiredPatterns(kind, patterns);
  AnyPatternFinder finder(patterns);
  const bool sieve = can_sieve && finder.Usable();
  sieve_decides_ = sieve && matcher_.RestHoldingAPatternHits(kind);
  {
    // Other files are matched without '[' and ']', a lone ']' too; the
    // exact rule of other files, whose one pattern is term 1.
    const MatchBoxes& b = matcher_.Boxes();
    const SearchTerms& t = matcher_.Terms();
    closers_matter_ = sieve && kind == FileKind::kOther;
    other_exact_ = closers_matter_ && b.exact && !b.text_mode && !t.or_flag &&
                   !(t.first_word_stem && t.second_word_given) && patterns.size() == 1 && !t.not_flag;
  }
  longest_pattern_ = 0;
  for (const std::string& p : patterns) longest_pattern_ = std::max(longest_pattern_, p.size());
  index_ = nullptr;
  LineMatcher::SoundSieve sound;
  const bool by_sound = !sieve && matcher_.SoundSieveFor(kind, sound);
  // A word's letters give the letters of its key in turn: a word whose
  // key holds the key of term 1 carries the classes in the key's order.
  // Made only when the block is searched by sound.
  std::optional<WordClassFinder> sound_finder;
  if (by_sound) sound_finder.emplace(sound.classes, sound.need, sound.anchors, true);
  // Files whose words and lines were indexed when they were loaded (the
  // window's) are searched through the index: its codes take a sixth of
  // the bytes, and a word that sounds alike is judged once. Only a word
  // that carries the sieve's classes can match.
  sound_index_ = nullptr;
  if (by_sound && file.WordsBuilt() && file.LinesBuilt() && file.Words().Usable()) {
    sound_index_ = &file.Words();
    sound_leads_ = WordIndex::Leads();
    known_.assign(sound_index_->DistinctWords(), 0);
    // The sieve's classes as sets of letters, when they are ASCII letters
    // alone (the words' texts lie all over the file's bytes).
    std::array<uint32_t, 8> class_letters{};
    bool by_letters = true;
    for (unsigned b = 0; b < 256; ++b) {
      if (sound.classes[b] == 0) continue;
      const unsigned low = b | 0x20;
      by_letters = by_letters && low >= 'a' && low <= 'z';
      for (int j = 0; j < 8; ++j)
        if (sound.classes[b] >> j & 1) class_letters[static_cast<size_t>(j)] |= uint32_t{1} << ((low - 'a') & 31);
    }
    const auto may_hit = [&](uint16_t id) {
      if (!by_letters) return sound_finder->MayOccurIn(sound_index_->Word(id));
      const uint32_t letters = sound_index_->Letters(id);
      for (int j = 0; j < 8; ++j)
        if ((sound.need >> j & 1) && !(letters & class_letters[static_cast<size_t>(j)])) return false;
      return true;
    };
    for (size_t id = 0; id < known_.size(); ++id) {
      if (!may_hit(static_cast<uint16_t>(id))) continue;
      const std::string_view word = sound_index_->Word(static_cast<uint16_t>(id));
      known_[id] = matcher_.IndexedVerdict(word);
      if (known_[id] & WordVerdicts::kFuzzy) sound_leads_.Add(static_cast<uint16_t>(id));
    }
  }
  if (!by_sound && matcher_.WholeRestFuzzy(kind) && file.Words().Usable()) {
    index_ = &file.Words();
    known_.assign(index_->DistinctWords(), LineMatcher::kUnknownWord);
  }
  // Every line the block can hit lies inside these bytes (an empty file
  // still has its one empty block).
  const std::string_view bytes = file.Bytes().substr(0, file.StrideStart(block.end));
  MarkCursor marks(file, file.StrideStart(block.first));
  // A file read with the anchors of the only pattern lists the places
  // where it may start: the search looks at those alone.
  const PatternFinder* single = finder.Single();
  const bool by_places =
      sieve && single != nullptr && file.ReadWith() != nullptr && *file.ReadWith() == single->Anchors();
  const std::vector<DataFile::Candidate>& places = file.Candidates();
  size_t place = 0;
  if (by_places) {
    const auto first = static_cast<uint32_t>(file.StrideStart(block.first));
    place = static_cast<size_t>(std::partition_point(places.begin(), places.end(),
                                                     [first](const DataFile::Candidate& c) { return c.at < first; }) -
                                places.begin());
    // Every hit of the block but one found by its brackets stands on a
    // line that holds a place: its list is made that long at once rather
    // than grown by doubling (and cut down after when much is left unused).
    const auto end = static_cast<uint32_t>(file.StrideStart(block.end));
    const auto in_block = static_cast<size_t>(
        std::partition_point(places.begin() + static_cast<ptrdiff_t>(place), places.end(),
                             [end](const DataFile::Candidate& c) { return c.at < end; }) -
        (places.begin() + static_cast<ptrdiff_t>(place)));
    if (kind != FileKind::kBaptisms) {
      block.other_hits.reserve(in_block);
    } else if (block.make_lines) {
      std::vector<std::string>& made = block.made_into != nullptr ? *block.made_into : block.baptism_hits;
      if (made.capacity() - made.size() < in_block)
        made.reserve(std::max(made.size() + in_block, 2 * made.capacity()));
    } else {
      block.baptism_lines.reserve(in_block);
    }
  }
  const auto next_place = [&](size_t from, size_t, size_t& line) {
    for (; place < places.size(); ++place) {
      // A large file's bytes have left the caches since it was read: the
      // line of a place a few on is asked for meanwhile, up to where it
      // mostly ends (its end is looked for from the place on, and a hit's
      // line is copied whole).
      if (place + kFetchAhead < places.size()) {
        __builtin_prefetch(bytes.data() + places[place + kFetchAhead].line);
        __builtin_prefetch(bytes.data() + places[place + kFetchAhead].at);
        __builtin_prefetch(bytes.data() + places[place + kFetchAhead].at + 64);
      }
      const DataFile::Candidate c = places[place];
      if (c.at < from || !single->OccursAt(bytes, c.at)) continue;
      line = c.line;
      return static_cast<size_t>(c.at);
    }
    return PatternFinder::npos;
  };
  const auto next_found = [&](size_t from, size_t until, size_t& line) {
    const size_t at = finder.Find(bytes, from);
    if (at < until) line = file.LineBegin(at, from);
    return at;
  };

  for (int line = block.first; line < block.end;) {
    const int chunk_end = std::min(block.end, line + kChunkLines);
    const int64_t hits_before = block.hits;
    const size_t from = file.StrideStart(line), until = file.StrideStart(chunk_end);
    if (sound_index_ != nullptr) {
      SearchByIndex(file, kind, block, *sound_finder, line, chunk_end, marks);
    } else if (by_sound) {
      SearchBySound(file, kind, block, *sound_finder, from, until, marks);
    } else if (by_places) {
      SearchBySieve(file, kind, block, finder, from, until, marks, next_place);
    } else if (sieve) {
      SearchBySieve(file, kind, block, finder, from, until, marks, next_found);
    } else {
      for (int i = line; i < chunk_end; ++i) Check(file, SpanOfLine(file, i), file.Flags(i), kind, block);
    }
    block.done_to = chunk_end;
    const bool go_on = between(chunk_end - line, block.hits - hits_before);
    line = chunk_end;
    if (!go_on) return;
  }
}

template <typename Next>
void BlockSearcher::SearchBySieve(const DataFile& file, FileKind kind, Block& block, AnyPatternFinder& finder,
                                  size_t from, size_t until, MarkCursor& marks, Next&& next) {
  // Only lines that hold one of the patterns can hit, brackets aside: the
  // fields are matched without '[' and ']', so a line with a '[' is looked
  // at again without them.
  const std::vector<DataFile::Span>& bracketed = file.BracketLines();
  const PatternFinder* single = finder.Single();
  const PatternAnchors anchors = single != nullptr ? single->Anchors() : PatternAnchors{};
  // A file read with these anchors tells the bracketed lines worth a look
  // without their bytes being read again.
  const std::vector<int8_t>& near = file.BracketLinesNearAnchors();
  const bool near_known = single != nullptr && file.ReadWith() != nullptr && *file.ReadWith() == anchors &&
                          near.size() == bracketed.size();
  const DataFile::Span* const spans = bracketed.data();
  const int8_t* const near_at = near.data();
  const size_t bracket_count = bracketed.size();
  const std::vector<DataFile::Span>& closers = file.CloserLines();
  const bool closers_matter = closers_matter_;
  size_t closer = closers_matter ? static_cast<size_t>(std::partition_point(closers.begin(), closers.end(),
                                                                            [from](const DataFile::Span& l) {
                                                                              return l.begin < from;
                                                                            }) -
                                                        closers.begin())
                                  : 0;
  while (from < until) {
    size_t line = 0;
    const size_t at = next(from, until, line);
    const size_t found = at == PatternFinder::npos || at >= until ? until : line;
    // Bracketed lines before the found one, each whose unbracketed text
    // holds a pattern. The cursor stays in a register while the lines the
    // read ruled out are passed.
    size_t b = marks.bracket;
    while (b < bracket_count && spans[b].begin < from) ++b;
    for (;; ++b) {
      if (near_known)
        while (b < bracket_count && near_at[b] == 0 && spans[b].begin < found) ++b;
      if (b >= bracket_count || spans[b].begin >= found) break;
      if (!near_known && b + kFetchAhead < bracket_count) {
        const DataFile::Span ahead = spans[b + kFetchAhead];
        __builtin_prefetch(file.Bytes().data() + ahead.begin);
        __builtin_prefetch(file.Bytes().data() + ahead.end - 1);
      }
      const DataFile::Span line = spans[b];
      const std::string_view text = file.Bytes().substr(line.begin, line.end - line.begin);
      if (!near_known && single != nullptr && AnchorsNearBrackets(text, anchors, longest_pattern_) == 0) continue;
      // The line holds no pattern as it stands, so one found without the
      // brackets spans a bracket: only the bytes from a pattern's length
      // before the first to as far after the last are looked at.
      const BracketBounds brackets = BracketsOf(text);
      // None where the read listed one: the file was rewritten in place
      // since, and is read again once its stamp is seen to differ.
      if (brackets.first == std::string_view::npos) continue;
      const size_t lo = brackets.first >= longest_pattern_ ? brackets.first - longest_pattern_ : 0;
      const std::string_view around = text.substr(lo, brackets.last + longest_pattern_ + 1 - lo);
      // The read found both anchors there already where it says 1.
      if (!(near_known && near_at[b] == 1) && !finder.MayOccurIn(around)) continue;
      StripBracketsInto(around, unbracketed_);
      if (finder.OccursIn(unbracketed_)) {
        const LineSpan span{line.begin, line.end};
        marks.bracket = b;
        Check(file, span, file.FactsOf(span.begin, span.end, marks.MarksAt(file, span.begin)), kind, block);
      }
    }
    marks.bracket = b;
    // Other files are matched after every ']' is dropped, with no '[' too:
    // a line before the found one that holds ']' alone may hold a pattern
    // without it.
    for (; closers_matter && closer < closers.size() && closers[closer].begin < found; ++closer) {
      const DataFile::Span line = closers[closer];
      const std::string_view text = file.Bytes().substr(line.begin, line.end - line.begin);
      if (line.begin < from || text.find('[') != std::string_view::npos || !finder.MayOccurIn(text)) continue;
      StripBracketsInto(text, unbracketed_);
      if (finder.OccursIn(unbracketed_)) {
        // Check reads no quote mark.
        const LineSpan span{line.begin, line.end};
        Check(file, span, file.FactsOf(span.begin, span.end, 0), kind, block);
      }
    }
    if (found >= until) break;
    const LineSpan span{found, file.LineEnd(at)};
    Check(file, span, file.FactsOf(span.begin, span.end, marks.MarksAt(file, span.begin)), kind, block, at);
    from = file.NextLine(span.end);
  }
}

void BlockSearcher::Check(const DataFile& file, const LineSpan& line, uint8_t flags, FileKind kind, Block& block,
                          size_t at) {
  if (!(flags & DataFile::kRecordLine)) return;
  if (!PassesPeriod(flags & 3, options_.before_1700, options_.from_1700)) return;
  keyword_.clear();
  const std::string_view trimmed = TrimLine(line.Of(file));
  // Where the pattern found lies wholly inside the rest from its second
  // character (characters 14 on), the rule is met without matching again;
  // other files match without brackets, so only a line without them, and
  // their exact rule is decided from the first place found where it lies
  // in the rest.
  const auto begin = static_cast<size_t>(trimmed.data() - file.Bytes().data());
  const bool found_in_rest =
      at != PatternFinder::npos && at >= begin + 12 && at + longest_pattern_ <= begin + trimmed.size() &&
      (kind == FileKind::kBaptisms ||
       (!(flags & DataFile::kHasBracket) && trimmed.find(']') == std::string_view::npos));
  const bool decided = found_in_rest && sieve_decides_ && at >= begin + 13;
  if (!decided && found_in_rest && other_exact_) {
    // The pattern's first place in the line lies in the rest.
    const std::string_view rest = trimmed.substr(12);
    const textutil::UnitState& st = textutil::State();
    if (rest.find(st.OpenQuote) == std::string_view::npos &&
        (st.CloseQuote == st.OpenQuote || rest.find(st.CloseQuote) == std::string_view::npos)) {
      if (OtherExactHit(rest, at - begin - 12, longest_pattern_, matcher_.Boxes(), matcher_.Terms().term1))
        AddHit(trimmed, line, kind, block);
      return;
    }
  }
  // Other files match the rest without its brackets, which the index does
  // not hold.
  if (decided) {
  } else if (index_ != nullptr && line.number >= 0 && index_->Covers(line.number) &&
             (kind == FileKind::kBaptisms || !(flags & DataFile::kHasBracket))) {
    if (!matcher_.MatchIndexedWords(*index_, line.number, known_, &keyword_)) return;
  } else if (!matcher_.Match(kind, RestOf(trimmed), &keyword_)) {
    return;
  }
  AddHit(trimmed, line, kind, block);
}

void BlockSearcher::AddHit(std::string_view trimmed, const LineSpan& line, FileKind kind, Block& block) {
  ++block.hits;
  if (kind != FileKind::kBaptisms)
    block.other_hits.push_back(HitLine(trimmed, tag_));
  else if (block.make_lines)
    (block.made_into != nullptr ? *block.made_into : block.baptism_hits).push_back(HitLine(trimmed, tag_));
  else
    block.baptism_lines.push_back({static_cast<uint32_t>(line.begin), static_cast<uint32_t>(line.end)});
  // The matcher hands each word out once, so a thread's blocks list a word
  // at most once between them.
  if (!keyword_.empty()) block.keywords.push_back(keyword_);
}

void BlockSearcher::SearchByIndex(const DataFile& file, FileKind kind, Block& block, const WordClassFinder& finder,
                                  int first, int end, MarkCursor& marks) {
  const WordIndex& index = *sound_index_;
  // Lines whose words the index does not hold as the match cuts them are
  // matched in full: those with quotes, and in other files those with
  // brackets (matched without them).
  const bool other = kind != FileKind::kBaptisms;
  const std::vector<DataFile::Span>& quoted = file.QuoteLines();
  const std::vector<DataFile::Span>& bracketed = file.BracketLines();
  const std::vector<DataFile::Span>& closers = file.CloserLines();
  const size_t from = file.StrideStart(first), until = file.StrideStart(end);
  const auto skip_to = [from](const std::vector<DataFile::Span>& lines, size_t& at) {
    while (at < lines.size() && lines[at].begin < from) ++at;
  };
  skip_to(quoted, marks.quote);
  if (other) {
    skip_to(bracketed, marks.bracket);
    skip_to(closers, marks.closer);
  }
  // The next line to match in full, from the list that holds it.
  const auto next_full = [&](DataFile::Span& span) {
    span = {UINT32_MAX, 0};
    const auto take = [&span](const std::vector<DataFile::Span>& lines, size_t at) {
      if (at < lines.size() && lines[at].begin < span.begin) span = lines[at];
    };
    take(quoted, marks.quote);
    if (other) {
      take(bracketed, marks.bracket);
      take(closers, marks.closer);
    }
    return span.begin != UINT32_MAX && span.begin < until;
  };
  // First the lines that hit, from the index alone (no byte of the text
  // read); a line matched in full is left to the lists.
  hits_at_.clear();
  for (int line = first; !sound_leads_.Empty();) {
    const int found = index.NextLineWithLead(line, end, sound_leads_);
    if (found >= end) break;
    line = found + 1;
    const uint8_t flags = file.Flags(found);
    if (!(flags & DataFile::kRecordLine) || !PassesPeriod(flags & 3, options_.before_1700, options_.from_1700) ||
        (flags & DataFile::kHasQuote) || (other && (flags & DataFile::kHasBracket)))
      continue;
    const int id = matcher_.FirstIndexedHit(index, found, known_);
    if (id >= 0) hits_at_.push_back({found, static_cast<uint16_t>(id)});
  }
  // Then the hits and the lines matched in full, in order, the text of a
  // hit a few on asked for meanwhile (the file was read long before).
  const char* const text = file.Bytes().data();
  for (size_t k = 0;; ++k) {
    if (k + kFetchAhead < hits_at_.size()) {
      const char* ahead = text + file.LineStart(hits_at_[k + kFetchAhead].line);
      __builtin_prefetch(ahead);
      __builtin_prefetch(ahead + 64);
    }
    const size_t hit_at = k < hits_at_.size() ? file.LineStart(hits_at_[k].line) : until;
    for (DataFile::Span full; next_full(full) && full.begin < hit_at;) {
      SearchBySound(file, kind, block, finder, full.begin, file.NextLine(full.end), marks);
      for (size_t* at : {&marks.quote, &marks.bracket, &marks.closer}) {
        const std::vector<DataFile::Span>& lines =
            at == &marks.quote ? quoted : at == &marks.bracket ? bracketed : closers;
        while (*at < lines.size() && lines[*at].begin <= full.begin) ++*at;
      }
    }
    if (k >= hits_at_.size()) break;
    // The keyword is handed out here, in the order of the lines.
    keyword_.clear();
    matcher_.ReportIndexedWord(index, hits_at_[k].word, known_, keyword_);
    const LineSpan span = SpanOfLine(file, hits_at_[k].line);
    AddHit(TrimLine(span.Of(file)), span, kind, block);
  }
}

void BlockSearcher::SearchBySound(const DataFile& file, FileKind kind, Block& block, const WordClassFinder& finder,
                                  size_t from, size_t until, MarkCursor& marks) {
  const std::string_view bytes = file.Bytes();
  const std::vector<DataFile::Span>& quoted = file.QuoteLines();
  size_t line = from;  // where the line the finder looks in starts
  while (true) {
    size_t end = 0;
    const size_t begin = finder.Find(bytes, from, until, end);
    const size_t found = begin == WordClassFinder::npos ? until : file.LineBegin(begin, line);
    while (marks.quote < quoted.size() && quoted[marks.quote].begin < line) ++marks.quote;
    // Lines with quotes cut words across blanks: each before the found one
    // that may hold a match is matched in full.
    for (; marks.quote < quoted.size() && quoted[marks.quote].begin < found; ++marks.quote) {
      const LineSpan span{quoted[marks.quote].begin, quoted[marks.quote].end};
      if (finder.MayOccurIn(span.Of(file)))
        Check(file, span, file.FactsOf(span.begin, span.end, marks.MarksAt(file, span.begin)), kind, block);
    }
    if (found >= until) return;
    const LineSpan span{found, file.LineEnd(begin)};
    const uint8_t flags = file.FactsOf(span.begin, span.end, marks.MarksAt(file, span.begin));
    line = from = file.NextLine(span.end);
    if (!(flags & DataFile::kRecordLine) || !PassesPeriod(flags & 3, options_.before_1700, options_.from_1700))
      continue;
    if (flags & DataFile::kHasQuote) {
      ++marks.quote;  // this line is quoted: matched here
      Check(file, span, flags, kind, block);
      continue;
    }
    // Other files match the rest without its brackets, which joins no
    // words: a word without them is a word of the match all the same.
    const std::string_view trimmed = TrimLine(span.Of(file));
    const std::string_view rest = RestOf(trimmed);
    const char* word = bytes.data() + begin;
    // The words are cut from the rest's second character: a word that
    // begins the rest is matched without its first.
    if (word == rest.data() && rest.size() >= 2) ++word;
    if (rest.size() < 2 || word < rest.data() + 1 || bytes.data() + end > rest.data() + rest.size() ||
        (kind != FileKind::kBaptisms && (flags & DataFile::kHasBracket) &&
         std::string_view(word, static_cast<size_t>(bytes.data() + end - word)).find_first_of("[]") !=
             std::string_view::npos)) {
      Check(file, span, flags, kind, block);
      continue;
    }
    keyword_.clear();
    if (word < bytes.data() + end &&
        matcher_.SoundWordHits(std::string_view(word, static_cast<size_t>(bytes.data() + end - word)), &keyword_)) {
      AddHit(trimmed, span, kind, block);
      continue;
    }
    // The line's next words.
    line = found;
    from = end;
  }
}

// One search: the blocks of every ticked file, searched by a few threads,
// then merged in order.
class Searcher {
public:
  Searcher(const SearchOptions& options, SearchResult& result, const ProgressFn& progress)
      : caller_(std::this_thread::get_id()),
        options_(options),
        result_(result),
        watched_(static_cast<bool>(progress)),
        tick_(progress ? std::function<bool()>([this, &progress] {
          // The searching line may have been replaced since the last tick.
          now_.searching = result_.searching_line;
          return progress(now_);
        }) : std::function<bool()>()),
        pacer_(tick_) {}
  // The blocks' lists, hundreds of them and many in other threads' heaps,
  // are let go of by a helper while the caller takes the result (0.2-0.3 ms
  // at 4M lines on all cores).
  ~Searcher() {
    try {
      auto left = std::make_shared<std::vector<std::unique_ptr<Block>>>(std::move(blocks_));
      crew_.AtEnd([left] { left->clear(); });
    } catch (const std::bad_alloc&) {
      // Let go of here.
    }
  }
  Searcher(const Searcher&) = delete;
  Searcher& operator=(const Searcher&) = delete;

  // Every file ticked, whatever options.ticked holds (for a search of
  // files as they are read, before their slots are known).
  void TickAll() { tick_all_ = true; }
  // Searches one file that was just read, on the thread that read it,
  // while other files are still read (set_bytes of them in all, as listed);
  // Run does the rest.
  void Arrived(int slot, const DataFileEntry& entry, size_t set_bytes);
  // Searches lines [1, lines) of a file still being read (see
  // DataFile::PartFn), on the thread that reads it, a chunk at a time as
  // its bytes pass through the cache, where nothing but the places it is
  // read with is needed and nobody watches the progress; Arrived then
  // searches the rest.
  void PartRead(int slot, FileKind kind, const DataFile& file, int lines, size_t set_bytes);
  void Run(const DataFileSet& files);
  const SearchTerms& Terms() const { return result_.terms; }
  // The threads of this search, which also read the files it searches as
  // they are read.
  WorkCrew& Crew() { return crew_; }

private:
  bool Ticked(int slot) const {
    return tick_all_ ||
           (static_cast<size_t>(slot) < options_.ticked.size() && options_.ticked[static_cast<size_t>(slot)]);
  }
  bool Searched(const DataFileEntry& entry) const { return entry.kind != FileKind::kOther || options_.marriages; }
  // The blocks of one file from line first on, appended to blocks_.
  void CutFile(int slot, int line_count, int first = 1);
  // Whether the hit lines of a set of set_bytes are made as found; has
  // the heap grow in huge pages where that pays.
  bool ReadyFor(size_t set_bytes);
  void CutBlocks(const DataFileSet& files);
  // Searches one block; the calling thread also watches the clock and the
  // caller's cancel.
  void SearchBlock(std::optional<BlockSearcher>& searcher, const DataFile& file, FileKind kind, Block& block);
  // Takes blocks until none is left or the search stops.
  void Work(const DataFileSet& files, bool calling_thread);
  bool Tick(int slot);
  // Has file's word index built on a thread of its own while this one
  // keeps ticking, so that the window answers while a large file's index
  // is cut.
  void AwaitWords(const DataFile& file, int slot);
  // Where a block's hits start in the merged lists.
  struct Place {
    size_t baptisms = 0, others = 0;
  };
  void Merge(const DataFileSet& files);
  int64_t RecordsIn(const DataFile& file, int first, int end) const;
  // On the calling thread once huge_heap_ is set: the heap's top in huge
  // pages (see rtl::os::BackHeapTopWithHugePages).
  void GrowHeapInHugePages() {
    if (std::this_thread::get_id() == caller_ && huge_heap_.exchange(false, std::memory_order_relaxed))
      rtl::os::BackHeapTopWithHugePages();
  }

  const std::thread::id caller_;
  const SearchOptions& options_;
  bool tick_all_ = false;
  SearchResult& result_;
  const bool watched_;  // a caller watches the progress
  SearchProgress now_;
  std::function<bool()> tick_;  // the caller's progress, with now_
  Pacer pacer_;
  std::vector<std::string> titles_;     // per slot
  std::vector<int> last_ticked_;        // slots whose "Searching: " line shows, in order
  // In file and line order once Run has cut them; files searched as they
  // were read cut theirs first (under mutex_), in the order read.
  std::vector<std::unique_ptr<Block>> blocks_;
  // The next block to take; the calling thread starts at block 0, which
  // another takes when the calling thread comes late.
  std::atomic<size_t> next_block_{0};
  std::atomic<bool> stop_{false};
  std::atomic<int64_t> lines_read_{0}, hits_{0};
  std::atomic<size_t> bytes_arrived_{0};
  // Set once the set's files (as listed, or read so far) reach
  // kHugeHeapFrom with one core to run on (or, in a search nobody watches,
  // kHugeThreadHeapsFrom a thread); the calling thread then has the heap
  // grow in huge pages (and clears it). That is looked at once a
  // search (huge_heap_asked_), the cores asked only then.
  std::atomic<bool> huge_heap_{false}, huge_heap_asked_{false};
  // Set with it on several threads: each other thread that searches asks
  // for its own heap in huge pages, once.
  std::atomic<bool> huge_thread_heaps_{false};
  // With one core, the baptism hit lines the calling thread makes as found
  // (see Block::made_into).
  std::vector<std::string> made_;
  std::mutex mutex_;
  // Per slot, the blocks of a file searched while it was read (under
  // mutex_; each entry is used by the thread reading that file alone).
  struct PartCut {
    const DataFile* file = nullptr;
    bool by_parts = false;  // the file's blocks can be searched so
    int cut_to = 1;         // the first line not cut into blocks
    std::vector<Block*> blocks;
    std::optional<BlockSearcher> searcher;
  };
  std::unordered_map<int, PartCut> parts_;
  WorkCrew crew_{WorkCrew::Placing::kOwn};
  std::exception_ptr failure_;  // under mutex_
  bool cancelled_ = false;
};

std::string TaggedTitle(int slot, const DataFileEntry& entry, bool show_source_codes) {
  return SourceTag(slot + 1, show_source_codes) + std::string(TrimLine(entry.title));
}

void Searcher::CutFile(int slot, int count, int first) {
  // An empty file has no line 1 to start a block at (nor a title).
  if (count < 2 || first >= count) return;
  do {
    auto block = std::make_unique<Block>();
    block->slot = slot;
    block->first = block->done_to = first;
    block->end = std::min(count, first + kBlockLines);
    first = block->end;
    block->last_of_file = first >= count;
    blocks_.push_back(std::move(block));
  } while (first < count);
}

void Searcher::CutBlocks(const DataFileSet& files) {
  // Blocks of a file read again, or left empty by a failed second read,
  // were cut from lines the set no longer holds: the file is cut again.
  std::erase_if(blocks_, [this, &files](const std::unique_ptr<Block>& block) {
    if (block->cut_from == files.File(block->slot).data) return false;
    lines_read_ -= block->done_to - block->first;
    hits_ -= block->hits;
    return true;
  });
  std::vector<char> streamed(static_cast<size_t>(files.Count()), 0);
  for (const std::unique_ptr<Block>& block : blocks_) streamed[static_cast<size_t>(block->slot)] = 1;
  for (int slot = 0; slot < files.Count(); ++slot) {
    if (!Ticked(slot)) continue;
    const DataFileEntry& entry = files.File(slot);
    titles_[static_cast<size_t>(slot)] = TaggedTitle(slot, entry, options_.show_source_codes);
    last_ticked_.push_back(slot);
    if (Searched(entry) && !streamed[static_cast<size_t>(slot)]) {
      // The files were read before this search: their lines have left the
      // cache, and the merge would fetch each hit's line again.
      const size_t from = blocks_.size();
      CutFile(slot, entry.data->LineCount());
      for (size_t b = from; b < blocks_.size(); ++b) blocks_[b]->make_lines = true;
    }
  }
  // File and line order; blocks already searched come first where they
  // belong. The calling thread starts at the first block not taken.
  std::stable_sort(blocks_.begin(), blocks_.end(), [](const std::unique_ptr<Block>& a, const std::unique_ptr<Block>& b) {
    return std::tie(a->slot, a->first) < std::tie(b->slot, b->first);
  });
}

bool Searcher::ReadyFor(size_t set_size) {
  if (set_size >= kHugeHeapFrom && !huge_heap_asked_.exchange(true)) {
    const size_t threads = crew_.Processors();
    if (threads == 1) huge_heap_ = true;
    else if (!watched_ && set_size >= threads * kHugeThreadHeapsFrom) huge_heap_ = huge_thread_heaps_ = true;
  }
  GrowHeapInHugePages();
  return set_size >= options_.make_lines_from;
}

void Searcher::PartRead(int slot, FileKind kind, const DataFile& file, int lines, size_t set_bytes) {
  if (watched_ || stop_ || !Ticked(slot) || (kind == FileKind::kOther && !options_.marriages)) return;
  PartCut* cut = nullptr;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    cut = &parts_[slot];
  }
  if (cut->file != &file) {
    // The first part, or of a file read again.
    cut->file = &file;
    cut->cut_to = 1;
    cut->blocks.clear();
    if (!cut->searcher) cut->searcher.emplace(options_, result_.terms);
    cut->by_parts = cut->searcher->ByPlacesAlone(file, kind);
  }
  // A large file is searched as it is read up to where Arrived would leave
  // the rest to the other threads. With no other thread, all of it: the
  // rest would be searched once the file is read, its bytes fetched from
  // main memory again (at 10M lines, a fifth of the set).
  const int most = crew_.Processors() == 1 ? std::numeric_limits<int>::max()
                                           : 1 + static_cast<int>(kBlocksReadWhole) * kBlockLines;
  if (!cut->by_parts || cut->cut_to >= most) return;
  const bool make_lines = ReadyFor(std::max(set_bytes, bytes_arrived_.load(std::memory_order_relaxed)));
  try {
    while (cut->cut_to + kChunkLines <= std::min(lines, most) && !stop_) {
      auto owned = std::make_unique<Block>();
      Block* block = owned.get();
      block->slot = slot;
      block->first = block->done_to = cut->cut_to;
      block->end = cut->cut_to + kChunkLines;
      block->make_lines = make_lines;
      block->taken = true;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        blocks_.push_back(std::move(owned));
      }
      cut->cut_to = block->end;
      cut->blocks.push_back(block);
      SearchBlock(cut->searcher, file, kind, *block);
    }
  } catch (...) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!failure_) failure_ = std::current_exception();
    stop_ = true;
  }
}

void Searcher::Arrived(int slot, const DataFileEntry& entry, size_t set_bytes) {
  const size_t size = entry.data->Bytes().size();
  const size_t before = bytes_arrived_.fetch_add(size, std::memory_order_relaxed);
  const size_t set_size = std::max(set_bytes, before + size);
  const bool make_lines = ReadyFor(set_size);
  // The blocks searched as the file was read belong to it now.
  int first = 1;
  std::vector<Block*> earlier;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (const auto it = parts_.find(slot); it != parts_.end()) {
      if (it->second.file == entry.data.get()) {
        first = it->second.cut_to;
        earlier = std::move(it->second.blocks);
        for (Block* block : earlier) block->cut_from = entry.data;
      }
      parts_.erase(it);
    }
    if (!earlier.empty() && first >= entry.data->LineCount()) earlier.back()->last_of_file = true;
  }
  if (stop_ || !Ticked(slot) || !Searched(entry)) return;
  try {
    // The file is searched while its bytes are still in the cache: whole
    // when it is cut into a few blocks and no caller watches the progress
    // (the files are read largest first, so the threads end together),
    // else its first block, the blocks after it waiting for every thread
    // (the calling thread among them, which then answers the caller).
    std::vector<Block*> cut;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      const size_t from = blocks_.size();
      CutFile(slot, entry.data->LineCount(), first);
      for (size_t b = from; b < blocks_.size(); ++b) {
        blocks_[b]->make_lines = make_lines;
        blocks_[b]->cut_from = entry.data;
        cut.push_back(blocks_[b].get());
      }
    }
    const auto finished = [](const Block* b) { return b->finished.load(); };
    if (cut.empty()) {
      if (!earlier.empty() && std::all_of(earlier.begin(), earlier.end(), finished)) entry.data->ForgetAnchors();
      return;
    }
    if (std::this_thread::get_id() == caller_)
      result_.searching_line = "Searching: " + TaggedTitle(slot, entry, options_.show_source_codes);
    std::optional<BlockSearcher> searcher;
    const size_t here = !watched_ && cut.size() <= kBlocksReadWhole ? cut.size() : 1;
    for (size_t b = 0; b < here && !stop_; ++b) {
      cut[b]->taken = true;
      SearchBlock(searcher, *entry.data, entry.kind, *cut[b]);
    }
    // A file searched whole here is not looked at by this search again:
    // its places are given back at once, for the hit lines of the files
    // this thread reads next.
    if (here == cut.size() && std::all_of(cut.begin(), cut.end(), finished) &&
        std::all_of(earlier.begin(), earlier.end(), finished))
      entry.data->ForgetAnchors();
  } catch (...) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!failure_) failure_ = std::current_exception();
    stop_ = true;
  }
}

bool Searcher::Tick(int slot) {
  now_.slot = slot;
  now_.searching = result_.searching_line;
  now_.lines_read = lines_read_.load();
  now_.hits = hits_.load();
  return pacer_.TickNow();
}

void Searcher::AwaitWords(const DataFile& file, int slot) {
  if (file.WordsBuilt()) return;
  // With no one to answer, this thread builds the index itself.
  if (!watched_) {
    file.Words();
    return;
  }
  std::atomic<bool> done{false};
  std::thread builder;
  try {
    builder = std::thread([this, &file, &done] {
      // Not on the calling thread's core alone (see WorkCrew::Placing).
      rtl::os::KeepThisThreadOn(crew_.Cores());
      try {
        file.Words();
      } catch (...) {
        // Built (and its failure raised) again by the search itself.
      }
      done = true;
    });
  } catch (const std::system_error&) {
    return;  // no thread to spare: the search builds it
  }
  while (!done) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (!stop_ && !Tick(slot)) {
      cancelled_ = true;
      stop_ = true;
    }
  }
  builder.join();
}

void Searcher::SearchBlock(std::optional<BlockSearcher>& searcher, const DataFile& file, const FileKind kind,
                           Block& block) {
  const bool calling_thread = std::this_thread::get_id() == caller_;
  if (!calling_thread && huge_thread_heaps_.load(std::memory_order_relaxed)) {
    thread_local bool asked = false;
    if (!std::exchange(asked, true)) rtl::os::BackThreadHeapWithHugePages();
  }
  if (!searcher) searcher.emplace(options_, result_.terms);
  if (calling_thread && searcher->NeedsWords(kind)) AwaitWords(file, block.slot);
  if (stop_) return;
  // One thread searches every block (or the other threads only read
  // files): its hit lines go to made_.
  const bool into_made = block.make_lines && kind == FileKind::kBaptisms && calling_thread &&
                         (crew_.Processors() == 1 || options_.threads == 1);
  if (into_made) {
    block.made_into = &made_;
    block.made_from = block.made_to = made_.size();
  }
  searcher->Search(file, kind, block, [&](int lines, int64_t hits) {
    lines_read_ += lines;
    hits_ += hits;
    if (calling_thread && !Tick(block.slot)) {
      cancelled_ = true;
      stop_ = true;
    }
    return !stop_;
  });
  block.finished = block.done_to == block.end;
  if (into_made) block.made_to = made_.size();
  // The lists give back what their last doubling (or the places) left
  // unused, when that is much, for the hit lines that blocks still searched
  // allocate.
  const auto fit = [](auto& list) {
    if (list.capacity() - list.size() > list.size() / 8 + 16) list.shrink_to_fit();
  };
  fit(block.other_hits);
  fit(block.baptism_lines);
  fit(block.baptism_hits);
  // A sort cancelled is done again, unpaced, by the merge.
  if (block.finished && !block.other_hits.empty() &&
      !SortOtherHits(block.other_hits, block.other_sorted, calling_thread ? &pacer_ : nullptr)) {
    cancelled_ = true;
    stop_ = true;
  }
}

void Searcher::Work(const DataFileSet& files, bool calling_thread) {
  std::optional<BlockSearcher> searcher;
  // The calling thread reads the first block, so that the caller sees the
  // files in order from the start.
  for (size_t b = calling_thread ? 0 : next_block_++; !stop_ && b < blocks_.size(); b = next_block_++) {
    Block& block = *blocks_[b];
    if (block.taken.exchange(true)) continue;
    try {
      if (calling_thread) result_.searching_line = "Searching: " + titles_[static_cast<size_t>(block.slot)];
      const DataFileEntry& entry = files.File(block.slot);
      SearchBlock(searcher, *entry.data, entry.kind, block);
    } catch (...) {
      std::lock_guard<std::mutex> lock(mutex_);
      if (!failure_) failure_ = std::current_exception();
      stop_ = true;
    }
  }
}

void Searcher::Run(const DataFileSet& files) {
  GrowHeapInHugePages();
  titles_.resize(static_cast<size_t>(files.Count()));
  CutBlocks(files);
  // The caller sees the first file at once, and may cancel before a line
  // is read; the next call comes an interval later.
  if (tick_ && !blocks_.empty() && !blocks_[0]->taken && !stop_) {
    result_.searching_line = "Searching: " + titles_[static_cast<size_t>(blocks_[0]->slot)];
    now_.slot = blocks_[0]->slot;
    if (!tick_()) {
      cancelled_ = true;
      stop_ = true;
    }
    pacer_ = Pacer(tick_);
  }
  unsigned threads = options_.threads > 0 ? static_cast<unsigned>(options_.threads)
                                          : static_cast<unsigned>(crew_.Processors());
  size_t open_blocks = 0;
  for (const std::unique_ptr<Block>& block : blocks_) open_blocks += block->taken ? 0 : 1;
  threads = static_cast<unsigned>(std::min<size_t>(threads, std::max<size_t>(1, open_blocks)));
  if (open_blocks == 0 || stop_) threads = 1;
  // Each thread takes blocks until none is left; the calling thread, once
  // it has none, still shows progress and may cancel while the others
  // finish theirs.
  crew_.Run(
      threads, threads, [this, &files](size_t, bool on_caller) { Work(files, on_caller); },
      [this] {
        if (stop_) return;
        int slot = last_ticked_.empty() ? -1 : last_ticked_.back();
        for (const std::unique_ptr<Block>& block : blocks_)
          if (!block->finished) {
            slot = block->slot;
            break;
          }
        if (slot >= 0) result_.searching_line = "Searching: " + titles_[static_cast<size_t>(slot)];
        if (!Tick(slot)) {
          cancelled_ = true;
          stop_ = true;
        }
      },
      static_cast<int>(kProgressIntervalMs));
  if (failure_) std::rethrow_exception(failure_);
  Merge(files);
}

int64_t Searcher::RecordsIn(const DataFile& file, int first, int end) const {
  // Every period passes: the counts found as the file was read (blocks
  // and chunks start at lines whose counts are known).
  if (options_.before_1700 && options_.from_1700) return file.RecordsBetween(first, end);
  if (first <= 1 && end >= file.LineCount()) {
    int64_t records = 0;
    for (uint8_t period = 0; period < 4; ++period)
      if (PassesPeriod(period, options_.before_1700, options_.from_1700)) records += file.RecordsInPeriod(period);
    return records;
  }
  int64_t records = 0;
  for (int i = first; i < end; ++i) {
    const uint8_t flags = file.Flags(i);
    if ((flags & DataFile::kRecordLine) && PassesPeriod(flags & 3, options_.before_1700, options_.from_1700))
      ++records;
  }
  return records;
}

void Searcher::Merge(const DataFileSet& files) {
  KeywordList keywords(result_.keywords);
  keywords.Add(result_.terms.term1);
  keywords.Add(result_.terms.term2);
  // First the counts, legend and keywords in block order, up to the first
  // block not finished, and where each block's hits go.
  std::vector<Place> places;
  size_t baptisms = 0, others = 0;
  bool file_had_hit = false;
  int stopped_in = -1;  // slot of the first block not finished
  for (const std::unique_ptr<Block>& owned : blocks_) {
    Block& block = *owned;
    const DataFile& file = *files.File(block.slot).data;
    result_.line_count += block.done_to - block.first;
    result_.record_count += RecordsIn(file, block.first, block.done_to);
    result_.hit_count += block.hits;
    file_had_hit = file_had_hit || block.hits > 0;
    places.push_back({baptisms, others});
    baptisms += block.baptism_lines.size() + block.MadeCount();
    others += block.other_hits.size();
    for (const std::string& word : block.keywords) keywords.Add(word);
    if (!block.finished) {
      stopped_in = block.slot;
      break;
    }
    if (block.last_of_file) {
      if (file_had_hit) result_.legend.push_back(titles_[static_cast<size_t>(block.slot)]);
      file_had_hit = false;
    }
  }
  result_.cancelled = cancelled_;
  if (stopped_in >= 0)
    result_.searching_line = "Searching: " + titles_[static_cast<size_t>(stopped_in)];
  else if (!last_ticked_.empty())
    result_.searching_line = "Searching: " + titles_[static_cast<size_t>(last_ticked_.back())];

  // Where every block's baptism hit lines went to made_ in block order,
  // made_ is the merged list.
  bool made_whole = !made_.empty();
  for (size_t b = 0; b < places.size() && made_whole; ++b) {
    const Block& block = *blocks_[b];
    if (block.baptism_lines.size() + block.MadeCount() == 0) continue;
    made_whole = block.made_into == &made_ && block.made_from == places[b].baptisms;
  }
  if (made_whole) {
    made_.resize(baptisms);  // hits of blocks after the first one not finished
    result_.baptism_hits = std::move(made_);
  }
  const size_t to_make = made_whole ? 0 : baptisms;

  // Then the other hits are merged and the baptism hit lines made, in one
  // round of a few threads. The work is cut into a few shares per thread,
  // taken in turn, so that a thread the system holds back delays the rest
  // by one share at most.
  constexpr size_t kSharesPerThread = 4;
  const size_t threads = to_make >= kBaptismsApart || others >= 2 * kMergeShare
                             ? rtl::PartsFor(std::max(to_make, others), kMergeShare, 8, crew_.Processors())
                             : 1;
  OtherMerge merge;
  for (size_t b = 0; b < places.size(); ++b) {
    Block& block = *blocks_[b];
    // A block cut short (or whose sort was cancelled) sorts what it found here.
    if (block.other_sorted.size() != block.other_hits.size())
      SortOtherHits(block.other_hits, block.other_sorted, nullptr);
    merge.Add(block.other_sorted);
  }
  const size_t most = threads == 1 ? 1 : threads * kSharesPerThread;
  merge.Cut(most, kMergeShare / kSharesPerThread);
  result_.baptism_hits.reserve(to_make);
  {
    // The lists' fresh pages are asked for at once rather than one fault at
    // a time as the slots are written (a few megabytes at 4M lines: the
    // calling thread alone took 1.5 ms), a piece per task. The pieces end
    // at multiples of their size, a few hundred KiB: many small ones, or
    // ones that straddle, had the threads wait on each other in the kernel
    // (1.0-1.9 ms at 4M lines on all cores against 0.7-0.9).
    const size_t bytes = (to_make + merge.items) * sizeof(std::string);
    const size_t piece = std::clamp<size_t>(std::bit_ceil(std::max<size_t>(1, bytes / threads)), kPrefaultPieceLeast,
                                            kPrefaultPieceMost);
    std::vector<rtl::os::MemoryPiece> pieces;
    rtl::os::CutAtMultiples(result_.baptism_hits.data(), to_make * sizeof(std::string), piece, pieces);
    rtl::os::CutAtMultiples(merge.merged.data(), merge.items * sizeof(std::string), piece, pieces);
    // Each task also finds where a part of the merge starts.
    crew_.Run(threads, std::max(merge.parts, pieces.size()), [&](size_t task, bool) {
      if (task > 0 && task < merge.parts) merge.Bound(task);
      if (task < pieces.size()) rtl::os::PrefaultMemory(pieces[task].at, pieces[task].length);
    });
  }
  const size_t baptism_shares =
      to_make == 0 ? 0 : std::clamp<size_t>(to_make / (kMergeShare / kSharesPerThread), 1, most);
  // One task makes every baptism hit in order: it appends them to the
  // list (moved or made in place) rather than filling it with empty slots
  // first and assigning each.
  const bool append = baptism_shares == 1;
  if (!append && to_make > 0) result_.baptism_hits.resize(baptisms);
  merge.merged.resize(merge.items);
  // The merge turns the event loop on this thread and may be cancelled;
  // the other hits then stay in the order found. After a Cancel during the
  // scan, what was found is merged unpaced.
  Pacer* pacer = result_.cancelled ? nullptr : &pacer_;
  std::atomic<bool> stop{false};
  crew_.Run(threads, merge.parts + baptism_shares, [&](size_t task, bool on_caller) {
    if (task < merge.parts) {
      merge.MergePart(task, on_caller ? pacer : nullptr, stop);
      return;
    }
    const size_t share = task - merge.parts;
    const size_t lo = baptisms * share / baptism_shares, hi = baptisms * (share + 1) / baptism_shares;
    for (size_t b = 0; b < places.size(); ++b) {
      // The block's hits are [first, last) of the list; a block whose hits
      // all lie in this share is this task's alone, and its list is freed
      // here.
      const size_t first = places[b].baptisms, last = b + 1 < places.size() ? places[b + 1].baptisms : baptisms;
      if (last <= lo || first >= hi) continue;
      Block& block = *blocks_[b];
      const bool alone = lo <= first && last <= hi;
      if (block.make_lines) {
        std::string* const made =
            block.made_into != nullptr ? block.made_into->data() + block.made_from : block.baptism_hits.data();
        if (append)
          result_.baptism_hits.insert(result_.baptism_hits.end(), std::make_move_iterator(made),
                                      std::make_move_iterator(made + (last - first)));
        else
          for (size_t k = std::max(first, lo) - first; first + k < std::min(last, hi); ++k)
            result_.baptism_hits[first + k] = std::move(made[k]);
        if (alone) std::vector<std::string>().swap(block.baptism_hits);
        continue;
      }
      const size_t count = last - first;
      const DataFile& file = *files.File(block.slot).data;
      // The lines were read long before: the one a few hits on is asked
      // for while this one is made.
      constexpr size_t kAhead = 8;
      for (size_t k = std::max(first, lo) - first; k < count && first + k < hi; ++k) {
        if (k + kAhead < count) __builtin_prefetch(file.Bytes().data() + block.baptism_lines[k + kAhead].begin);
        const DataFile::Span line = block.baptism_lines[k];
        std::string hit =
            HitLine(TrimLine(file.Bytes().substr(line.begin, line.end - line.begin)), block.slot + 1,
                    options_.show_source_codes);
        if (append) result_.baptism_hits.push_back(std::move(hit));
        else result_.baptism_hits[first + k] = std::move(hit);
      }
      if (alone) std::vector<DataFile::Span>().swap(block.baptism_lines);
    }
  });
  std::vector<std::string> sorted;
  if (stop) {
    result_.cancelled = true;
    merge.Undo();
    sorted.reserve(others);
    for (size_t b = 0; b < places.size(); ++b)
      for (std::string& hit : blocks_[b]->other_hits) sorted.push_back(std::move(hit));
  } else {
    sorted = merge.Take();
  }
  result_.marriage_hits = std::move(sorted);
}

}  // namespace

namespace {

// The anchors of the one pattern that every hit holds (brackets aside), as
// the search of the first kind of file searched that has one finds it; the
// files read with them are searched at their places alone.
std::optional<PatternAnchors> AnchorsToReadWith(const SearchOptions& options, const SearchTerms& terms) {
  const LineMatcher matcher(terms, ReadBoxes(options, terms));
  for (const FileKind kind : {FileKind::kBaptisms, FileKind::kOther}) {
    if (kind == FileKind::kOther && !options.marriages) continue;
    std::vector<std::string> patterns;
    if (!matcher.RequiredPatterns(kind, patterns)) continue;
    const AnyPatternFinder finder(patterns);
    if (finder.Usable() && finder.Single() != nullptr) return finder.Single()->Anchors();
  }
  return std::nullopt;
}

// One search, with the files read first when load is set.
SearchResult Search(const std::function<void(Searcher&)>& load, const DataFileSet& files, const SearchOptions& options,
                    const ProgressFn& progress) {
  const int64_t started = rtl::SecondClock();
  SearchResult result;
  result.terms = ParseSearchText(options.search_text);
  result.key1_label = result.terms.label_key1;
  result.key2_label = result.terms.label_key2;
  Searcher searcher(options, result, progress);
  if (load) load(searcher);
  searcher.Run(files);
  result.key_length = result.cancelled ? result.terms.key_length : 8;
  result.elapsed_seconds = rtl::SecondClock() - started;
  return result;
}

}  // namespace

SearchResult RunSearch(const DataFileSet& files, const SearchOptions& options, const ProgressFn& progress) {
  return Search(nullptr, files, options, progress);
}

SearchResult LoadAndSearch(DataFileSet& files, const std::string& search_dir, const MessageFn& report,
                           const SearchOptions& options, const ProgressFn& progress) {
  return Search(
      [&](Searcher& searcher) {
        searcher.TickAll();
        const std::optional<PatternAnchors> anchors = AnchorsToReadWith(options, searcher.Terms());
        struct Reset {
          DataFileSet& files;
          ~Reset() {
            files.ReadWith(nullptr);
            files.ReadOn(nullptr);
            files.HearParts(nullptr);
          }
        } reset{files};
        files.ReadWith(anchors ? &*anchors : nullptr);
        files.ReadOn(&searcher.Crew());
        files.HearParts([&](int slot, FileKind kind, const DataFile& file, int lines) {
          searcher.PartRead(slot, kind, file, lines, files.BytesToRead());
        });
        files.MakeFileList(search_dir, "", report,
                           [&](int slot, const DataFileEntry& entry) {
                             searcher.Arrived(slot, entry, files.BytesToRead());
                           });
      },
      files, options, progress);
}

std::string StatusText(const SearchResult& r) {
  return "Search: " + std::to_string(r.hit_count) + " / " + std::to_string(r.record_count) + " / " +
         std::to_string(r.line_count) + " in " + std::to_string(r.elapsed_seconds) + " secs.";
}

std::string SearchTextFor(const std::string& typed, const std::string& selected) {
  return selected.size() >= 3 && selected.size() <= 20 ? selected : typed;
}

}  // namespace appcore
