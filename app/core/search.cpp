#include "app/core/search.h"

#include <algorithm>
#include <unordered_set>

#include "app/core/line_matcher.h"
#include "app/core/pattern_finder.h"
#include "app/core/record_line.h"
#include "platform/runtime/dates.h"
#include "platform/runtime/sysutils.h"

namespace appcore {
namespace {

// Lines read between two looks at the clock.
constexpr int kChunkLines = 8192;

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

// Calls the progress callback at most every kProgressIntervalMs.
class Pacer {
public:
  explicit Pacer(const ProgressFn& progress) : progress_(progress), last_(rtl::MilliSecondClock()) {}
  // False when the caller cancelled.
  bool Tick(const SearchProgress& now) {
    if (!progress_) return true;
    const int64_t ms = rtl::MilliSecondClock();
    if (ms - last_ < kProgressIntervalMs) return true;
    last_ = ms;
    return progress_(now);
  }

private:
  const ProgressFn& progress_;
  int64_t last_;
};

// Case-blind order with equal lines dropped, the first one kept, as a sorted
// string list that ignores duplicates keeps what is added to it.
void SortIgnoringDuplicates(std::vector<std::string>& lines) {
  std::stable_sort(lines.begin(), lines.end(),
                   [](const std::string& a, const std::string& b) { return rtl::AnsiCompareText(a, b) < 0; });
  auto end = std::unique(lines.begin(), lines.end(), [](const std::string& a, const std::string& b) {
    return rtl::AnsiCompareText(a, b) == 0;
  });
  lines.erase(end, lines.end());
}

// One search's walk through the files.
class Searcher {
public:
  Searcher(const SearchOptions& options, SearchResult& result, const ProgressFn& progress)
      : options_(options),
        result_(result),
        matcher_(result.terms, ReadBoxes(options, result.terms)),
        keywords_(result.keywords),
        pacer_(progress) {}

  void Run(const DataFileSet& files);

private:
  // Scans one file; false when cancelled.
  bool ScanFile(const DataFileEntry& entry, int slot);
  void Check(const DataFile& file, int line, FileKind kind, int slot);
  int64_t RecordsUpTo(const DataFile& file, int end_line, bool whole) const;

  const SearchOptions& options_;
  SearchResult& result_;
  LineMatcher matcher_;
  KeywordList keywords_;
  Pacer pacer_;
  std::vector<std::string> other_hits_;
  std::string keyword_;
  bool file_had_hit_ = false;
};

void Searcher::Run(const DataFileSet& files) {
  keywords_.Add(result_.terms.term1);
  keywords_.Add(result_.terms.term2);
  for (int slot = 0; slot < files.Count(); ++slot) {
    if (static_cast<size_t>(slot) >= options_.ticked.size() || !options_.ticked[static_cast<size_t>(slot)]) continue;
    const DataFileEntry& entry = files.File(slot);
    const std::string title =
        SourceTag(slot + 1, options_.show_source_codes) + std::string(TrimLine(entry.title));
    result_.searching_line = "Searching: " + title;
    if (entry.kind == FileKind::kOther && !options_.marriages) continue;
    file_had_hit_ = false;
    const bool finished = ScanFile(entry, slot);
    if (!finished) {
      result_.cancelled = true;
      break;
    }
    if (file_had_hit_) result_.legend.push_back(title);
  }
  SortIgnoringDuplicates(other_hits_);
  result_.marriage_hits = std::move(other_hits_);
}

bool Searcher::ScanFile(const DataFileEntry& entry, int slot) {
  const DataFile& file = *entry.data;
  const FileKind kind = entry.kind;
  std::vector<std::string> patterns;
  const bool can_sieve = matcher_.RequiredPatterns(kind, patterns);
  AnyPatternFinder finder(patterns);
  const bool sieve = can_sieve && finder.Usable();
  const std::string_view bytes = file.Bytes();
  const std::vector<uint32_t>& marked = file.MarkedLines();
  size_t next_marked = 0;

  const int count = file.LineCount();
  for (int line = 1; line < count;) {
    const int chunk_end = std::min(count, line + kChunkLines);
    if (!sieve) {
      for (int i = line; i < chunk_end; ++i) Check(file, i, kind, slot);
    } else {
      // Only lines that hold one of the patterns, and lines whose brackets
      // may hide one, can hit.
      const size_t chunk_bytes_end = file.LineStart(chunk_end);
      for (int from = line; from < chunk_end;) {
        const size_t at = finder.Find(bytes, file.LineStart(from));
        int next = at == PatternFinder::npos || at >= chunk_bytes_end ? chunk_end : file.LineAt(at, from);
        while (next_marked < marked.size() && static_cast<int>(marked[next_marked]) < from) ++next_marked;
        if (next_marked < marked.size() && static_cast<int>(marked[next_marked]) < next)
          next = static_cast<int>(marked[next_marked]);
        if (next >= chunk_end) break;
        Check(file, next, kind, slot);
        from = next + 1;
      }
    }
    result_.line_count += chunk_end - line;
    line = chunk_end;
    SearchProgress progress;
    progress.slot = slot;
    progress.searching = result_.searching_line;
    progress.lines_read = result_.line_count;
    progress.hits = result_.hit_count;
    if (!pacer_.Tick(progress)) {
      result_.record_count += RecordsUpTo(file, line, false);
      return false;
    }
  }
  result_.record_count += RecordsUpTo(file, count, true);
  return true;
}

int64_t Searcher::RecordsUpTo(const DataFile& file, int end_line, bool whole) const {
  int64_t records = 0;
  if (whole) {
    for (uint8_t period = 0; period < 4; ++period)
      if (PassesPeriod(period, options_.before_1700, options_.from_1700)) records += file.RecordsInPeriod(period);
    return records;
  }
  for (int i = 1; i < end_line; ++i) {
    const uint8_t flags = file.Flags(i);
    if ((flags & DataFile::kRecordLine) && PassesPeriod(flags & 3, options_.before_1700, options_.from_1700))
      ++records;
  }
  return records;
}

void Searcher::Check(const DataFile& file, int line, FileKind kind, int slot) {
  const uint8_t flags = file.Flags(line);
  if (!(flags & DataFile::kRecordLine)) return;
  if (!PassesPeriod(flags & 3, options_.before_1700, options_.from_1700)) return;
  const std::string_view trimmed = TrimLine(file.Line(line));
  keyword_.clear();
  if (!matcher_.Match(kind, RestOf(trimmed), &keyword_)) return;
  ++result_.hit_count;
  file_had_hit_ = true;
  std::string hit = HitLine(trimmed, slot + 1, options_.show_source_codes);
  if (kind == FileKind::kBaptisms)
    result_.baptism_hits.push_back(std::move(hit));
  else
    other_hits_.push_back(std::move(hit));
  keywords_.Add(keyword_);
}

}  // namespace

SearchResult RunSearch(const DataFileSet& files, const SearchOptions& options, const ProgressFn& progress) {
  const int64_t started = rtl::SecondClock();
  SearchResult result;
  result.terms = ParseSearchText(options.search_text);
  result.key1_label = result.terms.label_key1;
  result.key2_label = result.terms.label_key2;
  Searcher(options, result, progress).Run(files);
  result.key_length = result.cancelled ? result.terms.key_length : 8;
  result.elapsed_seconds = rtl::SecondClock() - started;
  return result;
}

std::string StatusText(const SearchResult& r) {
  return "Search: " + std::to_string(r.hit_count) + " / " + std::to_string(r.record_count) + " / " +
         std::to_string(r.line_count) + " in " + std::to_string(r.elapsed_seconds) + " secs.";
}

std::string SearchTextFor(const std::string& typed, const std::string& selected) {
  return selected.size() >= 3 && selected.size() <= 20 ? selected : typed;
}

}  // namespace appcore
