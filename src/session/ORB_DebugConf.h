#pragma once
// The debug configuration "ORB_DebugConf.ini": fifteen switches that decide
// which categories of debug lines reach the application's debug log.
//
// Info, Warning and Error may be called from any thread; they read only the
// switches and the log id, which are atomics. Everything else belongs to the
// main thread.

#include <array>
#include <atomic>
#include <exception>
#include <string>
#include <string_view>

#include "session/App_Settings.h"

namespace orb {

enum TDebugCategory : int {
  dcAlways = 0,  // written whatever the switches say
  dcAllanChild = 1,
  dcChildWin = 2,
  dcGraphicChild = 3,
  dcInfoChild = 4,
  dcMain = 5,
  dcMenu = 6,
  dcMessages = 7,
  dcSampler = 8,
  dcSource = 9,
  dcSync = 10,
  dcTextChild = 11,
  dcUserInput = 12,
  dcReportThread = 13,
  dcSteering = 14,
  dcAllanData = 15,
};

class TDebugConf : public TAppSettings {
 public:
  static constexpr int kCategoryCount = 15;

  // "ORB_DebugConf.ini" in the program's folder.
  static std::string DefaultFileName();

  // Loads `IniFileName` unless it is empty; the switches stay off until
  // GetConfig reads them.
  explicit TDebugConf(const std::string& IniFileName);

  void GetConfig();
  // Reloads the file and reads the switches again.
  void UpdateConfig();
  bool GetDebugFlag(int i) const;  // false outside 1..15

  int LogId() const { return FLogId.load(std::memory_order_relaxed); }
  void SetLogId(int Id) { FLogId.store(Id, std::memory_order_relaxed); }

  // True when the switches let lines of `category` through.
  bool Enabled(int category) const { return category == dcAlways || GetDebugFlag(category); }
  // True when a line of `category` would be written; lets callers skip
  // building a costly text.
  bool Active(int category) const;
  void Info(int category, std::string_view text) const;
  void Warning(int category, std::string_view text) const;
  void Error(int category, std::string_view text) const;
  void Error(std::string_view text, const std::exception& exception) const;

 private:
  std::array<std::atomic<bool>, kCategoryCount> FDebugFlags{};
  std::atomic<int> FLogId{-1};
};

}  // namespace orb
