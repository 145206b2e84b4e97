#include "app/core/data_file_set.h"

#include <map>

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
  const std::string_view title = entry.data->LineCount() > 0 ? entry.data->Line(0) : std::string_view();
  entry.title = ShortTitle(title.empty() ? std::string_view(rtl::PathToText(entry.name)) : title);
}

}  // namespace

std::string SourceFolderProblem(const std::string& dir) {
  if (dir.empty()) return {};
  const std::string reason = rtl::os::FolderProblem(dir);
  if (reason.empty()) return {};
  return "Cannot read the source folder \"" + rtl::PathToText(dir) + "\".\n" + reason;
}

std::vector<std::string> FindDataFiles(const std::string& dir) {
  std::vector<std::string> names;
  if (dir.empty()) return names;
  for (const rtl::TSearchRec& rec : rtl::FindFiles(dir, "*.txt")) {
    // Plain, writable, visible files only.
    if (rec.Attr != rtl::faArchive) continue;
    if (KindFromName(rec.Name) == FileKind::kNone) continue;
    names.push_back(rec.Name);
  }
  return names;
}

void DataFileSet::MakeFileList(const std::string& search_dir, const std::string& list_dir,
                               const MessageFn& report) {
  MakeFileList(search_dir, list_dir, report, nullptr);
}

void DataFileSet::MakeFileList(const std::string& search_dir, const std::string& list_dir, const MessageFn& report,
                               const ArrivalFn& arrived) {
  const std::vector<std::string> names = FindDataFiles(search_dir);
  if (report) {
    const std::string problem = SourceFolderProblem(search_dir);
    if (!problem.empty()) report(problem);
  }

  // Keep what is loaded already for files that did not change.
  std::map<std::string, std::shared_ptr<const DataFile>> held;
  for (DataFileEntry& entry : files_)
    if (!entry.load_failed) held.emplace(entry.path, std::move(entry.data));

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
  std::vector<std::string> to_load;
  std::vector<size_t> load_slots;
  std::vector<size_t> load_index(files.size(), 0);
  for (size_t k = 0; k < files.size(); ++k) {
    DataFileEntry& entry = files[k];
    if (entry.data && kept_bytes[entry.data->Block()] * 2 < entry.data->Block()->size()) entry.data.reset();
    if (!entry.data) {
      load_index[k] = to_load.size();
      to_load.push_back(entry.path);
      load_slots.push_back(k);
    }
  }
  files_.clear();

  std::vector<std::string> errors;
  DataFile::ArrivalFn on_read;
  if (arrived)
    on_read = [&](size_t i, const std::shared_ptr<const DataFile>& file) {
      DataFileEntry& entry = files[load_slots[i]];
      entry.data = file;
      SetTitle(entry);
      arrived(static_cast<int>(load_slots[i]), entry);
    };
  std::vector<std::shared_ptr<const DataFile>> loaded = DataFile::LoadMany(to_load, errors, on_read);
  for (size_t i = 0; i < load_slots.size(); ++i) files[load_slots[i]].data = std::move(loaded[i]);

  static const std::shared_ptr<const DataFile> kEmpty = DataFile::FromText({});
  file_list_.clear();
  for (size_t k = 0; k < files.size(); ++k) {
    DataFileEntry& entry = files[k];
    if (!entry.data) {
      entry.data = kEmpty;
      entry.load_failed = true;
      // The reason names the file and says what the system answered.
      if (report) report("File load error: " + std::to_string(k) + "\n" + errors[load_index[k]]);
    }
    SetTitle(entry);
    const bool titled = entry.data->LineCount() > 0 && !entry.data->Line(0).empty();
    file_list_.push_back(titled ? entry.path : entry.name);
  }
  files_ = std::move(files);

  if (!list_dir.empty()) {
    SaveList(SourceList(), JoinPath(list_dir, "Sources.txt"), report);
    SaveList(file_list_, JoinPath(list_dir, "Files.txt"), report);
  }
}

std::vector<std::string> DataFileSet::FileList() const { return file_list_; }

std::vector<std::string> DataFileSet::SourceList() const {
  std::vector<std::string> list;
  list.reserve(files_.size());
  for (size_t k = 0; k < files_.size(); ++k)
    list.push_back("[" + std::to_string(k + 1) + "] " + files_[k].title);
  return list;
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
