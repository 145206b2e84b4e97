// The data files of the source folder, numbered, loaded and listed.
//
// MakeFileList finds the data files of the source folder by the endings of
// their names (see KindFromName), in name order (case-blind) so that the
// numbers stay the same from run to run. Only plain, visible files that are
// not read-only are taken, whoever owns them: a file of another user that
// this process may read but not write is taken too. Left out, each named
// with its reason in LeftOut(): a read-only file (no write bit in its mode
// at all), a hidden one (name beginning with '.'), and anything that is not
// a plain file (folder, pipe, device). File k (0-based) is slot k; its
// source number is k + 1. Any number of files is held.
//
// Every slot keeps the full path. The lists written beside the settings
// file, one entry per slot, CR LF after each:
//   "Files.txt"    the full path, or the bare file name when the file's
//                  title line is empty;
//   "Sources.txt"  "[" + (k + 1) + "] " + title, where the title is line 0 of
//                  the file, or the bare file name when line 0 is empty.
//
// A file that cannot be read keeps its slot (numbers do not shift) but holds
// no lines, and is named among the Notices() ("File load error: " + its
// number as the lists show it, with the system's reason on the next line).
// A file holding zero bytes is no text: it keeps its slot with no lines
// (it is not handed to arrived) and is named among the Notices() too.
// A source folder that cannot be listed (missing, unreadable, name too
// long) is reported through the report callback.
//
// Titles are text (Windows-1252): a file name standing in for an empty
// title is shown through rtl::PathToText; a title longer than 256
// characters is cut and ends in "...". A file whose size,
// change time and inode are those of the copy already held is not read
// again. Once every file is read, each one's stamp is looked at again: a
// file that changed since it was read (cut short and rewritten in place
// while it or the others were read) is read once more, up to three times.
// A file changed within the two seconds before it was read may be being
// written in steps by another program: its stamp is looked at again after
// a short pause, and one that moved is waited for (a few seconds) until it
// holds still, then read again. One that still moves is read as far as it
// is written and named among the Notices() ("was being written: its
// records may be incomplete"). AnyChanged tells a caller (the window,
// before each search) that a file changed since the build.
//
// A UTF-8 file (text_encoding.h) is held as its Windows-1252 text and
// marked "(UTF-8)" in ListItems, a file of both forms "(UTF-8 and
// Windows-1252)" and named among the Notices() with the first line of
// each; one whose characters Windows-1252 cannot show keeps its slot with
// no lines, is marked "(not read)" and named with its first such
// character and its line.
//
// With a progress callback the files are read on other threads while the
// calling thread calls it about every 15 ms; when it answers false (Cancel)
// the reading stops and the list stays as it was before the call.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/core/data_file.h"
#include "app/core/record_line.h"

namespace appcore {

struct DataFileEntry {
  std::string path;       // full path
  std::string name;       // bare file name
  FileKind kind = FileKind::kNone;
  std::string title;      // line 0, or the bare file name when line 0 is empty
  std::shared_ptr<const DataFile> data;  // never null; no lines when the load failed
  bool load_failed = false;
};

// What is said of a file of the list that is not read, or read with a
// note: "[number] name " + before + after, where a register with a
// character Windows-1252 lacks has that character (UTF-8, which
// Windows-1252 text cannot hold) between before and after: the window
// shows it there.
struct FileNotice {
  int number = 0;           // as the lists number the file (slot + 1)
  std::string name;         // the file's name as text
  bool read = true;         // false: the file holds no lines
  std::string before, after;
  std::string unshowable;   // UTF-8; "" unless that is the reason
  int64_t line = 0;         // its line (1-based)
  // The notice as Windows-1252 text (the character left out).
  std::string Text() const;
};

// Receives the messages to show the user (a source folder that cannot be
// listed, lists that cannot be written).
using MessageFn = std::function<void(const std::string& message)>;

class DataFileSet {
public:
  // Rebuilds the list from search_dir (an empty one loads nothing) and
  // writes "Files.txt" and "Sources.txt" into list_dir (nothing is written
  // when list_dir is empty). Load failures and a failure to write the lists
  // are reported through report; the rest is built all the same.
  void MakeFileList(const std::string& search_dir, const std::string& list_dir, const MessageFn& report);
  // The same, calling arrived with each file that is read, on the thread
  // that read it, as soon as it is (its entry complete: data and title
  // set), while other files are still read. Files kept from the last list
  // and files that fail to load are not passed. arrived must not raise.
  using ArrivalFn = std::function<void(int slot, const DataFileEntry& entry)>;
  void MakeFileList(const std::string& search_dir, const std::string& list_dir, const MessageFn& report,
                    const ArrivalFn& arrived);
  // The same, paced by progress (see above); false when cancelled. A
  // cancelled build may leave reading threads to end on their own; the
  // next build and the set's end wait for them.
  bool MakeFileList(const std::string& search_dir, const std::string& list_dir, const MessageFn& report,
                    const ArrivalFn& arrived, const std::function<bool()>& progress);
  ~DataFileSet();

  // Heard with each file's slot as soon as it is read, before arrived (for
  // tests that change a file while the set reads it); empty by default.
  static void SetReadHook(std::function<void(int slot)> hook);
  // Heard once, on the reading thread, when every file of a build has been
  // read and before their stamps are looked at again (for tests that
  // rewrite a file at that moment); empty by default.
  static void SetLoadedHook(std::function<void()> hook);
  // How a build waits for a file being written: the pause before its
  // stamp is looked at again, how long it must hold still, and the most
  // it is waited for (for tests; 100 ms, 700 ms and 4 s by default).
  static void SetWriterWait(std::chrono::milliseconds recheck, std::chrono::milliseconds still,
                            std::chrono::milliseconds limit);

  // The files the next builds read are read with these anchors (see
  // DataFile::Candidates), or without any when null.
  void ReadWith(const PatternAnchors* anchors) {
    read_with_ = anchors != nullptr;
    if (anchors != nullptr) anchors_ = *anchors;
  }
  // The next builds that read on the calling thread read on crew's threads,
  // or on threads of their own when null.
  void ReadOn(WorkCrew* crew) { crew_ = crew; }
  // The next builds call part with each file's slot and kind as more of its
  // lines are read (see DataFile::PartFn), on the thread that reads it and
  // before arrived; none when empty. part must not raise.
  using PartFn = std::function<void(int slot, FileKind kind, const DataFile& file, int lines)>;
  void HearParts(PartFn part) { part_ = std::move(part); }

  const std::vector<DataFileEntry>& Files() const { return files_; }
  int Count() const { return static_cast<int>(files_.size()); }
  const DataFileEntry& File(int slot) const { return files_[static_cast<size_t>(slot)]; }

  // The two lists as written to "Files.txt" and "Sources.txt".
  std::vector<std::string> FileList() const;
  std::vector<std::string> SourceList() const;
  // The source lines as the data-file list shows them: "(UTF-8)" after
  // those of UTF-8 files.
  std::vector<std::string> ListItems() const;
  // Whether a file of the list changed on disk since it was read.
  bool AnyChanged() const;
  // The full paths, one per slot.
  std::vector<std::string> Paths() const;

  // Bytes held for the loaded files.
  size_t MemoryUse() const;
  // While a build reads (from its first file handed to arrived on): the
  // bytes of the files it reads, as they were listed.
  size_t BytesToRead() const { return bytes_to_read_; }

  // The files of the folder left out of the last list, each as
  // "name (reason)"; and one line saying so for the status line ("" when
  // none was left out and the list is not empty).
  const std::vector<std::string>& LeftOut() const { return left_out_; }
  std::string LeftOutNotice() const;
  // The files of the last list not read, or read with a note, in list
  // order; and all of them as one text ("" when none).
  const std::vector<FileNotice>& Notices() const { return notices_; }
  std::string NoticeText() const;

private:
  struct Loading;
  std::vector<DataFileEntry> files_;
  std::vector<std::string> file_list_;  // Files.txt form
  std::vector<std::string> left_out_;
  std::vector<FileNotice> notices_;
  std::string search_dir_;
  std::shared_ptr<Loading> abandoned_;  // a cancelled load still ending
  bool read_with_ = false;
  PatternAnchors anchors_;
  WorkCrew* crew_ = nullptr;
  PartFn part_;
  size_t bytes_to_read_ = 0;
};

// Why the source folder dir cannot be listed, as shown to the user; "" when
// it can (or dir is empty).
std::string SourceFolderProblem(const std::string& dir);

// The data files of dir in slot order (names only), without loading them.
// left_out, when given, receives "name (reason)" for each file whose name
// ends like a data file's but which is left out (read-only, hidden, not a
// plain file); sizes, when given, each file's size as listed.
std::vector<std::string> FindDataFiles(const std::string& dir, std::vector<std::string>* left_out = nullptr,
                                       std::vector<int64_t>* sizes = nullptr);

}  // namespace appcore
