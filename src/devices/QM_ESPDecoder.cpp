#include "devices/QM_ESPDecoder.h"

#include <algorithm>

#include "logging/LogUnit.h"
#include "platform/NumberFormat.h"
#include "protocol/ByteOrder.h"
#include "protocol/QM_Header.h"
#include "protocol/QM_TextUtils.h"

namespace orb {

namespace eb = esp_block;

namespace {

constexpr uint16_t kClearedHeader = 0x7022;
constexpr uint16_t kFPGATimeErrorHeader = 0x7FF4;
constexpr uint16_t kNoMeasurementHeader = 0x7FF7;
constexpr std::string_view kOverflowText = "Buffer cleared after buffer overflow";
constexpr std::string_view kNoDataText =
    "Device does not send measurement data: Please check reference!";
constexpr std::string_view kNoDataPowerUpText =
    "Device does not send measurement data: Please check reference clock and re-power!";

// The report device's bytes for the block reader; peeks wait like every
// device read.
class TDeviceByteSource final : public IESPByteSource {
 public:
  explicit TDeviceByteSource(TQM_BaseDevice& device) : FDevice(device) {}
  size_t Available() const override { return FDevice.BufferAmount(); }
  bool Peek(std::span<uint8_t> out) override { return FDevice.PeekData(out); }
  void Drop(size_t count) override { FDevice.ConfirmPeekedData(count); }

 private:
  TQM_BaseDevice& FDevice;
};

void AppendBE16(std::string& out, uint16_t value) {
  out += static_cast<char>(value >> 8);
  out += static_cast<char>(value & 0xFF);
}

}  // namespace

TQM_ESPDecoder::TQM_ESPDecoder(IBinaryReportHost& host, IClock& clock, bool flagVersion)
    : FHost(host), FClock(clock) {
  FContext.FlagVersion = flagVersion;
}

void TQM_ESPDecoder::Log(TQM_ReportDevice& device, std::string_view text) {
  const int logId = device.Device().LogId();
  if (LogActive(logId)) LogDebug(logId, device.DbgTag() + std::string(text));
}

void TQM_ESPDecoder::LogWarningLine(TQM_ReportDevice& device, std::string_view text) {
  const int logId = device.Device().LogId();
  if (LogActive(logId)) LogWarning(logId, device.DbgTag() + std::string(text));
}

void TQM_ESPDecoder::ResetStreamState() {
  FReader.Reset();
  FLastMeasMode = 255;
  FOffsetFPGA = 0;
}

// ---- Reading ---------------------------------------------------------------------

TQM_ESPDecoder::TRead TQM_ESPDecoder::ReadTransmitReport(TQM_ReportDevice& device,
                                                         TQM_ReportStruct& record) {
  TQM_BaseDevice& base = device.Device();
  if (base.ReceiveBufferCleared()) {
    // The bytes after the gap may begin inside a block.
    FReader.Reset();
    device.ResetLastFPGA();
    record.SetMessage(kClearedHeader, FindMessageHeader(kClearedHeader)->GeneratedText);
    record.SetDeviceMs(device.DeviceMs());
    return TRead::kCleared;
  }
  TDeviceByteSource source(base);
  switch (FReader.Read(source, FBlock)) {
    case TESPReadResult::kBlock:
      if (!FFirstReceiveTicks) FFirstReceiveTicks = FClock.MonotonicMs();
      return TRead::kBlock;
    case TESPReadResult::kBadFormat: {
      const std::string_view bad = FReader.BadBytes();
      std::string text = bad.substr(0, eb::kMagic.size()) != eb::kMagic
                             ? "TransmitReport Magic missing: "
                             : "TransmitReport invalid ValueCount: ";
      AppendBytesAsHex(text, bad);
      LogWarningLine(device, ".ReadTransmitReport " + text);
      // After lost data the stream may begin inside a block.
      if (!device.TakeIgnoreNextFormatError()) record.SetError(QM_Err_BadFormat, text);
      return TRead::kBadFormat;
    }
    case TESPReadResult::kNone:
      break;
  }
  std::string message;
  const TQM_Result error = device.CheckDeviceError(message);
  if (error == QM_No_Err) return TRead::kNone;
  if (error == QM_Err_ReceiveBufferOverflow) {
    device.ResetLastFPGA();
    message = kOverflowText;
  } else if (error == QM_DeviceNotConnected) {
    device.ResetLastFPGA();
    FFirstReceiveTicks.reset();
    FReceiveTicksTimestamp.reset();
    FReceiveTicksMeasuremnt.reset();
  }
  record.SetError(error, message);
  record.SetDeviceMs(device.DeviceMs());
  return TRead::kNone;
}

// ---- One call ----------------------------------------------------------------------

TQM_ESPDecoder::TOutcome TQM_ESPDecoder::Decode(TQM_ReportDevice& device, TQM_ReportStruct& record,
                                                bool text) {
  if (device.SavedReportCount() > 0) {
    record = device.GetSavedReport();
    return TOutcome::kRecord;
  }
  if (ReadTransmitReport(device, record) != TRead::kBlock) return TOutcome::kRecord;
  const TOutcome outcome = Dispatch(device, record);
  switch (outcome) {
    case TOutcome::kEmpty:
      record.Clear();
      return TOutcome::kRecord;
    case TOutcome::kDone:
      return TOutcome::kRecord;
    case TOutcome::kPlain:
    case TOutcome::kRecord:
      break;
  }
  const bool recovered = device.Device().ErrorCode() == QM_No_Err_Recovered;
  if (outcome == TOutcome::kPlain) {
    if (text && !recovered) return TOutcome::kPlain;
    PlainRecord(device, record, text);
    if (record.GetReportType() == rt_None) return TOutcome::kRecord;
  }
  record.SetDeviceMs(device.DeviceMs());
  if (recovered) {
    device.SetSavedReport(record);
    RecoveryError(device, record);
  }
  return TOutcome::kRecord;
}

void TQM_ESPDecoder::RecoveryError(TQM_ReportDevice& device, TQM_ReportStruct& record) const {
  std::string message;
  const TQM_Result code = device.CheckDeviceError(message);
  record.SetError(code, message);
  record.SetDeviceMs(device.DeviceMs());
}

TQM_ESPDecoder::TOutcome TQM_ESPDecoder::Dispatch(TQM_ReportDevice& device,
                                                  TQM_ReportStruct& record) {
  if (FBlock.IsMeasurement()) return Measurement(device, record);
  switch (FBlock.Type) {
    case eb::kTimestamp:
      return CheckESP_Timestamp(device) ? TOutcome::kPlain : TOutcome::kEmpty;
    case eb::kMessage:
      if (FBlock.W == 0x7001) {
        return CheckESP_Version(device, record) ? TOutcome::kRecord : TOutcome::kEmpty;
      }
      ApplyMessageEffects(device);
      return TOutcome::kPlain;
    case eb::kStatus:
      if (FBlock.W < eb::kStatusSettingsLimit || FBlock.W == eb::kStatusCleared) {
        device.ResetLastFPGA();
      }
      return TOutcome::kPlain;
    case eb::kStorage:
      FContext.FlashBlockPending = device.Device().OHRReadPending();
      return TOutcome::kPlain;
    case eb::kHeartbeat:
      return CheckESP_Heartbeat(device, record) ? TOutcome::kRecord : TOutcome::kPlain;
    default:
      return TOutcome::kPlain;
  }
}

void TQM_ESPDecoder::PlainRecord(TQM_ReportDevice& device, TQM_ReportStruct& record, bool text) {
  if (FBlock.IsMeasurement()) {
    record.SetDoublesRaw(FBlock.DataHeader(FContext.FlagVersion), FBlock.ValueBytes());
    return;
  }
  if (FBlock.Type == eb::kLTV) {
    record.SetDoublesRaw(0x7900, FBlock.ValueBytes());
    return;
  }
  if (FBlock.Type == eb::kHeartbeat) {
    TQM_Int32 words{};
    for (size_t i = 0; i < FBlock.Count; ++i) {
      words[2 * i] = FBlock.ValueWord(i, 0);
      words[2 * i + 1] = FBlock.ValueWord(i, 1);
    }
    record.SetInt32(0x7EFF, FBlock.Count, words);
    return;
  }
  uint16_t header = 0;
  std::string payload;
  ESPBlockMessage(FBlock, FContext, header, payload);
  const uint16_t storage = text ? 0 : ESPStorageHeader(FBlock, FContext);
  if (storage == 0x7901) {
    TQM_Doubles values{};
    FourByteFrequencies(payload, FHost.CalibFactorFloatToInt(), values);
    record.SetDoubles(0x7901, kMaxChannels, values);
    return;
  }
  if (storage == 0x7902) {
    const std::string checked = FHost.Check7902Report(payload);
    record.Clear();
    // The text begins with "7902; ", which the record has as its header.
    if (!checked.empty()) record.SetMessage(0x7902, std::string_view(checked).substr(6));
    LogDebugLazy(device.Device().LogId(),
                 [&] { return device.DbgTag() + ".ESPGetReportStruct 7902=" + checked; });
    return;
  }
  record.SetMessage(header, payload);
}

// ---- Measurements ------------------------------------------------------------------------

bool TQM_ESPDecoder::CheckESP_ORCMeasurement(TQM_ReportDevice& device, int interval, int& t,
                                             std::string& error) {
  const TQM_BaseDevice& base = device.Device();
  const bool file = base.DevType() == QM_BinFile;
  if (!file && !device.VersionReceived()) {
    Log(device, ".CheckESP_ORCMeasurement no version string -> ignore measurement");
    return false;
  }
  FReceiveTicksMeasuremnt = FClock.MonotonicMs();
  FRefClockErrorSend = false;
  if (FLastMeasMode == 255) FLastMeasMode = FBlock.Type;
  if (FBlock.Type != FLastMeasMode) {
    if (LogActive(base.LogId())) {
      std::string text = ".CheckESP_ORCMeasurement ModeRate changed old=";
      AppendIntHex(text, FLastMeasMode, 2);
      text += " new=";
      AppendIntHex(text, FBlock.Type, 2);
      Log(device, text);
    }
    device.ResetLastFPGA();
    FLastMeasMode = FBlock.Type;
  }
  if (FORCMeasIntervalEnd && FVersion < 114) device.SetDevice100ms(FBlock.F);
  t = FBlock.W;
  if (FBlock.Type == 0x60) t = t == 0 ? kFPGAPeriod - 1 : t - 1;
  if (file && FVersion == -1) {
    if ((t + 1) % interval == 0) {
      FORCMeasIntervalEnd = true;
      FVersion = 114;
    } else if (t % interval != 0) {
      FORCMeasIntervalEnd = false;
      FVersion = 110;
    }
    if (LogActive(base.LogId())) {
      std::string text = ".CheckESP_ORCMeasurement FileData FVersion=";
      AppendIntText(text, FVersion);
      text += FORCMeasIntervalEnd ? " FORCMeasIntervalEnd=True" : " FORCMeasIntervalEnd=False";
      Log(device, text);
    }
  }
  const int last = device.LastFPGA();
  if (last == -1) {
    const int rest = t % interval;
    const bool ok = FORCMeasIntervalEnd ? (t + 1) % interval == 0 : rest == 0;
    if (!ok) {
      error = "FPGA time Error, expected=";
      AppendIntText(error, t - rest);
      error += " found=";
      AppendIntText(error, t);
      if (LogActive(base.LogId())) {
        std::string text = ".CheckESP_ORCMeasurement falscher Startwert: " + error + " ms=";
        AppendIntText(text, interval);
        text += " aInt=";
        AppendIntText(text, rest);
        LogWarningLine(device, text);
      }
    }
  } else {
    const int expected = (last + interval) % kFPGAPeriod;
    if (expected != t) {
      error = "FPGA time Error, expected=";
      AppendIntText(error, expected);
      error += " found=";
      AppendIntText(error, t);
      LogWarningLine(device, ".CheckESP_ORCMeasurement: " + error);
    }
  }
  device.SetLastFPGA(t);
  return true;
}

TQM_ESPDecoder::TOutcome TQM_ESPDecoder::Measurement(TQM_ReportDevice& device,
                                                     TQM_ReportStruct& record) {
  const int interval = FBlock.IntervalMs();
  if (interval <= 0) {
    // Interval indexes 14 and 15 have no interval: no FPGA rule applies.
    if (LogActive(device.Device().LogId())) {
      std::string text = ".CheckESP_ORCMeasurement invalid interval index, type=";
      AppendIntHex(text, FBlock.Type, 2);
      LogWarningLine(device, text);
    }
    return TOutcome::kEmpty;
  }
  int t = 0;
  std::string error;
  if (!CheckESP_ORCMeasurement(device, interval, t, error)) return TOutcome::kEmpty;
  if (device.DeviceMs() >= 0) {
    device.SetDeviceMs(FBlock.W % 100 + 100 * std::max<int64_t>(device.Device100ms(), 0));
  }
  if (!error.empty()) {
    PlainRecord(device, record, false);
    record.SetDeviceMs(device.DeviceMs());
    device.SetSavedReport(record);
    record.SetMessage(kFPGATimeErrorHeader, error);
    return TOutcome::kRecord;
  }
  if (FVersion < 114 && interval <= 100) return ESPGenerateTimestamps(device, t, record);
  return TOutcome::kPlain;
}

TQM_ESPDecoder::TOutcome TQM_ESPDecoder::ESPGenerateTimestamps(TQM_ReportDevice& device, int t,
                                                               TQM_ReportStruct& record) {
  // Before the first time stamp the 100 ms counter starts at 0.
  int64_t tenths = std::max<int64_t>(device.Device100ms(), 0);
  if (!FORCMeasIntervalEnd) {
    int64_t elapsed = t - FOffsetFPGA;
    if (elapsed < 0) elapsed += kFPGAPeriod;
    tenths += elapsed / 100;
    device.SetDevice100ms(tenths);
    FOffsetFPGA = (t / 100) * 100;
  }
  const bool stampAtEnd = FORCMeasIntervalEnd && (t + 1) % 100 == 0;
  const bool stampAtStart = !FORCMeasIntervalEnd && t % 100 == 0;
  if (!stampAtEnd && !stampAtStart) return TOutcome::kPlain;

  TQM_ReportStruct measurement;
  PlainRecord(device, measurement, false);
  measurement.SetDeviceMs(device.DeviceMs());
  TQM_ReportStruct stamp;
  stamp.SetTimestamp(static_cast<uint32_t>(stampAtEnd ? tenths + 1 : tenths));
  stamp.SetDeviceMs(device.DeviceMs());
  LogDebugLazy(device.Device().LogId(), [&] {
    return device.DbgTag() + ".ESPGenerateTimestamps create timestampReport=" + stamp.ToString();
  });
  const bool recovered = device.Device().ErrorCode() == QM_No_Err_Recovered;
  if (recovered) {
    // The stamp goes where the interval convention puts it.
    device.SetSavedReport(stampAtEnd ? measurement : stamp);
    device.SetSavedReport(stampAtEnd ? stamp : measurement);
    RecoveryError(device, record);
    return TOutcome::kDone;
  }
  device.SetSavedReport(stampAtEnd ? stamp : measurement);
  record = stampAtEnd ? measurement : stamp;
  return TOutcome::kRecord;
}

// ---- Time stamps, heartbeat, messages ---------------------------------------------------

bool TQM_ESPDecoder::CheckESP_Timestamp(TQM_ReportDevice& device) {
  const int64_t deviceMs = FBlock.W % 100 + int64_t{100} * FBlock.F;
  device.SetDevice100ms(FBlock.F);
  device.SetDeviceMs(deviceMs);
  FOffsetFPGA = (FBlock.W / 100) * 100;
  if (FBlock.W % 100 != 0) {
    device.ResetLastFPGA();
    LogDebugLazy(device.Device().LogId(), [&] {
      std::string text = device.DbgTag() + ".CheckESP_Timestamp ersten timestamp ignorieren:";
      text += " FPGAtime=";
      AppendIntText(text, FBlock.W);
      text += " 100msCount=";
      AppendIntText(text, FBlock.F);
      text += " FDeviceMs=";
      AppendIntText(text, deviceMs);
      return text;
    });
    return false;
  }
  if (FReceiveTicksTimestamp || FBlock.F != 0) {
    FReceiveTicksTimestamp = FClock.MonotonicMs();
    FRefClockErrorSend = false;
  } else {
    FPowerUpNoReference = true;
  }
  return true;
}

bool TQM_ESPDecoder::CheckESP_Heartbeat(TQM_ReportDevice& device, TQM_ReportStruct& record) {
  if (FRefClockErrorSend || FRefClockError) return false;
  const int64_t now = FClock.MonotonicMs();
  const auto silent = [&](const std::optional<int64_t>& tick) {
    return !tick || now - *tick > kNoDataMs;
  };
  const bool fire = FReceiveTicksTimestamp || FReceiveTicksMeasuremnt
                        ? silent(FReceiveTicksTimestamp) && silent(FReceiveTicksMeasuremnt)
                        : FFirstReceiveTicks && silent(FFirstReceiveTicks);
  if (!fire) return false;
  Log(device, ".CheckESP_Heartbeat: no measurement/timestamp received -> 7FF7");
  PlainRecord(device, record, false);
  record.SetDeviceMs(device.DeviceMs());
  device.SetSavedReport(record);
  record.SetMessage(kNoMeasurementHeader, FPowerUpNoReference ? kNoDataPowerUpText : kNoDataText);
  FRefClockErrorSend = true;
  FFirstReceiveTicks.reset();
  FReceiveTicksTimestamp.reset();
  FReceiveTicksMeasuremnt.reset();
  return true;
}

void TQM_ESPDecoder::ApplyMessageEffects(TQM_ReportDevice& device) {
  switch (FBlock.W) {
    case 0x7FF8:
    case 0x7FF9:
      FRefClockError = FBlock.W == 0x7FF9;
      [[fallthrough]];
    case 0x7F51:
    case 0x7FF2:
      device.ResetLastFPGA();
      break;
    default:
      break;
  }
}

bool TQM_ESPDecoder::CheckESP_Version(TQM_ReportDevice& device, TQM_ReportStruct& record) {
  TQM_BaseDevice& base = device.Device();
  if (device.TakeQueuedVersionCommand()) {
    Log(device, ".CheckESP_Version version received -> delete version cmd");
  }
  const std::string_view payload = FBlock.Payload();
  if (device.VersionReceived()) {
    LogDebugLazy(base.LogId(), [&] {
      return device.DbgTag() +
             ".CheckESP_Version Ignore multiple version string: " + BytesToHex(payload);
    });
    return false;
  }
  if (device.ESPExtractFirmware(TrimControl(payload))) {
    FVersionRequests = 0;
    FVersion = device.Version();
    FORCMeasIntervalEnd = FVersion > 110;
    base.SetFirmwareVersionNumber(FVersion);
    if (LogActive(base.LogId())) {
      std::string text = ".CheckESP_Version FirmwareVersion=";
      AppendIntText(text, device.Major());
      text += '.';
      AppendIntText(text, device.Minor());
      text += " -> ";
      AppendIntText(text, FVersion);
      text += " Date=" + device.FirmwareDate() + " Feature=";
      AppendIntHex(text, base.HardFeature(), 4);
      text += " FPGAVersion=" + device.FPGAVersion() + " SerialNumber=0x";
      AppendIntHex(text, device.VersionSerialNumber(), 8);
      text += " IP=" + device.VersionIP() + " User-ID=";
      AppendIntText(text, device.VersionUser());
      Log(device, text);
    }
  } else {
    LogWarningLine(device, ".CheckESP_Version invalid version string -> send cmd");
    // An answer that never parses must not keep the requests going.
    if (FVersionRequests < kMaxVersionRequests) {
      ++FVersionRequests;
      std::string command(1, '\x01');
      device.SendCommand(command);
    }
  }
  std::string text = "VERSION " + device.HardFeatureString() + " / # ";
  AppendIntHex(text, device.VersionSerialNumber(), 8);
  text += " User ";
  AppendIntText(text, device.VersionUser());
  text += " / " + device.FWVersionString() + " / HW: " + device.FPGAVersion() +
          " / IP: " + device.VersionIP();
  record.SetMessage(0x7001, text);
  return true;
}

// ---- Both interfaces -------------------------------------------------------------------------

void TQM_ESPDecoder::GetReportStruct(TQM_ReportDevice& device, TQM_ReportStruct& record) {
  if (Decode(device, record, false) == TOutcome::kPlain) PlainRecord(device, record, false);
}

TQM_Result TQM_ESPDecoder::GetReport(TQM_ReportDevice& device, std::string& report) {
  TQM_ReportStruct record;
  if (Decode(device, record, true) == TOutcome::kPlain) {
    ESPBlockToBinary(FBlock, FContext, report);
    return QM_No_Err;
  }
  return ESPRecordToBinary(record, report);
}

TQM_Result ESPRecordToBinary(const TQM_ReportStruct& record, std::string& report) {
  report.clear();
  const int header = record.GetHeader();
  switch (record.GetReportType()) {
    case rt_Error:
      report = record.GetErrorText();
      return record.GetErrorCode();
    case rt_Message:
    case rt_Double:
      AppendBE16(report, static_cast<uint16_t>(header));
      report += record.PayloadView();
      break;
    case rt_Int32: {
      AppendBE16(report, static_cast<uint16_t>(header));
      const TQM_Int32 words = record.GetInt32();
      const int count = std::min<int>(record.GetValueCount(), 2 * kMaxChannels);
      for (int i = 0; i < count; ++i) {
        report += ';';
        AppendIntHex(report, words[static_cast<size_t>(i)], 8);
      }
      break;
    }
    default:
      break;
  }
  return QM_No_Err;
}

}  // namespace orb
