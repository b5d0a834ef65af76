#include "session/ORB_DebugConf.h"

#include "logging/LogUnit.h"
#include "platform/Files.h"

namespace orb {

namespace {

struct TSwitch {
  const char* Key;
  bool Default;
};

constexpr std::array<TSwitch, TDebugConf::kCategoryCount> kSwitches = {{
    {"AllanChild", true},
    {"ChildWin", true},
    {"GraphicChild", true},
    {"InfoChild", true},
    {"Main", true},
    {"Menu", false},
    {"Messages", true},
    {"Sampler", false},
    {"Source", true},
    {"Sync", true},
    {"TextChild", true},
    {"UserInput", true},
    {"ReportThread", true},
    {"Steering", true},
    {"AllanData", false},
}};

}  // namespace

std::string TDebugConf::DefaultFileName() {
  return (ProgramFolder() / "ORB_DebugConf.ini").string();
}

TDebugConf::TDebugConf(const std::string& IniFileName) {
  if (!IniFileName.empty()) LoadFromFile(IniFileName);
}

void TDebugConf::GetConfig() {
  for (size_t i = 0; i < kSwitches.size(); ++i) {
    FDebugFlags[i].store(GetValue(kSwitches[i].Key, kSwitches[i].Default),
                         std::memory_order_relaxed);
  }
}

void TDebugConf::UpdateConfig() {
  Clear();
  if (!Filename().empty()) LoadFromFile(Filename());
  GetConfig();
}

bool TDebugConf::GetDebugFlag(int i) const {
  if (i < 1 || i > kCategoryCount) return false;
  return FDebugFlags[static_cast<size_t>(i - 1)].load(std::memory_order_relaxed);
}

bool TDebugConf::Active(int category) const { return Enabled(category) && LogActive(LogId()); }

void TDebugConf::Info(int category, std::string_view text) const {
  if (Enabled(category)) LogDebug(LogId(), text);
}

void TDebugConf::Warning(int category, std::string_view text) const {
  if (Enabled(category)) LogWarning(LogId(), text);
}

void TDebugConf::Error(int category, std::string_view text) const {
  if (Enabled(category)) LogErrorText(LogId(), text);
}

void TDebugConf::Error(std::string_view text, const std::exception& exception) const {
  LogException(LogId(), text, exception);
}

}  // namespace orb
