#include "app/core/data_file_set.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>

#include "app/core/pacer.h"
#include "platform/runtime/exceptions.h"
#include "platform/runtime/files.h"
#include "platform/runtime/os_files.h"
#include "platform/runtime/strings.h"

namespace appcore {
namespace {

std::string JoinPath(const std::string& dir, const std::string& name) {
  return rtl::IncludeTrailingPathDelimiter(dir) + name;
}

void SaveList(const std::vector<std::string>& lines, const std::string& file_name, const MessageFn& report) {
  rtl::TStringList list;
  for (const std::string& line : lines) list.Add(line);
  try {
    list.SaveToFile(file_name);
  } catch (const rtl::Exception& e) {
    if (report) report(e.Message());
  }
}

// A title longer than this is cut (a file of one huge line).
constexpr size_t kMaxTitle = 256;

std::string ShortTitle(std::string_view title) {
  if (title.size() <= kMaxTitle) return std::string(title);
  return std::string(title.substr(0, kMaxTitle)) + "...";
}

// The title of a loaded entry: its line 0, or its file name when that is
// empty. A view: a title of hundreds of megabytes is never copied whole.
void SetTitle(DataFileEntry& entry) {
  const std::string_view title = entry.data->FirstLine();
  entry.title = ShortTitle(title.empty() ? std::string_view(rtl::PathToText(entry.name)) : title);
}

std::function<void(int)>& ReadHook() {
  static std::function<void(int)> hook;
  return hook;
}

std::function<void()>& LoadedHook() {
  static std::function<void()> hook;
  return hook;
}

// How many times the files that changed after they were read are read again.
constexpr int kRereads = 3;

// A file changed this recently when it was read may still be being written.
constexpr auto kRecent = std::chrono::seconds(2);

struct WriterWait {
  std::chrono::milliseconds recheck{100}, still{700}, limit{4000};
};

WriterWait& WaitForWriters() {
  static WriterWait wait;
  return wait;
}

bool ChangedRecently(const FileStamp& stamp) {
  const auto now = std::chrono::system_clock::now().time_since_epoch();
  return now - std::chrono::nanoseconds(stamp.mtime_ns) < kRecent;
}

// Sleeps for span in short steps; false when told to stop meanwhile.
bool Pause(std::chrono::milliseconds span, const std::atomic<bool>& stop) {
  const auto until = std::chrono::steady_clock::now() + span;
  while (std::chrono::steady_clock::now() < until) {
    if (stop.load()) return false;
    std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
        std::chrono::milliseconds(10), until - std::chrono::steady_clock::now()));
  }
  return !stop.load();
}

}  // namespace

void DataFileSet::SetReadHook(std::function<void(int slot)> hook) { ReadHook() = std::move(hook); }
void DataFileSet::SetWriterWait(std::chrono::milliseconds recheck, std::chrono::milliseconds still,
                                std::chrono::milliseconds limit) {
  WaitForWriters() = WriterWait{recheck, still, limit};
}
void DataFileSet::SetLoadedHook(std::function<void()> hook) { LoadedHook() = std::move(hook); }

std::string SourceFolderProblem(const std::string& dir) {
  if (dir.empty()) return {};
  const std::string reason = rtl::os::FolderProblem(dir);
  if (reason.empty()) return {};
  return "Cannot read the source folder \"" + rtl::PathToText(dir) + "\".\n" + reason;
}

std::vector<std::string> FindDataFiles(const std::string& dir, std::vector<std::string>* left_out,
                                       std::vector<int64_t>* sizes) {
  std::vector<std::string> names;
  if (dir.empty()) return names;
  // Read-only is the file's own mark (no write bit for anyone), not
  // whether this process may write it: registers of another user that may
  // be read are data files too. The listing's one look at each file tells
  // it.
  for (const rtl::TSearchRec& rec : rtl::FindFiles(dir, "*.txt", false)) {
    if (KindFromName(rec.Name) == FileKind::kNone) continue;
    const char* reason = nullptr;
    if (rec.Attr & (rtl::faDirectory | rtl::faSysFile)) reason = "not a plain file";
    else if (rec.Attr & rtl::faHidden) reason = "hidden";
    else if ((rec.Mode & 0222) == 0) reason = "read-only";
    if (reason == nullptr) {
      names.push_back(rec.Name);
      if (sizes) sizes->push_back(rec.Size);
    } else if (left_out) left_out->push_back(rtl::PathToText(rec.Name) + " (" + reason + ")");
  }
  return names;
}

// One build's reading: on the calling thread, or on a thread of its own
// while the caller turns its event loop. What the reading threads touch
// lives here, so that a cancelled build may return before they end.
struct DataFileSet::Loading {
  std::vector<std::string> paths;
  std::vector<DataFileEntry> entries;  // one per path: name, kind, then data and title
  std::vector<int> slots;
  std::vector<std::string> errors;
  std::vector<bool> changed;  // kept moving while read, or being written
  ArrivalFn arrived;
  PartFn part;
  std::optional<PatternAnchors> anchors;
  std::vector<std::shared_ptr<const DataFile>> loaded;
  WorkCrew* crew = nullptr;  // only for a build read on the calling thread
  std::atomic<bool> stop{false};
  std::mutex mutex;
  std::condition_variable ended;
  bool done = false;
  std::thread thread;

  ~Loading() {
    if (thread.joinable()) thread.join();
  }

  void Run() {
    DataFile::ArrivalFn on_read = [this](size_t i, const std::shared_ptr<const DataFile>& file) {
      if (ReadHook()) ReadHook()(slots[i]);
      if (arrived) {
        DataFileEntry& entry = entries[i];
        entry.data = file;
        SetTitle(entry);
        // A file that is no text is not read further.
        if (!stop.load(std::memory_order_relaxed) && !file->HoldsNul()) arrived(slots[i], entry);
      }
    };
    DataFile::PartFn on_part;
    if (part)
      on_part = [this](size_t i, const DataFile& file, int lines) {
        if (!stop.load(std::memory_order_relaxed)) part(slots[i], entries[i].kind, file, lines);
      };
    const PatternAnchors* read_with = anchors ? &*anchors : nullptr;
    loaded = DataFile::LoadMany(paths, errors, on_read, &stop, read_with, crew, on_part);
    if (LoadedHook()) LoadedHook()();
    // Once every file is read, each one's stamp is looked at again: a file
    // cut, grown or rewritten since it was read (while it was read, or
    // while the others were) is read once more, up to kRereads times.
    const auto moved = [&](size_t i) { return loaded[i] && !(StampOf(paths[i]) == loaded[i]->Stamp()); };
    const auto read_again = [&](const std::vector<size_t>& again) {
      std::vector<std::string> again_paths, again_errors;
      for (size_t i : again) again_paths.push_back(paths[i]);
      DataFile::ArrivalFn on_again;
      if (on_read) on_again = [&](size_t j, const std::shared_ptr<const DataFile>& file) { on_read(again[j], file); };
      std::vector<std::shared_ptr<const DataFile>> second =
          DataFile::LoadMany(again_paths, again_errors, on_again, &stop, read_with, crew);
      for (size_t j = 0; j < again.size(); ++j) {
        loaded[again[j]] = std::move(second[j]);
        errors[again[j]] = again_errors[j];
      }
    };
    for (int round = 0; round < kRereads && !stop.load(); ++round) {
      std::vector<size_t> again;
      for (size_t i = 0; i < loaded.size(); ++i)
        if (moved(i)) again.push_back(i);
      if (again.empty()) break;
      read_again(again);
    }
    std::vector<size_t> fresh;
    for (size_t i = 0; i < loaded.size(); ++i)
      if (loaded[i] && (moved(i) || ChangedRecently(loaded[i]->Stamp()))) fresh.push_back(i);
    changed.assign(paths.size(), false);
    if (!fresh.empty() && !stop.load()) AwaitWriters(fresh, read_again);
    for (size_t i = 0; i < loaded.size(); ++i) entries[i].data = std::move(loaded[i]);
    std::lock_guard<std::mutex> lock(mutex);
    done = true;
    ended.notify_all();
  }

  // The files fresh (still changing after their last read, or changed
  // within the last two seconds before it) may be being written by
  // another program, cut short and written again in steps: after a short
  // pause their stamps are looked at again. One that moved is waited for
  // until it holds still, then read again; one that still moves when the
  // wait ends is read as far as it is written and named.
  template <typename ReadAgain>
  void AwaitWriters(const std::vector<size_t>& fresh, const ReadAgain& read_again) {
    const WriterWait wait = WaitForWriters();
    if (!Pause(wait.recheck, stop)) return;
    struct Watched {
      size_t i;
      FileStamp last;
      std::chrono::steady_clock::time_point since;
    };
    std::vector<Watched> moving;
    const auto now = std::chrono::steady_clock::now();
    for (size_t i : fresh)
      if (const FileStamp stamp = StampOf(paths[i]); !(stamp == loaded[i]->Stamp())) moving.push_back({i, stamp, now});
    if (moving.empty()) return;
    const auto until = now + wait.limit;
    std::vector<size_t> settled;
    while (!moving.empty() && std::chrono::steady_clock::now() < until) {
      if (!Pause(std::chrono::milliseconds(20), stop)) return;
      const auto at = std::chrono::steady_clock::now();
      for (size_t k = 0; k < moving.size();) {
        const FileStamp stamp = StampOf(paths[moving[k].i]);
        if (!(stamp == moving[k].last)) {
          moving[k].last = stamp;
          moving[k].since = at;
        } else if (at - moving[k].since >= wait.still) {
          settled.push_back(moving[k].i);
          moving.erase(moving.begin() + static_cast<std::ptrdiff_t>(k));
          continue;
        }
        ++k;
      }
    }
    // Those still moving are read once more (as far as they are written)
    // and named.
    for (const Watched& w : moving) {
      settled.push_back(w.i);
      changed[w.i] = true;
    }
    read_again(settled);
    // One changed again meanwhile is named too.
    for (size_t i : settled)
      if (loaded[i] && !(StampOf(paths[i]) == loaded[i]->Stamp())) changed[i] = true;
  }

  // Waits for the reading thread, calling progress about every 15 ms;
  // false (the thread told to stop) when progress answers false.
  bool Wait(const std::function<bool()>& progress) {
    for (;;) {
      {
        std::unique_lock<std::mutex> lock(mutex);
        if (ended.wait_for(lock, std::chrono::milliseconds(kProgressIntervalMs), [this] { return done; })) break;
      }
      if (!progress()) {
        stop = true;
        return false;
      }
    }
    thread.join();
    return true;
  }
};

DataFileSet::~DataFileSet() = default;

void DataFileSet::MakeFileList(const std::string& search_dir, const std::string& list_dir,
                               const MessageFn& report) {
  MakeFileList(search_dir, list_dir, report, nullptr, nullptr);
}

void DataFileSet::MakeFileList(const std::string& search_dir, const std::string& list_dir, const MessageFn& report,
                               const ArrivalFn& arrived) {
  MakeFileList(search_dir, list_dir, report, arrived, nullptr);
}

bool DataFileSet::MakeFileList(const std::string& search_dir, const std::string& list_dir, const MessageFn& report,
                               const ArrivalFn& arrived, const std::function<bool()>& progress) {
  // A cancelled build's threads end first (they may be reading the same files).
  if (abandoned_) {
    auto& left = *abandoned_;
    if (progress) {
      std::unique_lock<std::mutex> lock(left.mutex);
      while (!left.ended.wait_for(lock, std::chrono::milliseconds(kProgressIntervalMs), [&] { return left.done; })) {
        lock.unlock();
        if (!progress()) return false;
        lock.lock();
      }
    }
    abandoned_.reset();
  }
  std::vector<std::string> left_out;
  std::vector<int64_t> sizes;
  const std::vector<std::string> names = FindDataFiles(search_dir, &left_out, &sizes);
  std::vector<std::string> messages;
  const std::string problem = SourceFolderProblem(search_dir);
  if (!problem.empty()) messages.push_back(problem);

  // Keep what is loaded already for files that did not change.
  std::map<std::string, std::shared_ptr<const DataFile>> held;
  for (const DataFileEntry& entry : files_)
    if (!entry.load_failed) held.emplace(entry.path, entry.data);

  std::vector<DataFileEntry> files(names.size());
  std::map<const ByteBlock*, size_t> kept_bytes;
  for (size_t k = 0; k < names.size(); ++k) {
    DataFileEntry& entry = files[k];
    entry.name = names[k];
    entry.path = JoinPath(search_dir, names[k]);
    entry.kind = KindFromName(names[k]);
    auto it = held.find(entry.path);
    if (it != held.end() && it->second && StampOf(entry.path) == it->second->Stamp()) {
      entry.data = it->second;
      kept_bytes[entry.data->Block()] += entry.data->Bytes().size();
    }
  }
  held.clear();
  // A block that would be kept mostly for files that are gone is given up:
  // its remaining files are read again with the others.
  auto loading = std::make_shared<Loading>();
  size_t bytes_to_read = 0;
  loading->arrived = arrived;
  loading->part = part_;
  if (read_with_) loading->anchors = anchors_;
  for (size_t k = 0; k < files.size(); ++k) {
    DataFileEntry& entry = files[k];
    if (entry.data && kept_bytes[entry.data->Block()] * 2 < entry.data->Block()->size()) entry.data.reset();
    if (!entry.data) {
      loading->paths.push_back(entry.path);
      loading->entries.push_back(entry);
      loading->slots.push_back(static_cast<int>(k));
      bytes_to_read += static_cast<size_t>(std::max<int64_t>(sizes[k], 0));
    }
  }
  bytes_to_read_ = bytes_to_read;
  if (progress) {
    Loading* job = loading.get();
    try {
      loading->thread = std::thread([job] { job->Run(); });
    } catch (const std::system_error&) {
      // No thread to spare: read here, unpaced.
    }
  }
  if (!loading->thread.joinable()) {
    loading->crew = crew_;
    loading->Run();
  } else {
    if (!loading->Wait(progress)) {
      abandoned_ = std::move(loading);  // the list stays as it was
      return false;
    }
  }
  // What this build found of each file it read: the system's reason when
  // it could not, and whether it kept moving.
  std::vector<std::string> error(files.size());
  std::vector<bool> moving(files.size(), false);
  for (size_t i = 0; i < loading->slots.size(); ++i) {
    const auto k = static_cast<size_t>(loading->slots[i]);
    files[k].data = std::move(loading->entries[i].data);
    error[k] = loading->errors[i];
    moving[k] = loading->changed[i];
  }
  static const std::shared_ptr<const DataFile> kEmpty = DataFile::FromText({});
  std::vector<FileNotice> notices;
  file_list_.clear();
  for (size_t k = 0; k < files.size(); ++k) {
    DataFileEntry& entry = files[k];
    FileNotice notice;
    notice.number = static_cast<int>(k) + 1;
    notice.name = rtl::PathToText(entry.name);
    if (entry.data && !entry.data->Showable()) {
      // Named, never shown with characters replaced; its slot is kept.
      notice.read = false;
      notice.unshowable = entry.data->Unshowable();
      notice.line = entry.data->UnshowableLine();
      notice.before = "not read: its UTF-8 character ";
      notice.after = UnshowableWhere(notice.unshowable, notice.line);
      entry.data = kEmpty;
      entry.load_failed = true;
    } else if (entry.data && entry.data->HoldsNul()) {
      // No text (a binary file): its slot is kept, so numbers never shift.
      notice.read = false;
      notice.before = "not read: it is no text (it holds zero bytes)";
      entry.data = kEmpty;
      entry.load_failed = true;
    } else if (!entry.data) {
      entry.data = kEmpty;
      entry.load_failed = true;
      notice.read = false;
      // The reason says what the system answered; the number is the lists'.
      notice.before = "not read: File load error: " + std::to_string(k + 1) + ". " + error[k];
    } else if (moving[k]) {
      notice.before = "was being written: its records may be incomplete. Search again once it is written";
    } else if (entry.data->Form().mixed) {
      notice.before = MixedNote(entry.data->Mixed());
    }
    if (!notice.before.empty()) notices.push_back(std::move(notice));
    SetTitle(entry);
    const bool titled = !entry.data->FirstLine().empty();
    file_list_.push_back(titled ? entry.path : entry.name);
  }
  loading.reset();
  files_ = std::move(files);
  left_out_ = std::move(left_out);
  notices_ = std::move(notices);
  search_dir_ = search_dir;

  if (report)
    for (const std::string& m : messages) report(m);
  if (!list_dir.empty()) {
    SaveList(SourceList(), JoinPath(list_dir, "Sources.txt"), report);
    SaveList(file_list_, JoinPath(list_dir, "Files.txt"), report);
  }
  return true;
}

std::string DataFileSet::LeftOutNotice() const {
  if (left_out_.empty()) {
    if (!files_.empty()) return {};
    if (search_dir_.empty()) return "No source folder is chosen: no data files are loaded.";
    return "No data files in \"" + rtl::PathToText(search_dir_) + "\".";
  }
  // A few names, then how many more.
  constexpr size_t kNamed = 5;
  std::string text = "Left out of the data files:";
  for (size_t i = 0; i < left_out_.size() && i < kNamed; ++i) text += (i ? ", " : " ") + left_out_[i];
  if (left_out_.size() > kNamed) text += " and " + std::to_string(left_out_.size() - kNamed) + " more";
  return text + ".";
}

std::vector<std::string> DataFileSet::FileList() const { return file_list_; }

std::vector<std::string> DataFileSet::SourceList() const {
  std::vector<std::string> list;
  list.reserve(files_.size());
  for (size_t k = 0; k < files_.size(); ++k)
    list.push_back("[" + std::to_string(k + 1) + "] " + files_[k].title);
  return list;
}

std::vector<std::string> DataFileSet::ListItems() const {
  std::vector<std::string> items = SourceList();
  for (size_t k = 0; k < files_.size(); ++k)
    if (files_[k].load_failed) items[k] += "   (not read)";
    else if (files_[k].data->Form().utf8 || files_[k].data->Form().mixed)
      items[k] += std::string("   (") + FormName(files_[k].data->Form()) + ")";
  return items;
}

std::string FileNotice::Text() const {
  return "[" + std::to_string(number) + "] " + name + " " + before + after;
}

std::string DataFileSet::NoticeText() const {
  std::string text;
  for (const FileNotice& notice : notices_) text += (text.empty() ? "" : "; ") + notice.Text();
  return text;
}

bool DataFileSet::AnyChanged() const {
  for (const DataFileEntry& entry : files_)
    if (!entry.load_failed && !(StampOf(entry.path) == entry.data->Stamp())) return true;
  return false;
}

std::vector<std::string> DataFileSet::Paths() const {
  std::vector<std::string> paths;
  for (const DataFileEntry& entry : files_) paths.push_back(entry.path);
  return paths;
}

size_t DataFileSet::MemoryUse() const {
  size_t total = 0;
  for (const DataFileEntry& entry : files_) total += entry.data->MemoryUse();
  return total;
}

}  // namespace appcore
