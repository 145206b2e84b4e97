// Work files and the claims that keep them.
//
// Whole-table rewrites build their new table (or, for an upgrade, a new
// data or index file) in the session's private directory under a numbered
// name; a process killed meanwhile leaves them there at full size. Before
// it makes such files a process claims their stem: "<stem>.WRK", an empty
// file it holds open exclusively for as long as the work lasts, so that
// the engine's share locks tell a live process's work files from a dead
// one's. RemoveDeadWorkFiles, run when a session starts in (or turns to) a
// directory, deletes the files "<stem>.DAT", ".IDX", ".BLB" and ".JNL" of
// every claim no live process holds, then the claim. Files without a claim
// are never touched: tables of the user's own that happen to have numbers
// for names stay.
//
// A claim holds nothing, or the path (without extension) of the table its
// work files are being swapped into: a dead claim's swap is then put right
// (swap_record.h) before its files go, so that it can still be finished.
#pragma once

#include <memory>
#include <string>

namespace rtl {
class TLockedFile;
}

namespace korvex {

class TWorkClaim {
public:
  // `stem`: the work files' path without extension. A claim that cannot be
  // made (a folder that takes no files) leaves the work unclaimed.
  explicit TWorkClaim(const std::string& stem);
  // The claim goes; the work files must have gone (or moved) first.
  ~TWorkClaim();
  TWorkClaim(const TWorkClaim&) = delete;
  TWorkClaim& operator=(const TWorkClaim&) = delete;
  bool Held() const { return file_ != nullptr; }
  // Notes the table the work files are about to be swapped into.
  void Note(const std::string& table_base) noexcept;

private:
  std::string path_;
  std::unique_ptr<rtl::TLockedFile> file_;
};

// Deletes the work files of every dead claim in `folder`; answers how many
// files went. Never raises.
int RemoveDeadWorkFiles(const std::string& folder);

}  // namespace korvex
