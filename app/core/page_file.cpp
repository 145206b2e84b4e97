#include "app/core/page_file.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "platform/runtime/exceptions.h"
#include "platform/runtime/files.h"
#include "platform/runtime/os_files.h"
#include "platform/runtime/streams.h"

namespace appcore {
namespace {

// Bytes read at a time: a few milliseconds of work.
constexpr size_t kReadBlock = size_t{4} << 20;

std::string Quoted(const std::string& path) { return "\"" + rtl::PathToText(path) + "\""; }

// Writes data over the open file from its start and cuts it there.
void Overwrite(rtl::TFileStream& file, std::string_view data) {
  file.SetPosition(0);
  file.WriteBuffer(data.data(), static_cast<std::int64_t>(data.size()));
  file.SetSize(static_cast<std::int64_t>(data.size()));
  file.Flush();
}

void WriteInPlace(const std::string& path, std::string_view data, const std::string& refused) {
  const std::string intro = "Cannot save " + Quoted(path) + " in place (" + refused + "): ";
  std::string old;
  try {
    old = rtl::LoadFileToString(path);
  } catch (const rtl::Exception& e) {
    throw rtl::EFOpenError(intro + e.Message() + " The file is as it was.");
  }
  std::unique_ptr<rtl::TFileStream> file;
  try {
    file = std::make_unique<rtl::TFileStream>(path, rtl::fmOpenReadWrite);
    Overwrite(*file, data);
    return;
  } catch (const rtl::Exception& e) {
    if (!file) throw rtl::EFOpenError(intro + e.Message() + " The file is as it was.");
    const std::string why = e.Message();
    try {
      Overwrite(*file, old);
    } catch (const rtl::Exception& again) {
      throw rtl::EWriteError(intro + why + " Its old contents could not be put back either: " + again.Message());
    }
    throw rtl::EWriteError(intro + why + " The file is as it was.");
  }
}

}  // namespace

bool ReadPageLines(const std::string& path, std::vector<std::string>& lines, Pacer* pacer, TextForm* form) {
  lines.clear();
  rtl::TFileStream file(path, rtl::fmOpenRead | rtl::fmShareDenyWrite);
  std::string block(kReadBlock, '\0');
  std::string partial;      // the open line, begun in an earlier block
  bool after_cr = false;    // the last byte read was a CR: an LF next goes with it
  char last_byte = 0;       // 1 when the last byte read was a line end
  const std::int64_t size = file.Size();
  for (std::int64_t done = 0;;) {
    if (pacer && !pacer->TickNow()) return false;
    const std::int64_t got = file.Read(block.data(), static_cast<std::int64_t>(block.size()));
    if (got <= 0) break;
    if (done == 0 && got < size) {
      // Room for the lines the whole file will give, guessed from its first
      // block: growing the list later would move millions of lines at once.
      const size_t in_block = static_cast<size_t>(std::count(block.data(), block.data() + got, '\n')) + 1;
      lines.reserve(static_cast<size_t>(static_cast<double>(in_block) * static_cast<double>(size) / got * 1.1));
    }
    done += got;
    last_byte = block[static_cast<size_t>(got) - 1] == '\r' || block[static_cast<size_t>(got) - 1] == '\n' ? 1 : 0;
    const char* p = block.data();
    const char* end = p + got;
    while (p < end) {
      if (after_cr && *p == '\n') ++p;
      after_cr = false;
      const char* stop = p;
      while (stop < end && *stop != '\r' && *stop != '\n') ++stop;
      if (stop == end) {
        // A line longer than a block takes room for the rest of the file
        // at once, so that it is never copied as it grows.
        if (p == block.data()) {
          const std::int64_t rest = std::max<std::int64_t>(size - done, 0) + got;
          partial.reserve(partial.size() + static_cast<size_t>(rest));
        }
        partial.append(p, end);
        break;
      }
      if (pacer && !pacer->Tick()) return false;
      if (partial.empty()) {
        lines.emplace_back(p, stop);
      } else {
        partial.append(p, stop);
        lines.push_back(std::move(partial));
        partial.clear();
      }
      after_cr = *stop == '\r';
      p = stop + 1;
      if (*stop == '\r' && p < end && *p == '\n') {
        ++p;
        after_cr = false;
      }
    }
  }
  const bool ended = partial.empty() && last_byte != 0;
  if (!partial.empty()) lines.push_back(std::move(partial));
  if (form != nullptr) {
    *form = DetectLinesForm(lines);
    form->final_line_end = ended;
    if (form->utf8) {
      std::string text;
      for (size_t i = 0; i < lines.size(); ++i) {
        std::string unshowable;
        // The byte-order mark belongs to the first line alone.
        TextForm line_form = *form;
        line_form.bom = form->bom && i == 0;
        if (!DecodeText(lines[i], line_form, text, &unshowable))
          throw rtl::EReadError(
              UnshowableMessage(rtl::PathToText(rtl::ExtractFileName(path)), unshowable, static_cast<int64_t>(i) + 1));
        lines[i].swap(text);
      }
    }
  }
  return true;
}

bool IsReadOnlyFile(const std::string& path) {
  rtl::os::FileOwner owner;
  return rtl::os::StatOwner(path, owner) && owner.regular && (owner.mode & 0222) == 0;
}

std::string WriteProblem(const std::string& path) {
  if (IsReadOnlyFile(path)) return "read-only";
  if (!rtl::os::Writable(path)) return "no permission to write it";
  return {};
}

void SavePageFile(const std::string& path, std::string_view text, const TextForm& form) {
  const bool converted = form.utf8 || form.final_line_end;
  const std::string encoded = converted ? EncodeText(text, form) + (form.final_line_end ? "\r\n" : "") : std::string();
  const std::string_view data = converted ? std::string_view(encoded) : text;
  try {
    rtl::SaveFileSafely(path, data);
  } catch (const rtl::EFCreateError& e) {
    // No temporary file beside it: a file that may itself be written is
    // written in place.
    const std::string dir = rtl::ExtractFileDir(path);
    if (!rtl::FileExists(path) || !rtl::os::Writable(path) || rtl::os::Writable(dir.empty() ? "." : dir)) throw;
    WriteInPlace(path, data, "its folder may not be written");
  }
}

}  // namespace appcore
