// orb-cli: the headless ORB program.

#include <CLI/CLI.hpp>

#include <iostream>

#include "platform/Files.h"

int main(int argc, char** argv) {
  CLI::App app{"ORB: measurement program for multi-channel phase and frequency counters"};
  std::string home;
  app.add_option("--home", home, "Folder for settings and logs (default: the program's folder)");
  app.require_subcommand(1);

  auto* info = app.add_subcommand("info", "Show where ORB keeps its files");
  info->callback([&] {
    if (!home.empty()) orb::SetHomeFolder(home);
    std::cout << "ORB "
              << "0.1.0"
              << "\n"
              << "Program folder: " << orb::ProgramFolder().string() << "\n";
  });

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e) == 0 ? 0 : 2;
  }
  return 0;
}
