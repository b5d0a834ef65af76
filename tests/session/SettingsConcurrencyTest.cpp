#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "session/ORB_DebugConf.h"
#include "session/ORB_Settings.h"
#include "support/TempFolder.h"

namespace orb {
namespace {

// Workers read the published snapshot while the main thread keeps changing
// the options; every snapshot a worker sees is one that was published whole.
TEST(SettingsConcurrency, WorkersReadSnapshotsWhileTheMainThreadPublishes) {
  test::TTempFolder folder;
  TORBSettings settings("", folder.Path().string());
  const TLogOptionsSnapshot& snapshot = settings.LogOptions();
  std::atomic<bool> done{false};
  std::atomic<int> torn{0};
  auto reader = [&] {
    while (!done.load()) {
      const auto options = snapshot.Current();
      const bool comma = options->LogTimeFormat.find(',') != std::string::npos;
      if (comma != (options->FormatSettingsLog.DecimalSeparator == ',')) ++torn;
    }
  };
  std::thread first(reader);
  std::thread second(reader);
  for (int i = 0; i < 2000; ++i) settings.SetDecSepLog(i % 2 == 0 ? ',' : '.');
  done = true;
  first.join();
  second.join();
  EXPECT_EQ(torn.load(), 0);
}

TEST(SettingsConcurrency, WorkersLogWhileTheMainThreadReloadsTheSwitches) {
  test::TTempFolder folder;
  const std::string path = folder / "ORB_DebugConf.ini";
  TDebugConf conf(path);
  conf.GetConfig();
  std::atomic<bool> done{false};
  std::thread worker([&] {
    while (!done.load()) {
      conf.Info(dcReportThread, "TReportThread.Execute");
      conf.Error(dcMenu, "dropped unless Menu is on");
      (void)conf.Active(dcSource);
    }
  });
  for (int i = 0; i < 200; ++i) {
    test::WriteFile(path, i % 2 == 0 ? "Menu=True\n" : "Menu=False\n");
    conf.UpdateConfig();
    conf.SetLogId(i % 2 == 0 ? -1 : 0);
  }
  done = true;
  worker.join();
  EXPECT_FALSE(conf.Enabled(dcMenu));
}

}  // namespace
}  // namespace orb
