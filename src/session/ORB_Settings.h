#pragma once
// The application settings "ORB_App.ini": number formats of windows and log
// files, temperature unit, nominal frequencies, test options, folders and the
// log time options, beside every key that sessions, views, log definitions
// and notifications keep in the same file under their own prefixes.

#include <array>
#include <cstdint>
#include <string>

#include "platform/NumberFormat.h"
#include "session/App_Settings.h"
#include "session/LogOptions.h"

namespace orb {

// The six nominal-frequency keys "NomFreq1_4" .. "NomFreq21_24" under
// `Prefix` ("" for the program's own): four values each, "%22.11f" in
// `format`, each followed by "; ". Items that are missing or not finite
// numbers read as 0.
void ReadNomFreqKeys(TAppSettings& Settings, std::string_view Prefix,
                     std::array<double, 24>& values);
void SaveNomFreqKeys(TAppSettings& Settings, std::string_view Prefix,
                     const std::array<double, 24>& values, const NumberFormat& format);

class TORBSettings : public TAppSettings {
 public:
  static constexpr int kNomFreqChannels = 24;

  // "ORB_App.ini" in the program's folder.
  static std::string DefaultFileName();

  // Loads `IniFileName` unless it is empty. `ExeFolder` is the program's
  // folder, the base of the default debug and log folders.
  explicit TORBSettings(const std::string& IniFileName);
  TORBSettings(const std::string& IniFileName, const std::string& ExeFolder);

  // Only "." and "," are taken; the other one becomes the thousands
  // separator. SetDecSepLog moves the log time format to the new separator
  // and returns whether it had to.
  void SetDecSepWin(char Separator);
  bool SetDecSepLog(char Separator);

  // Channels 1..24; 0 outside.
  double GetNomFreq(int kanal) const;
  // Stores the value for channels 1..24 and rewrites all six keys in any case.
  void SetNomFreq(int kanal, double Value);
  void SaveNomFrequs();

  bool GetTestOption(int i) const;  // bits 0..7
  const char* TempUnitString() const;

  const std::string& ExePath() const { return FExePath; }
  const NumberFormat& FormatSettingsWin() const { return FFormatSettingsWin; }
  const NumberFormat& FormatSettingsLog() const { return FFormatSettingsLog; }
  int32_t TempUnit() const { return FTempUnit; }
  void SetTempUnit(int32_t Value);
  bool MailIsDefault() const { return FMailIsDefault; }
  void SetMailIsDefault(bool Value);
  bool GlobalNomFrequ() const { return FGlobalNomFrequ; }
  void SetGlobalNomFrequ(bool Value);

  // Keys read on demand; a missing one is appended with its default.
  bool AppDebugLog(bool ProfessionalMode);
  void SetAppDebugLog(bool Value);
  std::string DebugRootFolder();
  void SetDebugRootFolder(const std::string& Folder);
  std::string LogRootFolder();
  void SetLogRootFolder(const std::string& Folder);
  std::string LogTimeFormat();
  void SetLogTimeFormat(const std::string& Format);
  bool LogTimeSourceORC();
  void SetLogTimeSourceORC(bool Value);
  bool LogTimeZoneSystem();
  void SetLogTimeZoneSystem(bool Value);

  // What the report thread and other workers read instead of this store.
  const TLogOptionsSnapshot& LogOptions() const { return FLogOptions; }

 private:
  void ApplyDecSepWin(char Separator);
  bool ApplyDecSepLog(char Separator);
  void ReadNomFrequs();
  void PublishLogOptions();

  std::string FExePath;
  bool FMailIsDefault = true;
  NumberFormat FFormatSettingsWin;
  NumberFormat FFormatSettingsLog;
  int32_t FTempUnit = 0;
  std::array<double, kNomFreqChannels> FNom_Frequ{};
  bool FGlobalNomFrequ = false;
  uint8_t FTestOptions = 0;
  TLogOptionsSnapshot FLogOptions;
};

}  // namespace orb
