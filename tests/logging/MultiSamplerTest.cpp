// The multi-sampler with sessions played by the test: which report of each
// source lands on which line, when files open, restart and rotate, and what
// their lines hold.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "logging/ORB_MultiSampler.h"
#include "session/App_Settings.h"
#include "support/TempFolder.h"

namespace orb {
namespace {

class TFakeSession final : public ISamplerSession {
 public:
  TFakeSession(int index, int intervalMs, int channels) : FIndex(index), FIntervalMs(intervalMs) {
    FInfo.Letter = std::string(1, static_cast<char>('A' + index));
    FInfo.ConnectionString = "DemoData";
    FInfo.ModeText = "Phase";
    FInfo.IntervalText = std::to_string(intervalMs) + "ms";
    FInfo.ScramblerText = "off";
    FInfo.ChannelCount = channels;
    for (int k = 1; k <= 24; ++k)
      FInfo.ChannelNames[k - 1] = "ORC_" + FInfo.Letter + std::to_string(k);
  }
  int Index() const override { return FIndex; }
  bool IsCopy() const override { return false; }
  bool IsSensor() const override { return Sensor; }
  int IntervalMs() const override { return FIntervalMs; }
  int64_t SerialNumber() const override { return Serial; }
  TLogSourceInfo LogSourceInfo() const override {
    TLogSourceInfo info = FInfo;
    info.VirtualChannelCount = VirtualChannels;
    return info;
  }
  void SetSamplerLogTypes(uint32_t types) override { Types = types; }

  int64_t Serial = 4711;
  bool Sensor = false;
  int VirtualChannels = 0;
  uint32_t Types = 0;

 private:
  int FIndex;
  int FIntervalMs;
  TLogSourceInfo FInfo;
};

// A phase report of one channel: the value names the report.
TReportStrings Report(const std::string& value, const std::string& time) {
  TReportStrings strings;
  strings[0] = "1" + std::string(26 - value.size(), ' ') + value;
  strings[1] = std::string(22 - value.size(), ' ') + value;
  strings[9] = time;
  return strings;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t at = 0;
  while (at < text.size()) {
    const size_t end = text.find("\r\n", at);
    if (end == std::string::npos) break;
    lines.push_back(text.substr(at, end - at));
    at = end + 2;
  }
  return lines;
}

class MultiSamplerTest : public ::testing::Test {
 protected:
  MultiSamplerTest() {
    TLogOptions logOptions;
    logOptions.LogTimeSourceORC = true;  // the report's time text is the time column
    options.Publish(logOptions);
    sampler = std::make_unique<TORB_MultiSampler>(-1, clock, options, folder.Path(), 1000);
    sampler->SetOnMsg([this](int code, const std::string& text, int type) {
      messages.push_back(std::to_string(type) + " " + std::to_string(code) + " " + text);
    });
  }

  // Phase (and frequency) of channel 1 of each source.
  int Define(std::vector<int> sources, bool header, uint32_t types = 0x1) {
    auto definition = std::make_unique<TLogDefinition>();
    for (const int source : sources) {
      auto part = std::make_unique<TSimpleLogDefinition>(source, TLogEnabledArray{}, sscStandard,
                                                         false, types);
      part->SetLogEnabledString(1, "1");
      definition->AddDefinition(std::move(part));
    }
    definition->SetFileName((folder / "Phase.txt").string());
    definition->SetAddHeader(header);
    return sampler->AddDefinition(std::move(definition));
  }

  std::vector<std::string> FileLines(int dIndex) {
    return Lines(test::ReadFile(sampler->ActualFileName(dIndex)));
  }

  // Data lines only: header lines begin with "#".
  std::vector<std::string> DataLines(int dIndex) {
    std::vector<std::string> data;
    for (const std::string& line : FileLines(dIndex)) {
      if (line.empty() || line[0] != '#') data.push_back(line);
    }
    return data;
  }

  test::TTempFolder folder;
  TFakeClock clock;
  TLogOptionsSnapshot options;
  std::vector<std::string> messages;  // outlives the sampler, which closes files at its end
  std::unique_ptr<TORB_MultiSampler> sampler;
};

TEST_F(MultiSamplerTest, OneSourceWritesOneLinePerReport) {
  TFakeSession a(0, 100, 1);
  sampler->UpdateSessionList({&a});
  const int d = Define({0}, true);
  EXPECT_EQ(a.Types, 0x1u);
  for (int i = 1; i <= 3; ++i)
    sampler->AddStrings(0, false, Report(std::to_string(i) + ".5", "T" + std::to_string(i)));
  const std::vector<std::string> lines = FileLines(d);
  ASSERT_EQ(lines.size(), 17u);
  EXPECT_EQ(lines[1], "#Message:   First create");
  EXPECT_EQ(lines[4], "#Source:    [A]");
  EXPECT_EQ(lines[15], "T2 1" + std::string(23, ' ') + "2.5");
  EXPECT_EQ(lines[16], "T3 1" + std::string(23, ' ') + "3.5");
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0], "2 91 Log opened " + sampler->ActualFileName(d).string());
}

// Two counters send a time stamp every 100 ms and their reports at their
// own rates. A slower second source repeats its last report; a faster one
// is taken every tenth report.
TEST_F(MultiSamplerTest, SourcesAtOtherRatesAreRepeatedOrSubSampled) {
  TFakeSession fast(0, 100, 1);
  TFakeSession slow(1, 1000, 1);
  fast.Serial = 1;
  slow.Serial = 2;
  sampler->UpdateSessionList({&fast, &slow});
  const int d = Define({0, 1}, false);
  for (int tick = 0; tick < 30; ++tick) {
    sampler->AddTimeStamp(0, false, tick);
    sampler->AddTimeStamp(1, false, tick);
    if (tick % 10 == 0) sampler->AddStrings(1, false, Report("S" + std::to_string(tick / 10), "-"));
    sampler->AddStrings(0, false, Report("F" + std::to_string(tick), "-"));
  }
  const std::vector<std::string> lines = DataLines(d);
  ASSERT_GE(lines.size(), 20u);
  // Every line has the fast source's report of its tick and the slow
  // source's report of the same second.
  for (const std::string& line : lines) {
    const size_t f = line.find('F');
    const size_t s = line.find('S', f);
    ASSERT_NE(f, std::string::npos) << line;
    ASSERT_NE(s, std::string::npos) << line;
    const int tick = std::stoi(line.substr(f + 1));
    EXPECT_EQ(std::stoi(line.substr(s + 1)), tick / 10) << line;
  }
}

TEST_F(MultiSamplerTest, AFasterSecondSourceIsSubSampled) {
  TFakeSession slow(0, 1000, 1);
  TFakeSession fast(1, 100, 1);
  slow.Serial = 1;
  fast.Serial = 2;
  sampler->UpdateSessionList({&slow, &fast});
  const int d = Define({0, 1}, false);
  for (int tick = 0; tick < 40; ++tick) {
    sampler->AddTimeStamp(0, false, tick);
    sampler->AddTimeStamp(1, false, tick);
    sampler->AddStrings(1, false, Report("F" + std::to_string(tick), "-"));
    if (tick % 10 == 0) sampler->AddStrings(0, false, Report("S" + std::to_string(tick / 10), "-"));
  }
  const std::vector<std::string> lines = DataLines(d);
  ASSERT_GE(lines.size(), 3u);
  for (const std::string& line : lines) {
    const size_t s = line.find('S');
    const size_t f = line.find('F', s);
    ASSERT_NE(s, std::string::npos) << line;
    ASSERT_NE(f, std::string::npos) << line;
    EXPECT_EQ(std::stoi(line.substr(f + 1)), 10 * std::stoi(line.substr(s + 1))) << line;
  }
}

// The standard and the virtual channels of one counter, the virtual ones
// defined a while later: every line holds both parts of the same report.
TEST_F(MultiSamplerTest, PartsOfOneCounterStayInStep) {
  TFakeSession a(0, 100, 1);
  a.VirtualChannels = 1;
  sampler->UpdateSessionList({&a});
  auto definition = std::make_unique<TLogDefinition>();
  auto standard =
      std::make_unique<TSimpleLogDefinition>(0, TLogEnabledArray{}, sscStandard, false, 1);
  standard->SetLogEnabledString(1, "1");
  auto virtuals =
      std::make_unique<TSimpleLogDefinition>(0, TLogEnabledArray{}, sscVirtual, false, 1u << 11);
  virtuals->SetLogEnabledString(1, "1");
  definition->AddDefinition(std::move(standard));
  definition->AddDefinition(std::move(virtuals));
  definition->SetFileName((folder / "Both.txt").string());
  definition->SetAddHeader(false);
  const int d = sampler->AddDefinition(std::move(definition));
  for (int tick = 0; tick < 20; ++tick) {
    sampler->AddTimeStamp(0, false, tick);
    sampler->AddStrings(0, false, Report("P" + std::to_string(tick), "-"));
    if (tick < 5) continue;  // no virtual channels yet
    TReportStrings virtualReport;
    virtualReport[1] =
        std::string(22 - 3, ' ') + "V" + (tick < 10 ? "0" : "") + std::to_string(tick);
    sampler->AddStringsVirtual(0, false, virtualReport);
  }
  const std::vector<std::string> lines = DataLines(d);
  ASSERT_GE(lines.size(), 10u);
  int both = 0;
  for (const std::string& line : lines) {
    const size_t p = line.find('P');
    const size_t v = line.find('V', p);
    ASSERT_NE(p, std::string::npos) << line;
    ASSERT_NE(v, std::string::npos) << line;
    EXPECT_EQ(std::stoi(line.substr(p + 1)), std::stoi(line.substr(v + 1))) << line;
    ++both;
  }
  EXPECT_GE(both, 10) << lines.size();
}

TEST_F(MultiSamplerTest, EventsRestartFilesWithTheirMessage) {
  TFakeSession a(0, 100, 1);
  sampler->UpdateSessionList({&a});
  const int d = Define({0}, true);
  sampler->AddStrings(0, false, Report("1.5", "T1"));
  const auto first = sampler->ActualFileName(d);
  sampler->UpdateSession(0, false, 3, "");
  EXPECT_TRUE(sampler->ActualFileName(d).empty());
  sampler->AddStrings(0, false, Report("2.5", "T2"));
  EXPECT_NE(sampler->ActualFileName(d), first);
  EXPECT_EQ(FileLines(d)[1], "#Message:   Source A Measurement settings changed");
  EXPECT_EQ(messages[1],
            "2 92 Log closed (Source A Measurement settings changed): " + first.string());

  // Header on: a file without header closes, the next begins with one.
  sampler->SetAddHeader(d, false);
  sampler->AddStrings(0, false, Report("3.5", "T3"));
  sampler->AddWarning(0, false, "Clock alarm");
  EXPECT_EQ(FileLines(d), (std::vector<std::string>{"T3 1" + std::string(23, ' ') + "3.5",
                                                    "T3# # Clock alarm #"}));
  sampler->SetAddHeader(d, true);
  sampler->AddStrings(0, false, Report("4.5", "T4"));
  EXPECT_EQ(FileLines(d)[1], "#Message:   Header changed");
}

// A line whose numbers use another decimal separator starts a new file and
// is its first line.
TEST_F(MultiSamplerTest, ADecimalSeparatorChangeStartsANewFile) {
  TFakeSession a(0, 100, 1);
  sampler->UpdateSessionList({&a});
  const int d = Define({0}, false);
  sampler->AddStrings(0, false, Report("1.5", "T1"));
  const auto first = sampler->ActualFileName(d);
  sampler->AddStrings(0, false, Report("2,5", "T2"));
  EXPECT_NE(sampler->ActualFileName(d), first);
  EXPECT_EQ(DataLines(d), (std::vector<std::string>{"T2 1" + std::string(23, ' ') + "2,5"}));
  EXPECT_EQ(Lines(test::ReadFile(first)).size(), 1u);
}

TEST_F(MultiSamplerTest, SizeLimitAndANewDayRotate) {
  TFakeSession a(0, 100, 1);
  sampler->UpdateSessionList({&a});
  auto definition = std::make_unique<TLogDefinition>();
  auto part = std::make_unique<TSimpleLogDefinition>(0, TLogEnabledArray{}, sscStandard, false, 1);
  part->SetLogEnabledString(1, "1");
  definition->AddDefinition(std::move(part));
  definition->SetFileName((folder / "Sized.txt").string());
  definition->SetAddHeader(false);
  definition->SetFileSize(90);  // lines of 32 bytes: the fourth goes into the next file
  const int d = sampler->AddDefinition(std::move(definition));
  std::vector<std::string> names;
  for (int i = 1; i <= 4; ++i) {
    sampler->AddStrings(0, false, Report(std::to_string(i) + ".5", "T" + std::to_string(i)));
    names.push_back(sampler->ActualFileName(d).filename().string());
  }
  EXPECT_EQ(names, (std::vector<std::string>{"Sized_260101_1.txt", "Sized_260101_1.txt",
                                             "Sized_260101_1.txt", "Sized_260101_2.txt"}));
  clock.Advance(24 * 3600 * 1000);
  clock.SetUtc(DateTimeFromUnixMs(1'767'225'600'000 + 24 * 3600 * 1000));
  sampler->AddStrings(0, false, Report("5.5", "T5"));
  EXPECT_EQ(sampler->ActualFileName(d).filename().string(), "Sized_260102_1.txt");
}

// A source whose partner never reports fills its buffer; the strings that
// make room are accounted for and the file says data were lost.
TEST_F(MultiSamplerTest, ABufferOverflowIsALossOfData) {
  TFakeSession a(0, 100, 1);
  TFakeSession b(1, 100, 1);
  b.Sensor = true;
  sampler->UpdateSessionList({&a, &b});
  const int d = Define({0, 1}, true);
  for (int i = 0; i < 150; ++i) sampler->AddStrings(0, false, Report("A" + std::to_string(i), "T"));
  EXPECT_TRUE(sampler->ActualFileName(d).empty());
  sampler->AddStrings(1, false, Report("B0", "T"));
  const std::vector<std::string> lines = FileLines(d);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines[1], "#Message:   Loss of data");
  const std::vector<std::string> data = DataLines(d);
  ASSERT_EQ(data.size(), 1u);
  EXPECT_NE(data[0].find("A149"), std::string::npos) << data[0];
  EXPECT_NE(data[0].find("B0"), std::string::npos) << data[0];
}

// Old definitions logged linear combinations; those became virtual
// channels, which the definitions now log as virtual frequencies.
TEST_F(MultiSamplerTest, LinearCombinationOutputsBecomeVirtualChannels) {
  TFakeSession a(0, 100, 1);
  sampler->UpdateSessionList({&a});
  auto definition = std::make_unique<TLogDefinition>();
  auto part = std::make_unique<TSimpleLogDefinition>(0, TLogEnabledArray{}, sscStandard, false, 3);
  part->SetLogEnabledString(1, "1");
  part->SetLogEnabledString(2, "11");
  definition->AddDefinition(std::move(part));
  definition->SetFileName((folder / "Old.txt").string());
  sampler->AddDefinition(std::move(definition));
  sampler->TransformLinComb(0, 2, 3);
  TAppSettings settings;
  sampler->SaveSettings(settings);
  EXPECT_EQ(settings.GetValue("Log_1_Count", int32_t{0}), 2);
  EXPECT_EQ(settings.GetValue("Log_1_Simple1_Enabled2", ""), std::string(24, '0'));
  EXPECT_EQ(settings.GetValue("Log_1_Simple2_StringClass", int32_t{0}), int32_t{sscVirtual});
  EXPECT_EQ(settings.GetUValue("Log_1_Simple2_LogTypes", 0), 1u << 11);
  EXPECT_EQ(settings.GetValue("Log_1_Simple2_Enabled1", ""), "011" + std::string(21, '0'));
}

// Definitions come back from the settings; one whose folder cannot be made
// writes into the log root instead.
TEST_F(MultiSamplerTest, SettingsKeepDefinitionsAndMoveUnwritableFolders) {
  Define({0}, true);
  TAppSettings settings;
  sampler->SaveSettings(settings);
  settings.SetValue("Log_DefsCount", int32_t{2});
  settings.SetValue("Log_2_Count", int32_t{1});
  settings.SetValue("Log_2_Simple1_LogTypes", int32_t{1});
  settings.SetValue("Log_2_FileName", std::string("/proc/no-such-folder/Lost.txt"));

  TORB_MultiSampler read(-1, clock, options, folder.Path());
  read.ReadSettings(settings, folder / "root");
  EXPECT_EQ(read.DefinitionCount(), 2);
  EXPECT_GE(read.FindDefinition((folder / "Phase.txt").string()), 0);
  EXPECT_GE(read.FindDefinition((folder / "root" / "Lost.txt").string()), 0);
}

}  // namespace
}  // namespace orb
