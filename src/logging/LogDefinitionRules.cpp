#include "logging/LogDefinitionRules.h"

#include <algorithm>

namespace orb {

std::string LogPanelName(std::string_view letter, TLogPanelPart part) {
  static constexpr std::string_view kPrefixes[] = {"ORC_", "ORCV_", "LTV_", "LTVV_", ""};
  return std::string(letter) + "_" + std::string(kPrefixes[static_cast<int>(part)]);
}

TSamplerStringClass LogPanelStringClass(TLogPanelPart part, uint32_t types) {
  if ((types & (1u << kLogTypeAvgShort)) != 0) return sscAvgShort;
  if ((types & (1u << kLogTypeAvgLong)) != 0) return sscAvgLong;
  if ((types & (1u << 3)) != 0) return sscSpecial;  // raw data at 1 ms
  if (part == TLogPanelPart::CounterVirtual || part == TLogPanelPart::LTVVirtual) return sscVirtual;
  return sscStandard;
}

std::unique_ptr<TLogDefinition> PhaseAndFrequencyDefinition(const std::vector<int>& sessions,
                                                            const std::string& fileName) {
  constexpr uint32_t kPhaseAndFrequency = (1u << 0) | (1u << 1);
  TLogEnabledArray channels{};
  channels[0].fill(true);
  auto definition = std::make_unique<TLogDefinition>();
  for (const int session : sessions) {
    definition->AddDefinition(std::make_unique<TSimpleLogDefinition>(
        session, channels, LogPanelStringClass(TLogPanelPart::Counter, kPhaseAndFrequency), false,
        kPhaseAndFrequency));
  }
  definition->SetFileName(fileName);
  definition->SetPrependDate(false);
  definition->SetAddHeader(true);
  definition->SetFileSize(0);
  definition->SetEnabled(true);
  return definition;
}

std::string AutoLogFileName(uint32_t firstPanelTypes, std::string_view letters, int number) {
  std::string name;
  for (int type = 0; type < kLogTypeCount; ++type) {
    if ((firstPanelTypes & (1u << type)) != 0) name += LogTypeInfo(type)->FileToken;
  }
  return name + "_" + std::string(letters) + "_" + std::to_string(number) + ".txt";
}

bool LogDefinitionComplete(const std::vector<const TSimpleLogDefinition*>& panels) {
  return !panels.empty() &&
         std::all_of(panels.begin(), panels.end(), [](const TSimpleLogDefinition* panel) {
           return panel->LogTypes() != 0 && (panel->AnyEnabled(1) || panel->AnyEnabled(3));
         });
}

int LogFileSizeIndex(int64_t bytes) {
  const auto& sizes = TLogDefinition::kFileSizes;
  const auto found = std::find(sizes.begin(), sizes.end(), bytes);
  return found == sizes.end() ? 0 : static_cast<int>(found - sizes.begin());
}

}  // namespace orb
