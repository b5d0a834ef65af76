// The counter session's keys after the base keys, in the order they are
// written, and the conversions of older layouts on reading.

#include <cmath>
#include <limits>

#include "session/App_Settings.h"
#include "session/ORB_Sessions.h"
#include "session/ORB_Settings.h"

namespace orb {
namespace {

constexpr int kVersionSigNameKeys = 1;  // up to this version: one key per signal
constexpr int kVersionLinComb = 6;      // below it: linear combinations
constexpr int kCounterVersion = 2;
constexpr int kRateIndexes = 14;
constexpr int kSimulatorModes = 7;
constexpr std::string_view kNoFactors = "0 0 0 0 ";
constexpr std::array<const char*, 6> kMultKeys = {"_Mult1_4",   "_Mult5_8",   "_Mult9_12",
                                                  "_Mult13_16", "_Mult17_20", "_Mult21_24"};
constexpr size_t kFactorsPerKey = 4;

std::string SigNameKey(int card) { return "ODI" + IntToText(card) + "_SigNames"; }

}  // namespace

const std::string& TQMSessionItem::ODISigName(int card, int bit) const {
  static const std::string kNone;
  if (card < 1 || card > kODICards || bit < 0 || bit >= kODISignals) return kNone;
  return FODISigNames[static_cast<size_t>(card - 1)][static_cast<size_t>(bit)];
}

int TQMSessionItem::LinCombChannel(int n) const {
  return n == 1 || n == 2 ? FLinCombChannels[static_cast<size_t>(n - 1)] : 0;
}

void TQMSessionItem::ReadSettings(TAppSettings& Settings, const std::string& Prefix) {
  TSessionItem::ReadSettings(Settings, Prefix);
  TSessionKeyReader reader(Settings, Prefix, FErrorMessage);
  FServices.Sources->Multi_DebugFlags(FMultiId, FDebugReport, FDebugLowLevel);
  FORC_DM->SetAllanDecay(reader.Get("AllanDecay", int32_t{0}));
  FDebugStream = reader.Get("Debug_Stream", false);
  FClearBufferOnStart = reader.Get("ClearBuffer", true);
  FSerialNumberINI = reader.GetU("SerialNumber", 0xFFFFFFFF);
  if (FOpenString.starts_with("DemoData")) {
    FDemoChannels = reader.Get("DemoChannels", int32_t{FDemoChannels}, 0, kMaxDataChannels);
    FDemoMode =
        static_cast<uint8_t>(reader.Get("DemoMode", int32_t{FDemoMode}, 0, kSimulatorModes - 1));
    FDemoRate = reader.Get("DemoRate", int32_t{FDemoRate}, 0, kRateIndexes - 1);
    FDemoODI = reader.Get("DemoODI", FDemoODI);
    FDemoLTV = reader.Get("DemoLTV", FDemoLTV);
  }
  ReadODISigNames(reader);

  double start = reader.Get("ORCDateTimeStart", std::numeric_limits<double>::quiet_NaN());
  if (!std::isfinite(start)) start = std::numeric_limits<double>::quiet_NaN();
  FiniDateTime.Days = start;
  FORCtimeCheckNeeded = !std::isnan(start);

  FRunLocalTcpServer = reader.Get("RunLocalTcpServer", false);
  FLocalTcpServerPort =
      static_cast<uint16_t>(reader.Get("LocalTcpServerPort", int32_t{0}, 0, 0xFFFF));

  std::array<double, kMaxDataChannels> frequencies{};
  const bool global = FProfessional && Settings.GetValue("GlobalNomFrequ", false);
  ReadNomFreqKeys(Settings, global ? "" : Prefix, frequencies);
  FORC_DM->BeginUpdate();
  for (int k = 1; k <= kMaxDataChannels; ++k) {
    FORC_DM->SetNomFreq(k, frequencies[static_cast<size_t>(k - 1)]);
  }
  FORC_DM->EndUpdate();

  reader.ReadGroup("LTV_", FLTVChannelData);
  FUseDeviceCalibration = reader.Get("UseDeviceCalibration", FUseDeviceCalibration);
  ReadVirtualChannels(reader, "VLTV_", *FLTV_DM, FVirtualLTVChannelData, FvirtualLTVDescription);
  FRawIntervalIndex = reader.Get("RawIntervalIndex", int32_t{-1}, -1, kRateIndexes - 1);
  FRawAvg = reader.Get("RawAvg", false);
  FORC_DM->SetRef20MHz(reader.Get("Ref20MHz", false));
  FReportStruct = reader.Get("ReportStruct", FProfessional);
  FDataPortINI = static_cast<uint16_t>(reader.Get("TCPDataPort", int32_t{0}, 0, 0xFFFF));
  FUserIdINI = static_cast<uint8_t>(reader.Get("UserID", int32_t{kNoUserId}, 0, kNoUserId));
  FDecSep = Settings.FormatSettings().DecimalSeparator;

  FLinCombChannels = {};
  if (Settings.VersionFormat() < kVersionLinComb) ConvertLinearCombinations(reader);
  if (!FErrorMessage.empty()) {
    LogError(".ReadSettings " + FErrorMessage);
    AddError(61, 0, FErrorMessage);
  }
}

void TQMSessionItem::ReadODISigNames(TSessionKeyReader& reader) {
  static const TODISigNames defaults = DefaultODISigNames();
  for (int c = 1; c <= kODICards; ++c) {
    auto& names = FODISigNames[static_cast<size_t>(c - 1)];
    const auto& defaultNames = defaults[static_cast<size_t>(c - 1)];
    if (reader.Settings().VersionFormat() <= kVersionSigNameKeys) {
      for (int b = 1; b <= kODISignals; ++b) {
        const size_t i = static_cast<size_t>(b - 1);
        names[i] = reader.Get("ODI" + IntToText(c) + "_SigName" + IntToText(b), defaultNames[i]);
      }
      continue;
    }
    const std::string text = reader.Get(SigNameKey(c), std::string());
    const auto items = SplitItemList(text, kItemSeparator);
    // A short list is a broken one: none of it is taken.
    const bool complete = items.size() >= static_cast<size_t>(kODISignals);
    for (size_t i = 0; i < names.size(); ++i) {
      names[i] = complete ? std::string(items[i]) : defaultNames[i];
    }
  }
}

void TQMSessionItem::ConvertLinearCombinations(TSessionKeyReader& reader) {
  const std::string letter = Letter();
  const std::string names =
      reader.Get("LC_Names", "LC_" + letter + "1" + std::string(kItemSeparator) + "LC_" + letter +
                                 "2" + std::string(kItemSeparator));
  const auto nameItems = SplitItemList(names, kItemSeparator);
  std::string converted;
  for (int n = 1; n <= 2; ++n) {
    TChannelFactors factors{};
    bool present = false;
    for (size_t key = 0; key < kMultKeys.size(); ++key) {
      const std::string text =
          reader.Get("LC" + IntToText(n) + kMultKeys[key], std::string(kNoFactors));
      present = present || text != kNoFactors;
      ReadFactorList(text, " ", reader.Settings().FormatSettings(),
                     factors.data() + key * kFactorsPerKey, kFactorsPerKey);
    }
    // Without a factor it would be no virtual channel at all.
    const int k = LastVirtualChannel(*FORC_DM) + 1;
    if (!present || !HasFactors(factors) || k > kMaxVirtualChannels) continue;
    FORC_DM->SetVirtualFactors(k, factors);
    std::string id(1, 'V');
    id += IntToText(k);
    FvirtualChannelData.SetChannelId(k, id);
    const size_t i = static_cast<size_t>(n - 1);
    FvirtualChannelData.SetChannelName(
        k, i < nameItems.size() ? std::string(nameItems[i]) : "LC_" + letter + IntToText(n));
    FLinCombChannels[i] = k;
    if (!converted.empty()) converted += "/";
    converted += IntToText(n);
    Log(".ReadSettings linear combination " + IntToText(n) + " -> virtual channel " + IntToText(k));
  }
  if (converted.empty()) return;
  FvirtualChannelData.SetMaxChannels(FORC_DM->VirtualChannelCount());
  if (FvirtualDescription.empty()) FvirtualDescription = "Linear combination " + converted;
  AddInfo(151, 0, "Linear combinations converted into virtual channels");
}

void TQMSessionItem::SaveSettings(TAppSettings& Settings, const std::string& Prefix) {
  const TQMHeader header = FORC_DM->ValueHeader();
  const bool headerKnown = header.GetIsORCData() && header.FModeValid && header.FIntervalIndexValid;
  if (headerKnown && header.FGateTime > 0) FIntervalMs = static_cast<int>(header.FGateTime);
  TSessionItem::SaveSettings(Settings, Prefix);

  Settings.SetValue(Prefix + "AllanDecay", int32_t{FORC_DM->AllanDecay()});
  Settings.SetValue(Prefix + "Debug_Stream", FDebugStream);
  Settings.SetValue(Prefix + "ClearBuffer", FClearBufferOnStart);
  // A device not seen in this run keeps the number it had.
  Settings.SetUValue(Prefix + "SerialNumber",
                     FSerialNumber != 0xFFFFFFFF ? FSerialNumber : FSerialNumberINI);
  if (FOpenString.starts_with("DemoData")) {
    const int channels = FORC_DM->ChannelCount();
    if (channels > 0) FDemoChannels = channels;
    if (headerKnown) {
      FDemoMode = static_cast<uint8_t>(header.FMode);
      FDemoRate = header.FIntervalIndex;
    }
    Settings.SetValue(Prefix + "DemoChannels", int32_t{FDemoChannels});
    Settings.SetValue(Prefix + "DemoMode", int32_t{FDemoMode});
    Settings.SetValue(Prefix + "DemoRate", int32_t{FDemoRate});
    Settings.SetValue(Prefix + "DemoODI", FDemoODI);
    Settings.SetValue(Prefix + "DemoLTV", FDemoLTV);
  }
  for (int c = 1; c <= kODICards; ++c) {
    std::string text;
    for (const std::string& name : FODISigNames[static_cast<size_t>(c - 1)]) {
      text.append(name).append(kItemSeparator);
    }
    Settings.SetValue(Prefix + SigNameKey(c), text);
  }
  Settings.SetValue(Prefix + "ORCDateTimeStart", FORCDateTimeStart.Days);
  Settings.SetValue(Prefix + "RunLocalTcpServer", FRunLocalTcpServer);
  Settings.SetValue(Prefix + "LocalTcpServerPort", int32_t{FLocalTcpServerPort});
  std::array<double, kMaxDataChannels> frequencies{};
  for (int k = 1; k <= kMaxDataChannels; ++k) {
    frequencies[static_cast<size_t>(k - 1)] = FORC_DM->GetNomFreqUser(k);
  }
  SaveNomFreqKeys(Settings, Prefix, frequencies, Settings.FormatSettings());
  FLTVChannelData.SaveSettings(Settings, Prefix + "LTV_");
  Settings.SetValue(Prefix + "UseDeviceCalibration", FUseDeviceCalibration);
  SaveVirtualChannels(Settings, Prefix + "VLTV_", *FLTV_DM, FVirtualLTVChannelData,
                      FvirtualLTVDescription);
  Settings.SetValue(Prefix + "RawIntervalIndex",
                    int32_t{headerKnown ? header.FIntervalIndex : FRawIntervalIndex});
  Settings.SetValue(Prefix + "RawAvg", FRawAvg);
  Settings.SetValue(Prefix + "Ref20MHz", FORC_DM->Ref20MHz());
  Settings.SetValue(Prefix + "ReportStruct", FReportStruct);
  Settings.SetValue(Prefix + "TCPDataPort", int32_t{FDataPortINI});
  Settings.SetValue(Prefix + "UserID", int32_t{FUserIdINI});
  Settings.SetVersionFormat(kCounterVersion);
}

}  // namespace orb
