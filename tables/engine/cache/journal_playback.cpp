// Playing a journal back: the look for an unfinished flush, and the
// before-images put back into the files.
#include <algorithm>

#include "tables/engine/cache/cache_io.h"
#include "tables/engine/cache/journal.h"
#include "tables/lib/abstract_file.h"
#include "tables/engine/cache/journal_codec.h"
#include "tables/engine/cache/journal_hooks.h"
#include "tables/engine/errors/errors.h"

namespace korvex {
namespace {

// Plays the journal `bytes` back into the files; false when it holds no
// unfinished flush.
bool PlayBack(const std::vector<std::uint8_t>& bytes, const std::vector<TFileHandler*>& files) {
  std::uint32_t salt = 0;
  jnl::TLayout layout = jnl::TLayout::None;
  const std::size_t header = jnl::ParseHeader(bytes.data(), bytes.size(), salt, layout);
  if (header == 0) return false;
  const std::vector<jnl::TEntryView> entries = jnl::ValidEntries(bytes, header, layout, salt);
  for (auto e = entries.rbegin(); e != entries.rend(); ++e)
    if (e->index < files.size() && files[e->index] != nullptr && files[e->index]->IsOpen())
      WriteAt(*files[e->index], e->position, bytes.data() + e->at, e->length);
  for (std::size_t i = 0; i < files.size() && i < 3; ++i) {
    if (files[i] == nullptr || !files[i]->IsOpen()) continue;
    std::uint32_t old = jnl::HeaderOldLength(bytes.data(), i);
    if (files[i]->GetSize() > old) WriteAt(*files[i], old, nullptr, 0);
    files[i]->Flush();
  }
  return true;
}

}  // namespace

bool TJournal::Hot(const std::string& path) {
  if (!OpenFile(path, false)) return false;
  std::uint8_t header[jnl::kPlacedHeaderSize];
  const std::int64_t got = file_->ReadAt(0, header, jnl::kPlacedHeaderSize);
  std::uint32_t salt = 0;
  jnl::TLayout layout = jnl::TLayout::None;
  return got > 0 && jnl::ParseHeader(header, static_cast<std::size_t>(got), salt, layout) != 0;
}

bool TJournal::IsHot(const std::string& path) { return TJournal().Hot(path); }

void TJournal::Undo() {
  std::vector<TFileHandler*> files = files_;
  const bool written = started_;
  Abandon();
  if (written) Recover(path_, files);
}

void TJournal::UndoQuietly() noexcept {
  try {
    Undo();
  } catch (...) {
  }
}

bool TJournal::Recover(const std::string& path, const std::vector<TFileHandler*>& files) {
  // A look at the header first: an ended journal is left unread.
  if (!Hot(path)) return false;
  const std::int64_t size = file_->Size();
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(std::max<std::int64_t>(size, 0)));
  const std::int64_t got = file_->ReadAt(0, bytes.data(), static_cast<std::int64_t>(bytes.size()));
  if (got < 0) RaiseError(err::kReadError, path);
  bytes.resize(static_cast<std::size_t>(got));
  if (!PlayBack(bytes, files)) return false;
  // The files hold their old bytes again (and are on disk): the journal
  // is ended like a committed one.
  if (!file_->Writable() || file_->WriteAt(0, jnl::kEndMark, sizeof jnl::kEndMark) != sizeof jnl::kEndMark || !jnl::SyncJournal(*file_))
    RaiseError(err::kWriteError, path, {}, {}, SystemReason());
  return true;
}

bool TJournal::RecoverFile(const std::string& path, const std::vector<TFileHandler*>& files) {
  TJournal journal;
  const bool played = journal.Recover(path, files);
  journal.Close();
  if (played) rtl::DeleteLockedFile(path);
  return played;
}

}  // namespace korvex
