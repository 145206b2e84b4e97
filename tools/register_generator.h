// Seeded generator of transcribed church-register files, for the sample set
// and for the large sets the benchmarks and tests need.
//
// File format (what the application reads):
//   - name: a parish, meeting, court or port slug and a kind suffix:
//     "stmary_bap.txt", "stmary_marr.txt", "ashcombe_memb.txt",
//     "wenford_will.txt", "bristol_pass.txt";
//   - Windows-1252 bytes, every line ended by CR LF (the last one too);
//   - line 1 is the title, e.g. "St Mary, Ashcombe - Baptisms 1640-1760";
//   - a record line starts with its date, a 4-character year and then a
//     2-character day and 3-letter month in either order, '?' for a digit the
//     transcriber could not read: "1687 12 Mar ", "1687 Mar 12 ", "16?7 ?? Jun ".
//     The date and one blank fill characters 1-12; the rest starts at 13:
//       baptisms:    "John Smyth, Mary Jonson; Anne; Will[iam] Turner, Joan Hall"
//                    (father, mother; child; witnesses)
//       other kinds: "Thomas Baker wid, yeoman; Mary Cole, widow"
//                    (husband or testator or head, descriptor;
//                     wife or executor, descriptor)
//   - other lines are never records: indented continuation lines, remark
//     lines starting with a letter, '-' separator lines and empty lines.
//
// Dates rise through a file; files of one parish share its families, whose
// surnames come in several spellings; a few settlers carry accented names.
// The same seed and options give the same bytes on every machine.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace regtools {

enum class RegisterKind { kBaptisms, kMarriages, kMembers, kWills, kPassengers };

enum class LineKind { kTitle, kRecord, kContinuation, kRemark, kSeparator, kEmpty };

// "_bap.txt", "_marr.txt", "_memb.txt", "_will.txt", "_pass.txt".
const char* KindSuffix(RegisterKind kind);

struct GeneratorOptions {
  uint64_t seed = 1;
  std::filesystem::path out_dir;
  int files = 8;               // kinds cycle bap, marr, bap, memb, will, pass, bap, marr
  int64_t record_lines = 2000; // record lines over all files, exactly
};

inline constexpr int kMaxFiles = 10000;
inline constexpr int64_t kMaxRecordLines = 100'000'000;

// One file of a set, decided before any line is written.
struct RegisterFilePlan {
  std::string file_name;
  RegisterKind kind = RegisterKind::kBaptisms;
  std::string title;
  int first_year = 0;
  int last_year = 0;
  int64_t record_lines = 0;
  uint64_t seed = 0;         // this file's own stream
  uint64_t family_seed = 0;  // shared by the files of one parish or place
};

struct GeneratedFile {
  RegisterFilePlan plan;
  std::filesystem::path path;
  int64_t lines = 0;  // title and every other line included
  int64_t bytes = 0;
};

struct GeneratorResult {
  std::vector<GeneratedFile> files;
  int64_t record_lines = 0;
  int64_t lines = 0;
  int64_t bytes = 0;
};

// Bad options or a failed write; the message names the option or the file.
class GeneratorError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The files a set will hold; no I/O. Throws GeneratorError on bad options.
std::vector<RegisterFilePlan> PlanRegisters(const GeneratorOptions& options);

// Every line of one file in order, title first, without line ends.
using LineSink = std::function<void(LineKind kind, std::string_view text)>;
void ComposeRegisterFile(const RegisterFilePlan& plan, const LineSink& sink);

// Writes the set into options.out_dir (created when missing); files of the
// same names are replaced, others left alone. A file that cannot be written
// completely is removed and GeneratorError thrown.
GeneratorResult GenerateRegisters(const GeneratorOptions& options);

}  // namespace regtools
