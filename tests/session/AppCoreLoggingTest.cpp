// Measurement log files written by the application core: simulated counters
// report on the report thread, the log definitions are the core's, time comes
// from a fake clock.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "AppCoreHarness.h"
#include "logging/App_LogDefinition.h"
#include "platform/NumberFormat.h"

namespace orb {
namespace {

namespace fs = std::filesystem;

constexpr uint32_t kPhaseAndFrequency = 0b11;

// A log file cut into its header (every line that begins with "#"), its
// column titles (the last header line) and its data lines. A last line
// without CR LF is kept with a marker, so it fails every comparison.
struct TLogFile {
  explicit TLogFile(const fs::path& path) {
    const std::string text = test::ReadFile(path);
    for (size_t start = 0; start < text.size();) {
      const size_t end = text.find("\r\n", start);
      const std::string line = end == std::string::npos ? text.substr(start) + "<no CR LF>"
                                                        : text.substr(start, end - start);
      (line.starts_with("#") ? Header : Data).push_back(line);
      start = end == std::string::npos ? text.size() : end + 2;
    }
    if (!Header.empty()) Titles = Header.back();
  }
  bool HasHeaderLine(const std::string& line) const {
    return std::find(Header.begin(), Header.end(), line) != Header.end();
  }

  std::vector<std::string> Header;
  std::vector<std::string> Data;
  std::string Titles;
};

// Every data line is as long as the column titles and has a value (or a
// filler) wherever a right-aligned title ends: no column is missing or
// shifted.
void ExpectAligned(const TLogFile& log, const std::string& name) {
  ASSERT_TRUE(log.Titles.starts_with("#PC time")) << name << "\n" << log.Titles;
  for (const std::string& line : log.Data) {
    ASSERT_EQ(line.size(), log.Titles.size()) << name << "\n" << log.Titles << "\n" << line;
    for (size_t i = 1; i < line.size(); ++i) {
      const bool titleEnds =
          log.Titles[i] != ' ' && (i + 1 == line.size() || log.Titles[i + 1] == ' ');
      if (titleEnds) {
        ASSERT_NE(line[i], ' ') << name << " column ending at " << i << "\n"
                                << log.Titles << "\n"
                                << line;
      }
    }
  }
}

// Every source had a report for every line from line `from` (0-based) on:
// a counter's first report after a start or a new header has no frequency.
void ExpectNoFillers(const TLogFile& log, const std::string& name, size_t from) {
  for (size_t n = from; n < log.Data.size(); ++n) {
    EXPECT_EQ(log.Data[n].find("--"), std::string::npos) << name << " line " << n << "\n"
                                                         << log.Data[n];
  }
}

// The steps between the lines' values in the first column titled `name`
// (a phase column: 26 characters, right-aligned).
std::vector<double> PhaseSteps(const TLogFile& log, const std::string& name) {
  constexpr size_t kWidth = 26;
  std::vector<double> steps;
  const size_t title = log.Titles.find(name);
  if (title == std::string::npos || title + name.size() < kWidth) {
    ADD_FAILURE() << "no column " << name << "\n" << log.Titles;
    return steps;
  }
  const size_t end = title + name.size();
  double last = 0;
  for (size_t n = 0; n < log.Data.size(); ++n) {
    std::string_view text = std::string_view(log.Data[n]).substr(end - kWidth, kWidth);
    text.remove_prefix(std::min(text.find_first_not_of(' '), text.size()));
    double value = 0;
    EXPECT_TRUE(TryTextToFloat(text, value)) << log.Data[n];
    if (n > 0) steps.push_back(value - last);
    last = value;
  }
  return steps;
}

// Each line takes the next report of the main source: its phase moves on by
// one interval (`cycles`) from line to line.
void ExpectEveryReport(const TLogFile& log, const std::string& name, double cycles) {
  for (const double step : PhaseSteps(log, name)) EXPECT_NEAR(step, cycles, 1) << name;
}

// Phase and frequency of channels 1 to 4 of each session, the first one the
// main source, as the dialog makes it.
std::unique_ptr<TLogDefinition> PhaseFreq(const fs::path& file, const std::vector<int>& sessions) {
  auto definition = std::make_unique<TLogDefinition>();
  for (const int session : sessions) {
    auto source = std::make_unique<TSimpleLogDefinition>(session, TLogEnabledArray{}, sscStandard,
                                                         false, kPhaseAndFrequency);
    source->SetLogEnabledString(1, "1111");
    definition->AddDefinition(std::move(source));
  }
  definition->SetFileName(file.string());
  return definition;
}

class AppCoreLoggingTest : public test::TAppCoreHarness {
 protected:
  void RunFor(TAppCore& core, int seconds) {
    for (int step = 0; step < seconds * 10; ++step) Step(core, 100);
  }
  // Until the report thread has stored what the counters made: the
  // sessions' report counts stay the same over a few of its passes.
  void Settle(TAppCore& core) {
    std::vector<int> last;
    int same = 0;
    const bool settled = test::Eventually([&] {
      const TORB_ReportThread* thread = core.ReportThread();
      const uint64_t seen = thread->PassCount();
      const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(100);
      while (thread->PassCount() < seen + 2 && std::chrono::steady_clock::now() < end) {
        std::this_thread::yield();
      }
      core.Tick();
      std::vector<int> counts;
      for (int index = 0; index < core.SessionCount(); ++index) {
        const TQMSessionItem* session = core.Session(index);
        counts.push_back(session != nullptr ? session->ORC_DM().GetNewCount(-1, hsNone) : -1);
      }
      same = counts == last ? same + 1 : 0;
      last = counts;
      return same >= 3;
    });
    ASSERT_TRUE(settled);
  }

  // Two simulated counters (4 channels, 1 s), open and running.
  std::unique_ptr<TAppCore> TwoCounters() {
    auto core = NewCore();
    std::string error;
    EXPECT_EQ(core->AddSession("DemoData", ctUnknown, error), 0) << error;
    EXPECT_EQ(core->AddSession("DemoData", ctUnknown, error), 1) << error;
    EXPECT_EQ(core->StartUp(), 2);
    return core;
  }
  // The log files, by name.
  std::vector<fs::path> LogFiles() const {
    std::vector<fs::path> files;
    if (!fs::exists(logFolder)) return files;
    for (const auto& entry : fs::directory_iterator(logFolder)) files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
  }
  TAppSettings SavedSettings() const {
    TAppSettings settings;
    settings.LoadFromFile((folder / "ORB_App.ini").string());
    settings.GetVersionFormat();
    return settings;
  }
  const fs::path logFolder = folder / "log";
};

// One definition with phase and frequency of two counters: one line per
// second, both sources in every line, the header naming both.
TEST_F(AppCoreLoggingTest, TwoCountersInOneFile) {
  auto core = TwoCounters();
  EXPECT_EQ(core->Sampler().AddDefinition(PhaseFreq(logFolder / "PhaseFreq_AB_1.txt", {0, 1})), 0);
  RunFor(*core, 30);
  Settle(*core);
  core->ShutDown();
  ASSERT_EQ(LogFiles(), std::vector<fs::path>{logFolder / "PhaseFreq_AB_1_260101_1.txt"});
  const TLogFile log(LogFiles().front());
  for (const char* line :
       {"#Source:    [A]", "#Source:    [B]", "#Device:    DemoData", "#Interval:  1s"}) {
    EXPECT_TRUE(log.HasHeaderLine(line)) << line;
  }
  for (const char* name : {"1:ORC_A1", "4:ORC_A4", "1:ORC_B1", "4:ORC_B4"}) {
    EXPECT_NE(log.Titles.find(name), std::string::npos) << name << "\n" << log.Titles;
  }
  // One line per report of the main counter (10 MHz at 1 s) from the first
  // one both counters had.
  const auto reports = static_cast<size_t>(core->Session(0)->ORC_DM().GetNewCount(-1, hsNone));
  EXPECT_GE(reports, 27u);
  EXPECT_LE(log.Data.size(), reports);
  EXPECT_GE(log.Data.size() + 1, reports);
  ExpectEveryReport(log, "1:ORC_A1", 1e7);
  ExpectAligned(log, "PhaseFreq_AB_1_260101_1.txt");
  ExpectNoFillers(log, "PhaseFreq_AB_1_260101_1.txt", 1);
  EXPECT_TRUE(Errors().empty()) << Errors().front();
}

// A new rate of the main counter, given as `orb-cli run` gives it, ends the
// file; the next one says why and shows the new interval, and its lines
// follow the new rate with the slower counter's last report repeated.
TEST_F(AppCoreLoggingTest, RateChangeStartsANewFile) {
  auto core = TwoCounters();
  core->Sampler().AddDefinition(PhaseFreq(logFolder / "PhaseFreq_AB_1.txt", {0, 1}));
  RunFor(*core, 5);
  Settle(*core);
  ASSERT_TRUE(core->WithSession(0, [](TQMSessionItem& session) {
    session.SetCommand(std::string(1, static_cast<char>(0x20 + 6)), "Interval 100ms");
  }));
  RunFor(*core, 5);
  Settle(*core);
  core->ShutDown();

  const std::vector<fs::path> files = LogFiles();
  ASSERT_EQ(files, (std::vector<fs::path>{logFolder / "PhaseFreq_AB_1_260101_1.txt",
                                          logFolder / "PhaseFreq_AB_1_260101_2.txt"}));
  const TLogFile before(files[0]);
  const TLogFile after(files[1]);
  EXPECT_EQ(std::count(before.Header.begin(), before.Header.end(), "#Interval:  1s"), 2);
  EXPECT_TRUE(after.HasHeaderLine("#Message:   Source A Measurement settings changed"));
  const auto interval =
      std::find_if(after.Header.begin(), after.Header.end(),
                   [](const std::string& line) { return line.starts_with("#Interval:"); });
  ASSERT_NE(interval, after.Header.end());
  EXPECT_EQ(*interval, "#Interval:  100ms");  // the main source comes first
  EXPECT_EQ(std::count(after.Header.begin(), after.Header.end(), "#Interval:  1s"), 1);
  ExpectAligned(before, "first file");
  ExpectAligned(after, "second file");
  ExpectNoFillers(after, "second file", 1);
  ASSERT_GE(after.Data.size(), 1u);
  ExpectEveryReport(after, "1:ORC_A1", 1e6);
  // Ten lines a second: the slower counter's report stands on most of them.
  const std::vector<double> steps = PhaseSteps(after, "1:ORC_B1");
  const auto repeated = std::count(steps.begin(), steps.end(), 0.0);
  EXPECT_GE(repeated * 10, static_cast<std::ptrdiff_t>(steps.size()) * 8) << after.Data.size();
  EXPECT_TRUE(Errors().empty()) << Errors().front();
}

// A file that reaches its size limit and a new day both go on in a new
// file, named by its date and number, whose header gives the reason. No line
// is lost between the files.
TEST_F(AppCoreLoggingTest, SizeLimitAndNewDayRotate) {
  clock.SetUtc(DateTimeFromUnixMs(1'796'860'785'000));  // 2026-12-09 23:59:45
  constexpr int64_t kLimit = 4000;
  auto core = TwoCounters();
  auto definition = PhaseFreq(logFolder / "PhaseFreq_AB_1.txt", {0, 1});
  definition->SetFileSize(kLimit);
  core->Sampler().AddDefinition(std::move(definition));
  RunFor(*core, 30);
  Settle(*core);
  core->ShutDown();

  const std::vector<fs::path> files = LogFiles();
  ASSERT_GE(files.size(), 4u);
  TLogFile all(files.front());
  std::string day = "261209";
  int number = 1;
  for (size_t n = 0; n < files.size(); ++n) {
    const TLogFile log(files[n]);
    const std::string name = files[n].filename().string();
    const bool newDay = name.find("_261210_") != std::string::npos && day == "261209";
    if (newDay) {
      day = "261210";
      number = 1;
    }
    EXPECT_EQ(name, "PhaseFreq_AB_1_" + day + "_" + std::to_string(number++) + ".txt");
    if (n > 0) {
      const std::string message = newDay ? "New Day" : "File size reached";
      EXPECT_TRUE(log.HasHeaderLine("#Message:   " + message)) << name;
    }
    ExpectAligned(log, name);
    ExpectNoFillers(log, name, n == 0 ? 1 : 0);
    if (n > 0) all.Data.insert(all.Data.end(), log.Data.begin(), log.Data.end());
    // A full file ends with the line that reached the limit.
    const bool full = n + 1 < files.size() &&
                      TLogFile(files[n + 1]).HasHeaderLine("#Message:   File size reached");
    if (full) {
      const auto size = static_cast<int64_t>(fs::file_size(files[n]));
      EXPECT_GE(size, kLimit) << name;
      EXPECT_LT(size - static_cast<int64_t>(log.Data.back().size() + 2), kLimit) << name;
    }
  }
  EXPECT_EQ(day, "261210");
  const auto reports = static_cast<size_t>(core->Session(0)->ORC_DM().GetNewCount(-1, hsNone));
  EXPECT_LE(all.Data.size(), reports);
  EXPECT_GE(all.Data.size() + 1, reports);
  ExpectEveryReport(all, "1:ORC_A1", 1e7);
}

// Definitions of an older settings file: the single "LogType" is read as a
// set, the linear-combination outputs of a session become its virtual
// channels, which the definition then logs. A session removed in the middle
// takes its definition along; the definition of the session behind it
// follows that session to its new number, and a second run finds everything
// as it was saved.
TEST_F(AppCoreLoggingTest, DefinitionsSurviveASettingsRoundTrip) {
  const std::string log = (logFolder / "").string();
  test::WriteFile(folder / "ORB_App.ini",
                  "INI_Version=3\n"
                  "SessionCount=3\n"
                  "Session_0_OpenString=DemoData\nSession_0_ConnectionType=8\n"
                  "Session_0_LC_Names=Sum, Drift, \n"
                  "Session_0_LC1_Mult1_4=1 1 0 0 \nSession_0_LC2_Mult1_4=0 -1 1 0 \n"
                  "Session_1_OpenString=none\nSession_1_FriendlyName=second\n"
                  "Session_2_OpenString=none\nSession_2_FriendlyName=third\n"
                  "Log_DefsCount=3\n"
                  "Log_1_Count=1\nLog_1_FileName=" +
                      log +
                      "Freq_A_1.txt\n"
                      "Log_1_Simple1_SessionIndex=0\nLog_1_Simple1_LogType=1\n"
                      "Log_1_Simple1_Enabled1=1111\nLog_1_Simple1_Enabled2=11\n"
                      "Log_2_Count=1\nLog_2_FileName=" +
                      log +
                      "Phase_B_2.txt\n"
                      "Log_2_Simple1_SessionIndex=1\nLog_2_Simple1_LogType=0\n"
                      "Log_2_Simple1_Enabled1=1\n"
                      "Log_3_Count=1\nLog_3_FileName=" +
                      log +
                      "PhaseDiff_C_3.txt\n"
                      "Log_3_Simple1_SessionIndex=2\nLog_3_Simple1_LogType=6\n"
                      "Log_3_Simple1_Enabled1=11\n");
  std::vector<std::string> saved;
  {
    auto core = NewCore();
    EXPECT_EQ(core->RestoreSessions(), 3);
    EXPECT_EQ(core->Sampler().DefinitionCount(), 3);
    EXPECT_EQ(core->StartUp(), 1);
    RunFor(*core, 10);
    Settle(*core);
    core->RemoveSession(1);
    EXPECT_EQ(core->Sampler().DefinitionCount(), 2);
    core->ShutDown();

    ASSERT_EQ(LogFiles(), std::vector<fs::path>{logFolder / "Freq_A_1_260101_1.txt"});
    const TLogFile file(LogFiles().front());
    for (const char* title : {"Frequency [Hz]", "V FreqAbs"}) {
      EXPECT_NE(file.Header[file.Header.size() - 2].find(title), std::string::npos) << title;
    }
    for (const char* name : {"1:ORC_A1", "4:ORC_A4", "1:Sum", "2:Drift"}) {
      EXPECT_NE(file.Titles.find(name), std::string::npos) << name << "\n" << file.Titles;
    }
    EXPECT_GE(file.Data.size(), 8u);
    ExpectAligned(file, "Freq_A_1_260101_1.txt");
    ExpectNoFillers(file, "Freq_A_1_260101_1.txt", 1);

    TAppSettings settings = SavedSettings();
    const TLogDefinitions definitions = ReadLogDefinitions(settings);
    ASSERT_EQ(definitions.size(), 2u);
    const TLogDefinition& frequency = *definitions[0];
    ASSERT_EQ(frequency.GetCount(), 2);
    EXPECT_EQ(frequency.GetDefinition(0)->LogTypes(), 1u << 1);
    EXPECT_EQ(frequency.GetDefinition(0)->GetLogEnabledString(1), "111100000000000000000000");
    EXPECT_FALSE(frequency.GetDefinition(0)->AnyEnabled(2));
    EXPECT_EQ(frequency.GetDefinition(1)->Source(), 0);
    EXPECT_EQ(frequency.GetDefinition(1)->StringClass(), sscVirtual);
    EXPECT_EQ(frequency.GetDefinition(1)->LogTypes(), 1u << 11);
    EXPECT_EQ(frequency.GetDefinition(1)->GetLogEnabledString(1), "110000000000000000000000");
    const TLogDefinition& difference = *definitions[1];
    EXPECT_EQ(difference.FileName(), log + "PhaseDiff_C_3.txt");
    EXPECT_EQ(difference.GetDefinition(0)->Source(), 1);
    EXPECT_EQ(difference.GetDefinition(0)->LogTypes(), 1u << 6);
    EXPECT_EQ(settings.GetValue("Session_1_FriendlyName", std::string()), "third");
    for (const std::string& line : settings.Lines()) {
      if (line.starts_with("Log_")) saved.push_back(line);
    }
  }
  auto again = NewCore();
  EXPECT_EQ(again->RestoreSessions(), 2);
  EXPECT_EQ(again->Sampler().DefinitionCount(), 2);
  again->ShutDown();
  TAppSettings settings = SavedSettings();
  std::vector<std::string> savedAgain;
  for (const std::string& line : settings.Lines()) {
    if (line.starts_with("Log_")) savedAgain.push_back(line);
  }
  EXPECT_EQ(savedAgain, saved);
}

// The main thread adds, changes, switches and removes definitions while the
// report thread logs two counters at 10 ms: no race, no deadlock, and every
// file is whole: complete lines, every data line under its titles, each
// opened file closed once.
TEST_F(AppCoreLoggingTest, DefinitionsChangeWhileSessionsLog) {
  auto core = TwoCounters();
  for (const int index : {0, 1}) {
    core->WithSession(index, [](TQMSessionItem& session) {
      session.SetCommand(std::string(1, static_cast<char>(0x20 + 3)), "Interval 10ms");
    });
  }
  RunFor(*core, 2);
  TORB_MultiSampler& sampler = core->Sampler();
  // One file goes on throughout; three others change every 50 ms.
  sampler.AddDefinition(PhaseFreq(logFolder / "Steady.txt", {0}));
  constexpr int kSlots = 3;
  std::array<int, kSlots> slots;
  slots.fill(-1);
  const auto file = [&](int slot, int op) {
    return logFolder / ("Def" + std::to_string(slot) + "_" + std::to_string(op % 2) + ".txt");
  };
  for (int round = 0; round < 600; ++round) {
    // The counters go on; the report thread is not waited for.
    clock.Advance(10);
    core->Tick();
    if (round % 5 != 0) continue;
    const int op = round / 5;
    const int slot = op % kSlots;
    int& dIndex = slots[static_cast<size_t>(slot)];
    switch ((op / kSlots) % 6) {
      case 0:
        if (dIndex < 0) {
          dIndex = sampler.AddDefinition(PhaseFreq(file(slot, 0), {slot % 2, 1 - slot % 2}));
        }
        break;
      case 1:
        sampler.SetEnabled(dIndex, false, op % 2 == 0 ? "Stopped" : "");
        break;
      case 2:
        sampler.SetEnabled(dIndex, true);
        break;
      case 3:
        sampler.ChangeDefinition(dIndex, PhaseFreq(file(slot, op), {1 - slot % 2}));
        break;
      case 4:
        sampler.SetAddHeader(dIndex, op % 2 == 0);
        break;
      default:
        if (op % 4 == 0) {
          sampler.RemoveDefinition(dIndex);
          dIndex = -1;
        }
        break;
    }
  }
  RunFor(*core, 2);
  core->ShutDown();
  core->FlushMessages();

  size_t lines = 0;
  for (const fs::path& path : LogFiles()) {
    const TLogFile log(path);
    if (!log.Header.empty()) ExpectAligned(log, path.filename().string());
    for (const std::string& line : log.Data)
      ASSERT_EQ(line.find("<no CR LF>"), std::string::npos) << path;
    lines += log.Data.size();
  }
  EXPECT_GT(lines, 0u);
  const auto count = [&](const std::string& start) {
    return std::count_if(texts.begin(), texts.end(), [&](const std::string& text) {
      return text.find(start) != std::string::npos;
    });
  };
  EXPECT_GT(count(" 91 Log opened "), 0);
  EXPECT_EQ(count(" 91 Log opened "), count(" 92 Log closed"));
}

}  // namespace
}  // namespace orb
