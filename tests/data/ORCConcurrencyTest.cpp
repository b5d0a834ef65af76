#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "ORCTestSupport.h"
#include "data/ORC_DataManagement.h"

namespace orb {
namespace {

// Counts what it gets; the real sampler writes files under the store lock.
struct TCountingSampler : IDataSampler {
  void AddStrings(int, bool, const TReportStrings& s) override { Size += s[0].size(); }
  void AddStringsVirtual(int, bool, const TReportStrings& s) override { Size += s[1].size(); }
  void AddStringsSpecial(int, bool, const TReportStrings&) override {}
  void SetSessionSyncTime(int, bool, std::string_view) override {}
  void AddWarning(int, bool, std::string_view) override {}
  void UpdateSession(int, bool, int, std::string_view) override {}
  size_t Size = 0;
};

struct TCountingServer : IDataServerOutput {
  void AddServerLine(int, int, std::string_view) override { ++Lines; }
  size_t Lines = 0;
};

constexpr int kChannels = 8;
constexpr int kReports = 100000;

// Every channel measures the same phase, so every difference to channel 1
// is 0 and a virtual channel "ch a - ch b" has frequency 0.
TQM_ReportStruct Report(int i) {
  TQM_ReportPhases phases{};
  const Phase phase = Phase::Add(Phase{int64_t{10000000} * i, 0}, Phase{0, (i % 7) * 1e-4});
  for (int k = 0; k < kChannels; ++k) phases[k] = phase;
  TQM_ReportStruct report;
  report.SetPhases(test::kPhase1s, kChannels, phases);
  report.SetDeviceMs(int64_t{100} * i);
  return report;
}

TEST(ORCConcurrency, ViewsReadAndSettingsChangeWhileReportsAreStored) {
  TLogOptionsSnapshot options;
  TORC_DataManagement store(-1, 0, false, options);
  TCountingSampler sampler;
  TCountingServer server;
  store.SetSampler(&sampler);
  store.SetAddLogStrings(true);

  std::atomic<bool> done{false};
  std::atomic<int> implausible{0};
  std::atomic<int> reads{0};

  std::thread reportThread([&] {
    for (int i = 0; i < kReports; ++i) {
      store.ExtractReport(Report(i));
      if (i % 1000 == 0) {
        store.AddTimeStamp(i / 100);
        store.AddHeartbeat("7A10 00000001 00000002 00000003 00000004 0000000A 0001FFFE", i);
        store.AddODI("7A00  0000000F 000000F0");
      }
    }
    done = true;
  });

  std::thread reader([&] {
    TDoubleArray series;
    int startX = -1;
    while (!done.load()) {
      {
        auto lock = store.Lock();  // positions and values of one moment
        int anz = store.GetNewCount(startX, hsNone);
        const int x = store.GetNewX(anz, store.GetWriteX(hsNone), hsNone);
        for (int k = 1; k <= kChannels; ++k) {
          store.ReadSeries(TSeriesKind::PhaDiffPs, false, k, anz, x, series);
          for (const double d : series) implausible += d != 0;
          store.ReadSeries(TSeriesKind::FrequDiff, false, k, anz, x, series);
          store.ReadSeries(TSeriesKind::TheoPhaseDiffPs, false, k, anz, x, series);
        }
        store.ReadSeries(TSeriesKind::FrequDiff, true, 1, anz, x, series);
        startX = store.GetWriteX(hsNone);
      }
      for (const double d : store.GetLastPhaDiffPs(false)) implausible += d != 0 && d == d;
      store.GetLastFrequDiffRelative(true);
      store.GetLastTheoPhaseDiffPs(true);
      store.GetPhaseTrim(2, 0, 300, 5);
      for (const TTextModeORC mode :
           {tmPhase, tmPhaseDiff, tmFreqAbs, tmFreqRel, tmPhasePredecessor, tmPhaseResiduum}) {
        store.GetTextModeString(mode, 3);
        store.GetTextModeVirtualString(mode, 1);
        store.GetTextModeCaption(mode);
      }
      for (const TAllanMode am : {amFreq, amPhaseRes, amPhaseDiff}) {
        store.GetADEVCounts(am);
        store.GetAllanGraphicValues(am, 2);
        store.GetAllanPersistValues(am, 2);
        store.GetAllanYPowerMinMax(am, 2);
        store.CheckAllanMode(am);
      }
      store.GetNewCountTimeStamp(-1);
      store.GetHeartbeatString();
      store.GetESPTransmitBufferAmount();
      store.GetODI(1);
      store.HasClockAlarm(1);
      ++reads;
    }
  });

  // The main thread changes settings meanwhile.
  for (int i = 0; !done.load(); ++i) {
    store.SetNomFreq(1 + i % kChannels, 10e6 + i % 3);
    TChannelFactors factors{};
    factors[i % kChannels] = 1;
    factors[(i + 1) % kChannels] = -1;
    store.SetVirtualFactors(1 + i % 2, factors);
    store.SetAllanDecay(i % 5);
    store.ResetAllanPersist(i % 3 == 0 ? -1 : 2);
    store.SetSamplerLogTypes(i % 2 == 0 ? 0x3FFFF : 0);
    store.SetLocalServerRunning(i % 4 == 0);
    store.SetServerOutput(i % 4 == 0 ? &server : nullptr);
    store.SetSyncReset(i % 2 == 0 ? "0" : "");
    if (i % 50 == 0) store.PhaseDiffResetted();
    std::this_thread::yield();
  }
  reportThread.join();
  reader.join();
  EXPECT_EQ(implausible.load(), 0);
  EXPECT_GT(reads.load(), 0);
  EXPECT_EQ(store.ChannelCount(), kChannels);
  EXPECT_GT(sampler.Size, 0u);
}

}  // namespace
}  // namespace orb
