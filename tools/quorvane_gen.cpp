// quorvane-gen: writes a seeded set of register files (see GenUsage()).
#include <cstdio>
#include <string>
#include <vector>

#include "tools/gen_command_line.h"
#include "tools/register_generator.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  regtools::GenCommandLine command;
  std::string error;
  if (!regtools::ParseGenCommandLine(args, &command, &error)) {
    std::fprintf(stderr, "quorvane-gen: %s\n%s", error.c_str(), regtools::GenUsage().c_str());
    return 2;
  }
  if (command.help) {
    std::fputs(regtools::GenUsage().c_str(), stdout);
    return 0;
  }
  try {
    const regtools::GeneratorResult result = regtools::GenerateRegisters(command.options);
    for (const regtools::GeneratedFile& file : result.files) {
      std::printf("%-28s %9lld records  %s\n", file.plan.file_name.c_str(),
                  static_cast<long long>(file.plan.record_lines), file.plan.title.c_str());
    }
    std::printf("%zu files, %lld record lines, %lld lines, %lld bytes in %s\n",
                result.files.size(), static_cast<long long>(result.record_lines),
                static_cast<long long>(result.lines), static_cast<long long>(result.bytes),
                command.options.out_dir.string().c_str());
  } catch (const regtools::GeneratorError& e) {
    std::fprintf(stderr, "quorvane-gen: %s\n", e.what());
    return 1;
  }
  return 0;
}
