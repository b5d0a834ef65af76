#pragma once
// Log definitions: which sources, value kinds, channels and digital-input
// cards go into one measurement log file, how it is named and whether it
// begins with a header. Kept in the settings under "Log_" + n + "_".

#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/DateTime.h"

namespace orb {

class TAppSettings;

// Which buffer of a source a definition reads.
enum TSamplerStringClass : int {
  sscStandard = 0,
  sscAvgShort = 1,
  sscAvgLong = 2,
  sscVirtual = 3,
  sscSpecial = 4,
};
std::string_view SamplerStringClassName(TSamplerStringClass value);

constexpr int kLogTypeCount = 18;
constexpr uint32_t kLogTypesCounter = 0x80CF;  // phase, frequency, differences, raw, ADEV, residual
constexpr uint32_t kLogTypesVirtual = 0x33C00;  // the virtual counter types
constexpr uint32_t kLogTypesLTV = 0x30;         // LTV and its differences
constexpr int kLogTypeLTV = 4;
constexpr int kLogTypeLTVDiff = 5;
constexpr int kLogTypeAvgShort = 8;
constexpr int kLogTypeAvgLong = 9;

// One log type (a bit of the type set).
struct TLogTypeInfo {
  std::string_view Caption;    // in the dialog
  std::string_view FileToken;  // in automatic file names
  std::string_view Title;      // column title; empty: none
  int Width;                   // characters per channel column
  int Slot;                    // 1-based report string that holds its columns
};
// Types 0..17; nothing for others.
const TLogTypeInfo* LogTypeInfo(int type);

constexpr int kLogEnabledRows = 4;
constexpr int kLogEnabledColumns = 24;
// Row 1: channels, row 2: the old linear-combination outputs, row 3:
// digital-input cards, row 4: kept only.
using TLogEnabledArray = std::array<std::array<bool, kLogEnabledColumns>, kLogEnabledRows>;

// One source of a log file.
class TSimpleLogDefinition {
 public:
  TSimpleLogDefinition() = default;
  TSimpleLogDefinition(int aSource, const TLogEnabledArray& aEnabled,
                       TSamplerStringClass aStringClass, bool aSourceCopy, uint32_t aTypes);

  int Source() const { return FSource; }
  bool SourceCopy() const { return FSourceCopy; }
  uint32_t LogTypes() const { return FTypes; }
  void SetLogTypes(uint32_t value) { FTypes = value; }
  TSamplerStringClass StringClass() const { return FStringClass; }
  void SetStringClass(TSamplerStringClass value) { FStringClass = value; }
  double ReportFactor() const { return FReportFactor; }
  void SetReportFactor(double value) { FReportFactor = value; }

  bool GetHasLogType(int aType) const;  // false outside 0..31
  void SetHasLogType(int aType);
  // Row 1..4, column 1..24; false outside.
  bool IsEnabled(int row, int column) const;
  void SetEnabled(int row, int column, bool value);
  bool AnyEnabled(int row) const;
  // 24 characters "0"/"1"; rows outside 1..4 give "" and are ignored. A
  // shorter text clears the rest of the row.
  std::string GetLogEnabledString(int row) const;
  void SetLogEnabledString(int row, std::string_view text);
  void UpdateSessionIndex(int oldIndex, int newIndex);

  void ReadSetting(TAppSettings& Settings, const std::string& Prefix);
  void SaveSettings(TAppSettings& Settings, const std::string& Prefix) const;
  std::string ToString() const;

 private:
  int FSource = 0;
  bool FSourceCopy = false;
  uint32_t FTypes = 0;
  TSamplerStringClass FStringClass = sscStandard;
  TLogEnabledArray FEnabled{};
  double FReportFactor = 1;
};

// One log file.
class TLogDefinition {
 public:
  static constexpr std::array<int64_t, 6> kFileSizes = {0,           134'217'728,   268'435'456,
                                                        536'870'912, 1'073'741'824, 2'147'483'648};

  TLogDefinition() = default;
  explicit TLogDefinition(std::unique_ptr<TSimpleLogDefinition> MainDefinition);

  void AddDefinition(std::unique_ptr<TSimpleLogDefinition> Definition);
  // Takes it out of the list and hands it back.
  std::unique_ptr<TSimpleLogDefinition> RemoveDefinition(int index);
  int GetCount() const { return static_cast<int>(FDefinitionList.size()); }
  // nullptr outside 0..GetCount()-1. The first is the main source.
  TSimpleLogDefinition* GetDefinition(int index) const;
  void UpdateSessionIndex(int oldIndex, int newIndex);

  // A source of session sIndex/sCopy has type aTypes (-1: any) and, for
  // row 1..4, a flag set in that row.
  bool HasDefinition(int sIndex, bool sCopy, int row, int aTypes) const;
  bool HasDefinitionMask(int sIndex, bool sCopy, uint32_t mask) const;
  bool HasStringClass(int sIndex, bool sCopy, TSamplerStringClass aClass) const;

  void ReadSetting(TAppSettings& Settings, const std::string& Prefix);
  void SaveSettings(TAppSettings& Settings, const std::string& Prefix) const;

  const std::string& FileName() const { return FFileName; }
  void SetFileName(std::string value) { FFileName = std::move(value); }
  bool PrependDate() const { return FPrependDate; }
  void SetPrependDate(bool value) { FPrependDate = value; }
  bool AddHeader() const { return FAddHeader; }
  void SetAddHeader(bool value) { FAddHeader = value; }
  bool Enabled() const { return FEnabled; }
  void SetEnabled(bool value) { FEnabled = value; }
  int64_t FileSize() const { return FFileSize; }
  void SetFileSize(int64_t value) { FFileSize = value < 0 ? 0 : value; }
  bool DifferentDevices() const { return FDifferentDevices; }
  void SetDifferentDevices(bool value) { FDifferentDevices = value; }
  bool Option() const { return FOption; }
  void SetOption(bool value) { FOption = value; }

 private:
  std::vector<std::unique_ptr<TSimpleLogDefinition>> FDefinitionList;
  std::string FFileName;
  bool FPrependDate = false;
  bool FAddHeader = true;
  bool FEnabled = true;
  int64_t FFileSize = 0;
  bool FDifferentDevices = false;
  bool FOption = false;
};

using TLogDefinitions = std::vector<std::unique_ptr<TLogDefinition>>;

// Every definition under "Log_" + n + "_" and "Log_DefsCount".
TLogDefinitions ReadLogDefinitions(TAppSettings& Settings);
// Removes every "Log_" key first, then numbers the definitions from 1.
void SaveLogDefinitions(TAppSettings& Settings,
                        const std::vector<const TLogDefinition*>& Definitions);
void SaveLogDefinitions(TAppSettings& Settings, const TLogDefinitions& Definitions);

// The file a definition writes on `date`: the configured name split into
// folder (`programFolder` when it has none), body and extension (".txt"
// when none), with "_" + YYMMDD + "_" + n after the body, or YYMMDD + "_" +
// n + "_" before it; n is the smallest number from `firstNumber` on whose
// file does not exist (a writer that keeps its last number need not probe
// from 1 again).
std::filesystem::path ActualLogFileName(const std::string& configured, bool prependDate,
                                        TDateTime date, const std::filesystem::path& programFolder,
                                        int firstNumber = 1);

}  // namespace orb
