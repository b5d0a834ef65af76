// orb-cli info: where the program keeps its files, and their state. Creates
// the settings files with their defaults when they are missing.

#include <exception>
#include <iostream>

#include "app/Commands.h"
#include "platform/Files.h"
#include "session/ORB_DebugConf.h"
#include "session/ORB_Settings.h"

namespace orb::cli {

void AddInfoCommand(CLI::App& app, TCliContext& context) {
  auto* info =
      app.add_subcommand("info", "Show where ORB keeps its files and create missing settings");
  info->callback([&context] {
    std::cout << "ORB " << ORB_VERSION << "\n"
              << "Program folder: " << ProgramFolder().string() << "\n";
    try {
      TORBSettings settings(TORBSettings::DefaultFileName(), ProgramFolder().string());
      TDebugConf debugConf(TDebugConf::DefaultFileName());
      settings.SaveSettings();
      debugConf.SaveSettings();
      std::cout << "Settings: " << settings.Filename() << " (format " << settings.VersionFormat()
                << ", decimal separator windows '" << settings.FormatSettingsWin().DecimalSeparator
                << "', log files '" << settings.FormatSettingsLog().DecimalSeparator << "')\n"
                << "Debug configuration: " << debugConf.Filename() << "\n";
      context.ExitCode = 0;
    } catch (const std::exception& error) {
      std::cerr << "orb-cli: " << error.what() << "\n";
      context.ExitCode = 1;
    }
  });
}

}  // namespace orb::cli
