#pragma once
// Each orb-cli subcommand lives in its own file and registers itself here.
// A command's callback sets the exit code; the program's options (--home)
// are applied before any callback runs.

#include <CLI/CLI.hpp>

namespace orb::cli {

struct TCliContext {
  std::string Home;  // --home, empty when not given
  int ExitCode = 0;
};

void AddInfoCommand(CLI::App& app, TCliContext& context);
void AddAdevCommand(CLI::App& app, TCliContext& context);
void AddDecodeCommand(CLI::App& app, TCliContext& context);
void AddRunCommand(CLI::App& app, TCliContext& context);

}  // namespace orb::cli
