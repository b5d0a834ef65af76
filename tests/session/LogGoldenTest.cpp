// Measurement log files end to end: recorded report files replayed as
// counter sessions of the application core, their reports through the
// sessions and stores to the multi-sampler, and the files it writes compared
// byte for byte with the files in golden/. The device time is the log time;
// the replay is paced by a fake clock, so nothing depends on the wall clock.
//
// A golden file that differs is written to golden-actual/ in the build
// folder, to be read and, when right, copied over the one in golden/.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/DateTime.h"
#include "platform/NumberFormat.h"
#include "session/ORB_AppCore.h"
#include "support/TempFolder.h"

namespace orb {
namespace {

namespace fs = std::filesystem;

constexpr int kStepMs = 10;  // the fake clock's step while nothing is due

// One counter's text recording: a time stamp at every whole second,
// `Reports` data reports of `Header` every `IntervalMs` of device time from
// second 1 on, the phases of channels running at `Frequencies` Hz, and with
// `ODICards` a digital-input report before each data report.
struct TRecording {
  uint16_t Header = 0x0600;  // phase, 100 ms
  int IntervalMs = 100;
  int Reports = 25;
  std::vector<double> Frequencies = {10e6, 10e6 + 0.25, 5e6 - 0.125};
  int ODICards = 0;
};

std::string ODILine(int report, int cards) {
  std::string line = "7100;";
  for (int card = 1; card <= cards; ++card) {
    line += ' ';
    AppendIntHex(line, static_cast<uint64_t>(card) << 24 | static_cast<uint64_t>(report / 3), 8);
  }
  return line;
}

std::string RecordingText(const TRecording& recording) {
  std::string text;
  for (int n = 0; n < recording.Reports; ++n) {
    const int64_t deviceMs = 1000 + int64_t{n} * recording.IntervalMs;
    if (deviceMs % 1000 == 0) text += "7015; " + IntToText(deviceMs / 1000) + "\r\n";
    if (recording.ODICards > 0) text += ODILine(n, recording.ODICards) + "\r\n";
    std::string line;
    AppendIntHex(line, recording.Header, 4);
    for (const double frequency : recording.Frequencies) {
      // Not whole periods, so the fractions show.
      const double phase = frequency * static_cast<double>(deviceMs) / 1000.0 + 0.015625;
      const std::string value = FloatToFixed(phase, 9);
      line += ";" + std::string(26 - std::min<size_t>(26, value.size()), ' ') + value;
    }
    text += line + "\r\n";
  }
  return text;
}

struct TGoldenCase {
  const char* Name;
  std::vector<TRecording> Sessions;  // session n replays recording n
  // Keys of ORB_App.ini beyond the sessions' open strings: options,
  // session settings, log definitions.
  std::string Settings;
  // The sessions' intervals as the last run saved them; without, the
  // sessions learn them from their first reports.
  bool StoredIntervals = true;
  // The computer's clock at the start (local time = UTC here).
  TDateTimeParts Start{2026, 12, 9, 10, 15, 20, 600};
};

void PrintTo(const TGoldenCase& golden, std::ostream* os) { *os << golden.Name; }

class LogGoldenTest : public ::testing::TestWithParam<TGoldenCase> {
 protected:
  // Writes the recordings and the settings, restores the sessions and
  // their log definitions in a core, and replays until every file has
  // ended and its session is closed.
  void Replay(const TGoldenCase& golden) {
    TDateTime start;
    ASSERT_TRUE(TryEncodeDateTime(golden.Start, start));
    clock.SetUtc(start);
    std::string ini = "INI_Version=6\r\nSessionCount=" + IntToText(golden.Sessions.size()) + "\r\n";
    for (size_t n = 0; n < golden.Sessions.size(); ++n) {
      const fs::path path = folder / ("rec" + IntToText(n) + "_QM_ReportData.txt");
      test::WriteFile(path, RecordingText(golden.Sessions[n]));
      const std::string prefix = "Session_" + IntToText(n) + "_";
      // The replay waits one interval after each data report.
      ini += prefix + "OpenString=" + path.string() + " WAIT_INTERVAL\r\n";
      ini += prefix + "ConnectionType=4\r\n";
      if (golden.StoredIntervals) {
        ini += prefix + "Interval=" + IntToText(golden.Sessions[n].IntervalMs) + "\r\n";
      }
    }
    std::string settings = golden.Settings;
    for (size_t at = settings.find("<folder>"); at != std::string::npos;
         at = settings.find("<folder>", at)) {
      settings.replace(at, 8, folder.Path().string());
    }
    ini += settings;
    test::WriteFile(folder / "ORB_App.ini", ini);

    TAppCoreServices services;
    services.Home = folder.Path();
    services.Clock = &clock;
    services.ReceiveEvent = std::make_shared<TEvent>(clock);
    TAppCore core(services);
    core.SetOnNewMessage([this](const TMessageItem& item) {
      if (item.Code == 91 || item.Code == 92 || item.MsgType == mtError) {
        messages.push_back(IntToText(item.Code) + " " + item.Text);
      }
    });
    ASSERT_EQ(core.RestoreSessions(), static_cast<int>(golden.Sessions.size()));
    for (size_t n = 0; n < golden.Sessions.size(); ++n) {
      std::string error;
      ASSERT_TRUE(core.Session(static_cast<int>(n))->OpenDevice(error)) << error;
    }
    // The report thread's passes, on this thread, so the order in which
    // the sessions report is always the same; the tick in between asks
    // for serial numbers and closes sessions whose file ended.
    for (int step = 0; step < 100'000; ++step) {
      bool taken = false;
      for (int n = 0; n < core.SessionCount(); ++n) {
        TQMSessionItem* session = core.Session(n);
        if (session != nullptr && session->GetReport()) taken = true;
      }
      core.Tick();
      bool running = false;
      for (int n = 0; n < core.SessionCount(); ++n) {
        running = running || (core.Session(n) != nullptr && core.Session(n)->IsRunning());
      }
      if (!running) break;
      if (!taken) clock.Advance(kStepMs);
    }
    core.ShutDown();
    core.FlushMessages();
  }

  // Every log file written, by name, with the test folder's path replaced
  // by "<folder>".
  std::vector<std::pair<std::string, std::string>> LogFiles() const {
    std::vector<std::pair<std::string, std::string>> files;
    if (!fs::exists(folder / "logs")) return files;
    for (const auto& entry : fs::directory_iterator(folder / "logs")) {
      const std::string name = entry.path().filename().string();
      std::string text = test::ReadFile(entry.path());
      const std::string root = folder.Path().string();
      for (size_t at = text.find(root); at != std::string::npos; at = text.find(root, at)) {
        text.replace(at, root.size(), "<folder>");
      }
      files.emplace_back(name, std::move(text));
    }
    std::sort(files.begin(), files.end());
    return files;
  }

  test::TTempFolder folder;
  TFakeClock clock;
  std::vector<std::string> messages;
};

// The first line where two texts differ, for the failure message.
std::string FirstDifference(const std::string& expected, const std::string& actual) {
  size_t line = 1;
  size_t start = 0;
  for (size_t i = 0; i < std::min(expected.size(), actual.size()); ++i) {
    if (expected[i] != actual[i]) {
      const size_t endE = expected.find('\n', i);
      const size_t endA = actual.find('\n', i);
      return "line " + std::to_string(line) + ":\n  golden: " +
             expected.substr(start, endE == std::string::npos ? endE : endE - start) +
             "\n  actual: " + actual.substr(start, endA == std::string::npos ? endA : endA - start);
    }
    if (expected[i] == '\n') {
      ++line;
      start = i + 1;
    }
  }
  return "lengths " + std::to_string(expected.size()) + " and " + std::to_string(actual.size());
}

TEST_P(LogGoldenTest, FilesMatchTheGoldenFiles) {
  const TGoldenCase& golden = GetParam();
  Replay(golden);
  const auto files = LogFiles();
  ASSERT_FALSE(files.empty()) << "no log file written";
  const fs::path expectedFolder = fs::path(ORB_LOG_GOLDEN) / golden.Name;
  const fs::path actualFolder = fs::path(ORB_LOG_GOLDEN_ACTUAL) / golden.Name;
  std::vector<std::string> names;
  for (const auto& [name, text] : files) {
    names.push_back(name);
    const fs::path expectedPath = expectedFolder / name;
    const std::string expected = fs::exists(expectedPath) ? test::ReadFile(expectedPath) : "";
    if (expected == text) continue;
    fs::create_directories(actualFolder);
    test::WriteFile(actualFolder / name, text);
    ADD_FAILURE() << name << " differs from " << expectedPath << " (written to "
                  << (actualFolder / name) << "), " << FirstDifference(expected, text);
  }
  // No golden file is left without its log file.
  std::vector<std::string> expectedNames;
  if (fs::exists(expectedFolder)) {
    for (const auto& entry : fs::directory_iterator(expectedFolder)) {
      expectedNames.push_back(entry.path().filename().string());
    }
  }
  std::sort(expectedNames.begin(), expectedNames.end());
  EXPECT_EQ(names, expectedNames);
  for (const std::string& message : messages) {
    EXPECT_TRUE(message.starts_with("91 ") || message.starts_with("92 ")) << message;
  }
}

// Session keys shared by the cases: names for the channels of session n.
std::string ChannelNames(int n, const std::string& names) {
  return "Session_" + IntToText(n) + "_Names=" + names + "\r\n";
}

// The keys of log definition n with `sources` sources, whose keys `simple`
// holds one a line without the definition's prefix.
std::string Definition(int n, const std::string& file, int sources, const std::string& simple,
                       const std::string& extra = "") {
  const std::string p = "Log_" + IntToText(n) + "_";
  std::string keys = p + "Count=" + IntToText(sources) + "\r\n" + p + "FileName=" + file + "\r\n";
  size_t start = 0;
  while (start < simple.size()) {
    const size_t end = simple.find('\n', start);
    keys += p + simple.substr(start, end - start) + "\r\n";
    start = end == std::string::npos ? simple.size() : end + 1;
  }
  keys += extra;
  return keys;
}

std::string Simple(int n, int session, uint32_t types, const std::string& channels,
                   int stringClass = 0, const std::string& cards = "") {
  const std::string p = "Simple" + IntToText(n) + "_";
  std::string keys = p + "SessionIndex=" + IntToText(session) + "\n" + p +
                     "StringClass=" + IntToText(stringClass) + "\n" + p +
                     "LogTypes=" + IntToText(types) + "\n" + p + "Enabled1=" + channels + "\n";
  if (!cards.empty()) keys += p + "Enabled3=" + cards + "\n";
  return keys;
}

const std::string kDeviceTime = "LogTimeSourceORC=True\r\nDecSepLog=.\r\n";

const std::vector<TRecording> kTwoRates = {TRecording{0x0600, 100, 30},
                                           TRecording{0x0900, 1000, 3, {10e6 - 0.5}}};
const std::string kTwoRatesDefinitions =
    "Log_DefsCount=2\r\n" +
    Definition(1, "<folder>/logs/Freq_AB_1.txt", 2,
               Simple(1, 0, 0x2, "1") + Simple(2, 1, 0x2, "1")) +
    Definition(2, "<folder>/logs/Freq_BA_2.txt", 2,
               Simple(1, 1, 0x2, "1") + Simple(2, 0, 0x2, "11"));

INSTANTIATE_TEST_SUITE_P(
    Log, LogGoldenTest,
    ::testing::Values(
        // Phase and frequency of channels 1 and 3 of one counter at 100 ms.
        TGoldenCase{
            "PhaseFrequency",
            {TRecording{}},
            kDeviceTime + "Session_0_FriendlyName=Lab\r\n" +
                ChannelNames(0, "Maser, GPS, Rubidium, ") + "Log_DefsCount=1\r\n" +
                Definition(1, "<folder>/logs/PhaseFreq_A_1.txt", 1, Simple(1, 0, 0x3, "101"))},
        // A at 100 ms and B at 1 s: with A first B repeats its report, with
        // B first every tenth report of A is taken.
        TGoldenCase{"TwoRates", kTwoRates, kDeviceTime + kTwoRatesDefinitions},
        // The same on a first run: the report factors follow the intervals
        // the first reports tell.
        TGoldenCase{"TwoRatesFirstRun", kTwoRates, kDeviceTime + kTwoRatesDefinitions, false},
        // Phase of channel 1 and the frequencies of two virtual channels of
        // the same counter: both parts start with the same report.
        TGoldenCase{"StandardAndVirtual",
                    {TRecording{}},
                    kDeviceTime + ChannelNames(0, "Maser, GPS, Rubidium, ") +
                        "Session_0_V_Names=Diff, Double, \r\nSession_0_V_1_Factors=1;-1;\r\n"
                        "Session_0_V_2_Factors=0;0;2;\r\nLog_DefsCount=1\r\n" +
                        Definition(1, "<folder>/logs/PhaseFreqAbsV_AA_1.txt", 2,
                                   Simple(1, 0, 0x1, "1") + Simple(2, 0, 0x800, "11", 3))},
        // The device time passes midnight before the computer's clock: its
        // date names the files and starts the next one.
        TGoldenCase{"NewDay",
                    {TRecording{0x0600, 100, 15, {10e6}}},
                    kDeviceTime + "Log_DefsCount=1\r\n" +
                        Definition(1, "<folder>/logs/Phase_A_1.txt", 1, Simple(1, 0, 0x1, "1")),
                    true,
                    {2026, 12, 9, 23, 59, 58, 600}},
        // Frequency of channel 2 and the second of two digital-input cards.
        TGoldenCase{
            "DigitalInputs",
            {TRecording{0x0600, 100, 15, {10e6, 10e6 + 0.25}, 2}},
            kDeviceTime + "Log_DefsCount=1\r\n" +
                Definition(1, "<folder>/logs/Freq_A_1.txt", 1, Simple(1, 0, 0x2, "01", 0, "01"))},
        // The sync time column at 50 ms, where every other report has none,
        // in a log with decimal commas.
        TGoldenCase{"SyncTime",
                    {TRecording{0x0500, 50, 25, {10e6, 10e6 + 0.25}}},
                    "LogTimeSourceORC=True\r\nDecSepLog=,\r\nLog_DefsCount=1\r\n" +
                        Definition(1, "<folder>/logs/Phase_A_1.txt", 1, Simple(1, 0, 0x1, "11"),
                                   "Log_1_Option=True\r\n")}),
    [](const ::testing::TestParamInfo<TGoldenCase>& param) {
      return std::string(param.param.Name);
    });

}  // namespace
}  // namespace orb
