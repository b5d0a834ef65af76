// orb-cli info: where the program keeps its files.

#include <iostream>

#include "app/Commands.h"
#include "platform/Files.h"

namespace orb::cli {

void AddInfoCommand(CLI::App& app, TCliContext& context) {
  auto* info = app.add_subcommand("info", "Show where ORB keeps its files");
  info->callback([&context] {
    std::cout << "ORB " << ORB_VERSION << "\n"
              << "Program folder: " << ProgramFolder().string() << "\n";
    context.ExitCode = 0;
  });
}

}  // namespace orb::cli
