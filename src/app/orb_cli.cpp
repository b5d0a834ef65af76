// orb-cli: the headless ORB program.

#include <CLI/CLI.hpp>

#include "app/Commands.h"
#include "logging/LogUnit.h"
#include "platform/Files.h"

int main(int argc, char** argv) {
  CLI::App app{"ORB: measurement program for multi-channel phase and frequency counters"};
  orb::cli::TCliContext context;
  app.add_option("--home", context.Home,
                 "Folder for settings and logs (default: the program's folder)");
  app.require_subcommand(1);
  // "orb-cli run --home DIR" as well as "orb-cli --home DIR run".
  app.fallthrough();
  app.parse_complete_callback([&context] {
    if (!context.Home.empty()) orb::SetHomeFolder(context.Home);
  });

  orb::cli::AddInfoCommand(app, context);
  orb::cli::AddAdevCommand(app, context);
  orb::cli::AddDecodeCommand(app, context);
  orb::cli::AddRunCommand(app, context);

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e);
    return code == 0 ? 0 : 2;
  }
  orb::FinalizeLoggers();
  return context.ExitCode;
}
