#include "session/ORB_Settings.h"

#include <algorithm>
#include <cmath>

#include "platform/Files.h"

namespace orb {

namespace {

constexpr int kLatestVersionFormat = 6;
constexpr std::array<const char*, 6> kNomFreqKeys = {
    "NomFreq1_4", "NomFreq5_8", "NomFreq9_12", "NomFreq13_16", "NomFreq17_20", "NomFreq21_24"};
constexpr int kChannelsPerKey = 4;
constexpr std::string_view kNomFreqSeparator = "; ";

std::string WithTrailingDelimiter(std::string folder) {
  if (folder.empty() || folder.back() != '/') folder += '/';
  return folder;
}

}  // namespace

std::string TORBSettings::DefaultFileName() { return (ProgramFolder() / "ORB_App.ini").string(); }

TORBSettings::TORBSettings(const std::string& IniFileName)
    : TORBSettings(IniFileName, ProgramFolder().string()) {}

TORBSettings::TORBSettings(const std::string& IniFileName, const std::string& ExeFolder)
    : FExePath(WithTrailingDelimiter(ExeFolder)) {
  if (!IniFileName.empty()) LoadFromFile(IniFileName);
  if (GetVersionFormat() == 0) SetVersionFormat(kLatestVersionFormat);

  FFormatSettingsWin = FormatSettings();
  FFormatSettingsLog = FormatSettings();
  const char decimalSeparator = FormatSettings().DecimalSeparator;
  ApplyDecSepWin(GetValue("DecSepWin", decimalSeparator));
  ApplyDecSepLog(GetValue("DecSepLog", decimalSeparator));
  // From here on this file's floating-point values use the log separator.
  SetFormatSettings(FFormatSettingsLog);

  FTempUnit = GetValue("TempUnit", int32_t{0});
  FMailIsDefault = GetValue("eMail_isDefault", true);
  // The built-in and the configured mail-server logins join here together
  // with the password cipher of the mail sender.

  FGlobalNomFrequ = GetValue("GlobalNomFrequ", false);
  ReadNomFrequs();

  const std::string testOptions = GetValue("TestOptions", "00000000");
  for (size_t i = 0; i < std::min<size_t>(testOptions.size(), 8); ++i) {
    if (testOptions[i] == '1') FTestOptions |= static_cast<uint8_t>(1u << i);
  }
  PublishLogOptions();
}

void TORBSettings::SetDecSepWin(char Separator) {
  ApplyDecSepWin(Separator);
  PublishLogOptions();
}

bool TORBSettings::SetDecSepLog(char Separator) {
  const bool timeFormatChanged = ApplyDecSepLog(Separator);
  PublishLogOptions();
  return timeFormatChanged;
}

void TORBSettings::ApplyDecSepWin(char Separator) {
  if (Separator != '.' && Separator != ',') return;
  FFormatSettingsWin = NumberFormat::WithDecimalSeparator(Separator);
  SetValue("DecSepWin", std::string(1, Separator));
}

bool TORBSettings::ApplyDecSepLog(char Separator) {
  if (Separator != '.' && Separator != ',') return false;
  const char previous = FFormatSettingsLog.DecimalSeparator;
  FFormatSettingsLog = NumberFormat::WithDecimalSeparator(Separator);
  SetValue("DecSepLog", std::string(1, Separator));
  bool timeFormatChanged = false;
  if (Separator != previous) {
    std::string format = LogTimeFormat();
    const size_t at = format.find(previous);
    if (at != std::string::npos) {
      format[at] = Separator;
      SetValue("LogTimeFormat", format);
      timeFormatChanged = true;
    }
  }
  return timeFormatChanged;
}

double TORBSettings::GetNomFreq(int kanal) const {
  if (kanal < 1 || kanal > kNomFreqChannels) return 0;
  return FNom_Frequ[static_cast<size_t>(kanal - 1)];
}

void TORBSettings::SetNomFreq(int kanal, double Value) {
  if (kanal >= 1 && kanal <= kNomFreqChannels) FNom_Frequ[static_cast<size_t>(kanal - 1)] = Value;
  SaveNomFrequs();
}

void TORBSettings::SaveNomFrequs() { SaveNomFreqKeys(*this, "", FNom_Frequ, FFormatSettingsWin); }

void TORBSettings::ReadNomFrequs() { ReadNomFreqKeys(*this, "", FNom_Frequ); }

void ReadNomFreqKeys(TAppSettings& Settings, std::string_view Prefix,
                     std::array<double, 24>& values) {
  for (size_t key = 0; key < kNomFreqKeys.size(); ++key) {
    const std::string text = Settings.GetValue(std::string(Prefix) + kNomFreqKeys[key], "");
    std::string_view rest = text;
    for (size_t i = 0; i < kChannelsPerKey; ++i) {
      const size_t end = rest.find(kNomFreqSeparator);
      const std::string_view item = rest.substr(0, end);
      rest = end == std::string_view::npos ? std::string_view()
                                           : rest.substr(end + kNomFreqSeparator.size());
      double value = 0;
      const std::string normalized =
          NormalizeDecimalSeparator(item, Settings.FormatSettings().DecimalSeparator);
      // A nominal frequency that is not a finite number counts as unset.
      if (!TryTextToFloat(normalized, value, Settings.FormatSettings()) || !std::isfinite(value)) {
        value = 0;
      }
      values[key * kChannelsPerKey + i] = value;
    }
  }
}

void SaveNomFreqKeys(TAppSettings& Settings, std::string_view Prefix,
                     const std::array<double, 24>& values, const NumberFormat& format) {
  for (size_t key = 0; key < kNomFreqKeys.size(); ++key) {
    std::string text;
    for (size_t i = 0; i < kChannelsPerKey; ++i) {
      text += FloatToFixedWidth(values[key * kChannelsPerKey + i], 22, 11, format);
      text += kNomFreqSeparator;
    }
    Settings.SetValue(std::string(Prefix) + kNomFreqKeys[key], text);
  }
}

bool TORBSettings::GetTestOption(int i) const {
  return i >= 0 && i < 8 && (FTestOptions & (1u << i)) != 0;
}

const char* TORBSettings::TempUnitString() const {
  return FTempUnit == 0 ? "\xC2\xB0"
                          "C"
                        : "\xC2\xB0"
                          "F";
}

void TORBSettings::SetTempUnit(int32_t Value) {
  FTempUnit = Value;
  SetValue("TempUnit", Value);
  PublishLogOptions();
}

void TORBSettings::SetMailIsDefault(bool Value) {
  FMailIsDefault = Value;
  SetValue("eMail_isDefault", Value);
}

void TORBSettings::SetGlobalNomFrequ(bool Value) {
  FGlobalNomFrequ = Value;
  SetValue("GlobalNomFrequ", Value);
}

bool TORBSettings::AppDebugLog(bool ProfessionalMode) {
  return GetValue("Debug_LogMain", ProfessionalMode);
}

void TORBSettings::SetAppDebugLog(bool Value) { SetValue("Debug_LogMain", Value); }

std::string TORBSettings::DebugRootFolder() {
  return GetValue("DebugRootFolder", FExePath + "Debug/");
}

void TORBSettings::SetDebugRootFolder(const std::string& Folder) {
  SetValue("DebugRootFolder", Folder);
}

std::string TORBSettings::LogRootFolder() { return GetValue("LogRootFolder", FExePath + "Logs/"); }

void TORBSettings::SetLogRootFolder(const std::string& Folder) {
  SetValue("LogRootFolder", Folder);
}

std::string TORBSettings::LogTimeFormat() {
  return GetValue("LogTimeFormat",
                  std::string("YYMMDD HHNNSS") + FFormatSettingsLog.DecimalSeparator + "ZZZ");
}

void TORBSettings::SetLogTimeFormat(const std::string& Format) {
  SetValue("LogTimeFormat", Format);
  PublishLogOptions();
}

bool TORBSettings::LogTimeSourceORC() { return GetValue("LogTimeSourceORC", false); }

void TORBSettings::SetLogTimeSourceORC(bool Value) {
  SetValue("LogTimeSourceORC", Value);
  PublishLogOptions();
}

bool TORBSettings::LogTimeZoneSystem() { return GetValue("LogTimeZoneSystem", false); }

void TORBSettings::SetLogTimeZoneSystem(bool Value) {
  SetValue("LogTimeZoneSystem", Value);
  PublishLogOptions();
}

void TORBSettings::PublishLogOptions() {
  TLogOptions options;
  options.FormatSettingsLog = FFormatSettingsLog;
  options.FormatSettingsWin = FFormatSettingsWin;
  options.LogTimeFormat = LogTimeFormat();
  options.LogTimeSourceORC = LogTimeSourceORC();
  options.LogTimeZoneSystem = LogTimeZoneSystem();
  options.TempUnit = FTempUnit;
  FLogOptions.Publish(std::move(options));
}

}  // namespace orb
