// orb-cli decode: the reports of a recording, one line each.

#include <iostream>
#include <memory>
#include <string>

#include "app/Commands.h"
#include "app/FileDecode.h"

namespace orb::cli {

namespace {

struct TDecodeArguments {
  std::string File;
  TDecodeOptions Options;
};

}  // namespace

void AddDecodeCommand(CLI::App& app, TCliContext& context) {
  auto arguments = std::make_shared<TDecodeArguments>();
  auto* decode = app.add_subcommand(
      "decode", "Print every report of a recorded file as its text line; a summary goes to stderr");
  decode->add_flag("--text", arguments->Options.Text,
                   "Pull text lines (the legacy text interface) instead of decoded records");
  decode->add_option("FILE", arguments->File, "Recording: *_QM_ReportData.txt or a binary file")
      ->required();
  decode->callback([&context, arguments] {
    std::ios::sync_with_stdio(false);
    context.ExitCode = RunDecode(arguments->File, arguments->Options, std::cout, std::cerr);
  });
}

}  // namespace orb::cli
