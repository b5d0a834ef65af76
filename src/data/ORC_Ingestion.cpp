// The three ingestion entry points of the counter store and the course of
// one report: prologue, values, Allan feeding, strings, ring advance.

#include <cmath>
#include <exception>

#include "data/ORC_DataManagement.h"
#include "platform/NumberFormat.h"

namespace orb {
namespace {

constexpr size_t kHeaderLength = 4;

std::string_view TrimRight(std::string_view text) {
  const size_t last = text.find_last_not_of(' ');
  return last == std::string_view::npos ? std::string_view() : text.substr(0, last + 1);
}

std::string DataLostText(std::string_view line) {
  std::string text = "Transfer error. Data lost: %";
  text.append(line).append("%");
  return text;
}

// A frequency field in kHz with either decimal separator; no number gives 0.
double FrequencyField(std::string_view field, const NumberFormat& log) {
  std::array<char, TORC_DataManagement::kTextField> buffer{};
  const size_t size = std::min(field.size(), buffer.size());
  for (size_t i = 0; i < size; ++i) {
    buffer[i] = field[i] == '.' || field[i] == ',' ? log.DecimalSeparator : field[i];
  }
  double value = 0;
  if (!TryTextToFloat(std::string_view(buffer.data(), size), value, log)) return 0;
  return value * 1000;
}

bool HexWord(std::string_view text, uint16_t& word) {
  uint32_t value = 0;
  if (text.size() != 4 || !TryHexTextToUInt32(text, value)) return false;
  word = static_cast<uint16_t>(value);
  return true;
}

}  // namespace

int TORC_DataManagement::Mode() const { return ValueHeader().FMode; }

void TORC_DataManagement::Prologue(int64_t deviceMs, bool storeTime, std::string_view operation) {
  FDeviceMs = deviceMs;
  if (storeTime) FORCTime[static_cast<size_t>(GetWriteX(hsNone))] = deviceMs;
  if (deviceMs % 100 != 0) return;
  FSyncTime.clear();
  AppendIntText(FSyncTime, deviceMs / 1000);
  FSyncTime += FOptions.Current()->FormatSettingsLog.DecimalSeparator;
  AppendIntText(FSyncTime, deviceMs % 1000 / 100);
  if (deviceMs % 1000 == 0) SetSync("1");
  LogLazy([&] {
    return std::string(operation) + " DeviceMs=" + IntToText(deviceMs) + " Sync=" + Sync() +
           ", SyncTime=" + FSyncTime;
  });
}

void TORC_DataManagement::CheckAllanIgnoreFrequ(std::string_view operation) {
  if (!FAllanIgnoreFrequ || !IsFrequencyMode(Mode())) return;
  FAllanIgnoreFrequ = false;
  for (int k = 1; k <= FLetzterKanal; ++k) {
    if (FFrequencyRelative[k - 1] != 0) continue;
    FAllanIgnoreFrequ = true;
    LogLazy([&] {
      return std::string(operation == ".ExtractData" ? ".ExtratData" : ".ExtratReport") +
             " AllanIgnoreFrequ FFrequencyRelative[" + IntToText(k) + "]=0";
    });
  }
  if (!FAllanIgnoreFrequ)
    LogLazy([&] { return std::string(operation) + " reset AllanIgnoreFrequ"; });
}

void TORC_DataManagement::StoreChannelCount(int n) {
  const int old = ChannelCount();
  if (SetChannelCount(n) && old != 0 && FSampler != nullptr) {
    FSampler->UpdateSession(SessId(), SessIsCopy(), 1, "");
  }
}

bool TORC_DataManagement::ReportInternalException(std::string_view operation,
                                                  const std::exception& e) {
  LogException(LogId(), DbgTag() + "." + std::string(operation) + " failed", e);
  AddError(51, "Internal Exception " +
                   std::string(operation == "ExtractRawData" ? "ExtractRawData" : "ExtractData") +
                   "(" + ExceptionClassName(e) + "): " + e.what());
  return false;
}

bool TORC_DataManagement::ExtractData(std::string_view BufCopy, int64_t aDeviceMs) {
  TLock lock(FLockObj);
  Prologue(aDeviceMs, true, ".ExtractData");
  uint16_t header = 0;
  if (!HexWord(BufCopy.substr(0, kHeaderLength), header)) {
    AddError(31, DataLostText(BufCopy));
    return false;
  }
  if (SetHeader(header) && FSampler != nullptr) {
    FSampler->UpdateSession(SessId(), SessIsCopy(), 3, "");
  }
  CheckAllanIgnoreFrequ(".ExtractData");

  std::string_view line = TrimRight(BufCopy.substr(kHeaderLength));
  int n = static_cast<int>(line.size() / kTextField);
  if (FPLLError) {
    if (line.size() % kTextField != 0) {
      LogError(".ExtractData invalid data length" + IntToText(static_cast<int64_t>(line.size())) +
               " -> ignore during PLL error");
      return false;
    }
    if (ChannelCount() != 0 && n != ChannelCount()) {
      LogError(".ExtractData invalid channel count old=" + IntToText(ChannelCount()) +
               ", new=" + IntToText(n) + " -> ignore during PLL error");
      return false;
    }
  }
  if (line.size() > kMaxTextData) {
    AddError(31, "Measurement data too long! Truncated to " + IntToText(kMaxTextData) + " Bytes!");
    line = line.substr(0, kMaxTextData);
    n = kMaxDataChannels;
  }
  if (line.size() < kTextField) {
    AddError(31, DataLostText(line));
    return false;
  }
  try {
    // Every value is read before anything is stored, so a bad field leaves
    // the values as they were.
    if (!FIgnoreFirstPhase && !ParseTextValues(line, n)) {
      AddError(31, DataLostText(line));
      return false;
    }
    BeforeExtractData(line);
    if (FIgnoreFirstPhase) {
      LogLazy([&] { return ".ExtractData ignore first phase " + std::string(line); });
    } else {
      const int mode = Mode();
      for (int k = 1; k <= n; ++k) {
        FIntervalCount[k - 1] += 1;
        if (IsPhaseMode(mode)) {
          FPhaseDecimals[k - 1] = FParsedDecimals[k - 1];
          AddPhaseValue(FParsed[k - 1], k);
        } else if (IsFrequencyMode(mode)) {
          AddFrequencyValue(FParsedFrequency[k - 1], k);
        } else if (IsDifferenceMode(mode)) {
          AddPhaseDiffValue(FParsed[k - 1], k);
        }
        FLetzterKanal = k;
      }
    }
    StoreChannelCount(n);
    return AfterExtractData();
  } catch (const std::exception& e) {
    return ReportInternalException("ExtractData", e);
  }
}

bool TORC_DataManagement::ParseTextValues(std::string_view line, int n) {
  const int mode = Mode();
  const NumberFormat& log = FOptions.Current()->FormatSettingsLog;
  for (int k = 1; k <= n; ++k) {
    const std::string_view field =
        line.substr(static_cast<size_t>(k - 1) * kTextField + 1, kTextField - 1);
    const size_t i = static_cast<size_t>(k - 1);
    if (IsFrequencyMode(mode)) {
      FParsedFrequency[i] = FrequencyField(field, log);
    } else if (IsPhaseMode(mode) || IsDifferenceMode(mode)) {
      FParsedDecimals[i] = FParsed[i].FromText(field);
      if (FParsedDecimals[i] < 0) return false;
    }
  }
  return true;
}

bool TORC_DataManagement::ExtractReport(const TQM_ReportStruct& report) {
  const TQM_ReportType type = report.GetReportType();
  if (type != rt_Phase && type != rt_Double) {
    LogLazy([&] { return ".ExtractReport no measurement data " + report.ToString(); });
    return false;
  }
  TLock lock(FLockObj);
  Prologue(report.GetDeviceMs(), true, ".ExtractReport");
  if (SetHeader(static_cast<uint16_t>(report.GetHeader())) && FSampler != nullptr) {
    FSampler->UpdateSession(SessId(), SessIsCopy(), 3, "");
  }
  CheckAllanIgnoreFrequ(".ExtractReport");

  int n = report.GetValueCount();
  if (FPLLError) {
    if (n < 1 || n > kMaxDataChannels) {
      LogError(".ExtractReport invalid channel count" + IntToText(n) +
               " -> ignore during PLL error");
      return false;
    }
    if (ChannelCount() != 0 && n != ChannelCount()) {
      LogError(".ExtractReport invalid channel count old=" + IntToText(ChannelCount()) +
               ", new=" + IntToText(n) + " -> ignore during PLL error");
      return false;
    }
  }
  // No values, or a payload that is not a whole number of them.
  if (n == 0) {
    AddError(31, DataLostText(report.ToString()));
    return false;
  }
  if (n > kMaxDataChannels) {
    AddError(31, "Measurement data too long! Ignore last " + IntToText(n - kMaxDataChannels) +
                     " channels!");
    n = kMaxDataChannels;
  }
  try {
    BeforeExtractData({});
    if (FIgnoreFirstPhase) {
      LogLazy([&] { return ".ExtractReport ignore first phase " + report.ToString(); });
    } else {
      AddReportValues(report, n);
    }
    StoreChannelCount(n);
    return AfterExtractData();
  } catch (const std::exception& e) {
    return ReportInternalException("ExtractReport", e);
  }
}

void TORC_DataManagement::AddReportValues(const TQM_ReportStruct& report, int n) {
  const int mode = Mode();
  const bool phases = report.GetReportType() == rt_Phase;
  const TQM_ReportPhases p = phases ? report.GetPhases() : TQM_ReportPhases{};
  const TQM_Doubles d = phases ? TQM_Doubles{} : report.GetDoubles();
  for (int k = 1; k <= n; ++k) {
    const size_t i = static_cast<size_t>(k - 1);
    FIntervalCount[i] += 1;
    Phase value = p[i];
    if (!phases) value.FromDouble(d[i]);
    if (IsPhaseMode(mode)) {
      AddPhaseValue(value, k);
    } else if (IsDifferenceMode(mode)) {
      AddPhaseDiffValue(value, k);
    } else if (!phases && IsFrequencyMode(mode)) {
      AddFrequencyValue(d[i], k);
    }
    FLetzterKanal = k;
  }
}

bool TORC_DataManagement::ExtractRawData(std::string_view BufCopy, int64_t aDeviceMs) {
  TLock lock(FLockObj);
  Prologue(aDeviceMs, false, ".ExtractRawData");
  std::string_view line = TrimRight(BufCopy.substr(std::min(kHeaderLength, BufCopy.size())));
  int n = static_cast<int>(line.size() / kRawField);
  if (FPLLError) {
    if (line.size() % kRawField != 0) {
      LogError(".ExtractRawData invalid data length" +
               IntToText(static_cast<int64_t>(line.size())) + " -> ignore during PLL error");
      return false;
    }
    if (n != ChannelCount()) {
      LogError(".ExtractRawData invalid channel count old=" + IntToText(ChannelCount()) +
               ", new=" + IntToText(n) + " -> ignore during PLL error");
      return false;
    }
  }
  if (line.size() > kMaxRawData) {
    AddError(31, "Raw data too long! Truncated to " + IntToText(kMaxRawData) + " Bytes!");
    line = line.substr(0, kMaxRawData);
    n = kMaxDataChannels;
  }
  if (line.size() < kRawField) {
    AddError(31, DataLostText(line));
    return false;
  }
  // T1, T2 and T3 of every channel, read before anything changes.
  std::array<std::array<uint16_t, 3>, kMaxDataChannels> words{};
  for (int k = 0; k < n; ++k) {
    const std::string_view field = line.substr(static_cast<size_t>(k) * kRawField + 2, 14);
    if (!HexWord(field.substr(0, 4), words[k][0]) || !HexWord(field.substr(5, 4), words[k][1]) ||
        !HexWord(field.substr(10, 4), words[k][2])) {
      AddError(31, DataLostText(line));
      return false;
    }
  }
  try {
    BeforeExtractData(line);
    if (ChannelCount() == 0) {
      Log(".ExtractRawData skip no channels");
    } else if (FRawData.IsPhaseValid()) {
      // The interval the previous lines completed.
      Log(".ExtractRawData FRawData.IsPhaseValid");
      FORCTime[static_cast<size_t>(FWriteX)] = aDeviceMs;
      for (int k = 1; k <= n; ++k) {
        FLetzterKanal = k;
        PPhase[k - 1] = FRawData.GetPhase(k);
        PPhaseRes[k - 1] = FRawData.GetPhaseRes(k);
        CalculateFrequency(k);
      }
      FeedAllan(false);
      if (FAddLogStrings && aDeviceMs >= 0) {
        GenerateSamplerStrings();
        AddSamplerStrings({});
      } else {
        LogLazy([&] {
          return std::string(".ExtractRawData FAddLogStrings=") +
                 (FAddLogStrings ? "True" : "False") + " DeviceMs=" + IntToText(aDeviceMs);
        });
      }
    } else {
      Log(".ExtractRawData NOT PhaseValid");
    }
    FRawData.BeginCalculation();
    for (int k = 1; k <= n; ++k) {
      const auto& w = words[static_cast<size_t>(k - 1)];
      FRawData.Calculate(k, w[0], w[1], w[2]);
      const double f = std::fabs(FRawData.GetFreqRaw(k));
      FPhaseDecimals[static_cast<size_t>(k - 1)] = f > 32768000  ? 7
                                                   : f > 4096000 ? 8
                                                   : f > 512000  ? 9
                                                   : f > 32000   ? 10
                                                                 : 11;
    }
    FRawData.EndCalculation();
    StoreChannelCount(n);
    return AfterExtractData();
  } catch (const std::exception& e) {
    return ReportInternalException("ExtractRawData", e);
  }
}

bool TORC_DataManagement::BeforeExtractData(std::string_view text) {
  const TQMHeader header = ValueHeader();
  if (header.FGateTime != FIntervalMs) {
    FIntervalMs = header.FGateTime;
    for (auto& allan : FAllanData) allan->SetIntervalMs(static_cast<int>(FIntervalMs));
    CalculateTheoPhaseOffset(-1);
  }
  ClearSamplerStrings();
  if (header.FMode == kRawMode) FSamplerPhaseValuesString.append("  ").append(text);
  FLetzterKanal = 0;
  FWriteX = GetWriteX(hsNone);
  return true;
}

void TORC_DataManagement::ClearSamplerStrings() {
  for (std::string* text :
       {&FSamplerPhaseValuesString, &FSamplerFrequencyValuesString, &FSamplerPhaseDiffValuesString,
        &FSamplerRawDataString, &FSamplerPhasePredecessorValuesString, &FSamplerADEVValuesString,
        &FSamplerVirtualPhaseResValuesString, &FSamplerVirtualFreqAbsValuesString,
        &FSamplerVirtualFreqRelValuesString, &FSamplerVirtualADEVValuesString,
        &FSamplerPhaseResiduumValuesString, &FSamplerVirtualPhaseDiffValuesString,
        &FSamplerVirtualPhasePrevValuesString}) {
    text->clear();
  }
}

void TORC_DataManagement::CheckClockAlarms(std::string& logAlarm) {
  const int mode = Mode();
  bool check = IsFrequencyMode(mode);
  if (IsPhaseMode(mode) || mode == kRawMode) {
    check = !FPhaseDiffResetted;
    for (int k = 1; k <= FLetzterKanal; ++k) check = check && !FSuppressFirstFrequency[k - 1];
  }
  if (!check || FAlarms == nullptr || FLetzterKanal == 0) return;
  FAlarmText.clear();
  FAlarmEnded.clear();
  FAlarms->CheckFrequencies(std::span(FFrequency.data(), static_cast<size_t>(FLetzterKanal)),
                            FAlarmText, FAlarmEnded);
  if (!FAlarmText.empty()) {
    AddWarning(41, FAlarmText);
    if (FAlarms->LogAlarm()) logAlarm = FAlarmText;
  }
  if (!FAlarmEnded.empty()) AddWarning(43, FAlarmEnded);
}

void TORC_DataManagement::FeedAllan(bool modeConditions) {
  const int n = FLetzterKanal;
  for (auto& allan : FAllanData) {
    if (allan->RealCount() <= 0) allan->SetVirtualFactors(n);
  }
  if (n == 0) return;
  const int mode = Mode();
  const auto values = std::span(FAllanInput.data(), static_cast<size_t>(n));
  if ((!modeConditions || IsPhaseMode(mode) || IsFrequencyMode(mode)) && !FAllanIgnoreFrequ) {
    std::copy_n(FFrequencyRelative.begin(), n, FAllanInput.begin());
    FAllanData[amFreq]->AddData(values);
  }
  if (FAllanIgnorePhase) return;
  // A residual or difference without a nominal frequency is a gap (NaN),
  // never a value of 0.
  if (!modeConditions || IsPhaseMode(mode)) {
    for (int k = 0; k < n; ++k) FAllanInput[k] = FPhaseRes_ps[k][FWriteX];
    FAllanData[amPhaseRes]->AddData(values);
  }
  if (!modeConditions || IsPhaseMode(mode) || IsDifferenceMode(mode)) {
    for (int k = 0; k < n; ++k) {
      FAllanInput[k] = FNom_Frequ[k] != 0 ? FPhaDiff[k][FWriteX] / FNom_Frequ[k] * 1e12
                                          : std::numeric_limits<double>::quiet_NaN();
    }
    FAllanData[amPhaseDiff]->AddData(values);
  }
}

bool TORC_DataManagement::AfterExtractData() {
  if (FIgnoreFirstPhase) {
    FIgnoreFirstPhase = false;
    Log(".AfterExtractData reset ignore first phase");
    return true;
  }
  const int mode = Mode();
  const bool valid = mode != kRawMode || FRawData.IsPhaseValid();

  if (FAllanIgnorePhase) {
    FAllanIgnorePhase = false;
    // Residuals exist in phase and raw modes only; difference modes need none.
    if (IsPhaseMode(mode) || mode == kRawMode) {
      for (int k = 1; k <= FLetzterKanal; ++k) {
        if (!PPhaseRes[k - 1].IsCleared()) continue;
        FAllanIgnorePhase = true;
        LogLazy([&] {
          return ".AfterExtractData AllanIgnorePhase PPhaseRes[" + IntToText(k) + "].IsCleared";
        });
      }
    }
    if (!FAllanIgnorePhase) Log(".AfterExtractData reset AllanIgnorePhase");
  } else if (FAllanIgnoreFrequ) {
    FAllanIgnoreFrequ = false;
    for (int k = 1; k <= FLetzterKanal; ++k) {
      if (FFrequencyRelative[k - 1] != 0) continue;
      FAllanIgnoreFrequ = true;
      LogLazy([&] {
        return ".AfterExtractData AllanIgnoreFrequ FFrequencyRelative[" + IntToText(k) + "]=0";
      });
    }
    if (!FAllanIgnoreFrequ) Log(".AfterExtractData reset AllanIgnoreFrequ");
  }

  std::string logAlarm;
  try {
    CheckClockAlarms(logAlarm);
  } catch (const std::exception&) {
    LogError(".AfterExtractData - clock alarm failed");
    throw;
  }

  FeedAllan(true);

  try {
    for (int k = 1; k <= VirtualChannelCount(); ++k) CalculateVirtualChannel(k);
  } catch (const std::exception&) {
    LogError(".AfterExtractData - virtual channels failed");
    throw;
  }

  if (FAddLogStrings && FDeviceMs >= 0) {
    try {
      if (mode != kRawMode) {
        GenerateSamplerStrings();
        AddSamplerStrings(logAlarm);
      } else {
        AddSamplerStringsRawData();
      }
    } catch (const std::exception&) {
      LogError(".AfterExtractData - MultiSampler failed");
      throw;
    }
    try {
      SendServerLines();
    } catch (const std::exception&) {
      LogError(".AfterExtractData - server failed");
      throw;
    }
  } else {
    LogLazy([&] {
      return std::string(".AfterExtraceData: FAddLogStrings=") +
             (FAddLogStrings ? "True" : "False") + " DeviceMs=" + IntToText(FDeviceMs);
    });
  }

  if (valid) FPhaseDiffResetted = false;
  SetSync(SyncReset());
  FSyncTime.clear();
  BlankODIText();
  try {
    if (valid) AdvanceX(hsNone);
    if (GetWriteX(hsNone) == 0 && FScramblerTrim) TrimZeroReferences();
  } catch (const std::exception&) {
    LogError(".AfterExtractData - end failed");
    throw;
  }
  return true;
}

void TORC_DataManagement::BlankODIText() {
  for (size_t i = 0; i < FODIs_HEX.size(); ++i) FODIs_HEX[i] = i % 9 == 0 ? ' ' : '-';
}

void TORC_DataManagement::TrimZeroReferences() {
  for (int k = 1; k <= kMaxDataChannels; ++k) {
    const Phase d = Phase::Sub(PPhase[k - 1], PPhase[0]);
    const double drift = Phase::Sub(PPhaDiffZero[k - 1], d).ToDouble();
    if (std::fabs(drift) > 25) PPhaDiffZero[k - 1] = d;
  }
}

}  // namespace orb
