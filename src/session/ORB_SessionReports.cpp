// The counter session's evaluation of every report it takes (report thread):
// start-up waits, the device's time base, lost reports, data headers, status
// reports turned into messages, and the data handed to the stores.

#include <cmath>

#include "data/DataSinks.h"
#include "platform/DateTimeFormat.h"
#include "platform/NumberFormat.h"
#include "protocol/QM_Commands.h"
#include "protocol/QM_TextUtils.h"
#include "session/ORB_Sessions.h"
#include "session/ORB_Sync.h"

namespace orb {
namespace {

constexpr int kThroughputBlock = 10'000;
constexpr int kThroughputPeriods = 10;
constexpr int64_t kOHRWaitMs = 1000;
constexpr int kOHRTries = 3;
constexpr uint16_t kFirstMessageHeader = 0x7000;
constexpr uint16_t kFirstRawHeader = 0x6000;
// The multi-sampler's codes.
constexpr int kSamplerHeaderChanged = 3;
constexpr int kSamplerDeviceError = 9;
constexpr int kSamplerReferenceClock = 13;
constexpr uint16_t kHardFeatureORC = 1;
constexpr uint16_t kHardFeatureLTV = 2;

// "hh:mm:ss.zzz" of a duration.
std::string DurationText(int64_t ms) {
  std::string text;
  const int64_t hours = ms / 3'600'000;
  text += hours < 10 ? "0" + IntToText(hours) : IntToText(hours);
  for (const int64_t part : {ms / 60'000 % 60, ms / 1000 % 60}) {
    text += part < 10 ? ":0" : ":";
    AppendIntText(text, part);
  }
  const int64_t millis = ms % 1000;
  text += millis < 10 ? ".00" : millis < 100 ? ".0" : ".";
  AppendIntText(text, millis);
  return text;
}

std::string_view ModeText(int mode) {
  if (mode == 7) return "Raw Data Avg.";
  TQMHeader header(static_cast<uint16_t>(mode << 12));
  return header.GetModeText();
}

// The new header a 0x7020 report announces: its first two bytes; eight F
// digits (a shorter report) announce none.
std::optional<uint16_t> AnnouncedHeader(std::string_view text, const TQM_ReportStruct* record) {
  if (record != nullptr) {
    const std::string_view payload = record->PayloadView();
    if (payload.size() < 2) return std::nullopt;
    return static_cast<uint16_t>((static_cast<uint8_t>(payload[0]) << 8) |
                                 static_cast<uint8_t>(payload[1]));
  }
  uint32_t value = 0;
  if (text.size() > 8 || !TryHexTextToUInt32(text, value) || value == 0xFFFFFFFF) {
    return std::nullopt;
  }
  return static_cast<uint16_t>(text.size() > 4 ? value >> 16 : value);
}

// The text after a report's header, trimmed; a version report has no
// separator after its header.
std::string_view ReportText(uint32_t header, std::string_view line) {
  const size_t skip = (header & ~kLostDataBit) == 0x7001 ? 4 : 5;
  return TrimControl(line.size() > skip ? line.substr(skip) : std::string_view());
}

}  // namespace

// ---- Entry points --------------------------------------------------------------------------

void TQMSessionItem::ThreadEvent_Report() {
  std::string& line = FMultiBufferReport;
  uint32_t header = 0;
  if (line.size() < 4 || !TryHexTextToUInt32(std::string_view(line).substr(0, 4), header)) {
    Log(".ThreadEvent_Report no header: " + line);
    return;
  }
  if ((header & kLostDataBit) != 0) {
    // The stores read the header from the line: give them the plain one.
    std::string plain;
    AppendIntHex(plain, header & ~kLostDataBit, 4);
    line.replace(0, 4, plain);
  }
  EvaluateReport(header, line, ReportText(header, line), nullptr);
}

void TQMSessionItem::ThreadEvent_Report(const TQM_ReportStruct& record) {
  const int header = record.GetHeader();
  if (header < 0) return;
  if ((header & ~kLostDataBit) < kFirstMessageHeader) {
    EvaluateReport(static_cast<uint32_t>(header), {}, {}, &record);
    return;
  }
  // Status reports are evaluated in their text form.
  const std::string line = ReportStructToText(FRecordText, record);
  EvaluateReport(static_cast<uint32_t>(header), line,
                 ReportText(static_cast<uint32_t>(header), line), &record);
}

void TQMSessionItem::EvaluateReport(uint32_t rawHeader, std::string_view line,
                                    std::string_view text, const TQM_ReportStruct* record) {
  const auto header = static_cast<uint16_t>(rawHeader & ~kLostDataBit);
  // The state arrives with the device's status reports; data reports need
  // not ask the source list again and again.
  if (FDeviceStartState == ds_unknown && header >= kFirstMessageHeader) {
    FDeviceStartState = FServices.Sources->Multi_GetDeviceStartState(FMultiId);
  }
  if (!PassStartUpWaits(header, text)) return;
  CountOverflow(rawHeader);
  const bool isData = header < kFirstMessageHeader;
  if (std::isnan(FORCDateTimeStart.Days) && FDeviceMs >= 0 &&
      (isData || header == 0x7015 || header == 0x7016)) {
    ComputeStartTime();
  }
  if (isData) {
    TakeData(header, line, record);
  } else {
    ActOnHeader(header, line, text, record);
  }
}

// ---- Start-up waits -------------------------------------------------------------------------

bool TQMSessionItem::PassStartUpWaits(uint16_t header, std::string_view text) {
  const bool isData = header < kFirstMessageHeader;
  if (FWaitExpectedHeader && isData) CheckExpectedHeader(header);
  if (!FWaitBufferCleared && FOpenCommandIndex < static_cast<int>(FAddedOpenCommands.size())) {
    SendCommand(FAddedOpenCommands[static_cast<size_t>(FOpenCommandIndex++)]);
  }
  if (FWaitOHRData) CheckOHRWait();
  if (!(FWaitBufferCleared || FWaitExpectedHeader || FWaitOHRData || FWait7F51)) return true;

  if (isData) {
    if (header != FOldHeader) SetDataHeader(header, FOldHeader != kNoHeaderYet, false);
    return false;
  }
  if (header == 0x7015 || header == 0x7016) {
    FignoredTimestampHeader = header;
    FignoredTimestamp = text;
    return false;
  }
  return !(header == 0x7900 && FWaitBufferCleared);
}

void TQMSessionItem::CheckExpectedHeader(uint16_t header) {
  if (!FExpectedHeader) {
    FWaitExpectedHeader = false;
    return;
  }
  const TQMHeader report(header);
  const TQMHeader& expected = *FExpectedHeader;
  if (report.FIntervalIndex != expected.FIntervalIndex) {
    SendCommand(std::string(1, static_cast<char>(0x20 + expected.FIntervalIndex)));
  } else if (report.FMode != expected.FMode) {
    SendCommand(std::string(1, static_cast<char>(0x40 + expected.FMode)));
  } else if (expected.FScramblerIndex != 0 && report.FScramblerIndex != 3 &&
             report.FScramblerIndex != expected.FScramblerIndex) {
    SendCommand(expected.FScramblerIndex == 1 ? "^" : "_");
  } else {
    FWaitExpectedHeader = false;
  }
}

void TQMSessionItem::CheckOHRWait() {
  const int64_t now = FServices.Clock->MonotonicMs();
  if (now - FWaitOHRTicks <= kOHRWaitMs) return;
  if (++FWaitOHRCount >= kOHRTries) {
    AddError(102, 0, "Failed to read OHR data from device with timeout");
    FWaitOHRData = false;
    return;
  }
  Log(".CheckOHRWait: timeout, request again");
  if (FServices.Sources->Multi_ReadOHRData(FMultiId) != mcSuccess) FWaitOHRData = false;
  FWaitOHRTicks = now;
}

// ---- Lost reports and the time base ---------------------------------------------------------

void TQMSessionItem::CountOverflow(uint32_t header) {
  if ((header & kLostDataBit) == 0) {
    FOverflowCounter = 0;
    return;
  }
  if (FOverflowCounter++ == 0) {
    FORC_DM->IncLost();
    AddError(31, 0, "Device reports transmit buffer overflow. Data lost!");
  }
}

void TQMSessionItem::ComputeStartTime() {
  const TLogOptions* options = FServices.Options->Current();
  const TDateTime now =
      options->LogTimeZoneSystem ? FServices.Clock->NowUtc() : FServices.Clock->NowLocal();
  // Whole seconds: the device counts from a second boundary.
  int64_t startMs = DateTimeToUnixMs(now) - FDeviceMs;
  const int64_t part = ((startMs % 1000) + 1000) % 1000;
  startMs += part >= 500 ? 1000 - part : -part;
  FORCDateTimeStart = DateTimeFromUnixMs(startMs);
  FORCDateTime.Days = FORCDateTimeStart.Days + static_cast<double>(FDeviceMs) / kMsPerDay;
  Log(".ComputeStartTime: " + DateTimeToText(FORCDateTimeStart));
  if (FORCtimeCheckNeeded) CheckStartTimePlausibility();
}

void TQMSessionItem::CheckStartTimePlausibility() {
  FORCtimeCheckNeeded = false;
  const TLogOptions* options = FServices.Options->Current();
  if (FormatDateTime(options->LogTimeFormat, FORCDateTimeStart) ==
      FormatDateTime(options->LogTimeFormat, FiniDateTime)) {
    return;
  }
  Log(".ORCtimePlausibilityCheck failed");
  if (options->LogTimeSourceORC) {
    AddWarning(45, 0, "ORC Time recalculated, plausibility check failed");
  }
}

// ---- Status reports -------------------------------------------------------------------------

void TQMSessionItem::ActOnHeader(uint16_t header, std::string_view line, std::string_view text,
                                 const TQM_ReportStruct* record) {
  // Only the rarer reports become text: time stamps and data blocks pass often.
  const auto report = [line] { return std::string(line); };
  switch (header) {
    case 0x7000:
      break;
    case 0x7001:
    case 0x7005:
    case 0x7019:
    case 0x7F40:
    case 0x7FF1:
    case 0x7FF2:
    case 0x7FF3:
    case 0x7901:
    case 0x7902:
      SpecialReport(header, line, text);
      break;
    case 0x7015:
    case 0x7016:
      TakeTimestamp(header, text);
      break;
    case 0x7020:
      if (const std::optional<uint16_t> announced = AnnouncedHeader(text, record)) {
        SetDataHeader(*announced, true, true);
      }
      if (IsRawMode()) FWaitRawTimestamp = true;
      if (FDataHeader) FRemainTime = 2.0 * static_cast<double>(FDataHeader->FGateTime) / 1000.0;
      SpecialReport(header, line, text);
      break;
    case 0x7021:
      AddInfo(header, 0, report());
      break;
    case 0x7022:
      FWaitBufferCleared = false;
      FORC_DM->BufferCleared(header);
      FLTV_DM->BufferCleared(header);
      break;
    case 0x7030:
      TakeConnectedUsers(text);
      AddInfo(header, 0, report());
      break;
    case 0x7100:
      FORC_DM->AddODI(line);
      break;
    case 0x7900:
      FLTV_DM->AddLTV(line);
      if (FisRTC) SpecialReport(header, line, text);
      break;
    case 0x7EFF:
      if (record != nullptr) {
        FORC_DM->AddHeartbeat(*record);
      } else {
        FORC_DM->AddHeartbeat(line, FDeviceMs);
      }
      break;
    case 0x7F21:
      AddError(31, 0, std::string(text));
      break;
    case 0x7F22:
      AddWarning(header, 0, report());
      break;
    case 0x7F23:
      FORC_DM->Reset();
      FLTV_DM->Reset();
      AddError(31, 0, std::string(text));
      break;
    case 0x7F51:
      FORC_DM->ReSync(report());
      FWait7F51 = false;
      FORCDateTimeStart.Days = std::numeric_limits<double>::quiet_NaN();
      FORCDateTime = {};
      FDeviceMs = -1;
      if (FServices.Options->Current()->LogTimeSourceORC) {
        AddWarning(45, 0, "Re sync, ORC time resetted");
      }
      SpecialReport(header, line, text);
      break;
    case 0x7FF8:
      FReferenceClockError = false;
      FPLLError = false;
      FORC_DM->SetPLLError(false);
      FORC_DM->Reset();
      AddInfo(header, 0, report());
      break;
    case 0x7FF9:
      FReferenceClockError = true;
      FPLLError = false;
      FORC_DM->SetPLLError(false);
      FSamplerLink->UpdateSession(FIndex, false, kSamplerReferenceClock, line);
      AddError(header, 0, report());
      break;
    case 0x7FFF:
      FSamplerLink->UpdateSession(FIndex, false, kSamplerDeviceError, line);
      FPLLError = true;
      FPLLokCount = 0;
      FORC_DM->SetPLLError(true);
      AddError(header, 0, report());
      break;
    default:
      if (header >= 0x7F00 && header <= 0x7FFE) {
        FSamplerLink->UpdateSession(FIndex, false, kSamplerDeviceError, line);
        AddError(header, 0, report());
      } else {
        AddInfo(header, 0, report());
      }
      break;
  }
}

void TQMSessionItem::TakeTimestamp(uint16_t header, std::string_view text) {
  if (header == 0x7015 && FReferenceClockError) return;
  int64_t value = 0;
  if (!TryTextToInt64(text, value)) {
    Log(".TakeTimestamp: bad time stamp " + std::string(text));
    return;
  }
  FBufNo7015 = text;
  // 0x7015 counts whole seconds, 0x7016 tenths: both go on in tenths.
  const int64_t tenths = header == 0x7015 ? value * 10 : value;
  FSamplerLink->AddTimeStamp(FIndex, false, tenths);
  FORC_DM->AddTimeStamp(tenths);
  if (IsRawMode() && FWaitRawTimestamp && FIntervalMs > 0 && FDeviceMs >= 0 &&
      FDeviceMs % FIntervalMs == 0) {
    FWaitRawTimestamp = false;
  }
}

// ---- Measurement data -----------------------------------------------------------------------

void TQMSessionItem::TakeData(uint16_t header, std::string_view line,
                              const TQM_ReportStruct* record) {
  if (FReferenceClockError && !FReportDataDuringReferenceClockError) return;
  if (!FignoredTimestamp.empty()) {
    const std::string held = std::move(FignoredTimestamp);
    FignoredTimestamp.clear();
    TakeTimestamp(FignoredTimestampHeader, held);
  }
  if (header != FOldHeader) {
    SetDataHeader(header, FOldHeader != kNoHeaderYet, false);
    if (FDataHeader) FRemainTime = static_cast<double>(FDataHeader->FGateTime) / 1000.0;
  } else if (FPPI == 1 && FPPIcmdSent) {
    Queue(swPPI, FPPI);
  }
  FPPIcmdSent = false;
  // The date of the files that log this report (and of their new day).
  const TDateTime deviceTime =
      std::isnan(FORCDateTimeStart.Days) ? FORCDateTimeStart : FORCDateTime;
  FSamplerLink->SetDeviceDateTime(deviceTime);
  if (FLinkedSession != nullptr) FLinkedSession->FSamplerLink->SetDeviceDateTime(deviceTime);
  if (!std::isnan(FORCDateTimeStart.Days)) {
    FORCtimeText.clear();
    AppendDateTimeFormatted(FORCtimeText, FServices.Options->Current()->LogTimeFormat,
                            FORCDateTime);
    FORC_DM->SetORCtimeString(FORCtimeText);
    FLTV_DM->SetORCtimeString(FORCtimeText);
  }

  bool stored = false;
  if (record != nullptr) {
    const TQM_ReportType type = record->GetReportType();
    if (header >= kFirstRawHeader && FWaitRawTimestamp) return;
    if (type == rt_Phase || type == rt_Double) stored = FORC_DM->ExtractReport(*record);
  } else if (header >= kFirstRawHeader) {
    if (FWaitRawTimestamp) return;
    stored = FORC_DM->ExtractRawData(line, FDeviceMs);
  } else {
    stored = FORC_DM->ExtractData(line, FDeviceMs);
  }
  if (FPLLError) {
    FPLLokCount = stored ? FPLLokCount + 1 : 0;
    const int64_t gateMs = FDataHeader && FDataHeader->FGateTime > 0 ? FDataHeader->FGateTime : 1;
    if (FPLLokCount > 4 * (1000 / gateMs)) {
      FPLLError = false;
      FORC_DM->SetPLLError(false);
      Log(".TakeData: PLL ok again");
    }
  }
  CountThroughput();
}

void TQMSessionItem::CountThroughput() {
  // The clock is read only where a block starts or ends.
  if (FZMStart < 0) FZMStart = FServices.Clock->MonotonicMs();
  if (++FZMCount < kThroughputBlock) return;
  const int64_t now = FServices.Clock->MonotonicMs();
  const int64_t elapsed = now - FZMStart;
  AddInfo(0, 0, "Zeitdauer 10000 Messungen " + DurationText(elapsed));
  FZMCount = 0;
  FZMStart = now;
  FZMSumTime += elapsed;
  if (++FZMSum < kThroughputPeriods) return;
  AddInfo(0, 0, "Zeitdauer 10000 Messungen im Durchschnitt " + DurationText(FZMSumTime / FZMSum));
  FZMSum = 0;
  FZMSumTime = 0;
}

// ---- Data headers ---------------------------------------------------------------------------

void TQMSessionItem::Queue(TSyncWhat what, int code, int value) {
  FServices.Queue->AddSync({what, code, value, "", Ref()});
}

void TQMSessionItem::SetDataHeader(uint16_t value, bool announce, bool from7020) {
  const TQMHeader header(value);
  const bool hadHeader = FDataHeader.has_value();
  const TQMHeader previous = hadHeader ? *FDataHeader : TQMHeader();
  const int previousIntervalMs = FIntervalMs;
  FDataHeader = header;
  if (!header.FModeValid) AddError(12, 0, "Device reports invalid mode");
  if (!header.FIntervalIndexValid) AddError(12, 0, "Device reports invalid interval");

  const uint8_t oldMode = FMode;
  if (header.FModeValid) {
    FMode = static_cast<uint8_t>(header.FMode == 6 && FRawAvg ? 7 : header.FMode);
    Queue(swMode, FMode);
    if (announce && hadHeader && FMode != oldMode) {
      AddInfo(13, 0, "Mode setting changed to " + std::string(ModeText(FMode)));
    }
  }
  if (header.FIntervalIndexValid) {
    const int oldIndex = FIntervalIndex;
    if (IsRawMode()) {
      FIntervalIndex = FRawIntervalIndex >= 0 ? FRawIntervalIndex : header.FIntervalIndex;
      FIntervalMs = IntervalIndexToMs(FIntervalIndex);
      FORC_DM->SetRawMode(FIntervalMs, FRawAvg);
    } else {
      FIntervalIndex = header.FIntervalIndex;
      FIntervalMs = static_cast<int>(header.FGateTime);
    }
    Queue(swRateIndex, FIntervalIndex);
    if (announce && hadHeader && FIntervalIndex != oldIndex) {
      AddInfo(13, 0,
              "Interval setting changed to " + std::string(IntervalIndexToText(FIntervalIndex)));
    }
  }
  const int oldPPI = FPPI;
  FPPI = header.FPPIindex;
  FPPItext = header.GetPPItext();
  Queue(swPPI, FPPI);
  if (announce && hadHeader && FPPI != oldPPI) AddInfo(15, 0, "PPI setting changed to " + FPPItext);

  const uint8_t oldScrambler = FScrambler;
  FScrambler = static_cast<uint8_t>(header.FScramblerIndex);
  FScramblerText = header.GetScramblerText();
  Queue(swScrambler, FScrambler);
  if (announce && hadHeader && FScrambler != oldScrambler) {
    AddInfo(14, 0, "Scrambler setting changed to " + FScramblerText);
  }

  if (from7020 && PhaDiffReset) {
    PhaDiffReset = false;
    FORC_DM->PhaseDiffResetted();
    AddInfo(16, 0, "Phase difference resetted");
    Queue(swPhaseDiffReset, 0);
  }
  if (!hadHeader && FIntervalMs != previousIntervalMs) {
    // The first header of a run tells the real interval; the sampler took
    // the stored one for its report factors. (The store announces only
    // changes of a header it knew.)
    FSamplerLink->UpdateSession(FIndex, false, kSamplerHeaderChanged, "");
  }
  if (header.FModeValid && header.FIntervalIndexValid &&
      (!hadHeader || previous.FHeader != header.FHeader)) {
    FORC_DM->SetNewHeader(value);
  } else if (FMode != oldMode) {
    FSamplerLink->UpdateSession(FIndex, false, kSamplerHeaderChanged, "");
  }
  FOldHeader = value;
}

// ---- Special reports ------------------------------------------------------------------------

void TQMSessionItem::SpecialReport(uint16_t header, std::string_view line, std::string_view text) {
  FBufNo7000 = line;
  const std::string report(line);
  const bool professional = FServices.Professional;
  switch (header) {
    case 0x7001:
      TakeVersion(line, text);
      break;
    case 0x7019: {
      if (professional) AddInfo(header, 0, report);
      int32_t features = 0;
      if (TryTextToInt32(text, features) && static_cast<uint16_t>(features) != FHardFeature) {
        ApplyHardFeatures(static_cast<uint16_t>(features));
      }
      break;
    }
    case 0x7901:
      if (professional) AddInfo(header, 0, report);
      TakeCalibrationReport(text);
      break;
    case 0x7902:
      if (professional) AddInfo(header, 0, report);
      TakeOHRReport(line);
      break;
    case 0x7F40:
      Log(".ThreadEvent_Report: TCP-AppData received: " + report);
      AddInfo(header, 0, report);
      break;
    case 0x7F51:
      AddInfo(header, 0, report);
      Queue(swReSync, 0);
      break;
    case 0x7FF1: {
      const int sub = Contains(text, "ORC: T2 underflow") ? 1
                      : Contains(text, "ORC: T2 d4>=2")   ? 2
                                                          : 0;
      AddError(0x7FF1 * 16 + sub, 0, report);
      break;
    }
    case 0x7FF2: {
      const int sub = Contains(text, "Input Data Overrun Error")   ? 1
                      : Contains(text, "Raw Data Reception Error") ? 2
                      : Contains(text, "Scrambler in use")         ? 3
                                                                   : 0;
      AddError(0x7FF2 * 16 + sub, 0, report);
      break;
    }
    case 0x7FF3:
      AddError(header, 0, report);
      if (FDataHeader) SetDataHeader(FDataHeader->FHeader, true, false);
      break;
    default:
      break;
  }
}

void TQMSessionItem::TakeVersion(std::string_view line, std::string_view text) {
  AddInfo(0x7001, 0, std::string(line));
  FVersionString = text;
  FisESP = Contains(line, "VERSION ORC2");
  const int firmware = FServices.Sources->Multi_GetFirmwareVersion(FMultiId);
  FhasPPI = FisESP && firmware >= 114;
  if (FisESP) FWaitBufferCleared = false;
  Queue(swPeer, FisESP ? 1 : 0);
  ApplyHardFeatures(FServices.Sources->Multi_GetHardFeature(FMultiId));

  const bool simulator = Contains(line, "Simulator");
  const bool hasLTV = (FHardFeature & kHardFeatureLTV) != 0;
  const bool hasORC = (FHardFeature & kHardFeatureORC) != 0;
  if (!FLTVCalibrationSet && (simulator || FisESP || (firmware > 61 && hasLTV))) {
    ReadDeviceCalibration();
  }
  if (!FOHRSettingsSet && (simulator || FisESP || (firmware > 66 && hasORC))) {
    if (FServices.Sources->Multi_ReadOHRData(FMultiId) != mcSuccess) {
      FWaitOHRData = false;
    } else {
      FWaitOHRData = true;
      FWaitOHRCount = 0;
      FWaitOHRTicks = FServices.Clock->MonotonicMs();
    }
    if (firmware < 67 && !simulator && !FisESP) FWaitOHRData = false;
  } else {
    FWaitOHRData = false;
  }
  Queue(swDevices, 0);
}

void TQMSessionItem::ApplyHardFeatures(uint16_t features) {
  FHardFeature = features;
  const uint16_t parts = features & (kHardFeatureORC | kHardFeatureLTV);
  FLTVonly = parts == kHardFeatureLTV;
  FORConly = parts == kHardFeatureORC;
  if (FLinkedSession != nullptr) {
    FLinkedSession->FHardFeature = FHardFeature;
    FLinkedSession->FLTVonly = FLTVonly;
    FLinkedSession->FORConly = FORConly;
  }
  if (FLTVonly) {
    Queue(swLTVOnly, 1);
  } else if (FORConly) {
    Queue(swORCOnly, 1);
  } else if (parts != (kHardFeatureORC | kHardFeatureLTV)) {
    Log(".ApplyHardFeatures: unknown features " + IntToHex(features, 4));
  }
}

// ---- Properties of the current header -------------------------------------------------------

bool TQMSessionItem::HasORC() const {
  if (FLTVonly) return false;
  return FORConly || FORC_DM->ChannelCount() > 0;
}

bool TQMSessionItem::HasLTV() const {
  if (FORConly) return false;
  return FLTVonly || FLTV_DM->ChannelCount() > 0;
}

bool TQMSessionItem::IsModeAverage() const {
  return FDataHeader && HeaderIsAverage(FDataHeader->FHeader);
}

bool TQMSessionItem::IsModeFrequencyEnabled() const {
  return FDataHeader && (FDataHeader->FMode < 4 || FDataHeader->FMode == 6);
}

bool TQMSessionItem::IsModePhaseEnabled() const {
  return FDataHeader && (FDataHeader->FMode < 2 || FDataHeader->FMode == 6);
}

bool TQMSessionItem::IsModePhaseDiffEnabled() const {
  return FDataHeader &&
         (FDataHeader->FMode < 2 || (FDataHeader->FMode >= 4 && FDataHeader->FMode <= 6));
}

bool TQMSessionItem::IsModeRawDataEnabled() const { return FDataHeader && FDataHeader->FMode == 6; }

bool TQMSessionItem::IsModeLTVdiffEnabled() const {
  return FDataHeader && FLTV_DM->ChannelCount() > 1;
}

}  // namespace orb
