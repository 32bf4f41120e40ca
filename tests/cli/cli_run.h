// resicrypt-cli's pack, unpack, test and list run in process, with standard input,
// output and error through files of the test's folder.
#pragma once

#include <cstdio>

#include "cli/cli_args.h"
#include "cli/file_command.h"
#include "tests/container/container_test_support.h"

namespace containertest {

// Runs one file command in process; messages and listing are kept as text.
struct CliRun {
  int status = -1;
  std::string out;
  std::string err;
};

inline CliRun RunCli(const TempFolder& folder, const std::vector<std::string>& args,
                     const std::string& in = {}) {
  namespace cli = resicrypt::cli;
  const cli::ParsedArgs parsed = cli::ParseArgs(args);
  if (!parsed.error.empty()) return {cli::kExitUsage, "", parsed.error};
  WriteBytes(folder.Path("cli.in"), in);
  std::FILE* input = std::fopen(folder.Path("cli.in").c_str(), "rb");
  std::FILE* out = std::fopen(folder.Path("cli.out").c_str(), "wb");
  std::FILE* err = std::fopen(folder.Path("cli.err").c_str(), "wb");
  CliRun run;
  if (parsed.command != nullptr) run.status = parsed.command->run(parsed, input, out, err);
  for (std::FILE* file : {input, out, err}) std::fclose(file);
  run.out = ReadBytes(folder.Path("cli.out"));
  run.err = ReadBytes(folder.Path("cli.err"));
  for (const char* name : {"cli.in", "cli.out", "cli.err"}) std::remove(folder.Path(name).c_str());
  return run;
}

}  // namespace containertest
