#include "logging/App_LogDefinition.h"

#include <algorithm>

#include "platform/DateTimeFormat.h"
#include "platform/NumberFormat.h"
#include "session/App_Settings.h"

namespace orb {
namespace {

namespace fs = std::filesystem;

// Version formats up to 3 kept a single type under "LogType".
constexpr int32_t kSingleTypeFormat = 3;
constexpr int32_t kLogVersionFormat = 4;
// More sources than any configuration can have mark damaged settings.
constexpr int32_t kMaxSourcesPerFile = 128;

constexpr std::array<TLogTypeInfo, kLogTypeCount> kLogTypes = {{
    {"Phase", "Phase", "Phase [Pd]", 26, 1},
    {"Frequency", "Freq", "Frequency [Hz]", 22, 2},
    {"Phase Difference ( \xCE\x94 Chan. 1)", "PhaseDiff", "Phase Difference", 26, 3},
    {"Raw Data 1ms", "Raw1ms", "RawData 1ms", 16, 4},
    {"Time Interval", "LTV", "LTV", 15, 1},
    {"Interval Difference", "LTVdiff", "LTVDiff", 15, 2},
    {"Phase Difference ( \xCE\x94 Chan. n-1)", "PhaseDiff", "Phase Difference", 26, 7},
    {"ADEV", "ADEV", "", 0, 8},
    {"Short average", "AvgShort", "Short avg", 26, 1},
    {"Long average", "AvgLong", "Long avg", 26, 1},
    {"Phase Residual", "PhaseResV", "V Phase Residual [ns]", 26, 1},
    {"Frequency", "FreqAbsV", "V FreqAbs", 22, 2},
    {"Relative Frequency", "FreqRelV", "V FreqRel", 22, 3},
    {"ADEV", "ADEVV", "", 0, 4},
    {"Time Interval", "LTVV", "V LTV", 15, 1},
    {"Phase Residual", "PhaseRes", "Phase Residual [ns]", 26, 9},
    {"Phase Difference ( \xCE\x94 Chan. 1)", "PhaseDiffV", "V Phase Difference", 26, 5},
    {"Phase Difference ( \xCE\x94 Chan. n-1)", "PhaseDiffV", "V Phase Difference", 26, 6},
}};

bool ValidRow(int row) { return row >= 1 && row <= kLogEnabledRows; }

}  // namespace

std::string_view SamplerStringClassName(TSamplerStringClass value) {
  static constexpr std::string_view kNames[] = {"Standard", "AvgShort", "AvgLong", "Virtual",
                                                "Special"};
  const int index = static_cast<int>(value);
  return index >= 0 && index < 5 ? kNames[index] : std::string_view();
}

const TLogTypeInfo* LogTypeInfo(int type) {
  if (type < 0 || type >= kLogTypeCount) return nullptr;
  return &kLogTypes[static_cast<size_t>(type)];
}

// ---- One source -----------------------------------------------------------------------------

TSimpleLogDefinition::TSimpleLogDefinition(int aSource, const TLogEnabledArray& aEnabled,
                                           TSamplerStringClass aStringClass, bool aSourceCopy,
                                           uint32_t aTypes)
    : FSource(aSource),
      FSourceCopy(aSourceCopy),
      FTypes(aTypes),
      FStringClass(aStringClass),
      FEnabled(aEnabled) {}

bool TSimpleLogDefinition::GetHasLogType(int aType) const {
  return aType >= 0 && aType < 32 && (FTypes & (1u << aType)) != 0;
}

void TSimpleLogDefinition::SetHasLogType(int aType) {
  if (aType >= 0 && aType < 32) FTypes |= 1u << aType;
}

bool TSimpleLogDefinition::IsEnabled(int row, int column) const {
  if (!ValidRow(row) || column < 1 || column > kLogEnabledColumns) return false;
  return FEnabled[static_cast<size_t>(row - 1)][static_cast<size_t>(column - 1)];
}

void TSimpleLogDefinition::SetEnabled(int row, int column, bool value) {
  if (!ValidRow(row) || column < 1 || column > kLogEnabledColumns) return;
  FEnabled[static_cast<size_t>(row - 1)][static_cast<size_t>(column - 1)] = value;
}

bool TSimpleLogDefinition::AnyEnabled(int row) const {
  if (!ValidRow(row)) return false;
  for (const bool flag : FEnabled[static_cast<size_t>(row - 1)]) {
    if (flag) return true;
  }
  return false;
}

std::string TSimpleLogDefinition::GetLogEnabledString(int row) const {
  if (!ValidRow(row)) return {};
  std::string text;
  for (const bool flag : FEnabled[static_cast<size_t>(row - 1)]) text += flag ? '1' : '0';
  return text;
}

void TSimpleLogDefinition::SetLogEnabledString(int row, std::string_view text) {
  if (!ValidRow(row)) return;
  auto& flags = FEnabled[static_cast<size_t>(row - 1)];
  for (size_t i = 0; i < flags.size(); ++i) flags[i] = i < text.size() && text[i] == '1';
}

void TSimpleLogDefinition::UpdateSessionIndex(int oldIndex, int newIndex) {
  if (FSource == oldIndex) FSource = newIndex;
}

void TSimpleLogDefinition::ReadSetting(TAppSettings& Settings, const std::string& Prefix) {
  FSource = Settings.GetValue(Prefix + "SessionIndex", int32_t{0});
  FSourceCopy = Settings.GetValue(Prefix + "SourceCopy", false);
  const int32_t stringClass = Settings.GetValue(Prefix + "StringClass", int32_t{0});
  FStringClass = stringClass >= sscStandard && stringClass <= sscSpecial
                     ? static_cast<TSamplerStringClass>(stringClass)
                     : sscStandard;
  if (Settings.VersionFormat() <= kSingleTypeFormat) {
    FTypes = 0;
    SetHasLogType(Settings.GetValue(Prefix + "LogType", int32_t{0}));
  } else {
    FTypes = Settings.GetUValue(Prefix + "LogTypes", 0);
  }
  for (int row = 1; row <= kLogEnabledRows; ++row) {
    SetLogEnabledString(row, Settings.GetValue(Prefix + "Enabled" + IntToText(row), ""));
  }
}

void TSimpleLogDefinition::SaveSettings(TAppSettings& Settings, const std::string& Prefix) const {
  Settings.SetValue(Prefix + "SessionIndex", int32_t{FSource});
  Settings.SetValue(Prefix + "SourceCopy", FSourceCopy);
  Settings.SetValue(Prefix + "StringClass", int32_t{FStringClass});
  Settings.SetUValue(Prefix + "LogTypes", FTypes);
  for (int row = 1; row <= kLogEnabledRows; ++row) {
    Settings.SetValue(Prefix + "Enabled" + IntToText(row), GetLogEnabledString(row));
  }
}

std::string TSimpleLogDefinition::ToString() const {
  std::string text = "Session=" + IntToText(FSource) + "/" + (FSourceCopy ? "True" : "False") +
                     " StringClass=" + std::string(SamplerStringClassName(FStringClass)) +
                     " Types=" + IntToHex(FTypes, 8) +
                     " ReportFactor=" + FloatToShortestText(FReportFactor);
  for (int row = 1; row <= kLogEnabledRows; ++row) {
    text += " Enabled[" + IntToText(row) + "]=" + GetLogEnabledString(row);
  }
  return text;
}

// ---- One file -------------------------------------------------------------------------------

TLogDefinition::TLogDefinition(std::unique_ptr<TSimpleLogDefinition> MainDefinition) {
  AddDefinition(std::move(MainDefinition));
}

void TLogDefinition::AddDefinition(std::unique_ptr<TSimpleLogDefinition> Definition) {
  if (Definition) FDefinitionList.push_back(std::move(Definition));
}

std::unique_ptr<TSimpleLogDefinition> TLogDefinition::RemoveDefinition(int index) {
  if (index < 0 || index >= GetCount()) return nullptr;
  auto taken = std::move(FDefinitionList[static_cast<size_t>(index)]);
  FDefinitionList.erase(FDefinitionList.begin() + index);
  return taken;
}

TSimpleLogDefinition* TLogDefinition::GetDefinition(int index) const {
  if (index < 0 || index >= GetCount()) return nullptr;
  return FDefinitionList[static_cast<size_t>(index)].get();
}

void TLogDefinition::UpdateSessionIndex(int oldIndex, int newIndex) {
  for (const auto& definition : FDefinitionList) definition->UpdateSessionIndex(oldIndex, newIndex);
}

bool TLogDefinition::HasDefinition(int sIndex, bool sCopy, int row, int aTypes) const {
  for (const auto& definition : FDefinitionList) {
    if (definition->Source() != sIndex || definition->SourceCopy() != sCopy) continue;
    if (aTypes != -1 && !definition->GetHasLogType(aTypes)) continue;
    if (!ValidRow(row)) return true;
    if (definition->AnyEnabled(row)) return true;
  }
  return false;
}

bool TLogDefinition::HasDefinitionMask(int sIndex, bool sCopy, uint32_t mask) const {
  for (const auto& definition : FDefinitionList) {
    if (definition->Source() == sIndex && definition->SourceCopy() == sCopy &&
        (definition->LogTypes() & mask) != 0) {
      return true;
    }
  }
  return false;
}

bool TLogDefinition::HasStringClass(int sIndex, bool sCopy, TSamplerStringClass aClass) const {
  for (const auto& definition : FDefinitionList) {
    if (definition->Source() == sIndex && definition->SourceCopy() == sCopy &&
        definition->StringClass() == aClass) {
      return true;
    }
  }
  return false;
}

void TLogDefinition::ReadSetting(TAppSettings& Settings, const std::string& Prefix) {
  FDefinitionList.clear();
  const int32_t count = Settings.GetValue(Prefix + "Count", int32_t{0});
  for (int32_t n = 1; n <= count && n <= kMaxSourcesPerFile; ++n) {
    auto definition = std::make_unique<TSimpleLogDefinition>();
    definition->ReadSetting(Settings, Prefix + "Simple" + IntToText(n) + "_");
    FDefinitionList.push_back(std::move(definition));
  }
  FFileName = Settings.GetValue(Prefix + "FileName", "");
  FPrependDate = Settings.GetValue(Prefix + "PrependDate", false);
  FAddHeader = Settings.GetValue(Prefix + "AddHeader", true);
  FEnabled = Settings.GetValue(Prefix + "Enabled", true);
  int64_t size = 0;
  SetFileSize(TryTextToInt64(Settings.GetValue(Prefix + "FileSize", "0"), size) ? size : 0);
  FDifferentDevices = Settings.GetValue(Prefix + "DifferentDevices", false);
  FOption = Settings.GetValue(Prefix + "Option", false);
}

void TLogDefinition::SaveSettings(TAppSettings& Settings, const std::string& Prefix) const {
  Settings.SetValue(Prefix + "Count", int32_t{GetCount()});
  for (int n = 1; n <= GetCount(); ++n) {
    FDefinitionList[static_cast<size_t>(n - 1)]->SaveSettings(
        Settings, Prefix + "Simple" + IntToText(n) + "_");
  }
  Settings.SetValue(Prefix + "FileName", FFileName);
  Settings.SetValue(Prefix + "PrependDate", FPrependDate);
  Settings.SetValue(Prefix + "AddHeader", FAddHeader);
  Settings.SetValue(Prefix + "Enabled", FEnabled);
  Settings.SetValue(Prefix + "FileSize", IntToText(FFileSize));
  Settings.SetValue(Prefix + "DifferentDevices", FDifferentDevices);
  Settings.SetValue(Prefix + "Option", FOption);
}

// ---- The list and the file names -------------------------------------------------------------

TLogDefinitions ReadLogDefinitions(TAppSettings& Settings) {
  TLogDefinitions definitions;
  const int32_t count = Settings.GetValue("Log_DefsCount", int32_t{0});
  for (int32_t n = 1; n <= count; ++n) {
    auto definition = std::make_unique<TLogDefinition>();
    definition->ReadSetting(Settings, "Log_" + IntToText(n) + "_");
    definitions.push_back(std::move(definition));
  }
  return definitions;
}

void SaveLogDefinitions(TAppSettings& Settings,
                        const std::vector<const TLogDefinition*>& Definitions) {
  Settings.RemoveKeys("Log_");
  int n = 0;
  for (const TLogDefinition* definition : Definitions) {
    if (definition == nullptr) continue;
    definition->SaveSettings(Settings, "Log_" + IntToText(++n) + "_");
  }
  Settings.SetValue("Log_DefsCount", int32_t{n});
  Settings.SetVersionFormat(kLogVersionFormat);
}

void SaveLogDefinitions(TAppSettings& Settings, const TLogDefinitions& Definitions) {
  std::vector<const TLogDefinition*> list;
  for (const auto& definition : Definitions) list.push_back(definition.get());
  SaveLogDefinitions(Settings, list);
}

fs::path ActualLogFileName(const std::string& configured, bool prependDate, TDateTime date,
                           const fs::path& programFolder, int firstNumber) {
  const fs::path name(configured);
  const fs::path folder = name.has_parent_path() ? name.parent_path() : programFolder;
  const std::string body = name.stem().string();
  const std::string extension = name.has_extension() ? name.extension().string() : ".txt";
  const std::string day = FormatDateTime("YYMMDD", date);
  for (int n = std::max(1, firstNumber);; ++n) {
    const std::string number = IntToText(n);
    const fs::path candidate = folder / (prependDate ? day + "_" + number + "_" + body + extension
                                                     : body + "_" + day + "_" + number + extension);
    if (!fs::exists(candidate)) return candidate;
  }
}

}  // namespace orb
