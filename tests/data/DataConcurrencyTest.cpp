#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "data/LTV_DataManagement.h"
#include "platform/NumberFormat.h"

namespace orb {
namespace {

// A sampler that reads the calibration for its file header while the store
// lock is held, as the real one does when it opens a log file.
struct THeaderReadingSampler : IDataSampler {
  void AddStrings(int, bool, const TReportStrings&) override {
    const TCalibrationData c = Store->GetCalibrationValues();
    Sum += c[1];
  }
  void AddStringsVirtual(int, bool, const TReportStrings&) override {}
  void AddStringsSpecial(int, bool, const TReportStrings&) override {}
  void SetSessionSyncTime(int, bool, std::string_view) override {}
  void AddWarning(int, bool, std::string_view) override {}
  void UpdateSession(int, bool, int, std::string_view) override {}
  TLTV_DataManagement* Store = nullptr;
  double Sum = 0;
};

std::string Line(int value) {
  std::string field = FloatToFixed(value, 2);
  field.insert(0, 13 - field.size(), ' ');
  std::string line = "7900 ";
  for (int k = 0; k < 8; ++k) line += field + " ";
  return line;
}

// Every channel of a line carries the same value and the fixed calibration is
// 0 or 1 per channel, so every difference to channel 1 is 0 or -1.
bool PlausibleDiff(double d) { return d == 0 || d == -1; }

TEST(DataConcurrency, ViewsReadWhileReportsAndCalibrationChange) {
  TLogOptionsSnapshot options;
  TLTV_DataManagement store(-1, 0, false, options);
  THeaderReadingSampler sampler;
  sampler.Store = &store;
  store.SetSampler(&sampler);
  store.SetAddLogStrings(true);

  std::atomic<bool> done{false};
  std::atomic<int> implausible{0};

  std::thread reader([&] {
    int startX = -1;
    while (!done.load()) {
      auto lock = store.Lock();  // one consistent view of positions and values
      const int n = store.GetNewCount(startX, hsNone);
      int anz = n;
      const int x = store.GetNewX(anz, store.GetWriteX(hsNone), hsNone);
      for (double d : store.GetLTVDiff(false, 3, anz, x)) implausible += !PlausibleDiff(d);
      for (double d : store.GetLastLTVDiff(false)) implausible += !PlausibleDiff(d);
      lock.unlock();
      store.GetTextModeString(tmLTVDiff, 2);
      store.GetTextModeVirtualString(tmLTV, 1);
      store.GetVirtual(tmLTVDiff, 1, x);
      store.GetCalibrateCalculated(2);
      store.Sync();
      startX = store.GetWriteX(hsNone);
    }
  });

  std::thread settings([&] {
    for (int i = 0; i < 300 && !done.load(); ++i) {
      TCalibrationData c{};
      for (size_t k = 1; k < c.size(); ++k) c[k] = (i + k) % 2;
      store.SetCalibrationData(c);
      TChannelFactors f{};
      f[i % 8] = 1;
      f[(i + 1) % 8] = -1;
      store.SetVirtualFactors(1 + i % 3, f);
      store.SetSyncReset(i % 2 == 0 ? "0" : "");
      store.SetSamplerLogTypes(static_cast<uint32_t>(i));
      store.SetScaleFactor(hsShort, 1 + i % 4);
    }
  });

  for (int i = 1; i <= 20000; ++i) {
    ASSERT_TRUE(store.AddLTV(Line(i % 1000)));
    if (i % 1000 == 0) store.AddCalibration("7901;0;0.5;0.25");
  }
  done = true;
  reader.join();
  settings.join();
  EXPECT_EQ(implausible.load(), 0);
  EXPECT_GT(store.GetNewCount(-1, hsNone), 0);
}

}  // namespace
}  // namespace orb
