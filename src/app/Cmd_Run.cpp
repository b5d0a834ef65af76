// orb-cli run: the headless measurement program. Restores the sessions of
// the program's folder, adds one per --open, opens them, runs the report
// thread and the 100 ms tick, prints every new message and stops after
// --seconds or on SIGINT/SIGTERM, saving the settings.

#include <atomic>
#include <chrono>
#include <csignal>
#include <exception>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/Commands.h"
#include "logging/LogDefinitionRules.h"
#include "platform/Files.h"
#include "protocol/QM_Commands.h"
#include "protocol/QM_Header.h"
#include "session/ORB_AppCore.h"

namespace orb::cli {
namespace {

constexpr int kExitBadArguments = 2;
constexpr int kExitNothingOpen = 3;
constexpr int64_t kTickMs = 100;

std::atomic<bool> gStopRequested{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");

extern "C" void OnStopSignal(int) { gStopRequested = true; }

struct TRunOptions {
  std::vector<std::string> Open;
  int RateMs = 0;  // 0: the counter keeps its rate
  std::string Mode;
  int Seconds = 0;  // 0: until a signal
  bool Record = false;
  bool Quiet = false;
  std::string LogFile;      // empty: no log of this run
  std::string ArchiveRoot;  // empty: no archive
};

// The rate index of an interval; -1 when no rate command has it.
int RateIndexOfMs(int ms) {
  for (int index = 0; index < kIntervalCount; ++index) {
    if (IntervalIndexToMs(index) == ms) return index;
  }
  return -1;
}

int ModeIndexOf(const std::string& mode) {
  if (mode == "phase") return 0;
  if (mode == "frequency") return 2;
  if (mode == "difference") return 4;
  return -1;
}

// Mode and rate as the session's menus give them.
void SendModeAndRate(TQMSessionItem& session, int modeIndex, int rateIndex) {
  if (modeIndex >= 0) {
    const std::string caption(TQMHeader(static_cast<uint16_t>(modeIndex << 12)).GetModeText());
    session.SetCommand(std::string(1, static_cast<char>(0x40 + modeIndex)), "Mode " + caption);
  }
  if (rateIndex >= 0) {
    session.SetCommand(std::string(1, static_cast<char>(0x20 + rateIndex)),
                       "Interval " + std::string(IntervalIndexToText(rateIndex)));
  }
}

void StartRecording(TAppCore& core) {
  for (int index = 0; index < core.SessionCount(); ++index) {
    const TQMSessionItem* session = core.Session(index);
    if (session == nullptr) continue;
    std::string message;
    if (core.Sources().Multi_StartSaveReportData(session->MultiId(), message) != mcSuccess) {
      std::cerr << "orb-cli run: recording of session " << session->Letter()
                << " failed: " << message << "\n";
    }
  }
}

// Phase and frequency of every channel of every counter, as the log
// definition dialog would set it up; a definition of an earlier run that
// writes the same file is replaced.
void DefineRunLog(TAppCore& core, const std::string& file) {
  std::vector<int> sessions;
  for (int index = 0; index < core.SessionCount(); ++index) {
    if (core.Session(index) != nullptr) sessions.push_back(index);
  }
  if (sessions.empty()) return;
  const std::string name = std::filesystem::absolute(file).lexically_normal().string();
  auto definition = PhaseAndFrequencyDefinition(sessions, name);
  TORB_MultiSampler& sampler = core.Sampler();
  const int existing = sampler.FindDefinition(name);
  if (existing >= 0) {
    sampler.ChangeDefinition(existing, std::move(definition));
  } else {
    sampler.AddDefinition(std::move(definition));
  }
}

// Ticks every 100 ms until the time is up or a signal came.
void RunTicks(TAppCore& core, int seconds) {
  using Clock = std::chrono::steady_clock;
  const auto end =
      seconds > 0 ? Clock::now() + std::chrono::seconds(seconds) : Clock::time_point::max();
  auto next = Clock::now();
  while (!gStopRequested) {
    core.Tick();
    next += std::chrono::milliseconds(kTickMs);
    if (next >= end) {
      std::this_thread::sleep_until(end);
      return;
    }
    std::this_thread::sleep_until(next);
  }
}

int Run(const TRunOptions& options) {
  const int rateIndex = options.RateMs > 0 ? RateIndexOfMs(options.RateMs) : -1;
  if (options.RateMs > 0 && rateIndex < 0) {
    std::cerr << "orb-cli run: --rate must be one of 1, 2, 5, 10, 20, 50, 100, 200, 500, 1000, "
                 "2000, 5000, 10000, 20000 ms\n";
    return kExitBadArguments;
  }
  const int modeIndex = ModeIndexOf(options.Mode);
  // From here on a signal ends the run in order, also while a slow device
  // is being opened.
  gStopRequested = false;
  std::signal(SIGINT, OnStopSignal);
  std::signal(SIGTERM, OnStopSignal);

  TAppCoreServices services;
  services.Home = ProgramFolder();
  services.AppBaseName = "orb-cli";
  TAppCore core(services);
  std::optional<TMessageItem> last;
  core.SetOnNewMessage([&](const TMessageItem& item) {
    if (options.Quiet && item.MsgType != mtError) return;
    std::cout << item.ItemToString(last ? &*last : nullptr) << std::endl;
    last = item;
  });

  core.RestoreSessions();
  for (const std::string& open : options.Open) {
    std::string error;
    core.AddSession(open, ctUnknown, error);
  }
  if (core.SessionsAndCopies().empty()) {
    std::string error;
    core.AddSession(std::string(kSimulatorName), ctDemoNone, error);
  }
  if (options.Record) StartRecording(core);
  if (!options.LogFile.empty()) DefineRunLog(core, options.LogFile);
  if (!options.ArchiveRoot.empty()) {
    std::string error;
    if (!core.EnableArchive(std::filesystem::absolute(options.ArchiveRoot), error)) {
      std::cerr << "orb-cli run: --archive: " << error << "\n";
      core.ShutDown();
      core.FlushMessages();
      return kExitBadArguments;
    }
  }
  if (core.StartUp() == 0) {
    core.ShutDown();
    core.FlushMessages();
    return kExitNothingOpen;
  }
  for (int index = 0; index < core.SessionCount(); ++index) {
    core.WithSession(index, [&](TQMSessionItem& session) {
      if (session.IsRunning()) SendModeAndRate(session, modeIndex, rateIndex);
    });
  }

  RunTicks(core, options.Seconds);
  core.ShutDown();
  core.FlushMessages();
  return 0;
}

}  // namespace

void AddRunCommand(CLI::App& app, TCliContext& context) {
  auto options = std::make_shared<TRunOptions>();
  auto* run = app.add_subcommand(
      "run", "Measure: open the stored sessions and --open connections, print the messages");
  run->add_option("--open", options->Open,
                  "Connection string of a source to add (repeatable; \"DemoData\" when there "
                  "would be no session)");
  run->add_option("--rate", options->RateMs, "Report interval in ms sent to every counter")
      ->check(CLI::PositiveNumber);
  run->add_option("--mode", options->Mode, "Measurement mode sent to every counter")
      ->check(CLI::IsMember({"phase", "frequency", "difference"}));
  run->add_option("--seconds", options->Seconds, "Stop after N seconds (default: on Ctrl-C)")
      ->check(CLI::NonNegativeNumber);
  run->add_flag("--record", options->Record, "Save the reports of every source to a file");
  run->add_flag("--quiet", options->Quiet, "Print error messages only");
  run->add_option("--log", options->LogFile,
                  "Write phase and frequency of every channel of every session to FILE (kept "
                  "in the settings as a log definition)");
  run->add_option("--archive", options->ArchiveRoot,
                  "Archive the binary reports of every session in DIR/<letter> (minute and "
                  "hourly files)");
  run->callback([options, &context] {
    try {
      context.ExitCode = Run(*options);
    } catch (const std::exception& error) {
      std::cerr << "orb-cli: " << error.what() << "\n";
      context.ExitCode = 1;
    }
  });
}

}  // namespace orb::cli
