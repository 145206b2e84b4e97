#include "tools/gen_command_line.h"

#include <cstdint>

namespace regtools {
namespace {

// A plain decimal number, no sign, no blanks, within max.
bool ReadNumber(const std::string& text, uint64_t max, uint64_t* value) {
  if (text.empty() || text.size() > 20) return false;
  uint64_t n = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    const uint64_t digit = static_cast<uint64_t>(c - '0');
    if (n > (max - digit) / 10) return false;
    n = n * 10 + digit;
  }
  *value = n;
  return true;
}

}  // namespace

std::string GenUsage() {
  return "Usage: quorvane-gen --out DIR [--seed N] [--files N] [--lines N]\n"
         "Writes a set of transcribed church-register files into DIR.\n"
         "  --out DIR    folder to write into (made when missing)\n"
         "  --seed N     seed; the same seed gives the same files (default 1)\n"
         "  --files N    number of files, 1 to " + std::to_string(kMaxFiles) +
         " (default 8)\n"
         "  --lines N    record lines over all files, 0 to " +
         std::to_string(kMaxRecordLines) + " (default 2000)\n";
}

bool ParseGenCommandLine(const std::vector<std::string>& args, GenCommandLine* out,
                         std::string* error) {
  GenCommandLine result;
  bool have_out = false;
  for (size_t i = 0; i < args.size(); ++i) {
    std::string name = args[i];
    std::string value;
    bool have_value = false;
    if (name == "-h" || name == "--help") {
      result.help = true;
      continue;
    }
    const size_t equals = name.find('=');
    if (name.rfind("--", 0) == 0 && equals != std::string::npos) {
      value = name.substr(equals + 1);
      name = name.substr(0, equals);
      have_value = true;
    }
    if (name != "--seed" && name != "--out" && name != "--files" && name != "--lines") {
      *error = "unknown option '" + args[i] + "'";
      return false;
    }
    if (!have_value) {
      if (i + 1 >= args.size()) {
        *error = "option " + name + " needs a value";
        return false;
      }
      value = args[++i];
    }
    uint64_t number = 0;
    if (name == "--out") {
      if (value.empty()) {
        *error = "option --out needs a folder";
        return false;
      }
      result.options.out_dir = value;
      have_out = true;
    } else if (name == "--seed") {
      if (!ReadNumber(value, UINT64_MAX, &number)) {
        *error = "--seed must be a whole number from 0 to " + std::to_string(UINT64_MAX) +
                 ", not '" + value + "'";
        return false;
      }
      result.options.seed = number;
    } else if (name == "--files") {
      if (!ReadNumber(value, kMaxFiles, &number) || number < 1) {
        *error = "--files must be a whole number from 1 to " + std::to_string(kMaxFiles) +
                 ", not '" + value + "'";
        return false;
      }
      result.options.files = static_cast<int>(number);
    } else {
      if (!ReadNumber(value, kMaxRecordLines, &number)) {
        *error = "--lines must be a whole number from 0 to " +
                 std::to_string(kMaxRecordLines) + ", not '" + value + "'";
        return false;
      }
      result.options.record_lines = static_cast<int64_t>(number);
    }
  }
  if (!have_out && !result.help) {
    *error = "option --out is required";
    return false;
  }
  *out = std::move(result);
  return true;
}

}  // namespace regtools
