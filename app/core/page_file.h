// A page's file on disk: read line by line in steps that let the window
// breathe, written over safely, and what stands in the way of writing it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "app/core/pacer.h"
#include "app/core/text_encoding.h"

namespace appcore {

// The lines of the file at path, cut as rtl::SplitLines cuts them (CR, LF
// or CR LF end a line; no empty line after a final line end), read in
// blocks; with a pacer each block and line ticks it. False when the pacer
// was cancelled (lines are then to be dropped). Raises rtl::EFOpenError or
// rtl::EReadError with the file's name and the system's reason.
// With form given, the lines of a UTF-8 file (text_encoding.h) are turned
// into their Windows-1252 text and *form says so; a UTF-8 file whose
// characters Windows-1252 cannot show raises rtl::EReadError naming it.
bool ReadPageLines(const std::string& path, std::vector<std::string>& lines, Pacer* pacer = nullptr,
                   TextForm* form = nullptr);

// Whether path is an existing file without any write bit (read-only,
// whoever may still write it: root may).
bool IsReadOnlyFile(const std::string& path);

// Why this process may not write the existing file at path ("read-only",
// "no permission to write it"); "" when it may.
std::string WriteProblem(const std::string& path);

// Replaces the file's contents with data as rtl::SaveFileSafely does. When
// its folder refuses the temporary file but the file itself may be
// written, it is written in place instead, after a copy of its old bytes
// in memory that is put back when the write fails. Raises the reason: the
// system's, and whether the old contents are still there.
// data is Windows-1252 text, written as bytes of form.
void SavePageFile(const std::string& path, std::string_view data, const TextForm& form = {});

}  // namespace appcore
