// orb-cli adev: Allan deviation of one logged column, computed by the same
// store the live views use.

#include <climits>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>

#include "app/AdevAnalysis.h"
#include "app/Commands.h"

namespace orb::cli {

namespace {

struct TAdevArguments {
  std::string Mode = "freq";
  std::string File = "-";
  TAdevOptions Options;
};

}  // namespace

void AddAdevCommand(CLI::App& app, TCliContext& context) {
  auto arguments = std::make_shared<TAdevArguments>();
  auto* adev = app.add_subcommand(
      "adev", "Allan deviation of one column of a log file, one sample per line");
  adev->add_option("--mode", arguments->Mode,
                   "freq: relative frequencies; phase: phases (time error) in seconds")
      ->check(CLI::IsMember({"freq", "phase"}))
      ->capture_default_str();
  adev->add_option("--interval-ms", arguments->Options.IntervalMs, "Time between two samples")
      ->check(CLI::Range(1, INT_MAX))
      ->capture_default_str();
  adev->add_option("--decay", arguments->Options.Decay,
                   "0: mean of all differences; n: exponential forgetting with weight 1/(n+1)")
      ->check(CLI::Range(0, 99))
      ->capture_default_str();
  adev->add_option("--column", arguments->Options.Column,
                   "Field number (from 1); fields are separated by blanks, tabs or \";\"")
      ->check(CLI::Range(1, INT_MAX))
      ->capture_default_str();
  adev->add_option("FILE", arguments->File, "Input file, \"-\" for standard input")
      ->capture_default_str();

  adev->callback([&context, arguments] {
    TAdevOptions options = arguments->Options;
    options.Mode = arguments->Mode == "phase" ? amPhaseRes : amFreq;
    std::ios::sync_with_stdio(false);
    if (arguments->File == "-") {
      context.ExitCode = RunAdev(std::cin, std::cout, std::cerr, options);
      return;
    }
    std::ifstream input(arguments->File, std::ios::binary);
    if (!input) {
      std::cerr << "cannot open \"" << arguments->File << "\"\n";
      context.ExitCode = 2;
      return;
    }
    context.ExitCode = RunAdev(input, std::cout, std::cerr, options);
  });
}

}  // namespace orb::cli
